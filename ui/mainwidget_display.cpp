// The operating display: the screen's layout, both VFO lines and the
// memory view, tag buttons, knob readouts, RIT/XIT, icons, the info pop-up,
// the clock, supply and battery, the power-source check and the low-battery
// shutdown. Everything is redrawn only when the value it shows changed.
#include "ui/mainwidget.h"
#include "ui_mainwidget.h"

#include "app/zlog.h"
#include "app/zqrc.h"
#include "app/zsystem.h"
#include "app/zutilites.h"
#include "params/zparamadmin.h"
#include "radio/zradio.h"
#include "spectrum/zscopegl.h"
#include "ui/zbarmeter.h"
#include "ui/zdrawscope.h"
#include "ui/ztwinfilterwidget.h"
#include "ui/zvfofrequencywidget.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
const QString kW = QStringLiteral("wparam");

QString vfoTagStyle(bool on)
{
    static const QString enable = ZQRC::getQssFromQrcFile(QStringLiteral(":/vfotagbutton_enable.qss"));
    static const QString disable = ZQRC::getQssFromQrcFile(QStringLiteral(":/vfotagbutton_disable.qss"));
    return on ? enable : disable;
}

// Sets a widget's text only when it differs (a label re-lays out its rich
// text on every call).
template <typename W>
void setTextIfChanged(W *w, const QString &text)
{
    if (w && w->text() != text)
        w->setText(text);
}

template <typename W>
void setStyleIfChanged(W *w, const QString &style)
{
    if (w && w->styleSheet() != style)
        w->setStyleSheet(style);
}
} // namespace

QString MainWidget::tagEnableStyle()
{
    return ZQRC::getQssFromQrcFile(QStringLiteral(":/tagbutton_enable.qss"));
}

QString MainWidget::tagDisableStyle()
{
    return ZQRC::getQssFromQrcFile(QStringLiteral(":/tagbutton_disable.qss"));
}

QString MainWidget::batteryStyle(int capacity)
{
    const char *color = capacity <= 39 ? "red" : capacity <= 59 ? "yellow" : "white";
    return QStringLiteral("QPushButton{border:0px;color:%1;background:rgba(0,0,0,0);}")
        .arg(QLatin1String(color));
}

// The info pop-up: light blue, translucent, rounded; its font inside the
// rule (a declaration after the closing brace would not parse).
QString MainWidget::infoLabelStyle()
{
    return QStringLiteral("QLabel{border:0px;border-radius:8px;padding:2px;background-color:rgba(0,190,255,180);"
                          "qproperty-alignment:AlignCenter;color:white;"
                          "font-family:Ubuntu Mono;font-size:20pt;font-weight:normal;}");
}

QChar MainWidget::batteryGlyph(int capacity)
{
    if (capacity >= 80)
        return QChar(0xF240);
    if (capacity >= 60)
        return QChar(0xF241);
    if (capacity >= 40)
        return QChar(0xF242);
    if (capacity >= 20)
        return QChar(0xF243);
    return QChar(0xF244);
}

// Steps 9 and 10 of the construction: the readouts, meters, labels and the
// filter view, placed around the rows of the form.
void MainWidget::buildScreen()
{
    // Main VFO readout: eight digits, the tuning-step digit inverted; the
    // memory label covers it in memory mode.
    m_mainVfo = new ZVFOFrequencyWidget(this, 8);
    QFont big(QStringLiteral("Bahnschrift SemiBold SemiConden"), 42);
    big.setWeight(75);
    m_mainVfo->setFont(big);
    m_mainVfo->move(10, 36);
    m_mainVfo->redraw();
    m_memoryLabel = new QLabel(this);
    m_memoryLabel->setObjectName(QStringLiteral("labelMemory"));
    m_memoryLabel->setGeometry(4, 32, 378, 56);
    m_memoryLabel->setAlignment(Qt::AlignCenter);
    m_memoryLabel->hide();

    // Meters 11 pixels below the front VFO line, at its left edge.
    const QRect line = ui->horizontalLayoutWidget_3->geometry();
    m_sMeter = new ZBarMeter(this, 230, 22);
    m_sMeter->setObjectName(QStringLiteral("sMeter"));
    m_sMeter->move(line.left(), line.bottom() + 1 + 11);
    m_sMeter->setRange(0, 100);
    m_sMeter->setBarProps(0, 2, 3, 3, QStringLiteral("rgb(0,200,255)"), 3, 0);
    setMeterScale(false);
    m_swrMeter = new ZBarMeter(this, 120, 22);
    m_swrMeter->setObjectName(QStringLiteral("swrMeter"));
    m_swrMeter->move(m_sMeter->x() + m_sMeter->width() + 21, m_sMeter->y());
    m_swrMeter->setRange(0, 100);
    m_swrMeter->setScale({0.0f, 0.25f, 0.5f, 1.0f},
                         {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral(">5")});
    m_swrMeter->setTickColors({Qt::white, QColor(255, 255, 0), QColor(255, 0, 0), QColor(255, 0, 0)});
    m_swrMeter->setBarProps(0, 2, 3, 3, QStringLiteral("rgb(255,100,0)"), 3, 0);
    m_swrMeter->hide();

    ui->pushButton_frontVI->setMinimumSize(28, 28);

    // Sub VFO readout inside its frame, without a tuning-step mark.
    m_subVfo = new ZVFOFrequencyWidget(ui->frameBackVFO, 8);
    QFont small(QStringLiteral("Bahnschrift SemiBold SemiConden"), 18);
    small.setWeight(50);
    m_subVfo->setFont(small);
    m_subVfo->setTuneStep(-1);
    m_subVfo->move(26, 7);
    m_subVfo->redraw();

    dispRitXitLabel(0, 0, 0);

    // The info pop-up, centred over the screen when it shows.
    m_infoLabel = new QLabel(this);
    m_infoLabel->setObjectName(QStringLiteral("labelInfo"));
    m_infoLabel->setStyleSheet(infoLabelStyle());
    m_infoLabel->hide();

    QFont knobFont(QStringLiteral("Bahnschrift"), 16);
    ui->labelVolum->setFont(knobFont);
    ui->labelVolum->setAlignment(Qt::AlignCenter);
    ui->labelMFK->setFont(knobFont);
    ui->labelMFK->setAlignment(Qt::AlignCenter);
    ui->labelMFK->setFocusPolicy(Qt::StrongFocus);

    ui->labelFullbandTxe->move(5, 5);
    ui->labelFullbandTxe->setVisible(m_store && m_store->bandPlan().fullbandTx());
    ui->horizontalLayoutWidget_4->setGeometry(295, 2, 503, 30);

    // 10. The filter view below the back VFO's frame.
    const QRect back = ui->frameBackVFO->geometry();
    m_filterView = new ZTwinFilterWidget(this);
    m_filterView->setObjectName(QStringLiteral("twinFilter"));
    m_filterView->setGeometry(back.left(), back.bottom() + 4, back.width(), 175 - back.bottom() - 4);
    if (m_store) {
        const ztwinfilter_t f = m_store->twinFilter();
        m_filterView->setRange(f.limits.low, f.limits.high);
        m_filterView->setPassBands(f.fp1, f.fp2);
        m_filterView->setEditedBand(f.index);
        m_filterView->setName(QStringLiteral("FIL%1").arg(m_store->twinFilterGroupIndex() + 1));
    }
}

void MainWidget::setMeterScale(bool transmitting)
{
    if (transmitting) {
        m_sMeter->setScale({0.0f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.8f, 0.9f, 1.0f},
                           {QStringLiteral("P"), QStringLiteral("1"), QStringLiteral(" "), QStringLiteral("3"),
                            QStringLiteral(" "), QStringLiteral("5"), QStringLiteral(" "), QStringLiteral("7"),
                            QStringLiteral(" "), QStringLiteral(" "), QStringLiteral("10")});
    } else {
        m_sMeter->setScale({0.0f, 0.11f, 0.22f, 0.33f, 0.44f, 0.54f, 0.63f, 0.73f, 0.82f, 0.91f, 1.0f},
                           {QStringLiteral("S"), QStringLiteral("3"), QStringLiteral("5"), QStringLiteral("7"),
                            QStringLiteral("9"), QStringLiteral(" "), QStringLiteral("+20"), QStringLiteral(" "),
                            QStringLiteral("+40"), QStringLiteral(" "), QStringLiteral("+60")});
    }
    const QColor w(255, 255, 255), y(255, 255, 0), r(255, 0, 0);
    m_sMeter->setTickColors({w, w, w, w, w, w, y, w, y, w, r});
}

// ------------------------------------------------------------ tag buttons

void MainWidget::showTagButton(QPushButton *button, bool on)
{
    if (button)
        button->setStyleSheet(on ? m_tagEnable : m_tagDisable);
}

void MainWidget::updateTagButtons()
{
    for (button_map_t &t : m_tagButtons) {
        const int v = m_store->paramItem(kW, t.key).value.toInt();
        if (v == t.last)
            continue;
        t.last = v;
        showTagButton(t.button, v != 0);
        if (t.key == QLatin1String("sple"))
            m_split = v;
    }
}

// ------------------------------------------------------------ VFO lines

void MainWidget::updateVfoItems(bool trxChanged)
{
    ZParamAdmin *s = m_store;
    disp_item_t &d = m_disp;
    bool redraw = trxChanged;
    auto cmp = [&redraw](int &cached, int now, bool inRedrawSet) {
        if (cached == now)
            return false;
        cached = now;
        redraw |= inRedrawSet;
        return true;
    };
    cmp(d.vm, s->vm(), true);
    cmp(d.vi, s->vfoIndex(), true);
    cmp(d.ts, s->tuneStep(), true);
    cmp(d.channel, s->chNum(), true);
    const int centre = s->paramItem(kW, QStringLiteral("center_mode")).value.toInt();
    if (uint8_t(centre) != d.centerMode) {
        d.centerMode = uint8_t(centre);
        m_scope->setCenterMode(centre != 0);
        redraw = true;
    }
    const bool freqChanged = cmp(d.frontFreq, s->vfoFront(QStringLiteral("freq")).value.toInt(), true);
    if (cmp(d.frontMode, s->vfoFront(QStringLiteral("mode")).value.toInt(), true))
        m_modeChanged = true;
    cmp(d.frontAgc, s->vfoFront(QStringLiteral("agc")).value.toInt(), true);
    cmp(d.frontAtt, s->vfoFront(QStringLiteral("att")).value.toInt(), true);
    cmp(d.frontPre, s->vfoFront(QStringLiteral("pre")).value.toInt(), true);
    cmp(d.backFreq, s->vfoBack(QStringLiteral("freq")).value.toInt(), true);
    cmp(d.backMode, s->vfoBack(QStringLiteral("mode")).value.toInt(), false);
    cmp(d.backAgc, s->vfoBack(QStringLiteral("agc")).value.toInt(), false);
    cmp(d.backAtt, s->vfoBack(QStringLiteral("att")).value.toInt(), false);
    cmp(d.backPre, s->vfoBack(QStringLiteral("pre")).value.toInt(), false);
    if (freqChanged)
        frontFrequencyChanged();
    // The end of a tuning run brings the split display back (and its
    // start suspends it).
    if (d.atuTuning != m_shownAtuTuning) {
        m_shownAtuTuning = d.atuTuning;
        m_scopeSettingsChanged = true;
        redraw = true;
    }
    // A stored, renamed or cleared channel changes the memory line.
    if (m_chUpdated) {
        m_chUpdated = false;
        redraw |= d.vm == 1;
    }
    if (redraw) {
        showVfoMemoItems(d);
        s->updateBandstack();
    }
}

void MainWidget::showVfoMemoItems(disp_item_t &item)
{
    ZParamAdmin *s = m_store;
    if (!s)
        return;
    // 1. While transmitting in split (and not tuning) the transmitting VFO
    // is the large one.
    int frontFreq = item.frontFreq, frontMode = item.frontMode, frontAgc = item.frontAgc;
    int frontAtt = item.frontAtt, frontPre = item.frontPre;
    int backFreq = item.backFreq, backMode = item.backMode;
    int letter = item.vi;
    if (item.trx == 1 && m_split == 1 && item.atuTuning == 0) {
        std::swap(frontFreq, backFreq);
        std::swap(frontMode, backMode);
        frontAgc = item.backAgc;
        frontAtt = item.backAtt;
        frontPre = item.backPre;
        letter = letter ? 0 : 1;
    }

    // 2. The tuner network stored for the segment of the frequency shown
    // large (the transmitting one while transmitting in split).
    const int step = ZParamAdmin::atuSaveStep();
    const int slot = step == 0 ? 0 : step == -1 ? -frontFreq : frontFreq / step;
    if (slot != item.atuSlot) {
        item.atuSlot = slot;
        const zrnamespace::zatu_network_t net = s->atuNetworkInfo(frontFreq);
        zradio_set_atu_network(&net);
    }

    QPushButton *vi = ui->pushButton_frontVI;
    if (item.vm == 1) {
        // 3. Memory mode: the channel's name and frequency over the readout.
        m_mainVfo->hide();
        const QString slotName = s->chSlotName();
        QString name = s->currentChItem().chtag;
        if (name.isEmpty())
            name = slotName;
        const int f = qMax(0, frontFreq);
        const QString freq = QString::asprintf("%02d.%03d.%03d", f / 1000000, (f / 1000) % 1000, f % 1000);
        const QString html =
            QStringLiteral("<p align=\"center\"><span style=\" font-family:Ubuntu Condensed; font-size:32pt; "
                           "font-weight:normal;color:#ffffff;\">%1</span><span style=\" font-family:FontAwesome; "
                           "font-size:20pt; font-weight:normal; color:#00ffff;\"> ")
            + QChar(0xF0DA)
            + QStringLiteral("</span><span style=\" font-family:Ubuntu Condensed; font-size:20pt; "
                             "font-weight:normal; color:#00ffff;\">%2</span></p>");
        setTextIfChanged(m_memoryLabel, html.arg(name.toHtmlEscaped(), freq));
        if (m_memoryLabel->isHidden()) {
            m_memoryLabel->show();
            m_memoryLabel->raise();
        }
        setTextIfChanged(vi, slotName);
        vi->setMinimumWidth(int(1.1 * vi->fontMetrics().horizontalAdvance(slotName)) + 8);
    } else {
        // 4. VFO mode: the readout with the tuning step marked.
        if (!m_memoryLabel->isHidden())
            m_memoryLabel->hide();
        if (!m_freqEntry)
            m_mainVfo->show();
        m_mainVfo->setTuneStep(item.ts);
        m_mainVfo->setFrequency(uint32_t(qMax(0, frontFreq)));
        m_mainVfo->redraw();
        vi->setMinimumWidth(vi->minimumHeight());
        setTextIfChanged(vi, letter ? QStringLiteral("B") : QStringLiteral("A"));
    }

    // 5, 6. Tags, mode, AGC and filter of the front VFO.
    setStyleIfChanged(ui->pushButton_PRE, vfoTagStyle(frontPre != 0));
    setStyleIfChanged(ui->pushButton_ATT, vfoTagStyle(frontAtt != 0));
    setTextIfChanged(ui->pushButton_frontMode, ZParamAdmin::modeIndexToName(frontMode));
    static const char agc[] = {'-', 'S', 'F', 'A', 'U'};
    const char a = frontAgc >= 1 && frontAgc <= 4 ? agc[frontAgc] : '-';
    setTextIfChanged(ui->pushButton_frontAGC, QStringLiteral("AGC-") + QLatin1Char(a));
    setTextIfChanged(ui->pushButton_frontFilter, QStringLiteral("FIL%1").arg(s->twinFilterGroupIndex() + 1));

    // 7. The back VFO.
    setTextIfChanged(ui->pushButton_backVI, letter ? QStringLiteral("A") : QStringLiteral("B"));
    m_subVfo->setFrequency(uint32_t(qMax(0, backFreq)));
    m_subVfo->redraw();
    setTextIfChanged(ui->pushButton_backMode, ZParamAdmin::modeIndexToName(backMode));
}

// ------------------------------------------------------------ readouts

void MainWidget::updateVolumeReadout()
{
    if (m_radio && m_radio->volChanged.exchange(0))
        dispInfoLabel(QStringLiteral("VOLUM:%1").arg(m_store->rxVolum()));
    const int fn = m_radio ? m_radio->knobSelector.load() : 0;
    const int rxvol = m_store->paramItem(kW, QStringLiteral("rxvol")).value.toInt();
    const int sqlthr = m_store->paramItem(kW, QStringLiteral("sqlthr")).value.toInt();
    const int rfg = m_store->paramItem(kW, QStringLiteral("rfg")).value.toInt();
    if (fn == m_volFunction && rxvol == m_lastRxvol && sqlthr == m_lastSqlthr && rfg == m_lastRfg)
        return;
    m_volFunction = fn;
    m_lastRxvol = rxvol;
    m_lastSqlthr = sqlthr;
    m_lastRfg = rfg;
    QString tag;
    int value;
    switch (fn) {
    case 0:
        tag = QStringLiteral("VOLUME");
        value = rxvol;
        break;
    case 1:
        tag = QStringLiteral("SQL THR");
        value = sqlthr;
        break;
    case 2:
        tag = QStringLiteral("RF GAIN");
        value = rfg;
        break;
    default:
        return;
    }
    setTextIfChanged(ui->labelVolum,
                     QStringLiteral("<html><head/><body><span style=\" font-size:14pt; font-weight:normal; "
                                    "color:#ffffff;\">%1</span><br><span style=\" font-size:20pt; "
                                    "font-weight:bold; color:#ffffff\">%2</span></body></html>")
                         .arg(tag)
                         .arg(value));
}

void MainWidget::updateMfkReadout()
{
    const QString key = m_store->mfkKey.value();
    bool redraw = false;
    if (key != m_mfkShown) {
        m_mfkShown = key;
        redraw = true;
        m_store->modified.exchange(false);
    } else {
        redraw = m_store->modified.exchange(false);
    }
    if (!redraw)
        return;
    const zparam_item_t item = m_store->paramItem(kW, key);
    if (item.name != key || key.isEmpty())
        return;
    const QString value = item.valueForDisp();
    const int width = ui->labelMFK->width();
    const int tagSize = ZUtilites::autoFontSize(item.tag, QFont(QStringLiteral("Bahnschrift"), 16), width);
    QFont valueFont(QStringLiteral("Bahnschrift"), 20);
    valueFont.setWeight(75);
    const int valueSize = ZUtilites::autoFontSize(value, valueFont, width);
    setTextIfChanged(ui->labelMFK,
                     QStringLiteral("<html><head/><body><span style=\" font-size:%1pt; font-weight:normal; "
                                    "color:#ffffff;\">%2</span><br><span style=\" font-size:%3pt; "
                                    "font-weight:bold; color:#ffffff\">%4</span></body></html>")
                         .arg(tagSize)
                         .arg(item.tag.toHtmlEscaped())
                         .arg(valueSize)
                         .arg(value.toHtmlEscaped()));
}

void MainWidget::dispRitXitLabel(int trx, int rit, int xit)
{
    const QString head = trx ? QStringLiteral("XIT") : QStringLiteral("RIT");
    const int v = trx ? xit : rit;
    setTextIfChanged(ui->labelRitXit,
                     QStringLiteral("<span style= \"font-family:Ubuntu Mono;font-size:20pt;font-weight:bold;"
                                    "color:#ffffff;\">")
                         + head
                         + QStringLiteral("<span style= \"font-family:Ubuntu Mono;font-size:18pt;"
                                          "font-weight:normal;color:#ffffff;\"><br>")
                         + QString::asprintf("%+d Hz", v));
}

void MainWidget::showIconLock(int locked)
{
    setTextIfChanged(ui->pushButton_Lock, QString(QChar(locked ? 0xF023 : 0xF09C)));
}

void MainWidget::showIconSpeakPhone(int speaker)
{
    setTextIfChanged(ui->pushButton_SP, QString(QChar(speaker ? 0xF028 : 0xF025)));
}

// ------------------------------------------------------------ info pop-up

void MainWidget::dispInfoLabel(const QString &text)
{
    if (!m_infoTimer) {
        m_infoTimer = new QTimer(this);
        m_infoTimer->setSingleShot(true);
        connect(m_infoTimer, &QTimer::timeout, this, &MainWidget::slot_infoLabelHide);
    }
    m_infoTimer->start(1000);
    m_infoLabel->ensurePolished();
    const QRect r = m_infoLabel->fontMetrics().boundingRect(m_infoLabel->rect(), Qt::AlignCenter, text);
    const int w = qMin(width() - 8, r.width() + 21);
    const int h = r.height() + 21;
    m_infoLabel->resize(w, h);
    m_infoLabel->move((width() - w) / 2 - 1, (height() - h) / 2 - 1);
    m_infoLabel->setText(text);
    if (m_infoLabel->isHidden()) {
        m_infoLabel->show();
        m_infoLabel->raise();
    }
}

void MainWidget::slot_infoLabelHide()
{
    if (m_infoTimer)
        m_infoTimer->stop();
    m_infoLabel->hide();
}

// --------------------------------------------------- levels and icons

void MainWidget::updateLevelsAndIcons(bool trxChanged)
{
    ZParamAdmin *s = m_store;
    disp_item_t &d = m_disp;
    auto item = [s](const char *k) { return s->paramItem(kW, QLatin1String(k)).value.toInt(); };

    const int fftave = item("fftave");
    if (fftave != d.fftave) {
        d.fftave = fftave;
        m_scope->setAverage(0.9f - 0.05f * float(fftave));
    }
    const int fftref = item("fftref");
    if (fftref != d.fftref) {
        d.fftref = fftref;
        m_scope->setLevelOffset(float(fftref));
    }
    const int wfref = item("wfref");
    if (wfref != d.wfref) {
        d.wfref = wfref;
        m_scope->setWaterfallOffset(float(wfref));
    }
    const int affftave = item("affftave");
    if (affftave != d.affftave) {
        d.affftave = affftave;
        m_audioScope->setAverage(0.85f - 0.05f * float(qBound(0, affftave, 10)));
    }
    const int affftref = item("affftref");
    if (affftref != d.affftref) {
        d.affftref = affftref;
        m_audioScope->setReferenceLevel(float(affftref));
    }
    const int bllevel = item("bllevel");
    if (bllevel != d.bllevel) {
        d.bllevel = bllevel;
        zradio_update_backlight();
    }
    const int lock = item("lock");
    if (lock != d.lock) {
        d.lock = lock;
        showIconLock(lock);
    }
    const int rit = item("rit");
    const int xit = item("xit");
    if (rit != d.rit || xit != d.xit || trxChanged) {
        d.rit = rit;
        d.xit = xit;
        dispRitXitLabel(d.trx == 1 ? 1 : 0, rit, xit);
    }
    // The WiFi and Bluetooth enables go to the wireless daemon when they
    // change (both on the first full tick).
    m_wirelessEnables.update(item("wifien"), item("bten"));
}

// ------------------------------------------------------------ the clock

void MainWidget::slot_rtcUpdate()
{
    // 1. Local time and UTC.
    const QDateTime now = QDateTime::currentDateTime();
    setTextIfChanged(ui->labelTime,
                     QStringLiteral("<span style= \"font-family:Ubuntu Mono;font-size:20pt;font-weight:bold;"
                                    "color:#ffffff;\">")
                         + now.toString(QStringLiteral("hh:mm:ss  "))
                         + QStringLiteral("<span style= \"font-family:Ubuntu Mono;font-size:18pt;"
                                          "font-weight:normal;color:#efefef;\"><br>UTC ")
                         + now.toUTC().toString(QStringLiteral("hh:mm")));

    if (m_disp.dataFlag != 0 && m_store) {
        // 2. Supply voltage, also for the CAT interpreter.
        const float v = qMax(zradio_get_report_vext(), zradio_get_report_vbat());
        setTextIfChanged(ui->pushButton_Battery, QString::asprintf("%.1fV", double(v)));
        m_store->vsupply.store(v);
        // 3. Power source.
        supplyCheck();
        // 4. Charging.
        const bool charging = m_store->paramItem(kW, QStringLiteral("chge")).value.toInt() != 0
            && zradio_get_chgflag() != 0;
        m_store->charging.store(charging ? 1 : 0);
        const QString prefix = charging ? QString(QChar(0xF0E7)) + QLatin1Char(' ') : QString();
        // 5. Battery glyph and colour.
        const int cap = zradio_get_report_batcap();
        setTextIfChanged(ui->pushButton_Charge, prefix + batteryGlyph(cap));
        setStyleIfChanged(ui->pushButton_Charge, batteryStyle(cap));
        // 6. Low battery.
        const int left = zsupply_check_battery(&m_supply, cap, zradio_get_report_vbat(), zradio_comm_valid() != 0);
        if (left >= 0)
            dispInfoLabel(QStringLiteral("LOW BATTERY, POWER DOWN IN %1S").arg(left));
        if (left == 0) {
            qCCritical(logSystem) << "Low battery power off";
            zradio_poweroff();
        }
        // 7.
        if (ui->pushButton_Battery->isHidden())
            ui->pushButton_Battery->show();
        if (ui->pushButton_Charge->isHidden())
            ui->pushButton_Charge->show();
    } else {
        setTextIfChanged(ui->pushButton_Battery, QStringLiteral("--"));
        ui->pushButton_Charge->hide();
    }
    // 8. WiFi and Bluetooth indicators.
    slot_networkMonitor();
    slot_bluetoothMonitor();
    // 9. The network server's icon while it runs.
    const bool server = QFileInfo::exists(zsys::path(QStringLiteral("/var/run/wfserver.pid")));
    if (ui->pushButton_WfServer->isVisible() != server)
        ui->pushButton_WfServer->setVisible(server);
}

// The transmit limit and the backlight cap follow the supply: 10 W on the
// external supply, 5 W and half the backlight range on battery.
void MainWidget::supplyCheck()
{
    if (!zsupply_check_source(&m_supply, zradio_get_vextflag() != 0))
        return;
    if (m_supply.extPower) {
        m_store->setTxPowerMax(10.0f);
        return;
    }
    m_store->setTxPowerMax(5.0f);
    const int half = m_backlightMax / 2;
    if (m_store->paramItem(kW, QStringLiteral("bllevel")).value.toInt() > half)
        m_store->setParamItem(kW, QStringLiteral("bllevel"), half);
}
