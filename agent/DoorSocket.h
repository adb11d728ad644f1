#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>



// The local socket through which one program at a time drives a door the agent holds. Its
// file is reachable only by the group that may open the reader's tty (0660, group dialout).
class TDoorSocket : public QObject
{
public:
    // Listens at Path, replacing a stale socket file; raises Exception when it cannot.
    TDoorSocket(const QString& Path, QObject* Owner = nullptr);
    ~TDoorSocket() override;

    const QString& Path() const { return FPath; }
    bool HasClient() const { return FClient; }
    bool Relaying() const { return FClient && FAccepted; }

    // A program has connected and waits for the door: the owner calls Accept or Refuse.
    std::function<void()> OnClientArrived;
    // The relayed program has gone.
    std::function<void()> OnClientLeft;
    // Bytes the relayed program sends to the reader.
    std::function<void(const QByteArray&)> OnClientBytes;

    void Accept();
    void Refuse(const QString& Why);
    // The reader's bytes to the relayed program.
    void Send(const uint8_t* Bytes, int Count);
    // The reader is gone: so is the program's line.
    void DropClient();

private:
    void NewConnection();
    void ClientGone();

    QString FPath;
    QLocalServer FServer;
    QPointer<QLocalSocket> FClient;
    bool FAccepted = false;
};
