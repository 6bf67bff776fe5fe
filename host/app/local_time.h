#pragma once

#include <ctime>

// The local calendar time of when (thread-safe).
std::tm LocalTime(std::time_t when);
