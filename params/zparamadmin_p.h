#ifndef ZPARAMADMIN_P_H
#define ZPARAMADMIN_P_H

// Internals shared by the parameter store's source files.

#include "params/zparamadmin.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

// Holds the store's lock for one operation. Operations nest (syncDatabase
// calls setParamItem, seekCh calls updateChItem ...), so the lock is
// recursive; sig_chUpdate() requested inside is emitted once the outermost
// operation has released the lock, so a receiver never runs under it.
class ZParamAdmin::Locker
{
public:
    explicit Locker(ZParamAdmin *admin)
        : m_admin(admin)
    {
        m_admin->m_mutex.lock();
        ++m_admin->m_lockDepth;
    }
    ~Locker()
    {
        int pending = 0;
        if (--m_admin->m_lockDepth == 0) {
            pending = m_admin->m_chUpdatePending;
            m_admin->m_chUpdatePending = 0;
        }
        m_admin->m_mutex.unlock();
        while (pending-- > 0)
            emit m_admin->sig_chUpdate();
    }
    Locker(const Locker &) = delete;
    Locker &operator=(const Locker &) = delete;

private:
    ZParamAdmin *m_admin;
};

namespace zparam_sql {

// A table name is spliced into the statement text (SQL cannot bind it), so
// only plain identifiers are accepted.
bool validTableName(const QString &name);

// The statement as it appears in the log: its text and the bound values.
QString describe(const QString &text, const QVariantList &args);

// A bound text value: an empty text is stored as "" rather than NULL.
QVariant textArg(const QString &text);

// Prepares `text`, binds `args` in order and executes it.
bool exec(QSqlQuery &query, const QString &text, const QVariantList &args);

// Runs `update` when `select` finds a row, `insert` otherwise; logs the
// outcome as "Query ok," or "Query failed,".
void upsert(QSqlDatabase &db, const QString &select, const QVariantList &keyArgs,
            const QString &update, const QVariantList &updateArgs,
            const QString &insert, const QVariantList &insertArgs);

// Inserts or replaces a named text in "file_table".
void addText(QSqlDatabase &db, const QString &name, const QString &text);

} // namespace zparam_sql

#endif
