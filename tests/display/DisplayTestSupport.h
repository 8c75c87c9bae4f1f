#pragma once

// Support for the window tests: a dialog answerer that keeps any modal dialog from
// blocking a test, and white-box access to the private records of the window and its tools.

// Answers every modal dialog that opens while it lives, from a timer that also fires
// inside the dialogs' own event loops, and writes down what each one showed. A dialog
// with no answer left is cancelled, so none can block a test.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

class DialogAnswerer : public QObject
{
public:
    // File dialogs: file dialog "<title>" <filters> save|open[ no-overwrite-check];
    // message boxes: <icon> "<title>" "<text>" [<buttons, sorted>] default <button>.
    QStringList transcript;
    QStringList openedAt;                       // where each file dialog started: directory/name
    QStringList seen;                           // in short: "file" or the message box's title
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
            seen << transcript.last();
            modal->close();
        }
    }

    void answer(QFileDialog* dialog)
    {
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        seen << QStringLiteral("file");
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
        const QMessageBox::Icon icon = box->icon();
        QString line = QStringLiteral("%1 \"%2\" \"%3\" [%4] default %5")
                           .arg(icon == QMessageBox::Question   ? "question"
                                : icon == QMessageBox::Warning  ? "warning"
                                : icon == QMessageBox::Critical ? "critical"
                                                                : "other",
                                box->windowTitle(), box->text(), shown.join(' '),
                                box->defaultButton() ? box->defaultButton()->text().remove('&') : "none");
        if (whileBoxShows)
            line += ' ' + whileBoxShows();
        seen << box->windowTitle();
        transcript << line;
        const QMessageBox::StandardButton pick = buttons.isEmpty() ? QMessageBox::NoButton : buttons.takeFirst();
        if (QAbstractButton* button = box->button(pick))
            button->click();
        else
            box->reject();
    }

    QTimer timer;
};

// White-box access to the private records of the window and its tool dialogs, for tests.

#include "display/Qt4DisplaySceneVisualizer.h"
#include "display/Qt4DisplaySceneVisualizerD.h"
#include "display/Qt4RenderWidget.h"
#include "display/Qt4RenderWidgetD.h"
#include "linehistogram/Qt4LineHistogramDialog.h"
#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileDialogD.h"

#include <QThread>

namespace vexo {
namespace core {

struct VisualizerInspector
{
    static Qt4DisplaySceneVisualizer::D& d(Qt4DisplaySceneVisualizer* window)
    {
        return *window->d;
    }
    // The picture the canvas widget shows.
    static QPixmap canvasPixmap(Qt4DisplaySceneVisualizer* window)
    {
        return window->canvasWidget->d->pixmap;
    }
    static QThread* profileWorker(Qt4DisplaySceneVisualizer* window)
    {
        return window->d->lineProfileDialog->d->thread.get();
    }
    static QThread* histogramWorker(Qt4DisplaySceneVisualizer* window)
    {
        return window->d->lineHistogramDialog->d->thread.get();
    }
};

} // namespace core
} // namespace vexo
