#include "classlib/SysUtils.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace classlib {

namespace {

wchar_t LocaleChar(LCTYPE type, wchar_t fallback)
{
    wchar_t buf[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 8) > 1 && buf[0] != 0) return buf[0];
    return fallback;
}

bool IsBlank(wchar_t c) { return c <= L' '; }

std::wstring Widen(std::string_view s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

wchar_t DecimalSeparator = LocaleChar(LOCALE_SDECIMAL, L'.');
wchar_t ThousandSeparator = LocaleChar(LOCALE_STHOUSAND, L',');

// ---------------------------------------------------------------------------
// Integers

std::wstring IntToStr(std::int64_t value) { return std::to_wstring(value); }

std::wstring IntToHexBits(std::uint64_t value, int digits)
{
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    do {
        out.push_back(kHex[value & 15]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(out.size()) < digits) out.push_back(L'0');
    std::reverse(out.begin(), out.end());
    return out;
}

namespace {

// Parses the integer grammar of TryStrToInt into a magnitude and sign.
// maxPositive/maxNegative are the largest decimal magnitudes accepted;
// hexMax the largest hexadecimal magnitude (the unsigned range of the type).
bool ParseInteger(const std::wstring& s, std::uint64_t maxPositive, std::uint64_t maxNegative,
                  std::uint64_t hexMax, std::uint64_t& magnitude, bool& negative, bool& hex)
{
    std::size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i])) ++i;
    negative = false;
    if (i < n && (s[i] == L'+' || s[i] == L'-')) {
        negative = s[i] == L'-';
        ++i;
    }
    hex = false;
    if (i < n && s[i] == L'$') {
        hex = true;
        ++i;
    } else if (i + 1 < n && s[i] == L'0' && (s[i + 1] == L'x' || s[i + 1] == L'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) return false;
    std::uint64_t v = 0;
    const std::uint64_t limit = hex ? hexMax : (negative ? maxNegative : maxPositive);
    for (; i < n; ++i) {
        wchar_t c = s[i];
        unsigned d;
        if (c >= L'0' && c <= L'9')
            d = c - L'0';
        else if (hex && c >= L'a' && c <= L'f')
            d = c - L'a' + 10;
        else if (hex && c >= L'A' && c <= L'F')
            d = c - L'A' + 10;
        else
            return false;
        const unsigned base = hex ? 16 : 10;
        if (v > (limit - d) / base) return false;
        v = v * base + d;
    }
    magnitude = v;
    return true;
}

[[noreturn]] void InvalidInteger(const std::wstring& s)
{
    throw EConvertError(Format(L"'%s' is not a valid integer value", s));
}

}  // namespace

bool TryStrToInt64(const std::wstring& s, std::int64_t& value)
{
    std::uint64_t m;
    bool neg, hex;
    constexpr std::uint64_t maxPos = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!ParseInteger(s, maxPos, maxPos + 1, std::numeric_limits<std::uint64_t>::max(), m, neg, hex))
        return false;
    value = static_cast<std::int64_t>(neg ? (0 - m) : m);
    return true;
}

bool TryStrToInt(const std::wstring& s, int& value)
{
    std::uint64_t m;
    bool neg, hex;
    if (!ParseInteger(s, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, m, neg, hex)) return false;
    std::uint32_t u = static_cast<std::uint32_t>(m);
    if (neg) u = 0u - u;
    value = static_cast<int>(u);
    return true;
}

int StrToInt(const std::wstring& s)
{
    int v;
    if (!TryStrToInt(s, v)) InvalidInteger(s);
    return v;
}

std::int64_t StrToInt64(const std::wstring& s)
{
    std::int64_t v;
    if (!TryStrToInt64(s, v)) InvalidInteger(s);
    return v;
}

int StrToIntDef(const std::wstring& s, int defaultValue)
{
    int v;
    return TryStrToInt(s, v) ? v : defaultValue;
}

std::int64_t StrToInt64Def(const std::wstring& s, std::int64_t defaultValue)
{
    std::int64_t v;
    return TryStrToInt64(s, v) ? v : defaultValue;
}

// ---------------------------------------------------------------------------
// Floating point

bool TryStrToFloat(const std::wstring& s, double& value)
{
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    // Validate the grammar and build a plain ASCII copy with "." as the
    // separator for the C conversion.
    std::string ascii;
    std::size_t i = b;
    if (i < e && (s[i] == L'+' || s[i] == L'-')) ascii.push_back(static_cast<char>(s[i++]));
    std::size_t mantissaDigits = 0;
    while (i < e && s[i] >= L'0' && s[i] <= L'9') {
        ascii.push_back(static_cast<char>(s[i++]));
        ++mantissaDigits;
    }
    if (i < e && s[i] == DecimalSeparator) {
        ascii.push_back('.');
        ++i;
        while (i < e && s[i] >= L'0' && s[i] <= L'9') {
            ascii.push_back(static_cast<char>(s[i++]));
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < e && (s[i] == L'e' || s[i] == L'E')) {
        ascii.push_back('e');
        ++i;
        if (i < e && (s[i] == L'+' || s[i] == L'-')) ascii.push_back(static_cast<char>(s[i++]));
        std::size_t expDigits = 0;
        while (i < e && s[i] >= L'0' && s[i] <= L'9') {
            ascii.push_back(static_cast<char>(s[i++]));
            ++expDigits;
        }
        if (expDigits == 0) return false;
    }
    if (i != e) return false;
    char* end = nullptr;
    double v = std::strtod(ascii.c_str(), &end);
    if (end != ascii.c_str() + ascii.size()) return false;
    if (std::isinf(v)) return false;  // overflow; underflow gives 0 or a denormal
    value = v;
    return true;
}

double StrToFloat(const std::wstring& s)
{
    double v;
    if (!TryStrToFloat(s, v))
        throw EConvertError(Format(L"'%s' is not a valid floating point value", s));
    return v;
}

double StrToFloatDef(const std::wstring& s, double defaultValue)
{
    double v;
    return TryStrToFloat(s, v) ? v : defaultValue;
}

namespace {

// A finite value as decimal digits: value = 0.d1d2d3... x 10^exponent, at
// most `precision` digits, no trailing zeros; no digits for zero.
struct Decimal {
    bool negative = false;
    std::string digits;
    int exponent = 0;
};

Decimal ToDecimal(double value, int precision)
{
    Decimal d;
    d.negative = std::signbit(value);
    double a = std::fabs(value);
    if (a == 0) return d;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof(buf), a, std::chars_format::scientific, precision - 1);
    std::string text(buf, r.ptr);
    std::size_t epos = text.find('e');
    for (std::size_t k = 0; k < epos; ++k)
        if (text[k] != '.') d.digits.push_back(text[k]);
    d.exponent = std::atoi(text.c_str() + epos + 1) + 1;
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

// Rounds d to `decimals` digits after the point, halves away from zero.
void RoundDecimals(Decimal& d, int decimals)
{
    long keep = static_cast<long>(d.exponent) + decimals;
    if (keep >= static_cast<long>(d.digits.size())) return;
    if (keep < 0) {
        d.digits.clear();
        return;
    }
    bool up = d.digits[keep] >= '5';
    d.digits.resize(keep);
    if (up) {
        long k = keep - 1;
        while (k >= 0 && d.digits[k] == '9') d.digits[k--] = '0';
        if (k >= 0) {
            ++d.digits[k];
        } else {
            d.digits.insert(d.digits.begin(), '1');
            ++d.exponent;
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
}

std::wstring ExponentText(int e, int minDigits, bool plusSign)
{
    std::wstring out;
    if (e < 0)
        out += L'-';
    else if (plusSign)
        out += L'+';
    std::wstring n = std::to_wstring(e < 0 ? -e : e);
    while (static_cast<int>(n.size()) < minDigits) n.insert(n.begin(), L'0');
    return out + n;
}

std::wstring ExponentForm(const Decimal& d, int precision, int digits)
{
    std::wstring out = d.negative ? L"-" : L"";
    std::string m = d.digits;
    m.resize(static_cast<std::size_t>(precision), '0');
    out += static_cast<wchar_t>(m[0]);
    if (precision > 1) {
        out += DecimalSeparator;
        out += Widen(std::string_view(m).substr(1));
    }
    out += L'E';
    out += ExponentText(d.digits.empty() ? 0 : d.exponent - 1, digits, true);
    return out;
}

std::wstring FixedForm(Decimal d, int decimals, bool thousands)
{
    RoundDecimals(d, decimals);
    std::wstring intPart, fracPart;
    if (d.digits.empty() || d.exponent <= 0) {
        intPart = L"0";
    } else {
        for (int k = 0; k < d.exponent; ++k)
            intPart += k < static_cast<int>(d.digits.size()) ? static_cast<wchar_t>(d.digits[k]) : L'0';
    }
    for (int k = 0; k < decimals; ++k) {
        long idx = static_cast<long>(d.exponent) + k;
        wchar_t c = L'0';
        if (!d.digits.empty() && idx >= 0 && idx < static_cast<long>(d.digits.size()))
            c = static_cast<wchar_t>(d.digits[idx]);
        fracPart += c;
    }
    if (thousands && ThousandSeparator != 0) {
        std::wstring grouped;
        std::size_t n = intPart.size();
        for (std::size_t k = 0; k < n; ++k) {
            if (k > 0 && (n - k) % 3 == 0) grouped += ThousandSeparator;
            grouped += intPart[k];
        }
        intPart = grouped;
    }
    std::wstring out = (d.negative && !d.digits.empty()) ? L"-" : L"";
    out += intPart;
    if (decimals > 0) {
        out += DecimalSeparator;
        out += fracPart;
    }
    return out;
}

}  // namespace

std::wstring FloatToStrF(double value, TFloatFormat format, int precision, int digits)
{
    if (std::isnan(value)) return L"NAN";
    if (std::isinf(value)) return value < 0 ? L"-INF" : L"INF";
    precision = std::clamp(precision, 1, 18);
    Decimal d = ToDecimal(value, precision);
    switch (format) {
    case ffExponent:
        return ExponentForm(d, precision, std::clamp(digits, 0, 4));
    case ffFixed:
    case ffNumber:
        if (d.exponent > precision) return ExponentForm(d, precision, 3);
        return FixedForm(d, std::clamp(digits, 0, 18), format == ffNumber);
    case ffGeneral:
    default: {
        if (d.digits.empty()) return L"0";
        std::wstring out = d.negative ? L"-" : L"";
        const int n = static_cast<int>(d.digits.size());
        if (d.exponent <= precision && d.exponent >= -4) {
            if (d.exponent <= 0) {
                out += L'0';
                out += DecimalSeparator;
                out.append(static_cast<std::size_t>(-d.exponent), L'0');
                out += Widen(d.digits);
            } else {
                for (int k = 0; k < d.exponent; ++k)
                    out += k < n ? static_cast<wchar_t>(d.digits[k]) : L'0';
                if (n > d.exponent) {
                    out += DecimalSeparator;
                    out += Widen(std::string_view(d.digits).substr(d.exponent));
                }
            }
        } else {
            out += static_cast<wchar_t>(d.digits[0]);
            if (n > 1) {
                out += DecimalSeparator;
                out += Widen(std::string_view(d.digits).substr(1));
            }
            out += L'E';
            out += ExponentText(d.exponent - 1, std::clamp(digits, 0, 4), false);
        }
        return out;
    }
    }
}

std::wstring FloatToStr(double value) { return FloatToStrF(value, ffGeneral, 15, 0); }

namespace {

[[noreturn]] void InvalidFloatOperation()
{
    throw EInvalidArgument(L"Invalid floating point operation");
}

std::int64_t ToInt64Checked(double t)
{
    // t is integral; the int64 range is [-2^63, 2^63).
    if (!(t >= -9223372036854775808.0 && t < 9223372036854775808.0)) InvalidFloatOperation();
    return static_cast<std::int64_t>(t);
}

}  // namespace

std::int64_t Round(double value)
{
    if (!std::isfinite(value)) InvalidFloatOperation();
    double t = std::trunc(value);
    double f = value - t;  // exact: both share the exponent range of value
    if (f > 0.5 || (f == 0.5 && std::fmod(t, 2.0) != 0))
        t += 1;
    else if (f < -0.5 || (f == -0.5 && std::fmod(t, 2.0) != 0))
        t -= 1;
    return ToInt64Checked(t);
}

std::int64_t Trunc(double value)
{
    if (!std::isfinite(value)) InvalidFloatOperation();
    return ToInt64Checked(std::trunc(value));
}

// ---------------------------------------------------------------------------
// Format

namespace {

[[noreturn]] void BadFormat(std::wstring_view fmt)
{
    throw EConvertError(L"Format '" + std::wstring(fmt) + L"' invalid or incompatible with argument");
}

std::uint64_t AsUnsigned(const TFormatArg& a)
{
    if (a.GetKind() == TFormatArg::kUnsigned) return a.Unsigned();
    std::uint64_t u = static_cast<std::uint64_t>(a.Signed());
    if (a.Bits() < 64) u &= (std::uint64_t(1) << a.Bits()) - 1;
    return u;
}

}  // namespace

std::wstring FormatArgs(std::wstring_view fmt, const TFormatArg* args, std::size_t count)
{
    std::wstring out;
    std::size_t next = 0;
    const std::size_t n = fmt.size();
    auto take = [&]() -> const TFormatArg& {
        if (next >= count) throw EConvertError(L"No argument for format '" + std::wstring(fmt) + L"'");
        return args[next++];
    };
    for (std::size_t i = 0; i < n; ++i) {
        wchar_t c = fmt[i];
        if (c != L'%') {
            out += c;
            continue;
        }
        if (++i >= n) BadFormat(fmt);
        if (fmt[i] == L'%') {
            out += L'%';
            continue;
        }
        // Reads a number or "*" (an integer argument); false when neither.
        auto readNumber = [&](int& v) -> bool {
            if (i < n && fmt[i] == L'*') {
                ++i;
                const TFormatArg& a = take();
                if (a.GetKind() == TFormatArg::kSigned)
                    v = static_cast<int>(std::clamp<std::int64_t>(a.Signed(), 0, 1 << 20));
                else if (a.GetKind() == TFormatArg::kUnsigned)
                    v = static_cast<int>(std::min<std::uint64_t>(a.Unsigned(), 1 << 20));
                else
                    BadFormat(fmt);
                return true;
            }
            if (i < n && fmt[i] >= L'0' && fmt[i] <= L'9') {
                long long x = 0;
                while (i < n && fmt[i] >= L'0' && fmt[i] <= L'9') {
                    x = x * 10 + (fmt[i] - L'0');
                    if (x > (1 << 20)) BadFormat(fmt);
                    ++i;
                }
                v = static_cast<int>(x);
                return true;
            }
            return false;
        };
        int number = 0;
        bool have = readNumber(number);
        if (have && i < n && fmt[i] == L':') {
            next = static_cast<std::size_t>(number);
            ++i;
            have = false;
        }
        bool left = false;
        if (!have && i < n && fmt[i] == L'-') {
            left = true;
            ++i;
        }
        int width = 0;
        if (!have) have = readNumber(number);
        if (have) width = number;
        int prec = -1;
        if (i < n && fmt[i] == L'.') {
            ++i;
            if (!readNumber(prec)) prec = 0;
        }
        if (i >= n) BadFormat(fmt);
        wchar_t type = fmt[i];
        if (type >= L'A' && type <= L'Z') type = static_cast<wchar_t>(type - L'A' + L'a');

        const TFormatArg& a = take();
        const auto kind = a.GetKind();
        const bool integral = kind == TFormatArg::kSigned || kind == TFormatArg::kUnsigned;
        std::wstring item;
        switch (type) {
        case L'd':
        case L'u':
        case L'x': {
            if (!integral) BadFormat(fmt);
            bool negative = false;
            std::uint64_t mag;
            if (type == L'd' && kind == TFormatArg::kSigned && a.Signed() < 0) {
                negative = true;
                mag = 0 - static_cast<std::uint64_t>(a.Signed());
            } else {
                mag = AsUnsigned(a);
            }
            item = type == L'x' ? IntToHexBits(mag, 0) : std::to_wstring(mag);
            if (prec > static_cast<int>(item.size())) item.insert(0, prec - item.size(), L'0');
            if (negative) item.insert(item.begin(), L'-');
            break;
        }
        case L'e':
        case L'f':
        case L'g':
        case L'n':
            if (kind != TFormatArg::kFloat) BadFormat(fmt);
            if (type == L'e')
                item = FloatToStrF(a.Float(), ffExponent, prec < 0 ? 15 : prec, 3);
            else if (type == L'g')
                item = FloatToStrF(a.Float(), ffGeneral, prec < 0 ? 15 : prec, 3);
            else
                item = FloatToStrF(a.Float(), type == L'f' ? ffFixed : ffNumber, 15, prec < 0 ? 2 : prec);
            break;
        case L's':
            if (kind == TFormatArg::kText)
                item = a.Text();
            else if (kind == TFormatArg::kChar)
                item = std::wstring(1, a.Char());
            else
                BadFormat(fmt);
            if (prec >= 0 && static_cast<std::size_t>(prec) < item.size()) item.resize(prec);
            break;
        case L'p':
            if (kind != TFormatArg::kPointer) BadFormat(fmt);
            item = IntToHexBits(reinterpret_cast<std::uintptr_t>(a.Pointer()), 2 * sizeof(void*));
            break;
        default:
            BadFormat(fmt);
        }
        if (static_cast<int>(item.size()) < width) {
            std::wstring pad(width - item.size(), L' ');
            item = left ? item + pad : pad + item;
        }
        out += item;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Strings

std::wstring Trim(const std::wstring& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::wstring TrimLeft(const std::wstring& s)
{
    std::size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return s.substr(b);
}

std::wstring TrimRight(const std::wstring& s)
{
    std::size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) --e;
    return s.substr(0, e);
}

std::wstring UpperCase(const std::wstring& s)
{
    std::wstring r = s;
    for (auto& c : r)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    return r;
}

std::wstring LowerCase(const std::wstring& s)
{
    std::wstring r = s;
    for (auto& c : r)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return r;
}

namespace {

template <class Fn>
std::wstring MapCase(const std::wstring& s, Fn fn)
{
    std::wstring r = s;
    std::size_t at = 0;
    while (at < r.size()) {
        DWORD part = static_cast<DWORD>(std::min<std::size_t>(r.size() - at, 1u << 30));
        fn(r.data() + at, part);
        at += part;
    }
    return r;
}

wchar_t FoldAscii(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

}  // namespace

std::wstring WideUpperCase(const std::wstring& s) { return MapCase(s, ::CharUpperBuffW); }
std::wstring WideLowerCase(const std::wstring& s) { return MapCase(s, ::CharLowerBuffW); }

int CompareStr(const std::wstring& a, const std::wstring& b)
{
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < n; ++k)
        if (a[k] != b[k]) return static_cast<int>(a[k]) - static_cast<int>(b[k]);
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int CompareText(const std::wstring& a, const std::wstring& b)
{
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < n; ++k) {
        wchar_t x = FoldAscii(a[k]), y = FoldAscii(b[k]);
        if (x != y) return static_cast<int>(x) - static_cast<int>(y);
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && CompareText(a, b) == 0;
}

int WideCompareText(const std::wstring& a, const std::wstring& b)
{
    // Lengths beyond int range are compared by their first 2^31-1 units.
    auto len = [](const std::wstring& s) { return static_cast<int>(std::min<std::size_t>(s.size(), 0x7FFFFFFF)); };
    int r = ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), len(a), b.data(), len(b));
    return r == 0 ? CompareText(a, b) : r - CSTR_EQUAL;
}

bool WideSameText(const std::wstring& a, const std::wstring& b) { return WideCompareText(a, b) == 0; }

std::size_t Pos(const std::wstring& sub, const std::wstring& s, std::size_t offset)
{
    if (sub.empty() || offset < 1 || offset > s.size()) return 0;
    std::size_t p = s.find(sub, offset - 1);
    return p == std::wstring::npos ? 0 : p + 1;
}

std::wstring Copy(const std::wstring& s, std::ptrdiff_t index, std::ptrdiff_t count)
{
    if (index < 1) index = 1;
    const auto size = static_cast<std::ptrdiff_t>(s.size());
    if (index > size || count <= 0) return {};
    if (count > size - index + 1) count = size - index + 1;
    return s.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

bool IsValidIdent(const std::wstring& s)
{
    if (s.empty()) return false;
    auto alpha = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_'; };
    if (!alpha(s[0])) return false;
    for (wchar_t c : s)
        if (!alpha(c) && !(c >= L'0' && c <= L'9')) return false;
    return true;
}

std::wstring StringReplace(const std::wstring& s, const std::wstring& oldPattern,
                           const std::wstring& newPattern, unsigned flags)
{
    if (oldPattern.empty()) return s;
    const bool ignoreCase = (flags & rfIgnoreCase) != 0;
    const std::wstring hay = ignoreCase ? WideUpperCase(s) : std::wstring();
    const std::wstring needle = ignoreCase ? WideUpperCase(oldPattern) : oldPattern;
    const std::wstring& searched = ignoreCase ? hay : s;
    std::wstring out;
    std::size_t from = 0;
    while (true) {
        std::size_t p = searched.find(needle, from);
        if (p == std::wstring::npos) break;
        out.append(s, from, p - from);
        out += newPattern;
        from = p + needle.size();
        if ((flags & rfReplaceAll) == 0) break;
    }
    out.append(s, from, std::wstring::npos);
    return out;
}

// ---------------------------------------------------------------------------
// File names

namespace {

// Index of the last character of s that is in set, or npos.
std::size_t LastOf(const std::wstring& s, const wchar_t* set) { return s.find_last_of(set); }

}  // namespace

std::wstring ExtractFilePath(const std::wstring& name)
{
    std::size_t p = LastOf(name, L"\\:");
    return p == std::wstring::npos ? std::wstring() : name.substr(0, p + 1);
}

std::wstring ExtractFileDir(const std::wstring& name)
{
    std::size_t p = LastOf(name, L"\\:");
    if (p == std::wstring::npos) return {};
    // Drop the final "\" unless it follows a delimiter or is the first
    // character ("C:\" and "\" stay roots).
    if (p > 0 && name[p] == L'\\' && name[p - 1] != L'\\' && name[p - 1] != L':') return name.substr(0, p);
    return name.substr(0, p + 1);
}

std::wstring ExtractFileName(const std::wstring& name)
{
    std::size_t p = LastOf(name, L"\\:");
    return p == std::wstring::npos ? name : name.substr(p + 1);
}

std::wstring ExtractFileExt(const std::wstring& name)
{
    std::size_t p = LastOf(name, L".\\:");
    if (p == std::wstring::npos || name[p] != L'.') return {};
    return name.substr(p);
}

std::wstring ExtractFileDrive(const std::wstring& name)
{
    if (name.size() >= 2 && name[1] == L':') return name.substr(0, 2);
    if (name.size() >= 2 && name[0] == L'\\' && name[1] == L'\\') {
        // "\\server\share": up to (not including) the delimiter after the share.
        std::size_t server = name.find(L'\\', 2);
        if (server == std::wstring::npos) return name;
        std::size_t share = name.find(L'\\', server + 1);
        return share == std::wstring::npos ? name : name.substr(0, share);
    }
    return {};
}

std::wstring ChangeFileExt(const std::wstring& name, const std::wstring& ext)
{
    std::size_t p = LastOf(name, L".\\:");
    if (p == std::wstring::npos || name[p] != L'.') return name + ext;
    return name.substr(0, p) + ext;
}

std::wstring IncludeTrailingPathDelimiter(const std::wstring& path)
{
    if (!path.empty() && path.back() == L'\\') return path;
    return path + L'\\';
}

std::wstring ExcludeTrailingPathDelimiter(const std::wstring& path)
{
    if (!path.empty() && path.back() == L'\\') return path.substr(0, path.size() - 1);
    return path;
}

std::wstring ExpandFileName(const std::wstring& name)
{
    if (name.empty()) return name;
    DWORD need = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (need == 0) return name;
    std::wstring r(need, L'\0');
    DWORD got = ::GetFullPathNameW(name.c_str(), need, r.data(), nullptr);
    if (got == 0 || got >= need) return name;
    r.resize(got);
    return r;
}

// ---------------------------------------------------------------------------
// Files

bool FileExists(const std::wstring& name)
{
    DWORD a = ::GetFileAttributesW(name.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::wstring& name)
{
    DWORD a = ::GetFileAttributesW(name.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDir(const std::wstring& dir) { return ::CreateDirectoryW(dir.c_str(), nullptr) != FALSE; }

bool ForceDirectories(const std::wstring& dirIn)
{
    if (dirIn.empty()) return false;
    std::wstring dir = ExcludeTrailingPathDelimiter(dirIn);
    if (dir.empty()) return DirectoryExists(L"\\");
    if (DirectoryExists(dir)) return true;
    // A drive ("C:") or share ("\\server\share") is never created.
    if (dir == ExtractFileDrive(dir)) return DirectoryExists(dir + L"\\");
    std::wstring parent = ExtractFilePath(dir);
    if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
    if (CreateDir(dir)) return true;
    // Another process may have created it meanwhile.
    return DirectoryExists(dir);
}

#pragma push_macro("DeleteFile")
#undef DeleteFile
bool DeleteFile(const std::wstring& name) { return ::DeleteFileW(name.c_str()) != FALSE; }
#pragma pop_macro("DeleteFile")

std::wstring SysErrorMessage(unsigned long code)
{
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring msg = (n && text) ? std::wstring(text, n) : std::wstring();
    if (text) ::LocalFree(text);
    while (!msg.empty() && IsBlank(msg.back())) msg.pop_back();
    return msg;
}

// ---------------------------------------------------------------------------
// Date and time

namespace {

constexpr double kMSecsPerDay = 86400000.0;
// Days from 0001-01-01 to 1899-12-30 in the proleptic Gregorian calendar.
constexpr long kDateDelta = 693594;

const int kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                               {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeDate(int year, int month, int day, TDateTime& result)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
    const int* md = kMonthDays[IsLeapYear(year) ? 1 : 0];
    if (day < 1 || day > md[month - 1]) return false;
    long days = day;
    for (int m = 0; m < month - 1; ++m) days += md[m];
    long y = year - 1;
    days += y * 365 + y / 4 - y / 100 + y / 400;
    result = static_cast<double>(days - kDateDelta);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result)
{
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999)
        return false;
    result = (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day)
{
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r)) throw EConvertError(L"Invalid argument to date encode");
    return r;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond)
{
    TDateTime r;
    if (!TryEncodeTime(hour, minute, second, millisecond, r))
        throw EConvertError(L"Invalid argument to time encode");
    return r;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day)
{
    year = month = day = 0;
    if (!std::isfinite(value)) return;
    double whole = std::trunc(value);
    // Day 1 = 0001-01-01; dates before it are not representable.
    double n = whole + kDateDelta;
    if (n < 1 || n > 3652059) return;
    long d = static_cast<long>(n) - 1;  // days since 0001-01-01
    long y400 = d / 146097;
    d %= 146097;
    long y100 = std::min<long>(d / 36524, 3);
    d -= y100 * 36524;
    long y4 = d / 1461;
    d %= 1461;
    long y1 = std::min<long>(d / 365, 3);
    d -= y1 * 365;
    year = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    const int* md = kMonthDays[IsLeapYear(year) ? 1 : 0];
    int m = 0;
    while (d >= md[m]) d -= md[m++];
    month = m + 1;
    day = static_cast<int>(d) + 1;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond)
{
    hour = minute = second = millisecond = 0;
    if (!std::isfinite(value)) return;
    double frac = std::fabs(value - std::trunc(value));
    std::int64_t ms = Round(frac * kMSecsPerDay);
    if (ms >= 86400000) ms = 86399999;
    millisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    second = static_cast<int>(ms % 60);
    ms /= 60;
    minute = static_cast<int>(ms % 60);
    hour = static_cast<int>(ms / 60);
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st)
{
    TDateTime date = EncodeDate(st.wYear, st.wMonth, st.wDay);
    TDateTime time = EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return date >= 0 ? date + time : date - time;
}

void DateTimeToSystemTime(TDateTime value, SYSTEMTIME& st)
{
    int y, m, d, h, n, s, ms;
    DecodeDate(value, y, m, d);
    DecodeTime(value, h, n, s, ms);
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(n);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    // 1899-12-30 was a Saturday (6, Sunday being 0).
    long days = std::isfinite(value) ? static_cast<long>(std::trunc(std::clamp(value, -1e7, 1e7))) : 0;
    st.wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 6) % 7);
}

TDateTime Now()
{
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return SystemTimeToDateTime(st);
}

// ---------------------------------------------------------------------------
// Random numbers

namespace {

std::atomic<std::uint32_t> gRandSeed{0};

std::uint32_t NextRandom()
{
    std::uint32_t cur = gRandSeed.load(std::memory_order_relaxed), nxt;
    do {
        nxt = cur * 0x08088405u + 1u;
    } while (!gRandSeed.compare_exchange_weak(cur, nxt, std::memory_order_relaxed));
    return nxt;
}

}  // namespace

int Random(int n)
{
    if (n <= 0) return 0;
    return static_cast<int>((static_cast<std::uint64_t>(NextRandom()) * static_cast<std::uint64_t>(n)) >> 32);
}

double Random() { return NextRandom() / 4294967296.0; }

void Randomize()
{
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    gRandSeed.store(static_cast<std::uint32_t>(c.QuadPart ^ (c.QuadPart >> 32) ^ ::GetTickCount()));
}

void RandSeed(std::uint32_t seed) { gRandSeed.store(seed); }

// ---------------------------------------------------------------------------
// Platform facts

namespace {

struct PlatformFacts {
    int platform = VER_PLATFORM_WIN32_NT;
    int major = 0, minor = 0, build = 0, cpus = 1;

    PlatformFacts()
    {
        // RtlGetVersion reports the true version, unaffected by the
        // compatibility shims of GetVersionEx.
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
        OSVERSIONINFOW vi{};
        vi.dwOSVersionInfoSize = sizeof(vi);
        HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
        auto fn = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                              reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                        : nullptr;
        if (fn && fn(&vi) == 0) {
            platform = static_cast<int>(vi.dwPlatformId);
            major = static_cast<int>(vi.dwMajorVersion);
            minor = static_cast<int>(vi.dwMinorVersion);
            build = static_cast<int>(vi.dwBuildNumber);
        }
        SYSTEM_INFO si;
        ::GetSystemInfo(&si);
        cpus = si.dwNumberOfProcessors > 0 ? static_cast<int>(si.dwNumberOfProcessors) : 1;
    }
};

const PlatformFacts& Facts()
{
    static const PlatformFacts facts;
    return facts;
}

}  // namespace

int Win32Platform() { return Facts().platform; }
int Win32MajorVersion() { return Facts().major; }
int Win32MinorVersion() { return Facts().minor; }
int Win32BuildNumber() { return Facts().build; }
int CPUCount() { return Facts().cpus; }

}  // namespace classlib
