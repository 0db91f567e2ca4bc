// Popup windows: placement by alignment near the monitor edges, submenus
// that keep the direction their parent took, tall popups with scroll
// arrows; accelerator search; the painted flat look of a whole popup;
// images drawn by state.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/ImageList.h"
#include "classlib/Forms.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"

namespace {

using namespace toolbar;

TMbCustomItem* AddItem(TMbCustomItem* Parent, TMbCustomItem* Item, const std::wstring& Caption)
{
    Item->SetCaption(Caption);
    Parent->Add(Item);
    return Item;
}

RECT WindowRect(const TMbPopupWindow* W)
{
    RECT r{};
    ::GetWindowRect(W->GetHandle(), &r);
    return r;
}

struct TPopupFixture {
    TMbRootItem root{nullptr};
    TMbCustomItem* more = nullptr;
    TMbCustomItem* deeper = nullptr;
    TPopupFixture()
    {
        AddItem(&root, new TMbItem(nullptr), L"&Alpha");
        more = AddItem(&root, new TMbSubmenuItem(nullptr), L"&More");
        AddItem(more, new TMbItem(nullptr), L"Inner");
        deeper = AddItem(more, new TMbSubmenuItem(nullptr), L"Deeper");
        AddItem(deeper, new TMbItem(nullptr), L"Deepest entry");
    }
    std::unique_ptr<TMbPopupWindow> Open(POINT P, TPopupAlignment Alignment)
    {
        return std::unique_ptr<TMbPopupWindow>(root.OpenPopupWindow(nullptr, nullptr, false, false, false, P, Alignment));
    }
};

TEST(MbPopupWindow, StandalonePopupsFollowTheirAlignmentAndStayOnTheMonitor)
{
    TPopupFixture f;
    const int sw = ::GetSystemMetrics(SM_CXSCREEN);
    auto probe = f.Open(POINT{100, 100}, paLeft);
    const RECT p = WindowRect(probe.get());
    const int wd = p.right - p.left;
    EXPECT_EQ(p.left, 100);
    EXPECT_EQ(p.top, 100);
    EXPECT_TRUE(::IsWindowVisible(probe->GetHandle()));
    probe.reset();

    struct TCase {
        int X;
        TPopupAlignment Alignment;
        int Left;
    } const cases[] = {
        {300, paRight, 300 - wd},
        {300, paCenter, 300 - wd / 2},
        {sw - 10, paLeft, sw - 10 - wd},  // does not fit: opens left of the point
        {sw - 10, paCenter, sw - wd},     // moved against the edge
        {sw - 10, paRight, sw - 10 - wd},
        {10, paRight, 10},                // near the left edge: right of the point
    };
    for (const TCase& c : cases) {
        auto w = f.Open(POINT{c.X, 200}, c.Alignment);
        EXPECT_EQ(WindowRect(w.get()).left, c.Left) << c.X << " alignment " << int(c.Alignment);
    }
    // The popup takes its entries' size plus its 3-pixel frame.
    auto w = f.Open(POINT{50, 50}, paLeft);
    RECT client{};
    ::GetClientRect(w->GetHandle(), &client);
    const RECT r = WindowRect(w.get());
    EXPECT_EQ(client.right + 6, r.right - r.left);
    EXPECT_EQ(client.bottom, 2 * 20) << "two 20-pixel rows";
}

TEST(MbPopupWindow, SubmenusKeepOpeningLeftWhileTheyFit)
{
    TPopupFixture f;
    const int sw = ::GetSystemMetrics(SM_CXSCREEN);
    // Room on the right for the first level only.
    auto top = f.Open(POINT{sw - 120, 100}, paLeft);
    TMbView* v = top->GetView();
    const RECT tr = WindowRect(top.get());
    v->SelectViewer(v->EntryViewer(1));
    ASSERT_TRUE(v->OpenSelectedPopup(true));
    TMbView* sub = v->OpenSubView;
    ASSERT_NE(sub, nullptr);
    const RECT sr = WindowRect(v->OpenSubWindow.get());
    RECT entry = v->EntryViewer(1)->EntryRect;
    ::MapWindowPoints(top->GetHandle(), nullptr, reinterpret_cast<POINT*>(&entry), 2);
    EXPECT_EQ(sr.right, entry.left + 3) << "left of the entry, 3 pixels over it";
    EXPECT_EQ(sr.top, entry.top - 3);
    EXPECT_TRUE(sub->RunFlags & rfOpenLeft);
    EXPECT_EQ(sub->SelectedViewer, sub->EntryViewer(0)) << "opened by key: first entry selected";
    // Its own submenu would fit on the right, but goes on to the left.
    sub->SelectViewer(sub->EntryViewer(1));
    ASSERT_TRUE(sub->OpenSelectedPopup(false));
    const RECT dr = WindowRect(sub->OpenSubWindow.get());
    RECT subEntry = sub->EntryViewer(1)->EntryRect;
    ::MapWindowPoints(sub->Wnd, nullptr, reinterpret_cast<POINT*>(&subEntry), 2);
    EXPECT_EQ(dr.right, subEntry.left + 3);
    EXPECT_LT(dr.left, tr.left);
    // Closing the first submenu closes the whole chain below it.
    v->CloseOpenPopup();
    EXPECT_EQ(v->OpenSubView, nullptr);
    EXPECT_EQ(v->OpenSubViewer, nullptr);

    // With room, a submenu opens to the right of its entry.
    auto left = f.Open(POINT{20, 100}, paLeft);
    TMbView* lv = left->GetView();
    lv->SelectViewer(lv->EntryViewer(1));
    ASSERT_TRUE(lv->OpenSelectedPopup(false));
    RECT e = lv->EntryViewer(1)->EntryRect;
    ::MapWindowPoints(left->GetHandle(), nullptr, reinterpret_cast<POINT*>(&e), 2);
    EXPECT_EQ(WindowRect(lv->OpenSubWindow.get()).left, e.right - 3);
    EXPECT_FALSE(lv->OpenSubView->RunFlags & rfOpenLeft);
    EXPECT_EQ(lv->OpenSubView->SelectedViewer, nullptr);
}

TEST(MbPopupWindow, TallPopupGetsTheMonitorHeightAndScrolls)
{
    TMbRootItem root(nullptr);
    const int sh = ::GetSystemMetrics(SM_CYSCREEN);
    const int rows = sh / 20 + 10;
    for (int i = 0; i < rows; ++i) AddItem(&root, new TMbItem(nullptr), L"Row " + std::to_wstring(i));
    std::unique_ptr<TMbPopupWindow> w(root.OpenPopupWindow(nullptr, nullptr, false, false, false, POINT{10, 10}, paLeft));
    TMbView* v = w->GetView();
    EXPECT_EQ(v->HeightLimit, sh - 6);
    const RECT r = WindowRect(w.get());
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.bottom, sh);
    EXPECT_FALSE(v->UpArrowShown);
    EXPECT_TRUE(v->DownArrowShown);
    // The first entry cut by the down arrow comes fully into view.
    TMbItemViewer* cut = nullptr;
    for (TMbItemViewer* e : v->ViewerList)
        if (e->ScrolledAway) {
            cut = e;
            break;
        }
    ASSERT_NE(cut, nullptr);
    v->ScrollStep(true);
    EXPECT_TRUE(cut->Placed);
    EXPECT_LE(cut->EntryRect.bottom, v->HeightLimit - 19);
    EXPECT_TRUE(v->UpArrowShown);
    // End selects the last row and scrolls it into view.
    WORD key = VK_END;
    v->HandleKey(key, 0);
    EXPECT_EQ(key, 0);
    EXPECT_EQ(v->SelectedViewer, v->ViewerList.back());
    EXPECT_TRUE(v->SelectedViewer->Placed);
    EXPECT_FALSE(v->DownArrowShown);

    // The arrows are drawn in the menu text colour, centred in 19 pixels.
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf24bit);
    RECT c{};
    ::GetClientRect(w->GetHandle(), &c);
    bmp.SetSize(c.right, c.bottom);
    bmp.GetCanvas()->GetBrush()->SetColor(0xFF00FF);
    bmp.GetCanvas()->FillRect(c);
    w->DrawScrollArrows(bmp.GetCanvas());
    EXPECT_EQ(bmp.GetCanvas()->GetPixel(c.right / 2, 9), classlib::ColorToRGB(classlib::clMenuText)) << "up arrow";
    EXPECT_EQ(bmp.GetCanvas()->GetPixel(c.right / 2, c.bottom - 10), 0xFF00FF) << "no down arrow at the end";
}

TEST(MbView, AcceleratorsThenFirstLettersEnabledFirst)
{
    TMbRootItem root(nullptr);
    const wchar_t* captions[] = {L"&Open", L"&Options", L"Print", L"&Paste", L"Zoom", L"Zero", L"Disabled &Quit",
                                 L"quiet"};
    for (const wchar_t* c : captions) AddItem(&root, new TMbItem(nullptr), c);
    root.GetItem(6)->SetEnabled(false);
    TMbView v(nullptr, nullptr, &root, nullptr, false, false);
    struct TCase {
        int From;
        wchar_t Char;
        int Found;
        bool Unique;
    } const cases[] = {
        {-1, L'o', 0, false},  // two accelerators o
        {0, L'O', 1, false},   // after the current one, ignoring case
        {1, L'o', 0, false},   // wrapping
        {-1, L'p', 3, true},   // the accelerator wins over Print's first letter
        {-1, L'r', -1, true},
        {-1, L'z', 4, false},  // first letters, two of them
        {4, L'z', 5, false},
        {-1, L'q', 6, true},   // an accelerator of a disabled entry is unique...
        {-1, L' ', -1, true},
    };
    for (const TCase& c : cases) {
        bool unique = !c.Unique;
        TMbItemViewer* from = c.From < 0 ? nullptr : v.EntryViewer(c.From);
        TMbItemViewer* found = v.FindAccelEntry(from, c.Char, unique, false);
        EXPECT_EQ(found, c.Found < 0 ? nullptr : v.EntryViewer(c.Found)) << char(c.Char) << " from " << c.From;
        if (found) {
            EXPECT_EQ(unique, c.Unique) << char(c.Char) << " from " << c.From;
        }
    }
    bool unique = false;
    EXPECT_EQ(v.FindAccelEntry(nullptr, L'z', unique, true), nullptr) << "accelerators only";
    // ...but an enabled first-letter match comes after the accelerator pass
    // only: "quiet" is found once the disabled entry no longer matches.
    root.GetItem(6)->SetCaption(L"Disabled");
    EXPECT_EQ(v.FindAccelEntry(nullptr, L'q', unique, false), v.EntryViewer(7));
    EXPECT_TRUE(unique);
}

TEST(MbPopupWindow, PaintsTheFlatLookWithAVisibleStripAndSeparator)
{
    TMbRootItem root(nullptr);
    AddItem(&root, new TMbItem(nullptr), L"First");
    AddItem(&root, new TMbSeparatorItem(nullptr), L"");
    AddItem(&root, new TMbItem(nullptr), L"Second");
    std::unique_ptr<TMbPopupWindow> w(root.OpenPopupWindow(nullptr, nullptr, false, false, false, POINT{40, 40}, paLeft));
    RECT c{};
    ::GetClientRect(w->GetHandle(), &c);
    classlib::TBitmap bmp;
    bmp.SetPixelFormat(classlib::pf24bit);
    bmp.SetSize(c.right, c.bottom);
    ::SendMessageW(w->GetHandle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(bmp.GetCanvas()->GetHandle()), PRF_CLIENT);
    classlib::TCanvas* cv = bmp.GetCanvas();
    const classlib::TColor white = 0xFFFFFF;
    const classlib::TColor strip = cv->GetPixel(5, 5);
    EXPECT_EQ(strip, FlatStripColor(classlib::clBtnFace, white));
    // However light the theme's button face, the strip stands out.
    const auto channelGap = [](classlib::TColor a, classlib::TColor b) {
        int gap = 0;
        for (int s = 0; s < 24; s += 8)
            gap = std::max(gap, std::abs(int((a >> s) & 255) - int((b >> s) & 255)));
        return gap;
    };
    EXPECT_GE(channelGap(strip, white), 24);
    EXPECT_EQ(cv->GetPixel(30, 1), white);
    // The separator line (row 20..22, its line at y 21) in the shadow grey.
    EXPECT_EQ(cv->GetPixel(40, 21), classlib::ColorToRGB(classlib::clBtnShadow));
    EXPECT_EQ(cv->GetPixel(40, 20), white);
    EXPECT_EQ(cv->GetPixel(10, 21), strip) << "the line starts at the strip";

    // A colour chosen for the item is kept as it is.
    EXPECT_EQ(FlatStripColor(0xF8F8F8, white), 0xF8F8F8);
    EXPECT_EQ(FlatStripColor(classlib::clBtnShadow, white), classlib::clBtnShadow);
}

TEST(MbImageList, DrawsFromTheListOfTheEntrysState)
{
    auto solid = [](classlib::TColor Color) {
        auto list = std::make_unique<classlib::TCustomImageList>(nullptr, 4, 4);
        classlib::TBitmap b;
        b.SetPixelFormat(classlib::pf24bit);
        b.SetSize(4, 4);
        b.GetCanvas()->GetBrush()->SetColor(Color);
        b.GetCanvas()->FillRect(RECT{0, 0, 4, 4});
        list->Add(&b, nullptr);
        return list;
    };
    auto normal = solid(0x0000FF), checked = solid(0x00FF00), disabled = solid(0xFF0000), hot = solid(0x00FFFF);
    TMbImageList states(nullptr);
    states.SetWidth(4);
    states.SetHeight(4);
    classlib::TBitmap own;
    own.SetPixelFormat(classlib::pf24bit);
    own.SetSize(8, 4);  // a strip of two images, the mask colour around a dot
    own.GetCanvas()->GetBrush()->SetColor(0xFF00FF);
    own.GetCanvas()->FillRect(RECT{0, 0, 8, 4});
    own.GetCanvas()->SetPixel(1, 1, 0x123456);
    states.SetImagesBitmap(&own);
    ASSERT_EQ(states.GetCount(), 2);
    states.SetCheckedImages(checked.get());
    states.SetDisabledImages(disabled.get());
    states.SetHotImages(hot.get());
    (void)normal;

    classlib::TBitmap target;
    target.SetPixelFormat(classlib::pf24bit);
    target.SetSize(4, 4);
    auto draw = [&](bool Enabled, bool Selected, bool Checked) {
        target.GetCanvas()->GetBrush()->SetColor(0xFFFFFF);
        target.GetCanvas()->FillRect(RECT{0, 0, 4, 4});
        states.DrawForState(target.GetCanvas(), 0, 0, 0, Enabled, Selected, Checked);
        return target.GetCanvas()->GetPixel(2, 2);
    };
    EXPECT_EQ(draw(false, true, true), 0xFF0000) << "disabled first";
    EXPECT_EQ(draw(true, true, true), 0x00FF00) << "then checked";
    EXPECT_EQ(draw(true, true, false), 0x00FFFF) << "then hot";
    EXPECT_EQ(draw(true, false, false), 0xFFFFFF) << "own image: the mask colour is transparent";
    EXPECT_EQ(target.GetCanvas()->GetPixel(1, 1), 0x123456);
    // A deleted state list is forgotten.
    hot.reset();
    EXPECT_EQ(states.GetHotImages(), nullptr);
    EXPECT_EQ(draw(true, true, false), 0xFFFFFF);
    states.SetCheckedImages(&states);
    EXPECT_EQ(states.GetCheckedImages(), nullptr) << "never itself";
}

// A popup's entries are written in the font of the view that opened it: a
// toolbar that keeps its own font passes it on, one on the system font
// passes the menu font. The menu font follows a change of the system's
// setting once the toolbar hears of it.
TEST(MbPopupFont, APopupTakesTheOpeningViewsFontAndTheMenuFontFollowsTheSystem)
{
    classlib::TForm form(nullptr);
    form.SetBounds(0, 0, 400, 200);
    auto* bar = new TMbToolbar(&form);
    bar->SetParent(&form);
    TMbCustomItem* file = AddItem(bar->GetItems(), new TMbSubmenuItem(&form), L"&File");
    AddItem(file, new TMbItem(&form), L"Open");
    form.Show();

    bar->SetSystemFont(false);
    bar->GetFont()->SetName(L"Courier New");
    bar->GetFont()->SetHeight(-19);
    {
        TMbPopupWindow popup(bar->GetView(), file);
        classlib::TFont* font = popup.GetView()->ViewFont();
        EXPECT_EQ(font->GetName(), L"Courier New");
        EXPECT_EQ(font->GetHeight(), -19);
    }
    bar->SetSystemFont(true);
    {
        TMbPopupWindow popup(bar->GetView(), file);
        EXPECT_EQ(popup.GetView()->ViewFont()->GetName(), SharedMenuFont()->GetName());
        EXPECT_EQ(popup.GetView()->ViewFont()->GetHeight(), SharedMenuFont()->GetHeight());
    }

    NONCLIENTMETRICSW saved;
    ASSERT_TRUE(MbReadNonClientMetrics(saved));
    EXPECT_EQ(SharedMenuFont()->GetHeight(), saved.lfMenuFont.lfHeight);
    NONCLIENTMETRICSW changed = saved;
    changed.lfMenuFont.lfHeight = saved.lfMenuFont.lfHeight < 0 ? saved.lfMenuFont.lfHeight - 7 : -21;
    ASSERT_TRUE(::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(changed), &changed, 0));
    NONCLIENTMETRICSW now;
    ASSERT_TRUE(MbReadNonClientMetrics(now));
    const bool applied = now.lfMenuFont.lfHeight == changed.lfMenuFont.lfHeight;
    ::SendMessageW(bar->GetHandle(), WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0);
    const int after = SharedMenuFont()->GetHeight();
    ::SystemParametersInfoW(SPI_SETNONCLIENTMETRICS, sizeof(saved), &saved, 0);
    MbUpdateMenuFont();
    ASSERT_TRUE(applied) << "the system kept its menu font";
    EXPECT_EQ(after, changed.lfMenuFont.lfHeight);
    EXPECT_EQ(SharedMenuFont()->GetHeight(), saved.lfMenuFont.lfHeight);
}

}  // namespace
