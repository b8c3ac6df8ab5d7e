// What a database failure means for the user, in the program's own words.
#pragma once

#include <QString>

namespace ridelog {

// True for the engine's codes that say the file is damaged or is no database at all.
bool isDamageCode(int engineCode);

// The Japanese sentence shown above the engine's own text for a failure with this code.
QString databaseProblemText(int engineCode);

// The text of the sign that history is not being kept, and the reasons in its tooltip.
QString historyNotKeptSignText();
QString noDataFolderReason();
QString loadFailedReason();

} // namespace ridelog
