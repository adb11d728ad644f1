#include "common/CsvRecords.h"

#include "common/LineFault.h"

namespace {

[[noreturn]] void Fail(int Line, const char* What) { throw ELineFault(Line, QString::fromUtf8(What)); }

// Walks the text once; Line counts every line break, also those inside quoted fields.
class CsvParser
{
public:
    explicit CsvParser(const QString& Text) : FText(Text) {}

    std::vector<TCsvRecord> Records()
    {
        std::vector<TCsvRecord> Result;
        while (FAt < FText.size()) {
            TCsvRecord Record = NextRecord();
            const bool Blank = Record.Fields.size() == 1 && Record.Fields[0].isEmpty();
            if (!Blank)
                Result.push_back(std::move(Record));
        }
        return Result;
    }

private:
    TCsvRecord NextRecord()
    {
        TCsvRecord Record;
        Record.Line = FLine;
        for (;;) {
            Record.Fields.append(Peek() == u'"' ? QuotedField() : PlainField());
            if (Peek() == u',') {
                ++FAt;
                continue;
            }
            EndOfLine();
            return Record;
        }
    }

    QString PlainField()
    {
        const qsizetype Start = FAt;
        while (FAt < FText.size() && !IsBreak(Peek()) && Peek() != u',') {
            if (Peek() == u'"')
                Fail(FLine, "a quote inside a field that does not start with one");
            ++FAt;
        }
        return FText.mid(Start, FAt - Start);
    }

    QString QuotedField()
    {
        const int Opened = FLine;
        ++FAt;
        QString Field;
        for (;;) {
            if (FAt >= FText.size())
                Fail(Opened, "a quoted field is not closed");
            const QChar C = FText[FAt++];
            if (C == u'"') {
                if (Peek() != u'"')
                    break;
                ++FAt;
            } else if (C == u'\n') {
                ++FLine;
            } else if (C == u'\r' && Peek() != u'\n') {
                ++FLine;
            }
            Field.append(C);
        }
        if (FAt < FText.size() && Peek() != u',' && !IsBreak(Peek()))
            Fail(FLine, "text after the closing quote of a field");
        return Field;
    }

    void EndOfLine()
    {
        if (Peek() == u'\r')
            ++FAt;
        if (Peek() == u'\n')
            ++FAt;
        ++FLine;
    }

    QChar Peek() const { return FAt < FText.size() ? FText[FAt] : QChar(); }
    static bool IsBreak(QChar C) { return C == u'\r' || C == u'\n'; }

    const QString& FText;
    qsizetype FAt = 0;
    int FLine = 1;
};

} // namespace

std::vector<TCsvRecord> ParseCsv(const QString& Text) { return CsvParser(Text).Records(); }
