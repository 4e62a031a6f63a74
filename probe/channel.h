// The channel to the maker's update driver: six operations, each printing its
// own failure message and answering 0 (accepted) or -1.
#pragma once

#include <cstdint>

#include "platform/platform.h"

#define TOUCHPAD_DEVICE_NAME L"\\\\.\\Palvero_tp_update_tool"

const std::uint32_t IOCTL_TP_OPEN = 0x04001C00;   // CTL_CODE(0x400, 0x700, BUFFERED, ANY)
const std::uint32_t IOCTL_TP_CLOSE = 0x04001C04;  // CTL_CODE(0x400, 0x701, BUFFERED, ANY)

const int READ_BUF_SIZE = 512;
const int SEND_BUF_SIZE = 2048;

// How long IIC_Write and IIC_Read wait for their request to complete before
// they cancel it, and how long they then wait for the cancel to land. A real
// I2C transfer of 30 bytes takes a few milliseconds.
const std::uint32_t REQUEST_TIMEOUT_MS = 250;
const std::uint32_t CANCEL_TIMEOUT_MS = 100;

// Requests of one run: 2 control requests and up to 10 writes and 10 reads,
// with room to spare. A slot whose request may still be pending is never
// handed to another request.
const int MAX_REQUESTS = 24;

extern DeviceHandle device_handle;    // set by OpenTouchpad only, never reset
extern IoRecord overlapped;           // offset 0, no event; copied, never handed to the OS itself
extern std::uint8_t send_buf[SEND_BUF_SIZE];

int OpenTouchpad();
int OpenTransfer();
int IIC_Write(DeviceHandle handle, IoRecord record);
int IIC_Read(DeviceHandle handle, IoRecord record, int length);
int CloseTransfer();
void CloseTouchpad();
