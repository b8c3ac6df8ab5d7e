// A store header that reaches up into the window: the check must name it.
#pragma once
#include "card/block.h"
#include "store/history.h"
#include "ui/window.h"
