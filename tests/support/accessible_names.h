// Controls that a screen reader (or a UI test) could not name: what the
// accessibility layer reports as their name is empty.
#pragma once

#include "platform/control_ids.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStringList>
#include <QTabBar>
#include <QToolBar>
#include <QWidget>

namespace tests {

inline bool IsControl(const QWidget* w) {
    // Parts of another control (a combo box's edit, a tab bar's arrows, a
    // list's scroll bars, the overflow buttons of a menu bar or tool bar) are
    // named by it.
    for (const QWidget* up = w->parentWidget(); up; up = up->parentWidget())
        if (qobject_cast<const QComboBox*>(up) || qobject_cast<const QAbstractSpinBox*>(up) ||
            qobject_cast<const QTabBar*>(up) || qobject_cast<const QAbstractItemView*>(up) ||
            qobject_cast<const QMenuBar*>(up) || qobject_cast<const QToolBar*>(up))
            return false;
    if (qobject_cast<const QScrollBar*>(w)) return false;
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const QProgressBar*>(w) ||
           qobject_cast<const QAbstractItemView*>(w);
}

// Each unnamed control under root (shown or not) as "class id".
inline QStringList UnnamedControls(const QWidget* root) {
    QStringList unnamed;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!IsControl(w)) continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << QStringLiteral("%1 %2").arg(w->metaObject()->className()).arg(platform::ControlId(w));
    }
    return unnamed;
}

// Every name in root's accessibility tree (menus, menu items, tool buttons
// and tabs included) that still carries a mnemonic marker, the "&" of
// "&Start" or "S&tart", as "role: name". A real ampersand stands alone
// ("Threads & Logging") or doubled.
inline void CollectMarkedNames(QAccessibleInterface* node, QStringList& marked, int depth = 0) {
    if (!node || depth > 12) return;
    static const QRegularExpression marker(QStringLiteral("&[^&\\s]"));
    const QString name = QString(node->text(QAccessible::Name)).remove(QStringLiteral("&&"));
    if (name.contains(marker)) marked << QStringLiteral("role %1: %2").arg(int(node->role())).arg(name);
    for (int i = 0; i < node->childCount(); ++i) CollectMarkedNames(node->child(i), marked, depth + 1);
}

inline QStringList NamesWithMnemonics(const QWidget* root) {
    QStringList marked;
    CollectMarkedNames(QAccessible::queryAccessibleInterface(const_cast<QWidget*>(root)), marked);
    // Menus open later are windows of their own: walk them too.
    for (QMenu* menu : root->findChildren<QMenu*>())
        CollectMarkedNames(QAccessible::queryAccessibleInterface(menu), marked);
    return marked;
}

}  // namespace tests
