#ifndef BBTX_H
#define BBTX_H

#include <cstdint>

// Transmit side of the base-band board, from the register block it was
// sent: whether it transmits, the power, SWR and ALC it reports, and the
// antenna tuner with its runs.
//
// Antenna: a series-resonant antenna (42 ohm at 14.15 MHz, Q 6), so the SWR
// is about 1.2 on 20 m and climbs steeply away from it. Tuner: an L network
// of a series inductor (l x 0.1 uH) and a shunt capacitor (c x 10 pF) on the
// transmitter side (s = 0) or the antenna side (s = 1); {0, 0, 0} is the
// bypass. It is in the line while the tuner is enabled (control bit 12).
//
// A tune request (control bit 13 rising) starts a run of about two seconds
// during which the board transmits a carrier and the tuner is busy; then it
// has found the network that matches the antenna best at that frequency,
// uses it and reports it, and raises the tuner status bit of the frames
// until the request is withdrawn. (The window polls that bit to collect the
// result, so it marks a finished run.) A network written to word 17 is used
// from then on, like one recalled from the tuner memory.
struct BbNetwork {
    uint8_t c = 0;
    uint8_t l = 0;
    uint8_t s = 0;
};

struct BbTxState {
    bool tx = false;        // transmitting
    bool tuning = false;    // a tuner run is in progress
    bool tuneDone = false;  // the run finished; the request is still set
    uint8_t power = 0;      // forward power, 0.1 W
    uint8_t swr = 0;        // SWR x 10
    uint8_t alc = 0;        // raw
    BbNetwork network;      // the network in use / found
};

class BbTx
{
public:
    static constexpr double kTuneSeconds = 2.0;

    // Follows the register block after a bus write: tune-request edges and
    // a newly written tuner network. now is in seconds.
    void onRegisters(const uint32_t *regs, double now);
    // Ends a run whose time is up.
    void advance(const uint32_t *regs, double now);
    // What the board reports now (no side effects).
    BbTxState state(const uint32_t *regs) const;

    // The operating frequency the register block describes, Hz.
    static double frequency(const uint32_t *regs);
    // Whether the control word asks for transmission, and whether the
    // transmitting VFO slot lies in an amateur band (words 0 and 6).
    static bool txRequested(const uint32_t *regs);
    static bool txAllowed(const uint32_t *regs);

    // SWR of the antenna through the network at hz.
    static double swr(double hz, const BbNetwork &net);
    // The network with the lowest SWR at hz.
    static BbNetwork tune(double hz);

private:
    uint32_t m_lastCtl = 0;
    uint32_t m_lastAtuWord = 0;
    bool m_running = false;
    bool m_done = false;
    double m_runStart = 0.0;
    BbNetwork m_net;
};

#endif
