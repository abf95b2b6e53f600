#pragma once
#include <QStringList>

// One function per subcommand, as listed in Subcommands.def.
#define VELTRANE_SUBCOMMAND(name, function, summary) int function(const QStringList& args);
#include "cli/Subcommands.def"
#undef VELTRANE_SUBCOMMAND

struct CSubcommand {
    const char* name;
    int (*run)(const QStringList& args);
    const char* summary;
};

inline constexpr CSubcommand kSubcommands[] = {
#define VELTRANE_SUBCOMMAND(name, function, summary) {name, &function, summary},
#include "cli/Subcommands.def"
#undef VELTRANE_SUBCOMMAND
};
