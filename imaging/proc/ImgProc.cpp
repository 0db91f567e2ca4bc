#include "imaging/proc/ImgProc.h"

#include <algorithm>
#include <utility>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"
#include "classlib/StringList.h"
#include "classlib/Streams.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/PxFillCrop.h"

namespace imaging {

namespace {

// The processing unit registers its start-up here, in the unit that every
// user of the processing object links.
const TPxStartupRegistration kProcUnitRegistration(psProcUnit, PxProcUnitStartup, PxProcUnitShutdown);

// Conversions tried, in order, when an operation does not accept the
// image's format; one row per current format, pxNoPixels = no entry.
constexpr TPxPixelFormat kPreference[PxPixelFormatCount][7] = {
    {pxNoPixels, pxNoPixels, pxNoPixels, pxNoPixels, pxNoPixels, pxNoPixels, pxNoPixels},
    {px8g, px16g, px32f, px24RGB, pxNoPixels, pxNoPixels, pxNoPixels},
    {px24RGB, pxCMYK, pxRGB48, pxCIELab, pxNoPixels, pxNoPixels, pxNoPixels},
    {px16g, px32f, px24RGB, pxCMYK, pxRGB48, pxNoPixels, pxNoPixels},
    {px32f, px8g, pxRGB48, px24RGB, pxCMYK, pxNoPixels, pxNoPixels},
    {pxCMYK, pxCIELab, pxRGB48, px8p, px16g, px8g, pxNoPixels},
    {px16g, px8g, px24RGB, pxRGB48, pxCIELab, pxNoPixels, pxNoPixels},
    {px24RGB, pxRGB48, pxCIELab, px8g, pxNoPixels, pxNoPixels, pxNoPixels},
    {px24RGB, pxCMYK, pxCIELab, px16g, pxNoPixels, pxNoPixels, pxNoPixels},
    {px24RGB, pxCMYK, pxRGB48, px8g, pxNoPixels, pxNoPixels, pxNoPixels},
    {px24RGB, pxCMYK, pxRGB48, px8g, pxNoPixels, pxNoPixels, pxNoPixels},
};

bool InSet(TPxPixelFormatSet Set, TPxPixelFormat Format) { return (Set >> Format) & 1u; }

// Layer records begin with their int32 length and the 16-byte identifier.
constexpr int64_t kLayerRecordHeader = 4 + 16;

}  // namespace

// ---------------------------------------------------------------------------
// Construction

TImgProc::TImgProc(classlib::TComponent* Owner) : classlib::TComponent(Owner), AutoUndo(Owner != nullptr)
{
    previewFont_ = std::make_unique<classlib::TFont>();
    undoCaptions_ = std::make_unique<classlib::TStringList>();
    redoCaptions_ = std::make_unique<classlib::TStringList>();
    bitmap_ = new TPxBitmap();
    ownsBitmap_ = true;
}

std::unique_ptr<TImgProc> TImgProc::CreateForBitmap(TPxBitmap* Bitmap)
{
    auto proc = std::make_unique<TImgProc>(nullptr);
    proc->AttachBitmap(Bitmap);
    return proc;
}

TImgProc::~TImgProc()
{
    // A view that owns this object and is being destroyed can no longer be
    // called; its registrations go with it.
    if (attachedComponent_ && (attachedComponent_->GetComponentState() & classlib::csDestroying))
        ForgetView();
    else
        DetachView();
    ReleaseTImage(true);
    ClearAllUndo();
    ClearAllRedo();
    wrappedVcl_ = nullptr;
    FreeOwnBitmap();
}

void TImgProc::FreeOwnBitmap()
{
    if (ownsBitmap_)
        delete bitmap_;
    bitmap_ = nullptr;
    ownsBitmap_ = false;
}

void TImgProc::UseOwnBitmap()
{
    FreeOwnBitmap();
    bitmap_ = new TPxBitmap();
    ownsBitmap_ = true;
}

// ---------------------------------------------------------------------------
// Attaching

void TImgProc::DetachView()
{
    if (!attachedImg_)
        return;
    attachedImg_->RemoveBitmapChangeEvent(registration_);
    if (attachedComponent_)
        RemoveFreeNotification(attachedComponent_);
    ForgetView();
}

void TImgProc::ForgetView()
{
    if (!attachedImg_)
        return;
    // Whatever was borrowed from the view goes with it: the object falls back
    // to an own empty image rather than keep a pointer into the view.
    const bool borrowed = !ownsBitmap_ || wrappedVcl_ != nullptr;
    attachedImg_ = nullptr;
    attachedComponent_ = nullptr;
    registration_ = -1;
    if (borrowed) {
        wrappedVcl_ = nullptr;
        UseOwnBitmap();
    }
}

void TImgProc::TakeViewImage()
{
    TPxBitmap* px = attachedImg_->GetPxBitmap();
    if (px) {
        FreeOwnBitmap();
        bitmap_ = px;
        ownsBitmap_ = false;
        wrappedVcl_ = nullptr;
        return;
    }
    // Only a TBitmap: an own wrapper, never the view's previous image.
    classlib::TBitmap* vcl = attachedImg_->GetBitmap();
    if (!ownsBitmap_ || !bitmap_)
        UseOwnBitmap();
    wrappedVcl_ = vcl;
    bitmap_->AttachVclBitmap(vcl, true);
}

void TImgProc::SetAttachedImg(TPxProcView* Value)
{
    DetachView();
    ReleaseTImage(true);
    if (!Value) {
        wrappedVcl_ = nullptr;
        UseOwnBitmap();
        return;
    }
    attachedImg_ = Value;
    TakeViewImage();
    attachedComponent_ = Value->GetViewComponent();
    if (attachedComponent_)
        FreeNotification(attachedComponent_);
    registration_ =
        Value->RegisterBitmapChangeEvent(TPxProcBitmapChangeEvent(this, &TImgProc::ViewBitmapChanged), this);
}

void TImgProc::ViewBitmapChanged(classlib::TObject*, bool Destroying)
{
    if (!attachedImg_)
        return;
    if (Destroying) {
        // The view removes its registrations itself.
        if (attachedComponent_)
            RemoveFreeNotification(attachedComponent_);
        ForgetView();
        return;
    }
    TakeViewImage();
}

void TImgProc::AttachBitmap(TPxBitmap* Bitmap)
{
    if (!Bitmap && (attachedImg_ || attachedTImage_))
        return;
    DetachView();
    ReleaseTImage(true);
    ReplaceBitmap(Bitmap);
}

void TImgProc::ReplaceBitmap(TPxBitmap* Bitmap)
{
    wrappedVcl_ = nullptr;
    FreeOwnBitmap();
    bitmap_ = Bitmap;
    ownsBitmap_ = false;
}

void TImgProc::AttachVclBitmap(classlib::TBitmap* Bitmap)
{
    if (!Bitmap && (attachedImg_ || attachedTImage_))
        return;
    DetachView();
    ReleaseTImage(true);
    // The wrapper is always an own image: a borrowed one is never turned
    // into a wrapper of someone else's TBitmap.
    if (!ownsBitmap_ || !bitmap_)
        UseOwnBitmap();
    wrappedVcl_ = Bitmap;
    bitmap_->AttachVclBitmap(Bitmap, true);
}

void TImgProc::Notification(classlib::TComponent* Component, classlib::TOperation Operation)
{
    classlib::TComponent::Notification(Component, Operation);
    if (Operation != classlib::opRemove || !Component)
        return;
    if (Component == attachedComponent_)
        ForgetView();
    // The TImage is going, and its picture's TBitmap with it: forget both
    // without touching either.
    if (attachedTImageComponent_ && Component == attachedTImageComponent_)
        ReleaseTImage(false);
}

void TImgProc::ReleaseTImage(bool Unlink)
{
    if (!attachedTImage_)
        return;
    if (Unlink && attachedTImageComponent_)
        RemoveFreeNotification(attachedTImageComponent_);
    attachedTImage_ = nullptr;
    attachedTImageComponent_ = nullptr;
    wrappedVcl_ = nullptr;
    // The wrapper held the picture's pixels; it is left empty.
    if (bitmap_ && ownsBitmap_)
        bitmap_->FreeImage(true);
}

void TImgProc::RewrapVcl()
{
    if (attachedTImage_) {
        classlib::TBitmap* current = TImagePictureBitmap(false);
        if (current != wrappedVcl_ && bitmap_ && ownsBitmap_ && !current)
            bitmap_->FreeImage(true);  // never keep wrapping a bitmap the picture dropped
        wrappedVcl_ = current;
    }
    if (wrappedVcl_ && bitmap_)
        bitmap_->AttachVclBitmap(wrappedVcl_, false);
}

// ---------------------------------------------------------------------------
// Properties

classlib::TColor TImgProc::GetBackground() const
{
    return attachedImg_ ? attachedImg_->GetBackground() : background_;
}

void TImgProc::SetBackground(classlib::TColor Value)
{
    if (attachedImg_)
        attachedImg_->SetBackground(Value);
    else
        background_ = Value;
}

void TImgProc::SetPreviewFont(classlib::TFont* Value)
{
    if (Value)
        previewFont_->Assign(Value);
}

// ---------------------------------------------------------------------------
// The operation frame

bool TImgProc::PrepareBitmap(TPxPixelFormatSet Allowed)
{
    if (!bitmap_)
        return false;
    RewrapVcl();
    return CheckPixelFormat(Allowed);
}

bool TImgProc::CheckPixelFormat(TPxPixelFormatSet Allowed)
{
    if (!bitmap_)
        return false;
    const TPxPixelFormat current = bitmap_->GetPixelFormat();
    if (Allowed == 0 || InSet(Allowed, current))
        return true;
    if (!AutoConvertFormat)
        return false;
    for (TPxPixelFormat candidate : kPreference[current]) {
        if (InSet(Allowed, candidate)) {
            bitmap_->SetPixelFormat(candidate);
            return true;
        }
    }
    for (int f = PxPixelFormatCount - 1; f >= 0; --f) {
        if (InSet(Allowed, static_cast<TPxPixelFormat>(f))) {
            bitmap_->SetPixelFormat(static_cast<TPxPixelFormat>(f));
            return true;
        }
    }
    return false;
}

bool TImgProc::GetWorkArea(int& X1, int& Y1, int& X2, int& Y2, const POINT*& PolygonPoints, int& PolygonCount,
                           TPxMask*& Mask)
{
    RewrapVcl();
    X1 = 0;
    Y1 = 0;
    X2 = bitmap_ ? bitmap_->GetWidth() : 0;
    Y2 = bitmap_ ? bitmap_->GetHeight() : 0;
    Mask = nullptr;
    PolygonPoints = nullptr;
    PolygonCount = 0;
    if (!attachedImg_ || !attachedImg_->IsImageView())
        return false;
    // Handed out even without a selection: the view clears it on deselect.
    Mask = attachedImg_->GetSelectionMask();
    if (!attachedImg_->HasSelection())
        return false;
    if (Mask && !Mask->IsEmpty()) {
        X1 = Mask->X1;
        Y1 = Mask->Y1;
        X2 = Mask->X2 + 1;
        Y2 = Mask->Y2 + 1;
    }
    int count = 0;
    PolygonPoints = attachedImg_->GetSelectionPolygon(count);
    PolygonCount = PolygonPoints ? count : 0;
    return true;
}

bool TImgProc::BeginProcessing(TPxPixelFormatSet Allowed, int& X1, int& Y1, int& X2, int& Y2,
                               const std::wstring& Caption, TPxBitmap*& WorkBitmap, TPxMask*& Mask)
{
    WorkBitmap = nullptr;
    Mask = nullptr;
    if (!bitmap_)
        return false;
    // A format the operation refuses outright leaves no undo entry either.
    RewrapVcl();
    if (Allowed != 0 && !InSet(Allowed, bitmap_->GetPixelFormat()) && !AutoConvertFormat)
        return false;
    // Before any conversion, so that an undo brings the old format back.
    if (AutoUndo)
        SaveUndoCaptioned(Caption, pxuImage);
    if (!PrepareBitmap(Allowed))
        return false;
    const POINT* points = nullptr;
    int count = 0;
    GetWorkArea(X1, Y1, X2, Y2, points, count, Mask);
    if (!Mask || Mask->IsEmpty()) {
        WorkBitmap = bitmap_;
        return true;
    }
    const int w = Mask->X2 - Mask->X1 + 1;
    const int h = Mask->Y2 - Mask->Y1 + 1;
    auto copy = std::make_unique<TPxBitmap>();
    if (!copy->Allocate(w, h, bitmap_->GetPixelFormat()))
        return false;
    bitmap_->CopyPaletteTo(copy.get());
    CopyRectTo(*bitmap_, copy.get(), Mask->X1, Mask->Y1, 0, 0, w, h);
    X1 = 0;
    Y1 = 0;
    X2 = w;
    Y2 = h;
    WorkBitmap = copy.release();
    return true;
}

void TImgProc::EndProcessing(TPxBitmap* WorkBitmap, TPxMask* Mask)
{
    if (WorkBitmap && WorkBitmap != bitmap_) {
        std::unique_ptr<TPxBitmap> copy(WorkBitmap);
        if (Mask && bitmap_) {
            Mask->CopyMaskedPixels(bitmap_, copy.get(), false, true, false);
            if (copy->HasAlphaChannel() && !copy->GetAlphaChannel()->FullAlpha) {
                TPxBitmap* alpha = bitmap_->GetAlphaChannel();
                Mask->CopyMaskedPixels(alpha, copy->GetAlphaChannel(), false, true, false);
                alpha->FullAlpha = false;
            }
        }
    }
    RefreshAttached();
}

void TImgProc::RefreshAttached()
{
    if (wrappedVcl_ && bitmap_)
        bitmap_->RemoveAlphaChannel(false, 0);
    if (attachedImg_) {
        attachedImg_->Update();
        attachedImg_->DoImageChange();
    } else if (wrappedVcl_) {
        wrappedVcl_->SetModified(true);
    }
}

void TImgProc::DoFinishWork()
{
    if (OnProgress)
        OnProgress(this, 100);
    if (OnFinishWork)
        OnFinishWork(this);
}

// ---------------------------------------------------------------------------
// Undo and redo

std::unique_ptr<classlib::TObject> TImgProc::BuildEntry(TPxUndoSource Source, bool& Prepared)
{
    Prepared = true;
    TPxProcView* view = attachedImg_;
    const bool imageView = view && view->IsImageView();
    switch (Source) {
    case pxuImage: {
        if (!PrepareBitmap(PxAnyFormat)) {
            Prepared = false;
            return nullptr;
        }
        if (bitmap_->GetWidth() < 2 || bitmap_->GetHeight() < 2)
            return nullptr;
        // Threshold 0: the copy goes to a temporary file, not to memory.
        auto entry = std::make_unique<TPxBitmap>();
        entry->FileThreshold = 0;
        entry->SetLocation(undoLocation_);
        entry->Assign(bitmap_);
        entry->UndoLayerIndex = imageView ? view->GetLayersCurrent() : -1;
        return entry;
    }
    case pxuSelection: {
        if (!imageView)
            return nullptr;
        auto stream = std::make_unique<classlib::TMemoryStream>();
        view->SaveSelectionToStream(stream.get());
        return stream;
    }
    case pxuObject: {
        if (!view || !view->IsVectView())
            return nullptr;
        auto stream = std::make_unique<classlib::TMemoryStream>();
        view->SaveToStreamPxV(stream.get());
        return stream;
    }
    case pxuLayer:
    case pxuFullLayer: {
        if (!imageView)
            return nullptr;
        auto stream = std::make_unique<classlib::TMemoryStream>();
        const int current = view->GetLayersCurrent();
        const int count = view->GetLayersCount();
        for (int i = 0; i < count; ++i)
            view->LayerSaveToStream(i, stream.get(), Source == pxuFullLayer && i == current);
        return stream;
    }
    case pxuObjectsAndLayers: {
        if (!imageView)
            return nullptr;
        auto stream = std::make_unique<classlib::TMemoryStream>();
        if (view->IsVectView())
            view->SaveToStreamAll(stream.get(), -1);
        else
            view->LayersSaveToStream(stream.get(), -2);
        return stream;
    }
    default:
        return nullptr;
    }
}

void TImgProc::RemoveAt(TUndoList& List, classlib::TStringList& Captions, size_t Position)
{
    List.Entries.erase(List.Entries.begin() + static_cast<std::ptrdiff_t>(Position));
    List.Kinds.erase(List.Kinds.begin() + static_cast<std::ptrdiff_t>(Position));
    if (static_cast<int>(Position) < Captions.GetCount())
        Captions.Delete(static_cast<int>(Position));
}

bool TImgProc::AppendEntry(TUndoList& List, classlib::TStringList& Captions, TPxUndoSource Source, bool& Prepared)
{
    // Built before anything is removed: a failing entry (disk full) leaves
    // the list as it was.
    std::unique_ptr<classlib::TObject> entry = BuildEntry(Source, Prepared);
    if (!entry)
        return false;
    while (!List.Entries.empty() && static_cast<int>(List.size()) >= undoLimit_)
        RemoveAt(List, Captions, 0);
    List.Entries.push_back(std::move(entry));
    List.Kinds.push_back(Source);
    Captions.Add(L"");
    return true;
}

void TImgProc::SaveUndo(TPxUndoSource Source)
{
    lastSaveAppended_ = false;
    // A limit of 0 (or below) switches undo off.
    if (undoLimit_ <= 0)
        return;
    bool prepared = true;
    lastSaveAppended_ = AppendEntry(undo_, *undoCaptions_, Source, prepared);
    if (!prepared)
        return;
    if (OnSaveUndo)
        OnSaveUndo(this, Source);
}

void TImgProc::SaveUndoCaptioned(const std::wstring& Caption, TPxUndoSource Source)
{
    if (!PrepareBitmap(PxAnyFormat))
        return;
    if (bitmap_->GetWidth() < 2 || bitmap_->GetHeight() < 2)
        return;
    SaveUndo(Source);
    if (lastSaveAppended_ && undoCaptions_->GetCount() > 0)
        undoCaptions_->SetStrings(undoCaptions_->GetCount() - 1, Caption);
}

void TImgProc::SaveRedo(TPxUndoSource Source)
{
    if (undoLimit_ <= 0)
        return;
    bool prepared = true;
    AppendEntry(redo_, *redoCaptions_, Source, prepared);
}

void TImgProc::RestoreLayers(classlib::TStream* Stream)
{
    TPxProcView* view = attachedImg_;
    const int64_t size = Stream->GetSize();
    int64_t position = 0;
    while (position < size) {
        const int64_t start = position;
        if (size - start < kLayerRecordHeader)
            break;
        Stream->SetPosition(start);
        int32_t length = 0;
        TPxLayerIdentifier id;
        Stream->ReadBuffer(&length, sizeof(length));
        Stream->ReadBuffer(id.Bytes, sizeof(id.Bytes));
        // A record that does not fit the stream ends the walk.
        if (length < kLayerRecordHeader || length > size - start)
            break;
        const int count = view->GetLayersCount();
        for (int i = 0; i < count; ++i) {
            if (view->GetLayerIdentifier(i) == id) {
                Stream->SetPosition(start);
                view->LayerLoadFromStream(i, Stream);
                break;
            }
        }
        position = start + length;
    }
    view->Update();
}

void TImgProc::Restore(classlib::TObject* Entry, TPxUndoSource Kind)
{
    TPxProcView* view = attachedImg_;
    const bool imageView = view && view->IsImageView();
    if (Kind == pxuImage) {
        auto* image = static_cast<TPxBitmap*>(Entry);
        TPxBitmap* target = bitmap_;
        if (imageView && image->UndoLayerIndex >= 0 && view->GetLayersCount() > 0) {
            const int index = std::min(std::max(image->UndoLayerIndex, 0), view->GetLayersCount() - 1);
            if (TPxBitmap* layer = view->GetLayerBitmap(index))
                target = layer;
        }
        target->Assign(image);
        RefreshAttached();
        return;
    }
    auto* stream = static_cast<classlib::TMemoryStream*>(Entry);
    stream->SetPosition(0);
    switch (Kind) {
    case pxuSelection:
        if (imageView)
            view->LoadSelectionFromStream(stream, 1);
        break;
    case pxuObject:
        if (view && view->IsVectView())
            view->LoadFromStreamPxV(stream);
        break;
    case pxuLayer:
    case pxuFullLayer:
        if (imageView)
            RestoreLayers(stream);
        break;
    case pxuObjectsAndLayers:
        if (view && view->IsVectView())
            view->LoadFromStreamAll(stream);
        else if (imageView)
            view->LayersLoadFromStream(stream);
        break;
    default:
        break;
    }
}

void TImgProc::UndoAt(int Index, bool SaveRedo)
{
    if (!PrepareBitmap(PxAnyFormat) || Index < 0 || Index >= GetUndoCount())
        return;
    const size_t position = undo_.size() - static_cast<size_t>(Index) - 1;
    const TPxUndoSource kind = undo_.Kinds[position];
    if (SaveRedo)
        this->SaveRedo(kind);
    Restore(undo_.Entries[position].get(), kind);
}

void TImgProc::Undo(bool SaveRedo) { UndoAt(0, SaveRedo); }

void TImgProc::RedoAt(int Index)
{
    if (!PrepareBitmap(PxAnyFormat) || Index < 0 || Index >= GetRedoCount())
        return;
    const size_t position = redo_.size() - static_cast<size_t>(Index) - 1;
    Restore(redo_.Entries[position].get(), redo_.Kinds[position]);
}

void TImgProc::Redo() { RedoAt(0); }

void TImgProc::DiscardUndoAt(int Index)
{
    if (Index < 0 || Index >= GetUndoCount())
        return;
    RemoveAt(undo_, *undoCaptions_, undo_.size() - static_cast<size_t>(Index) - 1);
}

void TImgProc::DiscardLastRedo()
{
    if (!redo_.Entries.empty())
        RemoveAt(redo_, *redoCaptions_, redo_.size() - 1);
}

void TImgProc::ClearAllUndo()
{
    while (!undo_.Entries.empty())
        RemoveAt(undo_, *undoCaptions_, 0);
}

void TImgProc::ClearAllRedo()
{
    while (!redo_.Entries.empty())
        RemoveAt(redo_, *redoCaptions_, 0);
}

TPxUndoSource TImgProc::UndoSourceAt(int Position) const
{
    if (Position < 0 || Position >= GetUndoCount())
        return pxuUnknown;
    return undo_.Kinds[static_cast<size_t>(Position)];
}

TPxUndoSource TImgProc::RedoSourceAt(int Position) const
{
    if (Position < 0 || Position >= GetRedoCount())
        return pxuUnknown;
    return redo_.Kinds[static_cast<size_t>(Position)];
}

}  // namespace imaging
