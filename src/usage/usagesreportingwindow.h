#pragma once

#include <QDialog>

#include <memory>

class QCheckBox;

namespace Ui {
class UsagesReporting;
}

namespace tallivo {

// The reporting window; its buttons only emit, the controller acts.
class UsagesReportingWindow : public QDialog
{
    Q_OBJECT

public:
    explicit UsagesReportingWindow(QWidget *parent = nullptr);
    ~UsagesReportingWindow() override;

    QCheckBox *enableUsagesReportingButton() const;
    void reject() override;

Q_SIGNALS:
    void applyRequested();
    void cancelRequested();
    void submitRequested();
    void privacyPolicyRequested();

private:
    std::unique_ptr<Ui::UsagesReporting> m_ui;
};

} // namespace tallivo
