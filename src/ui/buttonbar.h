#pragma once

#include <QWidget>

class QAction;
class QToolButton;

namespace tallivo {

// A row of joined buttons, numbered from 0, each showing an action: its
// enabled and checked states are the menus' too.
class ButtonBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ButtonBar)
public:
    explicit ButtonBar(QWidget *parent = nullptr);

    void addButton(QAction *action);
    QToolButton *button(int index) const;

    void setToolButtonStyle(Qt::ToolButtonStyle style);

private:
    void restyle();

    QList<QToolButton *> m_buttons;
    Qt::ToolButtonStyle m_style = Qt::ToolButtonTextBesideIcon;
};

} // namespace tallivo
