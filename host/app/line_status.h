#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// What the serial line to the press console does, for the page's service view
// and its banners, read from the library's TSRX_ exports:
//
//   {"portOpen": true, "portFailure": "", "portAdvice": "",
//    "lastAnswer": "2026-05-27 14:03:07", "secondsSinceAnswer": 3,
//    "console": "answering" | "silent" | "unknown",
//    "notAnswering": [3],
//    "units": [{"unit": 1, "state": "answering" | "notAnswering" | "unknown",
//               "sinceStart": {"answered": …, "late": …, "silent": …, "malformed": …, "retries": …},
//               "lastMinute": {…}}, …]}
//
// "console" is silent while the port is open and every unit that has had a
// transaction gave up on its last one; "notAnswering" lists the units whose
// last transaction gave up.
nlohmann::json ReadLineStatus(int32_t units);

// The operator's next step for a port that did not open, told from the
// system's reason in the library's failure text: "dialout" (no permission),
// "busy" (another program holds the port), "missing" (no such device),
// "notSerial" (the device is no serial port), "" otherwise.
std::string PortAdvice(const std::string& failure);
