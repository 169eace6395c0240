// Parameter store: opening and merging the database, write-back, cache
// reads of the display loop, tuning, band changes and channel saves.
#include "tests/test_support.h"
#include "params/zparamadmin.h"
#include "app/zsystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// The items the main window compares every 50 ms.
const char *const kDisplayKeys[] = {
    "vm", "vi", "ts", "chnum", "center_mode", "nre", "nbe", "atue", "sple", "dnfe", "sqlthr", "cwtone",
    "tfi", "fftdec", "fftpke", "audio_scope", "rxvol", "rfg", "txpwr", "fftave", "fftref", "wfref",
    "affftave", "affftref", "bllevel", "lock", "rit", "xit", "wifien", "bten", "chge", "spmode",
};

} // namespace

static void BM_OpenFreshDatabase(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        ztest::setSysroot(dir.path());
        state.ResumeTiming();
        { ZParamAdmin s; }
    }
}
BENCHMARK(BM_OpenFreshDatabase)->Unit(benchmark::kMillisecond);

static void BM_OpenExistingDatabase(benchmark::State &state)
{
    QTemporaryDir dir;
    ztest::setSysroot(dir.path());
    { ZParamAdmin s; }
    for (auto _ : state) {
        ZParamAdmin s;
    }
}
BENCHMARK(BM_OpenExistingDatabase)->Unit(benchmark::kMillisecond);

static void BM_SyncDatabase(benchmark::State &state)
{
    QTemporaryDir dir;
    ztest::setSysroot(dir.path());
    ZParamAdmin s;
    int i = 0;
    for (auto _ : state) {
        s.setParamItem("wparam", "rxvol", (++i) % 50);
        s.syncDatabase();
    }
}
BENCHMARK(BM_SyncDatabase)->Unit(benchmark::kMillisecond);

// One display tick: about forty items.
static void BM_ParamItemDisplayTick(benchmark::State &state)
{
    QTemporaryDir dir;
    ztest::setSysroot(dir.path());
    ZParamAdmin s;
    const QString w = QStringLiteral("wparam");
    QStringList keys;
    for (const char *k : kDisplayKeys)
        keys << QLatin1String(k);
    for (auto _ : state) {
        int sum = 0;
        for (const QString &k : keys)
            sum += s.paramItem(w, k).value.toInt();
        for (const char *k : { "freq", "mode", "agc", "att", "pre" })
            sum += s.vfoFront(QLatin1String(k)).value.toInt();
        sum += s.vfoBack(QStringLiteral("freq")).value.toInt();
        sum += s.modified.exchange(false);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["items"] = double(keys.size() + 6);
}
BENCHMARK(BM_ParamItemDisplayTick)->Unit(benchmark::kMicrosecond);

static void BM_SetVfoFrontFreq(benchmark::State &state)
{
    QTemporaryDir dir;
    ztest::setSysroot(dir.path());
    ZParamAdmin s;
    int f = 14000000;
    for (auto _ : state) {
        f += 1230;
        if (f > 14300000)
            f = 14000000;
        s.setVfoFront(QStringLiteral("freq"), f);
    }
}
BENCHMARK(BM_SetVfoFrontFreq)->Unit(benchmark::kMicrosecond);

static void BM_ModifyFrequncy(benchmark::State &state)
{
    QTemporaryDir dir;
    ztest::setSysroot(dir.path());
    ZParamAdmin s;
    s.setParamItem("wparam", "ts", 2);
    int i = 0;
    for (auto _ : state)
        s.modifyFrequncy((++i % 400) < 200 ? 1 : -1);
}
BENCHMARK(BM_ModifyFrequncy)->Unit(benchmark::kMicrosecond);

static void BM_SetBandstackIndex(benchmark::State &state)
{
    QTemporaryDir dir;
    ztest::setSysroot(dir.path());
    ZParamAdmin s;
    int i = 0;
    for (auto _ : state)
        s.setBandstackIndex((++i % 2) ? 7 : 11);
}
BENCHMARK(BM_SetBandstackIndex)->Unit(benchmark::kMillisecond);

static void BM_SaveChItemWith1000Channels(benchmark::State &state)
{
    QTemporaryDir dir;
    ztest::setSysroot(dir.path());
    ZParamAdmin s;
    zparam_memo_t memo = s.logicVfoMemo();
    for (int ch = 0; ch < 1000; ++ch)
        s.saveChItem(ch, memo);
    int i = 0;
    for (auto _ : state) {
        memo.chtag = QString::number(++i);
        s.saveChItem((i * 7919) % 1000, memo);
    }
    state.counters["channels"] = double(s.chList().size());
}
BENCHMARK(BM_SaveChItemWith1000Channels)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ztest::silenceLog();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ztest::setSysroot(QString());
    return 0;
}
