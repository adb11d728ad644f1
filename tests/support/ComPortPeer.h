#pragma once

#include "support/RogueServer.h"

#include <map>
#include <memory>

// What a com-port server (RFC 2217) answers, for RogueServer: each line request with the value
// asked for, or with Values[request code] where the test wants the server to set another.
inline RogueServer::Answer ComPortPeer(std::map<uint8_t, std::string> Values = {})
{
    const std::string Start = "\xFF\xFA\x2C", End = "\xFF\xF0";
    auto Pending = std::make_shared<std::string>();
    return [=](const std::string& Piece) {
        *Pending += Piece;
        std::string Out;
        for (size_t At, Stop; (At = Pending->find(Start)) != std::string::npos &&
                              (Stop = Pending->find(End, At)) != std::string::npos;
             Pending->erase(0, Stop + End.size())) {
            const uint8_t Code = uint8_t((*Pending)[At + 3]);
            const auto Given = Values.find(Code);
            Out += Start + char(Code + 100) +
                   (Given != Values.end() ? Given->second : Pending->substr(At + 4, Stop - At - 4)) + End;
        }
        return Out;
    };
}

// Binary mode both ways and the com-port option agreed, as a server says it first.
inline const std::string ComPortAgreed{"\xFF\xFD\x00\xFF\xFB\x00\xFF\xFD\x2C", 9};
