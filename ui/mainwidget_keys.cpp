// Function keys and knob groups: the group table, the key faces, the knob
// target, clicks, the group keys with their pages; and what a released key
// opens, how the panel is placed, toggled and closed.
#include "ui/mainwidget.h"
#include "ui_mainwidget.h"

#include "app/zlog.h"
#include "audio/dialogvoicecall.h"
#include "audio/dialogvoicerec.h"
#include "audio/zvoiceplayer.h"
#include "modem/dialogmodem.h"
#include "params/zparamadmin.h"
#include "radio/uifwupgrade.h"
#include "radio/zradio.h"
#include "spectrum/zscopegl.h"
#include "ui/dialogswrscanner.h"
#include "ui/zradiochsetting.h"
#include "ui/zradiofiltersetting.h"
#include "ui/zradiosetting.h"
#include "ui/zradiosystemsetting.h"
#include "ui/ztexteditor.h"
#include "wireless/dialogbluetoothsetting.h"
#include "wireless/dialogwlansetting.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>

namespace {
const QString kW = QStringLiteral("wparam");
const int kPerPage = 5;
} // namespace

// --------------------------------------------------------------- groups

void MainWidget::mfkGroupInit()
{
    m_groups.clear();
    // 0 (GEN): settings panels, opened on release.
    m_groups.append(mfkgroup_t({{QStringLiteral("RADIO\nSETTING1"), QString()},
                                {QStringLiteral("RADIO\nSETTING2"), QString()},
                                {QStringLiteral("DISPLAY\nSETTING"), QString()},
                                {QStringLiteral("SYSTEM\nSETTING"), QString()},
                                {QStringLiteral("MEMORY\nEDIT"), QString()}},
                               kPerPage));
    // 1 (APP): the service dialogs.
    m_groups.append(mfkgroup_t({{QStringLiteral("MODEM"), QString()},
                                {QStringLiteral("SWR SCAN"), QString()},
                                {QStringLiteral("VOICE CALL"), QString()},
                                {QString(), QString()},
                                {QString(), QString()}},
                               kPerPage));
    // 2 (KEY): keyer settings on the knob.
    m_groups.append(mfkgroup_t({{QStringLiteral("<1>KEY TYPE"), QStringLiteral("wparam,km")},
                                {QStringLiteral("KEY SPEED"), QStringLiteral("wparam,ks")},
                                {QStringLiteral("IAMBIC"), QStringLiteral("wparam,kimb")},
                                {QStringLiteral("TONE"), QStringLiteral("wparam,cwtone")},
                                {QStringLiteral("TONE LEVEL"), QStringLiteral("wparam,cwvol")},
                                {QStringLiteral("<2>QSK TIME"), QStringLiteral("wparam,qsktime")},
                                {QStringLiteral("DI/DA RATIO"), QStringLiteral("wparam,kr")},
                                {QStringLiteral("CW TRAINER"), QStringLiteral("wparam,cwtrain")}},
                               kPerPage));
    // 3 (MSG): CW message texts, then voice messages.
    m_groups.append(mfkgroup_t({{QStringLiteral("<1> MGS 1"), QStringLiteral("wparam,msg01")},
                                {QStringLiteral("MGS 2"), QStringLiteral("wparam,msg02")},
                                {QStringLiteral("MGS 3"), QStringLiteral("wparam,msg03")},
                                {QStringLiteral("MGS 4"), QStringLiteral("wparam,msg04")},
                                {QStringLiteral("MGS 5"), QStringLiteral("wparam,msg05")},
                                {QStringLiteral("<2> MGS 1"), QStringLiteral("VOICE")},
                                {QStringLiteral("MGS 2"), QStringLiteral("VOICE")},
                                {QStringLiteral("MGS 3"), QStringLiteral("VOICE")},
                                {QStringLiteral("MGS 4"), QStringLiteral("VOICE")},
                                {QStringLiteral("MGS 5"), QStringLiteral("VOICE")}},
                               kPerPage));
    // 4 (DFN): noise reduction, blanker and notch on the knob.
    m_groups.append(mfkgroup_t({{QStringLiteral("<1> NR   "), QStringLiteral("wparam,nre")},
                                {QStringLiteral("NR DEPTH"), QStringLiteral("wparam,nrthr")},
                                {QStringLiteral("NB"), QStringLiteral("wparam,nbe")},
                                {QStringLiteral("NB WIDTH"), QStringLiteral("wparam,nbw")},
                                {QStringLiteral("NB LEVEL"), QStringLiteral("wparam,nbthr")},
                                {QStringLiteral("<2> DNF  "), QStringLiteral("wparam,dnfe")},
                                {QStringLiteral("DNF CENTER"), QStringLiteral("wparam,dnfcnt")},
                                {QStringLiteral("DNF WIDTH"), QStringLiteral("wparam,dnfwidth")}},
                               kPerPage));
}

QPushButton *MainWidget::getFunctionKey(int i) const
{
    switch (i) {
    case 0:
        return ui->pushButton_F1;
    case 1:
        return ui->pushButton_F2;
    case 2:
        return ui->pushButton_F3;
    case 3:
        return ui->pushButton_F4;
    case 4:
        return ui->pushButton_F5;
    default:
        return nullptr;
    }
}

int MainWidget::functionKeyIndex(QObject *button) const
{
    for (int i = 0; i < 5; ++i)
        if (getFunctionKey(i) == button)
            return i;
    return -1;
}

// The window's focus widget is the key that the window gives the focus to
// when it is active, also while a panel is the active window.
int MainWidget::mfkIndex() const
{
    return functionKeyIndex(focusWidget());
}

// ------------------------------------------------------------ key faces

void MainWidget::slot_updateFunctionButtons(int fbidx, QString tag, QString param)
{
    const int k = fbidx >= 1 && fbidx <= 4 ? fbidx : 0;
    QPushButton *b = getFunctionKey(k);
    m_faceTag[k] = tag;
    m_faceValue[k] = param;
    const int w = b->width();
    const int h = b->height();
    QPixmap pix(w, h);
    pix.fill(Qt::transparent);
    {
        QPainter p(&pix);
        p.setPen(Qt::white);
        QFont f(QStringLiteral("DejaVu Sans Mono"), 16);
        f.setBold(true);
        p.setFont(f);
        if (param.isEmpty()) {
            p.drawText(QRect(0, 0, w, h), Qt::AlignCenter, tag);
        } else {
            const int half = h / 2;
            p.drawText(QRect(QPoint(0, 3), QPoint(w - 1, half + 1)), Qt::AlignCenter, tag);
            f.setBold(false);
            p.setFont(f);
            p.drawText(QRect(QPoint(0, half + 2), QPoint(w - 1, 2 * half)), Qt::AlignCenter, param);
        }
    }
    b->setText(QString());
    b->setIcon(QIcon(pix));
    b->setIconSize(pix.size());
}

void MainWidget::redrawFunctionKeys(int g)
{
    if (g < 0 || g >= m_groups.size())
        return;
    const mfkgroup_t &group = m_groups.at(g);
    int target = -1;
    for (int i = 0; i < kPerPage; ++i) {
        const QStringList names = group.dbTableParamNames(i);
        QString value;
        if (names.size() < 2) {
            value = group.keyParamString(i);
        } else if (!names.at(1).isEmpty() && m_store) {
            const QString key = names.at(1);
            const zparam_item_t item = m_store->paramItem(names.at(0), key);
            if (key.contains(QLatin1String("msg"), Qt::CaseInsensitive)
                || key.contains(QLatin1String("text"), Qt::CaseInsensitive)) {
                value = item.value.toString();
                if (value.isEmpty())
                    value = QStringLiteral("<EMPTY>");
                else if (value.size() >= 8)
                    value = value.left(8) + QStringLiteral("...");
            } else {
                value = item.valueForDisp();
            }
        }
        const mfkitem_t *it = group.item(i);
        slot_updateFunctionButtons(i, it ? it->tag : QString(), value);
        if (i == group.selected && names.size() == 2) {
            m_knobTable = names.at(0);
            m_knobKey = names.at(1);
            target = i;
        }
    }
    if (target >= 0) {
        getFunctionKey(target)->setFocus(Qt::OtherFocusReason);
    } else {
        m_knobTable.clear();
        m_knobKey.clear();
        ui->labelMFK->setFocus(Qt::OtherFocusReason);
    }
}

void MainWidget::restoreFunctionKeys()
{
    redrawFunctionKeys(m_group);
}

void MainWidget::checkFunctionKeys(int g, int k)
{
    if (g < 0 || g >= m_groups.size() || k < 0 || k > 4)
        return;
    mfkgroup_t &group = m_groups[g];
    const QStringList names = group.dbTableParamNames(k);
    if (names.size() < 2) {
        ui->labelMFK->setFocus(Qt::OtherFocusReason);
        m_knobTable.clear();
        m_knobKey.clear();
    } else {
        getFunctionKey(k)->setFocus(Qt::OtherFocusReason);
        m_knobTable = names.at(0);
        m_knobKey = names.at(1);
    }
    group.selected = k;
    if (m_knobTable.isEmpty() || m_knobKey.isEmpty() || !m_store)
        return;
    // Two- to four-valued items step with each click; others only become
    // the knob's target.
    const zparam_item_t item = m_store->paramItem(m_knobTable, m_knobKey);
    const int span = item.max.toInt() - item.min.toInt();
    if (span >= 1 && span <= 3) {
        m_store->modifyParamItem(m_knobTable, m_knobKey, 1, 1, zrnamespace::ModifyWrap);
        redrawFunctionKeys(m_group);
    }
}

void MainWidget::slot_functionKeysClick()
{
    const int k = functionKeyIndex(sender());
    if (k >= 0)
        checkFunctionKeys(m_group, k);
}

// ------------------------------------------------------------ group keys

void MainWidget::slot_adminDirectCallKeys(QKeyEvent *event)
{
    if (!event || event->type() != QEvent::KeyPress || event->modifiers() != Qt::ControlModifier)
        return;
    const int key = event->key();
    if (key >= Qt::Key_1 && key <= Qt::Key_5) {
        const int g = key - Qt::Key_1;
        m_group = g;
        // The key of the group already shown turns its page.
        if (g == m_prevGroup && g < m_groups.size())
            m_groups[g].nextPage();
        redrawFunctionKeys(g);
        m_prevGroup = g;
    } else if (key == Qt::Key_6) {
        openFilterSettings();
    }
}

// ------------------------------------------------------------ launching

const MainWidget::launch_row_t MainWidget::kLaunchRows[] = {
    {0, -1, 0, &MainWidget::launchRadioSetting},
    {0, -1, 1, &MainWidget::launchRadioSetting},
    {0, -1, 2, &MainWidget::launchDisplaySettings},
    {0, -1, 3, &MainWidget::launchSystemMenu},
    {0, -1, 4, &MainWidget::launchChannelEditor},
    {1, -1, 0, &MainWidget::launchModem},
    {1, -1, 1, &MainWidget::launchSwrScanner},
    {1, -1, 2, &MainWidget::launchVoiceCall},
    {3, 0, -1, &MainWidget::launchMessageText},
    {3, 1, -1, &MainWidget::launchVoiceMessage},
};

void MainWidget::slot_functionKeysRelease()
{
    const int k = functionKeyIndex(sender());
    if (k < 0 || m_group < 0 || m_group >= m_groups.size())
        return;
    const int page = m_groups.at(m_group).page;
    for (const launch_row_t &row : kLaunchRows) {
        if (row.group == m_group && (row.page < 0 || row.page == page) && (row.key < 0 || row.key == k)) {
            (this->*row.fn)(k);
            return;
        }
    }
}

QRect MainWidget::scopeRect() const
{
    return QRect(mapToGlobal(m_scopeRect.topLeft()), m_scopeRect.size());
}

QRect MainWidget::windowRect() const
{
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

QDialog *MainWidget::radioSettingPanel() const
{
    return m_radioSetting.data();
}

QDialog *MainWidget::displaySettingsPanel() const
{
    return m_displaySettings.data();
}

// Non-modal panels: closing them by any means redraws the keys.
void MainWidget::placePanel(QDialog *panel)
{
    connect(panel, &QObject::destroyed, this, &MainWidget::slot_panelDestroy);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void MainWidget::slot_panelDestroy(QObject *obj)
{
    qCInfo(logGui) << "Panel destroyed," << (obj ? obj->objectName() : QString());
    if (m_radio) {
        m_radio->modeChanged.store(0);
        m_radio->volChanged.store(0);
    }
    restoreFunctionKeys();
    regainActivation();
}

// Front-panel events go to the active window: once a panel has gone the
// operating screen takes them again (without a window manager nothing else
// would make it active).
void MainWidget::regainActivation()
{
    if (isVisible())
        activateWindow();
}

void MainWidget::toggleRadioSetting(int page)
{
    // Either key closes an open panel, whichever page it shows.
    if (m_radioSetting) {
        m_radioSetting->deleteLater();
        return;
    }
    const QRect a = scopeRect();
    m_radioSetting = new ZRadioSetting(this, m_store, page, a.x(), a.y(), a.width(), a.height());
    placePanel(m_radioSetting);
}

void MainWidget::toggleDisplaySettings()
{
    if (m_displaySettings) {
        m_displaySettings->deleteLater();
        return;
    }
    const QRect a = scopeRect();
    const QRect w = windowRect();
    m_displaySettings = new ZRadioDisplaySettings(this, m_store, a.x(), a.y(), w.width(), w.bottom() - a.y() + 1);
    placePanel(m_displaySettings);
}

void MainWidget::openChannelEditor()
{
    if (m_chEditor) {
        m_chEditor->deleteLater();
        return;
    }
    const QRect a = scopeRect();
    const QRect w = windowRect();
    QDialog *editor = createChannelEditor(QRect(a.x(), a.y() - 50, w.width(), w.bottom() - a.y() + 51));
    if (!editor)
        return;
    m_chEditor = editor;
    placePanel(editor);
}

void MainWidget::openFilterSettings()
{
    if (m_filterPanel)
        return;
    const QRect a = scopeRect();
    const QRect w = windowRect();
    QDialog *panel = createFilterSettings(QRect(a.x(), a.y(), w.width(), w.bottom() - a.y() + 1));
    if (!panel)
        return;
    m_filterPanel = panel;
    panel->exec();
    panel->deleteLater();
    restoreFunctionKeys();
    regainActivation();
}

void MainWidget::openSystemMenu()
{
    QDialog *menu = createSystemMenu(windowRect());
    if (!menu)
        return;
    connect(menu, &QObject::destroyed, this, &MainWidget::slot_panelDestroy);
    menu->exec();
    menu->deleteLater();
    regainActivation();
}

void MainWidget::openModemDialog()
{
    const QRect a = scopeRect();
    const QRect w = windowRect();
    const int top = a.y() + int(m_scopeRect.height() * 0.35);
    QDialog *modem = createModemDialog(QRect(a.x(), top, 800, w.bottom() - top + 1));
    if (!modem)
        return;
    enterModemLayout();
    modem->exec();
    modem->deleteLater();
    leaveModemLayout();
    regainActivation();
}

void MainWidget::openSwrScanner()
{
    const QRect a = scopeRect();
    const QRect w = windowRect();
    QDialog *scanner = createSwrScanner(QRect(a.x(), a.y(), 800, w.bottom() - a.y() + 1));
    if (!scanner)
        return;
    scanner->exec();
    scanner->deleteLater();
    regainActivation();
}

void MainWidget::openVoiceCall()
{
    const QRect a = scopeRect();
    const QRect w = windowRect();
    const int top = w.y() + 380;
    QDialog *call = createVoiceCall(QRect(a.x(), top, 800, w.bottom() - top + 1));
    if (!call)
        return;
    call->exec();
    call->deleteLater();
    regainActivation();
}

void MainWidget::editMessageText(int index)
{
    if (!m_store || index < 0 || index > 4)
        return;
    const QString key = QString::asprintf("msg%02d", index + 1);
    QString text = m_store->paramItem(kW, key).value.toString();
    if (!editText(QStringLiteral("MSG %1").arg(index + 1), &text))
        return;
    m_store->setParamItem(kW, key, text);
    redrawFunctionKeys(m_group);
    qCInfo(logGui) << "text saved." << text;
}

void MainWidget::recordVoiceMessage(int index)
{
    if (index < 0 || index > 4)
        return;
    zradio_set_voice_recorde(1);
    QDialog *rec = createVoiceRecorder(windowRect(), zvoice_message_name(index + 1));
    if (rec) {
        rec->exec();
        rec->deleteLater();
        regainActivation();
    }
    zradio_set_voice_recorde(0);
}

QDialog *MainWidget::createModemDialog(const QRect &area)
{
    auto *modem = new DialogModem(this, m_store, area.x(), area.y(), area.width(), area.height());
    connect(modem, &DialogModem::sig_setTrxStatus, this, &MainWidget::slot_modemTrxReceiver);
    modem->setAudioScope(m_audioScope);
    return modem;
}

// ------------------------------------------------------ the dialogs

QDialog *MainWidget::createChannelEditor(const QRect &area)
{
    return new ZRadioChSetting(this, m_store, area.x(), area.y(), area.width(), area.height());
}

QDialog *MainWidget::createFilterSettings(const QRect &area)
{
    auto *panel = new ZRadioFilterSetting(this, m_store, area.x(), area.y(), area.width(), area.height());
    connect(this, &MainWidget::sig_updateFilter, panel, &ZRadioFilterSetting::updateFilter);
    // While it is open the panel labels the window's function keys.
    connect(panel, &ZRadioFilterSetting::sig_setFunctionButtons, this, &MainWidget::slot_updateFunctionButtons);
    return panel;
}

bool MainWidget::editText(const QString &title, QString *text)
{
    const QRect w = windowRect();
    QPointer<ZTextEditor> editor = new ZTextEditor(this, m_store, w.x(), w.y(), w.width(), w.height());
    editor->setTitle(title);
    editor->setText(*text);
    const int result = editor->exec();
    if (!editor)
        return false;
    const bool accepted = result == QDialog::Accepted;
    if (accepted)
        *text = editor->text();
    editor->deleteLater();
    return accepted;
}

QDialog *MainWidget::createSystemMenu(const QRect &area)
{
    auto *menu = new ZRadioSystemSetting(this, m_store, area.x(), area.y(), area.width(), area.height());
    menu->setupMainMenu();
    // The WLAN and Bluetooth screens work on the window's own NetworkManager
    // client and Bluetooth manager (the panels make their own when these do
    // not exist yet).
    menu->setOpener(ZRadioSystemSetting::FirmwareUpgrade, [](ZRadioSystemSetting *parent, const QRect &a) {
        UiFwUpgrade upgrade(parent);
        upgrade.setGeometry(a);
        upgrade.exec();
    });
    menu->setOpener(ZRadioSystemSetting::Wlan, [this](ZRadioSystemSetting *parent, const QRect &a) {
        DialogWlanSetting wlan(parent, m_store, a.x(), a.y(), a.width(), a.height(), m_nmClient);
        wlan.exec();
    });
    menu->setOpener(ZRadioSystemSetting::Bluetooth, [this](ZRadioSystemSetting *parent, const QRect &a) {
        DialogBluetoothSetting bt(parent, m_store, a.x(), a.y(), a.width(), a.height(), m_bluetooth);
        bt.exec();
    });
    return menu;
}

QDialog *MainWidget::createSwrScanner(const QRect &area)
{
    auto *scanner = new DialogSwrScanner(this, m_store, area.x(), area.y(), area.width(), area.height());
    connect(this, &MainWidget::sig_postSwrValue, scanner, &DialogSwrScanner::slot_commUpdateSWR);
    connect(scanner, &DialogSwrScanner::sig_postTRX, this, &MainWidget::slot_swrScanTrxReceiver);
    connect(scanner, &DialogSwrScanner::sig_nextPoint, this, &MainWidget::slot_swrScanNextPoint);
    return scanner;
}

QDialog *MainWidget::createVoiceCall(const QRect &area)
{
    auto *call = new DialogVoiceCall(this, m_store, area.x(), area.y(), area.width(), area.height());
    connect(call, &DialogVoiceCall::sig_postTrx, this, &MainWidget::slot_modemTrxReceiver);
    return call;
}

QDialog *MainWidget::createVoiceRecorder(const QRect &area, const QString &fileName)
{
    auto *rec = new DialogVoiceRec(this, m_store, area.x(), area.y(), area.width(), area.height());
    rec->setFileName(fileName);
    return rec;
}
