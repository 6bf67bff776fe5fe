#include "app/bug_report.h"

#include <fstream>

#include "app/host_paths.h"
#include "app/memory_list.h"

std::string BugReport::Report(const std::string& what, std::time_t when) const {
    bool written = false;
    {
        std::ofstream out(PathFromText(file_), std::ios::app | std::ios::binary);
        if (out) {
            out << SaveDateText(when) << " unexpected error: " << what << "\n";
            written = static_cast<bool>(out);
        }
    }
    std::string message = "Unexpected error: " + what + ". The program goes on";
    message += written ? "; a report was added to " + file_ + "." : "; the report could not be written.";
    return message;
}
