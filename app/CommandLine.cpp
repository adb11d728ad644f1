#include "CommandLine.h"

#include <cstdio>
#include <cstring>

namespace {

const char Help[] =
    "Usage: dorvik [OPTION]...\n"
    "\n"
    "Dorvik Manager: reads the card list of a Dorvik door card reader attached by USB\n"
    "serial, names the cards, chooses the master card, sets the door lock and writes\n"
    "the list back; card lists are saved to and loaded from .tdb files. Click Connect\n"
    "and pick the reader's port (ttyUSB0, ...).\n"
    "\n"
    "Options:\n"
    "  --port PORT    connect at start to the reader on PORT: a device (ttyUSB0,\n"
    "                 /dev/ttyUSB0) or a network reader (tcp://HOST:PORT,\n"
    "                 rfc2217://HOST:PORT)\n"
    "  -h, --help     show this text and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "Qt's own options, such as -platform NAME or -style NAME, are accepted too.\n"
    "\n"
    "Environment:\n"
    "  DORVIK_EXTRA_PORTS  more ports for the connection dialog, separated by ':',\n"
    "                      each a name such as ttyUSB1, a device path or a network\n"
    "                      reader's URL (kept whole); network readers may also be\n"
    "                      listed in the settings, as readers/network\n"
    "  QT_LOGGING_RULES    \"dorvik.frames=true\" logs every frame to and from the\n"
    "                      reader on standard error\n"
    "\n"
    "See also dorvik-cli(1) for scripts, dorvik-virtual-reader(1) to try the program\n"
    "without a reader.\n";

bool Is(const char* Arg, const char* Short, const char* Long)
{
    return !std::strcmp(Arg, Short) || !std::strcmp(Arg, Long);
}

} // namespace

std::optional<int> AnswerInfoOptions(int argc, char** argv)
{
    for (int I = 1; I < argc; ++I) {
        if (Is(argv[I], "-h", "--help")) {
            std::fputs(Help, stdout);
            return 0;
        }
        if (Is(argv[I], "-v", "--version")) {
            std::printf("dorvik (Dorvik Manager) %s\n", DORVIK_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}
