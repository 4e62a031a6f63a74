// Win32 backend of the platform seam.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

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
