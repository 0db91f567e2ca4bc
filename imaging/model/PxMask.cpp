#include "imaging/model/PxMask.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "imaging/model/PxIntColor.h"

namespace imaging {

namespace {

constexpr int32_t kEmptyX1 = 2147483647;

int64_t MaskRowLen(int64_t width, int bits)
{
    return ((width * bits + 31) / 32) * 4;
}

void ResizeZeroed(std::vector<uint8_t>& v, size_t n)
{
    try {
        std::vector<uint8_t>(n, 0).swap(v);
    } catch (const std::bad_alloc&) {
        throw classlib::EOutOfMemory(L"Out of memory");
    }
}

// One row of a bitmap copied out (reads of file-held images are valid only
// until the next GetScanline of that image).
void ReadRow(TPxBitmap& bitmap, int y, std::vector<uint8_t>& row)
{
    const uint8_t* p = bitmap.GetScanline(y);
    const size_t n = static_cast<size_t>(bitmap.GetRowLen());
    row.assign(p, p + n);
}

// The 14-bit fixed-point step of the zoomed rendering.
int64_t ZoomStep(int source, int dest)
{
    return static_cast<int64_t>(static_cast<double>(source) / dest * 16384);
}

int BytesPerPixel(TPxPixelFormat f)
{
    return PxPixelFormatBits[f] / 8;
}

bool SameFormatCopiedBy1BitMask(TPxPixelFormat f)
{
    switch (f) {
    case px1g:
    case px8p:
    case px8g:
    case px16g:
    case px24RGB:
    case px32RGB:
    case px32f:
    case pxCMYK:
    case pxRGB48:
    case pxCIELab:
        return true;
    default:
        return false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------

TPxMask::TPxMask()
{
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = 1;
    bi.bmiHeader.biHeight = 1;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    plotBitmap_.Reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    plotPixel_ = static_cast<uint8_t*>(bits);
}

TPxMask::~TPxMask() = default;

void TPxMask::EmptyBox()
{
    X1 = kEmptyX1;
    Y1 = kEmptyX1;
    X2 = 0;
    Y2 = 0;
}

void TPxMask::AllocateBits(int32_t AWidth, int32_t AHeight, int32_t ABitsPerPixel)
{
    if (ABitsPerPixel != 1 && ABitsPerPixel != 8)
        throw classlib::EInvalidArgument(L"Invalid mask depth");
    AWidth = std::max(AWidth, 0);
    AHeight = std::max(AHeight, 0);
    const int64_t rowLen = MaskRowLen(AWidth, ABitsPerPixel);
    const int64_t size = rowLen * AHeight;
    bits_.clear();
    bits_.shrink_to_fit();
    zoom_.clear();
    zoom_.shrink_to_fit();
    zoomWidth_ = 0;
    zoomHeight_ = 0;
    Width = 0;
    Height = 0;
    RowLen = 0;
    BitsPerPixel = 0;
    EmptyBox();
    Full = false;
    if (rowLen > 2147483647 || static_cast<uint64_t>(size) > SIZE_MAX)
        throw classlib::EOutOfMemory(L"Out of memory");
    ResizeZeroed(bits_, static_cast<size_t>(size));
    Width = AWidth;
    Height = AHeight;
    BitsPerPixel = ABitsPerPixel;
    RowLen = static_cast<int32_t>(rowLen);
}

void TPxMask::Resize(int32_t AWidth, int32_t AHeight)
{
    AWidth = std::max(AWidth, 0);
    AHeight = std::max(AHeight, 0);
    const int64_t rowLen = MaskRowLen(AWidth, BitsPerPixel);
    const int64_t size = rowLen * AHeight;
    if (rowLen > 2147483647 || static_cast<uint64_t>(size) > SIZE_MAX)
        throw classlib::EOutOfMemory(L"Out of memory");
    std::vector<uint8_t> fresh;
    ResizeZeroed(fresh, static_cast<size_t>(size));
    const int rows = std::min(Height, AHeight);
    const int keepWidth = std::min(Width, AWidth);
    // Only the pixels that exist in both sizes are kept, so that pixels cut
    // off by a smaller width do not come back when the mask grows again.
    const size_t fullBytes = BitsPerPixel == 8 ? static_cast<size_t>(keepWidth) : static_cast<size_t>(keepWidth / 8);
    const int restBits = BitsPerPixel == 1 ? keepWidth % 8 : 0;
    for (int y = 0; y < rows; ++y) {
        const uint8_t* src = bits_.data() + static_cast<size_t>(RowLen) * static_cast<size_t>(Height - 1 - y);
        uint8_t* dst = fresh.data() + static_cast<size_t>(rowLen) * static_cast<size_t>(AHeight - 1 - y);
        std::memcpy(dst, src, fullBytes);
        if (restBits)
            dst[fullBytes] = static_cast<uint8_t>(src[fullBytes] & (0xFF00 >> restBits));
    }
    bits_.swap(fresh);
    Width = AWidth;
    Height = AHeight;
    RowLen = static_cast<int32_t>(rowLen);
    if (!IsEmpty()) {
        X1 = PxClampInt(X1, 0, Width - 1);
        X2 = PxClampInt(X2, 0, Width - 1);
        Y1 = PxClampInt(Y1, 0, Height - 1);
        Y2 = PxClampInt(Y2, 0, Height - 1);
    }
}

uint8_t* TPxMask::GetScanline(int y)
{
    return bits_.data() + static_cast<size_t>(RowLen) * static_cast<size_t>(Height - 1 - y);
}

void TPxMask::SetPixel(int x, int y, int Value)
{
    if (x < 0 || y < 0 || x >= Width || y >= Height || BitsPerPixel == 0)
        return;
    if (Value != 0) {
        X1 = std::min(X1, x);
        Y1 = std::min(Y1, y);
        X2 = std::max(X2, x);
        Y2 = std::max(Y2, y);
        X1 = PxClampInt(X1, 0, Width - 1);
        X2 = PxClampInt(X2, 0, Width - 1);
        Y1 = PxClampInt(Y1, 0, Height - 1);
        Y2 = PxClampInt(Y2, 0, Height - 1);
    }
    uint8_t* row = GetScanline(y);
    if (BitsPerPixel == 1) {
        PxSetBit(row, x, Value != 0);
        if (Value == 0)
            Full = false;
    } else {
        row[x] = static_cast<uint8_t>(Value);
        if (static_cast<uint8_t>(Value) != 255)
            Full = false;
    }
}

int TPxMask::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= Width || y >= Height || BitsPerPixel == 0)
        return 0;
    const uint8_t* row = bits_.data() + static_cast<size_t>(RowLen) * static_cast<size_t>(Height - 1 - y);
    if (BitsPerPixel == 1)
        return PxGetBit(row, x);
    return row[x];
}

int TPxMask::FillSpan(int x1, int x2, int y, int Value)
{
    if (Width <= 0 || Height <= 0 || BitsPerPixel == 0)
        return 0;
    x1 = std::max(x1, 0);
    x2 = std::min(x2, Width - 1);
    y = PxClampInt(y, 0, Height - 1);
    if (x2 < x1)
        return 0;
    uint8_t* row = GetScanline(y);
    if (BitsPerPixel == 8) {
        std::memset(row + x1, static_cast<uint8_t>(Value), static_cast<size_t>(x2 - x1 + 1));
        if (static_cast<uint8_t>(Value) != 255)
            Full = false;
    } else {
        const bool on = Value != 0;
        int x = x1;
        // Leading bits up to a byte boundary, whole bytes, trailing bits.
        while (x <= x2 && (x & 7) != 0)
            PxSetBit(row, x++, on);
        const int wholeBytes = (x2 - x + 1) / 8;
        if (wholeBytes > 0) {
            std::memset(row + x / 8, on ? 0xFF : 0, static_cast<size_t>(wholeBytes));
            x += wholeBytes * 8;
        }
        while (x <= x2)
            PxSetBit(row, x++, on);
        if (!on)
            Full = false;
    }
    return x2 - x1 + 1;
}

void TPxMask::Fill(uint8_t Value)
{
    if (!bits_.empty())
        std::memset(bits_.data(), Value, bits_.size());
    Full = Value == 255 && BitsPerPixel != 0;
}

void TPxMask::Clear()
{
    Fill(0);
    EmptyBox();
}

void TPxMask::SyncBoundingBox()
{
    EmptyBox();
    for (int y = 0; y < Height; ++y) {
        const uint8_t* row = GetScanline(y);
        for (int x = 0; x < Width; ++x) {
            const bool on = BitsPerPixel == 1 ? PxGetBit(row, x) != 0 : row[x] != 0;
            if (on) {
                X1 = std::min(X1, x);
                Y1 = std::min(Y1, y);
                X2 = std::max(X2, x);
                Y2 = std::max(Y2, y);
            }
        }
    }
}

void TPxMask::CheckFull()
{
    if (BitsPerPixel == 0) {
        Full = false;
        return;
    }
    bool full = true;
    for (int y = 0; y < Height && full; ++y) {
        const uint8_t* row = GetScanline(y);
        if (BitsPerPixel == 8) {
            for (int x = 0; x < Width; ++x)
                if (row[x] != 255) {
                    full = false;
                    break;
                }
        } else {
            const int wholeBytes = Width / 8;
            for (int i = 0; i < wholeBytes; ++i)
                if (row[i] != 0xFF) {
                    full = false;
                    break;
                }
            for (int x = wholeBytes * 8; full && x < Width; ++x)
                if (!PxGetBit(row, x))
                    full = false;
        }
    }
    Full = full;
}

// ---------------------------------------------------------------- polygons

void TPxMask::FillPolygon(int Value, const POINT* Points, int Count)
{
    if (!Points || Count <= 0)
        return;
    const int32_t savedX1 = X1, savedY1 = Y1, savedX2 = X2, savedY2 = Y2;
    int minY = Points[0].y;
    int maxY = Points[0].y;
    for (int i = 0; i < Count; ++i) {
        const int x = Points[i].x;
        const int y = Points[i].y;
        if (Value != 0) {
            X1 = std::min(X1, x);
            Y1 = std::min(Y1, y);
            X2 = static_cast<int32_t>(std::max<int64_t>(X2, int64_t{x} - 1));
            Y2 = static_cast<int32_t>(std::max<int64_t>(Y2, int64_t{y} - 1));
        }
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    X1 = std::max(X1, 0);
    Y1 = std::max(Y1, 0);
    X2 = std::min(X2, Width - 1);
    Y2 = std::min(Y2, Height - 1);

    // 64-bit: differences of 32-bit coordinates do not fit 32 bits.
    struct TEdge {
        int64_t x0;      // x at the upper end
        int64_t yUpper;
        int64_t yLower;  // exclusive end
        int64_t dx;
        int64_t dy;  // > 0
        int64_t x;   // x at the current row
    };
    std::vector<TEdge> edges;
    edges.reserve(static_cast<size_t>(Count));
    for (int i = 0; i < Count; ++i) {
        const POINT& p = Points[i];
        const POINT& q = Points[(i + 1) % Count];
        if (p.y == q.y)
            continue;
        const POINT& upper = p.y < q.y ? p : q;
        const POINT& lower = p.y < q.y ? q : p;
        edges.push_back(TEdge{upper.x, upper.y, lower.y, static_cast<int64_t>(lower.x) - upper.x,
                              static_cast<int64_t>(lower.y) - upper.y, upper.x});
    }
    // Edges in order of their upper y (stable, so equal rows keep point order).
    std::stable_sort(edges.begin(), edges.end(), [](const TEdge& a, const TEdge& b) { return a.yUpper < b.yUpper; });

    // x of an edge at row y: stepping row by row with an error term, x
    // follows the true line rounded to the nearest pixel, a tie staying on
    // the side of the upper end. Computed directly so that rows above the
    // mask can be skipped between the rows where edges start or end.
    auto xAt = [](const TEdge& e, int64_t y) -> int64_t {
        const __int128 n = static_cast<__int128>(y - e.yUpper) * e.dx;
        const __int128 magnitude = n < 0 ? -n : n;
        const __int128 steps = (2 * magnitude + e.dy - 1) / (2 * static_cast<__int128>(e.dy));
        return e.x0 + static_cast<int64_t>(n < 0 ? -steps : steps);
    };

    std::vector<TEdge> active;
    size_t next = 0;
    int64_t pixelsSet = 0;
    // Rows below the mask cannot set anything: stop there.
    const int64_t lastRow = std::min(maxY, Height - 1);
    int64_t y = minY;
    while (y <= lastRow) {
        // Drop finished edges, move the others to this row.
        active.erase(std::remove_if(active.begin(), active.end(), [&](const TEdge& e) { return e.yLower <= y; }),
                     active.end());
        for (TEdge& e : active)
            e.x = xAt(e, y);
        // Insert the edges that start on this row, ordered by x, then slope;
        // the list is not re-sorted afterwards.
        while (next < edges.size() && edges[next].yUpper == y) {
            const TEdge& e = edges[next++];
            auto pos = active.begin();
            while (pos != active.end()) {
                if (pos->x > e.x)
                    break;
                if (pos->x == e.x && static_cast<__int128>(pos->dx) * e.dy >= static_cast<__int128>(e.dx) * pos->dy)
                    break;
                ++pos;
            }
            active.insert(pos, e);
        }
        if (y >= 0) {
            // Spans between pairs of edges.
            for (size_t i = 0; i + 1 < active.size(); i += 2) {
                if (active[i + 1].x > active[i].x) {
                    // FillSpan clamps to the mask; keep the ends in int range.
                    const int x1 = static_cast<int>(std::clamp<int64_t>(active[i].x, -1, Width));
                    const int x2 = static_cast<int>(std::clamp<int64_t>(active[i + 1].x - 1, -1, Width));
                    pixelsSet += FillSpan(x1, x2, static_cast<int>(y), Value);
                }
            }
            ++y;
        } else {
            // Above the mask only the rows where edges start or end matter.
            int64_t following = 0;
            if (next < edges.size())
                following = std::min(following, edges[next].yUpper);
            for (const TEdge& e : active)
                following = std::min(following, e.yLower);
            y = std::max(y + 1, following);
        }
    }
    if (pixelsSet == 0) {
        X1 = savedX1;
        Y1 = savedY1;
        X2 = savedX2;
        Y2 = savedY2;
    }
}

void TPxMask::FillPolygons(int Value, const POINT* Points, int Count)
{
    if (Points && Count > 0) {
        int start = 0;
        for (int i = 0; i <= Count; ++i) {
            if (i == Count || Points[i].x == PxPolygonSeparator) {
                if (i > start)
                    FillPolygon(Value, Points + start, i - start);
                start = i + 1;
            }
        }
    }
    CheckFull();
}

// ------------------------------------------------------------------ offset

void TPxMask::Offset(int& dx, int& dy, bool Crop)
{
    if (IsEmpty())
        SyncBoundingBox();
    if (IsEmpty())
        return;
    if (!Crop) {
        if (X1 + dx < 0)
            dx = -X1;
        if (X2 + dx >= Width)
            dx = Width - 1 - X2;
        if (Y1 + dy < 0)
            dy = -Y1;
        if (Y2 + dy >= Height)
            dy = Height - 1 - Y2;
    } else {
        if (X1 + dx < 0)
            X1 = -dx;
        if (X2 + dx >= Width)
            X2 = Width - 1 - dx;
        if (Y1 + dy < 0)
            Y1 = -dy;
        if (Y2 + dy >= Height)
            Y2 = Height - 1 - dy;
        if (X1 > X2 || Y1 > Y2) {
            // Moved out of the mask entirely: nothing stays selected.
            Clear();
            return;
        }
    }
    if (dx == 0 && dy == 0)
        return;
    const int boxW = X2 - X1 + 1;
    const int boxH = Y2 - Y1 + 1;
    if (BitsPerPixel == 1) {
        std::vector<uint8_t> saved(static_cast<size_t>(boxW) * static_cast<size_t>(boxH));
        for (int y = 0; y < boxH; ++y) {
            const uint8_t* row = GetScanline(Y1 + y);
            for (int x = 0; x < boxW; ++x)
                saved[static_cast<size_t>(y) * boxW + x] = PxGetBit(row, X1 + x) ? 1 : 0;
        }
        std::fill(bits_.begin(), bits_.end(), 0);
        for (int y = 0; y < boxH; ++y) {
            const int ty = Y1 + dy + y;
            if (ty < 0 || ty >= Height)
                continue;
            uint8_t* row = GetScanline(ty);
            for (int x = 0; x < boxW; ++x) {
                const int tx = X1 + dx + x;
                if (tx >= 0 && tx < Width && saved[static_cast<size_t>(y) * boxW + x])
                    PxSetBit(row, tx, true);
            }
        }
    } else {
        std::vector<uint8_t> saved(bits_);
        std::fill(bits_.begin(), bits_.end(), 0);
        for (int y = Y1; y <= Y2; ++y) {
            const int ty = y + dy;
            if (ty < 0 || ty >= Height)
                continue;
            const uint8_t* src = saved.data() + static_cast<size_t>(RowLen) * static_cast<size_t>(Height - 1 - y);
            uint8_t* dst = GetScanline(ty);
            for (int x = X1; x <= X2; ++x) {
                const int tx = x + dx;
                if (tx >= 0 && tx < Width)
                    dst[tx] = src[x];
            }
        }
    }
    X1 = PxClampInt(X1 + dx, 0, Width - 1);
    X2 = PxClampInt(X2 + dx, 0, Width - 1);
    Y1 = PxClampInt(Y1 + dy, 0, Height - 1);
    Y2 = PxClampInt(Y2 + dy, 0, Height - 1);
}

// ----------------------------------------------------------------- drawing

void TPxMask::DrawInverted(classlib::TCanvas* Canvas, int xDst, int yDst, int wDst, int hDst, int xSrc, int ySrc,
                           int wSrc, int hSrc)
{
    if (!Canvas || BitsPerPixel != 1 || IsEmpty() || bits_.empty() || wDst <= 0 || hDst <= 0)
        return;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[2];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = Width;
    info.header.biHeight = Height;
    info.header.biPlanes = 1;
    info.header.biBitCount = 1;
    info.header.biCompression = BI_RGB;
    info.colors[0] = RGBQUAD{0, 0, 0, 0};
    info.colors[1] = RGBQUAD{255, 255, 255, 0};
    StretchDIBits(Canvas->GetHandle(), xDst, yDst, wDst, hDst, xSrc, Height - hSrc - ySrc, wSrc, hSrc, bits_.data(),
                  reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCINVERT);
}

bool TPxMask::RenderZoom(int wDst, int hDst, int xSrc, int ySrc, int wSrc, int hSrc, int& c1, int& c2, int& r1,
                         int& r2)
{
    if (wDst <= 0 || hDst <= 0 || wSrc <= 0 || hSrc <= 0 || IsEmpty() || BitsPerPixel == 0)
        return false;
    if (zoomWidth_ != wDst || zoomHeight_ != hDst) {
        const uint64_t n = static_cast<uint64_t>(wDst) * static_cast<uint64_t>(hDst);
        if (n > SIZE_MAX)
            throw classlib::EOutOfMemory(L"Out of memory");
        zoom_.clear();
        zoom_.shrink_to_fit();
        zoomWidth_ = 0;
        zoomHeight_ = 0;
        ResizeZeroed(zoom_, static_cast<size_t>(n));
        zoomWidth_ = wDst;
        zoomHeight_ = hDst;
    } else {
        std::fill(zoom_.begin(), zoom_.end(), 0);
    }
    const int64_t stepX = ZoomStep(wSrc, wDst);
    const int64_t stepY = ZoomStep(hSrc, hDst);
    c1 = static_cast<int>(std::max<double>(std::trunc(static_cast<double>(X1 - xSrc) * wDst / wSrc), 0));
    c2 = static_cast<int>(std::min<double>(std::trunc(static_cast<double>(X2 - xSrc + 1) * wDst / wSrc), wDst - 1));
    r1 = static_cast<int>(std::max<double>(std::trunc(static_cast<double>(Y1 - ySrc) * hDst / hSrc), 0));
    r2 = static_cast<int>(std::min<double>(std::trunc(static_cast<double>(Y2 - ySrc + 1) * hDst / hSrc), hDst - 1));
    for (int r = r1; r <= r2; ++r) {
        const int64_t sy = std::min<int64_t>(ySrc + ((r * stepY) >> 14), Height - 1);
        uint8_t* out = zoom_.data() + static_cast<size_t>(r) * static_cast<size_t>(wDst);
        for (int c = c1; c <= c2; ++c) {
            const int64_t sx = xSrc + ((c * stepX) >> 14);
            const int px = static_cast<int>(std::clamp<int64_t>(sx, -1, Width));
            out[c] = GetPixel(px, static_cast<int>(std::max<int64_t>(sy, -1))) != 0 ? 1 : 0;
        }
    }
    return true;
}

void TPxMask::PlotPixel(HDC Dc, HDC PlotDc, int x, int y, const TPxRGB& Color)
{
    GdiFlush();
    plotPixel_[0] = Color.b;
    plotPixel_[1] = Color.g;
    plotPixel_[2] = Color.r;
    BitBlt(Dc, x, y, 1, 1, PlotDc, 0, 0, SRCCOPY);
}

void TPxMask::DrawOutline(classlib::TCanvas* Canvas, int xDst, int yDst, int wDst, int hDst, int xSrc, int ySrc,
                          int wSrc, int hSrc, classlib::TColor Color1, classlib::TColor Color2, int Phase,
                          RECT& OutRect)
{
    if (!Canvas || !plotBitmap_)
        return;
    int c1 = 0, c2 = 0, r1 = 0, r2 = 0;
    if (!RenderZoom(wDst, hDst, xSrc, ySrc, wSrc, hSrc, c1, c2, r1, r2))
        return;
    Canvas->GetPen()->SetStyle(classlib::psSolid);
    Canvas->GetPen()->SetMode(classlib::pmCopy);
    const TPxRGB first = PxColorToRGB(Color1);
    const TPxRGB second = PxColorToRGB(Color2);
    HDC dc = Canvas->GetHandle();
    const classlib::TMemoryDC plotDc(plotBitmap_.Get(), dc);
    if (!plotDc.Get())
        return;
    const int64_t stepX = ZoomStep(wSrc, wDst);
    const int64_t stepY = ZoomStep(hSrc, hDst);
    auto at = [&](int c, int r) -> bool {
        return zoom_[static_cast<size_t>(r) * static_cast<size_t>(wDst) + static_cast<size_t>(c)] != 0;
    };
    for (int r = r1; r <= r2; ++r) {
        const int64_t sourceRow = ySrc + ((r * stepY) >> 14);
        for (int c = c1; c <= c2; ++c) {
            if (!at(c, r))
                continue;
            const int64_t sourceCol = xSrc + ((c * stepX) >> 14);
            bool outline = (c == 0 && sourceCol <= X1) || (c == wDst - 1 && (sourceCol >= X2 || wSrc == Width)) ||
                           (r == 0 && sourceRow <= Y1) || (r == hDst - 1 && (sourceRow >= Y2 || hSrc == Height));
            for (int nr = r - 1; !outline && nr <= r + 1; ++nr) {
                if (nr < 0 || nr >= hDst)
                    continue;
                for (int nc = c - 1; nc <= c + 1; ++nc) {
                    if (nc < 0 || nc >= wDst || (nc == c && nr == r))
                        continue;
                    if (!at(nc, nr)) {
                        outline = true;
                        break;
                    }
                }
            }
            if (!outline)
                continue;
            const int sx = xDst + c;
            const int sy = yDst + r;
            PlotPixel(dc, plotDc.Get(), sx, sy, (sx + sy + Phase) % 8 < 4 ? first : second);
        }
    }
    OutRect.left = xDst + c1 + 1;
    OutRect.top = yDst + r1 + 1;
    OutRect.right = xDst + c2;
    OutRect.bottom = yDst + r2;
}

void TPxMask::ShadeOutside(TPxBaseBitmap* Bitmap, int xDst, int yDst, int wDst, int hDst, int xSrc, int ySrc,
                           int wSrc, int hSrc, classlib::TColor Color, int Opacity)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px24RGB || hDst <= 0 || wDst <= 0)
        return;
    // A visible area that starts above or left of the bitmap is cut there,
    // the source following proportionally.
    if (yDst < 0) {
        const double r = static_cast<double>(hSrc) / hDst;
        const int cut = static_cast<int>(classlib::Round(yDst * r));
        hDst += yDst;
        hSrc += cut;
        ySrc -= cut;
        yDst = 0;
    }
    if (xDst < 0) {
        const double r = static_cast<double>(wSrc) / wDst;
        const int cut = static_cast<int>(classlib::Round(xDst * r));
        wDst += xDst;
        wSrc += cut;
        xSrc -= cut;
        xDst = 0;
    }
    int c1 = 0, c2 = 0, r1 = 0, r2 = 0;
    if (!RenderZoom(wDst, hDst, xSrc, ySrc, wSrc, hSrc, c1, c2, r1, r2))
        return;
    const TPxRGB colour = PxColorToRGB(Color);
    const double w = Opacity / 255.0;
    const int bitmapW = Bitmap->GetWidth();
    const int bitmapH = Bitmap->GetHeight();
    TPxAccessScope access(*Bitmap, pxAccessReadWrite);
    for (int r = 0; r < hDst; ++r) {
        const int y = yDst + r;
        if (y < 0 || y >= bitmapH)
            continue;
        auto* row = reinterpret_cast<TPxRGB*>(Bitmap->GetScanline(y));
        const uint8_t* z = zoom_.data() + static_cast<size_t>(r) * static_cast<size_t>(wDst);
        for (int c = 0; c < wDst; ++c) {
            const int x = xDst + c;
            if (x < 0 || x >= bitmapW || z[c] != 0)
                continue;
            TPxRGB& p = row[x];
            if (Opacity == -1) {
                if ((r & 1) == (c & 1))
                    p = TPxRGB{97, 97, 97};
            } else {
                p.r = static_cast<uint8_t>(static_cast<int>(w * colour.r + (1 - w) * p.r));
                p.g = static_cast<uint8_t>(static_cast<int>(w * colour.g + (1 - w) * p.g));
                p.b = static_cast<uint8_t>(static_cast<int>(w * colour.b + (1 - w) * p.b));
            }
        }
    }
}

// ------------------------------------------------------------ masked copy

void TPxMask::CopyMaskedPixels(TPxBitmap* Dest, TPxBitmap* Source, bool CopyAlpha, bool SourceIsBoxOnly,
                               bool DestIsBoxOnly)
{
    if (!Dest || !Source || IsEmpty() || BitsPerPixel == 0)
        return;
    const TPxPixelFormat df = Dest->GetPixelFormat();
    const TPxPixelFormat sf = Source->GetPixelFormat();
    bool copyPixels = false;
    if (df == sf) {
        if (BitsPerPixel == 1)
            copyPixels = SameFormatCopiedBy1BitMask(df);
        else
            copyPixels = df == px24RGB || df == px32RGB || df == px8g || df == px8p || df == px1g;
    }
    const int sw = Source->GetWidth(), sh = Source->GetHeight();
    const int dw = Dest->GetWidth(), dh = Dest->GetHeight();
    const int sox = SourceIsBoxOnly ? X1 : 0, soy = SourceIsBoxOnly ? Y1 : 0;
    const int dox = DestIsBoxOnly ? X1 : 0, doy = DestIsBoxOnly ? Y1 : 0;
    // Box clipped to the mask and to both images in their own coordinates.
    const int xStart = std::max({X1, 0, sox, dox});
    const int xEnd = std::min({X2, Width - 1, sw - 1 + sox, dw - 1 + dox});
    const int yStart = std::max({Y1, 0, soy, doy});
    const int yEnd = std::min({Y2, Height - 1, sh - 1 + soy, dh - 1 + doy});

    if (copyPixels && xStart <= xEnd) {
        TPxAccessScope sourceAccess(*Source, pxAccessRead);
        TPxAccessScope destAccess(*Dest, pxAccessReadWrite);
        const int bpp = df == px1g ? 0 : BytesPerPixel(df);
        std::vector<uint8_t> src;
        for (int y = yStart; y <= yEnd; ++y) {
            ReadRow(*Source, y - soy, src);
            uint8_t* dst = Dest->GetScanline(y - doy);
            for (int x = xStart; x <= xEnd; ++x) {
                const int m = GetPixel(x, y);
                if (m == 0)
                    continue;
                const int sx = x - sox, dx = x - dox;
                if (df == px1g) {
                    PxSetBit(dst, dx, PxGetBit(src.data(), sx) != 0);
                } else if (BitsPerPixel == 1) {
                    std::memcpy(dst + static_cast<size_t>(dx) * bpp, src.data() + static_cast<size_t>(sx) * bpp,
                                static_cast<size_t>(bpp));
                } else if (df == px24RGB || df == px32RGB) {
                    // The colour channels blend like 24-bit pixels; the fourth
                    // byte of a 32-bit pixel is taken from the source.
                    uint8_t* d = dst + static_cast<size_t>(dx) * bpp;
                    const uint8_t* s = src.data() + static_cast<size_t>(sx) * bpp;
                    for (int k = 0; k < 3; ++k)
                        d[k] = static_cast<uint8_t>(d[k] + ((static_cast<int>(s[k]) - d[k]) * m * 1024 >> 18));
                    if (bpp == 4)
                        d[3] = s[3];
                } else {
                    uint8_t& d = dst[dx];
                    d = static_cast<uint8_t>(d + ((static_cast<int>(src[static_cast<size_t>(sx)]) - d) * m >> 8));
                }
            }
        }
    }

    if (CopyAlpha && xStart <= xEnd) {
        TPxBitmap* destAlpha = Dest->GetAlphaChannel();
        if (!destAlpha)
            return;
        TPxBitmap* sourceAlpha = Source->HasAlphaChannel() ? Source->GetAlphaChannel() : nullptr;
        destAlpha->FullAlpha = false;
        TPxAccessScope destAccess(*destAlpha, pxAccessReadWrite);
        std::vector<uint8_t> src;
        for (int y = yStart; y <= yEnd; ++y) {
            if (sourceAlpha)
                ReadRow(*sourceAlpha, y - soy, src);
            uint8_t* dst = destAlpha->GetScanline(y - doy);
            for (int x = xStart; x <= xEnd; ++x) {
                int m = GetPixel(x, y);
                if (BitsPerPixel == 1 && m != 0)
                    m = 255;
                const int a = sourceAlpha ? src[static_cast<size_t>(x - sox)] : 255;
                dst[x - dox] = static_cast<uint8_t>(m != 0 ? std::min(a, m) : 0);
            }
        }
    }
}

}  // namespace imaging
