// The list's nested helper objects, shared by the files that implement
// TShellList. Internal to the shell controls.
#pragma once

#include "controls/shell/ShellCommon.h"
#include "controls/shell/ShellList.h"
#include "controls/shell/ShWorkItems.h"

namespace shell {

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

class TShellList::TDropSource : public TForwardingDropSource<TShellList> {
public:
    using TForwardingDropSource<TShellList>::TForwardingDropSource;
};

// The list's drop target: not reference counted (the list's lifetime; the
// list revokes it with its window). A folder item under the cursor hands
// the drop to its object's own target, anything else to the shown folder's.
class TShellList::TDropTarget : public TDropTargetFrame {
public:
    explicit TDropTarget(TShellList* List) : list_(List) {}
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* Data, DWORD KeyState, POINTL Point, DWORD* Effect) override
    {
        if (!Effect) return E_INVALIDARG;
        Leave();
        Enter(Data, KeyState);
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
        ScrollWhenDue(list_->GetHandle(), Point);
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
        bool dropped = false;
        const HRESULT result = DropThrough(target.Get(), Data, Point, files.get(), list_->OnBeforeShellDrop, list_, what,
                                           effect, dropped);
        // The target has seen its Drop: no DragLeave for it.
        if (dropped) {
            if (onItem)
                itemTarget_.Reset();
            else
                background_.Reset();
        }
        *Effect = effect;
        list_->droppedNames_.clear();
        for (int i = 0; files && i < files->GetCount(); ++i)
            list_->droppedNames_.push_back(classlib::ExtractFileName(files->GetStrings(i)));
        Leave();
        if (SUCCEEDED(result) && dropped && files) {
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
    TComRef<IDropTarget> background_;
    TComRef<IDropTarget> itemTarget_;
    TShellListItem* dropRecord_ = nullptr;
};

}  // namespace shell
