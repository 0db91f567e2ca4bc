#include "imaging/views/ImgMIO.h"

#include <algorithm>
#include <cwctype>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/DcxFile.h"
#include "imaging/io/DicomReader.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/GifFrames.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/IOProgress.h"
#include "imaging/io/IcoReader.h"
#include "imaging/io/ImgIODpi.h"
#include "imaging/io/TiffReader.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/views/ImgMView.h"

namespace imaging {

TImgMIO::TImgMIO(classlib::TComponent* Owner) : classlib::TComponent(Owner) {}

TImgMIO::~TImgMIO()
{
    if (view_) {
        view_->RemoveBitmapChangeEvent(changeHandle_);
        if (view_->mio_ == this)
            view_->mio_ = nullptr;
    }
}

void TImgMIO::SetAttachedMView(TImgMView* View)
{
    if (view_ == View)
        return;
    if (view_)
        view_->RemoveBitmapChangeEvent(changeHandle_);
    view_ = View;
    changeHandle_ = -1;
    if (!view_)
        return;
    changeHandle_ = view_->RegisterBitmapChangeEvent(TPxBitmapChangeEvent(this, &TImgMIO::OnViewBitmapChange), this);
    while (GetParamsCount() < view_->GetImageCount())
        InsertParams(GetParamsCount());
}

TIOParamsVals* TImgMIO::GetParams(int Index)
{
    if (Index < 0 || Index >= GetParamsCount())
        return nullptr;
    return params_[static_cast<size_t>(Index)].get();
}

void TImgMIO::InsertParams(int Index)
{
    auto p = std::make_unique<TIOParamsVals>(nullptr);
    if (!params_.empty()) {
        const int from = std::clamp(Index, 0, GetParamsCount() - 1);
        p->AssignCompressionOptions(params_[static_cast<size_t>(from)].get());
    }
    if (Index < 0 || Index >= GetParamsCount())
        params_.push_back(std::move(p));
    else
        params_.insert(params_.begin() + Index, std::move(p));
}

void TImgMIO::DeleteParams(int Index)
{
    if (Index < 0 || Index >= GetParamsCount())
        return;
    params_.erase(params_.begin() + Index);
}

void TImgMIO::MoveParams(int Index, int NewIndex)
{
    if (Index < 0 || Index >= GetParamsCount() || NewIndex < 0 || NewIndex == Index)
        return;
    auto p = std::move(params_[static_cast<size_t>(Index)]);
    params_.erase(params_.begin() + Index);
    if (NewIndex >= GetParamsCount())
        params_.push_back(std::move(p));
    else
        params_.insert(params_.begin() + NewIndex, std::move(p));
}

void TImgMIO::SwapParams(int A, int B)
{
    if (A < 0 || B < 0 || A >= GetParamsCount() || B >= GetParamsCount())
        return;
    std::swap(params_[static_cast<size_t>(A)], params_[static_cast<size_t>(B)]);
}

void TImgMIO::OnViewBitmapChange(classlib::TObject*, bool Destroying)
{
    if (!view_)
        return;
    if (Destroying) {
        view_ = nullptr;
        changeHandle_ = -1;
        return;
    }
    switch (view_->GetLastChangeKind()) {
    case 1:
        InsertParams(view_->GetLastChangeIndex());
        break;
    case 2:
        DeleteParams(view_->GetLastChangeIndex());
        break;
    case 3:
        MoveParams(view_->GetLastChangeIndex(), view_->GetLastChangeIndex2());
        break;
    case 4:
        SwapParams(view_->GetLastChangeIndex(), view_->GetLastChangeIndex2());
        break;
    default:
        break;
    }
}

// ---- loading

namespace {

// The default resolution given to frames that state none.
constexpr int32_t kDefaultFrameDpi = 300;

// Ends a load on every way out: the grid's paint lock is released (laying
// out once), then the owner's finish notification runs.
class TLoadScope {
public:
    TLoadScope(TImgMIO* Owner, TImgMView* View) : owner_(Owner), view_(View) { view_->BeginPaintLock(); }
    ~TLoadScope()
    {
        view_->EndPaintLock();
        owner_->DoFinishWork();
    }
    TLoadScope(const TLoadScope&) = delete;
    TLoadScope& operator=(const TLoadScope&) = delete;

private:
    TImgMIO* owner_;
    TImgMView* view_;
};

// Keeps a name in a string for the lifetime of the scope.
class TNameScope {
public:
    TNameScope(std::wstring& Field, const std::wstring& Value) : field_(Field) { field_ = Value; }
    ~TNameScope() { field_.clear(); }
    TNameScope(const TNameScope&) = delete;
    TNameScope& operator=(const TNameScope&) = delete;

private:
    std::wstring& field_;
};

void FixDpi(TIOParamsVals* Params)
{
    if (Params->DpiX < 2)
        Params->DpiX = kDefaultFrameDpi;
    if (Params->DpiY < 2)
        Params->DpiY = kDefaultFrameDpi;
}

// An 8-bit mask (0 transparent .. 255 opaque) as Bitmap's alpha channel.
void MaskToAlpha(TPxMask* Mask, TPxBitmap* Bitmap)
{
    TPxBitmap* alpha = Bitmap->GetAlphaChannel();
    if (!alpha)
        return;
    const int w = std::min(Bitmap->GetWidth(), Mask->Width);
    const int h = std::min(Bitmap->GetHeight(), Mask->Height);
    const bool bilevel = Mask->BitsPerPixel == 1;
    for (int y = 0; y < h; ++y) {
        auto* row = static_cast<uint8_t*>(alpha->GetScanline(y));
        for (int x = 0; x < w; ++x)
            row[x] = bilevel ? (Mask->GetPixel(x, y) ? 255 : 0) : static_cast<uint8_t>(Mask->GetPixel(x, y));
    }
}

std::wstring LowerExtension(const std::wstring& FileName)
{
    std::wstring ext = classlib::ExtractFileExt(FileName);
    for (wchar_t& c : ext)
        c = static_cast<wchar_t>(std::towlower(c));
    return ext;
}

}  // namespace

void TImgMIO::DoFinishWork()
{
    if (OnProgress)
        OnProgress(this, 100);
    if (OnFinishWork)
        OnFinishWork(this);
}

void TImgMIO::UpdateView()
{
    if (!view_)
        return;
    view_->Update();
    view_->NotifyBitmapChange();
}

void TImgMIO::LoadFromFile(const std::wstring& FileName)
{
    if (classlib::Trim(FileName).empty()) {
        Aborting = true;
        return;
    }
    Aborting = false;
    const std::wstring ext = LowerExtension(FileName);
    if (ext == L".gif") {
        LoadFromFileGIF(FileName);
    } else if (ext == L".tif" || ext == L".tiff" || ext == L".fax" || ext == L".g3f" || ext == L".g3n" ||
               ext == L".xif") {
        LoadFromFileTIFF(FileName);
    } else if (ext == L".ico") {
        LoadFromFileICO(FileName);
    } else if (ext == L".dcx") {
        LoadFromFileDCX(FileName);
    } else if (ext == L".dicom" || ext == L".dcm" || ext == L".dic") {
        LoadFromFileDICOM(FileName);
    } else if (view_ && PxIsReadableFile(FileName)) {
        const int at = view_->GetSelectedImage() >= 0 ? view_->GetSelectedImage() : view_->GetImageCount();
        view_->InsertImage(at);
        view_->SetImageFromFile(at, FileName, 0);
    } else {
        // Video and media sources are not read by this object.
        Aborting = true;
    }
}

void TImgMIO::LoadFromFileTIFF(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TNameScope name(LoadingFileName, FileName);
    LoadFromStreamTIFF(&stream);
}

void TImgMIO::LoadFromFileGIF(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TNameScope name(LoadingFileName, FileName);
    LoadFromStreamGIF(&stream);
}

void TImgMIO::LoadFromFileICO(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TNameScope name(LoadingFileName, FileName);
    LoadFromStreamICO(&stream);
}

void TImgMIO::LoadFromFileDCX(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TNameScope name(LoadingFileName, FileName);
    LoadFromStreamDCX(&stream);
}

void TImgMIO::LoadFromFileDICOM(const std::wstring& FileName)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TNameScope name(LoadingFileName, FileName);
    LoadFromStreamDICOM(&stream);
}

void TImgMIO::LoadFromStreamICO(classlib::TStream* Stream)
{
    if (!view_)
        return;
    const int64_t start = Stream->GetPosition();
    const int32_t n = PxCountICOImages(Stream);
    Stream->SetPosition(start);
    LoadFrames(Stream, {n, true, false, false, 6},
               [Stream](TPxBitmap* B, TIOParamsVals* P, TPxIOProgressInfo& Info, std::unique_ptr<TPxMask>& Mask,
                        int32_t&) { PxReadICO(Stream, B, *P, false, Mask, Info, false); });
}

void TImgMIO::LoadFromStreamDCX(classlib::TStream* Stream)
{
    if (!view_)
        return;
    const int64_t start = Stream->GetPosition();
    const int32_t n = PxCountDCXPages(Stream);
    Stream->SetPosition(start);
    LoadFrames(Stream, {n, false, true, false, 19},
               [Stream](TPxBitmap* B, TIOParamsVals* P, TPxIOProgressInfo& Info, std::unique_ptr<TPxMask>&,
                        int32_t&) { PxReadDCX(Stream, B, *P, Info, false); });
}

void TImgMIO::LoadFromStreamDICOM(classlib::TStream* Stream)
{
    if (!view_)
        return;
    const int64_t start = Stream->GetPosition();
    const int32_t n = PxCountDICOMFrames(Stream);
    Stream->SetPosition(start);
    LoadFrames(Stream, {n, false, true, false, 28},
               [Stream](TPxBitmap* B, TIOParamsVals* P, TPxIOProgressInfo& Info, std::unique_ptr<TPxMask>&,
                        int32_t&) { PxReadDICOM(Stream, *P, B, false, Info); });
}

void TImgMIO::LoadFrames(classlib::TStream* Stream, const TFrameLoop& Loop, const TFrameReader& Read,
                         const TFrameStored& Stored)
{
    Aborting = false;
    TLoadScope scope(this, view_);
    if (Loop.Count < 1 && !Loop.RunOnceEmpty) {
        UpdateView();
        return;
    }
    const int64_t start = Stream->GetPosition();
    int p = view_->GetSelectedImage() >= 0 ? view_->GetSelectedImage() : view_->GetImageCount();
    int32_t n = Loop.Count;
    int k = 0;
    do {
        view_->InsertImage(p);
        auto bitmap = std::make_unique<TPxBitmap>();
        TIOParamsVals* params = GetParams(p);
        Stream->SetPosition(start);
        params->SetImageIndex(k);
        params->NativePixelFormat = NativePixelFormat;
        TPxIOProgressInfo info;
        info.Handler = OnProgress;
        info.Sender = this;
        info.Aborting = &Aborting;
        std::unique_ptr<TPxMask> mask;
        Read(bitmap.get(), params, info, mask, n);
        if (info.Mask && !mask)
            mask.reset(info.Mask);
        else
            delete info.Mask;
        if (!Aborting) {
            if (mask)
                MaskToAlpha(mask.get(), bitmap.get());
            if (Loop.FixResolution)
                FixDpi(params);
            if (AutoAdjustDPI) {
                TPxBitmap* adjusted = PxAdjustDPI(bitmap.get(), params, FilteredAdjustDPI);
                if (adjusted != bitmap.get())
                    bitmap.reset(adjusted);
            }
        }
        params->SetImageIndex(p);
        params->FileFormat = Loop.FileFormat;
        params->FileName = LoadingFileName;
        if (Aborting) {
            view_->RemoveImage(p);
            if (!Loop.SkipFailed)
                break;
            // The failing frame is skipped; the next one takes its place.
            Aborting = false;
            ++k;
            continue;
        }
        if (n > 0) {
            view_->SetImageBitmap(p, bitmap.get());
            view_->SetImageDelayTime(p, 100);
            if (Stored)
                Stored(p, params);
        } else {
            view_->RemoveImage(p);
        }
        bitmap.reset();
        if (OnProgress && n > 0)
            OnProgress(this, static_cast<int>(static_cast<int64_t>(k) * 100 / n));
        if (Aborting)
            break;
        ++p;
        ++k;
    } while (k < n);
    UpdateView();
}

void TImgMIO::LoadFromStreamTIFF(classlib::TStream* Stream)
{
    if (!view_)
        return;
    LoadFrames(Stream, {0, true, true, IgnoreLoadErrors, 1},
               [Stream](TPxBitmap* B, TIOParamsVals* P, TPxIOProgressInfo& Info, std::unique_ptr<TPxMask>& Mask,
                        int32_t& Count) {
                   TPxMask* rawMask = nullptr;
                   PxReadTIFF(B, Stream, Count, P, Info, false, rawMask, false, false, false);
                   Mask.reset(rawMask);
               });
}

void TImgMIO::LoadFromStreamGIF(classlib::TStream* Stream)
{
    if (!view_)
        return;
    int lastDelay = 100;
    LoadFrames(
        Stream, {0, true, false, false, 2},
        [this, Stream](TPxBitmap* B, TIOParamsVals* P, TPxIOProgressInfo& Info, std::unique_ptr<TPxMask>&,
                       int32_t& Count) {
            // The frame as the screen shows it: frames 0 .. k composed by
            // their disposal methods, with the alpha channel of the
            // composition (no separate mask).
            PxReadGIFFrame(Stream, B, *P, false, Info);
            Count = Info.Count;
            delete Info.Mask;
            Info.Mask = nullptr;
            if (!Aborting && (B->GetWidth() == 0 || B->GetHeight() == 0))
                Aborting = true;
        },
        [this, &lastDelay](int Index, TIOParamsVals* P) {
            view_->SetImageBackground(Index, static_cast<classlib::TColor>(PxRGBToColor(P->GIFBackground)));
            if (P->GIFDelayTime >= 1)
                lastDelay = P->GIFDelayTime * 10;
            view_->SetImageDelayTime(Index, lastDelay);
        });
}

}  // namespace imaging
