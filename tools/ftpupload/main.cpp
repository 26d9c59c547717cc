// A command-line uploader on the FTP engine, for benchmarks and checks only.
//
//   ftpupload [--passive] [--port N] [--user U] [--password P] [--timeout MS]
//             HOST REMOTE_DIR FILE...
//       logs in once, selects TYPE I and stores each FILE as REMOTE_DIR/name.
//   ftpupload --cpu-wait [--port N] [--timeout MS] HOST
//       connects to a server that never speaks and reports the CPU time the
//       wait for its greeting cost.
#include "ftp/TNMFTP.h"
#include "platform/Exception.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <sys/resource.h>

#include <cstdio>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int cpuWait(TNMFTP &ftp)
{
    QElapsedTimer clock;
    const double cpuBefore = cpuSeconds();
    clock.start();
    const FtpResult result = ftp.Connect();
    if (result.Succeeded()) {
        std::fprintf(stderr, "ftpupload: the silent server spoke\n");
        return 1;
    }
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("cpu-wait: waited %.2f s for a silent server (%s), CPU %.3f s\n", double(clock.elapsed()) / 1000.0,
                qPrintable(result.Text()), cpu);
    return 0;
}

int upload(TNMFTP &ftp, const QString &remoteDir, const QStringList &files)
{
    QElapsedTimer clock;
    clock.start();
    const auto check = [](const FtpResult &result) {
        if (!result.Succeeded())
            throw Exception(result.Text());
    };
    check(ftp.Connect());
    check(ftp.SetTransferType(TTransferType::Image));
    qint64 bytes = 0;
    const QString prefix = remoteDir.endsWith('/') ? remoteDir : remoteDir + '/';
    for (const QString &file : files) {
        check(ftp.Upload(file, prefix + QFileInfo(file).fileName()));
        bytes += ftp.BytesTotal;
    }
    check(ftp.Disconnect());
    std::printf("uploaded %lld files, %lld bytes in %.3f s\n", qlonglong(files.size()), qlonglong(bytes),
                double(clock.nsecsElapsed()) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Uploads files with the vxUpgrade FTP engine."));
    parser.addHelpOption();
    const QCommandLineOption passive(QStringLiteral("passive"), QStringLiteral("Use passive mode (PASV)."));
    const QCommandLineOption cpuWaitCheck(QStringLiteral("cpu-wait"),
                                          QStringLiteral("Report the CPU time of waiting for a silent server."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Control port."), QStringLiteral("N"),
                                  QStringLiteral("21"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("User."), QStringLiteral("U"),
                                  QStringLiteral("kirosu"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password."), QStringLiteral("P"),
                                      QStringLiteral("tovel4417"));
    const QCommandLineOption timeOut(QStringLiteral("timeout"), QStringLiteral("Time-out in ms (0: none)."),
                                     QStringLiteral("MS"), QStringLiteral("60000"));
    parser.addOptions({passive, cpuWaitCheck, port, user, password, timeOut});
    parser.addPositionalArgument(QStringLiteral("HOST"), QStringLiteral("Server address."));
    parser.addPositionalArgument(QStringLiteral("REMOTE_DIR"), QStringLiteral("Folder on the server."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Files to upload."), QStringLiteral("FILE..."));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const bool waitCheck = parser.isSet(cpuWaitCheck);
    if (args.isEmpty() || (!waitCheck && args.size() < 3))
        parser.showHelp(2);

    TNMFTP ftp(&app);
    ftp.Host = args.at(0);
    ftp.Port = parser.value(port).toInt();
    ftp.UserID = parser.value(user);
    ftp.Password = parser.value(password);
    ftp.TimeOut = parser.value(timeOut).toInt();
    ftp.Passive = parser.isSet(passive);
    try {
        return waitCheck ? cpuWait(ftp) : upload(ftp, args.at(1), args.mid(2));
    } catch (const Exception &e) {
        std::fprintf(stderr, "ftpupload: %s\n", qPrintable(e.Message.trimmed()));
        return 1;
    }
}
