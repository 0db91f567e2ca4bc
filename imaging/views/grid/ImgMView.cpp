// TImgMView: entries, stores, settings, layout and the making of stored
// images. Loading is in ImgMViewLoad.cpp, painting in ImgMViewPaint.cpp.
#include "imaging/views/grid/ImgMView.h"

#include <algorithm>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/model/PxVirtualImageList.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxEffects.h"
#include "imaging/proc/PxFastResample.h"
#include "imaging/proc/PxResample.h"
#include "imaging/views/grid/ImgMIO.h"

namespace imaging {

// ---- TPxMText

TPxMText::TPxMText(classlib::TControl* Owner, int APosition) : Position(APosition)
{
    font_ = std::make_unique<classlib::TFont>();
    if (Owner)
        font_->Assign(Owner->GetFont());
    if (auto* view = dynamic_cast<TImgMView*>(Owner))
        BackColor = view->GetBackground();
}

TPxMText::~TPxMText() = default;

// ---- construction

TImgMView::TImgMView(classlib::TComponent* Owner) : TPxView(Owner)
{
    backBuffer_ = std::make_unique<TPxBitmap>();
    backBuffer_->SetLocation(pxTBitmap);
    const bool useFile = (GetComponentState() & classlib::csDesigning) == 0;
    ilist_ = std::make_unique<TPxVirtualImageList>(L"ILIST", useFile);
    ilist_->MaxMapped = imageCacheSize_;
    icache_ = std::make_unique<TPxVirtualImageList>(L"ICACHE", useFile);
    internalIO_ = new TImgIO(this);
    wallPaper_ = std::make_unique<classlib::TPicture>();
    transition_ = std::make_unique<TPxTransitionEffects>(this);
    starter_ = std::make_unique<TPxStarter>(this);
    SetBounds(GetLeft(), GetTop(), 180, 90);
}

TImgMView::~TImgMView()
{
    destroying_ = true;
    *alive_ = nullptr;
    ReleaseCurrent(false);
    selectedImage_ = -1;
    StopLoading();
    starter_->Stop();
    std::vector<TLoader> loaders;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        loaders.swap(runningLoaders_);
        requestQueue_.clear();
        lookAheadList_.clear();
    }
    // Freed outside the lock: each waits for its worker.
    loaders.clear();
    starter_.reset();
    for (TImgIO* reader : frameReaders_)
        delete reader;
    frameReaders_.clear();
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        entries_.clear();
        ilist_.reset();
        icache_.reset();
    }
    delete internalIO_;
    internalIO_ = nullptr;
}

// ---- entries

TImgMViewEntry* TImgMView::Entry(int Index) const
{
    if (Index < 0 || Index >= static_cast<int>(entries_.size()))
        return nullptr;
    return entries_[static_cast<size_t>(Index)].get();
}

std::unique_ptr<TImgMViewEntry> TImgMView::NewEntry()
{
    auto e = std::make_unique<TImgMViewEntry>();
    e->Owner = this;
    e->Background = GetBackground();
    e->TopText = std::make_unique<TPxMText>(this, 0);
    e->InfoText = std::make_unique<TPxMText>(this, 1);
    e->BottomText = std::make_unique<TPxMText>(this, 2);
    return e;
}

void TImgMView::DropDisplayCopy(TImgMViewEntry* E)
{
    if (E && E->CacheItem) {
        icache_->DeleteImage(E->CacheItem);
        E->CacheItem = nullptr;
    }
}

void TImgMView::DropDisplayCopies()
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    for (auto& e : entries_)
        DropDisplayCopy(e.get());
}

void TImgMView::FreeEntryImages(TImgMViewEntry* E)
{
    if (E->ImageItem) {
        if (currentItem_ == E->ImageItem) {
            current_ = nullptr;
            currentItem_ = nullptr;
        }
        ilist_->DeleteImage(E->ImageItem);
        E->ImageItem = nullptr;
    }
    DropDisplayCopy(E);
}

void TImgMView::RecordChange(int Kind, int Index, int Index2)
{
    lastChangeKind_ = Kind;
    lastChangeIndex_ = Index;
    lastChangeIndex2_ = Index2;
    NotifyBitmapChange();
}

void TImgMView::NotifyBitmapChange()
{
    TPxView::NotifyBitmapChange();
    lastChangeKind_ = 0;
}

int TImgMView::AppendImage() { return InsertImageAndSelect(GetImageCount()); }

int TImgMView::InsertImage(int Index)
{
    const int at = InsertEntry(Index);
    RecordChange(1, at, 0);
    UpdateLayout(false);
    return at;
}

int TImgMView::InsertEntry(int Index)
{
    Playing = false;
    if (Index < 0)
        Index = 0;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        if (Index >= GetImageCount())
            Index = GetImageCount();
        entries_.insert(entries_.begin() + Index, NewEntry());
        // Queued and running work follows its entry to its new index.
        for (int& r : requestQueue_)
            if (r >= Index)
                ++r;
        for (int& r : lookAheadList_)
            if (r >= Index)
                ++r;
        for (TLoader& l : runningLoaders_)
            if (l.IO->GetTag() >= Index)
                l.IO->SetTag(l.IO->GetTag() + 1);
    }
    // The selected index stays; it now names the new entry.
    if (selectedImage_ >= Index)
        ReleaseCurrent(true);
    return Index;
}

int TImgMView::InsertImageAndSelect(int Index)
{
    const int at = InsertEntry(Index);
    SetSelectedImage(at);
    RecordChange(1, selectedImage_, 0);
    UpdateLayout(false);
    return at;
}

bool TImgMView::RemoveImage(int Index)
{
    Playing = false;
    if (Index < 0 || Index >= GetImageCount())
        return false;
    CancelImageLoad(Index);
    const int s = selectedImage_;
    ReleaseCurrent(s != Index);
    selectedImage_ = -1;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        FreeEntryImages(Entry(Index));
        entries_.erase(entries_.begin() + Index);
        for (int& r : requestQueue_)
            if (r > Index)
                --r;
        for (int& r : lookAheadList_)
            if (r > Index)
                --r;
        for (TLoader& l : runningLoaders_)
            if (l.IO->GetTag() > Index)
                l.IO->SetTag(l.IO->GetTag() - 1);
    }
    const int count = GetImageCount();
    int sel = s;
    if (Index == s && Index >= count)
        sel = count - 1;
    else if (Index < s)
        sel = s - 1;
    if (count > 0 && sel >= 0)
        SetSelectedImage(sel);
    RecordChange(2, Index, 0);
    return true;
}

void TImgMView::DeleteImage(int Index)
{
    if (RemoveImage(Index))
        UpdateLayout(false);
}

void TImgMView::Clear()
{
    ReleaseCurrent(false);
    selectedImage_ = -1;
    Invalidate();
    StopLoading();
    for (int i = GetImageCount() - 1; i >= 0; --i)
        RemoveImage(i);
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        const bool useFile = (GetComponentState() & classlib::csDesigning) == 0;
        ilist_ = std::make_unique<TPxVirtualImageList>(L"ILIST", useFile);
        ilist_->MaxMapped = imageCacheSize_;
        icache_ = std::make_unique<TPxVirtualImageList>(L"ICACHE", useFile);
    }
    std::vector<TImgIO*> readers;
    readers.swap(frameReaders_);
    for (TImgIO* reader : readers)
        delete reader;
    Update();
}

void TImgMView::ReleaseCurrent(bool WriteBack)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    if (current_ && ilist_) {
        ilist_->ReleaseBitmap(current_, WriteBack);
        if (WriteBack) {
            for (auto& e : entries_)
                if (e->ImageItem == currentItem_)
                    DropDisplayCopy(e.get());
        }
    }
    current_ = nullptr;
    currentItem_ = nullptr;
}

std::wstring TImgMView::GetImageFileName(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->FileName : std::wstring();
}

void TImgMView::SetImageFileName(int Index, const std::wstring& Name)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    if (TImgMViewEntry* e = Entry(Index)) {
        e->FileName = Name;
        e->HasFileName = true;
        e->ImageID = -1;
    }
}

classlib::TColor TImgMView::GetImageBackground(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->Background : 0;
}

void TImgMView::SetImageBackground(int Index, classlib::TColor Color)
{
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        TImgMViewEntry* e = Entry(Index);
        if (!e)
            return;
        e->Background = Color;
        DropDisplayCopy(e);
    }
    UpdateLayout(false);
}

int TImgMView::GetImageDelayTime(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->DelayTime : 0;
}

void TImgMView::SetImageDelayTime(int Index, int Ms)
{
    if (TImgMViewEntry* e = Entry(Index))
        e->DelayTime = Ms;
}

int TImgMView::GetImageSourceWidth(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    return e && e->ImageItem ? e->ImageItem->SourceWidth : 0;
}

int TImgMView::GetImageSourceHeight(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    return e && e->ImageItem ? e->ImageItem->SourceHeight : 0;
}

void TImgMView::SetImageSourceWidth(int Index, int Value)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    if (TImgMViewEntry* e = Entry(Index))
        ilist_->SetSourceWidth(e->ImageItem, Value);
}

void TImgMView::SetImageSourceHeight(int Index, int Value)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    if (TImgMViewEntry* e = Entry(Index))
        ilist_->SetSourceHeight(e->ImageItem, Value);
}

int TImgMView::GetImageID(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->ImageID : 0;
}

void TImgMView::SetImageID(int Index, int ID)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    if (TImgMViewEntry* e = Entry(Index))
        e->ImageID = ID;
}

TPxMText* TImgMView::GetImageTopText(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->TopText.get() : nullptr;
}

TPxMText* TImgMView::GetImageInfoText(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->InfoText.get() : nullptr;
}

TPxMText* TImgMView::GetImageBottomText(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->BottomText.get() : nullptr;
}

int TImgMView::GetImageRow(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->Row : 0;
}

int TImgMView::GetImageCol(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->Column : 0;
}

RECT TImgMView::GetImageRect(int Index)
{
    TImgMViewEntry* e = Entry(Index);
    return e ? e->ImageRect : RECT{0, 0, 0, 0};
}

bool TImgMView::HasImage(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    return e && e->ImageItem;
}

bool TImgMView::HasDisplayCopy(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    return e && e->CacheItem;
}

int TImgMView::GetStoredWidth(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    return e && e->ImageItem ? ilist_->GetImageWidth(e->ImageItem) : 0;
}

int TImgMView::GetStoredHeight(int Index)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    TImgMViewEntry* e = Entry(Index);
    return e && e->ImageItem ? ilist_->GetImageHeight(e->ImageItem) : 0;
}

// ---- frame pictures

namespace {

std::unique_ptr<TPxBitmap> CopyPicture(TPxBitmap* Picture)
{
    if (!Picture)
        return nullptr;
    auto copy = std::make_unique<TPxBitmap>();
    copy->Assign(Picture);
    return copy;
}

}  // namespace

void TImgMView::SetThumbnailFrame(TPxBitmap* Picture)
{
    thumbnailFrame_ = CopyPicture(Picture);
    Update();
}

void TImgMView::SetThumbnailFrameSelected(TPxBitmap* Picture)
{
    thumbnailFrameSelected_ = CopyPicture(Picture);
    Update();
}

// ---- stored images

std::unique_ptr<TPxBitmap> TImgMView::MakeStoredImage(TPxBaseBitmap* Source, TPxStoreType StoreType, bool Enlarge, int BoxW,
                                           int BoxH, TResampleFilter Filter, bool GreyTransparent, bool ConvertTo24)
{
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    if (StoreType == pxtNormal || (!Enlarge && w <= BoxW && h <= BoxH))
        return nullptr;
    int dw = BoxW;
    int dh = BoxH;
    if (w > 0 && h > 0)
        PxAspectFit(w, h, BoxW, BoxH, dw, dh);
    if (dw == w && dh == h)
        return nullptr;
    if (dw < 1 || dh < 1)
        return nullptr;
    auto* px = dynamic_cast<TPxBitmap*>(Source);
    if (px && ConvertTo24 && px->GetPixelFormat() != px24RGB && Filter != rfNone)
        px->SetPixelFormat(px24RGB);
    // The caller's image stays as it is: transparent pixels are greyed in a
    // copy.
    std::unique_ptr<TPxBitmap> greyed;
    if (px && px->HasAlphaChannel() && GreyTransparent) {
        greyed = std::make_unique<TPxBitmap>();
        greyed->Assign(px);
        PxFillTransparent(greyed.get(), TPxRGB{128, 128, 128});
        px = greyed.get();
        Source = greyed.get();
    }
    auto work = std::make_unique<TPxBitmap>();
    const TPxPixelFormat fmt = Source->GetPixelFormat();
    if (fmt == px1g) {
        if (!work->Allocate(dw, dh, px24RGB))
            return nullptr;
        PxResampleBilevelTo24(Source, 0, 0, w - 1, h - 1, work.get());
    } else if (fmt == px24RGB) {
        if (!work->Allocate(dw, dh, px24RGB))
            return nullptr;
        if (Filter != rfNone)
            PxResampleFiltered(Source, work.get(), Filter);
        else
            PxStretchNearest(Source, work.get());
    } else {
        if (!work->Allocate(dw, dh, fmt))
            return nullptr;
        PxStretchNearest(Source, work.get());
    }
    if (px && px->HasAlphaChannel()) {
        TPxBitmap* srcAlpha = px->GetAlphaChannel();
        TPxBitmap* dstAlpha = work->GetAlphaChannel();
        PxResampleGray8(srcAlpha, dstAlpha, Filter == rfNone ? rfFastLinear : Filter);
        dstAlpha->FullAlpha = srcAlpha->FullAlpha;
    }
    return work;
}

void TImgMView::StoreItem(TImgMViewEntry* E, TPxBaseBitmap* Bitmap, int SourceW, int SourceH)
{
    TPxVirtualImageItem* item = ilist_->AddBitmap(Bitmap);
    E->ImageItem = item;
    if (item) {
        item->SourceWidth = SourceW;
        item->SourceHeight = SourceH;
    }
}

void TImgMView::StoreReduced(int Index, TPxBaseBitmap* Bitmap, bool GreyTransparent, bool ConvertTo24)
{
    if (!Bitmap)
        return;
    bool notify = false;
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        TImgMViewEntry* e = Entry(Index);
        if (!e)
            return;
        if (e->ImageItem) {
            if (currentItem_ == e->ImageItem)
                ReleaseCurrent(false);
            ilist_->DeleteImage(e->ImageItem);
            e->ImageItem = nullptr;
            DropDisplayCopy(e);
        }
        const int w = Bitmap->GetWidth();
        const int h = Bitmap->GetHeight();
        std::unique_ptr<TPxBitmap> work = MakeStoredImage(Bitmap, StoreType, EnlargeSmallImages, thumbWidth_,
                                                          thumbHeight_, ThumbnailResampleFilter, GreyTransparent,
                                                          ConvertTo24);
        StoreItem(e, work ? work.get() : Bitmap, w, h);
        if (Index == selectedImage_) {
            ReleaseCurrent(false);
            notify = true;
        }
    }
    if (notify)
        NotifyBitmapChange();
}

void TImgMView::SetImageBitmap(int Index, TPxBaseBitmap* Bitmap) { StoreReduced(Index, Bitmap, true, false); }

void TImgMView::SetImageTBitmap(int Index, classlib::TBitmap* Bitmap)
{
    if (!Bitmap)
        return;
    TPxBitmap wrap;
    wrap.AttachVclBitmap(Bitmap, true);
    SetImageBitmap(Index, &wrap);
}

void TImgMView::PrepareSpaceFor(int Width, int Height, int BitCount, int ImageCount)
{
    classlib::TCriticalSectionGuard guard(starterLock_);
    ilist_->PreAllocate(Width, Height, ImageCount, BitCount);
}

classlib::TBitmap* TImgMView::GetBitmap()
{
    TPxBitmap* px = GetPxBitmap();
    if (!px)
        return nullptr;
    px->SetLocation(pxTBitmap);
    return px->GetVclBitmap();
}

TPxBitmap* TImgMView::GetPxBitmap()
{
    if (selectedImage_ < 0)
        return nullptr;
    if (current_)
        return current_;
    return FetchEntryImage(selectedImage_);
}

// ---- objects

TImgMIO* TImgMView::GetMIO()
{
    if (!mio_) {
        mio_ = new TImgMIO(this);
        mio_->SetAttachedMView(this);
        mio_->OnProgress = onProgress_;
        mio_->OnFinishWork = onFinishWork_;
    }
    return mio_;
}

TImgProc* TImgMView::GetProc()
{
    if (!proc_) {
        proc_ = new TImgProc(this);
        proc_->SetAttachedImg(static_cast<TPxProcView*>(this));
        proc_->OnProgress = onProgress_;
        proc_->OnFinishWork = onFinishWork_;
    }
    if (selectedImage_ == -1 && GetImageCount() > 0)
        SetSelectedImage(0);
    return proc_;
}

void TImgMView::SetOnProgress(const TPxProgressEvent& Handler)
{
    onProgress_ = Handler;
    if (mio_)
        mio_->OnProgress = Handler;
    if (proc_)
        proc_->OnProgress = Handler;
}

void TImgMView::SetOnFinishWork(const classlib::TNotifyEvent& Handler)
{
    onFinishWork_ = Handler;
    if (mio_)
        mio_->OnFinishWork = Handler;
    if (proc_)
        proc_->OnFinishWork = Handler;
}

// ---- locks and layout

void TImgMView::BeginPaintLock() { ++paintLock_; }

int TImgMView::EndPaintLock()
{
    if (paintLock_ > 0)
        --paintLock_;
    if (paintLock_ == 0)
        Update();
    return paintLock_;
}

int TImgMView::EndPaintLockNoUpdate()
{
    if (paintLock_ > 0)
        --paintLock_;
    return paintLock_;
}

void TImgMView::Update() { UpdateLayout(true); }

void TImgMView::SetBackground(classlib::TColor Value)
{
    TPxView::SetBackground(Value);
    Update();
}

void TImgMView::LayoutGrid()
{
    int columns = gridWidth_;
    if (gridWidth_ == -1)
        columns = (GetClientWidth() - horizBorder_) / (thumbWidth_ + horizBorder_);
    int col = 0;
    int row = 0;
    int maxX = 0;
    int maxY = 0;
    for (auto& e : entries_) {
        e->X = col * (thumbWidth_ + horizBorder_);
        e->Y = row * (thumbHeight_ + vertBorder_);
        if (displayMode_ == mdGrid) {
            e->X += horizBorder_;
            e->Y += vertBorder_;
        }
        e->Row = row;
        e->Column = col;
        maxX = std::max(maxX, e->X);
        maxY = std::max(maxY, e->Y);
        if (displayMode_ == mdSingle)
            continue;
        ++col;
        if (col == columns) {
            col = 0;
            ++row;
        }
    }
    extentX_ = maxX + thumbWidth_ + horizBorder_;
    extentY_ = maxY + thumbHeight_ + vertBorder_;
}

void TImgMView::UpdateLayout(bool DropCopies)
{
    if (paintLock_ > 0 || inLayout_ || destroying_ || !HandleAllocated())
        return;
    const classlib::TComponentState st = GetComponentState();
    if (st != 0 && st != classlib::csDesigning && st != classlib::csFreeNotification)
        return;
    if (!GetParent() && !GetParentWindow())
        return;
    if (st == classlib::csDesigning) {
        Invalidate();
        return;
    }
    inLayout_ = true;
    if (DropCopies)
        DropDisplayCopies();
    {
        classlib::TCriticalSectionGuard guard(starterLock_);
        LayoutGrid();
    }
    UpdateScrollBars();
    NotifyBitmapChange();
    inLayout_ = false;
    Invalidate();
    RedrawWindow(GetHandle(), nullptr, nullptr, RDW_FRAME | RDW_ALLCHILDREN | RDW_INVALIDATE);
}

// ---- setters

#define PX_UPDATE_SETTER(Name, Type, Field) \
    void TImgMView::Set##Name(Type Value)   \
    {                                       \
        Field = Value;                      \
        Update();                           \
    }
#define PX_UPDATE_IF_CHANGED_SETTER(Name, Type, Field) \
    void TImgMView::Set##Name(Type Value)              \
    {                                                  \
        if (Field == Value)                            \
            return;                                    \
        Field = Value;                                 \
        Update();                                      \
    }

PX_UPDATE_SETTER(HorizBorder, int, horizBorder_)
PX_UPDATE_SETTER(VertBorder, int, vertBorder_)
PX_UPDATE_SETTER(BottomGap, int, bottomGap_)
PX_UPDATE_SETTER(UpperGap, int, upperGap_)
PX_UPDATE_SETTER(VisibleSelection, bool, visibleSelection_)
PX_UPDATE_SETTER(GridWidth, int, gridWidth_)
PX_UPDATE_SETTER(SelectionWidth, int, selectionWidth_)
PX_UPDATE_SETTER(SelectionColor, classlib::TColor, selectionColor_)
PX_UPDATE_SETTER(RemoveCorrupted, bool, removeCorrupted_)
PX_UPDATE_SETTER(DrawImageBackground, bool, drawImageBackground_)
PX_UPDATE_SETTER(EnableAlphaChannel, bool, enableAlphaChannel_)
PX_UPDATE_SETTER(BackgroundStyle, TPxBackgroundStyle, backgroundStyle_)
PX_UPDATE_SETTER(ThumbnailsBackgroundStyle, TPxBackgroundStyle, thumbnailsBackgroundStyle_)
PX_UPDATE_SETTER(FillThumbnail, bool, fillThumbnail_)
PX_UPDATE_IF_CHANGED_SETTER(Style, TPxMStyle, style_)
PX_UPDATE_IF_CHANGED_SETTER(WallPaperStyle, TPxWallPaperStyle, wallPaperStyle_)
PX_UPDATE_IF_CHANGED_SETTER(SelectionStyle, TPxSStyle, selectionStyle_)
PX_UPDATE_IF_CHANGED_SETTER(EnableMultiSelect, bool, enableMultiSelect_)
PX_UPDATE_IF_CHANGED_SETTER(ThumbnailsBorderWidth, int, thumbnailsBorderWidth_)
PX_UPDATE_IF_CHANGED_SETTER(ThumbnailsBorderColor, classlib::TColor, thumbnailsBorderColor_)
PX_UPDATE_IF_CHANGED_SETTER(ThumbnailsInternalBorder, bool, thumbnailsInternalBorder_)
PX_UPDATE_IF_CHANGED_SETTER(ThumbnailsInternalBorderColor, classlib::TColor, thumbnailsInternalBorderColor_)

#undef PX_UPDATE_SETTER
#undef PX_UPDATE_IF_CHANGED_SETTER

void TImgMView::SetWallPaper(const classlib::TPicture* Value)
{
    wallPaper_->Assign(Value);
    Update();
}

void TImgMView::SetChessboardStyle(int Size, classlib::TBrushStyle BrushStyle)
{
    ChessboardSize = Size;
    ChessboardBrushStyle = BrushStyle;
}

void TImgMView::SetThumbWidth(int Value)
{
    thumbWidth_ = Value;
    DropDisplayCopies();
    Update();
}

void TImgMView::SetThumbHeight(int Value)
{
    thumbHeight_ = Value;
    DropDisplayCopies();
    Update();
}

void TImgMView::SetDisplayMode(TPxMDisplayMode Value)
{
    pendingDisplayMode_ = Value;
    if (Playing)
        return;
    displayMode_ = Value;
    Update();
}

void TImgMView::SetImageCacheSize(int Value)
{
    imageCacheSize_ = Value;
    classlib::TCriticalSectionGuard guard(starterLock_);
    ilist_->MaxMapped = Value;
}

}  // namespace imaging
