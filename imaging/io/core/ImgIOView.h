// What an I/O object needs of the view it is attached to.
//
// A view (a window that shows an image) implements TPxIOView; the I/O object
// (TImgIO) works on the view's current image, keeps the view's resolution in
// step with its parameters, and tells the view about changes: on the view's
// own thread by calling it, from a worker thread only by posting messages
// to the view's window (PxMsgImageChanged, PxMsgProgress, PxMsgFinishWork).
// The view handles those messages on its own thread:
//   PxMsgImageChanged (WParam 0, LParam 0): Update and DoImageChange;
//   PxMsgProgress (WParam = percent, LParam 0): its own progress handler;
//   PxMsgFinishWork (WParam 0, LParam 0): its own finish handler.
//
// A view without a parent window gets no messages; a worker's image-changed
// notification reaches its DoImageChange as a call queued to the main
// thread (classlib::TThread::Queue).
//
// Threads: every member is called on the view's (main) thread, except
// HasParentWindow and HandleAllocated, which a worker may call (they only
// read state), and GetWindowHandle, which a worker calls only once
// HandleAllocated is true. The window is created only on the main thread (a
// worker asks for it through a synchronised call).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "classlib/Events.h"
#include "classlib/Graphics.h"
#include "imaging/io/formats/psd/PsdReader.h"

namespace classlib {
class TBitmap;
class TComponent;
class TObject;
class TStream;
}  // namespace classlib

namespace imaging {

class TPxBitmap;

// Window messages between an I/O object's workers and the attached view.
constexpr UINT PxMsgImageChanged = 8024;  // 0x1F58
constexpr UINT PxMsgNewFrame = 8025;      // 0x1F59, video objects
constexpr UINT PxMsgGraphEvent = 8026;    // 0x1F5A, video objects
constexpr UINT PxMsgProgress = 8027;      // 0x1F5B
constexpr UINT PxMsgFinishWork = 8028;    // 0x1F5C

// The view calls a registered handler with Destroying false whenever its
// current image object is replaced and with true when it is destroyed.
using TPxViewBitmapChangeEvent = classlib::TEvent<void(classlib::TObject* Sender, bool Destroying)>;

class TPxIOView {
public:
    virtual ~TPxIOView() = default;

    // The component of the view, for free notification (the I/O object
    // forgets the view when it is destroyed).
    virtual classlib::TComponent* GetViewComponent() = 0;

    // The current image (nullptr when the view offers only a TBitmap), and
    // the image as a class-library bitmap (nullptr unless the view keeps one).
    virtual TPxBitmap* GetPxBitmap() = 0;
    virtual classlib::TBitmap* GetBitmap() = 0;

    // Change handlers: the handle identifies the registration; removing nil,
    // a negative handle or one not registered is ignored.
    virtual intptr_t RegisterBitmapChangeEvent(const TPxViewBitmapChangeEvent& Handler, classlib::TObject* Owner) = 0;
    virtual void RemoveBitmapChangeEvent(intptr_t Handle) = 0;

    virtual classlib::TColor GetBackground() = 0;
    virtual int GetDpiX() = 0;
    virtual int GetDpiY() = 0;
    // Store the resolution; 0 is ignored.
    virtual void SetDpiX(int Value) = 0;
    virtual void SetDpiY(int Value) = 0;
    void SetDpi(int X, int Y)
    {
        SetDpiX(X);
        SetDpiY(Y);
    }

    // True for a single-image view with layers and an update lock.
    virtual bool IsImageView() = 0;
    // The update lock of an image view (nothing on other views).
    virtual void BeginUpdateLock() {}
    virtual void EndUpdateLockNoUpdate() {}

    // Window: whether the view sits in a parent window, whether its window
    // exists, and the window (created on demand, on the main thread only).
    virtual bool HasParentWindow() = 0;
    virtual bool HandleAllocated() = 0;
    virtual HWND GetWindowHandle() = 0;

    // Recomputes the layout and repaints.
    virtual void Update() = 0;
    // The image-changed notification of the view.
    virtual void DoImageChange() = 0;

    // Layer and vector-object data read into the view itself (file types 25
    // vector objects, 26 layers, 27 layers and objects): -1 when the view
    // does not hold that kind of data (nothing is read), 0 when the data was
    // refused, 1 when loaded. Errors of the data propagate.
    virtual int LoadViewDataFromFile(const std::wstring& FileName, int32_t FileType)
    {
        (void)FileName;
        (void)FileType;
        return -1;
    }
    virtual int LoadViewDataFromStream(classlib::TStream* Stream, int32_t FileType)
    {
        (void)Stream;
        (void)FileType;
        return -1;
    }

    // Layered documents (PSD). A view with layers answers true and:
    // ClearDocumentLayers leaves it one empty base layer; TakeDocumentLayers
    // puts Layers (bottom first, not empty) into it: over its layers (Replace)
    // or after them. A first layer that does not start at (0, 0) gets a
    // transparent Width x Height layer under it, locked like the base layer.
    // GetDocumentLayers fills Layers with records that share the view's
    // layer images (valid until the view's layers change) and Merged with
    // all layers drawn together, in the pixel format of layer 0.
    virtual bool ClearDocumentLayers() { return false; }
    virtual bool TakeDocumentLayers(TPxPSDLayerList& Layers, int Width, int Height, bool Replace)
    {
        (void)Layers;
        (void)Width;
        (void)Height;
        (void)Replace;
        return false;
    }
    virtual bool GetDocumentLayers(TPxPSDLayerList& Layers, TPxBitmap& Merged)
    {
        (void)Layers;
        (void)Merged;
        return false;
    }
};

// Reads a layer or vector-object file (type 25, 26 or 27) into Image as one
// flat picture; false when the file is refused. Installed by the display
// layer, which owns the views that read those files; nullptr before.
using TPxViewDataRenderer = bool (*)(const std::wstring& FileName, int32_t FileType, TPxBitmap* Image);
void PxSetViewDataRenderer(TPxViewDataRenderer Renderer);
TPxViewDataRenderer PxGetViewDataRenderer();

}  // namespace imaging
