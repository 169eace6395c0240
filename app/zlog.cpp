#include "app/zlog.h"

#include <QDateTime>
#include <QStandardPaths>
#include <QTextStream>
#include <QtGlobal>

QScopedPointer<QFile> m_logFile;
QMutex logMutex;
bool debugMode = false;

// Every level is enabled: the handler decides what is kept.
#define ZR_LOG_CATEGORY(fn, name)                                   \
    const QLoggingCategory &fn()                                    \
    {                                                               \
        static const QLoggingCategory category(name, QtDebugMsg);   \
        return category;                                            \
    }

ZR_LOG_CATEGORY(logSystem, "system")
ZR_LOG_CATEGORY(logSerial, "serial")
ZR_LOG_CATEGORY(logGui, "gui")
ZR_LOG_CATEGORY(logRig, "rig")
ZR_LOG_CATEGORY(logAudio, "audio")
ZR_LOG_CATEGORY(logUdp, "udp")
ZR_LOG_CATEGORY(logCivDevice, "civdivice")
ZR_LOG_CATEGORY(logParam, "param")
ZR_LOG_CATEGORY(logModem, "zr.modem")

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    const char *category = context.category ? context.category : "default";
    if (type == QtDebugMsg) {
        if (!debugMode)
            return;
        if (QString::fromLatin1(category).contains(QLatin1String("default"), Qt::CaseInsensitive)) {
            // Re-issued inside the handler: Qt's recursion guard prints it
            // to standard error, so plain debug output never fills the file.
            qDebug().noquote() << msg;
            return;
        }
    }

    const char *tag = "DBG ";
    switch (type) {
    case QtDebugMsg: tag = "DBG "; break;
    case QtInfoMsg: tag = "INF "; break;
    case QtWarningMsg: tag = "WRN "; break;
    case QtCriticalMsg: tag = "CRT "; break;
    case QtFatalMsg: tag = "FTL "; break;
    }

    QMutexLocker lock(&logMutex);
    if (!m_logFile || !m_logFile->isOpen())
        return;
    QTextStream out(m_logFile.data());
    out << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz "))
        << tag << category << ": " << msg << "\n";
    out.flush();
}

QString zlog_file_path()
{
    const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::TempLocation);
    const QString dir = dirs.isEmpty() ? QStringLiteral("/tmp") : dirs.first();
    return dir + QStringLiteral("/zr450-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz"))
        + QStringLiteral(".log");
}

void zlog_install()
{
    {
        QMutexLocker lock(&logMutex);
        m_logFile.reset(new QFile(zlog_file_path()));
        // A log file that cannot be opened only loses the log lines.
        m_logFile->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
    }
    qInstallMessageHandler(messageHandler);
}
