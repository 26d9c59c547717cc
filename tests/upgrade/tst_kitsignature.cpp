// Signed kits: the list and signature readers against hostile bytes, and the
// pre-flight check of a kit against a SHA256.sig made by the real
// signify-openbsd.
#include "support/RunFixture.h"
#include "support/SignifyTool.h"

#include "upgrade/signature/ChecksumList.h"
#include "upgrade/signature/KitChecksums.h"
#include "upgrade/kit/KitPreflight.h"
#include "upgrade/signature/KitSignature.h"
#include "upgrade/signature/SignifyFile.h"

#include <QFile>
#include <QtTest>

#include <functional>

using namespace upgrade;

namespace {

const QByteArray Digest = QByteArray(64, 'a');

QByteArray line(const QByteArray &path)
{
    return "SHA256 (" + path + ") = " + Digest + "\n";
}

// A kit with a module whose SIGNAL folder is ticked, system files and the
// catalogue.
void writeKit(ProgramFolder &kit)
{
    kit.writeIni({{3, QStringLiteral("KRN3"), 1}});
    kit.write(QStringLiteral("target/KRN3/krn3.bin"), sampleBytes(7000, 1));
    kit.write(QStringLiteral("target/KRN3/SIGNAL/s1.wfm"), sampleBytes(3000, 2));
    kit.write(QStringLiteral("target/KRN3/.hidden"), sampleBytes(10, 3));
    kit.write(QStringLiteral("MainFrame/vx900.bin"), sampleBytes(12000, 4));
}

SignatureCheck check(const ProgramFolder &kit, const SignaturePolicy &policy)
{
    ModuleList modules;
    modules.push_back(std::make_unique<ModuleEntry>(ModuleEntry{3, QStringLiteral("KRN3"), true}));
    return CheckKitSignature(CheckKit(kit.path(), modules), policy);
}

} // namespace

class TestKitSignature : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(keys.isValid());
        QVERIFY2(signify::generate(keys.filePath("trusted")).isEmpty(), "key");
        QVERIFY2(signify::generate(keys.filePath("other")).isEmpty(), "key");
    }

    void listLines()
    {
        const struct
        {
            QByteArray text;
            int entries;
            QString problem; // of the first bad line
        } cases[] = {
            {line("target/KRN3/a.bin") + line("vxUpgrade.ini"), 2, {}},
            {"SHA256 (MainFrame/a ) = b) = " + Digest.toUpper() + "\n", 1, {}}, // ") = " inside the name
            {line("../etc/passwd"), 0, "climbs out"},
            {line("target/../../x"), 0, "climbs out"},
            {line("/etc/passwd"), 0, "absolute path"},
            {line("target/a\x01\x62"), 0, "control character"},
            {line("target/a\r"), 0, "control character"},
            {"SHA256 (target/a) = " + Digest + "\r\n" + line("target/b").chopped(1) + "\r", 2, {}}, // as signify takes it
            {"SHA256 (target/a) = " + Digest + "\r\r\n", 0, "not \"SHA256"},
            {line("target//a"), 0, "empty or"},
            {"SHA256 (target/a) = abc\n", 0, "not \"SHA256"},
            {"SHA256 (target/a) = " + QByteArray(64, 'g') + "\n", 0, "not 64 hexadecimal"},
            {"MD5 (target/a) = " + Digest + "\n", 0, "not \"SHA256"},
            {line("target/\xff"), 0, "not UTF-8"},
            {line("target/a") + line("target/a"), 1, "listed twice"},
        };
        for (const auto &c : cases) {
            const ChecksumList list = ParseChecksumList(c.text);
            QVERIFY2(list.entries.size() == c.entries, c.text.constData());
            QCOMPARE(list.problems.isEmpty(), c.problem.isEmpty());
            if (!c.problem.isEmpty())
                QVERIFY2(list.problems.first().reason.contains(c.problem), qPrintable(list.problems.first().reason));
        }
        QCOMPARE(ParseChecksumList(line("a")).entries.first().sha256, QByteArray::fromHex(Digest));
        QByteArray many;
        for (int i = 0; i <= MaxChecksumListLines; ++i)
            many += "\n";
        QVERIFY(ParseChecksumList(many).tooLarge);
    }

    void signifyFiles()
    {
        QFile pub(keys.filePath("trusted.pub"));
        QVERIFY(pub.open(QIODevice::ReadOnly));
        const QByteArray key = pub.readAll();
        QVERIFY(ParseSignifyPublicKey(key).value);
        const QByteArray keyLine = key.mid(key.indexOf('\n') + 1);
        const QByteArray bad[] = {
            {},
            "untrusted comment: x\n",
            "untrusted comment: x\n" + keyLine.left(20) + "\n",
            "untrusted comment: x\n" + keyLine + "more\n",
            "untrusted comment: " + QByteArray(2000, 'c') + "\n" + keyLine,
            "comment: x\n" + keyLine,
            "untrusted comment: x\n" + QByteArray(keyLine).replace(0, 2, "AA"), // not "Ed"
            "untrusted comment: x\n" + QByteArray(keyLine).replace(5, 1, "*"),
        };
        for (const QByteArray &bytes : bad) {
            const auto parsed = ParseSignifyPublicKey(bytes);
            QVERIFY2(!parsed.value && !parsed.error.isEmpty(), bytes.constData());
            QVERIFY(!ParseSignifyEmbedded(bytes).value);
        }
    }

    // Each case signs the kit's list with the real signify-openbsd, then
    // spoils the kit or the signature, and checks it as pre-flight does.
    void kitAgainstSignature()
    {
        using Spoil = std::function<void(ProgramFolder &)>;
        const auto rewriteSig = [](ProgramFolder &kit, const std::function<QByteArray(QByteArray)> &change) {
            QFile sig(kit.path() + "SHA256.sig");
            QVERIFY(sig.open(QIODevice::ReadOnly));
            const QByteArray bytes = change(sig.readAll());
            sig.close();
            kit.write("SHA256.sig", bytes);
        };
        const QString keysDir = keys.path();
        const auto signList = [keysDir](ProgramFolder &kit, const QByteArray &list) {
            kit.write("SHA256", list);
            QVERIFY(signify::signEmbedded(keysDir + "/trusted.sec", kit.path() + "SHA256", kit.path() + "SHA256.sig")
                        .isEmpty());
        };
        const struct
        {
            const char *name;
            bool required;
            QString signer; // key that signs: "trusted", "other", or none
            Spoil spoil;
            SignatureVerdict verdict;
            QString line;
        } cases[] = {
            {"valid", true, "trusted", {}, SignatureVerdict::Accepted, "Kit signed by key"},
            {"valid, no policy", false, "trusted", {}, SignatureVerdict::Accepted, "untrusted comment: verify with trusted.pub"},
            {"changed after signing", true, "trusted",
             [](ProgramFolder &k) { k.write("target/KRN3/SIGNAL/s1.wfm", "changed"); }, SignatureVerdict::Refused,
             "File differs from its signed digest: "},
            {"changed, no policy", false, "trusted", [](ProgramFolder &k) { k.write("vxUpgrade.ini", "\n"); },
             SignatureVerdict::Refused, "vxUpgrade.ini"},
            {"added, not listed", true, "trusted", [](ProgramFolder &k) { k.write("MainFrame/new.bin", "x"); },
             SignatureVerdict::Refused, "File not listed in SHA256.sig: "},
            {"listed, missing", true, "trusted",
             [](ProgramFolder &k) { QFile::remove(k.path() + "MainFrame/vx900.bin"); }, SignatureVerdict::Refused,
             "Listed in SHA256.sig but missing: "},
            {"untrusted key", true, "other", {}, SignatureVerdict::Refused, "no trusted key has the number"},
            {"untrusted key, no policy", false, "other", {}, SignatureVerdict::Unchecked, "the run goes on without it"},
            {"truncated", true, "trusted",
             [&](ProgramFolder &k) { rewriteSig(k, [](QByteArray b) { return b.left(60); }); },
             SignatureVerdict::Refused, "not a signify signature"},
            {"garbled", true, "trusted",
             [&](ProgramFolder &k) {
                 rewriteSig(k, [](QByteArray b) {
                     const qsizetype at = b.indexOf('\n') + 40; // inside the signature bytes
                     b[at] = b[at] == 'A' ? 'B' : 'A';
                     return b;
                 });
             },
             SignatureVerdict::Refused, "Signature not valid under trusted key"},
            {"list changed, no policy", false, "trusted",
             [&](ProgramFolder &k) { rewriteSig(k, [](QByteArray b) { return b + line("MainFrame/x"); }); },
             SignatureVerdict::Refused, "Signature not valid under trusted key"},
            {"bad list lines", true, "trusted",
             [&](ProgramFolder &k) {
                 QFile list(k.path() + "SHA256");
                 QVERIFY(list.open(QIODevice::ReadOnly));
                 signList(k, list.readAll() + line("../x") + line("/etc/passwd") + line("MainFrame/\x1b"));
             },
             SignatureVerdict::Refused, "SHA256.sig (control character in the path)"},
            {"enormous", true, "trusted", [](ProgramFolder &k) { k.write("SHA256.sig", QByteArray(17 << 20, 'x')); },
             SignatureVerdict::Refused, "larger than 16 MiB"},
            {"unsigned, policy", true, {}, {}, SignatureVerdict::Refused, "Kit is not signed (no SHA256.sig)"},
            {"unsigned, no policy", false, {}, {}, SignatureVerdict::Unsigned, {}},
        };
        for (const auto &c : cases) {
            ProgramFolder kit;
            writeKit(kit);
            if (!c.signer.isEmpty()) {
                int written = 0;
                QVERIFY(WriteKitChecksums(kit.path(), written).isEmpty());
                QCOMPARE(written, 4); // the hidden file left out
                QVERIFY(signify::signEmbedded(keys.filePath(c.signer + ".sec"), kit.path() + "SHA256",
                                              kit.path() + "SHA256.sig")
                            .isEmpty());
            }
            if (c.spoil)
                c.spoil(kit);
            SignaturePolicy policy;
            policy.required = c.required;
            policy.keyFolders = {keys.path() + "/none", kit.path() + "absent"};
            policy.keyFiles = {keys.filePath("trusted.pub")};
            const SignatureCheck result = check(kit, policy);
            QVERIFY2(result.verdict == c.verdict, c.name);
            QVERIFY2(c.line.isEmpty() ? result.lines.isEmpty() : result.lines.join('\n').contains(c.line),
                     qPrintable(QStringLiteral("%1: %2").arg(c.name, result.lines.join('\n'))));
            if (c.verdict == SignatureVerdict::Accepted)
                QCOMPARE(result.keyNumber.size(), 16);
        }
    }

    // The list the CLI writes is the one sha256sum --tag writes, and
    // signify-openbsd -C checks the kit against the signed copy.
    void listInteroperates()
    {
        ProgramFolder kit;
        writeKit(kit);
        int written = 0;
        QVERIFY(WriteKitChecksums(kit.path(), written).isEmpty());
        QVERIFY(signify::signEmbedded(keys.filePath("trusted.sec"), kit.path() + "SHA256", kit.path() + "SHA256.sig")
                    .isEmpty());
        const QString checked = signify::run({"-C", "-p", keys.filePath("trusted.pub"), "-x", "SHA256.sig"}, kit.path());
        QVERIFY2(checked.isEmpty(), qPrintable(checked));
        QProcess sha;
        sha.setWorkingDirectory(kit.path());
        sha.start("sha256sum", {"--tag", "MainFrame/vx900.bin", "target/KRN3/SIGNAL/s1.wfm", "target/KRN3/krn3.bin",
                                "vxUpgrade.ini"});
        QVERIFY(sha.waitForFinished(60000));
        QFile list(kit.path() + "SHA256");
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), sha.readAllStandardOutput());
    }

private:
    QTemporaryDir keys;
};

QTEST_GUILESS_MAIN(TestKitSignature)
#include "tst_kitsignature.moc"
