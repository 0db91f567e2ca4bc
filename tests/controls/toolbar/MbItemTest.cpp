// The item tree: index and insertion errors, the change notifications views
// rely on, radio groups, inherited options, links, action links, shortcut
// execution, clicks and deferred clicks.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/ActnList.h"
#include "classlib/Forms.h"
#include "classlib/ImageList.h"
#include "controls/toolbar/MbItem.h"

namespace {

using namespace toolbar;

struct TRecord {
    TMbCustomItem* Sender;
    TMbItemChange Change;
    int Index;
    TMbCustomItem* Item;
};

struct TRecorder {
    std::vector<TRecord> Seen;
    void Changed(TMbCustomItem* S, TMbItemChange C, int I, TMbCustomItem* It) { Seen.push_back({S, C, I, It}); }
    TMbItemChangedProc Proc() { return TMbItemChangedProc(this, &TRecorder::Changed); }
    std::vector<TMbItemChange> Kinds() const
    {
        std::vector<TMbItemChange> k;
        for (const TRecord& r : Seen) k.push_back(r.Change);
        return k;
    }
};

struct TLog {
    std::vector<std::wstring> Lines;
    void Click(classlib::TObject* S) { Lines.push_back(L"click " + static_cast<TMbCustomItem*>(S)->GetName()); }
    void Popup(classlib::TObject* S, bool) { Lines.push_back(L"popup " + static_cast<TMbCustomItem*>(S)->GetName()); }
};

template <class T>
T* Named(classlib::TComponent* Owner, const wchar_t* Name)
{
    auto* item = new T(Owner);
    item->SetName(Name);
    return item;
}

TEST(MbItemTree, IndexAndInsertionErrors)
{
    classlib::TComponent owner(nullptr);
    TMbItem root(nullptr), other(nullptr);
    auto* a = new TMbItem(&owner);
    auto* b = new TMbItem(&owner);
    auto raisesRange = [](auto f) {
        try {
            f();
        } catch (const EMbItemError& e) {
            return e.Message() == L"Toolbar item index out of range";
        }
        return false;
    };
    EXPECT_EQ(root.GetCount(), 0);
    EXPECT_TRUE(raisesRange([&] { root.GetItem(0); }));
    EXPECT_TRUE(raisesRange([&] { root.Insert(1, a); }));
    root.Insert(0, a);  // at Count
    root.Add(b);
    EXPECT_TRUE(raisesRange([&] { root.Move(0, 2); }));
    EXPECT_TRUE(raisesRange([&] { root.GetItem(-1); }));
    EXPECT_THROW(other.Add(a), EMbItemError) << "already inserted";
    EXPECT_THROW(a->Add(&root), EMbItemError) << "an ancestor cannot become a sub-item";
    root.Remove(a);
    EXPECT_EQ(a->GetParentItem(), nullptr);
    other.Add(a);
    EXPECT_EQ(a->GetParentItem(), &other);
    other.Remove(a);
    root.Move(0, 0);
    EXPECT_EQ(root.GetItem(0), b);
}

TEST(MbItemTree, ChangeNotifications)
{
    TMbSubmenuItem parent(nullptr);
    TRecorder rec;
    parent.RegisterListener(rec.Proc());
    auto* item = new TMbItem(nullptr);
    parent.Add(item);
    ASSERT_EQ(rec.Seen.size(), 3u);
    EXPECT_EQ(rec.Kinds(), (std::vector<TMbItemChange>{icBeginUpdate, icInserted, icEndUpdate}));
    EXPECT_EQ(rec.Seen[1].Index, 0);
    EXPECT_EQ(rec.Seen[1].Item, item);

    struct TCase {
        const char* What;
        void (*Change)(TMbItem*);
        TMbItemChange Expected;  // icEndUpdate: no notification
    };
    const TCase cases[] = {
        {"image added", [](TMbItem* i) { i->SetImageIndex(3); }, icLayout},
        {"image swapped", [](TMbItem* i) { i->SetImageIndex(4); }, icInvalidate},
        {"image taken away", [](TMbItem* i) { i->SetImageIndex(-1); }, icLayout},
        {"caption", [](TMbItem* i) { i->SetCaption(L"Open"); }, icLayout},
        {"same caption", [](TMbItem* i) { i->SetCaption(L"Open"); }, icEndUpdate},
        {"visible", [](TMbItem* i) { i->SetVisible(false); }, icLayout},
        {"checked", [](TMbItem* i) { i->SetChecked(true); }, icInvalidate},
        {"enabled", [](TMbItem* i) { i->SetEnabled(false); }, icInvalidate},
        {"highlight fill", [](TMbItem* i) { i->SetXPItemSelBkgrCol(0x123456); }, icInvalidate},
        {"outline", [](TMbItem* i) { i->SetXPItemOutlineCol(0x654321); }, icInvalidate},
        {"name", [](TMbItem* i) { i->SetName(L"mnuOpen"); }, icNameChanged},
        {"hint", [](TMbItem* i) { i->Hint = L"x"; }, icEndUpdate},
        {"size option", [](TMbItem* i) { i->SetOptions(tboDefault); }, icLayout},
        {"hint option", [](TMbItem* i) { i->SetOptions(tboDefault | tboShowHint); }, icEndUpdate},
    };
    for (const TCase& c : cases) {
        rec.Seen.clear();
        c.Change(item);
        if (c.Expected == icEndUpdate) {
            EXPECT_TRUE(rec.Seen.empty()) << c.What;
            continue;
        }
        ASSERT_EQ(rec.Seen.size(), 1u) << c.What;
        EXPECT_EQ(rec.Seen[0].Change, c.Expected) << c.What;
        EXPECT_EQ(rec.Seen[0].Sender, &parent) << c.What;
        EXPECT_EQ(rec.Seen[0].Item, item) << c.What;
    }
    EXPECT_EQ(item->GetXPItemSelBkgrCol(), 0x123456);
    EXPECT_EQ(item->GetXPItemOutlineCol(), 0x654321);

    // Removal is announced while the item is still listed.
    int indexWhileDeleting = -2;
    struct TProbe {
        int* Out;
        void Changed(TMbCustomItem* S, TMbItemChange C, int, TMbCustomItem* It)
        {
            if (C == icDeleting) *Out = S->IndexOf(It);
        }
    } probe{&indexWhileDeleting};
    parent.RegisterListener(TMbItemChangedProc(&probe, &TProbe::Changed));
    delete item;
    EXPECT_EQ(indexWhileDeleting, 0);
    EXPECT_EQ(parent.GetCount(), 0);
    parent.UnregisterListener(TMbItemChangedProc(&probe, &TProbe::Changed));
    parent.UnregisterListener(rec.Proc());
}

// A listener removing itself during a notification does not make the next
// one miss it; a twice-registered listener needs two removals.
TEST(MbItemTree, ListenersMayUnregisterWhileNotified)
{
    TMbItem parent(nullptr);
    struct TQuitter {
        TMbItem* From;
        int Calls = 0;
        void Changed(TMbCustomItem*, TMbItemChange, int, TMbCustomItem*)
        {
            ++Calls;
            From->UnregisterListener(TMbItemChangedProc(this, &TQuitter::Changed));
        }
    } quitter{&parent};
    TRecorder after, twice;
    parent.RegisterListener(TMbItemChangedProc(&quitter, &TQuitter::Changed));
    parent.RegisterListener(after.Proc());
    parent.RegisterListener(twice.Proc());
    parent.RegisterListener(twice.Proc());
    parent.NotifyListeners(icInvalidate, -1, nullptr);
    parent.NotifyListeners(icLayout, -1, nullptr);
    EXPECT_EQ(quitter.Calls, 1);
    EXPECT_EQ(after.Seen.size(), 2u);
    EXPECT_EQ(twice.Seen.size(), 2u) << "one entry with a count, called once";
    parent.UnregisterListener(twice.Proc());
    parent.NotifyListeners(icLayout, -1, nullptr);
    EXPECT_EQ(twice.Seen.size(), 3u);
    parent.UnregisterListener(twice.Proc());
    parent.UnregisterListener(twice.Proc());  // not registered: ignored
    parent.NotifyListeners(icLayout, -1, nullptr);
    EXPECT_EQ(twice.Seen.size(), 3u);
    parent.UnregisterListener(after.Proc());
}

TEST(MbItemTree, RadioGroupsUncheckSiblingsOnly)
{
    TMbItem parent(nullptr), elsewhere(nullptr);
    TMbItem *g[3], *free, *distant;
    for (auto*& i : g) {
        i = new TMbItem(nullptr);
        i->SetGroupIndex(1);
        parent.Add(i);
    }
    parent.Add(free = new TMbItem(nullptr));
    elsewhere.Add(distant = new TMbItem(nullptr));
    distant->SetGroupIndex(1);
    free->SetChecked(true);
    distant->SetChecked(true);
    g[0]->SetChecked(true);
    g[1]->SetChecked(true);
    EXPECT_FALSE(g[0]->GetChecked());
    EXPECT_TRUE(g[1]->GetChecked());
    EXPECT_TRUE(free->GetChecked()) << "group 0 is no group";
    EXPECT_TRUE(distant->GetChecked()) << "another parent's group";
    // A checked item joining the group takes the check over.
    free->SetGroupIndex(1);
    EXPECT_FALSE(g[1]->GetChecked());
    EXPECT_TRUE(free->GetChecked());
}

TEST(MbItemTree, OptionsNormaliseAndInherit)
{
    TMbItem parent(nullptr);
    parent.SetOptions(tboToolbarSize);
    EXPECT_EQ(parent.GetOptions(), 0);
    parent.SetOptions(tboToolbarStyle | tboToolbarSize);
    EXPECT_EQ(parent.GetOptions(), tboToolbarStyle | tboToolbarSize);
    parent.SetOptions(tboDefault | tboShowHint);
    auto* child = new TMbItem(nullptr);
    auto* grandchild = new TMbItem(nullptr);
    child->Add(grandchild);
    parent.Add(child);
    EXPECT_EQ(child->GetEffectiveOptions(), tboShowHint) << "tboDefault is not inherited";
    EXPECT_EQ(grandchild->GetEffectiveOptions(), tboShowHint);
    child->SetMaskOptions(tboShowHint);
    EXPECT_EQ(grandchild->GetEffectiveOptions(), 0);
    grandchild->SetInheritOptions(false);
    child->SetMaskOptions(0);
    EXPECT_EQ(grandchild->GetEffectiveOptions(), 0);
    // A masked inherited tboToolbarStyle takes tboToolbarSize along.
    parent.SetOptions(tboToolbarStyle);
    child->SetOptions(tboToolbarSize);
    EXPECT_EQ(child->GetEffectiveOptions(), tboToolbarStyle);
    child->SetMaskOptions(tboToolbarStyle);
    EXPECT_EQ(child->GetEffectiveOptions(), 0);
}

TEST(MbItemTree, LinksAndImageListsAreClearedWhenTheyGo)
{
    TMbSubmenuItem item(nullptr);
    TRecorder own;
    item.RegisterListener(own.Proc());
    item.SetLinkSubitems(&item);
    EXPECT_EQ(item.GetLinkSubitems(), nullptr);
    EXPECT_EQ(item.LinkedItem(), &item);
    auto* target = new TMbSubmenuItem(nullptr);
    item.SetLinkSubitems(target);
    EXPECT_EQ(item.LinkedItem(), target);
    delete target;
    EXPECT_EQ(item.GetLinkSubitems(), nullptr);
    EXPECT_EQ(own.Kinds(), (std::vector<TMbItemChange>{icLinkChanged, icLinkChanged}));

    TMbItem parent(nullptr);
    TRecorder rec;
    auto* child = new TMbItem(nullptr);
    parent.Add(child);
    parent.RegisterListener(rec.Proc());
    auto* small = new classlib::TCustomImageList(nullptr, 16, 16);
    auto* same = new classlib::TCustomImageList(nullptr, 16, 16);
    child->SetImages(small);
    child->SetImages(same);
    small->SetWidth(24);  // no longer the item's list: unheard
    same->SetHeight(20);
    delete same;
    EXPECT_EQ(child->GetImages(), nullptr);
    EXPECT_EQ(rec.Kinds(), (std::vector<TMbItemChange>{icLayout, icInvalidate, icLayout, icLayout}));
    delete small;

    item.SetSubMenuImages(small = new classlib::TCustomImageList(nullptr, 16, 16));
    own.Seen.clear();
    small->SetWidth(20);
    delete small;
    EXPECT_EQ(item.GetSubMenuImages(), nullptr);
    EXPECT_EQ(own.Kinds(), (std::vector<TMbItemChange>{icSubMenuImages, icSubMenuImages}));
    item.UnregisterListener(own.Proc());
    parent.UnregisterListener(rec.Proc());
}

TEST(MbItemTree, ShortCutOpensEverySubmenuOnThePathThenClicks)
{
    classlib::TComponent owner(nullptr);
    TLog log;
    auto* root = Named<TMbRootItem>(&owner, L"root");
    auto* file = Named<TMbSubmenuItem>(&owner, L"file");
    auto* recent = Named<TMbSubmenuItem>(&owner, L"recent");
    auto* reload = Named<TMbItem>(&owner, L"reload");
    auto* other = Named<TMbItem>(&owner, L"other");
    root->Add(file);
    root->Add(other);
    file->Add(recent);
    recent->Add(reload);
    reload->SetShortCut(ShortCut(VK_F5, 0));
    for (TMbCustomItem* i : {static_cast<TMbCustomItem*>(root), static_cast<TMbCustomItem*>(file),
                             static_cast<TMbCustomItem*>(recent)})
        i->OnPopup = TMbPopupEvent(&log, &TLog::Popup);
    for (TMbCustomItem* i : {static_cast<TMbCustomItem*>(reload), static_cast<TMbCustomItem*>(other)})
        i->OnClick = classlib::TNotifyEvent(&log, &TLog::Click);

    TMbCustomItem* path = nullptr;
    EXPECT_EQ(root->FindShortCutItem(ShortCut(VK_F5, 0), path), reload);
    EXPECT_EQ(path, file);
    EXPECT_EQ(file->FindShortCutItem(ShortCut(VK_F6, 0), path), nullptr);

    MSG msg{};
    msg.message = WM_KEYDOWN;
    msg.wParam = VK_F5;
    EXPECT_TRUE(root->ExecuteShortCut(msg));
    EXPECT_EQ(log.Lines, (std::vector<std::wstring>{L"popup root", L"popup file", L"popup recent", L"click reload"}));

    log.Lines.clear();
    recent->SetEnabled(false);
    EXPECT_FALSE(root->ExecuteShortCut(msg));
    EXPECT_EQ(log.Lines, (std::vector<std::wstring>{L"popup root", L"popup file"}));

    msg.wParam = VK_F6;
    EXPECT_FALSE(root->ExecuteShortCut(msg));

    reload->SetCaption(L"Reload\tF5 key");
    EXPECT_EQ(reload->ShortCutText(), L"F5 key");
    EXPECT_EQ(reload->MenuCaption(), L"Reload");
    other->SetShortCut(ShortCut('O', classlib::ssCtrl | classlib::ssShift));
    EXPECT_EQ(other->ShortCutText(), L"Shift+Ctrl+O");
}

struct TActionLog {
    int Executes = 0, Updates = 0, OwnClicks = 0;
    void Execute(classlib::TObject*) { ++Executes; }
    void Update(classlib::TObject*) { ++Updates; }
    void OwnClick(classlib::TObject*) { ++OwnClicks; }
};

TEST(MbItemTree, ActionLinksCopyFollowAndRunTheAction)
{
    classlib::TComponent owner(nullptr);
    TActionLog log;
    auto* action = new classlib::TCustomAction(&owner);
    action->SetCaption(L"&Save");
    action->SetHint(L"Save|Saves the album list");
    action->SetShortCut(ShortCut('S', classlib::ssCtrl));
    action->SetImageIndex(2);
    action->SetHelpContext(7);
    action->SetOnExecute(classlib::TNotifyEvent(&log, &TActionLog::Execute));
    action->OnUpdate = classlib::TNotifyEvent(&log, &TActionLog::Update);
    auto* root = Named<TMbRootItem>(&owner, L"root");
    auto* item = Named<TMbItem>(&owner, L"item");
    root->Add(item);
    TRecorder rec;
    root->RegisterListener(rec.Proc());

    // Assigned in code: every property is copied.
    item->SetCaption(L"Mine");
    item->SetAction(action);
    EXPECT_EQ(item->GetCaption(), L"&Save");
    EXPECT_EQ(item->Hint, L"Save|Saves the album list");
    EXPECT_EQ(item->GetShortCut(), ShortCut('S', classlib::ssCtrl));
    EXPECT_EQ(item->GetImageIndex(), 2);
    EXPECT_EQ(item->HelpContext, 7u);
    EXPECT_TRUE(item->OnClick == action->GetOnExecute());
    EXPECT_FALSE(rec.Seen.empty()) << "the copied caption is announced to views";

    // Every change of the action is copied into the item.
    action->SetEnabled(false);
    EXPECT_FALSE(item->GetEnabled());
    action->SetEnabled(true);
    item->SetCaption(L"Own caption");
    action->SetCaption(L"Save &as");
    EXPECT_EQ(item->GetCaption(), L"Save &as");
    action->SetChecked(true);
    EXPECT_TRUE(item->GetChecked());
    action->SetVisible(false);
    EXPECT_FALSE(item->GetVisible());
    action->SetVisible(true);

    // A click runs the action; an OnClick of the item's own runs instead.
    item->PerformClick();
    EXPECT_EQ(log.Executes, 1);
    EXPECT_EQ(log.Updates, 1) << "executing updates the action first";
    item->OnClick = classlib::TNotifyEvent(&log, &TActionLog::OwnClick);
    item->PerformClick();
    EXPECT_EQ(log.Executes, 1);
    EXPECT_EQ(log.OwnClicks, 1);
    item->OnClick = action->GetOnExecute();

    // AutoCheck from the action: the action toggles, the item follows once.
    action->SetAutoCheck(true);
    EXPECT_TRUE(item->AutoCheck);
    item->PerformClick();
    EXPECT_FALSE(action->GetChecked());
    EXPECT_FALSE(item->GetChecked()) << "toggled once, by the action";
    action->SetEnabled(false);
    item->PerformClick();
    EXPECT_EQ(log.Executes, 2) << "a disabled item clicks nothing";
    action->SetEnabled(true);

    // A shortcut updates the actions of the level it searches.
    MSG msg{};
    msg.message = WM_KEYDOWN;
    msg.wParam = 'S';
    const int updates = log.Updates;
    // Ctrl is not held: no match.
    EXPECT_FALSE(root->ExecuteShortCut(msg));
    item->SetShortCut(ShortCut('S', 0));
    EXPECT_TRUE(root->ExecuteShortCut(msg));
    EXPECT_GT(log.Updates, updates);

    // The action going away leaves the properties it set.
    item->SetCaption(L"&Save");
    delete action;
    EXPECT_EQ(item->GetAction(), nullptr);
    EXPECT_EQ(item->GetActionLink(), nullptr);
    EXPECT_EQ(item->GetCaption(), L"&Save");
    item->PerformClick();  // the handler it took from the action
    EXPECT_EQ(log.Executes, 4);
    root->UnregisterListener(rec.Proc());
}

TEST(MbItemTree, ActionsReadFromAFormFillOnlyDefaults)
{
    classlib::TComponent form(nullptr);
    auto* action = new classlib::TCustomAction(&form);
    action->SetCaption(L"Action caption");
    action->SetHint(L"Action hint");
    classlib::BeginLoading(&form);
    auto* item = Named<TMbItem>(&form, L"item");
    item->SetCaption(L"Form caption");
    item->SetAction(action);
    classlib::EndLoading(&form);
    EXPECT_EQ(item->GetCaption(), L"Form caption") << "the form's own value stays";
    EXPECT_EQ(item->Hint, L"Action hint") << "a default is filled in";
}

TEST(MbItemTree, FormBuildingPutsItemsUnderItemsOrTheHostsRoot)
{
    classlib::TComponent owner(nullptr);
    auto* menu = new TMbPopupMenu(&owner);
    auto* sub = Named<TMbSubmenuItem>(&owner, L"sub");
    auto* a = Named<TMbItem>(&owner, L"a");
    auto* b = Named<TMbItem>(&owner, L"b");
    sub->SetParentComponent(menu);
    EXPECT_EQ(sub->GetParentItem(), menu->GetItems());
    EXPECT_EQ(sub->GetParentComponent(), menu) << "the host stands for its root";
    a->SetParentComponent(sub);
    b->SetParentComponent(sub);
    EXPECT_EQ(a->GetParentComponent(), sub);
    sub->SetChildOrder(b, 0);
    std::vector<classlib::TComponent*> children;
    sub->GetChildren([&](classlib::TComponent* C) { children.push_back(C); });
    EXPECT_EQ(children, (std::vector<classlib::TComponent*>{b, a}));
    // Moving to another container takes the item out of the old one.
    a->SetParentComponent(menu);
    EXPECT_EQ(sub->GetCount(), 1);
    EXPECT_EQ(menu->GetItems()->IndexOf(a), 1);
    try {
        b->SetParentComponent(&owner);
        ADD_FAILURE() << "a plain component holds no items";
    } catch (const EMbItemError& e) {
        EXPECT_EQ(e.Message(), L"Toolbar item cannot be inserted into container of type TComponent");
    }
    EXPECT_EQ(b->GetParentItem(), nullptr);
    b->SetParentComponent(nullptr);
    EXPECT_EQ(b->GetParentComponent(), nullptr);
}

TEST(MbItemTree, ClicksToggleAutoCheckFirstAndDeferredClicksOfDeletedItemsNeverRun)
{
    classlib::TComponent owner(nullptr);
    struct TWatch {
        std::vector<bool> CheckedAtClick;
        std::vector<std::wstring> Names;
        void Click(classlib::TObject* S)
        {
            auto* i = static_cast<TMbCustomItem*>(S);
            CheckedAtClick.push_back(i->GetChecked());
            Names.push_back(i->GetName());
        }
    } watch;
    auto* keep = Named<TMbItem>(&owner, L"keep");
    auto* gone = Named<TMbItem>(&owner, L"gone");
    keep->AutoCheck = true;
    for (TMbItem* i : {keep, gone}) i->OnClick = classlib::TNotifyEvent(&watch, &TWatch::Click);
    keep->PerformClick();
    EXPECT_EQ(watch.CheckedAtClick, std::vector<bool>{true});

    watch.Names.clear();
    PostDeferred(gone, 0);
    PostDeferred(keep, 0);
    PostDeferred(gone, 0);
    EXPECT_TRUE(watch.Names.empty()) << "deferred clicks wait for the message loop";
    delete gone;
    auto* late = Named<TMbItem>(&owner, L"late");  // may reuse the freed memory
    late->OnClick = classlib::TNotifyEvent(&watch, &TWatch::Click);
    classlib::Application->ProcessMessages();
    EXPECT_EQ(watch.Names, std::vector<std::wstring>{L"keep"});
}

TEST(MbItemTree, FlatSelectionColoursFollowTheCaptionColour)
{
    struct TCase {
        classlib::TColor Caption, Fill, Outline;
    } const cases[] = {
        {0xA05010, 0xEFD3C6, 0x800000},  // blue strongest
        {0x808080, 0xDDDDDD, 0x666666},  // grey
        {0xFF00FF, 0xDDDDDD, 0x666666},  // tie between red and blue
        {0x20C020, 0xCCFFCC, 0x008800},
        {0x1020F0, 0xAEAEFF, 0x000088},
    };
    for (const TCase& c : cases) {
        classlib::TColor fill = 0, outline = 0;
        FlatSelectionColors(c.Caption, fill, outline);
        EXPECT_EQ(fill, c.Fill) << std::hex << c.Caption;
        EXPECT_EQ(outline, c.Outline) << std::hex << c.Caption;
    }
    classlib::TColor fill = 0, outline = 0;
    FlatSelectionColors(static_cast<classlib::TColor>(::GetSysColor(COLOR_ACTIVECAPTION)), fill, outline);
    TMbItem item(nullptr);
    EXPECT_EQ(item.GetXPItemSelBkgrCol(), fill);
    EXPECT_EQ(item.GetXPItemOutlineCol(), outline);
}

}  // namespace

// The popup menu hands out plain copies of its items for menus the platform
// draws: each kind of item keeps what such a menu shows, hidden items are
// marked, control items left out, submenus are announced before their
// entries are read, and a copy's click is the item's own click.
TEST(MbPopupMenuCopy, CopiesShowWhatTheItemsShowAndClickTheOriginals)
{
    classlib::TComponent owner(nullptr);
    auto* menu = new TMbPopupMenu(&owner);
    auto* images = new classlib::TImageList(&owner);
    auto* ownImages = new classlib::TImageList(&owner);
    menu->SetImages(images);
    TMbCustomItem* root = menu->GetItems();

    auto* open = Named<TMbItem>(&owner, L"open");
    open->SetCaption(L"&Open");
    open->SetShortCut(ShortCut('O', classlib::ssCtrl));
    open->Hint = L"Open|Opens the file";
    open->SetImageIndex(2);
    open->SetTag(7);
    open->HelpContext = 12;
    auto* hidden = Named<TMbItem>(&owner, L"hidden");
    hidden->SetCaption(L"Hidden");
    hidden->SetVisible(false);
    auto* off = Named<TMbItem>(&owner, L"off");
    off->SetCaption(L"Off\tF9");
    off->SetEnabled(false);
    off->SetImages(ownImages);
    off->SetImageIndex(0);
    auto* radio = Named<TMbItem>(&owner, L"radio");
    radio->SetCaption(L"Radio");
    radio->SetRadioItem(true);
    radio->SetGroupIndex(3);
    radio->SetChecked(true);
    radio->SetOptions(tboDefault);
    auto* separator = Named<TMbSeparatorItem>(&owner, L"separator");
    auto* control = new TMbControlItem(&owner);
    auto* sub = Named<TMbSubmenuItem>(&owner, L"sub");
    sub->SetCaption(L"More");
    auto* inner = Named<TMbItem>(&owner, L"inner");
    inner->SetCaption(L"Inner");
    inner->AutoCheck = true;
    for (TMbCustomItem* item : std::vector<TMbCustomItem*>{open, hidden, off, radio, separator, control, sub})
        root->Add(item);
    sub->Add(inner);

    // A submenu that fills itself when it opens shows what it added.
    struct TFiller {
        TMbCustomItem* Sub;
        classlib::TComponent* Owner;
        int Popups = 0;
        void Popup(classlib::TObject*, bool)
        {
            ++Popups;
            auto* late = new TMbItem(Owner);
            late->SetCaption(L"Late");
            Sub->Add(late);
        }
    } filler{sub, &owner};
    sub->OnPopup = TMbPopupEvent(&filler, &TFiller::Popup);

    const std::vector<classlib::TMenuItemCopy> copies = menu->CopyItems();
    EXPECT_EQ(filler.Popups, 1);
    ASSERT_EQ(copies.size(), 6u) << "the control item is left out";

    struct Expected {
        const wchar_t* Caption;
        const wchar_t* ShortCutText;
        const wchar_t* Name;
        bool Visible, Enabled, Checked, Radio, Default, Submenu, Clickable;
        int ImageIndex;
        classlib::TCustomImageList* Images;
    };
    const Expected expected[] = {
        {L"&Open", L"Ctrl+O", L"open2", true, true, false, false, false, false, true, 2, images},
        {L"Hidden", L"", L"hidden2", false, true, false, false, false, false, true, -1, images},
        {L"Off", L"F9", L"off2", true, false, false, false, false, false, true, 0, ownImages},
        {L"Radio", L"", L"radio2", true, true, true, true, true, false, true, -1, images},
        {L"-", L"", L"separator2", true, true, false, false, false, false, false, -1, nullptr},
        {L"More", L"", L"sub2", true, true, false, false, false, true, false, -1, images},
    };
    for (size_t i = 0; i < copies.size(); ++i) {
        SCOPED_TRACE(copies[i].Caption);
        const Expected& e = expected[i];
        EXPECT_EQ(copies[i].Caption, e.Caption);
        EXPECT_EQ(copies[i].ShortCutText, e.ShortCutText);
        EXPECT_EQ(copies[i].Name, e.Name);
        EXPECT_EQ(copies[i].Visible, e.Visible);
        EXPECT_EQ(copies[i].Enabled, e.Enabled);
        EXPECT_EQ(copies[i].Checked, e.Checked);
        EXPECT_EQ(copies[i].RadioItem, e.Radio);
        EXPECT_EQ(copies[i].Default, e.Default);
        EXPECT_EQ(copies[i].IsSubmenu, e.Submenu);
        EXPECT_EQ(bool(copies[i].Click), e.Clickable);
        EXPECT_EQ(copies[i].ImageIndex, e.ImageIndex);
        EXPECT_EQ(copies[i].Images, e.Images);
    }
    EXPECT_EQ(copies[0].ShortCut, ShortCut('O', classlib::ssCtrl));
    EXPECT_EQ(copies[0].Hint, L"Open|Opens the file");
    EXPECT_EQ(copies[0].Tag, 7);
    EXPECT_EQ(copies[0].HelpContext, 12u);
    EXPECT_EQ(copies[0].Source, open);
    EXPECT_EQ(copies[3].GroupIndex, 3);
    ASSERT_EQ(copies[5].Items.size(), 2u);
    EXPECT_EQ(copies[5].Items[0].Caption, L"Inner");
    EXPECT_EQ(copies[5].Items[1].Caption, L"Late");

    // A copy's click is the item's: the check toggles, the handler runs
    // once; a disabled item's copy does nothing.
    TLog log;
    inner->OnClick = classlib::TNotifyEvent(&log, &TLog::Click);
    off->OnClick = classlib::TNotifyEvent(&log, &TLog::Click);
    copies[5].Items[0].Click();
    EXPECT_TRUE(inner->GetChecked());
    copies[2].Click();
    EXPECT_EQ(log.Lines, std::vector<std::wstring>{L"click inner"});
}

// The popup menu is the class library's: shown through the base class it
// fires the base's OnPopup with itself as Sender.
TEST(MbPopupMenuCopy, IsTheClassLibrarysPopupMenu)
{
    classlib::TComponent owner(nullptr);
    auto* menu = new TMbPopupMenu(&owner);
    classlib::TPopupMenu* base = menu;
    std::vector<classlib::TObject*> senders;
    struct TSeen {
        std::vector<classlib::TObject*>* Senders;
        void Popup(classlib::TObject* S) { Senders->push_back(S); }
    } seen{&senders};
    base->OnPopup = classlib::TNotifyEvent(&seen, &TSeen::Popup);
    EXPECT_TRUE(menu->CopyItems().empty());
    menu->GetItems()->DoPopup(false);
    EXPECT_EQ(senders, std::vector<classlib::TObject*>{menu});
}
