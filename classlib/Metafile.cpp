#include "classlib/Metafile.h"
#include "classlib/ByteOrder.h"
#include "classlib/WinHandles.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace classlib {

namespace {

[[noreturn]] void InvalidMetafile() { throw EInvalidGraphic(L"Metafile is not valid"); }


constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kMetaHeaderSize = 18;
constexpr size_t kEnhHeaderMin = 88;
constexpr int kHiMetricPerInch = 2540;

// The screen's logical pixels per inch.
void ScreenPixelsPerInch(int& x, int& y)
{
    TScreenDC dc;
    x = dc.Get() ? ::GetDeviceCaps(dc.Get(), LOGPIXELSX) : 96;
    y = dc.Get() ? ::GetDeviceCaps(dc.Get(), LOGPIXELSY) : 96;
    if (x <= 0) x = 96;
    if (y <= 0) y = 96;
}

void ReadExactly(TStream* Stream, void* Buffer, int64_t Count)
{
    if (Stream->Read(Buffer, Count) != Count) InvalidMetafile();
}


// ---- the records of an enhanced metafile that the system's player reads
// at fixed offsets: a record shorter than its fields, a count or a bitmap
// that reaches past its record, or an object index outside the table the
// header declares would have the player read outside the data.

// The least size of a record type (0: only the 8-byte record header).
uint32_t EmfLeastSize(uint32_t Type)
{
    switch (Type) {
    case EMR_SETWINDOWEXTEX: case EMR_SETWINDOWORGEX: case EMR_SETVIEWPORTEXTEX: case EMR_SETVIEWPORTORGEX:
    case EMR_SETBRUSHORGEX: case EMR_OFFSETCLIPRGN: case EMR_MOVETOEX: case EMR_LINETO: case EMR_RESIZEPALETTE:
    case EMR_EXTSELECTCLIPRGN: case EMR_CREATEPALETTE:
        return 16;
    case EMR_EOF: case EMR_SETPIXELV: case EMR_SETPALETTEENTRIES: return 20;
    case EMR_SETMAPPERFLAGS: case EMR_SETMAPMODE: case EMR_SETBKMODE: case EMR_SETPOLYFILLMODE: case EMR_SETROP2:
    case EMR_SETSTRETCHBLTMODE: case EMR_SETTEXTALIGN: case EMR_SETTEXTCOLOR: case EMR_SETBKCOLOR:
    case EMR_RESTOREDC: case EMR_SELECTOBJECT: case EMR_DELETEOBJECT: case EMR_SELECTPALETTE:
    case EMR_SETARCDIRECTION: case EMR_SETMITERLIMIT: case EMR_SELECTCLIPPATH: case EMR_GDICOMMENT:
    case EMR_SETICMMODE:
        return 12;
    case EMR_EXCLUDECLIPRECT: case EMR_INTERSECTCLIPRECT: case EMR_SCALEVIEWPORTEXTEX: case EMR_SCALEWINDOWEXTEX:
    case EMR_CREATEBRUSHINDIRECT: case EMR_ELLIPSE: case EMR_RECTANGLE: case EMR_EXTFLOODFILL: case EMR_FILLPATH:
    case EMR_STROKEANDFILLPATH: case EMR_STROKEPATH:
        return 24;
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16: case EMR_POLYLINETO16:
    case EMR_POLYDRAW: case EMR_POLYDRAW16: case EMR_CREATEPEN: case EMR_ANGLEARC:
        return 28;
    case EMR_SETCOLORADJUSTMENT: case EMR_SETWORLDTRANSFORM: case EMR_ROUNDRECT: case EMR_POLYPOLYLINE:
    case EMR_POLYPOLYGON: case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16: case EMR_INVERTRGN: case EMR_PAINTRGN:
    case EMR_CREATEMONOBRUSH: case EMR_CREATEDIBPATTERNBRUSHPT:
        return 32;
    case EMR_MODIFYWORLDTRANSFORM: case EMR_FILLRGN: return 36;
    case EMR_ARC: case EMR_CHORD: case EMR_PIE: case EMR_ARCTO: case EMR_POLYTEXTOUTA: case EMR_POLYTEXTOUTW:
        return 40;
    case EMR_FRAMERGN: return 44;
    case EMR_EXTCREATEPEN: return 52;
    case EMR_SETDIBITSTODEVICE: return 76;
    case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW: return 76;
    case EMR_STRETCHDIBITS: return 80;
    case EMR_BITBLT: return 100;
    case EMR_EXTCREATEFONTINDIRECTW: return 104;
    case EMR_STRETCHBLT: return 108;
    case EMR_MASKBLT: return 128;
    case EMR_PLGBLT: return 140;
    default: return 8;
    }
}

// The largest coordinate of a shape's box and the widest pen (logical
// units): the system's rasteriser walks a shape whole, and beyond these
// takes seconds to minutes for one record.
constexpr int32_t kEmfMaxCoordinate = 1 << 18;
constexpr uint32_t kEmfMaxPenWidth = 1 << 16;

// Offset + Count * Unit lies inside a record of Size bytes.
bool Within(uint64_t Offset, uint64_t Count, uint64_t Unit, uint32_t Size)
{
    return Count <= Size && Offset + Count * Unit <= Size;
}

bool EmfRecordSound(const uint8_t* R, uint32_t Size, uint32_t Handles)
{
    const uint32_t type = GetLE32(R);
    if (Size < EmfLeastSize(type))
        return false;
    auto at = [&](uint32_t Offset) { return GetLE32(R + Offset); };
    // A bitmap at (offset, size) pairs of offset fields; size 0 is none.
    auto bitmap = [&](uint32_t Field) {
        return at(Field + 4) == 0 || Within(at(Field), 1, at(Field + 4), Size);
    };
    // A text of its EMRTEXT at Field: the characters and their spacing.
    auto text = [&](uint32_t Field, uint32_t Unit) {
        const uint32_t chars = at(Field + 8);
        return Within(at(Field + 12), chars, Unit, Size) && (at(Field + 36) == 0 || Within(at(Field + 36), chars, 4, Size));
    };
    // The box of a shape: the system's rasteriser walks it whole.
    auto box = [&] {
        for (uint32_t f = 8; f < 24; f += 4) {
            const int32_t v = static_cast<int32_t>(at(f));
            if (v < -kEmfMaxCoordinate || v > kEmfMaxCoordinate)
                return false;
        }
        return true;
    };
    switch (type) {
    case EMR_ELLIPSE: case EMR_RECTANGLE: case EMR_ROUNDRECT: case EMR_ARC: case EMR_CHORD: case EMR_PIE:
    case EMR_ARCTO:
        return box();
    case EMR_POLYBEZIER: case EMR_POLYGON: case EMR_POLYLINE: case EMR_POLYBEZIERTO: case EMR_POLYLINETO:
        return Within(28, at(24), 8, Size);
    case EMR_POLYBEZIER16: case EMR_POLYGON16: case EMR_POLYLINE16: case EMR_POLYBEZIERTO16:
    case EMR_POLYLINETO16:
        return Within(28, at(24), 4, Size);
    case EMR_POLYDRAW: return Within(28, at(24), 9, Size);
    case EMR_POLYDRAW16: return Within(28, at(24), 5, Size);
    case EMR_POLYPOLYLINE: case EMR_POLYPOLYGON:
        return Within(32, at(24), 4, Size) && Within(32 + uint64_t{at(24)} * 4, at(28), 8, Size);
    case EMR_POLYPOLYLINE16: case EMR_POLYPOLYGON16:
        return Within(32, at(24), 4, Size) && Within(32 + uint64_t{at(24)} * 4, at(28), 4, Size);
    case EMR_CREATEPALETTE: return Within(16, GetLE16(R + 14), 4, Size) && at(8) > 0 && at(8) < Handles;
    case EMR_SETPALETTEENTRIES: return Within(20, at(16), 4, Size) && at(8) < Handles;
    case EMR_RESIZEPALETTE: return at(8) < Handles;
    case EMR_GDICOMMENT: return Within(12, at(8), 1, Size);
    case EMR_EXTSELECTCLIPRGN: return Within(16, at(8), 1, Size);
    case EMR_FILLRGN: case EMR_FRAMERGN: case EMR_INVERTRGN: case EMR_PAINTRGN:
        return Within(EmfLeastSize(type), at(24), 1, Size);
    case EMR_SELECTOBJECT: case EMR_SELECTPALETTE:
        // Stock objects have the top bit set.
        return (at(8) & 0x80000000u) != 0 || at(8) < Handles;
    case EMR_DELETEOBJECT: return at(8) < Handles;
    case EMR_CREATEPEN: return at(8) > 0 && at(8) < Handles && at(16) <= kEmfMaxPenWidth;
    case EMR_CREATEBRUSHINDIRECT: case EMR_EXTCREATEFONTINDIRECTW: return at(8) > 0 && at(8) < Handles;
    case EMR_CREATEMONOBRUSH: case EMR_CREATEDIBPATTERNBRUSHPT:
        return at(8) > 0 && at(8) < Handles && bitmap(16) && bitmap(24);
    case EMR_EXTCREATEPEN:
        return at(8) > 0 && at(8) < Handles && bitmap(12) && bitmap(20) && Within(52, at(48), 4, Size) &&
               at(32) <= kEmfMaxPenWidth;
    case EMR_BITBLT: case EMR_STRETCHBLT: return bitmap(84) && bitmap(92);
    case EMR_MASKBLT: return bitmap(84) && bitmap(92) && bitmap(112) && bitmap(120);
    case EMR_PLGBLT: return bitmap(100) && bitmap(108) && bitmap(124) && bitmap(132);
    case EMR_STRETCHDIBITS: case EMR_SETDIBITSTODEVICE: return bitmap(48) && bitmap(56);
    case EMR_EXTTEXTOUTA: case EMR_EXTTEXTOUTW: return text(36, type == EMR_EXTTEXTOUTW ? 2 : 1);
    case EMR_POLYTEXTOUTA: case EMR_POLYTEXTOUTW: {
        if (!Within(40, at(36), 40, Size))
            return false;
        for (uint32_t i = 0; i < at(36); ++i)
            if (!text(40 + 40 * i, type == EMR_POLYTEXTOUTW ? 2 : 1))
                return false;
        return true;
    }
    default: return true;
    }
}


// ---- the records of a Windows metafile that the system's player reads at
// fixed offsets: the least size of a record function (bytes, with its
// 6-byte header), and whether the counted points or characters of a record
// lie inside it. R is the record, Size its length in bytes.
bool WmfRecordSound(const uint8_t* R, uint64_t Size, uint16_t Objects)
{
    auto word = [&](uint64_t Offset) -> uint64_t { return Offset + 2 <= Size ? GetLE16(R + Offset) : 0; };
    uint64_t least = 6;
    switch (GetLE16(R + 4)) {
    case META_SETBKCOLOR: case META_SETTEXTCOLOR: case META_SETWINDOWORG: case META_SETVIEWPORTORG:
    case META_LINETO: case META_MOVETO:
        least = 10;
        break;
    case META_SETWINDOWEXT: case META_SETVIEWPORTEXT:
        // An extent of no width or height maps nothing: every later
        // coordinate would be divided by zero.
        return Size >= 10 && word(6) != 0 && word(8) != 0;
    case META_CREATEBRUSHINDIRECT: case META_RECTANGLE: case META_ELLIPSE: case META_INTERSECTCLIPRECT:
    case META_EXCLUDECLIPRECT:
        least = 14;
        break;
    case META_CREATEPENINDIRECT: least = 16; break;
    case META_ROUNDRECT: least = 18; break;
    case META_ARC: case META_PIE: case META_CHORD: least = 22; break;
    case META_CREATEFONTINDIRECT: least = 24; break;
    case META_SELECTOBJECT: case META_DELETEOBJECT: case META_SELECTPALETTE:
        return Size >= 8 && word(6) < Objects;
    case META_POLYGON: case META_POLYLINE: least = 8 + word(6) * 4; break;
    case META_POLYPOLYGON: {
        uint64_t points = 0;
        for (uint64_t i = 0; i < word(6); ++i)
            points += word(8 + 2 * i);
        least = 8 + word(6) * 2 + points * 4;
        break;
    }
    case META_TEXTOUT: least = 8 + (word(6) + 1) / 2 * 2 + 4; break;
    case META_EXTTEXTOUT: {
        const uint64_t chars = word(10);
        const bool rect = (word(12) & (ETO_OPAQUE | ETO_CLIPPED)) != 0;
        least = 14 + (rect ? 8 : 0) + (chars + 1) / 2 * 2;
        break;
    }
    default: break;
    }
    return Size >= least;
}

}  // namespace

const TGraphicClass TMetafile::Class{L"TMetafile", []() -> TGraphic* { return new TMetafile; }};

TMetafile::TMetafile() = default;

TMetafile::~TMetafile()
{
    if (handle_) ::DeleteEnhMetaFile(handle_);
}

void TMetafile::Reset(HENHMETAFILE Handle, int MMWidth, int MMHeight, int Width, int Height, int Inch,
                      bool Enhanced)
{
    if (handle_ && handle_ != Handle) ::DeleteEnhMetaFile(handle_);
    handle_ = Handle;
    mmWidth_ = MMWidth;
    mmHeight_ = MMHeight;
    width_ = Width;
    height_ = Height;
    inch_ = Inch;
    enhanced_ = Enhanced;
    Changed(this);
}

void TMetafile::Assign(const TPersistent* Source)
{
    if (!Source) {
        Reset(nullptr, 0, 0, 0, 0, 0, true);
        return;
    }
    if (auto* mf = dynamic_cast<const TMetafile*>(Source)) {
        if (mf == this) return;
        HENHMETAFILE copy = mf->handle_ ? ::CopyEnhMetaFileW(mf->handle_, nullptr) : nullptr;
        if (mf->handle_ && !copy) throw EOutOfMemory(L"Out of system resources");
        Reset(copy, mf->mmWidth_, mf->mmHeight_, mf->width_, mf->height_, mf->inch_, mf->enhanced_);
        return;
    }
    TGraphic::Assign(Source);
}

void TMetafile::SetWidth(int Value)
{
    int ppiX, ppiY;
    ScreenPixelsPerInch(ppiX, ppiY);
    width_ = Value;
    mmWidth_ = ::MulDiv(Value, kHiMetricPerInch, ppiX);
    Changed(this);
}

void TMetafile::SetHeight(int Value)
{
    int ppiX, ppiY;
    ScreenPixelsPerInch(ppiX, ppiY);
    height_ = Value;
    mmHeight_ = ::MulDiv(Value, kHiMetricPerInch, ppiY);
    Changed(this);
}

void TMetafile::SetMMWidth(int Value)
{
    int ppiX, ppiY;
    ScreenPixelsPerInch(ppiX, ppiY);
    mmWidth_ = Value;
    width_ = ::MulDiv(Value, ppiX, kHiMetricPerInch);
    Changed(this);
}

void TMetafile::SetMMHeight(int Value)
{
    int ppiX, ppiY;
    ScreenPixelsPerInch(ppiX, ppiY);
    mmHeight_ = Value;
    height_ = ::MulDiv(Value, ppiY, kHiMetricPerInch);
    Changed(this);
}

void TMetafile::SetInch(int Value)
{
    if (Value == inch_) return;
    inch_ = Value;
    Changed(this);
}

void TMetafile::SetEnhanced(bool Value)
{
    if (Value == enhanced_) return;
    enhanced_ = Value;
    Changed(this);
}

void TMetafile::SetHandle(HENHMETAFILE Value)
{
    if (Value == handle_) return;
    if (!Value) {
        Reset(nullptr, 0, 0, 0, 0, 0, true);
        return;
    }
    ENHMETAHEADER h{};
    if (::GetEnhMetaFileHeader(Value, sizeof(h), &h) < kEnhHeaderMin) throw EInvalidGraphic(L"Metafile is not valid");
    int ppiX, ppiY;
    ScreenPixelsPerInch(ppiX, ppiY);
    int mmW = h.rclFrame.right - h.rclFrame.left;
    int mmH = h.rclFrame.bottom - h.rclFrame.top;
    Reset(Value, mmW, mmH, ::MulDiv(mmW, ppiX, kHiMetricPerInch), ::MulDiv(mmH, ppiY, kHiMetricPerInch), 0, true);
}

HENHMETAFILE TMetafile::ReleaseHandle()
{
    HENHMETAFILE h = handle_;
    handle_ = nullptr;
    Reset(nullptr, 0, 0, 0, 0, 0, true);
    return h;
}

void TMetafile::Draw(TCanvas* ACanvas, const RECT& R)
{
    if (!handle_ || !ACanvas) return;
    ::PlayEnhMetaFile(ACanvas->GetHandle(), handle_, &R);
}

void TMetafile::LoadFromStream(TStream* Stream)
{
    int64_t start = Stream->GetPosition();
    int64_t available = Stream->GetSize() - start;
    uint8_t key[4];
    if (available < 4) InvalidMetafile();
    ReadExactly(Stream, key, 4);
    Stream->SetPosition(start);
    if (GetLE32(key) == kPlaceableKey)
        ReadWMF(Stream, available);
    else
        ReadEMF(Stream, available);
}

void TMetafile::ReadWMF(TStream* Stream, int64_t Available)
{
    if (Available < static_cast<int64_t>(kPlaceableSize + kMetaHeaderSize)) InvalidMetafile();
    uint8_t placeable[kPlaceableSize];
    ReadExactly(Stream, placeable, kPlaceableSize);
    auto i16 = [&](size_t at) { return static_cast<int>(static_cast<int16_t>(GetLE16(placeable + at))); };
    int boxW = std::abs(i16(10) - i16(6));
    int boxH = std::abs(i16(12) - i16(8));
    int inch = GetLE16(placeable + 14);
    // A zero unit or an empty box gives no size (and would divide by zero).
    if (inch == 0 || boxW == 0 || boxH == 0) InvalidMetafile();

    uint8_t header[kMetaHeaderSize];
    ReadExactly(Stream, header, kMetaHeaderSize);
    uint16_t type = GetLE16(header), headerWords = GetLE16(header + 2);
    uint64_t bytes = static_cast<uint64_t>(GetLE32(header + 6)) * 2;
    if ((type != 1 && type != 2) || headerWords != kMetaHeaderSize / 2) InvalidMetafile();
    if (bytes < kMetaHeaderSize || bytes > static_cast<uint64_t>(Available) - kPlaceableSize) InvalidMetafile();
    std::vector<uint8_t> bits(static_cast<size_t>(bytes));
    std::memcpy(bits.data(), header, kMetaHeaderSize);
    ReadExactly(Stream, bits.data() + kMetaHeaderSize, static_cast<int64_t>(bytes - kMetaHeaderSize));

    // Every record must lie inside the metafile and be sound (see
    // WmfRecordSound: an object index names one of the table the header
    // declares); the end record stops.
    const uint16_t objects = GetLE16(header + 10);
    size_t at = kMetaHeaderSize;
    while (at < bits.size()) {
        if (bits.size() - at < 6) InvalidMetafile();
        uint64_t size = static_cast<uint64_t>(GetLE32(bits.data() + at)) * 2;
        if (size < 6 || size > bits.size() - at) InvalidMetafile();
        if (GetLE16(bits.data() + at + 4) == 0) break;  // META_EOF
        if (!WmfRecordSound(bits.data() + at, size, objects)) InvalidMetafile();
        at += static_cast<size_t>(size);
    }

    int ppiX, ppiY;
    ScreenPixelsPerInch(ppiX, ppiY);
    int mmW = ::MulDiv(boxW, kHiMetricPerInch, inch);
    int mmH = ::MulDiv(boxH, kHiMetricPerInch, inch);
    METAFILEPICT pict{MM_ANISOTROPIC, mmW, mmH, nullptr};
    TScreenDC dc;
    HENHMETAFILE h = ::SetWinMetaFileBits(static_cast<UINT>(bits.size()), bits.data(), dc.Get(), &pict);
    if (!h) InvalidMetafile();
    Reset(h, mmW, mmH, ::MulDiv(boxW, ppiX, inch), ::MulDiv(boxH, ppiY, inch), inch, false);
}

void TMetafile::ReadEMF(TStream* Stream, int64_t Available)
{
    if (Available < static_cast<int64_t>(kEnhHeaderMin)) InvalidMetafile();
    uint8_t header[kEnhHeaderMin];
    ReadExactly(Stream, header, kEnhHeaderMin);
    uint32_t type = GetLE32(header), headerSize = GetLE32(header + 4);
    uint32_t signature = GetLE32(header + 40), bytes = GetLE32(header + 48);
    if (type != EMR_HEADER || signature != ENHMETA_SIGNATURE) InvalidMetafile();
    if (headerSize < kEnhHeaderMin || headerSize > bytes || bytes > Available || (bytes & 3) != 0)
        InvalidMetafile();
    std::vector<uint8_t> bits(bytes);
    std::memcpy(bits.data(), header, kEnhHeaderMin);
    ReadExactly(Stream, bits.data() + kEnhHeaderMin, static_cast<int64_t>(bytes - kEnhHeaderMin));

    // Every record must lie inside the metafile and be sound (see
    // EmfRecordSound), and the last must be EMR_EOF. Each object of the
    // table the header declares is made by a record of 8 bytes or more.
    const uint32_t handles = GetLE16(header + 56);
    if (handles == 0 || handles > bytes / 8 + 1) InvalidMetafile();
    // The player scales by the reference device's pixels and millimetres:
    // both positive, at 0.1 to 1000 pixels a millimetre (screens and
    // printers lie well inside).
    for (size_t field = 72; field < 80; field += 4) {
        const int64_t pixels = static_cast<int32_t>(GetLE32(header + field));
        const int64_t mm = static_cast<int32_t>(GetLE32(header + field + 8));
        if (pixels <= 0 || mm <= 0 || pixels > mm * 1000 || mm > pixels * 10) InvalidMetafile();
    }
    size_t at = 0;
    bool sawEnd = false;
    while (at < bits.size()) {
        if (bits.size() - at < 8) InvalidMetafile();
        uint32_t size = GetLE32(bits.data() + at + 4);
        if (size < 8 || (size & 3) != 0 || size > bits.size() - at) InvalidMetafile();
        if (!EmfRecordSound(bits.data() + at, size, handles)) InvalidMetafile();
        if (GetLE32(bits.data() + at) == EMR_EOF) {
            // The player walks to the declared size, not to this record.
            sawEnd = at + size == bits.size();
            break;
        }
        at += size;
    }
    if (!sawEnd) InvalidMetafile();

    HENHMETAFILE h = ::SetEnhMetaFileBits(bytes, bits.data());
    if (!h) InvalidMetafile();
    auto frame = [&](size_t at) { return static_cast<int32_t>(GetLE32(header + at)); };
    int mmW = frame(32) - frame(24);
    int mmH = frame(36) - frame(28);
    int ppiX, ppiY;
    ScreenPixelsPerInch(ppiX, ppiY);
    Reset(h, mmW, mmH, ::MulDiv(mmW, ppiX, kHiMetricPerInch), ::MulDiv(mmH, ppiY, kHiMetricPerInch), 0, true);
}

void TMetafile::SaveToStream(TStream* Stream)
{
    if (!handle_) return;
    if (enhanced_) {
        UINT n = ::GetEnhMetaFileBits(handle_, 0, nullptr);
        if (n == 0) throw EInvalidGraphic(L"Metafile is not valid");
        std::vector<uint8_t> bits(n);
        if (::GetEnhMetaFileBits(handle_, n, bits.data()) != n) throw EInvalidGraphic(L"Metafile is not valid");
        Stream->WriteBuffer(bits.data(), n);
        return;
    }
    TScreenDC dc;
    UINT n = ::GetWinMetaFileBits(handle_, 0, nullptr, MM_ANISOTROPIC, dc.Get());
    if (n == 0) throw EInvalidGraphic(L"Metafile is not valid");
    std::vector<uint8_t> bits(n);
    if (::GetWinMetaFileBits(handle_, n, bits.data(), MM_ANISOTROPIC, dc.Get()) != n)
        throw EInvalidGraphic(L"Metafile is not valid");
    // The bounding box is in 16-bit units: coarsen the unit until it fits.
    int inch = inch_ > 0 ? inch_ : 1440;
    int boxW = ::MulDiv(mmWidth_, inch, kHiMetricPerInch);
    int boxH = ::MulDiv(mmHeight_, inch, kHiMetricPerInch);
    while (inch > 1 && (std::abs(boxW) > 32767 || std::abs(boxH) > 32767)) {
        inch /= 2;
        boxW = ::MulDiv(mmWidth_, inch, kHiMetricPerInch);
        boxH = ::MulDiv(mmHeight_, inch, kHiMetricPerInch);
    }
    uint8_t placeable[kPlaceableSize] = {};
    PutLE32(placeable, kPlaceableKey);
    PutLE16(placeable + 10, static_cast<uint32_t>(boxW) & 0xFFFF);
    PutLE16(placeable + 12, static_cast<uint32_t>(boxH) & 0xFFFF);
    PutLE16(placeable + 14, static_cast<uint32_t>(inch));
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2) checksum ^= GetLE16(placeable + i);
    PutLE16(placeable + 20, checksum);
    Stream->WriteBuffer(placeable, kPlaceableSize);
    Stream->WriteBuffer(bits.data(), n);
}

void TMetafile::LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE)
{
    if (Format != CF_ENHMETAFILE) throw EInvalidGraphic(L"Unsupported clipboard format");
    if (!Data) Data = ::GetClipboardData(Format);
    if (!Data) throw EInvalidGraphic(L"Metafile is not valid");
    HENHMETAFILE copy = ::CopyEnhMetaFileW(static_cast<HENHMETAFILE>(Data), nullptr);
    if (!copy) throw EInvalidGraphic(L"Metafile is not valid");
    try {
        SetHandle(copy);
    } catch (...) {
        ::DeleteEnhMetaFile(copy);
        throw;
    }
}

void TMetafile::SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette)
{
    Format = CF_ENHMETAFILE;
    Data = nullptr;
    Palette = nullptr;
    if (!handle_) return;
    Data = ::CopyEnhMetaFileW(handle_, nullptr);
    if (!Data) throw EOutOfMemory(L"Out of system resources");
}

}  // namespace classlib
