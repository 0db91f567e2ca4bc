#include "imaging/views/view/PxGDIPlus.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxGeometry.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStartup.h"

namespace imaging {

namespace {

// ---- the flat GDI+ interface, declared here because the library is loaded
// at run time. Every function is stdcall and returns a status (0 = Ok).

using GpStatus = int;
using GpPath = void*;
using GpMatrix = void*;
using REAL = float;
using ARGB = uint32_t;

// The start-up input record: version 1, no debug callback, background thread
// and external codecs not suppressed.
struct GdiplusStartupInput {
    UINT32 GdiplusVersion;
    void* DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;
};
static_assert(sizeof(GdiplusStartupInput) == 2 * sizeof(void*) + 2 * sizeof(BOOL),
              "the start-up record keeps its pointer-aligned layout");

// An integer point of the *I functions: the same layout as POINT.
static_assert(sizeof(POINT) == 2 * sizeof(INT));

constexpr int kUnitPixel = 2;
constexpr int kFillModeAlternate = 0;
constexpr int kDashStyleSolid = 0;

struct TGdiPlusApi {
    GpStatus(WINAPI* GdiplusStartup)(ULONG_PTR* token, const GdiplusStartupInput* input, void* output);
    void(WINAPI* GdiplusShutdown)(ULONG_PTR token);
    GpStatus(WINAPI* GdipCreateFromHDC)(HDC dc, TGpGraphics* graphics);
    GpStatus(WINAPI* GdipDeleteGraphics)(TGpGraphics graphics);
    GpStatus(WINAPI* GdipSetSmoothingMode)(TGpGraphics graphics, int mode);
    GpStatus(WINAPI* GdipCreatePen1)(ARGB color, REAL width, int unit, TGpPen* pen);
    GpStatus(WINAPI* GdipDeletePen)(TGpPen pen);
    GpStatus(WINAPI* GdipSetPenColor)(TGpPen pen, ARGB color);
    GpStatus(WINAPI* GdipSetPenWidth)(TGpPen pen, REAL width);
    GpStatus(WINAPI* GdipSetPenDashStyle)(TGpPen pen, int style);
    GpStatus(WINAPI* GdipSetPenLineJoin)(TGpPen pen, int join);
    GpStatus(WINAPI* GdipSetPenDashArray)(TGpPen pen, const REAL* dashes, INT count);
    GpStatus(WINAPI* GdipCreateSolidFill)(ARGB color, TGpBrush* brush);
    GpStatus(WINAPI* GdipCreateHatchBrush)(int style, ARGB fore, ARGB back, TGpBrush* brush);
    GpStatus(WINAPI* GdipDeleteBrush)(TGpBrush brush);
    GpStatus(WINAPI* GdipDrawLine)(TGpGraphics graphics, TGpPen pen, REAL x1, REAL y1, REAL x2, REAL y2);
    GpStatus(WINAPI* GdipFillRectangle)(TGpGraphics graphics, TGpBrush brush, REAL x, REAL y, REAL w, REAL h);
    GpStatus(WINAPI* GdipDrawRectangle)(TGpGraphics graphics, TGpPen pen, REAL x, REAL y, REAL w, REAL h);
    GpStatus(WINAPI* GdipFillEllipse)(TGpGraphics graphics, TGpBrush brush, REAL x, REAL y, REAL w, REAL h);
    GpStatus(WINAPI* GdipDrawEllipse)(TGpGraphics graphics, TGpPen pen, REAL x, REAL y, REAL w, REAL h);
    GpStatus(WINAPI* GdipDrawPolygonI)(TGpGraphics graphics, TGpPen pen, const POINT* points, INT count);
    GpStatus(WINAPI* GdipFillPolygonI)(TGpGraphics graphics, TGpBrush brush, const POINT* points, INT count,
                                       int fillMode);
    GpStatus(WINAPI* GdipDrawLinesI)(TGpGraphics graphics, TGpPen pen, const POINT* points, INT count);
    GpStatus(WINAPI* GdipDrawArc)(TGpGraphics graphics, TGpPen pen, REAL x, REAL y, REAL w, REAL h, REAL start,
                                  REAL sweep);
    GpStatus(WINAPI* GdipCreatePath)(int fillMode, GpPath* path);
    GpStatus(WINAPI* GdipAddPathArc)(GpPath path, REAL x, REAL y, REAL w, REAL h, REAL start, REAL sweep);
    GpStatus(WINAPI* GdipAddPathLine)(GpPath path, REAL x1, REAL y1, REAL x2, REAL y2);
    GpStatus(WINAPI* GdipFillPath)(TGpGraphics graphics, TGpBrush brush, GpPath path);
    GpStatus(WINAPI* GdipDrawPath)(TGpGraphics graphics, TGpPen pen, GpPath path);
    GpStatus(WINAPI* GdipDeletePath)(GpPath path);
    GpStatus(WINAPI* GdipSetWorldTransform)(TGpGraphics graphics, GpMatrix matrix);
    GpStatus(WINAPI* GdipGetWorldTransform)(TGpGraphics graphics, GpMatrix matrix);
    GpStatus(WINAPI* GdipResetWorldTransform)(TGpGraphics graphics);
    GpStatus(WINAPI* GdipCreateMatrix)(GpMatrix* matrix);
    GpStatus(WINAPI* GdipCreateMatrix2)(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy, GpMatrix* matrix);
    GpStatus(WINAPI* GdipDeleteMatrix)(GpMatrix matrix);
};

// ---- unit state (user-interface thread)

HMODULE libraryHandle = nullptr;
int loadCount = 0;
ULONG_PTR startupToken = 0;
GdiplusStartupInput startupInput{};
TGdiPlusApi api{};

// Resolves one function; false when the library lacks it.
template <typename F>
bool Resolve(F& target, const char* name)
{
    target = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(libraryHandle, name)));
    return target != nullptr;
}

bool ResolveAll()
{
#define PX_RESOLVE(name) Resolve(api.name, #name)
    return PX_RESOLVE(GdiplusStartup) && PX_RESOLVE(GdiplusShutdown) && PX_RESOLVE(GdipCreateFromHDC) &&
           PX_RESOLVE(GdipDeleteGraphics) && PX_RESOLVE(GdipSetSmoothingMode) && PX_RESOLVE(GdipCreatePen1) &&
           PX_RESOLVE(GdipDeletePen) && PX_RESOLVE(GdipSetPenColor) && PX_RESOLVE(GdipSetPenWidth) &&
           PX_RESOLVE(GdipSetPenDashStyle) && PX_RESOLVE(GdipSetPenLineJoin) && PX_RESOLVE(GdipSetPenDashArray) &&
           PX_RESOLVE(GdipCreateSolidFill) && PX_RESOLVE(GdipCreateHatchBrush) && PX_RESOLVE(GdipDeleteBrush) &&
           PX_RESOLVE(GdipDrawLine) && PX_RESOLVE(GdipFillRectangle) && PX_RESOLVE(GdipDrawRectangle) &&
           PX_RESOLVE(GdipFillEllipse) && PX_RESOLVE(GdipDrawEllipse) && PX_RESOLVE(GdipDrawPolygonI) &&
           PX_RESOLVE(GdipFillPolygonI) && PX_RESOLVE(GdipDrawLinesI) && PX_RESOLVE(GdipDrawArc) &&
           PX_RESOLVE(GdipCreatePath) && PX_RESOLVE(GdipAddPathArc) && PX_RESOLVE(GdipAddPathLine) &&
           PX_RESOLVE(GdipFillPath) && PX_RESOLVE(GdipDrawPath) && PX_RESOLVE(GdipDeletePath) &&
           PX_RESOLVE(GdipSetWorldTransform) && PX_RESOLVE(GdipGetWorldTransform) &&
           PX_RESOLVE(GdipResetWorldTransform) && PX_RESOLVE(GdipCreateMatrix) && PX_RESOLVE(GdipCreateMatrix2) &&
           PX_RESOLVE(GdipDeleteMatrix);
#undef PX_RESOLVE
}

void ReleaseLibrary()
{
    ::FreeLibrary(libraryHandle);
    libraryHandle = nullptr;
    api = TGdiPlusApi{};
}

// The unit runs in the toolkit's first start-up slot. Any user of the canvas
// links this file (and with it this registration).
const TPxStartupRegistration kRegistration(psGDIPlus, PxGDIPlusStartup, PxGDIPlusShutdown);

// Fires the plain canvas's change notifications around a GDI+ drawing, as the
// plain canvas does around its own.
class TChangeScope {
public:
    explicit TChangeScope(classlib::TCanvas* canvas) : canvas_(canvas) { canvas_->Changing(); }
    ~TChangeScope() { canvas_->Changed(); }
    TChangeScope(const TChangeScope&) = delete;
    TChangeScope& operator=(const TChangeScope&) = delete;

private:
    classlib::TCanvas* canvas_;
};

REAL F(int v) { return static_cast<REAL>(v); }

}  // namespace

bool PxGDIPlusAllowed = true;

bool PxGDIPlusIsLoaded() { return libraryHandle != nullptr; }

bool PxGDIPlusEnabled() { return PxGDIPlusAllowed && PxGDIPlusIsLoaded(); }

int PxGDIPlusLoadCount() { return loadCount; }

void PxGDIPlusLoad()
{
    ++loadCount;
    if (libraryHandle || !PxGDIPlusAllowed)
        return;
    libraryHandle = ::LoadLibraryW(L"gdiplus.dll");
    if (!libraryHandle)
        return;
    // A library that lacks a function or does not start is treated as no
    // library: drawing falls back to the plain canvas instead of calling
    // through a null pointer or into an unstarted library.
    if (!ResolveAll()) {
        ReleaseLibrary();
        return;
    }
    startupInput = GdiplusStartupInput{};
    startupInput.GdiplusVersion = 1;
    startupToken = 0;
    if (api.GdiplusStartup(&startupToken, &startupInput, nullptr) != 0)
        ReleaseLibrary();
}

void PxGDIPlusUnload()
{
    --loadCount;
    if (libraryHandle && loadCount <= 0) {
        api.GdiplusShutdown(startupToken);
        startupToken = 0;
        ReleaseLibrary();
    }
}

void PxGDIPlusStartup()
{
    PxGDIPlusAllowed = true;
    libraryHandle = nullptr;
    loadCount = 0;
}

void PxGDIPlusShutdown() {}

// ---------------------------------------------------------------- TPxPen

TPxPen::TPxPen(classlib::TPen* pen)
    : pen_(pen),
      color_(pen->GetColor()),
      width_(static_cast<float>(pen->GetWidth())),
      style_(pen->GetStyle()),
      mode_(pen->GetMode())
{
    if (PxGDIPlusEnabled())
        RecreatePen();
}

TPxPen::~TPxPen()
{
    if (PxGDIPlusEnabled() && gpPen_)
        api.GdipDeletePen(gpPen_);
}

uint32_t TPxPen::GetARGB() const
{
    return PxColorToARGB(color_, style_ == classlib::psClear ? 0 : transparency_);
}

void TPxPen::RecreatePen()
{
    if (!PxGDIPlusEnabled())
        return;
    if (gpPen_) {
        api.GdipDeletePen(gpPen_);
        gpPen_ = nullptr;
    }
    api.GdipCreatePen1(GetARGB(), width_, kUnitPixel, &gpPen_);
    if (!gpPen_)
        throw classlib::Exception(L"Cannot create TPxPen. GdipCreatePen1 failed.");
    SetStyle(style_);
    SetLineJoin(lineJoin_);
}

void TPxPen::SetColor(classlib::TColor value)
{
    color_ = value;
    if (PxGDIPlusEnabled() && gpPen_)
        api.GdipSetPenColor(gpPen_, GetARGB());
    pen_->SetColor(value);
}

void TPxPen::SetTransparency(uint8_t value)
{
    transparency_ = value;
    if (PxGDIPlusEnabled() && gpPen_)
        api.GdipSetPenColor(gpPen_, GetARGB());
}

void TPxPen::SetWidth(float value)
{
    width_ = value;
    if (PxGDIPlusEnabled() && gpPen_)
        api.GdipSetPenWidth(gpPen_, value);
    pen_->SetWidth(static_cast<int>(value));
}

void TPxPen::ApplyDashStyle()
{
    switch (style_) {
    case classlib::psClear:
        api.GdipSetPenColor(gpPen_, GetARGB());
        api.GdipSetPenDashStyle(gpPen_, kDashStyleSolid);
        break;
    case classlib::psInsideFrame:
        api.GdipSetPenDashStyle(gpPen_, kDashStyleSolid);
        break;
    default:  // psSolid .. psDashDotDot share GDI+'s ordinals
        api.GdipSetPenDashStyle(gpPen_, static_cast<int>(style_));
        break;
    }
}

void TPxPen::SetStyle(classlib::TPenStyle value)
{
    style_ = value;
    if (PxGDIPlusEnabled() && gpPen_)
        ApplyDashStyle();
    pen_->SetStyle(value);
}

void TPxPen::SetMode(classlib::TPenMode value)
{
    mode_ = value;
    pen_->SetMode(value);
}

void TPxPen::SetLineJoin(uint8_t value)
{
    lineJoin_ = value;
    if (PxGDIPlusEnabled() && gpPen_)
        api.GdipSetPenLineJoin(gpPen_, value);
}

// ---------------------------------------------------------------- TPxBrush

TPxBrush::TPxBrush(classlib::TBrush* brush) : brush_(brush), color_(brush->GetColor()), style_(brush->GetStyle())
{
    if (PxGDIPlusEnabled())
        RecreateBrush();
}

TPxBrush::~TPxBrush()
{
    if (PxGDIPlusEnabled() && gpBrush_)
        api.GdipDeleteBrush(gpBrush_);
}

uint32_t TPxBrush::GetARGB() const
{
    return PxColorToARGB(color_, style_ == classlib::bsClear ? 0 : transparency_);
}

void TPxBrush::RecreateBrush()
{
    if (!PxGDIPlusEnabled())
        return;
    if (gpBrush_) {
        api.GdipDeleteBrush(gpBrush_);
        gpBrush_ = nullptr;
    }
    if (style_ == classlib::bsSolid || style_ == classlib::bsClear) {
        api.GdipCreateSolidFill(GetARGB(), &gpBrush_);
        if (!gpBrush_)
            throw classlib::Exception(L"Cannot create TPxBrush. GdipCreateSolidFill failed.");
    } else {
        // bsHorizontal .. bsDiagCross map onto GDI+'s first six hatch styles.
        api.GdipCreateHatchBrush(static_cast<int>(style_) - 2, GetARGB(),
                                 PxColorToARGB(backColor_, backTransparency_), &gpBrush_);
        if (!gpBrush_)
            throw classlib::Exception(L"Cannot create TPxBrush. GdipCreateHatchBrush failed.");
    }
}

void TPxBrush::SetColor(classlib::TColor value)
{
    color_ = value;
    RecreateBrush();
    brush_->SetColor(value);
}

void TPxBrush::SetTransparency(uint8_t value)
{
    transparency_ = value;
    RecreateBrush();
}

void TPxBrush::SetStyle(classlib::TBrushStyle value)
{
    style_ = value;
    RecreateBrush();
    brush_->SetStyle(value);
}

// ---------------------------------------------------------------- TPxCanvas

TPxCanvas::TPxCanvas(classlib::TCanvas* canvas, bool antialias, bool useGDIPlus) : canvas_(canvas)
{
    pen_ = std::make_unique<TPxPen>(canvas->GetPen());
    brush_ = std::make_unique<TPxBrush>(canvas->GetBrush());
    useGDIPlus_ = useGDIPlus && PxGDIPlusEnabled();
    if (useGDIPlus_) {
        api.GdipCreateFromHDC(canvas->GetHandle(), &graphics_);
        if (!graphics_)
            throw classlib::Exception(L"Cannot create TPxCanvas. GdipCreateFromHDC failed.");
        // GDI+ smoothing modes: 1 high speed, 4 anti-alias.
        api.GdipSetSmoothingMode(graphics_, antialias ? 4 : 1);
    }
}

TPxCanvas::~TPxCanvas()
{
    brush_.reset();
    pen_.reset();
    if (useGDIPlus_ && graphics_ && PxGDIPlusIsLoaded())
        api.GdipDeleteGraphics(graphics_);
}

HDC TPxCanvas::GetHandle() { return canvas_->GetHandle(); }

void TPxCanvas::SetPenPos(POINT p) { MoveTo(p.x, p.y); }

void TPxCanvas::MoveTo(int x, int y)
{
    penPos_ = POINT{x, y};
    if (!useGDIPlus_)
        canvas_->MoveTo(x, y);
}

void TPxCanvas::LineTo(int x, int y)
{
    if (!useGDIPlus_) {
        canvas_->LineTo(x, y);
        return;
    }
    {
        TChangeScope change(canvas_);
        api.GdipDrawLine(graphics_, pen_->GetGpPen(), F(penPos_.x), F(penPos_.y), F(x), F(y));
    }
    penPos_ = POINT{x, y};
}

void TPxCanvas::DrawLine(int x1, int y1, int x2, int y2)
{
    if (!useGDIPlus_) {
        const POINT points[2] = {{x1, y1}, {x2, y2}};
        canvas_->Polygon(points, 2);
        return;
    }
    TChangeScope change(canvas_);
    api.GdipDrawLine(graphics_, pen_->GetGpPen(), F(x1), F(y1), F(x2), F(y2));
}

void TPxCanvas::FillRect(const RECT& r)
{
    if (!useGDIPlus_) {
        canvas_->FillRect(r);
        return;
    }
    int x1 = r.left, y1 = r.top, x2 = r.right, y2 = r.bottom;
    PxNormalizeRect(x1, y1, x2, y2);
    TChangeScope change(canvas_);
    api.GdipFillRectangle(graphics_, brush_->GetGpBrush(), F(x1), F(y1), F(x2 - x1 - 1), F(y2 - y1 - 1));
}

void TPxCanvas::Rectangle(int x1, int y1, int x2, int y2) { RectangleR(RECT{x1, y1, x2, y2}); }

void TPxCanvas::RectangleR(const RECT& r)
{
    if (!useGDIPlus_) {
        canvas_->Rectangle(r);
        return;
    }
    int x1 = r.left, y1 = r.top, x2 = r.right, y2 = r.bottom;
    PxNormalizeRect(x1, y1, x2, y2);
    TChangeScope change(canvas_);
    api.GdipFillRectangle(graphics_, brush_->GetGpBrush(), F(x1), F(y1), F(x2 - x1 - 1), F(y2 - y1 - 1));
    api.GdipDrawRectangle(graphics_, pen_->GetGpPen(), F(x1), F(y1), F(x2 - x1 - 1), F(y2 - y1 - 1));
}

void TPxCanvas::Ellipse(int x1, int y1, int x2, int y2) { EllipseR(RECT{x1, y1, x2, y2}); }

void TPxCanvas::EllipseR(const RECT& r)
{
    if (!useGDIPlus_) {
        canvas_->Ellipse(r);
        return;
    }
    int x1 = r.left, y1 = r.top, x2 = r.right, y2 = r.bottom;
    if (pen_->GetWidth() != 1.0f) {
        // A box narrower than the pen becomes 2h wide (or high) around its
        // first edge, so that a thick outline stays visible.
        const int h = static_cast<int>(classlib::Round(pen_->GetWidth() / 2.0));
        const auto adjust = [h](int& a1, int& a2) {
            if (a1 > a2)
                a1 += h;
            if (a1 <= a2 && h >= a2 - a1 - 1)
                a2 = a1 + h;
            if (a1 > a2 && h >= a1 - a2 - 1)
                a2 = a1 - h;
        };
        adjust(x1, x2);
        adjust(y1, y2);
        if (x1 == x2 - h)
            x1 -= h;
        if (y1 == y2 - h)
            y1 -= h;
        if (x1 > x2) {
            x1 -= h;
            x2 -= h - 1;
        }
    }
    // A box still reversed is drawn over its mirrored span; one that stays
    // empty (a zero-size box under a pen thinner than 1) draws nothing.
    float x = F(x1), w = F(x2 - x1 - 1), y = F(y1), hgt = F(y2 - y1 - 1);
    if (w < 0) {
        x = F(x2);
        w = F(x1 - x2 - 1);
    }
    if (hgt < 0) {
        y = F(y2);
        hgt = F(y1 - y2 - 1);
    }
    if (w < 0 || hgt < 0)
        return;
    TChangeScope change(canvas_);
    api.GdipFillEllipse(graphics_, brush_->GetGpBrush(), x, y, w, hgt);
    api.GdipDrawEllipse(graphics_, pen_->GetGpPen(), x, y, w, hgt);
}

void TPxCanvas::RoundRect(int x1, int y1, int x2, int y2, int x3, int y3)
{
    if (!useGDIPlus_) {
        canvas_->RoundRect(x1, y1, x2, y2, x3, y3);
        return;
    }
    PxNormalizeRect(x1, y1, x2, y2);
    const int w = x2 - x1, h = y2 - y1;
    // The corner is clipped to the box; a negative corner (whose arcs would
    // stick out of the box) counts as none.
    x3 = std::max(std::min(x3, w), 0);
    y3 = std::max(std::min(y3, h), 0);
    GpPath path = nullptr;
    api.GdipCreatePath(kFillModeAlternate, &path);
    if (!path)
        return;
    api.GdipAddPathArc(path, F(x1), F(y1), F(x3), F(y3), 180, 90);
    api.GdipAddPathArc(path, F(x1 + w - x3), F(y1), F(x3), F(y3), 270, 90);
    api.GdipAddPathArc(path, F(x1 + w - x3), F(y1 + h - y3), F(x3), F(y3), 0, 90);
    api.GdipAddPathArc(path, F(x1), F(y1 + h - y3), F(x3), F(y3), 90, 90);
    api.GdipAddPathLine(path, F(x1), F(y1 + h - y3), F(x1), F(y1) + F(y3) / 2.0f);
    {
        TChangeScope change(canvas_);
        api.GdipFillPath(graphics_, brush_->GetGpBrush(), path);
        api.GdipDrawPath(graphics_, pen_->GetGpPen(), path);
    }
    api.GdipDeletePath(path);
}

void TPxCanvas::Polygon(const POINT* points, int count)
{
    if (!useGDIPlus_) {
        canvas_->Polygon(points, count);
        return;
    }
    if (!points || count <= 0)
        return;
    // Filled first and outlined after, as every other shape: an outline drawn
    // first would lose its inner half under an opaque fill.
    TChangeScope change(canvas_);
    api.GdipFillPolygonI(graphics_, brush_->GetGpBrush(), points, count, kFillModeAlternate);
    api.GdipDrawPolygonI(graphics_, pen_->GetGpPen(), points, count);
}

void TPxCanvas::Polyline(const POINT* points, int count)
{
    if (!useGDIPlus_) {
        canvas_->Polyline(points, count);
        return;
    }
    if (!points || count <= 0)
        return;
    TChangeScope change(canvas_);
    api.GdipDrawLinesI(graphics_, pen_->GetGpPen(), points, count);
}

void TPxCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4)
{
    if (!useGDIPlus_) {
        canvas_->Arc(x1, y1, x2, y2, x3, y3, x4, y4);
        return;
    }
    const int cx = (x1 + x2) / 2, cy = (y1 + y2) / 2;
    constexpr double kDegrees = 180.0 / std::numbers::pi;
    const REAL start = static_cast<REAL>(-PxLineAngle(cx, cy, x4, y4) * kDegrees);
    const REAL sweep = static_cast<REAL>(PxAngleAtVertex(x3, y3, cx, cy, x4, y4) * kDegrees);
    TChangeScope change(canvas_);
    api.GdipDrawArc(graphics_, pen_->GetGpPen(), F(x1), F(y1), F(x2 - x1 + 1), F(y2 - y1 + 1), start, sweep);
}

}  // namespace imaging
