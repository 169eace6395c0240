#include "sim/bbciv.h"

#include "sim/bbpty.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

BbCiv::~BbCiv()
{
    stop();
}

bool BbCiv::openEnd(End &end, const QString &link)
{
    end.master = bbpty_open(link, B19200, nullptr);
    if (end.master < 0)
        return false;
    end.link = link;
    return true;
}

bool BbCiv::start(const QString &devDir, const QStringList &names)
{
    m_pairs.resize(size_t(names.size()));
    for (int i = 0; i < names.size(); ++i) {
        Pair &p = m_pairs[size_t(i)];
        if (!openEnd(p.radio, devDir + QLatin1Char('/') + names.at(i))
            || !openEnd(p.host, devDir + QLatin1Char('/') + names.at(i) + QStringLiteral(".host")))
            return false;
    }
    m_stop = false;
    m_thread = std::thread(&BbCiv::run, this);
    return true;
}

void BbCiv::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (Pair &p : m_pairs) {
        for (End *e : { &p.radio, &p.host }) {
            if (!e->link.isEmpty())
                QFile::remove(e->link);
            if (e->master >= 0)
                close(e->master);
            e->master = -1;
            e->link.clear();
        }
    }
    m_pairs.clear();
}

// Moves what one end's user wrote to the other end. A master reads EIO while
// nobody holds its end open.
void BbCiv::pump(End &from, End &to)
{
    char buf[4096];
    for (;;) {
        const ssize_t r = read(from.master, buf, sizeof(buf));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            from.present = errno != EIO;
            return;
        }
        if (r == 0)
            return;
        from.present = true;
        if (!to.present)
            continue; // nothing plugged in on the other side
        // A reader that keeps up takes everything; the rest is lost.
        ssize_t off = 0;
        while (off < r) {
            const ssize_t w = write(to.master, buf + off, size_t(r - off));
            if (w <= 0)
                break;
            off += w;
        }
    }
}

void BbCiv::run()
{
    using clock = std::chrono::steady_clock;
    auto lastProbe = clock::now();
    std::vector<pollfd> fds;
    std::vector<End *> ends;
    while (!m_stop) {
        fds.clear();
        ends.clear();
        for (Pair &p : m_pairs) {
            for (End *e : { &p.radio, &p.host }) {
                if (e->present) {
                    fds.push_back({ e->master, POLLIN, 0 });
                    ends.push_back(e);
                }
            }
        }
        poll(fds.data(), nfds_t(fds.size()), 5);
        // Ends without a user are probed every few milliseconds (their
        // master would report a hang-up on every poll).
        const bool probe = clock::now() - lastProbe >= std::chrono::milliseconds(5);
        if (probe)
            lastProbe = clock::now();
        for (Pair &p : m_pairs) {
            if (probe || p.radio.present)
                pump(p.radio, p.host);
            if (probe || p.host.present)
                pump(p.host, p.radio);
        }
    }
}
