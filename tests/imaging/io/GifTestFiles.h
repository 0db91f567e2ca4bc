// Shared helpers of the GIF tests: fixture bytes (tests/fixtures/io/gif,
// made by make_fixtures.sh there with ImageMagick and gifsicle), reader and
// writer calls with a progress record, and pixel comparison against
// ImageMagick's raw RGBA decodes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IoFixtureBytes.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifFrames.h"
#include "imaging/io/formats/gif/GifLzw.h"
#include "imaging/io/formats/gif/GifReader.h"
#include "imaging/io/formats/gif/GifWriter.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDefs.h"
#include "imaging/model/PxMask.h"
#include "support/TestSupport.h"

namespace giftest {

using namespace imaging;

// The toolkit's GIF routines in the registry and the real LZW codec in the
// global hooks (other tests put fakes there).
inline void InstallGif()
{
    PxDefsInit();
    PxInstallGIFFormat();
    PxGlobalGIFLZWDecompress = PxGIFLZWDecompress;
    PxGlobalGIFLZWCompress = PxGIFLZWCompress;
    PxSyncGIFFormatRow();
}

using iobytes::SetBytes;
using iobytes::StreamBytes;

inline std::wstring FixturePath(const std::string& Name) { return iobytes::FixtureFile(L"gif", Name); }

inline std::vector<uint8_t> LoadBytes(const std::string& Name) { return iobytes::FileBytes(FixturePath(Name)); }

struct TReadResult {
    bool Aborted = false;
    int32_t Frames = 0;
    std::unique_ptr<TPxMask> Mask;
    std::vector<int> Percents;
};

inline TReadResult ReadGif(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params,
                           bool Preview = false, bool NoMask = false)
{
    classlib::TMemoryStream m;
    SetBytes(m, Bytes);
    TReadResult r;
    TPxIOProgressInfo progress;
    progress.Aborting = &r.Aborted;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); }, &r.Percents);
    PxReadGIF(&m, &Bitmap, r.Frames, Params, progress, Preview, r.Mask, NoMask);
    return r;
}

// The registry's reader (frames composed).
inline TReadResult ReadComposed(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params)
{
    classlib::TMemoryStream m;
    SetBytes(m, Bytes);
    TReadResult r;
    TPxIOProgressInfo progress;
    progress.Aborting = &r.Aborted;
    PxReadGIFFrame(&m, &Bitmap, Params, false, progress);
    r.Frames = progress.Count;
    return r;
}

inline bool WriteGif(classlib::TMemoryStream& m, TPxBitmap& Bitmap, TIOParamsVals& Params,
                     std::vector<int>* Percents = nullptr)
{
    bool aborted = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborted;
    if (Percents)
        progress.Handler = TPxProgressEvent::FromFunction(
            [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); }, Percents);
    PxWriteGIF(&m, &Bitmap, Params, progress);
    return aborted;
}

// Every pixel of Bitmap (and the mask or alpha channel, when given) against
// an RGBA reference. With OpaqueOnly the colour of fully transparent
// reference pixels is not compared.
inline void ExpectPixels(TPxBitmap& Bitmap, const std::vector<uint8_t>& Rgba, TPxMask* Mask, bool UseAlpha,
                         bool OpaqueOnly = true)
{
    const int w = Bitmap.GetWidth(), h = Bitmap.GetHeight();
    ASSERT_EQ(Rgba.size(), static_cast<size_t>(w * h * 4));
    int bad = 0;
    for (int y = 0; y < h && bad < 5; ++y)
        for (int x = 0; x < w && bad < 5; ++x) {
            const uint8_t* e = &Rgba[static_cast<size_t>((y * w + x) * 4)];
            int a = 255;
            if (Mask)
                a = Mask->GetScanline(y)[x];
            else if (UseAlpha && Bitmap.HasAlphaChannel())
                a = Bitmap.GetAlpha(x, y);
            const TPxRGB c = Bitmap.GetPixelAsRGB(x, y);
            const bool colourMatters = !OpaqueOnly || e[3] != 0;
            if (a != e[3] || (colourMatters && (c.r != e[0] || c.g != e[1] || c.b != e[2]))) {
                ++bad;
                ADD_FAILURE() << "pixel " << x << "," << y << ": got " << int(c.r) << "," << int(c.g) << ","
                              << int(c.b) << " a" << a << " want " << int(e[0]) << "," << int(e[1]) << ","
                              << int(e[2]) << " a" << int(e[3]);
            }
        }
}

}  // namespace giftest
