// The shell link: a non-visual component that keeps the shell controls
// (folder list, folder tree) in step, and owns their shared checked-path set. When one linked control moves to
// another folder, selects an object, refreshes or selects everything, the
// link passes the event on to every other linked control.
//
// Threads: main thread only. The link holds a reference to every registered
// control's IShellControl; a control unregisters itself when it is
// destroyed, and destroying the link detaches every control.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "classlib/Component.h"
#include "classlib/Events.h"
#include "classlib/Lists.h"
#include "controls/shell/ShSelectionList.h"

namespace shell {

class TShellLink;

// A component with an Enabled switch read and written through virtual
// accessors (descendants react to the change). Starts disabled; descendants
// set it.
class TShBaseComponent : public classlib::TComponent {
public:
    explicit TShBaseComponent(classlib::TComponent* Owner) : classlib::TComponent(Owner) {}
    std::wstring ClassName() const override { return L"TShBaseComponent"; }

    virtual bool GetEnabled() const { return enabled_; }
    virtual void SetEnabled(bool Value) { enabled_ = Value; }

protected:
    bool enabled_ = false;
};

// A common dialog of the shell: OnShow fires just before the system dialog
// opens, OnClose after it has closed.
class TShBaseDialog : public classlib::TComponent {
public:
    explicit TShBaseDialog(classlib::TComponent* Owner) : classlib::TComponent(Owner) {}
    std::wstring ClassName() const override { return L"TShBaseDialog"; }

    classlib::TNotifyEvent OnShow;
    classlib::TNotifyEvent OnClose;

protected:
    void DoShow() { OnShow(this); }
    void DoClose() { OnClose(this); }
};

// What a shell control offers the link.
struct IShellControl : IUnknown {
    // Attach to a link, or detach with null.
    virtual void STDMETHODCALLTYPE SetShellLink(TShellLink* Link) = 0;
    virtual TShellLink* STDMETHODCALLTYPE GetShellLink() = 0;
    // Another control now shows this folder (absolute list, borrowed).
    virtual void STDMETHODCALLTYPE FolderChanged(LPCITEMIDLIST AbsolutePidl) = 0;
    // Another control selected this object (absolute lists, borrowed).
    virtual void STDMETHODCALLTYPE SelectionChanged(LPCITEMIDLIST FolderPidl, LPCITEMIDLIST ObjectPidl) = 0;
    virtual void STDMETHODCALLTYPE SelectAll() = 0;
    virtual void STDMETHODCALLTYPE FullRefresh() = 0;
    // Refresh in place (add new items, drop vanished ones, update states).
    virtual void STDMETHODCALLTYPE UpdateContents() = 0;
    virtual void STDMETHODCALLTYPE NavigateUp() = 0;

protected:
    ~IShellControl() = default;
};
extern const IID IID_IShellControl;  // {C211C2D9-827E-4D46-B07B-FEB3F473DD7F}

// The registered controls (one reference each).
class TShellControlList : public classlib::TInterfaceList {
public:
    std::wstring ClassName() const override { return L"TShellControlList"; }
    IShellControl* GetControl(int Index) { return static_cast<IShellControl*>(GetItem(Index)); }
};

class TShellLink : public TShBaseComponent {
public:
    explicit TShellLink(classlib::TComponent* Owner);
    // Detaches every control (last registered first).
    ~TShellLink() override;
    std::wstring ClassName() const override { return L"TShellLink"; }

    // Adds Control unless it is registered already.
    void RegisterControl(IShellControl* Control);
    void UnregisterControl(IShellControl* Control);
    int ControlCount() { return controls_.GetCount(); }

    // FolderChanged / SelectionChanged on every control other than Sender,
    // with the link disabled meanwhile (so a control that notifies in turn
    // is not passed on), then OnChange. Nothing while disabled.
    void NotifyFolderChanged(IShellControl* Sender, LPCITEMIDLIST AbsolutePidl);
    void NotifySelectionChanged(IShellControl* Sender, LPCITEMIDLIST FolderPidl, LPCITEMIDLIST ObjectPidl);
    // The call on every control other than Sender while enabled.
    void NotifySelectAll(IShellControl* Sender);
    void NotifyFullRefresh(IShellControl* Sender);
    void NotifyUpdateContents(IShellControl* Sender);
    // The call on every control while enabled.
    void FullRefreshAll() { NotifyFullRefresh(nullptr); }
    void UpdateContentsAll() { NotifyUpdateContents(nullptr); }

    // The checked-path set of list and tree (owned as a component).
    TShSelectionList* GetSelectionList() const { return selectionList_; }

    // The tree sets it (true when its selected node is not a top-level one);
    // the list asks it before it goes to the parent folder by itself.
    bool GetParentAllowed() const { return parentAllowed_; }
    void SetParentAllowed(bool Value) { parentAllowed_ = Value; }

    std::wstring GetVersion() const { return ClassName() + L" V1.0.0.0"; }
    void SetVersion(const std::wstring&) {}

    classlib::TNotifyEvent OnChange;

private:
    template <class F>
    void ForOthers(IShellControl* Sender, F Call);
    template <class F>
    void BroadcastChange(IShellControl* Sender, F Call);

    TShellControlList controls_;
    TShSelectionList* selectionList_ = nullptr;
    bool parentAllowed_ = true;
};

}  // namespace shell
