#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <memory>
#include <vector>

class QWidget;

namespace tallivo {

class Dialogs;
class FileItem;
class FileTableModel;
class Intake;

// The list kept between sessions in LastList.bin. At start the kept list is
// read off the main thread and offered back; at quit the list is written in
// its place. A kept list is replaced only once it has been offered and the
// question answered, so a start that never asked, or a quit before the
// answer, leaves it for the next start. One that cannot be read is moved
// aside and the window says so; it is never deleted.
class LastListKeeper final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LastListKeeper)
public:
    // The suffix of a kept list moved aside; a second one gets ".2", ...
    static constexpr char kUnreadableSuffix[] = ".unreadable";

    LastListKeeper(FileTableModel &model, Intake &intake, Dialogs &dialogs, QWidget *window);

    // ".../LastList.bin" in the data folder; empty when the platform gives
    // no data folder.
    static QByteArray defaultPath();
    void setPath(const QByteArray &path) { m_path = path; }
    void setQuitPatience(std::chrono::milliseconds patience) { m_quitPatience = patience; }

    // Reads the kept list and, when it holds files, asks whether to put
    // them back; ends with settled(), also when there is nothing to offer.
    void offer();
    // Files given at start or handed over by a second launch: held while
    // the kept list is being offered, then counted after it, so restoring
    // adds them to the kept list.
    void addLaunched(const QList<QUrl> &urls);
    // The program is quitting: a question it closes on the way out is not
    // answered by that.
    void setQuitting() { m_quitting = true; }
    // Writes the list in place of the kept one, whole or not at all; an
    // empty list removes the file. Does nothing until the kept list has
    // been offered. False, with the reason logged, when the list was not kept.
    bool save();

Q_SIGNALS:
    // A kept list was read and the question about it answered.
    void offered(bool restored);
    // The kept list was offered, restored, found missing or moved aside:
    // the start's questions about it are over.
    void settled();

private:
    using Files = std::vector<std::unique_ptr<FileItem>>;
    struct Read;
    void answerRead(const Read &read);
    void ask(std::shared_ptr<Files> files, const QList<QByteArray> &addedFolders);
    void tellUnreadable(const Read &read);
    // Hands the restored files to the table from `from` on.
    void restore(std::shared_ptr<Files> files, size_t from);
    void settle();

    enum class State
    {
        NotOffered,
        Offering, // read, asked or restoring, not yet done
        Settled
    };

    FileTableModel &m_model;
    Intake &m_intake;
    Dialogs &m_dialogs;
    QWidget *m_window;
    QByteArray m_path;
    State m_state = State::NotOffered;
    // An unreadable list that could not be moved aside stays where it is.
    bool m_replaceable = true;
    bool m_quitting = false;
    double m_readTolerance = 0; // the one the restored colours stand for
    QList<QUrl> m_held;
    std::chrono::milliseconds m_quitPatience{10000};
};

} // namespace tallivo
