#include "client_app.h"

#include "client/about.h"
#include "client/client_ids.h"
#include "client/client_profile.h"
#include "client/halden_doc.h"
#include "client/halden_view.h"
#include "client/main_frame.h"
#include "client/options_sheet.h"

#include <QApplication>

using namespace skerry;

CClientApp::CClientApp(platform::PromptService& prompts, platform::Clock& clock,
                       tftp::AddressProvider& addresses, std::string profilePath)
    : prompts_(prompts),
      profile_(std::move(profilePath)),
      context_{*this, clock, addresses, *this},
      help_("qrc:/help/skerry.html", "Halden Client Help"),
      idle_([this](long count) { return OnIdle(count); }, kIdlePaceMs, kBusyIdlePaceMs) {}

CClientApp::~CClientApp() {
    idle_.Stop();
    delete aboutSheet.data();  // an open About window ends with the program
    frame_.reset();            // the view deletes its transfer with it
}

bool CClientApp::InitInstance() {
    // A signal during start-up ends the program once its window is up.
    signals_ = std::make_unique<platform::TerminationSignals>([this](int) {
        if (frame_) frame_->close();
    });
    if (!platform::StartSocketLibrary(wsaData)) {
        prompts_.MessageBox(kSocketsFailed, platform::PromptIcon::Warning,
                            platform::PromptButtons::Ok);
        return false;
    }
    LoadSettings(profile_, *this);

    doc_ = std::make_unique<CHaldenDoc>([this] {
        if (frame_) frame_->UpdateCaption(doc_->GetTitle());
    });
    frame_ = std::make_unique<CMainFrame>(*this);
    if (frame_->OnCreate() != 0) {
        frame_.reset();
        return false;
    }
    doc_->OnNewDocument();
    frame_->UpdateCaption(doc_->GetTitle());
    view_ = new CHaldenView(*this);
    frame_->SetView(view_);
    doc_->SetView(view_);
    view_->OnInitialUpdate();
    frame_->ShrinkToForm();
    frame_->show();
    frame_->setAcceptDrops(true);
    idle_.Start();
    return true;
}

bool CClientApp::OnIdle(long count) {
    const bool more = false;  // the platform has no idle work of its own here
    if (view_ && view_->transfer) {
        CTransferSocket& transfer = *view_->transfer;
        const auto hold = transfer.Hold();
        if (transfer.busy == 1) {
            // The transfer's own thread keeps its time, unless tests do.
            if (!context_.timeOnTransferThreads && (count & 0x40)) transfer.CheckTimeout();
            return true;
        }
    }
    return more;
}

void CClientApp::SetStatusText(int, const std::string& text) {
    if (frame_) frame_->SetMessageText(QString::fromStdString(text));
}

void CClientApp::SaveStartup() { skerry::SaveStartup(profile_, *this); }

void CClientApp::OnSetup() {
    COptionsSheet sheet(frame_.get());
    sheet.incomingPage.folder = QString::fromStdString(inboundPath);
    sheet.incomingPage.switchOn = overwrite;
    sheet.outgoingPage.folder = QString::fromStdString(outboundPath);
    sheet.outgoingPage.switchOn = truncate;
    sheet.transferPage.windowSize = windowSize;
    sheet.transferPage.maxBlockSize = maxBlockSize;
    if (sheet.DoModal() != IDOK) return;
    inboundPath = sheet.incomingPage.folder.toStdString();
    overwrite = sheet.incomingPage.switchOn;
    outboundPath = sheet.outgoingPage.folder.toStdString();
    truncate = sheet.outgoingPage.switchOn;
    windowSize = sheet.transferPage.windowSize;
    maxBlockSize = sheet.transferPage.maxBlockSize;
    for (std::string* path : {&inboundPath, &outboundPath})
        if (!path->empty() && path->back() != '/') *path += '/';
    SaveOptions(profile_, *this);
}

void CClientApp::OnRenameButtons() {
    changeButtons = changeButtons != 1 ? 1 : 0;
    SaveChangeButtons(profile_, *this);
    if (view_) view_->SetButtonNames(changeButtons);
}

void CClientApp::OnAppAbout() {
    if (aboutSheet) return;
    aboutSheet = new CAbout(kAboutCaption, 1, [this] { AboutClosed(); });
}

void CClientApp::AboutClosed() { aboutSheet = nullptr; }

void CClientApp::OnHelpIndex() { help_.ShowTopic(); }

void CClientApp::OnHelpUsing() { help_.ShowTopic("using-help"); }

void CClientApp::OnHelp() {
    // The topic of the focused control, when it has one.
    int id = 0;
    QWidget* focus = QApplication::focusWidget();
    if (!focus && frame_) focus = frame_->focusWidget();  // the window is not active
    if (focus) {
        for (QWidget* w = focus; w && id == 0; w = w->parentWidget())
            id = w->property("controlId").toInt();
    }
    help_.ShowTopic(id != 0 ? QStringLiteral("id%1").arg(id) : QString());
}

void CClientApp::OnContextHelp() { platform::HelpWindow::EnterContextHelp(); }
