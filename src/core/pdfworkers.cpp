#include "pdfworkers.h"

#include "colourtolerance.h"
#include "iopool.h"
#include "logging.h"
#include "pdfworkerprotocol.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

extern char **environ;

namespace tallivo {

using namespace pdfworker;
using Clock = std::chrono::steady_clock;

namespace {

// How the worker ends when it runs out of memory outside the library.
constexpr int kExitOutOfMemory = 3;
// Files of more pages than this have their colours decided by every worker
// to be had, this many pages at a time; a worker that fails on its pages
// costs their colours only. After this many failures a file gets no more
// workers.
constexpr std::uint32_t kSharedAbove = 16;
constexpr std::uint32_t kSharedChunk = 8;
constexpr int kMaxChunkFailures = 3;

struct Worker
{
    pid_t pid = -1;
    int socket = -1;
    bool stopped = false; // killed by stopAll()
};

enum class ReadResult
{
    Ok,
    Closed,
    TimedOut,
    Garbled // the worker said what it never says
};

ReadResult readExact(int fd, void *buffer, size_t size, Clock::time_point deadline)
{
    auto *p = static_cast<char *>(buffer);
    while (size > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return ReadResult::TimedOut;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(std::min<qint64>(left, 1000)));
        if (ready < 0 && errno != EINTR)
            return ReadResult::Closed;
        if (ready <= 0)
            continue;
        const ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return ReadResult::Closed;
        p += n;
        size -= size_t(n);
    }
    return ReadResult::Ok;
}

bool sendRequest(int socket, int fd, qint64 size, std::uint32_t flags, double colourMinArea)
{
    struct
    {
        Frame frame;
        Request request;
    } message;
    // No stray bytes of this process in the padding the worker is sent:
    // zeroed whole, then each field set.
    std::memset(static_cast<void *>(&message), 0, sizeof message);
    message.frame.magic = kMagic;
    message.frame.type = FrameType::Request;
    message.frame.length = sizeof(Request);
    message.request.size = size;
    message.request.flags = flags;
    message.request.colourMinArea = colourMinArea;
    iovec iov{&message, sizeof message};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr *cmsg = CMSG_FIRSTHDR(&msg);
    cmsg->cmsg_level = SOL_SOCKET;
    cmsg->cmsg_type = SCM_RIGHTS;
    cmsg->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(cmsg), &fd, sizeof fd);
    ssize_t sent;
    do
        sent = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    // The request is a few bytes on an empty socket: it goes whole or not.
    return sent == ssize_t(sizeof message);
}

bool sendPages(int socket, std::uint32_t first, std::uint32_t end)
{
    struct
    {
        Frame frame;
        PageRange range;
    } message;
    std::memset(static_cast<void *>(&message), 0, sizeof message);
    message.frame.magic = kMagic;
    message.frame.type = FrameType::Pages;
    message.frame.length = sizeof(PageRange);
    message.range.first = first;
    message.range.end = end;
    const char *p = reinterpret_cast<const char *>(&message);
    size_t left = sizeof message;
    while (left > 0) {
        const ssize_t n = ::send(socket, p, left, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= size_t(n);
    }
    return true;
}

// One file's colour pass, taken chunk by chunk by the workers deciding it.
// Each chunk's classes are written by the one thread that took it.
struct ColourShare
{
    int fd = -1;
    qint64 size = 0;
    double colourMinArea = 0; // the tolerance the file's count asked for
    quint64 stops = 0;        // the pool's stops when the file began
    std::int32_t documentPages = 0;
    std::uint32_t pages = 0; // those whose colours are wanted
    std::uint32_t chunk = 0;
    Clock::time_point deadline;
    std::atomic<std::uint32_t> next{0}; // the next chunk to take
    std::atomic<int> failures{0};
    std::atomic<int> lost{-1}; // the first failure's PdfWorkerAnswer::Status
    std::vector<std::uint32_t> classes;

    bool chunksLeft() const { return qint64(next.load()) * chunk < pages; }
    void noteLost(PdfWorkerAnswer::Status why)
    {
        ++failures;
        int none = -1;
        lost.compare_exchange_strong(none, int(why));
    }
};

std::atomic<PdfWorkers *> g_shared{nullptr};

} // namespace

struct PdfWorkers::Private
{
    QByteArray program;
    QList<QByteArray> arguments;
    int maxWorkers = 1;
    Limits limits;

    mutable std::mutex mutex;
    std::condition_variable idleChanged;
    std::vector<std::shared_ptr<Worker>> all; // started and not yet retired
    std::vector<std::shared_ptr<Worker>> idle;
    int starting = 0;
    int started = 0;
    quint64 stops = 0; // how many times stopAll() ran
    std::atomic<double> colourMinArea{kDefaultColourMinArea};

    // Threads waiting for a worker: workers lent to another file's colour
    // pass go back to the pool for them.
    std::atomic<int> waiting{0};

    std::shared_ptr<Worker> spawn(const Limits &limits);
    std::shared_ptr<Worker> spawnLocked(std::unique_lock<std::mutex> &lock);
    std::shared_ptr<Worker> acquire(bool *stopped);
    std::shared_ptr<Worker> tryAcquire(quint64 stopsBefore);
    void release(const std::shared_ptr<Worker> &worker);
    int retire(const std::shared_ptr<Worker> &worker, bool kill);
    PdfWorkerAnswer::Status failure(const std::shared_ptr<Worker> &worker, ReadResult why,
                                    bool outOfMemory, bool *killedFromOutside);
    PdfWorkerAnswer await(const std::shared_ptr<Worker> &worker, int fd, qint64 size, bool boxes,
                          double colourMinArea, bool *killedFromOutside);
    ReadResult nextFrame(const Worker &worker, FrameType type, std::uint32_t *length,
                         Clock::time_point deadline, bool *outOfMemory);
    ReadResult decideChunks(const Worker &worker, ColourShare &share, bool lent, bool *outOfMemory);
    void lend(ColourShare &share);
    static std::atomic<qint64> coloursScanned;
    static std::atomic<qint64> coloursRendered;
};

std::shared_ptr<Worker> PdfWorkers::Private::spawn(const Limits &limits)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The worker's end becomes its descriptor 3, the only one it keeps
    // besides the standard three; dup2 leaves it open across exec.
    posix_spawn_file_actions_adddup2(&actions, sv[1], kSocketFd);
    // What the library prints before it aborts goes nowhere: a run's
    // output names the file and the reason instead.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    QList<QByteArray> args{program, "--address-space", QByteArray::number(limits.addressSpace),
                           "--cpu-seconds", QByteArray::number(limits.cpuSeconds)};
    args += arguments;
    std::vector<char *> argv;
    for (QByteArray &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(sv[1]);
    if (error != 0) {
        qCWarning(lcCore, "cannot start the PDF worker %s: %s", program.constData(),
                  std::strerror(error));
        ::close(sv[0]);
        return {};
    }
    auto worker = std::make_shared<Worker>();
    worker->pid = pid;
    worker->socket = sv[0];
    return worker;
}

// A worker for one file; none when it cannot be started, or when stopAll()
// ran while the file waited for one (`stopped`).
std::shared_ptr<Worker> PdfWorkers::Private::acquire(bool *stopped)
{
    // A parse slot held while waiting here would hold up the parses of
    // every thread that waits for the slot.
    Q_ASSERT(!ParseSlot::heldByThisThread());
    std::unique_lock lock(mutex);
    const quint64 stopsBefore = stops;
    for (;;) {
        if (stops != stopsBefore) {
            *stopped = true;
            return {};
        }
        if (!idle.empty()) {
            auto worker = idle.back();
            idle.pop_back();
            return worker;
        }
        if (int(all.size()) + starting < maxWorkers)
            return spawnLocked(lock);
        ++waiting;
        idleChanged.wait(lock);
        --waiting;
    }
}

// Starts a worker for the caller, with `lock` released meanwhile.
std::shared_ptr<Worker> PdfWorkers::Private::spawnLocked(std::unique_lock<std::mutex> &lock)
{
    ++starting;
    const Limits now = limits;
    lock.unlock();
    auto worker = spawn(now);
    lock.lock();
    --starting;
    if (worker) {
        ++started;
        all.push_back(worker);
    } else {
        idleChanged.notify_one();
    }
    return worker;
}

// An idle worker, or a new one if the pool may grow; never waits for one.
std::shared_ptr<Worker> PdfWorkers::Private::tryAcquire(quint64 stopsBefore)
{
    std::unique_lock lock(mutex);
    if (stops != stopsBefore)
        return {};
    if (!idle.empty()) {
        auto worker = idle.back();
        idle.pop_back();
        return worker;
    }
    if (int(all.size()) + starting < maxWorkers)
        return spawnLocked(lock);
    return {};
}

void PdfWorkers::Private::release(const std::shared_ptr<Worker> &worker)
{
    {
        std::lock_guard lock(mutex);
        if (!worker->stopped) {
            idle.push_back(worker);
            idleChanged.notify_one();
            return;
        }
    }
    // Killed by stopAll() just after it answered.
    retire(worker, false);
}

// Takes a worker out of the pool for good and reaps it: its wait status.
int PdfWorkers::Private::retire(const std::shared_ptr<Worker> &worker, bool kill)
{
    {
        std::lock_guard lock(mutex);
        const auto it = std::find(all.begin(), all.end(), worker);
        if (it == all.end())
            return 0; // already retired by stopAll()
        if (kill)
            ::kill(worker->pid, SIGKILL);
        all.erase(it);
        idleChanged.notify_one();
    }
    ::close(worker->socket);
    int status = 0;
    while (::waitpid(worker->pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

PdfWorkerAnswer::Status PdfWorkers::Private::failure(const std::shared_ptr<Worker> &worker,
                                                     ReadResult why, bool outOfMemory,
                                                     bool *killedFromOutside)
{
    const int status = retire(worker, true);
    bool stopped;
    {
        std::lock_guard lock(mutex);
        stopped = worker->stopped;
    }
    *killedFromOutside = false;
    if (stopped)
        return PdfWorkerAnswer::Cancelled;
    if (why == ReadResult::TimedOut || (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU))
        return PdfWorkerAnswer::TookTooLong;
    if (outOfMemory || (WIFEXITED(status) && WEXITSTATUS(status) == kExitOutOfMemory))
        return PdfWorkerAnswer::NeededTooMuchMemory;
    // Only this pool's own kills (timeouts, garbled answers, stops) and the
    // library's crashes end a worker otherwise; a SIGKILL that came while
    // it worked was sent from outside.
    *killedFromOutside =
        why == ReadResult::Closed && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    return PdfWorkerAnswer::LibraryFailed;
}

PdfWorkerAnswer PdfWorkers::Private::await(const std::shared_ptr<Worker> &worker, int fd,
                                           qint64 size, bool boxes, double colourMinArea,
                                           bool *killedFromOutside)
{
    PdfWorkerAnswer answer;
    *killedFromOutside = false;
    Clock::time_point deadline;
    {
        std::lock_guard lock(mutex);
        deadline = Clock::now() + std::chrono::seconds(limits.wallSeconds);
    }
    bool outOfMemory = false;
    auto next = [&](FrameType type, std::uint32_t *length) {
        return nextFrame(*worker, type, length, deadline, &outOfMemory);
    };
    std::uint32_t length = 0;
    Result result;
    ReadResult read = next(FrameType::Result, &length);
    if (read == ReadResult::Ok && length < sizeof result)
        read = ReadResult::Garbled;
    if (read == ReadResult::Ok)
        read = readExact(worker->socket, &result, sizeof result, deadline);
    if (read == ReadResult::Ok && (result.boxCount > quint32(kMaxDetailedPages) ||
                                   length != sizeof result + result.boxCount * sizeof(PageBox)))
        read = ReadResult::Garbled;
    std::vector<PageBox> received(read == ReadResult::Ok ? result.boxCount : 0);
    if (read == ReadResult::Ok && !received.empty())
        read =
            readExact(worker->socket, received.data(), received.size() * sizeof(PageBox), deadline);
    if (read != ReadResult::Ok) {
        answer.status = failure(worker, read, outOfMemory, killedFromOutside);
        return answer;
    }
    switch (result.outcome) {
    case Outcome::Counted:
        answer.status = PdfWorkerAnswer::Counted;
        break;
    case Outcome::Locked:
        answer.status = PdfWorkerAnswer::Locked;
        break;
    default:
        answer.status = PdfWorkerAnswer::Damaged;
        break;
    }
    answer.pages = answer.status == PdfWorkerAnswer::Counted ? qMax(0, result.pages) : 0;
    if (boxes) {
        answer.boxes.reserve(received.size());
        for (const PageBox &box : received) {
            PageInfo info;
            if (box.widthMm > 0 && box.heightMm > 0 && box.widthMm <= SizeClass::kMaxSideMm &&
                box.heightMm <= SizeClass::kMaxSideMm) {
                info.widthMm = box.widthMm;
                info.heightMm = box.heightMm;
            }
            answer.boxes.push_back(info);
        }
    }
    if (!result.coloursFollow) {
        release(worker);
        return answer;
    }
    // The count stands whatever becomes of the colour pass.
    ColourShare share;
    share.fd = fd;
    share.size = size;
    share.colourMinArea = colourMinArea;
    {
        std::lock_guard lock(mutex);
        share.stops = stops;
    }
    share.documentPages = result.pages;
    share.pages = result.boxCount;
    share.deadline = deadline;
    // A large file goes in chunks even to a single worker: one that fails
    // costs only its chunk, and a fresh worker goes on with the rest.
    const bool shared = share.pages > kSharedAbove;
    share.chunk = shared ? kSharedChunk : qMax(share.pages, 1u);
    share.classes.assign(share.pages, std::uint32_t(ColourClass::Unknown));
    // Each helper takes a worker of its own: no thread holds two.
    std::vector<std::thread> helpers;
    try {
        for (int i = 1; shared && i < maxWorkers; ++i)
            helpers.emplace_back([this, &share] { lend(share); });
    } catch (const std::system_error &) {
        // Fewer helpers: the chunks wait for those there are.
    }
    read = decideChunks(*worker, share, false, &outOfMemory);
    if (read == ReadResult::Ok) {
        release(worker);
    } else {
        share.noteLost(failure(worker, read, outOfMemory, killedFromOutside));
        // The chunks left go to fresh workers, unless the whole file is to
        // be tried again.
        if (!*killedFromOutside)
            lend(share);
    }
    for (std::thread &helper : helpers)
        helper.join();
    if (share.lost.load() < 0 && share.chunksLeft())
        share.lost = int(PdfWorkerAnswer::TookTooLong);
    if (share.lost.load() >= 0)
        answer.coloursLost = PdfWorkerAnswer::Status(share.lost.load());
    for (size_t i = 0; i < share.classes.size() && i < answer.boxes.size(); ++i) {
        if (share.classes[i] < std::uint32_t(kColourClassCount))
            answer.boxes[i].colour = ColourClass(share.classes[i]);
    }
    return answer;
}

// The next frame of `type`, its length; noted allocation failures on the way.
ReadResult PdfWorkers::Private::nextFrame(const Worker &worker, FrameType type,
                                          std::uint32_t *length, Clock::time_point deadline,
                                          bool *outOfMemory)
{
    for (;;) {
        Frame frame;
        const ReadResult read = readExact(worker.socket, &frame, sizeof frame, deadline);
        if (read != ReadResult::Ok)
            return read;
        if (frame.magic != kMagic)
            return ReadResult::Garbled;
        if (frame.type == FrameType::OutOfMemory && frame.length == 0) {
            *outOfMemory = true;
            continue;
        }
        if (frame.type != type)
            return ReadResult::Garbled;
        *length = frame.length;
        return ReadResult::Ok;
    }
}

// Has `worker`, which has the file open, decide chunks of the share until
// none are left (or, when `lent`, until another file waits for a worker),
// then tells it the file is done. The chunk it fails on stays Unknown.
ReadResult PdfWorkers::Private::decideChunks(const Worker &worker, ColourShare &share, bool lent,
                                             bool *outOfMemory)
{
    std::vector<std::uint32_t> classes;
    for (;;) {
        if ((lent && waiting.load() > 0) || Clock::now() >= share.deadline)
            break;
        const std::uint32_t first = share.next.fetch_add(1) * share.chunk;
        if (first >= share.pages)
            break;
        const std::uint32_t end = std::min(first + share.chunk, share.pages);
        if (!sendPages(worker.socket, first, end))
            return ReadResult::Closed;
        std::uint32_t length = 0;
        Colours colours;
        ReadResult read =
            nextFrame(worker, FrameType::Colours, &length, share.deadline, outOfMemory);
        if (read == ReadResult::Ok && length < sizeof colours)
            read = ReadResult::Garbled;
        if (read == ReadResult::Ok)
            read = readExact(worker.socket, &colours, sizeof colours, share.deadline);
        if (read == ReadResult::Ok &&
            (colours.count != end - first ||
             length != sizeof colours + colours.count * sizeof(std::uint32_t)))
            read = ReadResult::Garbled;
        if (read != ReadResult::Ok)
            return read;
        classes.resize(colours.count);
        read = readExact(worker.socket, classes.data(), classes.size() * sizeof(std::uint32_t),
                         share.deadline);
        if (read != ReadResult::Ok)
            return read;
        std::copy(classes.begin(), classes.end(), share.classes.begin() + first);
        coloursScanned += colours.scanned;
        coloursRendered += colours.rendered;
    }
    return sendPages(worker.socket, 0, 0) ? ReadResult::Ok : ReadResult::Closed;
}

// Takes workers to be had, one at a time, to decide the chunks of the share
// left; stops when none are left, none is to be had, or the file has failed
// too often.
void PdfWorkers::Private::lend(ColourShare &share)
{
    while (share.chunksLeft() && share.failures.load() < kMaxChunkFailures && waiting.load() == 0 &&
           Clock::now() < share.deadline) {
        const std::shared_ptr<Worker> worker = tryAcquire(share.stops);
        if (!worker)
            return;
        if (!sendRequest(worker->socket, share.fd, share.size, WantColour | ColourOnly,
                         share.colourMinArea)) {
            retire(worker, true);
            ++share.failures;
            continue;
        }
        bool outOfMemory = false;
        std::uint32_t length = 0;
        Result result;
        ReadResult read =
            nextFrame(*worker, FrameType::Result, &length, share.deadline, &outOfMemory);
        if (read == ReadResult::Ok && length != sizeof result)
            read = ReadResult::Garbled;
        if (read == ReadResult::Ok)
            read = readExact(worker->socket, &result, sizeof result, share.deadline);
        if (read == ReadResult::Ok && result.boxCount != 0)
            read = ReadResult::Garbled;
        if (read == ReadResult::Ok &&
            (result.outcome != Outcome::Counted || result.pages != share.documentPages ||
             !result.coloursFollow)) {
            // The file reads otherwise than it did: no chunk is trusted to it.
            if (result.coloursFollow && !sendPages(worker->socket, 0, 0))
                read = ReadResult::Closed;
            else {
                release(worker);
                return;
            }
        }
        if (read == ReadResult::Ok)
            read = decideChunks(*worker, share, true, &outOfMemory);
        if (read == ReadResult::Ok) {
            release(worker);
            continue;
        }
        bool killedFromOutside = false;
        share.noteLost(failure(worker, read, outOfMemory, &killedFromOutside));
    }
}

PdfWorkers::PdfWorkers(QByteArray program, int maxWorkers, Limits limits,
                       QList<QByteArray> extraArguments)
    : d(std::make_unique<Private>())
{
    d->program = std::move(program);
    d->arguments = std::move(extraArguments);
    d->maxWorkers = qMax(1, maxWorkers);
    d->limits = limits;
}

PdfWorkers::~PdfWorkers()
{
    stopAll();
}

PdfWorkers &PdfWorkers::shared()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Never destroyed: threads stuck on a share may still hold it when
        // the program ends, and the workers end with their sockets.
        g_shared.store(new PdfWorkers(workerProgram(), QThread::idealThreadCount(), Limits{}),
                       std::memory_order_release);
    });
    return *g_shared.load(std::memory_order_acquire);
}

void PdfWorkers::stopShared()
{
    if (PdfWorkers *shared = g_shared.load(std::memory_order_acquire))
        shared->stopAll();
}

QByteArray PdfWorkers::workerProgram()
{
    if (const char *given = std::getenv("TALLIVO_PDFWORKER"); given && *given)
        return given;
    // Found from the running program as the install lays them out, so an
    // installed program never looks outside its own prefix; the build tree
    // mirrors that layout. No fixed path is built in.
    QByteArray self(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", self.data(), size_t(self.size()));
        if (n <= 0)
            return {};
        if (n < self.size()) {
            self.truncate(n);
            break;
        }
        self.resize(self.size() * 2);
    }
    return self.left(self.lastIndexOf('/') + 1) + TALLIVO_PDFWORKER_FROM_PROGRAM;
}

std::atomic<qint64> PdfWorkers::Private::coloursScanned{0};
std::atomic<qint64> PdfWorkers::Private::coloursRendered{0};

PdfWorkers::ColourTally PdfWorkers::colourTally()
{
    return {Private::coloursScanned.load(), Private::coloursRendered.load()};
}

PdfWorkerAnswer PdfWorkers::count(int fd, qint64 size, bool boxes, bool colour)
{
    const std::uint32_t flags =
        (boxes ? std::uint32_t(WantBoxes) : 0) | (colour ? std::uint32_t(WantColour) : 0);
    boxes = boxes || colour;
    PdfWorkerAnswer answer;
    answer.status = PdfWorkerAnswer::Unavailable;
    // A worker found dead when the request is sent had died between files,
    // and one killed from outside while it worked was no fault of the file:
    // each costs one more try with a fresh worker, once.
    bool resent = false;
    bool retried = false;
    for (;;) {
        bool stopped = false;
        const std::shared_ptr<Worker> worker = d->acquire(&stopped);
        if (stopped)
            answer.status = PdfWorkerAnswer::Cancelled;
        if (!worker)
            return answer;
        const double colourMinArea = d->colourMinArea.load();
        if (!sendRequest(worker->socket, fd, size, flags, colourMinArea)) {
            d->retire(worker, true);
            if (std::exchange(resent, true))
                return answer;
            continue;
        }
        bool killedFromOutside = false;
        PdfWorkerAnswer got = d->await(worker, fd, size, boxes, colourMinArea, &killedFromOutside);
        if (killedFromOutside && !std::exchange(retried, true)) {
            qCInfo(lcCore, "a PDF worker was killed from outside; trying its file again");
            // What the killed one sent stands should the next fare worse.
            if (got.status == PdfWorkerAnswer::Counted)
                answer = std::move(got);
            continue;
        }
        if (answer.status == PdfWorkerAnswer::Counted && got.status != PdfWorkerAnswer::Counted)
            return answer;
        return got;
    }
}

void PdfWorkers::setColourMinArea(double mm2)
{
    d->colourMinArea = isValidColourMinArea(mm2) ? mm2 : kDefaultColourMinArea;
}

double PdfWorkers::colourMinArea() const
{
    return d->colourMinArea.load();
}

void PdfWorkers::setLimits(Limits limits)
{
    std::lock_guard lock(d->mutex);
    d->limits = limits;
}

void PdfWorkers::stopAll()
{
    std::vector<pid_t> idlePids;
    {
        std::lock_guard lock(d->mutex);
        ++d->stops;
        for (const auto &worker : d->all) {
            worker->stopped = true;
            ::kill(worker->pid, SIGKILL);
        }
        // Busy workers are reaped by the threads waiting on them; idle ones
        // here, off the caller's thread.
        for (const auto &worker : d->idle) {
            idlePids.push_back(worker->pid);
            ::close(worker->socket);
            d->all.erase(std::find(d->all.begin(), d->all.end(), worker));
        }
        d->idle.clear();
        d->idleChanged.notify_all();
    }
    if (!idlePids.empty()) {
        std::thread([pids = std::move(idlePids)] {
            for (const pid_t pid : pids) {
                while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                }
            }
        }).detach();
    }
}

int PdfWorkers::started() const
{
    std::lock_guard lock(d->mutex);
    return d->started;
}

int PdfWorkers::running() const
{
    std::lock_guard lock(d->mutex);
    return int(d->all.size());
}

} // namespace tallivo
