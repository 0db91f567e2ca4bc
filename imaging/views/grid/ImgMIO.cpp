#include "imaging/views/grid/ImgMIO.h"

#include <algorithm>

#include <cmath>

#include "classlib/Forms.h"
#include "classlib/Graphics.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "imaging/io/platform/AviCheck.h"
#include "imaging/io/platform/AviReader.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIODpi.h"
#include "imaging/io/core/ImgIOPreviews.h"
#include "imaging/io/platform/PxDirectShow.h"
#include "imaging/io/platform/PxWia.h"
#include "imaging/io/platform/WebDownload.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxMask.h"
#include "imaging/views/grid/ImgMView.h"

namespace imaging {

TImgMIO::TImgMIO(classlib::TComponent* Owner)
    : classlib::TComponent(Owner),
      previewFont_(std::make_unique<classlib::TFont>()),
      twainParams_(std::make_unique<TPxTWainParams>(this))
{
}

TImgMIO::~TImgMIO()
{
    // The device events end before anything they could reach goes.
    wia_.reset();
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
    if (PxIsURL(FileName)) {
        LoadFromURL(FileName);
        return;
    }
    Aborting = false;
    if (classlib::LowerCase(classlib::ExtractFileExt(FileName)) == L".avi") {
        LoadFromFileAVI(FileName);
        return;
    }
    const TPxFileFormatInfo* row = PxFormatInfoByExtension(classlib::ExtractFileExt(FileName));
    if (row && row->Description && row->Description->Frames.Read) {
        LoadFileFrames(FileName, row->TypeNumber);
    } else if (view_ && PxIsReadableFile(FileName)) {
        const int at = view_->GetSelectedImage() >= 0 ? view_->GetSelectedImage() : view_->GetImageCount();
        view_->InsertImage(at);
        view_->SetImageFromFile(at, FileName, 0);
    } else {
        LoadFromMediaFile(FileName);
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
        std::unique_ptr<TPxMask> mask = info.Mask.Take();
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


// ---- video files

namespace {

// The delay of a stream in whole milliseconds (fractions cut off); 100 ms
// for a stream without a rate.
int AVIDelay(uint32_t Rate, uint32_t Scale)
{
    if (Rate == 0 || Scale == 0)
        return 100;
    return static_cast<int>(std::trunc(1000.0 / (static_cast<double>(Rate) / static_cast<double>(Scale))));
}

}  // namespace

void TImgMIO::LoadFromFileAVI(const std::wstring& FileName)
{
    if (!view_)
        return;
    bool toMedia = false;
    {
        TLoadScope scope(this, view_);
        Aborting = false;
        // A file that fails the structure check never reaches a platform
        // library (their readers trust its sizes).
        const TPxReadFailure check = PxCheckAVIFile(FileName);
        if (check != TPxReadFailure::None) {
            Aborting = true;
            return;
        }
        TImgIO io(nullptr);
        TPxAVIReader& reader = TPxAVIReader::Of(io);
        const int n = reader.OpenAVIFile(FileName);
        if (n <= 0) {
            // Opened but not decodable here: the filter graphs may know the
            // codec.
            reader.CloseAVIFile();
            toMedia = true;
        } else {
            const int d = AVIDelay(reader.GetRate(), reader.GetScale());
            int p = view_->GetSelectedImage() >= 0 ? view_->GetSelectedImage() : view_->GetImageCount();
            for (int k = 0; k < n; ++k) {
                io.FileParams->Width = 0;
                reader.LoadAVIFrame(static_cast<uint32_t>(k));
                if (io.AbortFlag || io.FileParams->Width <= 0) {
                    Aborting = true;
                    break;
                }
                TPxBitmap* frame = io.GetCurrentBitmap();
                view_->InsertImage(p);
                view_->SetImageBitmap(p, frame);
                if (k == 0)
                    view_->PrepareSpaceFor(frame->GetWidth(), frame->GetHeight(), frame->GetBitCount(), n - 1);
                view_->SetImageDelayTime(p, d);
                if (TIOParamsVals* params = GetParams(p)) {
                    params->GIFDelayTime = d;
                    params->BitsPerSample = io.FileParams->BitsPerSample;
                    params->SamplesPerPixel = io.FileParams->SamplesPerPixel;
                    params->SetImageIndex(p);
                    params->DpiX = kDefaultFrameDpi;
                    params->DpiY = kDefaultFrameDpi;
                    params->Width = params->OriginalWidth = frame->GetWidth();
                    params->Height = params->OriginalHeight = frame->GetHeight();
                    params->FileName = FileName;
                    params->FileFormat = ffAVI;
                    params->FreeColorMap();
                }
                if (OnProgress)
                    OnProgress(this, static_cast<int>(static_cast<int64_t>(k) * 100 / n));
                if (Aborting)
                    break;
                ++p;
            }
            reader.CloseAVIFile();
            UpdateView();
        }
    }
    if (toMedia)
        LoadFromMediaFile(FileName);
}

void TImgMIO::LoadFromMediaFile(const std::wstring& FileName)
{
    if (!view_)
        return;
    Aborting = false;
    auto bitmap = std::make_unique<TPxBitmap>();
    auto graph = std::make_unique<TPxDirectShow>();
    TLoadScope scope(this, view_);
    graph->FileInput = FileName;
    graph->GrabFrames = true;
    graph->Connect();
    graph->Pause();
    graph->SetTimeFormat(5);
    const int64_t duration = graph->GetDuration();
    if (duration == 0) {
        Aborting = true;
        return;
    }
    graph->SetTimeFormat(1);
    int64_t n = graph->GetDuration();
    int64_t step = 1;
    if (n == duration) {
        // No frame format: count and seek in media time.
        const int64_t average = graph->GetAverageTimePerFrame();
        n = average > 0 ? duration / average : 0;
        step = average;
    }
    if (n <= 0 || n > INT32_MAX) {
        Aborting = true;
        return;
    }
    const double delay = static_cast<double>(duration) / 1e7 / static_cast<double>(n) * 1000.0;
    int p = view_->GetSelectedImage() >= 0 ? view_->GetSelectedImage() : view_->GetImageCount();
    for (int64_t k = 0; k < n; ++k) {
        view_->InsertImage(p);
        if (TIOParamsVals* params = GetParams(p)) {
            params->SetImageIndex(p);
            params->FileFormat = 0;
            params->FileName = FileName;
            params->NativePixelFormat = NativePixelFormat;
        }
        graph->SetPosition(k * step);
        graph->GetSample(bitmap.get(), true);
        view_->SetImageBitmap(p, bitmap.get());
        view_->SetImageDelayTime(p, static_cast<int>(std::trunc(delay)));
        if (k == 0) {
            if (view_->StoreType == pxtThumb)
                view_->PrepareSpaceFor(view_->GetThumbWidth(), view_->GetThumbHeight(), bitmap->GetBitCount(),
                                       static_cast<int>(n - 1));
            else
                view_->PrepareSpaceFor(bitmap->GetWidth(), bitmap->GetHeight(), bitmap->GetBitCount(),
                                       static_cast<int>(n - 1));
        }
        if (OnProgress)
            OnProgress(this, static_cast<int>(k * 100 / n));
        if (Aborting)
            break;
        ++p;
    }
    graph->Disconnect();
    UpdateView();
}

// ---- web addresses

namespace {

// The extension a download reported, as it may enter a file name: letters
// and digits only, at most 10 of them; "" when none is left.
std::wstring SafeExtension(const std::wstring& Reported)
{
    std::wstring out;
    for (wchar_t c : Reported) {
        if (out.size() >= 10)
            break;
        if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'))
            out += c;
    }
    return out;
}

// Deletes a file when the scope ends.
class TFileScope {
public:
    explicit TFileScope(std::wstring Name) : name_(std::move(Name)) {}
    ~TFileScope() { DeleteFileW(name_.c_str()); }
    TFileScope(const TFileScope&) = delete;
    TFileScope& operator=(const TFileScope&) = delete;

private:
    std::wstring name_;
};

}  // namespace

std::wstring PxDownloadTempName(const std::wstring& ReportedExtension)
{
    const std::wstring ext = SafeExtension(ReportedExtension);
    return PxGetTempFileName() + L"." + (ext.empty() ? std::wstring(L"tmp") : ext);
}

void TImgMIO::LoadFromURL(const std::wstring& URL)
{
    auto stream = std::make_unique<classlib::TMemoryStream>();
    std::wstring contentType;
    Aborting = false;
    if (!PxDownloadURLToStream(URL, stream.get(), ProxyAddress, ProxyUser, ProxyPassword, contentType, &Aborting,
                               OnProgress, this)) {
        Aborting = true;
        DoFinishWork();
        return;
    }
    TNameScope name(LoadingFileName, URL);
    stream->SetPosition(0);
    if (Aborting)
        return;
    switch (PxDetectStreamFormat(*stream)) {
    case ffTIFF:
        LoadFromStreamTIFF(stream.get());
        return;
    case ffGIF:
        LoadFromStreamGIF(stream.get());
        return;
    case ffICO:
        LoadFromStreamICO(stream.get());
        return;
    case ffDCX:
        LoadFromStreamDCX(stream.get());
        return;
    case ffDICOM:
        LoadFromStreamDICOM(stream.get());
        return;
    default:
        break;
    }
    const std::wstring temp = PxDownloadTempName(contentType);
    stream->SaveToFile(temp);
    stream.reset();
    TFileScope remove(temp);
    LoadFromFile(temp);
}

// ---- parameter previews

void TImgMIO::SetPreviewFont(const classlib::TFont* Font)
{
    if (Font)
        previewFont_->Assign(Font);
}

void TImgMIO::PropagateFirstParams()
{
    TIOParamsVals* first = GetParams(0);
    if (!first)
        return;
    TIOParamsVals options(nullptr);
    options.AssignCompressionOptions(first);
    for (int i = 1; i < GetParamsCount(); ++i)
        GetParams(i)->AssignCompressionOptions(&options);
}

bool TImgMIO::DoPreviews(int Index, uint16_t Pages)
{
    if (OnDoPreviews) {
        bool handled = false;
        OnDoPreviews(this, handled);
        if (handled)
            return true;
    }
    if (!view_)
        return false;
    if (view_->GetImageCount() > 0 && view_->GetSelectedImage() < 0)
        view_->SetSelectedImage(0);
    classlib::TBitmap* selected = view_->GetBitmap();
    if (!selected)
        return false;
    const TPxIOPreviewsFactory factory = PxGetIOPreviewsFactory();
    if (!factory)
        return false;
    std::unique_ptr<TPxIOPreviewsDialog> dialog = factory(this);
    if (!dialog)
        return false;
    TPxBitmap image;
    image.Assign(selected);
    dialog->SetDefaultLockPreview((PreviewsParams & 1) != 0);
    dialog->SetApplyButtonVisible((PreviewsParams & 2) != 0);
    dialog->SetSimplified(SimplifiedParamsDialogs);
    if (SimplifiedParamsDialogs) {
        const int ppi = classlib::Screen ? classlib::Screen->GetPixelsPerInch() : 96;
        dialog->SetPageControlHeight(static_cast<int>(std::trunc(ppi * 1.2708333333333333334)));
        dialog->SetFormHeight(static_cast<int>(std::trunc(ppi * 3.4375)));
    }
    dialog->SetBilevelMethod(BilevelConversion ? 1 : 0);
    dialog->SetParams(GetParams(std::max(Index, 0)), std::wstring());
    dialog->ApplyLanguage(MsgLanguage);
    dialog->SetFont(previewFont_.get());
    dialog->SetSourceImage(&image);
    const bool result = PxRunIOPreviews(std::move(dialog), Pages, nullptr);
    if (Index < 0)
        PropagateFirstParams();
    UpdateView();
    return result;
}

// ---- acquisition and device events

void TImgMIO::ReceiveAcquiredBitmap(TPxBitmap* Bitmap, TIOParamsVals*& Params)
{
    if (!Bitmap)
        return;
    bool handled = false;
    if (OnAcquireBitmap)
        OnAcquireBitmap(this, Bitmap, handled);
    if (handled || !view_)
        return;
    AcquireIndex = std::clamp(AcquireIndex, 0, view_->GetImageCount());
    view_->InsertImage(AcquireIndex);
    Params = GetParams(AcquireIndex);
    std::unique_ptr<TPxBitmap> adjusted;
    TPxBitmap* image = Bitmap;
    if (AutoAdjustDPI && Params) {
        auto copy = std::make_unique<TPxBitmap>();
        copy->Assign(Bitmap);
        TPxBitmap* result = PxAdjustDPI(copy.get(), Params, FilteredAdjustDPI);
        if (result != copy.get())
            adjusted.reset(result);
        else
            adjusted = std::move(copy);
        image = adjusted.get();
    }
    view_->SetImageBitmap(AcquireIndex, image);
    adjusted.reset();
    view_->SetImageDelayTime(AcquireIndex, 100);
    if (OnAfterAcquireBitmap)
        OnAfterAcquireBitmap(this, AcquireIndex);
    ++AcquireIndex;
}

bool TImgMIO::OnWiaProgress(int Percent)
{
    if (OnProgress)
        OnProgress(this, Percent);
    return !Aborting;
}

TPxWia* TImgMIO::GetWia()
{
    if (!wia_) {
        wia_ = std::make_unique<TPxWia>(this);
        wia_->OnTransferProgress = [this](int Percent) { return OnWiaProgress(Percent); };
    }
    return wia_.get();
}

}  // namespace imaging
