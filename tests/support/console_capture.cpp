#include "tests/support/console_capture.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/platform.h"

std::string &CapturedConsole() {
    static std::string text;
    return text;
}

void ConsolePrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (size > 0) {
        std::vector<char> text(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        CapturedConsole().append(text.data(), static_cast<std::size_t>(size));
    }
    va_end(again);
}
