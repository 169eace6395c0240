#include "sim/alsa/zsimaudio.h"

#include "sim/alsa/zsimaudio_proto.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {

// A burst may start this far ahead of the clock; beyond it frames go out in
// real time.
constexpr double kMaxCredit = ZSA_MAX_FRAMES;
// Playback streams that sent audio this recently are waited for before the
// mix is handed out: each sends in packets at its own moments, and handing
// out a position before a playing stream has filled it would put a gap into
// that stream's audio.
constexpr uint64_t kPlayHoldNs = 150000000ull;

uint64_t nowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

int listenOn(const std::string &path)
{
    sockaddr_un sa{};
    if (path.size() >= sizeof sa.sun_path) {
        std::fprintf(stderr, "zsimaudio: socket path too long: %s\n", path.c_str());
        return -1;
    }
    int s = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    sa.sun_family = AF_UNIX;
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0 || listen(s, 16) < 0) {
        std::fprintf(stderr, "zsimaudio: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        close(s);
        return -1;
    }
    return s;
}

void sendFault(int fd, int err)
{
    const zsa_header_t h = {ZSA_MSG_FAULT, uint32_t(err)};
    (void)!send(fd, &h, sizeof h, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void sendStall(int fd, bool on)
{
    const zsa_header_t h = {ZSA_MSG_STALL, on ? 1u : 0u};
    (void)!send(fd, &h, sizeof h, MSG_DONTWAIT | MSG_NOSIGNAL);
}

struct PlayClient {
    int fd;
    size_t cursor; // frames from the front of the mix where its next frame goes
    uint64_t lastNs; // when it last sent audio (0: never)
};

} // namespace

struct zsimaudio_t {
    std::string capPath, playPath;
    int capListen = -1, playListen = -1, wakeFd = -1;
    std::thread thread;

    std::mutex mu;
    std::condition_variable cv;
    bool stop = false;
    std::deque<int16_t> capQueue; // interleaved stereo
    std::vector<int> capClients;
    std::vector<PlayClient> playClients;
    std::deque<int32_t> mix; // interleaved stereo sums
    int fault[2] = {0, 0};
    bool stall[2] = {false, false};

    void wake()
    {
        const uint64_t one = 1;
        (void)!write(wakeFd, &one, sizeof one);
    }
    void run();
    void acceptAll(int listenFd, zsimaudio_dir_t dir);
    void mixIn(PlayClient &c, const int16_t *frames, size_t n);
    size_t mixReady() const;
    void paceCapture(double &credit, uint64_t &lastNs);
    // A control message to every open stream of a direction (lock held).
    void sendToClients(zsimaudio_dir_t dir, uint32_t type, uint32_t count);
};

void zsimaudio_t::acceptAll(int listenFd, zsimaudio_dir_t dir)
{
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (fault[dir])
            sendFault(fd, fault[dir]);
        if (stall[dir])
            sendStall(fd, true);
        if (dir == ZSIMAUDIO_CAPTURE)
            capClients.push_back(fd);
        else
            playClients.push_back({fd, 0, 0});
    }
}

void zsimaudio_t::mixIn(PlayClient &c, const int16_t *frames, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        const size_t idx = 2 * (c.cursor + i);
        if (idx >= mix.size())
            mix.resize(idx + 2, 0);
        mix[idx] += frames[2 * i];
        mix[idx + 1] += frames[2 * i + 1];
    }
    c.cursor += n;
    c.lastNs = nowNs();
    const size_t frames_held = mix.size() / 2;
    if (frames_held > ZSIMAUDIO_MAX_QUEUED) {
        const size_t drop = frames_held - ZSIMAUDIO_MAX_QUEUED;
        mix.erase(mix.begin(), mix.begin() + std::ptrdiff_t(2 * drop));
        for (PlayClient &p : playClients)
            p.cursor = p.cursor > drop ? p.cursor - drop : 0;
    }
}

// Frames of the mix every playing stream has contributed to; a stream that
// fell silent (stopped, drained, closed) holds nothing back.
size_t zsimaudio_t::mixReady() const
{
    size_t ready = mix.size() / 2;
    const uint64_t now = nowNs();
    for (const PlayClient &c : playClients)
        if (c.lastNs && now - c.lastNs < kPlayHoldNs)
            ready = std::min(ready, c.cursor);
    return ready;
}

void zsimaudio_t::paceCapture(double &credit, uint64_t &lastNs)
{
    const uint64_t now = nowNs();
    credit = std::min(kMaxCredit, credit + double(now - lastNs) * ZSIMAUDIO_RATE / 1e9);
    lastNs = now;
    unsigned char msg[ZSA_MAX_MSG_BYTES];
    while (credit >= 1.0 && !capQueue.empty()) {
        const size_t n = std::min<size_t>({size_t(credit), capQueue.size() / 2, ZSA_MAX_FRAMES});
        const zsa_header_t h = {ZSA_MSG_AUDIO, uint32_t(n)};
        std::memcpy(msg, &h, sizeof h);
        int16_t *out = reinterpret_cast<int16_t *>(msg + ZSA_HEADER_BYTES);
        std::copy(capQueue.begin(), capQueue.begin() + std::ptrdiff_t(2 * n), out);
        capQueue.erase(capQueue.begin(), capQueue.begin() + std::ptrdiff_t(2 * n));
        credit -= double(n);
        for (size_t i = 0; i < capClients.size();) {
            const ssize_t r = send(capClients[i], msg, ZSA_HEADER_BYTES + n * ZSA_FRAME_BYTES,
                                   MSG_DONTWAIT | MSG_NOSIGNAL);
            // A stream with no room loses these frames, as a card's would.
            if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                close(capClients[i]);
                capClients.erase(capClients.begin() + std::ptrdiff_t(i));
                continue;
            }
            i++;
        }
    }
}

void zsimaudio_t::run()
{
    double credit = kMaxCredit;
    uint64_t lastNs = nowNs();
    std::vector<pollfd> fds;
    std::vector<unsigned char> msg(ZSA_MAX_MSG_BYTES);
    std::vector<int16_t> frames(ZSA_MAX_FRAMES * ZSA_CHANNELS);
    for (;;) {
        int timeout;
        {
            std::lock_guard<std::mutex> lock(mu);
            if (stop)
                return;
            fds.clear();
            fds.push_back({wakeFd, POLLIN, 0});
            fds.push_back({capListen, POLLIN, 0});
            fds.push_back({playListen, POLLIN, 0});
            for (int fd : capClients)
                fds.push_back({fd, POLLIN, 0});
            for (const PlayClient &c : playClients)
                fds.push_back({c.fd, POLLIN, 0});
            timeout = capQueue.empty() ? 100 : 4;
        }
        poll(fds.data(), fds.size(), timeout);

        std::lock_guard<std::mutex> lock(mu);
        if (stop)
            return;
        uint64_t ticks;
        while (read(wakeFd, &ticks, sizeof ticks) > 0) {
        }
        acceptAll(capListen, ZSIMAUDIO_CAPTURE);
        acceptAll(playListen, ZSIMAUDIO_PLAYBACK);

        // Capture streams send nothing; reading tells when one has closed.
        for (size_t i = 0; i < capClients.size();) {
            const ssize_t r = recv(capClients[i], msg.data(), msg.size(), MSG_DONTWAIT);
            if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                close(capClients[i]);
                capClients.erase(capClients.begin() + std::ptrdiff_t(i));
                continue;
            }
            i++;
        }

        bool played = false;
        for (size_t i = 0; i < playClients.size();) {
            bool closed = false;
            for (;;) {
                const ssize_t r = recv(playClients[i].fd, msg.data(), msg.size(), MSG_DONTWAIT);
                if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                    break;
                if (r < 0 && errno == EINTR)
                    continue;
                if (r <= 0) {
                    closed = true;
                    break;
                }
                if (size_t(r) < ZSA_HEADER_BYTES)
                    continue;
                zsa_header_t h;
                std::memcpy(&h, msg.data(), sizeof h);
                if (h.type != ZSA_MSG_AUDIO)
                    continue;
                const size_t n = std::min<size_t>(h.count, (size_t(r) - ZSA_HEADER_BYTES) / ZSA_FRAME_BYTES);
                std::memcpy(frames.data(), msg.data() + ZSA_HEADER_BYTES, n * ZSA_FRAME_BYTES);
                mixIn(playClients[i], frames.data(), n);
                played = played || n > 0;
            }
            if (closed) {
                close(playClients[i].fd);
                playClients.erase(playClients.begin() + std::ptrdiff_t(i));
                continue;
            }
            i++;
        }

        paceCapture(credit, lastNs);
        if (played)
            cv.notify_all();
    }
}

zsimaudio_t *zsimaudio_create(const char *sysroot)
{
    if (!sysroot)
        return nullptr;
    std::string root(sysroot);
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    mkdir(root.c_str(), 0755);
    mkdir((root + "/run").c_str(), 0755);

    auto *z = new zsimaudio_t;
    z->capPath = root + ZSA_CAPTURE_SOCKET;
    z->playPath = root + ZSA_PLAYBACK_SOCKET;
    z->capListen = listenOn(z->capPath);
    z->playListen = listenOn(z->playPath);
    z->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (z->capListen < 0 || z->playListen < 0 || z->wakeFd < 0) {
        zsimaudio_destroy(z);
        return nullptr;
    }
    z->thread = std::thread([z] { z->run(); });
    return z;
}

void zsimaudio_destroy(zsimaudio_t *z)
{
    if (!z)
        return;
    {
        std::lock_guard<std::mutex> lock(z->mu);
        z->stop = true;
    }
    z->cv.notify_all();
    if (z->thread.joinable()) {
        z->wake();
        z->thread.join();
    }
    for (int fd : z->capClients)
        close(fd);
    for (const PlayClient &c : z->playClients)
        close(c.fd);
    for (int fd : {z->capListen, z->playListen, z->wakeFd})
        if (fd >= 0)
            close(fd);
    if (z->capListen >= 0)
        unlink(z->capPath.c_str());
    if (z->playListen >= 0)
        unlink(z->playPath.c_str());
    delete z;
}

size_t zsimaudio_write_capture(zsimaudio_t *z, const int16_t *frames, size_t n)
{
    if (!z || !frames)
        return 0;
    {
        std::lock_guard<std::mutex> lock(z->mu);
        n = std::min(n, ZSIMAUDIO_MAX_QUEUED - z->capQueue.size() / 2);
        z->capQueue.insert(z->capQueue.end(), frames, frames + 2 * n);
    }
    z->wake();
    return n;
}

size_t zsimaudio_write_capture_mono(zsimaudio_t *z, const float *samples, size_t n)
{
    if (!z || !samples)
        return 0;
    std::vector<int16_t> frames(2 * n);
    for (size_t i = 0; i < n; i++) {
        const float v = std::max(-1.0f, std::min(1.0f, samples[i]));
        frames[2 * i] = frames[2 * i + 1] = int16_t(std::lrint(v * 32767.0f));
    }
    return zsimaudio_write_capture(z, frames.data(), n);
}

size_t zsimaudio_capture_queued(zsimaudio_t *z)
{
    if (!z)
        return 0;
    std::lock_guard<std::mutex> lock(z->mu);
    return z->capQueue.size() / 2;
}

size_t zsimaudio_read_playback(zsimaudio_t *z, int16_t *frames, size_t max, int timeout_ms)
{
    if (!z || !frames || !max)
        return 0;
    std::unique_lock<std::mutex> lock(z->mu);
    // Waits in short steps: a stream falling silent releases the mix by the
    // passing of time, not by an event.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeout_ms));
    while (!z->stop && z->mixReady() == 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= end)
            break;
        z->cv.wait_for(lock, std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(10)));
    }
    const size_t n = std::min(max, z->mixReady());
    for (size_t i = 0; i < 2 * n; i++)
        frames[i] = int16_t(std::max(-32768, std::min(32767, z->mix[i])));
    z->mix.erase(z->mix.begin(), z->mix.begin() + std::ptrdiff_t(2 * n));
    for (PlayClient &c : z->playClients)
        c.cursor = c.cursor > n ? c.cursor - n : 0;
    return n;
}

int zsimaudio_clients(zsimaudio_t *z, zsimaudio_dir_t dir)
{
    if (!z)
        return 0;
    std::lock_guard<std::mutex> lock(z->mu);
    return int(dir == ZSIMAUDIO_CAPTURE ? z->capClients.size() : z->playClients.size());
}

bool zsimaudio_wait_clients(zsimaudio_t *z, zsimaudio_dir_t dir, int n, int timeout_ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (zsimaudio_clients(z, dir) >= n)
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void zsimaudio_t::sendToClients(zsimaudio_dir_t dir, uint32_t type, uint32_t count)
{
    const zsa_header_t h = {type, count};
    auto send1 = [&h](int fd) { (void)!send(fd, &h, sizeof h, MSG_DONTWAIT | MSG_NOSIGNAL); };
    if (dir == ZSIMAUDIO_CAPTURE) {
        for (int fd : capClients)
            send1(fd);
    } else {
        for (const PlayClient &c : playClients)
            send1(c.fd);
    }
}

void zsimaudio_set_fault(zsimaudio_t *z, zsimaudio_dir_t dir, int err)
{
    if (!z)
        return;
    std::lock_guard<std::mutex> lock(z->mu);
    z->fault[dir] = err;
    z->sendToClients(dir, ZSA_MSG_FAULT, uint32_t(err));
}

void zsimaudio_set_stall(zsimaudio_t *z, zsimaudio_dir_t dir, bool on)
{
    if (!z)
        return;
    std::lock_guard<std::mutex> lock(z->mu);
    z->stall[dir] = on;
    z->sendToClients(dir, ZSA_MSG_STALL, on ? 1u : 0u);
}
