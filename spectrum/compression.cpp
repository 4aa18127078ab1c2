#include "spectrum/compression.h"
