#include "controls/shell/ShWideStr.h"

#include <windows.h>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"

namespace shell {

bool IsWideApi = false;

std::wstring TntWideUpperCase(const std::wstring& s)
{
    return classlib::WideUpperCase(s);
}

std::size_t TntWidePosEx(const std::wstring& subStr, const std::wstring& s, std::size_t offset)
{
    if (subStr.empty() || offset >= s.size()) return 0;
    const std::size_t p = s.find(subStr, offset);
    return p == std::wstring::npos ? 0 : p + 1;
}

void TntWideDelete(std::wstring& s, std::ptrdiff_t index, std::ptrdiff_t count)
{
    const auto size = static_cast<std::ptrdiff_t>(s.size());
    if (s.empty() || index < 1 || index > size || count < 1) return;
    if (count > size - index + 1) count = size - index + 1;
    s.erase(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

std::wstring TntWideStringReplace(const std::wstring& s, const std::wstring& oldPattern,
                                  const std::wstring& newPattern, bool wholeWord, unsigned flags)
{
    if (oldPattern.empty()) return s;
    const bool ignoreCase = (flags & wrfIgnoreCase) != 0;
    // The search text runs in step with rest; both lose the same prefix on
    // every step, so a position in one is the position in the other
    // (platform upper-casing keeps the length).
    std::wstring search = ignoreCase ? TntWideUpperCase(s) : s;
    const std::wstring pattern = ignoreCase ? TntWideUpperCase(oldPattern) : oldPattern;
    std::wstring rest = s;
    std::wstring result;
    const std::size_t len = oldPattern.size();

    while (!search.empty()) {
        const std::size_t found = search.find(pattern);
        if (found == std::wstring::npos) {
            result += rest;
            return result;
        }
        const std::size_t matchEnd = found + len;  // characters up to and including the match
        if (wholeWord) {
            const wchar_t before = found == 0 ? LastChar(result) : rest[found - 1];
            const wchar_t after = matchEnd < rest.size() ? rest[matchEnd] : L'\0';
            if (!IsWordBoundary(before) || !IsWordBoundary(after)) {
                result.append(rest, 0, matchEnd);
                rest.erase(0, matchEnd);
                search.erase(0, matchEnd);
                continue;
            }
        }
        result.append(rest, 0, found);
        result += newPattern;
        rest.erase(0, matchEnd);
        search.erase(0, matchEnd);
        if ((flags & wrfReplaceAll) == 0) {
            result += rest;
            return result;
        }
    }
    return result;
}

bool IsWordBoundary(wchar_t ch)
{
    if (ch == L'\0') return true;
    WORD type = 0;
    if (!::GetStringTypeExW(::GetThreadLocale(), CT_CTYPE1, &ch, 1, &type)) classlib::RaiseLastOSError();
    return (type & (C1_SPACE | C1_PUNCT)) != 0;
}

wchar_t LastChar(const std::wstring& s)
{
    return s.empty() ? L'\0' : s.back();
}

}  // namespace shell
