#include "clients_page.h"

#include "platform/control_ids.h"
#include "server/app/server_settings.h"

#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

using platform::SetControlId;

namespace {

QSlider* TrackBar(const QString& groupText, int id, int top, const char* scale, QWidget* page) {
    auto* group = new QGroupBox(groupText, page);
    auto* layout = new QVBoxLayout(group);
    auto* label = new QLabel(scale, group);
    auto* slider = new QSlider(Qt::Horizontal, group);
    SetControlId(slider, id);
    slider->setRange(0, top);
    slider->setPageStep(1);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(1);
    // The scale is one line of text: the track bar spans it so that its
    // ticks stand under the numbers.
    slider->setFixedWidth(label->sizeHint().width());
    layout->addWidget(slider);
    layout->addWidget(label);
    page->layout()->addWidget(group);
    return slider;
}

}  // namespace

CClientsPage::CClientsPage(ServerSettings& settings)
    : COptionsPage(IDD, tr("Client Limits")), settings_(settings) {
    auto* layout = new QVBoxLayout(this);
    maxClients_ = TrackBar(tr("Maximum simultaneous Clients"), IDC_MAX_CLIENTS, kMaxClientsTop,
                           kClientsScale, this);
    maxDisplay_ = TrackBar(tr("Maximum Clients in display"), IDC_MAX_DISPLAY, kMaxDisplayTop,
                           kDisplayScale, this);
    layout->addStretch(1);
    for (QSlider* s : {maxClients_, maxDisplay_})
        connect(s, &QSlider::valueChanged, this, &CClientsPage::CheckTrackBars);
}

void CClientsPage::OnInitDialog() {
    const int clients = settings_.nMaxClients;
    const int display = settings_.nMaxDisplay;
    const QSignalBlocker quietClients(maxClients_);
    const QSignalBlocker quietDisplay(maxDisplay_);
    maxClients_->setValue(clients >= 0 && clients <= kMaxClientsTop ? clients
                                                                     : kMaxClientsFallback);
    maxDisplay_->setValue(display >= 0 && display <= kMaxDisplayTop ? display
                                                                    : kMaxDisplayFallback);
    RememberPositions();
}

void CClientsPage::OnSetActive() { RememberPositions(); }

void CClientsPage::OnKillActive() {
    if (maxClients_->value() != clientsSeen_ || maxDisplay_->value() != displaySeen_)
        SetModified();
}

void CClientsPage::RememberPositions() {
    clientsSeen_ = maxClients_->value();
    displaySeen_ = maxDisplay_->value();
}

void CClientsPage::CheckTrackBars() {
    if (maxClients_->value() != clientsSeen_) {
        SetModified();
        clientsSeen_ = maxClients_->value();
    } else if (maxDisplay_->value() != displaySeen_) {
        SetModified();
        displaySeen_ = maxDisplay_->value();
    }
}

void CClientsPage::OnOK() {
    settings_.nMaxClients = maxClients_->value();
    settings_.nMaxDisplay = maxDisplay_->value();
}
