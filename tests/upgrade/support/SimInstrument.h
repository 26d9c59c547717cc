#pragma once

#include "instrument/InstrumentPorts.h"
#include "sim/SimulatorProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The simulator as the instrument of a run: started on free loopback ports,
// which ports() hands to the link, and a look at the drive afterwards.
class SimInstrument : public SimulatorProcess
{
public:
    using SimulatorProcess::SimulatorProcess;

    [[nodiscard]] InstrumentPorts ports() const { return {cmdPort(), ftpPort()}; }

    // Bytes of an instrument file; empty when missing.
    [[nodiscard]] QByteArray file(const QString &instrumentPath) const;
    // Every file below "/F0:/", as "/"-joined relative paths, sorted.
    [[nodiscard]] QStringList files() const;
    // What the tool sent on one channel ("cmd" or "ftp"), in order.
    [[nodiscard]] QStringList sent(const QString &channel) const { return lines(channel, QStringLiteral("in")); }
};
