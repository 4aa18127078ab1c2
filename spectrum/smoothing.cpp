#include "spectrum/smoothing.h"
