#include "report/result_log.h"

#include <new>

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
bool MayReplace(const std::wstring &path) {
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

}  // namespace

std::wstring GetLogFilePath() {
    std::wstring module;
    PathParts parts;
    if (!PlatformModulePath(&module) || !PlatformSplitPath(module, &parts))
        return std::wstring();
    // Without a folder the name would resolve against the current directory.
    if (parts.dir.empty())
        return std::wstring();
    return parts.drive + parts.dir + LOG_FILE_NAME;
}

void WriteResultLog(ProbeResult result, const TouchpadInfo &info) {
    try {
        const std::wstring path = GetLogFilePath();
        if (path.empty() || !MayReplace(path))
            return;
        LogFile file = nullptr;
        if (!PlatformLogOpen(path, &file))
            return;  // refused: an existing file stays as it was
        const bool written = WriteRecord(file, result, info);
        const bool closed = PlatformLogClose(file);
        // A reader finds a whole record or no file, never a part of one.
        if (!written || !closed)
            PlatformLogRemove(path);
    } catch (const std::bad_alloc &) {
        // No memory for the path: no log, and the run goes on.
    }
}
