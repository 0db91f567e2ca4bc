// Album list files through the real program and the system's open and save
// dialogs, driven as a user works with them: names typed into the dialog's
// name box with the keyboard, a file double-clicked in its list, questions
// answered with the dialog's buttons.
//
// - The dialogs start in the user's documents, then in the folder of the
//   list last chosen, and a shorter name chosen after a longer one reaches
//   the file chosen.
// - A file that is not an album list (a README, a picture), a file that
//   cannot be read and a file that cannot be written each give a message
//   naming the file; the album list stays as it was.
// - A title and a description with the characters the list file uses
//   ("|", "^", "\") come back after Save and Open exactly as typed.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4: the
// key is removed before and after each run so the program starts on its
// defaults. With VELMO_E2E_SHOTS='Z:\tmp\shots' every message is saved as a
// screenshot.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Driver.h"
#include "RoadRun.h"
#include "app/AlbumTestFiles.h"
#include "support/TestSupport.h"

using namespace e2e;
using albumtest::FileExists;
using albumtest::ReadBytes;

namespace {

const wchar_t kCaption[] = L"Velmo Morvane";

std::wstring Lower(std::wstring S)
{
    for (auto& c : S) c = static_cast<wchar_t>(::towlower(c));
    return S;
}

std::wstring WithoutBackslash(std::wstring Path)
{
    while (Path.size() > 3 && Path.back() == L'\\') Path.pop_back();
    return Path;
}

bool SameFolder(const std::wstring& A, const std::wstring& B)
{
    return Lower(WithoutBackslash(A)) == Lower(WithoutBackslash(B));
}

std::wstring DocumentsFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return path;
}

// A user's keyboard: Text typed as characters, then Enter.
void RealTypeAndEnter(const std::wstring& Text)
{
    std::vector<INPUT> keys;
    for (wchar_t c : Text)
        for (DWORD up : {0ul, static_cast<DWORD>(KEYEVENTF_KEYUP)}) {
            INPUT in{};
            in.type = INPUT_KEYBOARD;
            in.ki.wScan = c;
            in.ki.dwFlags = KEYEVENTF_UNICODE | up;
            keys.push_back(in);
        }
    for (DWORD up : {0ul, static_cast<DWORD>(KEYEVENTF_KEYUP)}) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = VK_RETURN;
        in.ki.dwFlags = up;
        keys.push_back(in);
    }
    ::SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
}

POINT Centre(const RECT& R) { return POINT{(R.left + R.right) / 2, (R.top + R.bottom) / 2}; }

struct TChildSearch {
    std::wstring Class;
    HWND Found = nullptr;
};

BOOL CALLBACK FindChild(HWND Wnd, LPARAM Param)
{
    auto* s = reinterpret_cast<TChildSearch*>(Param);
    wchar_t cls[64] = {};
    ::GetClassNameW(Wnd, cls, 64);
    if (s->Class == cls && ::IsWindowVisible(Wnd)) {
        s->Found = Wnd;
        return FALSE;
    }
    return TRUE;
}

class VelmoListFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        work_ = L"C:\\velmo-lists-" + std::to_wstring(::GetCurrentProcessId());
        testsupport::RemoveTree(work_);
        ::CreateDirectoryW(work_.c_str(), nullptr);
        const std::wstring photos = work_ + L"\\holiday photos";
        ::CreateDirectoryW(photos.c_str(), nullptr);
        const std::wstring fixtures = testsupport::FixtureDir(L"e2e");
        for (const wchar_t* name : {L"o1-large.jpg", L"o6-portrait.jpg", L"o8-landscape.jpg"})
            ::CopyFileW((fixtures + L"\\photos\\" + name).c_str(), (photos + L"\\" + name).c_str(), FALSE);
    }

    static void TearDownTestSuite() { testsupport::RemoveTree(work_); }

    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
    }

    HWND Control(const wchar_t* Name) { return run_.Control(Name); }

    // The three photos of the work folder, added through the folder tree
    // and "Add all".
    void AddPhotos()
    {
        HWND tree = Control(L"FTree"), files = Control(L"LV1"), album = Control(L"LV2");
        ASSERT_TRUE(tree && files && album);
        std::wstring trail;
        ASSERT_TRUE(TreeSelectPath(app.Process(), tree, work_ + L"\\holiday photos", trail)) << Utf8(trail);
        ASSERT_TRUE(WaitUntil([&] { return ListCount(files) == 3; }, 15000)) << "files: " << ListCount(files);
        ASSERT_TRUE(app.Click(L"btnAddAll"));
        ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 3; }, 10000)) << "rows: " << ListCount(album);
    }

    std::vector<std::wstring> Rows()
    {
        HWND album = Control(L"LV2");
        std::vector<std::wstring> rows;
        for (int i = 0, n = ListCount(album); i < n; ++i) rows.push_back(ListItemText(app.Process(), album, i));
        return rows;
    }

    // The program's open or save dialog, once it shows its name box and
    // its list of files.
    struct TFileDialog {
        HWND Wnd = nullptr;
        HWND Name = nullptr;
    };
    TFileDialog WaitFileDialog()
    {
        TFileDialog found;
        WaitUntil(
            [&] {
                for (const TDialog& d : Dialogs(app.Pid())) {
                    if (d.Caption == kCaption) continue;
                    HWND name = ::GetDlgItem(d.Wnd, 0x47C);  // the name box, a combo box
                    if (!name) name = ::GetDlgItem(d.Wnd, 0x480);
                    if (name && FileList(d.Wnd)) found = TFileDialog{d.Wnd, name};
                }
                return found.Wnd != nullptr;
            },
            15000);
        EXPECT_NE(found.Wnd, nullptr) << "no file dialog with a name box and a file list";
        // Let it finish painting (for the screenshots).
        ::Sleep(300);
        return found;
    }

    // The dialog's list of files (a new one for every folder it shows).
    static HWND FileList(HWND Dialog)
    {
        TChildSearch list{L"SysListView32"};
        ::EnumChildWindows(Dialog, FindChild, reinterpret_cast<LPARAM>(&list));
        return list.Found;
    }

    // The folder the dialog shows.
    std::wstring DialogFolder(const TFileDialog& Dialog)
    {
        TRemoteBuffer buffer(app.Process(), MAX_PATH * sizeof(wchar_t));
        const LRESULT n = ::SendMessageW(Dialog.Wnd, CDM_GETFOLDERPATH, MAX_PATH, buffer.Address());
        if (n <= 1) return {};
        std::wstring path(static_cast<std::size_t>(n), L'\0');
        buffer.Read(path.data(), path.size() * sizeof(wchar_t));
        path.resize(path.find(L'\0') == std::wstring::npos ? path.size() : path.find(L'\0'));
        return path;
    }

    // Clicks into the name box and types Name and Enter, as a user does.
    void TypeIntoDialog(const TFileDialog& Dialog, const std::wstring& Name)
    {
        ::SetForegroundWindow(Dialog.Wnd);
        SetText(Dialog.Name, L"");
        HWND edit = ::FindWindowExW(Dialog.Name, nullptr, L"Edit", nullptr);
        RECT box{};
        ::GetWindowRect(edit ? edit : Dialog.Name, &box);
        const POINT at = Centre(box);
        RealMouse(at);
        RealMouse(at, MOUSEEVENTF_LEFTDOWN);
        RealMouse(at, MOUSEEVENTF_LEFTUP);
        ::Sleep(200);
        RealTypeAndEnter(Name);
    }

    // Double-clicks the file Name in the dialog's list.
    bool DoubleClickInDialog(const TFileDialog& Dialog, const std::wstring& Name)
    {
        int index = -1;
        HWND files = nullptr;
        WaitUntil(
            [&] {
                files = FileList(Dialog.Wnd);
                index = files ? ListFind(app.Process(), files, Name) : -1;
                if (files && index < 0) index = ListFind(app.Process(), files, Name.substr(0, Name.rfind(L'.')));
                return index >= 0;
            },
            10000);
        if (index < 0) return false;
        ::SetForegroundWindow(Dialog.Wnd);
        ::SendMessageW(files, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
        const POINT at = Centre(ListItemRect(app.Process(), files, index));
        RealMouse(at);
        for (DWORD button : {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP})
            RealMouse(at, button);
        return true;
    }

    bool DialogGone(HWND Dialog)
    {
        return WaitUntil([&] { return !::IsWindow(Dialog) || !::IsWindowVisible(Dialog); }, 10000);
    }

    // Answers the program's message boxes with OK: waits up to 20 s for
    // Expected of them, then until none came for two seconds; returns their
    // texts (each saved as screenshot Shot-n).
    std::vector<std::wstring> Messages(const std::wstring& Shot, std::size_t Expected = 0)
    {
        std::vector<std::wstring> seen;
        ULONGLONG quietSince = ::GetTickCount64();
        const ULONGLONG end = quietSince + 20000;
        WaitUntil(
            [&] {
                for (const TDialog& d : Dialogs(app.Pid())) {
                    if (d.Caption != kCaption || !::IsWindowVisible(d.Wnd)) continue;
                    seen.push_back(d.Text);
                    ::Sleep(300);
                    Screenshot(Shot + L"-" + std::to_wstring(seen.size()));
                    PressButton(d.Wnd, IDOK);
                    WaitUntil([&] { return !::IsWindow(d.Wnd) || !::IsWindowVisible(d.Wnd); }, 5000);
                    quietSince = ::GetTickCount64();
                }
                const ULONGLONG now = ::GetTickCount64();
                return (seen.size() >= Expected || now > end) && now - quietSince > 2000;
            },
            60000);
        return seen;
    }

    // Waits until the album list shows Expected (the list fills some time
    // after the dialog closes).
    bool RowsAre(const std::vector<std::wstring>& Expected)
    {
        return WaitUntil([&] { return Rows() == Expected; }, 10000);
    }

    // Opens File through the open dialog, its name typed as a user does.
    void OpenList(const std::wstring& File)
    {
        ASSERT_TRUE(app.PostClick(L"btnOpen"));
        TFileDialog dialog = WaitFileDialog();
        ASSERT_TRUE(dialog.Wnd);
        TypeIntoDialog(dialog, File);
        ASSERT_TRUE(DialogGone(dialog.Wnd));
    }

    static std::string Joined(const std::vector<std::wstring>& Texts)
    {
        std::string s;
        for (const auto& t : Texts) s += "[" + Utf8(t) + "] ";
        return s;
    }

    TRoadRun run_;
    TProgram& app = run_.app;
    static std::wstring work_;
};

std::wstring VelmoListFiles::work_;

// Save into a folder under a long name, then elsewhere under a short one;
// Open the long one, then double-click the short one: each time the file
// chosen is the file used, with no message. The first dialog starts in the
// documents, every later one in the folder of the list chosen last.
TEST_F(VelmoListFiles, OpenAndSaveReachTheChosenFileAfterALongerName)
{
    AddPhotos();
    const std::vector<std::wstring> rows = Rows();
    const std::wstring longer = work_ + L"\\holiday photos\\longer_list_name.alb";
    const std::wstring shorter = work_ + L"\\s2.alb";

    ASSERT_TRUE(app.PostClick(L"btnSave"));
    TFileDialog dialog = WaitFileDialog();
    ASSERT_TRUE(dialog.Wnd);
    EXPECT_TRUE(SameFolder(DialogFolder(dialog), DocumentsFolder()))
        << "the first save dialog starts in " << Utf8(DialogFolder(dialog)) << ", not in the documents "
        << Utf8(DocumentsFolder());
    Screenshot(L"lists-01-save-dialog");
    TypeIntoDialog(dialog, longer);
    ASSERT_TRUE(DialogGone(dialog.Wnd));
    EXPECT_TRUE(WaitUntil([&] { return FileExists(longer); }, 10000)) << "not saved as " << Utf8(longer);
    EXPECT_EQ(Joined(Messages(L"lists-02-save")), "");

    ASSERT_TRUE(app.PostClick(L"btnSave"));
    dialog = WaitFileDialog();
    ASSERT_TRUE(dialog.Wnd);
    EXPECT_TRUE(SameFolder(DialogFolder(dialog), work_ + L"\\holiday photos"))
        << "the save dialog starts in " << Utf8(DialogFolder(dialog));
    TypeIntoDialog(dialog, shorter);
    ASSERT_TRUE(DialogGone(dialog.Wnd));
    EXPECT_TRUE(WaitUntil([&] { return FileExists(shorter); }, 10000)) << "not saved as " << Utf8(shorter);
    EXPECT_EQ(Joined(Messages(L"lists-03-save")), "");
    EXPECT_EQ(ReadBytes(shorter), ReadBytes(longer));

    ASSERT_TRUE(app.Click(L"btnRemoveAll"));
    ASSERT_TRUE(app.PostClick(L"btnOpen"));
    dialog = WaitFileDialog();
    ASSERT_TRUE(dialog.Wnd);
    EXPECT_TRUE(SameFolder(DialogFolder(dialog), work_)) << "the open dialog starts in " << Utf8(DialogFolder(dialog));
    TypeIntoDialog(dialog, longer);
    ASSERT_TRUE(DialogGone(dialog.Wnd));
    EXPECT_EQ(Joined(Messages(L"lists-04-open")), "");
    EXPECT_TRUE(RowsAre(rows));

    ASSERT_TRUE(app.Click(L"btnRemoveAll"));
    ASSERT_TRUE(app.PostClick(L"btnOpen"));
    dialog = WaitFileDialog();
    ASSERT_TRUE(dialog.Wnd);
    EXPECT_TRUE(SameFolder(DialogFolder(dialog), work_ + L"\\holiday photos"))
        << "the open dialog starts in " << Utf8(DialogFolder(dialog));
    // Up into the work folder by its name, then the short list's double click.
    TypeIntoDialog(dialog, work_);
    ASSERT_TRUE(WaitUntil([&] { return SameFolder(DialogFolder(dialog), work_); }, 10000))
        << "the dialog did not go to " << Utf8(work_);
    ASSERT_TRUE(DoubleClickInDialog(dialog, L"s2.alb")) << "s2.alb is not listed in the dialog";
    ASSERT_TRUE(DialogGone(dialog.Wnd));
    EXPECT_EQ(Joined(Messages(L"lists-05-open")), "");
    EXPECT_TRUE(RowsAre(rows));
}

// Files that are no album list, or cannot be read or written: a message
// names the file and what to do, and the album list stays as it was.
TEST_F(VelmoListFiles, AFileThatIsNoAlbumListLeavesTheListAsItWas)
{
    AddPhotos();
    const std::vector<std::wstring> rows = Rows();

    const std::wstring readme = work_ + L"\\README.md";
    ASSERT_TRUE(::CopyFileW((testsupport::FixtureDir(L"e2e") + L"\\..\\..\\..\\README.md").c_str(), readme.c_str(),
                            FALSE));
    const std::wstring picture = work_ + L"\\holiday photos\\o1-large.jpg";
    const std::wstring locked = work_ + L"\\locked.alb";
    albumtest::WriteBytes(locked, "C:\\a.jpg|0||||a||\r\n");

    struct Case {
        const wchar_t* shot;
        std::wstring file;
        const wchar_t* says;
    };
    const Case cases[] = {
        {L"lists-10-readme", readme, L"is not an album list"},
        {L"lists-11-picture", picture, L"is not an album list"},
        {L"lists-12-locked", locked, L"could not be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.file));
        // Another program holds the locked file open without sharing it.
        HANDLE hold = c.file == locked ? ::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                                       nullptr)
                                       : INVALID_HANDLE_VALUE;
        ASSERT_TRUE(app.PostClick(L"btnOpen"));
        TFileDialog dialog = WaitFileDialog();
        ASSERT_TRUE(dialog.Wnd);
        TypeIntoDialog(dialog, c.file);
        ASSERT_TRUE(DialogGone(dialog.Wnd));
        const std::vector<std::wstring> messages = Messages(c.shot, 1);
        if (hold != INVALID_HANDLE_VALUE) ::CloseHandle(hold);
        ASSERT_EQ(messages.size(), 1u) << Joined(messages);
        EXPECT_NE(messages[0].find(L"\"" + c.file + L"\" " + c.says), std::wstring::npos) << Utf8(messages[0]);
        EXPECT_NE(messages[0].find(L"unchanged"), std::wstring::npos) << Utf8(messages[0]);
        EXPECT_EQ(Rows(), rows) << "the album list changed";
    }

    // Saving over the locked list: the dialog asks, then the program says
    // it could not save, and the file keeps its text.
    HANDLE hold = ::CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(app.PostClick(L"btnSave"));
    TFileDialog dialog = WaitFileDialog();
    ASSERT_TRUE(dialog.Wnd);
    TypeIntoDialog(dialog, locked);
    TDialog question;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const TDialog& d : Dialogs(app.Pid()))
                if (d.Wnd != dialog.Wnd && ::GetDlgItem(d.Wnd, IDYES)) question = d;
            return question.Wnd != nullptr;
        },
        10000))
        << "no question about replacing the file";
    PressButton(question.Wnd, IDYES);
    ASSERT_TRUE(DialogGone(dialog.Wnd));
    const std::vector<std::wstring> messages = Messages(L"lists-13-locked-save", 1);
    ::CloseHandle(hold);
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    EXPECT_NE(messages[0].find(L"could not be saved as \"" + locked + L"\""), std::wstring::npos)
        << Utf8(messages[0]);
    EXPECT_EQ(ReadBytes(locked), "C:\\a.jpg|0||||a||\r\n");
    EXPECT_TRUE(RowsAre(rows));
}

// A title and a two-line description typed with "|", "^" and "\" come back
// after Save and Open as they were typed.
TEST_F(VelmoListFiles, TypedTitleAndDescriptionSurviveSaveAndOpen)
{
    AddPhotos();
    HWND album = Control(L"LV2"), title = Control(L"E_Title"), description = Control(L"E_Desc");
    ASSERT_TRUE(album && title && description);
    const std::wstring typedTitle = L"Sky | sea ^ 50\\50";
    const std::wstring typedDescription = L"line one\r\nline two | pipe ^ caret \\p";
    ListSelect(app.Process(), album, -1, false);
    ListSelect(app.Process(), album, 1, true);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(title) != 0; }, 5000));
    TypeText(title, typedTitle);
    TypeText(description, typedDescription);
    ASSERT_EQ(GetText(description), typedDescription);

    const std::wstring file = work_ + L"\\typed.alb";
    ASSERT_TRUE(app.PostClick(L"btnSave"));
    TFileDialog dialog = WaitFileDialog();
    ASSERT_TRUE(dialog.Wnd);
    TypeIntoDialog(dialog, file);
    ASSERT_TRUE(DialogGone(dialog.Wnd));
    ASSERT_TRUE(WaitUntil([&] { return FileExists(file); }, 10000));
    EXPECT_EQ(Joined(Messages(L"lists-20-save")), "");

    ASSERT_TRUE(app.Click(L"btnRemoveAll"));
    ASSERT_TRUE(app.PostClick(L"btnOpen"));
    dialog = WaitFileDialog();
    ASSERT_TRUE(dialog.Wnd);
    TypeIntoDialog(dialog, file);
    ASSERT_TRUE(DialogGone(dialog.Wnd));
    EXPECT_EQ(Joined(Messages(L"lists-21-open")), "");
    ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 3; }, 10000)) << "rows: " << ListCount(album);
    ListSelect(app.Process(), album, -1, false);
    ListSelect(app.Process(), album, 1, true);
    EXPECT_TRUE(WaitUntil([&] { return GetText(title) == typedTitle; }, 5000)) << Utf8(GetText(title));
    EXPECT_EQ(GetText(description), typedDescription) << ReadBytes(file);
}

// A list edited by hand, without the format line: its paths relative to
// the list and with "/", some of its pictures moved away. It opens whole,
// and one message names each missing picture once, the first fifteen by
// name and the rest as a number.
TEST_F(VelmoListFiles, OpeningAHandEditedListNamesItsMissingPicturesOnce)
{
    const std::wstring file = work_ + L"\\moved.alb";
    std::string bytes = "holiday photos/o1-large.jpg|0||||still here||\r\n|not a row|\r\n";
    for (int i = 0; i < 21; ++i) bytes += "moved/photo " + std::to_string(i) + ".jpg|0||||gone||\r\n";
    bytes += "moved/photo 0.jpg|90||||the same again||\r\n";
    albumtest::WriteBytes(file, bytes);

    OpenList(file);
    const std::vector<std::wstring> messages = Messages(L"lists-30-missing", 1);
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    const std::wstring& text = messages[0];
    EXPECT_NE(text.find(L"\"" + file + L"\" was opened"), std::wstring::npos) << Utf8(text);
    const auto count = [&](const std::wstring& Part) {
        std::size_t n = 0;
        for (std::size_t at = text.find(Part); at != std::wstring::npos; at = text.find(Part, at + 1)) ++n;
        return n;
    };
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(count(work_ + L"\\moved\\photo " + std::to_wstring(i) + L".jpg\r\n"), 1u) << i << Utf8(text);
    for (int i = 15; i < 21; ++i)
        EXPECT_EQ(count(L"\\photo " + std::to_wstring(i) + L".jpg"), 0u) << i << Utf8(text);
    EXPECT_EQ(count(L"and 6 more"), 1u) << Utf8(text);
    EXPECT_EQ(count(L"o1-large"), 0u) << Utf8(text);
    EXPECT_EQ(ListCount(Control(L"LV2")), 23);
    EXPECT_EQ(ListItemText(app.Process(), Control(L"LV2"), 0), work_ + L"\\holiday photos\\o1-large.jpg");
}

// A list of 100,000 rows: the window answers while the rows go in and shows
// them all at the end; Esc part-way puts the list of before back.
TEST_F(VelmoListFiles, ABigListOpensWithTheWindowAnswering)
{
    AddPhotos();
    const std::vector<std::wstring> before = Rows();
    constexpr int kRows = 100000;
    const std::wstring file = work_ + L"\\big.alb";
    std::string bytes = "Velmo Morvane album list 2\r\n";
    for (int i = 0; i < kRows; ++i)
        bytes += Utf8(before[static_cast<std::size_t>(i % 3)]) + "|0||||row " + std::to_string(i) + "||\r\n";
    albumtest::WriteBytes(file, bytes);
    HWND album = Control(L"LV2");

    OpenList(file);
    ASSERT_TRUE(WaitUntil([&] { const int n = ListCount(album); return n > 1000 && n < kRows; }, 60000))
        << "rows: " << ListCount(album);
    Screenshot(L"lists-31-opening");
    ::PostMessageW(album, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(album, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    EXPECT_TRUE(WaitUntil([&] { return Rows() == before; }, 20000)) << "rows: " << ListCount(album);
    EXPECT_EQ(Joined(Messages(L"lists-32-cancelled")), "");

    OpenList(file);
    int partial = 0, answered = 0;
    ULONGLONG slowest = 0;
    const bool all = WaitUntil(
        [&] {
            const int n = ListCount(album);
            const ULONGLONG start = ::GetTickCount64();
            DWORD_PTR result = 0;
            const bool ok = ::SendMessageTimeoutW(app.Main(), WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result) != 0;
            slowest = std::max(slowest, ::GetTickCount64() - start);
            if (n > 0 && n < kRows) {
                ++partial;
                if (ok) ++answered;
            }
            return n == kRows;
        },
        300000);
    EXPECT_TRUE(all) << "rows: " << ListCount(album);
    EXPECT_GT(partial, 2) << "the list was never seen filling";
    EXPECT_EQ(answered, partial);
    EXPECT_LT(slowest, 1000u);
    EXPECT_EQ(ListItemText(app.Process(), album, kRows - 1), before[(kRows - 1) % 3]);
    EXPECT_EQ(Joined(Messages(L"lists-33-opened")), "");
}

}  // namespace
