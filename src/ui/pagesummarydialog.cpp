#include "pagesummarydialog.h"

#include "dialogs.h"
#include "iopool.h"
#include "jobtablemodel.h"
#include "pagebarchart.h"
#include "pagereport.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tallivo {
namespace {

constexpr ColourClass kColumns[] = {ColourClass::BlackWhite, ColourClass::Grey, ColourClass::Colour,
                                    ColourClass::Unknown};

QTableWidgetItem *numberItem(qint64 value)
{
    auto *item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, value);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

PageSummaryDialog::PageSummaryDialog(Dialogs &dialogs, QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
    , m_wholeList(new QRadioButton(tr("Whole list"), this))
    , m_selection(new QRadioButton(tr("Selected files"), this))
    , m_tableWidget(new QTableWidget(this))
    , m_chart(new PageBarChart(this))
    , m_totals(new QLabel(this))
    , m_note(new QLabel(this))
    , m_amount(new QLabel(this))
    , m_byJob(new QCheckBox(tr("By job"), this))
    , m_jobTable(new QTableView(this))
    , m_jobModel(new JobTableModel(this))
    , m_export(new QPushButton(tr("Export CSV…"), this))
{
    setWindowTitle(tr("Page Summary"));
    setModal(false);
    setSizeGripEnabled(true);

    m_wholeList->setObjectName(QStringLiteral("wholeList"));
    m_selection->setObjectName(QStringLiteral("selection"));
    m_tableWidget->setObjectName(QStringLiteral("pageTable"));
    m_chart->setObjectName(QStringLiteral("pageChart"));
    m_totals->setObjectName(QStringLiteral("totals"));
    m_note->setObjectName(QStringLiteral("note"));
    m_note->setWordWrap(true);
    m_note->hide();
    m_export->setObjectName(QStringLiteral("exportCsv"));
    m_amount->setObjectName(QStringLiteral("amount"));
    m_amount->setWordWrap(true);
    m_amount->hide();
    m_byJob->setObjectName(QStringLiteral("byJob"));
    m_jobTable->setObjectName(QStringLiteral("jobTable"));
    m_jobTable->setModel(m_jobModel);
    m_jobTable->verticalHeader()->hide();
    m_jobTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_jobTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_jobTable->horizontalHeader()->setSectionResizeMode(JobTableModel::JobColumn,
                                                         QHeaderView::Stretch);
    m_jobTable->hide();
    connect(m_byJob, &QCheckBox::toggled, this, &PageSummaryDialog::setByJob);

    auto *scopes = new QButtonGroup(this);
    scopes->addButton(m_wholeList);
    scopes->addButton(m_selection);
    m_wholeList->setChecked(true);
    connect(m_wholeList, &QRadioButton::toggled, this,
            [this](bool on) { setScope(on ? Scope::WholeList : Scope::Selection); });

    m_tableWidget->verticalHeader()->hide();
    m_tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);

    auto *top = new QHBoxLayout;
    top->addWidget(m_wholeList);
    top->addWidget(m_selection);
    top->addSpacing(12);
    top->addWidget(m_byJob);
    top->addStretch();
    top->addWidget(m_totals);

    // The chart keeps the height of all its bars and scrolls when the
    // dialog is made smaller than that.
    auto *chartArea = new QScrollArea(this);
    chartArea->setObjectName(QStringLiteral("chartArea"));
    chartArea->setWidget(m_chart);
    chartArea->setWidgetResizable(true);
    chartArea->setFrameShape(QFrame::NoFrame);
    chartArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("splitter"));
    splitter->addWidget(m_tableWidget);
    splitter->addWidget(chartArea);
    splitter->setChildrenCollapsible(false);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_export, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_export, &QPushButton::clicked, this, &PageSummaryDialog::exportCsv);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_note);
    layout->addWidget(m_amount);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_jobTable, 1);
    layout->addWidget(buttons);
    m_splitter = splitter;
    resize(600, 520);
    fillTable();
}

void PageSummaryDialog::showEvent(QShowEvent *event)
{
    if (!m_sized) {
        m_sized = true;
        fitToContents();
    }
    QDialog::showEvent(event);
}

void PageSummaryDialog::fitToContents()
{
    // Room for the table's rows and for every bar of the chart, the
    // "unknown size" one included, within the screen.
    const int tableHeight = m_tableWidget->horizontalHeader()->sizeHint().height() +
                            m_tableWidget->verticalHeader()->defaultSectionSize() *
                                std::max(m_tableWidget->rowCount(), 4) +
                            2 * m_tableWidget->frameWidth() + 4;
    const int chartHeight = m_chart->sizeHint().height();
    const int around = std::max(0, sizeHint().height() - m_splitter->sizeHint().height());
    int height = std::max(520, around + tableHeight + m_splitter->handleWidth() + chartHeight + 8);
    const QScreen *screen =
        parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        height = std::min(height, screen->availableGeometry().height() * 9 / 10);
    // Bars that arrive later (details read while it is open) make it grow,
    // never shrink.
    if (m_fittedBars >= 0)
        height = std::max(height, this->height());
    m_fittedBars = int(m_chart->bars().size());
    resize(std::max(width(), 600), height);
    // Where the screen is too small for both, the chart keeps its height
    // and the table, which scrolls by itself, gives way.
    layout()->activate();
    const int room = m_splitter->height() - m_splitter->handleWidth();
    const int chartPart = std::min(chartHeight, std::max(room - 3 * tableHeight / 10, room / 2));
    m_splitter->setSizes({room - chartPart, chartPart});
}

void PageSummaryDialog::setRunning(bool running)
{
    m_running = running;
}

void PageSummaryDialog::keyPressEvent(QKeyEvent *event)
{
    if (m_running && event->matches(QKeySequence::Cancel)) {
        Q_EMIT cancelRequested();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

PageSummaryDialog::~PageSummaryDialog() = default;

void PageSummaryDialog::setSummary(const PageTable &table)
{
    m_table = table;
    fillTable();
}

void PageSummaryDialog::setTally(const PageTally &tally, bool reading)
{
    setSummary(tally.table());
    setFilesWithoutDetails(int(tally.withoutDetails()), reading);
}

void PageSummaryDialog::setFilesWithoutDetails(int files, bool reading)
{
    if (reading)
        m_note->setText(
            files == 1 ? tr("Reading the page details of 1 file counted before…")
                       : tr("Reading the page details of %1 files counted before…").arg(files));
    else
        m_note->setText(files == 1 ? tr("1 file has no page details: it could not be read again, "
                                        "and is not included.")
                                   : tr("%1 files have no page details: they could not be read "
                                        "again, and are not included.")
                                         .arg(files));
    m_note->setVisible(files > 0);
}

void PageSummaryDialog::setScope(Scope scope)
{
    if (scope == m_scope)
        return;
    m_scope = scope;
    (scope == Scope::WholeList ? m_wholeList : m_selection)->setChecked(true);
    Q_EMIT scopeChanged(scope);
}

bool PageSummaryDialog::isByJob() const
{
    return m_byJob->isChecked();
}

void PageSummaryDialog::setByJob(bool byJob)
{
    m_byJob->setChecked(byJob);
    if (m_jobTable->isHidden() != byJob)
        return;
    m_jobTable->setVisible(byJob);
    m_splitter->setVisible(!byJob);
    m_export->setEnabled(!byJob);
    Q_EMIT byJobChanged(byJob);
}

void PageSummaryDialog::setPricing(bool priced, const QString &currency)
{
    if (priced == m_priced && currency == m_currency)
        return;
    m_priced = priced;
    m_currency = currency;
    fillTable();
}

void PageSummaryDialog::setJobSummary(std::shared_ptr<const JobSummary> summary)
{
    if (!summary && !m_jobSummary && !m_pending)
        return;
    m_pending = false;
    m_jobSummary = summary;
    m_jobModel->setSummary(std::move(summary));
    fillTable();
}

void PageSummaryDialog::setJobSummaryPending()
{
    m_pending = true;
    fillTable();
}

QTableWidgetItem *PageSummaryDialog::amountItem(const JobSummary::SizeAmount *line) const
{
    auto *item = new QTableWidgetItem;
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    if (m_pending || !m_jobSummary || !m_jobSummary->bill) {
        item->setText(QStringLiteral("…"));
    } else if (line) {
        item->setText(
            JobTableModel::amountText(line->amount, line->pricedPages, line->unpricedPages));
        item->setData(JobTableModel::CentsRole, line->amount);
    } else {
        // Pages of files not counted, which the bill lists but does not bill.
        item->setText(tr("not billed"));
    }
    return item;
}

void PageSummaryDialog::showAmount()
{
    const JobSummary *summary = m_pending ? nullptr : m_jobSummary.get();
    if (m_priced && summary && summary->bill) {
        const BillingReport &bill = *summary->bill;
        QString text = tr("Amount: %1").arg(amountForPeople(bill.amount));
        if (!m_currency.isEmpty())
            text += QLatin1Char(' ') + m_currency;
        if (summary->fees != 0)
            text += tr(", including job fees of %1").arg(amountForPeople(summary->fees));
        if (bill.unpricedPages == 1)
            text += tr("; 1 page has no price and is not included");
        else if (bill.unpricedPages > 0)
            text += tr("; %1 pages have no price and are not included")
                        .arg(QLocale().toString(bill.unpricedPages));
        m_amount->setText(text);
    } else if (m_priced || (m_pending && isByJob())) {
        m_amount->setText(tr("Grouping the files by job…"));
    }
    m_amount->setVisible(m_priced || (m_pending && isByJob()));
}

void PageSummaryDialog::fillTable()
{
    const std::vector<PageTable::Row> rows = m_table.rows();
    const PageTable::Row totals = m_table.totals();
    QStringList header{tr("Size")};
    for (ColourClass c : kColumns)
        header << colourLabel(c);
    header << tr("Total") << tr("A4 eq.");
    if (m_priced)
        header << tr("Amount");
    m_tableWidget->setColumnCount(int(header.size()));
    m_tableWidget->setHorizontalHeaderLabels(header);
    // The sizes keep to one line: the amounts, when shown, take what is left.
    const int stretched = m_priced ? int(header.size()) - 1 : 0;
    for (int i = 0; i < header.size(); ++i)
        m_tableWidget->horizontalHeader()->setSectionResizeMode(
            i, i == stretched ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
    m_tableWidget->setRowCount(int(rows.size()) + 1);
    const auto fillRow = [this](int r, const QString &label, const PageTable::Row &row) {
        auto *name = new QTableWidgetItem(label);
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        m_tableWidget->setItem(r, 0, name);
        int column = 1;
        for (ColourClass c : kColumns)
            m_tableWidget->setItem(r, column++, numberItem(row.pages[size_t(c)]));
        m_tableWidget->setItem(r, column++, numberItem(row.total));
        m_tableWidget->setItem(r, column, numberItem(row.a4Equivalents));
    };
    const bool billed = m_priced && !m_pending && m_jobSummary && m_jobSummary->bill;
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString label = rows[i].size.label();
        fillRow(int(i), label, rows[i]);
        if (!m_priced)
            continue;
        const auto line = billed ? m_jobSummary->bySize.constFind(label)
                                 : QHash<QString, JobSummary::SizeAmount>::const_iterator();
        m_tableWidget->setItem(
            int(i), int(header.size()) - 1,
            amountItem(billed && line != m_jobSummary->bySize.cend() ? &*line : nullptr));
    }
    const int last = int(rows.size());
    fillRow(last, tr("Total"), totals);
    if (m_priced) {
        JobSummary::SizeAmount all;
        if (billed) {
            all.amount = m_jobSummary->pageAmount;
            all.unpricedPages = m_jobSummary->bill->unpricedPages;
            all.pricedPages = m_jobSummary->bill->pages - all.unpricedPages;
        }
        m_tableWidget->setItem(last, int(header.size()) - 1, amountItem(&all));
    }
    QFont bold = m_tableWidget->font();
    bold.setBold(true);
    for (int c = 0; c < m_tableWidget->columnCount(); ++c)
        m_tableWidget->item(last, c)->setFont(bold);

    m_chart->setTable(m_table);
    // Fitted when first shown; more bars than then get room as well.
    if (m_sized && isVisible() && int(m_chart->bars().size()) > m_fittedBars)
        fitToContents();
    m_totals->setText((totals.total == 1 ? tr("1 page") : tr("%1 pages").arg(totals.total)) +
                      QStringLiteral(", ") + tr("%1 A4 equivalents").arg(totals.a4Equivalents));
    showAmount();
}

void PageSummaryDialog::exportCsv()
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::SaveFile;
    request.caption = tr("Export Page Summary");
    request.multiple = false;
    request.nameFilters = {tr("CSV files (*.csv)")};
    request.selectedFile = tr("Page Summary.csv");
    request.defaultSuffix = QStringLiteral("csv");
    // The table as it is now, whatever arrives while the dialog is open.
    const PageTable table = m_table;
    const QPointer<PageSummaryDialog> self(this);
    m_dialogs.chooseFiles(this, request, [self, table](const QStringList &paths) {
        if (!self || paths.isEmpty())
            return;
        // Written on the I/O pool: the destination may be on a share.
        const QString path = paths.first();
        runOnIoPool(
            self,
            [table, path] {
                QString error;
                return savePageTableCsv(table, path, &error) ? QString() : error;
            },
            [self](const QString &error) {
                if (error.isEmpty())
                    return;
                MessageRequest message;
                message.icon = QMessageBox::Critical;
                message.text = PageSummaryDialog::tr("The page summary could not be saved.");
                message.informativeText = error;
                self->m_dialogs.showMessage(self, message);
            });
    });
}

} // namespace tallivo
