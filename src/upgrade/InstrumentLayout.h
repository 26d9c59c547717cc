#pragma once

#include <QString>

// Where an upgrade puts things, locally and on the instrument, and the
// texts the run shows.
namespace upgrade {

inline const QString InstrumentRoot = QStringLiteral("/F0:/");
inline const QString SystemFolder = QStringLiteral("/F0:/SYSTEM");
inline const QString LocalModuleRoot = QStringLiteral("Target");
inline const QString LocalSystemFiles = QStringLiteral("MainFrame");
inline const QString SignalFolder = QStringLiteral("SIGNAL");

// Below this many free bytes (4.5 MiB) the run may ask before going on.
inline constexpr quint64 LowSpaceThreshold = 4718592;

inline const QString Caption = QStringLiteral("VX900 Upgrade");
inline const QString DownloadFailedText =
    QStringLiteral("Fail to download F/W !\n\nVX900 file system might be full.");

// FTP transfer types of the FTP client's SetTransferType.
inline constexpr int TransferAscii = 1;
inline constexpr int TransferImage = 2;

} // namespace upgrade
