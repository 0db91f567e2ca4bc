// Byte helpers shared by the format tests: fixture files and memory streams
// as byte vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "support/TestSupport.h"

namespace iobytes {

// tests/fixtures/io/<Folder>/<Name>.
inline std::wstring FixtureFile(const wchar_t* Folder, const std::string& Name)
{
    return testsupport::FixtureDir(L"io") + L"\\" + Folder + L"\\" + std::wstring(Name.begin(), Name.end());
}

inline std::vector<uint8_t> StreamBytes(classlib::TMemoryStream& m)
{
    const auto* p = static_cast<const uint8_t*>(m.GetMemory());
    return std::vector<uint8_t>(p, p + m.GetSize());
}

inline std::vector<uint8_t> FileBytes(const std::wstring& Path)
{
    classlib::TMemoryStream m;
    m.LoadFromFile(Path);
    return StreamBytes(m);
}

// Replaces the stream's content with Bytes and rewinds it.
inline void SetBytes(classlib::TMemoryStream& m, const std::vector<uint8_t>& Bytes)
{
    m.Clear();
    if (!Bytes.empty())
        m.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    m.SetPosition(0);
}

}  // namespace iobytes
