// Times the album road's resampling (rfFastLinear, px24RGB) of a 6000 x 4000
// image to fit 1000 x 1000 and 140 x 140, and its rotation by 90 degrees, and
// compares them in the same run with plain reference loops over the same
// images: a nearest-neighbour copy, a straightforward bilinear loop, the
// triangle kernel filter, and a per-pixel quarter-turn loop. Prints
// megapixels of source per second and the ratios; the best of a few runs
// counts.
#include <windows.h>

#include <emmintrin.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/proc/PxResample.h"
#include "imaging/proc/PxRotate.h"
#include "BenchTimer.h"

using namespace imaging;
using bench::Seconds;

namespace {

void NearestLoop(TPxBitmap& src, TPxBitmap& dst)
{
    const int sw = src.GetWidth(), sh = src.GetHeight(), dw = dst.GetWidth(), dh = dst.GetHeight();
    std::vector<int> cols(static_cast<size_t>(dw));
    for (int x = 0; x < dw; ++x)
        cols[static_cast<size_t>(x)] = static_cast<int>(static_cast<long long>(x) * sw / dw) * 3;
    for (int y = 0; y < dh; ++y) {
        const uint8_t* s = src.GetScanline(static_cast<int>(static_cast<long long>(y) * sh / dh));
        uint8_t* d = dst.GetScanline(y);
        for (int x = 0; x < dw; ++x) {
            const uint8_t* p = s + cols[static_cast<size_t>(x)];
            d[3 * x] = p[0];
            d[3 * x + 1] = p[1];
            d[3 * x + 2] = p[2];
        }
    }
}

// Reads every source byte once (sums them): the floor of any resampler that
// averages all source pixels.
uint64_t ReadAll(TPxBitmap& src)
{
    __m128i sum = _mm_setzero_si128();
    const size_t len = static_cast<size_t>(src.GetWidth()) * 3;
    uint64_t tail = 0;
    for (int y = 0; y < src.GetHeight(); ++y) {
        const uint8_t* r = src.GetScanline(y);
        size_t x = 0;
        for (; x + 16 <= len; x += 16)
            sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x)),
                                                  _mm_setzero_si128()));
        for (; x < len; ++x)
            tail += r[x];
    }
    return tail + static_cast<uint64_t>(_mm_cvtsi128_si64(sum)) +
           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_srli_si128(sum, 8)));
}

// Four taps per destination pixel, weights in double precision.
void BilinearLoop(TPxBitmap& src, TPxBitmap& dst)
{
    const int sw = src.GetWidth(), sh = src.GetHeight(), dw = dst.GetWidth(), dh = dst.GetHeight();
    const double fx = static_cast<double>(sw) / dw, fy = static_cast<double>(sh) / dh;
    for (int y = 0; y < dh; ++y) {
        double sy = (y + 0.5) * fy - 0.5;
        if (sy < 0)
            sy = 0;
        const int y0 = static_cast<int>(sy);
        const int y1 = y0 + 1 < sh ? y0 + 1 : y0;
        const double v = sy - y0;
        const uint8_t* r0 = src.GetScanline(y0);
        const uint8_t* r1 = src.GetScanline(y1);
        uint8_t* d = dst.GetScanline(y);
        for (int x = 0; x < dw; ++x) {
            double sx = (x + 0.5) * fx - 0.5;
            if (sx < 0)
                sx = 0;
            const int x0 = static_cast<int>(sx);
            const int x1 = x0 + 1 < sw ? x0 + 1 : x0;
            const double u = sx - x0;
            for (int c = 0; c < 3; ++c) {
                const double top = r0[3 * x0 + c] * (1 - u) + r0[3 * x1 + c] * u;
                const double bottom = r1[3 * x0 + c] * (1 - u) + r1[3 * x1 + c] * u;
                d[3 * x + c] = static_cast<uint8_t>(top * (1 - v) + bottom * v + 0.5);
            }
        }
    }
}

// A quarter turn (90 degrees anticlockwise) pixel by pixel into a
// pre-allocated image of the turned size.
void QuarterTurnLoop(TPxBitmap& src, TPxBitmap& dst)
{
    const int sw = src.GetWidth(), sh = src.GetHeight();
    for (int y = 0; y < sh; ++y) {
        const uint8_t* s = src.GetScanline(y);
        for (int x = 0; x < sw; ++x) {
            uint8_t* d = dst.GetScanline(sw - 1 - x) + 3 * y;
            d[0] = s[3 * x];
            d[1] = s[3 * x + 1];
            d[2] = s[3 * x + 2];
        }
    }
}

}  // namespace

// "bench_resample fast" times only rfFastLinear (for a profiler).
int main(int argc, char** argv)
{
    const bool fastOnly = argc > 1 && std::strcmp(argv[1], "fast") == 0;
    // The buffer's services, as the toolkit's start-up installs them.
    imaging::PxCopyInstallServices();
    const int sw = 6000, sh = 4000;
    TPxBitmap src(sw, sh, px24RGB);
    if (src.IsEmpty()) {
        std::printf("cannot allocate the source image\n");
        return 1;
    }
    uint32_t seed = 12345;
    for (int y = 0; y < sh; ++y) {
        uint8_t* r = src.GetScanline(y);
        for (int x = 0; x < sw * 3; ++x) {
            seed = seed * 1664525u + 1013904223u;
            r[x] = static_cast<uint8_t>(((x / 3 + y) & 0xFF) ^ (seed >> 29));
        }
    }
    const double mp = sw * static_cast<double>(sh) / 1e6;
    std::printf("source %d x %d px24RGB (%.1f MP), best of 5 runs\n", sw, sh, mp);
    volatile uint64_t sink = 0;
    const double readAll = Seconds([&] { sink = sink + ReadAll(src); }, 5);
    std::printf("reading every source byte once: %.2f ms\n", readAll * 1e3);
    for (const int box : {1000, 140}) {
        const int dw = box, dh = sh * box / sw;
        TPxBitmap dst(dw, dh, px24RGB);
        const double fast = Seconds([&] { PxResampleBitmap(&src, &dst, rfFastLinear); }, fastOnly ? 30 : 5);
        if (fastOnly) {
            std::printf("fit %d: rfFastLinear %.2f ms\n", box, fast * 1e3);
            continue;
        }
        const double nearest = Seconds([&] { NearestLoop(src, dst); }, 5);
        const double bilinear = Seconds([&] { BilinearLoop(src, dst); }, 5);
        const double triangle = Seconds([&] { PxResampleBitmap(&src, &dst, rfTriangle); }, 2);
        std::printf("\nfit %d x %d -> %d x %d\n", box, box, dw, dh);
        std::printf("  rfFastLinear      %8.2f ms  %8.1f MP/s\n", fast * 1e3, mp / fast);
        std::printf("  nearest loop      %8.2f ms  %8.1f MP/s  fast/nearest time %.2f\n", nearest * 1e3,
                    mp / nearest, fast / nearest);
        std::printf("  bilinear loop     %8.2f ms  %8.1f MP/s  fast/bilinear time %.2f\n", bilinear * 1e3,
                    mp / bilinear, fast / bilinear);
        std::printf("  fast / reading every byte time %.2f\n", fast / readAll);
        std::printf("  rfTriangle        %8.2f ms  %8.1f MP/s  fast/triangle time %.2f\n", triangle * 1e3,
                    mp / triangle, fast / triangle);
    }
    if (!fastOnly) {
        TPxBitmap turned(sh, sw, px24RGB);
        TPxBitmap work;
        const double loop = Seconds([&] { QuarterTurnLoop(src, turned); }, 3);
        const double rotate = Seconds(
            [&] {
                PxRotateNearestInto(&src, &work, 0, nullptr, TPxProgressEvent(), 90);
            },
            3);
        std::printf("\nrotate 90 degrees\n");
        std::printf("  PxRotateNearestInto %8.2f ms  %8.1f MP/s\n", rotate * 1e3, mp / rotate);
        std::printf("  quarter-turn loop   %8.2f ms  %8.1f MP/s  rotate/loop time %.2f\n", loop * 1e3, mp / loop,
                    rotate / loop);
    }
    return 0;
}
