// VFOs and local oscillators, memory channels and band stacks.
#include "params/zparamadmin.h"
#include "app/zlog.h"
#include "params/zparamadmin_p.h"

#include <QDebug>
#include <QSqlRecord>

#include <cmath>

using namespace zrnamespace;
using zparam_sql::describe;
using zparam_sql::textArg;

namespace {

const char *const kVfoKeys[] = { "freq", "mode", "agc", "att", "pre" };

const int kMinTuneFreq = ZParamAdmin::kMinTuneFreq;
const int kMaxTuneFreq = ZParamAdmin::kMaxTuneFreq;

// Checks a snapshot value against the item it is copied into: the number
// type of the item and its range. Text and untyped items take the value as
// it is. Returns false (and leaves *out alone) for a value that would put
// garbage into a VFO.
bool convertForItem(const zparam_item_t &item, const QVariant &value, QVariant *out)
{
    bool ok = false;
    switch (item.def.userType()) {
    case QMetaType::Int: {
        int v = value.toString().trimmed().toInt(&ok);
        if (!ok)
            return false;
        if (item.min.isValid() && item.max.isValid() && (v < item.min.toInt() || v > item.max.toInt()))
            return false;
        *out = v;
        return true;
    }
    case QMetaType::Float: {
        const float v = value.toString().trimmed().toFloat(&ok);
        if (!ok || !std::isfinite(v))
            return false;
        if (item.min.isValid() && item.max.isValid() && (v < item.min.toFloat() || v > item.max.toFloat()))
            return false;
        *out = v;
        return true;
    }
    default:
        *out = value;
        return true;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// VFOs

QString ZParamAdmin::frontGroup()
{
    return vfoIndex() == 0 ? QLatin1String(kSectionVfoA) : QLatin1String(kSectionVfoB);
}

QString ZParamAdmin::backGroup()
{
    return vfoIndex() == 0 ? QLatin1String(kSectionVfoB) : QLatin1String(kSectionVfoA);
}

int ZParamAdmin::modeMargin(int mode)
{
    switch (mode) {
    case ModeLSB:
    case ModeLSBDig:
    case ModeUSB:
    case ModeUSBDig:
        return 2000;
    case ModeCW:
    case ModeCWR:
        return 1000;
    case ModeAM:
        return 5000;
    case ModeNFM:
        return 8000;
    default:
        return 5000;
    }
}

zparam_item_t ZParamAdmin::vfoFront(const QString &key)
{
    Locker lock(this);
    return paramItem(frontGroup(), key);
}

zparam_item_t ZParamAdmin::vfoBack(const QString &key)
{
    Locker lock(this);
    return paramItem(backGroup(), key);
}

void ZParamAdmin::setVfoFront(const QString &key, const QVariant &value)
{
    Locker lock(this);
    QVariant stored = value;
    const bool center = wparamInt(QStringLiteral("center_mode")) != 0;
    if (key == QLatin1String("freq")) {
        const int f = int(qBound(qint64(kMinTuneFreq), value.toLongLong(), qint64(kMaxTuneFreq)));
        stored = f;
        if (center) {
            dloFreq = 0;
            ploFreq = f;
        } else {
            const qint64 diff = qint64(f) - vfoFront(QStringLiteral("freq")).value.toInt();
            if (diff != 0) {
                const int m = modeMargin(mode());
                const int lo = m - 50000;
                const int hi = 50000 - m;
                const qint64 h = dloFreq + diff;
                if (h >= lo && h <= hi) {
                    dloFreq = int(h);
                } else if (h < lo) {
                    dloFreq = lo;
                    ploFreq = f - lo;
                } else {
                    dloFreq = hi;
                    ploFreq = f - hi;
                }
            }
        }
    }
    setParamItem(frontGroup(), key, stored);

    // A narrower mode may leave the offset outside its window: pin it to
    // the window's edge and move the physical LO so the frequency stays.
    if (key == QLatin1String("mode") && !center) {
        const int m = modeMargin(stored.toInt());
        const int d = dloFreq;
        const int pinned = qBound(m - 50000, d, 50000 - m);
        if (pinned != d) {
            dloFreq = pinned;
            ploFreq = vfoFront(QStringLiteral("freq")).value.toInt() - pinned;
        }
    }
}

void ZParamAdmin::setVfoBack(const QString &key, const QVariant &value)
{
    Locker lock(this);
    setParamItem(backGroup(), key, value);
}

QVariant ZParamAdmin::modifyVfoFront(const QString &key, int direction)
{
    Locker lock(this);
    return modifyParamItem(frontGroup(), key, direction, -1, ModifyByItem);
}

QVariant ZParamAdmin::modifyVfoBack(const QString &key, int direction)
{
    Locker lock(this);
    return modifyParamItem(backGroup(), key, direction, -1, ModifyByItem);
}

void ZParamAdmin::modifyFrequncy(int direction)
{
    Locker lock(this);
    const qint64 f = vfoFront(QStringLiteral("freq")).value.toInt();
    const int ts = tuneStep();
    qint64 step = 1;
    for (int i = 0; i < qBound(0, ts, 6); ++i)
        step *= 10;
    const qint64 r = ts >= 3 ? f % 1000 : 0;
    qint64 nf = f - r;
    if (direction > 0)
        nf += step;
    else if (direction < 0)
        nf -= step;
    setVfoFront(QStringLiteral("freq"), nf);
}

int ZParamAdmin::bandIndex()
{
    Locker lock(this);
    return m_bandPlan.bandIndex(vfoFront(QStringLiteral("freq")).value.toInt());
}

void ZParamAdmin::loFrequencies(int *plo, int *dlo)
{
    Locker lock(this);
    if (plo)
        *plo = ploFreq;
    if (dlo)
        *dlo = dloFreq;
}

// Keeps the LO pair of a snapshot when it fits the frequency and mode,
// otherwise offset 0 and physical LO = frequency.
void ZParamAdmin::checkLoPair(int freq, int mode, int dlo, int plo)
{
    const int m = modeMargin(mode);
    const bool center = wparamInt(QStringLiteral("center_mode")) != 0;
    if (!center && dlo >= m - 50000 && dlo <= 50000 - m && qint64(dlo) + plo == freq) {
        dloFreq = dlo;
        ploFreq = plo;
    } else {
        dloFreq = 0;
        ploFreq = freq;
    }
}

void ZParamAdmin::followFrontVfo()
{
    checkLoPair(vfoFront(QStringLiteral("freq")).value.toInt(), mode(), dloFreq, ploFreq);
}

void ZParamAdmin::checkStoredLo()
{
    Locker lock(this);
    int dlo = paramItem(QLatin1String(kSectionParam), QStringLiteral("text_dlo_freq")).value.toInt();
    int plo = paramItem(QLatin1String(kSectionParam), QStringLiteral("text_plo_freq")).value.toInt();
    const int f = vfoFront(QStringLiteral("freq")).value.toInt();
    if (dlo < -48000 || dlo > 48000) {
        qCWarning(logParam) << "[WRN] Digital LO Frequency out-of-range:" << dlo;
        dlo = 0;
        plo = f;
    }
    if (qint64(plo) + dlo != f) {
        qCWarning(logParam) << "[WRN] Logical LO Frequency out-of-range:" << qint64(plo) + dlo;
        dlo = 0;
        plo = f;
    }
    dloFreq = dlo;
    ploFreq = plo;
}

// ---------------------------------------------------------------------------
// VFO and memory mode

bool ZParamAdmin::setVfoMemoMode(int vm)
{
    Locker lock(this);
    // Only a real change of mode moves the VFOs: in VFO mode the rows are
    // older than the caches (reloading them would undo the tuning since),
    // and in memory mode the caches hold the channel (saving them would put
    // the channel in place of the operator's own VFOs).
    const bool memoryMode = this->vm() != 0;
    if (vm == 0) {
        if (memoryMode)
            loadLogicVfo();
        setParamItem(QLatin1String(kSectionParam), QStringLiteral("vm"), 0);
        return true;
    }
    if (!memoryMode)
        saveLogicVfo();
    setParamItem(QLatin1String(kSectionParam), QStringLiteral("vm"), 1);
    updateChItem(false);
    requestChUpdate();
    return !m_chList.isEmpty();
}

void ZParamAdmin::saveLogicVfo()
{
    Locker lock(this);
    bool tx = false;
    runDb([&tx](QSqlDatabase &db) { tx = db.isOpen() && db.transaction(); });
    for (const char *k : kVfoKeys) {
        const QString key = QLatin1String(k);
        setDbItem(QLatin1String(kSectionVfoA), key, vfoaItems.value(key).value.toInt());
        setDbItem(QLatin1String(kSectionVfoB), key, vfobItems.value(key).value.toInt());
    }
    if (tx) {
        runDb([](QSqlDatabase &db) {
            if (!db.commit()) {
                qCWarning(logParam) << "[ERR] VFO rows not saved," << db.lastError().text();
                db.rollback();
            }
        });
    }
}

void ZParamAdmin::loadLogicVfo()
{
    Locker lock(this);
    for (const char *k : kVfoKeys) {
        const QString key = QLatin1String(k);
        for (const char *g : { kSectionVfoA, kSectionVfoB }) {
            const QString group = QLatin1String(g);
            const zparam_item_t it = getDbItem(group, key);
            if (it.name == key)
                (*vfoMap(group))[key] = it;
            else
                qCWarning(logParam) << "[WRN] VFO row" << group << key << "unreadable, value kept";
        }
    }
    // The LO pair belonged to the channel; it must follow the VFO again.
    followFrontVfo();
}

void ZParamAdmin::applyMemoValues(const QMap<QString, zparam_item_t> &src, QMap<QString, zparam_item_t> &dst,
                                  const char *what)
{
    for (auto it = src.constBegin(); it != src.constEnd(); ++it) {
        const QString &key = it.key();
        if (!m_vfoKeys.isEmpty() && !m_vfoKeys.contains(key))
            continue; // a key this version does not define
        const QVariant &v = it.value().value;
        if (!v.isValid()) {
            qCWarning(logParam) << "[WRN] Snapshot" << what << "has no value for" << key << ", kept";
            continue;
        }
        zparam_item_t &target = dst[key];
        QVariant converted;
        // A frequency also has to lie in the range the radio tunes (the
        // item's own range reaches below it).
        if (!convertForItem(target, v, &converted)
            || (key == QLatin1String("freq") && !isTunableFrequency(converted.toLongLong()))) {
            qCWarning(logParam) << "[WRN] Snapshot" << what << key << "value rejected:" << v.toString() << ", kept";
            continue;
        }
        target.value = converted;
    }
}

void ZParamAdmin::memoToLogicVfo(const zparam_memo_t &memo, QMap<QString, zparam_item_t> &vfoa,
                                 QMap<QString, zparam_item_t> &vfob)
{
    Locker lock(this);
    applyMemoValues(memo.vfoa, vfoa, kSectionVfoA);
    applyMemoValues(memo.vfob, vfob, kSectionVfoB);
    const QMap<QString, zparam_item_t> &front = vfoIndex() == 0 ? vfoa : vfob;
    checkLoPair(front.value(QStringLiteral("freq")).value.toInt(), front.value(QStringLiteral("mode")).value.toInt(),
                memo.dlo, memo.plo);
}

void ZParamAdmin::memoToLogicVfo(const zparam_memo_t &memo)
{
    Locker lock(this);
    QMap<QString, zparam_item_t> &front = *vfoMap(frontGroup());
    applyMemoValues(memo.vfoa, front, kSectionVfoA);
    checkLoPair(front.value(QStringLiteral("freq")).value.toInt(), front.value(QStringLiteral("mode")).value.toInt(),
                memo.dlo, memo.plo);
}

bool ZParamAdmin::checkVfoItem(const QMap<QString, zparam_item_t> &map)
{
    Locker lock(this);
    // A key counts as present only with a value: snapshots are built with
    // every key in place, so a key missing from the stored text shows as an
    // item without value.
    const QStringList keys = m_vfoKeys.isEmpty() ? vfoaItems.keys() : m_vfoKeys;
    for (const QString &k : keys) {
        auto it = map.constFind(k);
        if (it == map.constEnd() || !it.value().value.isValid())
            return false;
    }
    return true;
}

zparam_memo_t ZParamAdmin::logicVfoMemo()
{
    Locker lock(this);
    zparam_memo_t memo;
    memo.vfoa = vfoaItems;
    memo.vfob = vfobItems;
    memo.dlo = dloFreq;
    memo.plo = ploFreq;
    memo.valid = 1;
    return memo;
}

void ZParamAdmin::copyVfo(int from)
{
    Locker lock(this);
    const QMap<QString, zparam_item_t> &src = from == 0 ? vfoaItems : vfobItems;
    QMap<QString, zparam_item_t> &dst = from == 0 ? vfobItems : vfoaItems;
    for (auto it = src.constBegin(); it != src.constEnd(); ++it)
        dst[it.key()].value = it.value().value;
    followFrontVfo();
}

// ---------------------------------------------------------------------------
// Memory channels

QString ZParamAdmin::chNumToString(int ch)
{
    return QString::asprintf("M%04d", ch);
}

static int channelNumber(const QString &name)
{
    return name.mid(1).toInt();
}

bool ZParamAdmin::updateChList()
{
    Locker lock(this);
    QStringList list;
    bool ok = false;
    const QString select = QStringLiteral("SELECT ch FROM memory WHERE ch LIKE ? ORDER BY ch");
    runDb([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        if (!zparam_sql::exec(q, select, { QStringLiteral("M%") })) {
            qCWarning(logParam) << "Query failed," << describe(select, { QStringLiteral("M%") }) << q.lastError().text();
            return;
        }
        ok = true;
        while (q.next())
            list << q.value(0).toString();
    });
    if (ok) {
        // "chnum" is an index into the list. In memory mode a channel stored
        // or erased below the selected one would shift that index onto
        // another channel, and the radio would jump there: the selected
        // channel stays selected while it exists.
        if (vm() == 1 && !m_currentChName.isEmpty()) {
            const int n = list.indexOf(m_currentChName);
            if (n >= 0 && n != chNum())
                setParamItem(QStringLiteral("wparam"), QStringLiteral("chnum"), n);
        }
        m_chList = list;
    }
    if (vm() == 1)
        updateChItem(true);
    if (m_chList.size() <= 16)
        qCDebug(logParam) << "valid ch:" << m_chList;
    else
        qCDebug(logParam) << "valid ch:" << m_chList.size() << "channels," << m_chList.first() << "..." << m_chList.last();
    return !m_chList.isEmpty();
}

void ZParamAdmin::updateChItem(bool emitUpdate)
{
    Locker lock(this);
    const QString wparam = QLatin1String(kSectionParam);
    if (m_chList.isEmpty()) {
        setParamItem(wparam, QStringLiteral("vm"), 0);
        setParamItem(wparam, QStringLiteral("chnum"), 0);
        m_currentChItem.valid = 0;
        m_currentChItem.chtag.clear();
        m_currentChName.clear();
    } else {
        int n = chNum();
        if (n >= m_chList.size() || n < 0) {
            n = n < 0 ? 0 : m_chList.size() - 1;
            setParamItem(wparam, QStringLiteral("chnum"), n);
        }
        m_currentChName = m_chList.at(n);
        qCDebug(logParam) << "[DBG] Current channel:" << m_currentChName;
        m_currentChItem = chItem(channelNumber(m_currentChName), 1);
        if (m_currentChItem.valid == 1)
            memoToLogicVfo(m_currentChItem, vfoaItems, vfobItems);
        else
            qCWarning(logParam) << "[WRN] Channel" << m_currentChName << "unreadable, VFOs unchanged";
    }
    if (emitUpdate)
        requestChUpdate();
}

int ZParamAdmin::seekCh(int direction)
{
    Locker lock(this);
    if (m_chList.isEmpty())
        return -1;
    qint64 n = qint64(chNum()) + direction;
    if (n < 0)
        n = m_chList.size() - 1;
    else if (n > m_chList.size() - 1)
        n = 0;
    setParamItem(QLatin1String(kSectionParam), QStringLiteral("chnum"), int(n));
    updateChItem(true);
    return int(n);
}

bool ZParamAdmin::readChRow(const QString &table, const QString &name, QSqlRecord *record, bool *failed)
{
    const QString select = QStringLiteral("SELECT * FROM %1 WHERE ch=?").arg(table);
    const QVariantList args{ name };
    bool found = false;
    bool error = false;
    runDb([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        if (!zparam_sql::exec(q, select, args)) {
            qCWarning(logParam) << (table == QLatin1String("bandstack") ? "[ERR] Query failed," : "Query failed,")
                     << describe(select, args) << q.lastError().text();
            error = true;
            return;
        }
        found = q.next();
        if (found && record)
            *record = q.record();
    });
    if (failed)
        *failed = error;
    return found;
}

zparam_memo_t ZParamAdmin::chItem(int ch, int fetch)
{
    Locker lock(this);
    zparam_memo_t memo;
    memo.valid = 0;
    if (fetch != 1)
        return memo;
    QSqlRecord record;
    if (!readChRow(QStringLiteral("memory"), chNumToString(ch), &record))
        return memo;
    return sqlrecordToMemoItem(record);
}

// Writes one row of "memory" or "bandstack": UPDATE when it exists,
// INSERT otherwise. Returns false when the lookup failed.
static bool writeChRow(QSqlDatabase &db, const QString &table, const QString &name,
                       const QMap<QString, QString> &texts, bool bandstack)
{
    QSqlQuery q(db);
    const QString select = QStringLiteral("SELECT * FROM %1 WHERE ch=?").arg(table);
    if (!zparam_sql::exec(q, select, { name })) {
        qCWarning(logParam) << (bandstack ? "[ERR] Query failed," : "Query failed,") << describe(select, { name })
                 << q.lastError().text();
        return false;
    }
    const bool exists = q.next();
    q.finish();
    const QString empty = QString::fromLatin1("", 0);
    if (bandstack)
        qCDebug(logParam) << "[DBG] Save bandstack item, slot:" << name;
    QSqlQuery w(db);
    if (exists) {
        const QString update =
            QStringLiteral("UPDATE %1 SET vfoa=?,vfob=?,chtag=?,flags=? WHERE ch=?").arg(table);
        const QVariantList args{ textArg(texts.value(QLatin1String(kSectionVfoA))), textArg(texts.value(QLatin1String(kSectionVfoB))),
                                 textArg(texts.value(QStringLiteral("chtag"))), empty, name };
        if (zparam_sql::exec(w, update, args))
            qCDebug(logParam) << name << " updated," << update;
        else
            qCWarning(logParam) << "Query failed," << update << w.lastError().text();
    } else {
        const QString insert = QStringLiteral("INSERT INTO %1 values(?,?,?,?,?)").arg(table);
        const QVariantList args{ name, textArg(texts.value(QLatin1String(kSectionVfoA))), textArg(texts.value(QLatin1String(kSectionVfoB))),
                                 textArg(texts.value(QStringLiteral("chtag"))), empty };
        if (zparam_sql::exec(w, insert, args))
            qCDebug(logParam) << name << " inserted," << insert;
        else
            qCWarning(logParam) << "Query failed," << insert << w.lastError().text();
    }
    return true;
}

void ZParamAdmin::writeChItem(const QString &table, int ch, const zparam_memo_t &memo)
{
    QMap<QString, QString> texts;
    buildChItemContents(memo, texts);
    const QString name = chNumToString(ch);
    runDb([&](QSqlDatabase &db) { writeChRow(db, table, name, texts, table == QLatin1String("bandstack")); });
}

void ZParamAdmin::saveChItem(int ch, const zparam_memo_t &memo)
{
    Locker lock(this);
    writeChItem(QStringLiteral("memory"), ch, memo);
    updateChList();
}

void ZParamAdmin::saveChItem(int ch, const QString &label)
{
    Locker lock(this);
    const QString name = chNumToString(ch);
    bool failed = false;
    QSqlRecord record;
    const bool exists = readChRow(QStringLiteral("memory"), name, &record, &failed);
    if (failed)
        return;
    if (!exists) {
        qCWarning(logParam) << name << "not exists";
    } else {
        zparam_memo_t memo = sqlrecordToMemoItem(record);
        memo.chtag = label;
        saveChItem(ch, memo);
    }
    updateChList();
}

void ZParamAdmin::eraseChItem(int ch)
{
    Locker lock(this);
    const QString statement = QStringLiteral("DELETE FROM memory WHERE ch=?");
    const QVariantList args{ chNumToString(ch) };
    runDb([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        if (!zparam_sql::exec(q, statement, args))
            qCWarning(logParam) << "Query failed," << describe(statement, args) << q.lastError().text();
    });
    updateChList();
}

bool ZParamAdmin::checkChNum(int ch)
{
    Locker lock(this);
    return m_chList.contains(chNumToString(ch));
}

QString ZParamAdmin::chSlotName()
{
    Locker lock(this);
    const int n = chNum();
    if (n < 0 || n >= m_chList.size())
        return QString();
    return QStringLiteral("M-%1").arg(channelNumber(m_chList.at(n)) + 1);
}

QStringList ZParamAdmin::chList()
{
    Locker lock(this);
    return m_chList;
}

QString ZParamAdmin::currentChName()
{
    Locker lock(this);
    return m_currentChName;
}

zparam_memo_t ZParamAdmin::currentChItem()
{
    Locker lock(this);
    return m_currentChItem;
}

void ZParamAdmin::buildChItemContents(const zparam_memo_t &memo, QMap<QString, QString> &out)
{
    Locker lock(this);
    QString a, b, c;
    itemToIniText(QLatin1String(kSectionVfoA), memo.vfoa, a);
    itemToIniText(QLatin1String(kSectionVfoB), memo.vfob, b);
    QMap<QString, zparam_item_t> tag;
    tag[QStringLiteral("chtag")].value = memo.chtag.isNull() ? QString::fromLatin1("", 0) : memo.chtag;
    tag[QStringLiteral("flags")].value = memo.flags.isNull() ? QString::fromLatin1("", 0) : memo.flags;
    tag[QStringLiteral("chvalid")].value = 1;
    tag[QStringLiteral("dlo")].value = memo.dlo;
    tag[QStringLiteral("plo")].value = memo.plo;
    itemToIniText(QStringLiteral("chtag"), tag, c);
    out[QLatin1String(kSectionVfoA)] = a;
    out[QLatin1String(kSectionVfoB)] = b;
    out[QStringLiteral("chtag")] = c;
    qCDebug(logParam) << "[DBG]" << "Build ChItem Contents:" << a << b << c;
}

zparam_memo_t ZParamAdmin::sqlrecordToMemoItem(const QSqlRecord &record)
{
    Locker lock(this);
    zparam_memo_t memo(m_vfoKeys.isEmpty() ? vfoaItems.keys() : m_vfoKeys);
    const QString a = record.value(QLatin1String(kSectionVfoA)).toString();
    const QString b = record.value(QLatin1String(kSectionVfoB)).toString();
    const QString c = record.value(QStringLiteral("chtag")).toString();
    qCDebug(logParam) << "[DBG] SQL to vfoa: " << a;
    qCDebug(logParam) << "[DBG] SQL to vfob: " << b;
    qCDebug(logParam) << "[DBG] SQL to chtag: " << c;
    iniTextToItem(QLatin1String(kSectionVfoA), a, memo.vfoa);
    iniTextToItem(QLatin1String(kSectionVfoB), b, memo.vfob);
    QMap<QString, zparam_item_t> scratch;
    iniTextToItem(QStringLiteral("chtag"), c, scratch);
    memo.chtag = scratch.value(QStringLiteral("chtag")).value.toString();
    memo.flags = scratch.value(QStringLiteral("flags")).value.toString();
    memo.dlo = scratch.value(QStringLiteral("dlo")).value.toInt();
    memo.plo = scratch.value(QStringLiteral("plo")).value.toInt();
    memo.valid = 1;
    return memo;
}

// ---------------------------------------------------------------------------
// Band stack

zparam_memo_t ZParamAdmin::defaultBandstackItem(int slot)
{
    Locker lock(this);
    qCDebug(logParam) << "[DBG] Set bandstack item to default, slot:" << slot;
    // Even slots (outside the ham bands): frequency and mode of each range.
    static const int gapFreq[] = { 500000, 2500000, 4500000, 6500000, 8500000, 11500000,
                                   15500000, 20500000, 22500000, 25500000, 30500000, 55000000 };
    int freq = 55000000;
    int mode = ModeAM;
    if (slot >= 0 && slot <= 22) {
        if (slot % 2 == 1) {
            const int band = slot / 2;
            freq = m_bandPlan.band(band).start;
            mode = band <= 3 ? ModeLSB : ModeUSB; // LSB below 10 MHz, USB above
        } else {
            freq = gapFreq[slot / 2];
            mode = slot == 8 ? ModeLSB : ModeAM;
        }
    }
    zparam_memo_t memo;
    const int values[] = { freq, mode, 3, 0, 0 };
    for (int i = 0; i < 5; ++i) {
        zparam_item_t it;
        it.name = QLatin1String(kVfoKeys[i]);
        it.value = values[i];
        memo.vfoa.insert(it.name, it);
    }
    memo.vfob = memo.vfoa;
    memo.dlo = 0;
    memo.plo = 0;
    memo.valid = 1;
    return memo;
}

zparam_memo_t ZParamAdmin::bandstackItem(int slot, bool fallback)
{
    Locker lock(this);
    zparam_memo_t memo;
    memo.valid = 0;
    qCDebug(logParam) << "[DBG] Recall bandstack item, slot:" << slot;
    QSqlRecord record;
    if (readChRow(QStringLiteral("bandstack"), chNumToString(slot), &record)) {
        memo = sqlrecordToMemoItem(record);
        qCDebug(logParam) << "[DBG] Recall bandstack item, found record" << memo.vfoa.keys() << memo.vfob.keys();
        const bool aOk = checkVfoItem(memo.vfoa);
        const bool bOk = aOk && checkVfoItem(memo.vfob);
        if (aOk && bOk)
            return memo;
        if (!aOk)
            qCDebug(logParam) << "[DBG] Recall bandstack item, check vfoa failed" << memo.vfoa.keys();
        else
            qCDebug(logParam) << "[DBG] Recall bandstack item, check vfob failed" << memo.vfob.keys();
    }
    if (fallback) {
        memo = defaultBandstackItem(slot);
        saveBandstackItem(slot, memo);
        qCDebug(logParam) << "[DBG] ChItem is invalid, set to default";
    }
    return memo;
}

zparam_memo_t ZParamAdmin::getBandStackItem(int slot)
{
    return bandstackItem(slot, true);
}

void ZParamAdmin::saveBandstackItem(int slot, const zparam_memo_t &memo)
{
    Locker lock(this);
    writeChItem(QStringLiteral("bandstack"), slot, memo);
}

void ZParamAdmin::setBandstackIndex(int slot)
{
    Locker lock(this);
    if (vm() != 0)
        return;
    const int cur = bandIndex();
    if (slot == cur)
        return;

    zparam_memo_t current;
    current.vfoa = *vfoMap(frontGroup());
    current.vfob = current.vfoa;
    current.dlo = dloFreq;
    current.plo = ploFreq;
    current.valid = 1;
    saveBandstackItem(cur, current);

    const int count = m_bandPlan.indexCount();
    if (slot < 0)
        slot = count - 1;
    else if (slot >= count)
        slot = 0;

    zparam_memo_t memo = bandstackItem(slot, true);
    if (!checkVfoItem(memo.vfoa))
        memo = defaultBandstackItem(slot);
    memoToLogicVfo(memo);
}

void ZParamAdmin::modifyBandstackIndex(int direction)
{
    Locker lock(this);
    if (direction == 0 || vm() != 0)
        return;
    const int cur = bandIndex();
    const int n = m_bandPlan.indexCount();
    const int sign = direction > 0 ? 1 : -1;
    int r;
    if (wparamInt(QStringLiteral("bsmode")) == 0) {
        r = cur + sign * (cur % 2 == 0 ? 1 : 2);
        if (r < 0)
            r = n - 2;
        else if (r >= n)
            r = 1;
    } else {
        r = cur + sign;
        if (r < 0)
            r = n - 1;
        else if (r >= n)
            r = 0;
    }
    setBandstackIndex(r);
}

void ZParamAdmin::updateBandstack()
{
}
