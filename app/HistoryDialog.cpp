#include "app/HistoryDialog.h"

#include "ui_HistoryDialog.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace {

// Columns of the table and of the CSV, by the record's field names: what an
// operator looks for first comes first, the long checksum last.
struct Column {
    const char *field;
    const char *title;
};
const Column kColumns[] = {
    {"time", QT_TRANSLATE_NOOP("HistoryDialog", "Time")},
    {"interface", QT_TRANSLATE_NOOP("HistoryDialog", "Interface")},
    {"deviceType", QT_TRANSLATE_NOOP("HistoryDialog", "Device type")},
    {"address", QT_TRANSLATE_NOOP("HistoryDialog", "Address / serial")},
    {"outcome", QT_TRANSLATE_NOOP("HistoryDialog", "Outcome")},
    {"revisionBefore", QT_TRANSLATE_NOOP("HistoryDialog", "Revision before")},
    {"imageVersion", QT_TRANSLATE_NOOP("HistoryDialog", "Image version")},
    {"revisionAfter", QT_TRANSLATE_NOOP("HistoryDialog", "Revision after")},
    {"reason", QT_TRANSLATE_NOOP("HistoryDialog", "Reason")},
    {"imageFile", QT_TRANSLATE_NOOP("HistoryDialog", "Image file")},
    {"signature", QT_TRANSLATE_NOOP("HistoryDialog", "Signature")},
    {"signedBy", QT_TRANSLATE_NOOP("HistoryDialog", "Signed by")},
    {"trustedComment", QT_TRANSLATE_NOOP("HistoryDialog", "Trusted comment")},
    {"durationMs", QT_TRANSLATE_NOOP("HistoryDialog", "Duration")},
    {"imageSha256", QT_TRANSLATE_NOOP("HistoryDialog", "Image SHA-256")},
};
constexpr int kColumnCount = int(std::size(kColumns));

QString shownText(const UpdateRecord &record, const QJsonObject &stored, int column)
{
    const QLatin1String field(kColumns[column].field);
    if (field == QLatin1String("time"))
        return record.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (field == QLatin1String("interface"))
        return UpdateRecord::interfaceTitle(record.interfaceNumber);
    if (field == QLatin1String("durationMs"))
        return QStringLiteral("%1 s").arg(double(record.durationMs) / 1000.0, 0, 'f', 1);
    const QJsonValue value = stored.value(field);
    // Absent: a field the record's writer did not know yet.
    return value.isNull() || value.isUndefined() ? QStringLiteral("\u2014")
                                                 : value.toVariant().toString();
}

// RFC 4180 quoting: fields holding a separator, a quote or a line break are
// quoted, with their quotes doubled.
QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

HistoryDialog::HistoryDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::HistoryDialog)
{
    ui->setupUi(this);
    {
        const QSignalBlocker blocker(ui->m_comboBox_interface);
        ui->m_comboBox_interface->addItem(tr("All interfaces"), -1);
        for (int number = 0; number <= 2; ++number)
            ui->m_comboBox_interface->addItem(UpdateRecord::interfaceTitle(number), number);
    }

    QTableWidget *table = ui->m_tableWidget_records;
    table->setColumnCount(kColumnCount);
    QStringList titles;
    for (const Column &column : kColumns)
        titles.append(tr(column.title));
    table->setHorizontalHeaderLabels(titles);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    auto *copy = new QAction(tr("Copy as CSV"), table);
    copy->setObjectName(QStringLiteral("m_action_copy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    table->addAction(copy);
    connect(copy, &QAction::triggered, this, &HistoryDialog::copySelection);
    connect(ui->m_pushButton_copy, &QPushButton::clicked, this, &HistoryDialog::copySelection);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &HistoryDialog::updateCopyButton);
    updateCopyButton();
}

HistoryDialog::~HistoryDialog()
{
    delete ui;
}

void HistoryDialog::setContents(const UpdateRecordFile::Contents &contents, const QString &path)
{
    // Newest first; of two records with the same time the later line is the newer.
    m_records = contents.records;
    std::reverse(m_records.begin(), m_records.end());
    std::stable_sort(m_records.begin(), m_records.end(),
                     [](const UpdateRecord &a, const UpdateRecord &b) { return a.time > b.time; });

    QStringList notes;
    if (!contents.error.isEmpty())
        notes.append(tr("%1 could not be read: %2").arg(path, contents.error));
    const qsizetype damaged = contents.damagedLines.size();
    if (damaged > 0) {
        QStringList numbers;
        for (int line : contents.damagedLines.mid(0, 10))
            numbers.append(QString::number(line));
        if (damaged > 10)
            numbers.append(QStringLiteral("..."));
        const QString lines = numbers.join(QStringLiteral(", "));
        notes.append(damaged == 1
                         ? tr("1 damaged line skipped (line %1 of %2).").arg(lines, path)
                         : tr("%1 damaged lines skipped (lines %2 of %3).")
                               .arg(QString::number(damaged), lines, path));
    }
    ui->m_label_note->setText(notes.join(QLatin1Char('\n')));
    ui->m_label_note->setVisible(!notes.isEmpty());
    setWindowTitle(tr("Update History \u2014 %1").arg(path));
    fillTable();
}

void HistoryDialog::fillTable()
{
    QTableWidget *table = ui->m_tableWidget_records;
    table->clearContents();
    table->setRowCount(int(m_records.size()));
    for (int row = 0; row < m_records.size(); ++row) {
        const QJsonObject stored = m_records.at(row).toJson();
        for (int column = 0; column < kColumnCount; ++column) {
            auto *item = new QTableWidgetItem(shownText(m_records.at(row), stored, column));
            item->setToolTip(item->text());
            table->setItem(row, column, item);
        }
    }
    table->resizeColumnsToContents();
    applyFilter();
}

void HistoryDialog::applyFilter()
{
    const int interfaceNumber = ui->m_comboBox_interface->currentData().toInt();
    const QString device = ui->m_lineEdit_device->text().trimmed();
    const bool cancelled = ui->m_checkBox_showCancelled->isChecked();
    int shown = 0;
    for (int row = 0; row < m_records.size(); ++row) {
        const UpdateRecord &record = m_records.at(row);
        const bool match = (cancelled || record.outcome != UpdateRecord::Outcome::Cancelled)
            && (interfaceNumber < 0 || record.interfaceNumber == interfaceNumber)
            && (device.isEmpty() || record.deviceType.contains(device, Qt::CaseInsensitive)
                || record.address.contains(device, Qt::CaseInsensitive));
        ui->m_tableWidget_records->setRowHidden(row, !match);
        shown += match ? 1 : 0;
    }
    ui->m_label_count->setText(m_records.isEmpty()
                                   ? tr("No updates recorded.")
                                   : tr("%1 of %2 updates shown.").arg(shown).arg(m_records.size()));
    updateCopyButton();
}

QList<int> HistoryDialog::selectedShownRows() const
{
    const QTableWidget *table = ui->m_tableWidget_records;
    QList<int> rows;
    for (const QModelIndex &index : table->selectionModel()->selectedRows()) {
        if (!table->isRowHidden(index.row()))
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

QString HistoryDialog::selectedRowsCsv() const
{
    const QList<int> rows = selectedShownRows();
    if (rows.isEmpty())
        return QString();

    QStringList lines;
    QStringList header;
    for (const Column &column : kColumns)
        header.append(QLatin1String(column.field));
    lines.append(header.join(QLatin1Char(',')));
    for (int row : rows) {
        // The stored values, not the display forms: the time with its
        // offset, the duration in milliseconds.
        const QJsonObject object = m_records.at(row).toJson();
        QStringList fields;
        for (const Column &column : kColumns)
            fields.append(csvField(object.value(QLatin1String(column.field)).toVariant().toString()));
        lines.append(fields.join(QLatin1Char(',')));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void HistoryDialog::copySelection()
{
    const QString csv = selectedRowsCsv();
    if (!csv.isEmpty())
        QGuiApplication::clipboard()->setText(csv);
}

void HistoryDialog::on_m_comboBox_interface_currentIndexChanged(int)
{
    applyFilter();
}

void HistoryDialog::on_m_lineEdit_device_textChanged(const QString &)
{
    applyFilter();
}

void HistoryDialog::on_m_checkBox_showCancelled_toggled(bool)
{
    applyFilter();
}

void HistoryDialog::updateCopyButton()
{
    ui->m_pushButton_copy->setEnabled(!selectedShownRows().isEmpty());
}
