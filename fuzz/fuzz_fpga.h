// What the FPGA fuzz targets share: the input reader, the check and the
// clock that never sleeps.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>

#include "fake_clock.h"
#include "fuzz_check.h"
