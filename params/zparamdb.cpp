#include "params/zparamdb.h"

#include <QSet>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

std::mutex g_namesMutex;
QSet<QString> g_names; // connection names held by live ZParamDb objects

struct PendingJob
{
    const ZParamDb::Job *job;
    bool done = false;
};

} // namespace

// A plain thread with a job queue: it needs no event loop, and joining it
// is an ordinary thread join.
class ZParamDb::Worker
{
public:
    explicit Worker(const QString &name)
        : m_name(name)
        , m_thread(&Worker::run, this)
    {
    }

    ~Worker()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
            m_wake.notify_all();
        }
        m_thread.join();
    }

    void exec(const Job &job)
    {
        if (std::this_thread::get_id() == m_thread.get_id()) {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            job(db);
            return;
        }
        PendingJob pending;
        pending.job = &job;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_queue.push_back(&pending);
        m_wake.notify_all();
        m_doneCond.wait(lock, [&pending] { return pending.done; });
    }

private:
    void run()
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
            for (;;) {
                PendingJob *pending = nullptr;
                {
                    std::unique_lock<std::mutex> lock(m_mutex);
                    m_wake.wait(lock, [this] { return !m_queue.empty() || m_stop; });
                    if (m_queue.empty())
                        break;
                    pending = m_queue.front();
                    m_queue.pop_front();
                }
                (*pending->job)(db);
                std::lock_guard<std::mutex> lock(m_mutex);
                pending->done = true;
                m_doneCond.notify_all();
            }
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

    QString m_name;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_doneCond;
    std::deque<PendingJob *> m_queue;
    bool m_stop = false;
    std::thread m_thread; // last: starts once everything above exists
};

ZParamDb::ZParamDb(const QString &connectionName)
    : m_name(connectionName)
{
    {
        std::lock_guard<std::mutex> lock(g_namesMutex);
        g_names.insert(m_name);
    }
    m_worker = new Worker(m_name);
}

ZParamDb::~ZParamDb()
{
    delete m_worker;
    std::lock_guard<std::mutex> lock(g_namesMutex);
    g_names.remove(m_name);
}

void ZParamDb::exec(const Job &job)
{
    m_worker->exec(job);
}

QString ZParamDb::freeConnectionName(const QString &base)
{
    std::lock_guard<std::mutex> lock(g_namesMutex);
    QString name = base;
    for (int n = 2; g_names.contains(name) || QSqlDatabase::contains(name); ++n)
        name = QStringLiteral("%1-%2").arg(base).arg(n);
    g_names.insert(name); // reserved until the ZParamDb of that name ends
    return name;
}
