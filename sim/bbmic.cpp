#include "sim/bbmic.h"

#include <cmath>

void BbMic::render(float *out, size_t n)
{
    const double step = 2.0 * M_PI * kHz / 16000.0;
    for (size_t i = 0; i < n; i++) {
        out[i] = float(kLevel * std::sin(m_phase));
        m_phase += step;
        if (m_phase >= 2.0 * M_PI)
            m_phase -= 2.0 * M_PI;
    }
}
