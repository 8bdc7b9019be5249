#pragma once

#include "networkqueue.h"

#include <QObject>
#include <QString>
#include <QUrl>

namespace tallivo {

// The maker's endpoint for usage reports and the token it expects.
inline constexpr char UsagesReportURL[] = "http://www.kelmarin.com/error/usagesubmit.php";
inline constexpr char UsagesUploadId[] = "mzq81v570316";

// Uploads the counters file as a multipart form and tells whether the server
// accepted it. At most one upload is pending: a new one cancels the last.
class ReportUploader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReportUploader)

public:
    explicit ReportUploader(QObject *parent = nullptr);

    QUrl url() const { return m_url; }
    void setUrl(const QUrl &url) { m_url = url; }
    int transferTimeout() const { return m_transferTimeout; }
    void setTransferTimeout(int msecs) { m_transferTimeout = msecs; }
    NetworkQueue *queue() { return &m_queue; }

    // Queues the upload of the file as it is now; false, with the reason,
    // when it cannot be attached (missing, not a regular file, too large).
    bool submit(const QString &path, QString *error = nullptr);

    // The server accepts with exactly "OK", once "<br>" and "&nbsp;" are read
    // as a line feed and a space.
    static bool isAcceptance(const QString &answer);
    // The answer decoded by the charset of its type; ISO Latin-1 when none is named.
    static QString answerText(const QByteArray &contentType, const QByteArray &body);
    // "<name> <version> (<cpu>; <kernel> <x.y.z>; <locale>)"
    static QByteArray userAgent();

Q_SIGNALS:
    // The server answered (accepted or not), or the upload failed.
    void answered(bool accepted);

private:
    QUrl m_url;
    int m_transferTimeout = HttpRequest::DefaultTransferTimeout;
    NetworkQueue m_queue;
};

} // namespace tallivo
