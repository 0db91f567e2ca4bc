// TImgView: the single-image view, and the holder of one image with the
// objects that load, save and process it.
//
// The image is kept as a stack of layers (TPxLayer, owned, never empty);
// the current image is the image of the current layer. The view works
// without a window: created without a parent it keeps every operation
// except painting, which is how batch code uses it as an off-screen image
// holder (load through GetIO, process through GetProc, save through GetIO).
//
// Ownership: the view owns its layers (and through them their images), the
// class-library bitmap of layer 0, and the I/O and processing objects it
// creates on first request (GetIO, GetProc; both are also its components).
// A caller's image shown by SetExternalBitmap stays the caller's and must
// outlive its use.
//
// The current image changes object only through SetLegacyBitmap,
// SetExternalBitmap (with an image) and SetCurrentLayer; each calls
// NotifyBitmapChange so that attached objects take the new image.
//
// Threads: main thread only. Workers of the I/O object reach the view only
// through the window messages PxMsgImageChanged, PxMsgProgress and
// PxMsgFinishWork (ImgIOView.h), handled when the message loop dispatches
// them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/StdCtrls.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/ImgProcView.h"
#include "imaging/views/view/ImgViewSelection.h"
#include "imaging/views/view/PxLayer.h"
#include "imaging/views/view/PxView.h"

namespace classlib {
class TBitmap;
class TPicture;
class TStream;
class TTimer;
}  // namespace classlib

namespace imaging {

class TImgIO;
class TImgProc;
class TPxDirectShow;
struct TPxRenderClip;

enum TPxBackgroundStyle : uint8_t {
    pxbsSolid,
    pxbsHorizontal,
    pxbsVertical,
    pxbsFDiagonal,
    pxbsBDiagonal,
    pxbsCross,
    pxbsDiagCross,
    pxbsChessboard,
    pxbsDiagonals,
    pxbsCropped,
    pxbsCropShadow,
    pxbsGradient,
    pxbsSoftShadow,
    pxbsPhotoLike
};
enum TPxWallPaperStyle : uint8_t { pxwoNormal, pxwoStretch, pxwoTile };

// Change 0: horizontal view position, 1: vertical view position, 2: zoom.
using TViewChangeEvent = classlib::TEvent<void(classlib::TObject* Sender, int Change)>;
using TViewChangingEvent = classlib::TEvent<void(classlib::TObject* Sender, int Change, double NewValue)>;
using TPxZoomEvent = classlib::TEvent<void(classlib::TObject* Sender, double& NewZoom)>;
using TPxOnDrawBackground =
    classlib::TEvent<void(classlib::TObject* Sender, classlib::TCanvas* ACanvas, RECT ARect, bool& Handled)>;
using TPxOnDrawCanvas = classlib::TEvent<void(classlib::TObject* Sender, classlib::TCanvas* ACanvas, RECT ARect)>;

// Paints the area (X, Y, Width x Height) of Canvas around the image
// rectangle (ImgLeft, ImgTop)-(ImgRight, ImgBottom) in Style. Bitmap is the
// bitmap behind Canvas or nullptr (the shadow styles and the direct
// chessboard need it; the direct chessboard expects the area inside it).
// Design only matters through csDesigning in State.
void PxDrawBackground(classlib::TComponentState State, classlib::TCanvas* Canvas, classlib::TBitmap* Bitmap,
                      TPxBackgroundStyle Style, classlib::TColor Color, int X, int Y, int Width, int Height,
                      int ImgLeft, int ImgTop, int ImgRight, int ImgBottom, int ChessSize,
                      classlib::TBrushStyle ChessBrush, classlib::TColor GradientEnd, classlib::TPicture* WallPaper,
                      TPxWallPaperStyle WallPaperStyle);
// A two-colour gradient over Rect (Color1 at the top or left). False when
// the platform's gradient routine is not available or fails.
bool PxGradientFill(const RECT& Rect, HDC DC, classlib::TColor Color1, classlib::TColor Color2, bool Vertical);
// Four points whose edges alternate between vertical and horizontal.
bool PxIsRectPolygon(const POINT* Points, int Count);
// The zoom that fits W x H into AvailW x AvailH when the image exceeds the
// area and Shrink is set, or does not and Stretch is set; else 100.
double GetAutoFitZoom(int W, int H, int AvailW, int AvailH, bool Stretch, bool Shrink, double FitZoom);

using TPxLayerNotify = classlib::TEvent<void(classlib::TObject* Sender, int Layer, TPxLayerEvent Event)>;

class TImgView : public TPxView, public TPxIOView, public TPxProcView {
public:
    // The owner may be nullptr.
    explicit TImgView(classlib::TComponent* Owner);
    ~TImgView() override;
    std::wstring ClassName() const override { return L"TImgView"; }

    // ---- published state (plain fields)
    // Stored only; nothing reads it.
    bool DoubleBuffer = true;
    // The filter of zoomed display, also used by ApplyLayerSizes.
    TResampleFilter ZoomFilter = rfNone;
    // The extent of the layers is the largest layer (true) or layer 0's.
    bool LayersAutoExtent = false;
    // SetCurrentLayer steps down past layers that are not Selectable.
    bool SkipUnselectable = true;
    bool CropBeforeRotate = true;
    classlib::TNotifyEvent OnImageChange;
    // A new frame of the I/O object's capture object (PxMsgNewFrame; no
    // further frame messages are posted while it runs), and an event of its
    // filter graph (PxMsgGraphEvent); Sender is the view.
    classlib::TNotifyEvent OnDShowNewFrame;
    classlib::TNotifyEvent OnDShowEvent;
    TPxLayerNotify OnLayerNotify;

    // ---- image holder
    TPxBitmap* GetPxBitmap() override { return currentImage_; }
    // The class-library bitmap of the current image while LegacyBitmap is
    // on, else nullptr.
    classlib::TBitmap* GetBitmap() override { return vclBitmap_; }
    bool GetLegacyBitmap() const { return legacyBitmap_; }
    virtual void SetLegacyBitmap(bool Value);
    // The current layer shows Bitmap without owning it; nullptr gives the
    // layer an image of its own again (empty).
    void SetExternalBitmap(TPxBitmap* Bitmap);
    // Width and height both below 2.
    virtual bool IsEmpty();
    // Fills the current image with Background, drops its alpha channel
    // without blending, then Update.
    void FillWithBackground();
    // Makes the current image 1 x 1, then FillWithBackground.
    void ClearImage();
    void DoImageChange() override;
    // nullptr fills with Background; a TImgView or a classlib::TBitmap is
    // copied; anything else is ignored.
    void Assign(const classlib::TPersistent* Source) override;

    TPxBitmap* GetAlphaChannel() override;
    bool HasAlphaChannel() override;
    void RemoveAlphaChannel(bool Merge) override;
    bool GetEnableAlphaChannel() const { return enableAlphaChannel_; }
    void SetEnableAlphaChannel(bool Value);

    classlib::TColor GetBackground() override { return TPxView::GetBackground(); }
    void SetBackground(classlib::TColor Value) override;

    // ---- on-demand objects (owned; created and attached on first call)
    TImgIO* GetIO();
    TImgProc* GetProc();
    bool HasIO() const { return io_ != nullptr; }
    bool HasProc() const { return proc_ != nullptr; }

    const TPxProgressEvent& GetOnProgress() const { return onProgress_; }
    virtual void SetOnProgress(const TPxProgressEvent& Handler);
    const classlib::TNotifyEvent& GetOnFinishWork() const { return onFinishWork_; }
    virtual void SetOnFinishWork(const classlib::TNotifyEvent& Handler);
    const TPxSaveUndoEvent& GetOnSaveUndo() const { return onSaveUndo_; }
    void SetOnSaveUndo(const TPxSaveUndoEvent& Handler);

    // ---- locks (counters that never go below 0)
    void BeginPaintLock() override;
    int EndPaintLock() override;
    int EndPaintLockNoUpdate() override;
    int GetPaintLockCount() const { return paintLock_; }
    void BeginUpdateLock() override;
    void EndUpdateLockNoUpdate() override;
    void EndUpdateLock();
    int GetUpdateLockCount() const { return updateLock_; }

    // Brings the layers extent and the alpha channel's size up to date;
    // with a window also repaints. Nothing while the update lock is held or
    // while the component is being loaded or destroyed.
    void Update() override;

    bool HasParentWindow() override;
    std::wstring GetImgVersion() const { return L"1.0.0"; }
    void SetImgVersion(const std::wstring&) {}

    // ---- layers
    int GetLayersCount() override { return static_cast<int>(layers_.size()); }
    // Raises classlib::EListError for a bad index.
    TPxLayer* GetLayer(int Index);
    TPxLayer* GetCurrentLayer() { return GetLayer(currentLayer_); }
    int GetLayersCurrent() override { return currentLayer_; }
    virtual void SetCurrentLayer(int Index);
    // A new layer like the current image (size, format, storage; filled with
    // Background), appended and made current. Returns its index.
    int AddLayer();
    void RemoveLayer(int Index);
    void ClearLayers();
    void UpdateLayersExtent();
    int GetLayersWidth() const { return layersW_; }
    int GetLayersHeight() const { return layersH_; }
    // Resamples every layer (Index -1) or the one given to its displayed
    // size and clears that size.
    void ApplyLayerSizes(int Index);
    // Crops every layer (Index -1) or the one given to the bounds of its
    // alpha channel; positions are not changed.
    void CropLayersToAlpha(int Index);
    // ApplyLayerSizes, then bakes each rotated layer's rotation into its
    // image (with an alpha channel), moves the layer so that the rotated
    // image stays where it was drawn, and crops it to its visible pixels.
    void ApplyLayerTransforms(int Index);
    // (x, y) in client coordinates inside the visible layer: its corner
    // polygon when rotated, else its ScreenRect (edges included). False for
    // a bad index.
    bool IsPointInLayer(int X, int Y, int Index);

    // ---- TPxIOView / TPxProcView
    classlib::TComponent* GetViewComponent() override { return this; }
    intptr_t RegisterBitmapChangeEvent(const TPxBitmapChangeEvent& Handler, classlib::TObject* Owner) override
    {
        return TPxView::RegisterBitmapChangeEvent(Handler, Owner);
    }
    void RemoveBitmapChangeEvent(intptr_t Handle) override { TPxView::RemoveBitmapChangeEvent(Handle); }
    int GetDpiX() override { return TPxView::GetDpiX(); }
    int GetDpiY() override { return TPxView::GetDpiY(); }
    void SetDpiX(int Value) override { TPxView::SetDpiX(Value); }
    void SetDpiY(int Value) override { TPxView::SetDpiY(Value); }
    void SetDpi(int X, int Y) override { TPxView::SetDpi(X, Y); }
    bool IsImageView() override { return true; }
    bool IsVectView() override { return false; }
    bool HandleAllocated() override { return TPxView::HandleAllocated(); }
    HWND GetWindowHandle() override { return GetHandle(); }

    // ---- selection (ImgViewSelection.cpp)
    // The selection is an outline (polygons in bitmap coordinates of the
    // current layer, drawn as marching ants) and a 1-bit mask of the current
    // image's size that processing reads; every operation keeps both
    // together. Coordinates given to SelectRect, AddSelectionPoint and
    // SelectMagicWand follow SelectionBase. No operation raises for bad
    // coordinates: degenerate rectangles and points outside the image are
    // ignored.
    TPxSelectionBase SelectionBase = pxsbClientArea;
    // -1 free shape; 0 fixed size SelectionFixedWidth x SelectionFixedHeight;
    // above 0 the height is the width times this.
    double SelectionAspect = -1.0;
    int SelectionFixedWidth = 100;
    int SelectionFixedHeight = 100;
    int AntsPhase = 0;
    int GripSize = 5;
    classlib::TColor GripPenColor = 0x000000;
    classlib::TColor GripBrushColor = 0xBAFFFF;
    classlib::TBrushStyle GripBrushStyle = classlib::bsSolid;
    // 0 square, 1 round.
    uint8_t GripShape = 1;
    bool ShowMidGrips = true;
    bool ShiftAddsSelection = true;
    bool ConstrainAlways = false;
    int SelectionGridCount = 1;
    // Negative: the ants timer slows down so that drawing the mask outline
    // takes at most -AntsLoadLimit percent of the time.
    int AntsLoadLimit = -20;
    // Magic wand: 0 contour, 1 connected fill, 2 global; tolerance 0..255.
    int WandMode = 0;
    int WandTolerance = 15;
    bool WandDilate = false;
    TPxOnDrawPolygon OnDrawPolygon;
    classlib::TNotifyEvent OnSelectionChange;
    classlib::TNotifyEvent OnSelectionChanging;
    classlib::TNotifyEvent OnBeforeSelectionChange;
    classlib::TNotifyEvent OnMouseInSel;
    // Interaction state shared with the mouse handling.
    bool Selected = false;
    bool PolySelecting = false;
    bool LassoSelecting = false;
    bool RectSelecting = false;
    bool CircleSelecting = false;
    uint8_t SelGrip = 0;
    int SelMoving = -1;
    bool MovingRectSel = false;
    // Drawing of the outline; on from construction.
    bool ShowSelection = true;

    TPxSelectionOptions GetSelectionOptions() const { return selectionOptions_; }
    void SetSelectionOptions(TPxSelectionOptions Value);
    classlib::TColor GetAntsColor1() const { return antsColor1_; }
    classlib::TColor GetAntsColor2() const { return antsColor2_; }
    void SetSelColor1(classlib::TColor Value);
    void SetSelColor2(classlib::TColor Value);

    // Op 0 replaces the selection, 1 adds the rectangle (right and bottom
    // exclusive) to it.
    virtual void SelectRect(int X1, int Y1, int X2, int Y2, uint8_t Op);
    // Appends a vertex to the outline; the mask follows at SelectFromPolygon.
    virtual void AddSelectionPoint(int X, int Y);
    // Fills every polygon of the outline into the mask (not cleared first);
    // an empty result removes the selection.
    virtual void SelectFromPolygon();
    virtual void DrawGrid(int X1, int Y1, int X2, int Y2);
    const POINT* GetSelectionPolygonPoints();
    int GetSelectionPolygonCount();
    void Deselect();
    // By whole bitmap pixels; pxsoCutBorders decides whether the selection
    // stops at the edges or is cut by them.
    void MoveSelection(int Dx, int Dy);
    void SelectMagicWand(int X, int Y, bool Add);
    // The selection record: mask size, outline, flags, the current layer's
    // position and the mask bits. Loading re-sizes the mask to the current
    // image (Mode 1 first moves a selection back inside a smaller image;
    // Mode 2 re-bases it onto the current layer). The whole record is
    // checked before anything changes: a truncated or inconsistent one
    // raises classlib::EReadError and leaves the selection as it was.
    void SaveSelectionToStream(classlib::TStream* Stream) override;
    void LoadSelectionFromStream(classlib::TStream* Stream, int Mode) override;
    void PushSelection();
    // False on an empty stack; with Remove the top entry goes.
    bool PopSelection(bool Remove, uint8_t Mode);
    int GetSelectionStackCount() const { return static_cast<int>(selectionStack_.size()); }
    // Draws every visible outline on the view's canvas (nothing without a
    // parent window or with ShowSelection off); a timer as Sender advances
    // the ants. Also arms the ants timer.
    void DrawSelection(classlib::TObject* Sender);
    // The drawing of DrawSelection onto any canvas in client coordinates;
    // true when an outline is animated.
    bool DrawSelectionTo(classlib::TCanvas* Canvas, classlib::TObject* Sender);
    // The bounding box of the selection in bitmap pixels, right and bottom
    // inclusive (the outline's while one is being drawn or moved).
    int GetSelX1();
    int GetSelY1();
    int GetSelX2();
    int GetSelY2();
    TPxSelectionOutline& GetSelectionOutline() { return outline_; }
    // The client rectangle of the last rectangular outline drawn.
    RECT GetLastSelectionRect() const { return lastSelRect_; }
    classlib::TTimer* GetAntsTimer() const { return antsTimer_.get(); }

    // Used by the mouse handling.
    void SelectRectCore(int X1, int Y1, int X2, int Y2, uint8_t Op, bool Square, bool KeepInside);
    void MoveSelectionBy(int Dx, int Dy, bool CutBorders);
    // 0 none, 1..4 corners (top-left, top-right, bottom-right, bottom-left),
    // 5..8 sides (left, right, top, bottom); client coordinates.
    int GetSelectionGripAt(int X, int Y, bool ShiftHeld);
    // 0 when the client point lies in a movable selection, else -1.
    int GetMovableSelectionAt(int X, int Y, bool ShiftHeld);
    // The ants timer interval for a mask outline that took Elapsed ms.
    int AntsIntervalFor(int Elapsed) const;
    // Current layer coordinates <-> client coordinates.
    int SelScreenToLayerX(int X);
    int SelScreenToLayerY(int Y);
    int SelLayerToScreenX(int X);
    int SelLayerToScreenY(int Y);
    // The mask, brought to the current image's size when it differs.
    TPxMask* SyncSelectionMask();

    bool HasSelection() override { return Selected; }
    TPxMask* GetSelectionMask() override { return SyncSelectionMask(); }
    const POINT* GetSelectionPolygon(int& Count) override;

private:
    void SelectionRepaint();
    void ClearOutline();
    // Not shown until an operation makes a selection.
    TPxSelectionOutline outline_ = [] {
        TPxSelectionOutline o;
        o.Visible = false;
        return o;
    }();
    std::unique_ptr<TPxMask> selMask_ = std::make_unique<TPxMask>();
    std::vector<std::unique_ptr<classlib::TMemoryStream>> selectionStack_;
    std::unique_ptr<classlib::TTimer> antsTimer_;
    TPxSelectionOptions selectionOptions_ = PxDefaultSelectionOptions;
    classlib::TColor antsColor1_ = 0x000000;
    classlib::TColor antsColor2_ = 0xFFFFFF;
    RECT lastSelRect_{0, 0, 0, 0};
    // The canvas DrawGrid draws on while DrawSelectionTo runs.
    classlib::TCanvas* selDrawCanvas_ = nullptr;

public:
    // ---- end of selection

    // ---- mouse and keyboard interaction (ImgViewMouse.cpp)
    // What the left (and for zooming the right) button does: bit n is the
    // item of ordinal n. Setting reduces combinations that exclude each other
    // (see SetMouseInteract) and ends a polygon selection under way.
    enum TPxMouseInteractItems : uint16_t {
        miZoom = 1 << 0,
        miScroll = 1 << 1,
        miSelect = 1 << 2,
        miSelectPolygon = 1 << 3,
        miSelectCircle = 1 << 4,
        miSelectZoom = 1 << 5,
        miSelectMagicWand = 1 << 6,
        miSelectLasso = 1 << 7,
        miMoveLayers = 1 << 8,
        miResizeLayers = 1 << 9,
        miRotateLayers = 1 << 10,
        miMovingScroll = 1 << 11,
    };
    using TPxMouseInteract = uint16_t;
    TPxMouseInteract GetMouseInteract() const { return mouseInteract_; }
    virtual void SetMouseInteract(TPxMouseInteract Value);
    // Interaction state (client coordinates unless noted).
    int DownX = 0, DownY = 0;
    int DownViewX = 0, DownViewY = 0;
    int AnchorX = 0, AnchorY = 0;
    int ExtentAnchorX = 0, ExtentAnchorY = 0;
    int LastX = 0, LastY = 0;
    int LastClampedX = 0, LastClampedY = 0;
    int LastRawX = 0, LastRawY = 0;
    int DownPointCount = 0;
    int MovingLayer = -1;
    int RotatingLayer = -1;
    // Grip 1..8 of the current layer being dragged (order of GetGripRects),
    // 0 when none.
    int LayerGrip = 0;
    RECT SavedLayerRect{0, 0, 0, 0};
    POINT SavedLayerCorners[4] = {};
    double RotationAccumulator = 0;
    bool LayerMoved = false;
    bool LayerUndoSaved = false;
    // Save an undo record through GetProc at the first step of a layer drag.
    bool LayerUndoOnDrag = false;
    // With Shift, rotation snaps to multiples of this many degrees.
    int RotationSnap = 45;
    double ScrollDragFactor = 1.0;
    bool ZoomSelectFit = true;
    bool AutoScrolling = false;
    int GetMovingScrollTargetX() const { return movingTargetX_; }
    int GetMovingScrollTargetY() const { return movingTargetY_; }
    bool IsMovingScrollActive() const { return movingActive_; }
    // Subtracts (Dx, Dy) from the Last* positions.
    virtual void OffsetInteractionPoints(int Dx, int Dy);
    // Scrolls while the cursor is outside the displayed image; true when the
    // view moved.
    bool AutoScrollToCursor();
    // The topmost visible layer holding client point (X, Y) (only selectable
    // ones when SelectableOnly), or -1.
    int FindLayerAt(int X, int Y, bool SelectableOnly);
    // The zoom a zoom click gives from Zoom (right button: in, left: out).
    static double NextZoomIn(double Zoom);
    static double NextZoomOut(double Zoom);

protected:
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;
    void KeyUp(WORD& Key, classlib::TShiftState Shift) override;
    void KeyPress(wchar_t& Key) override;

private:
    void ClampToLayer(int X, int Y, int& OutX, int& OutY);
    void EndPolygonSelection();
    void UpdateRectSelection(int X, int Y, classlib::TShiftState Shift);
    void UpdateCircleSelection(int X, int Y, classlib::TShiftState Shift);
    int DragSelectionGrip(int X, int Y, bool Constrain);
    void ResizeLayer(int X, int Y, bool Constrain);
    void RotationCentre(TPxLayer& Layer, int& X, int& Y);
    // A move with a button held, by what the press started.
    void MouseDrag(classlib::TShiftState Shift, int X, int Y, int x, int y, bool Constrain);
    void DragLayerPosition(int X, int Y);
    void DragLayerRotation(int X, int Y, bool Snap);
    void DragLayerGrip(int X, int Y, bool Constrain);
    // A move without a button: the polygon's rubber line (which may move
    // the clamped point x, y) and the cursor of what lies under the pointer.
    void MouseHover(classlib::TShiftState Shift, int X, int Y, int& x, int& y, bool Constrain);
    void ShowSelectionHoverCursor(int X, int Y, bool Shift);
    void ShowRotationHoverCursor(int X, int Y);
    void ShowLayerHoverCursor(int X, int Y);
    // Aims the moving scroll at the view position the pointer stands for.
    void SteerMovingScroll(int X, int Y);
    void SaveLayerUndo(bool Full);
    void DrawRubberLine();
    void StartMovingScroll(int X, int Y);
    void MovingScrollStep(classlib::TObject* Sender);
    TPxMouseInteract mouseInteract_ = 0;
    int gripSaved_[4] = {0, 0, 0, 0};
    TResampleFilter savedFilter_ = rfNone;
    int movingTargetX_ = 0, movingTargetY_ = 0;
    std::unique_ptr<classlib::TTimer> movingTimer_;
    bool movingActive_ = false;

public:
    // ---- end of mouse and keyboard interaction


    TPxBitmap* GetLayerBitmap(int Index) override;
    TPxLayerIdentifier GetLayerIdentifier(int Index) override;
    void LayerSaveToStream(int Index, classlib::TStream* Stream, bool WithBitmap) override;
    void LayerLoadFromStream(int Index, classlib::TStream* Stream) override;
    // The whole stack (images as raw dumps, -1 compressed, -2 plain, or in
    // the file format Coding through the I/O object).
    void LayersSaveToStream(classlib::TStream* Stream, int Coding) override;
    bool LayersLoadFromStream(classlib::TStream* Stream) override;
    // Opens the file for reading (others may read it too) and runs
    // LayersLoadFromStream; an error opening the file propagates.
    bool LayersLoadFromFile(const std::wstring& FileName);
    // The I/O object's view-data loads: a plain image view reads layer
    // files (type 26) and streams.
    int LoadViewDataFromFile(const std::wstring& FileName, int32_t FileType) override;
    int LoadViewDataFromStream(classlib::TStream* Stream, int32_t FileType) override;
    // Layered documents through the I/O object (ImgViewDocLayers.cpp; the
    // contract is TPxIOView's).
    bool ClearDocumentLayers() override;
    bool TakeDocumentLayers(TPxPSDLayerList& Layers, int Width, int Height, bool Replace) override;
    bool GetDocumentLayers(TPxPSDLayerList& Layers, TPxBitmap& Merged) override;

    // Vector objects: a plain image view has none.
    void SaveToStreamPxV(classlib::TStream*) override {}
    bool LoadFromStreamPxV(classlib::TStream*) override { return false; }
    void SaveToStreamAll(classlib::TStream* Stream, int Coding) override { LayersSaveToStream(Stream, Coding); }
    bool LoadFromStreamAll(classlib::TStream* Stream) override { return LayersLoadFromStream(Stream); }

    // ---- geometry: zoom (percent), view position (zoomed pixels), the
    // displayed extent and centring, coordinate conversion, scroll bars.
    // Without a parent window the view width and height are 50.
    bool AutoFit = false;
    bool AutoStretch = false;
    bool AutoShrink = false;
    TViewChangeEvent OnViewChange;
    TViewChangingEvent OnViewChanging;
    TPxZoomEvent OnZoomIn;
    TPxZoomEvent OnZoomOut;
    classlib::TNotifyEvent OnMouseEnterScroll;
    classlib::TNotifyEvent OnMouseLeaveScroll;
    TPxScrollBarParams HScrollParams;
    TPxScrollBarParams VScrollParams;
    TPxMouseWheelParams WheelParams;
    int MovingScrollDivisor = 8;

    virtual int GetViewWidth();
    virtual int GetViewHeight();
    double GetZoomX() const { return zoomX_; }
    double GetZoomY() const { return zoomY_; }
    // Both axes; fires OnViewChanging(2, Value) and ignores values <= 0.
    void SetZoom(double Value);
    // Set the zoom keeping the bitmap point at the view centre; no events,
    // no update.
    virtual void SetZoomXY(double Value);
    virtual void SetZoomX(double Value);
    virtual void SetZoomY(double Value);
    void DoZoomX(double Value);
    void DoZoomY(double Value);
    // Zooms keeping client point (X, Y) over the same bitmap point, or
    // centring that point.
    void ZoomAt(int X, int Y, double NewZoom, bool Center);
    // The zoom at which the layers extent fits the control; the extent
    // must not be empty.
    double GetFitZoom();
    void Fit();
    // Removes a selection of at least 2 x 2 pixels and zooms so that its
    // bounding box fills the control, centred.
    void ZoomSelection(bool KeepAspect, bool FireZoomIn);
    int GetViewX() const { return viewX_; }
    int GetViewY() const { return viewY_; }
    void SetViewXY(int X, int Y);
    void SetViewX(int X);
    void SetViewY(int Y);
    void GetMaxViewXY(int& MaxX, int& MaxY);
    bool HasScrollRange();
    // Glides to a view position in 30 ms steps.
    void SmoothScrollTo(int X, int Y);
    bool GetCenter() const { return center_; }
    void SetCenter(bool Value);
    int ScreenToBitmapX(int X);
    int ScreenToBitmapY(int Y);
    int BitmapToScreenX(int X);
    int BitmapToScreenY(int Y);
    int ScreenSnapX(int Z);
    int ScreenSnapY(int Z);
    virtual void ComputeExtent();
    virtual void ComputeViewOffsets();
    virtual void BuildCoordinateTables();
    int GetZoomedW() const { return zoomedW_; }
    int GetZoomedH() const { return zoomedH_; }
    int GetExtentX() const { return extentX_; }
    int GetExtentY() const { return extentY_; }
    int GetOffsetX() const { return offsetX_; }
    int GetOffsetY() const { return offsetY_; }
    // The bitmap rectangle shown and its on-screen size.
    RECT GetVisibleBitmapRect() const { return RECT{visBmpX_, visBmpY_, visBmpX_ + visBmpW_, visBmpY_ + visBmpH_}; }
    int GetVisScrW() const { return visScrW_; }
    int GetVisScrH() const { return visScrH_; }
    classlib::TScrollStyle GetScrollBars() const { return scrollBars_; }
    virtual void SetScrollBars(classlib::TScrollStyle Value);
    bool GetFlatScrollBars() const { return flatScrollBars_; }
    void SetFlatScrollBars(bool Value);
    void HideHScrollBar();
    void HideVScrollBar();
    bool IsHScrollBarShown() const { return hScrollShown_; }
    bool IsVScrollBarShown() const { return vScrollShown_; }
    double GetHScrollFactor() const { return hScrollFactor_; }
    double GetVScrollFactor() const { return vScrollFactor_; }
    // One wheel step at client point (X, Y) by the wheel settings.
    void MouseWheelAction(int WheelDelta, int X, int Y, bool CtrlHeld);
    virtual void DoViewChange(int Change);
    virtual void DoViewChanging(int Change, double NewValue);
    void DoZoomIn(double& NewZoom);
    void DoZoomOut(double& NewZoom);

    // ---- painting: a back buffer composed by DrawLayers and copied to the
    // window by Paint/PaintRect.
    classlib::TNotifyEvent OnPaint;
    classlib::TNotifyEvent OnDrawBackBuffer;
    TPxOnDrawBackground OnDrawBackground;
    TPxOnDrawCanvas OnDrawCanvas;
    bool DelayZoomFilter = false;
    bool EnableInteractionHints = true;
    TPxBackgroundStyle GetBackgroundStyle() const { return backgroundStyle_; }
    void SetBackgroundStyle(TPxBackgroundStyle Value);
    classlib::TPicture* GetWallPaper() const { return wallPaper_.get(); }
    void SetWallPaper(classlib::TPicture* Value);
    TPxWallPaperStyle GetWallPaperStyle() const { return wallPaperStyle_; }
    void SetWallPaperStyle(TPxWallPaperStyle Value);
    // Stored only; Size must be at least 1.
    void SetChessboardStyle(int Size, classlib::TBrushStyle BrushStyle);
    int GetChessboardSize() const { return chessSize_; }
    classlib::TBrushStyle GetChessboardBrush() const { return chessBrush_; }
    classlib::TColor GradientEndColor = static_cast<classlib::TColor>(0xFF0000);
    void SetZoomFilter(TResampleFilter Value);
    bool GetDrawVersion() const { return drawVersion_; }
    void SetDrawVersion(bool Value);
    void SetInteractionHint(const std::wstring& Text, int X, int Y, const std::wstring& Text2);
    // Copies Rect of the back buffer to the window, composing it first when
    // it is invalid. Nothing without a parent window.
    void PaintRect(const RECT& Rect);
    // Composes the view into Dest (a px24RGB image; RowTable its row
    // addresses or nullptr). ClipRect limits the work (edges included).
    virtual void DrawLayers(TPxBitmap* Dest, std::vector<uint8_t*>* RowTable, bool DrawMarks, bool DrawBackground,
                            const RECT* ClipRect);
    // All layers at 100 percent into Dest (resized to the layers' area).
    void RenderLayersTo(TPxBitmap* Dest);
    // Merges all layers into a 24-bit image in layer 0.
    void FlattenLayers();
    void PaintBackgroundTo(classlib::TCanvas* Canvas);
    // The composed view as shown (nullptr without a back buffer).
    classlib::TBitmap* GetBackBufferBitmap();
    void InvalidateViewRect(const RECT& Rect);
    void Paint() override;
    // Half size of the eight layer grips.
    int LayerGripSize = 5;
    // Look of the layer grips (not the selection grips): 0 rectangle,
    // 1 ellipse.
    classlib::TColor LayerGripPenColor = 0x000000;
    classlib::TColor LayerGripBrushColor = 0xBAFFFF;
    classlib::TBrushStyle LayerGripBrushStyle = classlib::bsSolid;
    uint8_t LayerGripShape = 1;
    using TPxDrawLayerBoxEvent =
        classlib::TEvent<void(classlib::TObject* Sender, classlib::TBitmap* ABitmap, int Layer)>;
    using TPxDrawLayerGrip = classlib::TEvent<void(classlib::TObject* Sender, classlib::TBitmap* ABitmap, int Layer,
                                                   int Grip, RECT Rect)>;
    // Replace the built-in box and the eight grips when assigned.
    TPxDrawLayerBoxEvent OnDrawLayerBox;
    TPxDrawLayerGrip OnDrawLayerGrip;
    // The current layer's marks on Bitmap (client coordinates): a dotted
    // inverting box, the eight grips, the rotation-centre grip. Nothing for
    // a bad index.
    void DrawLayerBox(classlib::TBitmap* Bitmap, int Layer);
    void DrawLayerGrips(classlib::TBitmap* Bitmap, int Layer);
    void DrawRotationGrip(classlib::TBitmap* Bitmap, int Layer);
    // While a polygon (not lasso) selection is drawn: the inverting line from
    // the last mouse position to the last polygon point, on the window.
    void DrawPolygonRubberLine();
    // The copy of PaintRect for a navigator that shades: Rect of the back
    // buffer goes through the shadow buffer, where the current layer's
    // client area outside the last drawn selection rectangle is darkened,
    // to the window.
    void PaintShadowedRect(const RECT& Rect);
    // The system palette changed: realises the DIB palette into the main
    // form's canvas and invalidates the view when entries changed (always
    // without a main form). Always true.
    virtual bool PaletteChanged(bool Foreground);

private:
    static bool CloseDrawDib(HANDLE Handle);
    // Opened on the first palette change, closed with the view.
    std::unique_ptr<void, bool (*)(HANDLE)> drawDib_{nullptr, &TImgView::CloseDrawDib};

public:
    // The eight grip squares of a layer in TPxGrip order (corners from the
    // top-left clockwise, then left, right, top and bottom sides), from its
    // corners when rotated, else from its ScreenRect. False for a bad index.
    bool GetGripRects(int Layer, RECT (&Rects)[8]);
    // 1..8: the first grip square of the current layer holding (X, Y),
    // edges included; 0 for none.
    int GetGripAt(int X, int Y);

    // ---- cursors
    // Stores Value as the saved cursor and shows it.
    void SetCursor(classlib::TCursor Value);
    // Shows Value without changing the saved cursor (only for a view made
    // with an owner).
    void SetTempCursor(classlib::TCursor Value);
    void RestoreCursor();
    classlib::TCursor GetSavedCursor() const { return savedCursor_; }

    // ---- events, cursors and navigator (ImgViewEvents.cpp)
    // Unit-wide values read by every view; set by ImgViewInitGlobals.
    struct TImgViewGlobals {
        int ScreenBits = 24;
        bool RemoteSession = false;
        int ScreenDpiX = 96, ScreenDpiY = 96;
        int DefaultDpiX = 300, DefaultDpiY = 300;
        bool HasMMX = false;
        int EdgeX = 2, EdgeY = 2, BorderX = 1, BorderY = 1, HScrollHeight = 17, VScrollWidth = 17;
        // Loaded on first need by the painting code; released at shut-down.
        HMODULE MsImg32 = nullptr;
        FARPROC GradientFill = nullptr;
        int PixelGridZoom = 400;
        // Inverting pen of rubber bands and the pixel grid (owned here).
        std::unique_ptr<classlib::TPen> XorPen;
    };
    static TImgViewGlobals& Globals();
    static void ImgViewInitGlobals();
    static void ImgViewStartup();
    static void ImgViewShutdown();
    // Registers cursors 1778..1814 from the program's resources; an id
    // whose resource is missing is left without a cursor (the screen's
    // default cursor shows for it).
    static void ImgViewLoadCursors();
    // Resource name of cursor Id (1778..1814), empty outside the table.
    static std::wstring CursorResourceName(classlib::TCursor Id);
    static constexpr classlib::TCursor FirstCursorId = 1778;
    static constexpr int CursorCount = 37;

    using TPxMouseInGripEvent = classlib::TEvent<void(classlib::TObject* Sender, int Grip)>;
    using TPxSpecialKeyEvent =
        classlib::TEvent<void(classlib::TObject* Sender, WORD CharCode, classlib::TShiftState Shift, bool& Handled)>;
    using TPxNavigatorWheelEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TShiftState Shift,
                                                         int WheelDelta, POINT MousePos, bool& Handled)>;
    TPxMouseInGripEvent OnMouseInResizingGrip;
    TPxSpecialKeyEvent OnSpecialKey;
    // Asked first by the wheel handling of a view that serves as a
    // navigator; a true Handled ends the wheel step there.
    TPxNavigatorWheelEvent OnNavigatorWheel;

    // Exchanges SelectionBase with its stored second value.
    void SwapSelectionBase();
    TPxSelectionBase GetStoredSelectionBase() const { return storedSelectionBase_; }
    // Each fires its handler between two SwapSelectionBase calls.
    void DoSelectionChanging();
    void DoBeforeSelectionChange();
    void DoMouseInResizingGrip(int Grip);
    void DoMouseInSel();
    virtual void DoLayerNotify(int Layer, TPxLayerEvent Event);
    // No exchange.
    void DoSelectionChange();
    // The zoom event with the exchange around it.
    void DoZoomInSwapped(double& NewZoom);
    void DoZoomOutSwapped(double& NewZoom);
    // Ends a polygon selection: DropLast removes the last vertex and then
    // the separators that end the list; the mask is cleared unless ShiftHeld
    // and ShiftAddsSelection; the outline is filled into the mask, the view
    // updated, PolySelecting cleared and OnSelectionChange fired.
    void FinishPolygonSelection(bool ShiftHeld, bool DropLast);
    // The Shift-key cursor switch of the keyboard handling (with
    // ShiftAddsSelection on): on a key-down with Shift, 1785 shows 1791 and
    // 1793 shows 1794; on a key-up without Shift the saved cursor returns.
    void ApplyShiftCursor(bool KeyDown, classlib::TShiftState Shift);
    // Window message handlers (double click, the control's special-key
    // query 0xB01E); WndProc sends those messages here.
    void WMLButtonDblClk(classlib::TMessage& Message);
    void CMWantSpecialKey(classlib::TMessage& Message);
    static constexpr UINT CmWantSpecialKey = 0xB01E;

    // Links View as this view's navigator (nullptr unlinks). Options bit 0:
    // the navigator's wheel zooms this view; bit 1: the navigator shades
    // the area outside its selection. The navigator must outlive the link
    // or be destroyed (the free notification then clears it).
    void SetNavigator(TImgView* View, uint8_t Options);
    TImgView* GetNavigator() const { return navigator_; }
    uint8_t GetNavigatorOptions() const { return navigatorOptions_; }
    bool GetIsNavigator() const { return isNavigator_; }
    void UpdateNavigator();
    void NavigatorSelectionChanging(classlib::TObject* Sender);
    void NavigatorMouseWheel(classlib::TObject* Sender, classlib::TShiftState Shift, int WheelDelta, POINT MousePos,
                             bool& Handled);
    void SetSelectionAspect(double Value);

    // Transition handlers: the setters create the transition object (owned
    // by the view until it is destroyed) when there is none; the getters
    // return empty handlers while there is none and create nothing. The
    // types are those of the transition object's events.
    using TTransitionStepEvent = classlib::TEvent<void(classlib::TObject* Sender, int Step)>;
    using TTransitionPaintEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TBitmap* Bitmap,
                                                        class TPxTransitionEffects* Transition, int Step)>;
    void SetOnTransitionStop(const classlib::TNotifyEvent& Handler);
    void SetOnTransitionStep(const TTransitionStepEvent& Handler);
    void SetOnTransitionPaint(const TTransitionPaintEvent& Handler);
    classlib::TNotifyEvent GetOnTransitionStop() const;
    TTransitionStepEvent GetOnTransitionStep() const;
    TTransitionPaintEvent GetOnTransitionPaint() const;
    // Creates the transition object when there is none.
    TPxTransitionEffects* CreateTransitions();
    TPxTransitionEffects* GetTransitions() const { return transitions_.get(); }

protected:
    void Notification(classlib::TComponent* Component, classlib::TOperation Operation) override;

private:
    TPxSelectionBase storedSelectionBase_ = pxsbClientArea;
    TImgView* navigator_ = nullptr;
    uint8_t navigatorOptions_ = 0;
    bool inNavigatorUpdate_ = false;
    bool isNavigator_ = false;
    // The view this one serves as navigator (nullptr when none).
    TImgView* navigatorOf_ = nullptr;
    static void FreeTransitions(TPxTransitionEffects* Transitions);
    std::unique_ptr<TPxTransitionEffects, void (*)(TPxTransitionEffects*)> transitions_{nullptr, &FreeTransitions};
    // Gives a navigator its own image back and drops its handlers.
    void DetachAsNavigator();

public:
    // ---- end of events, cursors and navigator

protected:
    void WndProc(classlib::TMessage& Message) override;

private:
    void FillImage(TPxBitmap* Image);
    // SetCurrentLayer with SkipUnselectable off (every layer reachable).
    void MakeCurrent(int Index);

    // ---- geometry and painting state
    void ScrollMessage(classlib::TMessage& Message, bool Horizontal);
    void SetScrollInfoFor(int Bar, double Factor, int Page, int Pos, bool Show);
    void UpdateScrollPositions(bool H, bool V);
    void ArmDelays(bool Zoom);
    void FinishZoomChange();
    void FinishViewMove(bool MovedX, bool MovedY);
    // Moves the view along one axis (0 horizontal, 1 vertical), clamped to
    // the image.
    void SetViewAxis(int Axis, int Value);
    // DoZoomX/DoZoomY over the axis's zoom and setter.
    void DoZoomAxis(double Value, double TImgView::*Zoom, void (TImgView::*SetAxisZoom)(double));
    void HideScrollBar(int Bar, bool& Shown);
    void SmoothScrollStep(classlib::TObject* Sender);
    void SetZoomFactors();
    // Paints the window now (its paint message), when it can paint.
    void PaintNow();
    // The control's own paint handling, marked so Paint knows it has the
    // paint DC.
    void PaintWindow(HDC DC) override;
    void DrawLayersBackground(TPxBitmap* Dest, const RECT* ClipRect, bool Test, TPxLayer* Layer);
    void DrawVersionText();
    // The I/O object's capture object while it renders video into this
    // window and is not stopped; nullptr otherwise.
    TPxDirectShow* RenderingVideo();
    // Places the video over the current layer's picture.
    void PositionVideo();
    void DShowNewFrame(TPxDirectShow* Graph);
    // The selection's fill (inverted) and outer shading of the current
    // layer's drawn area, as SelectionOptions ask.
    void DrawSelectionMarks(TPxBitmap* Dest);
    // One visible layer of DrawLayers: its mask, the background under the
    // first one, the picture, and the current layer's marks.
    struct TLayerPaint;
    void DrawLayer(int Index, TPxBitmap* Dest, std::vector<uint8_t*>* RowTable, bool DrawMarks, bool DrawBackground,
                   const RECT* ClipRect, const TPxRenderClip* Clip, bool First);
    // The only layer, unplaced, through the view's coordinate tables.
    void RenderSoleLayer(TPxLayer& Layer, const TLayerPaint& P);
    // A layer at its place (a rotated one through a rotated copy).
    void RenderPlacedLayer(int Index, TPxLayer& Layer, const TLayerPaint& P);
    // Corners, size and position of a layer of W x H drawn from Rotated.
    void PlaceRotatedLayer(TPxLayer& Layer, TPxBitmap& Rotated, int W, int H);
    // Image into the layer's screen rectangle (cut to layer 0 when asked).
    void RenderLayerRect(int Index, TPxLayer& Layer, TPxBitmap& Image, const TLayerPaint& P);
    // Puts L's alpha limited by mask layer M (or L's cached result) in
    // place of L's alpha channel and returns a copy of L's own channel.
    std::unique_ptr<TPxBitmap> PrepareLayerMask(TPxLayer& L, TPxLayer& M);
    // Fills a magnifier layer's image with the enlarged area under it (of
    // layer 0 or of what Dest shows so far) and shapes its alpha.
    void PrepareMagnifier(TPxLayer& Layer, TPxBitmap* Dest, TResampleFilter Filter);
    // Image at five times (W x H), turned by Angle with its alpha channel;
    // nullptr when nothing can be drawn.
    static std::unique_ptr<TPxBitmap> RotatedLayerCopy(TPxBitmap* Image, int W, int H, double Angle);
    double zoomX_ = 100;
    double zoomY_ = 100;
    double zoomFX_ = 1, zoomFXInv_ = 1, zoomFY_ = 1, zoomFYInv_ = 1;
    int viewX_ = 0, viewY_ = 0;
    int zoomedW_ = 0, zoomedH_ = 0;
    int extentX_ = 0, extentY_ = 0;
    int offsetX_ = 0, offsetY_ = 0;
    int visBmpX_ = 0, visBmpY_ = 0, visBmpW_ = 0, visBmpH_ = 0;
    int visScrW_ = 0, visScrH_ = 0;
    // Screen-to-bitmap and bitmap-to-screen tables with the offsets of the
    // view position into them and their usable lengths.
    std::vector<int32_t> s2bX_, s2bY_, b2sX_, b2sY_;
    size_t s2bXOff_ = 0, s2bYOff_ = 0, b2sXOff_ = 0, b2sYOff_ = 0;
    int s2bXLen_ = 0, s2bYLen_ = 0, b2sXLen_ = 0, b2sYLen_ = 0;
    double keyZoomX_ = -1, keyZoomY_ = -1;
    int keyScrW_ = -1, keyScrH_ = -1, keyLayersW_ = -1, keyLayersH_ = -1;
    double hScrollFactor_ = 1.0, vScrollFactor_ = 1.0;
    bool hScrollShown_ = false, vScrollShown_ = false;
    classlib::TScrollStyle scrollBars_ = classlib::ssBoth;
    bool flatScrollBars_ = false;
    bool center_ = true;
    uint8_t updateReason_ = 0;
    bool inUpdate_ = false;
    bool nestedUpdate_ = false;
    int smoothTargetX_ = 0, smoothTargetY_ = 0;
    std::unique_ptr<classlib::TTimer> smoothTimer_;
    bool smoothActive_ = false;
    bool inPaintMessage_ = false;
    // The window handle the last paint drew into (the capture object's
    // messages follow a re-created window).
    HWND lastPaintHandle_ = nullptr;
    std::unique_ptr<TPxBitmap> backBuffer_;
    bool backBufferInvalid_ = true;
    // A navigator's shaded copy of the back buffer (px24RGB, pxTBitmap);
    // made at first use, resized with the view.
    std::unique_ptr<TPxBitmap> shadowBuffer_;
    bool fullRepaint_ = true;
    TPxBackgroundStyle backgroundStyle_ = pxbsSolid;
    std::unique_ptr<classlib::TPicture> wallPaper_;
    TPxWallPaperStyle wallPaperStyle_ = pxwoNormal;
    int chessSize_ = 16;
    classlib::TBrushStyle chessBrush_ = classlib::bsSolid;
    TResampleFilter filterInUse_ = rfNone;
    int zoomDelay_ = 0;
    int displayDelay_ = 0;
    bool drawVersion_ = false;
    std::wstring hintText_, hintText2_;
    int hintX_ = 0, hintY_ = 0;
    classlib::TCursor savedCursor_ = 0;
    bool cursorPending_ = true;

    std::vector<std::unique_ptr<TPxLayer>> layers_;
    int currentLayer_ = 0;
    TPxBitmap* currentImage_ = nullptr;
    classlib::TBitmap* vclBitmap_ = nullptr;
    bool legacyBitmap_ = true;
    bool enableAlphaChannel_ = true;
    int layersW_ = 0;
    int layersH_ = 0;
    int lastW_ = 0;
    int lastH_ = 0;
    int paintLock_ = 0;
    int updateLock_ = 0;
    TImgIO* io_ = nullptr;
    TImgProc* proc_ = nullptr;
    TPxProgressEvent onProgress_;
    classlib::TNotifyEvent onFinishWork_;
    TPxSaveUndoEvent onSaveUndo_;
    bool ownerGiven_ = false;
};

// A TImgView that creates its I/O and processing objects at construction.
class TImg : public TImgView {
public:
    explicit TImg(classlib::TComponent* Owner);
    std::wstring ClassName() const override { return L"TImg"; }
};

// True when Stream starts with the layers magic and a version above 0; the
// position is restored in every case.
bool PxIsLayersStream(classlib::TStream* Stream);

}  // namespace imaging
