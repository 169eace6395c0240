#ifndef ZMODEM_RING_H
#define ZMODEM_RING_H

#include <atomic>

// Character queue between a demodulator (one writer thread) and the dialog
// (one reader thread). When the reader falls behind, the writer drops the
// oldest unread character, so the newest N - 1 characters are kept. Both
// indices move only by compare-and-swap of the read index or by their own
// thread, which keeps the hand-over free of races without a lock.
template <unsigned N>
class ZModemRing
{
public:
    void clear()
    {
        m_read.store(m_write.load(std::memory_order_relaxed), std::memory_order_release);
    }

    void put(char c)
    {
        const unsigned w = m_write.load(std::memory_order_relaxed);
        const unsigned next = (w + 1) % N;
        unsigned r = m_read.load(std::memory_order_acquire);
        // Full: drop the oldest character unless the reader just took it.
        while (next == r && !m_read.compare_exchange_weak(r, (r + 1) % N, std::memory_order_acq_rel))
            ;
        m_buf[w].store(c, std::memory_order_relaxed);
        m_write.store(next, std::memory_order_release);
    }

    // Pops one character; 0 when the queue is empty.
    int get(char *out)
    {
        unsigned r = m_read.load(std::memory_order_acquire);
        for (;;) {
            if (r == m_write.load(std::memory_order_acquire))
                return 0;
            const char c = m_buf[r].load(std::memory_order_relaxed);
            if (m_read.compare_exchange_weak(r, (r + 1) % N, std::memory_order_acq_rel)) {
                if (out)
                    *out = c;
                return 1;
            }
            // The writer dropped this one meanwhile; r now holds the new index.
        }
    }

    unsigned size() const
    {
        const unsigned w = m_write.load(std::memory_order_acquire);
        const unsigned r = m_read.load(std::memory_order_acquire);
        return (w + N - r) % N;
    }

    static constexpr unsigned capacity() { return N - 1; }

private:
    std::atomic<char> m_buf[N] = {};
    std::atomic<unsigned> m_write{0};
    std::atomic<unsigned> m_read{0};
};

#endif
