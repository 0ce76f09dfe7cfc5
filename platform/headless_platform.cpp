#include "headless_platform.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

QtMessageHandler previousHandler = nullptr;

void DropPluginNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (previousHandler) previousHandler(type, context, message);
}

}  // namespace

void QuietOffscreenNotices() {
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) return;
    QtMessageHandler previous = qInstallMessageHandler(DropPluginNotices);
    if (previous != DropPluginNotices) previousHandler = previous;
}

bool PrepareOffscreenFallback(int argc, char** argv) {
    if (Set("QT_QPA_PLATFORM")) return false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0) return false;
    std::string platforms;
    if (Set("WAYLAND_DISPLAY")) platforms += "wayland;";
    if (Set("DISPLAY")) platforms += "xcb;";
    // Qt tries the names in order and takes the first that starts.
    platforms += "offscreen";
    ::setenv("QT_QPA_PLATFORM", platforms.c_str(), 1);
    return true;
}

bool FellBackToOffscreen(bool prepared) {
    if (!prepared) return false;
    // Children (a help viewer, say) choose their platform afresh.
    ::unsetenv("QT_QPA_PLATFORM");
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

}  // namespace platform
