#include "ui/mainwidget.h"
#include "app/zlog.h"

#include <QApplication>
#include <QMetaType>
#include <QSocketNotifier>

#include <csignal>
#include <cstdint>
#include <unistd.h>

static int g_quitPipe[2] = {-1, -1};

static void on_terminate(int)
{
    const char c = 1;
    (void)!write(g_quitPipe[1], &c, 1);
}

// SIGTERM and SIGINT end the event loop, so the window and the radio link
// are torn down in order instead of the process dying mid-write.
static void install_quit_signals(QApplication &app)
{
    if (pipe(g_quitPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction sa = {};
    sa.sa_handler = on_terminate;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

int main(int argc, char *argv[])
{
    // The OpenGL panadapter shares its resources between contexts.
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("ZERIK"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("zerik-radio.com"));
    QCoreApplication::setApplicationName(QStringLiteral("ZR450 App"));

    // Signals and slots are declared with these names; the aliases let them
    // connect and queue across threads.
    qRegisterMetaType<int8_t>("int8_t");
    qRegisterMetaType<int16_t>("int16_t");
    qRegisterMetaType<int32_t>("int32_t");
    qRegisterMetaType<uint8_t>("uint8_t");
    qRegisterMetaType<uint16_t>("uint16_t");
    qRegisterMetaType<uint32_t>("uint32_t");

    debugMode = true;
    zlog_install();
    install_quit_signals(app);

    int rc;
    {
        MainWidget w;
        w.show();
        // Front-panel events go to the active window; without a window
        // manager (a bare X display) nothing else activates it.
        w.activateWindow();
        rc = app.exec();
    }
    return rc;
}
