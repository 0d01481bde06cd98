// Umbrella header: every public header of the library.
#pragma once
#include "flag.hpp"
#include "mess.hpp"
#include "string.hpp"
