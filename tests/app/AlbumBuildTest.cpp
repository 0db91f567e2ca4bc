// The album build end to end: a program folder with hand-made navigation
// GIFs and a tiny viewer folder, fixture pictures of the I/O tests as the
// album list, a recording host that answers the questions, and the album
// folder checked file by file.
#include "app/AlbumBuild.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "AlbumTestFiles.h"
#include "app/AlbumFolder.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "classlib/Exceptions.h"
#include "classlib/ScopeGuard.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "gif/GIFImage.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "imaging/proc/ImgProc.h"
#include "imaging/proc/PxRotate.h"
#include "imaging/views/view/ImgView.h"
#include "support/TestSupport.h"

using album::BuildAlbum;
using album::SkippedRowText;
using album::TAlbumBuildHost;
using album::TAlbumBuildInput;
using album::TAlbumBuildOutcome;
using album::TAlbumBuildResult;
using album::TAlbumRow;
using albumtest::FileExists;
using albumtest::Fixture;
using albumtest::ProgramFolder;
using imaging::PxReadFailureText;
using imaging::TPxReadFailure;
using albumtest::ReadBytes;
using albumtest::TinyGif;
using albumtest::WriteBytes;
using albumtest::kNavColors;

namespace {

// ---- files ------------------------------------------------------------------

struct ImageInfo {
    int Width = 0, Height = 0;
    bool HasEXIF = false;
    int Orientation = 0;
    int JPEGLumaDC = -1;  // first value of the first quantisation table
};

// The first luminance quantisation value of a baseline JPEG (libjpeg's
// scaling of the standard table gives 5 at quality 85 and 6 at 80).
int FirstQuantValue(const std::string& Bytes)
{
    for (std::size_t i = 2; i + 5 < Bytes.size(); ++i)
        if (static_cast<uint8_t>(Bytes[i]) == 0xFF && static_cast<uint8_t>(Bytes[i + 1]) == 0xDB)
            return static_cast<uint8_t>(Bytes[i + 5]);
    return -1;
}

ImageInfo Inspect(const std::wstring& FileName)
{
    ImageInfo info;
    imaging::TImgIO io(nullptr);
    io.LoadFromFile(FileName);
    if (io.AbortFlag) return info;
    info.Width = io.GetCurrentBitmap()->GetWidth();
    info.Height = io.GetCurrentBitmap()->GetHeight();
    info.HasEXIF = io.FileParams->HasEXIF;
    info.Orientation = io.FileParams->EXIFOrientation;
    info.JPEGLumaDC = FirstQuantValue(ReadBytes(FileName));
    return info;
}

// An RGB picture of Width x Height with a block of a second colour, saved in
// the format of FileName's extension.
void MakePicture(const std::wstring& FileName, int Width, int Height)
{
    imaging::TPxBitmap image(Width, Height, imaging::px24RGB);
    image.Fill(0x3060C0);
    image.FillRect(0, 0, Width / 3, Height / 3, 0x10F020);
    auto io = imaging::TImgIO::CreateForBitmap(&image);
    io->SaveToFile(FileName);
    ASSERT_FALSE(io->AbortFlag);
}

// ---- the recording host -------------------------------------------------------

struct RecordingHost : TAlbumBuildHost {
    std::vector<std::pair<std::wstring, UINT>> Messages;
    int Answer = IDNO;                  // to questions with Yes and No
    std::string Log;                    // D disable, R restore, S show bars, H hide bars
    std::vector<std::wstring> Status;   // status texts in order
    std::vector<int> ImagePercents;
    int StepReports = 0;
    std::string Progress;               // I per image counter, s per step report, in order
    std::vector<std::vector<int>> Steps;  // the step reports of each image's turn
    int Focus = 0;
    std::vector<std::wstring> Opened;
    std::size_t CancelDuringImage = 0;  // 1-based image whose turn sets the cancel flag
    std::function<void(std::size_t)> AtImage;  // called with the 1-based image at its turn

    int MessageBox(const std::wstring& Text, UINT Flags) override
    {
        Messages.emplace_back(Text, Flags);
        return (Flags & MB_TYPEMASK) == MB_YESNO ? Answer : IDOK;
    }
    void FocusAlbumName() override { ++Focus; }
    void SetStatusText(const std::wstring& Text) override { Status.push_back(Text); }
    void DisableControls() override { Log += 'D'; }
    void RestoreControls() override { Log += 'R'; }
    void ShowBuildProgress(bool Visible) override { Log += Visible ? 'S' : 'H'; }
    void SetImagePercent(int Percent) override
    {
        ImagePercents.push_back(Percent);
        Progress += 'I';
        Steps.emplace_back();
        if (ImagePercents.size() == CancelDuringImage) CancelRequested = 1;
        if (AtImage) AtImage(ImagePercents.size());
    }
    void SetStepPercent(int Percent) override
    {
        ++StepReports;
        Progress += 's';
        if (!Steps.empty()) Steps.back().push_back(Percent);
    }
    void ProcessMessages() override {}
    void OpenDocument(const std::wstring& FileName) override { Opened.push_back(FileName); }
};

TAlbumRow Row(const std::wstring& Path, const std::wstring& Rotation, const std::wstring& Title = L"",
              const std::wstring& Description = L"")
{
    TAlbumRow row;
    row.Path = Path;
    row.SubItems = {Rotation, L"", L"", L"", Title, Description};
    return row;
}

class AlbumBuild : public ::testing::Test {
protected:
    // The formats come from the program's own routine (ProgramFormats.cpp).
    static void SetUpTestSuite() { imaging::PxInitialize(); }
    static void TearDownTestSuite() { imaging::PxFinalize(); }

    AlbumBuild() : settings(album::TSettingsPlaces{}, Environment())
    {
        settings.SetDefaults();
        settings.TxtCol = 0x0000FF;   // red
        settings.CellCol = 0x00FF00;  // green
        settings.MaxTh = 10;
        settings.ColumnsNr = 2;
        settings.RowsNr = 1;
        settings.ResizeImg = false;
        input.Settings = &settings;
        input.AlbumFolder = out.Path();
        input.AlbumName = L"Album1";
        input.ProgramFolder = program.Dir.Path();
    }

    album::TProgramEnvironment Environment() const
    {
        album::TProgramEnvironment env;
        env.ProgramFile = program.Dir.File(L"Velmo.exe");
        env.ScreenWidth = 1024;
        env.ScreenHeight = 768;
        return env;
    }

    std::wstring Album(const std::wstring& Name = L"") const { return out.Path() + L"\\Album1\\" + Name; }

    // Resizing on, into boxes that the fixture photographs must be fitted to.
    void FitIntoSmallBoxes()
    {
        settings.ResizeImg = true;
        settings.MaxImg = 150;
        settings.MaxTh = 40;
    }

    ProgramFolder program;
    testsupport::TempDir out;
    album::TSettings settings;
    TAlbumBuildInput input;
    RecordingHost host;
};

// ---- tests --------------------------------------------------------------------

// JPEG, PNG, an unreadable file and a camera JPEG, resizing off: byte copies
// where nothing changes (not even the stated orientation), re-encoding at quality 85 where a rotation is asked,
// thumbnails fitted into the box, numbers only for the rows that worked, two
// pages of two cells, recoloured navigation pictures, the viewer copy, and
// the host told everything in order.
TEST_F(AlbumBuild, FullBuildWithoutResizing)
{
    testsupport::TempDir sources;
    const std::wstring broken = sources.File(L"broken.png");
    WriteBytes(broken, "\x89PNG\r\n\x1a\n this is no picture");
    std::vector<TAlbumRow> rows = {
        Row(Fixture(L"io\\jpeg", L"baseline.jpg"), L"0", L"Beach", L"Sun"),
        Row(Fixture(L"io\\jpeg", L"rgb.jpg"), L"90", L"Turned", L"Left"),
        Row(broken, L"0", L"Broken", L"none"),
        Row(Fixture(L"io\\png", L"rgb8.png"), L"0", L"Png", L"p"),
        Row(Fixture(L"io\\exif", L"camera.jpg"), L"0", L"Camera", L"c"),
    };

    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_EQ(result.AlbumPath, Album());
    EXPECT_EQ(result.ImageCount, 4);
    EXPECT_EQ(result.PageCount, 2);

    // Byte copies: JPEG, rotation 0, no resizing.
    EXPECT_EQ(ReadBytes(Album(L"Images\\baseline.jpg")), ReadBytes(rows[0].Path));
    // The camera picture says "turned" (orientation 6) while its row says
    // "0": a byte copy would show turned in a browser and unlike its
    // thumbnail, so it is re-encoded stating the normal orientation.
    const ImageInfo camera = Inspect(Album(L"Images\\camera.jpg"));
    EXPECT_EQ(Inspect(rows[4].Path).Orientation, 6);
    EXPECT_EQ(camera.Orientation, 1);
    EXPECT_EQ(camera.Width, Inspect(rows[4].Path).Width);
    // Decoded, turned, saved at quality 85.
    const ImageInfo turned = Inspect(Album(L"Images\\rgb.jpg"));
    EXPECT_EQ(turned.Width, 34);
    EXPECT_EQ(turned.Height, 50);
    EXPECT_EQ(turned.JPEGLumaDC, 5);
    const ImageInfo png = Inspect(Album(L"Images\\rgb8.jpg"));
    EXPECT_EQ(png.Width, 11);
    EXPECT_EQ(png.Height, 7);
    EXPECT_EQ(png.JPEGLumaDC, 5);
    EXPECT_FALSE(FileExists(Album(L"Images\\broken.jpg")));
    EXPECT_FALSE(FileExists(Album(L"Thumbnails\\tn_broken.jpg")));
    EXPECT_FALSE(FileExists(Album(L"test.txt")));

    // Thumbnails in the 10 x 10 box; the turned one made from the turned image.
    struct Thumb {
        const wchar_t* Name;
        int Width, Height;
    };
    for (const Thumb& t : {Thumb{L"tn_baseline.jpg", 10, 7}, Thumb{L"tn_rgb.jpg", 7, 10},
                           Thumb{L"tn_rgb8.jpg", 10, 6}, Thumb{L"tn_camera.jpg", 10, 8}}) {
        const ImageInfo info = Inspect(Album(L"Thumbnails\\") + t.Name);
        EXPECT_EQ(info.Width, t.Width) << testing::PrintToString(std::wstring(t.Name));
        EXPECT_EQ(info.Height, t.Height) << testing::PrintToString(std::wstring(t.Name));
    }
    // The camera's orientation is stated as normal in the re-encoded thumbnail.
    const ImageInfo cameraThumb = Inspect(Album(L"Thumbnails\\tn_camera.jpg"));
    EXPECT_TRUE(cameraThumb.HasEXIF);
    EXPECT_EQ(cameraThumb.Orientation, 1);

    // Rows: rewritten with running numbers and thumbnail sizes; the broken
    // one unchecked and untouched.
    using Items = std::vector<std::wstring>;
    EXPECT_EQ(rows[0].SubItems, (Items{L"0", L"1", L"10", L"7", L"Beach", L"Sun"}));
    EXPECT_EQ(rows[1].SubItems, (Items{L"90", L"2", L"7", L"10", L"Turned", L"Left"}));
    EXPECT_EQ(rows[2].SubItems, (Items{L"0", L"", L"", L"", L"Broken", L"none"}));
    EXPECT_EQ(rows[3].SubItems, (Items{L"0", L"3", L"10", L"6", L"Png", L"p"}));
    EXPECT_EQ(rows[4].SubItems, (Items{L"0", L"4", L"10", L"8", L"Camera", L"c"}));
    const std::vector<bool> checked = {rows[0].Checked, rows[1].Checked, rows[2].Checked, rows[3].Checked,
                                       rows[4].Checked};
    EXPECT_EQ(checked, (std::vector<bool>{true, true, false, true, true}));
    // The skipped row says why; the written ones name nothing.
    EXPECT_EQ(rows[2].SkipReason, PxReadFailureText(TPxReadFailure::Truncated));
    EXPECT_EQ(SkippedRowText(rows[2]), broken + L": " + rows[2].SkipReason);
    for (size_t i : {0u, 1u, 3u, 4u})
        EXPECT_EQ(rows[i].SkipReason, L"") << i;

    // Pages: two cells each, the broken row on none.
    const std::string page1 = ReadBytes(Album(L"index.html"));
    const std::string page2 = ReadBytes(Album(L"index2.html"));
    EXPECT_NE(page1.find("tn_baseline.jpg"), std::string::npos);
    EXPECT_NE(page1.find("tn_rgb.jpg"), std::string::npos);
    EXPECT_NE(page2.find("tn_rgb8.jpg"), std::string::npos);
    EXPECT_NE(page2.find("tn_camera.jpg"), std::string::npos);
    EXPECT_EQ((page1 + page2).find("broken"), std::string::npos);
    EXPECT_FALSE(FileExists(Album(L"index3.html")));

    // Navigation pictures: entries 1 and 2 recoloured, the other entries and
    // the pixels as they were; disabled ones copied unchanged.
    for (const wchar_t* name : {L"first", L"prev", L"next", L"last", L"index"}) {
        const std::string gif = ReadBytes(Album(name) + L".gif");
        ASSERT_GE(gif.size(), 25u) << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(gif.substr(13, 12), std::string("\x10\x20\x30\xFF\x00\x00\x00\xFF\x00\xA0\xB0\xC0", 12));
        gif::TGIFImage image;
        image.LoadFromFile(Album(name) + L".gif");
        ASSERT_EQ(image.GetImages()->GetCount(), 1);
        gif::TGIFSubImage* frame = (*image.GetImages())[0];
        ASSERT_EQ(frame->GetWidth(), 2);
        ASSERT_EQ(frame->GetHeight(), 1);
        EXPECT_EQ(frame->Pixels(0, 0), 1);
        EXPECT_EQ(frame->Pixels(1, 0), 2);
    }
    for (const wchar_t* name : {L"first_d", L"prev_d", L"next_d", L"last_d"})
        EXPECT_EQ(ReadBytes(Album(name) + L".gif"), ReadBytes(program.Dir.Path() + L"\\GIFs\\" + name + L".gif"));

    // The viewer folder arrives whole as "viewer".
    EXPECT_EQ(ReadBytes(Album(L"viewer\\viewer.js")), "// viewer\r\n");
    EXPECT_EQ(ReadBytes(Album(L"viewer\\img\\close.txt")), "x");

    // What the window saw.
    EXPECT_EQ(host.Log, "DSHR");
    EXPECT_EQ(host.Status, (std::vector<std::wstring>{L"Press ESC to abort", L""}));
    EXPECT_EQ(host.ImagePercents, (std::vector<int>{20, 40, 60, 80, 99}));
    EXPECT_GT(host.StepReports, 0);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].first, L"HTML Album has been successfully created!");
    EXPECT_EQ(host.Messages[0].second, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(host.Opened, (std::vector<std::wstring>{Album(L"index.html")}));
    EXPECT_EQ(host.CancelRequested, 0);
}

// Resizing on: copies fitted into MaxImg (never enlarged, so a small JPEG is
// re-encoded at its own size), thumbnails made from the source again and
// turned after fitting.
TEST_F(AlbumBuild, ResizingFitsCopiesAndThumbnails)
{
    testsupport::TempDir sources;
    MakePicture(sources.File(L"wide.png"), 800, 600);
    MakePicture(sources.File(L"tall.bmp"), 600, 800);
    ::CopyFileW(sources.File(L"wide.png").c_str(), sources.File(L"turned.png").c_str(), FALSE);
    settings.ResizeImg = true;
    settings.MaxImg = 400;
    settings.MaxTh = 140;
    settings.ColumnsNr = 6;
    settings.RowsNr = 4;
    std::vector<TAlbumRow> rows = {
        Row(sources.File(L"wide.png"), L"0"),
        Row(sources.File(L"tall.bmp"), L"0"),
        Row(sources.File(L"turned.png"), L"90"),
        Row(Fixture(L"io\\jpeg", L"baseline.jpg"), L"0"),
    };

    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.ImageCount, 4);
    EXPECT_EQ(result.PageCount, 1);

    struct Expected {
        const wchar_t* Name;
        int ImageW, ImageH, ThumbW, ThumbH;
    };
    for (const Expected& e : {Expected{L"wide.jpg", 400, 300, 140, 105}, Expected{L"tall.jpg", 300, 400, 105, 140},
                              Expected{L"turned.jpg", 300, 400, 105, 140},
                              Expected{L"baseline.jpg", 50, 34, 50, 34}}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(e.Name)));
        const ImageInfo image = Inspect(Album(L"Images\\") + e.Name);
        EXPECT_EQ(image.Width, e.ImageW);
        EXPECT_EQ(image.Height, e.ImageH);
        EXPECT_EQ(image.JPEGLumaDC, 5);
        const ImageInfo thumb = Inspect(Album(L"Thumbnails\\tn_") + e.Name);
        EXPECT_EQ(thumb.Width, e.ThumbW);
        EXPECT_EQ(thumb.Height, e.ThumbH);
    }
    EXPECT_NE(ReadBytes(Album(L"Images\\baseline.jpg")), ReadBytes(rows[3].Path));
    EXPECT_EQ(rows[2].SubItems[2], L"105");
    EXPECT_EQ(rows[2].SubItems[3], L"140");
}

// Fitting into a box: never enlarged, the long side takes the box, the
// other side rounded halves to even and kept at least 1.
TEST(AlbumBuildFit, FitSizeTable)
{
    struct Case {
        int W, H, Max;
        bool Resized;
        int NewW, NewH;
    };
    const Case cases[] = {
        {800, 600, 1000, false, 800, 600}, {800, 600, 140, true, 140, 105}, {600, 800, 140, true, 105, 140},
        {140, 140, 140, false, 140, 140},  {141, 140, 140, true, 140, 139}, {40, 10, 10, true, 10, 2},
        {40, 30, 10, true, 10, 8},         {30, 40, 10, true, 8, 10},       {10000, 1, 10, true, 10, 1},
        {0, 500, 10, false, 0, 500},
    };
    for (const Case& c : cases) {
        int w = -1, h = -1;
        EXPECT_EQ(album::FitSize(c.W, c.H, c.Max, c.Max, w, h), c.Resized) << c.W << "x" << c.H << " in " << c.Max;
        EXPECT_EQ(w, c.NewW) << c.W << "x" << c.H << " in " << c.Max;
        EXPECT_EQ(h, c.NewH) << c.W << "x" << c.H << " in " << c.Max;
    }
}

TEST(AlbumBuildNames, PathsNamesAndRotations)
{
    EXPECT_EQ(album::AlbumPathOf(L"C:\\Albums", L"Trip"), L"C:\\Albums\\Trip\\");
    EXPECT_EQ(album::AlbumPathOf(L"C:\\Albums\\", L"Trip\\"), L"C:\\Albums\\Trip\\");
    EXPECT_EQ(album::AlbumPathOf(L"C:\\Albums", L""), L"C:\\Albums\\");
    EXPECT_EQ(album::OutputNameOf(L"C:\\p\\beach.tif"), L"beach.jpg");
    EXPECT_EQ(album::OutputNameOf(L"C:\\p.d\\noext"), L"noext.jpg");
    EXPECT_EQ(album::OutputNameOf(L"C:\\p\\a.b.PNG"), L"a.b.jpg");
    EXPECT_EQ(album::RotationOf(L"270"), 270);
    EXPECT_EQ(album::RotationOf(L""), 0);
    EXPECT_EQ(album::RotationOf(L"ninety"), 0);
}

// The files (not folders) in Folder.
std::size_t FilesIn(const std::wstring& Folder)
{
    std::size_t count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((Folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return count;
}

// Every row gets a file name of its own: its own name for the first row that
// has it (compared ignoring case), else the first free numeric suffix that
// is no row's own name; only the list decides.
TEST(AlbumBuildNames, EveryRowGetsANameOfItsOwn)
{
    struct Case {
        std::vector<std::wstring> Paths;
        std::vector<std::wstring> Names;
    };
    const Case cases[] = {
        {{L"C:\\a\\IMG_0001.JPG", L"C:\\b\\IMG_0001.jpg", L"C:\\b\\IMG_0001.png"},
         {L"IMG_0001.jpg", L"IMG_0001_2.jpg", L"IMG_0001_3.jpg"}},
        // A later row's own name is kept free for it.
        {{L"C:\\a\\x.jpg", L"C:\\b\\x.tif", L"C:\\c\\x_2.jpg"}, {L"x.jpg", L"x_3.jpg", L"x_2.jpg"}},
        // Letters beyond ASCII compare ignoring case as well.
        {{L"C:\\a\\Ärger.jpg", L"C:\\b\\ärger.png", L"C:\\c\\other.gif"},
         {L"Ärger.jpg", L"ärger_2.jpg", L"other.jpg"}},
        {{L"C:\\a\\same.jpg", L"C:\\a\\same.jpg"}, {L"same.jpg", L"same_2.jpg"}},
    };
    for (const Case& c : cases) {
        std::vector<TAlbumRow> rows;
        for (const std::wstring& path : c.Paths) rows.push_back(Row(path, L"0"));
        EXPECT_EQ(album::OutputNamesOf(rows), c.Names) << testing::PrintToString(c.Paths);
    }
}

// Three different pictures of one file name from two folders: each arrives
// under its own name, with its own thumbnail, and the page links each row to
// its own files; a rebuild of the same list gives the same names.
TEST_F(AlbumBuild, PhotosOfOneNameKeepTheirOwnFiles)
{
    testsupport::TempDir sources;
    ::CreateDirectoryW(sources.File(L"a").c_str(), nullptr);
    ::CreateDirectoryW(sources.File(L"b").c_str(), nullptr);
    struct Photo {
        std::wstring Path;
        int Width, Height;    // the picture
        int ThumbW, ThumbH;   // its thumbnail in the 10 x 10 box
        const char* Name;     // its output name
    };
    const Photo photos[] = {
        {sources.File(L"a\\IMG_0001.JPG"), 30, 20, 10, 7, "IMG_0001.jpg"},
        {sources.File(L"b\\IMG_0001.jpg"), 20, 30, 7, 10, "IMG_0001_2.jpg"},
        {sources.File(L"b\\IMG_0001.png"), 24, 24, 10, 10, "IMG_0001_3.jpg"},
    };
    std::vector<TAlbumRow> rows;
    for (const Photo& p : photos) {
        MakePicture(p.Path, p.Width, p.Height);
        rows.push_back(Row(p.Path, L"0"));
    }
    settings.ColumnsNr = 3;
    host.Answer = IDYES;

    for (int build = 1; build <= 2; ++build) {
        SCOPED_TRACE(build);
        const TAlbumBuildResult result = BuildAlbum(input, rows, host);
        ASSERT_EQ(result.ImageCount, 3);
        EXPECT_EQ(FilesIn(Album(L"Images")), 3u);
        EXPECT_EQ(FilesIn(Album(L"Thumbnails")), 3u);
        const std::string page = ReadBytes(Album(L"index.html"));
        std::size_t at = 0;
        for (const Photo& p : photos) {
            SCOPED_TRACE(p.Name);
            const std::wstring name = classlib::Utf8ToWide(p.Name);
            const ImageInfo image = Inspect(Album(L"Images\\") + name);
            EXPECT_EQ(image.Width, p.Width);
            EXPECT_EQ(image.Height, p.Height);
            const ImageInfo thumb = Inspect(Album(L"Thumbnails\\tn_") + name);
            EXPECT_EQ(thumb.Width, p.ThumbW);
            EXPECT_EQ(thumb.Height, p.ThumbH);
            const std::string cell = std::string("href=\"Images/") + p.Name +
                                     "\" onClick=\"return vw.expand(this)\"><img src=\"Thumbnails/tn_" + p.Name +
                                     "\" width=\"" + std::to_string(p.ThumbW) + "\" height=\"" +
                                     std::to_string(p.ThumbH) + "\"";
            const std::size_t found = page.find(cell, at);
            ASSERT_NE(found, std::string::npos) << cell;
            at = found + cell.size();
        }
    }
    // The JPEG sources arrive byte for byte, each under its own name.
    EXPECT_EQ(ReadBytes(Album(L"Images\\IMG_0001.jpg")), ReadBytes(photos[0].Path));
    EXPECT_EQ(ReadBytes(Album(L"Images\\IMG_0001_2.jpg")), ReadBytes(photos[1].Path));
}

// The colour of a pixel of a picture file, at a fraction of its size.
imaging::TPxRGB PixelAt(const std::wstring& FileName, double X, double Y)
{
    imaging::TImgIO io(nullptr);
    io.LoadFromFile(FileName);
    imaging::TPxBitmap* image = io.GetCurrentBitmap();
    if (io.AbortFlag || image->GetWidth() == 0) {
        ADD_FAILURE() << "cannot read " << testing::PrintToString(FileName);
        return {};
    }
    image->SetPixelFormat(imaging::px24RGB);
    return image->GetPixelRGB(static_cast<int>(X * image->GetWidth()), static_cast<int>(Y * image->GetHeight()));
}

// Whether Pixel is Red, Green, Blue within a JPEG's error.
testing::AssertionResult Near(const imaging::TPxRGB& Pixel, int Red, int Green, int Blue)
{
    const int tolerance = 12;
    if (std::abs(Pixel.r - Red) <= tolerance && std::abs(Pixel.g - Green) <= tolerance &&
        std::abs(Pixel.b - Blue) <= tolerance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "pixel " << int(Pixel.r) << "," << int(Pixel.g) << "," << int(Pixel.b)
                                       << " is not near " << Red << "," << Green << "," << Blue;
}

// Transparent pixels whose hidden colour is magenta (RGBA and palette PNGs):
// the picture and its thumbnail (10 wide) show the page's background there
// and the opaque blue beside it, the picture fitted (to 8) or not.
TEST_F(AlbumBuild, TransparentPartsShowThePageBackground)
{
    settings.BckgrCol = 0x206040;  // red 0x40, green 0x60, blue 0x20
    for (const bool resize : {false, true}) {
        SCOPED_TRACE(resize ? "resized" : "not resized");
        settings.ResizeImg = resize;
        settings.MaxImg = 8;
        testsupport::TempDir albums;
        input.AlbumFolder = albums.Path();
        std::vector<TAlbumRow> rows = {Row(Fixture(L"album", L"hidden-colour-rgba.png"), L"0"),
                                       Row(Fixture(L"album", L"hidden-colour-palette.png"), L"0")};
        const TAlbumBuildResult result = BuildAlbum(input, rows, host);
        ASSERT_EQ(result.ImageCount, 2);
        for (const std::wstring file :
             {L"Images\\hidden-colour-rgba.jpg", L"Thumbnails\\tn_hidden-colour-rgba.jpg",
              L"Images\\hidden-colour-palette.jpg", L"Thumbnails\\tn_hidden-colour-palette.jpg"}) {
            SCOPED_TRACE(testing::PrintToString(file));
            EXPECT_EQ(Inspect(result.AlbumPath + file).Width, file[0] == L'T' ? 10 : resize ? 8 : 16);
            EXPECT_TRUE(Near(PixelAt(result.AlbumPath + file, 0.8, 0.5), 0x40, 0x60, 0x20));
            EXPECT_TRUE(Near(PixelAt(result.AlbumPath + file, 0.2, 0.5), 0, 0, 255));
        }
    }
}

// The number of colour components a JPEG's frame header states (-1 when it
// has none).
int JPEGComponents(const std::string& Bytes)
{
    for (std::size_t i = 2; i + 9 < Bytes.size(); ++i) {
        const auto marker = static_cast<uint8_t>(Bytes[i + 1]);
        if (static_cast<uint8_t>(Bytes[i]) == 0xFF && marker >= 0xC0 && marker <= 0xC2)
            return static_cast<uint8_t>(Bytes[i + 9]);
    }
    return -1;
}

// A CMYK JPEG (red left, green right) arrives as a three-component JPEG with
// those colours, the image and the thumbnail, when it is fitted and when
// it is small enough to have been copied byte for byte.
TEST_F(AlbumBuild, CMYKPhotosArriveAsRGB)
{
    const std::wstring source = Fixture(L"album", L"cmyk.jpg");
    ASSERT_EQ(JPEGComponents(ReadBytes(source)), 4);
    for (const bool resize : {false, true}) {
        SCOPED_TRACE(resize ? "resized" : "not resized");
        settings.ResizeImg = resize;
        settings.MaxImg = 24;
        testsupport::TempDir albums;
        input.AlbumFolder = albums.Path();
        std::vector<TAlbumRow> rows = {Row(source, L"0")};
        const TAlbumBuildResult result = BuildAlbum(input, rows, host);
        ASSERT_EQ(result.ImageCount, 1);
        EXPECT_EQ(Inspect(result.AlbumPath + L"Images\\cmyk.jpg").Width, resize ? 24 : 48);
        for (const std::wstring file : {L"Images\\cmyk.jpg", L"Thumbnails\\tn_cmyk.jpg"}) {
            SCOPED_TRACE(testing::PrintToString(file));
            EXPECT_EQ(JPEGComponents(ReadBytes(result.AlbumPath + file)), 3);
            const imaging::TPxRGB left = PixelAt(result.AlbumPath + file, 0.2, 0.5);
            const imaging::TPxRGB right = PixelAt(result.AlbumPath + file, 0.8, 0.5);
            EXPECT_TRUE(left.r > 160 && left.g < 100 && left.b < 100)
                << int(left.r) << "," << int(left.g) << "," << int(left.b);
            EXPECT_TRUE(right.g > 130 && right.r < 100 && right.b < 120)
                << int(right.r) << "," << int(right.g) << "," << int(right.b);
        }
    }
}

BOOL WINAPI FailAsFullDisk(HANDLE, LPCVOID, DWORD, LPDWORD Written, LPOVERLAPPED)
{
    if (Written) *Written = 0;
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// A full disk while the pictures are written ends the build with a message
// that names the picture (not its passing name) and the system's reason.
TEST_F(AlbumBuild, FullDiskNamesTheReason)
{
    album::SetOutputWriteCall(&FailAsFullDisk);
    const classlib::TOnExit restore([] { album::SetOutputWriteCall(nullptr); });
    std::vector<TAlbumRow> rows = {Row(Fixture(L"album", L"drawing.png"), L"0")};
    std::wstring message;
    try {
        BuildAlbum(input, rows, host);
    } catch (const classlib::Exception& e) {
        message = e.Message();
    }
    const std::wstring reason = classlib::SysErrorMessage(ERROR_DISK_FULL);
    ASSERT_FALSE(reason.empty());
    EXPECT_NE(message.find(reason), std::wstring::npos) << testing::PrintToString(message);
    EXPECT_NE(message.find(L"drawing.jpg\""), std::wstring::npos) << testing::PrintToString(message);
    EXPECT_EQ(message.find(L".part"), std::wstring::npos) << testing::PrintToString(message);
    EXPECT_FALSE(FileExists(Album()));
}

// An existing album: "No" leaves it untouched and gives the album name the
// focus; "Yes" builds over it. The question names the album wherever the
// text says "%f1", in any case.
TEST_F(AlbumBuild, OverwriteQuestion)
{
    ::CreateDirectoryW(Album().c_str(), nullptr);
    WriteBytes(Album(L"index.html"), "old album");
    testsupport::TempDir lang;
    WriteBytes(lang.File(L"Morvane_Test.txt"), "priLangId=07\r\nmsgAlbumExist=Replace %F1 (%f1)?\r\n");
    album::TTranslation translation;
    ASSERT_TRUE(translation.LoadFromFile(lang.File(L"Morvane_Test.txt")));
    input.Translation = &translation;
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};

    host.Answer = IDNO;
    TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Declined);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].first, L"Replace Album1 (Album1)?");
    EXPECT_EQ(host.Messages[0].second, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(host.Focus, 1);
    EXPECT_EQ(host.Log, "");
    EXPECT_EQ(ReadBytes(Album(L"index.html")), "old album");
    EXPECT_FALSE(FileExists(Album(L"Images")));
    EXPECT_FALSE(FileExists(Album(L"first.gif")));

    host = RecordingHost();
    host.Answer = IDYES;
    result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_EQ(result.ImageCount, 1);
    EXPECT_EQ(host.Focus, 0);
    EXPECT_NE(ReadBytes(Album(L"index.html")).find("tn_rgb8.jpg"), std::string::npos);
}

// Cancel during the first image's turn: that image is finished, the loop
// stops before the next one; nothing reaches the album folder, the message
// says so; no browser; the flag is cleared and the window restored.
TEST_F(AlbumBuild, CancelStopsBeforeNextImage)
{
    std::vector<TAlbumRow> rows = {
        Row(Fixture(L"io\\png", L"rgb8.png"), L"0"),
        Row(Fixture(L"io\\jpeg", L"baseline.jpg"), L"0"),
        Row(Fixture(L"io\\jpeg", L"rgb.jpg"), L"0"),
    };
    host.CancelDuringImage = 1;
    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Cancelled);
    EXPECT_EQ(result.ImageCount, 1);
    EXPECT_EQ(result.PageCount, 0);
    EXPECT_FALSE(FileExists(Album()));
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
    EXPECT_EQ(rows[0].SubItems[1], L"1");
    EXPECT_TRUE(rows[0].Checked);
    EXPECT_FALSE(rows[1].Checked);
    EXPECT_EQ(rows[1].SubItems[1], L"");
    EXPECT_EQ(host.ImagePercents, (std::vector<int>{33}));
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].first, L"The build was cancelled. No album \"Album1\" was written, and nothing of "
                                      L"this build was left in the album folder.");
    EXPECT_TRUE(host.Opened.empty());
    EXPECT_EQ(host.CancelRequested, 0);
    EXPECT_EQ(host.Log, "DSHR");

    // Over an existing album: the album stays as it was, and the message
    // says so.
    host = RecordingHost();
    host.Answer = IDYES;
    host.CancelDuringImage = 2;
    ::CreateDirectoryW(Album().c_str(), nullptr);
    ::CreateDirectoryW(Album(L"Images").c_str(), nullptr);
    const std::string oldPage = "<img src=\"Images/rgb8.jpg\">";
    WriteBytes(Album(L"index.html"), oldPage);
    WriteBytes(Album(L"Images\\rgb8.jpg"), "old image");
    EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Cancelled);
    ASSERT_EQ(host.Messages.size(), 2u);
    EXPECT_EQ(host.Messages[1].first,
              L"The build was cancelled. The album \"Album1\" was left as it was before: nothing of this build "
              L"was written into it.");
    EXPECT_EQ(ReadBytes(Album(L"index.html")), oldPage);
    EXPECT_EQ(ReadBytes(Album(L"Images\\rgb8.jpg")), "old image");
    EXPECT_FALSE(FileExists(Album(L"first.gif")));
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
}

// A rebuild of an album built without a record of its files replaces the
// files its pages name (its pages, including those beyond the new page
// count, and their pictures) and leaves the files the user put into the
// album folder.
TEST_F(AlbumBuild, RebuildReplacesOnlyTheAlbumsOwnFiles)
{
    ::CreateDirectoryW(Album().c_str(), nullptr);
    ::CreateDirectoryW(Album(L"Images").c_str(), nullptr);
    WriteBytes(Album(L"index.html"), "<a href=\"index7.html\">next</a>");
    WriteBytes(Album(L"index7.html"), "<img src=\"Images/gone.jpg\"><a href=\"Images/my%20trip%C3%A9.jpg\">");
    WriteBytes(Album(L"Images\\my trip\u00E9.jpg"), "named percent-encoded");
    WriteBytes(Album(L"Images\\gone.jpg"), "a picture no longer in the list");
    WriteBytes(Album(L"notes.txt"), "the user's notes");
    WriteBytes(Album(L"index7.htm"), "not a page of the album");
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};
    host.Answer = IDYES;
    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_NE(ReadBytes(Album(L"index.html")).find("tn_rgb8.jpg"), std::string::npos);
    EXPECT_FALSE(FileExists(Album(L"index7.html")));
    EXPECT_FALSE(FileExists(Album(L"Images\\gone.jpg")));
    EXPECT_FALSE(FileExists(Album(L"Images\\my trip\u00E9.jpg")));
    EXPECT_TRUE(FileExists(Album(L"Images\\rgb8.jpg")));
    EXPECT_TRUE(FileExists(Album(L"viewer\\viewer.js")));
    EXPECT_EQ(ReadBytes(Album(L"notes.txt")), "the user's notes");
    EXPECT_EQ(ReadBytes(Album(L"index7.htm")), "not a page of the album");
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-old")));
}

// Files the user put into the album's own folders stay through every
// build: the build asks before it writes into a folder holding album items
// (here only "Images", no page), then writes beside the user's files, a
// rebuild replaces only what a build wrote, and a new file whose name a
// user's file already has stops the build before anything is written.
TEST_F(AlbumBuild, UsersFilesInTheAlbumFoldersStay)
{
    ::CreateDirectoryW(Album().c_str(), nullptr);
    ::CreateDirectoryW(Album(L"Images").c_str(), nullptr);
    WriteBytes(Album(L"Images\\my-original.jpg"), "the user's photo");
    WriteBytes(Album(L"Images\\notes.txt"), "the user's notes");
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};

    host.Answer = IDNO;
    EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Declined);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_NE(host.Messages[0].first.find(L"\"Album1\" already holds album files"), std::wstring::npos);
    EXPECT_EQ(host.Messages[0].second, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_FALSE(FileExists(Album(L"index.html")));

    host = RecordingHost();
    host.Answer = IDYES;
    EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_TRUE(FileExists(Album(L"Images\\rgb8.jpg")));
    EXPECT_EQ(ReadBytes(Album(L"Images\\my-original.jpg")), "the user's photo");
    EXPECT_EQ(ReadBytes(Album(L"Images\\notes.txt")), "the user's notes");

    // The rebuild with another picture: the first build's picture goes.
    host = RecordingHost();
    host.Answer = IDYES;
    rows = {Row(Fixture(L"io\\jpeg", L"baseline.jpg"), L"0")};
    EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_FALSE(FileExists(Album(L"Images\\rgb8.jpg")));
    EXPECT_TRUE(FileExists(Album(L"Images\\baseline.jpg")));
    EXPECT_EQ(ReadBytes(Album(L"Images\\my-original.jpg")), "the user's photo");
    EXPECT_EQ(ReadBytes(Album(L"Images\\notes.txt")), "the user's notes");
    const std::string page = ReadBytes(Album(L"index.html"));

    // A picture whose copy would take the user's photo's name.
    testsupport::TempDir sources;
    ::CopyFileW(Fixture(L"io\\png", L"rgb8.png").c_str(), sources.File(L"my-original.png").c_str(), FALSE);
    host = RecordingHost();
    host.Answer = IDYES;
    rows = {Row(sources.File(L"my-original.png"), L"0")};
    EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::FilesInTheWay);
    ASSERT_EQ(host.Messages.size(), 2u);
    EXPECT_NE(host.Messages[1].first.find(L"not written by an album build"), std::wstring::npos);
    EXPECT_NE(host.Messages[1].first.find(Album(L"Images\\my-original.jpg")), std::wstring::npos);
    EXPECT_EQ(host.Log, "");
    EXPECT_EQ(ReadBytes(Album(L"Images\\my-original.jpg")), "the user's photo");
    EXPECT_EQ(ReadBytes(Album(L"index.html")), page);
    EXPECT_TRUE(FileExists(Album(L"Images\\baseline.jpg")));
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
}

// While another build holds the album's work folder, a build is told so and
// touches nothing of it; once that build is gone the album is built.
TEST_F(AlbumBuild, SecondBuildOfOneAlbumIsKeptOut)
{
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};
    {
        album::TAlbumStaging other(Album());
        ASSERT_EQ(other.Create(), album::TStagingState::Ready);
        WriteBytes(other.WorkPath() + L"index.html", "the other build's page");
        EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Busy);
        ASSERT_EQ(host.Messages.size(), 1u);
        EXPECT_NE(host.Messages[0].first.find(L"Another copy of the program is building"), std::wstring::npos);
        EXPECT_EQ(host.Log, "");
        EXPECT_EQ(ReadBytes(other.WorkPath() + L"index.html"), "the other build's page");
        EXPECT_FALSE(FileExists(Album()));
    }
    host = RecordingHost();
    EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_NE(ReadBytes(Album(L"index.html")).find("tn_rgb8.jpg"), std::string::npos);
}

// A build killed after any step of putting its album in place (the stop
// hook stands for the kill) is completed by the next build before it asks
// anything: the album folder then holds the whole new album, nothing of the
// previous one, and the user's file.
TEST_F(AlbumBuild, BuildKilledWhilePublishingIsCompletedByTheNextBuild)
{
    bool finished = false;
    for (int stop = -1; !finished && stop < 100; ++stop) {
        SCOPED_TRACE(stop);
        testsupport::TempDir folder;
        input.AlbumFolder = folder.Path();
        const std::wstring album = folder.File(L"Album1\\");
        host = RecordingHost();
        std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};
        ASSERT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Completed);
        WriteBytes(album + L"notes.txt", "the user's notes");

        host = RecordingHost();
        host.Answer = IDYES;
        rows = {Row(Fixture(L"io\\jpeg", L"baseline.jpg"), L"0"), Row(Fixture(L"io\\jpeg", L"rgb.jpg"), L"0")};
        album::TAlbumStaging::StopAfterStep = [stop](int Step) { return Step == stop; };
        try {
            finished = BuildAlbum(input, rows, host).Outcome == TAlbumBuildOutcome::Completed;
        } catch (const classlib::EAbort&) {
        }
        album::TAlbumStaging::StopAfterStep = nullptr;

        host = RecordingHost();
        host.Answer = IDNO;
        EXPECT_EQ(BuildAlbum(input, rows, host).Outcome, TAlbumBuildOutcome::Declined);
        const std::string page = ReadBytes(album + L"index.html");
        EXPECT_NE(page.find("Images/baseline.jpg"), std::string::npos);
        EXPECT_NE(page.find("Images/rgb.jpg"), std::string::npos);
        for (const wchar_t* name : {L"Images\\baseline.jpg", L"Images\\rgb.jpg", L"Thumbnails\\tn_rgb.jpg",
                                    L"viewer\\viewer.js", L"next_d.gif"})
            EXPECT_TRUE(FileExists(album + name)) << testing::PrintToString(std::wstring(name));
        EXPECT_FALSE(FileExists(album + L"Images\\rgb8.jpg"));
        EXPECT_FALSE(FileExists(album + L"Thumbnails\\tn_rgb8.jpg"));
        EXPECT_EQ(ReadBytes(album + L"notes.txt"), "the user's notes");
        EXPECT_FALSE(FileExists(folder.File(L"Album1.velmo-old")));
        EXPECT_FALSE(FileExists(folder.File(L"Album1.velmo-swap")));
    }
    EXPECT_TRUE(finished) << "the build never ran to its end";
}

// An album folder of 262 characters: every file the pages need arrives,
// the viewer's included, through the long-path forms.
TEST_F(AlbumBuild, LongAlbumPathGetsTheWholeAlbum)
{
    std::wstring folder = out.Path() + L"\\";
    folder += std::wstring(262 - folder.size(), L'L');
    ASSERT_EQ(folder.size(), 262u);
    ASSERT_TRUE(::CreateDirectoryW(album::ExtendedPath(folder).c_str(), nullptr));
    input.AlbumFolder = folder;
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};
    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].first, L"HTML Album has been successfully created!");
    const std::wstring album = folder + L"\\Album1\\";
    for (const wchar_t* name : {L"index.html", L"viewer\\viewer.js", L"viewer\\img\\close.txt", L"first.gif",
                                L"last_d.gif", L"Images\\rgb8.jpg", L"Thumbnails\\tn_rgb8.jpg"})
        EXPECT_TRUE(FileExists(album::ExtendedPath(album + name))) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(ReadBytes(album::ExtendedPath(album + L"viewer\\viewer.js")), "// viewer\r\n");
    EXPECT_FALSE(FileExists(album::ExtendedPath(folder + L"\\Album1.velmo-new")));
}

// The ways a build ends early without images: an empty list, an album
// folder that can't be written.
TEST_F(AlbumBuild, EarlyEnds)
{
    std::vector<TAlbumRow> none;
    EXPECT_EQ(BuildAlbum(input, none, host).Outcome, TAlbumBuildOutcome::EmptyList);
    EXPECT_FALSE(FileExists(Album()));
    EXPECT_TRUE(host.Messages.empty());

    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};

    // The album's folder name is taken by a file: nothing can be written.
    WriteBytes(out.File(L"Album1"), "a file");
    TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::NotWritable);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].first,
              L"Could not write file(s) to output folder. Check permissions or remove write protection.");
    EXPECT_EQ(host.Messages[0].second, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(host.Log, "");
    EXPECT_FALSE(rows[0].Checked);
    EXPECT_EQ(ReadBytes(out.File(L"Album1")), "a file");
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
    ::DeleteFileW(out.File(L"Album1").c_str());
}

// An empty album name builds straight into the album folder; a single image
// shows 99 on the counter, never 100. A viewer folder that cannot be copied
// ends the build with a message naming it, before anything is put in place.
TEST_F(AlbumBuild, EmptyNameSingleImageNoViewer)
{
    ProgramFolder bare(false);
    input.ProgramFolder = bare.Dir.Path();
    input.AlbumName.clear();
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\jpeg", L"baseline.jpg"), L"180")};
    TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::FilesMissing);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_NE(host.Messages[0].first.find(L"viewer could not be copied"), std::wstring::npos);
    EXPECT_NE(host.Messages[0].first.find(bare.Dir.Path() + L"\\viewer"), std::wstring::npos);
    EXPECT_EQ(host.Messages[0].second, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_FALSE(FileExists(out.File(L"index.html")));
    EXPECT_FALSE(FileExists(out.File(L"Images")));

    host = RecordingHost();
    input.ProgramFolder = program.Dir.Path();
    result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_EQ(result.AlbumPath, out.Path() + L"\\");
    EXPECT_TRUE(FileExists(out.File(L"index.html")));
    EXPECT_EQ(ReadBytes(out.File(L"viewer\\viewer.js")), "// viewer\r\n");
    const ImageInfo image = Inspect(out.File(L"Images\\baseline.jpg"));
    EXPECT_EQ(image.Width, 50);
    EXPECT_EQ(image.Height, 34);
    EXPECT_EQ(image.JPEGLumaDC, 5);
    EXPECT_EQ(host.ImagePercents, (std::vector<int>{99}));
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].first, L"HTML Album has been successfully created!");
}

// Every kind of picture the toolkit reads is published, also those whose
// format units the program's own code never names (HD Photo is read through
// the platform's imaging component).
TEST_F(AlbumBuild, PicturesOfEveryInstalledFormatArePublished)
{
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\hdp", L"rgb24.wdp"), L"0"),
                                   Row(Fixture(L"io\\formats", L"ico.ico"), L"0")};
    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    for (const TAlbumRow& row : rows) EXPECT_TRUE(row.Checked) << classlib::WideToUtf8(row.SkipReason);
    EXPECT_TRUE(FileExists(out.File(L"Album1\\Images\\rgb24.jpg")));
    EXPECT_TRUE(FileExists(out.File(L"Album1\\Images\\ico.jpg")));
}

// The corner of a picture that holds the green block MakePicture draws:
// 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right; -1 when none or
// several do.
int GreenCorner(const std::wstring& FileName, int& Width, int& Height)
{
    imaging::TImgIO io(nullptr);
    io.LoadFromFile(FileName);
    imaging::TPxBitmap* image = io.GetCurrentBitmap();
    Width = image->GetWidth();
    Height = image->GetHeight();
    const POINT corners[] = {{2, 2}, {Width - 3, 2}, {2, Height - 3}, {Width - 3, Height - 3}};
    int found = -1;
    for (int i = 0; i < 4; ++i)
        if (image->GetPixelAsRGB(corners[i].x, corners[i].y).g > 0xB0) {
            if (found >= 0) return -1;
            found = i;
        }
    return found;
}

// A picture stored mirrored (EXIF orientations 2, 4, 5, 7) gets the turn of
// its orientation as rotation, and its album copy and thumbnail show it as
// the camera saw it, stating the normal orientation; never a byte copy that
// still says "mirrored".
TEST_F(AlbumBuild, MirroredOrientationsAreUndoneInTheCopies)
{
    struct Case {
        int Orientation;
        const wchar_t* Rotation;  // what a new row gets
        int Width, Height;        // of the copy
        int Corner;               // where the block shows
    };
    const Case cases[] = {
        {2, L"0", 30, 20, 1},    // mirrored left to right
        {4, L"180", 30, 20, 2},  // mirrored top to bottom
        {5, L"90", 20, 30, 0},   // transposed
        {7, L"270", 20, 30, 3},  // transversed
        {6, L"270", 20, 30, 1},  // a plain turn stays a turn
    };
    for (bool resize : {false, true}) {
        settings.ResizeImg = resize;
        settings.MaxTh = 100;
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "orientation " << c.Orientation << (resize ? " resized" : ""));
            EXPECT_EQ(album::RotationOfOrientation(c.Orientation), c.Rotation);
            testsupport::TempDir sources;
            const std::wstring source = sources.File(L"m" + std::to_wstring(c.Orientation) + L".jpg");
            {
                imaging::TPxBitmap image(30, 20, imaging::px24RGB);
                image.Fill(0x3060C0);
                image.FillRect(0, 0, 10, 6, 0x10F020);
                auto io = imaging::TImgIO::CreateForBitmap(&image);
                io->FileParams->HasEXIF = true;
                io->FileParams->SetEXIFOrientation(c.Orientation);
                io->SaveJPEGToFile(source);
                ASSERT_FALSE(io->AbortFlag);
            }
            ASSERT_EQ(Inspect(source).Orientation, c.Orientation);
            std::vector<TAlbumRow> rows = {Row(source, c.Rotation)};
            host.Answer = IDYES;
            BuildAlbum(input, rows, host);
            const std::wstring name = L"m" + std::to_wstring(c.Orientation) + L".jpg";
            for (const std::wstring& file : {Album(L"Images\\") + name, Album(L"Thumbnails\\tn_") + name}) {
                int w = 0, h = 0;
                EXPECT_EQ(GreenCorner(file, w, h), c.Corner) << testing::PrintToString(file);
                EXPECT_EQ(w, c.Width);
                EXPECT_EQ(h, c.Height);
                EXPECT_EQ(Inspect(file).Orientation, 1);
            }
        }
    }
}

// A navigation picture that is missing, or whose table is too short for the
// two colours, ends the build with an exception; the window is restored.
TEST_F(AlbumBuild, BadNavigationPictureRaises)
{
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\png", L"rgb8.png"), L"0")};
    ::DeleteFileW((program.Dir.Path() + L"\\GIFs\\next.gif").c_str());
    EXPECT_THROW(BuildAlbum(input, rows, host), classlib::Exception);
    EXPECT_EQ(host.Log, "DHR");
    EXPECT_FALSE(FileExists(Album()));
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));

    // Two-entry table: entry 2 does not exist.
    std::string twoEntries = TinyGif(kNavColors);
    twoEntries[10] = '\x80';
    twoEntries.erase(19, 6);
    const std::wstring small = out.File(L"small.gif");
    WriteBytes(small, twoEntries);
    EXPECT_THROW(album::CorrectGIF(small, out.File(L"small_out.gif"), 0, 0), classlib::Exception);
}

// ---- photographs ----------------------------------------------------------------

const wchar_t* const kPhotos[] = {L"camera-landscape.jpg", L"camera-portrait.jpg", L"camera-grey.jpg",
                                  L"drawing.png"};

// The image work as one off-screen view does it step for step, decoding the
// source a second time for the thumbnail when resizing: the road whose files
// the build must reproduce byte for byte.
void BuildWithOneView(const std::wstring& Path, int Rotation, const album::TSettings& Settings,
                      const std::wstring& ImageFile, const std::wstring& ThumbnailFile)
{
    imaging::TImgView view(nullptr);
    view.SetLegacyBitmap(false);
    imaging::TImgIO* io = view.GetIO();
    io->FileParams->JPEGQuality = 85;
    view.GetProc()->AutoUndo = true;
    view.GetProc()->SetUndoLimit(1);
    auto turn = [&] { view.GetProc()->Rotate(Rotation, false, 0, static_cast<classlib::TColor>(-1)); };
    int orientation = 1;
    auto load = [&] {
        io->LoadFromFile(Path);
        ASSERT_FALSE(io->AbortFlag);
        orientation = io->FileParams->HasEXIF ? io->FileParams->EXIFOrientation : 1;
        if (io->FileParams->HasEXIF) io->FileParams->SetEXIFOrientation(1);
    };
    auto mirror = [&] {
        if (album::IsMirroredOrientation(orientation)) imaging::PxFlipBitmap(view.GetPxBitmap(), 0);
    };
    try {
        io->ReadParamsFromFile(Path);
    } catch (...) {
    }
    io->AutoAdjustDPI = io->FileParams->FileFormat == 1;
    load();
    const bool normal = orientation <= 1 || orientation > 8;
    if (io->FileParams->FileFormat == 3 && !Settings.ResizeImg && Rotation == 0 && normal) {
        ::CopyFileW(Path.c_str(), ImageFile.c_str(), FALSE);
    } else {
        if (Settings.ResizeImg) album::ResizeToWH(&view, Settings.MaxImg, Settings.MaxImg);
        mirror();
        if (Rotation != 0) turn();
        io->SaveJPEGToFile(ImageFile);
    }
    if (Settings.ResizeImg) load();
    album::ResizeToWH(&view, Settings.MaxTh, Settings.MaxTh);
    if (Settings.ResizeImg) {
        mirror();
        turn();
    }
    io->SaveJPEGToFile(ThumbnailFile);
}

// The build decodes every photo once and makes both files from that one
// image; its files are byte for byte those of the view's road, with and
// without resizing, for copies that are fitted or not, for right and other
// angles, for colour, grey, progressive and PNG sources.
TEST_F(AlbumBuild, OneDecodeGivesTheFilesOfTheViewRoad)
{
    struct Case {
        bool Resize;
        int MaxImg, MaxTh;
    };
    testsupport::TempDir sources;
    ::CopyFileW(Fixture(L"album", L"camera-landscape.jpg").c_str(), sources.File(L"tilted.jpg").c_str(), FALSE);
    const std::vector<std::pair<std::wstring, std::wstring>> photos = {
        {Fixture(L"album", L"camera-landscape.jpg"), L"0"}, {Fixture(L"album", L"camera-portrait.jpg"), L"90"},
        {Fixture(L"album", L"camera-grey.jpg"), L"270"},    {Fixture(L"album", L"drawing.png"), L"0"},
        {sources.File(L"tilted.jpg"), L"30"},
    };
    for (const Case& c : {Case{true, 200, 50}, Case{true, 1000, 60}, Case{false, 0, 50}}) {
        SCOPED_TRACE(testing::Message() << "resize " << c.Resize << " box " << c.MaxImg << " thumbnails " << c.MaxTh);
        settings.ResizeImg = c.Resize;
        settings.MaxImg = c.MaxImg == 0 ? settings.MaxImg : c.MaxImg;
        settings.MaxTh = c.MaxTh;
        testsupport::TempDir albums, road;
        input.AlbumFolder = albums.Path();
        std::vector<TAlbumRow> rows;
        for (const auto& [path, rotation] : photos) rows.push_back(Row(path, rotation));
        RecordingHost quiet;
        const TAlbumBuildResult result = BuildAlbum(input, rows, quiet);
        ASSERT_EQ(result.ImageCount, static_cast<int>(photos.size()));

        for (const auto& [path, rotation] : photos) {
            const std::wstring name = album::OutputNameOf(path);
            SCOPED_TRACE(testing::PrintToString(name));
            BuildWithOneView(path, album::RotationOf(rotation), settings, road.File(name), road.File(L"tn_" + name));
            const std::string image = ReadBytes(result.AlbumPath + L"Images\\" + name);
            const std::string thumbnail = ReadBytes(result.AlbumPath + L"Thumbnails\\tn_" + name);
            ASSERT_FALSE(image.empty());
            ASSERT_FALSE(thumbnail.empty());
            EXPECT_TRUE(image == ReadBytes(road.File(name)));
            EXPECT_TRUE(thumbnail == ReadBytes(road.File(L"tn_" + name)));
        }
    }
}

// Copies of the fixture photographs as p01.jpg, p02.png ... in Folder (Count
// of them, the four photographs in turn); Broken (1-based, 0 none) is a file
// that is no picture.
std::vector<TAlbumRow> PhotoRows(const testsupport::TempDir& Folder, int Count, int Broken)
{
    std::vector<TAlbumRow> rows;
    for (int i = 1; i <= Count; ++i) {
        const std::wstring photo = kPhotos[(i - 1) % 4];
        wchar_t name[16];
        swprintf(name, 16, L"p%02d%ls", i, photo.substr(photo.rfind(L'.')).c_str());
        const std::wstring file = Folder.File(name);
        if (i == Broken)
            WriteBytes(file, "\xFF\xD8\xFF\xE0 no picture after all");
        else
            ::CopyFileW(Fixture(L"album", photo).c_str(), file.c_str(), FALSE);
        rows.push_back(Row(file, i % 3 == 0 ? L"90" : L"0", L"T" + std::to_wstring(i)));
    }
    return rows;
}

// Many photos and a broken one in the middle, worked on by several threads:
// numbers, rows, pages and progress come in list order; the broken row is
// skipped as it always was; each photo's step reports come after its own
// image counter and before the next one, rise through the photo's whole
// work (never back to the start of each step) and end at 100.
TEST_F(AlbumBuild, SeveralPhotosAtOnceKeepListOrder)
{
    testsupport::TempDir sources;
    FitIntoSmallBoxes();
    std::vector<TAlbumRow> rows = PhotoRows(sources, 13, 6);

    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_EQ(result.ImageCount, 12);
    EXPECT_EQ(result.PageCount, 6);

    int number = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].SubItems[4], L"T" + std::to_wstring(i + 1));
        if (i == 5) {
            EXPECT_FALSE(rows[i].Checked);
            EXPECT_EQ(rows[i].SubItems[1], L"");
            continue;
        }
        EXPECT_TRUE(rows[i].Checked);
        EXPECT_EQ(rows[i].SubItems[1], std::to_wstring(++number));
        const ImageInfo thumb = Inspect(Album(L"Thumbnails\\tn_") + album::OutputNameOf(rows[i].Path));
        EXPECT_EQ(rows[i].SubItems[2], std::to_wstring(thumb.Width));
        EXPECT_EQ(rows[i].SubItems[3], std::to_wstring(thumb.Height));
    }
    EXPECT_EQ(FilesIn(Album(L"Images")), 12u);
    EXPECT_EQ(FilesIn(Album(L"Thumbnails")), 12u);

    // The pages, read one after the other, name the thumbnails in list order.
    std::string pages = ReadBytes(Album(L"index.html"));
    for (int page = 2; page <= 6; ++page) pages += ReadBytes(Album(L"index" + std::to_wstring(page) + L".html"));
    std::size_t at = 0;
    for (const TAlbumRow& row : rows) {
        if (!row.Checked) continue;
        const std::string tn = "Thumbnails/tn_" + classlib::WideToUtf8(album::OutputNameOf(row.Path));
        const std::size_t found = pages.find(tn, at);
        ASSERT_NE(found, std::string::npos) << tn;
        at = found + tn.size();
    }

    std::vector<int> percents;
    for (int i = 1; i <= 13; ++i) percents.push_back(std::min(99, static_cast<int>(classlib::Round(i * 100.0 / 13))));
    EXPECT_EQ(host.ImagePercents, percents);
    ASSERT_EQ(host.Progress.front(), 'I');
    std::vector<std::string> turns;
    for (char c : host.Progress) {
        if (c == 'I') {
            turns.emplace_back();
        } else {
            turns.back() += c;
        }
    }
    ASSERT_EQ(turns.size(), 13u);
    ASSERT_EQ(host.Steps.size(), 13u);
    for (std::size_t i = 0; i < turns.size(); ++i) {
        if (i != 5) {
            EXPECT_FALSE(turns[i].empty()) << "no step reports in turn " << i;
            const std::vector<int>& steps = host.Steps[i];
            EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end())) << "turn " << i << ": " << testing::PrintToString(steps);
            if (!steps.empty()) {
                EXPECT_EQ(steps.back(), 100) << "turn " << i;
            }
        }
    }
}

// A cancel while many photos are being worked on: the rows before it are
// numbered, none of the photos after it, even those already worked on; the
// album folder gets nothing.
TEST_F(AlbumBuild, CancelWithSeveralPhotosAtOnce)
{
    testsupport::TempDir sources;
    std::vector<TAlbumRow> rows = PhotoRows(sources, 12, 0);
    host.CancelDuringImage = 3;
    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Cancelled);
    EXPECT_EQ(result.ImageCount, 3);
    EXPECT_EQ(rows[2].SubItems[1], L"3");
    EXPECT_FALSE(FileExists(Album()));
    for (std::size_t i = 3; i < rows.size(); ++i) {
        EXPECT_FALSE(rows[i].Checked) << i;
        EXPECT_EQ(rows[i].SubItems[1], L"") << i;
    }
    EXPECT_FALSE(FileExists(Album(L"index.html")));
    EXPECT_EQ(host.Log, "DSHR");
}

// A photo whose thumbnail can't be written ends the build there: the rows
// before it are numbered, nothing after it; the previous album stays as it
// was; the window is restored.
TEST_F(AlbumBuild, FailingWriteInTheMiddleEndsTheBuild)
{
    testsupport::TempDir sources;
    FitIntoSmallBoxes();
    std::vector<TAlbumRow> rows = PhotoRows(sources, 9, 0);
    ::CreateDirectoryW(Album().c_str(), nullptr);
    WriteBytes(Album(L"index.html"), "old album");
    host.Answer = IDYES;
    // A folder where the build writes the fourth thumbnail (in its work
    // folder beside the album).
    const std::wstring blocker = out.File(L"Album1.velmo-new\\Thumbnails\\tn_p04.jpg");
    host.AtImage = [&](std::size_t Image) {
        if (Image == 1) ::CreateDirectoryW(blocker.c_str(), nullptr);
    };

    EXPECT_THROW(BuildAlbum(input, rows, host), classlib::Exception);
    EXPECT_EQ(host.Log, "DSHR");
    EXPECT_EQ(host.CancelRequested, 0);
    EXPECT_EQ(rows[2].SubItems[1], L"3");
    EXPECT_EQ(rows[3].SubItems[1], L"");
    EXPECT_EQ(ReadBytes(Album(L"index.html")), "old album");
    EXPECT_FALSE(FileExists(Album(L"Images")));
    EXPECT_FALSE(FileExists(out.File(L"Album1.velmo-new")));
}

}  // namespace
