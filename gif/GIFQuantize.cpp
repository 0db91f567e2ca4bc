#include "gif/GIFQuantize.h"

#include "classlib/WinHandles.h"
#include "gif/GIFDither.h"
#include "gif/GIFImage.h"

namespace gif {

namespace {

struct TLogPalette256 {
    WORD Version = 0x300;
    WORD Count = 0;
    PALETTEENTRY Pal[256]{};
    HPALETTE Create() const { return CheckGdi(::CreatePalette(reinterpret_cast<const LOGPALETTE*>(this))); }
};

HPALETTE GrayRamp(std::initializer_list<int> Levels)
{
    TLogPalette256 Log;
    for (int v : Levels)
        Log.Pal[Log.Count++] = {static_cast<BYTE>(v), static_cast<BYTE>(v), static_cast<BYTE>(v), PC_NOCOLLAPSE};
    return Log.Create();
}

HPALETTE CopyPaletteOf(HPALETTE Source)
{
    TLogPalette256 Log;
    if (!Source)
        return nullptr;
    Log.Count = static_cast<WORD>(::GetPaletteEntries(Source, 0, 256, Log.Pal));
    return Log.Count ? Log.Create() : nullptr;
}

inline int Branch(uint8_t R, uint8_t G, uint8_t B, int Level)
{
    const int Mask = 0x80 >> Level, Shift = 7 - Level;
    return (((R & Mask) >> Shift) << 2) | (((G & Mask) >> Shift) << 1) | ((B & Mask) >> Shift);
}

}  // namespace

TOctreeNode::TOctreeNode(int Level, int Depth, int& Leaves, std::array<TOctreeNode*, 8>& Reducible)
    : Leaf(Level == Depth)
{
    if (Leaf) {
        ++Leaves;
    } else {
        NextReducible = Reducible[Level];
        Reducible[Level] = this;
    }
}

TOctreeNode::~TOctreeNode()
{
    for (TOctreeNode* c : Children)
        delete c;
}

TColorQuantizer::TColorQuantizer(int Limit, int TreeDepth) : ColorLimit(Limit), Depth(TreeDepth)
{
    if (Depth > 8)
        throw classlib::EAssertionFailed(L"ColorBits must be 8 or less");
}

TColorQuantizer::~TColorQuantizer()
{
    delete Root;
}

void TColorQuantizer::AddColor(TOctreeNode*& Node, uint8_t R, uint8_t G, uint8_t B, int Level)
{
    // Iterative descent; a node is created at the level it is first needed.
    TOctreeNode** Slot = &Node;
    for (int L = Level;; ++L) {
        if (!*Slot)
            *Slot = new TOctreeNode(L, Depth, Leaves, ReducibleLists);
        TOctreeNode* n = *Slot;
        if (n->Leaf) {
            ++n->Count;
            n->SumRed += R;
            n->SumGreen += G;
            n->SumBlue += B;
            return;
        }
        Slot = &n->Children[Branch(R, G, B, L)];
    }
}

void TColorQuantizer::AddColor(uint8_t Red, uint8_t Green, uint8_t Blue)
{
    AddColor(Root, Red, Green, Blue, 0);
    while (Leaves > ColorLimit)
        Reduce();
}

void TColorQuantizer::Reduce()
{
    int Level = Depth - 1;
    while (Level > 0 && !ReducibleLists[Level])
        --Level;
    TOctreeNode* Node = ReducibleLists[Level];
    if (!Node)
        return;
    ReducibleLists[Level] = Node->NextReducible;
    int Children = 0;
    for (TOctreeNode*& c : Node->Children) {
        if (!c)
            continue;
        Node->SumRed += c->SumRed;
        Node->SumGreen += c->SumGreen;
        Node->SumBlue += c->SumBlue;
        Node->Count += c->Count;
        delete c;
        c = nullptr;
        ++Children;
    }
    Node->Leaf = true;
    Leaves = Leaves - Children + 1;
}

void TColorQuantizer::AddColors(TDIBReader* Reader, int Width, int Height)
{
    for (int y = 0; y < Height; ++y) {
        const uint8_t* p = Reader->GetRow(y);
        for (int x = 0; x < Width; ++x, p += 3)
            AddColor(p[2], p[1], p[0]);
    }
}

int TColorQuantizer::FillColorTable(RGBQUAD* Table)
{
    int n = 0;
    struct Walk {
        static void Run(TOctreeNode* Node, RGBQUAD* Table, int& n)
        {
            if (!Node)
                return;
            if (Node->Leaf) {
                if (n >= 256)
                    return;
                if (Node->Count)
                    Table[n] = {static_cast<BYTE>(Node->SumBlue / Node->Count),
                                static_cast<BYTE>(Node->SumGreen / Node->Count),
                                static_cast<BYTE>(Node->SumRed / Node->Count), 0};
                else
                    Table[n] = {0, 0, 0, 0};
                ++n;
                return;
            }
            for (TOctreeNode* c : Node->Children)
                Run(c, Table, n);
        }
    };
    Walk::Run(Root, Table, n);
    return n;
}

HPALETTE CreateOptimizedPaletteFromRows(TDIBReader* Reader, int Width, int Height, int Colors, int Depth,
                                        bool WithSystemColors)
{
    TLogPalette256 Log;
    for (auto& e : Log.Pal)
        e = {0, 0, 0, PC_NOCOLLAPSE};
    Log.Count = static_cast<WORD>(std::clamp(Colors, 0, 256));
    int First = 0;
    if (WithSystemColors) {
        PALETTEENTRY Sys[20];
        ::GetPaletteEntries(static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE)), 0, 20, Sys);
        for (int i = 0; i < 10; ++i) {
            Log.Pal[i] = Sys[i];
            Log.Pal[246 + i] = Sys[10 + i];
        }
        Colors = 236;
        First = 10;
        Log.Count = 256;
    }
    RGBQUAD Table[256]{};
    {
        TColorQuantizer Quantizer(Colors, Depth);
        Quantizer.AddColors(Reader, Width, Height);
        Quantizer.FillColorTable(Table);
    }
    for (int i = 0; i < Colors && First + i < 256; ++i)
        Log.Pal[First + i] = {Table[i].rgbRed, Table[i].rgbGreen, Table[i].rgbBlue, 0};
    return Log.Create();
}

HPALETTE CreateOptimizedPalette(classlib::TBitmap* Bitmap, int Colors, int Depth, bool WithSystemColors)
{
    TDIBReader Reader(Bitmap, classlib::pf24bit);
    return CreateOptimizedPaletteFromRows(&Reader, Bitmap->GetWidth(), Bitmap->GetHeight(), Colors, Depth,
                                          WithSystemColors);
}

HPALETTE CreateGrayPalette()
{
    TLogPalette256 Log;
    for (int i = 0; i < 256; ++i)
        Log.Pal[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), PC_NOCOLLAPSE};
    Log.Count = 256;
    return Log.Create();
}

HPALETTE CreateMonochromePalette()
{
    return GrayRamp({0x00, 0xFF});
}

HPALETTE CreateFourGrayPalette()
{
    return GrayRamp({0x00, 0x80, 0xC0, 0xFF});
}

HPALETTE CreateHalftonePaletteForScreen()
{
    classlib::TScreenDC DC;
    return CheckGdi(::CreateHalftonePalette(CheckGdi(DC.Get())));
}

classlib::TBitmap* ReduceColors(classlib::TBitmap* Bitmap, int ReductionMethod, int DitherKind, HPALETTE Palette,
                                int ReductionDepth)
{
    auto Result = std::make_unique<classlib::TBitmap>();
    if (ReductionMethod == rmNone) {
        Result->Assign(Bitmap);
        Result->SetPixelFormat(classlib::pf24bit);
        return Result.release();
    }
    const int W = Bitmap->GetWidth(), H = Bitmap->GetHeight();
    if (int64_t{W} * H > 500000)
        Result->SetPixelFormat(classlib::pf1bit);
    TDIBReader Reader(Bitmap, classlib::pf24bit);
    classlib::TOwnedPalette Owned;
    switch (ReductionMethod) {
    case rmWindows20: Owned.Reset(CopyPaletteOf(static_cast<HPALETTE>(::GetStockObject(DEFAULT_PALETTE)))); break;
    case rmWindowsGray: Owned.Reset(CreateHalftonePaletteForScreen()); break;
    case rmFourGray: Owned.Reset(CreateFourGrayPalette()); break;
    case rmMonochrome: Owned.Reset(CreateMonochromePalette()); break;
    case rmGrayScale: Owned.Reset(CreateGrayPalette()); break;
    case rmNetscape: Owned.Reset(CreateWebPalette()); break;
    case rmQuantize:
        Owned.Reset(CreateOptimizedPaletteFromRows(&Reader, W, H, 1 << std::clamp(ReductionDepth, 1, 8), 8, false));
        break;
    case rmQuantizeWindows: Owned.Reset(CreateOptimizedPalette(Bitmap, 256, 8, true)); break;
    case rmPalette: Owned.Reset(CopyPaletteOf(Palette)); break;
    default: return Result.release();
    }
    const HPALETTE Pal = Owned.Get();
    std::unique_ptr<TColorLookup> Lookup;
    switch (ReductionMethod) {
    case rmMonochrome: Lookup = std::make_unique<TMonochromeLookup>(Pal); break;
    case rmGrayScale: Lookup = std::make_unique<TGrayScaleLookup>(Pal); break;
    case rmNetscape: Lookup = std::make_unique<TNetscapeColorLookup>(Pal); break;
    case rmQuantize: Lookup = std::make_unique<TFastColorLookup>(Pal); break;
    default: Lookup = std::make_unique<TSlowColorLookup>(Pal); break;
    }
    if (Lookup->ColorCount == 0)
        return Result.release();
    std::unique_ptr<TDitherEngine> Ditherer = CreateDitherer(DitherKind, W, Lookup.get());
    if (!Ditherer)
        return Result.release();
    TDIBWriter Writer(Result.get(), Pal, H, W, classlib::pf8bit);
    for (int y = 0; y < H; ++y) {
        const uint8_t* Src = Reader.GetRow(y);
        uint8_t* Dst = Writer.GetRow(y);
        for (int x = Ditherer->NextColumn; x >= 0 && x < W; x = Ditherer->NextColumn) {
            uint8_t r, g, b;
            const uint8_t* p = Src + x * 3;
            Dst[x] = Ditherer->DitherPixel(p[2], p[1], p[0], r, g, b);
        }
        Ditherer->EndRow();
    }
    Writer.Finish();
    return Result.release();
}

}  // namespace gif
