#include "tests/params_support.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlRecord>

namespace ptest {

namespace {

QAtomicInt g_connections;

} // namespace

DbFile::DbFile(const QString &file)
    : m_name(QStringLiteral("ptest-%1").arg(g_connections.fetchAndAddOrdered(1)))
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(file);
    if (!db.open())
        m_error = db.lastError().text();
}

DbFile::~DbFile()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

bool DbFile::exec(const QString &statement, const QVariantList &args)
{
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    if (!q.prepare(statement)) {
        m_error = q.lastError().text();
        return false;
    }
    for (int i = 0; i < args.size(); ++i)
        q.bindValue(i, args.at(i));
    if (!q.exec()) {
        m_error = q.lastError().text();
        return false;
    }
    return true;
}

QVariant DbFile::value(const QString &statement, const QVariantList &args)
{
    QSqlQuery q(QSqlDatabase::database(m_name, false));
    if (!q.prepare(statement))
        return QVariant();
    for (int i = 0; i < args.size(); ++i)
        q.bindValue(i, args.at(i));
    if (!q.exec() || !q.next())
        return QVariant();
    return q.value(0);
}

int DbFile::count(const QString &table)
{
    return value(QStringLiteral("SELECT count(*) FROM %1").arg(table)).toInt();
}

QString definitionText()
{
    QFile f(QString::fromLatin1(ZParamAdmin::DefinitionFile));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

void writeDefinition(const QString &path, const QString &text)
{
    ztest::writeFile(path, text.toUtf8());
}

static QString entryText(const QString &key, const QStringList &lines)
{
    QStringList out;
    out << key + QStringLiteral("=\"\\");
    for (int i = 0; i < lines.size(); ++i)
        out << (i == lines.size() - 1 ? lines.at(i) + QLatin1Char('\\') : lines.at(i));
    out << QStringLiteral("\"") << QString();
    return out.join(QLatin1Char('\n'));
}

QString removeEntry(const QString &text, const QString &key)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    const int start = lines.indexOf(key + QStringLiteral("=\"\\"));
    if (start < 0)
        return text;
    int end = start;
    while (end < lines.size() && !lines.at(end).isEmpty())
        ++end;
    lines.erase(lines.begin() + start, lines.begin() + qMin(end + 1, lines.size()));
    return lines.join(QLatin1Char('\n'));
}

QString replaceEntry(const QString &text, const QString &key, const QStringList &lines)
{
    QStringList all = text.split(QLatin1Char('\n'));
    const int start = all.indexOf(key + QStringLiteral("=\"\\"));
    if (start < 0)
        return text;
    int end = start;
    while (end < all.size() && !all.at(end).isEmpty())
        ++end;
    all.erase(all.begin() + start, all.begin() + qMin(end + 1, all.size()));
    all.insert(start, entryText(key, lines));
    return all.join(QLatin1Char('\n'));
}

QString addEntry(const QString &text, const QString &section, const QString &key, const QStringList &lines)
{
    QStringList all = text.split(QLatin1Char('\n'));
    const int at = all.indexOf(QStringLiteral("[%1]").arg(section));
    if (at < 0)
        return text + QStringLiteral("\n[%1]\n").arg(section) + entryText(key, lines) + QLatin1Char('\n');
    all.insert(at + 1, entryText(key, lines));
    return all.join(QLatin1Char('\n'));
}

} // namespace ptest
