// The two transfer shapes as they reach the bus, and the one-open-one-close
// discipline on every path.
#include "i2c/i2c.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>

#include "cli/runs/bus.h"
#include "i2c/bus_lock.h"
#include "run_command.h"
#include "sim_fixture.h"

namespace {

using gpaktest::BusLines;
using Strings = std::vector<std::string>;

class I2cTest : public gpaktest::SimTest {};

TEST_F(I2cTest, ReadIsOneWriteOfTheRegisterThenARead) {
    std::array<std::uint8_t, 16> buf{};
    ASSERT_EQ(ReadI2C(0x0A, 0x30, buf.data(), 16), 1);

    const auto& transfers = gpaksim::Transfers();
    ASSERT_EQ(transfers.size(), 1u);
    const auto& msgs = transfers[0].messages;
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].addr, 0x0A);
    EXPECT_FALSE(msgs[0].read);
    EXPECT_EQ(msgs[0].len, 1);
    EXPECT_EQ(msgs[0].bytes, std::vector<std::uint8_t>{0x30});
    EXPECT_EQ(msgs[1].addr, 0x0A);
    EXPECT_TRUE(msgs[1].read);
    EXPECT_EQ(msgs[1].len, 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(buf[static_cast<std::size_t>(i)],
                  gpaksim::Chip().nvm[static_cast<std::size_t>(0x30 + i)]);
    }
    EXPECT_EQ(gpaksim::OpenCount(), 1);
    EXPECT_EQ(gpaksim::CloseCount(), 1);
}

TEST_F(I2cTest, WriteIsOneMessageOfRegisterAndData) {
    const std::uint8_t data[] = {0x02};
    const std::uint8_t before = data[0];
    ASSERT_EQ(WriteI2C(0x08, 0xC8, data, 1), 0);
    EXPECT_EQ(BusLines(), Strings{"0x08 W c8 02 ACK"});
    EXPECT_EQ(data[0], before);
    EXPECT_EQ(gpaksim::OpenCount(), 1);
    EXPECT_EQ(gpaksim::CloseCount(), 1);

    std::array<std::uint8_t, 16> page{};
    for (std::size_t i = 0; i < page.size(); ++i) {
        page[i] = static_cast<std::uint8_t>(0xF0 + i);
    }
    const auto copy = page;
    gpaksim::Chip().busy_until_ns = 0;  // the reset above left the chip busy
    ASSERT_EQ(WriteI2C(0x08, 0x40, page.data(), 16), 0);
    const auto& msg = gpaksim::Transfers().back().messages.at(0);
    EXPECT_EQ(msg.len, 17);
    EXPECT_EQ(msg.bytes.front(), 0x40);
    EXPECT_EQ(page, copy);
}

// A failure as both shapes meet it: ReadI2C 0 and WriteI2C -1, the cause
// with its errno for the caller to word, nothing on standard error but
// one open error a transfer, and every node opened also closed.
TEST_F(I2cTest, FailuresReturnTheirCauseAndCloseTheNode) {
    using gpaksim::NackError;
    using i2c::TransferStatus;
    const std::string open_error = "Device open error: No such file or directory\n";
    struct Case {
        bool absent;
        NackError nack_error;
        bool no_node;
        int len;
        TransferStatus status;
        int error_number;
        std::string err;  // of each transfer
        int opens;        // of the four transfers
    };
    const Case cases[] = {
        {true, NackError::kRemoteIo, false, 16, TransferStatus::kFailed, EREMOTEIO, "", 4},
        {true, NackError::kNoDevice, false, 1, TransferStatus::kFailed, ENXIO, "", 4},
        {false, NackError::kRemoteIo, true, 16, TransferStatus::kOpenFailed, ENOENT, open_error, 0},
        {false, NackError::kRemoteIo, false, -1, TransferStatus::kRefused, 0, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error_number);
        options.knobs.absent = c.absent;
        options.nack_error = c.nack_error;
        options.no_node = c.no_node;
        Restart();
        std::array<std::uint8_t, 16> buf{};
        testing::internal::CaptureStderr();
        EXPECT_EQ(ReadI2C(0x0A, 0x00, buf.data(), c.len), 0);
        EXPECT_EQ(WriteI2C(0x0A, 0x00, buf.data(), c.len), -1);
        for (const i2c::TransferResult& result :
             {i2c::RegisterRead(0x0A, 0x00, buf.data(), c.len),
              i2c::RegisterWrite(0x0A, 0x00, buf.data(), c.len)}) {
            EXPECT_EQ(result.status, c.status);
            EXPECT_EQ(result.error_number, c.error_number);
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err + c.err + c.err + c.err);
        EXPECT_EQ(gpaksim::Transfers().size(), static_cast<std::size_t>(c.opens));
        EXPECT_EQ(gpaksim::OpenCount(), c.opens);
        EXPECT_EQ(gpaksim::CloseCount(), c.opens);
    }
}

TEST_F(I2cTest, ReservedAddressesGoOutUnchanged) {
    const std::uint8_t reset = 0x02;
    gpaksim::SetControlCode(gpaksim::Chip(), 0);
    EXPECT_EQ(WriteI2C(0x00, 0xC8, &reset, 1), 0);
    options.knobs.absent = true;
    Restart();
    EXPECT_EQ(WriteI2C(0x7B, 0x00, &reset, 1), -1);
    EXPECT_EQ(BusLines(), Strings{"0x7B W 00 02 NACK"});
}

TEST_F(I2cTest, BadLengthsNeverReachTheBus) {
    std::array<std::uint8_t, 4> buf{};
    EXPECT_EQ(ReadI2C(0x0A, 0x00, buf.data(), -1), 0);
    EXPECT_EQ(ReadI2C(0x0A, 0x00, nullptr, 16), 0);
    EXPECT_EQ(WriteI2C(0x0A, 0x00, buf.data(), -1), -1);
    EXPECT_EQ(WriteI2C(0x0A, 0x00, nullptr, 4), -1);
    EXPECT_EQ(WriteI2C(0x0A, 0x00, buf.data(), 0x10000), -1);
    EXPECT_TRUE(gpaksim::Transfers().empty());
    EXPECT_EQ(gpaksim::OpenCount(), 0);
}

}  // namespace

namespace {

// The run's hold on the bus, in the test's own process, as the front end
// takes it and words what stood in the way.
// The chip in a file of this test's own: without one, the simulator locks
// a stand-in that every process without a state file shares, and a lock
// held here for the whole wait would delay tests running alongside.
class BusLockTest : public gpaktest::SimTest {
protected:
    void SetUp() override {
        options.state_path = dir.Path("chip.state");
        SimTest::SetUp();
    }
    gpaktest::TempDir dir;
};

TEST_F(BusLockTest, ANodeThatIsNoAdapterIsSaidSo) {
    testing::internal::CaptureStderr();
    const i2c::BusLock lock = cli::runs::TakeBus("/dev/null", std::chrono::seconds(1));
    // (qemu-user answers the request itself, with ENOSYS.)
    EXPECT_EQ(testing::internal::GetCapturedStderr().find(
                  "gpakcfg: /dev/null is not an I2C adapter (I2C_FUNCS: "),
              0u);
    EXPECT_EQ(lock.Status(), i2c::BusStatus::kNotI2c);
    EXPECT_NE(lock.ErrorNumber(), 0);
}

TEST_F(BusLockTest, ASecondHolderWaitsThenGivesUp) {
    const i2c::BusLock first = i2c::BusLock::Acquire("/dev/i2c-1", std::chrono::seconds(1));
    ASSERT_TRUE(first.Ready());
    testing::internal::CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    const i2c::BusLock second = cli::runs::TakeBus("/dev/i2c-1", std::chrono::milliseconds(300));
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "gpakcfg: /dev/i2c-1 is in use by another gpakcfg run; waiting up to 1 s\n"
              "gpakcfg: /dev/i2c-1 is still in use; nothing was sent to the chip\n");
    EXPECT_EQ(second.Status(), i2c::BusStatus::kBusy);
    EXPECT_GE(waited.count(), 0.3);
    EXPECT_TRUE(gpaksim::Transfers().empty());
}

}  // namespace
