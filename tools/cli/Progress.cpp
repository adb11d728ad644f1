#include "Progress.h"

#include "Console.h"

namespace cli {

void Progress::Start(const QString& Label, int Total)
{
    Finish();
    FLabel = Label;
    FTotal = Total;
    Step(0);
}

void Progress::Step(int Done)
{
    if (!FVisible)
        return;
    const QString Count = FTotal >= 0 ? QStringLiteral("%1/%2").arg(Done).arg(FTotal) : QString::number(Done);
    PrintError(QStringLiteral("\r%1 cards: %2").arg(FLabel, Count));
    FDrawn = true;
}

void Progress::Finish()
{
    if (FDrawn)
        PrintError(QStringLiteral("\n"));
    FDrawn = false;
}

} // namespace cli
