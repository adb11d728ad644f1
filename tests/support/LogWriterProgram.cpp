// Records swipes into the access log named by its argument, one after another, and prints
// "logged ID" once each is committed, until it is killed (or has written a great many).

#include "log/AccessLog.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    TAccessLog Log(App.arguments().value(1));
    TRfidTag Card;
    for (int Count = 0; Count < 100000; ++Count) {
        Card.Bytes[4] = uint8_t(Count);
        TSwipeRecord Swipe = MakeSwipeRecord(Card, QStringLiteral("door"), nullptr);
        if (!Log.Record(Swipe)) {
            std::fprintf(stderr, "%s\n", Log.Error().toUtf8().constData());
            return 1;
        }
        std::printf("logged %lld\n", Swipe.Id);
        std::fflush(stdout);
    }
    return 0;
}
