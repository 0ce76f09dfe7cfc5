// Both programs' command lines, run as the real programs: --help and
// --version answer and end without starting anything; anything else is
// refused with the usage and status 2.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

ProgramRun Start(const QString& program, const QStringList& args, bool display) {
    QTemporaryDir config;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A program that did start would write its settings here, not the user's.
    env.insert("XDG_CONFIG_HOME", config.path());
    if (!display) {
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
    }
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(config.path());
    process.start(program, args);
    ProgramRun run;
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(5000);
        return run;
    }
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

}  // namespace

TEST(CommandLine, AnswersHelpAndVersionAndRefusesTheRest) {
    struct Case {
        QString program;
        QStringList args;
        bool display;  // false: no display at all
        int status;
        QString outHas;
        QString errHas;
    };
    const QString vantrel = QStringLiteral(VANTREL_PATH);
    const QString skerry = QStringLiteral(SKERRY_PATH);
    const Case cases[] = {
        {vantrel, {"--version"}, false, 0, "Vantrel 1.0\n", ""},
        {vantrel, {"--help"}, false, 0, "Usage:", ""},
        {vantrel, {"-h"}, true, 0, "--version", ""},
        {vantrel, {"--help"}, false, 0, "--read-only", ""},
        {vantrel, {"--port", "0"}, false, 2, "", "--port: '0' is not a port number from 1 to 65535."},
        {vantrel, {"--inbound", "/no/such/folder"}, false, 2, "", "--inbound: no such folder: /no/such/folder"},
        {vantrel, {"--serve"}, true, 2, "", "Unknown option 'serve'."},
        {vantrel, {"stray"}, true, 2, "", "Unexpected argument 'stray'."},
        {skerry, {"--help"}, false, 0, "Skerry, a TFTP client with a window.", ""},
        {skerry, {"-v"}, false, 0, "Skerry 1.0\n", ""},
        {skerry, {"--version", "x"}, true, 2, "", "Usage:"},
        {skerry, {"-platform", "offscreen", "--version"}, true, 0, "Skerry 1.0\n", ""},
        {skerry, {"--get", "192.0.2.1"}, false, 2, "", "--get takes HOST[:PORT], a file"},
        {skerry, {"--put", "192.0.2.1:0", "a"}, false, 2, "", "is not HOST, HOST:PORT or [IPv6]:PORT"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = Start(c.program, c.args, c.display);
        const QString what = c.program.section('/', -1) + ' ' + c.args.join(' ');
        EXPECT_EQ(run.status, c.status) << what.toStdString() << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(c.outHas)) << what.toStdString() << ": " << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(c.errHas)) << what.toStdString() << ": " << run.err.toStdString();
        if (c.status == 2) {
            EXPECT_TRUE(run.out.isEmpty()) << what.toStdString();
        }
    }
}
