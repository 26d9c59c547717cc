#include "version/ProgramVersion.h"

#include "version/VersionInfo.h" // generated

namespace version {

std::string versionLine(std::string_view program)
{
    std::string line(program);
    line += ' ';
    line += VX_VERSION_TEXT;
    line += '\n';
    return line;
}

std::string_view projectVersion()
{
    return VX_PROJECT_VERSION;
}

} // namespace version
