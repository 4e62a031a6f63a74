// Stand-in for hosts without Windows: there is no maker's driver here, so the
// device never opens and the run takes its failure tail. The result log
// lands beside the executable with the same bytes as on Windows.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/split_path.h"

namespace {

// Paths travel as wide strings with one byte per character, so any file
// name comes back unchanged; the path rule looks at ASCII only.
std::string Narrow(const wchar_t *wide) {
    std::string narrow;
    for (; *wide; ++wide)
        narrow.push_back(static_cast<char>(*wide));
    return narrow;
}

}  // namespace

bool PlatformOpenDevice(const wchar_t *, DeviceHandle *) {
    return false;
}

IoAnswer PlatformDeviceControl(DeviceHandle, std::uint32_t, std::uint32_t *, IoRecord *) {
    return IoAnswer::Failed;
}

IoAnswer PlatformWrite(DeviceHandle, const void *, std::uint32_t, std::uint32_t *, IoRecord *) {
    return IoAnswer::Failed;
}

IoAnswer PlatformRead(DeviceHandle, void *, std::uint32_t, std::uint32_t *, IoRecord *) {
    return IoAnswer::Failed;
}

IoState PlatformPollRequest(DeviceHandle, IoRecord *, std::uint32_t *bytes) {
    *bytes = 0;
    return IoState::Failed;
}

void PlatformCancelRequest(DeviceHandle, IoRecord *) {}

void PlatformCancelAll(DeviceHandle) {}

void PlatformCloseDevice(DeviceHandle) {}

void PlatformSleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::uint64_t PlatformTickMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool PlatformModulePath(wchar_t *path, std::size_t capacity) {
    std::vector<char> buffer(capacity);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), capacity);
    if (length <= 0 || static_cast<std::size_t>(length) >= capacity)
        return false;
    for (ssize_t i = 0; i < length; ++i)
        path[i] = static_cast<wchar_t>(static_cast<unsigned char>(buffer[static_cast<std::size_t>(i)]));
    path[length] = L'\0';
    return true;
}

void PlatformLocalTime(LocalTime *time) {
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    time->year = local.tm_year + 1900;
    time->month = local.tm_mon + 1;
    time->day = local.tm_mday;
    time->hour = local.tm_hour;
    time->minute = local.tm_min;
    time->second = local.tm_sec;
}

bool PlatformSplitPath(const wchar_t *path, const PathParts &parts) {
    return SplitPathPortable(path, parts);
}

bool PlatformExamineFile(const wchar_t *path, FileFacts *facts) {
    *facts = FileFacts();
    struct stat st;
    if (lstat(Narrow(path).c_str(), &st) != 0)
        return errno == ENOENT;
    facts->exists = true;
    facts->reparse = S_ISLNK(st.st_mode);
    facts->links = static_cast<std::uint32_t>(st.st_nlink);
    // What Windows calls read-only, as Wine maps it.
    facts->read_only = (st.st_mode & S_IWUSR) == 0;
    return true;
}

bool PlatformLogOpen(const wchar_t *path, LogFile *file) {
    std::FILE *stream = std::fopen(Narrow(path).c_str(), "wb+");
    if (!stream)
        return false;
    *file = stream;
    return true;
}

bool PlatformLogPrint(LogFile file, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::FILE *stream = static_cast<std::FILE *>(file);
    const int written = std::vfprintf(stream, format, args);
    va_end(args);
    return written >= 0 && !std::ferror(stream);
}

bool PlatformLogClose(LogFile file) {
    return std::fclose(static_cast<std::FILE *>(file)) == 0;
}

void PlatformLogRemove(const wchar_t *path) {
    std::remove(Narrow(path).c_str());
}
