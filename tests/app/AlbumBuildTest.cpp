// The album build end to end: a program folder with hand-made navigation
// GIFs and a tiny viewer folder, fixture pictures of the I/O tests as the
// album list, a recording host that answers the questions, and the album
// folder checked file by file.
#include "app/AlbumBuild.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "AlbumTestFiles.h"
#include "app/Settings.h"
#include "app/Translations.h"
#include "classlib/Exceptions.h"
#include "gif/GIFImage.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"
#include "support/TestSupport.h"

using album::BuildAlbum;
using album::TAlbumBuildHost;
using album::TAlbumBuildInput;
using album::TAlbumBuildOutcome;
using album::TAlbumBuildResult;
using album::TAlbumRow;
using albumtest::FileExists;
using albumtest::Fixture;
using albumtest::ProgramFolder;
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
    int Focus = 0;
    std::vector<std::wstring> Opened;
    std::size_t CancelDuringImage = 0;  // 1-based image whose turn sets the cancel flag

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
        if (ImagePercents.size() == CancelDuringImage) CancelRequested = 1;
    }
    void SetStepPercent(int) override { ++StepReports; }
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
// stops before the next one; no pages, no message, no browser; the flag is
// cleared and the window restored.
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
    EXPECT_TRUE(FileExists(Album(L"Images\\rgb8.jpg")));
    EXPECT_TRUE(FileExists(Album(L"Thumbnails\\tn_rgb8.jpg")));
    EXPECT_FALSE(FileExists(Album(L"Images\\baseline.jpg")));
    EXPECT_FALSE(FileExists(Album(L"index.html")));
    EXPECT_TRUE(FileExists(Album(L"first.gif")));
    EXPECT_TRUE(FileExists(Album(L"viewer\\viewer.js")));
    EXPECT_EQ(rows[0].SubItems[1], L"1");
    EXPECT_TRUE(rows[0].Checked);
    EXPECT_FALSE(rows[1].Checked);
    EXPECT_EQ(rows[1].SubItems[1], L"");
    EXPECT_EQ(host.ImagePercents, (std::vector<int>{33}));
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_TRUE(host.Opened.empty());
    EXPECT_EQ(host.CancelRequested, 0);
    EXPECT_EQ(host.Log, "DSHR");
}

// The ways a build ends early without images: an empty list, an album
// folder that can't be written, "Images" that can't be created.
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
    ::DeleteFileW(out.File(L"Album1").c_str());

    // "Images" is taken by a file: the album can't be made; controls restored.
    host = RecordingHost();
    ::CreateDirectoryW(Album().c_str(), nullptr);
    WriteBytes(Album(L"Images"), "a file");
    result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::FoldersMissing);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].first, L"Could not create the album.");
    EXPECT_EQ(host.Messages[0].second, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(host.Log, "DHR");
    EXPECT_EQ(host.Status, (std::vector<std::wstring>{L"Press ESC to abort", L""}));
    EXPECT_FALSE(FileExists(Album(L"first.gif")));
}

// An empty album name builds straight into the album folder; a single image
// shows 99 on the counter, never 100; a missing viewer folder is reported
// and the build goes on.
TEST_F(AlbumBuild, EmptyNameSingleImageNoViewer)
{
    ProgramFolder bare(false);
    input.ProgramFolder = bare.Dir.Path();
    input.AlbumName.clear();
    std::vector<TAlbumRow> rows = {Row(Fixture(L"io\\jpeg", L"baseline.jpg"), L"180")};
    const TAlbumBuildResult result = BuildAlbum(input, rows, host);
    EXPECT_EQ(result.Outcome, TAlbumBuildOutcome::Completed);
    EXPECT_EQ(result.AlbumPath, out.Path() + L"\\");
    EXPECT_TRUE(FileExists(out.File(L"index.html")));
    const ImageInfo image = Inspect(out.File(L"Images\\baseline.jpg"));
    EXPECT_EQ(image.Width, 50);
    EXPECT_EQ(image.Height, 34);
    EXPECT_EQ(image.JPEGLumaDC, 5);
    EXPECT_EQ(host.ImagePercents, (std::vector<int>{99}));
    ASSERT_EQ(host.Messages.size(), 2u);
    EXPECT_EQ(host.Messages[0].first, L"File copy process cancelled");
    EXPECT_EQ(host.Messages[1].first, L"HTML Album has been successfully created!");
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
    EXPECT_TRUE(FileExists(Album(L"prev.gif")));
    EXPECT_FALSE(FileExists(Album(L"next.gif")));

    // Two-entry table: entry 2 does not exist.
    std::string twoEntries = TinyGif(kNavColors);
    twoEntries[10] = '\x80';
    twoEntries.erase(19, 6);
    const std::wstring small = out.File(L"small.gif");
    WriteBytes(small, twoEntries);
    EXPECT_THROW(album::CorrectGIF(small, out.File(L"small_out.gif"), 0, 0), classlib::Exception);
}

}  // namespace
