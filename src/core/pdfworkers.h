#pragma once

#include "pagedetails.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

namespace tallivo {

// What a worker made of one file.
struct PdfWorkerAnswer
{
    enum Status
    {
        Counted,
        Locked,
        Damaged,
        LibraryFailed, // the worker crashed or was killed on this file
        TookTooLong,   // past its CPU time or wall-clock limit
        NeededTooMuchMemory,
        Cancelled,   // killed by stopAll()
        Unavailable, // no worker could be started
    };
    Status status = Unavailable;
    qint32 pages = 0;
    std::vector<PageInfo> boxes; // when asked for: one per page, up to kMaxDetailedPages
    // Counted, but the colour pass was cut short: why (TookTooLong,
    // NeededTooMuchMemory, LibraryFailed, Cancelled). The pages' colours
    // are then Unknown.
    std::optional<Status> coloursLost;
};

// The processes in which the PDF library reads customers' files, so that a
// crash, a hang or a runaway allocation in it costs one file and never the
// program. Workers are started on demand, up to `maxWorkers`, live on for
// further files, and are replaced when one dies. Each has an address-space
// limit, a CPU-time limit per file and a wall-clock limit per file. The
// file goes to a worker as an open descriptor: a worker never resolves a
// path. A worker killed from outside (SIGKILL: a person, the OOM killer)
// costs no file: it goes once more to a fresh worker. Workers end when the
// program does, whatever they are busy with. Any thread.
class PdfWorkers
{
public:
    struct Limits
    {
        qint64 addressSpace = qint64(1) << 30; // bytes; 0: none
        int cpuSeconds = 30;
        int wallSeconds = 60;
    };

    PdfWorkers(QByteArray program, int maxWorkers, Limits limits,
               QList<QByteArray> extraArguments = {});
    ~PdfWorkers(); // kills its workers
    PdfWorkers(const PdfWorkers &) = delete;
    PdfWorkers &operator=(const PdfWorkers &) = delete;

    // The pool the page counter uses: one worker per core, the default
    // limits, the worker program found by workerProgram().
    static PdfWorkers &shared();
    // Kills the shared pool's workers if it was ever started; for cancel
    // and quit, which never wait for a file.
    static void stopShared();

    // Where the worker program is: $TALLIVO_PDFWORKER when set, else where
    // the install puts it relative to the running program (empty when the
    // running program cannot be found).
    static QByteArray workerProgram();

    // Has a worker count the open file `fd` of `size` bytes, with each
    // page's box when `boxes`, and each page's box and colour class when
    // `colour`. Blocks the calling thread until the answer, a limit or
    // stopAll().
    PdfWorkerAnswer count(int fd, qint64 size, bool boxes, bool colour = false);

    // How many pages' colour classes the workers of every pool have decided
    // from the pages' operators, and how many by rendering, so far.
    struct ColourTally
    {
        qint64 scanned = 0;
        qint64 rendered = 0;
    };
    static ColourTally colourTally();

    // The colour tolerance (mm^2) the workers apply to files sent from now
    // on; an invalid value stands for the default.
    void setColourMinArea(double mm2);
    double colourMinArea() const;

    // Kills every worker, busy or idle, at once; their files end Cancelled.
    // Never waits for one.
    void stopAll();

    // New limits: the wall clock's for files sent from now on, the others
    // for workers started from now on.
    void setLimits(Limits limits);

    // How many worker processes have been started so far; how many live.
    int started() const;
    int running() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tallivo
