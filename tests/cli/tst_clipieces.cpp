#include "cli/CliOptions.h"
#include "cli/Console.h"
#include "cli/ConsoleBoxes.h"
#include "cli/ProgressText.h"
#include "platform/MessageBox.h"
#include "upgrade/common/RunVocabulary.h"

#include <QProcess>
#include <QtTest>

#include <cstdio>
#include <deque>

namespace {

// A stream whose bytes the test can read back.
class CapturedStream
{
public:
    CapturedStream() : file(std::tmpfile()) {}
    ~CapturedStream() { std::fclose(file); }
    CapturedStream(const CapturedStream &) = delete;
    CapturedStream &operator=(const CapturedStream &) = delete;

    std::FILE *stream() const { return file; }
    QByteArray bytes() const
    {
        std::fflush(file);
        const long end = std::ftell(file);
        QByteArray data(end, '\0');
        std::rewind(file);
        const size_t read = std::fread(data.data(), 1, size_t(end), file);
        std::fseek(file, 0, SEEK_END);
        data.truncate(qsizetype(read));
        return data;
    }

private:
    std::FILE *file;
};

constexpr int QuestionFlags = platform::MB_YESNO | platform::MB_ICONQUESTION;
const QString LowSpaceText = QStringLiteral("There is not enough space to upgrade VX900.\n\nThe signals of PRZ53/KRN3 are "
                                            "overwritten with compressed signals.\n\nClick YES to continue?");

} // namespace

Q_DECLARE_METATYPE(cli::LowSpaceAnswer)

class TestCliPieces : public QObject
{
    Q_OBJECT

private slots:
    void argumentsThatAreUsable_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("modules");
        QTest::addColumn<cli::LowSpaceAnswer>("answer");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("help");
        using A = cli::LowSpaceAnswer;
        QTest::newRow("address only") << QStringList{"--ip", "10.0.0.1"} << "10.0.0.1" << QStringList{} << A::AskOnTerminal << "" << false;
        QTest::newRow("value after =, zeros dropped") << QStringList{"--ip=192.168.001.010", "--dir=/opt/vx"} << "192.168.1.10" << QStringList{} << A::AskOnTerminal << "/opt/vx" << false;
        QTest::newRow("modules in order, repeats dropped")
            << QStringList{"--signals", "PRZ53,KRN3", "--ip", "1.2.3.4", "--signals", "KRN3,LPS3"} << "1.2.3.4"
            << QStringList{"PRZ53", "KRN3", "LPS3"} << A::AskOnTerminal << "" << false;
        QTest::newRow("--yes") << QStringList{"--yes", "--ip", "1.2.3.4"} << "1.2.3.4" << QStringList{} << A::Yes << "" << false;
        QTest::newRow("--no") << QStringList{"--ip", "1.2.3.4", "--no"} << "1.2.3.4" << QStringList{} << A::No << "" << false;
        QTest::newRow("keys add up") << QStringList{"--trusted-key", "a", "--ip", "1.2.3.4", "--trusted-key", "b"} << "1.2.3.4"
                                     << QStringList{} << A::AskOnTerminal << "" << false;
        QTest::newRow("--help needs no address") << QStringList{"--help"} << "" << QStringList{} << A::AskOnTerminal << "" << true;
    }

    void argumentsThatAreUsable()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, address);
        QFETCH(QStringList, modules);
        QFETCH(cli::LowSpaceAnswer, answer);
        QFETCH(QString, dir);
        QFETCH(bool, help);

        const cli::ParsedArguments parsed = cli::parseArguments(arguments);
        QVERIFY2(parsed.ok(), qPrintable(parsed.error));
        QCOMPARE(parsed.options.address, address);
        QCOMPARE(parsed.options.signalModules, modules);
        QCOMPARE(parsed.options.lowSpace, answer);
        QCOMPARE(parsed.options.programDir.value_or(QString()), dir);
        QCOMPARE(parsed.options.help, help);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named"); // a word the message must hold
        QTest::newRow("nothing") << QStringList{} << "--ip";
        QTest::newRow("address missing its value") << QStringList{"--ip"} << "--ip";
        QTest::newRow("three groups") << QStringList{"--ip", "10.0.0"} << "10.0.0";
        QTest::newRow("a group of four digits") << QStringList{"--ip", "1000.0.0.1"} << "1000.0.0.1";
        QTest::newRow("a host name") << QStringList{"--ip", "vx900.lab"} << "vx900.lab";
        QTest::newRow("blanks") << QStringList{"--ip", "10. 0.0.1"} << "10. 0.0.1";
        QTest::newRow("same address twice") << QStringList{"--ip", "1.2.3.4", "--ip", "1.2.3.04"} << "already given";
        QTest::newRow("a group above 255") << QStringList{"--ip", "999.999.999.999"} << "999.999.999.999";
        QTest::newRow("shorthand") << QStringList{"--ip", "127.3"} << "127.3";
        QTest::newRow("hex") << QStringList{"--ip", "1.2.3.4", "--ip", "0x7f.0.0.1"} << "0x7f.0.0.1";
        QTest::newRow("both answers") << QStringList{"--ip", "1.2.3.4", "--yes", "--no"} << "--yes";
        QTest::newRow("an answer twice") << QStringList{"--ip", "1.2.3.4", "--no", "--no"} << "--no";
        QTest::newRow("module without a box") << QStringList{"--ip", "1.2.3.4", "--signals", "ABC9"} << "ABC9";
        QTest::newRow("names compare exactly") << QStringList{"--ip", "1.2.3.4", "--signals", "krn3"} << "krn3";
        QTest::newRow("empty module name") << QStringList{"--ip", "1.2.3.4", "--signals", "KRN3,"} << "empty";
        QTest::newRow("unknown option") << QStringList{"--ip", "1.2.3.4", "--force"} << "--force";
        QTest::newRow("a stray word") << QStringList{"1.2.3.4"} << "1.2.3.4";
        QTest::newRow("value on a flag") << QStringList{"--ip", "1.2.3.4", "--yes=1"} << "--yes";
        QTest::newRow("empty folder") << QStringList{"--ip", "1.2.3.4", "--dir="} << "--dir";
        QTest::newRow("folder twice") << QStringList{"--ip", "1.2.3.4", "--dir", "a", "--dir", "b"} << "--dir";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        const cli::ParsedArguments parsed = cli::parseArguments(arguments);
        QVERIFY(!parsed.ok());
        QVERIFY2(parsed.error.contains(named), qPrintable(parsed.error));
    }

    // The program's own words for each usage error, with the exit status:
    // scripts match on these, so they are pinned exactly.
    void usageErrorTexts_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString ip = QStringLiteral("1.2.3.4");
        QTest::newRow("value missing at the end") << QStringList{"--ip"} << "--ip needs a value";
        QTest::newRow("value on a flag") << QStringList{"--ip", ip, "--yes=1"} << "--yes takes no value";
        QTest::newRow("value on an unknown option") << QStringList{"--ip", ip, "--force=1"} << "--force takes no value";
        QTest::newRow("single dash") << QStringList{"-ip", ip} << "unknown argument \"-ip\"";
        QTest::newRow("double dash alone") << QStringList{"--ip", ip, "--"} << "unknown argument \"--\"";
        QTest::newRow("a value may start with a dash") << QStringList{"--ip", "--yes"}
                                                       << "--ip: \"--yes\" is not an address of four decimal groups of 0 to 255";
        QTest::newRow("first bad argument wins") << QStringList{"--ip", ip, "--jobs", "0", "--force"}
                                                 << "--jobs: \"0\" is not a whole number from 1 to 256";
        QTest::newRow("no such box") << QStringList{"--ip", ip, "--signals", "ABC9"}
                                     << "--signals: ABC9 has no check box (the boxes are KRN3, LPS3, QMX53, SBX3, PRZ53)";
        QTest::newRow("empty box name") << QStringList{"--ip", ip, "--signals=KRN3,,"} << "--signals: empty module name in \"KRN3,,\"";
        QTest::newRow("both answers") << QStringList{"--ip", ip, "--no", "--yes"} << "give one of --yes and --no, once";
        QTest::newRow("empty key") << QStringList{"--ip", ip, "--trusted-key="} << "--trusted-key needs a file";
        QTest::newRow("empty checksum folder") << QStringList{"--write-checksums", ""} << "--write-checksums needs a folder";
        QTest::newRow("history file is a folder") << QStringList{"--history", "--history-file", "/"} << "--history-file needs a file name";
        QTest::newRow("count of runs") << QStringList{"--history", "--last", "0"} << "--last: \"0\" is not a count of runs";
        QTest::newRow("reboot timeout") << QStringList{"--ip", ip, "--await-reboot", "--reboot-timeout", "86401"}
                                        << "--reboot-timeout: \"86401\" is not a whole number of seconds from 1 to 86400";
        QTest::newRow("empty folder") << QStringList{"--dir=", "--dir", "a"} << "--dir needs a folder";
        QTest::newRow("--last alone") << QStringList{"--ip", ip, "--last", "3"} << "--last goes with --history";
        QTest::newRow("history dry run") << QStringList{"--history", "--dry-run"} << "--history and --dry-run don't go together";
        QTest::newRow("flags parse; --strict alone") << QStringList{"--json", "--require-signature", "--version", "--strict"}
                                                     << "--strict goes with --verify";
        QTest::newRow("verify dry run") << QStringList{"--ip", ip, "--verify", "--dry-run"} << "--verify and --dry-run don't go together";
        QTest::newRow("--trust-size alone") << QStringList{"--ip", ip, "--trust-size"} << "--trust-size goes with --changed-only";
        QTest::newRow("changed-only history") << QStringList{"--history", "--changed-only"} << "--history and --changed-only don't go together";
        QTest::newRow("timeout alone") << QStringList{"--ip", ip, "--reboot-timeout", "10"} << "--reboot-timeout goes with --await-reboot";
        QTest::newRow("await dry run") << QStringList{"--ip", ip, "--await-reboot", "--dry-run"}
                                       << "--dry-run and --await-reboot don't go together";
        QTest::newRow("await history") << QStringList{"--history", "--await-reboot"}
                                       << "--history and --await-reboot don't go together";
        QTest::newRow("checksums with --ip") << QStringList{"--write-checksums", "d", "--ip", ip}
                                             << "--write-checksums and --ip don't go together";
        // Any option given twice, but those that add to a list.
        QTest::newRow("folder twice") << QStringList{"--dir", "a", "--dir="} << "--dir given twice";
        QTest::newRow("answer twice") << QStringList{"--ip", ip, "--no", "--no"} << "--no given twice";
        QTest::newRow("count twice") << QStringList{"--history", "--last", "3", "--last=4"} << "--last given twice";
        // Loopback where a broken rule would let the run start.
        const QString here = QStringLiteral("127.0.0.1");
        QTest::newRow("switch twice") << QStringList{"--ip", here, "--json", "--json"} << "--json given twice";
        QTest::newRow("history file twice") << QStringList{"--history", "--history-file", "a", "--history-file", "a"}
                                            << "--history-file given twice";
        // Every option a mode does not use.
        QTest::newRow("history with a kit") << QStringList{"--history", "--dir", "d"} << "--history and --dir don't go together";
        QTest::newRow("checksums as JSON") << QStringList{"--write-checksums", "d", "--json"}
                                           << "--write-checksums and --json don't go together";
        QTest::newRow("audit with an answer") << QStringList{"--verify", "--ip", here, "--yes"} << "--verify and --yes don't go together";
        QTest::newRow("history of a file") << QStringList{"--ip-file", "f", "--history"} << "--history and --ip-file don't go together";
        QTest::newRow("--strict on a dry run") << QStringList{"--dry-run", "--strict", "--ip", ip} << "--dry-run and --strict don't go together";
        QTest::newRow("dry run of a fleet") << QStringList{"--dry-run", "--ip", here, "--ip", "127.0.0.2"} << "--dry-run takes one --ip";
        // A restore reads no kit, and its mode wins wherever --restore stands.
        QTest::newRow("restore of modules") << QStringList{"--ip", ip, "--signals", "KRN3", "--restore"}
                                            << "--restore and --signals don't go together";
        QTest::newRow("restore audited") << QStringList{"--verify", "--restore", "--ip", ip}
                                         << "--restore and --verify don't go together";
        QTest::newRow("restore dry, awaited") << QStringList{"--restore", "--dry-run", "--await-reboot", "--ip", here}
                                              << "--dry-run and --await-reboot don't go together";
        QTest::newRow("backup of a dry run") << QStringList{"--dry-run", "--backup", "--ip", ip}
                                             << "--dry-run and --backup don't go together";
        QTest::newRow("restore of no run") << QStringList{"--ip", ip, "--restore", ""}
                                           << "--restore needs a run's start or a snapshot folder, or nothing at all";
        QTest::newRow("--max-delete alone") << QStringList{"--ip", ip, "--max-delete", "3"}
                                            << "--max-delete goes with --delete-dropped";
        QTest::newRow("nothing") << QStringList{} << "--ip ADDRESS is required";
        QTest::newRow("child of a fleet") << QStringList{"--fleet-child", "--ip", ip, "--ip", "1.2.3.5"} << "--fleet-child takes one --ip";
        QTest::newRow("history of a fleet") << QStringList{"--history", "--ip", ip, "--ip", "1.2.3.5"} << "--history takes at most one --ip";
    }

    void usageErrorTexts()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QProcess process;
        process.start(QStringLiteral(VX_CLI_PROGRAM), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
                 QStringLiteral("vxupgrade-cli: %1\nTry vxupgrade-cli --help\n").arg(message));
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
    }

    // Every form the help's synopsis shows, with all its options (the first
    // of each alternative), is a command line the parser takes; and the
    // exit statuses it lists are all the program's.
    void helpTellsTheTruth()
    {
        const QString help = cli::usageText();
        const QString synopsis = help.left(help.indexOf(QLatin1String("\n\n")));
        const QStringList forms = synopsis.split(QRegularExpression(QStringLiteral("\n\\s*(?:Usage: )?vxupgrade-cli ")));
        QCOMPARE(forms.size(), 8);
        const QHash<QString, QString> values{{"ADDRESS", "1.2.3.4"}, {"NAME", "KRN3"}, {"...", "KRN3"}, {"DIR", "d"},
                                             {"FILE", "f"}, {"N", "3"}, {"S", "10"}, {"DATE", "2026-12-01"}};
        const QRegularExpression alternative(QStringLiteral("\\s*\\|\\s*--[a-z-]+( [A-Z]+)?(\\.\\.\\.)?"));
        const QRegularExpression option(QStringLiteral("(--[a-z-]+)(?: (\\.\\.\\.|[A-Z]+))?"));
        for (QString form : forms) {
            form.remove(alternative);
            QStringList arguments;
            for (const QRegularExpressionMatch &match : option.globalMatch(form)) {
                arguments << match.captured(1);
                if (match.hasCaptured(2))
                    arguments << values.value(match.captured(2));
            }
            const cli::ParsedArguments parsed = cli::parseArguments(arguments);
            QVERIFY2(parsed.ok(), qPrintable(arguments.join(u' ') + QLatin1String(": ") + parsed.error));
        }
        const QString exits = help.mid(help.indexOf(QLatin1String("Exit status:"))).simplified();
        for (int status = upgrade::ExitUpgraded; status <= upgrade::ExitNotConfirmed; ++status)
            QVERIFY2(exits.contains(QStringLiteral(" %1 ").arg(status)), qPrintable(QString::number(status)));
    }

    void progressLine_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<qint64>("copied");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing copied yet") << 0 << qint64(0) << qint64(3 << 20) << 0.5 << "  0%  0 B of 3.0 MiB  -- /s  --:-- left";
        QTest::newRow("half way") << 50 << qint64(75) * 1048576 << qint64(150) * 1048576 << 5.0 << " 50%  75.0 MiB of 150.0 MiB  15.0 MiB/s  0:05 left";
        QTest::newRow("time left rounds up") << 1 << qint64(1000) << qint64(1000000) << 1.0 << "  1%  1000 B of 976.6 KiB  1000 B/s  16:39 left";
        QTest::newRow("hours") << 0 << qint64(1024) << qint64(4) * 1024 * 1024 << 1.0 << "  0%  1.0 KiB of 4.0 MiB  1.0 KiB/s  1:08:15 left";
        QTest::newRow("done") << 100 << qint64(2048) << qint64(2048) << 2.0 << "100%  2.0 KiB of 2.0 KiB  1.0 KiB/s  0:00 left";
        QTest::newRow("past 2 GiB") << 75 << qint64(3) << qint64(5) * 1024 * 1024 * 1024 << 0.0 << " 75%  3 B of 5.0 GiB  -- /s  --:-- left";
    }

    void progressLine()
    {
        QFETCH(int, percent);
        QFETCH(qint64, copied);
        QFETCH(qint64, total);
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(cli::progressText(percent, copied, total, seconds), text);
    }

    // On a terminal the progress line is wiped before anything else is
    // printed and drawn again after it; off a terminal it never appears.
    void progressLineStaysAtTheBottomOfATerminalOnly()
    {
        for (const bool terminal : {true, false}) {
            CapturedStream out;
            CapturedStream err;
            {
                cli::Console console(out.stream(), err.stream(), terminal);
                console.setProgress(QStringLiteral("P1"));
                console.printLine(QStringLiteral("memo line"));
                console.printError(QStringLiteral("box"));
                console.setProgress(QStringLiteral("P2"));
                console.setProgress(QStringLiteral("P2")); // unchanged: not drawn again
            }
            QCOMPARE(out.bytes(), QByteArray("memo line\n"));
            if (terminal) {
                QCOMPARE(err.bytes(), QByteArray("\r\x1b[KP1"      // drawn
                                                 "\r\x1b[K"        // wiped for the memo line
                                                 "\r\x1b[KP1"      // drawn again
                                                 "\r\x1b[Kbox\n"   // wiped, the box
                                                 "\r\x1b[KP1"
                                                 "\r\x1b[KP2"
                                                 "\r\x1b[K"));     // wiped at the end
            } else {
                QCOMPARE(err.bytes(), QByteArray("box\n"));
            }
        }
    }

    void boxesArePrintedAndAnswered_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<cli::LowSpaceAnswer>("policy");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<QStringList>("typed");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("printed"); // must appear on standard error
        using A = cli::LowSpaceAnswer;
        const int error = platform::MB_ICONERROR;
        const int information = platform::MB_ICONINFORMATION;
        QTest::newRow("error box") << error << A::Yes << true << QStringList{} << int(platform::IDOK)
                                   << "[error box] VX900 Upgrade\n  Fail to download F/W !";
        QTest::newRow("information box") << information << A::No << false << QStringList{} << int(platform::IDOK)
                                         << "[information box] VX900 Upgrade";
        QTest::newRow("--yes") << QuestionFlags << A::Yes << false << QStringList{} << int(platform::IDYES)
                               << "answered Yes (--yes)";
        QTest::newRow("--no, even on a terminal") << QuestionFlags << A::No << true << QStringList{"y"} << int(platform::IDNO)
                                                  << "answered No (--no)";
        QTest::newRow("no terminal") << QuestionFlags << A::AskOnTerminal << false << QStringList{"y"} << int(platform::IDNO)
                                     << "answered No: there is no terminal";
        QTest::newRow("typed y") << QuestionFlags << A::AskOnTerminal << true << QStringList{"y"} << int(platform::IDYES)
                                 << "Yes or No? [y/n] ";
        QTest::newRow("typed YES with blanks") << QuestionFlags << A::AskOnTerminal << true << QStringList{"  YES "}
                                               << int(platform::IDYES) << "[question box] VX900 Upgrade";
        QTest::newRow("typed n after a wrong word") << QuestionFlags << A::AskOnTerminal << true << QStringList{"maybe", "n"}
                                                    << int(platform::IDNO) << "Yes or No? [y/n]   Yes or No? [y/n] ";
        QTest::newRow("input ends") << QuestionFlags << A::AskOnTerminal << true << QStringList{} << int(platform::IDNO)
                                    << "answered No: the input ended";
        QTest::newRow("never y or n") << QuestionFlags << A::AskOnTerminal << true
                                      << QStringList{"a", "b", "c", "d", "e", "y"} << int(platform::IDNO)
                                      << "answered No: no y or n after 5 tries";
    }

    void boxesArePrintedAndAnswered()
    {
        QFETCH(int, flags);
        QFETCH(cli::LowSpaceAnswer, policy);
        QFETCH(bool, terminal);
        QFETCH(QStringList, typed);
        QFETCH(int, result);
        QFETCH(QString, printed);

        CapturedStream out;
        CapturedStream err;
        cli::Console console(out.stream(), err.stream(), false);
        std::deque<QString> input(typed.begin(), typed.end());
        int reads = 0;
        cli::ConsoleBoxes boxes(console, policy, terminal, [&]() -> std::optional<QString> {
            ++reads;
            if (input.empty())
                return std::nullopt;
            QString line = input.front();
            input.pop_front();
            return line;
        });

        const QString text = flags == QuestionFlags ? LowSpaceText
                                                    : QStringLiteral("Fail to download F/W !\n\nVX900 file system might be full.");
        QCOMPARE(boxes.respond(text, QStringLiteral("VX900 Upgrade"), flags), result);

        const QString shown = QString::fromUtf8(err.bytes());
        QVERIFY2(shown.contains(printed), qPrintable(shown));
        // The whole text is there, each line indented, blank lines kept.
        QVERIFY2(shown.contains(flags == QuestionFlags ? "\n  Click YES to continue?" : "\n\n  VX900 file system might be full."),
                 qPrintable(shown));
        // Only a question asked on the terminal reads the input.
        const bool asks = flags == QuestionFlags && policy == cli::LowSpaceAnswer::AskOnTerminal && terminal;
        QCOMPARE(reads > 0, asks);
        QVERIFY(out.bytes().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliPieces)
#include "tst_clipieces.moc"
