#include "instrument/InstrumentIdentity.h"

#include <QList>

InstrumentIdentity InstrumentIdentity::FromReply(const QByteArray &reply)
{
    const QList<QByteArray> fields = reply.trimmed().split(',');
    auto field = [&fields](qsizetype i) {
        return i < fields.size() ? QString::fromUtf8(fields[i].trimmed()) : QString();
    };
    return InstrumentIdentity{field(0), field(1), field(2), field(3)};
}

QString InstrumentIdentity::key(const QString &address) const
{
    return serial.isEmpty() ? address : serial;
}

QString InstrumentIdentity::text() const
{
    return manufacturer + u',' + model + u',' + serial;
}

bool SameInstrument(const QByteArray &replyA, const QString &addressA, const QByteArray &replyB,
                    const QString &addressB)
{
    if (replyA.trimmed().isEmpty() || replyB.trimmed().isEmpty())
        return false;
    const InstrumentIdentity a = InstrumentIdentity::FromReply(replyA);
    const InstrumentIdentity b = InstrumentIdentity::FromReply(replyB);
    return a.manufacturer == b.manufacturer && a.model == b.model && a.key(addressA) == b.key(addressB);
}
