#include "controls/shell/ShImageList.h"

#include <commctrl.h>

#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"

namespace shell {

namespace {

// Turns off the file-system redirection of 32-bit processes while the
// namespace layer's switch asks for it.
class TNoRedirectionScope {
public:
    TNoRedirectionScope()
    {
        if (FsRedirectionSwitch && ShellEntryPoints.Wow64DisableWow64FsRedirection)
            active_ = ShellEntryPoints.Wow64DisableWow64FsRedirection(&old_) != FALSE;
    }
    ~TNoRedirectionScope()
    {
        if (active_ && ShellEntryPoints.Wow64RevertWow64FsRedirection)
            ShellEntryPoints.Wow64RevertWow64FsRedirection(old_);
    }
    TNoRedirectionScope(const TNoRedirectionScope&) = delete;
    TNoRedirectionScope& operator=(const TNoRedirectionScope&) = delete;

private:
    PVOID old_ = nullptr;
    bool active_ = false;
};

int gFolderIconIndex = -1;

UINT SizeFlags(TShImageListSize size, bool open)
{
    UINT flags = 0;
    if (size != si_large) flags |= SHGFI_SMALLICON;
    if (open) flags |= SHGFI_OPENICON;
    return flags;
}

}  // namespace

int GetPidlIconIndex(LPCITEMIDLIST pidl, TShImageListSize size, bool open)
{
    SHFILEINFOW info{};
    const classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    ::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(pidl), 0, &info, sizeof(info),
                     SHGFI_SYSICONINDEX | SHGFI_PIDL | SizeFlags(size, open));
    return info.iIcon;
}

int GetPathIconIndex(const std::wstring& path, TShImageListSize size, bool useAttributes, bool open)
{
    SHFILEINFOW info{};
    UINT flags = SHGFI_SYSICONINDEX | SizeFlags(size, open);
    DWORD attributes = 0;
    if (useAttributes) {
        attributes = FILE_ATTRIBUTE_NORMAL;
        flags |= SHGFI_USEFILEATTRIBUTES;
    }
    const classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    TNoRedirectionScope redirection;
    if (::SHGetFileInfoW(path.c_str(), attributes, &info, sizeof(info), flags) == 0) return -1;
    return info.iIcon;
}

int GetExtensionIconIndex(const std::wstring& ext, TShImageListSize size, bool open)
{
    std::wstring name = SystemDriveRoot() + L"test";
    if (!ext.empty()) name += ext.front() == L'.' ? ext : L"." + ext;
    return GetPathIconIndex(name, size, true, open);
}

int GetIconIndexOfFolder(bool open)
{
    if (gFolderIconIndex >= 0) return gFolderIconIndex;
    std::wstring folder = GetTempFolder();
    if (!DirectoryExistsLong(folder)) folder = GetWindowsFolder();
    gFolderIconIndex = GetPathIconIndex(folder, si_small, false, open);
    return gFolderIconIndex;
}

int GetFileIconIndex(const std::wstring& path, TShImageListSize size, bool open)
{
    int index = GetPathIconIndex(path, size, false, false);
    if (index >= 0) return index;
    const bool endsInSlash = !path.empty() && path.back() == L'\\';
    bool serverOrShare = false;
    if (!path.empty() && path.front() == L'\\') {
        int slashes = 0;
        for (wchar_t c : path)
            if (c == L'\\') ++slashes;
        serverOrShare = slashes <= 3;
    }
    if (endsInSlash || serverOrShare) return GetIconIndexOfFolder(open);
    return GetExtensionIconIndex(classlib::ExtractFileExt(path), size, open);
}

classlib::TBitmap* DrawIconBitmap(classlib::TCustomImageList* imageList, int height, int width,
                                  classlib::TColor backColor, classlib::TColor frameColor, int index)
{
    try {
        auto bitmap = std::make_unique<classlib::TBitmap>();
        bitmap->SetPixelFormat(IsVistaOrLater ? classlib::pf32bit : classlib::pf24bit);
        bitmap->SetSize(width, height);
        bitmap->SetTransparent(true);
        classlib::TCanvas* canvas = bitmap->GetCanvas();
        if (frameColor != classlib::clNone) {
            canvas->GetPen()->SetColor(frameColor);
            canvas->GetBrush()->SetStyle(classlib::bsClear);
            canvas->Rectangle(0, 0, width, height);
        }
        const int x = (width - imageList->GetWidth()) / 2;
        const int y = (height - imageList->GetHeight()) / 2;
        ::ImageList_DrawEx(imageList->GetHandle(), index, canvas->GetHandle(), x, y, 0, 0,
                           classlib::ColorToRGB(backColor), CLR_NONE, ILD_TRANSPARENT);
        return bitmap.release();
    } catch (...) {
        return nullptr;
    }
}

void MakeImageList32(classlib::TCustomImageList* imageList)
{
    if (!IsVistaOrLater || !imageList) return;
    UINT flags = ILC_COLOR32;
    if (imageList->GetMasked()) flags |= ILC_MASK;
    HIMAGELIST handle = ::ImageList_Create(imageList->GetWidth(), imageList->GetHeight(), flags, 0,
                                           imageList->GetAllocBy());
    if (!handle) throw classlib::EInvalidOperation(L"invalid imagelist");
    imageList->SetHandle(handle);
}

// ---------------------------------------------------------------------------
// TShSystemImageList

TShSystemImageList::TShSystemImageList(classlib::TComponent* owner) : classlib::TCustomImageList(owner)
{
    classlib::TCustomImageList::SetShareImages(true);
    UpdateHandle();
}

void TShSystemImageList::SetSize(TShImageListSize value)
{
    size_ = value;
    UpdateHandle();
}

void TShSystemImageList::SetShareImages(bool value)
{
    SetHandle(nullptr);
    classlib::TCustomImageList::SetShareImages(value);
    UpdateHandle();
}

void TShSystemImageList::Loaded()
{
    classlib::TCustomImageList::Loaded();
    UpdateHandle();
}

void TShSystemImageList::UpdateHandle()
{
    SHFILEINFOW info{};
    UINT flags = SHGFI_SYSICONINDEX;
    if (size_ != si_large) flags |= SHGFI_SMALLICON;
    auto system = reinterpret_cast<HIMAGELIST>(
        ::SHGetFileInfoW(SystemDriveRoot().c_str(), 0, &info, sizeof(info), flags));
    if (!system) return;
    if (GetShareImages() || (GetComponentState() & classlib::csDesigning)) {
        SetHandle(system);
        return;
    }
    // An own copy: a shared list on the system's handle lends its images.
    classlib::TImageList shared(nullptr);
    shared.SetShareImages(true);
    shared.SetHandle(system);
    SetHandle(nullptr);
    SetWidth(shared.GetWidth());
    SetHeight(shared.GetHeight());
    AddImages(&shared);
}

// ---------------------------------------------------------------------------
// TShPathList

TShPathList::TShPathList()
{
    SetSorted(true);
    SetDuplicates(classlib::dupError);
    SetCaseSensitive(false);
    SetDelimiter(L'\0');
}

TShPathList::TShPathList(const classlib::TStrings* list) : TShPathList()
{
    if (!list) return;
    for (int i = 0; i < list->GetCount(); ++i) Add(list->GetStrings(i));
}

TShPathList::TShPathList(const std::wstring& path) : TShPathList() { Add(path); }

std::wstring TShPathList::NormalizePath(const std::wstring& path) const
{
    if (IsDriveRoot(path)) return classlib::IncludeTrailingPathDelimiter(path);
    return classlib::ExcludeTrailingPathDelimiter(path);
}

bool TShPathList::AcceptPath(const std::wstring& path) const { return !CheckExists || PathExists(path); }

int TShPathList::Add(const std::wstring& path)
{
    const std::wstring normal = NormalizePath(path);
    if (!AcceptPath(normal)) return -1;
    int index;
    try {
        index = classlib::TStringList::Add(normal);
    } catch (const classlib::EStringListError&) {
        return -1;
    }
    if (IsNetworkPath(normal)) ContainsNetworkPath = true;
    OnPathAdded(path, index);
    return index;
}

void TShPathList::Put(int index, const std::wstring& path)
{
    OnPathRemoved(GetStrings(index), index);
    classlib::TStringList::Put(index, path);
    OnPathAdded(path, index);
}

void TShPathList::Delete(int index)
{
    OnPathRemoved(GetStrings(index), index);
    classlib::TStringList::Delete(index);
}

void TShPathList::InsertObject(int index, const std::wstring& path, classlib::TObject* object)
{
    classlib::TStringList::InsertObject(index, path, object);
    OnPathAdded(path, index);
}

// ---------------------------------------------------------------------------
// TPidlHistory

TPidlHistory::~TPidlHistory() { Clear(); }

void TPidlHistory::Clear()
{
    for (int i = 0; i < GetCount(); ++i) ::CoTaskMemFree(GetItem(i));
    classlib::TList::Clear();
    Position = 0;
}

LPCITEMIDLIST TPidlHistory::Current() const
{
    if (Position < 0 || Position >= GetCount()) return nullptr;
    return static_cast<LPCITEMIDLIST>(GetItem(Position));
}

void TPidlHistory::Push(TPidl pidl)
{
    if (!pidl) return;
    if (GetCount() > 0 && DesktopFolder() &&
        DesktopFolder()->CompareIDs(0, pidl.get(), Current()) == 0)
        return;
    for (int i = GetCount() - 1; i > Position; --i) DeleteEntry(i);
    classlib::TList::Add(pidl.release());
    Position = GetCount() - 1;
}

void TPidlHistory::DeleteEntry(int index)
{
    ::CoTaskMemFree(GetItem(index));
    classlib::TList::Delete(index);
}

TPidlHistory& TPidlHistory::Forward(int count)
{
    for (int i = 0; i < count && Position < GetCount() - 1; ++i) ++Position;
    return *this;
}

TPidlHistory& TPidlHistory::Back(int count)
{
    for (int i = 0; i < count && Position > 0; ++i) --Position;
    return *this;
}

}  // namespace shell
