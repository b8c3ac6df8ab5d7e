// The texts of the reader layer that reach the user: the names of readers and why a reader did
// not open. They come from the translation system like every other text of the windows; what
// a reader says while it reads goes to the log and stays as it is.
#pragma once

#include <QCoreApplication>

namespace ridelog::card {

class ReaderTexts
{
    Q_DECLARE_TR_FUNCTIONS(ridelog::card::ReaderTexts)
};

} // namespace ridelog::card
