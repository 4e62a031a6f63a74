#include "report/result_log.h"

#include <cwchar>

#include "platform/platform.h"

namespace {

const wchar_t LOG_FILE_NAME[] = L"padprobe.txt";

// The file's lines end in CR LF; the console's do not.
const char TIME_STAMP_LINE[] = "[%04d-%02d-%02d %02d:%02d:%02d]\r\n";
const char PALVERO_DETECTED_LINE[] = "Detected palvero touchpad!\r\n";
const char OTHER_DETECTED_LINE[] = "Detected other touchpad!\r\n";
const char ID_LINE[] = "PID:0x%04x  VID:0x%04x\r\n";
const char FIRMWARE_LINE[] = "Firmware version:%d.%d\r\n";
const char NOT_DETECTED_LINE[] = "Can't detected touchpad!\r\n";
const char VERSION_FAILURE_LINE[] = "Get firmware version fail!\r\n";

// The tool may run elevated from a folder others can write to: a link
// planted there would aim our write at a file of their choosing. A
// read-only file is left alone even where the open would not refuse it
// (Wine run as root).
bool MayReplace(const wchar_t *path) {
    FileFacts facts = {};
    if (!PlatformExamineFile(path, &facts))
        return false;
    return !facts.exists || (!facts.reparse && facts.links <= 1 && !facts.read_only);
}

bool WriteRecord(LogFile file, ProbeResult result, const TouchpadInfo &info) {
    if (result == NoTouchpad)
        return PlatformLogPrint(file, NOT_DETECTED_LINE) &&
               PlatformLogPrint(file, VERSION_FAILURE_LINE);

    LocalTime now = {};
    PlatformLocalTime(&now);  // the time of writing, so only after the open
    if (!PlatformLogPrint(file, TIME_STAMP_LINE, now.year, now.month, now.day, now.hour,
                          now.minute, now.second))
        return false;
    const bool palvero = result == PalveroTouchpad;
    if (!PlatformLogPrint(file, palvero ? PALVERO_DETECTED_LINE : OTHER_DETECTED_LINE) ||
        !PlatformLogPrint(file, ID_LINE, static_cast<unsigned>(info.pid),
                          static_cast<unsigned>(info.vid)))
        return false;
    return !palvero || PlatformLogPrint(file, FIRMWARE_LINE, info.fw_major, info.fw_minor);
}

// Static, so that building the path can never run out of memory. The file
// name and extension are not wanted and get no buffers.
wchar_t module_path[PATH_CAPACITY];
wchar_t drive[PATH_CAPACITY];
wchar_t dir[PATH_CAPACITY];
wchar_t log_path[PATH_CAPACITY];

// Appends text at *length; false when it would not fit with its NUL.
bool Append(wchar_t *to, std::size_t capacity, std::size_t *length, const wchar_t *text) {
    const std::size_t more = std::wcslen(text);
    if (more >= capacity - *length)
        return false;
    std::wmemcpy(to + *length, text, more + 1);
    *length += more;
    return true;
}

}  // namespace

const wchar_t *GetLogFilePath() {
    log_path[0] = L'\0';
    const PathParts parts = {drive, PATH_CAPACITY, dir, PATH_CAPACITY, nullptr, 0, nullptr, 0};
    if (!PlatformModulePath(module_path, PATH_CAPACITY) ||
        !PlatformSplitPath(module_path, parts))
        return log_path;
    // Without a folder the name would resolve against the current directory.
    if (dir[0] == L'\0')
        return log_path;
    std::size_t length = 0;
    if (!Append(log_path, PATH_CAPACITY, &length, drive) ||
        !Append(log_path, PATH_CAPACITY, &length, dir) ||
        !Append(log_path, PATH_CAPACITY, &length, LOG_FILE_NAME))
        log_path[0] = L'\0';  // a part of the path would be another file
    return log_path;
}

void WriteResultLog(ProbeResult result, const TouchpadInfo &info) {
    const wchar_t *path = GetLogFilePath();
    if (path[0] == L'\0' || !MayReplace(path))
        return;
    LogFile file = nullptr;
    if (!PlatformLogOpen(path, &file))
        return;  // refused: an existing file stays as it was
    const bool written = WriteRecord(file, result, info);
    const bool closed = PlatformLogClose(file);
    // A reader finds a whole record or no file, never a part of one.
    if (!written || !closed)
        PlatformLogRemove(path);
}
