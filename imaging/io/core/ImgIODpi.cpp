#include "imaging/io/core/ImgIODpi.h"

#include <memory>

#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxConvert.h"
#include "imaging/proc/PxFastResample.h"
#include "imaging/proc/PxResample.h"

namespace imaging {

namespace {

// The new size and which resolution changes; false when nothing is to do
// (also when the new size would pass the toolkit's largest image).
struct TDpiPlan {
    int w = 0, h = 0;
    bool heightChanges = false;  // else the width changes
    int newDpi = 0;              // the value of the resolution that changes
};

constexpr int64_t kMaxDpiRatio = 16;

bool PlanAdjust(TPxBitmap& Bitmap, int dx, int dy, bool Filtered, TDpiPlan& Plan)
{
    if (dx == dy || dx <= 0 || dy <= 0 || Bitmap.IsEmpty())
        return false;
    double w = Bitmap.GetWidth();
    double h = Bitmap.GetHeight();
    if (h < w) {
        h = classlib::Trunc(h / dy * dx);
        Plan.heightChanges = true;
        Plan.newDpi = dx;
    } else {
        w = classlib::Trunc(w / dx * dy);
        Plan.heightChanges = false;
        Plan.newDpi = dy;
    }
    // Resolutions come from the file: a ratio above kMaxDpiRatio (no device
    // writes one; damaged files do) or one that would stretch the image past
    // the toolkit's largest image leaves it as it is.
    if (w < 1 || h < 1 || w > PxMaxImageSide || h > PxMaxImageSide || dx > kMaxDpiRatio * int64_t{dy} ||
        dy > kMaxDpiRatio * int64_t{dx})
        return false;
    Plan.w = static_cast<int>(w);
    Plan.h = static_cast<int>(h);
    TPxRasterCheck check;
    check.Width = Plan.w;
    check.Height = Plan.h;
    check.CodedBits = Filtered ? 24 : Bitmap.GetBitCount();
    check.Coding = TPxCoding::Unbounded;
    return PxCheckRaster(check) == TPxReadFailure::None;
}

// A new image of the plan's size holding Source stretched or resampled.
std::unique_ptr<TPxBitmap> Stretch(TPxBitmap& Source, const TDpiPlan& Plan, bool Filtered)
{
    std::unique_ptr<TPxBitmap> result;
    if (Filtered) {
        result = std::make_unique<TPxBitmap>(Plan.w, Plan.h, px24RGB);
        PxResampleFiltered(&Source, result.get(), rfFastLinear);
    } else {
        result = std::make_unique<TPxBitmap>(Plan.w, Plan.h, Source.GetPixelFormat());
        PxStretchNearest(&Source, result.get());
    }
    return result;
}

}  // namespace

void TImgIO::ApplyDefaultDpi()
{
    if (FileParams->DpiX < 2)
        FileParams->SetDpiX(PxDefaultDpiX);
    if (FileParams->DpiY < 2)
        FileParams->SetDpiY(PxDefaultDpiY);
}

void TImgIO::AdjustDPI()
{
    if (!PrepareBitmap(0))
        return;
    TDpiPlan plan;
    if (!PlanAdjust(*currentBitmap_, FileParams->DpiX, FileParams->DpiY, FilteredAdjustDPI, plan))
        return;
    if (plan.heightChanges) {
        FileParams->DpiY = plan.newDpi;
        FileParams->Height = plan.h;
    } else {
        FileParams->DpiX = plan.newDpi;
        FileParams->Width = plan.w;
    }
    std::unique_ptr<TPxBitmap> alpha;
    if (currentBitmap_->HasAlphaChannel()) {
        alpha = std::make_unique<TPxBitmap>();
        alpha->Assign(currentBitmap_->GetAlphaChannel());
    }
    if (FilteredAdjustDPI && currentBitmap_->GetPixelFormat() != px24RGB)
        currentBitmap_->SetPixelFormat(px24RGB);
    std::unique_ptr<TPxBitmap> stretched = Stretch(*currentBitmap_, plan, FilteredAdjustDPI);
    currentBitmap_->Assign(stretched.get());
    stretched.reset();
    if (alpha)
        PxStretchNearest(alpha.get(), currentBitmap_->GetAlphaChannel());
}

void TImgIO::UpdateViewDpi()
{
    if (!attachedImg_ || !attachedImg_->IsImageView())
        return;
    attachedImg_->BeginUpdateLock();
    attachedImg_->SetDpi(FileParams->DpiX, FileParams->DpiY);
    attachedImg_->EndUpdateLockNoUpdate();
}

TPxBitmap* PxAdjustDPI(TPxBitmap* Bitmap, TIOParamsVals* Params, bool Filtered)
{
    if (!Bitmap || !Params)
        return Bitmap;
    TDpiPlan plan;
    if (!PlanAdjust(*Bitmap, Params->DpiX, Params->DpiY, Filtered, plan))
        return Bitmap;
    if (plan.heightChanges) {
        Params->SetDpiY(plan.newDpi);
        Params->Height = plan.h;
    } else {
        Params->SetDpiX(plan.newDpi);
        Params->Width = plan.w;
    }
    TPxBitmap* source = Bitmap;
    std::unique_ptr<TPxBitmap> copy;
    if (Filtered && Bitmap->GetPixelFormat() != px24RGB) {
        // The caller's image is left as it is: resample a 24-bit copy.
        copy = std::make_unique<TPxBitmap>();
        copy->Assign(Bitmap);
        copy->SetPixelFormat(px24RGB);
        source = copy.get();
    }
    std::unique_ptr<TPxBitmap> result = Stretch(*source, plan, Filtered);
    result->RemoveAlphaChannel(false, 0);
    return result.release();
}

}  // namespace imaging
