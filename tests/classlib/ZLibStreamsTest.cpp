#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/ZLibStreams.h"
#include "support/TestSupport.h"

using namespace classlib;

namespace {

using Bytes = std::vector<unsigned char>;

// Text-like data that compresses well, with a noisy stretch so that the
// compressed form spans several 64 KiB buffers when `noisy` is large.
Bytes Sample(size_t size, size_t noisy)
{
    Bytes b(size);
    uint32_t x = 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = i < noisy ? static_cast<unsigned char>(x >> 24) : static_cast<unsigned char>("album page "[i % 11]);
    }
    return b;
}

Bytes Compress(const Bytes& data, int level)
{
    TMemoryStream out;
    {
        TCompressionStream z(level, &out);
        z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
        EXPECT_EQ(z.GetPosition(), static_cast<int64_t>(data.size()));
        z.Finish();
    }
    auto* p = static_cast<unsigned char*>(out.GetMemory());
    return Bytes(p, p + out.GetSize());
}

TEST(ZLibStreams, RoundTripAtEachLevel)
{
    const Bytes data = Sample(300000, 100000);
    size_t storedSize = 0, maxSize = 0;
    for (int level : {int(zcNone), int(zcFastest), int(zcDefault), int(zcMax), 5}) {
        SCOPED_TRACE(level);
        Bytes packed = Compress(data, level);
        ASSERT_GE(packed.size(), 2u);
        EXPECT_EQ(packed[0], 0x78);  // zlib header: deflate, 32 KiB window
        EXPECT_EQ(ZDecompress(packed), data);
        EXPECT_EQ(ZDecompress(ZCompress(data, level)), data);

        TStringStream src(std::string(packed.begin(), packed.end()));
        TDecompressionStream z(&src);
        Bytes back(data.size());
        z.ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
        EXPECT_EQ(back, data);
        EXPECT_EQ(z.Read(back.data(), 1), 0);
        if (level == zcNone) storedSize = packed.size();
        if (level == zcMax) maxSize = packed.size();
    }
    EXPECT_GT(storedSize, data.size());  // stored blocks
    EXPECT_LT(maxSize, data.size() / 2);
    EXPECT_EQ(ZDecompress(ZCompress(Bytes())), Bytes());
    EXPECT_THROW(TCompressionStream(10, nullptr), EZCompressionError);
    EXPECT_THROW(ZCompress(data, -2), EZCompressionError);
}

TEST(ZLibStreams, DecompressorStopsExactlyAtTheEndOfTheCompressedData)
{
    testsupport::TempDir dir;
    const std::string head = "HEAD", tail = "TAIL-BYTES";
    // The decompressor reads its input in 64 KiB blocks. Cases: all in one
    // block; several blocks; the 4-byte trailer split between two blocks, so
    // the end is only found after the last data byte has been delivered.
    struct Case {
        Bytes data, packed;
    };
    std::vector<Case> cases;
    for (size_t noisy : {size_t(0), size_t(150000)}) {
        Bytes data = Sample(160000, noisy);
        cases.push_back({data, Compress(data, zcDefault)});
    }
    for (size_t n = 65400; n < 65600 && cases.size() < 3; ++n) {
        Bytes data = Sample(n, n);
        Bytes packed = Compress(data, zcNone);
        if (packed.size() > 65536 && packed.size() < 65536 + 4) cases.push_back({data, packed});
    }
    ASSERT_EQ(cases.size(), 3u);
    for (const auto& [data, packed] : cases) {
        for (bool file : {false, true}) {
            for (bool exactRead : {true, false}) {
                SCOPED_TRACE(std::to_string(packed.size()) + (file ? " file" : " memory") +
                             (exactRead ? " exact" : " larger"));
                std::unique_ptr<TStream> src;
                if (file)
                    src = std::make_unique<TFileStream>(dir.File(L"z.bin"), fmCreate);
                else
                    src = std::make_unique<TMemoryStream>();
                src->WriteBuffer(head.data(), 4);
                src->WriteBuffer(packed.data(), static_cast<int64_t>(packed.size()));
                src->WriteBuffer(tail.data(), static_cast<int64_t>(tail.size()));
                src->SetPosition(4);

                Bytes back(data.size() + (exactRead ? 0 : 1000));
                {
                    TDecompressionStream z(src.get());
                    EXPECT_EQ(z.Read(back.data(), static_cast<int64_t>(back.size())),
                              static_cast<int64_t>(data.size()));
                    back.resize(data.size());
                    EXPECT_EQ(back, data);
                    // The source is positioned right after the compressed data
                    // as soon as the last byte has been read.
                    EXPECT_EQ(src->GetPosition(), static_cast<int64_t>(4 + packed.size()));
                    EXPECT_EQ(z.Read(back.data(), 10), 0);
                    EXPECT_EQ(src->GetPosition(), static_cast<int64_t>(4 + packed.size()));
                }
                std::string rest(tail.size(), '\0');
                src->ReadBuffer(rest.data(), static_cast<int64_t>(rest.size()));
                EXPECT_EQ(rest, tail);
            }
        }
    }
}

TEST(ZLibStreams, DamagedOrTruncatedDataRaises)
{
    const Bytes data = Sample(100000, 50000);
    const Bytes packed = Compress(data, zcDefault);
    struct Case {
        const char* name;
        Bytes input;
    };
    ASSERT_GT(packed.size(), 100u);
    Bytes corrupt = packed;
    corrupt.at(packed.size() / 2) ^= 0x55;
    Bytes badChecksum = packed;
    badChecksum.at(packed.size() - 1) ^= 1;
    const Case cases[] = {
        {"half", Bytes(packed.begin(), packed.begin() + packed.size() / 2)},
        {"no checksum", Bytes(packed.begin(), packed.end() - 4)},
        {"empty", Bytes()},
        {"bad header", Bytes{0x12, 0x34, 0x56, 0x78}},
        {"corrupt", corrupt},
        {"bad checksum", badChecksum},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(ZDecompress(c.input), EZDecompressionError);
        TStringStream src(std::string(c.input.begin(), c.input.end()));
        TDecompressionStream z(&src);
        Bytes back(data.size() + 1);
        EXPECT_THROW(z.Read(back.data(), static_cast<int64_t>(back.size())), EZDecompressionError);
    }
}

TEST(ZLibStreams, DecompressionSeeksByRereading)
{
    const Bytes data = Sample(100000, 20000);
    const Bytes packed = Compress(data, zcFastest);
    TStringStream src("xx" + std::string(packed.begin(), packed.end()));
    src.SetPosition(2);
    TDecompressionStream z(&src);
    unsigned char b[4];
    EXPECT_EQ(z.Seek(50000, soBeginning), 50000);
    z.ReadBuffer(b, 4);
    EXPECT_EQ(Bytes(b, b + 4), Bytes(data.begin() + 50000, data.begin() + 50004));
    EXPECT_EQ(z.Seek(-50004, soCurrent), 0);
    z.ReadBuffer(b, 4);
    EXPECT_EQ(Bytes(b, b + 4), Bytes(data.begin(), data.begin() + 4));
    EXPECT_EQ(z.Seek(1000000, soCurrent), 100000);  // stops at the end
    EXPECT_THROW(z.Seek(0, soEnd), EZDecompressionError);
    EXPECT_THROW(z.Write(b, 1), EZDecompressionError);
}

}  // namespace
