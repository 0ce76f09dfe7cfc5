// The server program's application object: it owns the settings, the
// listener and the main window, runs the start-up sequence, switches serving
// on and off, moves the listener to a new port (asking the user while
// transfers run), runs the idle-time housekeeping, and ends the program in
// an order that logs the rows and saves the settings, also when the session
// ends or a termination signal arrives.
#pragma once

#include "common/local_address.h"
#include "platform/clock.h"
#include "platform/idle_driver.h"
#include "platform/prompt_service.h"
#include "platform/registry_store.h"
#include "platform/termination_signals.h"
#include "server/app/about_sheet.h"
#include "server/app/decision_dialogs.h"
#include "server/app/display_host.h"
#include "server/app/dunmore_doc.h"
#include "server/app/main_frame.h"
#include "server/app/options_host.h"
#include "server/app/run_options.h"
#include "server/app/server_settings.h"
#include "server/engine/server_context.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <string>

class CListenSocket;

class CServerApp : public QObject, public COptionsHost, public DisplayHost, public AppCommands {
    Q_OBJECT
public:
    static constexpr char kSocketsFailed[] = "Windows sockets initialization failed.";
    static constexpr char kInitFailed[] =
        "Unable to initialise server operations\n\nProgram will now terminate";
    // After a port that cannot be bound: the question outside the options
    // sheet, and the advice inside it.
    static constexpr char kSetupOrQuit[] =
        "Open System > Setup to choose another port or address?\n(No ends the program.)";
    static constexpr char kChooseInSheet[] = "Choose another port or address, then press OK or Apply.";

    // location: the program's own path (written to the store, and to the
    // RunOnce entry when the session ends).
    CServerApp(platform::RegistryStore& store, platform::Clock& clock, platform::PromptService& prompts,
               tftp::AddressProvider& addresses, std::string location);
    // Closes the main window if still open, then: decision dialogs, the
    // listener (ending its transfers), the about box; then the settings are saved.
    ~CServerApp() override;

    // The start-up sequence. False: the program ends.
    bool InitInstance();
    // True once the main window has closed: the run is over.
    bool Ended() const { return ended_; }

    // Idle processing: thread priorities, and the periodic check while the
    // view's timer does not run it. True while more idle calls are wanted.
    bool OnIdle(long count);

    void OnStartServing();
    void OnStopServing();
    void OnSetup();
    void OnServerInfo();
    void OnAppAbout();
    // File > Exit: closes the main window, which ends the run.
    void OnAppExit();

    void OnPortChanged() override;
    void ApplyProcessPriority() override;
    int LocalAddressCount() const override;
    // The sheet's pages have written back: a port change (or a listener that
    // failed before) is acted on, and the settings are stored.
    bool OnSettingsAccepted() override;

    // drop: replace the listener now (ending its transfers). Either way the
    // decision dialogs close.
    void RestartListener(bool drop);
    void CloseDecisionDialogs();
    // Restarts the listener when a decision dialog waits for the transfers.
    void EndPendingDecision();

    // The session asks whether it may end: the rows are logged.
    void OnQueryEndSession();
    // The session ends: RunOnce entry and window rectangle.
    void OnEndSession();
    // SIGTERM, SIGINT: end as File > Exit does. SIGHUP: OnReloadSignal.
    void OnTerminationSignal(int signalNumber);
    // Reads the store again and applies it as the options sheet's OK does:
    // a new port moves the listener (when it cannot be used, the server
    // stays on the port it had), folders and lists hold from the next request.
    void OnReloadSignal();

    // Settings from the command line: they hold for this run and are never
    // written back. Before InitInstance.
    void SetRunOverrides(const RunOverrides& overrides) { overrides_ = overrides; }

    // DisplayHost
    ServerSettings& Settings() override { return settings; }
    platform::Clock& WallClock() override { return clock_; }
    platform::PromptService& Prompts() override { return prompts_; }
    void SweepTransfers() override;
    int TransferCount() override;
    void ClearIdleCheck() override { context_.bIdleCheck = 0; }
    bool LoadWindowPlacement(WindowRect& rect) override;
    void SaveWindowPlacement(const WindowRect& rect) override;

    // AppCommands
    void OnAppCommand(int id) override;
    bool IsAppCommandEnabled(int id) const override;
    void OnMainFrameClosed() override;

    ServerContext& Context() { return context_; }
    CListenSocket* Listener() const { return listener_.get(); }
    // Listeners started so far (a restart makes a new one, which may reuse
    // the old one's address).
    int ListenersStarted() const { return listenersStarted_; }
    CMainFrame* MainFrame() const { return frame_.get(); }
    CNewView* View() const;
    CDunmoreDoc* Document() const { return doc_.get(); }
    CPortChangeDlg* PortChangeDlg() const { return portChangeDlg_; }
    CStopServingDlg* StopDlg() const { return stopDlg_; }
    CAbout* AboutSheet() const { return aboutSheet_; }

    ServerSettings settings;

    // What the last failed start of a listener told (address, port, reason);
    // empty when it listened, or when no local address was chosen.
    const std::string& ListenFailure() const { return listenFailure_; }

private:
    bool StartListener();
    // Without a listener: tells why and offers the options sheet until the
    // server listens (true) or the user declines (false).
    bool RecoverListener();
    // Runs the options sheet; false when the program has none.
    bool RunSetup();
    void PortChangeNow();
    // Creates the document, main window and view, or renews the document.
    void OnFileNew();
    void ApplyThreadPriorities(int transferCount);
    void Message(const char* text);
    // Writes the settings, keeping the store's values for what the command
    // line set.
    void StoreSettings();

    platform::RegistryStore& store_;
    platform::Clock& clock_;
    platform::PromptService& prompts_;
    std::string location_;
    ServerContext context_;
    std::unique_ptr<CListenSocket> listener_;
    std::unique_ptr<CDunmoreDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
    QPointer<CPortChangeDlg> portChangeDlg_;
    QPointer<CStopServingDlg> stopDlg_;
    QPointer<CAbout> aboutSheet_;
    static constexpr int kIdlePaceMs = 10;
    platform::IdleDriver idle_;
    std::unique_ptr<platform::TerminationSignals> signals_;
    RunOverrides overrides_;
    // The settings as the store last held them, before the command line.
    ServerSettings stored_;

    pid_t mainThread_ = 0;
    int processNice_ = 0;
    // Remembered by the idle processing; 99 makes its first call apply.
    int lastPriority_ = 99;
    int lastTransferCount_ = 99;
    bool restartQueued_ = false;
    std::string listenFailure_;
    int listenersStarted_ = 0;
    bool setupOpen_ = false;
    bool portChangedInSheet_ = false;
    bool exitRequested_ = false;
    bool sessionEnding_ = false;
    bool ended_ = false;
};
