#pragma once

// The exit statuses of veltrane-cli, the same for every subcommand. --help prints them
// (cli::ExitStatusHelp), the man page and docs/command-line.md list them; a new status is added
// here and in those three places. When several of 2 to 5 apply, the lowest is given.
namespace cli {

enum ExitStatus {
    kExitDone = 0,           // done (download: every channel answered, with a report or the unit's own "no datalog",
                             // "offline" or "no records")
    kExitUsage = 1,          // a bad option, argument or address
    kExitNoUnit = 2,         // the unit did not answer, or refused the community or password (download: also a
                             // unit whose firmware is too old)
    kExitFileError = 3,      // a file could not be read or written
    kExitInterrupted = 4,    // download: SIGINT or SIGTERM ended it before every channel was asked
    kExitChannelsFailed = 5, // download: some channels got no answer from the unit (no report)
    kExitNoSocket = 255,     // download: no network socket could be made (the download driver's halt)
};

} // namespace cli
