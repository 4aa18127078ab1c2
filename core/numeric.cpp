#include "core/numeric.h"
