#include "desktop_identity.h"

#include <QFile>
#include <QGuiApplication>
#include <QIcon>

namespace platform {

void SetDesktopIdentity(const char* desktopId, const char* iconName) {
    QGuiApplication::setDesktopFileName(QString::fromLatin1(desktopId));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString file = QStringLiteral(":/icons/%1x%1/%2.png").arg(size).arg(QLatin1String(iconName));
        if (QFile::exists(file)) icon.addFile(file, QSize(size, size));
    }
    if (!icon.isNull()) QGuiApplication::setWindowIcon(icon);
}

}  // namespace platform
