#pragma once

#include <QByteArray>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace tallivo::test {

// What is written to a pipe. The read end is open before any writer comes,
// so that a writer finds its reader; once the writer is done, data() takes
// what is left, and returns even when no writer ever came.
class PipeReader
{
public:
    explicit PipeReader(const QByteArray &path, qint64 stopAfter = -1)
        : m_fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        if (::pipe2(m_stop, O_CLOEXEC) != 0)
            return;
        m_thread = std::thread([this, stopAfter] {
            pollfd p[2] = {{m_fd, POLLIN, 0}, {m_stop[0], POLLIN, 0}};
            while (::poll(p, 2, -1) >= 0) {
                const bool last = p[1].revents != 0;
                ssize_t n = 0;
                do {
                    char buffer[65536];
                    n = ::read(m_fd, buffer, sizeof buffer);
                    if (n > 0)
                        m_data.append(buffer, n);
                } while (last && n > 0);
                if (last || n == 0 || (n < 0 && errno != EAGAIN) ||
                    (stopAfter >= 0 && m_data.size() >= stopAfter))
                    break;
            }
            ::close(m_fd);
        });
    }
    ~PipeReader()
    {
        data();
        ::close(m_stop[0]);
        ::close(m_stop[1]);
    }
    bool isOpen() const { return m_fd >= 0 && m_thread.joinable(); }
    QByteArray data()
    {
        if (m_thread.joinable()) {
            const ssize_t n = ::write(m_stop[1], "x", 1);
            (void)n;
            m_thread.join();
        }
        return m_data;
    }

private:
    int m_fd;
    int m_stop[2] = {-1, -1};
    QByteArray m_data;
    std::thread m_thread;
};

} // namespace tallivo::test
