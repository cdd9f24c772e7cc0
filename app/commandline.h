#pragma once

#include <QStringList>

namespace brisolta {

// The window takes no arguments: any argument asks for the command line instead.
bool isCommandLine(int argc, char *argv[]);

// Imports, exports or finds contacts without a display. Returns the exit status: 0 done, 1 failed (one Italian
// line on stderr says which file, where and why), 2 wrong usage.
int runCommandLine(const QStringList &arguments);

} // namespace brisolta
