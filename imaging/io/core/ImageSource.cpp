#include "imaging/io/core/ImageSource.h"

#include "classlib/SysUtils.h"
#include "classlib/TextFile.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxIntColor.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

// A line buffer longer than this is written out.
constexpr size_t kLineLimit = 70;

std::wstring Hex2(uint8_t b)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    return std::wstring{digits[b >> 4], digits[b & 15]};
}

void WriteByteArray(classlib::TTextFile& text, const uint8_t* bytes, int64_t n, const std::wstring& arrayName,
                    const std::wstring& sizeName)
{
    text.WriteLn(L"const");
    text.WriteLn(L"  " + sizeName + L" = " + std::to_wstring(n) + L";");
    text.WriteLn(L"  " + arrayName + L" : array [0.." + sizeName + L"-1] of byte = (");
    std::wstring line;
    for (int64_t i = 0; i < n - 1; ++i) {
        line += L"$" + Hex2(bytes[i]) + L",";
        if (line.size() > kLineLimit) {
            text.WriteLn(L"    " + line);
            line.clear();
        }
    }
    text.WriteLn(L"    " + line + L"$" + Hex2(bytes[n - 1]) + L");");
}

void WriteHexList(classlib::TTextFile& text, const uint8_t* bytes, int64_t n)
{
    text.WriteLn(L"\\\\ Size=" + std::to_wstring(n));
    std::wstring line;
    for (int64_t i = 0; i < n - 1; ++i) {
        line += L"0x" + Hex2(bytes[i]) + L",";
        if (line.size() > kLineLimit) {
            text.WriteLn(line);
            line.clear();
        }
    }
    text.WriteLn(line + L"0x" + Hex2(bytes[n - 1]));
}

// Dark to light; the lightest greys (index 9) take the space as well.
const wchar_t kShades[] = L"W@#*+:., ";

void WriteCharacters(classlib::TTextFile& text, TPxBitmap& bitmap)
{
    TPxAccessScope access(bitmap, pxAccessRead);
    const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
    std::wstring line;
    for (int y = 0; y < h; ++y) {
        line.assign(static_cast<size_t>(w), L' ');
        const TPxRGB* row = reinterpret_cast<const TPxRGB*>(bitmap.GetScanline(y));
        for (int x = 0; x < w; ++x) {
            int64_t index = classlib::Round(PxRGB2Gray(row[x]) * 9 / 255.0);
            line[x] = kShades[index < 0 ? 0 : (index > 8 ? 8 : index)];
        }
        text.WriteLn(line);
    }
}

}  // namespace

int64_t PxEncodeForSourceText(TImgIO& IO, const std::wstring& TextFileName, int32_t FileFormat,
                              classlib::TMemoryStream& Encoded, std::wstring& ArrayName, std::wstring& SizeName)
{
    ArrayName = TextFileName;
    size_t dot = ArrayName.find(L'.');
    if (dot != std::wstring::npos)
        ArrayName[dot] = L'_';
    SizeName = ArrayName + L"_Size";
    Encoded.Clear();
    IO.SaveToStream(&Encoded, FileFormat);
    // A deferred save writes the stream on a worker: wait for it.
    if (IO.ShouldDefer())
        IO.WaitThreads(false);
    Encoded.SetPosition(0);
    return Encoded.GetSize();
}

void PxSaveToText(TImgIO& IO, const std::wstring& TextFileName, int32_t FileFormat, int32_t Kind)
{
    classlib::TTextFile text;
    switch (Kind) {
    case ptkByteArray:
    case ptkHexList:
    case ptkBase64: {
        classlib::TMemoryStream encoded;
        std::wstring arrayName, sizeName;
        IO.AbortFlag = false;
        int64_t n = PxEncodeForSourceText(IO, TextFileName, FileFormat, encoded, arrayName, sizeName);
        if (IO.AbortFlag || n <= 0) {
            IO.AbortFlag = true;
            return;
        }
        const uint8_t* bytes = static_cast<const uint8_t*>(encoded.GetMemory());
        text.Rewrite(TextFileName);
        if (Kind == ptkByteArray)
            WriteByteArray(text, bytes, n, arrayName, sizeName);
        else if (Kind == ptkHexList)
            WriteHexList(text, bytes, n);
        else
            PxBase64EncodeStream(&encoded, text, 76);
        break;
    }
    case ptkCharacters:
        if (!IO.PrepareBitmap(1u << px24RGB)) {
            IO.AbortFlag = true;
            return;
        }
        text.Rewrite(TextFileName);
        WriteCharacters(text, *IO.GetCurrentBitmap());
        break;
    default: return;
    }
    text.Close();
    IO.FileParams->FileName = TextFileName;
}

}  // namespace imaging
