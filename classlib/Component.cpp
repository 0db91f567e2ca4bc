#include "classlib/Component.h"

#include <algorithm>
#include <atomic>
#include <exception>

#include "classlib/SysUtils.h"

namespace classlib {

namespace {

std::atomic<std::uint64_t> gNextSerial{0};

void EraseOne(std::vector<TComponent*>& v, const TComponent* c)
{
    auto it = std::find(v.begin(), v.end(), c);
    if (it != v.end()) v.erase(it);
}

}  // namespace

TComponent::TComponent(TComponent* owner) : serial_(gNextSerial.fetch_add(1))
{
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent()
{
    Destroying();
    RemoveFreeNotifications();
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::GetComponent(int index) const
{
    if (index < 0 || index >= GetComponentCount())
        throw EListError(Format(L"List index out of bounds (%d)", index));
    return components_[static_cast<std::size_t>(index)];
}

int TComponent::GetComponentIndex() const
{
    if (!owner_) return -1;
    const auto& list = owner_->components_;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TComponent::SetName(const std::wstring& name)
{
    if (name == name_) return;
    if (!name.empty() && !IsValidIdent(name))
        throw EComponentError(Format(L"'%s' is not a valid component name", name));
    if (owner_) owner_->ValidateRename(this, name);
    name_ = name;
}

void TComponent::ValidateRename(const TComponent* component, const std::wstring& newName) const
{
    if (newName.empty()) return;
    for (const TComponent* c : components_)
        if (c != component && SameText(c->name_, newName))
            throw EComponentError(Format(L"A component named %s already exists", newName));
}

TComponent* TComponent::FindComponent(const std::wstring& name) const
{
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* other)
{
    if (!other || other == this) return;
    if (!owner_ || other->owner_ != owner_) {
        if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
            freeNotifies_.push_back(other);
            other->FreeNotification(this);
        }
    }
    state_ |= csFreeNotification;
}

void TComponent::RemoveFreeNotification(TComponent* other)
{
    if (!other) return;
    auto it = std::find(freeNotifies_.begin(), freeNotifies_.end(), other);
    if (it == freeNotifies_.end()) return;
    freeNotifies_.erase(it);
    other->RemoveFreeNotification(this);
}

void TComponent::RemoveFreeNotifications()
{
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        EraseOne(other->freeNotifies_, this);
        other->Notification(this, opRemove);
    }
}

void TComponent::InsertComponent(TComponent* component)
{
    if (!component) return;
    for (const TComponent* o = this; o; o = o->owner_)
        if (o == component) throw EComponentError(L"A component cannot own itself or an owner of itself");
    if (component->owner_ == this) return;
    ValidateRename(component, component->name_);
    if (component->owner_) component->owner_->RemoveComponent(component);
    components_.push_back(component);
    component->owner_ = this;
    if (state_ & csLoading) component->state_ |= state_ & (csLoading | csReading);
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component)
{
    if (!component || component->owner_ != this) return;
    Notification(component, opRemove);
    EraseOne(components_, component);
    component->owner_ = nullptr;
}

void TComponent::DestroyComponents()
{
    while (!components_.empty()) {
        TComponent* c = components_.back();
        components_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
}

void TComponent::Destroying()
{
    if (state_ & csDestroying) return;
    state_ |= csDestroying;
    for (TComponent* c : components_) c->Destroying();
}

void TComponent::Loaded() { state_ &= ~static_cast<unsigned>(csLoading); }

void TComponent::Notification(TComponent* component, TOperation operation)
{
    if (operation == opRemove && component) RemoveFreeNotification(component);
    // Backwards with a bound check: a receiver may delete components.
    for (std::size_t i = components_.size(); i-- > 0;) {
        if (i < components_.size()) components_[i]->Notification(component, operation);
    }
}

void TComponent::CollectTree(std::vector<TComponent*>& out)
{
    out.push_back(this);
    for (TComponent* c : components_) c->CollectTree(out);
}

void BeginLoading(TComponent* root)
{
    if (!root) return;
    std::vector<TComponent*> all;
    root->CollectTree(all);
    for (TComponent* c : all) c->state_ |= csLoading | csReading;
}

void EndLoading(TComponent* root)
{
    if (!root) return;
    std::vector<TComponent*> all;
    root->CollectTree(all);
    for (TComponent* c : all) c->state_ &= ~static_cast<unsigned>(csReading);
    std::vector<TComponent*> loading;
    for (TComponent* c : all)
        if (c->state_ & csLoading) loading.push_back(c);
    std::stable_sort(loading.begin(), loading.end(),
                     [](const TComponent* a, const TComponent* b) { return a->serial_ < b->serial_; });
    // A Loaded may not delete components of the tree.
    std::exception_ptr first;
    for (TComponent* c : loading) {
        try {
            c->Loaded();
        } catch (...) {
            if (!first) first = std::current_exception();
        }
        c->state_ &= ~static_cast<unsigned>(csLoading);
    }
    if (first) std::rethrow_exception(first);
}

}  // namespace classlib
