#include "classlib/Icon.h"

#include <cstdlib>
#include <cstring>

#include "classlib/ByteOrder.h"
#include "classlib/Streams.h"
#include "classlib/WinHandles.h"

namespace classlib {

namespace {

[[noreturn]] void InvalidIcon() { throw EInvalidGraphic(L"Icon image is not valid"); }

void Put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

constexpr size_t kDirHeader = 6;
constexpr size_t kDirEntry = 16;
constexpr int kMaxSide = 1024;

// One image of an .ico file, checked against the file's bytes.
struct IconImage {
    uint32_t Offset;
    uint32_t Size;
    int Width;
    int Height;
    int BitCount;
};

// Checks the image at [offset, offset + size) of a file of fileSize bytes
// whose directory ends at dirEnd: the range lies inside the file and behind
// the directory, and the image's own header (PNG or DIB) fits its bytes.
IconImage CheckImage(const uint8_t* file, size_t fileSize, uint32_t offset, uint32_t size, size_t dirEnd)
{
    if (size == 0 || offset < dirEnd || static_cast<uint64_t>(offset) + size > fileSize) InvalidIcon();
    const uint8_t* p = file + offset;
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (size >= 8 && std::memcmp(p, kPng, 8) == 0) {
        if (size < 24 || std::memcmp(p + 12, "IHDR", 4) != 0) InvalidIcon();
        uint32_t w = GetBE32(p + 16), h = GetBE32(p + 20);
        if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) InvalidIcon();
        return IconImage{offset, size, static_cast<int>(w), static_cast<int>(h), 32};
    }
    if (size < sizeof(BITMAPINFOHEADER)) InvalidIcon();
    uint32_t headerSize = GetLE32(p);
    if (headerSize < sizeof(BITMAPINFOHEADER) || headerSize > size) InvalidIcon();
    int32_t w = static_cast<int32_t>(GetLE32(p + 4));
    int32_t h2 = static_cast<int32_t>(GetLE32(p + 8));
    uint16_t planes = GetLE16(p + 12), bits = GetLE16(p + 14);
    uint32_t compression = GetLE32(p + 16), clrUsed = GetLE32(p + 32);
    if (w <= 0 || w > kMaxSide || h2 <= 0 || h2 > 2 * kMaxSide || (h2 & 1) != 0) InvalidIcon();
    if (planes != 1 || compression != BI_RGB) InvalidIcon();
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) InvalidIcon();
    uint64_t colours = clrUsed;
    if (bits <= 8) {
        if (colours == 0) colours = 1u << bits;
        if (colours > (1u << bits)) InvalidIcon();
    } else if (colours > 256) {
        InvalidIcon();
    }
    uint64_t h = static_cast<uint64_t>(h2) / 2;
    uint64_t xorStride = (static_cast<uint64_t>(w) * bits + 31) / 32 * 4;
    uint64_t andStride = (static_cast<uint64_t>(w) + 31) / 32 * 4;
    uint64_t needed = headerSize + colours * 4 + (xorStride + andStride) * h;
    if (needed > size) InvalidIcon();
    return IconImage{offset, size, w, static_cast<int>(h), bits};
}

// Checks a whole .ico file and returns its images in directory order.
std::vector<IconImage> ParseIco(const std::vector<uint8_t>& file)
{
    if (file.size() < kDirHeader) InvalidIcon();
    const uint8_t* p = file.data();
    uint16_t count = GetLE16(p + 4);
    if (GetLE16(p) != 0 || GetLE16(p + 2) != 1 || count == 0) InvalidIcon();
    size_t dirEnd = kDirHeader + kDirEntry * count;
    if (dirEnd > file.size()) InvalidIcon();
    std::vector<IconImage> images;
    images.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = p + kDirHeader + i * kDirEntry;
        images.push_back(CheckImage(p, file.size(), GetLE32(e + 12), GetLE32(e + 8), dirEnd));
    }
    return images;
}

// The image closest to the system's icon size; among equals the deepest one
// the screen can show, else the deepest.
const IconImage& BestImage(const std::vector<IconImage>& images)
{
    int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
    int screenBits = 24;
    if (HDC dc = ::GetDC(nullptr)) {
        screenBits = ::GetDeviceCaps(dc, BITSPIXEL) * ::GetDeviceCaps(dc, PLANES);
        ::ReleaseDC(nullptr, dc);
    }
    const IconImage* best = nullptr;
    auto rank = [&](const IconImage& im) {
        int sizeDiff = std::abs(im.Width - cx) + std::abs(im.Height - cy);
        int depth = im.BitCount <= screenBits ? im.BitCount : -im.BitCount;
        return std::pair<int, int>(-sizeDiff, depth);
    };
    for (const auto& im : images)
        if (!best || rank(im) > rank(*best)) best = &im;
    return *best;
}

// Width and height of an icon handle from its bitmaps.
bool IconSize(HICON icon, int& w, int& h)
{
    ICONINFO ii{};
    if (!::GetIconInfo(icon, &ii)) return false;
    BITMAP bm{};
    bool ok;
    if (ii.hbmColor) {
        ok = ::GetObjectW(ii.hbmColor, sizeof(bm), &bm) != 0;
        w = bm.bmWidth;
        h = bm.bmHeight;
    } else {
        ok = ::GetObjectW(ii.hbmMask, sizeof(bm), &bm) != 0;
        w = bm.bmWidth;
        h = bm.bmHeight / 2;
    }
    if (ii.hbmColor) ::DeleteObject(ii.hbmColor);
    if (ii.hbmMask) ::DeleteObject(ii.hbmMask);
    return ok;
}

}  // namespace

const TGraphicClass TIcon::Class{L"TIcon", []() -> TGraphic* { return new TIcon; }};

TIcon::TIcon() { transparent_ = true; }

TIcon::~TIcon()
{
    if (handle_) ::DestroyIcon(handle_);
}

void TIcon::Reset(HICON Handle, std::vector<uint8_t> Data, int Width, int Height)
{
    if (handle_ && handle_ != Handle) ::DestroyIcon(handle_);
    handle_ = Handle;
    data_ = std::move(Data);
    width_ = Handle ? Width : 0;
    height_ = Handle ? Height : 0;
    Changed(this);
}

void TIcon::Assign(const TPersistent* Source)
{
    if (!Source) {
        Reset(nullptr, {}, 0, 0);
        return;
    }
    if (auto* icon = dynamic_cast<const TIcon*>(Source)) {
        if (icon == this) return;
        HICON copy = icon->handle_ ? ::CopyIcon(icon->handle_) : nullptr;
        if (icon->handle_ && !copy) throw EOutOfMemory(L"Out of system resources");
        Reset(copy, icon->data_, icon->width_, icon->height_);
        return;
    }
    TGraphic::Assign(Source);
}

void TIcon::SetWidth(int Value)
{
    if (Value != width_) throw EInvalidGraphicOperation(L"Cannot change the size of an icon");
}

void TIcon::SetHeight(int Value)
{
    if (Value != height_) throw EInvalidGraphicOperation(L"Cannot change the size of an icon");
}

void TIcon::Draw(TCanvas* ACanvas, const RECT& R)
{
    if (!handle_ || !ACanvas) return;
    ::DrawIconEx(ACanvas->GetHandle(), R.left, R.top, handle_, R.right - R.left, R.bottom - R.top, 0, nullptr,
                 DI_NORMAL);
}

void TIcon::SetHandle(HICON Value)
{
    if (Value == handle_ && data_.empty()) return;
    int w = 0, h = 0;
    if (Value && !IconSize(Value, w, h)) throw EInvalidGraphic(L"Icon image is not valid");
    Reset(Value, {}, w, h);
}

HICON TIcon::ReleaseHandle()
{
    HICON h = handle_;
    handle_ = nullptr;
    Reset(nullptr, {}, 0, 0);
    return h;
}

void TIcon::LoadFromStream(TStream* Stream)
{
    int64_t start = Stream->GetPosition();
    int64_t available = Stream->GetSize() - start;
    uint8_t header[kDirHeader];
    if (available < static_cast<int64_t>(kDirHeader) || Stream->Read(header, kDirHeader) != kDirHeader)
        InvalidIcon();
    uint16_t count = GetLE16(header + 4);
    if (GetLE16(header) != 0 || GetLE16(header + 2) != 1 || count == 0) InvalidIcon();
    int64_t dirEnd = static_cast<int64_t>(kDirHeader + kDirEntry * count);
    if (dirEnd > available) InvalidIcon();
    std::vector<uint8_t> file(static_cast<size_t>(dirEnd));
    std::memcpy(file.data(), header, kDirHeader);
    if (Stream->Read(file.data() + kDirHeader, dirEnd - kDirHeader) != dirEnd - static_cast<int64_t>(kDirHeader))
        InvalidIcon();
    // The file ends where its last image ends.
    uint64_t end = static_cast<uint64_t>(dirEnd);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = file.data() + kDirHeader + i * kDirEntry;
        uint64_t imageEnd = static_cast<uint64_t>(GetLE32(e + 12)) + GetLE32(e + 8);
        if (imageEnd > static_cast<uint64_t>(available)) InvalidIcon();
        if (imageEnd > end) end = imageEnd;
    }
    file.resize(static_cast<size_t>(end));
    int64_t rest = static_cast<int64_t>(end) - dirEnd;
    if (rest > 0 && Stream->Read(file.data() + dirEnd, rest) != rest) InvalidIcon();

    std::vector<IconImage> images = ParseIco(file);
    const IconImage& im = BestImage(images);
    HICON icon = ::CreateIconFromResourceEx(file.data() + im.Offset, im.Size, TRUE, 0x00030000, im.Width,
                                            im.Height, LR_DEFAULTCOLOR);
    if (!icon) InvalidIcon();
    Reset(icon, std::move(file), im.Width, im.Height);
}

std::vector<uint8_t> TIcon::MakeIcoFromHandle() const
{
    const int w = width_, h = height_;
    ICONINFO ii{};
    if (!::GetIconInfo(handle_, &ii)) InvalidIcon();
    TScreenDC screen;
    const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::vector<uint32_t> colour(pixels, 0);
    const size_t andStride = (static_cast<size_t>(w) + 31) / 32 * 4;
    std::vector<uint8_t> andBits(andStride * static_cast<size_t>(h), 0);

    struct MonoInfo {
        BITMAPINFOHEADER bmiHeader;
        RGBQUAD bmiColors[2];
    } mono{};
    mono.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    mono.bmiHeader.biWidth = w;
    mono.bmiHeader.biPlanes = 1;
    mono.bmiHeader.biBitCount = 1;
    mono.bmiHeader.biCompression = BI_RGB;
    mono.bmiColors[1] = RGBQUAD{255, 255, 255, 0};

    bool ok;
    if (ii.hbmColor) {
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = h;  // bottom-up, as the file stores it
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        ok = ::GetDIBits(screen.Get(), ii.hbmColor, 0, static_cast<UINT>(h), colour.data(), &bi, DIB_RGB_COLORS) ==
             h;
        mono.bmiHeader.biHeight = h;
        ok = ok && ::GetDIBits(screen.Get(), ii.hbmMask, 0, static_cast<UINT>(h), andBits.data(),
                               reinterpret_cast<BITMAPINFO*>(&mono), DIB_RGB_COLORS) == h;
    } else {
        // A monochrome icon: the mask bitmap holds the AND mask on top of the
        // XOR image; bottom-up, the XOR rows come first.
        std::vector<uint8_t> both(andStride * static_cast<size_t>(h) * 2, 0);
        mono.bmiHeader.biHeight = 2 * h;
        ok = ::GetDIBits(screen.Get(), ii.hbmMask, 0, static_cast<UINT>(2 * h), both.data(),
                         reinterpret_cast<BITMAPINFO*>(&mono), DIB_RGB_COLORS) == 2 * h;
        std::memcpy(andBits.data(), both.data() + andStride * static_cast<size_t>(h), andBits.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                bool white = (both[andStride * static_cast<size_t>(y) + static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1;
                colour[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] =
                    white ? 0xFFFFFFu : 0u;
            }
    }
    if (ii.hbmColor) ::DeleteObject(ii.hbmColor);
    if (ii.hbmMask) ::DeleteObject(ii.hbmMask);
    if (!ok) InvalidIcon();

    // Without an alpha channel the mask decides which pixels are opaque.
    bool hasAlpha = false;
    for (uint32_t c : colour) hasAlpha = hasAlpha || (c >> 24) != 0;
    if (!hasAlpha)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                bool transparent =
                    (andBits[andStride * static_cast<size_t>(y) + static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1;
                uint32_t& c = colour[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
                c = (c & 0xFFFFFFu) | (transparent ? 0u : 0xFF000000u);
            }

    const uint32_t imageSize =
        static_cast<uint32_t>(sizeof(BITMAPINFOHEADER) + pixels * 4 + andBits.size());
    std::vector<uint8_t> out;
    out.reserve(kDirHeader + kDirEntry + imageSize);
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, 1);
    out.push_back(static_cast<uint8_t>(w >= 256 ? 0 : w));
    out.push_back(static_cast<uint8_t>(h >= 256 ? 0 : h));
    out.push_back(0);
    out.push_back(0);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, imageSize);
    Put32(out, static_cast<uint32_t>(kDirHeader + kDirEntry));
    Put32(out, sizeof(BITMAPINFOHEADER));
    Put32(out, static_cast<uint32_t>(w));
    Put32(out, static_cast<uint32_t>(2 * h));
    Put16(out, 1);
    Put16(out, 32);
    for (int i = 0; i < 6; ++i) Put32(out, 0);
    for (uint32_t c : colour) Put32(out, c);
    out.insert(out.end(), andBits.begin(), andBits.end());
    return out;
}

void TIcon::SaveToStream(TStream* Stream)
{
    if (!handle_) return;
    if (!data_.empty()) {
        Stream->WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
        return;
    }
    std::vector<uint8_t> ico = MakeIcoFromHandle();
    Stream->WriteBuffer(ico.data(), static_cast<int64_t>(ico.size()));
}

void TIcon::LoadFromResourceName(HINSTANCE Instance, const std::wstring& ResName)
{
    auto fail = [&]() -> void { throw EInvalidGraphic(L"Resource " + ResName + L" not found"); };
    auto load = [&](LPCWSTR name, LPCWSTR type, DWORD& size) -> const uint8_t* {
        HRSRC res = ::FindResourceW(Instance, name, type);
        if (!res) return nullptr;
        HGLOBAL g = ::LoadResource(Instance, res);
        size = ::SizeofResource(Instance, res);
        return g ? static_cast<const uint8_t*>(::LockResource(g)) : nullptr;
    };
    DWORD groupSize = 0;
    const uint8_t* group = load(ResName.c_str(), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, groupSize);
    if (!group) fail();
    // The group directory: the .ico header with 14-byte entries that name
    // RT_ICON resources by number instead of giving file offsets.
    constexpr size_t kGroupEntry = 14;
    if (groupSize < kDirHeader) InvalidIcon();
    uint16_t count = GetLE16(group + 4);
    if (count == 0 || kDirHeader + kGroupEntry * count > groupSize) InvalidIcon();
    std::vector<uint8_t> file(group, group + kDirHeader);
    std::vector<std::pair<const uint8_t*, DWORD>> images;
    size_t offset = kDirHeader + kDirEntry * count;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = group + kDirHeader + i * kGroupEntry;
        DWORD size = 0;
        const uint8_t* bits = load(MAKEINTRESOURCEW(GetLE16(e + 12)), MAKEINTRESOURCEW(3) /* RT_ICON */, size);
        if (!bits) fail();
        file.insert(file.end(), e, e + 8);
        Put32(file, size);
        Put32(file, static_cast<uint32_t>(offset));
        offset += size;
        images.emplace_back(bits, size);
    }
    for (const auto& [bits, size] : images) file.insert(file.end(), bits, bits + size);
    TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    s.SetPosition(0);
    LoadFromStream(&s);
}

void TIcon::LoadFromClipboardFormat(UINT, HANDLE, HPALETTE)
{
    throw EInvalidGraphic(L"Unsupported clipboard format");
}

void TIcon::SaveToClipboardFormat(UINT&, HANDLE&, HPALETTE&)
{
    throw EInvalidGraphic(L"Unsupported clipboard format");
}

}  // namespace classlib
