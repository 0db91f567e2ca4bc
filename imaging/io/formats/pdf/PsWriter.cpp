#include "imaging/io/formats/pdf/PsWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/ScopeGuard.h"
#include "imaging/io/formats/tiff/Ccitt.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

std::string Num(int64_t v) { return std::to_string(v); }

void Line(classlib::TStream* Stream, const std::string& Text) { PxStreamWriteLine(Stream, Text); }

// Appends the ASCII85 text of Size bytes to Output; returns the group
// characters (line breaks and the closing "~>" line not counted).
int64_t AppendAscii85(classlib::TStream* Output, const uint8_t* Data, int64_t Size)
{
    std::vector<char> text(static_cast<size_t>(PxAscii85MaxLength(Size)));
    int64_t counter = 0;
    const int64_t n = PxAscii85Encode(Data, Size, text.data(), counter);
    Output->WriteBuffer(text.data(), n);
    return counter;
}

// PackBits of Size bytes followed by their ASCII85 text.
int64_t AppendPackBitsAscii85(classlib::TStream* Output, const uint8_t* Data, int64_t Size)
{
    std::vector<uint8_t> packed(static_cast<size_t>(PxPackBitsMaxLength(Size)));
    const int64_t n = PxPackBitsEncode(Data, Size, packed.data());
    return AppendAscii85(Output, packed.data(), n);
}

// The coding a page really gets: 1-bit images know 0, 1 and 2 (anything
// else is run-length); colour images know 3 (JPEG), anything else is
// run-length (0).
int EffectiveCompression(int Compression, bool Bilevel)
{
    if (Bilevel)
        return Compression == 1 || Compression == 2 ? Compression : 0;
    return Compression == 3 ? 3 : 0;
}

void ReportRow(TPxIOProgressInfo& Progress, int Row, int Height)
{
    Progress.Progress(static_cast<int>(static_cast<int64_t>(Row) * 100 / Height));
}

int64_t EncodeBilevelRLE(classlib::TStream* Output, TPxBitmap* Bitmap, TPxIOProgressInfo& Progress)
{
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    const int64_t rowBytes = (static_cast<int64_t>(w) + 7) / 8;
    std::vector<uint8_t> all(static_cast<size_t>(rowBytes * h));
    TPxAccessScope access(*Bitmap, pxAccessRead);
    for (int y = 0; y < h && !Progress.Aborted(); ++y) {
        std::memcpy(all.data() + y * rowBytes, Bitmap->GetScanline(y), static_cast<size_t>(rowBytes));
        ReportRow(Progress, y, h);
    }
    return AppendPackBitsAscii85(Output, all.data(), static_cast<int64_t>(all.size()));
}

int64_t EncodeColorRLE(classlib::TStream* Output, TPxBitmap* Bitmap, TPxIOProgressInfo& Progress)
{
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    std::vector<uint8_t> channel(static_cast<size_t>(w));
    int64_t count = 0;
    TPxAccessScope access(*Bitmap, pxAccessRead);
    for (int y = 0; y < h && !Progress.Aborted(); ++y) {
        const auto* row = reinterpret_cast<const TPxRGB*>(Bitmap->GetScanline(y));
        // One block per channel, red first: each matches one readstring of
        // the page's procedures.
        for (int c = 0; c < 3; ++c) {
            for (int x = 0; x < w; ++x)
                channel[static_cast<size_t>(x)] = c == 0 ? row[x].r : c == 1 ? row[x].g : row[x].b;
            count += AppendPackBitsAscii85(Output, channel.data(), w);
        }
        ReportRow(Progress, y, h);
    }
    return count;
}

}  // namespace

TPxBitmap* PxPSPageImage(TPxBitmap* Bitmap, std::unique_ptr<TPxBitmap>& Copy)
{
    const TPxPixelFormat f = Bitmap->GetPixelFormat();
    if (f == px1g || f == px24RGB)
        return Bitmap;
    Copy = std::make_unique<TPxBitmap>();
    Copy->Assign(Bitmap);
    Copy->SetPixelFormat(px24RGB);
    return Copy.get();
}

bool PxPSPreparePageImage(TPxBitmap* Bitmap, TPxPSPageImage& Page, TPxIOProgressInfo& Progress)
{
    Page.Image = PxPSPageImage(Bitmap, Page.Copy);
    Page.Width = Page.Image->GetWidth();
    Page.Height = Page.Image->GetHeight();
    if (Page.Width <= 0 || Page.Height <= 0) {
        Progress.Abort();
        return false;
    }
    Page.Bilevel = Page.Image->GetPixelFormat() == px1g;
    return true;
}

void PxPSFaxEncodeImage(TPxBitmap* Bitmap, classlib::TStream* Output, bool Group4, bool& Aborting)
{
    const int w = Bitmap->GetWidth();
    const int h = Bitmap->GetHeight();
    std::vector<uint8_t> refRow;
    int32_t pendingBits = 0;
    uint8_t pendingByte = 0;
    TPxAccessScope access(*Bitmap, pxAccessRead);
    for (int y = 0; y < h && !Aborting; ++y) {
        const uint8_t* row = Bitmap->GetScanline(y);
        if (Group4)
            PxEncodeG4Row(row, w, Output, 1, Aborting, refRow, pendingBits, pendingByte);
        else
            PxEncodeG3Row2D(row, w, Output, 1, Aborting, refRow, pendingBits, pendingByte);
    }
    if (Group4)
        PxEncodeG4Row(nullptr, w, Output, 1, Aborting, refRow, pendingBits, pendingByte);
    else
        PxEncodeG3Row2D(nullptr, w, Output, 1, Aborting, refRow, pendingBits, pendingByte);
}

int PxPSWriteEmbeddedJPEG(classlib::TStream* Output, TPxBitmap* Bitmap, TIOParamsVals& Params,
                          TPxIOProgressInfo& Progress)
{
    classlib::TValueScope<uint8_t> colorSpace(Params.JPEGColorSpace, Params.JPEGColorSpace);
    if (Params.JPEGColorSpace == 3 || Params.JPEGColorSpace == 4)
        Params.JPEGColorSpace = 2;
    PxWriteJPEG(Output, Bitmap, Params, Progress);
    return Params.JPEGColorSpace == 1 ? 1 : 3;
}

std::string PxPSPadNumber(int64_t Number, int Width)
{
    std::string s = Num(Number);
    if (static_cast<int>(s.size()) < Width)
        s.append(static_cast<size_t>(Width) - s.size(), ' ');
    return s;
}

std::string PxPSFormatDate(const SYSTEMTIME& Time)
{
    auto localeText = [](LCTYPE Type) {
        char buffer[80] = {};
        const int n = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, Type, buffer, sizeof buffer);
        return n > 0 ? std::string(buffer) : std::string();
    };
    // The locale numbers days from Monday; the clock from Sunday.
    const int day = (Time.wDayOfWeek + 6) % 7;
    const int month = std::clamp<int>(Time.wMonth, 1, 12) - 1;
    char clock[40];
    std::snprintf(clock, sizeof clock, " %02u %02u:%02u:%02u %04u", static_cast<unsigned>(Time.wDay),
                  static_cast<unsigned>(Time.wHour), static_cast<unsigned>(Time.wMinute),
                  static_cast<unsigned>(Time.wSecond), static_cast<unsigned>(Time.wYear));
    return localeText(LOCALE_SABBREVDAYNAME1 + day) + " " + localeText(LOCALE_SABBREVMONTHNAME1 + month) + clock;
}

std::unique_ptr<TPxPSContext> PxPSCreate(classlib::TStream* Stream, TIOParamsVals& Params)
{
    auto context = std::make_unique<TPxPSContext>();
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    Line(Stream, "%!PS-Adobe-3.0");
    Line(Stream, "%%Creator: Img by Quendrix");
    Line(Stream, "%%Title: " + Params.PSTitle);
    Line(Stream, "%%CreationDate: " + PxPSFormatDate(now));
    Line(Stream, "%%DocumentData: Clean7Bit");
    Line(Stream, "%%LanguageLevel: 2");
    context->PagesPosition = Stream->GetPosition();
    Line(Stream, "%%Pages: " + PxPSPadNumber(0, 6));
    Line(Stream, "%%BoundingBox: 0 0 " + Num(Params.PSPaperWidth - 1) + " " + Num(Params.PSPaperHeight - 1));
    Line(Stream, "%%EndComments");
    context->EndPosition = Stream->GetPosition();
    return context;
}

void PxPSAddPage(TPxPSContext* Context, classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                 TPxIOProgressInfo& Progress)
{
    if (!Context || !Bitmap || Bitmap->GetWidth() <= 0 || Bitmap->GetHeight() <= 0) {
        Progress.Abort();
        return;
    }
    // The count field is the six characters after "%%Pages: ".
    Stream->SetPosition(Context->PagesPosition);
    char head[15] = {};
    const int64_t got = Stream->Read(head, sizeof head);
    int64_t n = 1;
    if (got == static_cast<int64_t>(sizeof head)) {
        std::string field(head + 9, head + 15);
        field.erase(field.find_last_not_of(' ') + 1);
        field.erase(0, field.find_first_not_of(' '));
        if (!field.empty() && field.size() <= 9 &&
            std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; }))
            n = std::stoll(field);
    }
    Stream->SetPosition(Context->PagesPosition);
    const std::string pages = "%%Pages: " + PxPSPadNumber(n + 1, 6);
    Stream->WriteBuffer(pages.data(), static_cast<int64_t>(pages.size()));
    Stream->SetPosition(Context->EndPosition);
    PxPSWritePageBody(Stream, Bitmap, Params, Progress, static_cast<int>(n + 1), Params.PSPaperWidth,
                      Params.PSPaperHeight);
    Context->EndPosition = Stream->GetPosition();
}

void PxPSClose(std::unique_ptr<TPxPSContext>& Context, classlib::TStream* Stream)
{
    if (!Context)
        return;
    Stream->SetPosition(Context->EndPosition);
    Line(Stream, "%%Trailer");
    Line(Stream, "%%EOF");
    Context.reset();
}

void PxWritePS(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    if (!Bitmap || Bitmap->GetWidth() <= 0 || Bitmap->GetHeight() <= 0) {
        Progress.Abort();
        return;
    }
    auto context = PxPSCreate(Stream, Params);
    PxPSAddPage(context.get(), Stream, Bitmap, Params, Progress);
    PxPSClose(context, Stream);
}

void PxPSWritePageBody(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                       TPxIOProgressInfo& Progress, int Page, int PaperWidth, int PaperHeight)
{
    TPxPSPageImage pageImage;
    if (!PxPSPreparePageImage(Bitmap, pageImage, Progress))
        return;
    TPxBitmap* image = pageImage.Image;
    const int w = pageImage.Width;
    const int h = pageImage.Height;
    const bool bilevel = pageImage.Bilevel;

    Line(Stream, "%%Page: " + Num(Page) + " " + Num(Page));
    Line(Stream, "0 " + Num(PaperHeight) + " translate");
    int fw = 1, fh = 1;
    PxAspectFit(w, h, PaperWidth, PaperHeight, fw, fh);
    Line(Stream, Num(fw) + " -" + Num(fh) + " scale");
    Params.BitsPerSample = bilevel ? 1 : 8;
    Params.SamplesPerPixel = bilevel ? 1 : 3;
    Line(Stream, Num(w) + " " + Num(h) + " " + Num(Params.BitsPerSample));
    Line(Stream, "[ " + Num(w) + " 0 0 " + Num(h) + " 0 0 ]");

    classlib::TMemoryStream data;
    const int64_t count = PxPSEncodeImage(&data, image, Params, Progress);
    const std::string beginData = "%%BeginData:      " + Num(count) + " ASCII Bytes";
    const int compression = EffectiveCompression(Params.PSCompression, bilevel);

    if (!bilevel) {
        if (compression == 3) {
            Line(Stream, "currentfile /ASCII85Decode filter << >> /DCTDecode filter");
            Line(Stream, Params.JPEGColorSpace == 1 ? "false 1" : "false 3");
        } else {
            for (const char* s : {"rstr", "gstr", "bstr"})
                Line(Stream, std::string("/") + s + " " + Num(w) + " string def");
            for (const char* s : {"rstr", "gstr", "bstr"})
                Line(Stream, std::string("{currentfile /ASCII85Decode filter /RunLengthDecode filter ") + s +
                                 " readstring pop}");
            Line(Stream, "true 3");
        }
        Line(Stream, beginData);
        Line(Stream, "colorimage");
    } else {
        if (compression == 0)
            Line(Stream, "currentfile /ASCII85Decode filter /RunLengthDecode filter");
        else
            Line(Stream, std::string("currentfile /ASCII85Decode filter << /K ") + (compression == 1 ? "-1" : "1") +
                             " /BlackIs1 true /Columns " + Num(w) + " /Rows " + Num(h) +
                             " /EndOfLine false /Uncompressed true /EncodedByteAlign false /EndOfBlock false >>"
                             " /CCITTFaxDecode filter");
        Line(Stream, beginData);
        Line(Stream, "image");
    }
    Stream->WriteBuffer(data.GetMemory(), data.GetSize());
    Line(Stream, "%%EndData");
    Line(Stream, "showpage");
}

int64_t PxPSEncodeImage(classlib::TMemoryStream* Data, TPxBitmap* Bitmap, TIOParamsVals& Params,
                        TPxIOProgressInfo& Progress)
{
    std::unique_ptr<TPxBitmap> copy;
    TPxBitmap* image = PxPSPageImage(Bitmap, copy);
    if (image->GetWidth() <= 0 || image->GetHeight() <= 0)
        return 0;
    const bool bilevel = image->GetPixelFormat() == px1g;
    Params.BitsPerSample = bilevel ? 1 : 8;
    Params.SamplesPerPixel = bilevel ? 1 : 3;
    const int compression = EffectiveCompression(Params.PSCompression, bilevel);

    if (bilevel && compression != 0) {
        TPxAbortFlagScope abortScope(Progress);
        bool& aborting = *Progress.Aborting;
        classlib::TMemoryStream fax;
        PxPSFaxEncodeImage(image, &fax, compression == 1, aborting);
        return AppendAscii85(Data, static_cast<const uint8_t*>(fax.GetMemory()), fax.GetSize());
    }
    if (bilevel)
        return EncodeBilevelRLE(Data, image, Progress);
    if (compression == 3) {
        classlib::TMemoryStream jpeg;
        PxPSWriteEmbeddedJPEG(&jpeg, image, Params, Progress);
        return AppendAscii85(Data, static_cast<const uint8_t*>(jpeg.GetMemory()), jpeg.GetSize());
    }
    return EncodeColorRLE(Data, image, Progress);
}

namespace {

void WritePSRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWritePS(Stream, Bitmap, Params, Progress);
}

}  // namespace

void PxInstallPSFormat() { PxSetBuiltInFormatWriter(ffPS, WritePSRow); }

}  // namespace imaging
