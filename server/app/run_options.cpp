#include "run_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "common/tftp_packet.h"

#include <cstdio>

namespace {

void Print(std::FILE* to, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

int Usage(const QCommandLineParser& parser, const QString& why) {
    Print(stderr, QCoreApplication::applicationName() + QStringLiteral(": ") + why + QLatin1Char('\n') +
                      parser.helpText());
    return 2;
}

// Digits only, 1 to 65535.
bool ReadPort(const QString& text, std::string& port) {
    if (text.isEmpty() || text.size() > 5) return false;
    for (const QChar c : text)
        if (!c.isDigit() || c.unicode() > 0x7F) return false;
    const int value = text.toInt();
    if (value < 1 || value > 65535) return false;
    port = std::to_string(value);
    return true;
}

// An existing folder, as an absolute path ending with "/".
bool ReadFolder(const QString& text, std::string& folder, QString& why) {
    const QFileInfo info(text);
    if (text.isEmpty() || !info.exists()) {
        why = QStringLiteral("no such folder");
        return false;
    }
    if (!info.isDir()) {
        why = QStringLiteral("not a folder");
        return false;
    }
    QString path = QDir::cleanPath(info.absoluteFilePath());
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    folder = path.toStdString();
    return true;
}

// The rules of a rules file; why says what is wrong (the file, or its line).
bool ReadRulesFile(const QString& path, std::vector<tftp::NameRule>& rules, QString& why) {
    QFile file(path);
    if (QFileInfo(path).isDir()) {
        why = QStringLiteral("not a file: %1").arg(path);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.readAll();
    std::string error;
    if (!tftp::ParseRules(std::string_view(text.constData(), static_cast<std::size_t>(text.size())), rules, error)) {
        why = path + QStringLiteral(": ") + QString::fromStdString(error);
        return false;
    }
    if (rules.size() > static_cast<std::size_t>(ServerSettings::kMaxNameRules)) {
        why = QStringLiteral("%1: more than %2 rules").arg(path).arg(ServerSettings::kMaxNameRules);
        return false;
    }
    return true;
}

}  // namespace

void RunOverrides::ApplyTo(ServerSettings& settings) const {
    if (port) settings.Port = *port;
    if (outPath) settings.OutPath = *outPath;
    if (inPath) settings.InPath = *inPath;
    if (readOnly) settings.bRefuseUploads = 1;
    if (nameRules) settings.NameRules = *nameRules;
    if (portRange) {
        settings.nPortRangeLow = portRange->low;
        settings.nPortRangeHigh = portRange->high;
    }
    if (maxBlksize) settings.nMaxBlksize = *maxBlksize;
}

ServerSettings RunOverrides::ForStore(const ServerSettings& current, const ServerSettings& stored) const {
    ServerSettings out = current;
    if (port && out.Port == *port) out.Port = stored.Port;
    if (outPath && out.OutPath == *outPath) out.OutPath = stored.OutPath;
    if (inPath && out.InPath == *inPath) out.InPath = stored.InPath;
    if (readOnly && out.bRefuseUploads == 1) out.bRefuseUploads = stored.bRefuseUploads;
    if (nameRules && out.NameRules == *nameRules) out.NameRules = stored.NameRules;
    if (portRange && out.nPortRangeLow == portRange->low && out.nPortRangeHigh == portRange->high) {
        out.nPortRangeLow = stored.nPortRangeLow;
        out.nPortRangeHigh = stored.nPortRangeHigh;
    }
    if (maxBlksize && out.nMaxBlksize == *maxBlksize) out.nMaxBlksize = stored.nMaxBlksize;
    return out;
}

int ReadRunOptions(const QStringList& arguments, const QString& description, RunOverrides& overrides) {
    QCommandLineParser parser;
    parser.setApplicationDescription(description +
                                     QStringLiteral("\nThe options below hold for this run only; the stored "
                                                    "settings are not changed."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Listen on UDP port N (1 to 65535)."),
                                  QStringLiteral("N"));
    const QCommandLineOption outbound(QStringLiteral("outbound"),
                                      QStringLiteral("Serve read requests from folder DIR."), QStringLiteral("DIR"));
    const QCommandLineOption inbound(QStringLiteral("inbound"),
                                     QStringLiteral("Store write requests in folder DIR."), QStringLiteral("DIR"));
    const QCommandLineOption readOnly(QStringLiteral("read-only"),
                                      QStringLiteral("Refuse every upload (ERROR 2, Access violation)."));
    const QCommandLineOption remap(QStringLiteral("remap"),
                                   QStringLiteral("Rewrite requested names by the rules in FILE, one a line: "
                                                  "pattern<TAB>replacement[<TAB>stop]."),
                                   QStringLiteral("FILE"));
    parser.addOptions({port, outbound, inbound, readOnly, remap});
    const QCommandLineOption portRange(
        QStringLiteral("port-range"),
        QStringLiteral("Answer every transfer from a free UDP port of N to M (the listening port outside them)."),
        QStringLiteral("N:M"));
    const QCommandLineOption maxBlksize(QStringLiteral("max-blksize"),
                                        QStringLiteral("Answer a larger blksize with N (8 to 65464)."),
                                        QStringLiteral("N"));
    parser.addOption(portRange);
    parser.addOption(maxBlksize);

    if (!parser.parse(arguments)) return Usage(parser, parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return Usage(parser, QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        Print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, QCoreApplication::applicationName() + QLatin1Char(' ') +
                          QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return 0;
    }
    for (const QCommandLineOption* once : {&port, &outbound, &inbound, &remap})
        if (parser.values(*once).size() > 1)
            return Usage(parser, QStringLiteral("--%1 given more than once.").arg(once->names().first()));

    RunOverrides read;
    if (parser.isSet(port)) {
        std::string value;
        if (!ReadPort(parser.value(port), value))
            return Usage(parser, QStringLiteral("--port: '%1' is not a port number from 1 to 65535.")
                                     .arg(parser.value(port)));
        read.port = value;
    }
    const auto folder = [&](const QCommandLineOption& option, std::optional<std::string>& into) {
        if (!parser.isSet(option)) return true;
        std::string value;
        QString why;
        if (ReadFolder(parser.value(option), value, why)) {
            into = value;
            return true;
        }
        Print(stderr, QStringLiteral("%1: --%2: %3: %4\n")
                          .arg(QCoreApplication::applicationName(), option.names().first(), why,
                               parser.value(option)));
        return false;
    };
    if (!folder(outbound, read.outPath) || !folder(inbound, read.inPath)) return 2;
    for (const QCommandLineOption* once : {&portRange, &maxBlksize})
        if (parser.values(*once).size() > 1)
            return Usage(parser, QStringLiteral("--%1 given more than once.").arg(once->names().first()));
    if (parser.isSet(portRange)) {
        const QString text = parser.value(portRange);
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        const std::string low = colon < 0 ? text.toStdString() : text.left(colon).toStdString();
        const std::string high = colon < 0 ? std::string() : text.mid(colon + 1).toStdString();
        const int listening = read.port ? std::stoi(*read.port) : 0;
        tftp::PortRange range;
        const tftp::PortRangeCheck check = tftp::ReadPortRange(low, high, listening, range);
        if (check == tftp::PortRangeCheck::HoldsListeningPort)
            return Usage(parser, QStringLiteral("--port-range: %1 holds the listening port %2.").arg(text).arg(listening));
        if (check != tftp::PortRangeCheck::Fine || range.Empty())
            return Usage(parser, QStringLiteral("--port-range: '%1' is not N:M, two ports from 1 to 65535 with N "
                                                "not above M.")
                                     .arg(text));
        read.portRange = range;
    }
    if (parser.isSet(maxBlksize)) {
        std::string digits;
        const QString text = parser.value(maxBlksize);
        const bool number = ReadPort(text, digits);  // digits only, 1..65535
        const int size = number ? std::stoi(digits) : 0;
        if (size < tftp::kMinBlockSize || size > tftp::kMaxBlockSize)
            return Usage(parser, QStringLiteral("--max-blksize: '%1' is not a block size from 8 to 65464.").arg(text));
        read.maxBlksize = size;
    }
    read.readOnly = parser.isSet(readOnly);
    if (parser.isSet(remap)) {
        std::vector<tftp::NameRule> rules;
        QString why;
        if (!ReadRulesFile(parser.value(remap), rules, why)) {
            Print(stderr, QStringLiteral("%1: --remap: %2\n").arg(QCoreApplication::applicationName(), why));
            return 2;
        }
        read.nameRules = std::move(rules);
    }
    overrides = read;
    return -1;
}
