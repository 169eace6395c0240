// Parameter items, the definition text and the settings database.
#include "params/zparamadmin.h"
#include "app/zlog.h"
#include "params/zparamadmin_p.h"
#include "params/zparamdb.h"

#include "app/zsystem.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlRecord>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <mutex>

using namespace zrnamespace;

const char *const ZParamAdmin::DefinitionFile = ":/wparam_dbfile.ini";

// ---------------------------------------------------------------------------
// Statement helpers (run on the database thread)

namespace zparam_sql {

bool validTableName(const QString &name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]{0,63}$"));
    return re.match(name).hasMatch();
}

QString describe(const QString &text, const QVariantList &args)
{
    if (args.isEmpty())
        return text;
    QStringList values;
    for (const QVariant &v : args)
        values << QLatin1Char('"') + v.toString() + QLatin1Char('"');
    return text + QStringLiteral(" <- ") + values.join(QStringLiteral(", "));
}

QVariant textArg(const QString &text)
{
    if (text.isNull())
        return QVariant(QString::fromLatin1("", 0));
    return QVariant(text);
}

bool exec(QSqlQuery &query, const QString &text, const QVariantList &args)
{
    if (!query.prepare(text))
        return false;
    for (int i = 0; i < args.size(); ++i)
        query.bindValue(i, args.at(i));
    return query.exec();
}

} // namespace zparam_sql

using zparam_sql::describe;
using zparam_sql::textArg;

namespace {

// The temporary INI file is one path per application directory; two stores
// of one process (or one store on several threads) must not share it at once.
std::mutex g_tmpIniMutex;

enum RowStatus { RowFound, RowMissing, RowError };

// The tables' CREATE statements; %1 is the table name.
const char *const kParamTableSql =
    "CREATE TABLE IF NOT EXISTS %1(pname TEXT PRIMARY KEY, ptag TEXT, pv TEXT, pdef TEXT, pprop TEXT, pfmt TEXT)";
const char *const kChTableSql =
    "CREATE TABLE IF NOT EXISTS %1(ch TEXT PRIMARY KEY, vfoa TEXT, vfob TEXT, chtag TEXT, flags TEXT)";
const char *const kAtuTableSql =
    "CREATE TABLE IF NOT EXISTS %1(freq TEXT PRIMARY KEY, network TEXT, reserve1 TEXT, reserve2 TEXT)";

void dbCreate(QSqlDatabase &db, const QString &statement, const QString &table, bool textTable)
{
    QSqlQuery q(db);
    if (!q.exec(statement)) {
        if (textTable)
            qCWarning(logParam) << "Can't create table [file_table]," << q.lastError().text();
        else
            qCWarning(logParam) << QStringLiteral("Can't create table \"%1\",").arg(table) << q.lastError().text();
        return;
    }
    if (textTable)
        qCDebug(logParam) << "TABLE [file_table] created";
    else
        qCDebug(logParam) << "TABLE" << table << " created";
}

// Creates table `name` from one of the statements above; the name is
// spliced into the statement, so only a plain identifier is accepted.
void dbCreateNamed(QSqlDatabase &db, const char *statement, const QString &name)
{
    if (!zparam_sql::validTableName(name)) {
        qCWarning(logParam) << QStringLiteral("Can't create table \"%1\",").arg(name) << "invalid table name";
        return;
    }
    dbCreate(db, QString::fromLatin1(statement).arg(name), name, false);
}

void dbAddNewData(QSqlDatabase &db, const QString &table, const QStringList &fields)
{
    if (fields.size() < 6) {
        qCWarning(logParam) << "Invalid data length," << fields.size() << fields;
        return;
    }
    if (!zparam_sql::validTableName(table)) {
        qCWarning(logParam) << "[ERR] Invalid table name," << table;
        return;
    }
    QSqlQuery q(db);
    const QString select = QStringLiteral("SELECT * FROM %1 WHERE pname = ?").arg(table);
    const QVariantList selectArgs{ textArg(fields.at(0)) };
    if (!zparam_sql::exec(q, select, selectArgs)) {
        qCWarning(logParam) << "Query failed," << describe(select, selectArgs) << q.lastError().text();
        return;
    }
    if (!q.next()) {
        q.finish();
        const QString insert = QStringLiteral("INSERT INTO %1 values(?, ?, ?, ?, ?, ?)").arg(table);
        QVariantList args;
        for (int i = 0; i < 6; ++i)
            args << textArg(fields.at(i));
        QSqlQuery ins(db);
        if (zparam_sql::exec(ins, insert, args))
            qCDebug(logParam) << "Query ok," << describe(insert, args);
        else
            qCWarning(logParam) << "Query failed," << describe(insert, args) << ins.lastError().text();
        return;
    }

    static const char *const columns[] = { nullptr, "ptag", nullptr, "pdef", "pprop", "pfmt" };
    QStringList stored;
    for (int i = 0; i < 6; ++i)
        stored << q.value(i).toString();
    q.finish();
    for (int i : { 1, 3, 4, 5 }) {
        if (stored.at(i) == fields.at(i))
            continue;
        const QString update = QStringLiteral("UPDATE %1 SET %2=? WHERE pname=?")
                                   .arg(table, QLatin1String(columns[i]));
        const QVariantList args{ textArg(fields.at(i)), textArg(fields.at(0)) };
        QSqlQuery upd(db);
        if (zparam_sql::exec(upd, update, args))
            qCDebug(logParam) << "Query ok," << describe(update, args);
        else
            qCWarning(logParam) << "Query failed," << describe(update, args) << upd.lastError().text();
    }
}

RowStatus dbReadRow(QSqlDatabase &db, const QString &table, const QString &key, QStringList *columns,
                    QString *error)
{
    if (!zparam_sql::validTableName(table)) {
        *error = QStringLiteral("invalid table name %1").arg(table);
        return RowError;
    }
    QSqlQuery q(db);
    const QString select = QStringLiteral("SELECT * FROM %1 WHERE pname=?").arg(table);
    if (!zparam_sql::exec(q, select, { textArg(key) })) {
        *error = q.lastError().text();
        return RowError;
    }
    if (!q.next())
        return RowMissing;
    columns->clear();
    // Missing columns (a table of another layout) read as empty texts.
    const int n = q.record().count();
    for (int i = 0; i < 6; ++i)
        *columns << (i < n ? q.value(i).toString() : QString());
    return RowFound;
}

bool dbSetValue(QSqlDatabase &db, const QString &table, const QString &key, const QString &text)
{
    if (!zparam_sql::validTableName(table)) {
        qCWarning(logParam) << "[ERR] Invalid table name," << table;
        return false;
    }
    QSqlQuery q(db);
    const QString update = QStringLiteral("UPDATE %1 SET pv=? WHERE pname=?").arg(table);
    const QVariantList args{ textArg(text), textArg(key) };
    if (!zparam_sql::exec(q, update, args)) {
        qCWarning(logParam) << "Query failed," << describe(update, args) << q.lastError().text();
        return false;
    }
    return true;
}

// Builds the cached item of one row, logging what the loading rules did.
zparam_item_t itemFromRow(RowStatus status, const QString &table, const QString &key,
                          const QStringList &columns, const QString &error)
{
    if (status == RowError) {
        qCWarning(logParam) << "Database Query Error," << error;
        return zparam_item_t::blank();
    }
    if (status == RowMissing) {
        qCWarning(logParam) << "no record found," << key;
        return zparam_item_t::blank();
    }
    QString note;
    zparam_item_t it = zparam_item_from_row(key, columns, &note);
    if (zparam_is_text_key(key))
        qCDebug(logParam) << "except lists," << key << it.value.toString();
    else if (!note.isEmpty())
        qCWarning(logParam).noquote() << "[WRN] Stored value of" << table << key << note << ", default"
                           << it.def.toString() << "used";
    return it;
}

} // namespace

// ---------------------------------------------------------------------------
// Construction

ZParamAdmin::ZParamAdmin(QObject *parent)
    : QObject(parent)
{
    construct(QString::fromLatin1(DefinitionFile));
}

ZParamAdmin::ZParamAdmin(QObject *parent, const QString &definitionFile)
    : QObject(parent)
{
    construct(definitionFile);
}

void ZParamAdmin::construct(const QString &definitionFile)
{
    Locker lock(this);
    m_definitionFile = definitionFile;
    const QString dir = zsys::appDir();
    m_dbFile = dir + QStringLiteral("/zparam.db");
    m_tmpIni = dir + QStringLiteral("/.tmp_ini");

    const QString base = QStringLiteral("conn_zr450");
    const QString name = ZParamDb::freeConnectionName(base);
    if (name != base)
        qCWarning(logParam) << "[WRN] Database connection" << base << "is in use, this store uses" << name;
    m_db.reset(new ZParamDb(name));
    openDatabase(m_dbFile);

    initParam();
    updateChList();

    QString mfk = textFile(QStringLiteral("mfk_key"));
    if (mfk.isEmpty()) {
        qCInfo(logParam) << "[INFO] mfk_key not found, use default txpwr";
        addText(QStringLiteral("mfk_key"), QStringLiteral("txpwr"));
        mfk = textFile(QStringLiteral("mfk_key"));
        if (mfk.isEmpty()) // database not writable: the knob still works
            mfk = QStringLiteral("txpwr");
    }
    mfkKey = mfk;

    initTwinFilters();
    checkStoredLo();
}

ZParamAdmin::~ZParamAdmin()
{
    Locker lock(this);
    m_db.reset(); // closes the database and removes the connection
}

void ZParamAdmin::runDb(const std::function<void(QSqlDatabase &)> &job)
{
    m_db->exec(job);
}

void ZParamAdmin::openDatabase(const QString &file)
{
    runDb([&file](QSqlDatabase &db) {
        QDir().mkpath(QFileInfo(file).absolutePath());
        db.setDatabaseName(file);
        if (!db.isOpen() && !db.open()) {
            qCWarning(logParam) << "Can't open SQLLITE database," << db.lastError().text();
            return;
        }
        QString code, error;
        {
            QSqlQuery probe(db);
            if (probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
                probe.next();
            else {
                code = probe.lastError().nativeErrorCode();
                error = probe.lastError().text();
            }
        }
        if (!error.isEmpty()) {
            qCWarning(logParam) << "[ERR] Database file unreadable," << file << error;
            // SQLITE_NOTADB (26) and SQLITE_CORRUPT (11): nothing can be read
            // from the file. Keep it for inspection and start a new database,
            // so settings are saved again from now on.
            if (code == QLatin1String("26") || code == QLatin1String("11")) {
                db.close();
                const QString kept = file + QStringLiteral(".bad-")
                    + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss"));
                if (QFile::rename(file, kept)) {
                    qCWarning(logParam) << "[WRN] Unreadable database kept as" << kept << ", a new database is created";
                } else {
                    qCWarning(logParam) << "[ERR] Unreadable database could not be moved aside," << file;
                }
                if (!db.open())
                    qCWarning(logParam) << "Can't open SQLLITE database," << db.lastError().text();
            }
        }
        if (QFileInfo::exists(file) && !QFileInfo(file).isWritable())
            qCWarning(logParam) << "[WRN] Database file is read-only, settings will not be saved:" << file;
    });
}

// ---------------------------------------------------------------------------
// Parameter items

void ZParamAdmin::reportUnknownItem(const QString &group, const QString &key, const char *what)
{
    // Once per group and key: a caller asking on every update tick must not
    // grow the log, nor a stream of different keys the memory.
    const QString id = group + QLatin1Char('/') + key;
    if (m_unknownItems.contains(id))
        return;
    if (m_unknownItems.size() >= kUnknownItemsReported) {
        if (m_unknownItems.size() == kUnknownItemsReported) {
            m_unknownItems.insert(QString());
            qCWarning(logParam) << "[ERR] Further unknown parameter items are not reported";
        }
        return;
    }
    m_unknownItems.insert(id);
    qCWarning(logParam).noquote() << "[ERR] No parameter item" << group + QLatin1Char('/') + key << what;
}

QMap<QString, zparam_item_t> *ZParamAdmin::vfoMap(const QString &group)
{
    if (group == QLatin1String(kSectionVfoA))
        return &vfoaItems;
    if (group == QLatin1String(kSectionVfoB))
        return &vfobItems;
    return nullptr;
}

zparam_item_t ZParamAdmin::paramItem(const QString &group, const QString &key)
{
    Locker lock(this);
    if (QMap<QString, zparam_item_t> *map = vfoMap(group)) {
        auto it = map->find(key);
        if (it == map->end()) {
            reportUnknownItem(group, key, "(read), an empty item is added");
            it = map->insert(key, zparam_item_t());
        }
        return it.value();
    }
    if (group == QLatin1String(kSectionParam)) {
        const int i = m_wparamIndex.value(key, -1);
        if (i >= 0)
            return wparamItems.at(i);
    }
    reportUnknownItem(group, key, "(read), a blank item is served");
    return zparam_item_t::blank();
}

void ZParamAdmin::setParamItem(const QString &group, const QString &key, const QVariant &value)
{
    Locker lock(this);
    if (QMap<QString, zparam_item_t> *map = vfoMap(group)) {
        if (!map->contains(key))
            reportUnknownItem(group, key, "(set), an empty item is added");
        (*map)[key].value = value;
        return;
    }
    const int i = group == QLatin1String(kSectionParam) ? m_wparamIndex.value(key, -1) : -1;
    if (i < 0) {
        reportUnknownItem(group, key, "(set), ignored");
        return;
    }
    const QVariant old = wparamItems.at(i).value;
    wparamItems[i].value = value;
    // The LO pair belongs to the front VFO: another VFO in front, or
    // centre mode switched, and it must follow, or the radio would
    // stay tuned where the other VFO was.
    if (old != value && (key == QLatin1String("vi") || key == QLatin1String("center_mode")))
        followFrontVfo();
}

QVariant ZParamAdmin::modifyParamItem(const QString &group, const QString &key, int direction, int step,
                                      int mode)
{
    ZRadioModifyMode m = ModifyByItem;
    if (mode == ModifyBound)
        m = ModifyBound;
    else if (mode == ModifyWrap)
        m = ModifyWrap;
    return modifyParamItem(group, key, direction, step, m);
}

QVariant ZParamAdmin::modifyParamItem(const QString &group, const QString &key, int direction, int step,
                                      ZRadioModifyMode mode)
{
    Locker lock(this);
    const zparam_item_t it = paramItem(group, key);
    if (it.name != key)
        return it.value;

    const QVariant old = it.value;
    const bool isTxPower = key == QLatin1String("txpwr");
    float h = 1.0f;
    if (isTxPower) {
        const float v = it.value.toFloat();
        if ((v <= 1.0f && direction < 0) || (v < 1.0f && direction > 0))
            h = 0.1f;
    }
    if (zparam_is_text_key(key))
        return it.value;

    const int sign = direction > 0 ? 1 : (direction < 0 ? -1 : 0);
    bool wrap = false;
    if (!isTxPower) {
        if (mode == ModifyByItem)
            wrap = it.mmflag.toInt() != 0;
        else
            wrap = mode == ModifyWrap;
    }

    QVariant result;
    if (it.fmt.contains(QLatin1Char('f'))) {
        const float s = (step > 0 ? float(step) : it.step.toFloat()) * h;
        float v = it.value.toFloat() + float(sign) * s;
        // Keep the value on the grid of its display precision: repeated
        // 0.1 steps would otherwise drift (0.99999994 instead of 1.0).
        static const QRegularExpression prec(QStringLiteral("\\.([0-9])f$"));
        const QRegularExpressionMatch pm = prec.match(it.fmt);
        if (pm.hasMatch()) {
            const double scale = std::pow(10.0, pm.captured(1).toInt());
            v = float(std::round(double(v) * scale) / scale);
        }
        const float min = it.min.toFloat();
        const float max = isTxPower ? txPowerMax.load() : it.max.toFloat();
        if (wrap)
            v = v < min ? max : (v > max ? min : v);
        else
            v = qMax(min, qMin(max, v));
        result = v;
    } else {
        const qint64 s = step > 0 ? step : it.step.toInt();
        qint64 v = qint64(it.value.toInt()) + sign * s;
        const qint64 min = it.min.toInt();
        const qint64 max = isTxPower ? qint64(txPowerMax.load()) : qint64(it.max.toInt());
        if (wrap)
            v = v < min ? max : (v > max ? min : v);
        else
            v = qMax(min, qMin(max, v));
        result = int(qBound(qint64(std::numeric_limits<int>::min()), v,
                            qint64(std::numeric_limits<int>::max())));
    }

    if (result != old) {
        setParamItem(group, key, result);
        modified = true;
    }
    return result;
}

void ZParamAdmin::resetParamItem(const QString &group, const QString &key)
{
    Locker lock(this);
    if (QMap<QString, zparam_item_t> *map = vfoMap(group)) {
        auto it = map->find(key);
        if (it != map->end())
            it->value = it->def;
        else
            reportUnknownItem(group, key, "(reset), ignored");
        return;
    }
    const int i = group == QLatin1String(kSectionParam) ? m_wparamIndex.value(key, -1) : -1;
    if (i >= 0)
        wparamItems[i].value = wparamItems.at(i).def;
    else
        reportUnknownItem(group, key, "(reset), ignored");
}

void ZParamAdmin::setTxPowerMax(float max)
{
    Locker lock(this);
    txPowerMax = max;
    const int i = m_wparamIndex.value(QStringLiteral("txpwr"), -1);
    if (i >= 0 && wparamItems.at(i).value.toFloat() > max) {
        setParamItem(QLatin1String(kSectionParam), QStringLiteral("txpwr"), QVariant(max));
        modified = true;
    }
}

int ZParamAdmin::wparamInt(const QString &key)
{
    return paramItem(QLatin1String(kSectionParam), key).value.toInt();
}

int ZParamAdmin::vfoIndex()
{
    return wparamInt(QStringLiteral("vi"));
}

int ZParamAdmin::tuneStep()
{
    return wparamInt(QStringLiteral("ts"));
}

int ZParamAdmin::rxVolum()
{
    return wparamInt(QStringLiteral("rxvol"));
}

int ZParamAdmin::vm()
{
    return wparamInt(QStringLiteral("vm"));
}

int ZParamAdmin::chNum()
{
    return wparamInt(QStringLiteral("chnum"));
}

int ZParamAdmin::mode()
{
    return vfoFront(QStringLiteral("mode")).value.toInt();
}

void ZParamAdmin::setMode(int mode)
{
    setVfoFront(QStringLiteral("mode"), mode);
}

QString ZParamAdmin::modeIndexToName(int mode)
{
    static const char *const names[ModeCount] = { "LSB", "L-DIG", "USB", "U-DIG", "CW", "CWR", "AM", "NFM" };
    if (mode < ModeLSB || mode >= ModeCount)
        return QStringLiteral("ERR");
    return QString::fromLatin1(names[mode]);
}

int ZParamAdmin::offsetFrequency()
{
    Locker lock(this);
    return offsetFrequency(mode());
}

int ZParamAdmin::offsetFrequency(int mode)
{
    switch (mode) {
    case ModeCW:
        return wparamInt(QStringLiteral("cwtone"));
    case ModeCWR:
        return -wparamInt(QStringLiteral("cwtone"));
    case ModeAM:
    case ModeNFM:
        return 50;
    default:
        return 0;
    }
}

void ZParamAdmin::updateItemMapKeys(QMap<QString, zparam_item_t> &map, const QStringList &keys)
{
    if (keys.isEmpty())
        return;
    map.clear();
    for (const QString &k : keys)
        map.insert(k, zparam_item_t());
}

// QSettings keeps the parsed contents of a file in a process-wide cache and
// reuses them when the file's size and time stamp look unchanged, which they
// do for two texts of equal length written within one millisecond. Removing
// the file and syncing once more before the QSettings object goes away
// leaves an empty entry that Qt discards, so the next use reads its own text.
void ZParamAdmin::itemToIniText(const QString &group, const QMap<QString, zparam_item_t> &map, QString &text)
{
    Locker lock(this);
    std::lock_guard<std::mutex> tmpLock(g_tmpIniMutex);
    const QString path = m_tmpIni;
    QFile::remove(path); // a file left by a crash must not add keys to the text
    QSettings settings(path, QSettings::IniFormat);
    // The file lives for one call: no need for a safe-save with fsync.
    settings.setAtomicSyncRequired(false);
    settings.beginGroup(group);
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        settings.setValue(it.key(), it.value().value);
    settings.endGroup();
    settings.sync();

    QFile file(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        text = QString::fromUtf8(file.readAll());
        file.close();
    } else {
        qCWarning(logParam) << "[ERR] Item to Text, Can't open file" << path << file.errorString();
    }
    QFile::remove(path);
    settings.sync();
}

void ZParamAdmin::iniTextToItem(const QString &group, const QString &text, QMap<QString, zparam_item_t> &map)
{
    Locker lock(this);
    std::lock_guard<std::mutex> tmpLock(g_tmpIniMutex);
    const QString path = m_tmpIni;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(logParam) << "[ERR] Text to Item Can't open file" << path << file.errorString();
        QFile::remove(path);
        return;
    }
    file.write(text.toUtf8());
    file.flush();
    file.close();

    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(group);
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys) {
        const QVariant v = settings.value(key);
        map[key].value = v;
        qCDebug(logParam) << "[DBG] IniText to item, group:" << group << ", key:" << key << ", value:" << v;
    }
    settings.endGroup();
    QFile::remove(path);
    settings.sync();
}

// ---------------------------------------------------------------------------
// Database

void ZParamAdmin::createTable(const QString &name)
{
    Locker lock(this);
    runDb([&](QSqlDatabase &db) { dbCreateNamed(db, kParamTableSql, name); });
}

void ZParamAdmin::createChTable(const QString &name)
{
    Locker lock(this);
    runDb([&](QSqlDatabase &db) { dbCreateNamed(db, kChTableSql, name); });
}

void ZParamAdmin::createBandstackTable()
{
    createChTable(QStringLiteral("bandstack"));
}

void ZParamAdmin::createAtuTable()
{
    Locker lock(this);
    runDb([](QSqlDatabase &db) { dbCreateNamed(db, kAtuTableSql, atuTableName()); });
}

void ZParamAdmin::createTextTable()
{
    Locker lock(this);
    const QString statement =
        QStringLiteral("CREATE TABLE IF NOT EXISTS file_table(file_name TEXT PRIMARY KEY, file_text TEXT)");
    runDb([&](QSqlDatabase &db) { dbCreate(db, statement, QStringLiteral("file_table"), true); });
}

void ZParamAdmin::addNewData(const QString &table, const QStringList &fields)
{
    Locker lock(this);
    runDb([&](QSqlDatabase &db) { dbAddNewData(db, table, fields); });
}

zparam_item_t ZParamAdmin::getDbItem(const QString &table, const QString &key)
{
    Locker lock(this);
    QStringList columns;
    QString error;
    RowStatus status = RowError;
    runDb([&](QSqlDatabase &db) { status = dbReadRow(db, table, key, &columns, &error); });
    return itemFromRow(status, table, key, columns, error);
}

void ZParamAdmin::setDbItem(const QString &table, const QString &key, const QVariant &value)
{
    Locker lock(this);
    const QString text = zparam_value_text(value);
    runDb([&](QSqlDatabase &db) { dbSetValue(db, table, key, text); });
}

void ZParamAdmin::resetDbItem(const QString &table, const QString &key)
{
    Locker lock(this);
    const zparam_item_t it = getDbItem(table, key);
    if (it.name == key && it.value != it.def)
        setDbItem(table, key, it.def);
}

bool ZParamAdmin::readDefinition()
{
    m_definition.clear();
    QSettings def(m_definitionFile, QSettings::IniFormat);
    if (def.status() != QSettings::NoError || def.childGroups().isEmpty()) {
        qCWarning(logParam) << "[ERR] Definition text unreadable or empty:" << m_definitionFile;
        return false;
    }
    const QStringList sections = def.childGroups();
    for (const QString &section : sections) {
        def.beginGroup(section);
        const QStringList keys = def.childKeys();
        for (const QString &key : keys) {
            DefEntry e;
            e.section = section;
            e.key = key;
            e.fields = def.value(key).toString().split(QLatin1Char('\n'), Qt::KeepEmptyParts, Qt::CaseSensitive);
            e.fields.prepend(key);
            m_definition << e;
        }
        def.endGroup();
    }
    return true;
}

void ZParamAdmin::initParam()
{
    Locker lock(this);
    createBandstackTable();
    createChTable(QStringLiteral("memory"));
    createAtuTable();
    createTextTable();

    readDefinition();
    m_vfoKeys.clear();

    // Tables, merge and load in one job on the database thread, inside one
    // transaction: a start cut short leaves the old database, and a fresh
    // database is written once instead of once per row.
    struct Loaded
    {
        QString section;
        QString key;
        zparam_item_t item;
    };
    QVector<Loaded> loaded;
    const QVector<DefEntry> definition = m_definition;
    runDb([&](QSqlDatabase &db) {
        const bool tx = db.isOpen() && db.transaction();
        QString lastSection;
        for (const DefEntry &e : definition) {
            if (e.section != lastSection) {
                lastSection = e.section;
                dbCreateNamed(db, kParamTableSql, e.section);
            }
            dbAddNewData(db, e.section, e.fields);
        }
        for (const DefEntry &e : definition) {
            QStringList columns;
            QString error;
            const RowStatus status = dbReadRow(db, e.section, e.key, &columns, &error);
            if (status == RowFound && e.fields.size() >= 6) {
                // The row's definition columns are the definition's (the
                // merge above wrote them); where the merge could not, take
                // them from the definition so the stored value still loads.
                for (int i : { 1, 3, 4, 5 })
                    columns[i] = e.fields.at(i);
            }
            zparam_item_t item = itemFromRow(status, e.section, e.key, columns, error);
            if (status != RowFound && e.fields.size() >= 6) {
                // No usable row (read-only or damaged database): run on the
                // definition's own values rather than on blank items.
                qCWarning(logParam) << "[WRN] Using the definition values for" << e.section << e.key;
                item = zparam_item_from_row(e.key, e.fields);
            }
            loaded << Loaded{ e.section, e.key, item };
        }
        if (tx && !db.commit()) {
            qCWarning(logParam) << "[ERR] Merge of the definition not committed," << db.lastError().text();
            db.rollback();
        }
    });

    bool wparamSeen = false;
    for (const Loaded &l : loaded) {
        if (QMap<QString, zparam_item_t> *map = vfoMap(l.section)) {
            map->insert(l.key, l.item);
        } else if (l.section == QLatin1String(kSectionParam)) {
            if (!wparamSeen) {
                wparamSeen = true;
                wparamItems.clear();
                wparamKeys.clear();
                m_wparamIndex.clear();
            }
            m_wparamIndex.insert(l.key, wparamKeys.size());
            wparamKeys << l.key;
            wparamItems << l.item;
        }
    }
    // The VFO key list is the key list of the first VFO section.
    QString vfoSection;
    for (const DefEntry &e : m_definition) {
        if (e.section != QLatin1String(kSectionVfoA) && e.section != QLatin1String(kSectionVfoB))
            continue;
        if (vfoSection.isEmpty())
            vfoSection = e.section;
        if (e.section == vfoSection)
            m_vfoKeys << e.key;
    }
}

void ZParamAdmin::syncDatabase()
{
    Locker lock(this);
    const QString wparam = QLatin1String(kSectionParam);

    // 1. Values that live outside the item caches.
    setParamItem(wparam, QStringLiteral("text_dlo_freq"), dloFreq.load());
    setParamItem(wparam, QStringLiteral("text_plo_freq"), ploFreq.load());
    static const char *const families[] = { "ssb", "cw", "am", "nfm" };
    for (int f = 0; f < 4; ++f) {
        setParamItem(wparam, QStringLiteral("fltgrp_%1").arg(QLatin1String(families[f])), m_groupIndex[f]);
        for (int g = 0; g < m_filters[f].size(); ++g) {
            const ztwinfilter_t &flt = m_filters[f].at(g);
            const QString prefix = QStringLiteral("text_%1flt_%2_").arg(QLatin1String(families[f])).arg(g + 1);
            setParamItem(wparam, prefix + QLatin1Char('1'), flt.passBand1());
            setParamItem(wparam, prefix + QLatin1Char('2'), flt.passBand2());
        }
    }

    // 2. Every defined key with its cached value.
    struct Row
    {
        QString table;
        QString key;
        QString text;
    };
    QVector<Row> rows;
    rows.reserve(m_definition.size());
    // In memory mode the VFO caches hold the selected channel; the VFO rows
    // keep the operator's own VFOs (saved on entering memory mode), which
    // the next start loads before it applies the channel again.
    const bool memoryMode = wparamInt(QStringLiteral("vm")) != 0;
    for (const DefEntry &e : m_definition) {
        QVariant value;
        if (QMap<QString, zparam_item_t> *map = vfoMap(e.section)) {
            if (memoryMode)
                continue;
            value = map->value(e.key).value;
        } else if (e.section == wparam) {
            const int i = m_wparamIndex.value(e.key, -1);
            if (i < 0)
                continue;
            value = wparamItems.at(i).value;
        } else {
            continue;
        }
        if (!value.isValid()) {
            qCWarning(logParam) << "[WRN] No value for" << e.section << e.key << ", stored value kept";
            continue;
        }
        rows << Row{ e.section, e.key, zparam_value_text(value) };
    }

    // 3. The current-channel record carries every VFO key.
    for (const QString &k : qAsConst(m_vfoKeys)) {
        if (!m_currentChItem.vfoa.contains(k))
            m_currentChItem.vfoa.insert(k, zparam_item_t());
        if (!m_currentChItem.vfob.contains(k))
            m_currentChItem.vfob.insert(k, zparam_item_t());
    }

    // 4. The multi-function-knob key, in the same transaction.
    const QString mfk = mfkKey.value();

    runDb([&](QSqlDatabase &db) {
        if (!db.transaction())
            qCWarning(logParam) << "[ERR] Sync without transaction," << db.lastError().text();
        // One prepared statement per table, reused for all its rows.
        std::map<QString, std::unique_ptr<QSqlQuery>> prepared;
        int failed = 0;
        for (const Row &r : qAsConst(rows)) {
            if (!zparam_sql::validTableName(r.table))
                continue;
            const QString update = QStringLiteral("UPDATE %1 SET pv=? WHERE pname=?").arg(r.table);
            std::unique_ptr<QSqlQuery> &uq = prepared[r.table];
            if (!uq) {
                uq.reset(new QSqlQuery(db));
                if (!uq->prepare(update))
                    qCWarning(logParam) << "Query failed," << update << uq->lastError().text();
            }
            uq->bindValue(0, textArg(r.text));
            uq->bindValue(1, textArg(r.key));
            if (!uq->exec()) {
                ++failed;
                qCWarning(logParam) << "Query failed," << describe(update, { r.text, r.key }) << uq->lastError().text();
            }
        }
        prepared.clear();
        zparam_sql::addText(db, QStringLiteral("mfk_key"), mfk);
        if (!db.commit()) {
            qCWarning(logParam) << "[ERR] Sync not committed, database keeps its previous values," << db.lastError().text();
            db.rollback();
        } else if (failed) {
            qCWarning(logParam) << "[WRN] Sync committed with" << failed << "failed rows";
        }
    });
}
