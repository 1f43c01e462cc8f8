// Points up the layers on purpose: layers_test_catches_upward_edge expects this edge.
#pragma once
#include "setup/high.h"
