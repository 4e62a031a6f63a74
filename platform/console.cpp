#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

// Standard output stays in its default (text) mode on purpose.
void ConsolePrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}
