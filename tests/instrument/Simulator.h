#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The instrument simulator (sim/vx900sim under Debian's python) on free
// loopback ports, with its drive in a temporary folder and its transcript
// in a log. Stopped when destroyed. Every wait is bounded.
class Simulator
{
public:
    explicit Simulator(const QStringList &faults = {});
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    [[nodiscard]] bool isReady() const { return cmdPort != 0; }
    [[nodiscard]] QString startError() const { return error; }

    quint16 cmdPort = 0;
    quint16 ftpPort = 0;

    // A file or folder of the drive, by its instrument path ("/F0:/SYSTEM").
    [[nodiscard]] QString local(const QString &instrumentPath) const;

    // The log's records of one channel ("cmd", "ftp"), in order.
    [[nodiscard]] QList<QJsonObject> transcript(const QString &chan) const;
    // The texts of one channel's records in one direction ("in", "out", "event").
    [[nodiscard]] QStringList lines(const QString &chan, const QString &dir) const;

    // Stops the simulator (its log is complete afterwards).
    void stop();

private:
    QTemporaryDir folder;
    QProcess process;
    QString drive;
    QString logPath;
    QString error;
};
