// A small, independent TIFF structure reader for the TIFF codec and writer
// tests: header, directory chain and entry values in either byte order,
// with every offset checked. It knows nothing of the toolkit's TIFF units,
// so the tests can judge their output with it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

namespace tifftest {

// The whole file's bytes, or empty when it cannot be read.
inline std::vector<uint8_t> ReadFileBytes(const std::wstring& path) { return testsupport::FileBytesOrEmpty(path); }

inline bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

struct TEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    // Integer types (BYTE, SHORT, LONG and their signed forms): the values;
    // RATIONAL: numerator and denominator pairs.
    std::vector<int64_t> Values;
    std::vector<uint8_t> Raw;  // the value bytes as stored
    std::string Text() const { return std::string(Raw.begin(), Raw.end()); }
};

struct TDirectory {
    uint32_t Offset = 0;
    std::map<uint16_t, TEntry> Entries;
    bool Has(uint16_t tag) const { return Entries.count(tag) != 0; }
    // The first value of the tag, or def when it is missing.
    int64_t Value(uint16_t tag, int64_t def = -1) const
    {
        auto it = Entries.find(tag);
        return it == Entries.end() || it->second.Values.empty() ? def : it->second.Values[0];
    }
    std::vector<int64_t> Values(uint16_t tag) const
    {
        auto it = Entries.find(tag);
        return it == Entries.end() ? std::vector<int64_t>() : it->second.Values;
    }
};

struct TFile {
    bool BigEndian = false;
    std::vector<TDirectory> Directories;
    std::vector<uint8_t> Bytes;

    uint32_t U16(size_t at) const
    {
        return BigEndian ? (Bytes[at] << 8) | Bytes[at + 1] : Bytes[at] | (Bytes[at + 1] << 8);
    }
    uint32_t U32(size_t at) const
    {
        return BigEndian ? (uint32_t(Bytes[at]) << 24) | (Bytes[at + 1] << 16) | (Bytes[at + 2] << 8) | Bytes[at + 3]
                         : Bytes[at] | (Bytes[at + 1] << 8) | (Bytes[at + 2] << 16) | (uint32_t(Bytes[at + 3]) << 24);
    }

    // Parses Bytes; an error text, empty when the structure is sound.
    std::string Parse()
    {
        Directories.clear();
        if (Bytes.size() < 8)
            return "short header";
        if (Bytes[0] == 'I' && Bytes[1] == 'I')
            BigEndian = false;
        else if (Bytes[0] == 'M' && Bytes[1] == 'M')
            BigEndian = true;
        else
            return "bad byte order mark";
        if (U16(2) != 42)
            return "bad magic";
        uint64_t offset = U32(4);
        while (offset != 0) {
            if (Directories.size() > 100)
                return "directory chain too long";
            TDirectory dir;
            const std::string error = ParseDirectory(offset, dir);
            if (!error.empty())
                return error;
            offset = U32(offset + 2 + 12 * dir.Entries.size());
            Directories.push_back(std::move(dir));
        }
        return std::string();
    }

    // One directory at offset (a sub-directory such as the EXIF one).
    std::string ParseDirectory(uint64_t offset, TDirectory& dir) const
    {
        static const int kTypeSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        {
            if (offset & 1)
                return "odd directory offset";
            if (offset + 2 > Bytes.size())
                return "directory outside the file";
            const uint32_t n = U16(offset);
            if (offset + 2 + 12ull * n + 4 > Bytes.size())
                return "directory entries outside the file";
            dir.Entries.clear();
            dir.Offset = static_cast<uint32_t>(offset);
            uint32_t lastTag = 0;
            for (uint32_t i = 0; i < n; ++i) {
                const size_t at = offset + 2 + 12 * i;
                TEntry e;
                e.Tag = static_cast<uint16_t>(U16(at));
                e.Type = static_cast<uint16_t>(U16(at + 2));
                e.Count = U32(at + 4);
                if (i > 0 && e.Tag <= lastTag)
                    return "tags not ascending at tag " + std::to_string(e.Tag);
                lastTag = e.Tag;
                if (e.Type < 1 || e.Type > 12)
                    return "bad type of tag " + std::to_string(e.Tag);
                const uint64_t size = uint64_t(kTypeSize[e.Type]) * e.Count;
                size_t valueAt = at + 8;
                if (size > 4) {
                    valueAt = U32(at + 8);
                    if (valueAt + size > Bytes.size())
                        return "value of tag " + std::to_string(e.Tag) + " outside the file";
                    if (valueAt & 1)
                        return "odd value offset of tag " + std::to_string(e.Tag);
                }
                e.Raw.assign(Bytes.begin() + valueAt, Bytes.begin() + valueAt + size);
                for (uint32_t k = 0; k < e.Count; ++k) {
                    const size_t v = valueAt + size_t(k) * kTypeSize[e.Type];
                    switch (e.Type) {
                    case 1: case 7: e.Values.push_back(Bytes[v]); break;
                    case 6: e.Values.push_back(int8_t(Bytes[v])); break;
                    case 3: e.Values.push_back(U16(v)); break;
                    case 8: e.Values.push_back(int16_t(U16(v))); break;
                    case 4: e.Values.push_back(U32(v)); break;
                    case 9: e.Values.push_back(int32_t(U32(v))); break;
                    case 5: e.Values.push_back(U32(v)); e.Values.push_back(U32(v + 4)); break;
                    case 10: e.Values.push_back(int32_t(U32(v))); e.Values.push_back(int32_t(U32(v + 4))); break;
                    default: break;
                    }
                }
                dir.Entries[e.Tag] = e;
            }
        }
        return std::string();
    }

    // The bytes of strip (or tile) i of a directory, checked against the
    // file; empty when outside it.
    std::vector<uint8_t> Strip(const TDirectory& dir, size_t i, bool tiles = false) const
    {
        const std::vector<int64_t> offsets = dir.Values(tiles ? 324 : 273);
        const std::vector<int64_t> counts = dir.Values(tiles ? 325 : 279);
        if (i >= offsets.size() || i >= counts.size())
            return {};
        const uint64_t at = uint64_t(offsets[i]), n = uint64_t(counts[i]);
        if (at + n > Bytes.size())
            return {};
        return std::vector<uint8_t>(Bytes.begin() + at, Bytes.begin() + at + n);
    }
};

inline std::string Load(const std::wstring& path, TFile& file)
{
    file.Bytes = ReadFileBytes(path);
    if (file.Bytes.empty())
        return "cannot read the file";
    return file.Parse();
}

}  // namespace tifftest
