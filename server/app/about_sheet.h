// The modeless about box: "About Brellin" with the maker's contact text and
// "Version" naming the program and its version; it opens on the second page.
#pragma once

#include <QDialog>

class QTabWidget;

class CAbout : public QDialog {
    Q_OBJECT
public:
    static constexpr char kCaption[] = "About Vantrel";     // string 5
    static constexpr char kAboutPage[] = "About Brellin";   // string 6, dialog 109
    static constexpr char kVersionPage[] = "Version";       // string 4, dialog 104

    explicit CAbout(QWidget* parent = nullptr);
    QTabWidget* Pages() const { return pages_; }

private:
    QTabWidget* pages_ = nullptr;
};
