#include "reportuploader.h"

#include "formdatarequest.h"
#include "usageslog.h"

#include <QDateTime>
#include <QFileInfo>

namespace tallivo {

ReportUploader::ReportUploader(QObject *parent)
    : QObject(parent)
    , m_url(QUrl(QString::fromLatin1(UsagesReportURL)))
{
    m_queue.setMaxConcurrentRequests(4);
    m_queue.setCancelAllOnFailure(true);
    connect(&m_queue, &NetworkQueue::requestFinished, this, [this](HttpRequest *request) {
        Q_EMIT answered(isAcceptance(request->responseText()));
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

bool ReportUploader::submit(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > MaxUsagesLogSize) {
        if (error)
            *error = tr("No counters file to send at %1").arg(path);
        return false;
    }
    m_queue.reset();

    const double seconds = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const QString urlText = QString::asprintf("%s?f=%f", qUtf8Printable(m_url.toString()), seconds);
    auto request = std::make_unique<FormDataRequest>(QUrl(urlText));
    request->setTransferTimeout(m_transferTimeout);
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
