// The translation information window: tells the user which file to edit to
// translate the program into their own language (the file was prepared by
// PrepareTranslation). Not modal; the path is shown in a read-only field so
// that it can be copied. Main thread only.
#pragma once

#include <string>

#include "classlib/Forms.h"

namespace classlib {
class TBevel;
class TButton;
class TEdit;
class TLabel;
class TMemo;
}  // namespace classlib

namespace album {

class TTranslation;
struct TTranslationOffer;

class TfrmTranslate : public classlib::TForm {
public:
    explicit TfrmTranslate(classlib::TComponent* AOwner);
    std::wstring ClassName() const override { return L"TfrmTranslate"; }

    classlib::TLabel* Label1;
    classlib::TBevel* Bevel1;
    classlib::TEdit* Edit1;
    classlib::TButton* btnOK;
    classlib::TMemo* LngFile;  // hidden

    // Fills the window from Offer (message, caption, the file to edit) and
    // shows it, not modal; nothing happens when Offer.Show is false.
    void ShowOffer(const TTranslationOffer& Offer);
    // The window's texts come from the offer in the user's own language; the
    // interface language changes none of them.
    void ApplyTexts(const TTranslation& T);

    void btnOKClick(classlib::TObject* Sender);
};

extern TfrmTranslate* frmTranslate;

}  // namespace album
