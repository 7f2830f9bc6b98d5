#include "searchresults.h"

#include "searchprotocol.h"

using SearchProtocol::ReplyKind;

void SearchResults::add(const SearchProtocol::SearchReply &reply)
{
    if (!SearchProtocol::isOffered(reply))
        return;
    switch (reply.kind) {
    case ReplyKind::VcomAck:
    case ReplyKind::McpAck1:
        if (!hasMac(reply.mac))
            rowList.append({ reply.devType, reply.portCount, reply.mac, reply.ip });
        break;
    case ReplyKind::McpAck2:
        complete(reply);
        break;
    case ReplyKind::Unknown:
        break;
    }
}

bool SearchResults::hasMac(const QString &mac) const
{
    for (const SearchRow &row : rowList) {
        if (row.mac == mac)
            return true;
    }
    return false;
}

void SearchResults::complete(const SearchProtocol::SearchReply &reply)
{
    const QString tail = reply.macTail.toUpper();
    for (SearchRow &row : rowList) {
        if (row.ip == reply.ip && row.mac.mid(12).toUpper() == tail) {
            row.devType = reply.devType;
            row.portCount = reply.portCount;
        }
    }
}
