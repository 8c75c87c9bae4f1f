// The viewer's --levels option: the ranges it takes and the ones it refuses, with the
// message a user sees.

#include "ViewerOptions.h"

#include <QtTest>

using vexo::core::DisplayLevels;

Q_DECLARE_METATYPE(DisplayLevels)

class TestViewerOptions : public QObject
{
    Q_OBJECT

private slots:
    void levels_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<DisplayLevels>("expected");
        QTest::addColumn<QString>("error"); // empty: accepted

        const DisplayLevels none;
        const QString use = QStringLiteral(": use auto or MIN,MAX with 0 <= MIN < MAX <= 65535");
        QTest::newRow("not given: the plain scaling") << QStringList() << DisplayLevels() << "";
        QTest::newRow("auto") << QStringList{"--levels", "auto"} << DisplayLevels::automatic() << "";
        QTest::newRow("0,400") << QStringList{"--levels", "0,400"} << DisplayLevels::manual(0, 400) << "";
        QTest::newRow("spaces around the numbers") << QStringList{"--levels", " 100 , 300 "}
                                                   << DisplayLevels::manual(100, 300) << "";
        QTest::newRow("the whole 16 bits") << QStringList{"--levels=0,65535"} << DisplayLevels::manual(0, 65535) << "";
        QTest::newRow("reversed") << QStringList{"--levels", "400,0"} << none << "--levels 400,0" + use;
        QTest::newRow("empty range") << QStringList{"--levels", "5,5"} << none << "--levels 5,5" + use;
        QTest::newRow("negative") << QStringList{"--levels", "-1,10"} << none << "--levels -1,10" + use;
        QTest::newRow("above 16 bits") << QStringList{"--levels", "0,65536"} << none << "--levels 0,65536" + use;
        QTest::newRow("one number") << QStringList{"--levels", "400"} << none << "--levels 400" + use;
        QTest::newRow("fraction") << QStringList{"--levels", "0,4.5"} << none << "--levels 0,4.5" + use;
        QTest::newRow("no value at all") << QStringList{"--levels"} << none << "Missing value after '--levels'.";
    }
    void levels()
    {
        QFETCH(QStringList, arguments);
        QFETCH(DisplayLevels, expected);
        QFETCH(QString, error);

        ViewerOptions options;
        QString message;
        const bool parsed = options.parse(QStringList{"vexo-display-viewer"} + arguments, &message);
        QCOMPARE(message, error);
        QCOMPARE(parsed, error.isEmpty());
        if (parsed)
            QVERIFY(options.levels == expected);
    }
};

QTEST_GUILESS_MAIN(TestViewerOptions)
#include "tst_viewer_options.moc"
