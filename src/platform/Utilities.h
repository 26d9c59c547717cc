#pragma once

#include <QString>

#include <optional>

// A full path split at its last separator.
struct PathParts
{
    QString folder;   // everything before the last separator, plus one separator
    QString fileName; // everything after it
};

// Splits `path` at its last separator. The whole path is used, whatever its
// length: the program's folder must survive intact for every local path
// formed from it. A path without a separator is all file name.
[[nodiscard]] PathParts SplitPath(QString path);

// The program's folder with a trailing separator, from which every local
// path is formed: `given` (a folder named by the caller) when there is one,
// else the folder of the running executable.
[[nodiscard]] QString ProgramFolder(const std::optional<QString> &given);
