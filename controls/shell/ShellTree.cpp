#include "controls/shell/ShellTree.h"

#include <shlobj.h>
#include <uxtheme.h>
#include <vssym32.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
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
#include "controls/shell/ShellCommon.h"

namespace shell {

// ---- tree

namespace {

// The timer that acts on a selection change after the change delay.
constexpr UINT_PTR kChangeTimer = 0x5443;

}  // namespace

class TShellTree::TDropSource : public TForwardingDropSource<TShellTree> {
public:
    using TForwardingDropSource<TShellTree>::TForwardingDropSource;
};

// The tree's drop target: not reference counted (the tree's lifetime; the
// tree revokes it with its window). The node under the cursor hands the
// drop to its object's own target; a change of effect is an answer, not a
// failure.
class TShellTree::TDropTarget : public TDropTargetFrame {
public:
    explicit TDropTarget(TShellTree* Tree) : tree_(Tree) {}
    // No node is asked yet: the first DragOver finds it.
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        *Effect = DROPEFFECT_NONE;
        Enter(Data, KeyState);
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
        ScrollWhenDue(tree_->GetHandle(), Point);
        const DWORD now = ::GetTickCount();
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
        bool dropped = false;
        const HRESULT result = DropThrough(target.Get(), Data, Point, files.get(), tree_->OnBeforeShellDrop, tree_,
                                           record, effect, dropped);
        // The target has seen its Drop: no DragLeave for it.
        if (dropped) nodeTarget_.Reset();
        *Effect = effect;
        ProcessPendingMessages();
        if (SUCCEEDED(result) && dropped && files) {
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
    TComRef<IDropTarget> nodeTarget_;
    HTREEITEM dropNode_ = nullptr;
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
    if (!path.empty()) {
        if (!DirectoryExistsLong(path)) return nullptr;
        return NewFolderDropTarget(path, GetHandle(), RefusalTeller(OnDropRefused, this, GetHandle()));
    }
    // Objects outside the file system take what their own shell target does.
    IDropTarget* target = nullptr;
    LPCITEMIDLIST item = node->ParentFolder ? node->Pidl.get() : node->Absolute.get();
    IShellFolder* folder = node->ParentFolder ? node->ParentFolder.Get() : DesktopFolder();
    if (FAILED(folder->GetUIObjectOf(GetHandle(), 1, &item, IID_IDropTarget, nullptr, reinterpret_cast<void**>(&target))))
        return nullptr;
    return target;
}

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
      TShellOptionAccess<TShellTree>(soShowNethood | soShowRecycleBin),
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
    notifier_->SetWatchFileSystem(true);
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
    // Ending the update tells the linked controls, which may serve messages
    // that read this tree again: the node is found afresh afterwards.
    TPidl absolute = PidlClone(node->Absolute.get());
    const std::wstring path = NodePath(Item);
    selection->BeginUpdate();
    if (state == ssChecked)
        selection->UncheckPidl(absolute.get());
    else
        selection->CheckPidl(absolute.get());
    // Up to the root, then down the opened part below.
    for (HTREEITEM p = Item; p; p = Parent(p)) SetNodeState(p, NodeState(p));
    UpdateStates(Item);
    selection->EndUpdate();
    Item = FindNode(absolute.get());
    int index = Item ? 0 : -1;
    for (HTREEITEM n = Root(); Item && n && n != Item; ++index) {
        // Depth first over the nodes read so far.
        if (HTREEITEM c = Child(n)) {
            n = c;
            continue;
        }
        while (n && !Next(n)) n = Parent(n);
        if (n) n = Next(n);
    }
    const int now = Item ? GetNodeState(Item) : (state == ssChecked ? ssUnChecked : ssChecked);
    OnCheckStateChanged(this, index, path, static_cast<TShSelectionState>(now));
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
    notifier_->UnwatchFolders();

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
        InsertNode(TVI_ROOT, std::move(node), text, children);
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

TShellTree::TNode* TShellTree::InsertNode(HTREEITEM ParentItem, std::unique_ptr<TNode> Node, const std::wstring& Text,
                                          bool Children)
{
    TVINSERTSTRUCTW ins{};
    ins.hParent = ParentItem;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
    ins.item.stateMask = TVIS_CUT;
    ins.item.state = Node->Dimmed ? TVIS_CUT : 0;
    ins.item.pszText = const_cast<wchar_t*>(Text.c_str());
    ins.item.iImage = ins.item.iSelectedImage = I_IMAGECALLBACK;
    ins.item.lParam = reinterpret_cast<LPARAM>(static_cast<classlib::TObject*>(Node.get()));
    ins.item.cChildren = Children ? 1 : 0;
    TNode* raw = Node.get();
    nodes_.emplace(raw, std::move(Node));
    raw->Item = reinterpret_cast<HTREEITEM>(Send(TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    if (!raw->Item) {
        nodes_.erase(raw);
        return nullptr;
    }
    return raw;
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
    TNode* raw = InsertNode(ParentItem, std::move(node), text, children);
    if (!raw) return nullptr;
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
    WatchNode(node);
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

namespace {

// The identity of a file-system folder (volume and file index); a folder
// reached again through a link has the same one. False for objects
// without a path or that cannot be opened.
bool FolderIdentity(const std::wstring& Path, std::array<DWORD, 3>& Id)
{
    if (Path.empty()) return false;
    HANDLE h = ::CreateFileW(Path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    classlib::TOwnedKernelHandle owned(h);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return false;
    Id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

}  // namespace

void TShellTree::ExpandNode(HTREEITEM Item, bool Recurse)
{
    if (!NodeOf(Item)) return;
    // The folders on the way down from Item: a folder met again below
    // itself (a link to a folder above) is shown but not opened.
    std::vector<std::array<DWORD, 3>> path;
    std::function<void(HTREEITEM, int)> open = [&](HTREEITEM Node, int Depth) {
        TNode* node = NodeOf(Node);
        if (!node) return;
        std::array<DWORD, 3> id{};
        const bool known = Recurse && FolderIdentity(PidlToPath(node->Absolute.get()), id);
        if (known && std::find(path.begin(), path.end(), id) != path.end()) return;
        ReadChildren(Node);
        if (Child(Node)) Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(Node));
        if (!Recurse || Depth >= MaxExpandDepth) return;
        if (known) path.push_back(id);
        for (HTREEITEM c = Child(Node); c; c = Next(c)) open(c, Depth + 1);
        if (known) path.pop_back();
    };
    std::size_t before = 0;
    do {
        before = nodes_.size();
        open(Item, 0);
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
        UnwatchNode(node);
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
    if (!Pidl || !HandleAllocated()) return nullptr;
    // In the tree's own order, so the answer never depends on where the
    // nodes happen to lie in memory: first the node holding exactly this
    // list, else the first showing the same object by another way.
    const std::size_t size = PidlGetSize(Pidl);
    HTREEITEM same = nullptr;
    std::vector<HTREEITEM> pending{Root()};
    while (!pending.empty()) {
        HTREEITEM item = pending.back();
        pending.pop_back();
        for (; item; item = Next(item)) {
            TNode* node = NodeOf(item);
            if (node && node->Absolute) {
                if (PidlGetSize(node->Absolute.get()) == size && std::memcmp(node->Absolute.get(), Pidl, size) == 0)
                    return item;
                if (!same && SameObject(DesktopFolder(), node->Absolute.get(), Pidl)) same = item;
            }
            if (HTREEITEM child = Child(item)) {
                // Depth first: the rest of this level waits below the child.
                if (HTREEITEM next = Next(item)) pending.push_back(next);
                pending.push_back(child);
                break;
            }
        }
    }
    return same;
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
    notifier_->UnwatchFolders();
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
    renameError_.clear();
    TNode* node = NodeOf(Item);
    if (!node || !node->ParentFolder || NewName.empty() || NewName == NodeText(Item)) return false;
    if (NewName.find_first_of(kInvalidNameCharacters) != std::wstring::npos || NewName == L"." || NewName == L"..") {
        renameError_ = RenameRefusal(NodeText(Item), NewName, ERROR_INVALID_NAME);
        return false;
    }
    const std::wstring oldPath = PidlToPath(node->Absolute.get());
    std::wstring name = NewName;
    bool done = false;
    // The shell may announce the rename while it runs: the tree must not
    // read the parent again (and drop this node) before the node follows.
    ++quiet_;
    ::SetLastError(0);
    try {
        browser_->SetAbsoluteIDList(node->Absolute.get());
        done = browser_->Rename(name);
    } catch (const EShFolderObjectError&) {
        done = false;
    }
    const DWORD error = ::GetLastError();
    --quiet_;
    if (!done) {
        renameError_ = RenameRefusal(NodeText(Item), NewName, error);
        return false;
    }
    // The node takes the object's new lists; what was read below it goes
    // (it is read again on the next opening). Nothing here waits for the
    // shell: the notifications of the rename arrive later by themselves.
    node->Pidl = browser_->GetObjectIDList();
    node->Absolute = PidlClone(browser_->GetAbsoluteObjectIDList());
    const bool wasExpanded = Expanded(Item);
    Send(TVM_EXPAND, TVE_COLLAPSE | TVE_COLLAPSERESET, reinterpret_cast<LPARAM>(Item));
    while (HTREEITEM c = Child(Item)) DeleteNode(c);
    node->Filled = false;
    UnwatchNode(node);
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

bool TShellTree::RunVerbQuietly(LPCITEMIDLIST Absolute, const std::wstring& Verb)
{
    bool done = false;
    ++quiet_;
    try {
        browser_->SetAbsoluteIDList(Absolute);
        done = browser_->ExecuteCommand(Verb);
    } catch (const EShFolderObjectError&) {
        done = false;
    } catch (...) {
        --quiet_;
        throw;
    }
    --quiet_;
    return done;
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
    const bool done = RunVerbQuietly(absolute.get(), Verb);
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
        if (const int step = SideButtonStep(Message.WParam)) HistoryStep(step);
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
                if (RunVerbQuietly(NodeOf(selected)->Absolute.get(), L"paste")) {
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
        case VK_MULTIPLY:
            // The whole branch, guarded against link loops (the list
            // view's own expansion follows every link without end).
            if (selected) ExpandNode(selected, true);
            Key = 0;
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

// The tree's notifications, decoded once here into the handlers below.
void TShellTree::CNNotify(classlib::TMessage& Message)
{
    Message.Result = 0;
    auto* hdr = reinterpret_cast<NMHDR*>(Message.LParam);
    switch (hdr->code) {
    case TVN_BEGINLABELEDITW: Message.Result = LabelEditStarting(reinterpret_cast<NMTVDISPINFOW*>(hdr)->item.hItem); break;
    case TVN_ENDLABELEDITW: Message.Result = LabelEditEnded(reinterpret_cast<NMTVDISPINFOW*>(hdr)->item); break;
    case TVN_KEYDOWN: Message.Result = TreeKeyDown(reinterpret_cast<NMTVKEYDOWN*>(hdr)->wVKey); break;
    case NM_CLICK:
    case NM_RCLICK: Message.Result = TreeClick(hdr->code == NM_RCLICK); break;
    case NM_DBLCLK: TreeDblClick(); break;
    case NM_CUSTOMDRAW: Message.Result = TreeCustomDraw(*reinterpret_cast<NMTVCUSTOMDRAW*>(hdr)); break;
    case TVN_BEGINDRAGW:
    case TVN_BEGINDRAGA:
    case TVN_BEGINRDRAGW:
    case TVN_BEGINRDRAGA: {
        // The item handle sits at the same place in both character sets.
        const bool right = hdr->code == TVN_BEGINRDRAGW || hdr->code == TVN_BEGINRDRAGA;
        OleDrag(reinterpret_cast<NMTREEVIEWW*>(hdr)->itemNew.hItem, right ? 2 : 1);
        break;
    }
    case TVN_ITEMEXPANDINGW: Message.Result = NodeExpanding(*reinterpret_cast<NMTREEVIEWW*>(hdr)); break;
    case TVN_ITEMEXPANDEDW: {
        const auto& nm = *reinterpret_cast<NMTREEVIEWW*>(hdr);
        if ((nm.action & TVE_EXPAND) && NodeOf(nm.itemNew.hItem)) OnExpanded(this, nm.itemNew.hItem);
        break;
    }
    case TVN_SELCHANGINGW: Message.Result = NodeSelecting(*reinterpret_cast<NMTREEVIEWW*>(hdr)); break;
    case TVN_SELCHANGEDW:
        if (!quiet_) NodeSelected(reinterpret_cast<NMTREEVIEWW*>(hdr)->itemNew.hItem);
        break;
    case TVN_GETDISPINFOW: NodeDisplayInfo(reinterpret_cast<NMTVDISPINFOW*>(hdr)->item); break;
    case TVN_DELETEITEMW:
        NodeDeleted(reinterpret_cast<classlib::TObject*>(reinterpret_cast<NMTREEVIEWW*>(hdr)->itemOld.lParam));
        break;
    default: break;
    }
}

// Only the names the shell can change are edited (a node under a folder).
LRESULT TShellTree::LabelEditStarting(HTREEITEM Item)
{
    TNode* node = NodeOf(Item);
    bool can = node && node->ParentFolder;
    if (can) {
        browser_->SetAbsoluteIDList(node->Absolute.get());
        can = browser_->CanRename();
    }
    return can ? FALSE : TRUE;
}

// The tree sets the new text itself, and only after a rename that worked.
LRESULT TShellTree::LabelEditEnded(const TVITEMW& Item)
{
    if (Item.pszText) {
        if (!RenameNode(Item.hItem, Item.pszText)) TellRefusal(OnRenameRefused, this, GetHandle(), renameError_);
    } else
        OnEditCanceled(this, Item.hItem);
    return FALSE;
}

// Space toggles the selected node's check box, F5 reads everything again,
// F2 edits the selected node's name.
LRESULT TShellTree::TreeKeyDown(WORD Key)
{
    if (Key == VK_SPACE && Selection()) {
        ToggleCheck(Selected());
        return TRUE;
    }
    if (Key == VK_F5) {
        FullRefresh();
        if (link_) link_->NotifyFullRefresh(this);
    } else if (Key == VK_F2 && !ReadOnly && Selected()) {
        Send(TVM_EDITLABELW, 0, reinterpret_cast<LPARAM>(Selected()));
    }
    return 0;
}

// A click on a check box toggles it; a right click selects the node (also
// when the menu is not the shell's), and then shows the shell's menu of it.
LRESULT TShellTree::TreeClick(bool Right)
{
    TVHITTESTINFO hit{};
    ::GetCursorPos(&hit.pt);
    POINT screen = hit.pt;
    ::ScreenToClient(GetHandle(), &hit.pt);
    Send(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (!hit.hItem) return 0;
    if (!Right && (hit.flags & TVHT_ONITEMSTATEICON) && Selection()) {
        ToggleCheck(hit.hItem);
        return TRUE;
    }
    if (Right) {
        if (hit.hItem != Selected()) Send(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(hit.hItem));
        if (ShellContextMenu) {
            ShowNodeMenu(hit.hItem, screen);
            return TRUE;
        }
    }
    return 0;
}

// A double click on the selected file node runs its default verb, unless
// an owner handles OnDblClick.
void TShellTree::TreeDblClick()
{
    TVHITTESTINFO hit{};
    ::GetCursorPos(&hit.pt);
    ::ScreenToClient(GetHandle(), &hit.pt);
    Send(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    TNode* node = NodeOf(hit.hItem);
    if ((!OnDblClick || !GetOwner()) && node && GetShowFiles() && !(node->Flags & TNode::fFolder) &&
        hit.hItem == Selected())
        ExecuteVerb(L"default");
    OnDblClick(this);
}

// The selection keeps its colours without the focus; a node's text takes
// the colour of its attributes.
LRESULT TShellTree::TreeCustomDraw(NMTVCUSTOMDRAW& Draw)
{
    LRESULT result = classlib::DrawInactiveSelection(GetHandle(), Draw.nmcd.dwDrawStage, Draw.nmcd.uItemState,
                                                     Draw.clrText, Draw.clrTextBk);
    if (Draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        auto it = nodes_.find(reinterpret_cast<classlib::TObject*>(Draw.nmcd.lItemlParam));
        const COLORREF color = it != nodes_.end() ? AttributeTextColor(it->second->Flags, options_) : CLR_INVALID;
        if (color != CLR_INVALID) {
            Draw.clrText = color;
            result |= CDRF_NEWFONT;
        }
    }
    return result;
}

// A node opening reads its children; while filling is not allowed, only
// the roots open.
LRESULT TShellTree::NodeExpanding(const NMTREEVIEWW& Nm)
{
    if (!(Nm.action & TVE_EXPAND)) return 0;
    if (!canFill_ && Parent(Nm.itemNew.hItem)) return TRUE;
    ReadChildren(Nm.itemNew.hItem);
    return 0;
}

// With error messages on, a folder that cannot be opened cannot be
// selected: the shell says why while trying.
LRESULT TShellTree::NodeSelecting(const NMTREEVIEWW& Nm)
{
    TNode* node = NodeOf(Nm.itemNew.hItem);
    if (!quiet_ && node && OnChanging) {
        bool allow = true;
        OnChanging(this, Nm.itemNew.hItem, allow);
        if (!allow) return TRUE;
        node = NodeOf(Nm.itemNew.hItem);
    }
    if (quiet_ || Nm.action == TVC_UNKNOWN || !node || !GetShowErrorMessages() || !Parent(Nm.itemNew.hItem)) return 0;
    if (GetShowFiles() && !(node->Flags & TNode::fFolder)) return 0;
    bool can = false;
    try {
        browser_->SetAbsoluteIDList(node->Absolute.get());
        can = browser_->OpenObjectAsFolder();
    } catch (...) {
        can = false;
    }
    return can ? FALSE : TRUE;
}

void TShellTree::NodeSelected(HTREEITEM Item)
{
    if (changeDelay_ > 0) {
        // Acted on when the timer fires, for the node selected then.
        changeTimer_ = ::SetTimer(GetHandle(), kChangeTimer, changeDelay_, nullptr) != 0;
        if (changeTimer_) return;
    }
    StopChangeTimer();
    Change(Item);
}

// The images of a node, looked up the first time the tree asks.
void TShellTree::NodeDisplayInfo(TVITEMW& Item)
{
    auto* key = reinterpret_cast<classlib::TObject*>(Item.lParam);
    auto it = nodes_.find(key);
    if (it == nodes_.end()) return;
    if (!it->second->IconAsked && (Item.mask & (TVIF_IMAGE | TVIF_SELECTEDIMAGE))) {
        FillNode(it->second.get());
        // The handler may have taken the node out.
        it = nodes_.find(key);
        if (it == nodes_.end()) return;
    }
    TNode* node = it->second.get();
    Item.iImage = node->Image;
    Item.iSelectedImage = node->OpenImage >= 0 ? node->OpenImage : node->Image;
}

// A node leaving the tree: its pending work stops and its object goes.
void TShellTree::NodeDeleted(classlib::TObject* Key)
{
    auto it = nodes_.find(Key);
    if (it == nodes_.end()) return;
    CancelWork(Key, this);
    UnwatchNode(it->second.get());
    nodes_.erase(it);
}

void TShellTree::WatchNode(TNode* Node)
{
    UnwatchNode(Node);
    Node->Watched = PidlToPath(Node->Absolute.get());
    if (!Node->Watched.empty()) notifier_->WatchFolder(Node->Watched);
}

void TShellTree::UnwatchNode(TNode* Node)
{
    if (Node->Watched.empty()) return;
    notifier_->UnwatchFolder(Node->Watched);
    Node->Watched.clear();
}

}  // namespace shell
