// The core runtime's configuration entries and their persistence across processes.
//
// The test starts copies of itself as the "other process": `--config-child` followed by
// steps (see Child). Keys and values travel hex-encoded UTF-8 so the command line's
// encoding plays no part.

#include "vexo-core/VelmarApplication.h"

#include <QtTest>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <signal.h>

using vexo::core::VelmarApplication;

namespace {

QByteArray hex(const QString& text)
{
    return text.toUtf8().toHex();
}

// PREFIX.tTT.kIII: every line of the file has the same length, so a change of another
// process can leave the file's size as it was. The value is the key with the prefix "v".
QString burstKey(const QString& prefix, int thread, int i)
{
    return QString("%1.t%2.k%3").arg(prefix).arg(thread, 2, 10, QChar('0')).arg(i, 3, 10, QChar('0'));
}

// Writes PREFIX.tTT.kIII = v.tTT.kIII from `threads` threads at once, each also reading its
// neighbour's keys; returns the reads that saw a value other than absent or the whole one.
int writeBurst(const QString& prefix, int threads, int count)
{
    std::atomic<int> torn{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            const int neighbour = (t + 1) % threads;
            for (int i = 0; i < count; ++i) {
                VelmarApplication::setConfigEntry(burstKey(prefix, t, i).toStdString(), burstKey("v", t, i).toStdString());
                const std::string key = burstKey(prefix, neighbour, i).toStdString();
                const std::string& seen = VelmarApplication::getConfigStringEntry(key, "");
                torn += !seen.empty() && seen != burstKey("v", neighbour, i).toStdString();
                // Integer reads take the store's lock too; under the race detector this shows.
                torn += VelmarApplication::getConfigIntEntry(key, 0) != 0;
            }
        });
    for (auto& worker : workers)
        worker.join();
    return torn;
}

int runChild(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i) {
        const std::string step = argv[i];
        const auto arg = [&](int k) { return QByteArray::fromHex(argv[i + k]).toStdString(); };
        if (step == "set" && i + 2 < argc) {
            VelmarApplication::setConfigEntry(arg(1), arg(2));
            i += 2;
        } else if (step == "get" && i + 1 < argc) {
            // Two different defaults tell an absent entry from one holding a default's text.
            const std::string value = VelmarApplication::getConfigStringEntry(arg(1), "a");
            const bool absent = value == "a" && VelmarApplication::getConfigStringEntry(arg(1), "b") == "b";
            std::printf(absent ? "absent\n" : "value %s\n", QByteArray::fromStdString(value).toHex().constData());
            i += 1;
        } else if (step == "burst" && i + 3 < argc) {
            if (writeBurst(QString::fromLatin1(argv[i + 1]), std::atoi(argv[i + 2]), std::atoi(argv[i + 3])) != 0)
                return 3;
            i += 3;
        } else if (step == "count" && i + 1 < argc) {
            for (long n = 0;; ++n) {
                VelmarApplication::setConfigEntry(argv[i + 1] + ("." + std::to_string(n)), std::int64_t(n));
                std::printf("%ld\n", n);
                std::fflush(stdout);
            }
        } else {
            return 2;
        }
    }
    return 0;
}

// The steps of another process.
struct Child
{
    QStringList steps;

    // Prints "absent" or "value HEXVALUE" on a line of its own.
    Child& get(const QString& key) { return add({"get", hex(key)}); }
    Child& set(const QString& key, const QString& value) { return add({"set", hex(key), hex(value)}); }
    // Also "burst PREFIX THREADS COUNT": writeBurst() in the child; "count PREFIX": PREFIX.N = N
    // for N = 0, 1, ... until killed, each N printed once its write returned.
    Child& add(const QStringList& more)
    {
        steps << more;
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
        if (finished(*process))
            return QString::fromLatin1(process->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        qWarning("child failed: %s", process->readAllStandardError().constData());
        return {};
    }
    static bool finished(QProcess& process)
    {
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
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
    void init() { VelmarApplication::clearConfig(); }
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        // Taken once per process, at the first use: set before any entry is touched. Children
        // inherit it.
        qputenv("VEXO_CONFIG_FILE", QFile::encodeName(dir.filePath("config/vexo.ini")));
    }

    void intEntries_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("absent") << QString() << qint64(-5);
        QTest::newRow("zero") << "0" << qint64(0);
        QTest::newRow("negative") << "-42" << qint64(-42);
        QTest::newRow("64-bit") << "9007199254740993" << qint64(9007199254740993LL);
        QTest::newRow("hex") << "0x10" << qint64(16);
        QTest::newRow("not a number") << "yes" << qint64(-5);
        QTest::newRow("trailing junk") << "12abc" << qint64(-5);
        QTest::newRow("out of range") << "99999999999999999999" << qint64(-5);
        QTest::newRow("empty") << "" << qint64(-5);
    }

    void intEntries()
    {
        QFETCH(QString, stored);
        QFETCH(qint64, expected);
        if (!stored.isNull())
            VelmarApplication::setConfigEntry("some.key", stored.toStdString());
        QCOMPARE(qint64(VelmarApplication::getConfigIntEntry("some.key", -5)), expected);
    }

    void keysSurviveRestart()
    {
        // Every entry another process wrote reads back here; look-alike keys share the file
        // and must stay apart.
        const QList<QPair<QString, QString>> entries{
            {"gui.mainwindow.file.last_storage_path", "/data/frames"}, {"spaces", "x = y  z="},
            {"unicode", QString::fromUtf8("Grüße 測定 ✓")}, {"windows.path", "C:\\data\\x"}, {"comma.list", "a, b,c"},
            {"variant", "@Variant(x)"}, {"quotes", "\"q\" ; #not a comment"}, {"outer.spaces", "  padded  "},
            {"line.break", "one\ntwo"}, {"empty.value", ""}, {"n", "-9007199254740993"}, {"[General]", "section-like"},
            {"a = b", "key with = and spaces"}, {QString::fromUtf8("größe.µm"), "unicode key"},
            {"a/b", "0"}, {"/a/b", "1"}, {"a//b", "2"}, {"a/b/", "3"}, {"a\\b", "4"},
            {"a%2Fb", "5"}, {"a.b", "6"}, {"A.b", "7"}, {"a", "8"}, {"", "9"}};
        // QSettings splits groups at slashes; it takes these keys as they are.
        const auto plain = [](const QString& key) { return !key.isEmpty() && !key.contains(QRegularExpression("[/\\\\%]")); };
        // The keys this process does not read as the entry's value with a suffix.
        const auto wrongHere = [&](const QString& suffix) {
            QStringList wrong;
            for (const auto& e : entries)
                if ((suffix.isEmpty() || plain(e.first))
                    && QString::fromStdString(VelmarApplication::getConfigStringEntry(e.first.toStdString(), "?"))
                           != e.second + suffix)
                    wrong << e.first;
            return wrong;
        };
        // The writer starts after a clear: it must not find what was there before.
        VelmarApplication::setConfigEntry("a.b", std::string("before"));
        const std::string& before = VelmarApplication::getConfigStringEntry("a.b", "");
        VelmarApplication::clearConfig();
        Child writer = Child().get("a.b");
        for (const auto& e : entries)
            writer.set(e.first, e.second);
        QCOMPARE(writer.run(), QStringList{"absent"});
        QCOMPARE(wrongHere(""), QStringList());
        // A reference handed out earlier still reads what it read, whatever changed since.
        QCOMPARE(before, std::string("before"));

        // QSettings reads our file and we read its.
        {
            QSettings settings(QFile::decodeName(qgetenv("VEXO_CONFIG_FILE")), QSettings::IniFormat);
            settings.setIniCodec("UTF-8");
            for (const auto& e : entries)
                if (plain(e.first)) {
                    QCOMPARE(settings.value(e.first, "?").toString(), e.second);
                    settings.setValue(e.first, e.second + "+");
                }
        }
        QCOMPARE(wrongHere("+"), QStringList());
    }

    void handEdited_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("value"); // of key, "?" when absent
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QByteArray>("after"); // once key=new was written
        const QByteArray general = "[General]\nkey=new\n";
        QTest::newRow("spaces around =") << QByteArray("[General]\nkey = 12\n") << "12" << QString() << general;
        // Quotes, escaped backslashes and raw UTF-8 as QSettings writes them: keysSurviveRestart.
        QTest::newRow("unquoted list") << QByteArray("[General]\nkey=a, b\n") << "a, b" << QString() << general;
        // The comment stays with the entry it annotates.
        QTest::newRow("trailing comment") << QByteArray("[General]\nkey=7 ; seven\n") << "7" << QString()
                                          << QByteArray("[General]\nkey=new; seven\n");
        QTest::newRow("comments and other sections")
            << QByteArray("; note\n[General]\nother=1\nkey=old\n\n[camera]\nkey=other\n") << "old" << QString()
            << QByteArray("; note\n[General]\nother=1\nkey=new\n\n[camera]\nkey=other\n");
        QTest::newRow("no general section") << QByteArray("[camera]\nkey=1\n") << "?" << QString()
                                            << QByteArray("[General]\nkey=new\n\n[camera]\nkey=1\n");
        QTest::newRow("key twice") << QByteArray("[General]\nkey=1\nkey=2\n") << "2" << QString() << general;
        QTest::newRow("line that is no entry")
            << QByteArray("[General]\nnot an entry\nkey=1\n") << "1" << "line 2: neither an entry (key=value) nor a section"
            << QByteArray("[General]\nnot an entry\nkey=new\n");
        QTest::newRow("unclosed section") << QByteArray("a=1\n[camera\n") << "?" << "line 2: a section name without ']'"
                                          << QByteArray("a=1\nkey=new\n[camera\n");
    }

    void handEdited()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, value);
        QFETCH(QString, problem);
        QFETCH(QByteArray, after);
        const QString name = QFile::decodeName(qgetenv("VEXO_CONFIG_FILE"));
        QFile file(name); // its folder made by the clear before each test
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(before) == before.size());
        file.close();
        QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry("key", "?")), value);
        QCOMPARE(QString::fromStdString(VelmarApplication::configurationProblem()),
                 problem.isEmpty() ? QString() : name + ": " + problem);
        VelmarApplication::setConfigEntry("key", std::string("new"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), after);
    }

    void writersLoseNoEntry()
    {
        // Writers in several processes and threads at once, with equal-length lines: each
        // save must merge with what the others saved, however close together they come.
        // Each process, this one included, writes from as many threads.
        const int children = 2, threads = 3, perThread = 8;
        std::vector<std::unique_ptr<QProcess>> processes;
        QStringList prefixes{"parent"};
        for (int c = 0; c < children; ++c) {
            prefixes << QString("child%1").arg(c);
            const QStringList burst{"burst", prefixes.back(), QString::number(threads), QString::number(perThread)};
            processes.emplace_back(Child().add(burst).start());
        }
        QCOMPARE(writeBurst(prefixes.front(), threads, perThread), 0);
        for (auto& process : processes)
            QVERIFY(Child::finished(*process));
        // Seen from a process that starts afterwards.
        Child reader;
        QStringList expected;
        for (const QString& prefix : prefixes)
            for (int t = 0; t < threads; ++t)
                for (int i = 0; i < perThread; ++i) {
                    const QString key = burstKey(prefix, t, i);
                    reader.get(key);
                    expected << valueLine(burstKey("v", t, i));
                }
        QCOMPARE(reader.run(), expected);
    }

    void killedWriterLeavesCompleteFile()
    {
        // A large entry makes every save long, so the kill lands inside one most of the time.
        VelmarApplication::setConfigEntry("filler", std::string(256 * 1024, 'x'));
        QScopedPointer<QProcess> writer(Child().add({"count", "counted"}).start());
        int completed = -1;
        QByteArray pending;
        while (completed < 20) {
            QVERIFY(writer->waitForReadyRead(60000));
            pending += writer->readAllStandardOutput();
            for (int nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1))
                completed = pending.left(nl).toInt();
        }
        ::kill(pid_t(writer->processId()), SIGKILL);
        QVERIFY(writer->waitForFinished(60000) && writer->exitStatus() == QProcess::CrashExit);

        QCOMPARE(VelmarApplication::configurationProblem(), std::string());
        QCOMPARE(VelmarApplication::getConfigStringEntry("filler", "").size(), std::size_t(256 * 1024));
        for (int n = 0; n <= completed; ++n)
            QCOMPARE(VelmarApplication::getConfigIntEntry("counted." + std::to_string(n), -1), std::int64_t(n));
        // The next write goes through as usual.
        VelmarApplication::setConfigEntry("after", std::string("kill"));
        QCOMPARE(Child().get("after").run(), QStringList{valueLine("kill")});
    }

    void folderRemadeWhereItWent()
    {
        // The folder vanishes after a write: the next write makes it again.
        VelmarApplication::setConfigEntry("first", std::string("1"));
        QVERIFY(QDir(QFileInfo(QFile::decodeName(qgetenv("VEXO_CONFIG_FILE"))).path()).removeRecursively());
        VelmarApplication::setConfigEntry("second", std::string("2"));
        QCOMPARE(Child().get("second").run(), QStringList{valueLine("2")});
        // Without VEXO_CONFIG_FILE: vexo/vexo.ini in the user's configuration folder, made when missing.
        QTemporaryDir root;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("VEXO_CONFIG_FILE");
        environment.insert("HOME", root.path());
        environment.insert("XDG_CONFIG_HOME", root.filePath("settings"));
        QCOMPARE(Child().set("second", "3").get("second").run(environment), QStringList{valueLine("3")});
        QVERIFY(QFileInfo::exists(root.filePath("settings/vexo/vexo.ini")));
        QCOMPARE(Child().get("second").run(environment), QStringList{valueLine("3")});
        // Each process keeps to its own file.
        QCOMPARE(VelmarApplication::getConfigStringEntry("second", ""), std::string("2"));
    }

private:
    QTemporaryDir dir;
};

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
