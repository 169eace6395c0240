// The text editor and the memory-channel editor, driven by keys, knobs and
// the on-screen keyboard, checked by what the operator sees and by what the
// parameter store holds afterwards, also after a restart.
#include "tests/panels_support.h"
#include "tests/test_support.h"
#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "radio/zradioevent.h"
#include "ui/zfonts.h"
#include "ui/zkeyboard.h"
#include "ui/zradiochsetting.h"
#include "ui/ztexteditor.h"

#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBlock>
#include <QtTest>

#include <memory>

using namespace pantest;

namespace {

const QString W = QStringLiteral("wparam");

int freqOf(ZParamAdmin &s)
{
    return s.vfoFront(QStringLiteral("freq")).value.toInt();
}

// The memory-channel editor where the main window opens it: 50 pixels
// above the panadapter's top, to the bottom of the screen.
ZRadioChSetting *channelEditor(ZParamAdmin *store, QWidget *parent = nullptr)
{
    return new ZRadioChSetting(parent, store, 0, 126, 800, 354);
}

} // namespace

class TestTextEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { ZFonts::install(); }

    void fillsTheScreenAndStartsAtTheEnd()
    {
        ZTextEditor ed(nullptr, nullptr, 0, 0, 800, 480);
        ed.setTitle(QStringLiteral("MSG 1"));
        ed.setText(QStringLiteral("CQ CQ DE DL1ABC\nPSE K"));
        QCOMPARE(ed.titleLabel()->text(), QStringLiteral("MSG 1"));
        ed.show(); // lays the button row out
        QCOMPARE(ed.geometry(), QRect(0, 0, 800, 480));
        QVERIFY(ed.editor()->textCursor().atEnd());
        QString why;
        QVERIFY2(childrenFitWithoutOverlap(&ed, &why), qPrintable(why));
        QVERIFY(ed.editor()->geometry().top() > ed.titleLabel()->geometry().bottom());
        QVERIFY(ed.editor()->geometry().bottom() < ed.buttonFrame()->geometry().top());
        QVERIFY(ed.statusText().startsWith(QStringLiteral("21 characters   line 2 col 6")));
        QVERIFY(QFontMetrics(ed.findChild<QLabel *>(QStringLiteral("labelStatus"))->font())
                    .horizontalAdvance(ed.statusText())
                < ed.width() - 12);
        for (int i = 0; i < 5; ++i)
            QVERIFY(QFontMetrics(ed.functionButton(i)->font()).horizontalAdvance(ed.functionButton(i)->text())
                    < ed.functionButton(i)->width() - 4);
        saveShot(&ed, QStringLiteral("texteditor"));
    }

    void knobMovesTheCursorDialByLines()
    {
        ZTextEditor ed(nullptr, nullptr, 0, 0, 800, 480);
        ed.setText(QStringLiteral("abc\ndefgh\nij"));
        QPlainTextEdit *e = ed.editor();
        turnKnob(&ed, +2); // back two characters
        QCOMPARE(e->textCursor().position(), 10);
        turnKnob(&ed, -1);
        QCOMPARE(e->textCursor().position(), 11);
        turnKnob(&ed, +1, Qt::AltModifier); // a line up
        QCOMPARE(e->textCursor().blockNumber(), 1);
        turnKnob(&ed, -5, Qt::AltModifier); // past the last line: stays there
        QCOMPARE(e->textCursor().blockNumber(), 2);
        tapKey(&ed, Qt::Key_F3); // not at the end: to the end
        QVERIFY(e->textCursor().atEnd());
        tapKey(&ed, Qt::Key_F3); // at the end: to the start
        QCOMPARE(e->textCursor().position(), 0);
        tapKey(&ed, Qt::Key_F2); // clear
        QCOMPARE(ed.text(), QString());
        QVERIFY(ed.statusText().startsWith(QStringLiteral("0 characters")));
    }

    void typedThroughTheKeyboardAboveIt()
    {
        ZTextEditor ed(nullptr, nullptr, 0, 0, 800, 480);
        ed.setTitle(QStringLiteral("MSG 2"));
        ed.setText(QString(40, QLatin1Char('x')) + QStringLiteral("\n") + QString(30, QLatin1Char('y')));
        const QRect full = ed.editor()->geometry();
        QRect whileOpen;
        whenKeyboardOpens([&](ZKeyboard *kb) {
            whileOpen = ed.editor()->geometry();
            QVERIFY(kb->keyButton(kNewLineKey)->isEnabled());
            QVERIFY(knobType(kb, QStringLiteral(" 73")));
            QVERIFY(knobPress(kb, kNewLineKey));
            QVERIFY(knobType(kb, QStringLiteral("SK")));
            QCOMPARE(kb->previewText(), QStringLiteral("SK"));
            saveShot(&ed, QStringLiteral("texteditor_keyboard_behind"));
            QPixmap shot(800, 480);
            shot.fill(Qt::black);
            ed.render(&shot);
            kb->render(&shot, kb->geometry().topLeft());
            if (!qEnvironmentVariableIsEmpty("ZR450_PANEL_SHOTS"))
                shot.save(qEnvironmentVariable("ZR450_PANEL_SHOTS") + QStringLiteral("/texteditor_keyboard.png"));
            tapKey(kb, Qt::Key_F4);
        });
        // Enter opens the keyboard (on its release, once pressed here).
        tapKey(&ed, Qt::Key_Enter);
        QTRY_VERIFY(ed.text().endsWith(QStringLiteral("SK")));
        QCOMPARE(failedKeyboardSteps(), 0);
        // While the keyboard was up the text stood above it, whole.
        QVERIFY(!whileOpen.isNull());
        QVERIFY(ed.mapToGlobal(whileOpen.bottomLeft()).y() < ZKeyboard::kTop);
        QVERIFY(whileOpen.height() >= 120);
        QCOMPARE(ed.editor()->geometry(), full);
        QCOMPARE(ed.text(), QString(40, QLatin1Char('x')) + QStringLiteral("\n") + QString(30, QLatin1Char('y'))
                                + QStringLiteral(" 73\nSK"));

        // Cancel in the keyboard takes back only what was typed there.
        bool cancelled = false;
        whenKeyboardOpens([&](ZKeyboard *kb) {
            QVERIFY(knobType(kb, QStringLiteral("zz")));
            QVERIFY(ed.text().endsWith(QStringLiteral("zz")));
            tapKey(kb, Qt::Key_F5);
            cancelled = true;
        });
        tapKey(&ed, Qt::Key_F1);
        QTRY_VERIFY(cancelled);
        QTRY_VERIFY(!ed.findChild<ZKeyboard *>());
        QVERIFY(ed.text().endsWith(QStringLiteral(" 73\nSK")));

        // The release of an Enter pressed elsewhere opens nothing.
        sendKey(&ed, QEvent::KeyRelease, Qt::Key_Enter);
        QCoreApplication::processEvents();
        QVERIFY(!ed.findChild<ZKeyboard *>());
    }

    void acceptGivesThePlainTextCancelGivesNothing()
    {
        const QString text = QStringLiteral("<b>\"quoted\"</b> 'x' \\ Grüße ☺ ") + QString(20000, QLatin1Char('e'));
        for (int accept = 0; accept < 2; ++accept) {
            ZTextEditor ed(nullptr, nullptr, 0, 0, 800, 480);
            ed.setText(text);
            QSignalSpy spy(&ed, &ZTextEditor::sig_textAccepted);
            QTimer::singleShot(0, &ed, [&]() { tapKey(&ed, accept ? Qt::Key_F4 : Qt::Key_F5); });
            const int result = ed.exec();
            QCOMPARE(result, accept ? int(QDialog::Accepted) : int(QDialog::Rejected));
            QCOMPARE(spy.count(), accept);
            if (accept)
                QCOMPARE(spy.at(0).at(0).toString(), text);
            QCOMPARE(ed.text(), text);
        }
    }

    void deletedWhileTheKeyboardIsOpen()
    {
        QPointer<ZTextEditor> ed = new ZTextEditor(nullptr, nullptr, 0, 0, 800, 480);
        ed->setText(QStringLiteral("abc"));
        whenKeyboardOpens([&](ZKeyboard *kb) {
            QVERIFY(knobType(kb, QStringLiteral("d")));
            delete ed.data();
        });
        QCOMPARE(ed->openKeyboard(), int(QDialog::Rejected));
        QVERIFY(ed.isNull());
        // The same through F1, whose button the editor still handles.
        ed = new ZTextEditor(nullptr, nullptr, 0, 0, 800, 480);
        whenKeyboardOpens([&](ZKeyboard *) { delete ed.data(); });
        tapKey(ed, Qt::Key_F1);
        QTRY_VERIFY(ed.isNull());
        QCOMPARE(failedKeyboardSteps(), 0);
    }

    void frontPanelPressesReachTheWindow()
    {
        QWidget window;
        int seen = 0;
        struct Sink : QObject {
            int *seen;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == ZRadioEvent::ShortPress)
                    ++*seen;
                return false;
            }
        } sink;
        sink.seen = &seen;
        window.installEventFilter(&sink);
        ZTextEditor ed(&window, nullptr, 0, 0, 800, 480);
        QCoreApplication::postEvent(&ed, new ZRadioEvent(ZRadioEvent::ShortPress, 207));
        QTRY_COMPARE(seen, 1);
    }
};

class TestChannelEditor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ztest::Sysroot> m_root;
    std::unique_ptr<ZParamAdmin> m_store;

    // A fresh database for each test.
    void freshStore()
    {
        // The old root goes first: its end resets the system paths.
        m_store.reset();
        m_root.reset();
        m_root.reset(new ztest::Sysroot);
        QDir().mkpath(zsys::appDir());
        m_store.reset(new ZParamAdmin(nullptr));
    }
    void setVfo(int freq, int mode)
    {
        m_store->setMode(mode);
        m_store->setVfoFront(QStringLiteral("freq"), freq);
    }
    void storeChannel(int ch, int freq, int mode, const QString &name)
    {
        setVfo(freq, mode);
        zrnamespace::zparam_memo_t m = m_store->logicVfoMemo();
        m.chtag = name;
        m_store->saveChItem(ch, m);
    }
    static void selectWithKnob(ZRadioChSetting *ed, int ch)
    {
        const int steps = ch - ed->selectedChannel();
        turnKnob(ed, -steps);
        QCOMPARE(ed->selectedChannel(), ch);
    }

private slots:
    void initTestCase()
    {
        // The store logs every statement; kept in memory, not printed.
        ztest::installLogCapture();
        ZFonts::install();
    }
    void init() { freshStore(); }
    void cleanupTestCase()
    {
        m_store.reset();
        m_root.reset();
    }

    void pagesShowStoredAndEmptyChannels()
    {
        storeChannel(0, 14270000, 2, QStringLiteral("20m SSB"));
        storeChannel(2, 7074000, 3, QStringLiteral("FT8 \"40\" Grüße"));
        storeChannel(5, 10116000, 4, QString(300, QLatin1Char('W')));
        storeChannel(9, 51000000, 7, QStringLiteral("6m"));
        setVfo(14200000, 2);
        std::unique_ptr<ZRadioChSetting> ed(channelEditor(m_store.get()));
        ed->show();
        QCOMPARE(ed->geometry(), QRect(0, 126, 800, 354));
        QCOMPARE(ed->rowsPerPage(), 8);
        QCOMPARE(ed->storedCount(), 4);
        QCOMPARE(ed->selectedChannel(), 0); // the first stored one
        QCOMPARE(ed->rowText(0), QStringLiteral("M-1 20m SSB 14.270.000 USB"));
        QCOMPARE(ed->rowText(1), QStringLiteral("M-2 - empty -"));
        QCOMPARE(ed->rowText(2), QStringLiteral("M-3 FT8 \"40\" Grüße 7.074.000 U-DIG"));
        QCOMPARE(ed->row(5)->frequency(), QStringLiteral("10.116.000"));
        QCOMPARE(ed->row(5)->mode(), QStringLiteral("CW"));
        QVERIFY(ed->row(0)->isSelected());
        QVERIFY(ed->titleLabel()->text().contains(QStringLiteral("M-1 … M-8")));
        QVERIFY(ed->titleLabel()->text().contains(QStringLiteral("4 stored")));
        QString why;
        QVERIFY2(childrenFitWithoutOverlap(ed.get(), &why), qPrintable(why));
        // The title and every button label fit.
        QVERIFY(QFontMetrics(ed->titleLabel()->font()).horizontalAdvance(ed->titleLabel()->text())
                < ed->titleLabel()->width());
        for (int i = 0; i < 5; ++i)
            QVERIFY(QFontMetrics(ed->functionButton(i)->font()).horizontalAdvance(ed->functionButton(i)->text())
                    < ed->functionButton(i)->width() - 4);
        for (int i = 0; i < 3; ++i)
            QVERIFY(ed->pageButton(i)->height() >= 60 && ed->pageButton(i)->width() >= 80);
        QVERIFY(QFontMetrics(ed->findChild<QLabel *>(QStringLiteral("labelStatus"))->font())
                    .horizontalAdvance(ed->statusText())
                < ed->width() - 12);
        saveShot(ed.get(), QStringLiteral("channels"));

        // Page two shows the rest.
        selectWithKnob(ed.get(), 9);
        QCOMPARE(ed->pageFirst(), 8);
        QCOMPARE(ed->rowText(1), QStringLiteral("M-10 6m 51.000.000 NFM"));
        QVERIFY(ed->titleLabel()->text().contains(QStringLiteral("M-9 … M-16")));
    }

    void knobDialTouchAndPageButtonsMoveTheSelection()
    {
        storeChannel(3, 3650000, 0, QStringLiteral("a"));
        storeChannel(4000, 7050000, 0, QStringLiteral("b"));
        storeChannel(9999, 28500000, 2, QStringLiteral("c"));
        std::unique_ptr<ZRadioChSetting> ed(channelEditor(m_store.get()));
        QCOMPARE(ed->selectedChannel(), 3);
        turnKnob(ed.get(), -1); // forward
        QCOMPARE(ed->selectedChannel(), 4);
        turnKnob(ed.get(), -5); // a fast turn: as many channels, onto the next page
        QCOMPARE(ed->selectedChannel(), 9);
        QCOMPARE(ed->pageFirst(), 8);
        turnKnob(ed.get(), +20); // back, no further than M-1
        QCOMPARE(ed->selectedChannel(), 0);
        // The dial jumps between stored channels, round the end.
        turnKnob(ed.get(), -1, Qt::AltModifier);
        QCOMPARE(ed->selectedChannel(), 3);
        turnKnob(ed.get(), -1, Qt::AltModifier);
        QCOMPARE(ed->selectedChannel(), 4000);
        QCOMPARE(ed->pageFirst(), 4000);
        turnKnob(ed.get(), -1, Qt::AltModifier);
        QCOMPARE(ed->selectedChannel(), 9999);
        QVERIFY(!ed->row(7)->isVisible() || ed->pageFirst() + 7 <= 9999);
        turnKnob(ed.get(), -1, Qt::AltModifier);
        QCOMPARE(ed->selectedChannel(), 3);
        turnKnob(ed.get(), +1, Qt::AltModifier);
        QCOMPARE(ed->selectedChannel(), 9999);
        turnKnob(ed.get(), -3); // no further than M-10000
        QCOMPARE(ed->selectedChannel(), 9999);
        // The last page holds channels up to M-10000 only.
        QCOMPARE(ed->pageFirst(), 9992);
        QCOMPARE(ed->row(7)->number(), QStringLiteral("M-10000"));

        // Touch: a row selects its channel, the side buttons turn pages.
        QTest::mouseClick(ed->row(2), Qt::LeftButton);
        QCOMPARE(ed->selectedChannel(), 9994);
        QTest::mouseClick(ed->pageButton(0), Qt::LeftButton);
        QCOMPARE(ed->selectedChannel(), 9986);
        QCOMPARE(ed->pageFirst(), 9984);
        QTest::mouseClick(ed->pageButton(2), Qt::LeftButton);
        QCOMPARE(ed->selectedChannel(), 9994);
        // Enter asks for a channel number on the numeric keyboard.
        whenKeyboardOpens([&](ZKeyboard *kb) {
            QCOMPARE(kb->type(), int(ZKeyboard::Numeric));
            tapKey(kb, Qt::Key_F1); // clear
            QVERIFY(knobType(kb, QStringLiteral("0")));
            tapKey(kb, Qt::Key_F4); // not a channel: refused, still open
            QVERIFY(kb->isVisible() && kb->lastInputRefused());
            tapKey(kb, Qt::Key_F1);
            QVERIFY(knobType(kb, QStringLiteral("5000")));
            saveShot(kb, QStringLiteral("channels_goto_keyboard"));
            tapKey(kb, Qt::Key_F4);
        });
        tapKey(ed.get(), Qt::Key_Enter);
        QTRY_COMPARE(ed->selectedChannel(), 4999);
        QCOMPARE(failedKeyboardSteps(), 0);
        QCOMPARE(ed->pageFirst(), 4992);
    }

    void storeRenameRecallSurviveARestart()
    {
        // The operator's VFO: 7.074 MHz U-DIG.
        setVfo(7074000, 3);
        {
            std::unique_ptr<ZRadioChSetting> ed(channelEditor(m_store.get()));
            QSignalSpy changed(ed.get(), &ZRadioChSetting::sig_channelChanged);
            selectWithKnob(ed.get(), 41);
            tapKey(ed.get(), Qt::Key_F2); // store the VFO in M-42
            QVERIFY(m_store->checkChNum(41));
            QCOMPARE(ed->rowText(41 - ed->pageFirst()), QStringLiteral("M-42  7.074.000 U-DIG"));
            QVERIFY(ed->statusText().contains(QStringLiteral("VFO stored in M-42")));
            // Rename it with the keyboard: knob, Enter and the F keys only.
            whenKeyboardOpens([&](ZKeyboard *kb) {
                QVERIFY(ed->titleLabel()->text().startsWith(QStringLiteral("RENAME M-42")));
                QVERIFY(knobType(kb, QStringLiteral("FT8 40m")));
                tapKey(kb, Qt::Key_F4);
            });
            tapKey(ed.get(), Qt::Key_F3);
            QTRY_COMPARE(m_store->chItem(41).chtag, QStringLiteral("FT8 40m"));
            QCOMPARE(failedKeyboardSteps(), 0);
            QCOMPARE(ed->row(41 - ed->pageFirst())->name(), QStringLiteral("FT8 40m"));
            QVERIFY(ed->titleLabel()->text().startsWith(QStringLiteral("MEMORY CHANNELS")));
            // Recall: memory mode on M-42.
            QSignalSpy chUpdate(m_store.get(), &ZParamAdmin::sig_chUpdate);
            setVfo(14100000, 2); // tuned away meanwhile
            tapKey(ed.get(), Qt::Key_F1);
            QCOMPARE(m_store->vm(), 1);
            QCOMPARE(m_store->currentChName(), QStringLiteral("M0041"));
            QCOMPARE(chUpdate.count(), 1);
            QCOMPARE(freqOf(*m_store), 7074000);
            QVERIFY(ed->row(41 - ed->pageFirst())->isCurrent());
            QCOMPARE(changed.count(), 3);
            tapKey(ed.get(), Qt::Key_F5);
        }
        // Power-off saves the store; the next start recalls M-42.
        m_store->syncDatabase();
        m_store.reset(new ZParamAdmin(nullptr));
        QCOMPARE(m_store->vm(), 1);
        QCOMPARE(m_store->chSlotName(), QStringLiteral("M-42"));
        QCOMPARE(m_store->currentChItem().chtag, QStringLiteral("FT8 40m"));
        QCOMPARE(freqOf(*m_store), 7074000);
        QCOMPARE(m_store->mode(), 3);
        // The operator's own VFO comes back when memory mode is left.
        QVERIFY(m_store->setVfoMemoMode(0));
        QCOMPARE(freqOf(*m_store), 14100000);
    }

    void namesAnyTextLimitedInLengthSurviveARestart_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::newRow("quotes") << QStringLiteral("a\"b'c`;--") << QStringLiteral("a\"b'c`;--");
        QTest::newRow("ini specials") << QStringLiteral("[x]=@y,z\\") << QStringLiteral("[x]=@y,z\\");
        QTest::newRow("non-ascii") << QStringLiteral("Grüße ☺ 日本") << QStringLiteral("Grüße ☺ 日本");
        QTest::newRow("too long") << QString(200, QLatin1Char('L')) << QString(16, QLatin1Char('L'));
        QTest::newRow("empty") << QString() << QString();
    }
    void namesAnyTextLimitedInLengthSurviveARestart()
    {
        QFETCH(QString, typed);
        QFETCH(QString, stored);
        storeChannel(7, 3700000, 0, QStringLiteral("old"));
        {
            std::unique_ptr<ZRadioChSetting> ed(channelEditor(m_store.get()));
            selectWithKnob(ed.get(), 7);
            // Characters the keys do not offer arrive as typed text (a
            // desktop keyboard off the radio).
            whenKeyboardOpens([&](ZKeyboard *kb) {
                tapKey(kb, Qt::Key_F2);
                tapKey(kb, Qt::Key_F2);
                tapKey(kb, Qt::Key_F2);
                for (QChar c : typed)
                    tapKey(kb, Qt::Key_unknown, Qt::NoModifier, QString(c));
                tapKey(kb, Qt::Key_F4);
            });
            tapKey(ed.get(), Qt::Key_F3);
            QTRY_COMPARE(m_store->chItem(7).chtag, stored);
            QCOMPARE(failedKeyboardSteps(), 0);
            const QRect r = ed->row(7)->rect();
            QVERIFY(r.width() > 0);
            if (typed.size() > 100)
                saveShot(ed.get(), QStringLiteral("channels_long_name"));
        }
        m_store->syncDatabase();
        m_store.reset(new ZParamAdmin(nullptr));
        QCOMPARE(m_store->chItem(7).chtag, stored);
        QCOMPARE(m_store->chItem(7).vfoa.value(QStringLiteral("freq")).value.toInt(), 3700000);
    }

    void overwriteAndClearAskTwice()
    {
        storeChannel(1, 3650000, 0, QStringLiteral("net"));
        setVfo(3700000, 1);
        std::unique_ptr<ZRadioChSetting> ed(channelEditor(m_store.get()));
        QCOMPARE(ed->selectedChannel(), 1);
        tapKey(ed.get(), Qt::Key_F2);
        QVERIFY(ed->statusText().contains(QStringLiteral("again to overwrite")));
        QCOMPARE(m_store->chItem(1).vfoa.value(QStringLiteral("freq")).value.toInt(), 3650000);
        // Another key in between cancels the question.
        turnKnob(ed.get(), -1);
        turnKnob(ed.get(), +1);
        tapKey(ed.get(), Qt::Key_F2);
        QCOMPARE(m_store->chItem(1).vfoa.value(QStringLiteral("freq")).value.toInt(), 3650000);
        tapKey(ed.get(), Qt::Key_F2);
        QCOMPARE(m_store->chItem(1).vfoa.value(QStringLiteral("freq")).value.toInt(), 3700000);
        QCOMPARE(m_store->chItem(1).chtag, QStringLiteral("net")); // the name stays
        QCOMPARE(ed->rowText(1), QStringLiteral("M-2 net 3.700.000 L-DIG"));

        tapKey(ed.get(), Qt::Key_F4);
        QVERIFY(m_store->checkChNum(1));
        QVERIFY(ed->statusText().contains(QStringLiteral("CLEAR again")));
        tapKey(ed.get(), Qt::Key_F4);
        QVERIFY(!m_store->checkChNum(1));
        QCOMPARE(ed->rowText(1), QStringLiteral("M-2 - empty -"));
        QCOMPARE(ed->storedCount(), 0);
        // Empty channels: nothing to recall, rename or clear.
        tapKey(ed.get(), Qt::Key_F1);
        QCOMPARE(m_store->vm(), 0);
        QVERIFY(ed->statusText().contains(QStringLiteral("empty")));
        tapKey(ed.get(), Qt::Key_F3);
        QCoreApplication::processEvents();
        QVERIFY(!ed->findChild<ZKeyboard *>());
        QVERIFY(ed->statusText().contains(QStringLiteral("store the VFO first")));
        tapKey(ed.get(), Qt::Key_F4);
        QVERIFY(ed->statusText().contains(QStringLiteral("already empty")));
    }

    void memoryModeKeepsTheOperatingScreenTrue()
    {
        storeChannel(10, 3650000, 0, QStringLiteral("A"));
        storeChannel(14, 7050000, 0, QStringLiteral("B"));
        setVfo(14250000, 2);
        m_store->setParamItem(W, QStringLiteral("chnum"), 1);
        QVERIFY(m_store->setVfoMemoMode(1));
        QCOMPARE(m_store->currentChName(), QStringLiteral("M0014"));
        std::unique_ptr<ZRadioChSetting> ed(channelEditor(m_store.get()));
        QCOMPARE(ed->selectedChannel(), 14); // opens on the channel in use
        QVERIFY(ed->row(14 - ed->pageFirst())->isCurrent());
        QSignalSpy chUpdate(m_store.get(), &ZParamAdmin::sig_chUpdate);

        // Storing below the channel in use leaves the radio on it.
        selectWithKnob(ed.get(), 5);
        tapKey(ed.get(), Qt::Key_F2);
        QCOMPARE(m_store->currentChName(), QStringLiteral("M0014"));
        QCOMPARE(freqOf(*m_store), 7050000);
        QCOMPARE(m_store->chSlotName(), QStringLiteral("M-15"));
        QVERIFY(chUpdate.count() >= 1);
        // Renaming the channel in use: the memory line learns the name.
        chUpdate.clear();
        ed->renameChannel(14, QStringLiteral("NEW"));
        QVERIFY(chUpdate.count() >= 1);
        QCOMPARE(m_store->currentChItem().chtag, QStringLiteral("NEW"));
        // Recalling another channel in memory mode.
        chUpdate.clear();
        selectWithKnob(ed.get(), 10);
        tapKey(ed.get(), Qt::Key_F1);
        QCOMPARE(m_store->currentChName(), QStringLiteral("M0010"));
        QCOMPARE(freqOf(*m_store), 3650000);
        QCOMPARE(chUpdate.count(), 1);
        QVERIFY(ed->row(10 - ed->pageFirst())->isCurrent());
        QVERIFY(!ed->row(14 - ed->pageFirst())->isCurrent());

        // A change made elsewhere (CI-V, the main window) shows at once.
        m_store->saveChItem(12, m_store->logicVfoMemo());
        QVERIFY(ed->isStored(12));
        QCOMPARE(ed->row(12 - ed->pageFirst())->frequency(), QStringLiteral("3.650.000"));

        // Clearing channels down to the last one returns to the operator's
        // own VFO, not the cleared channel's settings.
        for (int ch : {5, 12, 14, 10}) {
            ed->selectChannel(ch);
            tapKey(ed.get(), Qt::Key_F4);
            tapKey(ed.get(), Qt::Key_F4);
        }
        QCOMPARE(m_store->chList(), QStringList());
        QCOMPARE(m_store->vm(), 0);
        QCOMPARE(freqOf(*m_store), 14250000);
        QCOMPARE(m_store->mode(), 2);
    }

    void closesForGoodAndSurvivesBeingDeleted()
    {
        storeChannel(0, 3650000, 0, QStringLiteral("x"));
        QWidget window;
        QPointer<ZRadioChSetting> ed = channelEditor(m_store.get(), &window);
        QCOMPARE(ZRadioChSetting::instances(), 1);
        bool destroyed = false;
        connect(ed.data(), &QObject::destroyed, this, [&]() { destroyed = true; });
        ed->show();
        tapKey(ed, Qt::Key_F5);
        flushDeletes();
        QVERIFY(destroyed && ed.isNull());
        QCOMPARE(ZRadioChSetting::instances(), 0);

        // Deleted while its keyboard is open (the window closing it).
        ed = channelEditor(m_store.get(), &window);
        whenKeyboardOpens([&](ZKeyboard *kb) {
            QVERIFY(knobType(kb, QStringLiteral("q")));
            delete ed.data();
        });
        tapKey(ed, Qt::Key_F3);
        QTRY_VERIFY(ed.isNull());
        QCOMPARE(m_store->chItem(0).chtag, QStringLiteral("x"));
        ed = channelEditor(m_store.get(), &window);
        whenKeyboardOpens([&](ZKeyboard *) { delete ed.data(); });
        tapKey(ed, Qt::Key_Enter);
        QTRY_VERIFY(ed.isNull());
        QCOMPARE(failedKeyboardSteps(), 0);
    }

    void unusedKeysAndPressesGoToTheWindow()
    {
        QWidget window;
        QList<int> keys;
        int presses = 0;
        struct Sink : QObject {
            QList<int> *keys;
            int *presses;
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::KeyPress)
                    keys->append(static_cast<QKeyEvent *>(e)->key());
                if (e->type() == ZRadioEvent::LongPress)
                    ++*presses;
                return false;
            }
        } sink;
        sink.keys = &keys;
        sink.presses = &presses;
        window.installEventFilter(&sink);
        std::unique_ptr<ZRadioChSetting> ed(channelEditor(m_store.get(), &window));
        tapKey(ed.get(), Qt::Key_1, Qt::ControlModifier, QStringLiteral("^1"));
        QCoreApplication::postEvent(ed.get(), new ZRadioEvent(ZRadioEvent::LongPress, 213));
        QTRY_COMPARE(presses, 1);
        QCOMPARE(keys, QList<int>{Qt::Key_1});
    }
};

int runEditorTests(int argc, char **argv)
{
    TestTextEditor t;
    int rc = QTest::qExec(&t, argc, argv);
    TestChannelEditor c;
    rc |= QTest::qExec(&c, argc, argv);
    return rc;
}

#include "test_panels_editors.moc"
