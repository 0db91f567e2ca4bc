// The options dialog: settings copied in and out, number fields kept in
// range, the page-label example, and the example picture recoloured from
// the swatches after its colour table was sorted by use.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "FormTestSupport.h"
#include "app/Settings.h"
#include "app/untOptions.h"
#include "classlib/ComCtrls.h"
#include "classlib/ExtCtrls.h"
#include "classlib/StdCtrls.h"
#include "classlib/Streams.h"
#include "controls/themed/TmPageControl.h"
#include "controls/themed/TmPanel.h"
#include "gif/GIFImage.h"

using namespace classlib;
using album::TfrmOptions;

namespace {

// The colours and pixel counts of tests/fixtures/app/demo8.gif (entry i
// holds kCounts[i] pixels, laid out in entry order).
constexpr gif::TGIFRGB kPalette[8] = {0x302010, 0x605040, 0x908070, 0xC0B0A0,
                                      0xF0E0D0, 0x332211, 0x665544, 0x998877};
constexpr int kCounts[8] = {3, 20, 1, 15, 10, 5, 8, 2};

constexpr TColor kBackground = 0x0000FF;
constexpr TColor kCell = 0x00FF00;
constexpr TColor kText = 0xFF0000;

album::TSettings TestSettings()
{
    album::TSettings s(album::TSettingsPlaces{}, album::TProgramEnvironment{L"C:\\p\\Velmo.exe", 800, 600, L"C:\\p"});
    s.SetDefaults();
    s.BckgrCol = kBackground;
    s.CellCol = kCell;
    s.TxtCol = kText;
    s.FNCol = 0x123456;
    s.FNBckgrCol = 0x654321;
    s.MaxTh = 120;
    s.MaxImg = 800;
    s.ColumnsNr = 4;
    s.RowsNr = 3;
    s.ResizeImg = true;
    s.S_indx = L"Page $p of $t";
    s.S_img = L"Picture $p";
    return s;
}

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<TfrmOptions>(nullptr);
        form->DataFolder = formtest::DataFolderWith(dir, L"demo8.gif", L"screen_demo.gif");
        form->DoCreate();
    }
    formtest::TAppScope scope;
    testsupport::TempDir dir;
    std::unique_ptr<TfrmOptions> form;
};

// One tab "HTML", selected, whose page fills the card in the page colour.
TEST_F(OptionsDialog, PageControlShowsTheHTMLPage)
{
    themed::TTmPageControl* pc = form->PageControls;
    pc->PaintToBitmap();
    ASSERT_EQ(pc->GetPageCount(), 1);
    EXPECT_EQ(pc->GetActivePage(), form->TabSheet1);
    EXPECT_EQ(pc->GetTabIndex(), 0);
    EXPECT_EQ(pc->TabData()->GetItem(0)->Caption, L"HTML");
    EXPECT_FALSE(pc->GetUseColoredTabs());
    const RECT d = pc->GetDisplayRect();
    EXPECT_EQ(form->TabSheet1->GetBoundsRect().left, d.left);
    EXPECT_EQ(form->TabSheet1->GetBoundsRect().bottom, d.bottom);
    EXPECT_EQ(form->TabSheet1->GetColor_(), 16119543);
    const RECT tab = pc->GetTabRect(0);
    const int x = (tab.left + tab.right) / 2;
    EXPECT_EQ(pc->GetBitmap()->GetCanvas()->GetPixel(x, tab.top + 4) & 0xFFFFFF, 16119543);
    EXPECT_EQ(pc->GetBitmap()->GetCanvas()->GetPixel(x, tab.top) & 0xFFFFFF, 10263441);
    // The group box fits on the page.
    EXPECT_LE(form->GrHTML->GetBoundsRect().bottom, form->TabSheet1->GetHeight());
    EXPECT_LE(form->GrHTML->GetBoundsRect().right, form->TabSheet1->GetWidth());
}

TEST_F(OptionsDialog, CopiesSettingsInAndOutUnchanged)
{
    const album::TSettings in = TestSettings();
    form->CopyIn(in);
    EXPECT_EQ(form->ThSize->GetText(), L"120");
    EXPECT_TRUE(form->ImSize->GetEnabled());
    album::TSettings out = TestSettings();
    out.BckgrCol = out.CellCol = out.TxtCol = out.FNCol = out.FNBckgrCol = 0;
    out.MaxTh = out.MaxImg = out.ColumnsNr = out.RowsNr = 0;
    out.ResizeImg = false;
    out.S_indx.clear();
    out.S_img.clear();
    form->CopyOut(out);
    EXPECT_EQ(out.BckgrCol, in.BckgrCol);
    EXPECT_EQ(out.CellCol, in.CellCol);
    EXPECT_EQ(out.TxtCol, in.TxtCol);
    EXPECT_EQ(out.FNCol, in.FNCol);
    EXPECT_EQ(out.FNBckgrCol, in.FNBckgrCol);
    EXPECT_EQ(out.MaxTh, 120);
    EXPECT_EQ(out.MaxImg, 800);
    EXPECT_EQ(out.ColumnsNr, 4);
    EXPECT_EQ(out.RowsNr, 3);
    EXPECT_TRUE(out.ResizeImg);
    EXPECT_EQ(out.S_indx, in.S_indx);
    EXPECT_EQ(out.S_img, in.S_img);
}

TEST_F(OptionsDialog, NumberFieldsAreClampedWhenLeft)
{
    form->CopyIn(TestSettings());
    struct Case {
        TEdit* Field;
        std::wstring Typed;
        std::wstring Shown;
    };
    const Case cases[] = {
        // No number: the up-down's position (the value copied in).
        {form->ThSize, L"", L"120"}, {form->ThSize, L"999", L"400"}, {form->ThSize, L"10", L"50"},
        {form->ImSize, L"6000", L"5000"}, {form->EColumns, L"1", L"2"}, {form->EColumns, L"7", L"7"},
    };
    for (const Case& c : cases) {
        c.Field->SetText(c.Typed);
        form->EditCheck(c.Field);
        EXPECT_EQ(c.Field->GetText(), c.Shown) << c.Field->GetName() << " typed '" << std::string(c.Typed.begin(), c.Typed.end()) << "'";
    }
    // The values reach the settings through the up-downs.
    album::TSettings out = TestSettings();
    form->CopyOut(out);
    EXPECT_EQ(out.MaxTh, 50);
    EXPECT_EQ(out.MaxImg, 5000);
    EXPECT_EQ(out.ColumnsNr, 7);
}

TEST_F(OptionsDialog, NumberFieldsTakeDigitsOnly)
{
    struct Case {
        wchar_t Key;
        wchar_t After;
    };
    for (const Case& c : {Case{L'7', L'7'}, Case{8, 8}, Case{9, 9}, Case{L'a', L'\n'}, Case{L'-', L'\n'}, Case{27, 0}}) {
        wchar_t key = c.Key;
        form->EditKeyPress(form->ThSize, key);
        EXPECT_EQ(static_cast<int>(key), static_cast<int>(c.After)) << "key " << static_cast<int>(c.Key);
    }
}

TEST_F(OptionsDialog, ImageSizeFollowsTheResizeBox)
{
    album::TSettings s = TestSettings();
    s.ResizeImg = false;
    form->CopyIn(s);
    EXPECT_FALSE(form->ImSize->GetEnabled());
    EXPECT_FALSE(form->ImSizeUD->GetEnabled());
    EXPECT_FALSE(form->LIsize->GetEnabled());
    form->CBResize->SetChecked(true);
    form->CBResizeClick(form->CBResize);
    EXPECT_TRUE(form->ImSize->GetEnabled());
    EXPECT_TRUE(form->LIsize->GetEnabled());
}

TEST_F(OptionsDialog, ExamplePageLabelReplacesFirstPlaceholders)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"Page $p of $t", L"Page 1 of 2"},
        {L"$p/$p ($t)", L"1/$p (2)"},
        {L"$P of $T", L"$P of $T"},
    };
    for (const auto& [text, shown] : cases) {
        form->E_indx->SetText(text);
        EXPECT_EQ(form->L2->GetCaption(), shown);
        EXPECT_EQ(form->L3->GetCaption(), shown);
    }
}

// The example as the dialog shows it, written out and read back.
std::unique_ptr<gif::TGIFImage> ReadBack(TfrmOptions& Form)
{
    auto* shown = dynamic_cast<gif::TGIFImage*>(Form.Image1->GetPicture()->GetGraphic());
    if (!shown) return nullptr;
    TMemoryStream stream;
    shown->SaveToStream(&stream);
    stream.SetPosition(0);
    auto back = std::make_unique<gif::TGIFImage>();
    back->LoadFromStream(&stream);
    return back;
}

TEST_F(OptionsDialog, ExamplePictureIsRecolouredAfterSortingByUse)
{
    form->CopyIn(TestSettings());
    form->DrawTExample();
    std::unique_ptr<gif::TGIFImage> back = ReadBack(*form);
    ASSERT_NE(back, nullptr);
    gif::TGIFColorMap* table = back->GetGlobalColorMap();
    ASSERT_GE(table->GetCount(), 8);
    // Sorted by use the entries are the old 1, 3, 4, 6, 5, 0, 7, 2; entries
    // 0, 1, 2 and 6 take the swatch colours, the others keep theirs.
    const gif::TGIFRGB expected[8] = {0x0000FF, 0x00FF00, 0xFF0000, kPalette[6],
                                      kPalette[5], kPalette[0], 0xFF0000, kPalette[2]};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(table->GetColor(i) & 0xFFFFFF, expected[i] & 0xFFFFFF) << "entry " << i;
    // Every pixel shows what its old colour became.
    const gif::TGIFRGB becomes[8] = {kPalette[0], 0x0000FF, kPalette[2], 0x00FF00,
                                     0xFF0000,    kPalette[5], kPalette[6], 0xFF0000};
    gif::TGIFSubImage* frame = back->GetImages()->GetFrame(0);
    int p = 0;
    for (int old = 0; old < 8; ++old)
        for (int n = 0; n < kCounts[old]; ++n, ++p)
            EXPECT_EQ(table->GetColor(frame->Pixels(p % 8, p / 8)) & 0xFFFFFF, becomes[old] & 0xFFFFFF)
                << "pixel " << p;
    // The file itself is never written.
    gif::TGIFImage original;
    original.LoadFromFile(form->DataFolder + L"screen_demo.gif");
    EXPECT_EQ(original.GetGlobalColorMap()->GetColor(0) & 0xFFFFFF, kPalette[0]);
    EXPECT_EQ(form->ScrollBox1->GetColor(), kBackground);
    for (TLabel* l : {form->L1, form->L2, form->L3}) EXPECT_EQ(l->GetFont()->GetColor(), kText);
}

TEST_F(OptionsDialog, MissingExamplePictureStillShowsTheColours)
{
    form->CopyIn(TestSettings());
    form->DrawTExample();
    ASSERT_NE(form->Image1->GetPicture()->GetGraphic(), nullptr);
    testsupport::TempDir empty;
    form->DataFolder = empty.Path() + L"\\";
    // A damaged file shows nothing either.
    std::ofstream(empty.File(L"screen_demo.gif").c_str(), std::ios::binary) << "GIF89a broken";
    form->colBackgr2->SetColor(0x808080);
    form->colHeadline->SetColor(0x404040);
    form->DrawTExample();
    EXPECT_EQ(form->Image1->GetPicture()->GetGraphic(), nullptr);
    EXPECT_EQ(form->ScrollBox1->GetColor(), 0x808080);
    EXPECT_EQ(form->L1->GetFont()->GetColor(), 0x404040);
}

}  // namespace
