// The source settings window of a channel: simulator formats reach the scene's ring or are
// refused with the old ring kept, the fields follow grabbing, and a camera's features
// round-trip through the camera library's in-process fake camera, refusals with the
// camera's reason. Only the fake interface is enabled, so nothing goes onto a network.

// Aravis's headers before Qt's, whose keywords are macros.
#ifdef VEXO_HAVE_CAMERA
#include "vexo-camera/CameraSource.h"
#include <arv.h>
#endif

#include "../runtime/RuntimeTestSupport.h"

#include "SourceSettingsDialog.h"

#include "display/Qt4DisplaySceneVisualizer.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include <QtTest>
#include <QtWidgets>

#include <map>

using namespace vexo::core;

Q_DECLARE_METATYPE(FrameFormat)

namespace {

const FrameFormat initialFormat{64, 48, 8, true};
constexpr int ringSize = 4;

// The format of the frame a single grab stores: what the ring was made for.
FrameFormat grabbedFormat(const boost::shared_ptr<DisplayScene>& scene)
{
    scene->startGrabbing(1);
    const bool ended = QTest::qWaitFor([&] { return !scene->isGrabbing(); }, 20000);
    const auto buffer = scene->frameBufferGroup()->buffer(scene->frameBufferGroup()->frameCounter() - 1);
    return ended && buffer ? FrameFormat{buffer->width(), buffer->height(), buffer->bitsPerPixel(), buffer->channels() == 1}
                           : FrameFormat{};
}

template <typename T>
T* field(const SourceSettingsDialog& dialog, const char* name)
{
    T* w = dialog.findChild<T*>(QString::fromLatin1(name));
    return w ? w : (qFatal("no field %s", name), nullptr);
}

} // namespace

class TestSourceSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
#ifdef VEXO_HAVE_CAMERA
        // Discovery would broadcast on every network interface; the fake needs none.
        arv_disable_interface("GigEVision");
        arv_disable_interface("USB3Vision");
        CameraSource::enableFakeCamera();
#endif
    }

    void simulatorFormat_data()
    {
        QTest::addColumn<FrameFormat>("format");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("colour 12 bits") << FrameFormat{40, 30, 12, false} << true;
        QTest::newRow("one pixel, one bit") << FrameFormat{1, 1, 1, true} << true;
        QTest::newRow("odd size, 16 bits") << FrameFormat{97, 3, 16, true} << true;
        QTest::newRow("beyond any memory") << FrameFormat{1000000, 1000000, 16, false} << false;
    }

    void simulatorFormat()
    {
        QFETCH(FrameFormat, format);
        QFETCH(bool, accepted);
        auto scene = simulatorScene(initialFormat, ringSize, 200);
        RecordingVisualizer visualizer;
        scene->attachVisualizer(&visualizer);
        SourceSettingsDialog dialog(scene, nullptr);
        auto* width = field<QSpinBox>(dialog, "width");
        auto* colour = field<QCheckBox>(dialog, "colour");
        QCOMPARE(width->value(), initialFormat.width);
        width->setValue(format.width);
        field<QSpinBox>(dialog, "height")->setValue(format.height);
        field<QSpinBox>(dialog, "bits")->setValue(format.bitsPerPixel);
        colour->setChecked(!format.gray);
        field<QDoubleSpinBox>(dialog, "framesPerSecond")->setValue(12.5);
        auto* pattern = field<QComboBox>(dialog, "pattern");
        pattern->setCurrentIndex(pattern->findData(int(SimulatorSource::Pattern::TestChart)));
        field<QPushButton>(dialog, "applyButton")->click();

        const auto& simulator = static_cast<const SimulatorSource&>(scene->source()).settings();
        QVERIFY(simulator.framesPerSecond == 12.5 && simulator.pattern == SimulatorSource::Pattern::TestChart);
        const FrameFormat expected = accepted ? format : initialFormat;
        QCOMPARE(scene->format(), expected);
        // Told of a new ring only when there is one; the fields show what the source has, the refused value is gone.
        QCOMPARE((QVector<int>{scene->frameBufferGroup()->capacity(), visualizer.count("added"), dialog.problem().isEmpty(),
                               width->value(), colour->isChecked()}),
                 (QVector<int>{ringSize, accepted, accepted, expected.width, !expected.gray}));
        QVERIFY2(dialog.problem().contains(QString::fromStdString(scene->ringError())), qPrintable(dialog.problem()));
        QCOMPARE(grabbedFormat(scene), expected);
    }

    void fieldsFollowGrabbing()
    {
        auto scene = simulatorScene(initialFormat, ringSize, 200);
        std::unique_ptr<Qt4DisplaySceneVisualizer> window(Qt4DisplaySceneVisualizer::create(nullptr, 0, 0));
        window->enableGrabSignals(true);
        scene->attachVisualizer(window.get());
        SourceSettingsDialog dialog(scene, window.get());
        auto* apply = field<QPushButton>(dialog, "applyButton");
        auto* width = field<QSpinBox>(dialog, "width");
        QVERIFY(apply->isEnabled() && width->isEnabled());
        scene->startGrabbing(-1);
        QTRY_VERIFY(!apply->isEnabled() && !width->isEnabled());
        // Applied all the same (a click that raced the start): refused, nothing changes.
        width->setValue(32);
        dialog.apply();
        QVERIFY(!dialog.problem().isEmpty() && scene->isGrabbing() && scene->format() == initialFormat);
        scene->stopGrabbing();
        QTRY_VERIFY(apply->isEnabled() && width->isEnabled());
        // A grab that ends by itself enables them again as well.
        QSignalSpy updates(window.get(), &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated);
        scene->startGrabbing(1);
        QTRY_COMPARE_WITH_TIMEOUT(updates.count(), 2, 20000);
        QVERIFY(!scene->isGrabbing() && apply->isEnabled());
        scene->detachVisualizer(window.get());
    }

    void cameraFeatures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("reason");          // part of the message of a refusal
        QTest::addColumn<QString>("alsoPixelFormat"); // applied together with the value
        QTest::newRow("exposure") << "exposureTime" << QVariant(2000.0) << true << "" << "";
        QTest::newRow("exposure too long") << "exposureTime" << QVariant(1e11) << false << "maximum" << "";
        QTest::newRow("gain too high") << "gain" << QVariant(11.0) << false << "maximum" << "";
        // Checked against the lower bound as well: a rate inside them is taken.
        QTest::newRow("frame rate") << "frameRate" << QVariant(12.5) << true << "" << "";
        QTest::newRow("frame rate too high") << "frameRate" << QVariant(5000.0) << false << "bounds" << "";
        QTest::newRow("width") << "width" << QVariant(80) << true << "" << "";
        QTest::newRow("width too large") << "width" << QVariant(100000) << false << "Width" << "";
        QTest::newRow("too large, with a new pixel format")
            << "width" << QVariant(100000) << false << "Width" << "Mono16";
        // The only change is the offset: the region is set all the same.
        QTest::newRow("offset") << "offsetX" << QVariant(16) << true << "" << "";
        QTest::newRow("pixel format") << "pixelFormat" << QVariant("Mono16") << true << "" << "";
        QTest::newRow("bayer pixel format") << "pixelFormat" << QVariant("BayerRG8") << true << "" << "";
    }

    void cameraFeatures()
    {
#ifndef VEXO_HAVE_CAMERA
        QSKIP("built without the camera source");
#else
        QFETCH(QString, name);
        QFETCH(QVariant, value);
        QFETCH(bool, accepted);
        QFETCH(QString, reason);
        QFETCH(QString, alsoPixelFormat);
        auto* camera = new CameraSource({"Fake_1", "Mono8", initialFormat.width, initialFormat.height});
        QVERIFY2(camera->isUsable(), camera->lastError().c_str());
        auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(camera), ringSize);
        SourceSettingsDialog dialog(scene, nullptr);

        QWidget* box = field<QWidget>(dialog, qPrintable(name)); // the fake camera has every feature: none hidden
        QVERIFY(!box->isHidden());
        auto* real = qobject_cast<QDoubleSpinBox*>(box);
        auto* whole = qobject_cast<QSpinBox*>(box);
        auto* list = qobject_cast<QComboBox*>(box);
        const auto shown = [&] {
            return real ? QVariant(real->value()) : whole ? QVariant(whole->value()) : QVariant(list->currentText());
        };
        const QVariant before = shown();
        real ? real->setValue(value.toDouble()) : whole ? whole->setValue(value.toInt()) : list->setCurrentText(value.toString());
        QCOMPARE(shown(), value);
        if (!alsoPixelFormat.isEmpty())
            field<QComboBox>(dialog, "pixelFormat")->setCurrentText(alsoPixelFormat);
        dialog.apply();

        QVERIFY2(dialog.problem().isEmpty() == accepted && dialog.problem().contains(reason), qPrintable(dialog.problem()));
        // The field reads the camera again: the new value, or the old one it kept.
        const QVariant kept = accepted ? value : before;
        QCOMPARE(shown(), kept);
        const CameraSource::Features f = camera->features();
        const std::map<QString, double> actual = {{"exposureTime", f.exposureTime.value}, {"gain", f.gain.value},
                                                  {"frameRate", f.frameRate.value}, {"width", f.width.value},
                                                  {"offsetX", f.offsetX.value}};
        QCOMPARE(actual.count(name) ? QVariant(actual.at(name)) : QVariant(QString::fromStdString(f.pixelFormat)),
                 actual.count(name) ? QVariant(kept.toDouble()) : kept);
        // A refusal half way leaves nothing of the request behind.
        QVERIFY(accepted || f.pixelFormat == "Mono8");
        // The scene's ring is of the camera's format, refused or not.
        QCOMPARE(grabbedFormat(scene), camera->format());
        QCOMPARE(camera->format().width, int(f.width.value));
#endif
    }
};

QTEST_MAIN(TestSourceSettings)
#include "tst_source_settings.moc"
