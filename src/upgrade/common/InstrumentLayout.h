#pragma once

#include "upgrade/common/ModuleCatalogue.h"

#include <QString>
#include <QStringList>

// Where an upgrade puts things, locally and on the instrument, and the
// texts the run shows.
namespace upgrade {

inline const QString InstrumentRoot = QStringLiteral("/F0:/");
inline const QString SystemFolder = QStringLiteral("/F0:/SYSTEM");
inline const QString LocalModuleRoot = QStringLiteral("Target");
inline const QString LocalSystemFiles = QStringLiteral("MainFrame");
inline const QString SignalFolder = QStringLiteral("SIGNAL");

// Below this many free bytes (4.5 MiB) the run asks before going on, when
// the box of one of the first modules is ticked; going on forces the
// signals of the second ones (compressed signals that fit).
inline constexpr quint64 LowSpaceThreshold = 4718592;
inline const QStringList LowSpaceModules = {ModuleName::QMX53, ModuleName::LPS3};
inline const QStringList ForcedOnLowSpace = {ModuleName::KRN3, ModuleName::PRZ53};

inline const QString Caption = QStringLiteral("VX900 Upgrade");
inline const QString DamagedText = QStringLiteral("VX900's File System was damaged!");
inline const QString LowSpaceQuestionText =
    QStringLiteral("There is not enough space to upgrade VX900.\n\n"
                   "The signals of PRZ53/KRN3 are overwritten with compressed signals.\n\n"
                   "Click YES to continue?");
inline const QString NameFilesFailedText =
    QStringLiteral("Fail to make MID files !\n\nVX900 file system might be full.");
inline const QString DownloadFailedText =
    QStringLiteral("Fail to download F/W !\n\nVX900 file system might be full.");
inline const QString SuccessText = QStringLiteral("Copy successfully completed !\n\nPlease reboot the VX900.");

} // namespace upgrade
