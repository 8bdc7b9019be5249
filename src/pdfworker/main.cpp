// tallivo-pdfworker: the process in which the PDF library reads customers'
// files for Tallivo. Started by the program, never by hand: it serves the
// socket it finds as descriptor 3, one file at a time, under an
// address-space limit and a CPU-time limit per file, until the socket
// closes.
#include "pagedetails.h"
#include "pdfcolour.h"
#include "pdfengine.h"
#include "pdfworkerprotocol.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <new>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tallivo;
using namespace tallivo::pdfworker;

namespace {

constexpr int kExitOutOfMemory = 3;
volatile sig_atomic_t g_allocationNoted = 0;

// Tells the program once per file that an allocation failed, so that a
// death that follows reads as "needed too much memory". Safe in any state:
// one send of a few bytes.
void noteAllocationFailure()
{
    if (g_allocationNoted)
        return;
    g_allocationNoted = 1;
    const Frame frame{kMagic, FrameType::OutOfMemory, 0};
    (void)::send(kSocketFd, &frame, sizeof frame, MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace

// GCC says so with __SANITIZE_*__, clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TALLIVO_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define TALLIVO_SANITIZED 1
#endif
#endif

// Every allocation of the process passes here, the PDF library's included,
// so that a failed one is known even when the library then aborts. The
// sanitizers bring allocators of their own.
#ifndef TALLIVO_SANITIZED
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);

void *malloc(size_t size)
{
    void *p = __libc_malloc(size);
    if (!p && size)
        noteAllocationFailure();
    return p;
}

void *calloc(size_t count, size_t size)
{
    void *p = __libc_calloc(count, size);
    if (!p && count && size)
        noteAllocationFailure();
    return p;
}

void *realloc(void *old, size_t size)
{
    void *p = __libc_realloc(old, size);
    if (!p && size)
        noteAllocationFailure();
    return p;
}
}
constexpr bool kLimitAddressSpace = true;
#else
// The sanitizers reserve terabytes of address space up front.
constexpr bool kLimitAddressSpace = false;
// A worker ends when the program closes its socket, whatever it holds.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}
#endif

namespace {

#ifdef TALLIVO_TEST_HOOKS
bool g_testFaults = false;
#endif

bool sendAll(const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::send(kSocketFd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool receiveAll(void *data, size_t size)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::recv(kSocketFd, p, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// The next pages the program wants the colours of; false when it wants no
// more of this file. Ends the worker when the program says what it never says.
bool receivePages(int *first, int *end)
{
    struct
    {
        Frame frame;
        PageRange range;
    } message;
    if (!receiveAll(&message, sizeof message) || message.frame.magic != kMagic ||
        message.frame.type != FrameType::Pages || message.frame.length != sizeof(PageRange))
        ::_exit(0);
    if (message.range.end <= message.range.first ||
        message.range.end > std::uint32_t(kMaxDetailedPages))
        return false;
    *first = int(message.range.first);
    *end = int(message.range.end);
    return true;
}

// The next request and its file; false when the program has gone.
bool receive(Request &request, int &fd)
{
    struct
    {
        Frame frame;
        Request request;
    } message;
    char *p = reinterpret_cast<char *>(&message);
    size_t left = sizeof message;
    fd = -1;
    while (left > 0) {
        iovec iov{p, left};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(kSocketFd, &msg, MSG_CMSG_CLOEXEC);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
                c->cmsg_len >= CMSG_LEN(sizeof(int))) {
                int received;
                std::memcpy(&received, CMSG_DATA(c), sizeof received);
                if (fd >= 0)
                    ::close(fd);
                fd = received;
            }
        }
        p += n;
        left -= size_t(n);
    }
    if (message.frame.magic != kMagic || message.frame.type != FrameType::Request ||
        message.frame.length != sizeof(Request) || fd < 0)
        return false;
    request = message.request;
    return true;
}

// RLIMIT_CPU counts the whole life of the process: each file gets its
// seconds on top of what the files before it spent, counted up to the
// next whole second (the limit's unit), never down.
void limitCpuForNextFile(int seconds)
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const long long micros = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                             usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
    const rlim_t used = rlim_t((micros + 999999) / 1000000);
    rlimit limit{used + rlim_t(seconds), RLIM_INFINITY};
    ::setrlimit(RLIMIT_CPU, &limit);
}

#ifdef TALLIVO_TEST_HOOKS
// With --test-faults (or TALLIVO_PDFWORKER_TEST_FAULTS=1 in its
// environment), files whose first 256 bytes hold "%TALLIVO-TEST-FAULT "
// and a word make the worker fail the way the tests of its limits need:
// before the count, crash, hang, spin, hog, kill (as if killed from
// outside), "killonce MARKER" (killed unless MARKER exists, which it makes)
// and "burn MS" (spends MS milliseconds of CPU, then counts); after the count, in the
// colour pass, crashcolour and spincolour, "crashpage N" (crashes when asked
// for pages that hold page N, from 0) and "waitforshare MARKER" (the first
// pages wait for MARKER, which the worker asked for later pages makes).
// Built into the tests' worker (tallivo-pdfworker-test) only: the installed
// one has none of it.
struct TestFault
{
    std::string what;
    std::string argument;
};

TestFault testFaultOf(int fd)
{
    char head[256] = {};
    const ssize_t n = ::pread(fd, head, sizeof head - 1, 0);
    if (n <= 0)
        return {};
    const std::string text(head, size_t(n));
    const std::string prefix = "%TALLIVO-TEST-FAULT ";
    const size_t at = text.find(prefix);
    if (at == std::string::npos)
        return {};
    const size_t start = at + prefix.size();
    const size_t end = text.find_first_of(" \r\n", start);
    TestFault fault;
    fault.what = text.substr(start, end == std::string::npos ? end : end - start);
    if (end != std::string::npos && text[end] == ' ') {
        const size_t stop = text.find_first_of("\r\n", end + 1);
        fault.argument = text.substr(end + 1, stop == std::string::npos ? stop : stop - end - 1);
    }
    return fault;
}

[[noreturn]] void spin()
{
    volatile unsigned long turns = 0;
    for (;;)
        turns = turns + 1;
}

void testFaultBeforeCount(const TestFault &fault)
{
    if (fault.what == "crash") {
        std::abort();
    } else if (fault.what == "hang") {
        // Tells a test watching from outside that the file has reached it.
        ::prctl(PR_SET_NAME, "tallivo-hanging");
        for (;;)
            ::pause();
    } else if (fault.what == "spin") {
        spin();
    } else if (fault.what == "kill") {
        ::raise(SIGKILL);
    } else if (fault.what == "killonce") {
        const int marker = ::open(fault.argument.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (marker >= 0)
            ::raise(SIGKILL);
    } else if (fault.what == "burn") {
        const double until = processCpuSeconds() + std::atoi(fault.argument.c_str()) / 1000.0;
        volatile unsigned long turns = 0;
        while (processCpuSeconds() < until)
            turns = turns + 1;
    } else if (fault.what == "hog") {
        // Touches what it takes, as a decoder filling a buffer would.
        std::vector<char *> blocks;
        for (;;) {
            char *block = static_cast<char *>(std::malloc(16 << 20));
            if (!block)
                std::abort();
            std::memset(block, 1, 16 << 20);
            blocks.push_back(block);
        }
    }
}

void testFaultInColourPass(const TestFault &fault)
{
    if (fault.what == "crashcolour")
        std::abort();
    else if (fault.what == "spincolour")
        spin();
}

void testFaultInPages(const TestFault &fault, int first, int end)
{
    if (fault.what == "crashpage") {
        const int page = std::atoi(fault.argument.c_str());
        if (page >= first && page < end)
            std::abort();
    } else if (fault.what == "waitforshare") {
        // The first pages wait until another worker has been asked for some.
        const char *marker = fault.argument.c_str();
        if (first > 0)
            ::close(::open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        else
            while (::access(marker, F_OK) != 0)
                ::usleep(10000);
    }
}
#endif

// Ends the worker once the program has gone, whatever the library is busy
// with: the program's end of the socket closes with it. Between files the
// main thread sees the end as well; during one, only this thread does.
void endWithTheProgram()
{
    std::thread([] {
        for (;;) {
            pollfd pfd{kSocketFd, POLLRDHUP, 0};
            const int ready = ::poll(&pfd, 1, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || (pfd.revents & (POLLRDHUP | POLLHUP | POLLERR)))
                ::_exit(0);
        }
    }).detach();
}

bool sendResult(const LibraryCount &count, bool coloursFollow)
{
    Result result;
    result.pages = count.pages;
    result.outcome = count.outcome;
    result.boxCount = std::uint32_t(count.boxes.size());
    result.coloursFollow = coloursFollow ? 1 : 0;
    std::vector<PageBox> boxes;
    boxes.reserve(count.boxes.size());
    for (const PageInfo &info : count.boxes)
        boxes.push_back({info.widthMm, info.heightMm});
    const Frame frame{kMagic, FrameType::Result,
                      std::uint32_t(sizeof result + boxes.size() * sizeof(PageBox))};
    return sendAll(&frame, sizeof frame) && sendAll(&result, sizeof result) &&
           sendAll(boxes.data(), boxes.size() * sizeof(PageBox));
}

bool sendColours(const std::vector<ColourClass> &decided, const ColourStats &stats)
{
    Colours colours;
    colours.count = std::uint32_t(decided.size());
    colours.scanned = std::uint32_t(stats.scanned);
    colours.rendered = std::uint32_t(stats.rendered);
    std::vector<std::uint32_t> classes;
    classes.reserve(decided.size());
    for (const ColourClass colour : decided)
        classes.push_back(std::uint32_t(colour));
    const Frame frame{kMagic, FrameType::Colours,
                      std::uint32_t(sizeof colours + classes.size() * sizeof(std::uint32_t))};
    return sendAll(&frame, sizeof frame) && sendAll(&colours, sizeof colours) &&
           sendAll(classes.data(), classes.size() * sizeof(std::uint32_t));
}

} // namespace

int main(int argc, char *argv[])
{
    long long addressSpace = 0;
    int cpuSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--address-space" && i + 1 < argc)
            addressSpace = std::atoll(argv[++i]);
        else if (a == "--cpu-seconds" && i + 1 < argc)
            cpuSeconds = std::max(1, std::atoi(argv[++i]));
#ifdef TALLIVO_TEST_HOOKS
        else if (a == "--test-faults")
            g_testFaults = true;
#endif
    }
#ifdef TALLIVO_TEST_HOOKS
    if (const char *faults = std::getenv("TALLIVO_PDFWORKER_TEST_FAULTS"))
        g_testFaults = g_testFaults || std::strcmp(faults, "1") == 0;
#endif
    // Only the socket and the standard descriptors stay open.
    ::close_range(kSocketFd + 1, ~0U, 0);
    rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    if (addressSpace > 0 && kLimitAddressSpace) {
        rlimit limit{rlim_t(addressSpace), rlim_t(addressSpace)};
        ::setrlimit(RLIMIT_AS, &limit);
    }
    // The library's complaints about damaged files go nowhere.
    std::signal(SIGPIPE, SIG_IGN);
    // One file after another allocates and frees the same buffers (pages
    // rendered, streams decoded): keep them in the heap rather than mapping
    // and faulting them in afresh each time, up to a few megabytes.
    ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 32 << 20);

    endWithTheProgram();

    Request request;
    int fd;
    while (receive(request, fd)) {
        g_allocationNoted = 0;
        limitCpuForNextFile(cpuSeconds);
#ifdef TALLIVO_TEST_HOOKS
        TestFault fault;
        if (g_testFaults) {
            fault = testFaultOf(fd);
            testFaultBeforeCount(fault);
        }
#endif
        LibraryRequest what;
        what.boxes = request.flags & WantBoxes;
        what.colour = request.flags & WantColour;
        what.colourMinArea = request.colourMinArea;
        what.colourOnly = request.flags & ColourOnly;
        // Colour stops in time for the colours found to be sent within the limit.
        what.colourCpuDeadline = processCpuSeconds() + cpuSeconds * 0.6;
        bool sent = false;
        what.counted = [&](const LibraryCount &count) {
            sent = true;
            if (!sendResult(count, what.colour))
                ::_exit(0);
#ifdef TALLIVO_TEST_HOOKS
            if (what.colour)
                testFaultInColourPass(fault);
#endif
        };
        what.nextPages = [&](int *first, int *end) {
            if (!receivePages(first, end))
                return false;
#ifdef TALLIVO_TEST_HOOKS
            if (g_testFaults)
                testFaultInPages(fault, *first, *end);
#endif
            return true;
        };
        what.decided = [](const std::vector<ColourClass> &classes, const ColourStats &stats) {
            if (!sendColours(classes, stats))
                ::_exit(0);
        };
        LibraryCount count;
        try {
            count = countWithLibrary(fd, request.size, what);
        } catch (const std::bad_alloc &) {
            noteAllocationFailure();
            ::_exit(kExitOutOfMemory);
        }
        ::close(fd);
        if (!sent && !sendResult(count, false))
            return 0;
    }
    return 0;
}
