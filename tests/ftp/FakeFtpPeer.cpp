#include "FakeFtpPeer.h"

#include "platform/Sockets.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

FakeFtpPeer::FakeFtpPeer(QObject *parent)
    : QObject(parent)
    , server(new QTcpServer(this))
    , passiveServer(new QTcpServer(this))
{
    if (!server->listen(QHostAddress::LocalHost, 0))
        qFatal("fake FTP peer cannot listen");
    connect(server, &QTcpServer::newConnection, this, &FakeFtpPeer::acceptControl);
    connect(passiveServer, &QTcpServer::newConnection, this, &FakeFtpPeer::acceptPassiveData);
}

FakeFtpPeer::~FakeFtpPeer() = default;

quint16 FakeFtpPeer::port() const
{
    return server->serverPort();
}

void FakeFtpPeer::acceptControl()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        ++controlConnections;
        socket->setParent(this);
        control = socket;
        pending.clear();
        connect(socket, &QTcpSocket::readyRead, this, &FakeFtpPeer::controlReadable);
        connect(socket, &QTcpSocket::disconnected, this, [this] { clientClosedControl = true; });
        if (!greeting.isEmpty())
            socket->write(greeting);
        if (!dribble.isEmpty()) {
            auto *timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [this, socket, timer] {
                socket->write(dribble.takeFirst());
                if (dribble.isEmpty())
                    timer->stop();
            });
            timer->start(dribbleIntervalMs);
        }
    }
}

void FakeFtpPeer::controlReadable()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    const QByteArray bytes = socket->readAll();
    controlBytes += bytes;
    pending += bytes;
    qsizetype lf;
    while ((lf = pending.indexOf('\n')) >= 0) {
        QByteArray line = pending.left(lf);
        pending.remove(0, lf + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        commands.append(line);
        handleCommand(line);
    }
}

void FakeFtpPeer::handleCommand(const QByteArray &line)
{
    if (line.startsWith("PORT ")) {
        const QList<QByteArray> f = line.mid(5).split(',');
        if (f.size() == 6) {
            portHost = f[0] + '.' + f[1] + '.' + f[2] + '.' + f[3];
            portPort = quint16(f[4].toInt() * 256 + f[5].toInt());
        }
    }
    if (script.isEmpty()) {
        play({"502 no more script\r\n", Action::Reply});
        return;
    }
    Step step = script.takeFirst();
    if (line.startsWith("PASV") && step.text.contains("%PASV%")) {
        if (!passiveServer->isListening())
            passiveServer->listen(QHostAddress::LocalHost, 0);
        const quint16 p = passiveServer->serverPort();
        step.text.replace("%PASV%", "127,0,0,1," + QByteArray::number(p / 256) + ',' + QByteArray::number(p % 256));
    }
    play(step);
    if (line.startsWith("STOR ") && step.text.startsWith('1')) {
        storWaitingForData = true;
        if (portPort != 0 && !passiveServer->isListening())
            startActiveData();
    }
}

void FakeFtpPeer::play(const Step &step)
{
    if (!control)
        return;
    switch (step.action) {
    case Action::Reply:
        control->write(step.text);
        break;
    case Action::ReplyAndClose:
        control->write(step.text);
        control->disconnectFromHost();
        break;
    case Action::Silence:
        break;
    case Action::Reset:
        (void)platform::sock::SetLinger(int(control->socketDescriptor()), true, 0);
        control->abort();
        break;
    }
}

void FakeFtpPeer::startActiveData()
{
    if (!strangerFrom.isEmpty())
        return connectStranger();
    if (dataNeverConnects)
        return;
    auto *socket = new QTcpSocket(this);
    attachData(socket);
    socket->connectToHost(QHostAddress(QString::fromLatin1(portHost)), portPort);
}

// Another host on the network reaches the announced port before the server.
void FakeFtpPeer::connectStranger()
{
    auto *stranger = new QTcpSocket(this);
    connect(stranger, &QTcpSocket::readyRead, this, [this, stranger] { strangerBytes += stranger->readAll(); });
    connect(stranger, &QTcpSocket::disconnected, this, [this] { ++strangersTurnedAway; });
    connect(stranger, &QTcpSocket::connected, this, [this] {
        strangerFrom.clear();
        startActiveData();
    });
    if (!stranger->bind(QHostAddress(strangerFrom), 0))
        qFatal("fake FTP peer cannot bind to %s", qPrintable(strangerFrom));
    stranger->connectToHost(QHostAddress(QString::fromLatin1(portHost)), portPort);
}

void FakeFtpPeer::acceptPassiveData()
{
    while (QTcpSocket *socket = passiveServer->nextPendingConnection()) {
        socket->setParent(this);
        attachData(socket);
        ++dataConnections;
    }
}

void FakeFtpPeer::attachData(QTcpSocket *socket)
{
    data = socket;
    connect(socket, &QTcpSocket::connected, this, [this, socket] {
        ++dataConnections;
        if (dataStopsReading) {
            // A small fixed window, and nothing taken from it.
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
            socket->setReadBufferSize(1);
        }
    });
    connect(socket, &QTcpSocket::readyRead, this, &FakeFtpPeer::dataReadable);
    connect(socket, &QTcpSocket::disconnected, this, &FakeFtpPeer::dataFinished);
}

void FakeFtpPeer::dataReadable()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket)
        return;
    if (dataStopsReading)
        return;
    dataBytes += socket->readAll();
    if (resetDataAfter >= 0 && dataBytes.size() >= resetDataAfter) {
        resetDataAfter = -1;
        (void)platform::sock::SetLinger(int(socket->socketDescriptor()), true, 0);
        socket->abort();
        dataFinished();
    }
}

void FakeFtpPeer::dataFinished()
{
    if (data && data->isOpen())
        dataBytes += data->readAll();
    if (!storWaitingForData)
        return;
    storWaitingForData = false;
    passiveServer->close();
    if (!script.isEmpty())
        play(script.takeFirst());
}
