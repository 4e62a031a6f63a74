// The run sequence against a scripted double of the driver channel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/run.h"
#include "probe/channel.h"
#include "probe/descriptor.h"
#include "report/console_report.h"
#include "report/result_log.h"
#include "tests/support/console_capture.h"

namespace {

struct Attempt {
    bool write_ok;
    bool read_ok;
    std::uint8_t byte0;  // what an accepted read puts into rec_buf[0]
};

struct Script {
    bool open_ok = true;
    bool transfer_ok = true;
    bool close_transfer_ok = true;
    std::uint8_t byte24 = 0xC3;
    std::vector<Attempt> attempts;
};

Script script;
std::size_t next_attempt;
std::vector<std::string> events;
std::vector<std::string> faults;  // contract breaches seen by the double
int log_calls;
std::size_t console_at_log;

DeviceHandle const OPENED = reinterpret_cast<DeviceHandle>(0x1234);

void CheckCallArguments(const char *who, DeviceHandle handle, const IoRecord &record) {
    if (handle != OPENED)
        faults.push_back(std::string(who) + " got another handle");
    if (std::memcmp(&record, &overlapped, sizeof record) != 0)
        faults.push_back(std::string(who) + " got another record");
}

const Attempt &CurrentAttempt() {
    static const Attempt missing = {false, false, 0};
    if (next_attempt >= script.attempts.size()) {
        faults.push_back("more attempts than scripted");
        return missing;
    }
    return script.attempts[next_attempt];
}

}  // namespace

// The double of the channel, with the channel's own failure texts.
DeviceHandle device_handle;
IoRecord overlapped;
std::uint8_t send_buf[SEND_BUF_SIZE];

int OpenTouchpad() {
    events.push_back("OpenTouchpad");
    if (!script.open_ok) {
        ConsolePrintf("Open touchpad fail\n");
        return -1;
    }
    device_handle = OPENED;
    return 0;
}

int OpenTransfer() {
    events.push_back("OpenTransfer");
    if (!script.transfer_ok) {
        ConsolePrintf("Open DeviceIoControl Fail\r\n");
        return -1;
    }
    return 0;
}

int IIC_Write(DeviceHandle handle, IoRecord record) {
    events.push_back("Write");
    CheckCallArguments("IIC_Write", handle, record);
    if (!CurrentAttempt().write_ok) {
        ConsolePrintf("IIC_Write fail!\r\n");
        ++next_attempt;
        return -1;
    }
    return 0;
}

int IIC_Read(DeviceHandle handle, IoRecord record, int length) {
    events.push_back("Read");
    CheckCallArguments("IIC_Read", handle, record);
    if (length != HID_DESC_LENGTH)
        faults.push_back("IIC_Read length " + std::to_string(length));
    const Attempt a = CurrentAttempt();
    ++next_attempt;
    if (!a.read_ok) {
        ConsolePrintf("IIC_Read fail!\r\n");
        return -1;
    }
    std::memset(rec_buf, 0, HID_DESC_LENGTH);
    rec_buf[0] = a.byte0;
    rec_buf[20] = 0x5A;
    rec_buf[21] = 0x24;
    rec_buf[22] = 0x0A;
    rec_buf[24] = script.byte24;
    rec_buf[25] = 0x05;
    ConsolePrintf("<dump %02x>\n", a.byte0);
    return 0;
}

int CloseTransfer() {
    events.push_back("CloseTransfer");
    if (!script.close_transfer_ok) {
        ConsolePrintf("Close DeviceIoControl fail\r\n");
        return -1;
    }
    return 0;
}

void CloseTouchpad() {
    events.push_back(device_handle ? "CloseTouchpad(open)" : "CloseTouchpad(none)");
}

void PlatformSleep(std::uint32_t ms) {
    events.push_back("Sleep " + std::to_string(ms));
}

void WriteResultLog(ProbeResult result, const TouchpadInfo &info) {
    ++log_calls;
    console_at_log = CapturedConsole().size();
    events.push_back("Log " + std::to_string(result));
    if (result != NoTouchpad && (info.vid != 0x245A || info.pid != 0x000A))
        faults.push_back("log got another identity");
}

namespace {

std::string Retry(int n) {
    return "Retry GetTouchpadVersion " + std::to_string(n) +
           std::string(53, '.') + "\n";
}

std::string ReportText(ProbeResult result, const TouchpadInfo &info) {
    const std::string saved = CapturedConsole();
    CapturedConsole().clear();
    PrintProbeReport(result, info);
    std::string text = CapturedConsole();
    CapturedConsole() = saved;
    return text;
}

const Attempt GOOD = {true, true, 0x1E};
const Attempt EMPTY = {true, true, 0x00};
const Attempt SHORT_BY_ONE = {true, true, 0x1D};
const Attempt LONG_BY_ONE = {true, true, 0x1F};
const Attempt WRITE_FAILS = {false, false, 0};
const Attempt READ_FAILS = {true, false, 0};

struct Case {
    const char *name;
    Script script;
    std::uint8_t stale_byte0;  // left in rec_buf before the run
    int status;
    ProbeResult result;
};

std::vector<Attempt> Repeat(const Attempt &a, int n) {
    return std::vector<Attempt>(static_cast<std::size_t>(n), a);
}

std::vector<Attempt> Then(std::vector<Attempt> first, const Attempt &last) {
    first.push_back(last);
    return first;
}

Script WithAttempts(std::vector<Attempt> attempts) {
    Script s;
    s.attempts = std::move(attempts);
    return s;
}

// What the run must print and call, derived from the script by the rules
// of the run rather than by replaying the code.
void Expect(const Script &s, std::vector<std::string> *calls, std::string *console,
            int *status, ProbeResult *result) {
    calls->push_back("OpenTouchpad");
    if (!s.open_ok) {
        *console = "Open touchpad fail\n";
        calls->push_back("CloseTouchpad(none)");
    } else {
        calls->push_back("OpenTransfer");
        if (!s.transfer_ok)
            *console = "Open DeviceIoControl Fail\r\n";
    }
    bool found = false;
    if (s.open_ok && s.transfer_ok) {
        calls->push_back("Sleep 10");
        for (int n = 0; n < MAX_RETRY && !found; ++n) {
            const Attempt &a = s.attempts[static_cast<std::size_t>(n)];
            calls->push_back("Write");
            if (!a.write_ok) {
                *console += "IIC_Write fail!\r\n" + Retry(n);
                continue;
            }
            calls->push_back("Read");
            if (!a.read_ok) {
                *console += "IIC_Read fail!\r\n" + Retry(n);
                continue;
            }
            char dump[16];
            std::snprintf(dump, sizeof dump, "<dump %02x>\n", a.byte0);
            *console += dump;
            if (a.byte0 == 30)
                found = true;
            else
                *console += Retry(n);
        }
    }
    if (found) {
        calls->push_back("Sleep 100");
        calls->push_back("CloseTransfer");
        if (!s.close_transfer_ok)
            *console += "Close DeviceIoControl fail\r\n";
        calls->push_back("CloseTouchpad(open)");
        *result = (s.byte24 & 0xE0) == 0xC0 ? PalveroTouchpad : OtherTouchpad;
        *status = 0;
    } else {
        if (s.open_ok)
            calls->push_back("CloseTouchpad(open)");
        *result = NoTouchpad;
        *status = -1;
    }
    calls->push_back("Log " + std::to_string(*result));
}

class RunProbeTest : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        script = GetParam().script;
        next_attempt = 0;
        events.clear();
        faults.clear();
        log_calls = 0;
        console_at_log = 0;
        device_handle = nullptr;
        std::memset(&overlapped, 0, sizeof overlapped);
        std::memset(rec_buf, 0, sizeof rec_buf);
        rec_buf[0] = GetParam().stale_byte0;
        touchpad_info = TouchpadInfo();
        CapturedConsole().clear();
    }
};

TEST_P(RunProbeTest, ConsoleCallsAndStatus) {
    const Case &c = GetParam();
    std::vector<std::string> calls;
    std::string console;
    int status = 0;
    ProbeResult result = NoTouchpad;
    Expect(c.script, &calls, &console, &status, &result);
    ASSERT_EQ(status, c.status) << "the table and the rules disagree";
    ASSERT_EQ(result, c.result) << "the table and the rules disagree";

    const int got = RunProbe();
    const ProbeResult shown = result;
    const TouchpadInfo expected_info = result == NoTouchpad
                                           ? TouchpadInfo()
                                           : TouchpadInfo{0x000A, 0x245A, c.script.byte24 & 0x1F,
                                                          5, static_cast<std::uint8_t>(
                                                                 c.script.byte24 & 0xE0)};
    EXPECT_EQ(got, c.status);
    EXPECT_EQ(events, calls);
    EXPECT_EQ(CapturedConsole(), console + ReportText(shown, expected_info));
    EXPECT_EQ(log_calls, 1);
    EXPECT_EQ(console_at_log, CapturedConsole().size()) << "the report must be the last output";
    EXPECT_EQ(touchpad_info.pid, expected_info.pid);
    EXPECT_EQ(touchpad_info.vid, expected_info.vid);
    EXPECT_EQ(touchpad_info.fw_major, expected_info.fw_major);
    EXPECT_EQ(touchpad_info.vendor_tag, expected_info.vendor_tag);
    EXPECT_TRUE(faults.empty()) << faults.front();
}

Script OpenFails() {
    Script s;
    s.open_ok = false;
    return s;
}

Script TransferRefused() {
    Script s;
    s.transfer_ok = false;
    return s;
}

Script CloseTransferRefused() {
    Script s = WithAttempts({GOOD});
    s.close_transfer_ok = false;
    return s;
}

Script OtherVendor() {
    Script s = WithAttempts({READ_FAILS, GOOD});
    s.byte24 = 0x43;
    return s;
}

const Case CASES[] = {
    {"FirstAttempt", WithAttempts({GOOD}), 0, 0, PalveroTouchpad},
    {"ThirdAttempt", WithAttempts({EMPTY, LONG_BY_ONE, GOOD}), 0, 0, PalveroTouchpad},
    {"TenthAttempt",
     WithAttempts(Then({WRITE_FAILS, READ_FAILS, EMPTY, SHORT_BY_ONE, LONG_BY_ONE, WRITE_FAILS,
                        READ_FAILS, EMPTY, LONG_BY_ONE},
                       GOOD)),
     0, 0, PalveroTouchpad},
    {"AllAttemptsBadDescriptor", WithAttempts(Repeat(SHORT_BY_ONE, 10)), 0, -1, NoTouchpad},
    {"WriteAlwaysFails", WithAttempts(Repeat(WRITE_FAILS, 10)), 0, -1, NoTouchpad},
    // A descriptor left over in rec_buf must not decide a failed attempt.
    {"ReadAlwaysFailsOverStaleDescriptor", WithAttempts(Repeat(READ_FAILS, 10)), 0x1E, -1,
     NoTouchpad},
    {"OpenFails", OpenFails(), 0, -1, NoTouchpad},
    {"TransferRefused", TransferRefused(), 0, -1, NoTouchpad},
    {"CloseTransferRefused", CloseTransferRefused(), 0, 0, PalveroTouchpad},
    {"OtherVendor", OtherVendor(), 0, 0, OtherTouchpad},
};

INSTANTIATE_TEST_SUITE_P(Outcomes, RunProbeTest, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
