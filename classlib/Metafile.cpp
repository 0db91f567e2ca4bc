#include "classlib/Metafile.h"
#include "classlib/WinHandles.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace classlib {

namespace {

[[noreturn]] void InvalidMetafile() { throw EInvalidGraphic(L"Metafile is not valid"); }

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint32_t x)
{
    p[0] = static_cast<uint8_t>(x);
    p[1] = static_cast<uint8_t>(x >> 8);
}
void Put32(uint8_t* p, uint32_t x)
{
    Put16(p, x & 0xFFFF);
    Put16(p + 2, x >> 16);
}

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
    if (U32(key) == kPlaceableKey)
        ReadWMF(Stream, available);
    else
        ReadEMF(Stream, available);
}

void TMetafile::ReadWMF(TStream* Stream, int64_t Available)
{
    if (Available < static_cast<int64_t>(kPlaceableSize + kMetaHeaderSize)) InvalidMetafile();
    uint8_t placeable[kPlaceableSize];
    ReadExactly(Stream, placeable, kPlaceableSize);
    auto i16 = [&](size_t at) { return static_cast<int>(static_cast<int16_t>(U16(placeable + at))); };
    int boxW = std::abs(i16(10) - i16(6));
    int boxH = std::abs(i16(12) - i16(8));
    int inch = U16(placeable + 14);
    // A zero unit or an empty box gives no size (and would divide by zero).
    if (inch == 0 || boxW == 0 || boxH == 0) InvalidMetafile();

    uint8_t header[kMetaHeaderSize];
    ReadExactly(Stream, header, kMetaHeaderSize);
    uint16_t type = U16(header), headerWords = U16(header + 2);
    uint64_t bytes = static_cast<uint64_t>(U32(header + 6)) * 2;
    if ((type != 1 && type != 2) || headerWords != kMetaHeaderSize / 2) InvalidMetafile();
    if (bytes < kMetaHeaderSize || bytes > static_cast<uint64_t>(Available) - kPlaceableSize) InvalidMetafile();
    std::vector<uint8_t> bits(static_cast<size_t>(bytes));
    std::memcpy(bits.data(), header, kMetaHeaderSize);
    ReadExactly(Stream, bits.data() + kMetaHeaderSize, static_cast<int64_t>(bytes - kMetaHeaderSize));

    // Every record must lie inside the metafile; the end record stops.
    size_t at = kMetaHeaderSize;
    while (at < bits.size()) {
        if (bits.size() - at < 6) InvalidMetafile();
        uint64_t size = static_cast<uint64_t>(U32(bits.data() + at)) * 2;
        if (size < 6 || size > bits.size() - at) InvalidMetafile();
        if (U16(bits.data() + at + 4) == 0) break;  // META_EOF
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
    uint32_t type = U32(header), headerSize = U32(header + 4);
    uint32_t signature = U32(header + 40), bytes = U32(header + 48);
    if (type != EMR_HEADER || signature != ENHMETA_SIGNATURE) InvalidMetafile();
    if (headerSize < kEnhHeaderMin || headerSize > bytes || bytes > Available || (bytes & 3) != 0)
        InvalidMetafile();
    std::vector<uint8_t> bits(bytes);
    std::memcpy(bits.data(), header, kEnhHeaderMin);
    ReadExactly(Stream, bits.data() + kEnhHeaderMin, static_cast<int64_t>(bytes - kEnhHeaderMin));

    // Every record must lie inside the metafile and the last must be EMR_EOF.
    size_t at = 0;
    bool sawEnd = false;
    while (at < bits.size()) {
        if (bits.size() - at < 8) InvalidMetafile();
        uint32_t size = U32(bits.data() + at + 4);
        if (size < 8 || (size & 3) != 0 || size > bits.size() - at) InvalidMetafile();
        if (U32(bits.data() + at) == EMR_EOF) {
            sawEnd = true;
            break;
        }
        at += size;
    }
    if (!sawEnd) InvalidMetafile();

    HENHMETAFILE h = ::SetEnhMetaFileBits(bytes, bits.data());
    if (!h) InvalidMetafile();
    auto frame = [&](size_t at) { return static_cast<int32_t>(U32(header + at)); };
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
    Put32(placeable, kPlaceableKey);
    Put16(placeable + 10, static_cast<uint32_t>(boxW) & 0xFFFF);
    Put16(placeable + 12, static_cast<uint32_t>(boxH) & 0xFFFF);
    Put16(placeable + 14, static_cast<uint32_t>(inch));
    uint16_t checksum = 0;
    for (size_t i = 0; i < 20; i += 2) checksum ^= U16(placeable + i);
    Put16(placeable + 20, checksum);
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
