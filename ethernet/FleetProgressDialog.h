#pragma once

#include "ethernet/FleetProgressView.h"

#include <QDialog>

#include <functional>

namespace Ui {
class FleetProgressDialog;
}

// The progress window of a "program all" run. Closing it or pressing Escape
// asks for the same as Cancel: writes under way finish, no new one starts.
class FleetProgressDialog : public QDialog
{
    Q_OBJECT

public:
    FleetProgressDialog(const QList<FleetProgressView::Row> &rows, std::function<void()> onCancel,
                        QWidget *parent = nullptr);
    ~FleetProgressDialog() override;

    void setRow(int row, const QString &state, int percent);
    void setOverall(int value, int maximum);
    void setStatus(const QString &text);
    void setCancelEnabled(bool enabled);
    // Ends the dialog for good; only this closes it.
    void finish();

    // The real view: shows this dialog, window-modal over parent.
    static std::unique_ptr<FleetProgressView> open(QWidget *parent, const QString &title,
                                                   const QList<FleetProgressView::Row> &rows,
                                                   std::function<void()> onCancel);

public slots:
    void reject() override;

private:
    Ui::FleetProgressDialog *ui;
    std::function<void()> m_onCancel;
    bool m_finished = false;
};
