// The main window in-process: a frameless TfrmMain over a private registry
// key and a private program folder, driven through its handlers and
// controls. Message boxes and the list-file dialogs are answered by hooks
// that record what the window asked.
#include "app/untMain.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "AlbumTestFiles.h"
#include "FormTestSupport.h"
#include "TestRegistryKey.h"
#include "classlib/Accelerators.h"
#include "classlib/SysUtils.h"
#include "imaging/model/PxStartup.h"

using album::TfrmMain;
using albumtest::FileExists;
using albumtest::Fixture;
using albumtest::ReadBytes;
using albumtest::WriteBytes;
using classlib::TListItem;

namespace {

struct TMessageLog {
    std::vector<std::pair<std::wstring, UINT>> Seen;
    int Answer = IDYES;  // to Yes/No(/Cancel) questions
    // Runs inside the message box (e.g. while a build runs).
    std::function<void()> During;
};

int RecordMessage(void* Context, const std::wstring& Text, UINT Flags)
{
    auto* log = static_cast<TMessageLog*>(Context);
    log->Seen.emplace_back(Text, Flags);
    if (log->During) {
        auto during = std::move(log->During);
        log->During = nullptr;
        during();
    }
    const UINT buttons = Flags & MB_TYPEMASK;
    return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? log->Answer : IDOK;
}

struct TDialogAnswer {
    TDialogAnswer(bool AAccept = false, std::wstring AFileName = {}, int ACalls = 0)
        : Accept(AAccept), FileName(std::move(AFileName)), Calls(ACalls)
    {
    }
    bool Accept = false;
    std::wstring FileName;
    int Calls = 0;
    // The folder and name the dialog was to start with.
    std::wstring StartDir, StartName;
};

bool AnswerDialog(void* Context, classlib::TOpenDialog* Dialog)
{
    auto* answer = static_cast<TDialogAnswer*>(Context);
    ++answer->Calls;
    answer->StartDir = Dialog->InitialDir;
    answer->StartName = Dialog->FileName;
    if (answer->Accept) Dialog->FileName = answer->FileName;
    return answer->Accept;
}

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { imaging::PxInitialize(); }
    static void TearDownTestSuite() { imaging::PxFinalize(); }

    MainWindow()
    {
        // Pictures to browse: two JPEGs (one a camera picture with EXIF
        // orientation 6), a PNG and a file that only looks like a JPEG.
        ::CopyFileW(Fixture(L"io\\jpeg", L"baseline.jpg").c_str(), pictures.File(L"baseline.jpg").c_str(), FALSE);
        ::CopyFileW(Fixture(L"io\\exif", L"camera.jpg").c_str(), pictures.File(L"camera.jpg").c_str(), FALSE);
        ::CopyFileW(Fixture(L"io\\png", L"rgb8.png").c_str(), pictures.File(L"rgb8.png").c_str(), FALSE);
        WriteBytes(pictures.File(L"notes.jpg"), "no picture at all");
        form = MakeForm();
    }
    ~MainWindow() override { DropForm(); }

    TfrmMain* MakeForm()
    {
        album::TProgramEnvironment env;
        env.ProgramFile = program.Dir.File(L"Velmo.exe");
        env.ScreenWidth = 1280;
        env.ScreenHeight = 1024;
        env.DocumentsFolder = documents.Path();
        auto* f = new TfrmMain(&scope.app);
        f->SetBorderStyle(classlib::bsNone);
        f->Settings = album::TSettings(key.Places(), env);
        f->MessageHook = decltype(f->MessageHook)::FromFunction(&RecordMessage, &messages);
        f->DialogHook = decltype(f->DialogHook)::FromFunction(&AnswerDialog, &dialog);
        f->OpenFinishedAlbum = false;
        f->DoCreate();
        f->Show();
        f->EAlbDir->SetText(out.Path());
        return f;
    }
    void DropForm()
    {
        if (!form) return;
        form->ListModified = false;
        delete form;
        form = nullptr;
    }

    // Shows the pictures folder in the file list with every file listed.
    void BrowsePictures()
    {
        form->CB1->SetItemIndex(6);
        form->CB1Change(form->CB1);
        form->LV1->SetPath(pictures.Path());
    }
    std::vector<std::wstring> Captions() const
    {
        std::vector<std::wstring> names;
        for (int i = 0; i < form->LV2->GetItems()->GetCount(); ++i)
            names.push_back(classlib::ExtractFileName(form->LV2->GetItems()->GetItem(i)->GetCaption()));
        return names;
    }
    TListItem* Row(int Index) const { return form->LV2->GetItems()->GetItem(Index); }
    std::wstring Sub(int Index, int Sub) const { return Row(Index)->GetSubItems()->GetStrings(Sub); }
    void SelectRows(std::initializer_list<int> Indexes)
    {
        form->LV2->SetSelected(nullptr);
        for (int i : Indexes) Row(i)->SetSelected(true);
    }
    bool Asked(const std::wstring& Text) const
    {
        for (const auto& m : messages.Seen)
            if (m.first.find(Text) != std::wstring::npos) return true;
        return false;
    }

    formtest::TAppScope scope;
    testsupport::TestRegistryKey key;
    albumtest::ProgramFolder program;
    testsupport::TempDir pictures;
    testsupport::TempDir out;
    testsupport::TempDir documents;
    TMessageLog messages;
    TDialogAnswer dialog;
    TfrmMain* form = nullptr;
};

// ---- the album list ------------------------------------------------------------

// Adding takes readable pictures only, with the rotation of their EXIF
// orientation and their file name as title; a file already in the list
// (whatever the letter case of its path) is not added again but selected;
// moving keeps a row's identity; removing forgets it.
TEST_F(MainWindow, AddMoveAndRemoveRows)
{
    BrowsePictures();
    ASSERT_EQ(form->LV1->GetItems()->GetCount(), 4);
    EXPECT_TRUE(form->btnAddAll->GetEnabled());
    form->btnAddAll->Click();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"baseline.jpg", L"camera.jpg", L"rgb8.png"}));
    EXPECT_EQ(Sub(1, album::siRotation), L"270");  // orientation 6
    EXPECT_EQ(Sub(0, album::siRotation), L"0");
    EXPECT_EQ(Sub(2, album::siTitle), L"rgb8.png");
    EXPECT_EQ(Row(0)->GetSubItems()->GetCount(), 6);
    // The unreadable file among pictures is named, once, with its reason.
    ASSERT_EQ(messages.Seen.size(), 1u);
    EXPECT_NE(messages.Seen[0].first.find(L"notes.jpg: "), std::wstring::npos)
        << testing::PrintToString(messages.Seen[0].first);
    messages.Seen.clear();
    EXPECT_TRUE(form->ListModified);

    // The same picture under another letter case: no second row, the
    // existing one becomes the only selection.
    SelectRows({0});
    EXPECT_EQ(form->AddFiles({classlib::UpperCase(pictures.File(L"camera.jpg"))}, true), 0);
    EXPECT_EQ(form->LV2->GetItems()->GetCount(), 3);
    EXPECT_EQ(form->LV2->GetSelCount(), 1);
    EXPECT_EQ(form->LV2->GetSelected(), Row(1));
    // Nothing readable among the chosen files: the user is told.
    EXPECT_EQ(form->AddFiles({pictures.File(L"notes.jpg")}, true), 0);
    EXPECT_TRUE(Asked(form->msgNoPictures));

    // Moving: the first row down, then up again; a row keeps its identity.
    SelectRows({0});
    const album::TAlbumRowId id = form->AlbumRowId(Row(0));
    EXPECT_TRUE(form->btnPgDown->GetEnabled());
    form->btnPgUp->Click();  // already first: nothing
    EXPECT_EQ(form->AlbumRowIndex(id), 0);
    form->btnPgDown->Click();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"camera.jpg", L"baseline.jpg", L"rgb8.png"}));
    EXPECT_EQ(form->AlbumRowIndex(id), 1);
    EXPECT_EQ(form->LV2->GetSelected(), Row(1)) << "the moved row keeps its selection";
    form->btnPgDown->Click();
    form->btnPgDown->Click();  // already last: nothing
    EXPECT_EQ(form->AlbumRowIndex(id), 2);
    SelectRows({0, 1});
    EXPECT_FALSE(form->btnPgUp->GetEnabled());
    EXPECT_FALSE(form->btnPgDown->GetEnabled());

    // Removing the selected rows: the moved row stays, the others' ids go.
    const album::TAlbumRowId gone = form->AlbumRowId(Row(0));
    form->btnRemove->Click();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"baseline.jpg"}));
    EXPECT_EQ(form->AlbumRowIndex(gone), -1);
    EXPECT_EQ(form->AlbumRowIndex(id), 0);
    form->btnRemoveAll->Click();
    EXPECT_EQ(form->LV2->GetItems()->GetCount(), 0);
    EXPECT_FALSE(form->btnSave->GetEnabled());
    EXPECT_FALSE(form->btnRemoveAll->GetEnabled());

    // Several files at once: one named twice (in two letter cases) is added
    // once, an unreadable one not at all, in the order named; naming them
    // all again adds nothing.
    const std::vector<std::wstring> many = {pictures.File(L"rgb8.png"), pictures.File(L"notes.jpg"),
                                            classlib::UpperCase(pictures.File(L"rgb8.png")),
                                            pictures.File(L"camera.jpg")};
    EXPECT_EQ(form->AddFiles(many, false), 2);
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"rgb8.png", L"camera.jpg"}));
    EXPECT_EQ(Sub(1, album::siRotation), L"270");
    const std::size_t seen = messages.Seen.size();
    EXPECT_EQ(form->AddFiles(many, false), 0);
    EXPECT_EQ(form->LV2->GetItems()->GetCount(), 2);
    // Only the unreadable file is named again.
    ASSERT_EQ(messages.Seen.size(), seen + 1);
    EXPECT_NE(messages.Seen.back().first.find(L"notes.jpg: "), std::wstring::npos);
    EXPECT_EQ(messages.Seen.back().first.find(L"rgb8.png"), std::wstring::npos);
}

// A turned row offers only the way back; the way back offers the three
// turns. Title and description typed with several rows selected go to all
// of them without the surrounding blanks.
TEST_F(MainWindow, RotationButtonsAndTexts)
{
    BrowsePictures();
    form->btnAddAll->Click();
    SelectRows({1});  // camera.jpg, "270"
    EXPECT_TRUE(form->R1->GetEnabled());
    EXPECT_FALSE(form->R2->GetEnabled() || form->R3->GetEnabled() || form->R4->GetEnabled());
    EXPECT_TRUE(form->LBL_Rotate->GetVisible());
    // "270" turns the picture a quarter clockwise, as the label says.
    EXPECT_EQ(form->LBL_Rotate->GetCaption(), L"Rotation: 90\u00B0 clockwise");
    form->R1->Click();
    EXPECT_EQ(Sub(1, album::siRotation), L"0");
    EXPECT_FALSE(form->R1->GetEnabled());
    EXPECT_TRUE(form->R2->GetEnabled() && form->R3->GetEnabled() && form->R4->GetEnabled());
    EXPECT_FALSE(form->LBL_Rotate->GetVisible());
    form->R2->Click();
    EXPECT_EQ(Sub(1, album::siRotation), L"90");
    EXPECT_EQ(form->LBL_Rotate->GetCaption(), L"Rotation: 90\u00B0 anti-clockwise");

    SelectRows({0, 1, 2});
    form->E_Title->SetText(L"  Harbour at dawn  ");
    form->E_Desc->SetText(L" first line\r\nsecond line ");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Sub(i, album::siTitle), L"Harbour at dawn");
        EXPECT_EQ(Sub(i, album::siDescription), L"first line\r\nsecond line");
    }
    // Selecting one row shows its texts without changing any row.
    SelectRows({2});
    EXPECT_EQ(form->E_Title->GetText(), L"Harbour at dawn");
    EXPECT_EQ(Sub(0, album::siTitle), L"Harbour at dawn");
}

// ---- the build -----------------------------------------------------------------------

// While the build runs, everything that could change the list, the folders
// or the settings is locked (also Open, Save, the tree and the language
// menu), Exit stays live; afterwards the window is as before and the rows
// carry their numbers. The album name loses its separators.
TEST_F(MainWindow, BuildLocksTheWindowAndNumbersTheRows)
{
    BrowsePictures();
    form->btnAddAll->Click();
    SelectRows({0});
    // A row whose picture fails during the build (as a list file can hold).
    form->AddAlbumRow(pictures.File(L"notes.jpg"), L"0");
    form->EAlbName->SetText(L"Trip/2024\\North");
    EXPECT_EQ(form->EAlbName->GetText(), L"Trip2024North");

    // The copy of the viewer folder fails (the folder is renamed away),
    // which ends the build with a message shown while it runs: look at the
    // window then.
    const std::wstring viewer = program.Dir.Path() + L"\\viewer";
    ::MoveFileW(viewer.c_str(), (viewer + L"_away").c_str());
    std::vector<std::pair<std::wstring, bool>> during;
    messages.During = [&] {
        for (classlib::TControl* c :
             std::initializer_list<classlib::TControl*>{form->LV2, form->LV1, form->FTree, form->btnOpen,
                                                        form->btnSave, form->btnStart, form->btnRemoveAll,
                                                        form->E_Title, form->EAlbName, form->btnCancel})
            during.emplace_back(c->GetName(), c->GetEnabled());
        during.emplace_back(L"mnuLanguage", form->mnuLanguage->GetEnabled());
        during.emplace_back(L"running", form->BuildRunning());
    };
    form->btnStart->Click();
    const std::vector<std::pair<std::wstring, bool>> expected = {
        {L"LV2", false},     {L"LV1", false},       {L"FTree", false},   {L"btnOpen", false},
        {L"btnSave", false}, {L"btnStart", false},  {L"btnRemoveAll", false}, {L"E_Title", false},
        {L"EAlbName", false}, {L"btnCancel", true}, {L"mnuLanguage", false}, {L"running", true}};
    EXPECT_EQ(during, expected);
    EXPECT_FALSE(FileExists(out.File(L"Trip2024North\\index.html")));
    ASSERT_FALSE(messages.Seen.empty());
    EXPECT_NE(messages.Seen.back().first.find(viewer), std::wstring::npos);

    // With the viewer back the build goes through.
    messages.During = nullptr;
    ::MoveFileW((viewer + L"_away").c_str(), viewer.c_str());
    form->btnStart->Click();

    EXPECT_FALSE(form->BuildRunning());
    EXPECT_FALSE(form->TmB3->GetVisible());
    for (classlib::TControl* c : std::initializer_list<classlib::TControl*>{
             form->LV2, form->LV1, form->FTree, form->btnOpen, form->btnSave, form->btnStart, form->E_Title})
        EXPECT_TRUE(c->GetEnabled()) << testing::PrintToString(c->GetName());
    EXPECT_TRUE(form->mnuLanguage->GetEnabled());
    const std::wstring album = out.File(L"Trip2024North\\");
    EXPECT_EQ(form->AlbumPath, album);
    EXPECT_TRUE(FileExists(album + L"index.html"));
    EXPECT_EQ(Sub(0, album::siNumber), L"1");
    EXPECT_EQ(Sub(2, album::siNumber), L"3");
    // One message, the success message, names the picture left out and why.
    int told = 0;
    for (const auto& m : messages.Seen) {
        if (m.first.find(form->msgSkippedPictures) == std::wstring::npos) continue;
        ++told;
        EXPECT_EQ(m.first.rfind(form->msgAlbumCreated, 0), 0u) << testing::PrintToString(m.first);
        EXPECT_NE(m.first.find(form->msgSkippedPictures + L"\r\n" + pictures.File(L"notes.jpg") + L": "),
                  std::wstring::npos);
    }
    EXPECT_EQ(told, 1);
    EXPECT_EQ(Sub(3, album::siNumber), L"");
}

// Exit (as Esc) during a build says at once that the build is being
// cancelled, and no control's hint covers that until the build ends.
TEST_F(MainWindow, CancelShowsAtOnceUntilTheBuildEnds)
{
    BrowsePictures();
    form->btnAddAll->Click();
    form->EAlbName->SetText(L"Stopped");
    // The refused viewer copy reports while the build runs: cancel then.
    const std::wstring viewer = program.Dir.Path() + L"\\viewer";
    ::MoveFileW(viewer.c_str(), (viewer + L"_away").c_str());
    std::wstring before, after, hinted;
    bool asked = false;
    messages.During = [&] {
        if (asked) return;
        asked = true;
        before = form->TmP6->GetCaption();
        form->btnCancel->Click();
        after = form->TmP6->GetCaption();
        classlib::Application->SetHint(L"A control's hint");
        hinted = form->TmP6->GetCaption();
        classlib::Application->SetHint(L"");
    };
    form->btnStart->Click();
    ASSERT_TRUE(asked);
    EXPECT_NE(before, L"Cancelling...");
    EXPECT_EQ(after, L"Cancelling...");
    EXPECT_EQ(hinted, L"Cancelling...");
    EXPECT_FALSE(form->BuildRunning());
    EXPECT_EQ(form->TmP6->GetCaption(), L"") << "the note outlives the build";
}

// A build that ends by an exception (a navigation picture is missing) is
// reported; the window is usable again and Exit closes it, asking first
// because the list was never saved.
TEST_F(MainWindow, FailedBuildLeavesAUsableWindow)
{
    BrowsePictures();
    form->btnAddAll->Click();
    ::DeleteFileW((program.Dir.Path() + L"\\GIFs\\next.gif").c_str());
    form->btnStart->Click();
    EXPECT_TRUE(Asked(form->msgBuildFailed));
    EXPECT_FALSE(form->BuildRunning());
    EXPECT_TRUE(form->btnStart->GetEnabled());
    EXPECT_TRUE(form->LV2->GetEnabled());

    // Exit with an unsaved list asks first; No keeps the window.
    messages.Answer = IDNO;
    const std::size_t before = messages.Seen.size();
    form->btnCancel->Click();
    EXPECT_TRUE(Asked(form->msgListNotSaved));
    EXPECT_EQ(messages.Seen.size(), before + 1);
    EXPECT_TRUE(form->GetVisible());
    // Esc does what Exit does; Yes closes.
    messages.Answer = IDYES;
    wchar_t esc = 27;
    form->FormKeyPress(form, esc);
    EXPECT_FALSE(form->GetVisible());
}

// A saved list closes without a question.
TEST_F(MainWindow, SavedListClosesWithoutAsking)
{
    form->AddFiles({pictures.File(L"rgb8.png")}, true);
    dialog = TDialogAnswer{true, out.File(L"one.alb"), 0};
    form->btnSave->Click();
    form->mnuExit->Click();
    EXPECT_FALSE(Asked(form->msgListNotSaved));
    EXPECT_FALSE(form->GetVisible());
}

// An empty album name, and an album folder that can't be written, are
// reported and build nothing.
TEST_F(MainWindow, BuildRefusesEmptyNameAndUnwritableFolder)
{
    BrowsePictures();
    form->btnAddAll->Click();
    form->EAlbName->SetText(L"\\/");
    EXPECT_EQ(form->EAlbName->GetText(), L"");
    form->btnStart->Click();
    EXPECT_TRUE(Asked(form->msgNoAlbumName));
    EXPECT_FALSE(FileExists(out.File(L"index.html")));
    EXPECT_FALSE(FileExists(out.File(L"Images")));

    // A file where the album folder should be.
    WriteBytes(out.File(L"blocked"), "x");
    form->EAlbDir->SetText(out.File(L"blocked"));
    form->EAlbName->SetText(L"Album1");
    form->btnStart->Click();
    EXPECT_TRUE(Asked(form->msgCouldNotWrite));
    EXPECT_FALSE(form->BuildRunning());
    EXPECT_TRUE(form->btnStart->GetEnabled());
}

// ---- the list file -------------------------------------------------------------------

// Save writes every row whether or not one is selected; a cancelled Open
// keeps the list, a damaged file is reported and keeps it too, a good file
// replaces it.
TEST_F(MainWindow, OpenAndSaveTheList)
{
    BrowsePictures();
    form->btnAddAll->Click();
    form->LV2->SetSelected(nullptr);
    const std::wstring saved = out.File(L"list.alb");
    dialog = TDialogAnswer{true, saved, 0};
    form->btnSave->Click();
    EXPECT_EQ(dialog.Calls, 1);
    // The first list dialog starts in the documents, the next ones in the
    // folder of the last list chosen; both without a name.
    EXPECT_EQ(dialog.StartDir, documents.Path());
    EXPECT_EQ(dialog.StartName, L"");
    EXPECT_FALSE(form->ListModified);
    std::vector<album::TAlbumRow> rows;
    album::LoadAlbumList(saved, rows);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].Path, pictures.File(L"camera.jpg"));

    form->btnRemoveAll->Click();
    form->AddFiles({pictures.File(L"rgb8.png")}, true);
    dialog = TDialogAnswer{false, L"", 0};
    form->btnOpen->Click();
    EXPECT_EQ(dialog.Calls, 1);
    EXPECT_EQ(dialog.StartDir, classlib::ExtractFilePath(saved));
    EXPECT_EQ(dialog.StartName, L"");
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"rgb8.png"}));

    // Files that cannot be read or written: each named, the list kept.
    const std::wstring missing = out.File(L"missing.alb");
    dialog = TDialogAnswer{true, missing, 0};
    form->btnOpen->Click();
    EXPECT_TRUE(Asked(L"The album list \"" + missing + L"\" could not be read"));
    const std::wstring unwritable = out.File(L"no such folder\\list.alb");
    dialog = TDialogAnswer{true, unwritable, 0};
    form->btnSave->Click();
    EXPECT_TRUE(Asked(L"The album list could not be saved as \"" + unwritable + L"\""));
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"rgb8.png"}));

    const std::wstring damaged = out.File(L"damaged.alb");
    WriteBytes(damaged, std::string("\x00\x01\x02\xFF\xFE garbage without fields\r\n", 29));
    dialog = TDialogAnswer{true, damaged, 0};
    form->btnOpen->Click();
    EXPECT_TRUE(Asked(L"\"" + damaged + L"\" is not an album list: none of its lines describes a picture."));
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"rgb8.png"}));

    dialog = TDialogAnswer{true, saved, 0};
    form->btnOpen->Click();
    EXPECT_EQ(Captions(), (std::vector<std::wstring>{L"baseline.jpg", L"camera.jpg", L"rgb8.png"}));
    EXPECT_EQ(Sub(1, album::siRotation), L"270");
    EXPECT_FALSE(form->ListModified);
    EXPECT_TRUE(form->btnSave->GetEnabled());
}

// ---- settings, size and language -------------------------------------------------

// Closing writes the settings, a new window reads them back; the window
// never gets smaller than its design size.
TEST_F(MainWindow, SettingsSurviveAndTheDesignSizeIsTheMinimum)
{
    const int minWidth = form->GetConstraints().MinWidth;
    const int minHeight = form->GetConstraints().MinHeight;
    EXPECT_GT(minWidth, 0);
    form->SetBounds(10, 10, 100, 100);
    EXPECT_EQ(form->GetWidth(), minWidth);
    EXPECT_EQ(form->GetHeight(), minHeight);

    form->SetBounds(20, 30, minWidth + 50, minHeight + 40);
    form->EAlbName->SetText(L"Summer");
    form->LV1->SetPath(pictures.Path());
    form->Close();
    DropForm();
    form = MakeForm();
    EXPECT_EQ(form->EAlbName->GetText(), L"Summer");
    EXPECT_EQ(form->GetWidth(), minWidth + 50);
    EXPECT_EQ(form->GetHeight(), minHeight + 40);
    EXPECT_EQ(form->LV1->GetPath(), classlib::IncludeTrailingPathDelimiter(pictures.Path()));
}

// A translation file found at start shows its language in the menu;
// choosing it translates the window, and the menu marks it.
TEST_F(MainWindow, LanguageMenuAppliesTranslations)
{
    const std::wstring languages = program.Dir.Path() + L"\\Languages";
    ::CreateDirectoryW(languages.c_str(), nullptr);
    WriteBytes(languages + L"\\Morvane_Deu.txt",
               "\xEF\xBB\xBF// German\r\npriLangId=07\r\nbtnStart=Los\r\nbtnExit=Beenden\r\n"
               "msgFileOf=Datei\r\n");
    DropForm();
    form = MakeForm();
    toolbar::TMbItem* german = form->LanguageItem(7);
    ASSERT_NE(german, nullptr);
    EXPECT_TRUE(german->GetVisible());
    EXPECT_FALSE(form->LanguageItem(25)->GetVisible());
    german->Click();
    EXPECT_EQ(classlib::StripAccelerator(form->btnStart->GetCaption()), L"Los");
    EXPECT_EQ(classlib::StripAccelerator(form->mnuExit->GetCaption()), L"Beenden");
    EXPECT_EQ(form->msgFileOf, L"Datei");
    EXPECT_EQ(classlib::StripAccelerator(form->btnAdd->GetCaption()), L"btnAdd") << "a key the file lacks shows its name";
    form->mnuLanguagePopUp(form->mnuLanguage, false);
    EXPECT_TRUE(german->GetChecked());
    EXPECT_FALSE(form->English->GetChecked());
    form->English->Click();
    EXPECT_EQ(classlib::StripAccelerator(form->btnStart->GetCaption()), L"Start");
}

}  // namespace
