#include "classlib/Automation.h"

#include <vector>

#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"

namespace classlib {

namespace {

std::vector<TAutomationClicker>& Clickers()
{
    static std::vector<TAutomationClicker> clickers;
    return clickers;
}

// The text of a global atom; empty for 0 or an unknown atom.
std::wstring AtomText(WPARAM Atom)
{
    if (Atom == 0 || Atom > 0xFFFF) return {};
    wchar_t buffer[256] = {};
    UINT n = ::GlobalGetAtomNameW(static_cast<ATOM>(Atom), buffer, 256);
    return std::wstring(buffer, n);
}

TComponent* FindDeep(const TComponent* Owner, const std::wstring& Name)
{
    if (TComponent* c = Owner->FindComponent(Name)) return c;
    for (int i = 0; i < Owner->GetComponentCount(); ++i)
        if (TComponent* c = FindDeep(Owner->GetComponent(i), Name)) return c;
    return nullptr;
}

// A user reaches a control only when it and the controls it stands in are
// visible and enabled.
bool Reachable(const TControl* Control)
{
    for (const TControl* c = Control; c; c = c->GetParent()) {
        if (dynamic_cast<const TCustomForm*>(c)) break;
        if (!c->GetVisible() || !c->GetEnabled()) return false;
    }
    return true;
}

}  // namespace

// Friend of TControl: calls its protected Click.
class TAutomationAccess {
public:
    static void Click(TControl* Control) { Control->Click(); }
};

UINT FindControlMessage()
{
    static const UINT msg = ::RegisterWindowMessageW(L"VelmoFindControl");
    return msg;
}

UINT ClickControlMessage()
{
    static const UINT msg = ::RegisterWindowMessageW(L"VelmoClickControl");
    return msg;
}

void RegisterAutomationClicker(TAutomationClicker Clicker)
{
    if (Clicker) Clickers().push_back(Clicker);
}

TComponent* FindAutomationComponent(TCustomForm* Form, const std::wstring& Name)
{
    if (!Form || Name.empty()) return nullptr;
    return FindDeep(Form, Name);
}

bool HandleAutomationMessage(TCustomForm* Form, TMessage& Message)
{
    if (Message.Msg == 0) return false;
    if (Message.Msg == FindControlMessage()) {
        Message.Result = 0;
        auto* control = dynamic_cast<TWinControl*>(FindAutomationComponent(Form, AtomText(Message.WParam)));
        if (control) Message.Result = reinterpret_cast<LRESULT>(control->GetHandle());
        return true;
    }
    if (Message.Msg == ClickControlMessage()) {
        Message.Result = 0;
        TComponent* component = FindAutomationComponent(Form, AtomText(Message.WParam));
        if (!component) return true;
        if (auto* control = dynamic_cast<TControl*>(component)) {
            if (!Reachable(control)) return true;
            if (auto* check = dynamic_cast<TCheckBox*>(control)) check->SetChecked(!check->GetChecked());
            Message.Result = 1;
            TAutomationAccess::Click(control);
            return true;
        }
        for (TAutomationClicker clicker : Clickers())
            if (clicker(component)) {
                Message.Result = 1;
                return true;
            }
        return true;
    }
    return false;
}

}  // namespace classlib
