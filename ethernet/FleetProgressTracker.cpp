#include "ethernet/FleetProgressTracker.h"

#include "ethernet/FleetWriter.h"

#include <QTimer>
#include <QWidget>

namespace {

// How often the window is brought up to date.
constexpr int kRefreshMs = 100;

} // namespace

FleetProgressTracker::FleetProgressTracker(FleetWriter &fleet, const FleetProgressFactory &factory, QWidget *window,
                                           const QString &title)
    : QObject(window), m_fleet(&fleet)
{
    const int count = int(fleet.outcomes().size());
    m_rows = QList<QPair<QString, int>>(count, {tr("Waiting"), 0});
    m_rowChanged = QList<bool>(count, true);
    m_percent = QList<int>(count, 0);
    connect(&fleet, &FleetWriter::writeStarted, this,
            [this](int index) { setRow(index, tr("Connecting"), 0); });
    connect(&fleet, &FleetWriter::writeProgress, this, [this](int index, int percent) {
        if (index < 0 || index >= m_percent.size())
            return;
        m_percent[index] = percent;
        setRow(index, tr("Writing"), percent);
    });
    connect(&fleet, &FleetWriter::writeFinished, this, &FleetProgressTracker::writeFinished);

    QList<FleetProgressView::Row> rows;
    for (const ControllerWriteOutcome &outcome : fleet.outcomes()) {
        rows.append({outcome.address, outcome.idstring});
        m_addresses.append(outcome.address);
    }
    if (factory)
        m_view = factory(window, title, rows, [this] {
            // Acted on from the event loop, not from inside the window's own handler.
            QMetaObject::invokeMethod(this, &FleetProgressTracker::cancelRequested, Qt::QueuedConnection);
        });
    if (m_view) {
        m_view->setCancelEnabled(true);
        m_refresh = new QTimer(this);
        connect(m_refresh, &QTimer::timeout, this, &FleetProgressTracker::refresh);
        m_refresh->start(kRefreshMs);
    }
}

FleetProgressTracker::~FleetProgressTracker()
{
    close();
}

void FleetProgressTracker::setRow(int index, const QString &state, int percent)
{
    if (index < 0 || index >= m_rows.size())
        return;
    m_rows[index] = {state, percent};
    m_rowChanged[index] = true;
}

void FleetProgressTracker::writeFinished(int index)
{
    if (!m_fleet || index < 0 || index >= m_fleet->outcomes().size() || index >= m_percent.size())
        return;
    const ControllerWriteOutcome &outcome = m_fleet->outcomes().at(index);
    QString state;
    switch (outcome.result) {
    case ControllerWriteOutcome::Result::Updated:
        state = tr("Updated");
        m_percent[index] = 100;
        break;
    case ControllerWriteOutcome::Result::NotStarted:
        state = tr("Not started");
        break;
    default:
        state = tr("Failed: %1").arg(outcome.reason);
        break;
    }
    setRow(index, state, m_percent[index]);
    // Whatever became of it, this row has no more to do.
    m_percent[index] = 100;
}

void FleetProgressTracker::refresh()
{
    if (!m_fleet || !m_view)
        return;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rowChanged.at(i)) {
            m_rowChanged[i] = false;
            m_view->setRow(i, m_rows.at(i).first, m_rows.at(i).second);
        }
    }
    int sum = 0;
    for (int percent : std::as_const(m_percent))
        sum += percent;
    if (sum != m_overallShown) {
        m_overallShown = sum;
        m_view->setOverall(sum, int(m_percent.size()) * 100);
    }
    int done = 0;
    for (const ControllerWriteOutcome &outcome : m_fleet->outcomes())
        done += outcome.finished() ? 1 : 0;
    const QString status = m_fleet->isCancelled()
        ? tr("Cancelling: waiting for the %1 writes under way to finish.").arg(m_fleet->activeWrites())
        : tr("%1 of %2 controllers done, %3 being written.")
              .arg(done)
              .arg(m_fleet->outcomes().size())
              .arg(m_fleet->activeWrites());
    if (status != m_statusShown) {
        m_statusShown = status;
        m_view->setStatus(status);
    }
}

void FleetProgressTracker::checking(const QString &status)
{
    refresh();
    // The writer goes with its run: from here the rows change only through the check.
    delete m_refresh;
    m_refresh = nullptr;
    m_fleet.clear();
    if (!m_view)
        return;
    m_view->setCancelEnabled(false);
    for (int i = 0; i < m_addresses.size(); ++i)
        if (m_rows.at(i).first == tr("Updated"))
            m_view->setRow(i, tr("Updated, checking…"), 100);
    setStatus(status);
}

void FleetProgressTracker::setChecked(const QString &address, const QString &result)
{
    const int row = int(m_addresses.indexOf(address));
    if (m_view && row >= 0)
        m_view->setRow(row, result, 100);
}

void FleetProgressTracker::setStatus(const QString &text)
{
    if (m_view && !text.isEmpty() && text != m_statusShown) {
        m_statusShown = text;
        m_view->setStatus(text);
    }
}

void FleetProgressTracker::cancelRequested()
{
    if (!m_view || !m_fleet || m_fleet->isCancelled() || !m_fleet->isRunning())
        return;
    emit message(LOG_WARNING, tr("Programming all controllers cancelled: the %1 writes under way finish, no "
                                 "new one starts.")
                                  .arg(m_fleet->activeWrites()));
    m_view->setCancelEnabled(false);
    // Its end may come at once, and with it the window's.
    m_fleet->cancel();
    refresh();
}

void FleetProgressTracker::finish()
{
    refresh();
    close();
}

void FleetProgressTracker::close()
{
    delete m_refresh;
    m_refresh = nullptr;
    if (m_view) {
        m_view->close();
        m_view.reset();
    }
}
