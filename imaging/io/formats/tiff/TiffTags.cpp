#include "imaging/io/formats/tiff/TiffTags.h"

#include <bit>
#include <set>

#include "imaging/io/core/ImgIOStreams.h"
#include "imaging/io/core/ReadGuard.h"

namespace imaging {

namespace {

constexpr uint32_t kMaxStringCount = 0xFFFFF;

// Byte i (0 .. 3) of the value word in file order.
uint8_t ValueByte(const TTIFFIFDEntry& e, bool le, int i)
{
    return le ? uint8_t(e.Value >> (8 * i)) : uint8_t(e.Value >> (24 - 8 * i));
}

const TTIFFIFDEntry* Find(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    const int i = PxTIFFFindTag(Ctx, Tag);
    return i < 0 ? nullptr : &Ctx.Entries[size_t(i)];
}

// Bytes of one value of field types 1 to 10 (BYTE, ASCII, SHORT, LONG,
// RATIONAL, SBYTE, UNDEFINED, SSHORT, SLONG, SRATIONAL); 0 for other codes.
int TypeSize(uint16_t Type)
{
    static const int sizes[11] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8};
    return Type < 11 ? sizes[Type] : 0;
}

}  // namespace

int64_t TTIFFIFDContext::StreamSize() const { return Stream ? Stream->GetSize() : 0; }

bool TTIFFIFDContext::Fits(int64_t Offset, int64_t Count) const
{
    if (!Stream || Offset < 0 || Count < 0)
        return false;
    const int64_t size = StreamSize();
    const int64_t start = Base + Offset;
    return start >= 0 && start <= size && Count <= size - start;
}

int64_t TTIFFIFDContext::ReadAt(int64_t Offset, void* Buffer, int64_t Count) const
{
    if (!Stream || Count <= 0 || Offset < 0)
        return 0;
    const int64_t size = StreamSize();
    const int64_t start = Base + Offset;
    if (start < 0 || start >= size)
        return 0;
    if (Count > size - start)
        Count = size - start;
    Stream->SetPosition(start);
    return Stream->Read(Buffer, Count);
}

bool PxTIFFReadIFD(int32_t PageIndex, int64_t FirstOffset, TTIFFIFDContext& Ctx, int32_t& Count)
{
    Ctx.Entries.clear();
    Count = 0;
    std::set<int64_t> visited;
    int64_t offset = FirstOffset;
    const bool le = Ctx.LittleEndian;
    while (offset != 0) {
        if (!visited.insert(offset).second)
            break;  // a loop back to a directory already counted
        uint8_t nb[2];
        if (!Ctx.Fits(offset, 2) || Ctx.ReadAt(offset, nb, 2) != 2)
            break;
        const uint16_t n = PxGetU16(nb, le);
        if (n == 0)
            break;
        const int64_t tableSize = int64_t(n) * 12;
        // The whole directory and its next-offset word must be in the stream.
        if (!Ctx.Fits(offset + 2, tableSize + 4))
            break;
        if (Count == PageIndex) {
            std::vector<uint8_t> raw(static_cast<size_t>(tableSize));
            if (Ctx.ReadAt(offset + 2, raw.data(), tableSize) != tableSize)
                break;
            Ctx.Entries.resize(n);
            for (size_t i = 0; i < n; ++i) {
                const uint8_t* p = raw.data() + i * 12;
                TTIFFIFDEntry& e = Ctx.Entries[i];
                e.Tag = PxGetU16(p, le);
                e.Type = PxGetU16(p + 2, le);
                e.Count = PxGetU32(p + 4, le);
                e.Value = PxGetU32(p + 8, le);
            }
        }
        uint8_t next[4];
        if (Ctx.ReadAt(offset + 2 + tableSize, next, 4) != 4)
            break;
        const int64_t nextOffset = PxGetU32(next, le);
        ++Count;
        if (nextOffset == offset || nextOffset < 8 || Ctx.Base + nextOffset >= Ctx.StreamSize())
            break;
        offset = nextOffset;
    }
    return !Ctx.Entries.empty();
}

int PxTIFFFindTag(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    for (size_t i = 0; i < Ctx.Entries.size(); ++i)
        if (Ctx.Entries[i].Tag == Tag)
            return int(i);
    return -1;
}

int64_t PxTIFFGetTagValue(const TTIFFIFDContext& Ctx, uint16_t Tag, int64_t Default)
{
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    if (!e)
        return Default;
    if (e->Type == 3)
        return Ctx.LittleEndian ? (e->Value & 0xFFFF) : (e->Value >> 16);
    if (e->Type == 1)
        return Ctx.LittleEndian ? (e->Value & 0xFF) : (e->Value >> 24);
    return e->Value;
}

int64_t PxTIFFGetTagValueN(const TTIFFIFDContext& Ctx, uint16_t Tag, uint32_t Index, int64_t Default)
{
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    if (!e || Index >= e->Count)
        return Default;
    const bool le = Ctx.LittleEndian;
    if (e->Type == 4 || e->Type == 9) {
        if (e->Count == 1)
            return e->Value;
        uint8_t b[4];
        if (!Ctx.Fits(int64_t(e->Value) + 4 * int64_t(Index), 4) ||
            Ctx.ReadAt(int64_t(e->Value) + 4 * int64_t(Index), b, 4) != 4)
            return Default;
        return PxGetU32(b, le);
    }
    if (e->Type == 3 || e->Type == 8) {
        if (e->Count <= 2) {
            const bool low = le ? Index == 0 : Index == 1;
            return low ? (e->Value & 0xFFFF) : (e->Value >> 16);
        }
        uint8_t b[2];
        if (!Ctx.Fits(int64_t(e->Value) + 2 * int64_t(Index), 2) ||
            Ctx.ReadAt(int64_t(e->Value) + 2 * int64_t(Index), b, 2) != 2)
            return Default;
        return PxGetU16(b, le);
    }
    return Default;
}

std::vector<uint32_t> PxTIFFGetTagArray(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    std::vector<uint32_t> result;
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    if (!e || e->Count == 0)
        return result;
    const bool le = Ctx.LittleEndian;
    if (e->Count == 1) {
        result.push_back(uint32_t(PxTIFFGetTagValue(Ctx, Tag, 0)));
        return result;
    }
    int size = 0;
    if (e->Type == 4 || e->Type == 9)
        size = 4;
    else if (e->Type == 3 || e->Type == 8)
        size = 2;
    else
        return result;
    if (size == 2 && e->Count == 2) {
        result.push_back(uint32_t(PxTIFFGetTagValueN(Ctx, Tag, 0, 0)));
        result.push_back(uint32_t(PxTIFFGetTagValueN(Ctx, Tag, 1, 0)));
        return result;
    }
    const int64_t bytes = int64_t(e->Count) * size;  // at most 2^34: no overflow
    if (!Ctx.Fits(e->Value, bytes))
        return result;
    std::vector<uint8_t> raw(static_cast<size_t>(bytes));
    if (Ctx.ReadAt(e->Value, raw.data(), bytes) != bytes)
        return result;
    result.resize(e->Count);
    for (size_t i = 0; i < e->Count; ++i)
        result[i] = size == 4 ? PxGetU32(raw.data() + 4 * i, le) : PxGetU16(raw.data() + 2 * i, le);
    return result;
}

double PxTIFFGetRationalN(const TTIFFIFDContext& Ctx, uint16_t Tag, uint32_t Index, double Default)
{
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    if (!e || Index >= e->Count || (e->Type != 5 && e->Type != 10))
        return Default;
    const int64_t at = int64_t(e->Value) + 8 * int64_t(Index);
    uint8_t b[8];
    if (!Ctx.Fits(at, 8) || Ctx.ReadAt(at, b, 8) != 8)
        return Default;
    const int32_t num = int32_t(PxGetU32(b, Ctx.LittleEndian));
    int32_t den = int32_t(PxGetU32(b + 4, Ctx.LittleEndian));
    if (den == 0)
        den = 1;
    return double(num) / double(den);
}

double PxTIFFGetNumberN(const TTIFFIFDContext& Ctx, uint16_t Tag, uint32_t Index, double Default)
{
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    if (!e || Index >= e->Count || e->Type == 2 || e->Type == 7)
        return Default;
    const int size = e->Type == 11 ? 4 : e->Type == 12 ? 8 : TypeSize(e->Type);
    if (size == 0)
        return Default;
    const bool le = Ctx.LittleEndian;
    uint8_t b[8] = {};
    if (int64_t(e->Count) * size <= 4) {
        for (int i = 0; i < size; ++i)
            b[i] = ValueByte(*e, le, int(Index) * size + i);
    } else {
        const int64_t at = int64_t(e->Value) + int64_t(Index) * size;
        if (!Ctx.Fits(at, size) || Ctx.ReadAt(at, b, size) != size)
            return Default;
    }
    const auto pair = [&](auto Cast) {
        const double num = double(Cast(PxGetU32(b, le)));
        const double den = double(Cast(PxGetU32(b + 4, le)));
        return num / (den == 0 ? 1.0 : den);
    };
    switch (e->Type) {
    case 1: return b[0];
    case 6: return int8_t(b[0]);
    case 3: return PxGetU16(b, le);
    case 8: return int16_t(PxGetU16(b, le));
    case 4: return PxGetU32(b, le);
    case 9: return int32_t(PxGetU32(b, le));
    case 5: return pair([](uint32_t v) { return v; });
    case 10: return pair([](uint32_t v) { return int32_t(v); });
    case 11: return std::bit_cast<float>(PxGetU32(b, le));
    case 12: {
        const uint64_t first = PxGetU32(b, le), second = PxGetU32(b + 4, le);
        return std::bit_cast<double>(le ? first | (second << 32) : (first << 32) | second);
    }
    default: return Default;
    }
}

std::vector<uint8_t> PxTIFFGetTagBytes(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    std::vector<uint8_t> result;
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    if (!e)
        return result;
    const int size = TypeSize(e->Type);
    const int64_t bytes = int64_t(e->Count) * size;
    if (size == 0 || bytes == 0)
        return result;
    if (bytes <= 4) {
        for (int i = 0; i < bytes; ++i)
            result.push_back(ValueByte(*e, Ctx.LittleEndian, i));
        return result;
    }
    if (!Ctx.Fits(e->Value, bytes))
        return result;
    result.resize(size_t(bytes));
    if (Ctx.ReadAt(e->Value, result.data(), bytes) != bytes)
        result.clear();
    return result;
}

std::string PxTIFFGetInlineString(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    std::string s;
    // Only the four bytes of the value word are ever taken: a longer count
    // does not describe inline data.
    if (!e || e->Count < 1 || e->Count > 4)
        return s;
    for (uint32_t i = 0; i < e->Count; ++i)
        s.push_back(char(ValueByte(*e, Ctx.LittleEndian, int(i))));
    return s;
}

std::string PxTIFFGetTagString(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    if (!e)
        return std::string();
    if (e->Count <= 4) {
        // Short texts lie in the value word; their terminator goes like the
        // trailing zeros of longer ones.
        std::string s = PxTIFFGetInlineString(Ctx, Tag);
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        return s;
    }
    if (e->Count > kMaxStringCount || !Ctx.Fits(e->Value, e->Count))
        return std::string();
    std::string s(e->Count, '\0');
    const int64_t got = Ctx.ReadAt(e->Value, s.data(), e->Count);
    s.resize(size_t(got < 0 ? 0 : got));
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

std::wstring PxTIFFGetTagWideString(const TTIFFIFDContext& Ctx, uint16_t Tag)
{
    const TTIFFIFDEntry* e = Find(Ctx, Tag);
    std::wstring s;
    if (!e || e->Count == 0)
        return s;
    if (e->Count <= 4) {
        const uint16_t c = uint16_t(ValueByte(*e, Ctx.LittleEndian, 0) | (ValueByte(*e, Ctx.LittleEndian, 1) << 8));
        s.push_back(wchar_t(c));
        return s;
    }
    if (e->Count > kMaxStringCount || !Ctx.Fits(e->Value, e->Count))
        return s;
    const uint32_t chars = (e->Count - 2) / 2;
    std::vector<uint8_t> raw(size_t(chars) * 2);
    if (Ctx.ReadAt(e->Value, raw.data(), int64_t(raw.size())) != int64_t(raw.size()))
        return s;
    for (uint32_t i = 0; i < chars; ++i)
        s.push_back(wchar_t(raw[2 * i] | (raw[2 * i + 1] << 8)));
    return s;
}

}  // namespace imaging
