#include "listhistory.h"

#include "filetablemodel.h"
#include "filetableview.h"

#include <QAction>
#include <QUndoCommand>

namespace tallivo {

namespace {

// Everything the window shows of a file, so that it comes back as it went.
std::unique_ptr<FileItem> copyOf(const FileItem &file)
{
    auto copy = std::make_unique<FileItem>(file.filePath(), file.pages(), file.size());
    copy->setCountStatus(file.countStatus());
    copy->setPageSummary(file.pageSummary());
    copy->setChecked(file.isChecked());
    using Time = FileItem::FileTime;
    copy->setFileTimes(file.fileTimeMSecs(Time::Modified), file.fileTimeMSecs(Time::Created),
                       file.fileTimeMSecs(Time::Accessed));
    return copy;
}

class RemoveRowsCommand final : public QUndoCommand
{
public:
    RemoveRowsCommand(FileTableModel &model, FileTableView &table, const QList<int> &rows)
        : QUndoCommand(ListHistory::tr("Remove"))
        , m_model(model)
        , m_table(table)
    {
        for (int row : rows) {
            const FileItem &file = *model.files().at(row);
            m_rows.append(row);
            m_urls.insert(file.urlText());
            m_files.push_back(copyOf(file));
        }
    }

    void redo() override
    {
        // The first time the rows are known; later the files are looked up,
        // wherever other edits have put them.
        m_model.removeRowList(m_first ? m_rows : m_model.rowsOf(m_urls));
        m_first = false;
    }

    void undo() override
    {
        std::vector<std::pair<int, std::unique_ptr<FileItem>>> back;
        back.reserve(m_files.size());
        for (size_t i = 0; i < m_files.size(); ++i)
            back.emplace_back(m_rows.at(qsizetype(i)), copyOf(*m_files[i]));
        const QList<int> rows = m_model.insertFiles(std::move(back));
        m_table.selectRows(rows);
        if (!rows.isEmpty())
            m_table.scrollTo(m_model.index(rows.first(), 0));
    }

private:
    FileTableModel &m_model;
    FileTableView &m_table;
    QList<int> m_rows; // ascending
    QSet<QString> m_urls;
    std::vector<std::unique_ptr<FileItem>> m_files;
    bool m_first = true;
};

// The list and the one it replaced trade places at every undo and redo.
class SwapListCommand final : public QUndoCommand
{
public:
    SwapListCommand(FileTableModel &model, const QString &text)
        : QUndoCommand(text)
        , m_model(model)
    {
    }
    void redo() override { m_model.swapList(m_other); }
    void undo() override { m_model.swapList(m_other); }

private:
    FileTableModel &m_model;
    FileList m_other;
};

} // namespace

ListHistory::ListHistory(FileTableModel &model, FileTableView &table, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_table(table)
{
    m_stack.setUndoLimit(kDepth);
    connect(&m_stack, &QUndoStack::indexChanged, this, &ListHistory::updateActions);
}

ListHistory::~ListHistory()
{
    // The stack's last signals must not reach what is already gone.
    m_stack.disconnect(this);
}

void ListHistory::setActions(QAction *undo, QAction *redo)
{
    m_undo = undo;
    m_redo = redo;
    connect(undo, &QAction::triggered, this, &ListHistory::undo);
    connect(redo, &QAction::triggered, this, &ListHistory::redo);
    updateActions();
}

void ListHistory::setEnabled(bool enabled)
{
    m_enabled = enabled;
    updateActions();
}

void ListHistory::updateActions()
{
    if (m_undo) {
        m_undo->setEnabled(m_enabled && m_stack.canUndo());
        m_undo->setText(m_stack.canUndo() ? tr("&Undo %1").arg(m_stack.undoText()) : tr("&Undo"));
    }
    if (m_redo) {
        m_redo->setEnabled(m_enabled && m_stack.canRedo());
        m_redo->setText(m_stack.canRedo() ? tr("&Redo %1").arg(m_stack.redoText()) : tr("&Redo"));
    }
}

void ListHistory::removeRows(const QList<int> &rows)
{
    QList<int> ascending;
    for (int row : rows) {
        if (row >= 0 && row < m_model.rowCount())
            ascending.append(row);
    }
    std::sort(ascending.begin(), ascending.end());
    ascending.erase(std::unique(ascending.begin(), ascending.end()), ascending.end());
    if (!ascending.isEmpty())
        m_stack.push(new RemoveRowsCommand(m_model, m_table, ascending));
}

void ListHistory::clear(const QString &text)
{
    // An empty list has nothing to bring back.
    if (m_model.rowCount() == 0) {
        m_model.clear();
        return;
    }
    m_stack.push(new SwapListCommand(m_model, text));
}

void ListHistory::undo()
{
    if (m_enabled)
        m_stack.undo();
}

void ListHistory::redo()
{
    if (m_enabled)
        m_stack.redo();
}

} // namespace tallivo
