#include "sim/bbaudio.h"

#include "sim/bbboard.h"
#include "sim/bbmic.h"
#include "sim/bbstations.h"
#include "sim/alsa/zsimaudio.h"
#include "modem/zmodem_wav.h"

#include <QByteArray>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Receiver audio is written this far ahead of the sound card's clock: enough
// to ride out a late wake-up, short enough that a retune is heard at once.
const size_t kAheadFrames = 3200;
const size_t kChunk = 256;
// Transmit audio is measured in blocks of 10 ms.
const size_t kTxBlock = 160;
const int kActiveLevel = 328;        // 1 % of full scale
const uint64_t kBurstGapBlocks = 20; // 200 ms of silence ends a burst
// A key-line line longer than this is garbage and skipped.
const size_t kMaxKeyLine = 128;
// The transmit audio kept for "txaudio save": two minutes.
const size_t kMaxRecordFrames = 120 * 16000;

} // namespace

BbAudio::BbAudio(BbBoard *board)
    : m_board(board)
{
}

BbAudio::~BbAudio()
{
    stop();
}

bool BbAudio::start(const QString &root)
{
    const QByteArray r = root.toLocal8Bit();
    m_root = root;
    m_stations.reset(new BbStations);
    m_peer = zsimaudio_create(r.constData());
    if (!m_peer) {
        QTextStream(stderr) << "zr450-bbsim: cannot create the sound card sockets under " << root << "\n";
        return false;
    }

    // The key line: a FIFO we hold open at both ends, so the Morse sender can
    // open it (a FIFO without a reader refuses a non-blocking writer) and our
    // reads never see end-of-file between two senders.
    m_fifo = std::string(r.constData()) + "/dev/gpiochip0";
    struct stat st;
    if (lstat(m_fifo.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode))
        unlink(m_fifo.c_str());
    if (mkfifo(m_fifo.c_str(), 0666) < 0 && errno != EEXIST) {
        QTextStream(stderr) << "zr450-bbsim: cannot create the key line " << QString::fromLocal8Bit(m_fifo.c_str())
                            << ": " << std::strerror(errno) << "\n";
        return false;
    }
    m_keyFd = open(m_fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    m_keyHold = open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_keyFd < 0 || m_keyHold < 0) {
        QTextStream(stderr) << "zr450-bbsim: cannot open the key line: " << std::strerror(errno) << "\n";
        return false;
    }

    m_stop = false;
    m_rx = std::thread([this] { rxLoop(); });
    m_tx = std::thread([this] { txLoop(); });
    m_key = std::thread([this] { keyLoop(); });
    return true;
}

void BbAudio::stop()
{
    m_stop = true;
    for (std::thread *t : {&m_rx, &m_tx, &m_key})
        if (t->joinable())
            t->join();
    if (m_peer)
        zsimaudio_destroy(m_peer);
    m_peer = nullptr;
    for (int *fd : {&m_keyFd, &m_keyHold}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void BbAudio::rxLoop()
{
    std::vector<float> buf(kAheadFrames);
    BbMic mic;
    while (!m_stop) {
        const size_t queued = zsimaudio_capture_queued(m_peer);
        if (queued < kAheadFrames) {
            const size_t n = (kAheadFrames - queued + kChunk - 1) / kChunk * kChunk;
            buf.resize(n);
            const auto regs = m_board->registers();
            if (BbMic::selected(regs.data())) {
                mic.render(buf.data(), n);
            } else {
                const BbListen l = bbstations_listen(regs.data());
                const bool muted = m_board->transmitting() || m_keyLevel.load() == 0;
                m_stations->render(l, buf.data(), n, muted);
            }
            zsimaudio_write_capture_mono(m_peer, buf.data(), n);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void BbAudio::txBlock(const int16_t *frames, size_t n)
{
    int peak = 0;
    double sq = 0;
    for (size_t i = 0; i < n; i++) {
        const int v = frames[2 * i];
        peak = std::max(peak, std::abs(v));
        sq += double(v) * v;
    }
    const bool keyed = peak >= kActiveLevel && m_board->transmitting();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < n && m_txRecord.size() < kMaxRecordFrames; i++)
        m_txRecord.push_back(frames[2 * i]);
    TxStats &s = m_txs;
    s.frames += n;
    s.peak = std::max(s.peak, peak);
    if (peak < kActiveLevel) {
        if (s.inBurst && ++s.quietBlocks >= kBurstGapBlocks)
            s.inBurst = false;
        return;
    }
    s.activeBlocks++;
    if (keyed)
        s.txBlocks++;
    s.sumSquares += sq;
    for (size_t i = 0; i < n; i++) {
        const int v = frames[2 * i];
        const int sign = v > 0 ? 1 : v < 0 ? -1 : 0;
        if (sign && s.lastSign && sign != s.lastSign)
            s.crossings++;
        if (sign)
            s.lastSign = sign;
    }
    if (!s.inBurst) {
        s.inBurst = true;
        s.bursts++;
        s.burstBlocks = 0;
    } else {
        s.burstBlocks += s.quietBlocks; // gaps inside a burst belong to it
    }
    s.burstBlocks++;
    s.quietBlocks = 0;
}

void BbAudio::txLoop()
{
    std::vector<int16_t> buf(2 * 1024);
    std::vector<int16_t> block;
    block.reserve(2 * kTxBlock);
    while (!m_stop) {
        const size_t n = zsimaudio_read_playback(m_peer, buf.data(), 1024, 100);
        if (n == 0) {
            // A stream that stopped (drained, closed) is silence too: it
            // ends the burst in progress.
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_txs.inBurst && (m_txs.quietBlocks += 10) >= kBurstGapBlocks)
                m_txs.inBurst = false;
            continue;
        }
        for (size_t i = 0; i < n; i++) {
            block.push_back(buf[2 * i]);
            block.push_back(buf[2 * i + 1]);
            if (block.size() == 2 * kTxBlock) {
                txBlock(block.data(), kTxBlock);
                block.clear();
            }
        }
    }
}

void BbAudio::keyLine(const char *line)
{
    unsigned long long t = 0;
    unsigned offset = 0;
    int level = -1;
    char extra;
    if (std::sscanf(line, "%llu %u %d %c", &t, &offset, &level, &extra) != 3 || offset != 203
        || (level != 0 && level != 1))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    KeyStats &k = m_keys;
    if (k.seen && level != k.level && t >= k.changedAt) {
        const uint64_t dt = t - k.changedAt;
        if (k.level == 0) {
            k.downNs += dt;
            k.lastDownNs = dt;
            if (!k.dotNs || dt < k.dotNs)
                k.dotNs = dt;
        } else if (k.downs > 0) {
            k.lastUpNs = dt;
        }
    }
    if (level == 0 && (!k.seen || k.level != 0))
        k.downs++;
    if (!k.seen || level != k.level)
        k.changedAt = t;
    k.level = level;
    k.seen = true;
    m_keyLevel = level;
}

void BbAudio::keyLoop()
{
    std::string line;
    bool skipping = false;
    char buf[512];
    while (!m_stop) {
        pollfd p = {m_keyFd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = read(m_keyFd, buf, sizeof buf);
        if (n <= 0)
            continue;
        for (ssize_t i = 0; i < n; i++) {
            const char c = buf[i];
            if (c == '\n') {
                if (!skipping)
                    keyLine(line.c_str());
                line.clear();
                skipping = false;
            } else if (!skipping) {
                line.push_back(c);
                if (line.size() > kMaxKeyLine) {
                    line.clear();
                    skipping = true;
                }
            }
        }
    }
}

QString BbAudio::saveTxAudio()
{
    std::vector<int16_t> samples;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        samples = m_txRecord;
    }
    const QString rel = QStringLiteral("tmp/txaudio.wav");
    if (zwav_write(m_root + QLatin1Char('/') + rel, samples, 16000) < 0)
        return QStringLiteral("error cannot write ") + rel;
    return QStringLiteral("ok file=%1 frames=%2").arg(rel).arg(samples.size());
}

bool BbAudio::command(const QString &name, const QStringList &args, QString *reply)
{
    const bool reset = args.size() == 1 && args[0] == QLatin1String("reset");
    if (name == QLatin1String("txaudio")) {
        const bool save = args.size() == 1 && args[0] == QLatin1String("save");
        if (!args.isEmpty() && !reset && !save) {
            *reply = QStringLiteral("error usage: txaudio [reset|save]");
            return true;
        }
        if (save) {
            *reply = saveTxAudio();
            return true;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (reset) {
            m_txs = TxStats();
            m_txRecord.clear();
            *reply = QStringLiteral("ok");
            return true;
        }
        const TxStats &s = m_txs;
        const double activeS = double(s.activeBlocks * kTxBlock) / 16000.0;
        const double rms = s.activeBlocks ? std::sqrt(s.sumSquares / double(s.activeBlocks * kTxBlock)) : 0.0;
        const double hz = activeS > 0 ? double(s.crossings) / 2.0 / activeS : 0.0;
        *reply = QStringLiteral("ok frames=%1 active_ms=%2 tx_ms=%9 bursts=%3 last_ms=%4 peak=%5 rms=%6 hz=%7 on=%8")
                     .arg(s.frames)
                     .arg(s.activeBlocks * 10)
                     .arg(s.bursts)
                     .arg(s.bursts ? s.burstBlocks * 10 : 0)
                     .arg(s.peak)
                     .arg(qRound(rms))
                     .arg(qRound(hz))
                     .arg(s.inBurst ? 1 : 0)
                     .arg(s.txBlocks * 10);
        return true;
    }
    if (name == QLatin1String("cwkey")) {
        if (!args.isEmpty() && !reset) {
            *reply = QStringLiteral("error usage: cwkey [reset]");
            return true;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (reset) {
            const int level = m_keys.level;
            const uint64_t at = m_keys.changedAt;
            const bool seen = m_keys.seen;
            m_keys = KeyStats();
            m_keys.level = level;
            m_keys.changedAt = at;
            m_keys.seen = seen;
            *reply = QStringLiteral("ok");
            return true;
        }
        const KeyStats &k = m_keys;
        auto ms = [](uint64_t ns) { return qRound64(double(ns) / 1e6); };
        *reply = QStringLiteral("ok level=%1 downs=%2 down_ms=%3 last_down_ms=%4 last_up_ms=%5 dot_ms=%6")
                     .arg(k.level)
                     .arg(k.downs)
                     .arg(ms(k.downNs))
                     .arg(ms(k.lastDownNs))
                     .arg(ms(k.lastUpNs))
                     .arg(ms(k.dotNs));
        return true;
    }
    if (name == QLatin1String("stations")) {
        if (!args.isEmpty()) {
            *reply = QStringLiteral("error stations takes no arguments");
            return true;
        }
        const auto regs = m_board->registers();
        const BbListen l = bbstations_listen(regs.data());
        QString out = QStringLiteral("ok");
        for (int i = 0; i < BbStations::kCount; i++) {
            const BbAudioStation &s = BbStations::stations()[i];
            double a = 0;
            const bool heard = bbstations_audio(l, s.hz, &a, nullptr);
            out += QStringLiteral(" %1=%2:%3")
                       .arg(QLatin1String(s.name))
                       .arg(qint64(s.hz))
                       .arg(heard ? QString::number(qRound(a)) : QStringLiteral("-"));
        }
        *reply = out;
        return true;
    }
    return false;
}
