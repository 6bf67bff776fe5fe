#pragma once

#include <ctime>
#include <string>
#include <vector>

// The memory entry as a script literal: {"saved_on":...,"description":...}.
std::string MemoryEntryText(const std::string& savedOn, const std::string& description);

// The page calls that report the four memory positions, in order:
// "App.loadMemory(%d, %s)" for a stored job, "App.emptyMemory(%d)" otherwise.
std::vector<std::string> MemoryListCalls();

// "yyyy-mm-dd hh:nn:ss" in local time.
std::string SaveDateText(std::time_t when);
