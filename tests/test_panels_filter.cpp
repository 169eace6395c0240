// The filter panel: the twin filters of the current mode family shown and
// shifted with the knobs, keys and touches, its key faces sent to the main
// window, and the store holding the result, also after a restart.
#include "tests/panels_support.h"
#include "tests/test_support.h"
#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "radio/zradioevent.h"
#include "ui/zfonts.h"
#include "ui/zradiofiltersetting.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace pantest;
using zrnamespace::ztwinfilter_t;

namespace {

const QString W = QStringLiteral("wparam");

// Where the main window runs it: from the panadapter's top to the bottom.
ZRadioFilterSetting *filterPanel(ZParamAdmin *store, QWidget *parent = nullptr)
{
    return new ZRadioFilterSetting(parent, store, 0, 176, 800, 304);
}

QString edges(const zrnamespace::ztwinfilter_fp_t &fp)
{
    return ZRadioFilterSetting::edgesText(fp);
}

} // namespace

class TestFilterPanel : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ztest::Sysroot> m_root;
    std::unique_ptr<ZParamAdmin> m_store;

    void freshStore()
    {
        m_store.reset();
        m_root.reset();
        m_root.reset(new ztest::Sysroot);
        QDir().mkpath(zsys::appDir());
        m_store.reset(new ZParamAdmin(nullptr));
    }
    void checkFits(ZRadioFilterSetting *f)
    {
        QString why;
        QVERIFY2(childrenFitWithoutOverlap(f, &why), qPrintable(why));
        QVERIFY(QFontMetrics(f->titleLabel()->font()).horizontalAdvance(f->titleLabel()->text())
                < f->titleLabel()->width());
        for (int g = 0; g < f->groupCount(); ++g) {
            QPushButton *b = f->groupButton(g);
            QVERIFY2(QFontMetrics(b->font()).horizontalAdvance(b->text()) < b->width() - 16, qPrintable(b->text()));
            QVERIFY(b->height() >= 26);
        }
        for (int i = 0; i < 5; ++i) {
            QPushButton *b = f->functionButton(i);
            for (const QString &line : b->text().split(QLatin1Char('\n')))
                QVERIFY2(QFontMetrics(b->font()).horizontalAdvance(line) < b->width() - 4, qPrintable(line));
        }
        QVERIFY(f->view()->height() >= 90);
    }

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
        ZFonts::install();
    }
    void init() { freshStore(); }
    void cleanupTestCase()
    {
        m_store.reset();
        m_root.reset();
    }

    void showsTheFamilyOfTheCurrentMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("first");
        QTest::newRow("usb") << 2 << "SSB" << "FILTER 1  PB1 150…2850  PB2 150…2850  → 150…2850 (2700 Hz)";
        QTest::newRow("cw") << 4 << "CW" << "FILTER 1  PB1 550…1050  PB2 550…1050  → 550…1050 (500 Hz)";
        QTest::newRow("am") << 6 << "AM" << "FILTER 1  PB1 -4500…4500  PB2 -4500…4500  → -4500…4500 (9000 Hz)";
        QTest::newRow("nfm") << 7 << "NFM" << "FILTER 1  PB1 -7500…7500  PB2 -7500…7500  → -7500…7500 (15000 Hz)";
    }
    void showsTheFamilyOfTheCurrentMode()
    {
        QFETCH(int, mode);
        QFETCH(QString, family);
        QFETCH(QString, first);
        m_store->setMode(mode);
        std::unique_ptr<ZRadioFilterSetting> f(filterPanel(m_store.get()));
        f->show();
        QCOMPARE(f->geometry(), QRect(0, 176, 800, 304));
        QCOMPARE(f->familyName(), family);
        QCOMPARE(f->groupCount(), 3);
        QCOMPARE(f->groupText(0), first);
        QVERIFY(f->titleLabel()->text().contains(ZParamAdmin::modeIndexToName(mode)));
        checkFits(f.get());
        saveShot(f.get(), QStringLiteral("filter_") + family.toLower());
    }

    void knobShiftsTheEditedPassBandWithinItsLimits()
    {
        m_store->setMode(4); // CW, pitch 800: heard as defined
        m_store->setParamItem(W, QStringLiteral("cwtone"), 800);
        m_store->setTwinFilterGroupIndex(1); // limits 550 … 1050
        std::unique_ptr<ZRadioFilterSetting> f(filterPanel(m_store.get()));
        QCOMPARE(f->currentGroup(), 1);
        QCOMPARE(f->editedPassBand(), 0);
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("675…925"));
        for (int i = 0; i < 10; ++i)
            turnKnob(f.get(), -1); // up, one step per event
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("775…1025"));
        turnKnob(f.get(), -2); // a fast turn: two steps
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("795…1045"));
        turnKnob(f.get(), -1); // would pass the limit
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("795…1045"));
        QCOMPARE(edges(m_store->twinFilter().fp2), QStringLiteral("675…925"));
        QCOMPARE(f->groupText(1), QStringLiteral("FILTER 2  PB1 795…1045  PB2 675…925  → 795…925 (130 Hz)"));
        turnKnob(f.get(), +5, Qt::ControlModifier); // other modifiers: nothing
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("795…1045"));

        // Enter (or F2) edits the other pass band; the knob then moves it.
        tapKey(f.get(), Qt::Key_Enter);
        QCOMPARE(f->editedPassBand(), 1);
        QCOMPARE(m_store->twinFilterIndex(), 1);
        QCOMPARE(f->functionFace(1), (QStringList{QStringLiteral("EDIT"), QStringLiteral("PB2")}));
        turnKnob(f.get(), +3); // down
        QCOMPARE(edges(m_store->twinFilter().fp2), QStringLiteral("645…895"));
        tapKey(f.get(), Qt::Key_F2);
        QCOMPARE(f->editedPassBand(), 0);
        // The touch arrows shift the edited one too.
        QTest::mouseClick(f->shiftButton(0), Qt::LeftButton);
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("785…1035"));

        // At another pitch the panel shows what is heard.
        m_store->setParamItem(W, QStringLiteral("cwtone"), 700);
        f->updateFilter();
        QCOMPARE(f->groupText(1), QStringLiteral("FILTER 2  PB1 685…935  PB2 545…795  → 685…795 (110 Hz)"));

        // F3 puts both pass bands back on their centre.
        tapKey(f.get(), Qt::Key_F3);
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("675…925"));
        QCOMPARE(edges(m_store->twinFilter().fp2), QStringLiteral("675…925"));
    }

    void dialShiftsBothAndKeepsTheShape()
    {
        m_store->setMode(2);
        m_store->setTwinFilterGroupIndex(1); // 300 … 2700, limits -1200 … 4200
        std::unique_ptr<ZRadioFilterSetting> f(filterPanel(m_store.get()));
        turnKnob(f.get(), -3); // PB1 up 30 Hz
        turnKnob(f.get(), -3, Qt::AltModifier); // both up 30 Hz
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("360…2760"));
        QCOMPARE(edges(m_store->twinFilter().fp2), QStringLiteral("330…2730"));
        // As far as the higher pass band can go, not a step more.
        for (int i = 0; i < 40; ++i)
            turnKnob(f.get(), -5, Qt::AltModifier);
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("1800…4200"));
        QCOMPARE(edges(m_store->twinFilter().fp2), QStringLiteral("1770…4170"));
        for (int i = 0; i < 80; ++i)
            turnKnob(f.get(), +5, Qt::AltModifier);
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("-1170…1230"));
        QCOMPARE(edges(m_store->twinFilter().fp2), QStringLiteral("-1200…1200"));
        QCOMPARE(f->groupText(1), QStringLiteral("FILTER 2  PB1 -1170…1230  PB2 -1200…1200  → -1170…1200 (2370 Hz)"));
        saveShot(f.get(), QStringLiteral("filter_shifted"));
    }

    void filterChoiceAndFacesReachTheWindow()
    {
        m_store->setMode(2);
        std::unique_ptr<ZRadioFilterSetting> f(filterPanel(m_store.get()));
        QSignalSpy faces(f.get(), &ZRadioFilterSetting::sig_setFunctionButtons);
        f->show(); // the window has connected by now
        QCOMPARE(faces.count(), 5);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(faces.at(i).at(0).toInt(), i);
        QCOMPARE(faces.at(0).at(1).toString(), QStringLiteral("FILTER"));
        QCOMPARE(faces.at(0).at(2).toString(), QStringLiteral("1 of 3"));
        QCOMPARE(faces.at(4).at(1).toString(), QStringLiteral("EXIT"));
        QCOMPARE(f->functionButton(0)->text(), QStringLiteral("FILTER\n1 of 3"));
        faces.clear();
        tapKey(f.get(), Qt::Key_F1);
        QCOMPARE(m_store->twinFilterGroupIndex(), 1);
        QCOMPARE(f->currentGroup(), 1);
        QVERIFY(faces.count() >= 1);
        QCOMPARE(f->functionFace(0), (QStringList{QStringLiteral("FILTER"), QStringLiteral("2 of 3")}));
        tapKey(f.get(), Qt::Key_F1);
        tapKey(f.get(), Qt::Key_F1); // after the third: the first
        QCOMPARE(m_store->twinFilterGroupIndex(), 0);
        // A touch on a line selects that filter, on the picture a pass band.
        QTest::mouseClick(f->groupButton(2), Qt::LeftButton);
        QCOMPARE(m_store->twinFilterGroupIndex(), 2);
        QTest::mouseClick(f->view(), Qt::LeftButton, Qt::NoModifier, QPoint(50, f->view()->height() - 20));
        QCOMPARE(f->editedPassBand(), 1);
        QTest::mouseClick(f->view(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 10));
        QCOMPARE(f->editedPassBand(), 0);

        // The mode changes behind the panel (CI-V, the mode key): the
        // window's sig_updateFilter() brings the other family up.
        m_store->setMode(6);
        f->updateFilter();
        QCOMPARE(f->familyName(), QStringLiteral("AM"));
        QVERIFY(f->titleLabel()->text().contains(QStringLiteral("AM")));
    }

    void nfmFiltersAreFixed()
    {
        m_store->setMode(7);
        std::unique_ptr<ZRadioFilterSetting> f(filterPanel(m_store.get()));
        const QString before = f->groupText(0);
        turnKnob(f.get(), -10);
        turnKnob(f.get(), -10, Qt::AltModifier);
        tapKey(f.get(), Qt::Key_F3);
        QCOMPARE(f->groupText(0), before);
        QVERIFY(!f->shiftButton(0)->isEnabled() && !f->shiftButton(1)->isEnabled());
        QVERIFY(!f->functionButton(1)->isEnabled() && !f->functionButton(2)->isEnabled());
        tapKey(f.get(), Qt::Key_F2);
        tapKey(f.get(), Qt::Key_Enter);
        QCOMPARE(f->editedPassBand(), 0);
        QVERIFY(f->titleLabel()->text().contains(QStringLiteral("fixed")));
    }

    void runsModallyAndPassesPressesOn()
    {
        QWidget window;
        int presses = 0;
        struct Sink : QObject {
            int *presses;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == ZRadioEvent::ShortPress)
                    ++*presses;
                return false;
            }
        } sink;
        sink.presses = &presses;
        window.installEventFilter(&sink);
        m_store->setMode(2);
        ZRadioFilterSetting *f = filterPanel(m_store.get(), &window);
        QTimer::singleShot(0, f, [&]() {
            QCoreApplication::postEvent(f, new ZRadioEvent(ZRadioEvent::ShortPress, 208));
            turnKnob(f, -5);
            QTimer::singleShot(0, f, [&]() { tapKey(f, Qt::Key_F5); });
        });
        QCOMPARE(f->exec(), int(QDialog::Accepted));
        f->deleteLater();
        flushDeletes();
        QTRY_COMPARE(presses, 1);
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("200…2900"));

        // What the operator set is there after a power-off and a new start.
        m_store->syncDatabase();
        m_store.reset(new ZParamAdmin(nullptr));
        m_store->setMode(2);
        QCOMPARE(edges(m_store->twinFilter().fp1), QStringLiteral("200…2900"));
        QCOMPARE(edges(m_store->twinFilter().fp2), QStringLiteral("150…2850"));
    }
};

int runFilterTests(int argc, char **argv)
{
    TestFilterPanel t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_panels_filter.moc"
