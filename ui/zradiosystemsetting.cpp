#include "ui/zradiosystemsetting.h"

#include "params/zparamadmin.h"
#include "server/dialogwfserversetting.h"
#include "ui/dialogfactoryreset.h"
#include "ui/dialogsysteminfo.h"
#include "ui/dialogtimesetting.h"

#include <QDebug>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QWheelEvent>

namespace {
const char *const kTitleStyle = "QLabel{border: 0px;color: white; background-color: rgb(64,64,64);}";
const char *const kNtp1 = "text_ntp_server1";
const char *const kNtp2 = "text_ntp_server2";

// The function-button look, the selected entry lit green.
QString menuButtonStyle(bool selected)
{
    return QStringLiteral(
               "QPushButton{border-top-width:1px;border-top-color:rgb(50,50,50);border-bottom-width:2px;"
               "border-bottom-color:rgb(10,10,10);border-left-width:1px;border-left-color:rgb(50,50,50);"
               "border-right-width:2px;border-right-color:rgb(10,10,10);border-radius:2px;border-style: outset;"
               "background-color:%1;color:white;padding:0px;}"
               "QPushButton:pressed{border-style: inset;background-color:rgb(30,30,30);padding-top:2px;}"
               "QPushButton:focus{border:3px dotted rgb(255,127,0);}")
        .arg(selected ? QStringLiteral("rgba(0,255,100,100)") : QStringLiteral("rgb(30,30,30)"));
}
} // namespace

ZRadioSystemSetting::ZRadioSystemSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("ZRadioSystemSetting"));
    m_title->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 14));
    m_title->setStyleSheet(QString::fromLatin1(kTitleStyle));
    setPanelTitle(QStringLiteral(" SYSTEM SETTING"));

    m_menuFrame = new QFrame(this);
    m_menuFrame->setObjectName(QStringLiteral("frameMenu"));
    m_menuLayout = new QGridLayout(m_menuFrame);
    m_menuLayout->setContentsMargins(3, 3, 3, 3);
    m_menuLayout->setSpacing(3);
    placeMenuFrame();
}

ZRadioSystemSetting::~ZRadioSystemSetting() = default;

QStringList ZRadioSystemSetting::mainMenuEntries()
{
    return { QStringLiteral("TIME\nSETTING"), QStringLiteral("SYSTEM\nINFO"), QStringLiteral("FIRMWARE\nUPGRADE"),
             QStringLiteral("WLAN"), QStringLiteral("BLUETOOTH"), QStringLiteral("WFSERVER"),
             QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "),
             QStringLiteral("FACTORY\nRESET") };
}

QStringList ZRadioSystemSetting::mainMenuFunctionLabels()
{
    return { QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "),
             QStringLiteral("EXIT") };
}

void ZRadioSystemSetting::setupMainMenu()
{
    createFunctionButtons(mainMenuFunctionLabels());
    setExitKey(Qt::Key_F5);
    // The EXIT button closes the menu by touch as well.
    setExitButton(5);
    createMenu(mainMenuEntries());
}

void ZRadioSystemSetting::setOpener(Screen screen, Opener opener)
{
    if (screen >= FirmwareUpgrade && screen <= Bluetooth)
        m_openers[screen] = std::move(opener);
}

void ZRadioSystemSetting::placeMenuFrame()
{
    if (m_menuFrame)
        m_menuFrame->setGeometry(userGeometry());
}

void ZRadioSystemSetting::resizeEvent(QResizeEvent *event)
{
    ZPanel::resizeEvent(event);
    placeMenuFrame();
}

void ZRadioSystemSetting::cleanMenuButtons()
{
    while (QLayoutItem *item = m_menuLayout->takeAt(0))
        delete item;
    qDeleteAll(m_menuButtons);
    m_menuButtons.clear();
    m_selected = 0;
}

void ZRadioSystemSetting::createMenu(const QStringList &entries)
{
    if (entries.isEmpty()) {
        m_menuFrame->hide();
        return;
    }
    cleanMenuButtons();
    m_menuFrame->show();
    for (int i = 0; i < entries.size(); ++i) {
        auto *b = new QPushButton(entries.at(i), m_menuFrame);
        b->setObjectName(QString::asprintf("PushButton_%02d", i));
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        b->setFocusPolicy(Qt::StrongFocus);
        b->setAutoDefault(false);
        // Set, not inherited: under the main window's style sheet a child
        // would fall back to the application font.
        b->setFont(font());
        m_menuLayout->addWidget(b, i / 5, i % 5);
        m_menuButtons.append(b);
        connect(b, &QPushButton::clicked, this, &ZRadioSystemSetting::slot_menuButtonClicked);
    }
    // Rows and columns share the space evenly, blank rows included.
    for (int r = 0; r <= (entries.size() - 1) / 5; ++r)
        m_menuLayout->setRowStretch(r, 1);
    for (int c = 0; c < qMin(5, entries.size()); ++c)
        m_menuLayout->setColumnStretch(c, 1);
    placeMenuFrame();
    selectMenuButton(0);
}

void ZRadioSystemSetting::selectMenuButton(int index)
{
    if (index < 0 || index >= m_menuButtons.size())
        return;
    m_selected = index;
    for (int i = 0; i < m_menuButtons.size(); ++i)
        m_menuButtons.at(i)->setStyleSheet(menuButtonStyle(i == index));
    m_menuButtons.at(index)->setFocus(Qt::OtherFocusReason);
}

void ZRadioSystemSetting::slot_menuButtonClicked(bool)
{
    auto *b = qobject_cast<QPushButton *>(sender());
    if (!b)
        return;
    const int index = m_menuButtons.indexOf(b);
    if (index >= 0)
        selectMenuButton(index);
    const QString text = b->text();
    if (text.contains(QLatin1String("TIME")))
        openTimeSetting();
    else if (text.contains(QLatin1String("UPGRADE")))
        open(FirmwareUpgrade);
    else if (text.contains(QLatin1String("RESET")))
        openPanel("reset");
    else if (text.contains(QLatin1String("INFO")))
        openPanel("info");
    else if (text.contains(QLatin1String("WLAN")))
        open(Wlan);
    else if (text.contains(QLatin1String("BLUETOOTH")))
        open(Bluetooth);
    else if (text.contains(QLatin1String("WFSERVER")))
        openPanel("wfserver");
    // Blank entries do nothing.
}

void ZRadioSystemSetting::open(Screen screen)
{
    if (!m_openers[screen]) {
        qDebug() << "system menu: no screen plugged in for entry" << int(screen);
        return;
    }
    m_openers[screen](this, geometry());
}

void ZRadioSystemSetting::openTimeSetting()
{
    const QString w = QStringLiteral("wparam");
    DialogTimeSetting dlg(this, geometry());
    if (m_store) {
        dlg.setNtpServer(0, m_store->paramItem(w, QString::fromLatin1(kNtp1)).value.toString());
        dlg.setNtpServer(1, m_store->paramItem(w, QString::fromLatin1(kNtp2)).value.toString());
    }
    if (dlg.exec() == QDialog::Accepted && m_store) {
        m_store->setParamItem(w, QString::fromLatin1(kNtp1), dlg.ntpServer(0));
        m_store->setParamItem(w, QString::fromLatin1(kNtp2), dlg.ntpServer(1));
    }
}

void ZRadioSystemSetting::openPanel(const char *kind)
{
    const QRect g = geometry();
    const QByteArray k(kind);
    if (k == "reset") {
        DialogFactoryReset dlg(this, m_store, g.x(), g.y(), g.width(), g.height());
        dlg.exec();
    } else if (k == "info") {
        DialogSystemInfo dlg(this, m_store, g.x(), g.y(), g.width(), g.height());
        dlg.exec();
    } else if (k == "wfserver") {
        DialogWfserverSetting dlg(this, m_store, g.x(), g.y(), g.width(), g.height());
        dlg.exec();
    }
    if (m_selected >= 0 && m_selected < m_menuButtons.size())
        m_menuButtons.at(m_selected)->setFocus(Qt::OtherFocusReason);
}

void ZRadioSystemSetting::wheelEvent(QWheelEvent *event)
{
    const int d = event->angleDelta().y();
    const int n = m_menuButtons.size();
    if (d != 0 && n > 0) {
        int index = m_selected - d;
        if (index < 0)
            index = n - 1;
        else if (index >= n)
            index = 0;
        selectMenuButton(index);
    }
    event->accept();
}

void ZRadioSystemSetting::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        if (QPushButton *b = m_menuButtons.value(m_selected)) {
            if (!b->isDown())
                b->setDown(true);
        }
        event->accept();
        return;
    }
    ZPanel::keyPressEvent(event);
}

void ZRadioSystemSetting::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        event->accept();
        if (event->isAutoRepeat())
            return;
        if (QPushButton *b = m_menuButtons.value(m_selected)) {
            b->setDown(false);
            b->click();
        }
        return;
    }
    ZPanel::keyReleaseEvent(event);
}
