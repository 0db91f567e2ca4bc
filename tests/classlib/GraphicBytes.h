// A graphic written to and read back from bytes in memory, for the tests of
// the graphic classes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/Streams.h"
#include "support/StreamBytes.h"

namespace classlibtest {

inline std::vector<uint8_t> SaveBytes(classlib::TGraphic& G)
{
    classlib::TMemoryStream s;
    G.SaveToStream(&s);
    return testsupport::StreamBytes(s);
}

// Loads from the start of a stream holding exactly Bytes.
inline void LoadBytes(classlib::TGraphic& G, const std::vector<uint8_t>& Bytes)
{
    classlib::TMemoryStream s;
    testsupport::SetBytes(s, Bytes);
    G.LoadFromStream(&s);
}

}  // namespace classlibtest
