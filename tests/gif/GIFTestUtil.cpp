#include "GIFTestUtil.h"

#include <windows.h>

#include <algorithm>

namespace giftest {

std::wstring Fixture(const std::wstring& Name) { return testsupport::FixturePath(L"gif", Name); }

std::vector<uint8_t> FixtureBytes(const std::wstring& Name) { return testsupport::FixtureBytes(L"gif", Name); }

bool WarningLog::Has(const std::wstring& m) const
{
    return std::find(Messages.begin(), Messages.end(), m) != Messages.end();
}

std::vector<uint8_t> FramePixels(gif::TGIFSubImage* Frame)
{
    const uint8_t* p = Frame->GetData();
    return p ? std::vector<uint8_t>(p, p + Frame->GetDataSize()) : std::vector<uint8_t>{};
}

std::vector<uint8_t> FrameRGB(gif::TGIFSubImage* Frame)
{
    std::vector<uint8_t> Out;
    gif::TGIFColorMap* Map = Frame->ActiveColorMap();
    for (uint8_t i : FramePixels(Frame)) {
        const gif::TGIFRGB c = Map->GetColor(i);
        Out.push_back(static_cast<uint8_t>(c));
        Out.push_back(static_cast<uint8_t>(c >> 8));
        Out.push_back(static_cast<uint8_t>(c >> 16));
    }
    return Out;
}

}  // namespace giftest

namespace giftest {

gif::TGIFSubImage* AddFrame(gif::TGIFImage& Image, int L, int T, int W, int H, const std::vector<uint8_t>& Pixels,
                            const std::vector<gif::TGIFColor>& Local)
{
    auto* f = new gif::TGIFSubImage(&Image);
    f->SetPlacement(L, T, W, H);
    std::copy(Pixels.begin(), Pixels.end(), f->GetData());
    if (!Local.empty())
        f->GetColorMap()->ImportRGB(Local.data(), static_cast<int>(Local.size()));
    Image.Add(f);
    return f;
}

gif::TGIFGraphicControlExtension* AddControl(gif::TGIFSubImage* Frame, int Disposal, int Delay, int Transparent)
{
    auto* g = new gif::TGIFGraphicControlExtension(Frame);
    Frame->GetExtensions()->Add(g);
    g->SetDisposal(Disposal);
    g->SetDelay(static_cast<uint16_t>(Delay));
    if (Transparent >= 0) {
        g->SetTransparent(true);
        g->SetTransparentColorIndex(Transparent);
    }
    return g;
}

void SetGlobal(gif::TGIFImage& Image, const std::vector<gif::TGIFColor>& Colors)
{
    Image.GetGlobalColorMap()->ImportRGB(Colors.data(), static_cast<int>(Colors.size()));
}

}  // namespace giftest
