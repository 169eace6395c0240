// The operating screen: the main window driven as the front panel, the hand
// microphone, the touch screen and the board's reports drive it, and checked
// by what the operator sees (readouts, labels, meters, key faces, panels)
// and by what reaches the store and the register block. The last cases run
// the window, and the real application, against the real simulator.
#include "tests/widget_support.h"
#include "tests/params_support.h"
#include "tests/radio_support.h"

#include "app/zqrc.h"
#include "app/zsystem.h"
#include "civ/civconvert.h"
#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "params/zparamadmin.h"
#include "radio/bbframe.h"
#include "radio/zradio.h"
#include "radio/zradioevent.h"
#include "spectrum/zscopegl.h"
#include "ui/mainwidget.h"
#include "ui/xyplot.h"
#include "ui/zbarmeter.h"
#include "ui/zdrawscope.h"
#include "ui/zradiosetting.h"
#include "ui/ztwinfilterwidget.h"
#include "ui/zvfofrequencywidget.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

using namespace rtest;

namespace {

const char *W = "wparam";

// The window with stand-ins for the dialogs that other folders build, so
// the launching around them can be checked.
class TestWindow : public MainWidget
{
public:
    int filterPanels = 0;
    std::function<void(QDialog *)> whileFilterOpen;
    int channelEditors = 0;
    QRect channelEditorArea;
    bool editorAccepts = false;
    QString editorResult;
    QStringList editorTitles;
    QStringList editorTexts;

    using MainWidget::scopeRect;
    using MainWidget::windowRect;

protected:
    QDialog *createFilterSettings(const QRect &area) override
    {
        ++filterPanels;
        auto *d = new QDialog(this);
        d->setObjectName(QStringLiteral("filterStandIn"));
        d->setGeometry(area);
        QTimer::singleShot(0, d, [this, d]() {
            if (whileFilterOpen)
                whileFilterOpen(d);
            d->reject();
        });
        return d;
    }
    QDialog *createChannelEditor(const QRect &area) override
    {
        ++channelEditors;
        channelEditorArea = area;
        auto *d = new QDialog(this);
        d->setObjectName(QStringLiteral("channelStandIn"));
        d->setGeometry(area);
        return d;
    }
    bool editText(const QString &title, QString *text) override
    {
        editorTitles << title;
        editorTexts << *text;
        if (!editorAccepts)
            return false;
        *text = editorResult;
        return true;
    }
};

using ztest::sendKey;
using ztest::tapKey;
using ztest::turnKnob;
using ztest::flushDeletes;

// A group key as the input thread reports it: Ctrl+digit, press only.
void groupKey(QWidget *w, int digit)
{
    sendKey(w, QEvent::KeyPress, Qt::Key_0 + digit, Qt::ControlModifier, QStringLiteral("^%1").arg(digit));
}

void radioEvent(QWidget *w, QEvent::Type type, uint32_t code)
{
    ZRadioEvent e(type, code);
    QCoreApplication::sendEvent(w, &e);
}

QString digits(const ZVFOFrequencyWidget *v)
{
    QString s;
    for (int i = v->digitCount() - 1; i >= 0; --i)
        s += v->digitButton(i)->text();
    return s;
}

// The board's meter reports: power (W), SWR x 10, ALC.
void setMeters(zradio_t *r, float watts, int swr10, int alc)
{
    r->trailer[1] = uint32_t(std::lround(watts * 10.0f)) << 8 | uint32_t(swr10) << 16 | uint32_t(alc) << 24;
}

// The board's supply reports: external and battery volts, capacity.
void setSupply(zradio_t *r, float vext, float vbat, int capacity)
{
    r->trailer[2] = uint32_t(std::lround(vext * 10.0f)) | uint32_t(std::lround(vbat * 10.0f)) << 8
        | uint32_t(capacity) << 16;
}

// One window on a fresh system root, its timers stopped: the test runs the
// ticks and clock seconds itself. The first tick has run unless asked not to.
struct Screen {
    ztest::Sysroot root;
    std::unique_ptr<TestWindow> w;
    ZParamAdmin *s = nullptr;
    zradio_t *r = nullptr;

    explicit Screen(bool firstTick = true, const std::function<void(const ztest::Sysroot &)> &prepare = {})
    {
        if (prepare)
            prepare(root);
        w.reset(new TestWindow);
        w->updateTimer()->stop();
        w->clockTimer()->stop();
        s = w->paramAdmin();
        r = w->radio();
        if (firstTick)
            w->slot_timerUpdate();
    }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            w->slot_timerUpdate();
    }
    void second(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            w->slot_rtcUpdate();
    }
    QPushButton *button(const char *name) const { return w->findChild<QPushButton *>(QLatin1String(name)); }
    QLabel *label(const char *name) const { return w->findChild<QLabel *>(QLatin1String(name)); }
    int item(const char *key) const { return s->paramItem(W, QLatin1String(key)).value.toInt(); }
    void set(const char *key, const QVariant &v) { s->setParamItem(W, QLatin1String(key), v); }
    // The supply the limits are set for, after the check has applied it.
    void supply(bool external)
    {
        r->vextFlag = external ? 1 : 0;
        for (int i = 0; i < 8; ++i)
            second();
    }
};

// With ZR450_UI_SHOTS naming a directory, the whole screen as the operator
// sees it (panels included) is saved there, to look at.
void shot(const char *name)
{
    const QString dir = qEnvironmentVariable("ZR450_UI_SHOTS");
    if (dir.isEmpty() || !QGuiApplication::primaryScreen())
        return;
    QCoreApplication::processEvents();
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + "/" + QLatin1String(name) + ".png");
}

QByteArray hexBytes(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
        // The names the CI-V device's queued signals use, as main registers
        // them.
        qRegisterMetaType<int32_t>("int32_t");
        qRegisterMetaType<uint8_t>("uint8_t");
    }

    // ------------------------------------------------ form and start-up

    void formCarriesTheNamedWidgets()
    {
        Screen sc;
        QCOMPARE(sc.w->objectName(), QStringLiteral("MainWidget"));
        QCOMPARE(sc.w->size(), QSize(800, 480));
        for (const char *n : {"pushButton_F1", "pushButton_F5", "pushButton_SPL", "pushButton_ATU", "pushButton_SQL",
                              "pushButton_NB", "pushButton_NR", "pushButton_DNF", "pushButton_backVI",
                              "pushButton_backMode", "pushButton_frontVI", "pushButton_PRE", "pushButton_ATT",
                              "pushButton_frontMode", "pushButton_frontFilter", "pushButton_frontAGC",
                              "pushButton_WfServer", "pushButton_Time", "pushButton_Battery", "pushButton_Charge",
                              "pushButton_Lock", "pushButton_USB", "pushButton_Bluetooth", "pushButton_WiFi",
                              "pushButton_SP"})
            QVERIFY2(sc.button(n), n);
        for (const char *n : {"labelVolum", "labelMFK", "labelFullbandTxe", "labelTime", "labelRitXit",
                              "label_WiFiIconEx"})
            QVERIFY2(sc.label(n), n);
        for (const char *n : {"frameBackVFO", "horizontalLayoutWidget_2", "horizontalLayoutWidget_3",
                              "horizontalLayoutWidget_4"})
            QVERIFY2(sc.w->findChild<QWidget *>(QLatin1String(n)), n);
        QCOMPARE(sc.w->findChild<QWidget *>("horizontalLayoutWidget_4")->geometry(), QRect(295, 2, 503, 30));
        QCOMPARE(sc.w->scope()->geometry(), QRect(0, 176, 800, 250));
        QCOMPARE(sc.w->audioScope()->geometry(), QRect(600, 176, 199, 124));
        QCOMPARE(sc.w->xyPlot()->geometry(), QRect(600, 302, 199, 124));
        QVERIFY(sc.w->audioScope()->isHidden());
        // The S meter 11 pixels below the front line at its left edge, the
        // SWR meter 21 pixels to its right; the filter view below the back
        // VFO; the wireless icons hidden until their services arrive.
        const QRect line = sc.w->findChild<QWidget *>("horizontalLayoutWidget_3")->geometry();
        QCOMPARE(sc.w->sMeter()->pos(), QPoint(line.left(), line.bottom() + 12));
        QCOMPARE(sc.w->swrMeter()->pos(), QPoint(line.left() + 230 + 21, line.bottom() + 12));
        QVERIFY(sc.w->filterView()->y() > sc.w->findChild<QWidget *>("frameBackVFO")->geometry().bottom());
        for (const char *n : {"pushButton_WiFi", "pushButton_USB", "pushButton_Bluetooth", "pushButton_Time",
                              "pushButton_SP", "pushButton_WfServer"})
            QVERIFY2(sc.button(n)->isHidden(), n);
        QVERIFY(sc.label("labelFullbandTxe")->isHidden());
        QVERIFY(ztest::logContains("Main window inited."));
        // Every widget of the screen inside the screen, none of the top
        // rows overlapping another.
        for (QWidget *c : sc.w->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            QVERIFY2(QRect(0, 0, 800, 480).contains(c->geometry()), qPrintable(c->objectName()));
        const QList<QWidget *> rows = {sc.w->findChild<QWidget *>("horizontalLayoutWidget_2"),
                                       sc.w->findChild<QWidget *>("horizontalLayoutWidget_3"),
                                       sc.w->findChild<QWidget *>("horizontalLayoutWidget_4"),
                                       sc.w->findChild<QWidget *>("frameBackVFO"),
                                       sc.label("labelVolum"), sc.label("labelMFK"), sc.label("labelRitXit"),
                                       sc.label("labelTime"), sc.w->sMeter(), sc.w->swrMeter(),
                                       sc.w->filterView(), sc.w->scope()};
        for (int i = 0; i < rows.size(); ++i)
            for (int j = i + 1; j < rows.size(); ++j)
                QVERIFY2(!rows[i]->geometry().intersects(rows[j]->geometry()),
                         qPrintable(rows[i]->objectName() + " / " + rows[j]->objectName()));
    }

    void firstTickShowsIdleAndPushesNothing()
    {
        Screen sc(false);
        sc.set("rxvol", 23);
        QCOMPARE(sc.r->regs[14].load(), 0u);
        sc.tick();
        QCOMPARE(sc.w->scope()->statusText(), QStringLiteral("IDLE"));
        QCOMPARE(sc.w->sMeter()->value(), 0);
        QVERIFY(!sc.w->swrMeter()->isHidden());
        QCOMPARE(sc.r->regs[14].load(), 0u);
        sc.tick();
        QCOMPARE(sc.r->regs[14].load() & 0xFF, 23u);
    }

    // Nothing changes, nothing is redrawn: ticks and clock seconds on a
    // quiet radio restyle no widget and write no log line (each restyle
    // parses a style sheet; a bad one writes a warning every time).
    void quietTicksRestyleNothing()
    {
        Screen sc;
        sc.tick(3);
        sc.second(2);
        struct Counter : QObject {
            int changes = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                changes += e->type() == QEvent::StyleChange;
                return false;
            }
        } counter;
        const QList<QWidget *> all = sc.w->findChildren<QWidget *>();
        for (QWidget *c : all)
            c->installEventFilter(&counter);
        // The CI-V worker starts on a thread of its own and logs its ports
        // when it gets to run: only the lines after that count.
        QTRY_VERIFY_WITH_TIMEOUT(ztest::logContains("network server"), 10000);
        for (int i = 0, n = -1; i < 20 && ztest::logLines().size() != n; ++i) {
            n = ztest::logLines().size();
            QTest::qWait(250);
        }
        ztest::clearLog();
        for (int i = 0; i < 40; ++i) {
            sc.tick();
            if (i % 20 == 0)
                sc.second();
        }
        QCOMPARE(counter.changes, 0);
        QVERIFY2(ztest::logLines().isEmpty(), qPrintable(ztest::logLines().join('\n')));
        // A change restyles what shows it: the tuning-step mark moves.
        sc.set("ts", sc.item("ts") == 1 ? 2 : 1);
        sc.tick();
        QCOMPARE(counter.changes, 2);
    }

    void manufacturingRecordCountsStarts()
    {
        const QString man = QStringLiteral("/etc/zrradio/man.conf");
        auto counter = [](const ztest::Sysroot &root) {
            QSettings s(root.path() + "/etc/zrradio/man.conf", QSettings::IniFormat);
            return s.value("manufacture/exec-counter").toString();
        };
        {
            Screen sc;
            QCOMPARE(counter(sc.root), QStringLiteral("1"));
            QSettings s(sc.root.path() + man, QSettings::IniFormat);
            QVERIFY(!s.contains("manufacture/fbtx-open-time"));
        }
        {
            // An unreadable counter starts again at 1; full-band transmit
            // records when it was first seen and shows F-TX.
            Screen sc(true, [&](const ztest::Sysroot &root) {
                root.writeFile(man, "[manufacture]\nexec-counter=abc\n");
                root.writeFile("/etc/zrradio/zrradio.conf", "[mods]\nfullband-tx=enable\n");
            });
            QCOMPARE(counter(sc.root), QStringLiteral("1"));
            QVERIFY(!sc.label("labelFullbandTxe")->isHidden());
            QCOMPARE(sc.label("labelFullbandTxe")->pos(), QPoint(5, 5));
            QSettings s(sc.root.path() + man, QSettings::IniFormat);
            QCOMPARE(s.value("manufacture/fullband-tx").toInt(), 1);
            QVERIFY(s.value("manufacture/fbtx-open-time").toString().contains(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")));
        }
        {
            Screen sc(true, [&](const ztest::Sysroot &root) {
                root.writeFile(man, "[manufacture]\nexec-counter=41\nfbtx-open-time=2020-01-02 03:04:05\n");
                root.writeFile("/etc/zrradio/zrradio.conf", "[mods]\nfullband-tx=enable\n");
            });
            QCOMPARE(counter(sc.root), QStringLiteral("42"));
            QSettings s(sc.root.path() + man, QSettings::IniFormat);
            QCOMPARE(s.value("manufacture/fbtx-open-time").toString(), QStringLiteral("2020-01-02 03:04:05"));
        }
    }

    // The window closed with a panel open: the panel goes while the store
    // it writes its selection to still exists.
    void closingWithAPanelOpen()
    {
        Screen sc;
        tapKey(sc.w.get(), Qt::Key_F1);
        QPointer<QDialog> panel = sc.w->radioSettingPanel();
        QVERIFY(panel);
        sc.w.reset();
        QVERIFY(!panel);
    }

    // ------------------------------------------------ direct entry

    void directFrequencyEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("hz"); // 0: discarded
        QTest::addRow("14.074 is MHz") << "14.074" << 14074000;
        QTest::addRow("7 is MHz") << "7" << 7000000;
        QTest::addRow("7050000 is Hz") << "7050000" << 7050000;
        QTest::addRow("56 MHz is above the range") << "56" << 0;
        QTest::addRow("0.4 MHz is below the range") << "0.4" << 0;
        QTest::addRow("0.5 MHz is the lowest") << "0.5" << 500000;
    }

    void directFrequencyEntry()
    {
        QFETCH(QString, typed);
        QFETCH(int, hz);
        Screen sc;
        sc.s->setVfoFront("freq", 14270000);
        sc.tick();
        const QString enter = QStringLiteral("HMIC-Enter");
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_Enter, Qt::NoModifier, enter);
        QLineEdit *entry = sc.w->frequencyEntry();
        QVERIFY(entry);
        QVERIFY(sc.w->mainVfo()->isHidden());
        QCOMPARE(entry->geometry(), sc.w->mainVfo()->geometry());
        // The microphone's digit keys go to the entry, not to the band stack.
        for (QChar c : typed) {
            const int key = c == '.' ? Qt::Key_Period : Qt::Key_0 + c.digitValue();
            tapKey(sc.w.get(), key, Qt::NoModifier, QString(c));
        }
        QCoreApplication::processEvents();
        QCOMPARE(entry->text(), typed);
        QCOMPARE(sc.s->vfoFront("freq").value.toInt(), 14270000);
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_Enter, Qt::NoModifier, enter);
        QVERIFY(!sc.w->frequencyEntry());
        QVERIFY(!sc.w->mainVfo()->isHidden());
        QCOMPARE(sc.s->vfoFront("freq").value.toInt(), hz ? hz : 14270000);
        sc.tick();
        QCOMPARE(sc.w->mainVfo()->frequency(), uint32_t(hz ? hz : 14270000));
    }

    // ------------------------------------------------ front-panel events

    void shortAndLongPressesActOnTheirItems_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("key"); // "vfo/…" for a front-VFO item
        QTest::addRow("207 short: VFO A/B") << 1000 << 207 << "vi";
        QTest::addRow("208 short: preamplifier") << 1000 << 208 << "vfo/pre";
        QTest::addRow("209 short: tuner on/off") << 1000 << 209 << "atue";
        QTest::addRow("214 short: AGC") << 1000 << 214 << "vfo/agc";
        QTest::addRow("208 long: attenuator") << 1001 << 208 << "vfo/att";
        QTest::addRow("214 long: split") << 1001 << 214 << "sple";
        QTest::addRow("216 long: lock") << 1001 << 216 << "lock";
    }

    void shortAndLongPressesActOnTheirItems()
    {
        QFETCH(int, type);
        QFETCH(int, code);
        QFETCH(QString, key);
        Screen sc;
        auto value = [&]() {
            return key.startsWith("vfo/") ? sc.s->vfoFront(key.mid(4)).value.toInt()
                                          : sc.s->paramItem(W, key).value.toInt();
        };
        const int before = value();
        radioEvent(sc.w.get(), QEvent::Type(type), uint32_t(code));
        QVERIFY(value() != before);
        radioEvent(sc.w.get(), QEvent::Type(type), uint32_t(code));
        if (key != "vfo/agc")
            QCOMPARE(value(), before); // two-valued: back again
    }

    void otherEventsAreIgnored()
    {
        Screen sc;
        const int vi = sc.item("vi");
        radioEvent(sc.w.get(), ZRadioEvent::ShortPress, 194);
        radioEvent(sc.w.get(), ZRadioEvent::ShortPress, 200);
        radioEvent(sc.w.get(), ZRadioEvent::LongPress, 999);
        QEvent other(QEvent::Type(QEvent::User + 7));
        QCoreApplication::sendEvent(sc.w.get(), &other);
        QCOMPARE(sc.item("vi"), vi);
        // 213 with no stored channel stays in VFO mode and says so.
        radioEvent(sc.w.get(), ZRadioEvent::ShortPress, 213);
        QCOMPARE(sc.s->vm(), 0);
        QVERIFY(!sc.w->infoLabel()->isHidden());
        QCOMPARE(sc.w->infoLabel()->text(), QStringLiteral("CHANNEL MEMORY IS EMPTY"));
    }

    void longPressOfTheVfoKeyCopiesOnlyInVfoMode()
    {
        Screen sc;
        sc.set("vi", 0);
        sc.s->setVfoFront("freq", 14100000);
        sc.s->setVfoBack("freq", 7050000);
        radioEvent(sc.w.get(), ZRadioEvent::LongPress, 207);
        QCOMPARE(sc.s->vfoBack("freq").value.toInt(), 14100000);

        // Memory mode: the VFO items are the channel's; nothing is copied.
        sc.s->setVfoBack("freq", 7050000);
        sc.s->saveChItem(5, sc.s->logicVfoMemo());
        sc.s->updateChList();
        QVERIFY(sc.s->setVfoMemoMode(1));
        sc.s->setVfoBack("freq", 3600000);
        const int front = sc.s->vfoFront("freq").value.toInt();
        radioEvent(sc.w.get(), ZRadioEvent::LongPress, 207);
        QCOMPARE(sc.s->vfoBack("freq").value.toInt(), 3600000);
        QCOMPARE(sc.s->vfoFront("freq").value.toInt(), front);
    }

    void backlightKeyWrapsAtTheSupplysLimit_data()
    {
        QTest::addColumn<bool>("external");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("shown");
        QTest::addRow("battery, 10 of 1..10 wraps to 1") << false << 10 << 1 << "BACK LIGHT: 1/5";
        QTest::addRow("battery, 4 goes to 5") << false << 4 << 5 << "BACK LIGHT: 5/5";
        QTest::addRow("battery, 5 wraps to 1") << false << 5 << 1 << "BACK LIGHT: 1/5";
        QTest::addRow("external, 10 wraps to 1") << true << 10 << 1 << "BACK LIGHT: 1/10";
        QTest::addRow("external, 4 goes to 5") << true << 4 << 5 << "BACK LIGHT: 5/10";
    }

    void backlightKeyWrapsAtTheSupplysLimit()
    {
        QFETCH(bool, external);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, shown);
        Screen sc;
        sc.supply(external);
        QCOMPARE(sc.s->txPowerMax.load(), external ? 10.0f : 5.0f);
        sc.set("bllevel", from);
        radioEvent(sc.w.get(), ZRadioEvent::ShortPress, 216);
        QCOMPARE(sc.item("bllevel"), to);
        QCOMPARE(sc.w->infoLabel()->text(), shown);
        // The pop-up is centred and goes after a second.
        const QRect g = sc.w->infoLabel()->geometry();
        QVERIFY(std::abs(g.center().x() - 400) <= 2 && std::abs(g.center().y() - 240) <= 2);
        QTRY_VERIFY_WITH_TIMEOUT(sc.w->infoLabel()->isHidden(), 3000);
    }

    void handMicrophoneKeys()
    {
        Screen sc;
        sc.set("lock", 0);
        sc.set("ts", 2);
        const QString up = QStringLiteral("HMIC-UP");
        const int f0 = sc.s->vfoFront("freq").value.toInt();
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, up);
        const int f1 = sc.s->vfoFront("freq").value.toInt();
        QVERIFY(f1 > f0);
        // The same key from elsewhere does not tune; locked, the
        // microphone does not either.
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_Up);
        QCOMPARE(sc.s->vfoFront("freq").value.toInt(), f1);
        sc.set("lock", 1);
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, up);
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QStringLiteral("HMIC-DOWN"));
        QCOMPARE(sc.s->vfoFront("freq").value.toInt(), f1);
        // The microphone's lock key toggles the lock.
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_L, Qt::ControlModifier, QStringLiteral("HMIC-LOCK"));
        QCOMPARE(sc.item("lock"), 0);
        // Mode and filter group.
        const int mode = sc.s->mode();
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_M, Qt::ControlModifier, QStringLiteral("HMIC-M"));
        QCOMPARE(sc.s->mode(), (mode + 1) % 8);
        const int g = sc.s->twinFilterGroupIndex();
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_F, Qt::ControlModifier, QStringLiteral("HMIC-F"));
        QCOMPARE(sc.s->twinFilterGroupIndex(), (g + 1) % 3);
        // The programmable keys: F1 "TS+" wraps the tuning step, F2 "CW
        // TRAINER" toggles the trainer.
        sc.set("handle_f1", 4);
        sc.set("handle_f2", 3);
        sc.set("ts", 3);
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_F11, Qt::NoModifier, QStringLiteral("HMIC-F11"));
        QCOMPARE(sc.item("ts"), 1);
        const int trainer = sc.item("cwtrain");
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_F12, Qt::NoModifier, QStringLiteral("HMIC-F12"));
        QCOMPARE(sc.item("cwtrain"), 1 - trainer);
        // Save the VFO into the channel "chnum" names, once.
        sc.set("chnum", 0);
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier, QStringLiteral("HMIC-W"));
        QCOMPARE(sc.w->infoLabel()->text(), QStringLiteral("SAVE VFO TO CH0 OK"));
        QCOMPARE(sc.s->chList().size(), 1);
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier, QStringLiteral("HMIC-W"));
        QCOMPARE(sc.w->infoLabel()->text(), QStringLiteral("CH0 ALREADY EXISTED"));
        // V to memory mode; Up then seeks channels instead of tuning.
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, QStringLiteral("HMIC-V"));
        QCOMPARE(sc.s->vm(), 1);
    }

    void bandKeysAndScreenshot()
    {
        Screen sc;
        tapKey(sc.w.get(), Qt::Key_4, Qt::NoModifier, QStringLiteral("4"));
        QCOMPARE(sc.s->bandIndex(), 9); // 30 m
        tapKey(sc.w.get(), Qt::Key_Period, Qt::NoModifier, QStringLiteral("."));
        QCOMPARE(sc.s->bandIndex(), 21); // 6 m
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier, QStringLiteral("BAND-DOWN"));
        QCOMPARE(sc.s->bandIndex(), 19); // 10 m, the next band down
        // Ctrl+L from anything but the microphone: the whole screen.
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_L, Qt::ControlModifier);
        const QStringList shots = QDir(zsys::appDir()).entryList({"sc_*.bmp"});
        QCOMPARE(shots.size(), 1);
        QCOMPARE(QImage(zsys::appDir() + "/" + shots.first()).size(), QSize(800, 480));
        QCOMPARE(sc.item("lock"), 0);
    }

    void tuningDialAndKnob()
    {
        Screen sc;
        sc.set("ts", 2);
        sc.set("lock", 0);
        const int f0 = sc.s->vfoFront("freq").value.toInt();
        turnKnob(sc.w.get(), -3, Qt::AltModifier); // the dial posts minus its count
        const int f1 = sc.s->vfoFront("freq").value.toInt();
        QVERIFY(f1 > f0);
        sc.set("lock", 1);
        turnKnob(sc.w.get(), -3, Qt::AltModifier);
        QCOMPARE(sc.s->vfoFront("freq").value.toInt(), f1);
        // The knob works the assigned item while no key has a target.
        sc.s->mfkKey = QStringLiteral("rxvol");
        sc.set("rxvol", 20);
        turnKnob(sc.w.get(), -1);
        QCOMPARE(sc.item("rxvol"), 21);
        turnKnob(sc.w.get(), 0);
        QCOMPARE(sc.item("rxvol"), 21);
        sc.tick();
        QVERIFY(sc.label("labelMFK")->text().contains(QLatin1String(">21")));
    }

    // ------------------------------------------------ VFO lines

    void splitShowsTheTransmittingVfoLarge()
    {
        Screen sc;
        sc.set("vi", 0);
        sc.s->setVfoFront("freq", 14100000);
        sc.s->setVfoBack("freq", 7050000);
        sc.s->setVfoBack("mode", 0);
        sc.set("sple", 1);
        sc.tick();
        QCOMPARE(digits(sc.w->mainVfo()), QStringLiteral("14100000"));
        QCOMPARE(sc.button("pushButton_frontVI")->text(), QStringLiteral("A"));
        QCOMPARE(sc.button("pushButton_backVI")->text(), QStringLiteral("B"));
        sc.s->trxState = 1;
        sc.tick();
        QCOMPARE(digits(sc.w->mainVfo()), QStringLiteral("07050000"));
        QCOMPARE(digits(sc.w->subVfo()), QStringLiteral("14100000"));
        QCOMPARE(sc.button("pushButton_backVI")->text(), QStringLiteral("A"));
        QCOMPARE(sc.button("pushButton_frontVI")->text(), QStringLiteral("B"));
        QCOMPARE(sc.button("pushButton_frontMode")->text(), QStringLiteral("LSB"));
        QCOMPARE(sc.w->scope()->mode(), 0); // the transmitting VFO's pass band
        sc.s->trxState = 0;
        sc.tick();
        QCOMPARE(digits(sc.w->mainVfo()), QStringLiteral("14100000"));

        // During a tuning run: no swap. Two requests start one run.
        sc.w->slot_civSetAtu(2);
        QVERIFY(sc.w->atuTuning());
        sc.w->slot_civSetAtu(2);
        sc.w->slot_atuTune();
        QCOMPARE(sc.w->displayCache().atuTuning, 1);
        QCOMPARE(sc.r->regs[ZRADIO_WORD_CONTROL].load() & ZRADIO_CTL_ATU_TUNE, ZRADIO_CTL_ATU_TUNE);
        sc.s->trxState = 1;
        sc.tick();
        QCOMPARE(digits(sc.w->mainVfo()), QStringLiteral("14100000"));
        QCOMPARE(sc.button("pushButton_backVI")->text(), QStringLiteral("B"));
        QCOMPARE(int(sc.s->atuActive.load()), 1);
        // The board reports the network: stored for this segment, sent.
        sc.w->slot_atuTune();
        QVERIFY(sc.w->atuTuning());
        sc.r->trailer[0] = BBFRAME_ST_ATU_BUSY;
        sc.r->trailer[3] = 0x030201; // c 1, l 2, s 3
        sc.w->slot_atuTune();
        QVERIFY(!sc.w->atuTuning());
        QCOMPARE(sc.r->regs[ZRADIO_WORD_CONTROL].load() & ZRADIO_CTL_ATU_TUNE, 0u);
        QCOMPARE(sc.item("atue"), 1);
        const zatu_network_t net = sc.s->atuNetworkInfo(14100000);
        QCOMPARE(int(net.c), 1);
        QCOMPARE(int(net.l), 2);
        QCOMPARE(int(net.s), 3);
        QCOMPARE(sc.r->regs[ZRADIO_WORD_ATU].load() & 0xFFFFFF, 0x030201u);
        QVERIFY(ztest::logContains("atu finished,l=2, c=1, s=3"));
        sc.tick();
        QCOMPARE(digits(sc.w->mainVfo()), QStringLiteral("07050000"));
    }

    // The tuner network of a frequency segment goes to the board when the
    // front frequency enters that segment.
    void tunerMemoryFollowsTheFrequency()
    {
        Screen sc;
        zatu_network_t net;
        net.c = 9;
        net.l = 8;
        net.s = 1;
        sc.s->saveAtuNetworkInfo(7020000, &net);
        sc.s->setVfoFront("freq", 14200000);
        sc.tick();
        QCOMPARE(sc.r->regs[ZRADIO_WORD_ATU].load() & 0xFFFFFF, 0u);
        sc.s->setVfoFront("freq", 7040000);
        sc.tick();
        QCOMPARE(sc.r->regs[ZRADIO_WORD_ATU].load() & 0xFFFFFF, 0x010809u);
        // Transmitting in split: the transmitting VFO's segment.
        sc.s->setVfoFront("freq", 14200000);
        sc.s->setVfoBack("freq", 7030000);
        sc.set("sple", 1);
        sc.tick();
        QCOMPARE(sc.r->regs[ZRADIO_WORD_ATU].load() & 0xFFFFFF, 0u);
        sc.s->trxState = 1;
        sc.tick();
        QCOMPARE(sc.r->regs[ZRADIO_WORD_ATU].load() & 0xFFFFFF, 0x010809u);
    }

    void memoryLineShowsTheChannel()
    {
        Screen sc;
        sc.set("vi", 0);
        sc.s->setVfoFront("freq", 7074000);
        sc.s->saveChItem(3, sc.s->logicVfoMemo());
        sc.s->updateChList();
        sc.w->switchVM();
        sc.tick();
        QVERIFY(sc.w->mainVfo()->isHidden());
        QVERIFY(!sc.w->memoryLabel()->isHidden());
        QVERIFY(sc.w->memoryLabel()->text().contains(QLatin1String(">07.074.000<")));
        // Without a name the slot label shows, on the VFO letter's place too.
        QVERIFY(sc.w->memoryLabel()->text().contains(QLatin1String(">M-4<")));
        QCOMPARE(sc.button("pushButton_frontVI")->text(), QStringLiteral("M-4"));
        // A rename shows with the next tick (operator text is not markup).
        sc.s->saveChItem(3, QStringLiteral("<b>DX</b>"));
        sc.tick();
        QVERIFY(sc.w->memoryLabel()->text().contains(QLatin1String(">&lt;b&gt;DX&lt;/b&gt;<")));
        sc.w->switchVM();
        sc.tick();
        QVERIFY(!sc.w->mainVfo()->isHidden());
        QVERIFY(sc.w->memoryLabel()->isHidden());
        QCOMPARE(sc.button("pushButton_frontVI")->text(), QStringLiteral("A"));
    }

    void frontLineShowsModeAgcAndFilter_data()
    {
        QTest::addColumn<int>("agc");
        QTest::addColumn<QString>("shown");
        QTest::addRow("0 off") << 0 << "AGC--";
        QTest::addRow("1 slow") << 1 << "AGC-S";
        QTest::addRow("2 fast") << 2 << "AGC-F";
        QTest::addRow("3 auto") << 3 << "AGC-A";
    }

    void frontLineShowsModeAgcAndFilter()
    {
        QFETCH(int, agc);
        QFETCH(QString, shown);
        Screen sc;
        sc.s->setVfoFront("agc", agc);
        sc.s->setVfoFront("mode", 3);
        sc.s->setVfoFront("pre", 1);
        sc.s->setVfoFront("att", 0);
        sc.s->setTwinFilterGroupIndex(1);
        sc.tick();
        QCOMPARE(sc.button("pushButton_frontAGC")->text(), shown);
        QCOMPARE(sc.button("pushButton_frontMode")->text(), QStringLiteral("U-DIG"));
        QCOMPARE(sc.button("pushButton_frontFilter")->text(), QStringLiteral("FIL2"));
        QCOMPARE(sc.button("pushButton_PRE")->styleSheet(), ZQRC::getQssFromQrcFile(":/vfotagbutton_enable.qss"));
        QCOMPARE(sc.button("pushButton_ATT")->styleSheet(), ZQRC::getQssFromQrcFile(":/vfotagbutton_disable.qss"));
    }

    void tagButtonsFollowTheirItems()
    {
        Screen sc;
        const QString on = ZQRC::getQssFromQrcFile(":/tagbutton_enable.qss");
        const QString off = ZQRC::getQssFromQrcFile(":/tagbutton_disable.qss");
        sc.set("nre", 1);
        sc.set("dnfe", 0);
        sc.set("sqlthr", 0);
        sc.tick();
        QCOMPARE(sc.button("pushButton_NR")->styleSheet(), on);
        QCOMPARE(sc.button("pushButton_DNF")->styleSheet(), off);
        QCOMPARE(sc.button("pushButton_SQL")->styleSheet(), off);
        sc.set("sqlthr", 40);
        sc.tick();
        QCOMPARE(sc.button("pushButton_SQL")->styleSheet(), on);
    }

    void knobReadoutsAndRitXit()
    {
        Screen sc;
        sc.set("rxvol", 30);
        sc.r->knobSelector = 0;
        sc.tick();
        QVERIFY(sc.label("labelVolum")->text().contains(QLatin1String(">VOLUME<")));
        QVERIFY(sc.label("labelVolum")->text().contains(QLatin1String(">30<")));
        sc.r->knobSelector = 2;
        sc.set("rfg", 77);
        sc.tick();
        QVERIFY(sc.label("labelVolum")->text().contains(QLatin1String(">RF GAIN<")));
        QVERIFY(sc.label("labelVolum")->text().contains(QLatin1String(">77<")));
        // The small knob turned the volume: a pop-up once.
        sc.r->volChanged = 1;
        sc.tick();
        QCOMPARE(sc.w->infoLabel()->text(), QStringLiteral("VOLUM:30"));
        QCOMPARE(int(sc.r->volChanged.load()), 0);

        sc.set("rit", 120);
        sc.set("xit", -350);
        sc.tick();
        QVERIFY(sc.label("labelRitXit")->text().contains(QLatin1String("RIT<")));
        QVERIFY(sc.label("labelRitXit")->text().endsWith(QLatin1String("+120 Hz")));
        sc.s->trxState = 1;
        sc.tick();
        QVERIFY(sc.label("labelRitXit")->text().contains(QLatin1String("XIT<")));
        QVERIFY(sc.label("labelRitXit")->text().endsWith(QLatin1String("-350 Hz")));
        // The lock icon.
        sc.set("lock", 1);
        sc.tick();
        QCOMPARE(sc.button("pushButton_Lock")->text(), QString(QChar(0xF023)));
        sc.set("lock", 0);
        sc.tick();
        QCOMPARE(sc.button("pushButton_Lock")->text(), QString(QChar(0xF09C)));
    }

    // ------------------------------------------------ clock and supply

    void batteryGlyphAndColour_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("glyph");
        QTest::addColumn<QString>("colour");
        QTest::newRow("20 percent") << 20 << 0xF243 << "red";
        QTest::newRow("39 percent") << 39 << 0xF243 << "red";
        QTest::newRow("40 percent") << 40 << 0xF242 << "yellow";
        QTest::newRow("59 percent") << 59 << 0xF242 << "yellow";
        QTest::newRow("60 percent") << 60 << 0xF241 << "white";
        QTest::newRow("80 percent") << 80 << 0xF240 << "white";
        QTest::newRow("19 percent") << 19 << 0xF244 << "red";
    }

    void batteryGlyphAndColour()
    {
        QFETCH(int, capacity);
        QFETCH(int, glyph);
        QFETCH(QString, colour);
        Screen sc;
        setSupply(sc.r, 0.0f, 7.8f, capacity);
        sc.second();
        QPushButton *b = sc.button("pushButton_Charge");
        QCOMPARE(b->text(), QString(QChar(glyph)));
        QVERIFY(b->styleSheet().contains("color:" + colour + ";"));
        QCOMPARE(sc.button("pushButton_Battery")->text(), QStringLiteral("7.8V"));
        QVERIFY(!sc.button("pushButton_Battery")->isHidden());
        QCOMPARE(sc.s->vsupply.load(), 7.8f);
        // Charging (enabled and reported) puts the bolt in front.
        sc.set("chge", 1);
        sc.r->chgFlag = 1;
        sc.second();
        QCOMPARE(b->text(), QString(QChar(0xF0E7)) + ' ' + QChar(glyph));
        QCOMPARE(int(sc.s->charging.load()), 1);
    }

    void clockShowsLocalTimeAndUtc()
    {
        Screen sc;
        sc.second();
        const QString t = sc.label("labelTime")->text();
        QVERIFY(t.contains(QRegularExpression(">\\d\\d:\\d\\d:\\d\\d  <")));
        QVERIFY(t.contains(QRegularExpression("<br>UTC \\d\\d:\\d\\d$")));
    }

    void batteryLimitsPowerAndBacklight()
    {
        Screen sc;
        sc.set("bllevel", 9);
        sc.set("txpwr", 8.0f);
        sc.supply(true);
        QCOMPARE(sc.s->txPowerMax.load(), 10.0f);
        QCOMPARE(sc.item("bllevel"), 9);
        sc.supply(false);
        QCOMPARE(sc.s->txPowerMax.load(), 5.0f);
        QCOMPARE(sc.s->paramItem(W, "txpwr").value.toFloat(), 5.0f);
        QCOMPARE(sc.item("bllevel"), 5);
        // Back on the external supply the limit rises, the level stays.
        sc.supply(true);
        QCOMPARE(sc.s->txPowerMax.load(), 10.0f);
        QCOMPARE(sc.item("bllevel"), 5);
    }

    // A low battery shows its countdown only while the board reports; the
    // counting itself is in the supply watch's own test.
    void lowBatteryCountdownOnScreen()
    {
        ztest::Sysroot root;
        Pty uart;
        QVERIFY(uart.open(Pty::KeepSlave | Pty::NonBlockingMaster));
        QVERIFY(uart.link(root.path() + "/dev/ttyS1"));
        TestWindow w;
        w.updateTimer()->stop();
        w.clockTimer()->stop();
        zradio_t *r = w.radio();
        auto report = [&](int capacity, float vbat) {
            Trailer t;
            t.vbat = uint8_t(std::lround(vbat * 10));
            t.batcap = uint8_t(capacity);
            return uart.write(makeFrame(t));
        };
        QVERIFY(report(4, 7.0f));
        QTRY_COMPARE(zradio_get_report_batcap(), 4);
        QTRY_COMPARE(zradio_comm_valid(), uint8_t(1));
        QCOMPARE(zradio_get_vextflag(), uint8_t(0));
        QStringList shown;
        for (int s = 0; s < 14; ++s) {
            if (s % 4 == 0)
                QVERIFY(report(4, 7.0f)); // keeps the link valid
            w.slot_infoLabelHide();
            w.slot_rtcUpdate();
            shown << (w.infoLabel()->isHidden() ? QString() : w.infoLabel()->text());
        }
        QCOMPARE(shown.at(8), QString());
        QCOMPARE(shown.at(9), QStringLiteral("LOW BATTERY, POWER DOWN IN 29S"));
        QCOMPARE(shown.at(13), QStringLiteral("LOW BATTERY, POWER DOWN IN 25S"));
        // 5 % cancels it.
        QVERIFY(report(5, 7.0f));
        QTRY_COMPARE(zradio_get_report_batcap(), 5);
        w.slot_infoLabelHide();
        w.slot_rtcUpdate();
        QVERIFY(w.infoLabel()->isHidden());
        Q_UNUSED(r);
    }

    // ------------------------------------------------ meters and feed

    void receiveLevelOnMeterAndStore_data()
    {
        QTest::addColumn<float>("peak");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("meter");
        QTest::addColumn<float>("stored");
        QTest::addRow("-80 dBm peak") << -80.0f << "-073dBm" << 45 << -73.0f;
        QTest::addRow("-140 dBm peak") << -140.0f << "-133dBm" << 0 << -123.0f;
        QTest::addRow("-20 dBm peak") << -20.0f << "-013dBm" << 100 << -13.0f;
    }

    void receiveLevelOnMeterAndStore()
    {
        QFETCH(float, peak);
        QFETCH(QString, text);
        QFETCH(int, meter);
        QFETCH(float, stored);
        Screen sc;
        sc.tick();
        std::vector<float> mag(512, -120.0f);
        sc.r->fftPeak = peak;
        sc.w->feedSpectrumFrame(mag.data(), 512);
        QCOMPARE(sc.w->scope()->statusText(), text);
        QCOMPARE(sc.w->sMeter()->value(), meter);
        QCOMPARE(sc.w->swrMeter()->value(), 0);
        QCOMPARE(sc.s->signalLevel.load(), stored);
        QCOMPARE(sc.s->fwdPower.load(), 0.0f);
        QCOMPARE(sc.w->sMeter()->tickLabels().at(4), QStringLiteral("9"));
    }

    void transmitMetersSmooth()
    {
        Screen sc;
        sc.s->trxState = 1;
        sc.tick();
        // The meter's scale turns to power at once.
        QCOMPARE(sc.w->sMeter()->tickLabels().first(), QStringLiteral("P"));
        QCOMPARE(sc.w->sMeter()->tickLabels().last(), QStringLiteral("10"));
        QCOMPARE(sc.w->sMeter()->tickPositions().at(5), 0.5f);
        QCOMPARE(sc.w->sMeter()->tickColors().last(), QColor(255, 0, 0));
        setMeters(sc.r, 5.0f, 15, 7);
        std::vector<float> mag(512, -120.0f);
        QList<int> power, swr;
        QSignalSpy posted(sc.w.get(), &MainWidget::sig_postSwrValue);
        for (int i = 0; i < 3; ++i) {
            if (i == 1)
                sc.w->slot_swrScanNextPoint();
            sc.w->feedSpectrumFrame(mag.data(), 512);
            power << sc.w->sMeter()->value();
            swr << sc.w->swrMeter()->value();
        }
        QCOMPARE(power, (QList<int>{30, 42, 46}));
        QCOMPARE(swr, (QList<int>{8, 11, 11}));
        QCOMPARE(sc.w->scope()->statusText(), QStringLiteral("PWR:4.7W\r\nALC:7  "));
        QVERIFY(std::fabs(sc.s->fwdPower.load() - 4.68f) < 1e-4f);
        QCOMPARE(sc.s->swr.load(), 1.5f);
        QCOMPARE(sc.s->signalLevel.load(), 0.0f);
        // The SWR scanner's request: the smoothed value once, on the next
        // transmitting frame.
        QCOMPARE(posted.count(), 1);
        QVERIFY(std::fabs(posted.at(0).at(0).toFloat() - 1.485f) < 1e-4f);
        // Back to receive: the S scale, the SWR smoothing carries over.
        sc.s->trxState = 0;
        sc.tick();
        QCOMPARE(sc.w->sMeter()->tickLabels().first(), QStringLiteral("S"));
        sc.s->trxState = 1;
        sc.tick();
        sc.w->feedSpectrumFrame(mag.data(), 512);
        QCOMPARE(sc.w->swrMeter()->value(), 11);
    }

    void panadapterPointsWhileTransmitting_data()
    {
        QTest::addColumn<int>("fftdec");
        QTest::addColumn<bool>("tx");
        QTest::addColumn<int>("points");
        QTest::addRow("exponent 2 transmitting") << 2 << true << 128;
        QTest::addRow("exponent 3 transmitting") << 3 << true << 64;
        QTest::addRow("exponent 1 transmitting") << 1 << true << 512;
        QTest::addRow("exponent 0 transmitting") << 0 << true << 512;
        QTest::addRow("exponent 2 receiving") << 2 << false << 512;
    }

    void panadapterPointsWhileTransmitting()
    {
        QFETCH(int, fftdec);
        QFETCH(bool, tx);
        QFETCH(int, points);
        Screen sc;
        sc.set("fftdec", fftdec);
        sc.s->trxState = tx ? 1 : 0;
        sc.tick();
        QCOMPARE(sc.w->scope()->zoom(), float(1 << fftdec));
        std::vector<float> mag(512);
        for (int i = 0; i < 512; ++i)
            mag[size_t(i)] = -120.0f + float(i % 7);
        sc.w->feedSpectrumFrame(mag.data(), 512);
        QCOMPARE(sc.w->panadapterTrace().size(), points);
        QCOMPARE(sc.w->civTrace().size(), 475);
        QCOMPARE(sc.w->panadapterTrace().first(), mag.front());
        QCOMPARE(sc.w->panadapterTrace().last(), mag.back());
    }

    void civTraceFollowsThePanadapter()
    {
        Screen sc;
        sc.tick();
        std::vector<float> mag(256);
        for (int i = 0; i < 256; ++i)
            mag[size_t(i)] = -140.0f + float(i) * 0.25f;
        sc.w->feedSpectrumFrame(mag.data(), 256);
        const QVector<float> &t = sc.w->civTrace();
        QCOMPARE(t.size(), 475);
        QCOMPARE(t.first(), mag.front());
        QCOMPARE(t.last(), mag.back());
        QCOMPARE(t.at(2), mag[1]); // repetition: position 2 x 256/475
        // The CI-V device has it: its scope frame carries the trace.
        QByteArray frame;
        sc.w->civAdmin()->device()->loadScopeData(frame);
        const QByteArray bytes = frame.right(475);
        for (int i : {0, 100, 474})
            QCOMPARE(int(uint8_t(bytes[i])), civconv::scopeByte(t.at(i)));
    }

    // The filter view, the front line, the panadapter's pass band and the
    // peak search follow the current twin filter.
    void filterFollowUp()
    {
        Screen sc;
        sc.set("center_mode", 0);
        sc.s->setVfoFront("mode", 2);
        sc.set("cwtone", 800);
        sc.tick();
        QSignalSpy updated(sc.w.get(), &MainWidget::sig_updateFilter);
        sc.tick();
        QCOMPARE(updated.count(), 0); // nothing changed
        sc.s->modifyTwinFilterGroup(1);
        sc.tick();
        QCOMPARE(updated.count(), 1);
        const ztwinfilter_t f = sc.s->twinFilter();
        QCOMPARE(sc.w->filterView()->name(), QStringLiteral("FIL%1").arg(sc.s->twinFilterGroupIndex() + 1));
        QCOMPARE(sc.button("pushButton_frontFilter")->text(), sc.w->filterView()->name());
        QCOMPARE(sc.w->filterView()->rangeLow(), f.limits.low);
        QCOMPARE(sc.w->filterView()->rangeHigh(), f.limits.high);
        QCOMPARE(sc.w->filterView()->passBand(0).low, f.fp1.low);
        QCOMPARE(sc.w->scope()->mode(), 2);
        // The peak search inside the pass band, less the CW pitch (not in
        // centre mode).
        const float low = qMax(f.fp1.low, f.fp2.low) - 800.0f;
        const float high = qMin(f.fp1.high, f.fp2.high) - 800.0f;
        QCOMPARE(sc.r->peakBorderLow, low);
        QCOMPARE(sc.r->peakBorderHigh, high);

        // CW at a 700 Hz pitch: the view spans 1200 Hz around the filter's
        // centre, bands and range shifted by the pitch.
        sc.set("cwtone", 700);
        sc.s->setVfoFront("mode", 4);
        sc.s->setTwinFilterGroupIndex(0);
        sc.tick();
        const ztwinfilter_t cw = sc.s->twinFilter();
        QCOMPARE(cw.name, QStringLiteral("CW"));
        QCOMPARE(cw.offset, -100.0f);
        QCOMPARE(sc.w->filterView()->rangeLow(), cw.center - 600.0f - 100.0f);
        QCOMPARE(sc.w->filterView()->rangeHigh(), cw.center + 600.0f - 100.0f);
        QCOMPARE(sc.w->filterView()->passBand(0).low, cw.fp1.low - 100.0f);
        // Real edges 450..950 less the pitch.
        QCOMPARE(sc.r->peakBorderLow, 450.0f - 700.0f);
        QCOMPARE(sc.r->peakBorderHigh, 950.0f - 700.0f);
        // Centre mode: the real edges themselves.
        sc.set("center_mode", 1);
        sc.s->setVfoFront("freq", sc.s->vfoFront("freq").value.toInt() + 100);
        sc.tick();
        QVERIFY(sc.w->scope()->centerMode());
        QCOMPARE(sc.r->peakBorderLow, 450.0f);
    }

    void audioAreaAndLevels()
    {
        Screen sc;
        sc.set("audio_scope", 1);
        sc.set("affftave", 3);
        sc.set("affftref", -5);
        sc.set("fftref", 4);
        sc.tick();
        QCOMPARE(sc.w->scope()->geometry(), QRect(0, 176, 600, 250));
        QVERIFY(!sc.w->audioScope()->isHidden());
        QVERIFY(!sc.w->xyPlot()->isHidden());
        QVERIFY(std::fabs(sc.w->audioScope()->average() - 0.70f) < 1e-6f);
        QCOMPARE(sc.w->audioScope()->referenceLevel(), -5.0f);
        QCOMPARE(sc.w->scope()->levelOffset(), 4.0f);
        QCOMPARE(sc.w->audioScope()->divisions(), 8);
        QCOMPARE(sc.w->audioScope()->floorDb(), -20.0f);
        QCOMPARE(sc.w->audioScope()->frequencySpan(), 16000.0f);
        // The audio capture's products reach both plots.
        std::vector<float> spectrum(512, -30.0f), sam(800, 0.1f);
        sc.w->slot_audioFFTReady(spectrum.data(), 512);
        sc.w->slot_audioSamReady(sam.data(), 800);
        QCOMPARE(sc.w->audioScope()->trace().size(), 512);
        QCOMPARE(sc.w->xyPlot()->samples().size(), 800);
        sc.set("audio_scope", 0);
        sc.tick();
        QCOMPARE(sc.w->scope()->geometry(), QRect(0, 176, 800, 250));
        QVERIFY(sc.w->audioScope()->isHidden());
        // The modem dialog's layout and back.
        sc.w->enterModemLayout();
        QCOMPARE(sc.w->scope()->height(), 87);
        QCOMPARE(sc.w->scope()->fftHeightRatio(), 0.65f);
        QCOMPARE(sc.w->scope()->labelFont().pointSize(), 10);
        sc.w->leaveModemLayout();
        QCOMPARE(sc.w->scope()->geometry(), QRect(0, 176, 800, 250));
        QCOMPARE(sc.w->scope()->fftHeightRatio(), 0.5f);
        QCOMPARE(sc.w->scope()->labelFont().pointSize(), 12);
    }

    // ------------------------------------------------ function keys

    void startsInGroupZeroWithoutKnobTarget()
    {
        Screen sc;
        QCOMPARE(sc.w->currentGroup(), 0);
        QCOMPARE(sc.w->functionKeyTag(0), QStringLiteral("RADIO\nSETTING1"));
        QCOMPARE(sc.w->functionKeyTag(4), QStringLiteral("MEMORY\nEDIT"));
        QCOMPARE(sc.w->mfkIndex(), -1);
        QVERIFY(sc.w->knobTable().isEmpty() && sc.w->knobKey().isEmpty());
        QCOMPARE(sc.w->focusWidget(), sc.label("labelMFK"));
        QVERIFY(sc.w->getFunctionKey(0)->text().isEmpty());
        QVERIFY(!sc.w->getFunctionKey(0)->icon().isNull());
        QCOMPARE(sc.w->getFunctionKey(5), nullptr);
    }

    void groupKeyTurnsPages()
    {
        Screen sc;
        groupKey(sc.w.get(), 3);
        QCOMPARE(sc.w->currentGroup(), 2);
        QCOMPARE(sc.w->groups().at(2).page, 0);
        QCOMPARE(sc.w->functionKeyTag(0), QStringLiteral("<1>KEY TYPE"));
        groupKey(sc.w.get(), 3);
        QCOMPARE(sc.w->groups().at(2).page, 1);
        QCOMPARE(sc.w->functionKeyTag(0), QStringLiteral("<2>QSK TIME"));
        QCOMPARE(sc.w->functionKeyTag(3), QString());
        QCOMPARE(sc.w->functionKeyValue(3), QString());
        groupKey(sc.w.get(), 3);
        QCOMPARE(sc.w->groups().at(2).page, 0);
        // Another group keeps the page of this one.
        groupKey(sc.w.get(), 3);
        groupKey(sc.w.get(), 5);
        QCOMPARE(sc.w->currentGroup(), 4);
        QCOMPARE(sc.w->functionKeyTag(0), QStringLiteral("<1> NR   "));
        groupKey(sc.w.get(), 3);
        QCOMPARE(sc.w->groups().at(2).page, 1);
        // Other modifiers are not group keys.
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_1, Qt::ControlModifier | Qt::AltModifier);
        QCOMPARE(sc.w->currentGroup(), 2);
    }

    void pageTurnKeepsTheSelectionOnAKey()
    {
        Screen sc;
        groupKey(sc.w.get(), 3);
        sc.w->getFunctionKey(4)->click(); // TONE LEVEL
        QCOMPARE(sc.w->knobKey(), QStringLiteral("cwvol"));
        QCOMPARE(sc.w->mfkIndex(), 4);
        groupKey(sc.w.get(), 3);
        QCOMPARE(sc.w->groups().at(2).selected, 2);
        QCOMPARE(sc.w->knobKey(), QStringLiteral("cwtrain"));
        QCOMPARE(sc.w->mfkIndex(), 2);
    }

    void clicksToggleOrTarget()
    {
        Screen sc;
        groupKey(sc.w.get(), 3);
        sc.set("kimb", 1);
        sc.w->getFunctionKey(2)->click(); // IAMBIC
        QCOMPARE(sc.item("kimb"), 0);
        QCOMPARE(sc.w->knobKey(), QStringLiteral("kimb"));
        QCOMPARE(sc.w->functionKeyValue(2), sc.s->paramItem(W, "kimb").valueForDisp());
        sc.w->getFunctionKey(2)->click();
        QCOMPARE(sc.item("kimb"), 1);
        QCOMPARE(sc.w->knobKey(), QStringLiteral("kimb"));
        const int ks = sc.item("ks");
        sc.w->getFunctionKey(1)->click(); // KEY SPEED: 5..50, only the target
        QCOMPARE(sc.item("ks"), ks);
        QCOMPARE(sc.w->knobTable(), QStringLiteral("wparam"));
        QCOMPARE(sc.w->knobKey(), QStringLiteral("ks"));
        QCOMPARE(sc.w->mfkIndex(), 1);
        // Three values cycle.
        sc.set("km", 0);
        for (int expect : {1, 2, 0}) {
            sc.w->getFunctionKey(0)->click();
            QCOMPARE(sc.item("km"), expect);
        }
        // DI/DA ratio 2.5 .. 4.5 steps by 1.0 and wraps.
        groupKey(sc.w.get(), 3);
        sc.set("kr", 3.0f);
        sc.w->getFunctionKey(1)->click();
        QCOMPARE(sc.s->paramItem(W, "kr").value.toFloat(), 4.0f);
        sc.w->getFunctionKey(1)->click();
        QCOMPARE(sc.s->paramItem(W, "kr").value.toFloat(), 2.5f);
        // The knob steps the target and the face follows.
        groupKey(sc.w.get(), 3);
        sc.w->getFunctionKey(1)->click();
        turnKnob(sc.w.get(), -1);
        QCOMPARE(sc.item("ks"), ks + 1);
        QCOMPARE(sc.w->functionKeyValue(1), sc.s->paramItem(W, "ks").valueForDisp());
        // A key without an item (a launcher) takes the target away.
        groupKey(sc.w.get(), 1);
        sc.w->getFunctionKey(0)->click();
        QVERIFY(sc.w->knobKey().isEmpty());
        QCOMPARE(sc.w->mfkIndex(), -1);
    }

    void messageKeysShowTheirTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addRow("13 characters") << "CQ CQ DE ZR45" << "CQ CQ DE...";
        QTest::addRow("8 characters") << "ABCDEFGH" << "ABCDEFGH...";
        QTest::addRow("7 characters") << "TEST DE" << "TEST DE";
        QTest::addRow("empty") << "" << "<EMPTY>";
    }

    void messageKeysShowTheirTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        Screen sc;
        sc.set("msg03", text);
        groupKey(sc.w.get(), 4);
        QCOMPARE(sc.w->functionKeyTag(2), QStringLiteral("MGS 3"));
        QCOMPARE(sc.w->functionKeyValue(2), shown);
        QCOMPARE(sc.w->functionKeyTag(0), QStringLiteral("<1> MGS 1"));
        groupKey(sc.w.get(), 4);
        QCOMPARE(sc.w->functionKeyTag(0), QStringLiteral("<2> MGS 1"));
        QCOMPARE(sc.w->functionKeyValue(2), QStringLiteral("VOICE"));
    }

    void messageTextIsEditedOnRelease()
    {
        Screen sc;
        sc.set("msg02", QStringLiteral("OLD"));
        groupKey(sc.w.get(), 4);
        // Cancelled: nothing changes.
        tapKey(sc.w.get(), Qt::Key_F2);
        QCOMPARE(sc.w->editorTitles, QStringList{"MSG 2"});
        QCOMPARE(sc.w->editorTexts, QStringList{"OLD"});
        QCOMPARE(sc.s->paramItem(W, "msg02").value.toString(), QStringLiteral("OLD"));
        // Accepted: stored, and its key shows it.
        sc.w->editorAccepts = true;
        sc.w->editorResult = QStringLiteral("CQ CQ DE ZR450 K");
        tapKey(sc.w.get(), Qt::Key_F2);
        QCOMPARE(sc.s->paramItem(W, "msg02").value.toString(), QStringLiteral("CQ CQ DE ZR450 K"));
        QCOMPARE(sc.w->functionKeyValue(1), QStringLiteral("CQ CQ DE..."));
        QVERIFY(ztest::logContains("text saved."));
        // A click of a message key never steps its text.
        QCOMPARE(sc.w->knobKey(), QStringLiteral("msg02"));
        turnKnob(sc.w.get(), 1);
        QCOMPARE(sc.s->paramItem(W, "msg02").value.toString(), QStringLiteral("CQ CQ DE ZR450 K"));
        // The voice page records message 1: the recording source is on
        // while the recorder is open, and off once it is closed.
        groupKey(sc.w.get(), 4);
        QString opened;
        int sourceWhileOpen = -1;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&]() {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                opened = QString::fromLatin1(d->metaObject()->className());
                sourceWhileOpen = sc.r->voiceRec.load();
                d->reject();
            }
        });
        poll.start(20);
        tapKey(sc.w.get(), Qt::Key_F1);
        poll.stop();
        QCOMPARE(opened, QStringLiteral("DialogVoiceRec"));
        QCOMPARE(sourceWhileOpen, 1);
        QCOMPARE(sc.w->editorTitles.size(), 2);
        QCOMPARE(int(sc.r->voiceRec.load()), 0);
    }

    // Releasing F3 runs the release handler (which opens the display
    // settings) before the click handler (which selects the key).
    void releaseOfAKeyRunsBeforeItsClick()
    {
        Screen sc;
        QStringList order;
        QPushButton *f3 = sc.w->getFunctionKey(2);
        connect(f3, &QPushButton::released, this, [&]() {
            order << QStringLiteral("released");
            QVERIFY(sc.w->displaySettingsPanel() != nullptr); // the window's handler ran first
        });
        connect(f3, &QPushButton::clicked, this, [&]() { order << QStringLiteral("clicked"); });
        sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_F3);
        QVERIFY(f3->isDown());
        sendKey(sc.w.get(), QEvent::KeyRelease, Qt::Key_F3);
        QVERIFY(!f3->isDown());
        QCOMPARE(order, (QStringList{"released", "clicked"}));
        QCOMPARE(sc.w->groups().at(0).selected, 2);
        // Placed from the panadapter's top-left to the window's bottom.
        const QRect a = sc.w->scopeRect();
        const QRect win = sc.w->windowRect();
        QCOMPARE(sc.w->displaySettingsPanel()->geometry(),
                 QRect(a.x(), a.y(), win.width(), win.bottom() - a.y() + 1));
        QVERIFY(qobject_cast<ZRadioDisplaySettings *>(sc.w->displaySettingsPanel()));
        // A second release closes it and the keys are drawn again.
        sc.w->getFunctionKey(0)->setIcon(QIcon());
        tapKey(sc.w.get(), Qt::Key_F3);
        flushDeletes();
        QVERIFY(!sc.w->displaySettingsPanel());
        QVERIFY(!sc.w->getFunctionKey(0)->icon().isNull());
        QVERIFY(ztest::logContains("Panel destroyed,"));
    }

    void radioSettingsToggleOnEitherKey()
    {
        Screen sc;
        tapKey(sc.w.get(), Qt::Key_F1);
        auto *p = qobject_cast<ZRadioSetting *>(sc.w->radioSettingPanel());
        QVERIFY(p);
        QCOMPARE(p->page(), 0);
        QCOMPARE(p->geometry(), sc.w->scopeRect());
        // A second release of F1 closes it.
        tapKey(sc.w.get(), Qt::Key_F1);
        flushDeletes();
        QVERIFY(!sc.w->radioSettingPanel());
        QCOMPARE(ZRadioSetting::instances(), 0);
        // F2 opens page 2; F2 or F1 again closes rather than switching.
        tapKey(sc.w.get(), Qt::Key_F2);
        p = qobject_cast<ZRadioSetting *>(sc.w->radioSettingPanel());
        QVERIFY(p);
        QCOMPARE(p->page(), 1);
        tapKey(sc.w.get(), Qt::Key_F1);
        flushDeletes();
        QVERIFY(!sc.w->radioSettingPanel());
        // Closed by its own close button: the window knows.
        tapKey(sc.w.get(), Qt::Key_F2);
        QVERIFY(sc.w->radioSettingPanel());
        static_cast<ZFrame *>(sc.w->radioSettingPanel())->functionButton(4)->click();
        flushDeletes();
        QVERIFY(!sc.w->radioSettingPanel());
        tapKey(sc.w.get(), Qt::Key_F2);
        QVERIFY(sc.w->radioSettingPanel());
    }

    void channelEditorTogglesAboveThePanadapter()
    {
        Screen sc;
        tapKey(sc.w.get(), Qt::Key_F5);
        QCOMPARE(sc.w->channelEditors, 1);
        QVERIFY(sc.w->channelEditorPanel());
        const QRect a = sc.w->scopeRect();
        const QRect win = sc.w->windowRect();
        QCOMPARE(sc.w->channelEditorArea, QRect(a.x(), a.y() - 50, win.width(), win.bottom() - a.y() + 51));
        tapKey(sc.w.get(), Qt::Key_F5);
        flushDeletes();
        QVERIFY(!sc.w->channelEditorPanel());
        QCOMPARE(sc.w->channelEditors, 1);
    }

    void filterPanelOpensOnceOnCtrl6()
    {
        Screen sc;
        int whileOpen = -1;
        bool entryOpened = true;
        sc.w->whileFilterOpen = [&](QDialog *) {
            groupKey(sc.w.get(), 6);
            whileOpen = sc.w->filterPanels;
            // The microphone's Enter belongs to the panel meanwhile.
            sendKey(sc.w.get(), QEvent::KeyPress, Qt::Key_Enter, Qt::NoModifier, QStringLiteral("HMIC-Enter"));
            entryOpened = sc.w->frequencyEntry() != nullptr;
        };
        groupKey(sc.w.get(), 6);
        QCOMPARE(whileOpen, 1);
        QVERIFY(!entryOpened);
        QCOMPARE(sc.w->filterPanels, 1);
        flushDeletes();
        QVERIFY(!sc.w->filterSettingsPanel());
        // Closed, it opens again.
        sc.w->whileFilterOpen = nullptr;
        groupKey(sc.w.get(), 6);
        QCOMPARE(sc.w->filterPanels, 2);
    }

    // The modal screens the function keys open, each closed again by its
    // own Escape: the window is the operating screen again afterwards.
    void launchKeysOpenTheirScreens_data()
    {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("screen");
        QTest::newRow("group 0 F4: system menu") << 1 << int(Qt::Key_F4) << "ZRadioSystemSetting";
        QTest::newRow("group 1 F2: SWR scanner") << 2 << int(Qt::Key_F2) << "DialogSwrScanner";
        QTest::newRow("group 1 F3: voice call") << 2 << int(Qt::Key_F3) << "DialogVoiceCall";
        QTest::newRow("group 1 F4: nothing") << 2 << int(Qt::Key_F4) << "";
        QTest::newRow("group 1 F5: nothing") << 2 << int(Qt::Key_F5) << "";
    }
    void launchKeysOpenTheirScreens()
    {
        QFETCH(int, group);
        QFETCH(int, key);
        QFETCH(QString, screen);
        Screen sc;
        groupKey(sc.w.get(), group);
        QString opened;
        QRect area;
        // Runs inside the dialog's own event loop.
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&]() {
            if (QWidget *m = QApplication::activeModalWidget()) {
                opened = QString::fromLatin1(m->metaObject()->className());
                area = m->geometry();
                if (auto *d = qobject_cast<QDialog *>(m))
                    d->reject();
            }
        });
        poll.start(20);
        tapKey(sc.w.get(), key);
        poll.stop();
        QCOMPARE(opened, screen);
        if (!screen.isEmpty())
            QVERIFY2(QRect(0, 0, 800, 480).contains(area), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height())));
        flushDeletes();
        QCOMPARE(sc.w->scope()->geometry(), QRect(0, 176, 800, 250));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    // ------------------------------------------------ against the simulator

    // The window on the simulator's board: nothing enters the log once it
    // runs; the front panel operates it and the screen shows the board's
    // reports; CAT programs read what the screen shows.
    void operatingAgainstSimulator()
    {
        ztest::Sysroot root;
        Sim sim;
        QVERIFY(sim.start(root.path()));
        // No Bluetooth client: the radio's usual state (the port appears
        // only while one is connected).
        QFile::remove(root.path() + "/dev/rfcomm0");
        TestWindow w;
        QVERIFY(activate(&w));
        ZParamAdmin *s = w.paramAdmin();
        // Waits for the simulator's board, generous for a busy machine.
        const int kWait = 20000;
        uint32_t regs[ZRADIO_REG_WORDS];
        int tx = 0;
        auto status = [&]() { return sim.status(regs, &tx); };
        QTRY_VERIFY_WITH_TIMEOUT(status() && regs[ZRADIO_WORD_REFRESH] == ZRADIO_REFRESH_MARK, 20000);

        // Steady state: past the delayed stage and the CI-V line's first
        // quiet period, three seconds add no line to the log. (A sound-card
        // overrun is an event, not chatter: a busy machine may cause one,
        // and the capture reports it.)
        QTest::qWait(12000);
        ztest::clearLog();
        QTest::qWait(3000);
        QStringList lines = ztest::logLines();
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const QString &l) { return l.startsWith(QLatin1String("pcm capture error")); }),
                    lines.end());
        QVERIFY2(lines.isEmpty(), qPrintable(lines.join('\n')));

        // The dial moves the readout and the tuning line.
        s->setParamItem(W, "ts", 2);
        s->setParamItem(W, "vi", 0);
        s->setParamItem(W, "center_mode", 0);
        s->setVfoFront("freq", 14260000);
        QTRY_COMPARE_WITH_TIMEOUT(w.mainVfo()->frequency(), 14260000u, kWait);
        const float x0 = w.scope()->tuningX();
        QVERIFY(sim.command("dial 10").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.mainVfo()->frequency(), 14261000u, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(w.scope()->tuningX() - x0 - 1000.0f * 800 / 100000) < 1.0f, kWait);

        // The VFO key swaps A and B on screen.
        s->setVfoBack("freq", 7050000);
        QTRY_COMPARE_WITH_TIMEOUT(w.subVfo()->frequency(), 7050000u, kWait);
        QVERIFY(sim.command("key 207 100").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QPushButton *>("pushButton_frontVI")->text(), QStringLiteral("B"), kWait);
        QCOMPARE(w.mainVfo()->frequency(), 7050000u);
        QCOMPARE(w.subVfo()->frequency(), 14261000u);
        QVERIFY(sim.command("key 207 100").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QPushButton *>("pushButton_frontVI")->text(), QStringLiteral("A"), kWait);

        // Off and on a carrier (-70 dBm at 14.250 MHz): the S meter rises.
        s->setVfoFront("mode", 2);
        s->setVfoFront("freq", 14262000);
        QTest::qWait(1500);
        const int off = w.sMeter()->value();
        s->setVfoFront("freq", 14250000);
        QTRY_VERIFY2_WITH_TIMEOUT(w.sMeter()->value() > off + 15,
                                  qPrintable(QString("off %1, on %2, level %3, front %4")
                                                 .arg(off)
                                                 .arg(w.sMeter()->value())
                                                 .arg(double(s->signalLevel.load()))
                                                 .arg(s->vfoFront("freq").value.toInt())),
                                  5000);
        QTRY_VERIFY_WITH_TIMEOUT(std::fabs(s->signalLevel.load() + 70.0f) < 4.0f, kWait);
        shot("receive");

        // CI-V 27 00: the trace's peak where the carrier is.
        {
            const int fd = ::open(qPrintable(root.path() + "/dev/ttyS2.host"), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            ztest::AtExit closeFd([fd]() { ::close(fd); });
            termios tio;
            tcgetattr(fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(fd, TCSANOW, &tio);
            QByteArray reply;
            const QByteArray head = hexBytes("FE FE E0 A4 27 00");
            for (int tries = 0; tries < 10 && !(reply.contains(head) && reply.endsWith(char(0xFD))); ++tries) {
                ztest::drainFd(fd);
                const QByteArray req = hexBytes("FE FE A4 E0 27 00 FD");
                QVERIFY(ztest::writeAll(fd, req.constData(), size_t(req.size())));
                QElapsedTimer t;
                t.start();
                reply.clear();
                while (t.elapsed() < 1000 && !(reply.size() > 480 && reply.endsWith(char(0xFD)))) {
                    QTest::qWait(20);
                    reply += ztest::drainFd(fd);
                }
            }
            const int start = reply.indexOf(head);
            QVERIFY2(start >= 0, qPrintable(reply.toHex(' ')));
            const QByteArray trace = reply.mid(start + 12, 475);
            QCOMPARE(trace.size(), 475);
            int peakAt = 0;
            for (int i = 0; i < 475; ++i)
                if (uint8_t(trace[i]) > uint8_t(trace[peakAt]))
                    peakAt = i;
            const double centre = double(s->ploFreq.load());
            const int expect = int((14250000.0 - centre + 50000.0) / 100000.0 * 475.0);
            QVERIFY2(std::abs(peakAt - expect) <= 3, qPrintable(QString("%1 %2").arg(peakAt).arg(expect)));
        }

        // rigctl reads the S meter the screen shows.
        const QString rigctl = QStandardPaths::findExecutable("rigctl");
        QVERIFY2(!rigctl.isEmpty(), "rigctl (Debian package libhamlib-utils) is not installed");
        // One rigctl session; on a busy machine a session may time out, so
        // it is repeated until it printed `lines` lines.
        auto run = [&](const QStringList &cmds, int lines) {
            QStringList out;
            for (int attempt = 0; attempt < 3; ++attempt) {
                QProcess p;
                p.start(rigctl, QStringList{"-m", "3085", "-r", root.path() + "/dev/ttyS2.host", "-s", "19200",
                                            "-C", "cache_timeout=0"} + cmds);
                QElapsedTimer t;
                t.start();
                while (p.state() != QProcess::NotRunning && t.elapsed() < 30000)
                    QTest::qWait(20);
                if (p.state() != QProcess::NotRunning) {
                    p.kill();
                    p.waitForFinished(1000);
                }
                out = QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
                if (out.size() == lines && p.exitCode() == 0)
                    break;
                qWarning().noquote() << "rigctl" << cmds.join(' ') << ":" << p.readAllStandardError();
            }
            return out;
        };
        const int onCarrier = run({"l", "STRENGTH"}, 1).value(0).toInt();
        s->setVfoFront("freq", 14262000);
        QTRY_VERIFY_WITH_TIMEOUT(s->signalLevel.load() < -100.0f, kWait);
        const int offCarrier = run({"l", "STRENGTH"}, 1).value(0).toInt();
        QVERIFY2(onCarrier > offCarrier + 20, qPrintable(QString("%1 %2").arg(onCarrier).arg(offCarrier)));

        // PTT from the front panel: the power scale, and the SWR meter of
        // the simulator's antenna.
        s->setParamItem(W, "txpwr", 5.0f);
        s->setParamItem(W, "atue", 0);
        s->setParamItem(W, "sple", 0);
        QVERIFY(sim.command("key 195 8000").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.sMeter()->tickLabels().first(), QStringLiteral("P"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(w.swrMeter()->value() > 0, kWait);
        QTest::qWait(500);
        const float swr = zradio_get_report_vswr() * 0.1f;
        QVERIFY(std::abs(w.swrMeter()->value() - int((swr - 1.0f) * 24.0f)) <= 2);
        QVERIFY(w.sMeter()->value() > 20);
        shot("transmit");
        QTRY_COMPARE_WITH_TIMEOUT(w.sMeter()->tickLabels().first(), QStringLiteral("S"), kWait);

        // PTT from the computer: rigctl reads power and SWR.
        QCOMPARE(run({"T", "1"}, 0).size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(s->trxState.load()), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(s->fwdPower.load() > 4.0f, kWait);
        const QStringList meters = run({"l", "RFPOWER_METER", "l", "SWR"}, 2);
        QCOMPARE(run({"T", "0"}, 0).size(), 0);
        QCOMPARE(meters.size(), 2);
        // (The power meter's scale is the CAT interpreter's; it reads a
        // power while the board transmits, none after.)
        QVERIFY2(meters.at(0).toDouble() > 0.0, qPrintable(meters.join(' ')));
        QVERIFY2(std::fabs(meters.at(1).toDouble() - double(swr)) < 0.5, qPrintable(meters.join(' ')));
        QTRY_COMPARE_WITH_TIMEOUT(int(s->trxState.load()), 0, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(s->fwdPower.load(), 0.0f, kWait);
        QCOMPARE(run({"l", "RFPOWER_METER"}, 1).value(0).toDouble(), 0.0);

        // KEY twice: page 2 of the keyer group; KEY SPEED on the knob
        // changes "ks" and its register word.
        QVERIFY(sim.command("key 193 100").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.currentGroup(), 2, kWait);
        QVERIFY(sim.command("key 205 100").startsWith("ok")); // F2
        QTRY_COMPARE_WITH_TIMEOUT(w.knobKey(), QStringLiteral("ks"), kWait);
        const int ks = s->paramItem(W, "ks").value.toInt();
        QVERIFY(sim.command("mfk 3").startsWith("ok")); // three steps up
        QTRY_COMPARE_WITH_TIMEOUT(s->paramItem(W, "ks").value.toInt(), ks + 3, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(status() && (regs[33] & 0xFF) == uint32_t(ks + 3), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(w.functionKeyValue(1), s->paramItem(W, "ks").valueForDisp(), kWait);
        QVERIFY(sim.command("key 193 100").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.groups().at(2).page, 1, kWait);
        QCOMPARE(w.functionKeyTag(0), QStringLiteral("<2>QSK TIME"));
        // The audio area and the keyer group's page 2.
        s->setParamItem(W, "audio_scope", 1);
        const int tuned = s->vfoFront("freq").value.toInt();
        s->setVfoFront("freq", 14070000); // three stations in the pass band
        QTest::qWait(2500);
        shot("audioarea");
        s->setVfoFront("freq", tuned);
        s->setParamItem(W, "audio_scope", 0);
        // The memory line.
        s->setParamItem(W, "chnum", 7);
        w.saveVFO();
        s->saveChItem(7, QStringLiteral("FT8 20M"));
        w.switchVM();
        QTRY_VERIFY_WITH_TIMEOUT(!w.memoryLabel()->isHidden(), kWait);
        QTest::qWait(300);
        shot("memory");
        w.switchVM();
        QTRY_VERIFY_WITH_TIMEOUT(w.memoryLabel()->isHidden(), kWait);

        // GEN, F1 opens the radio settings; its own F5 closes them; the
        // dial tunes the screen again afterwards.
        QVERIFY(sim.command("key 192 100").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(w.currentGroup(), 0, kWait);
        QVERIFY(sim.command("key 204 100").startsWith("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(w.radioSettingPanel(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), static_cast<QWidget *>(w.radioSettingPanel()), kWait);
        shot("radiosetting");
        QVERIFY(sim.command("key 211 100").startsWith("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.radioSettingPanel(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), static_cast<QWidget *>(&w), kWait);
        const int f = s->vfoFront("freq").value.toInt();
        QVERIFY(sim.command("dial 1").startsWith("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(s->vfoFront("freq").value.toInt() != f, kWait);

        // On battery at 4 %: the countdown shows, and 50 % cancels it.
        QVERIFY(sim.command("supply bat").startsWith("ok"));
        QVERIFY(sim.command("battery 4 7.0").startsWith("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(w.infoLabel()->text().startsWith(QLatin1String("LOW BATTERY, POWER DOWN IN ")),
                                 20000);
        shot("lowbattery");
        QTRY_COMPARE_WITH_TIMEOUT(s->txPowerMax.load(), 5.0f, kWait);
        QVERIFY(sim.command("battery 50 7.8").startsWith("ok"));
        QTest::qWait(2500);
        QVERIFY(!w.infoLabel()->text().startsWith(QLatin1String("LOW BATTERY")) || w.infoLabel()->isHidden());
        QCOMPARE(w.findChild<QPushButton *>("pushButton_Battery")->text(), QStringLiteral("7.8V"));
        QVERIFY(sim.command("supply ext").startsWith("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(s->txPowerMax.load(), 10.0f, kWait);
    }

    // The real application on the simulator's board: a battery below 5 %
    // for ten seconds, then the thirty-second countdown, then the radio
    // powers off with its settings saved.
    void lowBatteryPowersOffWithSettingsSaved()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path();
        Sim sim;
        QVERIFY(sim.start(root));
        QDir().mkpath(root + "/tmp");
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZR450_SYSROOT", root);
        env.insert("TMPDIR", root + "/tmp");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        app.setProcessEnvironment(env);
        app.setStandardErrorFile(root + "/tmp/zr450.stderr");
        app.setStandardOutputFile(QProcess::nullDevice());
        app.start(ZR_BINARY_DIR "/zr450", QStringList());
        QVERIFY(app.waitForStarted(10000));
        uint32_t w[ZRADIO_REG_WORDS] = {};
        QTRY_VERIFY_WITH_TIMEOUT(sim.status(w) && w[ZRADIO_WORD_REFRESH] == ZRADIO_REFRESH_MARK && w[14] != 0,
                                 60000);
        const uint32_t rx0 = w[14];
        QVERIFY(sim.command("knob 2").startsWith("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(sim.status(w) && w[14] == rx0 + 2, 10000);
        QElapsedTimer t;
        t.start();
        QVERIFY(sim.command("supply bat").startsWith("ok"));
        QVERIFY(sim.command("battery 4 7.0").startsWith("ok"));
        QVERIFY(app.waitForFinished(120000));
        QVERIFY2(t.elapsed() > 38000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY(sim.process().waitForFinished(10000)); // the power-off bit reached the board
        QVERIFY(ztest::readText(root + "/var/log/commands.log").contains("poweroff"));
        const QStringList logs = QDir(root + "/tmp").entryList({"zr450-*.log"});
        QCOMPARE(logs.size(), 1);
        QVERIFY(ztest::readText(root + "/tmp/" + logs.first()).contains("Low battery power off"));
        ptest::DbFile db(root + "/app/zparam.db");
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='rxvol'").toInt(), int(rx0 + 2));
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
