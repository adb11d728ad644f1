#pragma once

#include <QByteArray>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <string>

// The program's end of a simulated line, with nothing but POSIX calls: the far side of the
// simulated reader without any of the reader code under test.
class RawLine
{
public:
    explicit RawLine(const std::string& Path) : FFd(::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~RawLine()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    bool IsOpen() const { return FFd >= 0; }

    tcflag_t LocalFlags() const
    {
        termios Settings{};
        ::tcgetattr(FFd, &Settings);
        return Settings.c_lflag;
    }

    void MakeRaw()
    {
        termios Settings{};
        ::tcgetattr(FFd, &Settings);
        ::cfmakeraw(&Settings);
        ::tcsetattr(FFd, TCSANOW, &Settings);
    }

    bool Write(const QByteArray& Bytes)
    {
        return ::write(FFd, Bytes.data(), size_t(Bytes.size())) == Bytes.size();
    }

    // Exactly Count bytes, or fewer when the safety time-out passes first.
    QByteArray Read(int Count)
    {
        QByteArray Bytes;
        while (Bytes.size() < Count && (WaitFor(POLLIN) & POLLIN)) {
            char Buffer[256];
            const size_t Want = size_t(std::min<int>(Count - int(Bytes.size()), sizeof Buffer));
            const ssize_t Got = ::read(FFd, Buffer, Want);
            if (Got <= 0)
                break;
            Bytes.append(Buffer, Got);
        }
        return Bytes;
    }

    short WaitFor(short Events, int TimeoutMs = 5000)
    {
        pollfd Fd{FFd, Events, 0};
        return ::poll(&Fd, 1, TimeoutMs) > 0 ? Fd.revents : 0;
    }

private:
    int FFd;
};

