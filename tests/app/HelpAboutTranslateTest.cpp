// The help picture, about and translation information windows.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "FormTestSupport.h"
#include "app/Translations.h"
#include "app/untAbout.h"
#include "app/untScreen.h"
#include "app/untTranslate.h"
#include "classlib/ExtCtrls.h"
#include "classlib/StdCtrls.h"

using namespace classlib;

namespace {

// A translation file with Lines (UTF-8 with byte-order mark) loaded.
album::TTranslation LoadTranslation(const testsupport::TempDir& Dir, const std::string& Lines)
{
    const std::wstring file = Dir.File(L"Morvane_Tst.txt");
    std::ofstream(file.c_str(), std::ios::binary) << "\xEF\xBB\xBFpriLangId=07\r\n" << Lines;
    album::TTranslation t;
    EXPECT_TRUE(t.LoadFromFile(file));
    return t;
}

TEST(HelpPictureWindow, TakesThePictureSizeAndTranslatedLabels)
{
    formtest::TAppScope scope;
    testsupport::TempDir dir;
    album::TfrmScreen form(nullptr);
    form.DataFolder = formtest::DataFolderWith(dir, L"help60.gif", L"screen3.gif");
    form.DoCreate();
    form.FormShow(&form);
    EXPECT_EQ(form.Image1->GetWidth(), 60);
    EXPECT_EQ(form.Image1->GetHeight(), 40);
    EXPECT_EQ(form.GetClientWidth(), 60);
    EXPECT_EQ(form.GetClientHeight(), 40);

    form.ApplyTexts(album::TTranslation{});
    EXPECT_EQ(form.Label1->GetCaption(), L"Page Title");
    EXPECT_EQ(form.Label2->GetCaption(), L"Description");
    // Only the first ":" goes.
    form.ApplyTexts(LoadTranslation(dir, "strTitle=Titel: Seite:\r\nstrDescription=:Beschreibung\r\n"));
    EXPECT_EQ(form.Label1->GetCaption(), L"Titel Seite:");
    EXPECT_EQ(form.Label2->GetCaption(), L"Beschreibung");
}

TEST(HelpPictureWindow, MissingPictureLeavesItEmptyAtDesignSize)
{
    formtest::TAppScope scope;
    testsupport::TempDir dir;
    album::TfrmScreen form(nullptr);
    form.DataFolder = dir.Path() + L"\\";
    form.DoCreate();
    const int width = form.GetClientWidth(), height = form.GetClientHeight();
    // A broken file is no different from a missing one.
    std::ofstream(dir.File(L"screen3.gif").c_str(), std::ios::binary) << "GIF89a broken";
    form.FormShow(&form);
    EXPECT_EQ(form.Image1->GetPicture()->GetGraphic(), nullptr);
    EXPECT_EQ(form.GetClientWidth(), width);
    EXPECT_EQ(form.GetClientHeight(), height);
}

TEST(AboutBox, ShowsIconVersionAndTranslatedCaption)
{
    formtest::TAppScope scope;
    testsupport::TempDir dir;
    album::TfrmAbout form(nullptr);
    form.L1->SetCaption(L"");
    form.FormShow(&form);
    EXPECT_EQ(form.L1->GetCaption(), L"Velmo Morvane v.1.4");
    ASSERT_NE(form.Im1->GetPicture()->GetGraphic(), nullptr);
    EXPECT_FALSE(form.Im1->GetPicture()->GetGraphic()->GetEmpty());

    form.ApplyTexts(album::TTranslation{});
    EXPECT_EQ(form.GetCaption(), L"About Velmo Morvane");
    form.ApplyTexts(LoadTranslation(dir, "msgAbout=Info zu\r\n"));
    EXPECT_EQ(form.GetCaption(), L"Info zu Velmo Morvane");
}

TEST(AboutBox, EscapeClosesIt)
{
    formtest::TAppScope scope;
    album::TfrmAbout form(nullptr);
    form.SetBorderStyle(bsNone);
    form.Show();
    ASSERT_TRUE(form.GetVisible());
    WORD key = 'A';
    form.FormKeyDown(&form, key, 0);
    EXPECT_TRUE(form.GetVisible());
    key = VK_ESCAPE;
    form.FormKeyDown(&form, key, 0);
    EXPECT_EQ(key, 0);
    EXPECT_FALSE(form.GetVisible());
}

TEST(TranslateWindow, ShowsTheFileToEditOnlyForAnOffer)
{
    formtest::TAppScope scope;
    testsupport::TempDir dir;
    const std::wstring target = dir.File(L"Morvane_Rus.txt");
    std::ofstream(target.c_str(), std::ios::binary) << "[Velmo Morvane v.1.4 - Russian]\r\nbtnStart=Start\r\n";
    album::TfrmTranslate form(nullptr);
    form.SetBorderStyle(bsNone);

    album::TTranslationOffer none;
    none.Show = false;
    none.FileToEdit = target;
    form.ShowOffer(none);
    EXPECT_FALSE(form.GetVisible());
    EXPECT_EQ(form.Edit1->GetText(), L"");

    album::TTranslationOffer offer;
    offer.Show = true;
    offer.FileToEdit = target;
    offer.Caption = L"Translate me to Russian!";
    offer.Message = L"Currently there is no Russian translation of this program.";
    form.ShowOffer(offer);
    EXPECT_TRUE(form.GetVisible());
    EXPECT_EQ(form.GetCaption(), offer.Caption);
    EXPECT_EQ(form.Label1->GetCaption(), offer.Message);
    EXPECT_EQ(form.Edit1->GetText(), target);
    EXPECT_TRUE(form.Edit1->GetReadOnly());
    EXPECT_EQ(form.LngFile->GetLines()->GetCount(), 2);
    form.btnOKClick(form.btnOK);
    EXPECT_FALSE(form.GetVisible());
}

}  // namespace
