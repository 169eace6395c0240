#ifndef ZLOG_H
#define ZLOG_H

#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QScopedPointer>

// Process-wide logging: one file per start, written by messageHandler.
extern QScopedPointer<QFile> m_logFile;
extern QMutex logMutex;
extern bool debugMode;

const QLoggingCategory &logSystem();
const QLoggingCategory &logSerial();
const QLoggingCategory &logGui();
const QLoggingCategory &logRig();
const QLoggingCategory &logAudio();
const QLoggingCategory &logUdp();
const QLoggingCategory &logCivDevice();
const QLoggingCategory &logParam();
// The digital modes: modems, modem host, Morse sender, modem tool.
const QLoggingCategory &logModem();

void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// The path of this start's log file: temporary directory + "/zr450-" +
// local time "yyyyMMddhhmmsszzz" + ".log".
QString zlog_file_path();

// Opens the log file (truncating) and installs messageHandler.
void zlog_install();

#endif
