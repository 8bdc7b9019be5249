#pragma once

#include <QWidget>

class QAction;
class QButtonGroup;
class QToolButton;

namespace tallivo {

// A row of joined buttons, numbered from 0. A segment can carry an action,
// whose enabled and checked states it then shares with the menus.
class SegmentedControl : public QWidget
{
    Q_OBJECT
public:
    explicit SegmentedControl(QWidget *parent = nullptr);

    void addSegment(QAction *action);
    int segmentCount() const;
    QToolButton *segment(int index) const;

    void setSegmentEnabled(int index, bool enabled);
    bool isSegmentEnabled(int index) const;
    // The pressed look of a toggle segment.
    void setSelected(int index, bool selected);
    bool isSelected(int index) const;

    void setToolButtonStyle(Qt::ToolButtonStyle style);

Q_SIGNALS:
    void segmentClicked(int index);

private:
    void restyle();

    QList<QToolButton *> m_buttons;
    Qt::ToolButtonStyle m_style = Qt::ToolButtonTextBesideIcon;
};

} // namespace tallivo
