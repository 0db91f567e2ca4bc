#include "imaging/views/vector/ImgVectEdit.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/Dialogs.h"
#include "classlib/SysUtils.h"
#include "classlib/WinHandles.h"
#include "imaging/views/view/PxGDIPlus.h"

namespace imaging {

namespace {

UINT textMemoFormat = 0;

int RoundI(double v) { return static_cast<int>(classlib::Round(v)); }

// An owned GDI font selected into a DC for the life of the scope.
class TFontScope {
public:
    TFontScope(HDC DC, HFONT Font) : font_(Font), select_(DC, Font) {}

private:
    classlib::TOwnedFont font_;  // declared first: deselected before it is deleted
    classlib::TSelectObjectScope select_;
};

HFONT MakeFont(const TPxMemoCharFormat& F, double Zoom)
{
    const std::string name = PxFormatFontName(F);
    int h = F.FontHeight;
    if (Zoom != 1.0)
        h = RoundI(h * Zoom);
    return ::CreateFontA(h, 0, 0, 0, (F.FontStyle & 1) ? FW_BOLD : FW_NORMAL, (F.FontStyle & 2) != 0,
                         (F.FontStyle & 4) != 0, (F.FontStyle & 8) != 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                         CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, name.c_str());
}

bool IsBlank(char c) { return static_cast<uint8_t>(c) < 33; }

}  // namespace

bool PxSameFormat(const TPxMemoCharFormat& A, const TPxMemoCharFormat& B)
{
    return std::memcmp(reinterpret_cast<const uint8_t*>(&A) + 4, reinterpret_cast<const uint8_t*>(&B) + 4, 276) == 0;
}

std::string PxFormatFontName(const TPxMemoCharFormat& F)
{
    return std::string(reinterpret_cast<const char*>(F.FontName + 1), F.FontName[0]);
}

void PxSetFormatFontName(TPxMemoCharFormat& F, const std::string& Name)
{
    std::memset(F.FontName, 0, sizeof(F.FontName));
    const size_t n = std::min<size_t>(Name.size(), 255);
    F.FontName[0] = static_cast<uint8_t>(n);
    std::memcpy(F.FontName + 1, Name.data(), n);
}

UINT PxTextMemoClipboardFormat() { return textMemoFormat; }

void PxTextCStartup() { textMemoFormat = ::RegisterClipboardFormatW(L"PXIMAGE TEXTMEMO"); }

void PxTextCShutdown() {}

// ---- TPxEdit

void TPxEdit::WndProc(classlib::TMessage& Message)
{
    if (Message.Msg == WM_CHAR && Message.WParam == VK_TAB)
        return;
    if (Message.Msg == WM_GETDLGCODE) {
        classlib::TEdit::WndProc(Message);
        Message.Result |= DLGC_WANTARROWS | DLGC_WANTTAB;
        return;
    }
    classlib::TEdit::WndProc(Message);
}

// ---- TPxTextControl

TPxTextControl::TPxTextControl(classlib::TComponent* AOwner)
    : classlib::TCustomControl(AOwner),
      TextFont(std::make_unique<classlib::TFont>()),
      TextBrush(std::make_unique<classlib::TBrush>()),
      BorderPen(std::make_unique<classlib::TPen>()),
      BoxBrush(std::make_unique<classlib::TBrush>()),
      backBuffer_(std::make_unique<classlib::TBitmap>())
{
    backBuffer_->SetPixelFormat(classlib::pf24bit);
    if (AOwner)
        SetCursor(-4);  // I-beam
}

TPxTextControl::~TPxTextControl() = default;

void TPxTextControl::CreateParams(classlib::TCreateParams& Params)
{
    classlib::TCustomControl::CreateParams(Params);
    Params.WindowClassStyle &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TPxTextControl::SetFixedFont(bool Value)
{
    fixedFont_ = Value;
    Update();
}

void TPxTextControl::FillFromFont(TPxMemoCharFormat& F) const
{
    const std::wstring& wname = TextFont->GetName();
    std::string name;
    if (!wname.empty()) {
        const int n = ::WideCharToMultiByte(CP_ACP, 0, wname.data(), static_cast<int>(wname.size()), nullptr, 0,
                                            nullptr, nullptr);
        name.resize(static_cast<size_t>(std::max(n, 0)));
        if (n > 0)
            ::WideCharToMultiByte(CP_ACP, 0, wname.data(), static_cast<int>(wname.size()), name.data(), n, nullptr,
                                  nullptr);
    }
    PxSetFormatFontName(F, name);
    F.FontHeight = TextFont->GetHeight();
    F.FontStyle = TextFont->GetStyle();
    F.FontColor = TextFont->GetColor();
    F.BackColor = TextBrush->GetColor();
    F.BackStyle = static_cast<uint8_t>(TextBrush->GetStyle());
    F.Alignment = Alignment;
}

void TPxTextControl::InitText()
{
    SelStart = SelEnd = 0;
    CaretPos = 0;
    if (CharFormats.size() < TextBuf.size())
        CharFormats.resize(TextBuf.size(), 0);
    if (Formats.empty() && !TextBuf.empty()) {
        TPxMemoCharFormat f;
        FillFromFont(f);
        f.UseCount = TextLen();
        Formats.push_back(f);
    }
    // Indices that name no format fall back to format 0.
    for (uint32_t& i : CharFormats)
        if (i >= Formats.size())
            i = 0;
    ResetLayout(0);
    const int32_t keep = CurrentFormat.UseCount;
    FillFromFont(CurrentFormat);
    CurrentFormat.UseCount = keep;
    DrawBackground();
}

void TPxTextControl::GrowLayout()
{
    const size_t n = TextBuf.size() + 1;
    CharHeights.resize(n, 0);
    CharWidths.resize(n, 0);
    CharLeadings.resize(n, 0);
    CharDescents.resize(n, 0);
    CharX.resize(n, -1);
    CharY.resize(n, -1);
}

void TPxTextControl::ResetLayout(int From)
{
    GrowLayout();
    for (size_t i = static_cast<size_t>(std::max(From, 0)); i < CharX.size(); ++i) {
        CharHeights[i] = CharWidths[i] = 0;
        CharLeadings[i] = CharDescents[i] = 0;
        CharX[i] = CharY[i] = -1;
    }
}

void TPxTextControl::Update()
{
    ResetLayout(0);
    Invalidate();
}

TPxMemoCharFormat TPxTextControl::FormatOf(int Index) const
{
    TPxMemoCharFormat f;
    if (fixedFont_ || Index < 0 || Index >= static_cast<int>(CharFormats.size()) ||
        CharFormats[static_cast<size_t>(Index)] >= Formats.size()) {
        FillFromFont(f);
        return f;
    }
    return Formats[CharFormats[static_cast<size_t>(Index)]];
}

void TPxTextControl::AssignFormat(int Index, const TPxMemoCharFormat& Record)
{
    if (Index < 0 || Index >= static_cast<int>(CharFormats.size()))
        return;
    size_t found = Formats.size();
    for (size_t i = 0; i < Formats.size(); ++i)
        if (PxSameFormat(Formats[i], Record)) {
            found = i;
            break;
        }
    if (found == Formats.size()) {
        TPxMemoCharFormat copy = Record;
        copy.UseCount = 0;
        Formats.push_back(copy);
    }
    CharFormats[static_cast<size_t>(Index)] = static_cast<uint32_t>(found);
    Formats[found].UseCount++;
}

void TPxTextControl::RemoveUnusedFormats()
{
    size_t i = 0;
    while (i < Formats.size()) {
        if (Formats[i].UseCount == 0) {
            for (uint32_t& c : CharFormats)
                if (c > i)
                    --c;
            Formats.erase(Formats.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void TPxTextControl::InsertChar(char Ch)
{
    const size_t at = static_cast<size_t>(std::clamp(CaretPos, 0, TextLen()));
    TextBuf.insert(TextBuf.begin() + static_cast<ptrdiff_t>(at), Ch);
    CharFormats.insert(CharFormats.begin() + static_cast<ptrdiff_t>(std::min(at, CharFormats.size())), 0);
    AssignFormat(static_cast<int>(at), CurrentFormat);
    ResetLayout(static_cast<int>(at));
    CaretPos = static_cast<int>(at) + 1;
}

void TPxTextControl::DeleteChar(int Index)
{
    if (Index < 0 || Index >= TextLen())
        return;
    const size_t i = static_cast<size_t>(Index);
    if (i < CharFormats.size()) {
        const uint32_t f = CharFormats[i];
        if (f < Formats.size() && Formats[f].UseCount > 0)
            Formats[f].UseCount--;
        CharFormats.erase(CharFormats.begin() + static_cast<ptrdiff_t>(i));
    }
    TextBuf.erase(i, 1);
    ResetLayout(Index);
}

void TPxTextControl::DeleteSelection()
{
    if (SelStart >= SelEnd)
        return;
    for (int i = std::min(SelEnd, TextLen()) - 1; i >= SelStart; --i)
        DeleteChar(i);
    CaretPos = std::min(SelStart, TextLen());
    SelStart = SelEnd = 0;
}

void TPxTextControl::ExtendSelection(int OldCaret, classlib::TShiftState Shift)
{
    if (!(Shift & classlib::ssShift)) {
        SelStart = SelEnd = 0;
        return;
    }
    if (SelEnd == 0) {
        SelStart = OldCaret;
        SelEnd = CaretPos;
    } else if (CaretPos > OldCaret) {
        if (SelEnd < CaretPos)
            SelEnd = CaretPos;
        else
            SelStart = CaretPos;
    } else {
        if (CaretPos < SelStart)
            SelStart = CaretPos;
        else
            SelEnd = CaretPos;
    }
    if (SelStart > SelEnd)
        std::swap(SelStart, SelEnd);
}

void TPxTextControl::CaretMoved(int OldCaret, classlib::TShiftState Shift)
{
    if (OldCaret == CaretPos)
        return;
    if (CaretPos > 0)
        CurrentFormat = FormatOf(CaretPos - 1);
    ExtendSelection(OldCaret, Shift);
    Update();
}

int TPxTextControl::WordLeft(int Pos) const
{
    int p = std::min(Pos, TextLen());
    while (p > 0 && IsBlank(TextBuf[static_cast<size_t>(p - 1)]))
        --p;
    while (p > 0 && !IsBlank(TextBuf[static_cast<size_t>(p - 1)]))
        --p;
    return std::clamp(p, 0, std::max(TextLen() - 1, 0));
}

int TPxTextControl::WordRight(int Pos) const
{
    int p = std::max(Pos, 0);
    while (p < TextLen() && IsBlank(TextBuf[static_cast<size_t>(p)]))
        ++p;
    while (p < TextLen() && !IsBlank(TextBuf[static_cast<size_t>(p)]))
        ++p;
    return std::clamp(p, 0, TextLen());
}

int TPxTextControl::LineStart(int Pos) const
{
    if (Pos < static_cast<int>(CharY.size()) && CharY[static_cast<size_t>(Pos)] >= 0) {
        const int y = CharY[static_cast<size_t>(Pos)];
        int p = Pos;
        while (p > 0 && CharY[static_cast<size_t>(p - 1)] == y)
            --p;
        return p;
    }
    int p = std::min(Pos, TextLen());
    while (p > 0 && TextBuf[static_cast<size_t>(p - 1)] != 10)
        --p;
    return p;
}

int TPxTextControl::LineEnd(int Pos) const
{
    if (Pos < TextLen() && Pos < static_cast<int>(CharY.size()) && CharY[static_cast<size_t>(Pos)] >= 0) {
        const int y = CharY[static_cast<size_t>(Pos)];
        int p = Pos;
        while (p + 1 < TextLen() && CharY[static_cast<size_t>(p + 1)] == y && TextBuf[static_cast<size_t>(p)] != 10)
            ++p;
        return p;
    }
    int p = std::max(Pos, 0);
    while (p < TextLen() && TextBuf[static_cast<size_t>(p)] != 10)
        ++p;
    return p;
}

void TPxTextControl::ApplyToSelection(void (*Change)(TPxMemoCharFormat&, intptr_t), intptr_t Arg, bool Current)
{
    for (int i = SelStart; i < std::min(SelEnd, TextLen()); ++i) {
        TPxMemoCharFormat f = FormatOf(i);
        Change(f, Arg);
        AssignFormat(i, f);
    }
    if (Current)
        Change(CurrentFormat, Arg);
    if (SelStart < SelEnd)
        ResetLayout(SelStart);
}

void TPxTextControl::SelectionFontBigger()
{
    ApplyToSelection(
        [](TPxMemoCharFormat& f, intptr_t) {
            if (f.FontHeight < 0)
                f.FontHeight--;
            else if (f.FontHeight > 0)
                f.FontHeight++;
            if (f.FontHeight == 0)
                f.FontHeight = 1;
        },
        0, true);
}

void TPxTextControl::SelectionFontSmaller()
{
    ApplyToSelection(
        [](TPxMemoCharFormat& f, intptr_t) {
            if (f.FontHeight < 0)
                f.FontHeight++;
            else if (f.FontHeight > 0)
                f.FontHeight--;
            if (f.FontHeight == 0)
                f.FontHeight = 1;
        },
        0, true);
}

void TPxTextControl::SetSelectionBackColor(classlib::TColor Color)
{
    ApplyToSelection([](TPxMemoCharFormat& f, intptr_t c) { f.BackColor = static_cast<int32_t>(c); }, Color, true);
}

void TPxTextControl::ToggleSelectionStyle(uint8_t Bit)
{
    if (SelStart < SelEnd) {
        // Each selected character keeps its other styles.
        ApplyToSelection([](TPxMemoCharFormat& f, intptr_t b) { f.FontStyle ^= static_cast<uint8_t>(b); }, Bit,
                         false);
    } else {
        CurrentFormat.FontStyle ^= Bit;
    }
}

void TPxTextControl::SetParagraphAlignment(uint8_t Value)
{
    int start = std::min(CaretPos, TextLen());
    while (start > 0 && TextBuf[static_cast<size_t>(start - 1)] != 10)
        --start;
    int end = std::min(CaretPos, TextLen());
    while (end < TextLen() && TextBuf[static_cast<size_t>(end)] != 10)
        ++end;
    for (int i = start; i < end; ++i) {
        TPxMemoCharFormat f = FormatOf(i);
        f.Alignment = Value;
        AssignFormat(i, f);
    }
    CurrentFormat.Alignment = Value;
    ResetLayout(start);
}

void TPxTextControl::CopySelection()
{
    if (SelStart >= SelEnd)
        return;
    const int end = std::min(SelEnd, TextLen());
    const std::string sel = TextBuf.substr(static_cast<size_t>(SelStart), static_cast<size_t>(end - SelStart));
    if (!::OpenClipboard(HandleAllocated() ? GetHandle() : nullptr))
        return;
    ::EmptyClipboard();
    std::string crlf;
    for (char c : sel) {
        if (c == 10)
            crlf += '\r';
        crlf += c;
    }
    if (HGLOBAL g = ::GlobalAlloc(GMEM_MOVEABLE, crlf.size() + 1)) {
        if (void* p = ::GlobalLock(g)) {
            std::memcpy(p, crlf.c_str(), crlf.size() + 1);
            ::GlobalUnlock(g);
            if (!::SetClipboardData(CF_TEXT, g))
                ::GlobalFree(g);
        } else {
            ::GlobalFree(g);
        }
    }
    const size_t n = sel.size();
    if (HGLOBAL g = ::GlobalAlloc(GMEM_MOVEABLE, n * 281 + 1)) {
        if (auto* p = static_cast<uint8_t*>(::GlobalLock(g))) {
            std::memcpy(p, sel.data(), n);
            p[n] = 0;
            for (size_t k = 0; k < n; ++k) {
                const TPxMemoCharFormat f = FormatOf(SelStart + static_cast<int>(k));
                std::memcpy(p + n + 1 + k * 280, &f, 280);
            }
            ::GlobalUnlock(g);
            if (!textMemoFormat || !::SetClipboardData(textMemoFormat, g))
                ::GlobalFree(g);
        } else {
            ::GlobalFree(g);
        }
    }
    ::CloseClipboard();
}

bool TPxTextControl::PasteFromBlock(const uint8_t* Data, size_t Size)
{
    // The text runs to its NUL; the block must hold that many records after
    // it. A block from another program, or cut short, is refused whole.
    const void* nul = Size ? std::memchr(Data, 0, Size) : nullptr;
    if (!nul)
        return false;
    const size_t n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - Data);
    if ((Size - n - 1) / 280 < n)
        return false;
    for (size_t k = 0; k < n; ++k) {
        std::memcpy(&CurrentFormat, Data + n + 1 + k * 280, 280);
        CurrentFormat.UseCount = 0;
        InsertChar(static_cast<char>(Data[k]));
    }
    return true;
}

void TPxTextControl::PasteClipboard()
{
    if (!::OpenClipboard(HandleAllocated() ? GetHandle() : nullptr))
        return;
    bool done = false;
    if (textMemoFormat && ::IsClipboardFormatAvailable(textMemoFormat)) {
        if (HGLOBAL g = ::GetClipboardData(textMemoFormat)) {
            if (auto* p = static_cast<const uint8_t*>(::GlobalLock(g))) {
                done = PasteFromBlock(p, ::GlobalSize(g));
                ::GlobalUnlock(g);
            }
        }
    }
    if (!done && ::IsClipboardFormatAvailable(CF_TEXT)) {
        if (HGLOBAL g = ::GetClipboardData(CF_TEXT)) {
            if (auto* p = static_cast<const char*>(::GlobalLock(g))) {
                const size_t size = ::GlobalSize(g);
                for (size_t i = 0; i < size && p[i]; ++i)
                    if (p[i] != 13)
                        InsertChar(p[i]);
                ::GlobalUnlock(g);
            }
        }
    }
    ::CloseClipboard();
}

bool TPxTextControl::HandleEditKey(WORD Key, classlib::TShiftState Shift)
{
    switch (Key) {
    case VK_BACK:
        if (SelStart < SelEnd) {
            DeleteSelection();
        } else if (CaretPos > 0) {
            --CaretPos;
            DeleteChar(CaretPos);
        }
        Update();
        return true;
    case VK_RETURN:
        InsertChar(10);
        Update();
        return true;
    case VK_INSERT:
        InsertMode = !InsertMode;
        return true;
    case VK_DELETE:
        if (SelStart < SelEnd)
            DeleteSelection();
        else
            DeleteChar(CaretPos);
        Update();
        return true;
    case VK_F1:
    case VK_F2:
        if (Shift & classlib::ssShift) {
            if (Key == VK_F1)
                SelectionFontSmaller();
            else
                SelectionFontBigger();
            Update();
        }
        return true;
    default:
        return false;
    }
}

int TPxTextControl::CaretOnNextLine(bool Up) const
{
    if (CaretPos >= static_cast<int>(CharY.size()) || CharY[static_cast<size_t>(CaretPos)] < 0)
        return -1;
    const int y = CharY[static_cast<size_t>(CaretPos)];
    int target = -1;
    if (Up) {
        for (int i = CaretPos - 1; i >= 0; --i)
            if (CharY[static_cast<size_t>(i)] >= 0 && CharY[static_cast<size_t>(i)] < y) {
                target = CharY[static_cast<size_t>(i)];
                break;
            }
    } else {
        for (int i = CaretPos + 1; i <= TextLen(); ++i)
            if (CharY[static_cast<size_t>(i)] > y) {
                target = CharY[static_cast<size_t>(i)];
                break;
            }
    }
    if (target < 0)
        return -1;
    int best = -1, bestD = 0;
    for (int i = 0; i <= TextLen(); ++i)
        if (CharY[static_cast<size_t>(i)] == target) {
            const int d = std::abs(CharX[static_cast<size_t>(i)] - CaretX);
            if (best < 0 || d < bestD) {
                best = i;
                bestD = d;
            }
        }
    return best;
}

bool TPxTextControl::HandleCaretKey(WORD Key, classlib::TShiftState Shift)
{
    const bool ctrl = (Shift & classlib::ssCtrl) != 0;
    const int old = CaretPos;
    switch (Key) {
    case VK_END:
        CaretPos = ctrl ? TextLen() : LineEnd(CaretPos);
        break;
    case VK_HOME:
        CaretPos = ctrl ? 0 : LineStart(CaretPos);
        break;
    case VK_LEFT:
        CaretPos = ctrl ? WordLeft(CaretPos) : std::max(CaretPos - 1, 0);
        break;
    case VK_RIGHT:
        CaretPos = ctrl ? WordRight(CaretPos) : std::min(CaretPos + 1, TextLen());
        break;
    case VK_UP:
    case VK_DOWN: {
        // Without a line to go to nothing moves, not even the selection.
        const int best = CaretOnNextLine(Key == VK_UP);
        if (best < 0)
            return true;
        CaretPos = best;
        break;
    }
    default:
        return false;
    }
    CaretMoved(old, Shift);
    return true;
}

void TPxTextControl::HandleCtrlKey(WORD Key)
{
    switch (Key) {
    case 'L':
    case 'R':
    case 'E':
    case 'J':
        SetParagraphAlignment(Key == 'L' ? 0 : Key == 'R' ? 1 : Key == 'E' ? 2 : 3);
        Update();
        break;
    case 'C':
        CopySelection();
        break;
    case 'X':
        CopySelection();
        DeleteSelection();
        Update();
        break;
    case 'V':
        DeleteSelection();
        PasteClipboard();
        Update();
        break;
    case 'B':
    case 'I':
    case 'U':
        ToggleSelectionStyle(Key == 'B' ? 1 : Key == 'I' ? 2 : 4);
        Update();
        break;
    case 'F':
        if (!fixedFont_) {
            ChooseSelectionFont();
            Update();
        }
        break;
    case 'G':
        if (!fixedFont_) {
            classlib::TColorDialog dialog(nullptr);
            dialog.Color = CurrentFormat.BackColor;
            if (dialog.Execute(HandleAllocated() ? GetHandle() : nullptr))
                SetSelectionBackColor(dialog.Color);
            Update();
        }
        break;
    default:
        break;
    }
}

void TPxTextControl::ChooseSelectionFont()
{
    LOGFONTA lf{};
    lf.lfHeight = CurrentFormat.FontHeight;
    lf.lfWeight = (CurrentFormat.FontStyle & 1) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (CurrentFormat.FontStyle & 2) != 0;
    lf.lfUnderline = (CurrentFormat.FontStyle & 4) != 0;
    lf.lfStrikeOut = (CurrentFormat.FontStyle & 8) != 0;
    const std::string name = PxFormatFontName(CurrentFormat);
    std::strncpy(lf.lfFaceName, name.c_str(), LF_FACESIZE - 1);
    CHOOSEFONTA cf{};
    cf.lStructSize = sizeof(cf);
    cf.hwndOwner = HandleAllocated() ? GetHandle() : nullptr;
    cf.lpLogFont = &lf;
    cf.Flags = CF_SCREENFONTS | CF_EFFECTS | CF_INITTOLOGFONTSTRUCT;
    cf.rgbColors = static_cast<COLORREF>(CurrentFormat.FontColor);
    if (!::ChooseFontA(&cf))
        return;
    struct Chosen {
        LOGFONTA Lf;
        COLORREF Color;
    } chosen{lf, cf.rgbColors};
    ApplyToSelection(
        [](TPxMemoCharFormat& f, intptr_t a) {
            const auto* c = reinterpret_cast<const Chosen*>(a);
            PxSetFormatFontName(f, c->Lf.lfFaceName);
            f.FontHeight = c->Lf.lfHeight;
            f.FontStyle = static_cast<uint8_t>((c->Lf.lfWeight >= FW_BOLD ? 1 : 0) | (c->Lf.lfItalic ? 2 : 0) |
                                               (c->Lf.lfUnderline ? 4 : 0) | (c->Lf.lfStrikeOut ? 8 : 0));
            f.FontColor = static_cast<int32_t>(c->Color);
        },
        reinterpret_cast<intptr_t>(&chosen), true);
}

void TPxTextControl::HandleKey(WORD& Key, classlib::TShiftState Shift)
{
    if (HandleEditKey(Key, Shift) || HandleCaretKey(Key, Shift))
        return;
    if (Shift & classlib::ssCtrl)
        HandleCtrlKey(Key);
}

void TPxTextControl::HandleChar(char Ch)
{
    const uint8_t c = static_cast<uint8_t>(Ch);
    if (c > 31 && c != 127) {
        DeleteSelection();
        if (!InsertMode)
            DeleteChar(CaretPos);
        InsertChar(Ch);
    }
    Invalidate();
}

void TPxTextControl::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    HandleKey(Key, Shift);
    classlib::TCustomControl::KeyDown(Key, Shift);
}

void TPxTextControl::KeyPress(wchar_t& Key)
{
    char c = 0;
    BOOL lossy = FALSE;
    if (::WideCharToMultiByte(CP_ACP, 0, &Key, 1, &c, 1, nullptr, &lossy) == 1)
        HandleChar(c);
}

void TPxTextControl::CaretFromPoint(int X, int Y)
{
    int p = 0;
    while (p < TextLen() && CharY[static_cast<size_t>(p)] + CharHeights[static_cast<size_t>(p)] * Zoom < Y)
        ++p;
    // p is on the clicked line (or the end); walk back along it.
    const int y = p < static_cast<int>(CharY.size()) ? CharY[static_cast<size_t>(p)] : -1;
    int end = p;
    while (end < TextLen() && CharY[static_cast<size_t>(end + 1)] == y)
        ++end;
    p = end;
    while (p > 0 && CharY[static_cast<size_t>(p - 1)] == y && X < CharX[static_cast<size_t>(p)] - 1)
        --p;
    CaretPos = std::clamp(p, 0, TextLen());
    if (CaretPos > 0)
        CurrentFormat = FormatOf(CaretPos - 1);
}

void TPxTextControl::MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y)
{
    classlib::TCustomControl::MouseDown(Button, Shift, X, Y);
    if (CanFocus())
        SetFocus();
    if (Shift & classlib::ssDouble) {
        DoubleClickWord();
        return;
    }
    if (Shift & classlib::ssShift) {
        SelectFromPressTo(X, Y);
    } else {
        SelStart = SelEnd = 0;
        CaretFromPoint(X, Y);
    }
    PressX = X;
    PressY = Y;
    Update();
    OnCursorMoved(this);
}

void TPxTextControl::SelectFromPressTo(int X, int Y)
{
    CaretFromPoint(PressX, PressY);
    const int first = CaretPos;
    CaretFromPoint(X, Y);
    if (CaretPos != first) {
        SelStart = std::min(first, CaretPos);
        SelEnd = std::max(first, CaretPos);
    }
}

void TPxTextControl::MouseMove(classlib::TShiftState Shift, int X, int Y)
{
    classlib::TCustomControl::MouseMove(Shift, X, Y);
    if (!(Shift & classlib::ssLeft))
        return;
    SelStart = SelEnd = 0;
    SelectFromPressTo(X, Y);
    Update();
    OnCursorMoved(this);
}

void TPxTextControl::DoubleClickWord()
{
    if (TextBuf.empty())
        return;
    SelStart = SelEnd = 0;
    const int start = WordLeft(CaretPos);
    int end = WordRight(start);
    while (end > start && IsBlank(TextBuf[static_cast<size_t>(end - 1)]))
        --end;
    if (end > start)
        CurrentFormat = FormatOf(end - 1);
    SelStart = start;
    SelEnd = end;
    CaretPos = end;
    Update();
}

void TPxTextControl::WndProc(classlib::TMessage& Message)
{
    switch (Message.Msg) {
    case WM_ERASEBKGND:
        Message.Result = 0;
        return;
    case WM_KILLFOCUS:
        classlib::TCustomControl::WndProc(Message);
        ::HideCaret(GetHandle());
        ::DestroyCaret();
        return;
    case WM_SIZE:
        classlib::TCustomControl::WndProc(Message);
        Update();
        return;
    case WM_GETDLGCODE:
        Message.Result = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS;
        return;
    case WM_CUT:
    case WM_COPY:
    case WM_PASTE: {
        WORD key = Message.Msg == WM_CUT ? 'X' : Message.Msg == WM_COPY ? 'C' : 'V';
        HandleKey(key, classlib::ssCtrl);
        return;
    }
    default:
        classlib::TCustomControl::WndProc(Message);
    }
}

void TPxTextControl::DrawBackground()
{
    if (!backBuffer_ || backBuffer_->GetWidth() <= 0 || backBuffer_->GetHeight() <= 0)
        return;
    classlib::TCanvas* c = backBuffer_->GetCanvas();
    if (BoxBrush->GetStyle() != classlib::bsSolid && Background)
        ::BitBlt(c->GetHandle(), 0, 0, backBuffer_->GetWidth(), backBuffer_->GetHeight(),
                 Background->GetCanvas()->GetHandle(), GetLeft(), GetTop(), SRCCOPY);
    if (BoxBrush->GetStyle() != classlib::bsClear) {
        c->GetBrush()->Assign(BoxBrush.get());
        c->FillRect(RECT{0, 0, backBuffer_->GetWidth(), backBuffer_->GetHeight()});
    }
}

void TPxTextControl::Paint()
{
    if (!GetVisible() || !HandleAllocated())
        return;
    ::DestroyCaret();
    backBuffer_->SetSize(GetClientWidth(), GetClientHeight());
    DrawBackground();
    {
        TPxCanvas canvas(backBuffer_->GetCanvas(), true, true);
        PaintTo(&canvas, 0, 0, RoundI(GetClientWidth() / Zoom), RoundI(GetClientHeight() / Zoom));
    }
    ::BitBlt(GetCanvas()->GetHandle(), 0, 0, GetClientWidth(), GetClientHeight(),
             backBuffer_->GetCanvas()->GetHandle(), 0, 0, SRCCOPY);
    if (Focused()) {
        ::CreateCaret(GetHandle(), nullptr, 0, CaretHeight);
        ::SetCaretPos(CaretX, CaretY);
        ::ShowCaret(GetHandle());
    }
}

void TPxTextControl::PaintBox(TPxCanvas* Canvas, int Left, int Top, int Width, int Height)
{
    TPxPen* pen = Canvas->GetPen();
    pen->SetWidth(1);
    pen->SetStyle(BorderPen->GetStyle());
    pen->SetColor(IgnoreColors ? TextFont->GetColor() : BorderPen->GetColor());
    pen->SetMode(classlib::pmCopy);
    Canvas->GetBrush()->SetColor(BoxBrush->GetColor());
    Canvas->GetBrush()->SetStyle(BoxBrush->GetStyle());
    Canvas->Rectangle(Left, Top, Left + RoundI(Width * Zoom), Top + RoundI(Height * Zoom));
    pen->SetStyle(classlib::psSolid);
}

void TPxTextControl::MeasureChars(HDC DC)
{
    const int n = TextLen();
    std::vector<HFONT> fonts(Formats.size() + 1, nullptr);
    for (int i = 0; i < n; ++i) {
        const size_t si = static_cast<size_t>(i);
        if (CharWidths[si] != 0 || CharHeights[si] != 0)
            continue;
        const TPxMemoCharFormat f = FormatOf(i);
        const size_t key = fixedFont_ || si >= CharFormats.size() || CharFormats[si] >= Formats.size()
                               ? Formats.size()
                               : CharFormats[si];
        if (!fonts[key])
            fonts[key] = MakeFont(f, 1.0);
        char c = TextBuf[si];
        if (static_cast<uint8_t>(c) < 31 || c == 127)
            c = ' ';
        SIZE sz{};
        TEXTMETRICA tm{};
        {
            classlib::TSelectObjectScope font(DC, fonts[key]);
            ::GetTextExtentPoint32A(DC, &c, 1, &sz);
            ::GetTextMetricsA(DC, &tm);
        }
        CharWidths[si] = static_cast<int16_t>(sz.cx);
        if (LineHeight != 0) {
            CharHeights[si] = static_cast<int16_t>(LineHeight);
            CharLeadings[si] = CharDescents[si] = 0;
        } else {
            CharHeights[si] = static_cast<int16_t>(tm.tmHeight);
            CharLeadings[si] = static_cast<uint8_t>(std::clamp<LONG>(tm.tmInternalLeading, 0, 255));
            CharDescents[si] = static_cast<uint8_t>(std::clamp<LONG>(tm.tmDescent, 0, 255));
        }
    }
    for (HFONT f : fonts)
        if (f)
            ::DeleteObject(f);
}

int TPxTextControl::LineBreak(int Start, int UsableW, bool& Cut) const
{
    const int n = TextLen();
    int x = 0, end = Start, lastBlank = -1;
    Cut = false;
    while (end < n) {
        const char c = TextBuf[static_cast<size_t>(end)];
        if (c == 10)
            return end + 1;
        const int adv = CharWidths[static_cast<size_t>(end)] + 1;
        if (x + adv + 2 >= UsableW && end > Start) {
            Cut = true;
            return lastBlank >= Start ? lastBlank + 1 : end;
        }
        if (c == ' ')
            lastBlank = end;
        x += adv;
        ++end;
    }
    return end;
}

int TPxTextControl::LayOutLines(const TTextArea& A, std::vector<TGlyph>& Glyphs)
{
    const int n = TextLen();
    int lineTop = 0;
    int start = 0;
    bool stop = false;
    while (start < n && !stop) {
        bool cut = false;
        const int end = LineBreak(start, A.UsableW, cut);
        int lineH = 0, descent = 0;
        for (int i = start; i < end; ++i) {
            lineH = std::max<int>(lineH, CharHeights[static_cast<size_t>(i)]);
            descent = std::max<int>(descent, CharDescents[static_cast<size_t>(i)]);
        }
        if (lineH == 0)
            lineH = std::abs(TextFont->GetHeight()) + 2;
        // Visible end: trailing break and blank are not counted.
        int vis = end;
        while (vis > start && (TextBuf[static_cast<size_t>(vis - 1)] == 10 || TextBuf[static_cast<size_t>(vis - 1)] == ' '))
            --vis;
        const uint8_t align = vis > start ? (fixedFont_ ? Alignment : FormatOf(vis - 1).Alignment) : 0;
        int width = 0;
        for (int i = start; i < vis; ++i)
            width += CharWidths[static_cast<size_t>(i)] + 1;
        int offset = 0;
        double factor = 1.0;
        if (align == 1)
            offset = A.UsableW - width - 1;
        else if (align == 2)
            offset = (A.UsableW - width - 1) / 2;
        else if (align == 3 && cut && width > 0)
            factor = static_cast<double>(A.UsableW) / (width + 1);
        if (lineTop + lineH > A.UsableH && AutoHeight && GetVisible() && HandleAllocated()) {
            SetHeight(RoundI((A.OriginY + lineTop + lineH + 2) * Zoom));
            stop = true;
        }
        int xx = 0;
        for (int i = start; i < end; ++i) {
            const size_t si = static_cast<size_t>(i);
            const int px = A.OriginX + (factor != 1.0 ? static_cast<int>(xx * factor) : xx + offset);
            CharX[si] = px;
            CharY[si] = A.OriginY + lineTop;
            if (!stop && lineTop + lineH <= A.UsableH && px - A.OriginX + CharWidths[si] <= A.UsableW)
                Glyphs.push_back(TGlyph{i, px, A.OriginY + lineTop, A.OriginY + lineTop + lineH - descent});
            xx += CharWidths[si] + 1;
        }
        start = end;
        if (start < n || (n > 0 && TextBuf[static_cast<size_t>(n - 1)] == 10))
            lineTop += lineH + LineSpacing;
        else
            break;
    }
    return lineTop;
}

int TPxTextControl::PlaceCaret(const TTextArea& A, int LineTop)
{
    const int n = TextLen();
    const int caret = std::clamp(CaretPos, 0, n);
    if (n == 0) {
        CaretX = A.OriginX;
        CaretY = A.OriginY;
        CaretHeight = std::abs(TextFont->GetHeight()) + 2;
    } else if (caret < n && CharY[static_cast<size_t>(caret)] >= 0) {
        CaretX = CharX[static_cast<size_t>(caret)];
        CaretY = CharY[static_cast<size_t>(caret)];
        CaretHeight = std::max<int>(CharHeights[static_cast<size_t>(caret)], 1);
    } else {
        const size_t last = static_cast<size_t>(n - 1);
        if (TextBuf[last] == 10) {
            CaretX = A.OriginX;
            CaretY = A.OriginY + LineTop;
        } else {
            CaretX = CharX[last] + CharWidths[last] + 1;
            CaretY = CharY[last];
        }
        CaretHeight = std::max<int>(CharHeights[last], 1);
    }
    // The place after the last character is a caret place of its own: a
    // click past the end of the last line and Up/Down onto a shorter last
    // line reach it even while the caret stands elsewhere.
    if (n > 0 && static_cast<size_t>(n) < CharX.size()) {
        const size_t last = static_cast<size_t>(n - 1);
        if (TextBuf[last] == 10) {
            CharX[static_cast<size_t>(n)] = A.OriginX;
            CharY[static_cast<size_t>(n)] = A.OriginY + LineTop;
        } else if (CharY[last] >= 0) {
            CharX[static_cast<size_t>(n)] = CharX[last] + CharWidths[last] + 1;
            CharY[static_cast<size_t>(n)] = CharY[last];
        }
    }
    return caret;
}

void TPxTextControl::DrawGlyphs(HDC DC, const std::vector<TGlyph>& Glyphs, int Left, int Top)
{
    const int savedAlign = static_cast<int>(::SetTextAlign(DC, TA_BASELINE | TA_LEFT));
    const int savedMode = ::GetBkMode(DC);
    const COLORREF savedText = ::GetTextColor(DC), savedBk = ::GetBkColor(DC);
    for (const TGlyph& g : Glyphs) {
        const TPxMemoCharFormat f = FormatOf(g.Index);
        TFontScope font(DC, MakeFont(f, Zoom));
        const bool selected = g.Index >= SelStart && g.Index < SelEnd;
        COLORREF fg = static_cast<COLORREF>(classlib::ColorToRGB(f.FontColor));
        COLORREF bg = static_cast<COLORREF>(classlib::ColorToRGB(f.BackColor));
        if (IgnoreColors) {
            fg = static_cast<COLORREF>(classlib::ColorToRGB(TextFont->GetColor()));
            bg = fg;
        }
        bool opaque = f.BackStyle == classlib::bsSolid && !IgnoreColors;
        if (selected) {
            fg ^= 0xFFFFFF;
            bg ^= 0xFFFFFF;
            opaque = true;
        }
        ::SetTextColor(DC, fg);
        ::SetBkColor(DC, bg);
        ::SetBkMode(DC, opaque ? OPAQUE : TRANSPARENT);
        char c = TextBuf[static_cast<size_t>(g.Index)];
        if (static_cast<uint8_t>(c) < 32 || c == 127)
            c = ' ';
        ::TextOutA(DC, Left + RoundI(g.X * Zoom), Top + RoundI(g.Base * Zoom), &c, 1);
    }
    ::SetTextAlign(DC, static_cast<UINT>(savedAlign));
    ::SetBkMode(DC, savedMode);
    ::SetTextColor(DC, savedText);
    ::SetBkColor(DC, savedBk);
}

void TPxTextControl::ZoomLayout(int Caret)
{
    if (Zoom != 1.0) {
        for (size_t i = 0; i < CharX.size(); ++i) {
            if (CharX[i] >= 0)
                CharX[i] = RoundI(CharX[i] * Zoom);
            if (CharY[i] >= 0)
                CharY[i] = RoundI(CharY[i] * Zoom);
        }
        CaretX = RoundI(CaretX * Zoom);
        CaretY = RoundI(CaretY * Zoom);
        CaretHeight = RoundI(CaretHeight * Zoom);
    }
    if (static_cast<size_t>(Caret) < CharX.size()) {
        CharX[static_cast<size_t>(Caret)] = CaretX;
        CharY[static_cast<size_t>(Caret)] = CaretY;
    }
}

void TPxTextControl::PaintTo(TPxCanvas* Canvas, int Left, int Top, int Width, int Height)
{
    if (Width < 2 || Height < 2)
        return;
    GrowLayout();
    PaintBox(Canvas, Left, Top, Width, Height);
    TTextArea area;
    area.UsableW = RoundI(Width - Width * Margins[2] / 100 - Width * Margins[0] / 100) - 2;
    area.UsableH = RoundI(Height - Height * Margins[3] / 100 - Height * Margins[1] / 100) - 2;
    area.OriginX = RoundI(Width * Margins[0] / 100) + 1;
    area.OriginY = RoundI(Height * Margins[1] / 100) + 1;
    HDC dc = Canvas->GetHandle();
    // Character sizes are measured at zoom 1 and kept until the text or a
    // format changes.
    MeasureChars(dc);
    std::vector<TGlyph> glyphs;
    const int lineTop = LayOutLines(area, glyphs);
    const int caret = PlaceCaret(area, lineTop);
    DrawGlyphs(dc, glyphs, Left, Top);
    if (AutoHeight && GetVisible() && HandleAllocated() && CaretY + CaretHeight > RoundI(Height * Zoom) / Zoom)
        SetHeight(RoundI((CaretY + CaretHeight) * Zoom) + 2);
    ZoomLayout(caret);
}

}  // namespace imaging
