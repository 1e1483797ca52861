#include "bus/bus.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace gpaksim {

namespace {

std::int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

void Bus::Start(const Options& options, Reporter report) {
    options_ = options;
    report_ = std::move(report);
    records_.clear();
    if (!options_.virtual_time && options_.epoch_ns <= 0) {
        options_.epoch_ns = MonotonicNs();
    }
    std::string error;
    if (!trace_.Open(options_.trace_path, error)) {
        report_("cannot trace to " + options_.trace_path + ": " + error);
    }
    nodes_ = RunNodes(options_.chips, options_.node_path);
    for (ChipPlacement& chip : options_.chips) {
        chip.bus = chip.bus.empty() ? options_.node_path : chip.bus;
    }
    usable_ = chip_.Attach(options_.state_path, options_.virtual_time, error);
    if (!usable_) {
        report_("state file " + options_.state_path + ": " + error);
    } else if (!options_.chips.empty()) {
        Update([this](SimState& state) { PlaceChips(state, options_.chips); });
    }
}

std::vector<std::size_t> Bus::ChipsOn(const SimState& state, std::size_t node) const {
    const std::size_t run_chips =
        options_.chips.empty() ? state.ChipCount() : options_.chips.size();
    return gpaksim::ChipsOn(state, run_chips, nodes_[node], options_.node_path);
}

std::int64_t Bus::Now(const SimState& state) const {
    return options_.virtual_time ? state.virtual_now_ns : MonotonicNs();
}

bool Bus::Update(const std::function<void(SimState&)>& change) {
    std::string error;
    if (!usable_ || !chip_.Update(change, error)) {
        if (usable_) {
            report_("state file " + options_.state_path + ": " + error);
        }
        return false;
    }
    return true;
}

int Bus::Transfer(const std::vector<BusMessage>& messages, std::size_t node) {
    TransferRecord record;
    record.node = nodes_.at(node);
    record.name_node = nodes_.size() > 1;
    const bool done = Update([&](SimState& state) {
        const std::int64_t now = Now(state);
        record.time_ns = now - (options_.virtual_time ? 0 : options_.epoch_ns);
        record.ack = true;
        const std::vector<std::size_t> chips = ChipsOn(state, node);
        std::vector<bool> took(chips.size());
        for (std::size_t i = 0; i < messages.size() && record.ack; ++i) {
            const BusMessage& msg = messages[i];
            MessageRecord message;
            message.addr = msg.addr;
            message.read = msg.read;
            message.len = msg.len;
            if (!msg.read) {
                message.bytes.assign(msg.buf, msg.buf + msg.len);
            }
            const AdapterRow& adapter = Adapter();
            record.ack = msg.addr >= adapter.first_addr && msg.addr <= adapter.last_addr &&
                         WiredMessage(state, chips, options_.knobs, msg.addr, msg.read,
                                      message.bytes, msg.len, now, took);
            if (record.ack && msg.read && msg.len > 0) {
                std::memcpy(msg.buf, message.bytes.data(), msg.len);
            }
            record.messages.push_back(std::move(message));
        }
        for (std::size_t i = 0; i < chips.size(); ++i) {
            if (took[i]) {
                record.chips.push_back(chips[i] + 1);
            }
        }
        record.name_chips = chips.size() > 1;
        // Traced under the lock, so that the trace keeps the bus's order.
        trace_.Write(FormatTransfer(record));
    });
    if (!done) {
        errno = EIO;
        return -1;
    }
    records_.push_back(record);
    if (!record.ack) {
        switch (options_.nack_error) {
            case NackError::kAdapter:
                errno = Adapter().nack_errno;
                break;
            case NackError::kRemoteIo:
                errno = EREMOTEIO;
                break;
            case NackError::kNoDevice:
                errno = ENXIO;
                break;
        }
        return -1;
    }
    return static_cast<int>(messages.size());
}

unsigned long Bus::Functions() const {
    return options_.functionality < 0 ? Adapter().funcs
                                      : static_cast<unsigned long>(options_.functionality);
}

bool Bus::Bound(std::uint16_t addr) const {
    return std::find(options_.bound.begin(), options_.bound.end(), addr) != options_.bound.end();
}

void Bus::Advance(std::int64_t ns) {
    Update([ns](SimState& state) {
        const std::int64_t room = kClockStopNs - state.virtual_now_ns;
        state.virtual_now_ns += std::clamp<std::int64_t>(ns, 0, std::max<std::int64_t>(room, 0));
    });
}

std::int64_t Bus::ElapsedNs() {
    if (!options_.virtual_time) {
        return MonotonicNs() - options_.epoch_ns;
    }
    Update([](SimState&) {});
    return chip_.Current().virtual_now_ns;
}

void Bus::SetCode(std::uint8_t code) {
    Update([code](SimState& state) { SetControlCode(state.chip, code); });
}

int Bus::Flock(NodeLock& lock, std::size_t node, int operation) const {
    return chip_.LockNode(lock, nodes_.at(node), operation);
}

}  // namespace gpaksim
