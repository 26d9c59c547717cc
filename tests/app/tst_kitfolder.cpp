#include "app/KitFolder.h"
#include "app/StartOptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using Outcome = app::KitFolder::Outcome;

class TestKitFolder : public QObject
{
    Q_OBJECT

private slots:
    // Folders below a scratch root: "prog" is the program's folder, "kit"
    // and "empty" may be given or chosen. The chooser plays the operator
    // from a script ("" is Cancel) and records every time it is asked.
    void resolves_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QString>("argument"); // "" for none
        QTest::addColumn<QStringList>("choices");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QString>("title");

        const QStringList both{"prog/target/", "kit/target/", "empty/"};
        const QStringList noKitBeside{"prog/", "kit/target/", "empty/"};
        const QString plain = "VX900 Upgrade";
        QTest::newRow("argument, even with a kit beside") << both << "kit" << QStringList{} << Outcome::Elsewhere << "kit" << 0 << "VX900 Upgrade - kit";
        QTest::newRow("argument without target: as given") << noKitBeside << "empty/" << QStringList{} << Outcome::Elsewhere << "empty" << 0 << "VX900 Upgrade - empty";
        QTest::newRow("argument that is no folder") << both << "missing" << QStringList{} << Outcome::Error << "" << 0 << plain;
        QTest::newRow("kit beside the program") << both << "" << QStringList{} << Outcome::BesideProgram << "" << 0 << plain;
        QTest::newRow("TARGET in capitals beside") << QStringList{"prog/TARGET/"} << "" << QStringList{} << Outcome::BesideProgram << "" << 0 << plain;
        // Any one of the three kit entries alone is a kit.
        QTest::newRow("mainframe alone beside") << QStringList{"prog/mainframe/"} << "" << QStringList{} << Outcome::BesideProgram << "" << 0 << plain;
        QTest::newRow("VXUPGRADE.INI alone beside") << QStringList{"prog/VXUPGRADE.INI"} << "" << QStringList{} << Outcome::BesideProgram << "" << 0 << plain;
        QTest::newRow("a folder named vxUpgrade.ini is none") << QStringList{"prog/vxUpgrade.ini/", "kit/MainFrame/"} << "" << QStringList{"kit"} << Outcome::Elsewhere << "kit" << 1 << "VX900 Upgrade - kit";
        QTest::newRow("chosen folder with only the INI file") << QStringList{"prog/", "kit/vxUpgrade.ini"} << "" << QStringList{"kit"} << Outcome::Elsewhere << "kit" << 1 << "VX900 Upgrade - kit";
        QTest::newRow("no target beside: kit chosen") << noKitBeside << "" << QStringList{"kit"} << Outcome::Elsewhere << "kit" << 1 << "VX900 Upgrade - kit";
        QTest::newRow("a file named target is none") << QStringList{"prog/target", "kit/target/"} << "" << QStringList{"kit"} << Outcome::Elsewhere << "kit" << 1 << "VX900 Upgrade - kit";
        QTest::newRow("Cancel quits") << noKitBeside << "" << QStringList{""} << Outcome::Quit << "" << 1 << plain;
        QTest::newRow("no target chosen: asked again, kit") << noKitBeside << "" << QStringList{"empty", "kit"} << Outcome::Elsewhere << "kit" << 2 << "VX900 Upgrade - kit";
        QTest::newRow("no target chosen: asked again, Cancel") << noKitBeside << "" << QStringList{"empty", ""} << Outcome::Quit << "" << 2 << plain;
    }

    void resolves()
    {
        QFETCH(QStringList, tree);
        QFETCH(QString, argument);
        QFETCH(QStringList, choices);
        QFETCH(Outcome, outcome);
        QFETCH(QString, folder);
        QFETCH(int, asked);
        QFETCH(QString, title);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        for (const QString &item : tree) {
            if (item.endsWith(u'/')) {
                QVERIFY(QDir(root.path()).mkpath(item));
            } else {
                QVERIFY(QDir(root.path()).mkpath(QFileInfo(item).path()));
                QFile file(root.filePath(item));
                QVERIFY(file.open(QIODevice::WriteOnly));
            }
        }

        QStringList captions;
        const app::FolderChooser chooser = [&](const QString &caption, const QString &) {
            captions << caption;
            // Past the script the operator cancels, so a wrong loop ends.
            return captions.size() <= choices.size() && !choices[captions.size() - 1].isEmpty()
                ? root.filePath(choices[captions.size() - 1])
                : QString();
        };
        const std::optional<QString> given = argument.isEmpty() ? std::nullopt : std::optional(root.filePath(argument));
        const app::KitFolder kit = app::resolveKitFolder(given, root.filePath("prog") + u'/', chooser);

        QCOMPARE(kit.outcome, outcome);
        QCOMPARE(kit.folder, folder.isEmpty() ? QString() : root.filePath(folder));
        QCOMPARE(kit.error.isEmpty(), outcome != Outcome::Error);
        QCOMPARE(captions.size(), asked);
        // A second question says what was wrong with the first answer.
        if (asked == 2)
            QVERIFY2(captions[1].contains(root.filePath(choices[0])), qPrintable(captions[1]));
        QCOMPARE(app::titleWithKit("VX900 Upgrade", kit), title);
    }

    void readsTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("kitDir"); // "" for none
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::addColumn<bool>("ok");

        QTest::newRow("nothing") << QStringList{} << "" << false << false << true;
        QTest::newRow("kit folder") << QStringList{"kits/a"} << "kits/a" << false << false << true;
        QTest::newRow("--version") << QStringList{"--version"} << "" << false << true << true;
        QTest::newRow("--help after an unknown option") << QStringList{"-platform", "--help"} << "" << true << false << false;
        QTest::newRow("two folders") << QStringList{"a", "b"} << "a" << false << false << false;
        QTest::newRow("unknown option") << QStringList{"--kit"} << "" << false << false << false;
        QTest::newRow("-- before a folder named like an option") << QStringList{"--", "--help"} << "--help" << false << false << true;
        QTest::newRow("empty name") << QStringList{""} << "" << false << false << false;
    }

    void readsTheCommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, kitDir);
        QFETCH(bool, help);
        QFETCH(bool, version);
        QFETCH(bool, ok);
        const app::StartOptions options = app::parseStartOptions(arguments);
        QCOMPARE(options.kitDir.value_or(QString()), kitDir);
        QCOMPARE(options.help, help);
        QCOMPARE(options.version, version);
        QCOMPARE(options.ok(), ok);
    }
};

QTEST_GUILESS_MAIN(TestKitFolder)
#include "tst_kitfolder.moc"
