#include "imaging/io/FormatTable.h"

#include "imaging/io/BmpReader.h"
#include "imaging/io/CameraRawReader.h"
#include "imaging/io/Ccitt.h"
#include "imaging/io/DcxFile.h"
#include "imaging/io/DicomReader.h"
#include "imaging/io/ExifBlock.h"
#include "imaging/io/FileFormats.h"
#include "imaging/io/GifFrames.h"
#include "imaging/io/GifReader.h"
#include "imaging/io/HdpReader.h"
#include "imaging/io/IOParams.h"
#include "imaging/io/IOProgress.h"
#include "imaging/io/IcoReader.h"
#include "imaging/io/ImgIO.h"
#include "imaging/io/ImgIOCounters.h"
#include "imaging/io/ImgIOMedia.h"
#include "imaging/io/J2kReader.h"
#include "imaging/io/JpegMetadata.h"
#include "imaging/io/JpegReader.h"
#include "imaging/io/MetafileImport.h"
#include "imaging/io/PcxReader.h"
#include "imaging/io/PdfWriter.h"
#include "imaging/io/PngReader.h"
#include "imaging/io/PresetImages.h"
#include "imaging/io/PsdReader.h"
#include "imaging/io/PsWriter.h"
#include "imaging/io/PxAnnotations.h"
#include "imaging/io/PxCmyk.h"
#include "imaging/io/PxmReader.h"
#include "imaging/io/RawPixels.h"
#include "imaging/io/TgaReader.h"
#include "imaging/io/TiffLzw.h"
#include "imaging/io/TiffReader.h"
#include "imaging/io/TiffWriter.h"
#include "imaging/io/WbmpReader.h"
#include "imaging/io/WebDownload.h"
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

// ---- entries of the I/O object

template <auto Method>
void LoadFile(TImgIO& IO, const std::wstring& FileName, TPxFileFormatId)
{
    (IO.*Method)(FileName);
}

template <auto Method>
void LoadStream(TImgIO& IO, classlib::TStream* Stream, TPxFileFormatId)
{
    (IO.*Method)(Stream);
}

template <auto Method>
void SaveFile(TImgIO& IO, const std::wstring& FileName)
{
    (IO.*Method)(FileName);
}

template <auto Method>
void SaveStream(TImgIO& IO, classlib::TStream* Stream)
{
    (IO.*Method)(Stream);
}

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

// ---- the descriptions

constexpr uint32_t kNoResolutionSteps = pxlfNoDefaultDpi | pxlfNoAdjust | pxlfNoViewDpi;

constexpr TPxFormatDescription kFormats[] = {
    {.Type = ffTIFF, .Name = L"TIFF", .Extensions = L"TIF;TIFF;FAX;G3N;G3F;XIF", .Reads = true, .Writes = true,
     .PreviewPage = 8, .Step = pdsTIFF, .StepTest = IsPlainTIFF,
     .FileLoad = LoadFile<&TImgIO::LoadTIFFFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadTIFFFromStream>,
     .SaveExtensions = L"TIF;TIFF;FAX;G3F;G3N", .FileSave = SaveFile<&TImgIO::SaveTIFFToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveTIFFToStream>, .StreamTag = "TIFF",
     .Frames = {.Count = pxfcCounter, .FileCounter = PxCountTIFFPagesInFile, .Read = ReadTIFFFrame,
                .ReadWhenNone = true, .DefaultDpi = true, .MaySkip = true}},
    {.Type = ffGIF, .Name = L"CompuServe GIF", .Extensions = L"GIF", .Reads = true, .Writes = true,
     .PreviewPage = 16, .HeaderTest = PxHasGIFSignature,
     .FileLoad = LoadFile<&TImgIO::LoadGIFFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadGIFFromStream>,
     .FileLoadFlags = pxlfNoViewDpi | pxlfGIFBackground, .StreamLoadFlags = pxlfNoViewDpi | pxlfGIFBackground,
     .SaveExtensions = L"GIF", .FileSave = SaveFile<&TImgIO::SaveGIFToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveGIFToStream>,
     .Frames = {.Count = pxfcCounter, .Read = ReadGIFFrame, .ReadWhenNone = true, .Timed = true}},
    {.Type = ffJPEG, .Name = L"JPEG", .Extensions = L"JPG;JPEG;JPE;JIF", .Reads = true, .Writes = true,
     .PreviewPage = 4, .Step = pdsJPEGSearch, .StepTest = HasJPEGStart,
     .FileLoad = LoadFile<&TImgIO::LoadJPEGFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadJPEGFromStream>,
     .SaveExtensions = L"JPG;JPEG;JPE;JIF", .FileSave = SaveFile<&TImgIO::SaveJPEGToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveJPEGToStream>, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24, .StreamTag = "JFIF"},
    {.Type = ffPCX, .Name = L"PCX - PaintBrush", .Extensions = L"PCX", .Reads = true, .Writes = true,
     .PreviewPage = 64, .HeaderTest = PxHasPCXStart,
     .FileLoad = LoadFile<&TImgIO::LoadPCXFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadPCXFromStream>,
     .ParamsDataSize = true, .SaveExtensions = L"PCX", .FileSave = SaveFile<&TImgIO::SavePCXToFile>,
     .StreamSave = SaveStream<&TImgIO::SavePCXToStream>, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24, .SaveFlags = pxsfHeaderIfOk, .StreamTag = "PCX2"},
    {.Type = ffBMP, .Name = L"BMP - Windows Bitmap", .Extensions = L"BMP;DIB;RLE", .Reads = true, .Writes = true,
     .PreviewPage = 32, .HeaderTest = PxHasBMPSignature,
     .FileLoad = LoadFile<&TImgIO::LoadBMPFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadBMPFromStream>,
     .ParamsDataSize = true, .SaveExtensions = L"BMP;DIB;RLE", .FileSave = SaveFile<&TImgIO::SaveBMPToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveBMPToStream>},
    {.Type = ffRawData, .Name = L"Camera RAW", .Extensions = L"", .Reads = true, .Writes = true,
     .FileLoad = LoadFile<&TImgIO::LoadRawPixelsFromFile>, .FileLoadGivenOnly = true,
     .StreamLoad = LoadStream<&TImgIO::LoadRawPixelsFromStream>, .StreamLoadGivenOnly = true,
     .FileLoadFlags = kNoResolutionSteps, .StreamLoadFlags = kNoResolutionSteps},
    {.Type = ffICO, .Name = L"ICO - Windows Icon", .Extensions = L"ICO", .Reads = true, .Writes = true,
     .Step = pdsICO, .StepTest = PxIsICO,
     .FileLoad = LoadFile<&TImgIO::LoadICOFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadICOFromStream>,
     .StreamLoadFlags = pxlfNoViewDpi, .SaveExtensions = L"ICO", .FileSave = SaveFile<&TImgIO::SaveICOToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveICOToStream>, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24,
     .Frames = {.Count = pxfcCounter, .Read = ReadICOFrame, .CountOnStream = PxCountICOImages,
                .ReadWhenNone = true}},
    {.Type = ffCUR, .Name = L"CUR - Windows Cursor", .Extensions = L"CUR", .Reads = true, .Step = pdsCUR,
     .StepTest = PxIsCUR, .FileLoad = LoadFile<&TImgIO::LoadCURFromFile>,
     .StreamLoad = LoadStream<&TImgIO::LoadCURFromStream>, .StreamLoadFlags = pxlfNoViewDpi},
    {.Type = ffPNG, .Name = L"PNG - Portable Network Graphics", .Extensions = L"PNG", .Reads = true,
     .Writes = true, .PreviewPage = 128, .Step = pdsPNG, .StepTest = PxIsPNG, .StepAbove = 8,
     .FileLoad = LoadFile<&TImgIO::LoadPNGFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadPNGFromStream>,
     .SaveExtensions = L"PNG", .FileSave = SaveFile<&TImgIO::SavePNGToFile>,
     .StreamSave = SaveStream<&TImgIO::SavePNGToStream>, .SaveFlags = pxsfMask},
    {.Type = ffDICOM, .Name = L"DICOM Bitmap", .Extensions = L"DCM;DIC;DICOM", .Reads = true, .Step = pdsDICOM,
     .StepTest = PxIsDICOM, .FileLoad = LoadFile<&TImgIO::LoadDICOMFromFile>,
     .StreamLoad = LoadStream<&TImgIO::LoadDICOMFromStream>, .FileLoadFlags = kNoResolutionSteps,
     .StreamLoadFlags = kNoResolutionSteps,
     .Frames = {.Count = pxfcCounter, .Read = ReadDICOMFrame, .CountOnStream = PxCountDICOMFrames,
                .DefaultDpi = true}},
    {.Type = ffWMF, .Name = L"WMF - Windows Metafile", .Extensions = L"WMF", .Reads = true, .Step = pdsWMF,
     .StepTest = PxIsWMF, .FileLoad = ImportMetafile},
    {.Type = ffEMF, .Name = L"EMF - Enhanced Windows Metafile", .Extensions = L"EMF", .Reads = true,
     .Step = pdsEMF, .StepTest = PxIsEMF, .FileLoad = ImportMetafile},
    {.Type = ffTGA, .Name = L"Targa Bitmap", .Extensions = L"TGA;TARGA;VDA;ICB;VST;PIX", .Reads = true,
     .Writes = true, .PreviewPage = 256, .Step = pdsTGA, .StepTest = PxIsTGA,
     .FileLoad = LoadFile<&TImgIO::LoadTGAFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadTGAFromStream>,
     .StreamLoadFlags = pxlfNoViewDpi, .SaveExtensions = L"TGA;TARGA;VDA;ICB;VST;WIN",
     .FileSave = SaveFile<&TImgIO::SaveTGAToFile>, .StreamSave = SaveStream<&TImgIO::SaveTGAToStream>,
     .FileSaveConversion = pxscTo24, .StreamSaveConversion = pxscTo24, .SaveFlags = pxsfMask},
    {.Type = ffPXM, .Name = L"Portable Pixmap, GrayMap, BitMap", .Extensions = L"PXM;PPM;PGM;PBM", .Reads = true,
     .Writes = true, .Step = pdsPXM, .StepTest = PxIsPXM,
     .FileLoad = LoadFile<&TImgIO::LoadPXMFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadPXMFromStream>,
     .FileLoadFlags = pxlfNoViewDpi, .StreamLoadFlags = pxlfNoViewDpi, .SaveExtensions = L"PXM;PBM;PGM;PPM",
     .FileSave = SaveFile<&TImgIO::SavePXMToFile>, .StreamSave = SaveStream<&TImgIO::SavePXMToStream>,
     .FileSaveConversion = pxscTo24Keep48, .StreamSaveConversion = pxscTo24},
    {.Type = ffWBMP, .Name = L"WBMP - Wireless Bitmap", .Extensions = L"WBMP", .Reads = true, .Writes = true,
     .FileLoad = LoadFile<&TImgIO::LoadWBMPFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadWBMPFromStream>,
     .StreamLoadGivenOnly = true, .FileLoadFlags = pxlfNoAdjust | pxlfNoViewDpi,
     .StreamLoadFlags = pxlfNoAdjust | pxlfNoViewDpi, .SaveExtensions = L"WBMP",
     .FileSave = SaveFile<&TImgIO::SaveWBMPToFile>, .StreamSave = SaveStream<&TImgIO::SaveWBMPToStream>,
     .FileSaveConversion = pxscTo24, .StreamSaveConversion = pxscTo24},
    {.Type = ffJP2, .Name = L"JPEG2000", .Extensions = L"JP2", .Reads = true, .Writes = true, .PreviewPage = 512,
     .Step = pdsJP2, .StepTest = PxIsJP2,
     .FileLoad = LoadFile<&TImgIO::LoadJP2FromFile>, .StreamLoad = LoadStream<&TImgIO::LoadJP2FromStream>,
     .SaveExtensions = L"JP2", .FileSave = SaveFile<&TImgIO::SaveJP2ToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveJP2ToStream>, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24},
    {.Type = ffJ2K, .Name = L"JPEG2000 Code Stream", .Extensions = L"J2K;JPC;J2C", .Reads = true, .Writes = true,
     .PreviewPage = 512, .Step = pdsJ2K, .StepTest = PxIsJ2K,
     .FileLoad = LoadFile<&TImgIO::LoadJ2KFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadJ2KFromStream>,
     .SaveExtensions = L"J2K;JPC;J2C", .FileSave = SaveFile<&TImgIO::SaveJ2KToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveJ2KToStream>, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24},
    {.Type = ffPS, .Name = L"PostScript Level 2", .Extensions = L"PS;EPS", .Writes = true,
     .SaveExtensions = L"PS;EPS", .FileSave = SaveFile<&TImgIO::SavePSToFile>,
     .StreamSave = SaveStream<&TImgIO::SavePSToStream>, .FileSaveConversion = pxscTo24,
     .StreamSaveConversion = pxscTo24},
    {.Type = ffPDF, .Name = L"Adobe PDF", .Extensions = L"PDF", .Writes = true, .SaveExtensions = L"PDF",
     .FileSave = SaveFile<&TImgIO::SavePDFToFile>, .StreamSave = SaveStream<&TImgIO::SavePDFToStream>,
     .FileSaveConversion = pxscTo24, .StreamSaveConversion = pxscTo24},
    {.Type = ffDCX, .Name = L"Multipage PCX", .Extensions = L"DCX", .Reads = true, .Writes = true, .Step = pdsDCX,
     .StepTest = PxIsDCX, .FileLoad = LoadFile<&TImgIO::LoadDCXFromFile>,
     .StreamLoad = LoadStream<&TImgIO::LoadDCXFromStream>, .ParamsDataSize = true, .SaveExtensions = L"DCX",
     .FileSave = SaveFile<&TImgIO::SaveDCXToFile>, .StreamSave = SaveStream<&TImgIO::SaveDCXToStream>,
     .SaveFlags = pxsfTruncate,
     .Frames = {.Count = pxfcCounter, .Read = ReadDCXFrame, .CountOnStream = PxCountDCXPages,
                .DefaultDpi = true}},
    {.Type = ffRAW, .Name = L"Camera RAW", .Extensions = L"CRW;CR2;NEF;RAW;PEF;RAF;X3F;BAY;ORF;SRF;MRW;DCR;SR2",
     .Reads = true, .Step = pdsCameraRaw, .FileLoad = LoadFile<&TImgIO::LoadRAWFromFile>,
     .StreamLoad = LoadStream<&TImgIO::LoadRAWFromStream>},
    {.Type = ffPSD, .Name = L"Photoshop PSD", .Extensions = L"PSD", .Reads = true, .Writes = true, .Step = pdsPSD,
     .StepTest = PxIsPSD, .FileLoad = LoadFile<&TImgIO::LoadPSDFromFile>,
     .StreamLoad = LoadStream<&TImgIO::LoadPSDFromStream>, .SaveExtensions = L"PSD",
     .FileSave = SaveFile<&TImgIO::SavePSDToFile>, .StreamSave = SaveStream<&TImgIO::SavePSDToStream>},
    {.Type = ffPXV, .Name = L"Vectorial objects", .Extensions = L"PXV", .Reads = true, .Writes = true,
     .Step = pdsVect, .FileLoad = LoadViewFile, .StreamLoad = LoadViewStream},
    {.Type = ffLYR, .Name = L"Layers", .Extensions = L"LYR", .Reads = true, .Writes = true, .Step = pdsLayers,
     .FileLoad = LoadViewFile, .StreamLoad = LoadViewStream},
    {.Type = ffALL, .Name = L"Layers and objects", .Extensions = L"ALL", .Reads = true, .Writes = true,
     .Step = pdsVectAll, .FileLoad = LoadViewFile, .StreamLoad = LoadViewStream},
    {.Type = ffHDP, .Name = L"Microsoft HD Photo", .Extensions = L"WDP;HDP", .Reads = true, .Writes = true,
     .Available = PxGetHDPhotoAvailableTest, .Step = pdsHDPhoto, .StepTest = PxIsHDPhoto,
     .FileLoad = LoadFile<&TImgIO::LoadHDPFromFile>, .StreamLoad = LoadStream<&TImgIO::LoadHDPFromStream>,
     .SaveExtensions = L"HDP;WDP", .FileSave = SaveFile<&TImgIO::SaveHDPToFile>,
     .StreamSave = SaveStream<&TImgIO::SaveHDPToStream>, .Frames = {.Count = pxfcCounter}},
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
