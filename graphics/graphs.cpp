#include "graphics/graphs.h"
