// Image lists: a component over a common-controls image list (HIMAGELIST)
// with change notification.
//
// Handle: made on first use with the list's Width, Height, Masked and
// AllocBy, or set from outside (SetHandle). With ShareImages false the list
// owns its handle and destroys it when it is replaced or the list is deleted;
// with ShareImages true the handle is only borrowed and never destroyed by
// the list. Changing Width, Height or Masked drops the images (a new handle
// is made on next use).
//
// Change notification: every change of the images or of the drawing
// settings calls Change, which tells every registered TChangeLink (in
// registration order) and then fires OnChange. Between BeginUpdate and the
// matching EndUpdate changes are collected and reported once by EndUpdate.
// A change link unregisters itself when deleted, and a list deleted before
// its links leaves them without a sender.
//
// Bitmaps handed to Add, Insert and Replace are copied; the caller keeps
// them. Image lists belong to the user-interface thread.
//
// Failure: an index outside the list raises EInvalidOperation "Image list
// index out of bounds (<index>)"; the system refusing an image raises
// EInvalidOperation "Failed to add image" / "Failed to replace image"; a
// handle that cannot be made raises EInvalidOperation "Invalid image list".
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Component.h"
#include "classlib/Graphics.h"

namespace classlib {

class TCustomImageList;
class TIcon;

// A registration for the changes of one image list.
class TChangeLink : public TObject {
public:
    TChangeLink() = default;
    ~TChangeLink() override;
    TChangeLink(const TChangeLink&) = delete;
    TChangeLink& operator=(const TChangeLink&) = delete;
    std::wstring ClassName() const override { return L"TChangeLink"; }

    // The list this link is registered with (null when none).
    TCustomImageList* GetSender() const { return sender_; }
    // Registers with Value (unregistering from the previous list first).
    void SetSender(TCustomImageList* Value);

    // Called by the list on every change; fires OnChange(Sender).
    virtual void Change();
    TNotifyEvent OnChange;

private:
    friend class TCustomImageList;
    TCustomImageList* sender_ = nullptr;
};

// How Draw draws an image (the image list's ILD_FOCUS, ILD_SELECTED,
// ILD_NORMAL, ILD_TRANSPARENT).
enum TDrawingStyle { dsFocus, dsSelected, dsNormal, dsTransparent };
// Draw the image itself or its mask.
enum TImageType { itImage, itMask };
// Overlay number 0..14 (the system's overlay images 1..15).
using TOverlay = uint8_t;

class TCustomImageList : public TComponent {
public:
    explicit TCustomImageList(TComponent* Owner);
    TCustomImageList(TComponent* Owner, int Width, int Height);
    ~TCustomImageList() override;
    std::wstring ClassName() const override { return L"TCustomImageList"; }

    // The image list handle; made when there is none.
    HIMAGELIST GetHandle();
    // Takes Value as the list's handle (owned unless ShareImages) after
    // freeing the previous one; Width, Height and BkColor are read from it.
    // 0 drops the handle.
    void SetHandle(HIMAGELIST Value);
    bool HandleAllocated() const { return handle_ != nullptr; }
    bool GetShareImages() const { return shareImages_; }
    void SetShareImages(bool Value) { shareImages_ = Value; }

    int GetWidth() const { return width_; }
    void SetWidth(int Value);
    int GetHeight() const { return height_; }
    void SetHeight(int Value);
    bool GetMasked() const { return masked_; }
    void SetMasked(bool Value);
    // The number of images the list grows by.
    int GetAllocBy() const { return allocBy_; }
    void SetAllocBy(int Value) { allocBy_ = Value > 0 ? Value : 1; }
    // The number of images (0 without a handle).
    int GetCount() const;

    // Background colour of the list (clNone: drawn transparently).
    TColor GetBkColor() const { return bkColor_; }
    void SetBkColor(TColor Value);
    // Colour blended in by dsFocus and dsSelected (clNone: the colour of
    // the destination; clDefault: the system's highlight colour).
    TColor GetBlendColor() const { return blendColor_; }
    void SetBlendColor(TColor Value);
    TDrawingStyle GetDrawingStyle() const { return drawingStyle_; }
    void SetDrawingStyle(TDrawingStyle Value);
    TImageType GetImageType() const { return imageType_; }
    void SetImageType(TImageType Value);

    // Adds Image (a strip of several images when it is wider than the list)
    // with a 1-bit mask (white: transparent; may be null). Returns the index
    // of the first image added.
    int Add(TBitmap* Image, TBitmap* Mask);
    // Adds Image with every pixel of MaskColor transparent.
    int AddMasked(TBitmap* Image, TColor MaskColor);
    int AddIcon(TIcon* Image);
    // Adds every image of Value (with its mask) to this list.
    void AddImages(TCustomImageList* Value);
    // Inserts before Index (0..Count).
    void Insert(int Index, TBitmap* Image, TBitmap* Mask);
    void Replace(int Index, TBitmap* Image, TBitmap* Mask);
    void ReplaceMasked(int Index, TBitmap* NewImage, TColor MaskColor);
    void Delete(int Index);
    void Clear();
    // Moves the image at CurIndex to NewIndex; the others keep their order.
    void Move(int CurIndex, int NewIndex);

    // Image Index drawn into Image (resized to the list's size; filled with
    // BkColor unless clNone). False for a bad index.
    bool GetBitmap(int Index, TBitmap* Image);
    // Image Index as a new icon handed to Image. False for a bad index.
    bool GetIcon(int Index, TIcon* Image);

    // Draws image Index at (X, Y) in DrawingStyle and ImageType. Disabled
    // images show embossed: their dark, opaque pixels as a shape drawn in
    // clBtnHighlight one pixel down and right, then in clBtnShadow.
    void Draw(TCanvas* Canvas, int X, int Y, int Index, bool Enabled = true);
    // As Draw, with overlay image Overlay on top.
    void DrawOverlay(TCanvas* Canvas, int X, int Y, int ImageIndex, TOverlay Overlay, bool Enabled = true);
    // Makes image ImageIndex overlay number Overlay.
    bool Overlay(int ImageIndex, TOverlay Overlay);

    void RegisterChanges(TChangeLink* Value);
    void UnRegisterChanges(TChangeLink* Value);
    void BeginUpdate();
    void EndUpdate();

    TNotifyEvent OnChange;

protected:
    // Tells the change links and OnChange (collected while updating).
    virtual void Change();
    virtual void DoDraw(int Index, TCanvas* Canvas, int X, int Y, UINT Style, bool Enabled);

private:
    void FreeHandle();
    void CheckIndex(int Index, int Count) const;
    // Copies of bitmaps fit for the system (not selected into any DC).
    HBITMAP CopyImage(TBitmap* Image) const;
    HBITMAP CopyMask(TBitmap* Mask) const;
    void DrawDisabled(int Index, TCanvas* Canvas, int X, int Y);

    HIMAGELIST handle_ = nullptr;
    bool shareImages_ = false;
    int width_ = 16, height_ = 16;
    bool masked_ = true;
    int allocBy_ = 4;
    TColor bkColor_ = clNone;
    TColor blendColor_ = clNone;
    TDrawingStyle drawingStyle_ = dsNormal;
    TImageType imageType_ = itImage;
    std::vector<TChangeLink*> links_;
    int updateCount_ = 0;
    bool changed_ = false;
};

class TImageList : public TCustomImageList {
public:
    using TCustomImageList::TCustomImageList;
    std::wstring ClassName() const override { return L"TImageList"; }
};

}  // namespace classlib
