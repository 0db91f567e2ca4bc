// The album build as a user meets it in the real program: the Start button
// with an empty list, album names Windows does not allow, Esc pressed with
// the focus in different places (and at the overwrite question) while a
// build of many large photos runs, and a photo whose file ends halfway.
// Keys and clicks are real input (the platform's input queue), so they take
// the way a user's keys take: to whatever window has the focus.
//
// A cancelled build must say so and leave the album folder as it was; an
// incomplete photo must be named in the closing message.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Driver.h"
#include "RoadRun.h"
#include "app/AlbumTestFiles.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "support/TestSupport.h"

using namespace e2e;
using albumtest::ReadBytes;
using testsupport::RemoveTree;

namespace {

const wchar_t kCaption[] = L"Velmo Morvane";
const wchar_t kSucceeded[] = L"successfully";
const wchar_t kCancelled[] = L"cancelled";
// Photos of the slow folder: enough large pictures that a build takes
// seconds, so that a key pressed during it arrives while it runs.
constexpr int kSlowPhotos = 40;

// The files and folders below Folder (relative names, folders with a
// trailing backslash), sorted.
std::vector<std::wstring> Listing(const std::wstring& Folder, const std::wstring& Prefix = L"")
{
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((Folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(Prefix + name + L"\\");
            for (auto& f : Listing(Folder + L"\\" + name, Prefix + name + L"\\")) out.push_back(f);
        } else {
            out.push_back(Prefix + name);
        }
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
    std::sort(out.begin(), out.end());
    return out;
}

std::string Joined(const std::vector<std::wstring>& Texts)
{
    std::string s;
    for (const auto& t : Texts) s += "[" + Utf8(t) + "] ";
    return s;
}

// A key pressed and released through the platform's input queue.
void RealKey(WORD Key)
{
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_KEYBOARD;
    in[0].ki.wVk = in[1].ki.wVk = Key;
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, in, sizeof(INPUT));
}

// A left click through the platform's input queue at the centre of Wnd.
void RealClick(HWND Wnd)
{
    RECT r{};
    ::GetWindowRect(Wnd, &r);
    const POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    RealMouse(at);
    RealMouse(at, MOUSEEVENTF_LEFTDOWN);
    RealMouse(at, MOUSEEVENTF_LEFTUP);
}

// A camera-sized picture with smooth gradients and fine stripes (so that
// decoding, fitting and encoding take real time), saved as JPEG.
void WriteLargePhoto(const std::wstring& FileName)
{
    imaging::TPxBitmap bitmap;
    const int w = 2400, h = 1600;
    ASSERT_TRUE(bitmap.Allocate(w, h, imaging::px24RGB));
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < w; ++x) {
            row[x * 3 + 0] = static_cast<uint8_t>(x * 255 / w);
            row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / h);
            row[x * 3 + 2] = static_cast<uint8_t>(((x / 3 + y / 5) % 2) ? 200 : 60);
        }
    }
    std::unique_ptr<imaging::TImgIO> io = imaging::TImgIO::CreateForBitmap(&bitmap);
    io->FileParams->JPEGQuality = 90;
    io->SaveJPEGToFile(FileName);
    ASSERT_FALSE(io->AbortFlag);
}

class AlbumBuildRoad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        imaging::PxInitialize();
        work_ = L"C:\\velmo-e2e-build-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(work_);
        ::CreateDirectoryW(work_.c_str(), nullptr);
        const std::wstring fixtures = testsupport::FixtureDir(L"e2e");
        ::CreateDirectoryW((work_ + L"\\cut").c_str(), nullptr);
        for (const auto& f : Listing(fixtures + L"\\cut"))
            ::CopyFileW((fixtures + L"\\cut\\" + f).c_str(), (work_ + L"\\cut\\" + f).c_str(), FALSE);
        const std::wstring slow = work_ + L"\\slow";
        ::CreateDirectoryW(slow.c_str(), nullptr);
        WriteLargePhoto(slow + L"\\p01.jpg");
        for (int i = 2; i <= kSlowPhotos; ++i) {
            wchar_t name[32];
            ::swprintf(name, 32, L"\\p%02d.jpg", i);
            ::CopyFileW((slow + L"\\p01.jpg").c_str(), (slow + name).c_str(), FALSE);
        }
    }

    static void TearDownTestSuite() { RemoveTree(work_); }

    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
    }

    HWND Control(const wchar_t* Name) { return run_.Control(Name); }

    // Chooses Folder in the folder tree, waits for its Count files and adds
    // them all to the album list.
    void AddFolder(const std::wstring& Folder, int Count)
    {
        HWND tree = Control(L"FTree");
        HWND list = Control(L"LV1");
        ASSERT_TRUE(tree && list);
        std::wstring trail;
        ASSERT_TRUE(TreeSelectPath(app.Process(), tree, Folder, trail)) << Utf8(trail);
        ASSERT_TRUE(WaitUntil([&] { return ListCount(list) == Count; }, 20000))
            << Utf8(Folder) << " lists " << ListCount(list) << " files, expected " << Count;
        ASSERT_TRUE(app.Click(L"btnAddAll"));
        ASSERT_TRUE(WaitUntil([&] { return ListCount(Control(L"LV2")) == Count; }, 10000));
    }

    // The album name and, as the album folder, a folder of this test's own.
    std::wstring SetAlbum(const std::wstring& Name)
    {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::wstring out = work_ + L"\\out-" + std::wstring(test.begin(), test.end());
        ::CreateDirectoryW(out.c_str(), nullptr);
        SetText(Control(L"EAlbName"), Name);
        SetText(Control(L"EAlbDir"), out);
        return out;
    }

    // Start clicked by the automation (the focus stays where it is); the
    // build is over when Start is enabled again.
    std::vector<std::wstring> Build(DWORD TimeoutMs)
    {
        EXPECT_TRUE(app.PostClick(L"btnStart"));
        WaitUntil([&] { return !::IsWindowEnabled(Control(L"btnStart")) || !Dialogs(app.Pid()).empty(); }, 10000);
        return run_.WaitBuildOver(TimeoutMs);
    }

    bool BuildRunning() { return !::IsWindowEnabled(Control(L"btnStart")) && Dialogs(app.Pid()).empty(); }

    TRoadRun run_{TBrowser::Quiet};
    TProgram& app = run_.app;
    static std::wstring work_;
};

std::wstring AlbumBuildRoad::work_;

TEST_F(AlbumBuildRoad, StartWaitsForPictures)
{
    HWND start = Control(L"btnStart");
    ASSERT_TRUE(start);
    EXPECT_FALSE(::IsWindowEnabled(start)) << "Start is enabled with an empty album list";
    EXPECT_FALSE(app.Click(L"btnStart"));
    EXPECT_TRUE(Dialogs(app.Pid()).empty());

    AddFolder(work_ + L"\\cut", 2);
    EXPECT_TRUE(::IsWindowEnabled(start)) << "Start stays disabled with pictures in the list";
    ASSERT_TRUE(app.Click(L"btnRemoveAll"));
    EXPECT_FALSE(::IsWindowEnabled(start)) << "Start is enabled after Remove all";
    ::Sleep(500);  // the buttons repainted
    Screenshot(L"start-empty-list");
}

// Every name Windows refuses for a folder is refused before anything is
// written, with a message that names the rule; a name with inner dots and
// spaces is fine.
TEST_F(AlbumBuildRoad, AlbumNamesFollowWindowsRules)
{
    AddFolder(work_ + L"\\cut", 2);
    struct TCase {
        const wchar_t* Name;
        const wchar_t* Rule;  // a phrase of the message
    };
    const TCase cases[] = {
        {L"Trip: PartOne", L": * ? \" < > |"},
        {L"A*D?E\"F<G>H|I:J", L": * ? \" < > |"},
        {L".", L"\".\" or \"..\""},
        {L"..", L"\".\" or \"..\""},
        {L"Summer.", L"end with a dot"},
        {L"Summer . .", L"end with a dot"},
        {L"CON", L"reserves"},
        {L"nul.txt", L"reserves"},
        {L"com1", L"reserves"},
        {L"LPT9", L"reserves"},
    };
    const std::wstring out = SetAlbum(L"Album");
    const std::vector<std::wstring> outBefore = Listing(out);
    const std::vector<std::wstring> workBefore = Listing(work_);
    for (const TCase& c : cases) {
        SCOPED_TRACE(Utf8(c.Name));
        SetAlbum(c.Name);
        const std::vector<std::wstring> messages = Build(30000);
        ASSERT_TRUE(app.Running());
        ASSERT_EQ(messages.size(), 1u) << Joined(messages);
        EXPECT_NE(messages[0].find(c.Rule), std::wstring::npos) << Joined(messages);
        EXPECT_EQ(messages[0].find(kSucceeded), std::wstring::npos) << Joined(messages);
        EXPECT_EQ(Listing(out), outBefore) << "something was written";
        EXPECT_EQ(Listing(work_), workBefore) << "something was written";
        EXPECT_TRUE(::IsWindowEnabled(Control(L"btnStart")));
    }

    SetAlbum(L"Trip v1.2 - day one");
    const std::vector<std::wstring> messages = Build(60000);
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    EXPECT_NE(messages[0].find(kSucceeded), std::wstring::npos) << Joined(messages);
    EXPECT_FALSE(ReadBytes(out + L"\\Trip v1.2 - day one\\index.html").empty());
}

// Esc while a build runs stops it, whichever control had the focus: the
// program says so and the album folder is as it was before the build (no
// album at all for a first build; the previous album, untouched, for a
// rebuild). At the overwrite question Esc answers No.
TEST_F(AlbumBuildRoad, EscStopsTheBuildWhereverTheFocusIs)
{
    AddFolder(work_ + L"\\slow", kSlowPhotos);
    const std::wstring out = SetAlbum(L"Slow");
    const std::wstring album = out + L"\\Slow";
    HWND main = app.Main();
    const std::vector<std::wstring> before = Listing(out);

    struct TFocus {
        const char* Where;
        std::function<void()> Start;
    };
    const TFocus starts[] = {
        {"Start clicked, Esc at once",
         [&] {
             ::SetForegroundWindow(main);
             RealClick(Control(L"btnStart"));
             RealKey(VK_ESCAPE);
         }},
        {"focus in the album list",
         [&] {
             ::SetForegroundWindow(main);
             RealMouse(POINT{0, 0});
             const RECT row = ListItemRect(app.Process(), Control(L"LV2"), 1);
             const POINT at{(row.left + row.right) / 2, (row.top + row.bottom) / 2};
             RealMouse(at);
             RealMouse(at, MOUSEEVENTF_LEFTDOWN);
             RealMouse(at, MOUSEEVENTF_LEFTUP);
             WaitUntil([&] { return ListSelectedCount(Control(L"LV2")) == 1; }, 5000);
             EXPECT_TRUE(app.PostClick(L"btnStart"));
             WaitUntil([&] { return BuildRunning(); }, 10000);
             RealKey(VK_ESCAPE);
         }},
        {"focus on the preview check box",
         [&] {
             ::SetForegroundWindow(main);
             RealClick(Control(L"ChB2"));
             RealClick(Control(L"ChB2"));
             EXPECT_TRUE(app.PostClick(L"btnStart"));
             WaitUntil([&] { return BuildRunning(); }, 10000);
             RealKey(VK_ESCAPE);
         }},
    };
    for (const TFocus& f : starts) {
        SCOPED_TRACE(f.Where);
        f.Start();
        const std::vector<std::wstring> messages = run_.WaitBuildOver(120000);
        ASSERT_TRUE(app.Running()) << "Esc closed the program";
        ASSERT_EQ(messages.size(), 1u) << Joined(messages);
        EXPECT_NE(messages[0].find(kCancelled), std::wstring::npos) << Joined(messages);
        EXPECT_EQ(Listing(out), before) << "a cancelled first build left files behind";
    }

    // A finished album, then a rebuild over it.
    std::vector<std::wstring> messages = Build(180000);
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    ASSERT_NE(messages[0].find(kSucceeded), std::wstring::npos) << Joined(messages);
    const std::vector<std::wstring> built = Listing(album);
    const std::string page = ReadBytes(album + L"\\index.html");
    ASSERT_FALSE(page.empty());
    const std::string firstImage = ReadBytes(album + L"\\Images\\p01.jpg");
    ASSERT_FALSE(firstImage.empty());
    // Every row turned: a rebuild writes other image files than these.
    ListSelect(app.Process(), Control(L"LV2"), -1, true);
    ASSERT_TRUE(app.Click(L"R2")) << "rotation refused";

    auto question = [&]() -> HWND {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                for (const TDialog& d : Dialogs(app.Pid()))
                    if (d.Caption == kCaption && d.Text.find(L"Overwrite") != std::wstring::npos) found = d.Wnd;
                return found != nullptr;
            },
            10000);
        return found;
    };

    // Esc as the answer to the overwrite question: nothing is built.
    ::SetForegroundWindow(main);
    RealClick(Control(L"btnStart"));
    HWND ask = question();
    ASSERT_TRUE(ask) << "no overwrite question";
    Screenshot(L"overwrite-question");
    ::SetForegroundWindow(ask);
    RealKey(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(ask) || !::IsWindowVisible(ask); }, 5000))
        << "Esc does not answer the overwrite question";
    messages = run_.WaitBuildOver(60000);
    EXPECT_TRUE(messages.empty()) << Joined(messages);
    EXPECT_EQ(Listing(album), built);
    EXPECT_EQ(ReadBytes(album + L"\\index.html"), page);

    // Yes with Enter, then Esc: the previous album stays as it was.
    ::SetForegroundWindow(main);
    RealClick(Control(L"btnStart"));
    ask = question();
    ASSERT_TRUE(ask) << "no overwrite question";
    ::SetForegroundWindow(ask);
    RealKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return BuildRunning(); }, 10000)) << "Enter did not answer Yes";
    RealKey(VK_ESCAPE);
    messages = run_.WaitBuildOver(120000);
    ASSERT_TRUE(app.Running());
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    EXPECT_NE(messages[0].find(kCancelled), std::wstring::npos) << Joined(messages);
    EXPECT_EQ(Listing(album), built) << "the cancelled rebuild changed the album";
    EXPECT_EQ(ReadBytes(album + L"\\index.html"), page);
    EXPECT_EQ(ReadBytes(album + L"\\Images\\p01.jpg"), firstImage);
    EXPECT_EQ(Listing(out).size(), built.size() + 1) << "something beside the album was left";
}

// A photo whose file ends halfway is published as far as it decodes, and
// the closing message names it.
TEST_F(AlbumBuildRoad, IncompletePhotoIsNamed)
{
    AddFolder(work_ + L"\\cut", 2);
    const std::wstring out = SetAlbum(L"Cut");
    const std::vector<std::wstring> messages = Build(60000);
    ASSERT_TRUE(app.Running());
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    const std::wstring named =
        work_ + L"\\cut\\b-half.jpg: the file ends before its image does; the picture is incomplete";
    EXPECT_NE(messages[0].find(named), std::wstring::npos) << Joined(messages);
    EXPECT_EQ(messages[0].find(L"a-good.jpg"), std::wstring::npos) << Joined(messages);
    const std::wstring album = out + L"\\Cut\\";
    const std::string page = ReadBytes(album + L"index.html");
    EXPECT_NE(page.find("Images/b-half.jpg"), std::string::npos);
    EXPECT_FALSE(ReadBytes(album + L"Images\\b-half.jpg").empty());
    EXPECT_FALSE(ReadBytes(album + L"Thumbnails\\tn_b-half.jpg").empty());
}

}  // namespace
