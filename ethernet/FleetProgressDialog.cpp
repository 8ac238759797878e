#include "ethernet/FleetProgressDialog.h"

#include "ui_FleetProgressDialog.h"

#include <QHeaderView>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidgetItem>

namespace {

enum Column { AddressColumn, ControllerColumn, StateColumn, ProgressColumn };

// Hands the dialog to the panel as a view. The dialog is a child of the
// window, so it may go before this handle does.
class DialogView : public FleetProgressView
{
public:
    explicit DialogView(FleetProgressDialog *dialog) : m_dialog(dialog) {}
    ~DialogView() override { close(); }

    void setRow(int row, const QString &state, int percent) override
    {
        if (m_dialog)
            m_dialog->setRow(row, state, percent);
    }
    void setOverall(int value, int maximum) override
    {
        if (m_dialog)
            m_dialog->setOverall(value, maximum);
    }
    void setStatus(const QString &text) override
    {
        if (m_dialog)
            m_dialog->setStatus(text);
    }
    void setCancelEnabled(bool enabled) override
    {
        if (m_dialog)
            m_dialog->setCancelEnabled(enabled);
    }
    void close() override
    {
        if (m_dialog) {
            m_dialog->finish();
            m_dialog->deleteLater();
            m_dialog.clear();
        }
    }

private:
    QPointer<FleetProgressDialog> m_dialog;
};

} // namespace

FleetProgressDialog::FleetProgressDialog(const QList<FleetProgressView::Row> &rows,
                                         std::function<void()> onCancel, QWidget *parent)
    : QDialog(parent), ui(new Ui::FleetProgressDialog), m_onCancel(std::move(onCancel))
{
    ui->setupUi(this);
    QTableWidget *table = ui->m_tableWidget_controllers;
    table->setRowCount(int(rows.size()));
    for (int i = 0; i < rows.size(); ++i) {
        table->setItem(i, AddressColumn, new QTableWidgetItem(rows.at(i).address));
        table->setItem(i, ControllerColumn, new QTableWidgetItem(rows.at(i).idstring));
        table->setItem(i, StateColumn, new QTableWidgetItem());
        auto *bar = new QProgressBar(table);
        bar->setRange(0, 100);
        bar->setValue(0);
        table->setCellWidget(i, ProgressColumn, bar);
    }
    table->horizontalHeader()->setSectionResizeMode(StateColumn, QHeaderView::Stretch);
    table->horizontalHeader()->setSectionResizeMode(ProgressColumn, QHeaderView::Fixed);
    table->resizeColumnToContents(AddressColumn);
    table->resizeColumnToContents(ControllerColumn);
    connect(ui->m_buttonBox, &QDialogButtonBox::rejected, this, &FleetProgressDialog::reject);
}

FleetProgressDialog::~FleetProgressDialog()
{
    delete ui;
}

void FleetProgressDialog::setRow(int row, const QString &state, int percent)
{
    QTableWidget *table = ui->m_tableWidget_controllers;
    if (row < 0 || row >= table->rowCount())
        return;
    table->item(row, StateColumn)->setText(state);
    table->item(row, StateColumn)->setToolTip(state);
    if (auto *bar = qobject_cast<QProgressBar *>(table->cellWidget(row, ProgressColumn)))
        bar->setValue(qBound(0, percent, 100));
}

void FleetProgressDialog::setOverall(int value, int maximum)
{
    ui->m_progressBar_overall->setRange(0, qMax(1, maximum));
    ui->m_progressBar_overall->setValue(qBound(0, value, qMax(1, maximum)));
}

void FleetProgressDialog::setStatus(const QString &text)
{
    ui->m_label_status->setText(text);
}

void FleetProgressDialog::setCancelEnabled(bool enabled)
{
    if (QPushButton *cancel = ui->m_buttonBox->button(QDialogButtonBox::Cancel))
        cancel->setEnabled(enabled);
}

void FleetProgressDialog::reject()
{
    // Writes under way cannot be taken back: the run decides when this closes.
    if (m_finished) {
        QDialog::reject();
        return;
    }
    if (m_onCancel)
        m_onCancel();
}

void FleetProgressDialog::finish()
{
    m_finished = true;
    m_onCancel = nullptr;
    QDialog::reject();
}

std::unique_ptr<FleetProgressView> FleetProgressDialog::open(QWidget *parent, const QString &title,
                                                             const QList<FleetProgressView::Row> &rows,
                                                             std::function<void()> onCancel)
{
    auto *dialog = new FleetProgressDialog(rows, std::move(onCancel), parent);
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->show();
    return std::make_unique<DialogView>(dialog);
}
