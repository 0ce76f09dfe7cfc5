// "File Locations & Options": the folders fetched files go to and files to
// send come from, the overwrite switch, the name-shortening switch, the
// window of blocks a transfer asks the server for and the largest block
// size it offers. The
// sheet reads and writes no settings itself: the application fills the pages
// before showing it and takes the values back after OK.
#pragma once

#include "client/engine/client_settings.h"

#include <QDialog>
#include <QString>
#include <QWidget>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QSpinBox;
class QTabWidget;

// One page: a folder in a "File Path" group and a switch below it.
class CFolderPage : public QWidget {
    Q_OBJECT
public:
    int switchOn = 1;  // check box 1007
    QString folder;    // edit 1005

    // save true: controls to members; false: members to controls.
    void DoDataExchange(bool save);
    QString Title() const { return title_; }

signals:
    void Modified();

protected:
    CFolderPage(int templateId, QString title, const QString& switchText);

private:
    QString title_;
    QLineEdit* edit_ = nullptr;
    QCheckBox* check_ = nullptr;
};

class CIncomingPage : public CFolderPage {
    Q_OBJECT
public:
    CIncomingPage();
};

class COutgoingPage : public CFolderPage {
    Q_OBJECT
public:
    COutgoingPage();
};

// The "Transfer" page: how many blocks go per acknowledgement, and the
// largest block size a transfer offers.
class CTransferPage : public QWidget {
    Q_OBJECT
public:
    CTransferPage();

    int windowSize = ClientSettings::kDefaultWindowSize;  // spin box 1010: 1..65535; 1 is lock-step
    int maxBlockSize = 0;  // edit 1011: 8..65464 (a number outside: its nearest end); 0, empty: no cap

    void DoDataExchange(bool save);
    QString Title() const { return tr("Transfer"); }

signals:
    void Modified();

private:
    QSpinBox* windowSize_ = nullptr;
    QLineEdit* maxBlockSize_ = nullptr;
};

class COptionsSheet : public QDialog {
    Q_OBJECT
public:
    explicit COptionsSheet(QWidget* parent = nullptr);
    // IDOK (1) or IDCANCEL (2).
    int DoModal();

    CIncomingPage incomingPage;
    COutgoingPage outgoingPage;
    CTransferPage transferPage;

private:
    void Apply();

    QTabWidget* tabs_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};
