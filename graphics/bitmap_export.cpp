#include "graphics/bitmap_export.h"
