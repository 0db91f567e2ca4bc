#include "controls/shell/ShellLink.h"

#include <vector>

#include "classlib/ScopeGuard.h"
#include "controls/shell/ShComRef.h"

namespace shell {

const IID IID_IShellControl = {0xC211C2D9, 0x827E, 0x4D46, {0xB0, 0x7B, 0xFE, 0xB3, 0xF4, 0x73, 0xDD, 0x7F}};

TShellLink::TShellLink(classlib::TComponent* Owner) : TShBaseComponent(Owner)
{
    enabled_ = true;
    selectionList_ = new TShSelectionList(this);
}

TShellLink::~TShellLink()
{
    for (int i = controls_.GetCount() - 1; i >= 0; --i) {
        if (i >= controls_.GetCount())
            continue;  // a control removed more than itself
        TComRef<IShellControl> control(controls_.GetControl(i));
        control->AddRef();
        control->SetShellLink(nullptr);
    }
    controls_.Clear();
    delete selectionList_;
}

void TShellLink::RegisterControl(IShellControl* Control)
{
    if (Control && controls_.IndexOf(Control) < 0)
        controls_.Add(Control);
}

void TShellLink::UnregisterControl(IShellControl* Control)
{
    if (Control)
        controls_.Remove(Control);
}

// Calls Call on a snapshot of the controls (each held by a reference), so a
// control that registers or unregisters meanwhile does not upset the walk.
template <class F>
void TShellLink::ForOthers(IShellControl* Sender, F Call)
{
    std::vector<TComRef<IShellControl>> snapshot;
    for (int i = 0; i < controls_.GetCount(); ++i) {
        IShellControl* c = controls_.GetControl(i);
        if (c && c != Sender) {
            c->AddRef();
            snapshot.emplace_back(c);
        }
    }
    for (auto& c : snapshot)
        Call(c.Get());
}

// Passes a change on to the other controls with the link switched off, so
// that what they do about it does not come back round, then fires OnChange.
// A link already switched off passes nothing on.
template <class F>
void TShellLink::BroadcastChange(IShellControl* Sender, F Call)
{
    if (!GetEnabled())
        return;
    SetEnabled(false);
    {
        classlib::TOnExit reenable([this] { SetEnabled(true); });
        ForOthers(Sender, Call);
    }
    OnChange(this);
}

void TShellLink::NotifyFolderChanged(IShellControl* Sender, LPCITEMIDLIST AbsolutePidl)
{
    BroadcastChange(Sender, [&](IShellControl* c) { c->FolderChanged(AbsolutePidl); });
}

void TShellLink::NotifySelectionChanged(IShellControl* Sender, LPCITEMIDLIST FolderPidl, LPCITEMIDLIST ObjectPidl)
{
    BroadcastChange(Sender, [&](IShellControl* c) { c->SelectionChanged(FolderPidl, ObjectPidl); });
}

void TShellLink::NotifySelectAll(IShellControl* Sender)
{
    if (GetEnabled())
        ForOthers(Sender, [](IShellControl* c) { c->SelectAll(); });
}

void TShellLink::NotifyFullRefresh(IShellControl* Sender)
{
    if (GetEnabled())
        ForOthers(Sender, [](IShellControl* c) { c->FullRefresh(); });
}

void TShellLink::NotifyUpdateContents(IShellControl* Sender)
{
    if (GetEnabled())
        ForOthers(Sender, [](IShellControl* c) { c->UpdateContents(); });
}

}  // namespace shell
