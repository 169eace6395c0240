// Start-up support: log line format and routing, the system layer's path
// mapping and command emulation, and the clock and time-zone helpers.
#include "tests/test_support.h"
#include "app/zlog.h"
#include "app/zqrc.h"
#include "app/zrmisc.h"
#include "app/zsystem.h"
#include "app/zutilites.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QProcess>
#include <QThread>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

static QString readAll(const QString &path)
{
    return ztest::readText(path);
}

static void writeFile(const QString &path, const QByteArray &data)
{
    QVERIFY(ztest::writeFile(path, data));
}

class TestApp : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    void setRoot(const QString &root) { ztest::setSysroot(root); }

private slots:
    void init()
    {
        QVERIFY(m_root.isValid());
        setRoot(m_root.path());
    }
    void cleanupTestCase()
    {
        setRoot(QString());
    }

    void logLinesAndRouting()
    {
        QTemporaryDir tmp;
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
        const QString path = zlog_file_path();
        QVERIFY(path.startsWith(tmp.path() + "/zr450-"));
        QVERIFY(QRegularExpression("/zr450-\\d{17}\\.log$").match(path).hasMatch());

        debugMode = true;
        zlog_install();
        const QString file = m_logFile->fileName();
        QVERIFY(m_logFile->isOpen());

        qDebug() << "plain-debug-goes-to-stderr";
        qWarning() << "plain-warning";
        qCDebug(logUdp) << "udp-debug";
        qCInfo(logSystem) << "system-info";
        qCCritical(logCivDevice) << "civ-critical";
        debugMode = false;
        qCDebug(logUdp) << "dropped-when-debug-off";
        debugMode = true;
        qInstallMessageHandler(nullptr);

        const QStringList lines = readAll(file).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
        for (const QString &l : lines)
            QVERIFY2(stamp.match(l).hasMatch(), qPrintable(l));
        QVERIFY(lines[0].endsWith("WRN default: plain-warning"));
        QVERIFY(lines[1].endsWith("DBG udp: udp-debug"));
        QVERIFY(lines[2].endsWith("INF system: system-info"));
        QVERIFY(lines[3].endsWith("CRT civdivice: civ-critical"));
        QVERIFY(!readAll(file).contains("plain-debug"));
        qunsetenv("TMPDIR");
    }

    void qssHelperCutsAtZero()
    {
        QTemporaryDir tmp;
        writeFile(tmp.path() + "/a.qss", QByteArray("QLabel{color:red;}\0garbage", 26));
        QCOMPARE(ZQRC::getQssFromQrcFile(tmp.path() + "/a.qss"), QString("QLabel{color:red;}"));
        QCOMPARE(ZQRC::getQssFromQrcFile(tmp.path() + "/missing.qss"), QString());
        QVERIFY(ZQRC::getQssFromQrcFile(":/zframe_style01.qss").contains("QPushButton"));
        QCOMPARE(ZQRC::getQssFromQrcFile(":/version"), QString("1.2.0"));
    }

    void pathMapping()
    {
        const QString r = m_root.path();
        QCOMPARE(zsys::path(QString("/dev/ttyS1")), r + "/dev/ttyS1");
        QCOMPARE(QString::fromStdString(zsys::path("/dev/i2c-0")), r + "/dev/i2c-0");
        QCOMPARE(zsys::path(QString("relative/file")), QString("relative/file"));
        // Mapping twice changes nothing.
        QCOMPARE(zsys::path(zsys::path(QString("/etc/profile"))), r + "/etc/profile");
        QCOMPARE(zsys::appDir(), r + "/app");
        QVERIFY(QFileInfo(r + "/app").isDir());

        setRoot(QString());
        QCOMPARE(zsys::path(QString("/dev/ttyS1")), QString("/dev/ttyS1"));
        QCOMPARE(zsys::sysroot(), QString());
    }

    void splitterHonoursShellQuoting()
    {
        const auto cmds = zsys::splitCommandLine("echo 'a b' \"c\\\"d\" e\\ f > /x; rm -f /y && date -s 12:00 2>/dev/null");
        QCOMPARE(cmds.size(), 3);
        QCOMPARE(cmds[0], QStringList({"echo", "a b", "c\"d", "e f", ">", "/x"}));
        QCOMPARE(cmds[1], QStringList({"rm", "-f", "/y"}));
        QCOMPARE(cmds[2], QStringList({"date", "-s", "12:00", "2>", "/dev/null"}));

        // Anything an operator may type survives quote() as one word.
        const QStringList nasty = {"", "plain", "it's", "a\"b", "$(reboot)", "`id`", "x; rm -rf /",
                                   "back\\slash", "new\nline", "'", "''", "tab\there", "*?[]{}~"};
        for (const QString &s : nasty) {
            const auto parsed = zsys::splitCommandLine("cmd " + zsys::quote(s));
            QCOMPARE(parsed.size(), 1);
            QCOMPARE(parsed[0].size(), 2);
            QCOMPARE(parsed[0][1], s);
        }
    }

    void quotedTextReachesRealShellUnchanged()
    {
        // Off the radio nothing runs; check the quoting with the real shell
        // on a harmless command instead.
        setRoot(QString());
        QTemporaryDir tmp;
        const QString out = tmp.path() + "/out";
        const QString text = "x'; touch " + tmp.path() + "/pwned; echo '$(id) `id` \"q\"";
        QCOMPARE(zsys::run("printf %s " + zsys::quote(text) + " > " + zsys::quote(out)), 0);
        QCOMPARE(readAll(out), text);
        QVERIFY(!QFile::exists(tmp.path() + "/pwned"));
    }

    void runnerLogsAndEmulates()
    {
        const QString r = m_root.path();
        writeFile(r + "/var/run/old.pid", "1\n");
        writeFile(r + "/app/voice/a.wav", "x");
        QCOMPARE(zsys::run("echo 7 > /sys/class/backlight/backlight/brightness"), 0);
        QCOMPARE(zsys::run("echo 203 > /sys/class/gpio/export; echo out > /sys/class/gpio/gpio203/direction"), 0);
        QCOMPARE(zsys::run("echo 1 > /sys/class/gpio/gpio203/value"), 0);
        QCOMPARE(zsys::run("rm -f /var/run/old.pid"), 0);
        QCOMPARE(zsys::run("rm -rf " + r + "/app/voice"), 0);
        QCOMPARE(zsys::run("rm -rf relative-dir /"), 0);
        QCOMPARE(zsys::run("/usr/share/support/wfserverd start"), 0);
        QCOMPARE(zsys::run("date -s 2024-03-15"), 0);

        QCOMPARE(readAll(r + "/sys/class/backlight/backlight/brightness"), QString("7\n"));
        QCOMPARE(readAll(r + "/sys/class/gpio/gpio203/direction"), QString("out\n"));
        QCOMPARE(readAll(r + "/sys/class/gpio/gpio203/value"), QString("1\n"));
        QVERIFY(!QFile::exists(r + "/var/run/old.pid"));
        QVERIFY(!QFileInfo::exists(r + "/app/voice"));
        QVERIFY(QFileInfo(r).isDir()); // "rm -rf /" never removes the root
        QVERIFY(QFile::exists(r + "/var/run/wfserver.pid"));
        QCOMPARE(zsys::run("/usr/share/support/wfserverd stop"), 0);
        QVERIFY(!QFile::exists(r + "/var/run/wfserver.pid"));

        const QStringList log = readAll(r + "/var/log/commands.log").split('\n', Qt::SkipEmptyParts);
        QCOMPARE(log.size(), 9);
        QCOMPARE(log[0], QString("echo 7 > /sys/class/backlight/backlight/brightness"));
        QCOMPARE(log[7], QString("date -s 2024-03-15"));
    }

    void poweroffEndsProcessWithZero()
    {
        for (const char *cmd : {"poweroff", "sync; reboot"}) {
            const pid_t pid = fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                zsys::run(QString::fromLatin1(cmd));
                _exit(3); // not reached when the emulation works
            }
            int status = 0;
            QCOMPARE(waitpid(pid, &status, 0), pid);
            QVERIFY(WIFEXITED(status));
            QCOMPARE(WEXITSTATUS(status), 0);
        }
    }

    void clockCommands()
    {
        const QString r = m_root.path();
        zrmisc_set_date(2024, 3, 5);
        zrmisc_set_time_min_sec(7, 9);
        const QStringList log = readAll(r + "/var/log/commands.log").split('\n', Qt::SkipEmptyParts);
        QCOMPARE(log.mid(log.size() - 6), QStringList({"date -s 2024-03-05", "hwclock -w -f /dev/rtc0",
                                                        "hwclock -w -f /dev/rtc1", "date -s 07:09",
                                                        "hwclock -w -f /dev/rtc0", "hwclock -w -f /dev/rtc1"}));
    }

    void utcOffset_data()
    {
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("line");
        QTest::newRow("east") << 3 << 0 << "export TZ=Etc/GMT+3";
        QTest::newRow("west") << -5 << 0 << "export TZ=Etc/GMT-5";
        QTest::newRow("zero") << 0 << 0 << "export TZ=Etc/GMT+0";
        QTest::newRow("max") << 12 << 0 << "export TZ=Etc/GMT+12";
        QTest::newRow("min") << -14 << 0 << "export TZ=Etc/GMT-14";
        QTest::newRow("too-high") << 13 << -EINVAL << "export TZ=Asia/Shanghai";
        QTest::newRow("too-low") << -15 << -EINVAL << "export TZ=Asia/Shanghai";
    }
    void utcOffset()
    {
        QFETCH(int, offset);
        QFETCH(int, rc);
        QFETCH(QString, line);
        const QString profile = m_root.path() + "/etc/profile";
        const QByteArray before = "# profile\nexport PATH=/bin\nexport TZ=Asia/Shanghai\nalias ll='ls -l'\n";
        writeFile(profile, before);
        QCOMPARE(zrmisc_set_utc_offset(offset), rc);
        const QString after = readAll(profile);
        QString expected = QString::fromUtf8(before);
        expected.replace("export TZ=Asia/Shanghai", line);
        QCOMPARE(after, expected);
        if (rc == 0)
            QCOMPARE(qgetenv("TZ"), line.mid(10).toLocal8Bit());
    }

    void utcOffsetBadProfiles()
    {
        const QString profile = m_root.path() + "/etc/profile";
        QFile::remove(profile);
        QCOMPARE(zrmisc_set_utc_offset(1), -ENOENT);
        writeFile(profile, "");
        QCOMPARE(zrmisc_set_utc_offset(1), -ENODATA);
        writeFile(profile, "export PATH=/bin\n");
        QCOMPARE(zrmisc_set_utc_offset(1), -ENOENT);
        QCOMPARE(readAll(profile), QString("export PATH=/bin\n"));
        // A read-only directory: the profile is left whole.
        writeFile(profile, "export TZ=UTC");
        QFile::setPermissions(m_root.path() + "/etc", QFile::ReadOwner | QFile::ExeOwner);
        if (::geteuid() != 0) {
            QVERIFY(zrmisc_set_utc_offset(2) < 0);
            QCOMPARE(readAll(profile), QString("export TZ=UTC"));
        }
        QFile::setPermissions(m_root.path() + "/etc", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(zrmisc_set_utc_offset(2), 0);
        QCOMPARE(readAll(profile), QString("export TZ=Etc/GMT+2"));
    }

    void autoFontSizeFits()
    {
        QFont f("DejaVu Sans", 30);
        const int size = ZUtilites::autoFontSize("A LONG LABEL TEXT", f, 120);
        QVERIFY(size < 30);
        f.setPointSize(size);
        if (size >= 8)
            QVERIFY(QFontMetrics(f).boundingRect("A LONG LABEL TEXT").width() * 1.05 < 118);
        QCOMPARE(ZUtilites::autoFontSize("X", QFont("DejaVu Sans", 12), 400), 12);
        QCOMPARE(ZUtilites::autoFontSize("WIDE TEXT", QFont("DejaVu Sans", 12), 3), 7);
    }

    // Emulated commands change nothing outside the system root, whatever
    // ".." a path carries.
    void emulationStaysInsideTheRoot()
    {
        QTemporaryDir top;
        QVERIFY(top.isValid());
        const QString r = top.path() + "/root";
        QVERIFY(QDir().mkpath(r + "/etc"));
        writeFile(top.path() + "/outside/keep.txt", "host file\n");
        setRoot(r);
        QCOMPARE(zsys::run("rm -rf /../outside"), 0);
        QCOMPARE(zsys::run("rm -f /etc/../../outside/keep.txt"), 0);
        QCOMPARE(zsys::run("echo x > /../outside/keep.txt"), 0);
        QCOMPARE(zsys::run("echo y > /../outside/new.txt"), 0);
        QCOMPARE(readAll(top.path() + "/outside/keep.txt"), QString("host file\n"));
        QVERIFY(!QFile::exists(top.path() + "/outside/new.txt"));
        // Inside the root ".." still works as a path does.
        QCOMPARE(zsys::run("echo 5 > /etc/../etc/x"), 0);
        QCOMPARE(readAll(r + "/etc/x"), QString("5\n"));
        QCOMPARE(zsys::run("rm -f /etc/./x"), 0);
        QVERIFY(!QFile::exists(r + "/etc/x"));
        QVERIFY(QFileInfo(r).isDir());
    }

    // "./zr run" stopped by Ctrl-C (SIGINT to its process group) or by a
    // SIGTERM to the script: the application ends normally (status 0), and
    // the simulator and the virtual display it started are gone too.
    void runScriptStopsEverythingItStarted_data()
    {
        QTest::addColumn<int>("sig");
        QTest::newRow("Ctrl-C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void runScriptStopsEverythingItStarted()
    {
        QFETCH(int, sig);
        QTemporaryDir sys;
        QVERIFY(sys.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("ZR450_SYSROOT"));
        env.insert(QStringLiteral("ZR450_BUILD"), QStringLiteral(ZR_BINARY_DIR));
        // The script configures the build it runs: keep it as it was made.
        const bool sanitized = readAll(QStringLiteral(ZR_BINARY_DIR "/CMakeCache.txt"))
                                   .contains(QLatin1String("ZR450_SANITIZE:BOOL=ON"));
        env.insert(QStringLiteral("ZR450_SANITIZE"), sanitized ? QStringLiteral("1") : QStringLiteral("0"));
        QProcess zr;
        zr.setProcessEnvironment(env);
        zr.setProcessChannelMode(QProcess::MergedChannels);
        // A session of its own, as a terminal gives it: its process group
        // is the script's pid.
        zr.start(QStringLiteral("setsid"),
                 {QStringLiteral("bash"), QStringLiteral(ZR_SOURCE_DIR "/zr"), QStringLiteral("run"),
                  QStringLiteral("--sysroot"), sys.path(), QStringLiteral("--offscreen")});
        QVERIFY(zr.waitForStarted(5000));
        const pid_t script = pid_t(zr.processId());

        // Up and running: the main window has logged its start.
        QElapsedTimer t;
        t.start();
        bool up = false;
        while (!up && t.elapsed() < 90000 && zr.state() == QProcess::Running) {
            zr.waitForReadyRead(200);
            QDirIterator it(sys.path() + "/tmp", {QStringLiteral("zr450-*.log")}, QDir::Files);
            while (it.hasNext())
                up = up || readAll(it.next()).contains(QLatin1String("Main window inited."));
        }
        QVERIFY2(up, zr.readAll().constData());
        QThread::msleep(500);

        // What the script started: the application, the simulator, Xvfb and
        // the system bus with the NetworkManager and BlueZ stand-ins (whose
        // bus daemon and stand-ins are its own children).
        QHash<pid_t, pid_t> parents;
        QDirIterator procs(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
        while (procs.hasNext()) {
            const QString dir = procs.next();
            const QString stat = readAll(dir + "/stat");
            const QStringList f = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
            if (f.size() > 2)
                parents.insert(pid_t(QFileInfo(dir).fileName().toInt()), pid_t(f.at(1).toInt()));
        }
        QList<pid_t> children = parents.keys(script);
        QCOMPARE(children.size(), 4);
        for (pid_t c : parents.keys(script))
            children += parents.keys(c);

        if (sig == SIGINT)
            QCOMPARE(::kill(-script, SIGINT), 0);
        else
            QCOMPARE(::kill(script, SIGTERM), 0);
        QVERIFY(zr.waitForFinished(30000));
        const QByteArray out = zr.readAll();
        QVERIFY2(out.contains("zr: application ended with status 0"), out.right(2000).constData());
        for (pid_t p : qAsConst(children)) {
            QTRY_VERIFY_WITH_TIMEOUT(::kill(p, 0) != 0 && errno == ESRCH, 5000);
        }
    }

    // A screenshot is only taken at the end of "--seconds N": asked for
    // without it, the script says so instead of silently writing nothing.
    void runScriptScreenshotNeedsSeconds()
    {
        QProcess zr;
        zr.setProcessChannelMode(QProcess::MergedChannels);
        zr.start(QStringLiteral("bash"), {QStringLiteral(ZR_SOURCE_DIR "/zr"), QStringLiteral("run"),
                                          QStringLiteral("--screenshot"), QStringLiteral("shot.png")});
        QVERIFY(zr.waitForFinished(10000));
        QCOMPARE(zr.exitCode(), 1);
        QVERIFY(zr.readAll().contains("--screenshot needs --seconds"));
    }
};

QTEST_MAIN(TestApp)
#include "test_app.moc"
