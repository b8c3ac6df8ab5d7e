// The answer to a name look-up, in code page 932: one record per item whose key is known,
// "<serial><code>,company,line,station:" for rail, "<serial>11,company,store,register,note:"
// for shops, "<serial>20,company,stop,route:" for bus stops; "No data" when none is known.
#pragma once

#include "namedata/namedirectory.h"
#include "namedata/request.h"

#include <string>
#include <vector>

namespace ridelog::nameserver {

// The answer of a request that named no known key.
inline constexpr std::string_view kNoDataAnswer = "No data";

std::string buildAnswer(const std::vector<RequestItem>& items, const NameDirectory& directory);

} // namespace ridelog::nameserver
