#include "lastlistkeeper.h"

#include "appinfo.h"
#include "dialogs.h"
#include "fileio.h"
#include "fileitem.h"
#include "filetablemodel.h"
#include "intake.h"
#include "iopool.h"
#include "listsnapshot.h"
#include "localpath.h"
#include "pagetally.h"
#include "pdfworkers.h"
#include "savefile.h"
#include "uilogging.h"

#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tallivo {

namespace {

// Files handed to the table per turn of the event loop when a kept list is
// restored: about 60 ms of work.
constexpr size_t kRestoreRowsPerStep = 20000;
// Lists moved aside get numbers up to this; past it the list stays put.
constexpr int kMaxMovedAside = 100;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

enum class ReadResult
{
    Read,
    Missing,
    Failed
};

// The whole of the regular file at `path`.
ReadResult readWhole(const QByteArray &path, QByteArray *bytes, QString *error)
{
    // Not blocking: a FIFO in the list's place is refused, not waited on.
    const int fd = openPath(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return ReadResult::Missing;
        *error = systemError(errno);
        return ReadResult::Failed;
    }
    ReadResult result = ReadResult::Read;
    struct stat info = {};
    if (::fstat(fd, &info) != 0) {
        *error = systemError(errno);
        result = ReadResult::Failed;
    } else if (!S_ISREG(info.st_mode)) {
        *error = QStringLiteral("not a regular file");
        result = ReadResult::Failed;
    } else if (info.st_size > listsnapshot::kMaxBytes) {
        *error = QStringLiteral("larger than a kept list can be");
        result = ReadResult::Failed;
    } else {
        bytes->resize(qsizetype(info.st_size));
        qsizetype done = 0;
        while (done < bytes->size()) {
            const ssize_t got = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                *error = systemError(errno);
                result = ReadResult::Failed;
                break;
            }
            if (got == 0)
                break; // it shrank: the checksum tells
            done += got;
        }
        bytes->truncate(done);
    }
    ::close(fd);
    return result;
}

// Renames `path` to the first free "PATH.unreadable", "PATH.unreadable.2",
// ...; an earlier list moved aside is never replaced.
bool moveAside(const QByteArray &path, QByteArray *movedTo, QString *error)
{
    for (int n = 1; n <= kMaxMovedAside; ++n) {
        QByteArray target = path + LastListKeeper::kUnreadableSuffix;
        if (n > 1)
            target += '.' + QByteArray::number(n);
        int result =
            ::renameat2(AT_FDCWD, path.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            // A file system that cannot promise not to replace: look first.
            struct stat info = {};
            if (::lstat(target.constData(), &info) == 0)
                continue;
            result = errno == ENOENT ? ::rename(path.constData(), target.constData()) : -1;
        }
        if (result == 0) {
            *movedTo = target;
            return true;
        }
        if (errno != EEXIST) {
            *error = systemError(errno);
            return false;
        }
    }
    *error = QStringLiteral("%1 lists were moved aside before").arg(kMaxMovedAside);
    return false;
}

} // namespace

struct LastListKeeper::Read
{
    std::shared_ptr<Files> files = std::make_shared<Files>();
    bool unreadable = false;
    QString error;      // why it could not be read
    QByteArray movedTo; // where it went, when it was moved aside
    QString moveError;  // why it was not
    QList<QByteArray> addedFolders;
    double colourMinArea = 0; // the rule the files' colours stand for
};

LastListKeeper::LastListKeeper(FileTableModel &model, Intake &intake, Dialogs &dialogs,
                               QWidget *window)
    : QObject(window)
    , m_model(model)
    , m_intake(intake)
    , m_dialogs(dialogs)
    , m_window(window)
{
    // Logging out closes the questions too.
    connect(qApp, &QGuiApplication::commitDataRequest, this, &LastListKeeper::setQuitting);
}

QByteArray LastListKeeper::defaultPath()
{
    const QString folder = appDataPath();
    if (folder.isEmpty())
        return {};
    return QFile::encodeName(folder + QStringLiteral("/LastList.bin"));
}

void LastListKeeper::offer()
{
    m_state = State::Offering;
    if (m_path.isEmpty()) {
        // Nothing is kept; what waits for the offer goes on from the event
        // loop, as after a read.
        QTimer::singleShot(0, this, &LastListKeeper::settle);
        return;
    }
    runOnIoPool(
        this,
        [path = m_path, tolerance = PdfWorkers::shared().colourMinArea()] {
            Read read;
            read.colourMinArea = tolerance;
            QByteArray bytes;
            double keptTolerance = 0;
            switch (readWhole(path, &bytes, &read.error)) {
            case ReadResult::Missing:
                return read;
            case ReadResult::Read:
                if (listsnapshot::decode(bytes, read.files.get(), &read.error, &read.addedFolders,
                                         &keptTolerance)) {
                    // Colours read under another tolerance are read again
                    // under this one when asked for.
                    if (keptTolerance != tolerance) {
                        for (const auto &item : *read.files) {
                            if (pageGroupOf(*item) == PageGroup::Pdf)
                                item->dropPageDetails();
                        }
                    }
                    return read;
                }
                break;
            case ReadResult::Failed:
                break;
            }
            read.unreadable = true;
            qCWarning(lcUi) << "The kept list was not read:" << path << read.error;
            if (!moveAside(path, &read.movedTo, &read.moveError))
                qCWarning(lcUi) << "The kept list was not moved aside:" << read.moveError;
            return read;
        },
        [this](const Read &read) { answerRead(read); });
}

void LastListKeeper::answerRead(const Read &read)
{
    if (read.unreadable)
        return tellUnreadable(read);
    if (read.files->empty())
        return settle();
    m_readTolerance = read.colourMinArea;
    ask(read.files, read.addedFolders);
}

void LastListKeeper::ask(std::shared_ptr<Files> files, const QList<QByteArray> &addedFolders)
{
    const int count = int(files->size());
    MessageRequest question;
    question.icon = QMessageBox::Question;
    question.title = appTitle();
    question.text = count == 1 ? tr("Restore the list of 1 file from the last session?")
                               : tr("Restore the list of %1 files from the last session?")
                                     .arg(QLocale().toString(count));
    question.informativeText =
        tr("The files come back with their page counts; none is opened again.");
    question.acceptText = tr("&Restore");
    question.rejectText = tr("&Discard");
    m_dialogs.showMessage(m_window, question, [this, files, addedFolders](bool accepted) {
        // Quitting closes the question as Discard would. The kept list then
        // stays; should the program go on after all, it is asked again.
        if (std::exchange(m_quitting, false)) {
            QTimer::singleShot(0, this, [this, files, addedFolders] { ask(files, addedFolders); });
            return;
        }
        if (accepted) {
            // The jobs of the bill come back with the files.
            for (const QByteArray &folder : addedFolders)
                m_model.addFolder(folder);
            return restore(files, 0);
        }
        // A million files take a second or two to free.
        IoPool::instance().submit(IoPool::Priority::Normal, [files] { files->clear(); });
        Q_EMIT offered(false);
        settle();
    });
}

void LastListKeeper::tellUnreadable(const Read &read)
{
    MessageRequest note;
    note.icon = QMessageBox::Warning;
    note.title = appTitle();
    note.text = tr("The list of the last session could not be read.");
    if (!read.movedTo.isEmpty()) {
        note.informativeText = tr("It was moved aside to \u201c%1\u201d and is not restored: %2")
                                   .arg(displayPath(read.movedTo), read.error);
    } else {
        // Never deleted: the list of this session is not kept over it.
        m_replaceable = false;
        note.informativeText = tr("It stays as it is at \u201c%1\u201d (%2: %3), and the list "
                                  "of this session is not kept in its place.")
                                   .arg(displayPath(m_path), read.error, read.moveError);
    }
    m_dialogs.showMessage(m_window, note, [this](bool) {
        // Not while quitting: launched files would start a run on the way out.
        if (std::exchange(m_quitting, false))
            QTimer::singleShot(0, this, &LastListKeeper::settle);
        else
            settle();
    });
}

void LastListKeeper::restore(std::shared_ptr<Files> files, size_t from)
{
    // A block at a time, each in its own turn of the event loop, so that a
    // long list comes back without freezing the window. Until the last
    // block is in, quitting leaves the kept list as it is.
    const size_t to = std::min(files->size(), from + kRestoreRowsPerStep);
    Files block;
    block.reserve(to - from);
    for (size_t i = from; i < to; ++i)
        block.push_back(std::move((*files)[i]));
    m_model.appendFiles(std::move(block));
    if (to < files->size()) {
        QTimer::singleShot(0, this, [this, files, to] { restore(files, to); });
        return;
    }
    // The tolerance changed while the question was open.
    if (PdfWorkers::shared().colourMinArea() != m_readTolerance)
        m_model.dropPdfDetails();
    Q_EMIT offered(true);
    settle();
}

void LastListKeeper::settle()
{
    m_state = State::Settled;
    const QList<QUrl> held = std::exchange(m_held, {});
    if (!held.isEmpty())
        m_intake.addLaunched(held);
    Q_EMIT settled();
}

void LastListKeeper::addLaunched(const QList<QUrl> &urls)
{
    if (m_state == State::Offering) {
        m_held.append(urls);
        return;
    }
    m_intake.addLaunched(urls);
}

bool LastListKeeper::save()
{
    // A kept list not yet offered, or offered and not yet answered, stays
    // for the next start.
    if (m_path.isEmpty() || m_state != State::Settled)
        return true;
    if (!m_replaceable) {
        qCWarning(lcUi) << "The list was not kept: the unreadable list is still in its place";
        return false;
    }
    const FileList &files = m_model.files();
    QByteArray bytes;
    if (files.size() > 0) {
        std::vector<const FileItem *> items;
        items.reserve(size_t(files.size()));
        for (int row = 0; row < files.size(); ++row)
            items.push_back(files.at(row));
        // Halfway through dropping colours of an older tolerance, the list
        // stands for none.
        const double tolerance =
            m_model.isDroppingDetails() ? 0.0 : PdfWorkers::shared().colourMinArea();
        bytes = listsnapshot::encode(items, m_model.addedFolders(), tolerance);
    }
    QString error;
    if (!keepFile(m_path, std::move(bytes), m_quitPatience, &error)) {
        qCWarning(lcUi) << "The list was not kept:" << error;
        return false;
    }
    return true;
}

} // namespace tallivo
