// The driver channel against a scripted platform: results, messages, the
// receive dump, the copy into rec_buf and the life of each request's storage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "probe/channel.h"
#include "probe/descriptor.h"
#include "tests/support/console_capture.h"
#include "tests/support/fake_platform.h"

namespace {

std::vector<std::uint8_t> Descriptor() {
    std::vector<std::uint8_t> d(30, 0);
    d[0] = 0x1E;
    d[2] = 0x00;
    d[3] = 0x01;
    d[4] = 0xA5;
    d[20] = 0x5A;
    d[21] = 0x24;
    d[22] = 0x0A;
    d[24] = 0xC3;
    d[25] = 0x05;
    return d;
}

fake::Behaviour Pends(int after_ms, std::vector<std::uint8_t> data = {}) {
    fake::Behaviour b;
    b.completes_after_ms = after_ms;
    b.data = std::move(data);
    return b;
}

fake::Behaviour Answers(IoAnswer answer, std::vector<std::uint8_t> data = {}) {
    fake::Behaviour b;
    b.answer = answer;
    b.data = std::move(data);
    return b;
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        CapturedConsole().clear();
        std::memset(rec_buf, 0, sizeof rec_buf);
        ASSERT_EQ(OpenTouchpad(), 0);
        CapturedConsole().clear();
        fake::calls.clear();
    }
    void TearDown() override {
        EXPECT_TRUE(fake::violations.empty()) << fake::violations.front();
    }
    int Read(int length = HID_DESC_LENGTH) {
        return IIC_Read(device_handle, overlapped, length);
    }
};

std::string Dump(std::vector<int> values) {
    values.resize(10, 0);
    std::string line = "rec_buf[] is :";
    for (int v : values) {
        char text[8];
        std::snprintf(text, sizeof text, "%2x ", v);
        line += text;
    }
    return line + "\n";
}

// Every operation under each of the three answers of the platform.
TEST_F(ChannelTest, AcceptanceRuleAndMessages) {
    struct Case {
        const char *operation;
        IoAnswer answer;
        int result;
        const char *message;  // nullptr: the dump of an accepted read
    } cases[] = {
        {"OpenTransfer", IoAnswer::Pending, 0, ""},
        {"OpenTransfer", IoAnswer::CompletedAtOnce, -1, "Open DeviceIoControl Fail\r\n"},
        {"OpenTransfer", IoAnswer::Failed, -1, "Open DeviceIoControl Fail\r\n"},
        {"CloseTransfer", IoAnswer::Pending, 0, ""},
        {"CloseTransfer", IoAnswer::CompletedAtOnce, -1, "Close DeviceIoControl fail\r\n"},
        {"CloseTransfer", IoAnswer::Failed, -1, "Close DeviceIoControl fail\r\n"},
        {"IIC_Write", IoAnswer::Pending, 0, ""},
        {"IIC_Write", IoAnswer::CompletedAtOnce, -1, "IIC_Write fail!\r\n"},
        {"IIC_Write", IoAnswer::Failed, -1, "IIC_Write fail!\r\n"},
        {"IIC_Read", IoAnswer::Pending, 0, nullptr},
        // Completed at once fails even though the bytes have arrived.
        {"IIC_Read", IoAnswer::CompletedAtOnce, -1, "IIC_Read fail!\r\n"},
        {"IIC_Read", IoAnswer::Failed, -1, "IIC_Read fail!\r\n"},
    };
    for (const Case &c : cases) {
        const std::string op = c.operation;
        const fake::Kind kind = op == "IIC_Write" ? fake::Write
                                : op == "IIC_Read" ? fake::Read
                                                   : fake::Control;
        fake::script[kind].push_back(Answers(c.answer, Descriptor()));
        CapturedConsole().clear();
        std::memset(rec_buf, 0x77, sizeof rec_buf);
        int result = 0;
        if (op == "OpenTransfer")
            result = OpenTransfer();
        else if (op == "CloseTransfer")
            result = CloseTransfer();
        else if (op == "IIC_Write")
            result = IIC_Write(device_handle, overlapped);
        else
            result = Read();
        const std::string where = op + " answer " + std::to_string(int(c.answer));
        EXPECT_EQ(result, c.result) << where;
        if (c.message) {
            EXPECT_EQ(CapturedConsole(), c.message) << where;
        } else {
            EXPECT_EQ(CapturedConsole(), Dump({0x1E, 0, 0, 1, 0xA5})) << where;
        }
        if (kind == fake::Read) {
            EXPECT_EQ(rec_buf[0], c.result == 0 ? 0x1E : 0x77) << where;
        }
    }
}

TEST_F(ChannelTest, RequestsSentOnTheHeldHandle) {
    ASSERT_EQ(OpenTransfer(), 0);
    ASSERT_EQ(IIC_Write(device_handle, overlapped), 0);
    ASSERT_EQ(Read(), 0);
    ASSERT_EQ(IIC_Write(device_handle, overlapped), 0);
    ASSERT_EQ(CloseTransfer(), 0);
    ASSERT_EQ(fake::calls.size(), 5u);
    EXPECT_EQ(fake::calls[0].code, 0x04001C00u);
    EXPECT_EQ(fake::calls[4].code, 0x04001C04u);
    for (int i : {1, 3}) {
        const fake::Call &w = fake::calls[static_cast<std::size_t>(i)];
        EXPECT_EQ(w.kind, fake::Write);
        EXPECT_EQ(w.sent, (std::vector<std::uint8_t>{0x20, 0x00})) << "write " << i;
        EXPECT_EQ(w.buffer, static_cast<const void *>(send_buf)) << "write " << i;
    }
    EXPECT_EQ(fake::calls[2].size, 30u);
    for (const fake::Call &c : fake::calls)
        EXPECT_EQ(c.handle, device_handle);
    EXPECT_EQ(fake::opened_name, L"\\\\.\\Palvero_tp_update_tool");
}

TEST_F(ChannelTest, DumpShowsTenValuesWhateverTheLength) {
    struct Case {
        int length;
        std::vector<std::uint8_t> data;
        std::vector<int> shown;
    } cases[] = {
        {30, Descriptor(), {0x1E, 0, 0, 1, 0xA5}},
        {30, {0xFF, 0x0F, 0x10, 0x01, 0, 0xAB, 0xCD, 0xEF, 0x09, 0x7F, 0xEE},
         {0xFF, 0x0F, 0x10, 0x01, 0, 0xAB, 0xCD, 0xEF, 0x09, 0x7F}},
        {3, {1, 2, 3, 4, 5}, {1, 2, 3}},
        {1, {0x1E}, {0x1E}},
        {30, {}, {}},
    };
    for (const Case &c : cases) {
        fake::script[fake::Read].push_back(Pends(0, c.data));
        CapturedConsole().clear();
        ASSERT_EQ(Read(c.length), 0) << "length " << c.length;
        const std::string line = CapturedConsole();
        EXPECT_EQ(line, Dump(c.shown)) << "length " << c.length;
        EXPECT_EQ(line.size(), 45u) << "length " << c.length;
    }
    // The format itself, spelled out once.
    fake::script[fake::Read].push_back(Pends(0, {0x1E, 0x00, 0xA5}));
    CapturedConsole().clear();
    ASSERT_EQ(Read(), 0);
    EXPECT_EQ(CapturedConsole(), "rec_buf[] is :1e  0 a5  0  0  0  0  0  0  0 \n");
}

TEST_F(ChannelTest, CopiesExactlyLengthBytes) {
    struct Case {
        int length;
        std::size_t delivered;
    } cases[] = {{30, 30}, {30, 5}, {30, 0}, {10, 30}, {512, 512}};
    for (const Case &c : cases) {
        std::vector<std::uint8_t> data(c.delivered);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(i + 1);
        fake::script[fake::Read].push_back(Pends(0, data));
        std::memset(rec_buf, 0xEE, sizeof rec_buf);
        ASSERT_EQ(Read(c.length), 0);
        for (int i = 0; i < REC_BUF_SIZE; ++i) {
            const int expected =
                i >= c.length ? 0xEE : std::size_t(i) < c.delivered ? (i + 1) % 256 : 0;
            ASSERT_EQ(rec_buf[i], expected)
                << "rec_buf[" << i << "] length " << c.length << " delivered " << c.delivered;
        }
    }
}

TEST_F(ChannelTest, ReadBufferIsClearedAtEveryCall) {
    std::vector<std::uint8_t> full(512, 0xAB);
    fake::script[fake::Read].push_back(Pends(0, full));
    fake::script[fake::Read].push_back(Pends(0, {0x1E}));
    ASSERT_EQ(Read(512), 0);
    ASSERT_EQ(Read(), 0);
    ASSERT_EQ(fake::calls.size(), 2u);
    EXPECT_TRUE(fake::calls[0].buffer_zero);
    EXPECT_TRUE(fake::calls[1].buffer_zero) << "the second read got a dirty buffer";
    EXPECT_EQ(rec_buf[0], 0x1E);
    EXPECT_EQ(rec_buf[1], 0) << "a byte of the earlier read survived";
}

TEST_F(ChannelTest, LengthOutsideTheBufferIsRefused) {
    for (int length : {0, -1, 513}) {
        CapturedConsole().clear();
        EXPECT_EQ(Read(length), -1) << length;
        EXPECT_EQ(CapturedConsole(), "IIC_Read fail!\r\n") << length;
    }
    EXPECT_TRUE(fake::calls.empty());
}

// Reads that end late, badly or never: the bytes of a read count only once
// it has completed successfully, and the wait is bounded.
TEST_F(ChannelTest, ReadsThatDoNotCompleteCleanly) {
    fake::Behaviour stuck = Pends(-1, Descriptor());
    fake::Behaviour deaf = stuck;  // ignores the cancel too, delivers later
    deaf.cancellable = false;
    deaf.late_completion_ms = 5000;
    fake::Behaviour fails = Pends(20, Descriptor());
    fails.succeeds = false;
    struct Case {
        const char *name;
        fake::Behaviour behaviour;
        bool descriptor;
        std::uint64_t min_ms, max_ms;
        int cancels;
    } cases[] = {
        {"completes in 100 ms", Pends(100, Descriptor()), true, 100, 110, 0},
        {"completes at the limit", Pends(int(REQUEST_TIMEOUT_MS) - 1, Descriptor()), true, 0,
         REQUEST_TIMEOUT_MS, 0},
        {"completes with an error", fails, false, 20, 30, 0},
        {"stuck, cancel ends it", stuck, false, REQUEST_TIMEOUT_MS,
         REQUEST_TIMEOUT_MS + 5, 1},
        {"stuck, cancel ignored", deaf, false, REQUEST_TIMEOUT_MS + CANCEL_TIMEOUT_MS,
         REQUEST_TIMEOUT_MS + CANCEL_TIMEOUT_MS + 5, 1},
    };
    for (const Case &c : cases) {
        fake::script[fake::Read].push_back(c.behaviour);
        fake::cancels = 0;
        std::memset(rec_buf, 0x55, sizeof rec_buf);
        CapturedConsole().clear();
        const std::uint64_t start = fake::now_ms;
        EXPECT_EQ(Read(), 0) << c.name << ": acceptance alone decides";
        const std::uint64_t took = fake::now_ms - start;
        EXPECT_GE(took, c.min_ms) << c.name;
        EXPECT_LE(took, c.max_ms) << c.name;
        EXPECT_EQ(fake::cancels, c.cancels) << c.name;
        EXPECT_EQ(CheckHidDescriptor(rec_buf), c.descriptor) << c.name;
        if (!c.descriptor) {
            EXPECT_EQ(CapturedConsole(), Dump({})) << c.name;
            for (int i = 0; i < 30; ++i)
                ASSERT_EQ(rec_buf[i], 0) << c.name << " rec_buf[" << i << "]";
        }
        EXPECT_EQ(rec_buf[30], 0x55) << c.name;
    }
}

TEST_F(ChannelTest, StuckWriteIsBoundedAndStillAccepted) {
    fake::Behaviour deaf = Pends(-1);
    deaf.cancellable = false;
    fake::script[fake::Write].push_back(deaf);
    const std::uint64_t start = fake::now_ms;
    EXPECT_EQ(IIC_Write(device_handle, overlapped), 0);
    EXPECT_LE(fake::now_ms - start, REQUEST_TIMEOUT_MS + CANCEL_TIMEOUT_MS + 5);
    EXPECT_EQ(CapturedConsole(), "");
    // The next write may not disturb the stuck one's bytes.
    EXPECT_EQ(IIC_Write(device_handle, overlapped), 0);
    EXPECT_EQ(fake::calls.back().sent, (std::vector<std::uint8_t>{0x20, 0x00}));
}

// A whole run's worth of requests where nothing ever completes: no request
// may be handed storage that a pending one holds (the fake reports it), and
// a late delivery into abandoned storage never reaches rec_buf.
TEST_F(ChannelTest, PendingStorageIsNeverHandedOn) {
    fake::Behaviour deaf = Pends(-1, Descriptor());
    deaf.cancellable = false;
    deaf.late_completion_ms = 100000;
    fake::Behaviour open = Pends(-1);  // IOCTL_TP_OPEN that never completes
    open.cancellable = false;
    fake::script[fake::Control].push_back(open);
    ASSERT_EQ(OpenTransfer(), 0);
    for (int n = 0; n < MAX_RETRY; ++n) {
        fake::script[fake::Write].push_back(deaf);
        fake::script[fake::Read].push_back(deaf);
        ASSERT_EQ(IIC_Write(device_handle, overlapped), 0) << n;
        ASSERT_EQ(IIC_Read(device_handle, overlapped, HID_DESC_LENGTH), 0) << n;
        EXPECT_FALSE(CheckHidDescriptor(rec_buf)) << n;
    }
    ASSERT_EQ(CloseTransfer(), 0);
    // Everything delivers at last; the record must not change.
    fake::now_ms += 200000;
    fake::script[fake::Read].push_back(Pends(0, {0x00, 0x11}));
    ASSERT_EQ(Read(), 0);
    EXPECT_EQ(rec_buf[0], 0x00);
    EXPECT_EQ(rec_buf[1], 0x11);
}

TEST_F(ChannelTest, FailedReadLeavesRecordAsItWas) {
    fake::script[fake::Read].push_back(Pends(0, Descriptor()));
    fake::script[fake::Read].push_back(Answers(IoAnswer::Failed, {0x1F, 1, 2}));
    ASSERT_EQ(Read(), 0);
    std::uint8_t before[REC_BUF_SIZE];
    std::memcpy(before, rec_buf, sizeof before);
    EXPECT_EQ(Read(), -1);
    EXPECT_EQ(std::memcmp(before, rec_buf, sizeof before), 0);
}

TEST_F(ChannelTest, CloseTouchpadCancelsThenClosesOnce) {
    fake::Behaviour stuck = Pends(-1);
    fake::script[fake::Control].push_back(stuck);
    ASSERT_EQ(OpenTransfer(), 0);
    CloseTouchpad();
    ASSERT_EQ(fake::closed.size(), 1u);
    EXPECT_EQ(fake::closed[0], device_handle);
    EXPECT_TRUE(fake::cancel_all_before_close);
    EXPECT_EQ(CapturedConsole(), "");
}

TEST(ChannelOpen, FailedOpenHoldsNothing) {
    fake::Reset();
    CapturedConsole().clear();
    device_handle = nullptr;
    fake::open_ok = false;
    EXPECT_EQ(OpenTouchpad(), -1);
    EXPECT_EQ(CapturedConsole(), "Open touchpad fail\n");
    EXPECT_EQ(device_handle, nullptr);
    CloseTouchpad();
    EXPECT_TRUE(fake::closed.empty());
    EXPECT_EQ(fake::cancel_all_calls, 0);
    EXPECT_TRUE(fake::calls.empty());
}

}  // namespace
