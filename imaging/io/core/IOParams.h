// The parameters of one image file (TIOParamsVals): what the last read found
// (size, resolution, pixel layout, per-format details, metadata) and what the
// next write uses (compression, quality, per-format options). Every reader
// fills them, every writer reads them; a TImgIO owns one set and hands it to
// the format filters, and the application reads and writes the fields
// directly. Also the scanner settings holder TPxTWainParams and the text
// that describes a parameter set's format (PxParamsFormatDescription).
//
// Text types: "std::string" fields hold 8-bit text as found in the files;
// "std::wstring" fields hold UTF-16 text.
//
// The LZW routine fields take the start-up unit's global hooks
// (PxGlobalTIFFLZWDecompress ..., IOStartup.h) when created or reset; a set
// routine in the parameters takes precedence over the global one.
//
// Metadata objects whose classes live in other units (JPEG marker list, IPTC
// list, maker-note handler, image annotations, colour profiles) are held
// through forward declarations and owned through std::unique_ptr with
// TIOParamsObjectDeleter. Their units install the operations the parameters
// need (create, destroy, clear, assign ...) into IOParamsObjectServices() at
// start-up; until a kind is installed the parameters hold no object of that
// kind (nullptr) and every operation on it is skipped. ResetToDefaults creates
// the list-like objects (markers, IPTC, maker note) whose kind has been
// installed in the meantime.
//
// ResetToDefaults, ClearInfo, ResetEXIF, Assign and AssignCompressionOptions
// all work from one table of fields (IOParams.cpp), so the groups they touch
// cannot drift apart.
//
// Ownership: the parameters own every list, the marker list, the IPTC list,
// the DICOM tags, the maker-note handler, the EXIF tag list, the EXIF
// thumbnail, the colour map, the annotations and the three profiles; the
// owner TImgIO is only referenced.
//
// Threads: no lock; one thread at a time (the I/O object serialises its
// operations).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "classlib/Persistent.h"
#include "classlib/StringList.h"
#include "classlib/Streams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxDicomTags.h"
#include "imaging/model/PxLists.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TImgIO;
class TIOParamsVals;

// Classes of other units, owned by the parameters (see the header comment).
class TPxMarkerList;    // JPEG APPn and COM markers
class TPxIPTCInfoList;  // IPTC datasets
class TPxTagsHandler;   // EXIF maker note
class TPxImagingAnnot;  // image annotations
class TPxICC;           // colour profile

// ---------------------------------------------------------------------------
// Resolution given to images whose file has none. The view unit's start-up
// sets both; they start at 300 so that they hold before any view exists.
extern int32_t PxDefaultDpiX;
extern int32_t PxDefaultDpiY;

// ---------------------------------------------------------------------------
// Operations on the objects of other units, installed by those units.

// One kind of owned object. Create returns a new empty object (Params is the
// parameter set that will own it; the annotations take it as parent);
// Destroy frees one; Clear empties one; Assign makes Dest a copy of Source.
template <class T>
struct TIOParamsObjectKind {
    T* (*Create)(TIOParamsVals* Params) = nullptr;
    void (*Destroy)(T* Object) = nullptr;
    void (*Clear)(T* Object) = nullptr;
    void (*Assign)(T* Dest, const T* Source) = nullptr;
    bool Installed() const { return Create != nullptr && Destroy != nullptr; }
};

// Fills a kind with the plain operations of a complete class T that has a
// default constructor, Clear() and Assign(const T*). Used by T's unit, where
// T is complete; a unit whose class needs other operations fills the
// fields itself.
template <class T>
TIOParamsObjectKind<T> PxPlainObjectKind()
{
    TIOParamsObjectKind<T> kind;
    kind.Create = [](TIOParamsVals*) -> T* { return new T(); };
    kind.Destroy = [](T* Object) { delete Object; };
    kind.Clear = [](T* Object) { Object->Clear(); };
    kind.Assign = [](T* Dest, const T* Source) { Dest->Assign(Source); };
    return kind;
}

struct TIOParamsObjectServices {
    TIOParamsObjectKind<TPxMarkerList> MarkerList;
    // Deletes the first marker of type APP1 (0xE1) whose data begin with the
    // text "Exif"; other APP1 markers stay.
    void (*DeleteEXIFMarker)(TPxMarkerList* Markers) = nullptr;
    TIOParamsObjectKind<TPxIPTCInfoList> IPTCInfo;
    TIOParamsObjectKind<TPxTagsHandler> MakerNote;
    TIOParamsObjectKind<TPxImagingAnnot> ImagingAnnot;
    TIOParamsObjectKind<TPxICC> ICC;
    // Loads the system sRGB profile into Profile.
    void (*LoadSRGB)(TPxICC* Profile) = nullptr;
};

// The process-wide table (safe to use from static initialisation). A unit
// installs its kind at its start-up, before parameters are used on several
// threads; e.g. IOParamsObjectServices().IPTCInfo =
// PxPlainObjectKind<TPxIPTCInfoList>(). Kinds are never removed.
TIOParamsObjectServices& IOParamsObjectServices();

// Frees an owned object through the Destroy operation of its kind.
struct TIOParamsObjectDeleter {
    void operator()(TPxMarkerList* Object) const;
    void operator()(TPxIPTCInfoList* Object) const;
    void operator()(TPxTagsHandler* Object) const;
    void operator()(TPxImagingAnnot* Object) const;
    void operator()(TPxICC* Object) const;
};

template <class T>
using TIOParamsObjectPtr = std::unique_ptr<T, TIOParamsObjectDeleter>;

// ---------------------------------------------------------------------------

// Width and height of one icon image to write.
struct TPxICOSize {
    int32_t Width = 0;
    int32_t Height = 0;
    friend bool operator==(const TPxICOSize&, const TPxICOSize&) = default;
};

constexpr int PxICOMaxImages = 16;

class TIOParamsVals : public classlib::TObject {
public:
    // Owner: the I/O object that owns these parameters, or nullptr. Creates
    // the owned lists, then ResetToDefaults.
    explicit TIOParamsVals(TImgIO* Owner);
    ~TIOParamsVals() override;
    TIOParamsVals(const TIOParamsVals&) = delete;
    TIOParamsVals& operator=(const TIOParamsVals&) = delete;
    std::wstring ClassName() const override { return L"TIOParamsVals"; }

    // Every default of every group. With an owner: Width and Height take the
    // size of the owner's system bitmap when it has one, and the resolution
    // becomes PxDefaultDpiX/PxDefaultDpiY (reaching the owner's view);
    // without an owner those four stay as they are.
    void ResetToDefaults();
    // Called by every load before a read: forgets the metadata and texts the
    // previous file carried (IPTC, annotations, markers, EXIF, comments,
    // PNG texts, DICOM tags, TIFF and TGA texts, XMP, input profile). Sizes,
    // resolution, encoding options and the other profiles stay.
    void ClearInfo();
    // Empties the EXIF group (tags, HasEXIF, thumbnail, every EXIF and GPS
    // field, maker note) and deletes the first "Exif" APP1 marker.
    void ResetEXIF();
    // Copies every group of Source (nothing for nullptr or this set). Not
    // copied: OwnerIO, ImagingAnnotTag, MediaFrameCount, MediaFrameDelay.
    // The EXIF thumbnail follows the source: a copy of the source's, or none
    // when the source has none.
    void Assign(const TIOParamsVals* Source);
    // Copies only the encoding options (nothing for nullptr or this set).
    void AssignCompressionOptions(const TIOParamsVals* Source);
    // Frees ColorMap; ColorMapCount 0.
    void FreeColorMap();
    // Replaces ColorMap by a new zeroed buffer of Count entries (none for
    // Count <= 0) and sets ColorMapCount.
    void AllocColorMap(int32_t Count);

    // Resolution: the integer, the matching EXIF resolution as a double, and
    // the owner's view when the owner is attached to one.
    void SetDpiX(int32_t Value);
    void SetDpiY(int32_t Value);
    // SetDpiX/SetDpiY with the value rounded (halves to even), then the
    // unrounded value in EXIFXResolution/EXIFYResolution.
    void SetEXIFXResolution(double Value);
    void SetEXIFYResolution(double Value);

    // Fields that always hold one value together.
    // ImageIndex, TIFFImageIndex, DCXImageIndex, GIFImageIndex,
    // ICOImageIndex, CURImageIndex.
    void SetImageIndex(int32_t Value);
    // ImageCount, TIFFImageCount, GIFImageCount, AVIFrameCount,
    // MediaFrameCount.
    void SetImageCount(int32_t Value);
    // ApplyOrientation, TIFFApplyOrientation, JPEGApplyOrientation.
    void SetApplyOrientation(bool Value);
    // UseEmbeddedThumbnail, JPEGUseEmbeddedThumbnail.
    void SetUseEmbeddedThumbnail(bool Value);
    // TIFFOrientation and EXIFOrientation.
    void SetTIFFOrientation(int32_t Value);
    void SetEXIFOrientation(int32_t Value);
    void SetRAWUseEmbeddedPreview(bool Value) { RAWUseEmbeddedPreview = Value; }

    // EXIF value setters: store the value and mark the tag in EXIFTags
    // (once), so that the TIFF writer writes it even when it is 0.
    void MarkEXIFTag(int32_t Tag);
    bool IsEXIFTagMarked(int32_t Tag) const;
    void SetEXIFExposureTime(double Value);               // 33434
    void SetEXIFFNumber(double Value);                    // 33437
    void SetEXIFExposureProgram(int32_t Value);           // 34850
    void SetEXIFCompressedBitsPerPixel(double Value);     // 37122
    void SetEXIFShutterSpeedValue(double Value);          // 37377
    void SetEXIFApertureValue(double Value);              // 37378
    void SetEXIFBrightnessValue(double Value);            // 37379
    void SetEXIFExposureBiasValue(double Value);          // 37380
    void SetEXIFMaxApertureValue(double Value);           // 37381
    void SetEXIFSubjectDistance(double Value);            // 37382
    void SetEXIFMeteringMode(int32_t Value);              // 37383
    void SetEXIFLightSource(int32_t Value);               // 37384
    void SetEXIFFlash(int32_t Value);                     // 37385
    void SetEXIFFocalLength(double Value);                // 37386
    void SetEXIFColorSpace(int32_t Value);                // 40961
    void SetEXIFPixelXDimension(int32_t Value);           // 40962
    void SetEXIFPixelYDimension(int32_t Value);           // 40963
    void SetEXIFFocalPlaneXResolution(double Value);      // 41486
    void SetEXIFFocalPlaneYResolution(double Value);      // 41487
    void SetEXIFFocalPlaneResolutionUnit(int32_t Value);  // 41488
    void SetEXIFExposureIndex(double Value);              // 41493
    void SetEXIFSensingMethod(int32_t Value);             // 41495
    void SetEXIFFileSource(int32_t Value);                // 41728
    void SetEXIFSceneType(int32_t Value);                 // 41729

    // Element Index of the EXIF arrays (no tag marking). An index outside
    // the array raises classlib::EListError.
    void SetEXIFISOSpeedRatings(int Index, int32_t Value);  // 0 .. 1
    int32_t GetEXIFISOSpeedRatings(int Index) const;
    void SetEXIFWhitePoint(int Index, double Value);  // 0 .. 1
    double GetEXIFWhitePoint(int Index) const;
    void SetEXIFPrimaryChromaticities(int Index, double Value);  // 0 .. 5
    double GetEXIFPrimaryChromaticities(int Index) const;
    void SetEXIFYCbCrCoefficients(int Index, double Value);  // 0 .. 2
    double GetEXIFYCbCrCoefficients(int Index) const;
    void SetEXIFReferenceBlackWhite(int Index, double Value);  // 0 .. 5
    double GetEXIFReferenceBlackWhite(int Index) const;

    // Objects created on first use and owned by the parameters; nullptr when
    // their unit has not installed its operations. The default profile is
    // loaded with the system sRGB profile.
    TPxICC* GetInputICCProfile();
    TPxICC* GetOutputICCProfile();
    TPxICC* GetDefaultICCProfile();
    TPxImagingAnnot* GetImagingAnnot();

    // ---- General group
    TImgIO* OwnerIO = nullptr;
    int32_t BitsPerSample = 8;
    std::wstring FileName;
    int32_t ImagingAnnotTag = 0;  // not reset
    int32_t SamplesPerPixel = 3;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t DpiX = 0;
    int32_t DpiY = 0;
    int32_t FileFormat = 0;  // registry file type
    int32_t ImageIndex = 0;
    int32_t ImageCount = 0;
    bool UseEmbeddedThumbnail = false;
    bool ApplyOrientation = false;
    int32_t OriginalWidth = 0;
    int32_t OriginalHeight = 0;
    // The resolution may be edited in the parameters dialog; nothing in the
    // toolkit sets it.
    bool DpiEditable = false;

    // ---- TIFF group
    uint8_t TIFFCompression = 0;
    int32_t TIFFImageIndex = 0;
    int32_t TIFFSubIndex = -1;
    uint8_t TIFFPhotometric = 2;
    int32_t TIFFPlanarConfig = 1;
    int32_t TIFFXPos = 0;
    int32_t TIFFYPos = 0;
    int32_t TIFFGetTile = -1;
    std::string TIFFDocumentName;
    std::string TIFFImageDescription;
    std::string TIFFPageName;
    int32_t TIFFPageNumber = -1;
    int32_t TIFFPageCount = -1;
    int32_t TIFFOrientation = 1;
    TPxTIFFLZWDecompressProc TIFFLZWDecompress = nullptr;
    TPxTIFFLZWCompressProc TIFFLZWCompress = nullptr;
    bool TIFFApplyOrientation = false;
    int32_t TIFFJPEGQuality = 80;
    uint8_t TIFFJPEGColorSpace = 2;
    int32_t TIFFZIPCompression = 1;
    int32_t TIFFImageCount = 0;
    int32_t TIFFFillOrder = 1;
    bool TIFFLittleEndian = true;

    // ---- DCX
    int32_t DCXImageIndex = 0;

    // ---- GIF group
    std::string GIFVersion = "GIF89a";
    int32_t GIFImageIndex = 0;
    int32_t GIFXPos = 0;
    int32_t GIFYPos = 0;
    int32_t GIFDelayTime = 0;
    bool GIFTransparent = false;
    TPxRGB GIFTransparentColor{0, 0, 0};
    bool GIFInterlaced = false;
    int32_t GIFWinWidth = 0;
    int32_t GIFWinHeight = 0;
    TPxRGB GIFBackground{0, 0, 0};
    int32_t GIFRatio = 0;
    std::unique_ptr<classlib::TStringList> GIFComments;
    uint8_t GIFAction = 2;
    TPxGIFLZWDecompressProc GIFLZWDecompress = nullptr;
    TPxGIFLZWCompressProc GIFLZWCompress = nullptr;
    int32_t GIFImageCount = 0;

    // ---- JPEG group
    uint8_t JPEGColorSpace = 2;
    int32_t JPEGQuality = 80;
    uint8_t JPEGDCTMethod = 0;
    uint8_t JPEGChromaSubsampling = 1;
    bool JPEGOptimalHuffman = false;
    int32_t JPEGSmoothing = 0;
    bool JPEGProgressive = false;
    uint8_t JPEGScale = 1;
    TIOParamsObjectPtr<TPxMarkerList> JPEGMarkers;
    int32_t JPEGScaleDenominator = 1;
    int32_t JPEGWarningCount = 0;
    int32_t JPEGWarningCode = 0;
    bool JPEGApplyOrientation = false;
    bool JPEGUseEmbeddedThumbnail = false;

    // ---- JPEG 2000 group
    uint8_t J2000ColorSpace = 1;
    double J2000Rate = 1.0;
    uint8_t J2000ProgressionOrder = 0;

    // ---- PCX group
    int32_t PCXVersion = 5;
    uint8_t PCXCompression = 1;

    // ---- BMP group
    uint8_t BMPVersion = 1;
    uint8_t BMPCompression = 0;
    bool BMPWriteAlpha = false;

    // ---- ICO and CUR groups
    int32_t ICOImageIndex = 0;
    TPxRGB ICOBackground{255, 255, 255};
    int32_t CURImageIndex = 0;
    int32_t CURXHotSpot = 0;
    int32_t CURYHotSpot = 0;
    TPxRGB CURBackground{255, 255, 255};

    // ---- PNG group
    bool PNGInterlaced = false;
    TPxRGB PNGBackground{0, 0, 0};
    uint8_t PNGFilter = 0;
    int32_t PNGCompression = 5;
    std::unique_ptr<classlib::TStringList> PNGTextKeys;
    std::unique_ptr<classlib::TStringList> PNGTextValues;

    // ---- DICOM
    std::unique_ptr<TPxDICOMTags> DICOMTags;

    // ---- TGA group
    int32_t TGAXPos = 0;
    int32_t TGAYPos = 0;
    bool TGACompressed = true;
    std::string TGADescriptor;
    std::string TGAAuthor;
    double TGADate = 0;  // date-time: days since 1899-12-30
    std::string TGAImageName;
    TPxRGB TGABackground{0, 0, 0};
    double TGAAspectRatio = 1.0;
    double TGAGamma = 2.2;
    bool TGAGrayLevel = false;

    // ---- Metadata lists
    TIOParamsObjectPtr<TPxIPTCInfoList> IPTCInfo;
    TIOParamsObjectPtr<TPxImagingAnnot> ImagingAnnot;  // nullptr until GetImagingAnnot
    std::unique_ptr<classlib::TStringList> PXMComments;

    // ---- EXIF group ("none" values are those ResetEXIF gives)
    std::unique_ptr<TPxIntegerList> EXIFTags;
    bool HasEXIF = false;
    int32_t EXIFOrientation = 0;
    std::unique_ptr<TPxBitmap> EXIFBitmap;  // the EXIF thumbnail or nullptr
    std::string EXIFImageDescription;
    std::string EXIFMake;
    std::string EXIFModel;
    double EXIFXResolution = 0;
    double EXIFYResolution = 0;
    int32_t EXIFResolutionUnit = 0;
    std::string EXIFSoftware;
    std::string EXIFArtist;
    std::string EXIFDateTime;
    std::array<double, 2> EXIFWhitePoint{-1, -1};
    std::array<double, 6> EXIFPrimaryChromaticities{-1, -1, -1, -1, -1, -1};
    std::array<double, 3> EXIFYCbCrCoefficients{-1, -1, -1};
    int32_t EXIFYCbCrPositioning = 0;
    std::array<double, 6> EXIFReferenceBlackWhite{-1, -1, -1, -1, -1, -1};
    std::string EXIFCopyright;
    double EXIFExposureTime = 0;
    double EXIFFNumber = 0;
    int32_t EXIFExposureProgram = 0;
    std::array<int32_t, 2> EXIFISOSpeedRatings{0, 0};
    std::string EXIFExifVersion;
    std::string EXIFDateTimeOriginal;
    std::string EXIFDateTimeDigitized;
    double EXIFCompressedBitsPerPixel = 0;
    double EXIFShutterSpeedValue = 0;
    double EXIFApertureValue = 0;
    double EXIFBrightnessValue = 0;
    double EXIFExposureBiasValue = 0;
    double EXIFMaxApertureValue = 0;
    double EXIFSubjectDistance = 0;
    int32_t EXIFMeteringMode = 0;
    int32_t EXIFLightSource = 0;
    int32_t EXIFFlash = 0;
    double EXIFFocalLength = 0;
    std::string EXIFSubsecTime;
    std::string EXIFSubsecTimeOriginal;
    std::string EXIFSubsecTimeDigitized;
    std::string EXIFFlashPixVersion;
    int32_t EXIFColorSpace = 0;
    int32_t EXIFPixelXDimension = 0;
    int32_t EXIFPixelYDimension = 0;
    std::string EXIFRelatedSoundFile;
    double EXIFFocalPlaneXResolution = 0;
    double EXIFFocalPlaneYResolution = 0;
    int32_t EXIFFocalPlaneResolutionUnit = 0;
    double EXIFExposureIndex = 0;
    int32_t EXIFSensingMethod = 0;
    int32_t EXIFFileSource = 0;
    int32_t EXIFSceneType = 0;
    std::wstring EXIFUserComment;
    std::string EXIFUserCommentCode;  // the eight-byte character code
    TIOParamsObjectPtr<TPxTagsHandler> EXIFMakerNote;
    int32_t EXIFRating = -1;
    std::wstring EXIFXPTitle;
    std::wstring EXIFXPComment;
    std::wstring EXIFXPAuthor;
    std::wstring EXIFXPKeywords;
    std::wstring EXIFXPSubject;
    int32_t EXIFExposureMode = -1;
    int32_t EXIFWhiteBalance = -1;
    double EXIFDigitalZoomRatio = -1;
    int32_t EXIFFocalLengthIn35mmFilm = -1;
    int32_t EXIFSceneCaptureType = -1;
    int32_t EXIFGainControl = -1;
    int32_t EXIFContrast = -1;
    int32_t EXIFSaturation = -1;
    int32_t EXIFSharpness = -1;
    int32_t EXIFSubjectDistanceRange = -1;
    std::string EXIFImageUniqueID;

    // ---- GPS fields of the EXIF group
    std::string EXIFGPSVersionID;  // the four version bytes as "2.2.0.0"
    std::string EXIFGPSLatitudeRef;
    std::array<double, 3> EXIFGPSLatitude{0, 0, 0};  // degrees, minutes, seconds
    std::string EXIFGPSLongitudeRef;
    std::array<double, 3> EXIFGPSLongitude{0, 0, 0};
    std::string EXIFGPSAltitudeRef;  // decimal digits of the byte
    double EXIFGPSAltitude = 0;
    std::array<double, 3> EXIFGPSTimeStamp{0, 0, 0};  // hour, minute, second
    std::string EXIFGPSSatellites;
    std::string EXIFGPSStatus;
    std::string EXIFGPSMeasureMode;
    double EXIFGPSDOP = 0;
    std::string EXIFGPSSpeedRef;
    double EXIFGPSSpeed = 0;
    std::string EXIFGPSTrackRef;
    double EXIFGPSTrack = 0;
    std::string EXIFGPSImgDirectionRef;
    double EXIFGPSImgDirection = 0;
    std::string EXIFGPSMapDatum;
    std::string EXIFGPSDestLatitudeRef;
    std::array<double, 3> EXIFGPSDestLatitude{0, 0, 0};
    std::string EXIFGPSDestLongitudeRef;
    std::array<double, 3> EXIFGPSDestLongitude{0, 0, 0};
    std::string EXIFGPSDestBearingRef;
    double EXIFGPSDestBearing = 0;
    std::string EXIFGPSDestDistanceRef;
    double EXIFGPSDestDistance = 0;
    std::string EXIFGPSDateStamp;

    // ---- Video groups
    int32_t AVIFrameCount = 0;
    int32_t AVIFrameDelay = 0;  // milliseconds per frame
    int32_t MediaFrameCount = 0;
    int32_t MediaFrameDelay = 0;

    // ---- Document groups (points; 595 x 842 is A4)
    int32_t PSPaperWidth = 595;
    int32_t PSPaperHeight = 842;
    uint8_t PSCompression = 1;
    std::string PSTitle = "No Title";
    int32_t PDFPaperWidth = 595;
    int32_t PDFPaperHeight = 842;
    uint8_t PDFCompression = 2;
    std::string PDFTitle;
    std::string PDFAuthor;
    std::string PDFSubject;
    std::string PDFKeywords;
    std::string PDFCreator;
    std::string PDFProducer;

    // ---- Camera raw group
    bool RAWHalfSize = false;
    double RAWGamma = 0.6;
    double RAWBright = 1.0;
    double RAWRedScale = 1.0;
    double RAWBlueScale = 1.0;
    bool RAWQuickInterpolate = true;
    bool RAWUseAutoWB = false;
    bool RAWUseCameraWB = false;
    bool RAWFourColorRGB = false;
    std::string RAWCamera;
    bool RAWUseEmbeddedPreview = false;
    bool RAWMatchPreviewColors = false;

    // ---- Raw pixel data group
    bool RawPixelsBGR = false;
    bool RawPixelsPlanar = false;
    int32_t RawPixelsRowAlign = 8;  // bits
    int32_t RawPixelsHeaderSize = 0;
    uint8_t RawPixelsDataFormat = 0;

    // ---- PSD group
    bool PSDLoadLayers = false;
    bool PSDReplaceLayers = true;

    // ---- HD Photo group
    double HDPImageQuality = 0.9;
    bool HDPLossless = false;

    // ---- Remaining fields
    std::string XMPInfo;
    bool NativePixelFormat = false;
    std::unique_ptr<TPxRGB[]> ColorMap;  // ColorMapCount entries or nullptr
    int32_t ColorMapCount = 0;
    // Icons to write: the entries before the first whose width is 0 or less.
    std::array<TPxICOSize, PxICOMaxImages> ICOSizes{};
    std::array<int32_t, PxICOMaxImages> ICOBitCounts{};
    TIOParamsObjectPtr<TPxICC> InputICCProfile;
    TIOParamsObjectPtr<TPxICC> DefaultICCProfile;
    TIOParamsObjectPtr<TPxICC> OutputICCProfile;

private:
    void CreateMissingLists();
    void PushDpiToView(bool Horizontal, int32_t Value);
};

// The description of the parameters' format: the registry name of
// FileFormat (empty when no row has that number) followed by a detail
// (TIFF compression, interlacing, JPEG colour space, BMP version ...).
std::wstring PxParamsFormatDescription(const TIOParamsVals& Params);

// ---------------------------------------------------------------------------
// Scanner settings of an I/O object or multi-image I/O object. No
// acquisition in this system reads them; they are kept so that the owners
// can carry them.
class TPxTWainParams : public classlib::TObject {
public:
    // Owner: the owning component (a TImgIO or a multi-image I/O object).
    explicit TPxTWainParams(classlib::TObject* Owner);
    // Releases the scanner source manager and proxy window, then Reset.
    ~TPxTWainParams() override;
    TPxTWainParams(const TPxTWainParams&) = delete;
    TPxTWainParams& operator=(const TPxTWainParams&) = delete;
    std::wstring ClassName() const override { return L"TPxTWainParams"; }

    // Frees the records, empties every list and the stream, gamma 2.2 and
    // the default flags (the three multi-image flags are true exactly when
    // the owner is a multi-image I/O object).
    void Reset();

    classlib::TObject* Owner = nullptr;
    // Records owned by these settings (freed by Reset).
    std::vector<std::vector<uint8_t>> Records;
    std::unique_ptr<classlib::TMemoryStream> Stream;
    // Capability values.
    std::array<std::unique_ptr<TPxDoubleList>, 8> DoubleLists;
    std::array<std::unique_ptr<TPxIntegerList>, 4> IntegerLists;
    double Gamma = 2.2;
    bool AcquireMultiple = false;
    bool FeederEnabled = false;
    bool AutoFeed = false;
    bool ShowSettingsOnly = false;
    bool VisibleDialog = true;
    bool ProgressIndicator = true;
    std::wstring SourceName;
    std::wstring LogFileName;
    // Session state released at destruction: the hidden window that parents
    // the scanner source and the loaded source-manager library.
    HWND ProxyWindow = nullptr;
    HMODULE SourceManager = nullptr;
};

}  // namespace imaging
