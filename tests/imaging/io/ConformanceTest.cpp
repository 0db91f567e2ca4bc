// Decodes every file of tests/fixtures/io/conformance (written by
// independent tools) through the I/O object and compares each pixel and its
// alpha with ImageMagick's decode stored beside it (8-bit PAM, or PBM for
// bi-level pages, zlib-compressed as <name>.pbm.z when large; libtiff's
// where cases.txt says so). cases.txt lists the files with the largest difference
// allowed per channel and, where that is not 0, why the decoders differ.
// Colour is compared where the reference is not fully transparent (a fully
// transparent pixel's colour is not part of the picture); alpha everywhere.
// Each file is read twice: converted to 24-bit RGB, and with the native
// pixel format kept.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "classlib/Stream.h"
#include "classlib/ZLibStreams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifLzw.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "IoFixtureBytes.h"

using namespace imaging;

namespace {

struct TRefImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;  // 4 bytes a pixel
};

std::string Token(const std::vector<uint8_t>& b, size_t& pos)
{
    while (pos < b.size() && std::isspace(b[pos]))
        ++pos;
    std::string t;
    while (pos < b.size() && !std::isspace(b[pos]))
        t += char(b[pos++]);
    return t;
}

// An 8-bit P7 PAM (GRAYSCALE, RGB, their _ALPHA forms, BLACKANDWHITE) or a
// raw P4 PBM (1 = black).
// The bytes of a reference file, inflated when its name ends in ".z".
std::vector<uint8_t> ReferenceBytes(const std::wstring& Path)
{
    std::vector<uint8_t> b = iobytes::FileBytes(Path);
    if (Path.size() < 2 || Path.compare(Path.size() - 2, 2, L".z") != 0)
        return b;
    classlib::TMemoryStream packed;
    packed.Write(b.data(), int64_t(b.size()));
    packed.SetPosition(0);
    classlib::TDecompressionStream inflate(&packed);
    std::vector<uint8_t> out;
    uint8_t chunk[65536];
    for (int64_t n; (n = inflate.Read(chunk, sizeof(chunk))) > 0;)
        out.insert(out.end(), chunk, chunk + n);
    return out;
}

TRefImage ReadReference(const std::wstring& Path)
{
    const std::vector<uint8_t> b = ReferenceBytes(Path);
    TRefImage r;
    size_t pos = 0;
    const std::string magic = Token(b, pos);
    if (magic == "P4") {
        r.Width = std::atoi(Token(b, pos).c_str());
        r.Height = std::atoi(Token(b, pos).c_str());
        ++pos;  // the one white-space byte before the bits
        const size_t rowBytes = (size_t(r.Width) + 7) / 8;
        r.Rgba.resize(size_t(r.Width) * r.Height * 4);
        for (int y = 0; y < r.Height; ++y)
            for (int x = 0; x < r.Width; ++x) {
                const bool black = (b.at(pos + y * rowBytes + x / 8) >> (7 - x % 8)) & 1;
                uint8_t* p = &r.Rgba[(size_t(y) * r.Width + x) * 4];
                p[0] = p[1] = p[2] = black ? 0 : 255;
                p[3] = 255;
            }
        return r;
    }
    int depth = 0;
    for (std::string key = Token(b, pos); key != "ENDHDR" && !key.empty(); key = Token(b, pos)) {
        const std::string value = Token(b, pos);
        if (key == "WIDTH")
            r.Width = std::atoi(value.c_str());
        else if (key == "HEIGHT")
            r.Height = std::atoi(value.c_str());
        else if (key == "DEPTH")
            depth = std::atoi(value.c_str());
    }
    ++pos;
    r.Rgba.resize(size_t(r.Width) * r.Height * 4);
    for (size_t i = 0; i < size_t(r.Width) * r.Height; ++i) {
        const uint8_t* s = &b.at(pos + i * depth);
        uint8_t* p = &r.Rgba[i * 4];
        const bool grey = depth <= 2;
        p[0] = s[0];
        p[1] = grey ? s[0] : s[1];
        p[2] = grey ? s[0] : s[2];
        p[3] = depth == 2 || depth == 4 ? s[depth - 1] : 255;
    }
    return r;
}

struct TCase {
    std::string File;
    int Tolerance = 0;
    int Frames = 1;
};

std::vector<TCase> ReadCases()
{
    const std::vector<uint8_t> b = iobytes::FileBytes(iobytes::FixtureFile(L"conformance", "cases.txt"));
    std::istringstream in(std::string(b.begin(), b.end()));
    std::vector<TCase> cases;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        TCase c;
        if (fields >> c.File >> c.Tolerance >> c.Frames)
            cases.push_back(c);
    }
    return cases;
}

std::string ReferenceName(const TCase& c, int Frame)
{
    const std::string stem = c.File.substr(0, c.File.rfind('.'));
    if (c.Frames > 1)
        return stem + "-" + std::to_string(Frame) + ".pam";
    for (const char* ext : {".pbm", ".pbm.z"}) {
        const std::wstring pbm = iobytes::FixtureFile(L"conformance", stem + ext);
        if (GetFileAttributesW(pbm.c_str()) != INVALID_FILE_ATTRIBUTES)
            return stem + ext;
    }
    return stem + ".pam";
}

// Empty when every pixel is within the tolerance; otherwise where and how
// the decodes differ.
std::string Compare(TPxBitmap& Got, const TRefImage& Want, int Tolerance)
{
    if (Got.GetWidth() != Want.Width || Got.GetHeight() != Want.Height)
        return "size " + std::to_string(Got.GetWidth()) + "x" + std::to_string(Got.GetHeight()) + ", want " +
               std::to_string(Want.Width) + "x" + std::to_string(Want.Height);
    const bool alpha = Got.HasAlphaChannel();
    int bad = 0, worst = 0;
    std::string first;
    for (int y = 0; y < Want.Height; ++y)
        for (int x = 0; x < Want.Width; ++x) {
            const uint8_t* w = &Want.Rgba[(size_t(y) * Want.Width + x) * 4];
            const TPxRGB c = Got.GetPixelAsRGB(x, y);
            const int a = alpha ? Got.GetAlpha(x, y) : 255;
            int diff = std::abs(a - w[3]);
            if (w[3] != 0)
                diff = std::max({diff, std::abs(c.r - w[0]), std::abs(c.g - w[1]), std::abs(c.b - w[2])});
            if (diff > Tolerance) {
                if (bad++ == 0)
                    first = "(" + std::to_string(x) + "," + std::to_string(y) + ") rgba " + std::to_string(c.r) +
                            "," + std::to_string(c.g) + "," + std::to_string(c.b) + "," + std::to_string(a) +
                            " want " + std::to_string(w[0]) + "," + std::to_string(w[1]) + "," +
                            std::to_string(w[2]) + "," + std::to_string(w[3]);
                worst = std::max(worst, diff);
            }
        }
    if (bad == 0)
        return {};
    return std::to_string(bad) + " pixels differ by up to " + std::to_string(worst) + ", first at " + first;
}

TEST(Conformance, EveryFileDecodesAsTheReferenceDecoderDoes)
{
    // What the toolkit's start-up provides: the grey weights, the GIF LZW
    // decoder and the format registry built with it (the TIFF LZW decoder is
    // given through the parameters). Put back as found at the end.
    PxDefsInit();
    const bool hadRegistry = PxFormatRegistryExists();
    const TPxGIFLZWDecompressProc savedGIF = PxGlobalGIFLZWDecompress;
    PxGlobalGIFLZWDecompress = PxGIFLZWDecompress;
    PxBuildFormatRegistry();
    const std::vector<TCase> cases = ReadCases();
    EXPECT_GE(cases.size(), 50u);
    for (const TCase& c : cases)
        for (const bool native : {false, true})
            for (int frame = 0; frame < c.Frames; ++frame) {
                SCOPED_TRACE(c.File + (native ? " native" : "") + " frame " + std::to_string(frame));
                TImgIO io(nullptr);
                io.FileParams->NativePixelFormat = native;
                io.FileParams->GIFImageIndex = frame;
                io.FileParams->TIFFLZWDecompress = PxTIFFLZWDecompress;
                io.FileParams->GIFLZWDecompress = PxGIFLZWDecompress;
                io.LoadFromFile(iobytes::FixtureFile(L"conformance", c.File));
                EXPECT_FALSE(io.AbortFlag) << int(io.GetLastFailure());
                if (io.AbortFlag)
                    continue;
                const TRefImage want =
                    ReadReference(iobytes::FixtureFile(L"conformance", ReferenceName(c, frame)));
                EXPECT_EQ(Compare(*io.GetCurrentBitmap(), want, c.Tolerance), "");
            }
    PxGlobalGIFLZWDecompress = savedGIF;
    if (hadRegistry)
        PxBuildFormatRegistry();
    else
        PxFreeFormatRegistry();
}

}  // namespace
