#include "imaging/io/platform/HdpCheck.h"

#include <cstring>
#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Streams.h"

namespace imaging {

namespace {

constexpr uint16_t kTagPixelFormat = 0xBC01;
constexpr uint16_t kTagTransformation = 0xBC02;
constexpr uint16_t kTagWidth = 0xBC80;
constexpr uint16_t kTagHeight = 0xBC81;
constexpr uint16_t kTagImageOffset = 0xBCC0;
constexpr uint16_t kTagImageBytes = 0xBCC1;
constexpr uint16_t kTagAlphaOffset = 0xBCC2;
constexpr uint16_t kTagAlphaBytes = 0xBCC3;

constexpr int kMaxDirectories = 4;
constexpr uint32_t kMaxEntries = 512;
constexpr char kCodestreamSignature[8] = {'W', 'M', 'P', 'H', 'O', 'T', 'O', '\0'};

// Bytes of one value of a field type (0: not a type of the format).
uint32_t TypeSize(uint16_t Type)
{
    switch (Type) {
    case 1:   // BYTE
    case 2:   // ASCII
    case 6:   // SBYTE
    case 7:   // UNDEFINED
        return 1;
    case 3:   // SHORT
    case 8:   // SSHORT
        return 2;
    case 4:   // LONG
    case 9:   // SLONG
    case 11:  // FLOAT
        return 4;
    case 5:   // RATIONAL
    case 10:  // SRATIONAL
    case 12:  // DOUBLE
        return 8;
    default: return 0;
    }
}

struct TEntry {
    uint16_t Tag = 0, Type = 0;
    uint32_t Count = 0, Value = 0;
};

// The one value of a BYTE, SHORT or LONG entry (held in the value field);
// false for another type or count.
bool Scalar(const TEntry& E, uint32_t& Out)
{
    if (E.Count != 1 || (E.Type != 1 && E.Type != 3 && E.Type != 4))
        return false;
    Out = E.Type == 1 ? (E.Value & 0xFF) : E.Type == 3 ? (E.Value & 0xFFFF) : E.Value;
    return true;
}

class TChecker {
public:
    explicit TChecker(classlib::TStream& Stream) : s_(Stream), base_(Stream.GetPosition())
    {
        size_ = Stream.GetSize() - base_;
    }

    TPxReadFailure Run()
    {
        uint8_t h[8];
        if (!ReadAt(0, h, 8))
            return TPxReadFailure::Truncated;
        if (h[0] != 'I' || h[1] != 'I' || h[2] != 0xBC || h[3] != 1)
            return TPxReadFailure::BadHeader;
        uint32_t at = classlib::GetLE32(h + 4);
        bool first = true;
        for (int k = 0; at != 0; ++k) {
            if (k == kMaxDirectories)
                return TPxReadFailure::BadHeader;
            uint32_t next = 0;
            if (TPxReadFailure f = Directory(at, first, next); f != TPxReadFailure::None)
                return f;
            first = false;
            at = next;
        }
        return TPxReadFailure::None;
    }

private:

    bool Inside(int64_t Offset, int64_t Count) const
    {
        return Offset >= 0 && Count >= 0 && Offset <= size_ && Count <= size_ - Offset;
    }

    bool ReadAt(int64_t Offset, void* Out, int64_t Count)
    {
        if (!Inside(Offset, Count))
            return false;
        s_.SetPosition(base_ + Offset);
        return PxReadExact(s_, Out, Count);
    }

    // One directory at At: its entries, and for the first the image's
    // fields; Next gets the offset of the following directory (0: none).
    TPxReadFailure Directory(uint32_t At, bool First, uint32_t& Next)
    {
        uint8_t countBytes[2];
        if (At < 8 || !ReadAt(At, countBytes, 2))
            return TPxReadFailure::BadHeader;
        const uint32_t n = classlib::GetLE16(countBytes);
        if (n == 0 || n > kMaxEntries)
            return TPxReadFailure::BadHeader;
        std::vector<uint8_t> raw(size_t(n) * 12 + 4);
        if (!ReadAt(int64_t(At) + 2, raw.data(), int64_t(raw.size())))
            return TPxReadFailure::Truncated;
        std::vector<TEntry> entries(n);
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* e = raw.data() + size_t(i) * 12;
            TEntry& t = entries[i];
            t.Tag = classlib::GetLE16(e);
            t.Type = classlib::GetLE16(e + 2);
            t.Count = classlib::GetLE32(e + 4);
            t.Value = classlib::GetLE32(e + 8);
            const uint32_t unit = TypeSize(t.Type);
            if (unit == 0 || t.Count == 0)
                return TPxReadFailure::BadHeader;
            const int64_t bytes = int64_t(unit) * t.Count;
            if (bytes > 4 && !Inside(t.Value, bytes))
                return TPxReadFailure::Truncated;
        }
        Next = classlib::GetLE32(raw.data() + size_t(n) * 12);
        return First ? Image(entries) : TPxReadFailure::None;
    }

    TPxReadFailure Image(const std::vector<TEntry>& Entries)
    {
        // The one-value fields of the image, each at most once.
        struct TField {
            uint16_t Tag;
            bool Given = false;
            uint32_t Value = 0;
        };
        TField fields[] = {{kTagTransformation}, {kTagWidth},       {kTagHeight},      {kTagImageOffset},
                           {kTagImageBytes},     {kTagAlphaOffset}, {kTagAlphaBytes}};
        auto field = [&fields](uint16_t Tag) -> TField& {
            for (TField& f : fields)
                if (f.Tag == Tag)
                    return f;
            return fields[0];
        };
        bool format = false;
        for (const TEntry& e : Entries) {
            if (e.Tag == kTagPixelFormat) {
                if (e.Count != 16 || (e.Type != 1 && e.Type != 7))
                    return TPxReadFailure::BadHeader;
                format = true;
                continue;
            }
            for (TField& f : fields)
                if (f.Tag == e.Tag && (f.Given || !(f.Given = Scalar(e, f.Value))))
                    return TPxReadFailure::BadHeader;
        }
        const TField& alphaAt = field(kTagAlphaOffset);
        const TField& alphaBytes = field(kTagAlphaBytes);
        if (!format || !field(kTagWidth).Given || !field(kTagHeight).Given || !field(kTagImageOffset).Given ||
            !field(kTagImageBytes).Given || alphaAt.Given != alphaBytes.Given || field(kTagTransformation).Value > 7)
            return TPxReadFailure::BadHeader;
        const uint32_t w = field(kTagWidth).Value, h = field(kTagHeight).Value;
        const uint32_t dataAt = field(kTagImageOffset).Value, dataBytes = field(kTagImageBytes).Value;
        if (w == 0 || h == 0)
            return TPxReadFailure::NoImage;
        // The widest pixel formats take 16 bytes (four 32-bit channels).
        TPxRasterCheck check;
        check.Width = w;
        check.Height = h;
        check.CodedBits = 128;
        check.Coding = TPxCoding::Unbounded;
        if (TPxReadFailure f = PxCheckRaster(check); f != TPxReadFailure::None)
            return f;
        if (dataBytes < sizeof kCodestreamSignature || !Inside(dataAt, dataBytes))
            return TPxReadFailure::Truncated;
        if (alphaAt.Given && (alphaBytes.Value == 0 || !Inside(alphaAt.Value, alphaBytes.Value)))
            return TPxReadFailure::Truncated;
        char signature[sizeof kCodestreamSignature];
        if (!ReadAt(dataAt, signature, sizeof signature) ||
            std::memcmp(signature, kCodestreamSignature, sizeof signature) != 0)
            return TPxReadFailure::BadHeader;
        return TPxReadFailure::None;
    }

    classlib::TStream& s_;
    int64_t base_;
    int64_t size_ = 0;
};

}  // namespace

TPxReadFailure PxCheckHDPhotoStructure(classlib::TStream& Stream)
{
    const int64_t start = Stream.GetPosition();
    TPxReadFailure result = TPxReadFailure::Unreadable;
    try {
        result = TChecker(Stream).Run();
    } catch (...) {
        result = TPxReadFailure::Unreadable;
    }
    try {
        Stream.SetPosition(start);
    } catch (...) {
        result = TPxReadFailure::Unreadable;
    }
    return result;
}

}  // namespace imaging
