#include "tests/support/fake_platform.h"

#include <algorithm>
#include <cstring>

namespace fake {

bool open_ok;
std::wstring opened_name;
std::deque<Behaviour> script[3];
std::vector<Call> calls;
std::vector<std::string> violations;
std::uint64_t now_ms;
std::vector<DeviceHandle> closed;
int cancel_all_calls;
int cancels;
bool cancel_all_before_close;

namespace {

DeviceHandle const HANDLE = reinterpret_cast<DeviceHandle>(0x4242);

struct InFlight {
    Kind kind;
    IoRecord *record;
    IoRecord stamp;  // what the record must still hold while pending
    std::uint32_t *count;
    void *buffer;
    std::uint32_t size;
    Behaviour behaviour;
    std::uint64_t start;
    bool cancelled;
};

std::vector<InFlight> in_flight;

bool Overlaps(const void *a, std::size_t a_size, const void *b, std::size_t b_size) {
    if (!a || !b)
        return false;
    const char *pa = static_cast<const char *>(a);
    const char *pb = static_cast<const char *>(b);
    return pa < pb + b_size && pb < pa + a_size;
}

IoAnswer Start(Kind kind, std::uint32_t code, DeviceHandle handle, void *buffer,
               std::uint32_t size, std::uint32_t *count, IoRecord *record) {
    Call call = {kind, code, handle, size, {}, true, buffer};
    if (kind == Write)
        call.sent.assign(static_cast<const std::uint8_t *>(buffer),
                         static_cast<const std::uint8_t *>(buffer) + size);
    if (kind == Read)
        for (std::uint32_t i = 0; i < size; ++i)
            call.buffer_zero = call.buffer_zero && static_cast<std::uint8_t *>(buffer)[i] == 0;
    calls.push_back(call);

    for (const InFlight &f : in_flight) {
        if (Overlaps(record, sizeof *record, f.record, sizeof *f.record) ||
            Overlaps(count, sizeof *count, f.count, sizeof *f.count) ||
            (kind == Read && Overlaps(buffer, size, f.buffer, f.size)))
            violations.push_back("request " + std::to_string(calls.size() - 1) +
                                 " was handed storage of a request still pending");
    }

    Behaviour b;
    if (!script[kind].empty()) {
        b = script[kind].front();
        script[kind].pop_front();
    }
    if (b.answer == IoAnswer::CompletedAtOnce && kind == Read) {
        const std::size_t n = std::min<std::size_t>(size, b.data.size());
        if (n)
            std::memcpy(buffer, b.data.data(), n);
        *count = static_cast<std::uint32_t>(n);
    }
    if (b.answer != IoAnswer::Pending)
        return b.answer;

    // Mark the record the way the kernel does; the tool must leave it so.
    std::memset(record->bytes, 0, sizeof record->bytes);
    record->bytes[0] = 0x03;
    record->bytes[1] = 0x01;
    in_flight.push_back({kind, record, *record, count, buffer, size, b, now_ms, false});
    return IoAnswer::Pending;
}

std::vector<InFlight>::iterator Find(IoRecord *record) {
    return std::find_if(in_flight.begin(), in_flight.end(),
                        [record](const InFlight &f) { return f.record == record; });
}

// Completes f if its time has come; answers whether it is finished.
bool Settle(InFlight &f, IoState *state, std::uint32_t *bytes) {
    if (std::memcmp(f.record, &f.stamp, sizeof f.stamp) != 0)
        violations.push_back("a pending request's record was written");
    const Behaviour &b = f.behaviour;
    const std::uint64_t age = now_ms - f.start;
    const bool by_itself = b.completes_after_ms >= 0 && age >= std::uint64_t(b.completes_after_ms);
    const bool late = b.late_completion_ms >= 0 && age >= std::uint64_t(b.late_completion_ms);
    if (f.cancelled) {
        *state = IoState::Failed;
        *bytes = 0;
    } else if (by_itself || late) {
        std::uint32_t n = 0;
        if (f.kind == Read && (b.succeeds || late)) {
            n = static_cast<std::uint32_t>(std::min<std::size_t>(f.size, b.data.size()));
            if (n)
                std::memcpy(f.buffer, b.data.data(), n);
        } else if (f.kind == Write) {
            n = f.size;
        }
        *f.count = n;
        *state = b.succeeds || late ? IoState::Succeeded : IoState::Failed;
        *bytes = n;
    } else {
        return false;
    }
    // The kernel's final status word replaces the pending one.
    f.record->bytes[0] = *state == IoState::Succeeded ? 0 : 0x20;
    f.record->bytes[1] = 0;
    return true;
}

}  // namespace

void Reset() {
    // What an earlier test left in flight ends now, as at a process exit,
    // so the channel may reap its storage.
    for (InFlight &f : in_flight)
        f.cancelled = true;
    open_ok = true;
    opened_name.clear();
    for (auto &s : script)
        s.clear();
    calls.clear();
    violations.clear();
    now_ms = 1000;
    closed.clear();
    cancel_all_calls = 0;
    cancels = 0;
    cancel_all_before_close = false;
}

}  // namespace fake

using namespace fake;

bool PlatformOpenDevice(const wchar_t *name, DeviceHandle *handle) {
    opened_name = name;
    if (!open_ok)
        return false;
    *handle = HANDLE;
    return true;
}

IoAnswer PlatformDeviceControl(DeviceHandle handle, std::uint32_t code,
                               std::uint32_t *bytes_returned, IoRecord *record) {
    return Start(Control, code, handle, nullptr, 0, bytes_returned, record);
}

IoAnswer PlatformWrite(DeviceHandle handle, const void *data, std::uint32_t size,
                       std::uint32_t *bytes_written, IoRecord *record) {
    return Start(Write, 0, handle, const_cast<void *>(data), size, bytes_written, record);
}

IoAnswer PlatformRead(DeviceHandle handle, void *data, std::uint32_t size,
                      std::uint32_t *bytes_read, IoRecord *record) {
    return Start(Read, 0, handle, data, size, bytes_read, record);
}

IoState PlatformPollRequest(DeviceHandle, IoRecord *record, std::uint32_t *bytes) {
    auto it = Find(record);
    if (it == in_flight.end()) {
        violations.push_back("poll of a record that has no request");
        *bytes = 0;
        return IoState::Failed;
    }
    IoState state = IoState::Pending;
    if (!Settle(*it, &state, bytes))
        return IoState::Pending;
    in_flight.erase(it);
    return state;
}

void PlatformCancelRequest(DeviceHandle, IoRecord *record) {
    ++cancels;
    auto it = Find(record);
    if (it != in_flight.end() && it->behaviour.cancellable)
        it->cancelled = true;
}

void PlatformCancelAll(DeviceHandle) {
    ++cancel_all_calls;
    for (InFlight &f : in_flight)
        if (f.behaviour.cancellable)
            f.cancelled = true;
}

void PlatformCloseDevice(DeviceHandle handle) {
    cancel_all_before_close = cancel_all_calls > 0;
    closed.push_back(handle);
}

void PlatformSleep(std::uint32_t ms) {
    now_ms += ms;
}

std::uint64_t PlatformTickMs() {
    return now_ms;
}
