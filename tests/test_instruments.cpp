// The instruments of the operating screen and the rules behind them, on the
// offscreen platform: bar meters, the twin-filter view, the audio spectrum
// with its markers, the waveform plot; the knob groups' pages; the spectrum
// resampling for the panadapter and the CI-V trace; the supply watch
// (transmit limit and low-battery shutdown); and every style sheet of the
// project parsing without a warning.
#include "tests/test_support.h"
#include "app/zqrc.h"
#include "ui/mainwidget.h"
#include "ui/mfkgroup.h"
#include "ui/xyplot.h"
#include "ui/zbarmeter.h"
#include "ui/zdrawscope.h"
#include "ui/zfeed.h"
#include "ui/zfonts.h"
#include "ui/zpanel.h"
#include "ui/zsupply.h"
#include "ui/ztwinfilterwidget.h"
#include "ui/zvfofrequencywidget.h"

#include <QDialog>
#include <QDirIterator>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <memory>
#include <vector>

namespace {

// A widget tree on which a style sheet's selectors find what they name: for
// every object name the sheet mentions (and none), a parent of that name
// holding one widget of each kind for every name. Rendering it makes Qt
// resolve every declaration of the sheet.
std::unique_ptr<QWidget> selectorTree(const QString &sheet)
{
    QStringList names{QString()};
    QRegularExpression id(QStringLiteral("#([A-Za-z_][A-Za-z0-9_]*)"));
    for (auto it = id.globalMatch(sheet); it.hasNext();) {
        const QString n = it.next().captured(1);
        if (!names.contains(n))
            names << n;
    }
    auto root = std::make_unique<QWidget>();
    root->resize(400, 300);
    for (const QString &outer : names) {
        auto *parent = new QFrame(root.get());
        parent->setObjectName(outer);
        for (const QString &inner : names) {
            QWidget *kids[] = {new QPushButton(QStringLiteral("X"), parent), new QLabel(QStringLiteral("X"), parent),
                               new QProgressBar(parent), new QLineEdit(parent), new QFrame(parent),
                               new QWidget(parent)};
            for (QWidget *k : kids) {
                k->setObjectName(inner);
                k->resize(40, 20);
            }
            static_cast<QProgressBar *>(kids[2])->setValue(50);
        }
    }
    root->setStyleSheet(sheet);
    return root;
}

// Renders the tree in the widgets' plain, pressed and focused states.
void renderAllStates(QWidget *root)
{
    root->grab();
    for (QPushButton *b : root->findChildren<QPushButton *>())
        b->setDown(true);
    root->grab();
    for (QPushButton *b : root->findChildren<QPushButton *>()) {
        b->setDown(false);
        b->setEnabled(false);
    }
    root->grab();
}

QStringList styleWarnings()
{
    QStringList out;
    for (const QString &l : ztest::logLines())
        if (l.contains(QLatin1String("color")) || l.contains(QLatin1String("stylesheet"), Qt::CaseInsensitive)
            || l.contains(QLatin1String("parse"), Qt::CaseInsensitive))
            out << l;
    return out;
}

} // namespace

class TestInstruments : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ztest::installLogCapture();
        ZFonts::install();
    }

    // ------------------------------------------------------ bar meter

    void barMeterClampsAndDrawsItsScale()
    {
        ZBarMeter m(nullptr, 230, 22);
        QCOMPARE(m.size(), QSize(230, 22 + ZBarMeter::scaleHeight()));
        QCOMPARE(m.bar()->geometry(), QRect(0, 0, 230, 22));
        m.setValue(150);
        QCOMPARE(m.value(), 100);
        m.setValue(-5);
        QCOMPARE(m.value(), 0);
        m.setRange(10, 20);
        m.setValue(15);
        QCOMPARE(m.bar()->value(), 15);
        m.setRange(0, 100);

        // The last tick at the right end, a red one; a blank label draws
        // the tick alone.
        m.setScale({0.0f, 0.5f, 1.0f}, {"S", " ", "+60"});
        m.setTickColors({Qt::white, Qt::yellow, Qt::red});
        QCOMPARE(m.tickLabels().at(2), QStringLiteral("+60"));
        const QImage img = m.grab().toImage();
        QCOMPARE(img.pixelColor(229, 23), QColor(Qt::red));
        QCOMPARE(img.pixelColor(0, 23), QColor(Qt::white));
        QCOMPARE(img.pixelColor(115, 23), QColor(Qt::yellow));
        // The red label sits inside the widget at the right end.
        bool redLabel = false;
        for (int x = 200; x < 230; ++x)
            for (int y = 26; y < m.height(); ++y)
                redLabel |= img.pixelColor(x, y).red() > 200 && img.pixelColor(x, y).green() < 80;
        QVERIFY(redLabel);
    }

    void barMeterFillFollowsValueInItsSegmentColour()
    {
        ZBarMeter m(nullptr, 120, 22);
        m.setBarProps(0, 2, 3, 3, QStringLiteral("rgb(255,100,0)"), 3, 0);
        QVERIFY(m.bar()->styleSheet().contains(QLatin1String("rgb(255,100,0)")));
        QVERIFY(m.bar()->styleSheet().contains(QLatin1String("width: 3px")));
        auto orangeColumns = [&m]() {
            const QImage img = m.grab().toImage();
            int n = 0;
            for (int x = 0; x < m.width(); ++x) {
                const QColor c = img.pixelColor(x, 11);
                n += c.red() > 200 && c.green() > 60 && c.green() < 140 && c.blue() < 60;
            }
            return n;
        };
        m.setValue(0);
        QCOMPARE(orangeColumns(), 0);
        m.setValue(50);
        const int half = orangeColumns();
        m.setValue(100);
        const int full = orangeColumns();
        // Segments: coloured columns with gaps between them.
        QVERIFY2(half > 20 && full > half * 3 / 2 && full < m.width(), qPrintable(QString("%1 %2").arg(half).arg(full)));
        // The segment borders inset the fill: the rows next to the frame
        // stay dark.
        const QImage img = m.grab().toImage();
        QVERIFY(img.pixelColor(60, 1).red() < 100);
    }

    // --------------------------------------------------- twin filter

    void twinFilterViewMapsBandsIntoItsRange()
    {
        ZTwinFilterWidget v;
        v.resize(198, 39);
        v.setRange(-1200, 4200);
        v.setPassBands({150, 2850}, {300, 2700});
        v.setEditedBand(1);
        v.setName(QStringLiteral("FIL1"));
        QCOMPARE(v.editedBand(), 1);
        const QRectF a = v.bandArea();
        QCOMPARE(v.xOf(-1200), float(a.left()));
        QCOMPARE(v.xOf(4200), float(a.right()));
        QCOMPARE(v.xOf(9999), float(a.right()));
        QVERIFY(std::fabs(v.xOf(1500) - float(a.left() + a.width() * 0.5)) < 0.01f);
        // The edited band (pass band 2, lower half) bright, pass band 1 dim;
        // both are drawn inside their edges only.
        const QImage img = v.grab().toImage();
        const int yUpper = int(a.top() + a.height() * 0.2);
        const int yLower = int(a.top() + a.height() * 0.7);
        const int xMid = int(v.xOf(1500));
        QCOMPARE(img.pixelColor(xMid, yLower), QColor(0, 190, 255));
        QCOMPARE(img.pixelColor(xMid, yUpper), QColor(0, 80, 120));
        QCOMPARE(img.pixelColor(int(v.xOf(-1000)), yUpper), QColor(0, 0, 0));
        QCOMPARE(img.pixelColor(int(v.xOf(2800)), yLower), QColor(0, 0, 0));
        v.setEditedBand(7); // anything else edits pass band 1
        QCOMPARE(v.editedBand(), 0);
    }

    // ------------------------------------------------ audio spectrum

    void audioScopeAveragesAndPlacesMarkers()
    {
        ZDrawScope s;
        s.resize(199, 124);
        s.setVerticalScale(8, 5.0f, -20.0f);
        s.setFrequencySpan(16000.0f);
        QCOMPARE(s.displayHigh(), 8000.0f);
        const QRectF a = s.plotArea();
        QCOMPARE(s.yOf(-20.0f), float(a.bottom()));
        QCOMPARE(s.yOf(20.0f), float(a.top()));
        QCOMPARE(s.yOf(-60.0f), float(a.bottom())); // below the floor: at the floor
        QVERIFY(std::fabs(s.yOf(0.0f) - float(a.top() + a.height() / 2)) < 0.01f);

        // Averaging: each spectrum weighs alpha; a new length starts over.
        s.setAverage(0.5f);
        s.setSamples(QVector<float>(512, 0.0f));
        s.setSamples(QVector<float>(512, 10.0f));
        QCOMPARE(s.trace().at(3), 5.0f);
        s.setSamples(QVector<float>(256, -3.0f));
        QCOMPARE(s.trace().size(), 256);
        QCOMPARE(s.trace().at(0), -3.0f);

        // Markers by name: a second set moves it, remove and clear.
        s.setMarkers({{"fc", 1000.0f}, {"mark", 1085.0f}, {"space", 915.0f}});
        QCOMPARE(s.markers().size(), 3);
        s.setMarker(QStringLiteral("fc"), 1500.0f);
        QCOMPARE(s.markers().size(), 3);
        QCOMPARE(s.markers().at(0).hz, 1500.0f);
        QVERIFY(s.markers().at(0).color != s.markers().at(1).color);
        s.removeMarker(QStringLiteral("mark"));
        QCOMPARE(s.markers().size(), 2);
        QCOMPARE(s.markers().at(1).name, QStringLiteral("space"));

        // A zoomed range puts the marker where its frequency is.
        s.setDisplayRange(500.0f, 2500.0f);
        QCOMPARE(s.xOf(1500.0f), float(a.left() + a.width() / 2));
        s.setMarker(QStringLiteral("fc"), 1500.0f, QColor(255, 0, 255));
        const QImage img = s.grab().toImage();
        bool magenta = false;
        const int x = int(s.xOf(1500.0f));
        for (int y = int(a.top()) + 14; y < int(a.bottom()); ++y)
            magenta |= img.pixelColor(x, y) == QColor(255, 0, 255);
        QVERIFY(magenta);
        s.clearMarkers();
        QVERIFY(s.markers().isEmpty());
    }

    void audioScopeTraceFollowsTheReferenceLevel()
    {
        ZDrawScope s;
        s.resize(199, 124);
        s.setVerticalScale(8, 5.0f, -20.0f);
        s.setFrequencySpan(16000.0f);
        // A tone at 1000 Hz (bin 64 of 512) at 0 dB over a floor below the
        // scale.
        QVector<float> spectrum(512, -60.0f);
        spectrum[64] = 0.0f;
        s.setSamples(spectrum);
        auto topOfTrace = [&s]() {
            const QImage img = s.grab().toImage();
            const int x = int(s.xOf(1000.0f));
            for (int y = 0; y < img.height(); ++y) {
                const QColor c = img.pixelColor(x, y);
                if (c.green() > 200 && c.red() < 150)
                    return y;
            }
            return -1;
        };
        const int y0 = topOfTrace();
        QVERIFY(std::abs(y0 - int(s.yOf(0.0f))) <= 2);
        s.setReferenceLevel(10.0f);
        const int y1 = topOfTrace();
        QVERIFY(std::abs(y1 - int(s.yOf(10.0f))) <= 2);
        QVERIFY(y1 < y0);
    }

    void waveformScaleFollowsTheSignal()
    {
        XYPlot p;
        p.resize(199, 124);
        QVector<float> loud(800), quiet(800);
        for (int i = 0; i < 800; ++i) {
            loud[i] = 0.4f * std::sin(float(i) * 0.1f);
            quiet[i] = 0.004f * std::sin(float(i) * 0.1f);
        }
        p.setSamples(loud);
        QVERIFY(std::fabs(p.fullScale() - 0.5f) < 0.01f);
        // Down slowly: a tenth of the way per block.
        p.setSamples(quiet);
        QVERIFY(p.fullScale() > 0.4f);
        for (int i = 0; i < 80; ++i)
            p.setSamples(quiet);
        QVERIFY(std::fabs(p.fullScale() - 0.005f) < 0.001f);
        // A weak signal still fills the plot: a trace pixel near the top.
        const QImage img = p.grab().toImage();
        int top = img.height();
        for (int x = 0; x < img.width(); ++x)
            for (int y = 0; y < img.height(); ++y)
                if (img.pixelColor(x, y).red() > 200 && img.pixelColor(x, y).blue() < 80)
                    top = qMin(top, y);
        QVERIFY2(top < 30, qPrintable(QString::number(top)));
        p.setFullScale(1.0f);
        QCOMPARE(p.fullScale(), 1.0f);
    }

    // ------------------------------------------------ knob groups

    void groupPagesKeepTheSelectionOnAKey_data()
    {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("afterSelected");
        QTest::addRow("eight items, F5 selected, to page 2 selects its last item") << 8 << 4 << 1 << 2;
        QTest::addRow("eight items, F3 selected, stays") << 8 << 2 << 1 << 2;
        QTest::addRow("eight items, F1 selected, stays") << 8 << 0 << 1 << 0;
        QTest::addRow("ten items, F5 selected, stays") << 10 << 4 << 1 << 4;
        QTest::addRow("six items, F4 selected, to the single item") << 6 << 3 << 1 << 0;
        QTest::addRow("three items, one page, no turn") << 3 << 2 << 0 << 2;
    }

    void groupPagesKeepTheSelectionOnAKey()
    {
        QFETCH(int, items);
        QFETCH(int, selected);
        QFETCH(int, page);
        QFETCH(int, afterSelected);
        QList<mfkitem_t> list;
        for (int i = 0; i < items; ++i)
            list.append({QStringLiteral("K%1").arg(i), QStringLiteral("wparam,k%1").arg(i)});
        mfkgroup_t g(list, 5);
        QCOMPARE(g.pageCount, (items + 4) / 5);
        g.selected = selected;
        QCOMPARE(g.nextPage(), page == 1);
        QCOMPARE(g.page, page);
        QCOMPARE(g.selected, afterSelected);
        QVERIFY(g.item(g.selected) != nullptr);
        // Past the last page comes the first.
        if (g.pageCount > 1) {
            while (g.page != 0)
                g.nextPage();
            QCOMPARE(g.page, 0);
        }
    }

    void groupParamsSplitIntoTableAndKey()
    {
        mfkgroup_t g({{"A", "wparam,ks"}, {"B", "VOICE"}, {"C", ""}, {"D", "wparam,"}}, 5);
        QCOMPARE(g.dbTableParamNames(0), (QStringList{"wparam", "ks"}));
        QCOMPARE(g.dbTableParamNames(1), QStringList{"VOICE"});
        QCOMPARE(g.dbTableParamNames(2).size(), 1);
        QCOMPARE(g.dbTableParamNames(3), (QStringList{"wparam", ""}));
        QCOMPARE(g.keyParamString(4), QString());   // past the end of the list
        QCOMPARE(g.keyParamString(7), QString());   // past the keys of a page
        QCOMPARE(g.dbTableParamNames(4).size(), 1);
        mfkgroup_t none({}, 0);
        QCOMPARE(none.pageCount, 0);
        QVERIFY(!none.nextPage());
        QCOMPARE(none.keyParamString(0), QString());
    }

    // ------------------------------------------------ spectrum resampling

    void cubicResamplingKeepsShapeAndEnds()
    {
        std::vector<float> in(512);
        for (int i = 0; i < 512; ++i)
            in[size_t(i)] = float(i) * 0.5f - 100.0f; // a ramp
        std::vector<float> out(128);
        zfeed_resample_cubic(in.data(), 512, out.data(), 128);
        // A cubic through a straight line is the line; both ends are kept.
        QCOMPARE(out.front(), in.front());
        QCOMPARE(out.back(), in.back());
        for (int i = 0; i < 128; ++i) {
            const double x = double(i) * 511.0 / 127.0;
            QVERIFY(std::fabs(out[size_t(i)] - float(x * 0.5 - 100.0)) < 1e-3f);
        }
        // A single peak stays where it was, in proportion.
        std::vector<float> spike(512, -120.0f);
        spike[256] = -40.0f;
        std::vector<float> o2(256);
        zfeed_resample_cubic(spike.data(), 512, o2.data(), 256);
        const int at = int(std::max_element(o2.begin(), o2.end()) - o2.begin());
        QVERIFY(std::abs(at - 128) <= 1);
        // One point: the middle input; equal sizes copy.
        float one = 0;
        zfeed_resample_cubic(in.data(), 512, &one, 1);
        QCOMPARE(one, in[256]);
        std::vector<float> same(512);
        zfeed_resample_cubic(in.data(), 512, same.data(), 512);
        QVERIFY(same == in);
        // Neighbours outside the input are its ends.
        QCOMPARE(_cubic_safe_get(in.data(), 512, -3), in.front());
        QCOMPARE(_cubic_safe_get(in.data(), 512, 600), in.back());
    }

    void civTraceHas475Points_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<float>("first");
        QTest::addRow("512, each the mean of one input") << 512 << 0.0f;
        QTest::addRow("475, copied") << 475 << 0.0f;
        QTest::addRow("950, pairs averaged") << 950 << 0.5f;
        QTest::addRow("1000, pairs at a fractional step") << 1000 << 0.5f;
        QTest::addRow("256, by repetition") << 256 << 0.0f;
        QTest::addRow("128, by repetition") << 128 << 0.0f;
        QTest::addRow("1") << 1 << 0.0f;
    }

    void civTraceHas475Points()
    {
        QFETCH(int, n);
        QFETCH(float, first);
        std::vector<float> in;
        for (int i = 0; i < n; ++i)
            in.push_back(float(i));
        std::vector<float> out(ZFEED_CIV_POINTS, -999.0f);
        zfeed_civ_trace(in.data(), n, out.data());
        for (float v : out)
            QVERIFY(v >= 0.0f && v <= float(n - 1));
        // Monotonic input, monotonic trace, from the start to (near) the end.
        for (int i = 1; i < ZFEED_CIV_POINTS; ++i)
            QVERIFY(out[size_t(i)] >= out[size_t(i - 1)]);
        QCOMPARE(out[0], first);
        QVERIFY(out.back() >= float(n - 1) - float(n) / 475.0f - 1.0f);
        if (n == 512) {
            // r = 512/475, G = 1: output i is input trunc(i * r).
            const double r = 512.0 / 475.0;
            for (int i = 0; i < ZFEED_CIV_POINTS; ++i)
                QCOMPARE(out[size_t(i)], float(int(double(i) * r)));
        }
        if (n == 950)
            QCOMPARE(out[10], 20.5f);
        if (n == 256) {
            // Every input appears, some twice.
            QCOMPARE(out[1], 0.0f);
            QCOMPARE(out[2], 1.0f);
            QCOMPARE(out.back(), 255.0f);
        }
    }

    // ------------------------------------------------ supply watch

    void powerSourceAppliesAfterStartAndEachChange()
    {
        zsupply_t z;
        // Five seconds after start-up the limits of the supply found then.
        int applied = 0;
        for (int s = 0; s < 5; ++s)
            applied += zsupply_check_source(&z, true);
        QCOMPARE(applied, 0);
        QCOMPARE(zsupply_check_source(&z, true), 1);
        QVERIFY(z.extPower);
        // Idle while nothing changes.
        for (int s = 0; s < 20; ++s)
            QCOMPARE(zsupply_check_source(&z, true), 0);
        // To battery: held five seconds, then applied once.
        int when = -1;
        for (int s = 0; s < 12; ++s)
            if (zsupply_check_source(&z, false) && when < 0)
                when = s;
        QCOMPARE(when, 6); // one second to see it, five held
        QVERIFY(!z.extPower);
        // A plug that bounces during the hold applies the last state once.
        applied = 0;
        const bool bounce[] = {true, false, true, true, true, true, true, true, true, true};
        for (bool b : bounce)
            applied += zsupply_check_source(&z, b);
        QCOMPARE(applied, 1);
        QVERIFY(z.extPower);
    }

    void lowBatteryCountsDownAndCancels_data()
    {
        QTest::addColumn<QString>("cancel");
        QTest::addRow("external supply") << "ext";
        QTest::addRow("link lost") << "link";
        QTest::addRow("7.3 V") << "volts";
        QTest::addRow("5 percent") << "capacity";
    }

    void lowBatteryCountsDownAndCancels()
    {
        QFETCH(QString, cancel);
        zsupply_t z;
        z.extPower = false;
        z.state = ZSUPPLY_IDLE;
        auto low = [&z]() { return zsupply_check_battery(&z, 4, 7.0f, true); };
        // Ten seconds below 5 % before the countdown shows.
        for (int s = 0; s < 9; ++s)
            QCOMPARE(low(), -1);
        QCOMPARE(low(), 29);
        QCOMPARE(low(), 28);
        // One second of any reload condition cancels it ...
        if (cancel == "ext") {
            z.extPower = true;
            QCOMPARE(low(), -1);
            z.extPower = false;
        } else if (cancel == "link") {
            QCOMPARE(zsupply_check_battery(&z, 4, 7.0f, false), -1);
        } else if (cancel == "volts") {
            QCOMPARE(zsupply_check_battery(&z, 4, 7.3f, true), -1);
        } else {
            QCOMPARE(zsupply_check_battery(&z, 5, 7.0f, true), -1);
        }
        // ... and the next countdown starts from 29 after another ten.
        for (int s = 0; s < 9; ++s)
            QCOMPARE(low(), -1);
        QList<int> seen;
        for (int s = 0; s < 30; ++s)
            seen << low();
        QCOMPARE(seen.first(), 29);
        QCOMPARE(seen.at(28), 1);
        QCOMPARE(seen.last(), 0); // the thirtieth second: power off
        QCOMPARE(low(), 0);
    }

    // ------------------------------------------------ style sheets

    // Every style sheet of the resource bundle, rendered on widgets that its
    // selectors match, in their plain, pressed and disabled states: Qt
    // writes no warning (each one would land in the log at every repaint).
    void resourceStyleSheetsParseWithoutWarnings_data()
    {
        QTest::addColumn<QString>("file");
        QDirIterator it(QStringLiteral(ZR_SOURCE_DIR "/resources"), {QStringLiteral("*.qss")});
        while (it.hasNext()) {
            const QString f = it.next();
            QTest::newRow(qPrintable(QFileInfo(f).fileName())) << QFileInfo(f).fileName();
        }
    }

    void resourceStyleSheetsParseWithoutWarnings()
    {
        QFETCH(QString, file);
        QString sheet = ZQRC::getQssFromQrcFile(QStringLiteral(":/") + file);
        QVERIFY2(!sheet.isEmpty(), "not in the resource bundle");
        if (sheet.contains(QLatin1String("%1")))
            sheet = ZBarMeter::barStyle(0, 2, 3, 3, QStringLiteral("rgb(255,100,0)"), 3, 0);
        ztest::clearLog();
        std::unique_ptr<QWidget> tree = selectorTree(sheet);
        renderAllStates(tree.get());
        QVERIFY2(styleWarnings().isEmpty(), qPrintable(styleWarnings().join('\n')));
    }

    // The style sheets written in code, by the same check.
    void codeStyleSheetsParseWithoutWarnings()
    {
        const QStringList sheets = {
            QString::fromLatin1(ZVFOFrequencyWidget::normalStyle()),
            QString::fromLatin1(ZVFOFrequencyWidget::invertedStyle()),
            ZPanel::buttonStyle(true),
            ZPanel::buttonStyle(false),
            ZBarMeter::barStyle(0, 2, 3, 3, QStringLiteral("rgb(0,200,255)"), 3, 0),
            MainWidget::infoLabelStyle(),
            MainWidget::batteryStyle(10),
            MainWidget::batteryStyle(50),
            MainWidget::batteryStyle(90),
        };
        for (const QString &sheet : sheets) {
            ztest::clearLog();
            std::unique_ptr<QWidget> tree = selectorTree(sheet);
            renderAllStates(tree.get());
            QVERIFY2(styleWarnings().isEmpty(), qPrintable(sheet + "\n" + styleWarnings().join('\n')));
        }
    }

    // No source file gives a colour four numbers with rgb(): Qt reads such
    // a colour with a warning ("Specified color without alpha value but
    // alpha given") each time it applies the sheet. Transparency is
    // written rgba(...).
    void noRgbColourCarriesAnAlpha()
    {
        const QRegularExpression bad(QStringLiteral("rgb\\(\\s*[0-9]+\\s*,\\s*[0-9]+\\s*,\\s*[0-9]+\\s*,"));
        QStringList hits;
        for (const char *dir : {"ui", "audio", "modem", "server", "wireless", "radio", "civ", "spectrum",
                                "resources", "app"}) {
            QDirIterator it(QStringLiteral(ZR_SOURCE_DIR "/") + QLatin1String(dir),
                            {"*.cpp", "*.h", "*.qss", "*.ui"}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString f = it.next();
                const QStringList lines = ztest::readText(f).split('\n');
                for (int i = 0; i < lines.size(); ++i)
                    if (bad.match(lines.at(i)).hasMatch())
                        hits << QStringLiteral("%1:%2: %3").arg(f).arg(i + 1).arg(lines.at(i).trimmed());
            }
        }
        QVERIFY2(hits.isEmpty(), qPrintable(hits.join('\n')));
    }

    void checkerCatchesTheFaultItLooksFor()
    {
        // The warning the two checks above look for is real.
        ztest::clearLog();
        std::unique_ptr<QWidget> tree =
            selectorTree(QStringLiteral("QPushButton{background-color:rgb(0,0,0,0);}"));
        renderAllStates(tree.get());
        QVERIFY(!styleWarnings().isEmpty());
    }
};

QTEST_MAIN(TestInstruments)
#include "test_instruments.moc"
