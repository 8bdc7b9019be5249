#pragma once

#include <QObject>

#include <functional>
#include <type_traits>
#include <utility>

namespace tallivo {

// The threads that touch the file system for runs. Many requests in flight
// hide the round trips of a network share; the threads are many because
// most of their time is spent waiting, not computing. Work that is heavy on
// the CPU or on memory takes a ParseSlot first, once its bytes are read: the
// structural PDF reader's inflation of compressed streams does. Reading a
// TIFF's directories or a PDF's tables is light; what the PDF library does
// runs in worker processes, bounded by PdfWorkers.
//
// The pool lives as long as the process and its threads are never joined: a
// thread stuck on a share that stopped answering must not hold up a
// cancelled run or the end of the program.
class IoPool
{
public:
    enum class Priority
    {
        High, // folder listings: the walk waits for them
        Normal
    };

    static IoPool &instance();

    void submit(Priority priority, std::function<void()> task);
    // Tasks queued or running.
    int pending() const;
    // How many tasks run at once.
    int threadCount() const;

private:
    IoPool();
    struct Private;
    Private *d;
};

// Bounds the number of expensive parses at once to the number of cores
// ($TALLIVO_PARSE_SLOTS when set), whatever the number of I/O threads. Held
// for the scope of one parse. A thread holds at most one slot: a slot taken
// where the thread already holds one rides on it instead of waiting for a
// second, which with every slot so held would never come.
class ParseSlot
{
public:
    ParseSlot();
    ~ParseSlot();
    ParseSlot(const ParseSlot &) = delete;
    ParseSlot &operator=(const ParseSlot &) = delete;

    // Whether the calling thread holds a slot: it must then wait for no
    // other gate (a PDF worker, another pool's slot).
    static bool heldByThisThread();
};

namespace detail {
// Runs `work` on the pool; the step it returns runs on the thread of
// `context`, unless `context` has gone by then.
void askIoPool(QObject *context, std::function<std::function<void()>()> work);
} // namespace detail

// Runs `work` on the I/O pool and hands what it returns to `answer` on the
// thread of `context` (the main thread), unless `context` has gone by then.
// Whatever touches a user's path for the window goes this way: a share that
// stops answering then holds up neither the window nor the end of the
// program. Both callables are copied.
template <typename Work, typename Answer>
void runOnIoPool(QObject *context, Work work, Answer answer)
{
    detail::askIoPool(context, [work = std::move(work), answer = std::move(answer)]() mutable {
        if constexpr (std::is_void_v<std::invoke_result_t<Work &>>) {
            work();
            return std::function<void()>(answer);
        } else {
            auto result = work();
            return std::function<void()>(
                [answer, result = std::move(result)]() mutable { answer(std::move(result)); });
        }
    });
}

} // namespace tallivo
