#pragma once

#include <QString>

namespace tallivo {

// How often one named feature ran and how many files it handled.
struct FeatureUsages
{
    QString name;
    qint32 usagesCount = 0;
    qint32 filesCount = 0;

    QString description() const
    {
        return QStringLiteral("name : %1 usagesCount:%2 filesCount:%3")
            .arg(name)
            .arg(usagesCount)
            .arg(filesCount);
    }
};

} // namespace tallivo
