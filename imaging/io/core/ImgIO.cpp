#include "imaging/io/core/ImgIO.h"

#include <algorithm>
#include <exception>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Graphics.h"
#include "classlib/Streams.h"
#include "classlib/Threads.h"
#include "imaging/io/platform/AviReader.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImageSource.h"
#include "imaging/io/core/ImgIOAsync.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/io/core/ImgIOStreams.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxConvert.h"

namespace imaging {

TPxDownloadURLProc PxDownloadURLToStreamHook = nullptr;

// ---- construction and attachment

TImgIO::TImgIO(classlib::TComponent* Owner)
    : classlib::TComponent(Owner), workers_(std::make_shared<TPxIOWorkers>())
{
    PxInstallPixelFormatConversion();
    currentBitmap_ = new TPxBitmap();
    ownsBitmap_ = true;
    previewFont_ = std::make_unique<classlib::TFont>();
    ProgressHandler = TPxProgressEvent(this, &TImgIO::DoProgress);
    FileParams = new TIOParamsVals(this);
    TwainParams = new TPxTWainParams(this);
}

std::unique_ptr<TImgIO> TImgIO::CreateForBitmap(TPxBitmap* Bitmap)
{
    auto io = std::make_unique<TImgIO>(nullptr);
    io->SetAttachedPxBitmap(Bitmap);
    return io;
}

TImgIO::~TImgIO()
{
    WaitThreads(false);
    classlib::TThread::RemoveQueuedEvents(nullptr, classlib::TThreadMethod(this, &TImgIO::QueuedImageChange));
    ReleaseMediaObjects();
    DetachView();
    DetachTImage();
    delete TwainParams;
    TwainParams = nullptr;
    delete FileParams;
    FileParams = nullptr;
    FreeOwnBitmap();
}

void TImgIO::FreeOwnBitmap()
{
    if (ownsBitmap_)
        delete currentBitmap_;
    currentBitmap_ = nullptr;
    viewBitmap_ = false;
}

void TImgIO::UseOwnBitmap()
{
    FreeOwnBitmap();
    currentBitmap_ = new TPxBitmap();
    ownsBitmap_ = true;
}

void TImgIO::DetachTImage()
{
    if (!attachedTImage_)
        return;
    RemoveFreeNotification(attachedTImage_);
    attachedTImage_ = nullptr;
    // The mirrored bitmap belongs to the TImage's picture.
    attachedVclBitmap_ = nullptr;
    viewVcl_ = false;
}

// The picture may have been given a new graphic since the last use: the
// mirror follows the bitmap it holds now (never a freed one).
// A graphic of another class put into the picture since the attachment is
// left alone: the object then keeps its own image without a mirror.
void TImgIO::RefreshTImageBitmap()
{
    if (!attachedTImage_)
        return;
    classlib::TPicture* picture = attachedTImage_->GetPicture();
    attachedVclBitmap_ = picture->GetGraphic() ? dynamic_cast<classlib::TBitmap*>(picture->GetGraphic())
                                               : picture->GetBitmap();
}

void TImgIO::SetAttachedTImage(classlib::TImage* Image)
{
    if (!Image) {
        // Only the own mirror of a TImage is emptied: an image borrowed from
        // a view or a caller is not touched by clearing this property.
        if (!attachedTImage_)
            return;
        DetachTImage();
        if (currentBitmap_)
            currentBitmap_->FreeImage(true);
        return;
    }
    if (Image == attachedTImage_) {
        RefreshTImageBitmap();
        ReadVclBitmap();
        return;
    }
    DetachView();
    DetachTImage();
    // The mirror is always an own image: a borrowed one is never overwritten.
    if (!ownsBitmap_ || !currentBitmap_)
        UseOwnBitmap();
    attachedTImage_ = Image;
    FreeNotification(Image);
    attachedVclBitmap_ = Image->GetPicture()->GetBitmap();
    viewVcl_ = false;
    ReadVclBitmap();
}

void TImgIO::DetachView()
{
    if (!attachedImg_)
        return;
    attachedImg_->RemoveBitmapChangeEvent(viewChangeHandle_);
    if (attachedComponent_)
        RemoveFreeNotification(attachedComponent_);
    ForgetView();
}

void TImgIO::ForgetView()
{
    attachedImg_ = nullptr;
    attachedComponent_ = nullptr;
    viewChangeHandle_ = -1;
    // Whatever was borrowed from the view goes with it.
    if (viewBitmap_ || (attachedVclBitmap_ && viewVcl_)) {
        attachedVclBitmap_ = nullptr;
        viewVcl_ = false;
        UseOwnBitmap();
    }
}

void TImgIO::TakeViewImage(TPxIOView* View)
{
    TPxBitmap* px = View->GetPxBitmap();
    if (px) {
        FreeOwnBitmap();
        currentBitmap_ = px;
        ownsBitmap_ = false;
        viewBitmap_ = true;
        attachedVclBitmap_ = nullptr;
        viewVcl_ = false;
    } else {
        classlib::TBitmap* vcl = View->GetBitmap();
        if (!ownsBitmap_ || !currentBitmap_)
            UseOwnBitmap();
        attachedVclBitmap_ = vcl;
        viewVcl_ = vcl != nullptr;
        ReadVclBitmap();
    }
}

void TImgIO::SetAttachedImg(TPxIOView* View)
{
    DetachView();
    DetachTImage();
    if (!View) {
        attachedVclBitmap_ = nullptr;
        viewVcl_ = false;
        UseOwnBitmap();
        return;
    }
    TakeViewImage(View);
    attachedImg_ = View;
    attachedComponent_ = View->GetViewComponent();
    if (attachedComponent_)
        FreeNotification(attachedComponent_);
    viewChangeHandle_ = View->RegisterBitmapChangeEvent(TPxViewBitmapChangeEvent(this, &TImgIO::OnViewBitmapChange), this);
}

void TImgIO::SetAttachedTBitmap(classlib::TBitmap* Bitmap)
{
    if (!Bitmap) {
        if (attachedImg_ || attachedTImage_)
            return;
        attachedVclBitmap_ = nullptr;
        return;
    }
    DetachView();
    DetachTImage();
    // The mirror is always an own image: a borrowed one is never overwritten.
    if (!ownsBitmap_ || !currentBitmap_)
        UseOwnBitmap();
    attachedVclBitmap_ = Bitmap;
    viewVcl_ = false;
    ReadVclBitmap();
}

void TImgIO::SetAttachedPxBitmap(TPxBitmap* Bitmap)
{
    if (!Bitmap && (attachedImg_ || attachedTImage_))
        return;
    if (Bitmap)
        DetachView();
    ReplaceBitmap(Bitmap);
}

void TImgIO::ReplaceBitmap(TPxBitmap* Bitmap)
{
    DetachTImage();
    attachedVclBitmap_ = nullptr;
    viewVcl_ = false;
    FreeOwnBitmap();
    ownsBitmap_ = false;
    currentBitmap_ = Bitmap;
}

void TImgIO::OnViewBitmapChange(classlib::TObject*, bool Destroying)
{
    if (!attachedImg_)
        return;
    if (Destroying) {
        // The view is going: it frees its registrations itself.
        ForgetView();
        return;
    }
    TakeViewImage(attachedImg_);
    FileParams->SetDpiX(attachedImg_->GetDpiX());
    FileParams->SetDpiY(attachedImg_->GetDpiY());
}

void TImgIO::Notification(classlib::TComponent* Component, classlib::TOperation Operation)
{
    classlib::TComponent::Notification(Component, Operation);
    if (Operation == classlib::opRemove && Component && Component == attachedComponent_)
        ForgetView();
    if (Operation == classlib::opRemove && Component &&
        Component == static_cast<classlib::TComponent*>(attachedTImage_)) {
        // The TImage (and with it the bitmap of its picture) is going.
        attachedTImage_ = nullptr;
        attachedVclBitmap_ = nullptr;
        viewVcl_ = false;
    }
}

classlib::TColor TImgIO::GetBackground() const { return attachedImg_ ? attachedImg_->GetBackground() : background_; }

void TImgIO::SetBackground(classlib::TColor Value)
{
    if (!attachedImg_)
        background_ = Value;
}

void TImgIO::SetBilevelConversion(uint8_t Value)
{
    if (currentBitmap_)
        currentBitmap_->BiLevelMethod = Value;
    BilevelMethod = Value;
}

bool TImgIO::GetNativePixelFormat() const { return FileParams ? FileParams->NativePixelFormat : false; }

void TImgIO::SetNativePixelFormat(bool Value)
{
    if (FileParams)
        FileParams->NativePixelFormat = Value;
}

void TImgIO::SetPreviewFont(const classlib::TFont* Font)
{
    if (Font)
        previewFont_->Assign(Font);
}

// ---- the TBitmap mirror

void TImgIO::ReadVclBitmap()
{
    if (!attachedVclBitmap_ || !currentBitmap_ || loading_ > 0)
        return;
    if (attachedVclBitmap_->GetEmpty())
        currentBitmap_->FreeImage(true);
    else
        CopyFromVclBitmap(*currentBitmap_, attachedVclBitmap_);
}

void TImgIO::StoreIntoVclBitmap()
{
    if (!attachedVclBitmap_ || !currentBitmap_)
        return;
    if (currentBitmap_->IsEmpty()) {
        attachedVclBitmap_->Assign(nullptr);
        return;
    }
    // A copy goes into the TBitmap; the own image keeps its storage.
    TPxBitmap copy;
    copy.Assign(currentBitmap_);
    copy.RemoveAlphaChannel(false, classlib::clWhite);
    attachedVclBitmap_->Assign(copy.GetVclBitmap());
}

bool TImgIO::PrepareBitmap(uint32_t Allowed)
{
    if (!currentBitmap_)
        return false;
    RefreshTImageBitmap();
    if (attachedVclBitmap_)
        ReadVclBitmap();
    if (Allowed == 0)
        return true;
    return (Allowed >> currentBitmap_->GetPixelFormat()) & 1u;
}

classlib::TBitmap* TImgIO::GetTBitmap()
{
    RefreshTImageBitmap();
    if (attachedVclBitmap_)
        return attachedVclBitmap_;
    if (currentBitmap_ && currentBitmap_->GetLocation() == pxTBitmap)
        return currentBitmap_->GetVclBitmap();
    return nullptr;
}

// ---- notifications

bool TImgIO::ViewTakesMessages() const
{
    return attachedImg_ && attachedImg_->HasParentWindow() && InWorkerThread();
}

void TImgIO::EnsureViewHandle()
{
    if (attachedImg_)
        attachedImg_->GetWindowHandle();
}

bool TImgIO::PostToView(UINT Msg, WPARAM WParam)
{
    TPxIOView* view = attachedImg_;
    if (!view || !view->HasParentWindow())
        return false;
    // Only the main thread creates windows: the worker waits for it here
    // (WaitThreads serves this call when the main thread is waiting for us).
    if (!view->HandleAllocated())
        classlib::TThread::Synchronize(nullptr, classlib::TThreadMethod(this, &TImgIO::EnsureViewHandle));
    if (!view->HandleAllocated())
        return false;
    PostMessageW(view->GetWindowHandle(), Msg, WParam, 0);
    return true;
}

void TImgIO::DoProgress(classlib::TObject* Sender, int Per)
{
    if (!OnProgress)
        return;
    if (ViewTakesMessages())
        PostToView(PxMsgProgress, static_cast<WPARAM>(Per));
    else
        OnProgress(Sender, Per);
}

void TImgIO::DoFinishWork()
{
    ProgressHandler(this, 100);
    if (!OnFinishWork)
        return;
    if (ViewTakesMessages())
        PostToView(PxMsgFinishWork, 0);
    else
        OnFinishWork(this);
}

void TImgIO::QueuedImageChange()
{
    if (attachedImg_)
        attachedImg_->DoImageChange();
}

void TImgIO::NotifyImageChanged()
{
    RefreshTImageBitmap();
    if (attachedVclBitmap_) {
        if (currentBitmap_)
            currentBitmap_->RemoveAlphaChannel(false, classlib::clWhite);
        StoreIntoVclBitmap();
        if (!attachedImg_)
            attachedVclBitmap_->SetModified(true);
    }
    if (!attachedImg_)
        return;
    if (InWorkerThread()) {
        // The view acts on its own thread: through the posted message, or,
        // without a window to post to, through a queued call.
        if (!PostToView(PxMsgImageChanged, 0))
            classlib::TThread::Queue(nullptr, classlib::TThreadMethod(this, &TImgIO::QueuedImageChange));
        return;
    }
    attachedImg_->Update();
    attachedImg_->DoImageChange();
}

TPxIOProgressInfo TImgIO::MakeProgress(bool WithHandler)
{
    TPxIOProgressInfo info;
    if (WithHandler) {
        info.Handler = ProgressHandler;
        info.Sender = this;
    }
    info.Aborting = &AbortFlag;
    lastFailure_ = TPxReadFailure::None;
    info.Failure = &lastFailure_;
    return info;
}

TPxReadFailure TImgIO::GetLastFailure() const
{
    if (!AbortFlag)
        return TPxReadFailure::None;
    return lastFailure_ == TPxReadFailure::None ? TPxReadFailure::Unreadable : lastFailure_;
}

std::wstring TImgIO::GetLastFailureText() const { return PxReadFailureText(GetLastFailure()); }

TPxReadFailure TImgIO::GetLastWarning() const { return AbortFlag ? TPxReadFailure::None : lastFailure_; }

std::wstring TImgIO::GetLastWarningText() const { return PxReadFailureText(GetLastWarning()); }

// ---- load dispatch

bool TImgIO::TryDefer(std::function<void()> Call, std::unique_ptr<classlib::TStream> OwnedStream)
{
    if (!ShouldDefer())
        return false;
    Defer(std::move(Call), std::move(OwnedStream));
    return true;
}

void TImgIO::FailLoad(TPxReadFailure Why)
{
    lastFailure_ = Why;
    AbortFlag = true;
    DoFinishWork();
}

bool TImgIO::LoadBuiltInFile(const std::wstring& FileName, int32_t FileType, bool GivenType)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    if (!d || !d->FileLoad || (d->FileLoadGivenOnly && !GivenType))
        return false;
    d->FileLoad(*this, FileName, FileType);
    return true;
}

bool TImgIO::LoadBuiltInStream(classlib::TStream* Stream, int32_t FileType, bool GivenType)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    if (!d || !d->StreamLoad || (d->StreamLoadGivenOnly && !GivenType))
        return false;
    d->StreamLoad(*this, Stream, FileType);
    return true;
}

void TImgIO::LoadRegisteredFile(const std::wstring& FileName, TPxFileFormatInfo* Row)
{
    FileParams->FileName.clear();
    FileParams->FileFormat = 0;
    FileParams->ClearInfo();
    if (!Row->Reader) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    BeginFailableLoad();
    if (!PrepareBitmap(0)) {
        DoFinishWork();
        return;
    }
    std::unique_ptr<classlib::TStream> stream = OpenToRead(FileName);
    RunLoad(stream.get(), Row->TypeNumber, lfRegistered, -1);
    if (!AbortFlag)
        FileParams->FileName = FileName;
}

void TImgIO::LoadFromFile(const std::wstring& FileName)
{
    if (!currentBitmap_)
        return;
    if (FileName.empty()) {
        FailLoad();
        return;
    }
    if (PxIsURL(FileName)) {
        LoadFromURL(FileName);
        return;
    }
    std::wstring ext = PxExtractFileExt(FileName, true);
    if (ext == L".avi") {
        PxLoadAVIFile(*this, FileName);
        return;
    }
    TPxFileFormatInfo* row = PxFormatInfoByExtension(ext);
    if (!row) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (row->IsBuiltIn && LoadBuiltInFile(FileName, row->TypeNumber, false))
        return;
    if (row->Reader && TryDefer([this, FileName] { LoadFromFile(FileName); }))
        return;
    LoadRegisteredFile(FileName, row);
}

void TImgIO::LoadFromFileAuto(const std::wstring& FileName)
{
    int32_t type = PxDetectFileFormat(FileName, false);
    if (type == 0)
        LoadFromFile(FileName);
    else
        LoadFromFileFormat(FileName, type);
}

void TImgIO::LoadFromFileFormat(const std::wstring& FileName, int32_t FileType)
{
    TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    if (!row) {
        // AVI has no registry row: its frames come from the AVI reader, as
        // for a name ending in ".avi". Any other type without a row loads
        // nothing, and says so.
        if (FileType == ffAVI) {
            if (currentBitmap_)
                PxLoadAVIFile(*this, FileName);
        } else {
            FailLoad(TPxReadFailure::NoReader);
        }
        return;
    }
    if (row->IsBuiltIn) {
        if (!LoadBuiltInFile(FileName, FileType, true))
            LoadFromFile(FileName);
        return;
    }
    if (row->Reader && TryDefer([this, FileName, FileType] { LoadFromFileFormat(FileName, FileType); }))
        return;
    if (!currentBitmap_) {
        FailLoad();
        return;
    }
    LoadRegisteredFile(FileName, row);
}

void TImgIO::LoadRegisteredStream(classlib::TStream* Stream, TPxFileFormatInfo* Row)
{
    FileParams->ClearInfo();
    FileParams->FileName.clear();
    FileParams->FileFormat = 0;
    if (!Row->Reader) {
        FailLoad();
        return;
    }
    RunLoad(Stream, Row->TypeNumber, lfRegistered, -1);
}

void TImgIO::LoadFromStream(classlib::TStream* Stream)
{
    if (!Stream)
        return;
    int64_t pos = Stream->GetPosition();
    int32_t type = PxDetectStreamFormat(*Stream);
    TPxFileFormatInfo* row = PxFormatInfoById(type);
    Stream->SetPosition(pos);
    // Content nothing recognises, or a format read only from files, loads
    // nothing: the load fails rather than leave the image as if loaded.
    if (!row || (row->IsBuiltIn && !LoadBuiltInStream(Stream, type, false))) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (row->IsBuiltIn)
        return;
    if (TryDefer([this, Stream] { LoadFromStream(Stream); }))
        return;
    LoadRegisteredStream(Stream, row);
}

void TImgIO::LoadFromStreamFormat(classlib::TStream* Stream, int32_t FileType)
{
    if (FileType == 0) {
        LoadFromStream(Stream);
        return;
    }
    if (!Stream)
        return;
    TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    if (!row || (row->IsBuiltIn && !LoadBuiltInStream(Stream, FileType, true))) {
        FailLoad(TPxReadFailure::NoReader);
        return;
    }
    if (row->IsBuiltIn)
        return;
    if (TryDefer([this, Stream, FileType] { LoadFromStreamFormat(Stream, FileType); }))
        return;
    LoadRegisteredStream(Stream, row);
}

void TImgIO::LoadFromBuffer(const void* Buffer, int64_t Count, int32_t FileType)
{
    if (ShouldDefer()) {
        // The worker reads after this call has returned: it owns a copy.
        auto copy = std::make_unique<classlib::TMemoryStream>();
        if (Count > 0)
            copy->WriteBuffer(Buffer, Count);
        copy->SetPosition(0);
        classlib::TStream* stream = copy.get();
        Defer([this, stream, FileType] { LoadFromStreamFormat(stream, FileType); }, std::move(copy));
        return;
    }
    std::unique_ptr<classlib::TStream> stream = PxIOMemoryView(Buffer, Count > 0 ? Count : 0);
    LoadFromStreamFormat(stream.get(), FileType);
}

void TImgIO::LoadFromURL(const std::wstring& URL)
{
    if (TryDefer([this, URL] { LoadFromURL(URL); }))
        return;
    classlib::TMemoryStream stream;
    bool ok = PxDownloadURLToStreamHook &&
              PxDownloadURLToStreamHook(URL, &stream, ProxyAddress, ProxyUser, ProxyPassword, ProgressHandler, this,
                                        &AbortFlag);
    if (!ok) {
        FailLoad();
        return;
    }
    stream.SetPosition(0);
    LoadFromStream(&stream);
}

// ---- save dispatch

void TImgIO::SaveToFile(const std::wstring& FileName)
{
    if (FileName.empty())
        return;
    std::wstring ext = PxExtractFileExt(FileName, true);
    if (const TPxFormatDescription* d = PxFormatDescriptionBySaveExtension(ext)) {
        d->FileSave(*this, FileName, d->Type);
        return;
    }
    TPxFileFormatInfo* row = PxFormatInfoByExtension(ext);
    if (!row) {
        AbortFlag = true;
        return;
    }
    SaveFileWith(FileName, row->TypeNumber, pxscTo24, [this, FileName] { SaveToFile(FileName); });
}

void TImgIO::SaveToStream(classlib::TStream* Stream, int32_t FileType)
{
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    if (d && d->StreamSave) {
        d->StreamSave(*this, Stream, d->Type);
        return;
    }
    SaveStreamWith(Stream, FileType, pxscTo24, nullptr, [this, Stream, FileType] { SaveToStream(Stream, FileType); });
}

// ---- parameters-only reads

void TImgIO::ReadParamsFromFile(const std::wstring& FileName)
{
    try {
        int32_t type = 0;
        if (fileBytes_ && FileName == fileBytesName_)
            type = PxDetectFileContentFormat(*OpenToRead(FileName), FileName, true);
        else
            type = PxDetectFileFormat(FileName, true);
        ReadParamsFromFileFormat(FileName, type);
    } catch (...) {
        FileParams->FileFormat = 0;
    }
}

void TImgIO::UseFileBytes(const std::wstring& FileName, const void* Data, int64_t Count)
{
    fileBytesName_ = FileName;
    fileBytes_ = Data;
    fileBytesCount_ = Data ? std::max<int64_t>(Count, 0) : 0;
}

void TImgIO::ForgetFileBytes()
{
    fileBytesName_.clear();
    fileBytes_ = nullptr;
    fileBytesCount_ = 0;
}

std::unique_ptr<classlib::TStream> TImgIO::OpenToRead(const std::wstring& FileName) const
{
    if (fileBytes_ && FileName == fileBytesName_)
        return PxIOMemoryView(fileBytes_, fileBytesCount_);
    return std::make_unique<TPxWideFileStream>(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
}

void TImgIO::ReadParamsWith(classlib::TStream* Source, int32_t FileType, bool Buffered)
{
    TPxIOProgressInfo info = MakeProgress(false);
    TPxFileFormatInfo* row = PxFormatInfoById(FileType);
    if (!row || !row->Reader) {
        AbortFlag = true;
        return;
    }
    std::unique_ptr<classlib::TStream> buffered;
    classlib::TStream* stream = Source;
    if (Buffered) {
        buffered = PxIOBufferedReader(Source, false, 8192);
        stream = buffered.get();
    }
    const TPxFormatDescription* d = PxFormatDescription(FileType);
    if (d && d->ParamsDataSize)
        info.DataSize = stream->GetSize() - stream->GetPosition();
    row->Reader(stream, currentBitmap_, *FileParams, true, info);
    info.Mask.Reset();
}

void TImgIO::ReadParamsFromFileFormat(const std::wstring& FileName, int32_t FileType)
{
    FileParams->FileFormat = FileType;
    FileParams->ClearInfo();
    BeginFailableLoad();
    try {
        std::unique_ptr<classlib::TStream> file = OpenToRead(FileName);
        AbortFlag = false;
        // 4096 and 4097 reach the camera-raw reader on the file itself.
        if (FileType == 4096 || FileType == 4097)
            ReadParamsWith(file.get(), ffRAW, false);
        else
            ReadParamsWith(file.get(), FileType, true);
    } catch (...) {
        AbortFlag = true;
        FileParams->FileFormat = 0;
    }
    if (AbortFlag)
        FileParams->FileFormat = 0;
    FileParams->FileName = FileName;
    DoFinishWork();
}

void TImgIO::ReadParamsFromStream(classlib::TStream* Stream)
{
    try {
        ReadParamsFromStreamFormat(Stream, Stream ? PxDetectStreamFormat(*Stream) : 0);
    } catch (...) {
        FileParams->FileFormat = 0;
    }
}

void TImgIO::ReadParamsFromStreamFormat(classlib::TStream* Stream, int32_t FileType)
{
    FileParams->FileFormat = FileType;
    FileParams->ClearInfo();
    AbortFlag = false;
    try {
        if (!Stream)
            AbortFlag = true;
        else
            ReadParamsWith(Stream, FileType, true);
    } catch (...) {
        AbortFlag = true;
        FileParams->FileFormat = 0;
    }
    if (AbortFlag)
        FileParams->FileFormat = 0;
    DoFinishWork();
}

}  // namespace imaging

namespace imaging {

int TImgIO::OpenAVIFile(const std::wstring& FileName) { return TPxAVIReader::Of(*this).OpenAVIFile(FileName); }

void TImgIO::LoadAVIFrame(uint32_t Index) { TPxAVIReader::Of(*this).LoadAVIFrame(Index); }

void TImgIO::CloseAVIFile() { TPxAVIReader::Of(*this).CloseAVIFile(); }

void TImgIO::SaveToText(const std::wstring& TextFileName, int32_t FileFormat, int32_t Kind)
{
    PxSaveToText(*this, TextFileName, FileFormat, Kind);
}

}  // namespace imaging
