#include "modem/dialogmodem.h"

#include "modem/morsesender.h"
#include "modem/zmodem_psk.h"
#include "modem/zmodem_rtty.h"
#include "modem/cw_dem.h"
#include "modem/zrmodem.h"
#include "params/zparamadmin.h"
#include "ui/zdrawscope.h"
#include "ui/zuievents.h"
#include "app/zlog.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>

namespace {

const QString kW = QStringLiteral("wparam");

// The display keeps this many lines.
const int kDisplayLines = 5;
// A line is broken before its text reaches this close to the right edge.
const int kWrapMargin = 49;
// At most this many decoded characters are taken per tick: more than any
// mode produces in 100 ms, and no more than the decoders' queues hold.
const int kCharsPerTick = 200;
// Longest Morse character in units (the digit 0: five dashes, their gaps and
// the character gap), for the wait on a sender that is being stopped.
const uint32_t kLongestCharUnits = 23;

// A function key's face: the item's name over its value.
QString faceHtml(const QString &name, const QString &value)
{
    return QStringLiteral("<div align=\"center\"><span style=\"font-size:10pt;color:#b4b4b4;\">%1</span><br/>"
                          "<span style=\"font-size:13pt;\">%2</span></div>")
        .arg(name.toHtmlEscaped(), value.toHtmlEscaped());
}

// A stored message as it fits on a key: one line, shortened.
QString messageFace(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("<EMPTY>");
    QString s = text.simplified();
    const int kMax = 12;
    if (s.size() > kMax)
        s = s.left(kMax - 1) + QChar(0x2026);
    return s;
}

} // namespace

DialogModem::DialogModem(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("DialogModem"));
    setPanelTitle(QStringLiteral(" MODEM"));
    for (int i = 0; i < kMessages; ++i)
        if (m_store)
            m_messages[i] = m_store->paramItem(kW, QString::asprintf("msg%02d", i + 1)).value.toString();
    m_format.setForeground(receiveColor());
}

DialogModem::~DialogModem()
{
    if (m_statusTimer)
        m_statusTimer->stop();
    releaseTransmit();
    // A Morse sender still keying ends after its current character; wait for
    // it so the key line is up and its thread gone before the host goes.
    if (QThread *t = m_morseThread.data()) {
        disconnect(t, nullptr, this, nullptr);
        emit sig_stopMorseSend();
        if (!t->wait((unsigned long)(kLongestCharUnits * m_morseUnit + 1000)))
            qCWarning(logModem) << "morse sender still running at close";
    }
    delete m_modem;
    m_modem = nullptr;
    if (m_scope) {
        m_scope->removeMarker(QStringLiteral("marker1"));
        m_scope->removeMarker(QStringLiteral("marker2"));
    }
}

int DialogModem::exec()
{
    start();
    return ZPanel::exec();
}

void DialogModem::done(int result)
{
    // A tick still due before the panel goes must not key the radio again.
    m_closed = true;
    if (m_statusTimer)
        m_statusTimer->stop();
    releaseTransmit();
    ZPanel::done(result);
}

// The radio must not stay keyed by a panel that is closed or gone.
void DialogModem::releaseTransmit()
{
    if (m_lastTx) {
        m_lastTx = 0;
        emit sig_setTrxStatus(0);
    }
}

void DialogModem::start()
{
    if (m_started)
        return;
    m_started = true;

    createFunctionButtons({QStringLiteral("MODE"), QStringLiteral("FC"), QStringLiteral("F3"), QStringLiteral("F4"),
                           QStringLiteral("EXIT")});
    for (QPushButton *b : qAsConst(m_buttons))
        connect(b, &QPushButton::clicked, this, &DialogModem::slot_pushButtonClicked);

    m_display = new QTextEdit(this);
    m_display->setObjectName(QStringLiteral("textEditModem"));
    m_display->setGeometry(userGeometry());
    m_display->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 14));
    m_display->setStyleSheet(QStringLiteral("QTextEdit{background-color:black;}"));
    m_display->setReadOnly(true);
    m_display->setUndoRedoEnabled(false);
    m_display->setLineWrapMode(QTextEdit::NoWrap);
    m_display->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_display->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The panel takes the keys; the display only shows.
    m_display->setFocusPolicy(Qt::NoFocus);
    m_display->setTextInteractionFlags(Qt::NoTextInteraction);
    m_display->document()->setMaximumBlockCount(kDisplayLines);
    m_display->show();

    m_modem = new ZRModem(1000.0f, 16000, 1024);
    m_modem->start();

    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(100);
    connect(m_statusTimer, &QTimer::timeout, this, &DialogModem::slot_updateStatus);
    m_statusTimer->start();

    if (m_scope) {
        m_scope->setMarker(QStringLiteral("marker1"), 1000.0f, Qt::red);
        m_scope->setMarker(QStringLiteral("marker2"), 1000.0f, Qt::red);
        m_marker1 = m_marker2 = 1000.0f;
    }
    updateButtons();
    updateMode();
    updateTitle();
}

void DialogModem::setAudioScope(ZDrawScope *scope)
{
    m_scope = scope;
}

QString DialogModem::buttonFace(int i) const
{
    if (i < 0 || i >= 5)
        return QString();
    QTextDocument doc;
    doc.setHtml(m_buttonHtml[i]);
    return doc.toPlainText().trimmed();
}

QString DialogModem::message(int index) const
{
    return index >= 0 && index < kMessages ? m_messages[index] : QString();
}

int DialogModem::currentMode() const
{
    return m_modem ? m_modem->mode.load() : qBound(0, m_cache.mdmmode.toInt(), 2);
}

// ---------------------------------------------------------------- settings

void DialogModem::updateButtons()
{
    if (!m_store)
        return;
    applySettings();
    relabel();
}

void DialogModem::applySettings()
{
    if (!m_modem)
        return;
    auto value = [this](const char *key) { return m_store->paramItem(kW, QLatin1String(key)); };

    // The mode first: the carrier below goes to the modems of the mode.
    const QVariant mode = value("mdmmode").value;
    if (mode != m_cache.mdmmode) {
        m_cache.mdmmode = mode;
        m_modem->mode = qBound(0, mode.toInt(), int(ZRModem::ModeCount) - 1);
        qCDebug(logModem) << "modem mode" << ZRModem::modeName(m_modem->mode);
    }
    const QVariant afc = value("modemafc").value;
    if (afc != m_cache.modemafc) {
        m_cache.modemafc = afc;
        m_modem->afcEnable = afc.toInt() != 0 ? 1 : 0;
        qCDebug(logModem) << "modem afc" << afc.toInt();
    }
    const QVariant sql = value("modemsql").value;
    if (sql != m_cache.modemsql) {
        m_cache.modemsql = sql;
        m_modem->sqlThreshold = sql.toFloat();
        qCDebug(logModem) << "modem sql" << sql.toFloat();
    }
    const QVariant psk = value("pskrate").value;
    if (psk != m_cache.pskrate) {
        m_cache.pskrate = psk;
        const int index = psk.toInt();
        if (float(index) != m_pskRate) {
            m_pskRate = float(index);
            m_modem->pskDem->setRateIndex(index);
            m_modem->pskMod->setRateIndex(index);
            qCDebug(logModem) << "pskRate" << index;
        }
    }
    // RTTY rate and shift are the numbers their option texts show.
    const zparam_item_t rate = value("rttyrate");
    if (rate.value != m_cache.rttyrate) {
        m_cache.rttyrate = rate.value;
        const float r = rate.valueForDisp().toFloat();
        if (r > 0 && r != m_rttyRate) {
            m_rttyRate = r;
            if (m_modem->rttyDem)
                rtty_dem_set_rate(m_modem->rttyDem, r);
            if (m_modem->rttyMod)
                rtty_mod_set_speed(m_modem->rttyMod, r);
            qCDebug(logModem) << "rttyRate" << r;
        }
    }
    const zparam_item_t shift = value("rttyshift");
    if (shift.value != m_cache.rttyshift) {
        m_cache.rttyshift = shift.value;
        const float s = shift.valueForDisp().toFloat();
        if (s > 0 && s != m_rttyShift) {
            m_rttyShift = s;
            if (m_modem->rttyDem)
                rtty_dem_set_shift(m_modem->rttyDem, s);
            if (m_modem->rttyMod)
                rtty_mod_set_shift(m_modem->rttyMod, s);
            qCDebug(logModem) << "rttyShift" << s;
        }
    }
    // The carrier: the CW pitch in CW, the modem carrier otherwise. Leaving
    // or entering CW always re-tunes, since each side keeps its own.
    m_cache.modemfc = value("modemfc").value;
    m_cache.cwtone = value("cwtone").value;
    const bool cw = m_modem->mode == ZRModem::ModeCW;
    const float fc = (cw ? m_cache.cwtone : m_cache.modemfc).toFloat();
    if (!m_fcApplied || cw != m_fcIsTone || fc != m_fcValue) {
        m_fcApplied = true;
        m_fcIsTone = cw;
        m_fcValue = fc;
        m_modem->setFc(fc);
        if (cw)
            qCDebug(logModem) << "cwtone" << fc;
    }
}

void DialogModem::setButtonLabel(int i, const QString &html)
{
    if (i < 0 || i >= 5 || m_buttonHtml[i] == html)
        return;
    m_buttonHtml[i] = html;
    setFunctionButtonText(i, html);
}

void DialogModem::relabel()
{
    if (m_buttons.size() < 5)
        return;
    if (m_page == PageMessages) {
        for (int i = 0; i < kMessages; ++i)
            setButtonLabel(i, faceHtml(QStringLiteral("MSG %1").arg(i + 1), messageFace(m_messages[i])));
        return;
    }
    auto item = [this](const char *key) { return m_store->paramItem(kW, QLatin1String(key)); };
    const int mode = currentMode();
    setButtonLabel(0, faceHtml(QStringLiteral("FUNC"), QStringLiteral("%1/2").arg(m_layer + 1)));
    if (m_layer == 0) {
        setButtonLabel(1, faceHtml(QStringLiteral("MODE"), ZRModem::modeName(mode)));
        if (mode == ZRModem::ModeCW) {
            setButtonLabel(2, faceHtml(QStringLiteral("TONE"), item("cwtone").valueForDisp()));
            setButtonLabel(3, faceHtml(QStringLiteral("SPEED"), QStringLiteral("%1 WPM").arg(item("ks").value.toInt())));
        } else {
            setButtonLabel(2, faceHtml(QStringLiteral("FC"), QStringLiteral("%1 Hz").arg(item("modemfc").value.toInt())));
            if (mode == ZRModem::ModeRTTY)
                setButtonLabel(3, faceHtml(QStringLiteral("RATE"),
                                           QStringLiteral("%1 bps").arg(item("rttyrate").valueForDisp())));
            else
                setButtonLabel(3, faceHtml(QStringLiteral("RATE"), item("pskrate").valueForDisp()));
        }
        if (mode == ZRModem::ModeRTTY)
            setButtonLabel(4, faceHtml(QStringLiteral("SHIFT"),
                                       QStringLiteral("%1 Hz").arg(item("rttyshift").valueForDisp())));
        else
            setButtonLabel(4, faceHtml(QStringLiteral(" "), QStringLiteral(" ")));
    } else {
        setButtonLabel(1, faceHtml(QStringLiteral("AFC"), item("modemafc").valueForDisp()));
        setButtonLabel(2, faceHtml(QStringLiteral("SQL"), QString::number(item("modemsql").value.toInt())));
        setButtonLabel(3, faceHtml(QStringLiteral("CLEAR"), QStringLiteral(" ")));
        setButtonLabel(4, faceHtml(QStringLiteral("EXIT"), QStringLiteral(" ")));
    }
}

// The item each key of the function page adjusts (1..4), by layer and mode.
QString DialogModem::selectedKey() const
{
    if (m_page != PageFunctions || m_selected <= 0)
        return QString();
    const int mode = currentMode();
    if (m_layer == 1) {
        switch (m_selected) {
        case 1: return QStringLiteral("modemafc");
        case 2: return QStringLiteral("modemsql");
        default: return QString();
        }
    }
    switch (m_selected) {
    case 1: return QStringLiteral("mdmmode");
    case 2: return mode == ZRModem::ModeCW ? QStringLiteral("cwtone") : QStringLiteral("modemfc");
    case 3:
        return mode == ZRModem::ModeCW ? QStringLiteral("ks")
             : mode == ZRModem::ModeRTTY ? QStringLiteral("rttyrate")
                                         : QStringLiteral("pskrate");
    case 4: return mode == ZRModem::ModeRTTY ? QStringLiteral("rttyshift") : QString();
    default: return QString();
    }
}

void DialogModem::selectItem(int item)
{
    m_selected = item;
    if (selectedKey().isEmpty())
        m_selected = 0;
    selectFunctionButton(m_selected > 0 ? m_selected : -1);
}

void DialogModem::setPage(int page)
{
    if (page == m_page)
        return;
    m_page = page;
    m_selected = 0;
    selectFunctionButton(-1);
    relabel();
}

void DialogModem::toggleLayer()
{
    m_layer = 1 - m_layer;
    m_selected = 0;
    selectFunctionButton(-1);
    relabel();
}

void DialogModem::updateMode()
{
    if (!m_scope || !m_modem)
        return;
    const float fc = m_modem->fc();
    const QString m1 = QStringLiteral("marker1"), m2 = QStringLiteral("marker2");
    if (currentMode() == ZRModem::ModeRTTY) {
        const float half = (m_rttyShift > 0 ? m_rttyShift : 170.0f) / 2.0f;
        if (m_marker1 != fc - half) {
            m_marker1 = fc - half;
            m_scope->setMarker(m1, m_marker1, Qt::red);
        }
        if (m_marker2 != fc + half) {
            m_marker2 = fc + half;
            m_scope->setMarker(m2, m_marker2, Qt::red);
        }
    } else {
        if (m_marker1 != fc) {
            m_marker1 = fc;
            m_scope->setMarker(m1, fc, Qt::red);
        }
        if (m_marker2 >= 0) {
            m_marker2 = -1.0f;
            m_scope->removeMarker(m2);
        }
    }
}

// ------------------------------------------------------------------ buttons

void DialogModem::slot_pushButtonClicked(bool)
{
    auto *b = qobject_cast<QPushButton *>(sender());
    switch (m_buttons.indexOf(b)) {
    case 0: cbF1(); break;
    case 1: cbF2(); break;
    case 2: cbF3(); break;
    case 3: cbF4(); break;
    case 4: cbF5(); break;
    default: break;
    }
}

void DialogModem::cbF1()
{
    if (m_page == PageMessages) {
        sendStoredMessage(0);
        return;
    }
    toggleLayer();
}

void DialogModem::cbF2()
{
    if (m_page == PageMessages) {
        sendStoredMessage(1);
        return;
    }
    const QString key = m_layer == 0 ? QStringLiteral("mdmmode") : QStringLiteral("modemafc");
    m_store->modifyParamItem(kW, key, 1, -1, zrnamespace::ModifyByItem);
    selectItem(1);
    updateButtons();
}

void DialogModem::cbF3()
{
    if (m_page == PageMessages) {
        sendStoredMessage(2);
        return;
    }
    selectItem(2);
}

void DialogModem::cbF4()
{
    if (m_page == PageMessages) {
        sendStoredMessage(3);
        return;
    }
    if (m_layer == 0) {
        selectItem(3);
        return;
    }
    m_display->clear();
    m_line.clear();
    m_printed = false;
    selectFunctionButton(m_selected > 0 ? m_selected : -1);
}

void DialogModem::cbF5()
{
    if (m_page == PageMessages) {
        sendStoredMessage(4);
        return;
    }
    if (m_layer == 0) {
        selectItem(4);
        return;
    }
    close();
}

void DialogModem::sendStoredMessage(int index)
{
    const QString text = message(index);
    if (text.isEmpty() || m_sendState != SendIdle || m_morseBusy)
        return;
    m_sending = text;
    m_sendState = SendPosted;
}

// -------------------------------------------------------------------- input

void DialogModem::keyPressEvent(QKeyEvent *event)
{
    if (event->modifiers() == Qt::ControlModifier && event->key() >= Qt::Key_1 && event->key() <= Qt::Key_5) {
        event->accept();
        switch (event->key()) {
        case Qt::Key_2:
            if (m_page == PageMessages)
                setPage(PageFunctions);
            else
                close();
            break;
        case Qt::Key_4:
            setPage(m_page == PageMessages ? PageFunctions : PageMessages);
            break;
        default:
            // Another group: the panel closes and the main window shows it.
            close();
            zui_repost_key(parentWidget(), event);
            break;
        }
        return;
    }
    ZPanel::keyPressEvent(event);
}

void DialogModem::keyReleaseEvent(QKeyEvent *event)
{
    ZPanel::keyReleaseEvent(event);
    // The panel marks the key last released; here the mark stays on the
    // item the knob adjusts.
    if (m_started && event->key() >= Qt::Key_F1 && event->key() <= Qt::Key_F5)
        selectFunctionButton(m_selected > 0 ? m_selected : -1);
}

void DialogModem::wheelEvent(QWheelEvent *event)
{
    event->accept();
    const int delta = event->angleDelta().y();
    const QString key = selectedKey();
    // The multi-function knob steps the selected item; the tuning dial (and
    // the knob with nothing selected) stays the main window's.
    if (event->modifiers() == Qt::NoModifier && !key.isEmpty() && m_store) {
        if (delta != 0) {
            m_store->modifyParamItem(kW, key, -delta, -1, zrnamespace::ModifyByItem);
            updateButtons();
        }
        return;
    }
    if (QWidget *p = parentWidget())
        QCoreApplication::postEvent(p, new QWheelEvent(event->position(), event->globalPosition(), event->pixelDelta(),
                                                       event->angleDelta(), event->buttons(), event->modifiers(),
                                                       event->phase(), event->inverted()));
}

void DialogModem::showEvent(QShowEvent *event)
{
    ZPanel::showEvent(event);
    if (m_closed) {
        m_closed = false;
        if (m_statusTimer)
            m_statusTimer->start();
    }
    // Front-panel keys go to the active window: the panel, while it is open.
    raise();
    activateWindow();
}

void DialogModem::customEvent(QEvent *event)
{
    // Front-panel short and long presses belong to the main window.
    if (zui_repost_radio_event(parentWidget(), event)) {
        event->accept();
        return;
    }
    ZPanel::customEvent(event);
}

// ----------------------------------------------------------------- sending

bool DialogModem::postMessage(const QString &text)
{
    if (text.isEmpty() || !m_modem)
        return false;
    if (currentMode() == ZRModem::ModeCW) {
        if (m_morseBusy) {
            qCDebug(logModem) << "morse sender busy, message refused";
            return false;
        }
        const int wpm = qBound(5, m_store ? m_store->paramItem(kW, QStringLiteral("ks")).value.toInt() : 15, 50);
        m_morseUnit = uint32_t(1200 / wpm);
        auto *thread = new QThread;
        auto *sender = new MorseSender;
        sender->setUnit(m_morseUnit);
        sender->moveToThread(thread);
        // quit() directly: the close waits on the GUI thread for the end.
        connect(sender, &MorseSender::sig_finish, thread, &QThread::quit, Qt::DirectConnection);
        connect(thread, &QThread::finished, sender, &QObject::deleteLater);
        connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        connect(thread, &QObject::destroyed, this, &DialogModem::slot_morseSendFinish);
        connect(this, &DialogModem::sig_startMorseSend, sender, &MorseSender::slot_worker);
        connect(this, &DialogModem::sig_stopMorseSend, sender, &MorseSender::slot_stop, Qt::DirectConnection);
        connect(sender, &MorseSender::sig_sentChar, this, &DialogModem::slot_morseSentChar);
        // The decoders hear silence while the transmitter is keyed.
        m_modem->rxScale = 0.0f;
        m_morseBusy = true;
        m_morseThread = thread;
        thread->start();
        emit sig_startMorseSend(text);
        return true;
    }
    if (!m_modem->postText(text))
        return false;
    m_echoCount = 0;
    return true;
}

void DialogModem::slot_morseSentChar(char c)
{
    if (c != 0)
        putDispChar(QString(QChar(uchar(c))));
}

void DialogModem::slot_morseSendFinish()
{
    qCDebug(logModem) << "morse send finished";
    if (m_modem)
        m_modem->rxScale = 1.0f;
    m_morseBusy = false;
    m_sendState = SendTransmitting;
}

uint32_t DialogModem::sentCounter() const
{
    switch (currentMode()) {
    case ZRModem::ModeRTTY:
        return m_modem->rttyMod ? rtty_mod_get_sent_counter(m_modem->rttyMod) : 0;
    case ZRModem::ModeBPSK:
        return uint32_t(std::max(0, m_modem->pskMod->sentCounter()));
    default:
        return 0;
    }
}

void DialogModem::echoSent()
{
    if (m_sendMode == ZRModem::ModeCW || currentMode() != m_sendMode)
        return;
    const int upTo = int(std::min<uint32_t>(sentCounter(), uint32_t(m_sending.size())));
    if (upTo > m_echoCount) {
        putDispChar(m_sending.mid(m_echoCount, upTo - m_echoCount));
        m_echoCount = upTo;
    }
}

void DialogModem::showReceived()
{
    char c = 0;
    for (int n = 0; n < kCharsPerTick && m_modem->getChar(&c) > 0; ++n) {
        if (m_modem->sqlClosed.load())
            continue;
        const uchar u = uchar(c);
        if (u == '\n')
            putDispChar(QString(QChar(0x21B2)));
        else if (u >= 32 && u <= 126)
            putDispChar(QString(QChar(u)));
        // Carriage returns and other control codes have no place on a
        // five-line display; line feeds are marked instead.
    }
}

void DialogModem::slot_updateStatus()
{
    if (!m_modem || m_closed)
        return;
    updateButtons();
    const uint8_t tx = m_modem->trxState();

    switch (m_sendState) {
    case SendPosted:
        if (m_printed)
            putDispChar(QStringLiteral("\n"));
        m_format.setForeground(transmitColor());
        m_sendMode = currentMode();
        m_echoCount = 0;
        if (postMessage(m_sending)) {
            m_sendState = SendWaiting;
        } else {
            m_format.setForeground(receiveColor());
            m_sendState = SendIdle;
        }
        break;
    case SendWaiting:
        // RTTY and BPSK raise the flag as they post: seen low here, their
        // transmission is already over. CW waits for the sender.
        if (tx || m_sendMode != ZRModem::ModeCW)
            m_sendState = SendTransmitting;
        break;
    case SendTransmitting:
        if (!tx) {
            // The modulator's count is gone with the flag: the rest of the
            // message went out after the last tick.
            if (m_sendMode != ZRModem::ModeCW && currentMode() == m_sendMode && m_echoCount < m_sending.size())
                putDispChar(m_sending.mid(m_echoCount));
            putDispChar(QStringLiteral("\n"));
            m_format.setForeground(receiveColor());
            m_sendState = SendIdle;
        }
        break;
    default:
        break;
    }

    if (tx != m_lastTx) {
        m_lastTx = tx;
        emit sig_setTrxStatus(tx);
    }

    if (tx || m_sendState != SendIdle) {
        echoSent();
    } else {
        showReceived();
        m_echoCount = 0;
    }
    updateTitle();
    updateMode();
}

void DialogModem::updateTitle()
{
    if (!m_modem)
        return;
    const int mode = currentMode();
    QString title;
    if (mode == ZRModem::ModeCW) {
        const int rssi = m_modem->cwDem ? int(cw_dem_get_rssi(m_modem->cwDem)) : 0;
        const unsigned wpm = m_modem->cwDem ? cw_dem_get_wpm(m_modem->cwDem) : 0;
        title = QStringLiteral(" MODEM: %1, RSSI:%2, WPM:%3").arg(ZRModem::modeName(mode)).arg(rssi, 3).arg(wpm);
    } else {
        title = QStringLiteral(" MODEM: %1, RSSI:%2").arg(ZRModem::modeName(mode)).arg(int(m_modem->level.load()), 3);
    }
    if (title != m_title) {
        m_title = title;
        setPanelTitle(title);
    }
}

// ------------------------------------------------------------------ display

void DialogModem::putDispChar(const QString &s)
{
    if (!m_display || s.isEmpty())
        return;
    const QFontMetrics fm(m_display->font());
    const int limit = m_display->width() - kWrapMargin;
    QTextCursor cursor(m_display->document());
    cursor.movePosition(QTextCursor::End);
    QString run;
    auto flush = [&]() {
        if (!run.isEmpty())
            cursor.insertText(run, m_format);
        run.clear();
    };
    for (const QChar ch : s) {
        if (ch == QLatin1Char('\n')) {
            run += ch;
            m_line.clear();
            m_printed = false;
            continue;
        }
        run += ch;
        m_line += ch;
        m_printed = true;
        if (fm.horizontalAdvance(m_line) >= limit) {
            run += QLatin1Char('\n');
            m_line.clear();
            m_printed = false;
        }
    }
    flush();
    m_display->verticalScrollBar()->setValue(m_display->verticalScrollBar()->maximum());
}
