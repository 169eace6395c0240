// Parameter items, the definition text and the settings database.
#include "tests/params_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <unistd.h>
#include <thread>
#include <vector>

using namespace ptest;
using namespace zrnamespace;

static const QString W = QStringLiteral("wparam");

int readOnlyScenario();

class TestParamItems : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installLogCapture(); }
    void init() { clearLog(); }

    // The definition text holds every key of the key table, each as five
    // lines after QSettings has read it.
    void definitionTextMatchesKeyTable()
    {
        QFile table(QStringLiteral(ZR_SOURCE_DIR "/tests/params_keytable.tsv"));
        QVERIFY(table.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(table.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 145);

        QSettings def(QString::fromLatin1(ZParamAdmin::DefinitionFile), QSettings::IniFormat);
        QCOMPARE(def.childGroups(), (QStringList{ "vfoa", "vfob", "wparam" }));
        int keys = 0;
        for (const QString &g : def.childGroups()) {
            def.beginGroup(g);
            keys += def.childKeys().size();
            def.endGroup();
        }
        QCOMPARE(keys, 145);
        for (const QString &row : rows) {
            const QStringList c = row.split(QLatin1Char('\t'));
            QCOMPARE(c.size(), 7);
            const QVariant v = def.value(c[0] + QLatin1Char('/') + c[1]);
            QCOMPARE(v.userType(), int(QMetaType::QString)); // no unquoted comma split it
            const QStringList lines = v.toString().split(QLatin1Char('\n'));
            QCOMPARE(lines, c.mid(2));
        }
        // Quoted option lists keep their commas; a dash unit is one space.
        QCOMPARE(def.value("wparam/fftpke").toString().section('\n', 4), QStringLiteral("s,OFF,ON"));
        QCOMPARE(def.value("wparam/fftdec").toString().section('\n', 4),
                 QStringLiteral("s,100k,50k,25k,12.5k,6.25k"));
        QCOMPARE(def.value("vfoa/freq").toString().section('\n', 4), QStringLiteral("d, "));
        // The NTP servers ship with pool host names and an empty default.
        for (const char *k : { "wparam/text_ntp_server1", "wparam/text_ntp_server2" }) {
            const QStringList l = def.value(k).toString().split('\n');
            QVERIFY(l[1].endsWith(QLatin1String("pool.ntp.org")));
            QVERIFY(l[2].isEmpty());
        }
        QVERIFY(def.value("wparam/text_ntp_server2").toString().section('\n', 1, 1)
                != def.value("wparam/text_ntp_server1").toString().section('\n', 1, 1));
    }

    // A new database: every table, every row with its definition value,
    // caches equal to the definitions, values typed by the rules.
    void freshDatabaseAndTyping()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            QCOMPARE(s.paramItem("vfoa", "freq").value, QVariant(14270000));
            QCOMPARE(s.paramItem("vfob", "freq").value, QVariant(7050000));
            QCOMPARE(s.paramItem(W, "rxvol").value.userType(), int(QMetaType::Int));

            const zparam_item_t msg = s.paramItem(W, "msg01");
            QCOMPARE(msg.value.userType(), int(QMetaType::QString));
            QCOMPARE(msg.value.toString(), QStringLiteral("ZR450"));
            QCOMPARE(msg.min.toString(), QString());
            QCOMPARE(msg.step.toString(), QString());

            const zparam_item_t kr = s.paramItem(W, "kr");
            QCOMPARE(kr.value.userType(), int(QMetaType::Float));
            QCOMPARE(kr.step.toFloat(), 0.1f);
            QCOMPARE(kr.max.toFloat(), 4.5f);

            const zparam_item_t ref = s.paramItem(W, "fftref");
            QCOMPARE(ref.min, QVariant(-10));
            QCOMPARE(ref.max, QVariant(10));

            const zparam_item_t mode = s.paramItem("vfoa", "mode");
            QCOMPARE(mode.fmt, QStringLiteral("s"));
            QCOMPARE(mode.unit, QStringLiteral("LSB,LSB-DIG,USB,USB-DIG,CW,CWR,AM,NFM"));
            QCOMPARE(mode.mmflag, QStringLiteral("1"));
            QCOMPARE(s.paramItem(W, "rxvol").unit, QStringLiteral(" "));
            QCOMPARE(s.mfkKey.value(), QStringLiteral("txpwr"));
        }
        DbFile db(root.dbFile());
        for (const char *t : { "vfoa", "vfob", "wparam", "memory", "bandstack", "atunetwork", "file_table" })
            QVERIFY2(db.value("SELECT count(*) FROM sqlite_master WHERE name=?", { t }).toInt() == 1, t);
        QCOMPARE(db.count("vfoa"), 5);
        QCOMPARE(db.count("vfob"), 5);
        QCOMPARE(db.count("wparam"), 135);
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='msg02'").toString(), QString());
        QCOMPARE(db.value("SELECT typeof(pv) FROM wparam WHERE pname='msg02'").toString(), QStringLiteral("text"));
        QCOMPARE(db.value("SELECT file_text FROM file_table WHERE file_name='mfk_key'").toString(),
                 QStringLiteral("txpwr"));
    }

    // Stepping, wrapping and clamping, the transmit-power steps and the
    // modified flag.
    void steppingAndWrapping()
    {
        Sysroot root;
        ZParamAdmin s;
        s.setParamItem("vfoa", "agc", 3);
        QCOMPARE(s.modifyParamItem("vfoa", "agc", 1), QVariant(0)); // wraps
        s.setParamItem(W, "rxvol", 55);
        QCOMPARE(s.modifyParamItem(W, "rxvol", 1), QVariant(55)); // clamps
        s.setParamItem(W, "ts", 1);
        QCOMPARE(s.modifyParamItem(W, "ts", -1), QVariant(3));
        QCOMPARE(s.modifyParamItem(W, "ts", -5, -1, ModifyBound), QVariant(2)); // direction by sign only
        QCOMPARE(s.modifyParamItem(W, "ts", -1, -1, -1), QVariant(1));           // int mode form
        QCOMPARE(s.modifyParamItem(W, "ts", -1, -1, 1), QVariant(3));

        s.modified = false;
        s.setParamItem(W, "ks", 48);
        QCOMPARE(s.modifyParamItem(W, "ks", 1, 5, ModifyBound), QVariant(50));
        QVERIFY(s.modified.exchange(false));
        QCOMPARE(s.modifyParamItem(W, "ks", 1, 5, ModifyBound), QVariant(50));
        QVERIFY(!s.modified);

        // Direction 0 does not step but brings a stray value back in range.
        s.setParamItem(W, "rxvol", 80);
        QCOMPARE(s.modifyParamItem(W, "rxvol", 0), QVariant(55));
        s.setParamItem(W, "agc", 3);

        s.setParamItem(W, "kr", 4.5f);
        QCOMPARE(s.modifyParamItem(W, "kr", 1).toFloat(), 4.5f);
        s.setParamItem(W, "kr", 2.5f);
        for (int i = 0; i < 20; ++i)
            s.modifyParamItem(W, "kr", 1);
        QCOMPARE(s.paramItem(W, "kr").value.toFloat(), 4.5f); // 0.1 steps land on the grid

        // Transmit power: 0.1 W steps up to 1 W, 1 W steps above.
        auto tx = [&](float from, int dir) {
            s.setParamItem(W, "txpwr", from);
            return s.modifyParamItem(W, "txpwr", dir).toFloat();
        };
        QCOMPARE(tx(1.0f, -1), 0.9f);
        QCOMPARE(tx(0.9f, 1), 1.0f);
        QCOMPARE(tx(1.0f, 1), 2.0f);
        QCOMPARE(tx(5.0f, 1), 5.0f); // txPowerMax 5
        QCOMPARE(tx(0.1f, -1), 0.1f);
        s.setParamItem(W, "txpwr", 0.1f);
        for (int i = 0; i < 9; ++i)
            s.modifyParamItem(W, "txpwr", 1);
        QCOMPARE(s.paramItem(W, "txpwr").value.toFloat(), 1.0f);
        QCOMPARE(s.modifyParamItem(W, "txpwr", 1).toFloat(), 2.0f);

        s.setParamItem(W, "txpwr", 5.0f);
        s.modified = false;
        s.setTxPowerMax(3.0f);
        QCOMPARE(s.paramItem(W, "txpwr").value.toFloat(), 3.0f);
        QVERIFY(s.modified.exchange(false));
        s.setParamItem(W, "txpwr", 2.0f);
        s.setTxPowerMax(3.0f);
        QCOMPARE(s.paramItem(W, "txpwr").value.toFloat(), 2.0f);
        QVERIFY(!s.modified);
        s.setTxPowerMax(10.0f);
        s.setParamItem(W, "txpwr", 9.0f);
        QCOMPARE(s.modifyParamItem(W, "txpwr", 1).toFloat(), 10.0f);

        // Text items are never stepped; unknown keys and groups are inert.
        QCOMPARE(s.modifyParamItem(W, "msg01", 1), QVariant(QStringLiteral("ZR450")));
        QCOMPARE(s.modifyParamItem(W, "nosuchkey", 1), QVariant(QStringLiteral("0")));
        QVERIFY(!s.modifyParamItem("vfoa", "nosuchkey", 1).isValid());
        QCOMPARE(s.paramItem("other", "freq").value.toString(), QStringLiteral("0"));
        QVERIFY(s.paramItem("other", "freq").name.isEmpty());
        s.setParamItem("other", "freq", 1);
        s.setParamItem(W, "nosuchkey", 1);
        QCOMPARE(s.paramItem(W, "nosuchkey").value.toString(), QStringLiteral("0"));
        s.resetParamItem("vfob", "nosuchkey2");
        // Each mistyped key is named in the log, once however often it is
        // asked for; keys that exist are not.
        QCOMPARE(logCount("[ERR] No parameter item wparam/nosuchkey"), 1);
        QCOMPARE(logCount("[ERR] No parameter item vfoa/nosuchkey"), 1);
        QCOMPARE(logCount("[ERR] No parameter item other/freq"), 1);
        QCOMPARE(logCount("[ERR] No parameter item vfob/nosuchkey2"), 1);
        QCOMPARE(logCount("[ERR] No parameter item wparam/rxvol"), 0);
        // At most 256 keys are remembered and reported.
        const int reported = logCount("[ERR] No parameter item");
        for (int i = 0; i < 300; ++i)
            s.paramItem(W, QStringLiteral("typo%1").arg(i));
        QCOMPARE(logCount("[ERR] No parameter item"), 256);
        QVERIFY(reported < 256);
        QCOMPARE(logCount("[ERR] Further unknown parameter items are not reported"), 1);
        s.paramItem(W, "typo299");
        QCOMPARE(logCount("[ERR] No parameter item"), 256);

        s.setParamItem(W, "rxvol", 12);
        s.resetParamItem(W, "rxvol");
        QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(30));

        QCOMPARE(s.vfoIndex(), 0);
        QCOMPARE(s.rxVolum(), 30);
        QCOMPARE(ZParamAdmin::modeIndexToName(1), QStringLiteral("L-DIG"));
        QCOMPARE(ZParamAdmin::modeIndexToName(8), QStringLiteral("ERR"));
        s.setParamItem(W, "cwtone", 700);
        QCOMPARE(s.offsetFrequency(4), 700);
        QCOMPARE(s.offsetFrequency(5), -700);
        QCOMPARE(s.offsetFrequency(7), 50);
        QCOMPARE(s.offsetFrequency(2), 0);
        s.setMode(5);
        QCOMPARE(s.offsetFrequency(), -700);
    }

    void displayRules()
    {
        Sysroot root;
        ZParamAdmin s;
        zparam_item_t mode = s.paramItem("vfoa", "mode");
        mode.value = 9;
        QCOMPARE(mode.valueForDisp(), QStringLiteral("NFM"));
        mode.value = -1;
        QCOMPARE(mode.valueForDisp(), QStringLiteral("No data"));
        mode.value = 2;
        QCOMPARE(mode.valueForDisp(), QStringLiteral("USB"));
        QCOMPARE(s.paramItem(W, "txpwr").valueForDisp(), QStringLiteral("5.0 W"));
        QCOMPARE(s.paramItem(W, "rxvol").valueForDisp(), QStringLiteral("30  "));
        QCOMPARE(s.paramItem(W, "cwtone").valueForDisp(), QStringLiteral("800 Hz"));
        // A format text from a damaged database never reaches printf as is.
        zparam_item_t bad = s.paramItem(W, "kr");
        bad.fmt = QStringLiteral("s%n%s f");
        QVERIFY(!bad.valueForDisp().isEmpty());
    }

    // The INI texts of channels are exactly QSettings' own, and reading many
    // texts of equal length in a row gives each its own values.
    void iniTextsRoundTrip()
    {
        Sysroot root;
        ZParamAdmin s;
        QMap<QString, zparam_item_t> map;
        ZParamAdmin::updateItemMapKeys(map, { "freq", "mode", "agc", "att", "pre" });
        map["freq"].value = 14270000;
        map["mode"].value = 2;
        map["agc"].value = 3;
        map["att"].value = 0;
        map["pre"].value = 1;
        QString text;
        s.itemToIniText("vfoa", map, text);
        QCOMPARE(text, QStringLiteral("[vfoa]\nagc=3\natt=0\nfreq=14270000\nmode=2\npre=1\n"));
        QVERIFY(!QFile::exists(root.appDir() + "/.tmp_ini"));

        QMap<QString, zparam_item_t> back;
        for (int i = 0; i < 300; ++i) {
            const QString t = QStringLiteral("[vfoa]\nfreq=%1\n").arg(10000000 + i);
            s.iniTextToItem("vfoa", t, back);
            QCOMPARE(back.value("freq").value.toInt(), 10000000 + i);
            map["freq"].value = 20000000 + i;
            s.itemToIniText("vfoa", map, text);
            QVERIFY(text.contains(QStringLiteral("freq=%1\n").arg(20000000 + i)));
        }
        // A leftover temporary file never leaks keys into a text.
        root.writeFile("/app/.tmp_ini", "[vfoa]\nstale=1\n");
        s.itemToIniText("vfoa", map, text);
        QVERIFY(!text.contains("stale"));

        QMap<QString, zparam_item_t> keep;
        keep["x"].value = 1;
        ZParamAdmin::updateItemMapKeys(keep, {});
        QCOMPARE(keep.size(), 1);
    }

    // A changed definition merges into an existing database: new labels and
    // ranges, the user's values kept, new keys added, removed keys left alone.
    void mergeChangedDefinition()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            s.setParamItem(W, "rxvol", 50);
            s.setParamItem(W, "nbw", 90);
            s.setParamItem(W, "msg02", QStringLiteral("CQ CQ"));
            s.syncDatabase();
        }
        QString def = definitionText();
        def = replaceEntry(def, "rxvol", { "RX VOLUME", "30", "30", "1,0,0,60", "d, " });
        def = replaceEntry(def, "nbw", { "NB WIDTH", "10", "12", "1,0,0,50", "d,%" });
        def = removeEntry(def, "sql_tone");
        def = addEntry(def, "wparam", "newkey", { "NEW KEY", "7", "7", "1,0,0,9", "d, " });
        const QString defFile = root.path() + "/def1.ini";
        writeDefinition(defFile, def);
        {
            ZParamAdmin s(nullptr, defFile);
            const zparam_item_t rx = s.paramItem(W, "rxvol");
            QCOMPARE(rx.tag, QStringLiteral("RX VOLUME"));
            QCOMPARE(rx.value, QVariant(50));
            QCOMPARE(rx.max, QVariant(60));
            QCOMPARE(s.paramItem(W, "nbw").value, QVariant(12)); // 90 is outside the new range
            QCOMPARE(s.paramItem(W, "newkey").value, QVariant(7));
            QCOMPARE(s.paramItem(W, "msg02").value.toString(), QStringLiteral("CQ CQ"));
            QVERIFY(s.paramItem(W, "sql_tone").name.isEmpty());
            s.syncDatabase();
        }
        DbFile db(root.dbFile());
        QCOMPARE(db.value("SELECT ptag FROM wparam WHERE pname='rxvol'").toString(), QStringLiteral("RX VOLUME"));
        QCOMPARE(db.value("SELECT pprop FROM wparam WHERE pname='rxvol'").toString(), QStringLiteral("1,0,0,60"));
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='rxvol'").toString(), QStringLiteral("50"));
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='nbw'").toString(), QStringLiteral("12"));
        QCOMPARE(db.value("SELECT pdef FROM wparam WHERE pname='nbw'").toString(), QStringLiteral("12"));
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='newkey'").toString(), QStringLiteral("7"));
        QCOMPARE(db.value("SELECT count(*) FROM wparam WHERE pname='sql_tone'").toInt(), 1);
    }

    // Stored values outside their range, of the wrong type or not numbers
    // load as defaults with a log line; the next write-back stores them.
    void storedValuesOutOfRangeOrWrongType()
    {
        Sysroot root;
        { ZParamAdmin s; }
        {
            DbFile db(root.dbFile());
            QVERIFY(db.exec("UPDATE wparam SET pv='80' WHERE pname='rxvol'"));
            QVERIFY(db.exec("UPDATE wparam SET pv='abc' WHERE pname='ks'"));
            QVERIFY(db.exec("UPDATE wparam SET pv='nan' WHERE pname='kr'"));
            QVERIFY(db.exec("UPDATE wparam SET pv=NULL WHERE pname='nbw'"));
            QVERIFY(db.exec("UPDATE wparam SET pv=45 WHERE pname='rfg'")); // an integer, not text
            QVERIFY(db.exec("UPDATE wparam SET pv=x'3230' WHERE pname='cwvol'")); // a blob "20"
            QVERIFY(db.exec("UPDATE wparam SET pv='4.0' WHERE pname='agcslope'")); // float text in an int item
            QVERIFY(db.exec("UPDATE wparam SET pv=NULL WHERE pname='msg01'"));
            QVERIFY(db.exec("INSERT INTO wparam values('bogus','B','1','1','1,0,0,1','d, ')"));
            QVERIFY(db.exec("DELETE FROM wparam WHERE pname='voxg'"));
        }
        {
            ZParamAdmin s;
            QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(30));
            QCOMPARE(s.paramItem(W, "ks").value, QVariant(15));
            QCOMPARE(s.paramItem(W, "kr").value.toFloat(), 3.0f);
            QCOMPARE(s.paramItem(W, "nbw").value, QVariant(10));
            QCOMPARE(s.paramItem(W, "rfg").value, QVariant(45));
            QCOMPARE(s.paramItem(W, "cwvol").value, QVariant(20));
            QCOMPARE(s.paramItem(W, "agcslope").value, QVariant(4));
            QCOMPARE(s.paramItem(W, "msg01").value.toString(), QString());
            QCOMPARE(s.paramItem(W, "voxg").value, QVariant(50)); // missing row inserted again
            QVERIFY(s.paramItem(W, "bogus").name.isEmpty());
            QVERIFY(logContains("out of range: 80"));
            QVERIFY(logContains("not a number: \"abc\""));
            s.syncDatabase();
        }
        DbFile db(root.dbFile());
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='rxvol'").toString(), QStringLiteral("30"));
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='kr'").toString(), QStringLiteral("3"));
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='bogus'").toString(), QStringLiteral("1"));
    }

    void databaseRowOperations()
    {
        Sysroot root;
        ZParamAdmin s;
        s.setDbItem(W, "rxvol", 20);
        QCOMPARE(s.getDbItem(W, "rxvol").value, QVariant(20));
        s.resetDbItem(W, "rxvol");
        QCOMPARE(s.getDbItem(W, "rxvol").value, QVariant(30));
        QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(30)); // cache untouched throughout

        s.setDbItem(W, "nosuch", 5); // never inserts
        QVERIFY(s.getDbItem(W, "nosuch").name.isEmpty());
        QVERIFY(logContains("no record found,"));
        QCOMPARE(s.getDbItem("nosuchtable", "x").value.toString(), QStringLiteral("0"));
        QVERIFY(logContains("Database Query Error,"));

        s.addNewData(W, { "short", "x" });
        QVERIFY(logContains("Invalid data length,"));
        s.addNewData(W, { "extra", "EXTRA", "3", "3", "1,0,0,5", "d, " });
        QCOMPARE(s.getDbItem(W, "extra").value, QVariant(3));
        s.setDbItem(W, "extra", 4);
        s.addNewData(W, { "extra", "EXTRA2", "3", "2", "1,0,0,5", "d, " });
        const zparam_item_t e = s.getDbItem(W, "extra");
        QCOMPARE(e.tag, QStringLiteral("EXTRA2"));
        QCOMPARE(e.value, QVariant(4));
        QCOMPARE(e.def, QVariant(2));
    }

    // Values survive a restart; floats are stored in their short form.
    void restartPersistence()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            s.setParamItem(W, "txpwr", 1.0f);
            s.modifyParamItem(W, "txpwr", -1);
            s.setParamItem(W, "kr", 3.7f);
            s.setParamItem(W, "rxvol", 44);
            s.setParamItem("vfob", "mode", 4);
            s.setParamItem(W, "text_wifiap", QStringLiteral("home \"net\", 5G"));
            s.mfkKey = QStringLiteral("rfg");
            s.syncDatabase();
        }
        {
            DbFile db(root.dbFile());
            QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='txpwr'").toString(), QStringLiteral("0.9"));
            QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='kr'").toString(), QStringLiteral("3.7"));
        }
        ZParamAdmin s;
        QCOMPARE(s.paramItem(W, "txpwr").value.toFloat(), 0.9f);
        QCOMPARE(s.paramItem(W, "kr").value.toFloat(), 3.7f);
        QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(44));
        QCOMPARE(s.paramItem("vfob", "mode").value, QVariant(4));
        QCOMPARE(s.paramItem(W, "text_wifiap").value.toString(), QStringLiteral("home \"net\", 5G"));
        QCOMPARE(s.mfkKey.value(), QStringLiteral("rfg"));
    }

    // Values holding quotes and statement text are data, never statements.
    void unsafeInputs()
    {
        Sysroot root;
        const QString nasty = QStringLiteral("a\"b'c\"); DROP TABLE wparam; -- \" OR 1=1 \\ \n%s%n");
        {
            ZParamAdmin s;
            s.setParamItem(W, "msg03", nasty);
            s.syncDatabase();
            s.createTable(QStringLiteral("x; DROP TABLE wparam"));
            s.createChTable(QStringLiteral("memory\" --"));
            s.addNewData(QStringLiteral("wparam WHERE 1"), { "a", "b", "c", "d", "e", "f" });
            QVERIFY(s.getDbItem(W, QStringLiteral("rxvol\" OR \"1\"=\"1")).name.isEmpty());
            s.setDbItem(W, QStringLiteral("x\" OR pname LIKE \"%"), 1);
            s.addText(nasty, nasty);
            QCOMPARE(s.textFile(nasty), nasty);
            QCOMPARE(s.textFile(QStringLiteral("\" OR 1=1 --")), QString());
        }
        DbFile db(root.dbFile());
        QCOMPARE(db.count("wparam"), 135);
        QCOMPARE(db.value("SELECT count(*) FROM wparam WHERE pv='1'").toInt(),
                 db.value("SELECT count(*) FROM wparam WHERE pdef='1'").toInt()); // nothing widened
        ZParamAdmin s;
        QCOMPARE(s.paramItem(W, "msg03").value.toString(), nasty);
    }

    // Damaged, empty, corrupt and odd database files: a clear log line,
    // defaults where needed, no crash.
    void badDatabaseFiles()
    {
        {
            Sysroot root;
            root.writeFile("/app/zparam.db", QByteArray());
            ZParamAdmin s;
            QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(30));
        }
        {
            Sysroot root;
            QByteArray junk(8192, 'x');
            junk.prepend("this is not a database");
            root.writeFile("/app/zparam.db", junk);
            {
                ZParamAdmin s;
                QVERIFY(logContains("Database file unreadable"));
                QCOMPARE(s.paramItem("vfoa", "freq").value, QVariant(14270000));
                s.setParamItem(W, "rxvol", 21);
                s.syncDatabase();
            }
            QCOMPARE(QDir(root.appDir()).entryList({ "zparam.db.bad-*" }).size(), 1);
            ZParamAdmin s;
            QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(21));
        }
        {
            // A database that cannot be opened at all: the store runs on the
            // definition's values.
            Sysroot root;
            QDir().mkpath(root.dbFile());
            ZParamAdmin s;
            QVERIFY(logContains("Can't open SQLLITE database,"));
            QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(30));
            QCOMPARE(s.paramItem("vfoa", "freq").value, QVariant(14270000));
            s.setVfoFront("freq", 7100000);
            s.syncDatabase();
            QCOMPARE(s.mfkKey.value(), QStringLiteral("txpwr"));
        }
        {
            // A parameter table of another layout: rows cannot be merged,
            // stored values are still used where they can be read.
            Sysroot root;
            {
                DbFile db(root.dbFile());
                QVERIFY(db.exec("CREATE TABLE wparam(pname TEXT PRIMARY KEY, ptag TEXT, pv TEXT)"));
                QVERIFY(db.exec("INSERT INTO wparam values('rxvol','RX','41')"));
                QVERIFY(db.exec("CREATE TABLE memory(ch TEXT PRIMARY KEY)"));
                QVERIFY(db.exec("INSERT INTO memory values('M0003')"));
            }
            ZParamAdmin s;
            QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(41));
            QCOMPARE(s.paramItem(W, "ks").value, QVariant(15));
            QCOMPARE(s.chList(), QStringList{ "M0003" });
            QVERIFY(!s.setVfoMemoMode(1) || s.vm() == 1); // unreadable channel: no crash
            QCOMPARE(s.paramItem("vfoa", "freq").value, QVariant(14270000));
        }
        {
            // A definition entry with too few lines, and one whose unquoted
            // comma splits it into a list.
            Sysroot root;
            QString def = definitionText();
            def = replaceEntry(def, "nbw", { "NB WIDTH", "10" });
            def.replace(QStringLiteral("nbthr=\"\\\n"), QStringLiteral("nbthr=a,b\nnbthr_old=\"\\\n"));
            const QString defFile = root.path() + "/def-short.ini";
            writeDefinition(defFile, def);
            ZParamAdmin s(nullptr, defFile);
            QVERIFY(logContains("Invalid data length,"));
            QVERIFY(s.paramItem(W, "nbw").name.isEmpty());
            QCOMPARE(s.paramItem(W, "rxvol").value, QVariant(30));
        }
    }

    // A database file the store may read but not write.
    void readOnlyDatabase()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            s.setParamItem(W, "rxvol", 12);
            s.syncDatabase();
        }
        QFile::setPermissions(root.dbFile(), QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        if (::geteuid() != 0) {
            QCOMPARE(readOnlyScenario(), 0);
        } else {
            // Root writes any file: run the scenario as "nobody" instead.
            const QFileDevice::Permissions open = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                | QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                | QFileDevice::ReadOther | QFileDevice::ExeOther;
            QFile::setPermissions(root.path(), open);
            QFile::setPermissions(root.appDir(), open);
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("ZR450_PARAMS_READONLY_CHILD", "1");
            env.insert("ZR450_SYSROOT", root.path());
            env.insert("TMPDIR", root.path());
            child.setProcessEnvironment(env);
            child.start("setpriv", { "--reuid=65534", "--regid=65534", "--clear-groups",
                                     QCoreApplication::applicationFilePath() });
            if (!child.waitForStarted(10000))
                QSKIP("setpriv is not available to drop root rights");
            QVERIFY(child.waitForFinished(30000));
            QCOMPARE(child.exitCode(), 0);
        }
        DbFile db(root.dbFile());
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='rxvol'").toString(), QStringLiteral("12"));
    }

    // syncDatabase is one transaction: a process that dies in the middle
    // of it leaves the previous values, never a mix.
    void syncIsAllOrNothing()
    {
        Sysroot root;
        {
            ZParamAdmin s;
            s.setParamItem(W, "rxvol", 10);
            s.setParamItem(W, "nbw", 10);
            s.syncDatabase();
        }
        {
            DbFile db(root.dbFile());
            // The last row of the write-back fails; the child then dies.
            QVERIFY(db.exec("CREATE TRIGGER boom BEFORE UPDATE ON wparam WHEN NEW.pname='xit' "
                            "BEGIN SELECT RAISE(ABORT, 'boom'); END"));
        }
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZR450_PARAMS_CRASH_CHILD", "1");
        env.insert("ZR450_SYSROOT", root.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 3); // died inside the write-back
        DbFile db(root.dbFile());
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='rxvol'").toString(), QStringLiteral("10"));
        QCOMPARE(db.value("SELECT pv FROM wparam WHERE pname='nbw'").toString(), QStringLiteral("10"));
        QCOMPARE(db.value("SELECT pv FROM vfoa WHERE pname='freq'").toString(), QStringLiteral("14270000"));
        QVERIFY(db.exec("DROP TRIGGER boom"));
    }

    // Several threads use the store at once, as the GUI, front-panel input
    // and CI-V threads do.
    void concurrentUse()
    {
        Sysroot root;
        ZParamAdmin s;
        std::atomic<bool> stop{ false };
        std::atomic<int> errors{ 0 };
        std::vector<std::thread> threads;
        threads.emplace_back([&] { // tuning dial
            for (int i = 0; !stop; ++i) {
                s.modifyFrequncy(i % 7 < 4 ? 1 : -1);
                int plo = 0, dlo = 0;
                s.loFrequencies(&plo, &dlo);
                const int f = s.vfoFront("freq").value.toInt();
                (void)f;
                if (dlo < -48000 || dlo > 48000)
                    ++errors;
            }
        });
        threads.emplace_back([&] { // display reads
            while (!stop) {
                for (const char *k : { "rxvol", "txpwr", "agcknee", "ts", "vm", "chnum", "center_mode" })
                    s.paramItem(W, k);
                s.vfoBack("freq");
                s.twinFilter();
                s.modified.exchange(false);
            }
        });
        threads.emplace_back([&] { // CI-V worker
            for (int i = 0; !stop; ++i) {
                s.modifyParamItem(W, "rfg", i % 2 ? 1 : -1);
                s.setParamItem(W, "sple", i % 2);
                s.getBandStackItem(11);
                s.atuNetworkInfo(14200000);
                s.setTwinFilterGroupIndex(i % 3);
            }
        });
        threads.emplace_back([&] { // channels, texts and write-back
            for (int i = 0; !stop; ++i) {
                zparam_memo_t m = s.logicVfoMemo();
                m.chtag = QStringLiteral("ch %1").arg(i);
                s.saveChItem(i % 5, m);
                s.chItem(i % 5);
                s.addText("note", QString::number(i));
                if (i % 10 == 0)
                    s.syncDatabase();
            }
        });
        QThread::msleep(1500);
        stop = true;
        for (auto &t : threads)
            t.join();
        QCOMPARE(errors.load(), 0);
        int plo = 0, dlo = 0;
        s.loFrequencies(&plo, &dlo);
        QCOMPARE(plo + dlo, s.vfoFront("freq").value.toInt());
        QCOMPARE(s.chList().size(), 5);
    }
};

// Child process of syncIsAllOrNothing: changes values and dies as soon as a
// row of the write-back fails, in the middle of the transaction.
static void crashHandler(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    if (msg.startsWith(QLatin1String("Query failed,")))
        ::_exit(3);
}

// A store on a database it may read but not write: values load, changes
// stay in memory, every failed write is logged, nothing crashes.
int readOnlyScenario()
{
    installLogCapture();
    ZParamAdmin s;
    if (!logContains("read-only"))
        return 1;
    if (s.paramItem(W, "rxvol").value != QVariant(12))
        return 2;
    s.setParamItem(W, "rxvol", 11);
    s.syncDatabase();
    s.saveChItem(1, s.logicVfoMemo());
    s.addText("note", "x");
    if (s.paramItem(W, "rxvol").value != QVariant(11))
        return 3;
    if (!logContains("Sync not committed") && !logContains("Query failed,"))
        return 4;
    return 0;
}

int runParamItemsReadOnlyChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    zsys::reload();
    return readOnlyScenario();
}

int runParamItemsCrashChild(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    zsys::reload();
    qInstallMessageHandler(crashHandler);
    ZParamAdmin s;
    s.setParamItem(W, "rxvol", 50);
    s.setParamItem(W, "nbw", 50);
    s.setVfoFront("freq", 7100000);
    s.syncDatabase();
    return 0;
}

int runParamItemsTests(int argc, char **argv)
{
    TestParamItems t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_params_items.moc"
