#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QVector>

class QWidget;

// Places a host's windows in a cascade: the first one is left to the window manager, each
// later one goes a step down and right of the previous, measured from the first window's
// frame once that is shown. GUI thread only.
class WindowCascade : public QObject
{
    Q_OBJECT

public:
    explicit WindowCascade(QObject* parent = nullptr);

    // Call before showing the window.
    void add(QWidget* window);

    static constexpr int step = 40;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Placed
    {
        QPointer<QWidget> window;
        QPoint at; // where it was put; a window found elsewhere was moved by the user
        bool done;
    };
    void schedule();
    void place(int index);

    QPointer<QWidget> first;
    QVector<Placed> others;
    bool firstShown = false;
    bool scheduled = false;
    // The window manager may still move the first window once after it is shown.
    bool firstSettled = false;
};
