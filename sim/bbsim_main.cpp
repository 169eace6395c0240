#include "sim/bbsim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <unistd.h>

static int g_sigpipe[2] = {-1, -1};

static void on_signal(int)
{
    const char c = 1;
    (void)!write(g_sigpipe[1], &c, 1);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zr450-bbsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Base-band board simulator for the ZR450 front-panel application"));
    parser.addHelpOption();
    QCommandLineOption rootOpt(QStringLiteral("sysroot"), QStringLiteral("System root to create and serve."), QStringLiteral("DIR"));
    parser.addOption(rootOpt);
    QCommandLineOption baudOpt(QStringLiteral("baud"), QStringLiteral("UART line rate (default 1152000)."), QStringLiteral("BITS"), QStringLiteral("1152000"));
    parser.addOption(baudOpt);
    parser.process(app);
    if (!parser.isSet(rootOpt)) {
        QTextStream(stderr) << "zr450-bbsim: --sysroot DIR is required\n";
        return 2;
    }

    // SIGINT/SIGTERM end the event loop cleanly so the control socket is removed.
    if (pipe(g_sigpipe) == 0) {
        signal(SIGINT, on_signal);
        signal(SIGTERM, on_signal);
        auto *sn = new QSocketNotifier(g_sigpipe[0], QSocketNotifier::Read, &app);
        QObject::connect(sn, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    }

    bool baudOk = false;
    const int baud = parser.value(baudOpt).toInt(&baudOk);
    if (!baudOk || baud < 1200 || baud > 20000000) {
        QTextStream(stderr) << "zr450-bbsim: --baud takes a line rate from 1200 to 20000000\n";
        return 2;
    }

    BbSim sim(parser.value(rootOpt));
    sim.setBaud(baud);
    if (!sim.start())
        return 1;
    QTextStream(stdout) << "zr450-bbsim: serving " << parser.value(rootOpt) << "\n";
    return app.exec();
}
