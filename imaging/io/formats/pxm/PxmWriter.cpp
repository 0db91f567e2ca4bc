#include "imaging/io/formats/pxm/PxmWriter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/StringList.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxStreamUtils.h"
#include "imaging/proc/PxConvertRows.h"

namespace imaging {

namespace {

enum class TPxmKind { None, P4, P5, P6Wide24, P6Wide48, P6 };

TPxmKind ChooseKind(TPxBitmap* Bitmap, const TIOParamsVals& Params)
{
    const TPxPixelFormat f = Bitmap->GetPixelFormat();
    const int bps = Params.BitsPerSample, spp = Params.SamplesPerPixel;
    if ((bps == 1 && spp == 1) || f == px1g)
        return TPxmKind::P4;
    if (bps == 8 && spp == 1)
        return TPxmKind::P5;
    if (bps == 16 && spp == 3 && f == px24RGB)
        return TPxmKind::P6Wide24;
    if (f == pxRGB48)
        return TPxmKind::P6Wide48;
    if ((bps == 8 && spp == 3) || f == px24RGB)
        return TPxmKind::P6;
    return TPxmKind::None;
}

// Grey bytes of a 24-bit row through the toolkit's colour-row conversion.
void GreyRow(const uint8_t* Row, uint8_t* Out, int Count)
{
    TPxConvertColorRowProc convert = PxConvertColorRowHook ? PxConvertColorRowHook : &PxConvertColorRow;
    convert(Row, pxRowBGR, Out, nullptr, Count, pxRowGray);
}

}  // namespace

void PxWritePXM(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    if (!Bitmap || Bitmap->IsEmpty()) {
        Progress.Abort();
        return;
    }
    const TPxmKind kind = ChooseKind(Bitmap, Params);
    if (kind == TPxmKind::None) {
        // Nothing fits: a save must not look successful.
        Progress.Abort();
        return;
    }
    // The format each variant reads its rows from; others go through a copy.
    TPxPixelFormat need = px24RGB;
    if (kind == TPxmKind::P4)
        need = px1g;
    else if (kind == TPxmKind::P6Wide48)
        need = pxRGB48;
    TPxBitmap* source = Bitmap;
    std::unique_ptr<TPxBitmap> copy;
    if (Bitmap->GetPixelFormat() != need) {
        copy = std::make_unique<TPxBitmap>();
        copy->Assign(Bitmap);
        copy->SetPixelFormat(need);
        source = copy.get();
    }
    const int width = source->GetWidth(), height = source->GetHeight();

    std::string comments;
    if (Params.PXMComments)
        for (int i = 0; i < Params.PXMComments->GetCount(); ++i)
            comments += "\n# " + classlib::WideToAnsi(Params.PXMComments->GetStrings(i)) + "\n";
    std::string header;
    switch (kind) {
    case TPxmKind::P4: header = "P4 "; break;
    case TPxmKind::P5: header = "P5 "; break;
    default: header = "P6 "; break;
    }
    header += comments + PxIntToStrA(width) + " " + PxIntToStrA(height);
    if (kind == TPxmKind::P5 || kind == TPxmKind::P6)
        header += " 255";
    else if (kind == TPxmKind::P6Wide24 || kind == TPxmKind::P6Wide48)
        header += " 65535";
    header += "\n";

    bool aborting = false;
    PxSafeStreamWrite(Stream, aborting, header.data(), int64_t(header.size()));

    TPxAccessScope access(*source, pxAccessRead);
    size_t outLen = 0;
    switch (kind) {
    case TPxmKind::P4: outLen = size_t((width + 7) / 8); break;
    case TPxmKind::P5: outLen = size_t(width); break;
    case TPxmKind::P6: outLen = size_t(width) * 3; break;
    default: outLen = size_t(width) * 6; break;
    }
    std::vector<uint8_t> out(outLen);
    for (int y = 0; y < height && !aborting; ++y) {
        const uint8_t* row = source->GetScanline(y);
        switch (kind) {
        case TPxmKind::P4:
            std::copy(row, row + outLen, out.begin());
            PxInvertBuffer(out.data(), int(outLen));
            break;
        case TPxmKind::P5: GreyRow(row, out.data(), width); break;
        case TPxmKind::P6:
            for (int x = 0; x < width; ++x) {
                out[size_t(3 * x)] = row[3 * x + 2];
                out[size_t(3 * x + 1)] = row[3 * x + 1];
                out[size_t(3 * x + 2)] = row[3 * x];
            }
            break;
        case TPxmKind::P6Wide24:
            // Red, green, blue, each byte doubled into a big-endian word.
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c)
                    out[size_t(6 * x + 2 * c)] = out[size_t(6 * x + 2 * c + 1)] = row[3 * x + 2 - c];
            break;
        case TPxmKind::P6Wide48:
            for (size_t i = 0; i < outLen; i += 2) {
                out[i] = row[i + 1];
                out[i + 1] = row[i];
            }
            break;
        case TPxmKind::None: break;
        }
        PxSafeStreamWrite(Stream, aborting, out.data(), int64_t(outLen));
        Progress.Progress(int(int64_t(y + 1) * 100 / height));
        if (Progress.Aborted())
            break;
    }
    if (aborting)
        Progress.Abort();
}

}  // namespace imaging
