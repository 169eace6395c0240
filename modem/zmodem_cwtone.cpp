// Keyed CW tone generator.
#include "modem/zmodem_cwtone.h"

#include "modem/cw_dem.h"

#include <math.h>

std::vector<float> cw_keyed_tone(const char *text, float wpm, float pitch, float fs,
                                 float amplitude, float lead_s, float tail_s)
{
    std::vector<float> key; // 0..1 envelope before shaping
    if (wpm < 1)
        wpm = 1;
    const double unit = 1.2 / wpm * fs;
    double t = 0;
    auto keyed = [&](double units, float v) {
        const double end = t + units * unit;
        while ((double)key.size() < end)
            key.push_back(v);
        t = end;
    };
    keyed(lead_s * fs / unit, 0);
    bool first = true;
    for (const char *p = text ? text : ""; *p; ++p) {
        if (*p == ' ') {
            keyed(first ? 0 : 4, 0);
            continue;
        }
        const uint32_t code = morse_char_to_code(*p);
        if (!code)
            continue;
        int top = 30;
        while (top > 0 && !((code >> top) & 2))
            top -= 2;
        for (int b = top; b >= 0; b -= 2) {
            keyed(((code >> b) & 1) ? 3 : 1, 1);
            keyed(1, 0);
        }
        keyed(2, 0);
        first = false;
    }
    keyed(tail_s * fs / unit, 0);

    // Raised-cosine edges of 5 ms.
    const int ramp = (int)(0.005f * fs);
    std::vector<float> out(key.size());
    float env = 0;
    int pos = 0;
    int dir = 0;
    for (size_t i = 0; i < key.size(); i++) {
        const int want = key[i] > 0.5f ? 1 : 0;
        if ((want && env < 1) || (!want && env > 0)) {
            if (dir != (want ? 1 : -1)) {
                dir = want ? 1 : -1;
                pos = (int)lrintf(want ? env * ramp : (1 - env) * ramp);
            }
            pos++;
            const float x = pos >= ramp ? 1.0f : (float)pos / ramp;
            const float shaped = 0.5f - 0.5f * cosf((float)M_PI * x);
            env = want ? shaped : 1 - shaped;
        } else {
            dir = 0;
        }
        out[i] = amplitude * env * (float)sin(fmod(2 * M_PI * pitch * (double)i / fs, 2 * M_PI));
    }
    return out;
}
