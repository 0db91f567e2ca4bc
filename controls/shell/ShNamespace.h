// The shell namespace layer: process-wide shell state and the free routines
// every shell control stands on (item identifier lists, path <-> list
// conversions, special folders, dropped file names, link targets, filter
// masks and path tests).
//
// Item identifier lists: every list a routine returns is a new block of the
// shell task allocator, owned by the caller through TPidl (CoTaskMemFree).
// Arguments are borrowed (LPCITEMIDLIST) and never freed. A null list is
// "nil"; the empty list (a zero 16-bit count alone) is the desktop.
//
// Start-up/shut-down: ShellStartup and ShellShutdown are counted; the first
// start-up and the matching last shut-down do the work. They and the
// routines that use the desktop folder belong to the main thread (the one
// that started the layer, which is initialised for OLE). Path tests and
// list primitives are thread-safe.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Exceptions.h"
#include "controls/shell/ShComRef.h"

namespace classlib {
class TFont;
class TStringList;
}

namespace shell {

CLASSLIB_EXCEPTION(EShellError, classlib::Exception);

// ---------------------------------------------------------------------------
// Item identifier lists

struct TPidlFree {
    void operator()(ITEMIDLIST* p) const noexcept { ::CoTaskMemFree(p); }
};
// An owned list; null stands for nil.
using TPidl = std::unique_ptr<ITEMIDLIST, TPidlFree>;

// A zero-filled block of size bytes; null when the allocator fails.
TPidl PidlAlloc(std::size_t size);
// Bytes of the list including the terminator; 0 for nil.
std::size_t PidlGetSize(LPCITEMIDLIST pidl);
// Number of items; 0 for nil and the empty list.
int PidlItemCount(LPCITEMIDLIST pidl);
// A copy; null for nil and when the allocation fails.
TPidl PidlClone(LPCITEMIDLIST pidl);
// The items of first followed by those of second; either may be nil (both
// nil give the empty list). Null when the allocation fails.
TPidl PidlCombine(LPCITEMIDLIST first, LPCITEMIDLIST second);
// A one-item list of the item at the zero-based index; an index equal to
// the item count gives the empty list, a negative or larger one null.
TPidl PidlGetItem(LPCITEMIDLIST pidl, int index);
// PidlGetItem of the last item (the empty list for the empty list).
TPidl PidlGetLastItem(LPCITEMIDLIST pidl);
// A copy cut after its first count items; the whole list when it has no
// more; count 0 (or less) gives the empty list. Null for nil.
TPidl PidlCopyFirst(LPCITEMIDLIST pidl, int count);

// ---------------------------------------------------------------------------
// Process-wide state

// Entry points resolved at start-up; each is null when its module or export
// is missing.
struct TShellEntryPoints {
    using TSHChangeNotifyRegister = ULONG(WINAPI*)(HWND, int, LONG, UINT, int, const SHChangeNotifyEntry*);
    using TSHChangeNotifyDeregister = BOOL(WINAPI*)(ULONG);
    using TSHGetPathFromIDListEx = BOOL(WINAPI*)(LPCITEMIDLIST, PWSTR, DWORD, int);
    using TSHCreateItemFromIDList = HRESULT(WINAPI*)(LPCITEMIDLIST, REFIID, void**);
    using TPathMatchSpecW = BOOL(WINAPI*)(LPCWSTR, LPCWSTR);
    using TStrRetToStrW = HRESULT(WINAPI*)(STRRET*, LPCITEMIDLIST, LPWSTR*);
    using TStrCmpLogicalW = int(WINAPI*)(LPCWSTR, LPCWSTR);
    using TWow64DisableWow64FsRedirection = BOOL(WINAPI*)(PVOID*);
    using TWow64RevertWow64FsRedirection = BOOL(WINAPI*)(PVOID);
    using TGetSystemWindowsDirectoryW = UINT(WINAPI*)(LPWSTR, UINT);
    using TGetLongPathNameW = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);

    TSHChangeNotifyRegister SHChangeNotifyRegister = nullptr;
    TSHChangeNotifyDeregister SHChangeNotifyDeregister = nullptr;
    TSHGetPathFromIDListEx SHGetPathFromIDListEx = nullptr;
    TSHCreateItemFromIDList SHCreateItemFromIDList = nullptr;
    TPathMatchSpecW PathMatchSpecW = nullptr;
    TStrRetToStrW StrRetToStrW = nullptr;
    TStrCmpLogicalW StrCmpLogicalW = nullptr;
    TWow64DisableWow64FsRedirection Wow64DisableWow64FsRedirection = nullptr;
    TWow64RevertWow64FsRedirection Wow64RevertWow64FsRedirection = nullptr;
    TGetSystemWindowsDirectoryW GetSystemWindowsDirectoryW = nullptr;
    TGetLongPathNameW GetLongPathNameW = nullptr;
};

// Valid while the layer is started (all null before).
extern TShellEntryPoints ShellEntryPoints;
// The platform is of the NT family / major version 6 or later / version 4
// with minor version 10 or less. Set by start-up.
extern bool IsWinNT;
extern bool IsVistaOrLater;
extern bool IsOldShell;
// When true (never set by this system itself), PathToPidl and
// FindFirstFileLong turn off the file-system redirection of 32-bit
// processes around their platform call.
extern bool FsRedirectionSwitch;
// The clipboard format "Shell IDList Array", registered at start-up.
extern UINT CF_ShellIDList;

// The desktop folder; borrowed, valid while the layer is started.
IShellFolder* DesktopFolder();
// The static empty list; owned by nobody, never freed.
LPCITEMIDLIST DesktopPidl();
// The drive of the Windows folder with a trailing backslash ("C:\").
const std::wstring& SystemDriveRoot();

// Starts the layer (counted). Raises EShellError "ShFolderObject
// Components: Cannot open SHELL32.DLL!" / "... SHLWAPI.DLL!" when a module
// cannot be loaded and "... Cannot open Shell!" when the desktop folder is
// not available (after telling the application to terminate); a failed
// start-up leaves the layer stopped.
void ShellStartup();
// Undoes the matching ShellStartup; the last one releases everything.
void ShellShutdown();
bool ShellStarted();
// Registers start-up and shut-down with the class library's unit list.
void RegisterShellUnit();

// Keeps the layer started for its lifetime.
class TShellScope {
public:
    TShellScope() { ShellStartup(); }
    ~TShellScope() { ShellShutdown(); }
    TShellScope(const TShellScope&) = delete;
    TShellScope& operator=(const TShellScope&) = delete;
};

// What the layer needs of the application object, which lives above this
// library. Every member may be null (no application object).
struct TShellApplicationHooks {
    HWND (*MainFormHandle)() = nullptr;    // window of the main form, 0 when none
    HWND (*ApplicationHandle)() = nullptr; // the application's own window
    void (*Terminate)() = nullptr;         // tells the application to end
    bool (*Terminated)() = nullptr;        // the application is ending
};
void SetShellApplicationHooks(const TShellApplicationHooks& hooks);

// ---------------------------------------------------------------------------
// Special folders

enum TShellFolder : std::uint8_t {
    SF_FILESYSTEMFOLDER, SF_BITBUCKET, SF_CONTROLS, SF_DESKTOP, SF_DESKTOPDIRECTORY,
    SF_DRIVES, SF_FONTS, SF_NETHOOD, SF_NETWORK, SF_PERSONAL,
    SF_PRINTERS, SF_PROGRAMS, SF_RECENT, SF_SENDTO, SF_STARTMENU,
    SF_STARTUP, SF_TEMPLATES, SF_FAVORITES, SF_COMMON_STARTMENU, SF_COMMON_STARTUP,
    SF_COMMON_DESKTOPDIRECTORY, SF_APPDATA, SF_PRINTHOOD, SF_COMMON_FAVORITES, SF_INTERNET_CACHE,
    SF_COOKIES, SF_HISTORY, SF_COMMON_PROGRAMS, SF_ALTSTARTUP, SF_COMMON_APPDATA,
    SF_COMMON_DOCUMENTS, SF_INTERNET, SF_LOCAL_APPDATA, SF_MYPICTURES, SF_PROGRAM_FILES,
    SF_SYSTEM, SF_PROGRAM_FILES_COMMON, SF_WINDOWS
};
constexpr int ShellFolderCount = SF_WINDOWS + 1;

// A set of TShellFolder values as bit flags (bit n = value n).
using TShellFolders = std::uint64_t;
constexpr TShellFolders ShellFolderBit(TShellFolder f) { return TShellFolders(1) << f; }

// The CSIDL number of a value (SF_FILESYSTEMFOLDER yields My Computer).
int ShellFolderCsidl(TShellFolder folder);

// SF_DESKTOP gives a copy of the empty list; otherwise the shell's list of
// the folder, null when the platform has none.
TPidl SpecialFolderPidl(TShellFolder folder);
// The file-system path of that folder; empty when there is none.
std::wstring SpecialFolderPath(TShellFolder folder);
// The special folder whose list equals pidl, searched from SF_BITBUCKET to
// SF_WINDOWS (only the values in allowed when it is not empty);
// SF_FILESYSTEMFOLDER when none matches or pidl is nil.
TShellFolder PidlToSpecialFolder(LPCITEMIDLIST pidl, TShellFolders allowed = 0);

// ---------------------------------------------------------------------------
// Conversions and shell services

// The list of path parsed by folder (the desktop when null: the result is
// then absolute). An empty path gives My Computer; "C:" is taken as "C:\".
// Null on failure, with the failure code as the thread's last error.
TPidl PathToPidl(IShellFolder* folder, const std::wstring& path);
// The file-system path of an absolute list (the long form); empty for nil,
// for items without a path and on any failure.
std::wstring PidlToPath(LPCITEMIDLIST pidl);
// The text of a STRRET a folder returned for the item pidl; the STRRET's
// own text is freed. Empty when the conversion fails.
std::wstring StrRetToWide(LPCITEMIDLIST pidl, STRRET& strRet);
// Frees the text of a wide-string STRRET and clears its pointer.
void FreeStrRet(STRRET& strRet);
// The system's message for an error code, trimmed; empty when unknown.
std::wstring SystemErrorText(DWORD code);
// The remote name of a domain or server item of the network; else empty.
std::wstring PidlNetResourceName(IShellFolder* folder, LPCITEMIDLIST pidl);
// The file names of the CF_HDROP data of a data object: null for a null
// object or a drop of no files; a new empty list (and one debugger line)
// when the object has no such data.
std::unique_ptr<classlib::TStringList> GetFilenamesFromDataObject(IDataObject* dataObject);
// The files of a drop handle in order; null for 0 or a drop of no files.
// Names are read whole, whatever their length.
std::unique_ptr<classlib::TStringList> FilenamesFromDrop(HDROP drop);
// The target path of a shell link file; empty when any step fails.
std::wstring GetShellLinkTarget(const std::wstring& linkPath);
// Whether fileName matches a single mask by the platform's matcher, case
// ignored; "*." matches names without a dot and "*.*" any name.
bool MatchesFilter(const std::wstring& fileName, const std::wstring& mask);
// Natural ("file2" < "file10") comparison ignoring case; <0, 0 or >0.
int CompareNatural(const std::wstring& a, const std::wstring& b);
// The system's Windows folder; "C:\Windows" when it cannot be read.
std::wstring GetWindowsFolder();
// The temporary folder with its trailing backslash.
std::wstring GetTempFolder();
// The main form's window, else the application's; 0 without an application.
HWND MainWindowHandle();
// Gives font the system's icon-title font; font is unchanged on failure.
void GetIconTitleFont(classlib::TFont& font);

// Borrowed window handles of a list-view and a tree-view common control.
struct TListViewWindow {
    HWND Handle;
};
struct TTreeViewWindow {
    HWND Handle;
};
// The explorer look (Vista and later only): full-row selection and double
// buffering for a list, the explorer theme for both, fading expand buttons
// and no lines for a tree.
void ApplyExplorerStyle(TListViewWindow list);
void ApplyExplorerStyle(TTreeViewWindow tree);

// ---------------------------------------------------------------------------
// Path tests. Case is ignored by the platform's comparison unless noted.

bool IsDrivePath(const std::wstring& path);        // "X:\..."
bool IsUncPath(const std::wstring& path);          // \\server\share or \\?\UNC\server...
bool IsLocalOrUncPath(const std::wstring& path);
bool IsNetworkPath(const std::wstring& path);      // UNC or a remote drive
// The drive part alone, with or without a trailing backslash ("C:\", "C:",
// "\\server\share\"); case-sensitive.
bool IsDriveRoot(const std::wstring& path);
// The drive of path answers (no critical-error dialog).
bool IsDriveReady(const std::wstring& path);
// ext with or without its dot equals the extension of path.
bool HasExtension(const std::wstring& path, const std::wstring& ext);
bool SamePath(const std::wstring& a, const std::wstring& b);
bool StartsWithText(const std::wstring& text, const std::wstring& prefix);
// A plain text prefix test: "C:\Pho" counts as a parent of "C:\Photos\2010".
bool IsPathBelow(const std::wstring& parent, const std::wstring& path);
bool IsDotName(const std::wstring& name);
// The first item of pidl is the Network folder.
bool IsNetworkPidl(LPCITEMIDLIST pidl);
bool IsReparsePointAttr(DWORD attr);
// path with the "\\?\" (or "\\?\UNC\") prefix of long paths, for drive and
// UNC paths on the NT family; other paths unchanged.
std::wstring LongPathName(const std::wstring& path);
// FindFirstFileW of LongPathName(path); the caller closes a valid handle.
HANDLE FindFirstFileLong(const std::wstring& path, WIN32_FIND_DATAW& findData);
bool FileExistsLong(const std::wstring& path);
bool DirectoryExistsLong(const std::wstring& path);
bool PathExists(const std::wstring& path);
// The size of a file; -1 when it is not found.
std::int64_t GetFileSize64(const std::wstring& path);
// The parent folder of a file or folder path, with its trailing backslash.
std::wstring ExtractParentFolder(const std::wstring& path);

}  // namespace shell
