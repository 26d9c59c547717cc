#pragma once

#include <QObject>

// The instrument link: owns the command channel and the FTP client of one
// VX900 and turns their outcomes into the operator's messages.
// (Filled in by the instrument-link work; for now only its life cycle.)
class TfrmVX900 : public QObject
{
    Q_OBJECT

public:
    explicit TfrmVX900(QObject *owner);
    ~TfrmVX900() override;
};
