// Control commands for the front-panel input, the hand microphone, the
// supply and the battery.
#include "sim/bbsim.h"

#include "sim/bbboard.h"
#include "sim/bbinput.h"

#include <linux/input.h>

namespace {

// An integer argument within [lo, hi]; false for anything else.
bool intArg(const QString &text, int lo, int hi, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

const int kMaxHoldMs = 60000;
const int kMaxSteps = 1000;

} // namespace

QString BbSim::cmdKey(const QStringList &args)
{
    int code, ms;
    if (args.size() != 2 || !intArg(args[0], 1, KEY_MAX, &code) || !intArg(args[1], 0, kMaxHoldMs, &ms))
        return QStringLiteral("error usage: key CODE(1..%1) MS(0..%2)").arg(KEY_MAX).arg(kMaxHoldMs);
    return m_input->key(code, ms);
}

QString BbSim::turn(int device, const QStringList &args)
{
    int n;
    if (args.size() != 1 || !intArg(args[0], -kMaxSteps, kMaxSteps, &n))
        return QStringLiteral("error usage: dial|knob|mfk N(-%1..%1)").arg(kMaxSteps);
    return m_input->turn(BbInput::Device(device), n);
}

QString BbSim::cmdDial(const QStringList &args)
{
    return turn(BbInput::Dial, args);
}

QString BbSim::cmdKnob(const QStringList &args)
{
    return turn(BbInput::Knob, args);
}

QString BbSim::cmdMfk(const QStringList &args)
{
    return turn(BbInput::Mfk, args);
}

QString BbSim::cmdMic(const QStringList &args)
{
    int code, ms;
    if (args.size() != 2 || !intArg(args[0], 0, 255, &code) || !intArg(args[1], 0, kMaxHoldMs, &ms))
        return QStringLiteral("error usage: mic CODE(0..255) MS(0..%1)").arg(kMaxHoldMs);
    return m_input->mic(uint32_t(code), ms);
}

QString BbSim::cmdSupply(const QStringList &args)
{
    if (args.size() != 1 || (args[0] != QLatin1String("ext") && args[0] != QLatin1String("bat")))
        return QStringLiteral("error usage: supply ext|bat");
    m_board->setSupply(args[0] == QLatin1String("ext"));
    return QStringLiteral("ok supply ") + args[0];
}

QString BbSim::cmdBattery(const QStringList &args)
{
    int percent;
    bool ok = false;
    const double volts = args.value(1).toDouble(&ok);
    // The trailer carries the voltage in 0.1 V steps in one byte.
    if (args.size() != 2 || !intArg(args[0], 0, 100, &percent) || !ok || !(volts >= 0.0 && volts <= 25.5))
        return QStringLiteral("error usage: battery PERCENT(0..100) VOLTS(0..25.5)");
    m_board->setBattery(percent, volts);
    return QStringLiteral("ok battery %1 %2").arg(percent).arg(volts, 0, 'f', 1);
}
