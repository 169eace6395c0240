#ifndef ZMODEM_WAV_H
#define ZMODEM_WAV_H

// Minimal WAV support for the modem tool and its tests: 16-bit PCM, mono or
// stereo, read into the left channel; written as mono.

#include <QByteArray>
#include <QString>

#include <stdint.h>
#include <vector>

typedef struct {
    int rate;
    int channels;
    int bits;
} zwav_info_t;

// Parses a WAV image. Only 16-bit PCM with one or two channels is accepted;
// the samples of the first channel go to `left` as raw 16-bit values.
// Returns 0, or -22 (invalid data) / -95 (unsupported format) with a reason.
int zwav_parse(const QByteArray &data, std::vector<float> *left, zwav_info_t *info, QString *error);

// Reads a file with zwav_parse; -2 when it cannot be read.
int zwav_read(const QString &path, std::vector<float> *left, zwav_info_t *info, QString *error);

// Writes 16-bit mono PCM.
int zwav_write(const QString &path, const std::vector<int16_t> &samples, int rate);

#endif
