// Accelerator characters of captions: "&x" marks x as the character that
// Alt+x presses (buttons, check boxes) or focuses (the control a label
// names); "&&" stands for a plain "&".
//
// AssignAccelerators gives each caption of one window a character of its
// own, in order: a caption that already marks an unused character keeps it;
// otherwise the first unused letter or digit that begins a word, then any
// unused letter or digit of the caption, gets the mark. A caption without a
// free character stays without one. Characters compare without case.
#pragma once

#include <string>
#include <vector>

namespace classlib {

// The character marked in Caption (upper case), or 0.
wchar_t AcceleratorOf(const std::wstring& Caption);
// Whether Key (any case) is Caption's accelerator.
bool IsAccelerator(wchar_t Key, const std::wstring& Caption);
// Caption as it shows: marks removed, "&&" as "&".
std::wstring StripAccelerator(const std::wstring& Caption);
// Gives the captions accelerators unique among them (see above).
void AssignAccelerators(std::vector<std::wstring>& Captions);

}  // namespace classlib
