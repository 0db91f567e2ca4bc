// Shared pieces of the tests of the program's secondary windows.
#pragma once

#include <windows.h>

#include <string>

#include "support/AppScope.h"
#include "support/TestSupport.h"
#include "classlib/Forms.h"

namespace formtest {

using testsupport::TAppScope;

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
