#pragma once

#include <string>
#include <vector>

// The script and style the bridge puts into the page before the page's own
// scripts: the global host object, the ordered stream of page calls, console,
// context-menu and keyboard hooks, and the loading ring shown until load-end.
struct BridgeScriptSetup {
    std::string base; // absolute path of the bridge requests, "/<secret>/~host/"
    std::string objectName;
    std::vector<std::string> operations;
    std::vector<std::string> properties;
};

std::string BridgeMarkup(const BridgeScriptSetup& setup);

// Inserts markup before the first <script> of the document (else before
// </head>, else before <body>, else at the start).
std::string InjectBeforeFirstScript(const std::string& html, const std::string& markup);
