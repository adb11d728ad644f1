#include "reader/Telnet.h"

namespace Telnet {

namespace {

std::string Request(uint8_t Code, std::initializer_list<uint8_t> Value)
{
    std::string Out{char(IAC), char(SB), char(OptComPort), char(Code)};
    for (uint8_t B : Value)
        Escape(&B, 1, Out);
    Out += char(IAC);
    Out += char(SE);
    return Out;
}

bool WeDo(uint8_t Option) { return Option == OptBinary || Option == OptSuppressGoAhead || Option == OptComPort; }
bool TheyMay(uint8_t Option) { return Option == OptBinary || Option == OptSuppressGoAhead || Option == OptEcho; }

} // namespace

void Escape(const uint8_t* Data, size_t Count, std::string& Out)
{
    for (size_t I = 0; I < Count; ++I) {
        Out += char(Data[I]);
        if (Data[I] == IAC)
            Out += char(IAC);
    }
}

std::string Greeting()
{
    return {char(IAC), char(WILL), char(OptBinary), char(IAC), char(DO), char(OptBinary),
            char(IAC), char(WILL), char(OptComPort)};
}

std::string LineRequests(const ComDevice::TLine& Line)
{
    const uint32_t B = uint32_t(Line.Baud);
    static constexpr uint8_t ParityCodes[] = {1, 2, 3, 4, 5}; // none, odd, even, mark, space
    std::string Out = Request(SetBaudRate, {uint8_t(B >> 24), uint8_t(B >> 16), uint8_t(B >> 8), uint8_t(B)});
    Out += Request(SetDataSize, {uint8_t(Line.DataBits)});
    Out += Request(SetParity, {ParityCodes[Line.Parity <= prSpace ? Line.Parity : prNone]});
    Out += Request(SetStopSize, {uint8_t(Line.TwoStopBits ? 2 : 1)});
    Out += Request(SetControl, {uint8_t(Line.HardwareFlow ? 3 : Line.XonXoffOut ? 2 : 1)});
    if (Line.Dtr != dtrHandshake)
        Out += Request(SetControl, {uint8_t(Line.Dtr == dtrEnable ? 8 : 9)});
    if (Line.Rts != rtsHandshake)
        Out += Request(SetControl, {uint8_t(Line.Rts != rtsDisable ? 11 : 12)});
    return Out;
}

std::string PurgeBoth() { return Request(PurgeData, {3}); }

TDecoder::TDecoder()
{
    // The greeting already offered these.
    FWillSent[OptBinary] = FWillSent[OptComPort] = true;
    FDoSent[OptBinary] = true;
}

void TDecoder::Feed(const uint8_t* In, size_t Count, std::string& Data, std::string& Reply)
{
    for (size_t I = 0; I < Count; ++I) {
        const uint8_t B = In[I];
        switch (FState) {
        case TState::Data:
            if (B == IAC)
                FState = TState::Command;
            else if (!FDropping)
                Data += char(B);
            break;
        case TState::Command:
            if (B == IAC) {
                if (!FDropping)
                    Data += char(IAC);
                FState = TState::Data;
            } else if (B == SB) {
                FSub.clear();
                FState = TState::Sub;
            } else if (B >= WILL) {
                FVerb = B;
                FState = TState::Option;
            } else {
                FState = TState::Data; // NOP, GA, AYT...: nothing for a serial line
            }
            break;
        case TState::Option:
            Negotiate(FVerb, B, Reply);
            FState = TState::Data;
            break;
        case TState::Sub:
            if (B == IAC)
                FState = TState::SubIac;
            else
                FSub += char(B);
            break;
        case TState::SubIac:
            if (B == SE) {
                EndSubnegotiation();
                FState = TState::Data;
            } else {
                FSub += char(B);
                FState = TState::Sub;
            }
            break;
        }
    }
}

// Each side says a thing once: a repeated request gets no answer, so two peers cannot loop.
void TDecoder::Negotiate(uint8_t Verb, uint8_t Option, std::string& Reply)
{
    auto Say = [&](uint8_t V) { Reply += {char(IAC), char(V), char(Option)}; };
    if (Verb == DO && !FWillSent[Option]) {
        FWillSent[Option] = true;
        Say(WeDo(Option) ? WILL : WONT);
    } else if (Verb == WILL && !FDoSent[Option]) {
        FDoSent[Option] = true;
        Say(TheyMay(Option) ? DO : DONT);
    }
}

void TDecoder::EndSubnegotiation()
{
    if (FSub.size() >= 2 && uint8_t(FSub[0]) == OptComPort) {
        const uint8_t Code = uint8_t(FSub[1]);
        if (Code > 100)
            ++FAnswers[Code - 100];
        if (Code == 100 + PurgeData)
            FDropping = false;
    }
}

} // namespace Telnet
