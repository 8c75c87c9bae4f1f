// The logging singleton where no dispatcher can be attached. The program is built into a
// test installation whose lib/ holds a library of the dispatcher's name that lacks the
// descriptor, and copied into one without any; ctest runs both copies.

#include "frame/InstallationDirectory.h"
#include "frame/LibraryInitController.h"
#include "frame/Logger.h"
#include "frame/Logging.h"

#include <QtTest>

#include <dlfcn.h>

using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;

class TestLoggingUnattached : public QObject
{
    Q_OBJECT

private slots:
    void everyNameGetsTheDefaultLogger();
};

void TestLoggingUnattached::everyNameGetsTheDefaultLogger()
{
    const char* installation = vexo::tools::logging::installationDirectory();
    QVERIFY(installation);
    QCOMPARE(QFileInfo(QString::fromLocal8Bit(installation)).canonicalFilePath(),
             QFileInfo(QCoreApplication::applicationDirPath() + "/..").canonicalFilePath());
    const QByteArray candidate = QByteArray(installation) + "/lib/libcommon-logging-dispatcher.so";

    LibraryInitController::acquire();
    Logging* logging = Logging::instance();
    QVERIFY(!logging->isAttached());
    if (QFile::exists(QFile::decodeName(candidate))) {
        // It was loaded (and stays loaded) but offered no descriptor.
        void* handle = ::dlopen(candidate.constData(), RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(handle);
        ::dlclose(handle);
    }

    Logger* a = logging->getLogger("guard.library");
    QCOMPARE(logging->getLogger("vexo.core.Qt4DisplaySceneVisualizer"), a);
    QCOMPARE(a->id(), quint64(0));
    QCOMPARE(a->level(), 7u);
    QVERIFY(!a->isEnabled(2));
    QVERIFY(a->isEnabled(7));
    a->log(7, "goes nowhere", 0, 0);
    LibraryInitController::release();
}

QTEST_GUILESS_MAIN(TestLoggingUnattached)
#include "tst_logging_unattached.moc"
