// The number a sensor value stands for, where it stands for one.
#pragma once

#include <windows.h>
#include <propidl.h>

// Integers of every width, reals, currency and booleans (true 1, false 0) give their number;
// texts, times, GUIDs, errors, vectors, empty values, and reals that are not finite (NaN,
// infinities) have none. Answers false then, leaving `number` alone.
bool ValueNumber(const PROPVARIANT& value, double& number);
