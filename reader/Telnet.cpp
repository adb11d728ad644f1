#include "reader/Telnet.h"

#include <initializer_list>

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
// Never echo: our own frames would come back as if the reader had sent them.
bool TheyMay(uint8_t Option) { return Option == OptBinary || Option == OptSuppressGoAhead; }

uint32_t Number(const std::string& Value)
{
    uint32_t N = 0;
    for (char C : Value)
        N = N << 8 | uint8_t(C);
    return N;
}

std::string Named(uint32_t Value, std::initializer_list<const char*> Names)
{
    return Value >= 1 && Value <= Names.size() ? Names.begin()[Value - 1] : std::to_string(Value);
}

// One line setting as the server answers it; the value is said with its unit where it was set.
struct TSetting
{
    uint8_t Code;
    const char* What;
    uint32_t Wanted;
    std::string (*Say)(uint32_t Value, bool WithUnit);
};

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

std::string Disagreement(const ComDevice::TLine& Line, const TDecoder& Decoder)
{
    static constexpr uint32_t ParityCodes[] = {1, 2, 3, 4, 5};
    const TSetting Settings[] = {
        {SetBaudRate, "speed", uint32_t(Line.Baud),
         [](uint32_t V, bool Unit) { return std::to_string(V) + (Unit ? " bit/s" : ""); }},
        {SetDataSize, "data size", uint32_t(Line.DataBits),
         [](uint32_t V, bool Unit) { return std::to_string(V) + (Unit ? " bits" : ""); }},
        {SetParity, "parity", ParityCodes[Line.Parity <= prSpace ? Line.Parity : prNone],
         [](uint32_t V, bool) { return Named(V, {"none", "odd", "even", "mark", "space"}); }},
        {SetStopSize, "stop size", Line.TwoStopBits ? 2u : 1u,
         [](uint32_t V, bool Unit) { return Named(V, {"1", "2", "1.5"}) + (Unit ? V == 1 ? " bit" : " bits" : ""); }},
    };
    for (const TSetting& S : Settings) {
        const uint32_t Set = Number(Decoder.Answer(S.Code));
        if (Set != S.Wanted)
            return "the server set the " + std::string(S.What) + " to " + S.Say(Set, true) + ", not " + S.Say(S.Wanted, false);
    }
    return {};
}

TDecoder::TDecoder()
{
    // The greeting already offered these.
    FWillSent[OptBinary] = FWillSent[OptComPort] = true;
    FDoSent[OptBinary] = true;
}

void TDecoder::Feed(const uint8_t* In, size_t Count, std::string& Data, std::string& Reply)
{
    for (size_t I = 0; I < Count && FFailure.empty(); ++I)
        Step(In[I], Data, Reply);
}

void TDecoder::Step(uint8_t B, std::string& Data, std::string& Reply)
{
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
        Note(FVerb, B);
        Negotiate(FVerb, B, Reply);
        FState = TState::Data;
        break;
    case TState::Sub:
        if (B == IAC)
            FState = TState::SubIac;
        else
            Collect(B);
        break;
    case TState::SubIac:
        if (B == SE) {
            EndSubnegotiation();
            FState = TState::Data;
        } else {
            Collect(B);
            FState = TState::Sub;
        }
        break;
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

// Without binary mode both ways the line is not 8-bit clean, and without the com-port option
// the reader's line cannot be set: either makes the connection useless.
void TDecoder::Note(uint8_t Verb, uint8_t Option)
{
    if (Option == OptBinary) {
        if (Verb == WILL)
            FBinaryIn = true;
        else if (Verb == DO)
            FBinaryOut = true;
        else
            FFailure = "the server refused binary mode";
    } else if (Option == OptComPort && (Verb == DONT || Verb == WONT)) {
        FFailure = "the server refused the com-port option";
    }
}

void TDecoder::Collect(uint8_t B)
{
    if (FSub.size() < SubnegotiationLimit)
        FSub += char(B);
    else
        FFailure = "the server sent an over-long Telnet subnegotiation";
}

void TDecoder::EndSubnegotiation()
{
    if (FSub.size() >= 2 && uint8_t(FSub[0]) == OptComPort) {
        const uint8_t Code = uint8_t(FSub[1]);
        if (Code > 100) {
            ++FAnswers[Code - 100];
            FValues[Code - 100] = FSub.substr(2);
        }
        if (Code == 100 + PurgeData)
            FDropping = false;
    }
}

} // namespace Telnet
