#include "controls/shell/ShNamespace.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "classlib/Graphics.h"
#include "classlib/Startup.h"
#include "classlib/StringList.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShWideStr.h"

namespace shell {

TShellEntryPoints ShellEntryPoints;
bool IsWinNT = false;
bool IsVistaOrLater = false;
bool IsOldShell = false;
bool FsRedirectionSwitch = false;
UINT CF_ShellIDList = 0;

namespace {

// ---- list walking. Items are byte-packed: counts are read unaligned.

USHORT ItemSize(const BYTE* p)
{
    USHORT cb;
    std::memcpy(&cb, p, sizeof cb);
    return cb;
}

const BYTE* Bytes(LPCITEMIDLIST pidl)
{
    return reinterpret_cast<const BYTE*>(pidl);
}

// Byte offset of the item at index (the terminator when index equals the
// count); stops early at the terminator.
std::size_t OffsetOfItem(LPCITEMIDLIST pidl, int index, int* reached)
{
    const BYTE* p = Bytes(pidl);
    std::size_t offset = 0;
    int i = 0;
    while (i < index) {
        const USHORT cb = ItemSize(p + offset);
        if (cb == 0) break;
        offset += cb;
        ++i;
    }
    *reached = i;
    return offset;
}

TPidl CopyBytes(const BYTE* data, std::size_t size)
{
    TPidl result = PidlAlloc(size + sizeof(USHORT));
    if (!result) return nullptr;
    if (size) std::memcpy(result.get(), data, size);  // the terminator is already zero
    return result;
}

// ---- process-wide state

const USHORT kEmptyList = 0;

std::mutex gStateLock;
int gStartCount = 0;
HMODULE gShell32 = nullptr;
HMODULE gShlwapi = nullptr;
HMODULE gKernel32 = nullptr;
IShellFolder* gDesktop = nullptr;
std::wstring gSystemDriveRoot;
bool gOleInitialised = false;
TShellApplicationHooks gHooks;

template <class F>
void Resolve(F& slot, HMODULE module, LPCSTR name)
{
    slot = module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

void ReleaseState()
{
    if (gDesktop) {
        gDesktop->Release();
        gDesktop = nullptr;
    }
    gSystemDriveRoot.clear();
    ShellEntryPoints = TShellEntryPoints{};
    for (HMODULE* m : {&gShell32, &gShlwapi, &gKernel32}) {
        if (*m) ::FreeLibrary(*m);
        *m = nullptr;
    }
    if (gOleInitialised) ::OleUninitialize();
    gOleInitialised = false;
}

void StartUp()
{
    IsWideApi = true;

    const HRESULT ole = ::OleInitialize(nullptr);
    gOleInitialised = SUCCEEDED(ole);

    gShell32 = ::LoadLibraryW(L"Shell32");
    if (!gShell32) throw EShellError(L"ShFolderObject Components: Cannot open SHELL32.DLL!");
    auto& ep = ShellEntryPoints;
    Resolve(ep.SHChangeNotifyRegister, gShell32, MAKEINTRESOURCEA(2));
    Resolve(ep.SHChangeNotifyDeregister, gShell32, MAKEINTRESOURCEA(4));
    Resolve(ep.SHGetPathFromIDListEx, gShell32, "SHGetPathFromIDListEx");
    Resolve(ep.SHCreateItemFromIDList, gShell32, "SHCreateItemFromIDList");

    gShlwapi = ::LoadLibraryW(L"shlwapi");
    if (!gShlwapi) throw EShellError(L"ShFolderObject Components: Cannot open SHLWAPI.DLL!");
    Resolve(ep.PathMatchSpecW, gShlwapi, "PathMatchSpecW");
    Resolve(ep.StrRetToStrW, gShlwapi, "StrRetToStrW");
    Resolve(ep.StrCmpLogicalW, gShlwapi, "StrCmpLogicalW");

    gKernel32 = ::LoadLibraryW(L"kernel32.dll");
    Resolve(ep.Wow64DisableWow64FsRedirection, gKernel32, "Wow64DisableWow64FsRedirection");
    Resolve(ep.Wow64RevertWow64FsRedirection, gKernel32, "Wow64RevertWow64FsRedirection");
    Resolve(ep.GetSystemWindowsDirectoryW, gKernel32, "GetSystemWindowsDirectoryW");
    Resolve(ep.GetLongPathNameW, gKernel32, "GetLongPathNameW");

    if (FAILED(::SHGetDesktopFolder(&gDesktop)) || !gDesktop) {
        gDesktop = nullptr;
        if (gHooks.Terminate) gHooks.Terminate();
        throw EShellError(L"ShFolderObject Components: Cannot open Shell!");
    }

    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (::GetVersionExW(&info)) {
#pragma GCC diagnostic pop
        IsWinNT = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        IsVistaOrLater = info.dwMajorVersion >= 6;
        IsOldShell = info.dwMajorVersion == 4 && info.dwMinorVersion <= 10;
    }
    gSystemDriveRoot = classlib::IncludeTrailingPathDelimiter(classlib::ExtractFileDrive(GetWindowsFolder()));
    CF_ShellIDList = ::RegisterClipboardFormatW(CFSTR_SHELLIDLIST);
}

// Turns the file-system redirection off for its lifetime when
// FsRedirectionSwitch asks for it and the platform offers it.
class TRedirectionScope {
public:
    TRedirectionScope()
    {
        const auto& ep = ShellEntryPoints;
        if (FsRedirectionSwitch && ep.Wow64DisableWow64FsRedirection && ep.Wow64RevertWow64FsRedirection)
            active_ = ep.Wow64DisableWow64FsRedirection(&old_) != FALSE;
    }
    ~TRedirectionScope()
    {
        if (active_) ShellEntryPoints.Wow64RevertWow64FsRedirection(old_);
    }
    TRedirectionScope(const TRedirectionScope&) = delete;
    TRedirectionScope& operator=(const TRedirectionScope&) = delete;

private:
    PVOID old_ = nullptr;
    bool active_ = false;
};

// Finds path and fills data; false when nothing is found.
bool FindOne(const std::wstring& path, WIN32_FIND_DATAW& data)
{
    HANDLE h = FindFirstFileLong(path, data);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::FindClose(h);
    return true;
}

TPidl SystemFolderPidl(int csidl)
{
    LPITEMIDLIST p = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, csidl, &p))) return nullptr;
    return TPidl(p);
}

// DesktopFolder.CompareIDs with column 0 answers "equal".
bool SameIDs(LPCITEMIDLIST a, LPCITEMIDLIST b)
{
    IShellFolder* desktop = DesktopFolder();
    if (!desktop) return false;
    return desktop->CompareIDs(0, a, b) == S_OK;
}

const int kCsidl[ShellFolderCount] = {
    17, 10, 3, 0, 16, 17, 20, 19, 18, 5, 4, 2, 8, 9, 11, 7, 21, 6, 22, 24,
    25, 26, 27, 31, 32, 33, 34, 23, 29, 35, 46, 1, 28, 39, 38, 37, 43, 36,
};

}  // namespace

// ---------------------------------------------------------------------------
// Lists

TPidl PidlAlloc(std::size_t size)
{
    void* p = ::CoTaskMemAlloc(size);
    if (!p) return nullptr;
    std::memset(p, 0, size);
    return TPidl(static_cast<ITEMIDLIST*>(p));
}

std::size_t PidlGetSize(LPCITEMIDLIST pidl)
{
    if (!pidl) return 0;
    int count = 0;
    return OffsetOfItem(pidl, INT_MAX, &count) + sizeof(USHORT);
}

int PidlItemCount(LPCITEMIDLIST pidl)
{
    if (!pidl) return 0;
    int count = 0;
    OffsetOfItem(pidl, INT_MAX, &count);
    return count;
}

TPidl PidlClone(LPCITEMIDLIST pidl)
{
    if (!pidl) return nullptr;
    try {
        return CopyBytes(Bytes(pidl), PidlGetSize(pidl) - sizeof(USHORT));
    } catch (...) {
        return nullptr;
    }
}

TPidl PidlCombine(LPCITEMIDLIST first, LPCITEMIDLIST second)
{
    const std::size_t a = first ? PidlGetSize(first) - sizeof(USHORT) : 0;
    const std::size_t b = second ? PidlGetSize(second) - sizeof(USHORT) : 0;
    TPidl result = PidlAlloc(a + b + sizeof(USHORT));
    if (!result) return nullptr;
    BYTE* out = reinterpret_cast<BYTE*>(result.get());
    if (a) std::memcpy(out, first, a);
    if (b) std::memcpy(out + a, second, b);
    return result;
}

TPidl PidlGetItem(LPCITEMIDLIST pidl, int index)
{
    if (!pidl || index < 0) return nullptr;
    int reached = 0;
    const std::size_t offset = OffsetOfItem(pidl, index, &reached);
    if (reached < index) return nullptr;
    const USHORT cb = ItemSize(Bytes(pidl) + offset);
    return CopyBytes(Bytes(pidl) + offset, cb);  // cb 0: the terminator, an empty list
}

TPidl PidlGetLastItem(LPCITEMIDLIST pidl)
{
    if (!pidl) return nullptr;
    const int count = PidlItemCount(pidl);
    return PidlGetItem(pidl, count > 0 ? count - 1 : 0);
}

TPidl PidlCopyFirst(LPCITEMIDLIST pidl, int count)
{
    if (!pidl) return nullptr;
    int reached = 0;
    const std::size_t offset = OffsetOfItem(pidl, count < 0 ? 0 : count, &reached);
    return CopyBytes(Bytes(pidl), offset);
}

// ---------------------------------------------------------------------------
// State

IShellFolder* DesktopFolder()
{
    return gDesktop;
}

LPCITEMIDLIST DesktopPidl()
{
    return reinterpret_cast<LPCITEMIDLIST>(&kEmptyList);
}

const std::wstring& SystemDriveRoot()
{
    return gSystemDriveRoot;
}

void ShellStartup()
{
    std::lock_guard<std::mutex> lock(gStateLock);
    if (gStartCount > 0) {
        ++gStartCount;
        return;
    }
    try {
        StartUp();
    } catch (...) {
        ReleaseState();
        throw;
    }
    gStartCount = 1;
}

void ShellShutdown()
{
    std::lock_guard<std::mutex> lock(gStateLock);
    if (gStartCount == 0) return;
    if (--gStartCount > 0) return;
    ReleaseState();
}

bool ShellStarted()
{
    std::lock_guard<std::mutex> lock(gStateLock);
    return gStartCount > 0;
}

void RegisterShellUnit()
{
    classlib::RegisterUnit(L"shell", 300, ShellStartup, ShellShutdown);
}

void SetShellApplicationHooks(const TShellApplicationHooks& hooks)
{
    gHooks = hooks;
}

// ---------------------------------------------------------------------------
// Special folders

int ShellFolderCsidl(TShellFolder folder)
{
    return folder < ShellFolderCount ? kCsidl[folder] : -1;
}

TPidl SpecialFolderPidl(TShellFolder folder)
{
    if (folder == SF_DESKTOP) return PidlClone(DesktopPidl());
    const int csidl = ShellFolderCsidl(folder);
    return csidl < 0 ? nullptr : SystemFolderPidl(csidl);
}

std::wstring SpecialFolderPath(TShellFolder folder)
{
    TPidl pidl = SpecialFolderPidl(folder);
    return pidl ? PidlToPath(pidl.get()) : std::wstring();
}

TShellFolder PidlToSpecialFolder(LPCITEMIDLIST pidl, TShellFolders allowed)
{
    if (!pidl) return SF_FILESYSTEMFOLDER;
    for (int v = SF_BITBUCKET; v <= SF_WINDOWS; ++v) {
        const auto folder = static_cast<TShellFolder>(v);
        if (allowed != 0 && (allowed & ShellFolderBit(folder)) == 0) continue;
        try {
            TPidl special = SystemFolderPidl(kCsidl[v]);
            if (special && SameIDs(pidl, special.get())) return folder;
        } catch (...) {
            // a row that raises is skipped
        }
    }
    return SF_FILESYSTEMFOLDER;
}

// ---------------------------------------------------------------------------
// Conversions and services

TPidl PathToPidl(IShellFolder* folder, const std::wstring& path)
{
    if (!folder) folder = DesktopFolder();
    if (path.empty()) return SystemFolderPidl(CSIDL_DRIVES);
    if (!folder) {
        ::SetLastError(static_cast<DWORD>(E_UNEXPECTED));
        return nullptr;
    }
    std::wstring text = path;
    if (text.size() == 2 && text[1] == L':') text += L'\\';
    HWND owner = nullptr;
    if (IsUncPath(text) && gHooks.ApplicationHandle) owner = gHooks.ApplicationHandle();

    std::vector<wchar_t> buffer(text.begin(), text.end());
    buffer.push_back(L'\0');
    LPITEMIDLIST result = nullptr;
    HRESULT hr;
    {
        const classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
        TRedirectionScope redirection;
        hr = folder->ParseDisplayName(owner, nullptr, buffer.data(), nullptr, &result, nullptr);
    }
    if (FAILED(hr)) {
        if (result) ::CoTaskMemFree(result);
        ::SetLastError(static_cast<DWORD>(hr));
        return nullptr;
    }
    return TPidl(result);
}

std::wstring PidlToPath(LPCITEMIDLIST pidl)
{
    if (!pidl) return {};
    try {
        const auto& ep = ShellEntryPoints;
        if (IsVistaOrLater && ep.SHGetPathFromIDListEx) {
            constexpr DWORD kSize = 2600;
            std::vector<wchar_t> buffer(kSize, L'\0');
            if (!ep.SHGetPathFromIDListEx(pidl, buffer.data(), kSize, 0)) return {};
            std::wstring path(buffer.data());
            if (ep.GetLongPathNameW) {
                std::vector<wchar_t> longName(kSize, L'\0');
                const DWORD n = ep.GetLongPathNameW(path.c_str(), longName.data(), kSize);
                // An answer of kSize or more is the size needed, not a path.
                if (n != 0 && n < kSize) return std::wstring(longName.data(), n);
            }
            return path;
        }
        wchar_t buffer[MAX_PATH] = {};
        if (!::SHGetPathFromIDListW(pidl, buffer)) return {};
        return buffer;
    } catch (...) {
        return {};
    }
}

std::wstring StrRetToWide(LPCITEMIDLIST pidl, STRRET& strRet)
{
    const auto& ep = ShellEntryPoints;
    if (!ep.StrRetToStrW) {
        const bool terminating = gHooks.Terminated && gHooks.Terminated();
        if (!terminating) {
            ::MessageBoxW(MainWindowHandle(),
                          L"A Dll, which is needed to execute this program, is not installed. \r\n"
                          L"Please install Internet Explorer 5.5 or higher to use this program.",
                          nullptr, MB_ICONERROR | MB_OK);
            if (gHooks.Terminate) gHooks.Terminate();
        }
        return {};
    }
    LPWSTR text = nullptr;
    if (FAILED(ep.StrRetToStrW(&strRet, pidl, &text)) || !text) {
        if (text) ::CoTaskMemFree(text);
        return {};
    }
    std::wstring result(text);
    ::CoTaskMemFree(text);
    return result;
}

void FreeStrRet(STRRET& strRet)
{
    if (strRet.uType == STRRET_WSTR && strRet.pOleStr) {
        ::CoTaskMemFree(strRet.pOleStr);
        strRet.pOleStr = nullptr;
    }
}

std::wstring SystemErrorText(DWORD code)
{
    wchar_t buffer[1024] = {};
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                     buffer, 1023, nullptr);
    return classlib::Trim(std::wstring(buffer, n));
}

std::wstring PidlNetResourceName(IShellFolder* folder, LPCITEMIDLIST pidl)
{
    if (!folder || !pidl) return {};
    // The structure followed by room for its strings (the block of 292
    // bytes of 32-bit builds holds 260 bytes of text after the structure).
    union {
        NETRESOURCEW resource;
        BYTE bytes[sizeof(NETRESOURCEW) + 260];
    } block{};
    if (FAILED(::SHGetDataFromIDListW(folder, pidl, SHGDFIL_NETRESOURCE, &block, sizeof block))) return {};
    const DWORD type = block.resource.dwDisplayType;
    if ((type == RESOURCEDISPLAYTYPE_DOMAIN || type == RESOURCEDISPLAYTYPE_SERVER) && block.resource.lpRemoteName)
        return block.resource.lpRemoteName;
    return {};
}

std::unique_ptr<classlib::TStringList> GetFilenamesFromDataObject(IDataObject* dataObject)
{
    if (!dataObject) return nullptr;
    FORMATETC format{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    const HRESULT hr = dataObject->GetData(&format, &medium);
    if (FAILED(hr)) {
        const std::wstring line = L"GetFilenamesFromDataObject: " + SystemErrorText(static_cast<DWORD>(hr));
        ::OutputDebugStringW(line.c_str());
        return std::make_unique<classlib::TStringList>();
    }
    std::unique_ptr<classlib::TStringList> result;
    try {
        if (medium.tymed == TYMED_HGLOBAL) result = FilenamesFromDrop(static_cast<HDROP>(medium.hGlobal));
    } catch (...) {
        ::ReleaseStgMedium(&medium);
        throw;
    }
    ::ReleaseStgMedium(&medium);
    return result;
}

std::unique_ptr<classlib::TStringList> FilenamesFromDrop(HDROP drop)
{
    if (!drop) return nullptr;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    if (count == 0) return nullptr;
    auto result = std::make_unique<classlib::TStringList>();
    std::vector<wchar_t> buffer;
    for (UINT i = 0; i < count; ++i) {
        // Sized from the name's own length, so that no name is cut short.
        const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
        buffer.assign(std::max<std::size_t>(2601, std::size_t(length) + 1), L'\0');
        const UINT n = ::DragQueryFileW(drop, i, buffer.data(), static_cast<UINT>(buffer.size()));
        if (n == 0) break;
        result->Add(std::wstring(buffer.data(), n));
    }
    if (result->GetCount() == 0) return nullptr;  // a malformed drop that names no file
    return result;
}

std::wstring GetShellLinkTarget(const std::wstring& linkPath)
{
    const classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    TComRef<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid())))
        return {};
    TComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.PutVoid()))) return {};
    if (FAILED(file->Load(linkPath.c_str(), STGM_READ))) return {};
    wchar_t buffer[2600] = {};
    if (FAILED(link->GetPath(buffer, 2600, nullptr, SLGP_UNCPRIORITY))) return {};
    return buffer;
}

bool MatchesFilter(const std::wstring& fileName, const std::wstring& mask)
{
    const auto match = ShellEntryPoints.PathMatchSpecW;
    if (mask == L"*.") {
        if (fileName.find(L'.') == std::wstring::npos) return true;
        return match && match(fileName.c_str(), L"*.");
    }
    if (!match) return false;
    if (mask.find(L"*.*") != std::wstring::npos) {
        // "*.*" stands for any name, with any number of dots or none; the
        // platform matcher takes it literally (at least one dot), so it is
        // widened to "*" before matching.
        const std::wstring wide = TntWideStringReplace(mask, L"*.*", L"*", false, wrfReplaceAll | wrfIgnoreCase);
        return match(fileName.c_str(), wide.c_str()) != FALSE;
    }
    return match(fileName.c_str(), mask.c_str()) != FALSE;
}

int CompareNatural(const std::wstring& a, const std::wstring& b)
{
    if (ShellEntryPoints.StrCmpLogicalW) return ShellEntryPoints.StrCmpLogicalW(a.c_str(), b.c_str());
    return classlib::WideCompareText(a, b);
}

std::wstring GetWindowsFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    UINT n = 0;
    if (ShellEntryPoints.GetSystemWindowsDirectoryW)
        n = ShellEntryPoints.GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) n = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return L"C:\\Windows";
    return std::wstring(buffer, n);
}

std::wstring GetTempFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (n == 0 || n > MAX_PATH) return {};
    return std::wstring(buffer, n);
}

HWND MainWindowHandle()
{
    if (gHooks.MainFormHandle) {
        if (HWND h = gHooks.MainFormHandle()) return h;
    }
    return gHooks.ApplicationHandle ? gHooks.ApplicationHandle() : nullptr;
}

void GetIconTitleFont(classlib::TFont& font)
{
    LOGFONTW logFont{};
    if (::SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof logFont, &logFont, 0)) {
        if (HFONT h = ::CreateFontIndirectW(&logFont)) font.SetHandle(h);
    }
}

namespace {

void SetExplorerTheme(HWND window)
{
    using TSetWindowTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    HMODULE theme = ::LoadLibraryW(L"uxtheme.dll");
    if (!theme) return;
    auto setTheme = reinterpret_cast<TSetWindowTheme>(reinterpret_cast<void*>(::GetProcAddress(theme, "SetWindowTheme")));
    if (setTheme) setTheme(window, L"explorer", nullptr);
    ::FreeLibrary(theme);
}

}  // namespace

void ApplyExplorerStyle(TListViewWindow list)
{
    if (!IsVistaOrLater || !list.Handle) return;
    ::SendMessageW(list.Handle, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    ::SendMessageW(list.Handle, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_DOUBLEBUFFER, LVS_EX_DOUBLEBUFFER);
    SetExplorerTheme(list.Handle);
}

void ApplyExplorerStyle(TTreeViewWindow tree)
{
    if (!IsVistaOrLater || !tree.Handle) return;
    SetExplorerTheme(tree.Handle);
    ::SendMessageW(tree.Handle, TVM_SETEXTENDEDSTYLE, 0, TVS_EX_FADEINOUTEXPANDOS);
    const LONG_PTR style = ::GetWindowLongPtrW(tree.Handle, GWL_STYLE);
    if (style & TVS_HASLINES) ::SetWindowLongPtrW(tree.Handle, GWL_STYLE, style & ~LONG_PTR(TVS_HASLINES));
}

// ---------------------------------------------------------------------------
// Path tests

bool IsDrivePath(const std::wstring& path)
{
    if (path.size() < 3) return false;
    const wchar_t drive = TntWideUpperCase(path.substr(0, 1))[0];
    return drive >= L'A' && drive <= L'Z' && path[1] == L':' && path[2] == L'\\';
}

bool IsUncPath(const std::wstring& path)
{
    if (path.size() < 3 || path[0] != L'\\' || path[1] != L'\\') return false;
    if (path.size() == 3) return false;
    if (path[2] == L'?' && path[3] == L'\\') {
        return path.size() > 7 && (path[4] == L'U' || path[4] == L'u') && (path[5] == L'N' || path[5] == L'n') &&
               (path[6] == L'C' || path[6] == L'c') && path[7] == L'\\';
    }
    return path.find(L'\\', 3) != std::wstring::npos;
}

bool IsLocalOrUncPath(const std::wstring& path)
{
    return IsDrivePath(path) || IsUncPath(path);
}

bool IsNetworkPath(const std::wstring& path)
{
    if (IsUncPath(path)) return true;
    const std::wstring drive = classlib::ExtractFileDrive(path);
    if (drive.empty()) return false;
    return ::GetDriveTypeW(classlib::IncludeTrailingPathDelimiter(drive).c_str()) == DRIVE_REMOTE;
}

bool IsDriveRoot(const std::wstring& path)
{
    if (path.empty()) return false;
    const std::wstring drive = classlib::ExtractFileDrive(path);
    if (path.back() == L'\\') return drive == path.substr(0, path.size() - 1);
    return drive == path;
}

bool IsDriveReady(const std::wstring& path)
{
    const classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    const std::wstring root = classlib::IncludeTrailingPathDelimiter(classlib::ExtractFileDrive(path));
    ULARGE_INTEGER avail, total, free;
    return ::GetDiskFreeSpaceExW(root.c_str(), &avail, &total, &free) != FALSE;
}

bool HasExtension(const std::wstring& path, const std::wstring& ext)
{
    std::wstring wanted = ext;
    if (!wanted.empty() && wanted[0] != L'.') wanted.insert(0, 1, L'.');
    const std::wstring actual = classlib::ExtractFileExt(classlib::ExcludeTrailingPathDelimiter(path));
    return classlib::WideSameText(wanted, actual);
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return classlib::WideSameText(classlib::ExcludeTrailingPathDelimiter(a), classlib::ExcludeTrailingPathDelimiter(b));
}

bool StartsWithText(const std::wstring& text, const std::wstring& prefix)
{
    return classlib::Pos(TntWideUpperCase(prefix), TntWideUpperCase(text)) == 1;
}

bool IsPathBelow(const std::wstring& parent, const std::wstring& path)
{
    if (path.empty()) return false;
    return StartsWithText(classlib::IncludeTrailingPathDelimiter(path), parent) && !SamePath(path, parent);
}

bool IsDotName(const std::wstring& name)
{
    return name == L"." || name == L"..";
}

bool IsNetworkPidl(LPCITEMIDLIST pidl)
{
    if (PidlGetSize(pidl) == 0) return false;
    TPidl first = PidlGetItem(pidl, 0);
    TPidl network = SystemFolderPidl(CSIDL_NETWORK);
    return first && network && SameIDs(first.get(), network.get());
}

bool IsReparsePointAttr(DWORD attr)
{
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::wstring LongPathName(const std::wstring& path)
{
    if (!IsWinNT || !IsLocalOrUncPath(path)) return path;
    if (path.compare(0, 2, L"\\\\") != 0) return L"\\\\?\\" + path;
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    return L"\\\\?\\UNC\\" + path.substr(2);
}

HANDLE FindFirstFileLong(const std::wstring& path, WIN32_FIND_DATAW& findData)
{
    const std::wstring name = LongPathName(path);
    TRedirectionScope redirection;
    return ::FindFirstFileW(name.c_str(), &findData);
}

bool FileExistsLong(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    return FindOne(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExistsLong(const std::wstring& path)
{
    if (IsDriveRoot(path)) return true;
    WIN32_FIND_DATAW data;
    return FindOne(classlib::ExcludeTrailingPathDelimiter(path), data) &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::wstring& path)
{
    const classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS);
    WIN32_FIND_DATAW data;
    if (IsDriveRoot(path)) return FindOne(classlib::IncludeTrailingPathDelimiter(path) + L"*", data);
    return FindOne(classlib::ExcludeTrailingPathDelimiter(path), data);
}

std::int64_t GetFileSize64(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    if (!FindOne(path, data)) return -1;
    return static_cast<std::int64_t>((std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::wstring ExtractParentFolder(const std::wstring& path)
{
    return classlib::ExtractFilePath(classlib::ExcludeTrailingPathDelimiter(path));
}

}  // namespace shell
