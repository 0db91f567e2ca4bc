// Colours, graphics objects (font, pen, brush), the canvas over a device
// context and the abstract picture class.
//
// Handles of fonts, pens and brushes are created lazily on first use and
// deleted by their owner object; a canvas selects its objects into its device
// context only when they are needed and only again after its own object
// changed, so a caller may select objects into Canvas->GetHandle() itself
// (after SaveDC, before RestoreDC) without the canvas undoing that behind its
// back. All objects here belong to one thread at a time, except that a canvas
// can be locked (Lock/Unlock) by threads that draw on it in turn.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Events.h"
#include "classlib/Exceptions.h"
#include "classlib/Persistent.h"
#include "classlib/Stream.h"

namespace classlib {

// ---------------------------------------------------------------- colours

// A colour: red in the low byte, green in the second and blue in the third.
// Negative values name system colours (0x80000000 | COLOR_xxx index) and are
// resolved by ColorToRGB.
using TColor = int32_t;

constexpr TColor SysColor(int index) { return static_cast<TColor>(0x80000000u | static_cast<uint32_t>(index)); }

constexpr TColor clScrollBar = SysColor(COLOR_SCROLLBAR);
constexpr TColor clBackground = SysColor(COLOR_BACKGROUND);
constexpr TColor clActiveCaption = SysColor(COLOR_ACTIVECAPTION);
constexpr TColor clInactiveCaption = SysColor(COLOR_INACTIVECAPTION);
constexpr TColor clMenu = SysColor(COLOR_MENU);
constexpr TColor clWindow = SysColor(COLOR_WINDOW);
constexpr TColor clWindowFrame = SysColor(COLOR_WINDOWFRAME);
constexpr TColor clMenuText = SysColor(COLOR_MENUTEXT);
constexpr TColor clWindowText = SysColor(COLOR_WINDOWTEXT);
constexpr TColor clCaptionText = SysColor(COLOR_CAPTIONTEXT);
constexpr TColor clActiveBorder = SysColor(COLOR_ACTIVEBORDER);
constexpr TColor clInactiveBorder = SysColor(COLOR_INACTIVEBORDER);
constexpr TColor clAppWorkSpace = SysColor(COLOR_APPWORKSPACE);
constexpr TColor clHighlight = SysColor(COLOR_HIGHLIGHT);
constexpr TColor clHighlightText = SysColor(COLOR_HIGHLIGHTTEXT);
constexpr TColor clBtnFace = SysColor(COLOR_BTNFACE);
constexpr TColor clBtnShadow = SysColor(COLOR_BTNSHADOW);
constexpr TColor clGrayText = SysColor(COLOR_GRAYTEXT);
constexpr TColor clBtnText = SysColor(COLOR_BTNTEXT);
constexpr TColor clInactiveCaptionText = SysColor(COLOR_INACTIVECAPTIONTEXT);
constexpr TColor clBtnHighlight = SysColor(COLOR_BTNHIGHLIGHT);
constexpr TColor cl3DDkShadow = SysColor(COLOR_3DDKSHADOW);
constexpr TColor cl3DLight = SysColor(COLOR_3DLIGHT);
constexpr TColor clInfoText = SysColor(COLOR_INFOTEXT);
constexpr TColor clInfoBk = SysColor(COLOR_INFOBK);
constexpr TColor clHotLight = SysColor(COLOR_HOTLIGHT);
constexpr TColor clGradientActiveCaption = SysColor(COLOR_GRADIENTACTIVECAPTION);
constexpr TColor clGradientInactiveCaption = SysColor(COLOR_GRADIENTINACTIVECAPTION);
constexpr TColor clMenuHighlight = SysColor(COLOR_MENUHILIGHT);
constexpr TColor clMenuBar = SysColor(COLOR_MENUBAR);

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

// "No colour" and "the default colour of the context"; ColorToRGB leaves
// them unchanged.
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// A system colour (negative) becomes GetSysColor of its index; any other
// value is returned unchanged.
TColor ColorToRGB(TColor Color);

// ------------------------------------------------------- graphics objects

class TCanvas;
class TGraphic;
class TBitmap;

// Common base of TFont, TPen and TBrush: OnChange fires after every change.
class TGraphicsObject : public TPersistent {
public:
    std::wstring ClassName() const override { return L"TGraphicsObject"; }
    TNotifyEvent OnChange;

    // True while the object owns a created handle.
    virtual bool HandleAllocated() const = 0;

protected:
    virtual void Changed();
};

// Font styles (bit flags).
using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1;
constexpr TFontStyles fsItalic = 2;
constexpr TFontStyles fsUnderline = 4;
constexpr TFontStyles fsStrikeOut = 8;

enum TFontPitch { fpDefault, fpVariable, fpFixed };

// A logical font. Height < 0 is a character height in pixels, > 0 a cell
// height; Size is the point size derived through PixelsPerInch:
// Height = -MulDiv(Size, PixelsPerInch, 72) and Size = -MulDiv(Height, 72,
// PixelsPerInch). PixelsPerInch is the screen's LOGPIXELSY at construction.
class TFont : public TGraphicsObject {
public:
    TFont();
    ~TFont() override;
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;
    std::wstring ClassName() const override { return L"TFont"; }

    void Assign(const TPersistent* Source) override;

    // The font handle, created on first use; owned by the font.
    HFONT GetHandle();
    // Adopts Value (the font deletes it later) and takes its attributes from
    // its LOGFONT. A zero value drops the handle; it is created anew on use.
    void SetHandle(HFONT Value);
    bool HandleAllocated() const override { return handle_ != nullptr; }

    const std::wstring& GetName() const { return name_; }
    void SetName(const std::wstring& Value);
    int GetHeight() const { return height_; }
    void SetHeight(int Value);
    int GetSize() const;
    void SetSize(int Value);
    TFontStyles GetStyle() const { return style_; }
    void SetStyle(TFontStyles Value);
    TColor GetColor() const { return color_; }
    void SetColor(TColor Value);
    BYTE GetCharset() const { return charset_; }
    void SetCharset(BYTE Value);
    TFontPitch GetPitch() const { return pitch_; }
    void SetPitch(TFontPitch Value);
    // Escapement and orientation in tenths of a degree; quality as LOGFONT.
    int GetOrientation() const { return orientation_; }
    void SetOrientation(int Value);
    BYTE GetQuality() const { return quality_; }
    void SetQuality(BYTE Value);

    // The font as a LOGFONT (lfEscapement = lfOrientation = Orientation).
    LOGFONTW GetLogFont() const;
    // Takes every attribute from a LOGFONT (colour stays).
    void SetLogFont(const LOGFONTW& Value);

    int PixelsPerInch;

protected:
    void Changed() override;

private:
    void ReleaseHandle();
    HFONT handle_ = nullptr;
    std::wstring name_;
    int height_;
    TFontStyles style_ = 0;
    TColor color_ = clWindowText;
    BYTE charset_ = DEFAULT_CHARSET;
    TFontPitch pitch_ = fpDefault;
    int orientation_ = 0;
    BYTE quality_ = DEFAULT_QUALITY;
};

enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
// Raster operations of the pen (SetROP2 codes R2_BLACK + value).
enum TPenMode {
    pmBlack, pmNotMerge, pmMaskNotPen, pmNotCopy, pmMaskPenNot, pmNot, pmXor, pmNotMask,
    pmMask, pmNotXor, pmNop, pmMergeNotPen, pmCopy, pmMergePenNot, pmMerge, pmWhite
};

class TPen : public TGraphicsObject {
public:
    TPen();
    ~TPen() override;
    TPen(const TPen&) = delete;
    TPen& operator=(const TPen&) = delete;
    std::wstring ClassName() const override { return L"TPen"; }

    void Assign(const TPersistent* Source) override;

    // The pen handle, created on first use; owned by the pen.
    HPEN GetHandle();
    // Adopts Value (also geometric pens from ExtCreatePen); colour, width and
    // style are read back from it. Zero drops the handle.
    void SetHandle(HPEN Value);
    bool HandleAllocated() const override { return handle_ != nullptr; }

    TColor GetColor() const { return color_; }
    void SetColor(TColor Value);
    int GetWidth() const { return width_; }
    void SetWidth(int Value);
    TPenStyle GetStyle() const { return style_; }
    void SetStyle(TPenStyle Value);
    // The mode is no part of the handle; the canvas applies it with SetROP2.
    TPenMode GetMode() const { return mode_; }
    void SetMode(TPenMode Value);

private:
    void ReleaseHandle();
    HPEN handle_ = nullptr;
    TColor color_ = clBlack;
    int width_ = 1;
    TPenStyle style_ = psSolid;
    TPenMode mode_ = pmCopy;
};

enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

class TBrush : public TGraphicsObject {
public:
    TBrush();
    ~TBrush() override;
    TBrush(const TBrush&) = delete;
    TBrush& operator=(const TBrush&) = delete;
    std::wstring ClassName() const override { return L"TBrush"; }

    void Assign(const TPersistent* Source) override;

    // The brush handle, created on first use; owned by the brush.
    HBRUSH GetHandle();
    // Adopts Value; colour and style are read back from its LOGBRUSH.
    void SetHandle(HBRUSH Value);
    bool HandleAllocated() const override { return handle_ != nullptr; }

    TColor GetColor() const { return color_; }
    // Setting a colour turns a clear brush solid.
    void SetColor(TColor Value);
    TBrushStyle GetStyle() const { return style_; }
    void SetStyle(TBrushStyle Value);
    // A pattern bitmap (not owned; the caller keeps it alive while the brush
    // uses it). Non-null makes a pattern brush.
    TBitmap* GetBitmap() const { return bitmap_; }
    void SetBitmap(TBitmap* Value);

private:
    void ReleaseHandle();
    HBRUSH handle_ = nullptr;
    TColor color_ = clWhite;
    TBrushStyle style_ = bsSolid;
    TBitmap* bitmap_ = nullptr;
};

// ---------------------------------------------------------------- canvas

using TCanvasState = uint8_t;
constexpr TCanvasState csHandleValid = 1;
constexpr TCanvasState csFontValid = 2;
constexpr TCanvasState csPenValid = 4;
constexpr TCanvasState csBrushValid = 8;

// Drawing on a device context. A plain TCanvas draws on a DC set through
// SetHandle (not owned); subclasses create and free their own DC through
// CreateHandle/FreeHandle.
class TCanvas : public TPersistent {
public:
    TCanvas();
    ~TCanvas() override;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    std::wstring ClassName() const override { return L"TCanvas"; }

    // The DC, made by CreateHandle when there is none; EInvalidOperation
    // "Canvas does not allow drawing" when none can be had.
    HDC GetHandle();
    // Sets a DC that the canvas does not own (0 detaches). The canvas's
    // objects are deselected from the previous DC first.
    void SetHandle(HDC Value);
    bool HandleAllocated() const { return handle_ != nullptr; }

    TFont* GetFont() const { return font_; }
    TPen* GetPen() const { return pen_; }
    TBrush* GetBrush() const { return brush_; }
    // Copy the attributes of Value (the canvas keeps its own objects).
    void SetFont(const TFont* Value) { font_->Assign(Value); }
    void SetPen(const TPen* Value) { pen_->Assign(Value); }
    void SetBrush(const TBrush* Value) { brush_->Assign(Value); }

    // Raster operation of CopyRect, Draw and StretchDraw (default SRCCOPY).
    DWORD CopyMode = SRCCOPY;

    POINT GetPenPos();
    void SetPenPos(POINT Value);
    void MoveTo(int X, int Y);
    void LineTo(int X, int Y);
    void Rectangle(int X1, int Y1, int X2, int Y2);
    void Rectangle(const RECT& R) { Rectangle(R.left, R.top, R.right, R.bottom); }
    void RoundRect(int X1, int Y1, int X2, int Y2, int X3, int Y3);
    void Ellipse(int X1, int Y1, int X2, int Y2);
    void Ellipse(const RECT& R) { Ellipse(R.left, R.top, R.right, R.bottom); }
    void Arc(int X1, int Y1, int X2, int Y2, int X3, int Y3, int X4, int Y4);
    void Polygon(const POINT* Points, int Count);
    void Polygon(const std::vector<POINT>& Points) { Polygon(Points.data(), static_cast<int>(Points.size())); }
    void Polyline(const POINT* Points, int Count);
    void Polyline(const std::vector<POINT>& Points) { Polyline(Points.data(), static_cast<int>(Points.size())); }
    // Fills with the brush (no outline).
    void FillRect(const RECT& R);
    // A one-pixel frame in the brush.
    void FrameRect(const RECT& R);
    void DrawFocusRect(const RECT& R);
    // Text in the font at (X, Y); the background is filled with the brush
    // colour unless the brush is clear. Moves PenPos to the end of the text.
    void TextOut(int X, int Y, const std::wstring& Text);
    // Text clipped to R, the rectangle filled with the brush unless clear.
    void TextRect(const RECT& R, int X, int Y, const std::wstring& Text);
    SIZE TextExtent(const std::wstring& Text);
    int TextWidth(const std::wstring& Text) { return TextExtent(Text).cx; }
    int TextHeight(const std::wstring& Text) { return TextExtent(Text).cy; }
    // Draws Graphic unscaled with its top-left at (X, Y) / scaled into R.
    void Draw(int X, int Y, TGraphic* Graphic);
    void StretchDraw(const RECT& R, TGraphic* Graphic);
    // Copies Source rectangle of Canvas into Dest with CopyMode.
    void CopyRect(const RECT& Dest, TCanvas* Canvas, const RECT& Source);
    // The clip box of the DC in logical coordinates.
    RECT GetClipRect();
    TColor GetPixel(int X, int Y);
    void SetPixel(int X, int Y, TColor Color);

    // Serialises drawing by several threads; recursive.
    void Lock();
    void Unlock();
    bool TryLock();
    int GetLockCount() const { return lockCount_; }

    // Deselects the canvas's objects from the DC and forgets them, so the
    // next drawing selects them again.
    void Refresh();

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;
    // Fire OnChanging before and OnChange after every drawing operation.
    virtual void Changing();
    virtual void Changed();

protected:
    virtual void CreateHandle() {}
    // Makes sure the listed parts of the state are valid.
    void RequiredState(TCanvasState Required);
    // Deselects the canvas's objects from the current DC (if any) and
    // restores the stock objects found there.
    void DeselectHandles();
    TCanvasState state_ = 0;

private:
    void CreateFont();
    void CreatePen();
    void CreateBrush();
    void FontChanged(TObject*);
    void PenChanged(TObject*);
    void BrushChanged(TObject*);

    HDC handle_ = nullptr;
    TFont* font_;
    TPen* pen_;
    TBrush* brush_;
    HGDIOBJ oldFont_ = nullptr, oldPen_ = nullptr, oldBrush_ = nullptr;
    POINT penPos_{0, 0};
    CRITICAL_SECTION lock_;
    int lockCount_ = 0;
};

// ---------------------------------------------------------------- graphics

// Draws with Canvas on a DC it does not own for the life of the scope: the
// canvas is locked and given the DC, and at the end detached from the DC
// (its objects deselected) and unlocked. The DC is not freed.
class TCanvasDCScope {
public:
    TCanvasDCScope(TCanvas* Canvas, HDC DC) : canvas_(Canvas)
    {
        canvas_->Lock();
        canvas_->SetHandle(DC);
    }
    ~TCanvasDCScope()
    {
        canvas_->SetHandle(nullptr);
        canvas_->Unlock();
    }
    TCanvasDCScope(const TCanvasDCScope&) = delete;
    TCanvasDCScope& operator=(const TCanvasDCScope&) = delete;

private:
    TCanvas* canvas_;
};

class TGraphic;

// The class of a picture: its name and a factory that creates an empty
// instance (the caller owns it). Every concrete TGraphic defines one static
// record and returns it from GetGraphicClass; the picture registry (TPicture)
// identifies classes by the record's address.
struct TGraphicClass {
    const wchar_t* Name;
    TGraphic* (*Create)();
};

enum TProgressStage { psStarting, psRunning, psEnding };
using TProgressEvent = TEvent<void(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow,
                                   const RECT& R, const std::wstring& Msg)>;

// An abstract picture: bitmaps, icons, metafiles, GIF images.
class TGraphic : public TPersistent {
public:
    ~TGraphic() override = default;
    std::wstring ClassName() const override { return L"TGraphic"; }
    virtual const TGraphicClass* GetGraphicClass() const = 0;

    virtual bool GetEmpty() const = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual void SetWidth(int Value) = 0;
    virtual void SetHeight(int Value) = 0;

    // Draws the picture scaled into R of the canvas (used by TCanvas::Draw
    // and StretchDraw).
    virtual void Draw(TCanvas* ACanvas, const RECT& R) = 0;

    virtual HPALETTE GetPalette() { return nullptr; }
    virtual void SetPalette(HPALETTE) {}
    bool GetPaletteModified() const { return paletteModified_; }
    virtual void SetPaletteModified(bool Value) { paletteModified_ = Value; }
    virtual bool GetTransparent() const { return transparent_; }
    virtual void SetTransparent(bool Value);
    bool GetModified() const { return modified_; }
    // True calls Changed(this).
    void SetModified(bool Value);

    // Same class and same saved bytes (both empty counts as equal).
    virtual bool Equals(TGraphic* Graphic);

    virtual void LoadFromStream(TStream* Stream) = 0;
    virtual void SaveToStream(TStream* Stream) = 0;
    // Open the file and call LoadFromStream / SaveToStream.
    virtual void LoadFromFile(const std::wstring& FileName);
    virtual void SaveToFile(const std::wstring& FileName);
    // Data handle 0 on load: fetched from the open clipboard.
    virtual void LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette) = 0;
    // Returns a format, a new data handle and a new palette (or 0) that the
    // caller places on the clipboard or frees.
    virtual void SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette) = 0;

    TNotifyEvent OnChange;
    TProgressEvent OnProgress;

    // Sets Modified and fires OnChange (Sender is usually the picture).
    virtual void Changed(TObject* Sender);

protected:
    // A TBitmap destination gets this picture drawn on a white bitmap of its
    // size; any other destination raises the conversion error.
    void AssignTo(TPersistent* Dest) const override;
    virtual void Progress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const RECT& R,
                          const std::wstring& Msg);

    bool paletteModified_ = false;
    bool transparent_ = false;
    bool modified_ = false;
};

}  // namespace classlib
