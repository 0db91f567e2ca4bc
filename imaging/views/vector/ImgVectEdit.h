// The in-place editors of the vector view: TPxEdit, a single-line edit box
// for text objects, and TPxTextControl, a small rich-text editor for memo
// objects (8-bit text with a format per character: font, height, style,
// colour, background, paragraph alignment).
//
// TPxTextControl also draws memo objects: created without an owner it lays
// out and draws a memo through PaintTo, which is the one definition of how a
// memo looks. The text, the formats and the per-character format indices
// are moved into the control by whoever edits or draws (the view) and moved
// back out when it is done; the control never keeps them past that.
//
// Threads: user-interface thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Controls.h"
#include "classlib/Graphics.h"
#include "classlib/StdCtrls.h"

namespace classlib {
class TBitmap;
}

namespace imaging {

class TPxCanvas;

#pragma pack(push, 1)
// One character format, stored byte for byte in object streams and on the
// clipboard. Unused name bytes and reserved bytes are zero: two formats are
// the same when their bytes from FontName on are equal.
struct TPxMemoCharFormat {
    int32_t UseCount = 0;
    uint8_t FontName[256] = {};  // length byte, then up to 255 characters
    int32_t FontHeight = 0;
    uint8_t FontStyle = 0;  // bit 0 bold, 1 italic, 2 underline, 3 strike-out
    uint8_t Reserved1[3] = {};
    int32_t FontColor = 0;
    int32_t BackColor = 0;
    uint8_t BackStyle = 0;  // TBrushStyle
    uint8_t Alignment = 0;  // 0 left, 1 right, 2 centre, 3 justify
    uint8_t Reserved2[2] = {};
};
#pragma pack(pop)
static_assert(sizeof(TPxMemoCharFormat) == 280);

bool PxSameFormat(const TPxMemoCharFormat& A, const TPxMemoCharFormat& B);
std::string PxFormatFontName(const TPxMemoCharFormat& F);
void PxSetFormatFontName(TPxMemoCharFormat& F, const std::string& Name);

// The registered number of the "PXIMAGE TEXTMEMO" clipboard format (0 before
// the unit's start-up).
UINT PxTextMemoClipboardFormat();
void PxTextCStartup();
void PxTextCShutdown();

// A single-line edit: a typed Tab is dropped; Tab and the movement keys
// (page up/down, end, home, arrows) are kept by the control.
class TPxEdit : public classlib::TEdit {
public:
    explicit TPxEdit(classlib::TComponent* AOwner) : classlib::TEdit(AOwner) {}
    std::wstring ClassName() const override { return L"TPxEdit"; }
    void WndProc(classlib::TMessage& Message) override;
};

class TPxTextControl : public classlib::TCustomControl {
public:
    explicit TPxTextControl(classlib::TComponent* AOwner);
    ~TPxTextControl() override;
    std::wstring ClassName() const override { return L"TPxTextControl"; }

    // The text (line breaks are character 10), the formats and the format
    // index of each character. Moved in before InitText, moved out after.
    std::string TextBuf;
    std::vector<TPxMemoCharFormat> Formats;
    std::vector<uint32_t> CharFormats;
    int TextLen() const { return static_cast<int>(TextBuf.size()); }
    int CaretPos = 0;
    int CaretX = 0, CaretY = 0, CaretHeight = 0;
    std::unique_ptr<classlib::TFont> TextFont;
    std::unique_ptr<classlib::TBrush> TextBrush;
    std::unique_ptr<classlib::TPen> BorderPen;
    std::unique_ptr<classlib::TBrush> BoxBrush;
    bool InsertMode = true;
    uint8_t Alignment = 0;
    double Zoom = 1.0;
    int SelStart = 0, SelEnd = 0;
    int PressX = 0, PressY = 0;
    TPxMemoCharFormat CurrentFormat;
    bool IgnoreColors = false;
    bool GetFixedFont() const { return fixedFont_; }
    void SetFixedFont(bool Value);
    bool AutoHeight = false;
    int LineSpacing = 0;
    int LineHeight = 0;
    // Layout cache, one entry per character plus one.
    std::vector<int16_t> CharHeights, CharWidths;
    std::vector<uint8_t> CharLeadings, CharDescents;
    std::vector<int32_t> CharX, CharY;
    classlib::TNotifyEvent OnCursorMoved;
    // The view's composed picture (borrowed) shown under a box that is not
    // solid.
    classlib::TBitmap* Background = nullptr;
    double Margins[4] = {0, 0, 0, 0};

    // Prepares the control for the text it was given.
    void InitText();
    // Lays out and draws the text into the box (Left, Top) .. (Left +
    // round(Width * Zoom), Top + round(Height * Zoom)).
    void PaintTo(TPxCanvas* Canvas, int Left, int Top, int Width, int Height);
    // Resets the layout cache and repaints.
    void Update() override;
    void RemoveUnusedFormats();
    void DrawBackground();
    void InsertChar(char Ch);
    void DeleteChar(int Index);
    void DeleteSelection();
    void ExtendSelection(int OldCaret, classlib::TShiftState Shift);
    void CaretFromPoint(int X, int Y);
    void AssignFormat(int Index, const TPxMemoCharFormat& Record);
    void CopySelection();
    void PasteClipboard();
    void SelectionFontBigger();
    void SelectionFontSmaller();
    void SetSelectionBackColor(classlib::TColor Color);
    // Inverts style bit Bit of every selected character (each keeps its
    // other styles); without a selection, of CurrentFormat.
    void ToggleSelectionStyle(uint8_t Bit);
    void SetParagraphAlignment(uint8_t Value);
    // The key handling (also reached through the window's key messages).
    void HandleKey(WORD& Key, classlib::TShiftState Shift);
    void HandleChar(char Ch);
    // Reads private clipboard data from a block (the layout the control
    // writes); false when the block is too short for what it claims.
    bool PasteFromBlock(const uint8_t* Data, size_t Size);
    // Format of character Index as the drawing uses it.
    TPxMemoCharFormat FormatOf(int Index) const;

protected:
    void CreateParams(classlib::TCreateParams& Params) override;
    void Paint() override;
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;
    void KeyPress(wchar_t& Key) override;
    void MouseDown(classlib::TMouseButton Button, classlib::TShiftState Shift, int X, int Y) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void WndProc(classlib::TMessage& Message) override;

private:
    void FillFromFont(TPxMemoCharFormat& F) const;
    void ResetLayout(int From);
    void GrowLayout();
    void CaretMoved(int OldCaret, classlib::TShiftState Shift);
    // The caret to (X, Y), selecting from the press point when it moved.
    void SelectFromPressTo(int X, int Y);
    // Key groups of HandleKey; each says whether the key was its own.
    bool HandleEditKey(WORD Key, classlib::TShiftState Shift);
    bool HandleCaretKey(WORD Key, classlib::TShiftState Shift);
    void HandleCtrlKey(WORD Key);
    // The character index on the line above (or below) nearest the caret's
    // x, -1 when there is no such line.
    int CaretOnNextLine(bool Up) const;
    // Asks for a font and gives it to the selection.
    void ChooseSelectionFont();
    int WordLeft(int Pos) const;
    int WordRight(int Pos) const;
    int LineStart(int Pos) const;
    int LineEnd(int Pos) const;
    void ApplyToSelection(void (*Change)(TPxMemoCharFormat&, intptr_t), intptr_t Arg, bool Current);
    void DoubleClickWord();
    // Steps of PaintTo. Layout coordinates are at zoom 1 from the box's
    // corner; the drawing scales them by Zoom.
    struct TTextArea {
        int UsableW = 0, UsableH = 0;
        int OriginX = 0, OriginY = 0;
    };
    struct TGlyph {
        int Index;
        int X, Y, Base;
    };
    void PaintBox(TPxCanvas* Canvas, int Left, int Top, int Width, int Height);
    // Sizes of the characters not measured yet, each in its own font.
    void MeasureChars(HDC DC);
    // The end (exclusive) of the line from Start: after its break, after
    // the last blank that fits, or at the first character that does not fit
    // (Cut set for the last two).
    int LineBreak(int Start, int UsableW, bool& Cut) const;
    // Places every character and collects the ones inside the area; returns
    // the top of the last line.
    int LayOutLines(const TTextArea& A, std::vector<TGlyph>& Glyphs);
    // The caret from the layout; returns the caret index clamped to the text.
    int PlaceCaret(const TTextArea& A, int LineTop);
    void DrawGlyphs(HDC DC, const std::vector<TGlyph>& Glyphs, int Left, int Top);
    // Layout and caret scaled by Zoom; the caret's own place takes the caret.
    void ZoomLayout(int Caret);
    std::unique_ptr<classlib::TBitmap> backBuffer_;
    bool fixedFont_ = false;
};

}  // namespace imaging
