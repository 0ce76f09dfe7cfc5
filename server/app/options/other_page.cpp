#include "other_page.h"

#include "setting_text.h"

#include "common/digits.h"
#include "common/port_range.h"
#include "platform/control_ids.h"
#include "server/app/options_host.h"
#include "server/app/server_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

using platform::SetControlId;

namespace {

QLineEdit* DigitsEdit(const QString& groupText, int id, QWidget* page, QHBoxLayout* row) {
    auto* group = new QGroupBox(groupText, page);
    auto* layout = new QVBoxLayout(group);
    auto* edit = new QLineEdit(group);
    SetControlId(edit, id);
    options::LimitEdit(edit, options::TextKind::Digits);
    layout->addWidget(edit);
    row->addWidget(group);
    return edit;
}

int Checked(const QCheckBox* box) { return box->isChecked() ? 1 : 0; }

}  // namespace

COther::COther(ServerSettings& settings, COptionsHost& host)
    : COptionsPage(IDD, tr("Options")), settings_(settings), host_(host) {
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    port_ = DigitsEdit(tr("Use Port "), IDC_PORT, this, row);
    timeout_ = DigitsEdit(tr("Timeout"), IDC_TIMEOUT, this, row);
    WatchEdit(port_);
    WatchEdit(timeout_);
    layout->addLayout(row);
    listenOn_ = AddListenOn(layout);
    noMultihomedBox_ = AddCheckBox(tr("Do not show multihomed request box"), IDC_NO_MULTIHOMED_BOX);
    alertMinimised_ = AddCheckBox(tr("Show alert box when minimised"), IDC_ALERT_MINIMISED);
    allowTsize_ = AddCheckBox(tr("Allow tSize option request"), IDC_ALLOW_TSIZE);
    allowTimeout_ = AddCheckBox(tr("Allow timeout option request"), IDC_ALLOW_TIMEOUT);
    allowWindowsize_ = AddCheckBox(tr("Allow windowsize option request"), IDC_ALLOW_WINDOWSIZE);
    maxWindowsize_ = AddBlockCount(tr("Maximum window size (blocks)"), IDC_MAX_WINDOWSIZE, layout);
    AddTransferLimits(layout);
    noSplash_ = AddCheckBox(tr("Disable splash at startup"), IDC_NO_SPLASH);
    minimiseAtStart_ = AddCheckBox(tr("Minimize at startup"), IDC_MINIMISE_AT_START);
    layout->addStretch(1);
}

QCheckBox* COther::AddCheckBox(const QString& text, int id) {
    auto* box = new QCheckBox(text, this);
    SetControlId(box, id);
    WatchButton(box);
    layout()->addWidget(box);
    return box;
}

void COther::AddLabelledRow(const QString& text, QWidget* control, QBoxLayout* into) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(text, this);
    label->setBuddy(control);
    row->addWidget(label);
    row->addWidget(control);
    row->addStretch(1);
    into->addLayout(row);
}

QComboBox* COther::AddListenOn(QBoxLayout* into) {
    auto* combo = new QComboBox(this);
    SetControlId(combo, IDC_LISTEN_ON);
    // Index 0 is every address, as bListenAll 1.
    combo->addItem(tr("All addresses"));
    combo->addItem(tr("One address"));
    combo->setAccessibleName(tr("Listen on"));
    connect(combo, &QComboBox::currentIndexChanged, this, [this] { SetModified(); });
    AddLabelledRow(tr("Listen on:"), combo, into);
    return combo;
}

QSpinBox* COther::AddBlockCount(const QString& text, int id, QBoxLayout* into) {
    auto* spin = new QSpinBox(this);
    SetControlId(spin, id);
    spin->setRange(1, ServerSettings::kWindowsizeLimit);
    // A typed number outside the range becomes the nearest end of it.
    spin->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    spin->setAccessibleName(text);
    connect(spin, &QSpinBox::valueChanged, this, [this] { SetModified(); });
    AddLabelledRow(text, spin, into);
    return spin;
}

void COther::AddTransferLimits(QBoxLayout* into) {
    // Five digits at most; empty shows what it means.
    const auto digits = [this](int id, const QString& name, const QString& empty) {
        auto* edit = new QLineEdit(this);
        SetControlId(edit, id);
        options::LimitEdit(edit, options::TextKind::Digits);
        edit->setMaxLength(5);
        edit->setPlaceholderText(empty);
        edit->setAccessibleName(name);
        const QFontMetrics metrics = edit->fontMetrics();
        edit->setMaximumWidth(std::max(metrics.horizontalAdvance(QStringLiteral("000000")),
                                       metrics.horizontalAdvance(empty + QStringLiteral("0"))) + 16);
        WatchEdit(edit);
        return edit;
    };
    portRangeLow_ = digits(IDC_PORT_RANGE_LOW, tr("Transfer ports from"), tr("any"));
    portRangeHigh_ = digits(IDC_PORT_RANGE_HIGH, tr("Transfer ports to"), tr("any"));
    auto* row = new QHBoxLayout;
    auto* from = new QLabel(tr("Transfer ports: from"), this);
    from->setBuddy(portRangeLow_);
    auto* to = new QLabel(tr("to"), this);
    to->setBuddy(portRangeHigh_);
    for (QWidget* w : {static_cast<QWidget*>(from), static_cast<QWidget*>(portRangeLow_),
                       static_cast<QWidget*>(to), static_cast<QWidget*>(portRangeHigh_)})
        row->addWidget(w);
    row->addStretch(1);
    into->addLayout(row);
    maxBlksize_ = digits(IDC_MAX_BLKSIZE, tr("Largest block size"), tr("no limit"));
    AddLabelledRow(tr("Largest block size:"), maxBlksize_, into);
}

void COther::ReadSettings(bool multihomedHost) {
    m_Port = settings_.Port;
    m_Timeout = settings_.Timeout;
    m_bMultihomed = multihomedHost ? 1 : 0;
    m_bNoMultihomedBox = multihomedHost && settings_.bShowMultihomed == 0 ? 1 : 0;
    m_bAlertMinimised = settings_.bAlertMinimised;
    m_bAllowTsize = settings_.bAllowTsize;
    m_bAllowTimeout = settings_.bAllowTimeout;
    m_bNoSplash = settings_.bNoSplash;
    m_bMinimiseAtStart = settings_.bMinimiseAtStart;
    m_bAllowWindowsize = settings_.bAllowWindowsize;
    m_nMaxWindowsize = settings_.nMaxWindowsize;
    m_bListenAll = settings_.bListenAll != 0 ? 1 : 0;
    const auto text = [](int value) { return value != 0 ? std::to_string(value) : std::string(); };
    m_PortRangeLow = text(settings_.nPortRangeLow);
    m_PortRangeHigh = text(settings_.nPortRangeHigh);
    m_MaxBlksize = text(settings_.nMaxBlksize);
}

void COther::FocusPort() {
    port_->setFocus();
    port_->selectAll();
}

void COther::OnInitDialog() {
    UpdateData(false);
    noMultihomedBox_->setEnabled(m_bMultihomed != 0);
}

void COther::DoDataExchange(bool save) {
    if (save) {
        m_Port = port_->text().toStdString();
        m_Timeout = timeout_->text().toStdString();
        m_bNoMultihomedBox = Checked(noMultihomedBox_);
        m_bAlertMinimised = Checked(alertMinimised_);
        m_bAllowTsize = Checked(allowTsize_);
        m_bAllowTimeout = Checked(allowTimeout_);
        m_bNoSplash = Checked(noSplash_);
        m_bMinimiseAtStart = Checked(minimiseAtStart_);
        m_bAllowWindowsize = Checked(allowWindowsize_);
        maxWindowsize_->interpretText();  // a number still being typed counts
        m_nMaxWindowsize = maxWindowsize_->value();
        m_bListenAll = listenOn_->currentIndex() == 0 ? 1 : 0;
        m_PortRangeLow = portRangeLow_->text().toStdString();
        m_PortRangeHigh = portRangeHigh_->text().toStdString();
        m_MaxBlksize = maxBlksize_->text().toStdString();
        return;
    }
    using options::CutToSetting;
    using options::TextKind;
    port_->setText(CutToSetting(QString::fromStdString(m_Port), TextKind::Digits));
    timeout_->setText(CutToSetting(QString::fromStdString(m_Timeout), TextKind::Digits));
    noMultihomedBox_->setChecked(m_bNoMultihomedBox != 0);
    alertMinimised_->setChecked(m_bAlertMinimised != 0);
    allowTsize_->setChecked(m_bAllowTsize != 0);
    allowTimeout_->setChecked(m_bAllowTimeout != 0);
    noSplash_->setChecked(m_bNoSplash != 0);
    minimiseAtStart_->setChecked(m_bMinimiseAtStart != 0);
    allowWindowsize_->setChecked(m_bAllowWindowsize != 0);
    const QSignalBlocker quiet(maxWindowsize_);  // filling is not a change
    maxWindowsize_->setValue(m_nMaxWindowsize);  // out of range: the nearest end
    const QSignalBlocker still(listenOn_);
    listenOn_->setCurrentIndex(m_bListenAll != 0 ? 0 : 1);
    portRangeLow_->setText(QString::fromStdString(m_PortRangeLow));
    portRangeHigh_->setText(QString::fromStdString(m_PortRangeHigh));
    maxBlksize_->setText(QString::fromStdString(m_MaxBlksize));
}

void COther::OnOK() {
    // The port first: the listener is restarted (or the user asked) only
    // when the text really changed, byte for byte ("069" is not "69").
    // Other addresses to listen on restart the listener the same way.
    const bool portChanged = m_Port != settings_.Port;
    const bool addressesChanged = (m_bListenAll != 0) != (settings_.bListenAll != 0);
    settings_.Port = m_Port;
    settings_.bListenAll = m_bListenAll != 0 ? 1 : 0;
    if (portChanged || addressesChanged) host_.OnPortChanged();
    settings_.Timeout = m_Timeout;
    if (m_bMultihomed) settings_.bShowMultihomed = m_bNoMultihomedBox ? 0 : 1;
    settings_.bAlertMinimised = m_bAlertMinimised;
    settings_.bAllowTsize = m_bAllowTsize;
    settings_.bAllowTimeout = m_bAllowTimeout;
    settings_.bAllowWindowsize = m_bAllowWindowsize;
    settings_.nMaxWindowsize = m_nMaxWindowsize;
    // Starting minimised always means starting without the splash window.
    if (m_bMinimiseAtStart) m_bNoSplash = 1;
    settings_.bNoSplash = m_bNoSplash;
    settings_.bMinimiseAtStart = m_bMinimiseAtStart;
    // Checked by the sheet already (COptions::LimitsAccepted): empty is unset.
    tftp::PortRange range;
    if (tftp::ReadPortRange(m_PortRangeLow, m_PortRangeHigh, 0, range) != tftp::PortRangeCheck::Fine) range = {};
    settings_.nPortRangeLow = range.low;
    settings_.nPortRangeHigh = range.high;
    settings_.nMaxBlksize = tftp::LeadingDigits(m_MaxBlksize);
}
