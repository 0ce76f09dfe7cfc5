// The "Name Rules" page: the ordered table of name rewriting rules (pattern,
// replacement, stop here), with buttons to add, remove and reorder them, the
// reason a rule cannot be used as it is typed, and a "test a name" field that
// shows what the table makes of a name and whether it stays in the folder.
#pragma once

#include "options_page.h"

#include "common/name_rules.h"

#include <vector>

struct ServerSettings;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class CNameRulesPage : public COptionsPage {
    Q_OBJECT
public:
    static constexpr int IDD = 143;
    static constexpr int IDC_RULES = 1201;
    static constexpr int IDC_ADD = 1202;
    static constexpr int IDC_REMOVE = 1203;
    static constexpr int IDC_UP = 1204;
    static constexpr int IDC_DOWN = 1205;
    static constexpr int IDC_RULE_ERROR = 1206;
    static constexpr int IDC_TEST_NAME = 1207;
    static constexpr int IDC_TEST_RESULT = 1208;
    enum Column { kPattern = 0, kReplacement, kStop };
    // Longest pattern or replacement a cell takes.
    static constexpr int kMaxRuleText = 255;

    explicit CNameRulesPage(ServerSettings& settings);

    // The rules as the table holds them; rows with an empty pattern are none.
    std::vector<tftp::NameRule> Rules() const;
    // "Rule 2: missing closing parenthesis at offset 1" for the first rule
    // that cannot be used, with its row; empty when every rule can be used.
    QString FirstBadRule(int* row = nullptr) const;
    void FocusRule(int row);

protected:
    void OnInitDialog() override;
    void DoDataExchange(bool) override {}
    void OnOK() override;

private:
    void AddRule();
    void RemoveRule();
    void MoveRule(int by);
    void InsertRow(int row, const tftp::NameRule& rule);
    tftp::NameRule RuleAt(int row) const;
    // The buttons, the reason line and the test result, after any change.
    void Update();

    ServerSettings& settings_;
    QTableWidget* table_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    QLabel* error_ = nullptr;
    QLineEdit* testName_ = nullptr;
    QLabel* testResult_ = nullptr;
};
