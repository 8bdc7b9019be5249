#pragma once

#include <QObject>

namespace tallivo {

class MainWindow;

// Lets a second launch bring the running window back instead of starting
// another copy with an empty list.
class ReopenService final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReopenService)
    Q_CLASSINFO("D-Bus Interface", "com.kelmarin.Tallivo")
public:
    static QString serviceName() { return QStringLiteral("com.kelmarin.Tallivo"); }

    // Registers on the session bus. False when another instance holds the
    // name and has been asked to show its window; true otherwise (also when
    // there is no session bus at all).
    static bool claim();
    // Answers reopen requests for the window from now on: a hidden or
    // minimized window comes to the front.
    static void serve(MainWindow *window);

public Q_SLOTS:
    Q_SCRIPTABLE void reopen();

private:
    explicit ReopenService(MainWindow *window);
    MainWindow *m_window;
};

} // namespace tallivo
