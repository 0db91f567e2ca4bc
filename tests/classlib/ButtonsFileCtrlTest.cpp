#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "classlib/Buttons.h"
#include "classlib/ExtCtrls.h"
#include "classlib/FileCtrl.h"
#include "support/HostWindow.h"
#include "support/TestSupport.h"

using namespace classlib;
using testsupport::THostWindow;

namespace {

struct TClicks {
    int Count = 0;
    void Hit(TObject*) { ++Count; }
};

// A left click at a point of a window (client coordinates).
void ClickAt(HWND wnd, int x, int y, int upX = -1, int upY = -1)
{
    ::SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    ::SendMessageW(wnd, WM_LBUTTONUP, 0, MAKELPARAM(upX < 0 ? x : upX, upY < 0 ? y : upY));
}

// A 10x10 glyph: white background (the transparent colour, from the
// bottom-left pixel) with a blue block at 3..6.
void BlueBlockGlyph(TBitmap& glyph)
{
    glyph.SetSize(10, 10);
    glyph.GetCanvas()->GetBrush()->SetColor(clWhite);
    glyph.GetCanvas()->FillRect(RECT{0, 0, 10, 10});
    glyph.GetCanvas()->GetBrush()->SetColor(clBlue);
    glyph.GetCanvas()->FillRect(RECT{3, 3, 7, 7});
}

using testsupport::Touch;

}  // namespace

TEST(SpeedButton, GroupsPushAndToggle)
{
    THostWindow hostWindow(300, 100);
    const HWND host = hostWindow.Get();
    {
        TPanel panel(nullptr);
        panel.SetParentWindow(host);
        panel.SetBounds(0, 0, 300, 100);
        TSpeedButton a(nullptr), b(nullptr), plain(nullptr), toggle(nullptr);
        TSpeedButton* all[] = {&a, &b, &plain, &toggle};
        for (int i = 0; i < 4; ++i) {
            all[i]->SetParent(&panel);
            all[i]->SetBounds(i * 30, 0, 23, 22);
        }
        a.SetGroupIndex(1);
        b.SetGroupIndex(1);
        toggle.SetGroupIndex(2);
        toggle.SetAllowAllUp(true);
        TClicks clicks;
        for (TSpeedButton* s : all) s->OnClick = TNotifyEvent(&clicks, &TClicks::Hit);
        HWND wnd = panel.GetHandle();

        ClickAt(wnd, 5, 5);  // a
        EXPECT_TRUE(a.GetDown());
        ClickAt(wnd, 35, 5);  // b: a goes up
        EXPECT_TRUE(b.GetDown());
        EXPECT_FALSE(a.GetDown());
        ClickAt(wnd, 35, 5);  // b again: stays down without AllowAllUp
        EXPECT_TRUE(b.GetDown());
        b.SetDown(false);
        EXPECT_TRUE(b.GetDown());
        EXPECT_EQ(3, clicks.Count);

        ClickAt(wnd, 65, 5);  // a plain button never stays down
        EXPECT_FALSE(plain.GetDown());
        EXPECT_EQ(4, clicks.Count);

        ClickAt(wnd, 95, 5);
        EXPECT_TRUE(toggle.GetDown());
        ClickAt(wnd, 95, 5);
        EXPECT_FALSE(toggle.GetDown());
        EXPECT_EQ(6, clicks.Count);

        // Released outside: no click, nothing changes.
        ClickAt(wnd, 5, 5, 200, 80);
        EXPECT_FALSE(a.GetDown());
        EXPECT_FALSE(a.Pressed());
        EXPECT_EQ(6, clicks.Count);

        // AllowAllUp is shared by the group; then a down button may go up.
        a.SetAllowAllUp(true);
        EXPECT_TRUE(b.GetAllowAllUp());
        b.SetDown(false);
        EXPECT_FALSE(b.GetDown());
        // A button of no group never goes down.
        plain.SetDown(true);
        EXPECT_FALSE(plain.GetDown());
    }
}

TEST(SpeedButton, PaintsGlyphAndSunkenWhenDown)
{
    THostWindow hostWindow(100, 60);
    const HWND host = hostWindow.Get();
    {
        TPanel panel(nullptr);
        panel.SetParentWindow(host);
        panel.SetBounds(0, 0, 100, 60);
        panel.SetBevelOuter(bvNone);
        TSpeedButton button(nullptr);
        button.SetParent(&panel);
        button.SetBounds(10, 10, 30, 30);
        button.SetGroupIndex(1);
        TBitmap glyph;
        BlueBlockGlyph(glyph);
        button.SetGlyph(&glyph);
        HWND wnd = panel.GetHandle();
        auto pixel = [&](int x, int y) {
            ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
            TWindowDC dc(wnd);
            return ::GetPixel(dc.Get(), x, y);
        };
        COLORREF face = static_cast<COLORREF>(ColorToRGB(clBtnFace));
        EXPECT_EQ(RGB(0, 0, 255), pixel(25, 25));  // glyph centre at 10 + 10 + 5
        EXPECT_EQ(face, pixel(21, 21));            // transparent glyph corner
        // Raised: the inner top-left edge is highlighted; sunken: the outer
        // one is shadowed.
        EXPECT_EQ(static_cast<COLORREF>(ColorToRGB(clBtnHighlight)), pixel(11, 11));
        button.SetDown(true);
        EXPECT_EQ(static_cast<COLORREF>(ColorToRGB(clBtnShadow)), pixel(10, 10));
        EXPECT_EQ(RGB(0, 0, 255), pixel(26, 26));  // pushed one pixel in

        // Flat: an edge only while the mouse is over it.
        button.SetAllowAllUp(true);
        button.SetDown(false);
        button.SetFlat(true);
        EXPECT_EQ(face, pixel(10, 10));
        button.Perform(CM_MOUSEENTER, 0, 0);
        EXPECT_EQ(static_cast<COLORREF>(ColorToRGB(clBtnHighlight)), pixel(10, 10));
        button.Perform(CM_MOUSELEAVE, 0, 0);
        EXPECT_EQ(face, pixel(10, 10));
    }
}

TEST(SpeedButton, DisabledGlyphIsEtchedGrey)
{
    // Painted straight into a 30x30 memory bitmap; the 10x10 glyph sits at
    // (10,10): white background (transparent), a blue block at 3..6 and one
    // pale yellow pixel at (1,1).
    TSpeedButton button(nullptr);
    button.SetBounds(0, 0, 30, 30);
    TBitmap glyph;
    BlueBlockGlyph(glyph);
    glyph.GetCanvas()->SetPixel(1, 1, static_cast<TColor>(RGB(255, 255, 200)));
    button.SetGlyph(&glyph);

    auto paint = [&](bool enabled) {
        button.SetEnabled(enabled);
        auto shot = std::make_unique<TBitmap>();
        shot->SetPixelFormat(pf24bit);
        shot->SetSize(30, 30);
        button.Perform(WM_PAINT, reinterpret_cast<WPARAM>(shot->GetCanvas()->GetHandle()), 0);
        return shot;
    };
    auto on = paint(true);
    auto off = paint(false);
    const TColor face = ColorToRGB(clBtnFace), blue = static_cast<TColor>(RGB(0, 0, 255));
    const TColor shadow = ColorToRGB(clBtnShadow), highlight = ColorToRGB(clBtnHighlight);
    TCanvas* a = on->GetCanvas();
    TCanvas* b = off->GetCanvas();
    EXPECT_EQ(blue, a->GetPixel(15, 15));
    EXPECT_EQ(static_cast<TColor>(RGB(255, 255, 200)), a->GetPixel(11, 11));
    int blues = 0, differ = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            blues += b->GetPixel(x, y) == blue;
            differ += a->GetPixel(x, y) != b->GetPixel(x, y);
        }
    EXPECT_EQ(0, blues);
    EXPECT_GE(differ, 16);
    struct Case {
        int x, y;
        TColor want;
        const char* what;
    } cases[] = {
        {13, 13, shadow, "ink in shadow"},
        {16, 16, shadow, "ink's last pixel"},
        {17, 17, highlight, "highlight below right"},
        {17, 13, face, "highlight only one pixel down"},
        {11, 11, face, "pale pixel vanishes"},
        {10, 19, face, "transparent corner"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, b->GetPixel(c.x, c.y)) << c.what;

    // A new glyph while disabled is etched afresh.
    glyph.GetCanvas()->GetBrush()->SetColor(clWhite);
    glyph.GetCanvas()->FillRect(RECT{0, 0, 10, 10});
    glyph.GetCanvas()->SetPixel(0, 0, clBlack);
    button.SetGlyph(&glyph);
    auto again = paint(false);
    EXPECT_EQ(face, again->GetCanvas()->GetPixel(13, 13));
    EXPECT_EQ(shadow, again->GetCanvas()->GetPixel(10, 10));
}

TEST(FileListBox, MatchesMaskTable)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* mask;
        bool match;
    };
    const Case cases[] = {
        {L"a.jpg", L"*.jpg", true},   {L"A.JPG", L"*.jpg", true},   {L"a.jpeg", L"*.jpg", false},
        {L"README", L"*.*", true},    {L"README", L"*.", false},    {L"Morvane_de.txt", L"Morvane_*.txt", true},
        {L"Morvane_.txt", L"Morvane_*.txt", true}, {L"xMorvane_de.txt", L"Morvane_*.txt", false},
        {L"ab", L"a?", true},         {L"a", L"a?", false},         {L"aXbXc", L"a*b*c", true},
        {L"aXbXd", L"a*b*c", false},  {L"", L"*", true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.match, MatchesMask(c.name, c.mask)) << c.name << " " << c.mask;
}

TEST(FileListBox, ListsTheFolderByMask)
{
    testsupport::TempDir dir;
    for (const wchar_t* n : {L"b.jpg", L"A.JPG", L"c.png", L"Morvane_fr.txt", L"Morvane_de.txt", L"notes.txt"})
        Touch(dir.File(n));
    ::CreateDirectoryW(dir.File(L"folder.jpg").c_str(), nullptr);

    THostWindow hostWindow(200, 200, false);
    const HWND host = hostWindow.Get();
    {
        TFileListBox list(nullptr);
        list.SetParentWindow(host);
        list.SetDirectory(dir.Path());
        HWND wnd = list.GetHandle();
        struct Case {
            const wchar_t* mask;
            const wchar_t* items;
        };
        const Case cases[] = {
            {L"*.*", L"A.JPG,b.jpg,c.png,Morvane_de.txt,Morvane_fr.txt,notes.txt"},
            {L"*.jpg", L"A.JPG,b.jpg"},
            {L"*.jpg; *.png;*.JPG", L"A.JPG,b.jpg,c.png"},
            {L"Morvane_*.txt", L"Morvane_de.txt,Morvane_fr.txt"},
            {L"*.gif", L""},
        };
        for (const Case& c : cases) {
            list.SetMask(c.mask);
            EXPECT_EQ(c.items, list.GetItems()->GetCommaText()) << c.mask;
            EXPECT_EQ(list.GetItems()->GetCount(), ::SendMessageW(wnd, LB_GETCOUNT, 0, 0)) << c.mask;
        }

        list.SetMask(L"*.txt");
        list.SetItemIndex(1);
        EXPECT_EQ(dir.File(L"Morvane_fr.txt"), list.GetFileName());
        Touch(dir.File(L"late.txt"));
        list.UpdateFileList();
        EXPECT_EQ(L"late.txt,Morvane_de.txt,Morvane_fr.txt,notes.txt", list.GetItems()->GetCommaText());

        // A missing folder fails and keeps the list.
        EXPECT_THROW(list.SetDirectory(dir.File(L"missing")), EInOutError);
        EXPECT_EQ(dir.Path(), list.GetDirectory());
        EXPECT_EQ(4, list.GetItems()->GetCount());
    }
}
