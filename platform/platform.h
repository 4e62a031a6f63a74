// The one seam between padprobe and the operating system.
// platform_win32.cpp implements it on Windows; platform_posix.cpp is the
// stand-in for other hosts (no touchpad driver there).
#pragma once

#include <cstddef>
#include <cstdint>

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

// Result log services: what the log writer needs to put padprobe.txt beside
// the executable. Paths are wide strings (UTF-16 on Windows).

// Room for the longest path Windows hands out, with its terminating NUL.
const std::size_t PATH_CAPACITY = 32768;

// The running executable's full path, NUL-terminated, in capacity wide
// characters. False when the query fails or the whole path does not fit:
// a cut-short path would name another folder.
bool PlatformModulePath(wchar_t *path, std::size_t capacity);

// The local date and time, as the six numbers of the log's time stamp.
struct LocalTime {
    int year;
    int month;   // 1 to 12
    int day;     // 1 to 31
    int hour;
    int minute;
    int second;
};
void PlatformLocalTime(LocalTime *time);

// A path divided the way _wsplitpath_s divides it, into the caller's
// buffers; a part not wanted has a null buffer and size 0. The directory
// part keeps its trailing separator. False when the split fails or a part
// does not fit its buffer.
struct PathParts {
    wchar_t *drive;
    std::size_t drive_size;
    wchar_t *dir;
    std::size_t dir_size;
    wchar_t *fname;
    std::size_t fname_size;
    wchar_t *ext;
    std::size_t ext_size;
};
bool PlatformSplitPath(const wchar_t *path, const PathParts &parts);

// What is already at a path, looked at without following a link.
struct FileFacts {
    bool exists;
    bool reparse;         // a reparse point (a symbolic link on POSIX)
    std::uint32_t links;  // hard links to it
    bool read_only;
};
// False when the path cannot be examined.
bool PlatformExamineFile(const wchar_t *path, FileFacts *facts);

// The log file: created or truncated, bytes pass unchanged, not shared
// while open. Print and close answer whether the bytes got through.
typedef void *LogFile;
bool PlatformLogOpen(const wchar_t *path, LogFile *file);
bool PlatformLogPrint(LogFile file, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
bool PlatformLogClose(LogFile file);
void PlatformLogRemove(const wchar_t *path);
