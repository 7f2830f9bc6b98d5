#pragma once

#include <QList>
#include <QString>

namespace SearchProtocol {
struct SearchReply;
}

// One device found by the search, with the four texts the search dialog shows.
struct SearchRow
{
    QString devType;
    QString portCount;
    QString mac;
    QString ip;
};

// The devices found so far, by the search dialog's rules: the first reply of a MAC address
// makes its row, later ones of that MAC add nothing; an MCP second reply fills type and port
// count of the rows whose IP and MAC tail it names.
class SearchResults
{
public:
    void add(const SearchProtocol::SearchReply &reply);
    const QList<SearchRow> &rows() const { return rowList; }

private:
    bool hasMac(const QString &mac) const;
    void complete(const SearchProtocol::SearchReply &reply);

    QList<SearchRow> rowList;
};
