#pragma once

#include "desktop.h"
#include "dialogs.h"
#include "filelist.h"
#include "filetablemodel.h"
#include "pagesummary.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace tallivo::test {

// The numbers a text shows, in order: "Total Pages TIFF : 1,200 PDF : 3" is
// "1,200 3"; names such as "A4" are no numbers. The words are checked once,
// in tst_wording.
inline QString figures(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("(?<!\\w)\\d[\\d,]*"));
    QStringList out;
    for (const QRegularExpressionMatch &match : number.globalMatch(text))
        out << match.captured();
    return out.join(QLatin1Char(' '));
}

// Lists a file that need not exist.
inline void addItem(FileList &files, const QString &path, int pages = 1, int size = 0)
{
    files.append(std::make_unique<FileItem>(QUrl::fromLocalFile(path), pages, size));
}

// Lists a file that need not exist as a run's batch would; `set` may change
// it first.
inline void appendFile(FileTableModel &model, const QString &path, int pages = 1, int size = 0,
                       const std::function<void(FileItem &)> &set = {})
{
    std::vector<std::unique_ptr<FileItem>> batch;
    batch.push_back(std::make_unique<FileItem>(QUrl::fromLocalFile(path), pages, size));
    if (set)
        set(*batch.back());
    model.appendFiles(std::move(batch));
}

// The listed names without extensions, in list order: "a b c".
inline QString order(const FileList &files)
{
    QStringList out;
    for (int i = 0; i < files.size(); ++i)
        out << files.at(i)->name().section(QLatin1Char('.'), 0, 0);
    return out.join(QLatin1Char(' '));
}

// A summary of `n` pages like `page`, run after run.
inline PageSummary summaryOf(std::initializer_list<std::pair<int, PageInfo>> runs)
{
    std::vector<PageInfo> pages;
    for (const auto &[n, page] : runs)
        pages.insert(pages.end(), size_t(n), page);
    return PageSummary::fromPages(pages, qint32(pages.size()));
}

// Answers file dialogs and messages at once, from answers queued in advance;
// with none queued it cancels.
class FakeDialogs : public Dialogs
{
public:
    QList<QStringList> fileAnswers; // empty: cancelled
    QList<bool> messageAnswers;
    QList<FileDialogRequest> fileRequests;
    QList<MessageRequest> messages;

    void chooseFiles(QWidget *, const FileDialogRequest &request, Chosen chosen) override
    {
        fileRequests.append(request);
        const QStringList paths = fileAnswers.isEmpty() ? QStringList() : fileAnswers.takeFirst();
        if (!paths.isEmpty())
            chosen(paths);
    }
    void showMessage(QWidget *, const MessageRequest &request, Answered answered) override
    {
        messages.append(request);
        const bool accepted = !messageAnswers.isEmpty() && messageAnswers.takeFirst();
        if (answered)
            answered(accepted);
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

    void openUrl(const QUrl &url, std::function<void(bool)> done) override
    {
        opened.append(url);
        if (done)
            done(canOpen);
    }
    void callFileManager(const QString &method, const QStringList &uris,
                         std::function<void(bool)> done) override
    {
        fileManagerCalls.append({method, uris});
        done(fileManagerAnswers);
    }
};

} // namespace tallivo::test
