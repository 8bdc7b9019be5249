#pragma once

// Helpers shared by the usage tests.

#include "usagecounters.h"

#include <QFile>
#include <QStringList>

namespace tallivo::test {

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Features as "name:usages:files,...".
inline QString featuresOf(const UsageCounters &counters)
{
    QStringList items;
    for (const FeatureUsage &feature : counters.state().features)
        items << QStringLiteral("%1:%2:%3")
                     .arg(feature.name)
                     .arg(feature.usagesCount)
                     .arg(feature.filesCount);
    return items.join(QLatin1Char(','));
}

} // namespace tallivo::test
