#include "imaging/io/formats/tiff/TiffReader.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "classlib/SysUtils.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ImgIOStreams.h"
#include "imaging/io/metadata/PxAnnotations.h"
#include "imaging/io/core/ReadGuard.h"
#include "imaging/io/formats/tiff/TiffTags.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxICC.h"
#include "imaging/model/PxIptc.h"
#include "imaging/model/PxMakerNote.h"
#include "imaging/model/PxMask.h"
#include "imaging/proc/PxRotate.h"

namespace imaging {

namespace {

// Values taken from the file go through these before integer arithmetic, so
// that a hostile resolution cannot make the rounding raise.
double Finite(double v) { return std::isfinite(v) && std::fabs(v) < 1e9 ? v : 0.0; }

int32_t RoundDpi(double v) { return int32_t(classlib::Round(Finite(v))); }

int32_t Int(const TTIFFIFDContext& c, uint16_t tag, int64_t def) { return int32_t(PxTIFFGetTagValue(c, tag, def)); }

bool Has(const TTIFFIFDContext& c, uint16_t tag) { return PxTIFFFindTag(c, tag) >= 0; }

// Bits per sample: absent 1; all values must be equal.
bool ReadBitsPerSample(const TTIFFIFDContext& c, int32_t& bits)
{
    const int i = PxTIFFFindTag(c, 258);
    if (i < 0) {
        bits = 1;
        return true;
    }
    if (c.Entries[size_t(i)].Count <= 1) {
        bits = Int(c, 258, 1);
        return true;
    }
    const std::vector<uint32_t> v = PxTIFFGetTagArray(c, 258);
    if (v.empty()) {
        bits = Int(c, 258, 1);
        return true;
    }
    for (uint32_t b : v)
        if (b != v.front())
            return false;
    bits = int32_t(v.back());
    return true;
}

// The 3 * 2^bits SHORT values of a per-sample table (a colour map, a
// transfer function); none when the bits per sample are out of range or the
// tag holds fewer values (a short table is no table: its entries would lie
// elsewhere). n receives 2^bits.
std::vector<uint32_t> ReadSampleTable(const TTIFFIFDContext& c, const TTIFFVars& v, uint16_t tag, size_t& n)
{
    n = 0;
    if (v.BitsPerSample < 1 || v.BitsPerSample > 16)
        return {};
    n = size_t(1) << v.BitsPerSample;
    std::vector<uint32_t> table = PxTIFFGetTagArray(c, tag);
    if (table.size() < 3 * n)
        return {};
    return table;
}

// 2^bits entries of three SHORT values (all reds, all greens, all blues).
void ReadColorMap(const TTIFFIFDContext& c, TTIFFVars& v)
{
    v.ColorMap.clear();
    size_t n = 0;
    const std::vector<uint32_t> map = ReadSampleTable(c, v, 320, n);
    if (map.empty())
        return;
    uint32_t largest = 0;
    for (size_t i = 0; i < 3 * n; ++i)
        largest = std::max(largest, map[i]);
    const int shift = largest < 256 ? 0 : 8;
    v.ColorMap.resize(n);
    for (size_t i = 0; i < n; ++i) {
        v.ColorMap[i].r = uint8_t(map[i] >> shift);
        v.ColorMap[i].g = uint8_t(map[n + i] >> shift);
        v.ColorMap[i].b = uint8_t(map[2 * n + i] >> shift);
    }
}

void ReadTransferFunction(const TTIFFIFDContext& c, TTIFFVars& v)
{
    v.TransferFunction.clear();
    size_t n = 0;
    const std::vector<uint32_t> f = ReadSampleTable(c, v, 301, n);
    if (f.empty())
        return;
    v.TransferFunction.resize(3 * n);
    for (size_t i = 0; i < 3 * n; ++i)
        v.TransferFunction[i] = uint16_t(f[i]);
}

void ReadSevenValues(const TTIFFIFDContext& c, uint16_t tag, int32_t* out, int32_t samples)
{
    const int n = std::min(std::max(samples, 0), 7);
    for (int i = 0; i < n; ++i)
        out[i] = int32_t(PxTIFFGetTagValueN(c, tag, uint32_t(i), 0));
}

// Tags of the page into vars. False when the bits per sample differ.
bool ReadPageTags(const TTIFFIFDContext& c, TTIFFVars& v, const TIOParamsVals& params)
{
    if (params.TIFFGetTile == -1) {
        v.ImageWidth = Int(c, 256, 0);
        v.ImageHeight = Int(c, 257, 0);
    } else {
        v.ImageWidth = Int(c, 322, 0);
        v.ImageHeight = Int(c, 323, 0);
    }
    if (!ReadBitsPerSample(c, v.BitsPerSample))
        return false;
    v.SamplesPerPixel = Int(c, 277, 1);
    const int64_t rps = PxTIFFGetTagValue(c, 278, 0);
    v.RowsPerStrip = (rps <= 0 || rps == 0xFFFFFFFF || rps > v.ImageHeight) ? v.ImageHeight : int32_t(rps);
    v.TileWidth = Int(c, 322, -1);
    v.TileLength = Int(c, 323, -1);
    v.Photometric = uint16_t(PxTIFFGetTagValue(c, 262, 2));
    v.PlanarConfig = uint16_t(PxTIFFGetTagValue(c, 284, 1));
    v.Orientation = uint16_t(PxTIFFGetTagValue(c, 274, 1));
    v.Compression = uint16_t(PxTIFFGetTagValue(c, 259, 1));
    v.Predictor = Int(c, 317, 1);
    v.ResolutionUnit = Int(c, 296, 2);
    v.XResolution = Finite(PxTIFFGetRational(c, 282));
    v.YResolution = Finite(PxTIFFGetRational(c, 283));
    v.T4Options = Int(c, 292, 0);
    v.T6Options = Int(c, 293, 0);
    v.FillOrder = Int(c, 266, 1);
    if (v.FillOrder != 1 && v.FillOrder != 2)
        v.FillOrder = 1;
    v.XPosition = Finite(PxTIFFGetRational(c, 286));
    v.YPosition = Finite(PxTIFFGetRational(c, 287));
    v.DocumentName = PxTIFFGetTagString(c, 269);
    v.ImageDescription = PxTIFFGetTagString(c, 270);
    v.PageName = PxTIFFGetTagString(c, 285);
    v.PageNumber[0] = int32_t(PxTIFFGetTagValueN(c, 297, 0, 0));
    v.PageNumber[1] = int32_t(PxTIFFGetTagValueN(c, 297, 1, 0));
    v.Software = PxTIFFGetTagString(c, 305);
    v.InkSet = Int(c, 332, 1);
    v.NumberOfInks = Int(c, 334, 4);
    v.YCbCrSubsampling[0] = int32_t(PxTIFFGetTagValueN(c, 530, 0, 2));
    v.YCbCrSubsampling[1] = int32_t(PxTIFFGetTagValueN(c, 530, 1, 2));
    for (int32_t& s : v.YCbCrSubsampling)
        if (s == 0)
            s = 2;
    v.JPEGProc = Int(c, 512, 0);
    v.JPEGIFOffset = PxTIFFGetTagValue(c, 513, 0);
    v.JPEGIFByteCount = PxTIFFGetTagValue(c, 514, 0);
    v.JPEGRestartInterval = Int(c, 515, 0);
    ReadSevenValues(c, 517, v.JPEGLosslessPredictors, v.SamplesPerPixel);
    ReadSevenValues(c, 518, v.JPEGPointTransforms, v.SamplesPerPixel);
    ReadSevenValues(c, 519, v.JPEGQTables, v.SamplesPerPixel);
    ReadSevenValues(c, 520, v.JPEGDCTables, v.SamplesPerPixel);
    ReadSevenValues(c, 521, v.JPEGACTables, v.SamplesPerPixel);
    for (int i = 0; i < 8; ++i)
        v.DotRange[i] = int32_t(PxTIFFGetTagValueN(c, 336, uint32_t(i), 0));
    const int e = PxTIFFFindTag(c, 338);
    if (e >= 0) {
        v.ExtraSampleCount = int32_t(std::min<uint32_t>(c.Entries[size_t(e)].Count, 10));
        for (int i = 0; i < v.ExtraSampleCount; ++i)
            v.ExtraSamples[i] = int32_t(PxTIFFGetTagValueN(c, 338, uint32_t(i), 0));
        v.ExtraSample = v.ExtraSamples[0];
    }
    v.SampleFormat = int32_t(PxTIFFGetTagValueN(c, 339, 0, 1));
    v.StripOffsets = PxTIFFGetTagArray(c, 273);
    v.StripByteCounts = PxTIFFGetTagArray(c, 279);
    v.TileOffsets = PxTIFFGetTagArray(c, 324);
    v.TileByteCounts = PxTIFFGetTagArray(c, 325);
    if (v.SamplesPerPixel == 1 && v.BitsPerSample == 1 && v.Compression >= 1 && v.Compression <= 4 &&
        v.Photometric == 2)
        v.Photometric = 0;
    v.JPEGTables = PxTIFFGetTagBytes(c, 347);
    ReadColorMap(c, v);
    ReadTransferFunction(c, v);
    return true;
}

std::wstring FromCodePage(const std::string& s)
{
    if (s.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, s.data(), int(s.size()), w.data(), n);
    return w;
}

void ReadMakerNote(const TTIFFIFDContext& x, TIOParamsVals& p);

void ReadUserComment(const TTIFFIFDContext& x, TIOParamsVals& p)
{
    std::vector<uint8_t> raw = PxTIFFGetTagBytes(x, 37510);
    static const char kUnicode[8] = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
    // Measured with trailing zero bytes removed, as the code and its text are.
    size_t trimmed = raw.size();
    while (trimmed > 0 && raw[trimmed - 1] == 0)
        --trimmed;
    if (trimmed < 9) {
        p.EXIFUserCommentCode.assign(kUnicode, 8);
        p.EXIFUserComment.clear();
        return;
    }
    p.EXIFUserCommentCode.assign(reinterpret_cast<const char*>(raw.data()), 8);
    if (std::memcmp(raw.data(), kUnicode, 8) == 0) {
        // Whole UTF-16 units (in the file's byte order) only: trailing zero
        // units are dropped, never the zero byte of a last ASCII character.
        std::wstring w;
        for (size_t i = 8; i + 1 < raw.size(); i += 2)
            w.push_back(x.LittleEndian ? wchar_t(raw[i] | (raw[i + 1] << 8)) : wchar_t((raw[i] << 8) | raw[i + 1]));
        while (!w.empty() && w.back() == L'\0')
            w.pop_back();
        p.EXIFUserComment = w;
    } else {
        p.EXIFUserComment = FromCodePage(std::string(reinterpret_cast<const char*>(raw.data()) + 8, trimmed - 8));
    }
}

// The EXIF IFD. Setters that mark their tag run only for tags present, so
// that a later write does not invent tags the source never had.
void ReadExifIFD(const TTIFFIFDContext& x, TIOParamsVals& p)
{
    auto r = [&](uint16_t t) { return Finite(PxTIFFGetRational(x, t)); };
    auto i = [&](uint16_t t, int64_t d) { return int32_t(PxTIFFGetTagValue(x, t, d)); };
    if (Has(x, 33434)) p.SetEXIFExposureTime(r(33434));
    if (Has(x, 33437)) p.SetEXIFFNumber(r(33437));
    if (Has(x, 34850)) p.SetEXIFExposureProgram(i(34850, 0));
    p.SetEXIFISOSpeedRatings(0, int32_t(PxTIFFGetTagValueN(x, 34855, 0, 0)));
    p.SetEXIFISOSpeedRatings(1, int32_t(PxTIFFGetTagValueN(x, 34855, 1, 0)));
    p.EXIFExifVersion = PxTIFFGetInlineString(x, 36864);
    p.EXIFDateTimeOriginal = PxTIFFGetTagString(x, 36867);
    p.EXIFDateTimeDigitized = PxTIFFGetTagString(x, 36868);
    if (Has(x, 37122)) p.SetEXIFCompressedBitsPerPixel(r(37122));
    if (Has(x, 37377)) p.SetEXIFShutterSpeedValue(r(37377));
    if (Has(x, 37378)) p.SetEXIFApertureValue(r(37378));
    if (Has(x, 37379)) p.SetEXIFBrightnessValue(r(37379));
    if (Has(x, 37380)) p.SetEXIFExposureBiasValue(r(37380));
    if (Has(x, 37381)) p.SetEXIFMaxApertureValue(r(37381));
    if (Has(x, 37382)) p.SetEXIFSubjectDistance(r(37382));
    if (Has(x, 37383)) p.SetEXIFMeteringMode(i(37383, 0));
    if (Has(x, 37384)) p.SetEXIFLightSource(i(37384, 0));
    if (Has(x, 37385)) p.SetEXIFFlash(i(37385, 0));
    if (Has(x, 37386)) p.SetEXIFFocalLength(r(37386));
    p.EXIFSubsecTime = PxTIFFGetTagString(x, 37520);
    p.EXIFSubsecTimeOriginal = PxTIFFGetTagString(x, 37521);
    p.EXIFSubsecTimeDigitized = PxTIFFGetTagString(x, 37522);
    p.EXIFFlashPixVersion = PxTIFFGetInlineString(x, 40960);
    if (Has(x, 40961)) p.SetEXIFColorSpace(i(40961, 0));
    if (Has(x, 40962)) p.SetEXIFPixelXDimension(i(40962, 0));
    if (Has(x, 40963)) p.SetEXIFPixelYDimension(i(40963, 0));
    p.EXIFRelatedSoundFile = PxTIFFGetTagString(x, 40964);
    if (Has(x, 41486)) p.SetEXIFFocalPlaneXResolution(r(41486));
    if (Has(x, 41487)) p.SetEXIFFocalPlaneYResolution(r(41487));
    if (Has(x, 41488)) p.SetEXIFFocalPlaneResolutionUnit(i(41488, 0));
    if (Has(x, 41493)) p.SetEXIFExposureIndex(r(41493));
    if (Has(x, 41495)) p.SetEXIFSensingMethod(i(41495, 0));
    if (Has(x, 41728)) p.SetEXIFFileSource(i(41728, 0));
    if (Has(x, 41729)) p.SetEXIFSceneType(i(41729, 0));
    // Fields whose "none" value is -1 keep it when the tag is absent.
    p.EXIFExposureMode = i(41986, -1);
    p.EXIFWhiteBalance = i(41987, -1);
    p.EXIFDigitalZoomRatio = Has(x, 41988) ? r(41988) : -1;
    p.EXIFFocalLengthIn35mmFilm = i(41989, -1);
    p.EXIFSceneCaptureType = i(41990, -1);
    p.EXIFGainControl = i(41991, -1);
    p.EXIFContrast = i(41992, -1);
    p.EXIFSaturation = i(41993, -1);
    p.EXIFSharpness = i(41994, -1);
    p.EXIFSubjectDistanceRange = i(41996, -1);
    p.EXIFImageUniqueID = PxTIFFGetTagString(x, 42016);
    ReadUserComment(x, p);
    ReadMakerNote(x, p);
}

// The maker note of the EXIF IFD. The handler takes offsets from stream
// position 0, so a note in a structure that starts further in is read from
// a copy of the structure.
void ReadMakerNote(const TTIFFIFDContext& x, TIOParamsVals& p)
{
    if (!p.EXIFMakerNote)
        return;
    p.EXIFMakerNote->Clear();
    const int i = PxTIFFFindTag(x, 37500);
    if (i < 0)
        return;
    const TTIFFIFDEntry& e = x.Entries[size_t(i)];
    const int64_t offset = e.Value;
    const int64_t count = e.Count;
    if (count <= 4 || count > INT32_MAX || !x.Fits(offset, count))
        return;
    if (x.Base == 0) {
        x.Stream->SetPosition(offset);
        p.EXIFMakerNote->ReadFromStream(x.Stream, int32_t(count), x.LittleEndian);
        return;
    }
    const int64_t size = x.StreamSize() - x.Base;
    if (size <= 0 || size > INT32_MAX)
        return;
    std::vector<uint8_t> block(static_cast<size_t>(size));
    if (x.ReadAt(0, block.data(), size) != size)
        return;
    std::unique_ptr<classlib::TStream> view = PxIOMemoryView(block.data(), size);
    view->SetPosition(offset);
    p.EXIFMakerNote->ReadFromStream(view.get(), int32_t(count), x.LittleEndian);
}

void ReadGpsIFD(const TTIFFIFDContext& g, TIOParamsVals& p)
{
    if (Has(g, 0)) {
        const std::vector<uint8_t> v = PxTIFFGetTagBytes(g, 0);
        std::string s;
        for (size_t k = 0; k < 4; ++k) {
            if (k)
                s += '.';
            s += std::to_string(k < v.size() ? v[k] : 0);
        }
        p.EXIFGPSVersionID = s;
    } else {
        p.EXIFGPSVersionID.clear();
    }
    auto inl = [&](uint16_t t) { return PxTIFFGetInlineString(g, t); };
    p.EXIFGPSLatitudeRef = inl(1);
    p.EXIFGPSLongitudeRef = inl(3);
    p.EXIFGPSStatus = inl(9);
    p.EXIFGPSMeasureMode = inl(10);
    p.EXIFGPSSpeedRef = inl(12);
    p.EXIFGPSTrackRef = inl(14);
    p.EXIFGPSImgDirectionRef = inl(16);
    p.EXIFGPSDestLatitudeRef = inl(19);
    p.EXIFGPSDestLongitudeRef = inl(21);
    p.EXIFGPSDestBearingRef = inl(23);
    p.EXIFGPSDestDistanceRef = inl(25);
    auto three = [&](uint16_t t, std::array<double, 3>& a) {
        for (uint32_t k = 0; k < 3; ++k)
            a[k] = Finite(PxTIFFGetRationalN(g, t, k, 0));
    };
    three(2, p.EXIFGPSLatitude);
    three(4, p.EXIFGPSLongitude);
    three(7, p.EXIFGPSTimeStamp);
    three(20, p.EXIFGPSDestLatitude);
    three(22, p.EXIFGPSDestLongitude);
    p.EXIFGPSAltitudeRef = Has(g, 5) ? std::to_string(PxTIFFGetTagValue(g, 5, 0)) : std::string();
    auto one = [&](uint16_t t) { return Finite(PxTIFFGetRational(g, t)); };
    p.EXIFGPSAltitude = one(6);
    p.EXIFGPSDOP = one(11);
    p.EXIFGPSSpeed = one(13);
    p.EXIFGPSTrack = one(15);
    p.EXIFGPSImgDirection = one(17);
    p.EXIFGPSDestBearing = one(24);
    p.EXIFGPSDestDistance = one(26);
    p.EXIFGPSSatellites = PxTIFFGetTagString(g, 8);
    p.EXIFGPSMapDatum = PxTIFFGetTagString(g, 18);
    p.EXIFGPSDateStamp = PxTIFFGetTagString(g, 29);
}

void ReadPageMetadata(const TTIFFIFDContext& c, TIOParamsVals& p)
{
    if (p.IPTCInfo) {
        const std::vector<uint8_t> iptc = PxTIFFGetTagBytes(c, 33723);
        if (iptc.empty())
            p.IPTCInfo->Clear();
        else
            p.IPTCInfo->LoadFromBuffer(iptc.data(), iptc.size());
    }
    p.XMPInfo.clear();
    const int xmp = PxTIFFFindTag(c, 700);
    if (xmp >= 0 && (c.Entries[size_t(xmp)].Type == 1 || c.Entries[size_t(xmp)].Type == 7)) {
        const std::vector<uint8_t> b = PxTIFFGetTagBytes(c, 700);
        p.XMPInfo.assign(b.begin(), b.end());
    }
    const uint16_t annotTag = Has(c, 32933) ? 32933 : (Has(c, 32932) ? 32932 : 0);
    if (annotTag) {
        p.ImagingAnnotTag = annotTag;
        const std::vector<uint8_t> b = PxTIFFGetTagBytes(c, annotTag);
        if (TPxImagingAnnot* annot = p.GetImagingAnnot()) {
            annot->Clear();  // the page's marks replace any earlier ones
            annot->LoadFromBuffer(b.data(), int64_t(b.size()));
        }
    }
    const int icc = PxTIFFFindTag(c, 34675);
    if (icc >= 0) {
        const std::vector<uint8_t> b = PxTIFFGetTagBytes(c, 34675);
        TPxICC* profile = b.empty() ? nullptr : p.GetInputICCProfile();
        if (profile)
            profile->LoadFromBuffer(b.data(), int32_t(b.size()));
    }
}

void TransferToParams(const TTIFFVars& v, const TTIFFIFDContext& c, int32_t pageCount, TIOParamsVals& p)
{
    p.BitsPerSample = v.BitsPerSample;
    p.SamplesPerPixel = v.SamplesPerPixel;
    p.Width = p.OriginalWidth = v.ImageWidth;
    p.Height = p.OriginalHeight = v.ImageHeight;
    p.TIFFLittleEndian = v.LittleEndian;
    p.SetImageCount(pageCount);
    p.SetTIFFOrientation(v.Orientation);
    switch (v.Compression) {
    case 1: p.TIFFCompression = 0; break;
    case 2: p.TIFFCompression = 1; break;
    case 3: p.TIFFCompression = (v.T4Options & 1) ? 3 : 2; break;
    case 4: p.TIFFCompression = 4; break;
    case 5: p.TIFFCompression = 5; break;
    case 6: p.TIFFCompression = 6; break;
    case 7: p.TIFFCompression = 7; break;
    case 8: p.TIFFCompression = 10; break;
    case 32773: p.TIFFCompression = 8; break;
    case 32946: p.TIFFCompression = 9; break;
    default: p.TIFFCompression = 11; break;
    }
    if (v.Photometric <= 6)
        p.TIFFPhotometric = uint8_t(v.Photometric);
    else if (v.Photometric == 8)
        p.TIFFPhotometric = 7;
    p.TIFFPlanarConfig = v.PlanarConfig;
    p.TIFFDocumentName = v.DocumentName;
    p.TIFFImageDescription = v.ImageDescription;
    p.TIFFPageName = v.PageName;
    p.TIFFPageNumber = v.PageNumber[0];
    p.TIFFPageCount = v.PageNumber[1];
    p.TIFFFillOrder = v.FillOrder;

    p.EXIFImageDescription = v.ImageDescription;
    p.EXIFMake = PxTIFFGetTagString(c, 271);
    p.EXIFModel = PxTIFFGetTagString(c, 272);
    p.EXIFDateTime = PxTIFFGetTagString(c, 306);
    p.SetEXIFOrientation(v.Orientation);
    p.SetEXIFXResolution(v.XResolution);
    p.SetEXIFYResolution(v.YResolution);
    p.EXIFResolutionUnit = v.ResolutionUnit;
    p.EXIFSoftware = v.Software;
    p.EXIFRating = int32_t(PxTIFFGetTagValue(c, 18246, -1));
    p.EXIFXPTitle = PxTIFFGetTagWideString(c, 40091);
    p.EXIFXPComment = PxTIFFGetTagWideString(c, 40092);
    p.EXIFXPAuthor = PxTIFFGetTagWideString(c, 40093);
    p.EXIFXPKeywords = PxTIFFGetTagWideString(c, 40094);
    p.EXIFXPSubject = PxTIFFGetTagWideString(c, 40095);
    p.EXIFArtist = v.Artist;
    for (int k = 0; k < 2; ++k)
        p.SetEXIFWhitePoint(k, Finite(PxTIFFGetRationalN(c, 318, uint32_t(k), -1)));
    p.EXIFYCbCrPositioning = int32_t(PxTIFFGetTagValue(c, 531, 0));
    for (int k = 0; k < 6; ++k)
        p.SetEXIFPrimaryChromaticities(k, Finite(PxTIFFGetRationalN(c, 319, uint32_t(k), -1)));
    for (int k = 0; k < 3; ++k)
        p.SetEXIFYCbCrCoefficients(k, Finite(PxTIFFGetNumberN(c, 529, uint32_t(k), -1)));
    for (int k = 0; k < 6; ++k)
        p.SetEXIFReferenceBlackWhite(k, Finite(PxTIFFGetNumberN(c, 532, uint32_t(k), -1)));
    p.EXIFCopyright = PxTIFFGetTagString(c, 33432);
}

void TransferColorMapAndResolution(const TTIFFVars& v, TIOParamsVals& p)
{
    p.FreeColorMap();
    if (!v.ColorMap.empty()) {
        p.AllocColorMap(int32_t(v.ColorMap.size()));
        for (size_t i = 0; i < v.ColorMap.size(); ++i)
            p.ColorMap[i] = v.ColorMap[i];
    }
    const double factor = v.ResolutionUnit == 3 ? 2.54 : 1.0;
    const int32_t dx = RoundDpi(v.XResolution * factor);
    const int32_t dy = RoundDpi(v.YResolution * factor);
    p.SetDpiX(dx == 0 ? PxDefaultDpiX : dx);
    p.SetDpiY(dy == 0 ? PxDefaultDpiY : dy);
    p.SetEXIFXResolution(v.XResolution * factor);
    p.SetEXIFYResolution(v.YResolution * factor);
    p.TIFFXPos = int32_t(classlib::Trunc(Finite(v.XPosition * factor)));
    p.TIFFYPos = int32_t(classlib::Trunc(Finite(v.YPosition * factor)));
}

TPxPixelFormat ChoosePixelFormat(const TTIFFVars& v, const TIOParamsVals& p)
{
    const int b = v.BitsPerSample, s = v.SamplesPerPixel, ph = v.Photometric;
    if (b == 1 && s == 1 && ph != 3)
        return px1g;
    if (!p.NativePixelFormat)
        return px24RGB;
    if (b == 8 && s == 1 && ph == 3)
        return px8p;
    if (b == 8 && s == 1 && (ph == 0 || ph == 1))
        return px8g;
    if (b == 16 && s == 1 && (ph == 0 || ph == 1))
        return px16g;
    if (b == 8 && s > 3 && ph == 5)
        return pxCMYK;
    if (b == 16 && s == 4 && ph == 5)
        return pxCMYK;
    if (b == 16 && s == 3 && ph == 2)
        return pxRGB48;
    return px24RGB;
}

bool PageHasAlpha(const TTIFFVars& v)
{
    return (v.SamplesPerPixel == 4 && v.ExtraSample == 2) || (v.SamplesPerPixel > 3 && v.ExtraSampleCount > 0) ||
           (v.SamplesPerPixel == 2 && v.BitsPerSample == 8) || (v.SamplesPerPixel == 4 && v.Photometric == 2);
}

// Sizes the decoder can place without arithmetic overflow: sides and
// samples that keep every row length and tile area inside 32 bits.
bool PlausibleLayout(const TTIFFVars& v)
{
    if (v.ImageWidth < 0 || v.ImageHeight < 0 || v.ImageWidth > 1000000 || v.ImageHeight > 1000000)
        return false;
    if (v.SamplesPerPixel < 1 || v.SamplesPerPixel > 64 || v.BitsPerSample < 1 || v.BitsPerSample > 32)
        return false;
    const bool tiled = v.TileWidth > 0 || v.TileLength > 0;
    if (tiled && (v.TileWidth <= 0 || v.TileLength <= 0 || v.TileWidth > 65536 || v.TileLength > 65536))
        return false;
    return int64_t(v.ImageWidth) * v.SamplesPerPixel * v.BitsPerSample / 8 < (int64_t(1) << 30);
}

// How the page's compression codes its samples, for the raster check.
TPxCoding PageCoding(const TTIFFVars& v)
{
    switch (v.Compression) {
    case 1: return TPxCoding::Raw;
    case 2:
    case 3:
    case 4: return TPxCoding::Fax;
    case 5: return TPxCoding::Lzw;
    case 8:
    case 32946: return TPxCoding::Deflate;
    case 32773: return TPxCoding::PackBits;
    case 6:
    case 7: return TPxCoding::Jpeg;
    default: return TPxCoding::Unbounded;
    }
}

// The bytes the page's strips or tiles hold inside the stream (a count of 0
// or a missing count stands for the rest of the stream).
int64_t PageDataBytes(const TTIFFIFDContext& Page, const TTIFFVars& v)
{
    const bool tiled = (v.TileWidth > 0 || v.TileLength > 0) && !v.TileOffsets.empty();
    const std::vector<uint32_t>& offsets = tiled ? v.TileOffsets : v.StripOffsets;
    const std::vector<uint32_t>& counts = tiled ? v.TileByteCounts : v.StripByteCounts;
    const int64_t end = Page.StreamSize() - Page.Base;
    int64_t total = 0;
    for (size_t i = 0; i < offsets.size() && total < end; ++i) {
        const int64_t offset = offsets[i];
        const int64_t left = std::max<int64_t>(0, end - offset);
        const int64_t count = i < counts.size() && counts[i] != 0 ? counts[i] : left;
        total += std::min(count, left);
    }
    if (v.JPEGIFOffset != 0) {
        const int64_t left = std::max<int64_t>(0, end - v.JPEGIFOffset);
        total += v.JPEGIFByteCount > 0 ? std::min(v.JPEGIFByteCount, left) : left;
    }
    return std::min(total, std::max<int64_t>(end, 0));
}

// Fails the page before any allocation: fax data decode to 1-bit rows only,
// and the page must fit the caps and what its strips or tiles could code.
bool CheckPage(const TTIFFIFDContext& Page, const TTIFFVars& v, TPxPixelFormat Format, TPxIOProgressInfo& Progress)
{
    if (v.Compression >= 2 && v.Compression <= 4 && (v.BitsPerSample != 1 || v.SamplesPerPixel != 1)) {
        Progress.Fail(TPxReadFailure::Unsupported);
        return false;
    }
    TPxRasterCheck check;
    check.Width = v.ImageWidth;
    check.Height = v.ImageHeight;
    check.CodedBits = int64_t(v.SamplesPerPixel) * v.BitsPerSample;
    check.StorageBits = std::max(PxPixelFormatBits[Format], PageHasAlpha(v) ? 8 : 1);  // 8: the alpha mask
    check.Coding = PageCoding(v);
    // A page without any strip or tile offsets is refused by the decoding
    // (a header fault, not a cut file).
    const bool noOffsets = v.StripOffsets.empty() && v.TileOffsets.empty() && v.JPEGIFOffset == 0;
    check.DataBytes = noOffsets ? -1 : PageDataBytes(Page, v);
    return PxCheckRaster(check, Progress);
}

// Old-style LZW, its codes packed least significant bit first: its first
// code, the clear code 256 in 9 bits, makes the bytes 00 and xxxxxxx1 (the
// codes of this decoder start with the byte 80). It is not decoded.
bool IsCompatLzw(const TTIFFIFDContext& Page, const TTIFFVars& v)
{
    if (v.Compression != 5)
        return false;
    const bool tiled = (v.TileWidth > 0 || v.TileLength > 0) && !v.TileOffsets.empty();
    const std::vector<uint32_t>& offsets = tiled ? v.TileOffsets : v.StripOffsets;
    uint8_t head[2] = {};
    return !offsets.empty() && Page.ReadAt(offsets[0], head, 2) == 2 && head[0] == 0 && (head[1] & 1) != 0;
}

// Frees the input profile's transform on every way out.
struct TProfileTransformGuard {
    TIOParamsVals* Params;
    ~TProfileTransformGuard()
    {
        if (Params && Params->InputICCProfile && Params->InputICCProfile->IsTransformReady())
            Params->InputICCProfile->FreeTransform();
    }
};

// The file header: the byte order into Page and the first directory's
// offset; false after a failure is reported.
bool ReadFileHeader(TTIFFIFDContext& Page, int64_t& FirstIFD, TPxIOProgressInfo& Progress)
{
    uint8_t header[8] = {};
    if (Page.ReadAt(0, header, 8) != 8) {
        Progress.Fail(TPxReadFailure::Truncated);
        return false;
    }
    if (header[0] == 'I' && header[1] == 'I')
        Page.LittleEndian = true;
    else if (header[0] == 'M' && header[1] == 'M')
        Page.LittleEndian = false;
    else {
        Progress.Fail(TPxReadFailure::BadHeader);
        return false;
    }
    FirstIFD = PxGetU32(header + 4, Page.LittleEndian);
    if (FirstIFD == 0) {
        Progress.Abort();
        return false;
    }
    return true;
}

// The sub-directory TIFFSubIndex of the page (tag 330) replaces it when the
// page has one; false (aborted) when it cannot be read.
bool SelectSubIFD(TTIFFIFDContext& Page, const TIOParamsVals& P, TPxIOProgressInfo& Progress)
{
    if (P.TIFFSubIndex < 0)
        return true;
    const int64_t sub = PxTIFFGetTagValueN(Page, 330, uint32_t(P.TIFFSubIndex), 0);
    if (sub == 0)
        return true;
    int32_t subCount = 0;
    if (!PxTIFFReadIFD(0, sub, Page, subCount)) {
        Progress.Abort();
        return false;
    }
    return true;
}

// The page's tags, metadata and its EXIF and GPS directories into v and P;
// false (aborted) when the page's tags are unusable.
bool ReadPageParams(TTIFFIFDContext& Page, int32_t PageCount, TTIFFVars& v, TIOParamsVals& P,
                    TPxIOProgressInfo& Progress)
{
    TTIFFIFDContext exif, gps;
    exif.Stream = gps.Stream = Page.Stream;
    exif.Base = gps.Base = Page.Base;
    exif.LittleEndian = gps.LittleEndian = Page.LittleEndian;
    const int64_t exifOffset = PxTIFFGetTagValue(Page, 34665, 0);
    if (exifOffset != 0) {
        int32_t n = 0;
        PxTIFFReadIFD(0, exifOffset, exif, n);
        P.HasEXIF = true;
    }
    const int64_t gpsOffset = PxTIFFGetTagValue(Page, 34853, 0);
    if (gpsOffset != 0) {
        int32_t n = 0;
        PxTIFFReadIFD(0, gpsOffset, gps, n);
    }

    if (!ReadPageTags(Page, v, P)) {
        Progress.Abort();
        return false;
    }
    v.Artist = PxTIFFGetTagString(Page, 315);
    ReadPageMetadata(Page, P);
    TransferToParams(v, Page, PageCount, P);
    ReadExifIFD(exif, P);
    ReadGpsIFD(gps, P);
    TransferColorMapAndResolution(v, P);
    return true;
}

// Everything that refuses a page before its pixels are allocated: layout,
// size, a missing LZW decoder or colour map, thumbnail size, the raster
// check; false after the failure is reported.
bool AcceptPage(const TTIFFIFDContext& Page, TTIFFVars& v, TIOParamsVals& P, TPxBitmap* Bitmap, bool ThumbnailMode,
                TPxIOProgressInfo& Progress)
{
    if (!Bitmap || !PlausibleLayout(v) || ((v.ImageWidth == 0 || v.ImageHeight == 0) && !ThumbnailMode)) {
        Progress.Fail(v.ImageWidth == 0 || v.ImageHeight == 0 ? TPxReadFailure::NoImage : TPxReadFailure::BadHeader);
        return false;
    }
    if (v.Compression == 5) {
        v.LZWDecompress = P.TIFFLZWDecompress ? P.TIFFLZWDecompress : PxGlobalTIFFLZWDecompress;
        if (!v.LZWDecompress) {
            Progress.Abort();
            return false;
        }
    }
    if (v.Photometric == 3 && v.ColorMap.empty() && v.Compression != 6 && v.Compression != 7) {
        Progress.Fail(TPxReadFailure::BadHeader);  // a palette page without a usable colour map
        return false;
    }
    if (ThumbnailMode && (v.ImageWidth > 400 || v.ImageHeight > 400)) {
        Progress.Abort();
        return false;
    }
    return ThumbnailMode || CheckPage(Page, v, ChoosePixelFormat(v, P), Progress);
}

// The page's pixels from its strips or tiles into Bitmap (allocated here,
// cleared first); old-style JPEG pages go to their own decoder.
void DecodePagePixels(const TTIFFIFDContext& Page, TTIFFVars& v, const TIOParamsVals& P, TPxBitmap& Bitmap,
                      TPxIOProgressInfo& Progress)
{
    if ((v.Compression == 6 || (v.JPEGIFOffset != 0 && v.Compression != 5)) && v.JPEGProc < 2) {
        PxTIFFReadOldJPEG(Page, v, Bitmap, Progress);
        return;
    }
    if (v.ImageWidth == 0 || v.ImageHeight == 0) {
        Progress.Abort();
        return;
    }
    const bool tiled = v.TileWidth > 0 || v.TileLength > 0;
    if (v.StripOffsets.empty() && (!tiled || v.TileOffsets.empty())) {
        Progress.Fail(TPxReadFailure::BadHeader);  // no pixel data to read
        return;
    }
    if (!PxTIFFCanDecode(v) || IsCompatLzw(Page, v)) {
        Progress.Fail(TPxReadFailure::Unsupported);
        return;
    }
    const TPxPixelFormat format = ChoosePixelFormat(v, P);
    if (!Bitmap.Allocate(v.ImageWidth, v.ImageHeight, format)) {
        Progress.Fail(TPxReadFailure::OutOfMemory);
        return;
    }
    if (format == px8p) {
        for (size_t i = 0; i < v.ColorMap.size() && i < 256; ++i)
            Bitmap.SetPaletteEntry(int(i), v.ColorMap[i]);
    }
    // Cleared whatever the mode: rows a short strip never reaches stay
    // black, never the storage's earlier content.
    Bitmap.Fill(0);
    if (v.TileWidth > 0 || v.TileLength > 0) {
        if (v.TileOffsets.empty() && !v.StripOffsets.empty()) {
            v.TileOffsets = v.StripOffsets;
            v.TileByteCounts = v.StripByteCounts;
        }
        PxTIFFReadTiles(Page, v, Bitmap, Progress);
    } else {
        PxTIFFReadStrips(Page, v, Bitmap, Progress);
    }
}

}  // namespace

void PxReadTIFF(TPxBitmap* Bitmap, classlib::TStream* Stream, int32_t& PageCount, TIOParamsVals* Params,
                TPxIOProgressInfo& Progress, bool ParamsOnly, TPxMask*& AlphaMask, bool PositionIsBase,
                bool IgnoreAlpha, bool ThumbnailMode)
{
    PageCount = 0;
    if (!Stream) {
        Progress.Abort();
        return;
    }
    TProfileTransformGuard profileGuard{Params};
    TTIFFIFDContext page;
    page.Stream = Stream;
    page.Base = PositionIsBase ? Stream->GetPosition() : 0;
    int64_t firstIFD = 0;
    if (!ReadFileHeader(page, firstIFD, Progress))
        return;
    const int32_t pageIndex = Params ? Params->TIFFImageIndex : -1;
    const bool loaded = PxTIFFReadIFD(pageIndex, firstIFD, page, PageCount);
    if (!Params)
        return;
    if (!loaded) {
        Progress.Abort();
        return;
    }
    if (!SelectSubIFD(page, *Params, Progress))
        return;
    TIOParamsVals& p = *Params;
    TTIFFVars v;
    v.LittleEndian = page.LittleEndian;
    v.Params = Params;
    v.IgnoreAlpha = IgnoreAlpha;
    if (!ReadPageParams(page, PageCount, v, p, Progress))
        return;

    if (ParamsOnly)
        return;
    if (!AcceptPage(page, v, p, Bitmap, ThumbnailMode, Progress))
        return;
    if (!IgnoreAlpha) {
        if (PageHasAlpha(v) && !AlphaMask)
            AlphaMask = new TPxMask();
        if (AlphaMask) {
            AlphaMask->AllocateBits(v.ImageWidth, v.ImageHeight, 8);
            AlphaMask->Fill(255);
        }
        v.AlphaMask = AlphaMask;
    }
    TPxAccessScope access(*Bitmap, pxAccessWrite);
    DecodePagePixels(page, v, p, *Bitmap, Progress);
    if (p.TIFFApplyOrientation && !Progress.Aborted() && !Bitmap->IsEmpty())
        PxApplyEXIFOrientation(Bitmap, v.Orientation);
}

int32_t PxCountTIFFPages(classlib::TStream* Stream)
{
    bool aborting = false;
    TPxIOProgressInfo progress;
    progress.Aborting = &aborting;
    int32_t count = 0;
    TPxMask* mask = nullptr;
    const int64_t start = Stream ? Stream->GetPosition() : 0;
    PxReadTIFF(nullptr, Stream, count, nullptr, progress, true, mask, true, true, false);
    if (Stream)
        Stream->SetPosition(start);
    return count;
}

void PxReadTIFFFormat(classlib::TStream* Stream, TPxBitmap* Bitmap, TIOParamsVals& Params, bool Preview,
                      TPxIOProgressInfo& Progress)
{
    TPxMask* mask = nullptr;
    try {
        int32_t count = 0;
        PxReadTIFF(Bitmap, Stream, count, &Params, Progress, Preview, mask, true, false, false);
        Progress.Count = count;
    } catch (...) {
        Progress.Abort();
    }
    if (mask) {
        if (Progress.Mask)
            delete mask;
        else
            Progress.Mask.Give(std::unique_ptr<TPxMask>(mask));
    }
}

void PxInstallTIFFReader() { PxSetBuiltInFormatReader(ffTIFF, PxReadTIFFFormat); }

}  // namespace imaging
