// TImgPaletteDialog: a small modal form that shows up to 256 colours as a
// grid of 16 x 16 cells, 32 to a row, and returns the colour the user
// clicks.
//
// Ownership: the palette array is borrowed (SetPalette); the caller keeps it
// alive while the dialog runs. The Cancel button is owned by the form.
// Threads: the window's thread only.
#pragma once

#include <string>

#include "classlib/Forms.h"
#include "classlib/Graphics.h"
#include "classlib/StdCtrls.h"
#include "imaging/model/PxTypes.h"

namespace imaging {

class TImgPaletteDialog : public classlib::TForm {
public:
    explicit TImgPaletteDialog(classlib::TComponent* Owner);
    std::wstring ClassName() const override { return L"TImgPaletteDialog"; }

    // Keeps the address and the count (0..256).
    void SetPalette(const TPxRGB* Colors, int Count);
    // Shows the form modally; true when a colour was clicked (then in
    // Color).
    bool Execute();

    classlib::TButton* GetCancelButton() const { return cancel_; }
    int GetHighlighted() const { return highlighted_; }
    // The chosen colour.
    classlib::TColor Color = classlib::clBlack;

    // The cell of a client point, or -1 outside the colours.
    int CellAt(int X, int Y) const;
    // The rectangle (right and bottom exclusive) of colour Index.
    static RECT CellRect(int Index);

protected:
    void PaintWindow(HDC DC) override;
    void MouseMove(classlib::TShiftState Shift, int X, int Y) override;
    void Click() override;
    void KeyDown(WORD& Key, classlib::TShiftState Shift) override;

private:
    int highlighted_ = -1;
    const TPxRGB* palette_ = nullptr;
    int count_ = 0;
    classlib::TButton* cancel_ = nullptr;
};

}  // namespace imaging
