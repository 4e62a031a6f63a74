#include <gtest/gtest.h>

#include <cstring>

#include "probe/descriptor.h"

namespace {

// A 30-byte descriptor with the given identity bytes, the rest zero.
void MakeRecord(std::uint8_t *rec, std::uint8_t byte0, std::uint8_t b20, std::uint8_t b21,
                std::uint8_t b22, std::uint8_t b23, std::uint8_t b24, std::uint8_t b25) {
    std::memset(rec, 0, REC_BUF_SIZE);
    rec[0] = byte0;
    rec[20] = b20;
    rec[21] = b21;
    rec[22] = b22;
    rec[23] = b23;
    rec[24] = b24;
    rec[25] = b25;
}

TEST(CheckHidDescriptor, OnlyByteZeroDecides) {
    struct Case {
        std::uint8_t byte0, byte1;
        bool valid;
    } cases[] = {
        {0x1E, 0x00, true}, {0x1E, 0x01, true}, {0x1E, 0xFF, true}, {0x1F, 0x00, false},
        {0x1D, 0x00, false}, {0x00, 0x00, false}, {0x9E, 0x00, false}, {0xFF, 0xFF, false},
        {0x00, 0x1E, false},
    };
    std::uint8_t rec[REC_BUF_SIZE];
    for (const Case &c : cases) {
        std::memset(rec, 0xA5, sizeof rec);  // other bytes play no part
        rec[0] = c.byte0;
        rec[1] = c.byte1;
        EXPECT_EQ(CheckHidDescriptor(rec), c.valid)
            << "byte0=" << int(c.byte0) << " byte1=" << int(c.byte1);
    }
}

TEST(DecodeTouchpadInfo, IdsAreLittleEndianUnsignedWords) {
    struct Case {
        std::uint8_t b20, b21, b22, b23;
        std::int32_t vid, pid;
    } cases[] = {
        {0x5A, 0x24, 0x0A, 0x00, 0x245A, 0x000A},
        {0x00, 0x00, 0x01, 0x02, 0x0000, 0x0201},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFFFF, 0xFFFF},
        {0x80, 0x00, 0x00, 0x80, 0x0080, 0x8000},
        {0xAB, 0x00, 0x34, 0x12, 0x00AB, 0x1234},
    };
    std::uint8_t rec[REC_BUF_SIZE];
    for (const Case &c : cases) {
        MakeRecord(rec, 0x1E, c.b20, c.b21, c.b22, c.b23, 0xC3, 0x05);
        TouchpadInfo info = {};
        DecodeTouchpadInfo(rec, &info);
        EXPECT_EQ(info.vid, c.vid) << "bytes 20,21 = " << int(c.b20) << "," << int(c.b21);
        EXPECT_EQ(info.pid, c.pid) << "bytes 22,23 = " << int(c.b22) << "," << int(c.b23);
    }
}

// Every value of byte 24, against the bit layout worked out independently:
// the top three bits are the tag, the low five the major number.
TEST(DecodeTouchpadInfo, EveryVersionByte) {
    std::uint8_t rec[REC_BUF_SIZE];
    for (int b24 = 0; b24 < 256; ++b24) {
        const std::uint8_t b25 = static_cast<std::uint8_t>(255 - b24);
        MakeRecord(rec, 0x1E, 0x5A, 0x24, 0x0A, 0x00, static_cast<std::uint8_t>(b24), b25);
        TouchpadInfo info = {};
        DecodeTouchpadInfo(rec, &info);
        const int tag = (b24 / 32) * 32;
        EXPECT_EQ(info.vendor_tag, tag) << "byte24=" << b24;
        EXPECT_EQ(info.fw_major, b24 % 32) << "byte24=" << b24;
        EXPECT_EQ(info.fw_minor, b25) << "byte24=" << b24;
        const bool palvero = b24 >= 0xC0 && b24 <= 0xDF;
        EXPECT_EQ(ClassifyTouchpad(info), palvero ? PalveroTouchpad : OtherTouchpad)
            << "byte24=" << b24;
    }
}

TEST(DecodeTouchpadInfo, NamedCases) {
    struct Case {
        std::uint8_t b24, b25;
        int major, minor, tag;
        ProbeResult result;
    } cases[] = {
        {0xC3, 0x05, 3, 5, 0xC0, PalveroTouchpad},  {0x43, 0x05, 3, 5, 0x40, OtherTouchpad},
        {0xDF, 0x00, 31, 0, 0xC0, PalveroTouchpad}, {0xC0, 0xFF, 0, 255, 0xC0, PalveroTouchpad},
        {0xE0, 0x00, 0, 0, 0xE0, OtherTouchpad},    {0x1F, 0x00, 31, 0, 0x00, OtherTouchpad},
        {0xBF, 0x00, 31, 0, 0xA0, OtherTouchpad},   {0x00, 0x00, 0, 0, 0x00, OtherTouchpad},
    };
    std::uint8_t rec[REC_BUF_SIZE];
    for (const Case &c : cases) {
        MakeRecord(rec, 0x1E, 0, 0, 0, 0, c.b24, c.b25);
        TouchpadInfo info = {};
        DecodeTouchpadInfo(rec, &info);
        EXPECT_EQ(info.fw_major, c.major) << "byte24=" << int(c.b24);
        EXPECT_EQ(info.fw_minor, c.minor) << "byte24=" << int(c.b24);
        EXPECT_EQ(info.vendor_tag, c.tag) << "byte24=" << int(c.b24);
        EXPECT_EQ(ClassifyTouchpad(info), c.result) << "byte24=" << int(c.b24);
    }
}

TEST(DecodeTouchpadInfo, ReadsOnlyItsBytes) {
    // Bytes outside 20..25 must not leak into the identity.
    std::uint8_t rec[REC_BUF_SIZE];
    std::memset(rec, 0xFF, sizeof rec);
    rec[20] = rec[21] = rec[22] = rec[23] = rec[24] = rec[25] = 0;
    TouchpadInfo info = {};
    DecodeTouchpadInfo(rec, &info);
    EXPECT_EQ(info.pid, 0);
    EXPECT_EQ(info.vid, 0);
    EXPECT_EQ(info.fw_major, 0);
    EXPECT_EQ(info.fw_minor, 0);
    EXPECT_EQ(info.vendor_tag, 0);
}

TEST(ProcessState, StartsZero) {
    for (int i = 0; i < REC_BUF_SIZE; ++i)
        ASSERT_EQ(rec_buf[i], 0) << "rec_buf[" << i << "]";
    EXPECT_EQ(touchpad_info.pid, 0);
    EXPECT_EQ(touchpad_info.vid, 0);
    EXPECT_EQ(touchpad_info.fw_major, 0);
    EXPECT_EQ(touchpad_info.fw_minor, 0);
    EXPECT_EQ(touchpad_info.vendor_tag, 0);
}

}  // namespace
