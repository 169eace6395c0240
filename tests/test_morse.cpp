// Morse sender: patterns, keying times measured from the key-line stand-in's
// time stamps, stop between characters, and the chip failures.
#include "modem/morsesender.h"
#include "modem/morsetable.h"
#include "tests/test_support.h"
#include "app/zsystem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool logged(const QString &needle)
{
    return ztest::logContains(needle);
}

struct KeyEvent {
    double ms; // since the first event
    int level;
};

QList<KeyEvent> readEvents(const QString &file)
{
    QList<KeyEvent> out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    qulonglong t0 = 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> w = line.split(' ');
        if (w.size() != 3 || w[1] != "203")
            continue;
        const qulonglong t = w[0].toULongLong();
        if (out.isEmpty())
            t0 = t;
        out << KeyEvent{double(t - t0) / 1e6, w[2].toInt()};
    }
    return out;
}

} // namespace

class TestMorse : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void table();
    void keyingTimesAtTwentyWpm();
    void stopLetsCharacterFinish();
    void chipFailuresStillFinish();
    void fifoCarriesEvents();

private:
    // Runs one message on a thread of its own, as the modem dialog does.
    // onStarted is called on this thread once the sender is working.
    void send(const QString &text, uint32_t unit, const std::function<void(MorseSender *)> &onStarted = {});

    QTemporaryDir m_root;
    QString m_chip;
    QList<char> m_chars;
    bool m_finished = false;
};

void TestMorse::initTestCase()
{
    QVERIFY(m_root.isValid());
    ztest::setSysroot(m_root.path());
    QDir().mkpath(m_root.path() + QStringLiteral("/dev"));
    m_chip = m_root.path() + QStringLiteral("/dev/gpiochip0");
    ztest::installLogCapture();
}

void TestMorse::init()
{
    QFile::remove(m_chip);
    ztest::clearLog();
}

void TestMorse::send(const QString &text, uint32_t unit, const std::function<void(MorseSender *)> &onStarted)
{
    m_chars.clear();
    m_finished = false;
    QThread thread;
    auto *sender = new MorseSender;
    sender->setUnit(unit);
    sender->moveToThread(&thread);
    connect(sender, &MorseSender::sig_sentChar, this, [this](char c) { m_chars << c; });
    connect(sender, &MorseSender::sig_finish, this, [this] { m_finished = true; });
    connect(sender, &MorseSender::sig_finish, &thread, &QThread::quit);
    connect(&thread, &QThread::finished, sender, &QObject::deleteLater);
    thread.start();
    // A failed check returns early: the message is stopped and the thread
    // ended before it goes out of scope (a running QThread must not be
    // destroyed). Until sig_finish has arrived here the sender still exists.
    ztest::AtExit endThread([&] {
        if (!thread.isRunning())
            return;
        if (!m_finished)
            sender->slot_stop();
        thread.quit();
        if (!thread.wait(10000)) {
            thread.terminate();
            thread.wait();
        }
    });
    QMetaObject::invokeMethod(sender, "slot_worker", Qt::QueuedConnection, Q_ARG(QString, text));
    if (onStarted)
        onStarted(sender);
    QTRY_VERIFY_WITH_TIMEOUT(m_finished, 10000);
    QVERIFY(thread.wait(2000));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestMorse::table()
{
    QCOMPARE(MorseTable::toMorseCode('S'), QStringLiteral("..."));
    QCOMPARE(MorseTable::toMorseCode('o'), QStringLiteral("---"));
    for (char c = 'A'; c <= 'Z'; c++) {
        QVERIFY(!MorseTable::toMorseCode(c).isEmpty());
        QCOMPARE(MorseTable::toMorseCode(char(c + 32)), MorseTable::toMorseCode(c));
    }
    QCOMPARE(MorseTable::toMorseCode('Q'), QStringLiteral("--.-"));
    QCOMPARE(MorseTable::toMorseCode('0'), QStringLiteral("-----"));
    QCOMPARE(MorseTable::toMorseCode('7'), QStringLiteral("--..."));
    QCOMPARE(MorseTable::toMorseCode('('), QStringLiteral("-.--.-"));
    QCOMPARE(MorseTable::toMorseCode(')'), QStringLiteral("-.--.-"));
    QCOMPARE(MorseTable::toMorseCode('/'), QStringLiteral("-..-."));
    QCOMPARE(MorseTable::toMorseCode('?'), QStringLiteral("..--.."));
    QCOMPARE(MorseTable::toMorseCode('='), QStringLiteral("-...-"));
    for (char c : {'#', ' ', '\0', '\n', '@', char(0xC4), char(0xFF)})
        QVERIFY(MorseTable::toMorseCode(c).isEmpty());
}

void TestMorse::keyingTimesAtTwentyWpm()
{
    QFile f(m_chip);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();

    // 20 WPM: unit 60 ms. '#' has no pattern (3 units of silence) and a
    // character beyond Latin-1 is sent as 0; both are still reported.
    send(QStringLiteral("E#") + QChar(0x4e2d) + QStringLiteral("T A"), 1200 / 20);
    QCOMPARE(m_chars, (QList<char>{'E', '#', '\0', 'T', ' ', 'A'}));

    const QList<KeyEvent> ev = readEvents(m_chip);
    QVector<int> levels;
    for (const KeyEvent &e : ev)
        levels << e.level;
    // requested (up), E, T, A (.-)
    QCOMPARE(levels, (QVector<int>{1, 0, 1, 0, 1, 0, 1, 0, 1}));

    // Durations between changes, in units: E down 1; gap 1+3, then 3 + 3 for
    // '#' and the 0 character; T down 3; gap 4 + space 7; A: 1, 1, 3.
    // Edges are timed against absolute deadlines, so a late wake-up delays
    // one edge without shifting the rest: every edge is checked against the
    // schedule from the first key-down. None may come early; a loaded
    // machine may delay one, so only a gross delay counts as a fault.
    const double u = 60.0;
    const QVector<double> units{1, 4 + 3 + 3, 3, 4 + 7, 1, 1, 3};
    double scheduled = 0;
    for (int i = 0; i < units.size(); i++) {
        scheduled += units[i] * u;
        const double at = ev[i + 2].ms - ev[1].ms;
        const QByteArray what = QStringLiteral("edge %1 at %2 ms, due at %3").arg(i).arg(at).arg(scheduled).toLatin1();
        QVERIFY2(at > scheduled - 2.0 && at < scheduled + 1000.0, what.constData());
    }
    // Keying starts after the line is requested, not a character later.
    QVERIFY(ev[1].ms < 1000.0);
}

void TestMorse::stopLetsCharacterFinish()
{
    QFile f(m_chip);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();

    // Stop while the first M (--) is being keyed: the M completes, nothing
    // after it is keyed, and the sender finishes.
    QElapsedTimer t;
    send(QStringLiteral("MMMM"), 40, [&](MorseSender *s) {
        QTRY_VERIFY_WITH_TIMEOUT(readEvents(m_chip).size() >= 2, 5000); // first key-down
        t.start();
        s->slot_stop(); // direct call from this thread, as the dialog's direct connection
    });
    QVERIFY(logged(QStringLiteral("stop morse sender")));
    QCOMPARE(m_chars, (QList<char>{'M'}));
    const QList<KeyEvent> ev = readEvents(m_chip);
    QCOMPARE(ev.size(), 5); // request, down, up, down, up
    const double dash = ev[4].ms - ev[3].ms; // the second dash is whole
    QVERIFY2(dash > 118.0 && dash < 1000.0, qPrintable(QString::number(dash)));
    QVERIFY(t.elapsed() < 3000);
}

void TestMorse::chipFailuresStillFinish()
{
    // No chip at all.
    send(QStringLiteral("TEST"), 10);
    QVERIFY(m_chars.isEmpty());
    QVERIFY(logged(QStringLiteral("can't open chip gpiochip0")));

    // A FIFO nobody reads: the simulator is not there.
    QVERIFY(mkfifo(QFile::encodeName(m_chip).constData(), 0600) == 0);
    send(QStringLiteral("TEST"), 10);
    QVERIFY(m_chars.isEmpty());
}

void TestMorse::fifoCarriesEvents()
{
    QVERIFY(mkfifo(QFile::encodeName(m_chip).constData(), 0600) == 0);
    const int rd = open(QFile::encodeName(m_chip).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(rd >= 0);
    send(QStringLiteral("EE"), 20);
    QCOMPARE(m_chars, (QList<char>{'E', 'E'}));
    char buf[4096];
    const ssize_t n = read(rd, buf, sizeof buf);
    close(rd);
    QVERIFY(n > 0);
    const QList<QByteArray> lines = QByteArray(buf, int(n)).trimmed().split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[0].endsWith(" 203 1"));
    QVERIFY(lines[1].endsWith(" 203 0"));
    QVERIFY(lines[4].endsWith(" 203 1"));
}

QTEST_GUILESS_MAIN(TestMorse)
#include "test_morse.moc"
