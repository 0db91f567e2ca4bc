// File parameters: the defaults of every group, what ResetToDefaults,
// ClearInfo, Assign and AssignCompressionOptions touch (one table of
// expectations written from the documented defaults), the setters that move
// several fields together, the EXIF tag marking and the indexed accessors,
// the resolution reaching the owner's view, and the format description.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOStartup.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/core/ImgIOView.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxCopy.h"

using namespace imaging;

namespace {

using P = TIOParamsVals;

// ---- stand-ins for the metadata objects of other units

// Every fake kind creates one of these; the parameters only see the
// forward-declared class pointer.
struct FakeObject {
    int Items = 0;
    TIOParamsVals* Parent = nullptr;
    bool SRGB = false;
};
int gLiveFakes = 0;
int gExifMarkerDeletes = 0;

template <class T>
FakeObject* Fake(T* object)
{
    return reinterpret_cast<FakeObject*>(object);
}
template <class T>
const FakeObject* Fake(const T* object)
{
    return reinterpret_cast<const FakeObject*>(object);
}
template <class T>
int Items(const T* object)
{
    return object ? Fake(object)->Items : -1;
}

template <class T>
TIOParamsObjectKind<T> FakeKind()
{
    TIOParamsObjectKind<T> kind;
    kind.Create = [](TIOParamsVals* params) -> T* {
        ++gLiveFakes;
        auto* o = new FakeObject;
        o->Parent = params;
        return reinterpret_cast<T*>(o);
    };
    kind.Destroy = [](T* o) {
        --gLiveFakes;
        delete Fake(o);
    };
    kind.Clear = [](T* o) { Fake(o)->Items = 0; };
    kind.Assign = [](T* d, const T* s) { Fake(d)->Items = Fake(s)->Items; };
    return kind;
}

// Installs fake kinds for the test's duration and puts the table back after.
class IOParamsTest : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = IOParamsObjectServices();
        TIOParamsObjectServices& s = IOParamsObjectServices();
        s.MarkerList = FakeKind<TPxMarkerList>();
        s.DeleteEXIFMarker = [](TPxMarkerList*) { ++gExifMarkerDeletes; };
        s.IPTCInfo = FakeKind<TPxIPTCInfoList>();
        s.MakerNote = FakeKind<TPxTagsHandler>();
        s.ImagingAnnot = FakeKind<TPxImagingAnnot>();
        s.ICC = FakeKind<TPxICC>();
        s.LoadSRGB = [](TPxICC* p) { Fake(p)->SRGB = true; };
        gLiveFakes = 0;
        gExifMarkerDeletes = 0;
    }
    void TearDown() override
    {
        // Every parameter set of the test is gone: nothing may be left over.
        EXPECT_EQ(gLiveFakes, 0);
        IOParamsObjectServices() = saved_;
    }

private:
    TIOParamsObjectServices saved_;
};

// ---- value comparison and assignment for the table

bool Same(int32_t v, int x) { return v == x; }
bool Same(uint8_t v, int x) { return v == x; }
bool Same(bool v, bool x) { return v == x; }
bool Same(double v, double x) { return v == x; }
bool Same(const std::string& v, const char* x) { return v == x; }
bool Same(const std::wstring& v, const wchar_t* x) { return v == x; }
bool Same(const TPxRGB& v, const TPxRGB& x) { return v == x; }
template <class T, std::size_t N, class X>
bool Same(const std::array<T, N>& v, X x)
{
    for (const T& e : v)
        if (e != static_cast<T>(x)) return false;
    return true;
}
template <class F>
bool Same(F* v, F* x)
{
    return v == x;
}

template <class T, class X>
void Put(T& v, X x)
{
    v = x;
}
template <class T, std::size_t N, class X>
void Put(std::array<T, N>& v, X x)
{
    v.fill(static_cast<T>(x));
}

// Expected behaviour of a field:
//   A - Assign copies it;  K - AssignCompressionOptions copies it;
//   C - ClearInfo puts it back to its default;
//   U - ResetToDefaults (without owner) leaves it as it is.
enum : unsigned { A = 1, K = 2, C = 4, U = 8 };

struct Row {
    const char* Name;
    unsigned Flags;
    std::function<bool(const P&)> IsDefault;
    std::function<void(P&)> SetOther;
    std::function<bool(const P&)> IsOther;
};

#define ROW(field, flags, def, other)                                                          \
    Row                                                                                        \
    {                                                                                          \
        #field, flags, [](const P& p) { return Same(p.field, def); }, [](P& p) { Put(p.field, other); }, \
            [](const P& p) { return Same(p.field, other); }                                    \
    }
#define CUSTOM(name, flags, isDefault, setOther, isOther)                                       \
    Row                                                                                        \
    {                                                                                          \
        name, flags, [](const P& p) { return isDefault; }, [](P& p) { setOther; },              \
            [](const P& p) { return isOther; }                                                 \
    }

constexpr TPxRGB kBlack{0, 0, 0};
constexpr TPxRGB kWhite{255, 255, 255};
constexpr TPxRGB kOther{10, 20, 30};

uint8_t* FakeTIFFDecode(const uint8_t*, int64_t, int32_t, void*&, int32_t) { return nullptr; }
void FakeTIFFEncode(const uint8_t*, int32_t, classlib::TStream*, void*&) {}
void FakeGIFDecode(classlib::TStream*, int32_t, int32_t, bool, uint8_t*) {}
void FakeGIFEncode(classlib::TStream*, int32_t, int32_t, bool, const uint8_t*, int32_t) {}

double Today() { return static_cast<double>(classlib::Trunc(classlib::Now())); }

bool HasOneLine(const classlib::TStringList& list, const wchar_t* text)
{
    return list.GetCount() == 1 && list.GetStrings(0) == text;
}

// The documented default of every field, a value different from it, and
// which group operations touch the field.
const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows = {
        // General
        ROW(BitsPerSample, A | K, 8, 16),
        ROW(FileName, A, L"", L"x.tif"),
        ROW(SamplesPerPixel, A | K, 3, 1),
        ROW(Width, A | U, 0, 640),
        ROW(Height, A | U, 0, 480),
        ROW(DpiX, A | U, 0, 150),
        ROW(DpiY, A | U, 0, 75),
        ROW(FileFormat, A, 0, 3),
        ROW(ImageIndex, A, 0, 3),
        ROW(TIFFImageIndex, A, 0, 3),
        ROW(DCXImageIndex, A, 0, 3),
        ROW(GIFImageIndex, A, 0, 3),
        ROW(ICOImageIndex, A, 0, 3),
        ROW(CURImageIndex, A, 0, 3),
        ROW(ImageCount, A, 0, 5),
        ROW(TIFFImageCount, A, 0, 5),
        ROW(GIFImageCount, A, 0, 5),
        ROW(AVIFrameCount, A, 0, 5),
        ROW(AVIFrameDelay, A, 0, 40),
        ROW(MediaFrameCount, U, 0, 5),
        ROW(MediaFrameDelay, U, 0, 40),
        ROW(ImagingAnnotTag, U, 0, 32932),
        ROW(UseEmbeddedThumbnail, A, false, true),
        ROW(JPEGUseEmbeddedThumbnail, A, false, true),
        ROW(ApplyOrientation, A, false, true),
        ROW(TIFFApplyOrientation, A | K, false, true),
        ROW(JPEGApplyOrientation, A, false, true),
        ROW(OriginalWidth, A, 0, 1000),
        ROW(OriginalHeight, A, 0, 800),
        ROW(DpiEditable, A, false, true),
        // TIFF
        ROW(TIFFCompression, A | K, 0, 5),
        ROW(TIFFSubIndex, A, -1, 2),
        ROW(TIFFPhotometric, A | K, 2, 5),
        ROW(TIFFPlanarConfig, A | K, 1, 2),
        ROW(TIFFXPos, A, 0, 7),
        ROW(TIFFYPos, A, 0, 8),
        ROW(TIFFGetTile, A, -1, 0),
        ROW(TIFFDocumentName, A | C, "", "doc"),
        ROW(TIFFImageDescription, A | C, "", "desc"),
        ROW(TIFFPageName, A | C, "", "page"),
        ROW(TIFFPageNumber, A, -1, 1),
        ROW(TIFFPageCount, A, -1, 4),
        ROW(TIFFOrientation, A | K, 1, 6),
        // Copied and reset together with TIFFOrientation, forgotten with EXIF.
        ROW(EXIFOrientation, A | K | C, 0, 6),
        ROW(TIFFLZWDecompress, A | K, PxGlobalTIFFLZWDecompress, &FakeTIFFDecode),
        ROW(TIFFLZWCompress, A | K, PxGlobalTIFFLZWCompress, &FakeTIFFEncode),
        ROW(TIFFJPEGQuality, A | K, 80, 60),
        ROW(TIFFJPEGColorSpace, A | K, 2, 1),
        ROW(TIFFZIPCompression, A | K, 1, 2),
        ROW(TIFFFillOrder, A | K, 1, 2),
        ROW(TIFFLittleEndian, A, true, false),
        // GIF
        ROW(GIFVersion, A, "GIF89a", "GIF87a"),
        ROW(GIFXPos, A, 0, 4),
        ROW(GIFYPos, A, 0, 5),
        ROW(GIFDelayTime, A, 0, 10),
        ROW(GIFTransparent, A, false, true),
        ROW(GIFTransparentColor, A, kBlack, kOther),
        ROW(GIFInterlaced, A | K, false, true),
        ROW(GIFWinWidth, A, 0, 320),
        ROW(GIFWinHeight, A, 0, 200),
        ROW(GIFBackground, A, kBlack, kOther),
        ROW(GIFRatio, A, 0, 49),
        CUSTOM("GIFComments", A | C, p.GIFComments->GetCount() == 0, p.GIFComments->Add(L"c"),
               HasOneLine(*p.GIFComments, L"c")),
        ROW(GIFAction, A, 2, 1),
        ROW(GIFLZWDecompress, A | K, PxGlobalGIFLZWDecompress, &FakeGIFDecode),
        ROW(GIFLZWCompress, A | K, PxGlobalGIFLZWCompress, &FakeGIFEncode),
        // JPEG
        ROW(JPEGColorSpace, A | K, 2, 3),
        ROW(JPEGQuality, A | K, 80, 95),
        ROW(JPEGDCTMethod, A | K, 0, 1),
        ROW(JPEGChromaSubsampling, A | K, 1, 2),
        ROW(JPEGOptimalHuffman, A | K, false, true),
        ROW(JPEGSmoothing, A | K, 0, 10),
        ROW(JPEGProgressive, A | K, false, true),
        ROW(JPEGScale, A, 1, 2),
        CUSTOM("JPEGMarkers", A | C, Items(p.JPEGMarkers.get()) == 0, Fake(p.JPEGMarkers.get())->Items = 2,
               Items(p.JPEGMarkers.get()) == 2),
        ROW(JPEGScaleDenominator, A, 1, 2),
        ROW(JPEGWarningCount, A, 0, 3),
        ROW(JPEGWarningCode, A, 0, 7),
        // JPEG 2000, PCX, BMP
        ROW(J2000ColorSpace, A | K, 1, 2),
        ROW(J2000Rate, A | K, 1.0, 0.5),
        ROW(J2000ProgressionOrder, A | K, 0, 1),
        ROW(PCXVersion, A | K, 5, 3),
        ROW(PCXCompression, A | K, 1, 0),
        ROW(BMPVersion, A | K, 1, 3),
        ROW(BMPCompression, A | K, 0, 1),
        ROW(BMPWriteAlpha, A | K, false, true),
        // ICO and CUR
        ROW(ICOBackground, A, kWhite, kOther),
        ROW(CURXHotSpot, A, 0, 3),
        ROW(CURYHotSpot, A, 0, 4),
        ROW(CURBackground, A, kWhite, kOther),
        CUSTOM("ICOSizes", A,
               p.ICOSizes[0] == (TPxICOSize{64, 64}) && p.ICOSizes[1] == TPxICOSize{} &&
                   p.ICOSizes[15] == TPxICOSize{},
               p.ICOSizes.fill(TPxICOSize{32, 16}), p.ICOSizes[0] == (TPxICOSize{32, 16}) &&
                                                        p.ICOSizes[15] == (TPxICOSize{32, 16})),
        CUSTOM("ICOBitCounts", A, p.ICOBitCounts[0] == 8 && p.ICOBitCounts[1] == 0 && p.ICOBitCounts[15] == 0,
               p.ICOBitCounts.fill(24), p.ICOBitCounts[0] == 24 && p.ICOBitCounts[15] == 24),
        // PNG
        ROW(PNGInterlaced, A | K, false, true),
        ROW(PNGBackground, A, kBlack, kOther),
        ROW(PNGFilter, A | K, 0, 2),
        ROW(PNGCompression, A | K, 5, 9),
        CUSTOM("PNGTextKeys", A | C, p.PNGTextKeys->GetCount() == 0, p.PNGTextKeys->Add(L"k"),
               HasOneLine(*p.PNGTextKeys, L"k")),
        CUSTOM("PNGTextValues", A | C, p.PNGTextValues->GetCount() == 0, p.PNGTextValues->Add(L"v"),
               HasOneLine(*p.PNGTextValues, L"v")),
        // DICOM
        CUSTOM("DICOMTags", A | C, p.DICOMTags->GetCount() == 0,
               p.DICOMTags->AddTag(0x10, 0x10, 0, nullptr, "PN"),
               p.DICOMTags->GetCount() == 1 && p.DICOMTags->GetTag(0)->Group == 0x10),
        // TGA
        ROW(TGAXPos, A, 0, 2),
        ROW(TGAYPos, A, 0, 3),
        ROW(TGACompressed, A | K, true, false),
        ROW(TGADescriptor, A | C, "", "id"),
        ROW(TGAAuthor, A | C, "", "me"),
        CUSTOM("TGADate", A, p.TGADate == Today(), p.TGADate = 12345.5, p.TGADate == 12345.5),
        ROW(TGAImageName, A | C, "", "job"),
        ROW(TGABackground, A, kBlack, kOther),
        ROW(TGAAspectRatio, A, 1.0, 2.0),
        ROW(TGAGamma, A, 2.2, 1.0),
        ROW(TGAGrayLevel, A | K, false, true),
        // Metadata lists
        CUSTOM("IPTCInfo", A | C, Items(p.IPTCInfo.get()) == 0, Fake(p.IPTCInfo.get())->Items = 3,
               Items(p.IPTCInfo.get()) == 3),
        CUSTOM("ImagingAnnot", A | C, !p.ImagingAnnot, Fake(p.GetImagingAnnot())->Items = 4,
               Items(p.ImagingAnnot.get()) == 4),
        CUSTOM("PXMComments", A | C, p.PXMComments->GetCount() == 0, p.PXMComments->Add(L"pxm"),
               HasOneLine(*p.PXMComments, L"pxm")),
        // EXIF
        CUSTOM("EXIFTags", A | C, p.EXIFTags->Count == 0, p.EXIFTags->Add(37385),
               p.EXIFTags->Count == 1 && (*p.EXIFTags)[0] == 37385),
        ROW(HasEXIF, A | C, false, true),
        CUSTOM("EXIFBitmap", A | C, !p.EXIFBitmap,
               (p.EXIFBitmap = std::make_unique<TPxBitmap>(), p.EXIFBitmap->Allocate(3, 2, px24RGB)),
               p.EXIFBitmap && p.EXIFBitmap->GetWidth() == 3 && p.EXIFBitmap->GetHeight() == 2),
        ROW(EXIFImageDescription, A | C, "", "d"),
        ROW(EXIFMake, A | C, "", "make"),
        ROW(EXIFModel, A | C, "", "model"),
        ROW(EXIFXResolution, A | C, 0.0, 150.5),
        ROW(EXIFYResolution, A | C, 0.0, 75.5),
        ROW(EXIFResolutionUnit, A | C, 0, 2),
        ROW(EXIFSoftware, A | C, "", "sw"),
        ROW(EXIFArtist, A | C, "", "artist"),
        ROW(EXIFDateTime, A | C, "", "2020:01:01 00:00:00"),
        ROW(EXIFWhitePoint, A | C, -1, 0.3),
        ROW(EXIFPrimaryChromaticities, A | C, -1, 0.6),
        ROW(EXIFYCbCrCoefficients, A | C, -1, 0.299),
        ROW(EXIFYCbCrPositioning, A | C, 0, 1),
        ROW(EXIFReferenceBlackWhite, A | C, -1, 255),
        ROW(EXIFCopyright, A | C, "", "(c)"),
        ROW(EXIFExposureTime, A | C, 0.0, 0.01),
        ROW(EXIFFNumber, A | C, 0.0, 2.8),
        ROW(EXIFExposureProgram, A | C, 0, 2),
        ROW(EXIFISOSpeedRatings, A | C, 0, 100),
        ROW(EXIFExifVersion, A | C, "", "0220"),
        ROW(EXIFDateTimeOriginal, A | C, "", "o"),
        ROW(EXIFDateTimeDigitized, A | C, "", "g"),
        ROW(EXIFCompressedBitsPerPixel, A | C, 0.0, 4.0),
        ROW(EXIFShutterSpeedValue, A | C, 0.0, 6.0),
        ROW(EXIFApertureValue, A | C, 0.0, 3.0),
        ROW(EXIFBrightnessValue, A | C, 0.0, 1.5),
        ROW(EXIFExposureBiasValue, A | C, 0.0, -0.5),
        ROW(EXIFMaxApertureValue, A | C, 0.0, 2.5),
        ROW(EXIFSubjectDistance, A | C, 0.0, 3.5),
        ROW(EXIFMeteringMode, A | C, 0, 5),
        ROW(EXIFLightSource, A | C, 0, 1),
        ROW(EXIFFlash, A | C, 0, 16),
        ROW(EXIFFocalLength, A | C, 0.0, 35.0),
        ROW(EXIFSubsecTime, A | C, "", "1"),
        ROW(EXIFSubsecTimeOriginal, A | C, "", "2"),
        ROW(EXIFSubsecTimeDigitized, A | C, "", "3"),
        ROW(EXIFFlashPixVersion, A | C, "", "0100"),
        ROW(EXIFColorSpace, A | C, 0, 1),
        ROW(EXIFPixelXDimension, A | C, 0, 640),
        ROW(EXIFPixelYDimension, A | C, 0, 480),
        ROW(EXIFRelatedSoundFile, A | C, "", "s.wav"),
        ROW(EXIFFocalPlaneXResolution, A | C, 0.0, 1000.0),
        ROW(EXIFFocalPlaneYResolution, A | C, 0.0, 1001.0),
        ROW(EXIFFocalPlaneResolutionUnit, A | C, 0, 2),
        ROW(EXIFExposureIndex, A | C, 0.0, 1.0),
        ROW(EXIFSensingMethod, A | C, 0, 2),
        ROW(EXIFFileSource, A | C, 0, 3),
        ROW(EXIFSceneType, A | C, 0, 1),
        ROW(EXIFUserComment, A | C, L"", L"comment"),
        ROW(EXIFUserCommentCode, A | C, "", "UNICODE"),
        CUSTOM("EXIFMakerNote", A | C, Items(p.EXIFMakerNote.get()) == 0, Fake(p.EXIFMakerNote.get())->Items = 5,
               Items(p.EXIFMakerNote.get()) == 5),
        ROW(EXIFRating, A | C, -1, 3),
        ROW(EXIFXPTitle, A | C, L"", L"t"),
        ROW(EXIFXPComment, A | C, L"", L"c"),
        ROW(EXIFXPAuthor, A | C, L"", L"a"),
        ROW(EXIFXPKeywords, A | C, L"", L"k"),
        ROW(EXIFXPSubject, A | C, L"", L"s"),
        ROW(EXIFExposureMode, A | C, -1, 0),
        ROW(EXIFWhiteBalance, A | C, -1, 1),
        ROW(EXIFDigitalZoomRatio, A | C, -1.0, 2.0),
        ROW(EXIFFocalLengthIn35mmFilm, A | C, -1, 50),
        ROW(EXIFSceneCaptureType, A | C, -1, 0),
        ROW(EXIFGainControl, A | C, -1, 0),
        ROW(EXIFContrast, A | C, -1, 0),
        ROW(EXIFSaturation, A | C, -1, 0),
        ROW(EXIFSharpness, A | C, -1, 0),
        ROW(EXIFSubjectDistanceRange, A | C, -1, 0),
        ROW(EXIFImageUniqueID, A | C, "", "uid"),
        // GPS
        ROW(EXIFGPSVersionID, A | C, "", "2.2.0.0"),
        ROW(EXIFGPSLatitudeRef, A | C, "", "N"),
        ROW(EXIFGPSLatitude, A | C, 0, 12.5),
        ROW(EXIFGPSLongitudeRef, A | C, "", "E"),
        ROW(EXIFGPSLongitude, A | C, 0, 7.5),
        ROW(EXIFGPSAltitudeRef, A | C, "", "0"),
        ROW(EXIFGPSAltitude, A | C, 0.0, 100.0),
        ROW(EXIFGPSTimeStamp, A | C, 0, 12),
        ROW(EXIFGPSSatellites, A | C, "", "5"),
        ROW(EXIFGPSStatus, A | C, "", "A"),
        ROW(EXIFGPSMeasureMode, A | C, "", "3"),
        ROW(EXIFGPSDOP, A | C, 0.0, 1.5),
        ROW(EXIFGPSSpeedRef, A | C, "", "K"),
        ROW(EXIFGPSSpeed, A | C, 0.0, 30.0),
        ROW(EXIFGPSTrackRef, A | C, "", "T"),
        ROW(EXIFGPSTrack, A | C, 0.0, 90.0),
        ROW(EXIFGPSImgDirectionRef, A | C, "", "M"),
        ROW(EXIFGPSImgDirection, A | C, 0.0, 45.0),
        ROW(EXIFGPSMapDatum, A | C, "", "WGS-84"),
        ROW(EXIFGPSDestLatitudeRef, A | C, "", "S"),
        ROW(EXIFGPSDestLatitude, A | C, 0, 1.5),
        ROW(EXIFGPSDestLongitudeRef, A | C, "", "W"),
        ROW(EXIFGPSDestLongitude, A | C, 0, 2.5),
        ROW(EXIFGPSDestBearingRef, A | C, "", "T"),
        ROW(EXIFGPSDestBearing, A | C, 0.0, 10.0),
        ROW(EXIFGPSDestDistanceRef, A | C, "", "K"),
        ROW(EXIFGPSDestDistance, A | C, 0.0, 5.0),
        ROW(EXIFGPSDateStamp, A | C, "", "2020:01:01"),
        // Documents
        ROW(PSPaperWidth, A, 595, 612),
        ROW(PSPaperHeight, A, 842, 792),
        ROW(PSCompression, A, 1, 0),
        ROW(PSTitle, A, "No Title", "t"),
        ROW(PDFPaperWidth, A, 595, 612),
        ROW(PDFPaperHeight, A, 842, 792),
        ROW(PDFCompression, A, 2, 1),
        ROW(PDFTitle, A, "", "t"),
        ROW(PDFAuthor, A, "", "a"),
        ROW(PDFSubject, A, "", "s"),
        ROW(PDFKeywords, A, "", "k"),
        ROW(PDFCreator, A, "", "c"),
        ROW(PDFProducer, A, "", "p"),
        // Camera raw, raw pixels, PSD, HD Photo
        ROW(RAWHalfSize, A, false, true),
        ROW(RAWGamma, A, 0.6, 0.45),
        ROW(RAWBright, A, 1.0, 2.0),
        ROW(RAWRedScale, A, 1.0, 1.5),
        ROW(RAWBlueScale, A, 1.0, 1.25),
        ROW(RAWQuickInterpolate, A, true, false),
        ROW(RAWUseAutoWB, A, false, true),
        ROW(RAWUseCameraWB, A, false, true),
        ROW(RAWFourColorRGB, A, false, true),
        ROW(RAWCamera, A, "", "Cam X"),
        ROW(RAWUseEmbeddedPreview, A, false, true),
        ROW(RAWMatchPreviewColors, A, false, true),
        ROW(RawPixelsBGR, A, false, true),
        ROW(RawPixelsPlanar, A, false, true),
        ROW(RawPixelsRowAlign, A, 8, 32),
        ROW(RawPixelsHeaderSize, A, 0, 16),
        ROW(RawPixelsDataFormat, A, 0, 1),
        ROW(PSDLoadLayers, A, false, true),
        ROW(PSDReplaceLayers, A, true, false),
        ROW(HDPImageQuality, A, 0.9, 0.5),
        ROW(HDPLossless, A, false, true),
        // Remaining
        ROW(XMPInfo, A | C, "", "<x/>"),
        ROW(NativePixelFormat, A, false, true),
        CUSTOM("ColorMap", A, !p.ColorMap && p.ColorMapCount == 0,
               (p.AllocColorMap(2), p.ColorMap[1] = kOther),
               p.ColorMapCount == 2 && p.ColorMap && p.ColorMap[0] == kBlack && p.ColorMap[1] == kOther),
        CUSTOM("InputICCProfile", A | C, !p.InputICCProfile, Fake(p.GetInputICCProfile())->Items = 6,
               Items(p.InputICCProfile.get()) == 6),
        CUSTOM("DefaultICCProfile", A, !p.DefaultICCProfile, Fake(p.GetDefaultICCProfile())->Items = 7,
               Items(p.DefaultICCProfile.get()) == 7),
        CUSTOM("OutputICCProfile", A, !p.OutputICCProfile, Fake(p.GetOutputICCProfile())->Items = 8,
               Items(p.OutputICCProfile.get()) == 8),
    };
    return rows;
}

#undef ROW
#undef CUSTOM

void SetAllOther(P& p)
{
    for (const Row& r : Rows()) r.SetOther(p);
}

// After an assignment from parameters that hold every other value: the rows
// of group Flag are copied into Dest, all the others keep their defaults.
void ExpectOnlyGroupCopied(const P& Dest, unsigned Flag)
{
    for (const Row& r : Rows()) {
        if (r.Flags & Flag)
            EXPECT_TRUE(r.IsOther(Dest)) << r.Name << " must be copied";
        else
            EXPECT_TRUE(r.IsDefault(Dest)) << r.Name << " must not be copied";
    }
}

TEST_F(IOParamsTest, NewParametersHoldEveryDefault)
{
    P p(nullptr);
    for (const Row& r : Rows()) EXPECT_TRUE(r.IsDefault(p)) << r.Name;
    EXPECT_EQ(p.OwnerIO, nullptr);
}

TEST_F(IOParamsTest, ResetToDefaultsRestoresEveryGroup)
{
    P p(nullptr);
    SetAllOther(p);
    for (const Row& r : Rows()) ASSERT_TRUE(r.IsOther(p)) << r.Name;
    p.ResetToDefaults();
    for (const Row& r : Rows()) {
        if (r.Flags & U)
            EXPECT_TRUE(r.IsOther(p)) << r.Name << " must be left as it was";
        else
            EXPECT_TRUE(r.IsDefault(p)) << r.Name;
    }
}

TEST_F(IOParamsTest, ClearInfoForgetsOnlyWhatAFileCarried)
{
    P p(nullptr);
    SetAllOther(p);
    p.ClearInfo();
    for (const Row& r : Rows()) {
        if (r.Flags & C)
            EXPECT_TRUE(r.IsDefault(p)) << r.Name << " must be forgotten";
        else
            EXPECT_TRUE(r.IsOther(p)) << r.Name << " must stay";
    }
}

TEST_F(IOParamsTest, AssignCopiesEveryGroupButTheOwnerBoundFields)
{
    P source(nullptr);
    SetAllOther(source);
    P dest(nullptr);
    dest.Assign(&source);
    ExpectOnlyGroupCopied(dest, A);
    // Copies, not shared objects.
    EXPECT_NE(dest.EXIFBitmap.get(), source.EXIFBitmap.get());
    EXPECT_NE(dest.ColorMap.get(), source.ColorMap.get());
    EXPECT_EQ(Fake(dest.ImagingAnnot.get())->Parent, &dest);
}

TEST_F(IOParamsTest, AssignCompressionOptionsCopiesOnlyTheEncodingOptions)
{
    P source(nullptr);
    SetAllOther(source);
    P dest(nullptr);
    dest.AssignCompressionOptions(&source);
    ExpectOnlyGroupCopied(dest, K);
}

TEST_F(IOParamsTest, AssignFromASourceWithoutEXIFDropsTheOldThumbnailAndObjects)
{
    P dest(nullptr);
    dest.HasEXIF = true;
    dest.EXIFTags->Add(274);
    dest.EXIFBitmap = std::make_unique<TPxBitmap>();
    ASSERT_TRUE(dest.EXIFBitmap->Allocate(4, 4, px24RGB));
    dest.GetImagingAnnot();
    dest.GetOutputICCProfile();
    P source(nullptr);
    dest.Assign(&source);
    // A thumbnail of the previous image must not survive under HasEXIF false.
    EXPECT_FALSE(dest.HasEXIF);
    EXPECT_EQ(dest.EXIFTags->Count, 0);
    EXPECT_EQ(dest.EXIFBitmap, nullptr);
    EXPECT_EQ(dest.ImagingAnnot, nullptr);
    EXPECT_EQ(dest.OutputICCProfile, nullptr);
    // Assigning a set to itself or from nothing changes nothing.
    dest.JPEGQuality = 42;
    dest.Assign(&dest);
    dest.Assign(nullptr);
    EXPECT_EQ(dest.JPEGQuality, 42);
}

TEST_F(IOParamsTest, ResetEXIFRemovesTheEXIFMarkerOnceAndKeepsTheOrientationOfTIFF)
{
    P p(nullptr);
    gExifMarkerDeletes = 0;
    p.SetEXIFOrientation(6);
    p.SetEXIFFlash(1);
    p.ResetEXIF();
    EXPECT_EQ(gExifMarkerDeletes, 1);
    EXPECT_EQ(p.EXIFOrientation, 0);
    EXPECT_EQ(p.TIFFOrientation, 6);
    EXPECT_EQ(p.EXIFTags->Count, 0);
    // The default profile is loaded with sRGB on first use.
    EXPECT_TRUE(Fake(p.GetDefaultICCProfile())->SRGB);
    EXPECT_EQ(p.GetDefaultICCProfile(), p.DefaultICCProfile.get());
}

TEST_F(IOParamsTest, WithoutInstalledKindsTheObjectsStayEmptyAndOperationsStillWork)
{
    IOParamsObjectServices() = TIOParamsObjectServices{};
    P p(nullptr);
    EXPECT_EQ(p.JPEGMarkers, nullptr);
    EXPECT_EQ(p.GetImagingAnnot(), nullptr);
    EXPECT_EQ(p.GetDefaultICCProfile(), nullptr);
    P q(nullptr);
    q.Assign(&p);
    q.ClearInfo();
    q.ResetToDefaults();
    EXPECT_EQ(q.JPEGQuality, 80);
}

TEST_F(IOParamsTest, SettersMoveTheirGroupsTogether)
{
    P p(nullptr);
    p.SetImageIndex(4);
    EXPECT_EQ(p.ImageIndex + p.TIFFImageIndex + p.DCXImageIndex + p.GIFImageIndex + p.ICOImageIndex +
                  p.CURImageIndex,
              24);
    p.SetImageCount(9);
    EXPECT_EQ(p.ImageCount + p.TIFFImageCount + p.GIFImageCount + p.AVIFrameCount + p.MediaFrameCount, 45);
    p.SetApplyOrientation(true);
    EXPECT_TRUE(p.ApplyOrientation && p.TIFFApplyOrientation && p.JPEGApplyOrientation);
    p.SetUseEmbeddedThumbnail(true);
    EXPECT_TRUE(p.UseEmbeddedThumbnail && p.JPEGUseEmbeddedThumbnail);
    p.SetTIFFOrientation(3);
    EXPECT_EQ(p.EXIFOrientation, 3);
    p.SetEXIFOrientation(8);
    EXPECT_EQ(p.TIFFOrientation, 8);
    p.SetRAWUseEmbeddedPreview(true);
    EXPECT_TRUE(p.RAWUseEmbeddedPreview);
}

TEST_F(IOParamsTest, ResolutionSettersKeepTheIntegerAndTheEXIFDoubleInStep)
{
    struct Case {
        double exif;
        int32_t dpi;
    } cases[] = {{71.6, 72}, {72.5, 72}, {73.5, 74}, {299.4, 299}};
    for (const Case& c : cases) {
        P p(nullptr);
        p.SetEXIFXResolution(c.exif);
        p.SetEXIFYResolution(c.exif);
        EXPECT_EQ(p.DpiX, c.dpi) << c.exif;
        EXPECT_EQ(p.DpiY, c.dpi) << c.exif;
        EXPECT_EQ(p.EXIFXResolution, c.exif);
        EXPECT_EQ(p.EXIFYResolution, c.exif);
    }
    P p(nullptr);
    p.SetDpiX(96);
    p.SetDpiY(120);
    EXPECT_EQ(p.EXIFXResolution, 96.0);
    EXPECT_EQ(p.EXIFYResolution, 120.0);
}

TEST_F(IOParamsTest, EXIFSettersMarkTheirTagOnce)
{
    struct Case {
        int32_t tag;
        std::function<void(P&)> set;
        std::function<bool(const P&)> stored;
    };
    const std::vector<Case> cases = {
        {33434, [](P& p) { p.SetEXIFExposureTime(0.5); }, [](const P& p) { return p.EXIFExposureTime == 0.5; }},
        {33437, [](P& p) { p.SetEXIFFNumber(0.5); }, [](const P& p) { return p.EXIFFNumber == 0.5; }},
        {34850, [](P& p) { p.SetEXIFExposureProgram(2); }, [](const P& p) { return p.EXIFExposureProgram == 2; }},
        {37122, [](P& p) { p.SetEXIFCompressedBitsPerPixel(0.5); },
         [](const P& p) { return p.EXIFCompressedBitsPerPixel == 0.5; }},
        {37377, [](P& p) { p.SetEXIFShutterSpeedValue(0.5); }, [](const P& p) { return p.EXIFShutterSpeedValue == 0.5; }},
        {37378, [](P& p) { p.SetEXIFApertureValue(0.5); }, [](const P& p) { return p.EXIFApertureValue == 0.5; }},
        {37379, [](P& p) { p.SetEXIFBrightnessValue(0.5); }, [](const P& p) { return p.EXIFBrightnessValue == 0.5; }},
        {37380, [](P& p) { p.SetEXIFExposureBiasValue(0.5); }, [](const P& p) { return p.EXIFExposureBiasValue == 0.5; }},
        {37381, [](P& p) { p.SetEXIFMaxApertureValue(0.5); }, [](const P& p) { return p.EXIFMaxApertureValue == 0.5; }},
        {37382, [](P& p) { p.SetEXIFSubjectDistance(0.5); }, [](const P& p) { return p.EXIFSubjectDistance == 0.5; }},
        {37383, [](P& p) { p.SetEXIFMeteringMode(2); }, [](const P& p) { return p.EXIFMeteringMode == 2; }},
        {37384, [](P& p) { p.SetEXIFLightSource(2); }, [](const P& p) { return p.EXIFLightSource == 2; }},
        {37385, [](P& p) { p.SetEXIFFlash(2); }, [](const P& p) { return p.EXIFFlash == 2; }},
        {37386, [](P& p) { p.SetEXIFFocalLength(0.5); }, [](const P& p) { return p.EXIFFocalLength == 0.5; }},
        {40961, [](P& p) { p.SetEXIFColorSpace(2); }, [](const P& p) { return p.EXIFColorSpace == 2; }},
        {40962, [](P& p) { p.SetEXIFPixelXDimension(2); }, [](const P& p) { return p.EXIFPixelXDimension == 2; }},
        {40963, [](P& p) { p.SetEXIFPixelYDimension(2); }, [](const P& p) { return p.EXIFPixelYDimension == 2; }},
        {41486, [](P& p) { p.SetEXIFFocalPlaneXResolution(0.5); },
         [](const P& p) { return p.EXIFFocalPlaneXResolution == 0.5; }},
        {41487, [](P& p) { p.SetEXIFFocalPlaneYResolution(0.5); },
         [](const P& p) { return p.EXIFFocalPlaneYResolution == 0.5; }},
        {41488, [](P& p) { p.SetEXIFFocalPlaneResolutionUnit(2); },
         [](const P& p) { return p.EXIFFocalPlaneResolutionUnit == 2; }},
        {41493, [](P& p) { p.SetEXIFExposureIndex(0.5); }, [](const P& p) { return p.EXIFExposureIndex == 0.5; }},
        {41495, [](P& p) { p.SetEXIFSensingMethod(2); }, [](const P& p) { return p.EXIFSensingMethod == 2; }},
        {41728, [](P& p) { p.SetEXIFFileSource(2); }, [](const P& p) { return p.EXIFFileSource == 2; }},
        {41729, [](P& p) { p.SetEXIFSceneType(2); }, [](const P& p) { return p.EXIFSceneType == 2; }},
    };
    P all(nullptr);
    for (const Case& c : cases) {
        P p(nullptr);
        c.set(p);
        c.set(p);
        EXPECT_TRUE(c.stored(p)) << c.tag;
        ASSERT_EQ(p.EXIFTags->Count, 1) << c.tag;
        EXPECT_EQ((*p.EXIFTags)[0], c.tag);
        c.set(all);
    }
    // Every setter has its own tag.
    EXPECT_EQ(all.EXIFTags->Count, static_cast<int32_t>(cases.size()));
    // A value of 0 set through a setter is still marked.
    P zero(nullptr);
    zero.SetEXIFFlash(0);
    EXPECT_TRUE(zero.IsEXIFTagMarked(37385));
}

TEST_F(IOParamsTest, IndexedEXIFAccessorsCheckTheirIndex)
{
    struct Case {
        const char* name;
        int size;
        std::function<void(P&, int, double)> set;
        std::function<double(const P&, int)> get;
    };
    const std::vector<Case> cases = {
        {"ISOSpeedRatings", 2, [](P& p, int i, double v) { p.SetEXIFISOSpeedRatings(i, int32_t(v)); },
         [](const P& p, int i) { return double(p.GetEXIFISOSpeedRatings(i)); }},
        {"WhitePoint", 2, [](P& p, int i, double v) { p.SetEXIFWhitePoint(i, v); },
         [](const P& p, int i) { return p.GetEXIFWhitePoint(i); }},
        {"PrimaryChromaticities", 6, [](P& p, int i, double v) { p.SetEXIFPrimaryChromaticities(i, v); },
         [](const P& p, int i) { return p.GetEXIFPrimaryChromaticities(i); }},
        {"YCbCrCoefficients", 3, [](P& p, int i, double v) { p.SetEXIFYCbCrCoefficients(i, v); },
         [](const P& p, int i) { return p.GetEXIFYCbCrCoefficients(i); }},
        {"ReferenceBlackWhite", 6, [](P& p, int i, double v) { p.SetEXIFReferenceBlackWhite(i, v); },
         [](const P& p, int i) { return p.GetEXIFReferenceBlackWhite(i); }},
    };
    for (const Case& c : cases) {
        P p(nullptr);
        for (int i = 0; i < c.size; ++i) c.set(p, i, 10 + i);
        for (int i = 0; i < c.size; ++i) EXPECT_EQ(c.get(p, i), 10 + i) << c.name << " " << i;
        EXPECT_THROW(c.set(p, c.size, 1), classlib::EListError) << c.name;
        EXPECT_THROW(c.set(p, -1, 1), classlib::EListError) << c.name;
        EXPECT_THROW(c.get(p, c.size), classlib::EListError) << c.name;
        // No tag marking through the indexed setters.
        EXPECT_EQ(p.EXIFTags->Count, 0);
    }
}

TEST_F(IOParamsTest, ColorMapAllocationAndFree)
{
    P p(nullptr);
    p.AllocColorMap(256);
    ASSERT_NE(p.ColorMap, nullptr);
    EXPECT_EQ(p.ColorMapCount, 256);
    EXPECT_EQ(p.ColorMap[255], kBlack);
    p.AllocColorMap(-3);
    EXPECT_EQ(p.ColorMap, nullptr);
    EXPECT_EQ(p.ColorMapCount, 0);
}

// ---- the owner's view

class FakeView : public TPxIOView {
public:
    explicit FakeView(bool imageView) : imageView_(imageView) {}
    classlib::TComponent* GetViewComponent() override { return &component_; }
    TPxBitmap* GetPxBitmap() override { return &bitmap_; }
    classlib::TBitmap* GetBitmap() override { return nullptr; }
    intptr_t RegisterBitmapChangeEvent(const TPxViewBitmapChangeEvent&, classlib::TObject*) override { return 1; }
    void RemoveBitmapChangeEvent(intptr_t) override {}
    classlib::TColor GetBackground() override { return 0; }
    int GetDpiX() override { return dpiX; }
    int GetDpiY() override { return dpiY; }
    void SetDpiX(int v) override
    {
        dpiX = v;
        lockedWhileSet = lockedWhileSet && lock > 0;
    }
    void SetDpiY(int v) override
    {
        dpiY = v;
        lockedWhileSet = lockedWhileSet && lock > 0;
    }
    bool IsImageView() override { return imageView_; }
    void BeginUpdateLock() override { ++lock; }
    void EndUpdateLockNoUpdate() override { --lock; }
    bool HasParentWindow() override { return false; }
    bool HandleAllocated() override { return false; }
    HWND GetWindowHandle() override { return nullptr; }
    void Update() override { ++updates; }
    void DoImageChange() override {}

    int dpiX = 0, dpiY = 0, lock = 0, updates = 0;
    bool lockedWhileSet = true;

private:
    bool imageView_;
    classlib::TComponent component_{nullptr};
    TPxBitmap bitmap_;
};

TEST_F(IOParamsTest, ResolutionReachesTheOwnersImageViewUnderItsUpdateLock)
{
    for (bool imageView : {true, false}) {
        FakeView view(imageView);
        TImgIO io(nullptr);
        // With an owner the resolution is the global default.
        EXPECT_EQ(io.FileParams->DpiX, PxDefaultDpiX);
        EXPECT_EQ(io.FileParams->DpiY, PxDefaultDpiY);
        io.SetAttachedImg(&view);
        io.FileParams->SetDpiX(150);
        io.FileParams->SetEXIFYResolution(71.6);
        EXPECT_EQ(view.dpiX, imageView ? 150 : 0);
        EXPECT_EQ(view.dpiY, imageView ? 72 : 0);
        view.dpiX = view.dpiY = 0;
        io.FileParams->ResetToDefaults();
        EXPECT_EQ(view.dpiX, imageView ? PxDefaultDpiX : 0);
        EXPECT_EQ(view.dpiY, imageView ? PxDefaultDpiY : 0);
        EXPECT_TRUE(view.lockedWhileSet);
        EXPECT_EQ(view.lock, 0);
        EXPECT_EQ(view.updates, 0) << "the lock is released without a redraw";
        io.SetAttachedImg(nullptr);
    }
}

TEST_F(IOParamsTest, ResetTakesTheSizeOfTheOwnersSystemBitmap)
{
    classlib::TBitmap bitmap;
    bitmap.SetPixelFormat(classlib::pf24bit);
    bitmap.SetSize(40, 30);
    TImgIO io(nullptr);
    io.SetAttachedTBitmap(&bitmap);
    io.FileParams->Width = io.FileParams->Height = 0;
    io.FileParams->ResetToDefaults();
    EXPECT_EQ(io.FileParams->Width, 40);
    EXPECT_EQ(io.FileParams->Height, 30);
    // Assign does not take the owner: the copy keeps its own.
    P copy(nullptr);
    copy.Assign(io.FileParams);
    EXPECT_EQ(copy.OwnerIO, nullptr);
    EXPECT_EQ(copy.Width, 40);
}

// ---- format description

TEST_F(IOParamsTest, FormatDescriptionAppendsTheFormatsDetail)
{
    const bool built = !PxFormatRegistryExists();
    if (built) PxBuildFormatRegistry();
    struct Case {
        TPxFileFormatId format;
        std::function<void(P&)> set;
        const wchar_t* detail;
    };
    const std::vector<Case> cases = {
        {ffTIFF, [](P& p) { p.TIFFCompression = 0; }, L" (Uncompressed)"},
        {ffTIFF, [](P& p) { p.TIFFCompression = 5; }, L" (LZW-compressed)"},
        {ffTIFF, [](P& p) { p.TIFFCompression = 6; }, L" (Compression: JPEG v.5)"},
        {ffTIFF, [](P& p) { p.TIFFCompression = 10; }, L" (Deflate)"},
        {ffTIFF, [](P& p) { p.TIFFCompression = 11; }, L""},
        {ffGIF, [](P& p) { p.GIFInterlaced = true; }, L" Interlaced"},
        {ffGIF, [](P&) {}, L""},
        {ffJPEG, [](P& p) { p.JPEGColorSpace = 0; }, L""},
        {ffJPEG, [](P& p) { p.JPEGColorSpace = 1; }, L" Gray level"},
        {ffJPEG, [](P& p) { p.JPEGColorSpace = 4; }, L" YCbCrK"},
        {ffPCX, [](P& p) { p.PCXCompression = 0; }, L" Uncompressed"},
        {ffPCX, [](P&) {}, L""},
        {ffBMP, [](P& p) { p.BMPVersion = 0; }, L" ver.1"},
        {ffBMP, [](P& p) { p.BMPVersion = 3; }, L" OS/2 v.2"},
        {ffPNG, [](P& p) { p.PNGInterlaced = true; }, L" Interlaced"},
        {ffTGA, [](P&) {}, L" Compressed"},
        {ffTGA, [](P& p) { p.TGACompressed = false; }, L" Uncompressed"},
        {ffJP2, [](P& p) { p.J2000ColorSpace = 0; }, L" Gray level"},
        {ffJ2K, [](P& p) { p.J2000ColorSpace = 2; }, L" YCbCr"},
        {ffRAW, [](P& p) { p.RAWCamera = "Canon EOS"; }, L" (Canon EOS)"},
        {ffPSD, [](P&) {}, L""},
    };
    for (const Case& c : cases) {
        P p(nullptr);
        p.FileFormat = c.format;
        c.set(p);
        const TPxFileFormatInfo* row = PxFormatInfoById(c.format);
        ASSERT_NE(row, nullptr) << c.format;
        EXPECT_EQ(PxParamsFormatDescription(p), row->DisplayName + c.detail) << c.format;
    }
    P none(nullptr);
    none.FileFormat = 999;
    EXPECT_EQ(PxParamsFormatDescription(none), L"");
    if (built) PxFreeFormatRegistry();
}

// ---- scanner settings

TEST(PxTWainParams, ResetEmptiesEverythingAndFollowsTheOwnersKind)
{
    TPxTWainParams t(nullptr);
    t.Records.push_back({1, 2, 3});
    t.DoubleLists[7]->Add(1.5);
    t.IntegerLists[3]->Add(4);
    t.Stream->Write("abc", 3);
    t.Gamma = 1.0;
    t.Reset();
    EXPECT_TRUE(t.Records.empty());
    EXPECT_EQ(t.DoubleLists[7]->Count, 0);
    EXPECT_EQ(t.IntegerLists[3]->Count, 0);
    EXPECT_EQ(t.Stream->GetSize(), 0);
    EXPECT_EQ(t.Gamma, 2.2);
    EXPECT_FALSE(t.AcquireMultiple || t.FeederEnabled || t.AutoFeed);

    struct MultiOwner : classlib::TObject {
        std::wstring ClassName() const override { return L"TImgMIO"; }
    } multi;
    TPxTWainParams m(&multi);
    EXPECT_TRUE(m.AcquireMultiple && m.FeederEnabled && m.AutoFeed);
}

}  // namespace
