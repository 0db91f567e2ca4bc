#include "classlib/Accelerators.h"

#include <windows.h>

#include <algorithm>

namespace classlib {

namespace {

wchar_t Upper(wchar_t C)
{
    wchar_t s[2] = {C, 0};
    ::CharUpperW(s);
    return s[0];
}

bool Candidate(wchar_t C) { return ::IsCharAlphaNumericW(C) != 0; }

}  // namespace

wchar_t AcceleratorOf(const std::wstring& Caption)
{
    for (std::size_t i = 0; i + 1 < Caption.size(); ++i) {
        if (Caption[i] != L'&') continue;
        if (Caption[i + 1] == L'&') {
            ++i;
            continue;
        }
        return Upper(Caption[i + 1]);
    }
    return 0;
}

bool IsAccelerator(wchar_t Key, const std::wstring& Caption)
{
    const wchar_t a = AcceleratorOf(Caption);
    return a != 0 && Key != 0 && a == Upper(Key);
}

std::wstring StripAccelerator(const std::wstring& Caption)
{
    std::wstring out;
    out.reserve(Caption.size());
    for (std::size_t i = 0; i < Caption.size(); ++i) {
        if (Caption[i] == L'&' && i + 1 < Caption.size()) ++i;
        out += Caption[i];
    }
    return out;
}

void AssignAccelerators(std::vector<std::wstring>& Captions)
{
    std::vector<wchar_t> used;
    auto free = [&](wchar_t C) { return std::find(used.begin(), used.end(), Upper(C)) == used.end(); };
    // Marks kept first, so that a later caption cannot take them.
    std::vector<bool> done(Captions.size(), false);
    for (std::size_t i = 0; i < Captions.size(); ++i) {
        const wchar_t a = AcceleratorOf(Captions[i]);
        if (a && free(a)) {
            used.push_back(a);
            done[i] = true;
        }
    }
    for (std::size_t i = 0; i < Captions.size(); ++i) {
        if (done[i]) continue;
        // A mark that another caption holds goes.
        const std::wstring text = StripAccelerator(Captions[i]);
        std::wstring plain;
        for (wchar_t c : text) {
            plain += c;
            if (c == L'&') plain += L'&';
        }
        // Positions in the plain text: word starts first, then the rest.
        std::size_t pick = std::wstring::npos;
        for (int pass = 0; pass < 2 && pick == std::wstring::npos; ++pass)
            for (std::size_t k = 0; k < text.size(); ++k) {
                const bool wordStart = k == 0 || !Candidate(text[k - 1]);
                if (Candidate(text[k]) && (pass == 1 || wordStart) && free(text[k])) {
                    pick = k;
                    break;
                }
            }
        if (pick == std::wstring::npos) {
            Captions[i] = plain;
            continue;
        }
        used.push_back(Upper(text[pick]));
        std::wstring marked;
        for (std::size_t k = 0; k < text.size(); ++k) {
            if (k == pick) marked += L'&';
            marked += text[k];
            if (text[k] == L'&') marked += L'&';
        }
        Captions[i] = marked;
    }
}

}  // namespace classlib
