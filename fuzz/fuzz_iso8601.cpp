// ISO 8601 text: any text is read without undefined behaviour, the range read
// lies within the text, and a date that was read is written in the calendar
// and ordinal forms and read back to the same second.

#include "iso8601dateformatter.h"

#include <QDebug>

#include <cstdint>
#include <cstdlib>
#include <ctime>

using namespace tallivo;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    setenv("TZ", "America/St_Johns", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1 || size > 4096)
        return 0;
    // The first byte chooses how the text is read and in which zone it is written.
    const std::uint8_t flags = data[0];
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    static const QChar separators[] = {QLatin1Char(':'), QLatin1Char('.'), QLatin1Char(','),
                                       QLatin1Char('-')};
    static const QTimeZone zones[] = {QTimeZone::utc(), QTimeZone("Asia/Kathmandu"),
                                      QTimeZone("America/St_Johns"), QTimeZone(-14 * 3600)};

    Iso8601DateFormatter reader;
    reader.setStrict(flags & 1);
    reader.setTimeSeparator(separators[(flags >> 1) & 3]);
    QTimeZone zone;
    Iso8601DateFormatter::Range range;
    const QDateTime date = reader.parse(text, &zone, &range);
    if (!date.isValid())
        return 0;
    if (range.location > text.size() || range.length > text.size() - range.location) {
        qWarning() << "range" << range.location << range.length << "of" << text;
        std::abort();
    }

    Iso8601DateFormatter writer;
    writer.setIncludeTime(true);
    writer.setTimeZone(zones[(flags >> 3) & 3]);
    const Iso8601DateFormatter::Format formats[] = {Iso8601DateFormatter::Format::Calendar,
                                                    Iso8601DateFormatter::Format::Ordinal};
    for (const Iso8601DateFormatter::Format format : formats) {
        writer.setFormat(format);
        const QString written = writer.toString(date);
        const QDateTime back = Iso8601DateFormatter().parse(written);
        if (back != date) {
            qWarning() << text << "read as" << date << "written" << written << "read back" << back;
            std::abort();
        }
    }
    writer.setFormat(Iso8601DateFormatter::Format::Week);
    if (writer.toString(date).isEmpty())
        std::abort();
    return 0;
}
