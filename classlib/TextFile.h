// Line-oriented text files named by wide paths: writing (create or append)
// and reading, one direction per opening. Lines are written with CR LF and
// read split at LF (a CR before the LF is dropped). Text is converted between
// UTF-16 and the file's byte encoding: the system ANSI code page by default,
// or UTF-8 (written without a byte-order mark; a UTF-8 byte-order mark at the
// start of a file read as UTF-8 is skipped).
//
// A file opened with RewriteReplacing is written beside its name and takes
// the place of the old file only when Close has written all of it to the
// disk: an existing file is either replaced whole or left as it was.
//
// Every failure raises EInOutError whose message names the file and carries
// the system's error text, e.g. "Cannot open file \"C:\x.txt\". The system
// cannot find the file specified." Using a file that is not open for the
// operation raises EInOutError "File not open for output" / "File not open
// for input".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace classlib {

enum TTextFileEncoding { teAnsi, teUtf8 };

class TTextFile {
public:
    TTextFile() = default;
    // Closes the file; a failure to write the last buffered text is lost
    // here, so writers call Close themselves. A file opened with
    // RewriteReplacing and not closed is discarded: FileName stays as it was.
    ~TTextFile();
    TTextFile(const TTextFile&) = delete;
    TTextFile& operator=(const TTextFile&) = delete;

    // Creates the file, or empties an existing one, for writing.
    void Rewrite(const std::wstring& FileName, TTextFileEncoding Encoding = teAnsi);
    // Creates a temporary file in FileName's folder for writing; Close
    // writes it through to the disk and moves it into FileName's place in
    // one step. When any step fails (writing, a full disk, the move) the
    // temporary file is removed, FileName keeps its old bytes (or stays
    // missing) and EInOutError names FileName with the system's reason.
    void RewriteReplacing(const std::wstring& FileName, TTextFileEncoding Encoding = teAnsi);
    // Opens the file for writing at its end; creates it when missing.
    void Append(const std::wstring& FileName, TTextFileEncoding Encoding = teAnsi);
    // Opens an existing file for reading from its start.
    void Reset(const std::wstring& FileName, TTextFileEncoding Encoding = teAnsi);
    // Writes any buffered text and closes the file (for RewriteReplacing:
    // puts it in place, see there). Nothing when not open.
    void Close();

    bool IsOpen() const { return FHandle != nullptr; }

    // Tests only: when set, called with the file's name before each write;
    // it returns how many bytes the file may hold in all, and writing beyond
    // that fails with ERROR_DISK_FULL as on a full disk (UINT64_MAX: no
    // limit). Set and cleared by one thread while no file is written.
    static std::function<std::uint64_t(const std::wstring& FileName)> DiskSpaceForTests;
    const std::wstring& GetFileName() const { return FFileName; }

    // Writing: Text converted to the file's encoding; WriteLn adds CR LF.
    void Write(const std::wstring& Text);
    void WriteLn(const std::wstring& Text = std::wstring());
    // Writes the buffered text to the file.
    void Flush();

    // Reading: the next line without its line end; at the end of the file an
    // empty string. The last line needs no line end.
    std::wstring ReadLn();
    // True when no byte is left to read.
    bool Eof();

private:
    enum TMode { tmClosed, tmWrite, tmRead };

    void Open(const std::wstring& FileName, TTextFileEncoding Encoding, TMode Mode, unsigned long Disposition);
    [[noreturn]] void Fail(const wchar_t* What, unsigned long Code) const;
    bool FillBuffer();
    void CloseHandleOnly();
    void DiscardTemporary();
    void PutInPlace();
    std::wstring Decode(const std::string& Bytes) const;
    void CheckMode(TMode Mode) const;

    void* FHandle = nullptr;  // a Win32 file HANDLE while open
    std::wstring FFileName;
    TTextFileEncoding FEncoding = teAnsi;
    TMode FMode = tmClosed;
    std::string FBuffer;  // pending output, or input not yet consumed
    size_t FReadPos = 0;  // next unread byte of FBuffer while reading
    std::uint64_t FWritten = 0;  // bytes written since the file was opened
    // RewriteReplacing: the temporary file written in FFileName's stead.
    std::wstring FTemporary;
};

}  // namespace classlib
