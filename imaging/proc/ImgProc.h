// TImgProc: the processing object of the image toolkit.
//
// The object carries out image operations on one TPxBitmap (the worked
// image) and keeps bounded undo and redo lists of it. The worked image is one
// of (the attachment state):
//   own image      - created by the object (after construction, after
//                    AttachedImg := nullptr, and after the attached view was
//                    destroyed); freed by it;
//   handed-in      - a TPxBitmap given to AttachBitmap / CreateForBitmap /
//                    ReplaceBitmap, borrowed (nullptr: no image, every
//                    operation does nothing);
//   TBitmap        - an own TPxBitmap wrapping a class-library TBitmap
//                    without copying (AttachVclBitmap, the picture of an
//                    attached TImage, or a view that offers only a TBitmap);
//                    the TBitmap is borrowed and wrapped again at the start
//                    of every operation, so outside changes are seen;
//   view           - the current image of an attached view (TPxProcView),
//                    borrowed; the object follows the view's image changes
//                    through the view's bitmap-change registration.
// At most one of view, TImage and handed-in image is in force. A borrowed
// holder must outlive its attachment; views and TImages are forgotten
// automatically when they are destroyed (the TBitmap of a destroyed TImage
// is never touched again).
//
// Operations run inside one frame: prepare the image and its pixel format
// (CheckPixelFormat), store an undo entry when AutoUndo is set, limit region
// operations to the view's selection (BeginProcessing / EndProcessing),
// refresh the attached view or TBitmap, then fire OnProgress(100) and
// OnFinishWork. Operations report no errors: an operation that cannot run
// (no image, a pixel format it does not accept while AutoConvertFormat is
// off, an argument out of range) returns without change, undo entry or
// event. Exceptions of the class library (out of memory, a failing
// temporary file) pass through.
//
// Undo: entries are snapshots of the worked image (TPxBitmap held in a
// temporary file) or of the view's selection, layers and objects
// (TMemoryStream), see TPxUndoSource. UndoAt / RedoAt / DiscardUndoAt count
// from the newest entry (0 = newest); UndoSourceAt counts from the oldest.
// Applying an entry never removes it.
//
// Threads: main thread only; the object holds no lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "classlib/StringList.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxTypes.h"
#include "imaging/proc/ImgProcView.h"

namespace classlib {
class TBitmap;
class TFont;
class TForm;
class TImage;
class TStream;
}  // namespace classlib

namespace imaging {

class TPxBitmap;
class TPxMask;

// Kinds of undo and redo entries.
enum TPxUndoSource : uint8_t {
    pxuUnknown = 0,
    pxuImage = 1,           // a copy of the worked image (temporary file)
    pxuSelection = 2,       // the view's selection stream
    pxuObject = 3,          // the vector view's objects ("PXV" stream)
    pxuLayer = 4,           // one record per layer, images excluded
    pxuFullLayer = 5,       // as pxuLayer, the current layer's image included
    pxuObjectsAndLayers = 6 // layers and objects, or the layers file
};

// Options of the preview dialogs (a set of bit flags).
using TPRPreviewsParams = uint32_t;
constexpr TPRPreviewsParams prppDefaultLockPreview = 1u << 0;
constexpr TPRPreviewsParams prppShowResetButton = 1u << 1;
constexpr TPRPreviewsParams prppHardReset = 1u << 2;

// A set of pixel formats: bit f stands for TPxPixelFormat f; 0 = any.
using TPxPixelFormatSet = uint32_t;
constexpr TPxPixelFormatSet PxFormatBit(TPxPixelFormat Format) { return 1u << Format; }
constexpr TPxPixelFormatSet PxAnyFormat = 0;

using TPxSaveUndoEvent = classlib::TEvent<void(classlib::TObject* Sender, TPxUndoSource Source)>;
using TPxPreviewEvent = classlib::TEvent<void(classlib::TObject* Sender, classlib::TForm* PreviewForm)>;

class TImgProc : public classlib::TComponent {
public:
    // AutoUndo is true exactly when Owner is given.
    explicit TImgProc(classlib::TComponent* Owner);
    // Create(nullptr), then AttachBitmap(Bitmap).
    static std::unique_ptr<TImgProc> CreateForBitmap(TPxBitmap* Bitmap);
    ~TImgProc() override;
    std::wstring ClassName() const override { return L"TImgProc"; }

    // ---- public fields
    bool AutoUndo;
    TMsgLanguage MsgLanguage = msSystem;
    bool AutoConvertFormat = true;
    TPxPreviewEvent OnPreview;
    TPxProgressEvent OnProgress;
    classlib::TNotifyEvent OnFinishWork;
    TPxSaveUndoEvent OnSaveUndo;

    // ---- attaching
    TPxProcView* GetAttachedImg() const { return attachedImg_; }
    void SetAttachedImg(TPxProcView* Value);
    classlib::TImage* GetAttachedTImage() const { return attachedTImage_; }
    void SetAttachedTImage(classlib::TImage* Value);
    // nullptr while a view or a TImage is attached does nothing.
    void AttachBitmap(TPxBitmap* Bitmap);
    void AttachVclBitmap(classlib::TBitmap* Bitmap);
    // Makes Bitmap the worked image, not owned (the wrapped TBitmap is
    // forgotten, an own image freed).
    void ReplaceBitmap(TPxBitmap* Bitmap);
    // The method registered with an attached view.
    void ViewBitmapChanged(classlib::TObject* Sender, bool Destroying);

    // The worked image (nullptr when none), and whether this object owns it.
    TPxBitmap* GetBitmap() const { return bitmap_; }
    bool GetOwnsBitmap() const { return ownsBitmap_; }
    classlib::TBitmap* GetWrappedVclBitmap() const { return wrappedVcl_; }
    intptr_t GetRegistrationHandle() const { return registration_; }

    // ---- properties
    classlib::TColor GetBackground() const;
    void SetBackground(classlib::TColor Value);
    TPRPreviewsParams GetPreviewsParams() const { return previewsParams_; }
    void SetPreviewsParams(TPRPreviewsParams Value) { previewsParams_ = Value; }
    classlib::TFont* GetPreviewFont() const { return previewFont_.get(); }
    void SetPreviewFont(classlib::TFont* Value);
    int GetUndoLimit() const { return undoLimit_; }
    void SetUndoLimit(int Value) { undoLimit_ = Value; }

    // ---- the operation frame
    bool PrepareBitmap(TPxPixelFormatSet Allowed);
    bool CheckPixelFormat(TPxPixelFormatSet Allowed);
    virtual bool GetWorkArea(int& X1, int& Y1, int& X2, int& Y2, const POINT*& PolygonPoints, int& PolygonCount,
                             TPxMask*& Mask);
    // WorkBitmap is the worked image or a selection copy that EndProcessing
    // writes back and frees.
    bool BeginProcessing(TPxPixelFormatSet Allowed, int& X1, int& Y1, int& X2, int& Y2, const std::wstring& Caption,
                         TPxBitmap*& WorkBitmap, TPxMask*& Mask);
    void EndProcessing(TPxBitmap* WorkBitmap, TPxMask* Mask);
    void RefreshAttached();
    virtual void DoFinishWork();

    // ---- undo and redo
    virtual void SaveUndo(TPxUndoSource Source);
    virtual void Undo(bool SaveRedo);
    virtual void UndoAt(int Index, bool SaveRedo);
    virtual void SaveRedo(TPxUndoSource Source);
    virtual void DiscardLastRedo();
    virtual void Redo();
    virtual void RedoAt(int Index);
    void SaveUndoCaptioned(const std::wstring& Caption, TPxUndoSource Source);
    void ClearAllUndo();
    void ClearAllRedo();
    void DiscardUndoAt(int Index);
    TPxUndoSource UndoSourceAt(int Position) const;
    int GetUndoCount() const { return static_cast<int>(undo_.size()); }
    int GetRedoCount() const { return static_cast<int>(redo_.size()); }
    TPxUndoSource RedoSourceAt(int Position) const;
    // Captions by position (0 = oldest), read and written by the views.
    classlib::TStringList* GetUndoCaptions() const { return undoCaptions_.get(); }
    classlib::TStringList* GetRedoCaptions() const { return redoCaptions_.get(); }
    TPxLocation GetUndoLocation() const { return undoLocation_; }

    // ---- operations
    void ImageResize(int NewWidth, int NewHeight, uint8_t HorizAlign, uint8_t VertAlign, int Alpha);
    void Clear();
    void Negative();
    void ConvertToGray();
    void ConvertTo(int NumColors, bool Threshold);
    // Palette receives NumColors entries (black and white below 3 colours).
    void ConvertToPalette(int NumColors, TPxRGB* Palette, bool Threshold);
    // Colour -1 takes Background.
    void Rotate(double Angle, bool AntiAlias, uint8_t Quality, classlib::TColor Colour);
    void Resample(int NewWidth, int NewHeight, TResampleFilter Filter);
    void ResampleTo(TPxBitmap* Dest, int NewWidth, int NewHeight, TResampleFilter Filter);
    void Fill(TPxRGB Color);
    // Inclusive rectangle inside the image.
    void Crop(int X1, int Y1, int X2, int Y2);
    // Crop(Left, Top, Right, Bottom): right and bottom inclusive.
    void CropRect(const RECT& Rect);
    void CropToAlphaBounds();

protected:
    void Notification(classlib::TComponent* Component, classlib::TOperation Operation) override;

private:
    struct TUndoList {
        std::vector<std::unique_ptr<classlib::TObject>> Entries;
        std::vector<TPxUndoSource> Kinds;
        size_t size() const { return Entries.size(); }
    };

    void FreeOwnBitmap();
    void UseOwnBitmap();
    void DetachView();
    void ForgetView();
    void TakeViewImage();
    void RewrapVcl();
    // The bitmap of the attached TImage's picture (nullptr without a TImage,
    // or when the picture now holds another graphic class); Create gives the
    // picture a bitmap when it holds none or another class.
    classlib::TBitmap* TImagePictureBitmap(bool Create);
    void ReleaseTImage(bool Unlink);
    // The undo machinery shared by the undo and redo lists.
    std::unique_ptr<classlib::TObject> BuildEntry(TPxUndoSource Source, bool& Prepared);
    bool AppendEntry(TUndoList& List, classlib::TStringList& Captions, TPxUndoSource Source, bool& Prepared);
    void Restore(classlib::TObject* Entry, TPxUndoSource Kind);
    void RestoreLayers(classlib::TStream* Stream);
    void RemoveAt(TUndoList& List, classlib::TStringList& Captions, size_t Position);
    // A region operation: BeginProcessing, Work on the rectangle of the work
    // bitmap, EndProcessing (also when Work raises), DoFinishWork.
    void RunRegion(TPxPixelFormatSet Allowed, const std::wstring& Caption,
                   const std::function<void(TPxBitmap* Work, int X1, int Y1, int X2, int Y2)>& Work);
    // The whole-image operations' epilogue.
    void FinishWhole();

    TPxProcView* attachedImg_ = nullptr;
    classlib::TComponent* attachedComponent_ = nullptr;
    intptr_t registration_ = -1;
    classlib::TColor background_ = 0;
    TPRPreviewsParams previewsParams_ = prppShowResetButton | prppHardReset;
    std::unique_ptr<classlib::TFont> previewFont_;
    classlib::TImage* attachedTImage_ = nullptr;
    // The same TImage as a component (for notifications).
    classlib::TComponent* attachedTImageComponent_ = nullptr;
    TPxBitmap* bitmap_ = nullptr;
    bool ownsBitmap_ = true;
    TUndoList undo_;
    TUndoList redo_;
    TPxLocation undoLocation_ = pxFile;
    int undoLimit_ = 1;
    std::unique_ptr<classlib::TStringList> undoCaptions_;
    std::unique_ptr<classlib::TStringList> redoCaptions_;
    classlib::TBitmap* wrappedVcl_ = nullptr;
    // The last SaveUndo appended an entry.
    bool lastSaveAppended_ = false;
};

}  // namespace imaging
