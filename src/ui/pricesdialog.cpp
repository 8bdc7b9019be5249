#include "pricesdialog.h"

#include "colourtolerance.h"
#include "dialogs.h"
#include "iopool.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tallivo {
namespace {

// Combo boxes for the columns with choices; for the price, a line that
// takes digits and one point with up to 4 decimals (the model decides the
// rest).
class PricesDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override
    {
        const QStringList choices = index.data(PricesModel::ChoicesRole).toStringList();
        if (!choices.isEmpty()) {
            auto *combo = new QComboBox(parent);
            combo->addItems(choices);
            return combo;
        }
        QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto *line = qobject_cast<QLineEdit *>(editor)) {
            line->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[0-9]{0,7}([.,][0-9]{0,4})?")), line));
        }
        return editor;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            combo->setCurrentText(index.data(Qt::EditRole).toString());
            return;
        }
        QStyledItemDelegate::setEditorData(editor, index);
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override
    {
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            model->setData(index, combo->currentText());
            return;
        }
        QStyledItemDelegate::setModelData(editor, model, index);
    }
};

double shownTolerance(double mm2)
{
    return std::round(mm2 * 100) / 100;
}

} // namespace

PricesDialog::PricesDialog(Dialogs &dialogs, const PriceSettings &settings, QWidget *parent)
    : QDialog(parent)
    , m_dialogs(dialogs)
    , m_model(new PricesModel(this))
    , m_table(new QTableView(this))
    , m_remove(new QPushButton(tr("&Remove"), this))
    , m_up(new QPushButton(tr("Move &Up"), this))
    , m_down(new QPushButton(tr("Move &Down"), this))
    , m_shopName(new QLineEdit(settings.shopName, this))
    , m_currency(new QLineEdit(settings.currency, this))
    , m_tolerance(new QDoubleSpinBox(this))
    , m_loadedTolerance(settings.effectiveColourMinArea())
{
    setWindowTitle(tr("Prices"));
    setSizeGripEnabled(true);
    m_model->setRows(settings.prices.rows());

    m_table->setObjectName(QStringLiteral("prices"));
    m_table->setModel(m_model);
    m_table->setItemDelegate(new PricesDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::AllEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->setSectionsClickable(false);
    m_table->setToolTip(tr("A page is priced by the first page or A4 eq. row that matches it; "
                           "each job row is charged once per job."));

    auto *add = new QPushButton(tr("&Add"), this);
    auto *import = new QPushButton(tr("&Import…"), this);
    auto *exportButton = new QPushButton(tr("&Export…"), this);
    add->setObjectName(QStringLiteral("add"));
    m_remove->setObjectName(QStringLiteral("remove"));
    m_up->setObjectName(QStringLiteral("moveUp"));
    m_down->setObjectName(QStringLiteral("moveDown"));
    import->setObjectName(QStringLiteral("import"));
    exportButton->setObjectName(QStringLiteral("export"));
    for (QPushButton *b : {add, m_remove, m_up, m_down, import, exportButton})
        b->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &PricesDialog::addRow);
    connect(m_remove, &QPushButton::clicked, this, &PricesDialog::removeSelectedRows);
    connect(m_up, &QPushButton::clicked, this, &PricesDialog::moveUp);
    connect(m_down, &QPushButton::clicked, this, &PricesDialog::moveDown);
    connect(import, &QPushButton::clicked, this, &PricesDialog::importList);
    connect(exportButton, &QPushButton::clicked, this, &PricesDialog::exportList);

    auto *buttons = new QVBoxLayout;
    for (QPushButton *b : {add, m_remove, m_up, m_down})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(import);
    buttons->addWidget(exportButton);
    auto *list = new QHBoxLayout;
    list->addWidget(m_table, 1);
    list->addLayout(buttons);

    m_shopName->setObjectName(QStringLiteral("shopName"));
    m_shopName->setPlaceholderText(tr("Shown at the head of the billing report"));
    m_currency->setObjectName(QStringLiteral("currency"));
    m_currency->setPlaceholderText(tr("Shown beside amounts, such as EUR"));
    m_tolerance->setObjectName(QStringLiteral("colourTolerance"));
    m_tolerance->setDecimals(2);
    m_tolerance->setRange(0.01, kMaxColourMinArea);
    m_tolerance->setSingleStep(0.5);
    m_tolerance->setSuffix(QStringLiteral(" mm²"));
    m_tolerance->setValue(shownTolerance(m_loadedTolerance));
    auto *toleranceNote =
        new QLabel(tr("The smallest coloured area that makes a page Colour: a page with less, "
                      "such as a small logo or a blue link, counts as B/W or Grey. It applies "
                      "to files counted from now on."),
                   this);
    toleranceNote->setWordWrap(true);
    auto *form = new QFormLayout;
    form->addRow(tr("&Shop name:"), m_shopName);
    form->addRow(tr("&Currency:"), m_currency);
    form->addRow(tr("Colour &tolerance:"), m_tolerance);
    form->addRow(QString(), toleranceNote);

    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, [this] {
        Q_EMIT settingsAccepted(this->settings());
        accept();
    });
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(list, 1);
    layout->addLayout(form);
    layout->addWidget(box);

    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &PricesDialog::updateButtons);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &PricesDialog::updateButtons);
    connect(m_model, &QAbstractItemModel::rowsMoved, this, &PricesDialog::updateButtons);
    connect(m_model, &QAbstractItemModel::modelReset, this, &PricesDialog::updateButtons);
    updateButtons();
    resize(560, 420);
}

PricesDialog::~PricesDialog() = default;

PriceSettings PricesDialog::settings() const
{
    PriceSettings out;
    // The model holds valid rows only.
    out.prices.setRows(m_model->rows());
    out.currency = m_currency->text().trimmed();
    out.shopName = m_shopName->text().trimmed();
    // The spin box shows two decimals: untouched, it keeps the value as
    // loaded, which may have more.
    out.colourMinArea = m_tolerance->value() == shownTolerance(m_loadedTolerance)
                            ? m_loadedTolerance
                            : m_tolerance->value();
    return out;
}

int PricesDialog::currentRow() const
{
    const QModelIndex current = m_table->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void PricesDialog::selectRow(int row)
{
    const QModelIndex index = m_model->index(row, 0);
    m_table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                          QItemSelectionModel::Rows);
}

void PricesDialog::updateButtons()
{
    const int row = currentRow();
    m_remove->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row + 1 < m_model->rowCount());
}

void PricesDialog::addRow()
{
    // Below the current row, else at the end.
    const int at = currentRow() >= 0 ? currentRow() + 1 : m_model->rowCount();
    selectRow(m_model->insertNewRow(at));
}

void PricesDialog::removeSelectedRows()
{
    QList<int> rows;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        rows << index.row();
    if (rows.isEmpty() && currentRow() >= 0)
        rows << currentRow();
    std::sort(rows.begin(), rows.end());
    // From the bottom, a contiguous block at a time.
    while (!rows.isEmpty()) {
        int first = rows.takeLast();
        int count = 1;
        while (!rows.isEmpty() && rows.last() == first - 1) {
            first = rows.takeLast();
            ++count;
        }
        m_model->removeRows(first, count);
    }
}

void PricesDialog::moveUp()
{
    const int row = currentRow();
    if (m_model->moveRowBy(row, -1))
        selectRow(row - 1);
}

void PricesDialog::moveDown()
{
    const int row = currentRow();
    if (m_model->moveRowBy(row, 1))
        selectRow(row + 1);
}

void PricesDialog::showFailure(const QString &text, const QString &why)
{
    MessageRequest message;
    message.icon = QMessageBox::Critical;
    message.title = windowTitle();
    message.text = text;
    message.informativeText = why;
    m_dialogs.showMessage(this, message);
}

void PricesDialog::importList()
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::OpenFiles;
    request.caption = tr("Import Prices");
    request.multiple = false;
    request.nameFilters = {tr("Price lists (*.tsv *.txt)"), tr("All files (*)")};
    const QPointer<PricesDialog> self(this);
    m_dialogs.chooseFiles(this, request, [self](const QStringList &paths) {
        if (!self || paths.isEmpty())
            return;
        // Read on the I/O pool: the file may be on a share.
        const QByteArray path = QFile::encodeName(paths.first());
        struct Loaded
        {
            std::optional<PriceList> list;
            PriceList::Error error;
        };
        runOnIoPool(
            self,
            [path] {
                Loaded loaded;
                loaded.list = PriceList::load(path, &loaded.error);
                return loaded;
            },
            [self](const Loaded &loaded) {
                if (loaded.list) {
                    self->m_model->setRows(loaded.list->rows());
                } else {
                    self->showFailure(PricesDialog::tr("The price list could not be imported."),
                                      loaded.error.text());
                }
                Q_EMIT self->fileDone(loaded.list.has_value());
            });
    });
}

void PricesDialog::exportList()
{
    FileDialogRequest request;
    request.mode = FileDialogRequest::SaveFile;
    request.caption = tr("Export Prices");
    request.multiple = false;
    request.nameFilters = {tr("Price lists (*.tsv)")};
    request.selectedFile = tr("Prices.tsv");
    request.defaultSuffix = QStringLiteral("tsv");
    // The list as it is now, whatever is edited while the file is written.
    const PriceList list = settings().prices;
    const QPointer<PricesDialog> self(this);
    m_dialogs.chooseFiles(this, request, [self, list](const QStringList &paths) {
        if (!self || paths.isEmpty())
            return;
        const QByteArray path = QFile::encodeName(paths.first());
        runOnIoPool(
            self,
            [list, path] {
                QString error;
                const bool saved = list.save(path, &error);
                return std::pair{saved, error};
            },
            [self](const std::pair<bool, QString> &saved) {
                if (!saved.first)
                    self->showFailure(PricesDialog::tr("The price list could not be exported."),
                                      saved.second);
                Q_EMIT self->fileDone(saved.first);
            });
    });
}

} // namespace tallivo
