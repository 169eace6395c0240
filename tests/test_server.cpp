// Network server settings: the settings file as created, saved and reset,
// operator text that tries to break out of it, the status that follows the
// pid file, START/STOP through the command dialog, the start at power-up,
// and the real wfserver serving the radio's CI-V port.
#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "server/dialogwfserversetting.h"
#include "tests/widget_support.h"
#include "tests/test_support.h"
#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "ui/dialogcommandexec.h"
#include "ui/zkeyboard.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>
#include <QUdpSocket>
#include <QUuid>
#include <QtTest>

#include <memory>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char *const kKeys[] = {
    "General/AudioSystem", "Radios/1/AudioInput", "Radios/1/AudioOutput", "Radios/1/ForceRTSasPTT",
    "Radios/1/GUID", "Radios/1/RigCIVuInt", "Radios/1/RigName", "Radios/1/SerialPortBaud",
    "Radios/1/SerialPortRadio", "Radios/1/WaterfallFormat", "Radios/size", "Server/ServerAudioPort",
    "Server/ServerCivPort", "Server/ServerControlPort", "Server/ServerEnabled", "Server/Users/1/Password",
    "Server/Users/1/UserType", "Server/Users/1/Username", "Server/Users/size",
};

// The fixed defaults (GUID and password are checked apart).
const QList<QPair<QString, QString>> kDefaults = {
    { "AudioSystem", "0" }, { "Radios/1/AudioInput", "mixcapture" }, { "Radios/1/AudioOutput", "mixplayback" },
    { "Radios/1/ForceRTSasPTT", "false" }, { "Radios/1/RigCIVuInt", "0" }, { "Radios/1/RigName", "ZR450" },
    { "Radios/1/SerialPortBaud", "115200" }, { "Radios/1/SerialPortRadio", "ttyVirtual0" },
    { "Radios/1/WaterfallFormat", "1" }, { "Radios/size", "1" }, { "Server/ServerAudioPort", "50003" },
    { "Server/ServerCivPort", "50002" }, { "Server/ServerControlPort", "50001" }, { "Server/ServerEnabled", "true" },
    { "Server/Users/1/UserType", "0" }, { "Server/Users/1/Username", "user" }, { "Server/Users/size", "1" },
};

using ztest::sendKey;
using ztest::tapKey;
using ztest::turnKnob;

QStringList commandLog(const QString &root)
{
    return ztest::readText(root + "/var/log/commands.log").split('\n', Qt::SkipEmptyParts);
}

// Runs `body` once the dialog's modal loop is up and closes the dialog
// afterwards, on every way out of body.
void whileOpen(QDialog &dlg, const std::function<void()> &body)
{
    QTimer::singleShot(0, &dlg, [&]() {
        ztest::AtExit close([&]() { dlg.done(QDialog::Rejected); });
        body();
    });
    dlg.exec();
}

// A UDP port nobody uses on this machine right now.
int freeUdpPort()
{
    QUdpSocket s;
    if (!s.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return 0;
    return s.localPort();
}

bool udpPortBusy(int port)
{
    QUdpSocket s;
    return !s.bind(QHostAddress(QHostAddress::Any), quint16(port));
}

bool processGone(qint64 pid)
{
    if (kill(pid_t(pid), 0) != 0)
        return true;
    const QByteArray stat = ztest::readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const int close = stat.lastIndexOf(')');
    return close > 0 && close + 2 < stat.size() && stat.at(close + 2) == 'Z';
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private:
    QString settingsPath(const ztest::Sysroot &root) const { return root.path() + "/etc/zrradio/wfserver.ini"; }

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
    }

    // Opening the dialog without a settings file creates it with every key
    // of the table: the fixed defaults, a fresh braced GUID and a random
    // password shown in the PASSWORD edit. A second unit gets another GUID
    // and password.
    void missingSettingsFileIsCreatedWithEveryKey()
    {
        QStringList guids, passwords;
        for (int unit = 0; unit < 2; ++unit) {
            ztest::Sysroot root;
            ZParamAdmin store(nullptr);
            QVERIFY(!QFileInfo::exists(settingsPath(root)));
            DialogWfserverSetting dlg(nullptr, &store, 0, 0, 800, 480);
            QVERIFY(QFileInfo::exists(settingsPath(root)));

            QSettings s(settingsPath(root), QSettings::IniFormat);
            QStringList keys = s.allKeys();
            for (QString &k : keys)
                if (!k.contains('/'))
                    k.prepend("General/");
            QStringList expected;
            for (const char *k : kKeys)
                expected << QString::fromLatin1(k);
            keys.sort();
            expected.sort();
            QCOMPARE(keys, expected);
            for (const auto &kv : kDefaults)
                QCOMPARE(s.value(kv.first).toString(), kv.second);
            const QString guid = s.value("Radios/1/GUID").toString();
            QVERIFY2(guid.startsWith('{') && guid.endsWith('}') && !QUuid(guid).isNull(), qPrintable(guid));
            const QString password = s.value("Server/Users/1/Password").toString();
            QVERIFY2(password.size() >= 10 && password != "283", qPrintable(password));
            QVERIFY(QRegularExpression("^[A-Za-z0-9]+$").match(password).hasMatch());
            guids << guid;
            passwords << password;

            QCOMPARE(dlg.edit(DialogWfserverSetting::RigName)->text(), QString("ZR450"));
            QCOMPARE(dlg.edit(DialogWfserverSetting::UserName)->text(), QString("user"));
            QCOMPARE(dlg.edit(DialogWfserverSetting::Password)->text(), password);
            QCOMPARE(dlg.edit(DialogWfserverSetting::CtrlPort)->text(), QString("50001"));
            QCOMPARE(dlg.edit(DialogWfserverSetting::CivPort)->text(), QString("50002"));
            QCOMPARE(dlg.edit(DialogWfserverSetting::AudioPort)->text(), QString("50003"));
        }
        QVERIFY(guids[0] != guids[1]);
        QVERIFY(passwords[0] != passwords[1]);
    }

    // Passwords draw from the secure source: long enough, from the
    // unambiguous alphabet, and not repeating.
    void randomPasswordsDoNotRepeat()
    {
        QSet<QString> seen;
        for (int i = 0; i < 200; ++i) {
            const QString p = DialogWfserverSetting::randomPassword();
            QCOMPARE(p.size(), DialogWfserverSetting::kDefaultPasswordLength);
            QVERIFY2(!p.contains(QRegularExpression("[01OIl]")), qPrintable(p));
            seen.insert(p);
        }
        QCOMPARE(seen.size(), 200);
    }

    // SAVE writes what the operator typed, ports unchecked as text; an
    // empty edit (PASSWORD) keeps the stored value, which the edit then
    // shows again. DEFAULT removes the file through the command runner and
    // writes a new one: two DEFAULTs, two GUIDs and two passwords.
    void saveAndDefault()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        DialogWfserverSetting dlg(nullptr, &store, 0, 0, 800, 480);
        whileOpen(dlg, [&]() {
            QSettings before(settingsPath(root), QSettings::IniFormat);
            const QString stored = before.value("Server/Users/1/Password").toString();
            dlg.edit(DialogWfserverSetting::RigName)->setText("MY RIG");
            dlg.edit(DialogWfserverSetting::UserName)->setText("op");
            dlg.edit(DialogWfserverSetting::CtrlPort)->setText("99999x");
            // The knob to PASSWORD, CLEAR (F3) empties it, SAVE (F4).
            turnKnob(&dlg, -1);
            turnKnob(&dlg, -1);
            QCOMPARE(dlg.currentField(), int(DialogWfserverSetting::Password));
            tapKey(&dlg, Qt::Key_F3);
            QVERIFY(dlg.edit(DialogWfserverSetting::Password)->text().isEmpty());
            tapKey(&dlg, Qt::Key_F4);

            QSettings after(settingsPath(root), QSettings::IniFormat);
            QCOMPARE(after.value("Radios/1/RigName").toString(), QString("MY RIG"));
            QCOMPARE(after.value("Server/Users/1/Username").toString(), QString("op"));
            QCOMPARE(after.value("Server/ServerControlPort").toString(), QString("99999x"));
            QCOMPARE(after.value("Server/Users/1/Password").toString(), stored);
            QCOMPARE(dlg.edit(DialogWfserverSetting::Password)->text(), stored);

            QStringList guids { after.value("Radios/1/GUID").toString() };
            QStringList passwords { stored };
            for (int i = 0; i < 2; ++i) {
                tapKey(&dlg, Qt::Key_F2);
                QSettings s(settingsPath(root), QSettings::IniFormat);
                guids << s.value("Radios/1/GUID").toString();
                passwords << s.value("Server/Users/1/Password").toString();
                QCOMPARE(s.value("Radios/1/RigName").toString(), QString("ZR450"));
                QCOMPARE(s.value("Server/ServerControlPort").toString(), QString("50001"));
                QCOMPARE(dlg.edit(DialogWfserverSetting::Password)->text(), passwords.last());
                QCOMPARE(dlg.edit(DialogWfserverSetting::RigName)->text(), QString("ZR450"));
            }
            QCOMPARE(QSet<QString>(guids.begin(), guids.end()).size(), 3);
            QCOMPARE(QSet<QString>(passwords.begin(), passwords.end()).size(), 3);
            const QStringList log = commandLog(root.path());
            QCOMPARE(log.count("rm /etc/zrradio/wfserver.ini"), 2);
            QCOMPARE(log.count("sync"), 2);
        });
    }

    // Text typed on the keyboard that looks like INI structure, shell code
    // or QSettings' own markers comes back exactly as typed and changes no
    // other key; none of it reaches a command.
    void hostileOperatorTextStaysOneValue_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("new section") << "x\n[Server]\nServerEnabled=false\nUsers\\1\\Password=1";
        QTest::newRow("shell") << "'; reboot; echo \"$(rm -rf /)\" `id` #";
        QTest::newRow("variant marker") << "@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x18)";
        QTest::newRow("list") << "a, b, \"c\"";
        QTest::newRow("key syntax") << "=;#[]\\/%20\t\r";
        QTest::newRow("unicode") << QString::fromUtf8("Funk\xc3\xa4r \xe2\x80\xae\xf0\x9f\x93\xbb");
    }

    void hostileOperatorTextStaysOneValue()
    {
        QFETCH(QString, text);
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        DialogWfserverSetting dlg(nullptr, &store, 0, 0, 800, 480);
        whileOpen(dlg, [&]() {
            for (int f : { DialogWfserverSetting::RigName, DialogWfserverSetting::UserName,
                           DialogWfserverSetting::Password })
                dlg.edit(f)->setText(text);
            tapKey(&dlg, Qt::Key_F4);
        });
        QSettings s(settingsPath(root), QSettings::IniFormat);
        QCOMPARE(s.value("Radios/1/RigName").toString(), text);
        QCOMPARE(s.value("Server/Users/1/Username").toString(), text);
        QCOMPARE(s.value("Server/Users/1/Password").toString(), text);
        QCOMPARE(s.value("Server/ServerEnabled").toString(), QString("true"));
        QCOMPARE(s.value("Server/Users/size").toString(), QString("1"));
        QCOMPARE(s.value("Radios/size").toString(), QString("1"));
        QCOMPARE(s.allKeys().size(), int(sizeof(kKeys) / sizeof(kKeys[0])));
        for (const QString &line : commandLog(root.path()))
            QVERIFY2(!line.contains("reboot") && !line.contains("Server"), qPrintable(line));
    }

    // Releasing Enter opens the on-screen keyboard on the current edit:
    // text for the names and the password, numeric for the ports; the knob
    // walks the edits, wrapping at both ends. What is typed lands in the
    // edit; a cancelled keyboard leaves it as it was.
    void enterOpensTheKeyboardOfTheEditsType()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        DialogWfserverSetting dlg(nullptr, &store, 0, 0, 800, 480);
        whileOpen(dlg, [&]() {
            QCOMPARE(dlg.currentField(), 0);
            turnKnob(&dlg, 1);
            QCOMPARE(dlg.currentField(), int(DialogWfserverSetting::AudioPort));
            turnKnob(&dlg, -1);
            QCOMPARE(dlg.currentField(), 0);
            for (int f = 0; f < DialogWfserverSetting::FieldCount; ++f) {
                if (f > 0)
                    turnKnob(&dlg, -1);
                QCOMPARE(dlg.currentField(), f);
                int type = 0;
                QWidget *target = nullptr;
                bool seen = false;
                QTimer probe;
                connect(&probe, &QTimer::timeout, [&]() {
                    if (auto *k = qobject_cast<ZKeyboard *>(QApplication::activeModalWidget())) {
                        probe.stop();
                        seen = true;
                        type = k->type();
                        target = k->target();
                        if (f == DialogWfserverSetting::RigName) {
                            QLineEdit *e = dlg.edit(f);
                            e->setText(e->text() + "-2");
                            k->accept();
                        } else {
                            k->reject();
                        }
                    }
                });
                probe.start(10);
                QKeyEvent press(QEvent::KeyPress, Qt::Key_Enter, Qt::NoModifier);
                QCoreApplication::sendEvent(&dlg, &press);
                QKeyEvent release(QEvent::KeyRelease, Qt::Key_Enter, Qt::NoModifier);
                QCoreApplication::sendEvent(&dlg, &release);
                QVERIFY(seen);
                QCOMPARE(target, static_cast<QWidget *>(dlg.edit(f)));
                QCOMPARE(type, f < DialogWfserverSetting::CtrlPort ? int(ZKeyboard::Text) : int(ZKeyboard::Numeric));
            }
            QCOMPARE(dlg.edit(DialogWfserverSetting::RigName)->text(), QString("ZR450-2"));
            QCOMPARE(dlg.edit(DialogWfserverSetting::UserName)->text(), QString("user"));
        });
    }

    // The title and the first button follow the pid file while the dialog
    // is open: the 1 s status timer notices a pid file removed by hand.
    void statusFollowsThePidFile()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        const QString pid = root.path() + "/var/run/wfserver.pid";
        QVERIFY(ztest::writeFile(pid, "1234\n"));
        DialogWfserverSetting dlg(nullptr, &store, 0, 0, 800, 480);
        whileOpen(dlg, [&]() {
            QCOMPARE(dlg.titleLabel()->text(), QString(" WFSERVER SETTING (server running)"));
            QCOMPARE(dlg.functionButton(0)->text(), QString("STOP"));
            QVERIFY(dlg.statusTimer()->isActive());
            QCOMPARE(dlg.statusTimer()->interval(), 1000);
            QVERIFY(QFile::remove(pid));
            QTRY_COMPARE_WITH_TIMEOUT(dlg.titleLabel()->text(), QString(" WFSERVER SETTING (server stopped)"), 5000);
            QCOMPARE(dlg.functionButton(0)->text(), QString("START"));
            QVERIFY(ztest::writeFile(pid, "1234\n"));
            QTRY_COMPARE_WITH_TIMEOUT(dlg.functionButton(0)->text(), QString("STOP"), 5000);
            QFile::remove(pid);
        });
        QVERIFY(!dlg.statusTimer()->isActive());
    }

    // START and STOP run the service script through the "Please Wait"
    // dialog, which closes itself; "wfserver_enable" follows. EXIT (F5)
    // closes the dialog.
    void startAndStopThroughTheCommandDialog()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        DialogWfserverSetting dlg(nullptr, &store, 0, 0, 800, 480);
        // Ports of our own, in case a real server comes up.
        dlg.edit(DialogWfserverSetting::CtrlPort)->setText(QString::number(freeUdpPort()));
        dlg.edit(DialogWfserverSetting::CivPort)->setText(QString::number(freeUdpPort()));
        dlg.edit(DialogWfserverSetting::AudioPort)->setText(QString::number(freeUdpPort()));
        dlg.parseSetting(true);
        bool sawWait = false;
        int rc = -1;
        QTimer::singleShot(0, &dlg, [&]() {
            ztest::AtExit close([&]() { if (dlg.isVisible()) dlg.done(QDialog::Rejected); });
            QTimer probe;
            connect(&probe, &QTimer::timeout, [&]() {
                if (qobject_cast<DialogCommandExec *>(QApplication::activeModalWidget()))
                    sawWait = true;
            });
            probe.start(20);
            tapKey(&dlg, Qt::Key_F1);
            QVERIFY(sawWait);
            QVERIFY(!qobject_cast<DialogCommandExec *>(QApplication::activeModalWidget()));
            QVERIFY(QFileInfo::exists(root.path() + "/var/run/wfserver.pid"));
            QCOMPARE(dlg.titleLabel()->text(), QString(" WFSERVER SETTING (server running)"));
            QCOMPARE(dlg.functionButton(0)->text(), QString("STOP"));
            QCOMPARE(store.paramItem("wparam", "wfserver_enable").value.toInt(), 1);

            sawWait = false;
            tapKey(&dlg, Qt::Key_F1);
            QVERIFY(sawWait);
            QVERIFY(!QFileInfo::exists(root.path() + "/var/run/wfserver.pid"));
            QCOMPARE(dlg.functionButton(0)->text(), QString("START"));
            QCOMPARE(store.paramItem("wparam", "wfserver_enable").value.toInt(), 0);
            tapKey(&dlg, Qt::Key_F5);
            QVERIFY(!dlg.isVisible());
        });
        rc = dlg.exec();
        Q_UNUSED(rc);
        const QStringList log = commandLog(root.path());
        QCOMPARE(log.filter("wfserverd").join('|'),
                 QString("/usr/share/support/wfserverd start|/usr/share/support/wfserverd stop"));
    }

    // Power-up: only with "wfserver_enable" set, and then every time, even
    // when the server still runs; a missing settings file is created first.
    void startAtPowerUp()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        QVERIFY(!DialogWfserverSetting::startAtPowerUp(&store));
        QVERIFY(commandLog(root.path()).isEmpty());
        QVERIFY(!DialogWfserverSetting::startAtPowerUp(nullptr));
        store.setParamItem("wparam", "wfserver_enable", 1);
        // No real server on the default ports here: the pid file alone.
        QVERIFY(ztest::writeFile(root.path() + "/var/run/wfserver.pid", "1\n"));
        QVERIFY(DialogWfserverSetting::startAtPowerUp(&store));
        QVERIFY(DialogWfserverSetting::startAtPowerUp(&store));
        QCOMPARE(commandLog(root.path()).count("/usr/share/support/wfserverd start"), 2);
        QVERIFY(QFileInfo::exists(settingsPath(root)));
        zsys::run("/usr/share/support/wfserverd stop");
    }

    // A pid file left over from another run may name any process of the
    // host: the emulated script signals it only when it is a wfserver, and
    // a start then does not take the stale file for a running server.
    void stalePidFileNeverSignalsAnotherProcess()
    {
        ztest::Sysroot root;
        QProcess other;
        other.start("sleep", { "30" });
        QVERIFY(other.waitForStarted());
        ztest::AtExit end([&]() { other.kill(); other.waitForFinished(); });
        const QString pidFile = root.path() + "/var/run/wfserver.pid";
        QVERIFY(ztest::writeFile(pidFile, QByteArray::number(other.processId()) + "\n"));
        QCOMPARE(zsys::run("/usr/share/support/wfserverd stop"), 0);
        QVERIFY(!QFileInfo::exists(pidFile));
        QCOMPARE(other.state(), QProcess::Running);
        QVERIFY(ztest::writeFile(pidFile, QByteArray::number(other.processId()) + "\n"));
        QCOMPARE(zsys::run("/usr/share/support/wfserverd start"), 0);
        QVERIFY(ztest::readText(pidFile).trimmed().toLongLong() != other.processId());
        QCOMPARE(zsys::run("/usr/share/support/wfserverd stop"), 0);
        QCOMPARE(other.state(), QProcess::Running);
    }

    // The real server: START in the dialog runs wfserver on the radio's
    // network port "ttyVirtual0", which the CI-V loop publishes; wfserver
    // finds the radio at CI-V address A4h and serves the dialog's ports.
    // STOP ends it.
    void realServerFindsTheRadio()
    {
        if (!QFileInfo(QStringLiteral("/usr/bin/wfserver")).isExecutable())
            QSKIP("wfserver (Debian package wfview) is not installed");
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        // The simulator makes the device directory on a desktop.
        QVERIFY(QDir().mkpath(root.path() + "/dev"));
        std::unique_ptr<CivDeviceAdmin> civ(new CivDeviceAdmin(nullptr));
        civ->device()->setParams(&store, QStringLiteral("/dev/ttyS2"), B19200);
        emit civ->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(root.path() + "/dev/ttyVirtual0").isSymLink(), 5000);

        DialogWfserverSetting dlg(nullptr, &store, 0, 0, 800, 480);
        const int ctrl = freeUdpPort();
        dlg.edit(DialogWfserverSetting::CtrlPort)->setText(QString::number(ctrl));
        dlg.edit(DialogWfserverSetting::CivPort)->setText(QString::number(freeUdpPort()));
        dlg.edit(DialogWfserverSetting::AudioPort)->setText(QString::number(freeUdpPort()));
        dlg.parseSetting(true);
        qint64 pid = 0;
        ztest::AtExit stopServer([&]() { zsys::run("/usr/share/support/wfserverd stop"); });
        whileOpen(dlg, [&]() {
            tapKey(&dlg, Qt::Key_F1);
            QCOMPARE(dlg.titleLabel()->text(), QString(" WFSERVER SETTING (server running)"));
            pid = ztest::readText(root.path() + "/var/run/wfserver.pid").trimmed().toLongLong();
            QVERIFY(pid > 1);
            QVERIFY(!processGone(pid));
            const QString log = root.path() + "/var/log/wfserver.log";
            QTRY_VERIFY_WITH_TIMEOUT(ztest::readText(log).contains(root.path() + "/dev/ttyVirtual0"), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ztest::readText(log).contains(QRegularExpression("incomingCIVAddr.*0xa4")), 15000);
            QTRY_VERIFY_WITH_TIMEOUT(udpPortBusy(ctrl), 10000);

            tapKey(&dlg, Qt::Key_F1);
            QCOMPARE(dlg.titleLabel()->text(), QString(" WFSERVER SETTING (server stopped)"));
            QVERIFY(processGone(pid));
            QVERIFY(!QFileInfo::exists(root.path() + "/var/run/wfserver.pid"));
        });
        if (QTest::currentTestFailed())
            qWarning().noquote() << ztest::readText(root.path() + "/var/log/wfserver.log").right(3000);
        civ.reset();
    }
};

QTEST_MAIN(TestServer)
#include "test_server.moc"
