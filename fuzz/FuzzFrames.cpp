// Received bytes, cut into chunks, go two ways: into a frame codec of their own, whose state is
// checked after every step, and over a pseudo-terminal into a connected reader component. The
// component must hand out exactly the frames that the codec cuts from the same stream, in order,
// report each unknown code once, and never stop taking bytes.
//
// Input: byte 0 is the chunk size (0: the whole stream at once), the rest is the stream.

#include "fuzz/FuzzCheck.h"
#include "reader/Dorvik.h"
#include "reader/Protocol.h"
#include "sim/SimPty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <set>
#include <unistd.h>

namespace {

using Frame = std::vector<uint8_t>;

// Zeros behind the input complete any frame that it leaves open, so the last frame, a swipe,
// ends where the stream ends: once the component has handled as many frames as the codec cut,
// it has taken every byte, and the next input starts on a clean line.
constexpr size_t PadLength = TPacket::BufferSize;
const uint8_t LastFrame[] = {0x42, 9, 1, 0xFF, 0, 0, 0, 0, 0};
constexpr int StuckAfterMs = 10000;


Frame CheckedFrame(const TPacket& Packet)
{
    const uint8_t* Data = Packet.Data();
    const int Length = Data[1];
    if (Data[0] != TPacket::StartByte || Length < TPacket::MinLength || Length > TPacket::BufferSize)
        Broken("a frame that no frame can be: " + HexText(Data, TPacket::BufferSize));
    for (int I = Length; I < TPacket::BufferSize; ++I)
        if (Data[I] != 0)
            Broken("bytes behind the frame are not zero: " + HexText(Data, TPacket::BufferSize));
    return Frame(Data, Data + Length);
}

// Between frames the codec holds fewer than 4 bytes or the beginning of a frame still to come.
void CheckBetweenFrames(const TPacketParser& Parser)
{
    if (Parser.Count() > Parser.Capacity())
        Broken("the codec holds more than its capacity");
    if (Parser.Count() < TPacket::MinLength)
        return;
    const uint8_t* Held = Parser.Held();
    const int Length = Held[1];
    if (Held[0] != TPacket::StartByte || Length < TPacket::MinLength ||
        Length > TPacket::BufferSize || Length <= Parser.Count())
        Broken("the codec stopped short of a frame: " +
               HexText(Held, size_t(std::min(Parser.Count(), 40))));
}

struct Chunk
{
    const uint8_t* Bytes;
    size_t Count;
};

std::vector<Frame> CutAlone(const std::vector<Chunk>& Chunks)
{
    TPacketParser Parser;
    std::vector<Frame> Frames;
    for (const Chunk& Piece : Chunks) {
        Parser.Append(Piece.Bytes, int(Piece.Count));
        for (;;) {
            const int Before = Parser.Count();
            std::unique_ptr<TPacket> Packet = Parser.ExtractPacket();
            if (!Packet)
                break;
            Frames.push_back(CheckedFrame(*Packet));
            if (Parser.Count() > Before - int(Frames.back().size()))
                Broken("a frame came out but its bytes stayed in the codec");
        }
        CheckBetweenFrames(Parser);
    }
    return Frames;
}

// A reader component on the slave side of a pseudo-terminal; this side writes to the master.
class TLine
{
public:
    TLine() : FPty(sim::OpenPseudoTerminal())
    {
        SetExceptionReporter([this](const std::exception& E) { FReports.push_back(E.what()); });
        FReader.SetPort(QString::fromStdString(FPty.SlaveName));
        FReader.SetStallTimeout(0); // every input starts from a clean state anyway
        FReader.OnReceive = [this](QObject*, TPacket& Packet) { Received(Packet); };
        FReader.OnCardSwipe = [this](QObject*, TRfidTag& Tag) { Swiped(Tag); };
        FReader.OnSend = [this](QObject*, TPacket& Packet) { Sent(Packet); };
        FReader.OnBeginUpdate = [this](QObject*) { RequireBusy(true); };
        FReader.OnEndUpdate = [this](QObject*) { RequireBusy(false); };
        FReader.Connect();
        FTick.start(5); // wakes the event loop while the line is quiet
    }

    // Writes the chunks and pumps the event loop until the component has handled Frames frames.
    void Run(const std::vector<Chunk>& Chunks, size_t Frames)
    {
        FReader.CancelTransfer();
        FReader.Tags().Clear();
        FReader.SetMaster(0);
        FReceived.clear();
        FReports.clear();
        FSwipes = 0;

        for (const Chunk& Piece : Chunks)
            Write(Piece.Bytes, Piece.Count);

        // An unknown code ends the handling of a notification; what is left waits for the next
        // bytes. One zero byte after each report brings them.
        size_t NudgedAt = 0;
        const QDeadlineTimer Deadline(StuckAfterMs);
        while (FReceived.size() < Frames) {
            if (FReports.size() != NudgedAt) {
                NudgedAt = FReports.size();
                const uint8_t Zero = 0;
                Write(&Zero, 1);
            }
            if (Deadline.hasExpired())
                Broken("the component stopped taking bytes after " + std::to_string(FReceived.size()) +
                       " of " + std::to_string(Frames) + " frames");
            Pump();
        }
        if (!FReader.Connected())
            Broken("the component lost its line");
    }

    const std::vector<Frame>& ReceivedFrames() const { return FReceived; }
    const std::vector<std::string>& Reports() const { return FReports; }
    int Swipes() const { return FSwipes; }
    TDorvik& Reader() { return FReader; }

private:
    void Received(TPacket& Packet) { FReceived.push_back(CheckedFrame(Packet)); }

    void Swiped(const TRfidTag& Tag)
    {
        ++FSwipes;
        const Frame& Last = FReceived.back();
        for (size_t I = 0; I < Tag.Bytes.size(); ++I) {
            const uint8_t Expected = 4 + I < Last.size() ? Last[4 + I] : 0;
            if (Tag.Bytes[I] != Expected)
                Broken("the swiped card is not the frame's: " + HexText(Last));
        }
    }

    void Sent(TPacket& Packet)
    {
        const Frame Out = CheckedFrame(Packet);
        // Nothing here asks for a transfer: the only frames going out answer frames 6 and 8.
        if (Out[2] != 7 && Out[2] != 9)
            Broken("an unexpected frame went out: " + HexText(Out));
        RequireBusy(true);
    }

    void RequireBusy(bool Busy) const
    {
        if (FReader.Busy() != Busy)
            Broken(Busy ? "not busy during a write" : "still busy after a write");
    }

    void Write(const uint8_t* Bytes, size_t Count)
    {
        while (Count > 0) {
            const ssize_t Written = ::write(FPty.Master.Get(), Bytes, Count);
            if (Written > 0) {
                Bytes += Written;
                Count -= size_t(Written);
            } else if (Written < 0 && errno != EAGAIN && errno != EINTR) {
                Broken(std::string("writing to the line failed: ") + std::strerror(errno));
            } else {
                Pump(); // the line is full until the component reads
            }
        }
    }

    void Pump()
    {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // Whatever the component sends is read and dropped, so its writes never wait for room.
        uint8_t Sink[4096];
        while (::read(FPty.Master.Get(), Sink, sizeof Sink) > 0) {
        }
    }

    sim::PseudoTerminal FPty;
    TDorvik FReader;
    QTimer FTick;
    std::vector<Frame> FReceived;
    std::vector<std::string> FReports;
    int FSwipes = 0;
};

TLine* Line = nullptr; // lives until the process ends

void CheckFramesHandled(const std::vector<Frame>& Expected)
{
    const std::vector<Frame>& Got = Line->ReceivedFrames();
    for (size_t I = 0; I < std::min(Expected.size(), Got.size()); ++I)
        if (Got[I] != Expected[I])
            Broken("frame " + std::to_string(I) + " differs: component " + HexText(Got[I]) +
                   ", codec " + HexText(Expected[I]));
    if (Got.size() != Expected.size())
        Broken("the component handled " + std::to_string(Got.size()) + " frames, the codec cut " +
               std::to_string(Expected.size()));

    size_t Unknown = 0;
    int Swipes = 0;
    uint32_t Master = 0;
    std::set<uint32_t> Cards;
    for (const Frame& F : Expected) {
        const auto Payload = [&F](size_t I) { return 4 + I < F.size() ? F[4 + I] : uint8_t(0); };
        Unknown += protocol::IsReaderCode(F[2]) ? 0 : 1;
        Swipes += F[2] == protocol::fcCardSwipe ? 1 : 0;
        if (F[2] == protocol::fcTransferBegin)
            Master = Payload(0);
        if (F[2] == protocol::fcCard) // identity is bytes 1 to 4
            Cards.insert(uint32_t(Payload(1)) << 24 | uint32_t(Payload(2)) << 16 |
                         uint32_t(Payload(3)) << 8 | Payload(4));
    }
    if (Line->Reports().size() != Unknown)
        Broken(std::to_string(Line->Reports().size()) + " reports for " + std::to_string(Unknown) +
               " unknown codes");
    for (const std::string& Report : Line->Reports())
        if (Report != "Unknown command")
            Broken("unexpected report: " + Report);
    if (Line->Swipes() != Swipes)
        Broken("swipes reported " + std::to_string(Line->Swipes()) + ", sent " + std::to_string(Swipes));
    if (Line->Reader().Master() != Master)
        Broken("Master is not the last frame 3's");
    if (size_t(Line->Reader().Tags().Count()) != Cards.size())
        Broken("the list does not hold each card of the frames 4 once");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* Argc, char*** Argv)
{
    new QCoreApplication(*Argc, *Argv); // the event loop of the component, for the whole run
    Line = new TLine;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    if (Size == 0)
        return 0;
    const size_t ChunkSize = Data[0] == 0 ? Size : Data[0];
    const Frame Pad(PadLength, 0);

    std::vector<Chunk> Chunks;
    for (size_t At = 1; At < Size; At += ChunkSize)
        Chunks.push_back({Data + At, std::min(ChunkSize, Size - At)});
    Chunks.push_back({Pad.data(), Pad.size()});
    Chunks.push_back({LastFrame, sizeof LastFrame});

    const std::vector<Frame> Expected = CutAlone(Chunks);
    Line->Run(Chunks, Expected.size());
    CheckFramesHandled(Expected);
    return 0;
}
