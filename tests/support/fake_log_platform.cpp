#include "tests/support/fake_log_platform.h"

#include <cstdarg>
#include <cstdio>

#include "platform/split_path.h"

namespace fakelog {

Script script;
std::vector<Call> calls;
std::vector<std::string> violations;
std::string file;
bool file_exists;

namespace {

int handle_tag;
LogFile const HANDLE = &handle_tag;
bool is_open;
int prints;

void Record(Step step, const std::wstring &path = std::wstring(),
            const std::string &text = std::string()) {
    calls.push_back({step, path, text});
}

void CheckHandle(const char *who, LogFile f) {
    if (f != HANDLE || !is_open)
        violations.push_back(std::string(who) + " without an open file");
}

}  // namespace

void Reset(const std::string &old_text) {
    script = Script();
    calls.clear();
    violations.clear();
    file = old_text;
    file_exists = !old_text.empty();
    is_open = false;
    prints = 0;
}

std::vector<Step> Steps() {
    std::vector<Step> steps;
    for (const Call &c : calls)
        steps.push_back(c.step);
    return steps;
}

}  // namespace fakelog

using namespace fakelog;

bool PlatformModulePath(wchar_t *path, std::size_t capacity) {
    Record(ModulePath);
    // As the OS does: a path that does not fit whole is not handed out.
    if (!script.module_ok || script.module.size() >= capacity)
        return false;
    script.module.copy(path, script.module.size());
    path[script.module.size()] = L'\0';
    return true;
}

void PlatformLocalTime(LocalTime *time) {
    Record(Time);
    *time = script.time;
}

bool PlatformSplitPath(const wchar_t *path, const PathParts &parts) {
    Record(Split, path);
    return script.split_ok && SplitPathPortable(path, parts);
}

bool PlatformExamineFile(const wchar_t *path, FileFacts *facts) {
    Record(Examine, path);
    *facts = script.facts;
    return script.examine_ok;
}

bool PlatformLogOpen(const wchar_t *path, LogFile *f) {
    Record(Open, path);
    if (is_open)
        violations.push_back("opened twice");
    if (!script.open_ok)
        return false;
    is_open = true;
    file.clear();
    file_exists = true;
    *f = HANDLE;
    return true;
}

bool PlatformLogPrint(LogFile f, const char *format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Record(Print, std::wstring(), text);
    CheckHandle("print", f);
    if (++prints == script.failing_print) {
        file += std::string(text).substr(0, 3);  // a full disk takes a part
        return false;
    }
    file += text;
    return true;
}

bool PlatformLogClose(LogFile f) {
    Record(Close);
    CheckHandle("close", f);
    is_open = false;
    return script.close_ok;
}

void PlatformLogRemove(const wchar_t *path) {
    Record(Remove, path);
    if (is_open)
        violations.push_back("removed while open");
    file.clear();
    file_exists = false;
}
