// TIcon: a picture over an HICON.
//
// An icon read from an .ico stream keeps the stream's bytes, so that
// SaveToStream writes the same file back (every image of it); its handle is
// built from the image that best fits the system's icon size. An icon whose
// handle was set from outside (SetHandle) has no such bytes and is saved as a
// one-image .ico with a 32-bit image and its mask.
//
// Ownership: the icon owns its handle (DestroyIcon) unless the caller takes
// it back with ReleaseHandle. Icons belong to one thread at a time.
//
// Failure: a stream that is not a valid .ico (bad header, an image whose size
// or offset leaves the file, an image header that does not fit its bytes)
// raises EInvalidGraphic "Icon image is not valid"; the icon is unchanged
// then. Icons cannot be resized (EInvalidGraphicOperation "Cannot change the
// size of an icon").
#pragma once

#include <cstdint>
#include <vector>

#include "classlib/Graphics.h"

namespace classlib {

class TIcon : public TGraphic {
public:
    TIcon();
    ~TIcon() override;
    TIcon(const TIcon&) = delete;
    TIcon& operator=(const TIcon&) = delete;
    std::wstring ClassName() const override { return L"TIcon"; }
    static const TGraphicClass Class;
    const TGraphicClass* GetGraphicClass() const override { return &Class; }

    // A TIcon source is copied (its .ico bytes and a copy of its handle);
    // nullptr empties the icon.
    void Assign(const TPersistent* Source) override;

    bool GetEmpty() const override { return handle_ == nullptr; }
    int GetWidth() const override { return width_; }
    int GetHeight() const override { return height_; }
    void SetWidth(int Value) override;
    void SetHeight(int Value) override;

    // Icons are always drawn with their mask.
    bool GetTransparent() const override { return true; }

    // Draws the icon scaled into R with DrawIconEx.
    void Draw(TCanvas* ACanvas, const RECT& R) override;

    // The HICON (0 when empty); owned by the icon.
    HICON GetHandle() const { return handle_; }
    // Adopts Value (0 empties); the kept .ico bytes are dropped.
    void SetHandle(HICON Value);
    // Gives the handle to the caller; the icon becomes empty.
    HICON ReleaseHandle();

    // Reads an .ico file from the stream's position: exactly the bytes the
    // file's directory covers are consumed.
    void LoadFromStream(TStream* Stream) override;
    // Writes the kept .ico bytes, or a one-image .ico made from the handle;
    // an empty icon writes nothing.
    void SaveToStream(TStream* Stream) override;
    // An RT_GROUP_ICON resource of Instance with all its images; a missing
    // one raises EInvalidGraphic "Resource <name> not found".
    void LoadFromResourceName(HINSTANCE Instance, const std::wstring& ResName);

    // Icons have no clipboard format: EInvalidGraphic "Unsupported clipboard
    // format".
    void LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette) override;
    void SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette) override;

private:
    void Reset(HICON Handle, std::vector<uint8_t> Data, int Width, int Height);
    std::vector<uint8_t> MakeIcoFromHandle() const;

    HICON handle_ = nullptr;
    std::vector<uint8_t> data_;  // the .ico file, empty when made from a handle
    int width_ = 0, height_ = 0;
};

}  // namespace classlib
