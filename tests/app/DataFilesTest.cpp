// The data files the build puts beside Velmo.exe and the glyph resources of
// the program, checked against what the program's units require of them:
// navigation pictures the album build recolours, the options example whose
// optimised table the dialog recolours, the translations and the template,
// the viewer folder the pages name.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "AlbumTestFiles.h"
#include "app/AlbumBuild.h"
#include "app/Translations.h"
#include "classlib/TextConv.h"
#include "gif/GIFColorMap.h"
#include "gif/GIFImage.h"
#include "imaging/views/view/ImgView.h"
#include "support/TestSupport.h"

using albumtest::FileExists;
using albumtest::ReadBytes;

namespace {

// The folder of Velmo.exe, with a trailing backslash.
std::wstring ProgramFolder()
{
    std::wstring exe = VELMO_APP_EXE;
    std::replace(exe.begin(), exe.end(), L'/', L'\\');
    return exe.substr(0, exe.rfind(L'\\') + 1);
}

std::string Narrow(const std::wstring& Text) { return testing::PrintToString(Text); }

struct Gif {
    gif::TGIFImage Image;
    explicit Gif(const std::wstring& FileName) { Image.LoadFromFile(FileName); }
    gif::TGIFSubImage* Frame(int i = 0) { return (*Image.GetImages())[i]; }
    gif::TGIFColorMap* Table() { return Image.GetGlobalColorMap(); }
    // Pixels of frame 0 per table entry.
    std::vector<int> Counts()
    {
        std::vector<int> counts(Table()->GetCount(), 0);
        gif::TGIFSubImage* f = Frame();
        for (int y = 0; y < f->GetHeight(); ++y)
            for (int x = 0; x < f->GetWidth(); ++x) ++counts.at(f->Pixels(x, y));
        return counts;
    }
};

// Navigation buttons: one frame, at least three entries, entry 0 the
// transparent one and used (the rounded corners), 1 (the arrow) and 2 (the
// button) used; disabled buttons grey and transparent. The album build's
// recolouring of entries 1 and 2 works on every one of them.
TEST(DataFiles, NavigationButtons)
{
    const std::wstring dir = ProgramFolder() + L"GIFs\\";
    testsupport::TempDir out;
    for (const wchar_t* name : {L"first", L"prev", L"next", L"last", L"index", L"first_d", L"prev_d", L"next_d",
                                L"last_d"}) {
        SCOPED_TRACE(Narrow(name));
        const std::wstring file = dir + name + L".gif";
        Gif g(file);
        ASSERT_EQ(g.Image.GetImages()->GetCount(), 1);
        ASSERT_GE(g.Table()->GetCount(), 3);
        EXPECT_TRUE(g.Frame()->GetTransparent());
        EXPECT_EQ(g.Frame()->TransparentIndex(), 0);
        EXPECT_GE(g.Frame()->GetHeight(), 24);
        EXPECT_LE(g.Frame()->GetHeight(), 32);
        const std::vector<int> counts = g.Counts();
        EXPECT_GT(counts[0], 0);
        EXPECT_GT(counts[1], 0);
        EXPECT_GT(counts[2], counts[1]);  // the arrow lies on the button
        const bool disabled = std::wstring(name).ends_with(L"_d");
        for (int i = 1; i <= 2; ++i) {
            const gif::TGIFRGB c = g.Table()->GetColor(i);
            const int r = c & 0xFF, gr = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
            if (disabled) {
                EXPECT_TRUE(r == gr && gr == b) << "entry " << i << " is not grey";
            }
        }
        if (!disabled) {
            album::CorrectGIF(file, out.File(std::wstring(name) + L".gif"), 0x123456, 0x654321);
            Gif recoloured(out.File(std::wstring(name) + L".gif"));
            EXPECT_EQ(recoloured.Table()->GetColor(1), gif::MakeRGB(0x56, 0x34, 0x12));
            EXPECT_EQ(recoloured.Table()->GetColor(2), gif::MakeRGB(0x21, 0x43, 0x65));
            EXPECT_EQ(recoloured.Counts(), counts);
        }
    }
}

// The options example after the dialog's optimisation: at least seven
// entries ordered by use with distinct counts (so the order cannot depend on
// the sort), no transparency, and the parts the dialog recolours where it
// expects them: 0 the page around the cells, 1 the cells, 2 and 6 the
// text-coloured parts (the same colour in the file).
TEST(DataFiles, OptionsExampleAfterOptimisation)
{
    Gif g(ProgramFolder() + L"screen_demo.gif");
    ASSERT_EQ(g.Image.GetImages()->GetCount(), 1);
    EXPECT_FALSE(g.Frame()->GetTransparent());
    const gif::TGIFRGB page = g.Table()->GetColor(g.Frame()->Pixels(0, 0));
    g.Image.OptimizeColorMap();
    ASSERT_GE(g.Table()->GetCount(), 7);
    EXPECT_FALSE(g.Frame()->GetTransparent());
    const std::vector<int> counts = g.Counts();
    for (size_t i = 1; i < counts.size(); ++i) EXPECT_GT(counts[i - 1], counts[i]) << "entry " << i;
    EXPECT_EQ(g.Frame()->Pixels(0, 0), 0);
    EXPECT_EQ(g.Table()->GetColor(0), page);
    EXPECT_EQ(g.Table()->GetColor(2), gif::MakeRGB(0xFF, 0xFF, 0xFF));
    EXPECT_NE(g.Table()->GetColor(1), g.Table()->GetColor(0));
    // Entry 1 surrounds every photograph: the pixel count of the cells is
    // second only to the page.
    EXPECT_GT(counts[1], counts[0] / 8);
}

// The help picture loads, is one frame, and has its left band free for the
// two labels the window lays over it.
TEST(DataFiles, HelpPicture)
{
    Gif g(ProgramFolder() + L"screen3.gif");
    ASSERT_EQ(g.Image.GetImages()->GetCount(), 1);
    gif::TGIFSubImage* f = g.Frame();
    EXPECT_GE(f->GetWidth(), 400);
    const int paper = f->Pixels(0, 0);
    int marked = 0;  // pixels of the label band that are not paper
    for (int y = 0; y < f->GetHeight(); ++y)
        for (int x = 0; x < 130; ++x) marked += f->Pixels(x, y) != paper;
    EXPECT_EQ(marked, 0);
}

std::wstring Utf8File(const std::wstring& FileName, bool& HasBom)
{
    std::string bytes = ReadBytes(FileName);
    HasBom = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    return classlib::Utf8ToWide(bytes);
}

// The template turns, once activated, into exactly the built-in English
// texts; the German and Russian files carry their ids, every key with a
// translated text, and the place holders the program replaces. All are
// UTF-8 with a byte-order mark.
TEST(DataFiles, Translations)
{
    const std::wstring dir = ProgramFolder() + L"Languages\\";
    bool bom = false;

    const std::wstring tmpl = Utf8File(dir + L"Morvane_000.tx_", bom);
    EXPECT_TRUE(bom);
    // A file prepared from the template keeps the id line among its first
    // four lines once the "////" notes are gone, where the scan finds it.
    std::vector<std::wstring> prepared;
    for (size_t at = 0, end; at < tmpl.size(); at = end + 2) {
        end = tmpl.find(L"\r\n", at);
        if (end == std::wstring::npos) end = tmpl.size();
        const std::wstring line = tmpl.substr(at, end - at);
        if (line.find(L"////") == std::wstring::npos) prepared.push_back(line);
    }
    const auto idLine = std::find(prepared.begin(), prepared.end(), L"//priLangId=XX");
    ASSERT_NE(idLine, prepared.end());
    EXPECT_LT(idLine - prepared.begin(), 4);
    album::TTranslation english;
    ASSERT_TRUE(english.LoadFromFile(dir + L"Morvane_000.tx_"));
    for (const album::TTextEntry& e : album::TextTable())
        EXPECT_EQ(english.Text(e), e.English) << Narrow(e.Key);

    struct Lang {
        const wchar_t* File;
        int Id;
        const wchar_t* Sample;  // a word that shows the language is real
    };
    album::TLanguageMenu menu;
    menu.SearchLanguages(dir);
    for (const Lang& l : {Lang{L"Morvane_Ger.txt", 7, L"Beschreibung"}, Lang{L"Morvane_Rus.txt", 25, L"Описание"}}) {
        SCOPED_TRACE(Narrow(l.File));
        const std::wstring text = Utf8File(dir + l.File, bom);
        EXPECT_TRUE(bom);
        EXPECT_NE(text.find(l.Sample), std::wstring::npos);
        EXPECT_EQ(album::LanguageIdOfFile(dir + l.File), l.Id);
        EXPECT_EQ(menu.TranslationFile(l.Id), dir + l.File);
        album::TTranslation t;
        ASSERT_TRUE(t.LoadFromFile(dir + l.File));
        for (const album::TTextEntry& e : album::TextTable()) {
            EXPECT_NE(t.Translate(e.Key), e.Key) << Narrow(e.Key) << " missing";
            EXPECT_EQ(std::count_if(t.Lines().begin(), t.Lines().end(),
                                    [&](const std::wstring& s) { return s.rfind(std::wstring(e.Key) + L"=", 0) == 0; }),
                      1)
                << Narrow(e.Key);
        }
        EXPECT_NE(t.Translate(L"msgAlbumExist").find(L"%f1"), std::wstring::npos);
        EXPECT_NE(t.Translate(L"msgPageHint").find(L"$p"), std::wstring::npos);
        EXPECT_NE(t.Translate(L"msgPageHint").find(L"$t"), std::wstring::npos);
        EXPECT_NE(t.Translate(L"msgSettings"), english.Translate(L"msgSettings"));
    }
}

// The viewer folder: the script defines vw with the settings the pages
// assign as its defaults and expand; the loader picture the pages' style
// names is a GIF.
TEST(DataFiles, ViewerFolder)
{
    const std::wstring dir = ProgramFolder() + L"viewer\\";
    const std::string js = ReadBytes(dir + L"viewer.js");
    for (const char* part : {"var vw", "graphicsDir: \"viewer/graphics/\"", "outlineType: \"rounded-white\"",
                             "numberOfImagesToPreload: 0", "showCredits: false", "captionEval: \"this.thumb.alt\"",
                             "self.expand = function"})
        EXPECT_NE(js.find(part), std::string::npos) << part;
    Gif loader(dir + L"graphics\\loader.white.gif");
    EXPECT_GT(loader.Image.GetImages()->GetCount(), 1);
    EXPECT_EQ(loader.Frame()->GetWidth(), 16);
}

// Every glyph named for the windows is a 16 x 16 24-bit bitmap resource of
// the program, the preview toolbar's with a disabled twin.
TEST(DataFiles, GlyphResources)
{
    std::wstring exe = VELMO_APP_EXE;
    std::replace(exe.begin(), exe.end(), L'/', L'\\');
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    std::vector<std::wstring> names = {L"GLYPH_ROT0", L"GLYPH_ROT90", L"GLYPH_ROT180", L"GLYPH_ROT270",
                                       L"GLYPH_UP",   L"GLYPH_DOWN",  L"GLYPH_FOLDER"};
    for (const wchar_t* tb : {L"TB_FIRST", L"TB_PREV", L"TB_NEXT", L"TB_LAST", L"TB_ZOOMOUT", L"TB_ZOOMIN",
                              L"TB_ZOOM100", L"TB_FIT", L"TB_ROT90", L"TB_ROT180", L"TB_ROT270", L"TB_ADD",
                              L"TB_REMOVE"}) {
        names.push_back(tb);
        names.push_back(std::wstring(tb) + L"_D");
    }
    for (const std::wstring& name : names) {
        HRSRC res = ::FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
        ASSERT_NE(res, nullptr) << Narrow(name);
        const auto* info = static_cast<const BITMAPINFOHEADER*>(::LockResource(::LoadResource(module, res)));
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->biWidth, 16) << Narrow(name);
        EXPECT_EQ(info->biHeight, 16) << Narrow(name);
        EXPECT_EQ(info->biBitCount, 24) << Narrow(name);
    }
    EXPECT_NE(::FindResourceW(module, L"MAINICON", MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */), nullptr);
    ::FreeLibrary(module);
}

// Every name of the image view's cursor table and the splitter's four names
// is a 32 x 32 cursor of the program, so no view or splitter falls back on
// the screen's default cursor.
TEST(DataFiles, CursorResources)
{
    std::wstring exe = VELMO_APP_EXE;
    std::replace(exe.begin(), exe.end(), L'/', L'\\');
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    std::vector<std::wstring> names = {L"TMSPLIT_HORZ", L"TMSPLIT_HORZHOTSPOT", L"TMSPLIT_VERT",
                                       L"TMSPLIT_VERTHOTSPOT"};
    for (int i = 0; i < imaging::TImgView::CursorCount; ++i)
        names.push_back(imaging::TImgView::CursorResourceName(imaging::TImgView::FirstCursorId + i));
    for (const std::wstring& name : names) {
        ASSERT_FALSE(name.empty());
        HRSRC res = ::FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(12) /* RT_GROUP_CURSOR */);
        ASSERT_NE(res, nullptr) << Narrow(name);
        const auto* dir = static_cast<const WORD*>(::LockResource(::LoadResource(module, res)));
        ASSERT_NE(dir, nullptr);
        EXPECT_EQ(dir[1], 2) << Narrow(name);  // a cursor directory
        ASSERT_EQ(dir[2], 1) << Narrow(name);  // of one image
        EXPECT_EQ(dir[3], 32) << Narrow(name);  // width
        EXPECT_EQ(dir[4], 64) << Narrow(name);  // height of both masks
    }
    ::FreeLibrary(module);
}

}  // namespace
