#pragma once

#include "collectionrun.h"
#include "filelist.h"

#include <QSignalSpy>

#include <optional>

namespace tallivo::test {

// Lists what the run counts in `files`, in walk order, as the window's model
// does.
inline QMetaObject::Connection listInto(CollectionRun &run, FileList &files)
{
    return QObject::connect(&run, &CollectionRun::filesCounted,
                            [&files](const SharedFileBatch &batch) {
                                for (auto &item : batch->copies())
                                    files.append(std::move(item));
                            });
}

// Runs over the files not yet in `files` and lists them there; true when the
// run was started and ended within `timeoutMs`.
inline bool runToEnd(CollectionRun &run, FileList &files, std::optional<Arguments> arguments,
                     int timeoutMs = 60000)
{
    QSignalSpy done(&run, &CollectionRun::finished);
    const QMetaObject::Connection listing = listInto(run, files);
    const bool ended = run.start(std::move(arguments), files.pathKeys()) && done.wait(timeoutMs);
    QObject::disconnect(listing);
    return ended;
}

} // namespace tallivo::test
