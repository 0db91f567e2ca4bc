// The real program builds an album whose album name, title, description and
// file name carry markup, quotes and characters that end a link's path; the
// page it writes must show them as typed and hold no markup made of them.
//
// Settings: the program's registry key is removed before and after each run
// so it starts on its defaults; the shell's browser for the finished album
// is pointed at a program that does nothing while the test runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Driver.h"
#include "RoadRun.h"
#include "app/AlbumTestFiles.h"
#include "support/TestSupport.h"

using namespace e2e;
using albumtest::ReadBytes;
using testsupport::RemoveTree;

namespace {

class VelmoPages : public ::testing::Test {
protected:
    void SetUp() override
    {
        work_ = L"C:\\velmo-e2e-pages-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(work_);
        ::CreateDirectoryW(work_.c_str(), nullptr);
        ::CreateDirectoryW((work_ + L"\\pictures").c_str(), nullptr);
        ::CreateDirectoryW((work_ + L"\\out").c_str(), nullptr);
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
    }

    void TearDown() override
    {
        run_.Finish();
        RemoveTree(work_);
    }

    HWND Control(const wchar_t* Name) { return run_.Control(Name); }

    // Starts a build and answers its messages until Start is enabled again
    // and five seconds pass without one; returns the messages.
    std::vector<std::wstring> Build(DWORD TimeoutMs)
    {
        EXPECT_TRUE(app.PostClick(L"btnStart"));
        WaitUntil([&] { return !::IsWindowEnabled(Control(L"btnStart")) || !Dialogs(app.Pid()).empty(); }, 10000);
        return run_.WaitBuildOver(TimeoutMs);
    }

    TRoadRun run_{TBrowser::Quiet};
    TProgram& app = run_.app;
    std::wstring work_;
};

TEST_F(VelmoPages, TypedMarkupShowsAsTextOnTheWrittenPage)
{
    // A photo whose name holds "&", "#", "%" and spaces, beside a plain one.
    const std::wstring photos = testsupport::FixtureDir(L"e2e") + L"\\photos\\";
    const std::wstring odd = L"sun & sea #2 100%41.jpg";
    ASSERT_TRUE(::CopyFileW((photos + L"o8-landscape.jpg").c_str(), (work_ + L"\\pictures\\" + odd).c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW((photos + L"o1-large.jpg").c_str(), (work_ + L"\\pictures\\plain.jpg").c_str(), FALSE));

    HWND tree = Control(L"FTree");
    HWND files = Control(L"LV1");
    HWND album = Control(L"LV2");
    ASSERT_TRUE(tree && files && album);
    std::wstring trail;
    ASSERT_TRUE(TreeSelectPath(app.Process(), tree, work_ + L"\\pictures", trail)) << Utf8(trail);
    ASSERT_TRUE(WaitUntil([&] { return ListCount(files) == 2; }, 15000)) << "file list shows " << ListCount(files);
    ASSERT_TRUE(app.Click(L"btnAddAll"));
    ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 2; }, 10000)) << "album list holds " << ListCount(album);

    const std::wstring title = L"x\" onmouseover=\"alert(1)";
    const std::wstring description = L"Rocket <b>bold?</b> & \"quotes\"\r\n<img src=x onerror='alert(2)'>";
    const int row = ListFind(app.Process(), album, odd);
    ASSERT_GE(row, 0);
    ListSelect(app.Process(), album, -1, false);
    ListSelect(app.Process(), album, row, true);
    HWND titleEdit = Control(L"E_Title");
    HWND descEdit = Control(L"E_Desc");
    ASSERT_TRUE(titleEdit && descEdit);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(titleEdit) != 0; }, 5000)) << "title field stays disabled";
    SetText(titleEdit, title);
    TypeText(descEdit, description);
    SetText(Control(L"EAlbName"), L"Tom & Jerry's");
    SetText(Control(L"EAlbDir"), work_ + L"\\out");
    Screenshot(L"pages-01-hostile-texts");

    const std::vector<std::wstring> messages = Build(90000);
    ASSERT_TRUE(app.Running());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(L"successfully"), std::wstring::npos) << Utf8(messages[0]);

    const std::wstring path = work_ + L"\\out\\Tom & Jerry's\\";
    const std::string page = ReadBytes(path + L"index.html");
    ASSERT_FALSE(page.empty()) << "index.html missing";
    const std::string expected[] = {
        "<title>Velmo HTML Album - Tom &amp; Jerry&#39;s</title>",
        "<font size=\"6\">Tom &amp; Jerry&#39;s</font>",
        "href=\"Images/sun%20%26%20sea%20%232%20100%2541.jpg\"",
        "src=\"Thumbnails/tn_sun%20%26%20sea%20%232%20100%2541.jpg\"",
        "alt=\"Rocket &lt;b&gt;bold?&lt;/b&gt; &amp; &quot;quotes&quot;\r\n"
        "&lt;img src=x onerror=&#39;alert(2)&#39;&gt;\" title=\"x&quot; onmouseover=&quot;alert(1)\">",
    };
    for (const std::string& text : expected) EXPECT_NE(page.find(text), std::string::npos) << text;
    for (const char* raw : {"<b>", "onmouseover=\"", "onerror='", "Tom & Jerry", "#2"})
        EXPECT_EQ(page.find(raw), std::string::npos) << raw;
    EXPECT_TRUE(albumtest::FileExists(path + L"Images\\" + odd));
    EXPECT_TRUE(albumtest::FileExists(path + L"Thumbnails\\tn_" + odd));
}

}  // namespace
