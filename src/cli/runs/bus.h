// The run's hold on the bus, and the words for a bus that cannot be had
// (with a hint for the common causes). Every line goes to standard error.
#pragma once

#include <chrono>
#include <string>

#include "i2c/bus_lock.h"

namespace cli::runs {

// How long a run waits for another one to finish with the bus.
constexpr std::chrono::seconds kBusWaitLimit{10};

// The run's hold on node: says once that it waits for another run, and
// what stood in the way when the bus cannot be had.
i2c::BusLock TakeBus(const std::string& node, std::chrono::milliseconds wait_limit = kBusWaitLimit);

}  // namespace cli::runs
