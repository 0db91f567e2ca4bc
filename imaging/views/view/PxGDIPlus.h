// The image toolkit's drawing surface: TPxCanvas draws lines, rectangles,
// ellipses, polygons, arcs, polylines and rounded rectangles anti-aliased
// through the platform's GDI+ library when it is loaded, and through the
// class library's plain canvas (GDI) otherwise or when the caller does not
// ask for GDI+. Text always goes through the plain canvas.
//
// GDI+ is not linked: PxGDIPlusLoad loads "gdiplus.dll" at run time and
// resolves its flat functions by name; PxGDIPlusUnload releases it with the
// last unload. Without the library (or with PxGDIPlusAllowed false) every
// canvas, pen and brush still works, without anti-aliasing and opacity.
//
// Threads: the load count, library handle and start-up token are plain unit
// state used from the user-interface thread. A TPxCanvas (and its pen and
// brush) belongs to the thread that draws with it, lives for one drawing
// pass and must be destroyed before the last PxGDIPlusUnload.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Graphics.h"

namespace imaging {

// Opaque GDI+ objects (owned by the wrappers that create them).
using TGpGraphics = void*;
using TGpPen = void*;
using TGpBrush = void*;

// GDI+ may be used. Start-up sets it true; it is read when a load is
// attempted and by PxGDIPlusEnabled.
extern bool PxGDIPlusAllowed;

// The library is loaded (its handle is not nil).
bool PxGDIPlusIsLoaded();
// PxGDIPlusAllowed and loaded.
bool PxGDIPlusEnabled();
// Counted load: always counts; loads and starts the library when it is not
// loaded and allowed. A failed load leaves the count raised; the next load
// tries again.
void PxGDIPlusLoad();
// Counted unload: always counts down; the unload that brings the count to 0
// (or below) shuts the library down and frees it.
void PxGDIPlusUnload();
// The calls counted so far (loads minus unloads).
int PxGDIPlusLoadCount();
// Unit start-up (run by the toolkit's start-up in its graphics-library slot):
// allowed, not loaded, count 0. The shut-down does nothing.
void PxGDIPlusStartup();
void PxGDIPlusShutdown();

// GDI+ line joins kept by TPxPen.
constexpr uint8_t pxLineJoinMiter = 0;
constexpr uint8_t pxLineJoinBevel = 1;
constexpr uint8_t pxLineJoinRound = 2;
constexpr uint8_t pxLineJoinMiterClipped = 3;

// A pen that mirrors a plain canvas's pen (not owned) and keeps a GDI+ pen in
// step with it while GDI+ is enabled. Transparency is the GDI+ alpha (255
// opaque); a psClear pen has alpha 0 whatever its transparency.
class TPxPen {
public:
    // Takes colour, width, style and mode from the plain pen; transparency
    // 255, line join round. Raises classlib::Exception "Cannot create TPxPen.
    // GdipCreatePen1 failed." when GDI+ is enabled but makes no pen.
    explicit TPxPen(classlib::TPen* pen);
    ~TPxPen();
    TPxPen(const TPxPen&) = delete;
    TPxPen& operator=(const TPxPen&) = delete;

    classlib::TColor GetColor() const { return color_; }
    void SetColor(classlib::TColor value);
    uint8_t GetTransparency() const { return transparency_; }
    void SetTransparency(uint8_t value);
    float GetWidth() const { return width_; }
    // The plain pen gets the width truncated toward zero.
    void SetWidth(float value);
    classlib::TPenStyle GetStyle() const { return style_; }
    // Leaving psClear does not refresh the GDI+ colour; the next SetColor or
    // SetTransparency does.
    void SetStyle(classlib::TPenStyle value);
    classlib::TPenMode GetMode() const { return mode_; }
    // The plain pen's raster operation (GDI+ has none).
    void SetMode(classlib::TPenMode value);
    uint8_t GetLineJoin() const { return lineJoin_; }
    void SetLineJoin(uint8_t value);
    // The plain pen's handle.
    HPEN GetHandle() { return pen_->GetHandle(); }
    void SetHandle(HPEN value) { pen_->SetHandle(value); }

    // 0xAARRGGBB of the GDI+ pen.
    uint32_t GetARGB() const;
    // Replaces the GDI+ pen by a new one of the current attributes.
    void RecreatePen();
    // The GDI+ pen (nullptr when none); owned by this object.
    TGpPen GetGpPen() const { return gpPen_; }

private:
    void ApplyDashStyle();
    classlib::TPen* pen_;
    TGpPen gpPen_ = nullptr;
    classlib::TColor color_;
    uint8_t transparency_ = 255;
    float width_;
    classlib::TPenStyle style_;
    classlib::TPenMode mode_;
    uint8_t lineJoin_ = pxLineJoinRound;
};

// A brush that mirrors a plain canvas's brush (not owned) and keeps a GDI+
// brush in step with it while GDI+ is enabled. Hatch brushes draw their lines
// in the brush colour over a fully transparent background.
class TPxBrush {
public:
    // Takes colour and style from the plain brush; transparency 255. Raises
    // classlib::Exception when GDI+ is enabled but makes no brush.
    explicit TPxBrush(classlib::TBrush* brush);
    ~TPxBrush();
    TPxBrush(const TPxBrush&) = delete;
    TPxBrush& operator=(const TPxBrush&) = delete;

    classlib::TColor GetColor() const { return color_; }
    void SetColor(classlib::TColor value);
    uint8_t GetTransparency() const { return transparency_; }
    void SetTransparency(uint8_t value);
    classlib::TBrushStyle GetStyle() const { return style_; }
    void SetStyle(classlib::TBrushStyle value);
    // Background of hatch brushes: black, fully transparent; fixed.
    classlib::TColor GetBackColor() const { return backColor_; }
    uint8_t GetBackTransparency() const { return backTransparency_; }

    // 0xAARRGGBB of the GDI+ brush's (fore) colour.
    uint32_t GetARGB() const;
    // Replaces the GDI+ brush by a new one of the current attributes.
    void RecreateBrush();
    // The GDI+ brush (nullptr when none); owned by this object.
    TGpBrush GetGpBrush() const { return gpBrush_; }

private:
    classlib::TBrush* brush_;
    TGpBrush gpBrush_ = nullptr;
    classlib::TColor color_;
    uint8_t transparency_ = 255;
    const classlib::TColor backColor_ = 0;
    const uint8_t backTransparency_ = 0;
    classlib::TBrushStyle style_;
};

// A drawing pass over a plain canvas (not owned). With GDI+ the shapes are
// drawn by a GDI+ graphics object bound to the canvas's device context of
// the moment of creation; the plain canvas's change notifications fire around
// every drawing operation either way.
class TPxCanvas {
public:
    // UseGDIPlus is useGDIPlus and PxGDIPlusEnabled. Raises
    // classlib::Exception "Cannot create TPxCanvas. GdipCreateFromHDC
    // failed." when GDI+ makes no graphics object on the device context.
    TPxCanvas(classlib::TCanvas* canvas, bool antialias, bool useGDIPlus);
    ~TPxCanvas();
    TPxCanvas(const TPxCanvas&) = delete;
    TPxCanvas& operator=(const TPxCanvas&) = delete;

    // The plain canvas's device context.
    HDC GetHandle();
    classlib::TCanvas* GetCanvas() const { return canvas_; }
    bool GetUseGDIPlus() const { return useGDIPlus_; }
    TGpGraphics GetGraphics() const { return graphics_; }
    TPxPen* GetPen() const { return pen_.get(); }
    TPxBrush* GetBrush() const { return brush_.get(); }
    classlib::TFont* GetFont() const { return canvas_->GetFont(); }

    POINT GetPenPos() const { return penPos_; }
    void SetPenPos(POINT p);
    void MoveTo(int x, int y);
    // Without GDI+ the plain canvas draws and the stored position stays.
    void LineTo(int x, int y);
    void DrawLine(int x1, int y1, int x2, int y2);

    // Through GDI+ the rectangle shapes cover (right - left - 1) by
    // (bottom - top - 1) pixels from the normalised top-left corner.
    void FillRect(const RECT& r);
    void Rectangle(int x1, int y1, int x2, int y2);
    void RectangleR(const RECT& r);
    void Ellipse(int x1, int y1, int x2, int y2);
    void EllipseR(const RECT& r);
    // (x3, y3): width and height of the corner ellipse, clipped to the box.
    void RoundRect(int x1, int y1, int x2, int y2, int x3, int y3);
    void Polygon(const POINT* points, int count);
    void Polygon(const std::vector<POINT>& points) { Polygon(points.data(), static_cast<int>(points.size())); }
    void Polyline(const POINT* points, int count);
    void Polyline(const std::vector<POINT>& points) { Polyline(points.data(), static_cast<int>(points.size())); }
    // Box, start point and end point, as the plain canvas's Arc.
    void Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);

    // Text, always on the plain canvas.
    int TextWidth(const std::wstring& text) { return canvas_->TextWidth(text); }
    int TextHeight(const std::wstring& text) { return canvas_->TextHeight(text); }
    void TextOut(int x, int y, const std::wstring& text) { canvas_->TextOut(x, y, text); }
    void TextRect(const RECT& r, int x, int y, const std::wstring& text) { canvas_->TextRect(r, x, y, text); }

private:
    classlib::TCanvas* canvas_;
    TGpGraphics graphics_ = nullptr;
    std::unique_ptr<TPxPen> pen_;
    std::unique_ptr<TPxBrush> brush_;
    POINT penPos_{0, 0};
    bool useGDIPlus_ = false;
};

}  // namespace imaging
