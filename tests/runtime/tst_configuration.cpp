// The core runtime's configuration entries and their persistence across processes.
//
// The test starts copies of itself as the "other process": `--config-child` followed by
// `set HEXKEY HEXVALUE` and `get HEXKEY` steps; each get prints "absent" or
// "value HEXVALUE" on a line of its own. Keys and values travel hex-encoded UTF-8 so the
// command line's encoding plays no part. `burst PREFIX THREADS COUNT` writes the keys of
// writeBurst() from that many threads; `wait` reads a line from standard input; `count PREFIX` writes PREFIX.N = N for N = 0, 1, ...
// until killed, printing each N once its write has returned.

#include "vexo-core/VelmarApplication.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <unistd.h>

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

QString burstKey(const QString& prefix, int thread, int i)
{
    // Every line of the file has the same length, so a change of another process can
    // leave the file's size as it was.
    return QString("%1.t%2.k%3").arg(prefix).arg(thread, 2, 10, QChar('0')).arg(i, 3, 10, QChar('0'));
}

QString burstValue(int thread, int i)
{
    return QString("v%1.%2").arg(thread, 2, 10, QChar('0')).arg(i, 3, 10, QChar('0'));
}

// Writes PREFIX.tTT.kIII = vTT.III from `threads` threads at once, each also reading its
// neighbour's keys; returns the reads that saw a value other than absent or the whole one.
int writeBurst(const QString& prefix, int threads, int count)
{
    std::vector<int> tornReads(std::size_t(threads), 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            const int neighbour = (t + 1) % threads;
            for (int i = 0; i < count; ++i) {
                VelmarApplication::setConfigEntry(burstKey(prefix, t, i).toStdString(),
                                                  burstValue(t, i).toStdString());
                const std::string& seen =
                    VelmarApplication::getConfigStringEntry(burstKey(prefix, neighbour, i).toStdString(), "");
                tornReads[std::size_t(t)] += !seen.empty() && seen != burstValue(neighbour, i).toStdString();
                // Integer reads take the store's lock too; under the race detector this shows.
                tornReads[std::size_t(t)] += VelmarApplication::getConfigIntEntry(burstKey(prefix, neighbour, i).toStdString(), 0) != 0;
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    int torn = 0;
    for (int n : tornReads)
        torn += n;
    return torn;
}

int runChild(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i) {
        const std::string step = argv[i];
        const auto arg = [&](int k) { return unhex(argv[i + k]).toStdString(); };
        if (step == "set" && i + 2 < argc) {
            VelmarApplication::setConfigEntry(arg(1), arg(2));
            i += 2;
        } else if (step == "get" && i + 1 < argc) {
            const std::string key = arg(1);
            const std::string value = VelmarApplication::getConfigStringEntry(key, "");
            std::printf(isAbsent(key) ? "absent\n" : "value %s\n", QByteArray::fromStdString(value).toHex().constData());
            i += 1;
        } else if (step == "burst" && i + 3 < argc) {
            if (writeBurst(QString::fromLatin1(argv[i + 1]), std::atoi(argv[i + 2]), std::atoi(argv[i + 3])) != 0)
                return 3;
            i += 3;
        } else if (step == "wait") {
            std::fflush(stdout);
            char line[8];
            if (!std::fgets(line, sizeof line, stdin))
                return 2;
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

// The steps of another process, as the header describes them.
struct Child
{
    QStringList steps;

    Child& set(const QString& key, const QString& value) { return add({"set", hex(key), hex(value)}); }
    Child& get(const QString& key) { return add({"get", hex(key)}); }
    Child& burst(const QString& prefix, int threads, int count)
    {
        return add({"burst", prefix, QString::number(threads), QString::number(count)});
    }
    Child& wait() { return add({"wait"}); } // reads a line from standard input
    Child& count(const QString& prefix) { return add({"count", prefix}); }
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
        QTest::newRow("one") << "1" << qint64(1);
        QTest::newRow("negative") << "-42" << qint64(-42);
        QTest::newRow("64-bit") << "9007199254740993" << qint64(9007199254740993LL);
        QTest::newRow("hex") << "0x10" << qint64(16);
        QTest::newRow("not a number") << "yes" << qint64(-5);
        QTest::newRow("trailing junk") << "12abc" << qint64(-5);
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

    void stringReferenceOutlivesChanges()
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

    void keysSurviveRestart()
    {
        // Every entry goes to one other process and comes back from another; look-alike keys
        // share the file and must stay apart.
        const QList<QPair<QString, QString>> entries{
            {"gui.mainwindow.file.last_storage_path", "/data/frames"},
            {"spaces", "x = y  z="},
            {"unicode", QString::fromUtf8("Grüße 測定 ✓")},
            {"windows.path", "C:\\data\\x"},
            {"comma.list", "a, b,c"},
            {"variant", "@Variant(x)"},
            {"quotes", "\"q\" ; #not a comment"},
            {"outer.spaces", "  padded  "},
            {"line.break", "one\ntwo"},
            {"empty.value", ""},
            {"n", "-9007199254740993"},
            {"[General]", "section-like"},
            {"a = b", "key with = and spaces"},
            {QString::fromUtf8("größe.µm"), "unicode key"},
            {"a/b", "0"}, {"/a/b", "1"}, {"a//b", "2"}, {"a/b/", "3"}, {"a\\b", "4"},
            {"a%2Fb", "5"}, {"a.b", "6"}, {"A.b", "7"}, {"a", "8"}, {"", "9"}};
        const auto readHere = [](const QString& key) {
            return QString::fromStdString(VelmarApplication::getConfigStringEntry(key.toStdString(), "?"));
        };
        // The writer starts after a clear: it must find neither ours nor the reader's entries.
        Child reader, writer = Child().get("four").get("a.b");
        QStringList expected;
        for (const auto& e : entries) {
            VelmarApplication::setConfigEntry(e.first.toStdString(), e.second.toStdString());
            reader.get(e.first);
            writer.set(e.first, e.second);
            expected << valueLine(e.second);
        }
        for (const auto& e : entries)
            QCOMPARE(readHere(e.first), e.second);
        QCOMPARE(reader.set("four", "4").run(), expected);

        VelmarApplication::clearConfig();
        QVERIFY(isAbsent("a.b") && isAbsent("four"));
        QCOMPARE(writer.run(), (QStringList{"absent", "absent"}));
        for (const auto& e : entries)
            QCOMPARE(readHere(e.first), e.second);

        // Files written by QSettings read the same, and QSettings reads ours, for keys that
        // QSettings takes as they are (it splits groups at slashes).
        const auto plain = [](const QString& key) {
            return !key.isEmpty() && !key.contains('/') && !key.contains('\\') && !key.contains('%');
        };
        {
            QSettings settings(QFile::decodeName(qgetenv("VEXO_CONFIG_FILE")), QSettings::IniFormat);
            settings.setIniCodec("UTF-8");
            for (const auto& e : entries) {
                if (plain(e.first)) {
                    QCOMPARE(settings.value(e.first).toString(), e.second);
                    settings.setValue(e.first, e.second + "+");
                }
            }
        }
        for (const auto& e : entries)
            if (plain(e.first))
                QCOMPARE(readHere(e.first), e.second + "+");
    }

    void handEdited_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("value"); // of key, "?" when absent
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QByteArray>("after"); // once key=new was written
        const QByteArray general = "[General]\nkey=new\n";
        QTest::newRow("plain") << QByteArray("[General]\nkey=/data/frames\n") << "/data/frames" << QString() << general;
        QTest::newRow("spaces around =") << QByteArray("[General]\nkey = 12\n") << "12" << QString() << general;
        QTest::newRow("quoted") << QByteArray("[General]\nkey=\"x = y\"\n") << "x = y" << QString() << general;
        QTest::newRow("raw UTF-8") << QByteArray("[General]\nkey=Grüße\n") << QString::fromUtf8("Grüße") << QString() << general;
        QTest::newRow("escaped backslashes") << QByteArray("[General]\nkey=C:\\\\data\\\\x\n") << "C:\\data\\x" << QString() << general;
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
        QFile file(name);
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(before);
        file.close();
        QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry("key", "?")), value);
        QCOMPARE(QString::fromStdString(VelmarApplication::configurationProblem()),
                 problem.isEmpty() ? QString() : name + ": " + problem);
        VelmarApplication::setConfigEntry("key", std::string("new"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), after);
    }

    void writersLoseNoEntry_data()
    {
        QTest::addColumn<int>("children");
        QTest::addColumn<int>("threads"); // in each process, this one included
        QTest::addColumn<int>("perThread");
        QTest::newRow("threads of one process") << 0 << 4 << 40;
        QTest::newRow("processes") << 3 << 1 << 15;
        QTest::newRow("processes by threads") << 3 << 3 << 12;
    }

    void writersLoseNoEntry()
    {
        // Writers in several processes and threads at once, with equal-length lines: each
        // save must merge with what the others saved, however close together they come.
        QFETCH(int, children);
        QFETCH(int, threads);
        QFETCH(int, perThread);
        std::vector<std::unique_ptr<QProcess>> processes;
        QStringList prefixes{"parent"};
        for (int c = 0; c < children; ++c) {
            prefixes << QString("child%1").arg(c);
            processes.emplace_back(Child().burst(prefixes.back(), threads, perThread).start());
        }
        QCOMPARE(writeBurst(prefixes.front(), threads, perThread), 0);
        for (auto& process : processes) {
            QVERIFY(process->waitForFinished(60000));
            QCOMPARE(process->exitCode(), 0);
        }
        // Seen from here and from a process that starts afterwards.
        Child reader;
        QStringList expected;
        for (const QString& prefix : prefixes) {
            for (int t = 0; t < threads; ++t) {
                for (int i = 0; i < perThread; ++i) {
                    const QString key = burstKey(prefix, t, i);
                    QCOMPARE(QString::fromStdString(VelmarApplication::getConfigStringEntry(key.toStdString(), "lost")),
                             burstValue(t, i));
                    reader.get(key);
                    expected << valueLine(burstValue(t, i));
                }
            }
        }
        QCOMPARE(reader.run(), expected);
    }

    void killedWriterLeavesCompleteFile_data()
    {
        QTest::addColumn<int>("killAfter"); // writes the child reported complete
        QTest::newRow("early") << 3;
        QTest::newRow("later") << 60;
    }

    void killedWriterLeavesCompleteFile()
    {
        // A large entry makes every save long, so the kill lands inside one most of the time.
        QFETCH(int, killAfter);
        VelmarApplication::setConfigEntry("filler", std::string(256 * 1024, 'x'));
        QScopedPointer<QProcess> writer(Child().count("counted").start());
        int completed = -1;
        QByteArray pending;
        while (completed + 1 < killAfter) {
            QVERIFY(writer->waitForReadyRead(60000));
            pending += writer->readAllStandardOutput();
            for (int nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1))
                completed = pending.left(nl).toInt();
        }
        ::kill(pid_t(writer->processId()), SIGKILL);
        QVERIFY(writer->waitForFinished(60000));
        QCOMPARE(writer->exitStatus(), QProcess::CrashExit);

        QCOMPARE(VelmarApplication::configurationProblem(), std::string());
        QCOMPARE(VelmarApplication::getConfigStringEntry("filler", "").size(), std::size_t(256 * 1024));
        for (int n = 0; n <= completed; ++n)
            QCOMPARE(VelmarApplication::getConfigIntEntry("counted." + std::to_string(n), -1), std::int64_t(n));
        // The next write goes through as usual.
        VelmarApplication::setConfigEntry("after", std::string("kill"));
        QCOMPARE(Child().get("after").run(), QStringList{valueLine("kill")});
    }

    void unwritableFolder_data()
    {
        QTest::addColumn<QString>("change"); // done to the folder after the first write
        QTest::addColumn<bool>("saved");     // whether the second write reaches the file
        QTest::newRow("folder vanished") << "remove" << true;
        QTest::newRow("folder replaced by a file") << "file" << false;
        // Root writes through permission bits.
        QTest::newRow("read-only folder") << "readOnly" << (::geteuid() == 0);
    }

    void unwritableFolder()
    {
        QFETCH(QString, change);
        QFETCH(bool, saved);
        QTemporaryDir root;
        const QString folder = root.filePath("config");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VEXO_CONFIG_FILE", folder + "/vexo.ini");

        // The change is made while the child runs: its first write found the folder usable.
        QScopedPointer<QProcess> child(
            Child().set("first", "1").get("first").wait().set("second", "2").get("second").start(environment));
        child->setReadChannel(QProcess::StandardOutput);
        while (!child->canReadLine())
            QVERIFY(child->waitForReadyRead(60000));
        QCOMPARE(child->readLine(), (valueLine("1") + "\n").toLatin1());
        QVERIFY(QDir(folder).removeRecursively());
        if (change == "file") {
            QFile file(folder);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (change == "readOnly") {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        child->write("\n");
        child->closeWriteChannel();
        QVERIFY(child->waitForFinished(60000));
        QCOMPARE(child->exitCode(), 0);
        // The entry holds for the process either way; the next process sees it only if saved.
        QCOMPARE(QString::fromLatin1(child->readAll()).split('\n', Qt::SkipEmptyParts),
                 QStringList{valueLine("2")});
        QCOMPARE(Child().get("second").run(environment), QStringList{saved ? valueLine("2") : QString("absent")});
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void defaultLocation()
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
