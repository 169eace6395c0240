#include "sim/bbtx.h"

#include "sim/bbregs.h"

#include <algorithm>
#include <cmath>
#include <complex>

namespace {

typedef std::complex<double> cplx;

const uint32_t kCtlSplit = 1u << 1;
const uint32_t kCtlSwrScan = 1u << 4;
const uint32_t kCtlAtuEnable = 1u << 12;
const uint32_t kCtlAtuTune = 1u << 13;
const uint32_t kCtlModem = 1u << 14;
const uint32_t kCtlCalibration = 1u << 15;
const uint32_t kCtlExtPtt = 1u << 18;

const double kAntR = 42.0;
const double kAntFr = 14.15e6;
const double kAntQ = 6.0;
const double kZ0 = 50.0;

cplx antenna(double hz)
{
    const double x = kAntR * kAntQ * (hz / kAntFr - kAntFr / hz);
    return cplx(kAntR, x);
}

cplx through(double hz, const BbNetwork &net, cplx zl)
{
    const double w = 2.0 * M_PI * hz;
    const cplx xl(0.0, w * net.l * 0.1e-6);
    const cplx yc(0.0, w * net.c * 10e-12);
    if (net.s) {
        // Capacitor across the antenna, inductor towards the transmitter.
        return 1.0 / (1.0 / zl + yc) + xl;
    }
    return 1.0 / (1.0 / (zl + xl) + yc);
}

double swr_of(cplx z)
{
    const double g = std::abs((z - kZ0) / (z + kZ0));
    if (!(g < 0.999))
        return 99.9;
    return (1.0 + g) / (1.0 - g);
}

} // namespace

double BbTx::frequency(const uint32_t *regs)
{
    return bbregs_dial(regs);
}

bool BbTx::txRequested(const uint32_t *regs)
{
    return regs[12] & (kCtlExtPtt | kCtlModem | kCtlSwrScan | kCtlCalibration);
}

bool BbTx::txAllowed(const uint32_t *regs)
{
    int slot = (regs[13] & 0xFF) == 0 ? 0 : 1;
    if (regs[12] & kCtlSplit)
        slot ^= 1;
    return regs[slot * 6] & 1;
}

double BbTx::swr(double hz, const BbNetwork &net)
{
    if (hz <= 0.0)
        return 99.9;
    return swr_of(through(hz, net, antenna(hz)));
}

BbNetwork BbTx::tune(double hz)
{
    BbNetwork best;
    double bestSwr = swr(hz, best);
    if (hz <= 0.0)
        return best;
    const cplx zl = antenna(hz);
    for (int s = 0; s < 2; ++s) {
        for (int l = 0; l < 256; ++l) {
            for (int c = 0; c < 256; ++c) {
                const BbNetwork n{uint8_t(c), uint8_t(l), uint8_t(s)};
                const double v = swr_of(through(hz, n, zl));
                if (v < bestSwr - 1e-9) {
                    bestSwr = v;
                    best = n;
                }
            }
        }
    }
    return best;
}

void BbTx::onRegisters(const uint32_t *regs, double now)
{
    const uint32_t ctl = regs[12];
    if ((ctl & kCtlAtuTune) && !(m_lastCtl & kCtlAtuTune)) {
        m_running = true;
        m_done = false;
        m_runStart = now;
    } else if (!(ctl & kCtlAtuTune)) {
        m_running = false;
        m_done = false;
    }
    m_lastCtl = ctl;
    if (regs[17] != m_lastAtuWord) {
        m_lastAtuWord = regs[17];
        m_net = BbNetwork{uint8_t(regs[17]), uint8_t(regs[17] >> 8), uint8_t(regs[17] >> 16)};
    }
}

void BbTx::advance(const uint32_t *regs, double now)
{
    if (m_running && now - m_runStart >= kTuneSeconds) {
        m_running = false;
        m_done = true;
        m_net = tune(frequency(regs));
    }
}

BbTxState BbTx::state(const uint32_t *regs) const
{
    BbTxState st;
    st.tuning = m_running;
    st.tuneDone = m_done;
    st.network = m_net;
    st.tx = (txRequested(regs) || m_running) && txAllowed(regs);
    if (!st.tx)
        return st;
    // The tuner measures the bare antenna while it runs.
    const bool inLine = (regs[12] & kCtlAtuEnable) && !m_running;
    const double s = swr(frequency(regs), inLine ? m_net : BbNetwork());
    double set = double((regs[15] >> 8) & 0xFF);
    if (m_running)
        set = std::min(set, 20.0); // tuning carrier: at most 2 W
    // The power amplifier folds back into a bad match.
    const double power = s > 3.0 ? set * 3.0 / s : set;
    st.power = uint8_t(std::lround(std::min(power, 255.0)));
    st.swr = uint8_t(std::lround(std::min(s * 10.0, 255.0)));
    // Speech and modem audio drive the ALC; carriers hardly do.
    const bool audio = regs[12] & (kCtlExtPtt | kCtlModem);
    st.alc = uint8_t(std::lround(std::min(255.0, audio ? 30.0 + power * 1.2 : 5.0)));
    return st;
}
