#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace tallivo {

class MainWindow;

// Lets a second launch bring the running window back instead of starting
// another copy with an empty list, and hand it the files and folders it was
// given.
class ReopenService final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReopenService)
    Q_CLASSINFO("D-Bus Interface", "com.kelmarin.Tallivo")
public:
    static QString serviceName() { return QStringLiteral("com.kelmarin.Tallivo"); }
    // Bounds on what a caller may hand over in one call. One argument of a
    // command is at most 128 KiB (the kernel's MAX_ARG_STRLEN), three times
    // that once percent-encoded, so every path a command line can give fits
    // in kMaxUrlLength. A call carries at most kMaxCallLength characters of
    // URLs, well inside D-Bus's limits (an array of 64 MiB, a message of
    // 128 MiB); more goes in further calls.
    static constexpr qsizetype kMaxUrls = 100000;
    static constexpr qsizetype kMaxUrlLength = 512 * 1024;
    static constexpr qsizetype kMaxCallLength = 32 * 1024 * 1024;

    // Registers on the session bus. False when another instance holds the
    // name and has been asked to show its window and count `urls`; true
    // otherwise (also when there is no session bus at all). A holder that
    // does not answer is quitting or stuck: this instance runs on its own
    // and takes the name over once the holder lets go of it. What could not
    // be handed over is said in `refused`.
    static bool claim(const QList<QUrl> &urls = {}, QStringList *refused = nullptr);
    static bool claim(QDBusConnection bus, const QList<QUrl> &urls, QStringList *refused = nullptr);
    // Asks the instance behind `service` on `bus` to show its window and
    // count `urls`; true when it answered. Gives up at once when the holder
    // lets go of the name meanwhile, as a quitting instance does.
    static bool handOver(const QDBusConnection &bus, const QString &service,
                         const QList<QUrl> &urls, QStringList *refused = nullptr);
    // Answers reopen requests for the window from now on: a hidden or
    // minimized window comes to the front. When the application is about
    // to quit, the name goes first, before anything that might wait.
    static void serve(MainWindow *window);
    static void serve(MainWindow *window, QDBusConnection bus);

    // URLs travel as their percent-encoded text, which keeps every byte of
    // a name. Anything not a file on this machine, or past the bounds, is
    // left out, with a line for people in `refused`.
    static QStringList encodeUrls(const QList<QUrl> &urls, QStringList *refused = nullptr);
    static QList<QUrl> decodeUrls(const QStringList &texts, QStringList *refused = nullptr);

public Q_SLOTS:
    Q_SCRIPTABLE void reopen();
    Q_SCRIPTABLE void open(const QStringList &urls);

private:
    explicit ReopenService(MainWindow *window);
    MainWindow *m_window;
};

} // namespace tallivo
