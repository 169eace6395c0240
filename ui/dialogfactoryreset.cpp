#include "ui/dialogfactoryreset.h"

#include "app/zsystem.h"
#include "radio/zradio.h"

#include <QDebug>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace {
const char *const kWarning = "WARNING: DO FACTORY RESET\nYOUR DATA WILL LOST!";
const char *const kArmed = "WARNING: DO FACTORY RESET\nYOUR DATA WILL LOST!\nPRESS OK BUTTON AGAIN...";
} // namespace

DialogFactoryReset::DialogFactoryReset(QWidget *parent, ZParamAdmin *store, int x, int y, int w, int h)
    : ZPanel(parent, store, x, y, w, h)
{
    setObjectName(QStringLiteral("DialogFactoryReset"));
    // The panel's font, set rather than inherited (see the menu).
    m_title->setFont(font());
    setPanelTitle(QStringLiteral("FACTORY RESET"));
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("labelMessage"));
    m_message->setStyleSheet(QStringLiteral("QLabel{border: 0px;color:red;background-color: transperant;}"));
    QFont f(QStringLiteral("DejaVu Sans Mono"), 24);
    f.setBold(true);
    m_message->setFont(f);
    m_message->setAlignment(Qt::AlignCenter);
}

DialogFactoryReset::~DialogFactoryReset() = default;

int DialogFactoryReset::exec()
{
    createFunctionButtons({ QStringLiteral("OK"), QStringLiteral(" "), QStringLiteral(" "), QStringLiteral(" "),
                            QStringLiteral("CANCEL") });
    for (QPushButton *b : qAsConst(m_buttons))
        connect(b, &QPushButton::clicked, this, &DialogFactoryReset::slot_buttonClicked);
    m_armed = false;
    m_message->setGeometry(userGeometry());
    m_message->setText(QString::fromLatin1(kWarning));
    return ZPanel::exec();
}

QStringList DialogFactoryReset::resetCommands()
{
    // Paths are quoted: the application directory may hold any character.
    // The wildcards stay outside the quotes so the shell expands them.
    const QString app = zsys::appDir();
    return { QStringLiteral("rm ") + zsys::quote(app + QStringLiteral("/zparam.db")),
             QStringLiteral("rm -rf ") + zsys::quote(app + QStringLiteral("/voice")),
             QStringLiteral("rm -rf ") + zsys::quote(app + QStringLiteral("/.wificfg")) + QStringLiteral("/*"),
             QStringLiteral("rm -rf /etc/NetworkManager/system-connections/*"),
             QStringLiteral("sync") };
}

void DialogFactoryReset::slot_buttonClicked(bool)
{
    auto *b = qobject_cast<QPushButton *>(sender());
    if (!b)
        return;
    const QString text = b->text();
    if (text == QLatin1String("OK")) {
        if (!m_armed) {
            m_armed = true;
            m_message->setText(QString::fromLatin1(kArmed));
        } else {
            reset();
        }
    } else if (text == QLatin1String("CANCEL")) {
        m_armed = false;
        reject();
    }
    // The blank buttons do nothing.
}

void DialogFactoryReset::reset()
{
    setAllButtonsEnable(false);
    m_message->setText(QStringLiteral("FACTORY RESET...\nTHE RADIO RESTARTS"));
    for (const QString &cmd : resetCommands()) {
        qDebug().noquote() << cmd;
        zsys::run(cmd);
    }
    zradio_remote_poweroff();
    // The register push carries the power-off bit to the board within a
    // scan; the screen keeps drawing meanwhile.
    QEventLoop wait;
    QTimer::singleShot(1000, &wait, &QEventLoop::quit);
    wait.exec();
    zsys::run(QStringLiteral("reboot"));
}
