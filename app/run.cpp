#include "app/run.h"

#include "platform/platform.h"
#include "probe/channel.h"
#include "probe/descriptor.h"
#include "report/console_report.h"
#include "report/result_log.h"

int GetTouchpadVersion() {
    int n = 0;
    do {
        // Each call gets its own copy of the record. The check runs only
        // right after an accepted read, so stale bytes never decide.
        if (IIC_Write(device_handle, overlapped) == 0 &&
            IIC_Read(device_handle, overlapped, HID_DESC_LENGTH) == 0 &&
            CheckHidDescriptor(rec_buf))
            return 0;
        ConsolePrintf("Retry GetTouchpadVersion %d"
                      ".....................................................\n",
                      n);
        ++n;
    } while (n < MAX_RETRY);
    return -1;
}

int RunProbe() {
    if (OpenTouchpad() == 0 && OpenTransfer() == 0) {
        PlatformSleep(OPEN_DELAY_MS);
        if (GetTouchpadVersion() == 0) {
            PlatformSleep(CLOSE_DELAY_MS);
            CloseTransfer();  // a refusal has printed its message; the descriptor stands
            CloseTouchpad();
            DecodeTouchpadInfo(rec_buf, &touchpad_info);
            const ProbeResult result = ClassifyTouchpad(touchpad_info);
            PrintProbeReport(result, touchpad_info);
            WriteResultLog(result, touchpad_info);
            return 0;
        }
    }
    // One failure tail for every failure: close what was opened, never
    // CloseTransfer here.
    CloseTouchpad();
    PrintProbeReport(NoTouchpad, touchpad_info);
    WriteResultLog(NoTouchpad, touchpad_info);
    return -1;
}
