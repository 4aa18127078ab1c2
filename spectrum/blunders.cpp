#include "spectrum/blunders.h"
