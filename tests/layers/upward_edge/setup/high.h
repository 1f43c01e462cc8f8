// Allowed: setup may include util.
#pragma once
#include "util/low.h"
