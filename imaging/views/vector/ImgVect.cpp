#include "imaging/views/vector/ImgVect.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Picture.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/ImgProc.h"

namespace imaging {

const char* const PxUnitNames[8] = {"pixels", "inches", "km", "mt", "cm", "mm", "microns", "nanometers"};

namespace {

struct TRegistryEntry {
    std::string Name;
    TPxCustomObjectFactory Factory;
    // A sample instance, to recognise objects of the class by their type.
    std::unique_ptr<TPxCustomObjectBase> Sample;
};
std::vector<TRegistryEntry>* classRegistry = nullptr;
UINT vectClipboardFormat = 0;
// Ctrl+L, Ctrl+E, Ctrl+R, Ctrl+J, Ctrl+C, Ctrl+X, Ctrl+V, Ctrl+F, Ctrl+B,
// Ctrl+I, Ctrl+U, Ctrl+G as shortcut values (key in the low word, Ctrl flag
// 0x4000); held ready for callers.
uint16_t vectShortcuts[12] = {};

void PxVectStartup()
{
    vectClipboardFormat = ::RegisterClipboardFormatW(L"PXIMAGE VECT");
    const char keys[12] = {'L', 'E', 'R', 'J', 'C', 'X', 'V', 'F', 'B', 'I', 'U', 'G'};
    for (int i = 0; i < 12; ++i)
        vectShortcuts[i] = static_cast<uint16_t>(0x4000 | keys[i]);
    if (!classRegistry)
        classRegistry = new std::vector<TRegistryEntry>();
}

void PxVectShutdown()
{
    delete classRegistry;
    classRegistry = nullptr;
}

const TPxStartupRegistration vectRegistration(psVect, &PxVectStartup, &PxVectShutdown);
const TPxStartupRegistration textCRegistration(psTextC, &PxTextCStartup, &PxTextCShutdown);

// A 60-byte font description from a class-library font.
LOGFONTA LogFontFrom(classlib::TFont* Font)
{
    const LOGFONTW w = Font->GetLogFont();
    LOGFONTA a{};
    std::memcpy(&a, &w, offsetof(LOGFONTW, lfFaceName));
    ::WideCharToMultiByte(CP_ACP, 0, w.lfFaceName, -1, a.lfFaceName, LF_FACESIZE, nullptr, nullptr);
    a.lfFaceName[LF_FACESIZE - 1] = 0;
    return a;
}

}  // namespace

static_assert(sizeof(LOGFONTA) == 60);

void PxRegisterVectObjectClass(const std::string& Name, TPxCustomObjectFactory Factory)
{
    if (!classRegistry)
        classRegistry = new std::vector<TRegistryEntry>();
    classRegistry->push_back(TRegistryEntry{Name, Factory, std::unique_ptr<TPxCustomObjectBase>(Factory())});
}

UINT PxVectClipboardFormat() { return vectClipboardFormat; }

uint16_t PxVectShortcut(int Index) { return Index >= 0 && Index < 12 ? vectShortcuts[Index] : 0; }

TPxCustomObjectBase* PxCreateVectObjectByName(const std::string& Name)
{
    if (!classRegistry)
        return nullptr;
    for (auto& e : *classRegistry)
        if (e.Name == Name)
            return e.Factory();
    return nullptr;
}

std::string PxVectObjectClassName(TPxCustomObjectBase* Object)
{
    if (!classRegistry || !Object)
        return {};
    for (auto& e : *classRegistry)
        if (e.Sample && typeid(*e.Sample) == typeid(*Object))
            return e.Name;
    return {};
}

// ---- construction

TImgVect::TImgVect(classlib::TComponent* Owner) : TImgView(Owner)
{
    textEdit_ = new TPxEdit(this);
    textEdit_->SetVisible(false);
    memoEdit_ = new TPxTextControl(this);
    memoEdit_->SetVisible(false);
    gripImage_ = std::make_unique<classlib::TPicture>();
    GripSize = 5;
    GripShape = 1;
    GripPen = std::make_unique<classlib::TPen>();
    GripPen->SetColor(0);
    GripBrush = std::make_unique<classlib::TBrush>();
    GripBrush->SetColor(0xBAFFFF);
    GripBrush->SetStyle(classlib::bsSolid);
    RubberPen = std::make_unique<classlib::TPen>();
    RubberPen->SetColor(0);
    RubberPen->SetMode(classlib::pmNot);
    // The default object.
    default_ = TPxVectObject();
    default_.PenColor = 0xFFFFFF;
    SetObjBitmapFromIcon(-1, 32513, 64, 64);
    GetCanvas()->GetFont()->SetName(L"Arial");
    SetObjFont(-1, GetCanvas()->GetFont());
    default_.MeasureUnit = mUnit_;
    hintFont_ = std::make_unique<classlib::TFont>();
    hintFont_->SetStyle(classlib::fsBold);
    hintFont_->SetColor(0);
    hintBrush_ = std::make_unique<classlib::TBrush>();
    hintBrush_->SetColor(0x60FFFF);
    hintBrush_->SetStyle(classlib::bsSolid);
    hintBitmap_ = std::make_unique<classlib::TBitmap>();
    timer_ = std::make_unique<classlib::TTimer>(nullptr);
    timer_->SetEnabled(false);
    timer_->SetInterval(50);
    timer_->SetOnTimer(classlib::TNotifyEvent(this, &TImgVect::InteractionTimer));
    ComputeUnitScale(mUnit_);
}

TImgVect::~TImgVect()
{
    destroying_ = true;
    EndTextEdit();
    FreeAllObjects();
    FreeObject(default_);
    selection_.clear();
    objects_.clear();
    bitmaps_.clear();
    ClearObjUndo();
    redo_.clear();
    if (timer_)
        timer_->SetEnabled(false);
}

// ---- handles

int TImgVect::ResolveHandle(int hobj) const
{
    if (hobj == -2)
        return objects_.empty() ? -3 : static_cast<int>(objects_.size()) - 1;
    if (hobj >= 0 && hobj < static_cast<int>(objects_.size()))
        return hobj;
    if (hobj == -1)
        return -1;
    return -3;
}

TPxVectObject* TImgVect::ObjectRecord(int hobj)
{
    const int h = ResolveHandle(hobj);
    if (h == -1)
        return &default_;
    if (h < 0)
        return nullptr;
    return &objects_[static_cast<size_t>(h)];
}

TPxVectObject* TImgVect::CheckedRecord(int hobj) { return ObjectRecord(hobj); }

// ---- storage

int TImgVect::AddObject(const TPxVectObject& Source)
{
    const size_t count = objects_.size();
    if (count % 512 == 0) {
        objects_.reserve(count + 522);
        drawOrder_.reserve(count + 522);
    }
    objects_.push_back(Source);
    const int h = static_cast<int>(count);
    drawOrder_.push_back(h);
    TPxVectObject& r = objects_.back();
    r.BitmapIndex = -1;
    r.HasText = false;
    r.Text.clear();
    r.HasFont = false;
    r.TextPath.clear();
    r.MemoCharFormats.clear();
    r.MemoFormats.clear();
    r.ScreenPoints.clear();
    r.UserData = nullptr;
    r.UserDataLen = 0;
    r.CustomObject = nullptr;
    r.Shadow = Source.Shadow;
    if (r.Kind == pxvoCustom && Source.CustomObject) {
        r.CustomObject = Source.CustomObject->Clone();
        if (r.CustomObject) {
            r.CustomObject->Owner = this;
            r.CustomObject->Record = &objects_.back();
            r.CustomObject->SetHandle(h);
        }
    }
    if (r.Kind == pxvoBitmap || (r.Kind == pxvoMemo && r.MemoHasBitmap))
        SetObjBitmapIndex(h, Source.BitmapIndex);
    TPxVectObject& o = objects_[static_cast<size_t>(h)];
    switch (o.Kind) {
    case pxvoText:
    case pxvoLineLabel:
    case pxvoCustom:
        o.HasText = true;
        o.Text = Source.HasText ? Source.Text : std::string();
        o.HasFont = Source.HasFont;
        o.Font = Source.Font;
        if (!Source.TextPath.empty())
            o.TextPath = Source.TextPath;
        break;
    case pxvoMemo:
        o.HasText = Source.HasText;
        o.Text = Source.Text;
        o.HasFont = Source.HasFont;
        o.Font = Source.Font;
        if (!Source.MemoCharFormats.empty() || (Source.HasText && Source.Text.empty() && !Source.MemoFormats.empty())) {
            o.MemoCharFormats = Source.MemoCharFormats;
            o.MemoCharFormats.resize(o.Text.size(), 0);
            o.MemoFormats = Source.MemoFormats;
        }
        break;
    case pxvoRuler:
    case pxvoAngle:
        o.HasFont = Source.HasFont;
        o.Font = Source.Font;
        break;
    default:
        break;
    }
    if (o.Kind != pxvoLine && o.Kind != pxvoRuler && o.Kind != pxvoPolyline && o.Kind != pxvoLineLabel) {
        if (o.Left > o.Right)
            std::swap(o.Left, o.Right);
        if (o.Top > o.Bottom)
            std::swap(o.Top, o.Bottom);
    }
    if (o.Kind != pxvoPolyline) {
        o.Points.clear();
        o.PointsBounds = RECT{0, 0, 0, 0};
    }
    // Custom objects point at their record: the array may have moved.
    for (auto& rec : objects_)
        if (rec.CustomObject)
            rec.CustomObject->Record = &rec;
    return h;
}

void TImgVect::FreeObject(TPxVectObject& Record)
{
    ReleaseSharedBitmap(Record.BitmapIndex);
    Record.BitmapIndex = -1;
    Record.Name.clear();
    Record.HasFont = false;
    Record.HasText = false;
    Record.Text.clear();
    Record.MemoCharFormats.clear();
    Record.MemoFormats.clear();
    Record.TextPath.clear();
    Record.Points.clear();
    Record.PointsBounds = RECT{0, 0, 0, 0};
    Record.ScreenPoints.clear();
    delete Record.CustomObject;
    Record.CustomObject = nullptr;
    if (Record.UserDataLen > 0)
        delete[] static_cast<uint8_t*>(Record.UserData);
    Record.UserData = nullptr;
    Record.UserDataLen = 0;
}

void TImgVect::FreeAllObjects()
{
    for (int h : drawOrder_)
        if (h >= 0 && h < static_cast<int>(objects_.size()))
            FreeObject(objects_[static_cast<size_t>(h)]);
    drawOrder_.clear();
}

void TImgVect::RemoveAllObjects()
{
    CancelInteraction();
    if (ObjAutoUndo)
        SaveObjUndoAuto();
    FreeAllObjects();
    selection_.clear();
    objects_.clear();
    std::unique_ptr<TPxBitmap> kept;
    if (default_.BitmapIndex >= 0 && default_.BitmapIndex < static_cast<int>(bitmaps_.size()))
        kept = std::move(bitmaps_[static_cast<size_t>(default_.BitmapIndex)].Bitmap);
    bitmaps_.clear();
    default_.BitmapIndex = -1;
    if (kept)
        SetObjBitmap(-1, kept.get());
    drawOrder_.clear();
    DoVectorialChanged();
    Update();
}

void TImgVect::SetObjFont(int hobj, classlib::TFont* Font)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r || !Font)
        return;
    r->Font = LogFontFrom(Font);
    r->HasFont = true;
    r->PenColor = Font->GetColor();
    if (hobj != -1)
        Update();
}

// ---- shared bitmaps

void TImgVect::ReleaseSharedBitmap(int Index)
{
    if (Index < 0 || Index >= static_cast<int>(bitmaps_.size()))
        return;
    TSharedBitmap& e = bitmaps_[static_cast<size_t>(Index)];
    if (e.Count <= 1) {
        e.Bitmap.reset();
        e.Count = 0;
    } else {
        e.Count--;
    }
}

int TImgVect::AllocSharedBitmapSlot()
{
    for (size_t i = 0; i < bitmaps_.size(); ++i)
        if (!bitmaps_[i].Bitmap)
            return static_cast<int>(i);
    bitmaps_.emplace_back();
    return static_cast<int>(bitmaps_.size()) - 1;
}

TPxBitmap* TImgVect::GetSharedBitmap(int Index)
{
    if (Index < 0 || Index >= static_cast<int>(bitmaps_.size()))
        return nullptr;
    return bitmaps_[static_cast<size_t>(Index)].Bitmap.get();
}

int TImgVect::GetSharedBitmapCount(int Index) const
{
    if (Index < 0 || Index >= static_cast<int>(bitmaps_.size()))
        return 0;
    return bitmaps_[static_cast<size_t>(Index)].Count;
}

int TImgVect::FindSharedBitmap(TPxBitmap* Bitmap)
{
    if (!Bitmap)
        return -1;
    for (int i = static_cast<int>(bitmaps_.size()) - 1; i >= 0; --i)
        if (bitmaps_[static_cast<size_t>(i)].Bitmap &&
            PxCompareBitmaps(bitmaps_[static_cast<size_t>(i)].Bitmap.get(), Bitmap))
            return i;
    return -1;
}

void TImgVect::SetObjBitmapIndex(int hobj, int Index)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r)
        return;
    // The entry is read before the object's own entry is released (it may
    // be the same one).
    TPxBitmap* source = GetSharedBitmap(Index);
    std::unique_ptr<TPxBitmap> copy;
    if (source && !ShareBitmaps) {
        copy = std::make_unique<TPxBitmap>();
        copy->Assign(source);
    }
    const bool same = r->BitmapIndex == Index;
    if (!(same && ShareBitmaps && source))
        ReleaseSharedBitmap(r->BitmapIndex);
    else
        bitmaps_[static_cast<size_t>(Index)].Count--;
    r->BitmapIndex = -1;
    if (Index < 0 || !source)
        return;
    if (ShareBitmaps) {
        if (!GetSharedBitmap(Index))
            return;
        r->BitmapIndex = Index;
        bitmaps_[static_cast<size_t>(Index)].Count++;
    } else {
        const int slot = AllocSharedBitmapSlot();
        bitmaps_[static_cast<size_t>(slot)].Bitmap = std::move(copy);
        bitmaps_[static_cast<size_t>(slot)].Count = 1;
        r->BitmapIndex = slot;
    }
}

void TImgVect::SetObjBitmap(int hobj, TPxBitmap* Bitmap)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r)
        return;
    ReleaseSharedBitmap(r->BitmapIndex);
    r->BitmapIndex = -1;
    if (!Bitmap)
        return;
    if (ShareBitmaps) {
        const int found = FindSharedBitmap(Bitmap);
        if (found >= 0) {
            r->BitmapIndex = found;
            bitmaps_[static_cast<size_t>(found)].Count++;
            return;
        }
    }
    const int slot = AllocSharedBitmapSlot();
    auto copy = std::make_unique<TPxBitmap>();
    copy->Assign(Bitmap);
    bitmaps_[static_cast<size_t>(slot)].Bitmap = std::move(copy);
    bitmaps_[static_cast<size_t>(slot)].Count = 1;
    r->BitmapIndex = slot;
}

void TImgVect::SetObjBitmapFromIcon(int hobj, int IconId, int Height, int Width)
{
    if (Width <= 0 || Height <= 0)
        return;
    TPxBitmap bmp;
    if (!bmp.Allocate(Width, Height, px24RGB))
        return;
    bmp.Fill(0xFFFFFF);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = Width;
    bi.bmiHeader.biHeight = -Height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    {
        HDC screen = ::GetDC(nullptr);
        classlib::TOwnedBitmap dib(::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
        classlib::TOwnedDC mem(::CreateCompatibleDC(screen));
        ::ReleaseDC(nullptr, screen);
        if (dib && mem && bits) {
            classlib::TSelectObjectScope select(mem.Get(), dib.Get());
            RECT all{0, 0, Width, Height};
            ::FillRect(mem.Get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            HICON icon = static_cast<HICON>(
                ::LoadImageW(nullptr, MAKEINTRESOURCEW(IconId), IMAGE_ICON, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
            if (icon)
                ::DrawIconEx(mem.Get(), 0, 0, icon, Width, Height, 0, nullptr, DI_NORMAL);
            ::GdiFlush();
            const int stride = ((Width * 3 + 3) / 4) * 4;
            for (int y = 0; y < Height; ++y)
                std::memcpy(bmp.GetScanline(y), static_cast<uint8_t*>(bits) + static_cast<size_t>(y) * stride,
                            static_cast<size_t>(Width) * 3);
        }
    }
    SetObjBitmap(hobj, &bmp);
    if (hobj != -1)
        Update();
}

void TImgVect::SetObjUserData(int hobj, void* Data)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r)
        return;
    r->UserData = Data;
    if (hobj != -1)
        Update();
}

void TImgVect::SetObjUserDataLen(int hobj, int32_t Len)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r)
        return;
    r->UserDataLen = Len;
    if (hobj != -1)
        Update();
}

void TImgVect::AddPolylinePoint(int hobj, int X, int Y)
{
    TPxVectObject* r = ObjectRecord(hobj);
    if (!r)
        return;
    if (!r->Points.empty() && r->Points.back().x == X && r->Points.back().y == Y)
        return;
    r->Points.push_back(POINT{X, Y});
    if (r->Points.size() == 1 && r->Left > r->Right) {
        r->Left = r->Right = X;
        r->Top = r->Bottom = Y;
    }
    r->Left = std::min<int32_t>(r->Left, X);
    r->Top = std::min<int32_t>(r->Top, Y);
    r->Right = std::max<int32_t>(r->Right, X);
    r->Bottom = std::max<int32_t>(r->Bottom, Y);
    r->PointsBounds = RECT{r->Left, r->Top, r->Right, r->Bottom};
}

// ---- selection

void TImgVect::AddSelObjectNoNotify(int hobj)
{
    const int h = ResolveHandle(hobj);
    if (h < 0)
        return;
    if ((objects_[static_cast<size_t>(h)].Options & pxvoptSelectable) && !IsSelObject(h))
        selection_.push_back(h);
}

void TImgVect::AddSelObject(int hobj)
{
    AddSelObjectNoNotify(hobj);
    OnSelectObject(this);
}

bool TImgVect::IsSelObject(int hobj)
{
    const int h = ResolveHandle(hobj);
    return h >= 0 && std::find(selection_.begin(), selection_.end(), h) != selection_.end();
}

void TImgVect::UnSelObject(int hobj)
{
    const int h = ResolveHandle(hobj);
    auto it = std::find(selection_.begin(), selection_.end(), h);
    if (h < 0 || it == selection_.end())
        return;
    selection_.erase(it);
    OnSelectObject(this);
}

void TImgVect::UnSelAllObjectsNoUpdate()
{
    selection_.clear();
    OnSelectObject(this);
}

void TImgVect::UnSelAllObjects()
{
    UnSelAllObjectsNoUpdate();
    Update();
}

void TImgVect::CancelInteraction()
{
    EraseRubber();
    ObjectUnderMouse = -1;
    newKind_ = pxvoNone;
    gripCode_ = 0;
    polylineObject_ = -1;
    angleObject_ = -1;
    dragLength_ = false;
    const bool editing = EditingObject >= 0;
    EndTextEdit();
    if (editing) {
        EditingObject = -1;
        Update();
    }
}

// ---- units and measure settings

void TImgVect::ComputeUnitScale(TPxUnits Unit)
{
    if (Unit == pxuPIXELS) {
        UnitSizeX = UnitSizeY = 1.0;
    } else {
        static const double factor[8] = {1, 1, 2.54 / 100000, 2.54 / 100, 2.54, 2.54 * 10, 2.54 * 10000, 2.54 * 10000000};
        const double f = factor[std::min<int>(Unit, 7)];
        UnitSizeX = 1.0 / std::max(GetDpiX(), 1) * f;
        UnitSizeY = 1.0 / std::max(GetDpiY(), 1) * f;
    }
    UnitSizeX *= measureScale_;
    UnitSizeY *= measureScale_;
}

void TImgVect::SetMUnit(TPxUnits Value)
{
    mUnit_ = Value;
    default_.MeasureUnit = Value;
    ComputeUnitScale(Value);
    RefreshMeasureHint(PxAngleUnset, PxAngleUnset);
}

void TImgVect::SetFloatDigits(int Value)
{
    floatDigits_ = Value;
    RefreshMeasureHint(PxAngleUnset, PxAngleUnset);
}

void TImgVect::SetFloatPrecision(int Value)
{
    floatPrecision_ = Value;
    RefreshMeasureHint(PxAngleUnset, PxAngleUnset);
}

void TImgVect::SetMeasureScale(double Value)
{
    measureScale_ = Value;
    ComputeUnitScale(mUnit_);
    RefreshMeasureHint(PxAngleUnset, PxAngleUnset);
    Update();
}

std::wstring TImgVect::FormatMeasure(double Value) const
{
    return PxFloatToStrF(Value, classlib::ffFixed, floatPrecision_, floatDigits_);
}

void TImgVect::SetObjAntialias(bool Value)
{
    if (Value == objAntialias_)
        return;
    objAntialias_ = Value;
    Update();
}

void TImgVect::SetZoomObjectsWidth(bool Value)
{
    zoomObjectsWidth_ = Value;
    Update();
}

void TImgVect::SetBitmapResampleFilter(TResampleFilter Value)
{
    bitmapResampleFilter_ = Value;
    Update();
}

void TImgVect::SetHighQualityDrawing(bool Value)
{
    highQuality_ = Value;
    Update();
}

void TImgVect::SetObjGripImage(classlib::TPicture* Picture)
{
    gripImage_->Assign(Picture);
    if (gripImage_->GetGraphic())
        GripSize = std::max(gripImage_->GetWidth(), gripImage_->GetHeight()) / 2;
}

RECT TImgVect::GetObjectsExtent()
{
    RECT r{0, 0, 0, 0};
    for (const auto& o : objects_) {
        r.right = std::max<LONG>(r.right, std::max(o.Left, o.Right) + 1);
        r.bottom = std::max<LONG>(r.bottom, std::max(o.Top, o.Bottom) + 1);
    }
    return r;
}

// ---- events

void TImgVect::DoVectorialChanged()
{
    modified_ = true;
    changedOnce_ = false;
    OnVectorialChanged(this);
}

void TImgVect::DoVectorialChangedOnce()
{
    if (!changedOnce_)
        OnVectorialChanged(this);
    changedOnce_ = true;
}

void TImgVect::DoObjectMoveResize(int hobj, int Grip, int& OffsetX, int& OffsetY)
{
    OnObjectMoveResize(this, hobj, Grip, OffsetX, OffsetY);
}
void TImgVect::DoObjectClick(int hobj) { OnObjectClick(this, hobj); }
void TImgVect::DoObjectDblClick(int hobj) { OnObjectDblClick(this, hobj); }
void TImgVect::DoObjectOver(int hobj) { OnObjectOver(this, hobj); }
void TImgVect::DoNewObject(int hobj) { OnNewObject(this, hobj); }
void TImgVect::DoUserSelectObject(int hobj) { OnUserSelectObject(this, hobj); }
void TImgVect::DoUserDeselectObject(int hobj) { OnUserDeselectObject(this, hobj); }

void TImgVect::SetOnTextEditCursorMoved(const classlib::TNotifyEvent& Handler) { memoEdit_->OnCursorMoved = Handler; }
classlib::TNotifyEvent TImgVect::GetOnTextEditCursorMoved() const { return memoEdit_->OnCursorMoved; }

// ---- overrides

void TImgVect::Update()
{
    TImgView::Update();
    ActivateTextEdit();
}

void TImgVect::DoViewChange(int Change)
{
    TImgView::DoViewChange(Change);
    if (IsTextEditing())
        ActivateTextEdit();
}

void TImgVect::OffsetInteractionPoints(int Dx, int Dy)
{
    TImgView::OffsetInteractionPoints(Dx, Dy);
    currentPoint_.x -= Dx;
    currentPoint_.y -= Dy;
}

void TImgVect::SetDpiX(int Value)
{
    TImgView::SetDpiX(Value);
    ComputeUnitScale(mUnit_);
    RefreshMeasureHint(PxAngleUnset, PxAngleUnset);
    Update();
}

void TImgVect::SetDpiY(int Value)
{
    TImgView::SetDpiY(Value);
    ComputeUnitScale(mUnit_);
    RefreshMeasureHint(PxAngleUnset, PxAngleUnset);
    Update();
}

void TImgVect::SetMouseInteract(TPxMouseInteract Value)
{
    TImgView::SetMouseInteract(Value);
    if (Value != 0)
        VectInteract &= (viMeasureArea | viMeasurePerimeter | viNoClickObjects);
    CancelInteraction();
}

void TImgVect::Assign(const classlib::TPersistent* Source)
{
    TImgView::Assign(Source);
    if (!Source) {
        CancelInteraction();
        RemoveAllObjects();
        return;
    }
    if (auto* src = dynamic_cast<const TImgVect*>(Source)) {
        CancelInteraction();
        RemoveAllObjects();
        const_cast<TImgVect*>(src)->CopyObjectsTo(this);
        SetMeasureScale(src->GetMeasureScale());
        DoVectorialChanged();
        Update();
    }
}

void TImgVect::CopyObjectsTo(TImgVect* Destination)
{
    if (!Destination || Destination == this)
        return;
    for (int h : drawOrder_) {
        const TPxVectObject& o = objects_[static_cast<size_t>(h)];
        int slot = -1;
        if (o.Kind == pxvoBitmap || (o.Kind == pxvoMemo && o.MemoHasBitmap)) {
            if (TPxBitmap* b = GetSharedBitmap(o.BitmapIndex)) {
                slot = Destination->AllocSharedBitmapSlot();
                auto copy = std::make_unique<TPxBitmap>();
                copy->Assign(b);
                Destination->bitmaps_[static_cast<size_t>(slot)].Bitmap = std::move(copy);
                Destination->bitmaps_[static_cast<size_t>(slot)].Count = 1;
            }
        }
        TPxVectObject source = o;
        source.BitmapIndex = -1;
        const int nh = Destination->AddObject(source);
        Destination->objects_[static_cast<size_t>(nh)].BitmapIndex = slot;
    }
    Destination->Update();
}

int TImgVect::FindObjectAtScreen(int X, int Y, double& Distance)
{
    return FindObjectAt(ScreenToBitmapX(X), ScreenToBitmapY(Y), false, Distance);
}

// ---- undo

std::unique_ptr<classlib::TMemoryStream> TImgVect::SaveState()
{
    auto s = std::make_unique<classlib::TMemoryStream>();
    SaveToStreamPxV(s.get());
    return s;
}

void TImgVect::SaveObjUndoAuto()
{
    undoSaved_ = ObjAutoUndo;
    if (!ObjAutoUndo)
        return;
    if (ObjUndoMode == pxumSeparated)
        SaveObjUndo();
    else
        GetProc()->SaveUndo(pxuObject);
}

void TImgVect::SaveObjUndo()
{
    if (ObjUndoLimit <= 0)
        return;
    auto s = SaveState();
    while (static_cast<int>(undo_.size()) >= ObjUndoLimit && !undo_.empty())
        undo_.erase(undo_.begin());
    undo_.push_back(std::move(s));
    redo_.clear();
    GetOnSaveUndo()(this, pxuObject);
}

void TImgVect::DiscardLastObjUndo()
{
    if (ObjUndoMode == pxumShared) {
        if (!HasProc())
            return;
        TImgProc* proc = GetProc();
        for (int i = proc->GetUndoCount() - 1; i >= 0; --i)
            if (proc->UndoSourceAt(i) == pxuObject) {
                proc->DiscardUndoAt(i);
                return;
            }
        return;
    }
    if (!undo_.empty())
        undo_.pop_back();
}

void TImgVect::ClearObjUndo() { undo_.clear(); }

classlib::TMemoryStream* TImgVect::GetObjUndoState(int Index)
{
    if (Index < 0 || Index >= static_cast<int>(undo_.size()))
        return nullptr;
    return undo_[static_cast<size_t>(Index)].get();
}

bool TImgVect::ObjUndo()
{
    if (undo_.empty())
        return false;
    CancelInteraction();
    auto current = SaveState();
    std::unique_ptr<classlib::TMemoryStream> state = std::move(undo_.back());
    undo_.pop_back();
    state->SetPosition(0);
    const bool saved = ObjAutoUndo;
    ObjAutoUndo = false;
    bool ok = false;
    try {
        ok = LoadFromStreamPxV(state.get());
    } catch (...) {
        ObjAutoUndo = saved;
        throw;
    }
    ObjAutoUndo = saved;
    if (ok) {
        redo_.push_back(std::move(current));
        DoVectorialChanged();
    }
    return ok;
}

bool TImgVect::ObjRedo()
{
    if (redo_.empty())
        return false;
    CancelInteraction();
    auto current = SaveState();
    std::unique_ptr<classlib::TMemoryStream> state = std::move(redo_.back());
    redo_.pop_back();
    state->SetPosition(0);
    const bool saved = ObjAutoUndo;
    ObjAutoUndo = false;
    const bool ok = LoadFromStreamPxV(state.get());
    ObjAutoUndo = saved;
    if (ok) {
        undo_.push_back(std::move(current));
        DoVectorialChanged();
    }
    return ok;
}

// ---- in-place text editing

void TImgVect::StartTextEdit()
{
    TPxVectObject* r = EditingObject >= 0 ? ObjectRecord(EditingObject) : nullptr;
    if (!r || !r->TextEditable || (r->Kind != pxvoText && r->Kind != pxvoMemo)) {
        EditingObject = -1;
        return;
    }
    const LANGID lang = PRIMARYLANGID(::GetUserDefaultLangID());
    const BYTE charset = lang == 8 ? 161 : lang == 25 ? 204 : GetFont()->GetCharset();
    if (r->Kind == pxvoText) {
        editSavedText_ = r->Text;
        textEdit_->SetParent(this);
        ActivateTextEdit();
        GetFont()->SetCharset(charset);
        textEdit_->OnKeyDown = TPxKeyEvent(this, &TImgVect::EditKeyPress);
        textEdit_->OnChange = classlib::TNotifyEvent(this, &TImgVect::EditTextChanged);
        std::wstring w;
        if (!r->Text.empty()) {
            const int n = ::MultiByteToWideChar(CP_ACP, 0, r->Text.data(), static_cast<int>(r->Text.size()), nullptr, 0);
            w.resize(static_cast<size_t>(std::max(n, 0)));
            if (n > 0)
                ::MultiByteToWideChar(CP_ACP, 0, r->Text.data(), static_cast<int>(r->Text.size()), w.data(), n);
        }
        textEdit_->SetText(w);
        textEdit_->SetVisible(true);
        if (textEdit_->HandleAllocated() && ::IsWindowVisible(textEdit_->GetHandle()) && textEdit_->CanFocus())
            textEdit_->SetFocus();
        OnActivateTextEdit(this);
    } else {
        editSavedText_ = r->Text;
        memoSaved_ = std::make_unique<TPxVectObject>();
        memoSaved_->Text = r->Text;
        memoSaved_->MemoCharFormats = r->MemoCharFormats;
        memoSaved_->MemoFormats = r->MemoFormats;
        memoEdit_->Background = GetBackBufferBitmap();
        memoEdit_->SetParent(this);
        ActivateTextEdit();
        GetFont()->SetCharset(charset);
        memoEdit_->OnKeyDown = TPxKeyEvent(this, &TImgVect::MemoKeyPress);
        memoEdit_->TextBuf = std::move(r->Text);
        memoEdit_->Formats = std::move(r->MemoFormats);
        memoEdit_->CharFormats = std::move(r->MemoCharFormats);
        r->Text.clear();
        r->MemoFormats.clear();
        r->MemoCharFormats.clear();
        memoEdit_->InitText();
        memoEdit_->SetVisible(true);
        if (memoEdit_->HandleAllocated() && ::IsWindowVisible(memoEdit_->GetHandle()) && memoEdit_->CanFocus())
            memoEdit_->SetFocus();
        OnActivateTextEdit(this);
    }
}

void TImgVect::ActivateTextEdit()
{
    if (EditingObject < 0)
        return;
    TPxVectObject* r = ObjectRecord(EditingObject);
    if (!r)
        return;
    const int x1 = BitmapToScreenX(r->Left), y1 = BitmapToScreenY(r->Top);
    const int x2 = BitmapToScreenX(r->Right), y2 = BitmapToScreenY(r->Bottom);
    if (r->Kind == pxvoText) {
        textEdit_->SetBounds(x1, y1, x2 - x1, y2 - y1);
        classlib::TFont* f = textEdit_->GetFont();
        f->SetColor(r->PenColor);
        textEdit_->SetColor(r->BrushStyle != classlib::bsSolid ? GetBackground() : r->BrushColor);
        if (r->HasFont) {
            const int h = r->Font.lfHeight != 0 ? static_cast<int>(classlib::Trunc(r->Font.lfHeight * GetZoomY() / 100))
                                                : (y2 - y1);
            f->SetHeight(h);
            wchar_t face[LF_FACESIZE] = {};
            ::MultiByteToWideChar(CP_ACP, 0, r->Font.lfFaceName, -1, face, LF_FACESIZE);
            f->SetName(face);
            f->SetStyle(static_cast<classlib::TFontStyles>((r->Font.lfWeight >= 700 ? classlib::fsBold : 0) |
                                                           (r->Font.lfItalic ? classlib::fsItalic : 0) |
                                                           (r->Font.lfUnderline ? classlib::fsUnderline : 0) |
                                                           (r->Font.lfStrikeOut ? classlib::fsStrikeOut : 0)));
        }
    } else if (r->Kind == pxvoMemo) {
        memoEdit_->SetBounds(x1, y1, x2 - x1 + 1, y2 - y1 + 1);
        std::copy(r->MemoMargins, r->MemoMargins + 4, memoEdit_->Margins);
        classlib::TFont* f = memoEdit_->TextFont.get();
        if (r->HasFont) {
            wchar_t face[LF_FACESIZE] = {};
            ::MultiByteToWideChar(CP_ACP, 0, r->Font.lfFaceName, -1, face, LF_FACESIZE);
            f->SetName(face);
            f->SetHeight(r->Font.lfHeight);
            f->SetStyle(static_cast<classlib::TFontStyles>((r->Font.lfWeight >= 700 ? classlib::fsBold : 0) |
                                                           (r->Font.lfItalic ? classlib::fsItalic : 0) |
                                                           (r->Font.lfUnderline ? classlib::fsUnderline : 0) |
                                                           (r->Font.lfStrikeOut ? classlib::fsStrikeOut : 0)));
        }
        f->SetColor(r->PenColor);
        memoEdit_->TextBrush->SetColor(r->BrushColor);
        memoEdit_->TextBrush->SetStyle(r->MemoBrushStyle);
        memoEdit_->Alignment = r->TextAlign;
        memoEdit_->BoxBrush->SetColor(r->BrushColor);
        memoEdit_->BoxBrush->SetStyle(r->BrushStyle);
        memoEdit_->SetFixedFont(r->MemoFixedFont);
        memoEdit_->AutoHeight = r->TextAutoSize;
        memoEdit_->LineSpacing = r->MemoLineGap;
        memoEdit_->BorderPen->SetColor(r->MemoBorderColor);
        memoEdit_->BorderPen->SetStyle(r->MemoBorderStyle);
        memoEdit_->LineHeight = r->MemoLineHeight;
        memoEdit_->Zoom = GetZoomY() / 100;
    }
}

void TImgVect::EditTextChanged(classlib::TObject*)
{
    TPxVectObject* r = ObjectRecord(EditingObject);
    if (!r || !r->TextAutoSize)
        return;
    classlib::TCanvas* c = GetCanvas();
    c->GetFont()->Assign(textEdit_->GetFont());
    const int w = c->TextWidth(textEdit_->GetText());
    textEdit_->SetWidth(w);
    r->Right = r->Left + static_cast<int>(classlib::Trunc((w + c->TextWidth(L"M")) / (GetZoomX() / 100)));
    Update();
}

void TImgVect::EditKeyPress(classlib::TObject* Sender, WORD& Key, classlib::TShiftState Shift)
{
    OnTextKeyDown(Sender, Key, Shift);
    if (Key == VK_RETURN) {
        Key = 0;
        CancelInteraction();
        DoVectorialChanged();
    } else if (Key == VK_ESCAPE) {
        Key = 0;
        // The text goes back to what it was when editing began.
        std::wstring w;
        if (!editSavedText_.empty()) {
            const int n = ::MultiByteToWideChar(CP_ACP, 0, editSavedText_.data(),
                                                static_cast<int>(editSavedText_.size()), nullptr, 0);
            w.resize(static_cast<size_t>(std::max(n, 0)));
            if (n > 0)
                ::MultiByteToWideChar(CP_ACP, 0, editSavedText_.data(), static_cast<int>(editSavedText_.size()),
                                      w.data(), n);
        }
        textEdit_->SetText(w);
        CancelInteraction();
    }
}

void TImgVect::MemoKeyPress(classlib::TObject* Sender, WORD& Key, classlib::TShiftState Shift)
{
    OnTextKeyDown(Sender, Key, Shift);
    if (Key == VK_ESCAPE) {
        Key = 0;
        // The memo goes back to its text and formats as editing began.
        if (memoSaved_) {
            memoEdit_->TextBuf = memoSaved_->Text;
            memoEdit_->Formats = memoSaved_->MemoFormats;
            memoEdit_->CharFormats = memoSaved_->MemoCharFormats;
        }
        CancelInteraction();
    }
}

void TImgVect::EndTextEdit()
{
    if (EditingObject < 0)
        return;
    TPxVectObject* r = ObjectRecord(EditingObject);
    if (!r)
        return;
    if (r->Kind == pxvoText) {
        const std::wstring w = textEdit_->GetText();
        std::string a;
        if (!w.empty()) {
            const int n = ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                                                nullptr);
            a.resize(static_cast<size_t>(std::max(n, 0)));
            if (n > 0)
                ::WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), a.data(), n, nullptr, nullptr);
        }
        r->Text = a;
        r->HasText = true;
        if (!destroying_ && r->TextAutoSize) {
            classlib::TCanvas* c = GetCanvas();
            c->GetFont()->Assign(textEdit_->GetFont());
            r->Right = r->Left + static_cast<int>(classlib::Trunc(c->TextWidth(w) / (GetZoomX() / 100)));
        }
        textEdit_->OnChange = classlib::TNotifyEvent();
        textEdit_->OnKeyDown = TPxKeyEvent();
        textEdit_->SetVisible(false);
        OnDeactivateTextEdit(this);
    } else if (r->Kind == pxvoMemo) {
        memoEdit_->RemoveUnusedFormats();
        if (!destroying_ && r->TextAutoSize)
            r->Bottom = r->Top + static_cast<int>(classlib::Trunc(memoEdit_->GetClientHeight() / (GetZoomY() / 100)));
        r->Text = std::move(memoEdit_->TextBuf);
        r->HasText = true;
        r->MemoFormats = std::move(memoEdit_->Formats);
        r->MemoCharFormats = std::move(memoEdit_->CharFormats);
        memoEdit_->TextBuf.clear();
        memoEdit_->Formats.clear();
        memoEdit_->CharFormats.clear();
        memoEdit_->OnKeyDown = TPxKeyEvent();
        memoEdit_->Background = nullptr;
        memoEdit_->SetVisible(false);
        memoSaved_.reset();
        OnDeactivateTextEdit(this);
    }
    const int editing = EditingObject;
    EditingObject = -1;
    if (!destroying_) {
        if (HandleAllocated() && CanFocus() && ::IsWindowVisible(GetHandle()))
            SetFocus();
        DoVectorialChanged();
    }
    EditingObject = editing;
}

// ---- keyboard and window messages

void TImgVect::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    if (Key == VK_ESCAPE) {
        EndTextEdit();
        EditingObject = -1;
    } else if (Key == VK_F2 && !selection_.empty()) {
        TPxVectObject* r = ObjectRecord(selection_.front());
        if (r && (r->Kind == pxvoText || r->Kind == pxvoMemo)) {
            EditingObject = selection_.front();
            StartTextEdit();
        }
    }
    TImgView::KeyDown(Key, Shift);
}

void TImgVect::WndProc(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case WM_GETDLGCODE:
        Message.Result = 129;
        return;
    case WM_SIZE:
        TImgView::WndProc(Message);
        CancelInteraction();
        Update();
        return;
    case WM_SETFOCUS:
        TImgView::WndProc(Message);
        if (EditingObject >= 0) {
            TPxVectObject* r = ObjectRecord(EditingObject);
            classlib::TWinControl* ed = r && r->Kind == pxvoMemo ? static_cast<classlib::TWinControl*>(memoEdit_)
                                                                 : static_cast<classlib::TWinControl*>(textEdit_);
            if (ed->GetVisible() && ed->HandleAllocated() && ed->CanFocus())
                ed->SetFocus();
        }
        Invalidate();
        return;
    case WM_KILLFOCUS:
        TImgView::WndProc(Message);
        Invalidate();
        return;
    case WM_KEYDOWN:
        TImgView::WndProc(Message);
        if (selection_.size() == 1) {
            TPxVectObject* r = ObjectRecord(selection_.front());
            if (r && r->Kind == pxvoCustom && r->CustomObject) {
                classlib::TShiftState s = 0;
                if (::GetKeyState(VK_SHIFT) < 0)
                    s |= classlib::ssShift;
                if (::GetKeyState(VK_CONTROL) < 0)
                    s |= classlib::ssCtrl;
                if (::GetKeyState(VK_MENU) < 0)
                    s |= classlib::ssAlt;
                r->CustomObject->KeyDown(static_cast<WORD>(Message.WParam), s);
            }
        }
        return;
    default:
        TImgView::WndProc(Message);
    }
}

}  // namespace imaging
