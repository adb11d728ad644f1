// The reader component's card database files when the disk or the file system says no: a full
// disk, a folder or a file the user may not write, and files that are no card database. A failed
// save leaves the old file as it was; a failed load leaves the component as it was.

#include "reader/Dorvik.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void Fill(TDorvik& Reader, int Count)
{
    Reader.Tags().Clear();
    for (int I = 0; I < Count; ++I) {
        TRfidTag& Tag = Reader.Tags().Add();
        Tag.Bytes = {uint8_t(I), 0, uint8_t(I >> 16), uint8_t(I >> 8), uint8_t(I)};
        Tag.Name = "Card " + QByteArray::number(I);
    }
    Reader.SetMaster(7);
}

QByteArray Saved(TDorvik& Reader)
{
    QBuffer Out;
    Out.open(QIODevice::WriteOnly);
    Reader.SaveToStream(Out);
    return Out.data() + QByteArray::number(Reader.Master());
}

QByteArray ReadFile(const QString& Name)
{
    QFile F(Name);
    return F.open(QIODevice::ReadOnly) ? F.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& Name, const QByteArray& Bytes)
{
    QFile F(Name);
    ASSERT_TRUE(F.open(QIODevice::WriteOnly));
    ASSERT_EQ(F.write(Bytes), Bytes.size());
}

std::string ErrorOf(const std::function<void()>& Operation)
{
    try {
        Operation();
    } catch (const std::exception& E) {
        return E.what();
    }
    return "<no error>";
}

// Files this process writes stop growing at Bytes, as on a disk that is full from there on.
// Such a write fails (EFBIG) instead of raising SIGXFSZ.
class TDiskFullAfter
{
public:
    explicit TDiskFullAfter(rlim_t Bytes)
    {
        getrlimit(RLIMIT_FSIZE, &FSaved);
        FHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit Limit{Bytes, FSaved.rlim_max};
        FActive = setrlimit(RLIMIT_FSIZE, &Limit) == 0;
    }
    ~TDiskFullAfter()
    {
        setrlimit(RLIMIT_FSIZE, &FSaved);
        std::signal(SIGXFSZ, FHandler);
    }
    bool Active() const { return FActive; }

private:
    rlimit FSaved{};
    void (*FHandler)(int) = SIG_DFL;
    bool FActive = false;
};

// Root may write anywhere, so as root the operation runs in a child process that has become
// the unprivileged user "nobody"; its error message comes back through a pipe.
std::string ErrorAsUser(const std::function<void()>& Operation)
{
    if (geteuid() != 0)
        return ErrorOf(Operation);
    int Pipe[2];
    if (pipe(Pipe) != 0)
        return "<no pipe>";
    const pid_t Child = fork();
    if (Child == 0) {
        close(Pipe[0]);
        const std::string Message = setgid(65534) == 0 && setuid(65534) == 0
                                        ? ErrorOf(Operation)
                                        : std::string("<cannot become nobody>");
        [[maybe_unused]] const ssize_t Ignored = write(Pipe[1], Message.data(), Message.size());
        _exit(0);
    }
    close(Pipe[1]);
    std::string Message;
    char Buffer[512];
    for (ssize_t Got; (Got = read(Pipe[0], Buffer, sizeof Buffer)) > 0;)
        Message.append(Buffer, size_t(Got));
    close(Pipe[0]);
    int Status = 0;
    waitpid(Child, &Status, 0);
    return Message;
}

} // namespace

TEST(FaultFileTest, SavingToAFullDeviceIsAStreamWriteError)
{
    TDorvik Reader;
    Fill(Reader, 3);
    QFile Full("/dev/full");
    ASSERT_TRUE(Full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    EXPECT_EQ(ErrorOf([&] { Reader.SaveToStream(Full); }), "Stream write error");
}

TEST(FaultFileTest, SavingToAFullDiskLeavesTheOldFileAndNoTemporaryFile)
{
    QTemporaryDir Dir;
    const QString Name = Dir.filePath("cards.tdb");
    const QByteArray Old = QByteArray("TDBF") + QByteArray(20, '\0') + "an older list";

    // A few cards fail when the save is committed, many while they are written.
    for (int Count : {3, 5000}) {
        WriteFile(Name, Old);
        TDorvik Reader;
        Fill(Reader, Count);
        std::string Error;
        {
            // Nothing is printed while the limit holds: the test's own output may be a file.
            TDiskFullAfter Full(32);
            ASSERT_TRUE(Full.Active());
            Error = ErrorOf([&] { Reader.SaveToFile(Name); });
        }
        EXPECT_EQ(Error, "Stream write error") << Count;
        EXPECT_EQ(ReadFile(Name), Old) << Count;
        EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"cards.tdb"});
    }
}

TEST(FaultFileTest, SavingIntoAReadOnlyFolderOrOverAReadOnlyFileIsRefused)
{
    QTemporaryDir Dir;
    TDorvik Reader;
    Fill(Reader, 3);
    const QString Locked = Dir.filePath("locked.tdb");
    const QByteArray Old = "the list the user locked";
    WriteFile(Locked, Old);
    QFile::setPermissions(Locked, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    // The folder itself is open to everyone: only the file's own permission protects it.
    QFile::setPermissions(Dir.path(), QFileDevice::Permissions(0x7777));
    EXPECT_EQ(ErrorAsUser([&] { Reader.SaveToFile(Locked); }),
              "Cannot create file \"" + Locked.toStdString() + "\". Permission denied");
    EXPECT_EQ(ReadFile(Locked), Old);

    QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    const QString New = Dir.filePath("new.tdb");
    EXPECT_EQ(ErrorAsUser([&] { Reader.SaveToFile(New); }),
              "Cannot create file \"" + New.toStdString() + "\". Permission denied");
    EXPECT_FALSE(QFile::exists(New));
    QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(FaultFileTest, LoadingWhatIsNoCardDatabaseLeavesTheComponentAsItWas)
{
    QTemporaryDir Dir;
    const QByteArray Header = QByteArray("TDBF") + QByteArray(20, '\0');
    const struct
    {
        const char* Name;
        QByteArray Bytes;
        const char* Message;
    } Files[] = {
        {"empty.tdb", QByteArray(), "Stream read error"},
        {"short.tdb", Header.left(23), "Stream read error"},
        // A name of almost 2 GiB claimed by a file of a few bytes.
        {"huge.tdb", Header + Hex("01 00 12 D6 87  F0 FF FF 7F") + "Al", "Stream read error"},
    };
    TDorvik Reader;
    Fill(Reader, 4);
    const QByteArray Before = Saved(Reader);

    for (const auto& File : Files) {
        const QString Name = Dir.filePath(File.Name);
        WriteFile(Name, File.Bytes);
        EXPECT_EQ(ErrorOf([&] { Reader.LoadFromFile(Name); }), File.Message) << File.Name;
        EXPECT_EQ(Saved(Reader), Before) << File.Name;
    }
    EXPECT_EQ(ErrorOf([&] { Reader.LoadFromFile(Dir.path()); }),
              "Cannot open file \"" + Dir.path().toStdString() + "\". Is a directory");
    EXPECT_EQ(Saved(Reader), Before);
}
