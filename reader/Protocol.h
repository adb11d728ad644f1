#pragma once

#include <cstdint>

// What the program and the reader agree on over the line. Includes nothing of ours, so every
// folder that speaks to the reader can take its numbers from here.
namespace protocol {

// A frame: start byte, total length, code, filler, payload.
constexpr uint8_t FrameStart = 0x42;
constexpr uint8_t FrameFiller = 0xFF;
constexpr int HeaderLength = 4; // also the shortest frame
constexpr int MaxFrameLength = 32;
constexpr int CardLength = 5; // bytes of one card in a payload

enum TFrameCode : uint8_t {
    fcCardSwipe = 1,       // reader: a card was swiped (card)
    fcReadDatabase = 2,    // program: send the database
    fcTransferBegin = 3,   // reader: a database follows (master index)
    fcCard = 4,            // reader: one card of the database (card)
    fcTransferEnd = 5,     // reader: the database is complete
    fcBeginUpdate = 6,     // program: a new database follows (master index); reader: ready
    fcUpdateCard = 7,      // program: one card of the new database (card)
    fcUpdateProgress = 8,  // reader: card taken, send the next
    fcEndUpdate = 9,       // program: no more cards; reader: the new database is kept
    fcDoorConfig = 10,     // both: door mode and unlock delay
    fcReadDoorConfig = 11, // program: send the door settings
};

// The codes the program takes from the reader; any other is reported as unknown.
constexpr bool IsReaderCode(uint8_t Code)
{
    switch (Code) {
    case fcCardSwipe: case fcTransferBegin: case fcCard: case fcTransferEnd:
    case fcBeginUpdate: case fcUpdateProgress: case fcEndUpdate: case fcDoorConfig:
        return true;
    default:
        return false;
    }
}

// Lengths of the frames the program sends.
constexpr uint8_t ReadDatabaseLength = HeaderLength;
constexpr uint8_t BeginUpdateLength = HeaderLength + 1;
constexpr uint8_t UpdateCardLength = HeaderLength + CardLength;
constexpr uint8_t EndUpdateLength = HeaderLength;
constexpr uint8_t DoorConfigLength = HeaderLength + 2;
constexpr uint8_t ReadDoorConfigLength = HeaderLength;

// The reader's memory holds this many cards.
constexpr int CardLimit = 250;

// A read that lists more cards than this comes from no reader: it is given up. Far above a full
// reader, low enough that a peer sending cards without end costs little memory and time.
constexpr int ReadCardBound = 4 * CardLimit;

// What a full reader needs to send its database at 19200 bit/s (10 bits a byte): frame 3, a
// frame 4 per card, frame 5. A read still running four times that long past its last allowed
// silence is given up, however busy the line.
constexpr int FullReadBytes = (HeaderLength + 1) + CardLimit * (HeaderLength + CardLength) + HeaderLength;
constexpr int FullReadMs = FullReadBytes * 10 * 1000 / 19200;
constexpr int ReadOverrunMs = 4 * FullReadMs;

// The unlock delay in seconds travels in one byte; 0 is no delay the reader can use.
constexpr int MinDoorDelay = 1;
constexpr int MaxDoorDelay = 255;

} // namespace protocol
