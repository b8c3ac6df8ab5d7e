// Helpers the tests of the database layer and the history store share.
#pragma once

#include "store/database.h"

#include <QString>
#include <functional>

namespace ridelog::test {

// The engine's text of the DatabaseError that action throws; empty when it throws none.
inline QString errorTextOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const DatabaseError& error) {
        return error.message();
    }
    return QString();
}

} // namespace ridelog::test
