// Byte helpers shared by the format tests: fixture files and memory streams
// as byte vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/StreamBytes.h"
#include "support/TestSupport.h"

namespace iobytes {

// tests/fixtures/io/<Folder>/<Name>.
inline std::wstring FixtureFile(const wchar_t* Folder, const std::string& Name)
{
    return testsupport::FixturePath(std::wstring(L"io\\") + Folder, Name);
}

using testsupport::FileBytes;
using testsupport::SetBytes;
using testsupport::StreamBytes;

}  // namespace iobytes
