// Stand-in for hosts without Windows: there is no maker's driver here, so the
// device never opens and the run takes its failure tail.
#include <chrono>
#include <thread>

#include "platform/platform.h"

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
