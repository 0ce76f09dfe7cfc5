// Numeric ids on dialog controls and how to find a control by its id, so that
// readers and tests can find "edit 1006" or "list box 1034" by that number.
#pragma once

#include <QList>
#include <QVariant>
#include <QWidget>

namespace platform {

inline constexpr char kControlIdProperty[] = "controlId";

inline void SetControlId(QWidget* control, int id) {
    control->setProperty(kControlIdProperty, id);
    control->setObjectName(QStringLiteral("control%1").arg(id));
}

inline int ControlId(const QWidget* control) {
    const QVariant v = control->property(kControlIdProperty);
    return v.isValid() ? v.toInt() : 0;
}

// The first control of type T under root carrying id, or nullptr.
template <typename T>
T* FindControl(const QWidget* root, int id) {
    const QList<T*> all = root->findChildren<T*>();
    for (T* c : all)
        if (ControlId(c) == id) return c;
    return nullptr;
}

}  // namespace platform
