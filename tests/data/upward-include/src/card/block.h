// A header that includes only below and beside itself.
#pragma once
#include "namedata/keys.h"
