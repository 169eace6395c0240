#ifndef ZMODEM_CWTONE_H
#define ZMODEM_CWTONE_H

// Keyed CW tone for text: standard timing (dot = 1.2/wpm s, dash 3 dots,
// element gap 1, character gap 3, word gap 7) with 5 ms raised-cosine edges
// so the keying stays click-free. Characters without a Morse code are
// skipped. Used by the modem tool to write CW recordings.

#include <vector>

std::vector<float> cw_keyed_tone(const char *text, float wpm, float pitch, float fs,
                                 float amplitude, float lead_s, float tail_s);

#endif
