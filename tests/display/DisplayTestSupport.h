#pragma once

// Support for the window tests: a dialog answerer that keeps any modal dialog from
// blocking a test, white-box access to the private records of the window and its tools,
// and a window attached to a scene whose frames the test pushes.

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "display/Qt4RenderWidget.h"
#include "display/Qt4RenderWidgetD.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileDialogD.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/ManualFrameSource.h"

#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

// Answers every modal dialog that opens while it lives, from a timer that also fires
// inside the dialogs' own event loops, and writes down what each one showed. A dialog
// with no answer left is cancelled, so none can block a test.
class DialogAnswerer : public QObject
{
public:
    // File dialogs: file dialog "<title>" <filters> save|open[ no-overwrite-check];
    // message boxes: <icon> "<title>" "<text>" [<buttons, sorted>] default <button>.
    QStringList transcript;
    QStringList openedAt;                       // where each file dialog started: directory/name
    QStringList fileNames;                      // answers to file dialogs in turn; "" cancels
    QList<QMessageBox::StandardButton> buttons; // answers to message boxes in turn
    std::function<QString()> whileBoxShows;     // appended to each message box's line

    DialogAnswerer()
    {
        connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start(0);
    }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property("answered").toBool())
            return;
        modal->setProperty("answered", true);
        if (auto* dialog = qobject_cast<QFileDialog*>(modal))
            answer(dialog);
        else if (auto* box = qobject_cast<QMessageBox*>(modal))
            answer(box);
        else {
            transcript << QStringLiteral("unexpected %1").arg(modal->metaObject()->className());
            modal->close();
        }
    }

    void answer(QFileDialog* dialog)
    {
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        transcript << QStringLiteral("file dialog \"%1\" %2 %3%4")
                          .arg(dialog->windowTitle(), dialog->nameFilters().join(';'),
                               dialog->acceptMode() == QFileDialog::AcceptSave ? "save" : "open",
                               dialog->testOption(QFileDialog::DontConfirmOverwrite) ? " no-overwrite-check" : "");
        openedAt << dialog->directory().absolutePath() + '/' + (nameField ? nameField->text() : QString());
        const QString name = fileNames.isEmpty() ? QString() : fileNames.takeFirst();
        if (name.isEmpty() || !nameField) {
            dialog->reject();
            return;
        }
        nameField->setText(name); // typed in full, as a user may
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog hides it
    }

    void answer(QMessageBox* box)
    {
        QStringList shown;
        for (QAbstractButton* button : box->buttons())
            shown << button->text().remove('&');
        shown.sort();
        const char* icons[] = {"other", "other", "warning", "critical", "question"}; // in QMessageBox::Icon order
        QString line = QStringLiteral("%1 \"%2\" \"%3\" [%4] default %5")
                           .arg(icons[box->icon()], box->windowTitle(), box->text(), shown.join(' '),
                                box->defaultButton() ? box->defaultButton()->text().remove('&') : "none");
        if (whileBoxShows)
            line += ' ' + whileBoxShows();
        transcript << line;
        const QMessageBox::StandardButton pick = buttons.isEmpty() ? QMessageBox::NoButton : buttons.takeFirst();
        if (QAbstractButton* button = box->button(pick))
            button->click();
        else
            box->reject();
    }

    QTimer timer;
};

// Several columns of a test's data table at once, and their values in the current row.
template <typename... T, typename... Name>
void columns(Name... names)
{
    (QTest::addColumn<T>(names), ...);
}
template <typename... T, typename... Name>
std::tuple<T...> fetch(Name... names)
{
    return std::tuple<T...>{*static_cast<T*>(QTest::qData(names, qMetaTypeId<T>()))...};
}

// A complete buffer; filled: every pixel 255 (gray) or (255, 0, 16).
inline boost::shared_ptr<vexo::core::FrameBuffer> testBuffer(int w, int h, int bits, bool gray = true, bool filled = false)
{
    boost::shared_ptr<vexo::core::FrameBuffer> b(new vexo::core::FrameBuffer(w, h, bits, gray));
    for (int y = 0; filled && y < h; ++y)
        for (int x = 0; x < w; ++x)
            gray ? b->setPixelValueGray(x, y, 255) : b->setPixelValueColor(x, y, 255, 0, 16);
    b->setComplete();
    return b;
}

// "1" or "0" for each widget's enabled state, in order; "|" puts a space between groups.
inline QString enabled(QWidget* window, std::initializer_list<const char*> names)
{
    QString states;
    for (const char* name : names)
        states += *name == '|' ? ' ' : window->findChild<QWidget*>(name)->isEnabled() ? '1' : '0';
    return states;
}

// White-box access to the private records of the window and its tool dialogs, for tests.
namespace vexo {
namespace core {

struct VisualizerInspector
{
    using Window = Qt4DisplaySceneVisualizer;
    static Window::D& d(Window* window) { return *window->d; }
    static QPixmap canvasPixmap(Window* window) { return window->canvasWidget->d->pixmap; } // what the canvas shows
    static QThread* profileWorker(Window* window) { return window->d->lineProfileDialog->d->thread.get(); }
    static QThread* histogramWorker(Window* window) { return window->d->lineHistogramDialog->d->thread.get(); }
};

} // namespace core
} // namespace vexo

// A window attached to a scene fed by hand; the scene's calls from the GUI thread are logged.
struct WindowRig
{
    using Core = vexo::core::Qt4DisplaySceneVisualizer;
    explicit WindowRig(vexo::core::FrameFormat format = {1000, 800, 12, true}, int frames = 8, bool shown = false)
        : scene(vexo::core::DisplayScene::create(format, frames)), window(Core::create(nullptr, 0, 0))
    {
        scene->setStatusPeriod(0); // status only on changes: no periodic report in the counts
        scene->setCallObserver([this](const vexo::core::SceneCall& c) {
            if (QThread::currentThread() == qApp->thread())
                calls.push_back(c);
        });
        scene->attachVisualizer(window.get());
        if (shown) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
    }
    ~WindowRig() { scene->detachVisualizer(window.get()); }

    auto& d() { return vexo::core::VisualizerInspector::d(window.get()); }
    template <typename T = QWidget>
    T* child(const char* name) { return window->findChild<T*>(name); }
    QString text(const char* name) { return child<QLabel>(name)->text(); }
    void pump() { QCoreApplication::sendPostedEvents(window.get()); }
    vexo::core::ManualFrameSource& source() { return static_cast<vexo::core::ManualFrameSource&>(scene->source()); }
    int count(vexo::core::SceneCall::Operation op) const
    {
        return int(std::count_if(calls.begin(), calls.end(), [op](const vexo::core::SceneCall& c) { return c.operation == op; }));
    }
    // A copy: the log grows, and moves, with every call that follows.
    std::optional<vexo::core::SceneCall> last(vexo::core::SceneCall::Operation op) const
    {
        const auto it = std::find_if(calls.rbegin(), calls.rend(), [op](const vexo::core::SceneCall& c) { return c.operation == op; });
        return it == calls.rend() ? std::nullopt : std::optional<vexo::core::SceneCall>(*it);
    }
    // Shows a frame of `buffer` as if the scene had rendered it with this geometry.
    void show(const boost::shared_ptr<vexo::core::FrameBuffer>& buffer, vexo::core::DisplaySceneFrame::Geometry g,
              QSize canvas = QSize(64, 32))
    {
        boost::shared_ptr<vexo::core::DisplaySceneFrame> frame(new vexo::core::DisplaySceneFrame(canvas.width(), canvas.height()));
        frame->setFrameBuffer(buffer);
        frame->setGeometry(g);
        frame->setRenderTimeInMicroseconds(123);
        window->notifySceneFrameChanged(frame, 25.0);
        pump();
    }
    void started() { window->notifyGrabbingStarted(); pump(); }
    void stopped() { window->notifyGrabbingStopped(); pump(); }
    // Makes the window believe it is grabbing with one buffer update recorded.
    void grabbingWith(const boost::shared_ptr<vexo::core::FrameBuffer>& buffer) { started(); window->notifyBufferUpdated(buffer); }

    boost::shared_ptr<vexo::core::DisplayScene> scene;
    std::unique_ptr<Core> window;
    std::vector<vexo::core::SceneCall> calls;
};
