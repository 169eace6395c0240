#include "zparamdb.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QWaitCondition>

#include <deque>

namespace {

QMutex g_namesMutex;
QSet<QString> g_names; // connection names held by live ZParamDb objects

struct PendingJob
{
    const ZParamDb::Job *job;
    bool done = false;
};

} // namespace

class ZParamDb::Worker : public QThread
{
public:
    explicit Worker(const QString &name)
        : m_name(name)
    {
        setObjectName(QStringLiteral("zparam-db"));
    }

    void exec(const Job &job)
    {
        if (QThread::currentThread() == this) {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            job(db);
            return;
        }
        PendingJob pending;
        pending.job = &job;
        QMutexLocker lock(&m_mutex);
        m_queue.push_back(&pending);
        m_wake.wakeAll();
        while (!pending.done)
            m_doneCond.wait(&m_mutex);
    }

    void stop()
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_wake.wakeAll();
    }

protected:
    void run() override
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
            for (;;) {
                PendingJob *pending = nullptr;
                {
                    QMutexLocker lock(&m_mutex);
                    while (m_queue.empty() && !m_stop)
                        m_wake.wait(&m_mutex);
                    if (m_queue.empty())
                        break;
                    pending = m_queue.front();
                    m_queue.pop_front();
                }
                (*pending->job)(db);
                QMutexLocker lock(&m_mutex);
                pending->done = true;
                m_doneCond.wakeAll();
            }
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

private:
    QString m_name;
    QMutex m_mutex;
    QWaitCondition m_wake;
    QWaitCondition m_doneCond;
    std::deque<PendingJob *> m_queue;
    bool m_stop = false;
};

ZParamDb::ZParamDb(const QString &connectionName)
    : m_name(connectionName)
{
    {
        QMutexLocker lock(&g_namesMutex);
        g_names.insert(m_name);
    }
    m_worker = new Worker(m_name);
    m_worker->start();
}

ZParamDb::~ZParamDb()
{
    m_worker->stop();
    m_worker->wait();
    delete m_worker;
    QMutexLocker lock(&g_namesMutex);
    g_names.remove(m_name);
}

void ZParamDb::exec(const Job &job)
{
    m_worker->exec(job);
}

QString ZParamDb::freeConnectionName(const QString &base)
{
    QMutexLocker lock(&g_namesMutex);
    QString name = base;
    for (int n = 2; g_names.contains(name) || QSqlDatabase::contains(name); ++n)
        name = QStringLiteral("%1-%2").arg(base).arg(n);
    g_names.insert(name); // reserved until the ZParamDb of that name ends
    return name;
}
