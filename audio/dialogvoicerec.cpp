#include "audio/dialogvoicerec.h"

#include "audio/zvoiceplayer.h"
#include "app/zlog.h"
#include "app/zqrc.h"

#include <QAudioBuffer>
#include <QAudioEncoderSettings>
#include <QAudioProbe>
#include <QAudioRecorder>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include <cmath>

namespace {

const QChar kGlyphRecord(0xF111);
const QChar kGlyphPlay(0xF04B);
const QChar kGlyphStop(0xF04D);
const char *kInputDevice = "alsa:mixcapture";
// How long closing the panel waits for a recording to be finished (the
// WAV header is written last).
const int kFinishMs = 3000;

QString twoDigits(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

} // namespace

DialogVoiceRec::DialogVoiceRec(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("DialogVoiceRec"));
    setPanelTitle(QStringLiteral("VOICE RECORDER"));

    const QString dir = zvoice_dir();
    if (QDir(dir).exists())
        qCInfo(logAudio).noquote() << "check" << dir << ", ok";
    else if (QDir().mkpath(dir))
        qCInfo(logAudio).noquote() << "create" << dir << ", ok";
    else
        qCWarning(logAudio).noquote() << "create" << dir << "failed";

    createFunctionButtons({QString(kGlyphRecord), QString(kGlyphPlay), QString(kGlyphStop), QStringLiteral(" "),
                           QStringLiteral("EXIT")});
    setFunctionButtonText(0, QStringLiteral("<span style=\"color:rgb(255,40,40);\">%1</span>").arg(kGlyphRecord));
    setExitButton(5);
    for (QPushButton *b : qAsConst(m_buttons))
        connect(b, &QPushButton::clicked, this, &DialogVoiceRec::slot_pushButtonClicked);

    // Client area: indicator and status line, the file, the 90 s limit,
    // then the recorded (played) seconds and the input level.
    const QRect r = userGeometry();
    QFont big(QStringLiteral("DejaVu Sans Mono"), 22);
    big.setBold(true);
    QFont small(QStringLiteral("DejaVu Sans Mono"), 14);
    small.setBold(true);
    QFont icon(QStringLiteral("FontAwesome"), 48);

    m_indicator = new QLabel(this);
    m_indicator->setObjectName(QStringLiteral("labelIndicator"));
    m_indicator->setFont(icon);
    m_indicator->setAlignment(Qt::AlignCenter);
    m_indicator->setGeometry(r.x() + 16, r.y() + 16, 96, 96);
    m_indicator->setStyleSheet(QStringLiteral("QLabel{border:2px solid rgb(70,80,100);border-radius:6px;}"));

    m_status = new QLabel(QStringLiteral("Idle"), this);
    m_status->setObjectName(QStringLiteral("labelStatus"));
    m_status->setFont(big);
    m_status->setGeometry(r.x() + 132, r.y() + 20, r.width() - 132 - 190, 44);

    m_file = new QLabel(QStringLiteral("FILE  %1").arg(m_fileName), this);
    m_file->setObjectName(QStringLiteral("labelFile"));
    m_file->setFont(small);
    m_file->setGeometry(r.x() + 132, r.y() + 70, r.width() - 132 - 190, 36);

    auto *limit = new QLabel(QStringLiteral("LIMIT"), this);
    limit->setFont(small);
    limit->setAlignment(Qt::AlignCenter);
    limit->setGeometry(r.right() - 170, r.y() + 70, 150, 36);
    m_time = new QLabel(QStringLiteral("--:--"), this);
    m_time->setObjectName(QStringLiteral("labelTime"));
    m_time->setFont(big);
    m_time->setAlignment(Qt::AlignCenter);
    m_time->setGeometry(r.right() - 170, r.y() + 20, 150, 44);

    const int barLeft = r.x() + 132;
    const int barWidth = r.right() - 20 - barLeft;
    auto *timeCaption = new QLabel(QStringLiteral("TIME"), this);
    timeCaption->setFont(small);
    timeCaption->setGeometry(r.x() + 16, r.y() + 170, 110, 44);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressTime"));
    m_progress->setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zprogbar_template.qss"))
                                  .arg(QStringLiteral("rgb(0,120,255)")));
    m_progress->setFont(small);
    m_progress->setRange(0, kMaxSeconds);
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%v s"));
    m_progress->setGeometry(barLeft, r.y() + 170, barWidth, 44);

    auto *levelCaption = new QLabel(QStringLiteral("LEVEL"), this);
    levelCaption->setFont(small);
    levelCaption->setGeometry(r.x() + 16, r.y() + 260, 110, 44);
    m_meter = new QProgressBar(this);
    m_meter->setObjectName(QStringLiteral("meterLevel"));
    m_meter->setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/zprogbar_style01.qss")));
    m_meter->setRange(0, 1000);
    m_meter->setValue(0);
    m_meter->setTextVisible(false);
    m_meter->setGeometry(barLeft, r.y() + 260, barWidth, 44);

    // Recorder with its probe: the level meter follows the input.
    m_recorder = new QAudioRecorder(this);
    m_probe = new QAudioProbe(this);
    if (!m_probe->setSource(m_recorder))
        qCWarning(logAudio) << "voice recorder: no audio probe on the recorder";
    connect(m_probe, &QAudioProbe::audioBufferProbed, this, &DialogVoiceRec::slot_audioBufferProbed);
    connect(m_recorder, &QAudioRecorder::durationChanged, this, &DialogVoiceRec::slot_durationChanged);
    connect(m_recorder, &QAudioRecorder::statusChanged, this, &DialogVoiceRec::slot_statusChanged);
    connect(m_recorder, &QAudioRecorder::stateChanged, this, &DialogVoiceRec::slot_recorderStateChanged);
    connect(m_recorder, QOverload<QMediaRecorder::Error>::of(&QMediaRecorder::error), this,
            &DialogVoiceRec::slot_recorderError);

    m_player = new ZVoicePlayer(this);
    connect(m_player, &ZVoicePlayer::sig_stateChanged, this, &DialogVoiceRec::slot_playerStateChanged);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &DialogVoiceRec::slot_timeOut);
    m_timer->start(50);
}

DialogVoiceRec::~DialogVoiceRec()
{
    finishRecording();
    m_timer->stop();
    delete m_probe;
    m_probe = nullptr;
    delete m_recorder;
    m_recorder = nullptr;
}

void DialogVoiceRec::setFileName(const QString &name)
{
    // A file name only: the recording stays inside the voice folder.
    const QString base = name.section(QLatin1Char('/'), -1);
    m_fileName = base.isEmpty() || base == QLatin1String("..") || base == QLatin1String(".")
                     ? QStringLiteral("untitled")
                     : base;
    m_locationSet = false;
    m_file->setText(QStringLiteral("FILE  %1").arg(m_fileName));
}

QString DialogVoiceRec::filePath() const
{
    return zvoice_path(m_fileName);
}

void DialogVoiceRec::preparePanel()
{
    m_status->setText(QStringLiteral("Idle"));
}

int DialogVoiceRec::exec()
{
    preparePanel();
    return ZPanel::exec();
}

void DialogVoiceRec::done(int result)
{
    // A recording still running is finished before the panel goes, so the
    // file is complete when the call panel reads it.
    finishRecording();
    if (m_player)
        m_player->stop();
    ZPanel::done(result);
}

void DialogVoiceRec::finishRecording()
{
    if (!m_recorder)
        return;
    if (m_recorder->state() != QMediaRecorder::StoppedState)
        m_recorder->stop();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < kFinishMs
           && (m_recorder->status() == QMediaRecorder::FinalizingStatus
               || m_recorder->status() == QMediaRecorder::RecordingStatus
               || m_recorder->status() == QMediaRecorder::StartingStatus)) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

void DialogVoiceRec::setRecorder(bool on)
{
    if (!on) {
        if (m_recorder->state() != QMediaRecorder::StoppedState)
            m_recorder->stop();
        return;
    }
    if (m_recorder->state() != QMediaRecorder::StoppedState)
        return;
    // The file is about to be rewritten: it is not read at the same time.
    if (m_player)
        m_player->stop();
    m_recorder->setAudioInput(QString::fromLatin1(kInputDevice));
    QAudioEncoderSettings s;
    s.setCodec(QStringLiteral("audio/x-raw"));
    s.setSampleRate(16000);
    s.setChannelCount(1);
    s.setQuality(QMultimedia::NormalQuality);
    s.setEncodingMode(QMultimedia::ConstantQualityEncoding);
    m_recorder->setEncodingSettings(s, QVideoEncoderSettings(), QStringLiteral("audio/x-wav"));
    if (!m_locationSet) {
        m_recorder->setOutputLocation(QUrl::fromLocalFile(filePath()));
        m_locationSet = true;
    }
    m_recorder->record();
    qCInfo(logAudio) << "voice recording into" << filePath();
    m_time->setText(QStringLiteral("%1:%2").arg(twoDigits(kMaxSeconds / 60), twoDigits(kMaxSeconds % 60)));
    m_progress->setValue(0);
}

void DialogVoiceRec::play()
{
    if (!m_player)
        return;
    m_player->play(filePath());
}

void DialogVoiceRec::slot_pushButtonClicked(bool)
{
    const int i = m_buttons.indexOf(qobject_cast<QPushButton *>(sender()));
    switch (i) {
    case 0:
        setRecorder(true);
        break;
    case 1:
        play();
        break;
    case 2:
        setRecorder(false);
        if (m_player)
            m_player->stop();
        break;
    default:
        break; // the blank button does nothing; EXIT is the panel's
    }
}

void DialogVoiceRec::slot_durationChanged(qint64 ms)
{
    if (m_recorder->error() != QMediaRecorder::NoError || ms < 2000)
        return;
    const int s = int(ms / 1000);
    m_status->setText(QStringLiteral("Recorded %1 sec").arg(s));
    m_progress->setValue(qMin(s, kMaxSeconds));
    if (s >= kMaxSeconds) {
        qCInfo(logAudio) << "voice recording reached" << kMaxSeconds << "s, stopped";
        setRecorder(false);
    }
}

void DialogVoiceRec::slot_statusChanged(QMediaRecorder::Status status)
{
    if (m_recorder->error() != QMediaRecorder::NoError)
        return;
    switch (status) {
    case QMediaRecorder::UnloadedStatus:
    case QMediaRecorder::LoadedStatus:
        m_status->setText(QStringLiteral("Stopped"));
        m_level = 0.0f;
        break;
    case QMediaRecorder::RecordingStatus:
        m_status->setText(QStringLiteral("Preparing..."));
        break;
    case QMediaRecorder::PausedStatus:
        m_status->setText(QStringLiteral("Paused"));
        m_level = 0.0f;
        break;
    default:
        break;
    }
}

void DialogVoiceRec::slot_recorderStateChanged(QMediaRecorder::State state)
{
    if (state == QMediaRecorder::RecordingState) {
        setRecordPlayEnabled(false);
        showIndicator(QString(kGlyphRecord), QStringLiteral("rgb(255,40,40)"));
    } else if (state == QMediaRecorder::StoppedState) {
        setRecordPlayEnabled(true);
        showIndicator(QString(), QString());
    }
}

void DialogVoiceRec::slot_recorderError(QMediaRecorder::Error error)
{
    qCWarning(logAudio) << "voice recorder error" << error << m_recorder->errorString();
    m_status->setText(m_recorder->errorString().isEmpty() ? QStringLiteral("Recorder error")
                                                          : m_recorder->errorString());
    setRecordPlayEnabled(true);
}

void DialogVoiceRec::slot_audioBufferProbed(const QAudioBuffer &buffer)
{
    // The peak of the buffer, full scale 1.
    const QAudioFormat f = buffer.format();
    float v = 0.0f;
    const int samples = buffer.sampleCount();
    if (f.sampleType() == QAudioFormat::SignedInt && f.sampleSize() == 16) {
        const qint16 *p = buffer.constData<qint16>();
        int peak = 0;
        for (int i = 0; i < samples; ++i)
            peak = qMax(peak, qAbs(int(p[i])));
        v = float(peak) * (1.0f / 32768.0f);
    } else if (f.sampleType() == QAudioFormat::Float && f.sampleSize() == 32) {
        const float *p = buffer.constData<float>();
        for (int i = 0; i < samples; ++i)
            v = qMax(v, std::fabs(p[i]));
        v = qMin(v, 1.0f);
    } else {
        return;
    }
    // Fast attack, slow release.
    if (v > m_level)
        m_level += 0.9f * (v - m_level);
    else if (v < m_level)
        m_level += 0.2f * (v - m_level);
}

void DialogVoiceRec::slot_playerStateChanged(QAudio::State state)
{
    switch (state) {
    case QAudio::ActiveState:
        m_status->setText(QStringLiteral("playing"));
        showIndicator(QString(kGlyphPlay), QStringLiteral("white"));
        break;
    case QAudio::StoppedState:
        // The player has closed the file.
        setRecordPlayEnabled(true);
        m_status->setText(QStringLiteral("stopped"));
        showIndicator(QString(), QString());
        m_progress->setValue(0);
        break;
    case QAudio::IdleState:
        m_player->stop(); // end of the data
        break;
    default:
        break;
    }
    if (m_player->error() != QAudio::NoError)
        setRecordPlayEnabled(true);
}

void DialogVoiceRec::slot_timeOut()
{
    m_meter->setValue(levelPermille());
    if (m_player && m_player->state() == QAudio::ActiveState && m_player->error() == QAudio::NoError)
        m_progress->setValue(qMin(m_player->playedSeconds(), kMaxSeconds));
}

void DialogVoiceRec::setRecordPlayEnabled(bool on)
{
    for (int i : {0, 1})
        if (QPushButton *b = functionButton(i))
            b->setEnabled(on);
}

void DialogVoiceRec::showIndicator(const QString &glyph, const QString &color)
{
    m_indicator->setText(glyph);
    m_indicator->setStyleSheet(
        QStringLiteral("QLabel{border:2px solid rgb(70,80,100);border-radius:6px;color:%1;}")
            .arg(color.isEmpty() ? QStringLiteral("white") : color));
}

QString DialogVoiceRec::statusText() const
{
    return m_status->text();
}

QString DialogVoiceRec::timeText() const
{
    return m_time->text();
}

int DialogVoiceRec::progressValue() const
{
    return m_progress->value();
}

int DialogVoiceRec::levelPermille() const
{
    return qBound(0, int(std::lround(m_level * 1000.0f)), 1000);
}

QString DialogVoiceRec::indicatorText() const
{
    return m_indicator->text();
}

QMediaRecorder::State DialogVoiceRec::recorderState() const
{
    return m_recorder->state();
}

QMediaRecorder::Status DialogVoiceRec::recorderStatus() const
{
    return m_recorder->status();
}

QAudio::State DialogVoiceRec::playerState() const
{
    return m_player ? m_player->state() : QAudio::StoppedState;
}
