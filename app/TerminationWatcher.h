#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so a
// session ended from outside closes the window the normal way and its log is
// written instead of lost. A signal that was ignored when the watcher was
// made is left alone.
class TerminationWatcher : public QObject
{
    Q_OBJECT

public:
    explicit TerminationWatcher(QObject *parent = nullptr);
    ~TerminationWatcher() override;

    // A termination was asked for (and reported through terminationRequested).
    bool requested() const { return m_requested; }

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier *m_notifier = nullptr;
    QList<int> m_handled;
    bool m_requested = false;
};
