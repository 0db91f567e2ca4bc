// The real program told about every file it leaves out: "Add all" names
// the files it does not take (an empty one) and takes a picture whatever its
// extension says (a JPEG named ".png", and PNG files are listed at all);
// the end of a build with many photos that do not load names each once, in
// a message that fits on the screen.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4: the
// key is removed before and after each test so the program starts on its
// defaults. VELMO_E2E_EXE names another Velmo.exe to drive (a Windows path).
#include <windows.h>

#include <gtest/gtest.h>

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

std::size_t Occurrences(const std::wstring& Text, const std::wstring& Part)
{
    std::size_t n = 0;
    for (std::size_t at = Text.find(Part); at != std::wstring::npos; at = Text.find(Part, at + 1)) ++n;
    return n;
}

class SkippedFilesRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        work_ = L"C:\\velmo-e2e-skipped-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(work_);
        const std::wstring fixtures = testsupport::FixtureDir(L"e2e");
        const std::wstring jpeg = fixtures + L"\\photos\\o8-landscape.jpg";
        for (const wchar_t* folder : {L"", L"\\odd", L"\\many", L"\\out"})
            ::CreateDirectoryW((work_ + folder).c_str(), nullptr);
        ::CopyFileW(jpeg.c_str(), (work_ + L"\\odd\\good.jpg").c_str(), FALSE);
        ::CopyFileW(jpeg.c_str(), (work_ + L"\\odd\\jpeg-inside.png").c_str(), FALSE);
        ::CopyFileW((fixtures + L"\\photos\\plain-png.png").c_str(), (work_ + L"\\odd\\plain.png").c_str(), FALSE);
        std::ofstream((work_ + L"\\odd\\empty.jpg").c_str());
        ::CopyFileW(jpeg.c_str(), (work_ + L"\\many\\a-good.jpg").c_str(), FALSE);
        const std::wstring broken = fixtures + L"\\mixed\\b-broken.jpg";
        for (int i = 10; i < 100; ++i)
            ::CopyFileW(broken.c_str(), (work_ + L"\\many\\bad-" + std::to_wstring(i) + L".jpg").c_str(), FALSE);
    }
    static void TearDownTestSuite() { RemoveTree(work_); }

    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
        ::SetForegroundWindow(app.Main());
    }

    void ChooseFolder(const std::wstring& Folder, int Count)
    {
        HWND list = run_.Control(L"LV1");
        std::wstring trail;
        ASSERT_TRUE(TreeSelectPath(app.Process(), run_.Control(L"FTree"), Folder, trail)) << Utf8(trail);
        EXPECT_TRUE(WaitUntil([&] { return ListCount(list) == Count; }, 15000))
            << "the file list shows " << ListCount(list) << " files, expected " << Count;
    }

    TRoadRun run_{TBrowser::Quiet};
    TProgram& app = run_.app;
    static std::wstring work_;
};

std::wstring SkippedFilesRoad::work_;

// "All supported" lists the PNG files; "Add all" takes the JPEG named
// ".png" (read by its content) and names the empty file with its reason.
TEST_F(SkippedFilesRoad, AddAllNamesTheFileItLeavesOut)
{
    ChooseFolder(work_ + L"\\odd", 4);
    ASSERT_TRUE(app.PostClick(L"btnAddAll"));
    TDialog message;
    ASSERT_TRUE(WaitForDialog(app.Pid(), kCaption, 15000, message)) << "the empty file was left out without a word";
    EXPECT_EQ(Occurrences(message.Text, L"empty.jpg: "), 1u) << Utf8(message.Text);
    EXPECT_EQ(Occurrences(message.Text, L".png"), 0u) << Utf8(message.Text);
    PressButton(message.Wnd, IDOK);
    HWND album = run_.Control(L"LV2");
    EXPECT_TRUE(WaitUntil([&] { return ListCount(album) == 3; }, 5000)) << ListCount(album) << " rows";
    for (const wchar_t* name : {L"good.jpg", L"jpeg-inside.png", L"plain.png"})
        EXPECT_GE(ListFind(app.Process(), album, name), 0) << Utf8(name) << " was not added";
}

// Ninety photos that do not load: the build's closing message names each
// of them at most once, says how many more there are, and fits on the
// screen with its OK button.
TEST_F(SkippedFilesRoad, BuildReportOfManySkippedPhotosFitsTheScreen)
{
    ChooseFolder(work_ + L"\\many", 91);
    ASSERT_TRUE(app.Click(L"btnAddAll"));
    HWND album = run_.Control(L"LV2");
    ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 91; }, 15000)) << ListCount(album) << " rows";
    SetText(run_.Control(L"EAlbDir"), work_ + L"\\out\\");
    SetText(run_.Control(L"EAlbName"), L"Many");
    ASSERT_TRUE(app.PostClick(L"btnStart"));

    std::vector<std::wstring> texts;
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    WaitUntil(
        [&] {
            for (const TDialog& d : Dialogs(app.Pid())) {
                if (d.Caption != kCaption) continue;
                ::Sleep(300);
                Screenshot(L"skipped-report-" + std::to_wstring(texts.size()));
                texts.push_back(d.Text);
                RECT box{}, ok{};
                ::GetWindowRect(d.Wnd, &box);
                EXPECT_LE(box.bottom - box.top, screenHeight) << "the message is taller than the screen";
                HWND button = ::GetDlgItem(d.Wnd, IDOK);
                EXPECT_TRUE(button != nullptr);
                if (button) {
                    ::GetWindowRect(button, &ok);
                    EXPECT_GE(ok.top, 0);
                    EXPECT_LE(ok.bottom, screenHeight) << "the OK button is off the screen";
                }
                PressButton(d.Wnd, IDOK);
                WaitUntil([&] { return !::IsWindow(d.Wnd) || !::IsWindowVisible(d.Wnd); }, 5000);
            }
            return !texts.empty() && ::IsWindowEnabled(run_.Control(L"btnStart"));
        },
        120000);
    ASSERT_EQ(texts.size(), 1u) << "one message at the end of the build";
    const std::wstring& text = texts.front();
    EXPECT_NE(text.find(L"successfully"), std::wstring::npos) << Utf8(text);
    EXPECT_NE(text.find(L"Many"), std::wstring::npos) << "the album's folder is named: " << Utf8(text);
    std::size_t named = 0;
    for (int i = 10; i < 100; ++i) {
        const std::size_t n = Occurrences(text, L"bad-" + std::to_wstring(i) + L".jpg");
        EXPECT_LE(n, 1u) << "bad-" << i << ".jpg is named " << n << " times";
        named += n;
    }
    EXPECT_GE(named, 10u) << "the first of the skipped photos are named";
    EXPECT_NE(text.find(std::to_wstring(90 - named)), std::wstring::npos) << "the rest are counted: " << Utf8(text);
}

}  // namespace
