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
#include <QMenuBar>
#include <QProgressBar>
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

}  // namespace tests
