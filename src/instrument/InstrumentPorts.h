#pragma once

#include <QProcessEnvironment>

// The two TCP ports of an instrument. A VX900 always answers its command
// channel on 5000 and FTP on 21; benches and the instrument simulator run on
// other ports, which the program's creator hands to the link.
struct InstrumentPorts
{
    quint16 command = 5000;
    quint16 ftp = 21;

    // The bench settings VX900_CMD_PORT and VX900_FTP_PORT of `environment`,
    // each where it names a port (1 to 65535); the instrument's own port
    // where it is unset or anything else. Read once, at start-up.
    [[nodiscard]] static InstrumentPorts FromBenchSettings(const QProcessEnvironment &environment);

    bool operator==(const InstrumentPorts &) const = default;
};
