#ifndef PARAMS_SUPPORT_H
#define PARAMS_SUPPORT_H

// Shared helpers of the parameter-store tests: a temporary system root per
// test, a log capture, and direct access to the database file.

#include "zparamadmin.h"
#include "zsystem.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

namespace ptest {

// Every message of the process, kept instead of printed (set
// ZR450_TEST_VERBOSE=1 to see them as well).
void installLogCapture();
void clearLog();
QStringList logLines();
bool logContains(const QString &text);
int logCount(const QString &text);

// A fresh system root for one test; the store's files live in root/app.
class Sysroot
{
public:
    Sysroot();
    ~Sysroot();
    QString path() const { return m_dir.path(); }
    QString appDir() const { return m_dir.path() + QStringLiteral("/app"); }
    QString dbFile() const { return appDir() + QStringLiteral("/zparam.db"); }
    void writeFile(const QString &systemPath, const QByteArray &data) const;

private:
    QTemporaryDir m_dir;
};

// Direct access to the database file from the test thread, for setting up
// and inspecting rows while no store has it open.
class DbFile
{
public:
    explicit DbFile(const QString &file);
    ~DbFile();
    bool exec(const QString &statement, const QVariantList &args = {});
    QVariant value(const QString &statement, const QVariantList &args = {});
    int count(const QString &table);
    QString lastError() const { return m_error; }

private:
    QString m_name;
    QString m_error;
};

// The built-in definition text, or a changed copy of it written to `path`.
QString definitionText();
void writeDefinition(const QString &path, const QString &text);

// Replaces the five content lines of one key in a definition text.
QString replaceEntry(const QString &text, const QString &key, const QStringList &lines);
// Removes one key from a definition text.
QString removeEntry(const QString &text, const QString &key);
// Appends a key to a section of a definition text.
QString addEntry(const QString &text, const QString &section, const QString &key, const QStringList &lines);

} // namespace ptest

#endif
