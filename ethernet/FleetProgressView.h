#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

// What a "program all" run shows while it goes on: a row per controller
// (address, idstring, state, progress), an overall bar and a Cancel. The real
// one is FleetProgressDialog; tests put a recording one in its place.
class FleetProgressView
{
public:
    struct Row {
        QString address;
        QString idstring;
    };

    virtual ~FleetProgressView() = default;
    virtual void setRow(int row, const QString &state, int percent) = 0;
    virtual void setOverall(int value, int maximum) = 0;
    // A line above the rows: what the run is doing as a whole.
    virtual void setStatus(const QString &text) = 0;
    // Once cancelled, the Cancel button has nothing more to do.
    virtual void setCancelEnabled(bool enabled) = 0;
    virtual void close() = 0;
};

// Opens the view for a run: onCancel is called when the operator asks to cancel.
using FleetProgressFactory = std::function<std::unique_ptr<FleetProgressView>(
    QWidget *parent, const QString &title, const QList<FleetProgressView::Row> &rows,
    std::function<void()> onCancel)>;
