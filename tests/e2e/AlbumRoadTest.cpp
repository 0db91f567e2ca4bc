// The real program driven as a user would, through its windows: a folder of
// camera photos chosen in the folder tree, added to the album list, a title
// and a description typed, the album built; then the album folder checked.
// The failures a user meets on the way (a damaged album list file, a folder
// without pictures, an unwritable album folder, a photo that does not load
// in the middle of a build) must each give a clear message and leave the
// window usable.
//
// The program keeps its settings under HKCU\Software\Grembolt\Velmo\1.4: the
// key is removed before and after each run so the program starts on its
// defaults. The shell's browser for the finished album is pointed at a
// program that does nothing while the tests run.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
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

// The files below Folder (relative names), depth first.
void ListFiles(const std::wstring& Folder, const std::wstring& Prefix, std::vector<std::wstring>& Out)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = ::FindFirstFileW((Folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(Folder + L"\\" + name, Prefix + name + L"\\", Out);
        else
            Out.push_back(Prefix + name);
    } while (::FindNextFileW(h, &fd));
    ::FindClose(h);
}

void CopyTree(const std::wstring& From, const std::wstring& To)
{
    ::CreateDirectoryW(To.c_str(), nullptr);
    std::vector<std::wstring> files;
    ListFiles(From, L"", files);
    for (const auto& f : files) ::CopyFileW((From + L"\\" + f).c_str(), (To + L"\\" + f).c_str(), FALSE);
}

DWORD ReadDword(const wchar_t* Name, DWORD Default)
{
    DWORD value = 0, size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, Name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return Default;
    return value;
}

// ------------------------------------------------------------ pictures

enum TQuarter { Red, Green, Blue, Yellow, Other };
const char* const kQuarterNames[] = {"red", "green", "blue", "yellow", "other"};

TQuarter Classify(const imaging::TPxRGB& P)
{
    const int r = P.r, g = P.g, b = P.b;
    if (r > 180 && g < 90 && b < 90) return Red;
    if (r < 90 && g > 180 && b < 90) return Green;
    if (r < 90 && g < 90 && b > 180) return Blue;
    if (r > 180 && g > 180 && b < 90) return Yellow;
    return Other;
}

struct TPicture {
    bool Loaded = false;
    int Width = 0, Height = 0;
    bool HasEXIF = false;
    int Orientation = 0;
    // Colour names of the top-left, top-right, bottom-left, bottom-right
    // corners (sampled an eighth of the size inside).
    std::string Corners;
};

TPicture Inspect(const std::wstring& FileName)
{
    TPicture p;
    if (!albumtest::FileExists(FileName)) return p;
    imaging::TImgIO io(nullptr);
    io.LoadFromFile(FileName);
    if (io.AbortFlag) return p;
    imaging::TPxBitmap* bmp = io.GetCurrentBitmap();
    p.Loaded = true;
    p.Width = bmp->GetWidth();
    p.Height = bmp->GetHeight();
    p.HasEXIF = io.FileParams->HasEXIF;
    p.Orientation = io.FileParams->EXIFOrientation;
    const int dx = p.Width / 8, dy = p.Height / 8;
    const POINT at[4] = {{dx, dy}, {p.Width - 1 - dx, dy}, {dx, p.Height - 1 - dy}, {p.Width - 1 - dx, p.Height - 1 - dy}};
    for (int i = 0; i < 4; ++i) {
        if (i) p.Corners += ' ';
        p.Corners += kQuarterNames[Classify(bmp->GetPixelAsRGB(at[i].x, at[i].y))];
    }
    return p;
}

const char kUpright[] = "red green blue yellow";

// The size FitSize gives: the longer side to Box, the other rounded.
void Fitted(int W, int H, int Box, int& OutW, int& OutH)
{
    OutW = W;
    OutH = H;
    if (W <= Box && H <= Box) return;
    if (W >= H) {
        OutW = Box;
        OutH = static_cast<int>(std::nearbyint(static_cast<double>(Box) * H / W));
    } else {
        OutH = Box;
        OutW = static_cast<int>(std::nearbyint(static_cast<double>(Box) * W / H));
    }
}

// ------------------------------------------------------------ fixture

class VelmoProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        imaging::PxInitialize();
        work_ = L"C:\\velmo-e2e-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(work_);
        ::CreateDirectoryW(work_.c_str(), nullptr);
        const std::wstring fixtures = testsupport::FixtureDir(L"e2e");
        for (const wchar_t* folder : {L"photos", L"mixed", L"nopictures"})
            CopyTree(fixtures + L"\\" + folder, work_ + L"\\" + folder);
        ::CopyFileW((fixtures + L"\\damaged.alb").c_str(), (work_ + L"\\damaged.alb").c_str(), FALSE);
        ::CreateDirectoryW((work_ + L"\\out").c_str(), nullptr);
    }

    static void TearDownTestSuite() { RemoveTree(work_); }

    void SetUp() override
    {
        std::wstring error;
        ASSERT_TRUE(run_.Start(error)) << Utf8(error);
    }

    // The window of a component; a missing one fails the test by name.
    HWND Control(const wchar_t* Name) { return run_.Control(Name); }

    // Chooses Folder in the folder tree and waits for the file list to show
    // Count files.
    void ChooseFolder(const std::wstring& Folder, int Count)
    {
        HWND tree = Control(L"FTree");
        HWND list = Control(L"LV1");
        ASSERT_TRUE(tree && list);
        std::wstring trail;
        ASSERT_TRUE(TreeSelectPath(app.Process(), tree, Folder, trail))
            << "folder tree: " << Utf8(Folder) << " not reached; walked " << Utf8(trail);
        EXPECT_TRUE(WaitUntil([&] { return ListCount(list) == Count; }, 15000))
            << "file list of " << Utf8(Folder) << " shows " << ListCount(list) << " files, expected " << Count;
    }

    // Answers the program's message boxes (OK, or Yes to a question) until
    // one contains Last or TimeoutMs passes; returns every text seen.
    std::vector<std::wstring> AnswerMessages(const std::wstring& Last, DWORD TimeoutMs)
    {
        std::vector<std::wstring> seen;
        WaitUntil(
            [&] {
                for (const TDialog& d : Dialogs(app.Pid())) {
                    if (d.Caption != kCaption) continue;
                    seen.push_back(d.Text);
                    if (!shots_.empty()) Screenshot(shots_ + L"-" + std::to_wstring(++shotCount_));
                    if (!PressButton(d.Wnd, IDOK)) PressButton(d.Wnd, IDYES);
                    WaitUntil([&] { return !::IsWindow(d.Wnd) || !::IsWindowVisible(d.Wnd); }, 5000);
                    if (!Last.empty() && d.Text.find(Last) != std::wstring::npos) return true;
                }
                return !app.Running();
            },
            TimeoutMs);
        return seen;
    }

    // Waits for the program's open or save dialog, types FileName into its
    // file name box and presses its OK button.
    bool AnswerFileDialog(const std::wstring& FileName, const std::wstring& Shot = L"")
    {
        TDialog dialog;
        HWND name = nullptr;
        bool found = WaitUntil(
            [&] {
                for (const TDialog& d : Dialogs(app.Pid()))
                    if (d.Caption != kCaption) dialog = d;
                if (dialog.Wnd) name = ::GetDlgItem(dialog.Wnd, 0x47C);  // file name box
                if (dialog.Wnd && !name) name = ::GetDlgItem(dialog.Wnd, 0x480);
                return name != nullptr;
            },
            15000);
        EXPECT_TRUE(found) << "no file dialog with a file name box";
        if (!found) return false;
        if (!Shot.empty()) {
            ::Sleep(300);
            Screenshot(Shot);
        }
        SetText(name, FileName);
        return PressButton(dialog.Wnd, IDOK);
    }

    // Starts a build and answers its messages until the build is over (the
    // Start button enabled again); returns the messages.
    // With Cancel, Exit is clicked right behind Start (while the build runs).
    std::vector<std::wstring> Build(DWORD TimeoutMs, bool Cancel = false)
    {
        HWND start = Control(L"btnStart");
        EXPECT_TRUE(app.PostClick(L"btnStart"));
        if (Cancel) {
            EXPECT_TRUE(app.PostClick(L"btnCancel"));
        }
        std::vector<std::wstring> seen;
        // The build disables Start while it runs, or stops with a message
        // before; it is over when Start is enabled again and no message
        // waits.
        WaitUntil([&] { return !::IsWindowEnabled(start) || !Dialogs(app.Pid()).empty(); }, 10000);
        // A message may come some time after Start is enabled again: quiet
        // means five seconds without any, so a late one is counted too.
        ULONGLONG quietSince = ::GetTickCount64();
        WaitUntil(
            [&] {
                auto more = AnswerMessages(L"", 200);
                seen.insert(seen.end(), more.begin(), more.end());
                if (!more.empty() || !::IsWindowEnabled(start)) quietSince = ::GetTickCount64();
                return !app.Running() || ::GetTickCount64() - quietSince > 5000;
            },
            TimeoutMs);
        return seen;
    }

    static std::string Joined(const std::vector<std::wstring>& Texts)
    {
        std::string s;
        for (const auto& t : Texts) s += "[" + Utf8(t) + "] ";
        return s;
    }

    static bool AnyContains(const std::vector<std::wstring>& Texts, const std::wstring& Part)
    {
        for (const auto& t : Texts)
            if (t.find(Part) != std::wstring::npos) return true;
        return false;
    }

    TRoadRun run_{TBrowser::Quiet};
    TProgram& app = run_.app;
    // Screenshots of the messages answered, named after this when set.
    std::wstring shots_;
    int shotCount_ = 0;
    static std::wstring work_;
};

std::wstring VelmoProgram::work_;

// One picture of the camera folder: its file, the size the viewer shows.
struct TPhoto {
    const wchar_t* File;
    int Width, Height;
};
const TPhoto kPhotos[] = {
    {L"o1-large.jpg", 1200, 800},     {L"o6-portrait.jpg", 400, 600}, {L"o8-landscape.jpg", 600, 400},
    {L"o2-mirrored.jpg", 600, 400},   {L"plain-png.png", 600, 400},   {L"scan-tiff.tif", 600, 400},
    {L"drawing-gif.gif", 600, 400},
};

std::wstring Stem(const std::wstring& File) { return File.substr(0, File.rfind(L'.')); }

TEST_F(VelmoProgram, BuildsAnAlbumFromCameraPhotos)
{
    Screenshot(L"01-main-window");
    HWND filter = Control(L"CB1");
    HWND album = Control(L"LV2");
    ASSERT_TRUE(filter && album);
    // Nothing to rotate, move or remove yet: those buttons refuse a click.
    for (const wchar_t* idle : {L"R1", L"R2", L"R3", L"R4", L"btnPgUp", L"btnPgDown", L"btnRemove"})
        EXPECT_FALSE(app.Click(idle)) << Utf8(idle) << " is enabled with an empty album list";

    // The picture types: every kind the program reads, the PNG among them;
    // then all files.
    ChooseFolder(work_ + L"\\photos", 7);
    ComboSelect(filter, 6);
    EXPECT_TRUE(WaitUntil([&] { return ListCount(Control(L"LV1")) == 7; }, 10000)) << "All Files shows them all";
    Screenshot(L"02-photo-folder");

    ASSERT_TRUE(app.Click(L"btnAddAll")) << "Add all refused";
    ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 7; }, 10000)) << "album list holds " << ListCount(album);
    for (const TPhoto& p : kPhotos)
        EXPECT_GE(ListFind(app.Process(), album, work_ + L"\\photos\\" + p.File), 0)
            << Utf8(p.File) << " not listed by its full path";
    // Adding the folder again adds no duplicate.
    ASSERT_TRUE(app.Click(L"btnAddAll"));
    EXPECT_EQ(ListCount(album), 7);

    // A title and a two-line description on the portrait.
    const std::wstring title = L"Pier at dusk \u00C5land \u0424\u0435\u0440\u043C\u0430";
    const std::wstring description = L"First line\r\nsecond line";
    int row = ListFind(app.Process(), album, L"o6-portrait.jpg");
    ASSERT_GE(row, 0);
    ListSelect(app.Process(), album, -1, false);
    ListSelect(app.Process(), album, row, true);
    HWND titleEdit = Control(L"E_Title");
    HWND descEdit = Control(L"E_Desc");
    ASSERT_TRUE(titleEdit && descEdit);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(titleEdit) != 0; }, 5000)) << "title field stays disabled";
    EXPECT_EQ(GetText(titleEdit), L"o6-portrait.jpg") << "the title starts as the file name";
    // The portrait entered turned by its orientation: only "original
    // orientation" may be chosen now.
    for (const wchar_t* other : {L"R2", L"R3", L"R4"})
        EXPECT_FALSE(app.Click(other)) << Utf8(other) << " is enabled on a turned row";
    SetText(titleEdit, L"  " + title + L" ");
    // A memo reports typing, not WM_SETTEXT: the description is typed.
    TypeText(descEdit, description);

    const std::wstring albumFolder = work_ + L"\\out";
    SetText(Control(L"EAlbName"), L"Holiday");
    SetText(Control(L"EAlbDir"), albumFolder);
    Screenshot(L"03-before-build");

    shots_ = L"04-build";
    std::vector<std::wstring> messages = Build(90000);
    ASSERT_TRUE(app.Running()) << "the program ended during the build";
    EXPECT_EQ(messages.size(), 1u) << Joined(messages);
    EXPECT_TRUE(AnyContains(messages, kSucceeded)) << "no success message: " << Joined(messages);
    EXPECT_TRUE(::IsWindowEnabled(Control(L"btnStart")));
    EXPECT_TRUE(::IsWindowEnabled(album)) << "album list still locked after the build";
    EXPECT_EQ(ListCount(album), 7);

    // The list saved through the save dialog and opened again through the
    // open dialog: rows in order, title and two-line description kept.
    const std::wstring listFile = work_ + L"\\holiday.alb";
    std::vector<std::wstring> rows;
    for (int i = 0; i < ListCount(album); ++i) rows.push_back(ListItemText(app.Process(), album, i));
    ASSERT_TRUE(app.PostClick(L"btnSave"));
    ASSERT_TRUE(AnswerFileDialog(listFile));
    ASSERT_TRUE(WaitUntil([&] { return albumtest::FileExists(listFile) && Dialogs(app.Pid()).empty(); }, 15000));
    const std::string saved = ReadBytes(listFile);
    EXPECT_NE(saved.find("|" + Utf8(title) + "|First line^second line|"), std::string::npos) << saved;
    ASSERT_TRUE(app.Click(L"btnRemoveAll"));
    EXPECT_EQ(ListCount(album), 0);
    ASSERT_TRUE(app.PostClick(L"btnOpen"));
    ASSERT_TRUE(AnswerFileDialog(listFile));
    EXPECT_TRUE(WaitUntil([&] { return ListCount(album) == 7; }, 15000)) << "rows after opening: " << ListCount(album);
    for (int i = 0; i < ListCount(album) && i < 7; ++i) EXPECT_EQ(ListItemText(app.Process(), album, i), rows[i]);
    EXPECT_TRUE(AnswerMessages(L"", 500).empty());

    // Exit during a build stops it before the next picture; the message
    // says so, nothing of the build is left, the window stays.
    SetText(Control(L"EAlbName"), L"Stopped");
    messages = Build(60000, true);
    ASSERT_TRUE(app.Running()) << "Exit during the build closed the program";
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    EXPECT_NE(messages[0].find(L"cancelled"), std::wstring::npos) << Joined(messages);
    EXPECT_FALSE(albumtest::FileExists(albumFolder + L"\\Stopped"));
    EXPECT_FALSE(albumtest::FileExists(albumFolder + L"\\Stopped.velmo-new"));
    EXPECT_TRUE(::IsWindowEnabled(Control(L"btnStart")));

    DWORD exitCode = 99;
    EXPECT_TRUE(app.Close(IDYES, 20000, &exitCode)) << "the program did not close";
    EXPECT_EQ(exitCode, 0u);
    // The settings the program ran with, as it wrote them when it closed.
    const int maxImg = static_cast<int>(ReadDword(L"MaxImg", 0));
    const int maxTh = static_cast<int>(ReadDword(L"MaxTh", 0));
    EXPECT_EQ(maxImg, 1000) << "default image box";
    EXPECT_EQ(maxTh, 140) << "default thumbnail box";
    const DWORD txtCol = ReadDword(L"TxtCol", 0xFFFFFF), cellCol = ReadDword(L"CellCol", 0xFDAB00);

    const std::wstring path = albumFolder + L"\\Holiday\\";
    const std::string page = ReadBytes(path + L"index.html");
    ASSERT_FALSE(page.empty()) << "index.html missing";
    EXPECT_FALSE(albumtest::FileExists(path + L"index2.html")) << "seven pictures fit on one page";

    for (const TPhoto& p : kPhotos) {
        SCOPED_TRACE(Utf8(p.File));
        const std::wstring name = Stem(p.File) + L".jpg";
        EXPECT_NE(page.find(Utf8(L"href=\"Images/" + name + L"\"")), std::string::npos);
        EXPECT_NE(page.find(Utf8(L"src=\"Thumbnails/tn_" + name + L"\"")), std::string::npos);

        // The copy fitted into the image box, the thumbnail into the
        // thumbnail box, both upright and stating no other orientation.
        int w = 0, h = 0;
        for (const auto& [file, box] : {std::pair{L"Images\\" + name, maxImg}, {L"Thumbnails\\tn_" + name, maxTh}}) {
            SCOPED_TRACE(Utf8(file));
            Fitted(p.Width, p.Height, box, w, h);
            TPicture picture = Inspect(path + file);
            ASSERT_TRUE(picture.Loaded) << "missing or unreadable";
            EXPECT_EQ(picture.Width, w);
            EXPECT_EQ(picture.Height, h);
            EXPECT_TRUE(!picture.HasEXIF || picture.Orientation == 1) << "orientation " << picture.Orientation;
            EXPECT_EQ(picture.Corners, kUpright) << "not turned as the picture is shown";
        }
        const std::string size = "width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\"";
        EXPECT_NE(page.find("tn_" + Utf8(name) + "\" " + size), std::string::npos) << "thumbnail size on the page";
    }
    // Title trimmed, description with its line break, both as UTF-8.
    EXPECT_NE(page.find("title=\"" + Utf8(title) + "\""), std::string::npos) << "title missing from the page";
    const std::size_t portrait = page.find("tn_o6-portrait.jpg");
    EXPECT_NE(page.find("alt=\"" + Utf8(description) + "\""), std::string::npos)
        << "description missing: " << (portrait == std::string::npos ? "" : page.substr(portrait, 200));

    // Navigation pictures: entries 1 and 2 of the global colour table are the
    // text and cell colours; the disabled ones are copies.
    const std::string text{char(txtCol & 0xFF), char((txtCol >> 8) & 0xFF), char((txtCol >> 16) & 0xFF)};
    const std::string cell{char(cellCol & 0xFF), char((cellCol >> 8) & 0xFF), char((cellCol >> 16) & 0xFF)};
    for (const wchar_t* nav : {L"first", L"prev", L"next", L"last", L"index"}) {
        SCOPED_TRACE(Utf8(nav));
        const std::string gif = ReadBytes(path + nav + L".gif");
        ASSERT_GE(gif.size(), 22u);
        EXPECT_EQ(gif.substr(0, 3), "GIF");
        EXPECT_TRUE(static_cast<unsigned char>(gif[10]) & 0x80) << "no global colour table";
        EXPECT_EQ(gif.substr(16, 3), text);
        EXPECT_EQ(gif.substr(19, 3), cell);
    }
    for (const wchar_t* nav : {L"first_d", L"prev_d", L"next_d", L"last_d"})
        EXPECT_EQ(ReadBytes(path + nav + L".gif"), ReadBytes(ProgramFolder() + L"GIFs\\" + nav + L".gif"))
            << Utf8(nav);

    // The viewer folder arrives whole.
    std::vector<std::wstring> viewer, copied;
    ListFiles(ProgramFolder() + L"viewer", L"", viewer);
    ListFiles(path + L"viewer", L"", copied);
    EXPECT_FALSE(viewer.empty()) << "no viewer beside the program";
    EXPECT_EQ(copied, viewer);
    for (const auto& f : viewer)
        EXPECT_EQ(ReadBytes(path + L"viewer\\" + f), ReadBytes(ProgramFolder() + L"viewer\\" + f)) << Utf8(f);
}

TEST_F(VelmoProgram, FailuresGiveAMessageAndLeaveTheWindowUsable)
{
    HWND album = Control(L"LV2");
    HWND start = Control(L"btnStart");
    ASSERT_TRUE(album && start);
    ComboSelect(Control(L"CB1"), 6);

    // A folder without pictures: "Add all" adds nothing.
    ChooseFolder(work_ + L"\\nopictures", 1);
    ASSERT_TRUE(app.PostClick(L"btnAddAll"));
    std::vector<std::wstring> messages = AnswerMessages(L"", 2000);
    EXPECT_EQ(ListCount(album), 0) << "a text file entered the album list; " << Joined(messages);
    EXPECT_TRUE(app.Running());

    // Photos of which one cannot be decoded.
    ChooseFolder(work_ + L"\\mixed", 3);
    ASSERT_TRUE(app.Click(L"btnAddAll"));
    ASSERT_TRUE(WaitUntil([&] { return ListCount(album) == 3; }, 10000))
        << "album list holds " << ListCount(album) << " of a-good, b-broken, c-good";
    std::vector<std::wstring> rows;
    for (int i = 0; i < 3; ++i) rows.push_back(ListItemText(app.Process(), album, i));
    auto rowsKept = [&] {
        if (ListCount(album) != 3) return false;
        for (int i = 0; i < 3; ++i)
            if (ListItemText(app.Process(), album, i) != rows[i]) return false;
        return true;
    };

    // A damaged album list file through the open dialog: the list stays.
    ASSERT_TRUE(app.PostClick(L"btnOpen"));
    ASSERT_TRUE(AnswerFileDialog(work_ + L"\\damaged.alb", L"10-open-dialog"));
    TDialog complaint;
    EXPECT_TRUE(WaitForDialog(app.Pid(), kCaption, 15000, complaint)) << "no message about the damaged file";
    shots_ = L"11-damaged-list";
    messages = AnswerMessages(L"", 1500);
    EXPECT_FALSE(messages.empty() || messages.front().empty());
    ASSERT_TRUE(app.Running());
    EXPECT_TRUE(::IsWindowEnabled(Control(L"btnOpen")));
    EXPECT_TRUE(rowsKept()) << "the album list changed";

    // An album folder below a file cannot be written.
    SetText(Control(L"EAlbName"), L"Mixed");
    SetText(Control(L"EAlbDir"), work_ + L"\\mixed\\a-good.jpg\\albums");
    shots_ = L"12-unwritable-folder";
    messages = Build(30000);
    ASSERT_TRUE(app.Running());
    EXPECT_EQ(messages.size(), 1u) << Joined(messages);
    EXPECT_FALSE(AnyContains(messages, kSucceeded)) << Joined(messages);
    EXPECT_TRUE(::IsWindowEnabled(start));
    EXPECT_TRUE(rowsKept()) << "the album list changed";

    // The same list into a writable folder: the damaged photo is reported by
    // name, the others are written.
    const std::wstring path = work_ + L"\\out\\Mixed\\";
    SetText(Control(L"EAlbDir"), work_ + L"\\out");
    shots_ = L"13-failed-photo";
    messages = Build(60000);
    ASSERT_TRUE(app.Running());
    EXPECT_TRUE(AnyContains(messages, L"b-broken.jpg")) << "the photo that failed is not named: " << Joined(messages);
    EXPECT_TRUE(AnyContains(messages, kSucceeded)) << Joined(messages);
    // The success message itself names the photo left out: nothing follows.
    ASSERT_EQ(messages.size(), 1u) << Joined(messages);
    EXPECT_NE(messages[0].find(L"b-broken.jpg"), std::wstring::npos) << Joined(messages);
    EXPECT_TRUE(::IsWindowEnabled(start));
    const std::string page = ReadBytes(path + L"index.html");
    for (const wchar_t* good : {L"a-good", L"c-good"}) {
        EXPECT_TRUE(Inspect(path + L"Images\\" + good + L".jpg").Loaded) << Utf8(good);
        EXPECT_TRUE(Inspect(path + L"Thumbnails\\tn_" + good + L".jpg").Loaded) << Utf8(good);
        EXPECT_NE(page.find(Utf8(good)), std::string::npos) << Utf8(good);
    }
    EXPECT_FALSE(albumtest::FileExists(path + L"Images\\b-broken.jpg"));
    EXPECT_EQ(page.find("b-broken"), std::string::npos);

    // Esc closes the idle program (after asking about the unsaved list).
    ::PostMessageW(album, WM_KEYDOWN, VK_ESCAPE, 1);
    ::PostMessageW(album, WM_CHAR, VK_ESCAPE, 1);
    ::PostMessageW(album, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    DWORD exitCode = 99;
    EXPECT_TRUE(app.WaitForEnd(IDYES, 20000, &exitCode)) << "Esc did not close the program";
    EXPECT_EQ(exitCode, 0u);
}

// A user's right click on a file of the file list, then on a row of the
// album list, each with another one selected, shows the popup menu at the
// pointer; its entry chosen with the left button opens the preview window
// on the file clicked, and the menu is gone. (The file list's right click
// must not leave the list waiting for a release it never gets: it would
// swallow the album list's press.)
TEST_F(VelmoProgram, RightClickOnAFileOffersItsLargePreview)
{
    ChooseFolder(work_ + L"\\photos", 7);
    ASSERT_TRUE(app.Click(L"btnAddAll"));
    for (const wchar_t* listName : {L"LV1", L"LV2"}) {
        SCOPED_TRACE(Utf8(listName));
        HWND list = Control(listName);
        ASSERT_TRUE(list);
        ASSERT_TRUE(WaitUntil([&] { return ListCount(list) == 7; }, 10000));
        ListSelect(app.Process(), list, -1, false);
        ListSelect(app.Process(), list, 0, true);
        const int row = 2;
        std::wstring name = ListItemText(app.Process(), list, row);
        name = name.substr(name.rfind(L'\\') + 1);  // the album list shows full paths
        const RECT item = ListItemRect(app.Process(), list, row);
        ASSERT_FALSE(name.empty());
        ASSERT_LT(item.left, item.right);
        ::SetForegroundWindow(app.Main());
        const POINT at{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
        RealMouse(at);
        RealMouse(at, MOUSEEVENTF_RIGHTDOWN);
        RealMouse(at, MOUSEEVENTF_RIGHTUP);
        HWND popup = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                const auto found = TopWindows(app.Pid(), L"VelmoMbPopupWindow");
                popup = found.empty() ? nullptr : found[0];
                return popup != nullptr;
            },
            10000))
            << "no popup menu after the right click";
        RECT menu{};
        ::GetWindowRect(popup, &menu);
        EXPECT_LE(std::abs(menu.left - at.x), 2) << "the menu opens at the pointer";
        EXPECT_LE(std::abs(menu.top - at.y), 2);
        Screenshot(std::wstring(L"05-popup-") + listName);

        const POINT entry{(menu.left + menu.right) / 2, (menu.top + menu.bottom) / 2};
        RealMouse(entry);
        RealMouse(entry, MOUSEEVENTF_LEFTDOWN);
        RealMouse(entry, MOUSEEVENTF_LEFTUP);
        HWND preview = nullptr;
        EXPECT_TRUE(WaitUntil(
            [&] {
                const auto found = TopWindows(app.Pid(), L"TfrmPreview");
                preview = found.empty() ? nullptr : found[0];
                return preview && GetText(preview) == name;
            },
            10000))
            << "no preview of " << Utf8(name) << (preview ? ", the preview shows " + Utf8(GetText(preview)) : "");
        EXPECT_TRUE(TopWindows(app.Pid(), L"VelmoMbPopupWindow").empty()) << "the menu stays open";
        Screenshot(std::wstring(L"06-preview-") + listName);
        if (preview) ::PostMessageW(preview, WM_CLOSE, 0, 0);
        WaitUntil([&] { return TopWindows(app.Pid(), L"TfrmPreview").empty(); }, 10000);
    }
}

}  // namespace
