#include "app/untTranslate.h"

#include "app/FormParts.h"
#include "app/Translations.h"
#include "classlib/ExtCtrls.h"
#include "classlib/StdCtrls.h"
#include "classlib/SysUtils.h"

namespace album {

using namespace classlib;

TfrmTranslate* frmTranslate = nullptr;

TfrmTranslate::TfrmTranslate(TComponent* AOwner) : TForm(AOwner)
{
    SetName(L"frmTranslate");
    SingleBorderDialog(*this, poDesktopCenter, false);
    SetCaption(L"Translate me!");
    SetClientWidth(440);
    SetClientHeight(178);

    Label1 = NewControl<TLabel>(this, this, L"Label1", 16, 16, 408, 0);
    Label1->SetWordWrap(true);

    Bevel1 = NewControl<TBevel>(this, this, L"Bevel1", 8, 8, 424, 120);
    Bevel1->SetShape(bsFrame);

    Edit1 = NewControl<TEdit>(this, this, L"Edit1", 16, 94, 408, 21);
    Edit1->SetReadOnly(true);

    btnOK = NewControl<TButton>(this, this, L"btnOK", 180, 140, 80, 25);
    btnOK->SetCaption(L"&OK");
    btnOK->SetDefault(true);
    btnOK->Cancel = true;
    btnOK->OnClick = TNotifyEvent(this, &TfrmTranslate::btnOKClick);

    LngFile = NewControl<TMemo>(this, this, L"LngFile");
    LngFile->SetVisible(false);
    LngFile->SetWordWrap(false);
}

void TfrmTranslate::ShowOffer(const TTranslationOffer& Offer)
{
    if (!Offer.Show) return;
    Label1->SetCaption(Offer.Message);
    SetCaption(Offer.Caption);
    // The lines prepared for the user to translate.
    LngFile->GetLines()->Clear();
    try {
        if (FileExists(Offer.FileToEdit)) LngFile->GetLines()->LoadFromFile(Offer.FileToEdit);
    } catch (...) {
        // Only shown to the user through the file itself.
    }
    Edit1->SetText(Offer.FileToEdit);
    Show();
}

// Every text of this window comes from the offer, in the user's own
// language; the interface language has none to change.
void TfrmTranslate::ApplyTexts(const TTranslation&) {}

void TfrmTranslate::btnOKClick(TObject*) { Close(); }

}  // namespace album
