#pragma once

#include "featureusages.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

namespace tallivo {

// What "Usages.Log" holds.
struct UsagesLogState
{
    QString productName;
    QString version;
    QDateTime buildDate;
    QList<FeatureUsages> features;
    bool isEnabled = false;
    QDateTime lastReportSentOn;
    QString hardwareUUID;
    QDateTime lastReviewAskDate;
    bool neverAskForReview = false;
    qint64 nextReviewTargetValue = 0;
};

// The file's XML text. Dates are written in the given zone.
QByteArray writeUsagesLog(const UsagesLogState &state, const QTimeZone &zone);

// Reads the XML text into state: elements present replace fields, features are
// appended, "hardwareUUID" is ignored. Broken markup is repaired where
// possible; nothing outside the text is ever loaded (no DTDs, entities, network).
void readUsagesLog(const QByteArray &xml, UsagesLogState *state, const QTimeZone &zone);

// The leading decimal integer of the text, clamped to 32 bits; 0 when none.
qint32 leadingInt32(const QString &text);

} // namespace tallivo
