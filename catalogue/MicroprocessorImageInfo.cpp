#include "catalogue/MicroprocessorImageInfo.h"

MicroprocessorImageInfo::MicroprocessorImageInfo(Prompter &prompter, QObject *parent)
    : QObject(parent)
    , m_prompter(prompter)
{
}

MicroprocessorImageInfo::~MicroprocessorImageInfo() = default;
