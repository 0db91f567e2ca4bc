#include "imaging/io/FormatTable.h"

#include "imaging/io/BmpReader.h"
#include "imaging/io/CameraRawReader.h"
#include "imaging/io/Ccitt.h"
#include "imaging/io/DicomReader.h"
#include "imaging/io/ExifBlock.h"
#include "imaging/io/GifReader.h"
#include "imaging/io/HdpReader.h"
#include "imaging/io/IcoReader.h"
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
#include "imaging/model/PxCopy.h"
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
};

}  // namespace

void PxInstallBuiltInFormats()
{
    for (TInstaller install : kInstallers)
        install();
}

}  // namespace imaging
