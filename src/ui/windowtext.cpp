#include "windowtext.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>

namespace tallivo {

QString numericFieldText(int tag, const QString &text)
{
    QString fallback;
    if (tag == PageCountFieldTag)
        fallback = QStringLiteral("2");
    else if (tag == CopyCountFieldTag)
        fallback = QStringLiteral("1");
    else
        return text;
    if (text.isEmpty())
        return fallback;

    auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && !isDigit(text.at(first)))
        ++first;
    while (last > first && !isDigit(text.at(last - 1)))
        --last;
    const QString trimmed = text.mid(first, last - first);

    qsizetype digits = 0;
    while (digits < trimmed.size() && isDigit(trimmed.at(digits)))
        ++digits;
    // Only whether the leading number is zero matters, so overflow cannot.
    bool zero = true;
    for (qsizetype i = 0; i < digits; ++i)
        zero = zero && trimmed.at(i) == QLatin1Char('0');
    return zero ? fallback : trimmed;
}

void watchNumericField(QLineEdit *field, int tag)
{
    if (!field)
        return;
    QObject::connect(field, &QLineEdit::textEdited, field, [field, tag](const QString &text) {
        const QString fixed = numericFieldText(tag, text);
        if (fixed != text)
            field->setText(fixed);
        field->setFocus(Qt::OtherFocusReason);
    });
}

namespace {

void renameEntries(QMenu *menu, const QString &productName, const QString &displayName, bool atEnd)
{
    if (!menu)
        return;
    for (QAction *action : menu->actions()) {
        QString title = action->text();
        const bool matches = atEnd ? title.endsWith(productName) : title.startsWith(productName);
        if (matches)
            action->setText(title.replace(productName, displayName));
    }
}

} // namespace

void renameMenuTitles(QMenuBar *menuBar, const QString &productName, const QString &displayName)
{
    if (!menuBar || productName.isEmpty())
        return;
    const QList<QAction *> entries = menuBar->actions();
    if (entries.isEmpty())
        return;
    renameEntries(entries.first()->menu(), productName, displayName, true);
    for (QAction *entry : entries) {
        if (entry->text().remove(QLatin1Char('&')) == QLatin1String("Window"))
            renameEntries(entry->menu(), productName, displayName, false);
    }
    renameEntries(entries.last()->menu(), productName, displayName, false);
}

} // namespace tallivo
