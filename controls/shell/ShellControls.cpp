#include "controls/shell/ShellControls.h"

#include <shlobj.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <unordered_map>
#include <utility>

#include "classlib/Bitmap.h"
#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/FileCtrl.h"
#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "controls/shell/ShWideStr.h"
#include "controls/shell/ShWorkItems.h"

namespace shell {

namespace {

// The characters a file name cannot hold.
const wchar_t kInvalidNameCharacters[] = L"\\/:*?\"<>|";

// What a user is told when a name typed in place is refused: the names,
// the reason and what to do.
std::wstring RenameRefusal(const std::wstring& OldName, const std::wstring& NewName, DWORD Error)
{
    std::wstring reason;
    if (Error == ERROR_INVALID_NAME)
        reason = L"a name cannot contain any of the characters \\ / : * ? \" < > |";
    else if (Error == ERROR_ALREADY_EXISTS || Error == ERROR_FILE_EXISTS)
        reason = L"an object of that name already exists";
    else if (Error != 0)
        reason = SystemErrorText(Error);
    else
        reason = L"the file system refused the name";
    while (!reason.empty() && (reason.back() == L'.' || reason.back() == L'\n' || reason.back() == L'\r' ||
                               reason.back() == L' '))
        reason.pop_back();
    return L"\"" + OldName + L"\" cannot be renamed to \"" + NewName + L"\": " + reason +
           L". Choose another name and rename it again.";
}


std::wstring WithBackslash(std::wstring Path)
{
    if (!Path.empty() && Path.back() != L'\\') Path += L'\\';
    return Path;
}

std::wstring WithoutBackslash(std::wstring Path)
{
    // A drive root keeps its backslash ("C:\").
    if (Path.size() > 3 && Path.back() == L'\\') Path.pop_back();
    return Path;
}

bool FolderExists(const std::wstring& Path)
{
    if (Path.empty()) return false;
    DWORD a = ::GetFileAttributesW(Path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool LessNoCase(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

std::vector<std::wstring> SplitMasks(const std::wstring& Masks)
{
    std::vector<std::wstring> out;
    std::size_t start = 0;
    while (start <= Masks.size()) {
        std::size_t end = Masks.find(L';', start);
        if (end == std::wstring::npos) end = Masks.size();
        std::wstring m = Masks.substr(start, end - start);
        while (!m.empty() && m.front() == L' ') m.erase(m.begin());
        while (!m.empty() && m.back() == L' ') m.pop_back();
        if (!m.empty()) out.push_back(m);
        start = end + 1;
    }
    return out;
}

// Sets a flag for a scope; its old value comes back at the end.
class TFlagScope {
public:
    explicit TFlagScope(bool& Flag) : flag_(Flag), old_(Flag) { flag_ = true; }
    ~TFlagScope() { flag_ = old_; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
    bool old_;
};

// A reference of our own to a borrowed interface.
template <class T>
TComRef<T> Share(T* p)
{
    if (p) p->AddRef();
    return TComRef<T>(p);
}

// Whether two lists relative to Folder name the same object.
bool SameObject(IShellFolder* Folder, LPCITEMIDLIST a, LPCITEMIDLIST b)
{
    if (!Folder || !a || !b) return false;
    const HRESULT hr = Folder->CompareIDs(0, a, b);
    return SUCCEEDED(hr) && static_cast<short>(HRESULT_CODE(hr)) == 0;
}

}  // namespace

std::vector<TFolderEntry> ListFolderEntries(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                            bool Hidden)
{
    std::vector<TFolderEntry> entries;
    if (!FolderExists(Folder)) return entries;
    const std::vector<std::wstring> masks = SplitMasks(Masks);
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((WithBackslash(Folder) + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return entries;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        if (!Hidden && (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)) continue;
        const bool folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder ? !Folders
                   : std::none_of(masks.begin(), masks.end(), [&](const std::wstring& m) { return classlib::MatchesMask(n, m); }))
            continue;
        TFolderEntry e;
        e.ObjectName = n;
        e.Name = std::move(n);
        e.Folder = folder;
        e.Size = (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        e.Modified = fd.ftLastWriteTime;
        entries.push_back(std::move(e));
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    SortEntries(entries, ldName, false);
    return entries;
}

std::vector<std::wstring> ListFolderFiles(const std::wstring& Folder, const std::wstring& Masks, bool Folders,
                                          bool Hidden)
{
    std::vector<std::wstring> names;
    for (TFolderEntry& e : ListFolderEntries(Folder, Masks, Folders, Hidden)) names.push_back(std::move(e.Name));
    return names;
}

namespace {

// The shell's type name of a file or folder name (asked once per extension;
// main thread).
std::wstring TypeName(const TFolderEntry& Entry)
{
    static std::unordered_map<std::wstring, std::wstring> cache;
    const std::size_t dot = Entry.Name.rfind(L'.');
    const std::wstring key = Entry.Folder ? L"\\" : TntWideUpperCase(dot == std::wstring::npos ? L"" : Entry.Name.substr(dot));
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    SHFILEINFOW info{};
    const DWORD attributes = Entry.Folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    std::wstring type;
    if (::SHGetFileInfoW(Entry.Name.c_str(), attributes, &info, sizeof(info), SHGFI_TYPENAME | SHGFI_USEFILEATTRIBUTES))
        type = info.szTypeName;
    return cache.emplace(key, type).first->second;
}

std::uint64_t Ticks(const FILETIME& t) { return (std::uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

}  // namespace

std::wstring DetailText(const TFolderEntry& Entry, TListDetail Detail)
{
    switch (Detail) {
    case ldName: return Entry.Name;
    case ldSize: return Entry.Folder ? std::wstring() : std::to_wstring((Entry.Size + 1023) / 1024) + L" KB";
    case ldType: return TypeName(Entry);
    case ldModified: {
        SYSTEMTIME utc{}, local{};
        if (!::FileTimeToSystemTime(&Entry.Modified, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
            return {};
        wchar_t text[32];
        swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                 local.wMinute);
        return text;
    }
    }
    return {};
}

DWORD ChooseDropEffect(DWORD KeyState, DWORD Allowed, bool SameDrive)
{
    Allowed &= DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    DWORD wanted = SameDrive ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    const DWORD keys = KeyState & (MK_SHIFT | MK_CONTROL);
    if (keys == MK_SHIFT) wanted = DROPEFFECT_MOVE;
    if (keys == MK_CONTROL) wanted = DROPEFFECT_COPY;
    if (keys == (MK_SHIFT | MK_CONTROL)) wanted = DROPEFFECT_LINK;
    if (Allowed & wanted) return wanted;
    if (Allowed & DROPEFFECT_COPY) return DROPEFFECT_COPY;
    if (Allowed & DROPEFFECT_MOVE) return DROPEFFECT_MOVE;
    return Allowed & DROPEFFECT_LINK;
}

void SortEntries(std::vector<TFolderEntry>& Entries, TListDetail Detail, bool Descending)
{
    auto compare = [&](const TFolderEntry& a, const TFolderEntry& b) {
        int c = 0;
        switch (Detail) {
        case ldName: break;
        case ldSize: c = a.Size < b.Size ? -1 : a.Size > b.Size ? 1 : 0; break;
        case ldType: c = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, TypeName(a).c_str(), -1,
                                          TypeName(b).c_str(), -1) - CSTR_EQUAL;
            break;
        case ldModified: c = Ticks(a.Modified) < Ticks(b.Modified) ? -1 : Ticks(a.Modified) > Ticks(b.Modified) ? 1 : 0;
            break;
        }
        if (c == 0) c = LessNoCase(a.Name, b.Name) ? -1 : LessNoCase(b.Name, a.Name) ? 1 : 0;
        return c;
    };
    std::stable_sort(Entries.begin(), Entries.end(), [&](const TFolderEntry& a, const TFolderEntry& b) {
        if (a.Folder != b.Folder) return a.Folder;
        return Descending ? compare(b, a) < 0 : compare(a, b) < 0;
    });
}

std::vector<TDetailColumn> ReadDetailColumns(const std::function<std::wstring(int)>& Title,
                                             const std::function<int(int, int&)>& Format, bool All)
{
    // A folder may offer more details than there are column slots, or never
    // end its titles: both counts are bounded.
    constexpr int kMaxDetails = 4096;
    std::vector<TDetailColumn> columns;
    std::wstring title = Title(0);
    for (int detail = 0; detail < kMaxDetails && int(columns.size()) < MaxDetailColumns;) {
        int width = 0;
        const int alignment = Format(detail, width);
        if (width > 0) {
            TDetailColumn c;
            c.Title = title;
            c.Alignment = alignment == 1 ? classlib::taRightJustify : alignment == 2 ? classlib::taCenter : classlib::taLeftJustify;
            c.Width = width;
            c.Detail = detail;
            columns.push_back(std::move(c));
        }
        if (!All) break;
        title = Title(++detail);
        if (title.empty()) break;
    }
    return columns;
}

namespace {

// The property set of the file-system details (size, times, type ...).
constexpr GUID kStorageProperties = {0xb725f130, 0x47ef, 0x101a, {0xa5, 0xf1, 0x02, 0x60, 0x8c, 0x9e, 0xeb, 0xac}};
enum : DWORD { kPidType = 4, kPidAttributes = 13, kPidSize = 12, kPidWritten = 14, kPidCreated = 15, kPidAccessed = 16 };

// Merge sort by Compare (<0, 0, >0), stable, never leaving the range even
// when Compare contradicts itself (a folder's answers are not trusted).
void SafeStableSort(std::vector<int>& Order, const std::function<int(int, int)>& Compare)
{
    std::vector<int> buffer(Order.size());
    for (std::size_t width = 1; width < Order.size(); width *= 2) {
        for (std::size_t lo = 0; lo < Order.size(); lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, Order.size()), hi = std::min(lo + 2 * width, Order.size());
            std::size_t a = lo, b = mid, out = lo;
            while (a < mid && b < hi) buffer[out++] = Compare(Order[b], Order[a]) < 0 ? Order[b++] : Order[a++];
            while (a < mid) buffer[out++] = Order[a++];
            while (b < hi) buffer[out++] = Order[b++];
        }
        Order.swap(buffer);
    }
}

int CompareText(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()), b.c_str(),
                            static_cast<int>(b.size())) - CSTR_EQUAL;
}

}  // namespace

std::vector<int> OrderObjects(IShellFolder* Folder, int Detail, const std::vector<LPCITEMIDLIST>& Pidls,
                              bool Descending)
{
    std::vector<int> order(Pidls.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    if (!Folder || Pidls.size() < 2) return order;
    // The shell's own comparison of the detail. Some shells answer every
    // detail by name: the details whose values the objects' find data or
    // texts give are compared by value here, as the shell would.
    TComRef<IShellFolder2> folder2;
    Folder->QueryInterface(IID_IShellFolder2, folder2.PutVoid());
    SHCOLUMNID id{};
    const bool storage = Detail > 0 && folder2 && SUCCEEDED(folder2->MapColumnToSCID(UINT(Detail), &id)) &&
                         id.fmtid == kStorageProperties;
    const bool byNumber = storage && (id.pid == kPidSize || id.pid == kPidWritten || id.pid == kPidCreated ||
                                      id.pid == kPidAccessed);
    const bool byText = storage && (id.pid == kPidType || id.pid == kPidAttributes);
    struct TKey {
        bool Folder = false;
        std::uint64_t Number = 0;
        std::wstring Text;
    };
    std::vector<TKey> keys;
    if (byNumber || byText) {
        classlib::TErrorModeScope errorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        keys.resize(Pidls.size());
        for (std::size_t i = 0; i < Pidls.size() && !keys.empty(); ++i) {
            WIN32_FIND_DATAW fd{};
            if (!Pidls[i] ||
                FAILED(::SHGetDataFromIDListW(Folder, Pidls[i], SHGDFIL_FINDDATA, &fd, static_cast<int>(sizeof(fd))))) {
                // Values only when every object has them: a mix would not
                // be one order.
                keys.clear();
                break;
            }
            TKey& k = keys[i];
            k.Folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const FILETIME& t = id.pid == kPidCreated ? fd.ftCreationTime : id.pid == kPidAccessed ? fd.ftLastAccessTime
                                                                                                 : fd.ftLastWriteTime;
            k.Number = id.pid == kPidSize ? (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow : Ticks(t);
            if (byText) {
                SHELLDETAILS details{};
                if (SUCCEEDED(folder2->GetDetailsOf(Pidls[i], UINT(Detail), &details)))
                    k.Text = StrRetToWide(Pidls[i], details.str);
            }
        }
    }
    const int factor = Descending ? -1 : 1;
    SafeStableSort(order, [&](int a, int b) {
        int c = 0;
        if (!keys.empty()) {
            const TKey &ka = keys[std::size_t(a)], &kb = keys[std::size_t(b)];
            if (ka.Folder != kb.Folder)
                c = ka.Folder ? -1 : 1;
            else if (byNumber)
                c = ka.Number < kb.Number ? -1 : ka.Number > kb.Number ? 1 : 0;
            else
                c = CompareText(ka.Text, kb.Text);
        }
        if (c == 0 && Pidls[std::size_t(a)] && Pidls[std::size_t(b)]) {
            const HRESULT hr = Folder->CompareIDs(LPARAM(Detail), Pidls[std::size_t(a)], Pidls[std::size_t(b)]);
            c = FAILED(hr) ? 0 : static_cast<short>(HRESULT_CODE(hr));
        }
        return c * factor;
    });
    return order;
}

COLORREF AttributeTextColor(std::uint8_t Flags, ShellOptions Options)
{
    // The flags share their bits between list items and tree nodes.
    if ((Flags & TShellListItem::fCompressed) && (Options & soColorCompressed)) return RGB(0, 0, 255);
    if ((Flags & TShellListItem::fEncrypted) && (Options & soColorEncrypted)) return RGB(0, 128, 0);
    return CLR_INVALID;
}

bool IsShownObject(TShFolderObject& Browser, ShellOptions Options)
{
    const bool hidden = Browser.IsHidden();
    if (hidden && !(Options & soShowHidden)) return false;
    const bool folder = Browser.IsFolder();
    // Only folders can be the network or the recycle bin: files are spared
    // the look-ups of the special folders.
    if (folder && !(Options & soShowNethood)) {
        const TShellFolder sf = PidlToSpecialFolder(Browser.GetAbsoluteObjectIDList(),
                                                    ShellFolderBit(SF_NETHOOD) | ShellFolderBit(SF_NETWORK));
        if (sf == SF_NETHOOD || sf == SF_NETWORK) return false;
    }
    if (!(Options & soShowRecycleBin)) {
        if (folder && PidlToSpecialFolder(Browser.GetAbsoluteObjectIDList(), ShellFolderBit(SF_BITBUCKET)) == SF_BITBUCKET)
            return false;
        if (hidden) {
            const std::wstring name = Browser.GetObjectName();
            if (name.size() >= 6 && classlib::WideSameText(name.substr(0, 6), L"RECYCL")) return false;
        }
    }
    return folder || (Options & soShowFiles);
}

// ---- link client

class TShellLinkClient::TIconSink : public classlib::TComObject<IIconViewer, IID_IIconViewer> {
public:
    explicit TIconSink(TShellLinkClient* Client) : client_(Client) {}
    // Main thread (the work items' done step).
    void STDMETHODCALLTYPE SetIconIndex(int IconIndex, std::uint8_t Kind, classlib::TObject* Item) override
    {
        if (client_) client_->IconArrived(IconIndex, Kind, Item);
    }
    void Detach() { client_ = nullptr; }

private:
    ~TIconSink() override = default;
    TShellLinkClient* client_;
};

TShellLinkClient::TShellLinkClient()
    : iconSink_(new TIconSink(this)), smallIcons_(std::make_unique<TShSystemImageList>(nullptr))
{
}

TShellLinkClient::~TShellLinkClient()
{
    if (link_) link_->UnregisterControl(this);
    iconSink_->Detach();
    iconSink_->Release();
}

void TShellLinkClient::DetachIcons() { iconSink_->Detach(); }

void TShellLinkClient::QueueIcon(classlib::TObject* Group, classlib::TObject* Tag, TPidl Pidl, std::uint8_t Kind)
{
    if (!Pidl) return;
    ShellWorkPool()->AddWorkItem(new TIconWorkItem(std::move(Pidl), Group, Tag, iconSink_, Kind));
}

void TShellLinkClient::CancelWork(classlib::TObject* Owner, classlib::TObject* Group)
{
    if (ShellWorkPoolExists()) ShellWorkPool()->CancelWorkItems(Owner, Group);
}

void STDMETHODCALLTYPE TShellLinkClient::SetShellLink(TShellLink* Link)
{
    if (link_ == Link) return;
    TShellLink* old = link_;
    link_ = nullptr;
    if (old) old->UnregisterControl(this);
    link_ = Link;
    if (Link) Link->RegisterControl(this);
}

std::wstring TShellLinkClient::PathOfPidl(LPCITEMIDLIST Pidl)
{
    wchar_t buf[MAX_PATH * 4] = {};
    if (!Pidl || !::SHGetPathFromIDListW(Pidl, buf)) return L"";
    return buf;
}

namespace {

// The file names on the clipboard (CF_HDROP); null when there are none or
// the clipboard cannot be opened.
std::unique_ptr<classlib::TStringList> ClipboardFiles()
{
    if (!::IsClipboardFormatAvailable(CF_HDROP) || !::OpenClipboard(nullptr)) return nullptr;
    std::unique_ptr<classlib::TStringList> files = FilenamesFromDrop(static_cast<HDROP>(::GetClipboardData(CF_HDROP)));
    ::CloseClipboard();
    return files;
}

// What a paste of Files did: a copy while the first of them is still where
// it was, else a move (the files were cut).
TShellOperations PasteKind(const classlib::TStringList* Files)
{
    const bool moved = Files && Files->GetCount() > 0 && !PathExists(Files->GetStrings(0));
    return OperationBit(moved ? sopMove : sopCopy) | OperationBit(sopPaste) | OperationBit(sopAdd);
}

bool SameVerb(const std::wstring& a, const wchar_t* b) { return classlib::WideSameText(a, b); }

// Only these modifier keys are down (mouse buttons do not count).
bool OnlyKeys(classlib::TShiftState Shift, classlib::TShiftState Keys)
{
    return (Shift & (classlib::ssShift | classlib::ssAlt | classlib::ssCtrl)) == Keys;
}

// The mouse's side buttons with nothing else held: back and forward.
constexpr WPARAM kSideButtonBack = 0x10020;     // XBUTTON1, MK_XBUTTON1
constexpr WPARAM kSideButtonForward = 0x20040;  // XBUTTON2, MK_XBUTTON2
// The timer that acts on a selection change after the change delay.
constexpr UINT_PTR kChangeTimer = 0x5443;

}  // namespace

// ---- tree

namespace {

// The hourglass for a scope.
class THourglass {
public:
    THourglass() : old_(::SetCursor(::LoadCursorW(nullptr, IDC_WAIT))) {}
    ~THourglass() { ::SetCursor(old_); }
    THourglass(const THourglass&) = delete;
    THourglass& operator=(const THourglass&) = delete;

private:
    HCURSOR old_;
};

}  // namespace

namespace {

// Serves the messages waiting for this thread (a drop's shell work may
// have announced changes the controls should see before they refresh).
void ProcessPendingMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

// Turns a window's drawing off for a scope and repaints it whole after.
class TRedrawLock {
public:
    explicit TRedrawLock(classlib::TWinControl& Control) : window_(Control.GetHandle())
    {
        ::SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
    }
    ~TRedrawLock()
    {
        if (!::IsWindow(window_)) return;
        ::SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
        ::InvalidateRect(window_, nullptr, TRUE);
    }
    TRedrawLock(const TRedrawLock&) = delete;
    TRedrawLock& operator=(const TRedrawLock&) = delete;

private:
    HWND window_;
};

// Scrolls Window one line toward the edge a client point is near (25
// pixels from the left or right, 20 from the top or bottom) when that
// scroll bar has room to move.
void ScrollTowardEdge(HWND Window, POINT ClientPoint)
{
    RECT client{};
    ::GetClientRect(Window, &client);
    auto room = [&](int bar, bool forward) {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_ALL;
        if (!::GetScrollInfo(Window, bar, &info)) return false;
        const int last = info.nMax - std::max(static_cast<int>(info.nPage) - 1, 0);
        return forward ? info.nPos < last : info.nPos > info.nMin;
    };
    if (ClientPoint.x < client.left + 25 && room(SB_HORZ, false))
        ::SendMessageW(Window, WM_HSCROLL, SB_LINELEFT, 0);
    else if (ClientPoint.x >= client.right - 25 && room(SB_HORZ, true))
        ::SendMessageW(Window, WM_HSCROLL, SB_LINERIGHT, 0);
    if (ClientPoint.y < client.top + 20 && room(SB_VERT, false))
        ::SendMessageW(Window, WM_VSCROLL, SB_LINEUP, 0);
    else if (ClientPoint.y >= client.bottom - 20 && room(SB_VERT, true))
        ::SendMessageW(Window, WM_VSCROLL, SB_LINEDOWN, 0);
}

constexpr DWORD DragScrollInterval = 100;
constexpr DWORD DragHoverOpenDelay = 2000;

// The drop source of a control's own drags: it forwards to the control's
// virtual operations. Not reference counted (the control's lifetime; a
// drag ends before the control can go).
template <class Control>
class TForwardingDropSource : public classlib::TUncountedComObject<IDropSource, IID_IDropSource> {
public:
    explicit TForwardingDropSource(Control* Owner) : owner_(Owner) {}
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL EscapePressed, DWORD KeyState) override
    {
        return owner_->QueryContinueDrag(EscapePressed, KeyState);
    }
    HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD Effect) override { return owner_->GiveFeedback(Effect); }

private:
    Control* owner_;
};

}  // namespace

class TShellTree::TDropSource : public TForwardingDropSource<TShellTree> {
public:
    using TForwardingDropSource<TShellTree>::TForwardingDropSource;
};

// The tree's drop target: not reference counted (the tree's lifetime; the
// tree revokes it with its window). The node under the cursor hands the
// drop to its object's own target; a change of effect is an answer, not a
// failure.
class TShellTree::TDropTarget : public classlib::TUncountedComObject<IDropTarget, IID_IDropTarget> {
public:
    explicit TDropTarget(TShellTree* Tree) : tree_(Tree) {}
    // No node is asked yet: the first DragOver finds it.
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        *Effect = DROPEFFECT_NONE;
        if (Data) Data->AddRef();
        data_ = TComRef<IDataObject>(Data);
        keyState_ = KeyState;
        lastScroll_ = ::GetTickCount();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        if (tree_->ReadOnly || !tree_->HandleAllocated()) {
            *Effect = DROPEFFECT_NONE;
            return S_OK;
        }
        keyState_ = KeyState;
        const DWORD allowed = *Effect;
        HTREEITEM node = tree_->NodeAt(Point);
        if (node != dropNode_) {
            Leave();
            dropNode_ = node;
            if (node) {
                TComRef<IDropTarget> target(tree_->NodeDropTarget(node));
                DWORD effect = allowed;
                if (target && target->DragEnter(data_.Get(), KeyState, Point, &effect) == S_OK) nodeTarget_ = target;
                Highlight(node);
                hoverStart_ = ::GetTickCount();
                hoverOpened_ = false;
            }
        }
        const DWORD now = ::GetTickCount();
        if (now - lastScroll_ >= DragScrollInterval) {
            lastScroll_ = now;
            POINT client{Point.x, Point.y};
            ::ScreenToClient(tree_->GetHandle(), &client);
            tree_->DragScroll(client);
        }
        // A node the cursor rests on opens one level.
        if (dropNode_ && !hoverOpened_ && now - hoverStart_ > DragHoverOpenDelay) {
            hoverOpened_ = true;
            if (!tree_->Expanded(dropNode_)) {
                tree_->ReadChildren(dropNode_);
                tree_->Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(dropNode_));
            }
        }
        if (!nodeTarget_) {
            *Effect = DROPEFFECT_NONE;
            return E_FAIL;
        }
        return nodeTarget_->DragOver(KeyState, Point, Effect);
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        Leave();
        data_.Reset();
        keyState_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* Data, DWORD, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(Data);
        // What the copy mode offers, within what the source allows.
        DWORD effect = CopyModeEffect(tree_->copyMode_) & *Effect;
        HTREEITEM node = dropNode_;
        TComRef<IDropTarget> target = nodeTarget_;
        // The node is found again after the drop: the messages served in
        // between may have changed the tree.
        const std::wstring destination = tree_->NodePath(node);
        TNode* record = tree_->NodeOf(node);
        TPidl nodePidl = record ? PidlClone(record->Absolute.get()) : TPidl();
        bool execute = true;
        if (target && files) tree_->OnBeforeShellDrop(tree_, record, files.get(), execute, keyState_);
        HRESULT result = E_UNEXPECTED;
        if (target && execute) {
            result = target->Drop(Data, keyState_, Point, &effect);
            // The target has seen its Drop: no DragLeave for it.
            nodeTarget_.Reset();
        } else {
            effect = DROPEFFECT_NONE;
        }
        *Effect = effect;
        ProcessPendingMessages();
        if (SUCCEEDED(result) && target && execute && files) {
            if (const TShellOperations done = DropOperations(effect, files.get())) {
                tree_->OnOperation(tree_, done, files.get(), destination);
                if (tree_->link_) tree_->link_->NotifyUpdateContents(tree_);
            }
        }
        DragLeave();
        if (HTREEITEM again = nodePidl ? tree_->FindNode(nodePidl.get()) : nullptr)
            if (tree_->Child(again)) tree_->RefreshNode(again, true);
        return result;
    }

private:
    void Leave()
    {
        if (dropNode_) Highlight(nullptr);
        if (nodeTarget_) nodeTarget_->DragLeave();
        nodeTarget_.Reset();
        dropNode_ = nullptr;
    }
    void Highlight(HTREEITEM Node)
    {
        if (tree_->HandleAllocated())
            tree_->Send(TVM_SELECTITEM, TVGN_DROPHILITE, reinterpret_cast<LPARAM>(Node));
    }
    TShellTree* tree_;
    TComRef<IDataObject> data_;
    TComRef<IDropTarget> nodeTarget_;
    HTREEITEM dropNode_ = nullptr;
    DWORD keyState_ = 0;
    DWORD lastScroll_ = 0;
    DWORD hoverStart_ = 0;
    bool hoverOpened_ = false;
};

IDropTarget* TShellTree::GetDropTarget() const { return dropTarget_.get(); }

HTREEITEM TShellTree::NodeAt(POINTL ScreenPoint)
{
    if (!HandleAllocated()) return nullptr;
    TVHITTESTINFO hit{};
    hit.pt = POINT{ScreenPoint.x, ScreenPoint.y};
    ::ScreenToClient(GetHandle(), &hit.pt);
    Send(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    return (hit.flags & (TVHT_ONITEM | TVHT_ONITEMRIGHT)) ? hit.hItem : nullptr;
}

IDropTarget* TShellTree::NodeDropTarget(HTREEITEM Node)
{
    TNode* node = NodeOf(Node);
    if (!node) return nullptr;
    std::wstring path = NodePath(Node);
    if (path.empty() && PidlItemCount(node->Absolute.get()) == 0) path = SpecialFolderPath(SF_DESKTOPDIRECTORY);
    if (!path.empty()) return DirectoryExistsLong(path) ? NewFolderDropTarget(path, GetHandle()) : nullptr;
    // Objects outside the file system take what their own shell target does.
    IDropTarget* target = nullptr;
    LPCITEMIDLIST item = node->ParentFolder ? node->Pidl.get() : node->Absolute.get();
    IShellFolder* folder = node->ParentFolder ? node->ParentFolder.Get() : DesktopFolder();
    if (FAILED(folder->GetUIObjectOf(GetHandle(), 1, &item, IID_IDropTarget, nullptr, reinterpret_cast<void**>(&target))))
        return nullptr;
    return target;
}

void TShellTree::DragScroll(POINT ClientPoint) { ScrollTowardEdge(GetHandle(), ClientPoint); }

void TShellTree::OleDrag(HTREEITEM Node, int Button)
{
    TNode* node = NodeOf(Node);
    // The root stays where it is.
    if (!oleDragDrop_ || !node || !node->ParentFolder || !Parent(Node)) return;
    TPidl parentPidl = PidlClone(NodeOf(Parent(Node))->Absolute.get());
    browser_->SetAbsoluteIDList(node->Absolute.get());
    TComRef<IDataObject> data;
    LPCITEMIDLIST item = node->Pidl.get();
    DWORD effect = DROPEFFECT_NONE;
    if (SUCCEEDED(node->ParentFolder->GetUIObjectOf(GetHandle(), 1, &item, IID_IDataObject, nullptr, data.PutVoid())) &&
        data) {
        dragButton_ = Button;
        if (::DoDragDrop(data.Get(), dropSource_.get(), CopyModeEffect(copyMode_), &effect) != DRAGDROP_S_DROP)
            effect = DROPEFFECT_NONE;
        dragButton_ = 0;
    }
    ProcessPendingMessages();
    // The node itself may have gone with the drag: its parent is found again.
    if (HTREEITEM parent = FindNode(parentPidl.get())) RefreshNode(parent, true);
    const TShellOperations done = DragOperations(effect);
    if (!done || !data) return;
    std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(data.Get());
    if (files && files->GetCount() > 0) OnOperation(this, done, files.get(), std::wstring());
}

HRESULT TShellTree::QueryContinueDrag(BOOL EscapePressed, DWORD KeyState)
{
    return ContinueDragAnswer(EscapePressed, KeyState, dragButton_);
}

HRESULT TShellTree::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }

void TShellTree::SetOleDragDrop(bool Value)
{
    oleDragDrop_ = Value;
    if (!HandleAllocated()) return;
    if (Value && !dropRegistered_) {
        // Fails without OLE on this thread: the tree then takes no drops.
        dropRegistered_ = SUCCEEDED(::RegisterDragDrop(GetHandle(), dropTarget_.get()));
        oleDragDrop_ = dropRegistered_;
    } else if (!Value && dropRegistered_) {
        ::RevokeDragDrop(GetHandle());
        dropRegistered_ = false;
    }
}

void TShellTree::SetCopyMode(TShCopyMode Value) { copyMode_ = createLinkOnDrop_ ? cmLink : Value; }

void TShellTree::SetCreateLinkOnDrop(bool Value)
{
    createLinkOnDrop_ = Value;
    if (Value)
        copyMode_ = cmLink;
    else if (copyMode_ == cmLink)
        copyMode_ = cmDefault;
}

void TShellTree::DestroyWnd()
{
    StopChangeTimer();
    if (dropRegistered_ && HandleAllocated()) ::RevokeDragDrop(GetHandle());
    dropRegistered_ = false;
    classlib::TSystemControl::DestroyWnd();
}

TShellTree::TShellTree(classlib::TComponent* AOwner)
    : classlib::TSystemControl(AOwner),
      dropTarget_(std::make_unique<TDropTarget>(this)),
      dropSource_(std::make_unique<TDropSource>(this)),
      browser_(std::make_unique<TShFolderObject>(nullptr)),
      history_(std::make_unique<TPidlHistory>()),
      notifier_(std::make_unique<TShellChangeNotifier>(nullptr))
{
    SetBounds(0, 0, 200, 300);
    SetTabStop(true);
    SetColor(classlib::clWindow);
    SetDoubleBuffered(true);
    browser_->SetShowErrorMessages(false);
    notifier_->SetRecursive(true);
    notifier_->SetEventFilter(NotificationBit(neFileDelete) | NotificationBit(neDriveAdd) |
                              NotificationBit(neDriveRemove) | NotificationBit(neShellDriveAdd) |
                              NotificationBit(neMediaInsert) | NotificationBit(neMediaRemove) |
                              NotificationBit(neFolderCreate) | NotificationBit(neFolderDelete) |
                              NotificationBit(neFolderRename) | NotificationBit(neFolderUpdate) |
                              NotificationBit(neNetShare) | NotificationBit(neNetUnShare));
    notifier_->OnChangeIDList = TShellNotifierIDListEvent(this, &TShellTree::ShellChanged);
}

TShellTree::~TShellTree()
{
    if (dropRegistered_ && HandleAllocated()) ::RevokeDragDrop(GetHandle());
    dropRegistered_ = false;
    StopChangeTimer();
    notifier_->SetEnabled(false);
    notifier_->OnChangeIDList = nullptr;
    DetachIcons();
    SetShellLink(nullptr);
    CancelWork(nullptr, this);
    // The window goes after this destructor: its nodes are already gone.
    ++quiet_;
    if (HandleAllocated()) {
        Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
        Send(TVM_SETIMAGELIST, TVSIL_STATE, 0);
    }
    nodes_.clear();
    checkImages_.reset();
}

TShellTree::TNode* TShellTree::NodeOf(HTREEITEM Item) const
{
    if (!Item || !HandleAllocated()) return nullptr;
    TVITEMW tv{};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = Item;
    if (!Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    auto* key = reinterpret_cast<classlib::TObject*>(tv.lParam);
    auto it = nodes_.find(key);
    return it == nodes_.end() ? nullptr : it->second.get();
}

namespace {

// A new object from the maker Event gives Sender (which starts as T's own);
// anything but a T (or nothing) raises EInvalidArgument with Error.
template <class T>
std::unique_ptr<T> MakeOfClass(const classlib::TCreateItemClassEvent& Event, classlib::TObject* Sender,
                               const wchar_t* Error)
{
    classlib::TObjectFactory make = [] { return static_cast<classlib::TObject*>(new T); };
    if (Event) Event(Sender, make);
    std::unique_ptr<classlib::TObject> object(make ? make() : nullptr);
    auto* made = dynamic_cast<T*>(object.get());
    if (!made) throw classlib::EInvalidArgument(Error);
    object.release();
    return std::unique_ptr<T>(made);
}

}  // namespace

std::unique_ptr<TShellTreeNode> TShellTree::NewNode()
{
    auto node = MakeOfClass<TShellTreeNode>(
        OnCreateNodeClass, this,
        L"Internal Error: TShellTree.OnCreateNodeClass.ItemClass must inherit from TShellTreeNode.");
    node->Tree = this;
    return node;
}

HTREEITEM TShellTree::Child(HTREEITEM Item) const
{
    return reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(Item)));
}
HTREEITEM TShellTree::Next(HTREEITEM Item) const
{
    return reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(Item)));
}
HTREEITEM TShellTree::Parent(HTREEITEM Item) const
{
    return reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(Item)));
}
HTREEITEM TShellTree::Root() const
{
    return HandleAllocated() ? reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_ROOT, 0)) : nullptr;
}
HTREEITEM TShellTree::Selected() const
{
    return HandleAllocated() ? reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_CARET, 0)) : nullptr;
}
bool TShellTree::Expanded(HTREEITEM Item) const
{
    return (Send(TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(Item), TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}
int TShellTree::Level(HTREEITEM Item) const
{
    int level = 0;
    for (HTREEITEM p = Parent(Item); p; p = Parent(p)) ++level;
    return level;
}

TShSelectionList* TShellTree::Selection() const
{
    return checkBoxes_ && link_ ? link_->GetSelectionList() : nullptr;
}

int TShellTree::NodeState(HTREEITEM Item) const
{
    TShSelectionList* selection = Selection();
    TNode* node = NodeOf(Item);
    if (!selection || !node) return 0;
    if (!Parent(Item) && rootedAtFolder_.empty()) {
        // The root of the namespace or of a special folder: grey while a
        // path on a drive is checked, without a usable box otherwise.
        const std::wstring path = rootedAt_ == SF_DESKTOP ? std::wstring() : SpecialFolderPath(rootedAt_);
        bool drive = false;
        classlib::TStringList* paths = selection->GetPaths();
        for (int i = 0; i < paths->GetCount() && !drive; ++i) {
            const std::wstring& p = paths->GetStrings(i);
            drive = p.size() > 1 && p[1] == L':';
        }
        if (drive) return path.empty() ? ssGrayed : selection->GetStateOfPath(path);
        return path.empty() ? ssNone : ssUnChecked;
    }
    bool byParent = false;
    return selection->GetStateOfPidl(node->Absolute.get(), byParent);
}

void TShellTree::SetNodeState(HTREEITEM Item, int State)
{
    TVITEMW tv{};
    tv.mask = TVIF_STATE | TVIF_HANDLE;
    tv.hItem = Item;
    tv.stateMask = TVIS_STATEIMAGEMASK;
    tv.state = INDEXTOSTATEIMAGEMASK(State > 0 ? State : 0);
    Send(TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

int TShellTree::GetNodeState(HTREEITEM Item) const
{
    return static_cast<int>((Send(TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(Item), TVIS_STATEIMAGEMASK) &
                             TVIS_STATEIMAGEMASK) >> 12);
}

void TShellTree::UpdateStates(HTREEITEM Item)
{
    if (!Selection()) return;
    SetNodeState(Item, NodeState(Item));
    if (!Expanded(Item)) return;
    for (HTREEITEM c = Child(Item); c; c = Next(c)) UpdateStates(c);
}

void TShellTree::SetCheckBoxes(bool Value)
{
    // The boxes show the link's selection list: without a link, none. A
    // form that is loading may give the link after the boxes.
    const bool loading = (GetComponentState() & classlib::csLoading) != 0;
    if (Value && !loading && (!link_ || !link_->GetSelectionList())) Value = false;
    if (Value == checkBoxes_) return;
    checkBoxes_ = Value;
    if (Value && !checkImages_) checkImages_ = std::make_unique<TShSelectionStateImageList>(nullptr);
    if (HandleAllocated())
        Send(TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(Value ? checkImages_->GetHandle() : nullptr));
    if (!Value) checkImages_.reset();
    if (HTREEITEM root = Root()) {
        if (Value)
            UpdateStates(root);
        else
            ClearStates(root);
    }
}

void TShellTree::ClearStates(HTREEITEM Item)
{
    SetNodeState(Item, 0);
    for (HTREEITEM c = Child(Item); c; c = Next(c)) ClearStates(c);
}

void TShellTree::ToggleCheck(HTREEITEM Item)
{
    TShSelectionList* selection = Selection();
    TNode* node = NodeOf(Item);
    if (!selection || !node) return;
    const int state = GetNodeState(Item);
    if (state == ssNone || state == ssUnused) return;
    THourglass hourglass;
    selection->BeginUpdate();
    if (state == ssChecked)
        selection->UncheckPidl(node->Absolute.get());
    else
        selection->CheckPidl(node->Absolute.get());
    // Up to the root, then down the opened part below.
    for (HTREEITEM p = Item; p; p = Parent(p)) SetNodeState(p, NodeState(p));
    UpdateStates(Item);
    selection->EndUpdate();
    int index = 0;
    for (HTREEITEM n = Root(); n && n != Item; ++index) {
        // Depth first over the nodes read so far.
        if (HTREEITEM c = Child(n)) {
            n = c;
            continue;
        }
        while (n && !Next(n)) n = Parent(n);
        if (n) n = Next(n);
    }
    OnCheckStateChanged(this, index, NodePath(Item), static_cast<TShSelectionState>(GetNodeState(Item)));
}

void TShellTree::SetChildren(HTREEITEM Item, bool Value)
{
    TVITEMW tv{};
    tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
    tv.hItem = Item;
    tv.cChildren = Value ? 1 : 0;
    Send(TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

void TShellTree::SetRootedAt(TShellFolder Value)
{
    rootedAt_ = Value;
    if (Value != SF_FILESYSTEMFOLDER) rootedAtFolder_.clear();
    if (!HandleAllocated()) return;
    // Made first: a maker that fails leaves the tree as it was.
    auto node = NewNode();
    THourglass hourglass;
    ++quiet_;
    Send(TVM_SELECTITEM, TVGN_CARET, 0);
    Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    // Whatever is still queued for the old nodes goes in one pass.
    CancelWork(nullptr, this);
    nodes_.clear();

    std::wstring text;
    bool children = true;
    try {
        if (Value == SF_DESKTOP) {
            node->Absolute = PidlClone(DesktopPidl());
            text = TShFolderObject::GetDesktopDisplayName();
            node->Image = node->OpenImage = TShFolderObject::GetDesktopIconIndex();
        } else {
            if (Value == SF_FILESYSTEMFOLDER)
                browser_->SetFolder(rootedAtFolder_);
            else
                browser_->SetSpecialFolder(Value);
            node->Absolute = browser_->GetFolderIDList();
            if (node->Absolute) {
                browser_->SelectFolderInParent();
                text = browser_->GetDisplayName();
                node->Image = browser_->GetIconIndex();
                node->OpenImage = browser_->GetOpenIconIndex();
                children = browser_->HasSubFolders() || GetShowFiles() || GetShowHidden();
            }
        }
    } catch (const EShFolderObjectError&) {
        node->Absolute.reset();
    }
    if (node->Absolute) {
        node->Pidl = PidlClone(node->Absolute.get());
        node->Flags = TNode::fFolder;
        node->IconAsked = node->Image >= 0;
        TVINSERTSTRUCTW ins{};
        ins.hParent = TVI_ROOT;
        ins.hInsertAfter = TVI_LAST;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        ins.item.pszText = const_cast<wchar_t*>(text.c_str());
        ins.item.iImage = ins.item.iSelectedImage = I_IMAGECALLBACK;
        ins.item.lParam = reinterpret_cast<LPARAM>(static_cast<classlib::TObject*>(node.get()));
        ins.item.cChildren = children ? 1 : 0;
        TNode* raw = node.get();
        nodes_.emplace(raw, std::move(node));
        raw->Item = reinterpret_cast<HTREEITEM>(Send(TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
        if (!raw->Item) nodes_.erase(raw);
    }
    Watch();
    --quiet_;
    HTREEITEM root = Root();
    if (root && Selection()) SetNodeState(root, NodeState(root));
    // A tree asked not to fill at start-up reads nothing before the user
    // opens the root.
    if (root && !startingUnfilled_) {
        ReadChildren(root);
        Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        // A new root is the program's choice: it takes effect at once.
        changeDelay_ = 0;
        SelectNode(root);
    }
    history_->Clear();
}

void TShellTree::SetRootedAtFileSystemFolder(const std::wstring& Value)
{
    if (Value.empty()) {
        rootedAtFolder_.clear();
        return;
    }
    // The text is taken only with the root it names, so that the property
    // never names a root the tree does not show.
    if (!IsDriveRoot(Value) && !DirectoryExistsLong(classlib::ExcludeTrailingPathDelimiter(Value)))
        throw classlib::Exception(L"TShellTree cannot be rooted at a file. File path: " + Value);
    rootedAtFolder_ = Value;
    SetRootedAt(SF_FILESYSTEMFOLDER);
}

void TShellTree::Watch()
{
    notifier_->SetEnabled(false);
    HTREEITEM root = Root();
    TNode* node = NodeOf(root);
    if (!node) return;
    if (rootedAt_ == SF_DESKTOP) {
        notifier_->SetRootPidl(DesktopPidl());
    } else {
        // The root's parent, so that the root itself is seen to go.
        TPidl parent = PidlCopyFirst(node->Absolute.get(), PidlItemCount(node->Absolute.get()) - 1);
        notifier_->SetRootPidl(parent.get());
    }
    notifier_->SetEnabled(automaticRefresh_);
}

bool TShellTree::GetAutomaticRefresh() const { return automaticRefresh_; }

void TShellTree::SetAutomaticRefresh(bool Value)
{
    automaticRefresh_ = Value;
    notifier_->SetEnabled(Value && Root());
}

HTREEITEM TShellTree::AddChildNode(HTREEITEM ParentItem, bool Keep)
{
    if (!IsShownObject(*browser_, options_)) return nullptr;
    const bool folder = browser_->IsFolder();
    auto node = NewNode();
    node->ParentFolder = Share(browser_->ShellFolder());
    node->Pidl = browser_->GetObjectIDList();
    node->Absolute = PidlClone(browser_->GetAbsoluteObjectIDList());
    if (!node->Pidl || !node->Absolute) return nullptr;
    node->Flags = static_cast<std::uint8_t>((folder ? TNode::fFolder : 0) | (Keep ? TNode::fKeep : 0));
    const WIN32_FIND_DATAW& fd = browser_->GetFindData();
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) node->Flags |= TNode::fCompressed;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) node->Flags |= TNode::fEncrypted;
    node->Dimmed = showOverlayIcons_ && browser_->GetAttributes(SFGAO_HIDDEN | SFGAO_GHOSTED) != 0;
    const std::wstring text = browser_->GetDisplayName();
    const bool children = folder && (GetShowFiles() || browser_->HasSubFolders());
    const std::wstring path = OnAddFolder ? PidlToPath(node->Absolute.get()) : std::wstring();
    TVINSERTSTRUCTW ins{};
    ins.hParent = ParentItem;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
    ins.item.stateMask = TVIS_CUT;
    ins.item.state = node->Dimmed ? TVIS_CUT : 0;
    ins.item.pszText = const_cast<wchar_t*>(text.c_str());
    ins.item.iImage = ins.item.iSelectedImage = I_IMAGECALLBACK;
    ins.item.lParam = reinterpret_cast<LPARAM>(static_cast<classlib::TObject*>(node.get()));
    ins.item.cChildren = children ? 1 : 0;
    TNode* raw = node.get();
    nodes_.emplace(raw, std::move(node));
    raw->Item = reinterpret_cast<HTREEITEM>(Send(TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    if (!raw->Item) {
        nodes_.erase(raw);
        return nullptr;
    }
    if (Selection()) SetNodeState(raw->Item, NodeState(raw->Item));
    if (OnAddFolder) {
        HTREEITEM item = raw->Item;
        bool canAdd = true;
        OnAddFolder(item, path, canAdd);
        if (!canAdd) {
            DeleteNode(item);
            return nullptr;
        }
        return item;
    }
    return raw->Item;
}

void TShellTree::ReadChildren(HTREEITEM Item)
{
    TNode* node = NodeOf(Item);
    if (!node || node->Filled || !(node->Flags & TNode::fFolder)) return;
    node->Filled = true;
    THourglass hourglass;
    bool any = false;
    try {
        browser_->SetFolderIDList(node->Absolute.get());
        while (browser_->NextObject())
            if ((GetShowFiles() || browser_->IsFolder()) && AddChildNode(Item, false)) any = true;
    } catch (const EShFolderObjectError&) {
    }
    if (any) SortChildren(Item);
    SetChildren(Item, any);
    // Changes on a network share are seen only by watching its folder.
    if (Parent(Item)) {
        const std::wstring path = PidlToPath(node->Absolute.get());
        if (IsUncPath(path) && notifier_->GetDirectories()->IndexOf(path) < 0) notifier_->GetDirectories()->Add(path);
    }
}

void TShellTree::ExpandNode(HTREEITEM Item, bool Recurse)
{
    if (!NodeOf(Item)) return;
    std::function<void(HTREEITEM)> open = [&](HTREEITEM Node) {
        ReadChildren(Node);
        if (Child(Node)) Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(Node));
        if (!Recurse) return;
        for (HTREEITEM c = Child(Node); c; c = Next(c)) open(c);
    };
    std::size_t before = 0;
    do {
        before = nodes_.size();
        open(Item);
    } while (Recurse && nodes_.size() > before && NodeOf(Item));
}

void TShellTree::SortChildren(HTREEITEM Item)
{
    struct Context {
        static int CALLBACK Compare(LPARAM a, LPARAM b, LPARAM self)
        {
            auto* tree = reinterpret_cast<TShellTree*>(self);
            auto find = [&](LPARAM p) -> TNode* {
                auto it = tree->nodes_.find(reinterpret_cast<classlib::TObject*>(p));
                return it == tree->nodes_.end() ? nullptr : it->second.get();
            };
            TNode* x = find(a);
            TNode* y = find(b);
            if (!x || !y || !x->ParentFolder) return 0;
            const HRESULT hr = x->ParentFolder->CompareIDs(0, x->Pidl.get(), y->Pidl.get());
            return FAILED(hr) ? 0 : static_cast<short>(HRESULT_CODE(hr));
        }
    };
    TVSORTCB sort{};
    sort.hParent = Item;
    sort.lpfnCompare = &Context::Compare;
    sort.lParam = reinterpret_cast<LPARAM>(this);
    Send(TVM_SORTCHILDRENCB, FALSE, reinterpret_cast<LPARAM>(&sort));
}

void TShellTree::DeleteNode(HTREEITEM Item)
{
    if (Item) Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(Item));
}

void TShellTree::FillNode(TNode* Node)
{
    Node->IconAsked = true;
    QueueIcon(this, Node, PidlClone(Node->Absolute.get()), 0);
    QueueIcon(this, Node, PidlClone(Node->Absolute.get()), 2);
    if (showOverlayIcons_) QueueIcon(this, Node, PidlClone(Node->Absolute.get()), 1);
    OnUpdatedFolder(this, Node->Item);
}

void TShellTree::RefreshNode(HTREEITEM Item, bool Recursive)
{
    TNode* node = NodeOf(Item);
    if (!node) return;
    // A node already drawn looks up its icons again.
    if (node->IconAsked) {
        FillNode(node);
        node = NodeOf(Item);
        if (!node) return;
    }
    if (!node->Filled) return;
    if (!Expanded(Item)) {
        // Read again on the next opening.
        while (HTREEITEM c = Child(Item)) DeleteNode(c);
        node->Filled = false;
        SetChildren(Item, true);
        return;
    }
    try {
        browser_->SetFolderIDList(node->Absolute.get());
    } catch (const EShFolderObjectError&) {
        if (Parent(Item)) DeleteNode(Item);
        return;
    }
    for (HTREEITEM c = Child(Item); c; c = Next(c))
        if (TNode* n = NodeOf(c)) n->SeenMark = 0;
    bool added = false;
    // New nodes wait while a name is edited in place (sorting would move
    // the edit away from its node).
    const bool editing = Send(TVM_GETEDITCONTROL) != 0;
    while (browser_->NextObject()) {
        if (!GetShowFiles() && !browser_->IsFolder()) continue;
        if (!IsShownObject(*browser_, options_)) continue;
        TNode* found = nullptr;
        for (HTREEITEM c = Child(Item); c && !found; c = Next(c)) {
            TNode* n = NodeOf(c);
            if (n && SameObject(browser_->ShellFolder(), n->Pidl.get(), browser_->ObjectIDList())) found = n;
        }
        if (found) {
            found->SeenMark = 1;
            SetChildren(found->Item, browser_->IsFolder() && (GetShowFiles() || browser_->HasSubFolders()));
            if (OnAddFolder) {
                // The handler is asked again: a refusal now takes the node
                // out (it is left unmarked and goes below).
                bool canAdd = true;
                OnAddFolder(found->Item, PidlToPath(found->Absolute.get()), canAdd);
                if (!canAdd) found->SeenMark = 0;
            }
        } else if (!editing && AddChildNode(Item, false)) {
            added = true;
        }
    }
    std::vector<HTREEITEM> gone, kept;
    for (HTREEITEM c = Child(Item); c; c = Next(c)) {
        TNode* n = NodeOf(c);
        if (n && n->SeenMark == 0 && !(n->Flags & TNode::fKeep))
            gone.push_back(c);
        else
            kept.push_back(c);
    }
    for (HTREEITEM c : gone) DeleteNode(c);
    if (Recursive)
        for (HTREEITEM c : kept) RefreshNode(c, true);
    if (added) SortChildren(Item);
    SetChildren(Item, Child(Item) != nullptr);
}

bool TShellTree::LocatePidl(LPCITEMIDLIST Pidl, int Mode)
{
    HTREEITEM root = Root();
    TNode* rootNode = NodeOf(root);
    if (!Pidl || !rootNode) return false;
    if (Mode == 0) {
        TNode* sel = NodeOf(Selected());
        if (sel && SameObject(DesktopFolder(), sel->Absolute.get(), Pidl)) return true;
    }
    THourglass hourglass;
    const bool oldCanFill = canFill_;
    canFill_ = Mode != 1;
    HTREEITEM node = root;
    bool found = SameObject(DesktopFolder(), rootNode->Absolute.get(), Pidl) ||
                 (PidlItemCount(Pidl) == 0 && PidlItemCount(rootNode->Absolute.get()) == 0);
    if (!found) {
        const int d = PidlItemCount(rootNode->Absolute.get());
        const int t = PidlItemCount(Pidl);
        TPidl head = PidlCopyFirst(Pidl, d);
        // Only lists below the root are looked for.
        if (t > d && (d == 0 || SameObject(DesktopFolder(), head.get(), rootNode->Absolute.get()))) {
            for (int level = 0; level + d < t; ++level) {
                if (Mode == 0) {
                    ReadChildren(node);
                    Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
                }
                TPidl item = PidlGetItem(Pidl, level + d);
                HTREEITEM next = FindChild(node, item.get());
                if (!next) break;
                node = next;
                if (level + d + 1 == t) found = true;
            }
            // A network share is not among the children the network folder
            // lists: it is added under the deepest node reached, kept
            // through later refreshes when it is a drive of its own.
            if (!found && node != root && IsNetworkPidl(Pidl)) {
                try {
                    browser_->SetAbsoluteIDList(Pidl);
                    const bool keep = IsDriveRoot(browser_->GetObjectPath());
                    if (HTREEITEM added = AddChildNode(node, keep)) {
                        SortChildren(node);
                        node = added;
                        found = true;
                    }
                } catch (const EShFolderObjectError&) {
                    canFill_ = oldCanFill;
                    return false;
                }
            }
        }
    }
    canFill_ = oldCanFill;
    if (!found && (Mode == 2 || Mode == 3)) Mode = 1;
    switch (Mode) {
    case 0:
        changeDelay_ = 0;
        SelectNode(node);
        break;
    case 1: RefreshNode(node, !rootedAtFolder_.empty()); break;
    case 2:
        if (HTREEITEM p = Parent(node)) RefreshNode(p, false);
        break;
    case 3:
        if (node == Selected()) changeDelay_ = 0;
        if (Parent(node)) DeleteNode(node);
        break;
    default: break;
    }
    return found;
}

HTREEITEM TShellTree::FindChild(HTREEITEM Item, LPCITEMIDLIST ChildPidl) const
{
    std::vector<TNode*> children;
    for (HTREEITEM c = Child(Item); c; c = Next(c))
        if (TNode* n = NodeOf(c)) children.push_back(n);
    if (children.empty() || !children.front()->ParentFolder) return nullptr;
    IShellFolder* folder = children.front()->ParentFolder.Get();
    // The children are in the folder's order: a binary search finds most
    // in a few comparisons; the linear one below catches children added
    // out of order or a folder whose order is not a total one.
    std::size_t low = 0, high = children.size();
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        const HRESULT hr = folder->CompareIDs(0, ChildPidl, children[mid]->Pidl.get());
        const int c = FAILED(hr) ? 0 : static_cast<short>(HRESULT_CODE(hr));
        if (SUCCEEDED(hr) && c == 0) return children[mid]->Item;
        if (high - low == 1) break;
        if (c <= 0)
            high = mid;
        else
            low = mid + 1;
    }
    for (TNode* n : children)
        if (SameObject(n->ParentFolder.Get(), n->Pidl.get(), ChildPidl)) return n->Item;
    return nullptr;
}

void TShellTree::SelectNode(HTREEITEM Item)
{
    if (!Item) return;
    Send(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(Item));
    Send(TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(Item));
}

std::wstring TShellTree::NodePath(HTREEITEM Item) const
{
    TNode* node = NodeOf(Item);
    return node ? PidlToPath(node->Absolute.get()) : std::wstring();
}

std::wstring TShellTree::GetSelectedFolder() const
{
    if (!HandleAllocated()) return pendingPath_;
    HTREEITEM sel = Selected();
    TNode* node = NodeOf(sel);
    if (!node) return {};
    std::wstring path = NodePath(sel);
    if (path.empty()) {
        const TShellFolder sf = PidlToSpecialFolder(node->Absolute.get());
        if (sf != SF_FILESYSTEMFOLDER) path = SpecialFolderPath(sf);
    }
    return path;
}

std::wstring TShellTree::GetPath() const { return WithoutBackslash(GetSelectedFolder()); }

void TShellTree::SetSelectedFolder(const std::wstring& Value)
{
    if (!HandleAllocated()) {
        // A special folder given before (other than My Computer, which a
        // path lies under) stays the choice, whatever order a form sets
        // the two in.
        if (pendingSpecial_ != SF_FILESYSTEMFOLDER && pendingSpecial_ != SF_DRIVES) return;
        pendingPath_ = Value;
        pendingSpecial_ = SF_FILESYSTEMFOLDER;
        return;
    }
    if (Value.empty()) {
        if (rootedAt_ == SF_DESKTOP)
            SetSpecialFolder(SF_DRIVES);
        else
            SelectNode(Root());
        return;
    }
    TPidl pidl = PathToPidl(nullptr, Value);
    if (!pidl) {
        const DWORD error = ::GetLastError();
        if (GetShowErrorMessages())
            ::MessageBoxW(GetHandle(), (SystemErrorText(error) + L": " + Value).c_str(), nullptr, MB_OK | MB_ICONERROR);
        return;
    }
    LocatePidl(pidl.get(), 0);
}

TShellFolder TShellTree::GetSpecialFolder() const
{
    if (!HandleAllocated() && pendingSpecial_ != SF_FILESYSTEMFOLDER) return pendingSpecial_;
    TNode* node = NodeOf(Selected());
    return node ? PidlToSpecialFolder(node->Absolute.get()) : SF_FILESYSTEMFOLDER;
}

void TShellTree::SetSpecialFolder(TShellFolder Value)
{
    if (Value == SF_FILESYSTEMFOLDER) return;
    if (!HandleAllocated()) {
        // Selected when the window is made; it replaces a path given before.
        pendingSpecial_ = Value;
        pendingPath_.clear();
        return;
    }
    TPidl pidl = SpecialFolderPidl(Value);
    if (pidl) LocatePidl(pidl.get(), 0);
}

TPidl TShellTree::SelectedPidl() const
{
    TNode* node = NodeOf(Selected());
    return node ? PidlClone(node->Absolute.get()) : TPidl();
}

HTREEITEM TShellTree::FindNode(LPCITEMIDLIST Pidl) const
{
    for (auto& [key, node] : nodes_)
        if (SameObject(DesktopFolder(), node->Absolute.get(), Pidl)) return node->Item;
    return nullptr;
}

void TShellTree::HistoryStep(int Count)
{
    navigatingHistory_ = true;
    if (Count <= 0)
        history_->Back(-Count);
    else
        history_->Forward(Count);
    if (LPCITEMIDLIST current = history_->Current()) {
        TPidl copy = PidlClone(current);
        LocatePidl(copy.get(), 0);
    }
    navigatingHistory_ = false;
}

void TShellTree::SetShellOptions(ShellOptions Value)
{
    options_ = Value;
    browser_->SetShowErrorMessages((Value & soShowErrorMessages) != 0);
    if (Value & soShowFiles)
        notifier_->SetEventFilter(notifier_->GetEventFilter() | NotificationBit(neFileCreate) |
                                  NotificationBit(neFileDelete) | NotificationBit(neFileRename));
    FullRefresh();
}

void TShellTree::SetOption(TShellOption Option, bool Value)
{
    SetShellOptions(static_cast<ShellOptions>(Value ? options_ | Option : options_ & ~Option));
}

std::wstring TShellTree::GetFilter() const { return browser_->GetFilter(); }

void TShellTree::SetFilter(const std::wstring& Value)
{
    browser_->SetFilter(Value);
    FullRefresh();
}

bool TShellTree::GetFileSystemOnly() const { return browser_->GetFileSystemOnly(); }

void TShellTree::SetFileSystemOnly(bool Value)
{
    browser_->SetFileSystemOnly(Value);
    FullRefresh();
}

void STDMETHODCALLTYPE TShellTree::FullRefresh()
{
    if (!HandleAllocated() || !ServeWaitingMessages() || !HandleAllocated()) return;
    THourglass hourglass;
    TRedrawLock redraw(*this);
    if (!Root())
        SetRootedAt(rootedAt_);
    else
        RefreshNode(Root(), true);
}

void STDMETHODCALLTYPE TShellTree::UpdateContents()
{
    if (!Selected() || !ServeWaitingMessages()) return;
    HTREEITEM sel = Selected();
    if (!sel) return;
    TRedrawLock redraw(*this);
    // A node whose text is gone stands for an object that is being
    // renamed or has vanished: its folder is read instead.
    HTREEITEM target = sel;
    if (NodeText(sel).empty())
        if (HTREEITEM p = Parent(sel)) target = p;
    RefreshNode(target, true);
    if (!automaticRefresh_) RefreshCutParents();
    if (checkBoxes_ && link_)
        for (HTREEITEM p = Selected(); p; p = Parent(p)) SetNodeState(p, NodeState(p));
}

bool TShellTree::ServeWaitingMessages()
{
    // Changes already announced are served first, so that a refresh sees
    // the tree as they left it. A refresh asked for meanwhile is dropped:
    // the one running covers it.
    if (updatingContents_) return false;
    auto alive = AliveToken();
    updatingContents_ = true;
    ProcessPendingMessages();
    if (!*alive) return false;
    updatingContents_ = false;
    return true;
}

std::wstring TShellTree::NodeText(HTREEITEM Item) const
{
    wchar_t buffer[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = Item;
    tv.pszText = buffer;
    tv.cchTextMax = MAX_PATH;
    if (!Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return {};
    // The control may answer with a pointer of its own.
    return tv.pszText ? std::wstring(tv.pszText) : std::wstring();
}

void TShellTree::RefreshCutParents()
{
    // Without the change notifier nothing says when cut folders have been
    // pasted elsewhere: the folders that held them are read again.
    std::vector<HTREEITEM> parents;
    for (auto& [key, node] : nodes_) {
        if (!node->Item || !(Send(TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(node->Item), TVIS_CUT) & TVIS_CUT))
            continue;
        HTREEITEM p = Parent(node->Item);
        if (p && std::find(parents.begin(), parents.end(), p) == parents.end()) parents.push_back(p);
    }
    // Reading one folder again may remove another from the tree.
    auto shown = [this](HTREEITEM Item) {
        return std::any_of(nodes_.begin(), nodes_.end(), [Item](const auto& n) { return n.second->Item == Item; });
    };
    for (HTREEITEM p : parents)
        if (shown(p)) RefreshNode(p, false);
}

void STDMETHODCALLTYPE TShellTree::NavigateUp()
{
    HTREEITEM sel = Selected();
    if (HTREEITEM p = sel ? Parent(sel) : nullptr) SelectNode(p);
}

void STDMETHODCALLTYPE TShellTree::FolderChanged(LPCITEMIDLIST AbsolutePidl)
{
    if (AbsolutePidl) LocatePidl(AbsolutePidl, 0);
}

void STDMETHODCALLTYPE TShellTree::SelectionChanged(LPCITEMIDLIST FolderPidl, LPCITEMIDLIST)
{
    if (GetShowFiles()) FolderChanged(FolderPidl);
}

void TShellTree::NotifyLink(HTREEITEM Item)
{
    TNode* node = NodeOf(Item);
    if (!node || !link_) return;
    link_->SetParentAllowed(Level(Item) > 0);
    if (GetShowFiles() && !(node->Flags & TNode::fFolder)) {
        TNode* parent = NodeOf(Parent(Item));
        if (parent) link_->NotifySelectionChanged(this, parent->Absolute.get(), node->Pidl.get());
    } else {
        link_->NotifyFolderChanged(this, node->Absolute.get());
    }
}

void TShellTree::ShellChanged(classlib::TObject*, TNotificationEvent Event, LPCITEMIDLIST Pidl1, LPCITEMIDLIST Pidl2)
{
    if (!HandleAllocated() || quiet_ || !Pidl1) return;
    switch (Event) {
    case neFileDelete:
    case neDriveRemove:
    case neFolderDelete: LocatePidl(Pidl1, 3); break;
    case neFolderRename:
        LocatePidl(Pidl1, 2);
        if (Pidl2) LocatePidl(Pidl2, 2);
        break;
    case neFolderUpdate: LocatePidl(Pidl1, 1); break;
    default: LocatePidl(Pidl1, 2); break;
    }
}

void TShellTree::IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag)
{
    // A node that left the tree (its work cancelled) is not looked at.
    auto it = nodes_.find(Tag);
    if (it == nodes_.end() || IconIndex < 0 || !HandleAllocated()) return;
    TNode* node = it->second.get();
    if (Kind == 1) {
        // The window has room for overlays 1 to 15.
        if (IconIndex >= 15) return;
        TVITEMW tv{};
        tv.mask = TVIF_STATE | TVIF_HANDLE;
        tv.hItem = node->Item;
        tv.stateMask = TVIS_OVERLAYMASK;
        tv.state = INDEXTOOVERLAYMASK(IconIndex + 1);
        Send(TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        return;
    }
    (Kind == 2 ? node->OpenImage : node->Image) = IconIndex;
    // TVM_GETITEMRECT takes the item in the rectangle's first bytes.
    RECT r{};
    static_assert(sizeof(RECT) >= sizeof(HTREEITEM));
    std::memcpy(&r, &node->Item, sizeof(HTREEITEM));
    if (Send(TVM_GETITEMRECT, FALSE, reinterpret_cast<LPARAM>(&r))) ::InvalidateRect(GetHandle(), &r, FALSE);
}

void TShellTree::CreateParams(classlib::TCreateParams& Params)
{
    classlib::TSystemControl::CreateParams(Params);
    Params.Style |= WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS;
    if (!ReadOnly) Params.Style |= TVS_EDITLABELS;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
    Params.Caption.clear();
}

void TShellTree::Loaded()
{
    classlib::TSystemControl::Loaded();
    if (useSystemFont_) GetIconTitleFont(*GetFont());
}

void TShellTree::SetUseSystemFont(bool Value)
{
    useSystemFont_ = Value;
    if (Value) GetIconTitleFont(*GetFont());
}

void TShellTree::SetShowOverlayIcons(bool Value)
{
    if (Value == showOverlayIcons_) return;
    showOverlayIcons_ = Value;
    FullRefresh();
}

void TShellTree::CreateHandleDone()
{
    classlib::TSystemControl::CreateHandleDone();
    const bool first = !windowCreated_;
    if (!windowCreated_) {
        windowCreated_ = true;
        browser_->SetDialogOwner(this);
        if (useSystemStyles_) ApplyExplorerStyle(TTreeViewWindow{GetHandle()});
    }
    Send(TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(SmallIcons()));
    if (checkImages_) Send(TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(checkImages_->GetHandle()));
    // Fails without OLE on this thread: the tree then takes no drops.
    SetOleDragDrop(oleDragDrop_);
    nodes_.clear();
    startingUnfilled_ = first && GetOption(soNoFillOnStartup);
    SetRootedAt(rootedAt_);
    startingUnfilled_ = false;
    const std::wstring pending = pendingPath_;
    const TShellFolder special = pendingSpecial_;
    pendingPath_.clear();
    pendingSpecial_ = SF_FILESYSTEMFOLDER;
    if (!GetOption(soNoFillOnStartup)) {
        if (!pending.empty())
            SetSelectedFolder(pending);
        else if (special != SF_FILESYSTEMFOLDER)
            SetSpecialFolder(special);
    }
}

bool TShellTree::RenameNode(HTREEITEM Item, const std::wstring& NewName)
{
    TNode* node = NodeOf(Item);
    if (!node || !node->ParentFolder || NewName.empty()) return false;
    const std::wstring oldPath = PidlToPath(node->Absolute.get());
    std::wstring name = NewName;
    bool done = false;
    // The shell may announce the rename while it runs: the tree must not
    // read the parent again (and drop this node) before the node follows.
    ++quiet_;
    try {
        browser_->SetAbsoluteIDList(node->Absolute.get());
        done = browser_->Rename(name);
    } catch (const EShFolderObjectError&) {
        done = false;
    }
    --quiet_;
    if (!done) return false;
    // The node takes the object's new lists; what was read below it goes
    // (it is read again on the next opening). Nothing here waits for the
    // shell: the notifications of the rename arrive later by themselves.
    node->Pidl = browser_->GetObjectIDList();
    node->Absolute = PidlClone(browser_->GetAbsoluteObjectIDList());
    const bool wasExpanded = Expanded(Item);
    Send(TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, reinterpret_cast<LPARAM>(Item));
    while (HTREEITEM c = Child(Item)) DeleteNode(c);
    node->Filled = false;
    SetChildren(Item, true);
    CancelWork(node, this);
    node->IconAsked = false;
    node->Image = node->OpenImage = -1;
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = Item;
    tv.pszText = const_cast<wchar_t*>(name.c_str());
    Send(TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    if (HTREEITEM p = Parent(Item)) SortChildren(p);
    const std::wstring newPath = PidlToPath(node->Absolute.get());
    if (link_ && link_->GetSelectionList() && !oldPath.empty()) link_->GetSelectionList()->RenamePath(oldPath, newPath);
    auto files = std::make_unique<classlib::TStringList>();
    files->Add(oldPath);
    OnOperation(this, OperationBit(sopRename), files.get(), newPath);
    if (link_) link_->NotifyUpdateContents(this);
    if (Item == Selected()) NotifyLink(Item);
    if (wasExpanded) {
        ReadChildren(Item);
        Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(Item));
    }
    return true;
}

void TShellTree::DoOperation(TShellOperations Operation, std::unique_ptr<classlib::TStringList> Files,
                              const std::wstring& Destination)
{
    if (Files && Files->GetCount() > 0) OnOperation(this, Operation, Files.get(), Destination);
}

void TShellTree::EditSelected(classlib::TObject*)
{
    if (HTREEITEM item = Selected(); item && !ReadOnly) Send(TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(item));
}

void TShellTree::PrepareRename()
{
    if (ReadOnly)
        browser_->OnRename.Clear();
    else
        browser_->OnRename = classlib::TNotifyEvent(this, &TShellTree::EditSelected);
}

void TShellTree::AfterVerb(const std::wstring& Verb, LPCITEMIDLIST Absolute, const std::wstring& Path,
                           std::unique_ptr<classlib::TStringList> Clipboard)
{
    if (SameVerb(Verb, L"delete")) {
        changeDelay_ = 0;
        HTREEITEM item = FindNode(Absolute);
        if (item && Parent(item)) LocatePidl(Absolute, PathExists(Path) ? 2 : 3);
        auto files = std::make_unique<classlib::TStringList>();
        files->Add(Path);
        DoOperation(OperationBit(sopDelete) | OperationBit(sopRemove), std::move(files), std::wstring());
        if (link_) link_->NotifyUpdateContents(this);
    } else if (SameVerb(Verb, L"empty")) {
        if (HTREEITEM item = FindNode(Absolute)) RefreshNode(item, false);
        if (link_) link_->FullRefreshAll();
    } else if (SameVerb(Verb, L"cut")) {
        if (HTREEITEM item = FindNode(Absolute)) {
            TVITEMW tv{};
            tv.mask = TVIF_STATE | TVIF_HANDLE;
            tv.hItem = item;
            tv.stateMask = TVIS_CUT;
            tv.state = TVIS_CUT;
            Send(TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        }
    } else if (SameVerb(Verb, L"paste")) {
        UpdateContents();
        const TShellOperations kind = PasteKind(Clipboard.get());
        DoOperation(kind, std::move(Clipboard), GetSelectedFolder());
    } else if (!SameVerb(Verb, L"rename") && !SameVerb(Verb, L"copy")) {
        LocatePidl(Absolute, 1);
    }
}

void TShellTree::ShowNodeMenu(HTREEITEM Item, POINT ScreenPoint)
{
    TNode* node = NodeOf(Item);
    if (!node) return;
    // The node may go while the menu runs (a verb the shell announces at
    // once): only copies are used afterwards.
    TPidl absolute = PidlClone(node->Absolute.get());
    const std::wstring path = PidlToPath(absolute.get());
    PrepareRename();
    std::unique_ptr<classlib::TStringList> clipboard = ClipboardFiles();
    browser_->SetAbsoluteIDList(absolute.get());
    browser_->SetReadOnly(ReadOnly);
    browser_->SetShowContextMenuOnTop(GetOption(soShowContextMenuOnTop));
    ++quiet_;
    std::wstring verb;
    try {
        if (popupMenu_) popupMenu_->PopupComponent = this;
        verb = browser_->ShowContextMenu(ScreenPoint, popupMenu_);
    } catch (const EShFolderObjectError&) {
        --quiet_;
        LocatePidl(absolute.get(), 2);  // the folder holding it is read again
        return;
    } catch (...) {
        --quiet_;
        throw;
    }
    --quiet_;
    if (!verb.empty()) AfterVerb(verb, absolute.get(), path, std::move(clipboard));
}

bool TShellTree::ExecuteVerb(const std::wstring& Verb)
{
    HTREEITEM item = Selected();
    if (!item) return false;
    PrepareRename();
    TNode* node = NodeOf(item);
    if (!node) return true;
    std::unique_ptr<classlib::TStringList> clipboard = SameVerb(Verb, L"paste") ? ClipboardFiles() : nullptr;
    TPidl absolute = PidlClone(node->Absolute.get());
    const std::wstring path = PidlToPath(absolute.get());
    bool done = false;
    ++quiet_;
    try {
        browser_->SetAbsoluteIDList(absolute.get());
        done = browser_->ExecuteCommand(Verb);
    } catch (const EShFolderObjectError&) {
        done = false;
    } catch (...) {
        --quiet_;
        throw;
    }
    --quiet_;
    if (done) AfterVerb(Verb, absolute.get(), path, std::move(clipboard));
    return done;
}

void TShellTree::StopChangeTimer()
{
    if (changeTimer_ && HandleAllocated()) ::KillTimer(GetHandle(), kChangeTimer);
    changeTimer_ = false;
}

void TShellTree::Change(HTREEITEM Item)
{
    TNode* node = NodeOf(Item);
    if (!node || quiet_) return;
    if (!navigatingHistory_) history_->Push(PidlClone(node->Absolute.get()));
    OnChange(this);
    NotifyLink(Item);
    if (ExpandOnSelected) {
        HTREEITEM p = Parent(Item);
        for (HTREEITEM c = p ? Child(p) : Root(); c; c = Next(c))
            if (c != Item) Send(TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(c));
        ReadChildren(Item);
        Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(Item));
    }
    changeDelay_ = 0;
}

void TShellTree::WndProc(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case WM_TIMER:
        if (Message.WParam == kChangeTimer) {
            StopChangeTimer();
            Change(Selected());
            Message.Result = 0;
            return;
        }
        break;
    case WM_CONTEXTMENU: {
        HTREEITEM item = Selected();
        if (!HandleAllocated() || reinterpret_cast<HWND>(Message.WParam) != GetHandle() ||
            (!ShellContextMenu && !popupMenu_) || !NodeOf(item))
            break;
        POINT point{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
        if (point.x <= 0) {
            // From the keyboard: at the corner of the selected node's text.
            RECT r{};
            std::memcpy(&r, &item, sizeof(item));
            if (Send(TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) point = POINT{r.right, r.bottom};
            ::ClientToScreen(GetHandle(), &point);
        }
        if (ShellContextMenu) {
            ShowNodeMenu(item, point);
        } else {
            popupMenu_->PopupComponent = this;
            popupMenu_->Popup(point.x, point.y);
        }
        Message.Result = 0;
        return;
    }
    case WM_XBUTTONDOWN:
        if (Message.WParam == kSideButtonBack)
            HistoryStep(-1);
        else if (Message.WParam == kSideButtonForward)
            HistoryStep(1);
        break;
    default: break;
    }
    classlib::TSystemControl::WndProc(Message);
}

void TShellTree::SetPopupMenu(classlib::TPopupMenu* Value)
{
    if (popupMenu_) RemoveFreeNotification(popupMenu_);
    popupMenu_ = Value;
    if (Value) FreeNotification(Value);
}

void TShellTree::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TSystemControl::Notification(AComponent, Operation);
    if (Operation == classlib::opRemove && AComponent == popupMenu_) popupMenu_ = nullptr;
}

void TShellTree::KeyPress(wchar_t& Key)
{
    if (Key == 3 || Key == 22 || Key == 24) {
        Key = 0;
        return;
    }
    // Typing a name moves the selection like the arrow keys do.
    KeyChangeDelay();
    classlib::TSystemControl::KeyPress(Key);
}

void TShellTree::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    if (HandleAllocated() && !Send(TVM_GETEDITCONTROL)) {
        const bool ctrl = OnlyKeys(Shift, classlib::ssCtrl);
        HTREEITEM selected = Selected();
        switch (Key) {
        case VK_RETURN:
            if (Shift & classlib::ssAlt) {
                ExecuteVerb(L"properties");
                Key = 0;
            }
            break;
        case VK_MENU:
            // Alt alone does not reach the menu bar from here.
            if (OnlyKeys(Shift, classlib::ssAlt)) Key = 0;
            break;
        case VK_LEFT:
        case VK_RIGHT:
            if (OnlyKeys(Shift, classlib::ssAlt)) {
                HistoryStep(Key == VK_LEFT ? -1 : 1);
                Key = 0;
            } else {
                KeyChangeDelay();
            }
            break;
        case VK_DELETE:
            if (!ReadOnly && selected && Parent(selected)) ExecuteVerb(L"delete");
            break;
        case 'A':
            if (ctrl && link_) link_->NotifySelectAll(this);
            break;
        case 'C':
            if (ctrl) ExecuteVerb(L"copy");
            break;
        case 'V':
            if (ctrl && !ReadOnly && NodeOf(selected)) {
                std::unique_ptr<classlib::TStringList> files = ClipboardFiles();
                bool done = false;
                ++quiet_;
                try {
                    browser_->SetAbsoluteIDList(NodeOf(selected)->Absolute.get());
                    done = browser_->ExecuteCommand(L"paste");
                } catch (const EShFolderObjectError&) {
                    done = false;
                } catch (...) {
                    --quiet_;
                    throw;
                }
                --quiet_;
                if (done) {
                    UpdateContents();
                    DoOperation(OperationBit(sopPaste) | OperationBit(sopAdd), std::move(files), GetSelectedFolder());
                }
            }
            break;
        case 'X':
            if (ctrl && !ReadOnly) ExecuteVerb(L"cut");
            break;
        case VK_F10:
            if (OnlyKeys(Shift, classlib::ssShift) && ShellContextMenu && NodeOf(selected)) {
                RECT r{};
                std::memcpy(&r, &selected, sizeof(selected));
                POINT point{1, 1};
                if (Send(TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) point = POINT{r.right, r.bottom};
                ::ClientToScreen(GetHandle(), &point);
                ShowNodeMenu(selected, point);
                Key = 0;
            }
            break;
        case VK_F2:
        case VK_F5:
        case VK_SPACE:
            break;
        default:
            // Navigation: the linked controls follow once the keys rest.
            KeyChangeDelay();
            break;
        }
    }
    if (Key != 0) classlib::TSystemControl::KeyDown(Key, Shift);
}

void TShellTree::CNNotify(classlib::TMessage& Message)
{
    Message.Result = 0;
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    switch (hdr->code) {
    case TVN_BEGINLABELEDITW: {
        auto* info = reinterpret_cast<NMTVDISPINFOW*>(hdr);
        TNode* node = NodeOf(info->item.hItem);
        bool can = node && node->ParentFolder;
        if (can) {
            browser_->SetAbsoluteIDList(node->Absolute.get());
            can = browser_->CanRename();
        }
        Message.Result = can ? FALSE : TRUE;
        break;
    }
    case TVN_ENDLABELEDITW: {
        auto* info = reinterpret_cast<NMTVDISPINFOW*>(hdr);
        // The tree sets the new text itself, and only after a rename that
        // worked.
        if (info->item.pszText)
            RenameNode(info->item.hItem, info->item.pszText);
        else
            OnEditCanceled(this, info->item.hItem);
        Message.Result = FALSE;
        break;
    }
    case TVN_KEYDOWN: {
        const WORD key = reinterpret_cast<NMTVKEYDOWN*>(hdr)->wVKey;
        if (key == VK_SPACE && Selection()) {
            ToggleCheck(Selected());
            Message.Result = TRUE;
        } else if (key == VK_F5) {
            FullRefresh();
            if (link_) link_->NotifyFullRefresh(this);
        } else if (key == VK_F2 && !ReadOnly && Selected()) {
            Send(TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(Selected()));
        }
        break;
    }
    case NM_CLICK:
    case NM_RCLICK: {
        TVHITTESTINFO hit{};
        ::GetCursorPos(&hit.pt);
        POINT screen = hit.pt;
        ::ScreenToClient(GetHandle(), &hit.pt);
        Send(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (!hit.hItem) break;
        if (hdr->code == NM_CLICK && (hit.flags & TVHT_ONITEMSTATEICON) && Selection()) {
            ToggleCheck(hit.hItem);
            Message.Result = TRUE;
        } else if (hdr->code == NM_RCLICK) {
            // A right click selects the node (also when the menu is not
            // the shell's), and then shows the shell's menu of it.
            if (hit.hItem != Selected()) Send(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(hit.hItem));
            if (ShellContextMenu) {
                ShowNodeMenu(hit.hItem, screen);
                Message.Result = TRUE;
            }
        }
        break;
    }
    case NM_DBLCLK: {
        TVHITTESTINFO hit{};
        ::GetCursorPos(&hit.pt);
        ::ScreenToClient(GetHandle(), &hit.pt);
        Send(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        TNode* node = NodeOf(hit.hItem);
        if ((!OnDblClick || !GetOwner()) && node && GetShowFiles() && !(node->Flags & TNode::fFolder) &&
            hit.hItem == Selected())
            ExecuteVerb(L"default");
        OnDblClick(this);
        break;
    }
    case NM_CUSTOMDRAW: {
        auto* draw = reinterpret_cast<NMTVCUSTOMDRAW*>(hdr);
        Message.Result = classlib::DrawInactiveSelection(GetHandle(), draw->nmcd.dwDrawStage, draw->nmcd.uItemState,
                                                         draw->clrText, draw->clrTextBk);
        if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            auto it = nodes_.find(reinterpret_cast<classlib::TObject*>(draw->nmcd.lItemlParam));
            const COLORREF color = it != nodes_.end() ? AttributeTextColor(it->second->Flags, options_) : CLR_INVALID;
            if (color != CLR_INVALID) {
                draw->clrText = color;
                Message.Result |= CDRF_NEWFONT;
            }
        }
        break;
    }
    case TVN_BEGINDRAGW:
    case TVN_BEGINDRAGA:
    case TVN_BEGINRDRAGW:
    case TVN_BEGINRDRAGA: {
        // The item handle sits at the same place in both character sets.
        const bool right = hdr->code == TVN_BEGINRDRAGW || hdr->code == TVN_BEGINRDRAGA;
        OleDrag(reinterpret_cast<NMTREEVIEWW*>(hdr)->itemNew.hItem, right ? 2 : 1);
        break;
    }
    case TVN_ITEMEXPANDINGW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (!(nm->action & TVE_EXPAND)) break;
        if (!canFill_ && Parent(nm->itemNew.hItem)) {
            Message.Result = TRUE;
            break;
        }
        ReadChildren(nm->itemNew.hItem);
        break;
    }
    case TVN_SELCHANGINGW: {
        // With error messages on, a folder that cannot be opened cannot be
        // selected: the shell says why while trying.
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        TNode* node = NodeOf(nm->itemNew.hItem);
        if (quiet_ || nm->action == TVC_UNKNOWN || !node || !GetShowErrorMessages() || !Parent(nm->itemNew.hItem))
            break;
        if (GetShowFiles() && !(node->Flags & TNode::fFolder)) break;
        bool can = false;
        try {
            browser_->SetAbsoluteIDList(node->Absolute.get());
            can = browser_->OpenObjectAsFolder();
        } catch (...) {
            can = false;
        }
        Message.Result = can ? FALSE : TRUE;
        break;
    }
    case TVN_SELCHANGEDW: {
        if (quiet_) break;
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (changeDelay_ > 0) {
            // Acted on when the timer fires, for the node selected then.
            changeTimer_ = ::SetTimer(GetHandle(), kChangeTimer, changeDelay_, nullptr) != 0;
            if (changeTimer_) break;
        }
        StopChangeTimer();
        Change(nm->itemNew.hItem);
        break;
    }
    case TVN_GETDISPINFOW: {
        auto* info = reinterpret_cast<NMTVDISPINFOW*>(hdr);
        auto* key = reinterpret_cast<classlib::TObject*>(info->item.lParam);
        auto it = nodes_.find(key);
        if (it == nodes_.end()) break;
        if (!it->second->IconAsked && (info->item.mask & (TVIF_IMAGE | TVIF_SELECTEDIMAGE))) {
            FillNode(it->second.get());
            // The handler may have taken the node out.
            it = nodes_.find(key);
            if (it == nodes_.end()) break;
        }
        TNode* node = it->second.get();
        info->item.iImage = node->Image;
        info->item.iSelectedImage = node->OpenImage >= 0 ? node->OpenImage : node->Image;
        break;
    }
    case TVN_DELETEITEMW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        auto* key = reinterpret_cast<classlib::TObject*>(nm->itemOld.lParam);
        auto it = nodes_.find(key);
        if (it == nodes_.end()) break;
        CancelWork(key, this);
        nodes_.erase(it);
        break;
    }
    default: break;
    }
}

// ---- list

namespace {
HBITMAP MakeSortArrow(const wchar_t* Name, bool Up);
}  // namespace

// Receives the finished thumbnails of the list's work items on the main
// thread; forwards nothing once the list has detached it.
class TShellList::TThumbnailSink : public classlib::TComObject<IThumbnailViewer, IID_IThumbnailViewer> {
public:
    explicit TThumbnailSink(TShellList* List) : list_(List) {}
    void STDMETHODCALLTYPE SetThumbnail(classlib::TBitmap* Bitmap, int ImageIndex, classlib::TObject* Item) override
    {
        if (list_)
            list_->SetThumbnail(Bitmap, ImageIndex, Item);
        else
            delete Bitmap;
    }
    void Detach() { list_ = nullptr; }

private:
    ~TThumbnailSink() override = default;
    TShellList* list_;
};

TShellList::TShellList(classlib::TComponent* AOwner)
    : classlib::TListView(AOwner),
      browser_(std::make_unique<TShFolderObject>(nullptr)),
      history_(std::make_unique<TPidlHistory>()),
      dropTarget_(std::make_unique<TDropTarget>(this)),
      dropSource_(std::make_unique<TDropSource>(this)),
      notifier_(std::make_unique<TShellChangeNotifier>(nullptr)),
      refreshTimer_(std::make_unique<classlib::TTimer>(nullptr)),
      fillTimer_(std::make_unique<classlib::TTimer>(nullptr))
{
    browser_->SetShowErrorMessages(false);
    thumbSink_ = new TThumbnailSink(this);
    MakeThumbnailImages();
    SetSmallImages(SmallIcons());
    arrowUp_ = MakeSortArrow(L"TSHELLLIST_LV_ARROWUP", true);
    arrowDown_ = MakeSortArrow(L"TSHELLLIST_LV_ARROWDOWN", false);
    largeIcons_ = std::make_unique<TShSystemImageList>(nullptr);
    largeIcons_->SetSize(si_large);
    SetLargeImages(largeIcons_->GetHandle());
    SetViewStyle(classlib::vsReport);
    SetReadOnly(false);
    SetRowSelect(true);
    SetMultiSelect(true);
    CreateColumns();
    // Every change but associations, attributes, free space, server
    // disconnections and image lists. Recursive: a flat watch reports only
    // the folder itself on some platforms, never the files in it.
    notifier_->SetEventFilter(AllNotificationEvents & ~(NotificationBit(neAssociationChange) |
                                                        NotificationBit(neAttributesChange) |
                                                        NotificationBit(neDriveSpaceChange) |
                                                        NotificationBit(neServerDisconnect) |
                                                        NotificationBit(neImageListChange)));
    notifier_->OnChange = TShellNotifierEvent(this, &TShellList::ShellChanged);
    refreshTimer_->SetEnabled(false);
    refreshTimer_->SetInterval(300);
    refreshTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TShellList::RefreshTimer));
    fillTimer_->SetEnabled(false);
    fillTimer_->SetInterval(1);
    fillTimer_->SetOnTimer(classlib::TNotifyEvent(this, &TShellList::FillStep));
}

TShellList::~TShellList()
{
    Revoke();
    if (backgroundImage_) backgroundImage_->OnChange.Clear();
    DeleteBackgroundFile();
    checkImages_.reset();
    DetachIcons();
    notifier_->SetEnabled(false);
    notifier_->OnChange = nullptr;
    refreshTimer_->SetEnabled(false);
    fillTimer_->SetEnabled(false);
    SetShellLink(nullptr);
    DropAllWork();
    thumbSink_->Detach();
    thumbSink_->Release();
    SetLargeImages(nullptr);
    if (thumbImages_) ::ImageList_Destroy(thumbImages_);
    UnhookHeader();
    if (arrowUp_) ::DeleteObject(arrowUp_);
    if (arrowDown_) ::DeleteObject(arrowDown_);
}

TShellListItem* TShellList::ShellItem(const classlib::TListItem* Item)
{
    return Item ? static_cast<TShellListItem*>(Item->Data) : nullptr;
}

std::wstring TShellList::KeyOf(const classlib::TListItem* Item)
{
    const TShellListItem* record = ShellItem(Item);
    return record && !record->ObjectName.empty() ? record->ObjectName : Item->GetCaption();
}

void TShellList::DropAllWork()
{
    // One pass for everything queued or running for the list's items.
    CancelWork(nullptr, this);
    for (auto& [key, record] : records_) record->Item->Data = nullptr;
    records_.clear();
}

void TShellList::DeleteItem(int Index)
{
    classlib::TListItem* item = GetItems()->GetItem(Index);
    TShellListItem* record = ShellItem(item);
    if (record) CancelWork(record, this);
    GetItems()->Delete(Index);
    if (record) records_.erase(record);
}

void TShellList::MakeThumbnailImages()
{
    HIMAGELIST old = thumbImages_;
    thumbImages_ = ::ImageList_Create(thumbWidth_, thumbHeight_, ILC_COLOR24, 0, 32);
    if (thumbnails_) SetLargeImages(thumbImages_);
    if (old) ::ImageList_Destroy(old);
}

void TShellList::SetThumbnails(bool Value)
{
    if (Value == thumbnails_) return;
    thumbnails_ = Value;
    SetLargeImages(Value ? thumbImages_ : largeIcons_->GetHandle());
    if (Value) {
        settingThumbnails_ = true;
        SetViewStyle(classlib::vsIcon);
        settingThumbnails_ = false;
    }
    Populate();
}

void TShellList::SetViewStyle(classlib::TViewStyle Value)
{
    if (Value == GetViewStyle()) return;
    const bool leave = thumbnails_ && !settingThumbnails_;
    if (leave) {
        thumbnails_ = false;
        SetLargeImages(largeIcons_->GetHandle());
    }
    classlib::TListView::SetViewStyle(Value);
    if (leave) Populate();
    ShowSortArrow();
}

void TShellList::RemakeThumbnails()
{
    if (settingThumbnail_) return;
    MakeThumbnailImages();
    if (!thumbnails_) return;
    // The pictures in the old list are gone: every item asks again.
    CancelWork(nullptr, this);
    classlib::TListItems* items = GetItems();
    items->BeginUpdate();
    for (int i = 0; i < items->GetCount(); ++i) {
        TShellListItem* record = ShellItem(items->GetItem(i));
        if (!record) continue;
        record->IconAsked = false;
        items->GetItem(i)->SetImageIndex(-1);
    }
    items->EndUpdate();
    if (HandleAllocated()) SendToWindow(LVM_ARRANGE, LVA_DEFAULT, 0);
}

void TShellList::SetThumbnailSize(int Width, int Height)
{
    if (Width <= 0 || Height <= 0 || (Width == thumbWidth_ && Height == thumbHeight_)) return;
    thumbWidth_ = Width;
    thumbHeight_ = Height;
    RemakeThumbnails();
}

void TShellList::SetThumbnailBorderColor(classlib::TColor Value)
{
    if (Value == thumbBorder_) return;
    thumbBorder_ = Value;
    RemakeThumbnails();
}

namespace {

// A picture of Width x Height over the window colour with Source (when
// given) fitted into it keeping its proportions, and a frame of Border;
// the caller owns the handle.
HBITMAP FramedPicture(HBITMAP Source, int Width, int Height, COLORREF Border)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = -Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HBITMAP result = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    if (!result) return nullptr;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ oldResult = ::SelectObject(dc, result);
    RECT all{0, 0, Width, Height};
    ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_WINDOW));
    BITMAP src{};
    if (Source && ::GetObjectW(Source, sizeof(src), &src) && src.bmWidth > 0 && src.bmHeight > 0) {
        // Scaled down to fit inside the frame, never up.
        const int room = 2;
        const double scale = std::min({1.0, double(Width - 2 * room) / src.bmWidth, double(Height - 2 * room) / src.bmHeight});
        const int w = std::max(1, int(src.bmWidth * scale)), h = std::max(1, int(src.bmHeight * scale));
        HDC from = ::CreateCompatibleDC(nullptr);
        HGDIOBJ oldFrom = ::SelectObject(from, Source);
        ::SetStretchBltMode(dc, HALFTONE);
        ::StretchBlt(dc, (Width - w) / 2, (Height - h) / 2, w, h, from, 0, 0, src.bmWidth, src.bmHeight, SRCCOPY);
        ::SelectObject(from, oldFrom);
        ::DeleteDC(from);
    }
    HBRUSH frame = ::CreateSolidBrush(Border);
    ::FrameRect(dc, &all, frame);
    ::DeleteObject(frame);
    ::SelectObject(dc, oldResult);
    ::DeleteDC(dc);
    return result;
}

}  // namespace

int TShellList::AddPlaceholder(const TShellListItem* Record)
{
    int icon = Record->IsFolder() ? GetIconIndexOfFolder(false)
                                  : GetExtensionIconIndex(classlib::ExtractFileExt(Record->ObjectName), si_large, false);
    HBITMAP picture = FramedPicture(nullptr, thumbWidth_, thumbHeight_, classlib::ColorToRGB(thumbBorder_));
    if (!picture) return -1;
    if (icon >= 0) {
        HIMAGELIST large = nullptr;
        SHFILEINFOW info{};
        large = reinterpret_cast<HIMAGELIST>(
            ::SHGetFileInfoW(L"x", FILE_ATTRIBUTE_NORMAL, &info, sizeof(info), SHGFI_SYSICONINDEX | SHGFI_LARGEICON | SHGFI_USEFILEATTRIBUTES));
        int w = 32, h = 32;
        if (large) ::ImageList_GetIconSize(large, &w, &h);
        HDC dc = ::CreateCompatibleDC(nullptr);
        HGDIOBJ old = ::SelectObject(dc, picture);
        if (large) ::ImageList_Draw(large, icon, dc, (thumbWidth_ - w) / 2, (thumbHeight_ - h) / 2, ILD_TRANSPARENT);
        ::SelectObject(dc, old);
        ::DeleteDC(dc);
    }
    auto placeholder = std::make_unique<classlib::TBitmap>();
    placeholder->SetHandle(picture);
    const int index = ::ImageList_Add(thumbImages_, placeholder->GetHandle(), nullptr);
    // The handler may draw on the placeholder too.
    if (index >= 0 && OnThumbnailUpdated) {
        TFlagScope setting(settingThumbnail_);
        OnThumbnailUpdated(this, index, placeholder.get());
        ::ImageList_Replace(thumbImages_, index, placeholder->GetHandle(), nullptr);
    }
    return index;
}

void TShellList::QueueThumbnail(TShellListItem* Record, int ImageIndex)
{
    if (!Record->Pidl || !browser_->FolderIDList()) return;
    TPidl absolute = PidlCombine(browser_->FolderIDList(), Record->Pidl.get());
    ShellWorkPool()->AddWorkItem(new TThumbnailWorkItem(absolute.get(), true, this, Record, ImageIndex, thumbSink_,
                                                        thumbHeight_, thumbWidth_));
}

void TShellList::SetThumbnail(classlib::TBitmap* Bitmap, int ImageIndex, classlib::TObject* Tag)
{
    std::unique_ptr<classlib::TBitmap> owned(Bitmap);
    // Only indexes of images that exist: the count itself is one too far.
    if (!Bitmap || !thumbImages_ || ImageIndex < 0 || ImageIndex >= ::ImageList_GetImageCount(thumbImages_)) return;
    auto it = records_.find(Tag);
    if (it == records_.end() || it->second->Item->GetImageIndex() != ImageIndex) return;
    HBITMAP picture = FramedPicture(Bitmap->GetHandle(), thumbWidth_, thumbHeight_, classlib::ColorToRGB(thumbBorder_));
    if (!picture) return;
    auto framed = std::make_unique<classlib::TBitmap>();
    framed->SetHandle(picture);
    {
        TFlagScope setting(settingThumbnail_);
        OnThumbnailUpdated(this, ImageIndex, framed.get());
        ::ImageList_Replace(thumbImages_, ImageIndex, framed->GetHandle(), nullptr);
    }
    const int row = GetItems()->IndexOf(it->second->Item);
    if (HandleAllocated() && row >= 0) SendToWindow(LVM_REDRAWITEMS, static_cast<WPARAM>(row), static_cast<LPARAM>(row));
}

int TShellList::ItemImageIndex(classlib::TListItem* Item)
{
    FillDetails(Item);
    TShellListItem* record = ShellItem(Item);
    if (thumbnails_) {
        if (record && !record->IconAsked) {
            record->IconAsked = true;
            const int index = AddPlaceholder(record);
            Item->SetImageIndex(index);
            if (index >= 0 && !record->IsParentFolder()) QueueThumbnail(record, index);
        }
        return Item->GetImageIndex();
    }
    if (record && !record->IconAsked && record->Pidl && browser_->FolderIDList()) {
        record->IconAsked = true;
        // The icon of its kind at once (a plain folder's, or that of the
        // file's extension); the object's own follows from the work pool.
        if (Item->GetImageIndex() < 0 && (record->IsFolder() || !record->ObjectName.empty()))
            Item->SetImageIndex(record->IsFolder()
                                    ? GetIconIndexOfFolder(false)
                                    : GetExtensionIconIndex(classlib::ExtractFileExt(record->ObjectName), si_small, false));
        QueueIcon(this, record, PidlCombine(browser_->FolderIDList(), record->Pidl.get()), 0);
        if (showOverlayIcons_) QueueIcon(this, record, PidlCombine(browser_->FolderIDList(), record->Pidl.get()), 1);
        OnGetImageIndex(this, Item);
    }
    return Item->GetImageIndex();
}

void TShellList::IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag)
{
    // An item that left the list (its work cancelled) is not looked at.
    auto it = records_.find(Tag);
    if (it == records_.end()) return;
    SelectDroppedNames();
    if (IconIndex < 0) return;
    if (Kind == 1) {
        if (it->second->Overlay == IconIndex) return;
        it->second->Overlay = IconIndex;
        ShowItemState(it->second.get());
        return;
    }
    if (Kind == 0) it->second->Item->SetImageIndex(IconIndex);
}

void TShellList::CreateParams(classlib::TCreateParams& Params)
{
    classlib::TListView::CreateParams(Params);
    Params.Style |= LVS_AUTOARRANGE;
}

void TShellList::CreateHandleDone()
{
    classlib::TListView::CreateHandleDone();
    Register();
    HookHeader();
    ShowSortArrow();
    if (!windowCreated_) {
        windowCreated_ = true;
        browser_->SetDialogOwner(this);
        if (useSystemStyles_) ApplyExplorerStyle(TListViewWindow{GetHandle()});
    }
    if (backgroundImage_) ApplyBackgroundImage();
}

void TShellList::Loaded()
{
    classlib::TListView::Loaded();
    if (useSystemFont_) GetIconTitleFont(*GetFont());
    std::wstring pending;
    pending.swap(pendingPath_);
    if (GetItems()->GetCount() != 0) return;
    try {
        if (!GetOption(soNoFillOnStartup)) {
            if (!pending.empty())
                SetPath(pending);
            else
                Populate();
        } else if (!pending.empty()) {
            // Not filled, but Path keeps answering the folder given.
            browser_->SetFolder(pending);
            AfterFolderChange();
        }
    } catch (const EShFolderObjectError&) {
        // A folder that cannot be parsed leaves the list empty; the form
        // loads on.
    }
}

void TShellList::SetUseSystemFont(bool Value)
{
    useSystemFont_ = Value;
    if (Value) GetIconTitleFont(*GetFont());
}

void TShellList::SetShowOverlayIcons(bool Value)
{
    if (Value == showOverlayIcons_) return;
    showOverlayIcons_ = Value;
    Populate();
}

void TShellList::ShowItemState(TShellListItem* Record)
{
    if (!HandleAllocated()) return;
    const int row = GetItems()->IndexOf(Record->Item);
    if (row < 0) return;
    LVITEMW lv{};
    lv.stateMask = LVIS_OVERLAYMASK | LVIS_CUT;
    // The window has room for overlays 1 to 15.
    if (Record->Overlay >= 0 && Record->Overlay < 15) lv.state = INDEXTOOVERLAYMASK(Record->Overlay + 1);
    if (Record->Dimmed) lv.state |= LVIS_CUT;
    SendToWindow(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&lv));
}

std::wstring TShellList::GetPath() const
{
    if (Loading() && !pendingPath_.empty()) return pendingPath_;
    return browser_->ShellFolder() ? browser_->GetFolder() : std::wstring();
}

LPCITEMIDLIST TShellList::FolderPidl()
{
    if (!folderPidl_ && browser_->FolderIDList()) folderPidl_ = browser_->GetFolderIDList();
    return folderPidl_.get();
}

void TShellList::SetPath(const std::wstring& Value)
{
    if (Loading()) {
        // Shown once the form has loaded (Loaded).
        pendingPath_ = Value;
        DropAllWork();
        GetItems()->Clear();
        return;
    }
    const std::wstring current = GetPath();
    if (!current.empty() && SamePath(Value, current) && GetItems()->GetCount() > 1) return;
    browser_->SetFolder(Value);  // EShFolderObjectError when it cannot be parsed
    AfterFolderChange();
    Populate();
}

TShellFolder TShellList::GetSpecialFolder() const
{
    const TShellFolder sf = browser_->GetSpecialFolder();
    return sf == SF_DRIVES && !GetPath().empty() ? SF_FILESYSTEMFOLDER : sf;
}

void TShellList::SetSpecialFolder(TShellFolder Value)
{
    if (Value != SF_FILESYSTEMFOLDER) {
        browser_->SetSpecialFolder(Value);
        // A special folder set after a path (as a form stores them) wins.
        pendingPath_.clear();
    }
    AfterFolderChange();
    Populate();
}

void TShellList::OpenFolderPidl(LPCITEMIDLIST Pidl)
{
    if (!Pidl) return;
    TPidl copy = PidlClone(Pidl);  // Pidl may be the history's own entry
    browser_->SetFolderIDList(copy.get());
    AfterFolderChange();
    Populate();
}

void TShellList::AfterFolderChange()
{
    SetSelected(nullptr);
    reselect_.clear();
    folderPidl_.reset();
    if (!navigatingHistory_) history_->Push(browser_->GetFolderIDList());
    if (link_ && browser_->FolderIDList() && !Loading()) {
        TPidl copy = browser_->GetFolderIDList();
        link_->NotifyFolderChanged(this, copy.get());
    }
}

void TShellList::HistoryStep(int Count)
{
    navigatingHistory_ = true;
    try {
        if (Count <= 0)
            history_->Back(-Count);
        else
            history_->Forward(Count);
        OpenFolderPidl(history_->Current());
    } catch (...) {
        navigatingHistory_ = false;
        throw;
    }
    navigatingHistory_ = false;
}

std::wstring TShellList::GetFilter() const { return browser_->GetFilter(); }

void TShellList::SetFilter(const std::wstring& Value)
{
    if (Value == browser_->GetFilter()) return;
    browser_->SetFilter(Value);
    Populate();
}

void TShellList::SetShowFolders(bool Value)
{
    if (showFolders_ == Value) return;
    showFolders_ = Value;
    Populate();
}

void TShellList::SetShowParentFolder(bool Value)
{
    if (showParentFolder_ == Value) return;
    showParentFolder_ = Value;
    Populate();
}

bool TShellList::GetFileSystemOnly() const { return browser_->GetFileSystemOnly(); }

void TShellList::SetFileSystemOnly(bool Value)
{
    if (Value == browser_->GetFileSystemOnly()) return;
    browser_->SetFileSystemOnly(Value);
    Populate();
}

void TShellList::SetShellOptions(ShellOptions Value)
{
    options_ = Value;
    browser_->SetShowErrorMessages((Value & soShowErrorMessages) != 0);
    browser_->SetShowContextMenuOnTop((Value & soShowContextMenuOnTop) != 0);
    if ((Value & soNoFillOnStartup) && !windowCreated_) return;
    Populate();
}

void TShellList::SetOption(TShellOption Option, bool Value)
{
    const ShellOptions next = static_cast<ShellOptions>(Value ? options_ | Option : options_ & ~Option);
    if (next != options_) SetShellOptions(next);
}

void TShellList::SetDetails(bool Value)
{
    if (details_ == Value) return;
    details_ = Value;
    Populate();
}

void TShellList::CreateColumns()
{
    classlib::TListColumns* columns = GetColumns();
    // The widths the columns have now belong to the kind of folder they
    // were made for.
    for (int i = 0; i < columns->GetCount() && i < MaxDetailColumns; ++i)
        columnWidths_[std::size_t(columnFolder_) * MaxDetailColumns + std::size_t(i)] = columns->GetItem(i)->GetWidth();
    columnFolder_ = browser_->ShellFolder() ? browser_->GetSpecialFolder() : SF_FILESYSTEMFOLDER;
    const std::vector<TDetailColumn> details = ReadDetailColumns(
        [&](int Detail) { return browser_->GetDetail(Detail, true); },
        [&](int Detail, int& Width) { return browser_->GetDetailsOf(Detail, Width); }, details_);
    BeginUpdate();
    columns->Clear();
    std::fill(columnDetail_.begin(), columnDetail_.end(), -1);
    for (const TDetailColumn& d : details) {
        const int index = columns->GetCount();
        classlib::TListColumn* c = columns->Add();
        c->SetCaption(d.Title);
        c->SetAlignment(d.Alignment);
        const int saved = columnWidths_[std::size_t(columnFolder_) * MaxDetailColumns + std::size_t(index)];
        c->SetWidth(saved >= 1 && index <= 254 ? saved : d.Width);
        columnDetail_[std::size_t(index)] = d.Detail;
    }
    EndUpdate();
    detailColumnCount_ = columns->GetCount();
    OnCreateColumns(this);
}

int TShellList::GetColumnDetail(int Column) const
{
    return Column >= 0 && Column < detailColumnCount_ && Column < MaxDetailColumns ? columnDetail_[std::size_t(Column)] : -1;
}

void TShellList::FillDetails(classlib::TListItem* Item)
{
    TShellListItem* record = ShellItem(Item);
    if (!details_ || GetViewStyle() != classlib::vsReport || !record || record->IsParentFolder() || !record->Pidl ||
        Item->GetSubItems()->GetCount() > 0 || !browser_->ShellFolder())
        return;
    browser_->SetObjectIDList(record->Pidl.get());
    auto texts = std::make_unique<classlib::TStringList>();
    for (int c = 1; c < detailColumnCount_; ++c) texts->Add(browser_->GetDetail(columnDetail_[std::size_t(c)], false));
    Item->SetSubItems(texts.get());
}

void TShellList::FillItem(classlib::TListItem* Item)
{
    if (Item) ItemImageIndex(Item);
}

bool TShellList::SortsByShell() const
{
    return sortColumn_ < detailColumnCount_ && !OnCompare && browser_->ShellFolder();
}

void TShellList::SortPending()
{
    if (sortColumn_ >= GetColumns()->GetCount()) sortColumn_ = 0;
    // Sorts by text need the items: they are sorted once all are in.
    if (!SortsByShell()) return;
    std::vector<LPCITEMIDLIST> pidls;
    pidls.reserve(pending_.size());
    for (const TFolderEntry& e : pending_) pidls.push_back(e.Pidl.get());
    const std::vector<int> order =
        OrderObjects(browser_->ShellFolder(), GetColumnDetail(sortColumn_), pidls, sortDescending_);
    std::vector<TFolderEntry> sorted;
    sorted.reserve(pending_.size());
    for (int i : order) sorted.push_back(std::move(pending_[std::size_t(i)]));
    pending_ = std::move(sorted);
}

void TShellList::SortItems()
{
    classlib::TListItems* items = GetItems();
    if (sortColumn_ >= GetColumns()->GetCount()) sortColumn_ = 0;
    // The " .. " item leads whatever the direction.
    std::vector<int> parents, others;
    for (int i = 0; i < items->GetCount(); ++i) {
        const TShellListItem* record = ShellItem(items->GetItem(i));
        (record && record->IsParentFolder() ? parents : others).push_back(i);
    }
    std::vector<int> order;
    if (SortsByShell()) {
        std::vector<LPCITEMIDLIST> pidls;
        for (int i : others) {
            const TShellListItem* record = ShellItem(items->GetItem(i));
            pidls.push_back(record ? record->Pidl.get() : nullptr);
        }
        for (int i : OrderObjects(browser_->ShellFolder(), GetColumnDetail(sortColumn_), pidls, sortDescending_))
            order.push_back(others[std::size_t(i)]);
    } else {
        const int column = sortColumn_;
        const bool bySubItem = column > 0 && GetViewStyle() == classlib::vsReport;
        if (bySubItem)
            for (int i : others) FillDetails(items->GetItem(i));
        const int factor = sortDescending_ ? -1 : 1;
        order = others;
        auto alive = AliveToken();
        SafeStableSort(order, [&](int a, int b) {
            // A handler that freed the list ends the comparisons.
            if (!*alive) return 0;
            classlib::TListItem* ia = items->GetItem(a);
            classlib::TListItem* ib = items->GetItem(b);
            int c = 0;
            if (bySubItem) {
                classlib::TStrings* sa = ia->GetSubItems();
                classlib::TStrings* sb = ib->GetSubItems();
                c = CompareText(column - 1 < sa->GetCount() ? sa->GetStrings(column - 1) : std::wstring(),
                                column - 1 < sb->GetCount() ? sb->GetStrings(column - 1) : std::wstring());
            } else {
                c = CompareNatural(ia->GetCaption(), ib->GetCaption());
            }
            c = (c < 0 ? -1 : c > 0 ? 1 : 0) * factor;
            OnCompare(this, ia, ib, column, c);
            return c;
        });
        if (!*alive) return;
    }
    order.insert(order.begin(), parents.begin(), parents.end());
    items->Rearrange(order);
    ShowSortArrow();
}

void TShellList::SortBy(int Column, bool Descending)
{
    sortColumn_ = Column >= 0 && Column < GetColumns()->GetCount() ? Column : 0;
    sortDescending_ = Descending;
    // A fill in progress starts again in the new order.
    if (reading_ || fillTimer_->GetEnabled())
        Populate();
    else
        SortItems();
}

namespace {

bool ThemesActive() { return ::IsThemeActive() && ::IsAppThemed(); }

// The picture of a sort arrow: the program's bitmap resource Name when it
// has one (its transparent colour, the bottom-left pixel, left out), else
// a small triangle, over the face colour of buttons (with visual themes the
// fill colour of the toolbar's separators). The caller owns the handle.
HBITMAP MakeSortArrow(const wchar_t* Name, bool Up)
{
    COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    if (ThemesActive()) {
        constexpr int kToolbarSeparator = 5;
        if (HTHEME theme = ::OpenThemeData(nullptr, L"TOOLBAR")) {
            COLORREF c = 0;
            if (SUCCEEDED(::GetThemeColor(theme, kToolbarSeparator, 0, TMT_FILLCOLOR, &c))) face = c;
            ::CloseThemeData(theme);
        }
    }
    classlib::TOwnedBitmap resource(static_cast<HBITMAP>(
        ::LoadImageW(::GetModuleHandleW(nullptr), Name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP info{};
    int w = 8, h = 8;
    if (resource && ::GetObjectW(resource.Get(), sizeof(info), &info) && info.bmWidth > 0 && info.bmHeight > 0) {
        w = info.bmWidth;
        h = info.bmHeight;
    }
    classlib::TScreenDC screen;
    HBITMAP result = ::CreateCompatibleBitmap(screen.Get(), w, h);
    if (!result) return nullptr;
    classlib::TMemoryDC dc(result);
    RECT all{0, 0, w, h};
    classlib::TOwnedBrush brush(::CreateSolidBrush(face));
    ::FillRect(dc.Get(), &all, static_cast<HBRUSH>(brush.Get()));
    if (resource) {
        classlib::TMemoryDC from(resource.Get());
        const COLORREF transparent = ::GetPixel(from.Get(), 0, h - 1);
        for (int y = 0; y < std::min(h, 8); ++y)
            for (int x = 0; x < std::min(w, 8); ++x) {
                const COLORREF c = ::GetPixel(from.Get(), x, y);
                if (c != transparent) ::SetPixel(dc.Get(), x, y, c);
            }
    } else {
        // Rows of 7, 5, 3 and 1 pixels: the point up or down.
        const COLORREF ink = ::GetSysColor(COLOR_BTNSHADOW);
        for (int row = 0; row < 4; ++row) {
            const int y = Up ? 5 - row : 2 + row;
            for (int x = row; x < 7 - row; ++x) ::SetPixel(dc.Get(), x, y, ink);
        }
    }
    return result;
}

}  // namespace

void TShellList::ShowSortArrow()
{
    if (!HandleAllocated()) return;
    auto header = reinterpret_cast<HWND>(SendToWindow(LVM_GETHEADER, 0, 0));
    if (header) MarkSortColumn(header, sortColumn_, sortDescending_, ThemesActive(), arrowUp_, arrowDown_);
}

void MarkSortColumn(HWND Header, int Column, bool Descending, bool Themed, HBITMAP ArrowUp, HBITMAP ArrowDown)
{
    const int count = static_cast<int>(::SendMessageW(Header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        HDITEMW hd{};
        hd.mask = HDI_FORMAT;
        if (!::SendMessageW(Header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd))) continue;
        hd.mask = HDI_FORMAT | HDI_BITMAP;
        hd.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN | HDF_BITMAP | HDF_BITMAP_ON_RIGHT);
        hd.hbm = nullptr;
        if (i == Column && Themed) {
            hd.fmt |= Descending ? HDF_SORTDOWN : HDF_SORTUP;
        } else if (i == Column) {
            hd.fmt |= HDF_BITMAP | HDF_BITMAP_ON_RIGHT;
            hd.hbm = Descending ? ArrowDown : ArrowUp;
        }
        ::SendMessageW(Header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd));
    }
}

LRESULT CALLBACK TShellList::HeaderProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR, DWORD_PTR Data)
{
    auto* list = reinterpret_cast<TShellList*>(Data);
    if (Msg == WM_NCDESTROY) {
        list->UnhookHeader();
        return ::DefSubclassProc(Wnd, Msg, WParam, LParam);
    }
    const LRESULT result = ::DefSubclassProc(Wnd, Msg, WParam, LParam);
    // The end of a column drag or resize.
    if (Msg == WM_CAPTURECHANGED) {
        try {
            list->ShowSortArrow();
        } catch (...) {
            if (classlib::Application) classlib::Application->HandleException(nullptr);
        }
    }
    return result;
}

void TShellList::HookHeader()
{
    UnhookHeader();
    if (!HandleAllocated()) return;
    auto header = reinterpret_cast<HWND>(SendToWindow(LVM_GETHEADER, 0, 0));
    if (header && ::SetWindowSubclass(header, &TShellList::HeaderProc, reinterpret_cast<UINT_PTR>(this),
                                      reinterpret_cast<DWORD_PTR>(this)))
        headerWindow_ = header;
}

void TShellList::UnhookHeader()
{
    if (!headerWindow_) return;
    ::RemoveWindowSubclass(headerWindow_, &TShellList::HeaderProc, reinterpret_cast<UINT_PTR>(this));
    headerWindow_ = nullptr;
}

bool TShellList::MakeEntry(TFolderEntry& Entry)
{
    const bool folder = browser_->IsFolder();
    if (folder && !showFolders_) return false;
    if (!IsShownObject(*browser_, options_)) return false;
    const WIN32_FIND_DATAW& fd = browser_->GetFindData();
    Entry.ObjectName = fd.cFileName;
    Entry.Name = ObjectDisplayName(folder, Entry.ObjectName);
    Entry.Folder = folder;
    Entry.Size = (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    Entry.Modified = fd.ftLastWriteTime;
    Entry.Flags = static_cast<std::uint8_t>((folder ? TShellListItem::fFolder : 0) |
                                            ((fd.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) ? TShellListItem::fCompressed : 0) |
                                            ((fd.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) ? TShellListItem::fEncrypted : 0));
    Entry.Dimmed = browser_->GetAttributes(SFGAO_HIDDEN | SFGAO_GHOSTED) != 0;
    Entry.Pidl = std::shared_ptr<ITEMIDLIST>(browser_->GetObjectIDList().release(), TPidlFree());
    return Entry.Pidl != nullptr;
}

std::wstring TShellList::ObjectDisplayName(bool Folder, const std::wstring& FileName)
{
    if (Folder || FileName.empty() || !namesByRule_) return browser_->GetDisplayName();
    const std::wstring ext = classlib::ExtractFileExt(FileName);
    const std::wstring key = TntWideUpperCase(ext);
    auto it = nameRules_.find(key);
    if (it != nameRules_.end()) {
        if (it->second == 0) return FileName;
        if (it->second == 1) return FileName.substr(0, FileName.size() - ext.size());
        return browser_->GetDisplayName();
    }
    std::wstring name = browser_->GetDisplayName();
    int rule = 2;  // neither: asked for every file of the extension
    if (name == FileName)
        rule = 0;
    else if (!ext.empty() && name == FileName.substr(0, FileName.size() - ext.size()))
        rule = 1;
    nameRules_.emplace(key, rule);
    return name;
}

std::unique_ptr<TShellListItem> TShellList::NewRecord()
{
    return MakeOfClass<TShellListItem>(
        OnCreateItemClass, this,
        L"Internal Error: TShellList.OnCreateNodeClass.ItemClass must inherit from TShellListItem.");
}

classlib::TListItem* TShellList::AddEntry(const TFolderEntry& Entry)
{
    // Made first: a maker that fails adds no item.
    auto record = NewRecord();
    classlib::TListItems* items = GetItems();
    classlib::TListItem* item = items->Add();
    record->Item = item;
    record->Pidl = PidlClone(Entry.Pidl.get());
    record->ObjectName = Entry.ObjectName;
    record->Flags = Entry.Flags;
    item->Data = record.get();
    TShellListItem* raw = record.get();
    records_.emplace(raw, std::move(record));
    item->SetCaption(Entry.Name);
    item->SetStateIndex(CheckState(item));
    if (showOverlayIcons_ && Entry.Dimmed) {
        raw->Dimmed = true;
        ShowItemState(raw);
    }
    if (OnAddItem) {
        // The handler may choose by the detail texts: they are read now.
        FillDetails(item);
        bool canAdd = true;
        OnAddItem(raw, canAdd);
        if (!canAdd) {
            DeleteItem(items->IndexOf(item));
            return nullptr;
        }
    }
    return item;
}

void TShellList::AddParentItem()
{
    if (link_ && !link_->GetParentAllowed()) return;
    if (!browser_->ShellFolder() || browser_->GetSpecialFolder() == SF_DESKTOP) return;
    auto record = NewRecord();
    classlib::TListItem* item = GetItems()->Insert(0);
    record->Item = item;
    record->Flags = TShellListItem::fParent | TShellListItem::fFolder;
    // With thumbnails the item gets a framed folder picture of its own in
    // the thumbnail list when first drawn (an icon index means nothing
    // there).
    record->IconAsked = !thumbnails_;
    item->Data = record.get();
    TShellListItem* raw = record.get();
    records_.emplace(raw, std::move(record));
    item->SetCaption(L" .. ");
    item->SetImageIndex(thumbnails_ ? -1 : GetIconIndexOfFolder(false));
    item->SetStateIndex(CheckState(item));  // a box that cannot be checked
}

namespace {

// Objects read per step of a fill, at most this many milliseconds; the
// items added per step (about 50 ms of list-view work under Wine).
constexpr DWORD kReadStepMs = 40;
constexpr int kReadAtOnce = 64;
constexpr std::size_t kFillStep = 300;

}  // namespace

int TShellList::CheckState(classlib::TListItem* Item) const
{
    if (!checkboxes_ || !link_ || !link_->GetSelectionList()) return -1;
    const TShellListItem* record = ShellItem(Item);
    if (!record || record->IsParentFolder() || !record->Pidl) return ssNone;
    // By the object's absolute list: virtual folders (My Computer, the
    // network) show grey when something below them is checked.
    TPidl absolute = PidlCombine(browser_->FolderIDList(), record->Pidl.get());
    bool byParent = false;
    return link_->GetSelectionList()->GetStateOfPidl(absolute.get(), byParent);
}

void TShellList::ColClick(classlib::TListColumn* Column)
{
    const int column = Column->GetIndex();
    SortBy(column, column == sortColumn_ && !sortDescending_);
    classlib::TListView::ColClick(Column);
}

void TShellList::SetCheckboxes(bool Value)
{
    // Without a link there is no selection list to keep the checks. A form
    // that is loading may give the link after the boxes.
    if (Value && !Loading() && (!link_ || !link_->GetSelectionList())) Value = false;
    if (Value == checkboxes_) return;
    checkboxes_ = Value;
    if (Value && !checkImages_) checkImages_ = std::make_unique<TShSelectionStateImageList>(nullptr);
    SetStateImages(Value ? checkImages_->GetHandle() : nullptr);
    if (!Value) checkImages_.reset();
    Populate();
}

void TShellList::ToggleCheck(int Index)
{
    if (!checkboxes_ || !link_ || Index < 0 || Index >= GetItems()->GetCount()) return;
    TShSelectionList* selection = link_->GetSelectionList();
    if (!selection) return;
    classlib::TListItem* item = GetItems()->GetItem(Index);
    const TShellListItem* record = ShellItem(item);
    const int state = CheckState(item);
    if (!record || !record->Pidl || state == ssNone || state == ssUnused) return;
    TPidl absolute = PidlCombine(browser_->FolderIDList(), record->Pidl.get());
    filling_ = true;
    selection->BeginUpdate();
    if (state == ssChecked)
        selection->UncheckPidl(absolute.get());
    else
        selection->CheckPidl(absolute.get());
    const int now = CheckState(item);
    item->SetStateIndex(now);
    selection->EndUpdate();
    filling_ = false;
    OnCheckStateChanged(this, Index, GetItemPath(item), static_cast<TShSelectionState>(now));
}

void TShellList::SetAutomaticRefresh(bool Value)
{
    automaticRefresh_ = Value;
    if (!Value) refreshTimer_->SetEnabled(false);
    WatchFolder();
}

void TShellList::WatchFolder()
{
    notifier_->SetEnabled(false);
    notifier_->GetDirectories()->Clear();
    notifier_->SetRootPidl(nullptr);
    if (!automaticRefresh_ || !browser_->ShellFolder()) return;
    const std::wstring path = GetPath();
    if (!path.empty())
        notifier_->GetDirectories()->Add(WithoutBackslash(path));
    else
        notifier_->SetRootPidl(FolderPidl());
    notifier_->SetEnabled(true);
}

int TShellList::IndexOfObject(const std::wstring& ObjectName) const
{
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        const TShellListItem* record = ShellItem(items->GetItem(i));
        if (record && !record->IsParentFolder() && SamePath(KeyOf(items->GetItem(i)), ObjectName)) return i;
    }
    return -1;
}

void TShellList::Populate()
{
    // The form fills the list once it has loaded (Loaded).
    if (Loading() || !GetEnabled()) return;
    // A maker of the wrong class raises before the list changes.
    NewRecord();
    THourglass hourglass;
    classlib::TListItems* items = GetItems();
    // A fill still in progress hands on the names it was to select again.
    std::vector<std::wstring> selected = reading_ || fillTimer_->GetEnabled() ? reselect_ : std::vector<std::wstring>();
    for (int i = 0; i < items->GetCount(); ++i)
        if (items->GetItem(i)->GetSelected()) selected.push_back(KeyOf(items->GetItem(i)));
    notifier_->SetEnabled(false);
    refreshTimer_->SetEnabled(false);
    fillTimer_->SetEnabled(false);
    OnBeforeFullRefresh(this);
    filling_ = true;
    reselect_ = std::move(selected);
    DropAllWork();
    items->Clear();
    if (thumbImages_) ::ImageList_RemoveAll(thumbImages_);
    folderPidl_.reset();
    if (GetViewStyle() == classlib::vsReport)
        CreateColumns();
    else
        detailColumnCount_ = 1;
    pending_.clear();
    pendingNext_ = 0;
    sorting_ = false;
    reading_ = browser_->ShellFolder() != nullptr;
    // A folder whose desktop.ini may give files names of their own has
    // every name asked; the shell's settings are read again at each fill.
    nameRules_.clear();
    {
        const std::wstring path = GetPath();
        namesByRule_ = !path.empty() && ::GetFileAttributesW((path + L"desktop.ini").c_str()) == INVALID_FILE_ATTRIBUTES;
    }
    if (reading_) {
        // The same list again: the enumeration starts from the beginning.
        browser_->SetFolderIDList(browser_->FolderIDList());
        // A small folder is read whole at once, however busy the machine.
        if (!ReadStep(kReadStepMs, kReadAtOnce)) {
            fillTimer_->SetEnabled(true);
            return;
        }
        reading_ = false;
        SortPending();
    }
    AddPending();
}

bool TShellList::ReadStep(DWORD BudgetMs, int AtLeast)
{
    const DWORD start = ::GetTickCount();
    int count = 0;
    while (browser_->NextObject()) {
        TFolderEntry entry;
        if (MakeEntry(entry)) pending_.push_back(std::move(entry));
        if (++count >= AtLeast && (count & 3) == 0 && ::GetTickCount() - start >= BudgetMs) return false;
    }
    return true;
}

void TShellList::FillStep(classlib::TObject*)
{
    fillTimer_->SetEnabled(false);
    if (reading_) {
        // The sort and the items come in steps of their own.
        if (ReadStep(kReadStepMs, 0)) {
            reading_ = false;
            sorting_ = true;
        }
        fillTimer_->SetEnabled(true);
        return;
    }
    if (sorting_) {
        sorting_ = false;
        SortPending();
        fillTimer_->SetEnabled(true);
        return;
    }
    AddPending(true);
}

void TShellList::AddPending(bool Timed)
{
    classlib::TListItems* items = GetItems();
    const bool first = pendingNext_ == 0;
    const std::size_t end = std::min(pending_.size(), pendingNext_ + kFillStep);
    items->BeginUpdate();
    if (first && showParentFolder_) AddParentItem();
    // At most kFillStep items, and no more than a step's time after the
    // first ones (a busy machine makes each item slower). A fill that is
    // not Timed adds its first kFillStep items at once.
    const DWORD start = ::GetTickCount();
    for (std::size_t n = 0; pendingNext_ < end; ++pendingNext_, ++n) {
        AddEntry(pending_[pendingNext_]);
        if ((Timed || !first) && (n & 15) == 15 && ::GetTickCount() - start >= kReadStepMs) {
            ++pendingNext_;
            break;
        }
    }
    items->EndUpdate();
    if (pendingObject_ && SelectObjectItem(pendingObject_.get())) linkedObject_ = std::move(pendingObject_);
    if (pendingNext_ < pending_.size()) {
        fillTimer_->SetEnabled(true);
        return;
    }
    pending_.clear();
    pendingNext_ = 0;
    classlib::TListItem* focused = nullptr;
    for (const std::wstring& name : reselect_) {
        const int i = IndexOfObject(name);
        if (i < 0) continue;
        focused = items->GetItem(i);
        focused->SetSelected(true);
        focused->SetFocused(true);
    }
    reselect_.clear();
    if (!SortsByShell()) SortItems();
    pendingObject_.reset();
    if (linkedObject_) {
        // Still chosen after the steps: it is the one to show.
        for (int i = 0; i < items->GetCount(); ++i) {
            const TShellListItem* record = ShellItem(items->GetItem(i));
            if (record && record->Pidl && items->GetItem(i)->GetSelected() &&
                SameObject(browser_->ShellFolder(), record->Pidl.get(), linkedObject_.get()))
                focused = items->GetItem(i);
        }
        linkedObject_.reset();
    }
    // The user finds the objects chosen before where the list shows them.
    if (focused && HandleAllocated()) {
        const int row = items->IndexOf(focused);
        if (row >= 0) SendToWindow(LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    }
    ShowSortArrow();
    OnPopulated(this);
    OnPathChanged(this);
    WatchFolder();
    filling_ = false;
}

namespace {

// Whether a last-write time (UTC) lies within 0.0002 days of now.
bool WrittenJustNow(const FILETIME& Modified)
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::int64_t age = std::int64_t(Ticks(now)) - std::int64_t(Ticks(Modified));
    constexpr std::int64_t kWindow = std::int64_t(0.0002 * 86400.0 * 1e7);  // in 100 ns units
    return Ticks(Modified) != 0 && age < kWindow && age > -kWindow;
}

}  // namespace

void STDMETHODCALLTYPE TShellList::UpdateContents()
{
    // A disabled list follows the folder too: nothing would bring it up to
    // date once it is enabled again.
    if (filling_ || !browser_->ShellFolder()) return;
    classlib::TListItems* items = GetItems();
    // A full fill would end a rename in place: the pass goes item by item
    // meanwhile.
    const bool editing = HandleAllocated() && SendToWindow(LVM_GETEDITCONTROL, 0, 0) != 0;
    if (items->GetCount() > 500 && !editing) {
        Populate();
        return;
    }
    // A maker of the wrong class raises before the list changes.
    NewRecord();
    filling_ = true;
    std::unordered_map<std::wstring, TShellListItem*> shown;
    for (int i = 0; i < items->GetCount(); ++i) {
        TShellListItem* record = ShellItem(items->GetItem(i));
        if (!record || record->IsParentFolder()) continue;
        record->Seen = 0;
        shown.emplace(TntWideUpperCase(KeyOf(items->GetItem(i))), record);
    }
    std::vector<TFolderEntry> added;
    try {
        browser_->SetFolderIDList(browser_->FolderIDList());
        while (browser_->NextObject()) {
            TFolderEntry entry;
            if (!MakeEntry(entry)) continue;
            auto it = shown.find(TntWideUpperCase(entry.ObjectName.empty() ? entry.Name : entry.ObjectName));
            if (it == shown.end()) {
                added.push_back(std::move(entry));
                continue;
            }
            TShellListItem* record = it->second;
            record->Seen = 1;
            // A picture written within the last 17 seconds or so is made
            // again. Both times are UTC (the find data's and the clock's).
            if (thumbnails_ && record->Item->GetImageIndex() >= 0 && WrittenJustNow(entry.Modified)) {
                CancelWork(record, this);
                QueueThumbnail(record, record->Item->GetImageIndex());
            }
        }
    } catch (const EShFolderObjectError&) {
    }
    std::unique_ptr<classlib::TStringList> cut;
    const std::wstring folder = GetPath();
    items->BeginUpdate();
    for (int i = items->GetCount() - 1; i >= 0; --i) {
        TShellListItem* record = ShellItem(items->GetItem(i));
        if (!record || record->IsParentFolder() || record->Seen) continue;
        // Only a cut mark the user made counts: hidden objects are drawn
        // cut too.
        if (HandleAllocated() && !record->Dimmed &&
            (SendToWindow(LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_CUT) & LVIS_CUT)) {
            if (!cut) cut = std::make_unique<classlib::TStringList>();
            cut->Add(folder + items->GetItem(i)->GetCaption());
        }
        DeleteItem(i);
    }
    for (const TFolderEntry& entry : added) AddEntry(entry);
    if (checkboxes_)
        for (int i = 0; i < items->GetCount(); ++i) items->GetItem(i)->SetStateIndex(CheckState(items->GetItem(i)));
    items->EndUpdate();
    filling_ = false;
    if (cut) OnOperation(this, OperationBit(sopCut) | OperationBit(sopRemove), cut.get(), std::wstring());
}

void TShellList::ShellChanged(classlib::TObject*, TNotificationEvent Event, const std::wstring& Path1,
                              const std::wstring&)
{
    const std::wstring path = GetPath();
    switch (Event) {
    case neDriveRemove:
    case neMediaRemove:
    case neNetShare:
    case neNetUnShare:
        refreshTimer_->SetEnabled(false);
        Populate();
        return;
    case neFileDelete:
    case neFolderDelete:
        if (!path.empty() && SamePath(classlib::ExtractFilePath(Path1), path)) {
            if (filling_) break;  // the fill under way is looked at again
            const int i = IndexOfObject(classlib::ExtractFileName(Path1));
            if (i >= 0) DeleteItem(i);
            return;
        }
        break;  // the shown folder itself or one above it
    case neFolderUpdate:
        if (!SamePath(Path1, path)) return;
        break;
    case neFileChange:
        // The platform's own thumbnail cache, written while pictures show.
        if (thumbnails_ && classlib::WideSameText(classlib::ExtractFileName(Path1), L"Thumbs.db")) return;
        break;
    default: break;
    }
    refreshTimer_->SetEnabled(false);
    refreshTimer_->SetEnabled(true);
}

void TShellList::RefreshTimer(classlib::TObject*)
{
    refreshTimer_->SetEnabled(false);
    if (filling_) {
        // The fill under way may predate the change: look again after it.
        refreshTimer_->SetEnabled(true);
        return;
    }
    const std::wstring path = GetPath();
    if (!path.empty() && !PathExists(path)) {
        SetSpecialFolder(SF_DRIVES);
        return;
    }
    UpdateContents();
}

std::wstring TShellList::GetItemPathAt(int Index) const
{
    if (Index < 0 || Index >= GetItems()->GetCount()) return L"";
    return GetItemPath(GetItems()->GetItem(Index));
}

std::wstring TShellList::GetItemPath(const classlib::TListItem* Item) const
{
    TShellListItem* record = ShellItem(Item);
    if (!record || !record->Pidl) return {};
    if (record->FullPath.empty()) {
        // A file-system folder joins its path and the object's name; other
        // folders ask the shell for the object's path.
        const std::wstring folder = GetPath();
        if (!folder.empty() && !record->ObjectName.empty()) {
            record->FullPath = folder + record->ObjectName;
        } else {
            TPidl absolute = PidlCombine(browser_->FolderIDList(), record->Pidl.get());
            record->FullPath = PidlToPath(absolute.get());
        }
    }
    return record->FullPath;
}

void STDMETHODCALLTYPE TShellList::FolderChanged(LPCITEMIDLIST AbsolutePidl)
{
    if (!AbsolutePidl) return;
    try {
        if (!navigatingHistory_ && browser_->FolderIDList()) history_->Push(browser_->GetFolderIDList());
        browser_->SetFolderIDList(AbsolutePidl);
        if (!navigatingHistory_) history_->Push(browser_->GetFolderIDList());
        SetSelected(nullptr);
        reselect_.clear();
        Populate();
    } catch (...) {
        DropAllWork();
        GetItems()->Clear();
    }
}

void STDMETHODCALLTYPE TShellList::SelectionChanged(LPCITEMIDLIST Folder, LPCITEMIDLIST Object)
{
    FolderChanged(Folder);
    pendingObject_.reset();
    linkedObject_.reset();
    if (!Object) return;
    TPidl last = PidlGetLastItem(Object);
    // A large folder fills in steps: an object not listed yet is selected
    // by the step that brings it.
    if (!SelectObjectItem(last.get()) && filling_) pendingObject_ = std::move(last);
}

bool TShellList::SelectObjectItem(LPCITEMIDLIST Object)
{
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        const TShellListItem* record = ShellItem(items->GetItem(i));
        if (record && record->Pidl && SameObject(browser_->ShellFolder(), record->Pidl.get(), Object)) {
            SetSelected(items->GetItem(i));
            items->GetItem(i)->SetFocused(true);
            if (HandleAllocated()) SendToWindow(LVM_ENSUREVISIBLE, static_cast<WPARAM>(i), FALSE);
            return true;
        }
    }
    return false;
}

void STDMETHODCALLTYPE TShellList::SelectAll()
{
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) items->GetItem(i)->SetSelected(true);
    if (HandleAllocated()) ::SetFocus(GetHandle());
}

void STDMETHODCALLTYPE TShellList::NavigateUp()
{
    if (!browser_->ShellFolder() || PidlItemCount(browser_->FolderIDList()) == 0) return;
    browser_->SelectFolderInParent();
    AfterFolderChange();
    Populate();
}

class TShellList::TDropSource : public TForwardingDropSource<TShellList> {
public:
    using TForwardingDropSource<TShellList>::TForwardingDropSource;
};

// The list's drop target: not reference counted (the list's lifetime; the
// list revokes it with its window). A folder item under the cursor hands
// the drop to its object's own target, anything else to the shown folder's.
class TShellList::TDropTarget : public classlib::TUncountedComObject<IDropTarget, IID_IDropTarget> {
public:
    explicit TDropTarget(TShellList* List) : list_(List) {}
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        Leave();
        if (Data) Data->AddRef();
        data_ = TComRef<IDataObject>(Data);
        keyState_ = KeyState;
        lastScroll_ = ::GetTickCount();
        background_ = TComRef<IDropTarget>(list_->GetDropTargetOf(nullptr));
        if (!background_) {
            *Effect = DROPEFFECT_NONE;
            return S_OK;
        }
        return background_->DragEnter(Data, KeyState, Point, Effect);
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        if (list_->GetReadOnly() || !list_->HandleAllocated()) {
            *Effect = DROPEFFECT_NONE;
            return S_OK;
        }
        keyState_ = KeyState;
        classlib::TListItem* item = list_->ItemAt(Point);
        if (!item || ShellItem(item) != dropRecord_) {
            LeaveItem();
            if (item) {
                TComRef<IDropTarget> target(list_->GetDropTargetOf(item));
                DWORD effect = *Effect;
                if (target && target->DragEnter(data_.Get(), KeyState, Point, &effect) == S_OK) {
                    itemTarget_ = target;
                    dropRecord_ = ShellItem(item);
                    Highlight(true);
                }
            }
            ::UpdateWindow(list_->GetHandle());
        }
        const DWORD now = ::GetTickCount();
        if (now - lastScroll_ >= DragScrollInterval) {
            lastScroll_ = now;
            POINT client{Point.x, Point.y};
            ::ScreenToClient(list_->GetHandle(), &client);
            list_->DragScroll(client);
        }
        if (itemTarget_) return itemTarget_->DragOver(KeyState, Point, Effect);
        if (IDropTarget* background = Background(KeyState)) return background->DragOver(KeyState, Point, Effect);
        *Effect = DROPEFFECT_NONE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        Leave();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* Data, DWORD, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(Data);
        // What the copy mode offers, within what the source allows.
        DWORD effect = CopyModeEffect(list_->copyMode_) & *Effect;
        classlib::TListItem* dropItem = DropItem();
        const bool onItem = itemTarget_ && dropItem;
        TComRef<IDropTarget> target = onItem ? itemTarget_ : TComRef<IDropTarget>(Background(keyState_));
        if (!onItem && target) target.Get()->AddRef();
        classlib::TObject* what = onItem ? static_cast<classlib::TObject*>(dropRecord_) : list_;
        const std::wstring destination = onItem ? list_->GetItemPath(dropItem) : list_->GetPath();
        bool execute = true;
        if (target && files) list_->OnBeforeShellDrop(list_, what, files.get(), execute, keyState_);
        HRESULT result = E_UNEXPECTED;
        if (target && execute) {
            result = target->Drop(Data, keyState_, Point, &effect);
            // The target has seen its Drop: no DragLeave for it.
            if (onItem)
                itemTarget_.Reset();
            else
                background_.Reset();
        } else {
            effect = DROPEFFECT_NONE;
        }
        *Effect = effect;
        list_->droppedNames_.clear();
        for (int i = 0; files && i < files->GetCount(); ++i)
            list_->droppedNames_.push_back(classlib::ExtractFileName(files->GetStrings(i)));
        Leave();
        if (SUCCEEDED(result) && target && execute && files) {
            if (const TShellOperations done = DropOperations(effect, files.get())) {
                // What arrived in the shown folder shows (and is selected) at once.
                if (!onItem) {
                    list_->UpdateContents();
                    list_->SelectDroppedNames();
                }
                list_->ReportOperation(done, files.get(), destination);
            }
        }
        return result;
    }

private:
    // The background's target, unless the list's own left-button drag is
    // over it (the objects are already there).
    IDropTarget* Background(DWORD KeyState) const
    {
        if (list_->dragButton_ != 0 && !(KeyState & MK_RBUTTON)) return nullptr;
        return background_.Get();
    }
    // The item under the cursor, while it is still in the list (a refresh
    // during the drag may have taken it).
    classlib::TListItem* DropItem() const
    {
        auto it = list_->records_.find(dropRecord_);
        return dropRecord_ && it != list_->records_.end() ? it->second->Item : nullptr;
    }
    void Highlight(bool On)
    {
        classlib::TListItem* item = DropItem();
        if (!item || !list_->HandleAllocated()) return;
        const int index = item->GetIndex();
        LVITEMW state{};
        state.stateMask = LVIS_DROPHILITED;
        state.state = On ? LVIS_DROPHILITED : 0;
        list_->SendToWindow(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&state));
    }
    void LeaveItem()
    {
        Highlight(false);
        if (itemTarget_) itemTarget_->DragLeave();
        itemTarget_.Reset();
        dropRecord_ = nullptr;
    }
    void Leave()
    {
        LeaveItem();
        if (background_) background_->DragLeave();
        background_.Reset();
        data_.Reset();
        keyState_ = 0;
    }
    TShellList* list_;
    TComRef<IDataObject> data_;
    TComRef<IDropTarget> background_;
    TComRef<IDropTarget> itemTarget_;
    TShellListItem* dropRecord_ = nullptr;
    DWORD keyState_ = 0;
    DWORD lastScroll_ = 0;
};

IDropTarget* TShellList::GetDropTarget() const { return dropTarget_.get(); }

void TShellList::SetOleDragDrop(bool Value)
{
    oleDragDrop_ = Value;
    if (Value)
        Register();
    else
        Revoke();
}

void TShellList::Register()
{
    if (dropRegistered_ || !oleDragDrop_ || !HandleAllocated()) return;
    // Fails without OLE on this thread: the list then takes no drops (and
    // says so through OleDragDrop).
    dropRegistered_ = SUCCEEDED(::RegisterDragDrop(GetHandle(), dropTarget_.get()));
    if (!dropRegistered_) oleDragDrop_ = false;
}

void TShellList::Revoke()
{
    if (!dropRegistered_) return;
    dropRegistered_ = false;
    if (HandleAllocated()) ::RevokeDragDrop(GetHandle());
}

void TShellList::DestroyWnd()
{
    Revoke();
    UnhookHeader();
    // The picture goes with the window (a new one is given it again).
    drawsBackground_ = false;
    classlib::TListView::DestroyWnd();
    DeleteBackgroundFile();
}

namespace {

// The effects Files may have when dropped into Folder, within Allowed; Same
// Drive tells whether they all share Folder's drive.
DWORD PossibleDropEffects(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed, const std::wstring& Folder,
                          bool& SameDrive)
{
    SameDrive = true;
    if (!Files || Files->GetCount() == 0 || Folder.empty()) return DROPEFFECT_NONE;
    Allowed &= DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    for (int i = 0; i < Files->GetCount(); ++i) {
        const std::wstring& f = Files->GetStrings(i);
        // A folder onto itself or into its own tree.
        if (SamePath(f, Folder) || IsPathBelow(f, Folder)) return DROPEFFECT_NONE;
        // Already there: only the right button's menu may still make links
        // beside it.
        if (SamePath(classlib::ExtractFilePath(f), Folder))
            Allowed &= (KeyState & MK_RBUTTON) ? DWORD(DROPEFFECT_LINK) : DWORD(DROPEFFECT_NONE);
        SameDrive = SameDrive && classlib::WideSameText(classlib::ExtractFileDrive(f), classlib::ExtractFileDrive(Folder));
    }
    return Allowed;
}

}  // namespace

DWORD DropEffectInto(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed, const std::wstring& Folder)
{
    bool sameDrive = true;
    const DWORD possible = PossibleDropEffects(Files, KeyState, Allowed, Folder, sameDrive);
    return possible ? ChooseDropEffect(KeyState, possible, sameDrive) : DWORD(DROPEFFECT_NONE);
}

bool CopyOrMoveInto(HWND Owner, const classlib::TStringList* Files, const std::wstring& Folder, DWORD Effect)
{
    if (!Files || Files->GetCount() == 0 || Folder.empty()) return false;
    const std::wstring folder = classlib::IncludeTrailingPathDelimiter(Folder);
    std::wstring from;
    std::vector<std::wstring> names;
    for (int i = 0; i < Files->GetCount(); ++i) {
        from += Files->GetStrings(i);
        from.push_back(L'\0');
        names.push_back(classlib::ExtractFileName(Files->GetStrings(i)));
    }
    from.push_back(L'\0');
    std::wstring to = folder;
    to.push_back(L'\0');
    SHFILEOPSTRUCTW op{};
    op.hwnd = Owner;
    op.wFunc = Effect == DROPEFFECT_MOVE ? FO_MOVE : FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    // A failed or cancelled operation is reported as no drop at all; so is
    // one that claims success without a single file arriving.
    return ::SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted &&
           std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return PathExists(folder + n); });
}

bool LinkInto(const classlib::TStringList* Files, const std::wstring& Folder)
{
    if (!Files || Folder.empty()) return false;
    const std::wstring folder = classlib::IncludeTrailingPathDelimiter(Folder);
    bool any = false;
    for (int i = 0; i < Files->GetCount(); ++i) {
        const std::wstring& target = Files->GetStrings(i);
        if (!PathExists(target)) continue;
        const std::wstring name = classlib::ExtractFileName(target);
        std::wstring file = folder + name + L".lnk";
        for (int n = 2; PathExists(file); ++n) file = folder + name + L" (" + std::to_wstring(n) + L").lnk";
        TComRef<IShellLinkW> link;
        if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.PutVoid())))
            continue;
        TComRef<IPersistFile> persist;
        if (FAILED(link->SetPath(target.c_str())) ||
            FAILED(link->QueryInterface(IID_IPersistFile, persist.PutVoid())) ||
            FAILED(persist->Save(file.c_str(), TRUE)))
            continue;
        any = any || FileExistsLong(file);
    }
    return any;
}

DWORD AskDropEffect(HWND Owner, POINT At, DWORD Allowed, DWORD Default)
{
    Allowed &= DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    if (!Owner || !::IsWindow(Owner) || !Allowed) return DROPEFFECT_NONE;
    classlib::TOwnedMenu menu(::CreatePopupMenu());
    if (!menu) return DROPEFFECT_NONE;
    // Each entry's command is the effect it stands for; "Cancel" has one of
    // its own that is no effect.
    constexpr UINT cancel = 0x100;
    const std::pair<DWORD, const wchar_t*> entries[] = {
        {DROPEFFECT_COPY, L"Copy Here"},
        {DROPEFFECT_MOVE, L"Move Here"},
        {DROPEFFECT_LINK, L"Create Shortcuts Here"},
    };
    for (const auto& [effect, text] : entries)
        ::AppendMenuW(menu.Get(), MF_STRING | ((Allowed & effect) ? 0u : UINT(MF_GRAYED)), effect, text);
    ::AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu.Get(), MF_STRING, cancel, L"Cancel");
    if (Default & Allowed) ::SetMenuDefaultItem(menu.Get(), Default & Allowed, FALSE);
    const UINT chosen = UINT(::TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY | TPM_LEFTALIGN |
                                                              TPM_TOPALIGN,
                                              At.x, At.y, 0, Owner, nullptr));
    for (const auto& entry : entries)
        if (chosen == entry.first && (Allowed & entry.first)) return entry.first;
    return DROPEFFECT_NONE;
}

namespace {

// The drop target of one file-system folder (reference counted: the
// controls and OLE hold it). The effect is chosen again at the drop from
// the key state given there; a drag made with the right button (as the
// last DragOver saw it) lets the user choose it from a menu instead.
class TFolderDropTarget final : public classlib::TComObject<IDropTarget, IID_IDropTarget> {
public:
    TFolderDropTarget(std::wstring Folder, HWND Owner) : folder_(std::move(Folder)), owner_(Owner) {}
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        files_ = GetFilenamesFromDataObject(Data);
        keys_ = KeyState;
        *Effect = DropEffectInto(files_.get(), KeyState, *Effect, folder_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        keys_ = KeyState;
        *Effect = DropEffectInto(files_.get(), KeyState, *Effect, folder_);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        files_.reset();
        keys_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* Data, DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        files_.reset();
        // OLE gives the keys after the button went up: the right button is
        // known from the drag itself.
        const bool menu = ((keys_ | KeyState) & MK_RBUTTON) != 0;
        keys_ = 0;
        std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(Data);
        const DWORD keys = KeyState | (menu ? DWORD(MK_RBUTTON) : 0);
        bool sameDrive = true;
        const DWORD possible = PossibleDropEffects(files.get(), keys, *Effect, folder_, sameDrive);
        DWORD effect = possible ? ChooseDropEffect(keys, possible, sameDrive) : DWORD(DROPEFFECT_NONE);
        // The menu offers only what the source allows and the place admits;
        // the keys' effect is its default.
        if (menu && effect != DROPEFFECT_NONE) effect = AskDropEffect(owner_, POINT{Point.x, Point.y}, possible, effect);
        bool done = false;
        if (effect == DROPEFFECT_LINK)
            done = LinkInto(files.get(), folder_);
        else if (effect != DROPEFFECT_NONE)
            done = CopyOrMoveInto(owner_, files.get(), folder_, effect);
        *Effect = done ? effect : DROPEFFECT_NONE;
        return S_OK;
    }

private:
    ~TFolderDropTarget() = default;
    std::wstring folder_;
    HWND owner_;
    std::unique_ptr<classlib::TStringList> files_;
    DWORD keys_ = 0;
};

}  // namespace

IDropTarget* NewFolderDropTarget(const std::wstring& Folder, HWND Owner)
{
    return new TFolderDropTarget(classlib::IncludeTrailingPathDelimiter(Folder), Owner);
}

DWORD CopyModeEffect(TShCopyMode Mode)
{
    switch (Mode) {
    case cmCopy: return DROPEFFECT_COPY;
    case cmMove: return DROPEFFECT_MOVE;
    case cmLink: return DROPEFFECT_LINK;
    default: return DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    }
}

TShellOperations DropOperations(DWORD Effect, const classlib::TStringList* Files)
{
    switch (Effect) {
    case DROPEFFECT_COPY: return OperationBit(sopCopy) | OperationBit(sopDrop);
    case DROPEFFECT_MOVE: return OperationBit(sopMove) | OperationBit(sopDrop);
    case DROPEFFECT_LINK: return OperationBit(sopDrop);
    default: break;
    }
    // A target that moved the files itself may answer no effect: only the
    // files themselves tell a move from a drop that was refused or
    // cancelled.
    if (IsWinNT && Files && Files->GetCount() > 0 && !PathExists(Files->GetStrings(0)))
        return OperationBit(sopMove) | OperationBit(sopDrop);
    return 0;
}

TShellOperations DragOperations(DWORD Effect)
{
    switch (Effect) {
    case DROPEFFECT_COPY: return OperationBit(sopCopy) | OperationBit(sopDrag);
    case DROPEFFECT_MOVE: return OperationBit(sopMove) | OperationBit(sopRemove) | OperationBit(sopDrag);
    case DROPEFFECT_LINK: return OperationBit(sopDrag);
    default: return 0;
    }
}

HRESULT ContinueDragAnswer(BOOL EscapePressed, DWORD KeyState, int DragButton)
{
    if (EscapePressed) return DRAGDROP_S_CANCEL;
    const DWORD dragBit = DragButton == 2 ? MK_RBUTTON : MK_LBUTTON;
    if (KeyState & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON) & ~dragBit) return DRAGDROP_S_CANCEL;
    return (KeyState & dragBit) ? S_OK : DRAGDROP_S_DROP;
}

IDropTarget* TShellList::GetDropTargetOf(const classlib::TListItem* Item)
{
    LPCITEMIDLIST folderPidl = browser_->FolderIDList();
    if (!browser_->ShellFolder() || !folderPidl) return nullptr;
    HWND owner = HandleAllocated() ? GetHandle() : nullptr;
    std::wstring path;
    TComRef<IShellFolder> folder;
    TPidl object;
    if (!Item) {
        path = GetPath();
        if (path.empty() && PidlItemCount(folderPidl) == 0) path = SpecialFolderPath(SF_DESKTOPDIRECTORY);
        if (path.empty()) {
            DesktopFolder()->AddRef();
            folder = TComRef<IShellFolder>(DesktopFolder());
            object = PidlClone(folderPidl);
        }
    } else {
        TShellListItem* record = ShellItem(Item);
        if (!record) return nullptr;
        if (record->IsParentFolder()) {
            if (PidlItemCount(folderPidl) == 0) return nullptr;
            const std::wstring current = GetPath();
            if (!current.empty() && !IsDriveRoot(current)) {
                path = ExtractParentFolder(classlib::ExcludeTrailingPathDelimiter(current));
            } else {
                // The parent folder as an object of its own parent.
                TPidl parent = PidlCopyFirst(folderPidl, PidlItemCount(folderPidl) - 1);
                TShFolderObject up(nullptr);
                up.SetShowErrorMessages(false);
                try {
                    up.SetAbsoluteIDList(parent.get());
                    IDropTarget* target = nullptr;
                    return SUCCEEDED(up.GetUIObjectOf(IID_IDropTarget, reinterpret_cast<void**>(&target))) ? target
                                                                                                          : nullptr;
                } catch (const EShFolderObjectError&) {
                    return nullptr;
                }
            }
        } else if (!record->Pidl) {
            return nullptr;
        } else {
            path = GetItemPath(Item);
            // A file of the file system takes no drops.
            if (!path.empty() && !record->IsFolder()) return nullptr;
            if (path.empty()) {
                browser_->ShellFolder()->AddRef();
                folder = TComRef<IShellFolder>(browser_->ShellFolder());
                object = PidlClone(record->Pidl.get());
            }
        }
    }
    if (!path.empty()) return DirectoryExistsLong(path) ? NewFolderDropTarget(path, owner) : nullptr;
    // Objects outside the file system take what their own shell target does.
    IDropTarget* target = nullptr;
    LPCITEMIDLIST item = object.get();
    if (!folder || FAILED(folder->GetUIObjectOf(owner, 1, &item, IID_IDropTarget, nullptr, reinterpret_cast<void**>(&target))))
        return nullptr;
    return target;
}

void TShellList::SelectDroppedNames()
{
    if (droppedNames_.empty()) return;
    for (int i = 0; i < GetItems()->GetCount() && !droppedNames_.empty(); ++i) {
        classlib::TListItem* item = GetItems()->GetItem(i);
        const std::wstring name = classlib::ExtractFileName(GetItemPath(item));
        if (name.empty()) continue;
        auto found = std::find_if(droppedNames_.begin(), droppedNames_.end(),
                                  [&](const std::wstring& n) { return classlib::WideSameText(n, name); });
        if (found == droppedNames_.end()) continue;
        item->SetSelected(true);
        droppedNames_.erase(found);
    }
    droppedNames_.clear();
}

classlib::TListItem* TShellList::ItemAt(POINTL ScreenPoint)
{
    if (!HandleAllocated()) return nullptr;
    LVHITTESTINFO hit{};
    hit.pt = POINT{ScreenPoint.x, ScreenPoint.y};
    ::ScreenToClient(GetHandle(), &hit.pt);
    const int index = static_cast<int>(SendToWindow(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (index < 0 || index >= GetItems()->GetCount() || !(hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL)))
        return nullptr;
    return GetItems()->GetItem(index);
}

void TShellList::DragScroll(POINT ClientPoint) { ScrollTowardEdge(GetHandle(), ClientPoint); }

void TShellList::ReportOperation(TShellOperations Operation, classlib::TStringList* Files,
                                 const std::wstring& Destination)
{
    if (Files && Files->GetCount() > 0) OnOperation(this, Operation, Files, Destination);
    const TShellOperations told = OperationBit(sopMove) | OperationBit(sopDelete) | OperationBit(sopRemove) |
                                  OperationBit(sopRename);
    if (link_ && (Operation & told)) link_->NotifyUpdateContents(this);
}

void TShellList::OleDrag(int Button)
{
    IShellFolder* folder = browser_->ShellFolder();
    if (!oleDragDrop_ || !folder || !GetSelected()) return;
    std::vector<LPCITEMIDLIST> objects;
    for (int i = 0; i < GetItems()->GetCount(); ++i) {
        classlib::TListItem* item = GetItems()->GetItem(i);
        const TShellListItem* record = ShellItem(item);
        if (item->GetSelected() && record && !record->IsParentFolder() && record->Pidl)
            objects.push_back(record->Pidl.get());
    }
    if (objects.empty()) return;
    const UINT count = static_cast<UINT>(objects.size());
    ULONG attributes = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK;
    if (FAILED(folder->GetAttributesOf(count, objects.data(), &attributes))) attributes = 0;
    // SFGAO_CANCOPY, _CANMOVE and _CANLINK are the drop effects' bits.
    const DWORD allowed = CopyModeEffect(copyMode_) & attributes;
    TComRef<IDataObject> data;
    if (FAILED(folder->GetUIObjectOf(GetHandle(), count, objects.data(), IID_IDataObject, nullptr, data.PutVoid())) ||
        !data)
        return;
    // The item records may leave the list while the drag runs.
    objects.clear();
    dragButton_ = Button;
    DWORD effect = DROPEFFECT_NONE;
    if (::DoDragDrop(data.Get(), dropSource_.get(), allowed, &effect) != DRAGDROP_S_DROP) effect = DROPEFFECT_NONE;
    dragButton_ = 0;
    const TShellOperations done = DragOperations(effect);
    if (!done) return;
    std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(data.Get());
    ReportOperation(done, files.get(), std::wstring());
}

HRESULT TShellList::QueryContinueDrag(BOOL EscapePressed, DWORD KeyState)
{
    return ContinueDragAnswer(EscapePressed, KeyState, dragButton_);
}

HRESULT TShellList::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }

bool TShellList::RenameItem(int Index, const std::wstring& NewName)
{
    renameError_.clear();
    const std::wstring folder = GetPath();
    if (Index < 0 || Index >= GetItems()->GetCount() || folder.empty()) return false;
    classlib::TListItem* item = GetItems()->GetItem(Index);
    TShellListItem* record = ShellItem(item);
    if (!record || record->IsParentFolder() || record->ObjectName.empty() || !record->Pidl) return false;
    const std::wstring oldName = record->ObjectName;
    if (NewName.empty() || NewName == item->GetCaption()) return false;
    if (NewName.find_first_of(kInvalidNameCharacters) != std::wstring::npos || NewName == L"." || NewName == L"..") {
        renameError_ = RenameRefusal(item->GetCaption(), NewName, ERROR_INVALID_NAME);
        return false;
    }
    // The shell renames: a name typed without the extension its caption
    // hides keeps that extension, and the shell announces the change.
    std::wstring shown = NewName;
    bool done = false;
    ::SetLastError(0);
    try {
        browser_->SetObjectIDList(record->Pidl.get());
        done = browser_->Rename(shown);
    } catch (const EShFolderObjectError&) {
        done = false;
    }
    if (!done) {
        renameError_ = RenameRefusal(item->GetCaption(), NewName, ::GetLastError());
        return false;
    }
    record->Pidl = browser_->GetObjectIDList();
    const std::wstring newName = browser_->GetObjectName();
    record->ObjectName = newName.empty() ? shown : newName;
    record->FullPath.clear();
    item->SetCaption(shown.empty() ? record->ObjectName : shown);
    item->GetSubItems()->Clear();
    FillDetails(item);
    CancelWork(record, this);
    item->SetImageIndex(-1);
    record->IconAsked = false;
    auto files = std::make_unique<classlib::TStringList>();
    files->Add(folder + oldName);
    DoOperation(OperationBit(sopRename), std::move(files), folder + record->ObjectName);
    return true;
}

void TShellList::RenameRefused(const std::wstring& Message)
{
    if (Message.empty()) return;
    if (OnRenameRefused)
        OnRenameRefused(this, Message);
    else if (HandleAllocated())
        ::MessageBoxW(GetHandle(), Message.c_str(), nullptr, MB_OK | MB_ICONWARNING);
}

std::unique_ptr<classlib::TStringList> TShellList::SelectedPaths() const
{
    auto paths = std::make_unique<classlib::TStringList>();
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        classlib::TListItem* item = items->GetItem(i);
        if (!item->GetSelected()) continue;
        const TShellListItem* record = ShellItem(item);
        if (record && record->IsParentFolder()) {
            if (GetSelCount() == 1) paths->Clear();
            continue;
        }
        const std::wstring path = GetItemPath(item);
        paths->Add(path.empty() ? item->GetCaption() : path);
    }
    return paths;
}

void TShellList::ShowSelectedCut()
{
    if (!HandleAllocated()) return;
    for (int i = 0; i < GetItems()->GetCount(); ++i) {
        LVITEMW state{};
        state.stateMask = LVIS_CUT;
        state.state = GetItems()->GetItem(i)->GetSelected() ? LVIS_CUT : 0;
        SendToWindow(LVM_SETITEMSTATE, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&state));
    }
}

void TShellList::EditSelected(classlib::TObject*)
{
    const int index = GetItemIndex();
    if (index >= 0 && HandleAllocated() && !GetReadOnly()) SendToWindow(LVM_EDITLABELW, static_cast<WPARAM>(index), 0);
}

void TShellList::PrepareRename()
{
    if (GetReadOnly())
        browser_->OnRename.Clear();
    else
        browser_->OnRename = classlib::TNotifyEvent(this, &TShellList::EditSelected);
}

void TShellList::RestartRefresh()
{
    refreshTimer_->SetEnabled(false);
    refreshTimer_->SetEnabled(true);
}

void TShellList::DoOperation(TShellOperations Operation, std::unique_ptr<classlib::TStringList> Files,
                             const std::wstring& Destination)
{
    if (Operation & OperationBit(sopDelete)) {
        classlib::TListItems* items = GetItems();
        items->BeginUpdate();
        for (int i = items->GetCount() - 1; i >= 0; --i)
            if (items->GetItem(i)->GetSelected()) DeleteItem(i);
        items->EndUpdate();
    }
    if ((Operation & OperationBit(sopRename)) && link_ && link_->GetSelectionList() && Files && Files->GetCount() > 0)
        link_->GetSelectionList()->RenamePath(Files->GetStrings(0), Destination);
    if (Files && Files->GetCount() > 0) OnOperation(this, Operation, Files.get(), Destination);
    Files.reset();
    const TShellOperations changes =
        OperationBit(sopMove) | OperationBit(sopDelete) | OperationBit(sopRemove) | OperationBit(sopRename);
    if (link_ && (Operation & changes)) link_->NotifyUpdateContents(this);
}

bool TShellList::ExecuteVerb(const std::wstring& Verb)
{
    classlib::TListItems* items = GetItems();
    std::vector<int> selected;
    for (int i = 0; i < items->GetCount(); ++i)
        if (items->GetItem(i)->GetSelected()) selected.push_back(i);
    if (selected.empty()) return false;
    const TShellListItem* first = ShellItem(items->GetItem(selected[0]));
    if (selected.size() == 1 && first && first->IsParentFolder()) {
        if (SameVerb(Verb, L"DEFAULT")) NavigateUp();
        return true;
    }
    PrepareRename();
    std::unique_ptr<classlib::TStringList> files;
    if (SameVerb(Verb, L"paste"))
        files = ClipboardFiles();
    else if (SameVerb(Verb, L"delete"))
        files = SelectedPaths();

    bool done = false;
    if (selected.size() == 1) {
        if (!first || !first->Pidl) return false;
        browser_->SetObjectIDList(first->Pidl.get());
        if (SameVerb(Verb, L"default") || SameVerb(Verb, L"open")) {
            const std::wstring name = browser_->GetObjectName();
            const bool zip = name.size() >= 4 && classlib::WideSameText(name.substr(name.size() - 4), L".ZIP");
            if (browser_->IsFolder() && !zip) {
                if (browser_->OpenObjectAsFolder()) {
                    AfterFolderChange();
                    Populate();
                    return true;
                }
            } else if (browser_->IsLink()) {
                // A link to a folder shows the folder here.
                const std::wstring target = browser_->GetLinkTarget();
                bool folder = !target.empty() && IsDriveRoot(target);
                if (!target.empty() && !folder) {
                    WIN32_FIND_DATAW fd;
                    HANDLE h = FindFirstFileLong(classlib::ExcludeTrailingPathDelimiter(target), fd);
                    if (h != INVALID_HANDLE_VALUE) {
                        ::FindClose(h);
                        folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                    }
                }
                if (folder) {
                    browser_->SetFolder(target);
                    AfterFolderChange();
                    Populate();
                    return true;
                }
                browser_->SetObjectIDList(first->Pidl.get());
            }
        }
        done = browser_->ExecuteCommand(Verb);
    } else {
        std::unique_ptr<classlib::TStringList> objects = SelectedPaths();
        browser_->SetMultiObjects(objects.release());
        done = browser_->ExecuteCommand(Verb);
    }
    if (!done) return false;
    if (SameVerb(Verb, L"delete")) {
        DoOperation(OperationBit(sopDelete) | OperationBit(sopRemove), std::move(files), std::wstring());
        if (!automaticRefresh_) RestartRefresh();
    } else if (SameVerb(Verb, L"paste")) {
        const TShellOperations kind = PasteKind(files.get());
        DoOperation(kind, std::move(files), GetPath());
    } else if (SameVerb(Verb, L"cut")) {
        ShowSelectedCut();
    }
    return true;
}

void TShellList::PasteIntoFolder()
{
    std::unique_ptr<classlib::TStringList> files = ClipboardFiles();
    bool done = false;
    if (LPCITEMIDLIST folder = FolderPidl()) {
        // The shown folder as the object of its parent, so that the shell
        // pastes into it.
        TShFolderObject paster(nullptr);
        paster.SetShowErrorMessages(GetShowErrorMessages());
        try {
            paster.SetFolderIDList(folder);
            paster.SelectFolderInParent();
            done = paster.ExecuteCommand(L"paste");
        } catch (const EShFolderObjectError&) {
            done = false;
        }
    }
    if (done) {
        const TShellOperations kind = PasteKind(files.get());
        DoOperation(kind, std::move(files), GetPath());
    }
    RestartRefresh();
}

void TShellList::ShowShellContextMenu(POINT ScreenPoint)
{
    std::unique_ptr<classlib::TStringList> objects = SelectedPaths();
    if (objects->GetCount() == 0) return;
    PrepareRename();
    std::unique_ptr<classlib::TStringList> clipboard = ClipboardFiles();
    std::unique_ptr<classlib::TStringList> deleted = SelectedPaths();
    const classlib::TListItem* selected = GetSelected();
    const std::wstring selectedCaption = selected ? selected->GetCaption() : std::wstring();
    if (objects->GetCount() == 1) {
        // One object: the browser's object (its list is exact, also for
        // virtual objects).
        const TShellListItem* record = ShellItem(GetSelected());
        if (record && record->Pidl) {
            browser_->SetObjectIDList(record->Pidl.get());
            objects.reset();
        }
    }
    if (objects) browser_->SetMultiObjects(objects.release());
    browser_->SetReadOnly(GetReadOnly());
    browser_->SetShowContextMenuOnTop(GetOption(soShowContextMenuOnTop));
    std::wstring verb;
    try {
        if (popupMenu_) popupMenu_->PopupComponent = this;
        verb = browser_->ShowContextMenu(ScreenPoint, popupMenu_);
    } catch (const EShFolderObjectError&) {
        UpdateContents();
        return;
    }
    if (SameVerb(verb, L"delete")) {
        DoOperation(OperationBit(sopDelete) | OperationBit(sopRemove), std::move(deleted), std::wstring());
    } else if (SameVerb(verb, L"undelete")) {
        RestartRefresh();
    } else if (SameVerb(verb, L"paste")) {
        const TShellOperations kind = PasteKind(clipboard.get());
        DoOperation(kind, std::move(clipboard), GetPath() + selectedCaption);
    } else if (SameVerb(verb, L"cut")) {
        ShowSelectedCut();
    }
}

void TShellList::SetBackgroundPopupMenu(classlib::TPopupMenu* Value)
{
    if (backgroundPopupMenu_ && backgroundPopupMenu_ != popupMenu_) RemoveFreeNotification(backgroundPopupMenu_);
    backgroundPopupMenu_ = Value;
    if (Value) FreeNotification(Value);
}

void TShellList::SetPopupMenu(classlib::TPopupMenu* Value)
{
    if (popupMenu_ && popupMenu_ != backgroundPopupMenu_) RemoveFreeNotification(popupMenu_);
    popupMenu_ = Value;
    if (Value) FreeNotification(Value);
}

void TShellList::Notification(classlib::TComponent* AComponent, classlib::TOperation Operation)
{
    classlib::TListView::Notification(AComponent, Operation);
    if (Operation != classlib::opRemove) return;
    if (AComponent == backgroundPopupMenu_) backgroundPopupMenu_ = nullptr;
    if (AComponent == popupMenu_) popupMenu_ = nullptr;
}

void TShellList::SetBackgroundImage(const classlib::TBitmap* Value)
{
    if (Value && !Value->GetEmpty()) {
        if (!backgroundImage_) backgroundImage_ = std::make_unique<classlib::TBitmap>();
        backgroundImage_->OnChange.Clear();
        backgroundImage_->Assign(Value);
        // Drawing on the picture afterwards shows too.
        backgroundImage_->OnChange =
            classlib::TNotifyEvent::FromFunction([](void* list, classlib::TObject*) {
                static_cast<TShellList*>(list)->ApplyBackgroundImage();
            }, this);
    } else {
        backgroundImage_.reset();
    }
    ApplyBackgroundImage();
}

void TShellList::SetBackgroundImageStyle(TShBackgroundImageStyle Value)
{
    backgroundImageStyle_ = Value;
    ApplyBackgroundImage();
}

void TShellList::DeleteBackgroundFile()
{
    if (backgroundFile_.empty()) return;
    ::DeleteFileW(backgroundFile_.c_str());
    backgroundFile_.clear();
}

namespace {

// Writes Data to a new file of a name no one else has used in the temporary
// folder (created exclusively, so an existing file or link of the same name
// is never written through); the name, "" on failure.
std::wstring WriteUniqueTempFile(const void* Data, std::size_t Size)
{
    static std::atomic<unsigned> counter{0};
    const std::wstring folder = classlib::IncludeTrailingPathDelimiter(GetTempFolder());
    for (int attempt = 0; attempt < 16; ++attempt) {
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        wchar_t suffix[64];
        std::swprintf(suffix, 64, L"%08lX%08lX%04X", ::GetCurrentProcessId(),
                      static_cast<unsigned long>(now.QuadPart ^ (now.QuadPart >> 32)), ++counter & 0xFFFF);
        const std::wstring name = folder + L"ShellListBackground_" + suffix + L".bmp";
        HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return L"";
        }
        DWORD written = 0;
        const bool ok = ::WriteFile(h, Data, static_cast<DWORD>(Size), &written, nullptr) && written == Size;
        ::CloseHandle(h);
        if (ok) return name;
        ::DeleteFileW(name.c_str());
        return L"";
    }
    return L"";
}

}  // namespace

void TShellList::ApplyBackgroundImage()
{
    // Every picture goes to a file of its own: the list view may still be
    // reading the previous one, which goes once the new one is in place.
    const std::wstring previous = backgroundFile_;
    backgroundFile_.clear();
    std::wstring file;
    if (backgroundImage_ && !backgroundImage_->GetEmpty()) {
        classlib::TMemoryStream data;
        try {
            backgroundImage_->SaveToStream(&data);
            file = WriteUniqueTempFile(data.GetMemory(), static_cast<std::size_t>(data.GetSize()));
        } catch (const classlib::Exception&) {
            file.clear();
        }
    }
    backgroundFile_ = file;
    if (HandleAllocated()) {
        LVBKIMAGEW image{};
        if (!file.empty()) {
            SendToWindow(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(CLR_NONE));
            image.ulFlags = LVBKIF_SOURCE_URL;
            image.pszImage = const_cast<wchar_t*>(file.c_str());
            switch (backgroundImageStyle_) {
            case bisLeftTop: image.ulFlags |= LVBKIF_STYLE_NORMAL; break;
            case bisRightBottom:
                image.ulFlags |= LVBKIF_STYLE_NORMAL;
                image.xOffsetPercent = 100;
                image.yOffsetPercent = 100;
                break;
            case bisTiled: image.ulFlags |= LVBKIF_STYLE_TILE; break;
            }
        } else {
            image.ulFlags = LVBKIF_SOURCE_NONE;
        }
        const bool accepted = SendToWindow(LVM_SETBKIMAGEW, 0, reinterpret_cast<LPARAM>(&image)) != 0;
        // A list view that refuses a picture from a file (it answers FALSE
        // and keeps nothing) never shows it: the list draws it itself.
        drawsBackground_ = !file.empty() && !accepted;
        ::InvalidateRect(GetHandle(), nullptr, TRUE);
    } else {
        drawsBackground_ = false;
    }
    if (!previous.empty()) ::DeleteFileW(previous.c_str());
}

void TShellList::PaintBackgroundImage(HDC DC)
{
    RECT client{};
    ::GetClientRect(GetHandle(), &client);
    RECT box{};
    if (::GetClipBox(DC, &box) == ERROR) box = client;
    if (!::IntersectRect(&box, &box, &client)) return;
    // Everything the picture leaves free gets the window's background, and
    // text drawn without a background (LVM_SETTEXTBKCOLOR CLR_NONE) lies
    // over both.
    COLORREF back = static_cast<COLORREF>(SendToWindow(LVM_GETBKCOLOR, 0, 0));
    if (back == CLR_NONE) back = static_cast<COLORREF>(classlib::ColorToRGB(GetColor()));
    classlib::TOwnedBrush brush(::CreateSolidBrush(back));
    ::FillRect(DC, &box, brush.Get());

    const int width = backgroundImage_->GetWidth(), height = backgroundImage_->GetHeight();
    HDC source = backgroundImage_->GetCanvas()->GetHandle();
    if (width <= 0 || height <= 0 || !source) return;
    // A monochrome picture in black and white.
    classlib::TTextColorsScope colors(DC, RGB(0, 0, 0), RGB(255, 255, 255));
    auto place = [&](int x, int y) {
        const RECT tile{x, y, x + width, y + height};
        RECT part{};
        if (::IntersectRect(&part, &tile, &box))
            ::BitBlt(DC, part.left, part.top, part.right - part.left, part.bottom - part.top, source, part.left - x,
                     part.top - y, SRCCOPY);
    };
    switch (backgroundImageStyle_) {
    case bisLeftTop: place(0, 0); break;
    case bisRightBottom: place(client.right - width, client.bottom - height); break;
    case bisTiled:
        // Tiles are fixed to the client area (they do not move with the
        // items); only those the update reaches are drawn.
        for (int y = box.top - box.top % height; y < box.bottom; y += height)
            for (int x = box.left - box.left % width; x < box.right; x += width) place(x, y);
        break;
    }
}

void TShellList::ContextMenu(classlib::TMessage& Message)
{
    POINT point{GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)};
    int index = -1;
    if (point.x == -1 && point.y == -1) {
        // From the keyboard: at the selected item's corner, else near the
        // top left corner.
        index = GetItemIndex();
        POINT client{1, 1};
        RECT r{};
        r.left = LVIR_SELECTBOUNDS;
        if (index >= 0 && SendToWindow(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r)))
            client = POINT{r.right, r.bottom};
        point = client;
        ::ClientToScreen(GetHandle(), &point);
    } else {
        LVHITTESTINFO hit{};
        hit.pt = point;
        ::ScreenToClient(GetHandle(), &hit.pt);
        // The list view keeps the right button's release to itself: the
        // program hears of it here, before any menu shows.
        MouseUp(classlib::mbRight, classlib::KeyboardStateToShiftState(), hit.pt.x, hit.pt.y);
        if (!HandleAllocated()) return;
        if (SendToWindow(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0 &&
            (hit.flags & (LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON)))
            index = hit.iItem;
    }
    if (index < 0 || index >= GetItems()->GetCount()) {
        if (backgroundPopupMenu_) {
            backgroundPopupMenu_->PopupComponent = this;
            backgroundPopupMenu_->Popup(point.x, point.y);
        }
    } else if (ShellContextMenu) {
        ShowShellContextMenu(point);
    } else if (popupMenu_) {
        popupMenu_->PopupComponent = this;
        popupMenu_->Popup(point.x, point.y);
    } else {
        // The program's own handling: the parent windows are asked.
        classlib::TListView::WndProc(Message);
        return;
    }
    Message.Result = 0;
}

bool TShellList::ItemHint(classlib::THintInfo& Info)
{
    if (!HandleAllocated() || !GetShowHint()) return false;
    LVHITTESTINFO hit{};
    hit.pt = Info.CursorPos;
    const int index = static_cast<int>(SendToWindow(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (index < 0 || index >= GetItems()->GetCount() || !(hit.flags & LVHT_ONITEM)) return false;
    classlib::TListItem* item = GetItems()->GetItem(index);
    const TShellListItem* record = ShellItem(item);
    std::wstring text;
    if (record && record->IsParentFolder()) {
        text = GetPath();
    } else if (record && record->Pidl) {
        browser_->SetObjectIDList(record->Pidl.get());
        text = browser_->GetInfoTip(true);
    }
    OnInfoTip(this, item, text);
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    SendToWindow(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&bounds));
    Info.HintStr = text;
    // The hint stays while the pointer is on this item (client
    // coordinates, as the record wants them).
    Info.CursorRect = bounds;
    POINT corner{bounds.left, bounds.top};
    ::ClientToScreen(GetHandle(), &corner);
    Info.HintPos = POINT{corner.x + ::GetSystemMetrics(SM_CXCURSOR), corner.y + ::GetSystemMetrics(SM_CYCURSOR)};
    const RECT client = GetClientRect();
    Info.HintMaxWidth = client.right - client.left;
    return true;
}

void TShellList::WndProc(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case classlib::CM_HINTSHOW:
        if (Message.LParam && ItemHint(*reinterpret_cast<classlib::THintInfo*>(Message.LParam))) {
            Message.Result = 0;
            return;
        }
        break;
    case WM_CONTEXTMENU:
        if (HandleAllocated() && reinterpret_cast<HWND>(Message.WParam) == GetHandle()) {
            ContextMenu(Message);
            return;
        }
        break;
    case WM_XBUTTONDOWN:
        // Exactly one side button and nothing else held.
        if (Message.WParam == kSideButtonBack)
            HistoryStep(-1);
        else if (Message.WParam == kSideButtonForward)
            HistoryStep(1);
        break;
    case WM_ERASEBKGND:
        // The picture's painting fills the background itself; erasing
        // first would only flash the plain colour.
        if (drawsBackground_) {
            Message.Result = 1;
            return;
        }
        break;
    case WM_CAPTURECHANGED:
        // The end of a mouse action of the list itself, which may have
        // redrawn the header without the arrow.
        classlib::TListView::WndProc(Message);
        ShowSortArrow();
        return;
    default: break;
    }
    if (!drawsBackground_ || Message.Msg == WM_DESTROY || Message.Msg == WM_NCDESTROY || !HandleAllocated()) {
        classlib::TListView::WndProc(Message);
        return;
    }
    // The window scrolls by copying what it shows, which would drag the
    // picture (fixed to the client area) along with the items; a new size
    // moves a picture placed at the right or bottom. Either way the whole
    // area is painted again.
    HWND wnd = GetHandle();
    const int horizontal = ::GetScrollPos(wnd, SB_HORZ), vertical = ::GetScrollPos(wnd, SB_VERT);
    const auto alive = AliveToken();
    classlib::TListView::WndProc(Message);
    if (!*alive || !drawsBackground_ || !::IsWindow(wnd)) return;
    if (Message.Msg == WM_SIZE || ::GetScrollPos(wnd, SB_HORZ) != horizontal ||
        ::GetScrollPos(wnd, SB_VERT) != vertical)
        ::InvalidateRect(wnd, nullptr, FALSE);
}

void TShellList::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    const bool handler = static_cast<bool>(OnKeyDown);
    classlib::TListView::KeyDown(Key, Shift);
    if (Key == 0 || !HandleAllocated() || SendToWindow(LVM_GETEDITCONTROL, 0, 0)) return;
    const bool ctrl = OnlyKeys(Shift, classlib::ssCtrl);
    switch (Key) {
    case VK_RETURN:
        if (Shift & classlib::ssAlt) {
            ExecuteVerb(L"properties");
            Key = 0;
        } else if (!handler) {
            ExecuteVerb(L"default");
            Key = 0;
        }
        break;
    case VK_LEFT:
    case VK_RIGHT:
        if (OnlyKeys(Shift, classlib::ssAlt)) HistoryStep(Key == VK_LEFT ? -1 : 1);
        break;
    case VK_DELETE:
        if (!GetReadOnly()) ExecuteVerb(L"delete");
        break;
    case 'C':
        if (ctrl) {
            ExecuteVerb(L"copy");
            Key = 0;
        }
        break;
    case 'V':
        if (ctrl && !GetReadOnly()) {
            PasteIntoFolder();
            Key = 0;
        }
        break;
    case 'X':
        if (ctrl && !GetReadOnly()) {
            ExecuteVerb(L"cut");
            Key = 0;
        }
        break;
    case VK_F10:
        if (OnlyKeys(Shift, classlib::ssShift) && ShellContextMenu && GetItemIndex() >= 0) {
            RECT r{};
            r.left = LVIR_SELECTBOUNDS;
            SendToWindow(LVM_GETITEMRECT, static_cast<WPARAM>(GetItemIndex()), reinterpret_cast<LPARAM>(&r));
            POINT corner{r.right, r.bottom};
            ::ClientToScreen(GetHandle(), &corner);
            ShowShellContextMenu(corner);
            Key = 0;
        }
        break;
    default: break;
    }
}

void TShellList::CNNotify(classlib::TMessage& Message)
{
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    if (hdr->code == NM_CUSTOMDRAW) {
        classlib::TListView::CNNotify(Message);
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(hdr);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
            // Before any item: the update area (painting and WM_PRINTCLIENT
            // alike) receives the background picture the window does not
            // draw.
            if (drawsBackground_ && backgroundImage_) PaintBackgroundImage(draw->nmcd.hdc);
            Message.Result |= CDRF_NOTIFYITEMDRAW;
        } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT &&
                   (SendToWindow(LVM_GETITEMSTATE, draw->nmcd.dwItemSpec, LVIS_DROPHILITED) & LVIS_DROPHILITED)) {
            // The item a drag rests on is drawn in the selection colours
            // (the list view does not draw its drop highlight in every view).
            draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED);
            draw->clrText = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw->clrTextBk = ::GetSysColor(COLOR_HIGHLIGHT);
            Message.Result = CDRF_NEWFONT;
        } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            const auto row = static_cast<int>(draw->nmcd.dwItemSpec);
            const TShellListItem* record =
                row >= 0 && row < GetItems()->GetCount() ? ShellItem(GetItems()->GetItem(row)) : nullptr;
            const COLORREF color = record ? AttributeTextColor(record->Flags, options_) : CLR_INVALID;
            if (color != CLR_INVALID) {
                draw->clrText = color;
                Message.Result |= CDRF_NEWFONT;
            }
        }
        return;
    }
    if (hdr->code == LVN_BEGINLABELEDITW) {
        // Only names the shell can change are edited (never " .. ").
        const int index = reinterpret_cast<NMLVDISPINFOW*>(hdr)->item.iItem;
        const TShellListItem* record =
            index >= 0 && index < GetItems()->GetCount() ? ShellItem(GetItems()->GetItem(index)) : nullptr;
        bool can = record && !record->IsParentFolder() && record->Pidl;
        if (can) {
            browser_->SetObjectIDList(record->Pidl.get());
            can = browser_->CanRename();
        }
        Message.Result = can ? FALSE : TRUE;
        return;
    }
    if (hdr->code == LVN_ENDLABELEDITW) {
        // The list renames the object itself; the caption follows only a
        // rename that succeeded.
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(hdr);
        if (info->item.pszText && !RenameItem(info->item.iItem, info->item.pszText)) RenameRefused(renameError_);
        Message.Result = FALSE;
        return;
    }
    if ((hdr->code == LVN_BEGINDRAG || hdr->code == LVN_BEGINRDRAG) && oleDragDrop_) {
        OleDrag(hdr->code == LVN_BEGINRDRAG ? 2 : 1);
        Message.Result = 0;
        return;
    }
    if (hdr->code == LVN_ITEMCHANGED && link_ && !filling_ && !Loading()) {
        // One object chosen by the user: the linked controls follow it.
        auto* nm = reinterpret_cast<NMLISTVIEW*>(hdr);
        const bool selected = (nm->uChanged & LVIF_STATE) && (nm->uNewState & LVIS_SELECTED) &&
                              !(nm->uOldState & LVIS_SELECTED);
        if (selected && nm->iItem >= 0 && nm->iItem < GetItems()->GetCount() && GetSelCount() == 1) {
            const TShellListItem* record = ShellItem(GetItems()->GetItem(nm->iItem));
            if (record && !record->IsParentFolder() && record->Pidl && FolderPidl()) {
                TPidl folder = PidlClone(FolderPidl());
                TPidl object = PidlClone(record->Pidl.get());
                link_->NotifySelectionChanged(this, folder.get(), object.get());
            }
        }
    }
    if (hdr->code == LVN_KEYDOWN && reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey == VK_SPACE && checkboxes_)
        ToggleCheck(GetItemIndex());
    if (hdr->code == NM_CLICK && checkboxes_) {
        LVHITTESTINFO hit{};
        hit.pt = reinterpret_cast<NMITEMACTIVATE*>(hdr)->ptAction;
        if (SendToWindow(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)) >= 0 && (hit.flags & LVHT_ONITEMSTATEICON))
            ToggleCheck(hit.iItem);
    }
    if (hdr->code == LVN_KEYDOWN && reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey == VK_F2 && !GetReadOnly()) {
        const int index = GetItemIndex();
        if (index >= 0) SendToWindow(LVM_EDITLABELW, static_cast<WPARAM>(index), 0);
    }
    if (hdr->code == LVN_KEYDOWN) {
        const WORD key = reinterpret_cast<NMLVKEYDOWN*>(hdr)->wVKey;
        const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
        if (key == VK_F5) {
            Populate();
            if (link_) link_->NotifyFullRefresh(this);
        } else if (key == 'A' && ctrl) {
            SelectAll();
        } else if (key == VK_BACK && (!link_ || link_->GetParentAllowed())) {
            NavigateUp();
        }
    }
    classlib::TListView::CNNotify(Message);
    if (hdr->code == NM_DBLCLK) {
        auto* act = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        if (act->iItem >= 0 && act->iItem < GetItems()->GetCount()) {
            const TShellListItem* record = ShellItem(GetItems()->GetItem(act->iItem));
            if (record && record->IsParentFolder())
                NavigateUp();
            else if (OnDblClick && GetOwner())
                OnDblClick(this);
            else if (GetItems()->GetItem(act->iItem)->GetSelected())
                ExecuteVerb(L"default");
        }
    }
}

}  // namespace shell
