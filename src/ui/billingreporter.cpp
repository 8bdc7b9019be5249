#include "billingreporter.h"

#include "appinfo.h"
#include "billingprint.h"
#include "detailsreader.h"
#include "dialogs.h"
#include "filetablemodel.h"
#include "iopool.h"
#include "pricesmodel.h"
#include "runpresenter.h"
#include "uilogging.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>

#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace tallivo {

namespace {

// What the bill needs of one listed file.
struct BillRow
{
    FileRecord record;
    PageSummary summary;
};

// Slices as copied: a vector of a million rows would be moved whole each
// time it grew.
using BillSlices = std::vector<std::vector<BillRow>>;

struct BillJob
{
    BillSlices slices;
    QList<QByteArray> addedFolders;
    BillingChoice choice;
    PriceList prices;
    QString shopName;
    std::function<void(SharedBillingReport)> done;
};

SharedBillingReport makeReport(BillJob &job)
{
    BillingTally tally;
    const JobFolders jobs(job.addedFolders, job.choice.jobPerSubfolder);
    for (std::vector<BillRow> &slice : job.slices) {
        for (const BillRow &row : slice) {
            const FileRecord &r = row.record;
            tally.addListed(jobs, r.path(), r.status, r.pages, row.summary);
        }
        // Freed here rather than on the window's thread.
        std::vector<BillRow>().swap(slice);
    }
    return std::make_shared<const BillingReport>(
        makeBillingReport(tally, job.prices, job.shopName, QDate::currentDate()));
}

// Copies the rows a slice per turn of the event loop. An edit among the rows
// already copied starts the copy again, so that the bill is of the list as
// it was at one moment: when the last slice was copied.
class BillCopier final : public QObject
{
public:
    BillCopier(QObject *context, const FileTableModel &model, std::shared_ptr<BillJob> job,
               int rowsPerSlice)
        : QObject(context)
        , m_context(context)
        , m_model(model)
        , m_job(std::move(job))
        , m_rowsPerSlice(qMax(1, rowsPerSlice))
    {
        const auto atRow = [this](const QModelIndex &, int first, int) {
            if (first < m_copied)
                m_changed = true;
        };
        const auto always = [this] { m_changed = true; };
        connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, atRow);
        connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, this, atRow);
        connect(&model, &QAbstractItemModel::rowsAboutToBeMoved, this, always);
        connect(&model, &QAbstractItemModel::layoutAboutToBeChanged, this, always);
        connect(&model, &QAbstractItemModel::modelAboutToBeReset, this, always);
        connect(&model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &topLeft) {
            if (topLeft.row() < m_copied)
                m_changed = true;
        });
    }

    void step()
    {
        if (std::exchange(m_changed, false) || m_copied == 0) {
            // Rows copied before an edit are freed on the pool: a million
            // take a while.
            if (!m_job->slices.empty()) {
                IoPool::instance().submit(
                    IoPool::Priority::Normal,
                    [gone = std::make_shared<BillSlices>(std::exchange(m_job->slices, {}))] {});
            }
            m_job->addedFolders = m_model.addedFolders();
            m_copied = 0;
        }
        const FileList &files = m_model.files();
        const int end = qMin(files.size(), m_copied + m_rowsPerSlice);
        if (m_copied < end) {
            std::vector<BillRow> slice;
            slice.reserve(size_t(end - m_copied));
            for (int i = m_copied; i < end; ++i) {
                const FileItem &item = *files.at(i);
                if (!m_job->choice.checkedOnly || item.isChecked())
                    slice.push_back({item.record(), item.pageSummary()});
            }
            m_job->slices.push_back(std::move(slice));
        }
        m_copied = end;
        if (m_copied < files.size() || m_changed) {
            QTimer::singleShot(0, this, [this] { step(); });
            return;
        }
        std::shared_ptr<BillJob> job = std::move(m_job);
        runOnIoPool(
            m_context, [job] { return makeReport(*job); },
            [job](const SharedBillingReport &report) { job->done(report); });
        deleteLater();
    }

private:
    QObject *m_context;
    const FileTableModel &m_model;
    std::shared_ptr<BillJob> m_job;
    const int m_rowsPerSlice;
    int m_copied = 0;
    bool m_changed = false;
};

} // namespace

void buildBillingReport(QObject *context, const FileTableModel &model, const BillingChoice &choice,
                        PriceList prices, QString shopName,
                        std::function<void(SharedBillingReport)> done, int rowsPerSlice)
{
    auto job = std::make_shared<BillJob>();
    job->choice = choice;
    job->prices = std::move(prices);
    job->shopName = std::move(shopName);
    job->done = std::move(done);
    (new BillCopier(context, model, std::move(job), rowsPerSlice))->step();
}

BillingReporter::BillingReporter(const FileTableModel &model, DetailsReader &details,
                                 RunPresenter &presenter, Dialogs &dialogs, QWidget *window)
    : QObject(window)
    , m_model(model)
    , m_details(details)
    , m_presenter(presenter)
    , m_dialogs(dialogs)
    , m_window(window)
{
}

BillingReporter::~BillingReporter() = default;

void BillingReporter::saveReport()
{
    ask(Target::File);
}

void BillingReporter::printReport()
{
    ask(Target::Printer);
}

void BillingReporter::ask(Target target)
{
    auto *dialog = new BillingReportDialog(m_window);
    dialog->setObjectName(QStringLiteral("billingReport"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    if (target == Target::Printer)
        dialog->setWindowTitle(tr("Print Billing Report"));
    dialog->setChoice({false, userSettings().value(kJobPerSubfolderKey, false).toBool()});
    m_choiceDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog, target] {
        const BillingChoice choice = dialog->choice();
        QSettings settings = userSettings();
        settings.setValue(kJobPerSubfolderKey, choice.jobPerSubfolder);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            qCWarning(lcUi) << "The job-per-subfolder setting was not stored:" << settings.status();
        Q_EMIT settingsChanged();
        if (target == Target::Printer) {
            build(choice, [this](const SharedBillingReport &report) { print(report); });
            return;
        }
        FileDialogRequest request;
        request.mode = FileDialogRequest::SaveFile;
        request.caption = tr("Save Billing Report");
        request.nameFilters = {tr("CSV files (*.csv)"), tr("Excel workbook (*.xlsx)"),
                               tr("PDF files (*.pdf)")};
        request.defaultSuffix = QStringLiteral("csv");
        request.selectedFile =
            tr("Billing report %1.csv").arg(QDate::currentDate().toString(Qt::ISODate));
        m_dialogs.chooseFiles(m_window, request, [this, choice](const QStringList &paths) {
            save(paths.first(), choice);
        });
    });
    dialog->open();
}

void BillingReporter::build(const BillingChoice &choice,
                            std::function<void(SharedBillingReport)> done)
{
    const auto start = [this, choice, done = std::move(done)] {
        m_presenter.showMessage(tr("Making the billing report\u2026"));
        const PriceSettings settings = PriceSettings::load(userSettings());
        buildBillingReport(this, m_model, choice, settings.prices, settings.shopName, done);
    };
    // Pages are billed by size and colour: files counted without page
    // details have them read first.
    if (m_model.tally().withoutDetails() > 0 || m_model.isDroppingDetails()) {
        m_details.readMissing();
        if (m_details.isReading()) {
            m_presenter.showMessage(tr("Reading page details for the billing report\u2026"));
            auto once = std::make_shared<QMetaObject::Connection>();
            *once = connect(&m_details, &DetailsReader::finished, this, [once, start] {
                QObject::disconnect(*once);
                start();
            });
            return;
        }
    }
    start();
}

void BillingReporter::save(const QString &path, const BillingChoice &choice)
{
    build(choice, [this, path](const SharedBillingReport &report) {
        runOnIoPool(
            this,
            // The reason when not saved; texts for the user are made in the
            // answer, on the main thread.
            [report, path]() -> std::optional<QString> {
                QString error;
                try {
                    if (saveBillingReport(*report, QFile::encodeName(path), &error))
                        return std::nullopt;
                } catch (const std::exception &e) {
                    error = QString::fromLocal8Bit(e.what());
                }
                return error;
            },
            [this, path](const std::optional<QString> &failure) {
                if (failure) {
                    const QString error = failure->isEmpty() ? tr("unknown error") : *failure;
                    m_presenter.showMessage(QString());
                    showFailure(tr("The billing report was not saved."),
                                tr("\"%1\" could not be written: %2").arg(path, error));
                    Q_EMIT saved(QString());
                    return;
                }
                m_presenter.showMessage(
                    tr("Billing report saved to \u201c%1\u201d.").arg(QFileInfo(path).fileName()));
                Q_EMIT saved(path);
            });
    });
}

void BillingReporter::print(const SharedBillingReport &report)
{
    m_presenter.showMessage(QString());
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_printer->setPageSize(reportPageSize());
    }
    auto *dialog = new QPrintDialog(m_printer.get(), m_window);
    dialog->setObjectName(QStringLiteral("printBillingReport"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::accepted, this, [this, report] {
        // Painting on a printer is for the main thread; the report is made.
        if (printBillingReport(*m_printer, *report)) {
            m_presenter.showMessage(tr("Billing report sent to the printer."));
            Q_EMIT printed(true);
            return;
        }
        showFailure(
            tr("The billing report could not be printed."),
            tr("The printer \u201c%1\u201d could not be used.").arg(m_printer->printerName()));
        Q_EMIT printed(false);
    });
    dialog->open();
}

void BillingReporter::showFailure(const QString &text, const QString &why)
{
    MessageRequest alert;
    alert.icon = QMessageBox::Critical;
    alert.text = text;
    alert.informativeText = why;
    m_dialogs.showMessage(m_window, alert);
}

} // namespace tallivo
