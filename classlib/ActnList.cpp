#include "classlib/ActnList.h"

#include <algorithm>

#include "classlib/ScopeGuard.h"

namespace classlib {

TBasicAction::~TBasicAction()
{
    Destroying();
    const std::vector<TBasicActionLink*> links = std::move(clients_);
    clients_.clear();
    for (TBasicActionLink* l : links) l->action_ = nullptr;
}

bool TBasicAction::Execute()
{
    if (!onExecute_) return false;
    onExecute_(this);
    return true;
}

bool TBasicAction::Update()
{
    if (!OnUpdate) return false;
    OnUpdate(this);
    return true;
}

void TBasicAction::SetOnExecute(const TNotifyEvent& Value)
{
    if (onExecute_ == Value) return;
    const std::vector<TBasicActionLink*> links = clients_;
    for (TBasicActionLink* l : links) l->SetOnExecute(Value);
    onExecute_ = Value;
    Change();
}

void TBasicAction::RegisterChanges(TBasicActionLink* Link)
{
    if (std::find(clients_.begin(), clients_.end(), Link) == clients_.end()) clients_.push_back(Link);
}

void TBasicAction::UnRegisterChanges(TBasicActionLink* Link)
{
    clients_.erase(std::remove(clients_.begin(), clients_.end(), Link), clients_.end());
}

void TBasicAction::Change()
{
    const std::vector<TBasicActionLink*> links = clients_;
    for (TBasicActionLink* l : links)
        if (std::find(clients_.begin(), clients_.end(), l) != clients_.end()) l->Change();
}

namespace {

// Calls Set on every link of the action that is a TActionLink, before the
// action stores the value (the links compare their client with the old one).
template <class F>
void ForEachLink(const std::vector<TBasicActionLink*>& Clients, F Set)
{
    const std::vector<TBasicActionLink*> links = Clients;
    for (TBasicActionLink* l : links)
        if (auto* link = dynamic_cast<TActionLink*>(l)) Set(link);
}

}  // namespace

bool TCustomAction::Execute()
{
    Update();
    if (!enabled_) return false;
    if (autoCheck_) SetChecked(!checked_);
    return TBasicAction::Execute();
}

void TCustomAction::SetCaption(const std::wstring& Value)
{
    if (caption_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetCaption(Value); });
    caption_ = Value;
    Change();
}

void TCustomAction::SetChecked(bool Value)
{
    if (checked_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetChecked(Value); });
    checked_ = Value;
    Change();
}

void TCustomAction::SetEnabled(bool Value)
{
    if (enabled_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetEnabled(Value); });
    enabled_ = Value;
    Change();
}

void TCustomAction::SetHelpContext(uint32_t Value)
{
    if (helpContext_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetHelpContext(Value); });
    helpContext_ = Value;
    Change();
}

void TCustomAction::SetHint(const std::wstring& Value)
{
    if (hint_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetHint(Value); });
    hint_ = Value;
    Change();
}

void TCustomAction::SetImageIndex(int Value)
{
    if (imageIndex_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetImageIndex(Value); });
    imageIndex_ = Value;
    Change();
}

void TCustomAction::SetShortCut(TActionShortCut Value)
{
    if (shortCut_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetShortCut(Value); });
    shortCut_ = Value;
    Change();
}

void TCustomAction::SetVisible(bool Value)
{
    if (visible_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetVisible(Value); });
    visible_ = Value;
    Change();
}

void TCustomAction::SetAutoCheck(bool Value)
{
    if (autoCheck_ == Value) return;
    ForEachLink(clients_, [&](TActionLink* l) { l->SetAutoCheck(Value); });
    autoCheck_ = Value;
    Change();
}

bool TCustomAction::DoHint(std::wstring& HintStr)
{
    bool canShow = true;
    OnHint(HintStr, canShow);
    return canShow;
}

TBasicActionLink::~TBasicActionLink()
{
    if (action_) action_->UnRegisterChanges(this);
}

void TBasicActionLink::SetAction(TBasicAction* Value)
{
    if (action_ == Value) return;
    if (action_) action_->UnRegisterChanges(this);
    action_ = Value;
    if (action_) action_->RegisterChanges(this);
}

bool TBasicActionLink::Execute(TComponent* AComponent)
{
    TBasicAction* action = action_;
    if (!action) return false;
    action->ActionComponent = AComponent;
    // The action may have been deleted by its own handler.
    TOnExit reset([this, action] {
        if (action_ == action) action->ActionComponent = nullptr;
    });
    return action->Execute();
}

bool TBasicActionLink::Update() { return action_ && action_->Update(); }

}  // namespace classlib
