#ifndef ZPARAMADMIN_H
#define ZPARAMADMIN_H

#include "params/zbandplan.h"
#include "params/zparamtypes.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class ZParamDb;
class QSqlDatabase;

using zrnamespace::ZRadioModifyMode;
using zrnamespace::zatu_network_t;
using zrnamespace::zparam_item_t;
using zrnamespace::zparam_memo_t;
using zrnamespace::ztwinfilter_fp_t;
using zrnamespace::ztwinfilter_t;

// The parameter store: every setting of the radio as a named item in the
// groups "vfoa", "vfob" and "wparam", cached in memory and kept in the SQLite
// database "zparam.db" of the application directory; plus the two VFOs with
// their local oscillators, band stacks, memory channels, twin filters, the
// band plan, tuner memory and named texts.
//
// The store is called from the GUI, front-panel input, register-push and
// CI-V threads. One lock serialises every operation on the caches and the
// database, and all database statements run on the store's own database
// thread (ZParamDb). sig_chUpdate() is emitted after the lock is released.
class ZParamAdmin : public QObject
{
    Q_OBJECT

public:
    static const char *const DefinitionFile; // ":/wparam_dbfile.ini"

    explicit ZParamAdmin(QObject *parent = nullptr);
    // Another definition text in place of the built-in one (tests, tools).
    ZParamAdmin(QObject *parent, const QString &definitionFile);
    ~ZParamAdmin() override;

    // ---- Parameter items ----
    zparam_item_t paramItem(const QString &group, const QString &key);
    void setParamItem(const QString &group, const QString &key, const QVariant &value);
    QVariant modifyParamItem(const QString &group, const QString &key, int direction, int step = -1,
                             ZRadioModifyMode mode = zrnamespace::ModifyByItem);
    QVariant modifyParamItem(const QString &group, const QString &key, int direction, int step, int mode);
    void resetParamItem(const QString &group, const QString &key);
    void setTxPowerMax(float max);

    int vfoIndex();
    int tuneStep();
    int rxVolum();
    int vm();
    int chNum();
    int mode();
    void setMode(int mode);
    static QString modeIndexToName(int mode);
    int offsetFrequency();
    int offsetFrequency(int mode);

    static void updateItemMapKeys(QMap<QString, zparam_item_t> &map, const QStringList &keys);
    void itemToIniText(const QString &group, const QMap<QString, zparam_item_t> &map, QString &text);
    void iniTextToItem(const QString &group, const QString &text, QMap<QString, zparam_item_t> &map);

    // ---- Database ----
    void createTable(const QString &name);
    void createChTable(const QString &name);
    void createBandstackTable();
    void createAtuTable();
    void createTextTable();
    void addNewData(const QString &table, const QStringList &fields);
    zparam_item_t getDbItem(const QString &table, const QString &key);
    void setDbItem(const QString &table, const QString &key, const QVariant &value);
    void resetDbItem(const QString &table, const QString &key);
    void initParam();
    // Writes every cached value back, in one transaction.
    void syncDatabase();

    // ---- VFOs and local oscillators ----
    // The range the radio tunes (the "freq" item's own range reaches lower).
    // The front VFO is held inside it; a channel or band-stack frequency
    // outside it is not loaded (the VFO keeps its own), and CAT requests
    // outside it are refused.
    static constexpr int kMinTuneFreq = 500000;
    static constexpr int kMaxTuneFreq = 55000000;
    static bool isTunableFrequency(qint64 freq) { return freq >= kMinTuneFreq && freq <= kMaxTuneFreq; }
    zparam_item_t vfoFront(const QString &key);
    zparam_item_t vfoBack(const QString &key);
    void setVfoFront(const QString &key, const QVariant &value);
    void setVfoBack(const QString &key, const QVariant &value);
    QVariant modifyVfoFront(const QString &key, int direction);
    QVariant modifyVfoBack(const QString &key, int direction);
    void modifyFrequncy(int direction);
    int bandIndex();
    // Physical LO and digital offset read together (the two atomics below
    // may be read one by one, but only this gives a consistent pair).
    void loFrequencies(int *plo, int *dlo);

    bool setVfoMemoMode(int vm);
    void saveLogicVfo();
    void loadLogicVfo();
    void memoToLogicVfo(const zparam_memo_t &memo, QMap<QString, zparam_item_t> &vfoa,
                        QMap<QString, zparam_item_t> &vfob);
    void memoToLogicVfo(const zparam_memo_t &memo);
    bool checkVfoItem(const QMap<QString, zparam_item_t> &map);
    // Both VFOs with the LO pair, as a snapshot (what "save VFO to channel"
    // stores).
    zparam_memo_t logicVfoMemo();
    // Copies VFO `from` (0 A, 1 B) onto the other one.
    void copyVfo(int from);

    // ---- Memory channels ----
    bool updateChList();
    void updateChItem(bool emitUpdate);
    int seekCh(int direction);
    zparam_memo_t chItem(int ch, int fetch = 1);
    void saveChItem(int ch, const zparam_memo_t &memo);
    void saveChItem(int ch, const QString &label);
    void eraseChItem(int ch);
    bool checkChNum(int ch);
    static QString chNumToString(int ch);
    QString chSlotName();
    void buildChItemContents(const zparam_memo_t &memo, QMap<QString, QString> &out);
    zparam_memo_t sqlrecordToMemoItem(const QSqlRecord &record);
    QStringList chList();
    QString currentChName();
    zparam_memo_t currentChItem();

    // ---- Band stack ----
    zparam_memo_t defaultBandstackItem(int slot);
    zparam_memo_t bandstackItem(int slot, bool fallback);
    zparam_memo_t getBandStackItem(int slot);
    void saveBandstackItem(int slot, const zparam_memo_t &memo);
    void setBandstackIndex(int slot);
    void modifyBandstackIndex(int direction);
    // Called by the main window after every VFO redraw. The band stack is
    // written when a band is left (setBandstackIndex), so nothing is needed
    // here; kept as the window's hook.
    void updateBandstack();

    // ---- Twin filters and band plan ----
    ztwinfilter_t twinFilter();
    ztwinfilter_t twinFilter(int mode);
    // Copies of all filter groups of the mode's family, in group order.
    QList<ztwinfilter_t> twinFilterFamily(int mode);
    int twinFilterGroupIndex();
    int setTwinFilterGroupIndex(int g);
    int modifyTwinFilterGroup(int d);
    int twinFilterIndex();
    void setTwinFilterIndex(int i);
    void modifyTwinFilter(float direction);
    void setTwinFilterGroupOffset(int mode, float offset);
    ztwinfilter_fp_t logicFpToRealFp(ztwinfilter_fp_t fp);
    const ZBandPlan &bandPlan() const { return m_bandPlan; }

    // ---- Tuner memory and named texts ----
    static QString atuTableName();
    static int atuSaveStep();
    static QString atuSavePoint(int freq);
    void saveAtuNetworkInfo(int freq, const zatu_network_t *net);
    zatu_network_t atuNetworkInfo(int freq);
    void addText(const QString &name, const QString &text);
    QString textFile(const QString &name);

    // ---- Shared state read and written directly by other parts ----
    // Set when modifyParamItem changes a value, when setTxPowerMax lowers
    // "txpwr" and by the CI-V interpreter; the main window reads and clears
    // it (modified.exchange(false)).
    std::atomic<bool> modified{ false };
    // Key of the item on the multi-function knob.
    ZSharedText mfkKey;
    // Upper bound of "txpwr" in W.
    std::atomic<float> txPowerMax{ 5.0f };
    // Physical LO and digital offset (Hz); written only by the store.
    std::atomic<int> ploFreq{ 0 };
    std::atomic<int> dloFreq{ 0 };

    // Live radio status: kept current by the radio link and the main window,
    // read by the CI-V interpreter.
    std::atomic<uint8_t> trxState{ 0 };  // 1 while the board transmits
    std::atomic<float> vsupply{ 0.0f };    // supply voltage, V
    std::atomic<float> signalLevel{ -145.0f }; // received level, dBm
    std::atomic<float> fwdPower{ 0.0f };   // forward power reading
    std::atomic<float> alcLevel{ 0.0f };   // ALC reading, 0..255
    std::atomic<float> swr{ 0.0f };
    std::atomic<uint8_t> sqlOpen{ 0 };     // squelch open
    std::atomic<uint8_t> atuActive{ 0 };   // tuner run in progress
    std::atomic<uint8_t> charging{ 0 };    // battery charging

signals:
    void sig_chUpdate();

private:
    class Locker;
    struct DefEntry
    {
        QString section;
        QString key;
        QStringList fields; // key, tag, value, default, "step,...", "fmt,unit"
    };

    // Reads the row of a channel or band-stack slot (table "memory" or
    // "bandstack") into *record (if given); true when it exists. A failed
    // statement is logged and sets *failed (if given).
    bool readChRow(const QString &table, const QString &name, QSqlRecord *record, bool *failed = nullptr);
    // Stores a snapshot as the row of channel or slot ch of that table.
    void writeChItem(const QString &table, int ch, const zparam_memo_t &memo);

    void construct(const QString &definitionFile);
    void openDatabase(const QString &file);
    bool readDefinition();
    void runDb(const std::function<void(QSqlDatabase &)> &job);
    void requestChUpdate() { ++m_chUpdatePending; }

    QMap<QString, zparam_item_t> *vfoMap(const QString &group);
    // Logs a (group, key) that no item has, once; what says what the
    // caller gets instead. Caller holds the lock.
    void reportUnknownItem(const QString &group, const QString &key, const char *what);
    QString frontGroup();
    QString backGroup();
    int wparamInt(const QString &key);
    void applyMemoValues(const QMap<QString, zparam_item_t> &src, QMap<QString, zparam_item_t> &dst,
                         const char *what);
    void checkLoPair(int freq, int mode, int dlo, int plo);
    // Keeps the LO pair when it still fits the front VFO, else re-centres it.
    void followFrontVfo();
    void initTwinFilters();
    void checkStoredLo();
    QList<ztwinfilter_t> &familyFilters(int family);
    static int modeFamily(int mode);
    static int modeMargin(int mode);

    mutable std::recursive_mutex m_mutex;
    int m_lockDepth = 0;
    int m_chUpdatePending = 0;

    std::unique_ptr<ZParamDb> m_db;
    QString m_dbFile;
    QString m_tmpIni;
    QString m_definitionFile;
    QVector<DefEntry> m_definition;
    QStringList m_vfoKeys;

    QMap<QString, zparam_item_t> vfoaItems;
    QMap<QString, zparam_item_t> vfobItems;
    QVector<zparam_item_t> wparamItems;
    QStringList wparamKeys;
    QHash<QString, int> m_wparamIndex;
    // (group, key) pairs reported by reportUnknownItem, at most this many.
    static const int kUnknownItemsReported = 256;
    QSet<QString> m_unknownItems;

    QStringList m_chList;
    QString m_currentChName;
    zparam_memo_t m_currentChItem;

    QList<ztwinfilter_t> m_filters[4]; // SSB, CW, AM, NFM
    int m_groupIndex[4] = { 0, 0, 0, 0 };

    ZBandPlan m_bandPlan;
};

#endif
