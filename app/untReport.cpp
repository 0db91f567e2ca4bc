#include "app/untReport.h"

#include <unordered_set>

#include "classlib/SysUtils.h"

namespace album {

std::wstring FileReportText(const std::wstring& Intro, const std::vector<std::wstring>& Lines,
                            const std::wstring& More)
{
    std::wstring text = Intro;
    std::unordered_set<std::wstring> seen;
    std::size_t shown = 0, left = 0;
    for (const std::wstring& line : Lines) {
        if (!seen.insert(line).second) continue;
        if (shown < kReportLines) {
            text += L"\r\n" + line;
            ++shown;
        } else {
            ++left;
        }
    }
    if (left > 0)
        text += L"\r\n" + classlib::StringReplace(More, L"%n1", std::to_wstring(left), classlib::rfReplaceAll);
    return text;
}

}  // namespace album
