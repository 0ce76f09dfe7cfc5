// The program's help: a window showing the help page shipped inside the
// program (resources/vantrel_help.html).
#pragma once

#include <QWidget>

class QTextBrowser;

class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr char kHelpPage[] = "qrc:/vantrel/vantrel_help.html";
    static constexpr char kTitle[] = "Vantrel Help";

    explicit CHelpWindow(QWidget* parent = nullptr);
    QTextBrowser* Browser() const { return browser_; }
    // Shows the page at anchor ("" for its top).
    void ShowTopic(const QString& anchor);

private:
    QTextBrowser* browser_ = nullptr;
};
