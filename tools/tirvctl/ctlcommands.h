#pragma once

#include "portoperations.h"

#include <QCoreApplication>
#include <QStringList>

#include <functional>

class PortListing;
struct ListedPort;
class QCommandLineParser;
class QTextStream;

// tirvctl's exit status.
enum ExitCode { ExitSuccess = 0, ExitFailure = 1, ExitBadInput = 2 };

// One function per tirvctl command. Arguments have been counted by the dispatcher; each
// function checks their values, runs the engine's task operation and reports the outcome.
class CtlCommands
{
    Q_DECLARE_TR_FUNCTIONS(CtlCommands)

public:
    CtlCommands(QTextStream &out, QTextStream &err);
    ~CtlCommands();

    int list(const QStringList &args, const QCommandLineParser &options);
    int add(const QStringList &args, const QCommandLineParser &options);
    int createPort(const QStringList &args, const QCommandLineParser &options);
    int clear(const QStringList &args, const QCommandLineParser &options);
    int deletePort(const QStringList &args, const QCommandLineParser &options);
    int rename(const QStringList &args, const QCommandLineParser &options);
    int show(const QStringList &args, const QCommandLineParser &options);
    int set(const QStringList &args, const QCommandLineParser &options);
    int search(const QStringList &args, const QCommandLineParser &options);

private:
    bool openService();
    // False, with the window's message printed, when the service cannot list its ports.
    bool readListing(PortListing *listing);
    // Prints the ports of one device after they were made.
    int showDevice(const QString &ip);
    // The engine's message is a failure; without one, a fresh listing must show done.
    int confirm(const QString &message, const std::function<bool(const PortListing &)> &done,
        const char *failureText);
    // The port named by args, or null with the reason told (*status set).
    const ListedPort *findPort(const QString &comName, PortListing *listing, int *status);
    // Applies the options of "set" to *config; an empty text when they are all valid.
    QString readSettings(const QCommandLineParser &options, PortConfig *config) const;
    // The "--protocol" option of add and create-port; false when it is not a protocol.
    bool newPortProtocol(const QCommandLineParser &options, QString *protocol) const;
    int badInput(const QString &message);
    int failure(const QString &message);

    QTextStream &out;
    QTextStream &err;
    PortOperations operations;
    bool serviceOpen = false;
};
