#pragma once

#include "instrument/InstrumentPorts.h"
#include "sim/SimulatorProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

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

using SimFleet = std::vector<std::unique_ptr<SimInstrument>>;

// Simulators on 127.0.0.2, 127.0.0.3, ... (one for each entry of `options`)
// that share one pair of ports, as real instruments all answer on 5000 and
// 21. The first picks free ports on its address; another program's socket
// may hold the same port on every address, so when a later one finds it
// taken, all start again on new ports, five times at most. Empty, with
// `error` set, when they could not start.
[[nodiscard]] SimFleet StartSharingPorts(const QList<QStringList> &options, QString &error);
