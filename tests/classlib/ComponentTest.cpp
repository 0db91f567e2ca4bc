#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/Component.h"

using namespace classlib;

namespace {

// A component that writes its destructor, notifications and Loaded calls to
// a shared log. Names in the log are the component names.
struct Logged : TComponent {
    Logged(TComponent* owner, const std::wstring& name, std::vector<std::wstring>& log)
        : TComponent(owner), log_(log)
    {
        SetName(name);
    }
    ~Logged() override { log_.push_back(L"~" + GetName()); }

    void Notification(TComponent* c, TOperation op) override
    {
        // Only the pointer may be used during a removal; names are looked up
        // in the watched list filled by the test.
        std::wstring who = L"?";
        for (auto& w : watched)
            if (w.first == c) who = w.second;
        log_.push_back(GetName() + (op == opInsert ? L"+" : L"-") + who);
        if (op == opRemove && c == partner) partner = nullptr;
        TComponent::Notification(c, op);
    }
    void Loaded() override
    {
        // csReading is gone, csLoading still set until the base runs.
        std::wstring flags = (GetComponentState() & csReading) ? L"R" : L"";
        flags += (GetComponentState() & csLoading) ? L"L" : L"";
        log_.push_back(L"Loaded " + GetName() + L" " + flags);
        TComponent::Loaded();
    }

    std::vector<std::pair<TComponent*, std::wstring>> watched;
    TComponent* partner = nullptr;

private:
    std::vector<std::wstring>& log_;
};

using Log = std::vector<std::wstring>;

TEST(Component, OwnerDeletesOwnedNewestFirst)
{
    Log log;
    auto* root = new Logged(nullptr, L"Root", log);
    auto* a = new Logged(root, L"A", log);
    new Logged(a, L"A1", log);
    new Logged(root, L"B", log);
    ASSERT_EQ(root->GetComponentCount(), 2);
    EXPECT_EQ(root->GetComponent(0), a);
    EXPECT_EQ(a->GetOwner(), root);
    EXPECT_EQ(a->GetComponentIndex(), 0);
    EXPECT_THROW(root->GetComponent(2), EListError);

    log.clear();
    delete root;
    EXPECT_EQ(log, (Log{L"~Root", L"~B", L"~A", L"~A1"}));
}

TEST(Component, DeletingOwnedComponentLeavesOwnerAndOwnerIsNotified)
{
    Log log;
    Logged root(nullptr, L"Root", log);
    auto* a = new Logged(&root, L"A", log);
    auto* b = new Logged(&root, L"B", log);
    root.watched = {{a, L"A"}, {b, L"B"}};
    b->watched = root.watched;
    log.clear();
    delete a;
    // The owner and, through it, the sibling hear of the removal after A's
    // own destructor has run.
    EXPECT_EQ(log, (Log{L"~A", L"Root-A", L"B-A"}));
    EXPECT_EQ(root.GetComponentCount(), 1);
    EXPECT_EQ(root.FindComponent(L"A"), nullptr);

    log.clear();
    auto* c = new Logged(nullptr, L"C", log);
    // c may reuse the address of the deleted a: watch by the new pointer only.
    root.watched = {{c, L"C"}};
    b->watched = root.watched;
    root.InsertComponent(c);
    EXPECT_EQ(c->GetOwner(), &root);
    EXPECT_EQ(log.front(), L"Root+C");
    root.RemoveComponent(c);
    EXPECT_EQ(c->GetOwner(), nullptr);
    EXPECT_EQ(root.GetComponentCount(), 1);
    EXPECT_EQ(log.back(), L"B-C");
    delete c;  // unowned now: deleted by the test
    EXPECT_THROW(b->InsertComponent(&root), EComponentError);  // would own its owner
}

TEST(Component, FreeNotificationIsSeenAfterTheDestroyedDestructor)
{
    Log log;
    Logged viewer(nullptr, L"Viewer", log);
    auto* image = new Logged(nullptr, L"Image", log);
    viewer.watched = {{image, L"Image"}};
    viewer.partner = image;
    image->FreeNotification(&viewer);
    EXPECT_TRUE(image->GetComponentState() & csFreeNotification);

    log.clear();
    delete image;
    EXPECT_EQ(log, (Log{L"~Image", L"Viewer-Image"}));
    EXPECT_EQ(viewer.partner, nullptr);

    // The link works both ways and is dropped with the removal: deleting the
    // viewer later touches nothing that is gone, and an unlinked component
    // is not told.
    auto* other = new Logged(nullptr, L"Other", log);
    auto* third = new Logged(nullptr, L"Third", log);
    other->watched = {{third, L"Third"}};
    third->FreeNotification(other);
    third->RemoveFreeNotification(other);
    log.clear();
    delete third;
    EXPECT_EQ(log, (Log{L"~Third"}));
    delete other;
}

TEST(Component, FreeNotificationsReachOtherTreesDuringOwnerDestruction)
{
    Log log;
    Logged watcher(nullptr, L"Watcher", log);
    auto* form = new Logged(nullptr, L"Form", log);
    auto* button = new Logged(form, L"Button", log);
    watcher.watched = {{button, L"Button"}, {form, L"Form"}};
    button->FreeNotification(&watcher);
    log.clear();
    delete form;
    EXPECT_EQ(log, (Log{L"~Form", L"~Button", L"Watcher-Button"}));
}

TEST(Component, NamesAreIdentifiersUniqueWithinTheOwner)
{
    Log log;
    Logged root(nullptr, L"Root", log);
    auto* a = new Logged(&root, L"btnStart", log);
    EXPECT_EQ(root.FindComponent(L"BTNSTART"), a);
    EXPECT_EQ(root.FindComponent(L""), nullptr);

    auto* b = new Logged(&root, L"", log);
    try {
        b->SetName(L"BtnStart");
        FAIL() << "no exception";
    } catch (const EComponentError& e) {
        EXPECT_EQ(e.Message(), L"A component named BtnStart already exists");
    }
    EXPECT_EQ(b->GetName(), L"");
    EXPECT_THROW(b->SetName(L"2nd"), EComponentError);
    new Logged(&root, L"", log);  // empty names may repeat
    a->SetName(L"BTNSTART");      // renaming itself is no duplicate
    EXPECT_EQ(a->GetName(), L"BTNSTART");

    // A component whose name is taken cannot join the owner.
    Logged stray(nullptr, L"btnstart", log);
    EXPECT_THROW(root.InsertComponent(&stray), EComponentError);
    EXPECT_EQ(stray.GetOwner(), nullptr);
    EXPECT_EQ(root.GetComponentCount(), 3);

    a->SetTag(-5);
    EXPECT_EQ(a->GetTag(), -5);
}

TEST(Component, LoadingBracketCallsLoadedInCreationOrder)
{
    Log log;
    Logged form(nullptr, L"Form", log);
    auto* panel = new Logged(&form, L"Panel", log);
    auto* menu = new Logged(&form, L"Menu", log);
    new Logged(menu, L"Item", log);   // created before the panel's child
    new Logged(panel, L"Label", log);

    BeginLoading(&form);
    EXPECT_EQ(panel->GetComponentState() & (csLoading | csReading), unsigned(csLoading | csReading));
    // Created while the tree is loading: takes part too.
    auto* late = new Logged(panel, L"Late", log);
    EXPECT_TRUE(late->GetComponentState() & csLoading);

    log.clear();
    EndLoading(&form);
    EXPECT_EQ(log, (Log{L"Loaded Form L", L"Loaded Panel L", L"Loaded Menu L", L"Loaded Item L",
                        L"Loaded Label L", L"Loaded Late L"}));
    EXPECT_EQ(form.GetComponentState() & csLoading, 0u);
    EXPECT_EQ(late->GetComponentState() & csLoading, 0u);

    // Outside a bracket nothing is loading.
    auto* after = new Logged(&form, L"After", log);
    EXPECT_EQ(after->GetComponentState() & csLoading, 0u);
}

TEST(Component, FailingLoadedDoesNotStopTheOthers)
{
    struct Bad : TComponent {
        using TComponent::TComponent;
        void Loaded() override { throw EComponentError(L"bad"); }
    };
    Log log;
    Logged form(nullptr, L"Form", log);
    auto* bad = new Bad(&form);
    auto* ok = new Logged(&form, L"Ok", log);
    BeginLoading(&form);
    log.clear();
    EXPECT_THROW(EndLoading(&form), EComponentError);
    EXPECT_EQ(log, (Log{L"Loaded Form L", L"Loaded Ok L"}));
    EXPECT_EQ(bad->GetComponentState() & csLoading, 0u);
    EXPECT_EQ(ok->GetComponentState() & csLoading, 0u);
}

}  // namespace
