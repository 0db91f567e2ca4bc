#include "imaging/proc/PxRotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

constexpr double kPi = 3.14159265358979323846;

inline int RoundInt(double v)
{
    return static_cast<int>(classlib::Round(v));
}

inline int TruncInt(double v)
{
    return static_cast<int>(classlib::Trunc(v));
}

int BytesPerPixel(TPxPixelFormat f)
{
    return PxPixelFormatBits[f] / 8;
}

bool IsByteFormat(TPxPixelFormat f)
{
    return f == px8g || f == px8p;
}

void Progress(classlib::TObject* Sender, const TPxProgressEvent& OnProgress, double value)
{
    if (OnProgress)
        OnProgress(Sender, TruncInt(value));
}

// Size of a work buffer of a x b x c bytes; raises when it cannot be held.
size_t BufferSize(int64_t a, int64_t b, int64_t c)
{
    if (a < 0 || b < 0 || c < 0)
        return 0;
    const int64_t limit = std::numeric_limits<int64_t>::max() / 4;
    if (a != 0 && b > limit / a)
        throw classlib::EOutOfMemory(L"Out of memory");
    const int64_t ab = a * b;
    if (c != 0 && ab > limit / c)
        throw classlib::EOutOfMemory(L"Out of memory");
    return static_cast<size_t>(ab * c);
}

// All rows of an image readable at once, read-only: file rows are mapped
// (MapRow), the others addressed directly. Restores the access byte and
// releases the mappings on every way out.
class TSourceRows {
public:
    explicit TSourceRows(TPxBitmap& Bitmap) : bitmap_(Bitmap), access_(Bitmap, pxAccessRead)
    {
        const int h = Bitmap.GetHeight();
        mapped_ = Bitmap.GetLocation() == pxFile;
        rows_.resize(static_cast<size_t>(std::max(h, 0)));
        try {
            for (int y = 0; y < h; ++y)
                rows_[static_cast<size_t>(y)] = mapped_ ? Bitmap.MapRow(y) : Bitmap.GetScanline(y);
        } catch (...) {
            if (mapped_)
                Bitmap.UnmapAllRows();
            throw;
        }
    }
    ~TSourceRows()
    {
        if (mapped_)
            bitmap_.UnmapAllRows();
    }
    TSourceRows(const TSourceRows&) = delete;
    TSourceRows& operator=(const TSourceRows&) = delete;

    const uint8_t* operator[](int y) const { return rows_[static_cast<size_t>(y)]; }

private:
    TPxBitmap& bitmap_;
    TPxAccessScope access_;
    std::vector<uint8_t*> rows_;
    bool mapped_ = false;
};

// Whole rows written into an image one at a time (write-only access, so
// file rows are not read first).
class TRowWriter {
public:
    explicit TRowWriter(TPxBitmap& Bitmap) : bitmap_(Bitmap), access_(Bitmap, pxAccessWrite)
    {
        rowLen_ = static_cast<size_t>(Bitmap.GetRowLen());
    }
    size_t RowLen() const { return rowLen_; }
    // Row holds at least RowLen() bytes.
    void Put(int y, const uint8_t* Row) { std::memcpy(bitmap_.GetScanline(y), Row, rowLen_); }

private:
    TPxBitmap& bitmap_;
    TPxAccessScope access_;
    size_t rowLen_ = 0;
};

// Reads rows of an image one at a time into a buffer (read-only access).
void ReadRow(TPxBitmap& Bitmap, int y, uint8_t* Row, size_t Len)
{
    TPxAccessScope access(Bitmap, pxAccessRead);
    std::memcpy(Row, Bitmap.GetScanline(y), Len);
}

// A row of Width pixels of Format filled with Value as TPxBitmap::Fill
// fills, padded with zeros to RowLen bytes.
std::vector<uint8_t> FillRow(TPxPixelFormat Format, int Width, double Value, size_t RowLen)
{
    std::vector<uint8_t> row(RowLen, 0);
    if (Width < 1)
        return row;
    TPxBitmap t;
    t.FileThreshold = std::numeric_limits<int64_t>::max();
    if (!t.Allocate(Width, 1, Format))
        throw classlib::EOutOfMemory(L"Out of memory");
    t.Fill(Value);
    TPxAccessScope access(t, pxAccessRead);
    std::memcpy(row.data(), t.GetScanline(0), std::min(RowLen, static_cast<size_t>(t.GetRowLen())));
    return row;
}

// A new image that takes the storage-relevant settings of Source.
std::unique_ptr<TPxBitmap> NewLike(TPxBitmap& Source)
{
    auto b = std::make_unique<TPxBitmap>();
    b->FileThreshold = Source.FileThreshold;
    b->BiLevelMethod = Source.BiLevelMethod;
    b->PaletteCapacity = Source.PaletteCapacity;
    b->SetAllocator(Source.GetAllocator());
    return b;
}

// Dest allocated as Width x Height in Source's format (palette copied); a
// side below 1 leaves Dest empty.
void AllocateLike(TPxBitmap& Dest, TPxBitmap& Source, int Width, int Height)
{
    const TPxPixelFormat f = Source.GetPixelFormat();
    if (Width < 1 || Height < 1 || f == pxNoPixels) {
        Dest.FreeImage(false);
        return;
    }
    if (!Dest.Allocate(Width, Height, f))
        throw classlib::EOutOfMemory(L"Out of memory");
    if (f == px8p)
        Source.CopyPaletteTo(&Dest);
}

// Bitmap takes Result's pixels and palette, keeping its own alpha channel
// (AssignImage). When the size changes, the storage of an ordinary image is
// handed over instead of copied (it would be rebuilt anyway); alpha
// channels, system bitmaps and other row alignments are copied.
void TakeImage(TPxBitmap& Bitmap, TPxBitmap& Result)
{
    if (Result.IsEmpty()) {
        Bitmap.FreeImage(false);
        return;
    }
    const bool handOver = !Bitmap.IsAlphaChannel() && !Bitmap.LegacyBitmap && Bitmap.GetLocation() != pxTBitmap &&
                          Result.GetLocation() != pxTBitmap && !Result.HasAlphaChannel() &&
                          Bitmap.GetRowAlignment() == Result.GetRowAlignment() &&
                          (Bitmap.GetWidth() != Result.GetWidth() || Bitmap.GetHeight() != Result.GetHeight());
    if (handOver) {
        std::unique_ptr<TPxBitmap> kept;
        if (Bitmap.HasAlphaChannel()) {
            kept = std::make_unique<TPxBitmap>();
            Bitmap.GetAlphaChannel()->MoveStorageTo(kept.get());
        }
        const uint8_t allocator = Bitmap.GetAllocator();
        const uint8_t biLevel = Bitmap.BiLevelMethod;
        Result.MoveStorageTo(&Bitmap);
        Bitmap.SetAllocator(allocator);
        Bitmap.BiLevelMethod = biLevel;
        if (kept)
            Bitmap.AttachAlphaChannel(kept.release());
        Bitmap.FullAlpha = false;
        return;
    }
    if (!AssignImage(Bitmap, &Result))
        throw classlib::EOutOfMemory(L"Out of memory");
}

// 0..3 quarter turns anticlockwise for a right angle.
int QuarterOf(double Angle)
{
    const int64_t q = (static_cast<int64_t>(Angle) / 90) % 4;
    return static_cast<int>((q + 4) % 4);
}

// ---- exact quarter turns

template <int B>
void QuarterBytes(const TSourceRows& src, int w, int h, TRowWriter& out, int quarter, classlib::TObject* Sender,
                  const TPxProgressEvent& OnProgress)
{
    const int W = (quarter & 1) ? h : w;
    const int H = (quarter & 1) ? w : h;
    const size_t len = out.RowLen();
    const double step = H > 0 ? 100.0 / H : 0;
    if (quarter == 0 || quarter == 2) {
        std::vector<uint8_t> row(len, 0);
        for (int l = 0; l < H; ++l) {
            if (quarter == 0) {
                std::memcpy(row.data(), src[l], static_cast<size_t>(w) * B);
            } else {
                const uint8_t* s = src[h - 1 - l] + static_cast<size_t>(w - 1) * B;
                uint8_t* d = row.data();
                for (int t = 0; t < W; ++t, d += B, s -= B)
                    std::memcpy(d, s, B);
            }
            out.Put(l, row.data());
            Progress(Sender, OnProgress, l * step);
        }
        return;
    }
    // Quarter turns read source columns: a block of destination rows is
    // built at once so that each source row is visited once per block.
    constexpr int K = 64;
    std::vector<uint8_t> block(len * K, 0);
    for (int l0 = 0; l0 < H; l0 += K) {
        const int n = std::min(K, H - l0);
        for (int t = 0; t < W; ++t) {
            const uint8_t* s;
            ptrdiff_t dir;
            if (quarter == 1) {
                // Dest(t, l) = Source(w - 1 - l, t)
                s = src[t] + static_cast<size_t>(w - 1 - l0) * B;
                dir = -B;
            } else {
                // Dest(t, l) = Source(l, h - 1 - t)
                s = src[h - 1 - t] + static_cast<size_t>(l0) * B;
                dir = B;
            }
            uint8_t* d = block.data() + static_cast<size_t>(t) * B;
            for (int k = 0; k < n; ++k, s += dir, d += len)
                std::memcpy(d, s, B);
        }
        for (int k = 0; k < n; ++k) {
            out.Put(l0 + k, block.data() + len * k);
            Progress(Sender, OnProgress, (l0 + k) * step);
        }
    }
}

void QuarterBits(const TSourceRows& src, int w, int h, TRowWriter& out, int quarter, classlib::TObject* Sender,
                 const TPxProgressEvent& OnProgress)
{
    const int W = (quarter & 1) ? h : w;
    const int H = (quarter & 1) ? w : h;
    const double step = H > 0 ? 100.0 / H : 0;
    std::vector<uint8_t> row(out.RowLen(), 0);
    for (int l = 0; l < H; ++l) {
        std::fill(row.begin(), row.end(), 0);
        for (int t = 0; t < W; ++t) {
            int sx, sy;
            switch (quarter) {
            case 0: sx = t, sy = l; break;
            case 1: sx = w - 1 - l, sy = t; break;
            case 2: sx = w - 1 - t, sy = h - 1 - l; break;
            default: sx = l, sy = h - 1 - t; break;
            }
            if (PxGetBit(src[sy], sx))
                row[static_cast<size_t>(t >> 3)] |= PxBitMask[t & 7];
        }
        out.Put(l, row.data());
        Progress(Sender, OnProgress, l * step);
    }
}

// Dest := Source turned by quarter x 90 degrees anticlockwise, exactly.
void RotateQuarterInto(TPxBitmap& Source, TPxBitmap& Dest, int quarter, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress)
{
    const int w = Source.GetWidth();
    const int h = Source.GetHeight();
    const TPxPixelFormat f = Source.GetPixelFormat();
    AllocateLike(Dest, Source, (quarter & 1) ? h : w, (quarter & 1) ? w : h);
    if (w < 1 || h < 1)
        return;
    TSourceRows src(Source);
    TRowWriter out(Dest);
    switch (f == px1g ? 0 : BytesPerPixel(f)) {
    case 0: QuarterBits(src, w, h, out, quarter, Sender, OnProgress); break;
    case 1: QuarterBytes<1>(src, w, h, out, quarter, Sender, OnProgress); break;
    case 2: QuarterBytes<2>(src, w, h, out, quarter, Sender, OnProgress); break;
    case 3: QuarterBytes<3>(src, w, h, out, quarter, Sender, OnProgress); break;
    case 4: QuarterBytes<4>(src, w, h, out, quarter, Sender, OnProgress); break;
    case 6: QuarterBytes<6>(src, w, h, out, quarter, Sender, OnProgress); break;
    default: break;
    }
}

void FlipOne(TPxBitmap& Bitmap, uint8_t Direction);

// Bitmap turned in place by quarter x 90 degrees anticlockwise (own alpha
// channel object kept, not turned).
void RotateQuarterInPlace(TPxBitmap& Bitmap, int quarter, classlib::TObject* Sender,
                          const TPxProgressEvent& OnProgress)
{
    if (quarter == 0 || Bitmap.IsEmpty())
        return;
    if (quarter == 2) {
        // A half turn is both mirrors, done in place.
        FlipOne(Bitmap, 2);
        Progress(Sender, OnProgress, 100);
        return;
    }
    auto result = NewLike(Bitmap);
    RotateQuarterInto(Bitmap, *result, quarter, Sender, OnProgress);
    TakeImage(Bitmap, *result);
}

void RotateAlphaQuarter(TPxBitmap& Bitmap, int quarter)
{
    if (quarter == 0 || !Bitmap.HasAlphaChannel())
        return;
    TPxBitmap* alpha = Bitmap.GetAlphaChannel();
    RotateQuarterInPlace(*alpha, quarter, nullptr, TPxProgressEvent());
}

// ---- shear rotation (px24RGB with 3 channels, one-byte formats with 1)

struct TShearColour {
    uint8_t c[3];
};

inline uint8_t Blend(int prev, int cur, int D, int E)
{
    return static_cast<uint8_t>(PxClampByte(RoundInt((prev * D + cur * E + 2048) / 4096.0)));
}

template <int C>
inline void BlendPixel(uint8_t* d, const uint8_t* prev, const uint8_t* cur, int D, int E)
{
    for (int i = 0; i < C; ++i)
        d[i] = Blend(prev[i], cur[i], D, E);
}

// Three shears of T (w x h, C bytes per pixel) by a degrees (|a| <= 45, not
// 0) into Bitmap, which is re-allocated in T's format.
template <int C>
void ShearRotate(TPxBitmap& T, TPxBitmap& Bitmap, bool AntiAlias, const uint8_t* Colour, double a,
                 classlib::TObject* Sender, const TPxProgressEvent& OnProgress)
{
    const int w = T.GetWidth();
    const int h = T.GetHeight();
    const double q = a * kPi / 180;
    const double tn = std::fabs(std::tan(q / 2));
    const double sn = std::fabs(std::sin(q));
    const int s = RoundInt(h * tn + w + 1);
    const int l = RoundInt((s - w) * sn);
    const int t0 = RoundInt(s * sn + h + 1);
    const int u = RoundInt((t0 - h - l) * tn);
    const int H = RoundInt(static_cast<double>(t0 - 2 * l));
    const int W = RoundInt(H * tn + s + 1 - 2 * u);
    const double P = 100.0 / (h + s + H);

    // Pass 1: horizontal shear of T into A (s x h).
    std::vector<uint8_t> A(BufferSize(s, h, C));
    {
        const size_t srcLen = static_cast<size_t>(w) * C;
        std::vector<uint8_t> srow(srcLen);
        for (int r = 0; r < h; ++r) {
            ReadRow(T, r, srow.data(), srcLen);
            uint8_t* arow = A.data() + static_cast<size_t>(r) * s * C;
            const int k = q > 0 ? r : h - r;
            const double x = k * tn;
            const int n = RoundInt(x);
            for (int c = 0; c < s; ++c)
                std::memcpy(arow + static_cast<size_t>(c) * C, Colour, C);
            if (AntiAlias) {
                const int D = TruncInt((x - n) * 4096);
                const int E = TruncInt(4096.0 - D);
                const uint8_t* prev = Colour;
                for (int j = 0; j < w; ++j) {
                    const uint8_t* pix = srow.data() + static_cast<size_t>(j) * C;
                    const int col = n + j;
                    if (col >= 0 && col < s)
                        BlendPixel<C>(arow + static_cast<size_t>(col) * C, prev, pix, D, E);
                    prev = pix;
                }
                if (D > 0 && n + w < s && n + w >= 0)
                    BlendPixel<C>(arow + static_cast<size_t>(n + w) * C, prev, Colour, D, E);
            } else {
                for (int j = 0; j < w; ++j) {
                    const int col = n + j;
                    if (col >= 0 && col < s)
                        std::memcpy(arow + static_cast<size_t>(col) * C, srow.data() + static_cast<size_t>(j) * C, C);
                }
            }
            Progress(Sender, OnProgress, r * P);
        }
    }

    // Pass 2: vertical shear of A into B (s x H).
    std::vector<uint8_t> B(BufferSize(s, std::max(H, 0), C));
    for (int c = 0; c < s; ++c) {
        const int k = q > 0 ? s - c : c;
        const double y = k * sn;
        const int o = RoundInt(y);
        const int D = RoundInt((y - o) * 4096);
        const int E = 4096 - D;
        const int offset = o - l;
        auto bpix = [&](int r) { return B.data() + (static_cast<size_t>(r) * s + c) * C; };
        auto apix = [&](int r) { return A.data() + (static_cast<size_t>(r) * s + c) * C; };
        for (int r = 0; r < H; ++r)
            std::memcpy(bpix(r), Colour, C);
        if (AntiAlias) {
            const uint8_t* prev = Colour;
            for (int r = 0; r < h; ++r) {
                const int y2 = r + offset;
                if (y2 >= 0 && y2 < H) {
                    BlendPixel<C>(bpix(y2), prev, apix(r), D, E);
                    prev = apix(r);
                }
            }
            if (D > 0 && offset + h < H && offset + h >= 0)
                BlendPixel<C>(bpix(offset + h), prev, Colour, D, E);
        } else {
            for (int r = 0; r < h; ++r) {
                const int y2 = r + offset;
                if (y2 >= 0 && y2 < H)
                    std::memcpy(bpix(y2), apix(r), C);
            }
        }
        Progress(Sender, OnProgress, (h + c) * P);
    }
    A.clear();
    A.shrink_to_fit();

    // Pass 3: horizontal shear of B into Bitmap (W x H).
    AllocateLike(Bitmap, T, W, H);
    if (W < 1 || H < 1)
        return;
    TRowWriter out(Bitmap);
    std::vector<uint8_t> row(std::max(out.RowLen(), static_cast<size_t>(W) * C), 0);
    for (int r = 0; r < H; ++r) {
        for (int c = 0; c < W; ++c)
            std::memcpy(row.data() + static_cast<size_t>(c) * C, Colour, C);
        const int k = q > 0 ? r : H - r;
        const double x = k * tn;
        const int n = RoundInt(x);
        const int D = RoundInt((x - n) * 4096);
        const int E = 4096 - D;
        const int offset = n - u;
        const uint8_t* brow = B.data() + static_cast<size_t>(r) * s * C;
        const uint8_t* prev = Colour;
        for (int c = 0; c < s; ++c) {
            const int col = offset + c;
            if (col < 0 || col >= W)
                continue;
            const uint8_t* pix = brow + static_cast<size_t>(c) * C;
            if (AntiAlias) {
                BlendPixel<C>(row.data() + static_cast<size_t>(col) * C, prev, pix, D, E);
                prev = pix;
            } else {
                std::memcpy(row.data() + static_cast<size_t>(col) * C, pix, C);
            }
        }
        if (AntiAlias && D > 0 && offset + s < W && offset + s >= 0)
            BlendPixel<C>(row.data() + static_cast<size_t>(offset + s) * C, prev, Colour, D, E);
        out.Put(r, row.data());
        Progress(Sender, OnProgress, (h + s + r) * P);
    }
}

// The right-angle steps and shears shared by the 24-bit and 8-bit rotators.
template <int C>
void StepsAndShears(TPxBitmap& Bitmap, bool AntiAlias, const uint8_t* Colour, double Angle, classlib::TObject* Sender,
                    const TPxProgressEvent& OnProgress)
{
    // The angle in thousandths of a degree, sign kept, within +-360.
    double a = std::fmod(std::trunc(Angle * 1000), 360000.0) / 1000;
    int quarter = 0;
    while (a > 45) {
        a -= 90;
        ++quarter;
    }
    while (a < -45) {
        a += 90;
        --quarter;
    }
    quarter = ((quarter % 4) + 4) % 4;
    if (a == 0) {
        RotateQuarterInPlace(Bitmap, quarter, Sender, OnProgress);
        return;
    }
    // T: Bitmap after the right-angle steps (a copy when there are none).
    auto T = NewLike(Bitmap);
    if (quarter != 0) {
        RotateQuarterInto(Bitmap, *T, quarter, nullptr, TPxProgressEvent());
    } else {
        if (!AssignImage(*T, &Bitmap))
            throw classlib::EOutOfMemory(L"Out of memory");
    }
    auto result = NewLike(Bitmap);
    ShearRotate<C>(*T, *result, AntiAlias, Colour, a, Sender, OnProgress);
    T.reset();
    TakeImage(Bitmap, *result);
}

// ---- PxRotateBilevel / PxRotateByteImage, angles that are not right angles

template <bool Bits>
void TrigRotate(TPxBitmap& Bitmap, int Background, TPxProgressRec* ProgressRec, double Angle)
{
    const int w = Bitmap.GetWidth();
    const int h = Bitmap.GetHeight();
    const double g = -Angle / 57.295779513082320877;
    const double cs = static_cast<double>(classlib::Trunc(std::cos(g) * 10000)) / 10000;
    const double sn = static_cast<double>(classlib::Trunc(std::sin(g) * 10000)) / 10000;
    const int W = TruncInt(std::fabs(w * cs) + std::fabs(h * sn));
    const int H = TruncInt(std::fabs(sn * -w) + std::fabs(cs * h));
    auto result = NewLike(Bitmap);
    AllocateLike(*result, Bitmap, W, H);
    if (W >= 1 && H >= 1) {
        std::vector<int> PX(static_cast<size_t>(W)), PY(static_cast<size_t>(W));
        for (int j = 0; j < W; ++j) {
            const double dx = j - (W / 2.0 - 0.5);
            PX[static_cast<size_t>(j)] = TruncInt(cs * dx);
            PY[static_cast<size_t>(j)] = TruncInt(sn * (0 - dx));
        }
        TSourceRows src(Bitmap);
        TRowWriter out(*result);
        std::vector<uint8_t> row(out.RowLen(), 0);
        for (int k = 0; k < H; ++k) {
            const double dy = k - (H / 2.0 - 0.5);
            const int RX = TruncInt((w / 2.0 - 0.5) + sn * dy);
            const int RY = TruncInt((h / 2.0 - 0.5) + cs * dy);
            std::fill(row.begin(), row.end(), 0);
            for (int j = 0; j < W; ++j) {
                const int sx = RX + PX[static_cast<size_t>(j)];
                const int sy = RY + PY[static_cast<size_t>(j)];
                const bool inside = sx >= 0 && sx < w && sy >= 0 && sy < h;
                if (Bits) {
                    const bool bit = inside ? PxGetBit(src[sy], sx) != 0 : Background != 0;
                    if (bit)
                        row[static_cast<size_t>(j >> 3)] |= PxBitMask[j & 7];
                } else {
                    row[static_cast<size_t>(j)] = inside ? src[sy][sx] : static_cast<uint8_t>(Background);
                }
            }
            out.Put(k, row.data());
            if (ProgressRec && ProgressRec->OnProgress)
                ProgressRec->OnProgress(ProgressRec->Sender, TruncInt(k * (100.0 / H)));
        }
    }
    TakeImage(Bitmap, *result);
}

// ---- smooth rotation

template <int C>
void SmoothRotate(TPxBitmap& Bitmap, const uint8_t* Colour, int Quality, double Angle, classlib::TObject* Sender,
                  const TPxProgressEvent& OnProgress)
{
    const int w = Bitmap.GetWidth();
    const int h = Bitmap.GetHeight();
    if (w < 1 || h < 1)
        return;
    // The source with a 3-pixel frame of the background all round.
    const int w2 = w + 6;
    const int h2 = h + 6;
    std::vector<uint8_t> framed(BufferSize(w2, h2, C));
    for (size_t i = 0; i < framed.size(); i += C)
        std::memcpy(framed.data() + i, Colour, C);
    {
        const size_t len = static_cast<size_t>(w) * C;
        for (int y = 0; y < h; ++y)
            ReadRow(Bitmap, y, framed.data() + (static_cast<size_t>(y + 3) * w2 + 3) * C, len);
    }
    auto px = [&](int x, int y) -> const uint8_t* {
        if (x < 0 || y < 0 || x >= w2 || y >= h2)
            return Colour;
        return framed.data() + (static_cast<size_t>(y) * w2 + x) * C;
    };

    const double th = Angle * kPi / 180;
    const double cs = std::cos(th);
    const double sn = std::sin(th);
    const int W = RoundInt(std::fabs(sn) * (h2 - 1) + std::fabs(cs) * (w2 - 1));
    const int H = RoundInt(std::fabs(cs) * (h2 - 1) + std::fabs(sn) * (w2 - 1));
    const double scx = (w2 - 1) / 2.0, scy = (h2 - 1) / 2.0;
    const double dcx = (W - 1) / 2.0, dcy = (H - 1) / 2.0;
    // The frame is cut off again: the result is the rotation's pixels from
    // (3, 3) on, 6 pixels narrower and lower.
    const int outW = std::max(W - 6, 0);
    const int outH = std::max(H - 6, 0);
    auto result = NewLike(Bitmap);
    AllocateLike(*result, Bitmap, outW, outH);
    if (outW >= 1 && outH >= 1) {
        std::vector<double> X(static_cast<size_t>(outW)), Y(static_cast<size_t>(outW));
        for (int i = 0; i < outW; ++i) {
            const double dt = (i + 3) - dcx;
            X[static_cast<size_t>(i)] = dt * cs + scx;
            Y[static_cast<size_t>(i)] = dt * sn + scy;
        }
        TRowWriter out(*result);
        std::vector<uint8_t> row(out.RowLen(), 0);
        for (int j = 0; j < outH; ++j) {
            const int l = j + 3;
            const double dy = l - dcy;
            for (int i = 0; i < outW; ++i) {
                const double sx = X[static_cast<size_t>(i)] - dy * sn;
                const double sy = Y[static_cast<size_t>(i)] + dy * cs;
                uint8_t* d = row.data() + static_cast<size_t>(i) * C;
                if (Quality <= 1) {
                    const int cx = TruncInt(sx), cy = TruncInt(sy);
                    const double fx = sx - std::floor(sx), fy = sy - std::floor(sy);
                    const uint8_t* p00 = px(cx, cy);
                    const uint8_t* p10 = px(cx + 1, cy);
                    const uint8_t* p01 = px(cx, cy + 1);
                    const uint8_t* p11 = px(cx + 1, cy + 1);
                    for (int ch = 0; ch < C; ++ch) {
                        const double top = p00[ch] + (p10[ch] - p00[ch]) * fx;
                        const double bottom = p01[ch] + (p11[ch] - p01[ch]) * fx;
                        d[ch] = static_cast<uint8_t>(PxClampByte(TruncInt(top + (bottom - top) * fy)));
                    }
                } else {
                    const int cx = TruncInt(sx), cy = TruncInt(sy);
                    const double fx = sx - cx, fy = sy - cy;
                    const double wx[4] = {-fx * (1 - fx) * (1 - fx), 1 - 2 * fx * fx + fx * fx * fx,
                                          fx * (1 + fx - fx * fx), fx * fx * (fx - 1)};
                    const double wy[4] = {-fy * (1 - fy) * (1 - fy), 1 - 2 * fy * fy + fy * fy * fy,
                                          fy * (1 + fy - fy * fy), fy * fy * (fy - 1)};
                    double sum[C] = {};
                    for (int m = 0; m < 4; ++m)
                        for (int n = 0; n < 4; ++n) {
                            const uint8_t* p = px(cx - 1 + n, cy - 1 + m);
                            const double wgt = wx[n] * wy[m];
                            for (int ch = 0; ch < C; ++ch)
                                sum[ch] += p[ch] * wgt;
                        }
                    // Undershoot is clamped to 0 (not mirrored).
                    for (int ch = 0; ch < C; ++ch)
                        d[ch] = static_cast<uint8_t>(PxClampByte(TruncInt(sum[ch])));
                }
            }
            out.Put(j, row.data());
            Progress(Sender, OnProgress, l * (100.0 / H));
        }
    }
    TakeImage(Bitmap, *result);
}

// ---- flips

// Dest := the pixels of Source in reverse order (Width pixels of Format).
// px1g: bytes in reverse order with the bits of each byte reversed, then the
// run shifted so that the image's width starts at bit 0 (the unused bits at
// the end of a row never enter the picture). Dest and Source do not overlap.
template <int B>
void ReverseBytes(uint8_t* Dest, const uint8_t* Source, int Width)
{
    const uint8_t* s = Source + static_cast<size_t>(Width - 1) * B;
    for (int x = 0; x < Width; ++x, Dest += B, s -= B)
        std::memcpy(Dest, s, B);
}

void ReverseRow(uint8_t* Dest, const uint8_t* Source, int Width, TPxPixelFormat Format, std::vector<uint8_t>& Work)
{
    if (Format == px1g) {
        const int bytes = (Width + 7) / 8;
        Work.resize(static_cast<size_t>(bytes));
        for (int i = 0; i < bytes; ++i)
            Work[static_cast<size_t>(i)] = PxReverseBitsTable[Source[bytes - 1 - i]];
        const int shift = Width % 8 == 0 ? 0 : 8 - Width % 8;
        std::memset(Dest, 0, static_cast<size_t>(bytes));
        PxCopyBits(Dest, Work.data(), 0, bytes, Width, shift);
        return;
    }
    switch (BytesPerPixel(Format)) {
    case 1: ReverseBytes<1>(Dest, Source, Width); break;
    case 2: ReverseBytes<2>(Dest, Source, Width); break;
    case 3: ReverseBytes<3>(Dest, Source, Width); break;
    case 4: ReverseBytes<4>(Dest, Source, Width); break;
    case 6: ReverseBytes<6>(Dest, Source, Width); break;
    default: break;
    }
}

// Mirrors in place: Direction 0 left-right, 1 upside-down, 2 both (a half
// turn). Rows are read and written one at a time (file rows included).
void FlipOne(TPxBitmap& Bitmap, uint8_t Direction)
{
    const int w = Bitmap.GetWidth();
    const int h = Bitmap.GetHeight();
    if (w < 1 || h < 1)
        return;
    const TPxPixelFormat f = Bitmap.GetPixelFormat();
    const size_t len = static_cast<size_t>(Bitmap.GetRowLen());
    TPxAccessScope access(Bitmap, pxAccessReadWrite);
    std::vector<uint8_t> a(len), b(len), work;
    const bool mirror = Direction != 1;
    if (Direction == 0) {
        for (int y = 0; y < h; ++y) {
            uint8_t* row = Bitmap.GetScanline(y);
            std::memcpy(a.data(), row, len);
            ReverseRow(row, a.data(), w, f, work);
        }
        return;
    }
    for (int y = 0; y < (h + 1) / 2; ++y) {
        const int y2 = h - 1 - y;
        std::memcpy(a.data(), Bitmap.GetScanline(y), len);
        uint8_t* r2 = Bitmap.GetScanline(y2);
        std::memcpy(b.data(), r2, len);
        if (mirror)
            ReverseRow(r2, a.data(), w, f, work);
        else
            std::memcpy(r2, a.data(), len);
        if (y2 != y) {
            uint8_t* r1 = Bitmap.GetScanline(y);
            if (mirror)
                ReverseRow(r1, b.data(), w, f, work);
            else
                std::memcpy(r1, b.data(), len);
        }
    }
}

// The fill value for the nearest rotator of a colour given as TPxRGB, by
// pixel format.
double NearestFillValue(TPxBitmap& Bitmap, const TPxRGB& c)
{
    switch (Bitmap.GetPixelFormat()) {
    case px8g: return PxRGB2Gray(c);
    case px16g: return PxRGB2Gray(c) * 257;
    case px32f: return PxRGB2Gray(c) / 255.0;
    case px8p: return PxNearestPaletteIndex(Bitmap.GetPaletteBuffer(), Bitmap.GetPaletteLen(), c);
    default: return PxRGBToColor(c);
    }
}

uint8_t ByteBackground(TPxBitmap& Bitmap, const TPxRGB& c)
{
    return static_cast<uint8_t>(NearestFillValue(Bitmap, c));
}

// The nearest rotator with the fill of uncovered pixels given as a value
// for TPxBitmap::Fill of the format (px1g: 0 or 1).
void NearestInto(TPxBitmap* Source, TPxBitmap* Dest, double FillValue, classlib::TObject* Sender,
                 const TPxProgressEvent& OnProgress, double Angle)
{
    Dest->FileThreshold = Source->FileThreshold;
    Dest->BiLevelMethod = Source->BiLevelMethod;
    if (PxIsRightAngle(Angle)) {
        // An exact permutation: every destination pixel is covered.
        RotateQuarterInto(*Source, *Dest, QuarterOf(Angle), Sender, OnProgress);
        return;
    }
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    const TPxPixelFormat f = Source->GetPixelFormat();
    const double th = Angle * kPi / 180;
    const double cs = std::cos(th);
    const double sn = std::sin(th);
    const int W = RoundInt(std::fabs(sn) * h + std::fabs(cs) * w);
    const int H = RoundInt(std::fabs(sn) * w + std::fabs(cs) * h);
    AllocateLike(*Dest, *Source, W, H);
    if (W < 1 || H < 1)
        return;
    const int b = f == px1g ? 0 : BytesPerPixel(f);
    TRowWriter out(*Dest);
    const std::vector<uint8_t> fill = FillRow(f, W, FillValue, out.RowLen());
    if (w < 1 || h < 1) {
        for (int l = 0; l < H; ++l)
            out.Put(l, fill.data());
        return;
    }
    const double scx = (w - 1) / 2.0, scy = (h - 1) / 2.0;
    const double dcx = (W - 1) / 2.0, dcy = (H - 1) / 2.0;
    std::vector<double> X(static_cast<size_t>(W)), Y(static_cast<size_t>(W));
    for (int t = 0; t < W; ++t) {
        X[static_cast<size_t>(t)] = (t - dcx) * cs + scx;
        Y[static_cast<size_t>(t)] = (t - dcx) * sn + scy;
    }
    TSourceRows src(*Source);
    std::vector<uint8_t> row(out.RowLen());
    for (int l = 0; l < H; ++l) {
        std::memcpy(row.data(), fill.data(), row.size());
        const double dy = l - dcy;
        for (int t = 0; t < W; ++t) {
            const double fx = X[static_cast<size_t>(t)] - dy * sn;
            const double fy = Y[static_cast<size_t>(t)] + dy * cs;
            if (!(fx > -1 && fx < w + 1 && fy > -1 && fy < h + 1))
                continue;
            const int sx = RoundInt(fx);
            const int sy = RoundInt(fy);
            if (sx < 0 || sx >= w || sy < 0 || sy >= h)
                continue;
            if (b == 0) {
                if (PxGetBit(src[sy], sx))
                    row[static_cast<size_t>(t >> 3)] |= PxBitMask[t & 7];
                else
                    row[static_cast<size_t>(t >> 3)] &= static_cast<uint8_t>(~PxBitMask[t & 7]);
            } else {
                std::memcpy(row.data() + static_cast<size_t>(t) * b, src[sy] + static_cast<size_t>(sx) * b,
                            static_cast<size_t>(b));
            }
        }
        out.Put(l, row.data());
        Progress(Sender, OnProgress, l * (100.0 / H));
    }
}

}  // namespace

// ---------------------------------------------------------------------------

bool PxIsRightAngle(double Angle)
{
    if (!std::isfinite(Angle) || std::fabs(Angle) >= 9.0e18)
        return false;
    const int64_t t = static_cast<int64_t>(Angle);
    return static_cast<double>(t) == Angle && t % 90 == 0;
}

void PxRotateNearestInto(TPxBitmap* Source, TPxBitmap* Dest, int32_t Colour, classlib::TObject* Sender,
                         const TPxProgressEvent& OnProgress, double Angle)
{
    if (!Source || !Dest || Source == Dest || !std::isfinite(Angle))
        return;
    double fill = Colour;
    if (Source->GetPixelFormat() == px1g)
        fill = PxRGB2Gray(PxColorToRGB(Colour)) >= 128 ? 1 : 0;
    NearestInto(Source, Dest, fill, Sender, OnProgress, Angle);
}

void PxRotateNearest(TPxBitmap* Bitmap, int32_t Colour, classlib::TObject* Sender, const TPxProgressEvent& OnProgress,
                     double Angle)
{
    if (!Bitmap || Bitmap->IsEmpty() || !std::isfinite(Angle))
        return;
    if (PxIsRightAngle(Angle)) {
        RotateQuarterInPlace(*Bitmap, QuarterOf(Angle), Sender, OnProgress);
        return;
    }
    auto result = NewLike(*Bitmap);
    PxRotateNearestInto(Bitmap, result.get(), Colour, Sender, OnProgress, Angle);
    TakeImage(*Bitmap, *result);
}

void PxRotateBitmap(TPxBitmap* Bitmap, bool AntiAlias, classlib::TObject* Sender, const TPxProgressEvent& OnProgress,
                    TPxRGB Colour, double Angle)
{
    if (!Bitmap || Angle == 0 || !std::isfinite(Angle) || Bitmap->IsEmpty())
        return;
    const TPxPixelFormat f = Bitmap->GetPixelFormat();
    if (f == px1g) {
        TPxProgressRec rec;
        rec.OnProgress = OnProgress;
        rec.Sender = Sender;
        PxRotateBilevel(Bitmap, Colour.r != 0 && Colour.g != 0 && Colour.b != 0, &rec, Angle);
        return;
    }
    if (f == px24RGB) {
        const uint8_t c[3] = {Colour.b, Colour.g, Colour.r};
        StepsAndShears<3>(*Bitmap, AntiAlias, c, Angle, Sender, OnProgress);
        return;
    }
    // Every other format keeps its format: right angles exactly, other
    // angles by the 8-bit shears or the nearest rotator.
    if (PxIsRightAngle(Angle)) {
        RotateQuarterInPlace(*Bitmap, QuarterOf(Angle), Sender, OnProgress);
    } else if (IsByteFormat(f)) {
        PxRotateBitmap8(Bitmap, AntiAlias, ByteBackground(*Bitmap, Colour), Sender, OnProgress, Angle);
    } else {
        auto result = NewLike(*Bitmap);
        NearestInto(Bitmap, result.get(), NearestFillValue(*Bitmap, Colour), Sender, OnProgress, Angle);
        TakeImage(*Bitmap, *result);
    }
}

void PxRotateBitmap8(TPxBitmap* Bitmap, bool AntiAlias, uint8_t Background, classlib::TObject* Sender,
                     const TPxProgressEvent& OnProgress, double Angle)
{
    if (!Bitmap || Angle == 0 || !std::isfinite(Angle) || Bitmap->IsEmpty() || !IsByteFormat(Bitmap->GetPixelFormat()))
        return;
    const uint8_t c[1] = {Background};
    StepsAndShears<1>(*Bitmap, AntiAlias, c, Angle, Sender, OnProgress);
}

void PxRotateBilevel(TPxBitmap* Bitmap, bool BackgroundBit, TPxProgressRec* Progress, double Angle)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px1g || Bitmap->IsEmpty() || !std::isfinite(Angle))
        return;
    if (PxIsRightAngle(Angle)) {
        TPxProgressEvent none;
        RotateQuarterInPlace(*Bitmap, QuarterOf(Angle), Progress ? Progress->Sender : nullptr,
                             Progress ? Progress->OnProgress : none);
        return;
    }
    TrigRotate<true>(*Bitmap, BackgroundBit ? 1 : 0, Progress, Angle);
}

void PxRotateByteImage(TPxBitmap* Bitmap, uint8_t Background, double Angle)
{
    if (!Bitmap || !IsByteFormat(Bitmap->GetPixelFormat()) || Bitmap->IsEmpty() || !std::isfinite(Angle))
        return;
    if (PxIsRightAngle(Angle)) {
        RotateQuarterInPlace(*Bitmap, QuarterOf(Angle), nullptr, TPxProgressEvent());
        return;
    }
    TrigRotate<false>(*Bitmap, Background, nullptr, Angle);
}

void PxRotateSmooth24(TPxBitmap* Bitmap, int32_t Colour, int Quality, classlib::TObject* Sender,
                      const TPxProgressEvent& OnProgress, double Angle)
{
    if (!Bitmap || Bitmap->GetPixelFormat() != px24RGB || !std::isfinite(Angle))
        return;
    const TPxRGB rgb = PxColorToRGB(Colour);
    const uint8_t c[3] = {rgb.b, rgb.g, rgb.r};
    SmoothRotate<3>(*Bitmap, c, Quality, Angle, Sender, OnProgress);
}

void PxRotateSmooth8(TPxBitmap* Bitmap, uint8_t Background, int Quality, double Angle)
{
    if (!Bitmap || !IsByteFormat(Bitmap->GetPixelFormat()) || !std::isfinite(Angle))
        return;
    const uint8_t c[1] = {Background};
    SmoothRotate<1>(*Bitmap, c, Quality, Angle, nullptr, TPxProgressEvent());
}

void PxRotate24Clockwise(TPxBitmap* Source, TPxBitmap* Dest)
{
    if (Source && Dest && Source != Dest && Source->GetPixelFormat() == px24RGB)
        RotateQuarterInto(*Source, *Dest, 3, nullptr, TPxProgressEvent());
}

void PxRotate24AntiClockwise(TPxBitmap* Source, TPxBitmap* Dest)
{
    if (Source && Dest && Source != Dest && Source->GetPixelFormat() == px24RGB)
        RotateQuarterInto(*Source, *Dest, 1, nullptr, TPxProgressEvent());
}

void PxRotate8Clockwise(TPxBitmap* Source, TPxBitmap* Dest)
{
    if (Source && Dest && Source != Dest && Source->GetBitCount() == 8)
        RotateQuarterInto(*Source, *Dest, 3, nullptr, TPxProgressEvent());
}

void PxRotate8AntiClockwise(TPxBitmap* Source, TPxBitmap* Dest)
{
    if (Source && Dest && Source != Dest && Source->GetBitCount() == 8)
        RotateQuarterInto(*Source, *Dest, 1, nullptr, TPxProgressEvent());
}

void PxFlipBitmap(TPxBitmap* Bitmap, uint8_t Direction)
{
    if (!Bitmap || Direction > 1 || Bitmap->IsEmpty())
        return;
    FlipOne(*Bitmap, Direction);
    if (Bitmap->HasAlphaChannel())
        FlipOne(*Bitmap->GetAlphaChannel(), Direction);
}

void PxRotateImage(TPxBitmap* Bitmap, double Angle, bool AntiAlias, int Quality, int32_t Colour,
                   classlib::TObject* Sender, const TPxProgressEvent& OnProgress)
{
    if (!Bitmap || Angle == 0 || !std::isfinite(Angle) || Bitmap->IsEmpty())
        return;
    const TPxPixelFormat f = Bitmap->GetPixelFormat();
    const bool hasAlpha = Bitmap->HasAlphaChannel();
    const TPxProgressEvent none;
    // The alpha channel object may be replaced while the image takes its
    // new pixels: it is looked up again after every step.
    if (!AntiAlias || (f != px24RGB && f != px1g)) {
        PxRotateNearest(Bitmap, Colour, Sender, OnProgress, Angle);
        if (hasAlpha)
            PxRotateNearest(Bitmap->GetAlphaChannel(), 0, nullptr, none, Angle);
    } else if (Quality != 0 && !PxIsRightAngle(Angle) && f == px24RGB) {
        PxRotateSmooth24(Bitmap, Colour, Quality, Sender, OnProgress, Angle);
        if (hasAlpha)
            PxRotateSmooth8(Bitmap->GetAlphaChannel(), 0, Quality, Angle);
    } else {
        if (hasAlpha) {
            if (f == px1g)
                PxRotateByteImage(Bitmap->GetAlphaChannel(), 0, Angle);
            else
                PxRotateBitmap8(Bitmap->GetAlphaChannel(), AntiAlias, 0, nullptr, none, Angle);
        }
        PxRotateBitmap(Bitmap, AntiAlias, Sender, OnProgress, PxColorToRGB(Colour), Angle);
    }
    if (hasAlpha)
        Bitmap->GetAlphaChannel()->CheckFullAlpha();
}

void PxApplyEXIFOrientation(TPxBitmap* Bitmap, int Orientation)
{
    if (!Bitmap || Bitmap->IsEmpty())
        return;
    const TPxRGB black{0, 0, 0};
    const TPxProgressEvent none;
    auto rotate = [&](double angle) {
        PxRotateBitmap(Bitmap, false, nullptr, none, black, angle);
        RotateAlphaQuarter(*Bitmap, QuarterOf(angle));
    };
    switch (Orientation) {
    case 2: PxFlipBitmap(Bitmap, 0); break;
    case 3:
        PxFlipBitmap(Bitmap, 1);
        PxFlipBitmap(Bitmap, 0);
        break;
    case 4: PxFlipBitmap(Bitmap, 1); break;
    case 5:
        rotate(-90);
        PxFlipBitmap(Bitmap, 0);
        break;
    case 6: rotate(-90); break;
    case 7:
        rotate(90);
        PxFlipBitmap(Bitmap, 0);
        break;
    case 8: rotate(90); break;
    default: break;
    }
}

}  // namespace imaging
