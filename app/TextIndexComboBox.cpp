#include "app/TextIndexComboBox.h"

TextIndexComboBox::TextIndexComboBox(QWidget *parent)
    : QComboBox(parent)
{
    connect(this, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { emit currentIndexChanged(itemText(index)); });
}
