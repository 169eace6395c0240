#include "sim/bbboard.h"

#include "sim/bbrf.h"
#include "radio/zcrc.h"
#include "radio/bbframe.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

const char kIdent[] = "ZR450 BASEBAND FW V1.20 (zr450-bbsim) HW A1 SN 0000450";

// Seconds of line time per frame at the nominal rate: the phase clock of
// the receive model.
const double kFramePeriod = BBFRAME_SIZE * 10.0 / 1152000.0;

double now_s()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

BbBoard::BbBoard()
    : m_rng(450)
{
    std::memcpy(m_ident, kIdent, sizeof(kIdent));
    // Factory calibration: unity gains and zero offsets, sealed with the CRC.
    for (int i = 0; i < kCalibWords - 1; ++i)
        m_calib[i] = (i % 4 == 0) ? 0x3F800000u : 0u;
    m_calib[kCalibWords - 1] = zcrc::calCRC32_STM32(m_calib, kCalibWords - 1);
}

void BbBoard::setCalibrationFile(const QString &path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calibFile = path;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = f.read(sizeof(m_calib) + 1);
    if (data.size() != int(sizeof(m_calib))) {
        QTextStream(stderr) << "zr450-bbsim: ignoring calibration file of wrong size " << path << "\n";
        return;
    }
    uint32_t words[kCalibWords];
    for (int i = 0; i < kCalibWords; ++i)
        words[i] = bbframe_get_u32(reinterpret_cast<const uint8_t *>(data.constData()) + 4 * i);
    if (zcrc::calCRC32_STM32(words, kCalibWords - 1) != words[kCalibWords - 1]) {
        QTextStream(stderr) << "zr450-bbsim: ignoring calibration file with a bad CRC " << path << "\n";
        return;
    }
    std::memcpy(m_calib, words, sizeof(m_calib));
}

void BbBoard::writeByte(uint16_t addr, uint8_t b)
{
    if (addr < kRegWords * 4) {
        const int w = addr / 4, shift = 8 * (addr % 4);
        m_regs[w] = (m_regs[w] & ~(0xFFu << shift)) | uint32_t(b) << shift;
    } else if (addr >= kCalibAddress && addr < kCalibAddress + kCalibWords * 4) {
        const int off = addr - kCalibAddress, w = off / 4, shift = 8 * (off % 4);
        m_calib[w] = (m_calib[w] & ~(0xFFu << shift)) | uint32_t(b) << shift;
    } else if (addr == kCmdAddress) {
        command(b);
    }
}

uint8_t BbBoard::readByte(uint16_t addr) const
{
    if (addr < sizeof(m_ident))
        return m_ident[addr];
    if (addr >= kCalibAddress && addr < kCalibAddress + kCalibWords * 4) {
        const int off = addr - kCalibAddress;
        return uint8_t(m_calib[off / 4] >> (8 * (off % 4)));
    }
    return 0;
}

void BbBoard::command(uint8_t cmd)
{
    if (cmd != 0x01) {
        QTextStream(stdout) << "zr450-bbsim: command 0x" << QString::number(cmd, 16) << " ignored\n";
        return;
    }
    // Store the calibration block, if it is sealed correctly.
    if (zcrc::calCRC32_STM32(m_calib, kCalibWords - 1) != m_calib[kCalibWords - 1]) {
        QTextStream(stdout) << "zr450-bbsim: calibration block has a bad CRC, not stored\n";
        return;
    }
    if (m_calibFile.isEmpty())
        return;
    QDir().mkpath(QFileInfo(m_calibFile).absolutePath());
    QSaveFile f(m_calibFile);
    QByteArray data(sizeof(m_calib), 0);
    for (int i = 0; i < kCalibWords; ++i)
        bbframe_put_u32(reinterpret_cast<uint8_t *>(data.data()) + 4 * i, m_calib[i]);
    if (f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.commit())
        QTextStream(stdout) << "zr450-bbsim: calibration block stored\n";
    else
        QTextStream(stderr) << "zr450-bbsim: cannot store calibration in " << m_calibFile << "\n";
}

int BbBoard::i2cWrite(uint16_t slave, const uint8_t *data, size_t len)
{
    if (slave != kSlaveAddress)
        return -ENXIO;
    std::function<void()> powerOff;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (len < 2)
            return 0; // no complete address: nothing happens
        m_pointer = uint16_t(data[0] << 8 | data[1]);
        for (size_t i = 2; i < len; ++i)
            writeByte(m_pointer++, data[i]);
        m_txModel.onRegisters(m_regs, now_s());
        if ((m_regs[12] & (1u << 16)) && !m_powerOff) {
            m_powerOff = true;
            powerOff = m_onPowerOff;
        }
    }
    if (powerOff)
        powerOff();
    return 0;
}

void BbBoard::setPowerOffHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onPowerOff = std::move(handler);
}

int BbBoard::i2cRead(uint16_t slave, uint8_t *out, size_t len)
{
    if (slave != kSlaveAddress)
        return -ENXIO;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (size_t i = 0; i < len; ++i)
        out[i] = readByte(m_pointer++);
    return 0;
}

void BbBoard::makeFrame(uint8_t *frame)
{
    uint32_t regs[kRegWords];
    uint32_t status = 0;
    uint8_t vext, vbat, cap, atu[3];
    uint32_t mic;
    uint64_t index;
    BbTxState tx;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::memcpy(regs, m_regs, sizeof(regs));
        m_txModel.advance(m_regs, now_s());
        tx = m_txModel.state(m_regs);
        if (tx.tx)
            status |= BBFRAME_ST_TX;
        if (tx.tuneDone)
            status |= BBFRAME_ST_ATU_BUSY;
        if (m_extSupply)
            status |= BBFRAME_ST_VEXT;
        if (m_extSupply && m_batteryPercent < 100)
            status |= BBFRAME_ST_CHARGING;
        vext = m_extSupply ? 138 : 0;
        vbat = uint8_t(qBound(0, int(m_batteryVolts * 10.0 + 0.5), 255));
        cap = uint8_t(qBound(0, m_batteryPercent, 100));
        atu[0] = tx.network.c;
        atu[1] = tx.network.l;
        atu[2] = tx.network.s;
        mic = m_micKey;
        index = m_frameCount++;
    }

    std::memset(frame, 0, BBFRAME_SIZE);
    std::complex<float> iq[BBFRAME_SAMPLES];
    bbrf_render(bbrf_tuning(regs), double(index) * kFramePeriod, iq, BBFRAME_SAMPLES, m_rng);
    uint8_t *p = frame + BBFRAME_OFS_SAMPLES;
    for (const std::complex<float> &s : iq) {
        const float re = s.real(), im = s.imag();
        uint32_t u;
        std::memcpy(&u, &re, 4);
        bbframe_put_u32(p, u);
        std::memcpy(&u, &im, 4);
        bbframe_put_u32(p + 4, u);
        p += 8;
    }
    bbframe_put_u32(frame + BBFRAME_OFS_STATUS, status);
    frame[BBFRAME_OFS_TXPWR] = tx.power;
    frame[BBFRAME_OFS_SWR] = tx.swr;
    frame[BBFRAME_OFS_ALC] = tx.alc;
    frame[BBFRAME_OFS_VEXT] = vext;
    frame[BBFRAME_OFS_VBAT] = vbat;
    frame[BBFRAME_OFS_BATCAP] = cap;
    std::memcpy(frame + BBFRAME_OFS_ATU, atu, 3);
    bbframe_put_u32(frame + BBFRAME_OFS_MICKEY, mic);
    bbframe_seal(frame);
}

std::array<uint32_t, BbBoard::kRegWords> BbBoard::registers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::array<uint32_t, kRegWords> r;
    std::memcpy(r.data(), m_regs, sizeof(m_regs));
    return r;
}

bool BbBoard::transmitting() const
{
    return txState().tx;
}

bool BbBoard::tunerBusy() const
{
    return txState().tuning;
}

BbTxState BbBoard::txState() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_txModel.advance(m_regs, now_s());
    return m_txModel.state(m_regs);
}

void BbBoard::setSupply(bool external)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_extSupply = external;
}

void BbBoard::setBattery(int percent, double volts)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_batteryPercent = percent;
    m_batteryVolts = volts;
}

void BbBoard::setMicKey(uint32_t code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_micKey = code;
}
