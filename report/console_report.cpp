#include "report/console_report.h"

#include "platform/platform.h"

namespace {

// The line texts are fixed: no centring or padding at run time. The other
// ID line is one character shorter than the Palvero one, as users know it.
const char FRAME_LINE[] =
    "******************************************************************************\n";
const char PALVERO_DETECTED_LINE[] =
    "***************************Detected palvero touchpad!*************************\n";
const char PALVERO_ID_LINE[] =
    "***************************PID:0x%04x  VID:0x%04x*****************************\n";
const char PALVERO_FIRMWARE_LINE[] =
    "***************************Firmware version:%d.%d*****************************\n";
const char OTHER_DETECTED_LINE[] =
    "****************************Detected other touchpad!**************************\n";
const char OTHER_ID_LINE[] =
    "****************************PID:0x%04x  VID:0x%04x***************************\n";
const char NOT_DETECTED_LINE[] =
    "*************************Can't detected touchpad!*****************************\n";
const char VERSION_FAILURE_LINE[] =
    "*************************Get firmware version fail!***************************\n";

}  // namespace

void PrintProbeReport(ProbeResult result, const TouchpadInfo &info) {
    ConsolePrintf(FRAME_LINE);
    ConsolePrintf(FRAME_LINE);
    switch (result) {
    case PalveroTouchpad:
        ConsolePrintf(PALVERO_DETECTED_LINE);
        ConsolePrintf(PALVERO_ID_LINE, static_cast<unsigned>(info.pid),
                      static_cast<unsigned>(info.vid));
        ConsolePrintf(PALVERO_FIRMWARE_LINE, info.fw_major, info.fw_minor);
        break;
    case OtherTouchpad:
        ConsolePrintf(OTHER_DETECTED_LINE);
        ConsolePrintf(OTHER_ID_LINE, static_cast<unsigned>(info.pid),
                      static_cast<unsigned>(info.vid));
        ConsolePrintf(FRAME_LINE);
        break;
    case NoTouchpad:
        ConsolePrintf(NOT_DETECTED_LINE);
        ConsolePrintf(VERSION_FAILURE_LINE);
        ConsolePrintf(FRAME_LINE);
        break;
    }
    ConsolePrintf(FRAME_LINE);
    ConsolePrintf(FRAME_LINE);
}
