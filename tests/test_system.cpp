// The system settings menu as the operator works it (touch, knob, Enter,
// F-keys), the time setting's fields and knob arithmetic, the clock and
// zone commands it leaves, the factory reset's arming and its run against
// the real simulator, the system information text and the "Please Wait"
// command dialog; every screen laid out within 800 x 480.
#include "tests/widget_support.h"
#include "tests/test_support.h"
#include "app/zqrc.h"
#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "server/dialogwfserversetting.h"
#include "ui/dialogcommandexec.h"
#include "ui/dialogfactoryreset.h"
#include "ui/dialogsysteminfo.h"
#include "ui/dialogtimesetting.h"
#include "ui/zradiosystemsetting.h"
#include "ui/zkeyboard.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

using ztest::sendKey;
using ztest::tapKey;
using ztest::turnKnob;

QStringList commandLog(const QString &root)
{
    return ztest::readText(root + "/var/log/commands.log").split('\n', Qt::SkipEmptyParts);
}

// Runs body once dlg's modal loop is up; dlg is closed afterwards on every
// way out of body.
void whileOpen(QDialog &dlg, const std::function<void()> &body)
{
    QTimer::singleShot(0, &dlg, [&]() {
        ztest::AtExit close([&]() {
            if (dlg.isVisible())
                dlg.done(QDialog::Rejected);
        });
        body();
    });
    dlg.exec();
}

// Watches for a modal dialog of type T while it lives and hands the first
// one to `body` while it is up (body should close it).
template <class T>
class ModalWatch
{
public:
    explicit ModalWatch(std::function<void(T *)> body)
        : m_body(std::move(body))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            if (T *d = qobject_cast<T *>(QApplication::activeModalWidget())) {
                m_timer.stop();
                seen = true;
                m_body(d);
            }
        });
        m_timer.start();
    }
    bool seen = false;

private:
    std::function<void(T *)> m_body;
    QTimer m_timer;
};

// Children of w that are laid out outside it or over a sibling.
QStringList layoutFaults(QWidget *top)
{
    QStringList faults;
    const QList<QWidget *> all = top->findChildren<QWidget *>();
    for (QWidget *w : all) {
        if (!w->isVisibleTo(top) || w->isWindow())
            continue;
        const QRect g(w->mapTo(top, QPoint(0, 0)), w->size());
        if (!top->rect().contains(g))
            faults << QStringLiteral("%1 outside %2").arg(w->objectName(), QString::number(g.bottom()));
        if (auto *l = qobject_cast<QLabel *>(w)) {
            if (!l->text().isEmpty() && !l->wordWrap() && l->sizeHint().width() > l->width() + 1)
                faults << QStringLiteral("label \"%1\" clipped").arg(l->text());
        }
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            const QSize need = b->fontMetrics().size(0, b->text());
            if (need.width() > b->width() || need.height() > b->height())
                faults << QStringLiteral("button \"%1\" clipped").arg(b->text());
        }
        for (QWidget *s : all) {
            if (s == w || s->parentWidget() != w->parentWidget() || !s->isVisibleTo(top) || s->isWindow())
                continue;
            if (w->geometry().intersects(s->geometry()))
                faults << QStringLiteral("%1 overlaps %2").arg(w->objectName(), s->objectName());
        }
    }
    faults.removeDuplicates();
    return faults;
}

// A picture of the screen for a person to look at, when asked for.
void shoot(QWidget *w, const QString &name)
{
    const QString dir = qEnvironmentVariable("ZR450_TEST_SHOTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    w->grab().save(dir + "/" + name + ".png");
}

} // namespace

class TestSystem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
    }

    // ---- the menu ----

    // Eleven entries fill rows 0 to 2 of five, the middle row blank, with
    // the function keys " ", " ", " ", " ", "EXIT"; the knob one step back
    // from the first entry selects "FACTORY\nRESET" and forward again the
    // first; F5 closes the menu.
    void menuLayoutAndKnob()
    {
        ztest::Sysroot root;
        ZRadioSystemSetting menu(nullptr, nullptr, 0, 0, 800, 480);
        menu.setupMainMenu();
        QCOMPARE(menu.titleLabel()->text(), QString(" SYSTEM SETTING"));
        QCOMPARE(menu.menuButtons().size(), 11);
        for (int i = 0; i < 11; ++i) {
            QPushButton *b = menu.menuButtons().at(i);
            QCOMPARE(b->text(), ZRadioSystemSetting::mainMenuEntries().at(i));
            QCOMPARE(b->objectName(), QString::asprintf("PushButton_%02d", i));
            int r, c, rs, cs;
            menu.menuLayout()->getItemPosition(menu.menuLayout()->indexOf(b), &r, &c, &rs, &cs);
            QCOMPARE(r, i / 5);
            QCOMPARE(c, i % 5);
        }
        QStringList labels;
        for (int i = 0; i < menu.functionButtonCount(); ++i)
            labels << menu.functionButton(i)->text();
        QCOMPARE(labels, QStringList({ " ", " ", " ", " ", "EXIT" }));
        QCOMPARE(menu.exitKey(), int(Qt::Key_F5));

        menu.show();
        QApplication::setActiveWindow(&menu);
        QCOMPARE(menu.selectedIndex(), 0);
        turnKnob(&menu, 1);
        QCOMPARE(menu.selectedIndex(), 10);
        QCOMPARE(menu.menuButtons().at(10)->text(), QString("FACTORY\nRESET"));
        QCOMPARE(menu.focusWidget(), menu.menuButtons().at(10));
        turnKnob(&menu, -1);
        QCOMPARE(menu.selectedIndex(), 0);
        turnKnob(&menu, -1);
        turnKnob(&menu, -1);
        QCOMPARE(menu.selectedIndex(), 2);
        turnKnob(&menu, 0);
        QCOMPARE(menu.selectedIndex(), 2);
        QVERIFY(layoutFaults(&menu).isEmpty());
        shoot(&menu, "system-menu");
        tapKey(&menu, Qt::Key_F5);
        QVERIFY(!menu.isVisible());
    }

    // Blank entries, and the three entries whose screens are plugged in
    // from outside while none is, do nothing; a plugged-in screen opens
    // over the menu's area on touch and on Enter (pressed down, then
    // clicked on release).
    void blankAndPluggedEntries()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        ZRadioSystemSetting menu(nullptr, &store, 0, 0, 800, 480);
        menu.setupMainMenu();
        menu.show();
        const QStringList before = commandLog(root.path());
        for (int i : { 2, 3, 4, 6, 7, 8, 9 }) {
            ModalWatch<QDialog> watch([](QDialog *d) { d->reject(); });
            menu.menuButtons().at(i)->click();
            QTest::qWait(50);
            QVERIFY2(!watch.seen, qPrintable(menu.menuButtons().at(i)->text()));
        }
        QCOMPARE(commandLog(root.path()), before);

        QStringList calls;
        QRect area;
        for (auto s : { ZRadioSystemSetting::FirmwareUpgrade, ZRadioSystemSetting::Wlan,
                        ZRadioSystemSetting::Bluetooth })
            menu.setOpener(s, [&calls, &area, s](ZRadioSystemSetting *, const QRect &r) {
                calls << QString::number(int(s));
                area = r;
            });
        menu.menuButtons().at(2)->click();
        QCOMPARE(calls, QStringList({ "0" }));
        QCOMPARE(area, menu.geometry());
        turnKnob(&menu, -1); // from the entry clicked to "WLAN"
        sendKey(&menu, QEvent::KeyPress, Qt::Key_Enter);
        QVERIFY(menu.menuButtons().at(3)->isDown());
        QCOMPARE(calls.size(), 1);
        sendKey(&menu, QEvent::KeyRelease, Qt::Key_Enter);
        QVERIFY(!menu.menuButtons().at(3)->isDown());
        QCOMPARE(calls, QStringList({ "0", "1" }));
        menu.menuButtons().at(4)->click();
        QCOMPARE(calls, QStringList({ "0", "1", "2" }));
        menu.menuButtons().at(6)->click();
        QCOMPARE(calls.size(), 3);
    }

    // "TIME": the dialog opens with the stored server names; accepting
    // with changed names stores them (and sets the clock), cancelling
    // stores nothing and sets no clock.
    void timeEntryStoresServerNamesOnAccept()
    {
        ztest::Sysroot root;
        root.writeFile("/etc/profile", "export TZ=Etc/GMT+0\n");
        ZParamAdmin store(nullptr);
        store.setParamItem("wparam", "text_ntp_server1", "a.example");
        store.setParamItem("wparam", "text_ntp_server2", "b.example");
        ZRadioSystemSetting menu(nullptr, &store, 0, 0, 800, 480);
        menu.setupMainMenu();
        menu.show();

        QStringList shown;
        {
            ModalWatch<DialogTimeSetting> watch([&](DialogTimeSetting *d) {
                shown << d->ntpServer(0) << d->ntpServer(1);
                d->setNtpServer(0, "x.example");
                d->setNtpServer(1, "");
                d->cancelButton()->click();
            });
            menu.menuButtons().at(0)->click();
            QVERIFY(watch.seen);
        }
        QCOMPARE(shown, QStringList({ "a.example", "b.example" }));
        QCOMPARE(store.paramItem("wparam", "text_ntp_server1").value.toString(), QString("a.example"));
        QCOMPARE(store.paramItem("wparam", "text_ntp_server2").value.toString(), QString("b.example"));
        QVERIFY(commandLog(root.path()).filter("date").isEmpty());

        {
            ModalWatch<DialogTimeSetting> watch([&](DialogTimeSetting *d) {
                d->setNtpServer(0, "x.example");
                d->setNtpServer(1, "");
                d->okButton()->click();
            });
            menu.menuButtons().at(0)->click();
            QVERIFY(watch.seen);
        }
        QCOMPARE(store.paramItem("wparam", "text_ntp_server1").value.toString(), QString("x.example"));
        QCOMPARE(store.paramItem("wparam", "text_ntp_server2").value.toString(), QString(""));
        QCOMPARE(commandLog(root.path()).filter("date -s").size(), 1);
    }

    // "INFO", "RESET" and "WFSERVER" open their screens over the menu,
    // modally, the size of the menu.
    void menuOpensItsScreens_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("cls");
        QTest::newRow("system info") << 1 << "DialogSystemInfo";
        QTest::newRow("wfserver") << 5 << "DialogWfserverSetting";
        QTest::newRow("factory reset") << 10 << "DialogFactoryReset";
    }

    void menuOpensItsScreens()
    {
        QFETCH(int, entry);
        QFETCH(QString, cls);
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        ZRadioSystemSetting menu(nullptr, &store, 0, 0, 800, 480);
        menu.setupMainMenu();
        menu.show();
        QString seen;
        QRect geometry;
        ModalWatch<QDialog> watch([&](QDialog *d) {
            seen = QString::fromLatin1(d->metaObject()->className());
            geometry = d->geometry();
            d->reject();
        });
        menu.menuButtons().at(entry)->click();
        QVERIFY(watch.seen);
        QCOMPARE(seen, cls);
        QCOMPARE(geometry, menu.geometry());
    }

    // ---- time setting ----

    // The offset the dialog shows for the environment's TZ: "Etc/GMT" names
    // count west, so Etc/GMT-8 is +8; beyond the knob's range it wraps like
    // the knob; a named zone or no TZ keeps the clock's own offset.
    void offsetFromTz_data()
    {
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<int>("shown");
        QTest::newRow("east") << QByteArray("Etc/GMT-8") << 8;
        QTest::newRow("west") << QByteArray("Etc/GMT+5") << -5;
        QTest::newRow("utc") << QByteArray("Etc/GMT") << 0;
        QTest::newRow("utc+0") << QByteArray("Etc/GMT+0") << 0;
        QTest::newRow("furthest east") << QByteArray("Etc/GMT-14") << 14;
        QTest::newRow("furthest west") << QByteArray("Etc/GMT+12") << -12;
        QTest::newRow("past west wraps") << QByteArray("Etc/GMT+13") << 14;
        QTest::newRow("past east wraps") << QByteArray("Etc/GMT-15") << -12;
        QTest::newRow("leading colon") << QByteArray(":Etc/GMT-3") << 3;
        QTest::newRow("named zone") << QByteArray("Asia/Shanghai") << 99;
        QTest::newRow("unset") << QByteArray() << 99;
        QTest::newRow("garbage after") << QByteArray("Etc/GMT-x") << 99;
    }

    void offsetFromTz()
    {
        QFETCH(QByteArray, tz);
        QFETCH(int, shown);
        QCOMPARE(DialogTimeSetting::offsetFromTz(tz, 99), shown);
    }

    // TZ Etc/GMT-8: the dialog shows +8, and OK unchanged writes
    // Etc/GMT-8 into the profile again, then sets the date and both
    // hardware clocks with the time shown.
    void acceptUnchangedKeepsTheZone()
    {
        ztest::Sysroot root;
        root.writeFile("/etc/profile", "PATH=/bin\nexport TZ=Etc/GMT-8\nexport X=1\n");
        const QByteArray oldTz = qgetenv("TZ");
        ztest::AtExit restore([&]() {
            if (oldTz.isEmpty())
                qunsetenv("TZ");
            else
                qputenv("TZ", oldTz);
            tzset();
        });
        qputenv("TZ", "Etc/GMT-8");
        tzset();
        DialogTimeSetting dlg(nullptr);
        QCOMPARE(dlg.fieldLabel(DialogTimeSetting::Offset)->text(), QString("+8"));
        QCOMPARE(dlg.offsetHours(), 8);
        QCOMPARE(dlg.editedDateTime().offsetFromUtc(), 8 * 3600);
        dlg.setDisplayDate(QDateTime(QDate(2024, 3, 15), QTime(10, 20, 30), Qt::OffsetFromUTC, 8 * 3600));
        QCOMPARE(dlg.fieldLabel(DialogTimeSetting::Year)->text(), QString("2024"));
        QCOMPARE(dlg.secondsLabel()->text(), QString("30"));
        whileOpen(dlg, [&]() { tapKey(&dlg, Qt::Key_F5); });
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(ztest::readText(root.path() + "/etc/profile"),
                 QString("PATH=/bin\nexport TZ=Etc/GMT-8\nexport X=1\n"));
        QCOMPARE(qgetenv("TZ"), QByteArray("Etc/GMT-8"));
        const QStringList log = commandLog(root.path());
        const int at = log.indexOf("date -s \"2024-03-15 10:20:30\"");
        QVERIFY2(at >= 0, qPrintable(log.join('|')));
        QCOMPARE(log.mid(at + 1, 2), QStringList({ "hwclock -w -f /dev/rtc0", "hwclock -w -f /dev/rtc1" }));
    }

    // The knob on a selected field (Enter selects the focused field, Enter
    // again leaves it): minute 00 one step back is 59, hour 00 is 23, the
    // offset -12 one step back is 14 and 14 forward is -12, days, months
    // and years by the calendar; without a selection the knob moves the
    // focus instead.
    void knobArithmetic_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<int>("delta");
        QTest::addColumn<QString>("shown");
        const auto at = [](int y, int mo, int d, int h, int mi, int off) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, 5), Qt::OffsetFromUTC, off * 3600);
        };
        QTest::newRow("minute 00 back") << int(DialogTimeSetting::Minute) << at(2024, 1, 1, 0, 0, 0) << 1 << "59";
        QTest::newRow("minute 59 on") << int(DialogTimeSetting::Minute) << at(2024, 1, 1, 0, 59, 0) << -1 << "00";
        QTest::newRow("hour 00 back") << int(DialogTimeSetting::Hour) << at(2024, 1, 1, 0, 0, 0) << 1 << "23";
        QTest::newRow("hour 23 on 3") << int(DialogTimeSetting::Hour) << at(2024, 1, 1, 23, 0, 0) << -3 << "02";
        QTest::newRow("offset -12 back") << int(DialogTimeSetting::Offset) << at(2024, 1, 1, 0, 0, -12) << 1 << "+14";
        QTest::newRow("offset 14 on") << int(DialogTimeSetting::Offset) << at(2024, 1, 1, 0, 0, 14) << -1 << "-12";
        QTest::newRow("offset 0 on") << int(DialogTimeSetting::Offset) << at(2024, 1, 1, 0, 0, 0) << -1 << "+1";
        QTest::newRow("day into leap day") << int(DialogTimeSetting::Day) << at(2024, 3, 1, 0, 0, 0) << 1 << "29";
        QTest::newRow("month back over year") << int(DialogTimeSetting::Month) << at(2024, 1, 31, 0, 0, 0) << 1
                                              << "12";
        QTest::newRow("year on") << int(DialogTimeSetting::Year) << at(2024, 2, 29, 0, 0, 0) << -1 << "2025";
    }

    void knobArithmetic()
    {
        QFETCH(int, field);
        QFETCH(QDateTime, start);
        QFETCH(int, delta);
        QFETCH(QString, shown);
        DialogTimeSetting dlg(nullptr);
        dlg.setDisplayDate(start);
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        dlg.fieldLabel(field)->setFocus();
        QCOMPARE(dlg.selectedField(), -1);
        tapKey(&dlg, Qt::Key_Enter);
        QCOMPARE(dlg.selectedField(), field);
        turnKnob(&dlg, delta);
        QCOMPARE(dlg.fieldLabel(field)->text(), shown);
        // The seconds never change, and the wall clock stays when only the
        // offset does.
        QCOMPARE(dlg.secondsLabel()->text(), QString("05"));
        if (field == DialogTimeSetting::Offset) {
            QCOMPARE(dlg.editedDateTime().time(), start.time());
            QCOMPARE(dlg.editedDateTime().offsetFromUtc(), shown.toInt() * 3600);
        }
        tapKey(&dlg, Qt::Key_Enter);
        QCOMPARE(dlg.selectedField(), -1);
        const QString kept = dlg.fieldLabel(field)->text();
        // Unselected, the knob walks the focus: forward with a step down,
        // back with a step up; the fields keep their values.
        turnKnob(&dlg, -1);
        QTRY_COMPARE(dlg.focusWidget(), field + 1 < DialogTimeSetting::FieldCount
                                            ? static_cast<QWidget *>(dlg.fieldLabel(field + 1))
                                            : static_cast<QWidget *>(dlg.serverEdit(0)));
        turnKnob(&dlg, 1);
        QTRY_COMPARE(dlg.focusWidget(), static_cast<QWidget *>(dlg.fieldLabel(field)));
        QCOMPARE(dlg.fieldLabel(field)->text(), kept);
    }

    // Enter on a focused button clicks it (pressed down first); F4 cancels
    // without touching the clock.
    void keysPressTheButtons()
    {
        ztest::Sysroot root;
        DialogTimeSetting dlg(nullptr);
        whileOpen(dlg, [&]() {
            QApplication::setActiveWindow(&dlg);
            dlg.cancelButton()->setFocus();
            sendKey(&dlg, QEvent::KeyPress, Qt::Key_Enter);
            QVERIFY(dlg.cancelButton()->isDown());
            sendKey(&dlg, QEvent::KeyRelease, Qt::Key_Enter);
            QVERIFY(!dlg.isVisible());
        });
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        DialogTimeSetting dlg2(nullptr);
        whileOpen(dlg2, [&]() {
            sendKey(&dlg2, QEvent::KeyPress, Qt::Key_F4);
            QVERIFY(dlg2.cancelButton()->isDown());
            sendKey(&dlg2, QEvent::KeyRelease, Qt::Key_F4);
            QVERIFY(!dlg2.isVisible());
        });
        QCOMPARE(dlg2.result(), int(QDialog::Rejected));
        QVERIFY(commandLog(root.path()).isEmpty());
    }

    // Enter on a server edit opens the text keyboard on it; the knob
    // reaches the edits from the last field.
    void enterOnAServerEditOpensTheKeyboard()
    {
        DialogTimeSetting dlg(nullptr);
        dlg.setNtpServer(1, "b.example");
        whileOpen(dlg, [&]() {
            QApplication::setActiveWindow(&dlg);
            dlg.fieldLabel(DialogTimeSetting::Offset)->setFocus();
            turnKnob(&dlg, -1);
            turnKnob(&dlg, -1);
            QTRY_COMPARE(dlg.focusWidget(), static_cast<QWidget *>(dlg.serverEdit(1)));
            int type = 0;
            QWidget *target = nullptr;
            ModalWatch<ZKeyboard> watch([&](ZKeyboard *k) {
                type = k->type();
                target = k->target();
                k->reject();
            });
            tapKey(&dlg, Qt::Key_Enter);
            QVERIFY(watch.seen);
            QCOMPARE(target, static_cast<QWidget *>(dlg.serverEdit(1)));
            QCOMPARE(type, int(ZKeyboard::Text));
            QCOMPARE(dlg.ntpServer(1), QString("b.example"));
            QCOMPARE(dlg.selectedField(), -1);
        });
    }

    // F1 fetches the time: nothing without server names; otherwise one
    // quoted "utpdate -u" per name through the "Please Wait" dialog, even
    // for names that try to run commands of their own.
    void ntpUpdateQuotesTheServerNames()
    {
        ztest::Sysroot root;
        DialogTimeSetting dlg(nullptr);
        dlg.setNtpServer(0, "");
        dlg.setNtpServer(1, "  ");
        whileOpen(dlg, [&]() {
            {
                ModalWatch<DialogCommandExec> watch([](DialogCommandExec *) {});
                tapKey(&dlg, Qt::Key_F1);
                QTest::qWait(50);
                QVERIFY(!watch.seen);
            }
            QVERIFY(commandLog(root.path()).isEmpty());

            dlg.setNtpServer(0, "pool.ntp.org");
            dlg.setNtpServer(1, "x'; reboot; echo '$(poweroff)");
            ModalWatch<DialogCommandExec> watch([](DialogCommandExec *) {});
            tapKey(&dlg, Qt::Key_F1);
            QVERIFY(watch.seen);
            QVERIFY(dlg.isVisible());
        });
        const QStringList log = commandLog(root.path());
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0], QString("utpdate -u 'pool.ntp.org'"));
        const QList<QStringList> words = zsys::splitCommandLine(log[1]);
        QCOMPARE(words.size(), 1);
        QCOMPARE(words[0], QStringList({ "utpdate", "-u", "x'; reboot; echo '$(poweroff)" }));
    }

    // ---- factory reset ----

    // One OK only arms (the message asks for a second); CANCEL closes and
    // forgets it, so OK after reopening again only warns. The blank
    // buttons do nothing. Nothing is removed.
    void factoryResetNeedsTwoOksInOneOpening()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        store.syncDatabase();
        QVERIFY(QFileInfo::exists(root.dbFile()));
        const QString warning = "WARNING: DO FACTORY RESET\nYOUR DATA WILL LOST!";
        DialogFactoryReset first(nullptr, &store, 0, 0, 800, 480);
        whileOpen(first, [&]() {
            QCOMPARE(first.titleLabel()->text(), QString("FACTORY RESET"));
            QCOMPARE(first.messageLabel()->text(), warning);
            for (int i = 1; i <= 3; ++i)
                first.functionButton(i)->click();
            QVERIFY(!first.isArmed());
            tapKey(&first, Qt::Key_F1);
            QVERIFY(first.isArmed());
            QCOMPARE(first.messageLabel()->text(), warning + "\nPRESS OK BUTTON AGAIN...");
            QVERIFY(layoutFaults(&first).isEmpty());
            shoot(&first, "factory-reset-armed");
            tapKey(&first, Qt::Key_F5);
            QVERIFY(!first.isVisible());
        });
        DialogFactoryReset again(nullptr, &store, 0, 0, 800, 480);
        whileOpen(again, [&]() {
            QVERIFY(!again.isArmed());
            again.functionButton(0)->click();
            QVERIFY(again.isArmed());
        });
        QVERIFY(QFileInfo::exists(root.dbFile()));
        QVERIFY(commandLog(root.path()).isEmpty());
    }

    // Two OKs against the real simulator (in a child process, which the
    // reset ends): the removals of the database, the voice directory, the
    // saved WiFi settings and the network manager's connections, quoted and
    // under the system root only, then "sync", the board's power-off and
    // "reboot", all through the command runner; the process ends with 0.
    // The next start builds the database from the definitions again.
    void factoryResetRemovesTheStoredStateAndRestarts()
    {
        ztest::Sysroot root;
        const QString r = root.path();
        ztest::Sim sim;
        QVERIFY(sim.start(r));
        QVERIFY(ztest::writeFile(r + "/app/voice/voice_msg01.wav", "RIFF"));
        QVERIFY(ztest::writeFile(r + "/app/.wificfg/home.cfg", "ssid"));
        QVERIFY(ztest::writeFile(r + "/etc/NetworkManager/system-connections/home.nmconnection", "[wifi]"));
        QVERIFY(ztest::writeFile(r + "/etc/NetworkManager/NetworkManager.conf", "[main]"));
        QVERIFY(ztest::writeFile(r + "/app/keep.txt", "not operator state"));

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZR450_SYSROOT", r);
        env.insert("ZR_TEST_CHILD", "factory-reset");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        ztest::AtExit report([&]() {
            if (QTest::currentTestFailed())
                qWarning().noquote() << child.readAllStandardError().right(4000);
        });
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        const QByteArray out = child.readAllStandardOutput();
        QVERIFY2(out.contains("armed") && out.contains("reset"), out.constData());
        QCOMPARE(child.exitCode(), 0);

        // The board saw the power-off bit and switched off.
        QTRY_COMPARE_WITH_TIMEOUT(sim.process().state(), QProcess::NotRunning, 10000);

        QVERIFY(!QFileInfo::exists(root.dbFile()));
        QVERIFY(!QFileInfo::exists(r + "/app/voice"));
        QVERIFY(QDir(r + "/app/.wificfg").isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QVERIFY(QDir(r + "/etc/NetworkManager/system-connections").isEmpty());
        QVERIFY(QFileInfo::exists(r + "/etc/NetworkManager/NetworkManager.conf"));
        QVERIFY(QFileInfo::exists(r + "/app/keep.txt"));

        const QString app = zsys::quote(r + "/app");
        const QStringList log = commandLog(r);
        const QStringList expected = {
            "rm " + zsys::quote(r + "/app/zparam.db"), "rm -rf " + zsys::quote(r + "/app/voice"),
            "rm -rf " + zsys::quote(r + "/app/.wificfg") + "/*", "rm -rf /etc/NetworkManager/system-connections/*",
            "sync", "reboot",
        };
        QCOMPARE(log.mid(log.size() - expected.size()), expected);

        ZParamAdmin fresh(nullptr);
        const zparam_item_t rxvol = fresh.paramItem("wparam", "rxvol");
        QVERIFY(rxvol.def != rxvol.max);
        QCOMPARE(rxvol.value.toInt(), rxvol.def.toInt());
        QCOMPARE(fresh.paramItem("wparam", "text_ntp_server1").value.toString(), QString("pool.ntp.org"));
    }

    // ---- system information ----

    // Version, build stamp, "(J)" for the alternative band edges, the
    // board's identification line and the interfaces.
    void systemInformationText_data()
    {
        QTest::addColumn<bool>("japan");
        QTest::newRow("default bands") << false;
        QTest::newRow("alternative bands") << true;
    }

    void systemInformationText()
    {
        QFETCH(bool, japan);
        ztest::Sysroot root;
        if (japan)
            root.writeFile("/etc/zrradio/zrradio.conf", "[mods]\nbands-cfg=1\n");
        ZParamAdmin store(nullptr);
        DialogSystemInfo dlg(nullptr, &store, 0, 0, 800, 480);
        dlg.fill();
        const QStringList lines = dlg.browser()->toPlainText().split('\n');
        QCOMPARE(lines.value(0), QString("---------------- System  Information ---------------- "));
        const QString app = QString("APP     : V1.2.0%1 %2").arg(japan ? "(J)" : "", DialogSystemInfo::buildStamp());
        QCOMPARE(lines.value(1), app);
        QVERIFY(lines.value(2).startsWith("BASE    : "));
        const bool haveIfconfig = QFileInfo::exists("/usr/sbin/ifconfig") || QFileInfo::exists("/sbin/ifconfig");
        QCOMPARE(lines.contains("---------------- Network Information ---------------- "), haveIfconfig);
        if (haveIfconfig)
            QVERIFY(dlg.browser()->toPlainText().contains("lo:"));
        QCOMPARE(dlg.titleLabel()->text(), QString("System/Network Information"));
        QCOMPARE(dlg.functionButton(4)->text(), QString("EXIT"));
        whileOpen(dlg, [&]() {
            QVERIFY(layoutFaults(&dlg).isEmpty());
            shoot(&dlg, japan ? "system-info-j" : "system-info");
            tapKey(&dlg, Qt::Key_F5);
            QVERIFY(!dlg.isVisible());
        });
    }

    // ---- the command dialog ----

    // Commands run in order on a worker thread while the screen keeps
    // drawing; the dialog cannot be dismissed meanwhile and closes itself
    // the given number of 100 ms ticks after the last one.
    void commandDialogRunsInOrderAndClosesItself()
    {
        // A harmless real command (no system root) that takes a while.
        ztest::setSysroot(QString());
        DialogCommandExec dlg(nullptr, { "sleep 0.3; exit 3", "exit 0" }, 2);
        int ticks = 0;
        QTimer gui;
        connect(&gui, &QTimer::timeout, [&]() { ++ticks; });
        gui.start(20);
        bool rejectedWhileRunning = false;
        QTimer::singleShot(50, &dlg, [&]() {
            dlg.reject();
            rejectedWhileRunning = !dlg.isVisible();
            QVERIFY(layoutFaults(&dlg).isEmpty());
            shoot(&dlg, "please-wait");
        });
        QElapsedTimer t;
        t.start();
        QCOMPARE(dlg.exec(), int(QDialog::Accepted));
        QVERIFY(!rejectedWhileRunning);
        QVERIFY(dlg.finished());
        QCOMPARE(dlg.results(), std::vector<int>({ 3 << 8, 0 }));
        // The event loop ran throughout.
        QVERIFY(ticks >= 5);
    }

    // Under the main window (its style sheet styles every screen it
    // opens) the texts keep the sizes the screens give them.
    void textSizesHoldUnderTheMainWindow()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        QWidget window;
        window.setStyleSheet(ZQRC::getQssFromQrcFile(":/mainwidget.qss"));
        window.resize(800, 480);
        window.show();
        ZRadioSystemSetting menu(&window, &store, 0, 0, 800, 480);
        menu.setupMainMenu();
        DialogWfserverSetting server(&menu, &store, 0, 0, 800, 480);
        DialogTimeSetting time(&menu);
        DialogFactoryReset reset(&menu, &store, 0, 0, 800, 480);
        DialogSystemInfo info(&menu, &store, 0, 0, 800, 480);
        DialogCommandExec wait(&menu, { "sync" }, 0);
        const QList<QWidget *> screens = { &menu, &server, &time, &reset, &info, &wait };
        for (QWidget *w : screens) {
            w->show();
            for (QWidget *c : w->findChildren<QWidget *>()) {
                auto *b = qobject_cast<QPushButton *>(c);
                auto *l = qobject_cast<QLabel *>(c);
                if ((!b && !l) || (l && l->text().trimmed().size() <= 1))
                    continue;
                QVERIFY2(c->fontInfo().pointSize() >= 11,
                         qPrintable(QString("%1 %2: %3 pt").arg(w->objectName(), l ? l->text() : b->text())
                                        .arg(c->fontInfo().pointSize())));
            }
            w->hide();
        }
        QCOMPARE(menu.menuButtons().at(0)->fontInfo().pointSize(), 16);
        QVERIFY(menu.menuButtons().at(0)->fontInfo().bold());
        for (ZPanel *p : std::initializer_list<ZPanel *>{ &server, &reset, &info })
            QCOMPARE(p->titleLabel()->fontInfo().pointSize(), 16);
        QCOMPARE(time.okButton()->fontInfo().pointSize(), 16);
    }

    // ---- layout ----

    // Every screen of the menu laid out within 800 x 480: nothing outside
    // its panel, no overlapping siblings, no clipped label or button.
    void screensFitTheScreen()
    {
        ztest::Sysroot root;
        ZParamAdmin store(nullptr);
        DialogTimeSetting time(nullptr);
        time.setNtpServer(0, "pool.ntp.org");
        time.setNtpServer(1, "europe.pool.ntp.org");
        time.show();
        QVERIFY(layoutFaults(&time).isEmpty());
        shoot(&time, "time-setting");
        time.hide();
        DialogWfserverSetting server(nullptr, &store, 0, 0, 800, 480);
        whileOpen(server, [&]() {
            const QStringList faults = layoutFaults(&server);
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join("; ")));
            shoot(&server, "wfserver-setting");
        });
    }
};

// The child of the factory-reset test: the radio link on the simulator the
// parent started, the reset panel, two OKs. The reset's "reboot" ends the
// process; returning here is a failure.
static int factoryResetChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    zradio_t *radio = zradio_create("/dev/i2c-0", 114);
    if (!radio || !radio->param)
        return 2;
    // The radio in operation: the board's frames arrive and the register
    // push runs, as when the operator opens the panel.
    QElapsedTimer up;
    up.start();
    while (!zradio_comm_valid() && up.elapsed() < 20000)
        QTest::qWait(20);
    if (!zradio_comm_valid())
        return 4;
    radio->param->setParamItem("wparam", "rxvol", radio->param->paramItem("wparam", "rxvol").max);
    radio->param->syncDatabase();
    DialogFactoryReset dlg(nullptr, radio->param, 0, 0, 800, 480);
    QTimer::singleShot(0, &dlg, [&]() {
        dlg.functionButton(0)->click();
        printf("%s\n", dlg.isArmed() ? "armed" : "not armed");
        printf("reset\n");
        fflush(stdout);
        dlg.functionButton(0)->click();
    });
    dlg.exec();
    return 3;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariable("ZR_TEST_CHILD") == QLatin1String("factory-reset"))
        return factoryResetChild(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestSystem test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_system.moc"
