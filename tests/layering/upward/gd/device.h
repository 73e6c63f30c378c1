#pragma once
#include "graphics/graphics.h"
