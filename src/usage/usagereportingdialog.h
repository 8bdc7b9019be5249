#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class UsagesReporting;
}

namespace tallivo {

// Switches usage reporting on or off (Apply accepts, Cancel rejects) and
// offers to send a report at once. It says what a report contains.
class UsageReportingDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UsageReportingDialog)

public:
    explicit UsageReportingDialog(QWidget *parent = nullptr);
    ~UsageReportingDialog() override;

    bool isReportingEnabled() const;
    void setReportingEnabled(bool enabled);

Q_SIGNALS:
    void submitRequested();

private:
    std::unique_ptr<Ui::UsagesReporting> m_ui;
};

} // namespace tallivo
