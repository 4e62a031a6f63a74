#include "probe/descriptor.h"

std::uint8_t rec_buf[REC_BUF_SIZE];
TouchpadInfo touchpad_info;

bool CheckHidDescriptor(const std::uint8_t *rec) {
    return rec[0] == HID_DESC_LENGTH;
}

void DecodeTouchpadInfo(const std::uint8_t *rec, TouchpadInfo *info) {
    // Little-endian words; bytes are unsigned, so no field goes negative.
    const std::uint8_t version_low = rec[24];
    info->fw_major = version_low & FW_MAJOR_MASK;
    info->fw_minor = rec[25];
    info->pid = (rec[23] << 8) | rec[22];
    info->vid = (rec[21] << 8) | rec[20];
    info->vendor_tag = static_cast<std::uint8_t>(version_low & VENDOR_TAG_MASK);
}

ProbeResult ClassifyTouchpad(const TouchpadInfo &info) {
    return info.vendor_tag == VENDOR_TAG ? PalveroTouchpad : OtherTouchpad;
}
