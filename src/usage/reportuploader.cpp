#include "reportuploader.h"

#include "formdatarequest.h"
#include "usageslog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>
#include <QSysInfo>
#include <QVersionNumber>

namespace tallivo {

ReportUploader::ReportUploader(QObject *parent)
    : QObject(parent)
    , m_url(QUrl(QString::fromLatin1(UsagesReportURL)))
{
    m_queue.setCancelAllOnFailure(true);
    connect(&m_queue, &NetworkQueue::requestFinished, this, [this](HttpRequest *request) {
        Q_EMIT answered(isAcceptance(answerText(request->contentType(), request->responseBody())));
    });
    connect(&m_queue, &NetworkQueue::requestFailed, this, [this] { Q_EMIT answered(false); });
}

bool ReportUploader::isAcceptance(const QString &answer)
{
    QString text = answer;
    text.replace(QStringLiteral("<br>"), QStringLiteral("\n"));
    text.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
    return text == u"OK";
}

QString ReportUploader::answerText(const QByteArray &contentType, const QByteArray &body)
{
    for (const QByteArray &part : contentType.split(';')) {
        if (!part.trimmed().toLower().startsWith("charset="))
            continue;
        // Stateless: a sequence cut at the end is an error, not a remainder.
        QStringDecoder decoder(part.trimmed().mid(8).replace('"', "").trimmed().constData(),
                               QStringDecoder::Flag::Stateless);
        const QString text = decoder.isValid() ? decoder.decode(body) : QString();
        if (decoder.isValid() && !decoder.hasError())
            return text;
        break;
    }
    return QString::fromLatin1(body);
}

QByteArray ReportUploader::userAgent()
{
    const QVersionNumber v = QVersionNumber::fromString(QSysInfo::kernelVersion());
    const QString kernel = QSysInfo::kernelType();
    return QStringLiteral("%1 %2 (%3; %4%5 %6; %7)")
        .arg(QStringLiteral(TALLIVO_DISPLAY_NAME), QStringLiteral(TALLIVO_VERSION),
             QSysInfo::currentCpuArchitecture(), kernel.left(1).toUpper(), kernel.mid(1),
             QVersionNumber(v.majorVersion(), v.minorVersion(), v.microVersion()).toString(),
             QLocale().name())
        .toUtf8();
}

bool ReportUploader::submit(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > MaxUsagesLogSize) {
        if (error)
            *error = tr("No counters file to send at %1").arg(path);
        return false;
    }
    m_queue.cancelAll();

    const double seconds = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QString urlText = QString::asprintf("%s?f=%f", qUtf8Printable(m_url.toString()), seconds);
    auto request = std::make_unique<FormDataRequest>(QUrl(urlText));
    request->setTransferTimeout(m_transferTimeout);
    request->setRawHeader(QByteArrayLiteral("User-Agent"), userAgent());
    request->setRawHeader(QByteArrayLiteral("UPLOAD_ID"), QByteArray(UsagesUploadId));
    request->setFile(QStringLiteral("file"), path, QString::fromLatin1(UsagesLogFileName));
    // The body is built now, so what is sent is the file as it is now.
    request->buildBody();
    if (request->error() != HttpRequest::Error::NoError) {
        if (error)
            *error = request->errorString();
        return false;
    }
    m_queue.enqueue(request.release());
    m_queue.start();
    return true;
}

} // namespace tallivo
