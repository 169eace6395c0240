// The on-screen keyboard on line edits (with validators and length limits),
// plain-text and rich-text edits: typed by touch, by the knobs and Enter,
// by F1 … F5; cancel restores what the target held.
#include "tests/panels_support.h"
#include "tests/test_support.h"
#include "ui/zfonts.h"
#include "ui/zkeyboard.h"

#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

using namespace pantest;

namespace {

// Places on the last row of the text keyboard.
const int kLayerKey = 36;
const int kCursorLeftKey = 45;
const int kNewLineKey = 47;

// Moves the highlight with the multi-function knob onto key i (forward,
// one step per event, as the knob turns) and presses Enter.
bool knobPress(ZKeyboard *kb, int i)
{
    for (int guard = 0; kb->highlightedKey() != i && guard < 2 * kb->keyCount(); ++guard)
        turnKnob(kb, -1);
    if (kb->highlightedKey() != i)
        return false;
    tapKey(kb, Qt::Key_Enter);
    return true;
}

// Types text the way an operator does without touching the screen: knob
// and Enter for the keys, F1 for the case, F3 for spaces, the layer key for
// symbols.
bool knobType(ZKeyboard *kb, const QString &text)
{
    for (QChar c : text) {
        if (c == QLatin1Char(' ')) {
            tapKey(kb, Qt::Key_F3);
            continue;
        }
        if (c.isLetter() && kb->type() == ZKeyboard::Text) {
            if (kb->showsSymbols() && !knobPress(kb, kLayerKey))
                return false;
            if (c.isUpper() != kb->isShifted())
                tapKey(kb, Qt::Key_F1);
        }
        int i = kb->keyIndexOf(c);
        if (i < 0 && kb->type() == ZKeyboard::Text) {
            if (!knobPress(kb, kLayerKey))
                return false;
            i = kb->keyIndexOf(c);
        }
        if (i < 0 || !knobPress(kb, i))
            return false;
    }
    return true;
}

} // namespace

class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ZFonts::install(); }

    void sitsOnTheLowerScreenWithTouchSizedKeys_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("keys");
        QTest::newRow("text") << int(ZKeyboard::Text) << 48;
        QTest::newRow("numeric") << int(ZKeyboard::Numeric) << 16;
    }
    void sitsOnTheLowerScreenWithTouchSizedKeys()
    {
        QFETCH(int, type);
        QFETCH(int, keys);
        QLineEdit edit;
        ZKeyboard kb(nullptr, &edit, type);
        QCOMPARE(kb.geometry(), QRect(5, 239, 794, 241));
        QVERIFY(QRect(0, 0, 800, 480).contains(kb.geometry()));
        QCOMPARE(kb.keyCount(), keys);
        QString why;
        QVERIFY2(childrenFitWithoutOverlap(&kb, &why), qPrintable(why));
        for (int i = 0; i < kb.keyCount(); ++i) {
            QPushButton *k = kb.keyButton(i);
            QVERIFY2(k->width() >= 60 && k->height() >= 34, qPrintable(k->objectName()));
            // Every label fits its key.
            const int w = QFontMetrics(k->font()).horizontalAdvance(k->text());
            QVERIFY2(w <= k->width() - 6, qPrintable(k->text()));
        }
        for (int i = 0; i < 5; ++i) {
            QPushButton *f = kb.functionButton(i);
            QVERIFY(f->height() >= 44);
            QVERIFY2(QFontMetrics(f->font()).horizontalAdvance(f->text()) <= f->width() - 6,
                     qPrintable(f->text()));
        }
        saveShot(&kb, type == ZKeyboard::Text ? QStringLiteral("keyboard_text")
                                              : QStringLiteral("keyboard_numeric"));
    }

    void knobMovesTheHighlightAndDialMovesRows()
    {
        QLineEdit edit;
        ZKeyboard kb(nullptr, &edit, ZKeyboard::Text);
        QCOMPARE(kb.highlightedKey(), 0);
        const QString idle = kb.keyButton(1)->styleSheet();
        turnKnob(&kb, -1); // forward
        QCOMPARE(kb.highlightedKey(), 1);
        QVERIFY(kb.keyButton(1)->styleSheet() != idle);
        QCOMPARE(kb.keyButton(0)->styleSheet(), idle);
        turnKnob(&kb, -3); // a fast turn moves as many keys
        QCOMPARE(kb.highlightedKey(), 4);
        turnKnob(&kb, +4);
        QCOMPARE(kb.highlightedKey(), 0);
        // Back from the first key: the last key a line edit can use (the
        // new-line key is not one of them).
        turnKnob(&kb, +1);
        QCOMPARE(kb.highlightedKey(), 46);
        QVERIFY(!kb.keyButton(kNewLineKey)->isEnabled());
        turnKnob(&kb, -1);
        QCOMPARE(kb.highlightedKey(), 0);
        // A desktop wheel notch is one step, not 120.
        turnKnob(&kb, -120);
        QCOMPARE(kb.highlightedKey(), 1);
        turnKnob(&kb, 120);

        // The tuning dial goes down a row in the same column, wrapping.
        turnKnob(&kb, -1, Qt::AltModifier);
        QCOMPARE(kb.highlightedKey(), 12);
        turnKnob(&kb, +2, Qt::AltModifier);
        QCOMPARE(kb.highlightedKey(), 36);
        turnKnob(&kb, -1, Qt::AltModifier);
        QCOMPARE(kb.highlightedKey(), 0);
        // Up from the last column: the new-line place is skipped for the
        // nearest key of that row.
        turnKnob(&kb, -11);
        QCOMPARE(kb.highlightedKey(), 11);
        turnKnob(&kb, +1, Qt::AltModifier);
        QCOMPARE(kb.highlightedKey(), 46);
        // Other modifiers leave it alone.
        turnKnob(&kb, -1, Qt::ControlModifier);
        QCOMPARE(kb.highlightedKey(), 46);
    }

    void knobAndEnterTypeShiftedLettersDigitsAndSymbols()
    {
        QLineEdit edit;
        ZKeyboard kb(nullptr, &edit, ZKeyboard::Text);
        QVERIFY(knobType(&kb, QStringLiteral("DL1abc/P 73!\"#")));
        QCOMPARE(edit.text(), QStringLiteral("DL1abc/P 73!\"#"));
        QCOMPARE(kb.previewText(), edit.text());
        QCOMPARE(kb.previewCursor(), edit.text().size());
        QVERIFY(kb.showsSymbols());
        QCOMPARE(kb.keyButton(kLayerKey)->text(), QStringLiteral("ABC"));
        // '&' is shown as itself, not taken for a shortcut marker.
        QCOMPARE(kb.keyButton(kb.keyIndexOf(QLatin1Char('&')))->text(), QStringLiteral("&&"));
        QVERIFY(knobType(&kb, QStringLiteral("&x")));
        QVERIFY(edit.text().endsWith(QStringLiteral("&x")));
        QVERIFY(kb.isShifted() == false && !kb.showsSymbols());
        QCOMPARE(kb.keyButton(kb.keyIndexOf(QLatin1Char('q')))->text(), QStringLiteral("q"));
        tapKey(&kb, Qt::Key_F1);
        QCOMPARE(kb.keyButton(kb.keyIndexOf(QLatin1Char('Q')))->text(), QStringLiteral("Q"));
        QCOMPARE(kb.keyIndexOf(QLatin1Char('q')), -1);

        // Backspace (F2) and the cursor keys edit inside the text.
        edit.setText(QStringLiteral("CQ"));
        QVERIFY(knobPress(&kb, kCursorLeftKey));
        QCOMPARE(edit.cursorPosition(), 1);
        QCOMPARE(kb.previewCursor(), 1);
        QVERIFY(knobType(&kb, QStringLiteral("X")));
        QCOMPARE(edit.text(), QStringLiteral("CXQ"));
        tapKey(&kb, Qt::Key_F2);
        tapKey(&kb, Qt::Key_F2);
        QCOMPARE(edit.text(), QStringLiteral("Q"));
        tapKey(&kb, Qt::Key_F2); // at the start: nothing left to delete
        QCOMPARE(edit.text(), QStringLiteral("Q"));
    }

    void touchTypesAndMovesTheHighlight()
    {
        QLineEdit edit;
        ZKeyboard kb(nullptr, &edit, ZKeyboard::Text);
        QTest::mouseClick(kb.keyButton(kb.keyIndexOf(QLatin1Char('k'))), Qt::LeftButton);
        QTest::mouseClick(kb.keyButton(kb.keyIndexOf(QLatin1Char('9'))), Qt::LeftButton);
        QTest::mouseClick(kb.functionButton(2), Qt::LeftButton);
        QCOMPARE(edit.text(), QStringLiteral("k9 "));
        // The knob goes on from the key last touched.
        QCOMPARE(kb.highlightedKey(), 8);
        turnKnob(&kb, -1);
        QCOMPARE(kb.highlightedKey(), 9);
        // A touch on the layer key shows the symbols; their keys type them.
        QTest::mouseClick(kb.keyButton(kLayerKey), Qt::LeftButton);
        QTest::mouseClick(kb.keyButton(kb.keyIndexOf(QLatin1Char('~'))), Qt::LeftButton);
        QCOMPARE(edit.text(), QStringLiteral("k9 ~"));
        // Touching F4 accepts.
        QTest::mouseClick(kb.functionButton(3), Qt::LeftButton);
        QCOMPARE(kb.result(), int(QDialog::Accepted));
        QCOMPARE(edit.text(), QStringLiteral("k9 ~"));
    }

    void cancelRestoresTextAndCursor_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("line edit") << QStringLiteral("line");
        QTest::newRow("plain text") << QStringLiteral("plain");
        QTest::newRow("rich text") << QStringLiteral("rich");
    }
    void cancelRestoresTextAndCursor()
    {
        QFETCH(QString, kind);
        // Quotes, a backslash, non-ASCII and a long tail: restored exactly.
        const QString original = QStringLiteral("CQ \"DX\" 'de' \\ Grüße ÄÖ ☺ ") + QString(3000, QLatin1Char('x'));
        QLineEdit line;
        QPlainTextEdit plain;
        QTextEdit rich;
        QWidget *target = nullptr;
        std::function<QString()> text;
        std::function<int()> cursor;
        if (kind == QLatin1String("line")) {
            line.setMaxLength(32767);
            line.setText(original);
            line.setCursorPosition(3);
            target = &line;
            text = [&]() { return line.text(); };
            cursor = [&]() { return line.cursorPosition(); };
        } else if (kind == QLatin1String("plain")) {
            plain.setPlainText(QStringLiteral("first line\n") + original);
            QTextCursor c = plain.textCursor();
            c.setPosition(14);
            plain.setTextCursor(c);
            target = &plain;
            text = [&]() { return plain.toPlainText(); };
            cursor = [&]() { return plain.textCursor().position(); };
        } else {
            rich.setHtml(QStringLiteral("<b>bold</b> ") + original.toHtmlEscaped());
            QTextCursor c = rich.textCursor();
            c.setPosition(2);
            rich.setTextCursor(c);
            target = &rich;
            text = [&]() { return rich.toPlainText(); };
            cursor = [&]() { return rich.textCursor().position(); };
        }
        const QString before = text();
        const int cursorBefore = cursor();

        for (int round = 0; round < 2; ++round) {
            ZKeyboard kb(nullptr, target, ZKeyboard::Text);
            QVERIFY(knobType(&kb, QStringLiteral("ab7")));
            tapKey(&kb, Qt::Key_F2);
            QCOMPARE(text(), before.left(cursorBefore) + QStringLiteral("ab") + before.mid(cursorBefore));
            if (round == 0) {
                tapKey(&kb, Qt::Key_F5); // cancel
                QCOMPARE(kb.result(), int(QDialog::Rejected));
                QCOMPARE(text(), before);
                QCOMPARE(cursor(), cursorBefore);
            } else {
                tapKey(&kb, Qt::Key_F4); // OK keeps the edit
                QCOMPARE(kb.result(), int(QDialog::Accepted));
                QCOMPARE(text(), before.left(cursorBefore) + QStringLiteral("ab") + before.mid(cursorBefore));
            }
        }
        if (kind == QLatin1String("rich"))
            QVERIFY(rich.toHtml().contains(QStringLiteral("font-weight:600")));
        // The preview shows the cursor's line of a multi-line text.
        if (kind == QLatin1String("plain")) {
            ZKeyboard kb(nullptr, &plain, ZKeyboard::Text);
            QVERIFY(kb.previewText().startsWith(QStringLiteral("CQ ab\"DX\"")));
            QVERIFY(!kb.previewText().contains(QStringLiteral("first line")));
            QVERIFY(kb.keyButton(kNewLineKey)->isEnabled());
            QVERIFY(knobPress(&kb, kNewLineKey));
            QVERIFY(plain.toPlainText().contains(QStringLiteral("\n")));
            QCOMPARE(kb.previewText(), QString(plain.textCursor().block().text()));
            kb.reject();
        }
    }

    void lineEditValidatorAndLengthAreRespected()
    {
        // A port: digits only, 1 to 65535.
        QLineEdit port;
        port.setValidator(new QIntValidator(1, 65535, &port));
        {
            ZKeyboard kb(nullptr, &port, ZKeyboard::Numeric);
            QCOMPARE(kb.keyIndexOf(QLatin1Char('a')), -1);
            QVERIFY(knobType(&kb, QStringLiteral("0")));
            QCOMPARE(port.text(), QStringLiteral("0"));
            // "0" is not yet a port: OK is refused and the keyboard stays.
            tapKey(&kb, Qt::Key_F4);
            QVERIFY(kb.lastInputRefused());
            QCOMPARE(kb.result(), 0);
            tapKey(&kb, Qt::Key_F1); // clear
            QCOMPARE(port.text(), QString());
            QVERIFY(!kb.lastInputRefused());
            QVERIFY(knobType(&kb, QStringLiteral("5005")));
            QVERIFY(knobType(&kb, QStringLiteral("0")));
            QCOMPARE(port.text(), QStringLiteral("50050"));
            QVERIFY(knobType(&kb, QStringLiteral("1")) && kb.lastInputRefused());
            QVERIFY(knobType(&kb, QStringLiteral(".")));
            QCOMPARE(port.text(), QStringLiteral("50050"));
            QVERIFY(kb.lastInputRefused());
            tapKey(&kb, Qt::Key_F4);
            QCOMPARE(kb.result(), int(QDialog::Accepted));
        }
        // A name limited to letters and 8 characters.
        QLineEdit name;
        name.setMaxLength(8);
        name.setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z]*")), &name));
        ZKeyboard kb(nullptr, &name, ZKeyboard::Text);
        QVERIFY(knobType(&kb, QStringLiteral("ab1/ cdefghijk")));
        QCOMPARE(name.text(), QStringLiteral("abcdefgh"));
        tapKey(&kb, Qt::Key_F4);
        QCOMPARE(kb.result(), int(QDialog::Accepted));
    }

    void passwordFieldsShowOnlyTheirMask()
    {
        QLineEdit pw;
        pw.setEchoMode(QLineEdit::Password);
        ZKeyboard kb(nullptr, &pw, ZKeyboard::Text);
        QVERIFY(knobType(&kb, QStringLiteral("s3cr")));
        QCOMPARE(pw.text(), QStringLiteral("s3cr"));
        QCOMPARE(kb.previewText().size(), 4);
        QVERIFY(!kb.previewText().contains(QLatin1Char('s')));
        QVERIFY(!kb.previewText().contains(QLatin1Char('3')));
    }

    void onlyKeysPressedWhileOpenAct()
    {
        QLineEdit edit;
        ZKeyboard kb(nullptr, &edit, ZKeyboard::Text);
        // The release of the Enter or F4 that opened the keyboard types nothing.
        sendKey(&kb, QEvent::KeyRelease, Qt::Key_Enter);
        sendKey(&kb, QEvent::KeyRelease, Qt::Key_F4);
        QCOMPARE(edit.text(), QString());
        QCOMPARE(kb.result(), 0);
        // While Enter is held the key shows pressed; an auto-repeated press
        // adds nothing.
        sendKey(&kb, QEvent::KeyPress, Qt::Key_Enter);
        QVERIFY(kb.keyButton(0)->isDown());
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Enter, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(&kb, &repeat);
        sendKey(&kb, QEvent::KeyRelease, Qt::Key_Enter);
        QVERIFY(!kb.keyButton(0)->isDown());
        QCOMPARE(edit.text(), QStringLiteral("1"));

        // The hand microphone's keypad types its digits; its other keys
        // and the group keys go to the window behind.
        tapKey(&kb, Qt::Key_7, Qt::NoModifier, QStringLiteral("7"));
        tapKey(&kb, Qt::Key_Period, Qt::NoModifier, QStringLiteral("."));
        tapKey(&kb, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("HMIC-BACKSPACE"));
        QCOMPARE(edit.text(), QStringLiteral("17"));
    }

    void unusedKeysGoToTheWindowBehind()
    {
        QWidget window;
        struct Sink : QObject {
            QList<int> keys;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease)
                    keys.append(static_cast<QKeyEvent *>(e)->key());
                return false;
            }
        } sink;
        window.installEventFilter(&sink);
        QLineEdit edit(&window);
        ZKeyboard kb(&window, &edit, ZKeyboard::Text);
        tapKey(&kb, Qt::Key_2, Qt::ControlModifier, QStringLiteral("^2"));
        tapKey(&kb, Qt::Key_Play, Qt::NoModifier, QStringLiteral("BIULT-IN"));
        tapKey(&kb, Qt::Key_PageUp, Qt::NoModifier, QStringLiteral("BAND-UP"));
        tapKey(&kb, Qt::Key_F3);
        QCoreApplication::processEvents();
        QCOMPARE(sink.keys, (QList<int>{Qt::Key_2, Qt::Key_2, Qt::Key_Play, Qt::Key_Play, Qt::Key_PageUp, Qt::Key_PageUp}));
        QCOMPARE(edit.text(), QStringLiteral(" "));
    }

    void numericOffersOnlyItsCharacters()
    {
        QLineEdit addr;
        ZKeyboard kb(nullptr, &addr, ZKeyboard::Numeric);
        QString offered;
        for (int i = 0; i < kb.keyCount(); ++i)
            offered += kb.keyButton(i)->text();
        for (QChar c : QStringLiteral("0123456789.:-/"))
            QVERIFY2(offered.contains(c), qPrintable(QString(c)));
        QVERIFY(knobType(&kb, QStringLiteral("192.168.1.10:80/24-")));
        QCOMPARE(addr.text(), QStringLiteral("192.168.1.10:80/24-"));
        // No space, no shift; characters from elsewhere are refused.
        tapKey(&kb, Qt::Key_F3);
        QVERIFY(!kb.functionButton(2)->isEnabled());
        tapKey(&kb, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QCOMPARE(addr.text(), QStringLiteral("192.168.1.10:80/24-"));
        QVERIFY(kb.lastInputRefused());
        QCOMPARE(kb.isShifted(), false);
        saveShot(&kb, QStringLiteral("keyboard_numeric_typed"));
    }

    void modalEditReturnsAcceptedOrRejected()
    {
        QWidget parent;
        QLineEdit edit(&parent);
        edit.setText(QStringLiteral("old"));
        // Keys reach the modal keyboard through its own event loop.
        QTimer::singleShot(0, [&]() {
            auto *kb = parent.findChild<ZKeyboard *>();
            QVERIFY(kb && kb->isVisible());
            QVERIFY(knobType(kb, QStringLiteral("x")));
            saveShot(kb, QStringLiteral("keyboard_modal"));
            tapKey(kb, Qt::Key_F4);
        });
        QCOMPARE(ZKeyboard::edit(&parent, &edit, ZKeyboard::Text), int(QDialog::Accepted));
        QCOMPARE(edit.text(), QStringLiteral("oldx"));
        QVERIFY(!parent.findChild<ZKeyboard *>());

        QTimer::singleShot(0, [&]() {
            auto *kb = parent.findChild<ZKeyboard *>();
            QVERIFY(kb);
            QVERIFY(knobType(kb, QStringLiteral("yz")));
            tapKey(kb, Qt::Key_F5);
        });
        QCOMPARE(ZKeyboard::edit(&parent, &edit, ZKeyboard::Text), int(QDialog::Rejected));
        QCOMPARE(edit.text(), QStringLiteral("oldx"));

        // Nothing to edit: no keyboard at all.
        QLabel label;
        QCOMPARE(ZKeyboard::edit(&parent, &label, ZKeyboard::Text), int(QDialog::Rejected));
        QCOMPARE(ZKeyboard::edit(&parent, nullptr, ZKeyboard::Numeric), int(QDialog::Rejected));
    }

    void aTargetThatGoesAwayEndsTheEdit()
    {
        QWidget parent;
        QPointer<QLineEdit> edit = new QLineEdit(&parent);
        QTimer::singleShot(0, [&]() {
            auto *kb = parent.findChild<ZKeyboard *>();
            QVERIFY(kb);
            QVERIFY(knobType(kb, QStringLiteral("a")));
            delete edit.data();
            // Keys after that touch nothing.
            tapKey(kb, Qt::Key_F2);
            tapKey(kb, Qt::Key_Enter);
        });
        QCOMPARE(ZKeyboard::edit(&parent, edit, ZKeyboard::Text), int(QDialog::Rejected));
        QVERIFY(edit.isNull());
    }

    void readOnlyTargetsAreNotChanged()
    {
        QPlainTextEdit ro;
        ro.setPlainText(QStringLiteral("fixed"));
        ro.setReadOnly(true);
        ZKeyboard kb(nullptr, &ro, ZKeyboard::Text);
        QVERIFY(knobType(&kb, QStringLiteral("ab")));
        tapKey(&kb, Qt::Key_F2);
        QCOMPARE(ro.toPlainText(), QStringLiteral("fixed"));
        QVERIFY(kb.lastInputRefused());
    }
};

int runKeyboardTests(int argc, char **argv)
{
    TestKeyboard t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_panels_keyboard.moc"
