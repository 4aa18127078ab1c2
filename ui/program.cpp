#include "ui/program.h"
