#include "cli/OptionReading.h"

#include "fleet/FleetRun.h"
#include "platform/Sockets.h"
#include "upgrade/common/ModuleCatalogue.h"

#include <QFileInfo>

#include <optional>

namespace cli::optionreading {

namespace {

// A count from 1 to `most`, for the option `name`.
QString readCount(const QString &name, const QString &value, int most, int &into)
{
    bool number = false;
    const int count = value.toInt(&number);
    if (!number || count < 1 || count > most)
        return QStringLiteral("%1: \"%2\" is not a whole number from 1 to %3").arg(name, value).arg(most);
    into = count;
    return {};
}

} // namespace

QString readAddress(Reading &reading, const QString &value)
{
    const std::optional<QString> address = platform::sock::CanonicalAddress(value);
    if (!address)
        return QStringLiteral("--ip: \"%1\" is not an address of four decimal groups of 0 to 255").arg(value);
    if (!reading.addressGiven)
        reading.options.address = *address;
    reading.addressGiven = true;
    reading.fleetSources << std::pair{false, value};
    return {};
}

QString readAddressFile(Reading &reading, const QString &value)
{
    reading.addressFileGiven = true;
    reading.fleetSources << std::pair{true, value};
    return {};
}

QString readJobs(Reading &reading, const QString &value)
{
    const std::optional<int> jobs = fleet::FleetRun::parseJobs(value);
    if (!jobs)
        return QStringLiteral("--jobs: \"%1\" is not a whole number from 1 to 256").arg(value);
    reading.options.jobs = *jobs;
    return {};
}

QString readSignals(Reading &reading, const QString &value)
{
    const QStringList &boxes = upgrade::ModuleCatalogue::BoxNames();
    for (const QString &module : value.split(u',')) {
        if (module.isEmpty())
            return QStringLiteral("--signals: empty module name in \"%1\"").arg(value);
        // Names compare exactly, as the window's catalogue does.
        if (!boxes.contains(module))
            return QStringLiteral("--signals: %1 has no check box (the boxes are %2)")
                .arg(module, boxes.join(QLatin1String(", ")));
        if (!reading.options.signalModules.contains(module))
            reading.options.signalModules << module;
    }
    return {};
}

QString readTrustedKey(Reading &reading, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("--trusted-key needs a file");
    reading.options.trustedKeys << value;
    return {};
}

QString readWriteChecksums(Reading &reading, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("--write-checksums needs a folder");
    reading.options.writeChecksums = value;
    return {};
}

QString readHistoryFile(Reading &reading, const QString &value)
{
    if (value.isEmpty() || QFileInfo(value).isDir())
        return QStringLiteral("--history-file needs a file name");
    reading.options.historyFile = QFileInfo(value).absoluteFilePath();
    reading.options.historyFiles << *reading.options.historyFile;
    return {};
}

QString readReport(Reading &reading, const QString &value)
{
    if (value.isEmpty() || (value != QLatin1String("-") && QFileInfo(value).isDir()))
        return QStringLiteral("--report needs a file name, or - for standard output");
    reading.options.report = value;
    return {};
}

// A day (UTC from its start) or an ISO 8601 time.
QString readSince(Reading &reading, const QString &value)
{
    // A time has its "T"; the date reader alone would take a time's date
    // and drop the rest.
    QDateTime since = value.contains(u'T') ? QDateTime::fromString(value, Qt::ISODate)
                                           : QDateTime(QDate::fromString(value, Qt::ISODate), QTime(0, 0), Qt::UTC);
    // The history's times are UTC, and so is a time given without an offset.
    if (since.isValid() && since.timeSpec() == Qt::LocalTime)
        since.setTimeSpec(Qt::UTC);
    if (!since.isValid())
        return QStringLiteral("--since: \"%1\" is not a date (YYYY-MM-DD) or an ISO 8601 time").arg(value);
    reading.options.since = since.toUTC();
    return {};
}

QString readLast(Reading &reading, const QString &value)
{
    bool number = false;
    reading.options.last = value.toInt(&number);
    if (!number || reading.options.last < 1)
        return QStringLiteral("--last: \"%1\" is not a count of runs").arg(value);
    return {};
}

QString readRebootTimeout(Reading &reading, const QString &value)
{
    bool number = false;
    const int seconds = value.toInt(&number);
    if (!number || seconds < 1 || seconds > 86400)
        return QStringLiteral("--reboot-timeout: \"%1\" is not a whole number of seconds from 1 to 86400").arg(value);
    reading.options.rebootTimeoutSeconds = seconds;
    return {};
}


QString readMaxDelete(Reading &reading, const QString &value)
{
    return readCount(QStringLiteral("--max-delete"), value, 1000000, reading.options.maxDelete);
}

QString readSessions(Reading &reading, const QString &value)
{
    if (value == QLatin1String("auto")) {
        reading.options.sessions = 0;
        return {};
    }
    return readCount(QStringLiteral("--sessions"), value, MaxFtpSessions, reading.options.sessions);
}

QString readKeepSnapshots(Reading &reading, const QString &value)
{
    return readCount(QStringLiteral("--keep-snapshots"), value, 1000, reading.options.keepSnapshots);
}

QString readRestore(Reading &reading, const QString &value)
{
    // A null value is --restore alone (the last snapshot); an empty one was
    // typed, and names no run.
    if (!value.isNull() && value.trimmed().isEmpty())
        return QStringLiteral("--restore needs a run's start or a snapshot folder, or nothing at all");
    reading.options.restore = value;
    return {};
}

QString readDir(Reading &reading, const QString &value)
{
    if (value.isEmpty())
        return QStringLiteral("--dir needs a folder");
    reading.options.programDir = value;
    return {};
}

} // namespace cli::optionreading
