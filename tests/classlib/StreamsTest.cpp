#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Streams.h"
#include "classlib/SysUtils.h"
#include "classlib/TextFile.h"
#include "support/TestSupport.h"

using namespace classlib;

namespace {

const char kTen[] = "0123456789";

// A read-only view over caller memory, as the toolkit builds on the custom
// memory stream.
class TViewStream : public TCustomMemoryStream {
public:
    TViewStream(void* p, int64_t n) { SetPointer(p, n); }
};

std::string ReadAll(TStream& s)
{
    s.SetPosition(0);
    std::string out(static_cast<size_t>(s.GetSize()), '\0');
    s.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
    return out;
}

std::string FileBytes(const std::wstring& name)
{
    TFileStream f(name, fmOpenRead | fmShareDenyNone);
    return ReadAll(f);
}

struct StreamKind {
    const char* name;
    std::function<std::unique_ptr<TStream>(const testsupport::TempDir&)> make;  // holds kTen
};

const StreamKind kKinds[] = {
    {"memory",
     [](const testsupport::TempDir&) {
         auto s = std::make_unique<TMemoryStream>();
         s->WriteBuffer(kTen, 10);
         return std::unique_ptr<TStream>(std::move(s));
     }},
    {"string", [](const testsupport::TempDir&) { return std::unique_ptr<TStream>(new TStringStream(std::string(kTen))); }},
    {"file",
     [](const testsupport::TempDir& dir) {
         auto s = std::make_unique<TFileStream>(dir.File(L"seek.bin"), fmCreate);
         s->WriteBuffer(kTen, 10);
         return std::unique_ptr<TStream>(std::move(s));
     }},
};

TEST(Streams, SeekOriginsPastEndAndNegativeTargets)
{
    struct Case {
        int64_t start;
        int64_t offset;
        TSeekOrigin origin;
        int64_t expected;  // -1: rejected, position unchanged
    };
    const Case cases[] = {
        {7, 3, soBeginning, 3},  {3, 2, soCurrent, 5},   {3, -3, soCurrent, 0}, {0, 0, soEnd, 10},
        {0, -4, soEnd, 6},       {0, 5, soEnd, 15},      {2, 20, soBeginning, 20}, {3, -4, soCurrent, -1},
        {3, -1, soBeginning, -1}, {3, -11, soEnd, -1},
    };
    for (const auto& kind : kKinds) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(kind.name) + " start " + std::to_string(c.start) + " offset " +
                         std::to_string(c.offset) + " origin " + std::to_string(c.origin));
            testsupport::TempDir dir;
            auto s = kind.make(dir);
            s->SetPosition(c.start);
            if (c.expected < 0) {
                EXPECT_THROW(s->Seek(c.offset, c.origin), EStreamError);
                EXPECT_EQ(s->GetPosition(), c.start);
            } else {
                EXPECT_EQ(s->Seek(c.offset, c.origin), c.expected);
                EXPECT_EQ(s->GetPosition(), c.expected);
            }
            EXPECT_EQ(s->GetSize(), 10);
        }
    }
}

TEST(Streams, PastTheEndReadsNothingAndWriteExtendsWithZeros)
{
    for (const auto& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        testsupport::TempDir dir;
        auto s = kind.make(dir);
        s->Seek(4, soEnd);
        char b = 'x';
        EXPECT_EQ(s->Read(&b, 1), 0);
        EXPECT_EQ(s->GetSize(), 10);
        s->WriteBuffer("Z", 1);
        EXPECT_EQ(s->GetPosition(), 15);
        EXPECT_EQ(ReadAll(*s), std::string(kTen) + std::string(4, '\0') + "Z");
        // Reading across the end returns the bytes that are there.
        char buf[8];
        s->Seek(-3, soEnd);
        EXPECT_EQ(s->Read(buf, sizeof buf), 3);
        EXPECT_EQ(std::string(buf, 3), std::string("\0\0Z", 3));
    }
}

TEST(Streams, SetSizeCutsOrExtendsAndClampsThePosition)
{
    for (const auto& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        testsupport::TempDir dir;
        auto s = kind.make(dir);
        s->SetPosition(8);
        s->SetSize(4);
        EXPECT_EQ(s->GetSize(), 4);
        EXPECT_EQ(s->GetPosition(), 4);
        s->SetPosition(2);
        s->SetSize(6);
        EXPECT_EQ(s->GetPosition(), 2);
        EXPECT_EQ(ReadAll(*s), std::string("0123\0\0", 6));
    }
}

TEST(Streams, ReadBufferAndWriteBufferRaiseOnShortTransfers)
{
    testsupport::TempDir dir;
    TMemoryStream m;
    m.WriteBuffer(kTen, 10);
    m.SetPosition(6);
    char buf[10];
    try {
        m.ReadBuffer(buf, 5);
        FAIL() << "no exception";
    } catch (const EReadError& e) {
        EXPECT_EQ(e.Message(), L"Stream read error");
    }
    m.SetPosition(6);
    m.ReadBuffer(buf, 4);  // exactly the rest
    EXPECT_EQ(std::string(buf, 4), "6789");

    char foreign[4] = {'a', 'b', 'c', 'd'};
    TViewStream view(foreign, 4);
    EXPECT_EQ(view.Write("x", 1), 0);
    try {
        view.WriteBuffer("x", 1);
        FAIL() << "no exception";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.Message(), L"Stream write error");
    }
    view.ReadBuffer(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_THROW(view.SetSize(2), EStreamError);

    // Streams opened one way only: the failing direction raises.
    {
        TFileStream f(dir.File(L"rw.bin"), fmCreate);
        f.WriteBuffer(kTen, 10);
    }
    TFileStream readOnly(dir.File(L"rw.bin"), fmOpenRead | fmShareDenyNone);
    EXPECT_THROW(readOnly.WriteBuffer("x", 1), EWriteError);
    TFileStream writeOnly(dir.File(L"rw.bin"), fmOpenWrite | fmShareDenyNone);
    EXPECT_THROW(writeOnly.ReadBuffer(buf, 1), EReadError);
}

TEST(Streams, CopyFromCountsAndWholeSource)
{
    TStringStream src{std::string(kTen)};
    TMemoryStream dst;
    src.SetPosition(7);
    EXPECT_EQ(dst.CopyFrom(&src, 0), 10);  // 0: the whole source from its start
    src.SetPosition(2);
    EXPECT_EQ(dst.CopyFrom(&src, 3), 3);
    EXPECT_EQ(dst.CopyFrom(&src, -1), 0);
    EXPECT_EQ(ReadAll(dst), std::string(kTen) + "234");
    EXPECT_THROW(dst.CopyFrom(&src, 6), EReadError);  // only 5 left
}

TEST(Streams, FileStreamErrorsCarryTheNameAndSystemMessage)
{
    testsupport::TempDir dir;
    struct Case {
        std::wstring name;
        unsigned mode;
        bool create;
        DWORD error;
    };
    const Case cases[] = {
        {dir.File(L"missing.bin"), fmOpenRead, false, ERROR_FILE_NOT_FOUND},
        {dir.File(L"no-such-folder\\new.bin"), fmCreate, true, ERROR_PATH_NOT_FOUND},
        {dir.File(L"no-such-folder\\old.bin"), fmOpenReadWrite, false, ERROR_PATH_NOT_FOUND},
        // A relative name is reported expanded.
        {L"velmo-no-such-folder\\rel.bin", fmCreate, true, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
        ASSERT_FALSE(SysErrorMessage(c.error).empty());
        std::wstring expected = std::wstring(c.create ? L"Cannot create file \"" : L"Cannot open file \"") +
                                ExpandFileName(c.name) + L"\". " + SysErrorMessage(c.error);
        try {
            TFileStream f(c.name, c.mode);
            ADD_FAILURE() << "no exception";
        } catch (const EFCreateError& e) {
            EXPECT_TRUE(c.create);
            EXPECT_EQ(e.Message(), expected);
        } catch (const EFOpenError& e) {
            EXPECT_FALSE(c.create);
            EXPECT_EQ(e.Message(), expected);
        }
    }
    // An invalid access mode fails without touching the file.
    {
        TFileStream f(dir.File(L"there.bin"), fmCreate);
    }
    try {
        TFileStream f(dir.File(L"there.bin"), 3);
        ADD_FAILURE() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), L"Cannot open file \"" + dir.File(L"there.bin") + L"\". " +
                                   SysErrorMessage(ERROR_INVALID_PARAMETER));
    }
    EXPECT_TRUE(FileExists(dir.File(L"there.bin")));
}

TEST(Streams, ShareModesDecideWhetherASecondOpenSucceeds)
{
    testsupport::TempDir dir;
    const std::wstring name = dir.File(L"shared.bin");
    {
        TFileStream f(name, fmCreate);
        f.WriteBuffer(kTen, 10);
    }
    struct Case {
        unsigned first;
        unsigned second;
        bool allowed;
    };
    const Case cases[] = {
        {fmOpenRead | fmShareExclusive, fmOpenRead | fmShareDenyNone, false},
        {fmOpenReadWrite | fmShareExclusive, fmOpenRead | fmShareDenyNone, false},
        {fmOpenRead | fmShareDenyWrite, fmOpenRead | fmShareDenyNone, true},
        {fmOpenRead | fmShareDenyWrite, fmOpenWrite | fmShareDenyNone, false},
        {fmOpenRead | fmShareDenyRead, fmOpenRead | fmShareDenyNone, false},
        {fmOpenRead | fmShareDenyNone, fmOpenReadWrite | fmShareDenyNone, true},
        {fmCreate | fmShareDenyNone, fmOpenRead | fmShareDenyNone, false},  // fmCreate is exclusive
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " then " + std::to_string(c.second));
        TFileStream first(name, c.first);
        if (c.allowed)
            EXPECT_NO_THROW(TFileStream(name, c.second));
        else
            EXPECT_THROW(TFileStream(name, c.second), EFOpenError);
    }
}

TEST(Streams, MemoryStreamGrowsLoadsAndSaves)
{
    testsupport::TempDir dir;
    std::string data(200000, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);

    TMemoryStream m;
    for (size_t at = 0; at < data.size(); at += 1000) m.WriteBuffer(data.data() + at, 1000);
    ASSERT_EQ(m.GetSize(), 200000);
    EXPECT_EQ(std::memcmp(m.GetMemory(), data.data(), data.size()), 0);

    // Writing part of its own block while growing it.
    m.SetPosition(m.GetSize());
    m.WriteBuffer(m.GetMemory(), 100000);
    EXPECT_EQ(m.GetSize(), 300000);
    EXPECT_EQ(std::memcmp(static_cast<char*>(m.GetMemory()) + 200000, data.data(), 100000), 0);
    m.SetSize(200000);

    m.SaveToFile(dir.File(L"mem.bin"));
    EXPECT_EQ(FileBytes(dir.File(L"mem.bin")), data);

    TMemoryStream loaded;
    loaded.WriteBuffer("old content", 11);
    loaded.LoadFromFile(dir.File(L"mem.bin"));
    EXPECT_EQ(loaded.GetPosition(), 0);
    EXPECT_EQ(ReadAll(loaded), data);

    TStringStream copy;
    loaded.SaveToStream(&copy);
    EXPECT_EQ(copy.GetBytes(), data);

    loaded.Clear();
    EXPECT_EQ(loaded.GetSize(), 0);
    EXPECT_EQ(loaded.GetPosition(), 0);
    EXPECT_EQ(loaded.GetMemory(), nullptr);
    EXPECT_THROW(loaded.LoadFromFile(dir.File(L"absent.bin")), EFOpenError);
}

TEST(Streams, StringStreamHoldsTextAsUtf16Bytes)
{
    const std::wstring text = L"Gr\u00fc\u00dfe \u4e16\u754c";
    TStringStream s(text);
    EXPECT_EQ(s.GetSize(), static_cast<int64_t>(text.size() * 2));
    EXPECT_EQ(s.GetBytes().substr(0, 4), std::string("G\0r\0", 4));
    EXPECT_EQ(s.GetDataString(), text);
    s.Seek(0, soEnd);
    s.WriteBuffer("!", 1);  // an odd byte is not part of the text
    EXPECT_EQ(s.GetDataString(), text);
    s.WriteBuffer("\0", 1);
    EXPECT_EQ(s.GetDataString(), text + L"!");
}

TEST(Streams, HandleStreamBorrowsItsHandle)
{
    testsupport::TempDir dir;
    HANDLE h = ::CreateFileW(dir.File(L"h.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    {
        THandleStream s(h);
        s.WriteBuffer(kTen, 10);
        EXPECT_EQ(s.GetSize(), 10);
    }
    // Still open after the stream is gone.
    LARGE_INTEGER zero{}, pos;
    EXPECT_TRUE(::SetFilePointerEx(h, zero, &pos, FILE_CURRENT));
    EXPECT_EQ(pos.QuadPart, 10);
    ::CloseHandle(h);
}

// ---------------------------------------------------------------------------
// Text files

TEST(TextFile, WritesCrLfLinesAndReadsThemBackInEachEncoding)
{
    testsupport::TempDir dir;
    struct Case {
        TTextFileEncoding encoding;
        std::wstring line;
        std::string bytes;  // the line as stored
    };
    const Case cases[] = {
        {teUtf8, L"K\u00f6ln \u4e16|\u20ac", "K\xC3\xB6ln \xE4\xB8\x96|\xE2\x82\xAC"},
        {teAnsi, L"plain text", "plain text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        const std::wstring name = dir.File(L"round.txt");
        TTextFile out;
        out.Rewrite(name, c.encoding);
        out.Write(c.line);
        out.WriteLn();
        out.WriteLn(L"");
        out.WriteLn(L"last");
        out.Close();
        EXPECT_EQ(FileBytes(name), c.bytes + "\r\n\r\nlast\r\n");

        out.Append(name, c.encoding);
        out.Write(L"tail");
        out.Close();

        TTextFile in;
        in.Reset(name, c.encoding);
        std::vector<std::wstring> lines;
        while (!in.Eof()) lines.push_back(in.ReadLn());
        EXPECT_EQ(lines, (std::vector<std::wstring>{c.line, L"", L"last", L"tail"}));
        EXPECT_EQ(in.ReadLn(), L"");
        in.Close();
    }
}

TEST(TextFile, ReadSplitsAtLfAndAcrossBufferBoundaries)
{
    testsupport::TempDir dir;
    const std::string longLine(70000, 'a');
    {
        TFileStream f(dir.File(L"in.txt"), fmCreate);
        std::string bytes = "\xEF\xBB\xBFone\ntwo\r\n\r\nthr\ree\r\n" + longLine + "\r\n\xC3\xA9nd";
        f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    TTextFile in;
    in.Reset(dir.File(L"in.txt"), teUtf8);
    std::vector<std::wstring> lines;
    while (!in.Eof()) lines.push_back(in.ReadLn());
    EXPECT_EQ(lines, (std::vector<std::wstring>{L"one", L"two", L"", L"thr\ree",
                                                std::wstring(longLine.begin(), longLine.end()), L"\u00e9nd"}));
}

TEST(TextFile, FailuresRaiseInOutErrorWithTheSystemMessage)
{
    testsupport::TempDir dir;
    TTextFile f;
    try {
        f.Reset(dir.File(L"missing.txt"));
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(),
                  L"Cannot open file \"" + dir.File(L"missing.txt") + L"\". " + SysErrorMessage(ERROR_FILE_NOT_FOUND));
    }
    try {
        f.Rewrite(dir.File(L"nowhere\\x.txt"));
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), L"Cannot create file \"" + dir.File(L"nowhere\\x.txt") + L"\". " +
                                   SysErrorMessage(ERROR_PATH_NOT_FOUND));
    }
    EXPECT_FALSE(f.IsOpen());
    EXPECT_THROW(f.WriteLn(L"x"), EInOutError);

    f.Rewrite(dir.File(L"w.txt"));
    EXPECT_THROW(f.ReadLn(), EInOutError);
    // Another writer holds the file exclusively: opening fails cleanly.
    TFileStream lock(dir.File(L"locked.txt"), fmCreate);
    EXPECT_THROW(f.Append(dir.File(L"locked.txt")), EInOutError);
    EXPECT_FALSE(f.IsOpen());
}

// A replacing write changes nothing until Close: a file dropped unclosed,
// or whose place is held by another program, leaves the old bytes and no
// temporary file; Close puts the whole new text in place.
TEST(TextFile, ReplacingWriteTakesEffectOnlyWhenClosed)
{
    testsupport::TempDir dir;
    const std::wstring name = dir.File(L"list.txt");
    {
        TFileStream old(name, fmCreate);
        old.WriteBuffer("old\r\n", 5);
    }
    const auto names = [&] {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW fd;
        HANDLE h = ::FindFirstFileW((dir.Path() + L"\\*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return found;
        do {
            if (fd.cFileName[0] != L'.') found.push_back(fd.cFileName);
        } while (::FindNextFileW(h, &fd));
        ::FindClose(h);
        return found;
    };
    {
        TTextFile dropped;
        dropped.RewriteReplacing(name);
        dropped.WriteLn(L"new");
        dropped.Flush();
        EXPECT_EQ(FileBytes(name), "old\r\n");
    }
    EXPECT_EQ(FileBytes(name), "old\r\n");
    EXPECT_EQ(names(), std::vector<std::wstring>{L"list.txt"});

    TTextFile f;
    f.RewriteReplacing(name);
    f.WriteLn(L"new");
    {
        // Another program reads the file without letting it be replaced.
        HANDLE held = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_THROW(f.Close(), EInOutError);
        ::CloseHandle(held);
    }
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(FileBytes(name), "old\r\n");
    EXPECT_EQ(names(), std::vector<std::wstring>{L"list.txt"});

    f.RewriteReplacing(name);
    f.WriteLn(L"new");
    f.Close();
    EXPECT_EQ(FileBytes(name), "new\r\n");
    EXPECT_EQ(names(), std::vector<std::wstring>{L"list.txt"});
}

}  // namespace
