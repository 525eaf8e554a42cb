#pragma once

#include <QString>
#include <QTextStream>

// `korvala COMMAND`: asks the running instance over the session bus.
// Exit status: 0 done, 1 no instance (or no bus), 2 the command is not
// offered now or not known.
namespace CommandClient {

bool isCommand(const QString& word);
// Whether `command` takes an argument: "record-video" the target to record
// without opening the picker, "call-watch" (which needs it) on, off or status.
bool takesArgument(const QString& command);
int run(const QString& command, QTextStream& out, QTextStream& err, const QString& argument = {});
QString usage();

} // namespace CommandClient
