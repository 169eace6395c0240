// The main window: construction, the delayed second stage, the 50 ms tick,
// front-panel input (keys, knobs, user events), direct frequency entry, the
// VFO/memory actions, the transmit sources, the tuner run and shutdown.
// The displays are in mainwidget_display.cpp, the panadapter and meter feed
// in mainwidget_feed.cpp, the function keys and panels in
// mainwidget_keys.cpp.
#include "ui/mainwidget.h"
#include "ui_mainwidget.h"

#include "app/zlog.h"
#include "app/zqrc.h"
#include "app/zrmisc.h"
#include "app/zsystem.h"
#include "audio/zaudio.h"
#include "civ/civdevice.h"
#include "civ/civdeviceadmin.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "radio/zradioevent.h"
#include "server/dialogwfserversetting.h"
#include "spectrum/zscopegl.h"
#include "ui/xyplot.h"
#include "ui/zbarmeter.h"
#include "ui/zdrawscope.h"
#include "ui/zfonts.h"
#include "ui/zradiosetting.h"
#include "ui/zscreenshot.h"
#include "ui/ztwinfilterwidget.h"
#include "ui/zuievents.h"
#include "ui/zvfofrequencywidget.h"
#include "wireless/wifimanager.h"
#include "wireless/zbluetooth.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <QWheelEvent>

namespace {
const QString kW = QStringLiteral("wparam");
} // namespace

MainWidget::MainWidget(QWidget *parent)
    : QWidget(parent)
{
    // 1. The form.
    ZFonts::install();
    ui = new Ui_MainWidget;
    ui->setupUi(this);
    setFixedSize(800, 480);
    setStyleSheet(ZQRC::getQssFromQrcFile(QStringLiteral(":/mainwidget.qss")));
    // Every screen it opens becomes the active window, which the front
    // panel's keys go to, and hands that back when it closes.
    zui_follow_window_activation();
    m_wifi.reset(new zwireless::ZWifiIndicator(ui->pushButton_WiFi, ui->label_WiFiIconEx));

    // 2. The access-point record as queued signals name it.
    qRegisterMetaType<WifiAccessPoint>("AccessPointProp");
    // 3. NetworkManager's client (null without a system bus: no WiFi icon);
    // the server icon shows only while the server runs.
    m_nmClient = WiFiManager::createClient();
    ui->pushButton_WfServer->hide();

    // 4. Tag buttons.
    m_tagEnable = tagEnableStyle();
    m_tagDisable = tagDisableStyle();
    m_tagButtons = {{QStringLiteral("nre"), ui->pushButton_NR, -1},
                    {QStringLiteral("nbe"), ui->pushButton_NB, -1},
                    {QStringLiteral("atue"), ui->pushButton_ATU, -1},
                    {QStringLiteral("sple"), ui->pushButton_SPL, -1},
                    {QStringLiteral("dnfe"), ui->pushButton_DNF, -1},
                    {QStringLiteral("sqlthr"), ui->pushButton_SQL, -1}};

    // 5. Panadapter, then the audio area at its right.
    spectrumInit();
    m_audioScopeRect = QRect(600, 176, 199, 124);
    m_xyRect = QRect(600, 302, 199, 124);
    m_audioScope = new ZDrawScope(this);
    m_audioScope->setObjectName(QStringLiteral("audioScope"));
    m_audioScope->setGeometry(m_audioScopeRect);
    m_audioScope->setVerticalScale(8, 5.0f, -20.0f);
    m_audioScope->setFrequencySpan(16000.0f);
    m_audioScope->hide();
    m_xyPlot = new XYPlot(this);
    m_xyPlot->setObjectName(QStringLiteral("xyPlot"));
    m_xyPlot->setGeometry(m_xyRect);
    m_xyPlot->hide();

    // 6. The update tick (started in step 13).
    m_updateTimer = new QTimer(this);
    connect(m_updateTimer, &QTimer::timeout, this, &MainWidget::slot_timerUpdate);

    // 7. Status bar icons.
    for (int i = 0; i < 5; ++i)
        getFunctionKey(i)->raise();
    ui->label_WiFiIconEx->hide();
    ui->pushButton_WiFi->hide();
    ui->pushButton_USB->hide();
    ui->pushButton_Bluetooth->hide();
    ui->pushButton_Time->hide();
    ui->pushButton_Battery->hide();
    ui->pushButton_SP->hide();
    ui->pushButton_WiFi->setText(QString(QChar(0xF1EB)));
    ui->pushButton_USB->setText(QString(QChar(0xF287)));
    ui->pushButton_Bluetooth->setText(QString(QChar(0xF293)));
    ui->pushButton_Charge->setText(QString());
    ui->pushButton_Charge->show();

    // 8. The radio link; from here on the parameter store exists.
    m_radio = zradio_create("/dev/i2c-0", 114);
    m_store = m_radio ? m_radio->param : nullptr;
    if (!m_radio)
        qCCritical(logGui) << "No radio link: the screen shows nothing live.";
    char ident[ZRADIO_IDENT_LEN + 1];
    if (m_radio && zradio_get_ident(ident, sizeof(ident)) == 0)
        qCInfo(logRig).noquote() << "BASE    :" << ident;

    // 9, 10. Readouts, meters, labels and the filter view.
    buildScreen();

    // 11. One full register push once the settings are in the block.
    m_updateEvents.append(1);
    zradio_request_full_push();

    // 12. Function keys and the channel list.
    for (int i = 0; i < 5; ++i) {
        QPushButton *b = getFunctionKey(i);
        connect(b, &QPushButton::clicked, this, &MainWidget::slot_functionKeysClick);
        connect(b, &QPushButton::released, this, &MainWidget::slot_functionKeysRelease);
    }
    if (m_store)
        connect(m_store, &ZParamAdmin::sig_chUpdate, this, &MainWidget::slot_chUpdateReceiver);

    // 13. Knob groups, then the tick.
    mfkGroupInit();
    redrawFunctionKeys(0);
    m_updateTimer->start(50);

    // 14. The clock.
    m_rtcTimer = new QTimer(this);
    connect(m_rtcTimer, &QTimer::timeout, this, &MainWidget::slot_rtcUpdate);
    m_rtcTimer->start(1000);

    // 15. Icons.
    showIconSpeakPhone(1);
    showIconLock(m_store ? m_store->paramItem(kW, QStringLiteral("lock")).value.toInt() : 0);

    // 16. CAT control: the CI-V device on its worker thread, serving the
    // wired port at 19200 baud (termios speed code 14), the Bluetooth port
    // and the network server's port.
    m_civAdmin = new CivDeviceAdmin(this);
    CivDevice *civ = m_civAdmin->device();
    connect(civ, &CivDevice::sig_setTrxStatus, this, &MainWidget::slot_civTrxStatus);
    connect(civ, &CivDevice::sig_setAtuStatus, this, &MainWidget::slot_civSetAtu);
    connect(civ, &CivDevice::sig_setDate, this, &MainWidget::slot_civSetDate);
    connect(civ, &CivDevice::sig_setTimeMinSec, this, &MainWidget::slot_civSetTimeMinSec);
    connect(civ, &CivDevice::sig_setUtcOffset, this, &MainWidget::slot_civSetUtcOffset);
    civ->setParams(m_store, QStringLiteral("/dev/ttyS2"), 14);
    emit m_civAdmin->start();

    // 17. The delayed second stage runs once, about 5 s after construction.
    QTimer *delay = new QTimer(this);
    delay->setSingleShot(true);
    connect(delay, &QTimer::timeout, delay, &QObject::deleteLater);
    connect(delay, &QObject::destroyed, this, &MainWidget::slot_delayInitProcess);
    delay->start(5000);
    m_delayTimer = delay;

    // 18. No transmit source is left over from a previous run.
    zradio_set_voice_recorde(0);
    zradio_set_modem_trx(0);
    zradio_set_swrscan_trx(0);
    zradio_set_civptt(0);
    zradio_set_iptt(0);

    // 19. The backlight's full range (half of it on battery).
    if (m_store)
        m_backlightMax = m_store->paramItem(kW, QStringLiteral("bllevel")).max.toInt();

    // 20. Manufacturing record.
    updateManufactureRecord();

    qCInfo(logSystem) << "Main window inited.";
}

MainWidget::~MainWidget()
{
    // A window closed within the first seconds deletes the pending timer with
    // its children; that must not run the delayed stage on a dying window.
    if (m_delayTimer)
        disconnect(m_delayTimer, nullptr, this, nullptr);
    // Open panels write their selection into the store when they close:
    // they go while the store still exists.
    for (QDialog *panel : {static_cast<QDialog *>(m_radioSetting.data()),
                           static_cast<QDialog *>(m_displaySettings.data()), m_chEditor.data(),
                           m_filterPanel.data()}) {
        if (panel) {
            disconnect(panel, nullptr, this, nullptr);
            delete panel;
        }
    }
    delete ui;
    ui = nullptr;
    m_updateTimer->stop();
    delete m_updateTimer;
    m_updateTimer = nullptr;
    m_rtcTimer->stop();
    delete m_atuTimer;
    m_atuTimer = nullptr;
    delete m_scope;
    m_scope = nullptr;
    delete m_sMeter;
    m_sMeter = nullptr;
    delete m_subVfo;
    m_subVfo = nullptr;
    delete m_mainVfo;
    m_mainVfo = nullptr;
    delete m_memoryLabel;
    m_memoryLabel = nullptr;
    // The CI-V worker uses the store: it ends before the radio link (and
    // with it the store) goes.
    delete m_civAdmin;
    m_civAdmin = nullptr;
    m_store = nullptr;
    zradio_destroy(m_radio);
    m_radio = nullptr;
    delete m_bluetooth;
    m_bluetooth = nullptr;
    m_wifi.reset();
    WiFiManager::releaseClient(m_nmClient);
    m_nmClient = nullptr;
    if (m_audio) {
        // Once the event loop has ended a deferred delete never runs, and the
        // capture thread would outlive the window into the process exit.
        if (QThread::currentThread()->loopLevel() > 0)
            m_audio->deleteLater();
        else
            delete m_audio;
        m_audio = nullptr;
    }
}

// Step 20: the start counter, and when the full-band transmit option is on
// the time it was first seen.
void MainWidget::updateManufactureRecord()
{
    QSettings man(zsys::path(QStringLiteral("/etc/zrradio/man.conf")), QSettings::IniFormat);
    man.beginGroup(QStringLiteral("manufacture"));
    bool ok = false;
    quint64 counter = man.value(QStringLiteral("exec-counter")).toULongLong(&ok);
    if (!ok)
        counter = 0;
    man.setValue(QStringLiteral("exec-counter"), QString::number(counter + 1));
    if (m_store && m_store->bandPlan().fullbandTx()) {
        if (!man.contains(QStringLiteral("fbtx-open-time")))
            man.setValue(QStringLiteral("fbtx-open-time"),
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        man.setValue(QStringLiteral("fullband-tx"), 1);
    }
    man.endGroup();
    man.sync();
}

void MainWidget::slot_delayInitProcess()
{
    qCInfo(logSystem) << "PWR ON INIT: finished";
    qCInfo(logSystem) << "Create bluetooth admin";
    m_bluetooth = new ZBluetooth(this);
    if (m_store && m_store->paramItem(kW, QStringLiteral("bten")).value.toInt() != 0)
        m_bluetooth->setPowerState(1);
    qCInfo(logSystem) << "Create audio instance";
    m_audio = new ZAudio(nullptr);
    connect(m_audio, &ZAudio::sig_fftReady, this, &MainWidget::slot_audioFFTReady);
    connect(m_audio, &ZAudio::sig_samReady, this, &MainWidget::slot_audioSamReady);
    connect(m_audio, &ZAudio::sig_pcmFatalError, this, &MainWidget::slot_appFatalErrorReset);
    qCInfo(logSystem) << m_audio << "init ok.";
    // The network server, when it was left running.
    DialogWfserverSetting::startAtPowerUp(m_store);
    qCInfo(logSystem) << "Delay init finished";
}

bool MainWidget::hasUpdateEvent(int code)
{
    const int i = m_updateEvents.indexOf(code);
    if (i < 0)
        return false;
    m_updateEvents.removeAt(i);
    return true;
}

// ---------------------------------------------------------------- the tick

void MainWidget::slot_timerUpdate()
{
    if (m_firstTick) {
        m_firstTick = false;
        m_scope->setStatusText(QStringLiteral("IDLE"));
        m_sMeter->setValue(0);
        m_swrMeter->setValue(0);
        m_swrMeter->show();
        m_scope->replot();
        return;
    }
    if (!m_store)
        return;

    // 2. Transmit state.
    bool trxChanged = false;
    const int trx = zradio_get_trx();
    if (trx != m_disp.trx) {
        m_disp.trx = trx;
        setMeterScale(trx != 0);
        qCInfo(logGui) << "trx changed," << trx;
        trxChanged = true;
        m_scopeSettingsChanged = true;
    }

    // 3. Spectrum and meters.
    float mag[ZRADIO_FFT_LEN];
    uint32_t count = 0;
    if (zradio_getfftmag(m_radio, mag, &count))
        feedSpectrumFrame(mag, int(qMin<uint32_t>(count, ZRADIO_FFT_LEN)));

    // 4. Tag buttons; 5. VFO lines; 6. filter and panadapter settings.
    updateTagButtons();
    updateVfoItems(trxChanged);
    updateFilterAndScope(trxChanged);
    // 7, 8. Knob readouts.
    updateVolumeReadout();
    updateMfkReadout();
    // 9. Levels, backlight, lock, RIT/XIT.
    updateLevelsAndIcons(trxChanged);
    // The tuner run, for the CAT interpreter.
    m_store->atuActive.store(m_disp.atuTuning ? 1 : 0);

    // 10. The settings as they now stand go to the board.
    zradio_update_params();
}

// ------------------------------------------------------------ user events

void MainWidget::customEvent(QEvent *event)
{
    if (event->type() != ZRadioEvent::ShortPress && event->type() != ZRadioEvent::LongPress) {
        QWidget::customEvent(event);
        return;
    }
    event->accept();
    if (!m_store)
        return;
    const auto *e = static_cast<ZRadioEvent *>(event);
    const uint32_t code = e->value();
    if (event->type() == ZRadioEvent::ShortPress) {
        switch (code) {
        case 207:
            m_store->modifyParamItem(kW, QStringLiteral("vi"), 1, -1, zrnamespace::ModifyByItem);
            break;
        case 208:
            m_store->modifyVfoFront(QStringLiteral("pre"), 1);
            break;
        case 209:
            m_store->modifyParamItem(kW, QStringLiteral("atue"), 1, -1, zrnamespace::ModifyByItem);
            break;
        case 213:
            switchVM();
            break;
        case 214:
            m_store->modifyVfoFront(QStringLiteral("agc"), 1);
            break;
        case 216:
            stepBacklight();
            break;
        default: // 194, 200 and unlisted codes
            break;
        }
        return;
    }
    switch (code) {
    case 207:
        // Copy the operated VFO onto the other one; memory mode has no
        // VFOs of the operator's own to copy.
        if (m_store->vm() == 0) {
            m_store->copyVfo(m_store->vfoIndex());
            m_store->saveLogicVfo();
        }
        break;
    case 208:
        m_store->modifyVfoFront(QStringLiteral("att"), 1);
        break;
    case 209:
        if (!m_atuTimer)
            startAtuTune();
        break;
    case 214:
        m_store->modifyParamItem(kW, QStringLiteral("sple"), 1, -1, zrnamespace::ModifyWrap);
        break;
    case 216:
        m_store->modifyParamItem(kW, QStringLiteral("lock"), 1, -1, zrnamespace::ModifyByItem);
        break;
    default:
        break;
    }
}

// The backlight key steps the level up; at the limit (half the range on
// battery) it wraps to the lowest level.
void MainWidget::stepBacklight()
{
    const zparam_item_t item = m_store->paramItem(kW, QStringLiteral("bllevel"));
    const int min = item.min.toInt();
    const int max = item.max.toInt();
    const int limit = m_supply.extPower ? max : max / 2;
    int level = item.value.toInt() + 1;
    if (level < min)
        level = limit;
    if (level > limit)
        level = min;
    m_store->setParamItem(kW, QStringLiteral("bllevel"), level);
    dispInfoLabel(QStringLiteral("BACK LIGHT: %1/%2").arg(level).arg(limit));
}

// ------------------------------------------------------------------- keys

void MainWidget::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    const int key = event->key();
    const QString text = event->text();
    const bool hmic = text.contains(QLatin1String("HMIC-"), Qt::CaseInsensitive);

    // 1. The front-panel function keys show their button pressed.
    if (key >= Qt::Key_F1 && key <= Qt::Key_F5) {
        QPushButton *b = getFunctionKey(key - Qt::Key_F1);
        if (b && !b->isDown())
            b->setDown(true);
    }
    // 2. Group keys.
    slot_adminDirectCallKeys(event);
    if (!m_store)
        return;
    // 3. Band stack or channel.
    if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        const int d = key == Qt::Key_PageUp ? 1 : -1;
        if (m_store->vm() == 1)
            m_store->seekCh(d);
        else
            m_store->modifyBandstackIndex(d);
    }
    // 4. Direct frequency entry from the hand microphone.
    if (key == Qt::Key_Enter && text == QLatin1String("HMIC-Enter") && !m_filterPanel) {
        directFrequencyEntry();
        return;
    }
    // 5. Lock from the microphone, screenshot from anything else.
    if (key == Qt::Key_L && event->modifiers() == Qt::ControlModifier) {
        if (hmic)
            m_store->modifyParamItem(kW, QStringLiteral("lock"), 1, -1, zrnamespace::ModifyByItem);
        else
            Screenshot::shootScreen();
    }
    // 6. While the entry is open it takes every other key.
    if (m_freqEntry) {
        QCoreApplication::postEvent(m_freqEntry, new QKeyEvent(event->type(), key, Qt::NoModifier, text));
        return;
    }
    // 7. Band keys.
    if (event->modifiers() == Qt::NoModifier) {
        static const struct {
            int key;
            int slot;
        } bands[] = {{Qt::Key_1, 1},  {Qt::Key_2, 3},  {Qt::Key_3, 7},  {Qt::Key_4, 9},
                     {Qt::Key_5, 11}, {Qt::Key_6, 13}, {Qt::Key_7, 15}, {Qt::Key_8, 17},
                     {Qt::Key_9, 19}, {Qt::Key_Period, 21}};
        for (const auto &b : bands) {
            if (b.key == key) {
                m_store->setBandstackIndex(b.slot);
                break;
            }
        }
    }
    // 8. The hand microphone's own keys.
    if (!hmic)
        return;
    switch (key) {
    case Qt::Key_M:
        m_store->modifyVfoFront(QStringLiteral("mode"), 1);
        break;
    case Qt::Key_F:
        m_store->modifyTwinFilterGroup(1);
        break;
    case Qt::Key_V:
        switchVM();
        break;
    case Qt::Key_W:
        saveVFO();
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (m_store->paramItem(kW, QStringLiteral("lock")).value.toInt() == 0) {
            const int d = key == Qt::Key_Up ? 1 : -1;
            if (m_store->vm() == 1)
                m_store->seekCh(d);
            else
                m_store->modifyFrequncy(d);
        }
        break;
    default:
        break;
    }
    handleFunctionKey(key);
}

void MainWidget::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
    const int key = event->key();
    if (key < Qt::Key_F1 || key > Qt::Key_F5)
        return;
    QPushButton *b = getFunctionKey(key - Qt::Key_F1);
    if (!b)
        return;
    // click() emits released() before clicked(): the release handler of
    // the key runs before its click handler.
    b->setDown(false);
    b->click();
}

// The two programmable hand-microphone keys: the display text of
// "handle_f1" / "handle_f2" names the action.
void MainWidget::handleFunctionKey(int key)
{
    if (!m_store || (key != Qt::Key_F11 && key != Qt::Key_F12))
        return;
    const QString item = key == Qt::Key_F11 ? QStringLiteral("handle_f1") : QStringLiteral("handle_f2");
    const QString action = m_store->paramItem(kW, item).valueForDisp();
    auto wrap = [this](const char *k, int d) {
        m_store->modifyParamItem(kW, QLatin1String(k), d, -1, zrnamespace::ModifyWrap);
    };
    if (action.contains(QLatin1String("PRE")))
        m_store->modifyVfoFront(QStringLiteral("pre"), 1);
    else if (action.contains(QLatin1String("ATT")))
        m_store->modifyVfoFront(QStringLiteral("att"), 1);
    else if (action.contains(QLatin1String("AGC")))
        m_store->modifyVfoFront(QStringLiteral("agc"), 1);
    else if (action.contains(QLatin1String("TS-")))
        wrap("ts", -1);
    else if (action.contains(QLatin1String("TS+")))
        wrap("ts", 1);
    else if (action.contains(QLatin1String("NR")))
        wrap("nre", 1);
    else if (action.contains(QLatin1String("NB")))
        wrap("nbe", 1);
    else if (action.contains(QLatin1String("DNF")))
        wrap("dnfe", 1);
    else if (action.contains(QLatin1String("CW TRAINER")))
        wrap("cwtrain", 1);
}

// First "HMIC-Enter": an entry line over the main readout. Second: the
// typed number as MHz (with a dot, or below 100) or Hz, kept when it lies
// within 0.5 .. 55 MHz.
void MainWidget::directFrequencyEntry()
{
    if (!m_freqEntry) {
        m_mainVfo->hide();
        m_freqEntry = new QLineEdit(this);
        m_freqEntry->setObjectName(QStringLiteral("frequencyEntry"));
        QFont f(QStringLiteral("DejaVu Sans Mono"), 28);
        f.setWeight(75);
        m_freqEntry->setFont(f);
        m_freqEntry->setPalette(palette());
        m_freqEntry->setFocusPolicy(Qt::StrongFocus);
        m_freqEntry->setStyleSheet(QStringLiteral(
            "QLineEdit{color:white;background-color:rgb(16,20,28);border:1px solid rgb(0,190,255);}"));
        m_freqEntry->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral(
                "^(([0-9]+\\.[0-9]*[1-9][0-9]*)|([0-9]*[1-9][0-9]*\\.[0-9]+)|([0-9]*[1-9][0-9]*))$")),
            m_freqEntry));
        m_freqEntry->setGeometry(m_mainVfo->geometry());
        m_freqEntry->show();
        m_freqEntry->setFocus(Qt::OtherFocusReason);
        return;
    }
    const QString text = m_freqEntry->text();
    const double m = text.toDouble();
    const double hz = (text.contains(QLatin1Char('.')) || m < 100.0) ? m * 1000000.0 : m;
    m_freqEntry->deleteLater();
    m_freqEntry = nullptr;
    if (hz >= 500000.0 && hz <= 55000000.0)
        m_store->setVfoFront(QStringLiteral("freq"), int(qint64(hz)));
    m_mainVfo->show();
    m_mainVfo->redraw();
    restoreFunctionKeys();
}

// ------------------------------------------------------------------ knobs

void MainWidget::wheelEvent(QWheelEvent *event)
{
    event->accept();
    if (!m_store)
        return;
    const int delta = event->angleDelta().y();
    if (event->modifiers() == Qt::AltModifier) {
        // The tuning dial: one tuning step per count, unless locked or in
        // memory mode.
        if (m_store->paramItem(kW, QStringLiteral("lock")).value.toInt() == 0 && m_store->vm() == 0)
            m_store->modifyFrequncy(-delta);
        return;
    }
    if (event->modifiers() != Qt::NoModifier || delta == 0)
        return;
    // The multi-function knob: the item of the focused function key, else
    // the item assigned to the knob.
    if (mfkIndex() >= 0 && !m_knobTable.isEmpty() && !m_knobKey.isEmpty()) {
        m_store->modifyParamItem(m_knobTable, m_knobKey, -delta, -1, zrnamespace::ModifyByItem);
        redrawFunctionKeys(m_group);
        return;
    }
    const QString key = m_store->mfkKey.value();
    if (!key.isEmpty() && !ui->labelMFK->isHidden())
        m_store->modifyParamItem(kW, key, -delta, -1, zrnamespace::ModifyByItem);
}

void MainWidget::mousePressEvent(QMouseEvent *event)
{
    qCDebug(logGui) << "mouse press" << event;
}

// ------------------------------------------------------- operating actions

void MainWidget::switchVM()
{
    if (!m_store)
        return;
    if (m_store->vm() == 1) {
        m_store->setVfoMemoMode(0);
        return;
    }
    if (!m_store->setVfoMemoMode(1))
        dispInfoLabel(QStringLiteral("CHANNEL MEMORY IS EMPTY"));
}

void MainWidget::saveVFO()
{
    if (!m_store)
        return;
    const int ch = m_store->paramItem(kW, QStringLiteral("chnum")).value.toInt();
    if (m_store->chItem(ch, 1).valid == 1) {
        dispInfoLabel(QStringLiteral("CH%1 ALREADY EXISTED").arg(ch));
        return;
    }
    zparam_memo_t memo = m_store->logicVfoMemo();
    memo.chtag.clear();
    m_store->saveChItem(ch, memo);
    m_store->updateChList();
    dispInfoLabel(QStringLiteral("SAVE VFO TO CH%1 OK").arg(ch));
}

// ------------------------------------------------------ transmit sources

void MainWidget::slot_civTrxStatus(int32_t flag)
{
    // The window never decides transmit itself: it forwards the request,
    // and the real state comes back from the board.
    zradio_set_civptt(uint8_t(flag & 0xFF));
    const int trx = m_store ? m_store->trxState.load() : 0;
    qCInfo(logGui) << "CIV TRX Trig," << flag << trx;
}

void MainWidget::slot_modemTrxReceiver(uint8_t trx)
{
    zradio_set_modem_trx(trx);
    qCInfo(logGui) << "modem trx:" << trx;
}

void MainWidget::slot_swrScanTrxReceiver(uint8_t trx)
{
    zradio_set_swrscan_trx(trx);
    qCInfo(logGui) << "swr scanner trx:" << trx;
}

void MainWidget::slot_calibrationTrxReceiver(uint8_t trx)
{
    zradio_set_calibration_trx(trx);
    qCInfo(logGui) << "calibration trx:" << trx;
}

void MainWidget::slot_swrScanNextPoint()
{
    m_swrPostPending = true;
}

void MainWidget::slot_chUpdateReceiver()
{
    // The channel list changed (a channel stored, renamed or cleared): the
    // memory line shows the new name with the next tick.
    m_chUpdated = true;
}

void MainWidget::slot_autoCwSendUpdate(QString)
{
}

void MainWidget::slot_appFatalErrorReset(int32_t err)
{
    qCCritical(logSystem) << "App fatal error, going to reset." << err;
    if (m_store)
        m_store->syncDatabase();
    QThread::sleep(1);
    QCoreApplication::exit(0);
}

// ------------------------------------------------------ CI-V requests

void MainWidget::slot_civSetTimeMinSec(int32_t min, int32_t sec)
{
    zrmisc_set_time_min_sec(min, sec);
}

void MainWidget::slot_civSetDate(int32_t year, int32_t month, int32_t day)
{
    zrmisc_set_date(year, month, day);
}

// The offset arrives as signed hours x 100 + minutes, positive east of UTC;
// the helper takes whole hours west of UTC ("Etc/GMT" zone names).
void MainWidget::slot_civSetUtcOffset(int32_t offset)
{
    zrmisc_set_utc_offset(-(offset / 100));
}

// 0 and 1 switch the tuner off and on; 2 starts a tuning run unless one
// is in progress.
void MainWidget::slot_civSetAtu(int32_t flag)
{
    if ((flag == 0 || flag == 1) && m_store)
        m_store->setParamItem(kW, QStringLiteral("atue"), int(flag));
    else if (flag == 2 && !m_atuTimer)
        startAtuTune();
}

// ------------------------------------------------------------ tuner run

void MainWidget::startAtuTune()
{
    m_atuTimer = new QTimer(this);
    connect(m_atuTimer, &QTimer::timeout, this, &MainWidget::slot_atuTune);
    m_atuState = 0;
    m_atuTimer->start(500);
}

// Every 500 ms of a run: the first tick asks the board to tune, the later
// ones wait for it to report the network it found, which is stored for the
// front frequency's segment and set.
void MainWidget::slot_atuTune()
{
    if (m_atuState == 0) {
        zradio_atu_tune(1);
        m_atuState = 1;
        m_disp.atuTuning = 1;
        qCInfo(logGui) << "atu started.";
        return;
    }
    if (zradio_get_atu_status() == 0)
        return;
    zradio_atu_tune(0);
    m_atuState = 0;
    if (m_atuTimer) {
        m_atuTimer->stop();
        m_atuTimer->deleteLater();
        m_atuTimer = nullptr;
    }
    zrnamespace::zatu_network_t net;
    zradio_get_atuparams(&net);
    if (m_store) {
        m_store->saveAtuNetworkInfo(m_store->vfoFront(QStringLiteral("freq")).value.toInt(), &net);
        m_store->setParamItem(kW, QStringLiteral("atue"), 1);
    }
    m_disp.atuTuning = 0;
    zradio_set_atu_network(&net);
    qCInfo(logGui).noquote() << QString::asprintf("atu finished,l=%d, c=%d, s=%d", net.l, net.c, net.s);
}

// --------------------------------------------------------------- wireless

// Every second from the clock; NetworkManager is asked on the first call
// and every tenth after.
void MainWidget::slot_networkMonitor()
{
    if (m_wifi)
        m_wifi->networkMonitor(m_nmClient);
}

void MainWidget::slot_apRssiChanged(int rssi, bool hasInternet)
{
    if (m_wifi)
        m_wifi->apRssiChanged(rssi, hasInternet);
}

void MainWidget::slot_bluetoothMonitor()
{
    zwireless::updateBluetoothIndicator(ui->pushButton_Bluetooth, m_bluetooth);
}

void MainWidget::onWirelessStatusPipeReady()
{
    if (m_wirelessStatusFd < 0 || !m_wifi)
        return;
    for (const QVariantMap &status : zwireless::readAndParseJsonLines(m_wirelessStatusFd, m_wirelessStatusBuffer))
        m_wifi->applyStatus(status);
}

void MainWidget::accessPointAdded(QString ssid, int rssi)
{
    qCDebug(logGui) << "[DBG] Access Point Added" << ssid << rssi;
}

bool MainWidget::sendWirelessCommand(const QJsonObject &command)
{
    return zwireless::sendWirelessCommand(command);
}

void MainWidget::onAccessPointAdded(NMDeviceWifi *device, NMAccessPoint *ap, void *window)
{
    zwireless::onAccessPointAdded(device, ap, window);
}

QList<QVariantMap> MainWidget::readAndParseJsonLines(int fd, QByteArray &buffer)
{
    return zwireless::readAndParseJsonLines(fd, buffer);
}
