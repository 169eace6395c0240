#include "server/dialogwfserversetting.h"

#include "app/zsystem.h"
#include "params/zparamadmin.h"
#include "ui/dialogcommandexec.h"
#include "ui/zkeyboard.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>
#include <QUuid>
#include <QWheelEvent>

namespace {

const char *const kSettingsFile = "/etc/zrradio/wfserver.ini";
const char *const kPidFile = "/var/run/wfserver.pid";
const char *const kStartCommand = "/usr/share/support/wfserverd start";
const char *const kStopCommand = "/usr/share/support/wfserverd stop";
const char *const kTitle = " WFSERVER SETTING";

struct field_t {
    const char *label;
    const char *key;
    const char *byDefault; // nullptr: a random password
    int keyboardType;      // 1 text, 2 numeric
};

const field_t kFields[DialogWfserverSetting::FieldCount] = {
    { "RIG NAME", "Radios/1/RigName", "ZR450", 1 },
    { "USER NAME", "Server/Users/1/Username", "user", 1 },
    { "PASSWORD", "Server/Users/1/Password", nullptr, 1 },
    { "CTRL PORT", "Server/ServerControlPort", "50001", 2 },
    { "CIV PORT", "Server/ServerCivPort", "50002", 2 },
    { "AUDIO PORT", "Server/ServerAudioPort", "50003", 2 },
};

// Look-alikes (0/O, 1/l/I) left out: the password is read off the screen
// and typed into the remote client.
const char kPasswordAlphabet[] = "23456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

} // namespace

DialogWfserverSetting::DialogWfserverSetting(QWidget *parent, ZParamAdmin *store, int x, int y, int width,
                                             int height)
    : ZPanel(parent, store, x, y, width, height)
{
    setObjectName(QStringLiteral("DialogWfserverSetting"));
    // The panel's font, set rather than inherited (see the menu).
    m_title->setFont(font());
    setPanelTitle(QString::fromLatin1(kTitle));
    setExitButton(5);

    // The client area is laid out once the function-button row exists
    // (exec); until then it spans the space above a row of the same height.
    auto *area = new QWidget(this);
    area->setObjectName(QStringLiteral("wfserverArea"));
    const int rowHeight = m_buttonHeight + 2 * 3;
    const QRect r(m_margin + 1, m_title->geometry().bottom() + 2, width - 2 * m_margin - 2,
                  height - m_title->geometry().bottom() - 4 - rowHeight - m_margin);
    area->setGeometry(r.adjusted(4, 4, -4, -4));
    auto *grid = new QGridLayout(area);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);

    QFont labelFont(QStringLiteral("DejaVu Sans Mono"), 16);
    labelFont.setBold(true);
    QFont editFont(QStringLiteral("DejaVu Sans Mono"), 16);
    for (int i = 0; i < FieldCount; ++i) {
        auto *label = new QLabel(QString::fromLatin1(kFields[i].label), area);
        label->setFont(labelFont);
        auto *edit = new QLineEdit(area);
        edit->setObjectName(QStringLiteral("lineEdit_%1").arg(i));
        edit->setFont(editFont);
        edit->setMinimumHeight(38);
        edit->setFocusPolicy(Qt::StrongFocus);
        edit->setStyleSheet(QStringLiteral(
            "QLineEdit{color:white;background:rgb(0,32,64);border:1px solid rgb(120,120,120);"
            "border-radius:3px;padding:0px 6px;}"
            "QLineEdit:focus{border:3px solid rgb(255,127,0);}"));
        grid->addWidget(label, i, 0);
        grid->addWidget(edit, i, 1);
        m_labels << label;
        m_edits << edit;
    }
    m_credit = new QLabel(area);
    m_credit->setObjectName(QStringLiteral("labelCredit"));
    m_credit->setWordWrap(true);
    QFont creditFont(QStringLiteral("DejaVu Sans"), 11);
    m_credit->setFont(creditFont);
    m_credit->setStyleSheet(QStringLiteral("QLabel{color:rgb(160,160,160);}"));
    m_credit->setText(QStringLiteral(
        "Remote operation is served by wfserver, part of wfview. Many thanks to its authors, "
        "Elliott H. Liggett (W6EL), Phil E. Taylor (M0VSE) and the wfview contributors."));
    grid->addWidget(m_credit, FieldCount, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &DialogWfserverSetting::slot_statusTimeout);

    parseSetting(false);
    selectField(0);
}

DialogWfserverSetting::~DialogWfserverSetting() = default;

QString DialogWfserverSetting::settingsFile()
{
    return zsys::path(QString::fromLatin1(kSettingsFile));
}

QString DialogWfserverSetting::fieldKey(int field)
{
    return field >= 0 && field < FieldCount ? QString::fromLatin1(kFields[field].key) : QString();
}

QString DialogWfserverSetting::randomPassword(int length)
{
    const int n = int(sizeof(kPasswordAlphabet)) - 1;
    QString out;
    out.reserve(length);
    // bounded() draws without modulo bias.
    QRandomGenerator *rng = QRandomGenerator::system();
    for (int i = 0; i < length; ++i)
        out += QLatin1Char(kPasswordAlphabet[rng->bounded(n)]);
    return out;
}

void DialogWfserverSetting::setDefaultSettings(QSettings &settings, const QString &password)
{
    // Every value as text, as the server reads them.
    settings.setValue(QStringLiteral("AudioSystem"), QStringLiteral("0"));
    settings.beginGroup(QStringLiteral("Radios"));
    settings.setValue(QStringLiteral("1/AudioInput"), QStringLiteral("mixcapture"));
    settings.setValue(QStringLiteral("1/AudioOutput"), QStringLiteral("mixplayback"));
    settings.setValue(QStringLiteral("1/ForceRTSasPTT"), QStringLiteral("false"));
    settings.setValue(QStringLiteral("1/GUID"), QUuid::createUuid().toString(QUuid::WithBraces));
    settings.setValue(QStringLiteral("1/RigCIVuInt"), QStringLiteral("0"));
    settings.setValue(QStringLiteral("1/RigName"), QStringLiteral("ZR450"));
    settings.setValue(QStringLiteral("1/SerialPortBaud"), QStringLiteral("115200"));
    settings.setValue(QStringLiteral("1/SerialPortRadio"), QStringLiteral("ttyVirtual0"));
    settings.setValue(QStringLiteral("1/WaterfallFormat"), QStringLiteral("1"));
    settings.setValue(QStringLiteral("size"), QStringLiteral("1"));
    settings.endGroup();
    settings.beginGroup(QStringLiteral("Server"));
    settings.setValue(QStringLiteral("ServerAudioPort"), QStringLiteral("50003"));
    settings.setValue(QStringLiteral("ServerCivPort"), QStringLiteral("50002"));
    settings.setValue(QStringLiteral("ServerControlPort"), QStringLiteral("50001"));
    settings.setValue(QStringLiteral("ServerEnabled"), QStringLiteral("true"));
    settings.setValue(QStringLiteral("Users/1/Password"), password);
    settings.setValue(QStringLiteral("Users/1/UserType"), QStringLiteral("0"));
    settings.setValue(QStringLiteral("Users/1/Username"), QStringLiteral("user"));
    settings.setValue(QStringLiteral("Users/size"), QStringLiteral("1"));
    settings.endGroup();
}

bool DialogWfserverSetting::ensureSettingsFile()
{
    const QString file = settingsFile();
    if (QFileInfo::exists(file))
        return true;
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSettings settings(file, QSettings::IniFormat);
    setDefaultSettings(settings, randomPassword());
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qWarning() << "can't write" << file;
        return false;
    }
    qInfo() << "created" << kSettingsFile << "with defaults";
    return true;
}

void DialogWfserverSetting::parseSetting(bool save)
{
    ensureSettingsFile();
    QSettings settings(settingsFile(), QSettings::IniFormat);
    for (int i = 0; i < FieldCount; ++i) {
        const QString key = fieldKey(i);
        if (!save) {
            if (settings.contains(key))
                m_edits.at(i)->setText(settings.value(key).toString());
        } else if (!m_edits.at(i)->text().isEmpty()) {
            // Operator text goes into the file as an INI value, escaped by
            // the settings writer; it never passes a shell.
            settings.setValue(key, m_edits.at(i)->text());
        }
    }
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "can't write" << settingsFile();
}

bool DialogWfserverSetting::isWfServerStart()
{
    return QFileInfo::exists(zsys::path(QString::fromLatin1(kPidFile)));
}

void DialogWfserverSetting::setWfServer(bool on)
{
    const QString cmd = QString::fromLatin1(on ? kStartCommand : kStopCommand);
    DialogCommandExec::run(this, QStringList(cmd), 20);
    if (m_store)
        m_store->setParamItem(QStringLiteral("wparam"), QStringLiteral("wfserver_enable"), on ? 1 : 0);
}

bool DialogWfserverSetting::startAtPowerUp(ZParamAdmin *store)
{
    if (!store || store->paramItem(QStringLiteral("wparam"), QStringLiteral("wfserver_enable")).value.toInt() == 0)
        return false;
    // A server without its settings file would come up on its own
    // defaults; give it ours.
    ensureSettingsFile();
    qInfo() << "wfserver enabled, starting it";
    zsys::run(QString::fromLatin1(kStartCommand));
    return true;
}

int DialogWfserverSetting::exec()
{
    createFunctionButtons({ QStringLiteral("START"), QStringLiteral("DEFAULT"), QStringLiteral("CLEAR"),
                            QStringLiteral("SAVE"), QStringLiteral("EXIT") });
    for (QPushButton *b : qAsConst(m_buttons))
        connect(b, &QPushButton::clicked, this, &DialogWfserverSetting::slot_buttonClicked);
    refreshStatus();
    m_statusTimer->start(1000);
    const int rc = ZPanel::exec();
    m_statusTimer->stop();
    return rc;
}

void DialogWfserverSetting::refreshStatus()
{
    m_running = isWfServerStart();
    setPanelTitle(QString::fromLatin1(kTitle)
                  + (m_running ? QStringLiteral(" (server running)") : QStringLiteral(" (server stopped)")));
    if (QPushButton *b = functionButton(0))
        b->setText(m_running ? QStringLiteral("STOP") : QStringLiteral("START"));
}

void DialogWfserverSetting::slot_statusTimeout()
{
    refreshStatus();
}

void DialogWfserverSetting::fillDefaults(const QString &password)
{
    for (int i = 0; i < FieldCount; ++i)
        m_edits.at(i)->setText(kFields[i].byDefault ? QString::fromLatin1(kFields[i].byDefault) : password);
}

void DialogWfserverSetting::slot_buttonClicked(bool)
{
    auto *b = qobject_cast<QPushButton *>(sender());
    if (!b)
        return;
    const QString text = b->text();
    if (text.compare(QLatin1String("START"), Qt::CaseInsensitive) == 0
        || text.compare(QLatin1String("STOP"), Qt::CaseInsensitive) == 0) {
        m_statusTimer->stop();
        setWfServer(!m_running);
        refreshStatus();
        m_statusTimer->start(1000);
    } else if (text.compare(QLatin1String("DEFAULT"), Qt::CaseInsensitive) == 0) {
        const QString password = randomPassword();
        fillDefaults(password);
        zsys::run(QStringLiteral("rm ") + QString::fromLatin1(kSettingsFile));
        zsys::run(QStringLiteral("sync"));
        const QString file = settingsFile();
        QDir().mkpath(QFileInfo(file).absolutePath());
        QSettings settings(file, QSettings::IniFormat);
        settings.clear();
        setDefaultSettings(settings, password);
        settings.sync();
    } else if (text.compare(QLatin1String("CLEAR"), Qt::CaseInsensitive) == 0) {
        if (QLineEdit *e = edit(m_current))
            e->clear();
    } else if (text.compare(QLatin1String("SAVE"), Qt::CaseInsensitive) == 0) {
        parseSetting(true);
        // Edits left empty show what the file kept.
        parseSetting(false);
    }
    // "EXIT" closes through the exit button of the panel base class.
}

void DialogWfserverSetting::selectField(int field)
{
    if (field < 0 || field >= m_edits.size())
        return;
    m_current = field;
    m_edits.at(field)->setFocus(Qt::OtherFocusReason);
}

void DialogWfserverSetting::wheelEvent(QWheelEvent *event)
{
    const int d = event->angleDelta().y();
    if (d > 0)
        selectField(m_current > 0 ? m_current - 1 : FieldCount - 1);
    else if (d < 0)
        selectField(m_current < FieldCount - 1 ? m_current + 1 : 0);
    event->accept();
}

void DialogWfserverSetting::keyPressEvent(QKeyEvent *event)
{
    // Enter acts on its release; the press must not reach the main window.
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        event->accept();
        return;
    }
    ZPanel::keyPressEvent(event);
}

void DialogWfserverSetting::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Enter || event->key() == Qt::Key_Return) {
        event->accept();
        if (event->isAutoRepeat())
            return;
        QLineEdit *e = edit(m_current);
        ZKeyboard::edit(this, e, kFields[m_current].keyboardType);
        selectField(m_current);
        return;
    }
    ZPanel::keyReleaseEvent(event);
}
