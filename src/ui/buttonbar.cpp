#include "buttonbar.h"

#include <QAction>
#include <QEvent>
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
        QToolButton:focus {
            border: 2px solid palette(highlight);
            padding: 3px 9px;
        }
        QToolButton:checked:focus, QToolButton:pressed:focus {
            border: 2px solid palette(text);
        }
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
    // The caption stays at hand when only the icon shows.
    const auto tip = [button, action] {
        const QString tip = action->toolTip();
        button->setToolTip(tip.isEmpty() ? action->iconText() : tip);
    };
    tip();
    connect(action, &QAction::changed, button, tip);
    measure();
}

QToolButton *ButtonBar::button(int index) const
{
    return index >= 0 && index < m_buttons.size() ? m_buttons.at(index) : nullptr;
}

void ButtonBar::setToolButtonStyle(Qt::ToolButtonStyle style)
{
    m_style = style;
    m_compact = false;
    for (QToolButton *b : std::as_const(m_buttons))
        b->setToolButtonStyle(style);
    measure();
}

void ButtonBar::measure()
{
    // Both widths are measured once, here, so that a resize never has to
    // try a style to see whether it fits.
    const auto hintWith = [this](Qt::ToolButtonStyle style) {
        QSize size;
        for (QToolButton *b : std::as_const(m_buttons)) {
            b->setToolButtonStyle(style);
            const QSize hint = b->sizeHint();
            size = QSize(size.width() + hint.width(), qMax(size.height(), hint.height()));
        }
        return size;
    };
    m_iconsOnly = hintWith(Qt::ToolButtonIconOnly);
    m_full = hintWith(m_style);
    for (QToolButton *b : std::as_const(m_buttons))
        b->setToolButtonStyle(m_compact ? Qt::ToolButtonIconOnly : m_style);
    updateGeometry();
}

void ButtonBar::setCompact(bool compact)
{
    if (compact == m_compact)
        return;
    m_compact = compact;
    for (QToolButton *b : std::as_const(m_buttons))
        b->setToolButtonStyle(compact ? Qt::ToolButtonIconOnly : m_style);
}

QSize ButtonBar::sizeHint() const
{
    return m_full;
}

QSize ButtonBar::minimumSizeHint() const
{
    return m_iconsOnly;
}

void ButtonBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    setCompact(width() < m_full.width());
}

void ButtonBar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        measure();
}

void ButtonBar::restyle()
{
    // Rounded only at the outer ends, hairlines between the buttons.
    for (qsizetype i = 0; i < m_buttons.size(); ++i) {
        const bool first = i == 0;
        const bool last = i == m_buttons.size() - 1;
        m_buttons.at(i)->setProperty("position", first && last ? QStringLiteral("only")
                                                 : first       ? QStringLiteral("first")
                                                 : last        ? QStringLiteral("last")
                                                               : QStringLiteral("middle"));
        m_buttons.at(i)->setObjectName(QStringLiteral("button%1").arg(i));
    }
}

} // namespace tallivo
