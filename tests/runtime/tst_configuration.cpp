// The core runtime's configuration entries.

#include "vexo-core/VelmarApplication.h"

#include <QtTest>

#include <string>
#include <thread>
#include <vector>

using vexo::core::VelmarApplication;

class TestConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void init() { VelmarApplication::clearConfig(); }
    void intEntries_data();
    void intEntries();
    void stringReferenceOutlivesChanges();
    void concurrentWritersAndReaders();
};

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

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
