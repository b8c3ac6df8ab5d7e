// The options of `ridelog-nameserver serve` that set the event threads, the limits and the
// request log, with their help text.
#pragma once

#include "httpservice.h"

#include <QString>
#include <QStringList>

namespace ridelog::nameserver {

enum class OptionResult
{
    NotAServeOption,
    Taken,   // `index` is on the option's last argument
    Invalid, // a serve option with a missing or unusable value
};

OptionResult takeServeOption(const QStringList& arguments, qsizetype& index,
                             ServiceOptions& options);

// The lines of the usage that list these options.
QString serveOptionsHelp();

// Raises the limit of open files so that `connections` sockets fit; false when it cannot.
bool allowOpenConnections(std::size_t connections);

} // namespace ridelog::nameserver
