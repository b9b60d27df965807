// CString: std::string with the MFC spellings the pages use.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ui/afxwin.h"

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) {
        clear();
        return;
    }
    std::string out(size_t(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(size_t(n));
    assign(std::move(out));
}

int CString::Find(const char* sub, int start) const {
    size_t at = find(sub, size_t(start < 0 ? 0 : start));
    return at == npos ? -1 : int(at);
}

int CString::Replace(const char* from, const char* to) {
    size_t fromLen = std::strlen(from);
    if (fromLen == 0) return 0;
    size_t toLen = std::strlen(to);
    int count = 0;
    for (size_t at = find(from); at != npos; at = find(from, at + toLen)) {
        replace(at, fromLen, to);
        ++count;
    }
    return count;
}

int CString::Remove(char ch) {
    size_t before = size();
    erase(std::remove(begin(), end(), ch), end());
    return int(before - size());
}

