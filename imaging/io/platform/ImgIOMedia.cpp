// TImgIO: the parameter-preview dialog, acquired images, the scanner and
// capture objects, and single frames of video files.
#include "imaging/io/platform/ImgIOMedia.h"

#include <atomic>
#include <cmath>

#include "classlib/Forms.h"
#include "classlib/Graphics.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/core/ImgIOPreviews.h"
#include "imaging/io/platform/PxDirectShow.h"
#include "imaging/io/platform/PxWia.h"
#include "imaging/model/PxBitmap.h"

namespace imaging {

namespace {

std::atomic<TPxIOPreviewsFactory> previewsFactory{nullptr};

int ScreenPixelsPerInch()
{
    if (classlib::Screen)
        return classlib::Screen->GetPixelsPerInch();
    return 96;
}

}  // namespace

void PxSetIOPreviewsFactory(TPxIOPreviewsFactory Factory) { previewsFactory = Factory; }

bool PxRunIOPreviews(std::unique_ptr<TPxIOPreviewsDialog> Dialog, uint16_t Pages,
                     const std::function<void(classlib::TForm* Form)>& BeforeShow)
{
    bool result = false;
    try {
        if (Dialog->SetPages(Pages)) {
            if (BeforeShow)
                BeforeShow(Dialog->GetForm());
            result = Dialog->ShowModal() == classlib::mrOk;
        }
    } catch (...) {
        Dialog->SetSourceImage(nullptr);
        throw;
    }
    Dialog->SetSourceImage(nullptr);
    return result;
}

TPxIOPreviewsFactory PxGetIOPreviewsFactory() { return previewsFactory.load(); }

// ---- the parameter-preview dialog

bool TImgIO::DoPreviews(uint16_t Pages)
{
    if (OnDoPreviews) {
        bool handled = false;
        OnDoPreviews(this, handled);
        if (handled)
            return true;
    }
    if (!PrepareBitmap(0))
        return false;
    const TPxIOPreviewsFactory factory = PxGetIOPreviewsFactory();
    if (!factory)
        return false;
    if (currentBitmap_->GetPixelFormat() != px24RGB && currentBitmap_->GetPixelFormat() != px1g)
        currentBitmap_->SetPixelFormat(px24RGB);
    std::unique_ptr<TPxIOPreviewsDialog> dialog = factory(this);
    if (!dialog)
        return false;
    dialog->SetDefaultLockPreview((PreviewsParams & ioppDefaultLockPreview) != 0);
    dialog->SetApplyButtonVisible((PreviewsParams & ioppApplyButton) != 0);
    dialog->SetParams(FileParams, FileParams->FileName);
    dialog->SetSimplified(SimplifiedParamsDialogs);
    if (SimplifiedParamsDialogs) {
        const int ppi = ScreenPixelsPerInch();
        dialog->SetPageControlHeight(static_cast<int>(std::trunc(ppi * 61.0 / 48.0)));
        dialog->SetFormHeight(static_cast<int>(std::trunc(ppi * 3.75)));
    }
    dialog->SetBilevelMethod(BilevelMethod);
    dialog->ApplyLanguage(MsgLanguage);
    dialog->SetFont(previewFont_.get());
    dialog->SetSourceImage(currentBitmap_);
    dialog->ClearResult();
    const bool result = PxRunIOPreviews(std::move(dialog), Pages, [this](classlib::TForm* Form) {
        if (OnIOPreview)
            OnIOPreview(this, Form);
    });
    NotifyImageChanged();
    return result;
}

// ---- acquisition

void TImgIO::DoAcquireBitmap(TPxBitmap* Bitmap, bool& Handled)
{
    if (OnAcquireBitmap)
        OnAcquireBitmap(this, Bitmap, Handled);
}

void TImgIO::ReceiveAcquiredBitmap(TPxBitmap* Bitmap, TIOParamsVals*& Params)
{
    if (!PrepareBitmap(0) || !Bitmap)
        return;
    bool handled = false;
    DoAcquireBitmap(Bitmap, handled);
    if (handled)
        return;
    Params = FileParams;
    currentBitmap_->Assign(Bitmap);
    if (AutoAdjustDPI)
        AdjustDPI();
    NotifyImageChanged();
}

bool TImgIO::WiaProgress(int Percent)
{
    ProgressHandler(this, Percent);
    return !AbortFlag;
}

TPxWia* TImgIO::GetWia()
{
    if (!wiaObject_) {
        wiaObject_ = new TPxWia(this);
        wiaObject_->OnTransferProgress = [this](int Percent) { return WiaProgress(Percent); };
    }
    return wiaObject_;
}

// ---- capture

TPxDirectShow* TImgIO::GetDirectShow()
{
    if (!captureDevice_) {
        captureDevice_ = new TPxDirectShow();
        if (attachedImg_)
            captureDevice_->SetNotifyWindow(attachedImg_->GetWindowHandle(), PxMsgNewFrame, PxMsgGraphEvent);
    }
    return captureDevice_;
}

void TImgIO::UpdateDShowNotifyWindow()
{
    if (!attachedImg_ || !captureDevice_ || !attachedImg_->HandleAllocated())
        return;
    const HWND window = attachedImg_->GetWindowHandle();
    if (captureDevice_->GetNotifyWindow() != window)
        captureDevice_->SetNotifyWindow(window, PxMsgNewFrame, PxMsgGraphEvent);
}

void TImgIO::ReleaseMediaObjects()
{
    CloseMediaFile();
    delete captureDevice_;
    captureDevice_ = nullptr;
    delete wiaObject_;
    wiaObject_ = nullptr;
}

// ---- video files

int32_t TImgIO::OpenMediaFile(const std::wstring& FileName)
{
    CloseMediaFile();
    AbortFlag = true;
    mediaReader_ = new TPxDirectShow();
    mediaReader_->FileInput = FileName;
    mediaReader_->GrabFrames = true;
    mediaReader_->Connect();
    mediaReader_->Pause();
    mediaReader_->SetTimeFormat(5);
    const int64_t duration = mediaReader_->GetDuration();
    if (duration == 0)
        return 0;
    mediaReader_->SetTimeFormat(1);
    int64_t frames = mediaReader_->GetDuration();
    const int64_t average = mediaReader_->GetAverageTimePerFrame();
    if (frames == duration && average != 0) {
        // The graph has no frame format: count and seek in media time.
        frames = duration / average;
        MediaFrameStep = static_cast<int32_t>(average);
    } else {
        MediaFrameStep = 1;
    }
    // A stream of no frames (or more than a count can hold) has none to show.
    if (frames <= 0 || frames > INT32_MAX)
        return 0;
    MediaFrameTime = static_cast<double>(duration) / 10000000.0 / static_cast<double>(frames) * 1000.0;
    AbortFlag = false;
    mediaFrameCount_ = static_cast<int32_t>(frames);
    FileParams->MediaFrameCount = mediaFrameCount_;
    FileParams->FileFormat = 0;
    FileParams->FileName = FileName;
    int w = FileParams->Width;
    int h = FileParams->Height;
    std::wstring subtype;
    mediaReader_->GetVideoSize(w, h, subtype);
    FileParams->Width = w;
    FileParams->Height = h;
    FileParams->OriginalWidth = w;
    FileParams->OriginalHeight = h;
    return static_cast<int32_t>(frames);
}

void TImgIO::LoadMediaFrame(int32_t Index)
{
    if (!mediaReader_ || !currentBitmap_ || Index < 0 || Index >= mediaFrameCount_) {
        AbortFlag = true;
        return;
    }
    FileParams->SetImageIndex(Index);
    mediaReader_->SetPosition(static_cast<int64_t>(Index) * static_cast<int64_t>(MediaFrameStep));
    mediaReader_->GetSample(currentBitmap_, true);
    FileParams->MediaFrameDelay = static_cast<int32_t>(classlib::Round(MediaFrameTime));
    NotifyImageChanged();
}

void TImgIO::CloseMediaFile()
{
    if (!mediaReader_)
        return;
    mediaReader_->Disconnect();
    delete mediaReader_;
    mediaReader_ = nullptr;
    mediaFrameCount_ = 0;
}

// ---- frame counting

int32_t PxCountMediaFrames(const std::wstring& FileName)
{
    TImgIO io(nullptr);
    const int32_t n = io.OpenMediaFile(FileName);
    io.CloseMediaFile();
    return n;
}

void PxInstallMediaFrames() { PxSetFrameCounter(ffUnknown, PxCountMediaFrames); }

}  // namespace imaging
