// Item viewers: the flat look checked on pixels (the left strip, the
// highlight fill and outline, the main-menu-bar rule, disabled text, captions
// turned on vertical rows), the menu entry size rule, and views keeping one
// viewer per sub-item.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Forms.h"
#include "classlib/ImageList.h"
#include "controls/toolbar/MbItem.h"
#include "controls/toolbar/MbToolbar.h"

namespace {

using namespace toolbar;
using classlib::TColor;

constexpr TColor kBkgr = 0xF0F0F0, kLeft = 0x00C0C0, kFill = 0xEFD3C6, kOutline = 0x800000;
constexpr TColor kSelText = 0x0000FF, kUnact = 0x00A000, kCanvas = 0xFF00FF;

struct TPaintFixture {
    TMbRootItem root{nullptr};
    TMbItem* item = new TMbItem(nullptr);
    TMbView view;
    classlib::TBitmap bmp;

    explicit TPaintFixture(bool Toolbar) : view(nullptr, nullptr, &root, nullptr, Toolbar, false)
    {
        item->SetCaption(L"Open\tCtrl+O");
        item->XPItemBkgrCol = kBkgr;
        item->XPItemLeftCol = kLeft;
        item->SetXPItemSelBkgrCol(kFill);
        item->SetXPItemOutlineCol(kOutline);
        item->XPItemSelTxtCol = kSelText;
        item->XPItemUnactTxtCol = kUnact;
        root.Add(item);
        bmp.SetPixelFormat(classlib::pf24bit);
        bmp.SetSize(160, 20);
    }
    TColor Paint(bool Selected, int X, int Y)
    {
        classlib::TCanvas* c = bmp.GetCanvas();
        c->GetBrush()->SetColor(kCanvas);
        c->FillRect(RECT{0, 0, 160, 20});
        c->GetFont()->SetColor(classlib::clMenuText);
        c->GetBrush()->SetStyle(classlib::bsClear);
        view.EntryViewer(0)->Paint(c, RECT{0, 0, 160, 20}, Selected, false, !item->GetEnabled());
        return c->GetPixel(X, Y);
    }
    // Counts the pixels of Color inside the text area.
    int Count(TColor Color, int Left = 25, int Right = 160)
    {
        int n = 0;
        for (int y = 0; y < 20; ++y)
            for (int x = Left; x < Right; ++x) n += bmp.GetCanvas()->GetPixel(x, y) == Color;
        return n;
    }
};

TEST(MbItemViewer, FlatMenuEntryStripHighlightAndText)
{
    ASSERT_EQ(FlatStripWidth(), 20) << "the virtual display runs at 96 pixels per inch";
    TPaintFixture f(false);
    // Not selected: background and the 20-pixel strip, no highlight.
    EXPECT_EQ(f.Paint(false, 0, 10), kLeft);
    EXPECT_EQ(f.bmp.GetCanvas()->GetPixel(19, 10), kLeft);
    EXPECT_EQ(f.bmp.GetCanvas()->GetPixel(20, 10), kBkgr);
    EXPECT_EQ(f.bmp.GetCanvas()->GetPixel(21, 0), kBkgr);
    EXPECT_EQ(f.Count(kSelText), 0);
    EXPECT_GT(f.Count(classlib::ColorToRGB(classlib::clMenuText)), 0) << "caption in the prepared colour";

    // Selected: the highlight starts one pixel right of the 20-pixel image
    // column, framed; caption and shortcut in the selected text colour.
    f.Paint(true, 0, 0);
    classlib::TCanvas* c = f.bmp.GetCanvas();
    EXPECT_EQ(c->GetPixel(20, 10), kBkgr);
    EXPECT_EQ(c->GetPixel(21, 10), kOutline);
    EXPECT_EQ(c->GetPixel(21, 0), kOutline);
    EXPECT_EQ(c->GetPixel(159, 19), kOutline);
    EXPECT_EQ(c->GetPixel(22, 1), kFill);
    EXPECT_GT(f.Count(kSelText, 25, 80), 0) << "caption";
    EXPECT_GT(f.Count(kSelText, 100, 159), 0) << "shortcut, right-aligned";
    EXPECT_EQ(f.Count(classlib::ColorToRGB(classlib::clMenuText), 22, 159), 0);

    // Disabled and selected: no highlight, no embossing, text in the
    // inactive colour.
    f.item->SetEnabled(false);
    f.Paint(true, 0, 0);
    EXPECT_EQ(c->GetPixel(21, 10), kBkgr);
    EXPECT_EQ(c->GetPixel(22, 1), kBkgr);
    EXPECT_GT(f.Count(kUnact), 0);
    EXPECT_EQ(f.Count(classlib::ColorToRGB(classlib::clBtnHighlight)), 0);
    EXPECT_EQ(f.Count(kSelText), 0);
}

TEST(MbItemViewer, MainMenuBarEntryIsFilledOnlyWhenSelected)
{
    TPaintFixture f(true);
    f.item->SetTag(99);
    f.item->SetCaption(L"File");
    EXPECT_EQ(f.Paint(false, 0, 10), kCanvas) << "no fill, no strip";
    EXPECT_EQ(f.bmp.GetCanvas()->GetPixel(100, 3), kCanvas);
    EXPECT_EQ(f.Paint(true, 3, 3), kFill);
    EXPECT_EQ(f.bmp.GetCanvas()->GetPixel(150, 10), kFill);
    // The raised one-pixel toolbar edge is drawn over the outline.
    EXPECT_EQ(f.bmp.GetCanvas()->GetPixel(0, 10), classlib::ColorToRGB(classlib::clBtnHighlight));
    EXPECT_EQ(f.bmp.GetCanvas()->GetPixel(159, 10), classlib::ColorToRGB(classlib::clBtnShadow));
}

TEST(MbItemViewer, FlatSeparatorAndCheckMark)
{
    TPaintFixture f(false);
    auto* sep = new TMbSeparatorItem(nullptr);
    sep->XPItemBkgrCol = kBkgr;
    sep->XPItemLeftCol = kLeft;
    f.root.Insert(0, sep);
    classlib::TCanvas* c = f.bmp.GetCanvas();
    c->GetPen()->SetColor(0x808080);
    f.view.EntryViewer(0)->Paint(c, RECT{0, 0, 160, 3}, false, false, false);
    EXPECT_EQ(c->GetPixel(19, 1), kLeft);
    EXPECT_EQ(c->GetPixel(20, 1), 0x808080) << "line from the strip to the right edge";
    EXPECT_EQ(c->GetPixel(158, 1), 0x808080);
    EXPECT_EQ(c->GetPixel(30, 0), kBkgr);
    sep->SetBlank(true);
    c->GetBrush()->SetColor(kCanvas);
    c->FillRect(RECT{0, 0, 160, 20});
    f.view.EntryViewer(0)->Paint(c, RECT{0, 0, 160, 3}, false, false, false);
    EXPECT_EQ(c->GetPixel(10, 1), kCanvas) << "a blank separator draws nothing";

    // A checked entry without image: a sunken box in the image column with
    // the check mark in button-text colour.
    f.item->SetChecked(true);
    classlib::TColor mark = classlib::ColorToRGB(classlib::clBtnText);
    f.view.EntryViewer(1)->Paint(c, RECT{0, 0, 160, 20}, false, false, false);
    int marks = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 2; x < 19; ++x) marks += c->GetPixel(x, y) == mark;
    EXPECT_GE(marks, 7);
    EXPECT_EQ(c->GetPixel(0, 0), classlib::ColorToRGB(classlib::clBtnShadow)) << "sunken box";
}

// A toolbar entry's caption on a vertical row is drawn turned: its ink runs
// down the entry (taller than wide), on a horizontal row across it; an
// entry that asks for no rotation keeps its caption level on both.
TEST(MbItemViewer, CaptionInkRunsAlongTheRow)
{
    struct TCase {
        const char* Name;
        TMbLayoutAxis Axis;
        TMbItemOptions Options;
        bool Tall;
    };
    const TCase cases[] = {
        {"horizontal row", laHorizontal, 0, false},
        {"vertical row", laVertical, 0, true},
        {"vertical row, no rotation", laVertical, tboNoRotation, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPaintFixture f(true);
        f.item->SetCaption(L"Wide caption text");
        f.item->SetOptions(c.Options);
        f.view.Axis = c.Axis;
        EXPECT_EQ(f.view.EntryViewer(0)->TextRotated(), c.Tall);
        constexpr int kSide = 160;
        f.bmp.SetSize(kSide, kSide);
        classlib::TCanvas* canvas = f.bmp.GetCanvas();
        canvas->GetBrush()->SetColor(kCanvas);
        canvas->FillRect(RECT{0, 0, kSide, kSide});
        canvas->GetFont()->SetColor(classlib::clBlack);
        canvas->GetBrush()->SetStyle(classlib::bsClear);
        f.view.EntryViewer(0)->Paint(canvas, RECT{0, 0, kSide, kSide}, false, false, false);
        RECT ink{kSide, kSide, -1, -1};
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                if (canvas->GetPixel(x, y) == 0) {
                    ink.left = std::min<LONG>(ink.left, x);
                    ink.top = std::min<LONG>(ink.top, y);
                    ink.right = std::max<LONG>(ink.right, x + 1);
                    ink.bottom = std::max<LONG>(ink.bottom, y + 1);
                }
        ASSERT_GT(ink.right, ink.left) << "the caption is drawn";
        const LONG w = ink.right - ink.left, h = ink.bottom - ink.top;
        if (c.Tall) {
            EXPECT_GT(h, 3 * w) << w << "x" << h;
        } else {
            EXPECT_GT(w, 3 * h) << w << "x" << h;
        }
    }
}

TEST(MbItemViewer, MenuEntrySizeFollowsImageList)
{
    TPaintFixture f(false);
    classlib::TCustomImageList images(nullptr, 16, 16);
    classlib::TCanvas* c = f.bmp.GetCanvas();
    c->GetFont()->SetHeight(8);  // an 8-pixel cell
    TEXTMETRICW tm{};
    HGDIOBJ old = ::SelectObject(c->GetHandle(), c->GetFont()->GetHandle());
    ::GetTextMetricsW(c->GetHandle(), &tm);
    ::SelectObject(c->GetHandle(), old);
    ASSERT_EQ(tm.tmHeight + tm.tmExternalLeading, 8);
    f.item->SetCaption(L"");
    int w = 0, h = 0;
    f.view.EntryViewer(0)->MeasureSize(c, w, h);
    EXPECT_EQ(h, 12) << "text height + 4";
    EXPECT_EQ(w, 12 + 6 + 12) << "square image column, gap, arrow room";
    f.item->SetImages(&images);
    w = h = 0;
    f.view.EntryViewer(0)->MeasureSize(c, w, h);
    EXPECT_EQ(h, 19);
    EXPECT_EQ(w, 19 + 6 + 19);
    f.item->SetImages(nullptr);
}

TEST(MbView, KeepsOneViewerPerSubItemOfTheShownItem)
{
    TMbSubmenuItem source(nullptr), other(nullptr);
    auto* a = new TMbItem(nullptr);
    auto* b = new TMbSeparatorItem(nullptr);
    source.Add(a);
    TMbView view(nullptr, nullptr, &source, nullptr, false, false);
    ASSERT_EQ(view.EntryCount(), 1);
    source.Insert(0, b);
    ASSERT_EQ(view.EntryCount(), 2);
    EXPECT_EQ(view.EntryViewer(0)->EntryItem, b);
    EXPECT_EQ(view.EntryViewer(0)->ClassName(), L"TMbSeparatorItemViewer");
    EXPECT_EQ(view.EntryViewer(0)->AccRole(), 21);
    EXPECT_EQ(view.EntryViewer(1)->AccRole(), 12);
    delete b;
    ASSERT_EQ(view.EntryCount(), 1);
    EXPECT_EQ(view.EntryViewer(0)->EntryItem, a);
    EXPECT_THROW(view.EntryViewer(1), EMbItemError);

    // A link shows the other item's sub-items, and follows them.
    auto* c = new TMbItem(nullptr);
    auto* d = new TMbItem(nullptr);
    other.Add(c);
    other.Add(d);
    source.SetLinkSubitems(&other);
    EXPECT_EQ(view.ShownItem, &other);
    ASSERT_EQ(view.EntryCount(), 2);
    other.Remove(c);
    EXPECT_EQ(view.EntryCount(), 1);
    delete c;
    source.SetLinkSubitems(nullptr);
    EXPECT_EQ(view.EntryCount(), 1);
    EXPECT_EQ(view.EntryViewer(0)->EntryItem, a);
}

// Viewers whose focus events are recorded.
std::vector<std::pair<TMbItemViewer*, WPARAM>> gFocusEvents;

class TRecordingViewer : public TMbItemViewer {
public:
    using TMbItemViewer::TMbItemViewer;
    void AccFocusEvent(WPARAM WParam) override { gFocusEvents.emplace_back(this, WParam); }
};

class TRecordingItem : public TMbItem {
public:
    using TMbItem::TMbItem;
    TMbItemViewer* CreateViewer(TMbView* View, int NestLevel) override
    {
        return new TRecordingViewer(View, this, NestLevel);
    }
};

TEST(MbView, DeferredFocusEventsOfRemovedViewersNeverRun)
{
    TMbRootItem root(nullptr);
    auto* a = new TRecordingItem(nullptr);
    auto* b = new TRecordingItem(nullptr);
    root.Add(a);
    root.Add(b);
    TMbView view(nullptr, nullptr, &root, nullptr, false, false);
    TMbItemViewer* va = view.EntryViewer(0);
    TMbItemViewer* vb = view.EntryViewer(1);
    gFocusEvents.clear();
    PostDeferred(va, 7);
    PostDeferred(vb, 8);
    PostDeferred(a, 0);  // an item and a viewer side by side
    delete a;            // its viewer goes with it
    classlib::Application->ProcessMessages();
    ASSERT_EQ(gFocusEvents.size(), 1u);
    EXPECT_EQ(gFocusEvents[0].first, vb);
    EXPECT_EQ(gFocusEvents[0].second, 8u);
}

// A view with an entry before the shown item's entries and two after them.
class TExtrasView : public TMbView {
public:
    TExtrasView(TMbCustomItem* Source, TMbCustomItem* Front, TMbCustomItem* Extras)
        : TMbView(nullptr, nullptr, Source, nullptr, true, false), front_(Front), extras_(Extras)
    {
        RebuildViewers();
    }
    TMbCustomItem* FrontExtraItem() override { return front_; }
    TMbCustomItem* EndExtrasItem() override { return extras_; }

private:
    TMbCustomItem* front_;
    TMbCustomItem* extras_;
};

TEST(MbView, ExtraEntriesStandBeforeAndAfterTheShownItemsEntries)
{
    TMbRootItem root(nullptr), extras(nullptr);
    TMbItem front(nullptr);
    auto* a = new TMbItem(nullptr);
    auto* b = new TMbItem(nullptr);
    root.Add(a);
    root.Add(b);
    auto* e1 = new TMbItem(nullptr);
    auto* e2 = new TMbItem(nullptr);
    extras.Add(e1);
    extras.Add(e2);
    TExtrasView view(&root, &front, &extras);
    view.SetUsesPriority(true);  // rebuilds
    auto items = [&] {
        std::vector<const TMbCustomItem*> out;
        for (const TMbItemViewer* v : view.ViewerList) out.push_back(v->EntryItem);
        return out;
    };
    using List = std::vector<const TMbCustomItem*>;
    EXPECT_EQ(items(), (List{&front, a, b, e1, e2}));
    EXPECT_EQ(view.FrontExtraCount, 1);
    EXPECT_EQ(view.EndExtraCount, 2);
    // Only the shown item's own entries take part in the priority order.
    ASSERT_EQ(view.PriorityOrder.size(), 2u);
    EXPECT_EQ(view.PriorityOrder[0]->EntryItem, a);
    EXPECT_EQ(view.PriorityOrder[1]->EntryItem, b);

    // New sub-items join the shown item's entries, never the extras.
    auto* c = new TMbItem(nullptr);
    root.Add(c);
    auto* z = new TMbItem(nullptr);
    root.Insert(0, z);
    EXPECT_EQ(items(), (List{&front, z, a, b, c, e1, e2}));

    // A rebuild keeps the counts right (not added up).
    view.RebuildViewers();
    EXPECT_EQ(items(), (List{&front, z, a, b, c, e1, e2}));
    EXPECT_EQ(view.FrontExtraCount, 1);
    EXPECT_EQ(view.EndExtraCount, 2);
}

// An entry that draws only a mark and leaves the rest to the background.
class TMarkViewer : public TMbItemViewer {
public:
    using TMbItemViewer::TMbItemViewer;
    void Paint(classlib::TCanvas* Canvas, const RECT& R, bool, bool, bool) override
    {
        Canvas->GetBrush()->SetStyle(classlib::bsSolid);
        Canvas->GetBrush()->SetColor(kOutline);
        const int cx = (R.left + R.right) / 2, cy = (R.top + R.bottom) / 2;
        Canvas->FillRect(RECT{cx - 3, cy - 3, cx + 3, cy + 3});
    }
};

class TMarkItem : public TMbItem {
public:
    using TMbItem::TMbItem;
    TMbItemViewer* CreateViewer(TMbView* View, int NestLevel) override { return new TMarkViewer(View, this, NestLevel); }
};

// An entry repainted by itself is drawn through a bitmap: on the host
// window's own background, as when the whole window is erased and painted,
// never on what the canvas held before.
TEST(MbView, ABufferedEntryIsDrawnOnItsHostsBackground)
{
    classlib::TForm form(nullptr);
    form.SetBorderStyle(classlib::bsNone);
    form.SetBounds(0, 0, 300, 60);
    auto* bar = new TMbToolbar(&form);
    bar->SetParent(&form);
    auto* entry = new TMarkItem(&form);
    entry->SetCaption(L"Entry");
    bar->GetItems()->Add(entry);
    form.Show();
    TMbToolbarView* view = bar->GetView();
    view->ValidateLayout();
    TMbItemViewer* v = view->EntryViewer(0);
    ASSERT_TRUE(v->Placed);
    const RECT r = v->EntryRect;
    // A canvas larger than the toolbar (which is as wide as its entries).
    const int w = bar->GetClientWidth() + 20, h = bar->GetClientHeight() + 10;
    ASSERT_GT(r.right, r.left);

    auto canvasOf = [&](classlib::TBitmap& B) {
        B.SetPixelFormat(classlib::pf24bit);
        B.SetSize(w, h);
        B.GetCanvas()->GetBrush()->SetColor(kCanvas);
        B.GetCanvas()->FillRect(RECT{0, 0, w, h});
        return B.GetCanvas();
    };
    // The reference: the host erases the whole canvas, the entry is drawn on
    // it directly.
    classlib::TBitmap reference;
    classlib::TCanvas* rc = canvasOf(reference);
    ::SendMessageW(bar->GetHandle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(rc->GetHandle()), 0);
    view->DrawViewer(v, rc, false);

    struct Case {
        const char* name;
        bool flag, force;
    };
    for (const Case& c : {Case{"repaint flag", true, false}, Case{"forced", false, true}}) {
        SCOPED_TRACE(c.name);
        classlib::TBitmap buffered;
        classlib::TCanvas* bc = canvasOf(buffered);
        if (c.flag) v->PaintFlags |= pfBuffered;
        view->DrawViewer(v, bc, c.force);
        EXPECT_EQ(v->PaintFlags & pfBuffered, 0);
        int differ = 0, magenta = 0, ink = 0;
        const TColor back = rc->GetPixel(r.left, r.top);
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                differ += bc->GetPixel(x, y) != rc->GetPixel(x, y);
                magenta += bc->GetPixel(x, y) == kCanvas;
                ink += bc->GetPixel(x, y) != back;
            }
        EXPECT_EQ(differ, 0);
        EXPECT_EQ(magenta, 0);
        EXPECT_EQ(ink, 36);  // the mark, in its place
        // Nothing outside the entry.
        EXPECT_EQ(bc->GetPixel(r.right + 5, r.top), kCanvas);
        EXPECT_EQ(bc->GetPixel(r.left, r.bottom + 5), kCanvas);
    }
}

}  // namespace

namespace {

// A toolbar-like view with a chevron entry at the end.
class TChevronView : public TMbView {
public:
    TChevronView(TMbCustomItem* Source, TMbItem* Chevron)
        : TMbView(nullptr, nullptr, Source, nullptr, true, false), chevron_(Chevron->CreateViewer(this, 0))
    {
        ViewerList.push_back(chevron_);
    }
    TMbItemViewer* ChevronItem() override { return chevron_; }

private:
    TMbItemViewer* chevron_;  // owned through ViewerList
};

TEST(MbViewLayout, PopupRowsSeparatorsAndScrolling)
{
    TMbRootItem root(nullptr);
    const wchar_t* captions[] = {L"", L"Alpha", L"", L"", L"Beta with a longer caption", L""};
    for (const wchar_t* c : captions) {
        TMbCustomItem* i = *c ? static_cast<TMbCustomItem*>(new TMbItem(nullptr)) : new TMbSeparatorItem(nullptr);
        i->SetCaption(c);
        root.Add(i);
    }
    TMbView view(nullptr, nullptr, &root, nullptr, false, false);
    const POINT size = view.RecalcLayout();
    auto placed = [&](int i) { return view.EntryViewer(i)->Placed; };
    EXPECT_FALSE(placed(0)) << "a leading separator is hidden";
    EXPECT_TRUE(placed(2));
    EXPECT_FALSE(placed(3)) << "a doubled separator is hidden";
    EXPECT_FALSE(placed(5)) << "a trailing separator is hidden";
    const RECT a = view.EntryViewer(1)->EntryRect, s = view.EntryViewer(2)->EntryRect,
               b = view.EntryViewer(4)->EntryRect;
    EXPECT_EQ(a.bottom - a.top, 20);
    EXPECT_EQ(s.bottom - s.top, 3);
    EXPECT_EQ(b.bottom - b.top, 20);
    EXPECT_EQ(s.top, a.bottom);
    EXPECT_EQ(b.top, s.bottom);
    EXPECT_EQ(a.right, b.right) << "menu entries fill the column";
    EXPECT_EQ(size.y, 43);
    EXPECT_EQ(size.x, b.right);

    // Scrolled: ten rows in 100 pixels leave 19-pixel arrow areas.
    for (int i = 0; i < 8; ++i) {
        auto* item = new TMbItem(nullptr);
        item->SetCaption(L"Row");
        root.Add(item);
    }
    view.HeightLimit = 100;
    EXPECT_EQ(view.RecalcLayout().y, 100);
    EXPECT_FALSE(view.UpArrowShown);
    EXPECT_TRUE(view.DownArrowShown);
    int lastShownBottom = 0;
    for (TMbItemViewer* v : view.ViewerList)
        if (v->Placed) lastShownBottom = std::max(lastShownBottom, static_cast<int>(v->EntryRect.bottom));
    EXPECT_LE(lastShownBottom, 81);
    view.ScrollPos = 30;
    view.RecalcLayout();
    EXPECT_TRUE(view.UpArrowShown);
    EXPECT_TRUE(view.ViewerList[1]->ScrolledAway);
    for (TMbItemViewer* v : view.ViewerList)
        if (v->Placed) {
            EXPECT_GE(v->EntryRect.top, 19);
            EXPECT_LE(v->EntryRect.bottom, 81);
        }
    view.ScrollPos = 1000;
    view.RecalcLayout();
    EXPECT_FALSE(view.DownArrowShown) << "scrolled to the end";
    EXPECT_EQ(view.ScrollPos, 43 + 3 + 8 * 20 - 100) << "the separator before the new rows shows now";
}

TEST(MbViewLayout, ToolbarChevronAndWrap)
{
    TMbRootItem root(nullptr);
    TMbItem chevronItem(nullptr);
    std::vector<TMbItem*> items;
    for (int i = 0; i < 5; ++i) {
        auto* item = new TMbItem(nullptr);
        item->SetCaption(L"Button" + std::to_wstring(i));
        root.Add(item);
        items.push_back(item);
    }
    TChevronView view(&root, &chevronItem);
    int lines = 0;
    POINT total{}, base{};
    view.Layout(true, laHorizontal, lines, total, base, 12, 0, 0);
    const int each = view.EntryViewer(0)->EntryRect.right;
    ASSERT_GT(each, 0);
    EXPECT_EQ(base.x, 5 * each);
    EXPECT_EQ(view.EntryViewer(4)->EntryRect.left, 4 * each) << "one row";
    EXPECT_FALSE(view.ChevronItem()->Placed);

    // Room for 3.5 entries: the chevron takes 12 pixels and entries go from
    // the end of the list until the rest fits.
    const int at = 3 * each + each / 2;
    view.Layout(true, laHorizontal, lines, total, base, 12, at, 0);
    ASSERT_GE(each, 24);
    EXPECT_TRUE(view.EntryViewer(2)->Placed);
    EXPECT_TRUE(view.EntryViewer(3)->BehindChevron);
    EXPECT_TRUE(view.EntryViewer(4)->BehindChevron);
    EXPECT_TRUE(view.ChevronItem()->Placed);
    EXPECT_TRUE(chevronItem.GetEnabled());
    EXPECT_GE(view.ChevronItem()->EntryRect.left, 3 * each);
    // Priority keeps the first entry's place over the later ones.
    view.PriorityOrder = {view.EntryViewer(4), view.EntryViewer(3), view.EntryViewer(2), view.EntryViewer(1),
                          view.EntryViewer(0)};
    view.Layout(true, laHorizontal, lines, total, base, 12, 2 * each + 13, 0);
    EXPECT_TRUE(view.EntryViewer(4)->Placed);
    EXPECT_TRUE(view.EntryViewer(0)->BehindChevron);
    view.PriorityOrder.clear();
    // Never fewer than one entry.
    view.Layout(true, laHorizontal, lines, total, base, 12, 5, 0);
    EXPECT_TRUE(view.EntryViewer(0)->Placed);

    // A clicked entry from behind the chevron moves to the front of the
    // priority order and is shown after the next layout.
    view.PriorityOrder = {view.EntryViewer(0), view.EntryViewer(1), view.EntryViewer(2), view.EntryViewer(3),
                          view.EntryViewer(4)};
    view.ChevronWidth = 12;
    view.ChevronAt = 2 * each + 13;
    view.RecalcLayout();
    ASSERT_TRUE(view.EntryViewer(4)->BehindChevron);
    view.PromoteViewer(view.EntryViewer(4));
    EXPECT_EQ(view.PriorityOrder.front(), view.EntryViewer(4));
    EXPECT_TRUE(view.EntryViewer(4)->Placed);
    EXPECT_TRUE(view.EntryViewer(1)->BehindChevron);
    view.PriorityOrder.clear();
    view.ChevronAt = 0;

    // Wrapping at two and a half entries gives three lines.
    view.Layout(true, laHorizontal, lines, total, base, 12, 0, 2 * each + each / 2);
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(view.EntryViewer(2)->EntryRect.left, 0);
    EXPECT_EQ(view.EntryViewer(2)->EntryRect.top, view.EntryViewer(0)->EntryRect.bottom);
    EXPECT_EQ(total.x, 2 * each + each / 2);
}

}  // namespace
