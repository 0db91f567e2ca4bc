#include "classlib/Picture.h"

#include <algorithm>
#include <cwctype>
#include <mutex>

namespace classlib {

namespace {

struct ClipboardFormat {
    UINT Format;
    const TGraphicClass* GraphicClass;
};

// The registry; built on first use with "bmp" for TBitmap.
struct Registry {
    std::mutex lock;
    std::vector<TFileFormat> files;
    std::vector<ClipboardFormat> clipboard;
    Registry()
    {
        files.push_back(TFileFormat{L"bmp", L"Bitmaps", &TBitmap::Class});
        clipboard.push_back(ClipboardFormat{CF_BITMAP, &TBitmap::Class});
    }
};

Registry& TheRegistry()
{
    static Registry r;
    return r;
}

std::wstring NormalExtension(std::wstring ext)
{
    if (!ext.empty() && ext[0] == L'.') ext.erase(0, 1);
    for (auto& c : ext) c = static_cast<wchar_t>(std::towlower(c));
    return ext;
}

std::wstring ExtensionOf(const std::wstring& fileName)
{
    size_t slash = fileName.find_last_of(L"\\/:");
    size_t dot = fileName.find_last_of(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
    return fileName.substr(dot + 1);
}

const TGraphicClass* FindClipboardClass(UINT format)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (auto it = r.clipboard.rbegin(); it != r.clipboard.rend(); ++it)
        if (it->Format == format) return it->GraphicClass;
    return nullptr;
}

}  // namespace

// ------------------------------------------------------------ registry

void TPicture::RegisterFileFormat(const std::wstring& Extension, const std::wstring& Description,
                                  const TGraphicClass* GraphicClass)
{
    if (!GraphicClass) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.files.push_back(TFileFormat{NormalExtension(Extension), Description, GraphicClass});
}

void TPicture::RegisterClipboardFormat(UINT Format, const TGraphicClass* GraphicClass)
{
    if (!GraphicClass) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.clipboard.push_back(ClipboardFormat{Format, GraphicClass});
}

void TPicture::UnregisterGraphicClass(const TGraphicClass* GraphicClass)
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    std::erase_if(r.files, [&](const TFileFormat& f) { return f.GraphicClass == GraphicClass; });
    std::erase_if(r.clipboard, [&](const ClipboardFormat& f) { return f.GraphicClass == GraphicClass; });
}

std::vector<TFileFormat> TPicture::GetFileFormats()
{
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    return r.files;
}

const TGraphicClass* TPicture::FindFileFormat(const std::wstring& Extension)
{
    std::wstring ext = NormalExtension(Extension);
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> guard(r.lock);
    // The latest registration of an extension wins.
    for (auto it = r.files.rbegin(); it != r.files.rend(); ++it)
        if (it->Extension == ext) return it->GraphicClass;
    return nullptr;
}

bool TPicture::SupportsClipboardFormat(UINT Format) { return FindClipboardClass(Format) != nullptr; }

// ------------------------------------------------------------ TPicture

TPicture::TPicture() = default;

TPicture::~TPicture() = default;

void TPicture::Adopt(TGraphic* Graphic)
{
    graphic_.reset(Graphic);
    if (graphic_) {
        graphic_->OnChange = TNotifyEvent(this, &TPicture::GraphicChanged);
        graphic_->OnProgress = TProgressEvent(this, &TPicture::GraphicProgress);
    }
    Changed(this);
}

void TPicture::SetGraphic(TGraphic* Value)
{
    if (Value == graphic_.get()) return;
    if (!Value) {
        Adopt(nullptr);
        return;
    }
    std::unique_ptr<TGraphic> copy(Value->GetGraphicClass()->Create());
    copy->Assign(Value);
    Adopt(copy.release());
}

void TPicture::Assign(const TPersistent* Source)
{
    if (!Source) {
        SetGraphic(nullptr);
    } else if (auto* p = dynamic_cast<const TPicture*>(Source)) {
        if (p != this) SetGraphic(p->graphic_.get());
    } else if (auto* g = dynamic_cast<const TGraphic*>(Source)) {
        SetGraphic(const_cast<TGraphic*>(g));
    } else {
        TPersistent::Assign(Source);
    }
}

void TPicture::AssignTo(TPersistent* Dest) const
{
    if (auto* g = dynamic_cast<TGraphic*>(Dest)) {
        g->Assign(graphic_.get());
        return;
    }
    TPersistent::AssignTo(Dest);
}

TBitmap* TPicture::GetBitmap()
{
    if (auto* b = dynamic_cast<TBitmap*>(graphic_.get())) return b;
    Adopt(new TBitmap);
    return static_cast<TBitmap*>(graphic_.get());
}

void TPicture::LoadFromFile(const std::wstring& FileName)
{
    std::wstring ext = ExtensionOf(FileName);
    const TGraphicClass* cls = FindFileFormat(ext);
    if (!cls) throw EInvalidGraphic(L"Unknown picture file extension (." + ext + L")");
    std::unique_ptr<TGraphic> g(cls->Create());
    g->OnProgress = TProgressEvent(this, &TPicture::GraphicProgress);
    g->LoadFromFile(FileName);
    Adopt(g.release());
}

void TPicture::SaveToFile(const std::wstring& FileName)
{
    if (graphic_) graphic_->SaveToFile(FileName);
}

void TPicture::LoadFromClipboardFormat(UINT Format, HANDLE Data, HPALETTE Palette)
{
    const TGraphicClass* cls = FindClipboardClass(Format);
    if (!cls) throw EInvalidGraphic(L"Unsupported clipboard format");
    std::unique_ptr<TGraphic> g(cls->Create());
    g->LoadFromClipboardFormat(Format, Data, Palette);
    Adopt(g.release());
}

void TPicture::SaveToClipboardFormat(UINT& Format, HANDLE& Data, HPALETTE& Palette)
{
    Format = 0;
    Data = nullptr;
    Palette = nullptr;
    if (graphic_) graphic_->SaveToClipboardFormat(Format, Data, Palette);
}

void TPicture::Changed(TObject* Sender) { OnChange(Sender); }

void TPicture::GraphicChanged(TObject*) { Changed(this); }

void TPicture::GraphicProgress(TObject* Sender, TProgressStage Stage, uint8_t PercentDone, bool RedrawNow,
                               const RECT& R, const std::wstring& Msg)
{
    OnProgress(Sender, Stage, PercentDone, RedrawNow, R, Msg);
}

}  // namespace classlib
