// Test helper: the APPn and COM segments of a small JPEG file, read with a
// plain walk over the marker segments up to the start of scan, so that tests
// can feed metadata written by other programs to the metadata readers
// without going through the JPEG reader.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/TestSupport.h"

namespace testsupport {

struct JpegSegment {
    uint8_t Type = 0;
    std::vector<uint8_t> Payload;  // the bytes after the length field
};

// The segments of the fixture file (tests/fixtures/<area>/<name>) before the
// first SOS; empty when the file is missing or not a JPEG.
inline std::vector<JpegSegment> ReadJpegSegments(const std::wstring& area, const std::wstring& name)
{
    const std::vector<uint8_t> f = FileBytesOrEmpty(FixturePath(area, name));
    std::vector<JpegSegment> out;
    if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) return out;
    size_t p = 2;
    while (p + 4 <= f.size() && f[p] == 0xFF && f[p + 1] != 0xDA) {
        const size_t len = (size_t{f[p + 2]} << 8) | f[p + 3];
        if (len < 2 || p + 2 + len > f.size()) break;
        out.push_back({f[p + 1], std::vector<uint8_t>(f.begin() + p + 4, f.begin() + p + 2 + len)});
        p += 2 + len;
    }
    return out;
}

// The payload of the first segment of that type; empty when none.
inline std::vector<uint8_t> FirstSegment(const std::vector<JpegSegment>& segments, uint8_t type)
{
    for (const auto& s : segments)
        if (s.Type == type) return s.Payload;
    return {};
}

}  // namespace testsupport
