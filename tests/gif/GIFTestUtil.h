// Shared helpers of the GIF tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "gif/GIFExtensions.h"
#include "gif/GIFImage.h"
#include "support/Fixtures.h"
#include "support/StreamBytes.h"
#include "support/TestSupport.h"

namespace giftest {

std::wstring Fixture(const std::wstring& Name);
std::vector<uint8_t> FixtureBytes(const std::wstring& Name);

// Collects the warnings of an image.
struct WarningLog {
    std::vector<std::wstring> Messages;
    void OnWarning(classlib::TObject*, uint8_t, const std::wstring& Message) { Messages.push_back(Message); }
    void Attach(gif::TGIFImage& Image) { Image.OnGIFWarning = gif::TGIFWarning(this, &WarningLog::OnWarning); }
    bool Has(const std::wstring& m) const;
};

// A memory stream holding Bytes, positioned at 0.
inline void LoadBytes(classlib::TMemoryStream& Stream, const std::vector<uint8_t>& Bytes)
{
    testsupport::SetBytes(Stream, Bytes);
}
using testsupport::StreamBytes;

// The frame's pixels as RGB triples through its active colour table.
std::vector<uint8_t> FrameRGB(gif::TGIFSubImage* Frame);
std::vector<uint8_t> FramePixels(gif::TGIFSubImage* Frame);

}  // namespace giftest

namespace giftest {

// Appends a frame at (L, T) of W x H with the given pixels and, when Local
// is not empty, a local colour table.
gif::TGIFSubImage* AddFrame(gif::TGIFImage& Image, int L, int T, int W, int H, const std::vector<uint8_t>& Pixels,
                            const std::vector<gif::TGIFColor>& Local = {});
// Appends a graphic control extension to a frame.
gif::TGIFGraphicControlExtension* AddControl(gif::TGIFSubImage* Frame, int Disposal, int Delay,
                                             int Transparent = -1);
void SetGlobal(gif::TGIFImage& Image, const std::vector<gif::TGIFColor>& Colors);

}  // namespace giftest
