// What the processing object (TImgProc) needs of the view it is attached to.
//
// A view (a window that shows an image, with layers, a selection and
// possibly vector objects) implements TPxProcView. The processing object
// works on the view's current image, follows the view when it replaces that
// image (the bitmap-change registration), limits region operations to the
// view's selection, and stores and restores the view's selection, layers and
// objects in its undo and redo lists.
//
// Streams: every Save* writes at the stream's position and every Load* reads
// from it; the processing object keeps the bytes opaque except for layer
// records (LayerSaveToStream), which must begin with their int32 length in
// bytes (counted from the record's first byte, the length field included)
// followed by the layer's 16-byte identifier. A layer loader reads the whole
// record it is given, from that first byte.
//
// Ownership: everything returned is owned by the view and stays valid until
// the view changes it (the mask and polygon until the selection changes, a
// layer image until the layer goes).
//
// Threads: every member is called on the view's (main) thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "classlib/Events.h"
#include "classlib/Graphics.h"

namespace classlib {
class TBitmap;
class TComponent;
class TObject;
class TStream;
}  // namespace classlib

namespace imaging {

class TPxBitmap;
class TPxMask;

// The view calls a registered handler with Destroying false whenever its
// current image object is replaced and with true when it is destroyed.
using TPxProcBitmapChangeEvent = classlib::TEvent<void(classlib::TObject* Sender, bool Destroying)>;

// The 16-byte identifier of a layer.
struct TPxLayerIdentifier {
    uint8_t Bytes[16] = {};
    friend bool operator==(const TPxLayerIdentifier&, const TPxLayerIdentifier&) = default;
};
static_assert(sizeof(TPxLayerIdentifier) == 16);

class TPxProcView {
public:
    virtual ~TPxProcView() = default;

    // The component of the view, for free notification.
    virtual classlib::TComponent* GetViewComponent() = 0;

    // The current image (nullptr when the view offers only a TBitmap), and
    // the image as a class-library bitmap (nullptr unless the view keeps one).
    virtual TPxBitmap* GetPxBitmap() = 0;
    virtual classlib::TBitmap* GetBitmap() = 0;

    // Change handlers: the handle identifies the registration; removing a
    // negative handle or one not registered is ignored.
    virtual intptr_t RegisterBitmapChangeEvent(const TPxProcBitmapChangeEvent& Handler, classlib::TObject* Owner) = 0;
    virtual void RemoveBitmapChangeEvent(intptr_t Handle) = 0;

    virtual classlib::TColor GetBackground() = 0;
    virtual void SetBackground(classlib::TColor Value) = 0;

    // Recomputes the layout and repaints; the image-changed notification.
    virtual void Update() = 0;
    virtual void DoImageChange() = 0;

    // A single-image view (selection and layers below are meaningful), and
    // a vector-object view (an image view with objects).
    virtual bool IsImageView() = 0;
    virtual bool IsVectView() = 0;

    // ---- selection (image views)
    // A selection is made (the mask may still be empty).
    virtual bool HasSelection() = 0;
    // The selection mask at the image's size; may be nullptr.
    virtual TPxMask* GetSelectionMask() = 0;
    // The selection outline: polygons separated by points whose x is
    // PxPolygonSeparator; nullptr and 0 when there is none.
    virtual const POINT* GetSelectionPolygon(int& Count) = 0;
    virtual void SaveSelectionToStream(classlib::TStream* Stream) = 0;
    virtual void LoadSelectionFromStream(classlib::TStream* Stream, int Mode) = 0;

    // ---- layers (image views)
    virtual int GetLayersCount() = 0;
    virtual int GetLayersCurrent() = 0;
    // The image of layer Index (0 <= Index < GetLayersCount()).
    virtual TPxBitmap* GetLayerBitmap(int Index) = 0;
    virtual TPxLayerIdentifier GetLayerIdentifier(int Index) = 0;
    // One layer record (see the header comment); WithBitmap includes the
    // layer's image.
    virtual void LayerSaveToStream(int Index, classlib::TStream* Stream, bool WithBitmap) = 0;
    virtual void LayerLoadFromStream(int Index, classlib::TStream* Stream) = 0;
    // Every layer as the layers file; Coding -2 stores the images raw.
    virtual void LayersSaveToStream(classlib::TStream* Stream, int Coding) = 0;
    virtual bool LayersLoadFromStream(classlib::TStream* Stream) = 0;

    // ---- vector objects (vector views)
    virtual void SaveToStreamPxV(classlib::TStream* Stream) = 0;
    virtual bool LoadFromStreamPxV(classlib::TStream* Stream) = 0;
    // Layers and objects together; Coding as for LayersSaveToStream (-1 the
    // default).
    virtual void SaveToStreamAll(classlib::TStream* Stream, int Coding) = 0;
    virtual bool LoadFromStreamAll(classlib::TStream* Stream) = 0;
};

}  // namespace imaging
