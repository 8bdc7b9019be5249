#pragma once

#include "pricesmodel.h"

#include <QDialog>

class QDoubleSpinBox;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tallivo {

class Dialogs;

// Edit > Prices: the price list, the currency, the shop's name and the
// colour tolerance. Import and Export read and write the list as a
// tab-separated file on the I/O pool. Accepting it emits `accepted` with
// the settings as edited; the caller keeps and applies them.
class PricesDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PricesDialog)
public:
    // `dialogs` asks for files and reports failures; it must outlive the
    // dialog.
    PricesDialog(Dialogs &dialogs, const PriceSettings &settings, QWidget *parent = nullptr);
    ~PricesDialog() override;

    // The settings as edited so far.
    PriceSettings settings() const;
    PricesModel &model() { return *m_model; }

public Q_SLOTS:
    void addRow();
    void removeSelectedRows();
    void moveUp();
    void moveDown();
    // Ask for a file, then read it or write it on the I/O pool.
    void importList();
    void exportList();

Q_SIGNALS:
    void settingsAccepted(const tallivo::PriceSettings &settings);
    // An import or export finished (for tests); `ok` false when it failed.
    void fileDone(bool ok);

private:
    int currentRow() const;
    void selectRow(int row);
    void updateButtons();
    void showFailure(const QString &text, const QString &why);

    Dialogs &m_dialogs;
    PricesModel *m_model;
    QTableView *m_table;
    QPushButton *m_remove;
    QPushButton *m_up;
    QPushButton *m_down;
    QLineEdit *m_shopName;
    QLineEdit *m_currency;
    QDoubleSpinBox *m_tolerance;
    // The tolerance as loaded: kept exactly unless the spin box is changed.
    double m_loadedTolerance;
};

} // namespace tallivo
