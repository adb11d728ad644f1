#include "log/SwipeRecord.h"

#include "cards/NameText.h"

TSwipeRecord MakeSwipeRecord(const TRfidTag& Card, const QString& Door, const TRfidTags* List)
{
    TSwipeRecord Swipe;
    Swipe.Time = QDateTime::currentDateTimeUtc();
    Swipe.Door = Door;
    Swipe.Bytes = Card.Bytes;
    Swipe.CardNumber = Card.CardNumber();
    const int Index = List ? List->IndexOf(Card) : -1;
    Swipe.Known = Index >= 0;
    if (Swipe.Known)
        Swipe.Name = NameToText(List->Items(Index).Name);
    return Swipe;
}

uint32_t SwipeCardValue(const TSwipeRecord& Swipe)
{
    TRfidTag Card;
    Card.Bytes = Swipe.Bytes;
    return Card.CardValue();
}
