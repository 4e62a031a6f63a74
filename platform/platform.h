// The one seam between padprobe and the operating system.
// platform_win32.cpp implements it on Windows; platform_posix.cpp is the
// stand-in for other hosts (no touchpad driver there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Device handle as the OS hands it out; pointer-sized, null means none.
typedef void *DeviceHandle;

// Storage for one overlapped record (an OVERLAPPED on Windows). Kept opaque so
// that nothing outside platform/ needs <windows.h>; copying it is copying the
// record. The Win32 backend checks that OVERLAPPED fits.
struct IoRecord {
    alignas(8) unsigned char bytes[32];
};

// How the OS answered a device request at the moment it was made.
enum class IoAnswer {
    CompletedAtOnce,  // call returned TRUE
    Pending,          // FALSE with ERROR_IO_PENDING
    Failed            // FALSE with any other error
};

// Where an accepted request stands later on.
enum class IoState {
    Pending,    // still in flight: its storage must not be touched
    Succeeded,  // completed with success
    Failed      // completed with an error, or cancelled
};

// Device requests. The record, count word and buffer handed to a request
// belong to it until PlatformPollRequest reports it finished.
bool PlatformOpenDevice(const wchar_t *name, DeviceHandle *handle);
IoAnswer PlatformDeviceControl(DeviceHandle handle, std::uint32_t code,
                               std::uint32_t *bytes_returned, IoRecord *record);
IoAnswer PlatformWrite(DeviceHandle handle, const void *data, std::uint32_t size,
                       std::uint32_t *bytes_written, IoRecord *record);
IoAnswer PlatformRead(DeviceHandle handle, void *data, std::uint32_t size,
                      std::uint32_t *bytes_read, IoRecord *record);
// Judges completion from the record alone and never waits. On Succeeded,
// *bytes is the count the request transferred.
IoState PlatformPollRequest(DeviceHandle handle, IoRecord *record, std::uint32_t *bytes);
void PlatformCancelRequest(DeviceHandle handle, IoRecord *record);
void PlatformCancelAll(DeviceHandle handle);
void PlatformCloseDevice(DeviceHandle handle);

// Time.
void PlatformSleep(std::uint32_t ms);
std::uint64_t PlatformTickMs();  // monotonic milliseconds

// Console: the C runtime's standard output, in its default mode.
void ConsolePrintf(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
