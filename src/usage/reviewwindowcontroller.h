#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QCheckBox;

namespace Ui {
class ReviewUs;
}

namespace tallivo {

// The review prompt: opens the review page on confirm; either button closes it
// and tells whoever listens.
class ReviewWindowController : public QDialog
{
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl &)>;

    explicit ReviewWindowController(QWidget *parent = nullptr);
    ~ReviewWindowController() override;

    QString reviewURL() const { return m_reviewURL; }
    void setReviewURL(const QString &url) { m_reviewURL = url; }
    // The check box's state.
    bool neverAskForReview() const;
    void setNeverAskForReview(bool never);
    QCheckBox *neverAskmeAgainButton() const;
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

    void reviewOKAction();
    void reviewCancelAction();
    void reject() override;

Q_SIGNALS:
    void reviewWindowControllerDidFinished(tallivo::ReviewWindowController *dialog);

private:
    void finish(int result);

    std::unique_ptr<Ui::ReviewUs> m_ui;
    QString m_reviewURL;
    UrlOpener m_openUrl;
};

} // namespace tallivo
