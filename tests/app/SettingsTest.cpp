// Settings: defaults, registry round trip, fallback rules and the language
// value, all on a private registry key.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Settings.h"
#include "classlib/Registry.h"
#include "classlib/SysUtils.h"
#include "tests/app/TestRegistryKey.h"
#include "tests/support/TestSupport.h"

using album::TProgramEnvironment;
using album::TSettings;
using classlib::TRegistry;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest()
    {
        env_.ProgramFile = dir_.File(L"Velmo.exe");
        env_.DocumentsFolder = dir_.Path();
        env_.ScreenWidth = 1024;
        env_.ScreenHeight = 768;
        defaultOutput_ = env_.DefaultOutputFolder();
        outputExisted_ = classlib::DirectoryExists(defaultOutput_);
    }
    ~SettingsTest() override
    {
        // The default album folder lies in the test's documents folder;
        // remove it when a test made it (it is empty then).
        if (!outputExisted_) ::RemoveDirectoryW(defaultOutput_.c_str());
    }

    TSettings Make() const { return TSettings(key_.Places(), env_); }

    // Settings with every value away from its default, folders existing.
    TSettings Custom() const
    {
        TSettings s = Make();
        s.BckgrCol = 0x010203;
        s.CellCol = 0x040506;
        s.TxtCol = 0x070809;
        s.FNCol = 0x0A0B0C;
        s.FNBckgrCol = 0x0D0E0F;
        s.MaxTh = 200;
        s.MaxImg = 800;
        s.ColumnsNr = 3;
        s.RowsNr = 5;
        s.ResizeImg = false;
        s.L2 = 11;
        s.T2 = 12;
        s.W2 = 13;
        s.H2 = 14;
        s.WindowLeft = -5;
        s.WindowTop = 20;
        s.WindowWidth = 700;
        s.WindowHeight = 500;
        s.OutputFolder = outDir_;
        s.InputFolder = inDir_;
        s.AlbumName = L"Ferien Ägäis";
        s.S_indx = L"Seite $p/$t";
        s.S_img = L"Bild $p/$t";
        return s;
    }

    static void ExpectDefaults(const TSettings& s, const TProgramEnvironment& env)
    {
        EXPECT_EQ(s.BckgrCol, 0xC08000);
        EXPECT_EQ(s.CellCol, 0xFDAB00);
        EXPECT_EQ(s.TxtCol, 0xFFFFFF);
        EXPECT_EQ(s.FNCol, 0xFFFF00);
        EXPECT_EQ(s.FNBckgrCol, 0x956500);
        EXPECT_EQ(s.MaxTh, 140);
        EXPECT_EQ(s.MaxImg, 1000);
        EXPECT_EQ(s.ColumnsNr, 6);
        EXPECT_EQ(s.RowsNr, 4);
        EXPECT_TRUE(s.ResizeImg);
        EXPECT_EQ(s.L2 | s.T2 | s.W2 | s.H2, 0);
        EXPECT_EQ(s.WindowLeft, 100);
        EXPECT_EQ(s.WindowTop, 100);
        EXPECT_EQ(s.WindowWidth, env.ScreenWidth - 200);
        EXPECT_EQ(s.WindowHeight, env.ScreenHeight - 200);
        EXPECT_EQ(s.OutputFolder, classlib::IncludeTrailingPathDelimiter(env.DocumentsFolder) + L"Albums_HTML\\");
        EXPECT_EQ(s.InputFolder, classlib::ExtractFilePath(env.ProgramFile));
        EXPECT_EQ(s.AlbumName, L"Album1");
    }

    testsupport::TestRegistryKey key_;
    testsupport::TempDir dir_;
    TProgramEnvironment env_;
    std::wstring defaultOutput_;
    bool outputExisted_ = false;
    std::wstring outDir_ = dir_.File(L"out");
    std::wstring inDir_ = dir_.File(L"in");
};

TEST_F(SettingsTest, FirstStartGivesDefaultsAndMakesTheAlbumFolder)
{
    TSettings s = Make();
    s.Readini();
    ExpectDefaults(s, env_);
    EXPECT_EQ(s.S_indx, L"Index $p of $t");
    EXPECT_EQ(s.S_img, L"Image $p of $t");
    EXPECT_TRUE(s.StrLanguage.empty());
    EXPECT_TRUE(classlib::DirectoryExists(defaultOutput_));

    TRegistry reg;
    EXPECT_TRUE(reg.OpenKeyReadOnly(key_.Places().User.Key)) << "the per-user key is created";
}

TEST_F(SettingsTest, WriteThenReadRoundTripsAll23Values)
{
    ASSERT_TRUE(classlib::CreateDir(outDir_));
    ASSERT_TRUE(classlib::CreateDir(inDir_));
    const TSettings written = Custom();
    ASSERT_TRUE(written.Writeini());

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(key_.Places().User.Key));
    std::vector<std::wstring> names;
    reg.GetValueNames(names);
    EXPECT_EQ(names.size(), 23u);
    EXPECT_EQ(reg.GetDataType(L"ResizeImg"), classlib::rdInteger);
    EXPECT_EQ(reg.ReadInteger(L"CellCol"), 0x040506);
    EXPECT_EQ(reg.ReadString(L"AlbumFolder"), L"Ferien Ägäis");
    reg.CloseKey();

    TSettings s = Make();
    s.Readini();
    EXPECT_EQ(s.BckgrCol, written.BckgrCol);
    EXPECT_EQ(s.CellCol, written.CellCol);
    EXPECT_EQ(s.TxtCol, written.TxtCol);
    EXPECT_EQ(s.FNCol, written.FNCol);
    EXPECT_EQ(s.FNBckgrCol, written.FNBckgrCol);
    EXPECT_EQ(s.MaxTh, 200);
    EXPECT_EQ(s.MaxImg, 800);
    EXPECT_EQ(s.ColumnsNr, 3);
    EXPECT_EQ(s.RowsNr, 5);
    EXPECT_FALSE(s.ResizeImg);
    EXPECT_EQ(s.L2, 11);
    EXPECT_EQ(s.T2, 12);
    EXPECT_EQ(s.W2, 13);
    EXPECT_EQ(s.H2, 14);
    EXPECT_EQ(s.WindowLeft, -5);
    EXPECT_EQ(s.WindowTop, 20);
    EXPECT_EQ(s.WindowWidth, 700);
    EXPECT_EQ(s.WindowHeight, 500);
    EXPECT_EQ(s.OutputFolder, outDir_);
    EXPECT_EQ(s.InputFolder, inDir_);
    EXPECT_EQ(s.AlbumName, L"Ferien Ägäis");
    EXPECT_EQ(s.S_indx, L"Seite $p/$t");
    EXPECT_EQ(s.S_img, L"Bild $p/$t");
}

// One broken value discards everything read before it, geometry and folders
// included.
TEST_F(SettingsTest, BrokenValueFallsBackToAllDefaults)
{
    ASSERT_TRUE(classlib::CreateDir(outDir_));
    ASSERT_TRUE(classlib::CreateDir(inDir_));
    struct Case {
        const wchar_t* what;
        void (*spoil)(TRegistry&);
    };
    const Case cases[] = {
        {L"missing last integer", [](TRegistry& r) { r.DeleteValue(L"T"); }},
        {L"missing Boolean", [](TRegistry& r) { r.DeleteValue(L"ResizeImg"); }},
        {L"integer stored as text", [](TRegistry& r) { r.WriteString(L"MaxTh", L"140"); }},
        {L"zero columns", [](TRegistry& r) { r.WriteInteger(L"ColumnsNr", 0); }},
        {L"negative rows", [](TRegistry& r) { r.WriteInteger(L"RowsNr", -2); }},
        {L"zero thumbnail size", [](TRegistry& r) { r.WriteInteger(L"MaxTh", 0); }},
        {L"page beyond 16 bits", [](TRegistry& r) {
             r.WriteInteger(L"ColumnsNr", 200);
             r.WriteInteger(L"RowsNr", 200);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what, c.what + wcslen(c.what)));
        ASSERT_TRUE(Custom().Writeini());
        {
            TRegistry reg;
            key_.OpenUser(reg);
            c.spoil(reg);
        }
        TSettings s = Custom();
        s.Readini();
        ExpectDefaults(s, env_);
        EXPECT_EQ(s.S_indx, L"Index $p of $t");
    }
}

TEST_F(SettingsTest, VanishedFoldersAreReplacedOrIgnored)
{
    ASSERT_TRUE(Custom().Writeini());  // neither folder exists
    TSettings s = Make();
    s.Readini();
    EXPECT_EQ(s.OutputFolder, defaultOutput_);
    EXPECT_TRUE(classlib::DirectoryExists(defaultOutput_));
    EXPECT_FALSE(classlib::DirectoryExists(outDir_)) << "the old output folder is not recreated";
    EXPECT_TRUE(s.InputFolder.empty());
    EXPECT_EQ(s.MaxTh, 200) << "the other values are kept";
    EXPECT_EQ(s.AlbumName, L"Ferien Ägäis");
}

TEST_F(SettingsTest, TemplatesFollowTheMachineLanguageOnlyForDefaults)
{
    struct Case {
        const wchar_t* strLanguage;
        const wchar_t* indx;
        const wchar_t* img;
    };
    const Case cases[] = {
        {L"de_07", L"Vorschau $p von $t", L"Bild $p von $t"},
        {L"ru_25", L"Индекс $p из $t", L"Фотография $p из $t"},
        {L"fr_12", L"Index $p of $t", L"Image $p of $t"},
        {L"DE_07", L"Index $p of $t", L"Image $p of $t"},
    };
    for (const Case& c : cases) {
        testsupport::TestRegistryKey key;
        key.SetMachineString(L"StrLanguage", c.strLanguage);
        TSettings s(key.Places(), env_);
        s.Readini();
        EXPECT_EQ(s.StrLanguage, c.strLanguage);
        EXPECT_EQ(s.S_indx, c.indx);
        EXPECT_EQ(s.S_img, c.img);
    }

    // Stored templates win over the machine language.
    key_.SetMachineString(L"StrLanguage", L"ru_25");
    ASSERT_TRUE(classlib::CreateDir(outDir_));
    ASSERT_TRUE(Custom().Writeini());
    TSettings s = Make();
    s.Readini();
    EXPECT_EQ(s.S_indx, L"Seite $p/$t");
    EXPECT_EQ(s.S_img, L"Bild $p/$t");
}

TEST_F(SettingsTest, UnopenableUserKeyUsesDefaultsAndWritesNothing)
{
    album::TSettingsPlaces places = key_.Places();
    // A root that is no open key: nothing below it can be opened or created.
    places.User.Root = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7FFF0001));
    TSettings s(places, env_);
    s.Readini();
    ExpectDefaults(s, env_);
    EXPECT_FALSE(s.Writeini());
    EXPECT_FALSE(s.StoreLanguageId(7));
    EXPECT_EQ(s.SettleLanguageId(), album::kEnglishLangId);
}

TEST_F(SettingsTest, LanguageIdIsSettledFromUserThenMachineValue)
{
    struct Case {
        const wchar_t* strLanguage;  // nullptr: absent
        int storedLanguage;          // -1: absent
        int expected;
        int storedAfter;  // -1: still absent
    };
    const Case cases[] = {
        {nullptr, -1, 9, -1},       // nothing known: English
        {L"de_07", -1, 7, 7},       // first start: seeded from the machine value
        {L"ru_25", -1, 25, 25},
        {L"de_7", -1, 7, 7},        // characters 4 and 5 are "7"
        {L"xx_ab", -1, 9, -1},      // not a number: English, nothing stored
        {L"", -1, 9, -1},
        {L"de_07", 12, 12, 12},     // the user's choice wins
        {nullptr, 0, 9, 0},         // a stored 0 means English
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        testsupport::TestRegistryKey key;
        if (c.strLanguage) key.SetMachineString(L"StrLanguage", c.strLanguage);
        TSettings s(key.Places(), env_);
        if (c.storedLanguage >= 0) {
            ASSERT_TRUE(s.StoreLanguageId(c.storedLanguage));
        }
        EXPECT_EQ(s.SettleLanguageId(), c.expected);
        TRegistry reg;
        key.OpenUser(reg);
        if (c.storedAfter < 0) {
            EXPECT_FALSE(reg.ValueExists(L"Language"));
        } else {
            EXPECT_EQ(reg.ReadInteger(L"Language"), c.storedAfter);
        }
    }

    // A "Language" value of another type cannot be read: English.
    TRegistry reg;
    key_.OpenUser(reg);
    reg.WriteString(L"Language", L"7");
    EXPECT_EQ(Make().SettleLanguageId(), album::kEnglishLangId);
}

}  // namespace

TEST(ProgramEnvironment, DefaultAlbumFolderIsUnderTheDocuments)
{
    struct Case {
        const wchar_t* documents;
        const wchar_t* want;
    } cases[] = {
        {L"C:\\Users\\ann\\Documents", L"C:\\Users\\ann\\Documents\\Albums_HTML\\"},
        {L"D:\\Docs\\", L"D:\\Docs\\Albums_HTML\\"},
        {L"", L"E:\\Albums_HTML\\"},  // no documents folder: the program's drive
    };
    for (const Case& c : cases) {
        TProgramEnvironment env;
        env.ProgramFile = L"E:\\Tools\\Velmo\\Velmo.exe";
        env.DocumentsFolder = c.documents;
        EXPECT_EQ(c.want, env.DefaultOutputFolder()) << c.documents;
    }
    // The running program names the user's documents folder, never a drive
    // root.
    TProgramEnvironment current = TProgramEnvironment::Current();
    ASSERT_FALSE(current.DocumentsFolder.empty());
    EXPECT_NE(classlib::ExtractFileDrive(current.ProgramFile) + L"\\Albums_HTML\\", current.DefaultOutputFolder());
}
