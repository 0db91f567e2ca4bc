#include "imaging/io/core/IOParams.h"
#include "imaging/io/platform/PxTwain.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/model/PxCopy.h"

namespace imaging {

int32_t PxDefaultDpiX = 300;
int32_t PxDefaultDpiY = 300;

TIOParamsObjectServices& IOParamsObjectServices()
{
    static TIOParamsObjectServices services;
    return services;
}

namespace {

template <class T>
void DestroyWith(const TIOParamsObjectKind<T>& kind, T* object)
{
    // An object exists only when its kind was installed, and kinds are never
    // removed, so Destroy is there whenever there is something to free.
    if (object != nullptr && kind.Destroy != nullptr) kind.Destroy(object);
}

}  // namespace

void TIOParamsObjectDeleter::operator()(TPxMarkerList* Object) const
{
    DestroyWith(IOParamsObjectServices().MarkerList, Object);
}
void TIOParamsObjectDeleter::operator()(TPxIPTCInfoList* Object) const
{
    DestroyWith(IOParamsObjectServices().IPTCInfo, Object);
}
void TIOParamsObjectDeleter::operator()(TPxTagsHandler* Object) const
{
    DestroyWith(IOParamsObjectServices().MakerNote, Object);
}
void TIOParamsObjectDeleter::operator()(TPxImagingAnnot* Object) const
{
    DestroyWith(IOParamsObjectServices().ImagingAnnot, Object);
}
void TIOParamsObjectDeleter::operator()(TPxICC* Object) const { DestroyWith(IOParamsObjectServices().ICC, Object); }

namespace {

using P = TIOParamsVals;

// ---------------------------------------------------------------------------
// The table of fields. Every entry says which of the group operations touch
// it and how it is reset and copied:
//   ResetToDefaults - every entry with fReset or fEXIF, in table order (the
//                     order of the reset steps);
//   ResetEXIF       - every entry with fEXIF;
//   ClearInfo       - every entry with fClearInfo or fEXIF (its reset);
//   Assign          - every entry with fAssign (its copy), in table order;
//   AssignCompressionOptions - every entry with fCompression (its copy).
// Fields that move together (the image indexes, the two orientations, the
// two thumbnail switches, the resolution and its EXIF double) have one entry
// that goes through their setter.

enum : unsigned {
    fReset = 1,
    fEXIF = 2,
    fClearInfo = 4,
    fAssign = 8,
    fCompression = 16,
};

struct TField {
    const char* Name;
    unsigned Flags;
    void (*Reset)(P& Params, const TField& Field);
    void (*Copy)(P& Dest, const P& Source);
    // Default of a plain field.
    double Number = 0;
    const char* Text = "";
    const wchar_t* WideText = L"";
    TPxRGB Color{0, 0, 0};
};

template <class T>
void SetDefault(T& v, const TField& f)
    requires std::is_arithmetic_v<T>
{
    v = static_cast<T>(f.Number);
}
void SetDefault(std::string& v, const TField& f) { v = f.Text; }
void SetDefault(std::wstring& v, const TField& f) { v = f.WideText; }
void SetDefault(TPxRGB& v, const TField& f) { v = f.Color; }
template <class T, std::size_t N>
void SetDefault(std::array<T, N>& v, const TField& f)
{
    v.fill(static_cast<T>(f.Number));
}

template <auto M>
void ResetPlain(P& p, const TField& f)
{
    SetDefault(p.*M, f);
}
template <auto M>
void CopyPlain(P& d, const P& s)
{
    d.*M = s.*M;
}

template <auto M>
TField Plain(const char* name, unsigned flags, double value)
{
    TField f{name, flags, &ResetPlain<M>, &CopyPlain<M>};
    f.Number = value;
    return f;
}
// Integer literals (0 would otherwise also match the text overloads).
template <auto M>
TField Plain(const char* name, unsigned flags, int value)
{
    return Plain<M>(name, flags, static_cast<double>(value));
}
template <auto M>
TField Plain(const char* name, unsigned flags, const char* value)
{
    TField f{name, flags, &ResetPlain<M>, &CopyPlain<M>};
    f.Text = value;
    return f;
}
template <auto M>
TField Plain(const char* name, unsigned flags, const wchar_t* value)
{
    TField f{name, flags, &ResetPlain<M>, &CopyPlain<M>};
    f.WideText = value;
    return f;
}
template <auto M>
TField Plain(const char* name, unsigned flags, TPxRGB value)
{
    TField f{name, flags, &ResetPlain<M>, &CopyPlain<M>};
    f.Color = value;
    return f;
}

// A string list: emptied on reset, assigned on copy.
template <auto M>
TField StringList(const char* name, unsigned flags)
{
    return TField{name, flags, [](P& p, const TField&) { (p.*M)->Clear(); },
                  [](P& d, const P& s) { (d.*M)->Assign((s.*M).get()); }};
}

// An object of another unit that the parameters always hold once its kind
// is installed (marker list, IPTC list, maker note): cleared on reset,
// assigned on copy.
template <class T, auto M, auto K>
TField ListObject(const char* name, unsigned flags)
{
    return TField{name, flags,
                  [](P& p, const TField&) {
                      const auto& kind = IOParamsObjectServices().*K;
                      if (p.*M && kind.Clear) kind.Clear((p.*M).get());
                  },
                  [](P& d, const P& s) {
                      const auto& kind = IOParamsObjectServices().*K;
                      if (!(s.*M)) {
                          if (d.*M && kind.Clear) kind.Clear((d.*M).get());
                          return;
                      }
                      if (!(d.*M) && kind.Installed()) (d.*M).reset(kind.Create(&d));
                      if (d.*M && kind.Assign) kind.Assign((d.*M).get(), (s.*M).get());
                  }};
}

// An object created on first use (annotations, profiles): freed on reset;
// on copy a copy of the source's, or freed when the source has none.
template <class T, auto M, auto K>
TField OptionalObject(const char* name, unsigned flags)
{
    return TField{name, flags, [](P& p, const TField&) { (p.*M).reset(); },
                  [](P& d, const P& s) {
                      const auto& kind = IOParamsObjectServices().*K;
                      if (!(s.*M)) {
                          (d.*M).reset();
                          return;
                      }
                      if (!(d.*M) && kind.Installed()) (d.*M).reset(kind.Create(&d));
                      if (d.*M && kind.Assign) kind.Assign((d.*M).get(), (s.*M).get());
                  }};
}

void NoCopy(P&, const P&) {}

#define PLAIN(name, flags, value) Plain<&P::name>(#name, flags, value)

constexpr unsigned R = fReset | fAssign;         // reset and copied
constexpr unsigned RC = R | fCompression;        // also an encoding option
constexpr unsigned RI = R | fClearInfo;          // also forgotten by ClearInfo
constexpr unsigned E = fEXIF | fAssign;          // EXIF group, copied
constexpr TPxRGB kBlack{0, 0, 0};
constexpr TPxRGB kWhite{255, 255, 255};

std::vector<TField> BuildFieldTable()
{
    std::vector<TField> t = {
        // ---- 1. general basics
        {"ColorMap", R, [](P& p, const TField&) { p.FreeColorMap(); },
         [](P& d, const P& s) {
             d.FreeColorMap();
             if (s.ColorMap && s.ColorMapCount > 0) {
                 d.AllocColorMap(s.ColorMapCount);
                 std::memcpy(d.ColorMap.get(), s.ColorMap.get(), sizeof(TPxRGB) * std::size_t(s.ColorMapCount));
             }
             // A count without a map is copied as it stands.
             d.ColorMapCount = s.ColorMapCount;
         }},
        PLAIN(FileName, R, L""),
        PLAIN(FileFormat, R, 0),
        PLAIN(BitsPerSample, RC, 8),
        PLAIN(SamplesPerPixel, RC, 3),
        PLAIN(NativePixelFormat, R, 0),
        // ---- 2. size and resolution: from the owner, unchanged without one
        {"Width/Height", R,
         [](P& p, const TField&) {
             if (!p.OwnerIO) return;
             if (classlib::TBitmap* bitmap = p.OwnerIO->GetTBitmap()) {
                 p.Width = bitmap->GetWidth();
                 p.Height = bitmap->GetHeight();
             }
         },
         [](P& d, const P& s) {
             d.Width = s.Width;
             d.Height = s.Height;
         }},
        {"DpiX/DpiY", R,
         [](P& p, const TField&) {
             if (!p.OwnerIO) return;
             p.SetDpiX(PxDefaultDpiX);
             p.SetDpiY(PxDefaultDpiY);
         },
         [](P& d, const P& s) {
             d.SetDpiX(s.DpiX);
             d.SetDpiY(s.DpiY);
         }},
        // ---- 3. general
        {"ImageIndex (all groups)", R, [](P& p, const TField&) { p.SetImageIndex(0); },
         [](P& d, const P& s) { d.SetImageIndex(s.ImageIndex); }},
        PLAIN(ImageCount, R, 0),
        {"UseEmbeddedThumbnail/JPEGUseEmbeddedThumbnail", R,
         [](P& p, const TField&) { p.SetUseEmbeddedThumbnail(false); },
         [](P& d, const P& s) { d.SetUseEmbeddedThumbnail(s.UseEmbeddedThumbnail); }},
        PLAIN(ApplyOrientation, R, 0),
        PLAIN(OriginalWidth, R, 0),
        PLAIN(OriginalHeight, R, 0),
        PLAIN(DpiEditable, R, 0),
        // GIF
        PLAIN(GIFVersion, R, "GIF89a"),
        PLAIN(GIFXPos, R, 0),
        PLAIN(GIFYPos, R, 0),
        PLAIN(GIFDelayTime, R, 0),
        PLAIN(GIFTransparent, R, 0),
        PLAIN(GIFTransparentColor, R, kBlack),
        PLAIN(GIFInterlaced, RC, 0),
        PLAIN(GIFWinWidth, R, 0),
        PLAIN(GIFWinHeight, R, 0),
        PLAIN(GIFBackground, R, kBlack),
        PLAIN(GIFRatio, R, 0),
        StringList<&P::GIFComments>("GIFComments", RI),
        PLAIN(GIFAction, R, 2),
        {"GIFLZWDecompress", RC, [](P& p, const TField&) { p.GIFLZWDecompress = PxGlobalGIFLZWDecompress; },
         &CopyPlain<&P::GIFLZWDecompress>},
        {"GIFLZWCompress", RC, [](P& p, const TField&) { p.GIFLZWCompress = PxGlobalGIFLZWCompress; },
         &CopyPlain<&P::GIFLZWCompress>},
        PLAIN(GIFImageCount, R, 0),
        // TIFF
        PLAIN(TIFFCompression, RC, 0),
        PLAIN(TIFFSubIndex, R, -1),
        PLAIN(TIFFPhotometric, RC, 2),
        PLAIN(TIFFPlanarConfig, RC, 1),
        PLAIN(TIFFXPos, R, 0),
        PLAIN(TIFFYPos, R, 0),
        PLAIN(TIFFGetTile, R, -1),
        PLAIN(TIFFDocumentName, RI, ""),
        PLAIN(TIFFImageDescription, RI, ""),
        PLAIN(TIFFPageName, RI, ""),
        PLAIN(TIFFPageNumber, R, -1),
        PLAIN(TIFFPageCount, R, -1),
        {"TIFFOrientation/EXIFOrientation", RC, [](P& p, const TField&) { p.SetTIFFOrientation(1); },
         [](P& d, const P& s) { d.SetTIFFOrientation(s.TIFFOrientation); }},
        {"TIFFLZWDecompress", RC, [](P& p, const TField&) { p.TIFFLZWDecompress = PxGlobalTIFFLZWDecompress; },
         &CopyPlain<&P::TIFFLZWDecompress>},
        {"TIFFLZWCompress", RC, [](P& p, const TField&) { p.TIFFLZWCompress = PxGlobalTIFFLZWCompress; },
         &CopyPlain<&P::TIFFLZWCompress>},
        PLAIN(TIFFApplyOrientation, RC, 0),
        PLAIN(TIFFJPEGQuality, RC, 80),
        PLAIN(TIFFJPEGColorSpace, RC, 2),
        PLAIN(TIFFZIPCompression, RC, 1),
        PLAIN(TIFFImageCount, R, 0),
        PLAIN(TIFFFillOrder, RC, 1),
        PLAIN(TIFFLittleEndian, R, 1),
        // JPEG
        PLAIN(JPEGColorSpace, RC, 2),
        PLAIN(JPEGQuality, RC, 80),
        PLAIN(JPEGDCTMethod, RC, 0),
        PLAIN(JPEGChromaSubsampling, RC, 1),
        PLAIN(JPEGOptimalHuffman, RC, 0),
        PLAIN(JPEGSmoothing, RC, 0),
        PLAIN(JPEGProgressive, RC, 0),
        PLAIN(JPEGScale, R, 1),
        ListObject<TPxMarkerList, &P::JPEGMarkers, &TIOParamsObjectServices::MarkerList>("JPEGMarkers", RI),
        PLAIN(JPEGScaleDenominator, R, 1),
        PLAIN(JPEGWarningCount, R, 0),
        PLAIN(JPEGWarningCode, R, 0),
        PLAIN(JPEGApplyOrientation, R, 0),
        // JPEG 2000
        PLAIN(J2000ColorSpace, RC, 1),
        PLAIN(J2000Rate, RC, 1.0),
        PLAIN(J2000ProgressionOrder, RC, 0),
        // PCX
        PLAIN(PCXVersion, RC, 5),
        PLAIN(PCXCompression, RC, 1),
        // BMP
        PLAIN(BMPVersion, RC, 1),
        PLAIN(BMPCompression, RC, 0),
        PLAIN(BMPWriteAlpha, RC, 0),
        // ICO and CUR
        PLAIN(ICOBackground, R, kWhite),
        {"ICOSizes", R,
         [](P& p, const TField&) {
             p.ICOSizes.fill(TPxICOSize{});
             p.ICOSizes[0] = TPxICOSize{64, 64};
         },
         &CopyPlain<&P::ICOSizes>},
        {"ICOBitCounts", R,
         [](P& p, const TField&) {
             p.ICOBitCounts.fill(0);
             p.ICOBitCounts[0] = 8;
         },
         &CopyPlain<&P::ICOBitCounts>},
        PLAIN(CURXHotSpot, R, 0),
        PLAIN(CURYHotSpot, R, 0),
        PLAIN(CURBackground, R, kWhite),
        // PNG
        PLAIN(PNGInterlaced, RC, 0),
        PLAIN(PNGBackground, R, kBlack),
        PLAIN(PNGFilter, RC, 0),
        PLAIN(PNGCompression, RC, 5),
        StringList<&P::PNGTextKeys>("PNGTextKeys", RI),
        StringList<&P::PNGTextValues>("PNGTextValues", RI),
        // DICOM
        {"DICOMTags", RI, [](P& p, const TField&) { p.DICOMTags->Clear(); },
         [](P& d, const P& s) { d.DICOMTags->Assign(s.DICOMTags.get()); }},
        // TGA
        PLAIN(TGAXPos, R, 0),
        PLAIN(TGAYPos, R, 0),
        PLAIN(TGACompressed, RC, 1),
        PLAIN(TGADescriptor, RI, ""),
        PLAIN(TGAAuthor, RI, ""),
        {"TGADate", R,
         [](P& p, const TField&) {
             // Today's date, without the time of day.
             p.TGADate = static_cast<double>(classlib::Trunc(classlib::Now()));
         },
         &CopyPlain<&P::TGADate>},
        PLAIN(TGAImageName, RI, ""),
        PLAIN(TGABackground, R, kBlack),
        PLAIN(TGAAspectRatio, R, 1.0),
        PLAIN(TGAGamma, R, 2.2),
        PLAIN(TGAGrayLevel, RC, 0),
        // ---- 4. video, metadata lists, EXIF
        PLAIN(AVIFrameCount, R, 0),
        PLAIN(AVIFrameDelay, R, 0),
        ListObject<TPxIPTCInfoList, &P::IPTCInfo, &TIOParamsObjectServices::IPTCInfo>("IPTCInfo", RI),
        StringList<&P::PXMComments>("PXMComments", RI),
        // EXIF: the tag list, HasEXIF and the thumbnail are copied together so
        // that the thumbnail always follows the source's HasEXIF and tags.
        {"EXIFTags/HasEXIF/EXIFBitmap", E,
         [](P& p, const TField&) {
             p.EXIFTags->Clear();
             p.HasEXIF = false;
             p.EXIFBitmap.reset();
         },
         [](P& d, const P& s) {
             d.EXIFTags->Assign(s.EXIFTags.get());
             d.HasEXIF = s.HasEXIF;
             if (s.EXIFBitmap) {
                 if (!d.EXIFBitmap) d.EXIFBitmap = std::make_unique<TPxBitmap>();
                 d.EXIFBitmap->Assign(s.EXIFBitmap.get());
             } else {
                 d.EXIFBitmap.reset();
             }
         }},
        // Copied through SetTIFFOrientation (its own entry above).
        {"EXIFOrientation", fEXIF, [](P& p, const TField&) { p.EXIFOrientation = 0; }, &NoCopy},
        PLAIN(EXIFImageDescription, E, ""),
        PLAIN(EXIFMake, E, ""),
        PLAIN(EXIFModel, E, ""),
        PLAIN(EXIFXResolution, E, 0),
        PLAIN(EXIFYResolution, E, 0),
        PLAIN(EXIFResolutionUnit, E, 0),
        PLAIN(EXIFSoftware, E, ""),
        PLAIN(EXIFArtist, E, ""),
        PLAIN(EXIFDateTime, E, ""),
        PLAIN(EXIFWhitePoint, E, -1),
        PLAIN(EXIFPrimaryChromaticities, E, -1),
        PLAIN(EXIFYCbCrCoefficients, E, -1),
        PLAIN(EXIFYCbCrPositioning, E, 0),
        PLAIN(EXIFReferenceBlackWhite, E, -1),
        PLAIN(EXIFCopyright, E, ""),
        PLAIN(EXIFExposureTime, E, 0),
        PLAIN(EXIFFNumber, E, 0),
        PLAIN(EXIFExposureProgram, E, 0),
        PLAIN(EXIFISOSpeedRatings, E, 0),
        PLAIN(EXIFExifVersion, E, ""),
        PLAIN(EXIFDateTimeOriginal, E, ""),
        PLAIN(EXIFDateTimeDigitized, E, ""),
        PLAIN(EXIFCompressedBitsPerPixel, E, 0),
        PLAIN(EXIFShutterSpeedValue, E, 0),
        PLAIN(EXIFApertureValue, E, 0),
        PLAIN(EXIFBrightnessValue, E, 0),
        PLAIN(EXIFExposureBiasValue, E, 0),
        PLAIN(EXIFMaxApertureValue, E, 0),
        PLAIN(EXIFSubjectDistance, E, 0),
        PLAIN(EXIFMeteringMode, E, 0),
        PLAIN(EXIFLightSource, E, 0),
        PLAIN(EXIFFlash, E, 0),
        PLAIN(EXIFFocalLength, E, 0),
        PLAIN(EXIFSubsecTime, E, ""),
        PLAIN(EXIFSubsecTimeOriginal, E, ""),
        PLAIN(EXIFSubsecTimeDigitized, E, ""),
        PLAIN(EXIFFlashPixVersion, E, ""),
        PLAIN(EXIFColorSpace, E, 0),
        PLAIN(EXIFPixelXDimension, E, 0),
        PLAIN(EXIFPixelYDimension, E, 0),
        PLAIN(EXIFRelatedSoundFile, E, ""),
        PLAIN(EXIFFocalPlaneXResolution, E, 0),
        PLAIN(EXIFFocalPlaneYResolution, E, 0),
        PLAIN(EXIFFocalPlaneResolutionUnit, E, 0),
        PLAIN(EXIFExposureIndex, E, 0),
        PLAIN(EXIFSensingMethod, E, 0),
        PLAIN(EXIFFileSource, E, 0),
        PLAIN(EXIFSceneType, E, 0),
        PLAIN(EXIFUserComment, E, L""),
        PLAIN(EXIFUserCommentCode, E, ""),
        ListObject<TPxTagsHandler, &P::EXIFMakerNote, &TIOParamsObjectServices::MakerNote>("EXIFMakerNote", E),
        PLAIN(EXIFRating, E, -1),
        PLAIN(EXIFXPTitle, E, L""),
        PLAIN(EXIFXPComment, E, L""),
        PLAIN(EXIFXPAuthor, E, L""),
        PLAIN(EXIFXPKeywords, E, L""),
        PLAIN(EXIFXPSubject, E, L""),
        PLAIN(EXIFExposureMode, E, -1),
        PLAIN(EXIFWhiteBalance, E, -1),
        PLAIN(EXIFDigitalZoomRatio, E, -1),
        PLAIN(EXIFFocalLengthIn35mmFilm, E, -1),
        PLAIN(EXIFSceneCaptureType, E, -1),
        PLAIN(EXIFGainControl, E, -1),
        PLAIN(EXIFContrast, E, -1),
        PLAIN(EXIFSaturation, E, -1),
        PLAIN(EXIFSharpness, E, -1),
        PLAIN(EXIFSubjectDistanceRange, E, -1),
        PLAIN(EXIFImageUniqueID, E, ""),
        PLAIN(EXIFGPSVersionID, E, ""),
        PLAIN(EXIFGPSLatitudeRef, E, ""),
        PLAIN(EXIFGPSLatitude, E, 0),
        PLAIN(EXIFGPSLongitudeRef, E, ""),
        PLAIN(EXIFGPSLongitude, E, 0),
        PLAIN(EXIFGPSAltitudeRef, E, ""),
        PLAIN(EXIFGPSAltitude, E, 0),
        PLAIN(EXIFGPSTimeStamp, E, 0),
        PLAIN(EXIFGPSSatellites, E, ""),
        PLAIN(EXIFGPSStatus, E, ""),
        PLAIN(EXIFGPSMeasureMode, E, ""),
        PLAIN(EXIFGPSDOP, E, 0),
        PLAIN(EXIFGPSSpeedRef, E, ""),
        PLAIN(EXIFGPSSpeed, E, 0),
        PLAIN(EXIFGPSTrackRef, E, ""),
        PLAIN(EXIFGPSTrack, E, 0),
        PLAIN(EXIFGPSImgDirectionRef, E, ""),
        PLAIN(EXIFGPSImgDirection, E, 0),
        PLAIN(EXIFGPSMapDatum, E, ""),
        PLAIN(EXIFGPSDestLatitudeRef, E, ""),
        PLAIN(EXIFGPSDestLatitude, E, 0),
        PLAIN(EXIFGPSDestLongitudeRef, E, ""),
        PLAIN(EXIFGPSDestLongitude, E, 0),
        PLAIN(EXIFGPSDestBearingRef, E, ""),
        PLAIN(EXIFGPSDestBearing, E, 0),
        PLAIN(EXIFGPSDestDistanceRef, E, ""),
        PLAIN(EXIFGPSDestDistance, E, 0),
        PLAIN(EXIFGPSDateStamp, E, ""),
        // Last of ResetEXIF: the first "Exif" APP1 marker goes.
        {"EXIF APP1 marker", fEXIF,
         [](P& p, const TField&) {
             auto deleteMarker = IOParamsObjectServices().DeleteEXIFMarker;
             if (p.JPEGMarkers && deleteMarker) deleteMarker(p.JPEGMarkers.get());
         },
         &NoCopy},
        // ---- 5. documents, annotations, profiles
        PLAIN(PSPaperWidth, R, 595),
        PLAIN(PSPaperHeight, R, 842),
        PLAIN(PSCompression, R, 1),
        PLAIN(PSTitle, R, "No Title"),
        PLAIN(PDFPaperWidth, R, 595),
        PLAIN(PDFPaperHeight, R, 842),
        PLAIN(PDFCompression, R, 2),
        PLAIN(PDFTitle, R, ""),
        PLAIN(PDFAuthor, R, ""),
        PLAIN(PDFSubject, R, ""),
        PLAIN(PDFKeywords, R, ""),
        PLAIN(PDFCreator, R, ""),
        PLAIN(PDFProducer, R, ""),
        OptionalObject<TPxImagingAnnot, &P::ImagingAnnot, &TIOParamsObjectServices::ImagingAnnot>("ImagingAnnot",
                                                                                                   RI),
        OptionalObject<TPxICC, &P::InputICCProfile, &TIOParamsObjectServices::ICC>("InputICCProfile", RI),
        OptionalObject<TPxICC, &P::DefaultICCProfile, &TIOParamsObjectServices::ICC>("DefaultICCProfile", R),
        OptionalObject<TPxICC, &P::OutputICCProfile, &TIOParamsObjectServices::ICC>("OutputICCProfile", R),
        // ---- 6. camera raw, raw pixel data, PSD, HD Photo, XMP
        PLAIN(RAWHalfSize, R, 0),
        PLAIN(RAWGamma, R, 0.6),
        PLAIN(RAWBright, R, 1.0),
        PLAIN(RAWRedScale, R, 1.0),
        PLAIN(RAWBlueScale, R, 1.0),
        PLAIN(RAWQuickInterpolate, R, 1),
        PLAIN(RAWUseAutoWB, R, 0),
        PLAIN(RAWUseCameraWB, R, 0),
        PLAIN(RAWFourColorRGB, R, 0),
        PLAIN(RAWCamera, R, ""),
        PLAIN(RAWUseEmbeddedPreview, R, 0),
        PLAIN(RAWMatchPreviewColors, R, 0),
        PLAIN(RawPixelsBGR, R, 0),
        PLAIN(RawPixelsPlanar, R, 0),
        PLAIN(RawPixelsRowAlign, R, 8),
        PLAIN(RawPixelsHeaderSize, R, 0),
        PLAIN(RawPixelsDataFormat, R, 0),
        PLAIN(PSDLoadLayers, R, 0),
        PLAIN(PSDReplaceLayers, R, 1),
        PLAIN(HDPImageQuality, R, 0.9),
        PLAIN(HDPLossless, R, 0),
        PLAIN(XMPInfo, RI, ""),
        // ---- neither reset nor copied
        {"ImagingAnnotTag", 0, nullptr, nullptr},
        {"MediaFrameCount", 0, nullptr, nullptr},
        {"MediaFrameDelay", 0, nullptr, nullptr},
    };
    return t;
}

#undef PLAIN

const std::vector<TField>& FieldTable()
{
    static const std::vector<TField> table = BuildFieldTable();
    return table;
}

void ResetWhere(P& p, unsigned anyOf)
{
    for (const TField& f : FieldTable())
        if ((f.Flags & anyOf) != 0 && f.Reset) f.Reset(p, f);
}

void CopyWhere(P& d, const P& s, unsigned flag)
{
    for (const TField& f : FieldTable())
        if ((f.Flags & flag) != 0 && f.Copy) f.Copy(d, s);
}

[[noreturn]] void RaiseIndex(const wchar_t* array, int index)
{
    throw classlib::EListError(std::wstring(array) + L" index out of bounds (" + std::to_wstring(index) + L")");
}

template <class T, std::size_t N>
T& CheckedElement(std::array<T, N>& a, int index, const wchar_t* name)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N) RaiseIndex(name, index);
    return a[static_cast<std::size_t>(index)];
}
template <class T, std::size_t N>
const T& CheckedElement(const std::array<T, N>& a, int index, const wchar_t* name)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N) RaiseIndex(name, index);
    return a[static_cast<std::size_t>(index)];
}

}  // namespace

// ---------------------------------------------------------------------------

TIOParamsVals::TIOParamsVals(TImgIO* Owner) : OwnerIO(Owner)
{
    GIFComments = std::make_unique<classlib::TStringList>();
    PNGTextKeys = std::make_unique<classlib::TStringList>();
    PNGTextValues = std::make_unique<classlib::TStringList>();
    PXMComments = std::make_unique<classlib::TStringList>();
    DICOMTags = std::make_unique<TPxDICOMTags>();
    EXIFTags = std::make_unique<TPxIntegerList>();
    ResetToDefaults();
}

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::CreateMissingLists()
{
    TIOParamsObjectServices& services = IOParamsObjectServices();
    if (!JPEGMarkers && services.MarkerList.Installed()) JPEGMarkers.reset(services.MarkerList.Create(this));
    if (!IPTCInfo && services.IPTCInfo.Installed()) IPTCInfo.reset(services.IPTCInfo.Create(this));
    if (!EXIFMakerNote && services.MakerNote.Installed()) EXIFMakerNote.reset(services.MakerNote.Create(this));
}

void TIOParamsVals::ResetToDefaults()
{
    CreateMissingLists();
    ResetWhere(*this, fReset | fEXIF);
}

void TIOParamsVals::ClearInfo() { ResetWhere(*this, fClearInfo | fEXIF); }

void TIOParamsVals::ResetEXIF() { ResetWhere(*this, fEXIF); }

void TIOParamsVals::Assign(const TIOParamsVals* Source)
{
    if (Source == nullptr || Source == this) return;
    CopyWhere(*this, *Source, fAssign);
}

void TIOParamsVals::AssignCompressionOptions(const TIOParamsVals* Source)
{
    if (Source == nullptr || Source == this) return;
    CopyWhere(*this, *Source, fCompression);
}

void TIOParamsVals::FreeColorMap()
{
    ColorMap.reset();
    ColorMapCount = 0;
}

void TIOParamsVals::AllocColorMap(int32_t Count)
{
    FreeColorMap();
    if (Count <= 0) return;
    ColorMap = std::make_unique<TPxRGB[]>(static_cast<std::size_t>(Count));
    ColorMapCount = Count;
}

// ---- resolution

void TIOParamsVals::PushDpiToView(bool Horizontal, int32_t Value)
{
    if (!OwnerIO) return;
    TPxIOView* view = OwnerIO->GetAttachedImg();
    if (!view || !view->IsImageView()) return;
    view->BeginUpdateLock();
    // The lock is released without a redraw on every way out.
    struct Unlock {
        TPxIOView* v;
        ~Unlock() { v->EndUpdateLockNoUpdate(); }
    } unlock{view};
    if (Horizontal)
        view->SetDpiX(Value);
    else
        view->SetDpiY(Value);
}

void TIOParamsVals::SetDpiX(int32_t Value)
{
    DpiX = Value;
    EXIFXResolution = Value;
    PushDpiToView(true, Value);
}

void TIOParamsVals::SetDpiY(int32_t Value)
{
    DpiY = Value;
    EXIFYResolution = Value;
    PushDpiToView(false, Value);
}

void TIOParamsVals::SetEXIFXResolution(double Value)
{
    SetDpiX(static_cast<int32_t>(classlib::Round(Value)));
    EXIFXResolution = Value;
}

void TIOParamsVals::SetEXIFYResolution(double Value)
{
    SetDpiY(static_cast<int32_t>(classlib::Round(Value)));
    EXIFYResolution = Value;
}

// ---- fields that move together

void TIOParamsVals::SetImageIndex(int32_t Value)
{
    ImageIndex = TIFFImageIndex = DCXImageIndex = GIFImageIndex = ICOImageIndex = CURImageIndex = Value;
}

void TIOParamsVals::SetImageCount(int32_t Value)
{
    ImageCount = TIFFImageCount = GIFImageCount = AVIFrameCount = MediaFrameCount = Value;
}

void TIOParamsVals::SetApplyOrientation(bool Value)
{
    ApplyOrientation = TIFFApplyOrientation = JPEGApplyOrientation = Value;
}

void TIOParamsVals::SetUseEmbeddedThumbnail(bool Value) { UseEmbeddedThumbnail = JPEGUseEmbeddedThumbnail = Value; }

void TIOParamsVals::SetTIFFOrientation(int32_t Value) { TIFFOrientation = EXIFOrientation = Value; }

void TIOParamsVals::SetEXIFOrientation(int32_t Value) { TIFFOrientation = EXIFOrientation = Value; }

// ---- EXIF setters

void TIOParamsVals::MarkEXIFTag(int32_t Tag)
{
    if (!IsEXIFTagMarked(Tag)) EXIFTags->Add(Tag);
}

bool TIOParamsVals::IsEXIFTagMarked(int32_t Tag) const
{
    for (int32_t i = 0; i < EXIFTags->Count; ++i)
        if ((*EXIFTags)[i] == Tag) return true;
    return false;
}

#define EXIF_SETTER(Name, Type, Tag)                \
    void TIOParamsVals::Set##Name(Type Value)       \
    {                                               \
        Name = Value;                               \
        MarkEXIFTag(Tag);                           \
    }

EXIF_SETTER(EXIFExposureTime, double, 33434)
EXIF_SETTER(EXIFFNumber, double, 33437)
EXIF_SETTER(EXIFExposureProgram, int32_t, 34850)
EXIF_SETTER(EXIFCompressedBitsPerPixel, double, 37122)
EXIF_SETTER(EXIFShutterSpeedValue, double, 37377)
EXIF_SETTER(EXIFApertureValue, double, 37378)
EXIF_SETTER(EXIFBrightnessValue, double, 37379)
EXIF_SETTER(EXIFExposureBiasValue, double, 37380)
EXIF_SETTER(EXIFMaxApertureValue, double, 37381)
EXIF_SETTER(EXIFSubjectDistance, double, 37382)
EXIF_SETTER(EXIFMeteringMode, int32_t, 37383)
EXIF_SETTER(EXIFLightSource, int32_t, 37384)
EXIF_SETTER(EXIFFlash, int32_t, 37385)
EXIF_SETTER(EXIFFocalLength, double, 37386)
EXIF_SETTER(EXIFColorSpace, int32_t, 40961)
EXIF_SETTER(EXIFPixelXDimension, int32_t, 40962)
EXIF_SETTER(EXIFPixelYDimension, int32_t, 40963)
EXIF_SETTER(EXIFFocalPlaneXResolution, double, 41486)
EXIF_SETTER(EXIFFocalPlaneYResolution, double, 41487)
EXIF_SETTER(EXIFFocalPlaneResolutionUnit, int32_t, 41488)
EXIF_SETTER(EXIFExposureIndex, double, 41493)
EXIF_SETTER(EXIFSensingMethod, int32_t, 41495)
EXIF_SETTER(EXIFFileSource, int32_t, 41728)
EXIF_SETTER(EXIFSceneType, int32_t, 41729)

#undef EXIF_SETTER

#define EXIF_INDEXED(Name, Type)                                 \
    void TIOParamsVals::Set##Name(int Index, Type Value)         \
    {                                                            \
        CheckedElement(Name, Index, L## #Name) = Value;          \
    }                                                            \
    Type TIOParamsVals::Get##Name(int Index) const               \
    {                                                            \
        return CheckedElement(Name, Index, L## #Name);           \
    }

EXIF_INDEXED(EXIFISOSpeedRatings, int32_t)
EXIF_INDEXED(EXIFWhitePoint, double)
EXIF_INDEXED(EXIFPrimaryChromaticities, double)
EXIF_INDEXED(EXIFYCbCrCoefficients, double)
EXIF_INDEXED(EXIFReferenceBlackWhite, double)

#undef EXIF_INDEXED

// ---- objects created on first use

TPxICC* TIOParamsVals::GetInputICCProfile()
{
    const auto& kind = IOParamsObjectServices().ICC;
    if (!InputICCProfile && kind.Installed()) InputICCProfile.reset(kind.Create(this));
    return InputICCProfile.get();
}

TPxICC* TIOParamsVals::GetOutputICCProfile()
{
    const auto& kind = IOParamsObjectServices().ICC;
    if (!OutputICCProfile && kind.Installed()) OutputICCProfile.reset(kind.Create(this));
    return OutputICCProfile.get();
}

TPxICC* TIOParamsVals::GetDefaultICCProfile()
{
    const TIOParamsObjectServices& services = IOParamsObjectServices();
    if (!DefaultICCProfile && services.ICC.Installed()) {
        DefaultICCProfile.reset(services.ICC.Create(this));
        if (services.LoadSRGB) services.LoadSRGB(DefaultICCProfile.get());
    }
    return DefaultICCProfile.get();
}

TPxImagingAnnot* TIOParamsVals::GetImagingAnnot()
{
    const auto& kind = IOParamsObjectServices().ImagingAnnot;
    if (!ImagingAnnot && kind.Installed()) ImagingAnnot.reset(kind.Create(this));
    return ImagingAnnot.get();
}

// ---------------------------------------------------------------------------

std::wstring PxParamsFormatDescription(const TIOParamsVals& Params)
{
    std::wstring text;
    if (const TPxFileFormatInfo* row = PxFormatInfoById(Params.FileFormat)) text = row->DisplayName;
    if (const TPxFormatDescription* format = PxFormatDescription(Params.FileFormat))
        if (format->ParamsDetail)
            text += format->ParamsDetail(Params);
    return text;
}

// ---------------------------------------------------------------------------

TPxTWainParams::TPxTWainParams(classlib::TObject* AOwner) : Owner(AOwner)
{
    Stream = std::make_unique<classlib::TMemoryStream>();
    for (auto& list : DoubleLists) list = std::make_unique<TPxDoubleList>();
    for (auto& list : IntegerLists) list = std::make_unique<TPxIntegerList>();
    Reset();
}

TPxTWainParams::~TPxTWainParams()
{
    // Release the scanner session of the owner's window first.
    PxTW_Teardown(*this);
    Reset();
}

void TPxTWainParams::Reset()
{
    Records.clear();
    Stream->Clear();
    for (auto& list : DoubleLists) list->Clear();
    for (auto& list : IntegerLists) list->Clear();
    Gamma = 2.2;
    const bool multi = Owner != nullptr && Owner->ClassName() == L"TImgMIO";
    AcquireMultiple = multi;
    FeederEnabled = multi;
    AutoFeed = multi;
    ShowSettingsOnly = false;
    VisibleDialog = true;
    ProgressIndicator = true;
    SourceName.clear();
    LogFileName.clear();
}

}  // namespace imaging
