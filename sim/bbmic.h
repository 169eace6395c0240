#ifndef BBMIC_H
#define BBMIC_H

#include <cstddef>
#include <cstdint>

// The radio's microphone as the simulator plays it. While the register
// block asks for the voice-recording source (control word bit 3), the board
// routes the microphone to the sound card: the receiver audio on
// "mixcapture" is then this known signal instead of the receiver, so a
// recording made from it can be checked.
//
// The signal: a steady tone of kHz at kLevel (peak, full scale 1) on both
// channels, continuous in phase from one block to the next.
class BbMic
{
public:
    static constexpr double kHz = 800.0;
    static constexpr float kLevel = 0.4f;
    static constexpr uint32_t kControlBit = 1u << 3;

    // Whether the 56 register words ask for the microphone.
    static bool selected(const uint32_t *regs) { return regs[12] & kControlBit; }

    // The next n mono samples at 16 kHz.
    void render(float *out, size_t n);

private:
    double m_phase = 0.0;
};

#endif
