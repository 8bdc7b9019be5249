#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace tallivo {

// An open or save panel as the window asks for it.
struct PanelRequest
{
    enum Kind
    {
        OpenFiles,
        OpenFolders,
        SaveFile
    };
    Kind kind = OpenFiles;
    QString title;
    bool multiple = true;
    QStringList nameFilters;
    QString directory;
    QString suggestedName; // save panels
    QString defaultSuffix; // save panels
};

// An alert with one or two buttons; the default button answers 1, the
// alternate one 0.
struct AlertRequest
{
    enum Style
    {
        Information,
        Warning,
        Critical
    };
    Style style = Critical;
    QString text;
    QString informativeText;
    QString defaultButton = QStringLiteral("OK");
    QString alternateButton; // none when empty
};

// The window's modal questions. The real one shows window-modal dialogs and
// answers later; tests answer at once.
class Dialogs
{
public:
    // code 1 for OK, 0 for cancel; the chosen paths in the panel's order.
    using PanelDone = std::function<void(int code, const QStringList &paths)>;
    using AlertDone = std::function<void(int code)>;

    virtual ~Dialogs() = default;
    virtual void runPanel(QWidget *parent, const PanelRequest &request, PanelDone done) = 0;
    virtual void runAlert(QWidget *parent, const AlertRequest &request, AlertDone done) = 0;
};

class WidgetDialogs : public Dialogs
{
public:
    void runPanel(QWidget *parent, const PanelRequest &request, PanelDone done) override;
    void runAlert(QWidget *parent, const AlertRequest &request, AlertDone done) override;
};

} // namespace tallivo
