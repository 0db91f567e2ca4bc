#include "imaging/io/formats/pdf/PdfWriter.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/formats/pdf/PsWriter.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxStreamUtils.h"

namespace imaging {

namespace {

TPxPDFNameObject* Name(const char* Value) { return new TPxPDFNameObject(Value); }
TPxPDFNumericObject* Number(double Value) { return new TPxPDFNumericObject(Value); }

void ReportRow(TPxIOProgressInfo& Progress, int Row, int Height)
{
    Progress.Progress(static_cast<int>(static_cast<int64_t>(Row) * 100 / Height));
}

void TakeStreamData(TPxPDFStreamObject& Target, classlib::TMemoryStream& Source)
{
    const auto* p = static_cast<const uint8_t*>(Source.GetMemory());
    Target.Data.assign(p, p + Source.GetSize());
}

// The image rows one after another (1-bit: (W + 7) div 8 bytes of the stored
// row; colour: W red-green-blue triples), handed row by row to Sink.
template <typename TSink>
void ForEachFileRow(TPxBitmap* Image, TPxIOProgressInfo& Progress, TSink Sink)
{
    const int w = Image->GetWidth();
    const int h = Image->GetHeight();
    const bool bilevel = Image->GetPixelFormat() == px1g;
    const size_t rowBytes = bilevel ? (static_cast<size_t>(w) + 7) / 8 : static_cast<size_t>(w) * 3;
    std::vector<uint8_t> row(rowBytes);
    TPxAccessScope access(*Image, pxAccessRead);
    for (int y = 0; y < h && !Progress.Aborted(); ++y) {
        const uint8_t* line = Image->GetScanline(y);
        if (bilevel) {
            std::memcpy(row.data(), line, rowBytes);
        } else {
            const auto* px = reinterpret_cast<const TPxRGB*>(line);
            for (int x = 0; x < w; ++x) {
                row[static_cast<size_t>(x) * 3] = px[x].r;
                row[static_cast<size_t>(x) * 3 + 1] = px[x].g;
                row[static_cast<size_t>(x) * 3 + 2] = px[x].b;
            }
        }
        Sink(row.data(), static_cast<int32_t>(rowBytes));
        ReportRow(Progress, y, h);
    }
}

std::vector<uint8_t> PlainRows(TPxBitmap* Image, TPxIOProgressInfo& Progress)
{
    std::vector<uint8_t> all;
    all.reserve(static_cast<size_t>(Image->GetHeight()) *
                (Image->GetPixelFormat() == px1g ? (static_cast<size_t>(Image->GetWidth()) + 7) / 8
                                                 : static_cast<size_t>(Image->GetWidth()) * 3));
    ForEachFileRow(Image, Progress, [&](const uint8_t* Row, int32_t Length) { all.insert(all.end(), Row, Row + Length); });
    return all;
}

void EncodeLZW(TPxPDFStreamObject& Target, TPxBitmap* Image, TPxTIFFLZWCompressProc Lzw,
               TPxIOProgressInfo& Progress)
{
    classlib::TMemoryStream data;
    void* state = nullptr;
    try {
        ForEachFileRow(Image, Progress, [&](const uint8_t* Row, int32_t Length) { Lzw(Row, Length, &data, state); });
        Lzw(nullptr, 0, &data, state);
    } catch (...) {
        // Ending the strip frees the encoder's state; its own error is
        // dropped in favour of the first one.
        if (state) {
            try {
                Lzw(nullptr, 0, &data, state);
            } catch (...) {
            }
        }
        throw;
    }
    TakeStreamData(Target, data);
}

// Fills the image XObject's data and its Filter, DecodeParms, ColorSpace and
// BitsPerComponent entries.
void BuildImageStream(TPxPDFStreamObject& Image, TPxBitmap* Source, TIOParamsVals& Params,
                      TPxIOProgressInfo& Progress)
{
    TPxPDFDictionaryObject& d = Image.Dictionary();
    const int w = Source->GetWidth();
    const int h = Source->GetHeight();
    const bool bilevel = Source->GetPixelFormat() == px1g;
    TPxTIFFLZWCompressProc lzw = Params.TIFFLZWCompress ? Params.TIFFLZWCompress : PxGlobalTIFFLZWCompress;

    if (bilevel) {
        if (Params.PDFCompression == 4)
            Params.PDFCompression = 3;
        const int compression = Params.PDFCompression;
        if (compression == 1) {
            const std::vector<uint8_t> rows = PlainRows(Source, Progress);
            Image.Data.resize(static_cast<size_t>(PxPackBitsMaxLength(static_cast<int64_t>(rows.size()))));
            Image.Data.resize(static_cast<size_t>(
                PxPackBitsEncode(rows.data(), static_cast<int64_t>(rows.size()), Image.Data.data())));
            auto* filter = new TPxPDFArrayObject();
            filter->Add(Name("RunLengthDecode"));
            d.Set("Filter", filter);
        } else if (compression == 2 || compression == 3) {
            TPxAbortFlagScope abortScope(Progress);
            bool& aborting = *Progress.Aborting;
            classlib::TMemoryStream fax;
            PxPSFaxEncodeImage(Source, &fax, compression == 2, aborting);
            TakeStreamData(Image, fax);
            d.Set("Filter", Name("CCITTFaxDecode"));
            auto* parms = new TPxPDFDictionaryObject();
            parms->Set("K", Number(compression == 2 ? -1 : 1));
            parms->Set("BlackIs1", new TPxPDFBooleanObject(true));
            parms->Set("Columns", Number(w));
            parms->Set("Rows", Number(h));
            parms->Set("EndOfLine", new TPxPDFBooleanObject(false));
            parms->Set("Uncompressed", new TPxPDFBooleanObject(true));
            parms->Set("EncodedByteAlign", new TPxPDFBooleanObject(false));
            parms->Set("EndOfBlock", new TPxPDFBooleanObject(false));
            d.Set("DecodeParms", parms);
        } else if (compression == 5 && lzw) {
            EncodeLZW(Image, Source, lzw, Progress);
            d.Set("Filter", Name("LZWDecode"));
        } else {
            Image.Data = PlainRows(Source, Progress);
        }
        d.Set("ColorSpace", Name("DeviceGray"));
        d.Set("BitsPerComponent", Number(1));
        return;
    }

    const int compression = Params.PDFCompression;
    const char* space = "DeviceRGB";
    if (compression == 5 && lzw) {
        EncodeLZW(Image, Source, lzw, Progress);
        d.Set("Filter", Name("LZWDecode"));
    } else if (compression == 4) {
        classlib::TMemoryStream jpeg;
        if (PxPSWriteEmbeddedJPEG(&jpeg, Source, Params, Progress) == 1)
            space = "DeviceGray";
        TakeStreamData(Image, jpeg);
        d.Set("Filter", Name("DCTDecode"));
    } else {
        Image.Data = PlainRows(Source, Progress);
    }
    d.Set("ColorSpace", Name(space));
    d.Set("BitsPerComponent", Number(8));
}

}  // namespace

TPxPDFDocument::~TPxPDFDocument()
{
    for (TPxPDFObject* object : Objects)
        delete object;
}

std::unique_ptr<TPxPDFDocument> PxPDFCreateDocument()
{
    auto document = std::make_unique<TPxPDFDocument>();
    document->Catalog = PxPDFCreateCatalog(document->Objects);
    auto* resources = new TPxPDFDictionaryObject();
    resources->Shared = true;
    auto* procSet = new TPxPDFArrayObject();
    procSet->Add(Name("PDF"));
    procSet->Add(Name("ImageB"));
    resources->Set("ProcSet", procSet);
    resources->Set("XObject", new TPxPDFDictionaryObject());
    PxPDFAddObject(document->Objects, resources);
    document->Resources = resources;
    return document;
}

void PxPDFAddPage(TPxPDFDocument* Document, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    if (!Document || !Bitmap || Bitmap->GetWidth() <= 0 || Bitmap->GetHeight() <= 0) {
        Progress.Abort();
        return;
    }
    TPxPSPageImage pageImage;
    if (!PxPSPreparePageImage(Bitmap, pageImage, Progress))
        return;
    TPxBitmap* image = pageImage.Image;
    const int w = pageImage.Width;
    const int h = pageImage.Height;
    const bool bilevel = pageImage.Bilevel;
    Params.BitsPerSample = bilevel ? 1 : 8;
    Params.SamplesPerPixel = bilevel ? 1 : 3;

    auto xobject = std::make_unique<TPxPDFStreamObject>();
    BuildImageStream(*xobject, image, Params, Progress);
    TPxPDFDictionaryObject& d = xobject->Dictionary();
    d.Insert(0, "Type", Name("XObject"));
    d.Insert(1, "Subtype", Name("Image"));
    d.Set("Width", Number(w));
    d.Set("Height", Number(h));
    const int32_t imageNumber = PxPDFAddObject(Document->Objects, xobject.get())->Number;
    Document->Images.push_back(xobject.release());
    const std::string n = std::to_string(Document->Images.size());

    int fw = 1, fh = 1;
    PxAspectFit(w, h, Params.PDFPaperWidth, Params.PDFPaperHeight, fw, fh);
    const std::string content = "q\n" + std::to_string(fw) + " 0 0 " + std::to_string(fh) + " 0 " +
                                std::to_string(Params.PDFPaperHeight - fh) + " cm\n/lm" + n + " Do\nQ";
    TPxPDFStreamObject* contents = TPxPDFStreamObject::CreateFromBuffer(content.data(), static_cast<int64_t>(content.size()));
    PxPDFAddObject(Document->Objects, contents);
    Document->Contents.push_back(contents);

    if (auto* xobjects = dynamic_cast<TPxPDFDictionaryObject*>(Document->Resources->Find("XObject")))
        xobjects->Set("lm" + n, new TPxPDFRefObject(imageNumber));

    auto* mediaBox = new TPxPDFArrayObject();
    mediaBox->Add(Number(0));
    mediaBox->Add(Number(0));
    mediaBox->Add(Number(Params.PDFPaperWidth));
    mediaBox->Add(Number(Params.PDFPaperHeight));
    PxPDFCreatePage(Document->Objects, Document->Pages, Document->Resources, contents->Number, mediaBox);
}

std::string PxPDFFormatDate(const SYSTEMTIME& Time)
{
    char text[32];
    std::snprintf(text, sizeof text, "D:%04u%02u%02u%02u%02u%02u", static_cast<unsigned>(Time.wYear),
                  static_cast<unsigned>(Time.wMonth), static_cast<unsigned>(Time.wDay),
                  static_cast<unsigned>(Time.wHour), static_cast<unsigned>(Time.wMinute),
                  static_cast<unsigned>(Time.wSecond));
    return text;
}

void PxPDFWriteHeader(classlib::TStream* Stream)
{
    PxPDFWriteLine(Stream, "%PDF-1.4");
    PxPDFWriteLine(Stream, "%\xC8\xD2\xF0\xFE");
}

void PxPDFWriteObjects(classlib::TStream* Stream, const TPxPDFObjectList& Objects, int64_t Origin)
{
    for (TPxPDFObject* object : Objects) {
        object->Position = Stream->GetPosition() - Origin;
        PxPDFWriteLine(Stream, std::to_string(object->Number) + " 0 obj");
        object->WriteTo(Stream);
        PxPDFWriteText(Stream, "\n");
        PxPDFWriteLine(Stream, "endobj");
    }
}

void PxPDFWriteXRef(classlib::TStream* Stream, const TPxPDFObjectList& Objects, int32_t InfoNumber, int64_t Origin)
{
    const int64_t start = Stream->GetPosition() - Origin;
    const std::string size = std::to_string(Objects.size() + 1);
    PxPDFWriteLine(Stream, "xref");
    PxPDFWriteLine(Stream, "0 " + size);
    PxPDFWriteLine(Stream, "0000000000 65535 f ");
    for (TPxPDFObject* object : Objects)
        PxPDFWriteLine(Stream, PxPadLeft(object->Position, 10) + " 00000 n ");
    PxPDFWriteLine(Stream, "trailer");
    PxPDFWriteLine(Stream, "<< /Size " + size);
    PxPDFWriteLine(Stream, "/Root 1 0 R");
    PxPDFWriteLine(Stream, "/Info " + std::to_string(InfoNumber) + " 0 R");
    PxPDFWriteLine(Stream, ">>");
    PxPDFWriteLine(Stream, "startxref");
    PxPDFWriteLine(Stream, std::to_string(start));
    PxPDFWriteLine(Stream, "%%EOF");
}

void PxPDFClose(std::unique_ptr<TPxPDFDocument>& Document, classlib::TStream* Stream, TIOParamsVals& Params)
{
    if (!Document)
        return;
    std::unique_ptr<TPxPDFDocument> document = std::move(Document);
    PxPDFCreatePages(document->Objects, document->Pages);

    auto* info = new TPxPDFDictionaryObject();
    const std::pair<const char*, const std::string*> texts[] = {
        {"Title", &Params.PDFTitle},     {"Author", &Params.PDFAuthor},   {"Subject", &Params.PDFSubject},
        {"Keywords", &Params.PDFKeywords}, {"Creator", &Params.PDFCreator}, {"Producer", &Params.PDFProducer},
    };
    for (const auto& [key, text] : texts)
        if (!text->empty())
            info->Set(key, new TPxPDFStringObject(*text));
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    info->Set("CreationDate", new TPxPDFStringObject(PxPDFFormatDate(now)));
    PxPDFAddObject(document->Objects, info);

    const int64_t origin = Stream->GetPosition();
    PxPDFWriteHeader(Stream);
    PxPDFWriteObjects(Stream, document->Objects, origin);
    PxPDFWriteXRef(Stream, document->Objects, info->Number, origin);
}

void PxWritePDF(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    if (!Bitmap || Bitmap->GetWidth() <= 0 || Bitmap->GetHeight() <= 0) {
        Progress.Abort();
        return;
    }
    auto document = PxPDFCreateDocument();
    PxPDFAddPage(document.get(), Bitmap, Params, Progress);
    PxPDFClose(document, Stream, Params);
}

namespace {

void WritePDFRow(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress)
{
    PxWritePDF(Stream, Bitmap, Params, Progress);
}

}  // namespace

void PxInstallPDFFormat() { PxSetBuiltInFormatWriter(ffPDF, WritePDFRow); }

}  // namespace imaging
