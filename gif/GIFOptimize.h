// Colour-table merging of a whole picture: histograms per colour table and
// the optimiser that builds one global table ordered by use.
#pragma once

#include <memory>
#include <vector>

#include "classlib/Lists.h"
#include "gif/GIFImage.h"

namespace gif {

struct THistogramRecord {
    int32_t Count = 0;     // uses; -1 marks an entry found unused
    int32_t OldIndex = 0;
    int32_t NewIndex = 256;  // 256: not yet mapped
    TGIFColor Color{};
    THistogramRecord* Link = nullptr;  // the record a merged record was folded into
};

class THistogram : public classlib::TObject {
public:
    explicit THistogram(TGIFColorMap* Table);
    // Counts a frame's pixels; answers whether its transparent index occurs.
    bool ProcessSubImage(TGIFSubImage* Frame);
    // Sorts by decreasing use and cuts the unused entries; answers the rest.
    int Prune();
    void ApplyMapping(bool AnyTransparent, int NewTransparent);
    classlib::TList& GetByUse() { return ByUse; }

private:
    int Count;
    TGIFColorMap* Table;
    std::vector<TGIFSubImage*> Frames;
    std::vector<THistogramRecord> Records;
    classlib::TList ByUse;
};

class TColorMapOptimizer : public classlib::TObject {
public:
    explicit TColorMapOptimizer(TGIFImage* Image) : TargetImage(Image) {}
    void Optimize();

private:
    void ProcessImage();
    void MergeColors();
    void MapColors();
    void ReplaceColorMaps();

    TGIFImage* TargetImage;
    std::vector<std::unique_ptr<THistogram>> TableHistograms;
    classlib::TList Combined;
    bool AnyTransparent = false;
    int KeptCount = 0;
    int NewTransparent = 0;
    TGIFColor NewColors[256]{};
};

}  // namespace gif
