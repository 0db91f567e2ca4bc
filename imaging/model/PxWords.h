// The toolkit's message table: the texts its dialogs and parameter forms
// show, by language and index. Filled once by the toolkit's start-up on the
// start-up thread and read-only afterwards (callers may store their own
// translations with PxSetMsgText before any component exists); no lock.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/model/PxDefs.h"

namespace imaging {

// Message indices run from 0 to PxMsgCount - 1.
constexpr int PxMsgCount = 149;

// Stores the text in entry [language, index]. Indices outside the table and
// languages without a row are ignored.
void PxSetMsgText(TMsgLanguage language, int index, const std::wstring& text);

// The text of an index: for msSystem the English text; for another language
// that row's entry, or the English text when the entry is empty. An index
// outside the table gives an empty text.
std::wstring PxGetMsgText(int index, TMsgLanguage language);

// Stores the built-in English texts in the msEnglish row.
void PxFillEnglishMessages();
// Start-up of the message table (called once by the toolkit's start-up after
// PxDefsInit): fills the English row.
void PxFillMessages();
// Shut-down: empties every entry.
void PxFreeMessages();

}  // namespace imaging
