// TImgVect: an image view with vector objects over its image.
//
// The objects (lines, boxes, ellipses, arcs, bitmaps, texts, memos, rulers,
// polylines, angles, line labels and custom objects) live in image
// coordinates in an array held by value; an object's handle is its index in
// that array and stays valid while the object exists. The drawing order,
// the selection and the shared bitmap list refer to objects and bitmaps by
// index. Handles: 0 and above name an object, -1 the default object (whose
// values every new object copies), -2 the last object, -3 and -4 no object.
// Every lookup range-checks its handle: a handle that names no object
// yields nothing (ObjectRecord gives nullptr, operations do nothing).
//
// Ownership: the view owns its objects and everything their records hold
// (texts, fonts, points, formats, user data when UserDataLen > 0, custom
// objects), the shared bitmaps, the two in-place editors and the undo
// states. A record copied out of the view is a shallow copy as far as
// UserData and CustomObject go; AddObject makes the deep copy.
//
// Units: ImgVect.cpp (storage, selection, units, undo, editing, keyboard),
// ImgVectDraw.cpp (drawing, rulers and angles), ImgVectInteract.cpp (mouse),
// ImgVectStream.cpp (the object stream), ImgVectEdit.* (the editors).
//
// Threads: user-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/vector/ImgVectEdit.h"
#include "imaging/views/view/PxVSoftShadow.h"

namespace classlib {
class TPicture;
class TTimer;
class TMemoryStream;
}  // namespace classlib

namespace imaging {

class TPxCanvas;
class TImgVect;

enum TPxVectObjectKind : uint8_t {
    pxvoNone,
    pxvoLine,
    pxvoBox,
    pxvoEllipse,
    pxvoArc,
    pxvoBitmap,
    pxvoText,
    pxvoRuler,
    pxvoPolyline,
    pxvoAngle,
    pxvoMemo,
    pxvoLineLabel,
    pxvoCustom
};

enum TPxUnits : uint8_t {
    pxuPIXELS,
    pxuINCHES,
    pxuKM,
    pxuMETERS,
    pxuCENTIMETERS,
    pxuMILLIMETERS,
    pxuMICRONS,
    pxuNANOMETERS
};
// "pixels", "inches", ... in TPxUnits order.
extern const char* const PxUnitNames[8];

using TPxVectObjectOptions = uint8_t;
constexpr TPxVectObjectOptions pxvoptSelectable = 1 << 0;
constexpr TPxVectObjectOptions pxvoptMovable = 1 << 1;
constexpr TPxVectObjectOptions pxvoptSizeable = 1 << 2;
constexpr TPxVectObjectOptions pxvoptVisible = 1 << 3;
constexpr TPxVectObjectOptions pxvoptAll = 0x0F;

// What the mouse does in a vector view (bit n = item of ordinal n).
using TPxVectInteract = uint32_t;
constexpr TPxVectInteract viMeasureArea = 1u << 0;
constexpr TPxVectInteract viMeasurePerimeter = 1u << 1;
constexpr TPxVectInteract viNewLine = 1u << 2;
constexpr TPxVectInteract viNewBox = 1u << 3;
constexpr TPxVectInteract viNewEllipse = 1u << 4;
constexpr TPxVectInteract viNewBitmap = 1u << 5;
constexpr TPxVectInteract viNewText = 1u << 6;
constexpr TPxVectInteract viSelectObjects = 1u << 7;
constexpr TPxVectInteract viDragLength = 1u << 8;
constexpr TPxVectInteract viNewRuler = 1u << 9;
constexpr TPxVectInteract viNewPolyline = 1u << 10;
constexpr TPxVectInteract viNewAngle = 1u << 11;
constexpr TPxVectInteract viNewMemo = 1u << 12;
constexpr TPxVectInteract viNewLineLabel = 1u << 13;
constexpr TPxVectInteract viEditPolyline = 1u << 14;
constexpr TPxVectInteract viNoClickObjects = 1u << 15;
constexpr TPxVectInteract viNewCustom = 1u << 16;

enum TPxVUndoMode : uint8_t { pxumSeparated, pxumShared };

// Marks an angle point that is not given yet.
constexpr int PxAngleUnset = -1000000;

struct TPxDPoint {
    double X = 0;
    double Y = 0;
};

// The base of custom object classes (registered by name; nothing in this
// program registers one). The view owns each instance through its record.
class TPxCustomObjectBase {
public:
    TPxCustomObjectBase() = default;
    virtual ~TPxCustomObjectBase() = default;
    TImgVect* Owner = nullptr;
    struct TPxVectObject* Record = nullptr;
    int Handle = -1;
    virtual void Initialize() {}
    virtual void SetHandle(int Value) { Handle = Value; }
    virtual void SaveToStream(classlib::TStream*) {}
    virtual void LoadFromStream(classlib::TStream*) {}
    virtual TPxCustomObjectBase* Clone() = 0;
    virtual void MouseDown(classlib::TMouseButton, classlib::TShiftState, int, int) {}
    virtual void MouseUp(classlib::TMouseButton, classlib::TShiftState, int, int) {}
    virtual void MouseMove(classlib::TShiftState, int, int) {}
    virtual void MouseEnter() {}
    virtual void MouseLeave() {}
    virtual void KeyDown(WORD, classlib::TShiftState) {}
    virtual void Draw(classlib::TBitmap*, int, int, int, int, bool, double, double) {}
};
using TPxCustomObjectFactory = TPxCustomObjectBase* (*)();
// Registers a custom class under Name (case-sensitive).
void PxRegisterVectObjectClass(const std::string& Name, TPxCustomObjectFactory Factory);
// A new object of the first class registered as Name, or nullptr.
TPxCustomObjectBase* PxCreateVectObjectByName(const std::string& Name);
std::string PxVectObjectClassName(TPxCustomObjectBase* Object);
// The registered number of the "PXIMAGE VECT" clipboard format (0 before the
// toolkit's start-up). Held ready for callers that move objects through the
// clipboard; the view itself neither reads nor writes it.
UINT PxVectClipboardFormat();
// The twelve object shortcuts Ctrl+L, E, R, J, C, X, V, F, B, I, U, G in
// this order (key in the low byte, 0x4000 for Ctrl); 0 outside 0..11.
uint16_t PxVectShortcut(int Index);

// One vector object. Coordinates in image pixels.
struct TPxVectObject {
    int32_t Left = 0, Top = 0, Right = 63, Bottom = 63;
    TPxVectObjectKind Kind = pxvoNone;
    int32_t Transparency = 255;
    // Owned (allocated with new uint8_t[]) when UserDataLen > 0.
    void* UserData = nullptr;
    int32_t UserDataLen = 0;
    bool KeepAspect = false;
    uint8_t BeginShape = 0, EndShape = 0;
    int32_t ShapeWidth = 10, ShapeHeight = 20;
    classlib::TColor LabelBrushColor = 0xFFFFFF;
    classlib::TBrushStyle LabelBrushStyle = classlib::bsSolid;
    uint8_t LabelPosition = 1;
    uint8_t LabelBorder = 1;
    RECT LabelRect{0, 0, 0, 0};
    classlib::TColor PenColor = 0;
    classlib::TPenStyle PenStyle = classlib::psSolid;
    int32_t PenWidth = 1;
    classlib::TColor BrushColor = 0xFFFFFF;
    classlib::TBrushStyle BrushStyle = classlib::bsClear;
    bool BoxHighlight = false;
    double ArcStart = 0, ArcEnd = 6.283185307179586;
    int32_t BitmapIndex = -1;
    bool BitmapBorder = false;
    bool HasText = false;
    std::string Text;
    bool HasFont = false;
    LOGFONTA Font{};
    uint8_t TextQuality = 0;
    uint8_t TextAlign = 0;
    bool TextAutoSize = false;
    bool MemoFixedFont = true;
    std::vector<TPxDPoint> TextPath;
    int32_t TextPathValue = -10;
    bool TextEditable = true;
    // Memo: a format index per character (empty = absent) and the formats.
    std::vector<uint32_t> MemoCharFormats;
    std::vector<TPxMemoCharFormat> MemoFormats;
    int32_t MemoLineGap = 0;
    classlib::TColor MemoBorderColor = 0xFFFFFF;
    classlib::TPenStyle MemoBorderStyle = classlib::psSolid;
    int32_t MemoLineHeight = 0;
    bool MemoHasBitmap = false;
    double MemoMargins[4] = {0, 0, 0, 0};
    classlib::TBrushStyle MemoBrushStyle = classlib::bsSolid;
    std::string Name;
    int32_t Tag = 0;
    TPxVectObjectOptions Options = pxvoptAll;
    TPxUnits MeasureUnit = pxuPIXELS;
    uint8_t RulerStyle = 2;
    std::vector<POINT> Points;
    RECT PointsBounds{0, 0, 0, 0};
    bool Closed = false;
    std::vector<POINT> ScreenPoints;
    POINT AnglePoints[3] = {{0, 0}, {50, 0}, {50, 50}};
    RECT SavedRect{0, 0, 0, 0};
    RECT DrawnRect{0, 0, 0, 0};
    int32_t DrawnMargin = 0;
    // An object's shadow starts without offsets (the grid's is 3 x 3).
    TPxVSoftShadow Shadow{false, 3.0, 0, 0, 100, classlib::clBlack};
    // Owned; kind pxvoCustom only.
    TPxCustomObjectBase* CustomObject = nullptr;
};

using TPxUserSelectObject = classlib::TEvent<void(classlib::TObject* Sender, int hobj)>;
using TPxVObjectClickEvent = classlib::TEvent<void(classlib::TObject* Sender, int hobj)>;
using TPxVNewObject = classlib::TEvent<void(classlib::TObject* Sender, int hobj)>;
using TPxVMeasureHintEvent =
    classlib::TEvent<void(classlib::TObject* Sender, std::wstring& Text, double Value)>;
using TPxVDragLenEndEvent = classlib::TEvent<void(classlib::TObject* Sender, double Value)>;
using TPxVObjectMoveResizeEvent =
    classlib::TEvent<void(classlib::TObject* Sender, int hobj, int Grip, int& OffsetX, int& OffsetY)>;
using TPxDrawObjectEvent = classlib::TEvent<void(classlib::TObject* Sender, int hobj, classlib::TBitmap* Destination,
                                                 RECT DestRect, bool DrawingAlpha, bool& Handled)>;
using TPxKeyEvent = classlib::TEvent<void(classlib::TObject* Sender, WORD& Key, classlib::TShiftState Shift)>;

class TImgVect : public TImgView {
public:
    explicit TImgVect(classlib::TComponent* Owner);
    ~TImgVect() override;
    std::wstring ClassName() const override { return L"TImgVect"; }
    bool IsVectView() override { return true; }

    // ---- object storage (ImgVect.cpp)
    int GetObjectsCount() const { return static_cast<int>(objects_.size()); }
    // -1 the default object, -2 the last object, a valid index its object;
    // anything else nullptr.
    TPxVectObject* ObjectRecord(int hobj);
    // Appends a deep copy of Source on top; returns its handle.
    int AddObject(const TPxVectObject& Source);
    void FreeObject(TPxVectObject& Record);
    void FreeAllObjects();
    void RemoveAllObjects();
    const std::vector<int>& GetDrawingOrder() const { return drawOrder_; }
    void SetObjFont(int hobj, classlib::TFont* Font);
    void SetObjBitmap(int hobj, TPxBitmap* Bitmap);
    void SetObjBitmapIndex(int hobj, int Index);
    void SetObjBitmapFromIcon(int hobj, int IconId, int Height, int Width);
    void SetObjUserData(int hobj, void* Data);
    void SetObjUserDataLen(int hobj, int32_t Len);
    void AddPolylinePoint(int hobj, int X, int Y);
    void AddSelObjectNoNotify(int hobj);
    void AddSelObject(int hobj);
    bool IsSelObject(int hobj);
    void UnSelObject(int hobj);
    void UnSelAllObjectsNoUpdate();
    void UnSelAllObjects();
    const std::vector<int>& GetSelection() const { return selection_; }
    int GetSelObjectsCount() const { return static_cast<int>(selection_.size()); }
    void ReleaseSharedBitmap(int Index);
    int AllocSharedBitmapSlot();
    // The bitmap of entry Index (nullptr for a bad or free index).
    TPxBitmap* GetSharedBitmap(int Index);
    int GetSharedBitmapCount(int Index) const;
    int GetSharedBitmapsCount() const { return static_cast<int>(bitmaps_.size()); }
    // The last entry whose bitmap equals Bitmap, or -1.
    int FindSharedBitmap(TPxBitmap* Bitmap);
    // Drops free entries and renumbers every BitmapIndex.
    void PackSharedBitmaps();
    void CancelInteraction();
    void ComputeUnitScale(TPxUnits Unit);
    // (0, 0, R, B) over all objects.
    RECT GetObjectsExtent();

    // ---- published settings
    TPxUnits GetMUnit() const { return mUnit_; }
    void SetMUnit(TPxUnits Value);
    int GetFloatDigits() const { return floatDigits_; }
    void SetFloatDigits(int Value);
    int GetFloatPrecision() const { return floatPrecision_; }
    void SetFloatPrecision(int Value);
    double GetMeasureScale() const { return measureScale_; }
    void SetMeasureScale(double Value);
    double UnitSizeX = 1.0, UnitSizeY = 1.0;
    bool ShareBitmaps = true;
    // Pen widths follow the zoom; the filter of zoomed bitmap objects. Each
    // setter stores and updates the view.
    bool GetZoomObjectsWidth() const { return zoomObjectsWidth_; }
    void SetZoomObjectsWidth(bool Value);
    TResampleFilter GetBitmapResampleFilter() const { return bitmapResampleFilter_; }
    void SetBitmapResampleFilter(TResampleFilter Value);
    int ObjUndoLimit = 1;
    bool ObjAutoUndo = false;
    TPxVUndoMode ObjUndoMode = pxumSeparated;
    bool GetObjAntialias() const { return objAntialias_; }
    void SetObjAntialias(bool Value);
    bool GetHighQualityDrawing() const { return highQuality_; }
    virtual void SetHighQualityDrawing(bool Value);
    bool SelectOnMouseDown = true;
    classlib::TPicture* GetObjGripImage() const { return gripImage_.get(); }
    void SetObjGripImage(classlib::TPicture* Picture);
    // Grip look (GripSize, GripShape are the view's selection grip fields).
    std::unique_ptr<classlib::TPen> GripPen;
    std::unique_ptr<classlib::TBrush> GripBrush;
    std::unique_ptr<classlib::TPen> RubberPen;
    bool CenterGrip = false;

    // Interaction options.
    TPxVectInteract VectInteract = 0;
    int HitTolerance = -1;
    bool SelectBoxInterior = false;
    bool AllowOutsideMoves = true;
    bool RubberBandSelect = true;
    bool EditNewText = true;
    bool CenterNewObjects = false;
    uint8_t PolylineEndMode = 0;
    bool PolylineUnclamped = false;
    bool BitmapAlphaHit = true;
    int EditingObject = -1;
    int ObjectUnderMouse = -1;
    bool MeasureHint = false;
    double LastMeasure = 0;
    bool PerimeterToMouse = true;

    // Events.
    classlib::TNotifyEvent OnSelectObject;
    TPxUserSelectObject OnUserSelectObject;
    TPxUserSelectObject OnUserDeselectObject;
    TPxVMeasureHintEvent OnMeasureHint;
    classlib::TNotifyEvent OnVectorialChanged;
    classlib::TNotifyEvent OnBeforeVectorialChanged;
    TPxVDragLenEndEvent OnDragLenEnd;
    TPxVNewObject OnNewObject;
    TPxVObjectMoveResizeEvent OnObjectMoveResize;
    TPxVObjectClickEvent OnObjectClick;
    TPxVObjectClickEvent OnObjectDblClick;
    TPxVObjectClickEvent OnObjectOver;
    TPxKeyEvent OnTextKeyDown;
    classlib::TNotifyEvent OnActivateTextEdit;
    classlib::TNotifyEvent OnDeactivateTextEdit;
    TPxDrawObjectEvent OnBeforeDrawObject;
    TPxDrawObjectEvent OnAfterDrawObject;
    void SetOnTextEditCursorMoved(const classlib::TNotifyEvent& Handler);
    classlib::TNotifyEvent GetOnTextEditCursorMoved() const;

    // ---- virtual operations
    virtual void DrawRubberLine(bool Erase);
    virtual void DrawRubberBox(bool Erase);
    virtual void DrawRubberEllipse(bool Erase);
    virtual void DrawRulerInProgress();
    virtual void DrawAngleInProgress();
    virtual void DoVectorialChanged();
    virtual void ActivateTextEdit();
    virtual void DoObjectMoveResize(int hobj, int Grip, int& OffsetX, int& OffsetY);
    virtual void DoObjectClick(int hobj);
    virtual void DoObjectDblClick(int hobj);
    virtual void DoObjectOver(int hobj);
    virtual void DoVectorialChangedOnce();
    virtual void DoNewObject(int hobj);
    virtual void DoUserSelectObject(int hobj);
    virtual void DoUserDeselectObject(int hobj);

    // ---- overrides
    void Assign(const classlib::TPersistent* Source) override;
    void Update() override;
    void Paint() override;
    void SetDpiX(int Value) override;
    void SetDpiY(int Value) override;
    void SetMouseInteract(TPxMouseInteract Value) override;
    void DoViewChange(int Change) override;
    void OffsetInteractionPoints(int Dx, int Dy) override;
    void DrawLayers(TPxBitmap* Dest, std::vector<uint8_t*>* RowTable, bool DrawMarks, bool DrawBackground,
                    const RECT* ClipRect) override;

    // ---- text editing, undo, copying (ImgVect.cpp)
    void StartTextEdit();
    void EndTextEdit();
    bool IsTextEditing() const { return EditingObject >= 0; }
    TPxEdit* GetTextEditor() const { return textEdit_; }
    TPxTextControl* GetMemoEditor() const { return memoEdit_; }
    void SaveObjUndoAuto();
    void SaveObjUndo();
    void DiscardLastObjUndo();
    void ClearObjUndo();
    int GetObjUndoCount() const { return static_cast<int>(undo_.size()); }
    // The newest saved state (nullptr when none); kept by the view.
    classlib::TMemoryStream* GetObjUndoState(int Index);
    // Replaces the objects by saved state Index (0 = oldest); false when
    // there is no such state or it does not load. The current objects are
    // saved as a redo state first.
    bool ObjUndo();
    bool ObjRedo();
    int GetObjRedoCount() const { return static_cast<int>(redo_.size()); }
    void CopyObjectsTo(TImgVect* Destination);
    int FindObjectAtScreen(int X, int Y, double& Distance);

    // ---- measurement (ImgVectDraw.cpp)
    void DrawRuler(TPxCanvas* Canvas, POINT P1, POINT P2, double Length, TPxUnits Unit, classlib::TColor Color,
                   int PenWidth, uint8_t Style, double ZoomXInv, double ZoomYInv, RECT& DrawnRect,
                   const LOGFONTA* Font);
    void DrawAngle(TPxCanvas* Canvas, const POINT (&Points)[3], classlib::TColor Color, int PenWidth,
                   RECT& DrawnRect, bool OnScreen, double Scale, double ZoomXInv, double ZoomYInv,
                   const LOGFONTA* Font);
    double SelectionArea();
    std::wstring FormatMeasure(double Value) const;

    // ---- drawing (ImgVectDraw.cpp)
    void DrawObjectsIntoImage(bool HighQuality);
    void DrawObjectsOnBackBuffer(classlib::TBitmap* Bitmap);
    void DrawObjectsToBitmap(TPxBitmap* Image, bool HighQuality);
    bool DrawObject(TPxVectObject& Record, int hobj, bool DrawingAlpha, double Scale, TPxBitmap* WorkImage,
                    bool OnScreen, bool OnlyIfVisible, classlib::TBitmap* Destination);
    int ObjToDestX(int X, bool OnScreen, double Scale);
    int ObjToDestY(int Y, bool OnScreen, double Scale);
    int ObjPenWidth(const TPxVectObject& Record, double ZoomX, double ZoomY) const;
    void PolylineScale(const TPxVectObject& Record, double& Sx, double& Sy) const;
    void FitPolylineBox(TPxVectObject& Record);
    bool FastDrawing = false;
    bool ObjectsMoving = false;
    TPxBitmap* GetWorkImage() const { return workImage_.get(); }

    // ---- interaction (ImgVectInteract.cpp)
    void DrawGrip(classlib::TCanvas* Canvas, int X, int Y, bool Centre);
    bool IsOnGrip(int GripX, int GripY, int X, int Y) const;
    void DrawObjectGrips(classlib::TCanvas* Canvas, TPxVectObject& Record);
    void DrawSelectionGrips(classlib::TCanvas* Canvas);
    int FindGrip(int X, int Y, int& Code);
    int FindObjectAt(int IX, int IY, bool OnlySelectable, double& Distance);
    double ObjectDistance(TPxVectObject& Record, int IX, int IY);
    double BitmapObjectDistance(TPxVectObject& Record, int IX, int IY);
    void SelectAtPoint(classlib::TShiftState Shift, int X, int Y, bool OnPress);
    void SelectObjectsInRect(int hobj, int X1, int Y1, int X2, int Y2);
    void SelectionBounds(RECT& Rect);
    void OffsetObject(int hobj, int DX, int DY);
    void ResizeObject(int hobj, int DLeft, int Grip, bool KeepAspect, int DBottom, int DRight, int DTop);
    int FindPolylineVertex(int X, int Y);
    int FindPolylineSegment(int X, int Y);
    double SelectionPerimeter();
    void RefreshMeasureHint(int X, int Y);
    void EraseMeasureHint();
    void DrawMeasureHint(int X, int Y);
    void DrawPolylineVertices(classlib::TCanvas* Canvas);
    // The text of the last measure hint drawn.
    const std::wstring& GetMeasureHintText() const { return hintText_; }
    int GetGripCode() const { return gripCode_; }
    TPxVectObjectKind GetNewKind() const { return newKind_; }

    // ---- stream (ImgVectStream.cpp)
    void SaveToStreamPxV(classlib::TStream* Stream) override;
    // Replaces every object by those of the block. False for a wrong magic
    // or version, with the objects untouched. A damaged block raises
    // classlib::EReadError (or the zlib error) and leaves the objects, the
    // shared bitmaps and ShareBitmaps as they were.
    bool LoadFromStreamPxV(classlib::TStream* Stream) override;
    bool LoadFromFilePxV(const std::wstring& FileName);
    void SaveToStreamAll(classlib::TStream* Stream, int Coding) override;
    bool LoadFromStreamAll(classlib::TStream* Stream) override;
    bool LoadFromFileAll(const std::wstring& FileName);
    void SaveObjectToStream(classlib::TStream* Stream, int hobj);
    // Vector files (25: the image becomes a white canvas of the objects'
    // extent with alpha 0 under them), layer files (26) and combined files
    // (27).
    int LoadViewDataFromFile(const std::wstring& FileName, int32_t FileType) override;
    int LoadViewDataFromStream(classlib::TStream* Stream, int32_t FileType) override;
    int LoadObjectFromStream(classlib::TStream* Stream, char Version);

protected:
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;
    void WndProc(classlib::TMessage& Message) override;

private:
    friend struct TPxVectLoadState;
    struct TSharedBitmap {
        std::unique_ptr<TPxBitmap> Bitmap;
        int32_t Count = 0;
    };
    TPxVectObject* CheckedRecord(int hobj);
    int ResolveHandle(int hobj) const;
    void EditTextChanged(classlib::TObject* Sender);
    void EditKeyPress(classlib::TObject* Sender, WORD& Key, classlib::TShiftState Shift);
    void MemoKeyPress(classlib::TObject* Sender, WORD& Key, classlib::TShiftState Shift);
    void InteractionTimer(classlib::TObject* Sender);
    void DrawObjects(bool IntoImage, bool HighQuality, classlib::TBitmap* Destination);
    // Steps of DrawObjects. Objects that blend go through the work image (the
    // destination's size, times the supersampling factor R) with an alpha
    // channel drawn in a second, grey pass.
    void DrawObjectsSupersampled(bool HighQuality, bool OnScreen, classlib::TBitmap* Destination);
    void EnsureWorkImage(int W, int H);
    void DrawAlphaPass(TPxVectObject& O, int H, double Scale, bool OnScreen);
    // A marker box draws over what lies under it: that part of the
    // destination, clipped to it, goes into the work image (R times the size).
    void CopyHighlightBackground(const TPxVectObject& O, int R, bool OnScreen, classlib::TBitmap* Destination);
    void BlendWorkImage(TPxVectObject& O, int R, classlib::TBitmap* Destination);
    // Whether the box (destination pixels, Scale times the view) meets the
    // part of the image the view shows.
    bool BoxMeetsShownArea(int X1, int Y1, int X2, int Y2, double Scale);
    void DrawLineObject(TPxCanvas* Canvas, TPxVectObject& Record, POINT A, POINT B, double ZoomX, double ZoomY);
    // The ruler's length in its own unit; the view's unit scale is kept.
    double RulerLength(const TPxVectObject& Record);
    // Lays out ScreenPoints from the points and the box, and draws them.
    void DrawPolylineObject(TPxCanvas* Canvas, TPxVectObject& Record, bool OnScreen, double Scale);
    void DrawLineEndShape(TPxCanvas* Canvas, TPxVectObject& Record, POINT E, POINT O, uint8_t Shape, int Sw, int Sh);
    void DrawLineLabel(TPxCanvas* Canvas, TPxVectObject& Record, POINT S, POINT T, double ZoomY);
    // Steps of DrawTextObject.
    void DrawMemoObject(TPxCanvas* Canvas, TPxVectObject& Record, int X1, int Y1, int X2, int Y2, double ZoomY,
                        bool DrawingAlpha);
    void DrawPlainText(TPxCanvas* Canvas, TPxVectObject& Record, const LOGFONTA& Font, int X1, int Y1, int X2, int Y2,
                       double ZoomX);
    void DrawTextAlongPath(TPxCanvas* Canvas, TPxVectObject& Record, const LOGFONTA& Font, int X1, int Y1, int X2,
                           int Y2);
    void DrawTextObject(TPxCanvas* Canvas, TPxVectObject& Record, int hobj, int X1, int Y1, int X2, int Y2,
                        double ZoomX, double ZoomY, bool DrawingAlpha);
    void DrawBitmapObject(classlib::TBitmap* Destination, TPxCanvas* Canvas, TPxVectObject& Record, int W,
                          TPxBitmap* WorkImage, int X1, int Y1, int X2, int Y2);
    void AutoScroll();
    void ClampToImageArea(int X, int Y, int& OutX, int& OutY);
    int ImageX(int X) { return ScreenToBitmapX(X); }
    int ImageY(int Y) { return ScreenToBitmapY(Y); }
    void ObjectCorners(TPxVectObject& Record, POINT (&P)[4]);
    bool ObjectOnScreen(TPxVectObject& Record);
    void CustomUnderMouse(int X, int Y);
    void PutObjectAtRelease();
    // The named custom object class and its data, at the stream's position;
    // throws on a class not registered.
    std::unique_ptr<TPxCustomObjectBase> ReadCustomObject(classlib::TStream* S);
    // Mouse presses, one step per interaction mode.
    bool PressNewObject(int X, int Y, POINT& Used);
    void PressAngle(bool Ctrl, int CX, int CY);
    void FinishAngle(TPxVectObject& A);
    POINT PressPolyline(bool Ctrl, POINT P);
    void PressToSelect(classlib::TShiftState Shift, int X, int Y);
    void DoubleClickObject(int X, int Y);
    // One mouse move: the client point, and the same point held inside the
    // image area.
    struct TMouseStep {
        classlib::TShiftState Shift;
        int X, Y;
        int CX, CY;
        bool Ctrl;
    };
    void MoveWithButtonHeld(const TMouseStep& M);
    void MoveHovering(const TMouseStep& M);
    void DragNewObject(const TMouseStep& M);
    void DragNewLine(const TMouseStep& M);
    void DragNewBoxOrEllipse(const TMouseStep& M);
    void DragNewBitmap(const TMouseStep& M);
    void DragNewRuler(const TMouseStep& M);
    void DragPolylineFreehand(const TMouseStep& M);
    void FollowAngleInProgress(const TMouseStep& M);
    void DragSelectionByGrip(const TMouseStep& M);
    void ResizeByGrip(int H, int Dx, int Dy, bool Keep, bool Ctrl);
    void DragPolylineVertex(const TMouseStep& M);
    void DragRubberBandSelection(const TMouseStep& M);
    // Invalidates the window and repaints it at once.
    void RepaintNow();
    // Draws straight onto the window (nothing without a handle).
    void DrawOnWindow(const std::function<void(TPxCanvas*)>& Draw);
    std::unique_ptr<classlib::TMemoryStream> SaveState();

    std::vector<TPxVectObject> objects_;
    std::vector<int> drawOrder_;
    std::vector<int> selection_;
    std::vector<TSharedBitmap> bitmaps_;
    TPxVectObject default_;
    TPxEdit* textEdit_ = nullptr;
    TPxTextControl* memoEdit_ = nullptr;
    std::string editSavedText_;
    std::unique_ptr<TPxVectObject> memoSaved_;
    std::unique_ptr<classlib::TPicture> gripImage_;
    TPxUnits mUnit_ = pxuPIXELS;
    int floatDigits_ = 2;
    int floatPrecision_ = 15;
    double measureScale_ = 1.0;
    bool objAntialias_ = true;
    bool zoomObjectsWidth_ = true;
    TResampleFilter bitmapResampleFilter_ = rfNone;
    bool highQuality_ = false;
    std::vector<std::unique_ptr<classlib::TMemoryStream>> undo_;
    std::vector<std::unique_ptr<classlib::TMemoryStream>> redo_;
    std::unique_ptr<classlib::TTimer> timer_;
    std::unique_ptr<TPxBitmap> workImage_;
    std::unique_ptr<TPxBitmap> alphaDraw_;
    bool changedOnce_ = false;
    bool destroying_ = false;
    // Interaction state (ImgVectInteract.cpp).
    TPxVectObjectKind newKind_ = pxvoNone;
    int gripCode_ = 0;
    POINT pressPoint_{0, 0};
    POINT currentPoint_{0, 0};
    POINT lastMouse_{0, 0};
    POINT appliedOffset_{0, 0};
    int polylineObject_ = -1;
    POINT lastPolylinePoint_{0, 0};
    int angleObject_ = -1;
    int polylineVertex_ = -1;
    int polylineSegment_ = -1;
    bool selectDeferred_ = false;
    bool doubleClicked_ = false;
    bool modified_ = false;
    bool undoSaved_ = false;
    bool dragLength_ = false;
    POINT rawPress_{0, 0};
    // The rubber figure now inverted on the window (pmNot pen), with the
    // points it was drawn with: a repaint puts it back over the fresh
    // picture and an erase inverts exactly what is shown, so no stray
    // figure is left behind whatever repaints came in between.
    enum class TRubberShape : uint8_t { None, Line, Box, Ellipse };
    struct {
        TRubberShape Shape = TRubberShape::None;
        POINT A{0, 0}, B{0, 0};
    } rubber_;
    void ShowRubber(TRubberShape Shape);
    void EraseRubber();
    // One step of a rubber figure drag: shows Shape, or erases it (by an
    // inverting redraw, or by repainting the dragged rectangle when the pen
    // does not invert).
    void DragRubber(bool Erase, TRubberShape Shape);
    // Inverts the shown rubber figure again on a DC that has just been
    // repainted (the paint DC, clipped to what was repainted).
    void PaintRubber(HDC DC);
    // Measure hint.
    std::unique_ptr<classlib::TBitmap> hintBitmap_;
    std::unique_ptr<classlib::TFont> hintFont_;
    std::unique_ptr<classlib::TBrush> hintBrush_;
    POINT hintPos_{0, 0};
    POINT hintMouse_{0, 0};
    std::wstring hintText_;
};

}  // namespace imaging

namespace imaging {
// Hands the I/O object the routine that draws a layer or vector-object file
// (file types 25 to 27) flat into an image, for loads without a view. The
// image view's start-up calls it (the I/O layer cannot name the views).
void PxInstallViewDataRenderer();

// "PXV" and a version byte the reader accepts at the stream's position; the
// position is restored.
bool PxIsVectStream(classlib::TStream* Stream);
// A combined layers-and-objects stream at the position (restored).
bool PxIsVectAllStream(classlib::TStream* Stream);
}  // namespace imaging
