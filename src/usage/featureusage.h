#pragma once

#include <QString>

namespace tallivo {

// How often one named feature ran and how many files it handled.
struct FeatureUsage
{
    QString name;
    qint32 usagesCount = 0;
    qint32 filesCount = 0;

    friend bool operator==(const FeatureUsage &, const FeatureUsage &) = default;
};

} // namespace tallivo
