#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// How a child run talks to the fleet run that started it.
//
// The fleet starts one child process per instrument: the same vxupgrade-cli
// executable, in single-instrument mode, with "--fleet-child". In that mode
// the child's standard output carries nothing but JSON lines: one compact
// JSON object per line, UTF-8, ended by "\n", written whole and flushed at
// once (a pipe would otherwise hold them back until the run ends). Each
// object has exactly one key, which names the event:
//
//   {"memo":"Copying KRN3 ..."}
//        one memo line, as the window's memo shows it.
//   {"box":{"kind":"error","caption":"vxUpgrade","text":"...","answer":"no"}}
//        a message box; kind is "information", "warning", "error" or
//        "question"; "answer" ("yes"/"no") only for a question, saying how
//        the child answered it (from --yes/--no: a child never asks).
//   {"step":{"name":"module","detail":"KRN3"}}
//        the run entered a step: "connecting", "checking" (identity, drive,
//        space), "names" (NAME files), "module" (detail: the module's name),
//        "system" (system files), "verifying". Others are shown as named.
//   {"progress":{"done":1048576,"total":157286400,"file":"/F0:/KRN3/a.bin"}}
//        bytes sent and bytes to send in all, and the file being sent; a
//        few a second at most, and one when a file ends.
//   {"file":{"path":"/F0:/KRN3/a.bin","size":4096,"outcome":"sent-verified"}}
//        a kit file's transfer ended (not a NAME file, which the record
//        does not list either), its outcome named as in the run's record:
//        "sent-verified", "sent-not-verifiable", "failed" or "not-sent".
//   {"identity":"ROHDE,VX900,..."}
//        the instrument's *IDN? reply, once read.
//   {"record":{...}}
//        last of all: the run's history record, as written to the history
//        file. The fleet reads its "outcome" ("succeeded", "failed",
//        "declined", "stopped"), "message", "identity" and "bytes".
//
// Every event is optional except the record: a child that ends without one
// (a crash, a kill, a usage error) is failed, and the fleet puts it in the
// history as "crashed" from what it had reported. The child's exit status must
// agree with its record's outcome (0 succeeded, 3 declined, 1 failed or
// stopped); when it does not, the fleet believes the worse. A line that is
// not such an object is shown to the operator as it came (nothing the child
// says is lost); an object whose key this reader does not know is skipped,
// so that a newer child can add events. Standard error is free text, shown
// as memo lines; its last line explains a child that ended without a record.
// SIGTERM stops a child as closing the window stops a run; it then still
// writes its record.

namespace fleet {

struct ChildEvent
{
    enum class Kind { Memo, Box, Step, Progress, File, Identity, Record, Text };

    Kind kind = Kind::Text;
    // Memo, Identity, Text: the line. Box: its text. Step: its detail.
    QString text;
    // Box: kind and caption. Step: name.
    QString name;
    QString caption;
    // Box: "yes"/"no" for a question. File: the file's outcome.
    QString outcome;
    // Progress: the file being sent. File: its instrument path.
    QString path;
    // Progress: done and total. File: size in total.
    qint64 done = 0;
    qint64 total = 0;
    QJsonObject record;
};

// One line (without its line break) as an event; nothing for a blank line
// or an event this reader does not know.
[[nodiscard]] std::optional<ChildEvent> parseChildLine(const QByteArray &line);

// Cuts a child's standard output into lines and events, whatever the pieces
// the pipe delivers. A line longer than the limit is cut off and reported,
// so a child that never writes a line break cannot use up the memory.
class ChildLineReader
{
public:
    static constexpr qsizetype MaxLineBytes = 64 * 1024 * 1024;

    [[nodiscard]] QList<ChildEvent> feed(const QByteArray &bytes);
    // At the child's end: the last line, when it had no line break.
    [[nodiscard]] QList<ChildEvent> finish();

private:
    QByteArray pending;
    bool skippingOverlong = false;
};

// The child's side: each returns one whole line, line break included.
namespace childline {
[[nodiscard]] QByteArray memo(const QString &text);
[[nodiscard]] QByteArray box(const QString &kind, const QString &caption, const QString &text,
                             const QString &answer = {});
[[nodiscard]] QByteArray step(const QString &name, const QString &detail = {});
[[nodiscard]] QByteArray progress(qint64 done, qint64 total, const QString &file);
[[nodiscard]] QByteArray file(const QString &path, qint64 size, const QString &outcome);
[[nodiscard]] QByteArray identity(const QString &text);
[[nodiscard]] QByteArray record(const QJsonObject &record);
} // namespace childline

} // namespace fleet
