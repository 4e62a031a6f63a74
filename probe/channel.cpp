#include "probe/channel.h"

#include <cstring>

#include "probe/descriptor.h"

DeviceHandle device_handle;
IoRecord overlapped;
std::uint8_t send_buf[SEND_BUF_SIZE];

namespace {

enum RequestKind { ControlRequest, WriteRequest, ReadRequest };

// Storage of one request: it stays untouched while the request may be
// pending, even after its caller has given up on it.
struct Request {
    DeviceHandle handle;
    IoRecord record;
    std::uint32_t count;
    std::uint8_t read_buf[READ_BUF_SIZE];
    RequestKind kind;
    bool busy;
};

Request requests[MAX_REQUESTS];

const std::uint64_t SPIN_MS = 2;
const int MAX_SPINS = 20000;

// Frees the slots whose requests have finished since we last looked.
void ReapFinished() {
    for (Request &r : requests) {
        std::uint32_t bytes = 0;
        if (r.busy && PlatformPollRequest(r.handle, &r.record, &bytes) != IoState::Pending)
            r.busy = false;
    }
}

Request *TakeSlot(DeviceHandle handle, RequestKind kind, const IoRecord &record) {
    ReapFinished();
    for (Request &r : requests) {
        if (!r.busy) {
            r.handle = handle;
            r.record = record;
            r.count = 0;
            r.kind = kind;
            r.busy = true;
            return &r;
        }
    }
    return nullptr;
}

bool WriteMayBePending() {
    ReapFinished();
    for (const Request &r : requests)
        if (r.busy && r.kind == WriteRequest)
            return true;
    return false;
}

// Only a request left pending is accepted; one completed at once counts as
// failed. A request that did not pend has finished, so its slot is free.
int Accept(Request *r, IoAnswer answer) {
    if (answer == IoAnswer::Pending)
        return 0;
    r->busy = false;
    return -1;
}

IoState PollUntil(Request *r, std::uint32_t limit_ms,
                  std::uint32_t *bytes) {
    const std::uint64_t start = PlatformTickMs();
    for (int polls = 0;; ++polls) {
        IoState state = PlatformPollRequest(r->handle, &r->record, bytes);
        if (state != IoState::Pending)
            return state;
        const std::uint64_t waited = PlatformTickMs() - start;
        if (waited >= limit_ms)
            return IoState::Pending;
        // A transfer usually completes within a millisecond or two: only
        // yield at first, so its completion is seen at once, then sleep.
        PlatformSleep(waited < SPIN_MS && polls < MAX_SPINS ? 0 : 1);
    }
}

// Waits, bounded, for an accepted write or read. A request that outlives
// its limit is cancelled; one that outlives the cancel too keeps its slot
// for the rest of the process. Answers whether it completed successfully.
bool Finish(Request *r, std::uint32_t *bytes) {
    IoState state = PollUntil(r, REQUEST_TIMEOUT_MS, bytes);
    if (state == IoState::Pending) {
        PlatformCancelRequest(r->handle, &r->record);
        state = PollUntil(r, CANCEL_TIMEOUT_MS, bytes);
        if (state == IoState::Pending)
            return false;
    }
    r->busy = false;
    return state == IoState::Succeeded;
}

int ControlRequestOn(std::uint32_t code) {
    Request *r = TakeSlot(device_handle, ControlRequest, overlapped);
    if (!r)
        return -1;
    // Not waited for: the run goes on once the driver has taken it.
    return Accept(r, PlatformDeviceControl(device_handle, code, &r->count, &r->record));
}

}  // namespace

int OpenTouchpad() {
    DeviceHandle handle = nullptr;
    if (!PlatformOpenDevice(TOUCHPAD_DEVICE_NAME, &handle)) {
        ConsolePrintf("Open touchpad fail\n");
        return -1;
    }
    device_handle = handle;
    return 0;
}

int OpenTransfer() {
    if (ControlRequestOn(IOCTL_TP_OPEN) != 0) {
        ConsolePrintf("Open DeviceIoControl Fail\r\n");
        return -1;
    }
    return 0;
}

int CloseTransfer() {
    if (ControlRequestOn(IOCTL_TP_CLOSE) != 0) {
        ConsolePrintf("Close DeviceIoControl fail\r\n");
        return -1;
    }
    return 0;
}

// The record comes by value: each request works on its own copy.
// cppcheck-suppress passedByValue
int IIC_Write(DeviceHandle handle, IoRecord record) {
    // A write that is still in flight may be reading send_buf; it already
    // holds the register address then, since nothing else is ever stored.
    if (!WriteMayBePending()) {
        send_buf[0] = static_cast<std::uint8_t>(HID_DESC_REGISTER & 0xFF);
        send_buf[1] = static_cast<std::uint8_t>(HID_DESC_REGISTER >> 8);
    }
    Request *r = TakeSlot(handle, WriteRequest, record);
    int result = -1;
    if (r) {
        result = Accept(r, PlatformWrite(handle, send_buf, 2, &r->count, &r->record));
        if (result == 0) {
            std::uint32_t bytes = 0;
            Finish(r, &bytes);  // only acceptance decides the result
        }
    }
    if (result != 0)
        ConsolePrintf("IIC_Write fail!\r\n");
    return result;
}

// cppcheck-suppress passedByValue
int IIC_Read(DeviceHandle handle, IoRecord record, int length) {
    Request *r = nullptr;
    if (length >= 1 && length <= READ_BUF_SIZE)
        r = TakeSlot(handle, ReadRequest, record);
    int result = -1;
    if (r) {
        std::memset(r->read_buf, 0, sizeof r->read_buf);
        result = Accept(r, PlatformRead(handle, r->read_buf, static_cast<std::uint32_t>(length),
                                        &r->count, &r->record));
    }
    if (result != 0) {
        ConsolePrintf("IIC_Read fail!\r\n");
        return -1;
    }

    // Only bytes that a completed read delivered count; every other byte is
    // zero, so a late, failed or short read can never pass as a descriptor.
    std::uint8_t delivered[READ_BUF_SIZE] = {};
    std::uint32_t bytes = 0;
    if (Finish(r, &bytes)) {
        if (bytes > static_cast<std::uint32_t>(length))
            bytes = static_cast<std::uint32_t>(length);
        std::memcpy(delivered, r->read_buf, bytes);
    }

    ConsolePrintf("rec_buf[] is :");
    for (int i = 0; i < 10; ++i)
        ConsolePrintf("%2x ", static_cast<unsigned>(delivered[i]));
    ConsolePrintf("\n");
    std::memcpy(rec_buf, delivered, static_cast<std::size_t>(length));
    return 0;
}

void CloseTouchpad() {
    if (!device_handle)
        return;
    // Whatever the driver still holds is cancelled before the handle goes.
    PlatformCancelAll(device_handle);
    PlatformCloseDevice(device_handle);
}
