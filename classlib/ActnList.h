// Actions: one command with the state (caption, checked, enabled, hint,
// image, shortcut, visibility) shared by every control or menu entry that
// runs it.
//
// A client is connected to an action through an action link; the action
// tells every registered link when one of its properties changes, and the
// link writes the new value into its client while the client still shows
// the action's value (the link's Is...Linked tests). Execute fires
// OnExecute; Update fires OnUpdate (the place to refresh Enabled and the
// like).
//
// Ownership: an action does not own its links; a link unregisters itself
// when deleted, and a deleted action detaches every link still registered
// (their GetAction answers null afterwards). Threads: the user-interface
// thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Component.h"
#include "classlib/Events.h"

namespace classlib {

class TBasicActionLink;

class TBasicAction : public TComponent {
public:
    explicit TBasicAction(TComponent* AOwner) : TComponent(AOwner) {}
    ~TBasicAction() override;
    std::wstring ClassName() const override { return L"TBasicAction"; }

    // Fires OnExecute; answers whether a handler ran.
    virtual bool Execute();
    // Fires OnUpdate; answers whether a handler ran.
    virtual bool Update();
    // The component that runs the action during Execute (else null).
    TComponent* ActionComponent = nullptr;

    const TNotifyEvent& GetOnExecute() const { return onExecute_; }
    void SetOnExecute(const TNotifyEvent& Value);
    TNotifyEvent OnUpdate;

    void RegisterChanges(TBasicActionLink* Link);
    void UnRegisterChanges(TBasicActionLink* Link);

protected:
    // Tells every registered link that the action changed.
    void Change();
    // The links in registration order (copied before calling out).
    std::vector<TBasicActionLink*> clients_;

private:
    TNotifyEvent onExecute_;
};

// A shortcut: virtual key in the low byte, $2000 Shift, $4000 Ctrl,
// $8000 Alt; 0 is none.
using TActionShortCut = uint16_t;

class TCustomAction : public TBasicAction {
public:
    explicit TCustomAction(TComponent* AOwner) : TBasicAction(AOwner) {}
    std::wstring ClassName() const override { return L"TCustomAction"; }

    // Nothing while disabled; AutoCheck toggles Checked, then OnExecute.
    bool Execute() override;

    const std::wstring& GetCaption() const { return caption_; }
    void SetCaption(const std::wstring& Value);
    bool GetChecked() const { return checked_; }
    void SetChecked(bool Value);
    bool GetEnabled() const { return enabled_; }
    void SetEnabled(bool Value);
    uint32_t GetHelpContext() const { return helpContext_; }
    void SetHelpContext(uint32_t Value);
    const std::wstring& GetHint() const { return hint_; }
    void SetHint(const std::wstring& Value);
    int GetImageIndex() const { return imageIndex_; }
    void SetImageIndex(int Value);
    TActionShortCut GetShortCut() const { return shortCut_; }
    void SetShortCut(TActionShortCut Value);
    bool GetVisible() const { return visible_; }
    void SetVisible(bool Value);
    bool GetAutoCheck() const { return autoCheck_; }
    void SetAutoCheck(bool Value);

    // The hint hook: fires OnHint, which may change the text or refuse
    // the hint (CanShow := false); answers whether the hint may show.
    bool DoHint(std::wstring& HintStr);
    TEvent<void(std::wstring& HintStr, bool& CanShow)> OnHint;

private:
    std::wstring caption_;
    bool checked_ = false;
    bool enabled_ = true;
    uint32_t helpContext_ = 0;
    std::wstring hint_;
    int imageIndex_ = -1;
    TActionShortCut shortCut_ = 0;
    bool visible_ = true;
    bool autoCheck_ = false;
};

// Connects one client to an action. Deleting the link unregisters it.
class TBasicActionLink : public TObject {
public:
    TBasicActionLink() = default;
    ~TBasicActionLink() override;
    TBasicActionLink(const TBasicActionLink&) = delete;
    TBasicActionLink& operator=(const TBasicActionLink&) = delete;
    std::wstring ClassName() const override { return L"TBasicActionLink"; }

    TBasicAction* GetAction() const { return action_; }
    void SetAction(TBasicAction* Value);
    // Runs the action with AComponent as its ActionComponent.
    virtual bool Execute(TComponent* AComponent);
    virtual bool Update();
    // Called by the action on every change; fires OnChange(action).
    virtual void Change() { OnChange(action_); }
    TNotifyEvent OnChange;

    virtual bool IsOnExecuteLinked() { return true; }
    virtual void SetOnExecute(const TNotifyEvent& Value) { (void)Value; }

private:
    friend class TBasicAction;
    TBasicAction* action_ = nullptr;
};

// The link of a TCustomAction: each setter is called by the action when the
// property changes; the Is...Linked tests say whether the action supplies a
// property (here: whether the action is a TCustomAction). Clients override
// both to write and compare their own state.
class TActionLink : public TBasicActionLink {
public:
    std::wstring ClassName() const override { return L"TActionLink"; }
    TCustomAction* CustomAction() const { return dynamic_cast<TCustomAction*>(GetAction()); }

    virtual bool IsCaptionLinked() { return CustomAction() != nullptr; }
    virtual bool IsCheckedLinked() { return CustomAction() != nullptr; }
    virtual bool IsEnabledLinked() { return CustomAction() != nullptr; }
    virtual bool IsHelpContextLinked() { return CustomAction() != nullptr; }
    virtual bool IsHintLinked() { return CustomAction() != nullptr; }
    virtual bool IsImageIndexLinked() { return CustomAction() != nullptr; }
    virtual bool IsShortCutLinked() { return CustomAction() != nullptr; }
    virtual bool IsVisibleLinked() { return CustomAction() != nullptr; }
    bool IsOnExecuteLinked() override { return GetAction() != nullptr; }

    virtual void SetAutoCheck(bool Value) { (void)Value; }
    virtual void SetCaption(const std::wstring& Value) { (void)Value; }
    virtual void SetChecked(bool Value) { (void)Value; }
    virtual void SetEnabled(bool Value) { (void)Value; }
    virtual void SetHelpContext(uint32_t Value) { (void)Value; }
    virtual void SetHint(const std::wstring& Value) { (void)Value; }
    virtual void SetImageIndex(int Value) { (void)Value; }
    virtual void SetShortCut(TActionShortCut Value) { (void)Value; }
    virtual void SetVisible(bool Value) { (void)Value; }
};

}  // namespace classlib
