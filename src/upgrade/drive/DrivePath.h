#pragma once

#include <QString>

// Paths on the instrument's drive, split and joined one way. A drive's root
// keeps its slash ("/F0:/"): "/F0:/KRN3" lies in "/F0:/", and "/F0:/SYSTEM/x"
// in "/F0:/SYSTEM".
namespace upgrade {

// Whether `path` is a drive's root, such as "/F0:/".
[[nodiscard]] bool IsDriveRoot(const QString &path);
// The folder that holds `path`; a root is its own folder.
[[nodiscard]] QString DriveFolderOf(const QString &path);
// The last name of `path`; empty for a root.
[[nodiscard]] QString DriveNameOf(const QString &path);
[[nodiscard]] QString JoinDrivePath(const QString &folder, const QString &name);

} // namespace upgrade
