#pragma once

#include "upgrade/UpgradeWindow.h"

#include <optional>

// The program's one window. (Layout, catalogue and handlers are filled in by
// the foundation work.)
class TfrmMain : public TUpgradeWindow
{
    Q_OBJECT

public:
    // `programDir` replaces the running executable's folder; only tests and
    // the command-line runner pass it.
    explicit TfrmMain(std::optional<QString> programDir = std::nullopt, QWidget *parent = nullptr);
    ~TfrmMain() override;
};
