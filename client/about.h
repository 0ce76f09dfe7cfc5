// The About window: modeless, two tabs ("The Company", "Version"), shown at
// once; it deletes itself when dismissed and tells the application.
#pragma once

#include <QDialog>

#include <functional>

class QTabWidget;

class CAbout : public QDialog {
    Q_OBJECT
public:
    // closed: called once the window is gone (the application's AboutClosed).
    CAbout(const QString& caption, int selectPage, std::function<void()> closed);
    ~CAbout() override;

    QTabWidget* Pages() const { return pages_; }

private:
    QTabWidget* pages_ = nullptr;
    std::function<void()> closed_;
};
