#pragma once

#include "ethernet/FleetProgressView.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

// Stands in for the progress window of a "program all" run: keeps what each
// row showed, in order, and lets the test press Cancel.
struct RecordingFleetProgress {
    struct Record {
        QString title;
        QList<FleetProgressView::Row> rows;
        QList<QList<QPair<QString, int>>> states; // per row, every (state, percent) shown
        QList<QPair<int, int>> overall;
        QStringList statuses;
        bool cancelEnabled = false;
        bool closed = false;
        std::function<void()> cancel;

        QString state(int row) const { return states.value(row).isEmpty() ? QString() : states.at(row).last().first; }
        int rowWith(const QString &address) const
        {
            for (int i = 0; i < rows.size(); ++i)
                if (rows.at(i).address == address)
                    return i;
            return -1;
        }
    };

    QList<std::shared_ptr<Record>> opened;

    std::shared_ptr<Record> last() const { return opened.isEmpty() ? nullptr : opened.last(); }

    FleetProgressFactory factory()
    {
        return [this](QWidget *, const QString &title, const QList<FleetProgressView::Row> &rows,
                      std::function<void()> onCancel) -> std::unique_ptr<FleetProgressView> {
            auto record = std::make_shared<Record>();
            record->title = title;
            record->rows = rows;
            record->states.resize(rows.size());
            record->cancel = std::move(onCancel);
            opened.append(record);
            return std::make_unique<View>(record);
        };
    }

private:
    class View : public FleetProgressView
    {
    public:
        explicit View(std::shared_ptr<Record> record) : m_record(std::move(record)) {}
        void setRow(int row, const QString &state, int percent) override
        {
            // As the real window: once closed, nothing more shows.
            if (!m_record->closed && row >= 0 && row < m_record->states.size())
                m_record->states[row].append({state, percent});
        }
        void setOverall(int value, int maximum) override { m_record->overall.append({value, maximum}); }
        void setStatus(const QString &text) override
        {
            if (!m_record->closed)
                m_record->statuses.append(text);
        }
        void setCancelEnabled(bool enabled) override { m_record->cancelEnabled = enabled; }
        void close() override { m_record->closed = true; }

    private:
        std::shared_ptr<Record> m_record;
    };
};

// The most transfers that overlapped in time, from when each controller heard
// its first and its last packet (microseconds; first < 0: heard nothing).
inline int mostAtOnce(const QList<QPair<qint64, qint64>> &spans)
{
    QList<QPair<qint64, int>> edges;
    for (const auto &[first, last] : spans)
        if (first >= 0) {
            edges.append({first, +1});
            edges.append({last, -1});
        }
    // At one instant an end counts before a start.
    std::sort(edges.begin(), edges.end());
    int now = 0;
    int most = 0;
    for (const auto &edge : std::as_const(edges)) {
        now += edge.second;
        most = std::max(most, now);
    }
    return most;
}
