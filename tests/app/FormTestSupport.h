// Shared pieces of the tests of the program's secondary windows.
#pragma once

#include <windows.h>

#include <string>

#include "support/TestSupport.h"
#include "classlib/Forms.h"

namespace formtest {

// Points the global Application at a private one for the test's duration.
class TAppScope {
public:
    TAppScope() : saved_(classlib::Application) { classlib::Application = &app; }
    ~TAppScope() { classlib::Application = saved_; }
    TAppScope(const TAppScope&) = delete;
    TAppScope& operator=(const TAppScope&) = delete;
    classlib::TApplication app{nullptr};

private:
    classlib::TApplication* saved_;
};

// A fixture of tests/fixtures/app.
inline std::wstring AppFixture(const std::wstring& Name) { return testsupport::FixtureDir(L"app") + L"\\" + Name; }

// A data folder (with its trailing backslash) holding fixture Source under
// the name Target.
inline std::wstring DataFolderWith(const testsupport::TempDir& Dir, const std::wstring& Source,
                                   const std::wstring& Target)
{
    ::CopyFileW(AppFixture(Source).c_str(), Dir.File(Target).c_str(), FALSE);
    return Dir.Path() + L"\\";
}

}  // namespace formtest
