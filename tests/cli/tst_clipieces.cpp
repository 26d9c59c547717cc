#include "cli/CliOptions.h"
#include "cli/Console.h"
#include "cli/ConsoleBoxes.h"
#include "cli/ProgressText.h"
#include "platform/MessageBox.h"

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
        QTest::newRow("value after =") << QStringList{"--ip=192.168.001.010", "--dir=/opt/vx"} << "192.168.001.010" << QStringList{} << A::AskOnTerminal << "/opt/vx" << false;
        QTest::newRow("no range check, as in the window") << QStringList{"--ip", "999.999.999.999"} << "999.999.999.999" << QStringList{} << A::AskOnTerminal << "" << false;
        QTest::newRow("modules in order, repeats dropped")
            << QStringList{"--signals", "PRZ53,KRN3", "--ip", "1.2.3.4", "--signals", "KRN3,LPS3"} << "1.2.3.4"
            << QStringList{"PRZ53", "KRN3", "LPS3"} << A::AskOnTerminal << "" << false;
        QTest::newRow("--yes") << QStringList{"--yes", "--ip", "1.2.3.4"} << "1.2.3.4" << QStringList{} << A::Yes << "" << false;
        QTest::newRow("--no") << QStringList{"--ip", "1.2.3.4", "--no"} << "1.2.3.4" << QStringList{} << A::No << "" << false;
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
        QTest::newRow("no range check in a fleet") << QStringList{"--ip", "1.2.3.4", "--ip", "999.1.1.1"} << "not a dotted";
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
