#include "access/SiteList.h"

#include "cards/CardDatabaseFile.h"
#include "common/TextFiles.h"

#include <QBuffer>

namespace {

// The list of a card database file: every card, every door, always, the file's master.
TSiteRead TdbSite(const QString& FileName, TLoadedCardDatabase File)
{
    TSiteRead Read;
    Read.Site.FileName = FileName;
    for (int I = 0; I < File.Tags.Count(); ++I)
        Read.Site.Cards.push_back({File.Tags.Items(I), 0, {}, {}, {}});
    if (!Read.Site.Cards.empty())
        Read.Site.Master = File.Master < Read.Site.Cards.size() ? int(File.Master) : 0;
    Read.Site.MasterMarked = !Read.Site.Cards.empty();
    return Read;
}

} // namespace

TSiteRead ReadSiteFile(const QString& FileName)
{
    if (FileName.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        return ReadSiteCsv(FileName, ReadUtf8File(FileName));
    return TdbSite(FileName, LoadCardDatabaseFile(FileName));
}

TSiteRead ReadSiteContent(const QString& FileName, const QByteArray& Content)
{
    if (FileName.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        return ReadSiteCsv(FileName, Utf8Text(FileName, Content));
    QBuffer Buffer;
    Buffer.setData(Content);
    Buffer.open(QIODevice::ReadOnly);
    return TdbSite(FileName, LoadCardDatabase(Buffer));
}

QString ProblemLines(const QString& FileName, const std::vector<TSiteProblem>& Problems)
{
    QString Text;
    for (const TSiteProblem& Problem : Problems) {
        const QString Where = Problem.Line > 0 ? QStringLiteral("%1:%2").arg(FileName).arg(Problem.Line) : FileName;
        Text += QStringLiteral("%1: %2\n").arg(Where, Problem.Text);
    }
    return Text;
}
