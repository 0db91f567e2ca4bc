// Builds a small album for the browser test with the program's own album
// build:  make_test_album <album folder> <program folder>
// Five drawn photographs (JPEG and PNG, landscape and portrait) with titles
// and descriptions (two of two lines), a 2 x 2 grid so the album has two
// pages, the data files of the program folder. The first and the last
// photograph have one file name but for case and extension. The album name,
// the page label, some titles, descriptions and a file name are what a
// careless or hostile user might type: markup, quotes, character references,
// "#" and "%". Prints the album name, the page label and one line per
// picture (output name, title, description with "\n" for line breaks, the
// drawn size as <width>x<height>), tab separated, and exits 0 when the build
// completed with every picture.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/AlbumBuild.h"
#include "app/AlbumListFile.h"
#include "app/Settings.h"
#include "classlib/Exceptions.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStartup.h"

namespace {

struct Host : album::TAlbumBuildHost {
    int MessageBox(const std::wstring& Text, UINT Flags) override
    {
        std::printf("message: %s\n", classlib::WideToUtf8(Text).c_str());
        return (Flags & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    }
    void OpenDocument(const std::wstring&) override {}
};

struct Photo {
    const wchar_t* File;
    int Width, Height;
    uint32_t Top, Bottom, Sun;  // 0xRRGGBB
    const wchar_t* Title;
    const wchar_t* Description;
};

uint8_t Mix(uint32_t A, uint32_t B, int Shift, double T)
{
    const double a = (A >> Shift) & 0xFF, b = (B >> Shift) & 0xFF;
    T = std::min(1.0, std::max(0.0, T));
    return static_cast<uint8_t>(std::lround(a + (b - a) * T));
}

// A sky gradient, a sun and rolling hills; written in the format of the
// file's extension.
void Draw(const Photo& P, const std::wstring& FileName)
{
    imaging::TPxBitmap image(P.Width, P.Height, imaging::px24RGB);
    // Where red lies in a pixel of this format.
    image.Fill(0x0000FF);
    const uint8_t* probe = image.GetScanline(0);
    const int red = probe[0] == 0xFF ? 0 : 2, blue = 2 - red;
    const double sunX = P.Width * 0.7, sunY = P.Height * 0.3, sunR = P.Height * 0.09;
    for (int y = 0; y < P.Height; ++y) {
        uint8_t* row = image.GetScanline(y);
        const double t = static_cast<double>(y) / P.Height;
        for (int x = 0; x < P.Width; ++x) {
            uint32_t c;
            const double hill = P.Height * (0.68 + 0.08 * std::sin(x * 6.28 / P.Width * 1.3));
            const double ridge = P.Height * (0.58 + 0.1 * std::cos(x * 6.28 / P.Width * 0.8 + 1.0));
            if (y > hill)
                c = ((static_cast<uint32_t>(Mix(0x4E9A3A, 0x2F5F22, 16, t)) << 16) |
                     (static_cast<uint32_t>(Mix(0x4E9A3A, 0x2F5F22, 8, t)) << 8) | Mix(0x4E9A3A, 0x2F5F22, 0, t));
            else if (y > ridge)
                c = 0x8C86A8;
            else if (std::hypot(x - sunX, y - sunY) < sunR)
                c = P.Sun;
            else
                c = (static_cast<uint32_t>(Mix(P.Top, P.Bottom, 16, t / 0.6)) << 16) |
                    (static_cast<uint32_t>(Mix(P.Top, P.Bottom, 8, t / 0.6)) << 8) | Mix(P.Top, P.Bottom, 0, t / 0.6);
            row[x * 3 + red] = static_cast<uint8_t>(c >> 16);
            row[x * 3 + 1] = static_cast<uint8_t>(c >> 8);
            row[x * 3 + blue] = static_cast<uint8_t>(c);
        }
    }
    auto io = imaging::TImgIO::CreateForBitmap(&image);
    io->SaveToFile(FileName);
    if (io->AbortFlag) throw classlib::Exception(L"cannot write " + FileName);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_test_album <album folder> <program folder>\n");
        return 2;
    }
    const std::wstring albumFolder = classlib::Utf8ToWide(argv[1]);
    const std::wstring programFolder = classlib::Utf8ToWide(argv[2]);
    imaging::PxInstallBuiltInFormats();
    imaging::PxInitialize();
    int rc = 1;
    try {
        const std::wstring sources = albumFolder + L"\\sources";
        ::CreateDirectoryW(albumFolder.c_str(), nullptr);
        ::CreateDirectoryW(sources.c_str(), nullptr);
        const Photo photos[] = {
            {L"lake.jpg", 1600, 1200, 0x3A78C8, 0xA8D4F0, 0xFFE07A, L"Lake\" onmouseover=\"window.pwned=1",
             L"Rocket <b>bold?</b> & \"quotes\"\n<img src=x onerror=\"window.pwned=2\">second line"},
            {L"sun & sea #2 100%41.png", 1200, 800, 0x4A2F6E, 0xF29E5C, 0xFFC04A, L"Dusk 'single' <i>",
             L"Evening &amp; hills &lt;b&gt;"},
            {L"tower.jpg", 900, 1400, 0x2E5C8A, 0x9CCBF0, 0xFFF0B0, L"Tower", L"A tall view"},
            {L"noon.jpg", 1400, 1000, 0x5AA0E0, 0xD8ECFF, 0xFFFFE0, L"</title><script>window.pwned=3</script>",
             L"Bright noon sky' onclick='window.pwned=4"},
            {L"Lake.png", 1000, 600, 0x0B1A33, 0x2E4C7A, 0xF0F0E0, L"Night", L"Moon rise\nsecond page"},
        };
        album::TProgramEnvironment env;
        env.ProgramFile = programFolder + L"\\Velmo.exe";
        env.ScreenWidth = 1280;
        env.ScreenHeight = 1024;
        album::TSettings settings(album::TSettingsPlaces{}, env);
        settings.SetDefaults();
        settings.ColumnsNr = 2;
        settings.RowsNr = 2;
        settings.S_indx = L"Page $p of $t <script>window.pwned=5</script> & \"so\"";
        const std::wstring albumName = L"R&D's &lt;b&gt;trip &amp; co #1";
        std::vector<album::TAlbumRow> rows;
        for (const Photo& p : photos) {
            const std::wstring file = sources + L"\\" + p.File;
            Draw(p, file);
            album::TAlbumRow row;
            row.Path = file;
            std::wstring description;
            for (const wchar_t* c = p.Description; *c; ++c) description += *c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, *c);
            row.SubItems = {L"0", L"", L"", L"", p.Title, description};
            rows.push_back(row);
        }
        album::TAlbumBuildInput input;
        input.Settings = &settings;
        input.AlbumFolder = albumFolder;
        input.AlbumName = albumName;
        input.ProgramFolder = programFolder;
        Host host;
        const album::TAlbumBuildResult result = album::BuildAlbum(input, rows, host);
        std::printf("album\t%s\n", classlib::WideToUtf8(albumName).c_str());
        std::printf("label\t%s\n", classlib::WideToUtf8(settings.S_indx).c_str());
        const std::vector<std::wstring> names = album::OutputNamesOf(rows);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const Photo& p = photos[i];
            std::string description = classlib::WideToUtf8(p.Description);
            for (size_t i = description.find('\n'); i != std::string::npos; i = description.find('\n', i))
                description.replace(i, 1, "\\n");
            std::printf("picture\t%s\t%s\t%s\t%dx%d\n", classlib::WideToUtf8(names[i]).c_str(),
                        classlib::WideToUtf8(p.Title).c_str(), description.c_str(), p.Width, p.Height);
        }
        std::printf("pages\t%d\n", result.PageCount);
        rc = result.Outcome == album::TAlbumBuildOutcome::Completed && result.ImageCount == 5 ? 0 : 1;
    } catch (const classlib::Exception& e) {
        std::fprintf(stderr, "build failed: %s\n", classlib::WideToUtf8(e.Message()).c_str());
    }
    imaging::PxFinalize();
    return rc;
}
