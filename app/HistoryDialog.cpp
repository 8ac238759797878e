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

// Columns of the table and of the CSV, by the record's field names.
const char *const kFields[] = {"time",         "interface",    "deviceType",    "address",
                               "revisionBefore", "imageFile",  "imageVersion",  "imageSha256",
                               "revisionAfter", "outcome",     "reason",        "durationMs"};
constexpr int kFieldCount = int(std::size(kFields));

QString columnTitle(int column)
{
    static const char *const titles[] = {
        QT_TRANSLATE_NOOP("HistoryDialog", "Time"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Interface"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Device type"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Address / serial"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Revision before"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Image file"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Image version"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Image SHA-256"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Revision after"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Outcome"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Reason"),
        QT_TRANSLATE_NOOP("HistoryDialog", "Duration"),
    };
    return QCoreApplication::translate("HistoryDialog", titles[column]);
}

QString shownText(const UpdateRecord &record, int column)
{
    switch (column) {
    case 0: return record.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case 1: return UpdateRecord::interfaceTitle(record.interfaceNumber);
    case 11: return QStringLiteral("%1 s").arg(double(record.durationMs) / 1000.0, 0, 'f', 1);
    default: break;
    }
    const QJsonValue value = record.toJson().value(QLatin1String(kFields[column]));
    return value.isNull() ? QStringLiteral("\u2014") : value.toVariant().toString();
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
    table->setColumnCount(kFieldCount);
    QStringList titles;
    for (int column = 0; column < kFieldCount; ++column)
        titles.append(columnTitle(column));
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
        for (int line : contents.damagedLines)
            numbers.append(QString::number(line));
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
        for (int column = 0; column < kFieldCount; ++column) {
            auto *item = new QTableWidgetItem(shownText(m_records.at(row), column));
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
    int shown = 0;
    for (int row = 0; row < m_records.size(); ++row) {
        const UpdateRecord &record = m_records.at(row);
        const bool match = (interfaceNumber < 0 || record.interfaceNumber == interfaceNumber)
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
    for (const char *field : kFields)
        header.append(QLatin1String(field));
    lines.append(header.join(QLatin1Char(',')));
    for (int row : rows) {
        // The stored values, not the display forms: the time with its
        // offset, the duration in milliseconds.
        const QJsonObject object = m_records.at(row).toJson();
        QStringList fields;
        for (const char *field : kFields)
            fields.append(csvField(object.value(QLatin1String(field)).toVariant().toString()));
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

void HistoryDialog::updateCopyButton()
{
    ui->m_pushButton_copy->setEnabled(!selectedShownRows().isEmpty());
}
