// The log writer's own rules, over a scripted double of the log services:
// the record bytes, the path beside the executable, the order of calls, and
// what each refusal and failure leaves behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/result_log.h"
#include "tests/support/fake_log_platform.h"

namespace {

using namespace fakelog;

std::string Narrow(const std::wstring &wide) {
    std::string narrow;
    for (const wchar_t c : wide)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

void WriteLog(ProbeResult result, const TouchpadInfo &info) {
    WriteResultLog(result, info);
    EXPECT_EQ(violations, std::vector<std::string>());
}

std::vector<std::string> Printed() {
    std::vector<std::string> lines;
    for (const Call &c : calls)
        if (c.step == Print)
            lines.push_back(c.text);
    return lines;
}

const TouchpadInfo PALVERO_3_5 = {0x000A, 0x245A, 3, 5, 0xC0};

TEST(WriteResultLog, RecordsByteExact) {
    struct Case {
        const char *name;
        ProbeResult result;
        TouchpadInfo info;
        LocalTime time;
        std::vector<std::string> lines;  // one print each, in order
        std::size_t size;
    };
    const Case cases[] = {
        {"palvero 3.5", PalveroTouchpad, PALVERO_3_5, {2024, 3, 5, 9, 7, 2},
         {"[2024-03-05 09:07:02]\r\n", "Detected palvero touchpad!\r\n",
          "PID:0x000a  VID:0x245a\r\n", "Firmware version:3.5\r\n"},
         97},
        {"palvero 0.0, short IDs, early year", PalveroTouchpad, {0x0F00, 0x00AB, 0, 0, 0xC0},
         {999, 1, 1, 0, 0, 0},
         {"[0999-01-01 00:00:00]\r\n", "Detected palvero touchpad!\r\n",
          "PID:0x0f00  VID:0x00ab\r\n", "Firmware version:0.0\r\n"},
         97},
        {"palvero 31.255, widest IDs", PalveroTouchpad, {0xFFFF, 0xABCD, 31, 255, 0xC0},
         {2099, 12, 31, 23, 59, 59},
         {"[2099-12-31 23:59:59]\r\n", "Detected palvero touchpad!\r\n",
          "PID:0xffff  VID:0xabcd\r\n", "Firmware version:31.255\r\n"},
         100},
        {"other, no firmware line", OtherTouchpad, {0x0201, 0x06CB, 3, 5, 0x40},
         {2024, 10, 15, 17, 30, 45},
         {"[2024-10-15 17:30:45]\r\n", "Detected other touchpad!\r\n",
          "PID:0x0201  VID:0x06cb\r\n"},
         73},
        {"no touchpad, identity ignored", NoTouchpad, {0xFFFF, 0xFFFF, 31, 255, 0xC0},
         {2024, 3, 5, 9, 7, 2},
         {"Can't detected touchpad!\r\n", "Get firmware version fail!\r\n"},
         54},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset("an earlier record that is longer than any new one, so a tail would show\r\n");
        script.time = c.time;
        WriteLog(c.result, c.info);

        EXPECT_EQ(Printed(), c.lines);
        std::string joined;
        for (const std::string &line : c.lines)
            joined += line;
        EXPECT_EQ(file, joined);
        EXPECT_EQ(file.size(), c.size);
        EXPECT_TRUE(file_exists);

        // The clock is read after the open, and only for a record that
        // carries a time stamp.
        std::vector<Step> steps = {ModulePath, Split, Examine, Open};
        if (c.result != NoTouchpad)
            steps.push_back(Time);
        steps.insert(steps.end(), c.lines.size(), Print);
        steps.push_back(Close);
        EXPECT_EQ(Steps(), steps);
    }
}

TEST(GetLogFilePath, BesideTheExecutableOrNowhere) {
    struct Case {
        const wchar_t *module;
        const wchar_t *log;  // empty: no log
    };
    const std::wstring deep = L"C:\\" + std::wstring(300, L'x') + L"\\" + std::wstring(200, L'y');
    const std::wstring deep_module = deep + L"\\probe.exe";
    const std::wstring deep_log = deep + L"\\padprobe.txt";
    // At the edge of the longest path: the log path just fits, or its
    // folder is one character too long for it.
    const std::wstring edge = L"C:\\" + std::wstring(PATH_CAPACITY - 17, L'e') + L"\\";
    const std::wstring edge_module = edge + L"abcdefgh.exe";
    const std::wstring edge_log = edge + L"padprobe.txt";
    const std::wstring over_module =
        L"C:\\" + std::wstring(PATH_CAPACITY - 16, L'e') + L"\\a.exe";
    const Case cases[] = {
        {L"C:\\Tools\\probe.exe", L"C:\\Tools\\padprobe.txt"},
        {L"C:\\My.Tools\\probe.exe", L"C:\\My.Tools\\padprobe.txt"},
        {L"D:\\tools\\padprobe.exe", L"D:\\tools\\padprobe.txt"},
        {L"C:\\Tools\\renamed", L"C:\\Tools\\padprobe.txt"},
        {L"\\\\server\\share\\tools\\probe.exe", L"\\\\server\\share\\tools\\padprobe.txt"},
        {L"C:/Tools/sub.dir/probe.exe", L"C:/Tools/sub.dir/padprobe.txt"},
        {L"C:\\Tools/mixed\\probe.exe", L"C:\\Tools/mixed\\padprobe.txt"},
        {L"/opt/padprobe/bin/padprobe", L"/opt/padprobe/bin/padprobe.txt"},
        {deep_module.c_str(), deep_log.c_str()},
        {edge_module.c_str(), edge_log.c_str()},
        {over_module.c_str(), L""},
        // No folder: the name alone would land in the current directory.
        {L"probe.exe", L""},
        {L"C:probe.exe", L""},
        {L"", L""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(Narrow(c.module).substr(0, 80));
        Reset();
        script.module = c.module;
        EXPECT_EQ(std::wstring(GetLogFilePath()), c.log);

        Reset();
        script.module = c.module;
        WriteLog(NoTouchpad, TouchpadInfo());
        if (*c.log) {
            ASSERT_GE(calls.size(), 4u);
            EXPECT_EQ(calls[2].path, c.log);  // examined
            EXPECT_EQ(calls[3].path, c.log);  // opened
            EXPECT_EQ(file.size(), 54u);
        } else {
            EXPECT_EQ(Steps(), (std::vector<Step>{ModulePath, Split}));
            EXPECT_FALSE(file_exists);
        }
    }
}

TEST(WriteResultLog, NoPathNoLog) {
    struct Case {
        const char *name;
        bool module_ok;
        std::wstring module;  // empty: the script's own
        bool split_ok;
        std::vector<Step> steps;
    };
    const std::wstring too_long = L"C:\\" + std::wstring(PATH_CAPACITY - 8, L'x') + L"\\a.exe";
    const Case cases[] = {
        {"module path query fails", false, L"", true, {ModulePath}},
        {"module path longer than the longest path", true, too_long, true, {ModulePath}},
        {"split fails", true, L"", false, {ModulePath, Split}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset("old\r\n");
        script.module_ok = c.module_ok;
        if (!c.module.empty())
            script.module = c.module;
        script.split_ok = c.split_ok;
        EXPECT_EQ(std::wstring(GetLogFilePath()), L"");
        calls.clear();
        WriteLog(PalveroTouchpad, PALVERO_3_5);
        EXPECT_EQ(Steps(), c.steps);
        EXPECT_EQ(file, "old\r\n");
    }
}

TEST(WriteResultLog, RefusedFileStaysAsItWas) {
    struct Case {
        const char *name;
        bool examine_ok;
        FileFacts facts;
        bool open_ok;
        bool written;
    };
    const Case cases[] = {
        {"nothing there yet", true, {false, false, 0, false}, true, true},
        {"plain file with one name", true, {true, false, 1, false}, true, true},
        {"reparse point", true, {true, true, 1, false}, true, false},
        {"second hard link", true, {true, false, 2, false}, true, false},
        {"many hard links", true, {true, false, 7, false}, true, false},
        {"read-only", true, {true, false, 1, true}, true, false},
        {"cannot be examined", false, {false, false, 0, false}, true, false},
        {"open refused", true, {true, false, 1, false}, false, false},
    };
    const std::string old_text = "[2020-01-01 00:00:00]\r\nan earlier record\r\n";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset(old_text);
        script.examine_ok = c.examine_ok;
        script.facts = c.facts;
        script.open_ok = c.open_ok;
        WriteLog(PalveroTouchpad, PALVERO_3_5);
        if (c.written) {
            EXPECT_EQ(file.size(), 97u);
            continue;
        }
        EXPECT_EQ(file, old_text);
        EXPECT_TRUE(file_exists);
        std::vector<Step> steps = {ModulePath, Split, Examine};
        if (c.examine_ok && c.facts.links <= 1 && !c.facts.reparse && !c.facts.read_only)
            steps.push_back(Open);
        EXPECT_EQ(Steps(), steps) << "nothing written, clock not read, nothing removed";
    }
}

TEST(WriteResultLog, FailedWriteLeavesNoFile) {
    struct Case {
        const char *name;
        ProbeResult result;
        int failing_print;
        bool close_ok;
        std::size_t prints;  // up to and including the failing one
    };
    const Case cases[] = {
        {"palvero, time stamp", PalveroTouchpad, 1, true, 1},
        {"palvero, detection line", PalveroTouchpad, 2, true, 2},
        {"palvero, identity line", PalveroTouchpad, 3, true, 3},
        {"palvero, firmware line", PalveroTouchpad, 4, true, 4},
        {"palvero, close", PalveroTouchpad, 0, false, 4},
        {"other, identity line", OtherTouchpad, 3, true, 3},
        {"other, close", OtherTouchpad, 0, false, 3},
        {"no touchpad, first line", NoTouchpad, 1, true, 1},
        {"no touchpad, second line", NoTouchpad, 2, true, 2},
        {"no touchpad, close", NoTouchpad, 0, false, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Reset("old\r\n");
        script.failing_print = c.failing_print;
        script.close_ok = c.close_ok;
        WriteLog(c.result, PALVERO_3_5);
        EXPECT_FALSE(file_exists);
        EXPECT_EQ(Printed().size(), c.prints) << "kept writing after a failure";
        const std::vector<Step> steps = Steps();
        ASSERT_GE(steps.size(), 2u);
        EXPECT_EQ(steps[steps.size() - 2], Close);
        EXPECT_EQ(steps.back(), Remove);
        EXPECT_EQ(calls.back().path, L"C:\\Tools\\padprobe.txt");
    }
}

}  // namespace
