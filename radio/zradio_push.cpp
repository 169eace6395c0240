// The register block: packing the parameter store into the 56 words, the
// push thread that writes changed words and the periodic whole block, the
// transmit-source setters, the tuner request and power-off.
#include "radio/zradio.h"

#include "app/zlog.h"
#include "params/zparamadmin.h"
#include "app/zsystem.h"
#include "radio/zwake.h"

#include <QDebug>
#include <QString>

#include <chrono>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

// Bits of the control word that only their own functions change.
const uint32_t kCtlKept = ZRADIO_CTL_ATU_TUNE | ZRADIO_CTL_POWEROFF;

uint32_t field(int32_t value, int bits, int shift)
{
    const uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u);
    return (uint32_t(value) & mask) << shift;
}

// A real setting times 10, truncated toward zero. The store keeps such
// values on their 0.1 grid as floats, whose nearest representation may lie
// just below the grid point (0.7 is 0.69999999); the small allowance keeps
// 0.7 W at 7 rather than 6 without rounding genuine fractions up.
int32_t tenths(float v)
{
    const double x = double(v) * 10.0;
    return int32_t(std::trunc(x + (x >= 0.0 ? 1e-3 : -1e-3)));
}

// Writes one word or the whole mirror under the register mutex. Without a
// bus (it could not be opened, which was logged then) there is nothing to
// write to.
void bus_write(zradio_t *radio, uint16_t address, const uint32_t *words, int count)
{
    uint8_t buf[4 * ZRADIO_REG_WORDS];
    for (int i = 0; i < count; ++i)
        bbframe_put_u32(buf + 4 * i, words[i]);
    std::lock_guard<std::mutex> lock(radio->regMutex);
    if (g_zi2c)
        ui2c_write(g_zi2c, address, buf, uint32_t(4 * count));
}

void set_control_bit(uint32_t bit, bool on)
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return;
    {
        std::lock_guard<std::mutex> lock(radio->regMutex);
        if (on)
            radio->regs[ZRADIO_WORD_CONTROL].fetch_or(bit);
        else
            radio->regs[ZRADIO_WORD_CONTROL].fetch_and(~bit);
    }
    zradio_push_wake(radio);
}

} // namespace

void zradio_pack_params(zradio_t *radio, uint32_t *w)
{
    ZParamAdmin *s = radio->param;
    if (!s) {
        // No store: every parameter reads as 0, as a blank item would.
        const uint32_t w41 = w[41];
        std::memset(w, 0, 4 * ZRADIO_REG_WORDS);
        w[41] = w41;
        return;
    }
    const QString wp = QLatin1String(zrnamespace::kSectionParam);
    const QString va = QLatin1String(zrnamespace::kSectionVfoA);
    const QString vb = QLatin1String(zrnamespace::kSectionVfoB);
    auto p = [&](const QString &key) { return s->paramItem(wp, key).value.toInt(); };
    auto pf = [&](const QString &key) { return s->paramItem(wp, key).value.toFloat(); };

    // 1. Centre mode.
    const int center = p(QStringLiteral("center_mode"));

    // 2. Both VFO slots.
    const int freqA = s->paramItem(va, QStringLiteral("freq")).value.toInt();
    w[0] = s->bandPlan().isHamBand(freqA) ? 1u : 0u;
    w[5] = uint32_t(s->paramItem(va, QStringLiteral("agc")).value.toInt());
    w[2] = uint32_t(s->paramItem(va, QStringLiteral("att")).value.toInt());
    w[4] = uint32_t(s->paramItem(va, QStringLiteral("mode")).value.toInt());
    w[3] = uint32_t(s->paramItem(va, QStringLiteral("pre")).value.toInt());
    const int freqB = s->paramItem(vb, QStringLiteral("freq")).value.toInt();
    w[6] = s->bandPlan().isHamBand(freqB) ? 1u : 0u;
    w[11] = uint32_t(s->paramItem(vb, QStringLiteral("agc")).value.toInt());
    w[8] = uint32_t(s->paramItem(vb, QStringLiteral("att")).value.toInt());
    w[10] = uint32_t(s->paramItem(vb, QStringLiteral("mode")).value.toInt());
    w[9] = uint32_t(s->paramItem(vb, QStringLiteral("pre")).value.toInt());

    // 3. The LO rule: outside centre mode the slot of the operated
    // frequency carries the physical LO.
    int plo = 0, dlo = 0;
    s->loFrequencies(&plo, &dlo);
    const int vm = p(QStringLiteral("vm"));
    if (center) {
        w[1] = uint32_t(freqA);
        w[7] = uint32_t(freqB);
    } else if (vm == 0) {
        w[1] = uint32_t(plo);
        w[7] = uint32_t(freqB);
    } else {
        w[1] = uint32_t(freqA);
        w[7] = uint32_t(plo);
    }

    // 4. Control word, without the tune-request and power-off bits.
    uint32_t ctl = 0;
    if (p(QStringLiteral("sple")) & 1)
        ctl |= ZRADIO_CTL_SPLIT;
    if (p(QStringLiteral("atue")) & 1)
        ctl |= ZRADIO_CTL_ATU_ENABLE;
    const bool voice = radio->voiceRec.load() != 0;
    if (voice)
        ctl |= ZRADIO_CTL_VOICEREC;
    if (radio->modemTrx.load())
        ctl |= ZRADIO_CTL_MODEM;
    if (radio->swrScanTrx.load())
        ctl |= ZRADIO_CTL_SWRSCAN;
    if (radio->calTrx.load())
        ctl |= ZRADIO_CTL_CALIBRATION;
    if ((radio->iptt.load() || radio->civPtt.load()) && !voice)
        ctl |= ZRADIO_CTL_EXT_PTT;
    w[12] = ctl;

    // 5. Settings words.
    w[13] = field(p(QStringLiteral("vi")), 8, 0) | field(s->bandIndex(), 8, 8) | field(vm, 1, 16);
    w[14] = field(p(QStringLiteral("rxvol")), 8, 0);
    w[15] = field(p(QStringLiteral("rfg")), 8, 0) | field(tenths(pf(QStringLiteral("txpwr"))), 8, 8)
        | field(p(QStringLiteral("fftdec")), 4, 16);
    w[20] = field(p(QStringLiteral("ling")), 8, 0) | field(p(QStringLiteral("loutg")), 8, 8)
        | field(p(QStringLiteral("imicg")), 8, 16) | field(p(QStringLiteral("hmicg")), 8, 24);
    w[21] = field(p(QStringLiteral("micsel")), 2, 0) | field(p(QStringLiteral("pttmode")), 2, 2)
        | field(p(QStringLiteral("chge")), 1, 4) | field(p(QStringLiteral("spmode")), 1, 5)
        | field(p(QStringLiteral("auxiqen")), 1, 6) | field(p(QStringLiteral("sqlthr")), 8, 8);
    w[22] = field(p(QStringLiteral("voxg")), 7, 0) | field(p(QStringLiteral("voxag")), 7, 7)
        | field(p(QStringLiteral("voxdly")), 12, 14) | field(p(QStringLiteral("voxe")), 1, 26);
    w[23] = field(p(QStringLiteral("nrthr")), 8, 0) | field(p(QStringLiteral("nbw")), 8, 8)
        | field(p(QStringLiteral("nbthr")), 8, 16) | field(p(QStringLiteral("nre")), 1, 24)
        | field(p(QStringLiteral("nbe")), 1, 25);
    w[24] = field(p(QStringLiteral("dnfcnt")), 12, 0) | field(p(QStringLiteral("dnfwidth")), 12, 12)
        | field(p(QStringLiteral("dnfe")), 1, 24);
    w[25] = field(p(QStringLiteral("cmplevel")), 4, 0) | field(p(QStringLiteral("cmpe")), 1, 4);
    w[27] = field(p(QStringLiteral("agcknee")), 8, 0) | field(p(QStringLiteral("agcslope")), 4, 8)
        | field(p(QStringLiteral("agchang")), 1, 12);
    w[28] = field(p(QStringLiteral("agc_tcslow")), 10, 0) | field(p(QStringLiteral("agc_tcmid")), 10, 10)
        | field(p(QStringLiteral("agc_tcfast")), 10, 20);
    w[29] = field(p(QStringLiteral("monilevel")), 8, 0);
    w[33] = field(p(QStringLiteral("ks")), 8, 0) | field(p(QStringLiteral("km")), 2, 8)
        | field(p(QStringLiteral("kimb")), 2, 10) | field(p(QStringLiteral("cwtone")), 11, 12)
        | field(p(QStringLiteral("cwvol")), 6, 23) | field(p(QStringLiteral("cwtrain")), 1, 29);
    w[34] = field(p(QStringLiteral("qsktime")), 16, 0) | field(tenths(pf(QStringLiteral("kr"))), 16, 16);
    w[35] = field(dlo, 24, 0) | field(center != 0 ? 1 : 0, 1, 24);

    // 6. Bias settings only while calibrating.
    if (radio->calFlag.load())
        w[41] = field(p(QStringLiteral("bias_drive")), 16, 0) | field(p(QStringLiteral("bias_final")), 16, 16);

    // 7. Offsets and corrections, signed 32-bit.
    w[42] = uint32_t(p(QStringLiteral("rit")));
    w[43] = uint32_t(p(QStringLiteral("xit")));
    w[48] = uint32_t(p(QStringLiteral("rphscmp")));
    w[49] = uint32_t(p(QStringLiteral("rmagcmp")));
    w[50] = uint32_t(p(QStringLiteral("txiofs")));
    w[51] = uint32_t(p(QStringLiteral("txqofs")));
    w[53] = uint32_t(p(QStringLiteral("pwrsync")));
}

void zradio_update_params()
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return;
    uint32_t w[ZRADIO_REG_WORDS] = {};
    w[41] = radio->regs[41].load(std::memory_order_relaxed);
    zradio_pack_params(radio, w);

    // Words with a field list; the reserved words stay 0 and words 17
    // (tuner network) and 41 (unless calibrating) keep what was set.
    static const int kWords[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 15, 20, 21, 22, 23, 24,
                                 25, 27, 28, 29, 33, 34, 35, 41, 42, 43, 48, 49, 50, 51, 53};
    bool changed = false;
    for (int i : kWords)
        changed |= radio->regs[i].exchange(w[i], std::memory_order_relaxed) != w[i];

    // The control word is also changed by the tuner and power-off functions
    // on other threads: replace only the rebuilt bits, atomically, so their
    // bits are never lost in between.
    std::atomic<uint32_t> &ctl = radio->regs[ZRADIO_WORD_CONTROL];
    uint32_t old = ctl.load();
    uint32_t want;
    do
        want = (old & kCtlKept) | (w[12] & ~kCtlKept);
    while (!ctl.compare_exchange_weak(old, want));
    changed |= old != want;

    // The rebuild runs every 50 ms; only a change is worth a wake-up.
    if (changed)
        zradio_push_wake(radio);
}

void zradio_push_wake(zradio_t *radio)
{
    if (!radio)
        return;
    {
        std::lock_guard<std::mutex> lock(radio->pushWaitMutex);
        radio->pushWake = true;
    }
    radio->pushCv.notify_one();
}

void zradio_request_full_push()
{
    if (zradio_t *radio = g_zradio) {
        radio->fullPushRequest.store(1);
        zradio_push_wake(radio);
    }
}

namespace {

void write_block(zradio_t *radio)
{
    radio->mirror[ZRADIO_WORD_REFRESH] = ZRADIO_REFRESH_MARK;
    bus_write(radio, ZRADIO_ADDR_REGS, radio->mirror, ZRADIO_REG_WORDS);
    radio->blockWrites.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

int64_t zradio_push_pass(zradio_t *radio, int64_t now)
{
    if (radio->refreshDueMs < 0)
        radio->refreshDueMs = now + ZRADIO_REFRESH_MS;
    if (radio->fullPushRequest.exchange(0)) {
        for (int i = 0; i < ZRADIO_WORD_REFRESH; ++i)
            radio->mirror[i] = radio->regs[i].load(std::memory_order_relaxed);
        write_block(radio);
        radio->refreshDueMs = now + ZRADIO_REFRESH_MS;
    }
    // Every changed word on its own, as a scan of the block would find
    // them; word 55 is never compared.
    for (int i = 0; i < ZRADIO_WORD_REFRESH; ++i) {
        const uint32_t want = radio->regs[i].load(std::memory_order_relaxed);
        if (want == radio->mirror[i])
            continue;
        radio->mirror[i] = want;
        bus_write(radio, uint16_t(ZRADIO_ADDR_REGS + 4 * i), &want, 1);
        radio->wordWrites.fetch_add(1, std::memory_order_relaxed);
        radio->refreshDueMs = now + ZRADIO_REFRESH_MS;
    }
    // About once a second while nothing changes, the whole block: it
    // repairs a write the bus lost.
    if (now >= radio->refreshDueMs) {
        write_block(radio);
        radio->refreshDueMs = now + ZRADIO_REFRESH_MS;
    }
    radio->pushPasses.fetch_add(1, std::memory_order_relaxed);
    return radio->refreshDueMs;
}

void *thread_remote_admin(void *arg)
{
    zradio_t *radio = static_cast<zradio_t *>(arg);
    pthread_setname_np(pthread_self(), "zr-push");
    qCInfo(logRig) << "thread_remote_admin started";
    std::unique_lock<std::mutex> lock(radio->pushWaitMutex);
    while (!radio->pushExit.load()) {
        radio->pushWake = false;
        std::chrono::steady_clock::time_point until;
        if (!radio->pushEnable.load()) {
            // Disabled (tests, a factory procedure): looked at again every
            // 100 ms or when woken.
            until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        } else {
            lock.unlock();
            const int64_t now = zwake_now_ms();
            const int64_t due = zradio_push_pass(radio, now);
            lock.lock();
            until = std::chrono::steady_clock::now() + std::chrono::milliseconds(due - now);
        }
        radio->pushCv.wait_until(lock, until, [radio] { return radio->pushWake || radio->pushExit.load(); });
    }
    qCInfo(logRig) << "thread_remote_admin exited";
    return nullptr;
}

// ------------------------------------------------------- transmit sources

namespace {

// Stores one of the link's transmit-source bytes, if there is a link.
void set_source(std::atomic<uint8_t> zradio_t::*source, uint8_t on)
{
    if (zradio_t *radio = g_zradio)
        (radio->*source).store(on);
}

} // namespace

void zradio_set_voice_recorde(uint8_t on) { set_source(&zradio_t::voiceRec, on); }
void zradio_set_modem_trx(uint8_t on) { set_source(&zradio_t::modemTrx, on); }
void zradio_set_swrscan_trx(uint8_t on) { set_source(&zradio_t::swrScanTrx, on); }
void zradio_set_calibration_trx(uint8_t on) { set_source(&zradio_t::calTrx, on); }
void zradio_set_iptt(uint8_t on) { set_source(&zradio_t::iptt, on); }
void zradio_set_civptt(uint8_t on) { set_source(&zradio_t::civPtt, on); }
void zradio_set_calflag(uint8_t on) { set_source(&zradio_t::calFlag, on); }

// ------------------------------------------------------------------ tuner

void zradio_atu_tune(uint8_t on)
{
    set_control_bit(ZRADIO_CTL_ATU_TUNE, on != 0);
}

void zradio_set_atu_network(const zatu_network_t *in)
{
    zradio_t *radio = g_zradio;
    if (!radio || !in)
        return;
    radio->regs[ZRADIO_WORD_ATU].store(uint32_t(in->c) | uint32_t(in->l) << 8 | uint32_t(in->s) << 16);
    zradio_push_wake(radio);
}

// -------------------------------------------------------- power, backlight

void zradio_update_backlight()
{
    zradio_t *radio = g_zradio;
    if (!radio || !radio->param)
        return;
    const int level = radio->param->paramItem(QLatin1String(zrnamespace::kSectionParam), QStringLiteral("bllevel")).value.toInt();
    // A level outside 1..10 (a damaged row) must not switch the screen off
    // or write a brightness the panel does not have.
    const int b = 11 - qBound(1, level, 10);
    zsys::run(QStringLiteral("echo %1 > /sys/class/backlight/backlight/brightness").arg(b));
}

void zradio_remote_poweroff()
{
    set_control_bit(ZRADIO_CTL_POWEROFF, true);
    qCInfo(logRig) << "power-off bit set";
}

void zradio_poweroff()
{
    zradio_t *radio = g_zradio;
    if (!radio)
        return;
    if (radio->param)
        radio->param->syncDatabase();
    zradio_remote_poweroff();
    // The push thread sends the bit within one scan; give it time.
    sleep(1);
    zsys::run(QStringLiteral("poweroff"));
}
