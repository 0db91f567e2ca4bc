#include "imaging/io/metadata/ExifBlock.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "classlib/Exceptions.h"
#include "classlib/Streams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/metadata/JpegMetadata.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/io/formats/jpeg/JpegWriter.h"
#include "imaging/io/formats/tiff/TiffReader.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxExif.h"
#include "imaging/model/PxFileText.h"
#include "imaging/model/PxIfdEditor.h"
#include "imaging/model/PxMask.h"
#include "imaging/model/PxMakerNote.h"
#include "imaging/proc/PxRotate.h"

namespace imaging {

namespace {

using P = TIOParamsVals;

// ---- the tags of the marked group: tag, TIFF type written, and the field

struct TMarkedTag {
    uint16_t Tag;
    uint16_t Type;  // 3 SHORT, 5 RATIONAL, 7 UNDEFINED, 10 SRATIONAL
    double P::*DoubleField;
    int32_t P::*IntField;
    void (P::*SetDouble)(double);
    void (P::*SetInt)(int32_t);
};

#define PX_D(tag, type, name) {tag, type, &P::EXIF##name, nullptr, &P::SetEXIF##name, nullptr}
#define PX_I(tag, type, name) {tag, type, nullptr, &P::EXIF##name, nullptr, &P::SetEXIF##name}

// Shutter speed, brightness and exposure bias are signed.
const TMarkedTag kMarkedTags[] = {
    PX_D(33434, 5, ExposureTime),
    PX_D(33437, 5, FNumber),
    PX_I(34850, 3, ExposureProgram),
    PX_D(37122, 5, CompressedBitsPerPixel),
    PX_D(37377, 10, ShutterSpeedValue),
    PX_D(37378, 5, ApertureValue),
    PX_D(37379, 10, BrightnessValue),
    PX_D(37380, 10, ExposureBiasValue),
    PX_D(37381, 5, MaxApertureValue),
    PX_D(37382, 5, SubjectDistance),
    PX_I(37383, 3, MeteringMode),
    PX_I(37384, 3, LightSource),
    PX_I(37385, 3, Flash),
    PX_D(37386, 5, FocalLength),
    PX_I(40961, 3, ColorSpace),
    PX_I(40962, 3, PixelXDimension),
    PX_I(40963, 3, PixelYDimension),
    PX_D(41486, 5, FocalPlaneXResolution),
    PX_D(41487, 5, FocalPlaneYResolution),
    PX_I(41488, 3, FocalPlaneResolutionUnit),
    PX_D(41493, 5, ExposureIndex),
    PX_I(41495, 3, SensingMethod),
    PX_I(41728, 7, FileSource),
    PX_I(41729, 7, SceneType),
};

#undef PX_D
#undef PX_I

// Integers of the EXIF IFD whose "none" value is -1 (SHORT).
struct TIntTag {
    uint16_t Tag;
    int32_t P::*Field;
};
const TIntTag kMinusOneTags[] = {
    {41986, &P::EXIFExposureMode},     {41987, &P::EXIFWhiteBalance},   {41989, &P::EXIFFocalLengthIn35mmFilm},
    {41990, &P::EXIFSceneCaptureType}, {41991, &P::EXIFGainControl},    {41992, &P::EXIFContrast},
    {41993, &P::EXIFSaturation},       {41994, &P::EXIFSharpness},      {41996, &P::EXIFSubjectDistanceRange},
};

struct TStringTag {
    uint16_t Tag;
    std::string P::*Field;
};
const TStringTag kIFD0Strings[] = {
    {270, &P::EXIFImageDescription}, {271, &P::EXIFMake},     {272, &P::EXIFModel},
    {305, &P::EXIFSoftware},         {306, &P::EXIFDateTime}, {315, &P::EXIFArtist},
    {33432, &P::EXIFCopyright},
};
const TStringTag kEXIFStrings[] = {
    {36867, &P::EXIFDateTimeOriginal}, {36868, &P::EXIFDateTimeDigitized}, {37520, &P::EXIFSubsecTime},
    {37521, &P::EXIFSubsecTimeOriginal}, {37522, &P::EXIFSubsecTimeDigitized}, {40964, &P::EXIFRelatedSoundFile},
    {42016, &P::EXIFImageUniqueID},
};
// Version texts stored as 4 UNDEFINED bytes.
const TStringTag kEXIFVersions[] = {{36864, &P::EXIFExifVersion}, {40960, &P::EXIFFlashPixVersion}};

struct TWideTag {
    uint16_t Tag;
    std::wstring P::*Field;
};
const TWideTag kXPTags[] = {
    {40091, &P::EXIFXPTitle},    {40092, &P::EXIFXPComment}, {40093, &P::EXIFXPAuthor},
    {40094, &P::EXIFXPKeywords}, {40095, &P::EXIFXPSubject},
};

template <size_t N>
struct TArrayTag {
    uint16_t Tag;
    std::array<double, N> P::*Field;
};
const TArrayTag<2> kWhitePoint{318, &P::EXIFWhitePoint};
const TArrayTag<6> kPrimaries{319, &P::EXIFPrimaryChromaticities};
const TArrayTag<3> kCoefficients{529, &P::EXIFYCbCrCoefficients};
const TArrayTag<6> kBlackWhite{532, &P::EXIFReferenceBlackWhite};

// GPS: reference texts, three-value rationals, single rationals, strings.
const TStringTag kGPSRefs[] = {
    {1, &P::EXIFGPSLatitudeRef},      {3, &P::EXIFGPSLongitudeRef},     {9, &P::EXIFGPSStatus},
    {10, &P::EXIFGPSMeasureMode},     {12, &P::EXIFGPSSpeedRef},        {14, &P::EXIFGPSTrackRef},
    {16, &P::EXIFGPSImgDirectionRef}, {19, &P::EXIFGPSDestLatitudeRef}, {21, &P::EXIFGPSDestLongitudeRef},
    {23, &P::EXIFGPSDestBearingRef},  {25, &P::EXIFGPSDestDistanceRef},
};
const TStringTag kGPSStrings[] = {{8, &P::EXIFGPSSatellites}, {18, &P::EXIFGPSMapDatum}, {29, &P::EXIFGPSDateStamp}};
// The reference tag that gives a value its meaning (0: none); a value with a
// reference text is written even when it is 0 (the equator, sea level).
struct TGPSTriple {
    uint16_t Tag;
    std::array<double, 3> P::*Field;
    uint16_t Ref;
};
const TGPSTriple kGPSTriples[] = {
    {2, &P::EXIFGPSLatitude, 1}, {4, &P::EXIFGPSLongitude, 3}, {7, &P::EXIFGPSTimeStamp, 29},
    {20, &P::EXIFGPSDestLatitude, 19}, {22, &P::EXIFGPSDestLongitude, 21},
};
struct TGPSSingle {
    uint16_t Tag;
    double P::*Field;
    uint16_t Ref;
};
const TGPSSingle kGPSSingles[] = {
    {6, &P::EXIFGPSAltitude, 5},    {11, &P::EXIFGPSDOP, 0},          {13, &P::EXIFGPSSpeed, 12},
    {15, &P::EXIFGPSTrack, 14},     {17, &P::EXIFGPSImgDirection, 16}, {24, &P::EXIFGPSDestBearing, 23},
    {26, &P::EXIFGPSDestDistance, 25},
};

// ---- reading values of the loaded block

class TReader {
public:
    explicit TReader(const TPxTIFFHandler& Handler) : H(Handler), Little(!Handler.BigEndian) {}

    static const TPxTIFFEntry* Find(const TPxTIFFPage* Page, uint16_t Tag)
    {
        if (Page == nullptr) return nullptr;
        const int k = TPxTIFFHandler::FindTagIn(*Page, Tag);
        return k < 0 ? nullptr : &Page->Entries[size_t(k)];
    }

    size_t ByteCount(const TPxTIFFEntry& E) const { return size_t(uint64_t(E.Count) * PxTIFFTypeSize(E.Type)); }

    // Value I as a number, 0 when absent.
    double Number(const TPxTIFFEntry* E, uint32_t I) const
    {
        if (E == nullptr || I >= E->Count || E->IsOffsetTag || E->SubIFD) return 0;
        const uint32_t size = PxTIFFTypeSize(E->Type);
        if (size == 0 || (uint64_t(I) + 1) * size > ByteCount(*E)) return 0;
        const uint8_t* p = H.GetEntryBytes(*E) + size_t(I) * size;
        switch (E->Type) {
        case 1: case 2: case 7: return p[0];
        case 6: return static_cast<int8_t>(p[0]);
        case 3: return PxGetU16(p, Little);
        case 8: return static_cast<int16_t>(PxGetU16(p, Little));
        case 4: return PxGetU32(p, Little);
        case 9: return static_cast<int32_t>(PxGetU32(p, Little));
        case 5: {
            const uint32_t d = PxGetU32(p + 4, Little);
            return d == 0 ? 0 : double(PxGetU32(p, Little)) / d;
        }
        case 10: {
            const auto d = static_cast<int32_t>(PxGetU32(p + 4, Little));
            return d == 0 ? 0 : double(static_cast<int32_t>(PxGetU32(p, Little))) / d;
        }
        case 11: {
            const uint32_t u = PxGetU32(p, Little);
            float f;
            std::memcpy(&f, &u, 4);
            return f;
        }
        case 12: {
            const uint64_t u = Little ? (uint64_t(PxGetU32(p + 4, true)) << 32) | PxGetU32(p, true)
                                      : (uint64_t(PxGetU32(p, false)) << 32) | PxGetU32(p + 4, false);
            double d;
            std::memcpy(&d, &u, 8);
            return d;
        }
        default: return 0;
        }
    }
    double Number(const TPxTIFFPage* Page, uint16_t Tag, uint32_t I, double Default) const
    {
        const TPxTIFFEntry* e = Find(Page, Tag);
        return e != nullptr && I < e->Count ? Number(e, I) : Default;
    }

    // The bytes of a text entry up to its first zero.
    std::string Text(const TPxTIFFPage* Page, uint16_t Tag) const
    {
        const TPxTIFFEntry* e = Find(Page, Tag);
        if (e == nullptr || e->IsOffsetTag || e->SubIFD || PxTIFFTypeSize(e->Type) != 1) return std::string();
        const auto* p = reinterpret_cast<const char*>(H.GetEntryBytes(*e));
        const size_t n = ByteCount(*e);
        return std::string(p, std::find(p, p + n, '\0'));
    }

    // UTF-16LE text in BYTE values (the XP tags), without trailing zero units.
    std::wstring WideText(const TPxTIFFPage* Page, uint16_t Tag) const
    {
        const TPxTIFFEntry* e = Find(Page, Tag);
        if (e == nullptr || e->IsOffsetTag || e->SubIFD || PxTIFFTypeSize(e->Type) != 1) return std::wstring();
        const uint8_t* p = H.GetEntryBytes(*e);
        size_t units = ByteCount(*e) / 2;
        while (units > 0 && p[2 * units - 2] == 0 && p[2 * units - 1] == 0) --units;
        std::wstring s(units, L'\0');
        for (size_t i = 0; i < units; ++i) s[i] = static_cast<wchar_t>(PxGetU16(p + 2 * i, true));
        return s;
    }

    const TPxTIFFHandler& H;
    const bool Little;
};

void ReadFields(const TPxTIFFHandler& Handler, classlib::TStream& Block, TIOParamsVals& T)
{
    TReader r(Handler);
    const TPxTIFFPage* ifd0 = Handler.GetPage(0);
    const TPxTIFFEntry* exifEntry = TReader::Find(ifd0, PxTagExifIFD);
    const TPxTIFFEntry* gpsEntry = TReader::Find(ifd0, PxTagGPSIFD);
    const TPxTIFFPage* exif = exifEntry ? exifEntry->SubIFD.get() : nullptr;
    const TPxTIFFPage* gps = gpsEntry ? gpsEntry->SubIFD.get() : nullptr;

    // IFD0
    for (const TStringTag& t : kIFD0Strings) T.*t.Field = r.Text(ifd0, t.Tag);
    if (TReader::Find(ifd0, 274)) T.SetEXIFOrientation(static_cast<int32_t>(r.Number(ifd0, 274, 0, 1)));
    T.EXIFXResolution = r.Number(ifd0, 282, 0, 0);
    T.EXIFYResolution = r.Number(ifd0, 283, 0, 0);
    T.EXIFResolutionUnit = static_cast<int32_t>(r.Number(ifd0, 296, 0, 0));
    T.EXIFRating = static_cast<int32_t>(r.Number(ifd0, 18246, 0, -1));
    for (const TWideTag& t : kXPTags) T.*t.Field = r.WideText(ifd0, t.Tag);
    auto readArray = [&](const auto& A) {
        for (size_t i = 0; i < (T.*A.Field).size(); ++i)
            (T.*A.Field)[i] = r.Number(ifd0, A.Tag, static_cast<uint32_t>(i), -1);
    };
    readArray(kWhitePoint);
    readArray(kPrimaries);
    readArray(kCoefficients);
    readArray(kBlackWhite);
    T.EXIFYCbCrPositioning = static_cast<int32_t>(r.Number(ifd0, 531, 0, 0));

    // EXIF IFD: the marked group is marked only for the tags present.
    for (const TMarkedTag& t : kMarkedTags) {
        if (TReader::Find(exif, t.Tag) == nullptr) continue;
        const double v = r.Number(exif, t.Tag, 0, 0);
        if (t.SetDouble)
            (T.*t.SetDouble)(v);
        else
            (T.*t.SetInt)(static_cast<int32_t>(v));
    }
    T.EXIFISOSpeedRatings[0] = static_cast<int32_t>(r.Number(exif, 34855, 0, 0));
    T.EXIFISOSpeedRatings[1] = static_cast<int32_t>(r.Number(exif, 34855, 1, 0));
    for (const TStringTag& t : kEXIFVersions) T.*t.Field = r.Text(exif, t.Tag);
    for (const TStringTag& t : kEXIFStrings) T.*t.Field = r.Text(exif, t.Tag);
    for (const TIntTag& t : kMinusOneTags) T.*t.Field = static_cast<int32_t>(r.Number(exif, t.Tag, 0, -1));
    T.EXIFDigitalZoomRatio = r.Number(exif, 41988, 0, -1);
    if (const TPxTIFFEntry* e = TReader::Find(exif, 37510); e != nullptr && PxTIFFTypeSize(e->Type) == 1) {
        T.EXIFUserComment = PxDecodeEXIFUserComment(Handler.GetEntryBytes(*e), r.ByteCount(*e), r.Little,
                                                    T.EXIFUserCommentCode);
    }
    if (T.EXIFMakerNote) {
        T.EXIFMakerNote->Clear();
        const TPxTIFFEntry* e = TReader::Find(exif, 37500);
        if (e != nullptr && PxTIFFTypeSize(e->Type) == 1 && r.ByteCount(*e) > 4 && e->Count <= INT32_MAX) {
            // The note's own offsets count from the block's TIFF header, so it
            // is read in place.
            Block.SetPosition(e->SourceOffset);
            T.EXIFMakerNote->ReadFromStream(&Block, static_cast<int32_t>(e->Count), r.Little);
        }
    }

    // GPS IFD
    if (const TPxTIFFEntry* v = TReader::Find(gps, 0); v != nullptr && v->Count > 0) {
        std::string text;
        for (uint32_t i = 0; i < v->Count && i < 4; ++i) {
            if (i > 0) text += '.';
            text += std::to_string(static_cast<int>(r.Number(v, i)));
        }
        T.EXIFGPSVersionID = text;
    }
    for (const TStringTag& t : kGPSRefs) T.*t.Field = r.Text(gps, t.Tag);
    for (const TStringTag& t : kGPSStrings) T.*t.Field = r.Text(gps, t.Tag);
    for (const TGPSTriple& t : kGPSTriples)
        for (uint32_t i = 0; i < 3; ++i) (T.*t.Field)[i] = r.Number(gps, t.Tag, i, 0);
    for (const TGPSSingle& t : kGPSSingles) T.*t.Field = r.Number(gps, t.Tag, 0, 0);
    if (TReader::Find(gps, 5)) T.EXIFGPSAltitudeRef = std::to_string(static_cast<int>(r.Number(gps, 5, 0, 0)));
}

// The JPEG thumbnail of IFD1 into Thumb (left empty when there is none or it
// cannot be decoded, or a side exceeds 400 pixels).
void ReadThumbnail(const TPxTIFFHandler& Handler, TPxBitmap& Thumb)
{
    const TPxTIFFPage* ifd1 = Handler.GetPage(1);
    const TPxTIFFEntry* e = TReader::Find(ifd1, 513);
    if (e == nullptr || !e->IsOffsetTag || e->Chunks.empty() || e->Chunks[0].empty()) return;
    const std::vector<uint8_t>& jpeg = e->Chunks[0];
    classlib::TMemoryStream stream;
    stream.WriteBuffer(jpeg.data(), static_cast<int64_t>(jpeg.size()));
    stream.SetPosition(0);
    TIOParamsVals params(nullptr);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    try {
        PxReadJPEG(&stream, &Thumb, {.ParamsOnly = true}, progress, params);
        if (aborting || params.Width <= 0 || params.Height <= 0 || params.Width > 400 || params.Height > 400) {
            Thumb.FreeImage(true);
            return;
        }
        stream.SetPosition(0);
        PxReadJPEG(&stream, &Thumb, {}, progress, params);
    } catch (const classlib::Exception&) {
        aborting = true;
    }
    if (aborting) Thumb.FreeImage(true);
}

// ---- writing

class TWriter {
public:
    explicit TWriter(TPxTIFFHandler& Handler) : H(Handler) {}

    void Short(TPxTIFFPage& Page, uint16_t Tag, const std::vector<int32_t>& Values)
    {
        std::vector<uint8_t> b(Values.size() * 2);
        for (size_t i = 0; i < Values.size(); ++i) PxPutU16(b.data() + 2 * i, static_cast<uint16_t>(Values[i]), true);
        H.AddTagData(Page, Tag, 3, static_cast<uint32_t>(Values.size()), b.data(), b.size());
    }
    void Rational(TPxTIFFPage& Page, uint16_t Tag, const double* Values, size_t Count, bool Signed = false)
    {
        std::vector<uint8_t> b(Count * 8);
        for (size_t i = 0; i < Count; ++i) {
            int32_t num = 0;
            int32_t den = 1;
            const double v = Signed ? Values[i] : std::max(Values[i], 0.0);
            PxFloatToRational(v, 5e-9, num, den);
            if (den < 0) {
                num = -num;
                den = -den;
            }
            PxPutU32(b.data() + 8 * i, static_cast<uint32_t>(num), true);
            PxPutU32(b.data() + 8 * i + 4, static_cast<uint32_t>(den), true);
        }
        H.AddTagData(Page, Tag, Signed ? 10 : 5, static_cast<uint32_t>(Count), b.data(), b.size());
    }
    void Bytes(TPxTIFFPage& Page, uint16_t Tag, uint16_t Type, const std::vector<uint8_t>& Data)
    {
        H.AddTagData(Page, Tag, Type, static_cast<uint32_t>(Data.size()), Data.data(), Data.size());
    }
    void Text(TPxTIFFPage& Page, uint16_t Tag, const std::string& S)
    {
        if (!S.empty()) H.AddTag(Page, Tag, S);
    }

    TPxTIFFHandler& H;
};

std::vector<uint8_t> EncodeThumbnail(TPxBitmap& Thumb)
{
    classlib::TMemoryStream stream;
    TIOParamsVals params(nullptr);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    try {
        PxWriteJPEG(&stream, &Thumb, params, progress);
    } catch (const classlib::Exception&) {
        return {};
    }
    if (aborting || stream.GetSize() <= 0) return {};
    const auto* p = static_cast<const uint8_t*>(stream.GetMemory());
    return std::vector<uint8_t>(p, p + stream.GetSize());
}

void BuildIFD0(TWriter& w, TPxTIFFPage& page, const TIOParamsVals& p)
{
    for (const TStringTag& t : kIFD0Strings) w.Text(page, t.Tag, p.*t.Field);
    if (p.TIFFOrientation > 0) w.Short(page, 274, {p.TIFFOrientation});
    bool resolution = false;
    if (p.EXIFXResolution != 0) {
        w.Rational(page, 282, &p.EXIFXResolution, 1);
        resolution = true;
    }
    if (p.EXIFYResolution != 0) {
        w.Rational(page, 283, &p.EXIFYResolution, 1);
        resolution = true;
    }
    // The resolution of the parameters is in dots per inch.
    if (resolution) w.Short(page, 296, {2});
    if (p.EXIFRating >= 0) w.Short(page, 18246, {p.EXIFRating});
    for (const TWideTag& t : kXPTags) {
        const std::wstring& s = p.*t.Field;
        if (s.empty()) continue;
        std::vector<uint8_t> b;
        for (wchar_t c : s) {
            b.push_back(static_cast<uint8_t>(c));
            b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(c) >> 8));
        }
        b.push_back(0);
        b.push_back(0);
        w.Bytes(page, t.Tag, 1, b);
    }
    auto writeArray = [&](const auto& A) {
        const auto& values = p.*A.Field;
        if (std::any_of(values.begin(), values.end(), [](double v) { return v != -1; }))
            w.Rational(page, A.Tag, values.data(), values.size());
    };
    writeArray(kWhitePoint);
    writeArray(kPrimaries);
    writeArray(kCoefficients);
    writeArray(kBlackWhite);
    if (p.EXIFYCbCrPositioning != 0) w.Short(page, 531, {p.EXIFYCbCrPositioning});
}

// The EXIF IFD; MakerNoteSize > 0 reserves room for the maker note.
void BuildEXIFIFD(TWriter& w, TPxTIFFPage& page, const TIOParamsVals& p, int32_t MakerNoteSize)
{
    for (const TMarkedTag& t : kMarkedTags) {
        if (!p.IsEXIFTagMarked(t.Tag)) continue;
        if (t.DoubleField) {
            w.Rational(page, t.Tag, &(p.*t.DoubleField), 1, t.Type == 10);
        } else if (t.Type == 7) {
            w.Bytes(page, t.Tag, 7, {static_cast<uint8_t>(p.*t.IntField)});
        } else {
            w.Short(page, t.Tag, {p.*t.IntField});
        }
    }
    if (p.EXIFISOSpeedRatings[1] != 0)
        w.Short(page, 34855, {p.EXIFISOSpeedRatings[0], p.EXIFISOSpeedRatings[1]});
    else if (p.EXIFISOSpeedRatings[0] != 0)
        w.Short(page, 34855, {p.EXIFISOSpeedRatings[0]});
    for (const TStringTag& t : kEXIFVersions) {
        const std::string& s = p.*t.Field;
        if (!s.empty()) w.Bytes(page, t.Tag, 7, std::vector<uint8_t>(s.begin(), s.end()));
    }
    for (const TStringTag& t : kEXIFStrings) w.Text(page, t.Tag, p.*t.Field);
    for (const TIntTag& t : kMinusOneTags)
        if (p.*t.Field != -1) w.Short(page, t.Tag, {p.*t.Field});
    if (p.EXIFDigitalZoomRatio != -1) w.Rational(page, 41988, &p.EXIFDigitalZoomRatio, 1);
    const std::vector<uint8_t> comment = PxEncodeEXIFUserComment(p.EXIFUserComment, p.EXIFUserCommentCode);
    if (!comment.empty()) w.Bytes(page, 37510, 7, comment);
    if (MakerNoteSize > 0) w.Bytes(page, 37500, 7, std::vector<uint8_t>(size_t(MakerNoteSize), 0));
}

void BuildGPSIFD(TWriter& w, TPxTIFFPage& page, const TIOParamsVals& p)
{
    std::vector<uint8_t> version;
    size_t start = 0;
    const std::string& v = p.EXIFGPSVersionID;
    while (start <= v.size() && version.size() < 4) {
        const size_t dot = std::min(v.find('.', start), v.size());
        version.push_back(static_cast<uint8_t>(std::atoi(v.substr(start, dot - start).c_str())));
        start = dot + 1;
    }
    while (version.size() < 4) version.push_back(0);
    w.Bytes(page, 0, 1, version);
    for (const TStringTag& t : kGPSRefs) w.Text(page, t.Tag, p.*t.Field);
    for (const TStringTag& t : kGPSStrings) w.Text(page, t.Tag, p.*t.Field);
    auto hasRef = [&](uint16_t Ref) {
        if (Ref == 0) return false;
        if (Ref == 5) return !p.EXIFGPSAltitudeRef.empty();
        if (Ref == 29) return !p.EXIFGPSDateStamp.empty();
        for (const TStringTag& t : kGPSRefs)
            if (t.Tag == Ref) return !(p.*t.Field).empty();
        return false;
    };
    for (const TGPSTriple& t : kGPSTriples) {
        const auto& values = p.*t.Field;
        if (hasRef(t.Ref) || std::any_of(values.begin(), values.end(), [](double x) { return x != 0; }))
            w.Rational(page, t.Tag, values.data(), 3);
    }
    for (const TGPSSingle& t : kGPSSingles)
        if (hasRef(t.Ref) || p.*t.Field != 0) w.Rational(page, t.Tag, &(p.*t.Field), 1);
    if (!p.EXIFGPSAltitudeRef.empty())
        w.Bytes(page, 5, 1, {static_cast<uint8_t>(std::atoi(p.EXIFGPSAltitudeRef.c_str()))});
}

TPxTIFFEntry SubIFDEntry(uint16_t Tag, std::unique_ptr<TPxTIFFPage> Page)
{
    TPxTIFFEntry e;
    e.Tag = Tag;
    e.Type = 4;
    e.Count = 1;
    e.SubIFD = std::move(Page);
    return e;
}

// One run of the TIFF reader on the structure at Start; false when it set
// the aborting flag.
bool RunTIFFReader(classlib::TStream* Stream, int64_t Start, TPxBitmap* Bitmap, TIOParamsVals& Params,
                   bool ParamsOnly, bool ThumbnailMode)
{
    Stream->SetPosition(Start);
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    TPxMask* mask = nullptr;
    int32_t pages = 0;
    TPxBitmap unused;
    if (Bitmap == nullptr) Bitmap = &unused;
    try {
        PxReadTIFF(Bitmap, Stream, pages, &Params, progress, ParamsOnly, mask, true, true, ThumbnailMode);
    } catch (...) {
        delete mask;
        Stream->SetPosition(Start);
        throw;
    }
    delete mask;
    Stream->SetPosition(Start);
    return !aborting;
}

bool AllZero(TPxBitmap& Bitmap)
{
    const int rowLength = Bitmap.GetRowLen();
    for (int y = 0; y < Bitmap.GetHeight(); ++y) {
        const uint8_t* row = Bitmap.GetScanline(y);
        if (std::any_of(row, row + rowLength, [](uint8_t b) { return b != 0; })) return false;
    }
    return true;
}

bool BuildBlockForSave(TIOParamsVals& Params, std::vector<uint8_t>& Block)
{
    PxSaveEXIFToBuffer(Params, Block, true);
    return !Block.empty();
}

}  // namespace

// ---------------------------------------------------------------------------

void PxCopyEXIF(const TIOParamsVals& S, TIOParamsVals& T)
{
    T.EXIFTags->Assign(S.EXIFTags.get());
    T.EXIFImageDescription = S.EXIFImageDescription;
    T.EXIFMake = S.EXIFMake;
    T.EXIFModel = S.EXIFModel;
    T.SetEXIFOrientation(S.EXIFOrientation);
    // A block without resolution leaves the target's resolution alone.
    if (S.EXIFXResolution != 0) T.SetEXIFXResolution(S.EXIFXResolution);
    if (S.EXIFYResolution != 0) T.SetEXIFYResolution(S.EXIFYResolution);
    T.EXIFResolutionUnit = S.EXIFResolutionUnit;
    T.EXIFSoftware = S.EXIFSoftware;
    T.EXIFRating = S.EXIFRating;
    for (const TWideTag& t : kXPTags) T.*t.Field = S.*t.Field;
    T.EXIFArtist = S.EXIFArtist;
    T.EXIFDateTime = S.EXIFDateTime;
    T.EXIFWhitePoint = S.EXIFWhitePoint;
    T.EXIFPrimaryChromaticities = S.EXIFPrimaryChromaticities;
    T.EXIFYCbCrCoefficients = S.EXIFYCbCrCoefficients;
    T.EXIFYCbCrPositioning = S.EXIFYCbCrPositioning;
    T.EXIFReferenceBlackWhite = S.EXIFReferenceBlackWhite;
    T.EXIFCopyright = S.EXIFCopyright;
    // The marked group: through the setters, only for the tags the source
    // has; the others keep their "none" value and stay unwritten.
    for (const TMarkedTag& t : kMarkedTags) {
        if (t.DoubleField) {
            T.*t.DoubleField = S.*t.DoubleField;
            if (S.IsEXIFTagMarked(t.Tag)) (T.*t.SetDouble)(S.*t.DoubleField);
        } else {
            T.*t.IntField = S.*t.IntField;
            if (S.IsEXIFTagMarked(t.Tag)) (T.*t.SetInt)(S.*t.IntField);
        }
    }
    T.EXIFISOSpeedRatings = S.EXIFISOSpeedRatings;
    T.EXIFExifVersion = S.EXIFExifVersion;
    T.EXIFDateTimeOriginal = S.EXIFDateTimeOriginal;
    T.EXIFDateTimeDigitized = S.EXIFDateTimeDigitized;
    T.EXIFSubsecTime = S.EXIFSubsecTime;
    T.EXIFSubsecTimeOriginal = S.EXIFSubsecTimeOriginal;
    T.EXIFSubsecTimeDigitized = S.EXIFSubsecTimeDigitized;
    T.EXIFFlashPixVersion = S.EXIFFlashPixVersion;
    T.EXIFRelatedSoundFile = S.EXIFRelatedSoundFile;
    T.EXIFUserComment = S.EXIFUserComment;
    T.EXIFUserCommentCode = S.EXIFUserCommentCode;
    if (!T.EXIFMakerNote && S.EXIFMakerNote && IOParamsObjectServices().MakerNote.Installed())
        T.EXIFMakerNote.reset(IOParamsObjectServices().MakerNote.Create(&T));
    if (T.EXIFMakerNote) T.EXIFMakerNote->Assign(S.EXIFMakerNote.get());
    for (const TIntTag& t : kMinusOneTags) T.*t.Field = S.*t.Field;
    T.EXIFDigitalZoomRatio = S.EXIFDigitalZoomRatio;
    T.EXIFImageUniqueID = S.EXIFImageUniqueID;

    T.EXIFGPSVersionID = S.EXIFGPSVersionID;
    for (const TStringTag& t : kGPSRefs) T.*t.Field = S.*t.Field;
    for (const TStringTag& t : kGPSStrings) T.*t.Field = S.*t.Field;
    for (const TGPSTriple& t : kGPSTriples) T.*t.Field = S.*t.Field;
    for (const TGPSSingle& t : kGPSSingles) T.*t.Field = S.*t.Field;
    T.EXIFGPSAltitudeRef = S.EXIFGPSAltitudeRef;
}

bool PxLoadEXIFFromBuffer(const uint8_t* Buffer, int32_t Length, TIOParamsVals& Params)
{
    if (!PxIsEXIFHeader(Buffer, Length) || Length < PxEXIFHeaderLength + 8) return false;
    classlib::TMemoryStream block;
    block.WriteBuffer(Buffer + PxEXIFHeaderLength, Length - PxEXIFHeaderLength);
    block.SetPosition(0);
    TPxTIFFHandler handler;
    // A link to IFD1 that leaves the block means the block was cut; a bad
    // link after IFD1 is left alone (some writers leave one there).
    if (!handler.LoadFromStream(&block) || handler.Damaged || handler.GetPageCount() == 0 ||
        (handler.ChainCut && handler.GetPageCount() < 2))
        return false;

    TIOParamsVals temp(nullptr);
    ReadFields(handler, block, temp);
    if (!Params.EXIFBitmap) Params.EXIFBitmap = std::make_unique<TPxBitmap>();
    Params.EXIFBitmap->FreeImage(true);
    PxCopyEXIF(temp, Params);
    Params.HasEXIF = true;
    ReadThumbnail(handler, *Params.EXIFBitmap);
    if (!Params.EXIFBitmap->IsEmpty()) PxApplyEXIFOrientation(Params.EXIFBitmap.get(), Params.TIFFOrientation);
    return true;
}

bool PxLoadEXIFFromStream(classlib::TStream* Stream, TIOParamsVals& Params)
{
    if (!Params.EXIFBitmap) Params.EXIFBitmap = std::make_unique<TPxBitmap>();
    Params.EXIFBitmap->FreeImage(true);
    return RunTIFFReader(Stream, Stream->GetPosition(), nullptr, Params, true, false);
}

bool PxLoadEXIFFromTIFFStream(classlib::TStream* Stream, TIOParamsVals& Params)
{
    const int64_t start = Stream->GetPosition();
    if (!Params.EXIFBitmap) Params.EXIFBitmap = std::make_unique<TPxBitmap>();
    Params.EXIFBitmap->FreeImage(true);
    TIOParamsVals temp(nullptr);
    if (!RunTIFFReader(Stream, start, nullptr, temp, true, false)) return false;
    PxCopyEXIF(temp, Params);
    Params.HasEXIF = true;
    TPxBitmap a;
    TPxBitmap b;
    temp.SetImageIndex(0);
    RunTIFFReader(Stream, start, &a, temp, false, true);
    temp.SetImageIndex(1);
    RunTIFFReader(Stream, start, &b, temp, false, true);
    const int wa = a.IsEmpty() ? 0 : a.GetWidth();
    const int wb = b.IsEmpty() ? 0 : b.GetWidth();
    if (wa > 0 && (wa < wb || wb == 0) && !AllZero(a))
        Params.EXIFBitmap->Assign(&a);
    else if (wb > 0 && (wa == 0 || wa > wb) && !AllZero(b))
        Params.EXIFBitmap->Assign(&b);
    return true;
}

void PxSaveEXIFToBuffer(TIOParamsVals& Params, std::vector<uint8_t>& Buffer, bool WithHeader)
{
    Buffer.clear();
    TPxTIFFHandler handler;  // little-endian
    TWriter w(handler);
    TPxTIFFPage* ifd0 = handler.AddPage();
    BuildIFD0(w, *ifd0, Params);

    // The maker note's offsets depend on where it lands: its size is taken
    // from a trial write, room is reserved, and it is written in place once
    // the block's layout is known.
    TPxTagsHandler* note = Params.EXIFMakerNote.get();
    int32_t noteSize = 0;
    if (note != nullptr && note->GetDataSize() >= 13) {
        classlib::TMemoryStream trial;
        noteSize = note->WriteToStream(&trial, true);
    }
    auto exif = std::make_unique<TPxTIFFPage>();
    BuildEXIFIFD(w, *exif, Params, noteSize);
    if (!exif->Entries.empty()) ifd0->Entries.push_back(SubIFDEntry(PxTagExifIFD, std::move(exif)));
    if (!Params.EXIFGPSVersionID.empty()) {
        auto gps = std::make_unique<TPxTIFFPage>();
        BuildGPSIFD(w, *gps, Params);
        ifd0->Entries.push_back(SubIFDEntry(PxTagGPSIFD, std::move(gps)));
    }
    if (Params.EXIFBitmap && !Params.EXIFBitmap->IsEmpty()) {
        std::vector<uint8_t> jpeg = EncodeThumbnail(*Params.EXIFBitmap);
        if (!jpeg.empty()) {
            TPxTIFFPage* ifd1 = handler.AddPage();
            w.Short(*ifd1, 259, {6});
            const double dpi = 72;
            w.Rational(*ifd1, 282, &dpi, 1);
            w.Rational(*ifd1, 283, &dpi, 1);
            w.Short(*ifd1, 296, {2});
            const uint32_t length = static_cast<uint32_t>(jpeg.size());
            uint8_t lengthBytes[4];
            PxPutU32(lengthBytes, length, true);
            handler.AddTagData(*ifd1, 514, 4, 1, lengthBytes, 4);
            TPxTIFFEntry offset;
            offset.Tag = 513;
            offset.Type = 4;
            offset.Count = 1;
            offset.IsOffsetTag = true;
            offset.Chunks.push_back(std::move(jpeg));
            ifd1->Entries.push_back(std::move(offset));
        }
    }

    classlib::TMemoryStream stream;
    handler.WriteStream(&stream, -1);
    if (noteSize > 0) {
        // Find where the reserved room went and write the note there.
        stream.SetPosition(0);
        TPxTIFFHandler written;
        written.LoadFromStream(&stream);
        const TPxTIFFEntry* e = TReader::Find(written.GetPage(0), PxTagExifIFD);
        const TPxTIFFEntry* n = e && e->SubIFD ? TReader::Find(e->SubIFD.get(), 37500) : nullptr;
        if (n != nullptr) {
            stream.SetPosition(n->SourceOffset);
            note->WriteToStream(&stream, true);
        }
    }
    const auto* bytes = static_cast<const uint8_t*>(stream.GetMemory());
    if (WithHeader) Buffer.assign(PxEXIFHeader, PxEXIFHeader + PxEXIFHeaderLength);
    Buffer.insert(Buffer.end(), bytes, bytes + stream.GetSize());
}

void PxInstallEXIF()
{
    TIOParamsObjectServices& services = IOParamsObjectServices();
    if (!services.MakerNote.Installed()) services.MakerNote = PxPlainObjectKind<TPxTagsHandler>();
    if (PxLoadEXIFFromBufferHook == nullptr) PxLoadEXIFFromBufferHook = &PxLoadEXIFFromBuffer;
    if (PxEXIFBlockBuilder == nullptr) PxEXIFBlockBuilder = &BuildBlockForSave;
}

}  // namespace imaging
