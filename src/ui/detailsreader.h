#pragma once

#include "filetablemodel.h"

#include <QObject>
#include <QTimer>

#include <vector>

namespace tallivo {

// Reads the page details (sizes and colours) of listed files that were
// counted while details were off, on request: when a details column is
// shown, the Page Summary opens, or View > Read Page Details. Each file is
// measured again on the I/O pool; what is read reaches the table through
// the model, in batches. Main thread.
class DetailsReader final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DetailsReader)
public:
    explicit DetailsReader(FileTableModel &model, QObject *parent = nullptr);
    ~DetailsReader() override;

    // Starts reading the details the listed files lack; a reading under
    // way goes on and takes the new files as well.
    void readMissing();
    // Stops: files under way finish, their answers are dropped.
    void cancel();
    // The colour tolerance changed: answers under way are dropped, the
    // model drops the PDFs' details, and a reading under way reads them
    // again once it has.
    void coloursChanged();

    bool isReading() const { return m_inFlight > 0 || m_next < m_queue.size() || m_resume; }
    int done() const { return m_done; }
    int total() const { return m_done + m_inFlight + int(m_queue.size() - m_next); }

Q_SIGNALS:
    void progressChanged();
    void finished();

private:
    void startMore();
    void flush();

    FileTableModel &m_model;
    std::vector<FileTableModel::DetailsWanted> m_queue;
    size_t m_next = 0;
    int m_inFlight = 0;
    int m_done = 0;
    quint64 m_generation = 0;
    // Reading waits for the model to drop details read under another rule.
    bool m_resume = false;
    std::vector<FileTableModel::DetailsRead> m_pending;
    QTimer m_flushTimer;
};

} // namespace tallivo
