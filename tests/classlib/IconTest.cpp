#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/GraphicFormats.h"
#include "classlib/Icon.h"
#include "classlib/Picture.h"
#include "classlib/Streams.h"
#include "support/TestSupport.h"
#include "tests/classlib/GraphicBytes.h"

using namespace classlib;
using classlibtest::LoadBytes;

namespace {

// icon_two.ico (make_icon_fixtures.sh): a 32 x 32 image with a transparent
// top-left 8 x 8 square, red left half, blue right half; and a green 16 x 16.
std::wstring IconFile() { return testsupport::FixtureDir(L"classlib") + L"\\icon_two.ico"; }

std::vector<uint8_t> ReadBytes(const std::wstring& file)
{
    TMemoryStream s;
    s.LoadFromFile(file);
    auto* p = static_cast<const uint8_t*>(s.GetMemory());
    return std::vector<uint8_t>(p, p + s.GetSize());
}

// The graphic drawn at its own size on a white 24-bit bitmap.
std::unique_ptr<TBitmap> DrawOnWhite(TGraphic& g)
{
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetPixelFormat(pf24bit);
    bmp->SetSize(g.GetWidth(), g.GetHeight());
    bmp->GetCanvas()->GetBrush()->SetColor(clWhite);
    bmp->GetCanvas()->FillRect(RECT{0, 0, g.GetWidth(), g.GetHeight()});
    bmp->GetCanvas()->Draw(0, 0, &g);
    return bmp;
}

void ExpectFixturePixels(TGraphic& g)
{
    auto bmp = DrawOnWhite(g);
    TCanvas* c = bmp->GetCanvas();
    EXPECT_EQ(c->GetPixel(2, 2), clWhite);   // transparent corner
    EXPECT_EQ(c->GetPixel(4, 20), clRed);
    EXPECT_EQ(c->GetPixel(10, 3), clRed);
    EXPECT_EQ(c->GetPixel(20, 20), clBlue);
    EXPECT_EQ(c->GetPixel(31, 31), clBlue);
}

}  // namespace

TEST(Icon, LoadsTheBestFittingImageAndDrawsItWithItsMask)
{
    ASSERT_EQ(::GetSystemMetrics(SM_CXICON), 32) << "the fixture expects 32-pixel system icons";
    TIcon icon;
    EXPECT_TRUE(icon.GetEmpty());
    icon.LoadFromFile(IconFile());
    ASSERT_FALSE(icon.GetEmpty());
    EXPECT_EQ(icon.GetWidth(), 32);
    EXPECT_EQ(icon.GetHeight(), 32);
    EXPECT_TRUE(icon.GetTransparent());
    ExpectFixturePixels(icon);
    EXPECT_THROW(icon.SetWidth(16), EInvalidGraphicOperation);

    // A copy draws the same and outlives the original's handle.
    TIcon copy;
    copy.Assign(&icon);
    icon.Assign(nullptr);
    EXPECT_TRUE(icon.GetEmpty());
    ExpectFixturePixels(copy);

    // The picture registry picks the icon class by extension.
    RegisterGraphicFormats();
    TPicture picture;
    picture.LoadFromFile(IconFile());
    ASSERT_NE(picture.GetGraphic(), nullptr);
    EXPECT_EQ(picture.GetGraphic()->GetGraphicClass(), &TIcon::Class);
    EXPECT_EQ(picture.GetWidth(), 32);
}

TEST(Icon, StreamRoundTripKeepsEveryImage)
{
    std::vector<uint8_t> file = ReadBytes(IconFile());
    // The icon sits inside a longer stream: exactly its bytes are consumed.
    std::vector<uint8_t> framed = {1, 2, 3};
    framed.insert(framed.end(), file.begin(), file.end());
    framed.insert(framed.end(), {9, 9});
    TMemoryStream in;
    in.WriteBuffer(framed.data(), static_cast<int64_t>(framed.size()));
    in.SetPosition(3);
    TIcon icon;
    icon.LoadFromStream(&in);
    EXPECT_EQ(in.GetPosition(), static_cast<int64_t>(3 + file.size()));

    TMemoryStream out;
    icon.SaveToStream(&out);
    ASSERT_EQ(out.GetSize(), static_cast<int64_t>(file.size()));
    EXPECT_EQ(std::memcmp(out.GetMemory(), file.data(), file.size()), 0);
}

TEST(Icon, IconMadeFromAHandleSavesAndLoadsBack)
{
    TIcon source;
    source.LoadFromFile(IconFile());
    TIcon fromHandle;
    fromHandle.SetHandle(::CopyIcon(source.GetHandle()));
    EXPECT_EQ(fromHandle.GetWidth(), 32);
    EXPECT_EQ(fromHandle.GetHeight(), 32);

    TMemoryStream s;
    fromHandle.SaveToStream(&s);
    ASSERT_GT(s.GetSize(), 0);
    s.SetPosition(0);
    TIcon reloaded;
    reloaded.LoadFromStream(&s);
    EXPECT_EQ(reloaded.GetWidth(), 32);
    ExpectFixturePixels(reloaded);

    // ReleaseHandle hands the handle over and empties the icon.
    HICON h = reloaded.ReleaseHandle();
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(reloaded.GetEmpty());
    ::DestroyIcon(h);
}

TEST(Icon, DamagedFilesRaiseAndLeaveTheIconUnchanged)
{
    const std::vector<uint8_t> good = ReadBytes(IconFile());
    auto put32 = [](std::vector<uint8_t>& v, size_t at, uint32_t x) {
        for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
    };
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
    };
    // Directory at 6, entries of 16 bytes: size at +8, offset at +12; the
    // first image's DIB header is at offset 0x26.
    const Case cases[] = {
        {"header only", [](auto& v) { v.resize(5); }},
        {"directory cut", [](auto& v) { v.resize(20); }},
        {"last byte missing", [](auto& v) { v.pop_back(); }},
        {"no images", [](auto& v) { v[4] = 0; }},
        {"not an icon", [](auto& v) { v[2] = 7; }},
        {"offset past the end", [&](auto& v) { put32(v, 6 + 12, 0x7FFFFFF0u); }},
        {"offset inside the directory", [&](auto& v) { put32(v, 6 + 12, 8); }},
        {"image bytes too few", [&](auto& v) { put32(v, 6 + 8, 40); }},
        {"huge width", [&](auto& v) { put32(v, 0x26 + 4, 100000); }},
        {"bad bit count", [&](auto& v) { v[0x26 + 14] = 3; }},
    };
    TIcon icon;
    icon.LoadFromFile(IconFile());
    for (const auto& c : cases) {
        std::vector<uint8_t> bad = good;
        c.damage(bad);
        EXPECT_THROW(LoadBytes(icon, bad), EInvalidGraphic) << c.name;
        EXPECT_EQ(icon.GetWidth(), 32) << c.name;
    }
    ExpectFixturePixels(icon);
    EXPECT_THROW(icon.LoadFromResourceName(::GetModuleHandleW(nullptr), L"NO_SUCH_ICON"), EInvalidGraphic);
}

TEST(Icon, LoadsAnIconGroupResource)
{
    // The system's information icon (OIC_INFORMATION) in user32's resources.
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    ASSERT_NE(user32, nullptr);
    TIcon icon;
    icon.LoadFromResourceName(user32, L"#32516");
    EXPECT_EQ(icon.GetWidth(), ::GetSystemMetrics(SM_CXICON));
    // The group's images were gathered into an .ico that loads again.
    TMemoryStream s;
    icon.SaveToStream(&s);
    s.SetPosition(0);
    TIcon again;
    again.LoadFromStream(&s);
    EXPECT_EQ(again.GetWidth(), icon.GetWidth());
    EXPECT_EQ(s.GetPosition(), s.GetSize());
}
