#include "Uvx900.h"

TfrmVX900::TfrmVX900(QObject *owner)
    : QObject(owner)
{
}

TfrmVX900::~TfrmVX900() = default;
