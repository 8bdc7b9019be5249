#include "mnemonics.h"

#include <QAction>
#include <QMenu>
#include <QSet>

namespace tallivo {

void addMnemonics(QMenu *menu)
{
    const QList<QAction *> actions = menu->actions();
    QSet<QChar> taken;
    const auto mnemonic = [](const QString &text) -> QChar {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text.at(i) != QLatin1Char('&'))
                continue;
            if (text.at(i + 1) != QLatin1Char('&'))
                return text.at(i + 1).toLower();
            ++i; // "&&" is an ampersand
        }
        return {};
    };
    for (const QAction *action : actions) {
        const QChar key = mnemonic(action->text());
        if (!key.isNull())
            taken.insert(key);
    }
    for (QAction *action : actions) {
        const QString text = action->text();
        if (action->isSeparator() || text.isEmpty() || !mnemonic(text).isNull())
            continue;
        // The first letter no other entry has, preferring the starts of words.
        qsizetype pick = -1;
        for (int pass = 0; pass < 2 && pick < 0; ++pass) {
            for (qsizetype i = 0; i < text.size(); ++i) {
                const QChar c = text.at(i);
                const bool wordStart = i == 0 || text.at(i - 1).isSpace();
                if (c.isLetterOrNumber() && (pass == 1 || wordStart) &&
                    !taken.contains(c.toLower())) {
                    pick = i;
                    break;
                }
            }
        }
        if (pick < 0)
            continue;
        taken.insert(text.at(pick).toLower());
        action->setText(QString(text).insert(pick, QLatin1Char('&')));
    }
}

} // namespace tallivo
