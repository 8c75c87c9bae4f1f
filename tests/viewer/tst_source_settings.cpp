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

#include <QtTest>
#include <QtWidgets>


using namespace vexo::core;

Q_DECLARE_METATYPE(FrameFormat)

namespace {

const FrameFormat initialFormat{64, 48, 8, true};
constexpr int ringSize = 4;

// The format of the frame a single grab stores: what the ring was made for.
FrameFormat grabbedFormat(const boost::shared_ptr<DisplayScene>& scene)
{
    const auto buffer = grabOne(scene);
    return buffer ? FrameFormat{buffer->width(), buffer->height(), buffer->bitsPerPixel(), buffer->isGray()} : FrameFormat{};
}


} // namespace

class TestSourceSettings : public QObject
{
    Q_OBJECT

private slots:
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
        SceneRig rig(simulatorScene(initialFormat, ringSize, 200));
        auto& [scene, visualizer] = rig;
        SourceSettingsDialog dialog(scene, nullptr);
        auto* width = dialog.findChild<QSpinBox*>("width");
        auto* colour = dialog.findChild<QCheckBox*>("colour");
        width->setValue(format.width);
        dialog.findChild<QSpinBox*>("height")->setValue(format.height);
        dialog.findChild<QSpinBox*>("bits")->setValue(format.bitsPerPixel);
        colour->setChecked(!format.gray);
        dialog.findChild<QDoubleSpinBox*>("framesPerSecond")->setValue(12.5);
        auto* pattern = dialog.findChild<QComboBox*>("pattern");
        pattern->setCurrentIndex(pattern->findData(int(SimulatorSource::Pattern::TestChart)));
        dialog.findChild<QPushButton*>("applyButton")->click();

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
        auto* apply = dialog.findChild<QPushButton*>("applyButton");
        auto* width = dialog.findChild<QSpinBox*>("width");
        scene->startGrabbing(-1);
        QTRY_VERIFY(!apply->isEnabled() && !width->isEnabled());
        // Applied all the same (a click that raced the start): refused, nothing changes.
        width->setValue(32);
        dialog.apply();
        QVERIFY(!dialog.problem().isEmpty() && scene->isGrabbing() && scene->format() == initialFormat);
        scene->stopGrabbing();
        // Followed through the window's grab updates, which also tell of a grab that ends by itself.
        QTRY_VERIFY(apply->isEnabled() && width->isEnabled());
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
        // Discovery would broadcast on every network interface; the fake needs none.
        arv_disable_interface("GigEVision");
        arv_disable_interface("USB3Vision");
        CameraSource::enableFakeCamera();
        auto* camera = new CameraSource({"Fake_1", "Mono8", initialFormat.width, initialFormat.height});
        QVERIFY2(camera->isUsable(), camera->lastError().c_str());
        auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(camera), ringSize);
        SourceSettingsDialog dialog(scene, nullptr);

        QWidget* box = dialog.findChild<QWidget*>(name); // the fake camera has every feature: none hidden
        const QMetaProperty shown = box->metaObject()->userProperty(); // a box's value, a list's current text
        const QVariant before = shown.read(box);
        QVERIFY(!box->isHidden() && shown.write(box, value));
        QCOMPARE(shown.read(box), value);
        if (!alsoPixelFormat.isEmpty())
            dialog.findChild<QComboBox*>("pixelFormat")->setCurrentText(alsoPixelFormat);
        dialog.apply();

        QVERIFY2(dialog.problem().isEmpty() == accepted && dialog.problem().contains(reason), qPrintable(dialog.problem()));
        // The field reads the camera again: the new value, or the old one it kept.
        QCOMPARE(shown.read(box), accepted ? value : before);
        const CameraSource::Features f = camera->features();
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
