// Panels, parameter frames and the VFO readout, driven the way the front
// panel drives them (key and wheel events) and checked by what the
// operator sees: digits, highlighted cells, values, closed panels.
#include "zfonts.h"
#include "zpanel.h"
#include "zvfofrequencywidget.h"

#include <QLabel>
#include <QPushButton>
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

void sendKey(QWidget *w, QEvent::Type type, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
             const QString &text = QString())
{
    QKeyEvent e(type, key, mods, text);
    QCoreApplication::sendEvent(w, &e);
}

void tapKey(QWidget *w, int key, Qt::KeyboardModifiers mods = Qt::NoModifier,
            const QString &text = QString())
{
    sendKey(w, QEvent::KeyPress, key, mods, text);
    sendKey(w, QEvent::KeyRelease, key, mods, text);
}

QString digitsOf(const ZVFOFrequencyWidget &v)
{
    QString s;
    for (int i = v.digitCount() - 1; i >= 0; --i)
        s += v.digitButton(i)->text();
    return s;
}

bool inverted(const ZVFOFrequencyWidget &v, int i)
{
    return v.digitButton(i)->styleSheet() == QLatin1String(ZVFOFrequencyWidget::invertedStyle());
}

} // namespace

class TestUi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        ZFonts::install();
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
        QVERIFY(panel.functionButton(1)->styleSheet().contains(QLatin1String("rgb(0,255,100,100)")));
        QVERIFY(!panel.functionButton(0)->styleSheet().contains(QLatin1String("rgb(0,255,100,100)")));

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
