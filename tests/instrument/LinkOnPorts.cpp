#include "LinkOnPorts.h"

std::unique_ptr<TfrmVX900> linkOnPorts(quint16 commandPort, quint16 ftpPort)
{
    qputenv("VX900_CMD_PORT", QByteArray::number(commandPort));
    qputenv("VX900_FTP_PORT", QByteArray::number(ftpPort));
    auto link = std::make_unique<TfrmVX900>(nullptr);
    qunsetenv("VX900_CMD_PORT");
    qunsetenv("VX900_FTP_PORT");
    return link;
}
