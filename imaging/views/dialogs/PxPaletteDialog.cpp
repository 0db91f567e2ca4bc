#include "imaging/views/dialogs/PxPaletteDialog.h"

#include <algorithm>

#include "classlib/WinHandles.h"
#include "imaging/model/PxIntColor.h"

namespace imaging {

namespace {

constexpr int kCell = 16;
constexpr int kColumns = 32;

}  // namespace

TImgPaletteDialog::TImgPaletteDialog(classlib::TComponent* Owner) : classlib::TForm(Owner)
{
    SetBorderIcons(classlib::biSystemMenu);
    SetBorderStyle(classlib::bsDialog);
    SetCaption(L"Palette");
    SetBounds(GetLeft(), GetTop(), 520, 199);
    SetPosition(classlib::poScreenCenter);
    // Esc closes the dialog like its Cancel button, whatever has the focus.
    KeyPreview = true;
    cancel_ = new classlib::TButton(this);
    cancel_->SetParent(this);
    cancel_->SetCaption(L"&Cancel");
    cancel_->ModalResult = classlib::mrCancel;
    cancel_->Cancel = true;
    cancel_->SetBounds(4, 136, 75, 25);
}

void TImgPaletteDialog::SetPalette(const TPxRGB* Colors, int Count)
{
    palette_ = Colors;
    count_ = Colors ? std::clamp(Count, 0, 256) : 0;
}

bool TImgPaletteDialog::Execute() { return ShowModal() == classlib::mrOk; }

RECT TImgPaletteDialog::CellRect(int Index)
{
    const int col = Index % kColumns;
    const int row = Index / kColumns;
    return RECT{kCell * col + 1, kCell * row + 1, kCell * col + kCell, kCell * row + kCell};
}

int TImgPaletteDialog::CellAt(int X, int Y) const
{
    const int col = (X - 1) / kCell;
    // Right of the 32 columns there is no cell (the index would name a
    // colour of the next row).
    if (X < 0 || Y < 0 || col >= kColumns)
        return -1;
    const int i = ((Y - 1) / kCell) * kColumns + col;
    return i >= 0 && i < count_ ? i : -1;
}

void TImgPaletteDialog::PaintWindow(HDC DC)
{
    for (int i = 0; i < count_; ++i) {
        const RECT r = CellRect(i);
        const COLORREF fill = static_cast<COLORREF>(PxRGBToColor(palette_[i]));
        classlib::TOwnedBrush brush(CreateSolidBrush(fill));
        classlib::TOwnedPen pen(CreatePen(PS_SOLID, 1, i == highlighted_ ? RGB(0, 0, 0) : RGB(255, 255, 255)));
        classlib::TSelectObjectScope selBrush(DC, brush.Get());
        classlib::TSelectObjectScope selPen(DC, pen.Get());
        Rectangle(DC, r.left, r.top, r.right, r.bottom);
    }
}

void TImgPaletteDialog::MouseMove(classlib::TShiftState Shift, int X, int Y)
{
    classlib::TForm::MouseMove(Shift, X, Y);
    const int i = CellAt(X, Y);
    if (i >= 0 && i != highlighted_) {
        highlighted_ = i;
        Invalidate();
    }
}

void TImgPaletteDialog::KeyDown(WORD& Key, classlib::TShiftState Shift)
{
    if (Key == VK_ESCAPE) {
        Key = 0;
        SetModalResult(classlib::mrCancel);
        return;
    }
    classlib::TForm::KeyDown(Key, Shift);
}

void TImgPaletteDialog::Click()
{
    classlib::TForm::Click();
    if (highlighted_ < 0 || !palette_)
        return;
    Color = static_cast<classlib::TColor>(PxRGBToColor(palette_[highlighted_]));
    SetModalResult(classlib::mrOk);
}

}  // namespace imaging
