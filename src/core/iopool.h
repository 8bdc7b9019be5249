#pragma once

#include <functional>

namespace tallivo {

// The threads that touch the file system for runs. Many requests in flight
// hide the round trips of a network share; the threads are many because
// most of their time is spent waiting, not computing. Work that is heavy on
// the CPU or on memory takes a ParseSlot first.
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

// Bounds the number of expensive parses at once to the number of cores,
// whatever the number of I/O threads. Held for the scope of one parse.
class ParseSlot
{
public:
    ParseSlot();
    ~ParseSlot();
    ParseSlot(const ParseSlot &) = delete;
    ParseSlot &operator=(const ParseSlot &) = delete;
};

} // namespace tallivo
