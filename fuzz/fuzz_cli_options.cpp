// vxupgrade-cli's argument parser: the input is the argument list, the
// arguments separated by NUL bytes.
#include "FuzzInput.h"

#include "cli/CliOptions.h"
#include "upgrade/common/ModuleCatalogue.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QStringList arguments;
    for (const QByteArray &argument : fuzzBytes(data, size).split('\0'))
        arguments << QString::fromUtf8(argument);
    const cli::ParsedArguments parsed = cli::parseArguments(arguments);
    if (!parsed.ok())
        return 0;
    const cli::CliOptions &options = parsed.options;
    static const QRegularExpression address(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){3}$"));
    FUZZ_CHECK(options.help || address.match(options.address).hasMatch());
    for (const QString &module : options.signalModules) {
        FUZZ_CHECK(upgrade::ModuleCatalogue::BoxNames().contains(module));
        FUZZ_CHECK(options.signalModules.count(module) == 1);
    }
    FUZZ_CHECK(!options.programDir || !options.programDir->isEmpty());
    return 0;
}
