// The run sequence: one start of padprobe is one probe.
#pragma once

const unsigned OPEN_DELAY_MS = 10;    // after an accepted OpenTransfer
const unsigned CLOSE_DELAY_MS = 100;  // after a good descriptor, before CloseTransfer

// 0 when an attempt read a HID descriptor into rec_buf, -1 after MAX_RETRY.
int GetTouchpadVersion();

// 0 when a descriptor was read, -1 otherwise; becomes the exit status.
int RunProbe();
