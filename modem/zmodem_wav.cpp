// WAV reading and writing for the modem tool.
#include "modem/zmodem_wav.h"

#include <QFile>

#include <string.h>

static uint32_t le32(const char *p)
{
    const unsigned char *u = (const unsigned char *)p;
    return u[0] | (u[1] << 8) | (u[2] << 16) | ((uint32_t)u[3] << 24);
}

static uint16_t le16(const char *p)
{
    const unsigned char *u = (const unsigned char *)p;
    return (uint16_t)(u[0] | (u[1] << 8));
}

int zwav_parse(const QByteArray &data, std::vector<float> *left, zwav_info_t *info, QString *error)
{
    auto fail = [&](int code, const QString &why) {
        if (error)
            *error = why;
        return code;
    };
    const char *d = data.constData();
    const size_t size = (size_t)data.size();
    if (size < 12 || memcmp(d, "RIFF", 4) != 0 || memcmp(d + 8, "WAVE", 4) != 0)
        return fail(-22, QStringLiteral("not a WAV file"));

    bool haveFmt = false;
    zwav_info_t fmt = {0, 0, 0};
    size_t pos = 12;
    while (pos + 8 <= size) {
        const char *id = d + pos;
        const size_t len = le32(d + pos + 4);
        const size_t body = pos + 8;
        const size_t avail = size - body;
        if (memcmp(id, "fmt ", 4) == 0) {
            if (len < 16 || len > avail)
                return fail(-22, QStringLiteral("broken format chunk"));
            uint16_t tag = le16(d + body);
            fmt.channels = le16(d + body + 2);
            fmt.rate = (int)le32(d + body + 4);
            fmt.bits = le16(d + body + 14);
            // WAVE_FORMAT_EXTENSIBLE carries the real format in its sub-format.
            if (tag == 0xFFFE && len >= 26)
                tag = le16(d + body + 24);
            if (tag != 1)
                return fail(-95, QStringLiteral("only PCM audio is supported"));
            haveFmt = true;
        } else if (memcmp(id, "data", 4) == 0) {
            if (!haveFmt)
                return fail(-22, QStringLiteral("data before the format chunk"));
            if (fmt.bits != 16)
                return fail(-95, QStringLiteral("only 16-bit samples are supported (file has %1)").arg(fmt.bits));
            if (fmt.channels != 1 && fmt.channels != 2)
                return fail(-95, QStringLiteral("only mono or stereo is supported (file has %1 channels)")
                                     .arg(fmt.channels));
            // A length beyond the end (streams written without a final
            // size) means "up to the end of the file".
            const size_t n = len > avail ? avail : len;
            const size_t frame = 2 * (size_t)fmt.channels;
            const size_t frames = n / frame;
            if (left) {
                left->resize(frames);
                for (size_t i = 0; i < frames; i++)
                    (*left)[i] = (float)(int16_t)le16(d + body + i * frame);
            }
            if (info)
                *info = fmt;
            return 0;
        }
        if (len > avail)
            break;
        pos = body + len + (len & 1);
    }
    return fail(-22, haveFmt ? QStringLiteral("no data chunk") : QStringLiteral("no format chunk"));
}

int zwav_read(const QString &path, std::vector<float> *left, zwav_info_t *info, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return -2;
    }
    if (f.size() > (qint64)1 << 30) {
        if (error)
            *error = QStringLiteral("file too large");
        return -27;
    }
    return zwav_parse(f.readAll(), left, info, error);
}

int zwav_write(const QString &path, const std::vector<int16_t> &samples, int rate)
{
    const uint32_t dataLen = (uint32_t)(samples.size() * 2);
    QByteArray h;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; i++)
            h.append(char((v >> (8 * i)) & 0xff));
    };
    auto put16 = [&](uint16_t v) {
        h.append(char(v & 0xff));
        h.append(char(v >> 8));
    };
    h.append("RIFF");
    put32(36 + dataLen);
    h.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32((uint32_t)rate);
    put32((uint32_t)rate * 2);
    put16(2);
    put16(16);
    h.append("data");
    put32(dataLen);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return -13;
    QByteArray body(dataLen, 0);
    for (size_t i = 0; i < samples.size(); i++) {
        const uint16_t v = (uint16_t)samples[i];
        body[(int)(2 * i)] = char(v & 0xff);
        body[(int)(2 * i + 1)] = char(v >> 8);
    }
    // The last bytes may sit in the file's buffer until the flush: a full
    // disk shows there.
    if (f.write(h) != h.size() || f.write(body) != body.size() || !f.flush())
        return -5;
    return 0;
}
