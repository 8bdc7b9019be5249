#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace tallivo {

// The desktop services the window hands files to.
class Desktop
{
public:
    virtual ~Desktop() = default;
    // Opens with the default application; false when that cannot be done.
    virtual bool openUrl(const QUrl &url) = 0;
    // Calls a method of org.freedesktop.FileManager1 ("ShowItems",
    // "ShowItemProperties") with file URIs; `done` learns whether a file
    // manager answered.
    virtual void callFileManager(const QString &method, const QStringList &uris,
                                 std::function<void(bool answered)> done) = 0;
};

class SystemDesktop final : public Desktop
{
public:
    bool openUrl(const QUrl &url) override;
    void callFileManager(const QString &method, const QStringList &uris,
                         std::function<void(bool answered)> done) override;
};

} // namespace tallivo
