#pragma once

#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// A peer on loopback that misbehaves on purpose, played on its own thread: a reader behind a
// server that lies, floods, stalls or hangs up. One client at a time; a later one replaces it.
class RogueServer
{
public:
    // Called with each piece the client sends; what it returns is sent back.
    using Answer = std::function<std::string(const std::string& Received)>;
    // Called whenever the client can take more, until it returns nothing: an endless sender.
    using Flood = std::function<std::string()>;

    explicit RogueServer(Answer Reply = {}, std::string Greeting = {});
    ~RogueServer();
    RogueServer(const RogueServer&) = delete;
    RogueServer& operator=(const RogueServer&) = delete;

    int Port() const { return FPort; }
    QString Url(const QString& Scheme = QStringLiteral("tcp")) const;

    void SetFlood(Flood Source);
    // Sends Bytes, then closes the connection in the same breath.
    void SendAndClose(const std::string& Bytes);
    std::string Received() const;
    int Accepted() const;

private:
    void Run();
    void Wake();
    bool Serve(int Client);

    int FListen = -1;
    int FWake = -1;
    int FPort = 0;
    Answer FReply;
    std::string FGreeting;

    mutable std::mutex FLock; // guards everything below
    Flood FFlood;
    std::string FFinal;
    bool FCloseNow = false;
    bool FStop = false;
    std::string FReceived;
    int FAccepted = 0;
    std::thread FThread; // last: starts once everything above exists
};
