#include "imaging/proc/PxFastResample.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/proc/PxQuantizer.h"

namespace imaging {

namespace {

constexpr int kFracBits = 17;
constexpr int32_t kFracOne = 1 << kFracBits;  // 131072

// Reports progress values only when a handler is assigned; with Dedupe a
// value equal to the last one sent is dropped.
class TProgress {
public:
    TProgress(classlib::TObject* Sender, const TPxProgressEvent& OnProgress, bool Dedupe)
        : sender_(Sender), event_(OnProgress), dedupe_(Dedupe)
    {
    }
    bool Active() const { return event_.Assigned(); }
    void Send(int Value)
    {
        if (!event_.Assigned())
            return;
        if (dedupe_ && sent_ && Value == last_)
            return;
        sent_ = true;
        last_ = Value;
        event_(sender_, Value);
    }

private:
    classlib::TObject* sender_;
    const TPxProgressEvent& event_;
    bool dedupe_;
    bool sent_ = false;
    int last_ = 0;
};

// floor(n / d) for n < 2^31 as (n * m) >> shift, with m = ceil(2^(31 + l) / d)
// and l = ceil(log2 d) (exact for every such n). Divisors from 2^23 on, whose
// sums of bytes may pass 2^31, divide plainly.
struct TDivider {
    uint64_t m = 1;
    int shift = 0;
    uint32_t d = 1;
    bool plain = true;

    explicit TDivider(uint32_t Divisor = 1) : d(Divisor == 0 ? 1 : Divisor)
    {
        plain = d >= (1u << 23);
        if (plain)
            return;
        int l = 0;
        while ((uint64_t(1) << l) < d)
            ++l;
        shift = 31 + l;
        m = ((uint64_t(1) << shift) + d - 1) / d;
    }
    uint32_t operator()(uint64_t n) const
    {
        if (plain)
            return static_cast<uint32_t>(n / d);
        return static_cast<uint32_t>((n * m) >> shift);
    }
};

inline uint8_t Interpolate(int a, int b, int32_t f)
{
    // floor((b - a) * f / 2^17): an arithmetic shift floors negative values.
    return static_cast<uint8_t>(a + (((b - a) * f) >> kFracBits));
}

// Acc[x] += Row[x] for N bytes (SSE2, part of every x86-64 processor).
void AddRow(uint32_t* __restrict Acc, const uint8_t* __restrict Row, size_t N)
{
    size_t x = 0;
    const __m128i z = _mm_setzero_si128();
    for (; x + 16 <= N; x += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + x));
        const __m128i lo = _mm_unpacklo_epi8(b, z);
        const __m128i hi = _mm_unpackhi_epi8(b, z);
        __m128i* a = reinterpret_cast<__m128i*>(Acc + x);
        _mm_storeu_si128(a, _mm_add_epi32(_mm_loadu_si128(a), _mm_unpacklo_epi16(lo, z)));
        _mm_storeu_si128(a + 1, _mm_add_epi32(_mm_loadu_si128(a + 1), _mm_unpackhi_epi16(lo, z)));
        _mm_storeu_si128(a + 2, _mm_add_epi32(_mm_loadu_si128(a + 2), _mm_unpacklo_epi16(hi, z)));
        _mm_storeu_si128(a + 3, _mm_add_epi32(_mm_loadu_si128(a + 3), _mm_unpackhi_epi16(hi, z)));
    }
    for (; x < N; ++x)
        Acc[x] += Row[x];
}

// Byte masks for summing the channels of 3-byte pixels 16 bytes at a time:
// in the k-th 16-byte chunk from a pixel boundary, byte o belongs to channel
// (k + o) mod 3 (16 = 1 mod 3). ChannelMask[k mod 3][c]; LengthMask[n] keeps
// the first n bytes.
struct TSumMasks {
    alignas(16) uint8_t ChannelMask[3][3][16];
    alignas(16) uint8_t LengthMask[17][16];
    TSumMasks()
    {
        for (int k = 0; k < 3; ++k)
            for (int c = 0; c < 3; ++c)
                for (int o = 0; o < 16; ++o)
                    ChannelMask[k][c][o] = (k + o) % 3 == c ? 0xFF : 0;
        for (int n = 0; n <= 16; ++n)
            for (int o = 0; o < 16; ++o)
                LengthMask[n][o] = o < n ? 0xFF : 0;
    }
};
const TSumMasks kSumMasks;

inline __m128i LoadMask(const uint8_t* m)
{
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

inline uint32_t HorizontalSum(__m128i v)
{
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v)) + static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
}

// Sums each channel of the Count 3-byte pixels at P, reading the 16-byte
// chunks that hold them (bytes after the pixels are masked off but read:
// the caller keeps the chunks inside the row). Count < 2^23.
inline void SumPixels24(const uint8_t* P, int Count, uint32_t& B, uint32_t& G, uint32_t& R)
{
    const int bytes = 3 * Count;
    const __m128i zero = _mm_setzero_si128();
    __m128i sb = zero, sg = zero, sr = zero;
    int k = 0, phase = 0;
    for (; k + 16 <= bytes; k += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + k));
        sb = _mm_add_epi64(sb, _mm_sad_epu8(_mm_and_si128(v, LoadMask(kSumMasks.ChannelMask[phase][0])), zero));
        sg = _mm_add_epi64(sg, _mm_sad_epu8(_mm_and_si128(v, LoadMask(kSumMasks.ChannelMask[phase][1])), zero));
        sr = _mm_add_epi64(sr, _mm_sad_epu8(_mm_and_si128(v, LoadMask(kSumMasks.ChannelMask[phase][2])), zero));
        phase = phase == 2 ? 0 : phase + 1;
    }
    if (k < bytes) {
        const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P + k)),
                                        LoadMask(kSumMasks.LengthMask[bytes - k]));
        sb = _mm_add_epi64(sb, _mm_sad_epu8(_mm_and_si128(v, LoadMask(kSumMasks.ChannelMask[phase][0])), zero));
        sg = _mm_add_epi64(sg, _mm_sad_epu8(_mm_and_si128(v, LoadMask(kSumMasks.ChannelMask[phase][1])), zero));
        sr = _mm_add_epi64(sr, _mm_sad_epu8(_mm_and_si128(v, LoadMask(kSumMasks.ChannelMask[phase][2])), zero));
    }
    if (Count <= 85) {
        // At most 16 chunks: every 64-bit lane sum is below 2^15, so the three
        // sums share one lane pair as 16-bit fields and one addition.
        const __m128i packed = _mm_or_si128(_mm_or_si128(sb, _mm_slli_epi64(sg, 16)), _mm_slli_epi64(sr, 32));
        const uint64_t t = static_cast<uint64_t>(_mm_cvtsi128_si64(packed)) +
                           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_srli_si128(packed, 8)));
        B = static_cast<uint32_t>(t & 0xFFFF);
        G = static_cast<uint32_t>((t >> 16) & 0xFFFF);
        R = static_cast<uint32_t>((t >> 32) & 0xFFFF);
        return;
    }
    B = HorizontalSum(sb);
    G = HorizontalSum(sg);
    R = HorizontalSum(sr);
}

// Column (or row) tables of the fast linear resamplers for one axis.
struct TAxisTable {
    std::vector<int32_t> start;  // trunc(i / r)
    std::vector<int32_t> next;   // min(start + 1, srcLen - 1)
    std::vector<int32_t> frac;   // trunc((i / r - start) * 131072)
    std::vector<int32_t> end;    // trunc(min(i + 1, dstLen - 1) / r + 1e-10), within start..srcLen - 1

    void Build(int SrcLen, int DstLen, bool EndEpsilon)
    {
        const double r = static_cast<double>(DstLen) / SrcLen;
        start.resize(static_cast<size_t>(DstLen));
        next.resize(static_cast<size_t>(DstLen));
        frac.resize(static_cast<size_t>(DstLen));
        end.resize(static_cast<size_t>(DstLen));
        for (int i = 0; i < DstLen; ++i) {
            const double x = static_cast<double>(i) / r;
            int s = static_cast<int>(x);
            const int32_t f = static_cast<int32_t>((x - s) * kFracOne);
            s = std::clamp(s, 0, SrcLen - 1);
            const double e = static_cast<double>(std::min(i + 1, DstLen - 1)) / r + (EndEpsilon ? 1e-10 : 0.0);
            const int en = std::clamp(static_cast<int>(e), s, SrcLen - 1);
            start[static_cast<size_t>(i)] = s;
            next[static_cast<size_t>(i)] = std::min(s + 1, SrcLen - 1);
            frac[static_cast<size_t>(i)] = std::clamp(f, 0, kFracOne - 1);
            end[static_cast<size_t>(i)] = en;
        }
    }
};

// Copies Source's rows into Dest of the same size and bytes per row.
void CopyRows(TPxBaseBitmap& Source, TPxBaseBitmap& Dest)
{
    const int h = Source.GetHeight();
    const size_t len = static_cast<size_t>(std::min(Source.GetRowLen(), Dest.GetRowLen()));
    TPxAccessScope readSource(Source, pxAccessRead);
    TPxAccessScope writeDest(Dest, pxAccessWrite);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = Source.GetScanline(y);
        std::memcpy(Dest.GetScanline(y), s, len);
    }
}

// Dest becomes an exact copy of Source (both ratios 1).
void CopyWhole(TPxBaseBitmap& Source, TPxBaseBitmap& Dest)
{
    auto* s = dynamic_cast<TPxBitmap*>(&Source);
    auto* d = dynamic_cast<TPxBitmap*>(&Dest);
    if (s && d) {
        d->Assign(s);
        return;
    }
    CopyRows(Source, Dest);
}

// The fast linear engine shared by the 24-bit, 8-bit and bilevel variants.
// The horizontal pass turns source rows into work rows of dstW pixels and
// C channels; the vertical pass combines work rows into destination rows.
// Work rows are produced on demand in increasing order and the last two are
// kept, so each source row is read at most once and the work rows stay in
// the cache; the values are those of a full work image. Progress counts one
// unit per work row and per destination row, which gives the same sequence
// of values as two full passes.
//
// Source kinds: 0 bytes of C channels, 1 px1g bits (C = 1).
template <int C>
class TFastLinear {
public:
    TFastLinear(TPxBaseBitmap& Source, TPxBaseBitmap& Dest, int SourceKind, bool InterpH, bool InterpV,
                bool TripleOut)
        : src_(Source),
          dst_(Dest),
          kind_(SourceKind),
          interpH_(InterpH),
          interpV_(InterpV),
          tripleOut_(TripleOut)
    {
    }

    void Run(TProgress& Progress)
    {
        const int srcW = src_.GetWidth(), srcH = src_.GetHeight();
        const int dstW = dst_.GetWidth(), dstH = dst_.GetHeight();
        srcW_ = srcW;
        dstW_ = dstW;
        // Whole 16-byte chunks may be read while they stay inside the bytes
        // of a stored row (expanded bit rows are never read this way).
        safeBytes_ = kind_ == 0 ? src_.GetRowLen() : 0;
        cols_.Build(srcW, dstW, true);
        const size_t workLen = static_cast<size_t>(dstW) * C;
        for (auto& b : buf_)
            b.assign(workLen, 0);
        if (kind_ == 1)
            bits_.assign(static_cast<size_t>(srcW), 0);
        if (!interpH_)
            BuildDividers();
        std::vector<uint8_t> outRow(static_cast<size_t>(dstW) * (tripleOut_ ? 3 : C));
        std::vector<uint32_t> acc;
        if (!interpV_)
            acc.assign(workLen, 0);

        const double yr = static_cast<double>(dstH) / srcH;
        const int total = srcH + dstH;
        const double denom = total + 0.5;
        progress_ = &Progress;
        denom_ = denom;

        TPxAccessScope readSource(src_, pxAccessRead);
        TPxAccessScope writeDest(dst_, pxAccessWrite);
        for (int j = 0; j < dstH; ++j) {
            const uint8_t* line;
            if (interpV_) {
                const double y = static_cast<double>(j) / yr;
                int r0 = static_cast<int>(y);
                const int32_t f = std::clamp(static_cast<int32_t>((y - r0) * kFracOne), 0, kFracOne - 1);
                r0 = std::clamp(r0, 0, srcH - 1);
                const int r1 = r0 + 1 < srcH ? r0 + 1 : r0;
                const uint8_t* a = WorkRow(r0);
                const uint8_t* b = WorkRow(r1);
                if (f == 0 || a == b) {
                    line = a;
                } else {
                    uint8_t* o = outRow.data();
                    for (size_t x = 0; x < workLen; ++x)
                        o[x] = Interpolate(a[x], b[x], f);
                    line = o;
                }
            } else {
                int lo = static_cast<int>(static_cast<double>(j) / yr);
                int hi = static_cast<int>(static_cast<double>(std::min(j + 1, dstH - 1)) / yr);
                lo = std::clamp(lo, 0, srcH - 1);
                hi = std::clamp(hi, lo, srcH - 1);
                const uint8_t* first = WorkRow(lo);
                if (hi == lo) {
                    line = first;
                } else if (hi - lo + 1 >= (1 << 23)) {
                    // Sums of this many rows may pass 32 bits.
                    std::vector<uint64_t> wide(first, first + workLen);
                    for (int r = lo + 1; r <= hi; ++r) {
                        const uint8_t* w = WorkRow(r);
                        for (size_t x = 0; x < workLen; ++x)
                            wide[x] += w[x];
                    }
                    const uint64_t n = static_cast<uint64_t>(hi - lo + 1);
                    for (size_t x = 0; x < workLen; ++x)
                        outRow[x] = static_cast<uint8_t>(wide[x] / n);
                    line = outRow.data();
                } else {
                    uint32_t* ac = acc.data();
                    std::fill(acc.begin(), acc.end(), 0u);
                    AddRow(ac, first, workLen);
                    for (int r = lo + 1; r <= hi; ++r)
                        AddRow(ac, WorkRow(r), workLen);
                    const TDivider div(static_cast<uint32_t>(hi - lo + 1));
                    uint8_t* o = outRow.data();
                    if (div.plain) {
                        for (size_t x = 0; x < workLen; ++x)
                            o[x] = static_cast<uint8_t>(ac[x] / div.d);
                    } else {
                        for (size_t x = 0; x < workLen; ++x)
                            o[x] = static_cast<uint8_t>((ac[x] * div.m) >> div.shift);
                    }
                    line = o;
                }
            }
            uint8_t* d = dst_.GetScanline(j);
            if (tripleOut_) {
                for (int x = 0; x < dstW; ++x) {
                    const uint8_t v = line[x];
                    d[3 * x] = v;
                    d[3 * x + 1] = v;
                    d[3 * x + 2] = v;
                }
            } else {
                std::memcpy(d, line, workLen);
            }
            Step();
        }
        // Source rows after the last one any destination row needs are never
        // read; their reports still belong to the sequence.
        while (units_ < total)
            Step();
    }

private:
    void Step()
    {
        if (progress_->Active())
            progress_->Send(static_cast<int>(units_ * 100.0 / denom_));
        ++units_;
    }

    void BuildDividers()
    {
        divs_.clear();
        divs_.reserve(static_cast<size_t>(dstW_));
        for (int i = 0; i < dstW_; ++i) {
            const size_t k = static_cast<size_t>(i);
            divs_.emplace_back(static_cast<uint32_t>(cols_.end[k] - cols_.start[k] + 1));
        }
    }

    // Work row r, computed when it is not one of the two kept.
    const uint8_t* WorkRow(int r)
    {
        if (r == rowIndex_[0])
            return buf_[0].data();
        if (r == rowIndex_[1])
            return buf_[1].data();
        const int v = rowIndex_[0] < rowIndex_[1] ? 0 : 1;
        const uint8_t* s = src_.GetScanline(r);
        if (kind_ == 1) {
            for (int x = 0; x < srcW_; ++x)
                bits_[static_cast<size_t>(x)] = (s[x >> 3] & PxBitMask[x & 7]) ? 255 : 0;
            s = bits_.data();
        }
        HorizontalRow(s, buf_[v].data());
        rowIndex_[v] = r;
        Step();
        return buf_[v].data();
    }

    void HorizontalRow(const uint8_t* s, uint8_t* w)
    {
        const int32_t* st = cols_.start.data();
        const int32_t* nx = cols_.next.data();
        const int32_t* fr = cols_.frac.data();
        if (interpH_) {
            for (int i = 0; i < dstW_; ++i) {
                const uint8_t* a = s + static_cast<size_t>(st[i]) * C;
                const uint8_t* b = s + static_cast<size_t>(nx[i]) * C;
                const int32_t f = fr[i];
                for (int c = 0; c < C; ++c)
                    w[c] = Interpolate(a[c], b[c], f);
                w += C;
            }
            return;
        }
        if (srcW_ < (1 << 23))
            AverageRow<uint32_t>(s, w);
        else
            AverageRow<uint64_t>(s, w);
    }

    // The shrinking horizontal pass: each work pixel is the mean of source
    // pixels start..end. Sums fit Acc: 32 bits hold 255 * (2^23 - 1).
    template <typename Acc>
    void AverageRow(const uint8_t* s, uint8_t* w)
    {
        const int32_t* st = cols_.start.data();
        const int32_t* en = cols_.end.data();
        const TDivider* dv = divs_.data();
        for (int i = 0; i < dstW_; ++i) {
            const uint8_t* p = s + static_cast<size_t>(st[i]) * C;
            const uint8_t* e = s + static_cast<size_t>(en[i]) * C;
            const TDivider& d = dv[i];
            if constexpr (C == 3) {
                const int count = en[i] - st[i] + 1;
                if (std::is_same_v<Acc, uint32_t> && 3 * st[i] + ((3 * count + 15) & ~15) <= safeBytes_) {
                    uint32_t b, g, r;
                    SumPixels24(p, count, b, g, r);
                    // count < 2^23 here, so the divider is never the plain one.
                    w[0] = static_cast<uint8_t>((uint64_t(b) * d.m) >> d.shift);
                    w[1] = static_cast<uint8_t>((uint64_t(g) * d.m) >> d.shift);
                    w[2] = static_cast<uint8_t>((uint64_t(r) * d.m) >> d.shift);
                    w += 3;
                    continue;
                }
                Acc sb = 0, sg = 0, sr = 0;
                for (; p + 3 <= e; p += 6) {
                    sb += Acc(p[0]) + p[3];
                    sg += Acc(p[1]) + p[4];
                    sr += Acc(p[2]) + p[5];
                }
                if (p <= e) {
                    sb += p[0];
                    sg += p[1];
                    sr += p[2];
                }
                w[0] = static_cast<uint8_t>(d(sb));
                w[1] = static_cast<uint8_t>(d(sg));
                w[2] = static_cast<uint8_t>(d(sr));
            } else {
                Acc sum = 0;
                for (; p <= e; ++p)
                    sum += *p;
                w[0] = static_cast<uint8_t>(d(sum));
            }
            w += C;
        }
    }

    TPxBaseBitmap& src_;
    TPxBaseBitmap& dst_;
    int kind_;
    bool interpH_;
    bool interpV_;
    bool tripleOut_;
    int srcW_ = 0;
    int dstW_ = 0;
    int safeBytes_ = 0;
    TAxisTable cols_;
    std::vector<TDivider> divs_;
    std::vector<uint8_t> buf_[2];
    int rowIndex_[2] = {-1, -1};
    std::vector<uint8_t> bits_;
    TProgress* progress_ = nullptr;
    double denom_ = 1;
    int units_ = 0;
};

bool HasPixels(TPxBaseBitmap* b)
{
    return b && b->GetWidth() > 0 && b->GetHeight() > 0;
}

// ---- area resamplers

struct TSegment {
    int s;          // source pixel
    int k;          // destination pixel
    double len;     // length of the piece
    double u;       // fraction of the sample point inside pixel s
    bool complete;  // the piece ends at a destination boundary
};

// Cuts [0, SrcLen) at source and destination boundaries (destination pixels
// of width g); a tie within 0.0001 counts as the destination boundary.
std::vector<TSegment> CutAxis(int SrcLen, int DstLen, double g)
{
    std::vector<TSegment> segs;
    segs.reserve(static_cast<size_t>(SrcLen) + static_cast<size_t>(DstLen) + 1);
    double pos = 0, d = 0;
    int s = 0, k = 0;
    while (k < DstLen) {
        const double next = d + g;
        // The last source pixel always ends at destination boundaries, so
        // that rounding drift can never leave destination pixels uncovered.
        if (s + 1 + 0.0001 >= next || s == SrcLen - 1) {
            segs.push_back(TSegment{s, k, next - pos, next - s, true});
            pos = next;
            d = next;
            ++k;
        } else {
            segs.push_back(TSegment{s, k, (s + 1) - pos, 1.0, false});
            pos = s + 1;
            ++s;
        }
    }
    return segs;
}

double CubicWeight(double x)
{
    x = x < 0 ? -x : x;
    if (x < 1)
        return x * x * x - 2 * x * x + 1;
    if (x < 2)
        return -x * x * x + 5 * x * x - 8 * x + 4;
    return 0;
}

// Copies of source rows as integer samples. Four are kept, and a row is
// loaded over the one with the lowest row number; callers ask for rows in
// non-decreasing windows of at most four (t - 1 .. t + 2), so each source row
// is read once and the rows of the current window stay valid together.
class TRowCache {
public:
    TRowCache(TPxBaseBitmap& Source, int Samples, bool Wide) : src_(Source), wide_(Wide)
    {
        n_ = static_cast<size_t>(Source.GetWidth()) * Samples;
        for (auto& r : rows_)
            r.assign(n_, 0);
    }
    const int32_t* Row(int r)
    {
        r = std::clamp(r, 0, src_.GetHeight() - 1);
        for (int i = 0; i < 4; ++i)
            if (index_[i] == r)
                return rows_[i].data();
        int v = 0;
        for (int i = 1; i < 4; ++i)
            if (index_[i] < index_[v])
                v = i;
        const uint8_t* s = src_.GetScanline(r);
        int32_t* d = rows_[v].data();
        if (wide_) {
            for (size_t x = 0; x < n_; ++x) {
                uint16_t w;
                std::memcpy(&w, s + 2 * x, 2);
                d[x] = w;
            }
        } else {
            for (size_t x = 0; x < n_; ++x)
                d[x] = s[x];
        }
        index_[v] = r;
        return d;
    }

private:
    TPxBaseBitmap& src_;
    bool wide_;
    size_t n_ = 0;
    std::vector<int32_t> rows_[4];
    int index_[4] = {-4, -3, -2, -1};
};

void SmoothResample(TPxBaseBitmap& Source, TPxBaseBitmap& Dest, int Samples, bool Wide, bool Cubic,
                    TProgress& Progress)
{
    const int srcW = Source.GetWidth(), srcH = Source.GetHeight();
    const int dstW = Dest.GetWidth(), dstH = Dest.GetHeight();
    const double maxv = Wide ? 65535.0 : 255.0;
    const double gx = static_cast<double>(srcW) / dstW;
    const double gy = static_cast<double>(srcH) / dstH;
    const bool ix = gx < 1, iy = gy < 1;
    const std::vector<TSegment> hsegs = CutAxis(srcW, dstW, gx);
    const std::vector<TSegment> vsegs = CutAxis(srcH, dstH, gy);
    const double inv = 1 / (gx * gy);
    const int n = Samples;

    std::vector<double> acc(static_cast<size_t>(dstW) * n, 0.0);
    TPxAccessScope readSource(Source, pxAccessRead);
    TPxAccessScope writeDest(Dest, pxAccessWrite);
    TRowCache cache(Source, Samples, Wide);
    auto at = [&](const int32_t* row, int x, int c) -> double {
        return row[static_cast<size_t>(std::clamp(x, 0, srcW - 1)) * n + c];
    };
    for (const TSegment& vs : vsegs) {
        const int t = vs.s;
        const double v = vs.u;
        const int32_t* r0 = cache.Row(t);
        const int32_t* rm = iy && Cubic ? cache.Row(t - 1) : r0;
        const int32_t* r1 = iy ? cache.Row(t + 1) : r0;
        const int32_t* r2 = iy && Cubic ? cache.Row(t + 2) : r0;
        for (const TSegment& hs : hsegs) {
            const int s = hs.s;
            const double u = hs.u;
            const double w = hs.len * vs.len;
            double* a = &acc[static_cast<size_t>(hs.k) * n];
            for (int c = 0; c < n; ++c) {
                double sample;
                if (!ix && !iy) {
                    sample = at(r0, s, c);
                } else if (ix && !iy) {
                    if (Cubic)
                        sample = PxCubicValue(at(r0, s - 1, c), at(r0, s, c), at(r0, s + 1, c), at(r0, s + 2, c), u, 0,
                                              maxv);
                    else
                        sample = (1 - u) * at(r0, s, c) + u * at(r0, s + 1, c);
                } else if (!ix && iy) {
                    if (Cubic)
                        sample = PxCubicValue(at(rm, s, c), at(r0, s, c), at(r1, s, c), at(r2, s, c), v, 0, maxv);
                    else
                        sample = (1 - v) * at(r0, s, c) + v * at(r1, s, c);
                } else if (Cubic) {
                    double q[4];
                    const int32_t* rs[4] = {rm, r0, r1, r2};
                    for (int i = 0; i < 4; ++i)
                        q[i] = static_cast<double>(classlib::Round(PxCubicValue(
                            at(rs[i], s - 1, c), at(rs[i], s, c), at(rs[i], s + 1, c), at(rs[i], s + 2, c), u, 0, maxv)));
                    sample = PxCubicValue(q[0], q[1], q[2], q[3], v, 0, maxv);
                } else {
                    sample = (1 - v) * ((1 - u) * at(r0, s, c) + u * at(r0, s + 1, c)) +
                             v * ((1 - u) * at(r1, s, c) + u * at(r1, s + 1, c));
                }
                a[c] += sample * w;
            }
        }
        if (!vs.complete)
            continue;
        const int j = vs.k;
        uint8_t* d = Dest.GetScanline(j);
        for (size_t x = 0; x < acc.size(); ++x) {
            const int64_t r = std::clamp<int64_t>(classlib::Round(acc[x] * inv), 0, static_cast<int64_t>(maxv));
            if (Wide) {
                const uint16_t w = static_cast<uint16_t>(r);
                std::memcpy(d + 2 * x, &w, 2);
            } else {
                d[x] = static_cast<uint8_t>(r);
            }
            acc[x] = 0;
        }
        Progress.Send(static_cast<int>(static_cast<double>(j + 1) / dstH * 100));
    }
}

// ---- projections

void Project(TPxBaseBitmap& Source, TPxBaseBitmap& Dest, bool Bilevel, PxProjectMode Mode, TProgress& Progress)
{
    const int srcW = Source.GetWidth(), srcH = Source.GetHeight();
    const int dstW = Dest.GetWidth(), dstH = Dest.GetHeight();
    if (Dest.GetPixelFormat() != px1g && !Dest.Allocate(dstW, dstH, px1g))
        return;
    if (Dest.GetPixelFormat() != px1g || Dest.GetWidth() != dstW || Dest.GetHeight() != dstH)
        return;
    const bool blackWins = Mode == pxProjectBlackWins;
    const double hx = static_cast<double>(srcW) / dstW;
    const double hy = static_cast<double>(srcH) / dstH;
    std::vector<int32_t> c(static_cast<size_t>(dstW));
    for (int k = 0; k < dstW; ++k)
        c[static_cast<size_t>(k)] = std::clamp(static_cast<int>(hx * k), 0, srcW - 1);
    std::vector<int32_t> hits(static_cast<size_t>(srcW) + 1, 0);  // prefix counts of window pixels found
    std::vector<uint8_t> found(static_cast<size_t>(dstW));
    const int rowBytes = (dstW + 7) / 8;

    TPxAccessScope readSource(Source, pxAccessRead);
    TPxAccessScope writeDest(Dest, pxAccessWrite);
    for (int j = 0; j < dstH; ++j) {
        int lo = 0, hi = 0;
        if (j > 0) {
            lo = std::clamp(static_cast<int>(hy * (j - 1)), 0, srcH - 1);
            hi = std::clamp(static_cast<int>(hy * j), lo, srcH - 1);
        }
        std::fill(found.begin(), found.end(), 0);
        for (int r = lo; r <= hi; ++r) {
            const uint8_t* s = Source.GetScanline(r);
            int32_t* h = hits.data();
            for (int x = 0; x < srcW; ++x) {
                bool hit;
                if (Bilevel) {
                    const bool white = (s[x >> 3] & PxBitMask[x & 7]) != 0;
                    hit = blackWins ? !white : white;
                } else {
                    const uint8_t* p = s + 3 * static_cast<size_t>(x);
                    hit = blackWins ? (p[0] < 128 && p[1] < 128 && p[2] < 128)
                                    : (p[0] > 128 && p[1] > 128 && p[2] > 128);
                }
                h[x + 1] = h[x] + (hit ? 1 : 0);
            }
            for (int k = 0; k < dstW; ++k) {
                const int a = k == 0 ? 0 : c[static_cast<size_t>(k) - 1];
                const int b = k == 0 ? 0 : c[static_cast<size_t>(k)];
                if (h[b + 1] - h[a] > 0)
                    found[static_cast<size_t>(k)] = 1;
            }
        }
        uint8_t* d = Dest.GetScanline(j);
        std::memset(d, blackWins ? 0xFF : 0x00, static_cast<size_t>(rowBytes));
        for (int k = 0; k < dstW; ++k)
            if (found[static_cast<size_t>(k)])
                PxSetBit(d, k, !blackWins);
        Progress.Send(static_cast<int>(j * 100 / (dstH + 0.5)));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Fast linear

namespace {

// Equal sizes copy the rows; otherwise the fast linear resampler of Channels
// bytes per pixel, enlarging or reducing each axis as the sizes ask.
template <int Channels>
void RunFastLinear(TPxBaseBitmap& Source, TPxBaseBitmap& Dest, classlib::TObject* Sender,
                   const TPxProgressEvent& OnProgress)
{
    const double xr = static_cast<double>(Dest.GetWidth()) / Source.GetWidth();
    const double yr = static_cast<double>(Dest.GetHeight()) / Source.GetHeight();
    if (xr == 1 && yr == 1) {
        CopyWhole(Source, Dest);
        return;
    }
    TProgress progress(Sender, OnProgress, false);
    TFastLinear<Channels>(Source, Dest, 0, xr > 1, yr > 1, false).Run(progress);
}

}  // namespace

void PxFastLinear24(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender,
                    const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest))
        return;
    if (Source->GetPixelFormat() != px24RGB || Dest->GetPixelFormat() != px24RGB)
        return;
    RunFastLinear<3>(*Source, *Dest, Sender, OnProgress);
}

void PxFastLinearGray8(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest))
        return;
    if (Source->GetBitCount() != 8 || Dest->GetBitCount() != 8)
        return;
    RunFastLinear<1>(*Source, *Dest, Sender, OnProgress);
}

void PxFastLinearBilevel(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender,
                         const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest))
        return;
    if (Source->GetPixelFormat() != px1g || Dest->GetPixelFormat() != px24RGB)
        return;
    const int srcW = Source->GetWidth(), srcH = Source->GetHeight();
    const double xr = static_cast<double>(Dest->GetWidth()) / srcW;
    const double yr = static_cast<double>(Dest->GetHeight()) / srcH;
    if (xr < 1 && yr < 1) {
        PxResampleBilevelTo24(Source, 0, 0, srcW - 1, srcH - 1, Dest);
        return;
    }
    TProgress progress(Sender, OnProgress, false);
    TFastLinear<1>(*Source, *Dest, 1, true, true, true).Run(progress);
}

// ---------------------------------------------------------------------------
// Area resamplers

double PxCubicValue(double Pm1, double P0, double P1, double P2, double t, double Low, double High)
{
    const double v = Pm1 * CubicWeight(t + 1) + P0 * CubicWeight(t) + P1 * CubicWeight(t - 1) + P2 * CubicWeight(t - 2);
    if (v < Low)
        return Low;
    if (v > High)
        return High;
    return v;
}

void PxSmoothResample8(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, bool Cubic, classlib::TObject* Sender,
                       const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest))
        return;
    const TPxPixelFormat f = Source->GetPixelFormat();
    if ((f != px24RGB && f != px8g) || Dest->GetPixelFormat() != f)
        return;
    TProgress progress(Sender, OnProgress, false);
    SmoothResample(*Source, *Dest, f == px24RGB ? 3 : 1, false, Cubic, progress);
}

void PxSmoothResample16(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, bool Cubic, classlib::TObject* Sender,
                        const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest))
        return;
    const TPxPixelFormat f = Source->GetPixelFormat();
    if ((f != pxRGB48 && f != px16g) || Dest->GetPixelFormat() != f)
        return;
    TProgress progress(Sender, OnProgress, false);
    SmoothResample(*Source, *Dest, f == pxRGB48 ? 3 : 1, true, Cubic, progress);
}

// ---------------------------------------------------------------------------
// Projections

void PxProject24(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, PxProjectMode Mode, classlib::TObject* Sender,
                 const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest) || Source->GetPixelFormat() != px24RGB)
        return;
    TProgress progress(Sender, OnProgress, false);
    Project(*Source, *Dest, false, Mode, progress);
}

void PxProjectBilevel(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, PxProjectMode Mode, classlib::TObject* Sender,
                      const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest) || Source->GetPixelFormat() != px1g)
        return;
    TProgress progress(Sender, OnProgress, false);
    Project(*Source, *Dest, true, Mode, progress);
}

// ---------------------------------------------------------------------------
// Nearest neighbour

void PxStretchNearest(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, classlib::TObject* Sender,
                      const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest))
        return;
    const TPxPixelFormat f = Source->GetPixelFormat();
    if (f == pxNoPixels || Dest->GetPixelFormat() != f)
        return;
    const int bits = Source->GetBitCount();
    if (bits != 1 && bits % 8 != 0)
        return;
    const size_t bpp = static_cast<size_t>(bits / 8);
    const int srcW = Source->GetWidth(), srcH = Source->GetHeight();
    const int dstW = Dest->GetWidth(), dstH = Dest->GetHeight();
    const double rx = static_cast<double>(srcW) / dstW;
    const double ry = static_cast<double>(srcH) / dstH;
    std::vector<int32_t> cols(static_cast<size_t>(dstW));
    for (int k = 0; k < dstW; ++k)
        cols[static_cast<size_t>(k)] = std::clamp(static_cast<int>(rx * k), 0, srcW - 1);
    TProgress progress(Sender, OnProgress, true);
    {
        TPxAccessScope readSource(*Source, pxAccessRead);
        TPxAccessScope writeDest(*Dest, pxAccessWrite);
        for (int j = 0; j < dstH; ++j) {
            const uint8_t* s = Source->GetScanline(std::clamp(static_cast<int>(ry * j), 0, srcH - 1));
            uint8_t* d = Dest->GetScanline(j);
            if (bits == 1) {
                for (int k = 0; k < dstW; ++k) {
                    const int x = cols[static_cast<size_t>(k)];
                    PxSetBit(d, k, (s[x >> 3] & PxBitMask[x & 7]) != 0);
                }
            } else if (bpp == 3) {
                for (int k = 0; k < dstW; ++k) {
                    const uint8_t* p = s + static_cast<size_t>(cols[static_cast<size_t>(k)]) * 3;
                    d[0] = p[0];
                    d[1] = p[1];
                    d[2] = p[2];
                    d += 3;
                }
            } else {
                for (int k = 0; k < dstW; ++k) {
                    std::memcpy(d, s + static_cast<size_t>(cols[static_cast<size_t>(k)]) * bpp, bpp);
                    d += bpp;
                }
            }
            progress.Send(static_cast<int>(j * 100 / (dstH + 0.5)));
        }
    }
    if (f == px8p)
        Source->CopyPaletteTo(Dest);
}

// ---------------------------------------------------------------------------
// Bilevel to grey

void PxResampleBilevelTo24(TPxBaseBitmap* Source, int X1, int Y1, int X2, int Y2, TPxBaseBitmap* Dest)
{
    if (!HasPixels(Source) || !HasPixels(Dest))
        return;
    if (Source->GetPixelFormat() != px1g || Dest->GetPixelFormat() != px24RGB || X2 < X1 || Y2 < Y1)
        return;
    const int srcW = Source->GetWidth(), srcH = Source->GetHeight();
    const int dstW = Dest->GetWidth(), dstH = Dest->GetHeight();
    const double xstep = static_cast<double>(X2 - X1 + 1) / dstW;
    const double ystep = static_cast<double>(Y2 - Y1 + 1) / dstH;
    const int ystepInt = static_cast<int>(ystep);
    std::vector<int32_t> left(static_cast<size_t>(dstW)), right(static_cast<size_t>(dstW));
    for (int i = 0; i < dstW; ++i) {
        const int l = std::clamp(X1 + static_cast<int>(i * xstep - xstep / 2), 0, srcW - 1);
        const int r = std::clamp(X1 + static_cast<int>(i * xstep + xstep / 2), l, srcW - 1);
        left[static_cast<size_t>(i)] = l;
        right[static_cast<size_t>(i)] = r;
    }
    std::vector<int32_t> count(static_cast<size_t>(dstW));
    std::vector<int32_t> prefix(static_cast<size_t>(srcW) + 1, 0);
    TPxAccessScope readSource(*Source, pxAccessRead);
    TPxAccessScope writeDest(*Dest, pxAccessWrite);
    for (int i = 0; i < dstH; ++i) {
        const int top = std::clamp(static_cast<int>(i * ystep - ystep / 2), 0, srcH - 1);
        const int bottom = std::clamp(static_cast<int>(i * ystep + ystepInt / 2.0), 0, srcH - 1);
        const int y0 = std::clamp(Y1 + top, 0, srcH - 1);
        const int y1 = std::clamp(Y1 + bottom, y0, srcH - 1);
        std::fill(count.begin(), count.end(), 0);
        for (int y = y0; y <= y1; ++y) {
            const uint8_t* s = Source->GetScanline(y);
            for (int x = 0; x < srcW; ++x)
                prefix[static_cast<size_t>(x) + 1] = prefix[static_cast<size_t>(x)] + ((s[x >> 3] & PxBitMask[x & 7]) ? 1 : 0);
            for (int k = 0; k < dstW; ++k)
                count[static_cast<size_t>(k)] +=
                    prefix[static_cast<size_t>(right[static_cast<size_t>(k)]) + 1] - prefix[static_cast<size_t>(left[static_cast<size_t>(k)])];
        }
        uint8_t* d = Dest->GetScanline(i);
        const int64_t rows = y1 - y0 + 1;
        for (int k = 0; k < dstW; ++k) {
            const int64_t pixels = rows * (right[static_cast<size_t>(k)] - left[static_cast<size_t>(k)] + 1);
            const uint8_t v = static_cast<uint8_t>(int64_t(count[static_cast<size_t>(k)]) * 255 / pixels);
            d[3 * k] = v;
            d[3 * k + 1] = v;
            d[3 * k + 2] = v;
        }
    }
}

// ---------------------------------------------------------------------------
// Row depth conversion

int PxConvertRowDepth(const uint8_t* SourceRow, uint8_t* DestRow, int SourceBits, int DestBits, uint16_t Count,
                      const TPxRGB* Palette, int PaletteCount, const TPxQuantizer* Quantizer)
{
    const int n = Count;
    int result;
    switch (DestBits) {
    case 1: result = (n + 7) / 8; break;
    case 4: result = (n + 1) / 2; break;
    case 8: result = n; break;
    case 24: result = 3 * n; break;
    default: return 0;
    }
    // The palette is copied on entry, so that it may live in the row buffers.
    std::vector<TPxRGB> pal(256, TPxRGB{0, 0, 0});
    if (Palette && PaletteCount > 0)
        std::copy(Palette, Palette + std::min(PaletteCount, 256), pal.begin());
    const auto entry = [&](int i) -> const TPxRGB& { return pal[static_cast<size_t>(i) & 255]; };
    const auto bit = [&](int i) -> int { return (SourceRow[i >> 3] & PxBitMask[i & 7]) ? 1 : 0; };
    const auto nibble = [&](int i) -> int { return (i & 1) ? (SourceRow[i >> 1] & 15) : (SourceRow[i >> 1] >> 4); };
    const auto put24 = [&](int i, const TPxRGB& c) { std::memcpy(DestRow + 3 * static_cast<size_t>(i), &c, 3); };
    const auto orNibble = [&](int i, int v) { DestRow[i >> 1] |= static_cast<uint8_t>((i & 1) ? (v & 15) : ((v & 15) << 4)); };

    if (SourceBits == DestBits && (SourceBits == 1 || SourceBits == 4 || SourceBits == 8 || SourceBits == 24)) {
        std::memmove(DestRow, SourceRow, static_cast<size_t>(result));
    } else if (SourceBits == 1 && DestBits == 4) {
        for (int i = 0; i < n; ++i)
            orNibble(i, bit(i));
    } else if (SourceBits == 1 && DestBits == 8) {
        for (int i = 0; i < n; ++i)
            DestRow[i] = static_cast<uint8_t>(bit(i));
    } else if (SourceBits == 1 && DestBits == 24) {
        for (int i = 0; i < n; ++i)
            put24(i, entry(bit(i)));
    } else if (SourceBits == 4 && DestBits == 8) {
        for (int i = 0; i < n; ++i)
            DestRow[i] = static_cast<uint8_t>(nibble(i));
    } else if (SourceBits == 4 && DestBits == 24) {
        for (int i = 0; i < n; ++i)
            put24(i, entry(nibble(i)));
    } else if (SourceBits == 8 && DestBits == 1) {
        std::memset(DestRow, 0, static_cast<size_t>(result));
        for (int i = 0; i < n; ++i)
            if (SourceRow[i] & 1)
                DestRow[i >> 3] |= PxBitMask[i & 7];
    } else if (SourceBits == 8 && DestBits == 24) {
        for (int i = 0; i < n; ++i)
            put24(i, entry(SourceRow[i]));
    } else if (SourceBits == 24 && (DestBits == 4 || DestBits == 8)) {
        if (Quantizer) {
            for (int i = 0; i < n; ++i) {
                TPxRGB c;
                std::memcpy(&c, SourceRow + 3 * static_cast<size_t>(i), 3);
                const int idx = Quantizer->ColorIndex(c);
                if (DestBits == 8)
                    DestRow[i] = static_cast<uint8_t>(idx);
                else
                    orNibble(i, idx);
            }
        }
    } else if (SourceBits == 32 && DestBits == 24) {
        for (int i = 0; i < n; ++i)
            std::memmove(DestRow + 3 * static_cast<size_t>(i), SourceRow + 4 * static_cast<size_t>(i), 3);
    }
    return result;
}

}  // namespace imaging
