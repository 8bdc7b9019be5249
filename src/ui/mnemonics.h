#pragma once

class QMenu;

namespace tallivo {

// Gives each entry of the menu without a mnemonic the first free letter,
// preferring the starts of words.
void addMnemonics(QMenu *menu);

} // namespace tallivo
