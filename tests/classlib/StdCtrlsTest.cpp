#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "classlib/ExtCtrls.h"
#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "support/HostWindow.h"

using namespace classlib;
using testsupport::THostWindow;

namespace {

struct TCounter {
    int Count = 0;
    TObject* Last = nullptr;
    void Hit(TObject* Sender)
    {
        ++Count;
        Last = Sender;
    }
    TNotifyEvent Event() { return TNotifyEvent(this, &TCounter::Hit); }
};

std::wstring WindowText(HWND wnd)
{
    wchar_t buf[512] = {};
    ::GetWindowTextW(wnd, buf, 512);
    return buf;
}

LONG_PTR Style(HWND wnd) { return ::GetWindowLongPtrW(wnd, GWL_STYLE); }

}  // namespace

TEST(StdCtrls, EditTextLimitAndReadOnlyReachTheWindowAndSurviveIt)
{
    THostWindow host(400, 300);
    TEdit edit(nullptr);
    edit.SetText(L"before");
    edit.SetMaxLength(5);
    edit.SetReadOnly(true);
    edit.SetParentWindow(host.Get());
    HWND wnd = edit.GetHandle();

    wchar_t cls[64] = {};
    ::GetClassNameW(wnd, cls, 64);
    EXPECT_EQ(L"VelmoTEdit", std::wstring(cls));
    EXPECT_EQ(L"before", WindowText(wnd));
    EXPECT_EQ(5, ::SendMessageW(wnd, EM_GETLIMITTEXT, 0, 0));
    EXPECT_TRUE(Style(wnd) & ES_READONLY);

    edit.SetReadOnly(false);
    EXPECT_FALSE(Style(wnd) & ES_READONLY);

    // What the window holds is the text; it stays when the window goes.
    ::SetWindowTextW(wnd, L"typed");
    EXPECT_EQ(L"typed", edit.GetText());
    edit.DestroyHandle();
    EXPECT_FALSE(edit.HandleAllocated());
    EXPECT_EQ(L"typed", edit.GetText());
    EXPECT_EQ(L"typed", WindowText(edit.GetHandle()));
}

TEST(StdCtrls, EventsFireFromTheWindowsNotifications)
{
    THostWindow host(400, 300);
    // A class-library parent and a plain parent window both pass the
    // notifications back.
    TPanel panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 300, 200);

    TEdit edit(nullptr);
    edit.SetParent(&panel);
    TButton button(nullptr);
    button.SetParentWindow(host.Get());
    button.SetBounds(10, 220, 75, 25);
    TCheckBox check(nullptr);
    check.SetParent(&panel);
    check.SetBounds(10, 40, 100, 20);

    TCounter changed, clicked, checkClicked;
    edit.OnChange = changed.Event();
    button.OnClick = clicked.Event();
    check.OnClick = checkClicked.Event();
    panel.HandleNeeded();
    button.HandleNeeded();

    ::SetWindowTextW(edit.GetHandle(), L"x");
    EXPECT_EQ(1, changed.Count);
    edit.SetText(L"yz");
    EXPECT_EQ(2, changed.Count);
    EXPECT_EQ(&edit, changed.Last);

    ::SendMessageW(button.GetHandle(), BM_CLICK, 0, 0);
    THostWindow::Pump();
    EXPECT_EQ(1, clicked.Count);
    EXPECT_EQ(&button, clicked.Last);

    EXPECT_FALSE(check.GetChecked());
    ::SendMessageW(check.GetHandle(), BM_CLICK, 0, 0);
    THostWindow::Pump();
    EXPECT_EQ(1, checkClicked.Count);
    EXPECT_TRUE(check.GetChecked());
    // Setting the state is not a click.
    check.SetChecked(false);
    EXPECT_EQ(BST_UNCHECKED, ::SendMessageW(check.GetHandle(), BM_GETCHECK, 0, 0));
    EXPECT_EQ(1, checkClicked.Count);
}

TEST(StdCtrls, ButtonAndCheckBoxStateReachesTheWindow)
{
    THostWindow host(400, 300);
    TButton button(nullptr);
    button.SetCaption(L"OK");
    button.SetDefault(true);
    button.SetParentWindow(host.Get());
    HWND b = button.GetHandle();
    EXPECT_EQ(L"OK", WindowText(b));
    EXPECT_EQ(BS_DEFPUSHBUTTON, Style(b) & 0x0F);
    button.SetDefault(false);
    EXPECT_EQ(BS_PUSHBUTTON, Style(b) & 0x0F);
    button.SetCaption(L"Cancel");
    EXPECT_EQ(L"Cancel", WindowText(b));

    TCheckBox check(nullptr);
    check.SetChecked(true);
    check.SetParentWindow(host.Get());
    HWND c = check.GetHandle();
    EXPECT_EQ(BST_CHECKED, ::SendMessageW(c, BM_GETCHECK, 0, 0));
    ::SendMessageW(c, BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_FALSE(check.GetChecked());
    // The state outlives the window.
    ::SendMessageW(c, BM_SETCHECK, BST_CHECKED, 0);
    check.DestroyHandle();
    EXPECT_TRUE(check.GetChecked());
    EXPECT_EQ(BST_CHECKED, ::SendMessageW(check.GetHandle(), BM_GETCHECK, 0, 0));
}

// A multi-line edit gets no EN_CHANGE from the system for WM_SETTEXT: the
// change is still reported, once, however the text was set.
TEST(StdCtrls, MemoAndEditReportEveryTextChangeOnce)
{
    THostWindow host(400, 300);
    TMemo memo(nullptr);
    TEdit edit(nullptr);
    int memoChanges = 0, editChanges = 0;
    memo.OnChange = TNotifyEvent::FromFunction([](void* c, TObject*) { ++*static_cast<int*>(c); }, &memoChanges);
    edit.OnChange = TNotifyEvent::FromFunction([](void* c, TObject*) { ++*static_cast<int*>(c); }, &editChanges);
    memo.SetParentWindow(host.Get());
    edit.SetParentWindow(host.Get());
    ::SendMessageW(memo.GetHandle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"one\r\ntwo"));
    ::SendMessageW(edit.GetHandle(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"one"));
    EXPECT_EQ(memoChanges, 1);
    EXPECT_EQ(editChanges, 1);
    memo.SetText(L"three");
    edit.SetText(L"three");
    EXPECT_EQ(memoChanges, 2);
    EXPECT_EQ(editChanges, 2);
    EXPECT_EQ(memo.GetText(), L"three");
}

TEST(StdCtrls, MemoLinesAreTheTextsLines)
{
    THostWindow host(400, 300);
    TMemo memo(nullptr);
    TStrings* lines = memo.GetLines();
    lines->Add(L"one");
    lines->Add(L"two");
    EXPECT_EQ(L"one\r\ntwo", memo.GetText());
    memo.SetParentWindow(host.Get());
    HWND wnd = memo.GetHandle();
    EXPECT_EQ(L"one\r\ntwo", WindowText(wnd));
    EXPECT_TRUE(Style(wnd) & ES_MULTILINE);
    EXPECT_FALSE(Style(wnd) & ES_AUTOHSCROLL);  // word wrap

    struct Case {
        const wchar_t* text;
        int count;
        const wchar_t* last;
    };
    const Case cases[] = {
        {L"", 0, nullptr},
        {L"a", 1, L"a"},
        {L"a\r\nb", 2, L"b"},
        {L"a\r\n", 2, L""},  // a final line break starts an empty last line
        {L"a\r\n\r\nc", 3, L"c"},
    };
    for (const Case& c : cases) {
        ::SetWindowTextW(wnd, c.text);
        EXPECT_EQ(c.count, lines->GetCount()) << c.text;
        if (c.last) {
            EXPECT_EQ(c.last, lines->GetStrings(c.count - 1)) << c.text;
        }
    }

    ::SetWindowTextW(wnd, L"a\r\nb\r\nc");
    lines->Insert(0, L"first");
    lines->Delete(2);
    lines->SetStrings(2, L"C");
    EXPECT_EQ(L"first\r\na\r\nC", WindowText(wnd));
    EXPECT_THROW(lines->Delete(3), EListError);
    lines->SetText(L"x\ny\r\nz\r\n");
    EXPECT_EQ(L"x\r\ny\r\nz", WindowText(wnd));

    TCounter changed;
    memo.OnChange = changed.Event();
    lines->Add(L"w");
    EXPECT_EQ(1, changed.Count);

    // Style changes make a new window with the same text.
    memo.SetWordWrap(false);
    memo.SetScrollBars(ssBoth);
    wnd = memo.GetHandle();
    EXPECT_TRUE(Style(wnd) & ES_AUTOHSCROLL);
    EXPECT_TRUE(Style(wnd) & WS_VSCROLL);
    EXPECT_TRUE(Style(wnd) & WS_HSCROLL);
    EXPECT_EQ(4, lines->GetCount());
    EXPECT_EQ(L"w", lines->GetStrings(3));
}

TEST(StdCtrls, ComboBoxItemsSelectionAndText)
{
    THostWindow host(400, 300);
    TComboBox combo(nullptr);
    combo.GetItems()->Add(L"alpha");
    combo.GetItems()->Add(L"beta");
    combo.SetItemIndex(1);
    combo.SetParentWindow(host.Get());
    HWND wnd = combo.GetHandle();
    EXPECT_EQ(2, ::SendMessageW(wnd, CB_GETCOUNT, 0, 0));
    EXPECT_EQ(1, ::SendMessageW(wnd, CB_GETCURSEL, 0, 0));
    EXPECT_EQ(L"beta", combo.GetText());

    combo.GetItems()->Insert(0, L"zero");
    combo.GetItems()->Exchange(1, 2);
    wchar_t buf[64] = {};
    ::SendMessageW(wnd, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(buf));
    EXPECT_EQ(L"beta", std::wstring(buf));
    EXPECT_EQ(L"alpha", combo.GetItems()->GetStrings(2));
    ::SendMessageW(wnd, CB_SETCURSEL, 2, 0);
    EXPECT_EQ(2, combo.GetItemIndex());

    // Typing in the edit field is a change.
    TCounter changed;
    combo.OnChange = changed.Event();
    HWND editField = ::FindWindowExW(wnd, nullptr, L"Edit", nullptr);
    ASSERT_TRUE(editField);
    ::SendMessageW(editField, EM_SETSEL, 0, -1);
    ::SendMessageW(editField, WM_CHAR, L'x', 1);
    EXPECT_EQ(1, changed.Count);
    EXPECT_EQ(L"x", combo.GetText());

    // A drop-down list: text picks the item.
    combo.SetStyle(csDropDownList);
    wnd = combo.GetHandle();
    EXPECT_EQ(CBS_DROPDOWNLIST, Style(wnd) & 0x3);
    EXPECT_EQ(3, ::SendMessageW(wnd, CB_GETCOUNT, 0, 0));
    combo.SetText(L"alpha");
    EXPECT_EQ(2, combo.GetItemIndex());
    EXPECT_EQ(L"alpha", combo.GetText());
    combo.SetText(L"none such");
    EXPECT_EQ(-1, combo.GetItemIndex());

    // A typed text set before the window shows in it and outlives it.
    TComboBox typed(nullptr);
    typed.GetItems()->Add(L"alpha");
    typed.SetText(L"free text");
    typed.SetParentWindow(host.Get());
    EXPECT_EQ(L"free text", WindowText(typed.GetHandle()));
    EXPECT_EQ(-1, typed.GetItemIndex());
    typed.DestroyHandle();
    EXPECT_EQ(L"free text", typed.GetText());
    EXPECT_EQ(L"free text", WindowText(typed.GetHandle()));
}

TEST(StdCtrls, ListBoxSingleAndMultiSelection)
{
    THostWindow host(400, 300);
    TListBox list(nullptr);
    for (const wchar_t* s : {L"a", L"b", L"c", L"d"}) list.GetItems()->Add(s);
    list.SetItemIndex(2);
    list.SetParentWindow(host.Get());
    list.SetBounds(0, 0, 120, 100);
    HWND wnd = list.GetHandle();
    EXPECT_EQ(4, ::SendMessageW(wnd, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(2, ::SendMessageW(wnd, LB_GETCURSEL, 0, 0));
    EXPECT_TRUE(list.GetSelected(2));
    EXPECT_FALSE(list.GetSelected(1));
    EXPECT_THROW(list.GetSelected(4), EListError);

    // A click on an item selects it and is a click of the control.
    TCounter clicked;
    list.OnClick = clicked.Event();
    int itemHeight = static_cast<int>(::SendMessageW(wnd, LB_GETITEMHEIGHT, 0, 0));
    LPARAM at = MAKELPARAM(5, itemHeight + itemHeight / 2);
    ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, at);
    THostWindow::Pump();
    EXPECT_EQ(1, list.GetItemIndex());
    EXPECT_EQ(1, clicked.Count);

    list.SetMultiSelect(true);
    wnd = list.GetHandle();
    EXPECT_TRUE(Style(wnd) & LBS_EXTENDEDSEL);
    EXPECT_EQ(1, list.GetSelCount());
    EXPECT_TRUE(list.GetSelected(1));
    list.SetSelected(3, true);
    EXPECT_EQ(2, ::SendMessageW(wnd, LB_GETSELCOUNT, 0, 0));
    ::SendMessageW(wnd, LB_SETSEL, TRUE, 0);
    EXPECT_EQ(3, list.GetSelCount());

    // The selection outlives the window.
    list.DestroyHandle();
    EXPECT_TRUE(list.GetSelected(0));
    EXPECT_FALSE(list.GetSelected(2));
    EXPECT_EQ(3, list.GetSelCount());
    wnd = list.GetHandle();
    EXPECT_EQ(3, ::SendMessageW(wnd, LB_GETSELCOUNT, 0, 0));
    EXPECT_GT(::SendMessageW(wnd, LB_GETSEL, 3, 0), 0);

    list.SetItemIndex(2);
    EXPECT_EQ(1, list.GetSelCount());
    EXPECT_EQ(2, list.GetItemIndex());
    list.GetItems()->Clear();
    EXPECT_EQ(0, ::SendMessageW(wnd, LB_GETCOUNT, 0, 0));
    EXPECT_EQ(-1, list.GetItemIndex());
}

TEST(StdCtrls, LabelSizesToItsTextAndAlignsIt)
{
    THostWindow host(400, 300);
    TPanel panel(nullptr);
    panel.SetParentWindow(host.Get());
    panel.SetBounds(0, 0, 300, 100);
    panel.SetColor(clWhite);
    panel.SetBevelOuter(bvNone);
    TLabel label(nullptr);
    label.SetParent(&panel);
    label.SetCaption(L"Hi");
    int shortWidth = label.GetWidth();
    int lineHeight = label.GetHeight();
    EXPECT_GT(shortWidth, 0);
    EXPECT_GT(label.GetHeight(), 0);
    label.SetCaption(L"Hi there, longer");
    EXPECT_GT(label.GetWidth(), shortWidth);

    label.SetAutoSize(false);
    label.SetCaption(L"Hi");
    label.SetColor(clWhite);
    label.SetBounds(0, 10, 200, 30);
    HWND wnd = panel.GetHandle();
    // The first column with text in it.
    auto firstInk = [&] {
        ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        TWindowDC dc(wnd);
        for (int x = 0; x < 200; ++x)
            for (int y = 10; y < 40; ++y)
                if (::GetPixel(dc.Get(), x, y) != RGB(255, 255, 255)) return x;
        return -1;
    };
    struct Case {
        TAlignment alignment;
        int from, to;
    };
    const Case cases[] = {
        {taLeftJustify, 0, 5},
        {taCenter, 100 - shortWidth / 2 - 3, 100 - shortWidth / 2 + 3},
        {taRightJustify, 200 - shortWidth - 3, 200 - shortWidth + 3},
    };
    for (const Case& c : cases) {
        label.SetAlignment(c.alignment);
        int x = firstInk();
        EXPECT_GE(x, c.from) << c.alignment;
        EXPECT_LE(x, c.to) << c.alignment;
    }

    // Layout places the line vertically in a taller label: the first row
    // with text in it.
    label.SetAlignment(taLeftJustify);
    label.SetBounds(0, 10, 200, 80);
    auto firstInkRow = [&] {
        ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        TWindowDC dc(wnd);
        for (int y = 10; y < 90; ++y)
            for (int x = 0; x < 60; ++x)
                if (::GetPixel(dc.Get(), x, y) != RGB(255, 255, 255)) return y - 10;
        return -1;
    };
    label.SetLayout(tlTop);
    int top = firstInkRow();
    label.SetLayout(tlCenter);
    int centre = firstInkRow();
    label.SetLayout(tlBottom);
    int bottom = firstInkRow();
    EXPECT_GE(top, 0);
    EXPECT_LT(top, 10);
    EXPECT_NEAR(centre - top, (80 - lineHeight) / 2, 1);
    EXPECT_EQ(bottom - top, 80 - lineHeight);

    // An opaque label paints its colour, a transparent one leaves the parent.
    panel.SetColor(clRed);
    label.SetLayout(tlTop);
    auto background = [&] {
        ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        TWindowDC dc(wnd);
        return ::GetPixel(dc.Get(), 190, 80);
    };
    EXPECT_EQ(RGB(255, 255, 255), background());
    label.SetTransparent(true);
    EXPECT_EQ(RGB(255, 0, 0), background());
}

TEST(StdCtrls, ButtonGivesItsModalResultToTheForm)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 200, 100);
    TButton button(nullptr);
    button.SetParent(&form);
    button.ModalResult = mrOk;
    TCounter clicked;
    button.OnClick = clicked.Event();
    form.HandleNeeded();
    ::SendMessageW(button.GetHandle(), BM_CLICK, 0, 0);
    EXPECT_EQ(mrOk, form.GetModalResult());
    EXPECT_EQ(1, clicked.Count);
}

namespace {

int hookCalls = 0;
TObject* hookSender = nullptr;
void RecordingHook(TObject* Sender)
{
    ++hookCalls;
    hookSender = Sender;
}

struct TThrower {
    void Throw(TObject*) { throw EInvalidOperation(L"handler failed"); }
};

}  // namespace

TEST(StdCtrls, HandlerExceptionsGoToTheWindowExceptionHook)
{
    THostWindow host(400, 300);
    TWindowExceptionHook saved = GetWindowExceptionHook();
    SetWindowExceptionHook(&RecordingHook);
    hookCalls = 0;
    {
        TButton button(nullptr);
        button.SetParentWindow(host.Get());
        TThrower thrower;
        button.OnClick = TNotifyEvent(&thrower, &TThrower::Throw);
        ::SendMessageW(button.GetHandle(), BM_CLICK, 0, 0);
        EXPECT_EQ(1, hookCalls);
        EXPECT_EQ(&button, hookSender);
    }
    SetWindowExceptionHook(saved);
}
