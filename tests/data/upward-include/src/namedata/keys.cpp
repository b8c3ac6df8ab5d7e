// The lowest layer including the card layer: the check must name it.
#include "card/block.h"
#include "namedata/keys.h"
#include <QString>
