#include "common/TextFiles.h"

#include "common/Errors.h"
#include "common/SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>

namespace {

QString Why(int Error, const QFileDevice& File)
{
    return Error > 0 ? QString::fromLocal8Bit(ErrnoText(Error)) : File.errorString();
}

[[noreturn]] void Fail(const char* Fmt, const QString& FileName, const QString& Reason)
{
    throw Exception(Format(Fmt, QFileInfo(FileName).absoluteFilePath().toUtf8().constData(),
                           Reason.toUtf8().constData()));
}

} // namespace

QString ReadUtf8File(const QString& FileName)
{
    QFile File(FileName);
    if (QFileInfo(FileName).isDir())
        Fail("Cannot open file \"%s\". %s", FileName, QString::fromLocal8Bit(ErrnoText(EISDIR)));
    errno = 0;
    if (!File.open(QIODevice::ReadOnly)) {
        const int Error = errno;
        Fail("Cannot open file \"%s\". %s", FileName, Why(Error, File));
    }
    const QByteArray Bytes = File.readAll();
    if (File.error() != QFileDevice::NoError)
        Fail("Cannot read file \"%s\". %s", FileName, File.errorString());
    return Utf8Text(FileName, Bytes);
}

QString Utf8Text(const QString& FileName, const QByteArray& Bytes)
{
    QStringDecoder Utf8(QStringDecoder::Utf8);
    const QString Text = Utf8(Bytes);
    if (Utf8.hasError())
        Fail("File \"%s\" is not UTF-8 text.%s", FileName, QString());
    return Text;
}

void SaveUtf8File(const QString& FileName, const QString& Text)
{
    if (QFileInfo(FileName).isDir())
        Fail("Cannot create file \"%s\". %s", FileName, QString::fromLocal8Bit(ErrnoText(EISDIR)));
    QSaveFile File(FileName);
    errno = 0;
    if (!File.open(QIODevice::WriteOnly)) {
        const int Error = errno;
        Fail("Cannot create file \"%s\". %s", FileName, Why(Error, File));
    }
    const QByteArray Bytes = Text.toUtf8();
    if (File.write(Bytes) != Bytes.size()) {
        File.cancelWriting();
        throw Exception("Stream write error");
    }
    if (!File.commit())
        throw Exception("Stream write error");
}
