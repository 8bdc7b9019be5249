#include "buttonbar.h"

#include <QAction>
#include <QHBoxLayout>
#include <QToolButton>

namespace tallivo {

ButtonBar::ButtonBar(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // Joined buttons with rounded outer ends; palette colours, so dark
    // themes work too.
    setStyleSheet(QStringLiteral(R"(
        QToolButton {
            border: 1px solid palette(mid);
            border-left: none;
            background: palette(button);
            padding: 4px 10px;
            min-height: 22px;
        }
        QToolButton[position="first"], QToolButton[position="only"] {
            border-left: 1px solid palette(mid);
            border-top-left-radius: 6px;
            border-bottom-left-radius: 6px;
        }
        QToolButton[position="last"], QToolButton[position="only"] {
            border-top-right-radius: 6px;
            border-bottom-right-radius: 6px;
        }
        QToolButton:hover { background: palette(light); }
        QToolButton:pressed, QToolButton:checked {
            background: palette(highlight);
            color: palette(highlighted-text);
        }
        QToolButton:disabled { color: palette(mid); }
        QToolButton[popupMode="1"] { padding-right: 22px; }
        QToolButton::menu-button {
            border-left: 1px solid palette(mid);
            width: 16px;
        }
    )"));
}

void ButtonBar::addButton(QAction *action)
{
    auto *button = new QToolButton(this);
    button->setDefaultAction(action);
    button->setToolButtonStyle(m_style);
    button->setAutoRaise(false);
    button->setIconSize(QSize(18, 18));
    button->setFocusPolicy(Qt::TabFocus);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_buttons.append(button);
    layout()->addWidget(button);
    restyle();
}

QToolButton *ButtonBar::button(int index) const
{
    return index >= 0 && index < m_buttons.size() ? m_buttons.at(index) : nullptr;
}

void ButtonBar::setToolButtonStyle(Qt::ToolButtonStyle style)
{
    m_style = style;
    for (QToolButton *b : std::as_const(m_buttons))
        b->setToolButtonStyle(style);
}

void ButtonBar::restyle()
{
    // Rounded only at the outer ends, hairlines between the buttons.
    for (qsizetype i = 0; i < m_buttons.size(); ++i) {
        const bool first = i == 0;
        const bool last = i == m_buttons.size() - 1;
        m_buttons.at(i)->setProperty("position", first && last ? "only"
                                                 : first       ? "first"
                                                 : last        ? "last"
                                                               : "middle");
        m_buttons.at(i)->setObjectName(QStringLiteral("button%1").arg(i));
    }
}

} // namespace tallivo
