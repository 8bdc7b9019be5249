#pragma once

#include <QObject>

class QAction;
class QWidget;

namespace tallivo {

class QuitController;

// Keys the window answers wherever they are pressed in it: Esc cancels a
// run, also where a menu bar or another control would keep the key for
// itself, and the quit shortcut quits over a question the window asks,
// which keeps the window's shortcuts from the keyboard.
class WindowKeys final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowKeys)
public:
    WindowKeys(QWidget *window, QAction *cancel, QAction *quit, QuitController &quitter);
    ~WindowKeys() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool quitFromDialog(QObject *watched, QEvent *event);

    QWidget *m_window;
    QAction *m_cancel;
    QAction *m_quit;
    QuitController &m_quitter;
    bool m_escapeTaken = false; // the key's override already cancelled
};

} // namespace tallivo
