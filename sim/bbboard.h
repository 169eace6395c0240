#ifndef BBBOARD_H
#define BBBOARD_H

#include "sim/bbtx.h"

#include <QString>

#include <array>
#include <functional>
#include <cstdint>
#include <mutex>
#include <random>

// The base-band board as the front panel sees it: an I2C slave at 0x72 with
// the 56-word register block, identification text, calibration block and
// command register, and the source of the UART frames. Thread-safe: the I2C
// side runs on the event loop, the frames are built on the UART thread.
class BbBoard
{
public:
    static const int kRegWords = 56;
    static const uint16_t kSlaveAddress = 0x72;
    static const uint16_t kCalibAddress = 0xF000;
    static const int kCalibWords = 204; // 203 data words and their CRC
    static const uint16_t kCmdAddress = 0xFFFE;

    BbBoard();

    // Where the stored calibration block lives ("flash"); read once here.
    void setCalibrationFile(const QString &path);

    // One I2C message of a transfer. Writes carry the 16-bit register
    // address (most significant byte first) and then data written from it
    // on; reads continue from the address last set. Returns 0, or -ENXIO
    // when the message is for another slave.
    int i2cWrite(uint16_t slave, const uint8_t *data, size_t len);
    int i2cRead(uint16_t slave, uint8_t *out, size_t len);

    // Builds the next UART frame (sync, samples, trailer, CRC).
    void makeFrame(uint8_t *frame);

    std::array<uint32_t, kRegWords> registers() const;
    bool transmitting() const;
    bool tunerBusy() const;
    // Transmitter and tuner as the board reports them now.
    BbTxState txState() const;

    // Supply and battery as the trailer reports them.
    void setSupply(bool external);
    void setBattery(int percent, double volts);
    void setMicKey(uint32_t code);

    // Called once, without the board's lock, when the control word's
    // power-off bit has been set.
    void setPowerOffHandler(std::function<void()> handler);

private:
    void writeByte(uint16_t addr, uint8_t b);
    uint8_t readByte(uint16_t addr) const;
    void command(uint8_t cmd);

    mutable std::mutex m_mutex;
    uint32_t m_regs[kRegWords] = {};
    uint8_t m_ident[128] = {};
    uint32_t m_calib[kCalibWords] = {};
    uint16_t m_pointer = 0;
    QString m_calibFile;

    bool m_extSupply = true;
    int m_batteryPercent = 100;
    double m_batteryVolts = 8.4;
    uint32_t m_micKey = 0;
    mutable BbTx m_txModel; // transmitter, antenna and tuner (runs end on reads too)
    bool m_powerOff = false;
    std::function<void()> m_onPowerOff;

    uint64_t m_frameCount = 0;
    std::mt19937 m_rng;
};

#endif
