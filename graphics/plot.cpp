#include "graphics/plot.h"
