// PSD reader of the toolkit (file type 24), the layer record the PSD reader
// and writer exchange with their callers, and the installation of the PSD
// routines in the format registry.
//
// PxReadPSD reads a layered document ("8BPS", version 1): the merged image
// into a TPxBitmap, optionally every layer into a TPxPSDLayerList, and the
// resolution, IPTC record, ICC profile, JPEG thumbnail, transparent palette
// index and XMP packet into TIOParamsVals. Big-endian throughout. The
// content test of the format is PxIsPSD (FileFormats.h).
//
// Pixel formats of the merged image and of layers: 1-bit Bitmap mode px1g;
// 8-bit Grayscale, Multichannel and Duotone px8g; 8-bit Indexed px8p (alpha
// from the transparent index of resource 1047); 8-bit RGB px24RGB; CMYK
// pxCMYK (16-bit samples cut to their high byte); Lab pxCIELab (a and b made
// signed); 16-bit Grayscale and Duotone px16g; 16-bit RGB pxRGB48. Any
// other depth of a mode (and modes 5 and 6) is refused as
// unsupported, fewer channels than the mode's colours as a bad header. Extra
// channels after the colour channels give the alpha channel (16-bit samples
// by their high byte). A layer's user mask becomes a px8g mask layer right
// after it (IsMask, not visible; 16-bit masks by their high byte); a repeated
// mask channel of one layer is passed over. Unless NativePixelFormat is set,
// everything but px1g and masks ends up px24RGB (through the input ICC
// profile when colour management is on and the file carries one). An
// Indexed document without a palette shows its indices as grey levels.
// Channel data in the ZIP codes (with and without the horizontal
// prediction, 16-bit samples as big-endian words) are inflated; damaged or
// short deflated data fail the read. A read that was to give a merged image and gives none fails
// (no image): no load ends in success without pixels.
//
// Untrusted data: every count, size and offset is checked against the
// stream before anything is allocated; a layer channel is always left by its
// recorded length, so a channel the reader does not place never shifts the
// channels after it. A bad header, image data that cannot be in the stream,
// or a failed allocation set the aborting flag. Stream exceptions (data
// cut short) pass to the caller; the registry's reader turns them into the
// aborting flag.
//
// Threads: one call uses only its arguments and the process-wide settings
// read at start-up; it may run on an I/O worker thread, and so does the
// progress handler.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Stream.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/model/PxDefs.h"

namespace imaging {

class TPxBitmap;
class TIOParamsVals;

// One layer as the PSD reader returns it and the PSD writer takes it; a view
// turns it into its own layer (and its layers into these for a save).
// The bitmap is owned by the record unless it was given to the sharing
// constructor, whose bitmap must outlive the record.
class TPxPSDLayer {
public:
    // A layer with its own empty bitmap.
    TPxPSDLayer();
    // A layer showing Shared, which it never frees.
    explicit TPxPSDLayer(TPxBitmap* Shared);
    ~TPxPSDLayer();
    TPxPSDLayer(const TPxPSDLayer&) = delete;
    TPxPSDLayer& operator=(const TPxPSDLayer&) = delete;

    TPxBitmap* GetBitmap() const { return bitmap_; }
    bool OwnsBitmap() const { return own_ != nullptr; }
    // The displayed size: Width/Height, or the bitmap's when 0.
    int32_t GetWidth() const;
    int32_t GetHeight() const;

    int32_t PosX = 0;            // left edge in document pixels
    int32_t PosY = 0;            // top edge
    uint8_t Transparency = 255;  // 255 opaque
    bool Visible = true;
    bool Cropped = false;        // drawn only inside the first layer
    bool IsMask = false;         // the transparency mask of the layer before it
    std::string Name;            // 8-bit text as in the file
    int32_t Width = 0;           // displayed size, 0: the bitmap's
    int32_t Height = 0;
    TResampleFilter ResampleFilter = rfNone;  // used when UseResampleFilter
    bool UseResampleFilter = false;

private:
    std::unique_ptr<TPxBitmap> own_;
    TPxBitmap* bitmap_ = nullptr;
};

using TPxPSDLayerList = std::vector<std::unique_ptr<TPxPSDLayer>>;

// Reads the document at Stream's position. Bitmap: the merged image's
// destination (nullptr reads only parameters and layers); a bitmap in
// system-bitmap storage is decoded through a temporary image and assigned
// at the end. Layers: receives new layers appended after what it holds
// (nullptr: layers are skipped); LoadLayers: Params.PSDLoadLayers. A
// document of one layer is read into the list even without LoadLayers.
// The merged image is decoded only when no layer was loaded and no
// embedded thumbnail replaced it (Params.UseEmbeddedThumbnail). Progress:
// 0 at the start, then per layer. A bad header changes nothing but the
// aborting flag.
void PxReadPSD(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxPSDLayerList* Layers,
               bool LoadLayers, TPxIOProgressInfo& Progress);

// Puts the PSD reader and writer into the PSD row of the registry. The row
// reads the merged image only (no layer list: layers go to a view, which
// calls PxReadPSD itself) and writes the bitmap without layers; exceptions
// become the aborting flag. PxInstallBuiltInFormats calls it.
void PxInstallPSDFormat();

}  // namespace imaging
