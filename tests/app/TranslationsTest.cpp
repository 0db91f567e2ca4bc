// Translations: the built-in texts, translation files (language id, key
// lookup, encodings), the language menu state and preparing a new
// translation from the template.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "app/Translations.h"
#include "classlib/StringList.h"
#include "classlib/SysUtils.h"
#include "tests/app/TestRegistryKey.h"
#include "tests/support/TestSupport.h"

using album::TLanguageMenu;
using album::TTranslation;

namespace {

void WriteBytes(const std::wstring& file, const std::string& bytes)
{
    std::ofstream out(file.c_str(), std::ios::binary);
    out << bytes;
}

std::string ReadBytes(const std::wstring& file)
{
    std::ifstream in(file.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Utf8(const std::wstring& s)
{
    int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The text in the system ANSI code page; false when it has no exact form.
bool Ansi(const std::wstring& s, std::string& out)
{
    BOOL lossy = FALSE;
    int n = ::WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, &lossy);
    out.assign(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, &lossy);
    return !lossy;
}

std::vector<std::wstring> Lines(const std::wstring& file)
{
    classlib::TStringList list;
    list.LoadFromFile(file);
    std::vector<std::wstring> lines;
    for (int i = 0; i < list.GetCount(); ++i) lines.push_back(list[i]);
    return lines;
}

TEST(TranslationTexts, TableKeysAreUniqueAndTranslatedCaptionsAreWrapped)
{
    const auto& table = album::TextTable();
    EXPECT_EQ(table.size(), 100u);
    std::set<std::wstring> keys;
    for (const auto& e : table) EXPECT_TRUE(keys.insert(e.Key).second) << "duplicate key";
    EXPECT_STREQ(table.front().Key, L"msg_PrName");
    EXPECT_STREQ(table.back().Key, L"msgListNotWritten");

    testsupport::TempDir dir;
    WriteBytes(dir.File(L"t.txt"), "msg_PrName=HTML-Album\r\nmsgAbout=Info\r\nmsgColors=Farben\r\n"
                                   "msgAlbumExist=Album \"%f1\" existiert. Ersetzen?\r\n");
    TTranslation english;
    TTranslation german;
    ASSERT_TRUE(german.LoadFromFile(dir.File(L"t.txt")));
    struct Case {
        const wchar_t* key;
        const wchar_t* english;
        const wchar_t* translated;
    };
    const Case cases[] = {
        {L"msg_PrName", L"Velmo - HTML Morvane", L"Velmo - HTML-Album"},
        {L"msgAbout", L"About Velmo Morvane", L"Info Velmo Morvane"},
        {L"msgColors", L" Colors ", L" Farben "},
        {L"msgAlbumExist", L"Album \"%f1\" already exists. Overwrite?", L"Album \"%f1\" existiert. Ersetzen?"},
        {L"btnStart", L"Start", L"btnStart"},  // missing key shows its name
        {L"noSuchKey", L"noSuchKey", L"noSuchKey"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(english.Text(c.key), c.english);
        EXPECT_EQ(german.Text(c.key), c.translated);
    }
}

// The program's windows set their texts through the text table: a text
// literal handed to a caption, a hint, a message box or a message member in
// the program's sources is the English form of a table entry (the text
// shown until the language is applied), or one of the few texts that stay
// as they are in every language. Texts the sources build elsewhere (tables
// of their own, texts of the libraries) are not seen here.
TEST(TranslationTexts, EveryTextTheWindowsSetHasAKey)
{
    std::string source = VELMO_FIXTURES;
    source = source.substr(0, source.rfind("/tests/fixtures")) + "/app/";
    const std::set<std::string> untranslated = {
        "",                      // cleared
        "Velmo Morvane", "Velmo Morvane v.1.4",  // the product's name
        "WWW:", "E-mail:",       // the about box's address labels
        "&OK", "OK",             // the OK buttons, and the preview's "OK" state
        "HTML",                  // the options dialog's page of HTML settings
        "Album Name",            // the options dialog's example page
        "Translate me!",         // the translation window: for a language without a translation
    };
    std::set<std::string> english;
    for (const album::TTextEntry& e : album::TextTable()) english.insert(Utf8(e.English));

    const std::regex sink(R"re((?:SetCaption\(|Hint\s*=\s*|ShowMessageBox\(|MessageBoxW\([^,;]*,\s*|\bmsg\w+\s*=\s*|MakeLabel\(\s*this,\s*L"\w+",\s*)L"((?:[^"\\]|\\.)*)")re");
    int seen = 0;
    WIN32_FIND_DATAA fd;
    HANDLE h = ::FindFirstFileA((source + "*.cpp").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << source;
    do {
        std::ifstream in((source + fd.cFileName).c_str(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (std::sregex_iterator m(text.begin(), text.end(), sink), end; m != end; ++m) {
            ++seen;
            // The literal as C++ reads it (the sources escape only quotes and
            // backslashes in these texts).
            std::string literal = (*m)[1];
            for (std::size_t at = literal.find('\\'); at != std::string::npos; at = literal.find('\\', at + 1))
                literal.erase(at, 1);
            EXPECT_TRUE(english.count(literal) || untranslated.count(literal))
                << fd.cFileName << ": \"" << literal << "\" has no translation key";
        }
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
    EXPECT_GT(seen, 20) << "the scan found hardly any texts: the patterns no longer match the sources";
}

TEST(TranslationFile, TranslateFindsFirstExactKeyAndDropsComments)
{
    testsupport::TempDir dir;
    WriteBytes(dir.File(L"t.txt"),
               "// header comment\r\n"
               "priLangId=07\r\n"
               "\r\n"
               "//btnStart=Commented\r\n"
               "btnStartAll=Wrong key\r\n"
               "BtnAdd=Wrong case\r\n"
               "btnAdd=Zur Liste >>\r\n"
               "btnAdd=Second\r\n"
               "btnRemove=a=b\r\n"
               "btnStart=\r\n"
               " btnExit=Indented\r\n");
    TTranslation t;
    ASSERT_TRUE(t.LoadFromFile(dir.File(L"t.txt")));
    EXPECT_EQ(t.Lines().size(), 8u) << "comment and empty lines are dropped";
    EXPECT_EQ(t.Translate(L"btnAdd"), L"Zur Liste >>");
    EXPECT_EQ(t.Translate(L"btnRemove"), L"a=b");
    EXPECT_EQ(t.Translate(L"btnStart"), L"btnStart") << "empty text shows the key";
    EXPECT_EQ(t.Translate(L"btnExit"), L"btnExit") << "the key must begin the line";
    EXPECT_EQ(t.Translate(L"btnAddAll"), L"btnAddAll");

    EXPECT_FALSE(t.LoadFromFile(dir.File(L"missing.txt")));
    EXPECT_FALSE(t.Active());
    EXPECT_EQ(t.Text(L"btnAdd"), L"Add to list >>");
}

TEST(TranslationFile, EncodingFollowsByteOrderMarkElseAnsi)
{
    testsupport::TempDir dir;
    const std::wstring german = L"Größe ändern";
    WriteBytes(dir.File(L"utf8.txt"), "\xEF\xBB\xBF" + Utf8(L"msgResizeCopies=" + german) + "\r\n");
    std::wstring utf16 = L"\xFEFFmsgResizeCopies=" + german + L"\r\n";
    WriteBytes(dir.File(L"utf16.txt"), std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2));
    std::vector<std::wstring> files = {L"utf8.txt", L"utf16.txt"};
    std::string ansi;
    if (Ansi(german, ansi)) {
        WriteBytes(dir.File(L"ansi.txt"), "msgResizeCopies=" + ansi + "\r\n");
        files.push_back(L"ansi.txt");
    }
    for (const auto& f : files) {
        TTranslation t;
        ASSERT_TRUE(t.LoadFromFile(dir.File(f)));
        EXPECT_EQ(t.Translate(L"msgResizeCopies"), german);
    }
}

TEST(TranslationFile, LanguageIdComesFromTheFirstFourLines)
{
    testsupport::TempDir dir;
    struct Case {
        const char* content;
        int id;
    };
    const Case cases[] = {
        {"priLangId=07\r\nbtnStart=Start\r\n", 7},
        {"[x]\r\n// c\r\npriLangId= 7\r\n", 7},         // line 2, blank before the digit
        {"a\r\npriLangId=25\r\n", 25},                   // found before the file ends
        {"a\r\nb\r\nc\r\nd\r\npriLangId=07\r\n", 0},     // line 5: not recognised
        {"priLangId=ab\r\n", 0},                         // not a number
        {"//priLangId=07\r\n", 0},
        {"PRILANGID=07\r\n", 0},
        {"priLangId=12\r\npriLangId=07\r\n", 12},        // the first one counts
        {"priLangId=123\r\n", 12},                       // two characters only
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        const std::wstring f = dir.File(L"f" + std::to_wstring(n++) + L".txt");
        WriteBytes(f, c.content);
        EXPECT_EQ(album::LanguageIdOfFile(f), c.id);
    }
    EXPECT_EQ(album::LanguageIdOfFile(dir.File(L"missing.txt")), 0);
}

class LanguageFolderTest : public ::testing::Test {
protected:
    LanguageFolderTest()
    {
        WriteBytes(dir_.File(L"Morvane_Deu.txt"), "priLangId=07\r\nbtnStart=Anfang\r\n");
        WriteBytes(dir_.File(L"Morvane_Rus.txt"), "// ru\r\npriLangId=25\r\n");
        WriteBytes(dir_.File(L"Morvane_bad.txt"), "no id here\r\n");
        WriteBytes(dir_.File(L"morvane_ger2.TXT"), "priLangId=07\r\nbtnStart=Los\r\n");
        WriteBytes(dir_.File(L"Morvane_000.tx_"), "//priLangId=XX\r\n");
        WriteBytes(dir_.File(L"Other_Fra.txt"), "priLangId=12\r\n");
    }
    testsupport::TempDir dir_;
};

TEST_F(LanguageFolderTest, SearchMakesFoundLanguagesVisibleWithTheirFile)
{
    const std::vector<std::wstring> expected = {L"Morvane_bad.txt", L"Morvane_Deu.txt", L"morvane_ger2.TXT",
                                                L"Morvane_Rus.txt"};
    EXPECT_EQ(album::ListTranslationFiles(dir_.Path()), expected);

    TLanguageMenu menu;
    int visible = 0;
    for (const auto& item : menu.Items()) visible += item.Visible;
    EXPECT_EQ(visible, 1);
    EXPECT_EQ(menu.Items().size(), 58u);
    EXPECT_EQ(menu.FindById(60)->Caption, L"Scots Gaelic");
    EXPECT_EQ(menu.FindById(46)->Caption, L"Sorbian");

    menu.SearchLanguages(dir_.Path());
    visible = 0;
    for (const auto& item : menu.Items()) visible += item.Visible;
    EXPECT_EQ(visible, 3);
    EXPECT_TRUE(menu.FindById(9)->Visible);
    EXPECT_TRUE(menu.FindById(25)->Visible);
    EXPECT_EQ(menu.FindById(25)->Hint, dir_.File(L"Morvane_Rus.txt"));
    EXPECT_EQ(menu.FindById(7)->Hint, dir_.File(L"morvane_ger2.TXT")) << "a later file replaces the hint";
    EXPECT_FALSE(menu.FindById(12)->Visible);

    // Menu checks and the translate offer.
    const auto& items = menu.Items();
    EXPECT_EQ(items[static_cast<size_t>(menu.CheckedIndex(25))].Id, 25);
    EXPECT_EQ(items[static_cast<size_t>(menu.CheckedIndex(12))].Id, 9) << "hidden language: English checked";
    EXPECT_FALSE(menu.OffersTranslation(7));
    EXPECT_TRUE(menu.OffersTranslation(12));
    EXPECT_TRUE(menu.OffersTranslation(62)) << "a language the menu does not know";
}

TEST_F(LanguageFolderTest, SelectLanguageFallsBackToEnglish)
{
    TLanguageMenu menu;
    menu.SearchLanguages(dir_.Path());
    TTranslation t;
    EXPECT_TRUE(t.SelectLanguage(menu, 7));
    EXPECT_EQ(t.Text(L"btnStart"), L"Los");
    EXPECT_FALSE(t.SelectLanguage(menu, 9));
    EXPECT_EQ(t.Text(L"btnStart"), L"Start");
    EXPECT_FALSE(t.SelectLanguage(menu, 12)) << "no file found for this language";
    ASSERT_TRUE(::DeleteFileW(dir_.File(L"morvane_ger2.TXT").c_str()));
    EXPECT_FALSE(t.SelectLanguage(menu, 7)) << "the file vanished after the search";
    EXPECT_EQ(t.Text(L"btnStart"), L"Start");
}

// First start on a German machine: "Language" is seeded from "StrLanguage"
// and the German file's texts are used.
TEST_F(LanguageFolderTest, MachineLanguageSelectsItsTranslationAtFirstStart)
{
    testsupport::TestRegistryKey key;
    key.SetMachineString(L"StrLanguage", L"de_07");
    album::TSettings settings(key.Places(), album::TProgramEnvironment{dir_.File(L"Velmo.exe"), 800, 600, dir_.Path()});
    const int id = settings.SettleLanguageId();
    EXPECT_EQ(id, 7);
    TLanguageMenu menu;
    menu.SearchLanguages(dir_.Path());
    TTranslation t;
    ASSERT_TRUE(t.SelectLanguage(menu, id));
    EXPECT_EQ(t.Text(L"btnStart"), L"Los");
    EXPECT_EQ(t.Text(L"btnExit"), L"btnExit");

    classlib::TRegistry reg;
    key.OpenUser(reg);
    EXPECT_EQ(reg.ReadInteger(L"Language"), 7);
}

TEST(TranslationTemplate, PrepareWritesTheTargetOnceFromTheTemplate)
{
    testsupport::TempDir dir;
    const std::wstring umlaut = L"Gr\u00F6\u00DFe";
    WriteBytes(dir.File(L"Morvane_000.tx_"),
               "\xEF\xBB\xBF[Velmo Morvane v.1.4 - English]\r\n"
               "//// note for the translator's tools\r\n"
               "//priLangId=XX\r\n"
               "// keep this comment\r\n"
               "btnStart=Start\r\n"
               "msgThumbSize=" + Utf8(umlaut) + "\r\n"
               "////\r\n");
    TLanguageMenu menu;
    const auto offer = album::PrepareTranslation(dir.Path(), menu, 25);
    EXPECT_TRUE(offer.Show);
    EXPECT_EQ(offer.Name, L"Russian");
    EXPECT_EQ(offer.Caption, L"Translate me to Russian!");
    EXPECT_EQ(offer.Message,
              L"Currently there is no Russian translation of this program, but you can translate it by yourself, "
              L"it is not very hard. You can edit the file:");
    const std::wstring target = dir.File(L"Morvane_Rus.txt");
    EXPECT_EQ(offer.Target, target);
    EXPECT_EQ(offer.FileToEdit, target);
    const std::vector<std::wstring> expected = {
        L"[Velmo Morvane v.1.4 - Russian]",
        L"//priLangId=25  <--Remove leading double-slash to activate this file",
        L"// keep this comment",
        L"btnStart=Start",
        L"msgThumbSize=" + umlaut,
    };
    EXPECT_EQ(Lines(target), expected);
    std::string ansi;
    if (Ansi(umlaut, ansi)) {
        const std::string bytes = ReadBytes(target);
        EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << "written in the ANSI code page";
        EXPECT_NE(bytes.find("msgThumbSize=" + ansi + "\r\n"), std::string::npos);
    }
    EXPECT_EQ(album::LanguageIdOfFile(target), 0) << "inactive until the user removes the slashes";

    // An existing translation is never overwritten.
    WriteBytes(target, "priLangId=25\r\nbtnStart=Start!\r\n");
    album::PrepareTranslation(dir.Path(), menu, 25);
    EXPECT_EQ(ReadBytes(target), "priLangId=25\r\nbtnStart=Start!\r\n");
}

TEST(TranslationTemplate, LanguagesSharingTheirFirstThreeLettersGetFilesOfTheirOwn)
{
    TLanguageMenu menu;
    struct Case {
        const wchar_t* Name;
        const wchar_t* File;
    };
    const Case cases[] = {
        {L"Russian", L"Morvane_Rus.txt"},                // unique: the short name
        {L"Serbian", L"Morvane_Serbian.txt"},            // shares "Ser" with Serbo_Croatian
        {L"Serbo_Croatian", L"Morvane_Serbo_Croatian.txt"},
        {L"Slovak", L"Morvane_Slovak.txt"},              // shares "Slo" with Slovenian
        {L"Slovenian", L"Morvane_Slovenian.txt"},
    };
    for (const Case& c : cases) EXPECT_EQ(album::TranslationFileName(menu, c.Name), c.File) << c.Name;

    // Two such languages prepared one after the other keep two files.
    testsupport::TempDir dir;
    WriteBytes(dir.File(L"Morvane_000.tx_"), "[x]\r\n//priLangId=XX\r\n");
    album::PrepareTranslation(dir.Path(), menu, 27);  // Slovak
    album::PrepareTranslation(dir.Path(), menu, 36);  // Slovenian
    EXPECT_EQ(album::ListTranslationFiles(dir.Path()),
              (std::vector<std::wstring>{L"Morvane_Slovak.txt", L"Morvane_Slovenian.txt"}));
    EXPECT_NE(ReadBytes(dir.File(L"Morvane_Slovenian.txt")).find("Slovenian"), std::string::npos);
}

TEST(TranslationTemplate, NothingIsWrittenWithoutLanguageOrTemplate)
{
    testsupport::TempDir dir;
    TLanguageMenu menu;
    // No template: the user is pointed at where it should be.
    auto offer = album::PrepareTranslation(dir.Path(), menu, 21);
    EXPECT_TRUE(offer.Show);
    EXPECT_EQ(offer.Target, dir.File(L"Morvane_Pol.txt"));
    EXPECT_FALSE(classlib::FileExists(offer.Target));
    EXPECT_EQ(offer.FileToEdit, dir.File(L"Morvane_000.tx_"));

    // A language the menu does not know: no window, no file.
    WriteBytes(dir.File(L"Morvane_000.tx_"), "[x]\r\n//priLangId=XX\r\n");
    offer = album::PrepareTranslation(dir.Path(), menu, 62);
    EXPECT_FALSE(offer.Show);
    EXPECT_TRUE(offer.Name.empty());
    EXPECT_EQ(album::ListTranslationFiles(dir.Path()).size(), 0u);
    EXPECT_EQ(offer.FileToEdit, dir.File(L"Morvane_000.tx_"));
}

}  // namespace
