#include "support/MosquittoBroker.h"

#include "support/Ser2netServer.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QStandardPaths>
#include <QThread>

QString MosquittoBroker::Program()
{
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {"/usr/sbin", "/usr/bin", "/usr/local/sbin"});
}

bool MosquittoBroker::HaveOpenssl() { return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty(); }

bool MosquittoBroker::Run(const QString& Program, const QStringList& Args)
{
    QProcess P;
    P.setWorkingDirectory(FDir.path());
    P.start(Program, Args);
    return P.waitForFinished(30000) && P.exitCode() == 0;
}

MosquittoBroker::MosquittoBroker(const MosquittoOptions& Given)
{
    FPort = Ser2netServer::FreePort();
    // As root it would become the mosquitto user, who may not read this folder.
    QByteArray Config = QStringLiteral("user root\nlistener %1 127.0.0.1\n").arg(FPort).toUtf8();
    if (!Given.User.isEmpty()) {
        FReady = FReady && Run("mosquitto_passwd", {"-c", "-b", "passwd", Given.User, Given.Password});
        Config += "allow_anonymous false\npassword_file " + FDir.filePath("passwd").toUtf8() + "\n";
    } else {
        Config += "allow_anonymous true\n";
    }
    if (Given.Tls) {
        const QStringList Key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        QFile Ext(FDir.filePath("san.ext"));
        FReady = FReady && Ext.open(QIODevice::WriteOnly) && Ext.write("subjectAltName=IP:127.0.0.1\n") > 0;
        Ext.close();
        FReady = FReady && Run("openssl", QStringList{"req", "-x509"} + Key + QStringList{"-keyout", "ca.key", "-out", "ca.crt", "-days", "2", "-subj", "/CN=Test CA"}) &&
                 Run("openssl", QStringList{"req", "-x509"} + Key + QStringList{"-keyout", "other.key", "-out", "other.crt", "-days", "2", "-subj", "/CN=Other CA"}) &&
                 Run("openssl", QStringList{"req"} + Key + QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"}) &&
                 Run("openssl", {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                                 "-out", "server.crt", "-days", "2", "-extfile", "san.ext"});
        Config += "certfile " + FDir.filePath("server.crt").toUtf8() + "\nkeyfile " + FDir.filePath("server.key").toUtf8() + "\n";
    }
    if (Given.Persistent)
        Config += "persistence true\nmax_queued_messages 0\npersistence_location " + FDir.path().toUtf8() + "/\n";
    QFile File(FDir.filePath("mosquitto.conf"));
    FReady = FReady && File.open(QIODevice::WriteOnly) && File.write(Config) > 0;
    File.close();
    FProcess.setProcessChannelMode(QProcess::MergedChannels);
}

MosquittoBroker::~MosquittoBroker() { Stop(); }

bool MosquittoBroker::Start()
{
    if (!FReady || FProcess.state() != QProcess::NotRunning)
        return false;
    FProcess.start(Program(), {"-c", FDir.filePath("mosquitto.conf")});
    if (!FProcess.waitForStarted(5000))
        return false;
    for (int Try = 0; Try < 500 && FProcess.state() == QProcess::Running; ++Try) {
        if (ListensOnLoopback(FPort))
            return true;
        QThread::msleep(10);
    }
    return false;
}

void MosquittoBroker::Stop()
{
    if (FProcess.state() == QProcess::NotRunning)
        return;
    FProcess.terminate();
    if (!FProcess.waitForFinished(5000)) {
        FProcess.kill();
        FProcess.waitForFinished(5000);
    }
}

QString MosquittoBroker::Output() { return QString::fromLocal8Bit(FProcess.readAll()); }
