#pragma once
// Kept for files written before the waits moved into TestFiles.h.
#include "support/TestFiles.h"
