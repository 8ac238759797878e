#pragma once

#include <QComboBox>

// A combo box that also reports each change of the current entry with the
// entry's text (empty when the list has no current entry). The window's
// device-type handler is keyed by name and connected by name to this signal,
// which the plain combo box no longer offers.
class TextIndexComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit TextIndexComboBox(QWidget *parent = nullptr);

signals:
    void currentIndexChanged(const QString &text);
};
