#pragma once

#include <QByteArray>
#include <QString>

// Who an instrument is, from its "*IDN?" reply: manufacturer, model, serial
// and firmware, the first four comma-separated fields. Two replies name the
// same instrument when manufacturer, model and serial agree; the firmware
// changes with every upgrade and is left out. An instrument that reports no
// serial is known by its address instead.
struct InstrumentIdentity
{
    QString manufacturer;
    QString model;
    QString serial;
    QString firmware;

    // Missing fields stay empty; blanks around each field are dropped.
    [[nodiscard]] static InstrumentIdentity FromReply(const QByteArray &reply);

    // The serial, or the address when there is none.
    [[nodiscard]] QString key(const QString &address) const;
    // "manufacturer,model,serial" for the operator (the firmware left out).
    [[nodiscard]] QString text() const;
};

// True when both replies name one instrument (see InstrumentIdentity). An
// empty reply names none.
[[nodiscard]] bool SameInstrument(const QByteArray &replyA, const QString &addressA, const QByteArray &replyB,
                                  const QString &addressB);
