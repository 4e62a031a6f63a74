#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/console_report.h"
#include "tests/support/console_capture.h"

namespace {

std::string Stars(int n) {
    return std::string(static_cast<std::size_t>(n), '*');
}

const std::string FRAME = Stars(78) + "\n";

std::string Report(ProbeResult result, const TouchpadInfo &info) {
    CapturedConsole().clear();
    PrintProbeReport(result, info);
    return CapturedConsole();
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last newline";
    return lines;
}

TEST(PrintProbeReport, PalveroByteExact) {
    TouchpadInfo info = {0x000A, 0x245A, 3, 5, 0xC0};
    EXPECT_EQ(Report(PalveroTouchpad, info),
              FRAME + FRAME + Stars(27) + "Detected palvero touchpad!" + Stars(25) + "\n" +
                  Stars(27) + "PID:0x000a  VID:0x245a" + Stars(29) + "\n" + Stars(27) +
                  "Firmware version:3.5" + Stars(29) + "\n" + FRAME + FRAME);
}

TEST(PrintProbeReport, OtherByteExactWithoutFirmware) {
    TouchpadInfo info = {0x0201, 0x00AB, 3, 5, 0x40};
    EXPECT_EQ(Report(OtherTouchpad, info),
              FRAME + FRAME + Stars(28) + "Detected other touchpad!" + Stars(26) + "\n" +
                  Stars(28) + "PID:0x0201  VID:0x00ab" + Stars(27) + "\n" + FRAME + FRAME +
                  FRAME);
}

TEST(PrintProbeReport, NoTouchpadIgnoresIdentity) {
    const std::string expected = FRAME + FRAME + Stars(25) + "Can't detected touchpad!" +
                                 Stars(29) + "\n" + Stars(25) + "Get firmware version fail!" +
                                 Stars(27) + "\n" + FRAME + FRAME + FRAME;
    TouchpadInfo zero = {};
    TouchpadInfo some = {0xFFFF, 0xFFFF, 31, 255, 0xC0};
    EXPECT_EQ(Report(NoTouchpad, zero), expected);
    EXPECT_EQ(Report(NoTouchpad, some), expected);
}

TEST(PrintProbeReport, WidthsOverTheValueRanges) {
    struct Case {
        ProbeResult result;
        TouchpadInfo info;
        std::size_t id_width, fw_width;  // fw_width 0: no firmware line
        const char *id_text;
    } cases[] = {
        {PalveroTouchpad, {0xFFFF, 0, 0, 0, 0xC0}, 78, 76, "PID:0xffff  VID:0x0000"},
        {PalveroTouchpad, {0, 0xFFFF, 31, 255, 0xC0}, 78, 79, "PID:0x0000  VID:0xffff"},
        {PalveroTouchpad, {10, 0x245A, 3, 5, 0xC0}, 78, 76, "PID:0x000a  VID:0x245a"},
        {PalveroTouchpad, {1, 1, 12, 34, 0xC0}, 78, 78, "PID:0x0001  VID:0x0001"},
        {OtherTouchpad, {0xFFFF, 0, 31, 255, 0xE0}, 77, 0, "PID:0xffff  VID:0x0000"},
        {OtherTouchpad, {0, 0, 0, 0, 0x00}, 77, 0, "PID:0x0000  VID:0x0000"},
    };
    for (const Case &c : cases) {
        const std::vector<std::string> lines = Lines(Report(c.result, c.info));
        ASSERT_EQ(lines.size(), 7u) << c.id_text;
        EXPECT_EQ(lines[3].size(), c.id_width) << c.id_text;
        EXPECT_NE(lines[3].find(c.id_text), std::string::npos) << lines[3];
        if (c.fw_width) {
            EXPECT_EQ(lines[4].size(), c.fw_width) << c.id_text;
            EXPECT_EQ(lines[4].substr(0, 44), Stars(27) + "Firmware version:") << c.id_text;
            EXPECT_EQ(lines[4].substr(lines[4].size() - 29), Stars(29)) << c.id_text;
        } else {
            EXPECT_EQ(lines[4], Stars(78)) << c.id_text;
        }
        for (int i : {0, 1, 5, 6})
            EXPECT_EQ(lines[static_cast<std::size_t>(i)], Stars(78)) << c.id_text << " line " << i;
    }
}

TEST(PrintProbeReport, OtherIdLineIsOneShorterForSameIds) {
    TouchpadInfo info = {0x1234, 0xABCD, 1, 2, 0};
    const std::vector<std::string> palvero = Lines(Report(PalveroTouchpad, info));
    const std::vector<std::string> other = Lines(Report(OtherTouchpad, info));
    ASSERT_EQ(palvero.size(), 7u);
    ASSERT_EQ(other.size(), 7u);
    EXPECT_EQ(palvero[3].size(), other[3].size() + 1);
}

}  // namespace
