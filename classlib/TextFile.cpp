#include "classlib/TextFile.h"

#include <windows.h>

#include <algorithm>

#include "classlib/Exceptions.h"
#include "classlib/SysUtils.h"
#include "classlib/TextConv.h"

namespace classlib {

namespace {

constexpr size_t kBufferSize = 0x10000;

}  // namespace

std::function<std::uint64_t(const std::wstring&)> TTextFile::DiskSpaceForTests;

TTextFile::~TTextFile()
{
    if (!FTemporary.empty()) {
        DiscardTemporary();
        return;
    }
    try {
        Close();
    } catch (...) {
        // A destructor cannot report; writers call Close themselves.
    }
}

void TTextFile::Fail(const wchar_t* What, unsigned long Code) const
{
    throw EInOutError(std::wstring(What) + L" \"" + FFileName + L"\". " + SysErrorMessage(Code));
}

void TTextFile::Open(const std::wstring& FileName, TTextFileEncoding Encoding, TMode Mode,
                     unsigned long Disposition)
{
    Close();
    FFileName = FileName;
    HANDLE h = ::CreateFileW(FileName.c_str(), Mode == tmWrite ? GENERIC_WRITE : GENERIC_READ,
                             FILE_SHARE_READ, nullptr, Disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        Fail(Disposition == CREATE_ALWAYS ? L"Cannot create file" : L"Cannot open file", ::GetLastError());
    if (Mode == tmWrite && Disposition == OPEN_ALWAYS) {
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(h, zero, nullptr, FILE_END)) {
            DWORD err = ::GetLastError();
            ::CloseHandle(h);
            Fail(L"Cannot open file", err);
        }
    }
    FHandle = h;
    FEncoding = Encoding;
    FMode = Mode;
    FBuffer.clear();
    FReadPos = 0;
    FWritten = 0;
}

void TTextFile::Rewrite(const std::wstring& FileName, TTextFileEncoding Encoding)
{
    Open(FileName, Encoding, tmWrite, CREATE_ALWAYS);
}

void TTextFile::RewriteReplacing(const std::wstring& FileName, TTextFileEncoding Encoding)
{
    Close();
    FFileName = FileName;
    std::wstring folder = ExtractFilePath(FileName);
    if (folder.empty()) folder = L".";
    wchar_t temporary[MAX_PATH + 1] = {};
    // Creates the empty temporary file under a name no other file has.
    if (!::GetTempFileNameW(folder.c_str(), L"~wr", 0, temporary)) Fail(L"Cannot create file", ::GetLastError());
    try {
        Open(temporary, Encoding, tmWrite, CREATE_ALWAYS);
    } catch (...) {
        ::DeleteFileW(temporary);
        FFileName = FileName;
        throw;
    }
    // Failures name the file the user chose, not the temporary one.
    FFileName = FileName;
    FTemporary = temporary;
}

void TTextFile::Append(const std::wstring& FileName, TTextFileEncoding Encoding)
{
    Open(FileName, Encoding, tmWrite, OPEN_ALWAYS);
}

void TTextFile::Reset(const std::wstring& FileName, TTextFileEncoding Encoding)
{
    Open(FileName, Encoding, tmRead, OPEN_EXISTING);
    if (Encoding == teUtf8) {
        // Gather the first three bytes (a read may return fewer) to test for
        // a byte-order mark.
        while (FBuffer.size() < 3) {
            std::string have = FBuffer;
            if (!FillBuffer()) {
                FBuffer = have;
                break;
            }
            FBuffer.insert(0, have);
        }
        if (FBuffer.compare(0, 3, "\xEF\xBB\xBF") == 0) FReadPos = 3;
    }
}

void TTextFile::CloseHandleOnly()
{
    if (FHandle) ::CloseHandle(FHandle);
    FHandle = nullptr;
    FMode = tmClosed;
    FBuffer.clear();
    FReadPos = 0;
}

void TTextFile::DiscardTemporary()
{
    CloseHandleOnly();
    if (!FTemporary.empty()) ::DeleteFileW(FTemporary.c_str());
    FTemporary.clear();
}

// Flushes the temporary file to the disk and moves it over the target; on
// failure the target is untouched and the temporary file removed.
void TTextFile::PutInPlace()
{
    Flush();  // discards the temporary file itself when it fails
    if (!::FlushFileBuffers(FHandle)) {
        const DWORD err = ::GetLastError();
        DiscardTemporary();
        Fail(L"Cannot write to file", err);
    }
    CloseHandleOnly();
    if (!::MoveFileExW(FTemporary.c_str(), FFileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD err = ::GetLastError();
        DiscardTemporary();
        Fail(L"Cannot replace file", err);
    }
    FTemporary.clear();
}

void TTextFile::Close()
{
    if (!IsOpen()) return;
    if (!FTemporary.empty()) {
        PutInPlace();
        return;
    }
    try {
        if (FMode == tmWrite) Flush();
    } catch (...) {
        CloseHandleOnly();
        throw;
    }
    CloseHandleOnly();
}

void TTextFile::CheckMode(TMode Mode) const
{
    if (FMode == Mode) return;
    if (FMode == tmClosed) throw EInOutError(L"File not open");
    throw EInOutError(Mode == tmWrite ? L"File not open for output" : L"File not open for input");
}

void TTextFile::Write(const std::wstring& Text)
{
    CheckMode(tmWrite);
    FBuffer += FEncoding == teUtf8 ? WideToUtf8(Text) : WideToAnsi(Text);
    if (FBuffer.size() >= kBufferSize) Flush();
}

void TTextFile::WriteLn(const std::wstring& Text)
{
    Write(Text);
    FBuffer += "\r\n";
    if (FBuffer.size() >= kBufferSize) Flush();
}

void TTextFile::Flush()
{
    CheckMode(tmWrite);
    size_t done = 0;
    while (done < FBuffer.size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(FBuffer.size() - done, 1u << 30));
        if (DiskSpaceForTests) {
            const std::uint64_t space = DiskSpaceForTests(FFileName);
            const std::uint64_t room = space > FWritten ? space - FWritten : 0;
            if (room == 0) {
                FBuffer.clear();
                if (!FTemporary.empty()) DiscardTemporary();
                Fail(L"Cannot write to file", ERROR_DISK_FULL);
            }
            want = static_cast<DWORD>(std::min<std::uint64_t>(want, room));
        }
        DWORD put = 0;
        if (!::WriteFile(FHandle, FBuffer.data() + done, want, &put, nullptr) || put == 0) {
            DWORD err = ::GetLastError();
            FBuffer.clear();
            // A replacing file that lost text must never be put in place.
            if (!FTemporary.empty()) DiscardTemporary();
            Fail(L"Cannot write to file", put == 0 && err == 0 ? ERROR_WRITE_FAULT : err);
        }
        done += put;
        FWritten += put;
    }
    FBuffer.clear();
}

// Replaces the consumed buffer with the next block of the file; false at its
// end.
bool TTextFile::FillBuffer()
{
    FBuffer.resize(kBufferSize);
    FReadPos = 0;
    DWORD got = 0;
    if (!::ReadFile(FHandle, FBuffer.data(), static_cast<DWORD>(kBufferSize), &got, nullptr)) {
        DWORD err = ::GetLastError();
        FBuffer.clear();
        Fail(L"Cannot read from file", err);
    }
    FBuffer.resize(got);
    return got > 0;
}

std::wstring TTextFile::Decode(const std::string& Bytes) const
{
    return FEncoding == teUtf8 ? Utf8ToWide(Bytes) : AnsiToWide(Bytes);
}

std::wstring TTextFile::ReadLn()
{
    CheckMode(tmRead);
    std::string line;
    for (;;) {
        if (FReadPos >= FBuffer.size() && !FillBuffer()) break;
        size_t lf = FBuffer.find('\n', FReadPos);
        if (lf == std::string::npos) {
            line.append(FBuffer, FReadPos, std::string::npos);
            FReadPos = FBuffer.size();
            continue;
        }
        line.append(FBuffer, FReadPos, lf - FReadPos);
        FReadPos = lf + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        break;
    }
    return Decode(line);
}

bool TTextFile::Eof()
{
    CheckMode(tmRead);
    return FReadPos >= FBuffer.size() && !FillBuffer();
}

}  // namespace classlib
