// The TIFF directory editor (TPxTIFFHandler) and the maker-note container
// (TPxTagsHandler).
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "classlib/Streams.h"
#include "imaging/model/PxIfdEditor.h"
#include "imaging/model/PxMakerNote.h"

using namespace imaging;

namespace {

// Builds TIFF bytes in either byte order.
struct TBytes {
    bool Little = true;
    std::vector<uint8_t> B;
    size_t Size() const { return B.size(); }
    void U8(uint8_t v) { B.push_back(v); }
    void U16(uint16_t v)
    {
        uint8_t p[2];
        PxPutU16(p, v, Little);
        B.insert(B.end(), p, p + 2);
    }
    void U32(uint32_t v)
    {
        uint8_t p[4];
        PxPutU32(p, v, Little);
        B.insert(B.end(), p, p + 4);
    }
    void Entry(uint16_t Tag, uint16_t Type, uint32_t Count, uint32_t Value) { U16(Tag), U16(Type), U32(Count), U32(Value); }
    void Header(uint32_t FirstIFD)
    {
        U8(Little ? 'I' : 'M'), U8(Little ? 'I' : 'M'), U16(42), U32(FirstIFD);
    }
    void Text(const char* s, size_t n) { B.insert(B.end(), s, s + n); }
    void PadTo(size_t n) { B.resize(n, 0); }
    void Put32At(size_t at, uint32_t v) { PxPutU32(B.data() + at, v, Little); }
};

classlib::TMemoryStream* Stream(const std::vector<uint8_t>& Bytes, classlib::TMemoryStream& S)
{
    S.Clear();
    if (!Bytes.empty()) S.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    S.SetPosition(0);
    return &S;
}

std::vector<uint8_t> Bytes(classlib::TMemoryStream& S)
{
    const auto* p = static_cast<const uint8_t*>(S.GetMemory());
    return std::vector<uint8_t>(p, p + S.GetSize());
}

// A TIFF of Pages one-row pages, each with a 4-byte strip "Pn.." and an
// ImageDescription of 6 characters; the last page links to LastNext.
std::vector<uint8_t> MultiPage(bool Little, int Pages, uint32_t LastNext = 0)
{
    TBytes t;
    t.Little = Little;
    t.Header(8);
    for (int p = 0; p < Pages; ++p) {
        const size_t ifd = t.Size();
        const size_t data = ifd + 2 + 4 * 12 + 4;
        t.U16(4);
        t.Entry(256, 3, 1, Little ? 4 : 4u << 16);
        t.Entry(270, 2, 6, uint32_t(data));
        t.Entry(273, 4, 1, uint32_t(data + 6));
        t.Entry(279, 4, 1, 4);
        const size_t link = t.Size();
        t.U32(0);
        const char text[6] = {'p', 'a', 'g', 'e', char('0' + p), 0};
        t.Text(text, 6);
        const char strip[4] = {'P', char('0' + p), 'x', 'y'};
        t.Text(strip, 4);
        t.Put32At(link, p + 1 < Pages ? uint32_t(t.Size()) : LastNext);
    }
    return t.B;
}

std::string Description(const TPxTIFFHandler& H, int Page)
{
    const TPxTIFFPage* p = H.GetPage(Page);
    const int k = TPxTIFFHandler::FindTagIn(*p, 270);
    if (k < 0) return "";
    const TPxTIFFEntry& e = p->Entries[size_t(k)];
    return std::string(reinterpret_cast<const char*>(H.GetEntryBytes(e)));
}

std::string Strip(const TPxTIFFHandler& H, int Page)
{
    const auto* p = reinterpret_cast<const char*>(H.GetTagValue(*H.GetPage(Page), 273, 0));
    return p ? std::string(p, 4) : "";
}

}  // namespace

TEST(PxTIFFHandler, LoadsPagesAndWritesThemBackChained)
{
    for (bool little : {true, false}) {
        SCOPED_TRACE(little ? "II" : "MM");
        classlib::TMemoryStream s;
        TPxTIFFHandler h;
        ASSERT_TRUE(h.LoadFromStream(Stream(MultiPage(little, 3), s)));
        EXPECT_FALSE(h.Damaged);
        ASSERT_EQ(h.GetPageCount(), 3);
        EXPECT_EQ(h.BigEndian, !little);
        EXPECT_EQ(h.GetTagValue(*h.GetPage(1), 256, 0), 4);
        EXPECT_EQ(Description(h, 2), "page2");
        EXPECT_EQ(Strip(h, 1), "P1xy");
        EXPECT_EQ(h.FindTag(0, 999), -1);
        EXPECT_EQ(h.FindTag(5, 256), -1);

        // All pages, at a stream position other than 0: strips move, the
        // chain stays in order and ends with 0.
        classlib::TMemoryStream out;
        out.WriteBuffer("pad", 3);
        h.WriteStream(&out, -1);
        out.SetPosition(3);
        TPxTIFFHandler back;
        ASSERT_TRUE(back.LoadFromStream(&out));
        EXPECT_FALSE(back.Damaged);
        ASSERT_EQ(back.GetPageCount(), 3);
        for (int p = 0; p < 3; ++p) {
            EXPECT_EQ(Description(back, p), "page" + std::to_string(p));
            EXPECT_EQ(Strip(back, p), "P" + std::to_string(p) + "xy");
        }
        // One page only.
        classlib::TMemoryStream one;
        h.WriteStream(&one, 1);
        one.SetPosition(0);
        ASSERT_TRUE(back.LoadFromStream(&one));
        ASSERT_EQ(back.GetPageCount(), 1);
        EXPECT_EQ(Description(back, 0), "page1");
    }
}

TEST(PxTIFFHandler, FilesAreReadAndWritten)
{
    testsupport::TempDir dir;
    EXPECT_EQ(TPxTIFFHandler::CreateFromFile(dir.File(L"none.tif"))->GetPageCount(), 0);
    classlib::TMemoryStream s;
    auto h = TPxTIFFHandler::CreateFromStream(Stream(MultiPage(false, 2), s));
    h->WriteFile(dir.File(L"two.tif"), -1);
    auto back = TPxTIFFHandler::CreateFromFile(dir.File(L"two.tif"));
    ASSERT_EQ(back->GetPageCount(), 2);
    EXPECT_TRUE(back->BigEndian);
    EXPECT_EQ(Strip(*back, 1), "P1xy");
}

TEST(PxTIFFHandler, LoopsAndBadSizesAreCut)
{
    classlib::TMemoryStream s;
    TPxTIFFHandler h;
    // The second IFD links back to the first: two pages.
    ASSERT_TRUE(h.LoadFromStream(Stream(MultiPage(true, 2, 8), s)));
    EXPECT_EQ(h.GetPageCount(), 2);
    EXPECT_TRUE(h.Damaged);
    // A link leaving the stream ends the chain; the pages before it stay.
    ASSERT_TRUE(h.LoadFromStream(Stream(MultiPage(true, 2, 0xFFFFF0), s)));
    EXPECT_EQ(h.GetPageCount(), 2);
    EXPECT_FALSE(h.Damaged);
    EXPECT_TRUE(h.ChainCut);

    // An EXIF IFD that lists itself, and one that points back at IFD0.
    for (uint32_t target : {26u, 8u}) {
        TBytes t;
        t.Header(8);
        t.U16(1);
        t.Entry(PxTagExifIFD, 4, 1, target);
        t.U32(0);
        t.U16(1);  // at 26
        t.Entry(PxTagExifIFD, 4, 1, 26);
        t.U32(0);
        ASSERT_TRUE(h.LoadFromStream(Stream(t.B, s)));
        EXPECT_TRUE(h.Damaged);
        ASSERT_EQ(h.GetPageCount(), 1);
    }

    // Counts whose byte size overflows 32 bits, values past the end, an
    // entry table longer than the stream: dropped, never read.
    TBytes t;
    t.Header(8);
    t.U16(5);
    t.Entry(282, 5, 0x20000001, 8);
    t.Entry(270, 2, 100, 8);
    t.Entry(256, 3, 1, 7);
    t.Entry(273, 4, 1, 0xFFFFFF00);
    t.Entry(279, 4, 1, 0xFFFF);
    // (the table claims 5 entries; the stream ends here)
    ASSERT_TRUE(h.LoadFromStream(Stream(t.B, s)));
    EXPECT_TRUE(h.Damaged);
    ASSERT_EQ(h.GetPageCount(), 1);
    EXPECT_EQ(h.FindTag(0, 282), -1);
    EXPECT_EQ(h.FindTag(0, 270), -1);
    EXPECT_EQ(h.GetTagValue(*h.GetPage(0), 256, 0), 7);
    EXPECT_EQ(h.GetTagValue(*h.GetPage(0), 273, 0), 0);  // chunk outside: empty

    // Not TIFF.
    EXPECT_FALSE(h.LoadFromStream(Stream({'X', 'X', 42, 0, 8, 0, 0, 0}, s)));
    EXPECT_FALSE(h.LoadFromStream(Stream({'I', 'I'}, s)));
}

TEST(PxTIFFHandler, AddDeleteAndCopyTags)
{
    classlib::TMemoryStream s;
    auto exif = TPxTIFFHandler::CreateFromStream(Stream({}, s));
    EXPECT_EQ(exif->GetPageCount(), 0);
    // A block with an EXIF IFD: exposure time 1/125 (RATIONAL), ISO 200.
    TBytes t;
    t.Little = false;
    t.Header(8);
    t.U16(2);
    t.Entry(271, 2, 4, 0x41424300);  // "ABC"
    t.Entry(PxTagExifIFD, 4, 1, 8 + 2 + 24 + 4);
    t.U32(0);
    t.U16(2);
    t.Entry(33434, 5, 1, uint32_t(t.Size() + 24 + 4));
    t.Entry(34855, 3, 1, 200u << 16);
    t.U32(0);
    t.U32(1), t.U32(125);
    ASSERT_TRUE(exif->LoadFromStream(Stream(t.B, s)));
    ASSERT_FALSE(exif->Damaged);

    for (bool destBig : {false, true}) {
        SCOPED_TRACE(destBig ? "MM" : "II");
        TPxTIFFHandler dest;
        dest.BigEndian = destBig;
        TPxTIFFPage* page = dest.AddPage();
        dest.AddTag(*page, 256, 300, 3);
        dest.AddTag(*page, 282, 72.5, 5);
        dest.AddTag(*page, 305, std::string("Velmo Morvane"));
        dest.AddTag(*page, 256, 640, 4);  // replaces
        dest.CopyTag(*exif, 0, exif->FindTag(0, 271), 0);
        dest.CopyTag(*exif, 0, exif->FindTag(0, PxTagExifIFD), 0);
        dest.CopyTag(*exif, 0, -1, 0);  // nothing
        dest.CopyTag(*exif, 3, 0, 0);   // nothing
        ASSERT_EQ(page->Entries.size(), 5u);
        dest.DeleteTag(*page, TPxTIFFHandler::FindTagIn(*page, 305));
        ASSERT_EQ(page->Entries.size(), 4u);

        classlib::TMemoryStream out;
        dest.WriteStream(&out, 0);
        out.SetPosition(0);
        TPxTIFFHandler back;
        ASSERT_TRUE(back.LoadFromStream(&out));
        ASSERT_FALSE(back.Damaged);
        const TPxTIFFPage& p = *back.GetPage(0);
        EXPECT_EQ(back.GetTagValue(p, 256, 0), 640);
        EXPECT_EQ(back.FindTag(0, 305), -1);
        const TPxTIFFEntry& res = p.Entries[size_t(TPxTIFFHandler::FindTagIn(p, 282))];
        EXPECT_EQ(PxGetU32(back.GetEntryBytes(res), !destBig), 725000u);
        EXPECT_EQ(PxGetU32(back.GetEntryBytes(res) + 4, !destBig), 10000u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.GetEntryBytes(
                      p.Entries[size_t(TPxTIFFHandler::FindTagIn(p, 271))]))),
                  "ABC");
        // The EXIF IFD came along whole, its values in the destination's order.
        const TPxTIFFEntry& sub = p.Entries[size_t(TPxTIFFHandler::FindTagIn(p, PxTagExifIFD))];
        ASSERT_TRUE(sub.SubIFD);
        EXPECT_EQ(back.GetTagValue(*sub.SubIFD, 34855, 0), 200);
        const TPxTIFFEntry& time = sub.SubIFD->Entries[size_t(TPxTIFFHandler::FindTagIn(*sub.SubIFD, 33434))];
        EXPECT_EQ(PxGetU32(back.GetEntryBytes(time), !destBig), 1u);
        EXPECT_EQ(PxGetU32(back.GetEntryBytes(time) + 4, !destBig), 125u);
    }
    exif->DeletePage(0);
    EXPECT_EQ(exif->GetPageCount(), 0);
}

// ---- maker notes

namespace {

// A Nikon type-3 note: signature, embedded big-endian header, IFD with a
// SHORT pair inline and 8 ASCII bytes at offset 26 + 4 (relative to the
// embedded header).
std::vector<uint8_t> NikonNote()
{
    TBytes t;
    t.Little = false;
    t.Text("Nikon\0\x02\x10\0\0", 10);
    t.Header(8);
    t.U16(2);
    t.Entry(2, 3, 2, 200);           // SHORTs 0, 200
    t.Entry(4, 2, 8, 8 + 2 + 24 + 4);
    t.U32(0);
    t.Text("FINE   \0", 8);
    return t.B;
}

}  // namespace

TEST(PxTagsHandler, NikonNoteKeepsItsHeaderOrderAndRelativeOffsets)
{
    const std::vector<uint8_t> note = NikonNote();
    classlib::TMemoryStream block;
    block.WriteBuffer("0123456789", 10);  // the note sits at 10 in the block
    block.WriteBuffer(note.data(), static_cast<int64_t>(note.size()));
    block.SetPosition(10);
    TPxTagsHandler h;
    h.ReadFromStream(&block, static_cast<int32_t>(note.size()), true);
    EXPECT_EQ(h.Device.Signature, std::string("Nikon\0\x02\x10\0\0", 10));
    EXPECT_FALSE(h.ReadLittleEndian);
    ASSERT_EQ(h.Entries.size(), 2u);
    EXPECT_EQ(h.Entries[0].Tag, 2);
    const auto* tags = static_cast<const uint8_t*>(h.TagStream.GetMemory());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tags + h.Entries[1].Value)), "FINE   ");

    // Written anywhere, the note is the same bytes.
    classlib::TMemoryStream out;
    out.WriteBuffer("xyz", 3);
    EXPECT_EQ(h.WriteToStream(&out, true), static_cast<int32_t>(note.size()));
    const std::vector<uint8_t> written = Bytes(out);
    EXPECT_EQ(std::vector<uint8_t>(written.begin() + 3, written.end()), note);

    TPxTagsHandler copy;
    copy.Assign(&h);
    EXPECT_EQ(copy.GetData(), note);
    EXPECT_EQ(copy.Entries.size(), 2u);
}

TEST(PxTagsHandler, NotesFollowingTheBlockOrderAndFixedOrders)
{
    struct TCase {
        const char* Name;
        std::string Signature;
        bool BlockLittle;   // the EXIF block's order
        bool NoteLittle;    // the order the note is in
    };
    const TCase cases[] = {
        {"unknown maker, II block", "", true, true},
        {"unknown maker, MM block", "", false, false},
        {"Sony, MM block", std::string("SONY DSC \0\0\0", 12), false, false},
        {"QVC, always MM", std::string("QVC\0\0\0", 6), true, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        // Block: 40 bytes of padding, then the note; its values (3 DOUBLEs,
        // a SHORT pair inline) are addressed from the block's start.
        TBytes t;
        t.Little = c.NoteLittle;
        t.PadTo(40);
        t.Text(c.Signature.data(), c.Signature.size());
        const size_t values = 40 + c.Signature.size() + 2 + 36 + 4;
        t.U16(3);
        t.Entry(0x10, 12, 3, uint32_t(values));
        t.Entry(0x11, 3, 2, 0);  // the SHORT pair 7, 9 goes into its value word
        const size_t pair = t.Size() - 4;
        PxPutU16(t.B.data() + pair, 7, t.Little);
        PxPutU16(t.B.data() + pair + 2, 9, t.Little);
        t.Entry(0x12, 4, 1, 0x12345678);
        t.U32(0);
        for (double d : {1.5, -2.25, 1e10}) {
            uint64_t u;
            std::memcpy(&u, &d, 8);
            if (t.Little)
                t.U32(uint32_t(u)), t.U32(uint32_t(u >> 32));
            else
                t.U32(uint32_t(u >> 32)), t.U32(uint32_t(u));
        }
        classlib::TMemoryStream block;
        block.WriteBuffer(t.B.data(), static_cast<int64_t>(t.Size()));
        block.SetPosition(40);
        TPxTagsHandler h;
        h.ReadFromStream(&block, static_cast<int32_t>(t.Size() - 40), c.BlockLittle);
        ASSERT_EQ(h.Entries.size(), 3u);
        EXPECT_EQ(h.Entries[0].Count, 3u);  // 24 bytes of values kept
        EXPECT_EQ(h.TagStream.GetSize(), 2 + 36 + 24);

        // Written into a little-endian block at another place and read back.
        classlib::TMemoryStream out;
        out.WriteBuffer("0123456", 7);
        const int32_t n = h.WriteToStream(&out, true);
        ASSERT_GT(n, 0);
        out.SetPosition(7);
        TPxTagsHandler back;
        back.ReadFromStream(&out, n, true);
        ASSERT_EQ(back.Entries.size(), 3u);
        const auto* v = static_cast<const uint8_t*>(back.TagStream.GetMemory()) + back.Entries[0].Value;
        for (int i = 0; i < 3; ++i) {
            const bool l = back.ReadLittleEndian;
            const uint64_t u = l ? (uint64_t(PxGetU32(v + 8 * i + 4, true)) << 32) | PxGetU32(v + 8 * i, true)
                                 : (uint64_t(PxGetU32(v + 8 * i, false)) << 32) | PxGetU32(v + 8 * i + 4, false);
            double d;
            std::memcpy(&d, &u, 8);
            EXPECT_EQ(d, (i == 0 ? 1.5 : i == 1 ? -2.25 : 1e10));
        }
        uint8_t word[4];
        PxPutU32(word, back.Entries[1].Value, back.ReadLittleEndian);
        EXPECT_EQ(PxGetU16(word, back.ReadLittleEndian), 7);
        EXPECT_EQ(PxGetU16(word + 2, back.ReadLittleEndian), 9);
        EXPECT_EQ(back.Entries[2].Value, 0x12345678u);
        // A device with its own order is written in it.
        if (c.Signature.rfind("QVC", 0) == 0) {
            EXPECT_FALSE(back.ReadLittleEndian);
        }
    }
}

TEST(PxTagsHandler, BadNotesAreClearedOrZeroed)
{
    classlib::TMemoryStream s;
    TPxTagsHandler h;
    // 257 entries: cleared.
    {
        TBytes t;
        t.U16(257);
        t.PadTo(2 + 257 * 12);
        h.ReadFromStream(Stream(t.B, s), static_cast<int32_t>(t.Size()), true);
        EXPECT_TRUE(h.Entries.empty());
        EXPECT_EQ(h.TagStream.GetSize(), 0);
        EXPECT_EQ(h.GetDataSize(), 0);
    }
    // Too short for its entries: cleared.
    {
        TBytes t;
        t.U16(3);
        t.Entry(1, 3, 1, 1);
        h.ReadFromStream(Stream(t.B, s), static_cast<int32_t>(t.Size()), true);
        EXPECT_TRUE(h.Entries.empty());
    }
    // Values outside the note, a negative position, an overflowing count:
    // those entries are zeroed, the others kept.
    {
        TBytes t;
        t.U16(4);
        t.Entry(1, 2, 100, 2);
        t.Entry(2, 4, 2, 0xFFFFFFF0);
        t.Entry(3, 5, 0x40000000, 2);
        t.Entry(4, 3, 1, 5);
        t.U32(0);
        h.ReadFromStream(Stream(t.B, s), static_cast<int32_t>(t.Size()), true);
        ASSERT_EQ(h.Entries.size(), 4u);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(h.Entries[size_t(i)].Count, 0u);
        EXPECT_EQ(h.Entries[3].Value, 5u);
    }
    // A size beyond the stream reads nothing.
    h.ReadFromStream(Stream({1, 0}, s), 100, true);
    EXPECT_EQ(h.GetDataSize(), 0);

    // More than 65000 bytes are not written and the position is kept.
    {
        TBytes t;
        t.U16(1);
        t.Entry(1, 7, 70000, 18);
        t.U32(0);
        t.PadTo(18 + 70000);
        h.ReadFromStream(Stream(t.B, s), static_cast<int32_t>(t.Size()), true);
        ASSERT_EQ(h.Entries.size(), 1u);
        classlib::TMemoryStream out;
        out.WriteBuffer("abc", 3);
        EXPECT_EQ(h.WriteToStream(&out, true), 0);
        EXPECT_EQ(out.GetPosition(), 3);
        EXPECT_EQ(out.GetSize(), 3);
    }
}
