#include "spectrum/name_list.h"
