#include "classlib/Bitmap.h"
#include "classlib/ByteOrder.h"
#include "classlib/WinHandles.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace classlib {

namespace {

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic(L"Bitmap image is not valid"); }
[[noreturn]] void OutOfResources() { throw EOutOfMemory(L"Out of system resources"); }

int FormatBits(TPixelFormat f)
{
    switch (f) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
    default: return 0;
    }
}

TPixelFormat ScreenFormat()
{
    TScreenDC dc;
    int bits = dc.Get() ? ::GetDeviceCaps(dc.Get(), BITSPIXEL) * ::GetDeviceCaps(dc.Get(), PLANES) : 32;
    if (bits >= 32) return pf32bit;
    if (bits >= 24) return pf24bit;
    if (bits == 16) return pf16bit;
    if (bits == 15) return pf15bit;
    return pf8bit;
}

int64_t Stride(int64_t width, int bits) { return ((width * bits + 31) / 32) * 4; }

RGBQUAD Quad(int r, int g, int b)
{
    RGBQUAD q;
    q.rgbRed = static_cast<BYTE>(r);
    q.rgbGreen = static_cast<BYTE>(g);
    q.rgbBlue = static_cast<BYTE>(b);
    q.rgbReserved = 0;
    return q;
}

uint32_t QuadToPixel(const RGBQUAD& q) { return (uint32_t(q.rgbRed) << 16) | (uint32_t(q.rgbGreen) << 8) | q.rgbBlue; }

// Default colour tables: black/white; the 16 VGA colours; the 216-colour
// cube (index r*36 + g*6 + b, steps of 51) followed by 40 greys.
std::vector<RGBQUAD> DefaultTable(int bits)
{
    std::vector<RGBQUAD> t;
    if (bits == 1) {
        t = {Quad(0, 0, 0), Quad(255, 255, 255)};
    } else if (bits == 4) {
        static const int vga[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                       {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                       {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                       {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        for (auto& c : vga) t.push_back(Quad(c[0], c[1], c[2]));
    } else if (bits == 8) {
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b) t.push_back(Quad(r * 51, g * 51, b * 51));
        for (int i = 1; i <= 40; ++i) {
            int v = (i * 255 + 20) / 41;
            t.push_back(Quad(v, v, v));
        }
    }
    return t;
}

bool SameColors(const std::vector<RGBQUAD>& a, const std::vector<RGBQUAD>& b, size_t count)
{
    if (a.size() < count || b.size() < count) return false;
    for (size_t i = 0; i < count; ++i)
        if (a[i].rgbRed != b[i].rgbRed || a[i].rgbGreen != b[i].rgbGreen || a[i].rgbBlue != b[i].rgbBlue) return false;
    return true;
}

std::vector<RGBQUAD> PaletteTable(HPALETTE pal)
{
    std::vector<RGBQUAD> t;
    if (!pal) return t;
    WORD count = 0;
    if (::GetObjectW(pal, sizeof(count), &count) <= 0 || count == 0) return t;
    std::vector<PALETTEENTRY> e(count);
    UINT got = ::GetPaletteEntries(pal, 0, count, e.data());
    for (UINT i = 0; i < got; ++i) t.push_back(Quad(e[i].peRed, e[i].peGreen, e[i].peBlue));
    return t;
}

HPALETTE MakePalette(const std::vector<RGBQUAD>& t)
{
    if (t.empty()) return nullptr;
    std::vector<unsigned char> buf(sizeof(LOGPALETTE) + t.size() * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(t.size());
    for (size_t i = 0; i < t.size(); ++i)
        lp->palPalEntry[i] = PALETTEENTRY{t[i].rgbRed, t[i].rgbGreen, t[i].rgbBlue, 0};
    return ::CreatePalette(lp);
}

HPALETTE CopyPaletteHandle(HPALETTE pal) { return MakePalette(PaletteTable(pal)); }

// Maps colours to the nearest entry of a colour table (squared distance,
// first of equals), caching every colour seen.
class NearestColor {
public:
    explicit NearestColor(const std::vector<RGBQUAD>& table) : table_(table) {}
    int Index(uint32_t rgb)
    {
        auto it = cache_.find(rgb);
        if (it != cache_.end()) return it->second;
        int r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
        int best = 0;
        long bestDist = std::numeric_limits<long>::max();
        for (size_t i = 0; i < table_.size(); ++i) {
            long dr = r - table_[i].rgbRed, dg = g - table_[i].rgbGreen, db = b - table_[i].rgbBlue;
            long d = dr * dr + dg * dg + db * db;
            if (d < bestDist) {
                bestDist = d;
                best = static_cast<int>(i);
                if (d == 0) break;
            }
        }
        cache_.emplace(rgb, best);
        return best;
    }

private:
    const std::vector<RGBQUAD>& table_;
    std::unordered_map<uint32_t, int> cache_;
};

// One channel of a bit-field pixel scaled to 0-255.
struct Channel {
    explicit Channel(DWORD mask)
    {
        if (!mask) return;
        while (!(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        while (mask & 1) {
            mask >>= 1;
            ++bits;
        }
        max = (1u << std::min(bits, 31)) - 1;
    }
    int Get(uint32_t v) const
    {
        if (!bits) return 0;
        uint32_t c = (v >> shift) & max;
        if (bits >= 8) return static_cast<int>(c >> (bits - 8));
        return static_cast<int>((c * 255 + max / 2) / max);
    }
    int shift = 0, bits = 0;
    uint32_t max = 0;
};

struct BitmapInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// Builds the BITMAPINFO of a bottom-up DIB.
void FillInfo(BitmapInfo& bi, int w, int h, int bits, bool bitfields, const DWORD* masks,
              const std::vector<RGBQUAD>& table)
{
    std::memset(&bi, 0, sizeof(bi));
    bi.header.biSize = sizeof(BITMAPINFOHEADER);
    bi.header.biWidth = w;
    bi.header.biHeight = h;
    bi.header.biPlanes = 1;
    bi.header.biBitCount = static_cast<WORD>(bits);
    bi.header.biCompression = bitfields ? BI_BITFIELDS : BI_RGB;
    if (bitfields) {
        std::memcpy(bi.colors, masks, 3 * sizeof(DWORD));
    } else if (bits <= 8) {
        size_t n = std::min<size_t>(table.size(), size_t(1) << bits);
        bi.header.biClrUsed = static_cast<DWORD>(n);
        std::copy(table.begin(), table.begin() + static_cast<ptrdiff_t>(n), bi.colors);
    }
}

// Reads a bitmap as top-down 32-bit pixels (w x h) into pixels; answers
// the number of lines copied (0 on failure).
int ReadTopDown32(HBITMAP bitmap, int w, int h, uint32_t* pixels)
{
    BitmapInfo bi;
    FillInfo(bi, w, -h, 32, false, nullptr, {});
    TScreenDC dc;
    return ::GetDIBits(dc.Get(), bitmap, 0, static_cast<UINT>(h), pixels, reinterpret_cast<BITMAPINFO*>(&bi),
                       DIB_RGB_COLORS);
}

HBITMAP CreateSection(const BitmapInfo& bi, void** bits)
{
    TScreenDC dc;
    HBITMAP h = ::CreateDIBSection(dc.Get(), reinterpret_cast<const BITMAPINFO*>(&bi), DIB_RGB_COLORS, bits,
                                   nullptr, 0);
    if (!h || !*bits) {
        if (h) ::DeleteObject(h);
        OutOfResources();
    }
    return h;
}

// Fills every row of a DIB with white (the nearest table entry for palette
// formats).
void FillWhite(uint8_t* bits, int64_t stride, int h, int bpp, const std::vector<RGBQUAD>& table)
{
    uint8_t value = 0xFF;
    if (bpp <= 8) {
        NearestColor nc(table);
        int idx = nc.Index(0xFFFFFF);
        value = bpp == 1 ? (idx ? 0xFF : 0) : bpp == 4 ? static_cast<uint8_t>(idx * 0x11) : static_cast<uint8_t>(idx);
    }
    std::memset(bits, value, static_cast<size_t>(stride * h));
}

// Decodes one DIB row into 0x00RRGGBB pixels.
void DecodeRow(const uint8_t* src, uint32_t* dst, int w, int bpp, bool bitfields, const DWORD* masks,
               const std::vector<RGBQUAD>& table)
{
    auto fromIndex = [&](unsigned i) { return i < table.size() ? QuadToPixel(table[i]) : 0u; };
    switch (bpp) {
    case 1:
        for (int x = 0; x < w; ++x) dst[x] = fromIndex((src[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case 4:
        for (int x = 0; x < w; ++x) dst[x] = fromIndex((x & 1) ? (src[x >> 1] & 15) : (src[x >> 1] >> 4));
        break;
    case 8:
        for (int x = 0; x < w; ++x) dst[x] = fromIndex(src[x]);
        break;
    case 16: {
        DWORD m[3] = {0x7C00, 0x03E0, 0x001F};
        if (bitfields) std::memcpy(m, masks, sizeof(m));
        Channel r(m[0]), g(m[1]), b(m[2]);
        for (int x = 0; x < w; ++x) {
            uint32_t v = src[2 * x] | (uint32_t(src[2 * x + 1]) << 8);
            dst[x] = (uint32_t(r.Get(v)) << 16) | (uint32_t(g.Get(v)) << 8) | uint32_t(b.Get(v));
        }
        break;
    }
    case 24:
        for (int x = 0; x < w; ++x)
            dst[x] = (uint32_t(src[3 * x + 2]) << 16) | (uint32_t(src[3 * x + 1]) << 8) | src[3 * x];
        break;
    case 32:
        if (bitfields) {
            Channel r(masks[0]), g(masks[1]), b(masks[2]);
            for (int x = 0; x < w; ++x) {
                uint32_t v;
                std::memcpy(&v, src + 4 * x, 4);
                dst[x] = (uint32_t(r.Get(v)) << 16) | (uint32_t(g.Get(v)) << 8) | uint32_t(b.Get(v));
            }
        } else {
            for (int x = 0; x < w; ++x)
                dst[x] = (uint32_t(src[4 * x + 2]) << 16) | (uint32_t(src[4 * x + 1]) << 8) | src[4 * x];
        }
        break;
    default:
        std::fill(dst, dst + w, 0u);
    }
}

// Encodes 0x00RRGGBB pixels into one row of the given layout.
void EncodeRow(const uint32_t* src, uint8_t* dst, int w, TPixelFormat f, NearestColor* nc)
{
    switch (f) {
    case pf1bit:
        std::memset(dst, 0, static_cast<size_t>((w + 7) / 8));
        for (int x = 0; x < w; ++x)
            if (nc->Index(src[x] & 0xFFFFFF) & 1) dst[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        break;
    case pf4bit:
        std::memset(dst, 0, static_cast<size_t>((w + 1) / 2));
        for (int x = 0; x < w; ++x) {
            int i = nc->Index(src[x] & 0xFFFFFF) & 15;
            dst[x >> 1] |= static_cast<uint8_t>((x & 1) ? i : (i << 4));
        }
        break;
    case pf8bit:
        for (int x = 0; x < w; ++x) dst[x] = static_cast<uint8_t>(nc->Index(src[x] & 0xFFFFFF));
        break;
    case pf15bit:
    case pf16bit:
        for (int x = 0; x < w; ++x) {
            uint32_t r = (src[x] >> 16) & 255, g = (src[x] >> 8) & 255, b = src[x] & 255;
            uint32_t v = f == pf15bit ? ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)
                                      : ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
            dst[2 * x] = static_cast<uint8_t>(v);
            dst[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        }
        break;
    case pf24bit:
        for (int x = 0; x < w; ++x) {
            dst[3 * x] = static_cast<uint8_t>(src[x]);
            dst[3 * x + 1] = static_cast<uint8_t>(src[x] >> 8);
            dst[3 * x + 2] = static_cast<uint8_t>(src[x] >> 16);
        }
        break;
    case pf32bit:
        for (int x = 0; x < w; ++x) {
            uint32_t v = src[x] & 0xFFFFFF;
            std::memcpy(dst + 4 * x, &v, 4);
        }
        break;
    default:
        break;
    }
}

// A read-only stream over a block of memory (resources).
class MemoryReader : public TStream {
public:
    MemoryReader(const void* data, int64_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    int64_t Read(void* buffer, int64_t count) override
    {
        int64_t n = std::max<int64_t>(0, std::min(count, size_ - pos_));
        if (n) std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? pos_ : size_;
        pos_ = std::max<int64_t>(0, base + offset);
        return pos_;
    }

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t pos_ = 0;
};

}  // namespace

// ------------------------------------------------------------ TBitmapCanvas

// The canvas of a bitmap: a memory DC of its own with the bitmap selected.
// The DC lives as long as the canvas; a new or released bitmap handle is
// selected into it in place of the old one.
class TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap* bitmap) : bitmap_(bitmap) {}
    ~TBitmapCanvas() override { FreeContext(); }
    std::wstring ClassName() const override { return L"TBitmapCanvas"; }

    void SelectBitmap(HBITMAP h)
    {
        if (!dc_) return;
        ::SelectObject(dc_, h ? static_cast<HGDIOBJ>(h) : stockBitmap_);
    }
    HDC Context() const { return dc_; }

protected:
    void CreateHandle() override
    {
        if (dc_) return;
        dc_ = ::CreateCompatibleDC(nullptr);
        if (!dc_) return;
        stockBitmap_ = ::GetCurrentObject(dc_, OBJ_BITMAP);
        if (bitmap_->handle_) ::SelectObject(dc_, bitmap_->handle_);
        SetHandle(dc_);
    }

private:
    void FreeContext()
    {
        if (!dc_) return;
        HDC dc = dc_;
        SetHandle(nullptr);
        ::SelectObject(dc, stockBitmap_);
        ::DeleteDC(dc);
        dc_ = nullptr;
    }
    TBitmap* bitmap_;
    HDC dc_ = nullptr;
    HGDIOBJ stockBitmap_ = nullptr;
};

// ------------------------------------------------------------------ TBitmap

const TGraphicClass TBitmap::Class = {L"TBitmap", []() -> TGraphic* { return new TBitmap; }};

TBitmap::TBitmap() = default;

TBitmap::~TBitmap()
{
    canvas_.reset();
    if (handle_) ::DeleteObject(handle_);
    if (mask_) ::DeleteObject(mask_);
    if (palette_) ::DeleteObject(palette_);
}

void TBitmap::ReadLayout()
{
    isDIB_ = false;
    topDown_ = false;
    bits_ = nullptr;
    bitCount_ = 0;
    stride_ = 0;
    bitfields_ = false;
    masks_[0] = masks_[1] = masks_[2] = 0;
    if (!handle_) return;
    DIBSECTION ds{};
    if (::GetObjectW(handle_, sizeof(ds), &ds) == static_cast<int>(sizeof(ds)) && ds.dsBm.bmBits) {
        isDIB_ = true;
        bits_ = static_cast<uint8_t*>(ds.dsBm.bmBits);
        width_ = ds.dsBmih.biWidth;
        height_ = std::abs(ds.dsBmih.biHeight);
        topDown_ = ds.dsBmih.biHeight < 0;
        bitCount_ = ds.dsBmih.biBitCount;
        stride_ = static_cast<int>(Stride(width_, bitCount_));
        bitfields_ = ds.dsBmih.biCompression == BI_BITFIELDS;
        if (bitfields_) std::memcpy(masks_, ds.dsBitfields, sizeof(masks_));
    } else {
        BITMAP bm{};
        ::GetObjectW(handle_, sizeof(bm), &bm);
        width_ = bm.bmWidth;
        height_ = bm.bmHeight;
        bitCount_ = bm.bmBitsPixel * bm.bmPlanes;
    }
}

void TBitmap::NewImage(HBITMAP Handle)
{
    if (canvas_) canvas_->SelectBitmap(Handle);
    if (handle_ && handle_ != Handle) ::DeleteObject(handle_);
    if (mask_) {
        ::DeleteObject(mask_);
        mask_ = nullptr;
    }
    handle_ = Handle;
    ReadLayout();
}

void TBitmap::Clear()
{
    NewImage(nullptr);
    width_ = height_ = 0;
    if (palette_) ::DeleteObject(palette_);
    palette_ = nullptr;
    syncedTable_.clear();
}

uint8_t* TBitmap::RowAddress(int Row) const
{
    int64_t r = topDown_ ? Row : (height_ - 1 - Row);
    return bits_ + static_cast<int64_t>(stride_) * r;
}

TPixelFormat TBitmap::GetPixelFormat() const
{
    if (!handle_) return pixelFormat_;
    if (!isDIB_) return pfDevice;
    switch (bitCount_) {
    case 1: return pf1bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16:
        if (!bitfields_ || (masks_[0] == 0x7C00 && masks_[1] == 0x03E0 && masks_[2] == 0x001F)) return pf15bit;
        if (masks_[0] == 0xF800 && masks_[1] == 0x07E0 && masks_[2] == 0x001F) return pf16bit;
        return pfCustom;
    case 24: return pf24bit;
    case 32:
        if (!bitfields_ || (masks_[0] == 0xFF0000 && masks_[1] == 0xFF00 && masks_[2] == 0xFF)) return pf32bit;
        return pfCustom;
    default: return pfCustom;
    }
}

std::vector<RGBQUAD> TBitmap::ColorTable()
{
    std::vector<RGBQUAD> t;
    if (!handle_ || !isDIB_ || bitCount_ > 8) return t;
    t.resize(size_t(1) << bitCount_);
    UINT n;
    if (canvas_ && canvas_->Context()) {
        n = ::GetDIBColorTable(canvas_->Context(), 0, static_cast<UINT>(t.size()), t.data());
    } else {
        TMemoryDC dc(handle_);
        n = ::GetDIBColorTable(dc.Get(), 0, static_cast<UINT>(t.size()), t.data());
    }
    t.resize(n);
    for (auto& q : t) q.rgbReserved = 0;
    return t;
}

void TBitmap::SetColorTable(const std::vector<RGBQUAD>& Table)
{
    if (!handle_ || !isDIB_ || bitCount_ > 8 || Table.empty()) return;
    UINT n = static_cast<UINT>(std::min<size_t>(Table.size(), size_t(1) << bitCount_));
    if (canvas_ && canvas_->Context()) {
        ::SetDIBColorTable(canvas_->Context(), 0, n, Table.data());
    } else {
        TMemoryDC dc(handle_);
        ::SetDIBColorTable(dc.Get(), 0, n, Table.data());
    }
    if (mask_) {
        ::DeleteObject(mask_);
        mask_ = nullptr;
    }
}

// Makes the palette match Table, keeping the palette handle when its entries
// already do.
void TBitmap::ResetPalette(const std::vector<RGBQUAD>& Table)
{
    auto current = PaletteTable(palette_);
    if (!palette_ || current.size() != Table.size() || !SameColors(current, Table, Table.size())) {
        if (palette_) ::DeleteObject(palette_);
        palette_ = MakePalette(Table);
    }
    syncedTable_ = Table;
}

void TBitmap::SyncPalette()
{
    if (!handle_ || !isDIB_ || bitCount_ > 8) return;
    auto table = ColorTable();
    if (!palette_) {
        palette_ = MakePalette(table);
        syncedTable_ = table;
        return;
    }
    auto entries = PaletteTable(palette_);
    size_t k = std::min(entries.size(), table.size());
    if (syncedTable_.size() != k || !SameColors(entries, syncedTable_, k)) {
        // The palette changed (or was just set): its entries win.
        if (!SameColors(entries, table, k)) {
            auto merged = table;
            std::copy(entries.begin(), entries.begin() + static_cast<ptrdiff_t>(k), merged.begin());
            SetColorTable(merged);
        }
        syncedTable_.assign(entries.begin(), entries.begin() + static_cast<ptrdiff_t>(k));
    } else if (!SameColors(table, syncedTable_, k)) {
        // The colour table was changed through the DC: the palette follows.
        std::vector<PALETTEENTRY> pe(k);
        for (size_t i = 0; i < k; ++i) pe[i] = PALETTEENTRY{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
        ::SetPaletteEntries(palette_, 0, static_cast<UINT>(k), pe.data());
        syncedTable_.assign(table.begin(), table.begin() + static_cast<ptrdiff_t>(k));
    }
}

std::vector<RGBQUAD> TBitmap::TableFor(TPixelFormat Format) const
{
    int bits = FormatBits(Format);
    if (bits > 8 || bits == 0) return {};
    auto entries = PaletteTable(palette_);
    if (!entries.empty() && entries.size() <= (size_t(1) << bits)) return entries;
    return DefaultTable(bits);
}

void TBitmap::ReadPixels32(std::vector<uint32_t>& Pixels)
{
    Pixels.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0);
    if (!handle_) return;
    if (isDIB_) {
        ::GdiFlush();
        auto table = ColorTable();
        for (int y = 0; y < height_; ++y)
            DecodeRow(RowAddress(y), Pixels.data() + static_cast<size_t>(y) * width_, width_, bitCount_, bitfields_,
                      masks_, table);
        return;
    }
    // A DDB is read through GDI; it must not be selected while that runs.
    if (canvas_) canvas_->SelectBitmap(nullptr);
    ReadTopDown32(handle_, width_, height_, Pixels.data());
    if (canvas_) canvas_->SelectBitmap(handle_);
    for (auto& p : Pixels) p &= 0xFFFFFF;
}

HBITMAP TBitmap::MakeHandle(int W, int H, TPixelFormat Format, TBitmapHandleType Type,
                            const std::vector<RGBQUAD>& Table, const uint32_t* Pixels)
{
    if (Type == bmDDB) {
        TScreenDC sdc;
        HBITMAP h = Format == pf1bit ? ::CreateBitmap(W, H, 1, 1, nullptr) : ::CreateCompatibleBitmap(sdc.Get(), W, H);
        if (!h) OutOfResources();
        if (Pixels) {
            BitmapInfo bi;
            if (Format == pf1bit) {
                auto bw = DefaultTable(1);
                FillInfo(bi, W, -H, 1, false, nullptr, bw);
                int64_t stride = Stride(W, 1);
                std::vector<uint8_t> rows(static_cast<size_t>(stride * H));
                NearestColor nc(bw);
                for (int y = 0; y < H; ++y)
                    EncodeRow(Pixels + static_cast<size_t>(y) * W, rows.data() + stride * y, W, pf1bit, &nc);
                ::SetDIBits(sdc.Get(), h, 0, static_cast<UINT>(H), rows.data(), reinterpret_cast<BITMAPINFO*>(&bi),
                            DIB_RGB_COLORS);
            } else {
                FillInfo(bi, W, -H, 32, false, nullptr, {});
                ::SetDIBits(sdc.Get(), h, 0, static_cast<UINT>(H), Pixels, reinterpret_cast<BITMAPINFO*>(&bi),
                            DIB_RGB_COLORS);
            }
        } else {
            TMemoryDC dc(h);
            ::PatBlt(dc.Get(), 0, 0, W, H, WHITENESS);
        }
        return h;
    }
    if (Format == pfDevice || Format == pfCustom) Format = ScreenFormat();
    int bits = FormatBits(Format);
    static const DWORD masks565[3] = {0xF800, 0x07E0, 0x001F};
    BitmapInfo bi;
    FillInfo(bi, W, H, bits, Format == pf16bit, masks565, Table);
    void* p = nullptr;
    HBITMAP h = CreateSection(bi, &p);
    auto* base = static_cast<uint8_t*>(p);
    int64_t stride = Stride(W, bits);
    if (Pixels) {
        NearestColor nc(Table);
        for (int y = 0; y < H; ++y)
            EncodeRow(Pixels + static_cast<size_t>(y) * W, base + stride * (H - 1 - y), W, Format, &nc);
    } else {
        FillWhite(base, stride, H, bits, Table);
    }
    return h;
}

// Format pfDevice with Type bmDIB means the natural DIB form of the pixels.
void TBitmap::ConvertTo(TPixelFormat Format, TBitmapHandleType Type, const std::vector<RGBQUAD>* Table)
{
    if (!handle_) {
        pixelFormat_ = Format;
        handleType_ = Type;
        return;
    }
    TPixelFormat current = GetPixelFormat();
    if (Type == bmDIB && (Format == pfDevice || Format == pfCustom))
        Format = (!isDIB_ && bitCount_ == 1) ? pf1bit : isDIB_ ? current : ScreenFormat();
    if (Type == bmDDB && Format != pf1bit) Format = pfDevice;
    if (!Table) {
        if (Type == bmDIB && isDIB_ && Format == current) return;
        if (Type == bmDDB && !isDIB_ && (Format == pf1bit) == (bitCount_ == 1)) return;
    }
    SyncPalette();
    int oldBits = isDIB_ ? bitCount_ : 32;
    std::vector<uint32_t> pixels;
    ReadPixels32(pixels);
    std::vector<RGBQUAD> table = Table ? *Table : TableFor(Format);
    HBITMAP h = MakeHandle(width_, height_, Format, Type, table, pixels.data());
    NewImage(h);
    handleType_ = Type;
    pixelFormat_ = GetPixelFormat();
    if (isDIB_ && bitCount_ <= 8) {
        ResetPalette(ColorTable());
    } else if (oldBits <= 8 && palette_) {
        ::DeleteObject(palette_);
        palette_ = nullptr;
        syncedTable_.clear();
    }
    Changed(this);
}

void TBitmap::SetPixelFormat(TPixelFormat Value)
{
    if (Value == pfCustom) throw EInvalidGraphicOperation(L"Invalid pixel format");
    if (!handle_) {
        pixelFormat_ = Value;
        if (Value == pfDevice) handleType_ = bmDDB;
        else handleType_ = bmDIB;
        return;
    }
    ConvertTo(Value, Value == pfDevice ? bmDDB : bmDIB);
}

void TBitmap::SetHandleType(TBitmapHandleType Value)
{
    if (Value == handleType_ && (!handle_ || isDIB_ == (Value == bmDIB))) return;
    if (!handle_) {
        handleType_ = Value;
        return;
    }
    ConvertTo(Value == bmDDB ? (bitCount_ == 1 ? pf1bit : pfDevice) : pfDevice, Value);
}

bool TBitmap::GetMonochrome() const
{
    if (!handle_) return pixelFormat_ == pf1bit;
    if (bitCount_ != 1) return false;
    if (!isDIB_) return true;
    auto table = const_cast<TBitmap*>(this)->ColorTable();
    return table.size() == 2 && SameColors(table, DefaultTable(1), 2);
}

void TBitmap::SetMonochrome(bool Value)
{
    if (Value == GetMonochrome()) return;
    if (Value) {
        auto bw = DefaultTable(1);
        if (!handle_) {
            pixelFormat_ = pf1bit;
            return;
        }
        ConvertTo(pf1bit, isDIB_ ? bmDIB : bmDDB, &bw);
    } else {
        if (!handle_) {
            pixelFormat_ = pfDevice;
            return;
        }
        ConvertTo(isDIB_ ? ScreenFormat() : pfDevice, isDIB_ ? bmDIB : bmDDB);
    }
}

void TBitmap::SetSize(int AWidth, int AHeight)
{
    AWidth = std::max(0, AWidth);
    AHeight = std::max(0, AHeight);
    if (AWidth == width_ && AHeight == height_) return;
    if (AWidth == 0 || AHeight == 0) {
        if (handle_) {
            pixelFormat_ = GetPixelFormat();
            if (isDIB_ && bitCount_ <= 8) SyncPalette();
            NewImage(nullptr);
        }
        width_ = AWidth;
        height_ = AHeight;
        Changed(this);
        return;
    }
    if (!handle_) {
        TPixelFormat f = handleType_ == bmDDB ? (pixelFormat_ == pf1bit ? pf1bit : pfDevice) : pixelFormat_;
        if (handleType_ == bmDIB && (f == pfDevice || f == pfCustom)) f = ScreenFormat();
        auto table = TableFor(f);
        NewImage(MakeHandle(AWidth, AHeight, f, handleType_, table, nullptr));
        if (isDIB_ && bitCount_ <= 8) ResetPalette(table);
        Changed(this);
        return;
    }
    int oldW = width_, oldH = height_;
    if (isDIB_) {
        SyncPalette();
        auto table = ColorTable();
        BitmapInfo bi;
        FillInfo(bi, AWidth, AHeight, bitCount_, bitfields_, masks_, table);
        void* p = nullptr;
        HBITMAP h = CreateSection(bi, &p);
        auto* nb = static_cast<uint8_t*>(p);
        int64_t nstride = Stride(AWidth, bitCount_);
        FillWhite(nb, nstride, AHeight, bitCount_, table);
        ::GdiFlush();
        int64_t bitsToCopy = static_cast<int64_t>(std::min(oldW, AWidth)) * bitCount_;
        size_t full = static_cast<size_t>(bitsToCopy / 8);
        int rest = static_cast<int>(bitsToCopy % 8);
        for (int y = 0; y < std::min(oldH, AHeight); ++y) {
            const uint8_t* src = RowAddress(y);
            uint8_t* dst = nb + nstride * (AHeight - 1 - y);
            std::memcpy(dst, src, full);
            if (rest) {
                uint8_t m = static_cast<uint8_t>(0xFF << (8 - rest));
                dst[full] = static_cast<uint8_t>((src[full] & m) | (dst[full] & ~m));
            }
        }
        NewImage(h);
    } else {
        TScreenDC sdc;
        HBITMAP h = bitCount_ == 1 ? ::CreateBitmap(AWidth, AHeight, 1, 1, nullptr)
                                   : ::CreateCompatibleBitmap(sdc.Get(), AWidth, AHeight);
        if (!h) OutOfResources();
        {
            TMemoryDC dst(h);
            ::PatBlt(dst.Get(), 0, 0, AWidth, AHeight, WHITENESS);
            if (canvas_) canvas_->SelectBitmap(nullptr);
            {
                TMemoryDC src(handle_);
                ::BitBlt(dst.Get(), 0, 0, std::min(oldW, AWidth), std::min(oldH, AHeight), src.Get(), 0, 0, SRCCOPY);
            }
        }
        NewImage(h);
    }
    Changed(this);
}

HBITMAP TBitmap::GetHandle()
{
    SyncPalette();
    return handle_;
}

void TBitmap::SetHandle(HBITMAP Value)
{
    if (Value == handle_) return;
    if (!Value) {
        Clear();
        Changed(this);
        return;
    }
    NewImage(Value);
    if (isDIB_ && !topDown_ && height_ > 1) {
        // The header of a section does not always keep the sign of its
        // height: find the row order by inverting pixel (0, 0).
        auto probe = [&](HDC dc) {
            size_t n = static_cast<size_t>((bitCount_ + 7) / 8);
            std::vector<uint8_t> top(bits_, bits_ + n);
            ::PatBlt(dc, 0, 0, 1, 1, DSTINVERT);
            ::GdiFlush();
            topDown_ = std::memcmp(bits_, top.data(), n) != 0;
            ::PatBlt(dc, 0, 0, 1, 1, DSTINVERT);
            ::GdiFlush();
        };
        if (canvas_ && canvas_->Context()) {
            probe(canvas_->Context());
        } else {
            TMemoryDC dc(handle_);
            probe(dc.Get());
        }
    }
    handleType_ = isDIB_ ? bmDIB : bmDDB;
    pixelFormat_ = GetPixelFormat();
    if (palette_) ::DeleteObject(palette_);
    palette_ = nullptr;
    syncedTable_.clear();
    SyncPalette();
    Changed(this);
}

HBITMAP TBitmap::ReleaseHandle()
{
    HBITMAP h = handle_;
    pixelFormat_ = GetPixelFormat();
    if (canvas_) canvas_->SelectBitmap(nullptr);
    handle_ = nullptr;
    NewImage(nullptr);
    width_ = height_ = 0;
    return h;
}

HBITMAP TBitmap::GetMaskHandle()
{
    if (mask_ || !handle_) return mask_;
    COLORREF tc = static_cast<COLORREF>(ColorToRGB(GetTransparentColor()));
    uint32_t key = ((tc & 0xFF) << 16) | (tc & 0xFF00) | ((tc >> 16) & 0xFF);
    std::vector<uint32_t> pixels;
    ReadPixels32(pixels);
    int64_t stride = ((width_ + 15) / 16) * 2;
    std::vector<uint8_t> rows(static_cast<size_t>(stride * height_), 0);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            if (pixels[static_cast<size_t>(y) * width_ + x] == key)
                rows[static_cast<size_t>(stride * y + x / 8)] |= static_cast<uint8_t>(0x80 >> (x & 7));
    mask_ = ::CreateBitmap(width_, height_, 1, 1, rows.data());
    return mask_;
}

HBITMAP TBitmap::ReleaseMaskHandle()
{
    HBITMAP h = GetMaskHandle();
    mask_ = nullptr;
    return h;
}

HPALETTE TBitmap::GetPalette()
{
    SyncPalette();
    return palette_;
}

void TBitmap::SetPalette(HPALETTE Value)
{
    if (Value != palette_) {
        if (palette_) ::DeleteObject(palette_);
        palette_ = Value;
        syncedTable_.clear();
    }
    SyncPalette();
    paletteModified_ = Value != nullptr;
    Changed(this);
}

void TBitmap::SetPaletteModified(bool Value)
{
    TGraphic::SetPaletteModified(Value);
    if (Value) SyncPalette();
}

HPALETTE TBitmap::ReleasePalette()
{
    HPALETTE p = GetPalette();
    palette_ = nullptr;
    syncedTable_.clear();
    return p;
}

TCanvas* TBitmap::GetCanvas()
{
    if (!canvas_) {
        canvas_ = std::make_unique<TBitmapCanvas>(this);
        canvas_->OnChanging = TNotifyEvent(this, &TBitmap::CanvasChanging);
        canvas_->OnChange = TNotifyEvent(this, &TBitmap::CanvasChanged);
    }
    SyncPalette();
    return canvas_.get();
}

void TBitmap::CanvasChanging(TObject*)
{
    if (mask_) {
        ::DeleteObject(mask_);
        mask_ = nullptr;
    }
}

void TBitmap::CanvasChanged(TObject*) { Changed(this); }

void* TBitmap::GetScanLine(int Row)
{
    if (Row < 0 || Row >= height_ || !handle_) throw EInvalidGraphicOperation(L"Scan line index out of range");
    if (!isDIB_) SetHandleType(bmDIB);
    ::GdiFlush();
    return RowAddress(Row);
}

TColor TBitmap::GetTransparentColor()
{
    if (transparentMode_ == tmFixed) return transparentColor_;
    if (GetEmpty()) return clDefault;
    return GetCanvas()->GetPixel(0, height_ - 1);
}

void TBitmap::SetTransparentColor(TColor Value)
{
    transparentColor_ = Value;
    transparentMode_ = Value == clDefault ? tmAuto : tmFixed;
    if (mask_) {
        ::DeleteObject(mask_);
        mask_ = nullptr;
    }
    Changed(this);
}

void TBitmap::SetTransparentMode(TTransparentMode Value)
{
    if (Value == transparentMode_) return;
    if (Value == tmAuto)
        SetTransparentColor(clDefault);
    else
        SetTransparentColor(GetTransparentColor());
}

void TBitmap::Draw(TCanvas* ACanvas, const RECT& R)
{
    if (GetEmpty() || !ACanvas) return;
    HDC src = GetCanvas()->GetHandle();
    HDC dst = ACanvas->GetHandle();
    HPALETTE oldPal = nullptr;
    if (palette_ && (::GetDeviceCaps(dst, RASTERCAPS) & RC_PALETTE)) {
        oldPal = ::SelectPalette(dst, palette_, TRUE);
        ::RealizePalette(dst);
    }
    int w = R.right - R.left, h = R.bottom - R.top;
    if (GetTransparent()) {
        COLORREF tc = static_cast<COLORREF>(ColorToRGB(GetTransparentColor()));
        ::TransparentBlt(dst, R.left, R.top, w, h, src, 0, 0, width_, height_, tc);
    } else {
        COLORREF oldText = 0, oldBk = 0;
        bool mono = !isDIB_ && bitCount_ == 1;
        if (mono) {
            oldText = ::SetTextColor(dst, RGB(0, 0, 0));
            oldBk = ::SetBkColor(dst, RGB(255, 255, 255));
        }
        ::StretchBlt(dst, R.left, R.top, w, h, src, 0, 0, width_, height_, ACanvas->CopyMode);
        if (mono) {
            ::SetTextColor(dst, oldText);
            ::SetBkColor(dst, oldBk);
        }
    }
    if (oldPal) ::SelectPalette(dst, oldPal, TRUE);
}

void TBitmap::Assign(const TPersistent* Source)
{
    if (Source == this) return;
    if (!Source) {
        Clear();
        Changed(this);
        return;
    }
    auto* src = const_cast<TBitmap*>(dynamic_cast<const TBitmap*>(Source));
    if (!src) {
        TPersistent::Assign(Source);
        return;
    }
    src->SyncPalette();
    HBITMAP h = nullptr;
    if (src->handle_) {
        if (src->isDIB_) {
            auto table = src->ColorTable();
            BitmapInfo bi;
            FillInfo(bi, src->width_, src->height_, src->bitCount_, src->bitfields_, src->masks_, table);
            void* p = nullptr;
            h = CreateSection(bi, &p);
            ::GdiFlush();
            auto* nb = static_cast<uint8_t*>(p);
            for (int y = 0; y < src->height_; ++y)
                std::memcpy(nb + static_cast<int64_t>(src->stride_) * (src->height_ - 1 - y), src->RowAddress(y),
                            static_cast<size_t>(src->stride_));
        } else {
            TScreenDC sdc;
            h = src->bitCount_ == 1 ? ::CreateBitmap(src->width_, src->height_, 1, 1, nullptr)
                                    : ::CreateCompatibleBitmap(sdc.Get(), src->width_, src->height_);
            if (!h) OutOfResources();
            TMemoryDC dst(h);
            ::BitBlt(dst.Get(), 0, 0, src->width_, src->height_, src->GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
        }
    }
    Clear();
    NewImage(h);
    width_ = src->width_;
    height_ = src->height_;
    pixelFormat_ = src->GetPixelFormat();
    handleType_ = src->handleType_;
    if (src->palette_) {
        palette_ = CopyPaletteHandle(src->palette_);
        syncedTable_ = src->syncedTable_;
    }
    transparent_ = src->transparent_;
    transparentMode_ = src->transparentMode_;
    transparentColor_ = src->transparentColor_;
    paletteModified_ = palette_ != nullptr;
    Changed(this);
}

// ---------------------------------------------------------------- BMP files

void TBitmap::LoadFromStream(TStream* Stream)
{
    int64_t start = Stream->GetPosition();
    int64_t size = Stream->GetSize() - start;
    if (size <= 0) {
        Clear();
        Changed(this);
        return;
    }
    ReadDIB(Stream, size, true);
}

void TBitmap::ReadDIB(TStream* Stream, int64_t Size, bool HasFileHeader)
{
    const int64_t base = Stream->GetPosition();
    int64_t consumed = 0;
    auto read = [&](void* buf, int64_t n) {
        if (n < 0 || consumed + n > Size || Stream->Read(buf, n) != n) InvalidBitmap();
        consumed += n;
    };

    uint32_t offBits = 0;
    if (HasFileHeader) {
        uint8_t fh[14];
        read(fh, 14);
        if (fh[0] != 'B' || fh[1] != 'M') InvalidBitmap();
        offBits = GetLE32(fh + 10);
    }
    uint8_t hdr[124] = {};
    read(hdr, 4);
    uint32_t headerSize = GetLE32(hdr);
    int64_t width, height;
    int bpp;
    uint32_t compression = BI_RGB, clrUsed = 0, sizeImage = 0;
    bool core = headerSize == 12;
    DWORD masks[3] = {0, 0, 0};
    if (core) {
        read(hdr + 4, 8);
        width = GetLE16(hdr + 4);
        height = GetLE16(hdr + 6);
        if (GetLE16(hdr + 8) != 1) InvalidBitmap();
        bpp = GetLE16(hdr + 10);
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) InvalidBitmap();
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 || headerSize == 108 ||
               headerSize == 124) {
        read(hdr + 4, headerSize - 4);
        width = static_cast<int32_t>(GetLE32(hdr + 4));
        height = static_cast<int32_t>(GetLE32(hdr + 8));
        if (GetLE16(hdr + 12) != 1) InvalidBitmap();
        bpp = GetLE16(hdr + 14);
        compression = GetLE32(hdr + 16);
        sizeImage = GetLE32(hdr + 20);
        clrUsed = GetLE32(hdr + 32);
        if (headerSize == 64 && compression != BI_RGB) InvalidBitmap();  // OS/2 2.x codings
        if (headerSize >= 52 && headerSize != 64)
            for (int i = 0; i < 3; ++i) masks[i] = GetLE32(hdr + 40 + 4 * i);
    } else {
        InvalidBitmap();
    }
    if (width <= 0 || height == 0 || height == std::numeric_limits<int32_t>::min()) InvalidBitmap();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) InvalidBitmap();
    bool topDown = height < 0;
    int64_t h = topDown ? -height : height;
    bool rle = compression == BI_RLE8 || compression == BI_RLE4;
    if (compression == BI_RLE8 && bpp != 8) InvalidBitmap();
    if (compression == BI_RLE4 && bpp != 4) InvalidBitmap();
    if (rle && topDown) InvalidBitmap();
    if (compression == BI_BITFIELDS) {
        if (bpp != 16 && bpp != 32) InvalidBitmap();
        if (headerSize == 40) {
            uint8_t m[12];
            read(m, 12);
            for (int i = 0; i < 3; ++i) masks[i] = GetLE32(m + 4 * i);
        }
        if (!masks[0] || !masks[1] || !masks[2]) InvalidBitmap();
    } else if (compression != BI_RGB && !rle) {
        InvalidBitmap();
    }

    std::vector<RGBQUAD> table;
    if (bpp <= 8) {
        uint32_t count = clrUsed ? clrUsed : (1u << bpp);
        if (count > 256) InvalidBitmap();
        int entry = core ? 3 : 4;
        std::vector<uint8_t> raw(static_cast<size_t>(count) * entry);
        read(raw.data(), static_cast<int64_t>(raw.size()));
        for (uint32_t i = 0; i < count; ++i)
            table.push_back(Quad(raw[i * entry + 2], raw[i * entry + 1], raw[i * entry]));
        if (table.size() > (size_t(1) << bpp)) table.resize(size_t(1) << bpp);
    }

    int64_t dataPos = consumed;
    if (HasFileHeader && offBits != 0 && offBits >= consumed) {
        dataPos = offBits;
    } else if (bpp > 8 && clrUsed) {
        // An optional colour table of a high-colour image; skipped.
        if (clrUsed > 256) InvalidBitmap();
        dataPos += int64_t(clrUsed) * 4;
    }
    if (dataPos > Size) InvalidBitmap();
    int64_t stride = Stride(width, bpp);
    if (h > std::numeric_limits<int64_t>::max() / stride) InvalidBitmap();
    int64_t imageBytes = stride * h;
    int64_t available = Size - dataPos;
    int64_t dataBytes = imageBytes;
    if (rle) {
        dataBytes = sizeImage ? sizeImage : available;
        if (dataBytes > available || dataBytes <= 0) InvalidBitmap();
        // RLE data says little about the size; refuse absurd images.
        if (width * h > (int64_t(1) << 28)) InvalidBitmap();
    } else if (imageBytes > available) {
        InvalidBitmap();
    }
    if (imageBytes > std::numeric_limits<int32_t>::max() || width > std::numeric_limits<int32_t>::max())
        OutOfResources();

    BitmapInfo bi;
    FillInfo(bi, static_cast<int>(width), static_cast<int>(h), bpp, compression == BI_BITFIELDS, masks, table);
    void* p = nullptr;
    HBITMAP hbm = CreateSection(bi, &p);
    auto* bits = static_cast<uint8_t*>(p);
    try {
        Stream->Seek(base + dataPos, soBeginning);
        if (rle) {
            std::vector<uint8_t> data(static_cast<size_t>(dataBytes));
            if (Stream->Read(data.data(), dataBytes) != dataBytes) InvalidBitmap();
            BitmapInfo ri = bi;
            ri.header.biCompression = compression;
            ri.header.biSizeImage = static_cast<DWORD>(dataBytes);
            TScreenDC sdc;
            if (!::SetDIBits(sdc.Get(), hbm, 0, static_cast<UINT>(h), data.data(), reinterpret_cast<BITMAPINFO*>(&ri),
                             DIB_RGB_COLORS))
                InvalidBitmap();
        } else if (!topDown) {
            if (Stream->Read(bits, imageBytes) != imageBytes) InvalidBitmap();
        } else {
            for (int64_t y = 0; y < h; ++y)
                if (Stream->Read(bits + stride * (h - 1 - y), stride) != stride) InvalidBitmap();
        }
    } catch (...) {
        ::DeleteObject(hbm);
        throw;
    }
    Stream->Seek(base + dataPos + dataBytes, soBeginning);
    Clear();
    NewImage(hbm);
    handleType_ = bmDIB;
    pixelFormat_ = GetPixelFormat();
    if (bpp <= 8) ResetPalette(ColorTable());
    paletteModified_ = palette_ != nullptr;
    Changed(this);
}

void TBitmap::SaveToStream(TStream* Stream)
{
    if (GetEmpty() || !handle_) return;
    if (!isDIB_) {
        TBitmap copy;
        copy.Assign(this);
        copy.SetHandleType(bmDIB);
        copy.SaveToStream(Stream);
        return;
    }
    SyncPalette();
    auto table = ColorTable();
    uint32_t tableBytes = bitCount_ <= 8 ? static_cast<uint32_t>(table.size() * 4) : bitfields_ ? 12u : 0u;
    uint64_t imageBytes = static_cast<uint64_t>(stride_) * static_cast<uint64_t>(height_);
    uint32_t offBits = 14 + 40 + tableBytes;
    std::vector<uint8_t> head(offBits, 0);
    head[0] = 'B';
    head[1] = 'M';
    PutLE32(&head[2], static_cast<uint32_t>(std::min<uint64_t>(offBits + imageBytes, 0xFFFFFFFFu)));
    PutLE32(&head[10], offBits);
    uint8_t* ih = &head[14];
    PutLE32(ih, 40);
    PutLE32(ih + 4, static_cast<uint32_t>(width_));
    PutLE32(ih + 8, static_cast<uint32_t>(height_));
    PutLE16(ih + 12, 1);
    PutLE16(ih + 14, static_cast<uint32_t>(bitCount_));
    PutLE32(ih + 16, bitfields_ ? BI_BITFIELDS : BI_RGB);
    PutLE32(ih + 20, static_cast<uint32_t>(std::min<uint64_t>(imageBytes, 0xFFFFFFFFu)));
    PutLE32(ih + 32, bitCount_ <= 8 ? static_cast<uint32_t>(table.size()) : 0);
    uint8_t* t = ih + 40;
    if (bitCount_ <= 8) {
        for (size_t i = 0; i < table.size(); ++i) {
            t[4 * i] = table[i].rgbBlue;
            t[4 * i + 1] = table[i].rgbGreen;
            t[4 * i + 2] = table[i].rgbRed;
        }
    } else if (bitfields_) {
        for (int i = 0; i < 3; ++i) PutLE32(t + 4 * i, masks_[i]);
    }
    Stream->WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
    ::GdiFlush();
    if (!topDown_) {
        Stream->WriteBuffer(bits_, static_cast<int64_t>(imageBytes));
    } else {
        for (int y = height_ - 1; y >= 0; --y) Stream->WriteBuffer(RowAddress(y), stride_);
    }
}

void TBitmap::LoadFromResourceName(HINSTANCE Instance, const std::wstring& ResName)
{
    HRSRC res = ::FindResourceW(Instance, ResName.c_str(), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    HGLOBAL data = res ? ::LoadResource(Instance, res) : nullptr;
    const void* p = data ? ::LockResource(data) : nullptr;
    if (!p) throw EInvalidGraphic(L"Resource " + ResName + L" not found");
    int64_t size = ::SizeofResource(Instance, res);
    MemoryReader reader(p, size);
    ReadDIB(&reader, size, false);
}

// ---------------------------------------------------------------- clipboard

void TBitmap::LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette)
{
    if (Format != CF_BITMAP) throw EInvalidGraphic(L"Unsupported clipboard format");
    if (!Data) Data = ::GetClipboardData(CF_BITMAP);
    if (!Data) throw EInvalidGraphic(L"Unsupported clipboard format");
    auto src = static_cast<HBITMAP>(Data);
    DIBSECTION ds{};
    BITMAP bm{};
    TPixelFormat format;
    std::vector<RGBQUAD> table;
    int w, h;
    if (::GetObjectW(src, sizeof(ds), &ds) == static_cast<int>(sizeof(ds)) && ds.dsBm.bmBits) {
        w = ds.dsBmih.biWidth;
        h = std::abs(ds.dsBmih.biHeight);
        int bits = ds.dsBmih.biBitCount;
        format = bits == 1 ? pf1bit : bits == 4 ? pf4bit : bits == 8 ? pf8bit : bits == 24 ? pf24bit
                 : bits == 16 ? (ds.dsBmih.biCompression == BI_BITFIELDS && ds.dsBitfields[0] == 0xF800 ? pf16bit
                                                                                                      : pf15bit)
                              : pf32bit;
        if (bits <= 8) {
            TMemoryDC dc(src);
            table.resize(size_t(1) << bits);
            table.resize(::GetDIBColorTable(dc.Get(), 0, static_cast<UINT>(table.size()), table.data()));
        }
    } else if (::GetObjectW(src, sizeof(bm), &bm) > 0) {
        w = bm.bmWidth;
        h = bm.bmHeight;
        int bits = bm.bmBitsPixel * bm.bmPlanes;
        format = bits == 1 ? pf1bit : bits <= 8 ? pf8bit : bits <= 16 ? pf16bit : bits == 24 ? pf24bit : pf32bit;
        if (bits == 1) table = DefaultTable(1);
    } else {
        throw EInvalidGraphic(L"Unsupported clipboard format");
    }
    if (w <= 0 || h <= 0) throw EInvalidGraphic(L"Unsupported clipboard format");
    int fbits = FormatBits(format);
    if (fbits <= 8) {
        auto entries = PaletteTable(Palette);
        if (!entries.empty() && format != pf1bit) table = entries;
        if (table.empty()) table = DefaultTable(fbits);
        if (table.size() > (size_t(1) << fbits)) table.resize(size_t(1) << fbits);
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
    if (!ReadTopDown32(src, w, h, pixels.data())) throw EInvalidGraphic(L"Unsupported clipboard format");
    for (auto& px : pixels) px &= 0xFFFFFF;
    HBITMAP nh = MakeHandle(w, h, format, bmDIB, table, pixels.data());
    Clear();
    NewImage(nh);
    handleType_ = bmDIB;
    pixelFormat_ = GetPixelFormat();
    if (bitCount_ <= 8) ResetPalette(ColorTable());
    Changed(this);
}

void TBitmap::SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette)
{
    Format = CF_BITMAP;
    Data = nullptr;
    Palette = nullptr;
    if (GetEmpty() || !handle_) return;
    TScreenDC sdc;
    bool mono = bitCount_ == 1 && GetMonochrome();
    HBITMAP h = mono ? ::CreateBitmap(width_, height_, 1, 1, nullptr)
                     : ::CreateCompatibleBitmap(sdc.Get(), width_, height_);
    if (!h) OutOfResources();
    {
        TMemoryDC dst(h);
        ::BitBlt(dst.Get(), 0, 0, width_, height_, GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
    }
    Data = h;
    if (palette_) Palette = CopyPaletteHandle(GetPalette());
}

}  // namespace classlib
