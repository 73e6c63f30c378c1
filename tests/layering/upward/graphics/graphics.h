#pragma once
#include "gd/device.h"
