// TPicture: a holder of one picture of any registered class, and the
// process-wide registry of picture classes by file extension and clipboard
// format.
//
// Registry: RegisterFileFormat/RegisterClipboardFormat/UnregisterGraphicClass
// may be called from any thread (the registry has its own lock); classes are
// identified by the address of their TGraphicClass record, which must stay
// valid while registered (a static of the class). "bmp" is registered for
// TBitmap from the start. Extensions are compared without case and without
// a leading dot.
#pragma once

#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"

namespace classlib {

// One registered file format, as listed for file dialogs.
struct TFileFormat {
    std::wstring Extension;  // lower case, no dot
    std::wstring Description;
    const TGraphicClass* GraphicClass;
};

class TPicture : public TPersistent {
public:
    TPicture();
    ~TPicture() override;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;
    std::wstring ClassName() const override { return L"TPicture"; }

    // A TPicture or TGraphic source is copied (a new instance of the
    // source's class); nullptr clears the picture.
    void Assign(const TPersistent* Source) override;

    // The held picture (owned); nullptr when empty.
    TGraphic* GetGraphic() const { return graphic_.get(); }
    // Holds a copy of Value (nullptr clears).
    void SetGraphic(TGraphic* Value);
    // The held picture when it is a TBitmap; otherwise the held picture is
    // replaced by a new empty TBitmap, which is returned.
    TBitmap* GetBitmap();
    void SetBitmap(TBitmap* Value) { SetGraphic(Value); }

    int GetWidth() const { return graphic_ ? graphic_->GetWidth() : 0; }
    int GetHeight() const { return graphic_ ? graphic_->GetHeight() : 0; }

    // Loads through the class registered for the file's extension; an
    // unknown extension raises EInvalidGraphic "Unknown picture file
    // extension (.<ext>)". The picture is replaced only when loading works.
    void LoadFromFile(const std::wstring& FileName);
    // Saves the held picture (nothing when empty).
    void SaveToFile(const std::wstring& FileName);
    // Loads through the class registered for Format; an unknown one raises
    // EInvalidGraphic "Unsupported clipboard format".
    void LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette);
    void SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette);
    static bool SupportsClipboardFormat(UINT Format);

    static void RegisterFileFormat(const std::wstring& Extension, const std::wstring& Description,
                                   const TGraphicClass* GraphicClass);
    static void RegisterClipboardFormat(UINT Format, const TGraphicClass* GraphicClass);
    static void UnregisterGraphicClass(const TGraphicClass* GraphicClass);
    // The registered file formats in registration order.
    static std::vector<TFileFormat> GetFileFormats();
    // The class registered for an extension (with or without dot), or null.
    static const TGraphicClass* FindFileFormat(const std::wstring& Extension);

    // Fired after the held picture changed or was replaced.
    TNotifyEvent OnChange;
    // Forwarded from the held picture.
    TProgressEvent OnProgress;

protected:
    // A TGraphic destination is assigned the held picture.
    void AssignTo(TPersistent* Dest) const override;
    virtual void Changed(TObject* Sender);

private:
    void Adopt(TGraphic* Graphic);
    void GraphicChanged(TObject* Sender);
    void GraphicProgress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow, const RECT& R,
                         const std::wstring& Msg);
    std::unique_ptr<TGraphic> graphic_;
};

}  // namespace classlib
