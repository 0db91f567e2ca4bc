// Where the program points its users: the product's web page (the footer of
// every album page and the about box) and the support address (the about
// box). Both lie under a domain reserved for examples until the product has
// a domain of its own.
#pragma once

namespace album {

inline constexpr wchar_t kProductWebAddress[] = L"https://www.example.com/velmo-morvane/";
inline constexpr wchar_t kSupportAddress[] = L"velmo-morvane@example.com";

}  // namespace album
