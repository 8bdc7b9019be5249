#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace tallivo {

// The desktop services the window hands files to.
class Desktop
{
public:
    virtual ~Desktop() = default;
    // Opens with the default application; `done`, if given, learns whether
    // that could be done, later and on this thread.
    virtual void openUrl(const QUrl &url, std::function<void(bool opened)> done = {}) = 0;
    // Calls a method of org.freedesktop.FileManager1 ("ShowItems",
    // "ShowItemProperties") with file URIs; `done` learns whether a file
    // manager answered.
    virtual void callFileManager(const QString &method, const QStringList &uris,
                                 std::function<void(bool answered)> done) = 0;
};

class SystemDesktop final : public Desktop
{
public:
    void openUrl(const QUrl &url, std::function<void(bool opened)> done = {}) override;
    void callFileManager(const QString &method, const QStringList &uris,
                         std::function<void(bool answered)> done) override;

private:
    QObject m_context; // answers from the I/O pool come to it
};

} // namespace tallivo
