#include "server_app.h"

#include "platform/priority.h"
#include "platform/service_notify.h"
#include "platform/socket_library.h"
#include "server/app/about_sheet.h"
#include "server/app/command_ids.h"
#include "server/app/decision_dialogs.h"
#include "server/app/default_folders.h"
#include "server/app/listen_failure.h"
#include "server/app/new_view.h"
#include "server/app/server_info_dlg.h"
#include "server/app/settings_store.h"
#include "server/app/startup_splash.h"
#include "server/engine/listen_socket.h"

#ifdef VANTREL_HAVE_OPTIONS
#include "server/app/options/options.h"
#endif

#include <QApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QThread>

#include <csignal>
#include <cstdio>

using namespace vantrel;

namespace {

// A line for whoever reads standard error (the journal under a service manager).
void Note(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kAppTitle, text.c_str());
    std::fflush(stderr);
}

}  // namespace

CServerApp::CServerApp(platform::RegistryStore& store, platform::Clock& clock,
                       platform::PromptService& prompts, tftp::AddressProvider& addresses,
                       std::string location)
    : store_(store),
      clock_(clock),
      prompts_(prompts),
      location_(std::move(location)),
      context_(settings, clock, prompts, addresses),
      // While transfers run, OnIdle keeps asking for more calls. Paced at one
      // call a millisecond, the pacing timer wakes the event loop between
      // blocks and costs a lock-step transfer about a fifth of its speed;
      // every 10 ms still runs the check of every 64th call within a second.
      idle_([this](long count) { return OnIdle(count); }, kIdlePaceMs) {
    // The listener calls this from inside its own periodic check; the restart
    // replaces that listener, so it runs once the check has returned.
    context_.endPendingDecision = [this] {
        if ((portChangeDlg_ || stopDlg_) && !restartQueued_) {
            restartQueued_ = true;
            QMetaObject::invokeMethod(
                this, [this] {
                    restartQueued_ = false;
                    if (!ended_) EndPendingDecision();
                },
                Qt::QueuedConnection);
        }
    };
    // What the engine could not do, told once its work has returned.
    context_.onFailure = [this](EngineFailure failure) {
        prompts_.MessageBox(EngineFailureText(failure), platform::PromptIcon::Error, platform::PromptButtons::Ok);
    };
}

CServerApp::~CServerApp() {
    if (frame_ && !frame_->Closed()) frame_->close();
    idle_.Stop();
    signals_.reset();
    context_.view = nullptr;
    context_.endPendingDecision = nullptr;
    context_.onFailure = nullptr;
    delete portChangeDlg_.data();
    delete stopDlg_.data();
    listener_.reset();
    delete aboutSheet_.data();
    StoreSettings();
    frame_.reset();
    // Windows closed on the way out (dialogs, splash, alert) go now, not at
    // an event loop that will not run again.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

CNewView* CServerApp::View() const { return frame_ ? frame_->View() : nullptr; }

void CServerApp::StoreSettings() {
    const ServerSettings kept = overrides_.ForStore(settings, stored_);
    SaveSettings(store_, kept);
    stored_ = kept;
}

void CServerApp::Message(const char* text) {
    // Asked to end (a termination signal): no further questions.
    if (exitRequested_) return;
    prompts_.MessageBox(text, platform::PromptIcon::Information, platform::PromptButtons::Ok);
}

bool CServerApp::InitInstance() {
    // A termination signal during start-up ends the program once it is up.
    signals_ = std::make_unique<platform::TerminationSignals>(
        [this](int signalNumber) { OnTerminationSignal(signalNumber); });

    LoadSettings(store_, settings);
    stored_ = settings;
    overrides_.ApplyTo(settings);
    // Empty folders would serve the folder the program was started from.
    FillEmptyFolders(settings);
    mainThread_ = platform::CurrentThreadId();
    ApplyProcessPriority();
    settings.Location = location_;
    if (!platform::StartSocketLibrary(context_.wsaData)) {
        Message(kSocketsFailed);
        return false;
    }
    if (!StartListener() && !RecoverListener()) {
        // A port the user chose not to change ends here without more words.
        if (listenFailure_.empty()) Message(kInitFailed);
        return false;
    }
    CStartupSplash::EnableSplash(settings.bNoSplash != 1);
    OnFileNew();
    if (!frame_) return false;

    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
            // Started again at the next session, as the RunOnce entry asks.
            manager.setRestartHint(QSessionManager::RestartIfRunning);
            OnQueryEndSession();
        });
    }
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (sessionEnding_) OnEndSession();
    });
    idle_.Start();
    if (exitRequested_) OnAppExit();
    // Listening and shown: a service manager may count the server as started.
    else platform::NotifyServiceManager("READY=1");
    return true;
}

bool CServerApp::StartListener() {
    listener_ = std::make_unique<CListenSocket>(context_);
    if (listener_->StartListening()) {
        listenFailure_.clear();
        ++listenersStarted_;
        return true;
    }
    // The listener says what failed; the user hears it first.
    if (const char* what = ListenFailureWords(listener_->Failure()))
        prompts_.MessageBox(what, platform::PromptIcon::Error, platform::PromptButtons::Ok);
    // An address was chosen but its port could not be bound.
    listenFailure_.clear();
    if (!listener_->LocalAddress().empty())
        listenFailure_ = ListenFailureText(listener_->LocalAddress(), ListeningPort(settings.Port),
                                           listener_->LastError(), location_);
    listener_.reset();
    return false;
}

bool CServerApp::RecoverListener() {
    while (!listener_) {
        if (listenFailure_.empty() || exitRequested_ || ended_) return false;
        if (!prompts_.CanShowWindows()) {
            // No one could see the sheet: tell why, and end.
            prompts_.MessageBox(listenFailure_, platform::PromptIcon::Warning, platform::PromptButtons::Ok);
            return false;
        }
        const int answer = prompts_.MessageBox(listenFailure_ + "\n\n" + kSetupOrQuit,
                                               platform::PromptIcon::Warning, platform::PromptButtons::YesNo);
        // OK or Apply in the sheet tries the settings as they then are.
        if (answer != platform::kIdYes || exitRequested_ || !RunSetup()) return false;
    }
    return true;
}

bool CServerApp::RunSetup() {
#ifdef VANTREL_HAVE_OPTIONS
    setupOpen_ = true;
    COptions sheet(settings, *this, frame_.get());
    sheet.exec();
    setupOpen_ = false;
    portChangedInSheet_ = false;
    return true;
#else
    return false;
#endif
}

void CServerApp::OnFileNew() {
    if (!frame_) {
        doc_ = std::make_unique<CDunmoreDoc>(context_.listenLabel);
        frame_ = std::make_unique<CMainFrame>(*this, *this, *doc_);
        doc_->SetView(frame_->View());
        CMainFrame* frame = frame_.get();
        doc_->OnTitleChanged([frame](const QString& title) { frame->SetDocumentTitle(title); });
        context_.view = frame_->View();
        doc_->OnNewDocument();
        frame_->View()->OnInitialUpdate();
        // The first show state is the setting's, whatever the program was started with.
        if (settings.bMinimiseAtStart == 1) frame_->showMinimized();
        else frame_->showNormal();
        CStartupSplash::ShowSplash(frame_.get());
        return;
    }
    // Renewed after a listener restart: new title, and the view's first
    // display again (which keeps its rows).
    doc_->OnNewDocument();
    frame_->View()->OnInitialUpdate();
}

void CServerApp::OnStartServing() {
    if (stopDlg_) CloseDecisionDialogs();
    context_.bServing = 1;
}

void CServerApp::OnStopServing() {
    context_.bServing = 0;
    if (listener_ && listener_->TransferCount() > 0) {
        if (!stopDlg_) stopDlg_ = new CStopServingDlg([this](bool drop) { RestartListener(drop); }, frame_.get());
        stopDlg_->show();
        stopDlg_->raise();
    } else {
        CloseDecisionDialogs();
    }
}

void CServerApp::OnPortChanged() {
    // From the sheet: acted on once every page has written back.
    if (setupOpen_) {
        portChangedInSheet_ = true;
        return;
    }
    PortChangeNow();
}

void CServerApp::PortChangeNow() {
    if (!listener_ || listener_->TransferCount() == 0) {
        RestartListener(true);
        return;
    }
    if (!portChangeDlg_)
        portChangeDlg_ = new CPortChangeDlg([this](bool drop) { RestartListener(drop); }, frame_.get());
    portChangeDlg_->show();
    portChangeDlg_->raise();
}

void CServerApp::RestartListener(bool drop) {
    if (drop) {
        listener_.reset();
        if (StartListener()) {
            if (frame_) OnFileNew();
        } else {
            CloseDecisionDialogs();
            if (listenFailure_.empty()) {
                // No local address: the server cannot go on; end as File > Exit does.
                Message(kInitFailed);
                OnAppExit();
            } else if (setupOpen_) {
                // The user is in the sheet already, where another port can be chosen.
                if (!exitRequested_)
                    prompts_.MessageBox(listenFailure_ + "\n\n" + kChooseInSheet, platform::PromptIcon::Warning,
                                        platform::PromptButtons::Ok);
            } else if (!RecoverListener()) {
                OnAppExit();
            }
            return;
        }
    }
    CloseDecisionDialogs();
}

void CServerApp::CloseDecisionDialogs() {
    // A dialog may be closing itself from its own button: let it finish first.
    for (QDialog* dialog : {static_cast<QDialog*>(portChangeDlg_.data()), static_cast<QDialog*>(stopDlg_.data())}) {
        if (!dialog) continue;
        dialog->hide();
        dialog->deleteLater();
    }
    portChangeDlg_ = nullptr;
    stopDlg_ = nullptr;
}

void CServerApp::EndPendingDecision() {
    if (portChangeDlg_ || stopDlg_) RestartListener(true);
}

void CServerApp::ApplyProcessPriority() {
    processNice_ = settings.bRaisePriority == 1 ? platform::kNiceHighClass : platform::kNiceNormal;
    platform::SetProcessNice(processNice_);
    // Every thread now has the class's level: the next idle pass puts the
    // chosen thread levels back on top of it.
    lastPriority_ = 99;
    lastTransferCount_ = 99;
}

int CServerApp::LocalAddressCount() const { return listener_ ? listener_->AddressCount() : 0; }

void CServerApp::ApplyThreadPriorities(int transferCount) {
    const auto mainAt = [this](int offset) { platform::SetThreadNice(mainThread_, processNice_ + offset); };
    switch (settings.nPriority) {
    case 0: mainAt(platform::kNiceBelowNormal); break;
    case 1: mainAt(platform::kNiceNormal); break;
    case 2: mainAt(platform::kNiceAboveNormal); break;
    case 3:
        if (transferCount == 0) {
            mainAt(platform::kNiceBelowNormal);
        } else {
            const int workers = transferCount > 5 ? platform::kNiceAboveNormal : platform::kNiceNormal;
            if (listener_)
                for (const pid_t tid : listener_->WorkerThreadIds())
                    platform::SetThreadNice(tid, processNice_ + workers);
            mainAt(platform::kNiceNormal);
        }
        break;
    default:
        break;  // never chosen: priorities stay as they are
    }
}

bool CServerApp::OnIdle(long count) {
    // The framework's own idle work: command states once per idle period.
    bool more = false;
    if (count == 0) {
        if (frame_ && !frame_->Closed()) frame_->UpdateCommandUi();
        more = true;
    }
    const int transfers = TransferCount();
    if (settings.nPriority != lastPriority_ || transfers != lastTransferCount_) {
        lastPriority_ = settings.nPriority;
        lastTransferCount_ = transfers;
        ApplyThreadPriorities(transfers);
    }
    if (transfers == 0) return more;
    if (listener_) listener_->ResendSilent();
    if ((count & 0x40) == 0) return true;
    if (context_.bIdleCheck == 1) SweepTransfers();
    if (TransferCount() == 0) EndPendingDecision();
    return true;
}

void CServerApp::SweepTransfers() {
    if (listener_) listener_->SweepTransfers();
    // What the check reported is in the rows before the caller reads them.
    context_.DeliverEvents();
}

int CServerApp::TransferCount() { return listener_ ? listener_->TransferCount() : 0; }

bool CServerApp::LoadWindowPlacement(WindowRect& rect) { return ::LoadWindowPlacement(store_, rect); }

void CServerApp::SaveWindowPlacement(const WindowRect& rect) { ::SaveWindowPlacement(store_, rect); }

void CServerApp::OnSetup() {
    RunSetup();
    // Closed with the server still not listening: ask again, or end.
    if (!listener_ && !ended_ && !exitRequested_ && !RecoverListener()) OnAppExit();
}

bool CServerApp::OnSettingsAccepted() {
    if (portChangedInSheet_ || !listener_) {
        portChangedInSheet_ = false;
        PortChangeNow();
    }
    // What the sheet wrote is kept even if the program is killed later.
    StoreSettings();
    return listener_ != nullptr;
}

void CServerApp::OnServerInfo() {
    CServerInfoDlg::Info info;
    if (listener_) {
        info.hostName = listener_->HostName();
        info.hostAddress = listener_->LocalAddress();
        info.adaptors = listener_->AddressCount();
        if (listener_->ListeningOnAll()) info.listening = listener_->AllAddresses();
    }
    info.maxUdp = context_.wsaData.maxUdpDatagram;
    info.maxSockets = context_.wsaData.maxSockets;
    CServerInfoDlg dialog(info, frame_.get());
    dialog.exec();
}

void CServerApp::OnAppAbout() {
    if (aboutSheet_) return;
    aboutSheet_ = new CAbout(frame_.get());
    aboutSheet_->show();
}

void CServerApp::OnAppExit() {
    if (frame_ && frame_->Closed()) return;
    // A modal dialog would keep the window from closing: close those first.
    for (int i = 0; i < 8; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) break;
        modal->close();
    }
    if (!frame_) {
        // Still starting: end as soon as the main window exists.
        exitRequested_ = true;
        return;
    }
    frame_->close();
}

void CServerApp::OnAppCommand(int id) {
    switch (id) {
    case ID_STOP_SERVING: OnStopServing(); break;
    case ID_START_SERVING: OnStartServing(); break;
    case ID_SETUP: OnSetup(); break;
    case ID_SERVER_INFO: OnServerInfo(); break;
    case ID_APP_ABOUT: OnAppAbout(); break;
    default: break;
    }
}

bool CServerApp::IsAppCommandEnabled(int id) const {
    switch (id) {
    case ID_STOP_SERVING: return context_.bServing == 1;
    case ID_START_SERVING: return context_.bServing == 0;
    default: return true;
    }
}

void CServerApp::OnMainFrameClosed() {
    ended_ = true;
    context_.view = nullptr;
    CStartupSplash::HideSplash();
    // Only a running event loop is told to end; before it runs (or in a test
    // that drives events itself) there is nothing to end.
    if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(0);
}

void CServerApp::OnQueryEndSession() {
    sessionEnding_ = true;
    if (CNewView* view = View(); view && frame_ && !frame_->Closed()) {
        view->CheckBeforeClosing();
        view->DeleteAllRows();
    }
}

void CServerApp::OnEndSession() {
    WriteRunOnce(store_, settings.Location);
    if (frame_) {
        const QRect outer = frame_->frameGeometry();
        SaveWindowPlacement(WindowRect{outer.x(), outer.y(), outer.x() + outer.width(),
                                       outer.y() + outer.height()});
    }
}

void CServerApp::OnTerminationSignal(int signalNumber) {
    if (signalNumber == SIGHUP) {
        OnReloadSignal();
        return;
    }
    platform::NotifyServiceManager("STOPPING=1");
    if (sessionEnding_) OnEndSession();
    OnAppExit();
}

void CServerApp::OnReloadSignal() {
    // Still starting, or already ending: the settings are being read or kept.
    if (!frame_ || ended_ || exitRequested_) return;
    platform::NotifyServiceManager("RELOADING=1");
    ServerSettings fresh;
    LoadSettings(store_, fresh);
    stored_ = fresh;
    overrides_.ApplyTo(fresh);
    FillEmptyFolders(fresh);
    fresh.Location = location_;
    const std::string oldPort = settings.Port;
    const bool raiseChanged = fresh.bRaisePriority != settings.bRaisePriority;
    settings = fresh;
    if (raiseChanged) ApplyProcessPriority();
    Note("Settings reloaded from " + store_.Path());
    if (settings.Port != oldPort || !listener_) {
        if (listener_ && listener_->TransferCount() > 0) {
            // As after OK in the sheet: the move waits for the transfers.
            PortChangeNow();
        } else {
            listener_.reset();
            if (!StartListener()) {
                // Nobody to ask: say why, and go on serving where it did.
                Note(listenFailure_.empty() ? std::string(kInitFailed) : listenFailure_);
                settings.Port = oldPort;
                if (!StartListener()) {
                    Message(kInitFailed);
                    OnAppExit();
                    return;
                }
            }
            OnFileNew();
        }
    }
    platform::NotifyServiceManager("READY=1");
}
