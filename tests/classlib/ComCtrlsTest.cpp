#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/ComCtrls.h"
#include "support/HostWindow.h"

using namespace classlib;
using testsupport::THostWindow;

namespace {

// What the window shows in a cell (asked from the list view object).
std::wstring CellText(HWND wnd, int item, int sub)
{
    wchar_t buf[256] = {};
    LVITEMW lv{};
    lv.iSubItem = sub;
    lv.pszText = buf;
    lv.cchTextMax = 256;
    ::SendMessageW(wnd, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
    return buf;
}

void SetRowSelected(HWND wnd, int item, bool selected)
{
    LVITEMW lv{};
    lv.stateMask = LVIS_SELECTED;
    lv.state = selected ? LVIS_SELECTED : 0;
    ::SendMessageW(wnd, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
}

struct TSelectLog {
    std::vector<std::pair<std::wstring, bool>> Selects;
    int Changes = 0;
    void Select(TObject*, TListItem* Item, bool Selected) { Selects.emplace_back(Item->GetCaption(), Selected); }
    void Change(TObject*, TListItem*, TItemChange C)
    {
        if (C == ctState) ++Changes;
    }
};

TListItem* AddRow(TListView& view, const wchar_t* caption, std::initializer_list<const wchar_t*> subs)
{
    TListItem* item = view.GetItems()->Add();
    item->SetCaption(caption);
    for (const wchar_t* s : subs) item->GetSubItems()->Add(s);
    return item;
}

}  // namespace

TEST(ListView, ColumnsItemsAndSubItemsReachTheWindow)
{
    THostWindow host(400, 300);
    TListView view(nullptr);
    view.SetViewStyle(vsReport);
    TListColumn* name = view.GetColumns()->Add();
    name->SetCaption(L"Name");
    name->SetWidth(120);
    view.GetColumns()->Add()->SetCaption(L"Size");
    AddRow(view, L"a.jpg", {L"10"});
    int tag = 7;
    AddRow(view, L"b.jpg", {L"20", L"extra"})->Data = &tag;

    view.SetParentWindow(host.Get());
    HWND wnd = view.GetHandle();
    EXPECT_EQ(LVS_REPORT, ::GetWindowLongPtrW(wnd, GWL_STYLE) & LVS_TYPEMASK);
    EXPECT_EQ(2, ::SendMessageW(wnd, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ(120, ::SendMessageW(wnd, LVM_GETCOLUMNWIDTH, 0, 0));
    EXPECT_EQ(L"a.jpg", CellText(wnd, 0, 0));
    EXPECT_EQ(L"20", CellText(wnd, 1, 1));
    EXPECT_EQ(L"", CellText(wnd, 0, 2));

    // Items added, changed, inserted and deleted with the window there.
    AddRow(view, L"c.jpg", {L"30"});
    view.GetItems()->GetItem(0)->SetCaption(L"A.JPG");
    view.GetItems()->GetItem(0)->GetSubItems()->SetStrings(0, L"11");
    view.GetItems()->Insert(1)->SetCaption(L"new");
    view.GetItems()->Delete(0);
    EXPECT_EQ(3, ::SendMessageW(wnd, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ(L"new", CellText(wnd, 0, 0));
    EXPECT_EQ(L"b.jpg", CellText(wnd, 1, 0));
    EXPECT_EQ(L"30", CellText(wnd, 2, 1));
    EXPECT_EQ(&tag, view.GetItems()->GetItem(1)->Data);
    EXPECT_EQ(2, view.GetItems()->GetItem(2)->GetIndex());
    EXPECT_THROW(view.GetItems()->GetItem(3), EListError);
    EXPECT_THROW(view.GetItems()->Insert(5), EListError);

    // A width the user set stays when the window is made again.
    ::SendMessageW(wnd, LVM_SETCOLUMNWIDTH, 0, 90);
    EXPECT_EQ(90, name->GetWidth());
    view.SetShowColumnHeaders(false);
    wnd = view.GetHandle();
    EXPECT_TRUE(::GetWindowLongPtrW(wnd, GWL_STYLE) & LVS_NOCOLUMNHEADER);
    EXPECT_EQ(90, ::SendMessageW(wnd, LVM_GETCOLUMNWIDTH, 0, 0));
    EXPECT_EQ(L"b.jpg", CellText(wnd, 1, 0));

    view.GetItems()->Clear();
    EXPECT_EQ(0, ::SendMessageW(wnd, LVM_GETITEMCOUNT, 0, 0));
}

// Row icons come from the item (asked by the window on each draw) out of
// a borrowed image list that survives the window.
TEST(ListView, ItemImagesFromABorrowedImageList)
{
    THostWindow host(400, 300);
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32, 4, 0);
    ASSERT_NE(images, nullptr);
    {
        TListView view(nullptr);
        view.SetViewStyle(vsReport);
        view.GetColumns()->Add();
        view.SetSmallImages(images);
        TListItem* item = view.GetItems()->Add();
        EXPECT_EQ(item->GetImageIndex(), -1);
        item->SetImageIndex(2);
        view.SetParentWindow(host.Get());
        HWND wnd = view.GetHandle();
        EXPECT_EQ(reinterpret_cast<LPARAM>(images), ::SendMessageW(wnd, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        auto image = [&] {
            LVITEMW lv{};
            lv.mask = LVIF_IMAGE;
            ::SendMessageW(wnd, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&lv));
            return lv.iImage;
        };
        EXPECT_EQ(image(), 2);
        item->SetImageIndex(3);
        EXPECT_EQ(image(), 3);
    }
    EXPECT_EQ(ImageList_GetImageCount(images), 0);  // still a live list
    EXPECT_TRUE(ImageList_Destroy(images));
}

TEST(ListView, SelectionEventsAndMultiSelect)
{
    THostWindow host(400, 300);
    TListView view(nullptr);
    view.SetViewStyle(vsReport);
    view.GetColumns()->Add();
    for (const wchar_t* c : {L"a", L"b", L"c", L"d"}) AddRow(view, c, {});
    view.GetItems()->GetItem(1)->SetSelected(true);
    view.SetParentWindow(host.Get());
    HWND wnd = view.GetHandle();
    EXPECT_TRUE(::GetWindowLongPtrW(wnd, GWL_STYLE) & LVS_SINGLESEL);
    EXPECT_EQ(1, view.GetItemIndex());
    EXPECT_EQ(view.GetItems()->GetItem(1), view.GetSelected());

    TSelectLog log;
    view.OnSelectItem = TLVSelectItemEvent(&log, &TSelectLog::Select);
    view.OnChange = TLVChangeEvent(&log, &TSelectLog::Change);
    SetRowSelected(wnd, 3, true);  // as the user would: the old row goes
    ASSERT_EQ(2u, log.Selects.size());
    EXPECT_EQ((std::pair<std::wstring, bool>(L"b", false)), log.Selects[0]);
    EXPECT_EQ((std::pair<std::wstring, bool>(L"d", true)), log.Selects[1]);
    EXPECT_GE(log.Changes, 2);
    EXPECT_EQ(1, view.GetSelCount());
    EXPECT_EQ(3, view.GetItemIndex());

    view.SetMultiSelect(true);
    wnd = view.GetHandle();
    EXPECT_FALSE(::GetWindowLongPtrW(wnd, GWL_STYLE) & LVS_SINGLESEL);
    EXPECT_TRUE(view.GetItems()->GetItem(3)->GetSelected());
    view.GetItems()->GetItem(0)->SetSelected(true);
    SetRowSelected(wnd, 2, true);
    EXPECT_EQ(3, view.GetSelCount());
    EXPECT_EQ(0, view.GetItemIndex());

    // Exchanged items keep their own selection and raise no events.
    log.Selects.clear();
    view.GetItems()->Exchange(0, 1);
    EXPECT_TRUE(log.Selects.empty());
    EXPECT_EQ(L"b", view.GetItems()->GetItem(0)->GetCaption());
    EXPECT_FALSE(view.GetItems()->GetItem(0)->GetSelected());
    EXPECT_TRUE(view.GetItems()->GetItem(1)->GetSelected());
    EXPECT_EQ(L"a", CellText(wnd, 1, 0));

    // A new order: each item takes its selection and state image along; an
    // order that is not a permutation changes nothing.
    view.GetItems()->GetItem(3)->SetStateIndex(1);
    view.GetItems()->Rearrange({3, 1, 0, 2});  // d a b c
    EXPECT_TRUE(log.Selects.empty());
    const wchar_t* captions[] = {L"d", L"a", L"b", L"c"};
    const bool selected[] = {true, true, false, true};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(captions[i], CellText(wnd, i, 0));
        EXPECT_EQ(selected[i], view.GetItems()->GetItem(i)->GetSelected()) << i;
    }
    EXPECT_EQ(INDEXTOSTATEIMAGEMASK(2), ::SendMessageW(wnd, LVM_GETITEMSTATE, 0, LVIS_STATEIMAGEMASK));
    EXPECT_THROW(view.GetItems()->Rearrange({0, 1, 1, 2}), EListError);
    EXPECT_THROW(view.GetItems()->Rearrange({0, 1, 2}), EListError);
    EXPECT_EQ(L"d", view.GetItems()->GetItem(0)->GetCaption());
    view.GetItems()->Rearrange({2, 1, 3, 0});  // b a c d
    view.GetItems()->GetItem(3)->SetStateIndex(-1);

    // Selecting one item clears the others.
    view.SetSelected(view.GetItems()->GetItem(0));
    EXPECT_EQ(1, view.GetSelCount());
    EXPECT_EQ(0, view.GetItemIndex());
    view.SetItemIndex(-1);
    EXPECT_EQ(nullptr, view.GetSelected());

    // Back to single selection: the first selected item stays.
    SetRowSelected(wnd, 1, true);
    SetRowSelected(wnd, 3, true);
    view.SetMultiSelect(false);
    EXPECT_EQ(1, view.GetSelCount());
    EXPECT_EQ(1, view.GetItemIndex());

    // Deleting items is not a change of selection.
    log.Selects.clear();
    log.Changes = 0;
    view.GetItems()->Delete(1);
    view.GetItems()->Delete(0);
    EXPECT_TRUE(log.Selects.empty());
    EXPECT_EQ(0, log.Changes);
    EXPECT_EQ(0, view.GetSelCount());
    EXPECT_EQ(2, ::SendMessageW(view.GetHandle(), LVM_GETITEMCOUNT, 0, 0));
}

TEST(ListView, StylesReachTheWindow)
{
    THostWindow host(400, 300);
    TListView view(nullptr);
    view.SetParentWindow(host.Get());
    view.SetViewStyle(vsReport);
    view.SetRowSelect(true);
    view.SetHideSelection(false);
    view.SetReadOnly(true);
    HWND wnd = view.GetHandle();
    LONG_PTR style = ::GetWindowLongPtrW(wnd, GWL_STYLE);
    EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
    EXPECT_FALSE(style & LVS_EDITLABELS);
    EXPECT_TRUE(::SendMessageW(wnd, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);

    view.BeginUpdate();
    view.BeginUpdate();
    for (int i = 0; i < 50; ++i) AddRow(view, L"row", {});
    view.EndUpdate();
    view.EndUpdate();
    view.EndUpdate();  // unbalanced: ignored
    EXPECT_EQ(50, ::SendMessageW(wnd, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_EQ(50, view.GetItems()->GetCount());
}

// A selected row shown always keeps a visible tint while another control has
// the focus, the highlight colour while the list has it; other rows stay in
// the window colour.
TEST(ListView, SelectionShowsWithoutTheFocus)
{
    THostWindow host(400, 300);
    TListView view(nullptr);
    view.SetParentWindow(host.Get());
    view.SetBounds(0, 0, 200, 100);
    view.SetViewStyle(vsReport);
    view.SetRowSelect(true);
    view.SetHideSelection(false);
    view.GetColumns()->Add()->SetWidth(180);
    AddRow(view, L"one", {});
    AddRow(view, L"two", {});
    HWND wnd = view.GetHandle();
    SetRowSelected(wnd, 0, true);
    HWND other = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 200, 50, 20, host.Get(), nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr);
    auto rowPixel = [&](int row) {
        RECT r{};
        r.left = LVIR_BOUNDS;
        ::SendMessageW(wnd, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        HDC dc = ::GetDC(wnd);
        COLORREF c = ::GetPixel(dc, 170, (r.top + r.bottom) / 2);
        ::ReleaseDC(wnd, dc);
        return c;
    };
    ::SetFocus(other);
    ASSERT_NE(InactiveSelectionColor(), ::GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(InactiveSelectionColor(), rowPixel(0));
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), rowPixel(1));
    ::SetFocus(wnd);
    EXPECT_EQ(::GetSysColor(COLOR_HIGHLIGHT), rowPixel(0));
    // Hidden when unfocused, if the list asks for it.
    ::SetFocus(other);
    view.SetHideSelection(true);
    wnd = view.GetHandle();
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), rowPixel(0));
    ::DestroyWindow(other);
}
