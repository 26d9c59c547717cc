#pragma once

#include "instrument/Uvx900.h"

#include <memory>

// A link whose command channel and FTP client go to these loopback ports
// instead of the instrument's own (through the bench port settings, which
// the link reads when it is made).
[[nodiscard]] std::unique_ptr<TfrmVX900> linkOnPorts(quint16 commandPort, quint16 ftpPort);
