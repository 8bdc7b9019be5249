#pragma once

#include "featureusage.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

namespace tallivo {

inline constexpr char UsagesLogFileName[] = "Usages.Log";
// A counters file is a few hundred bytes; anything beyond this is not ours.
// Loading refuses a larger file, and saving never writes one.
inline constexpr qint64 MaxUsagesLogSize = qint64(8) * 1024 * 1024;
// What a save keeps of a state that would outgrow the file: the last
// features and the first characters of every text. Even with every
// character escaped, this much stays far below MaxUsagesLogSize.
inline constexpr qsizetype MaxSavedFeatures = 256;
inline constexpr qsizetype MaxSavedTextLength = 1024;

// What "Usages.Log" holds.
struct UsagesLogState
{
    QString productName;
    QString version;
    QDateTime buildDate;
    QList<FeatureUsage> features;
    bool reportingEnabled = false;
    QDateTime lastReportSent;
    QString machineId; // written, never read back
    QDateTime lastReviewPrompt;
    bool neverAskForReview = false;
    qint64 nextReviewTarget = 0;

    friend bool operator==(const UsagesLogState &, const UsagesLogState &) = default;
};

// The file's XML text. Dates are written in the given zone. Text that XML
// cannot carry (control characters, "--" in the comment) is left out.
QByteArray writeUsagesLog(const UsagesLogState &state, const QTimeZone &zone);

// Reads the XML text into state: elements present replace fields, features are
// appended, "hardwareUUID" is ignored. Broken markup is repaired where
// possible and internal entities are expanded; nothing outside the text is
// ever loaded (no DTDs, external entities or network), and libxml2 prints
// nothing.
void readUsagesLog(const QByteArray &xml, UsagesLogState *state, const QTimeZone &zone);

// The leading decimal integer of the text, clamped to 32 bits; 0 when none.
qint32 leadingInt32(const QString &text);

} // namespace tallivo
