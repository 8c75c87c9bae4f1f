// The core runtime's configuration entries and their persistence across processes.
//
// The test starts copies of itself as the "other process": `--config-child` followed by
// `set HEXKEY HEXVALUE` and `get HEXKEY` steps; each get prints "absent" or
// "value HEXVALUE" on a line of its own. Keys and values travel hex-encoded UTF-8 so the
// command line's encoding plays no part.

#include "vexo-core/VelmarApplication.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using vexo::core::VelmarApplication;

namespace {

QByteArray hex(const QString& text)
{
    return text.toUtf8().toHex();
}

QString unhex(const QByteArray& data)
{
    return QString::fromUtf8(QByteArray::fromHex(data));
}

// Two different defaults tell an absent entry from one holding a default's text.
bool isAbsent(const std::string& key)
{
    return VelmarApplication::getConfigStringEntry(key, "a") == "a"
           && VelmarApplication::getConfigStringEntry(key, "b") == "b";
}

int runChild(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i) {
        const std::string step = argv[i];
        if (step == "set" && i + 2 < argc) {
            VelmarApplication::setConfigEntry(unhex(argv[i + 1]).toStdString(),
                                              unhex(argv[i + 2]).toStdString());
            i += 2;
        } else if (step == "get" && i + 1 < argc) {
            const std::string key = unhex(argv[i + 1]).toStdString();
            if (isAbsent(key))
                std::printf("absent\n");
            else
                std::printf("value %s\n",
                            QByteArray::fromStdString(VelmarApplication::getConfigStringEntry(key, ""))
                                .toHex()
                                .constData());
            i += 1;
        } else {
            return 2;
        }
    }
    return 0;
}

struct Child
{
    QStringList steps;

    Child& set(const QString& key, const QString& value)
    {
        steps << "set" << hex(key) << hex(value);
        return *this;
    }
    Child& get(const QString& key)
    {
        steps << "get" << hex(key);
        return *this;
    }
    QProcess* start(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) const
    {
        auto* process = new QProcess;
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationFilePath(), QStringList{"--config-child"} + steps);
        return process;
    }
    // The printed lines; empty with a failure message when the child did not finish cleanly.
    QStringList run(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) const
    {
        QScopedPointer<QProcess> process(start(environment));
        if (!process->waitForFinished(60000) || process->exitStatus() != QProcess::NormalExit
            || process->exitCode() != 0) {
            qWarning("child failed: %s", process->readAllStandardError().constData());
            return {};
        }
        return QString::fromLatin1(process->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }
};

QString valueLine(const QString& value)
{
    return "value " + QString::fromLatin1(hex(value));
}

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { VelmarApplication::clearConfig(); }
    void intEntries_data();
    void intEntries();
    void stringReferenceOutlivesChanges();
    void concurrentWritersAndReaders();
    void survivesRestart_data();
    void survivesRestart();
    void similarKeysStayApart();
    void handEditedFile_data();
    void handEditedFile();
    void clearEmptiesTheStore();
    void threadsLoseNoEntry();
    void processesLoseNoEntry();
    void defaultLocation();

private:
    QTemporaryDir dir;
};

void TestConfiguration::initTestCase()
{
    QVERIFY(dir.isValid());
    // Taken once per process, at the first use: set before any entry is touched. Children
    // inherit it.
    qputenv("VEXO_CONFIG_FILE", QFile::encodeName(dir.filePath("config/vexo.ini")));
}

void TestConfiguration::intEntries_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("absent") << QString() << qint64(-5);
    QTest::newRow("zero") << "0" << qint64(0);
    QTest::newRow("one") << "1" << qint64(1);
    QTest::newRow("negative") << "-42" << qint64(-42);
    QTest::newRow("64-bit") << "9007199254740993" << qint64(9007199254740993LL);
    QTest::newRow("hex") << "0x10" << qint64(16);
    QTest::newRow("not a number") << "yes" << qint64(-5);
    QTest::newRow("trailing junk") << "12abc" << qint64(-5);
    QTest::newRow("empty") << "" << qint64(-5);
}

void TestConfiguration::intEntries()
{
    QFETCH(QString, stored);
    QFETCH(qint64, expected);
    if (!stored.isNull())
        VelmarApplication::setConfigEntry("some.key", stored.toStdString());
    QCOMPARE(qint64(VelmarApplication::getConfigIntEntry("some.key", -5)), expected);
}

void TestConfiguration::stringReferenceOutlivesChanges()
{
    VelmarApplication::setConfigEntry("path", std::string("/first"));
    const std::string& first = VelmarApplication::getConfigStringEntry("path", "");
    VelmarApplication::setConfigEntry("path", std::string("/second"));
    const std::string& second = VelmarApplication::getConfigStringEntry("path", "");
    // A reference handed out earlier still reads what it read.
    QCOMPARE(first, std::string("/first"));
    QCOMPARE(second, std::string("/second"));
    QCOMPARE(VelmarApplication::getConfigStringEntry("absent", "fallback"), std::string("fallback"));
    VelmarApplication::setConfigEntry("number", std::int64_t(-17));
    QCOMPARE(VelmarApplication::getConfigStringEntry("number", ""), std::string("-17"));
}

void TestConfiguration::concurrentWritersAndReaders()
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                VelmarApplication::setConfigEntry("shared", std::int64_t(t * 1000 + i));
                const std::string& value = VelmarApplication::getConfigStringEntry("shared", "");
                (void)value.size();
                (void)VelmarApplication::getConfigIntEntry("shared", 0);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    const std::int64_t last = VelmarApplication::getConfigIntEntry("shared", -1);
    QVERIFY(last % 1000 == 499);
}

void TestConfiguration::survivesRestart_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("childWrites");

    const QString dotted = "gui.mainwindow.file.last_storage_path";
    QTest::newRow("dotted key, to child") << dotted << "/data/frames" << false;
    QTest::newRow("dotted key, from child") << dotted << "/data/frames" << true;
    QTest::newRow("spaces and =, to child") << "a.b" << "x = y  z=" << false;
    QTest::newRow("spaces and =, from child") << "a.b" << "x = y  z=" << true;
    QTest::newRow("unicode, to child") << "a.b" << QString::fromUtf8("Grüße 測定 ✓") << false;
    QTest::newRow("unicode, from child") << "a.b" << QString::fromUtf8("Grüße 測定 ✓") << true;
    QTest::newRow("windows path, to child") << "a.b" << "C:\\data\\x" << false;
    QTest::newRow("windows path, from child") << "a.b" << "C:\\data\\x" << true;
    QTest::newRow("comma list") << "a.b" << "a, b,c" << false;
    QTest::newRow("looks like a variant") << "a.b" << "@Variant(x)" << false;
    QTest::newRow("quotes and comment marks") << "a.b" << "\"q\" ; #not a comment" << false;
    QTest::newRow("outer spaces") << "a.b" << "  padded  " << false;
    QTest::newRow("line break") << "a.b" << "one\ntwo" << true;
    QTest::newRow("empty value") << "a.b" << "" << false;
    QTest::newRow("large negative number") << "n" << "-9007199254740993" << true;
    QTest::newRow("slashes in key") << "/a//b/" << "v" << false;
    QTest::newRow("backslash in key") << "a\\b" << "v" << true;
    QTest::newRow("section-like key") << "[General]" << "v" << false;
    QTest::newRow("key with = and spaces") << "a = b" << "v" << true;
    QTest::newRow("unicode key") << QString::fromUtf8("größe.µm") << "v" << false;
    QTest::newRow("empty key") << "" << "v" << true;
}

void TestConfiguration::survivesRestart()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, childWrites);

    if (childWrites) {
        QCOMPARE(Child().set(key, value).run(), QStringList());
        QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry(key.toStdString(), "?")),
                 value);
    } else {
        VelmarApplication::setConfigEntry(key.toStdString(), value.toStdString());
        QCOMPARE(Child().get(key).run(), QStringList{valueLine(value)});
    }
}

void TestConfiguration::similarKeysStayApart()
{
    const QStringList keys{"a/b", "/a/b", "a//b", "a/b/", "a\\b", "a%2Fb", "a.b", "A.b", "a", ""};
    for (int i = 0; i < keys.size(); ++i)
        VelmarApplication::setConfigEntry(keys[i].toStdString(), std::to_string(i));
    Child child;
    QStringList expected;
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(VelmarApplication::getConfigIntEntry(keys[i].toStdString(), -1), std::int64_t(i));
        child.get(keys[i]);
        expected << valueLine(QString::number(i));
    }
    QCOMPARE(child.run(), expected);
}

void TestConfiguration::handEditedFile_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QByteArray("key=/data/frames") << "/data/frames";
    QTest::newRow("spaces around =") << QByteArray("key = 12") << "12";
    QTest::newRow("quoted") << QByteArray("key=\"x = y\"") << "x = y";
    QTest::newRow("raw UTF-8") << QByteArray("key=Grüße") << QString::fromUtf8("Grüße");
    QTest::newRow("escaped backslashes") << QByteArray("key=C:\\\\data\\\\x") << "C:\\data\\x";
    QTest::newRow("unquoted list") << QByteArray("key=a, b") << "a, b";
}

void TestConfiguration::handEditedFile()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);
    QFile file(QFile::decodeName(qgetenv("VEXO_CONFIG_FILE")));
    QVERIFY(QDir().mkpath(QFileInfo(file).path()));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\n" + line + "\n");
    file.close();
    QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry("key", "?")), expected);
}

void TestConfiguration::clearEmptiesTheStore()
{
    VelmarApplication::setConfigEntry("one", std::string("1"));
    VelmarApplication::setConfigEntry("two.three", std::string("2"));
    QCOMPARE(Child().set("four", "4").get("one").run(), QStringList{valueLine("1")});
    VelmarApplication::clearConfig();
    QVERIFY(isAbsent("four"));
    QCOMPARE(Child().get("one").get("two.three").get("four").run(),
             (QStringList{"absent", "absent", "absent"}));
}

void TestConfiguration::threadsLoseNoEntry()
{
    // Each thread writes keys of its own while reading the others'; a reader must only
    // ever see whole values, and every entry must reach the file.
    constexpr int writers = 4;
    constexpr int perWriter = 40;
    std::vector<int> tornReads(writers, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t) {
        threads.emplace_back([t, &tornReads] {
            for (int i = 0; i < perWriter; ++i) {
                const std::string value = "value " + std::to_string(t) + "." + std::to_string(i);
                VelmarApplication::setConfigEntry("thread" + std::to_string(t) + ".key" + std::to_string(i),
                                                  value);
                const std::string other = "thread" + std::to_string((t + 1) % writers) + ".key"
                                          + std::to_string(i);
                const std::string& seen = VelmarApplication::getConfigStringEntry(other, "");
                const std::string expected =
                    "value " + std::to_string((t + 1) % writers) + "." + std::to_string(i);
                tornReads[std::size_t(t)] += !seen.empty() && seen != expected;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    QCOMPARE(tornReads, std::vector<int>(writers, 0));

    Child child;
    QStringList expected;
    for (int t = 0; t < writers; ++t) {
        for (int i = 0; i < perWriter; ++i) {
            child.get(QString("thread%1.key%2").arg(t).arg(i));
            expected << valueLine(QString("value %1.%2").arg(t).arg(i));
        }
    }
    QCOMPARE(child.run(), expected);
}

void TestConfiguration::processesLoseNoEntry()
{
    // Writers in other processes at the same time as this one: each save merges with
    // the file instead of overwriting the others' entries.
    constexpr int children = 3;
    constexpr int perWriter = 15;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int c = 0; c < children; ++c) {
        Child child;
        for (int i = 0; i < perWriter; ++i)
            child.set(QString("child%1.key%2").arg(c).arg(i), QString::number(i));
        processes.emplace_back(child.start());
    }
    for (int i = 0; i < perWriter; ++i)
        VelmarApplication::setConfigEntry("parent.key" + std::to_string(i), std::int64_t(i));
    for (auto& process : processes) {
        QVERIFY(process->waitForFinished(60000));
        QCOMPARE(process->exitCode(), 0);
    }

    for (int i = 0; i < perWriter; ++i) {
        QCOMPARE(VelmarApplication::getConfigIntEntry("parent.key" + std::to_string(i), -1),
                 std::int64_t(i));
        for (int c = 0; c < children; ++c) {
            const std::string key = QString("child%1.key%2").arg(c).arg(i).toStdString();
            QCOMPARE(VelmarApplication::getConfigIntEntry(key, -1), std::int64_t(i));
        }
    }
}

void TestConfiguration::defaultLocation()
{
    // Without VEXO_CONFIG_FILE the entries go to vexo/vexo.ini in the user's configuration
    // folder, created when missing, and a later process finds them there.
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("VEXO_CONFIG_FILE");
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("settings"));

    QCOMPARE(Child().set("gui.mainwindow.file.last_storage_path", "/data").run(environment),
             QStringList());
    QVERIFY(QFileInfo::exists(home.filePath("settings/vexo/vexo.ini")));
    QCOMPARE(Child().get("gui.mainwindow.file.last_storage_path").run(environment),
             QStringList{valueLine("/data")});
    // Not in this process's file.
    QVERIFY(isAbsent("gui.mainwindow.file.last_storage_path"));
}

int main(int argc, char** argv)
{
    // As the other process: before any QCoreApplication exists, as in a host without one.
    if (argc >= 2 && std::strcmp(argv[1], "--config-child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestConfiguration test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_configuration.moc"
