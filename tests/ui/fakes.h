#pragma once

#include "desktop.h"
#include "dialogs.h"
#include "filelist.h"

#include <QList>
#include <QStringList>
#include <QUrl>

namespace tallivo::test {

// Lists a file that need not exist.
inline void addItem(FileList &files, const QString &path, int pages = 1, int size = 0)
{
    files.append(std::make_unique<FileItem>(QUrl::fromLocalFile(path), pages, size));
}

// The listed names without extensions, in list order: "a b c".
inline QString order(const FileList &files)
{
    QStringList out;
    for (int i = 0; i < files.size(); ++i)
        out << files.at(i)->name().section(QLatin1Char('.'), 0, 0);
    return out.join(QLatin1Char(' '));
}

// Answers panels and alerts at once, from answers queued in advance; with
// none queued it cancels.
class FakeDialogs : public Dialogs
{
public:
    QList<std::pair<int, QStringList>> panelAnswers; // code and paths
    QList<int> alertAnswers;
    QList<PanelRequest> panels;
    QList<AlertRequest> alerts;

    void runPanel(QWidget *, const PanelRequest &request, PanelDone done) override
    {
        panels.append(request);
        const auto [code, paths] =
            panelAnswers.isEmpty() ? std::pair<int, QStringList>{} : panelAnswers.takeFirst();
        done(code, paths);
    }
    void runAlert(QWidget *, const AlertRequest &request, AlertDone done) override
    {
        alerts.append(request);
        done(alertAnswers.isEmpty() ? 0 : alertAnswers.takeFirst());
    }
};

// Records what the window hands to the desktop.
class FakeDesktop : public Desktop
{
public:
    bool canOpen = true;
    bool fileManagerAnswers = true;
    QList<QUrl> opened;
    QList<QPair<QString, QStringList>> fileManagerCalls;

    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return canOpen;
    }
    void callFileManager(const QString &method, const QStringList &uris,
                         std::function<void(bool)> done) override
    {
        fileManagerCalls.append({method, uris});
        done(fileManagerAnswers);
    }
};

} // namespace tallivo::test
