// The window's form, meta-object, titles, close behaviour and tool windows.

#include "VisualizerInspector.h"

#include "display/Qt4RenderWidget.h"
#include "display/Qt4ZoomSpinBox.h"
#include "display/SceneEventTypes.h"

#include "vexo-lib-display/DisplayScene.h"

#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include <memory>

using vexo::core::DisplayScene;
using vexo::core::Qt4DisplaySceneVisualizer;
using vexo::core::SceneCall;
using vexo::core::SceneEventTypes;
using vexo::core::VisualizerInspector;

namespace {

std::unique_ptr<Qt4DisplaySceneVisualizer> makeWindow(int board = 0, int dma = 0,
                                                      QWidget* parent = nullptr)
{
    return std::unique_ptr<Qt4DisplaySceneVisualizer>(
        Qt4DisplaySceneVisualizer::create(parent, board, dma));
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage resourceImage(const QString& name)
{
    return QImage(QStringLiteral(":/display-qt4/%1.png").arg(name))
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class TestVisualizerForm : public QObject
{
    Q_OBJECT

private slots:
    void buttons_data();
    void buttons();
    void labels_data();
    void labels();
    void layoutAndWidgets();
    void statusBar();
    void metaObject();
    void zoomSpinBoxTexts_data();
    void zoomSpinBoxTexts();
    void toolWindowTitles_data();
    void toolWindowTitles();
    void ctrlSTogglesHexDecButton();
    void closeBehaviour_data();
    void closeBehaviour();
    void toolWindowToggling();
    void secondWindowReusesEventTypes();
    void destructionReleasesToolWindows();
};

void TestVisualizerForm::buttons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<int>("horizontalPolicy");

    const int fixed = QSizePolicy::Fixed;
    const int preferred = QSizePolicy::Preferred;
    // Acquisition buttons start disabled until a scene is attached.
    QTest::newRow("grabInfinite") << "grabInfiniteButton" << "grab_infinite" << "Grab Infinite" << true << false << fixed;
    QTest::newRow("grabSequence") << "grabSequenceButton" << "grab_sequence" << "Grab Frame Sequence" << true << false << fixed;
    QTest::newRow("grabSingle") << "grabSingleButton" << "grab_single" << "Grab Single Frame" << true << false << fixed;
    QTest::newRow("stop") << "stopButton" << "stop" << "Stop Grabbing" << true << false << preferred;
    QTest::newRow("zoomIn") << "zoomInButton" << "zoom_in" << "Zoom In" << true << false << -1;
    QTest::newRow("zoomOut") << "zoomOutButton" << "zoom_out" << "Zoom Out" << true << false << -1;
    QTest::newRow("localSettings") << "localSettingsButton" << "local_settings" << "Local DMA Settings" << false << false << -1;
    QTest::newRow("rgbOverlay") << "rgbOverlayButton" << "rgb_overlay" << "Display Pixel Values" << false << true << -1;
    QTest::newRow("hexDec") << "hexDecButton" << "hex" << "Display Values As Decimal/Hexadecimal" << true << true << -1;
    QTest::newRow("lineProfile") << "lineProfileButton" << "line_profile" << "Toggle Line Profile Dialog" << true << false << fixed;
    QTest::newRow("lineHistogram") << "lineHistogramButton" << "line_histogram" << "Toggle Line Histogram Dialog" << true << false << fixed;
    QTest::newRow("saveFrame") << "saveFrameButton" << "save_frame" << "Save Current Frame" << false << false << fixed;
    QTest::newRow("saveSequence") << "saveSequenceButton" << "save_sequence" << "Save Current Sequence" << false << false << fixed;
}

void TestVisualizerForm::buttons()
{
    QFETCH(QString, name);
    QFETCH(QString, icon);
    QFETCH(QString, toolTip);
    QFETCH(bool, enabled);
    QFETCH(bool, checkable);
    QFETCH(int, horizontalPolicy);

    auto window = makeWindow();
    QPushButton* button = window->findChild<QPushButton*>(name);
    QVERIFY(button);
    QCOMPARE(button->minimumSize(), QSize(24, 24));
    QCOMPARE(button->maximumSize(), QSize(24, 24));
    QVERIFY(button->text().isEmpty());
    QCOMPARE(button->toolTip(), toolTip);
    QCOMPARE(button->isEnabled(), enabled);
    QCOMPARE(button->isCheckable(), checkable);
    if (horizontalPolicy >= 0) {
        QCOMPARE(int(button->sizePolicy().horizontalPolicy()), horizontalPolicy);
        QCOMPARE(button->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    }
    const QImage expected = resourceImage(icon);
    QVERIFY2(!expected.isNull(), qPrintable(icon));
    QCOMPARE(iconImage(button->icon()), expected);
}

void TestVisualizerForm::labels_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("value"); // values: bold, left, disabled; captions: right-aligned

    QTest::newRow("frameNumberCaption") << "label_3" << "Frame Number: " << false;
    QTest::newRow("frameNumber") << "frameIndexLabel" << "-" << true;
    QTest::newRow("dmaCaption") << "label_4" << "DMA Transfer: " << false;
    QTest::newRow("dma") << "dmaTransferLabel" << "-" << true;
    QTest::newRow("tagCaption") << "label_3x" << "Tag: " << false;
    QTest::newRow("tag") << "frameTagLabel" << "-" << true;
    QTest::newRow("flagsCaption") << "label_4x" << "Flags: " << false;
    QTest::newRow("flags") << "frameFlagsLabel" << "-" << true;
    QTest::newRow("positionCaption") << "label_5" << "Position (X,Y): " << false;
    QTest::newRow("position") << "positionLabel" << "-" << true;
    QTest::newRow("dataCaption") << "dataHeaderLabel" << "Data: " << false;
    QTest::newRow("data") << "dataLabel" << "-" << true;
}

void TestVisualizerForm::labels()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, value);

    auto window = makeWindow();
    QLabel* label = window->findChild<QLabel*>(name);
    QVERIFY(label);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->maximumHeight(), 12);
    QCOMPARE(label->font().pointSize(), 7);
    QCOMPARE(label->font().bold(), value);
    QCOMPARE(label->isEnabled(), !value);
    QCOMPARE(bool(label->alignment() & Qt::AlignRight), !value);
    QCOMPARE(bool(label->alignment() & Qt::AlignLeft), value);
}

void TestVisualizerForm::layoutAndWidgets()
{
    auto window = makeWindow();
    QCOMPARE(window->objectName(), QStringLiteral("DisplaySceneVisualizer"));
    QCOMPARE(window->size(), QSize(1027, 449));
    QCOMPARE(window->windowTitle(), QStringLiteral("MainWindow"));

    auto* canvas = window->findChild<Qt4RenderWidget*>("canvasWidget");
    QVERIFY(canvas);
    QCOMPARE(canvas->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(canvas->sizePolicy().verticalPolicy(), QSizePolicy::Ignored);
    QVERIFY(canvas->hasMouseTracking());

    auto* vertical = window->findChild<QScrollBar*>("verticalScrollBar");
    auto* horizontal = window->findChild<QScrollBar*>("horizontalScrollBar");
    QVERIFY(vertical && horizontal);
    QCOMPARE(vertical->orientation(), Qt::Vertical);
    QCOMPARE(horizontal->orientation(), Qt::Horizontal);
    QCOMPARE(vertical->contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(horizontal->contextMenuPolicy(), Qt::NoContextMenu);

    auto* slider = window->findChild<QSlider*>("frameBufferSlider");
    QVERIFY(slider);
    QCOMPARE(slider->minimumSize(), QSize(64, 24));
    QCOMPARE(slider->maximumSize(), QSize(64, 24));
    QVERIFY(!slider->isEnabled());
    QCOMPARE(slider->maximum(), 0);

    auto* spinBox = window->findChild<QSpinBox*>("frameBufferSpinBox");
    QVERIFY(spinBox);
    QCOMPARE(spinBox->minimumHeight(), 24);
    QCOMPARE(spinBox->maximumHeight(), 24);
    QVERIFY(!spinBox->isEnabled());

    auto* zoom = window->findChild<Qt4ZoomSpinBox*>("zoomValueSpinBox");
    QVERIFY(zoom);
    QCOMPARE(zoom->maximum(), 12);
    QCOMPARE(zoom->value(), 6);
    QCOMPARE(zoom->text(), QStringLiteral("1:1"));
    QCOMPARE(zoom->maximumHeight(), 24);

    auto* tag = window->findChild<QLabel*>("frameTagLabel");
    QCOMPARE(tag->minimumWidth(), 120);
    QCOMPARE(tag->maximumWidth(), 120);
    QCOMPARE(window->findChild<QLabel*>("frameIndexLabel")->minimumWidth(), 100);
    QCOMPARE(window->findChild<QLabel*>("positionLabel")->minimumWidth(), 120);

    for (const char* name : {"line", "line_2"}) {
        auto* line = window->findChild<QFrame*>(name);
        QVERIFY2(line, name);
        QCOMPARE(line->frameShape(), QFrame::HLine);
        QCOMPARE(line->frameShadow(), QFrame::Plain);
        QVERIFY(!line->isEnabled());
    }

    // The tool row, left to right (spacers between them are not widgets).
    auto* row = window->findChild<QHBoxLayout*>("horizontalLayout");
    QVERIFY(row);
    QCOMPARE(row->spacing(), 0);
    QStringList order;
    for (int i = 0; i < row->count(); ++i) {
        QLayoutItem* item = row->itemAt(i);
        if (item->widget())
            order << item->widget()->objectName();
        else if (item->layout())
            order << item->layout()->objectName();
        else
            order << QStringLiteral("spacer%1").arg(item->spacerItem()->sizeHint().width());
    }
    const QStringList expected = {
        "grabInfiniteButton", "grabSequenceButton", "grabSingleButton", "stopButton", "spacer13",
        "frameBufferSlider", "frameBufferSpinBox", "spacer13", "zoomInButton", "zoomOutButton",
        "zoomValueSpinBox", "spacer13", "localSettingsButton", "rgbOverlayButton", "hexDecButton",
        "spacer16", "gridLayout_3", "spacer16", "gridLayout_3x", "spacer24", "gridLayout_4",
        "spacer13", "lineProfileButton", "lineHistogramButton", "spacer13", "saveFrameButton",
        "saveSequenceButton"};
    QCOMPARE(order, expected);
    // The only expanding spacer pushes the tool buttons to the right.
    QCOMPARE(row->itemAt(21)->spacerItem()->sizePolicy().horizontalPolicy(),
             QSizePolicy::MinimumExpanding);
    QCOMPARE(row->itemAt(4)->spacerItem()->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}

void TestVisualizerForm::statusBar()
{
    auto window = makeWindow();
    auto& d = VisualizerInspector::d(window.get());
    const QList<QLabel*> lamps = {d.clockLabel, d.fvalLabel, d.lvalLabel,
                                  d.exsyncLabel, d.extrgLabel, d.bufferFillLabel};
    const QStringList pictures = {"clock_off", "fval_off", "lval_off",
                                  "exsync_off", "extrg_off", "buffer_0"};
    QWidget* lampRow = lamps.first()->parentWidget();
    for (int i = 0; i < lamps.size(); ++i) {
        QVERIFY(lamps[i]);
        QCOMPARE(lamps[i]->parentWidget(), lampRow);
        QCOMPARE(lamps[i]->size(), QSize(16, 16));
        QCOMPARE(lamps[i]->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                 resourceImage(pictures[i]));
        QCOMPARE(lampRow->layout()->indexOf(lamps[i]), i);
    }
    QCOMPARE(d.clockLabel->toolTip(), QStringLiteral("Sources Detected"));
    QCOMPARE(d.bufferFillLabel->toolTip(), QStringLiteral("Buffer Filllevel"));
    QVERIFY(d.bufferFillLabel->isHidden());
    QVERIFY(!d.clockLabel->isHidden());

    QCOMPARE(d.overflowLabel->text(), QStringLiteral("Overflow: -"));
    QCOMPARE(d.overflowLabel->size(), QSize(150, 16));
    QCOMPARE(d.acquisitionFpsLabel->text(), QStringLiteral("Acquisition FPS: -"));
    QVERIFY(!d.acquisitionFpsLabel->isEnabled());
    QCOMPARE(d.renderFpsLabel->text(), QStringLiteral("Render FPS: -"));
    QVERIFY(d.renderFpsLabel->isHidden());
    QCOMPARE(d.renderTimeLabel->text(), QStringLiteral("Render Time (microseconds): -"));
    QVERIFY(d.renderTimeLabel->isHidden());
    QCOMPARE(d.overflowLabel->font().pointSize(), 7);

    // The overflow refresh replaces the text on its first tick.
    QTRY_COMPARE(d.overflowLabel->text(), QStringLiteral("Overflow: <b>-</b> / <b>-</b>"));
    QCOMPARE(d.overflowLabel->toolTip(),
             QStringLiteral("Overflow Events:\n- corrupted frames\n- lost frames"));
}

void TestVisualizerForm::metaObject()
{
    auto window = makeWindow();
    const QMetaObject* meta = window->metaObject();
    QCOMPARE(meta->className(), "vexo::core::Qt4DisplaySceneVisualizer");
    QCOMPARE(window->qt_metacast("vexo::core::DisplaySceneVisualizer"),
             static_cast<void*>(static_cast<vexo::core::DisplaySceneVisualizer*>(window.get())));
    QCOMPARE(window->qt_metacast("vexo::core::Qt4DisplaySceneVisualizer"),
             static_cast<void*>(window.get()));
    QCOMPARE(window->qt_metacast("QMainWindow"), static_cast<void*>(window.get()));
    QVERIFY(!window->qt_metacast("Ui::DisplaySceneVisualizer"));

    struct Method
    {
        const char* signature;
        QMetaMethod::MethodType type;
        QMetaMethod::Access access;
    };
    const auto signal = QMetaMethod::Signal;
    const auto slot = QMetaMethod::Slot;
    const auto pub = QMetaMethod::Public;
    const auto priv = QMetaMethod::Private;
    const Method expected[] = {
        {"closeRequested()", signal, pub},
        {"closeRequestedWithData(int,int)", signal, pub},
        {"cameraClockChanged(int,int,bool)", signal, pub},
        {"grabInfiniteButtonClicked()", signal, pub},
        {"grabSequenceButtonClicked()", signal, pub},
        {"grabSingleButtonClicked()", signal, pub},
        {"stopButtonClicked()", signal, pub},
        {"localSettingsButtonClicked()", signal, pub},
        {"grabButtonStatusUpdated()", signal, pub},
        {"internalGrabInfiniteButtonClicked()", slot, pub},
        {"internalGrabSequenceButtonClicked()", slot, pub},
        {"internalGrabSingleButtonClicked()", slot, pub},
        {"internalStopButtonClicked()", slot, pub},
        {"internalLocalSettingsButtonClicked()", slot, pub},
        {"horizontalScrollBarValueChanged(int)", slot, priv},
        {"verticalScrollBarValueChanged(int)", slot, priv},
        {"hexDecButtonToggled(bool)", slot, priv},
        {"gridButtonToggled(bool)", slot, priv},
        {"rgbOverlayButtonToggled(bool)", slot, priv},
        {"frameBufferValueChanged(int)", slot, priv},
        {"zoomInButtonClicked()", slot, priv},
        {"zoomOutButtonClicked()", slot, priv},
        {"zoomValueChanged(int)", slot, priv},
        {"eventTimerRefresh()", slot, priv},
        {"renderInterruptTimeout()", slot, priv},
        {"saveFrameButtonClicked()", slot, priv},
        {"saveSequenceButtonClicked()", slot, priv},
        {"toggleLineProfileVisibility()", slot, priv},
        {"toggleLineHistogramVisibility()", slot, priv},
    };
    const int count = int(sizeof expected / sizeof expected[0]);
    QCOMPARE(meta->methodCount() - meta->methodOffset(), count);
    for (int i = 0; i < count; ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
        QCOMPARE(method.methodType(), expected[i].type);
        QCOMPARE(method.access(), expected[i].access);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
    }
    QCOMPARE(meta->method(meta->indexOfSignal("closeRequestedWithData(int,int)")).parameterNames(),
             (QList<QByteArray>{"boardIndex", "dmaIndex"}));
}

void TestVisualizerForm::zoomSpinBoxTexts_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    const char* texts[] = {"1:64", "1:32", "1:16", "1:8", "1:4", "1:2", "1:1",
                           "2:1",  "4:1",  "8:1",  "16:1", "32:1", "64:1"};
    for (int step = 0; step <= 12; ++step)
        QTest::newRow(texts[step]) << step << QString::fromLatin1(texts[step]);
}

void TestVisualizerForm::zoomSpinBoxTexts()
{
    QFETCH(int, step);
    QFETCH(QString, text);
    Qt4ZoomSpinBox spinBox;
    QVERIFY(spinBox.findChild<QLineEdit*>()->isReadOnly());
    spinBox.setValue(step);
    QCOMPARE(spinBox.text(), text);
    // The box never leaves the table.
    spinBox.setValue(step + 13);
    QCOMPARE(spinBox.value(), 12);
    spinBox.setValue(-1 - step);
    QCOMPARE(spinBox.value(), 0);
}

void TestVisualizerForm::toolWindowTitles_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<int>("dma");
    QTest::addColumn<QString>("profileTitle");
    QTest::addColumn<QString>("histogramTitle");
    QTest::newRow("0/1") << 0 << 1 << "Line Profile - Device 0, DMA 1" << "Line Histogram - Device 0, DMA 1";
    QTest::newRow("3/12") << 3 << 12 << "Line Profile - Device 3, DMA 12" << "Line Histogram - Device 3, DMA 12";
    QTest::newRow("defaults") << -1 << -1 << "Line Profile - Device -1, DMA -1" << "Line Histogram - Device -1, DMA -1";
}

void TestVisualizerForm::toolWindowTitles()
{
    QFETCH(int, board);
    QFETCH(int, dma);
    QFETCH(QString, profileTitle);
    QFETCH(QString, histogramTitle);

    QWidget host;
    auto window = makeWindow(board, dma, &host);
    auto& d = VisualizerInspector::d(window.get());
    QCOMPARE(d.lineProfileDock->windowTitle(), profileTitle);
    QCOMPARE(d.lineHistogramDock->windowTitle(), histogramTitle);
    QCOMPARE(d.boardIndex, board);
    QCOMPARE(d.dmaIndex, dma);

    // Docks belong to the window's parent, float, may only close and float.
    for (QDockWidget* dock : {d.lineProfileDock, d.lineHistogramDock}) {
        QCOMPARE(dock->parentWidget(), &host);
        QVERIFY(dock->isFloating());
        QCOMPARE(dock->allowedAreas(), Qt::NoDockWidgetArea);
        QCOMPARE(dock->features(),
                 QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetFloatable);
        QVERIFY(dock->isHidden());
    }
    QCOMPARE(d.lineProfileDock->widget(), static_cast<QWidget*>(d.lineProfileDialog));
    QCOMPARE(d.lineHistogramDock->widget(), static_cast<QWidget*>(d.lineHistogramDialog));
    QCOMPARE(d.lineProfileDialog->metaObject()->className(), "vexo::core::Qt4LineProfileDialog");
    QCOMPARE(d.lineHistogramDialog->metaObject()->className(),
             "vexo::core::Qt4LineHistogramDialog");
}

void TestVisualizerForm::ctrlSTogglesHexDecButton()
{
    auto window = makeWindow();
    window->show();
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    auto* hexDec = window->findChild<QPushButton*>("hexDecButton");
    auto* saveFrame = window->findChild<QPushButton*>("saveFrameButton");
    QSignalSpy saves(saveFrame, &QPushButton::clicked);
    QVERIFY(hexDec->isChecked());
    QVERIFY(VisualizerInspector::d(window.get()).hexDisplay);

    // A button's shortcut animates a click: the toggle lands a moment later.
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    QTRY_VERIFY(!hexDec->isChecked());
    QVERIFY(!VisualizerInspector::d(window.get()).hexDisplay);
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    QTRY_VERIFY(hexDec->isChecked());
    QVERIFY(VisualizerInspector::d(window.get()).hexDisplay);
    QCOMPARE(saves.count(), 0);
}

void TestVisualizerForm::closeBehaviour_data()
{
    QTest::addColumn<bool>("closeEventSignal");
    QTest::newRow("closes") << false;
    QTest::newRow("asks the owner") << true;
}

void TestVisualizerForm::closeBehaviour()
{
    QFETCH(bool, closeEventSignal);
    auto window = makeWindow(2, 5);
    window->enableCloseEventSignal(closeEventSignal);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    QStringList emitted;
    connect(window.get(), &Qt4DisplaySceneVisualizer::closeRequested, this,
            [&] { emitted << QStringLiteral("closeRequested"); });
    connect(window.get(), &Qt4DisplaySceneVisualizer::closeRequestedWithData, this,
            [&](int board, int dma) {
                emitted << QStringLiteral("closeRequestedWithData(%1,%2)").arg(board).arg(dma);
            });

    const bool closed = window->close();
    QCOMPARE(closed, !closeEventSignal);
    QCOMPARE(window->isVisible(), closeEventSignal);
    if (closeEventSignal)
        QCOMPARE(emitted, (QStringList{"closeRequested", "closeRequestedWithData(2,5)"}));
    else
        QVERIFY(emitted.isEmpty());
}

void TestVisualizerForm::toolWindowToggling()
{
    auto scene = DisplayScene::create({64, 48, 8, true});
    QList<std::pair<int, int>> visibility; // (call order, visible)
    int calls = 0;
    scene->setCallObserver([&](const SceneCall& call) {
        if (call.operation == SceneCall::SetVisualizerVisible)
            visibility << std::make_pair(calls++, int(call.a));
    });
    auto window = makeWindow();
    scene->attachVisualizer(window.get());
    auto& d = VisualizerInspector::d(window.get());
    auto* profileButton = window->findChild<QPushButton*>("lineProfileButton");
    auto* histogramButton = window->findChild<QPushButton*>("lineHistogramButton");

    // Window hidden: the scene's visibility follows the tool windows alone.
    QTest::mouseClick(profileButton, Qt::LeftButton);
    QVERIFY(d.lineProfileDock->isVisible());
    QCOMPARE(visibility.size(), 1);
    QCOMPARE(visibility.last().second, 1);

    QTest::mouseClick(histogramButton, Qt::LeftButton);
    QVERIFY(d.lineHistogramDock->isVisible());
    QCOMPARE(visibility.last().second, 1);

    QTest::mouseClick(profileButton, Qt::LeftButton);
    QVERIFY(!d.lineProfileDock->isVisible());
    QCOMPARE(visibility.last().second, 1); // the histogram is still open

    QTest::mouseClick(histogramButton, Qt::LeftButton);
    QVERIFY(!d.lineHistogramDock->isVisible());
    QCOMPARE(visibility.last().second, 0);

    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(visibility.last().second, 1);
    window->hide();
    QCOMPARE(visibility.last().second, 0);
    scene->detachVisualizer(window.get());
}

void TestVisualizerForm::secondWindowReusesEventTypes()
{
    auto first = makeWindow();
    const QEvent::Type types[] = {
        SceneEventTypes::sceneFrameChanged,     SceneEventTypes::grabbingStarted,
        SceneEventTypes::grabbingStopped,       SceneEventTypes::cameraStatusUpdate,
        SceneEventTypes::requestTimedInterrupt, SceneEventTypes::frameBuffersInvalidated,
        SceneEventTypes::frameBuffersAdded};
    // Registered in order: Qt hands out user types downwards from the top.
    for (int i = 1; i < 7; ++i)
        QCOMPARE(int(types[i]), int(types[0]) - i);

    auto second = makeWindow(0, 1);
    QCOMPARE(SceneEventTypes::sceneFrameChanged, types[0]);
    QCOMPARE(SceneEventTypes::frameBuffersAdded, types[6]);
    // Nothing more was registered by the second window.
    QCOMPARE(QEvent::registerEventType(), int(types[6]) - 1);
}

void TestVisualizerForm::destructionReleasesToolWindows()
{
    QWidget host;
    auto window = makeWindow(0, 0, &host);
    auto& d = VisualizerInspector::d(window.get());
    QPointer<QDockWidget> profileDock = d.lineProfileDock;
    QPointer<QDockWidget> histogramDock = d.lineHistogramDock;
    QPointer<QWidget> profileDialog = d.lineProfileDialog;
    QPointer<QWidget> histogramDialog = d.lineHistogramDialog;
    window.reset();
    // Released with deleteLater: still there until the event loop runs.
    QVERIFY(profileDock && histogramDock);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!profileDock);
    QVERIFY(!histogramDock);
    QVERIFY(!profileDialog);
    QVERIFY(!histogramDialog);
}

QTEST_MAIN(TestVisualizerForm)
#include "tst_visualizer_form.moc"
