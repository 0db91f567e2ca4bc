#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/io/core/IOParams.h"
#include "imaging/io/platform/PxTwain.h"
#include "tests/support/TestSupport.h"

namespace {

std::vector<std::string> LogLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    FILE* f = ::_wfopen(path.c_str(), L"rb");
    if (!f) return lines;
    std::string text;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The text after "<date> <time> : ".
std::string Message(const std::string& line)
{
    const std::size_t at = line.find(" : ");
    return at == std::string::npos ? std::string() : line.substr(at + 3);
}

}  // namespace

// The settings release a proxy window and a loaded source manager when they
// go, and log each step with its date and time when a log file is named.
TEST(TwainTeardown, ReleasesWhatIsSetAndLogsEachStep)
{
    testsupport::TempDir dir;
    const std::wstring log = dir.File(L"twain.log");
    HWND proxy = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(proxy, nullptr);
    HMODULE library = ::LoadLibraryW(L"version.dll");
    ASSERT_NE(library, nullptr);
    {
        imaging::TPxTWainParams params(nullptr);
        params.LogFileName = log;
        params.ProxyWindow = proxy;
        params.SourceManager = library;
    }
    EXPECT_FALSE(::IsWindow(proxy));
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 4u);
    const std::vector<std::string> expected{"DestroyProxyWindow", "  DestroyProxyWindow : destroyed",
                                            "PxTW_UnloadSourceManager", "  PxTW_UnloadSourceManager : Unload OK"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(Message(lines[i]), expected[i]) << lines[i];
        EXPECT_GT(lines[i].find(" : "), 0u) << "no date and time before the text: " << lines[i];
    }
}

// Nothing set, or no log named: nothing is written and nothing fails; a
// window already destroyed by someone else is only forgotten.
TEST(TwainTeardown, EmptySessionsAndGoneWindows)
{
    testsupport::TempDir dir;
    const std::wstring log = dir.File(L"twain.log");
    {
        imaging::TPxTWainParams params(nullptr);
        params.LogFileName = log;
    }
    EXPECT_EQ(::GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES);

    HWND proxy = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(proxy, nullptr);
    ::DestroyWindow(proxy);
    imaging::TPxTWSession session;
    imaging::PxTW_InitSession(session);
    EXPECT_EQ(session.State, 1);
    session.ProxyWindow = proxy;
    imaging::DestroyProxyWindow(session);
    EXPECT_EQ(session.ProxyWindow, nullptr);
    EXPECT_EQ(::GetFileAttributesW(log.c_str()), INVALID_FILE_ATTRIBUTES);
}
