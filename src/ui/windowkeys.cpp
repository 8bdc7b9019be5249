#include "windowkeys.h"

#include "quitcontroller.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <utility>

namespace tallivo {

WindowKeys::WindowKeys(QWidget *window, QAction *cancel, QAction *quit, QuitController &quitter)
    : QObject(window)
    , m_window(window)
    , m_cancel(cancel)
    , m_quit(quit)
    , m_quitter(quitter)
{
    qApp->installEventFilter(this);
}

WindowKeys::~WindowKeys()
{
    qApp->removeEventFilter(this);
}

bool WindowKeys::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress)
        return false;
    if (quitFromDialog(watched, event))
        return true;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier)
        return false;
    // A key event travels up from the focus widget; it is looked at once,
    // where it starts.
    QWidget *focus = QApplication::focusWidget();
    if (watched != (focus ? focus : m_window) || m_window->window() != m_window ||
        (focus && focus->window() != m_window) || QApplication::activePopupWidget() ||
        !m_cancel->isEnabled()) {
        if (type == QEvent::KeyPress)
            m_escapeTaken = false;
        return false;
    }
    if (type == QEvent::ShortcutOverride) {
        // Taken here, so no control keeps the key from the shortcut; the
        // key itself still reaches the control, so a menu bar lets go of
        // the focus it took.
        m_cancel->trigger();
        m_escapeTaken = true;
        event->accept();
        return true;
    }
    if (!std::exchange(m_escapeTaken, false))
        m_cancel->trigger();
    return false;
}

bool WindowKeys::quitFromDialog(QObject *watched, QEvent *event)
{
    // The key is taken at the first widget of the dialog it reaches.
    const auto *key = static_cast<QKeyEvent *>(event);
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
        !m_quit->shortcuts().contains(QKeySequence(key->keyCombination())))
        return false;
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || modal == m_window || static_cast<QWidget *>(watched)->window() != modal ||
        !modal->parentWidget() || modal->parentWidget()->window() != m_window ||
        m_quitter.isAsking())
        return false;
    event->accept();
    m_quitter.requestQuit();
    return true;
}

} // namespace tallivo
