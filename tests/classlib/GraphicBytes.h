// A graphic written to and read back from bytes in memory, for the tests of
// the graphic classes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/Streams.h"

namespace classlibtest {

inline std::vector<uint8_t> SaveBytes(classlib::TGraphic& G)
{
    classlib::TMemoryStream s;
    G.SaveToStream(&s);
    std::vector<uint8_t> v(static_cast<size_t>(s.GetSize()));
    if (!v.empty()) std::memcpy(v.data(), s.GetMemory(), v.size());
    return v;
}

// Loads from the start of a stream holding exactly Bytes.
inline void LoadBytes(classlib::TGraphic& G, const std::vector<uint8_t>& Bytes)
{
    classlib::TMemoryStream s;
    if (!Bytes.empty()) s.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    s.SetPosition(0);
    G.LoadFromStream(&s);
}

}  // namespace classlibtest
