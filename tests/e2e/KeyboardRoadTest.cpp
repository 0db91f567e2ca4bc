// The real program's windows driven by the keyboard alone (keys through the
// platform's input queue), its window surviving a minimise, and the options
// dialog laid out for the longer texts of German and Russian.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4: the
// key is removed before and after each test so the program starts on its
// defaults.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "Driver.h"
#include "RoadRun.h"
#include "support/TestSupport.h"

using namespace e2e;
using testsupport::RemoveTree;

namespace {

void KeyEvent(WORD Key, bool Up)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = Key;
    in.ki.dwFlags = Up ? KEYEVENTF_KEYUP : 0;
    ::SendInput(1, &in, sizeof(INPUT));
}

// Key pressed and released while Modifiers are held.
void Press(WORD Key, std::initializer_list<WORD> Modifiers = {})
{
    for (WORD m : Modifiers) KeyEvent(m, false);
    KeyEvent(Key, false);
    KeyEvent(Key, true);
    for (WORD m : Modifiers) KeyEvent(m, true);
    ::Sleep(150);
}

// Text typed as characters.
void Type(const std::wstring& Text)
{
    for (wchar_t c : Text) {
        INPUT in[2]{};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wScan = in[1].ki.wScan = c;
        in[0].ki.dwFlags = KEYEVENTF_UNICODE;
        in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        ::SendInput(2, in, sizeof(INPUT));
    }
    ::Sleep(300);
}

// The window with the keyboard focus in Window's thread.
HWND Focused(HWND Window)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(Window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

// Presses Tab until Target has the focus; false after Limit presses.
bool TabTo(HWND Main, HWND Target, int Limit = 60)
{
    for (int i = 0; i < Limit; ++i) {
        if (Focused(Main) == Target) return true;
        Press(VK_TAB);
    }
    return Focused(Main) == Target;
}

// The character marked with "&" in a caption (0: none).
wchar_t Accelerator(const std::wstring& Caption)
{
    for (std::size_t i = 0; i + 1 < Caption.size(); ++i)
        if (Caption[i] == L'&' && Caption[i + 1] != L'&') return Caption[i + 1];
    return 0;
}

// Alt with the accelerator of Caption (a Latin letter or digit).
bool PressAccelerator(const std::wstring& Caption)
{
    const wchar_t a = Accelerator(Caption);
    if (!a) return false;
    const SHORT scan = ::VkKeyScanW(a);
    if (scan == -1) return false;
    Press(static_cast<WORD>(LOBYTE(scan)), {VK_MENU});
    return true;
}

RECT WindowRect(HWND Wnd)
{
    RECT r{};
    ::GetWindowRect(Wnd, &r);
    return r;
}

int Width(HWND Wnd)
{
    const RECT r = WindowRect(Wnd);
    return r.right - r.left;
}

// The window of component Name of the form whose window is Form.
HWND FormControl(HWND Form, const std::wstring& Name)
{
    static const UINT findMessage = ::RegisterWindowMessageW(L"VelmoFindControl");
    const ATOM atom = ::GlobalAddAtomW(Name.c_str());
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(Form, findMessage, atom, 0, SMTO_ABORTIFHUNG, 10000, &result);
    ::GlobalDeleteAtom(atom);
    return reinterpret_cast<HWND>(result);
}

// The width of Text in the dialogs' font (Tahoma, 11 pixels), accelerator
// mark left out.
int TextWidth(std::wstring Text)
{
    Text.erase(std::remove(Text.begin(), Text.end(), L'&'), Text.end());
    HFONT font = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, Text.c_str(), static_cast<int>(Text.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    ::DeleteObject(font);
    return size.cx;
}

class KeyboardRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        work_ = L"C:\\velmo-e2e-keys-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(work_);
        ::CreateDirectoryW(work_.c_str(), nullptr);
        ::CreateDirectoryW((work_ + L"\\pick").c_str(), nullptr);
        const std::wstring from = testsupport::FixtureDir(L"e2e") + L"\\photos";
        const std::wstring to = work_ + L"\\pick\\photos";
        ::CreateDirectoryW(to.c_str(), nullptr);
        for (const wchar_t* f : {L"o1-large.jpg", L"o8-landscape.jpg"})
            ::CopyFileW((from + L"\\" + f).c_str(), (to + L"\\" + f).c_str(), FALSE);
    }
    static void TearDownTestSuite() { RemoveTree(work_); }

    void Start()
    {
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
        ::SetForegroundWindow(app.Main());
        ::Sleep(500);
    }

    HWND Control(const wchar_t* Name) { return run_.Control(Name); }

    HWND OptionsWindow(DWORD TimeoutMs)
    {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                const auto windows = TopWindows(app.Pid(), L"TfrmOptions");
                found = windows.empty() ? nullptr : windows.front();
                return found != nullptr;
            },
            TimeoutMs);
        return found;
    }

    TRoadRun run_{TBrowser::Quiet};
    TProgram& app = run_.app;
    static std::wstring work_;
};

std::wstring KeyboardRoad::work_;

// A whole album with the keyboard: Tab to the folder tree, arrows into the
// folder, Tab to the file list, a picture picked and added with Alt, Tab on
// to the name and folder fields, Start by its accelerator, the closing
// message confirmed with Enter. The tree starts on the folder above the
// pictures (chosen by the driver).
TEST_F(KeyboardRoad, AlbumBuiltWithTheKeyboardAlone)
{
    Start();
    HWND main = app.Main();
    HWND tree = Control(L"FTree");
    HWND files = Control(L"LV1");
    HWND album = Control(L"LV2");
    std::wstring trail;
    ASSERT_TRUE(TreeSelectPath(app.Process(), tree, work_ + L"\\pick", trail)) << Utf8(trail);
    ::SetForegroundWindow(main);

    ASSERT_TRUE(TabTo(main, tree)) << "Tab never reaches the folder tree";
    Press(VK_RIGHT);  // open the folder
    Press(VK_DOWN);   // its only subfolder
    ASSERT_TRUE(WaitUntil([&] { return ListCount(files) == 2; }, 15000)) << "the file list shows " << ListCount(files);

    ASSERT_TRUE(TabTo(main, files)) << "Tab does not leave the folder tree for the file list";
    Press(VK_HOME);
    Press(VK_SPACE);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(Control(L"btnAdd")) != 0; }, 5000));
    const std::wstring add = GetText(Control(L"btnAdd"));
    ASSERT_TRUE(PressAccelerator(add)) << "no accelerator on " << Utf8(add);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 1; }, 10000)) << "Alt+letter did not add the picture";
    // The whole folder with the other add button's accelerator.
    ASSERT_TRUE(PressAccelerator(GetText(Control(L"btnAddAll"))));
    ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 2; }, 10000));

    const std::wstring out = work_ + L"\\out";
    ::CreateDirectoryW(out.c_str(), nullptr);
    ASSERT_TRUE(TabTo(main, Control(L"EAlbName"))) << "Tab never reaches the album name";
    Press(VK_HOME);
    Press(VK_END, {VK_SHIFT});
    Type(L"Keys");
    EXPECT_EQ(GetText(Control(L"EAlbName")), L"Keys");
    ASSERT_TRUE(TabTo(main, Control(L"EAlbDir"))) << "Tab never reaches the album folder";
    Press(VK_HOME);
    Press(VK_END, {VK_SHIFT});
    Type(out);
    EXPECT_EQ(GetText(Control(L"EAlbDir")), out);
    // Shift+Tab goes back.
    Press(VK_TAB, {VK_SHIFT});
    EXPECT_EQ(Focused(main), Control(L"EAlbName"));

    const std::wstring start = GetText(Control(L"btnStart"));
    ASSERT_TRUE(PressAccelerator(start)) << "no accelerator on " << Utf8(start);
    TDialog message;
    ASSERT_TRUE(WaitForDialog(app.Pid(), L"", 120000, message)) << "the build said nothing";
    ::Sleep(300);
    Screenshot(L"keyboard-build-done");
    EXPECT_NE(message.Text.find(L"successfully"), std::wstring::npos) << Utf8(message.Text);
    ::SetForegroundWindow(message.Wnd);
    Press(VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(message.Wnd) || !::IsWindowVisible(message.Wnd); }, 5000))
        << "Enter did not confirm the message";
    EXPECT_NE(::GetFileAttributesW((out + L"\\Keys\\index.html").c_str()), INVALID_FILE_ATTRIBUTES);
    ::Sleep(300);
    Screenshot(L"keyboard-build-main");
}

// Tab walks the whole options dialog (not only its tab strip), labels focus
// their fields with Alt, the accelerators of a window differ from each other.
TEST_F(KeyboardRoad, OptionsDialogTabsThroughEveryField)
{
    Start();
    HWND main = app.Main();
    const std::wstring options = GetText(Control(L"btnAdv"));
    ASSERT_TRUE(PressAccelerator(options)) << "no accelerator on " << Utf8(options);
    HWND dialog = OptionsWindow(10000);
    ASSERT_NE(dialog, nullptr) << "Alt+letter did not open the options";
    ::Sleep(500);
    std::set<HWND> visited;
    for (int i = 0; i < 30; ++i) {
        visited.insert(Focused(dialog));
        Press(VK_TAB);
    }
    for (const wchar_t* name : {L"ThSize", L"ImSize", L"EColumns", L"ERows", L"CBResize", L"E_indx", L"btnOK",
                                L"btnCancel", L"colBackgr2"})
        EXPECT_TRUE(visited.count(FormControl(dialog, name))) << Utf8(name) << " is never reached with Tab";

    std::set<wchar_t> letters;
    for (const wchar_t* name : {L"btnOK", L"btnCancel", L"CBResize"}) {
        const wchar_t a = static_cast<wchar_t>(::towupper(Accelerator(GetText(FormControl(dialog, name)))));
        EXPECT_NE(a, 0) << Utf8(name);
        EXPECT_TRUE(letters.insert(a).second) << Utf8(name) << " shares its accelerator";
    }
    // Esc closes the dialog; the main window's buttons differ as well.
    Press(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindowVisible(dialog); }, 5000));
    letters.clear();
    for (const wchar_t* name : {L"btnAdd", L"btnAddAll", L"btnOpen", L"btnSave", L"btnRemove", L"btnRemoveAll",
                                L"btnAdv", L"btnStart", L"btnCancel", L"ChB1", L"ChB2"}) {
        const wchar_t a = static_cast<wchar_t>(::towupper(Accelerator(GetText(Control(name)))));
        EXPECT_NE(a, 0) << Utf8(name);
        EXPECT_TRUE(letters.insert(a).second) << Utf8(name) << " shares its accelerator";
    }
    (void)main;
}

// Minimise and restore: every pane comes back with the size it had, and
// the size stored at a close while minimised is the restored one.
TEST_F(KeyboardRoad, MinimiseAndRestoreKeepTheLayout)
{
    Start();
    HWND main = app.Main();
    const wchar_t* panes[] = {L"FTree", L"LV1", L"LV2", L"E_Desc", L"EAlbDir"};
    std::vector<int> before;
    for (const wchar_t* p : panes) before.push_back(Width(Control(p)));
    const RECT frame = WindowRect(main);

    for (int round = 0; round < 2; ++round) {
        ::ShowWindow(main, SW_MINIMIZE);
        ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(main) != 0; }, 5000));
        ::Sleep(500);
        ::ShowWindow(main, SW_RESTORE);
        ASSERT_TRUE(WaitUntil([&] { return !::IsIconic(main); }, 5000));
        ::Sleep(800);
        for (std::size_t i = 0; i < std::size(panes); ++i)
            EXPECT_NEAR(Width(Control(panes[i])), before[i], 2) << Utf8(panes[i]) << " after restore " << round;
    }
    Screenshot(L"main-restored");

    ::ShowWindow(main, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return ::IsIconic(main) != 0; }, 5000));
    ASSERT_TRUE(app.Close(IDNO, 20000));
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD w = 0, h = 0, size = sizeof(DWORD);
    ::RegQueryValueExW(key, L"W", nullptr, nullptr, reinterpret_cast<BYTE*>(&w), &size);
    size = sizeof(DWORD);
    ::RegQueryValueExW(key, L"H", nullptr, nullptr, reinterpret_cast<BYTE*>(&h), &size);
    ::RegCloseKey(key);
    EXPECT_EQ(static_cast<int>(w), frame.right - frame.left);
    EXPECT_EQ(static_cast<int>(h), frame.bottom - frame.top);
}

// In German and in Russian the options dialog gives every label and the
// check box the width of its text: the number fields stand right of their
// labels, the check box shows its whole text, the dialog fits the screen.
TEST_F(KeyboardRoad, OptionsLabelsFitEveryLanguage)
{
    const struct {
        const wchar_t* Item;
        const wchar_t* File;
        const wchar_t* Shot;
    } languages[] = {{L"German", L"Morvane_Ger.txt", L"german"}, {L"Russian", L"Morvane_Rus.txt", L"russian"}};
    Start();
    for (const auto& l : languages) {
        SCOPED_TRACE(Utf8(l.File));
        ASSERT_TRUE(app.Click(l.Item)) << "no language item " << Utf8(l.Item);
        ::Sleep(800);
        Screenshot(std::wstring(L"main-") + l.Shot);
        ASSERT_TRUE(app.PostClick(L"btnAdv"));
        HWND dialog = OptionsWindow(10000);
        ASSERT_NE(dialog, nullptr);
        ::Sleep(800);
        Screenshot(std::wstring(L"options-") + l.Shot);
        const struct {
            const wchar_t* Key;
            const wchar_t* Field;
        } rows[] = {{L"msgThumbSize", L"ThSize"}, {L"msgImageSize", L"ImSize"}, {L"msgColumns", L"EColumns"},
                    {L"msgRows", L"ERows"}};
        HWND group = FormControl(dialog, L"GrHTML");
        ASSERT_NE(group, nullptr);
        for (const auto& r : rows) {
            const std::wstring text = TranslationText(l.File, r.Key);
            ASSERT_FALSE(text.empty()) << Utf8(r.Key);
            HWND field = FormControl(dialog, r.Field);
            const int labelRight = WindowRect(group).left + 12 + TextWidth(text);
            EXPECT_LE(labelRight, WindowRect(field).left) << Utf8(r.Key) << " runs under its field";
        }
        HWND check = FormControl(dialog, L"CBResize");
        const std::wstring resize = TranslationText(l.File, L"msgResizeCopies");
        EXPECT_LE(TextWidth(resize) + 16, Width(check)) << "the check box cuts its text";
        const RECT d = WindowRect(dialog);
        EXPECT_LE(d.right - d.left, ::GetSystemMetrics(SM_CXSCREEN));
        Press(VK_ESCAPE);
        WaitUntil([&] { return !::IsWindowVisible(dialog); }, 5000);
    }
}

}  // namespace
