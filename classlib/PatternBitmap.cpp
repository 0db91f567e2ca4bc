#include "classlib/PatternBitmap.h"

#include <memory>
#include <mutex>
#include <vector>

namespace classlib {

namespace {

struct Pattern {
    TColor Bk;
    TColor Fg;
    std::unique_ptr<TBitmap> Bitmap;
};

struct PatternCache {
    std::mutex lock;
    std::vector<Pattern> patterns;
};

PatternCache& Cache()
{
    static PatternCache cache;
    return cache;
}

}  // namespace

TBitmap* AllocPatternBitmap(TColor BkColor, TColor FgColor)
{
    PatternCache& cache = Cache();
    std::lock_guard<std::mutex> guard(cache.lock);
    for (const auto& p : cache.patterns)
        if (p.Bk == BkColor && p.Fg == FgColor) return p.Bitmap.get();
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetPixelFormat(pf24bit);
    bitmap->SetSize(8, 8);
    TCanvas* canvas = bitmap->GetCanvas();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) canvas->SetPixel(x, y, (x + y) % 2 == 0 ? BkColor : FgColor);
    TBitmap* result = bitmap.get();
    cache.patterns.push_back(Pattern{BkColor, FgColor, std::move(bitmap)});
    return result;
}

}  // namespace classlib
