// The client's command, control and resource numbers and its fixed texts,
// so that readers and tests can find "edit 1002" or "command 32771".
#pragma once

#include <QAction>
#include <QList>
#include <QVariant>
#include <QWidget>

namespace skerry {

// ---- commands (menu items, accelerators, buttons) ----
inline constexpr int ID_FILE_OPEN = 57601;          // File > Send...
inline constexpr int ID_TRANSFER_ABORT = 32773;     // File > Abort, and the Abort button
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_OPTIONS_SETUP = 32771;
inline constexpr int ID_OPTIONS_RENAME_BUTTONS = 32772;
inline constexpr int ID_HELP_INDEX = 57666;
inline constexpr int ID_HELP_USING = 57668;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_DEFAULT_HELP = 57669;
inline constexpr int ID_HELP = 57670;               // F1
inline constexpr int ID_CONTEXT_HELP = 57671;       // Shift+F1

// ---- main window ----
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int AFX_IDW_STATUS_BAR = 59393;
inline constexpr int ID_INDICATOR_TIME = 113;       // the clock pane
inline constexpr int kClockTimerId = 4096;
inline constexpr int kClockPeriodMs = 1000;

// ---- the form (template 101) ----
inline constexpr int IDD_FORM = 101;
inline constexpr int IDC_HOST = 1000;
inline constexpr int IDC_PORT = 1001;
inline constexpr int IDC_LOCAL_FILE = 1002;
inline constexpr int IDC_TIMEOUT = 1003;
inline constexpr int IDC_SEND = 1004;
inline constexpr int IDC_GET = 1005;
inline constexpr int IDC_BINARY = 1006;
inline constexpr int IDC_REMOTE_FILE = 1007;
inline constexpr int IDC_MATCH_FILES = 1008;
inline constexpr int IDC_PROGRESS = 1017;
inline constexpr int IDC_BLOCK_SIZE = 1019;
inline constexpr int IDC_SEND_TIMEOUT = 1035;
inline constexpr int IDB_DECORATION = 135;

// ---- options pages (templates 111, 112 and 113) ----
inline constexpr int IDD_INCOMING = 111;
inline constexpr int IDD_OUTGOING = 112;
inline constexpr int IDC_FOLDER = 1005;
inline constexpr int IDC_SWITCH = 1007;
inline constexpr int IDD_TRANSFER = 113;  // the Transfer page
inline constexpr int IDC_WINDOW_SIZE = 1010;
inline constexpr int IDC_MAX_BLOCK_SIZE = 1011;

// ---- dialogs ----
inline constexpr int IDD_BLOCK_SIZE = 136;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDD_ABOUT_COMPANY = 103;
inline constexpr int IDD_ABOUT_VERSION = 104;

// ---- texts (string resources) ----
inline constexpr char kProgramTitle[] = "Halden Client";     // 57344
inline constexpr char kFrameTitle[] = "Halden";              // from resource 128
inline constexpr char kSocketsFailed[] = "Windows sockets initialization failed.";  // 104
inline constexpr char kOptionsCaption[] = "File Locations & Options";  // 110
inline constexpr char kAboutCaption[] = "About Halden Client";          // 5
inline constexpr char kAboutCompanyTab[] = "The Company";               // 3
inline constexpr char kAboutVersionTab[] = "Version";                   // 4
inline constexpr char kIdleMessage[] = "Press F1 for Help";
// The status line after Abort, before any data has moved.
inline constexpr char kAbortedText[] = "Transfer Aborted";
inline constexpr char kProfileFileName[] = "Skerry.INI";

// Menu items carry their command number the way controls carry their id.
inline constexpr char kCommandIdProperty[] = "commandId";

inline void SetCommandId(QAction* action, int id) {
    action->setProperty(kCommandIdProperty, id);
    action->setObjectName(QStringLiteral("command%1").arg(id));
}

inline QAction* FindCommand(const QWidget* root, int id) {
    for (QAction* a : root->findChildren<QAction*>())
        if (a->property(kCommandIdProperty).toInt() == id) return a;
    return nullptr;
}

}  // namespace skerry
