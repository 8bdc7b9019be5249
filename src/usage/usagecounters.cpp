#include "usagecounters.h"

#include "appinfo.h"
#include "machineid.h"
#include "savefile.h"
#include "syslogline.h"
#include "usagelogging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace tallivo {

namespace {

qint32 saturatingAdd(qint32 a, qint64 b)
{
    return qint32(qBound(qint64(std::numeric_limits<qint32>::min()), qint64(a) + b,
                         qint64(std::numeric_limits<qint32>::max())));
}

QDateTime executableDate()
{
    if (!QCoreApplication::instance())
        return {};
    return QFileInfo(QCoreApplication::applicationFilePath()).lastModified();
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The new file's name of a save by an older version: the file name, a dot
// and six random letters.
bool isSaveLeftover(const QString &name)
{
    const QString prefix = QString::fromLatin1(UsagesLogFileName) + QLatin1Char('.');
    if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
        return false;
    for (qsizetype i = prefix.size(); i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    }
    return true;
}

QString cutText(const QString &text)
{
    if (text.size() <= MaxSavedTextLength)
        return text;
    qsizetype length = MaxSavedTextLength;
    if (text.at(length - 1).isHighSurrogate())
        --length; // never half a character
    return text.left(length);
}

// Makes the state fit the file: the oldest features go first, but the
// entry counting "Output Files" always stays, and long texts are cut.
void boundForSaving(UsagesLogState *state)
{
    QList<FeatureUsage> &features = state->features;
    if (features.size() > MaxSavedFeatures) {
        qsizetype output = -1;
        for (qsizetype i = features.size() - 1; i >= 0 && output < 0; --i) {
            if (features.at(i).name == QLatin1String(OutputFilesFeature))
                output = i;
        }
        const qsizetype first = features.size() - MaxSavedFeatures;
        QList<FeatureUsage> bounded;
        if (output >= 0 && output < first) {
            bounded.append(features.at(output));
            bounded.append(features.mid(first + 1));
        } else {
            bounded = features.mid(first);
        }
        features = bounded;
    }
    for (FeatureUsage &feature : features)
        feature.name = cutText(feature.name);
    state->productName = cutText(state->productName);
    state->version = cutText(state->version);
    state->machineId = cutText(state->machineId);
}

} // namespace

UsageCounters::UsageCounters(const QString &folder)
    : m_folder(folder)
{
    const QDateTime now = QDateTime::currentDateTime();
    m_state.productName = QStringLiteral(TALLIVO_NAME);
    m_state.version = QStringLiteral(TALLIVO_VERSION);
    m_state.buildDate = executableDate();
    m_state.lastReportSent = now;
    m_state.machineId = machineId();
    m_state.lastReviewPrompt = now;
}

QString UsageCounters::folder() const
{
    return m_folder.isEmpty() ? appDataPath() : m_folder;
}

QString UsageCounters::filePath() const
{
    const QString name = QString::fromLatin1(UsagesLogFileName);
    const QString dir = folder();
    return dir.isEmpty() ? name : dir + QLatin1Char('/') + name;
}

UsageCounters::LoadResult UsageCounters::open()
{
    removeLeftovers();
    const LoadResult result = load();
    if (result == LoadResult::Absent)
        save();
    return result;
}

UsageCounters::LoadResult UsageCounters::load()
{
    const QString path = filePath();
    // Without blocking: a FIFO in the file's place must not stall the start.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return LoadResult::Absent;
        logError("load", QStringLiteral("%1: %2").arg(path, systemError(errno)));
        return LoadResult::Refused;
    }
    const auto refuse = [&](const QString &reason) {
        ::close(fd);
        logError("load", QStringLiteral("%1: %2").arg(path, reason));
        return LoadResult::Refused;
    };
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return refuse(systemError(errno));
    if (!S_ISREG(info.st_mode))
        return refuse(QStringLiteral("not a regular file"));
    if (info.st_size > MaxUsagesLogSize)
        return refuse(QStringLiteral("larger than %1 bytes").arg(MaxUsagesLogSize));

    // The file may grow while it is read; one byte past the limit tells.
    QByteArray bytes(qsizetype(info.st_size) + 1, Qt::Uninitialized);
    qsizetype size = 0;
    for (;;) {
        if (size == bytes.size()) {
            if (size > MaxUsagesLogSize)
                return refuse(QStringLiteral("larger than %1 bytes").arg(MaxUsagesLogSize));
            bytes.resize(qMin(size * 2, MaxUsagesLogSize + 1));
        }
        const ssize_t count = ::read(fd, bytes.data() + size, size_t(bytes.size() - size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return refuse(systemError(errno));
        if (count == 0)
            break;
        size += count;
    }
    ::close(fd);
    bytes.truncate(size);
    readUsagesLog(bytes, &m_state, QTimeZone::systemTimeZone());
    return LoadResult::Loaded;
}

bool UsageCounters::save()
{
    QString error;
    const bool haveFolder =
        m_folder.isEmpty() ? makeAppDataFolder(QString(), &error) : QDir().mkpath(m_folder);
    if (!haveFolder) {
        logError("save",
                 error.isEmpty() ? QStringLiteral("No folder for %1").arg(filePath()) : error);
        return false;
    }
    QByteArray text = writeUsagesLog(m_state, QTimeZone::systemTimeZone());
    if (text.size() > MaxUsagesLogSize) {
        // Written whole, the file would be refused at the next start and
        // every counter lost with it.
        qCWarning(lcUsage) << "The counters outgrew" << MaxUsagesLogSize
                           << "bytes: the oldest features and long texts are cut";
        boundForSaving(&m_state);
        text = writeUsagesLog(m_state, QTimeZone::systemTimeZone());
    }
    if (text.isEmpty() || text.size() > MaxUsagesLogSize) {
        logError("save", QStringLiteral("The counters could not be written as XML"));
        return false;
    }
    QString reason;
    if (!saveFile(QFile::encodeName(filePath()), text, &reason)) {
        logError("save", reason);
        return false;
    }
    return true;
}

void UsageCounters::removeLeftovers() const
{
    removeStaleTemporaries(QFile::encodeName(filePath()));
    const QDir dir(folder());
    const QStringList names =
        dir.entryList({QString::fromLatin1(UsagesLogFileName) + QStringLiteral(".*")},
                      QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QFileInfo info(dir.filePath(name));
        if (isSaveLeftover(name) && info.ownerId() == ::geteuid()) {
            qCInfo(lcUsage) << "Removing what a killed save left:" << info.filePath();
            QFile::remove(info.filePath());
        }
    }
}

void UsageCounters::updateUsages(const QString &feature, qint32 totalFiles)
{
    QList<FeatureUsage> &features = m_state.features;
    for (qsizetype i = features.size() - 1; i >= 0; --i) {
        FeatureUsage &entry = features[i];
        if (entry.name == feature) {
            entry.usagesCount = saturatingAdd(entry.usagesCount, 1);
            entry.filesCount = saturatingAdd(entry.filesCount, totalFiles);
            save();
            return;
        }
    }
    features.append({feature, 1, totalFiles});
    save();
}

qint64 UsageCounters::totalFileCount() const
{
    qint64 total = 0;
    for (const FeatureUsage &feature : m_state.features)
        total += feature.filesCount;
    return total;
}

} // namespace tallivo
