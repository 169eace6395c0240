#include "audio/zvoiceplayer.h"

#include "app/zlog.h"
#include "app/zsystem.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QtEndian>

#include <cstring>

int zvoice_parse_header(const QByteArray &bytes, zvoice_wav_header_t *header)
{
    if (!header || bytes.size() < ZVOICE_HEADER_BYTES)
        return -22;
    const uchar *b = reinterpret_cast<const uchar *>(bytes.constData());
    zvoice_wav_header_t h;
    std::memcpy(h.chunkId, b, 4);
    h.chunkSize = qFromLittleEndian<quint32>(b + 4);
    std::memcpy(h.waveId, b + 8, 4);
    std::memcpy(h.fmtId, b + 12, 4);
    h.fmtSize = qFromLittleEndian<quint32>(b + 16);
    h.audioFormat = qFromLittleEndian<quint16>(b + 20);
    h.channels = qFromLittleEndian<quint16>(b + 22);
    h.sampleRate = qFromLittleEndian<quint32>(b + 24);
    h.byteRate = qFromLittleEndian<quint32>(b + 28);
    h.blockAlign = qFromLittleEndian<quint16>(b + 32);
    h.bitsPerSample = qFromLittleEndian<quint16>(b + 34);
    std::memcpy(h.dataId, b + 36, 4);
    h.dataSize = qFromLittleEndian<quint32>(b + 40);
    // Anything else would go on the air as noise.
    if (std::memcmp(h.chunkId, "RIFF", 4) != 0 || std::memcmp(h.waveId, "WAVE", 4) != 0)
        return -22;
    *header = h;
    return 0;
}

int zvoice_read_header(const QString &path, zvoice_wav_header_t *header)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -2;
    return zvoice_parse_header(f.read(ZVOICE_HEADER_BYTES), header);
}

int zvoice_duration(const zvoice_wav_header_t &header)
{
    // The byte rate already counts every channel.
    if (header.byteRate == 0)
        return 0;
    return int(header.dataSize / header.byteRate);
}

QString zvoice_header_text(const zvoice_wav_header_t &h)
{
    return QStringLiteral("wav header: %1 size=%2 %3 %4 fmtsize=%5 format=%6 channels=%7 rate=%8 byterate=%9 "
                          "align=%10 bits=%11 %12 datasize=%13")
        .arg(QString::fromLatin1(h.chunkId, 4))
        .arg(h.chunkSize)
        .arg(QString::fromLatin1(h.waveId, 4), QString::fromLatin1(h.fmtId, 4))
        .arg(h.fmtSize)
        .arg(h.audioFormat)
        .arg(h.channels)
        .arg(h.sampleRate)
        .arg(h.byteRate)
        .arg(h.blockAlign)
        .arg(h.bitsPerSample)
        .arg(QString::fromLatin1(h.dataId, 4))
        .arg(h.dataSize);
}

QString zvoice_dir()
{
    return zsys::appDir() + QStringLiteral("/voice");
}

QString zvoice_message_name(int n)
{
    return QStringLiteral("voice_msg%1").arg(n, 2, 10, QLatin1Char('0'));
}

QString zvoice_path(const QString &name)
{
    return zvoice_dir() + QLatin1Char('/') + name;
}

// ---------------------------------------------------------------- source

ZVoiceSource::ZVoiceSource(QFile *file, qint64 start, qint64 length, int channels, QObject *parent)
    : QIODevice(parent)
    , m_file(file)
    , m_start(start)
    , m_length(length & ~qint64(1))
    , m_channels(channels == 2 ? 2 : 1)
{
}

qint64 ZVoiceSource::size() const
{
    return m_length * m_channels;
}

bool ZVoiceSource::seek(qint64 pos)
{
    if (pos < 0 || pos > size())
        return false;
    // Stereo positions fall on whole frames of the mono file.
    const qint64 at = pos / m_channels & ~qint64(1);
    if (!m_file->seek(m_start + at))
        return false;
    return QIODevice::seek(at * m_channels);
}

qint64 ZVoiceSource::readData(char *data, qint64 maxSize)
{
    const qint64 done = m_file->pos() - m_start;
    qint64 want = qMin(maxSize / m_channels, m_length - done) & ~qint64(1);
    if (want <= 0)
        return 0;
    if (m_channels == 1) {
        const qint64 n = m_file->read(data, want);
        return n < 0 ? -1 : n & ~qint64(1);
    }
    // Read into the upper half of the buffer, then spread every sample
    // onto both channels from the front, so nothing is overwritten unread.
    char *mono = data + want;
    const qint64 n = m_file->read(mono, want) & ~qint64(1);
    if (n <= 0)
        return n < 0 ? -1 : 0;
    for (qint64 i = 0; i < n; i += 2) {
        const char lo = mono[i];
        const char hi = mono[i + 1];
        data[2 * i] = lo;
        data[2 * i + 1] = hi;
        data[2 * i + 2] = lo;
        data[2 * i + 3] = hi;
    }
    return 2 * n;
}

// ---------------------------------------------------------------- player

ZVoicePlayer::ZVoicePlayer(QObject *parent)
    : QObject(parent)
{
    m_format.setCodec(QStringLiteral("audio/pcm"));
    m_format.setSampleRate(16000);
    m_format.setSampleSize(16);
    m_format.setChannelCount(1);
    m_format.setSampleType(QAudioFormat::SignedInt);
    m_format.setByteOrder(QAudioFormat::LittleEndian);

    QAudioDeviceInfo device;
    bool found = false;
    for (const QAudioDeviceInfo &d : QAudioDeviceInfo::availableDevices(QAudio::AudioOutput)) {
        if (d.deviceName() == QLatin1String(ZVOICE_PLAYBACK_DEVICE)) {
            device = d;
            found = true;
            break;
        }
    }
    if (!found) {
        qCWarning(logAudio) << "can't found playback device";
        return;
    }
    // A device that only takes stereo gets the message on both channels.
    if (!device.isFormatSupported(m_format)) {
        QAudioFormat stereo = m_format;
        stereo.setChannelCount(2);
        if (device.isFormatSupported(stereo)) {
            qCInfo(logAudio) << "playback device takes no mono; voice messages play on both channels";
            m_format = stereo;
        }
    }
    m_output = new QAudioOutput(device, m_format, this);
    connect(m_output, &QAudioOutput::stateChanged, this, &ZVoicePlayer::slot_outputStateChanged);
}

ZVoicePlayer::~ZVoicePlayer()
{
    if (m_output) {
        // Nobody listens any more: stop without passing the state on.
        disconnect(m_output, nullptr, this, nullptr);
        m_output->stop();
        // The output's destructor runs the event loop once, which must not
        // happen while the panel that owns this player is being destroyed.
        m_output->setParent(nullptr);
        m_output->deleteLater();
        m_output = nullptr;
    }
    delete m_source;
    m_file.close();
}

bool ZVoicePlayer::play(const QString &path)
{
    if (!m_output)
        return false;
    if (m_output->state() != QAudio::StoppedState)
        m_output->stop();
    m_file.close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        qCWarning(logAudio) << "can't open" << path;
        return false;
    }
    zvoice_wav_header_t h;
    if (zvoice_parse_header(m_file.read(ZVOICE_HEADER_BYTES), &h) < 0) {
        qCWarning(logAudio) << "can't open" << path << "(no voice recording)";
        m_file.close();
        return false;
    }
    qCInfo(logAudio).noquote() << zvoice_header_text(h);
    const qint64 rest = m_file.size() - ZVOICE_HEADER_BYTES;
    const qint64 length = h.dataSize > 0 && h.dataSize <= rest ? qint64(h.dataSize) : rest;
    m_file.seek(ZVOICE_HEADER_BYTES);
    delete m_source;
    m_source = new ZVoiceSource(&m_file, ZVOICE_HEADER_BYTES, length, m_format.channelCount(), this);
    m_source->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    m_output->start(m_source);
    if (m_output->state() == QAudio::StoppedState) {
        qCWarning(logAudio) << "can't play" << path << "error" << m_output->error();
        m_file.close();
        return false;
    }
    return true;
}

void ZVoicePlayer::stop()
{
    if (m_output)
        m_output->stop();
}

QAudio::State ZVoicePlayer::state() const
{
    return m_output ? m_output->state() : QAudio::StoppedState;
}

QAudio::Error ZVoicePlayer::error() const
{
    return m_output ? m_output->error() : QAudio::OpenError;
}

int ZVoicePlayer::playedSeconds() const
{
    return m_output ? int(m_output->processedUSecs() / 1000000) : 0;
}

void ZVoicePlayer::slot_outputStateChanged(QAudio::State state)
{
    if (state == QAudio::StoppedState)
        m_file.close();
    emit sig_stateChanged(state);
}
