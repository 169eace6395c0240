#include "audio/dialogvoicecall.h"

#include "audio/zvoiceplayer.h"
#include "app/zlog.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

namespace {

// Two centred lines: the caption over the value.
const char *kButtonHtml = "<p align=\"center\" style=\"margin:0px;\">"
                          "<span style=\"font-family:'DejaVu Sans Mono';font-size:14pt;font-weight:bold;"
                          "color:%4;\">%1</span><br>"
                          "<span style=\"font-family:'DejaVu Sans Mono';font-size:13pt;font-weight:bold;"
                          "color:%3;\">%2</span></p>";

} // namespace

DialogVoiceCall::DialogVoiceCall(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("DialogVoiceCall"));
    setPanelTitle(QStringLiteral("VOICE CALL"));
    for (int n = 1; n <= ZVOICE_MESSAGES; ++n)
        m_files.append(zvoice_path(zvoice_message_name(n)));

    m_player = new ZVoicePlayer(this);
    connect(m_player, &ZVoicePlayer::sig_stateChanged, this, &DialogVoiceCall::slot_playerStateChanged);
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &DialogVoiceCall::slot_timeOut);
    m_timer->start(50);
}

DialogVoiceCall::~DialogVoiceCall()
{
    // Never leave the transmitter keyed behind the panel.
    m_timer->stop();
    if (m_player->state() != QAudio::StoppedState)
        m_player->stop();
}

void DialogVoiceCall::preparePanel()
{
    createFunctionButtons(QStringList{QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "),
                                      QStringLiteral(" "), QStringLiteral(" ")});
    m_lines.clear();
    for (int i = 0; i < m_files.size(); ++i) {
        QPushButton *b = functionButton(i);
        connect(b, &QPushButton::clicked, this, &DialogVoiceCall::slot_pushButtonClicked);
        zvoice_wav_header_t h;
        const bool ok = zvoice_read_header(m_files.at(i), &h) == 0;
        const QString caption = QStringLiteral("VOICE MSG %1").arg(i + 1);
        const QString value = ok ? QStringLiteral("%1 s").arg(zvoice_duration(h)) : QStringLiteral("NO DATA");
        m_lines.append({caption, value});
        // A message that cannot be sent is drawn dim as well as disabled.
        setFunctionButtonText(i, QString::fromLatin1(kButtonHtml)
                                     .arg(caption, value,
                                          ok ? QStringLiteral("rgb(255,200,0)") : QStringLiteral("rgb(110,110,110)"),
                                          ok ? QStringLiteral("white") : QStringLiteral("rgb(130,130,130)")));
        b->setEnabled(ok);
        if (ok)
            qCInfo(logAudio).noquote() << m_files.at(i) << zvoice_header_text(h);
    }
}

int DialogVoiceCall::exec()
{
    preparePanel();
    return ZPanel::exec();
}

QStringList DialogVoiceCall::buttonLines(int i) const
{
    return i >= 0 && i < m_lines.size() ? m_lines.at(i) : QStringList();
}

QAudio::State DialogVoiceCall::playerState() const
{
    return m_player->state();
}

void DialogVoiceCall::slot_pushButtonClicked(bool)
{
    const int i = m_buttons.indexOf(qobject_cast<QPushButton *>(sender()));
    if (i < 0 || i >= m_files.size())
        return;
    const bool running = m_player->state() != QAudio::StoppedState;
    if (i == m_playing && running) {
        m_player->stop(); // the stopped player releases the transmitter
        return;
    }
    // Another message while one is on the air: the first one ends (and
    // releases) before the new one keys again.
    if (running)
        m_player->stop();
    m_playing = i;
    emit sig_postTrx(1);
    if (!m_player->play(m_files.at(i))) {
        // Nothing plays, so nothing will report stopped.
        setPanelTitle(QStringLiteral(" VOICE CALL: Stopped"));
        emit sig_postTrx(0);
    }
}

void DialogVoiceCall::slot_playerStateChanged(QAudio::State state)
{
    if (state == QAudio::IdleState) {
        m_player->stop(); // end of the message
    } else if (state == QAudio::StoppedState) {
        setPanelTitle(QStringLiteral(" VOICE CALL: Stopped"));
        emit sig_postTrx(0);
    }
}

void DialogVoiceCall::slot_timeOut()
{
    if (m_player->state() != QAudio::StoppedState && m_player->error() == QAudio::NoError)
        setPanelTitle(QStringLiteral(" VOICE CALL: Calling %1").arg(m_player->playedSeconds()));
}

void DialogVoiceCall::done(int result)
{
    if (m_player->state() != QAudio::StoppedState)
        m_player->stop();
    ZPanel::done(result);
}

bool DialogVoiceCall::handleCallKey(QKeyEvent *event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    // The hand microphone's lock key still locks the radio.
    if (event->key() == 76 && event->text() == QLatin1String("HMIC-LOCK")) {
        zui_repost_key(parentWidget(), event);
        event->accept();
        return true;
    }
    // A group key (Ctrl+1 .. Ctrl+6) closes the panel.
    if (event->key() >= 49 && event->key() <= 54) {
        close();
        event->accept();
        return true;
    }
    return false;
}

void DialogVoiceCall::keyPressEvent(QKeyEvent *event)
{
    if (!handleCallKey(event))
        ZPanel::keyPressEvent(event);
}

void DialogVoiceCall::keyReleaseEvent(QKeyEvent *event)
{
    if (!handleCallKey(event))
        ZPanel::keyReleaseEvent(event);
}
