// The EXIF block of JPEG files: reading exiftool-written blocks (checked
// against exiftool's own report), block round trips, the EXIF APP1 of a
// JPEG save, and hostile blocks.
#include <windows.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/TestSupport.h"
#include "classlib/Streams.h"
#include "imaging/io/core/FileFormats.h"
#include "imaging/io/core/IOParams.h"
#include "imaging/io/core/IOProgress.h"
#include "imaging/io/core/ImgIO.h"
#include "imaging/io/metadata/ExifBlock.h"
#include "imaging/io/metadata/JpegMetadata.h"
#include "imaging/io/formats/jpeg/JpegReader.h"
#include "imaging/model/PxBitmap.h"
#include "imaging/model/PxExif.h"
#include "imaging/model/PxIfdEditor.h"
#include "imaging/model/PxJpegMarkers.h"
#include "imaging/model/PxMakerNote.h"

using namespace imaging;

namespace {

std::wstring Fixture(const std::wstring& Name) { return testsupport::FixturePath(L"io/exif", Name); }

std::vector<uint8_t> ReadFile(const std::wstring& Name) { return testsupport::FileBytes(Name); }

// exiftool's "-Group:Tag=value" report.
std::map<std::string, std::string> ReadArgs(const std::wstring& Name)
{
    std::map<std::string, std::string> result;
    const std::vector<uint8_t> bytes = ReadFile(Name);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (line.size() > 1 && line[0] == '-' && eq != std::string::npos)
            result[line.substr(1, eq - 1)] = line.substr(eq + 1);
    }
    return result;
}

std::string Utf8(const std::wstring& s)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string Num(double v)
{
    std::ostringstream s;
    s.precision(10);
    s << v;
    return s.str();
}

double Degrees(const std::array<double, 3>& dms) { return dms[0] + dms[1] / 60 + dms[2] / 3600; }

struct TRead {
    TPxBitmap Bitmap;
    TIOParamsVals Params{nullptr};
    bool Aborted = false;
};

// Decodes a JPEG file with its metadata through the JPEG reader, whose EXIF
// hook this unit installs.
void ReadJpeg(const std::wstring& Name, TRead& R)
{
    PxInstallEXIF();
    classlib::TFileStream file(Name, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    TPxIOProgressInfo progress;
    progress.Aborting = &R.Aborted;
    PxReadJPEG(&file, &R.Bitmap, {.ReadMetadata = true}, progress, R.Params);
}

// The EXIF APP1 payload of a JPEG file (without the marker and length).
std::vector<uint8_t> ExifPayload(const std::vector<uint8_t>& Jpeg)
{
    size_t i = 2;
    while (i + 4 <= Jpeg.size() && Jpeg[i] == 0xFF) {
        const uint8_t m = Jpeg[i + 1];
        const size_t len = size_t(Jpeg[i + 2]) << 8 | Jpeg[i + 3];
        if (m == 0xDA || len < 2 || i + 2 + len > Jpeg.size()) break;
        const uint8_t* p = Jpeg.data() + i + 4;
        if (m == 0xE1 && PxIsEXIFHeader(p, static_cast<int32_t>(len - 2))) return std::vector<uint8_t>(p, p + len - 2);
        i += 2 + len;
    }
    return {};
}

// The tags of IFD0, the EXIF IFD and the GPS IFD of an EXIF payload, each
// with its values as numbers (texts as their bytes).
using TTagTable = std::map<std::string, std::vector<double>>;
TTagTable TagsOf(const std::vector<uint8_t>& Payload)
{
    TTagTable result;
    classlib::TMemoryStream s;
    s.WriteBuffer(Payload.data() + 6, static_cast<int64_t>(Payload.size() - 6));
    s.SetPosition(0);
    TPxTIFFHandler h;
    if (!h.LoadFromStream(&s) || h.GetPageCount() == 0) return result;
    auto add = [&](const std::string& group, const TPxTIFFPage& page) {
        for (const TPxTIFFEntry& e : page.Entries) {
            std::vector<double>& values = result[group + ":" + std::to_string(e.Tag)];
            if (e.SubIFD || e.IsOffsetTag) continue;
            const uint8_t* b = h.GetEntryBytes(e);
            const bool little = !h.BigEndian;
            for (uint32_t i = 0; i < e.Count && i < 64; ++i) {
                switch (e.Type) {
                case 3: values.push_back(PxGetU16(b + 2 * i, little)); break;
                case 4: values.push_back(PxGetU32(b + 4 * i, little)); break;
                case 5: values.push_back(double(PxGetU32(b + 8 * i, little)) / PxGetU32(b + 8 * i + 4, little)); break;
                case 10:
                    values.push_back(double(int32_t(PxGetU32(b + 8 * i, little))) / int32_t(PxGetU32(b + 8 * i + 4, little)));
                    break;
                default: values.push_back(b[i]); break;
                }
            }
        }
    };
    add("IFD0", *h.GetPage(0));
    for (const TPxTIFFEntry& e : h.GetPage(0)->Entries) {
        if (e.Tag == PxTagExifIFD && e.SubIFD) add("EXIF", *e.SubIFD);
        if (e.Tag == PxTagGPSIFD && e.SubIFD) add("GPS", *e.SubIFD);
    }
    return result;
}

// Same device, byte order, entries and values (the layout of the values
// area may differ from the writer that made the original).
void ExpectSameMakerNote(const TPxTagsHandler& A, const TPxTagsHandler& B)
{
    EXPECT_EQ(A.Device.Signature, B.Device.Signature);
    EXPECT_EQ(A.ReadLittleEndian, B.ReadLittleEndian);
    ASSERT_EQ(A.Entries.size(), B.Entries.size());
    ASSERT_FALSE(A.Entries.empty());
    const auto* ta = static_cast<const uint8_t*>(A.TagStream.GetMemory());
    const auto* tb = static_cast<const uint8_t*>(B.TagStream.GetMemory());
    for (size_t i = 0; i < A.Entries.size(); ++i) {
        const TPxMakerNoteEntry& a = A.Entries[i];
        const TPxMakerNoteEntry& b = B.Entries[i];
        EXPECT_EQ(a.Tag, b.Tag);
        EXPECT_EQ(a.Type, b.Type);
        ASSERT_EQ(a.Count, b.Count);
        const size_t bytes = size_t(a.Count) * PxMakerNoteTypeSize(a.Type);
        if (bytes <= 4)
            EXPECT_EQ(a.Value, b.Value);
        else
            EXPECT_EQ(std::memcmp(ta + a.Value, tb + b.Value, bytes), 0) << a.Tag;
    }
}

}  // namespace

TEST(ExifRead, ExiftoolCameraFileMatchesExiftoolReport)
{
    TRead r;
    ReadJpeg(Fixture(L"camera.jpg"), r);
    ASSERT_FALSE(r.Aborted);
    const TIOParamsVals& p = r.Params;
    ASSERT_TRUE(p.HasEXIF);
    std::map<std::string, std::string> args = ReadArgs(Fixture(L"camera.args"));

    // exiftool's value of each tag, next to ours.
    auto dots = [](std::string s) {
        for (char& c : s)
            if (c == ' ') c = '.';
        return s;
    };
    const std::vector<std::pair<std::string, std::string>> table = {
        {"IFD0:Make", p.EXIFMake},
        {"IFD0:Model", p.EXIFModel},
        {"IFD0:Orientation", std::to_string(p.EXIFOrientation)},
        {"IFD0:XResolution", Num(p.EXIFXResolution)},
        {"IFD0:YResolution", Num(p.EXIFYResolution)},
        {"IFD0:ResolutionUnit", std::to_string(p.EXIFResolutionUnit)},
        {"IFD0:ModifyDate", p.EXIFDateTime},
        {"IFD0:YCbCrPositioning", std::to_string(p.EXIFYCbCrPositioning)},
        {"ExifIFD:ExposureTime", Num(p.EXIFExposureTime)},
        {"ExifIFD:FNumber", Num(p.EXIFFNumber)},
        {"ExifIFD:ISO", std::to_string(p.EXIFISOSpeedRatings[0])},
        {"ExifIFD:ExifVersion", p.EXIFExifVersion},
        {"ExifIFD:DateTimeOriginal", p.EXIFDateTimeOriginal},
        {"ExifIFD:Flash", std::to_string(p.EXIFFlash)},
        {"ExifIFD:FocalLength", Num(p.EXIFFocalLength)},
        {"ExifIFD:UserComment", Utf8(p.EXIFUserComment)},
        {"ExifIFD:FlashpixVersion", p.EXIFFlashPixVersion},
        {"ExifIFD:ColorSpace", std::to_string(p.EXIFColorSpace)},
        {"GPS:GPSVersionID", dots(args["GPS:GPSVersionID"]) == p.EXIFGPSVersionID ? args["GPS:GPSVersionID"] : p.EXIFGPSVersionID},
        {"GPS:GPSLatitudeRef", p.EXIFGPSLatitudeRef},
        {"GPS:GPSLatitude", Num(std::round(Degrees(p.EXIFGPSLatitude) * 1e6) / 1e6)},
        {"GPS:GPSLongitudeRef", p.EXIFGPSLongitudeRef},
        {"GPS:GPSLongitude", Num(std::round(Degrees(p.EXIFGPSLongitude) * 1e6) / 1e6)},
        {"GPS:GPSAltitudeRef", p.EXIFGPSAltitudeRef},
        {"GPS:GPSAltitude", Num(p.EXIFGPSAltitude)},
    };
    for (const auto& [key, ours] : table) {
        SCOPED_TRACE(key);
        ASSERT_EQ(args.count(key), 1u);
        EXPECT_EQ(ours, args[key]);
    }
    EXPECT_EQ(p.EXIFUserCommentCode, PxEXIFAsciiCode);
    // The JFIF density is 1:1, so the EXIF resolution is the image's.
    EXPECT_EQ(p.DpiX, 180);
    EXPECT_EQ(p.DpiY, 180);
    // Only the tags of the marked group that the file has are marked.
    std::set<int32_t> marked;
    for (int i = 0; i < p.EXIFTags->Count; ++i) marked.insert((*p.EXIFTags)[i]);
    EXPECT_EQ(marked, (std::set<int32_t>{33434, 33437, 37385, 37386, 40961}));

    // The thumbnail: 8 x 6 in the file, turned by orientation 6.
    ASSERT_TRUE(p.EXIFBitmap);
    ASSERT_FALSE(p.EXIFBitmap->IsEmpty());
    EXPECT_EQ(p.EXIFBitmap->GetWidth(), 6);
    EXPECT_EQ(p.EXIFBitmap->GetHeight(), 8);

    // The Nikon maker note: big-endian, header kept, exiftool's values.
    ASSERT_TRUE(p.EXIFMakerNote);
    const TPxTagsHandler& note = *p.EXIFMakerNote;
    EXPECT_EQ(note.Device.Signature, std::string("Nikon\0\x02\x10\0\0", 10));
    EXPECT_FALSE(note.ReadLittleEndian);
    ASSERT_EQ(note.Entries.size(), 4u);
    const auto* tags = static_cast<const uint8_t*>(note.TagStream.GetMemory());
    std::map<uint16_t, std::string> texts;
    for (const TPxMakerNoteEntry& e : note.Entries)
        if (e.Type == 2) texts[e.Tag] = std::string(reinterpret_cast<const char*>(tags + e.Value));
    EXPECT_EQ(texts[4].substr(0, 4), args["Nikon:Quality"]);
    EXPECT_EQ(texts[5].substr(0, 4), args["Nikon:WhiteBalance"]);
    uint8_t version[4];
    PxPutU32(version, note.Entries[0].Value, note.ReadLittleEndian);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(version), 4), args["Nikon:MakerNoteVersion"]);
}

TEST(ExifRead, UnicodeCommentAndNoResolution)
{
    TRead r;
    ReadJpeg(Fixture(L"unicode.jpg"), r);
    ASSERT_TRUE(r.Params.HasEXIF);
    std::map<std::string, std::string> args = ReadArgs(Fixture(L"unicode.args"));
    // The comment ends in an ASCII letter whose high byte is zero.
    EXPECT_EQ(Utf8(r.Params.EXIFUserComment), args["ExifIFD:UserComment"]);
    EXPECT_EQ(r.Params.EXIFUserCommentCode, PxEXIFUnicodeCode);
    // No resolution in the block: the JFIF density stays.
    EXPECT_EQ(r.Params.EXIFXResolution, 96);
    EXPECT_EQ(r.Params.DpiX, 96);
    EXPECT_EQ(r.Params.DpiY, 96);
    // No IFD1: the thumbnail exists and is empty.
    ASSERT_TRUE(r.Params.EXIFBitmap);
    EXPECT_TRUE(r.Params.EXIFBitmap->IsEmpty());
    std::vector<uint8_t> block;
    PxSaveEXIFToBuffer(r.Params, block, true);
    const TTagTable written = TagsOf(block);
    EXPECT_EQ(written.count("IFD0:282"), 1u);  // the JFIF density, now the image's
}

TEST(ExifBlock, WriteReadRoundTrip)
{
    TRead r;
    ReadJpeg(Fixture(L"camera.jpg"), r);
    ASSERT_TRUE(r.Params.HasEXIF);
    TIOParamsVals& a = r.Params;
    a.EXIFExposureBiasValue = 0;
    a.SetEXIFExposureBiasValue(-0.7);  // signed
    a.EXIFXPTitle = L"Ponte";
    a.EXIFRating = 3;
    a.EXIFUserComment = L"Praça";
    a.EXIFUserCommentCode = PxEXIFUnicodeCode;

    std::vector<uint8_t> block;
    PxSaveEXIFToBuffer(a, block, true);
    ASSERT_GT(block.size(), 10u);
    const uint8_t start[10] = {0x45, 0x78, 0x69, 0x66, 0, 0, 0x49, 0x49, 0x2A, 0};
    EXPECT_EQ(std::memcmp(block.data(), start, 10), 0);

    TIOParamsVals b(nullptr);
    ASSERT_TRUE(PxLoadEXIFFromBuffer(block.data(), static_cast<int32_t>(block.size()), b));
    EXPECT_TRUE(b.HasEXIF);
    EXPECT_EQ(b.EXIFMake, a.EXIFMake);
    EXPECT_EQ(b.EXIFModel, a.EXIFModel);
    EXPECT_EQ(b.EXIFDateTime, a.EXIFDateTime);
    EXPECT_EQ(b.EXIFOrientation, a.EXIFOrientation);
    EXPECT_EQ(b.EXIFXResolution, a.EXIFXResolution);
    EXPECT_EQ(b.EXIFRating, 3);
    EXPECT_EQ(b.EXIFXPTitle, L"Ponte");
    EXPECT_EQ(b.EXIFUserComment, L"Praça");
    EXPECT_DOUBLE_EQ(b.EXIFExposureTime, a.EXIFExposureTime);
    EXPECT_DOUBLE_EQ(b.EXIFFNumber, a.EXIFFNumber);
    EXPECT_NEAR(b.EXIFExposureBiasValue, -0.7, 1e-9);
    EXPECT_EQ(b.EXIFFlash, a.EXIFFlash);
    EXPECT_EQ(b.EXIFISOSpeedRatings, a.EXIFISOSpeedRatings);
    EXPECT_EQ(b.EXIFExifVersion, a.EXIFExifVersion);
    EXPECT_EQ(b.EXIFFlashPixVersion, a.EXIFFlashPixVersion);
    EXPECT_EQ(b.EXIFDateTimeOriginal, a.EXIFDateTimeOriginal);
    EXPECT_EQ(b.EXIFGPSVersionID, a.EXIFGPSVersionID);
    EXPECT_EQ(b.EXIFGPSLatitudeRef, a.EXIFGPSLatitudeRef);
    EXPECT_EQ(b.EXIFGPSLongitudeRef, a.EXIFGPSLongitudeRef);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(b.EXIFGPSLatitude[i], a.EXIFGPSLatitude[i], 1e-6);
        EXPECT_NEAR(b.EXIFGPSLongitude[i], a.EXIFGPSLongitude[i], 1e-6);
    }
    EXPECT_EQ(b.EXIFGPSAltitudeRef, a.EXIFGPSAltitudeRef);
    EXPECT_DOUBLE_EQ(b.EXIFGPSAltitude, a.EXIFGPSAltitude);
    // Unset groups stay unset.
    EXPECT_TRUE(b.EXIFGPSDestLatitudeRef.empty());
    EXPECT_EQ(b.EXIFExposureMode, -1);
    std::set<int32_t> ma, mb;
    for (int i = 0; i < a.EXIFTags->Count; ++i) ma.insert((*a.EXIFTags)[i]);
    for (int i = 0; i < b.EXIFTags->Count; ++i) mb.insert((*b.EXIFTags)[i]);
    EXPECT_EQ(ma, mb);
    // The maker note keeps its device, byte order and values.
    ASSERT_TRUE(b.EXIFMakerNote);
    ExpectSameMakerNote(*b.EXIFMakerNote, *a.EXIFMakerNote);
    // The thumbnail comes back with the same size (written as it is, read
    // and turned by the orientation once more).
    ASSERT_FALSE(b.EXIFBitmap->IsEmpty());
    EXPECT_EQ(b.EXIFBitmap->GetWidth() + b.EXIFBitmap->GetHeight(), 14);
}

TEST(ExifSave, AlbumCopyWritesOrientationOneAndOnlyTheSourceTags)
{
    PxInstallEXIF();
    testsupport::TempDir dir;
    const std::wstring out = dir.Path() + L"\\album.jpg";
    PxBuildFormatRegistry();
    {
        TImgIO io(nullptr);
        io.LoadFromFile(Fixture(L"camera.jpg"));
        ASSERT_FALSE(io.AbortFlag);
        ASSERT_TRUE(io.FileParams->HasEXIF);
        io.FileParams->SetEXIFOrientation(1);
        // Saved twice: the second save replaces the EXIF marker.
        for (int pass = 0; pass < 2; ++pass) {
            io.SaveToFile(out);
            ASSERT_FALSE(io.AbortFlag);
        }
        int exifMarkers = 0;
        for (int i = 0; i < io.FileParams->JPEGMarkers->GetCount(); ++i)
            if (PxIsEXIFHeader(io.FileParams->JPEGMarkers->GetMarkerData(i), io.FileParams->JPEGMarkers->GetMarkerLength(i)))
                ++exifMarkers;
        EXPECT_EQ(exifMarkers, 1);
    }
    PxFreeFormatRegistry();

    const TTagTable source = TagsOf(ExifPayload(ReadFile(Fixture(L"camera.jpg"))));
    const TTagTable saved = TagsOf(ExifPayload(ReadFile(out)));
    ASSERT_FALSE(saved.empty());
    EXPECT_EQ(saved.at("IFD0:274"), std::vector<double>{1});
    // Nothing invented: every tag written was in the source.
    for (const auto& [key, values] : saved) EXPECT_EQ(source.count(key), 1u) << key;
    // The source's tags survive with their values (the maker note is
    // rewritten at its new place; the components configuration is not
    // kept by the parameters).
    for (const auto& [key, values] : source) {
        if (key == "IFD0:274" || key == "EXIF:37121" || key == "EXIF:37500") continue;
        SCOPED_TRACE(key);
        ASSERT_EQ(saved.count(key), 1u);
        std::vector<double> got = saved.at(key);
        if (key == "EXIF:37510") got.resize(values.size());  // the text is written with a closing zero byte
        ASSERT_EQ(got.size(), values.size());
        for (size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(got[i], values[i], 1e-9);
    }
    // The saved maker note reads back as the source's.
    TRead again;
    ReadJpeg(out, again);
    ASSERT_TRUE(again.Params.HasEXIF);
    ASSERT_TRUE(again.Params.EXIFMakerNote);
    EXPECT_EQ(again.Params.EXIFOrientation, 1);
    TRead original;
    ReadJpeg(Fixture(L"camera.jpg"), original);
    ExpectSameMakerNote(*again.Params.EXIFMakerNote, *original.Params.EXIFMakerNote);
}

TEST(ExifBlock, EXIFAPP1WithoutTheJpegWriter)
{
    // The marker list step alone: an EXIF APP1 replaces the old one.
    PxInstallEXIF();
    TIOParamsVals p(nullptr);
    ASSERT_TRUE(p.JPEGMarkers);
    p.JPEGMarkers->AddMarker(PxMarkerAPP1, reinterpret_cast<const uint8_t*>("Exif\0\0II*\0\0\0\0\0"), 14);
    p.HasEXIF = true;
    p.EXIFMake = "Velmo";
    p.SetEXIFOrientation(3);
    PxUpdateJPEGMetadata(p);
    ASSERT_EQ(PxIndexOfEXIFMarker(*p.JPEGMarkers), 0);
    ASSERT_EQ(p.JPEGMarkers->GetCount(), 1);
    const uint8_t* data = p.JPEGMarkers->GetMarkerData(0);
    const std::vector<uint8_t> payload(data, data + p.JPEGMarkers->GetMarkerLength(0));
    const TTagTable tags = TagsOf(payload);
    EXPECT_EQ(tags.at("IFD0:274"), std::vector<double>{3});
    EXPECT_EQ(tags.count("IFD0:271"), 1u);
    // No resolution, no EXIF values were set: none written.
    EXPECT_EQ(tags.size(), 2u);
}

TEST(ExifRead, CameraRawStyleTIFFStream)
{
    // The TIFF structure 100 bytes into the stream, as in camera raw files.
    const std::vector<uint8_t> tiff = ReadFile(Fixture(L"raw.tif"));
    classlib::TMemoryStream s;
    const std::vector<uint8_t> junk(100, 0x55);
    s.WriteBuffer(junk.data(), 100);
    s.WriteBuffer(tiff.data(), static_cast<int64_t>(tiff.size()));
    s.SetPosition(0);
    ASSERT_EQ(PxFindTIFFHeader(&s), 100);
    s.SetPosition(100);
    TIOParamsVals p(nullptr);
    ASSERT_TRUE(PxLoadEXIFFromTIFFStream(&s, p));
    EXPECT_EQ(s.GetPosition(), 100);
    EXPECT_TRUE(p.HasEXIF);
    EXPECT_EQ(p.EXIFMake, "Velmo");
    EXPECT_NEAR(p.EXIFExposureTime, 1.0 / 60, 1e-12);
    EXPECT_DOUBLE_EQ(p.EXIFFNumber, 4);
    EXPECT_FALSE(p.IsEXIFTagMarked(34850));
    // IFD0's image is the only one: it becomes the thumbnail.
    ASSERT_TRUE(p.EXIFBitmap);
    EXPECT_EQ(p.EXIFBitmap->GetWidth(), 16);
    EXPECT_EQ(p.EXIFBitmap->GetHeight(), 12);

    TIOParamsVals q(nullptr);
    EXPECT_TRUE(PxLoadEXIFFromStream(&s, q));
    EXPECT_EQ(s.GetPosition(), 100);
    EXPECT_EQ(q.EXIFMake, "Velmo");
    EXPECT_EQ(q.Width, 16);  // the TIFF reader's other groups too
}

// ---- hostile blocks

namespace {

// A little-endian block builder: IFD0 at 8 with the given entries.
struct TEntryBytes {
    uint16_t Tag, Type;
    uint32_t Count, Value;
};
std::vector<uint8_t> Block(const std::vector<TEntryBytes>& Entries, uint32_t Next = 0, size_t Extra = 0)
{
    std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put16 = [&](uint16_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); };
    auto put32 = [&](uint32_t v) { put16(uint16_t(v)), put16(uint16_t(v >> 16)); };
    put16(static_cast<uint16_t>(Entries.size()));
    for (const TEntryBytes& e : Entries) put16(e.Tag), put16(e.Type), put32(e.Count), put32(e.Value);
    put32(Next);
    b.resize(b.size() + Extra, 0);
    return b;
}

}  // namespace

TEST(ExifBlock, HostileBlocksFailCleanly)
{
    PxInstallEXIF();
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Data;
    };
    std::vector<TCase> cases = {
        {"EXIF IFD pointing at IFD0", Block({{271, 2, 4, 'a'}, {PxTagExifIFD, 4, 1, 8}})},
        {"EXIF IFD pointing at itself", {}},
        {"chain looping back to IFD0", Block({{271, 2, 4, 'a'}}, 8)},
        {"huge entry count", Block({{271, 2, 4, 'a'}})},
        {"count x size overflowing 32 bits", Block({{282, 5, 0x20000001, 26}}, 0, 16)},
        {"values outside the block", Block({{270, 2, 100, 20}})},
        {"not TIFF", {'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 42, 0, 8, 0, 0, 0}},
        {"first IFD outside", {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0}},
        {"header only", {'E', 'x', 'i', 'f', 0, 0}},
        {"five bytes", {'E', 'x', 'i', 'f', 0}},
        {"Exif then a non-zero byte", {'E', 'x', 'i', 'f', 1, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}},
    };
    // The EXIF IFD at 26 (after IFD0's single entry) lists itself.
    cases[1].Data = Block({{PxTagExifIFD, 4, 1, 26}}, 0);
    {
        std::vector<uint8_t>& d = cases[1].Data;
        const uint8_t self[] = {1, 0, 0x69, 0x87, 4, 0, 1, 0, 0, 0, 26, 0, 0, 0, 0, 0, 0, 0};
        d.insert(d.end(), self, self + sizeof self);
    }
    cases[3].Data[14] = 0xFF;  // 65535 entries in a 30-byte block
    cases[3].Data[15] = 0xFF;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TIOParamsVals p(nullptr);
        EXPECT_FALSE(PxLoadEXIFFromBuffer(c.Data.data(), static_cast<int32_t>(c.Data.size()), p));
        EXPECT_FALSE(p.HasEXIF);
    }
    // A well-formed block of the same kind is read.
    const std::vector<uint8_t> good = Block({{271, 2, 4, 'a'}});
    TIOParamsVals p(nullptr);
    EXPECT_TRUE(PxLoadEXIFFromBuffer(good.data(), static_cast<int32_t>(good.size()), p));
    EXPECT_EQ(p.EXIFMake, "a");
    // A bad link after IFD1 is tolerated; a link to IFD1 outside the block
    // is not (the block was cut).
    std::vector<uint8_t> trailing = Block({{271, 2, 4, 'a'}}, 26);
    const uint8_t ifd1[] = {0, 0, 0xF0, 0xFF, 0xFF, 0xFF};
    trailing.insert(trailing.end(), ifd1, ifd1 + sizeof ifd1);
    TIOParamsVals t(nullptr);
    EXPECT_TRUE(PxLoadEXIFFromBuffer(trailing.data(), static_cast<int32_t>(trailing.size()), t));
    const std::vector<uint8_t> cut = Block({{271, 2, 4, 'a'}}, 4000);
    EXPECT_FALSE(PxLoadEXIFFromBuffer(cut.data(), static_cast<int32_t>(cut.size()), t));

    // Every truncation of a real block fails cleanly.
    const std::vector<uint8_t> full = ExifPayload(ReadFile(Fixture(L"camera.jpg")));
    ASSERT_FALSE(full.empty());
    for (size_t n = 0; n < full.size(); ++n) {
        TIOParamsVals q(nullptr);
        ASSERT_FALSE(PxLoadEXIFFromBuffer(full.data(), static_cast<int32_t>(n), q)) << n;
    }
    TIOParamsVals q(nullptr);
    EXPECT_TRUE(PxLoadEXIFFromBuffer(full.data(), static_cast<int32_t>(full.size()), q));
}
