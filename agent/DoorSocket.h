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
    // The most bytes held for a client either way before it is let go: a program that sends
    // faster than the reader takes, or does not read what the reader sends.
    static constexpr qint64 Backlog = 64 * 1024;

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
    // The reader's bytes to the relayed program; false once more than Backlog wait for it.
    bool Send(const uint8_t* Bytes, int Count);
    // The reader is gone: so is the program's line (or its wait for it).
    void DropClient();
    // No program reaches the door from now on; the socket file goes.
    void Close();

private:
    void NewConnection();
    void ClientGone();

    QString FPath;
    QLocalServer FServer;
    QPointer<QLocalSocket> FClient;
    bool FAccepted = false;
};
