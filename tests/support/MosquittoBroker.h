#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

struct MosquittoOptions
{
    QString User{};           // given: anonymous clients are refused, this user has Password
    QString Password{};
    bool Tls = false;         // a throwaway CA and a server certificate for 127.0.0.1
    bool Persistent = false;  // sessions and queued messages survive a restart
};

// The real mosquitto broker on a free loopback port with a configuration of its own, from Start
// for as long as this object lives. It can be stopped and started again on the same port.
class MosquittoBroker
{
public:
    static QString Program();   // empty when mosquitto is not installed
    static bool HaveOpenssl();

    explicit MosquittoBroker(const MosquittoOptions& Given = {});
    ~MosquittoBroker();

    bool Start(); // false when it does not listen
    void Stop(); // SIGTERM: a persistent broker saves its sessions
    int Port() const { return FPort; }
    QString CaFile() const { return FDir.filePath("ca.crt"); }      // signed the broker's certificate
    QString OtherCaFile() const { return FDir.filePath("other.crt"); } // did not
    QString Output();

private:
    bool Run(const QString& Program, const QStringList& Args);

    QTemporaryDir FDir;
    QProcess FProcess;
    int FPort = 0;
    bool FReady = true;
};
