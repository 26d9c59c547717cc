#include "instrument/InstrumentPorts.h"

namespace {

quint16 benchPort(const QProcessEnvironment &environment, const QString &variable, quint16 instrumentPort)
{
    bool ok = false;
    const int port = environment.value(variable).toInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : instrumentPort;
}

} // namespace

InstrumentPorts InstrumentPorts::FromBenchSettings(const QProcessEnvironment &environment)
{
    const InstrumentPorts instrument;
    return {benchPort(environment, QStringLiteral("VX900_CMD_PORT"), instrument.command),
            benchPort(environment, QStringLiteral("VX900_FTP_PORT"), instrument.ftp)};
}
