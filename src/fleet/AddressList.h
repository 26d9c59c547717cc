#pragma once

#include <QString>
#include <QStringList>

namespace fleet {

// The instruments of a fleet run, gathered from "--ip A" arguments and
// "--ip-file FILE" files in the order given. Every address is checked as it
// comes in, and each one may appear once only: two runs writing to one
// instrument at once would interleave its NAME files and uploads.
//
// An address file holds one address a line; blank lines are skipped, and a
// "#" starts a comment that runs to the end of its line.
class AddressList
{
public:
    // Each returns the usage error, or an empty text when the addresses
    // were taken. An error ends the command line's reading, so the list is
    // left as it stood at the failing line.
    [[nodiscard]] QString addArgument(const QString &text);
    [[nodiscard]] QString addFile(const QString &path);

    // In dotted form ("127.0.0.2"), in the order given.
    [[nodiscard]] const QStringList &addresses() const { return list; }

private:
    // Where each address came from ("--ip", "lab.txt:3"), to name both
    // places when one is given twice.
    [[nodiscard]] QString add(const QString &text, const QString &origin);

    QStringList list;
    QStringList origins;
};

} // namespace fleet
