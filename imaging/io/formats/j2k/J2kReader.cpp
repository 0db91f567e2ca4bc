#include "imaging/io/formats/j2k/J2kReader.h"

#include <limits>
#include <new>
#include <vector>

#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/j2k/J2kGlue.h"
#include "imaging/io/formats/j2k/J2kWriter.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStartup.h"

namespace imaging {

namespace {

TPxJ2KYCbCrTables BuildTables()
{
    // Coefficients and derived factors in single precision, as the tables
    // have always been built.
    const float kr = 0.299f, kg = 0.587f, kb = 0.114f;
    const float crToRed = 2.0f - 2.0f * kr;                // 1.402
    const float cbToBlue = 2.0f - 2.0f * kb;               // 1.772
    const float crToGreen = kr * (2.0f - 2.0f * kr) / kg;  // 0.7141362
    const float cbToGreen = kb * (2.0f - 2.0f * kb) / kg;  // 0.3441363
    TPxJ2KYCbCrTables t{};
    for (int i = 0; i < 256; ++i) {
        const double d = i - 128;
        t.CrToRed[i] = static_cast<int32_t>(classlib::Round(static_cast<double>(crToRed) * d));
        t.CbToBlue[i] = static_cast<int32_t>(classlib::Round(static_cast<double>(cbToBlue) * d));
        t.CrToGreen[i] = -static_cast<int32_t>(classlib::Round(static_cast<double>(crToGreen) * d));
        t.CbToGreen[i] = -static_cast<int32_t>(classlib::Round(static_cast<double>(cbToGreen) * d));
    }
    return t;
}

// One component the reader uses, with its index tables.
struct TUsedComponent {
    TJ2kComponentInfo Info;
    const int32_t* Samples = nullptr;
    std::vector<int32_t> Columns;  // per image column
    std::vector<int32_t> Rows;     // per image row
};

// The 8-bit value of a sample: its top 8 bits of Precision.
inline uint32_t Top8(int32_t Sample, uint32_t Precision)
{
    return (static_cast<uint32_t>(Sample) << (32 - Precision)) >> 24;
}

void ReadJPEG2000(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                  bool Preview)
{
    if (!PxIsJP2(*Stream) && !PxIsJ2K(*Stream)) {
        Progress.Abort();
        return;
    }
    TJ2kStreamUser user{Stream, 0};
    const TJ2kStreamProcs procs = J2kStreamProcs(user);
    TJ2kImage image;
    // Also a preview decodes the samples: the colour space and channel
    // definitions of a JP2 file are only applied by a full decode.
    TPxReadFailure failure = TPxReadFailure::Corrupt;
    if (!J2kDecode(procs, false, image, &failure)) {
        Progress.Fail(failure);
        return;
    }
    const uint32_t width = image.Width();
    const uint32_t height = image.Height();
    if (width == 0 || height == 0 || width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
        Progress.Abort();
        return;
    }
    Params.SetImageCount(1);

    // Colour components by type: the components that are not opacity, in
    // file order (the codec has applied the file's channel definitions).
    std::vector<int> colour;
    for (int i = 0; i < image.NumComponents(); ++i)
        if (!image.Component(i).Alpha)
            colour.push_back(i);
    TJ2kColorSpace space = image.ColorSpace();
    if (space == j2kcsUnspecified)  // a bare code stream: grey or RGB by the component count
        space = colour.size() >= 3 ? j2kcsRGB : j2kcsGray;
    int needed = 0;
    if (space == j2kcsGray)
        needed = 1;
    else if (space == j2kcsRGB || space == j2kcsYCbCr)
        needed = 3;
    if (needed == 0 || static_cast<int>(colour.size()) < needed) {
        Progress.Abort();
        return;
    }
    Params.BitsPerSample = static_cast<int32_t>(image.Component(colour[0]).Precision);
    Params.SamplesPerPixel = needed;
    Params.SetDpiX(PxDefaultDpiX);
    Params.SetDpiY(PxDefaultDpiY);
    Params.FreeColorMap();
    Params.Width = Params.OriginalWidth = static_cast<int32_t>(width);
    Params.Height = Params.OriginalHeight = static_cast<int32_t>(height);
    if (Preview)
        return;

    std::vector<TUsedComponent> used(static_cast<std::size_t>(needed));
    try {
        for (int c = 0; c < needed; ++c) {
            TUsedComponent& u = used[static_cast<std::size_t>(c)];
            u.Info = image.Component(colour[static_cast<std::size_t>(c)]);
            u.Samples = image.Samples(colour[static_cast<std::size_t>(c)]);
            if (!u.Samples || u.Info.Precision < 1 || u.Info.Precision > 32 || u.Info.Width == 0 ||
                u.Info.Height == 0) {
                Progress.Abort();
                return;
            }
            u.Columns.resize(width);
            u.Rows.resize(height);
            for (uint32_t x = 0; x < width; ++x)
                u.Columns[x] = PxJ2KCoordToIndex(x, u.Info.Left, u.Info.HStep, u.Info.Width);
            for (uint32_t y = 0; y < height; ++y)
                u.Rows[y] = PxJ2KCoordToIndex(y, u.Info.Top, u.Info.VStep, u.Info.Height);
        }
    } catch (const std::bad_alloc&) {
        Progress.Abort();
        return;
    }

    const bool bilevel = needed == 1 && Params.BitsPerSample == 1;
    if (!PxCheckRaster(width, height, 8 * int64_t(needed), TPxCoding::Unbounded, -1, Progress))
        return;
    if (!Bitmap->Allocate(static_cast<int>(width), static_cast<int>(height), bilevel ? px1g : px24RGB)) {
        Progress.Fail(TPxReadFailure::OutOfMemory);
        return;
    }
    const TPxJ2KYCbCrTables& tables = PxJ2KYCbCrTables();
    auto value = [&used](int c, uint32_t x, uint32_t y) {
        const TUsedComponent& u = used[static_cast<std::size_t>(c)];
        const std::size_t at = static_cast<std::size_t>(u.Rows[y]) * u.Info.Width + static_cast<std::size_t>(u.Columns[x]);
        return Top8(u.Samples[at], u.Info.Precision);
    };
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = Bitmap->GetScanline(static_cast<int>(y));
        if (!row) {
            Progress.Abort();
            return;
        }
        if (bilevel) {
            for (uint32_t x = 0; x < width; ++x)
                PxSetBit(row, static_cast<int>(x), value(0, x, y) != 0);
        } else {
            auto* px = reinterpret_cast<TPxRGB*>(row);
            for (uint32_t x = 0; x < width; ++x) {
                TPxRGB& p = px[x];
                if (space == j2kcsGray) {
                    const auto g = static_cast<uint8_t>(value(0, x, y));
                    p.r = p.g = p.b = g;
                } else if (space == j2kcsRGB) {
                    p.r = static_cast<uint8_t>(value(0, x, y));
                    p.g = static_cast<uint8_t>(value(1, x, y));
                    p.b = static_cast<uint8_t>(value(2, x, y));
                } else {
                    const auto l = static_cast<int32_t>(value(0, x, y));
                    const uint32_t cb = value(1, x, y);
                    const uint32_t cr = value(2, x, y);
                    p.r = static_cast<uint8_t>(PxClampByte(l + tables.CrToRed[cr]));
                    p.g = static_cast<uint8_t>(PxClampByte(l + tables.CbToGreen[cb] + tables.CrToGreen[cr]));
                    p.b = static_cast<uint8_t>(PxClampByte(l + tables.CbToBlue[cb]));
                }
            }
        }
        if (Progress.Handler)
            Progress.Progress(static_cast<int>(static_cast<uint64_t>(y) * 100 / height));
        if (Progress.Aborted())
            return;
    }
}

void ReadRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
             TPxIOProgressInfo& Progress)
{
    PxReadJPEG2000(Stream, Bitmap, Params, Progress, Preview);
}

void WriteJP2Row(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWriteJPEG2000(Stream, Bitmap, Params, Progress, 0);
}

void WriteJ2KRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWriteJPEG2000(Stream, Bitmap, Params, Progress, 1);
}

}  // namespace

const TPxJ2KYCbCrTables& PxJ2KYCbCrTables()
{
    static const TPxJ2KYCbCrTables tables = BuildTables();
    return tables;
}

int32_t PxJ2KCoordToIndex(int64_t Coord, int64_t Origin, int64_t Step, int64_t Count)
{
    if (Step <= 0)
        return 0;
    const int64_t i = (Coord - Origin) / Step;
    return i < 0 || i >= Count ? 0 : static_cast<int32_t>(i);
}

void PxReadJPEG2000(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                    bool Preview)
{
    try {
        if (!Stream || (!Preview && !Bitmap)) {
            Progress.Abort();
            return;
        }
        ReadJPEG2000(Stream, Bitmap, Params, Progress, Preview);
    } catch (...) {
        Progress.Abort();
    }
}

void PxInitializeJ2000() { PxJ2KYCbCrTables(); }

void PxFinalizeJ2000() {}

void PxInstallJ2000Format()
{
    PxSetBuiltInFormatReader(ffJP2, ReadRow);
    PxSetBuiltInFormatWriter(ffJP2, WriteJP2Row);
    PxSetBuiltInFormatReader(ffJ2K, ReadRow);
    PxSetBuiltInFormatWriter(ffJ2K, WriteJ2KRow);
}

namespace {
const TPxStartupRegistration j2000Startup(psJ2000, PxInitializeJ2000, PxFinalizeJ2000);
}  // namespace

}  // namespace imaging
