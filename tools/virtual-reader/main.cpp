// dorvik-virtual-reader: a card reader on a pseudo-terminal, to try the manager without one.

#include "tools/virtual-reader/Console.h"
#include "tools/virtual-reader/ReaderDatabase.h"
#include "tools/virtual-reader/Session.h"

#include <cstring>
#include <exception>
#include <optional>

namespace {

struct Options
{
    QString LoadFile;
    QString SaveFile;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
};

const char Usage[] = "Usage: dorvik-virtual-reader [--quiet] [--save FILE.tdb] [FILE.tdb]\n"
                     "\n"
                     "Plays a Dorvik card reader on a pseudo-terminal. The first line printed is\n"
                     "\"Port: /dev/pts/N\": connect the manager to that port. The reader starts\n"
                     "with three sample cards, or with the cards of FILE.tdb.\n"
                     "\n"
                     "Options:\n"
                     "  --save FILE.tdb  save the reader's cards to FILE.tdb on exit\n"
                     "  --quiet          do not show the frames going to and from the reader\n"
                     "  -h, --help       show this text and exit\n"
                     "  -v, --version    show the version and exit\n"
                     "\n";

std::optional<Options> ParseOptions(int argc, char** argv)
{
    Options Result;
    for (int I = 1; I < argc; ++I) {
        const char* Arg = argv[I];
        if (!std::strcmp(Arg, "--help") || !std::strcmp(Arg, "-h"))
            Result.Help = true;
        else if (!std::strcmp(Arg, "--version") || !std::strcmp(Arg, "-v"))
            Result.Version = true;
        else if (!std::strcmp(Arg, "--quiet"))
            Result.Quiet = true;
        else if (!std::strcmp(Arg, "--save") && I + 1 < argc)
            Result.SaveFile = QString::fromLocal8Bit(argv[++I]);
        else if (Arg[0] != '-' && Result.LoadFile.isEmpty())
            Result.LoadFile = QString::fromLocal8Bit(Arg);
        else
            return std::nullopt;
    }
    return Result;
}

std::string FrameLine(sim::SimReader::Direction Way, const sim::Frame& Bytes)
{
    using D = sim::SimReader::Direction;
    const std::string Text = (Way == D::Received ? "<- " : "-> ") + sim::DescribeFrame(Bytes);
    return Way == D::Dropped ? Text + "  (dropped: no program has the port open)" : Text;
}

// Returns what the reader holds at the end. Its thread has ended by then, so every frame line is
// out before the program goes on.
TReaderDatabase PlayReader(const TReaderDatabase& Start, bool Quiet, TInputLoop& Input, TConsole& Out)
{
    sim::SimReader Reader;
    PutInto(Reader, Start);
    if (!Quiet)
        Reader.SetObserver([&Out](auto Way, const sim::Frame& Bytes) { Out.Line(FrameLine(Way, Bytes)); });
    Out.Line("Port: " + Reader.PortName()); // only now may anyone know where to connect
    Out.Line(TSession::Help());

    TSession Commands(Reader, Out, Start.Names);
    Input.Run([&](const std::string& Line) { return Commands.Handle(Line); });
    return TakeFrom(Reader, Start.Names);
}

int Run(const Options& Given, TConsole& Out)
{
    const TReaderDatabase Start =
        Given.LoadFile.isEmpty() ? SampleDatabase() : LoadReaderDatabase(Given.LoadFile);
    TInputLoop Input; // before the reader's thread starts, so that only the loop sees Ctrl+C
    const TReaderDatabase Held = PlayReader(Start, Given.Quiet, Input, Out);
    if (!Given.SaveFile.isEmpty()) {
        SaveReaderDatabase(Given.SaveFile, Held);
        Out.Line("Saved " + std::to_string(Held.Cards.size()) + " cards to " + Given.SaveFile.toStdString());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> Given = ParseOptions(argc, argv);
    if (Given && Given->Version) {
        std::puts("dorvik-virtual-reader (Dorvik Manager) " DORVIK_VERSION);
        return 0;
    }
    if (!Given || Given->Help) {
        std::fputs(Usage, Given ? stdout : stderr);
        std::fputs(TSession::Help(), Given ? stdout : stderr);
        std::fputs("\n", Given ? stdout : stderr);
        return Given ? 0 : 2;
    }
    TConsole Out;
    try {
        return Run(*Given, Out);
    } catch (const std::exception& E) {
        Out.Error(E.what());
        return 1;
    }
}
