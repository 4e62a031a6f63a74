// Win32 backend of the platform seam.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

static_assert(sizeof(OVERLAPPED) <= sizeof(IoRecord), "IoRecord must hold an OVERLAPPED");
static_assert(alignof(OVERLAPPED) <= alignof(IoRecord), "IoRecord must align an OVERLAPPED");

namespace {

OVERLAPPED *AsOverlapped(IoRecord *record) {
    return reinterpret_cast<OVERLAPPED *>(record->bytes);
}

// STATUS_PENDING: the kernel has not yet finished the request.
const ULONG_PTR REQUEST_STILL_PENDING = 0x103;

IoAnswer Classify(BOOL done) {
    if (done)
        return IoAnswer::CompletedAtOnce;
    // Read the last error immediately, before anything else can change it.
    return GetLastError() == ERROR_IO_PENDING ? IoAnswer::Pending : IoAnswer::Failed;
}

}  // namespace

bool PlatformOpenDevice(const wchar_t *name, DeviceHandle *handle) {
    HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    *handle = h;
    return true;
}

IoAnswer PlatformDeviceControl(DeviceHandle handle, std::uint32_t code,
                               std::uint32_t *bytes_returned, IoRecord *record) {
    DWORD *count = reinterpret_cast<DWORD *>(bytes_returned);
    return Classify(
        DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, count, AsOverlapped(record)));
}

IoAnswer PlatformWrite(DeviceHandle handle, const void *data, std::uint32_t size,
                       std::uint32_t *bytes_written, IoRecord *record) {
    DWORD *count = reinterpret_cast<DWORD *>(bytes_written);
    return Classify(WriteFile(handle, data, size, count, AsOverlapped(record)));
}

IoAnswer PlatformRead(DeviceHandle handle, void *data, std::uint32_t size,
                      std::uint32_t *bytes_read, IoRecord *record) {
    DWORD *count = reinterpret_cast<DWORD *>(bytes_read);
    return Classify(ReadFile(handle, data, size, count, AsOverlapped(record)));
}

IoState PlatformPollRequest(DeviceHandle handle, IoRecord *record, std::uint32_t *bytes) {
    OVERLAPPED *ov = AsOverlapped(record);
    // Judged from the request's own record: with no event in the record,
    // waiting would wait on the file handle, which any other request on it
    // signals as well.
    const volatile ULONG_PTR *status = &ov->Internal;
    if (*status == REQUEST_STILL_PENDING)
        return IoState::Pending;
    DWORD count = 0;
    const BOOL ok = GetOverlappedResult(handle, ov, &count, FALSE);
    *bytes = count;
    return ok ? IoState::Succeeded : IoState::Failed;
}

void PlatformCancelRequest(DeviceHandle handle, IoRecord *record) {
    CancelIoEx(handle, AsOverlapped(record));
}

void PlatformCancelAll(DeviceHandle handle) {
    CancelIoEx(handle, nullptr);
}

void PlatformCloseDevice(DeviceHandle handle) {
    CloseHandle(handle);
}

void PlatformSleep(std::uint32_t ms) {
    Sleep(ms);
}

std::uint64_t PlatformTickMs() {
    return GetTickCount64();
}

bool PlatformModulePath(wchar_t *path, std::size_t capacity) {
    const DWORD size = capacity < PATH_CAPACITY ? static_cast<DWORD>(capacity) : PATH_CAPACITY;
    const DWORD length = GetModuleFileNameW(nullptr, path, size);
    // A path that fills the buffer has been cut short (and on older
    // Windows is left without its NUL).
    return length != 0 && length < size;
}

void PlatformLocalTime(LocalTime *time) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    time->year = now.wYear;
    time->month = now.wMonth;
    time->day = now.wDay;
    time->hour = now.wHour;
    time->minute = now.wMinute;
    time->second = now.wSecond;
}

bool PlatformSplitPath(const wchar_t *path, const PathParts &parts) {
    return _wsplitpath_s(path, parts.drive, parts.drive_size, parts.dir, parts.dir_size,
                         parts.fname, parts.fname_size, parts.ext, parts.ext_size) == 0;
}

bool PlatformExamineFile(const wchar_t *path, FileFacts *facts) {
    *facts = FileFacts();
    // Attributes only: this open neither truncates, nor collides with a
    // holder's sharing, and it stops at a reparse point instead of
    // following it.
    HANDLE h = CreateFileW(path, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok)
        return false;
    facts->exists = true;
    facts->reparse = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts->links = info.nNumberOfLinks;
    facts->read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return true;
}

bool PlatformLogOpen(const wchar_t *path, LogFile *file) {
    FILE *stream = nullptr;
    if (_wfopen_s(&stream, path, L"wb+") != 0 || !stream)
        return false;
    *file = stream;
    return true;
}

bool PlatformLogPrint(LogFile file, const char *format, ...) {
    va_list args;
    va_start(args, format);
    FILE *stream = static_cast<FILE *>(file);
    const int written = std::vfprintf(stream, format, args);
    va_end(args);
    // msvcrt counts what it formatted even when the write beneath failed.
    return written >= 0 && !std::ferror(stream);
}

bool PlatformLogClose(LogFile file) {
    return std::fclose(static_cast<FILE *>(file)) == 0;
}

void PlatformLogRemove(const wchar_t *path) {
    _wremove(path);
}
