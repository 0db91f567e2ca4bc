#include "classlib/Graphics.h"

#include "classlib/Streams.h"

#include <algorithm>
#include <cstring>

namespace classlib {

namespace {

int ScreenPixelsPerInch()
{
    HDC dc = ::GetDC(nullptr);
    int ppi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ::ReleaseDC(nullptr, dc);
    return ppi > 0 ? ppi : 96;
}

}  // namespace

TColor ColorToRGB(TColor Color)
{
    if (Color < 0) return static_cast<TColor>(::GetSysColor(Color & 0xFF));
    return Color;
}

// ------------------------------------------------------------ TGraphicsObject

void TGraphicsObject::Changed() { OnChange(this); }

// ------------------------------------------------------------------- TFont

TFont::TFont() : PixelsPerInch(ScreenPixelsPerInch())
{
    NONCLIENTMETRICSW ncm{};
    ncm.cbSize = sizeof(ncm);
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0) && ncm.lfMessageFont.lfFaceName[0])
        name_ = ncm.lfMessageFont.lfFaceName;
    else
        name_ = L"Tahoma";
    height_ = -::MulDiv(8, PixelsPerInch, 72);
}

TFont::~TFont() { ReleaseHandle(); }

void TFont::ReleaseHandle()
{
    if (handle_) ::DeleteObject(handle_);
    handle_ = nullptr;
}

void TFont::Changed()
{
    // Listeners (a canvas) deselect the old handle before it is deleted.
    HFONT old = handle_;
    handle_ = nullptr;
    TGraphicsObject::Changed();
    if (old) ::DeleteObject(old);
}

void TFont::Assign(const TPersistent* Source)
{
    if (auto* f = dynamic_cast<const TFont*>(Source)) {
        if (f == this) return;
        name_ = f->name_;
        height_ = ::MulDiv(f->height_, PixelsPerInch, f->PixelsPerInch);
        style_ = f->style_;
        color_ = f->color_;
        charset_ = f->charset_;
        pitch_ = f->pitch_;
        orientation_ = f->orientation_;
        quality_ = f->quality_;
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

LOGFONTW TFont::GetLogFont() const
{
    LOGFONTW lf{};
    lf.lfHeight = height_;
    lf.lfEscapement = orientation_;
    lf.lfOrientation = orientation_;
    lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style_ & fsItalic) ? 1 : 0;
    lf.lfUnderline = (style_ & fsUnderline) ? 1 : 0;
    lf.lfStrikeOut = (style_ & fsStrikeOut) ? 1 : 0;
    lf.lfCharSet = charset_;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = quality_;
    lf.lfPitchAndFamily = pitch_ == fpVariable ? VARIABLE_PITCH : pitch_ == fpFixed ? FIXED_PITCH : DEFAULT_PITCH;
    size_t n = std::min<size_t>(name_.size(), LF_FACESIZE - 1);
    std::wmemcpy(lf.lfFaceName, name_.data(), n);
    lf.lfFaceName[n] = 0;
    return lf;
}

void TFont::SetLogFont(const LOGFONTW& Value)
{
    name_ = std::wstring(Value.lfFaceName, wcsnlen(Value.lfFaceName, LF_FACESIZE));
    height_ = Value.lfHeight;
    style_ = 0;
    if (Value.lfWeight >= FW_BOLD) style_ |= fsBold;
    if (Value.lfItalic) style_ |= fsItalic;
    if (Value.lfUnderline) style_ |= fsUnderline;
    if (Value.lfStrikeOut) style_ |= fsStrikeOut;
    charset_ = Value.lfCharSet;
    int pitch = Value.lfPitchAndFamily & 3;
    pitch_ = pitch == VARIABLE_PITCH ? fpVariable : pitch == FIXED_PITCH ? fpFixed : fpDefault;
    orientation_ = Value.lfEscapement;
    quality_ = Value.lfQuality;
    Changed();
}

HFONT TFont::GetHandle()
{
    if (!handle_) {
        LOGFONTW lf = GetLogFont();
        handle_ = ::CreateFontIndirectW(&lf);
    }
    return handle_;
}

void TFont::SetHandle(HFONT Value)
{
    if (Value == handle_) return;
    LOGFONTW lf{};
    bool ok = Value && ::GetObjectW(Value, sizeof(lf), &lf) > 0;
    if (ok) {
        // Take the attributes without creating a second handle.
        name_ = std::wstring(lf.lfFaceName, wcsnlen(lf.lfFaceName, LF_FACESIZE));
        height_ = lf.lfHeight;
        style_ = 0;
        if (lf.lfWeight >= FW_BOLD) style_ |= fsBold;
        if (lf.lfItalic) style_ |= fsItalic;
        if (lf.lfUnderline) style_ |= fsUnderline;
        if (lf.lfStrikeOut) style_ |= fsStrikeOut;
        charset_ = lf.lfCharSet;
        int pitch = lf.lfPitchAndFamily & 3;
        pitch_ = pitch == VARIABLE_PITCH ? fpVariable : pitch == FIXED_PITCH ? fpFixed : fpDefault;
        orientation_ = lf.lfEscapement;
        quality_ = lf.lfQuality;
    }
    Changed();  // deletes the old handle after listeners let go of it
    handle_ = ok ? Value : nullptr;
}

void TFont::SetName(const std::wstring& Value)
{
    if (Value.empty() || Value == name_) return;
    name_ = Value;
    Changed();
}

void TFont::SetHeight(int Value)
{
    if (Value == height_) return;
    height_ = Value;
    Changed();
}

int TFont::GetSize() const { return -::MulDiv(height_, 72, PixelsPerInch); }

void TFont::SetSize(int Value) { SetHeight(-::MulDiv(Value, PixelsPerInch, 72)); }

void TFont::SetStyle(TFontStyles Value)
{
    if (Value == style_) return;
    style_ = Value;
    Changed();
}

void TFont::SetColor(TColor Value)
{
    if (Value == color_) return;
    color_ = Value;
    // The colour is no part of the handle; keep it.
    TGraphicsObject::Changed();
}

void TFont::SetCharset(BYTE Value)
{
    if (Value == charset_) return;
    charset_ = Value;
    Changed();
}

void TFont::SetPitch(TFontPitch Value)
{
    if (Value == pitch_) return;
    pitch_ = Value;
    Changed();
}

void TFont::SetOrientation(int Value)
{
    if (Value == orientation_) return;
    orientation_ = Value;
    Changed();
}

void TFont::SetQuality(BYTE Value)
{
    if (Value == quality_) return;
    quality_ = Value;
    Changed();
}

// -------------------------------------------------------------------- TPen

TPen::TPen() = default;

TPen::~TPen() { ReleaseHandle(); }

void TPen::ReleaseHandle()
{
    if (handle_) ::DeleteObject(handle_);
    handle_ = nullptr;
}

namespace {
// Notifies listeners (which deselect the handle) before deleting it.
template <class H>
void ChangeHandle(H& handle, TGraphicsObject* obj, TNotifyEvent& event)
{
    H old = handle;
    handle = nullptr;
    event(obj);
    if (old) ::DeleteObject(old);
}
}  // namespace

void TPen::Assign(const TPersistent* Source)
{
    if (auto* p = dynamic_cast<const TPen*>(Source)) {
        if (p == this) return;
        color_ = p->color_;
        width_ = p->width_;
        style_ = p->style_;
        mode_ = p->mode_;
        ChangeHandle(handle_, this, OnChange);
        return;
    }
    TPersistent::Assign(Source);
}

HPEN TPen::GetHandle()
{
    if (!handle_) {
        static const int styles[] = {PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME};
        handle_ = ::CreatePen(styles[style_], width_, static_cast<COLORREF>(ColorToRGB(color_)));
    }
    return handle_;
}

void TPen::SetHandle(HPEN Value)
{
    if (Value == handle_) return;
    bool ok = false;
    if (Value) {
        int size = ::GetObjectW(Value, 0, nullptr);
        std::vector<unsigned char> buf(static_cast<size_t>(std::max(size, 0)) + sizeof(EXTLOGPEN));
        if (size == static_cast<int>(sizeof(LOGPEN)) && ::GetObjectW(Value, sizeof(LOGPEN), buf.data()) > 0) {
            LOGPEN lp;
            std::memcpy(&lp, buf.data(), sizeof(lp));
            color_ = static_cast<TColor>(lp.lopnColor);
            width_ = std::max<int>(1, lp.lopnWidth.x);
            style_ = static_cast<TPenStyle>(std::min<UINT>(lp.lopnStyle & PS_STYLE_MASK, psInsideFrame));
            ok = true;
        } else if (size > 0 && ::GetObjectW(Value, size, buf.data()) > 0) {
            EXTLOGPEN ep;
            std::memcpy(&ep, buf.data(), std::min<size_t>(sizeof(ep), static_cast<size_t>(size)));
            color_ = static_cast<TColor>(ep.elpColor);
            width_ = std::max<int>(1, static_cast<int>(ep.elpWidth));
            style_ = static_cast<TPenStyle>(std::min<DWORD>(ep.elpPenStyle & PS_STYLE_MASK, psInsideFrame));
            ok = true;
        }
    }
    ChangeHandle(handle_, this, OnChange);
    handle_ = ok ? Value : nullptr;
}

void TPen::SetColor(TColor Value)
{
    if (Value == color_) return;
    color_ = Value;
    ChangeHandle(handle_, this, OnChange);
}

void TPen::SetWidth(int Value)
{
    if (Value < 0 || Value == width_) return;
    width_ = Value;
    ChangeHandle(handle_, this, OnChange);
}

void TPen::SetStyle(TPenStyle Value)
{
    if (Value == style_) return;
    style_ = Value;
    ChangeHandle(handle_, this, OnChange);
}

void TPen::SetMode(TPenMode Value)
{
    if (Value == mode_) return;
    mode_ = Value;
    OnChange(this);
}

// ------------------------------------------------------------------ TBrush

TBrush::TBrush() = default;

TBrush::~TBrush() { ReleaseHandle(); }

void TBrush::ReleaseHandle()
{
    if (handle_) ::DeleteObject(handle_);
    handle_ = nullptr;
}

void TBrush::Assign(const TPersistent* Source)
{
    if (auto* b = dynamic_cast<const TBrush*>(Source)) {
        if (b == this) return;
        color_ = b->color_;
        style_ = b->style_;
        bitmap_ = b->bitmap_;
        ChangeHandle(handle_, this, OnChange);
        return;
    }
    TPersistent::Assign(Source);
}

}  // namespace classlib

// The pattern brush needs the bitmap's handle.
#include "classlib/Bitmap.h"
#include "classlib/WinHandles.h"

namespace classlib {

HBRUSH TBrush::GetHandle()
{
    if (!handle_) {
        if (bitmap_ && !bitmap_->GetEmpty()) {
            handle_ = ::CreatePatternBrush(bitmap_->GetHandle());
        } else {
            LOGBRUSH lb{};
            lb.lbColor = static_cast<COLORREF>(ColorToRGB(color_));
            switch (style_) {
            case bsSolid: lb.lbStyle = BS_SOLID; break;
            case bsClear: lb.lbStyle = BS_HOLLOW; break;
            default:
                lb.lbStyle = BS_HATCHED;
                lb.lbHatch = static_cast<ULONG_PTR>(style_ - bsHorizontal);  // HS_HORIZONTAL ...
                break;
            }
            handle_ = ::CreateBrushIndirect(&lb);
        }
    }
    return handle_;
}

void TBrush::SetHandle(HBRUSH Value)
{
    if (Value == handle_) return;
    LOGBRUSH lb{};
    bool ok = Value && ::GetObjectW(Value, sizeof(lb), &lb) > 0;
    if (ok) {
        color_ = static_cast<TColor>(lb.lbColor);
        bitmap_ = nullptr;
        if (lb.lbStyle == BS_HOLLOW)
            style_ = bsClear;
        else if (lb.lbStyle == BS_HATCHED && lb.lbHatch <= HS_DIAGCROSS)
            style_ = static_cast<TBrushStyle>(bsHorizontal + lb.lbHatch);
        else
            style_ = bsSolid;
    }
    ChangeHandle(handle_, this, OnChange);
    handle_ = ok ? Value : nullptr;
}

void TBrush::SetColor(TColor Value)
{
    if (Value == color_ && style_ != bsClear) return;
    color_ = Value;
    if (style_ == bsClear) style_ = bsSolid;
    ChangeHandle(handle_, this, OnChange);
}

void TBrush::SetStyle(TBrushStyle Value)
{
    if (Value == style_ && !bitmap_) return;
    style_ = Value;
    bitmap_ = nullptr;
    ChangeHandle(handle_, this, OnChange);
}

void TBrush::SetBitmap(TBitmap* Value)
{
    bitmap_ = Value;
    ChangeHandle(handle_, this, OnChange);
}

// ----------------------------------------------------------------- TCanvas

TCanvas::TCanvas() : font_(new TFont), pen_(new TPen), brush_(new TBrush)
{
    ::InitializeCriticalSection(&lock_);
    font_->OnChange = TNotifyEvent(this, &TCanvas::FontChanged);
    pen_->OnChange = TNotifyEvent(this, &TCanvas::PenChanged);
    brush_->OnChange = TNotifyEvent(this, &TCanvas::BrushChanged);
}

TCanvas::~TCanvas()
{
    SetHandle(nullptr);
    delete font_;
    delete pen_;
    delete brush_;
    ::DeleteCriticalSection(&lock_);
}

HDC TCanvas::GetHandle()
{
    RequiredState(csHandleValid);
    return handle_;
}

void TCanvas::SetHandle(HDC Value)
{
    if (Value == handle_) return;
    DeselectHandles();
    handle_ = Value;
    state_ = Value ? csHandleValid : 0;
    if (Value) {
        POINT p;
        ::GetCurrentPositionEx(Value, &p);
        penPos_ = p;
    }
}

void TCanvas::DeselectHandles()
{
    if (!handle_) return;
    if (oldFont_) ::SelectObject(handle_, oldFont_);
    if (oldPen_) ::SelectObject(handle_, oldPen_);
    if (oldBrush_) ::SelectObject(handle_, oldBrush_);
    oldFont_ = oldPen_ = oldBrush_ = nullptr;
    state_ &= static_cast<TCanvasState>(~(csFontValid | csPenValid | csBrushValid));
}

void TCanvas::Refresh() { DeselectHandles(); }

void TCanvas::RequiredState(TCanvasState Required)
{
    TCanvasState needed = static_cast<TCanvasState>(Required & ~state_);
    if (!needed) return;
    if (needed & csHandleValid) {
        CreateHandle();
        if (!handle_) throw EInvalidOperation(L"Canvas does not allow drawing");
        state_ |= csHandleValid;
    }
    if (needed & csFontValid) CreateFont();
    if (needed & csPenValid) CreatePen();
    if (needed & csBrushValid) CreateBrush();
}

void TCanvas::CreateFont()
{
    HGDIOBJ old = ::SelectObject(handle_, font_->GetHandle());
    if (!oldFont_) oldFont_ = old;
    ::SetTextColor(handle_, static_cast<COLORREF>(ColorToRGB(font_->GetColor())));
    state_ |= csFontValid;
}

void TCanvas::CreatePen()
{
    HGDIOBJ old = ::SelectObject(handle_, pen_->GetHandle());
    if (!oldPen_) oldPen_ = old;
    ::SetROP2(handle_, R2_BLACK + static_cast<int>(pen_->GetMode()));
    state_ |= csPenValid;
}

void TCanvas::CreateBrush()
{
    ::UnrealizeObject(brush_->GetHandle());
    HGDIOBJ old = ::SelectObject(handle_, brush_->GetHandle());
    if (!oldBrush_) oldBrush_ = old;
    if (brush_->GetStyle() == bsSolid && !brush_->GetBitmap()) {
        ::SetBkColor(handle_, static_cast<COLORREF>(ColorToRGB(brush_->GetColor())));
        ::SetBkMode(handle_, OPAQUE);
    } else {
        // Hatches and patterns keep the background colour of the brush and
        // leave the gaps as they are.
        ::SetBkColor(handle_, static_cast<COLORREF>(~ColorToRGB(brush_->GetColor()) & 0xFFFFFF));
        ::SetBkMode(handle_, TRANSPARENT);
    }
    state_ |= csBrushValid;
}

// A changed object is deselected at once (its old handle is deleted right
// after this notification) and selected again by the next drawing.
void TCanvas::FontChanged(TObject*)
{
    if (state_ & csFontValid) {
        state_ &= static_cast<TCanvasState>(~csFontValid);
        if (handle_) ::SelectObject(handle_, ::GetStockObject(SYSTEM_FONT));
    }
}

void TCanvas::PenChanged(TObject*)
{
    if (state_ & csPenValid) {
        state_ &= static_cast<TCanvasState>(~csPenValid);
        if (handle_) ::SelectObject(handle_, ::GetStockObject(BLACK_PEN));
    }
}

void TCanvas::BrushChanged(TObject*)
{
    if (state_ & csBrushValid) {
        state_ &= static_cast<TCanvasState>(~csBrushValid);
        if (handle_) ::SelectObject(handle_, ::GetStockObject(WHITE_BRUSH));
    }
}

void TCanvas::Changing() { OnChanging(this); }
void TCanvas::Changed() { OnChange(this); }

POINT TCanvas::GetPenPos()
{
    RequiredState(csHandleValid);
    POINT p;
    ::GetCurrentPositionEx(handle_, &p);
    return p;
}

void TCanvas::SetPenPos(POINT Value) { MoveTo(Value.x, Value.y); }

void TCanvas::MoveTo(int X, int Y)
{
    RequiredState(csHandleValid);
    ::MoveToEx(handle_, X, Y, nullptr);
    penPos_ = POINT{X, Y};
}

void TCanvas::LineTo(int X, int Y)
{
    Changing();
    RequiredState(csHandleValid | csPenValid | csBrushValid);
    ::LineTo(handle_, X, Y);
    penPos_ = POINT{X, Y};
    Changed();
}

void TCanvas::Rectangle(int X1, int Y1, int X2, int Y2)
{
    Changing();
    RequiredState(csHandleValid | csPenValid | csBrushValid);
    ::Rectangle(handle_, X1, Y1, X2, Y2);
    Changed();
}

void TCanvas::RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3)
{
    Changing();
    RequiredState(csHandleValid | csPenValid | csBrushValid);
    ::RoundRect(handle_, X1, Y1, X2, Y2, X3, Y3);
    Changed();
}

void TCanvas::Ellipse(int X1, int Y1, int X2, int Y2)
{
    Changing();
    RequiredState(csHandleValid | csPenValid | csBrushValid);
    ::Ellipse(handle_, X1, Y1, X2, Y2);
    Changed();
}

void TCanvas::Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4)
{
    Changing();
    RequiredState(csHandleValid | csPenValid | csBrushValid);
    ::Arc(handle_, X1, Y1, X2, Y2, X3, Y3, X4, Y4);
    Changed();
}

void TCanvas::Polygon(const POINT* Points, int Count)
{
    if (!Points || Count <= 0) return;
    Changing();
    RequiredState(csHandleValid | csPenValid | csBrushValid);
    ::Polygon(handle_, Points, Count);
    Changed();
}

void TCanvas::Polyline(const POINT* Points, int Count)
{
    if (!Points || Count <= 0) return;
    Changing();
    RequiredState(csHandleValid | csPenValid | csBrushValid);
    ::Polyline(handle_, Points, Count);
    Changed();
}

void TCanvas::FillRect(const RECT& R)
{
    Changing();
    RequiredState(csHandleValid | csBrushValid);
    ::FillRect(handle_, &R, brush_->GetHandle());
    Changed();
}

void TCanvas::FrameRect(const RECT& R)
{
    Changing();
    RequiredState(csHandleValid | csBrushValid);
    ::FrameRect(handle_, &R, brush_->GetHandle());
    Changed();
}

void TCanvas::DrawFocusRect(const RECT& R)
{
    Changing();
    RequiredState(csHandleValid | csBrushValid);
    ::DrawFocusRect(handle_, &R);
    Changed();
}

void TCanvas::TextOut(int X, int Y, const std::wstring& Text)
{
    Changing();
    RequiredState(csHandleValid | csFontValid | csBrushValid);
    UINT options = brush_->GetStyle() == bsClear ? 0 : ETO_OPAQUE;
    ::ExtTextOutW(handle_, X, Y, options, nullptr, Text.c_str(), static_cast<UINT>(Text.size()), nullptr);
    SIZE sz{};
    ::GetTextExtentPoint32W(handle_, Text.c_str(), static_cast<int>(Text.size()), &sz);
    MoveTo(X + sz.cx, Y);
    Changed();
}

void TCanvas::TextRect(const RECT& R, int X, int Y, const std::wstring& Text)
{
    Changing();
    RequiredState(csHandleValid | csFontValid | csBrushValid);
    UINT options = ETO_CLIPPED;
    if (brush_->GetStyle() != bsClear) options |= ETO_OPAQUE;
    ::ExtTextOutW(handle_, X, Y, options, &R, Text.c_str(), static_cast<UINT>(Text.size()), nullptr);
    Changed();
}

SIZE TCanvas::TextExtent(const std::wstring& Text)
{
    RequiredState(csHandleValid | csFontValid);
    SIZE sz{0, 0};
    ::GetTextExtentPoint32W(handle_, Text.c_str(), static_cast<int>(Text.size()), &sz);
    return sz;
}

void TCanvas::Draw(int X, int Y, TGraphic* Graphic)
{
    if (!Graphic || Graphic->GetEmpty()) return;
    Changing();
    RequiredState(csHandleValid);
    RECT r{X, Y, X + Graphic->GetWidth(), Y + Graphic->GetHeight()};
    Graphic->Draw(this, r);
    Changed();
}

void TCanvas::StretchDraw(const RECT& R, TGraphic* Graphic)
{
    if (!Graphic || Graphic->GetEmpty()) return;
    Changing();
    RequiredState(csHandleValid);
    Graphic->Draw(this, R);
    Changed();
}

void TCanvas::CopyRect(const RECT& Dest, TCanvas* Canvas, const RECT& Source)
{
    if (!Canvas) return;
    Changing();
    RequiredState(csHandleValid | csBrushValid);
    HDC src = Canvas->GetHandle();
    ::StretchBlt(handle_, Dest.left, Dest.top, Dest.right - Dest.left, Dest.bottom - Dest.top, src, Source.left,
                 Source.top, Source.right - Source.left, Source.bottom - Source.top, CopyMode);
    Changed();
}

RECT TCanvas::GetClipRect()
{
    RequiredState(csHandleValid);
    RECT r{0, 0, 0, 0};
    ::GetClipBox(handle_, &r);
    return r;
}

TColor TCanvas::GetPixel(int X, int Y)
{
    RequiredState(csHandleValid);
    ::GdiFlush();
    return static_cast<TColor>(::GetPixel(handle_, X, Y));
}

void TCanvas::SetPixel(int X, int Y, TColor Color)
{
    Changing();
    RequiredState(csHandleValid | csPenValid);
    ::SetPixel(handle_, X, Y, static_cast<COLORREF>(ColorToRGB(Color)));
    Changed();
}

void TCanvas::Lock()
{
    ::EnterCriticalSection(&lock_);
    ++lockCount_;
}

void TCanvas::Unlock()
{
    --lockCount_;
    ::LeaveCriticalSection(&lock_);
}

bool TCanvas::TryLock()
{
    if (!::TryEnterCriticalSection(&lock_)) return false;
    ++lockCount_;
    return true;
}

// ---------------------------------------------------------------- TGraphic

void TGraphic::SetTransparent(bool Value)
{
    if (Value == transparent_) return;
    transparent_ = Value;
    Changed(this);
}

void TGraphic::SetModified(bool Value)
{
    if (Value)
        Changed(this);
    else
        modified_ = false;
}

void TGraphic::Changed(TObject* Sender)
{
    modified_ = true;
    OnChange(Sender);
}

void TGraphic::Progress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const RECT& R,
                        const std::wstring& Msg)
{
    OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

bool TGraphic::Equals(TGraphic* Graphic)
{
    if (!Graphic) return false;
    if (Graphic == this) return true;
    if (Graphic->GetGraphicClass() != GetGraphicClass()) return false;
    if (GetEmpty() || Graphic->GetEmpty()) return GetEmpty() && Graphic->GetEmpty();
    TMemoryStream a, b;
    SaveToStream(&a);
    Graphic->SaveToStream(&b);
    return a.GetSize() == b.GetSize() &&
           std::memcmp(a.GetMemory(), b.GetMemory(), static_cast<size_t>(a.GetSize())) == 0;
}

void TGraphic::AssignTo(TPersistent* Dest) const
{
    auto* bitmap = dynamic_cast<TBitmap*>(Dest);
    if (!bitmap) {
        TPersistent::AssignTo(Dest);
        return;
    }
    auto* self = const_cast<TGraphic*>(this);
    bitmap->Assign(nullptr);
    if (GetEmpty()) return;
    bitmap->SetSize(GetWidth(), GetHeight());
    bitmap->GetCanvas()->Draw(0, 0, self);
}

void TGraphic::LoadFromFile(const std::wstring& FileName)
{
    TFileStream s(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&s);
}

void TGraphic::SaveToFile(const std::wstring& FileName)
{
    TFileStream s(FileName, fmCreate);
    SaveToStream(&s);
}

}  // namespace classlib
