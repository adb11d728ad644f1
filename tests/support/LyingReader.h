#pragma once

#include "sim/SimReaderState.h"
#include "support/RogueServer.h"

#include <memory>
#include <mutex>

// A reader behind a network server that lies: it answers as the simulated reader does, but may
// keep fewer cards than it acknowledged, lose the first frame of every list it sends, slip an
// unknown frame into a write, or list cards without end.
struct Lies
{
    int KeepCards = -1;          // after a write, only this many cards stay (-1: all)
    bool LoseFrame3 = false;     // the read's start frame is lost on the line
    bool UnknownInWrite = false; // an unknown frame follows the write's first acknowledgement
    bool EndlessRead = false;    // a read is answered with frame 3 and then cards without end
};

// Answers for a RogueServer; the server must not outlive the state it shares.
class LyingReader
{
public:
    explicit LyingReader(Lies How);
    RogueServer& Server() { return *FServer; }

private:
    std::string Answer(const std::string& Received);

    Lies FLies;
    std::mutex FLock;
    sim::SimReaderState FState;
    sim::FrameCutter FCutter;
    uint32_t FNextCard = 0;
    std::unique_ptr<RogueServer> FServer; // last: answers from its own thread
};
