#ifndef CIVMORSE_H
#define CIVMORSE_H

// The CW keyer behind the CI-V request 17h (send Morse): the texts a CAT
// program sends are keyed one after the other through the Morse sender, on
// a thread of its own so that the interpreter keeps answering meanwhile.
//
// Each text gets its own MorseSender (a stopped sender stays stopped), with
// the unit the modem dialog uses: trunc(1200 / WPM), the speed limited to
// 5..50. stop() ends the text being sent before its next character and
// drops the queued ones.

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

class MorseSender;

class CivMorse
{
public:
    // At most this many texts wait behind the one being sent; a CAT
    // program that keeps sending faster than the key runs is refused.
    static constexpr int kQueueMax = 8;

    CivMorse() = default;
    // Stops sending and waits for the sender thread (the character being
    // keyed is finished).
    ~CivMorse();
    CivMorse(const CivMorse &) = delete;
    CivMorse &operator=(const CivMorse &) = delete;

    // Element length in ms of a keyer speed in WPM.
    static uint32_t unitOf(int wpm);
    // True when the text holds at least one character the Morse table has a
    // pattern for.
    static bool sendable(const QString &text);

    // Queues the text at the speed; false (nothing queued) when the queue
    // is full.
    bool send(const QString &text, int wpm);
    void stop();
    // A text is being keyed or waits.
    bool busy() const;

private:
    struct Text
    {
        QString text;
        uint32_t unit;
    };
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Text> m_queue;
    MorseSender *m_current = nullptr; // owned by the thread while it keys
    bool m_quit = false;
    bool m_fullLogged = false;
    std::thread m_thread;
};

#endif
