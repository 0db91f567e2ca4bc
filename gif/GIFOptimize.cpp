// Colour-table optimisation and image optimisation (crop, merge, clean-up).
#include "gif/GIFOptimize.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "gif/GIFExtensions.h"

namespace gif {

namespace {

int CompareByUse(void* a, void* b)
{
    const auto* r1 = static_cast<THistogramRecord*>(a);
    const auto* r2 = static_cast<THistogramRecord*>(b);
    return (r2->Count > r1->Count) - (r2->Count < r1->Count);
}

int ColorKey(const THistogramRecord* r)
{
    return (r->Color.Blue << 16) | (r->Color.Green << 8) | r->Color.Red;
}

int CompareByColor(void* a, void* b)
{
    return ColorKey(static_cast<THistogramRecord*>(b)) - ColorKey(static_cast<THistogramRecord*>(a));
}

// Runs the painters' lock and the final clean-up of an optimisation.
struct TLockedImage {
    classlib::TThreadListLock Lock;
    explicit TLockedImage(TGIFImage* Image) : Lock(*Image->GetPainters()) {}
};

bool SameColor(TGIFColorMap* MapA, int a, TGIFColorMap* MapB, int b)
{
    if (MapA == MapB && a == b)
        return true;
    if (a >= MapA->GetCount() || b >= MapB->GetCount())
        return false;
    const TGIFColor& x = MapA->Entry(a);
    const TGIFColor& y = MapB->Entry(b);
    return x.Red == y.Red && x.Green == y.Green && x.Blue == y.Blue;
}

}  // namespace

// ---- THistogram ------------------------------------------------------------------

THistogram::THistogram(TGIFColorMap* Map) : Count(Map->GetCount()), Table(Map)
{
    Records.resize(static_cast<size_t>(Count));
    ByUse.SetCapacity(Count);
    for (int i = 0; i < Count; ++i) {
        Records[i].OldIndex = i;
        Records[i].Color = Map->Entry(i);
        ByUse.Add(&Records[i]);
    }
}

bool THistogram::ProcessSubImage(TGIFSubImage* Frame)
{
    if (Frame->Empty())
        return false;
    Frames.push_back(Frame);
    const bool Transparent = Frame->GetTransparent();
    const int t = Frame->TransparentIndex();
    bool TransparentUsed = false;
    bool Warned = false;
    uint8_t* p = Frame->GetData();
    for (int32_t i = 0; i < Frame->GetDataSize(); ++i) {
        if (Transparent && p[i] == t) {
            TransparentUsed = true;
            continue;
        }
        if (p[i] >= Count) {
            p[i] = 0;
            if (!Warned) {
                Frame->Warning(1, L"Color not in color table");
                Warned = true;
            }
        }
        if (Count == 0)
            continue;
        THistogramRecord& r = Records[p[i]];
        if (r.Count == INT32_MAX)
            break;
        ++r.Count;
    }
    if (Transparent && !TransparentUsed) {
        if (auto* Gce = Frame->GetControlExtension()) {
            Gce->SetTransparentColorIndex(0);
            Gce->SetTransparent(false);
        }
        Frame->SetIsTransparent(false);
    }
    return TransparentUsed;
}

int THistogram::Prune()
{
    ByUse.Sort(&CompareByUse);
    int i = 0;
    while (i < ByUse.GetCount() && static_cast<THistogramRecord*>(ByUse.GetItem(i))->Count != 0)
        ++i;
    for (int k = i; k < ByUse.GetCount(); ++k)
        static_cast<THistogramRecord*>(ByUse.GetItem(k))->Count = -1;
    ByUse.SetCount(i);
    return i;
}

void THistogram::ApplyMapping(bool AnyTransparent, int NewTransparent)
{
    uint8_t Map[256];
    for (int i = 0; i < 256; ++i)
        Map[i] = 0;
    for (const THistogramRecord& r : Records)
        Map[r.OldIndex] = static_cast<uint8_t>(r.NewIndex < 256 ? r.NewIndex : 0);
    for (TGIFSubImage* Frame : Frames) {
        const bool Transparent = AnyTransparent && Frame->GetTransparent();
        const int t = Frame->TransparentIndex();
        uint8_t* p = Frame->GetData();
        for (int32_t i = 0; i < Frame->GetDataSize(); ++i)
            p[i] = (Transparent && p[i] == t) ? static_cast<uint8_t>(NewTransparent) : Map[p[i]];
        if (Transparent && Frame->GetControlExtension())
            Frame->GetControlExtension()->SetTransparentColorIndex(NewTransparent);
    }
}

// ---- TColorMapOptimizer --------------------------------------------------------------

void TColorMapOptimizer::ProcessImage()
{
    AnyTransparent = false;
    TGIFImageList* List = TargetImage->GetImages();
    if (TargetImage->GetGlobalColorMap()->GetCount() > 0) {
        auto h = std::make_unique<THistogram>(TargetImage->GetGlobalColorMap());
        bool Any = false;
        for (int i = 0; i < List->GetCount(); ++i) {
            TGIFSubImage* f = List->GetFrame(i);
            if (f->GetColorMap()->GetCount() == 0 && !f->Empty()) {
                Any = true;
                if (h->ProcessSubImage(f))
                    AnyTransparent = true;
            }
        }
        if (Any)
            TableHistograms.push_back(std::move(h));
    }
    for (int i = 0; i < List->GetCount(); ++i) {
        TGIFSubImage* f = List->GetFrame(i);
        if (f->GetColorMap()->GetCount() > 0 && !f->Empty()) {
            auto h = std::make_unique<THistogram>(f->GetColorMap());
            if (h->ProcessSubImage(f))
                AnyTransparent = true;
            TableHistograms.push_back(std::move(h));
        }
    }
}

void TColorMapOptimizer::MergeColors()
{
    Combined.Sort(&CompareByColor);
    THistogramRecord* RunFirst = nullptr;
    for (int i = 0; i < Combined.GetCount(); ++i) {
        auto* r = static_cast<THistogramRecord*>(Combined.GetItem(i));
        if (RunFirst && ColorKey(r) == ColorKey(RunFirst)) {
            RunFirst->Count += r->Count;
            r->Count = 0;
            r->Link = RunFirst;
        } else {
            RunFirst = r;
        }
    }
}

void TColorMapOptimizer::MapColors()
{
    Combined.Sort(&CompareByUse);
    const int Limit = AnyTransparent ? 255 : 256;
    KeptCount = Combined.GetCount();
    for (int i = 0; i < Combined.GetCount(); ++i)
        if (i >= Limit || static_cast<THistogramRecord*>(Combined.GetItem(i))->Count == 0) {
            KeptCount = i;
            break;
        }
    for (int i = 0; i < KeptCount; ++i) {
        auto* r = static_cast<THistogramRecord*>(Combined.GetItem(i));
        r->NewIndex = i;
        NewColors[i] = r->Color;
    }
    for (int i = KeptCount; i < Combined.GetCount(); ++i) {
        auto* r = static_cast<THistogramRecord*>(Combined.GetItem(i));
        if (r->Count > 0) {
            // The nearest kept colour by the sum of the absolute differences.
            int Best = 765 + 1, BestIndex = 0;
            for (int k = 0; k < KeptCount; ++k) {
                const TGIFColor& c = NewColors[k];
                const int d = std::abs(c.Red - r->Color.Red) + std::abs(c.Green - r->Color.Green) +
                              std::abs(c.Blue - r->Color.Blue);
                if (d < Best) {
                    Best = d;
                    BestIndex = k;
                }
            }
            r->NewIndex = BestIndex;
        } else if (r->Count == 0) {
            if (!r->Link || r->Link->NewIndex >= 256)
                throw classlib::EAssertionFailed(L"Internal error: Mapping to unmapped color");
            r->NewIndex = r->Link->NewIndex;
        } else {
            throw classlib::EAssertionFailed(L"Internal error: Unused entry exported");
        }
    }
    if (AnyTransparent) {
        NewTransparent = KeptCount;
        NewColors[KeptCount] = TGIFColor{0, 0, 0};
        ++KeptCount;
    }
}

void TColorMapOptimizer::ReplaceColorMaps()
{
    TGIFImageList* List = TargetImage->GetImages();
    for (int i = 0; i < List->GetCount(); ++i)
        List->GetFrame(i)->GetColorMap()->Clear();
    TargetImage->GetGlobalColorMap()->ImportRGB(NewColors, KeptCount);
    TargetImage->GetGlobalColorMap()->SetSorted(true);
}

void TColorMapOptimizer::Optimize()
{
    TargetImage->StopPainters();
    TLockedImage Locked(TargetImage);
    ProcessImage();
    for (auto& h : TableHistograms) {
        h->Prune();
        classlib::TList& Used = h->GetByUse();
        for (int i = 0; i < Used.GetCount(); ++i) {
            auto* r = static_cast<THistogramRecord*>(Used.GetItem(i));
            if (r->Count < 1)
                throw classlib::EAssertionFailed(L"Unused entry exported from THistogram");
            Combined.Add(r);
        }
    }
    MergeColors();
    MapColors();
    ReplaceColorMaps();
    for (auto& h : TableHistograms)
        h->ApplyMapping(AnyTransparent, NewTransparent);
    TGIFImageList* List = TargetImage->GetImages();
    for (int i = 0; i < List->GetCount(); ++i) {
        List->GetFrame(i)->FreeBitmap();
        List->GetFrame(i)->FreeMask();
        List->GetFrame(i)->SetPalette(nullptr);
    }
}

void TGIFImage::OptimizeColorMap()
{
    TColorMapOptimizer Optimizer(this);
    Optimizer.Optimize();
}

// ---- crop and merge ------------------------------------------------------------------------

void TGIFSubImage::Crop()
{
    if (!IsTransparent || Empty())
        return;
    const int t = TransparentIndex();
    const int W = GetWidth(), H = GetHeight();
    const uint8_t* p = PixelData.get();
    auto Opaque = [&](int x, int y) { return p[int64_t{y} * W + x] != t; };
    int Left = -1, Right = -1;
    for (int x = 0; x < W && Left < 0; ++x)
        for (int y = 0; y < H; ++y)
            if (Opaque(x, y)) {
                Left = x;
                break;
            }
    if (Left < 0) {
        Clear();
        return;
    }
    for (int x = W - 1; x >= Left && Right < 0; --x)
        for (int y = 0; y < H; ++y)
            if (Opaque(x, y)) {
                Right = x;
                break;
            }
    int Top = -1, Bottom = -1;
    for (int y = 0; y < H && Top < 0; ++y)
        for (int x = Left; x <= Right; ++x)
            if (Opaque(x, y)) {
                Top = y;
                break;
            }
    for (int y = H - 1; y >= Top && Bottom < 0; --y)
        for (int x = Left; x <= Right; ++x)
            if (Opaque(x, y)) {
                Bottom = y;
                break;
            }
    const int NW = Right - Left + 1, NH = Bottom - Top + 1;
    if (NW <= 0 || NH <= 0 || (NW == W && NH == H))
        return;
    std::unique_ptr<uint8_t[]> Block(new uint8_t[static_cast<size_t>(NW) * NH]);
    for (int y = 0; y < NH; ++y)
        std::memcpy(Block.get() + int64_t{y} * NW, p + int64_t{Top + y} * W + Left, static_cast<size_t>(NW));
    Descriptor.Left = static_cast<uint16_t>(Descriptor.Left + Left);
    Descriptor.Top = static_cast<uint16_t>(Descriptor.Top + Top);
    Descriptor.Width = static_cast<uint16_t>(NW);
    Descriptor.Height = static_cast<uint16_t>(NH);
    PixelData = std::move(Block);
    PixelDataSize = NW * NH;
    FreeBitmap();
    FreeMask();
}

void TGIFSubImage::Merge(TGIFSubImage* Previous)
{
    if (!PixelData || !Previous || !Previous->PixelData)
        return;
    if (auto* g = Previous->GetControlExtension())
        if (g->GetDisposal() == 2 || g->GetDisposal() == 3)
            return;
    RECT Common;
    const RECT A = FrameRect(), B = Previous->FrameRect();
    if (!::IntersectRect(&Common, &A, &B))
        return;
    TGIFColorMap* MapF = ActiveColorMap();
    TGIFColorMap* MapP = Previous->ActiveColorMap();
    const bool WasTransparent = IsTransparent;
    int t = WasTransparent ? TransparentIndex() : -1;
    if (!WasTransparent) {
        const bool Room = LocalTable->GetCount() > 0
                              ? LocalTable->GetCount() < 256
                              : (OwnerImage && OwnerImage->GetGlobalColorMap()->GetCount() >= 1 &&
                                 OwnerImage->GetGlobalColorMap()->GetCount() <= 255);
        if (!Room)
            return;
    }
    const bool PrevTransparent = Previous->IsTransparent;
    const int pt = Previous->TransparentIndex();
    for (int y = Common.top; y < Common.bottom; ++y) {
        uint8_t* Row = Scanline(y - GetTop());
        const uint8_t* PRow = Previous->Scanline(y - Previous->GetTop());
        for (int x = Common.left; x < Common.right; ++x) {
            uint8_t& p = Row[x - GetLeft()];
            const int q = PRow[x - Previous->GetLeft()];
            if (t >= 0 && p == t)
                continue;
            if (PrevTransparent && q == pt)
                continue;
            if (!SameColor(MapF, p, MapP, q))
                continue;
            if (t < 0) {
                // The first transparent pixel of a frame without transparency.
                if (LocalTable->GetCount() == 0 && OwnerImage) {
                    TGIFImageList* List = OwnerImage->GetImages();
                    for (int i = 0; i < List->GetCount() && t < 0; ++i) {
                        TGIFSubImage* o = List->GetFrame(i);
                        if (o != this && o->IsTransparent && o->GetColorMap()->GetCount() == 0)
                            t = o->TransparentIndex();
                    }
                }
                if (t < 0)
                    t = MapF->Add(0);
            }
            p = static_cast<uint8_t>(t);
        }
    }
    if (!WasTransparent && t >= 0) {
        TGIFGraphicControlExtension* Gce = ControlExtension;
        if (!Gce) {
            Gce = new TGIFGraphicControlExtension(this);
            ExtensionList->Add(Gce);
        }
        Gce->SetTransparent(true);
        Gce->SetTransparentColorIndex(t);
    }
    FreeBitmap();
    FreeMask();
}

// ---- the whole picture ------------------------------------------------------------------------

void TGIFImage::Optimize(uint8_t Options, uint8_t Method, uint8_t, int)
{
    if (GetEmpty())
        return;
    StopPainters();
    TLockedImage Locked(this);
    TGIFImageProgress progress(this, L"Optimizing...");
    int Step = 0;
    const int Total = std::max(1, 6 * Frames->GetCount());
    auto Report = [&](int Steps) {
        Step += Steps;
        DoProgress(this, classlib::psRunning, static_cast<uint8_t>(std::min(100, Step * 100 / Total)), false,
                   L"Optimizing...");
    };
    auto Frame = [&](int i) { return Frames->GetFrame(i); };
    // Colour tables.
    if (Options & ooColorMap) {
        if (GetGlobalColorMap()->GetCount() > 0)
            GetGlobalColorMap()->DoOptimize();
        for (int i = 0; i < Frames->GetCount(); ++i)
            if (Frame(i)->GetColorMap()->GetCount() > 0)
                Frame(i)->GetColorMap()->DoOptimize();
    }
    Report(Frames->GetCount());
    // Transparency and disposal that have no effect.
    if (Options & ooCleanup) {
        for (int i = 0; i < Frames->GetCount(); ++i) {
            TGIFSubImage* f = Frame(i);
            if (!f->GetTransparent() || !f->GetData())
                continue;
            const uint8_t* p = f->GetData();
            const uint8_t t = static_cast<uint8_t>(f->TransparentIndex());
            if (std::find(p, p + f->GetDataSize(), t) == p + f->GetDataSize()) {
                if (auto* g = f->GetControlExtension())
                    g->SetTransparent(false);
                f->SetIsTransparent(false);
            }
        }
        for (int i = 0; i + 1 < Frames->GetCount(); ++i) {
            auto* g = Frame(i)->GetControlExtension();
            if (!g || (g->GetDisposal() != 2 && g->GetDisposal() != 3) || Frame(i + 1)->GetTransparent())
                continue;
            const RECT a = Frame(i)->FrameRect(), b = Frame(i + 1)->FrameRect();
            if (b.left >= a.left && b.top >= a.top && b.right <= a.right && b.bottom <= a.bottom)
                g->SetDisposal(0);
        }
    }
    Report(Frames->GetCount());
    // Merge with the picture each frame is drawn over.
    if (Options & ooMerge) {
        for (int i = Frames->GetCount() - 1; i >= 1; --i) {
            int j = i - 1;
            while (j > 0 && Frame(j)->GetControlExtension() && Frame(j)->GetControlExtension()->GetDisposal() == 3)
                --j;
            Frame(i)->Merge(Frame(j));
        }
    }
    Report(Frames->GetCount());
    // Crop transparent borders.
    if (Options & ooCrop) {
        for (int i = Frames->GetCount() - 1; i >= 0; --i) {
            TGIFSubImage* f = Frame(i);
            if (!f->GetData() || !f->GetTransparent())
                continue;
            const int Delay = f->GetControlExtension() ? f->GetControlExtension()->GetDelay() : 0;
            f->Crop();
            if (f->Empty()) {
                if (i > 0 && Frame(i - 1)->GetTransparent() && Frame(i - 1)->GetControlExtension()) {
                    auto* g = Frame(i - 1)->GetControlExtension();
                    g->SetDelay(static_cast<uint16_t>(std::min(0xFFFF, g->GetDelay() + Delay)));
                }
                delete f;
            }
        }
    }
    Report(Frames->GetCount());
    // Inessential blocks.
    if (Options & ooCleanup) {
        const int Count = Frames->GetCount();
        for (int i = Count - 1; i >= 0; --i) {
            TGIFSubImage* f = Frame(i);
            TGIFExtensionList* Exts = f->GetExtensions();
            for (int e = Exts->GetCount() - 1; e >= 0; --e) {
                TGIFExtension* x = Exts->GetExtension(e);
                const bool Loop = dynamic_cast<TGIFAppExtNSLoop*>(x) != nullptr;
                const bool Drop = dynamic_cast<TGIFCommentExtension*>(x) || dynamic_cast<TGIFTextExtension*>(x) ||
                                  dynamic_cast<TGIFUnknownAppExtension*>(x) || (Loop && !(i == 0 && Count > 1));
                if (Drop)
                    Exts->Delete(e);
            }
            if (auto* g = f->GetControlExtension()) {
                if ((g->GetDelay() == 0 || Count == 1) && !g->GetTransparent() && !g->GetUserInput() &&
                    (g->GetDisposal() < 2 || Count == 1))
                    Exts->Delete(Exts->IndexOf(g));
            }
            if (!f->GetData() && Exts->GetCount() == 0)
                delete f;
        }
    } else if ((Options & ooReduceColors) && Method == rmPalette) {
        RaiseGifError(L"Invalid reduction method");
    }
    Report(2 * Frames->GetCount());
    ReleaseBitmap();
    progress.Done = true;
}

}  // namespace gif
