#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace Ui {
class ReviewUs;
}

namespace tallivo {

// Asks for a review: accepting opens the review page; either answer closes
// it (finished()) and leaves the check box for the caller to read.
class ReviewDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReviewDialog)

public:
    using UrlOpener = std::function<bool(const QUrl &)>;

    explicit ReviewDialog(QWidget *parent = nullptr);
    ~ReviewDialog() override;

    QString reviewUrl() const { return m_reviewUrl; }
    void setReviewUrl(const QString &url) { m_reviewUrl = url; }
    // The "Don't ask me again" check box.
    bool neverAskAgain() const;
    void setNeverAskAgain(bool never);
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

    void accept() override;

private:
    std::unique_ptr<Ui::ReviewUs> m_ui;
    QString m_reviewUrl;
    UrlOpener m_openUrl;
};

// Opens a valid absolute address; false for anything else.
bool openWebPage(const QString &address, const std::function<bool(const QUrl &)> &openUrl);

} // namespace tallivo
