// The decided lerps' old home: the kit's decision is in exact/decide.h and the lerp forms in
// exact/lerp.h. Kept so that callers not yet pointed at those headers still build.
#pragma once

#include "exact/decide.h"
#include "exact/lerp.h"
