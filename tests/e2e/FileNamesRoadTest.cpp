// The real program with pictures whose names are not plain Latin: Cyrillic,
// CJK, an emoji (a surrogate pair) and the right-to-left override. Each must
// show under its own name in the file list, preview there, go into the album
// list one by one, by "Add all" and by a drag from the file list, and build.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4: the
// key is removed before and after each test so the program starts on its
// defaults. VELMO_E2E_EXE names another Velmo.exe to drive (a Windows path).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Driver.h"
#include "RoadRun.h"
#include "support/TestSupport.h"

using namespace e2e;
using testsupport::RemoveTree;

namespace {

// The names, each a copy of one small JPEG.
const wchar_t* const kNames[] = {
    L"\u041C\u043E\u0441\u0442.jpg",          // Cyrillic
    L"\u6A4B\u306E\u5199\u771F.jpg",          // CJK
    L"bridge \U0001F309.jpg",                 // an emoji outside the basic plane
    L"\u202Egpj.evil\u200F.jpg",              // right-to-left override and mark
};

POINT Centre(const RECT& R) { return POINT{(R.left + R.right) / 2, (R.top + R.bottom) / 2}; }

class FileNamesRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        work_ = L"C:\\velmo-e2e-names-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(work_);
        ::CreateDirectoryW(work_.c_str(), nullptr);
        ::CreateDirectoryW((work_ + L"\\pics").c_str(), nullptr);
        ::CreateDirectoryW((work_ + L"\\out").c_str(), nullptr);
        const std::wstring source = testsupport::FixtureDir(L"e2e") + L"\\photos\\o8-landscape.jpg";
        for (const wchar_t* name : kNames)
            ASSERT_TRUE(::CopyFileW(source.c_str(), (work_ + L"\\pics\\" + name).c_str(), FALSE)) << Utf8(name);
    }
    static void TearDownTestSuite() { RemoveTree(work_); }

    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
        ::SetForegroundWindow(app.Main());
        HWND tree = run_.Control(L"FTree");
        HWND list = run_.Control(L"LV1");
        ASSERT_TRUE(tree && list);
        std::wstring trail;
        ASSERT_TRUE(TreeSelectPath(app.Process(), tree, work_ + L"\\pics", trail)) << Utf8(trail);
        ASSERT_TRUE(WaitUntil([&] { return ListCount(list) == static_cast<int>(std::size(kNames)); }, 15000))
            << "the file list shows " << ListCount(list) << " files";
    }

    // The album rows' texts (the full paths).
    std::vector<std::wstring> AlbumTexts()
    {
        HWND album = run_.Control(L"LV2");
        std::vector<std::wstring> texts;
        for (int i = 0; i < ListCount(album); ++i) texts.push_back(ListItemText(app.Process(), album, i));
        return texts;
    }

    void ExpectEveryNameInAlbum()
    {
        const std::vector<std::wstring> rows = AlbumTexts();
        ASSERT_EQ(rows.size(), std::size(kNames));
        for (const wchar_t* name : kNames) {
            bool found = false;
            for (const std::wstring& row : rows) found = found || row == work_ + L"\\pics\\" + name;
            EXPECT_TRUE(found) << Utf8(name) << " is not in the album list";
        }
    }

    TRoadRun run_{TBrowser::Quiet};
    TProgram& app = run_.app;
    static std::wstring work_;
};

std::wstring FileNamesRoad::work_;

// Each name shows whole in the file list, previews when selected, and
// "Add" puts the file itself into the album list.
TEST_F(FileNamesRoad, EachNameShowsPreviewsAndAddsOneByOne)
{
    HWND list = run_.Control(L"LV1");
    HWND album = run_.Control(L"LV2");
    HWND bar = run_.Control(L"TmSB1");
    ASSERT_TRUE(list && album && bar);
    for (const wchar_t* name : kNames) {
        SCOPED_TRACE(Utf8(name));
        const int row = ListFind(app.Process(), list, name);
        ASSERT_GE(row, 0) << "not in the file list under its name";
        EXPECT_EQ(ListItemText(app.Process(), list, row), name);
        const int before = ListCount(album);
        ListSelect(app.Process(), list, -1, false);
        ListSelect(app.Process(), list, row, true);
        ::Sleep(800);  // the preview loads
        Screenshot(L"names-list-" + std::to_wstring(row));
        ASSERT_TRUE(app.Click(L"btnAdd"));
        const std::vector<std::wstring> messages = run_.AnswerMessages(1000);
        EXPECT_TRUE(messages.empty()) << "message: " << (messages.empty() ? "" : Utf8(messages.front()));
        EXPECT_EQ(ListCount(album), before + 1) << "Add left the file out";
    }
    ExpectEveryNameInAlbum();
}

// "Add all" takes every file, and the album builds from them: one picture
// each, and the success message.
TEST_F(FileNamesRoad, AddAllTakesEveryNameAndTheAlbumBuilds)
{
    ASSERT_TRUE(app.Click(L"btnAddAll"));
    EXPECT_TRUE(run_.AnswerMessages(1000).empty());
    ExpectEveryNameInAlbum();

    SetText(run_.Control(L"EAlbDir"), work_ + L"\\out\\");
    SetText(run_.Control(L"EAlbName"), L"Names");
    ASSERT_TRUE(app.PostClick(L"btnStart"));
    const std::vector<std::wstring> messages = run_.WaitBuildOver(60000);
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find(L"successfully"), std::wstring::npos) << Utf8(messages.back());
    int images = 0;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((work_ + L"\\out\\Names\\Images\\*.jpg").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do ++images;
        while (::FindNextFileW(h, &fd));
        ::FindClose(h);
    }
    EXPECT_EQ(images, static_cast<int>(std::size(kNames)));
}

// A drag of the selected files from the file list onto the album list
// (the real pointer) adds them all.
TEST_F(FileNamesRoad, DraggedFromTheFileListTheyAllArrive)
{
    HWND list = run_.Control(L"LV1");
    HWND album = run_.Control(L"LV2");
    ListSelect(app.Process(), list, -1, true);
    const POINT from = Centre(ListItemRect(app.Process(), list, 0));
    RECT target{};
    ::GetWindowRect(album, &target);
    const POINT to = Centre(target);
    // A press the program has not seen yet when the pointer moves on starts
    // no drag: each step waits for the program to take the one before, and
    // a drag that carried nothing (the list unchanged) is made once more.
    const auto drag = [&] {
        RealMouse(from);
        ::Sleep(200);
        RealMouse(from, MOUSEEVENTF_LEFTDOWN);
        ::Sleep(200);
        for (int step = 1; step <= 20; ++step) {
            RealMouse(POINT{from.x + (to.x - from.x) * step / 20, from.y + (to.y - from.y) * step / 20});
            ::Sleep(50);
        }
        ::Sleep(300);
        RealMouse(to, MOUSEEVENTF_LEFTUP);
    };
    drag();
    if (!WaitUntil([&] { return ListCount(album) > 0; }, 5000)) drag();
    EXPECT_TRUE(WaitUntil([&] { return ListCount(album) == static_cast<int>(std::size(kNames)); }, 10000))
        << "the album list holds " << ListCount(album) << " rows";
    EXPECT_TRUE(run_.AnswerMessages(1000).empty());
    ExpectEveryNameInAlbum();
}

// A click on a file, a pause, then a double click on it adds the file; the
// double click's first click must not start renaming it.
TEST_F(FileNamesRoad, DoubleClickAfterAPauseAddsInsteadOfRenaming)
{
    HWND list = run_.Control(L"LV1");
    HWND album = run_.Control(L"LV2");
    const int row = ListFind(app.Process(), list, kNames[0]);
    ASSERT_GE(row, 0);
    const POINT at = Centre(ListItemRect(app.Process(), list, row));
    RealMouse(at);
    RealMouse(at, MOUSEEVENTF_LEFTDOWN);
    RealMouse(at, MOUSEEVENTF_LEFTUP);
    ::Sleep(::GetDoubleClickTime() + 600);
    RealMouse(at, MOUSEEVENTF_LEFTDOWN);
    RealMouse(at, MOUSEEVENTF_LEFTUP);
    RealMouse(at, MOUSEEVENTF_LEFTDOWN);
    RealMouse(at, MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(WaitUntil([&] { return ListCount(album) == 1; }, 5000)) << "the double click added nothing";
    ::Sleep(::GetDoubleClickTime() + 600);  // past the moment a rename would start
    const HWND editor = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETEDITCONTROL, 0, 0));
    EXPECT_EQ(editor, nullptr) << "renaming started";
    if (editor) ::SendMessageW(list, LVM_CANCELEDITLABEL, 0, 0);
    EXPECT_TRUE(run_.AnswerMessages(500).empty());
}

}  // namespace
