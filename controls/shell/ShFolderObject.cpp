#include "controls/shell/ShFolderObject.h"
#include "classlib/ScopeGuard.h"
#include "controls/shell/ShPictureThumbnail.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>

#include <map>
#include <set>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Controls.h"
#include "classlib/Forms.h"
#include "classlib/Hints.h"
#include "classlib/ImageList.h"
#include "classlib/Menus.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShImageList.h"

namespace shell {

namespace {

// Pastes the files on the clipboard into Folder as the platform's file
// browser does: moved when the clipboard says they were cut (its preferred
// drop effect), else copied ("Copy of" names within their own folder).
// For shells whose folder objects do not offer "paste" themselves. True
// when the files arrived.
bool PasteClipboardInto(HWND Owner, const std::wstring& Folder)
{
    if (Folder.empty() || !DirectoryExistsLong(Folder) || !::IsClipboardFormatAvailable(CF_HDROP) ||
        !::OpenClipboard(nullptr))
        return false;
    std::unique_ptr<classlib::TStringList> files = FilenamesFromDrop(static_cast<HDROP>(::GetClipboardData(CF_HDROP)));
    DWORD effect = DROPEFFECT_COPY;
    if (HANDLE h = ::GetClipboardData(::RegisterClipboardFormatW(CFSTR_PREFERREDDROPEFFECT))) {
        if (::GlobalSize(h) >= sizeof(DWORD))
            if (const auto* value = static_cast<const DWORD*>(::GlobalLock(h))) {
                effect = *value;
                ::GlobalUnlock(h);
            }
    }
    ::CloseClipboard();
    if (!files || files->GetCount() == 0) return false;
    const std::wstring target = classlib::IncludeTrailingPathDelimiter(Folder);
    std::wstring from;
    bool sameFolder = false;
    for (int i = 0; i < files->GetCount(); ++i) {
        from += files->GetStrings(i);
        from.push_back(L'\0');
        sameFolder = sameFolder || SamePath(ExtractParentFolder(files->GetStrings(i)), target);
    }
    from.push_back(L'\0');
    std::wstring to = target;
    to.push_back(L'\0');
    const bool move = (effect & DROPEFFECT_MOVE) != 0;
    if (move && sameFolder) return false;  // already there
    SHFILEOPSTRUCTW op{};
    op.hwnd = Owner;
    op.wFunc = move ? FO_MOVE : FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR | (sameFolder ? FOF_RENAMEONCOLLISION : 0);
    if (!Owner) op.fFlags |= FOF_NOERRORUI;
    return ::SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

// Shows the hourglass over the program's windows for its lifetime.
class THourglassScope {
public:
    THourglassScope()
    {
        if (classlib::Screen) {
            old_ = classlib::Screen->GetCursor();
            classlib::Screen->SetCursor(classlib::crHourGlass);
        }
    }
    ~THourglassScope()
    {
        if (classlib::Screen) classlib::Screen->SetCursor(old_);
    }
    THourglassScope(const THourglassScope&) = delete;
    THourglassScope& operator=(const THourglassScope&) = delete;

private:
    classlib::TCursor old_ = classlib::crDefault;
};


int CommonControlsMajorVersion()
{
    HMODULE module = ::GetModuleHandleW(L"comctl32.dll");
    if (!module) return 0;
    using TDllGetVersion = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
    auto getVersion = reinterpret_cast<TDllGetVersion>(reinterpret_cast<void*>(::GetProcAddress(module, "DllGetVersion")));
    if (!getVersion) return 0;
    DLLVERSIONINFO info{};
    info.cbSize = sizeof(info);
    if (FAILED(getVersion(&info))) return 0;
    return int(info.dwMajorVersion);
}

classlib::TBitmap* AdoptBitmap(HBITMAP handle)
{
    auto bitmap = std::make_unique<classlib::TBitmap>();
    bitmap->SetHandle(handle);
    return bitmap.release();
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), int(text.size()), result.data(), n, nullptr, nullptr);
    return result;
}

}  // namespace

TShFolderObject::TShFolderObject(classlib::TComponent* owner)
    : classlib::TComponent(owner),
      multiObjects_(std::make_unique<classlib::TStringList>()),
      filterMasks_(std::make_unique<classlib::TStringList>())
{
}

TShFolderObject::~TShFolderObject() = default;

void TShFolderObject::Loaded()
{
    classlib::TComponent::Loaded();
    isLoaded_ = true;
}

// ---------------------------------------------------------------------------
// Folder and object

std::wstring TShFolderObject::GetFolder()
{
    if (folderPathValid_) return folderPath_;
    std::wstring path = PidlToPath(folderIDList_.get());
    if (PidlItemCount(folderIDList_.get()) == 2 && !path.empty()) {
        const std::wstring target = GetShellLinkTarget(path);
        if (!target.empty()) path = target;
    }
    if (!path.empty()) path = classlib::IncludeTrailingPathDelimiter(path);
    folderPath_ = path;
    folderPathValid_ = true;
    return folderPath_;
}

void TShFolderObject::SetFolder(const std::wstring& path)
{
    if (!path.empty() && classlib::WideSameText(path, GetFolder())) return;
    const std::wstring old = folderPath_;
    folderPath_ = path;
    TPidl pidl = PathToPidl(nullptr, path);
    if (!pidl) {
        folderPath_ = old;
        throw EShFolderObjectError(SystemErrorText(ERROR_PATH_NOT_FOUND) + L"\r\n" + path);
    }
    folderPath_ = classlib::IncludeTrailingPathDelimiter(folderPath_);
    SetFolderIDList(pidl.get());
    folderPathValid_ = true;
}

void TShFolderObject::SetFolderIDList(LPCITEMIDLIST pidl)
{
    if (pidl == folderIDList_.get()) {
        DropEnumerator();
        return;
    }
    // pidl may live inside one of the lists freed below.
    TPidl copy = PidlClone(pidl);
    shellDetails_.Reset();
    shellFolder2_.Reset();
    folderIDList_.reset();
    detailsFailed_ = false;
    TComRef<IShellFolder> folder;
    if (copy) {
        if (DesktopFolder()->CompareIDs(0, copy.get(), DesktopPidl()) != 0) {
            HRESULT hr = DesktopFolder()->BindToObject(copy.get(), nullptr, IID_IShellFolder, folder.PutVoid());
            if (!folder) {
                DropEnumerator();
                shellFolder_.Reset();
                SetObjectIDList(nullptr);
                folderPathValid_ = false;
                throw EShFolderObjectError(
                    L"ShFolderObject.SetFolderIDList: Desktop.BindToObject: Could not get IShellFolder interface. (" +
                    SystemErrorText(DWORD(hr)) + L")");
            }
        } else {
            copy = PidlClone(DesktopPidl());
            DesktopFolder()->AddRef();
            folder = TComRef<IShellFolder>(DesktopFolder());
        }
    }
    DropEnumerator();
    shellFolder_ = folder;
    folderIDList_ = std::move(copy);
    SetObjectIDList(nullptr);
    folderPathValid_ = false;
}

TPidl TShFolderObject::GetFolderIDList() const { return PidlClone(folderIDList_.get()); }

void TShFolderObject::SetAbsoluteIDList(LPCITEMIDLIST pidl)
{
    if (!pidl) return;
    const int count = PidlItemCount(pidl);
    if (count == 0) {
        TPidl desktop = SpecialFolderPidl(SF_DESKTOP);
        SetFolderIDList(desktop.get());
        return;
    }
    TPidl folder = PidlCopyFirst(pidl, count - 1);
    TPidl object = PidlGetLastItem(pidl);
    SetFolderIDList(folder.get());
    SetObjectIDList(object.get());
}

bool TShFolderObject::SelectFolderInParent()
{
    TPidl folder = PidlClone(folderIDList_.get());
    SetAbsoluteIDList(folder.get());
    return true;
}

TShellFolder TShFolderObject::GetSpecialFolder() const { return PidlToSpecialFolder(folderIDList_.get()); }

void TShFolderObject::SetSpecialFolder(TShellFolder value)
{
    if ((GetComponentState() & classlib::csLoading) && value == SF_FILESYSTEMFOLDER) return;
    try {
        TPidl pidl = SpecialFolderPidl(value);
        SetFolderIDList(pidl.get());
    } catch (...) {
    }
}

TShellFolder TShFolderObject::GetObjectSpecialFolder() { return PidlToSpecialFolder(GetAbsoluteObjectIDList()); }

void TShFolderObject::SetObjectIDList(LPCITEMIDLIST pidl)
{
    if (pidl != objectIDList_.get()) objectIDList_ = PidlClone(pidl);
    absoluteObjectIDList_.reset();
    findData_ = WIN32_FIND_DATAW{};
    subFolderState_ = -1;
    knownAttributes_ = 0;
    attributes_ = 0;
}

TPidl TShFolderObject::GetObjectIDList() const { return PidlClone(objectIDList_.get()); }

LPCITEMIDLIST TShFolderObject::GetAbsoluteObjectIDList()
{
    if (!absoluteObjectIDList_ && folderIDList_) {
        absoluteObjectIDList_ = objectIDList_ ? PidlCombine(folderIDList_.get(), objectIDList_.get())
                                              : PidlClone(folderIDList_.get());
    }
    return absoluteObjectIDList_.get();
}

const WIN32_FIND_DATAW& TShFolderObject::GetFindData()
{
    if (findData_.cFileName[0] == 0 && shellFolder_ && objectIDList_) {
        classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
        if (FAILED(::SHGetDataFromIDListW(shellFolder_.Get(), objectIDList_.get(), SHGDFIL_FINDDATA, &findData_,
                                          sizeof(findData_)))) {
            findData_ = WIN32_FIND_DATAW{};
        } else {
            // The find data's name may have passed through the ANSI code
            // page (Wine keeps one in the item's id), which turns letters
            // outside it into '?'. The folder's parsing name of the item is
            // the file's own UTF-16 name: it replaces the copy.
            STRRET strRet{};
            if (SUCCEEDED(shellFolder_->GetDisplayNameOf(objectIDList_.get(), SHGDN_INFOLDER | SHGDN_FORPARSING,
                                                         &strRet))) {
                const std::wstring name = StrRetToWide(objectIDList_.get(), strRet);
                if (!name.empty() && name.size() < MAX_PATH && name.find_first_of(L"\\/:") == std::wstring::npos) {
                    name.copy(findData_.cFileName, name.size());
                    findData_.cFileName[name.size()] = 0;
                }
            }
        }
    }
    return findData_;
}

std::wstring TShFolderObject::GetObjectName()
{
    if (!folderIDList_ || !objectIDList_) return {};
    std::wstring name = GetFindData().cFileName;
    if (name.empty() && PidlItemCount(GetAbsoluteObjectIDList()) > 1) {
        const std::wstring path = GetObjectPath();
        name = IsDriveRoot(path) ? path : classlib::ExtractFileName(path);
        if (name.empty()) name = PidlNetResourceName(shellFolder_.Get(), objectIDList_.get());
    }
    return name;
}

void TShFolderObject::SetObjectName(const std::wstring& value)
{
    if (value.empty()) {
        SetObjectIDList(nullptr);
        return;
    }
    std::wstring name = value;
    if (name.size() > 3 && name.back() == L'\\') name.pop_back();
    if (name.find(L'\\') == std::wstring::npos) {
        if (shellFolder_) {
            classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS, !showErrorMessages_);
            TPidl pidl = PathToPidl(shellFolder_.Get(), name);
            SetObjectIDList(pidl.get());
        } else {
            SetObjectIDList(nullptr);
        }
        if (objectIDList_) return;
        DropEnumerator();
        while (NextObject()) {
            if (classlib::WideSameText(GetDisplayName(), name) || classlib::WideSameText(GetObjectName(), name)) {
                DropEnumerator();
                return;
            }
        }
        throw EShFolderObjectError(L"Error! Cannot find Object \"" + name + L"\" in Folder \"" + GetFolder() + L"\"");
    }
    if (IsDriveRoot(name)) {
        SetFolder(name);
        SelectFolderInParent();
        return;
    }
    SetFolder(classlib::ExtractFilePath(name));
    SetObjectName(classlib::ExtractFileName(name));
}

std::wstring TShFolderObject::GetObjectPath() { return PidlToPath(GetAbsoluteObjectIDList()); }

bool TShFolderObject::IsObjectDriveRoot() { return IsDriveRoot(GetObjectPath()); }

std::wstring TShFolderObject::GetDisplayName()
{
    if (!objectIDList_ || !shellFolder_) return {};
    std::wstring name;
    STRRET strRet{};
    if (SUCCEEDED(shellFolder_->GetDisplayNameOf(objectIDList_.get(), SHGDN_NORMAL, &strRet)))
        name = StrRetToWide(objectIDList_.get(), strRet);
    if (name.empty()) name = GetObjectName();
    return name;
}

bool TShFolderObject::NextObject()
{
    classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS, !showErrorMessages_);
    if (!shellFolder_) return false;
    if (!enumerator_) {
        HRESULT hr = shellFolder_->EnumObjects(OwnerWindow(), SHCONTF_FOLDERS | SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN,
                                               enumerator_.Put());
        // S_FALSE (an empty or unreadable folder) leaves no enumerator.
        if (FAILED(hr) || hr == S_FALSE || !enumerator_) {
            enumerator_.Reset();
            return false;
        }
        // Looked up once per enumeration: the special folder's list costs
        // a fraction of a millisecond, thousands of times over in a large
        // folder.
        enumInNetwork_ = PidlToSpecialFolder(folderIDList_.get(), ShellFolderBit(SF_NETWORK)) == SF_NETWORK;
    }
    auto fetch = [this]() -> bool {
        LPITEMIDLIST item = nullptr;
        ULONG fetched = 0;
        if (enumerator_->Next(1, &item, &fetched) != S_OK || !item) {
            if (item) ::CoTaskMemFree(item);
            return false;
        }
        TPidl owned(item);
        SetObjectIDList(owned.get());
        return true;
    };
    try {
        const bool inNetwork = enumInNetwork_;
        while (fetch()) {
            if (fileSystemOnly_ && GetAttributes(SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR) == 0) {
                const std::wstring name = GetObjectName();
                const bool recycle = name.size() >= 7 && classlib::WideSameText(name.substr(0, 7), L"RECYCLE");
                const TShellFolder special = GetObjectSpecialFolder();
                if (!recycle && special != SF_DRIVES && special != SF_NETWORK && !inNetwork) continue;
            }
            if (inNetwork && GetObjectName().empty()) continue;
            if (MatchesFilterList()) return true;
        }
        enumerator_.Reset();
        return false;
    } catch (...) {
        if (enumerator_ && fetch()) return true;
        enumerator_.Reset();
        return false;
    }
}

bool TShFolderObject::OpenObjectAsFolder()
{
    if (!IsFolder()) return false;
    TPidl absolute = PidlClone(GetAbsoluteObjectIDList());
    SetFolderIDList(absolute.get());
    return bool(shellFolder_);
}

// ---------------------------------------------------------------------------
// Attributes

ULONG TShFolderObject::GetAttributes(ULONG mask)
{
    if (!shellFolder_ || !objectIDList_) return 0;
    // The attributes that cost the shell nothing beyond what it holds for
    // the object are asked together, once per object; the rest (sub-folders,
    // validation, removable media) only when asked for, and kept too.
    constexpr ULONG kCheap = SFGAO_FOLDER | SFGAO_HIDDEN | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR | SFGAO_LINK |
                             SFGAO_SHARE | SFGAO_GHOSTED | SFGAO_COMPRESSED | SFGAO_ENCRYPTED | SFGAO_READONLY |
                             SFGAO_CANRENAME;
    constexpr ULONG kNeverKept = SFGAO_VALIDATE;
    const ULONG missing = mask & ~knownAttributes_;
    if (missing != 0 || (mask & kNeverKept)) {
        ULONG ask = missing | ((knownAttributes_ & kCheap) == kCheap ? 0 : kCheap & ~knownAttributes_);
        ULONG answer = ask;
        LPCITEMIDLIST item = objectIDList_.get();
        if (FAILED(shellFolder_->GetAttributesOf(1, &item, &answer))) return 0;
        attributes_ = (attributes_ & ~ask) | (answer & ask);
        knownAttributes_ |= ask & ~kNeverKept;
    }
    return mask & attributes_;
}

bool TShFolderObject::IsFolder()
{
    if (!fileSystemOnly_) return GetAttributes(SFGAO_FOLDER) != 0;
    const ULONG a = GetAttributes(SFGAO_FOLDER | SFGAO_FILESYSANCESTOR);
    return (a & SFGAO_FOLDER) && (IsOldShell || (a & SFGAO_FILESYSANCESTOR));
}

bool TShFolderObject::HasSubFolders()
{
    if (!objectIDList_) return false;
    if (subFolderState_ >= 0) return subFolderState_ == 1;
    bool result;
    if (!IsOldShell && classlib::WideUpperCase(classlib::ExtractFileExt(GetObjectName())) == L".ZIP") {
        result = !fileSystemOnly_;
    } else if (fileSystemOnly_) {
        const ULONG a = GetAttributes(SFGAO_HASSUBFOLDER | SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR);
        result = (a & SFGAO_HASSUBFOLDER) && (a & (SFGAO_FILESYSTEM | SFGAO_FILESYSANCESTOR));
    } else {
        result = GetAttributes(SFGAO_HASSUBFOLDER) != 0;
    }
    subFolderState_ = result ? 1 : 0;
    return result;
}

bool TShFolderObject::IsHidden() { return GetAttributes(SFGAO_HIDDEN) != 0; }
bool TShFolderObject::IsLink() { return GetAttributes(SFGAO_LINK) != 0; }
bool TShFolderObject::CanRename() { return GetAttributes(SFGAO_CANRENAME) != 0; }

std::wstring TShFolderObject::GetLinkTarget()
{
    if (!IsLink()) return {};
    const std::wstring target = GetShellLinkTarget(GetFolder() + GetObjectName());
    return PathExists(target) ? target : std::wstring();
}

std::wstring TShFolderObject::GetNetResourceName()
{
    return PidlNetResourceName(shellFolder_.Get(), objectIDList_.get());
}

classlib::TDateTime TShFolderObject::GetModifiedTime()
{
    const WIN32_FIND_DATAW& data = GetFindData();
    if (data.cFileName[0] == 0 || data.ftLastWriteTime.dwHighDateTime == 0) return 0;
    SYSTEMTIME st;
    if (!::FileTimeToSystemTime(&data.ftLastWriteTime, &st)) return 0;
    return classlib::SystemTimeToDateTime(st);
}

int TShFolderObject::GetOverlayIndex()
{
    if (!objectIDList_ || !shellFolder_) return -1;
    if (IsWinNT) {
        try {
            TComRef<IShellIconOverlay> overlay;
            if (SUCCEEDED(shellFolder_->QueryInterface(IID_IShellIconOverlay, overlay.PutVoid())) && overlay) {
                classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
                int index = 0;
                if (SUCCEEDED(overlay->GetOverlayIndex(objectIDList_.get(), &index))) return index - 1;
                return -1;
            }
        } catch (...) {
        }
    }
    const ULONG a = GetAttributes(SFGAO_LINK | SFGAO_SHARE);
    if (a & SFGAO_LINK) return 1;
    if (a & SFGAO_SHARE) return 0;
    return -1;
}

std::wstring TShFolderObject::GetInfoTip(bool slow)
{
    if (!objectIDList_ || !shellFolder_) return {};
    TComRef<IQueryInfo> info;
    if (FAILED(GetUIObjectOf(IID_IQueryInfo, info.PutVoid())) || !info) return {};
    classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    LPWSTR tip = nullptr;
    std::wstring result;
    if (SUCCEEDED(info->GetInfoTip(slow ? QITIPF_USESLOWTIP : 0, &tip)) && tip) result = tip;
    if (tip) ::CoTaskMemFree(tip);
    return result;
}

int TShFolderObject::GetIconIndex()
{
    if (!objectIDList_) return -1;
    return GetPidlIconIndex(GetAbsoluteObjectIDList(), si_small, false);
}

int TShFolderObject::GetOpenIconIndex()
{
    if (!objectIDList_) return -1;
    return GetPidlIconIndex(GetAbsoluteObjectIDList(), si_small, true);
}

int TShFolderObject::GetDesktopIconIndex() { return GetPidlIconIndex(DesktopPidl(), si_small, false); }

std::wstring TShFolderObject::GetDesktopDisplayName()
{
    SHFILEINFOW info{};
    ::SHGetFileInfoW(reinterpret_cast<LPCWSTR>(DesktopPidl()), 0, &info, sizeof(info), SHGFI_PIDL | SHGFI_DISPLAYNAME);
    return info.szDisplayName;
}

// ---------------------------------------------------------------------------
// Details

bool TShFolderObject::EnsureDetails()
{
    if (shellFolder2_ || shellDetails_) return true;
    if (detailsFailed_ || !shellFolder_) return false;
    if (SUCCEEDED(shellFolder_->QueryInterface(IID_IShellFolder2, shellFolder2_.PutVoid())) && shellFolder2_) return true;
    shellFolder2_.Reset();
    if (SUCCEEDED(shellFolder_->CreateViewObject(OwnerWindow(), IID_IShellDetails, shellDetails_.PutVoid())) &&
        shellDetails_)
        return true;
    shellDetails_.Reset();
    detailsFailed_ = true;
    return false;
}

int TShFolderObject::GetDetailsOf(int column, int& width)
{
    width = 120;
    if (!EnsureDetails()) return 0;
    SHELLDETAILS details{};
    if (shellFolder2_) {
        if (FAILED(shellFolder2_->GetDetailsOf(nullptr, UINT(column), &details))) return 0;
    } else if (FAILED(shellDetails_->GetDetailsOf(nullptr, UINT(column), &details))) {
        return 0;
    }
    const int alignment = details.fmt & LVCFMT_JUSTIFYMASK;
    width = details.cxChar * 7;
    FreeStrRet(details.str);
    if (shellFolder2_) {
        SHCOLSTATEF state = 0;
        if (SUCCEEDED(shellFolder2_->GetDefaultColumnState(UINT(column), &state)) &&
            (!(state & SHCOLSTATE_ONBYDEFAULT) || (state & SHCOLSTATE_HIDDEN)))
            width = 0;
    }
    return alignment;
}

std::wstring TShFolderObject::GetDetail(int column, bool header)
{
    if (column == 0 && !header) return GetDisplayName();
    if (!header && !objectIDList_) return {};
    if (!EnsureDetails()) return {};
    classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    LPCITEMIDLIST item = header ? nullptr : objectIDList_.get();
    SHELLDETAILS details{};
    HRESULT hr = E_FAIL;
    if (shellFolder2_) hr = shellFolder2_->GetDetailsOf(item, UINT(column), &details);
    if (FAILED(hr) && shellDetails_) {
        details = SHELLDETAILS{};
        hr = shellDetails_->GetDetailsOf(item, UINT(column), &details);
    }
    if (FAILED(hr)) return {};
    return StrRetToWide(item, details.str);
}

// ---------------------------------------------------------------------------
// Commands

HWND TShFolderObject::OwnerWindow()
{
    if (!showErrorMessages_ && (enumerator_ || !IsNetworkPidl(GetAbsoluteObjectIDList()))) return nullptr;
    if (dialogOwner_ && dialogOwner_->HandleAllocated()) return dialogOwner_->GetHandle();
    if (auto* control = dynamic_cast<classlib::TWinControl*>(GetOwner()); control && isLoaded_)
        return control->GetHandle();
    return MainWindowHandle();
}

bool TShFolderObject::Rename(std::wstring& newName)
{
    if (!shellFolder_ || !objectIDList_) return false;
    THourglassScope hourglass;
    LPITEMIDLIST newPidl = nullptr;
    const HRESULT hr = shellFolder_->SetNameOf(OwnerWindow(), objectIDList_.get(), newName.c_str(), 32, &newPidl);
    TPidl owned(newPidl);
    if (FAILED(hr)) return false;
    if (owned) SetObjectIDList(owned.get());
    newName = GetDisplayName();
    return true;
}

HRESULT TShFolderObject::GetUIObjectOf(REFIID iid, void** obj)
{
    *obj = nullptr;
    std::vector<TPidl> lists;
    // MultiObjects is emptied on every way out.
    classlib::TOnExit clear([list = multiObjects_.get()] { list->Clear(); });

    const int entries = multiObjects_->GetCount();
    // Several objects must share one folder for one shell call: full paths
    // make their parent folder the Folder for the call (all of them the
    // same one; a list spread over several folders is refused rather than
    // handed to the shell as lists of another folder). Folder and object in
    // force before are put back afterwards, also when a step raises.
    struct TRestore {
        TShFolderObject* self;
        TPidl folder, object;
        bool folderMoved = false;
        ~TRestore()
        {
            try {
                if (folderMoved) self->SetFolderIDList(folder.get());
                self->SetObjectIDList(object.get());
            } catch (...) {
            }
        }
    };
    std::unique_ptr<TRestore> restore;
    if (entries >= 2) {
        restore.reset(new TRestore{this, PidlClone(folderIDList_.get()), PidlClone(objectIDList_.get())});
        std::wstring sharedParent;
        for (int i = 0; i < entries; ++i) {
            const std::wstring entry = multiObjects_->GetStrings(i);
            TPidl pidl;
            if ((IsDrivePath(entry) || IsUncPath(entry)) && !IsDriveRoot(entry)) {
                const std::wstring parent = classlib::ExtractFilePath(classlib::ExcludeTrailingPathDelimiter(entry));
                if (sharedParent.empty()) {
                    sharedParent = parent;
                    restore->folderMoved = true;
                    SetFolder(parent);
                } else if (!SamePath(parent, sharedParent)) {
                    ::SetLastError(DWORD(E_INVALIDARG));
                    return E_INVALIDARG;
                }
                const std::wstring name = classlib::ExtractFileName(classlib::ExcludeTrailingPathDelimiter(entry));
                if (shellFolder_) pidl = PathToPidl(shellFolder_.Get(), name);
                if (!pidl) {
                    SetObjectName(name);
                    pidl = PidlClone(objectIDList_.get());
                }
            } else {
                if (shellFolder_) pidl = PathToPidl(shellFolder_.Get(), entry);
                if (!pidl) {
                    SetObjectName(entry);
                    pidl = PidlClone(objectIDList_.get());
                }
            }
            if (pidl) lists.push_back(std::move(pidl));
        }
    } else if (entries == 1) {
        SetObjectName(multiObjects_->GetStrings(0));
        if (objectIDList_) lists.push_back(PidlClone(objectIDList_.get()));
    } else if (objectIDList_) {
        lists.push_back(PidlClone(objectIDList_.get()));
    }
    if (!shellFolder_) throw EShFolderObjectError(L"No valid folder is currently assigned");

    std::vector<LPCITEMIDLIST> items;
    for (const TPidl& p : lists) items.push_back(p.get());
    const HRESULT hr = shellFolder_->GetUIObjectOf(OwnerWindow(), UINT(items.size()), items.empty() ? nullptr : items.data(),
                                                   iid, nullptr, obj);
    restore.reset();
    if (FAILED(hr)) {
        ::SetLastError(DWORD(hr));
        *obj = nullptr;
    }
    return hr;
}

std::wstring TShFolderObject::ActionPath()
{
    if (multiObjects_->GetCount() > 0) {
        const std::wstring first = multiObjects_->GetStrings(0);
        if (!classlib::ExtractFileDrive(first).empty()) return first;
        return GetFolder() + first;
    }
    return GetFolder() + GetObjectName();
}

std::vector<std::wstring> TShFolderObject::CommandPaths()
{
    std::vector<std::wstring> paths;
    if (multiObjects_->GetCount() > 0) {
        // Names of the folder's objects are made full paths.
        for (int i = 0; i < multiObjects_->GetCount(); ++i) {
            const std::wstring entry = multiObjects_->GetStrings(i);
            const bool full = IsDrivePath(entry) || IsUncPath(entry) || !classlib::ExtractFileDrive(entry).empty();
            paths.push_back(full ? entry : GetFolder() + entry);
        }
    } else {
        paths.push_back(GetFolder() + GetObjectName());
    }
    return paths;
}

bool TShFolderObject::CallBeforeShellCommand(const std::wstring& verb, const std::vector<std::wstring>& paths)
{
    if (!OnBeforeShellCommand) return true;
    TShPathList list;
    for (const std::wstring& path : paths) list.Add(path);
    bool allow = true;
    OnBeforeShellCommand(this, verb, &list, allow);
    return allow;
}

// The class library's popup menu copied into the native menu while the
// shell's context menu shows: the copies, the command and submenu each copy
// got, and the pictures of their images. Lives for one showing; it watches
// the original entries, so that one freed while the menu shows is never
// clicked.
struct TShFolderObject::TMergedMenu : classlib::TComponent {
    TMergedMenu() : classlib::TComponent(nullptr) {}
    ~TMergedMenu() override
    {
        for (classlib::TComponent* c : watched) RemoveFreeNotification(c);
    }
    std::wstring ClassName() const override { return L"TShFolderObjectMergedMenu"; }

    // The shell's commands are 1..255, but a shell may also remove entries
    // it does not offer by numbers of its own beyond that (found in its
    // 0x7000 block and as small offsets past 255), taking any entry with
    // such a number along. The copies therefore take numbers from 0x8000
    // up, below the system commands; WM_MENUSELECT carries 16 bits.
    static constexpr UINT kFirstCommand = 0x8000;
    static constexpr UINT kLastCommand = 0xEFFF;

    std::vector<classlib::TMenuItemCopy> entries;
    classlib::TCustomImageList* images = nullptr;  // the menu's own
    std::map<UINT, const classlib::TMenuItemCopy*> byCommand;
    std::map<HMENU, const classlib::TMenuItemCopy*> bySubmenu;
    std::vector<classlib::TOwnedBitmap> bitmaps;
    // The native menu and position just after the copy of the entry the
    // shell's entries follow (anchorMenu null: the entry was not copied).
    HMENU anchorMenu = nullptr;
    UINT anchorPosition = 0;
    UINT nextCommand = kFirstCommand;
    IContextMenu* shell = nullptr;  // borrowed while the menu shows
    std::set<classlib::TComponent*> watched;
    std::set<classlib::TComponent*> gone;

    void Watch(classlib::TComponent* c)
    {
        if (c && watched.insert(c).second) FreeNotification(c);
    }
    void Notification(classlib::TComponent* c, classlib::TOperation op) override
    {
        classlib::TComponent::Notification(c, op);
        if (op == classlib::opRemove && watched.erase(c)) gone.insert(c);
    }

    // A picture of an entry's image on the menu's colour (null without one).
    HBITMAP EntryBitmap(const classlib::TMenuItemCopy& e)
    {
        classlib::TCustomImageList* list = e.Images ? e.Images : images;
        if (!list || e.ImageIndex < 0 || e.ImageIndex >= list->GetCount()) return nullptr;
        const int w = list->GetWidth(), h = list->GetHeight();
        classlib::TScreenDC screen;
        classlib::TOwnedDC dc(::CreateCompatibleDC(screen.Get()));
        classlib::TOwnedBitmap bitmap(::CreateCompatibleBitmap(screen.Get(), w, h));
        if (!dc || !bitmap) return nullptr;
        {
            classlib::TSelectObjectScope select(dc.Get(), bitmap.Get());
            const RECT r{0, 0, w, h};
            ::FillRect(dc.Get(), &r, ::GetSysColorBrush(COLOR_MENU));
            ::ImageList_Draw(list->GetHandle(), e.ImageIndex, dc.Get(), 0, 0, ILD_TRANSPARENT);
        }
        bitmaps.push_back(std::move(bitmap));
        return bitmaps.back().Get();
    }

    // Puts the default entry back on the shell's side when the shell's
    // entries (count of them from position first of menu) made a plain
    // copy the default.
    void KeepDefaults(HMENU menu, UINT first, int count);

    // Inserts the visible copies of list into menu, submenus inside.
    void Fill(HMENU menu, const std::vector<classlib::TMenuItemCopy>& list, const classlib::TComponent* anchor)
    {
        UINT position = 0;
        for (const classlib::TMenuItemCopy& e : list) {
            Watch(e.Source);
            const bool isAnchor = anchor && e.Source == anchor;
            if (!e.Visible || (!e.IsSeparator() && nextCommand > kLastCommand)) {
                // A hidden anchor still places the shell's entries where it stands.
                if (isAnchor) anchorMenu = menu, anchorPosition = position;
                continue;
            }
            MENUITEMINFOW mi{};
            mi.cbSize = sizeof(mi);
            std::wstring text;
            HMENU sub = nullptr;
            if (e.IsSeparator()) {
                mi.fMask = MIIM_FTYPE;
                mi.fType = MFT_SEPARATOR;
            } else {
                mi.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_STATE | MIIM_ID;
                mi.fType = MFT_STRING;
                if (e.RadioItem) mi.fType |= MFT_RADIOCHECK;
                if (e.Break) mi.fType |= MFT_MENUBREAK;
                if (e.Checked) mi.fState |= MFS_CHECKED;
                if (!e.Enabled) mi.fState |= MFS_DISABLED;
                if (e.Default) mi.fState |= MFS_DEFAULT;
                text = e.Caption;
                if (!e.ShortCutText.empty()) text += L"\t" + e.ShortCutText;
                mi.dwTypeData = text.data();
                mi.wID = nextCommand++;
                if (HBITMAP picture = EntryBitmap(e)) {
                    mi.fMask |= MIIM_BITMAP;
                    mi.hbmpItem = picture;
                }
                if (e.IsSubmenu && (sub = ::CreatePopupMenu()) != nullptr) {
                    Fill(sub, e.Items, anchor);
                    mi.fMask |= MIIM_SUBMENU;
                    mi.hSubMenu = sub;
                }
            }
            if (!::InsertMenuItemW(menu, position, TRUE, &mi)) {
                if (sub) ::DestroyMenu(sub);
                continue;
            }
            ++position;
            if (!e.IsSeparator()) byCommand[mi.wID] = &e;
            if (sub) bySubmenu[sub] = &e;
            if (isAnchor) anchorMenu = menu, anchorPosition = position;
        }
    }
};

void TShFolderObject::TMergedMenu::KeepDefaults(HMENU menu, UINT first, int count)
{
    // A shell may make the entry at the first position the default, which
    // is a copy when the copies come first: the default then goes to the
    // shell's own first entry.
    const UINT chosen = ::GetMenuDefaultItem(menu, FALSE, GMDI_USEDISABLED);
    const auto it = byCommand.find(chosen);
    if (chosen == UINT(-1) || it == byCommand.end() || it->second->Default) return;
    for (int i = 0; i < count; ++i) {
        const UINT id = ::GetMenuItemID(menu, int(first) + i);
        if (id >= 1 && id <= 255) {
            ::SetMenuDefaultItem(menu, id, FALSE);
            return;
        }
    }
    ::SetMenuDefaultItem(menu, UINT(-1), FALSE);
}

void TShFolderObject::MenuSelect(WPARAM wParam, LPARAM lParam)
{
    if (!classlib::Application || !mergedMenu_) return;
    const UINT id = LOWORD(wParam);
    const UINT flags = HIWORD(wParam);
    auto menu = reinterpret_cast<HMENU>(lParam);
    std::wstring hint;
    if (flags == 0xFFFF && !menu) {
        // The menu closed.
    } else if (flags & MF_POPUP) {
        const auto it = mergedMenu_->bySubmenu.find(::GetSubMenu(menu, int(id)));
        if (it != mergedMenu_->bySubmenu.end()) hint = classlib::GetLongHint(it->second->Hint);
    } else if (id >= 1 && id <= 255) {
        wchar_t text[2600] = {};
        if (mergedMenu_->shell &&
            SUCCEEDED(mergedMenu_->shell->GetCommandString(id - 1, GCS_HELPTEXTW, nullptr,
                                                            reinterpret_cast<LPSTR>(text), 2600))) {
            text[2599] = 0;
            hint = text;
        }
    } else if (const auto it = mergedMenu_->byCommand.find(id); it != mergedMenu_->byCommand.end()) {
        hint = classlib::GetLongHint(it->second->Hint);
    }
    classlib::Application->SetHint(hint);
}

LRESULT CALLBACK TShFolderObject::MenuWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<TShFolderObject*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    const bool terminating = classlib::Application && classlib::Application->Terminated();
    if (self && !terminating) {
        if (self->contextMenu2_ && (message == WM_INITMENUPOPUP || message == WM_DRAWITEM || message == WM_MEASUREITEM))
            self->contextMenu2_->HandleMenuMsg(message, wParam, lParam);
        else if (message == WM_MENUSELECT)
            self->MenuSelect(wParam, lParam);
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

std::wstring TShFolderObject::ShowContextMenu(POINT point, classlib::TPopupMenu* popupMenu, classlib::TComponent* item)
{
    classlib::TOnExit clear([list = multiObjects_.get()] { list->Clear(); });

    const std::wstring actionPath = ActionPath();
    // Taken before the UI object empties MultiObjects.
    const std::vector<std::wstring> paths = CommandPaths();

    TMergedMenu merged;
    if (popupMenu) {
        merged.Watch(popupMenu);
        popupMenu->OnPopup(popupMenu);
        if (merged.gone.count(popupMenu)) return {};
        merged.entries = popupMenu->CopyItems();
        merged.images = popupMenu->GetImages();
    }

    TComRef<IContextMenu> menu;
    if (FAILED(GetUIObjectOf(IID_IContextMenu, menu.PutVoid())) || !menu) return {};

    const classlib::TOwnedMenu popup(::CreatePopupMenu());
    if (!popup) return {};
    merged.Fill(popup.Get(), merged.entries, item);
    UINT flags = CMF_EXPLORE;
    if (OnRename) flags |= CMF_CANRENAME;
    if (::GetKeyState(VK_SHIFT) < 0) flags |= CMF_EXTENDEDVERBS;
    HMENU shellMenu = popup.Get();
    UINT position = 0;
    if (showContextMenuOnTop_) {
        position = 0;
    } else if (merged.anchorMenu) {
        shellMenu = merged.anchorMenu;
        position = merged.anchorPosition;
    } else {
        position = UINT(::GetMenuItemCount(popup.Get()));
    }
    const int countBefore = ::GetMenuItemCount(shellMenu);
    if (FAILED(menu->QueryContextMenu(shellMenu, position, 1, 255, flags))) return {};
    merged.KeepDefaults(shellMenu, position, ::GetMenuItemCount(shellMenu) - countBefore);

    static const wchar_t* const className = L"TShFolderObjectMenuWindow";
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!::GetClassInfoExW(::GetModuleHandleW(nullptr), className, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &TShFolderObject::MenuWindowProc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        ::RegisterClassExW(&wc);
    }
    UINT command = 0;
    {
        struct TMenuWindow {
            TShFolderObject* self;
            ~TMenuWindow()
            {
                if (self->menuWindow_) ::DestroyWindow(self->menuWindow_);
                self->menuWindow_ = nullptr;
                self->contextMenu2_.Reset();
                self->mergedMenu_ = nullptr;
            }
        } menuWindow{this};
        menu->QueryInterface(IID_IContextMenu2, contextMenu2_.PutVoid());
        merged.shell = menu.Get();
        mergedMenu_ = &merged;
        menuWindow_ = ::CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                        ::GetModuleHandleW(nullptr), nullptr);
        if (!menuWindow_) return {};
        ::SetWindowLongPtrW(menuWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        command = UINT(::TrackPopupMenu(popup.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, point.x, point.y, 0,
                                        menuWindow_, nullptr));
    }

    if (command >= TMergedMenu::kFirstCommand) {
        // One of the class library's entries: its original is clicked and
        // the shell runs nothing.
        const auto it = merged.byCommand.find(command);
        if (it != merged.byCommand.end() && it->second->Click && !merged.gone.count(it->second->Source))
            it->second->Click();
        return {};
    }

    std::wstring verb;
    if (command >= 1 && command <= 255) {
        wchar_t buffer[260] = {};
        if (SUCCEEDED(menu->GetCommandString(command - 1, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(buffer), 260)))
            verb = buffer;
        if (CallBeforeShellCommand(verb, paths)) {
            bool execute = true;
            OnContextMenuSelect(verb, execute);
            if (readOnly_ && (classlib::WideSameText(verb, L"delete") || classlib::WideSameText(verb, L"cut") ||
                              classlib::WideSameText(verb, L"paste")))
                execute = false;
            if (!execute) {
                verb.clear();
            } else if (classlib::WideSameText(verb, L"rename") && OnRename) {
                OnRename(this);
            } else {
                CMINVOKECOMMANDINFO info{};
                info.cbSize = sizeof(info);
                info.hwnd = OwnerWindow();
                info.lpVerb = MAKEINTRESOURCEA(command - 1);
                info.nShow = SW_SHOWNORMAL;
                if (FAILED(menu->InvokeCommand(&info))) verb.clear();
            }
        }
    }
    if (classlib::WideSameText(verb, L"DELETE") && PathExists(actionPath)) verb.clear();
    return verb;
}

bool TShFolderObject::RunDefaultVerb(const std::wstring& Folder)
{
    const std::wstring path = GetObjectPath();
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = OwnerWindow();
    info.nShow = SW_SHOWNORMAL;
    if (!Folder.empty()) info.lpDirectory = Folder.c_str();
    if (!path.empty()) {
        info.lpFile = path.c_str();
    } else if (LPCITEMIDLIST absolute = GetAbsoluteObjectIDList()) {
        info.fMask |= SEE_MASK_IDLIST;
        info.lpIDList = const_cast<LPITEMIDLIST>(absolute);
    } else {
        return false;
    }
    return ::ShellExecuteExW(&info) != FALSE;
}

bool TShFolderObject::ExecuteCommand(const std::wstring& verbIn)
{
    classlib::TOnExit clear([list = multiObjects_.get()] { list->Clear(); });

    bool execute = true;
    OnContextMenuSelect(verbIn, execute);
    if (!execute) return false;
    if ((!objectIDList_ && multiObjects_->GetCount() == 0) || !shellFolder_) return false;

    const std::wstring verb = verbIn.empty() ? std::wstring(L"default") : verbIn;
    const bool singleObject = multiObjects_->GetCount() == 0;
    const bool isDelete = classlib::WideSameText(verb, L"DELETE");
    if (isDelete && multiObjects_->GetCount() == 0 && GetAttributes(SFGAO_CANDELETE) == 0) return false;
    THourglassScope hourglass;
    const std::wstring actionPath = ActionPath();

    // The handler sees the entries before the UI object takes (and empties) them.
    if (!CallBeforeShellCommand(verb, CommandPaths())) return false;
    TComRef<IContextMenu> menu;
    if (FAILED(GetUIObjectOf(IID_IContextMenu, menu.PutVoid())) || !menu) return false;

    const std::wstring folder = GetFolder();
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = sizeof(info);
    // The wide fields are read only with the Unicode flag.
    info.fMask = 0x10000 | CMIC_MASK_UNICODE;
    info.hwnd = OwnerWindow();
    info.nShow = SW_SHOWNORMAL;
    const std::string narrowVerb = Narrow(verb);
    HRESULT hr = E_FAIL;
    const classlib::TOwnedMenu popup(::CreatePopupMenu());
    if (classlib::WideSameText(verb, L"DEFAULT")) {
        UINT item = UINT(-1);
        if (SUCCEEDED(menu->QueryContextMenu(popup.Get(), 0, 1, 0x7FFF, CMF_DEFAULTONLY)))
            item = ::GetMenuDefaultItem(popup.Get(), FALSE, 0);
        // Some shells put nothing into a menu of the default alone (and their
        // full menu's default opens a file as a folder): one object is then
        // run with its type's default verb.
        if ((item == UINT(-1) || item == 0) && singleObject) return RunDefaultVerb(folder);
        if (item == UINT(-1) || item == 0) return false;
        info.lpVerb = MAKEINTRESOURCEA(item - 1);
        info.lpVerbW = MAKEINTRESOURCEW(item - 1);
        if (folder.size() < MAX_PATH) info.lpDirectoryW = folder.c_str();
        hr = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
    } else if (classlib::WideSameText(verb, L"rename") && OnRename) {
        OnRename(this);
        return true;
    } else {
        if (FAILED(menu->QueryContextMenu(popup.Get(), 0, 1, 0x7FFF, CMF_EXPLORE | CMF_EXTENDEDVERBS))) return false;
        info.lpVerb = narrowVerb.c_str();
        info.lpVerbW = verb.c_str();
        info.lpDirectoryW = folder.c_str();
        hr = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
    }
    // Some shells offer no "paste" on a folder object: the files are then
    // pasted into the folder here.
    if (FAILED(hr) && classlib::WideSameText(verb, L"paste") && singleObject && IsFolder() &&
        PasteClipboardInto(info.hwnd, GetObjectPath()))
        hr = S_OK;
    if (FAILED(hr)) {
        ::SetLastError(DWORD(hr));
        return false;
    }
    if (isDelete && PathExists(actionPath)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Thumbnail

classlib::TBitmap* TShFolderObject::GetThumbnailBitmap(int width, int height, bool iconFallback)
{
    const int askedWidth = width, askedHeight = height;
    if (width <= 0 || height <= 0) width = height = 200;
    LPCITEMIDLIST absolute = GetAbsoluteObjectIDList();
    if (!absolute || !objectIDList_) return nullptr;
    if (IsOldShell) return nullptr;
    // A picture file is read by the picture codecs first: some platforms'
    // shells hand out icons only.
    if (!IsFolder())
        if (HBITMAP own = MakePictureThumbnail(GetObjectPath(), width, height)) return AdoptBitmap(own);

    if (IsVistaOrLater && (CommonControlsMajorVersion() >= 6 || !iconFallback)) {
        if (!ShellEntryPoints.SHCreateItemFromIDList)
            throw classlib::EAssertionFailed(L"SHCreateItemFromIDList should be available under Vista, but itsn't");
        TComRef<IShellItem> item;
        if (FAILED(ShellEntryPoints.SHCreateItemFromIDList(absolute, IID_IShellItem, item.PutVoid())) || !item) {
            ::OutputDebugStringW(L"TShFolderObject.GetThumbnailBitmap: SHCreateItemFromIDList failed");
            return nullptr;
        }
        TComRef<IShellItemImageFactory> factory;
        if (FAILED(item->QueryInterface(IID_IShellItemImageFactory, factory.PutVoid())) || !factory) {
            ::OutputDebugStringW(L"TShFolderObject.GetThumbnailBitmap: Couldn't get IShellItemImageFactory interface");
            return nullptr;
        }
        const SIIGBF flags = iconFallback ? SIIGBF(0) : SIIGBF_THUMBNAILONLY;
        HBITMAP first = nullptr;
        if (FAILED(factory->GetImage(SIZE{width, height}, flags, &first)) || !first) {
            ::OutputDebugStringW(L"TShFolderObject.GetThumbnailBitmap: IShellItemImageFactory.GetImage failed");
            return nullptr;
        }
        BITMAP info{};
        ::GetObjectW(first, sizeof(info), &info);
        SIZE again{width, height};
        bool retry = false;
        if (info.bmHeight > askedHeight * 1.1) {
            again.cx = info.bmHeight ? LONG(classlib::Round(double(askedWidth) * askedHeight / info.bmHeight)) : 0;
            retry = true;
        } else if (info.bmWidth > askedWidth * 1.1) {
            again.cy = info.bmWidth ? LONG(classlib::Round(double(askedHeight) * askedWidth / info.bmWidth)) : 0;
            retry = true;
        }
        classlib::TOwnedBitmap result(first);
        if (retry) {
            HBITMAP second = nullptr;
            if (SUCCEEDED(factory->GetImage(again, flags, &second)) && second) result.Reset(second);
        }
        return AdoptBitmap(result.Release());
    }

    HBITMAP bitmap = nullptr;
    {
        classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
        TComRef<IExtractImage> extract;
        if (SUCCEEDED(GetUIObjectOf(IID_IExtractImage, extract.PutVoid())) && extract) {
            std::vector<wchar_t> location(2600, L'\0');
            DWORD priority = 2;
            SIZE size{width, height};
            DWORD flags = IEIFLAG_SCREEN | IEIFLAG_QUALITY;
            const HRESULT hr = extract->GetLocation(location.data(), DWORD(location.size()), &priority, &size, 24, &flags);
            if (SUCCEEDED(hr) || hr == E_PENDING) {
                if (FAILED(extract->Extract(&bitmap))) bitmap = nullptr;
            }
        }
    }
    if (bitmap) return AdoptBitmap(bitmap);
    if (!iconFallback) return nullptr;
    TShSystemImageList images(nullptr);
    images.SetSize(si_large);
    return DrawIconBitmap(&images, height, width, classlib::clNone, classlib::clNone, GetIconIndex());
}

// ---------------------------------------------------------------------------
// Filter and multiple objects

std::wstring TShFolderObject::GetFilter() const
{
    if (filterMasks_->GetCount() == 0) return L"*";
    std::wstring result;
    for (int i = 0; i < filterMasks_->GetCount(); ++i) {
        if (i) result += L';';
        result += filterMasks_->GetStrings(i);
    }
    return result;
}

void TShFolderObject::SetFilter(const std::wstring& value)
{
    filterMasks_->Clear();
    if (value.empty() || value == L"*") return;
    std::wstring text = value;
    if (text.back() != L';') text += L';';
    size_t start = 0;
    for (size_t pos = text.find(L';'); pos != std::wstring::npos; pos = text.find(L';', start)) {
        filterMasks_->Add(text.substr(start, pos - start));
        start = pos + 1;
    }
}

bool TShFolderObject::MatchesFilterList()
{
    if (filterMasks_->GetCount() == 0 || IsFolder()) return true;
    const std::wstring name = GetObjectName();
    for (int i = 0; i < filterMasks_->GetCount(); ++i)
        if (MatchesFilter(name, filterMasks_->GetStrings(i))) return true;
    return false;
}

void TShFolderObject::SetMultiObjects(classlib::TStringList* value)
{
    if (!value) return;
    multiObjects_.reset(value);
}

}  // namespace shell
