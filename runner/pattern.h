#pragma once
// The expect patterns live with the codec, shared with the sequence sets.
#include "codec/pattern.h"
