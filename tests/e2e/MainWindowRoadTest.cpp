// The real program's smaller windows and controls, driven as a user would
// (the pointer and the keyboard through the platform's input queue where
// the behaviour lives in input handling): the detail pane after "Remove
// all", the hints of the tool buttons, the preview window's keys and its
// remove button, the small previews' right click, the about box's keys,
// the folder tree's first view, "Add all" while a folder still fills, and
// a failure message in German.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4: the
// key is removed before and after each test so the program starts on its
// defaults. VELMO_E2E_EXE names another Velmo.exe to drive (a Windows path).
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Driver.h"
#include "RoadRun.h"
#include "support/TestSupport.h"

using namespace e2e;
using testsupport::RemoveTree;

namespace {

const wchar_t kCaption[] = L"Velmo Morvane";

void CopyFolder(const std::wstring& From, const std::wstring& To)
{
    ::CreateDirectoryW(To.c_str(), nullptr);
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((From + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            ::CopyFileW((From + L"\\" + fd.cFileName).c_str(), (To + L"\\" + fd.cFileName).c_str(), FALSE);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
}

RECT WindowRect(HWND Wnd)
{
    RECT r{};
    ::GetWindowRect(Wnd, &r);
    return r;
}

POINT Centre(const RECT& R) { return POINT{(R.left + R.right) / 2, (R.top + R.bottom) / 2}; }

// A key pressed and released through the platform's input queue: it goes
// to the window with the focus, as a user's key does.
void RealKey(WORD Key)
{
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = Key;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
}

// The text of the visible hint window of the program ("" when none shows
// within TimeoutMs).
std::wstring ShownHint(DWORD Pid, DWORD TimeoutMs)
{
    std::wstring text;
    WaitUntil(
        [&] {
            for (HWND hint : TopWindows(Pid, L"THintWindow")) text = GetText(hint);
            return !text.empty();
        },
        TimeoutMs);
    return text;
}

class MainWindowRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        work_ = L"C:\\velmo-e2e-main-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(work_);
        ::CreateDirectoryW(work_.c_str(), nullptr);
        CopyFolder(testsupport::FixtureDir(L"e2e") + L"\\photos", work_ + L"\\photos");
    }
    static void TearDownTestSuite() { RemoveTree(work_); }

    void Start()
    {
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
        ::SetForegroundWindow(app.Main());
    }

    HWND Control(const wchar_t* Name) { return run_.Control(Name); }

    void ChooseFolder(const std::wstring& Folder, int Count)
    {
        HWND tree = Control(L"FTree");
        HWND list = Control(L"LV1");
        ASSERT_TRUE(tree && list);
        std::wstring trail;
        ASSERT_TRUE(TreeSelectPath(app.Process(), tree, Folder, trail))
            << "folder tree: " << Utf8(Folder) << " not reached; walked " << Utf8(trail);
        if (Count >= 0)
            EXPECT_TRUE(WaitUntil([&] { return ListCount(list) == Count; }, 15000))
                << "file list of " << Utf8(Folder) << " shows " << ListCount(list) << " files, expected " << Count;
    }

    // The camera photos in the album list, and the row of File selected.
    void AlbumWithRowSelected(const wchar_t* File)
    {
        ChooseFolder(work_ + L"\\photos", 7);
        ASSERT_TRUE(app.Click(L"btnAddAll"));
        HWND album = Control(L"LV2");
        ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 7; }, 10000));
        const int row = ListFind(app.Process(), album, File);
        ASSERT_GE(row, 0);
        ListSelect(app.Process(), album, -1, false);
        ListSelect(app.Process(), album, row, true);
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(Control(L"E_Title")) != 0; }, 5000));
    }

    // Answers the program's message boxes with Answer until TimeoutMs passed
    // without one; returns their texts.
    std::vector<std::wstring> AnswerMessages(int Answer, DWORD TimeoutMs)
    {
        std::vector<std::wstring> seen;
        WaitUntil(
            [&] {
                for (const TDialog& d : Dialogs(app.Pid())) {
                    if (d.Caption != kCaption) continue;
                    seen.push_back(d.Text);
                    Screenshot(L"main-message-" + std::to_wstring(seen.size()));
                    if (!PressButton(d.Wnd, Answer)) PressButton(d.Wnd, IDOK);
                    WaitUntil([&] { return !::IsWindow(d.Wnd) || !::IsWindowVisible(d.Wnd); }, 5000);
                }
                return false;
            },
            TimeoutMs);
        return seen;
    }

    HWND PreviewWindow(DWORD TimeoutMs)
    {
        HWND preview = nullptr;
        WaitUntil(
            [&] {
                const auto found = TopWindows(app.Pid(), L"TfrmPreview");
                preview = found.empty() ? nullptr : found.front();
                return preview != nullptr;
            },
            TimeoutMs);
        return preview;
    }

    // Opens the preview window on album row Row as a user does: a right
    // click on the row, then the popup menu's entry.
    HWND PreviewFromAlbumRow(int Row)
    {
        HWND album = Control(L"LV2");
        ListSelect(app.Process(), album, -1, false);
        ListSelect(app.Process(), album, Row, true);
        const POINT at = Centre(ListItemRect(app.Process(), album, Row));
        RealMouse(at);
        RealMouse(at, MOUSEEVENTF_RIGHTDOWN);
        RealMouse(at, MOUSEEVENTF_RIGHTUP);
        HWND popup = nullptr;
        WaitUntil(
            [&] {
                const auto found = TopWindows(app.Pid(), L"VelmoMbPopupWindow");
                popup = found.empty() ? nullptr : found[0];
                return popup != nullptr;
            },
            10000);
        EXPECT_NE(popup, nullptr) << "no popup menu on the album row";
        if (!popup) return nullptr;
        const POINT entry = Centre(WindowRect(popup));
        RealMouse(entry);
        RealMouse(entry, MOUSEEVENTF_LEFTDOWN);
        RealMouse(entry, MOUSEEVENTF_LEFTUP);
        HWND preview = PreviewWindow(10000);
        ::Sleep(500);
        return preview;
    }

    TRoadRun run_;
    TProgram& app = run_.app;
    static std::wstring work_;
};

std::wstring MainWindowRoad::work_;

// After "Remove all" no row is selected: the title and description are
// empty and take no typing, and nothing can be turned or removed.
TEST_F(MainWindowRoad, RemoveAllLeavesNothingToEdit)
{
    Start();
    AlbumWithRowSelected(L"o6-portrait.jpg");
    HWND title = Control(L"E_Title");
    EXPECT_EQ(GetText(title), L"o6-portrait.jpg");
    ASSERT_TRUE(app.Click(L"btnRemoveAll"));
    EXPECT_EQ(ListCount(Control(L"LV2")), 0);
    EXPECT_EQ(GetText(title), L"") << "the title of the removed row stays";
    EXPECT_FALSE(::IsWindowEnabled(title)) << "the title field takes typing with no row";
    EXPECT_FALSE(::IsWindowEnabled(Control(L"E_Desc")));
    for (const wchar_t* idle : {L"R1", L"R2", L"R3", L"R4", L"btnRemove", L"btnRemoveAll"})
        EXPECT_FALSE(app.Click(idle)) << Utf8(idle) << " is enabled with an empty album list";
    Screenshot(L"main-after-remove-all");
}

// The rotation and move buttons of the main window and the preview
// window's toolbar show their hints when the pointer rests on them.
TEST_F(MainWindowRoad, ToolButtonsShowTheirHints)
{
    Start();
    AlbumWithRowSelected(L"o1-large.jpg");  // not turned: R2 to R4 enabled
    // The rotation buttons stand in a row above the rotation text, the
    // "Page Title:" caption and the title field, from the pane's left edge.
    const RECT title = WindowRect(Control(L"E_Title"));
    const int width = static_cast<int>(title.right - title.left);
    const int tool = std::max(26, std::min(38, (width - 8) / 6));
    const int row = title.top - (26 + 4 + 14 + 4 + 14 + 2) + 13;
    struct Case {
        int Column;
        const wchar_t* Hint;
    };
    for (const Case& c : {Case{1, L"Rotate 90 deg anti-clockwise"}, Case{3, L"Rotate 90 deg clockwise"}}) {
        RealMouse(POINT{title.left + tool * c.Column + tool / 2, row - 40});
        ::Sleep(300);
        RealMouse(POINT{title.left + tool * c.Column + tool / 2, row});
        EXPECT_EQ(ShownHint(app.Pid(), 5000), c.Hint) << "column " << c.Column;
        Screenshot(L"main-hint-" + std::to_wstring(c.Column));
    }

    // The preview of the second row: every button of its toolbar is live.
    HWND preview = PreviewFromAlbumRow(1);
    ASSERT_NE(preview, nullptr);
    // The first button of the toolbar ("first file"), at the window's
    // top-left under the frame.
    POINT client{0, 0};
    ::ClientToScreen(preview, &client);
    RealMouse(POINT{client.x + 12, client.y + 60});
    ::Sleep(300);
    RealMouse(POINT{client.x + 12, client.y + 12});
    EXPECT_EQ(ShownHint(app.Pid(), 5000), L"First File in the List");
    Screenshot(L"preview-hint");
}

// A right click on the album's small preview opens the enlarged preview
// of the row shown there, as the lists' hint says.
TEST_F(MainWindowRoad, RightClickOnASmallPreviewEnlargesIt)
{
    Start();
    AlbumWithRowSelected(L"o1-large.jpg");
    HWND grid = Control(L"ImPreview2");
    ASSERT_NE(grid, nullptr);
    const POINT at = Centre(WindowRect(grid));
    RealMouse(at);
    RealMouse(at, MOUSEEVENTF_RIGHTDOWN);
    RealMouse(at, MOUSEEVENTF_RIGHTUP);
    HWND preview = PreviewWindow(10000);
    ASSERT_NE(preview, nullptr) << "a right click on the small preview opens no enlarged preview";
    EXPECT_TRUE(WaitUntil([&] { return GetText(preview) == L"o1-large.jpg"; }, 10000)) << Utf8(GetText(preview));
    ::Sleep(500);
    Screenshot(L"preview-window");
}

// The preview window: its remove button asks before it takes a row out of
// the album (No keeps the row, Yes removes it); Esc closes the window.
TEST_F(MainWindowRoad, PreviewAsksBeforeRemovingAndClosesWithEsc)
{
    Start();
    AlbumWithRowSelected(L"o1-large.jpg");
    HWND album = Control(L"LV2");
    const int row = ListFind(app.Process(), album, L"o1-large.jpg");
    HWND preview = PreviewFromAlbumRow(row);
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return GetText(preview) == L"o1-large.jpg"; }, 10000)) << Utf8(GetText(preview));

    // The remove button, clicked through the preview window's automation
    // message.
    const UINT click = ::RegisterWindowMessageW(L"VelmoClickControl");
    const ATOM name = ::GlobalAddAtomW(L"mnuList");
    const int rows = ListCount(album);
    ::PostMessageW(preview, click, name, 0);
    TDialog question;
    EXPECT_TRUE(WaitForDialog(app.Pid(), kCaption, 10000, question)) << "the row goes without a question";
    if (question.Wnd) {
        EXPECT_NE(question.Text.find(L"o1-large.jpg"), std::wstring::npos) << Utf8(question.Text);
        Screenshot(L"preview-remove-question");
        PressButton(question.Wnd, IDNO);
        WaitUntil([&] { return Dialogs(app.Pid()).empty(); }, 5000);
        EXPECT_EQ(ListCount(album), rows) << "No removed the row";
        ::PostMessageW(preview, click, name, 0);
        ASSERT_TRUE(WaitForDialog(app.Pid(), kCaption, 10000, question));
        PressButton(question.Wnd, IDYES);
    }
    EXPECT_TRUE(WaitUntil([&] { return ListCount(album) == rows - 1; }, 5000)) << "Yes kept the row";
    EXPECT_LT(ListFind(app.Process(), album, L"o1-large.jpg"), 0);
    ::GlobalDeleteAtom(name);

    // Esc, after a click on the picture.
    preview = PreviewWindow(5000);
    ASSERT_NE(preview, nullptr);
    ::SetForegroundWindow(preview);
    const POINT picture = Centre(WindowRect(preview));
    RealMouse(picture);
    RealMouse(picture, MOUSEEVENTF_LEFTDOWN);
    RealMouse(picture, MOUSEEVENTF_LEFTUP);
    ::Sleep(300);
    RealKey(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return TopWindows(app.Pid(), L"TfrmPreview").empty(); }, 5000))
        << "Esc does not close the preview";
    EXPECT_TRUE(app.Running()) << "Esc in the preview closed the program";
}

// The about box: its OK button has the focus, and Enter presses it.
TEST_F(MainWindowRoad, AboutBoxClosesWithEnter)
{
    Start();
    ASSERT_TRUE(app.PostClick(L"mnuAbout"));
    std::vector<HWND> about;
    ASSERT_TRUE(WaitUntil([&] { return !(about = TopWindows(app.Pid(), L"TfrmAbout")).empty(); }, 10000));
    ::SetForegroundWindow(about.front());
    ::Sleep(500);
    Screenshot(L"about-box");
    RealKey(VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return TopWindows(app.Pid(), L"TfrmAbout").empty(); }, 5000))
        << "Enter does not close the about box";
    EXPECT_TRUE(app.Running());
}

// The folder tree opens on the program's own folder, deep below the
// roots: the top-level names stay whole (the tree is not scrolled
// sideways further than the selected name needs).
TEST_F(MainWindowRoad, FolderTreeOpensWithTheTopLevelNamesWhole)
{
    Start();
    HWND tree = Control(L"FTree");
    ASSERT_NE(tree, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0) != 0; }, 15000));
    ::Sleep(1000);
    Screenshot(L"main-on-start");
    auto textRect = [&](LPARAM Item) {
        TRemoteBuffer buffer(app.Process(), sizeof(RECT));
        RECT r{};
        std::memcpy(&r, &Item, sizeof(Item));
        buffer.Write(&r, sizeof(r));
        ::SendMessageW(tree, TVM_GETITEMRECT, TRUE, buffer.Address());
        buffer.Read(&r, sizeof(r));
        return r;
    };
    const LPARAM root = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    const LPARAM selected = ::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    RECT client{};
    ::GetClientRect(tree, &client);
    const RECT rootText = textRect(root), selectedText = textRect(selected);
    EXPECT_GE(rootText.left, 0) << "the first top-level name is cut off on the left";
    EXPECT_GE(selectedText.left, 0) << "the selected folder's name is hidden";
    EXPECT_LT(selectedText.left, client.right) << "the selected folder's name is hidden";
}

// "Add all" while a large folder is still being listed adds either nothing
// or the whole folder, never the part listed so far; once the list is
// complete it adds every picture.
TEST_F(MainWindowRoad, AddAllWaitsForTheWholeFolder)
{
    const std::wstring folder = work_ + L"\\many";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring picture = work_ + L"\\photos\\drawing-gif.gif";
    constexpr int kFiles = 1500;
    for (int i = 0; i < kFiles; ++i)
        ::CopyFileW(picture.c_str(), (folder + L"\\p" + std::to_wstring(10000 + i) + L".gif").c_str(), FALSE);
    Start();
    HWND list = Control(L"LV1");
    HWND album = Control(L"LV2");
    ChooseFolder(folder, -1);
    // At once, while the list fills.
    const bool clicked = app.Click(L"btnAddAll");
    const int listed = ListCount(list);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(list) == kFiles; }, 30000)) << ListCount(list);
    const int added = ListCount(album);
    EXPECT_TRUE(added == 0 || added == kFiles)
        << "Add all (accepted: " << clicked << ") with " << listed << " files listed added " << added;
    ASSERT_TRUE(WaitUntil([&] { return app.Click(L"btnAddAll"); }, 10000)) << "Add all stays disabled";
    EXPECT_TRUE(WaitUntil([&] { return ListCount(album) == kFiles; }, 60000)) << ListCount(album);
}

// A German user meets a failure: the message is the German one of the
// translation file beside the program, and the window speaks German.
TEST_F(MainWindowRoad, FailureMessageSpeaksTheUsersLanguage)
{
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD german = 7;
    ::RegSetValueExW(key, L"Language", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&german), sizeof(german));
    ::RegCloseKey(key);
    const std::wstring expected = TranslationText(L"Morvane_Ger.txt", L"msgNoPictures");
    ASSERT_FALSE(expected.empty()) << "the German file has no msgNoPictures";

    const std::wstring folder = work_ + L"\\texts";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    std::ofstream((folder + L"\\notes.txt").c_str()) << "no picture";
    Start();
    std::wstring start = GetText(Control(L"btnStart"));
    start.erase(std::remove(start.begin(), start.end(), L'&'), start.end());  // the accelerator mark
    EXPECT_EQ(start, TranslationText(L"Morvane_Ger.txt", L"btnStart"));
    ComboSelect(Control(L"CB1"), 6);  // all files
    ChooseFolder(folder, 1);
    ASSERT_TRUE(app.PostClick(L"btnAddAll"));
    TDialog message;
    ASSERT_TRUE(WaitForDialog(app.Pid(), kCaption, 10000, message)) << "no message for a folder without pictures";
    ::Sleep(300);
    Screenshot(L"german-failure");
    EXPECT_EQ(message.Text.rfind(expected, 0), 0u) << Utf8(message.Text);  // then the file and why
    PressButton(message.Wnd, IDOK);
}

}  // namespace

// The file list follows the disk without F5: a picture copied into the
// shown folder by another program appears, and goes again when deleted.
TEST_F(MainWindowRoad, FileListFollowsPicturesAddedFromOutside)
{
    const std::wstring folder = work_ + L"\\outside";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring picture = work_ + L"\\photos\\drawing-gif.gif";
    ASSERT_TRUE(::CopyFileW(picture.c_str(), (folder + L"\\first.gif").c_str(), FALSE));
    Start();
    HWND list = Control(L"LV1");
    ChooseFolder(folder, 1);
    ASSERT_TRUE(::CopyFileW(picture.c_str(), (folder + L"\\second.gif").c_str(), FALSE));
    EXPECT_TRUE(WaitUntil([&] { return ListCount(list) == 2; }, 10000)) << ListCount(list);
    ASSERT_TRUE(::DeleteFileW((folder + L"\\first.gif").c_str()));
    EXPECT_TRUE(WaitUntil([&] { return ListCount(list) == 1; }, 10000)) << ListCount(list);
}
