#include "command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

void Print(std::FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

}  // namespace

int HandleCommandLine(const QString& description) {
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString why = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                         .arg(parser.positionalArguments().first())
                                   : parser.errorText();
        Print(stderr, QCoreApplication::applicationName() + QStringLiteral(": ") + why +
                          QLatin1Char('\n') + parser.helpText());
        return 2;
    }
    if (parser.isSet(help)) {
        Print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                          QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return 0;
    }
    return -1;
}

int EarlyCommandLine(int argc, char** argv, const QString& name, const QString& version,
                     const QString& description) {
    if (argc != 2) return -1;
    static const char* const kAnswered[] = {"-h", "--help", "-?", "-v", "--version"};
    bool answered = false;
    for (const char* option : kAnswered) answered = answered || std::strcmp(argv[1], option) == 0;
    if (!answered) return -1;
    QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(version);
    return HandleCommandLine(description);
}

}  // namespace platform
