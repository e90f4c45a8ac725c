// Counts heap allocations of the whole binary, for the figures that must stay at zero.
#pragma once

long AllocationsSoFar();
