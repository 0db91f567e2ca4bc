// The in-place editors: the memo editor's text and formats driven by keys
// and characters, its clipboard blocks, and editing text and memo objects in
// place through the view (F2, typing, Enter, Esc).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/views/vector/ImgVect.h"
#include "imaging/views/view/PxGDIPlus.h"

using namespace imaging;

namespace {

class MemoEditor : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PxInitialize(); }
    void SetUp() override
    {
        ed = std::make_unique<TPxTextControl>(nullptr);
        ed->TextFont->SetName(L"Arial");
        ed->TextFont->SetHeight(-12);
    }
    void Type(const std::string& S)
    {
        for (char c : S) {
            if (c == '\n') {
                WORD k = VK_RETURN;
                ed->HandleKey(k, 0);
            } else {
                ed->HandleChar(c);
            }
        }
    }
    void Key(WORD K, classlib::TShiftState S = 0) { ed->HandleKey(K, S); }
    uint8_t StyleAt(int I) { return ed->FormatOf(I).FontStyle; }
    std::unique_ptr<TPxTextControl> ed;
};

TEST_F(MemoEditor, TypingDeletingAndOverwriting)
{
    ed->InitText();
    Type("ab");
    EXPECT_EQ(ed->TextBuf, "ab");
    ASSERT_EQ(ed->Formats.size(), 1u);  // the first character made format 0
    EXPECT_EQ(ed->CharFormats, std::vector<uint32_t>({0, 0}));
    EXPECT_EQ(ed->Formats[0].UseCount, 2);
    Key(VK_DELETE);  // at the end: nothing
    EXPECT_EQ(ed->TextBuf, "ab");
    Key(VK_HOME, classlib::ssCtrl);
    Key(VK_BACK);  // at 0: nothing
    EXPECT_EQ(ed->TextBuf, "ab");
    Key(VK_INSERT);
    Type("X");
    EXPECT_EQ(ed->TextBuf, "Xb");
    Key(VK_INSERT);
    Type("Y");
    EXPECT_EQ(ed->TextBuf, "XYb");
    Key(VK_END, classlib::ssCtrl);
    Key(VK_LEFT, classlib::ssShift);
    Key(VK_LEFT, classlib::ssShift);
    EXPECT_EQ(ed->SelStart, 1);
    EXPECT_EQ(ed->SelEnd, 3);
    Key(VK_BACK);
    EXPECT_EQ(ed->TextBuf, "X");
    EXPECT_EQ(ed->Formats[0].UseCount, 1);
}

TEST_F(MemoEditor, StyleTogglesChangeOnlyTheirOwnBit)
{
    ed->InitText();
    Type("abc");
    // a: bold + italic, b: underline, c: plain.
    ed->SelStart = 0;
    ed->SelEnd = 1;
    ed->ToggleSelectionStyle(1);
    ed->ToggleSelectionStyle(2);
    ed->SelStart = 1;
    ed->SelEnd = 2;
    ed->ToggleSelectionStyle(4);
    ed->SelStart = 0;
    ed->SelEnd = 3;
    Key('B', classlib::ssCtrl);
    EXPECT_EQ(StyleAt(0), 2);      // italic stays, bold goes
    EXPECT_EQ(StyleAt(1), 4 | 1);  // underline stays, bold comes
    EXPECT_EQ(StyleAt(2), 1);
    // Without a selection only the current format changes.
    ed->SelStart = ed->SelEnd = 0;
    const uint8_t before = ed->CurrentFormat.FontStyle;
    Key('I', classlib::ssCtrl);
    EXPECT_EQ(ed->CurrentFormat.FontStyle, before ^ 2);
    EXPECT_EQ(StyleAt(2), 1);
    // Shift+F1 from height -1 steps to 0, which becomes 1.
    ed->SelStart = 0;
    ed->SelEnd = 1;
    TPxMemoCharFormat f = ed->FormatOf(0);
    f.FontHeight = -1;
    ed->AssignFormat(0, f);
    Key(VK_F1, classlib::ssShift);
    EXPECT_EQ(ed->FormatOf(0).FontHeight, 1);
    // Unused formats go and the indices follow.
    ed->RemoveUnusedFormats();
    for (uint32_t i : ed->CharFormats)
        EXPECT_LT(i, ed->Formats.size());
    for (const auto& fm : ed->Formats)
        EXPECT_GT(fm.UseCount, 0);
}

TEST_F(MemoEditor, ParagraphAlignmentAndFixedFont)
{
    ed->InitText();
    Type("one\ntwo");
    Key(VK_LEFT);
    Key('R', classlib::ssCtrl);
    EXPECT_EQ(ed->FormatOf(4).Alignment, 1);
    EXPECT_EQ(ed->FormatOf(6).Alignment, 1);
    EXPECT_EQ(ed->FormatOf(0).Alignment, 0);
    ed->SetFixedFont(true);
    ed->SelStart = 0;
    ed->SelEnd = 3;
    const size_t formats = ed->Formats.size();
    Key('G', classlib::ssCtrl);  // no dialog in single-font mode
    Key('F', classlib::ssCtrl);
    EXPECT_EQ(ed->Formats.size(), formats);
}

TEST_F(MemoEditor, ClipboardBlocksCarryFormatsAndShortBlocksAreRefused)
{
    ed->InitText();
    Type("\n\nz");
    ed->SelStart = 0;
    ed->SelEnd = 2;
    ed->CopySelection();
    ASSERT_TRUE(OpenClipboard(nullptr));
    HGLOBAL text = GetClipboardData(CF_TEXT);
    HGLOBAL priv = GetClipboardData(PxTextMemoClipboardFormat());
    ASSERT_NE(text, nullptr);
    ASSERT_NE(priv, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(GlobalLock(text))), "\r\n\r\n");
    GlobalUnlock(text);
    EXPECT_GE(GlobalSize(priv), 2u + 1 + 560);
    CloseClipboard();
    // Pasting private data restores each character's format, alignment
    // included.
    TPxTextControl other(nullptr);
    other.TextFont->SetName(L"Arial");
    other.InitText();
    std::string block = "pq";
    block += '\0';
    TPxMemoCharFormat f1, f2;
    PxSetFormatFontName(f1, "Courier New");
    f1.FontHeight = -20;
    f2 = f1;
    f2.Alignment = 2;
    f2.FontStyle = 8;
    block.append(reinterpret_cast<const char*>(&f1), 280);
    block.append(reinterpret_cast<const char*>(&f2), 280);
    ASSERT_TRUE(other.PasteFromBlock(reinterpret_cast<const uint8_t*>(block.data()), block.size()));
    EXPECT_EQ(other.TextBuf, "pq");
    EXPECT_EQ(PxFormatFontName(other.FormatOf(0)), "Courier New");
    EXPECT_EQ(other.FormatOf(1).Alignment, 2);
    EXPECT_EQ(other.FormatOf(1).FontStyle, 8);
    // A block shorter than its text claims, or without a terminator, is
    // not read at all.
    for (size_t cut : {block.size() - 1, size_t{3}, size_t{2}}) {
        EXPECT_FALSE(other.PasteFromBlock(reinterpret_cast<const uint8_t*>(block.data()), cut)) << cut;
        EXPECT_EQ(other.TextBuf, "pq");
    }
}

TEST_F(MemoEditor, LayoutWrapsLongWordsAndJustifiesAllButTheLastLine)
{
    ed->TextBuf = "aaaa bbbb cccc dddd eeee ffff";
    ed->InitText();
    ed->Alignment = 3;
    ed->SetFixedFont(true);
    TPxBitmap surface;
    surface.Allocate(200, 200, px24RGB);
    {
        TPxCanvas canvas(surface.GetVclBitmap()->GetCanvas(), false, false);
        ed->PaintTo(&canvas, 0, 0, 70, 190);
    }
    // More than one line; the last line starts at the text origin and is
    // not stretched.
    EXPECT_GT(ed->CharY[25], ed->CharY[0]);
    const int lastLine = ed->CharY[28];
    int first = 28;
    while (first > 0 && ed->CharY[static_cast<size_t>(first - 1)] == lastLine)
        --first;
    EXPECT_EQ(ed->CharX[static_cast<size_t>(first)], 1);
    // A word wider than the box is cut at the character that overflows.
    ed->TextBuf = "wwwwwwwwwwwwwwww";
    ed->InitText();
    {
        TPxCanvas canvas(surface.GetVclBitmap()->GetCanvas(), false, false);
        ed->PaintTo(&canvas, 0, 0, 60, 190);
    }
    EXPECT_GT(ed->CharY[15], ed->CharY[0]);
}

TEST_F(MemoEditor, MouseAndLineKeysPlaceTheCaretAndSelection)
{
    // On a shown window, so that each press is followed by the painting that
    // lays the text out, as between the user's mouse messages.
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 260, 160, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    ed->SetParentWindow(host);
    ed->SetBounds(0, 0, 240, 140);
    ed->TextBuf = "one two\nthree four\nfive";
    ed->InitText();
    ed->SetVisible(true);
    HWND w = ed->GetHandle();
    auto pump = [&] { UpdateWindow(w); };
    auto send = [&](UINT Msg, WPARAM Keys, int X, int Y) {
        SendMessageW(w, Msg, Keys, MAKELPARAM(X, Y));
        pump();
    };
    // A point just inside character I.
    auto at = [&](int I) { return POINT{ed->CharX[static_cast<size_t>(I)] + 2, ed->CharY[static_cast<size_t>(I)] + 3}; };
    ed->Invalidate();
    pump();
    ASSERT_GE(ed->CharY[8], 0);
    ASSERT_GT(ed->CharY[8], ed->CharY[0]);   // "three" starts the second line
    ASSERT_GT(ed->CharY[19], ed->CharY[8]);  // "five" the third

    POINT p = at(5);
    send(WM_LBUTTONDOWN, MK_LBUTTON, p.x, p.y);
    send(WM_LBUTTONUP, 0, p.x, p.y);
    EXPECT_EQ(ed->CaretPos, 5);
    EXPECT_EQ(ed->SelEnd, 0);
    // Past the end of the last line: the end of the text.
    send(WM_LBUTTONDOWN, MK_LBUTTON, 230, ed->CharY[19] + 3);
    send(WM_LBUTTONUP, 0, 230, ed->CharY[19] + 3);
    EXPECT_EQ(ed->CaretPos, ed->TextLen());
    // A drag from "two" into "four" selects between the two points.
    p = at(4);
    const POINT q = at(15);
    send(WM_LBUTTONDOWN, MK_LBUTTON, p.x, p.y);
    send(WM_MOUSEMOVE, MK_LBUTTON, q.x, q.y);
    send(WM_LBUTTONUP, 0, q.x, q.y);
    EXPECT_EQ(ed->SelStart, 4);
    EXPECT_EQ(ed->SelEnd, 15);
    EXPECT_EQ(ed->CaretPos, 15);
    // A plain click empties it; Shift+click then selects from that click.
    p = at(1);
    send(WM_LBUTTONDOWN, MK_LBUTTON, p.x, p.y);
    send(WM_LBUTTONUP, 0, p.x, p.y);
    EXPECT_EQ(ed->SelEnd, 0);
    p = at(10);
    send(WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, p.x, p.y);
    send(WM_LBUTTONUP, MK_SHIFT, p.x, p.y);
    EXPECT_EQ(ed->SelStart, 1);
    EXPECT_EQ(ed->SelEnd, 10);
    // A double click selects the word without its trailing blank.
    p = at(9);
    send(WM_LBUTTONDOWN, MK_LBUTTON, p.x, p.y);
    send(WM_LBUTTONUP, 0, p.x, p.y);
    send(WM_LBUTTONDBLCLK, MK_LBUTTON, p.x, p.y);
    send(WM_LBUTTONUP, 0, p.x, p.y);
    EXPECT_EQ(ed->SelStart, 8);
    EXPECT_EQ(ed->SelEnd, 13);

    // Up and Down keep to the nearest character of the next line; a line
    // shorter than the caret's x ends it on its last place.
    p = at(16);  // "fo|ur"
    send(WM_LBUTTONDOWN, MK_LBUTTON, p.x, p.y);
    send(WM_LBUTTONUP, 0, p.x, p.y);
    ASSERT_EQ(ed->CaretPos, 16);
    struct Step {
        WORD Key;
        int Line;  // first index of the line the caret must be on
    } steps[] = {{VK_UP, 0}, {VK_UP, 0}, {VK_DOWN, 8}, {VK_DOWN, 19}, {VK_DOWN, 19}};
    for (const Step& s : steps) {
        const int before = ed->CaretX;
        Key(s.Key);
        pump();
        SCOPED_TRACE(s.Key == VK_UP ? "up" : "down");
        EXPECT_EQ(ed->CharY[static_cast<size_t>(ed->CaretPos)], ed->CharY[static_cast<size_t>(s.Line)]);
        // No character of that line lies nearer the old caret x.
        const int d = std::abs(ed->CharX[static_cast<size_t>(ed->CaretPos)] - before);
        for (int i = 0; i <= ed->TextLen(); ++i)
            if (ed->CharY[static_cast<size_t>(i)] == ed->CharY[static_cast<size_t>(s.Line)]) {
                EXPECT_GE(std::abs(ed->CharX[static_cast<size_t>(i)] - before), d) << i;
            }
    }
    EXPECT_EQ(ed->CaretPos, ed->TextLen());  // "five" is shorter than "fo|ur"
    Key(VK_UP, classlib::ssShift);
    EXPECT_EQ(ed->SelEnd, ed->TextLen());
    EXPECT_EQ(ed->SelStart, ed->CaretPos);
    ed.reset();
    DestroyWindow(host);
}

// ---- in-place editing through the view

class InPlace : public ::testing::Test {
protected:
    static void SetUpTestSuite() { PxInitialize(); }
    void SetUp() override
    {
        host_ = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED | WS_CLIPCHILDREN, 0, 0, 400, 300, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        view = std::make_unique<TImgVect>(nullptr);
        view->SetParentWindow(host_);
        view->SetBounds(0, 0, 300, 200);
        view->GetHandle();
        view->SetLegacyBitmap(false);
        view->GetPxBitmap()->Allocate(300, 200, px24RGB);
        view->GetPxBitmap()->Fill(0xFFFFFF);
        view->Update();
    }
    void TearDown() override
    {
        view.reset();
        DestroyWindow(host_);
    }
    int AddText(TPxVectObjectKind Kind, const std::string& Text)
    {
        TPxVectObject o = *view->ObjectRecord(-1);
        o.Kind = Kind;
        o.Left = 20;
        o.Top = 20;
        o.Right = 200;
        o.Bottom = 60;
        o.Text = Text;
        o.HasText = true;
        return view->AddObject(o);
    }
    void KeyTo(HWND W, WORD K)
    {
        SendMessageW(W, WM_KEYDOWN, K, 1);
        SendMessageW(W, WM_KEYUP, K, 0xC0000001);
    }
    void Chars(HWND W, const wchar_t* S)
    {
        for (; *S; ++S)
            SendMessageW(W, WM_CHAR, *S, 1);
    }
    std::unique_ptr<TImgVect> view;

private:
    HWND host_ = nullptr;
};

TEST_F(InPlace, TextObjectsEditWithEnterAndEscRestoresTheStart)
{
    const int h = AddText(pxvoText, "old");
    view->AddSelObject(h);
    WORD f2 = VK_F2;
    SendMessageW(view->GetHandle(), WM_KEYDOWN, f2, 1);
    ASSERT_EQ(view->EditingObject, h);
    HWND ed = view->GetTextEditor()->GetHandle();
    SendMessageW(ed, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"new text"));
    KeyTo(ed, VK_RETURN);
    EXPECT_EQ(view->EditingObject, -1);
    EXPECT_EQ(view->ObjectRecord(h)->Text, "new text");
    // Several changes, then Esc: the text as it was when editing began.
    SendMessageW(view->GetHandle(), WM_KEYDOWN, f2, 1);
    ASSERT_EQ(view->EditingObject, h);
    SendMessageW(ed, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"first"));
    SendMessageW(ed, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"second"));
    KeyTo(ed, VK_ESCAPE);
    EXPECT_EQ(view->EditingObject, -1);
    EXPECT_EQ(view->ObjectRecord(h)->Text, "new text");
    // Not editable: F2 starts nothing.
    view->ObjectRecord(h)->TextEditable = false;
    SendMessageW(view->GetHandle(), WM_KEYDOWN, f2, 1);
    EXPECT_EQ(view->EditingObject, -1);
}

TEST_F(InPlace, MemosEditThroughTheMemoEditor)
{
    const int h = AddText(pxvoMemo, "ab");
    view->VectInteract = viSelectObjects;
    SendMessageW(view->GetHandle(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(100, 40));
    SendMessageW(view->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(100, 40));
    ASSERT_EQ(view->EditingObject, h);
    TPxTextControl* memo = view->GetMemoEditor();
    EXPECT_EQ(memo->TextBuf, "ab");
    HWND w = memo->GetHandle();
    KeyTo(w, VK_END);
    Chars(w, L"cd");
    memo->SelStart = 0;
    memo->SelEnd = 1;
    SendMessageW(w, WM_KEYDOWN, 'B', 1);  // plain B: no Ctrl, nothing happens
    EXPECT_EQ(memo->TextBuf.size(), 4u);
    // Leaving the editor by a press elsewhere commits the text and formats.
    view->VectInteract = viSelectObjects;
    SendMessageW(view->GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(250, 150));
    SendMessageW(view->GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(250, 150));
    EXPECT_EQ(view->EditingObject, -1);
    const TPxVectObject* r = view->ObjectRecord(h);
    EXPECT_EQ(r->Text, "abcd");
    ASSERT_EQ(r->MemoCharFormats.size(), 4u);
    for (uint32_t i : r->MemoCharFormats)
        EXPECT_LT(i, r->MemoFormats.size());
    EXPECT_TRUE(memo->TextBuf.empty());
    // Esc while editing a memo gives back the text it had at the start.
    view->AddSelObject(h);
    SendMessageW(view->GetHandle(), WM_KEYDOWN, VK_F2, 1);
    ASSERT_EQ(view->EditingObject, h);
    Chars(w, L"xyz");
    KeyTo(w, VK_ESCAPE);
    EXPECT_EQ(view->EditingObject, -1);
    EXPECT_EQ(view->ObjectRecord(h)->Text, "abcd");
}

}  // namespace
