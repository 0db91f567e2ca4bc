// TMetafile: a vector picture held as an enhanced metafile (HENHMETAFILE).
//
// Both enhanced metafiles (EMF) and placeable Windows metafiles (WMF with the
// 22-byte 0x9AC6CDD7 header) are read; a WMF is turned into an enhanced
// metafile on loading. Enhanced tells how the picture is saved: as EMF, or as
// a placeable WMF. The picture's size is kept in 0.01 mm (MMWidth/MMHeight)
// and in pixels at the screen's logical resolution (Width/Height); setting
// either updates the other. Drawing plays the metafile scaled into the
// destination rectangle.
//
// Ownership: the metafile owns its handle (DeleteEnhMetaFile) unless the
// caller takes it back with ReleaseHandle. One thread at a time.
//
// Failure: a stream that is neither a placeable WMF nor an EMF, or whose
// records leave the stream, raises EInvalidGraphic "Metafile is not valid";
// the picture is unchanged then.
#pragma once

#include "classlib/Graphics.h"

namespace classlib {

class TMetafile : public TGraphic {
public:
    TMetafile();
    ~TMetafile() override;
    TMetafile(const TMetafile&) = delete;
    TMetafile& operator=(const TMetafile&) = delete;
    std::wstring ClassName() const override { return L"TMetafile"; }
    static const TGraphicClass Class;
    const TGraphicClass* GetGraphicClass() const override { return &Class; }

    // A TMetafile source is copied (a copy of its metafile and its sizes);
    // nullptr empties the picture.
    void Assign(const TPersistent* Source) override;

    bool GetEmpty() const override { return handle_ == nullptr; }
    // Size in pixels at the screen's logical resolution.
    int GetWidth() const override { return width_; }
    int GetHeight() const override { return height_; }
    void SetWidth(int Value) override;
    void SetHeight(int Value) override;
    // Size in units of 0.01 mm.
    int GetMMWidth() const { return mmWidth_; }
    int GetMMHeight() const { return mmHeight_; }
    void SetMMWidth(int Value);
    void SetMMHeight(int Value);
    // Units per inch of a placeable WMF (0 for a picture read as EMF); used
    // for the bounding box when saving as WMF (1440 when 0).
    int GetInch() const { return inch_; }
    void SetInch(int Value);
    // True: saved as EMF; false: saved as placeable WMF.
    bool GetEnhanced() const { return enhanced_; }
    void SetEnhanced(bool Value);

    // The enhanced metafile (0 when empty); owned by the picture.
    HENHMETAFILE GetHandle() const { return handle_; }
    // Adopts Value (0 empties); the size comes from its header frame. A
    // handle whose header cannot be read raises EInvalidGraphic and stays
    // the caller's.
    void SetHandle(HENHMETAFILE Value);
    HENHMETAFILE ReleaseHandle();

    // Plays the metafile scaled into R.
    void Draw(TCanvas* ACanvas, const RECT& R) override;

    // Reads a placeable WMF or an EMF from the stream's position; exactly
    // the metafile's bytes are consumed.
    void LoadFromStream(TStream* Stream) override;
    // Writes EMF or placeable WMF by Enhanced; an empty picture writes
    // nothing.
    void SaveToStream(TStream* Stream) override;

    // CF_ENHMETAFILE (a copy is taken / handed out); any other format raises
    // EInvalidGraphic "Unsupported clipboard format".
    void LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette) override;
    void SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette) override;

private:
    void Reset(HENHMETAFILE Handle, int MMWidth, int MMHeight, int Width, int Height, int Inch, bool Enhanced);
    void ReadWMF(TStream* Stream, int64_t Available);
    void ReadEMF(TStream* Stream, int64_t Available);

    HENHMETAFILE handle_ = nullptr;
    int width_ = 0, height_ = 0;
    int mmWidth_ = 0, mmHeight_ = 0;
    int inch_ = 0;
    bool enhanced_ = true;
};

}  // namespace classlib
