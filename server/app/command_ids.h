// The server program's command ids, resource numbers and fixed texts: the
// menu, the accelerators, the toolbar and the status-bar prompts.
#pragma once

namespace vantrel {

// Commands.
inline constexpr int ID_STOP_SERVING = 32772;
inline constexpr int ID_START_SERVING = 32773;
inline constexpr int ID_SETUP = 32774;
inline constexpr int ID_CLEAR_DISPLAY = 32780;
inline constexpr int ID_USE_GRAPHIC = 32781;
inline constexpr int ID_SERVER_INFO = 32782;
inline constexpr int ID_CHECK_VERSION = 32783;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_HELP_FINDER = 57667;
inline constexpr int ID_CONTEXT_HELP = 57669;
inline constexpr int ID_HELP = 57670;
inline constexpr int ID_DEFAULT_HELP = 57671;
inline constexpr int ID_VIEW_TOOLBAR = 59392;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;

// Resources.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_SPLASH = 132;
inline constexpr int IDD_PORT_CHANGE = 133;
inline constexpr int IDD_STOP_SERVING = 134;
inline constexpr int IDD_NEW_CLIENT_ALERT = 139;
inline constexpr int IDD_VERSION_PAGE = 104;
inline constexpr int IDD_ABOUT_PAGE = 109;

// Texts.
inline constexpr char kAppTitle[] = "Vantrel";  // string 57344
inline constexpr char kIdleStatus[] = "For Help, press F1";  // string 57345
inline constexpr char kDocTemplate[] = "Vantrel\n\nMorrel\n\n\nVantrel.Document\nMorrel Document";
inline constexpr char kCheckVersionUnavailable[] =
    "Version checking is currently unavailble\nPlease try later";

// One menu item, toolbar button or accelerator target: its id, its menu text
// (with "&" mnemonics and the accelerator after a tab, as shown), and its
// prompt (status-bar text, then "\n" and the tooltip).
struct CommandText {
    int id;
    const char* menuText;
    const char* prompt;
};

inline constexpr CommandText kCommands[] = {
    {ID_STOP_SERVING, "&Stop Serving\tCtrl+S", "Stops the server responding to clients\nSwitch Off"},
    {ID_START_SERVING, "S&tart Serving\tCtrl+G", "Starts the server serving clients\nSwitch On"},
    {ID_APP_EXIT, "E&xit", "Quit the Server\nExit"},
    {ID_SETUP, "Set&up\tCtrl+U", "Setup server parameters"},
    {ID_SERVER_INFO, "&Info", "Local Server Information"},
    {ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar"},
    {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar"},
    {ID_CLEAR_DISPLAY, "&Clear Display", "Clear client list\nClear list"},
    {ID_USE_GRAPHIC, "&Use Graphic ", "Use graphics for Send progress"},
    {ID_HELP_FINDER, "&Help Topics\tF1", "List Help topics\nHelp Topics"},
    {ID_APP_ABOUT, "&About Vantry...\tCtrl+A",
     "Display program information, version number and copyright\nAbout"},
    {ID_CHECK_VERSION, "&Check Version ...", "Check the internet for the latest version"},
    {ID_CONTEXT_HELP, "", "Display help for clicked on buttons, menus and windows\nHelp"},
    {ID_HELP, "", "Display help for current task or command\nHelp"},
};

// The accelerator table.
struct Accelerator {
    const char* keys;
    int id;
};
inline constexpr Accelerator kAccelerators[] = {
    {"Ctrl+A", ID_APP_ABOUT},   {"Ctrl+G", ID_START_SERVING}, {"Ctrl+S", ID_STOP_SERVING},
    {"Ctrl+U", ID_SETUP},       {"F1", ID_HELP},              {"Shift+F1", ID_CONTEXT_HELP},
};

}  // namespace vantrel
