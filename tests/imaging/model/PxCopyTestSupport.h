// Helpers of the copy, work-bitmap and raw-dump tests: forced storage,
// patterned images and pixel comparison for every pixel format.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"
#include "support/ValueScope.h"

namespace copytest {

using namespace imaging;

enum class Store { Memory, File, VclBitmap };

inline const char* StoreName(Store s)
{
    switch (s) {
    case Store::Memory: return "memory";
    case Store::File: return "file";
    default: return "TBitmap";
    }
}

inline TPxLocation LocationOf(Store s)
{
    switch (s) {
    case Store::File: return pxFile;
    case Store::VclBitmap: return pxTBitmap;
    default: return pxMemory;
    }
}

// New images go to a file (File) or stay in memory while the scope lives.
class StoreScope : public testsupport::TValueScope<int64_t> {
public:
    explicit StoreScope(Store s) : TValueScope(PxMemoryThreshold, s == Store::File ? 0 : (int64_t{1} << 40)) {}
};

// No storage can be had while the scope lives: one block, segments and the
// file fallback all refused.
class NoStorageScope {
public:
    NoStorageScope()
        : threshold_(PxMemoryThreshold), fail_(detail::PxFailSingleBlock), segments_(PxAllowSegments),
          fallback_(PxAllowFileFallback)
    {
        PxMemoryThreshold = int64_t{1} << 40;
        detail::PxFailSingleBlock = true;
        PxAllowSegments = false;
        PxAllowFileFallback = false;
    }
    ~NoStorageScope()
    {
        PxMemoryThreshold = threshold_;
        detail::PxFailSingleBlock = fail_;
        PxAllowSegments = segments_;
        PxAllowFileFallback = fallback_;
    }
    NoStorageScope(const NoStorageScope&) = delete;
    NoStorageScope& operator=(const NoStorageScope&) = delete;

private:
    int64_t threshold_;
    bool fail_;
    bool segments_;
    bool fallback_;
};

inline std::unique_ptr<TPxBitmap> MakeEmpty(Store s)
{
    auto b = std::make_unique<TPxBitmap>();
    if (s == Store::VclBitmap)
        b->SetLocation(pxTBitmap);
    return b;
}

inline std::unique_ptr<TPxBitmap> Make(Store s, int w, int h, TPxPixelFormat f)
{
    StoreScope scope(s);
    auto b = MakeEmpty(s);
    b->Allocate(w, h, f);
    return b;
}

// Bytes of a row that hold pixels (alignment bytes excluded).
inline int UsedBytes(TPxBitmap& b)
{
    return static_cast<int>(PxBitmapRowLen(b.GetWidth(), b.GetBitCount(), 8));
}

// A distinct byte at every pixel byte of every row.
inline uint8_t PatternByte(int seed, int y, int i)
{
    return static_cast<uint8_t>(seed * 59 + y * 31 + i * 7 + 3);
}

inline void FillPattern(TPxBitmap& b, int seed)
{
    const int n = UsedBytes(b);
    for (int y = 0; y < b.GetHeight(); ++y) {
        uint8_t* row = b.GetScanline(y);
        for (int i = 0; i < n; ++i)
            row[i] = PatternByte(seed, y, i);
    }
}

inline int PixelSize(TPxPixelFormat f)
{
    return f == px1g ? 0 : PxPixelFormatBits[f] / 8;
}

// The stored bytes of pixel (x, y); for px1g its bit as 0 or 1.
inline std::vector<uint8_t> PixelBytes(TPxBitmap& b, int x, int y)
{
    const uint8_t* row = b.GetScanline(y);
    const TPxPixelFormat f = b.GetPixelFormat();
    if (f == px1g)
        return {static_cast<uint8_t>((row[x / 8] >> (7 - x % 8)) & 1)};
    const int n = PixelSize(f);
    return std::vector<uint8_t>(row + static_cast<size_t>(x) * n, row + static_cast<size_t>(x + 1) * n);
}

// Every pixel's bytes, row by row (a snapshot that survives file rows).
inline std::vector<std::vector<uint8_t>> Pixels(TPxBitmap& b)
{
    std::vector<std::vector<uint8_t>> out;
    for (int y = 0; y < b.GetHeight(); ++y)
        for (int x = 0; x < b.GetWidth(); ++x)
            out.push_back(PixelBytes(b, x, y));
    return out;
}

inline const TPxPixelFormat kFormats[] = {px1g,   px8p,  px8g,    px16g,    px24RGB,
                                          px32f,  pxCMYK, pxRGB48, pxCIELab, px32RGB};

}  // namespace copytest
