#include "imaging/views/ImgMIO.h"

#include <algorithm>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/IOProgress.h"
#include "imaging/io/ImgIODpi.h"
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
    const TPxFileFormatInfo* row = PxFormatInfoByExtension(classlib::ExtractFileExt(FileName));
    if (row && row->Description && row->Description->Frames.Read) {
        LoadFileFrames(FileName, row->TypeNumber);
    } else if (view_ && PxIsReadableFile(FileName)) {
        const int at = view_->GetSelectedImage() >= 0 ? view_->GetSelectedImage() : view_->GetImageCount();
        view_->InsertImage(at);
        view_->SetImageFromFile(at, FileName, 0);
    } else {
        // Video and media sources are not read by this object.
        Aborting = true;
    }
}

void TImgMIO::LoadFileFrames(const std::wstring& FileName, int32_t FileType)
{
    classlib::TFileStream stream(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TNameScope name(LoadingFileName, FileName);
    LoadStreamFrames(&stream, FileType);
}

void TImgMIO::LoadStreamFrames(classlib::TStream* Stream, int32_t FileType)
{
    if (!view_)
        return;
    const TPxFormatDescription* format = PxFormatDescription(FileType);
    const TPxFrameEntry& frames = format->Frames;
    TFrameLoop loop;
    if (frames.CountOnStream) {
        const int64_t start = Stream->GetPosition();
        loop.Count = frames.CountOnStream(Stream);
        Stream->SetPosition(start);
    }
    loop.RunOnceEmpty = frames.ReadWhenNone;
    loop.FixResolution = frames.DefaultDpi;
    loop.SkipFailed = frames.MaySkip && IgnoreLoadErrors;
    loop.FileFormat = FileType;
    const TFrameReader read = [Stream, frames](TPxBitmap* B, TIOParamsVals* P, TPxIOProgressInfo& Info,
                                               int32_t& Count) { frames.Read(Stream, B, *P, Info, Count); };
    if (!frames.Timed) {
        LoadFrames(Stream, loop, read);
        return;
    }
    int lastDelay = 100;
    LoadFrames(Stream, loop, read, [this, &lastDelay](int Index, TIOParamsVals* P) {
        view_->SetImageBackground(Index, static_cast<classlib::TColor>(PxRGBToColor(P->GIFBackground)));
        if (P->GIFDelayTime >= 1)
            lastDelay = P->GIFDelayTime * 10;
        view_->SetImageDelayTime(Index, lastDelay);
    });
}

void TImgMIO::LoadFromFileTIFF(const std::wstring& FileName) { LoadFileFrames(FileName, ffTIFF); }
void TImgMIO::LoadFromFileGIF(const std::wstring& FileName) { LoadFileFrames(FileName, ffGIF); }
void TImgMIO::LoadFromFileICO(const std::wstring& FileName) { LoadFileFrames(FileName, ffICO); }
void TImgMIO::LoadFromFileDCX(const std::wstring& FileName) { LoadFileFrames(FileName, ffDCX); }
void TImgMIO::LoadFromFileDICOM(const std::wstring& FileName) { LoadFileFrames(FileName, ffDICOM); }
void TImgMIO::LoadFromStreamTIFF(classlib::TStream* Stream) { LoadStreamFrames(Stream, ffTIFF); }
void TImgMIO::LoadFromStreamGIF(classlib::TStream* Stream) { LoadStreamFrames(Stream, ffGIF); }
void TImgMIO::LoadFromStreamICO(classlib::TStream* Stream) { LoadStreamFrames(Stream, ffICO); }
void TImgMIO::LoadFromStreamDCX(classlib::TStream* Stream) { LoadStreamFrames(Stream, ffDCX); }
void TImgMIO::LoadFromStreamDICOM(classlib::TStream* Stream) { LoadStreamFrames(Stream, ffDICOM); }

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
        Read(bitmap.get(), params, info, n);
        std::unique_ptr<TPxMask> mask(info.Mask);
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

}  // namespace imaging
