// TImgMView: a window control that shows a list of images as a grid of
// thumbnail cells, or one image at a time (DisplayMode mdSingle).
//
// Entries: each entry holds a stored image (in the "ILIST" store, reduced to
// the thumbnail box when StoreType is pxtThumb), an optional display-size
// copy (the "ICACHE" store), an optional source (a file name, or a file name
// followed by "::" and a frame number), three captions and a background.
// An entry that only names a file is loaded when its cell is first drawn:
// the selected entry, and every entry when ThreadPoolSize is 0, on the
// painting thread (LoadImageNow); the others by the pool (below).
//
// Pool: one dispatcher thread per control keeps at most ThreadPoolSize
// asynchronous TImgIO loads running, starts queued requests in queue order,
// drops requests and aborts loads of entries that are no longer visible.
// A finished load is reduced on its worker thread; storing it (with the
// wrong-image picture, the entry's parameters and the change notification)
// is handed to the window's thread, into the entry the load was started for
// (indexes of queued and running work follow inserts and removals; the load
// of a removed entry is dropped). StopLoading waits for every worker.
//
// Ownership: the control owns its entries, both stores, the internal and the
// pool's I/O objects and their bitmaps, the frame readers, and the
// multi-image I/O and processing objects it creates on demand (GetMIO,
// GetProc). The image returned by GetPxBitmap is checked out of "ILIST" and
// owned by the store; it stays valid until the selection moves or the
// entry's image is replaced.
//
// Failure: a failed load never raises out of the control: the entry gets
// the wrong-image picture (OnWrongImage, else a blue "?"), or is removed at
// the next paint when RemoveCorrupted is set.
//
// Threads: everything is called on the window's thread except the pool's
// internals. StarterLock (re-entrant) guards the entries, the stores, the
// request queue, the running loaders and the look-ahead list. An I/O object
// is never freed while the lock is held, because its destructor waits for
// its worker, which may itself be waiting for the lock.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/Picture.h"
#include "classlib/SyncObjs.h"
#include "classlib/Threads.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/ImgProcView.h"
#include "imaging/views/view/ImgView.h"
#include "imaging/views/view/PxTransitions.h"
#include "imaging/views/view/PxVSoftShadow.h"
#include "imaging/views/view/PxView.h"

namespace classlib {
class TBitmap;
class TFont;
class TStream;
}  // namespace classlib

namespace imaging {

class TImgIO;
class TImgMIO;
class TImgMView;
class TImgProc;
class TPxBitmap;
class TPxVirtualImageList;
struct TPxVirtualImageItem;
class TPxStarter;

enum TPxStoreType : uint8_t { pxtNormal, pxtThumb };
enum TPxMDisplayMode : uint8_t { mdGrid, mdSingle };
enum TPxMStyle : uint8_t { pxmsFlat, pxmsACD };
enum TPxSStyle : uint8_t { pxssAround, pxssACD };
enum TPxMMouseInteractItem : uint8_t { mmiScroll = 1, mmiSelect = 2 };
using TPxMMouseInteract = uint8_t;
enum TPxMKeyInteractItem : uint8_t { mkiMoveSelected = 1 };
using TPxMKeyInteract = uint8_t;
enum TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

using TPxImageSelectEvent = classlib::TEvent<void(classlib::TObject* Sender, int idx)>;
using TPxImageIDRequestEvent = classlib::TEvent<void(classlib::TObject* Sender, int ID, classlib::TBitmap*& Bitmap)>;
using TPxImageIDRequestExEvent = classlib::TEvent<void(classlib::TObject* Sender, int ID, TPxBitmap*& Bitmap)>;
using TPxMProgressEvent = classlib::TEvent<void(classlib::TObject* Sender, int per, int idx)>;
using TPxWrongImageEvent =
    classlib::TEvent<void(classlib::TObject* Sender, TPxBitmap* OutBitmap, int idx, bool& Handled)>;
using TPxImageDrawEvent =
    classlib::TEvent<void(classlib::TObject* Sender, int idx, int Left, int Top, classlib::TCanvas* Canvas)>;
using TPxImageDraw2Event = classlib::TEvent<void(classlib::TObject* Sender, int idx, int Left, int Top,
                                                 RECT ImageRect, classlib::TCanvas* Canvas)>;
// Before a cell's picture is drawn: ThumbRect (in: (0, 0, w, h) of the
// cell) may be narrowed; the picture then goes into it.
using TPxImageDrawEventEx = classlib::TEvent<void(classlib::TObject* Sender, int idx, int Left, int Top,
                                                  classlib::TBitmap* Dest, RECT& ThumbRect)>;

// One caption of an entry (Position 0 top, 1 info, 2 bottom).
class TPxMText : public classlib::TObject {
public:
    TPxMText(classlib::TControl* Owner, int Position);
    ~TPxMText() override;
    std::wstring ClassName() const override { return L"TPxMText"; }

    std::wstring Caption;
    classlib::TFont* GetFont() const { return font_.get(); }
    classlib::TColor BackColor = classlib::clBtnFace;
    classlib::TBrushStyle BackStyle = classlib::bsSolid;
    int Position = 0;
    // 0 shortens at the end, 1 at the start.
    int TruncSide = 1;

private:
    std::unique_ptr<classlib::TFont> font_;
};

// One entry of the grid. Owned by the control.
struct TImgMViewEntry {
    TImgMView* Owner = nullptr;
    TPxVirtualImageItem* ImageItem = nullptr;
    TPxVirtualImageItem* CacheItem = nullptr;
    int X = 0;
    int Y = 0;
    int Row = 0;
    int Column = 0;
    classlib::TColor Background = classlib::clBtnFace;
    // Empty = no source file.
    std::wstring FileName;
    bool HasFileName = false;
    int ImageID = -1;
    int DelayTime = 0;
    std::unique_ptr<TPxMText> TopText;
    std::unique_ptr<TPxMText> InfoText;
    std::unique_ptr<TPxMText> BottomText;
    RECT ImageRect{0, 0, 0, 0};
};

class TImgMView : public TPxView, public TPxProcView {
public:
    explicit TImgMView(classlib::TComponent* Owner);
    ~TImgMView() override;
    std::wstring ClassName() const override { return L"TImgMView"; }

    // ---- published settings
    TScrollStyle GetScrollBars() const { return scrollBars_; }
    // Stores the style, hides the bars it leaves out and re-lays the grid.
    virtual void SetScrollBars(TScrollStyle Value);
    // Flat scroll bars (the platform's flat scroll-bar support on the
    // window). Turning them on hides both bars until the next layout.
    bool GetFlatScrollBars() const { return flatScrollBars_; }
    void SetFlatScrollBars(bool Value);
    TPxStoreType StoreType = pxtNormal;
    int GetThumbWidth() const { return thumbWidth_; }
    int GetThumbHeight() const { return thumbHeight_; }
    // Drop every display copy, then Update.
    void SetThumbWidth(int Value);
    void SetThumbHeight(int Value);
    int GetHorizBorder() const { return horizBorder_; }
    int GetVertBorder() const { return vertBorder_; }
    void SetHorizBorder(int Value);
    void SetVertBorder(int Value);
    int GetBottomGap() const { return bottomGap_; }
    int GetUpperGap() const { return upperGap_; }
    void SetBottomGap(int Value);
    void SetUpperGap(int Value);
    bool GetVisibleSelection() const { return visibleSelection_; }
    void SetVisibleSelection(bool Value);
    TPxMMouseInteract GetMouseInteract() const { return mouseInteract_; }
    virtual void SetMouseInteract(TPxMMouseInteract Value) { mouseInteract_ = Value; }
    TPxMKeyInteract GetKeyInteract() const { return keyInteract_; }
    virtual void SetKeyInteract(TPxMKeyInteract Value) { keyInteract_ = Value; }
    TPxMDisplayMode GetDisplayMode() const { return displayMode_; }
    void SetDisplayMode(TPxMDisplayMode Value);
    int GetGridWidth() const { return gridWidth_; }
    void SetGridWidth(int Value);
    int GetSelectionWidth() const { return selectionWidth_; }
    void SetSelectionWidth(int Value);
    classlib::TColor GetSelectionColor() const { return selectionColor_; }
    void SetSelectionColor(classlib::TColor Value);
    bool GetRemoveCorrupted() const { return removeCorrupted_; }
    void SetRemoveCorrupted(bool Value);
    bool GetDrawImageBackground() const { return drawImageBackground_; }
    void SetDrawImageBackground(bool Value);
    int GetImageCacheSize() const { return imageCacheSize_; }
    // Also the mapped-item limit of "ILIST".
    void SetImageCacheSize(int Value);
    TPxMStyle GetStyle() const { return style_; }
    void SetStyle(TPxMStyle Value);
    TPxSStyle GetSelectionStyle() const { return selectionStyle_; }
    void SetSelectionStyle(TPxSStyle Value);
    classlib::TColor ThumbnailsBackground = classlib::clBtnFace;
    bool GetEnableMultiSelect() const { return enableMultiSelect_; }
    void SetEnableMultiSelect(bool Value);
    int GetThumbnailsBorderWidth() const { return thumbnailsBorderWidth_; }
    void SetThumbnailsBorderWidth(int Value);
    classlib::TColor GetThumbnailsBorderColor() const { return thumbnailsBorderColor_; }
    void SetThumbnailsBorderColor(classlib::TColor Value);
    bool GetThumbnailsInternalBorder() const { return thumbnailsInternalBorder_; }
    void SetThumbnailsInternalBorder(bool Value);
    classlib::TColor GetThumbnailsInternalBorderColor() const { return thumbnailsInternalBorderColor_; }
    void SetThumbnailsInternalBorderColor(classlib::TColor Value);
    // Pool size; 0 loads every entry on the painting thread.
    int ThreadPoolSize = 5;
    bool GetEnableAlphaChannel() const { return enableAlphaChannel_; }
    void SetEnableAlphaChannel(bool Value);
    TPxBackgroundStyle GetBackgroundStyle() const { return backgroundStyle_; }
    void SetBackgroundStyle(TPxBackgroundStyle Value);
    TPxBackgroundStyle GetThumbnailsBackgroundStyle() const { return thumbnailsBackgroundStyle_; }
    void SetThumbnailsBackgroundStyle(TPxBackgroundStyle Value);
    classlib::TPicture* GetWallPaper() const { return wallPaper_.get(); }
    // Copies the picture, then Update.
    void SetWallPaper(const classlib::TPicture* Value);
    TPxWallPaperStyle GetWallPaperStyle() const { return wallPaperStyle_; }
    void SetWallPaperStyle(TPxWallPaperStyle Value);
    std::wstring GetImgVersion() const { return L"1.0.0"; }
    void SetImgVersion(const std::wstring&) {}

    // ---- events
    TPxImageIDRequestEvent OnImageIDRequest;
    TPxImageIDRequestExEvent OnImageIDRequestEx;
    TPxImageDrawEvent OnBeforeImageDraw;
    // When assigned, no selection frame is drawn (the handler marks it).
    TPxImageDrawEventEx OnBeforeImageDrawEx;
    TPxImageDrawEvent OnImageDraw;
    TPxImageDraw2Event OnImageDraw2;
    TPxImageSelectEvent OnImageSelect;
    TPxImageSelectEvent OnImageDeselect;
    // Loads on the calling thread report through it (pool loads do not).
    TPxProgressEvent OnIOProgress;
    TPxMProgressEvent OnDrawProgress;
    TPxWrongImageEvent OnWrongImage;
    classlib::TNotifyEvent OnAllDisplayed;
    virtual void SetOnProgress(const TPxProgressEvent& Handler);
    virtual const TPxProgressEvent& GetOnProgress() const { return onProgress_; }
    virtual void SetOnFinishWork(const classlib::TNotifyEvent& Handler);
    virtual const classlib::TNotifyEvent& GetOnFinishWork() const { return onFinishWork_; }

    // ---- public settings
    int ViewX = 0;
    int ViewY = 0;
    TResampleFilter ThumbnailResampleFilter = rfFastLinear;
    TResampleFilter ThumbnailDisplayFilter = rfNone;
    bool EnlargeSmallImages = true;
    bool UseEmbeddedThumbnails = true;
    bool ApplyOrientation = false;
    bool CacheDisplayCopies = true;
    bool EnableCaptions = true;
    // Above 0: picture corners of radius min(ThumbWidth, ThumbHeight) div
    // RoundCornersDivisor become transparent; borders are rounded alike.
    int RoundCornersDivisor = 0;
    classlib::TColor SelectionBackgroundColor = classlib::clHighlight;
    classlib::TColor SelectionTextColor = classlib::clHighlightText;
    int SelectionWidthNoFocus = 1;
    // Rounded selection frame (one rectangle of the selection width).
    bool SelectionAntialiased = true;
    bool GetFillThumbnail() const { return fillThumbnail_; }
    void SetFillThumbnail(bool Value);
    bool PaintAllThumbnails = false;
    int ChessboardSize = 16;
    classlib::TBrushStyle ChessboardBrushStyle = classlib::bsSolid;
    void SetChessboardStyle(int Size, classlib::TBrushStyle BrushStyle);
    classlib::TColor GradientEndColor = static_cast<classlib::TColor>(0xFF0000);
    int InvisibleKeepDistance = 15;
    // A shadow beside every picture (made once into the display copy).
    TPxVSoftShadow SoftShadow;
    // Frame pictures (owned copies). With both set, a cell shows
    // ThumbnailFrame (ThumbnailFrameSelected when selected) stretched over
    // it, the thumbnail goes into ThumbnailFrameRect (relative to the cell)
    // and no selection frame is drawn. nullptr removes a picture.
    TPxBitmap* GetThumbnailFrame() const { return thumbnailFrame_.get(); }
    TPxBitmap* GetThumbnailFrameSelected() const { return thumbnailFrameSelected_.get(); }
    void SetThumbnailFrame(TPxBitmap* Picture);
    void SetThumbnailFrameSelected(TPxBitmap* Picture);
    RECT ThumbnailFrameRect{0, 0, 0, 0};
    // Stored for applications; nothing in the control starts a transition.
    TPxTransitionType TransitionEffect = pxttNone;
    int TransitionDuration = 1000;
    TPxTransitionEffects* GetTransition() const { return transition_.get(); }
    int LookAheadCount = 0;
    int VisibleFrame = 0;
    bool Playing = false;

    // ---- entries
    int GetImageCount() const { return static_cast<int>(entries_.size()); }
    int AppendImage();
    int InsertImageAndSelect(int Index);
    int InsertImage(int Index);
    bool RemoveImage(int Index);
    void DeleteImage(int Index);
    void Clear();
    int GetSelectedImage() const { return selectedImage_; }
    // -1 deselects; out of range (or an empty grid) does nothing.
    void SetSelectedImage(int Index);

    std::wstring GetImageFileName(int Index);
    void SetImageFileName(int Index, const std::wstring& Name);
    classlib::TColor GetImageBackground(int Index);
    void SetImageBackground(int Index, classlib::TColor Color);
    int GetImageDelayTime(int Index);
    void SetImageDelayTime(int Index, int Ms);
    int GetImageSourceWidth(int Index);
    int GetImageSourceHeight(int Index);
    void SetImageSourceWidth(int Index, int Value);
    void SetImageSourceHeight(int Index, int Value);
    int GetImageID(int Index);
    void SetImageID(int Index, int ID);
    TPxMText* GetImageTopText(int Index);
    TPxMText* GetImageInfoText(int Index);
    TPxMText* GetImageBottomText(int Index);
    int GetImageRow(int Index);
    int GetImageCol(int Index);
    // The display rectangle of the picture inside its cell copy (set when
    // drawn); empty out of range.
    RECT GetImageRect(int Index);
    // Whether the entry has a stored image / a display copy (false out of
    // range). Taken under the lock.
    bool HasImage(int Index);
    bool HasDisplayCopy(int Index);
    // The size of the entry's stored image (0 without one).
    int GetStoredWidth(int Index);
    int GetStoredHeight(int Index);

    // Stores Bitmap (reduced to the box with pxtThumb); nullptr is ignored.
    // Bitmap is neither kept nor changed (transparent pixels are greyed in
    // the stored copy).
    void SetImageBitmap(int Index, TPxBaseBitmap* Bitmap);
    void SetImageTBitmap(int Index, classlib::TBitmap* Bitmap);
    void PrepareSpaceFor(int Width, int Height, int BitCount, int ImageCount);

    // The grid extent of the last layout.
    int GetExtentX() const { return extentX_; }
    int GetExtentY() const { return extentY_; }

    // ---- loading
    bool RequestImageLoad(int Index, int Position);
    bool LoadImageNow(int Index);
    TPxBitmap* FetchEntryImage(int Index);
    virtual void StopLoading();
    void CancelImageLoad(int Index);
    // Clear, then one entry per frame of the file, named FileName + "::" +
    // the frame number; nothing is loaded until the cells are drawn.
    void AddFileFramesOnDemand(const std::wstring& FileName);
    bool SetImageFromFile(int Index, const std::wstring& FileName, int Frame);
    bool SetImageFromFileOrStream(int Index, classlib::TStream* Stream, int Frame, const std::wstring& FileName);
    bool IsImageVisible(int Index);
    bool IsLookAhead(int Index);
    // Observers for callers and tests (taken under the lock).
    int GetRequestCount();
    int GetRunningLoaderCount();
    // Finished pool loads whose storing waits for the window's thread.
    int GetPendingCompletionCount();
    // Stores every finished pool load into the entry it was started for
    // (dropped when that entry went); runs on the window's thread only.
    void ApplyFinishedLoads();

    // ---- objects
    virtual TImgMIO* GetMIO();
    virtual TImgProc* GetProc();
    bool HasMIO() const { return mio_ != nullptr; }
    // The change record read by the attached multi-image I/O object.
    int GetLastChangeKind() const { return lastChangeKind_; }
    int GetLastChangeIndex() const { return lastChangeIndex_; }
    int GetLastChangeIndex2() const { return lastChangeIndex2_; }

    // ---- selection, mouse, keys, scrolling and playing (ImgMViewInteract.cpp)
    // Multi-selection options.
    enum : uint8_t { pxmoRegion = 1, pxmoSelectOnMouseUp = 2 };
    uint8_t MultiSelectionOptions = 0;
    // No current entry: clicks only build the multi-selection.
    bool NoCurrentImage = false;
    bool PlayLoop = true;
    bool ScrollBarsAlwaysVisible = false;
    TViewChangeEvent OnViewChange;
    TPxImageSelectEvent OnPlayFrame;
    // The selection primitive (see SetSelectedImage for the checked entry).
    void SelectEntry(int Index);
    bool IsSelected(int Index) const;
    int GetMultiSelectedCount() const { return static_cast<int>(multiSel_.size()); }
    int GetMultiSelectedImage(int i) const
    {
        return i >= 0 && i < GetMultiSelectedCount() ? multiSel_[static_cast<size_t>(i)] : -1;
    }
    void Deselect();
    void DeselectNoUpdate();
    virtual void DoImageSelect(int Index);
    virtual void DoImageDeselect(int Index);
    virtual void DoViewChange(int Change);
    int ImageAtPos(int X, int Y);
    int ImageAtGridPos(int Row, int Column);
    // 0 hidden, 1 partly, 2 wholly inside the client area.
    int ImageVisibility(int Index);
    // 0 previous, 1 next, 2 up, 3 down, 4 first, 5 last, 6 page forward,
    // 7 page back.
    void MoveSelection(int Kind);
    void SelectAtPos(int X, int Y, classlib::TShiftState Shift);
    void SetViewX(int Value);
    void SetViewY(int Value);
    void SetViewXY(int X, int Y);
    void GetMaxViewXY(int& MaxX, int& MaxY);
    // Line and page steps of the scroll messages (-1: one cell / the client).
    int VertLineStep = -1;
    int VertPageStep = -1;
    int HorzLineStep = -1;
    int HorzPageStep = -1;
    bool ScrollTracking = true;
    void SetPlaying(bool Value);
    void PlayStep();

protected:
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void MouseUp(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;
    // Scroll, wheel, double-click, timer and focus messages; true when handled.
    bool InteractMessage(classlib::TMessage& Message);

public:
    // ---- end of selection, mouse, keys, scrolling and playing

    // ---- TPxView
    void SetBackground(classlib::TColor Value) override;
    classlib::TColor GetBackground() override { return TPxView::GetBackground(); }
    classlib::TBitmap* GetBitmap() override;
    TPxBitmap* GetPxBitmap() override;
    TPxBitmap* GetAlphaChannel() override { return nullptr; }
    bool HasAlphaChannel() override { return false; }
    void RemoveAlphaChannel(bool) override {}
    void BeginPaintLock() override;
    int EndPaintLock() override;
    int EndPaintLockNoUpdate() override;
    void NotifyBitmapChange() override;
    void Update() override;
    void UpdateLayout(bool DropCopies);

    // ---- painting
    void Paint() override;
    // Draws the whole client area into Bitmap (client size, made pf24bit).
    virtual void PaintTo(classlib::TBitmap* Bitmap);
    virtual void DoWrongImage(TPxBitmap* Bitmap, int Index);

    // ---- TPxProcView
    classlib::TComponent* GetViewComponent() override { return this; }
    intptr_t RegisterBitmapChangeEvent(const TPxBitmapChangeEvent& Handler, classlib::TObject* Owner) override
    {
        return TPxView::RegisterBitmapChangeEvent(Handler, Owner);
    }
    void RemoveBitmapChangeEvent(intptr_t Handle) override { TPxView::RemoveBitmapChangeEvent(Handle); }
    void DoImageChange() override {}
    bool IsImageView() override { return false; }
    bool IsVectView() override { return false; }
    bool HasSelection() override { return false; }
    TPxMask* GetSelectionMask() override { return nullptr; }
    const POINT* GetSelectionPolygon(int& Count) override
    {
        Count = 0;
        return nullptr;
    }
    void SaveSelectionToStream(classlib::TStream*) override {}
    void LoadSelectionFromStream(classlib::TStream*, int) override {}
    int GetLayersCount() override { return 0; }
    int GetLayersCurrent() override { return 0; }
    TPxBitmap* GetLayerBitmap(int) override { return nullptr; }
    TPxLayerIdentifier GetLayerIdentifier(int) override { return {}; }
    void LayerSaveToStream(int, classlib::TStream*, bool) override {}
    void LayerLoadFromStream(int, classlib::TStream*) override {}
    void LayersSaveToStream(classlib::TStream*, int) override {}
    bool LayersLoadFromStream(classlib::TStream*) override { return false; }
    void SaveToStreamPxV(classlib::TStream*) override {}
    bool LoadFromStreamPxV(classlib::TStream*) override { return false; }
    void SaveToStreamAll(classlib::TStream*, int) override {}
    bool LoadFromStreamAll(classlib::TStream*) override { return false; }

protected:
    void WndProc(classlib::TMessage& Message) override;

private:
    friend class TPxStarter;
    friend class TImgMIO;

    // One pool load. IO is declared last so that it goes first: its
    // destructor waits for the worker, which may still use Bitmap.
    struct TLoader {
        std::unique_ptr<TPxBitmap> Bitmap;
        // The worker's reduction of Bitmap (nullptr: store Bitmap as it is).
        std::unique_ptr<TPxBitmap> Reduced;
        std::unique_ptr<TImgIO> IO;
        // 0 running, 1 finishing on the worker, 2 waiting for the window's
        // thread, 3 done (freed by the next purge). Under StarterLock.
        int State = 0;
    };

    TImgMViewEntry* Entry(int Index) const;
    std::unique_ptr<TImgMViewEntry> NewEntry();
    // Inserts an entry (appends for Index >= count) without recording it.
    int InsertEntry(int Index);
    void FreeEntryImages(TImgMViewEntry* E);
    void DropDisplayCopies();
    void DropDisplayCopy(TImgMViewEntry* E);
    void RecordChange(int Kind, int Index, int Index2);
    void ReleaseCurrent(bool WriteBack);
    void LayoutGrid();
    bool LayoutAllowed();
    // The thumbnail of Source for a box, or nullptr when Source is stored as
    // it is. Needs no lock (it reads only its arguments). GreyTransparent
    // greys the transparent pixels of a copy; ConvertTo24 converts Source
    // itself to px24RGB first when Filter is not rfNone (loaders' own images).
    static std::unique_ptr<TPxBitmap> MakeStoredImage(TPxBaseBitmap* Source, TPxStoreType StoreType, bool Enlarge,
                                                      int BoxW, int BoxH, TResampleFilter Filter,
                                                      bool GreyTransparent, bool ConvertTo24);
    void StoreReduced(int Index, TPxBaseBitmap* Bitmap, bool GreyTransparent, bool ConvertTo24);
    void StoreItem(TImgMViewEntry* E, TPxBaseBitmap* Bitmap, int SourceW, int SourceH);
    void ApplyThumbSettings(TImgIO* IO, TImgMViewEntry* E);
    void StartPlainLoad(TImgIO* IO, const std::wstring& FileName);
    TImgIO* GetFrameReader(const std::wstring& Name, int& Frame);
    // Frame Frame of the reader's file into its image: pages and frames of
    // formats the registry reads by content, video (AVI and every file no
    // row reads) through the reader's open media file. Returns the frame's
    // delay in milliseconds; a frame that gives no picture sets the
    // reader's aborting flag.
    int LoadFrame(TImgIO* Reader, int Frame);
    void FinishLoad(int Index, TImgIO* IO, TPxBitmap* Bitmap);
    void PurgeLoaders(std::vector<TLoader>& Freed);
    void PruneRequests();
    int FindRequest(int Index);
    // One dispatcher pass; true when there is nothing left to watch.
    bool DispatchPass(TPxStarter* Starter);
    void StoreLocked(int Index, TPxBaseBitmap* Image, int SourceW, int SourceH);
    void WakeStarter();
    // The loader's finish notification (on its worker thread): reduces the
    // image and hands the rest to the window's thread (ApplyFinishedLoads).
    void LoaderFinished(classlib::TObject* Sender);
    TLoader* FindLoader(TImgIO* IO);
    bool CanReloadImage(TImgMViewEntry* E);
    void DrawThumbnail(classlib::TBitmap* Bitmap, TImgMViewEntry* E, int Index, bool Selected);
    // The steps of DrawThumbnail over one cell's record: the place (frame
    // picture, OnBeforeImageDrawEx), the picture from the image list or the
    // cache of display copies, what surrounds it, and the frames, border and
    // selection.
    struct TThumbCell;
    void PlaceThumbnailCell(classlib::TBitmap* Bitmap, int Index, bool Selected, TThumbCell& Cell);
    bool DrawThumbnailFromImage(classlib::TBitmap* Bitmap, TImgMViewEntry* E, TThumbCell& Cell);
    bool DrawThumbnailFromCache(classlib::TBitmap* Bitmap, TImgMViewEntry* E, TThumbCell& Cell);
    void DrawPictureSurround(classlib::TCanvas* C, TImgMViewEntry* E, const TThumbCell& Cell);
    void DrawCellFrames3D(classlib::TCanvas* C, TImgMViewEntry* E, const TThumbCell& Cell);
    void DrawThumbnailBorder(classlib::TCanvas* C, const TThumbCell& Cell);
    void DrawThumbnailSelection(classlib::TCanvas* C, const TThumbCell& Cell);
    void DrawCaptions(classlib::TCanvas* C, TImgMViewEntry* E, int x, int y, int w, int h, bool Selected);
    void FillSolid(classlib::TCanvas* C, const RECT& R, classlib::TColor Color);
    // Display (w x h) with SoftShadow added, resampled back to w x h; sets
    // E's ImageRect to the picture inside it.
    std::unique_ptr<TPxBitmap> AddThumbnailShadow(std::unique_ptr<TPxBitmap> Display, TImgMViewEntry* E);

    classlib::TCriticalSection starterLock_;
    // Queued completions run only while it still names this control (set
    // to nullptr by the destructor; both on the window's thread).
    std::shared_ptr<TImgMView*> alive_ = std::make_shared<TImgMView*>(this);
    std::vector<std::unique_ptr<TImgMViewEntry>> entries_;
    std::unique_ptr<TPxVirtualImageList> ilist_;
    std::unique_ptr<TPxVirtualImageList> icache_;
    std::unique_ptr<TPxBitmap> backBuffer_;
    TImgIO* internalIO_ = nullptr;
    std::vector<int> requestQueue_;
    std::vector<TLoader> runningLoaders_;
    std::vector<int> lookAheadList_;
    std::vector<TImgIO*> frameReaders_;
    std::unique_ptr<TPxStarter> starter_;
    TImgMIO* mio_ = nullptr;
    TImgProc* proc_ = nullptr;
    TPxBitmap* current_ = nullptr;  // checked out of ilist_
    TPxVirtualImageItem* currentItem_ = nullptr;

    TScrollStyle scrollBars_ = ssBoth;
    bool flatScrollBars_ = false;
    int thumbWidth_ = 100;
    int thumbHeight_ = 100;
    int horizBorder_ = 4;
    int vertBorder_ = 4;
    int bottomGap_ = 0;
    int upperGap_ = 0;
    bool visibleSelection_ = true;
    TPxMMouseInteract mouseInteract_ = mmiSelect;
    TPxMKeyInteract keyInteract_ = mkiMoveSelected;
    TPxMDisplayMode displayMode_ = mdGrid;
    TPxMDisplayMode pendingDisplayMode_ = mdGrid;
    int gridWidth_ = 0;
    int selectionWidth_ = 2;
    classlib::TColor selectionColor_ = static_cast<classlib::TColor>(0xFFA0A0);
    bool removeCorrupted_ = false;
    bool drawImageBackground_ = false;
    int imageCacheSize_ = 10;
    TPxMStyle style_ = pxmsACD;
    TPxSStyle selectionStyle_ = pxssAround;
    bool enableMultiSelect_ = false;
    int thumbnailsBorderWidth_ = 0;
    classlib::TColor thumbnailsBorderColor_ = classlib::clBtnFace;
    bool thumbnailsInternalBorder_ = false;
    classlib::TColor thumbnailsInternalBorderColor_ = classlib::clBlack;
    bool enableAlphaChannel_ = true;
    TPxBackgroundStyle backgroundStyle_ = pxbsSolid;
    TPxBackgroundStyle thumbnailsBackgroundStyle_ = pxbsSolid;
    bool fillThumbnail_ = true;
    std::unique_ptr<classlib::TPicture> wallPaper_;
    std::unique_ptr<TPxTransitionEffects> transition_;
    std::unique_ptr<TPxBitmap> thumbnailFrame_;
    std::unique_ptr<TPxBitmap> thumbnailFrameSelected_;
    TPxWallPaperStyle wallPaperStyle_ = pxwoNormal;

    TPxProgressEvent onProgress_;
    classlib::TNotifyEvent onFinishWork_;
    int selectedImage_ = -1;
    int paintLock_ = 0;
    bool inLayout_ = false;
    std::atomic<bool> destroying_{false};
    int extentX_ = 0;
    int extentY_ = 0;
    int lastChangeKind_ = 0;
    int lastChangeIndex_ = 0;
    int lastChangeIndex2_ = 0;
    bool allDisplayed_ = false;
    // Selection and interaction state.
    std::vector<int> multiSel_;
    bool addMode_ = false;
    bool keepMode_ = false;
    bool rangeMade_ = false;
    bool selChanged_ = false;
    bool userAction_ = false;
    bool pressed_ = false;
    bool ignorePress_ = false;
    int pressX_ = 0;
    int pressY_ = 0;
    int pressViewX_ = 0;
    int pressViewY_ = 0;
    int pressEntry_ = -1;
    int lastEntry_ = -1;
    int anchor_ = -1;
    UINT_PTR timer_ = 0;
    bool inPlayStep_ = false;
    int playSelected_ = -1;
    void SelectRange(int From, int X, int Y, classlib::TShiftState Shift);
    int Columns();
    // Shows, hides or sets one bar (SB_HORZ or SB_VERT) for the largest
    // offset Max; during a layout.
    void UpdateScrollBar(int Bar, int Max, int ClientSize, int Offset);
    void UpdateScrollBars();
    void SetScrollBarPos(int Bar, int Offset);
};

// Text as drawn in a cell Width pixels wide: a caption wider than Width is
// shortened (k = 2, 3, ...) until it fits: TruncSide 0 keeps the first
// (length - k) characters followed by "...", 1 gives "..." followed by the
// characters from position k (counted from 1) on; it stops when nothing
// would be left.
std::wstring PxShortenCaption(classlib::TCanvas* Canvas, const std::wstring& Text, int Width, int TruncSide);

// The dispatcher of one grid: starts queued loads while fewer than the
// grid's ThreadPoolSize run. Created suspended; started by the first request;
// between passes it waits on its wake event (50 ms while it has work).
class TPxStarter : public classlib::TThread {
public:
    explicit TPxStarter(TImgMView* View);
    ~TPxStarter() override;
    std::wstring ClassName() const override { return L"TPxStarter"; }
    // Starts the thread on first use and wakes it.
    void Wake();
    // Terminate, wake and wait (nothing when never started).
    void Stop();

protected:
    void Execute() override;

private:
    TImgMView* view_;
    HANDLE wake_;
    std::atomic<bool> started_{false};
};

}  // namespace imaging
