// Panels, parameter frames and the VFO readout, driven the way the front
// panel drives them (key and wheel events) and checked by what the
// operator sees: digits, highlighted cells, values, closed panels.
#include "tests/widget_support.h"
#include "tests/test_support.h"
#include "ui/zfonts.h"
#include "ui/zframe.h"
#include "ui/zpanel.h"
#include "params/zparamadmin.h"
#include "ui/zradiosetting.h"
#include "ui/zrichtextpushbutton.h"
#include "app/zsystem.h"
#include "ui/zvfofrequencywidget.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Records the key events that reach it, as the main window would see them.
class KeySink : public QWidget
{
public:
    struct Key {
        QEvent::Type type;
        int key;
        Qt::KeyboardModifiers mods;
        QString text;
    };
    QList<Key> keys;

protected:
    void keyPressEvent(QKeyEvent *e) override
    {
        keys.append({e->type(), e->key(), e->modifiers(), e->text()});
    }
    void keyReleaseEvent(QKeyEvent *e) override
    {
        keys.append({e->type(), e->key(), e->modifiers(), e->text()});
    }
};

using ztest::sendKey;
using ztest::tapKey;
using ztest::turnKnob;

QString digitsOf(const ZVFOFrequencyWidget &v)
{
    QString s;
    for (int i = v.digitCount() - 1; i >= 0; --i)
        s += v.digitButton(i)->text();
    return s;
}

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

bool inverted(const ZVFOFrequencyWidget &v, int i)
{
    return v.digitButton(i)->styleSheet() == QLatin1String(ZVFOFrequencyWidget::invertedStyle());
}

} // namespace

class TestUi : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    ZParamAdmin *m_store = nullptr;

    QVariant value(const char *key)
    {
        return m_store->paramItem(QStringLiteral("wparam"), QLatin1String(key)).value;
    }
    void setValue(const char *key, const QVariant &v)
    {
        m_store->setParamItem(QStringLiteral("wparam"), QLatin1String(key), v);
    }
    // Selects cell `index` with the multi-function knob.
    static void selectCell(ZFrame *f, int index)
    {
        for (int guard = 0; f->selectedIndex() != index && guard < 40; ++guard)
            turnKnob(f, -1);
        QCOMPARE(f->selectedIndex(), index);
    }

private slots:
    void initTestCase()
    {
        ZFonts::install();
        QVERIFY(m_root.isValid());
        ztest::setSysroot(m_root.path());
        QDir().mkpath(zsys::appDir());
        m_store = new ZParamAdmin(nullptr);
        QCOMPARE(value("txpwr").toFloat(), 5.0f);
    }

    void cleanupTestCase()
    {
        delete m_store;
        m_store = nullptr;
        ztest::setSysroot(QString());
    }

    void frameShowsItemsAndDisablesSpareCells()
    {
        ZRadioSetting page1(nullptr, m_store, 0, 0, 176, 800, 304);
        QCOMPARE(page1.titleLabel()->text(), QStringLiteral("RADIO SETTING1"));
        QCOMPARE(page1.cellCount(), 15);
        QCOMPARE(page1.cell(0)->text1(), QStringLiteral("AGC SLOW"));
        QCOMPARE(page1.cell(0)->text2(), QStringLiteral("250 x10ms"));
        QCOMPARE(page1.cell(3)->text1(), QStringLiteral("TX POWER"));
        QCOMPARE(page1.cell(3)->text2(), QStringLiteral("5.0 W"));
        QCOMPARE(page1.cell(4)->text2(), QStringLiteral("AUTO"));
        QCOMPARE(page1.cell(14)->objectName(), QStringLiteral("PushButton_02_04"));
        QCOMPARE(page1.txpwrIndex(), 3);
        QCOMPARE(ZRadioSetting::instances(), 1);
        if (qEnvironmentVariableIsSet("ZR450_UI_SHOTS"))
            page1.grab().save(qEnvironmentVariable("ZR450_UI_SHOTS") + QStringLiteral("/radiosetting.png"));

        ZRadioSetting page2(nullptr, m_store, 1, 0, 176, 800, 304);
        QCOMPARE(ZRadioSetting::instances(), 2);
        QCOMPARE(page2.titleLabel()->text(), QStringLiteral("RADIO SETTING2"));
        QCOMPARE(page2.cellCount(), 5);
        QCOMPARE(page2.cell(2)->text2(), QStringLiteral("OFF"));
        for (int i = 5; i < 15; ++i) {
            QVERIFY(!page2.cell(i)->isEnabled());
            QVERIFY(page2.cell(i)->text1().isEmpty());
        }
        QCOMPARE(page2.txpwrIndex(), -1);

        // The function row: five icon buttons, F2 and F3 repeat.
        for (int i = 0; i < 5; ++i) {
            QPushButton *b = page2.functionButton(i);
            QCOMPARE(b->objectName(), QStringLiteral("Button_F%1").arg(i + 1));
            QCOMPARE(b->font().family(), QStringLiteral("FontAwesome"));
            QCOMPARE(b->autoRepeat(), i == 1 || i == 2);
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        }
        QCOMPARE(page2.functionButton(0)->text(), QString(QChar(0xF021)));
        QCOMPARE(page2.functionButton(4)->text(), QString(QChar(0xF045)));

        ZRadioDFN dfn(nullptr, m_store, 0, 176, 800, 304);
        QCOMPARE(dfn.titleLabel()->text(), QStringLiteral("DSP FUNCTIONS"));
        QCOMPARE(dfn.cellCount(), 8);
        QVERIFY(!dfn.cell(8)->isEnabled() && !dfn.cell(9)->isEnabled());
        ZRadioCWSetting cw(nullptr, m_store, 0, 176, 800, 304);
        QCOMPARE(cw.titleLabel()->text(), QStringLiteral("CW/KEYER SETTING"));
        QCOMPARE(cw.cellCount(), 10);
        QCOMPARE(cw.cell(4)->text2(), QStringLiteral("3.0  "));
    }

    void nineKeysWrapFromTheNinthToTheFirst()
    {
        setValue("menuidx_dispsettings", 0);
        ZRadioDisplaySettings f(nullptr, m_store, 0, 176, 800, 304);
        QCOMPARE(f.titleLabel()->text(), QStringLiteral("DISPLAY SETTINGS"));
        QCOMPARE(f.cellCount(), 9);
        QVERIFY(!f.cell(9)->isEnabled());
        QVERIFY(f.cell(9)->text2().isEmpty());
        QCOMPARE(f.focusWidget(), f.cell(0));
        for (int i = 1; i <= 8; ++i) {
            turnKnob(&f, -1);
            QCOMPARE(f.selectedIndex(), i);
        }
        QCOMPARE(f.focusWidget(), f.cell(8));
        turnKnob(&f, -1); // forward from the ninth cell
        QCOMPARE(f.selectedIndex(), 0);
        QCOMPARE(f.focusWidget(), f.cell(0));
        turnKnob(&f, +1); // and back again
        QCOMPARE(f.selectedIndex(), 8);
        turnKnob(&f, 0);
        QCOMPARE(f.selectedIndex(), 8);

        // Row moves: down from the second row wraps to the first.
        f.moveDown();
        QCOMPARE(f.selectedIndex(), 3);
        f.moveDown();
        QCOMPARE(f.selectedIndex(), 8);
        QCOMPARE(f.moveToClickIndex(3), 1);
        QCOMPARE(f.moveToClickIndex(1), 0);
        QCOMPARE(f.selectedIndex(), 6);
        QCOMPARE(f.moveToClickIndex(4), 0);
        QCOMPARE(f.selectedIndex(), 4);
    }

    void knobsAndKeysEditTheSelectedItem()
    {
        setValue("menuidx_key", 0);
        setValue("ks", 15);
        ZRadioCWSetting f(nullptr, m_store, 0, 176, 800, 304);
        selectCell(&f, 2);
        QCOMPARE(f.selectedKey(), QStringLiteral("ks"));
        QCOMPARE(f.cell(2)->text2(), QStringLiteral("15 WPM"));

        // The tuning dial (Alt) steps the value; the knob's sign is reversed.
        turnKnob(&f, -1, Qt::AltModifier);
        QCOMPARE(value("ks").toInt(), 16);
        QCOMPARE(f.cell(2)->text2(), QStringLiteral("16 WPM"));
        turnKnob(&f, +3, Qt::AltModifier);
        QCOMPARE(value("ks").toInt(), 15);
        // Other modifiers do nothing.
        turnKnob(&f, -1, Qt::ControlModifier);
        QCOMPARE(value("ks").toInt(), 15);
        QCOMPARE(f.selectedIndex(), 2);

        // F3 / F2 step up and down, F1 resets to the default.
        tapKey(&f, Qt::Key_F3);
        tapKey(&f, Qt::Key_F3);
        QCOMPARE(value("ks").toInt(), 17);
        tapKey(&f, Qt::Key_F2);
        QCOMPARE(value("ks").toInt(), 16);
        tapKey(&f, Qt::Key_F1);
        QCOMPARE(value("ks").toInt(), 15);
        QCOMPARE(f.cell(2)->text2(), QStringLiteral("15 WPM"));

        // Ends of the range: clamp for "ks", wrap for "km".
        setValue("ks", 50);
        tapKey(&f, Qt::Key_F3);
        QCOMPARE(value("ks").toInt(), 50);
        setValue("km", 2);
        selectCell(&f, 0);
        tapKey(&f, Qt::Key_F3);
        QCOMPARE(value("km").toInt(), 0);
        QCOMPARE(f.cell(0)->text2(), QStringLiteral("MANUAL"));

        // A key sent to the focused cell is handled by the frame.
        QWidget *focused = f.focusWidget();
        QCOMPARE(focused, static_cast<QWidget *>(f.cell(0)));
        tapKey(focused, Qt::Key_F3);
        QCOMPARE(value("km").toInt(), 1);
        setValue("ks", 15);
    }

    void holdingF3KeepsStepping()
    {
        setValue("menuidx_key", 2);
        setValue("ks", 10);
        ZRadioCWSetting f(nullptr, m_store, 0, 176, 800, 304);
        QCOMPARE(f.selectedKey(), QStringLiteral("ks"));
        sendKey(&f, QEvent::KeyPress, Qt::Key_F3);
        QVERIFY(f.functionButton(2)->isDown());
        // The front panel repeats the press while the key is held; the
        // button's own repeat does the stepping.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 900) {
            QTest::qWait(100);
            sendKey(&f, QEvent::KeyPress, Qt::Key_F3);
        }
        const int held = value("ks").toInt();
        QVERIFY2(held >= 12, qPrintable(QString::number(held)));
        sendKey(&f, QEvent::KeyRelease, Qt::Key_F3);
        QVERIFY(!f.functionButton(2)->isDown());
        QCOMPARE(value("ks").toInt(), held + 1);
        QTest::qWait(250);
        QCOMPARE(value("ks").toInt(), held + 1);
        setValue("ks", 15);
    }

    void enterAssignsTheKnobAndCloses()
    {
        KeySink parent;
        setValue("menuidx_key", 0);
        QPointer<ZRadioCWSetting> f = new ZRadioCWSetting(&parent, m_store, 0, 176, 800, 304);
        selectCell(f, 7);
        QCOMPARE(f->selectedKey(), QStringLiteral("cwtone"));
        QVERIFY(m_store->mfkKey != QStringLiteral("cwtone"));
        sendKey(f, QEvent::KeyPress, Qt::Key_Enter, Qt::NoModifier, QStringLiteral("HMIC-Enter"));
        QVERIFY(f->functionButton(3)->isDown());
        sendKey(f, QEvent::KeyRelease, Qt::Key_Enter, Qt::NoModifier, QStringLiteral("HMIC-Enter"));
        QCOMPARE(m_store->mfkKey.value(), QStringLiteral("cwtone"));
        flushDeletes();
        QVERIFY(f.isNull());
        QCOMPARE(ZRadioCWSetting::instances(), 0);
        // Neither half of the Enter key went on to the main window.
        QVERIFY(parent.keys.isEmpty());
        // The selection was remembered.
        QCOMPARE(value("menuidx_key").toInt(), 7);

        // F4 does the same; F5 and the PTT key only close.
        f = new ZRadioCWSetting(&parent, m_store, 0, 176, 800, 304);
        QCOMPARE(f->selectedIndex(), 7);
        turnKnob(f, -1);
        tapKey(f, Qt::Key_F4);
        QCOMPARE(m_store->mfkKey.value(), QStringLiteral("rphscmp"));
        flushDeletes();
        QVERIFY(f.isNull());
        f = new ZRadioCWSetting(&parent, m_store, 0, 176, 800, 304);
        tapKey(f, Qt::Key_F5);
        flushDeletes();
        QVERIFY(f.isNull());
        QCOMPARE(m_store->mfkKey.value(), QStringLiteral("rphscmp"));
        f = new ZRadioCWSetting(&parent, m_store, 0, 176, 800, 304);
        sendKey(f, QEvent::KeyRelease, Qt::Key_Play);
        flushDeletes();
        QVERIFY(f.isNull());
        m_store->mfkKey = QStringLiteral("txpwr");
    }

    void txpwrCellFollowsALoweredLimit()
    {
        m_store->setTxPowerMax(10.0f);
        setValue("txpwr", 5.0f);
        ZRadioSetting f(nullptr, m_store, 0, 0, 176, 800, 304);
        QCOMPARE(f.cell(3)->text2(), QStringLiteral("5.0 W"));
        // The transmit limit drops (battery, band): the store lowers the
        // power and the cell shows it on the next refresh.
        m_store->setTxPowerMax(3.0f);
        QCOMPARE(value("txpwr").toFloat(), 3.0f);
        QTRY_COMPARE_WITH_TIMEOUT(f.cell(3)->text2(), QStringLiteral("3.0 W"), 2000);

        // Stepping and resetting stay under the limit.
        selectCell(&f, 3);
        tapKey(&f, Qt::Key_F3);
        QCOMPARE(value("txpwr").toFloat(), 3.0f);
        tapKey(&f, Qt::Key_F1); // the default, 5 W, is above the limit
        QCOMPARE(value("txpwr").toFloat(), 3.0f);
        QCOMPARE(f.cell(3)->text2(), QStringLiteral("3.0 W"));
        m_store->setTxPowerMax(10.0f);
        setValue("txpwr", 5.0f);
    }

    void menuIndexSurvivesClosing()
    {
        setValue("menuidx_dispsettings", 0);
        {
            ZRadioDisplaySettings f(nullptr, m_store, 0, 176, 800, 304);
            selectCell(&f, 5);
        }
        QCOMPARE(value("menuidx_dispsettings").toInt(), 5);
        {
            ZRadioDisplaySettings f(nullptr, m_store, 0, 176, 800, 304);
            QCOMPARE(f.selectedIndex(), 5);
            QCOMPARE(f.focusWidget(), f.cell(5));
        }
        // A stored index beyond the cells is clamped to the last one.
        setValue("menuidx_dispsettings", 60);
        {
            ZRadioDisplaySettings f(nullptr, m_store, 0, 176, 800, 304);
            QCOMPARE(f.selectedIndex(), 8);
        }
        setValue("menuidx_dispsettings", -3);
        {
            ZRadioDisplaySettings f(nullptr, m_store, 0, 176, 800, 304);
            QCOMPARE(f.selectedIndex(), 0);
        }
        // Both pages of the radio settings keep their own index.
        {
            ZRadioSetting f(nullptr, m_store, 1, 0, 176, 800, 304);
            selectCell(&f, 4);
        }
        {
            ZRadioSetting f(nullptr, m_store, 0, 0, 176, 800, 304);
            selectCell(&f, 11);
        }
        QCOMPARE(value("menuidx_radiosetting2").toInt(), 4);
        QCOMPARE(value("menuidx_radiosetting1").toInt(), 11);
    }

    void frameKeysItDoesNotUseReachTheParent()
    {
        KeySink parent;
        ZRadioDFN f(&parent, m_store, 0, 176, 800, 304);
        tapKey(&f, Qt::Key_1, Qt::ControlModifier, QStringLiteral("1"));
        tapKey(&f, Qt::Key_PageUp);
        tapKey(f.focusWidget(), Qt::Key_Up, Qt::NoModifier, QStringLiteral("HMIC-UP"));
        sendKey(&f, QEvent::KeyPress, Qt::Key_F2);
        sendKey(&f, QEvent::KeyRelease, Qt::Key_F2);
        QCoreApplication::processEvents();
        QCOMPARE(parent.keys.size(), 6);
        QCOMPARE(parent.keys[0].key, int(Qt::Key_1));
        QCOMPARE(parent.keys[0].mods, Qt::KeyboardModifiers(Qt::ControlModifier));
        QCOMPARE(parent.keys[0].text, QStringLiteral("1"));
        QCOMPARE(parent.keys[1].type, QEvent::KeyRelease);
        QCOMPARE(parent.keys[2].key, int(Qt::Key_PageUp));
        QCOMPARE(parent.keys[4].key, int(Qt::Key_Up));
        QCOMPARE(parent.keys[5].text, QStringLiteral("HMIC-UP"));
    }

    void fontsFallBackToInstalledFamilies()
    {
        // The icon font comes from fonts-font-awesome; the radio's own
        // families that a desktop lacks resolve to installed ones.
        QCOMPARE(ZFonts::resolvedFamily(QStringLiteral("FontAwesome")), QStringLiteral("FontAwesome"));
        QVERIFY(QFontMetrics(QFont(QStringLiteral("FontAwesome"), 20)).inFont(QChar(0xF021)));
        QVERIFY(QFontMetrics(QFont(QStringLiteral("FontAwesome"), 20)).inFont(QChar(0xF293)));
        QCOMPARE(ZFonts::resolvedFamily(QStringLiteral("DejaVu Sans Mono")), QStringLiteral("DejaVu Sans Mono"));
        const QString mono = ZFonts::resolvedFamily(QStringLiteral("Ubuntu Mono"));
        QVERIFY2(mono == QLatin1String("Ubuntu Mono") || mono == QLatin1String("DejaVu Sans Mono"), qPrintable(mono));
        QVERIFY(QFontInfo(QFont(QStringLiteral("Ubuntu Mono"))).fixedPitch());
        const QString cond = ZFonts::resolvedFamily(QStringLiteral("Bahnschrift SemiBold SemiConden"));
        QVERIFY2(cond.startsWith(QLatin1String("Bahnschrift")) || cond.startsWith(QLatin1String("DejaVu Sans")),
                 qPrintable(cond));
    }

    // A frame's function row shows icons in the icon font where it is
    // installed, and words in the text font where it is not (a missing icon
    // font would draw five empty boxes).
    void frameButtonsFallBackToWordsWithoutIconFont()
    {
        QVERIFY(ZFonts::iconFontAvailable());
        {
            ZRadioDisplaySettings f(nullptr, m_store, 0, 176, 800, 304);
            QCOMPARE(f.functionButton(0)->text(), QString(QChar(0xF021)));
            QCOMPARE(f.functionButton(4)->font().family(), QStringLiteral("FontAwesome"));
        }
        const QString saved = ZFonts::iconFamily();
        ztest::AtExit restore([&]() { ZFonts::setIconFamily(saved); });
        ZFonts::setIconFamily(QStringLiteral("No Such Icon Font"));
        QVERIFY(!ZFonts::iconFontAvailable());
        ZRadioDisplaySettings f(nullptr, m_store, 0, 176, 800, 304);
        const QStringList words = {"RESET", "-", "+", "KNOB", "CLOSE"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(f.functionButton(i)->text(), words.at(i));
            QCOMPARE(f.functionButton(i)->font().family(), QStringLiteral("DejaVu Sans Mono"));
            QVERIFY(f.functionButton(i)->font().bold());
        }
    }

    void readoutShowsDigitsWithTuneStepInverted()
    {
        QWidget parent;
        parent.resize(800, 480);
        ZVFOFrequencyWidget vfo(&parent, 8);
        QFont f(QStringLiteral("Bahnschrift SemiBold SemiConden"), 42);
        f.setWeight(75);
        vfo.setFont(f);
        vfo.move(10, 60);
        // Starts with the highest digit marked.
        QVERIFY(inverted(vfo, 7));

        vfo.setFrequency(14270000);
        vfo.redraw();
        QCOMPARE(digitsOf(vfo), QStringLiteral("14270000"));
        QCOMPARE(vfo.significantDigits(), 8);

        // Fewer significant digits: leading zeros stay visible.
        vfo.setFrequency(7074000);
        vfo.redraw();
        QCOMPARE(digitsOf(vfo), QStringLiteral("07074000"));
        QCOMPARE(vfo.significantDigits(), 7);

        vfo.setTuneStep(3);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(inverted(vfo, i), i == 3);
        QCOMPARE(vfo.digitButton(3)->text(), QStringLiteral("4"));
        vfo.setTuneStep(8); // beyond the last digit: ignored
        QVERIFY(inverted(vfo, 3));
        vfo.setTuneStep(-1);
        for (int i = 0; i < 8; ++i)
            QVERIFY(!inverted(vfo, i));
        QCOMPARE(vfo.tuneStep(), -1);

        // Row layout, left to right: two digits, dot, three digits, dot,
        // three digits; every element lies right of the one before.
        QList<QWidget *> order;
        for (int i = 7; i >= 0; --i) {
            if (i == 5)
                order << vfo.separator(0);
            if (i == 2)
                order << vfo.separator(1);
            order << vfo.digitButton(i);
        }
        for (int k = 1; k < order.size(); ++k)
            QVERIFY(order[k]->x() >= order[k - 1]->x() + order[k - 1]->width());
        QCOMPARE(vfo.digitButton(7)->x(), 10);
        QCOMPARE(vfo.digitButton(7)->y(), 60);
        QCOMPARE(vfo.separator(0)->text(), QStringLiteral("."));
        QCOMPARE(vfo.digitButton(0)->font().pointSize(), 42);
        QVERIFY(vfo.geometry().width() >= order.last()->x() + order.last()->width() - 10);

        // While hidden the digits keep their old text; show + redraw
        // brings them up to date.
        vfo.hide();
        QVERIFY(vfo.digitButton(0)->isHidden());
        vfo.setFrequency(21074000);
        vfo.redraw();
        QCOMPARE(digitsOf(vfo), QStringLiteral("07074000"));
        vfo.show();
        vfo.redraw();
        QCOMPARE(digitsOf(vfo), QStringLiteral("21074000"));
        QVERIFY(!vfo.digitButton(0)->isHidden());
        QVERIFY(!vfo.separator(1)->isHidden());
    }

    // Setting the mark where it already is touches no style sheet (each
    // setStyleSheet re-parses and restyles the digit).
    void readoutRestylesOnlyAMovedMark()
    {
        QWidget parent;
        ZVFOFrequencyWidget vfo(&parent, 8);
        vfo.setTuneStep(3);
        vfo.redraw();
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        struct Counter : QObject {
            int changes = 0;
            bool eventFilter(QObject *, QEvent *e) override
            {
                changes += e->type() == QEvent::StyleChange;
                return false;
            }
        } counter;
        for (int i = 0; i < 8; ++i)
            vfo.digitButton(i)->installEventFilter(&counter);
        for (int i = 0; i < 10; ++i) {
            vfo.setTuneStep(3);
            vfo.redraw();
        }
        QCOMPARE(counter.changes, 0);
        vfo.setTuneStep(2);
        QCOMPARE(counter.changes, 2); // the old mark and the new one
        vfo.setTuneStep(-1);
        vfo.setTuneStep(-1);
        QCOMPARE(counter.changes, 3);
        QVERIFY(!inverted(vfo, 2));
    }

    void readoutSurvivesItsParent()
    {
        // The main window deletes its children before the readouts.
        auto *parent = new QWidget;
        ZVFOFrequencyWidget vfo(parent, 8);
        delete parent;
        QVERIFY(vfo.digitButton(0) == nullptr);
        vfo.setFrequency(1000);
        vfo.redraw();
        vfo.setTuneStep(2);
        vfo.hide();
        vfo.show();
    }

    void panelButtonsFontsAndLayout()
    {
        ZPanel panel(nullptr, nullptr, 0, 0, 800, 480);
        QVERIFY(panel.buttonFrame()->isHidden());
        QCOMPARE(panel.titleLabel()->text(), QStringLiteral("Untitled"));

        // An icon label first: every button of the row uses the icon font.
        panel.createFunctionButtons({QString(QChar(0xF021)), QStringLiteral("PLAIN"), QStringLiteral("X")});
        QCOMPARE(panel.functionButtonCount(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(panel.functionButton(i)->font().family(), QStringLiteral("FontAwesome"));
            QCOMPARE(panel.functionButton(i)->font().pointSize(), 20);
            QCOMPARE(panel.functionButton(i)->objectName(), QStringLiteral("Button_F%1").arg(i + 1));
            QCOMPARE(panel.functionButton(i)->focusPolicy(), Qt::NoFocus);
        }
        QVERIFY(!panel.buttonFrame()->isHidden());

        // Plain labels: the panel's own bold monospace font.
        panel.createFunctionButtons({QStringLiteral("START"), QStringLiteral(" "), QStringLiteral(" "),
                                     QStringLiteral(" "), QStringLiteral("EXIT")});
        QCOMPARE(panel.functionButtonCount(), 5);
        QCOMPARE(panel.functionButton(0)->font().family(), QStringLiteral("DejaVu Sans Mono"));
        QVERIFY(panel.functionButton(0)->font().bold());
        QVERIFY(panel.functionButton(5) == nullptr);

        // The client area lies between the title bar and the button row.
        panel.setPanelTitle(QStringLiteral("SWR SCANNER"));
        QCOMPARE(panel.titleLabel()->text(), QStringLiteral("SWR SCANNER"));
        const QRect client = panel.userGeometry();
        QVERIFY(client.top() > panel.titleLabel()->geometry().bottom());
        QVERIFY(client.bottom() < panel.buttonFrame()->geometry().top());
        QVERIFY(client.left() > 0 && client.right() < 800);
        QCOMPARE(panel.buttonFrame()->height(), 49 + 6);

        // Rich text becomes a picture on the button.
        panel.setFunctionButtonText(0, QStringLiteral("<b>TAG</b><br>value"));
        QVERIFY(panel.functionButton(0)->text().isEmpty());
        QVERIFY(!panel.functionButton(0)->icon().isNull());
        QVERIFY(panel.functionButton(0)->iconSize().width() > 10);
        panel.setFunctionButtonText(9, QStringLiteral("ignored"));

        panel.setAllButtonsEnable(false);
        QVERIFY(!panel.functionButton(4)->isEnabled());
        panel.setAllButtonsEnable(true);

        // No labels: the row disappears.
        panel.createFunctionButtons(QStringList());
        QVERIFY(panel.buttonFrame()->isHidden());
        QCOMPARE(panel.functionButtonCount(), 0);
    }

    void panelFunctionKeysPressAndHighlight()
    {
        KeySink parent;
        ZPanel panel(&parent, nullptr, 0, 0, 800, 480);
        panel.createFunctionButtons({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
        QSignalSpy clicked(panel.functionButton(1), &QPushButton::clicked);

        sendKey(&panel, QEvent::KeyPress, Qt::Key_F2);
        QVERIFY(panel.functionButton(1)->isDown());
        sendKey(&panel, QEvent::KeyPress, Qt::Key_F2); // held: still one press
        sendKey(&panel, QEvent::KeyRelease, Qt::Key_F2);
        QVERIFY(!panel.functionButton(1)->isDown());
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(panel.selectedFunctionButton(), 1);
        QVERIFY(panel.functionButton(1)->styleSheet().contains(QLatin1String("rgba(0,255,100,100)")));
        QVERIFY(!panel.functionButton(0)->styleSheet().contains(QLatin1String("rgba(0,255,100,100)")));

        // F4 and F5 have no button here: they reach the parent like any
        // other key, and so does everything the panel does not use.
        tapKey(&panel, Qt::Key_F5);
        tapKey(&panel, Qt::Key_1, Qt::ControlModifier, QStringLiteral("1"));
        tapKey(&panel, Qt::Key_Enter, Qt::NoModifier, QStringLiteral("HMIC-Enter"));
        QCoreApplication::processEvents();
        QCOMPARE(parent.keys.size(), 6);
        QCOMPARE(parent.keys[0].type, QEvent::KeyPress);
        QCOMPARE(parent.keys[0].key, int(Qt::Key_F5));
        QCOMPARE(parent.keys[1].type, QEvent::KeyRelease);
        QCOMPARE(parent.keys[2].key, int(Qt::Key_1));
        QCOMPARE(parent.keys[2].mods, Qt::KeyboardModifiers(Qt::ControlModifier));
        QCOMPARE(parent.keys[4].text, QStringLiteral("HMIC-Enter"));
        QCOMPARE(clicked.count(), 1);
    }

    void panelExitButtonAndExitKey()
    {
        KeySink parent;
        {
            ZPanel panel(&parent, nullptr, 0, 0, 800, 480);
            panel.createFunctionButtons({QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "),
                                         QStringLiteral(" "), QStringLiteral("EXIT")});
            panel.setExitButton(5);
            panel.show();
            QVERIFY(panel.isVisible());
            tapKey(&panel, Qt::Key_F1);
            QVERIFY(panel.isVisible());
            tapKey(&panel, Qt::Key_F5);
            QVERIFY(!panel.isVisible());
        }
        {
            ZPanel panel(&parent, nullptr, 0, 0, 800, 480);
            panel.createFunctionButtons({QStringLiteral("A")});
            panel.setExitKey(Qt::Key_Escape);
            panel.show();
            sendKey(&panel, QEvent::KeyPress, Qt::Key_Escape);
            QVERIFY(panel.isVisible());
            sendKey(&panel, QEvent::KeyRelease, Qt::Key_Escape);
            QVERIFY(!panel.isVisible());
        }
        QCoreApplication::processEvents();
        // Only the exit key's press went on to the parent.
        QCOMPARE(parent.keys.size(), 1);
        QCOMPARE(parent.keys[0].key, int(Qt::Key_Escape));
        QCOMPARE(parent.keys[0].type, QEvent::KeyPress);
    }
};

QTEST_MAIN(TestUi)
#include "test_ui.moc"
