#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real ser2net on loopback in front of one serial device, for as long as this object lives.
class Ser2netServer
{
public:
    // The program's path; empty when it is not installed.
    static QString Program();
    // A loopback port nothing listens on at the moment.
    static int FreePort();

    // Starts ser2net with a tcp (raw) or a telnet(rfc2217) accepter and waits until it listens.
    // The device starts at Baud, so that a negotiated line shows.
    // Port 0 takes a free one; a given one starts a server again where an old one was.
    Ser2netServer(const QString& Device, bool Rfc2217, int Baud = 9600, int Port = 0);
    ~Ser2netServer();

    bool Listening() const { return FListening; }
    QString Url() const;
    int Port() const;
    QString Output(); // what ser2net said, for failure messages
    void Kill();
    // A server that stops (and starts again) reading and writing, as a hung one does.
    void Pause(bool Stopped);

private:
    QTemporaryDir FDir;
    QProcess FProcess;
    int FPort = 0;
    bool FRfc2217 = false;
    bool FListening = false;
};
