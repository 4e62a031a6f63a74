// A scripted stand-in for the platform's device requests and clock. It plays
// the driver's side: each request pends, completes, fails or sticks as the
// test says, and it reports every misuse of a request's storage.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

enum Kind { Control, Write, Read };

struct Behaviour {
    IoAnswer answer = IoAnswer::Pending;
    int completes_after_ms = 0;  // once pending; -1: only a cancel ends it
    bool cancellable = true;
    bool succeeds = true;        // status of the completion
    std::vector<std::uint8_t> data;  // what a read delivers when it completes
    int late_completion_ms = -1;     // a request that ignores its cancel may still end then
};

struct Call {
    Kind kind;
    std::uint32_t code;
    DeviceHandle handle;
    std::uint32_t size;
    std::vector<std::uint8_t> sent;  // a write's bytes at the time of the call
    bool buffer_zero;                // a read's buffer was all zero at the call
    const void *buffer;
};

extern bool open_ok;
extern std::wstring opened_name;
extern std::deque<Behaviour> script[3];  // per kind; empty: pend, complete at once
extern std::vector<Call> calls;
extern std::vector<std::string> violations;
extern std::uint64_t now_ms;
extern std::vector<DeviceHandle> closed;
extern int cancel_all_calls;
extern int cancels;
extern bool cancel_all_before_close;

// Ends whatever is still in flight and clears the script and the record.
void Reset();

}  // namespace fake
