// Throughput of the frame codec: received bytes appended in chunks of a given size, every
// complete frame cut out after each chunk, as the reader component does after each read.

#include "bench/BenchTable.h"
#include "reader/Packet.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <vector>

namespace {

constexpr int LargestChunk = TPacketParser::BufferSize;

// What a reader sends most: the card frames of a read, with a few short frames between them.
std::vector<uint8_t> Pattern()
{
    std::vector<uint8_t> Bytes;
    for (int Card = 0; Card < 7; ++Card)
        Bytes.insert(Bytes.end(), {0x42, 9, 4, 0xFF, uint8_t(Card), 0, 0x12, 0xD6, 0x87});
    Bytes.insert(Bytes.end(), {0x42, 4, 8, 0xFF});
    Bytes.insert(Bytes.end(), {0x42, 9, 1, 0xFF, 1, 0, 0x12, 0xD6, 0x87});
    return Bytes;
}

// The pattern repeated, followed by one more chunk's worth, so a chunk can start anywhere in
// one period and still read a continuous stream.
struct TStream
{
    std::vector<uint8_t> Bytes;
    size_t Period = 0;
};

TStream MakeStream()
{
    const std::vector<uint8_t> One = Pattern();
    TStream Stream;
    while (Stream.Bytes.size() < size_t(4 * LargestChunk))
        Stream.Bytes.insert(Stream.Bytes.end(), One.begin(), One.end());
    Stream.Period = Stream.Bytes.size();
    Stream.Bytes.insert(Stream.Bytes.end(), Stream.Bytes.begin(), Stream.Bytes.begin() + LargestChunk);
    return Stream;
}

void Codec(benchmark::State& State)
{
    static const TStream Stream = MakeStream();
    const int Chunk = int(State.range(0));
    TPacketParser Parser;
    size_t At = 0;
    int64_t Bytes = 0;
    int64_t Frames = 0;
    for (auto _ : State) {
        // Never more than the codec has room for, as the component reads: a frame still being
        // collected takes a little of the room.
        const int Count = std::min(Chunk, Parser.Capacity() - Parser.Count());
        Parser.Append(Stream.Bytes.data() + At, Count);
        while (std::unique_ptr<TPacket> Packet = Parser.ExtractPacket()) {
            benchmark::DoNotOptimize(Packet->Data());
            ++Frames;
        }
        Bytes += Count;
        At = (At + size_t(Count)) % Stream.Period;
    }
    State.SetBytesProcessed(Bytes);
    State.counters["frames"] = benchmark::Counter(double(Frames), benchmark::Counter::kIsRate);
}
BENCHMARK(Codec)->Arg(1)->Arg(9)->Arg(64)->Arg(LargestChunk);

// Shows the usual console output and keeps each chunk size's throughput for the table.
class TTableReporter : public benchmark::ConsoleReporter
{
public:
    std::map<int, double> BytesPerSecond;

    void ReportRuns(const std::vector<Run>& Runs) override
    {
        ConsoleReporter::ReportRuns(Runs);
        for (const Run& R : Runs)
            if (!R.error_occurred && R.run_type == Run::RT_Iteration)
                BytesPerSecond[std::stoi(R.run_name.args)] = R.counters.at("bytes_per_second");
    }
};

} // namespace

int main(int argc, char** argv)
{
    // Plain console output, so the figure lines stand at the start of their lines; flags given
    // on the command line still come later and win.
    std::vector<char*> Args(argv, argv + argc);
    char NoColor[] = "--benchmark_color=false";
    Args.insert(Args.begin() + 1, NoColor);
    int Count = int(Args.size());
    benchmark::Initialize(&Count, Args.data());
    TTableReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    benchmark::Shutdown();

    constexpr double GoalMBs = 100;
    for (const auto& [Chunk, Rate] : Reporter.BytesPerSecond) {
        const double MBs = Rate / 1e6;
        const std::string What =
            "codec, chunks of " + std::to_string(Chunk) + (Chunk == 1 ? " byte" : " bytes");
        if (Chunk == LargestChunk)
            PrintFigure(What, Fixed(MBs, 1, "MB/s"), ">= 100 MB/s", GoalMet(MBs >= GoalMBs));
        else
            PrintFigure(What, Fixed(MBs, 1, "MB/s"));
    }
    return 0;
}
