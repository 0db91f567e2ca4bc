#include "imaging/proc/PxResample.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxWorkBitmap.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxFastResample.h"

namespace imaging {

// ---------------------------------------------------------------------------
// Kernels

double PxSinc(double x)
{
    if (x == 0)
        return 1;
    const double px = 3.14159265358979323846 * x;
    return std::sin(px) / px;
}

double PxTriangleFilter(double x)
{
    x = std::fabs(x);
    return x < 1 ? 1 - x : 0;
}

double PxHermiteFilter(double x)
{
    x = std::fabs(x);
    return x < 1 ? 2 * x * x * x - 3 * x * x + 1 : 0;
}

double PxBellFilter(double x)
{
    x = std::fabs(x);
    if (x < 0.5)
        return 0.75 - x * x;
    if (x < 1.5)
        return 0.5 * (x - 1.5) * (x - 1.5);
    return 0;
}

double PxBSplineFilter(double x)
{
    x = std::fabs(x);
    if (x < 1)
        return 0.5 * x * x * x - x * x + 2.0 / 3.0;
    if (x < 2)
        return (2 - x) * (2 - x) * (2 - x) / 6;
    return 0;
}

double PxLanczos3Filter(double x)
{
    if (std::fabs(x) < 3)
        return PxSinc(x) * PxSinc(x / 3);
    return 0;
}

double PxMitchellFilter(double x)
{
    x = std::fabs(x);
    if (x < 1)
        return (7 * x * x * x - 12 * x * x + 16.0 / 3.0) / 6;
    if (x < 2)
        return (-(7.0 / 3.0) * x * x * x + 12 * x * x - 20 * x + 32.0 / 3.0) / 6;
    return 0;
}

double PxBoxFilter(double x)
{
    return (x > -0.5 && x <= 0.5) ? 1 : 0;
}

double PxLinearFilter(double x)
{
    if (x >= -1 && x < 0)
        return 1 + x;
    if (x >= 0 && x < 1)
        return 1 - x;
    return 0;
}

const TPxResampleKernel PxResampleKernels[9] = {
    {nullptr, 0},
    {PxTriangleFilter, 1.0},
    {PxHermiteFilter, 1.0},
    {PxBellFilter, 1.5},
    {PxBSplineFilter, 2.0},
    {PxLanczos3Filter, 3.0},
    {PxMitchellFilter, 2.0},
    {PxBoxFilter, 1.0},
    {PxLinearFilter, 1.0},
};

namespace {

bool HasPixels(TPxBaseBitmap* b)
{
    return b && b->GetWidth() > 0 && b->GetHeight() > 0;
}

bool IsKernelFilter(TResampleFilter f)
{
    return f >= rfTriangle && f <= rfLinear;
}

// Contributors of one destination pixel: source indexes and integer weights
// whose sum is positive.
struct TContributors {
    std::vector<int32_t> index;
    std::vector<int32_t> weight;
    int32_t sum = 0;
};

int MirrorIndex(int j, int len)
{
    if (j < 0)
        j = -j;
    else if (j >= len)
        j = 2 * len - 1 - j;
    return std::clamp(j, 0, len - 1);
}

// Contributor lists of every destination pixel of one axis.
std::vector<TContributors> BuildContributors(int SrcLen, int DstLen, const TPxResampleKernel& Kernel)
{
    const double scale = (SrcLen == 1 || DstLen == 1) ? static_cast<double>(DstLen) / SrcLen
                                                      : static_cast<double>(DstLen - 1) / (SrcLen - 1);
    const bool enlarging = scale >= 1;
    const double width = enlarging ? Kernel.Support : Kernel.Support / scale;
    const double fscale = enlarging ? 1.0 : 1.0 / scale;
    std::vector<TContributors> lists(static_cast<size_t>(DstLen));
    std::vector<double> k;
    for (int i = 0; i < DstLen; ++i) {
        const double center = i / scale;
        const int left = PxFloor(center - width);
        const int right = PxCeil(center + width);
        TContributors& c = lists[static_cast<size_t>(i)];
        k.clear();
        for (int j = left; j <= right; ++j)
            k.push_back(enlarging ? Kernel.Filter(center - j) : Kernel.Filter((center - j) / fscale));
        const auto add = [&](int j, int64_t w) {
            if (w == 0)
                return;
            c.index.push_back(MirrorIndex(j, SrcLen));
            c.weight.push_back(static_cast<int32_t>(w));
            c.sum += static_cast<int32_t>(w);
        };
        for (int j = left; j <= right; ++j) {
            const double kv = k[static_cast<size_t>(j - left)];
            add(j, classlib::Round(enlarging ? kv * 256 : kv * 256 / fscale));
        }
        if (c.sum > 0)
            continue;
        // Every 1/256 weight rounded away (or the rounded weights cancel):
        // the same kernel values on a scale where their absolute sum is 2^22,
        // which keeps sums of weight * 255 inside 32 bits.
        c = TContributors();
        double absSum = 0;
        for (double v : k)
            absSum += std::fabs(v);
        if (absSum > 0) {
            const double s = 4194304.0 / absSum;
            for (int j = left; j <= right; ++j)
                add(j, classlib::Round(k[static_cast<size_t>(j - left)] * s));
        }
        if (c.sum <= 0) {
            c = TContributors();
            add(static_cast<int>(classlib::Round(center)), 1);
        }
    }
    return lists;
}

// Channel layouts of the kernel passes: 3 channels of px24RGB, 1 of 8-bit
// grey, or 1 read from px1g bits (0 or 255) and written to all three
// channels of a px24RGB destination.
enum class TLayout { Rgb24, Gray8, Bits };

class TProgressSteps {
public:
    TProgressSteps(classlib::TObject* Sender, const TPxProgressEvent* OnProgress)
        : sender_(Sender), event_(OnProgress)
    {
    }
    void Send(int Value)
    {
        if (!event_ || !event_->Assigned())
            return;
        if (sent_ && Value == last_)
            return;
        sent_ = true;
        last_ = Value;
        (*event_)(sender_, Value);
    }

private:
    classlib::TObject* sender_;
    const TPxProgressEvent* event_;
    bool sent_ = false;
    int last_ = 0;
};

inline uint8_t Divide(int32_t csum, int32_t wsum)
{
    return static_cast<uint8_t>(PxClampByte(csum / wsum));
}

// Two-pass separable filtering of Source into Dest by a kernel filter.
void KernelPasses(TPxBaseBitmap& Source, TPxBaseBitmap& Dest, TResampleFilter Filter, TLayout Layout,
                  classlib::TObject* Sender, const TPxProgressEvent* OnProgress)
{
    const int srcW = Source.GetWidth(), srcH = Source.GetHeight();
    const int dstW = Dest.GetWidth(), dstH = Dest.GetHeight();
    const TPxResampleKernel& kernel = PxResampleKernels[Filter];
    const int C = Layout == TLayout::Rgb24 ? 3 : 1;

    const std::vector<TContributors> cols = BuildContributors(srcW, dstW, kernel);
    TPxWorkBitmap work;
    if (!work.Allocate(dstW, srcH, 8 * C))
        throw classlib::EOutOfMemory(L"Out of memory");
    TProgressSteps progress(Sender, OnProgress);
    const double denom = srcH + dstH + 0.5;

    TPxAccessScope readSource(Source, pxAccessRead);
    TPxAccessScope writeDest(Dest, pxAccessWrite);

    // Horizontal pass: source rows into work rows of dstW pixels.
    std::vector<uint8_t> bits(Layout == TLayout::Bits ? static_cast<size_t>(srcW) : 0);
    for (int r = 0; r < srcH; ++r) {
        const uint8_t* s = Source.GetScanline(r);
        if (Layout == TLayout::Bits) {
            for (int x = 0; x < srcW; ++x)
                bits[static_cast<size_t>(x)] = (s[x >> 3] & PxBitMask[x & 7]) ? 255 : 0;
            s = bits.data();
        }
        uint8_t* w = work.GetScanline(r);
        for (int i = 0; i < dstW; ++i) {
            const TContributors& c = cols[static_cast<size_t>(i)];
            const size_t n = c.index.size();
            if (C == 3) {
                int32_t sb = 0, sg = 0, sr = 0;
                for (size_t t = 0; t < n; ++t) {
                    const uint8_t* p = s + 3 * static_cast<size_t>(c.index[t]);
                    const int32_t wt = c.weight[t];
                    sb += wt * p[0];
                    sg += wt * p[1];
                    sr += wt * p[2];
                }
                w[0] = Divide(sb, c.sum);
                w[1] = Divide(sg, c.sum);
                w[2] = Divide(sr, c.sum);
                w += 3;
            } else {
                int32_t sum = 0;
                for (size_t t = 0; t < n; ++t)
                    sum += c.weight[t] * s[c.index[t]];
                *w++ = Divide(sum, c.sum);
            }
        }
        progress.Send(static_cast<int>((r + 1) * 100 / denom));
    }

    // Vertical pass: work columns into destination rows, whole rows at once.
    const std::vector<TContributors> rows = BuildContributors(srcH, dstH, kernel);
    const size_t len = static_cast<size_t>(dstW) * C;
    std::vector<int32_t> acc(len);
    for (int j = 0; j < dstH; ++j) {
        const TContributors& c = rows[static_cast<size_t>(j)];
        std::fill(acc.begin(), acc.end(), 0);
        for (size_t t = 0; t < c.index.size(); ++t) {
            const uint8_t* w = work.GetScanline(std::clamp(c.index[t], 0, srcH - 1));
            const int32_t wt = c.weight[t];
            for (size_t x = 0; x < len; ++x)
                acc[x] += wt * w[x];
        }
        uint8_t* d = Dest.GetScanline(j);
        if (Layout == TLayout::Bits) {
            for (int x = 0; x < dstW; ++x) {
                const uint8_t v = Divide(acc[static_cast<size_t>(x)], c.sum);
                d[3 * x] = v;
                d[3 * x + 1] = v;
                d[3 * x + 2] = v;
            }
        } else {
            for (size_t x = 0; x < len; ++x)
                d[x] = Divide(acc[x], c.sum);
        }
        progress.Send(static_cast<int>((srcH + j + 1) * 100 / denom));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Dispatch

void PxResampleGray8(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, TResampleFilter Filter)
{
    switch (Filter) {
    case rfFastLinear:
    case rfBilinear:
    case rfBicubic:
    case rfProjectBW:
    case rfProjectWB:
        PxFastLinearGray8(Source, Dest);
        return;
    default:
        break;
    }
    if (!IsKernelFilter(Filter) || !HasPixels(Source) || !HasPixels(Dest))
        return;
    if (Source->GetBitCount() != 8 || Dest->GetBitCount() != 8)
        return;
    KernelPasses(*Source, *Dest, Filter, TLayout::Gray8, nullptr, nullptr);
}

void PxResampleBilevel(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, TResampleFilter Filter)
{
    switch (Filter) {
    case rfFastLinear:
    case rfBilinear:
    case rfBicubic:
        PxFastLinearBilevel(Source, Dest);
        return;
    case rfProjectBW:
        PxProjectBilevel(Source, Dest, pxProjectBlackWins);
        return;
    case rfProjectWB:
        PxProjectBilevel(Source, Dest, pxProjectWhiteWins);
        return;
    default:
        break;
    }
    if (!IsKernelFilter(Filter) || !HasPixels(Source) || !HasPixels(Dest))
        return;
    if (Source->GetPixelFormat() != px1g || Dest->GetPixelFormat() != px24RGB)
        return;
    KernelPasses(*Source, *Dest, Filter, TLayout::Bits, nullptr, nullptr);
}

void PxResampleFiltered(TPxBaseBitmap* Source, TPxBaseBitmap* Dest, TResampleFilter Filter,
                        classlib::TObject* Sender, const TPxProgressEvent& OnProgress)
{
    if (!HasPixels(Source) || !HasPixels(Dest) || Filter == rfNone || Filter > rfProjectWB)
        return;
    const TPxPixelFormat format = Source->GetPixelFormat();
    if (Filter == rfBilinear || Filter == rfBicubic) {
        const bool cubic = Filter == rfBicubic;
        if (format == px24RGB || format == px8g) {
            PxSmoothResample8(Source, Dest, cubic, Sender, OnProgress);
            return;
        }
        if (format == pxRGB48 || format == px16g) {
            PxSmoothResample16(Source, Dest, cubic, Sender, OnProgress);
            return;
        }
        Filter = rfTriangle;
    }
    if (format == px8g) {
        PxResampleGray8(Source, Dest, Filter);
        return;
    }

    // Other formats than px24RGB are resampled from a 24-bit copy, freed on
    // every way out.
    std::unique_ptr<TPxBitmap> copy;
    TPxBaseBitmap* source24 = Source;
    if (format != px24RGB) {
        auto* src = dynamic_cast<TPxBitmap*>(Source);
        auto* dst = dynamic_cast<TPxBitmap*>(Dest);
        if (!src || !dst)
            return;
        copy = std::make_unique<TPxBitmap>();
        if (!copy->Allocate(src->GetWidth(), src->GetHeight(), px24RGB))
            throw classlib::EOutOfMemory(L"Out of memory");
        PxConvertPixelsFrom(*copy, *src);
        PxInstallPixelFormatConversion();
        dst->SetPixelFormat(px24RGB);
        if (!HasPixels(dst))
            return;
        source24 = copy.get();
    }

    switch (Filter) {
    case rfFastLinear:
        PxFastLinear24(source24, Dest, Sender, OnProgress);
        break;
    case rfProjectBW:
        PxProject24(source24, Dest, pxProjectBlackWins, Sender, OnProgress);
        break;
    case rfProjectWB:
        PxProject24(source24, Dest, pxProjectWhiteWins, Sender, OnProgress);
        break;
    default:
        if (IsKernelFilter(Filter) && Dest->GetPixelFormat() == px24RGB)
            KernelPasses(*source24, *Dest, Filter, TLayout::Rgb24, Sender, &OnProgress);
        break;
    }
}

void PxResampleBitmap(TPxBitmap* Source, TPxBitmap* Dest, TResampleFilter Filter, classlib::TObject* Sender,
                      const TPxProgressEvent& OnProgress)
{
    if (!Source || !Dest || Source == Dest)
        return;
    if (Source->GetWidth() == Dest->GetWidth() && Source->GetHeight() == Dest->GetHeight()) {
        Dest->Assign(Source);
        return;
    }
    if (Filter == rfNone) {
        PxStretchNearest(Source, Dest, Sender, OnProgress);
    } else if (Source->GetPixelFormat() == px1g) {
        PxInstallPixelFormatConversion();
        Dest->SetPixelFormat(Filter == rfProjectBW || Filter == rfProjectWB ? px1g : px24RGB);
        PxResampleBilevel(Source, Dest, Filter);
    } else {
        PxResampleFiltered(Source, Dest, Filter, Sender, OnProgress);
    }

    if (!Source->HasAlphaChannel() || Source->IsAlphaChannel() || Dest->IsEmpty())
        return;
    TPxBitmap* sourceAlpha = Source->GetAlphaChannel();
    TPxBitmap* destAlpha = Dest->GetAlphaChannel();
    if (!sourceAlpha || !destAlpha)
        return;
    if ((destAlpha->GetWidth() != Dest->GetWidth() || destAlpha->GetHeight() != Dest->GetHeight() ||
         destAlpha->GetPixelFormat() != px8g) &&
        !destAlpha->Allocate(Dest->GetWidth(), Dest->GetHeight(), px8g))
        return;
    if (Filter == rfNone)
        PxStretchNearest(sourceAlpha, destAlpha);
    else
        PxResampleGray8(sourceAlpha, destAlpha, Filter);
    destAlpha->FullAlpha = sourceAlpha->FullAlpha;
}

}  // namespace imaging
