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

// The sub-folders of Folder (names), sorted ignoring case.
std::vector<std::wstring> SubFolders(const std::wstring& Folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileExW((WithBackslash(Folder) + L"*").c_str(), FindExInfoBasic, &fd,
                                  FindExSearchLimitToDirectories, nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) continue;
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        names.push_back(n);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    std::sort(names.begin(), names.end(), LessNoCase);
    return names;
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

// ---- link client

HRESULT STDMETHODCALLTYPE TShellLinkClient::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IShellControl) {
        *ppv = static_cast<IShellControl*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

class TShellLinkClient::TIconSink : public IIconViewer {
public:
    explicit TIconSink(TShellLinkClient* Client) : client_(Client) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        const bool known = riid == IID_IUnknown || riid == IID_IIconViewer;
        *ppv = known ? static_cast<IIconViewer*>(this) : nullptr;
        return known ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    // Main thread (the work items' done step).
    void STDMETHODCALLTYPE SetIconIndex(int IconIndex, std::uint8_t Kind, classlib::TObject* Item) override
    {
        if (client_) client_->IconArrived(IconIndex, Kind, Item);
    }
    void Detach() { client_ = nullptr; }

private:
    virtual ~TIconSink() = default;
    std::atomic<ULONG> refs_{1};
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

void TShellLinkClient::QueueIcon(classlib::TObject* Group, classlib::TObject* Tag, const std::wstring& Path,
                                 std::uint8_t Kind)
{
    auto* work = new TIconWorkItem(TPidl(), Group, Tag, iconSink_, Kind);
    work->Path = Path;
    ShellWorkPool()->AddWorkItem(work);
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

void TShellLinkClient::NotifyFolder(const std::wstring& Folder)
{
    if (!link_ || Folder.empty()) return;
    PIDLIST_ABSOLUTE pidl = nullptr;
    if (SUCCEEDED(::SHParseDisplayName(Folder.c_str(), nullptr, &pidl, 0, nullptr)) && pidl) {
        link_->NotifyFolderChanged(this, pidl);
        ::CoTaskMemFree(pidl);
    }
}

std::wstring TShellLinkClient::PathOfPidl(LPCITEMIDLIST Pidl)
{
    wchar_t buf[MAX_PATH * 4] = {};
    if (!Pidl || !::SHGetPathFromIDListW(Pidl, buf)) return L"";
    return buf;
}

// ---- tree

TShellTree::TShellTree(classlib::TComponent* AOwner)
    : classlib::TSystemControl(AOwner), notifier_(std::make_unique<TShellChangeNotifier>(nullptr))
{
    SetBounds(0, 0, 150, 200);
    SetTabStop(true);
    SetColor(classlib::clWindow);
    // No folder given: every drive, recursively.
    notifier_->SetEventFilter(NotificationBit(neFolderCreate) | NotificationBit(neFolderDelete) |
                              NotificationBit(neFolderRename));
    notifier_->OnChange = TShellNotifierEvent(this, &TShellTree::ShellChanged);
}

TShellTree::~TShellTree()
{
    notifier_->SetEnabled(false);
    notifier_->OnChange = nullptr;
    DetachIcons();
    SetShellLink(nullptr);
    CancelWork(nullptr, this);
}

void TShellTree::DropNodes()
{
    CancelWork(nullptr, this);
    nodes_.clear();
}

void TShellTree::ShellChanged(classlib::TObject*, TNotificationEvent Event, const std::wstring& Path1,
                              const std::wstring& Path2)
{
    if (!HandleAllocated()) return;
    RefreshChildren(classlib::ExtractFilePath(classlib::ExcludeTrailingPathDelimiter(Path1)));
    if (Event == neFolderRename && !Path2.empty())
        RefreshChildren(classlib::ExtractFilePath(classlib::ExcludeTrailingPathDelimiter(Path2)));
}

void TShellTree::RefreshChildren(const std::wstring& Folder)
{
    if (Folder.empty()) return;
    auto it = std::find_if(nodes_.begin(), nodes_.end(),
                           [&](const auto& n) { return n->Filled && SamePath(n->Path, Folder); });
    if (it == nodes_.end()) return;
    TNode* parent = it->get();
    const HTREEITEM parentItem = parent->Item;
    const std::wstring base = parent->Path;
    std::vector<std::wstring> subs = SubFolders(base);
    std::vector<bool> kept(subs.size(), false);
    auto child = reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parentItem)));
    while (child) {
        auto next = reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child)));
        TNode* node = NodeOf(child);
        bool found = false;
        for (std::size_t i = 0; node && i < subs.size(); ++i)
            if (!kept[i] && SamePath(node->Path, base + subs[i])) {
                kept[i] = found = true;
                break;
            }
        if (!found) Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(child));
        child = next;
    }
    for (std::size_t i = 0; i < subs.size(); ++i)
        if (!kept[i]) AddNode(parentItem, subs[i], base + subs[i]);
    Send(TVM_SORTCHILDREN, FALSE, reinterpret_cast<LPARAM>(parentItem));
    TVITEMW tv{};
    tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
    tv.hItem = parentItem;
    tv.cChildren = subs.empty() ? 0 : 1;
    Send(TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
}

void TShellTree::IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag)
{
    // A node that left the tree (its work cancelled) is not looked at.
    auto it = std::find_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.get() == Tag; });
    if (it == nodes_.end() || IconIndex < 0 || !HandleAllocated()) return;
    TNode* node = it->get();
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
    Params.Style |= WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_NOHSCROLL;
    Params.ExStyle |= WS_EX_CLIENTEDGE;
    Params.Caption.clear();
}

void TShellTree::CreateHandleDone()
{
    classlib::TSystemControl::CreateHandleDone();
    Send(TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(SmallIcons()));
    DropNodes();
    FillRoots();
    notifier_->SetEnabled(true);
    std::wstring target = !pendingPath_.empty() ? pendingPath_ : selected_;
    pendingPath_.clear();
    if (!target.empty()) SetPath(target);
}

void TShellTree::FillRoots()
{
    Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    wchar_t desktop[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop)) && FolderExists(desktop))
        AddNode(TVI_ROOT, L"Desktop", desktop);
    wchar_t docs[MAX_PATH] = {};
    if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, docs)) && FolderExists(docs))
        AddNode(TVI_ROOT, L"Documents", docs);
    DWORD drives = ::GetLogicalDrives();
    for (int i = 0; i < 26; ++i) {
        if (!(drives & (1u << i))) continue;
        std::wstring root = std::wstring(1, static_cast<wchar_t>(L'A' + i)) + L":\\";
        UINT type = ::GetDriveTypeW(root.c_str());
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) continue;
        if (!FolderExists(root)) continue;
        AddNode(TVI_ROOT, root.substr(0, 2), root);
    }
}

HTREEITEM TShellTree::AddNode(HTREEITEM Parent, const std::wstring& Caption, const std::wstring& Path)
{
    auto node = std::make_unique<TNode>();
    node->Path = WithBackslash(Path);
    TVINSERTSTRUCTW ins{};
    ins.hParent = Parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    ins.item.pszText = const_cast<wchar_t*>(Caption.c_str());
    ins.item.iImage = I_IMAGECALLBACK;
    ins.item.iSelectedImage = I_IMAGECALLBACK;
    ins.item.lParam = reinterpret_cast<LPARAM>(node.get());
    // Whether to show a button is decided without reading the folder.
    ins.item.cChildren = 1;
    auto item = reinterpret_cast<HTREEITEM>(Send(TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    if (item) {
        node->Item = item;
        nodes_.push_back(std::move(node));
    }
    return item;
}

TShellTree::TNode* TShellTree::NodeOf(HTREEITEM Item) const
{
    if (!Item) return nullptr;
    TVITEMW tv{};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = Item;
    if (!Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<TNode*>(tv.lParam);
}

void TShellTree::FillNode(HTREEITEM Item)
{
    TNode* node = NodeOf(Item);
    if (!node || node->Filled) return;
    node->Filled = true;
    std::vector<std::wstring> subs = SubFolders(node->Path);
    const std::wstring base = node->Path;
    for (const std::wstring& s : subs) AddNode(Item, s, base + s);
    if (subs.empty()) {
        TVITEMW tv{};
        tv.mask = TVIF_CHILDREN | TVIF_HANDLE;
        tv.hItem = Item;
        tv.cChildren = 0;
        Send(TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
    }
}

HTREEITEM TShellTree::FindChild(HTREEITEM Parent, const std::wstring& Path)
{
    // The child whose folder is Path or holds it (the longest match).
    const std::wstring target = WithBackslash(Path);
    HTREEITEM best = nullptr;
    std::size_t bestLen = 0;
    auto item = reinterpret_cast<HTREEITEM>(
        Send(TVM_GETNEXTITEM, Parent == TVI_ROOT ? TVGN_ROOT : TVGN_CHILD, reinterpret_cast<LPARAM>(Parent == TVI_ROOT ? nullptr : Parent)));
    for (; item; item = reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        TNode* node = NodeOf(item);
        if (!node) continue;
        const std::wstring& p = node->Path;
        if (p.size() <= target.size() && SamePath(p, target.substr(0, p.size())) && p.size() > bestLen) {
            best = item;
            bestLen = p.size();
        }
    }
    return best;
}

std::wstring TShellTree::GetPath() const { return WithoutBackslash(selected_); }

void TShellTree::SetPath(const std::wstring& Value)
{
    if (!FolderExists(Value)) return;
    if (!HandleAllocated()) {
        pendingPath_ = Value;
        selected_ = WithBackslash(Value);
        return;
    }
    const std::wstring target = WithBackslash(Value);
    HTREEITEM parent = TVI_ROOT, found = nullptr;
    while (true) {
        HTREEITEM child = FindChild(parent, target);
        if (!child) break;
        found = child;
        TNode* node = NodeOf(child);
        if (SamePath(node->Path, target)) break;
        FillNode(child);
        Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(child));
        parent = child;
    }
    if (!found) return;
    TNode* node = NodeOf(found);
    if (!SamePath(node->Path, target)) return;  // a folder the tree does not reach
    Send(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found));
    Send(TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(found));
}

void STDMETHODCALLTYPE TShellTree::FullRefresh()
{
    if (!HandleAllocated()) return;
    std::wstring keep = selected_;
    ++quiet_;
    DropNodes();
    FillRoots();
    --quiet_;
    if (!keep.empty()) SetPath(keep);
}

void STDMETHODCALLTYPE TShellTree::FolderChanged(LPCITEMIDLIST AbsolutePidl)
{
    std::wstring path = PathOfPidl(AbsolutePidl);
    if (path.empty() || SamePath(WithBackslash(path), selected_)) return;
    ++quiet_;
    TShellLink* link = link_;
    link_ = nullptr;  // a folder chosen elsewhere is not passed on again
    SetPath(path);
    link_ = link;
    --quiet_;
}

void TShellTree::CNNotify(classlib::TMessage& Message)
{
    Message.Result = 0;
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    switch (hdr->code) {
    case NM_CUSTOMDRAW: {
        auto* draw = reinterpret_cast<NMTVCUSTOMDRAW*>(hdr);
        Message.Result = classlib::DrawInactiveSelection(GetHandle(), draw->nmcd.dwDrawStage, draw->nmcd.uItemState,
                                                         draw->clrText, draw->clrTextBk);
        break;
    }
    case TVN_ITEMEXPANDINGW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        if (nm->action & TVE_EXPAND) FillNode(nm->itemNew.hItem);
        break;
    }
    case TVN_SELCHANGEDW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        TNode* node = NodeOf(nm->itemNew.hItem);
        std::wstring path = node ? node->Path : L"";
        if (SamePath(path, selected_) && quiet_) break;
        selected_ = path;
        if (quiet_ == 0) OnChange(this);
        NotifyFolder(WithoutBackslash(path));
        break;
    }
    case TVN_GETDISPINFOW: {
        auto* info = reinterpret_cast<NMTVDISPINFOW*>(hdr);
        auto* node = reinterpret_cast<TNode*>(info->item.lParam);
        if (!node) break;
        if (!node->IconAsked && (info->item.mask & (TVIF_IMAGE | TVIF_SELECTEDIMAGE))) {
            node->IconAsked = true;
            QueueIcon(this, node, node->Path, 0);
            QueueIcon(this, node, node->Path, 2);
        }
        info->item.iImage = node->Image;
        info->item.iSelectedImage = node->OpenImage >= 0 ? node->OpenImage : node->Image;
        break;
    }
    case TVN_DELETEITEMW: {
        auto* nm = reinterpret_cast<NMTREEVIEWW*>(hdr);
        auto* node = reinterpret_cast<TNode*>(nm->itemOld.lParam);
        if (node) CancelWork(node, this);
        nodes_.erase(std::remove_if(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.get() == node; }),
                     nodes_.end());
        break;
    }
    default: break;
    }
}

// ---- list

struct TShellList::TItemTag : classlib::TObject {
    explicit TItemTag(classlib::TListItem* AItem) : item(AItem) {}
    classlib::TListItem* item;
    bool iconAsked = false;
};

TShellList::TShellList(classlib::TComponent* AOwner)
    : classlib::TListView(AOwner),
      dropTarget_(std::make_unique<TDropTarget>(this)),
      notifier_(std::make_unique<TShellChangeNotifier>(nullptr)),
      refreshTimer_(std::make_unique<classlib::TTimer>(nullptr)),
      fillTimer_(std::make_unique<classlib::TTimer>(nullptr))
{
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
}

void TShellList::Tag(classlib::TListItem* Item)
{
    auto tag = std::make_unique<TItemTag>(Item);
    Item->Data = tag.get();
    classlib::TObject* key = tag.get();
    tags_.emplace(key, std::move(tag));
}

void TShellList::DropAllWork()
{
    CancelWork(nullptr, this);
    for (auto& [key, tag] : tags_) tag->item->Data = nullptr;
    tags_.clear();
}

void TShellList::DeleteItem(int Index)
{
    classlib::TListItem* item = GetItems()->GetItem(Index);
    auto* tag = static_cast<TItemTag*>(item->Data);
    if (tag) CancelWork(tag, this);
    GetItems()->Delete(Index);
    if (tag) tags_.erase(tag);
}

int TShellList::ItemImageIndex(classlib::TListItem* Item)
{
    auto* tag = static_cast<TItemTag*>(Item->Data);
    if (tag && !tag->iconAsked && !path_.empty()) {
        tag->iconAsked = true;
        QueueIcon(this, tag, path_ + Item->GetCaption(), 0);
    }
    return Item->GetImageIndex();
}

void TShellList::IconArrived(int IconIndex, std::uint8_t Kind, classlib::TObject* Tag)
{
    // An item that left the list (its work cancelled) is not looked at.
    auto it = tags_.find(Tag);
    if (it == tags_.end() || IconIndex < 0 || Kind != 0) return;
    it->second->item->SetImageIndex(IconIndex);
}

void TShellList::CreateHandleDone()
{
    classlib::TListView::CreateHandleDone();
    Register();
    // Long lists are not slowed down by the column width: the caller sets it.
}

void TShellList::SetPath(const std::wstring& Value)
{
    if (!FolderExists(Value)) return;
    const std::wstring path = WithBackslash(Value);
    const bool changed = !SamePath(path, path_);
    path_ = path;
    Populate();
    if (changed) {
        OnPathChanged(this);
        NotifyFolder(WithoutBackslash(path_));
    }
}

void TShellList::SetFilter(const std::wstring& Value)
{
    if (filter_ == Value) return;
    filter_ = Value;
    Populate();
}

void TShellList::SetShowFolders(bool Value)
{
    if (showFolders_ == Value) return;
    showFolders_ = Value;
    Populate();
}

void TShellList::SetShowHidden(bool Value)
{
    if (showHidden_ == Value) return;
    showHidden_ = Value;
    Populate();
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

classlib::TListItem* TShellList::AddEntry(const TFolderEntry& Entry)
{
    classlib::TListItem* item = GetItems()->Add();
    item->SetCaption(Entry.Name);
    if (details_)
        for (int c = 1; c < GetColumns()->GetCount(); ++c) item->GetSubItems()->Add(DetailText(Entry, columnDetail_[c]));
    item->SetStateIndex(CheckState(item));
    Tag(item);
    return item;
}

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

}  // namespace

int TShellList::CheckState(classlib::TListItem* Item) const
{
    if (!checkboxes_ || !link_ || !link_->GetSelectionList()) return -1;
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
    if (!automaticRefresh_ || path_.empty()) return;
    notifier_->GetDirectories()->Add(WithoutBackslash(path_));
    notifier_->SetEnabled(true);
}

int TShellList::IndexOfName(const std::wstring& Name) const
{
    classlib::TListItems* items = GetItems();
    for (int i = 0; i < items->GetCount(); ++i)
        if (SamePath(items->GetItem(i)->GetCaption(), Name)) return i;
    return -1;
}

namespace {

// Items added per step of a fill (about 50 ms of list-view work under Wine).
constexpr std::size_t kFillStep = 300;

}  // namespace

void TShellList::Populate()
{
    classlib::TListItems* items = GetItems();
    // A fill still in progress hands on the names it was to select again.
    std::vector<std::wstring> selected = fillTimer_->GetEnabled() ? reselect_ : std::vector<std::wstring>();
    for (int i = 0; i < items->GetCount(); ++i)
        if (items->GetItem(i)->GetSelected()) selected.push_back(items->GetItem(i)->GetCaption());
    filling_ = true;
    refreshTimer_->SetEnabled(false);
    fillTimer_->SetEnabled(false);
    reselect_ = std::move(selected);
    pending_ = path_.empty() ? std::vector<TFolderEntry>()
                             : ListFolderEntries(path_, filter_, showFolders_, showHidden_);
    SortEntries(pending_, columnDetail_[sortColumn_], sortDescending_);
    pendingNext_ = 0;
    DropAllWork();
    items->Clear();
    AddPending();
}

void TShellList::FillStep(classlib::TObject*)
{
    fillTimer_->SetEnabled(false);
    AddPending();
}

void TShellList::AddPending()
{
    classlib::TListItems* items = GetItems();
    const std::size_t end = std::min(pending_.size(), pendingNext_ + kFillStep);
    items->BeginUpdate();
    for (; pendingNext_ < end; ++pendingNext_) AddEntry(pending_[pendingNext_]);
    items->EndUpdate();
    if (pendingNext_ < pending_.size()) {
        fillTimer_->SetEnabled(true);
        return;
    }
    pending_.clear();
    pendingNext_ = 0;
    for (const std::wstring& name : reselect_) {
        const int i = IndexOfName(name);
        if (i >= 0) items->GetItem(i)->SetSelected(true);
    }
    reselect_.clear();
    ShowSortArrow();
    OnPopulated(this);
    WatchFolder();
    filling_ = false;
}

void STDMETHODCALLTYPE TShellList::UpdateContents()
{
    if (filling_) return;
    classlib::TListItems* items = GetItems();
    if (items->GetCount() > 500 || path_.empty()) {
        Populate();
        return;
    }
    filling_ = true;
    std::unordered_map<std::wstring, int> shown;
    for (int i = 0; i < items->GetCount(); ++i) shown.emplace(TntWideUpperCase(items->GetItem(i)->GetCaption()), i);
    std::vector<bool> seen(static_cast<std::size_t>(items->GetCount()), false);
    std::vector<TFolderEntry> added;
    for (TFolderEntry& entry : ListFolderEntries(path_, filter_, showFolders_, showHidden_)) {
        auto it = shown.find(TntWideUpperCase(entry.Name));
        if (it != shown.end())
            seen[static_cast<std::size_t>(it->second)] = true;
        else
            added.push_back(std::move(entry));
    }
    items->BeginUpdate();
    for (int i = items->GetCount() - 1; i >= 0; --i)
        if (!seen[static_cast<std::size_t>(i)]) DeleteItem(i);
    for (const TFolderEntry& entry : added) AddEntry(entry);
    if (checkboxes_)
        for (int i = 0; i < items->GetCount(); ++i) items->GetItem(i)->SetStateIndex(CheckState(items->GetItem(i)));
    items->EndUpdate();
    filling_ = false;
}

void TShellList::ShellChanged(classlib::TObject*, TNotificationEvent Event, const std::wstring& Path1,
                              const std::wstring&)
{
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
        if (SamePath(classlib::ExtractFilePath(Path1), path_)) {
            const int i = IndexOfName(classlib::ExtractFileName(Path1));
            if (i >= 0) DeleteItem(i);
            return;
        }
        break;  // the shown folder itself or one above it
    case neFolderUpdate:
        if (!SamePath(WithBackslash(Path1), path_)) return;
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
    if (!path_.empty() && !FolderExists(path_)) {
        DropAllWork();
        GetItems()->Clear();
        return;
    }
    UpdateContents();
}

std::wstring TShellList::GetItemPathAt(int Index) const
{
    if (Index < 0 || Index >= GetItems()->GetCount()) return L"";
    return path_ + GetItems()->GetItem(Index)->GetCaption();
}

std::wstring TShellList::GetItemPath(const classlib::TListItem* Item) const
{
    return Item ? GetItemPathAt(GetItems()->IndexOf(Item)) : std::wstring();
}

void STDMETHODCALLTYPE TShellList::FolderChanged(LPCITEMIDLIST AbsolutePidl)
{
    std::wstring path = PathOfPidl(AbsolutePidl);
    if (path.empty() || SamePath(WithBackslash(path), path_)) return;
    TShellLink* link = link_;
    link_ = nullptr;
    SetPath(path);
    link_ = link;
}

// The list's drop target: not reference counted (the list's lifetime; the
// list revokes it with its window).
class TShellList::TDropTarget : public IDropTarget {
public:
    explicit TDropTarget(TShellList* List) : list_(List) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        const bool known = riid == IID_IUnknown || riid == IID_IDropTarget;
        *ppv = known ? static_cast<IDropTarget*>(this) : nullptr;
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
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

DWORD TShellList::DropEffect(const classlib::TStringList* Files, DWORD KeyState, DWORD Allowed) const
{
    if (!Files || Files->GetCount() == 0 || path_.empty()) return DROPEFFECT_NONE;
    bool sameDrive = true;
    for (int i = 0; i < Files->GetCount(); ++i) {
        const std::wstring& f = Files->GetStrings(i);
        if (SamePath(classlib::ExtractFilePath(f), path_)) return DROPEFFECT_NONE;  // already here
        sameDrive = sameDrive && classlib::WideSameText(classlib::ExtractFileDrive(f), classlib::ExtractFileDrive(path_));
    }
    return ChooseDropEffect(KeyState, Allowed, sameDrive);
}

DWORD TShellList::DropFiles(const classlib::TStringList* Files, DWORD Effect)
{
    std::wstring from;
    std::vector<std::wstring> names;
    for (int i = 0; i < Files->GetCount(); ++i) {
        from += Files->GetStrings(i);
        from.push_back(L'\0');
        names.push_back(classlib::ExtractFileName(Files->GetStrings(i)));
    }
    from.push_back(L'\0');
    std::wstring to = path_;
    to.push_back(L'\0');
    SHFILEOPSTRUCTW op{};
    op.hwnd = HandleAllocated() ? GetHandle() : nullptr;
    op.wFunc = Effect == DROPEFFECT_MOVE ? FO_MOVE : FO_COPY;
    op.pFrom = from.c_str();
    op.pTo = to.c_str();
    op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    // A failed or cancelled operation is reported as no drop at all; so is
    // one that claims success without a single file arriving.
    const bool done = ::SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted &&
                      std::any_of(names.begin(), names.end(), [&](const std::wstring& n) { return PathExists(path_ + n); });
    UpdateContents();
    if (!done) return DROPEFFECT_NONE;
    for (int i = 0; i < GetItems()->GetCount(); ++i) {
        classlib::TListItem* item = GetItems()->GetItem(i);
        item->SetSelected(std::any_of(names.begin(), names.end(),
                                      [&](const std::wstring& n) { return SamePath(n, item->GetCaption()); }));
    }
    return Effect;
}

bool TShellList::RenameItem(int Index, const std::wstring& NewName)
{
    if (Index < 0 || Index >= GetItems()->GetCount() || path_.empty()) return false;
    classlib::TListItem* item = GetItems()->GetItem(Index);
    const std::wstring oldName = item->GetCaption();
    if (NewName.empty() || NewName == oldName || NewName.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos ||
        NewName == L"." || NewName == L"..")
        return false;
    const std::wstring from = path_ + oldName, to = path_ + NewName;
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
    item->SetCaption(entry.Name);
    item->GetSubItems()->Clear();
    if (details_)
        for (int c = 1; c < GetColumns()->GetCount(); ++c) item->GetSubItems()->Add(DetailText(entry, columnDetail_[c]));
    item->SetImageIndex(-1);
    if (auto* tag = static_cast<TItemTag*>(item->Data)) tag->iconAsked = false;
    // The other views of the folder (and the tree, for a folder) follow.
    ::SHChangeNotify(entry.Folder ? SHCNE_RENAMEFOLDER : SHCNE_RENAMEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, from.c_str(),
                     to.c_str());
    return true;
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
    classlib::TListView::CNNotify(Message);
    if (hdr->code == LVN_COLUMNCLICK) {
        const int column = reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem;
        SortBy(column, column == sortColumn_ && !sortDescending_);
    }
    if (hdr->code == NM_DBLCLK) {
        auto* act = reinterpret_cast<NMITEMACTIVATE*>(hdr);
        if (act->iItem >= 0) OnDblClick(this);
    }
}

}  // namespace shell
