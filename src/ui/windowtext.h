#pragma once

#include <QString>

class QLineEdit;
class QMenuBar;

namespace tallivo {

// Tags of the numeric entry fields and the text each falls back to.
inline constexpr int PageCountFieldTag = 30001;
inline constexpr int CopyCountFieldTag = 30002;

// The text a numeric field shows after an edit: digits are kept in the
// middle, other characters are stripped from both ends, and an empty or zero
// entry becomes the field's default. Other tags keep their text.
QString numericFieldText(int tag, const QString &text);
// Applies numericFieldText() to the field on every edit, keeping the focus.
void watchNumericField(QLineEdit *field, int tag);

// Puts the display name in place of the product name in the menus that carry
// it: application-menu entries ending with it, and entries of the "Window"
// menu and of the last menu starting with it.
void renameMenuTitles(QMenuBar *menuBar, const QString &productName, const QString &displayName);

} // namespace tallivo
