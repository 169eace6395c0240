// Twin filters, tuner memory and named texts.
#include "params/zparamadmin.h"
#include "app/zlog.h"
#include "params/zparamadmin_p.h"

#include <QDebug>

#include <cmath>

using namespace zrnamespace;
using zparam_sql::describe;
using zparam_sql::textArg;

// ---------------------------------------------------------------------------
// Twin filters

int ZParamAdmin::modeFamily(int mode)
{
    if (zmode_is_ssb(mode))
        return 0; // SSB
    if (zmode_is_cw(mode))
        return 1; // CW
    if (mode == ModeAM)
        return 2; // AM
    return 3;     // NFM and anything else
}

QList<ztwinfilter_t> &ZParamAdmin::familyFilters(int family)
{
    return m_filters[qBound(0, family, 3)];
}

static bool validPassBandText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('|'));
    if (parts.size() != 2)
        return false;
    for (const QString &p : parts) {
        bool ok = false;
        const float v = p.toFloat(&ok);
        if (!ok || !std::isfinite(v))
            return false;
    }
    return true;
}

void ZParamAdmin::initTwinFilters()
{
    Locker lock(this);
    struct Def
    {
        const char *name;
        float lo, hi, limLo, limHi;
    };
    static const Def defs[4][3] = {
        { { "SSB", 50, 2950, -1200, 4200 }, { "SSB", 300, 2700, -1200, 4200 }, { "SSB", 600, 2400, -1200, 4200 } },
        { { "CW", 550, 1050, 300, 1300 }, { "CW", 675, 925, 550, 1050 }, { "CW", 725, 875, 650, 950 } },
        { { "AM", -4500, 4500, -8000, 8000 }, { "AM", -3000, 3000, -5000, 5000 }, { "AM", -1500, 1500, -5000, 5000 } },
        { { "NFM", -7500, 7500, -10000, 10000 }, { "NFM", -5000, 5000, -10000, 10000 },
          { "NFM", -3500, 3500, -10000, 10000 } },
    };
    static const char *const families[] = { "ssb", "cw", "am", "nfm" };

    for (int f = 0; f < 4; ++f) {
        m_filters[f].clear();
        for (const Def &d : defs[f]) {
            const ztwinfilter_fp_t fp{ d.lo, d.hi };
            m_filters[f].append(ztwinfilter_t(QLatin1String(d.name), fp, fp, ztwinfilter_fp_t{ d.limLo, d.limHi }));
        }
        const int g = wparamInt(QStringLiteral("fltgrp_%1").arg(QLatin1String(families[f])));
        m_groupIndex[f] = qBound(0, g, m_filters[f].size() - 1);
        for (int g2 = 0; g2 < m_filters[f].size(); ++g2) {
            for (int n = 1; n <= 2; ++n) {
                const QString key = QStringLiteral("text_%1flt_%2_%3").arg(QLatin1String(families[f])).arg(g2 + 1).arg(n);
                const QString text = paramItem(QLatin1String(kSectionParam), key).value.toString();
                if (!validPassBandText(text)) {
                    qCWarning(logParam) << "[WRN] Pass band" << key << "unusable:" << text << ", built-in pass band kept";
                    continue;
                }
                m_filters[f][g2].setPassband(text, n - 1);
            }
        }
    }
}

ztwinfilter_t ZParamAdmin::twinFilter()
{
    Locker lock(this);
    return twinFilter(mode());
}

ztwinfilter_t ZParamAdmin::twinFilter(int mode)
{
    Locker lock(this);
    const int f = modeFamily(mode);
    const QList<ztwinfilter_t> &list = familyFilters(f);
    if (list.isEmpty())
        return ztwinfilter_t();
    return list.at(qBound(0, m_groupIndex[f], list.size() - 1));
}

QList<ztwinfilter_t> ZParamAdmin::twinFilterFamily(int mode)
{
    Locker lock(this);
    return familyFilters(modeFamily(mode));
}

int ZParamAdmin::twinFilterGroupIndex()
{
    Locker lock(this);
    return m_groupIndex[modeFamily(mode())];
}

int ZParamAdmin::setTwinFilterGroupIndex(int g)
{
    Locker lock(this);
    const int f = modeFamily(mode());
    m_groupIndex[f] = qBound(0, g, qMax(0, familyFilters(f).size() - 1));
    return m_groupIndex[f];
}

int ZParamAdmin::modifyTwinFilterGroup(int d)
{
    Locker lock(this);
    const int f = modeFamily(mode());
    const int count = familyFilters(f).size();
    qint64 g = qint64(m_groupIndex[f]) + d;
    if (g < 0)
        g = count - 1;
    else if (g > count - 1)
        g = 0;
    m_groupIndex[f] = int(qMax<qint64>(0, g));
    return m_groupIndex[f];
}

int ZParamAdmin::twinFilterIndex()
{
    return wparamInt(QStringLiteral("tfi"));
}

void ZParamAdmin::setTwinFilterIndex(int i)
{
    Locker lock(this);
    i = qBound(0, i, 1); // a twin filter has pass bands 0 and 1
    setParamItem(QLatin1String(kSectionParam), QStringLiteral("tfi"), i);
    const int f = modeFamily(mode());
    QList<ztwinfilter_t> &list = familyFilters(f);
    if (!list.isEmpty())
        list[qBound(0, m_groupIndex[f], list.size() - 1)].index = i;
}

void ZParamAdmin::modifyTwinFilter(float direction)
{
    Locker lock(this);
    const int f = modeFamily(mode());
    QList<ztwinfilter_t> &list = familyFilters(f);
    if (list.isEmpty())
        return;
    ztwinfilter_t &flt = list[qBound(0, m_groupIndex[f], list.size() - 1)];
    if (flt.name.contains(QLatin1String("NFM"), Qt::CaseInsensitive))
        return;
    if (direction == 0.0f || std::isnan(direction))
        return;
    const float a = direction > 0 ? flt.step : -flt.step;
    ztwinfilter_fp_t &p = flt.index == 0 ? flt.fp1 : flt.fp2;
    if (p.low + a >= flt.limits.low && p.high + a <= flt.limits.high) {
        p.low += a;
        p.high += a;
    }
}

void ZParamAdmin::setTwinFilterGroupOffset(int mode, float offset)
{
    Locker lock(this);
    for (ztwinfilter_t &flt : familyFilters(modeFamily(mode)))
        flt.offset = offset;
}

ztwinfilter_fp_t ZParamAdmin::logicFpToRealFp(ztwinfilter_fp_t fp)
{
    Locker lock(this);
    const int m = mode();
    if (zmode_is_cw(m)) {
        const float shift = float(wparamInt(QStringLiteral("cwtone")) - 800);
        fp.low += shift;
        fp.high += shift;
    }
    return fp;
}

// ---------------------------------------------------------------------------
// Tuner memory

QString ZParamAdmin::atuTableName()
{
    return QStringLiteral("atunetwork");
}

int ZParamAdmin::atuSaveStep()
{
    return 50000;
}

QString ZParamAdmin::atuSavePoint(int freq)
{
    return QString::asprintf("f%04d", freq / atuSaveStep());
}

void ZParamAdmin::saveAtuNetworkInfo(int freq, const zatu_network_t *net)
{
    if (!net) {
        qCWarning(logParam) << "[ERR] saveAtuNetworkInfo without network";
        return;
    }
    Locker lock(this);
    const QString point = atuSavePoint(freq);
    const QString network = QString::asprintf("%d,%d,%d", net->c, net->l, net->s);
    const QString table = atuTableName();
    const QString empty = QString::fromLatin1("", 0);
    runDb([&](QSqlDatabase &db) {
        zparam_sql::upsert(db, QStringLiteral("SELECT * FROM %1 WHERE freq = ?").arg(table), { point },
                           QStringLiteral("UPDATE %1 SET network=? WHERE freq=?").arg(table), { network, point },
                           QStringLiteral("INSERT INTO %1 values(?, ?, ?, ?)").arg(table),
                           { point, network, empty, empty });
    });
}

zatu_network_t ZParamAdmin::atuNetworkInfo(int freq)
{
    Locker lock(this);
    zatu_network_t net;
    const QString point = atuSavePoint(freq);
    QString network;
    bool found = false;
    runDb([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        const QString select = QStringLiteral("SELECT * FROM %1 WHERE freq=?").arg(atuTableName());
        if (!zparam_sql::exec(q, select, { point })) {
            qCWarning(logParam) << "Query failed," << describe(select, { point }) << q.lastError().text();
            return;
        }
        if (q.next()) {
            found = true;
            network = q.value(1).toString();
        }
    });
    if (!found)
        return net;
    const QStringList parts = network.split(QLatin1Char(','));
    uint bytes[3] = { 0, 0, 0 };
    bool usable = parts.size() == 3;
    for (int i = 0; usable && i < 3; ++i)
        bytes[i] = parts.at(i).trimmed().toUInt(&usable, 10);
    if (!usable) {
        qCWarning(logParam) << "invalid atu network data," << parts;
        return net;
    }
    net.c = uint8_t(bytes[0] & 0xFF);
    net.l = uint8_t(bytes[1] & 0xFF);
    net.s = uint8_t(bytes[2] & 0xFF);
    return net;
}

// ---------------------------------------------------------------------------
// Named texts

void zparam_sql::upsert(QSqlDatabase &db, const QString &select, const QVariantList &keyArgs,
                        const QString &update, const QVariantList &updateArgs,
                        const QString &insert, const QVariantList &insertArgs)
{
    QSqlQuery q(db);
    if (!exec(q, select, keyArgs)) {
        qCWarning(logParam) << "Query failed," << describe(select, keyArgs) << q.lastError().text();
        return;
    }
    const bool exists = q.next();
    q.finish();
    QSqlQuery w(db);
    const QString &statement = exists ? update : insert;
    const QVariantList &args = exists ? updateArgs : insertArgs;
    if (exec(w, statement, args))
        qCDebug(logParam) << "Query ok," << describe(statement, args);
    else
        qCWarning(logParam) << "Query failed," << describe(statement, args) << w.lastError().text();
}

void zparam_sql::addText(QSqlDatabase &db, const QString &name, const QString &text)
{
    upsert(db, QStringLiteral("SELECT * FROM file_table WHERE file_name = ?"), { textArg(name) },
           QStringLiteral("UPDATE file_table SET file_text=? WHERE file_name=?"), { textArg(text), textArg(name) },
           QStringLiteral("INSERT INTO file_table VALUES(?, ?)"), { textArg(name), textArg(text) });
}

void ZParamAdmin::addText(const QString &name, const QString &text)
{
    Locker lock(this);
    runDb([&](QSqlDatabase &db) { zparam_sql::addText(db, name, text); });
}

QString ZParamAdmin::textFile(const QString &name)
{
    Locker lock(this);
    QString text;
    runDb([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        const QString select = QStringLiteral("SELECT * FROM file_table WHERE file_name=?");
        if (!zparam_sql::exec(q, select, { textArg(name) })) {
            qCWarning(logParam) << "Query failed," << describe(select, { name }) << q.lastError().text();
            return;
        }
        if (q.next())
            text = q.value(1).toString();
    });
    return text;
}
