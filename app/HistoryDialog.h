#pragma once

#include "base/UpdateRecordFile.h"

#include <QDialog>
#include <QList>
#include <QString>

namespace Ui {
class HistoryDialog;
}

// The update record as a table, newest first: filter it by interface and by
// device (type, address or serial), copy the selected rows as CSV. Lines of
// the file that could not be read are named above the table. Cancelled runs
// (a question answered No, nothing sent) are listed only when asked for.
class HistoryDialog : public QDialog
{
    Q_OBJECT

public:
    explicit HistoryDialog(QWidget *parent = nullptr);
    ~HistoryDialog() override;

    // Shows the record as read from the file at path.
    void setContents(const UpdateRecordFile::Contents &contents, const QString &path);

    // The selected rows that the filter shows, in table order, under a line
    // naming the columns with the record's own field names.
    QString selectedRowsCsv() const;

public slots:
    void copySelection();

private slots:
    void on_m_comboBox_interface_currentIndexChanged(int index);
    void on_m_lineEdit_device_textChanged(const QString &text);
    void on_m_checkBox_showCancelled_toggled(bool checked);
    void updateCopyButton();

private:
    QList<int> selectedShownRows() const;
    void fillTable();
    void applyFilter();

    Ui::HistoryDialog *ui = nullptr;
    QList<UpdateRecord> m_records; // table order: newest first
};
