// The path rule of _wsplitpath_s in portable code, for hosts without the
// Windows C runtime. The Windows tests hold it against the real one.
#pragma once

#include <cwchar>

#include "platform/platform.h"

namespace split_path {

inline bool Fits(const wchar_t *buffer, std::size_t size, std::size_t length) {
    return buffer ? length < size : size == 0;
}

inline void Put(wchar_t *buffer, const wchar_t *from, std::size_t length) {
    if (!buffer)
        return;
    for (std::size_t i = 0; i < length; ++i)
        buffer[i] = from[i];
    buffer[length] = L'\0';
}

inline void Clear(wchar_t *buffer, std::size_t size) {
    if (buffer && size > 0)
        buffer[0] = L'\0';
}

}  // namespace split_path

inline bool SplitPathPortable(const wchar_t *path, const PathParts &parts) {
    using namespace split_path;
    const std::size_t size = std::wcslen(path);
    const std::size_t rest = size >= 2 && path[1] == L':' ? 2 : 0;
    std::size_t name = rest;
    for (std::size_t i = rest; i < size; ++i)
        if (path[i] == L'\\' || path[i] == L'/')
            name = i + 1;
    std::size_t ext = size;
    for (std::size_t i = name; i < size; ++i)
        if (path[i] == L'.')
            ext = i;
    if (!Fits(parts.drive, parts.drive_size, rest) ||
        !Fits(parts.dir, parts.dir_size, name - rest) ||
        !Fits(parts.fname, parts.fname_size, ext - name) ||
        !Fits(parts.ext, parts.ext_size, size - ext)) {
        // As the runtime does: a failed split leaves every part empty.
        Clear(parts.drive, parts.drive_size);
        Clear(parts.dir, parts.dir_size);
        Clear(parts.fname, parts.fname_size);
        Clear(parts.ext, parts.ext_size);
        return false;
    }
    Put(parts.drive, path, rest);
    Put(parts.dir, path + rest, name - rest);
    Put(parts.fname, path + name, ext - name);
    Put(parts.ext, path + ext, size - ext);
    return true;
}
