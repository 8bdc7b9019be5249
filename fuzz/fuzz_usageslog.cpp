// The counters file: any bytes are read quietly and within bounds, and the
// state read is written and read back unchanged (the next start must see
// what this one saved).

#include "usageslog.h"

#include <QDebug>
#include <QTimeZone>

#include <cstdint>
#include <cstdlib>
#include <ctime>

using namespace tallivo;

namespace {

QDebug operator<<(QDebug debug, const UsagesLogState &s)
{
    debug << s.productName << s.version << s.buildDate << s.reportingEnabled << s.lastReportSent
          << s.lastReviewPrompt << s.neverAskForReview << s.nextReviewTarget;
    for (const FeatureUsage &f : s.features)
        debug << f.name << f.usagesCount << f.filesCount;
    return debug;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Dates without a zone are read in the system's: one with half hours and DST.
    setenv("TZ", "America/St_Johns", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The loader reads at most MaxUsagesLogSize; smaller inputs find the same.
    if (size > 1024 * 1024)
        return 0;
    static const QTimeZone zones[] = {QTimeZone::utc(), QTimeZone("Asia/Kolkata"),
                                      QTimeZone("America/St_Johns"), QTimeZone("Pacific/Chatham")};
    const QTimeZone &zone = zones[size % 4];
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    UsagesLogState first;
    readUsagesLog(bytes, &first, zone);
    const QByteArray written = writeUsagesLog(first, zone);
    UsagesLogState second;
    readUsagesLog(written, &second, zone);
    if (written.isEmpty() || !(first == second)) {
        qWarning() << "read:" << first << "\nwritten:" << written << "\nread back:" << second;
        std::abort();
    }
    return 0;
}
