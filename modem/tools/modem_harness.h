#ifndef MODEM_HARNESS_H
#define MODEM_HARNESS_H

// Signal generation, a noisy channel and decoding loops for measuring the
// modems: shared by the tests and the benchmarks. Decoders are fed like the
// modem host feeds them: blocks of 1024 raw 16-bit sample values.

#include <QByteArray>
#include <QString>

#include <stdint.h>
#include <vector>

namespace zmh {

const int kRate = 16000;
const unsigned kBlock = 1024;

// Modulator outputs in -1..1, at most max_s seconds of them.
std::vector<float> rtty_signal(const QByteArray &text, float fc, float rate, float shift, double max_s = 600);
std::vector<float> psk_signal(const QString &text, float fc, int rateIndex, double max_s = 600);
std::vector<float> cw_signal(const QByteArray &text, float wpm, float pitch);

// Mean power of the samples whose magnitude envelope is on (above 1% of the
// peak over a short window); for a keyed tone that is the key-down power.
double active_power(const std::vector<float> &s);

// Receiver audio on the host's 16-bit scale: the unit-scale signal s with
// white Gaussian noise (flat to fs/2) of RMS noise_rms, the signal scaled so
// that its power over the noise power in a 3 kHz bandwidth is snr_db. With
// snr_db >= 100 no noise is added and the signal peak is 5000. Values are
// rounded and limited to 16 bits. `lead_s` seconds of noise come first.
// `power`, when positive, is taken as the signal power instead of
// active_power(s) (a faded signal keeps the power it had before fading).
std::vector<float> channel(const std::vector<float> &s, double snr_db, double noise_rms,
                           uint32_t seed, double lead_s = 0.5, double tail_s = 1.0, double power = 0);

// A two-path fading channel (Watterson's model): two paths of equal mean
// power with independent complex Gaussian gains whose Doppler spectra are
// Gaussian with the given spread (twice their standard deviation), the
// second path delayed by delay_s. The mean power is that of s. The CCIR
// "moderate" HF channel is 0.5 Hz and 1 ms.
std::vector<float> fading(const std::vector<float> &s, double spread_hz, double delay_s, uint32_t seed);

// Decoding loops. Characters are kept only when produced while the block
// end lies in the window [from, to) (sample indices): the modem dialog shows
// characters only while the squelch is open, and the measurements take the
// squelch as open exactly while the signal is on.
struct Window {
    size_t from = 0;
    size_t to = (size_t)-1;
};
QByteArray decode_rtty(const std::vector<float> &x, float fc, float rate, float shift, Window w = {});
QByteArray decode_psk(const std::vector<float> &x, float fc, int rateIndex, bool afc,
                      float *freqOut = nullptr, int *qualityOut = nullptr, Window w = {});
QByteArray decode_cw(const std::vector<float> &x, float tone, unsigned *wpmOut = nullptr, Window w = {});

// Upper-cases, maps CR/LF/tabs to spaces, drops bytes 254/255 and the RTTY
// NUL mark '<', collapses spaces and trims.
QByteArray normalise(const QByteArray &text);

// Character error rate: edit distance of the normalised texts over the
// length of the sent text.
double cer(const QByteArray &sent, const QByteArray &got);

// A reproducible text of common words, about `chars` characters long.
QByteArray sample_text(int chars, uint32_t seed, bool with_figures);

} // namespace zmh

#endif
