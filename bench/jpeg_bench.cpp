// Times the album road's JPEG work on a 24-megapixel photograph-like image
// (6000 x 4000, generated: smooth gradients, soft shapes and fine noise):
// encoding at quality 85 with PxWriteJPEG and decoding with PxReadJPEG,
// both between a TPxBitmap and a memory stream, beside the same encode and
// decode done in this run by libjpeg-turbo directly on contiguous buffers
// (jpeg_bench_direct.cpp). Prints megapixels per second and the toolkit's
// overhead over the library; the best of a few runs counts.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/FormatTable.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/model/PxBitmap.h"
#include "jpeg_bench_direct.h"
#include "BenchTimer.h"

using namespace imaging;
using bench::Seconds;

namespace {

// A picture with the statistics of a photograph: large smooth areas, a few
// soft-edged shapes, texture and sensor-like noise.
void Paint(TPxBitmap& bitmap)
{
    const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bitmap.GetScanline(y);
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 24) % 25) - 12;
            const double fx = x / static_cast<double>(w), fy = y / static_cast<double>(h);
            double r = 90 + 120 * fy + 20 * std::sin(fx * 40) * std::sin(fy * 30);
            double g = 110 + 80 * fx + 15 * std::sin((fx + fy) * 55) + 12 * std::sin(x * 0.9) * std::cos(y * 0.7);
            double b = 200 - 150 * fy + 10 * std::cos(fx * 90);
            const double dx = fx - 0.6, dy = fy - 0.55;
            if (dx * dx + dy * dy < 0.04) {
                r = r * 0.4 + 140;
                g = g * 0.5 + 40;
                b = b * 0.3 + 20;
            }
            auto clamp = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
            row[3 * x] = clamp(b + noise);
            row[3 * x + 1] = clamp(g + noise);
            row[3 * x + 2] = clamp(r + noise);
        }
    }
}

}  // namespace

int main()
{
    PxInstallBuiltInFormats();
    const int w = 6000, h = 4000;
    const double mp = w * static_cast<double>(h) / 1e6;
    TPxBitmap source(w, h, px24RGB);
    if (source.IsEmpty()) {
        std::printf("cannot allocate the source image\n");
        return 1;
    }
    Paint(source);
    std::vector<uint8_t> contiguous(static_cast<size_t>(w) * 3 * h);
    for (int y = 0; y < h; ++y)
        std::memcpy(contiguous.data() + static_cast<size_t>(y) * w * 3, source.GetScanline(y),
                    static_cast<size_t>(w) * 3);
    std::printf("source %d x %d px24RGB, location %d (0 memory, 1 file, 2 system bitmap)\n", w, h,
                static_cast<int>(source.GetLocation()));

    // ---- encode
    // Both encoders write into memory that is already there: the stream is
    // sized once and rewound for every run.
    classlib::TMemoryStream encoded;
    encoded.SetSize(static_cast<int64_t>(contiguous.size()));
    int64_t encodedSize = 0;
    bool aborting = false;
    auto toolkitEncode = [&] {
        encoded.SetPosition(0);
        TIOParamsVals params(nullptr);
        params.JPEGQuality = 85;
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        PxWriteJPEG(&encoded, &source, params, progress);
        encodedSize = encoded.GetPosition();
    };
    std::vector<uint8_t> direct(contiguous.size());
    size_t directSize = 0;
    auto directEncode = [&] { directSize = jpegbench::DirectEncode(contiguous, w, h, 85, direct); };
    const double te = Seconds(toolkitEncode, 7);
    const double de = Seconds(directEncode, 7);
    std::printf("encode q85: toolkit %.3f s (%.1f MP/s, %lld bytes), library %.3f s (%.1f MP/s, %zu bytes), "
                "overhead %+.1f %%\n",
                te, mp / te, static_cast<long long>(encodedSize), de, mp / de, directSize,
                (te / de - 1) * 100);

    // ---- decode (both decode the toolkit's file)
    std::vector<uint8_t> file(static_cast<const uint8_t*>(encoded.GetMemory()),
                              static_cast<const uint8_t*>(encoded.GetMemory()) + encodedSize);
    TPxBitmap decoded;
    auto toolkitDecode = [&] {
        encoded.SetPosition(0);
        TIOParamsVals params(nullptr);
        TPxIOProgressInfo progress;
        progress.Aborting = &aborting;
        PxReadJPEG(&encoded, &decoded, {.ReadColorProfile = true, .ApplyColorProfile = true, .ReadMetadata = true},
                   progress, params);
    };
    std::vector<uint8_t> pixels;
    int dw = 0, dh = 0;
    auto directDecode = [&] { jpegbench::DirectDecode(file, pixels, dw, dh); };
    const double td = Seconds(toolkitDecode, 7);
    const double dd = Seconds(directDecode, 7);
    std::printf("decode: toolkit %.3f s (%.1f MP/s), library %.3f s (%.1f MP/s), overhead %+.1f %%\n", td, mp / td,
                dd, mp / dd, (td / dd - 1) * 100);

    // The two decodes must agree.
    bool same = decoded.GetWidth() == dw && decoded.GetHeight() == dh && !aborting;
    for (int y = 0; same && y < dh; y += 97)
        same = std::memcmp(decoded.GetScanline(y), pixels.data() + static_cast<size_t>(y) * dw * 3,
                           static_cast<size_t>(dw) * 3) == 0;
    std::printf("decodes %s\n", same ? "identical" : "DIFFER");

    // The album road's first step: the file load of the I/O object (file,
    // buffered reading, registry row, resolution steps) on the same data.
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"velmo_jpeg_bench.jpg";
    {
        classlib::TFileStream out(path, classlib::fmCreate);
        out.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    }
    PxBuildFormatRegistry();
    {
        TImgIO io(nullptr);
        const double tf = Seconds([&] { io.LoadFromFile(path); }, 7);
        same = same && !io.AbortFlag && io.GetCurrentBitmap()->GetWidth() == w;
        std::printf("file load through the I/O object: %.3f s (%.1f MP/s), %+.1f %% over the library's decode\n", tf,
                    mp / tf, (tf / dd - 1) * 100);
    }
    {
        // The road's last step: the file save at quality 85 (metadata steps,
        // file, writer) of the source image.
        auto io = TImgIO::CreateForBitmap(&source);
        io->FileParams->JPEGQuality = 85;
        const double ts = Seconds([&] { io->SaveJPEGToFile(path); }, 7);
        same = same && !io->AbortFlag;
        std::printf("file save through the I/O object: %.3f s (%.1f MP/s), %+.1f %% over the library's encode\n", ts,
                    mp / ts, (ts / de - 1) * 100);
        // For comparison: writing the same bytes alone, in 64 KiB blocks.
        const double tw = Seconds(
            [&] {
                classlib::TFileStream out(path, classlib::fmCreate);
                for (size_t at = 0; at < file.size(); at += 65536)
                    out.WriteBuffer(file.data() + at, static_cast<int64_t>(std::min<size_t>(65536, file.size() - at)));
            },
            7);
        std::printf("  of which writing %zu bytes to the file alone takes %.3f s\n", file.size(), tw);
    }
    PxFreeFormatRegistry();
    DeleteFileW(path.c_str());
    return same ? 0 : 1;
}
