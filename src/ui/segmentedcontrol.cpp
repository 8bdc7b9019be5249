#include "segmentedcontrol.h"

#include <QAction>
#include <QHBoxLayout>
#include <QToolButton>

namespace tallivo {

SegmentedControl::SegmentedControl(QWidget *parent)
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
        QToolButton[segmentPosition="first"], QToolButton[segmentPosition="only"] {
            border-left: 1px solid palette(mid);
            border-top-left-radius: 6px;
            border-bottom-left-radius: 6px;
        }
        QToolButton[segmentPosition="last"], QToolButton[segmentPosition="only"] {
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

void SegmentedControl::addSegment(QAction *action)
{
    auto *button = new QToolButton(this);
    button->setDefaultAction(action);
    button->setToolButtonStyle(m_style);
    button->setAutoRaise(false);
    button->setIconSize(QSize(18, 18));
    button->setFocusPolicy(Qt::TabFocus);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    const int index = int(m_buttons.size());
    m_buttons.append(button);
    layout()->addWidget(button);
    connect(button, &QToolButton::clicked, this, [this, index] { Q_EMIT segmentClicked(index); });
    restyle();
}

int SegmentedControl::segmentCount() const
{
    return int(m_buttons.size());
}

QToolButton *SegmentedControl::segment(int index) const
{
    return index >= 0 && index < m_buttons.size() ? m_buttons.at(index) : nullptr;
}

void SegmentedControl::setSegmentEnabled(int index, bool enabled)
{
    if (QToolButton *b = segment(index)) {
        if (b->defaultAction())
            b->defaultAction()->setEnabled(enabled);
        b->setEnabled(enabled);
    }
}

bool SegmentedControl::isSegmentEnabled(int index) const
{
    QToolButton *b = segment(index);
    return b && b->isEnabled();
}

void SegmentedControl::setSelected(int index, bool selected)
{
    if (QToolButton *b = segment(index)) {
        if (b->defaultAction() && b->defaultAction()->isCheckable())
            b->defaultAction()->setChecked(selected);
        else
            b->setDown(selected);
    }
}

bool SegmentedControl::isSelected(int index) const
{
    QToolButton *b = segment(index);
    return b && (b->isChecked() || b->isDown());
}

void SegmentedControl::setToolButtonStyle(Qt::ToolButtonStyle style)
{
    m_style = style;
    for (QToolButton *b : std::as_const(m_buttons))
        b->setToolButtonStyle(style);
}

void SegmentedControl::restyle()
{
    // Rounded only at the outer ends, hairlines between the segments.
    for (qsizetype i = 0; i < m_buttons.size(); ++i) {
        const bool first = i == 0;
        const bool last = i == m_buttons.size() - 1;
        m_buttons.at(i)->setProperty("segmentPosition", first && last ? "only"
                                                        : first       ? "first"
                                                        : last        ? "last"
                                                                      : "middle");
        m_buttons.at(i)->setObjectName(QStringLiteral("segment%1").arg(i));
    }
}

} // namespace tallivo
