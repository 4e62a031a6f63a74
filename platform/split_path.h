// The path rule of _wsplitpath_s in portable code, for hosts without the
// Windows C runtime. The Windows tests hold it against the real one.
#pragma once

#include <string>

#include "platform/platform.h"

inline void SplitPathPortable(const std::wstring &path, PathParts *parts) {
    std::size_t rest = 0;
    if (path.size() >= 2 && path[1] == L':')
        rest = 2;
    parts->drive = path.substr(0, rest);
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::size_t name = slash == std::wstring::npos || slash < rest ? rest : slash + 1;
    parts->dir = path.substr(rest, name - rest);
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t ext = dot == std::wstring::npos || dot < name ? path.size() : dot;
    parts->fname = path.substr(name, ext - name);
    parts->ext = path.substr(ext);
}
