#include "imaging/views/view/PxMagicWand.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxMask.h"

namespace imaging {

namespace {

// Compares pixels of one image with the colour of a reference pixel.
class TSimilarity {
public:
    TSimilarity(TPxBitmap* Bitmap, int x, int y, int Tolerance)
        : bitmap_(Bitmap), width_(Bitmap->GetWidth()), height_(Bitmap->GetHeight()), tolerance_(Tolerance),
          reference_(Bitmap->GetPixelAsRGB(x, y))
    {
    }

    bool operator()(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= width_ || y >= height_)
            return false;
        const TPxRGB p = bitmap_->GetPixelAsRGB(x, y);
        return std::abs(p.r - reference_.r) <= tolerance_ && std::abs(p.g - reference_.g) <= tolerance_ &&
               std::abs(p.b - reference_.b) <= tolerance_;
    }

private:
    TPxBitmap* bitmap_;
    int width_;
    int height_;
    int tolerance_;
    TPxRGB reference_;
};

// One bit per pixel; each row width / 8 + 1 bytes.
class TBitMap {
public:
    TBitMap(int Width, int Height)
        : rowLen_(static_cast<size_t>(Width) / 8 + 1), bits_(rowLen_ * static_cast<size_t>(std::max(Height, 0)), 0)
    {
    }
    bool Get(int x, int y) const
    {
        return (bits_[static_cast<size_t>(y) * rowLen_ + static_cast<size_t>(x) / 8] >> (x & 7)) & 1;
    }
    void Set(int x, int y) { bits_[static_cast<size_t>(y) * rowLen_ + static_cast<size_t>(x) / 8] |= 1u << (x & 7); }

private:
    size_t rowLen_;
    std::vector<uint8_t> bits_;
};

struct TRegion {
    TBitMap Visited;
    int MinX = INT_MAX;
    int MinY = INT_MAX;
    int MaxX = 0;
    int MaxY = 0;
};

struct TSegment {
    int32_t Row;
    int32_t Left;
    int32_t Right;
    int32_t Dir;
};

// Scanline seed fill over a segment stack; every pixel of the region is
// marked in the visited map and widens the bounding box.
void FindRegion(TPxBitmap* Bitmap, int StartX, int StartY, int Tolerance, TRegion& Region)
{
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    const TSimilarity similar(Bitmap, StartX, StartY, Tolerance);
    auto fillable = [&](int x, int y) { return similar(x, y) && !Region.Visited.Get(x, y); };
    auto mark = [&](int x, int y) {
        Region.Visited.Set(x, y);
        Region.MinX = std::min(Region.MinX, x);
        Region.MinY = std::min(Region.MinY, y);
        Region.MaxX = std::max(Region.MaxX, x);
        Region.MaxY = std::max(Region.MaxY, y);
    };

    std::vector<TSegment> stack;
    stack.reserve(2 * static_cast<size_t>(width));
    stack.push_back({StartY, StartX, StartX, 1});
    stack.push_back({StartY + 1, StartX, StartX, -1});
    while (!stack.empty()) {
        const TSegment s = stack.back();
        stack.pop_back();
        const int y = s.Row + s.Dir;
        int dir = s.Dir;
        const int xl = s.Left;
        const int xr = std::min(s.Right, width - 1);
        int x = xl;
        const bool rowInside = y >= 0 && y < height;
        if (rowInside) {
            while (x >= 0 && fillable(x, y)) {
                mark(x, y);
                --x;
            }
        }
        if (y < 0)
            continue;
        if (y >= height)
            dir = -dir;
        int l = 0;
        bool fill = true;
        if (x == xl) {
            fill = false;
        } else {
            l = x + 1;
            if (l < xl)
                stack.push_back({y, l, xl - 1, -dir});
            x = xl + 1;
        }
        do {
            if (fill) {
                if (rowInside) {
                    while (x < width && fillable(x, y)) {
                        mark(x, y);
                        ++x;
                    }
                }
                stack.push_back({y, l, x - 1, dir});
                if (x > s.Right + 1)
                    stack.push_back({y, s.Right + 1, x - 1, -dir});
            }
            fill = true;
            ++x;
            while (x <= xr && !fillable(x, y))
                ++x;
            l = x;
        } while (x <= xr);
    }
}

bool Inside(TPxBitmap* Bitmap, int x, int y)
{
    return x >= 0 && y >= 0 && x < Bitmap->GetWidth() && y < Bitmap->GetHeight();
}

// Direction table of the border walk, in search order, with chain codes.
struct TDirection {
    int Dx;
    int Dy;
    int Code;
};
constexpr TDirection kDirections[8] = {{1, 0, 0},  {0, -1, 2}, {-1, 0, 4}, {0, 1, 6},
                                       {1, -1, 1}, {-1, -1, 3}, {-1, 1, 5}, {1, 1, 7}};
constexpr int kCodeDx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kCodeDy[8] = {0, -1, -1, -1, 0, 1, 1, 1};

// The region relative to its bounding box, grown by a pixel when Dilate.
TBitMap BoxMap(const TRegion& Region, bool Dilate)
{
    const int minX = Region.MinX;
    const int minY = Region.MinY;
    const int bw = Region.MaxX - minX + 1;
    const int bh = Region.MaxY - minY + 1;
    TBitMap map(bw, bh);
    for (int py = 0; py < bh; ++py) {
        for (int px = 0; px < bw; ++px) {
            if (!Region.Visited.Get(px + minX, py + minY))
                continue;
            if (!Dilate) {
                map.Set(px, py);
                continue;
            }
            for (int ny = std::max(py - 1, 0); ny <= std::min(py + 1, bh - 1); ++ny)
                for (int nx = std::max(px - 1, 0); nx <= std::min(px + 1, bw - 1); ++nx)
                    map.Set(nx, ny);
        }
    }
    return map;
}

// The contour grid: each region pixel a 4 x 4 block of 1s two cells inside
// the edges; border cells are 3, walked border cells 2.
struct TContourGrid {
    int Cols;
    int Rows;
    std::vector<uint8_t> Cells;

    TContourGrid(const TBitMap& Map, int BW, int BH)
        : Cols(4 * BW + 4), Rows(4 * BH + 4), Cells(static_cast<size_t>(Cols) * static_cast<size_t>(Rows), 0)
    {
        for (int py = 0; py < BH; ++py)
            for (int px = 0; px < BW; ++px)
                if (Map.Get(px, py))
                    for (int r = 4 * py + 2; r <= 4 * py + 5; ++r)
                        for (int c = 4 * px + 2; c <= 4 * px + 5; ++c)
                            Cell(c, r) = 1;
    }
    uint8_t& Cell(int c, int r) { return Cells[static_cast<size_t>(r) * Cols + static_cast<size_t>(c)]; }
    bool IsBorder(int c, int r) { return c >= 0 && r >= 0 && c < Cols && r < Rows && Cell(c, r) == 3; }
};

// Border cells: the cell just outside the first 1 of every run, in four
// passes (rows both ways, then columns both ways).
void MarkBorderCells(TContourGrid& G)
{
    for (int r = 0; r < G.Rows; ++r) {
        bool run = false;
        for (int c = 1; c < G.Cols; ++c) {
            if (G.Cell(c, r) != 1) {
                run = false;
            } else if (!run) {
                G.Cell(c - 1, r) = 3;
                run = true;
            }
        }
        run = false;
        for (int c = G.Cols - 1; c >= 0; --c) {
            if (G.Cell(c, r) != 1) {
                run = false;
            } else if (!run) {
                if (c + 1 < G.Cols)
                    G.Cell(c + 1, r) = 3;
                run = true;
            }
        }
    }
    for (int c = 0; c < G.Cols; ++c) {
        bool run = false;
        for (int r = 0; r < G.Rows; ++r) {
            if (G.Cell(c, r) != 1) {
                run = false;
            } else if (!run) {
                if (r > 0)
                    G.Cell(c, r - 1) = 3;
                run = true;
            }
        }
        run = false;
        for (int r = G.Rows - 1; r >= 0; --r) {
            if (G.Cell(c, r) != 1) {
                run = false;
            } else if (!run) {
                if (r + 1 < G.Rows)
                    G.Cell(c, r + 1) = 3;
                run = true;
            }
        }
    }
}

// The border cell nearest the top-left of the border cells' box (column 0
// not searched); false when there is none.
bool FindStartCell(TContourGrid& G, int& StartC, int& StartR)
{
    int boxL = INT_MAX, boxT = INT_MAX;
    for (int r = 0; r < G.Rows; ++r)
        for (int c = 1; c < G.Cols; ++c)
            if (G.Cell(c, r) == 3) {
                boxL = std::min(boxL, c);
                boxT = std::min(boxT, r);
            }
    if (boxL == INT_MAX)
        return false;
    StartC = -1;
    StartR = -1;
    int64_t best = INT64_MAX;
    for (int r = 0; r < G.Rows; ++r)
        for (int c = 1; c < G.Cols; ++c)
            if (G.Cell(c, r) == 3) {
                const int64_t dc = c - boxL;
                const int64_t dr = r - boxT;
                const int64_t d = dc * dc + dr * dr;
                if (d < best) {
                    best = d;
                    StartC = c;
                    StartR = r;
                }
            }
    return true;
}

// Walks the border from the start cell, marking walked cells 2, and returns
// the chain codes of the steps (closed back to the start when it is a
// neighbour of the last cell).
std::vector<uint8_t> WalkBorder(TContourGrid& G, int StartC, int StartR)
{
    std::vector<uint8_t> chain;
    chain.reserve(8192);
    int c = StartC, r = StartR;
    G.Cell(c, r) = 2;
    int previous = 4;
    for (;;) {
        const TDirection& p = kDirections[previous];
        if (G.IsBorder(c + p.Dx, r + p.Dy)) {
            c += p.Dx;
            r += p.Dy;
            G.Cell(c, r) = 2;
            chain.push_back(static_cast<uint8_t>(p.Code));
        }
        int found = -1;
        for (int i = 0; i < 8; ++i) {
            if (G.IsBorder(c + kDirections[i].Dx, r + kDirections[i].Dy)) {
                found = i;
                break;
            }
        }
        if (found < 0)
            break;
        c += kDirections[found].Dx;
        r += kDirections[found].Dy;
        G.Cell(c, r) = 2;
        chain.push_back(static_cast<uint8_t>(kDirections[found].Code));
        previous = found;
    }
    for (const TDirection& d : kDirections) {
        if (c + d.Dx == StartC && r + d.Dy == StartR) {
            chain.push_back(static_cast<uint8_t>(d.Code));
            break;
        }
    }
    return chain;
}

// Vertices at every change of direction of the chain from grid cell
// (StartC, StartR), back in pixel corners of the image (the box at MinX,
// MinY).
std::vector<POINT> ChainVertices(const std::vector<uint8_t>& Chain, int StartC, int StartR, int MinX, int MinY)
{
    std::vector<POINT> points;
    int64_t px = static_cast<int64_t>(StartC) - 1 + 4 * static_cast<int64_t>(MinX);
    int64_t py = static_cast<int64_t>(StartR) - 1 + 4 * static_cast<int64_t>(MinY);
    auto append = [&] { points.push_back(POINT{static_cast<LONG>(px / 4), static_cast<LONG>(py / 4)}); };
    append();
    int last = Chain.empty() ? 0 : Chain.front();
    for (uint8_t code : Chain) {
        if (code != last) {
            append();
            last = code;
        }
        px += kCodeDx[code];
        py += kCodeDy[code];
    }
    return points;
}

}  // namespace

void PxMagicWandFill(TPxBitmap* Bitmap, int x, int y, int Value, TPxMask* Mask, int Tolerance, bool Dilate)
{
    if (!Bitmap || !Mask || !Inside(Bitmap, x, y))
        return;
    TPxAccessScope access(*Bitmap, pxAccessRead);
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    TRegion region{TBitMap(width, height)};
    FindRegion(Bitmap, x, y, Tolerance, region);
    for (int py = region.MinY; py <= region.MaxY; ++py) {
        for (int px = region.MinX; px <= region.MaxX; ++px) {
            if (!region.Visited.Get(px, py))
                continue;
            if (!Dilate) {
                Mask->SetPixel(px, py, Value);
                continue;
            }
            for (int ny = std::max(py - 1, 0); ny <= std::min(py + 1, height - 1); ++ny)
                for (int nx = std::max(px - 1, 0); nx <= std::min(px + 1, width - 1); ++nx)
                    Mask->SetPixel(nx, ny, Value);
        }
    }
}

void PxMagicWandGlobal(TPxBitmap* Bitmap, int x, int y, int Value, TPxMask* Mask, int Tolerance)
{
    if (!Bitmap || !Mask || !Inside(Bitmap, x, y))
        return;
    TPxAccessScope access(*Bitmap, pxAccessRead);
    const TSimilarity similar(Bitmap, x, y, Tolerance);
    const int width = Bitmap->GetWidth();
    const int height = Bitmap->GetHeight();
    for (int py = 0; py < height; ++py)
        for (int px = 0; px < width; ++px)
            if (similar(px, py))
                Mask->SetPixel(px, py, Value);
}

std::vector<POINT> PxMagicWandContour(TPxBitmap* Bitmap, int x, int y, bool Dilate, int Tolerance, int& Count)
{
    Count = 0;
    if (!Bitmap || !Inside(Bitmap, x, y))
        return {};
    TPxAccessScope access(*Bitmap, pxAccessRead);
    TRegion region{TBitMap(Bitmap->GetWidth(), Bitmap->GetHeight())};
    FindRegion(Bitmap, x, y, Tolerance, region);
    const int bw = region.MaxX - region.MinX + 1;
    const int bh = region.MaxY - region.MinY + 1;
    std::vector<uint8_t> chain;
    int startC = -1, startR = -1;
    {
        TContourGrid grid(BoxMap(region, Dilate), bw, bh);
        MarkBorderCells(grid);
        if (!FindStartCell(grid, startC, startR))
            return {};
        chain = WalkBorder(grid, startC, startR);
    }
    std::vector<POINT> points = ChainVertices(chain, startC, startR, region.MinX, region.MinY);
    Count = static_cast<int>(points.size());
    return points;
}

}  // namespace imaging
