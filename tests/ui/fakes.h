#pragma once

#include "desktop.h"
#include "dialogs.h"

#include <QList>
#include <QStringList>
#include <QUrl>

namespace tallivo::test {

// Answers panels and alerts at once, from answers queued in advance; with
// none queued it cancels.
class FakeDialogs : public Dialogs
{
public:
    struct PanelAnswer
    {
        int code;
        QStringList paths;
    };
    QList<PanelAnswer> panelAnswers;
    QList<int> alertAnswers;
    QList<PanelRequest> panels;
    QList<AlertRequest> alerts;

    void runPanel(QWidget *, const PanelRequest &request, PanelDone done) override
    {
        panels.append(request);
        const PanelAnswer answer =
            panelAnswers.isEmpty() ? PanelAnswer{0, {}} : panelAnswers.takeFirst();
        done(answer.code, answer.paths);
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
