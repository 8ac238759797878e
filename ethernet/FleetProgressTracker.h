#pragma once

#include "base/LogTypes.h"
#include "ethernet/FleetProgressView.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class FleetWriter;
class QTimer;
class QWidget;

// What the progress window of a "program all" run shows: each controller's
// state and progress, the overall bar and the run's status line, kept as the
// writes report and applied to the window a few times a second (with many
// writes at once, drawing every step would hold up the window). Cancel in
// the window cancels the run.
class FleetProgressTracker : public QObject
{
    Q_OBJECT

public:
    // Opens the window through factory, on window; without a factory, or
    // when it opens none, nothing is shown.
    FleetProgressTracker(FleetWriter &fleet, const FleetProgressFactory &factory, QWidget *window,
                         const QString &title);
    ~FleetProgressTracker() override;

    // Brings the window up to date now.
    void refresh();
    // The writes have ended and the written controllers are checked: the
    // window stays, says so, and has nothing left to cancel.
    void checking(const QString &status);
    // What the check found of the controller at address, in its row.
    void setChecked(const QString &address, const QString &result);
    // The line above the rows, while the check goes on.
    void setStatus(const QString &text);
    // The run has ended: the window shows its last state and closes.
    void finish();
    // Closes the window as it is.
    void close();

signals:
    void message(LOGPRIORITY priority, const QString &text);

private:
    void setRow(int index, const QString &state, int percent);
    void writeFinished(int index);
    void cancelRequested();

    QPointer<FleetWriter> m_fleet;
    QStringList m_addresses; // by row
    std::unique_ptr<FleetProgressView> m_view;
    QTimer *m_refresh = nullptr;
    QList<QPair<QString, int>> m_rows;
    QList<bool> m_rowChanged;
    QList<int> m_percent; // per row, for the overall bar; a finished row counts as whole
    int m_overallShown = -1;
    QString m_statusShown;
};
