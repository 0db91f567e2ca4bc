#include "imaging/io/core/FormatTable.h"

#include "classlib/TextConv.h"

#include "imaging/io/formats/bmp/BmpReader.h"
#include "imaging/io/formats/raw/CameraRawReader.h"
#include "imaging/io/formats/tiff/Ccitt.h"
#include "imaging/io/formats/pcx/DcxFile.h"
#include "imaging/io/formats/dicom/DicomReader.h"
#include "imaging/io/metadata/ExifBlock.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/formats/gif/GifFrames.h"
#include "imaging/io/formats/gif/GifReader.h"
#include "imaging/io/platform/HdpReader.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/formats/ico/IcoReader.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOCounters.h"
#include "imaging/io/platform/ImgIOMedia.h"
#include "imaging/io/formats/j2k/J2kReader.h"
#include "imaging/io/metadata/JpegMetadata.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/platform/MetafileImport.h"
#include "imaging/io/formats/pcx/PcxReader.h"
#include "imaging/io/formats/pdf/PdfWriter.h"
#include "imaging/io/formats/png/PngReader.h"
#include "imaging/io/core/PresetImages.h"
#include "imaging/io/formats/psd/PsdReader.h"
#include "imaging/io/formats/pdf/PsWriter.h"
#include "imaging/io/metadata/PxAnnotations.h"
#include "imaging/io/core/PxCmyk.h"
#include "imaging/io/formats/pxm/PxmReader.h"
#include "imaging/io/core/RawPixels.h"
#include "imaging/io/formats/tga/TgaReader.h"
#include "imaging/io/formats/tiff/TiffLzw.h"
#include "imaging/io/formats/tiff/TiffReader.h"
#include "imaging/io/formats/tiff/TiffWriter.h"
#include "imaging/io/formats/wbmp/WbmpReader.h"
#include "imaging/io/platform/WebDownload.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxConvert.h"

namespace imaging {

namespace {

using TInstaller = void (*)();

// Order: services the formats rely on first, then the formats.
constexpr TInstaller kInstallers[] = {
    PxInstallPixelFormatConversion,  // pixel-format conversion of the buffer
    PxCopyInstallServices,           // Assign of the buffer
    PxInstallColorConversion,        // CMYK and colour profiles
    PxInstallJPEGMetadataObjects,    // marker list, IPTC list
    PxInstallImagingAnnot,           // annotations of TIFF pages
    PxInstallEXIF,                   // EXIF blocks of JPEG and TIFF
    PxInstallCCITT,                  // fax codes (toolkit start-up slot)
    PxInstallTIFFLZWCodec,           // TIFF LZW
    PxInstallJPEGFormat,             // JPEG row
    PxInstallPNGFormat,              // PNG row
    PxInstallTIFFReader,             // TIFF row: reader
    PxInstallTIFFWriter,             // TIFF row: writer
    PxInstallBMPFormat,              // BMP row
    PxInstallICOFormat,              // ICO and CUR rows, icon image count
    PxInstallGIFFormat,              // GIF row, GIF LZW codec, GIF frame count
    PxInstallPCXFormat,              // PCX and DCX rows, DCX page count
    PxInstallPXMFormat,              // PBM/PGM/PPM row
    PxInstallWBMPFormat,             // WBMP row
    PxInstallTGAFormat,              // TGA row
    PxInstallPSDFormat,              // PSD row
    PxInstallJ2000Format,            // JP2 and J2K rows (toolkit start-up slot)
    PxInstallHDPFormat,              // HD Photo row through the imaging component
    PxInstallCameraRawFormat,        // camera raw row
    PxInstallRawPixelsFormat,        // raw pixel data row
    PxInstallPresetImages,           // preset images (toolkit start-up slot)
    PxInstallDICOMFormat,            // DICOM row, DICOM frame count
    PxInstallMetafileFormats,        // WMF and EMF rows
    PxInstallPSFormat,               // PostScript row (writer)
    PxInstallPDFFormat,              // PDF row (writer)
    PxInstallWebDownload,            // web download through the internet library
    PxInstallMediaFrames,            // frame count of video files
};

// ---- entries of the I/O object: its load and save frames, which take the
// rest of what they do from the description

void FrameFileLoad(TImgIO& IO, const std::wstring& FileName, TPxFileFormatId FileType)
{
    IO.LoadFormatFile(FileName, FileType);
}

void FrameStreamLoad(TImgIO& IO, classlib::TStream* Stream, TPxFileFormatId FileType)
{
    IO.LoadFormatStream(Stream, FileType);
}

void FrameFileSave(TImgIO& IO, const std::wstring& FileName, TPxFileFormatId FileType)
{
    IO.SaveFormatFile(FileName, FileType);
}

void FrameStreamSave(TImgIO& IO, classlib::TStream* Stream, TPxFileFormatId FileType)
{
    IO.SaveFormatStream(Stream, FileType);
}

// A PNG file load starts from the I/O object's background colour (the
// colour a file without one keeps); every PNG load that succeeded gives the
// object the file's background colour.
void TakeObjectBackground(TImgIO& IO)
{
    const classlib::TColor c = IO.GetBackground();
    IO.FileParams->PNGBackground =
        TPxRGB{static_cast<uint8_t>((c >> 16) & 0xFF), static_cast<uint8_t>((c >> 8) & 0xFF),
               static_cast<uint8_t>(c & 0xFF)};
}

void GivePNGBackground(TImgIO& IO)
{
    const TPxRGB& c = IO.FileParams->PNGBackground;
    IO.SetBackground(static_cast<classlib::TColor>(c.r | (c.g << 8) | (c.b << 16)));
}

// An application may have taken the "RAW" extension for a format of its own.
TPxFileFormatId RAWExtensionOwner() { return PxFileTypeFromExtension(L"RAW"); }

// Metafiles are drawn at the picture's own size, with alpha.
void ImportMetafile(TImgIO& IO, const std::wstring& FileName, TPxFileFormatId)
{
    IO.ImportMetafileFromFile(FileName, -1, -1, true);
}

void LoadViewFile(TImgIO& IO, const std::wstring& FileName, TPxFileFormatId FileType)
{
    IO.LoadViewDataFromFile(FileName, FileType);
}

void LoadViewStream(TImgIO& IO, classlib::TStream* Stream, TPxFileFormatId FileType)
{
    IO.LoadViewDataFromStream(Stream, FileType);
}

// ---- frame readers of the multi-frame formats

// Hands a mask the reader returned to the caller through the record.
void PassMask(TPxIOProgressInfo& Progress, TPxMask* Mask)
{
    if (!Mask)
        return;
    Progress.Mask.Give(std::unique_ptr<TPxMask>(Mask));
}

// Page Params.TIFFImageIndex; file offsets are absolute positions.
void ReadTIFFFrame(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                   int32_t& Count)
{
    TPxMask* mask = nullptr;
    PxReadTIFF(Bitmap, Stream, Count, &Params, Progress, false, mask, false, false, false);
    PassMask(Progress, mask);
}

// The frame as the screen shows it: frames 0 .. k composed by their
// disposal methods, with the alpha channel of the composition (no separate
// mask). An empty composition is a failed read.
void ReadGIFFrame(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                  int32_t& Count)
{
    PxReadGIFFrame(Stream, Bitmap, Params, false, Progress);
    Count = Progress.Count;
    Progress.Mask.Reset();
    if (!Progress.Aborted() && (Bitmap->GetWidth() == 0 || Bitmap->GetHeight() == 0))
        Progress.Abort();
}

void ReadICOFrame(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                  int32_t&)
{
    std::unique_ptr<TPxMask> mask;
    PxReadICO(Stream, Bitmap, Params, false, mask, Progress, false);
    PassMask(Progress, mask.release());
}

void ReadDCXFrame(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, TPxIOProgressInfo& Progress,
                  int32_t&)
{
    PxReadDCX(Stream, Bitmap, Params, Progress, false);
}

void ReadDICOMFrame(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params,
                    TPxIOProgressInfo& Progress, int32_t&)
{
    PxReadDICOM(Stream, Params, Bitmap, false, Progress);
}

// ---- content tests of steps that combine tests

bool IsPlainTIFF(classlib::TStream& Stream) { return PxIsTIFF(Stream) && !PxIsCameraRawTIFF(Stream); }
bool HasJPEGStart(classlib::TStream& Stream) { return PxFindJPEGStart(Stream, true) >= 0; }

// ---- details of the file parameters' format description

template <size_t N>
std::wstring Detail(const wchar_t* const (&Texts)[N], unsigned Index)
{
    return Index < N ? Texts[Index] : L"";
}

std::wstring TIFFDetail(const TIOParamsVals& Params)
{
    static const wchar_t* const details[] = {
        L" (Uncompressed)", L" (Huffman)", L" (Group 3 Fax)", L" (Group 3 Fax 2D)",
        L" (Group 4 Fax)", L" (LZW-compressed)", L" (Compression: JPEG v.5)", L" (JPEG-compressed)",
        L" (PackBits RLE)", L" (ZIP-compressed)", L" (Deflate)"};
    return Detail(details, Params.TIFFCompression);
}

std::wstring GIFDetail(const TIOParamsVals& Params) { return Params.GIFInterlaced ? L" Interlaced" : L""; }

std::wstring JPEGDetail(const TIOParamsVals& Params)
{
    static const wchar_t* const details[] = {L"", L" Gray level", L" YCbCr", L" CMYK", L" YCbCrK"};
    return Detail(details, Params.JPEGColorSpace);
}

std::wstring PCXDetail(const TIOParamsVals& Params) { return Params.PCXCompression == 0 ? L" Uncompressed" : L""; }

std::wstring BMPDetail(const TIOParamsVals& Params)
{
    static const wchar_t* const details[] = {L" ver.1", L" ver.3", L" OS/2 v.1", L" OS/2 v.2"};
    return Detail(details, Params.BMPVersion);
}

std::wstring PNGDetail(const TIOParamsVals& Params) { return Params.PNGInterlaced ? L" Interlaced" : L""; }

std::wstring TGADetail(const TIOParamsVals& Params)
{
    return Params.TGACompressed ? L" Compressed" : L" Uncompressed";
}

std::wstring J2000Detail(const TIOParamsVals& Params)
{
    static const wchar_t* const details[] = {L" Gray level", L" RGB", L" YCbCr"};
    return Detail(details, Params.J2000ColorSpace);
}

std::wstring RAWDetail(const TIOParamsVals& Params)
{
    return L" (" + classlib::AnsiToWide(Params.RAWCamera) + L")";
}

// ---- the descriptions

constexpr uint32_t kNoResolutionSteps = pxlfNoDefaultDpi | pxlfNoAdjust | pxlfNoViewDpi;

constexpr TPxFormatDescription kFormats[] = {
    {.Type = ffTIFF, .Name = L"TIFF", .Extensions = L"TIF;TIFF;FAX;G3N;G3F;XIF", .Reads = true, .Writes = true,
     .PreviewPage = 8, .Step = pdsTIFF, .StepTest = IsPlainTIFF,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .Load = {.FileBuffer = pxlbAsSet, .StreamBuffer = pxlbAsSet, .StreamBlock = pxbkRequired},
     .SaveExtensions = L"TIF;TIFF;FAX;G3F;G3N", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .StreamTag = "TIFF",
     .Frames = {.Count = pxfcCounter, .FileCounter = PxCountTIFFPagesInFile, .Read = ReadTIFFFrame,
                .ReadWhenNone = true, .DefaultDpi = true, .MaySkip = true},
     .ParamsDetail = TIFFDetail},
    {.Type = ffGIF, .Name = L"CompuServe GIF", .Extensions = L"GIF", .Reads = true, .Writes = true,
     .PreviewPage = 16, .HeaderTest = PxHasGIFSignature,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .FileLoadFlags = pxlfNoViewDpi | pxlfGIFBackground, .StreamLoadFlags = pxlfNoViewDpi | pxlfGIFBackground,
     .SaveExtensions = L"GIF", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave,
     .Frames = {.Count = pxfcCounter, .Read = ReadGIFFrame, .ReadWhenNone = true, .Timed = true},
     .ParamsDetail = GIFDetail},
    {.Type = ffJPEG, .Name = L"JPEG", .Extensions = L"JPG;JPEG;JPE;JIF", .Reads = true, .Writes = true,
     .PreviewPage = 4, .Step = pdsJPEGSearch, .StepTest = HasJPEGStart,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .Load = {.FileBuffer = pxlbFromPosition, .StreamBlock = pxbkOptional},
     .SaveExtensions = L"JPG;JPEG;JPE;JIF", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24, .StreamTag = "JFIF",
     .ParamsDetail = JPEGDetail},
    {.Type = ffPCX, .Name = L"PCX - PaintBrush", .Extensions = L"PCX", .Reads = true, .Writes = true,
     .PreviewPage = 64, .HeaderTest = PxHasPCXStart,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .ParamsDataSize = true, .Load = {.FileSize = pxlsWhole, .StreamSize = pxlsWhole, .StreamBlock = pxbkRequiredOrShort},
     .SaveExtensions = L"PCX", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24, .SaveFlags = pxsfHeaderIfOk, .StreamTag = "PCX2",
     .ParamsDetail = PCXDetail},
    {.Type = ffBMP, .Name = L"BMP - Windows Bitmap", .Extensions = L"BMP;DIB;RLE", .Reads = true, .Writes = true,
     .PreviewPage = 32, .HeaderTest = PxHasBMPSignature,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .ParamsDataSize = true, .Load = {.StreamSize = pxlsRemaining},
     .SaveExtensions = L"BMP;DIB;RLE", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave,
     .ParamsDetail = BMPDetail},
    {.Type = ffRawData, .Name = L"Camera RAW", .Extensions = L"", .Reads = true, .Writes = true,
     .FileLoad = FrameFileLoad, .FileLoadGivenOnly = true,
     .StreamLoad = FrameStreamLoad, .StreamLoadGivenOnly = true,
     .FileLoadFlags = kNoResolutionSteps, .StreamLoadFlags = kNoResolutionSteps},
    {.Type = ffICO, .Name = L"ICO - Windows Icon", .Extensions = L"ICO", .Reads = true, .Writes = true,
     .Step = pdsICO, .StepTest = PxIsICO,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .StreamLoadFlags = pxlfNoViewDpi, .SaveExtensions = L"ICO", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24,
     .Frames = {.Count = pxfcCounter, .Read = ReadICOFrame, .CountOnStream = PxCountICOImages,
                .ReadWhenNone = true}},
    {.Type = ffCUR, .Name = L"CUR - Windows Cursor", .Extensions = L"CUR", .Reads = true, .Step = pdsCUR,
     .StepTest = PxIsCUR, .FileLoad = FrameFileLoad,
     .StreamLoad = FrameStreamLoad, .StreamLoadFlags = pxlfNoViewDpi},
    {.Type = ffPNG, .Name = L"PNG - Portable Network Graphics", .Extensions = L"PNG", .Reads = true,
     .Writes = true, .PreviewPage = 128, .Step = pdsPNG, .StepTest = PxIsPNG, .StepAbove = 8,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .Load = {.BeforeFile = TakeObjectBackground, .Loaded = GivePNGBackground},
     .SaveExtensions = L"PNG", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .SaveFlags = pxsfMask,
     .ParamsDetail = PNGDetail},
    {.Type = ffDICOM, .Name = L"DICOM Bitmap", .Extensions = L"DCM;DIC;DICOM", .Reads = true, .Step = pdsDICOM,
     .StepTest = PxIsDICOM, .FileLoad = FrameFileLoad,
     .StreamLoad = FrameStreamLoad, .FileLoadFlags = kNoResolutionSteps,
     .StreamLoadFlags = kNoResolutionSteps,
     .Frames = {.Count = pxfcCounter, .Read = ReadDICOMFrame, .CountOnStream = PxCountDICOMFrames,
                .DefaultDpi = true}},
    {.Type = ffWMF, .Name = L"WMF - Windows Metafile", .Extensions = L"WMF", .Reads = true, .Step = pdsWMF,
     .StepTest = PxIsWMF, .FileLoad = ImportMetafile},
    {.Type = ffEMF, .Name = L"EMF - Enhanced Windows Metafile", .Extensions = L"EMF", .Reads = true,
     .Step = pdsEMF, .StepTest = PxIsEMF, .FileLoad = ImportMetafile},
    {.Type = ffTGA, .Name = L"Targa Bitmap", .Extensions = L"TGA;TARGA;VDA;ICB;VST;PIX", .Reads = true,
     .Writes = true, .PreviewPage = 256, .Step = pdsTGA, .StepTest = PxIsTGA,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .StreamLoadFlags = pxlfNoViewDpi, .SaveExtensions = L"TGA;TARGA;VDA;ICB;VST;WIN",
     .FileSave = FrameFileSave, .StreamSave = FrameStreamSave,
     .FileSaveConversion = pxscTo24, .StreamSaveConversion = pxscTo24, .SaveFlags = pxsfMask,
     .ParamsDetail = TGADetail},
    {.Type = ffPXM, .Name = L"Portable Pixmap, GrayMap, BitMap", .Extensions = L"PXM;PPM;PGM;PBM", .Reads = true,
     .Writes = true, .Step = pdsPXM, .StepTest = PxIsPXM,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .FileLoadFlags = pxlfNoViewDpi, .StreamLoadFlags = pxlfNoViewDpi, .SaveExtensions = L"PXM;PBM;PGM;PPM",
     .FileSave = FrameFileSave, .StreamSave = FrameStreamSave,
     .FileSaveConversion = pxscTo24Keep48, .StreamSaveConversion = pxscTo24},
    {.Type = ffWBMP, .Name = L"WBMP - Wireless Bitmap", .Extensions = L"WBMP", .Reads = true, .Writes = true,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .StreamLoadGivenOnly = true, .FileLoadFlags = pxlfNoAdjust | pxlfNoViewDpi,
     .StreamLoadFlags = pxlfNoAdjust | pxlfNoViewDpi, .SaveExtensions = L"WBMP",
     .FileSave = FrameFileSave, .StreamSave = FrameStreamSave,
     .FileSaveConversion = pxscTo24, .StreamSaveConversion = pxscTo24},
    {.Type = ffJP2, .Name = L"JPEG2000", .Extensions = L"JP2", .Reads = true, .Writes = true, .PreviewPage = 512,
     .Step = pdsJP2, .StepTest = PxIsJP2,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .SaveExtensions = L"JP2", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24,
     .ParamsDetail = J2000Detail},
    {.Type = ffJ2K, .Name = L"JPEG2000 Code Stream", .Extensions = L"J2K;JPC;J2C", .Reads = true, .Writes = true,
     .PreviewPage = 512, .Step = pdsJ2K, .StepTest = PxIsJ2K,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .SaveExtensions = L"J2K;JPC;J2C", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24,
     .ParamsDetail = J2000Detail},
    {.Type = ffPS, .Name = L"PostScript Level 2", .Extensions = L"PS;EPS", .Writes = true,
     .SaveExtensions = L"PS;EPS", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24},
    {.Type = ffPDF, .Name = L"Adobe PDF", .Extensions = L"PDF", .Writes = true, .SaveExtensions = L"PDF",
     .FileSave = FrameFileSave, .StreamSave = FrameStreamSave,
     .FileSaveConversion = pxscTo24, .StreamSaveConversion = pxscTo24},
    {.Type = ffDCX, .Name = L"Multipage PCX", .Extensions = L"DCX", .Reads = true, .Writes = true, .Step = pdsDCX,
     .StepTest = PxIsDCX, .FileLoad = FrameFileLoad,
     .StreamLoad = FrameStreamLoad, .ParamsDataSize = true, .SaveExtensions = L"DCX",
     .FileSave = FrameFileSave, .StreamSave = FrameStreamSave,
     .SaveFlags = pxsfTruncate,
     .Frames = {.Count = pxfcCounter, .Read = ReadDCXFrame, .CountOnStream = PxCountDCXPages,
                .DefaultDpi = true}},
    {.Type = ffRAW, .Name = L"Camera RAW", .Extensions = L"CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2",
     .Reads = true, .Step = pdsCameraRaw, .FileLoad = FrameFileLoad,
     .StreamLoad = FrameStreamLoad,
     .Load = {.ReadAs = RAWExtensionOwner},
     .ParamsDetail = RAWDetail},
    {.Type = ffPSD, .Name = L"Photoshop PSD", .Extensions = L"PSD", .Reads = true, .Writes = true, .Step = pdsPSD,
     .StepTest = PxIsPSD, .FileLoad = FrameFileLoad,
     .StreamLoad = FrameStreamLoad, .FileLoadFlags = pxlfLayers, .StreamLoadFlags = pxlfLayers, .SaveExtensions = L"PSD",
     .FileSave = FrameFileSave, .StreamSave = FrameStreamSave, .SaveFlags = pxsfLayers},
    {.Type = ffPXV, .Name = L"Vectorial objects", .Extensions = L"PXV", .Reads = true, .Writes = true,
     .Step = pdsVect, .FileLoad = LoadViewFile, .StreamLoad = LoadViewStream},
    {.Type = ffLYR, .Name = L"Layers", .Extensions = L"LYR", .Reads = true, .Writes = true, .Step = pdsLayers,
     .FileLoad = LoadViewFile, .StreamLoad = LoadViewStream},
    {.Type = ffALL, .Name = L"Layers and objects", .Extensions = L"ALL", .Reads = true, .Writes = true,
     .Step = pdsVectAll, .FileLoad = LoadViewFile, .StreamLoad = LoadViewStream},
    {.Type = ffHDP, .Name = L"Microsoft HD Photo", .Extensions = L"WDP;HDP", .Reads = true, .Writes = true,
     .Available = PxGetHDPhotoAvailableTest, .Step = pdsHDPhoto, .StepTest = PxIsHDPhoto,
     .FileLoad = FrameFileLoad, .StreamLoad = FrameStreamLoad,
     .SaveExtensions = L"HDP;WDP", .FileSave = FrameFileSave,
     .StreamSave = FrameStreamSave, .Frames = {.Count = pxfcCounter}},
    // Video: recognised and counted, read by the AVI reader and the video
    // path outside the registry.
    {.Type = ffAVI, .Step = pdsAVI, .StepTest = PxIsAVI, .Frames = {.Count = pxfcVideo}},
};

}  // namespace

void PxInstallBuiltInFormats()
{
    for (TInstaller install : kInstallers)
        install();
}

std::span<const TPxFormatDescription> PxFormatTable() { return kFormats; }

}  // namespace imaging
