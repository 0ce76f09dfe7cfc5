#include "name_rules_page.h"

#include "common/requested_name.h"
#include "common/tftp_packet.h"
#include "platform/control_ids.h"
#include "server/app/server_settings.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using platform::SetControlId;

namespace {

// Cells are edited in a line edit that takes at most kMaxRuleText characters.
class RuleTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* edit = qobject_cast<QLineEdit*>(editor)) edit->setMaxLength(CNameRulesPage::kMaxRuleText);
        return editor;
    }
};

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CNameRulesPage::CNameRulesPage(ServerSettings& settings)
    : COptionsPage(IDD, tr("Name Rules")), settings_(settings) {
    auto* layout = new QVBoxLayout(this);
    auto* explain = new QLabel(
        tr("Requested names are rewritten by the first rule whose pattern matches (PCRE2; (?i) ignores case); "
           "\\1 to \\9 in the replacement stand for the pattern's groups. Without \"Stop here\" the rules are "
           "tried again on the new name."),
        this);
    explain->setWordWrap(true);
    layout->addWidget(explain);

    auto* row = new QHBoxLayout;
    table_ = new QTableWidget(0, 3, this);
    SetControlId(table_, IDC_RULES);
    table_->setAccessibleName(tr("Name rules"));
    table_->setHorizontalHeaderLabels({tr("Pattern"), tr("Replacement"), tr("Stop here")});
    table_->horizontalHeader()->setSectionResizeMode(kPattern, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(kReplacement, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(kStop, QHeaderView::ResizeToContents);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setItemDelegate(new RuleTextDelegate(table_));
    row->addWidget(table_, 1);
    auto* buttons = new QVBoxLayout;
    const auto button = [&](const QString& text, int id) {
        auto* b = new QPushButton(text, this);
        SetControlId(b, id);
        buttons->addWidget(b);
        return b;
    };
    add_ = button(tr("&Add"), IDC_ADD);
    remove_ = button(tr("&Remove"), IDC_REMOVE);
    up_ = button(tr("Move &Up"), IDC_UP);
    down_ = button(tr("Move &Down"), IDC_DOWN);
    buttons->addStretch(1);
    row->addLayout(buttons);
    layout->addLayout(row, 1);

    error_ = new QLabel(this);
    SetControlId(error_, IDC_RULE_ERROR);
    error_->setWordWrap(true);
    layout->addWidget(error_);

    auto* test = new QGroupBox(tr("Test a name"), this);
    auto* testLayout = new QVBoxLayout(test);
    testName_ = new QLineEdit(test);
    SetControlId(testName_, IDC_TEST_NAME);
    testName_->setAccessibleName(tr("Test a name"));
    testName_->setPlaceholderText(tr("A name as a client asks for it"));
    testName_->setMaxLength(tftp::kMaxRequestLength);
    testResult_ = new QLabel(test);
    SetControlId(testResult_, IDC_TEST_RESULT);
    testResult_->setWordWrap(true);
    testResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    testLayout->addWidget(testName_);
    testLayout->addWidget(testResult_);
    layout->addWidget(test);

    connect(add_, &QPushButton::clicked, this, &CNameRulesPage::AddRule);
    connect(remove_, &QPushButton::clicked, this, &CNameRulesPage::RemoveRule);
    connect(up_, &QPushButton::clicked, this, [this] { MoveRule(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { MoveRule(1); });
    connect(table_, &QTableWidget::itemChanged, this, [this] {
        SetModified();
        Update();
    });
    connect(table_, &QTableWidget::itemSelectionChanged, this, &CNameRulesPage::Update);
    connect(testName_, &QLineEdit::textChanged, this, &CNameRulesPage::Update);
    Update();
}

void CNameRulesPage::OnInitDialog() {
    const QSignalBlocker quiet(table_);
    table_->setRowCount(0);
    for (const tftp::NameRule& rule : settings_.NameRules) InsertRow(table_->rowCount(), rule);
    Update();
}

void CNameRulesPage::OnOK() { settings_.NameRules = Rules(); }

void CNameRulesPage::InsertRow(int row, const tftp::NameRule& rule) {
    const QSignalBlocker quiet(table_);
    table_->insertRow(row);
    table_->setItem(row, kPattern, new QTableWidgetItem(Text(rule.pattern)));
    table_->setItem(row, kReplacement, new QTableWidgetItem(Text(rule.replacement)));
    auto* stop = new QTableWidgetItem;
    stop->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    stop->setCheckState(rule.stop ? Qt::Checked : Qt::Unchecked);
    table_->setItem(row, kStop, stop);
}

tftp::NameRule CNameRulesPage::RuleAt(int row) const {
    tftp::NameRule rule;
    if (const QTableWidgetItem* item = table_->item(row, kPattern)) rule.pattern = item->text().toStdString();
    if (const QTableWidgetItem* item = table_->item(row, kReplacement))
        rule.replacement = item->text().toStdString();
    if (const QTableWidgetItem* item = table_->item(row, kStop)) rule.stop = item->checkState() == Qt::Checked;
    return rule;
}

std::vector<tftp::NameRule> CNameRulesPage::Rules() const {
    std::vector<tftp::NameRule> rules;
    for (int row = 0; row < table_->rowCount(); ++row) {
        tftp::NameRule rule = RuleAt(row);
        if (!rule.pattern.empty()) rules.push_back(std::move(rule));
    }
    return rules;
}

QString CNameRulesPage::FirstBadRule(int* badRow) const {
    for (int row = 0; row < table_->rowCount(); ++row) {
        const tftp::NameRule rule = RuleAt(row);
        if (rule.pattern.empty()) continue;
        if (const std::optional<tftp::RuleError> error = tftp::CheckRule(rule)) {
            if (badRow) *badRow = row;
            return tr("Rule %1: %2").arg(row + 1).arg(Text(error->Text()));
        }
    }
    return {};
}

void CNameRulesPage::FocusRule(int row) {
    table_->setCurrentCell(row, kPattern);
    table_->setFocus();
}

void CNameRulesPage::AddRule() {
    if (table_->rowCount() >= ServerSettings::kMaxNameRules) return;
    const int row = table_->currentRow() < 0 ? table_->rowCount() : table_->currentRow() + 1;
    InsertRow(row, tftp::NameRule{});
    table_->setCurrentCell(row, kPattern);
    table_->editItem(table_->item(row, kPattern));
    SetModified();
    Update();
}

void CNameRulesPage::RemoveRule() {
    const int row = table_->currentRow();
    if (row < 0) return;
    table_->removeRow(row);
    if (table_->rowCount() > 0) table_->setCurrentCell(std::min(row, table_->rowCount() - 1), kPattern);
    SetModified();
    Update();
}

void CNameRulesPage::MoveRule(int by) {
    const int row = table_->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= table_->rowCount()) return;
    const tftp::NameRule rule = RuleAt(row);
    {
        const QSignalBlocker quiet(table_);
        table_->removeRow(row);
    }
    InsertRow(to, rule);
    table_->setCurrentCell(to, table_->currentColumn() < 0 ? kPattern : table_->currentColumn());
    SetModified();
    Update();
}

void CNameRulesPage::Update() {
    const int row = table_->currentRow();
    add_->setEnabled(table_->rowCount() < ServerSettings::kMaxNameRules);
    remove_->setEnabled(row >= 0);
    up_->setEnabled(row > 0);
    down_->setEnabled(row >= 0 && row + 1 < table_->rowCount());
    error_->setText(FirstBadRule());

    const std::string name = testName_->text().toStdString();
    if (name.empty()) {
        testResult_->clear();
        return;
    }
    const tftp::RewrittenName result = tftp::NameRewriter(Rules()).Rewrite(name);
    const std::optional<std::string> relative = tftp::NameInFolder(result.name);
    if (result.refused) {
        testResult_->setText(tr("Refused: the rules do not come to an end with this name."));
    } else if (!relative) {
        testResult_->setText(tr("Refused: \"%1\" does not name a file inside the folder.").arg(Text(result.name)));
    } else if (result.changed) {
        testResult_->setText(tr("Rewritten to \"%1\": serves %2").arg(Text(result.name), Text(*relative)));
    } else {
        testResult_->setText(tr("Not rewritten: serves %1").arg(Text(*relative)));
    }
}
