#pragma once

#include <QObject>

namespace tallivo {

class TallivoAppDelegate;

// Lets a second launch bring the running window back instead of starting
// another copy with an empty list.
class ReopenService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.kelmarin.Tallivo")
public:
    static QString serviceName() { return QStringLiteral("com.kelmarin.Tallivo"); }

    // Registers on the session bus. False when another instance holds the
    // name and has been asked to show its window; true otherwise (also when
    // there is no session bus at all).
    static bool claim();
    // Answers reopen requests for the window from now on.
    static void serve(TallivoAppDelegate *window);

public Q_SLOTS:
    Q_SCRIPTABLE void reopen();

private:
    explicit ReopenService(TallivoAppDelegate *window);
    TallivoAppDelegate *m_window;
};

} // namespace tallivo
