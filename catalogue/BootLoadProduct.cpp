#include "catalogue/BootLoadProduct.h"

#include "catalogue/MicroprocessorImageInfo.h"

#include <QFile>

BootLoadProduct::BootLoadProduct(Prompter &prompter, QObject *parent)
    : QObject(parent)
    , m_prompter(prompter)
{
    setObjectName(QStringLiteral("BootLoadProduct"));
}

BootLoadProduct::~BootLoadProduct() = default;

void BootLoadProduct::addProcessor(MicroprocessorImageInfo *info)
{
    if (info)
        m_processors.insert(info->hierarchy(), info);
}
