// General routines of the class library: number and text conversion, the
// printf-like Format, string helpers, exact rounding, file-name and file
// routines, dates and times, random numbers and platform facts.
//
// Strings are UTF-16 (std::wstring). Positions given to and returned by the
// Pos/Copy helpers are 1-based, as in the rest of the library. Routines raise
// exceptions derived from classlib::Exception; the Try.../...Def forms never
// raise for bad input. All routines are thread-safe unless noted otherwise.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "classlib/Exceptions.h"

struct _SYSTEMTIME;

// MulDiv is the Win32 routine itself; it is declared here (identically to the
// system header) so that the library's name refers to the very same function
// and no ambiguity arises in code that also includes <windows.h>.
extern "C" __declspec(dllimport) int __stdcall MulDiv(int nNumber, int nNumerator, int nDenominator);

namespace classlib {

// ---------------------------------------------------------------------------
// Integers

std::wstring IntToStr(std::int64_t value);

// Upper-case hexadecimal text of value, zero-padded to at least digits
// characters. Negative values are shown in two's complement of their own
// width: IntToHex(-1, 1) is "FFFFFFFF" for an int, 16 digits for an int64.
std::wstring IntToHexBits(std::uint64_t value, int digits);
template <std::integral T>
std::wstring IntToHex(T value, int digits)
{
    using U = std::make_unsigned_t<T>;
    return IntToHexBits(static_cast<std::uint64_t>(static_cast<U>(value)), digits);
}

// Text to integer: optional blanks before the number, an optional sign and
// decimal digits, or hexadecimal digits after "$", "0x" or "0X"; nothing may
// follow. Decimal values outside the result type are no valid integers;
// hexadecimal ones may use the type's full unsigned range and are read in
// two's complement ("$FFFFFFFF" is -1 for an int).
// StrToInt raises EConvertError "'%s' is not a valid integer value".
bool TryStrToInt(const std::wstring& s, int& value);
bool TryStrToInt64(const std::wstring& s, std::int64_t& value);
int StrToInt(const std::wstring& s);
std::int64_t StrToInt64(const std::wstring& s);
int StrToIntDef(const std::wstring& s, int defaultValue);
std::int64_t StrToInt64Def(const std::wstring& s, std::int64_t defaultValue);

// ---------------------------------------------------------------------------
// Floating point

// The decimal separator used by the float routines and Format. Set from the
// user's locale (LOCALE_SDECIMAL) when the program starts; a program may
// overwrite it, from the main thread while no other thread formats numbers.
extern wchar_t DecimalSeparator;
// The thousands separator of ffNumber and %n (LOCALE_STHOUSAND).
extern wchar_t ThousandSeparator;

// Text to float: leading and trailing blanks are ignored; then an optional
// sign, digits with at most one DecimalSeparator (no other separator), and an
// optional exponent "E"/"e" with optional sign and digits. StrToFloat raises
// EConvertError "'%s' is not a valid floating point value".
bool TryStrToFloat(const std::wstring& s, double& value);
double StrToFloat(const std::wstring& s);
double StrToFloatDef(const std::wstring& s, double defaultValue);

enum TFloatFormat { ffGeneral = 0, ffExponent = 1, ffFixed = 2, ffNumber = 3 };

// Float to text. The value is first rounded to precision significant digits
// (at most 18); then:
//  ffGeneral:  the shortest text, fixed-point when the integer part has no
//              more than precision digits and |value| >= 0.00001, otherwise
//              scientific ("1.5E20", "-2E-7") with an exponent of at least
//              digits digits (0..4); no trailing zeros.
//  ffExponent: "d.dddE+ddd": precision digits in all, sign always shown,
//              exponent of at least digits digits.
//  ffFixed:    digits decimals (0..18); scientific as ffExponent when the
//              integer part has more than precision digits.
//  ffNumber:   as ffFixed with ThousandSeparator between groups of three.
// The second rounding (to digits decimals) works on the decimal digits of
// the first, halves away from zero. NaN and infinities give "NAN", "INF",
// "-INF".
std::wstring FloatToStrF(double value, TFloatFormat format, int precision, int digits);
// ffGeneral with 15 significant digits.
std::wstring FloatToStr(double value);

// Rounds to the nearest integer, halves to the even neighbour (0.5 -> 0,
// 1.5 -> 2, -2.5 -> -2). Raises EInvalidArgument "Invalid floating point
// operation" for NaN, infinities and results outside int64.
std::int64_t Round(double value);
// Rounds toward zero; the same failures as Round.
std::int64_t Trunc(double value);

using ::MulDiv;

// ---------------------------------------------------------------------------
// Format: printf-like formatting.
//
// Specifier: "%" [index ":"] ["-"] [width] ["." precision] type, where width
// and precision may be "*" (taken from the next argument) and "%%" is a
// single "%". Types:
//   d  signed decimal; precision = minimum digits (zero-padded)
//   u  unsigned decimal (a negative argument in two's complement of its width)
//   x  upper-case hexadecimal; precision = minimum digits (zero-padded)
//   s  text (std::wstring, wide C string, a wchar_t); precision = max chars
//   f  fixed point, precision decimals (default 2)
//   e  scientific, precision significant digits (default 15)
//   g  general, precision significant digits (default 15)
//   n  as f with thousands separators
//   p  pointer as 16 hexadecimal digits
// Width pads with blanks on the left, or on the right with "-". A bad
// specifier or an argument of the wrong kind raises EConvertError
// "Format '%s' invalid or incompatible with argument"; a missing argument
// raises EConvertError "No argument for format '%s'".
class TFormatArg {
public:
    enum Kind { kNone, kSigned, kUnsigned, kFloat, kText, kChar, kPointer };

    TFormatArg() = default;
    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, wchar_t> && !std::same_as<T, char>)
    TFormatArg(T v)
        : kind_(std::is_signed_v<T> ? kSigned : kUnsigned), bits_(static_cast<int>(sizeof(T) * 8))
    {
        if constexpr (std::is_signed_v<T>)
            i_ = v;
        else
            u_ = v;
    }
    template <std::floating_point T>
    TFormatArg(T v) : kind_(kFloat), f_(static_cast<double>(v)) {}
    TFormatArg(const std::wstring& s) : kind_(kText), text_(s) {}
    TFormatArg(std::wstring_view s) : kind_(kText), text_(s) {}
    TFormatArg(const wchar_t* s) : kind_(kText), text_(s ? std::wstring_view(s) : std::wstring_view()) {}
    TFormatArg(wchar_t c) : kind_(kChar), c_(c) {}
    TFormatArg(const void* p) : kind_(kPointer), p_(p) {}
    TFormatArg(std::nullptr_t) : kind_(kPointer) {}

    Kind GetKind() const { return kind_; }
    int Bits() const { return bits_; }
    std::int64_t Signed() const { return i_; }
    std::uint64_t Unsigned() const { return u_; }
    double Float() const { return f_; }
    std::wstring_view Text() const { return text_; }
    wchar_t Char() const { return c_; }
    const void* Pointer() const { return p_; }

private:
    Kind kind_ = kNone;
    int bits_ = 0;
    std::int64_t i_ = 0;
    std::uint64_t u_ = 0;
    double f_ = 0;
    std::wstring_view text_;
    wchar_t c_ = 0;
    const void* p_ = nullptr;
};

std::wstring FormatArgs(std::wstring_view fmt, const TFormatArg* args, std::size_t count);

template <class... A>
std::wstring Format(std::wstring_view fmt, const A&... args)
{
    const TFormatArg list[] = {TFormatArg(args)..., TFormatArg()};
    return FormatArgs(fmt, list, sizeof...(A));
}

// ---------------------------------------------------------------------------
// Strings

// Without leading and/or trailing blanks and control characters (<= U+0020).
std::wstring Trim(const std::wstring& s);
std::wstring TrimLeft(const std::wstring& s);
std::wstring TrimRight(const std::wstring& s);

// Case mapping of the ASCII letters only.
std::wstring UpperCase(const std::wstring& s);
std::wstring LowerCase(const std::wstring& s);
// Case mapping by the platform's rules (CharUpperBuffW / CharLowerBuffW).
std::wstring WideUpperCase(const std::wstring& s);
std::wstring WideLowerCase(const std::wstring& s);

// Ordinal comparison; CompareText ignores the case of ASCII letters.
// Negative, zero or positive.
int CompareStr(const std::wstring& a, const std::wstring& b);
int CompareText(const std::wstring& a, const std::wstring& b);
bool SameText(const std::wstring& a, const std::wstring& b);
// Comparison by the user locale's rules, ignoring case (CompareStringW).
int WideCompareText(const std::wstring& a, const std::wstring& b);
bool WideSameText(const std::wstring& a, const std::wstring& b);

// 1-based position of sub in s (searching from position offset), 0 when
// absent or when sub is empty.
std::size_t Pos(const std::wstring& sub, const std::wstring& s, std::size_t offset = 1);
// count characters from the 1-based position index; an index below 1 counts
// as 1 and the range is cut to the string.
std::wstring Copy(const std::wstring& s, std::ptrdiff_t index, std::ptrdiff_t count);

// True for a non-empty identifier: an ASCII letter or "_", then ASCII
// letters, digits and "_".
bool IsValidIdent(const std::wstring& s);

enum TReplaceFlag : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
// Replaces the first (or with rfReplaceAll every) occurrence of oldPattern;
// rfIgnoreCase compares by WideUpperCase. An empty oldPattern changes nothing.
std::wstring StringReplace(const std::wstring& s, const std::wstring& oldPattern,
                           const std::wstring& newPattern, unsigned flags);

// ---------------------------------------------------------------------------
// File names. The path delimiter is "\" and the drive delimiter ":".

// Up to and including the last "\" or ":".
std::wstring ExtractFilePath(const std::wstring& name);
// As ExtractFilePath without the final "\", unless that is the root's.
std::wstring ExtractFileDir(const std::wstring& name);
// The part after the last "\" or ":".
std::wstring ExtractFileName(const std::wstring& name);
// From the last "." after the last "\" or ":", with the dot; empty if none.
std::wstring ExtractFileExt(const std::wstring& name);
// "C:" for a drive-letter path, "\\server\share" for a UNC path, else empty.
std::wstring ExtractFileDrive(const std::wstring& name);
// The name with its extension replaced by (or extended with) ext.
std::wstring ChangeFileExt(const std::wstring& name, const std::wstring& ext);
std::wstring IncludeTrailingPathDelimiter(const std::wstring& path);
std::wstring ExcludeTrailingPathDelimiter(const std::wstring& path);
// The absolute form of name (GetFullPathNameW); name itself when that fails.
std::wstring ExpandFileName(const std::wstring& name);

// ---------------------------------------------------------------------------
// Files

// An existing file that is not a folder.
bool FileExists(const std::wstring& name);
bool DirectoryExists(const std::wstring& name);
// Creates one folder; false on failure (GetLastError tells why).
bool CreateDir(const std::wstring& dir);
// Creates a folder with every missing parent. True when the folder exists
// afterwards; false when the path is empty or any folder could not be
// created (for example because a file has the name of a folder).
bool ForceDirectories(const std::wstring& dir);

// <windows.h> defines DeleteFile as a macro for DeleteFileW; the library
// routine is declared under both names so that it works either way.
#pragma push_macro("DeleteFile")
#undef DeleteFile
bool DeleteFile(const std::wstring& name);
#pragma pop_macro("DeleteFile")
inline bool DeleteFileW(const std::wstring& name)
{
#pragma push_macro("DeleteFile")
#undef DeleteFile
    return DeleteFile(name);
#pragma pop_macro("DeleteFile")
}

// The system's message text for an error code, without trailing line breaks.
std::wstring SysErrorMessage(unsigned long code);

// ---------------------------------------------------------------------------
// Date and time: days since 1899-12-30 00:00 in the integer part, the time of
// day as a fraction (for negative values the fraction is still the time of
// day, counted forward: -1.25 is 1899-12-29 06:00).

using TDateTime = double;

// EncodeDate raises EConvertError "Invalid argument to date encode" and
// EncodeTime "Invalid argument to time encode" for out-of-range parts.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
bool IsLeapYear(int year);

TDateTime SystemTimeToDateTime(const _SYSTEMTIME& st);
void DateTimeToSystemTime(TDateTime value, _SYSTEMTIME& st);
// The local date and time.
TDateTime Now();

// ---------------------------------------------------------------------------
// Random numbers: a 32-bit linear congruential generator shared by the
// program (thread-safe). Randomize seeds it from the clock.

// 0 <= result < n; 0 when n <= 0.
int Random(int n);
// 0 <= result < 1.
double Random();
void Randomize();
// Sets the seed, for reproducible sequences.
void RandSeed(std::uint32_t seed);

// ---------------------------------------------------------------------------
// Platform facts, determined at first use.

// The platform family: 2 (VER_PLATFORM_WIN32_NT) on every supported system.
int Win32Platform();
int Win32MajorVersion();
int Win32MinorVersion();
int Win32BuildNumber();
// The number of logical processors, at least 1.
int CPUCount();

}  // namespace classlib
