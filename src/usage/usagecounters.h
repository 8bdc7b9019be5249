#pragma once

#include "usageslog.h"

#include <QString>

namespace tallivo {

inline constexpr char OutputFilesFeature[] = "Output Files";

// The usage counters and review state, kept in "Usages.Log" in the
// application folder. Every change is saved at once by whoever makes it; a
// save writes a complete file or leaves the old one as it was.
class UsageCounters final
{
public:
    enum class LoadResult
    {
        Loaded,
        Absent,  // no file: one may be written
        Refused, // not a regular file of at most MaxUsagesLogSize bytes; left alone
    };

    // folder: where "Usages.Log" lives; the application folder when empty.
    // The state holds this build's name, version and date and this machine's
    // identifier; nothing is read until load().
    explicit UsageCounters(const QString &folder = QString());

    QString folder() const;
    QString filePath() const;

    // Start-up: removes what killed saves left behind, loads the file and
    // writes one when there is none.
    LoadResult open();
    LoadResult load();
    // False, with the failure in the system log, when the file could not be
    // written whole; the previous file then stays.
    bool save();

    // Counts one use of the feature with the files it handled, then saves.
    void updateUsages(const QString &feature, qint32 totalFiles);
    // filesCount summed over all features.
    qint64 totalFileCount() const;

    const UsagesLogState &state() const { return m_state; }
    // For changes the caller saves.
    UsagesLogState &state() { return m_state; }

private:
    void removeLeftovers() const;

    QString m_folder;
    UsagesLogState m_state;
};

} // namespace tallivo
