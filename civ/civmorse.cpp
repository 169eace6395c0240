#include "civ/civmorse.h"

#include "modem/morsesender.h"
#include "modem/morsetable.h"
#include "app/zlog.h"

#include <QDebug>
#include <QtGlobal>

CivMorse::~CivMorse()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_queue.clear();
        if (m_current)
            m_current->slot_stop();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

uint32_t CivMorse::unitOf(int wpm)
{
    return uint32_t(1200 / qBound(5, wpm, 50));
}

bool CivMorse::sendable(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() <= 255 && !MorseTable::toMorseCode(char(c.unicode())).isEmpty())
            return true;
    }
    return false;
}

bool CivMorse::send(const QString &text, int wpm)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (int(m_queue.size()) >= kQueueMax) {
            // Once until the keyer has sent everything (or is stopped): a
            // program that keeps sending must not fill the log.
            if (!m_fullLogged)
                qCInfo(logCivDevice) << "civ morse queue full, text refused";
            m_fullLogged = true;
            return false;
        }
        m_queue.push_back(Text{ text, unitOf(wpm) });
        // The thread is started by the first text: a radio never keyed from
        // the port runs none.
        if (!m_thread.joinable())
            m_thread = std::thread(&CivMorse::run, this);
    }
    m_wake.notify_one();
    return true;
}

void CivMorse::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.clear();
    m_fullLogged = false;
    if (m_current)
        m_current->slot_stop();
}

bool CivMorse::busy() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current || !m_queue.empty();
}

void CivMorse::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        if (m_quit)
            return;
        const Text t = m_queue.front();
        m_queue.pop_front();
        MorseSender sender;
        sender.setUnit(t.unit);
        m_current = &sender;
        lock.unlock();
        // Blocks until the text is keyed, or stopped between characters.
        sender.slot_worker(t.text);
        lock.lock();
        m_current = nullptr;
        if (m_queue.empty())
            m_fullLogged = false;
    }
}
