// A scripted stand-in for the platform's result log services. It keeps the
// file in memory and records every call, so tests see the order of calls,
// each line as printed, and what a failure leaves behind.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace fakelog {

enum Step { ModulePath, Split, Examine, Open, Time, Print, Close, Remove };

struct Script {
    bool module_ok = true;
    std::wstring module = L"C:\\Tools\\probe.exe";
    bool split_ok = true;          // otherwise fails; a success uses the portable rule
    bool examine_ok = true;
    FileFacts facts = {false, false, 0, false};
    bool open_ok = true;
    int failing_print = 0;         // 1-based; 0: every print succeeds
    bool close_ok = true;
    LocalTime time = {2024, 3, 5, 9, 7, 2};
};

struct Call {
    Step step;
    std::wstring path;  // for Examine, Open, Remove
    std::string text;   // for Print: the formatted line
};

extern Script script;
extern std::vector<Call> calls;
extern std::vector<std::string> violations;  // misuse of the file handle
extern std::string file;      // what the file holds
extern bool file_exists;

// A fresh script, no calls, and an earlier file with old_text in it.
void Reset(const std::string &old_text = std::string());

std::vector<Step> Steps();

}  // namespace fakelog
