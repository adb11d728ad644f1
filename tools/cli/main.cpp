// dorvik-cli: the reader and its card database files from the command line, for scripts.

#include "tools/cli/Arguments.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Console.h"

#include <QCoreApplication>

#include <exception>

namespace {

const char Usage[] =
    "Usage: dorvik-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  ports                              list the ports of the attached readers\n"
    "  read PORT -o FILE.tdb [-n NAMES.tdb]\n"
    "                                     read the reader's database into a file\n"
    "  write PORT FILE.tdb [--verify]     write a file's cards to the reader\n"
    "  sync FILE.tdb PORT... [--format table|json]\n"
    "                                     write a file's cards to many readers at once\n"
    "  diff PORT FILE.tdb [--format table|json]\n"
    "                                     compare a reader's cards with a file's\n"
    "  door PORT [--mode MODE] [--delay SECONDS]\n"
    "                                     show or set the door settings\n"
    "  show FILE.tdb [--format table|csv|json]\n"
    "                                     list the cards of a file\n"
    "  import FILE.csv -o FILE.tdb        make a card database file from CSV\n"
    "  export FILE.tdb -o FILE.csv        write a file's cards as CSV\n"
    "  log [--since TIME] [--card NUMBER] [--name TEXT] [--format FORMAT] ...\n"
    "                                     list the swipes of the access log\n"
    "  watch PORT... [--log[=DB]] [--format table|json]\n"
    "                                     print (and log) every card swiped\n"
    "  web-user add|remove|list [NAME] [--role viewer|admin] [--file FILE]\n"
    "                                     the users of dorvik-agent's page\n"
    "  access check SITE [--config FILE] [--at TIME] [--door ID]\n"
    "                                     who may enter at each door, and when\n"
    "  access plan SITE [--config FILE] [--days N]\n"
    "                                     the doors' coming list changes, in order\n"
    "\n"
    "Commands that talk to the reader take --timeout SECONDS (default 5). PORT is a\n"
    "device name such as ttyUSB0, a path such as /dev/pts/3, or a reader on the\n"
    "network: tcp://HOST:PORT or rfc2217://HOST:PORT.\n"
    "Run 'dorvik-cli COMMAND --help' for a command's options.\n"
    "\n"
    "Options:\n"
    "  -h, --help                         show this text and exit\n"
    "  -v, --version                      show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when the command failed, 2 for bad arguments.\n";

struct Command
{
    const char* Name;
    int (*Run)(const QStringList& Args);
};

const Command Commands[] = {
    {"ports", RunPorts}, {"read", RunRead},     {"write", RunWrite},   {"door", RunDoor},
    {"show", RunShow},   {"import", RunImport}, {"export", RunExport}, {"sync", RunSync},
    {"diff", RunDiff},   {"log", RunLog}, {"watch", RunWatch}, {"web-user", RunWebUser},
    {"access", RunAccess},
};

const Command* CommandNamed(const QString& Name)
{
    for (const Command& C : Commands) {
        if (Name == QLatin1String(C.Name))
            return &C;
    }
    return nullptr;
}

int Fail(const QString& Line, int Status)
{
    PrintError(Line + u'\n');
    return Status;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    const QStringList Args = App.arguments().mid(1);
    const QString Name = Args.value(0);
    if (Name == u"--help" || Name == u"-h" || Name == u"help") {
        Print(QString::fromUtf8(Usage));
        return 0;
    }
    if (Name == u"--version" || Name == u"-v") {
        Print(QStringLiteral("dorvik-cli (Dorvik Manager) " DORVIK_VERSION "\n"));
        return 0;
    }
    const Command* Chosen = CommandNamed(Name);
    if (!Chosen) {
        const QString Why = Name.isEmpty() ? QStringLiteral("missing command")
                                           : QStringLiteral("unknown command '%1'").arg(Name);
        return Fail(QStringLiteral("dorvik-cli: %1 (see dorvik-cli --help)").arg(Why), 2);
    }
    const QString Where = QStringLiteral("dorvik-cli ") + Name;
    try {
        return Chosen->Run(Args.mid(1));
    } catch (const EUsage& E) {
        return Fail(QStringLiteral("%1: %2 (see %1 --help)").arg(Where, QString::fromUtf8(E.what())), 2);
    } catch (const std::exception& E) {
        return Fail(QStringLiteral("%1: %2").arg(Where, QString::fromUtf8(E.what())), 1);
    }
}
