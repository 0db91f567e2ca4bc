// Shared helpers of the PCX and DCX tests: fixture bytes (tests/fixtures/io/
// pcx, made by make_fixtures.sh there with ImageMagick and netpbm), reader
// calls with a progress record, hand-made headers, and pixel comparison
// against the raw RGB decodes of other programs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "IoFixtureBytes.h"
#include "classlib/Streams.h"
#include "imaging/io/formats/pcx/DcxFile.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/pcx/PcxReader.h"
#include "imaging/io/formats/pcx/PcxWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxDefs.h"
#include "imaging/proc/PxConvert.h"
#include "support/TestSupport.h"

namespace pcxtest {

using namespace imaging;

inline void InstallPcx()
{
    PxDefsInit();
    PxInstallPixelFormatConversion();
    PxCopyInstallServices();
    PxInstallPCXFormat();
}

using iobytes::SetBytes;
using iobytes::StreamBytes;

inline std::wstring FixturePath(const std::string& Name) { return iobytes::FixtureFile(L"pcx", Name); }

inline std::vector<uint8_t> LoadBytes(const std::string& Name) { return iobytes::FileBytes(FixturePath(Name)); }

struct TResult {
    bool Aborted = false;
    int32_t Count = 0;
    std::vector<int> Percents;
};

inline TPxIOProgressInfo MakeProgress(bool& Aborting, std::vector<int>& Percents)
{
    TPxIOProgressInfo progress;
    progress.Aborting = &Aborting;
    progress.Handler = TPxProgressEvent::FromFunction(
        [](void* c, classlib::TObject*, int per) { static_cast<std::vector<int>*>(c)->push_back(per); }, &Percents);
    return progress;
}

inline TResult ReadPcx(const std::vector<uint8_t>& Bytes, TPxBitmap& Bitmap, TIOParamsVals& Params,
                       int64_t Length = -1, bool Preview = false)
{
    TResult r;
    classlib::TMemoryStream m;
    SetBytes(m, Bytes);
    bool aborting = false;
    TPxIOProgressInfo progress = MakeProgress(aborting, r.Percents);
    PxReadPCX(&m, &Bitmap, Params, Length, progress, Preview);
    r.Aborted = aborting;
    return r;
}

inline TResult ReadDcx(classlib::TStream& Stream, TPxBitmap& Bitmap, TIOParamsVals& Params, bool Preview = false)
{
    TResult r;
    bool aborting = false;
    TPxIOProgressInfo progress = MakeProgress(aborting, r.Percents);
    PxReadDCX(&Stream, &Bitmap, Params, progress, Preview);
    r.Aborted = aborting;
    r.Count = progress.Count;
    return r;
}

// Writes with PxWritePCX (or PxWriteDCX into Stream's whole content);
// true when the aborting flag stayed clear.
inline bool WritePcx(classlib::TStream& Stream, TPxBitmap& Bitmap, TIOParamsVals& Params)
{
    bool aborting = false;
    std::vector<int> percents;
    TPxIOProgressInfo progress = MakeProgress(aborting, percents);
    PxWritePCX(&Stream, &Bitmap, Params, progress);
    return !aborting;
}

inline bool WriteDcx(classlib::TStream& Stream, TPxBitmap& Bitmap, TIOParamsVals& Params)
{
    bool aborting = false;
    std::vector<int> percents;
    TPxIOProgressInfo progress = MakeProgress(aborting, percents);
    PxWriteDCX(&Stream, &Bitmap, Params, progress);
    return !aborting;
}

inline void Put16(std::vector<uint8_t>& d, size_t At, uint32_t v)
{
    d[At] = static_cast<uint8_t>(v);
    d[At + 1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(std::vector<uint8_t>& d, size_t At, uint32_t v)
{
    Put16(d, At, v & 0xFFFF);
    Put16(d, At + 2, v >> 16);
}

inline uint16_t Get16(const std::vector<uint8_t>& d, size_t At) { return static_cast<uint16_t>(d[At] | (d[At + 1] << 8)); }

inline uint32_t Get32(const std::vector<uint8_t>& d, size_t At)
{
    return Get16(d, At) | (static_cast<uint32_t>(Get16(d, At + 2)) << 16);
}

// A 128-byte header (window from 0, 0) followed by Data.
struct THeader {
    int Width = 1, Height = 1, Bits = 8, Planes = 1, BytesPerLine = 2, Encoding = 1;
    int DpiX = 72, DpiY = 72;
};

inline std::vector<uint8_t> MakePcx(const THeader& H, const std::vector<uint8_t>& Data)
{
    std::vector<uint8_t> d(128, 0);
    d[0] = 10;
    d[1] = 5;
    d[2] = static_cast<uint8_t>(H.Encoding);
    d[3] = static_cast<uint8_t>(H.Bits);
    Put16(d, 8, static_cast<uint32_t>(H.Width - 1));
    Put16(d, 10, static_cast<uint32_t>(H.Height - 1));
    Put16(d, 12, static_cast<uint32_t>(H.DpiX));
    Put16(d, 14, static_cast<uint32_t>(H.DpiY));
    d[65] = static_cast<uint8_t>(H.Planes);
    Put16(d, 66, static_cast<uint32_t>(H.BytesPerLine));
    d.insert(d.end(), Data.begin(), Data.end());
    return d;
}

// Every pixel of Bitmap as 8-bit red, green, blue against Expected (top row
// first); reports the first difference only.
inline void ExpectPixels(TPxBitmap& Bitmap, const std::vector<uint8_t>& Expected)
{
    const int w = Bitmap.GetWidth(), h = Bitmap.GetHeight();
    ASSERT_EQ(Expected.size(), static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TPxRGB c = Bitmap.GetPixelAsRGB(x, y);
            const uint8_t* e = Expected.data() + (static_cast<size_t>(y) * w + x) * 3;
            if (c.r != e[0] || c.g != e[1] || c.b != e[2]) {
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << int(c.r) << " " << int(c.g) << " " << int(c.b)
                              << " expected " << int(e[0]) << " " << int(e[1]) << " " << int(e[2]);
                return;
            }
        }
}

// Every pixel of two images equal as 8-bit red, green, blue.
inline void ExpectSamePixels(TPxBitmap& A, TPxBitmap& B)
{
    ASSERT_EQ(A.GetWidth(), B.GetWidth());
    ASSERT_EQ(A.GetHeight(), B.GetHeight());
    for (int y = 0; y < A.GetHeight(); ++y)
        for (int x = 0; x < A.GetWidth(); ++x) {
            const TPxRGB a = A.GetPixelAsRGB(x, y), b = B.GetPixelAsRGB(x, y);
            if (!(a == b)) {
                ADD_FAILURE() << "pixel " << x << "," << y << " differs";
                return;
            }
        }
}

}  // namespace pcxtest
