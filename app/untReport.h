// A list of files, each with what became of it, told in one message that
// fits on the screen whatever the number of files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace album {

// The most lines a report shows; the rest are counted.
inline constexpr std::size_t kReportLines = 15;

// Intro, then the first kReportLines different lines of Lines in their
// order (a line given again is shown once), each on its own line; when
// more remain, More with "%n1" replaced by their number ends the text.
std::wstring FileReportText(const std::wstring& Intro, const std::vector<std::wstring>& Lines,
                            const std::wstring& More);

}  // namespace album
