// TImgMView: fetching entry images on the calling thread and through the
// pool of asynchronous loaders driven by TPxStarter.
#include <algorithm>
#include <cwctype>
#include <functional>

#include "classlib/Bitmap.h"
#include "classlib/ScopeGuard.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/model/PxVirtualImageList.h"
#include "imaging/proc/PxEffects.h"
#include "imaging/proc/PxFastResample.h"
#include "imaging/proc/PxResample.h"
#include "imaging/views/grid/ImgMIO.h"
#include "imaging/views/grid/ImgMView.h"

namespace imaging {

namespace {

std::wstring LowerExt(const std::wstring& Name)
{
    const size_t dot = Name.find_last_of(L'.');
    const size_t slash = Name.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && slash > dot))
        return std::wstring();
    std::wstring ext = Name.substr(dot);
    for (wchar_t& c : ext)
        c = static_cast<wchar_t>(std::towlower(c));
    return ext;
}

bool IsFrameName(const std::wstring& Name) { return Name.find(L"::") != std::wstring::npos; }

}  // namespace

// ---- TPxStarter

TPxStarter::TPxStarter(TImgMView* View) : classlib::TThread(true), view_(View)
{
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

TPxStarter::~TPxStarter()
{
    Stop();
    CloseHandle(wake_);
}

void TPxStarter::Wake()
{
    if (!started_.exchange(true))
        Start();
    SetEvent(wake_);
}

void TPxStarter::Stop()
{
    if (!started_ || GetFinished())
        return;
    Terminate();
    SetEvent(wake_);
    WaitFor();
}

void TPxStarter::Execute()
{
    while (!GetTerminated()) {
        const bool idle = view_->DispatchPass(this);
        if (GetTerminated())
            break;
        WaitForSingleObject(wake_, idle ? INFINITE : 50);
    }
}

// ---- settings of a thumbnail load

void TImgMView::ApplyThumbSettings(TImgIO* IO, TImgMViewEntry* E)
{
    TIOParamsVals* p = IO->FileParams;
    if (StoreType == pxtThumb) {
        const bool small = thumbWidth_ <= 200 && thumbHeight_ <= 200 && UseEmbeddedThumbnails;
        p->JPEGScale = 0;
        p->SetUseEmbeddedThumbnail(small);
        p->JPEGDCTMethod = 1;
        p->Width = thumbWidth_;
        p->Height = thumbHeight_;
        p->SetRAWUseEmbeddedPreview(small);
    } else {
        p->JPEGScale = 1;
    }
    p->SetApplyOrientation(ApplyOrientation);
    IO->SetBackground(E->Background);
}

void TImgMView::StartPlainLoad(TImgIO* IO, const std::wstring& FileName)
{
    const std::wstring ext = LowerExt(FileName);
    if (ext == L".emf" || ext == L".wmf")
        IO->ImportMetafileFromFile(FileName, thumbWidth_, -1, true);
    else
        IO->LoadFromFileAuto(FileName);
}

TImgIO* TImgMView::GetFrameReader(const std::wstring& Name, int& Frame)
{
    const size_t sep = Name.find(L"::");
    const std::wstring file = Name.substr(0, sep);
    Frame = 0;
    if (sep != std::wstring::npos) {
        try {
            size_t used = 0;
            const std::wstring digits = Name.substr(sep + 2);
            const int n = std::stoi(digits, &used);
            if (used == digits.size())
                Frame = n;
        } catch (...) {
            Frame = 0;
        }
    }
    for (TImgIO* reader : frameReaders_)
        if (reader->FileParams->FileName == file)
            return reader;
    auto* reader = new TImgIO(this);
    reader->FileParams->FileName = file;
    frameReaders_.push_back(reader);
    return reader;
}

int TImgMView::LoadFrame(TImgIO* Reader, int Frame)
{
    const std::wstring file = Reader->FileParams->FileName;
    const TPxFileFormatInfo* row = PxFormatInfoByExtension(LowerExt(file));
    const int32_t type = row ? row->TypeNumber : ffUnknown;
    if (type != ffUnknown && type != ffAVI && type != 22 && type != 23) {
        Reader->FileParams->SetImageIndex(Frame);
        Reader->LoadFromFileAuto(file);
        Reader->FileParams->FileName = file;
        return type == ffGIF ? Reader->FileParams->GIFDelayTime * 10 : 0;
    }
    // Video: the file stays open in the reader for the next frames.
    if (!Reader->IsMediaFileOpen()) {
        Reader->OpenMediaFile(file);
        Reader->FileParams->FileName = file;
        if (Reader->AbortFlag) {
            // Closed again, so that the next frame tries afresh.
            Reader->CloseMediaFile();
            return 0;
        }
    }
    Reader->AbortFlag = false;
    Reader->LoadMediaFrame(Frame);
    Reader->FileParams->FileName = file;
    if (Reader->GetCurrentBitmap()->IsEmpty())
        Reader->AbortFlag = true;
    // The grab gives the frame time in milliseconds.
    return Reader->FileParams->MediaFrameDelay;
}

// ---- loads on the calling thread

void TImgMView::FinishLoad(int Index, TImgIO* IO, TPxBitmap* Bitmap)
{
    TImgMViewEntry* e = Entry(Index);
    if (!e)
        return;
    if (TIOParamsVals* params = GetMIO()->GetParams(Index))
        params->Assign(IO->FileParams);
    e->Background = IO->GetBackground();
    SetImageBitmap(Index, Bitmap);
    const bool failed = IO->AbortFlag;
    const int sw = failed || IO->FileParams->OriginalWidth <= 0 ? Bitmap->GetWidth() : IO->FileParams->OriginalWidth;
    const int sh =
        failed || IO->FileParams->OriginalHeight <= 0 ? Bitmap->GetHeight() : IO->FileParams->OriginalHeight;
    if (e->ImageItem) {
        e->ImageItem->SourceWidth = sw;
        e->ImageItem->SourceHeight = sh;
    }
}

bool TImgMView::LoadImageNow(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    if (!e)
        return false;
    if (e->ImageID >= 0 && OnImageIDRequest) {
        classlib::TBitmap* bitmap = nullptr;
        OnImageIDRequest(this, e->ImageID, bitmap);
        if (bitmap)
            SetImageTBitmap(Index, bitmap);
        return true;
    }
    if (e->ImageID >= 0 && OnImageIDRequestEx) {
        TPxBitmap* bitmap = nullptr;
        OnImageIDRequestEx(this, e->ImageID, bitmap);
        if (bitmap)
            SetImageBitmap(Index, bitmap);
        return true;
    }
    if (!e->HasFileName)
        return true;
    const std::wstring name = e->FileName;
    int frame = 0;
    TImgIO* reader = IsFrameName(name) ? GetFrameReader(name, frame) : internalIO_;
    auto bitmap = std::make_unique<TPxBitmap>();
    reader->SetAttachedPxBitmap(bitmap.get());
    bool ok = true;
    try {
        ApplyThumbSettings(reader, e);
        reader->OnProgress = OnIOProgress;
        if (mio_)
            reader->AutoAdjustDPI = mio_->AutoAdjustDPI;
        try {
            if (reader == internalIO_) {
                StartPlainLoad(reader, name);
            } else {
                e->DelayTime = LoadFrame(reader, frame);
            }
        } catch (...) {
            reader->AbortFlag = true;
        }
        if (reader->AbortFlag) {
            DoWrongImage(bitmap.get(), Index);
            ok = false;
        }
        FinishLoad(Index, reader, bitmap.get());
    } catch (...) {
        reader->SetAttachedImg(nullptr);
        throw;
    }
    reader->SetAttachedImg(nullptr);
    return ok;
}

TPxBitmap* TImgMView::FetchEntryImage(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    if (!e)
        return nullptr;
    if (!e->ImageItem)
        LoadImageNow(Index);
    if (!e->ImageItem)
        return nullptr;
    if (current_ && currentItem_ == e->ImageItem)
        return current_;
    ReleaseCurrent(true);
    current_ = ilist_->GetBitmap(e->ImageItem);
    currentItem_ = current_ ? e->ImageItem : nullptr;
    return current_;
}

void TImgMView::AddFileFramesOnDemand(const std::wstring& FileName)
{
    Clear();
    int n = 1;
    try {
        n = PxCountFileFrames(FileName);
    } catch (...) {
        // A format without a frame counter counts as one frame.
        n = 1;
    }
    if (n < 1)
        n = 1;
    BeginPaintLock();
    for (int i = 0; i < n; ++i) {
        InsertImage(i);
        SetImageFileName(i, FileName + L"::" + std::to_wstring(i));
    }
    EndPaintLock();
}

bool TImgMView::SetImageFromFile(int Index, const std::wstring& FileName, int Frame)
{
    return SetImageFromFileOrStream(Index, nullptr, Frame, FileName);
}

bool TImgMView::SetImageFromFileOrStream(int Index, classlib::TStream* Stream, int Frame,
                                         const std::wstring& FileName)
{
    bool ok = true;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        TImgMViewEntry* e = Entry(Index);
        if (!e)
            return false;
        auto bitmap = std::make_unique<TPxBitmap>();
        internalIO_->SetAttachedPxBitmap(bitmap.get());
        internalIO_->SetBackground(e->Background);
        internalIO_->OnProgress = OnIOProgress;
        internalIO_->AutoAdjustDPI = GetMIO()->AutoAdjustDPI;
        internalIO_->FileParams->SetImageIndex(Frame);
        ApplyThumbSettings(internalIO_, e);
        try {
            if (Stream)
                internalIO_->LoadFromStream(Stream);
            else
                internalIO_->LoadFromFileAuto(FileName);
        } catch (...) {
            internalIO_->AbortFlag = true;
        }
        if (internalIO_->AbortFlag) {
            DoWrongImage(bitmap.get(), Index);
            ok = false;
        }
        FinishLoad(Index, internalIO_, bitmap.get());
        internalIO_->SetAttachedImg(nullptr);
        DropDisplayCopy(e);
    }
    UpdateLayout(false);
    return ok;
}

// ---- the pool

bool TImgMView::IsImageVisible(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    if (!e)
        return false;
    const int x = e->X - ViewX;
    const int y = e->Y - ViewY;
    const RECT cell{x, y, x + thumbWidth_, y + thumbHeight_};
    const RECT area{0, 0, GetWidth() - 1, GetHeight() - 1};
    RECT out;
    return IntersectRect(&out, &cell, &area) != FALSE;
}

bool TImgMView::IsLookAhead(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    return std::find(lookAheadList_.begin(), lookAheadList_.end(), Index) != lookAheadList_.end();
}

bool TImgMView::CanReloadImage(TImgMViewEntry* E)
{
    return (E->ImageID >= 0 && (OnImageIDRequest || OnImageIDRequestEx)) || E->HasFileName;
}

int TImgMView::FindRequest(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    auto it = std::find(requestQueue_.begin(), requestQueue_.end(), Index);
    return it == requestQueue_.end() ? -1 : static_cast<int>(it - requestQueue_.begin());
}

void TImgMView::PurgeLoaders(std::vector<TLoader>& Freed)
{
    for (size_t i = 0; i < runningLoaders_.size();) {
        TLoader& l = runningLoaders_[i];
        if (l.State == 0 && l.IO->GetTag() != -1 && l.IO->WorkerCount() == 0) {
            // The worker ended and no finish notification reached this
            // loader (it is the only sign of a lost load): the load failed.
            l.IO->AbortFlag = true;
            LoaderFinished(l.IO.get());
        }
        const int tag = static_cast<int>(l.IO->GetTag());
        if (tag == -1 && l.State == 3) {
            Freed.push_back(std::move(l));
            runningLoaders_.erase(runningLoaders_.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (tag >= 0 && l.State == 0 && !IsImageVisible(tag) && !IsLookAhead(tag)) {
            l.IO->SetTag(-2);
            l.IO->AbortFlag = true;
        }
        ++i;
    }
}

void TImgMView::PruneRequests()
{
    if (InvisibleKeepDistance == -1)
        return;
    requestQueue_.erase(std::remove_if(requestQueue_.begin(), requestQueue_.end(),
                                       [this](int i) { return !IsImageVisible(i) && !IsLookAhead(i); }),
                        requestQueue_.end());
}

bool TImgMView::RequestImageLoad(int Index, int Position)
{
    std::vector<TLoader> freed;  // freed after the lock is left
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        TImgMViewEntry* e = Entry(Index);
        if (!e || IsFrameName(e->FileName))
            return false;
        classlib::TOnExit wake([this] { WakeStarter(); });
        if (e->ImageItem)
            return true;
        PruneRequests();
        if (Position >= 0)
            Position = requestQueue_.empty() ? 0 : std::clamp(Position, 0, static_cast<int>(requestQueue_.size()) - 1);
        const int found = FindRequest(Index);
        if (found >= 0) {
            if (Position >= 0) {
                requestQueue_.erase(requestQueue_.begin() + found);
                requestQueue_.insert(requestQueue_.begin() + std::min<int>(Position, requestQueue_.size()), Index);
            }
            return true;
        }
        for (TLoader& l : runningLoaders_)
            if (l.IO->GetTag() == Index)
                return true;
        PurgeLoaders(freed);
        if ((e->ImageID >= 0 && (OnImageIDRequest || OnImageIDRequestEx)) || !e->HasFileName)
            return false;
        if (Position < 0)
            requestQueue_.push_back(Index);
        else
            requestQueue_.insert(requestQueue_.begin() + Position, Index);
        return true;
    }
}

void TImgMView::WakeStarter()
{
    if (starter_ && !destroying_)
        starter_->Wake();
}

bool TImgMView::DispatchPass(TPxStarter* Starter)
{
    std::vector<TLoader> freed;
    bool idle;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        PurgeLoaders(freed);
        PruneRequests();
        while (!Starter->GetTerminated() && !requestQueue_.empty() &&
               static_cast<int>(runningLoaders_.size()) < ThreadPoolSize) {
            const int index = requestQueue_.front();
            requestQueue_.erase(requestQueue_.begin());
            TImgMViewEntry* e = Entry(index);
            if (!e || e->ImageItem || !e->HasFileName)
                continue;
            TLoader l;
            l.IO = std::make_unique<TImgIO>(nullptr);
            l.Bitmap = std::make_unique<TPxBitmap>();
            l.IO->SetTag(index);
            l.IO->SetAttachedPxBitmap(l.Bitmap.get());
            ApplyThumbSettings(l.IO.get(), e);
            l.IO->OnFinishWork = classlib::TNotifyEvent(this, &TImgMView::LoaderFinished);
            l.IO->AsyncMode = true;
            TImgIO* io = l.IO.get();
            runningLoaders_.push_back(std::move(l));
            bool raised = false;
            try {
                StartPlainLoad(io, e->FileName);
            } catch (...) {
                // A file that cannot be opened raises before any worker is
                // started: finish the load here as a failed one.
                raised = true;
            }
            if (raised) {
                io->AbortFlag = true;
                LoaderFinished(io);
            }
        }
        idle = requestQueue_.empty() && runningLoaders_.empty();
    }
    return idle;
}

void TImgMView::StoreLocked(int Index, TPxBaseBitmap* Image, int SourceW, int SourceH)
{
    TImgMViewEntry* e = Entry(Index);
    if (!e)
        return;
    if (e->ImageItem) {
        if (currentItem_ == e->ImageItem) {
            current_ = nullptr;
            currentItem_ = nullptr;
        }
        ilist_->DeleteImage(e->ImageItem);
        e->ImageItem = nullptr;
    }
    DropDisplayCopy(e);
    StoreItem(e, Image, SourceW, SourceH);
}

TImgMView::TLoader* TImgMView::FindLoader(TImgIO* IO)
{
    for (TLoader& l : runningLoaders_)
        if (l.IO.get() == IO)
            return &l;
    return nullptr;
}

void TImgMView::LoaderFinished(classlib::TObject* Sender)
{
    auto* io = dynamic_cast<TImgIO*>(Sender);
    if (!io)
        return;
    TPxBitmap* bitmap = nullptr;
    bool reduce = false;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        TLoader* l = FindLoader(io);
        // Unknown (already freed by StopLoading) or reported twice.
        if (!l || l->State != 0)
            return;
        l->State = 1;
        bitmap = l->Bitmap.get();
        reduce = !destroying_ && !io->AbortFlag && io->GetTag() >= 0;
    }
    // The reduction needs no lock: it reads only the loader's own bitmap.
    // A failed load is reduced on the window's thread, after the wrong-image
    // picture has been made there.
    std::unique_ptr<TPxBitmap> reduced;
    if (reduce) {
        try {
            reduced = MakeStoredImage(bitmap, StoreType, EnlargeSmallImages, thumbWidth_, thumbHeight_,
                                      ThumbnailResampleFilter, false, true);
        } catch (...) {
            reduced.reset();
        }
    }
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        TLoader* l = FindLoader(io);
        if (!l)
            return;
        l->Reduced = std::move(reduced);
        l->State = 2;
    }
    // The rest (storing, OnWrongImage, the multi-image parameters, the
    // change notification and the repaint) runs on the window's thread.
    if (GetCurrentThreadId() == classlib::MainThreadID) {
        ApplyFinishedLoads();
        return;
    }
    std::shared_ptr<TImgMView*> alive = alive_;
    classlib::TThread::Queue(nullptr, std::function<void()>([alive] {
        if (*alive)
            (*alive)->ApplyFinishedLoads();
    }));
}

void TImgMView::ApplyFinishedLoads()
{
    bool any = false;
    bool notify = false;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        for (TLoader& l : runningLoaders_) {
            if (l.State != 2)
                continue;
            l.State = 3;
            any = true;
            TImgIO* io = l.IO.get();
            const int tag = static_cast<int>(io->GetTag());
            TImgMViewEntry* e = Entry(tag);
            // A load whose entry was removed or aborted meanwhile (tag < 0)
            // is dropped; an entry that got its image meanwhile (fetched on
            // this thread) keeps it: that image may be checked out right now.
            if (tag >= 0 && e && !e->ImageItem && !destroying_) {
                TPxBitmap* bitmap = l.Bitmap.get();
                const bool failed = io->AbortFlag;
                if (failed) {
                    DoWrongImage(bitmap, tag);
                    io->FileParams->FileFormat = 0;
                    try {
                        l.Reduced = MakeStoredImage(bitmap, StoreType, EnlargeSmallImages, thumbWidth_,
                                                    thumbHeight_, ThumbnailResampleFilter, false, true);
                    } catch (...) {
                        l.Reduced.reset();
                    }
                }
                if (TIOParamsVals* params = GetMIO()->GetParams(tag))
                    params->Assign(io->FileParams);
                e->Background = io->GetBackground();
                const int sw = failed || io->FileParams->OriginalWidth <= 0 ? bitmap->GetWidth()
                                                                             : io->FileParams->OriginalWidth;
                const int sh = failed || io->FileParams->OriginalHeight <= 0 ? bitmap->GetHeight()
                                                                              : io->FileParams->OriginalHeight;
                StoreLocked(tag, l.Reduced ? static_cast<TPxBaseBitmap*>(l.Reduced.get()) : bitmap, sw, sh);
                if (tag == selectedImage_)
                    notify = true;
            }
            l.Reduced.reset();
            io->SetTag(-1);
        }
    }
    if (!any)
        return;
    WakeStarter();
    if (notify)
        NotifyBitmapChange();
    if (HandleAllocated())
        InvalidateRect(GetHandle(), nullptr, FALSE);
}

void TImgMView::StopLoading()
{
    std::vector<TLoader> loaders;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        lookAheadList_.clear();
        requestQueue_.clear();
        for (TLoader& l : runningLoaders_) {
            l.IO->SetTag(-2);
            l.IO->AbortFlag = true;
        }
        loaders.swap(runningLoaders_);
    }
    // Freed outside the lock: each loader's I/O object waits for its worker
    // (which may be waiting for the lock) before its bitmap goes.
    loaders.clear();
}

int TImgMView::GetPendingCompletionCount()
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    int n = 0;
    for (const TLoader& l : runningLoaders_)
        if (l.State == 2)
            ++n;
    return n;
}

void TImgMView::CancelImageLoad(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    requestQueue_.erase(std::remove(requestQueue_.begin(), requestQueue_.end(), Index), requestQueue_.end());
    lookAheadList_.erase(std::remove(lookAheadList_.begin(), lookAheadList_.end(), Index), lookAheadList_.end());
    for (TLoader& l : runningLoaders_)
        if (l.IO->GetTag() == Index) {
            l.IO->SetTag(-2);
            l.IO->AbortFlag = true;
        }
}

int TImgMView::GetRequestCount()
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    return static_cast<int>(requestQueue_.size());
}

int TImgMView::GetRunningLoaderCount()
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    return static_cast<int>(runningLoaders_.size());
}

}  // namespace imaging
