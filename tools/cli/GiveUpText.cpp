#include "tools/cli/GiveUpText.h"

#include "reader/Protocol.h"

QString GiveUpText(TDorvik::TGiveUp Reason, int TimeoutMs)
{
    switch (Reason) {
    case TDorvik::TGiveUp::TooManyCards:
        return QStringLiteral("the reader sent more than %1 cards in one read, more than any reader holds")
            .arg(protocol::ReadCardBound);
    case TDorvik::TGiveUp::TooLong:
        return QStringLiteral("the read did not end within %1 s").arg((TimeoutMs + protocol::ReadOverrunMs) / 1000.0);
    case TDorvik::TGiveUp::Silent:
        break;
    }
    return QStringLiteral("no answer within %1 s").arg(TimeoutMs / 1000.0);
}
