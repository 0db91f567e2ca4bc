#include "imaging/views/view/ImgView.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Picture.h"
#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"
#include "classlib/StreamRecords.h"
#include "classlib/Streams.h"
#include "classlib/TextConv.h"
#include "classlib/WinHandles.h"
#include "classlib/ZLibStreams.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/platform/PxDirectShow.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/model/PxRawDump.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxFillCrop.h"
#include "imaging/views/view/PxGDIPlus.h"

namespace imaging {

namespace {

// The view unit's start-up and shut-down run with the toolkit's.
const TPxStartupRegistration viewUnitRegistration(psImgView, &TImgView::ImgViewStartup, &TImgView::ImgViewShutdown);

constexpr char kLayersMagic[13] = {'P', 'X', 'I', 'M', 'A', 'G', 'E', 'L', 'A', 'Y', 'E', 'R', 'S'};
constexpr int32_t kLayersVersion = 6;
// The resolution every new view starts with.
constexpr int kDefaultDpi = 300;
// The cursor every view shows until told otherwise.
constexpr classlib::TCursor kDefaultCursor = 1785;

// A TColor (system colours resolved) as the value TPxBitmap::Fill takes.
double FillValue(classlib::TColor Color) { return static_cast<double>(classlib::ColorToRGB(Color) & 0xFFFFFF); }

using namespace classlib::streamrec;


}  // namespace

// ---- construction and destruction

TImgView::TImgView(classlib::TComponent* Owner) : TPxView(Owner)
{
    ImgViewLoadCursors();
    BeginUpdateLock();
    auto vcl = std::make_unique<classlib::TBitmap>();
    vcl->SetPixelFormat(classlib::pf24bit);
    PxGDIPlusLoad();
    auto image = std::make_unique<TPxBitmap>();
    image->AttachVclBitmap(vcl.get(), false);
    image->LegacyBitmap = true;
    currentImage_ = image.get();
    vclBitmap_ = vcl.get();
    auto layer = std::make_unique<TPxLayer>(this, true, image.release());
    layer->AdoptVclBitmap(vcl.release());
    layer->ShowBox = false;
    layer->Locked = true;
    layers_.push_back(std::move(layer));
    currentLayer_ = 0;
    layersW_ = currentImage_->GetWidth();
    layersH_ = currentImage_->GetHeight();
    classlib::TControl::SetCursor(kDefaultCursor);
    SetBounds(GetLeft(), GetTop(), 105, 105);
    SetDpi(kDefaultDpi, kDefaultDpi);
    if (!(GetComponentState() & classlib::csDesigning)) {
        backBuffer_ = std::make_unique<TPxBitmap>();
        backBuffer_->Allocate(10, 10, px24RGB);
        backBuffer_->SetLocation(pxTBitmap);
    }
    wallPaper_ = std::make_unique<classlib::TPicture>();
    EndUpdateLock();
    ownerGiven_ = Owner != nullptr;
}

TImgView::~TImgView()
{
    delete io_;
    io_ = nullptr;
    delete proc_;
    proc_ = nullptr;
    layers_.clear();
    currentImage_ = nullptr;
    vclBitmap_ = nullptr;
    PxGDIPlusUnload();
}

TImg::TImg(classlib::TComponent* Owner) : TImgView(Owner)
{
    GetIO();
    GetProc();
}

// ---- image holder

void TImgView::SetLegacyBitmap(bool Value)
{
    if (Value == legacyBitmap_)
        return;
    if (!Value) {
        currentImage_->LegacyBitmap = false;
        currentImage_->SetLocation(pxFile);
        // The pixels left the class-library bitmap; the layer that kept it
        // for them frees it now (not when the move failed and the image
        // still lives in it).
        if (currentImage_->GetLocation() != pxTBitmap && currentLayer_ >= 0 && currentLayer_ < GetLayersCount())
            layers_[static_cast<size_t>(currentLayer_)]->FreeAdoptedVclBitmap();
        vclBitmap_ = nullptr;
    } else {
        currentImage_->SetLocation(pxTBitmap);
        currentImage_->LegacyBitmap = true;
        vclBitmap_ = currentImage_->GetVclBitmap();
    }
    legacyBitmap_ = Value;
    NotifyBitmapChange();
    Update();
}

void TImgView::SetExternalBitmap(TPxBitmap* Bitmap)
{
    if (currentLayer_ < 0 || currentLayer_ >= GetLayersCount())
        return;
    TPxLayer* layer = layers_[static_cast<size_t>(currentLayer_)].get();
    if (!Bitmap) {
        if (layer->OwnsBitmap)
            return;
        // The layer takes its new image at once, so that it is freed with the
        // layer even when no UpdateLayersExtent comes first.
        layer->OwnsBitmap = true;
        layer->Bitmap = new TPxBitmap();
        currentImage_ = layer->Bitmap;
        vclBitmap_ = nullptr;
        // Attached objects must let go of the caller's image, which may go
        // away now.
        NotifyBitmapChange();
        return;
    }
    if (layer->OwnsBitmap)
        layer->FreeBitmap();
    layer->Bitmap = Bitmap;
    layer->OwnsBitmap = false;
    currentImage_ = Bitmap;
    vclBitmap_ = Bitmap->LegacyBitmap ? Bitmap->GetVclBitmap() : nullptr;
    NotifyBitmapChange();
    Update();
}

bool TImgView::IsEmpty() { return currentImage_->GetWidth() < 2 && currentImage_->GetHeight() < 2; }

void TImgView::FillImage(TPxBitmap* Image)
{
    if (Image->GetWidth() > 0 && Image->GetHeight() > 0)
        Image->Fill(FillValue(GetBackground()));
}

void TImgView::FillWithBackground()
{
    FillImage(currentImage_);
    currentImage_->RemoveAlphaChannel(false, classlib::ColorToRGB(GetBackground()));
    Update();
}

void TImgView::ClearImage()
{
    currentImage_->Allocate(1, 1, currentImage_->GetPixelFormat() == pxNoPixels ? px24RGB : currentImage_->GetPixelFormat());
    FillWithBackground();
}

void TImgView::DoImageChange()
{
    TPxView::DoImageChange();
    if (OnImageChange)
        OnImageChange(this);
}

void TImgView::Assign(const classlib::TPersistent* Source)
{
    if (!Source) {
        FillWithBackground();
        return;
    }
    if (auto* view = dynamic_cast<const TImgView*>(Source)) {
        auto* other = const_cast<TImgView*>(view);
        if (other != this) {
            currentImage_->Assign(other->GetPxBitmap());
            TPxView::SetBackground(other->GetBackground());
            SetDpi(other->GetDpiX(), other->GetDpiY());
        }
        Update();
        DoImageChange();
        return;
    }
    if (auto* bitmap = dynamic_cast<const classlib::TBitmap*>(Source)) {
        CopyFromVclBitmap(*currentImage_, const_cast<classlib::TBitmap*>(bitmap));
        const TPxPixelFormat format = currentImage_->GetPixelFormat();
        if (!currentImage_->IsEmpty() && format != px1g && format != px24RGB)
            currentImage_->SetPixelFormat(px24RGB);
        Update();
        DoImageChange();
    }
}

TPxBitmap* TImgView::GetAlphaChannel() { return currentImage_->GetAlphaChannel(); }

bool TImgView::HasAlphaChannel() { return currentImage_->HasAlphaChannel(); }

void TImgView::RemoveAlphaChannel(bool Merge)
{
    currentImage_->RemoveAlphaChannel(Merge, classlib::ColorToRGB(GetBackground()));
}

void TImgView::SetEnableAlphaChannel(bool Value)
{
    enableAlphaChannel_ = Value;
    Update();
}

void TImgView::SetBackground(classlib::TColor Value)
{
    TPxView::SetBackground(Value);
    Update();
    DoImageChange();
}

// ---- on-demand objects

TImgIO* TImgView::GetIO()
{
    if (!io_) {
        io_ = new TImgIO(this);
        io_->SetAttachedImg(static_cast<TPxIOView*>(this));
        io_->OnProgress = onProgress_;
        io_->OnFinishWork = onFinishWork_;
    }
    return io_;
}

TImgProc* TImgView::GetProc()
{
    if (!proc_) {
        proc_ = new TImgProc(this);
        proc_->SetUndoLimit(1);
        proc_->SetAttachedImg(static_cast<TPxProcView*>(this));
        proc_->OnProgress = onProgress_;
        proc_->OnFinishWork = onFinishWork_;
        proc_->OnSaveUndo = onSaveUndo_;
    }
    return proc_;
}

void TImgView::SetOnProgress(const TPxProgressEvent& Handler)
{
    onProgress_ = Handler;
    if (io_)
        io_->OnProgress = Handler;
    if (proc_)
        proc_->OnProgress = Handler;
}

void TImgView::SetOnFinishWork(const classlib::TNotifyEvent& Handler)
{
    onFinishWork_ = Handler;
    if (io_)
        io_->OnFinishWork = Handler;
    if (proc_)
        proc_->OnFinishWork = Handler;
}

void TImgView::SetOnSaveUndo(const TPxSaveUndoEvent& Handler)
{
    onSaveUndo_ = Handler;
    if (proc_)
        proc_->OnSaveUndo = Handler;
}

// ---- locks

void TImgView::BeginPaintLock() { ++paintLock_; }

int TImgView::EndPaintLock()
{
    if (paintLock_ > 0)
        --paintLock_;
    if (paintLock_ == 0)
        Update();
    return paintLock_;
}

int TImgView::EndPaintLockNoUpdate()
{
    if (paintLock_ > 0)
        --paintLock_;
    return paintLock_;
}

void TImgView::BeginUpdateLock() { ++updateLock_; }

void TImgView::EndUpdateLockNoUpdate()
{
    if (updateLock_ > 0)
        --updateLock_;
}

void TImgView::EndUpdateLock()
{
    EndUpdateLockNoUpdate();
    if (updateLock_ == 0)
        Update();
}

bool TImgView::HasParentWindow() { return GetParent() != nullptr || GetParentWindow() != nullptr; }

void TImgView::WndProc(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case PxMsgImageChanged:
        Update();
        DoImageChange();
        return;
    case PxMsgProgress:
        if (onProgress_)
            onProgress_(this, static_cast<int>(Message.WParam));
        return;
    case PxMsgFinishWork:
        if (onFinishWork_)
            onFinishWork_(this);
        return;
    case PxMsgNewFrame:
        DShowNewFrame(reinterpret_cast<TPxDirectShow*>(Message.LParam));
        return;
    case PxMsgGraphEvent: {
        auto* graph = reinterpret_cast<TPxDirectShow*>(Message.LParam);
        // Only this view's own capture object is trusted as a pointer.
        if (graph && io_ && graph == io_->GetCaptureDevice() && graph->IsConnected() && OnDShowEvent)
            OnDShowEvent(this);
        return;
    }
    case WM_PAINT:
        if (TPxDirectShow* video = RenderingVideo()) {
            classlib::TWindowDC dc(GetHandle());
            video->RepaintVideo(GetHandle(), dc.Get());
        }
        TPxView::WndProc(Message);
        return;
    case WM_ERASEBKGND:
        // The back buffer covers the whole view; erasing would flicker.
        Message.Result = 0;
        return;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        TPxView::WndProc(Message);
        Invalidate();
        return;
    case WM_HSCROLL:
    case WM_VSCROLL:
        TPxView::WndProc(Message);
        ScrollMessage(Message, Message.Msg == WM_HSCROLL);
        return;
    case WM_LBUTTONDBLCLK:
        WMLButtonDblClk(Message);
        return;
    case WM_PALETTECHANGED:
        if (reinterpret_cast<HWND>(Message.WParam) != GetHandle())
            PaletteChanged(false);
        return;
    case CmWantSpecialKey:
        CMWantSpecialKey(Message);
        return;
    case WM_MOUSEWHEEL: {
        TPxView::WndProc(Message);
        POINT p{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
        if (HandleAllocated())
            ::ScreenToClient(GetHandle(), &p);
        if (OnNavigatorWheel) {
            // A view serving as navigator lets the main view zoom first.
            bool handled = false;
            OnNavigatorWheel(this, classlib::MouseKeysToShiftState(GET_KEYSTATE_WPARAM(Message.WParam)),
                             GET_WHEEL_DELTA_WPARAM(Message.WParam), p, handled);
            if (handled)
                return;
        }
        MouseWheelAction(GET_WHEEL_DELTA_WPARAM(Message.WParam), p.x, p.y, (GetKeyState(VK_CONTROL) & 0x8000) != 0);
        return;
    }
    case WM_SIZE:
        TPxView::WndProc(Message);
        if (!inUpdate_) {
            updateReason_ = 4;
            Update();
        }
        return;
    default:
        TPxView::WndProc(Message);
    }
}


// ---- layers

TPxLayer* TImgView::GetLayer(int Index)
{
    if (Index < 0 || Index >= GetLayersCount())
        throw classlib::EListError(L"List index out of bounds (" + std::to_wstring(Index) + L")");
    return layers_[static_cast<size_t>(Index)].get();
}

void TImgView::SetCurrentLayer(int Index)
{
    if (Index < 0 || Index >= GetLayersCount() || Index == currentLayer_)
        return;
    if (currentLayer_ >= 0 && currentLayer_ < GetLayersCount())
        layers_[static_cast<size_t>(currentLayer_)]->Bitmap = currentImage_;
    while (SkipUnselectable && Index > 0 && !layers_[static_cast<size_t>(Index)]->Selectable)
        --Index;
    currentLayer_ = Index;
    TPxLayer* layer = layers_[static_cast<size_t>(Index)].get();
    currentImage_ = layer->Bitmap;
    vclBitmap_ = currentImage_->GetLocation() == pxTBitmap ? currentImage_->GetVclBitmap() : nullptr;
    NotifyBitmapChange();
    Update();
}

int TImgView::AddLayer()
{
    auto layer = std::make_unique<TPxLayer>(this, false, currentImage_);
    TPxBitmap* image = layer->Bitmap;
    layers_.push_back(std::move(layer));
    SetCurrentLayer(GetLayersCount() - 1);
    FillImage(image);
    return GetLayersCount() - 1;
}

void TImgView::RemoveLayer(int Index)
{
    if (GetLayersCount() < 2 || Index < 0 || Index >= GetLayersCount())
        return;
    if (currentLayer_ >= 0 && currentLayer_ < GetLayersCount())
        layers_[static_cast<size_t>(currentLayer_)]->Bitmap = currentImage_;
    const int oldCurrent = currentLayer_;
    // A mask belongs to the layer below it and goes first (never the last
    // two layers together: the list is never empty).
    int removed = 1;
    if (Index + 1 < GetLayersCount() && layers_[static_cast<size_t>(Index + 1)]->IsMask && GetLayersCount() > 2) {
        layers_.erase(layers_.begin() + Index + 1);
        removed = 2;
    }
    layers_.erase(layers_.begin() + Index);
    if (oldCurrent >= Index && oldCurrent < Index + removed) {
        // The current layer went: its image pointer is stale.
        currentLayer_ = -1;
        currentImage_ = nullptr;
        SetCurrentLayer(std::min(Index, GetLayersCount() - 1));
    } else if (oldCurrent > Index) {
        // The same layer stays current at its new index.
        currentLayer_ = -1;
        SetCurrentLayer(oldCurrent - removed);
    }
}

void TImgView::ClearLayers()
{
    if (currentLayer_ >= 0 && currentLayer_ < GetLayersCount())
        layers_[static_cast<size_t>(currentLayer_)]->Bitmap = currentImage_;
    while (GetLayersCount() > 1)
        layers_.pop_back();
    currentLayer_ = -1;
    SetCurrentLayer(0);
    TPxLayer* base = layers_[0].get();
    base->SetDefaults();
    base->ShowBox = false;
    base->Locked = true;
    FillImage(base->Bitmap);
}

void TImgView::UpdateLayersExtent()
{
    if (currentLayer_ >= 0 && currentLayer_ < GetLayersCount())
        layers_[static_cast<size_t>(currentLayer_)]->Bitmap = currentImage_;
    layersW_ = layers_[0]->Bitmap->GetWidth();
    layersH_ = layers_[0]->Bitmap->GetHeight();
    if (!LayersAutoExtent || GetLayersCount() < 2)
        return;
    for (auto& layer : layers_) {
        layersW_ = std::max(layersW_, layer->Bitmap->GetWidth());
        layersH_ = std::max(layersH_, layer->Bitmap->GetHeight());
    }
    const double fill = FillValue(GetBackground());
    for (auto& layer : layers_) {
        TPxBitmap* image = layer->Bitmap;
        if (image->GetWidth() != layersW_ || image->GetHeight() != layersH_) {
            if (!image->HasAlphaChannel() && image->GetWidth() > 0 && image->GetHeight() > 0)
                image->GetAlphaChannel();
            ResizeCanvas(*image, layersW_, layersH_, fill, 0, 0, 0);
        }
        if (image->HasAlphaChannel()) {
            TPxBitmap* alpha = image->GetAlphaChannel();
            if (alpha->GetWidth() != layersW_ || alpha->GetHeight() != layersH_)
                ResizeCanvas(*alpha, layersW_, layersH_, 0, 0, 0, 0);
        }
    }
}

void TImgView::MakeCurrent(int Index)
{
    const bool skip = SkipUnselectable;
    SkipUnselectable = false;
    SetCurrentLayer(Index);
    SkipUnselectable = skip;
}

void TImgView::ApplyLayerSizes(int Index)
{
    const int saved = currentLayer_;
    for (int i = 0; i < GetLayersCount(); ++i) {
        if (Index >= 0 && i != Index)
            continue;
        TPxLayer* layer = layers_[static_cast<size_t>(i)].get();
        if (layer->Width == 0 && layer->Height == 0)
            continue;
        MakeCurrent(i);
        GetProc()->Resample(layer->GetWidth(), layer->GetHeight(),
                            layer->UseResampleFilter ? layer->ResampleFilter : ZoomFilter);
        layer->Width = 0;
        layer->Height = 0;
    }
    MakeCurrent(saved);
}

void TImgView::CropLayersToAlpha(int Index)
{
    if (currentLayer_ >= 0 && currentLayer_ < GetLayersCount())
        layers_[static_cast<size_t>(currentLayer_)]->Bitmap = currentImage_;
    for (int i = 0; i < GetLayersCount(); ++i) {
        if (Index >= 0 && i != Index)
            continue;
        auto proc = TImgProc::CreateForBitmap(layers_[static_cast<size_t>(i)]->Bitmap);
        proc->CropToAlphaBounds();
    }
    Update();
}

void TImgView::ApplyLayerTransforms(int Index)
{
    ApplyLayerSizes(Index);
    const int saved = currentLayer_;
    for (int i = 0; i < GetLayersCount(); ++i) {
        if (Index >= 0 && i != Index)
            continue;
        TPxLayer* layer = layers_[static_cast<size_t>(i)].get();
        if (layer->Rotate == 0)
            continue;
        MakeCurrent(i);
        const int w = layer->GetWidth();
        const int h = layer->GetHeight();
        POINT corners[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
        const int posX = layer->PosX;
        const int posY = layer->PosY;
        currentImage_->GetAlphaChannel();
        GetProc()->Rotate(layer->Rotate, true, 2, static_cast<classlib::TColor>(-1));
        PxRotatePoints(corners, 3, static_cast<int>(classlib::Round(w * layer->RotateCenterX)),
                       static_cast<int>(classlib::Round(h * layer->RotateCenterY)), layer->Rotate);
        LONG minX = corners[0].x, minY = corners[0].y;
        for (const POINT& p : corners) {
            minX = std::min(minX, p.x);
            minY = std::min(minY, p.y);
        }
        layer->PosX = posX + minX;
        layer->PosY = posY + minY;
        layer->Width = 0;
        layer->Height = 0;
        layer->SetRotation(0);
        RECT box;
        PxAlphaBoundingBox(currentImage_, box);
        // Nothing visible: the image is kept as rotated.
        if (box.left <= box.right && box.top <= box.bottom) {
            GetProc()->CropRect(box);
            layer->PosX += box.left;
            layer->PosY += box.top;
        }
    }
    MakeCurrent(saved);
}

bool TImgView::IsPointInLayer(int X, int Y, int Index)
{
    if (Index < 0 || Index >= GetLayersCount())
        return false;
    const TPxLayer& layer = *layers_[static_cast<size_t>(Index)];
    if (!layer.Visible)
        return false;
    if (layer.Rotate != 0)
        return PxPointInPolygon(X, Y, layer.Corners, 3);
    const RECT& r = layer.ScreenRect;
    return X >= r.left && X <= r.right && Y >= r.top && Y <= r.bottom;
}

TPxBitmap* TImgView::GetLayerBitmap(int Index)
{
    if (Index < 0 || Index >= GetLayersCount())
        return nullptr;
    return Index == currentLayer_ ? currentImage_ : layers_[static_cast<size_t>(Index)]->Bitmap;
}

TPxLayerIdentifier TImgView::GetLayerIdentifier(int Index)
{
    TPxLayerIdentifier id;
    static_assert(sizeof(id.Bytes) == sizeof(GUID));
    std::memcpy(id.Bytes, &GetLayer(Index)->Guid, sizeof(GUID));
    return id;
}

void TImgView::LayerSaveToStream(int Index, classlib::TStream* Stream, bool WithBitmap)
{
    if (Index == currentLayer_)
        GetLayer(Index)->Bitmap = currentImage_;
    GetLayer(Index)->SaveToStream(Stream, WithBitmap);
}

void TImgView::LayerLoadFromStream(int Index, classlib::TStream* Stream)
{
    if (Index == currentLayer_)
        GetLayer(Index)->Bitmap = currentImage_;
    GetLayer(Index)->LoadFromStream(Stream);
}

// ---- layers stream

void TImgView::LayersSaveToStream(classlib::TStream* Stream, int Coding)
{
    const int savedCurrent = currentLayer_;
    const bool savedSkip = SkipUnselectable;
    SkipUnselectable = false;
    if (Coding == 1)
        Coding = 8;  // TIFF images go out as PNG
    classlib::TOnExit restore([this, savedCurrent, savedSkip] {
        SetCurrentLayer(savedCurrent);
        SkipUnselectable = savedSkip;
    });

    // Images in a file format are encoded before the header is written: when
    // the format's writer gives nothing for any layer, the stream keeps the
    // images as compressed raw dumps instead of a header that promises
    // images it would not hold.
    std::vector<std::unique_ptr<classlib::TMemoryStream>> encoded;
    if (Coding != -1 && Coding != -2) {
        TImgIO* io = GetIO();
        for (int i = 0; i < GetLayersCount(); ++i) {
            SetCurrentLayer(i);
            switch (currentImage_->GetPixelFormat()) {
            case px1g:
                io->FileParams->BitsPerSample = 1;
                io->FileParams->SamplesPerPixel = 1;
                break;
            case px8g:
                io->FileParams->BitsPerSample = 8;
                io->FileParams->SamplesPerPixel = 1;
                io->FileParams->JPEGColorSpace = 1;
                break;
            default:
                io->FileParams->BitsPerSample = 8;
                io->FileParams->SamplesPerPixel = 3;
                io->FileParams->JPEGColorSpace = 2;
                break;
            }
            auto image = std::make_unique<classlib::TMemoryStream>();
            io->SaveToStream(image.get(), Coding);
            if (io->AbortFlag || image->GetSize() <= 0) {
                encoded.clear();
                Coding = -1;
                break;
            }
            encoded.push_back(std::move(image));
        }
    }

    Stream->WriteBuffer(kLayersMagic, sizeof(kLayersMagic));
    Put<int32_t>(Stream, kLayersVersion);
    Put<int32_t>(Stream, Coding);
    Put<int32_t>(Stream, GetLayersCount());
    std::vector<int64_t> offsetFields;
    for (int i = 0; i < GetLayersCount(); ++i) {
        const TPxLayer& l = *layers_[static_cast<size_t>(i)];
        Put<uint8_t>(Stream, l.Visible);
        Put<uint8_t>(Stream, l.ShowBox);
        Put<int32_t>(Stream, l.Transparency);
        Put<int32_t>(Stream, l.PosX);
        Put<int32_t>(Stream, l.PosY);
        Put<uint8_t>(Stream, l.ClipToBase);
        Put<uint8_t>(Stream, l.Locked);
        Put<uint8_t>(Stream, l.Magnify);
        Put<double>(Stream, l.MagnifyRate);
        Put<uint8_t>(Stream, l.MagnifyShape);
        Put<uint8_t>(Stream, l.MagnifySource);
        Put<uint8_t>(Stream, l.BlendMode);
        Put<int32_t>(Stream, l.Width);
        Put<int32_t>(Stream, l.Height);
        Put<uint8_t>(Stream, static_cast<uint8_t>(l.ResampleFilter));
        Put<uint8_t>(Stream, l.UseResampleFilter);
        PutString(Stream, classlib::WideToAnsi(l.Name));
        PutWideString(Stream, l.Description);
        const int32_t userLen = l.UserData ? std::max(l.UserDataLen, 0) : 0;
        Put<int32_t>(Stream, userLen);
        if (userLen > 0)
            Stream->WriteBuffer(l.UserData, userLen);
        Put<uint8_t>(Stream, l.IsMask);
        Put<uint8_t>(Stream, l.Selectable);
        Put<uint8_t>(Stream, l.DimOutside);
        offsetFields.push_back(Stream->GetPosition());
        Stream->Seek(8, classlib::soCurrent);
    }
    for (int i = 0; i < GetLayersCount(); ++i) {
        const int64_t position = Stream->GetPosition();
        Stream->SetPosition(offsetFields[static_cast<size_t>(i)]);
        Put<uint32_t>(Stream, static_cast<uint32_t>(static_cast<uint64_t>(position) & 0xFFFFFFFFu));
        Put<uint32_t>(Stream, static_cast<uint32_t>(static_cast<uint64_t>(position) >> 32));
        Stream->SetPosition(position);
        SetCurrentLayer(i);
        TPxBitmap* image = currentImage_;
        if (Coding == -1 || Coding == -2) {
            classlib::TMemoryStream temp;
            if (Coding == -1) {
                // The dump is made in memory first (its writer seeks), then
                // deflated; the compression stream is finished before the
                // length is taken.
                classlib::TMemoryStream raw;
                SaveRawToStream(*image, nullptr, 0, &raw);
                classlib::TCompressionStream zip(classlib::zcDefault, &temp);
                if (raw.GetSize() > 0)
                    zip.WriteBuffer(raw.GetMemory(), raw.GetSize());
                zip.Finish();
            } else {
                SaveRawToStream(*image, nullptr, 0, &temp);
            }
            Put<int32_t>(Stream, static_cast<int32_t>(temp.GetSize()));
            if (temp.GetSize() > 0)
                Stream->WriteBuffer(temp.GetMemory(), temp.GetSize());
        } else {
            auto& bytes = *encoded[static_cast<size_t>(i)];
            Stream->WriteBuffer(bytes.GetMemory(), bytes.GetSize());
        }
        Stream->Seek(0, classlib::soEnd);
    }
}

bool TImgView::LayersLoadFromStream(classlib::TStream* Stream)
{
    char magic[13];
    Stream->ReadBuffer(magic, sizeof(magic));
    if (std::memcmp(magic, kLayersMagic, sizeof(magic)) != 0)
        return false;
    const int32_t version = Get<int32_t>(Stream);
    const int32_t coding = Get<int32_t>(Stream);
    const int32_t count = Get<int32_t>(Stream);
    bool result = false;
    // Every property block takes at least 37 bytes: a count that cannot fit
    // is refused before any layer is touched.
    constexpr int64_t kMinBlock = 37;
    if (version > 0 && (count < 0 || static_cast<int64_t>(count) * kMinBlock > Stream->GetSize() - Stream->GetPosition()))
        throw classlib::EReadError(L"Stream read error");
    if (version > 0) {
        for (int i = GetLayersCount() - 1; i > 0; --i)
            RemoveLayer(i);
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                AddLayer();
            TPxLayer& l = *layers_[static_cast<size_t>(currentLayer_)];
            l.Visible = Get<uint8_t>(Stream) != 0;
            l.ShowBox = Get<uint8_t>(Stream) != 0;
            l.Transparency = Get<int32_t>(Stream);
            l.PosX = Get<int32_t>(Stream);
            l.PosY = Get<int32_t>(Stream);
            l.ClipToBase = Get<uint8_t>(Stream) != 0;
            l.Locked = Get<uint8_t>(Stream) != 0;
            l.Magnify = Get<uint8_t>(Stream) != 0;
            l.MagnifyRate = Get<double>(Stream);
            l.MagnifyShape = Get<uint8_t>(Stream);
            if (version >= 3)
                l.MagnifySource = Get<uint8_t>(Stream);
            l.BlendMode = Get<uint8_t>(Stream);
            l.Width = Get<int32_t>(Stream);
            l.Height = Get<int32_t>(Stream);
            if (version >= 3) {
                l.ResampleFilter = static_cast<TResampleFilter>(Get<uint8_t>(Stream));
                l.UseResampleFilter = Get<uint8_t>(Stream) != 0;
                l.Name = classlib::AnsiToWide(GetString(Stream));
                l.Description = GetWideString(Stream);
                const int32_t userLen = GetCount(Stream, 1);
                if (l.UserDataLen > 0)
                    delete[] static_cast<uint8_t*>(l.UserData);
                l.UserData = nullptr;
                l.UserDataLen = 0;
                if (userLen > 0) {
                    auto block = std::make_unique<uint8_t[]>(static_cast<size_t>(userLen));
                    Stream->ReadBuffer(block.get(), userLen);
                    l.UserData = block.release();
                    l.UserDataLen = userLen;
                }
                l.IsMask = Get<uint8_t>(Stream) != 0;
            }
            if (version >= 4)
                l.Selectable = Get<uint8_t>(Stream) != 0;
            if (version >= 6)
                l.DimOutside = Get<uint8_t>(Stream) != 0;
            l.ScreenRect = RECT{0, 0, 0, 0};
            const uint32_t low = Get<uint32_t>(Stream);
            const uint32_t high = Get<uint32_t>(Stream);
            const int64_t after = Stream->GetPosition();
            const int64_t offset = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
            if (offset < 0 || offset > Stream->GetSize())
                throw classlib::EReadError(L"Stream read error");
            Stream->SetPosition(offset);
            const bool skip = SkipUnselectable;
            SkipUnselectable = false;
            SetCurrentLayer(i);
            SkipUnselectable = skip;
            if (coding == -1 || coding == -2) {
                const int32_t length = GetCount(Stream, 1);
                classlib::TMemoryStream temp;
                if (length > 0)
                    temp.CopyFrom(Stream, length);
                temp.SetPosition(0);
                if (coding == -1) {
                    // Inflated into memory first: the dump reader checks its
                    // counts against the bytes left.
                    classlib::TMemoryStream raw;
                    {
                        classlib::TDecompressionStream unzip(&temp);
                        uint8_t chunk[65536];
                        for (;;) {
                            const int64_t got = unzip.Read(chunk, sizeof(chunk));
                            if (got <= 0)
                                break;
                            raw.WriteBuffer(chunk, got);
                        }
                    }
                    raw.SetPosition(0);
                    LoadRawFromStream(*currentImage_, nullptr, 0, &raw);
                } else {
                    LoadRawFromStream(*currentImage_, nullptr, 0, &temp);
                }
            } else {
                TImgIO* io = GetIO();
                const bool native = io->GetNativePixelFormat();
                if (l.IsMask)
                    io->SetNativePixelFormat(true);
                try {
                    io->LoadFromStreamFormat(Stream, coding);
                } catch (...) {
                    io->SetNativePixelFormat(native);
                    throw;
                }
                io->SetNativePixelFormat(native);
            }
            Stream->SetPosition(after);
        }
        result = true;
    }
    if (io_) {
        TPxBitmap* base = GetLayerBitmap(0);
        io_->FileParams->Width = base->GetWidth();
        io_->FileParams->Height = base->GetHeight();
        io_->FileParams->OriginalWidth = base->GetWidth();
        io_->FileParams->OriginalHeight = base->GetHeight();
    }
    Update();
    return result;
}

bool TImgView::LayersLoadFromFile(const std::wstring& FileName)
{
    classlib::TFileStream file(FileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    return LayersLoadFromStream(&file);
}

int TImgView::LoadViewDataFromFile(const std::wstring& FileName, int32_t FileType)
{
    if (FileType != 26)
        return -1;
    return LayersLoadFromFile(FileName) ? 1 : 0;
}

int TImgView::LoadViewDataFromStream(classlib::TStream* Stream, int32_t FileType)
{
    if (FileType != 26)
        return -1;
    return LayersLoadFromStream(Stream) ? 1 : 0;
}

bool PxIsLayersStream(classlib::TStream* Stream)
{
    const int64_t position = Stream->GetPosition();
    uint8_t header[25] = {};
    const int64_t got = Stream->Read(header, sizeof(header));
    Stream->SetPosition(position);
    if (got < static_cast<int64_t>(sizeof(header)) || std::memcmp(header, kLayersMagic, sizeof(kLayersMagic)) != 0)
        return false;
    int32_t version = 0;
    std::memcpy(&version, header + 13, sizeof(version));
    return version > 0;
}

}  // namespace imaging
