#pragma once

#include "RecordingObserver.h"
#include "SimInstrument.h"

#include "instrument/Uvx900.h"
#include "upgrade/common/ModuleCatalogue.h"
#include "upgrade/run/UpgradeRun.h"

// A run as a view makes it: the catalogue of a program folder, a link to
// the given ports, and the run, which reports to `observer`.
struct RunRig
{
    RunRig(const QString &programDir, InstrumentPorts ports)
        : catalogue(programDir)
        , link(nullptr, ports)
        , run(link, catalogue, programDir, observer)
    {
        catalogue.Build();
    }

    RecordingObserver observer;
    upgrade::ModuleCatalogue catalogue;
    TfrmVX900 link;
    upgrade::UpgradeRun run;
};
