#include "agent/DoorSocket.h"

#include "common/Errors.h"
#include "reader/AgentHello.h"

#include <QFile>
#include <QLocalSocket>

#include <grp.h>
#include <unistd.h>

namespace {

// Whoever may open the reader's tty may drive it here too; without that group (a user's own
// agent) the socket stays its owner's.
void GiveToDialout(const QString& Path)
{
    if (const group* Dialout = ::getgrnam("dialout"))
        [[maybe_unused]] const int Ignored = ::chown(QFile::encodeName(Path).constData(), uid_t(-1), Dialout->gr_gid);
}

} // namespace

TDoorSocket::TDoorSocket(const QString& Path, QObject* Owner) : QObject(Owner), FPath(Path)
{
    FServer.setSocketOptions(QLocalServer::UserAccessOption | QLocalServer::GroupAccessOption);
    QLocalServer::removeServer(Path);
    if (!FServer.listen(Path))
        throw Exception(QStringLiteral("Cannot offer the door at %1: %2").arg(Path, FServer.errorString()).toStdString());
    GiveToDialout(Path);
    connect(&FServer, &QLocalServer::newConnection, this, [this] { NewConnection(); });
}

TDoorSocket::~TDoorSocket() { Close(); }

void TDoorSocket::Close()
{
    OnClientLeft = nullptr;
    if (FClient)
        FClient->abort();
    FClient = nullptr;
    FAccepted = false;
    if (!FServer.isListening())
        return;
    FServer.close();
    QLocalServer::removeServer(FPath);
}

void TDoorSocket::NewConnection()
{
    while (QLocalSocket* Next = FServer.nextPendingConnection()) {
        Next->setParent(this);
        if (FClient) {
            Next->write(agenthello::Busy);
            Next->write("the door is in use by another program\n");
            Next->disconnectFromServer();
            connect(Next, &QLocalSocket::disconnected, Next, &QObject::deleteLater);
            continue;
        }
        FClient = Next;
        FAccepted = false;
        connect(Next, &QLocalSocket::disconnected, this, [this, Next] {
            if (Next == FClient)
                ClientGone();
            Next->deleteLater();
        });
        connect(Next, &QLocalSocket::readyRead, this, [this, Next] {
            if (Next == FClient && FAccepted && OnClientBytes)
                OnClientBytes(Next->readAll());
        });
        if (OnClientArrived)
            OnClientArrived();
    }
}

void TDoorSocket::Accept()
{
    if (!FClient || FAccepted)
        return;
    FAccepted = true;
    FClient->write(agenthello::Ready);
    // What it sent while it waited goes now, in order.
    if (FClient->bytesAvailable() > 0 && OnClientBytes)
        OnClientBytes(FClient->readAll());
}

void TDoorSocket::Refuse(const QString& Why)
{
    if (!FClient)
        return;
    QLocalSocket* Client = FClient;
    FClient = nullptr;
    Client->write(agenthello::Busy);
    Client->write(Why.toUtf8().replace('\n', ' ') + '\n');
    Client->disconnectFromServer();
}

bool TDoorSocket::Send(const uint8_t* Bytes, int Count)
{
    if (!Relaying())
        return true;
    FClient->write(reinterpret_cast<const char*>(Bytes), Count);
    return FClient->bytesToWrite() <= Backlog;
}

void TDoorSocket::DropClient()
{
    if (!FClient)
        return;
    QLocalSocket* Client = FClient;
    FClient = nullptr;
    FAccepted = false;
    Client->disconnectFromServer();
}

void TDoorSocket::ClientGone()
{
    FClient = nullptr;
    const bool Was = FAccepted;
    FAccepted = false;
    if (Was && OnClientLeft)
        OnClientLeft();
}
