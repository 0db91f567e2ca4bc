// Components: named objects in an ownership tree with free notification.
//
// Ownership: a component created with an owner (or inserted into one) is
// deleted by that owner. Deleting a component at any time is allowed; it
// leaves its owner's list. An owner deletes what it owns in reverse order of
// insertion (the newest first), from TComponent's own destructor, so the
// owned components outlive the owner's derived destructor bodies. A derived
// class whose owned components depend on members of the derived class calls
// DestroyComponents() at the start of its own destructor.
//
// Destruction of a component runs, after the derived destructors:
//   1. csDestroying is set on it and on everything it owns;
//   2. every component linked by FreeNotification sees Notification(it,
//      opRemove), the most recently linked first;
//   3. its owned components are deleted (newest first);
//   4. it leaves its owner, whose Notification(it, opRemove) runs.
// During these notifications the component is no longer of its derived class:
// receivers may compare the pointer but must not use the object.
//
// Notification(component, operation) of the base class forwards the
// notification to every owned component, so a whole tree hears of an
// insertion into or a removal from any owner in it.
//
// Components are not thread-safe: one thread (normally the main thread)
// creates, links and deletes the components of a tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Exceptions.h"
#include "classlib/Persistent.h"

namespace classlib {

CLASSLIB_EXCEPTION(EComponentError, Exception);

// ComponentState flags.
enum TComponentStateFlag : unsigned {
    csLoading = 0x01,
    csReading = 0x02,
    csWriting = 0x04,
    csDestroying = 0x08,
    csDesigning = 0x10,
    csUpdating = 0x20,
    csFreeNotification = 0x40,
};
using TComponentState = unsigned;

enum TOperation { opInsert, opRemove };

class TComponent;
void BeginLoading(TComponent* root);
void EndLoading(TComponent* root);

class TComponent : public TPersistent {
public:
    // Inserts the new component into owner (when not null); the owner and
    // its tree see Notification(this, opInsert).
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    std::wstring ClassName() const override { return L"TComponent"; }

    TComponent* GetOwner() const { return owner_; }
    int GetComponentCount() const { return static_cast<int>(components_.size()); }
    // The owned component at index (insertion order); EListError
    // "List index out of bounds (%d)" for a bad index.
    TComponent* GetComponent(int index) const;
    // Index in the owner's list, -1 without an owner.
    int GetComponentIndex() const;

    const std::wstring& GetName() const { return name_; }
    // An empty name is always allowed. Otherwise the name must be an
    // identifier (EComponentError "'%s' is not a valid component name") and
    // no other component of the same owner may carry it, ignoring case
    // (EComponentError "A component named %s already exists").
    virtual void SetName(const std::wstring& name);

    std::intptr_t GetTag() const { return tag_; }
    void SetTag(std::intptr_t tag) { tag_ = tag; }

    // The owned component with this name, ignoring case; null when none or
    // when name is empty. Only the direct children are searched.
    TComponent* FindComponent(const std::wstring& name) const;

    TComponentState GetComponentState() const { return state_; }

    // Links this component and other so that each sees Notification(...,
    // opRemove) when the other is destroyed. Components with the same owner
    // are not linked: the owner's notification reaches them anyway. Sets
    // csFreeNotification. Linking twice has no further effect.
    void FreeNotification(TComponent* other);
    // Undoes a link made by FreeNotification (both directions).
    void RemoveFreeNotification(TComponent* other);

    // Takes component into this component's ownership (removing it from its
    // previous owner first). Raises EComponentError for a duplicate name, in
    // which case nothing changes. While this component is loading, the
    // inserted one takes its csLoading and csReading flags.
    void InsertComponent(TComponent* component);
    // Gives up ownership of component without deleting it; the tree sees
    // Notification(component, opRemove) first.
    void RemoveComponent(TComponent* component);
    // Deletes every owned component, newest first.
    void DestroyComponents();
    // Sets csDestroying on this component and everything it owns.
    void Destroying();

protected:
    // Called once the component tree has been built (EndLoading); clears
    // csLoading. Overrides call the base.
    virtual void Loaded();
    // Told of insertions into and removals from this tree and of linked
    // components being destroyed. Overrides call the base, which drops a
    // FreeNotification link to a removed component and forwards to the
    // owned components.
    virtual void Notification(TComponent* component, TOperation operation);
    // Brackets a change of the component: sets / clears csUpdating.
    void Updating() { state_ |= csUpdating; }
    void Updated() { state_ &= ~static_cast<unsigned>(csUpdating); }

private:
    friend void BeginLoading(TComponent* root);
    friend void EndLoading(TComponent* root);

    void ValidateRename(const TComponent* component, const std::wstring& newName) const;
    void RemoveFreeNotifications();
    void CollectTree(std::vector<TComponent*>& out);

    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    std::wstring name_;
    std::intptr_t tag_ = 0;
    TComponentState state_ = 0;
    std::uint64_t serial_;  // creation order
};

// The loading bracket for component trees built in code. BeginLoading sets
// csLoading and csReading on root and every component it owns (at any depth);
// components inserted into a loading owner until EndLoading take these flags
// too. EndLoading clears csReading, then calls Loaded on every component of
// the tree that is loading, in the order the components were created, and
// makes sure csLoading is cleared on each. When a Loaded raises, the others
// still run and the first exception is raised again at the end. A Loaded
// must not delete components of the tree being loaded.
void BeginLoading(TComponent* root);
void EndLoading(TComponent* root);

}  // namespace classlib
