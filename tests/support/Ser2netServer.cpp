#include "support/Ser2netServer.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

QString Ser2netServer::Program()
{
    QString Found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    if (Found.isEmpty())
        Found = QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/local/sbin", "/sbin"});
    return Found;
}

int Ser2netServer::FreePort()
{
    const int S = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Size = sizeof A;
    int Port = 0;
    if (::bind(S, reinterpret_cast<sockaddr*>(&A), sizeof A) == 0 &&
        ::getsockname(S, reinterpret_cast<sockaddr*>(&A), &Size) == 0)
        Port = ntohs(A.sin_port);
    ::close(S);
    return Port;
}

Ser2netServer::Ser2netServer(const QString& Device, bool Rfc2217, int Baud, int Port) : FRfc2217(Rfc2217)
{
    FPort = Port ? Port : FreePort();
    const QString Config = FDir.filePath(QStringLiteral("ser2net.yaml"));
    QFile File(Config);
    if (!File.open(QIODevice::WriteOnly))
        return;
    // As the README advises: no batching on the line or the socket, which would hold back answers.
    File.write(QStringLiteral("connection: &reader\n"
                              "  accepter: %1tcp(nodelay),127.0.0.1,%2\n"
                              "  connector: serialdev,%3,%4n81,local\n"
                              "  options:\n"
                              "    kickolduser: true\n"
                              "    chardelay: false\n")
                   .arg(Rfc2217 ? "telnet(rfc2217)," : "")
                   .arg(FPort)
                   .arg(Device)
                   .arg(Baud)
                   .toUtf8());
    File.close();
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
    FProcess.start(Program(), {"-n", "-u", "-c", Config, "-P", FDir.filePath(QStringLiteral("pid"))});
    if (!FProcess.waitForStarted(5000))
        return;
    for (int Try = 0; Try < 500 && FProcess.state() == QProcess::Running; ++Try) {
        if ((FListening = ListensOnLoopback(FPort)))
            return;
        QThread::msleep(10);
    }
}

Ser2netServer::~Ser2netServer() { Kill(); }

int Ser2netServer::Port() const { return FPort; }

QString Ser2netServer::Url() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(FRfc2217 ? "rfc2217" : "tcp").arg(FPort);
}

QString Ser2netServer::Output()
{
    return QString::fromLocal8Bit(FProcess.readAll());
}

void Ser2netServer::Pause(bool Stopped)
{
    if (FProcess.state() == QProcess::Running)
        ::kill(pid_t(FProcess.processId()), Stopped ? SIGSTOP : SIGCONT);
}

void Ser2netServer::Kill()
{
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.kill();
    FProcess.waitForFinished(5000);
}
