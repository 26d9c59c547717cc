#pragma once

#include <QString>

// The texts of the run's boxes, which the window, the console and the tests
// all show or expect word for word.
namespace upgrade {

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
