#pragma once

#include <QWidget>

class QAction;
class QToolButton;

namespace tallivo {

// A row of joined buttons, numbered from 0, each showing an action: its
// enabled and checked states are the menus' too. When the row gets less room
// than its captions need, the buttons show their icons only, with the
// captions in their tooltips.
class ButtonBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ButtonBar)
public:
    explicit ButtonBar(QWidget *parent = nullptr);

    void addButton(QAction *action);
    QToolButton *button(int index) const;

    void setToolButtonStyle(Qt::ToolButtonStyle style);
    // True while the captions are left out for want of room.
    bool isCompact() const { return m_compact; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void restyle();
    void measure();
    void setCompact(bool compact);

    QList<QToolButton *> m_buttons;
    Qt::ToolButtonStyle m_style = Qt::ToolButtonTextBesideIcon;
    bool m_compact = false;
    QSize m_full; // with captions
    QSize m_iconsOnly;
};

} // namespace tallivo
