#ifndef PARAMS_SUPPORT_H
#define PARAMS_SUPPORT_H

// Shared helpers of the parameter-store tests: direct access to the database
// file and changed copies of the definition text.

#include "tests/test_support.h"
#include "params/zparamadmin.h"
#include "app/zsystem.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

namespace ptest {

// The log capture and the temporary system root come from the shared test
// support; the names stay available here.
using ztest::clearLog;
using ztest::installLogCapture;
using ztest::logContains;
using ztest::logCount;
using ztest::logLines;
using ztest::Sysroot;

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
