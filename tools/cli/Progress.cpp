#include "tools/cli/Progress.h"

#include "tools/cli/Console.h"

void TProgress::Start(const QString& Label, int Total)
{
    Finish();
    FLabel = Label;
    FTotal = Total;
    Step(0);
}

void TProgress::Step(int Done)
{
    if (!FVisible)
        return;
    const QString Count = FTotal >= 0 ? QStringLiteral("%1/%2").arg(Done).arg(FTotal) : QString::number(Done);
    PrintError(QStringLiteral("\r%1 cards: %2").arg(FLabel, Count));
    FDrawn = true;
}

void TProgress::Finish()
{
    if (FDrawn)
        PrintError(QStringLiteral("\n"));
    FDrawn = false;
}
