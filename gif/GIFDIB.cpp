#include "gif/GIFDIB.h"

#include <cstring>
#include <new>

#include "classlib/Streams.h"

namespace gif {

HPALETTE CreateWebPalette()
{
    struct {
        WORD Version;
        WORD Count;
        PALETTEENTRY Pal[216];
    } Log{};
    Log.Version = 0x300;
    Log.Count = 216;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                Log.Pal[r * 36 + g * 6 + b] = {static_cast<BYTE>(r * 51), static_cast<BYTE>(g * 51),
                                               static_cast<BYTE>(b * 51), 0};
    return CheckGdi(::CreatePalette(reinterpret_cast<const LOGPALETTE*>(&Log)));
}

HANDLE CheckGdiHandle(HANDLE Handle)
{
    if (Handle)
        return Handle;
    const DWORD Code = ::GetLastError();
    std::wstring Text;
    if (Code != 0) {
        wchar_t* Buf = nullptr;
        const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                             FORMAT_MESSAGE_IGNORE_INSERTS,
                                         nullptr, Code, 0, reinterpret_cast<wchar_t*>(&Buf), 0, nullptr);
        if (n && Buf) {
            Text.assign(Buf, n);
            while (!Text.empty() && (Text.back() == L'\n' || Text.back() == L'\r' || Text.back() == L' '))
                Text.pop_back();
        }
        if (Buf)
            ::LocalFree(Buf);
    }
    if (Text.empty())
        Text = L"Out of system resources";
    throw classlib::EOutOfMemory(Text);
}

classlib::TPixelFormat BitmapPixelFormat(classlib::TBitmap* Bitmap)
{
    return Bitmap->GetPixelFormat();
}

void SetBitmapPixelFormat(classlib::TBitmap* Bitmap, classlib::TPixelFormat Format)
{
    Bitmap->SetPixelFormat(Format);
}

// ---- TDIBReader / TDIBWriter ----------------------------------------------------

TDIBReader::TDIBReader(classlib::TBitmap* Bitmap, classlib::TPixelFormat Format) : TDIB(Bitmap, Format)
{
    SetBitmapPixelFormat(Bitmap, Format);
}

uint8_t* TDIBReader::GetRow(int Row)
{
    return static_cast<uint8_t*>(TargetBitmap->GetScanLine(Row));
}

TDIBWriter::TDIBWriter(classlib::TBitmap* Bitmap, HPALETTE Palette, int Height, int Width,
                       classlib::TPixelFormat Format)
    : TDIB(Bitmap, Format), DibHeight(Height), DibWidth(Width), DibPalette(Palette)
{
    if (Format != classlib::pf8bit && Format != classlib::pf24bit)
        RaiseGifError(L"Unsupported PixelFormat");
    if (Height == 0 || Width == 0)
        RaiseGifError(L"Invalid image dimensions");
}

TDIBWriter::~TDIBWriter() = default;

void TDIBWriter::CreateDIB()
{
    Info.clear();
    Bits.clear();
    const bool Is8 = TargetFormat == classlib::pf8bit;
    const int Bpp = Is8 ? 8 : 24;
    Info.assign(Is8 ? 40 + 1024 : 40, 0);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(Info.data());
    h->biSize = 40;
    h->biWidth = DibWidth;
    h->biHeight = DibHeight;
    h->biPlanes = 1;
    h->biBitCount = static_cast<WORD>(Bpp);
    h->biCompression = BI_RGB;
    if (Is8) {
        h->biClrUsed = 256;
        int Copied = 0;
        if (DibPalette) {
            PALETTEENTRY Pal[256];
            const UINT n = ::GetPaletteEntries(DibPalette, 0, 256, Pal);
            auto* Table = reinterpret_cast<RGBQUAD*>(Info.data() + 40);
            for (UINT i = 0; i < n; ++i)
                Table[i] = {Pal[i].peBlue, Pal[i].peGreen, Pal[i].peRed, 0};
            Copied = static_cast<int>(n);
        }
        h->biClrImportant = static_cast<DWORD>(Copied);
    }
    const int Width = DibWidth < 0 ? -DibWidth : DibWidth;
    const int Height = DibHeight < 0 ? -DibHeight : DibHeight;
    BytesPerRow = RowBytes(Width, Bpp, 32);
    const int64_t Size = BytesPerRow * Height;
    if (Size > 0x7FFFFFFF)
        throw classlib::EOutOfMemory(L"Failed to allocate memory for GIF DIB");
    try {
        Bits.assign(static_cast<size_t>(Size), 0);
    } catch (const std::bad_alloc&) {
        Info.clear();
        throw classlib::EOutOfMemory(L"Failed to allocate memory for GIF DIB");
    }
}

uint8_t* TDIBWriter::GetRow(int Row)
{
    if (Bits.empty())
        CreateDIB();
    if (Bits.empty())
        RaiseGifError(L"Image has no DIB");
    const int Height = DibHeight < 0 ? -DibHeight : DibHeight;
    if (Row < 0 || Row >= Height)
        throw classlib::EInvalidGraphicOperation(L"Scan line index out of range");
    ::GdiFlush();
    const int Stored = DibHeight > 0 ? DibHeight - 1 - Row : Row;
    return Bits.data() + Stored * BytesPerRow;
}

void TDIBWriter::Finish()
{
    if (Bits.empty())
        return;
    classlib::TMemoryStream Stream;
    BITMAPFILEHEADER File{};
    File.bfType = 0x4D42;
    File.bfSize = static_cast<DWORD>(14 + Info.size() + Bits.size());
    File.bfOffBits = static_cast<DWORD>(14 + Info.size());
    Stream.WriteBuffer(&File, 14);
    Stream.WriteBuffer(Info.data(), static_cast<int64_t>(Info.size()));
    Stream.WriteBuffer(Bits.data(), static_cast<int64_t>(Bits.size()));
    Stream.SetPosition(0);
    Info.clear();
    Bits.clear();
    TargetBitmap->LoadFromStream(&Stream);
}

// ---- colour lookups -----------------------------------------------------------------

TFastColorLookup::TFastColorLookup(HPALETTE Palette)
{
    ColorCount = Palette ? static_cast<int>(::GetPaletteEntries(Palette, 0, 256, Entries)) : 0;
    std::fill_n(Cache.get(), 32768, int16_t{-1});
    for (int i = 0; i < ColorCount; ++i) {
        const int Cell = (Entries[i].peBlue / 8) * 1024 + (Entries[i].peGreen / 8) * 32 + Entries[i].peRed / 8;
        if (Cache[Cell] == -1)
            Cache[Cell] = static_cast<int16_t>(i);
    }
}

uint8_t TFastColorLookup::MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    const int Cell = (Blue / 8) * 1024 + (Green / 8) * 32 + Red / 8;
    if (Cache[Cell] == -1) {
        int Best = 196608, Index = 0;
        for (int i = 0; i < ColorCount; ++i) {
            const int d = std::abs(Entries[i].peRed - Red) + std::abs(Entries[i].peGreen - Green) +
                          std::abs(Entries[i].peBlue - Blue);
            if (d < Best) {
                Best = d;
                Index = i;
            }
        }
        Cache[Cell] = static_cast<int16_t>(Index);
    }
    const int Index = Cache[Cell];
    R = Entries[Index].peRed;
    G = Entries[Index].peGreen;
    B = Entries[Index].peBlue;
    return static_cast<uint8_t>(Index);
}

TSlowColorLookup::TSlowColorLookup(HPALETTE Palette) : PaletteHandle(Palette)
{
    if (Palette) {
        Entries.resize(256);
        const UINT n = ::GetPaletteEntries(Palette, 0, 256, Entries.data());
        Entries.resize(n);
    }
    ColorCount = static_cast<int>(Entries.size());
}

uint8_t TSlowColorLookup::MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    UINT Index = ::GetNearestPaletteIndex(PaletteHandle, RGB(Red, Green, Blue));
    if (Index == CLR_INVALID || Index >= Entries.size())
        Index = 0;
    R = Entries[Index].peRed;
    G = Entries[Index].peGreen;
    B = Entries[Index].peBlue;
    return static_cast<uint8_t>(Index);
}

uint8_t TNetscapeColorLookup::MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G,
                                       uint8_t& B)
{
    const int r = (Red + 3) / 51, g = (Green + 3) / 51, b = (Blue + 3) / 51;
    R = static_cast<uint8_t>(r * 51);
    G = static_cast<uint8_t>(g * 51);
    B = static_cast<uint8_t>(b * 51);
    return static_cast<uint8_t>(r * 36 + g * 6 + b);
}

uint8_t TGrayScaleLookup::MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    const uint8_t Gray = static_cast<uint8_t>((Red * 77 + Green * 150 + Blue * 29) / 256);
    R = G = B = Gray;
    return Gray;
}

uint8_t TMonochromeLookup::MapColor(uint8_t Red, uint8_t Green, uint8_t Blue, uint8_t& R, uint8_t& G, uint8_t& B)
{
    const int s = Red * 77 + Green * 150 + Blue * 29;
    if (s < 32513) {
        R = G = B = 0;
        return 0;
    }
    R = G = B = 255;
    return 1;
}

}  // namespace gif
