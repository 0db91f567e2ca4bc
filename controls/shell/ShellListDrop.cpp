#include "controls/shell/ShellList.h"

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
#include "controls/shell/ShellListPrivate.h"

namespace shell {

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
    if (!path.empty())
        return DirectoryExistsLong(path) ? NewFolderDropTarget(path, owner, RefusalTeller(OnDropRefused, this, owner))
                                         : nullptr;
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

}  // namespace shell
