#include "controls/shell/ShellControls.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <unordered_map>

#include "classlib/ExtCtrls.h"
#include "classlib/FileCtrl.h"
#include "classlib/SysUtils.h"
#include "controls/shell/ShWideStr.h"
#include "controls/shell/ShWorkItems.h"

namespace shell {

namespace {

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
    Allowed &= DROPEFFECT_COPY | DROPEFFECT_MOVE;
    DWORD wanted = SameDrive ? DROPEFFECT_MOVE : DROPEFFECT_COPY;
    if (KeyState & MK_SHIFT) wanted = DROPEFFECT_MOVE;
    if (KeyState & MK_CONTROL) wanted = DROPEFFECT_COPY;
    if (Allowed & wanted) return wanted;
    if (Allowed & DROPEFFECT_COPY) return DROPEFFECT_COPY;
    return Allowed & DROPEFFECT_MOVE;
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

// ---- tree

// One node: the object's list relative to the folder holding it (a copy of
// the absolute list for the root) and its absolute list, both owned.
struct TShellTree::TNode : classlib::TObject {
    enum : std::uint8_t { fFolder = 2, fCompressed = 4, fEncrypted = 8, fKeep = 32 };
    TComRef<IShellFolder> ParentFolder;  // null for the root
    TPidl Pidl;
    TPidl Absolute;
    int SeenMark = 1;
    std::uint8_t Flags = 0;
    HTREEITEM Item = nullptr;
    bool Filled = false;  // the children were read
    int Image = -1;       // closed icon (-1: not known yet)
    int OpenImage = -1;   // icon while selected
    bool IconAsked = false;
};

namespace {

// The five state images of the check boxes in the order of
// TShSelectionState: none, disabled unchecked, checked, unchecked,
// disabled checked. The caller owns the list.
HIMAGELIST MakeCheckImages()
{
    HIMAGELIST images = ::ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 5, 0);
    if (!images) return nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    const UINT looks[] = {0, DFCS_INACTIVE, DFCS_CHECKED, 0, DFCS_CHECKED | DFCS_INACTIVE};
    for (int i = 0; i < 5; ++i) {
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 16, 16);
        HGDIOBJ old = ::SelectObject(dc, bitmap);
        const COLORREF mask = i == 0 ? RGB(255, 255, 255) : RGB(255, 0, 0);
        RECT r{0, 0, 16, 16};
        HBRUSH brush = ::CreateSolidBrush(mask);
        ::FillRect(dc, &r, brush);
        ::DeleteObject(brush);
        RECT box{2, 2, 15, 15};
        if (i != 0) ::DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | looks[i]);
        ::SelectObject(dc, old);
        ::ImageList_AddMasked(images, bitmap, mask);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    return images;
}

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

// The tree's drop target: not reference counted (the tree's lifetime; the
// tree revokes it with its window). Every call answers S_OK: a change of
// effect is an answer, not a failure.
class TShellTree::TDropTarget : public classlib::TUncountedComObject<IDropTarget, IID_IDropTarget> {
public:
    explicit TDropTarget(TShellTree* Tree) : tree_(Tree) {}
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        files_ = GetFilenamesFromDataObject(Data);
        return DragOver(KeyState, Point, Effect);
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        HTREEITEM node = tree_->NodeAt(Point);
        *Effect = DropEffectInto(files_.get(), KeyState, *Effect, tree_->NodePath(node));
        Highlight(*Effect != DROPEFFECT_NONE ? node : nullptr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        files_.reset();
        Highlight(nullptr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* Data, DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(Data);
        files_.reset();
        Highlight(nullptr);
        HTREEITEM node = tree_->NodeAt(Point);
        const DWORD effect = DropEffectInto(files.get(), KeyState, *Effect, tree_->NodePath(node));
        *Effect = effect == DROPEFFECT_NONE ? DROPEFFECT_NONE : tree_->DropInto(node, files.get(), effect);
        return S_OK;
    }

private:
    void Highlight(HTREEITEM Node)
    {
        if (tree_->HandleAllocated())
            tree_->Send(TVM_SELECTITEM, TVGN_DROPHILITE, reinterpret_cast<LPARAM>(Node));
    }
    TShellTree* tree_;
    std::unique_ptr<classlib::TStringList> files_;
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

DWORD TShellTree::DropInto(HTREEITEM Node, const classlib::TStringList* Files, DWORD Effect)
{
    const std::wstring folder = NodePath(Node);
    if (!CopyOrMoveInto(HandleAllocated() ? GetHandle() : nullptr, Files, folder, Effect)) return DROPEFFECT_NONE;
    if (NodeOf(Node)) RefreshNode(Node, false);
    auto files = std::make_unique<classlib::TStringList>();
    for (int i = 0; i < Files->GetCount(); ++i) files->Add(Files->GetStrings(i));
    OnOperation(this, OperationBit(Effect == DROPEFFECT_MOVE ? sopMove : sopCopy) | OperationBit(sopDrop), files.get(),
                folder);
    if (link_) link_->NotifyUpdateContents(this);
    return Effect;
}

void TShellTree::DestroyWnd()
{
    if (dropRegistered_ && HandleAllocated()) ::RevokeDragDrop(GetHandle());
    dropRegistered_ = false;
    classlib::TSystemControl::DestroyWnd();
}

TShellTree::TShellTree(classlib::TComponent* AOwner)
    : classlib::TSystemControl(AOwner),
      dropTarget_(std::make_unique<TDropTarget>(this)),
      browser_(std::make_unique<TShFolderObject>(nullptr)),
      history_(std::make_unique<TPidlHistory>()),
      notifier_(std::make_unique<TShellChangeNotifier>(nullptr))
{
    SetBounds(0, 0, 200, 300);
    SetTabStop(true);
    SetColor(classlib::clWindow);
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
    if (checkImages_) ::ImageList_Destroy(checkImages_);
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
    // The boxes show the link's selection list: without a link, none.
    if (Value && (!link_ || !link_->GetSelectionList())) Value = false;
    if (Value == checkBoxes_) return;
    checkBoxes_ = Value;
    if (Value && !checkImages_) checkImages_ = MakeCheckImages();
    if (HandleAllocated()) Send(TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(Value ? checkImages_ : nullptr));
    if (!Value && checkImages_) {
        ::ImageList_Destroy(checkImages_);
        checkImages_ = nullptr;
    }
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
    THourglass hourglass;
    ++quiet_;
    Send(TVM_SELECTITEM, TVGN_CARET, 0);
    Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    // Whatever is still queued for the old nodes goes in one pass.
    CancelWork(nullptr, this);
    nodes_.clear();

    auto node = std::make_unique<TNode>();
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
    if (HTREEITEM root = Root()) {
        if (Selection()) SetNodeState(root, NodeState(root));
        ExpandNode(root);
        Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
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
    auto node = std::make_unique<TNode>();
    node->ParentFolder = Share(browser_->ShellFolder());
    node->Pidl = browser_->GetObjectIDList();
    node->Absolute = PidlClone(browser_->GetAbsoluteObjectIDList());
    if (!node->Pidl || !node->Absolute) return nullptr;
    node->Flags = static_cast<std::uint8_t>((folder ? TNode::fFolder : 0) | (Keep ? TNode::fKeep : 0));
    const WIN32_FIND_DATAW& fd = browser_->GetFindData();
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) node->Flags |= TNode::fCompressed;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) node->Flags |= TNode::fEncrypted;
    const std::wstring text = browser_->GetDisplayName();
    const bool children = folder && (GetShowFiles() || browser_->HasSubFolders());
    const std::wstring path = OnAddFolder ? PidlToPath(node->Absolute.get()) : std::wstring();
    TVINSERTSTRUCTW ins{};
    ins.hParent = ParentItem;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
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

void TShellTree::ExpandNode(HTREEITEM Item)
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

void TShellTree::RefreshNode(HTREEITEM Item, bool Recursive)
{
    TNode* node = NodeOf(Item);
    if (!node || !node->Filled) return;
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
        } else if (AddChildNode(Item, false)) {
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
                    ExpandNode(node);
                    Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
                }
                TPidl item = PidlGetItem(Pidl, level + d);
                HTREEITEM next = nullptr;
                for (HTREEITEM c = Child(node); c && !next; c = Next(c)) {
                    TNode* n = NodeOf(c);
                    if (n && SameObject(n->ParentFolder.Get(), n->Pidl.get(), item.get())) next = c;
                }
                if (!next) break;
                node = next;
                if (level + d + 1 == t) found = true;
            }
        }
    }
    canFill_ = oldCanFill;
    if (!found && (Mode == 2 || Mode == 3)) Mode = 1;
    switch (Mode) {
    case 0: SelectNode(node); break;
    case 1: RefreshNode(node, !rootedAtFolder_.empty()); break;
    case 2:
        if (HTREEITEM p = Parent(node)) RefreshNode(p, false);
        break;
    case 3:
        if (Parent(node)) DeleteNode(node);
        break;
    default: break;
    }
    return found;
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
    if (!node) return {};
    if (Level(Item) == 0 && rootedAt_ == SF_DESKTOP) return {};
    return PidlToPath(node->Absolute.get());
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
        pendingPath_ = Value;
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
    TNode* node = NodeOf(Selected());
    return node ? PidlToSpecialFolder(node->Absolute.get()) : SF_FILESYSTEMFOLDER;
}

void TShellTree::SetSpecialFolder(TShellFolder Value)
{
    if (Value == SF_FILESYSTEMFOLDER) return;
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
    if (!HandleAllocated()) return;
    if (!Root())
        SetRootedAt(rootedAt_);
    else
        RefreshNode(Root(), true);
}

void STDMETHODCALLTYPE TShellTree::UpdateContents()
{
    HTREEITEM sel = Selected();
    if (sel) RefreshNode(sel, true);
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
    if (Kind == 1) return;
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
    Params.Style |= WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_SHOWSELALWAYS | TVS_NOHSCROLL;
    if (!ReadOnly) Params.Style |= TVS_EDITLABELS;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
    Params.Caption.clear();
}

void TShellTree::CreateHandleDone()
{
    classlib::TSystemControl::CreateHandleDone();
    Send(TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(SmallIcons()));
    if (checkImages_) Send(TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(checkImages_));
    // Fails without OLE on this thread: the tree then takes no drops.
    if (OleDragDrop && !dropRegistered_) dropRegistered_ = SUCCEEDED(::RegisterDragDrop(GetHandle(), dropTarget_.get()));
    nodes_.clear();
    SetRootedAt(rootedAt_);
    const std::wstring pending = pendingPath_;
    pendingPath_.clear();
    if (!pending.empty()) SetSelectedFolder(pending);
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
        ExpandNode(Item);
        Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(Item));
    }
    return true;
}

void TShellTree::ShowNodeMenu(HTREEITEM Item, POINT ScreenPoint)
{
    TNode* node = NodeOf(Item);
    if (!node) return;
    // The node may go while the menu runs (a verb the shell announces at
    // once): only copies are used afterwards.
    TPidl absolute = PidlClone(node->Absolute.get());
    const std::wstring path = PidlToPath(absolute.get());
    const bool root = Parent(Item) == nullptr;
    browser_->SetAbsoluteIDList(absolute.get());
    ++quiet_;
    std::wstring verb;
    try {
        verb = browser_->ShowContextMenu(ScreenPoint);
    } catch (...) {
        --quiet_;
        throw;
    }
    --quiet_;
    if (verb.empty()) return;
    if (verb == L"delete") {
        if (!root) LocatePidl(absolute.get(), PathExists(path) ? 2 : 3);
        auto files = std::make_unique<classlib::TStringList>();
        files->Add(path);
        OnOperation(this, OperationBit(sopDelete) | OperationBit(sopRemove), files.get(), std::wstring());
        if (link_) link_->NotifyUpdateContents(this);
    } else {
        LocatePidl(absolute.get(), 1);
    }
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
        if (info->item.pszText) RenameNode(info->item.hItem, info->item.pszText);
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
        } else if (hdr->code == NM_RCLICK && ShellContextMenu) {
            ShowNodeMenu(hit.hItem, screen);
            Message.Result = TRUE;
        }
        break;
    }
    case NM_CUSTOMDRAW: {
        auto* draw = reinterpret_cast<NMTVCUSTOMDRAW*>(hdr);
        Message.Result = classlib::DrawInactiveSelection(GetHandle(), draw->nmcd.dwDrawStage, draw->nmcd.uItemState,
                                                         draw->clrText, draw->clrTextBk);
        break;
    }
    case TVN_ITEMEXPANDINGW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (!(nm->action & TVE_EXPAND)) break;
        if (!canFill_ && Parent(nm->itemNew.hItem)) {
            Message.Result = TRUE;
            break;
        }
        ExpandNode(nm->itemNew.hItem);
        break;
    }
    case TVN_SELCHANGEDW: {
        if (quiet_) break;
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        TNode* node = NodeOf(nm->itemNew.hItem);
        if (!node) break;
        if (!navigatingHistory_) history_->Push(PidlClone(node->Absolute.get()));
        OnChange(this);
        NotifyLink(nm->itemNew.hItem);
        if (ExpandOnSelected) {
            HTREEITEM p = Parent(nm->itemNew.hItem);
            for (HTREEITEM c = p ? Child(p) : Root(); c; c = Next(c))
                if (c != nm->itemNew.hItem) Send(TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(c));
            ExpandNode(nm->itemNew.hItem);
            Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(nm->itemNew.hItem));
        }
        break;
    }
    case TVN_GETDISPINFOW: {
        auto* info = reinterpret_cast<NMTVDISPINFOW*>(hdr);
        auto it = nodes_.find(reinterpret_cast<classlib::TObject*>(info->item.lParam));
        if (it == nodes_.end()) break;
        TNode* node = it->second.get();
        if (!node->IconAsked && (info->item.mask & (TVIF_IMAGE | TVIF_SELECTEDIMAGE))) {
            node->IconAsked = true;
            QueueIcon(this, node, PidlClone(node->Absolute.get()), 0);
            QueueIcon(this, node, PidlClone(node->Absolute.get()), 2);
        }
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
      notifier_(std::make_unique<TShellChangeNotifier>(nullptr)),
      refreshTimer_(std::make_unique<classlib::TTimer>(nullptr)),
      fillTimer_(std::make_unique<classlib::TTimer>(nullptr))
{
    browser_->SetShowErrorMessages(false);
    thumbSink_ = new TThumbnailSink(this);
    MakeThumbnailImages();
    SetSmallImages(SmallIcons());
    SetViewStyle(classlib::vsReport);
    SetReadOnly(true);
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
    if (checkImages_) ::ImageList_Destroy(checkImages_);
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
    SetLargeImages(Value ? thumbImages_ : nullptr);
    SetViewStyle(Value ? classlib::vsIcon : classlib::vsReport);
    Populate();
}

void TShellList::SetThumbnailSize(int Width, int Height)
{
    if (Width <= 0 || Height <= 0 || (Width == thumbWidth_ && Height == thumbHeight_)) return;
    thumbWidth_ = Width;
    thumbHeight_ = Height;
    MakeThumbnailImages();
    if (thumbnails_) Populate();
}

void TShellList::SetThumbnailBorderColor(classlib::TColor Value)
{
    if (Value == thumbBorder_) return;
    thumbBorder_ = Value;
    if (thumbnails_) Populate();
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
    const int index = ::ImageList_Add(thumbImages_, picture, nullptr);
    ::DeleteObject(picture);
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
    OnThumbnailUpdated(this, ImageIndex, framed.get());
    ::ImageList_Replace(thumbImages_, ImageIndex, framed->GetHandle(), nullptr);
    const int row = GetItems()->IndexOf(it->second->Item);
    if (HandleAllocated() && row >= 0) SendToWindow(LVM_REDRAWITEMS, static_cast<WPARAM>(row), static_cast<LPARAM>(row));
}

int TShellList::ItemImageIndex(classlib::TListItem* Item)
{
    TShellListItem* record = ShellItem(Item);
    if (thumbnails_) {
        if (record && !record->IconAsked && !record->IsParentFolder()) {
            record->IconAsked = true;
            const int index = AddPlaceholder(record);
            Item->SetImageIndex(index);
            if (index >= 0) QueueThumbnail(record, index);
        }
        return Item->GetImageIndex();
    }
    if (record && !record->IconAsked && record->Pidl && browser_->FolderIDList()) {
        record->IconAsked = true;
        QueueIcon(this, record, PidlCombine(browser_->FolderIDList(), record->Pidl.get()), 0);
    }
    return Item->GetImageIndex();
}

void TShellList::IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag)
{
    // An item that left the list (its work cancelled) is not looked at.
    auto it = records_.find(Tag);
    if (it == records_.end() || IconIndex < 0 || Kind != 0) return;
    it->second->Item->SetImageIndex(IconIndex);
}

void TShellList::CreateHandleDone()
{
    classlib::TListView::CreateHandleDone();
    Register();
}

std::wstring TShellList::GetPath() const { return browser_->ShellFolder() ? browser_->GetFolder() : std::wstring(); }

LPCITEMIDLIST TShellList::FolderPidl()
{
    if (!folderPidl_ && browser_->FolderIDList()) folderPidl_ = browser_->GetFolderIDList();
    return folderPidl_.get();
}

void TShellList::SetPath(const std::wstring& Value)
{
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
    if (Value != SF_FILESYSTEMFOLDER) browser_->SetSpecialFolder(Value);
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
    if (link_ && browser_->FolderIDList()) {
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
    if ((Value & soNoFillOnStartup) && !HandleAllocated()) return;
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
    CreateColumns();
    Populate();
}

void TShellList::CreateColumns()
{
    static const wchar_t* const kTitles[ListDetailCount] = {L"Name", L"Size", L"Type", L"Modified"};
    static const int kWidths[ListDetailCount] = {200, 70, 120, 110};
    classlib::TListColumns* columns = GetColumns();
    const int count = details_ ? ListDetailCount : 1;
    while (columns->GetCount() > count) columns->Delete(columns->GetCount() - 1);
    for (int i = columns->GetCount(); i < count; ++i) {
        classlib::TListColumn* c = columns->Add();
        c->SetCaption(kTitles[columnDetail_[i]]);
        c->SetWidth(kWidths[columnDetail_[i]]);
        if (columnDetail_[i] == ldSize) c->SetAlignment(classlib::taRightJustify);
    }
    if (sortColumn_ >= count) sortColumn_ = 0;
}

void TShellList::SortBy(int Column, bool Descending)
{
    sortColumn_ = Column >= 0 && Column < GetColumns()->GetCount() ? Column : 0;
    sortDescending_ = Descending;
    Populate();
}

void TShellList::ShowSortArrow()
{
    if (!HandleAllocated()) return;
    auto header = reinterpret_cast<HWND>(SendToWindow(LVM_GETHEADER, 0, 0));
    if (!header) return;
    const int count = static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        HDITEMW hd{};
        hd.mask = HDI_FORMAT;
        if (!::SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd))) continue;
        hd.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == sortColumn_) hd.fmt |= sortDescending_ ? HDF_SORTDOWN : HDF_SORTUP;
        ::SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&hd));
    }
}

bool TShellList::MakeEntry(TFolderEntry& Entry)
{
    const bool folder = browser_->IsFolder();
    if (folder && !showFolders_) return false;
    if (!IsShownObject(*browser_, options_)) return false;
    const WIN32_FIND_DATAW& fd = browser_->GetFindData();
    Entry.Name = browser_->GetDisplayName();
    Entry.ObjectName = fd.cFileName;
    Entry.Folder = folder;
    Entry.Size = (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
    Entry.Modified = fd.ftLastWriteTime;
    Entry.Flags = static_cast<std::uint8_t>((folder ? TShellListItem::fFolder : 0) |
                                            ((fd.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) ? TShellListItem::fCompressed : 0) |
                                            ((fd.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) ? TShellListItem::fEncrypted : 0));
    Entry.Pidl = std::shared_ptr<ITEMIDLIST>(browser_->GetObjectIDList().release(), TPidlFree());
    return Entry.Pidl != nullptr;
}

classlib::TListItem* TShellList::AddEntry(const TFolderEntry& Entry)
{
    classlib::TListItems* items = GetItems();
    classlib::TListItem* item = items->Add();
    auto record = std::make_unique<TShellListItem>();
    record->Item = item;
    record->Pidl = PidlClone(Entry.Pidl.get());
    record->ObjectName = Entry.ObjectName;
    record->Flags = Entry.Flags;
    item->Data = record.get();
    TShellListItem* raw = record.get();
    records_.emplace(raw, std::move(record));
    item->SetCaption(Entry.Name);
    if (details_)
        for (int c = 1; c < GetColumns()->GetCount(); ++c) item->GetSubItems()->Add(DetailText(Entry, columnDetail_[c]));
    item->SetStateIndex(CheckState(item));
    if (OnAddItem) {
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
    classlib::TListItem* item = GetItems()->Insert(0);
    auto record = std::make_unique<TShellListItem>();
    record->Item = item;
    record->Flags = TShellListItem::fParent | TShellListItem::fFolder;
    record->IconAsked = true;
    item->Data = record.get();
    TShellListItem* raw = record.get();
    records_.emplace(raw, std::move(record));
    item->SetCaption(L" .. ");
    item->SetImageIndex(GetIconIndexOfFolder(false));
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
    if (record && record->IsParentFolder()) return -1;
    return link_->GetSelectionList()->GetStateOfPath(GetItemPath(Item));
}

void TShellList::SetCheckboxes(bool Value)
{
    // Without a link there is no selection list to keep the checks.
    if (Value && (!link_ || !link_->GetSelectionList())) Value = false;
    if (Value == checkboxes_) return;
    checkboxes_ = Value;
    if (Value && !checkImages_) checkImages_ = MakeCheckImages();
    SetStateImages(Value ? checkImages_ : nullptr);
    if (!Value && checkImages_) {
        ::ImageList_Destroy(checkImages_);
        checkImages_ = nullptr;
    }
    Populate();
}

void TShellList::ToggleCheck(int Index)
{
    if (!checkboxes_ || !link_ || Index < 0 || Index >= GetItems()->GetCount()) return;
    TShSelectionList* selection = link_->GetSelectionList();
    if (!selection) return;
    classlib::TListItem* item = GetItems()->GetItem(Index);
    const std::wstring path = GetItemPath(item);
    if (path.empty()) return;
    const int state = selection->GetStateOfPath(path);
    if (state == ssNone || state == ssUnused) return;
    filling_ = true;
    selection->BeginUpdate();
    if (state == ssChecked)
        selection->Uncheck(path);
    else
        selection->Check(path);
    const int now = selection->GetStateOfPath(path);
    item->SetStateIndex(now);
    selection->EndUpdate();
    filling_ = false;
    OnCheckStateChanged(this, Index, path, static_cast<TShSelectionState>(now));
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
    pending_.clear();
    pendingNext_ = 0;
    reading_ = browser_->ShellFolder() != nullptr;
    if (reading_) {
        // The same list again: the enumeration starts from the beginning.
        browser_->SetFolderIDList(browser_->FolderIDList());
        // A small folder is read whole at once, however busy the machine.
        if (!ReadStep(kReadStepMs, kReadAtOnce)) {
            fillTimer_->SetEnabled(true);
            return;
        }
        reading_ = false;
        SortEntries(pending_, columnDetail_[sortColumn_], sortDescending_);
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
        if (ReadStep(kReadStepMs, 0)) {
            reading_ = false;
            SortEntries(pending_, columnDetail_[sortColumn_], sortDescending_);
        }
        // The items are added from the next step on.
        fillTimer_->SetEnabled(true);
        return;
    }
    AddPending();
}

void TShellList::AddPending()
{
    classlib::TListItems* items = GetItems();
    const bool first = pendingNext_ == 0;
    const std::size_t end = std::min(pending_.size(), pendingNext_ + kFillStep);
    items->BeginUpdate();
    if (first && showParentFolder_) AddParentItem();
    // At most kFillStep items, and no more than a step's time after the
    // first ones (a busy machine makes each item slower).
    const DWORD start = ::GetTickCount();
    for (std::size_t n = 0; pendingNext_ < end; ++pendingNext_, ++n) {
        AddEntry(pending_[pendingNext_]);
        if (!first && (n & 15) == 15 && ::GetTickCount() - start >= kReadStepMs) {
            ++pendingNext_;
            break;
        }
    }
    items->EndUpdate();
    if (pendingNext_ < pending_.size()) {
        fillTimer_->SetEnabled(true);
        return;
    }
    pending_.clear();
    pendingNext_ = 0;
    for (const std::wstring& name : reselect_) {
        const int i = IndexOfObject(name);
        if (i >= 0) items->GetItem(i)->SetSelected(true);
    }
    reselect_.clear();
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
    if (filling_ || !browser_->ShellFolder()) return;
    classlib::TListItems* items = GetItems();
    if (items->GetCount() > 500) {
        Populate();
        return;
    }
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
        if (HandleAllocated() && (SendToWindow(LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_CUT) & LVIS_CUT)) {
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
    if (!Object) return;
    TPidl last = PidlGetLastItem(Object);
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i) {
        const TShellListItem* record = ShellItem(items->GetItem(i));
        if (record && record->Pidl && SameObject(browser_->ShellFolder(), record->Pidl.get(), last.get())) {
            SetSelected(items->GetItem(i));
            items->GetItem(i)->SetFocused(true);
            if (HandleAllocated()) SendToWindow(LVM_ENSUREVISIBLE, static_cast<WPARAM>(i), FALSE);
            break;
        }
    }
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

// The list's drop target: not reference counted (the list's lifetime; the
// list revokes it with its window).
class TShellList::TDropTarget : public classlib::TUncountedComObject<IDropTarget, IID_IDropTarget> {
public:
    explicit TDropTarget(TShellList* List) : list_(List) {}
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        files_ = GetFilenamesFromDataObject(Data);
        *Effect = list_->DropEffect(files_.get(), KeyState, *Effect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        *Effect = list_->DropEffect(files_.get(), KeyState, *Effect);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override
    {
        files_.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* Data, DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        std::unique_ptr<classlib::TStringList> files = GetFilenamesFromDataObject(Data);
        files_.reset();
        const DWORD effect = list_->DropEffect(files.get(), KeyState, *Effect);
        *Effect = effect == DROPEFFECT_NONE ? DROPEFFECT_NONE : list_->DropFiles(files.get(), effect);
        return S_OK;
    }

private:
    TShellList* list_;
    std::unique_ptr<classlib::TStringList> files_;
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
    // Fails without OLE on this thread: the list then takes no drops.
    dropRegistered_ = SUCCEEDED(::RegisterDragDrop(GetHandle(), dropTarget_.get()));
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
    classlib::TListView::DestroyWnd();
}

DWORD DropEffectInto(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed, const std::wstring& Folder)
{
    if (!Files || Files->GetCount() == 0 || Folder.empty()) return DROPEFFECT_NONE;
    bool sameDrive = true;
    for (int i = 0; i < Files->GetCount(); ++i) {
        const std::wstring& f = Files->GetStrings(i);
        // Already there, or a folder onto itself or into its own tree.
        if (SamePath(classlib::ExtractFilePath(f), Folder) || SamePath(f, Folder) || IsPathBelow(f, Folder))
            return DROPEFFECT_NONE;
        sameDrive = sameDrive && classlib::WideSameText(classlib::ExtractFileDrive(f), classlib::ExtractFileDrive(Folder));
    }
    return ChooseDropEffect(KeyState, Allowed, sameDrive);
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

DWORD TShellList::DropEffect(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed) const
{
    return DropEffectInto(Files, KeyState, Allowed, GetPath());
}

DWORD TShellList::DropFiles(const classlib::TStringList* Files, DWORD Effect)
{
    const bool done = CopyOrMoveInto(HandleAllocated() ? GetHandle() : nullptr, Files, GetPath(), Effect);
    UpdateContents();
    if (!done) return DROPEFFECT_NONE;
    for (int i = 0; i < GetItems()->GetCount(); ++i) {
        classlib::TListItem* item = GetItems()->GetItem(i);
        bool dropped = false;
        for (int k = 0; k < Files->GetCount() && !dropped; ++k)
            dropped = SamePath(classlib::ExtractFileName(Files->GetStrings(k)), KeyOf(item));
        item->SetSelected(dropped);
    }
    return Effect;
}

bool TShellList::RenameItem(int Index, const std::wstring& NewName)
{
    const std::wstring folder = GetPath();
    if (Index < 0 || Index >= GetItems()->GetCount() || folder.empty()) return false;
    classlib::TListItem* item = GetItems()->GetItem(Index);
    TShellListItem* record = ShellItem(item);
    if (!record || record->IsParentFolder() || record->ObjectName.empty()) return false;
    const std::wstring oldName = record->ObjectName;
    if (NewName.empty() || NewName == oldName || NewName.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos ||
        NewName == L"." || NewName == L"..")
        return false;
    const std::wstring from = folder + oldName, to = folder + NewName;
    // MoveFileW refuses an existing target (other than the object itself
    // under a new letter case).
    if (!::MoveFileW(from.c_str(), to.c_str())) return false;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW(to.c_str(), &fd);
    TFolderEntry entry;
    entry.Name = NewName;
    if (h != INVALID_HANDLE_VALUE) {
        ::FindClose(h);
        entry.Name = fd.cFileName;
        entry.Folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.Size = (std::uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        entry.Modified = fd.ftLastWriteTime;
    }
    // The object's list follows its new name.
    if (TPidl pidl = PathToPidl(browser_->ShellFolder(), entry.Name)) record->Pidl = std::move(pidl);
    record->ObjectName = entry.Name;
    record->FullPath.clear();
    browser_->SetObjectIDList(record->Pidl.get());
    const std::wstring shown = browser_->GetDisplayName();
    item->SetCaption(shown.empty() ? entry.Name : shown);
    item->GetSubItems()->Clear();
    if (details_)
        for (int c = 1; c < GetColumns()->GetCount(); ++c) item->GetSubItems()->Add(DetailText(entry, columnDetail_[c]));
    CancelWork(record, this);
    item->SetImageIndex(-1);
    record->IconAsked = false;
    // The other views of the folder (and the tree, for a folder) follow.
    ::SHChangeNotify(entry.Folder ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, from.c_str(),
                     to.c_str());
    return true;
}

void TShellList::ShowObjectMenu(int Index, POINT ClientPoint)
{
    classlib::TListItem* clicked = GetItems()->GetItem(Index);
    const TShellListItem* record = ShellItem(clicked);
    if (!record || !record->Pidl) return;
    auto objects = std::make_unique<classlib::TStringList>();
    if (clicked->GetSelected())
        for (int i = 0; i < GetItems()->GetCount(); ++i)
            if (GetItems()->GetItem(i)->GetSelected() && i != Index) {
                const std::wstring path = GetItemPath(GetItems()->GetItem(i));
                if (!path.empty()) objects->Add(path);
            }
    if (objects->GetCount() > 0) {
        objects->Insert(0, GetItemPath(clicked));
        browser_->SetMultiObjects(objects.release());
    }
    browser_->SetObjectIDList(record->Pidl.get());
    POINT screen = ClientPoint;
    ::ClientToScreen(GetHandle(), &screen);
    const std::wstring verb = browser_->ShowContextMenu(screen);
    // What a verb changed in the folder shows at once.
    if (!verb.empty()) {
        UpdateContents();
        if (link_ && (verb == L"delete" || verb == L"rename" || verb == L"cut"))
            link_->NotifyUpdateContents(this);
    }
}

void TShellList::CNNotify(classlib::TMessage& Message)
{
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    if (hdr->code == LVN_ENDLABELEDITW) {
        // The list renames the object itself; the caption follows only a
        // rename that succeeded.
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(hdr);
        if (info->item.pszText) RenameItem(info->item.iItem, info->item.pszText);
        Message.Result = FALSE;
        return;
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
    if (hdr->code == NM_RCLICK && ShellContextMenu) {
        // The shell's menu of the selected objects (or of the one clicked).
        auto* act = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        if (act->iItem >= 0 && act->iItem < GetItems()->GetCount()) {
            ShowObjectMenu(act->iItem, act->ptAction);
            Message.Result = TRUE;
            return;
        }
    }
    classlib::TListView::CNNotify(Message);
    if (hdr->code == LVN_COLUMNCLICK) {
        const int column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem;
        SortBy(column, column == sortColumn_ && !sortDescending_);
    }
    if (hdr->code == NM_DBLCLK) {
        auto* act = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        if (act->iItem >= 0 && act->iItem < GetItems()->GetCount()) {
            const TShellListItem* record = ShellItem(GetItems()->GetItem(act->iItem));
            if (record && record->IsParentFolder())
                NavigateUp();
            else
                OnDblClick(this);
        }
    }
}

}  // namespace shell
