#pragma once

#include <QCommandLineOption>
#include <QCoreApplication>
#include <QList>
#include <QStringList>

class CtlCommands;
class QCommandLineParser;
class QTextStream;

// tirvctl's table of commands: finds the command, parses its options, answers --help, counts
// its arguments and calls its function.
class CommandDispatcher
{
    Q_DECLARE_TR_FUNCTIONS(CommandDispatcher)

public:
    CommandDispatcher(CtlCommands &commands, QTextStream &out, QTextStream &err);

    // arguments as main() gets them: the program first. Returns the exit status.
    int run(const QStringList &arguments);

private:
    struct Argument
    {
        QString name;
        QString description;
    };
    using Handler = int (CtlCommands::*)(const QStringList &, const QCommandLineParser &);
    struct Command
    {
        QString name;
        QString summary;
        QString details;
        QList<Argument> arguments;
        QList<QCommandLineOption> options;
        Handler handler;
    };

    void buildTable();
    const Command *find(const QString &name) const;
    int runCommand(const Command &command, const QStringList &arguments);
    int usageError(const QString &message, const QString &command);
    QString overview() const;

    CtlCommands &commands;
    QTextStream &out;
    QTextStream &err;
    QList<Command> table;
};
