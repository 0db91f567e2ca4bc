// Wide-string helpers of the shell controls and the process-wide flag that
// selects the wide-character platform calls.
//
// Positions are 1-based, like the class library's Pos/Copy. The routines
// are thread-safe; IsWordBoundary reads the calling thread's locale.
#pragma once

#include <cstddef>
#include <string>

namespace shell {

// Set true by the shell layer's start-up, before any shell routine runs;
// the shell routines always take their wide-character branch.
extern bool IsWideApi;

// Flags of TntWideStringReplace.
enum : unsigned { wrfReplaceAll = 1, wrfIgnoreCase = 2 };

// An upper-cased copy by the platform's case rules.
std::wstring TntWideUpperCase(const std::wstring& s);

// The position of the first subStr in s that starts after the first offset
// characters; 0 when there is none (or subStr is empty).
std::size_t TntWidePosEx(const std::wstring& subStr, const std::wstring& s, std::size_t offset);

// Removes count characters of s from the 1-based index; nothing happens for
// an empty s, an index outside 1..length or a count below 1. A count running
// past the end removes the rest.
void TntWideDelete(std::wstring& s, std::ptrdiff_t index, std::ptrdiff_t count);

// Replaces oldPattern by newPattern in s: the first occurrence, or every one
// with wrfReplaceAll; wrfIgnoreCase compares upper-cased texts. With
// wholeWord an occurrence counts only when the characters on both sides of
// it are word boundaries. Inserted text is never searched again. An empty
// oldPattern changes nothing.
std::wstring TntWideStringReplace(const std::wstring& s, const std::wstring& oldPattern,
                                  const std::wstring& newPattern, bool wholeWord, unsigned flags);

// True for the character 0 and for blanks and punctuation by the thread
// locale's character types. Raises classlib::EOSError when the type query
// fails.
bool IsWordBoundary(wchar_t ch);

// The last character of s, 0 when s is empty.
wchar_t LastChar(const std::wstring& s);

}  // namespace shell
