#pragma once

#include <QStringList>

// The subcommands. Each takes the arguments after its name, prints its result to stdout and
// returns the exit status; a failure is raised as Exception (EUsage for bad arguments).

int RunPorts(const QStringList& Args);
int RunRead(const QStringList& Args);
int RunWrite(const QStringList& Args);
int RunDoor(const QStringList& Args);
int RunShow(const QStringList& Args);
int RunImport(const QStringList& Args);
int RunExport(const QStringList& Args);
int RunSync(const QStringList& Args);
int RunDiff(const QStringList& Args);
int RunLog(const QStringList& Args);
int RunWatch(const QStringList& Args);
int RunWebUser(const QStringList& Args);
int RunAccess(const QStringList& Args);
