// Voice messages: the recorder panel and the call panel on the offscreen
// platform, through Qt Multimedia and the project's sound devices (ALSA
// configuration set by CTest), checked by what the operator sees and what
// goes on the air. The end-to-end cases record from the real simulator's
// microphone and transmit the message through it.
#include "audio/dialogvoicecall.h"
#include "audio/dialogvoicerec.h"
#include "audio/zvoiceplayer.h"
#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "sim/bbmic.h"
#include "tests/rig_support.h"
#include "tests/test_support.h"
#include "ui/zfonts.h"

#include <QAudioBuffer>
#include <QAudioProbe>
#include <QAudioRecorder>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QDataStream>
#include <QtTest>

#include <cmath>

namespace {

struct Wav {
    QByteArray id = "RIFF";
    QByteArray wave = "WAVE";
    quint16 channels = 1;
    quint32 rate = 16000;
    quint32 byteRate = 32000;
    quint32 dataSize = 0;
};

QByteArray wavHeader(const Wav &w)
{
    QByteArray b;
    QDataStream d(&b, QIODevice::WriteOnly);
    d.setByteOrder(QDataStream::LittleEndian);
    d.writeRawData(w.id.leftJustified(4, '\0', true).constData(), 4);
    d << quint32(36 + w.dataSize);
    d.writeRawData(w.wave.leftJustified(4, '\0', true).constData(), 4);
    d.writeRawData("fmt ", 4);
    d << quint32(16) << quint16(1) << w.channels << w.rate << w.byteRate << quint16(2 * w.channels)
      << quint16(16);
    d.writeRawData("data", 4);
    d << w.dataSize;
    return b;
}

// Samples as 16-bit little-endian bytes.
QByteArray samples16(const QVector<qint16> &v)
{
    QByteArray b;
    QDataStream d(&b, QIODevice::WriteOnly);
    d.setByteOrder(QDataStream::LittleEndian);
    for (qint16 x : v)
        d << x;
    return b;
}

// A mono 16 kHz message of a tone.
QByteArray toneMessage(double seconds, double hz, double level)
{
    const int n = int(seconds * 16000);
    Wav w;
    w.dataSize = quint32(2 * n);
    QVector<qint16> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = qint16(std::lround(level * 32767 * std::sin(2 * M_PI * hz * i / 16000.0)));
    return wavHeader(w) + samples16(v);
}

struct ToneStats {
    double rms = 0;  // full scale 1
    double hz = 0;   // from zero crossings
    int samples = 0;
};

// The tone in the samples of a mono 16-bit WAV file, from `skip` seconds on.
ToneStats toneOf(const QByteArray &file, double skip)
{
    ToneStats st;
    const int first = 44 + 2 * int(skip * 16000);
    if (file.size() <= first + 2)
        return st;
    const qint16 *p = reinterpret_cast<const qint16 *>(file.constData() + first);
    const int n = (file.size() - first) / 2;
    double sq = 0;
    int crossings = 0;
    int last = 0;
    for (int i = 0; i < n; ++i) {
        const int v = p[i];
        sq += double(v) * v;
        const int s = v > 0 ? 1 : v < 0 ? -1 : 0;
        if (s && last && s != last)
            crossings++;
        if (s)
            last = s;
    }
    st.samples = n;
    st.rms = std::sqrt(sq / n) / 32768.0;
    st.hz = crossings / 2.0 / (n / 16000.0);
    return st;
}

QMap<QString, QString> replyFields(const QString &reply)
{
    QMap<QString, QString> m;
    for (const QString &f : reply.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int eq = f.indexOf(QLatin1Char('='));
        if (eq > 0)
            m.insert(f.left(eq), f.mid(eq + 1));
    }
    return m;
}

// Records the key events that reach it, as the main window would see them.
class KeySink : public QWidget
{
public:
    QList<QPair<int, QString>> keys;

protected:
    void keyPressEvent(QKeyEvent *e) override { keys.append({e->key(), e->text()}); }
    void keyReleaseEvent(QKeyEvent *e) override { keys.append({e->key(), e->text()}); }
};

void sendKey(QWidget *w, QEvent::Type type, int key, Qt::KeyboardModifiers mods, const QString &text)
{
    QKeyEvent e(type, key, mods, text);
    QCoreApplication::sendEvent(w, &e);
}

QAudioBuffer monoBuffer(qint16 peak)
{
    QAudioFormat f;
    f.setCodec(QStringLiteral("audio/pcm"));
    f.setSampleRate(16000);
    f.setSampleSize(16);
    f.setChannelCount(1);
    f.setSampleType(QAudioFormat::SignedInt);
    f.setByteOrder(QAudioFormat::LittleEndian);
    QVector<qint16> v(160, 0);
    v[80] = peak;
    return QAudioBuffer(samples16(v), f);
}

void saveShot(QWidget *w, const QString &name)
{
    if (qEnvironmentVariableIsSet("ZR450_UI_SHOTS"))
        w->grab().save(qEnvironmentVariable("ZR450_UI_SHOTS") + QLatin1Char('/') + name);
}

} // namespace

class TestVoice : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    void writeMessage(int n, const QByteArray &bytes)
    {
        QVERIFY(ztest::writeFile(zvoice_path(zvoice_message_name(n)), bytes));
    }
    void clearMessages()
    {
        QDir(zvoice_dir()).removeRecursively();
        QDir().mkpath(zvoice_dir());
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<uint8_t>("uint8_t");
        ZFonts::install();
        ztest::installLogCapture();
        QVERIFY(m_root.isValid());
        ztest::setSysroot(m_root.path());
        QVERIFY(QDir().mkpath(zsys::appDir()));
    }

    void init()
    {
        ztest::setSysroot(m_root.path());
        clearMessages();
    }

    void cleanupTestCase()
    {
        ztest::setSysroot(QString());
    }

    // The call panel reads every message's length from its header; a
    // message that is missing, too short or no recording at all shows
    // "NO DATA" and cannot be sent.
    void callPanelShowsLengths_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("value");

        Wav ten;
        ten.dataSize = 10 * ten.byteRate;
        QTest::newRow("ten byte rates, mono") << wavHeader(ten) << "10 s";
        Wav part = ten;
        part.dataSize = 10 * part.byteRate + part.byteRate - 2;
        QTest::newRow("whole seconds only") << wavHeader(part) << "10 s";
        Wav stereo;
        stereo.channels = 2;
        stereo.byteRate = 64000;
        stereo.dataSize = 3 * stereo.byteRate;
        QTest::newRow("stereo counts its byte rate once") << wavHeader(stereo) << "3 s";
        Wav zero;
        zero.byteRate = 0;
        zero.dataSize = 32000;
        QTest::newRow("no byte rate") << wavHeader(zero) << "0 s";
        QTest::newRow("missing") << QByteArray() << "NO DATA";
        QTest::newRow("shorter than a header") << wavHeader(ten).left(43) << "NO DATA";
        Wav text;
        text.id = "TEXT";
        QTest::newRow("not a recording") << wavHeader(text) << "NO DATA";
    }

    void callPanelShowsLengths()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, value);
        if (!file.isNull())
            writeMessage(3, file);
        if (QTest::currentDataTag() == QLatin1String("missing"))
            QDir().remove(zvoice_path(zvoice_message_name(3)));
        writeMessage(1, toneMessage(1.0, 800, 0.3));

        DialogVoiceCall call(nullptr, nullptr, 0, 380, 800, 100);
        call.preparePanel();
        QCOMPARE(call.functionButtonCount(), 5);
        QCOMPARE(call.buttonLines(2), QStringList({"VOICE MSG 3", value}));
        QCOMPARE(call.functionButton(2)->isEnabled(), value != QLatin1String("NO DATA"));
        QCOMPARE(call.buttonLines(0), QStringList({"VOICE MSG 1", "1 s"}));
        QVERIFY(call.functionButton(0)->isEnabled());
        for (int i : {1, 3, 4}) {
            QCOMPARE(call.buttonLines(i), QStringList({QStringLiteral("VOICE MSG %1").arg(i + 1), "NO DATA"}));
            QVERIFY(!call.functionButton(i)->isEnabled());
        }
        QCOMPARE(call.files().at(4), zsys::appDir() + "/voice/voice_msg05");
    }

    // Pressing the message on the air stops it; the transmitter is
    // released once the player reports stopped. Another message releases
    // the first before keying again; a message that ends releases by
    // itself, and so does closing the panel.
    void sendingStopsAndReleases()
    {
        writeMessage(1, toneMessage(3.0, 800, 0.3));
        writeMessage(2, toneMessage(0.4, 600, 0.3));
        DialogVoiceCall call(nullptr, nullptr, 0, 380, 800, 100);
        call.preparePanel();
        QList<QPair<int, QAudio::State>> trx; // request and the player's state then
        connect(&call, &DialogVoiceCall::sig_postTrx, this,
                [&](uint8_t on) { trx.append({int(on), call.playerState()}); });

        call.functionButton(0)->click();
        QCOMPARE(trx.size(), 1);
        QCOMPARE(trx.at(0).first, 1);
        QCOMPARE(call.playingIndex(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(call.playerState(), QAudio::ActiveState, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(call.titleLabel()->text().startsWith(" VOICE CALL: Calling "), 2000);

        call.functionButton(0)->click(); // the same message again
        QCOMPARE(call.playerState(), QAudio::StoppedState);
        QCOMPARE(trx.size(), 2);
        QCOMPARE(trx.at(1).first, 0);
        QCOMPARE(trx.at(1).second, QAudio::StoppedState);
        QCOMPARE(call.titleLabel()->text(), QStringLiteral(" VOICE CALL: Stopped"));

        // Message 1 on the air, then message 2: off, on, and off at its end.
        trx.clear();
        call.functionButton(0)->click();
        QTRY_COMPARE_WITH_TIMEOUT(call.playerState(), QAudio::ActiveState, 5000);
        call.functionButton(1)->click();
        QCOMPARE(call.playingIndex(), 1);
        QCOMPARE(trx.size(), 3);
        QCOMPARE(trx.at(0).first, 1);
        QCOMPARE(trx.at(1).first, 0);
        QCOMPARE(trx.at(2).first, 1);
        QTRY_COMPARE_WITH_TIMEOUT(trx.size(), 4, 10000);
        QCOMPARE(trx.at(3).first, 0);
        QCOMPARE(call.playerState(), QAudio::StoppedState);

        // Closing while a message is on the air releases the transmitter.
        trx.clear();
        call.show();
        call.functionButton(0)->click();
        QTRY_COMPARE_WITH_TIMEOUT(call.playerState(), QAudio::ActiveState, 5000);
        call.close();
        QCOMPARE(trx.size(), 2);
        QCOMPARE(trx.at(1).first, 0);
    }

    // The hand microphone's lock key passes to the window behind; a group
    // key (Ctrl+1 .. Ctrl+6) closes the panel; function keys press buttons.
    void callPanelKeys()
    {
        writeMessage(1, toneMessage(2.0, 800, 0.3));
        KeySink sink;
        auto *call = new DialogVoiceCall(&sink, nullptr, 0, 380, 800, 100);
        call->preparePanel();
        call->show();
        QSignalSpy trx(call, &DialogVoiceCall::sig_postTrx);

        sendKey(call, QEvent::KeyPress, 76, Qt::ControlModifier, "HMIC-LOCK");
        sendKey(call, QEvent::KeyRelease, 76, Qt::ControlModifier, "HMIC-LOCK");
        QTRY_COMPARE(sink.keys.size(), 2);
        QCOMPARE(sink.keys.at(0), qMakePair(76, QStringLiteral("HMIC-LOCK")));
        QVERIFY(call->isVisible());

        sendKey(call, QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier, QString());
        sendKey(call, QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier, QString());
        QCOMPARE(trx.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(call->playerState(), QAudio::ActiveState, 5000);

        for (int key = 49; key <= 54; ++key) {
            call->show();
            sendKey(call, QEvent::KeyPress, key, Qt::ControlModifier, QString());
            QVERIFY2(!call->isVisible(), qPrintable(QString::number(key)));
        }
        // The message stopped with the panel.
        QCOMPARE(trx.size(), 2);
        QCOMPARE(trx.at(1).at(0).value<uint8_t>(), uint8_t(0));
        // Other keys still reach the window behind.
        call->show();
        sendKey(call, QEvent::KeyPress, 55, Qt::ControlModifier, QString());
        QTRY_COMPARE(sink.keys.size(), 3);
        QCOMPARE(sink.keys.at(2).first, 55);
        delete call;
        QCOMPARE(trx.size(), 2);
    }

    // Lengths under 2 s show no "Recorded"; a recording stops itself at
    // 90 s; the input level rises fast and falls slowly.
    void recorderProgressAndLimit()
    {
        DialogVoiceRec rec(nullptr, nullptr, 0, 0, 800, 480);
        rec.setFileName("voice_msg04");
        rec.preparePanel();
        QCOMPARE(rec.statusText(), QStringLiteral("Idle"));
        QVERIFY(QDir(zvoice_dir()).exists());

        rec.slot_durationChanged(1999);
        QCOMPARE(rec.statusText(), QStringLiteral("Idle"));
        QCOMPARE(rec.progressValue(), 0);
        rec.slot_durationChanged(2000);
        QCOMPARE(rec.statusText(), QStringLiteral("Recorded 2 sec"));
        QCOMPARE(rec.progressValue(), 2);

        saveShot(&rec, "voicerec_idle.png");
        rec.functionButton(0)->click();
        QCOMPARE(rec.timeText(), QStringLiteral("01:30"));
        QCOMPARE(rec.progressValue(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(rec.recorderStatus(), QMediaRecorder::RecordingStatus, 10000);
        QCOMPARE(rec.recorderState(), QMediaRecorder::RecordingState);
        QVERIFY(!rec.functionButton(0)->isEnabled());
        QVERIFY(!rec.functionButton(1)->isEnabled());
        QCOMPARE(rec.indicatorText(), QString(QChar(0xF111)));
        rec.slot_durationChanged(89999);
        QCOMPARE(rec.statusText(), QStringLiteral("Recorded 89 sec"));
        QCOMPARE(rec.recorderState(), QMediaRecorder::RecordingState);
        rec.slot_durationChanged(90000);
        QCOMPARE(rec.progressValue(), 90);
        QTRY_COMPARE_WITH_TIMEOUT(rec.recorderState(), QMediaRecorder::StoppedState, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(rec.statusText(), QStringLiteral("Stopped"), 10000);
        QVERIFY(rec.functionButton(0)->isEnabled());
        QVERIFY(rec.functionButton(1)->isEnabled());
        QCOMPARE(rec.indicatorText(), QString());
        zvoice_wav_header_t h;
        QCOMPARE(zvoice_read_header(rec.filePath(), &h), 0);

        // Level: 0.9 of a rise at once, 0.2 of a fall per buffer.
        rec.slot_audioBufferProbed(monoBuffer(16384));
        QVERIFY(std::fabs(rec.level() - 0.45f) < 1e-3f);
        rec.slot_audioBufferProbed(monoBuffer(16384));
        QVERIFY(std::fabs(rec.level() - 0.495f) < 1e-3f);
        rec.slot_audioBufferProbed(monoBuffer(0));
        QVERIFY(std::fabs(rec.level() - 0.396f) < 1e-3f);
        rec.slot_timeOut();
        QCOMPARE(rec.findChild<QProgressBar *>("meterLevel")->value(), 396);
    }

    // Closing the panel in the middle of a recording still leaves a whole
    // WAV file: its header gives the length of the data behind it.
    void closingWhileRecordingCompletesTheFile()
    {
        auto *rec = new DialogVoiceRec(nullptr, nullptr, 0, 0, 800, 480);
        rec->setFileName("voice_msg05");
        rec->preparePanel();
        rec->show();
        rec->functionButton(0)->click();
        QTRY_COMPARE_WITH_TIMEOUT(rec->recorderStatus(), QMediaRecorder::RecordingStatus, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(rec->filePath()).size() > 44 + 16000, 10000);
        rec->functionButton(4)->click(); // EXIT
        QVERIFY(!rec->isVisible());
        const QString path = rec->filePath();
        delete rec;
        const QByteArray file = ztest::readFile(path);
        zvoice_wav_header_t h;
        QCOMPARE(zvoice_parse_header(file, &h), 0);
        QCOMPARE(int(h.dataSize), file.size() - 44);
        QCOMPARE(h.sampleRate, 16000u);
    }

    // The file name stays inside the voice folder.
    void recorderFileStaysInVoiceFolder()
    {
        DialogVoiceRec rec(nullptr, nullptr, 0, 0, 800, 480);
        QCOMPARE(rec.fileName(), QStringLiteral("untitled"));
        rec.setFileName("../../etc/passwd");
        QCOMPARE(rec.filePath(), zvoice_dir() + "/passwd");
        rec.setFileName("..");
        QCOMPARE(rec.fileName(), QStringLiteral("untitled"));
    }

    // Recording message 1 from the simulator's microphone for about 5 s
    // gives a 16 kHz mono WAV of about 5 s carrying its tone; the call
    // panel then offers it, and sending it keys the radio for the length of
    // the message while the simulator receives the tone as transmit audio.
    void recordedMessageGoesOnTheAir()
    {
        ztest::Rig rig;
        QVERIFY(rig.start(false));
        clearMessages();
        uint32_t w[ZRADIO_REG_WORDS];
        int tx = 0;

        // What the window does around the recorder panel.
        zradio_set_voice_recorde(1);
        QTRY_VERIFY_WITH_TIMEOUT(rig.status(w, &tx) && (w[12] & BbMic::kControlBit), 5000);
        {
            DialogVoiceRec rec(nullptr, rig.store(), 0, 0, 800, 480);
            rec.setFileName(zvoice_message_name(1));
            rec.preparePanel();
            rec.show();
            QSet<QString> shown;
            rec.functionButton(0)->click();
            QTRY_COMPARE_WITH_TIMEOUT(rec.recorderStatus(), QMediaRecorder::RecordingStatus, 10000);
            // The sound card's clock paces the recording: 5.3 s of it.
            QElapsedTimer recording;
            recording.start();
            QTRY_VERIFY_WITH_TIMEOUT((shown.insert(rec.statusText()), recording.elapsed() >= 5300), 10000);
            QVERIFY2(std::fabs(rec.level() - BbMic::kLevel) < 0.1f, qPrintable(QString::number(rec.level())));
            saveShot(&rec, "voicerec.png");
            rec.functionButton(2)->click();
            QTRY_VERIFY_WITH_TIMEOUT((shown.insert(rec.statusText()), rec.statusText() == "Stopped"), 10000);
            // The recorded seconds were reported, none below 2 s.
            QVERIFY(shown.contains("Preparing..."));
            int reported = 0;
            for (const QString &t : qAsConst(shown)) {
                if (!t.startsWith("Recorded "))
                    continue;
                reported++;
                QVERIFY2(t.section(' ', 1, 1).toInt() >= 2, qPrintable(t));
            }
            QVERIFY(reported >= 2);
        }
        zradio_set_voice_recorde(0);
        QTRY_VERIFY_WITH_TIMEOUT(rig.status(w, &tx) && !(w[12] & BbMic::kControlBit), 5000);

        const QByteArray file = ztest::readFile(zvoice_path("voice_msg01"));
        zvoice_wav_header_t h;
        QCOMPARE(zvoice_parse_header(file, &h), 0);
        QCOMPARE(h.audioFormat, quint16(1));
        QCOMPARE(h.channels, quint16(1));
        QCOMPARE(h.sampleRate, 16000u);
        QCOMPARE(h.bitsPerSample, quint16(16));
        QCOMPARE(h.byteRate, 32000u);
        QCOMPARE(int(h.dataSize), file.size() - 44);
        QCOMPARE(zvoice_duration(h), 5);
        // The microphone's tone, after the receiver audio still queued when
        // the source switched.
        const ToneStats st = toneOf(file, 0.5);
        QVERIFY2(std::fabs(st.hz - BbMic::kHz) < 10, qPrintable(QString::number(st.hz)));
        QVERIFY2(std::fabs(st.rms - BbMic::kLevel / std::sqrt(2.0)) < 0.03, qPrintable(QString::number(st.rms)));

        DialogVoiceCall call(nullptr, rig.store(), 0, 380, 800, 100);
        call.preparePanel();
        QCOMPARE(call.buttonLines(0), QStringList({"VOICE MSG 1", "5 s"}));
        QVERIFY(call.functionButton(0)->isEnabled());
        for (int i = 1; i < 5; ++i) {
            QCOMPARE(call.buttonLines(i), QStringList({QStringLiteral("VOICE MSG %1").arg(i + 1), "NO DATA"}));
            QVERIFY(!call.functionButton(i)->isEnabled());
        }
        call.show();
        saveShot(&call, "voicecall.png");

        // What the window does with the panel's transmit request.
        connect(&call, &DialogVoiceCall::sig_postTrx, &rig, &ztest::Rig::slot_modemTrxReceiver);
        QVERIFY(rig.sim().command("txaudio reset").startsWith("ok"));
        call.functionButton(0)->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.transmitting(), 5000);
        QVERIFY(rig.status(w, &tx) && (w[12] & ZRADIO_CTL_MODEM));
        QTRY_COMPARE_WITH_TIMEOUT(call.playerState(), QAudio::StoppedState, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.transmitting(), 5000);
        QCOMPARE(rig.keyings(), 1);
        QVERIFY2(rig.keyedMs() >= 4500 && rig.keyedMs() < 12000, qPrintable(QString::number(rig.keyedMs())));
        QVERIFY(rig.status(w, &tx) && !(w[12] & ZRADIO_CTL_MODEM) && tx == 0);

        // The simulator heard the tone while it transmitted.
        QMap<QString, QString> a;
        QTRY_VERIFY_WITH_TIMEOUT((a = replyFields(rig.sim().command("txaudio")), a.value("on") == "0"), 5000);
        QVERIFY2(a.value("tx_ms").toInt() >= 4300 && a.value("tx_ms").toInt() <= 6000, qPrintable(a.value("tx_ms")));
        // (Its zero-crossing count also holds the receiver noise that leads
        // the recording, so the tone is checked by its level.)
        const double toneRms = BbMic::kLevel / std::sqrt(2.0) * 32768.0;
        QVERIFY2(std::fabs(a.value("rms").toDouble() - toneRms) < 0.08 * toneRms, qPrintable(a.value("rms")));
        QVERIFY2(std::fabs(a.value("peak").toDouble() / 32768.0 - BbMic::kLevel) < 0.05, qPrintable(a.value("peak")));
        QCOMPARE(call.titleLabel()->text(), QStringLiteral(" VOICE CALL: Stopped"));
    }
};

QTEST_MAIN(TestVoice)
#include "test_voice.moc"
