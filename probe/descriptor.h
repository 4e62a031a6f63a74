// The touchpad's HID descriptor as read into rec_buf, and the rules that turn
// it into an identity.
#pragma once

#include <cstdint>

const int MAX_RETRY = 10;
const std::uint16_t HID_DESC_REGISTER = 0x0020;
const int HID_DESC_LENGTH = 30;

const int REC_BUF_SIZE = 0x800;
const std::uint8_t VENDOR_TAG_MASK = 0xE0;
const std::uint8_t FW_MAJOR_MASK = 0x1F;
const std::uint8_t VENDOR_TAG = 0xC0;  // bits 110: a Palvero touchpad

// Written only by IIC_Read; bytes 0..29 hold the descriptor.
extern std::uint8_t rec_buf[REC_BUF_SIZE];

struct TouchpadInfo {
    std::int32_t pid;
    std::int32_t vid;
    std::int32_t fw_major;
    std::int32_t fw_minor;
    std::uint8_t vendor_tag;
};

// The run's identity, filled once by DecodeTouchpadInfo.
extern TouchpadInfo touchpad_info;

enum ProbeResult { PalveroTouchpad, OtherTouchpad, NoTouchpad };

// Only byte 0 (the low byte of wHIDDescLength) is examined.
bool CheckHidDescriptor(const std::uint8_t *rec);
void DecodeTouchpadInfo(const std::uint8_t *rec, TouchpadInfo *info);
ProbeResult ClassifyTouchpad(const TouchpadInfo &info);
