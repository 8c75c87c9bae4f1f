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
#include <unistd.h>

using vexo::core::VelmarApplication;

namespace {

QByteArray hex(const QString& text)
{
    return text.toUtf8().toHex();
}

// Two different defaults tell an absent entry from one holding a default's text.
bool isAbsent(const std::string& key)
{
    return VelmarApplication::getConfigStringEntry(key, "a") == "a"
           && VelmarApplication::getConfigStringEntry(key, "b") == "b";
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

// The steps of another process.
struct Child
{
    QStringList steps;

    // Prints "absent" or "value HEXVALUE" on a line of its own.
    Child& get(const QString& key) { return add({"get", hex(key)}); }
    Child& set(const QString& key, const QString& value) { return add({"set", hex(key), hex(value)}); }
    // Also "burst PREFIX THREADS COUNT": writeBurst() in the child; "wait": reads a line from
    // standard input; "count PREFIX": PREFIX.N = N for N = 0, 1, ... until killed, each N
    // printed once its write returned.
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

    void stringReferenceOutlivesChanges()
    {
        VelmarApplication::setConfigEntry("path", std::string("/first"));
        const std::string& first = VelmarApplication::getConfigStringEntry("path", "");
        VelmarApplication::setConfigEntry("path", std::string("/second"));
        // A reference handed out earlier still reads what it read.
        QCOMPARE(first + VelmarApplication::getConfigStringEntry("path", ""), std::string("/first/second"));
        QCOMPARE(VelmarApplication::getConfigStringEntry("absent", "fallback"), std::string("fallback"));
        VelmarApplication::setConfigEntry("number", std::int64_t(-17)); // stored as its text
        QCOMPARE(VelmarApplication::getConfigStringEntry("number", ""), std::string("-17"));
    }

    void keysSurviveRestart()
    {
        // Every entry goes to one other process and comes back from another; look-alike keys
        // share the file and must stay apart.
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
        // The writer starts after a clear: it must find neither ours nor the reader's entries.
        Child reader, writer = Child().get("four").get("a.b");
        QStringList expected;
        for (const auto& e : entries) {
            VelmarApplication::setConfigEntry(e.first.toStdString(), e.second.toStdString());
            reader.get(e.first);
            writer.set(e.first, e.second);
            expected << valueLine(e.second);
        }
        QCOMPARE(reader.set("four", "4").run(), expected);
        VelmarApplication::clearConfig();
        QVERIFY(isAbsent("a.b") && isAbsent("four"));
        QCOMPARE(writer.run(), (QStringList{"absent", "absent"}));
        QCOMPARE(wrongHere(""), QStringList());

        // QSettings reads our file and we read its.
        {
            QSettings settings(QFile::decodeName(qgetenv("VEXO_CONFIG_FILE")), QSettings::IniFormat);
            settings.setIniCodec("UTF-8");
            for (const auto& e : entries) {
                if (plain(e.first)) {
                    QCOMPARE(settings.value(e.first, "?").toString(), e.second);
                    settings.setValue(e.first, e.second + "+");
                }
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
        QVERIFY(QDir().mkpath(QFileInfo(file).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(before) == before.size() && file.flush());
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
        QTest::newRow("threads of one process") << 0 << 4 << 15;
        QTest::newRow("processes by threads") << 2 << 3 << 5;
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
            processes.emplace_back(Child().add({"burst", prefixes.back(), QString::number(threads), QString::number(perThread)}).start());
        }
        QCOMPARE(writeBurst(prefixes.front(), threads, perThread), 0);
        for (auto& process : processes)
            QVERIFY(Child::finished(*process));
        // Seen from here and from a process that starts afterwards.
        Child reader;
        QStringList expected, here;
        for (const QString& prefix : prefixes)
            for (int t = 0; t < threads; ++t)
                for (int i = 0; i < perThread; ++i) {
                    const QString key = burstKey(prefix, t, i);
                    reader.get(key);
                    expected << valueLine(burstKey("v", t, i));
                    here << valueLine(QString::fromStdString(VelmarApplication::getConfigStringEntry(key.toStdString(), "lost")));
                }
        QCOMPARE(here, expected);
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

    void unwritableFolder_data()
    {
        QTest::addColumn<QString>("change"); // done to the folder after the first write
        QTest::addColumn<bool>("saved");     // whether the second write reaches the file
        // Without VEXO_CONFIG_FILE: vexo/vexo.ini in the user's configuration folder, made when missing.
        QTest::newRow("default location, unchanged") << "default" << true;
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
        const bool byDefault = change == "default";
        const QString folder = root.filePath(byDefault ? "settings/vexo" : "config");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (byDefault) {
            environment.remove("VEXO_CONFIG_FILE");
            environment.insert("HOME", root.path());
            environment.insert("XDG_CONFIG_HOME", root.filePath("settings"));
        } else {
            environment.insert("VEXO_CONFIG_FILE", folder + "/vexo.ini");
        }

        // The change is made while the child runs: its first write found the folder usable.
        QScopedPointer<QProcess> child(
            Child().set("first", "1").get("first").add({"wait"}).set("second", "2").get("second").start(environment));
        child->setReadChannel(QProcess::StandardOutput);
        while (!child->canReadLine())
            QVERIFY(child->waitForReadyRead(60000));
        QCOMPARE(child->readLine(), (valueLine("1") + "\n").toLatin1());
        QVERIFY(byDefault ? QFileInfo::exists(folder + "/vexo.ini") : QDir(folder).removeRecursively());
        if (change == "file")
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        else if (change == "readOnly")
            QVERIFY(QDir().mkpath(folder) && QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        child->write("\n");
        child->closeWriteChannel();
        QVERIFY(Child::finished(*child));
        // The entry holds for the process either way; the next process sees it only if saved.
        QCOMPARE(QString::fromLatin1(child->readAll()).trimmed(), valueLine("2"));
        QCOMPARE(Child().get("second").run(environment), QStringList{saved ? valueLine("2") : QString("absent")});
        QVERIFY(isAbsent("second")); // this process keeps to its own file
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
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
