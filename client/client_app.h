// The client program's application object: it reads the settings file,
// creates the window with its document and form, runs the transfer time-out
// from its idle processing, shows transfer status texts, and handles Setup,
// Rename Buttons, Help and About.
#pragma once

#include "client/engine/client_context.h"
#include "client/engine/client_settings.h"
#include "platform/help_window.h"
#include "platform/idle_driver.h"
#include "platform/profile_file.h"
#include "platform/socket_library.h"
#include "platform/termination_signals.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <string>

class CAbout;
class CHaldenDoc;
class CHaldenView;
class CMainFrame;

// The settings live in the ClientSettings part, under their own names
// (remoteFile, localFile, host, defaultIp, inboundPath, ...).
class CClientApp : public QObject, public ClientSettings, public StatusSink {
    Q_OBJECT
public:
    // profilePath: the settings file (Skerry.INI in the configuration folder).
    CClientApp(platform::PromptService& prompts, platform::Clock& clock,
               tftp::AddressProvider& addresses, std::string profilePath);
    ~CClientApp() override;

    // Start-up: sockets, settings, window. False ends the program.
    bool InitInstance();
    // True while more idle calls are wanted.
    bool OnIdle(long count);

    void SetStatusText(int unused, const std::string& text) override;
    void SaveStartup();

    void OnSetup();
    void OnRenameButtons();
    void OnAppAbout();
    void AboutClosed();
    void OnHelpIndex();
    void OnHelpUsing();
    void OnHelp();  // F1: the focused control's topic
    void OnContextHelp();

    CMainFrame* MainFrame() const { return frame_.get(); }
    CHaldenView* View() const { return view_; }
    CHaldenDoc& Document() { return *doc_; }
    ClientContext& Context() { return context_; }
    platform::PromptService& Prompts() { return prompts_; }
    platform::ProfileFile& Profile() { return profile_; }
    platform::HelpWindow& Help() { return help_; }
    platform::IdleDriver& Idle() { return idle_; }

    // While a transfer runs, OnIdle keeps asking for more calls: one a
    // millisecond once the server goes quiet, so that the time-out check of
    // every 64th call runs soon (even between a caret's blinks); one every
    // 10 ms while datagrams keep coming, since a pacing timer firing between
    // blocks costs a lock-step transfer about a tenth of its speed.
    static constexpr int kIdlePaceMs = 1;
    static constexpr int kBusyIdlePaceMs = 10;

    platform::SocketLibraryInfo wsaData;
    QPointer<CAbout> aboutSheet;  // the open About window, or null

private:
    platform::PromptService& prompts_;
    platform::ProfileFile profile_;
    ClientContext context_;
    platform::HelpWindow help_;
    std::unique_ptr<CHaldenDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
    CHaldenView* view_ = nullptr;  // owned by the frame
    platform::IdleDriver idle_;
    // SIGTERM, SIGINT and SIGHUP end the program as File > Exit does.
    std::unique_ptr<platform::TerminationSignals> signals_;
};
