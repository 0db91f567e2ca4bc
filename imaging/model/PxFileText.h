// File and text services shared by the toolkit's readers, writers, views and
// dialogs: files opened by UTF-16 names, a list of wide strings, a retrying
// clipboard opener, text routines on single-byte strings (converted through
// the system code page), file-name and URL routines, number conversions and
// stream copying. The routines hold no state and may be called from any
// thread (PxOpenClipboard from a thread with a message queue).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/Lists.h"
#include "classlib/Persistent.h"
#include "classlib/Stream.h"
#include "classlib/Streams.h"

namespace imaging {

// Set false by the I/O unit's start-up; when true PxFileExists uses the
// class library's file test instead of the platform call.
extern bool PxUseRuntimeFileExists;

// ---- files by wide names

// The mode value that makes TPxWideFileStream create (or truncate) a file.
constexpr uint32_t pxFmCreate = 0xFFFF;

// CreateFileW (every supported platform is of the NT family).
HANDLE PxCreateFileW(const std::wstring& name, DWORD access, DWORD sharing, SECURITY_ATTRIBUTES* security,
                     DWORD disposition, DWORD attributes, HANDLE templateFile);
// Read/write access, no sharing, CREATE_ALWAYS.
HANDLE PxFileCreateW(const std::wstring& name);
// Opens an existing file: mode bits 0-1 are the access (0 read, 1 write,
// 2 both), bits 4-7 the sharing (0 and 1 exclusive, 2 others may read,
// 3 others may write, 4 both). INVALID_HANDLE_VALUE for an invalid mode
// (access 3 or sharing above 4) without calling the platform, or on failure.
HANDLE PxFileOpenW(const std::wstring& name, uint32_t mode);

// A stream over a file named by a UTF-16 name; owns and closes its handle.
// mode pxFmCreate creates (or empties) the file; any other mode opens an
// existing file as PxFileOpenW does. Raises EFCreateError "Cannot create
// file \"<full name>\". <system message>" or EFOpenError "Cannot open file
// \"<full name>\". <system message>".
class TPxWideFileStream : public classlib::THandleStream {
public:
    TPxWideFileStream(const std::wstring& fileName, uint32_t mode);
    ~TPxWideFileStream() override;
    TPxWideFileStream(const TPxWideFileStream&) = delete;
    TPxWideFileStream& operator=(const TPxWideFileStream&) = delete;
    std::wstring ClassName() const override { return L"TPxWideFileStream"; }
};

// ---- list of wide strings

// Heap copies of zero-terminated UTF-16 strings in insertion order.
class TPxWideStrings : public classlib::TObject {
public:
    TPxWideStrings() = default;
    ~TPxWideStrings() override { Clear(); }
    TPxWideStrings(const TPxWideStrings&) = delete;
    TPxWideStrings& operator=(const TPxWideStrings&) = delete;
    std::wstring ClassName() const override { return L"TPxWideStrings"; }

    void Clear();
    // Appends a copy of the text with its terminator.
    void Add(const std::wstring& text);
    // The string at index (0 .. GetCount() - 1); empty for another index.
    std::wstring GetString(int index) const;
    int GetCount() const { return static_cast<int>(items_.size()); }

private:
    std::vector<wchar_t*> items_;
};

// ---- clipboard

// OpenClipboard with no owner window: up to 10 attempts, 20 ms apart.
bool PxOpenClipboard();

// ---- text on single-byte strings (system code page)

std::string PxTrimA(const std::string& s);
std::string PxUpperCaseA(const std::string& s);
std::string PxLowerCaseA(const std::string& s);
std::string PxIntToStrA(int64_t n);
int PxStrToIntDefA(const std::string& s, int defaultValue);
// count characters from the 1-based position index.
std::string PxCopyA(const std::string& s, int index, int count);
// 1-based position of sub in s, 0 when absent.
int PxPosA(const std::string& sub, const std::string& s);
std::string PxIntToHexA(int64_t n, int digits);
// The class library's float formatting (format: classlib::TFloatFormat).
std::wstring PxFloatToStrF(double value, int format, int precision, int digits);
// A new[]-allocated zero-terminated copy (nullptr for nullptr); the caller
// frees it with delete[].
char* PxStrNew(const char* s);
// Copies a zero-terminated UTF-16 string with its terminator; returns dest.
wchar_t* PxStrCopyW(wchar_t* dest, const wchar_t* source);
// The class library's text-to-float conversion; when it fails, tried again
// with the first "," replaced by "." (or, without ",", the first "." by
// ","); the default when that fails too.
double PxStrToFloatDef(const std::wstring& s, double defaultValue);

// ---- file names and URLs

// The extension of the lower-cased name (from the last "." after the last
// path separator), with or without the dot; empty when there is none.
std::wstring PxExtractFileExt(const std::wstring& name, bool withDot);
std::string PxExtractFileExtA(const std::string& name, bool withDot);
std::wstring PxExtractFileExtWS(const std::wstring& name, bool withDot = true);
// Up to and including the last "\" or ":".
std::wstring PxExtractFilePathWS(const std::wstring& name);
// The part after the last "\" or ":".
std::wstring PxExtractFileNameWS(const std::wstring& name);
// The name is an existing file, not a folder.
bool PxFileExists(const std::wstring& name);
bool PxFileExistsWS(const std::wstring& name);
// 1 "http://", 2 "https://", 3 "ftp://" (case-insensitive prefix), else 0.
int PxIsURL(const std::wstring& text);

// ---- numbers, streams

// A fraction close to value: |value - numerator / denominator| < accuracy
// where 32-bit terms allow it; otherwise the closest continued-fraction
// step whose terms fit in 32 bits. Values beyond the 32-bit range give
// +-2147483647 / 1.
void PxFloatToRational(double value, double accuracy, int32_t& numerator, int32_t& denominator);

// Copies count bytes from source's position to dest (count 0: the whole
// source from position 0; a count beyond the end is cut). Returns the count.
int64_t PxCopyStream(classlib::TStream* dest, classlib::TStream* source, int64_t count);

// The destination list gets the source's count and pointers, in order.
void PxCopyList(const classlib::TList* source, classlib::TList* dest);

}  // namespace imaging
