#ifndef ZPARAMDB_H
#define ZPARAMDB_H

#include <QSqlDatabase>
#include <QString>

#include <functional>

// The one thread that owns the settings database connection.
//
// Qt Sql connections may only be used from the thread that created them,
// while the parameter store is called from the GUI, front-panel input and
// CI-V threads. Every piece of database work is therefore handed to this
// thread and the caller waits for it: exec() runs the job with the
// connection and returns when the job has finished. Jobs from several
// threads run one after the other.
class ZParamDb
{
public:
    using Job = std::function<void(QSqlDatabase &db)>;

    // Starts the thread and adds the "QSQLITE" connection on it.
    explicit ZParamDb(const QString &connectionName);
    // Closes the connection, removes it from Qt's registry and ends the thread.
    ~ZParamDb();

    ZParamDb(const ZParamDb &) = delete;
    ZParamDb &operator=(const ZParamDb &) = delete;

    void exec(const Job &job);

    QString connectionName() const { return m_name; }

    // A connection name not in use: "conn_zr450", or a numbered variant when
    // another store of this process already holds that name.
    static QString freeConnectionName(const QString &base);

private:
    class Worker;
    QString m_name;
    Worker *m_worker = nullptr;
};

#endif
