#pragma once

#include <string>
#include <vector>

// The script and style the bridge puts into the page before the page's own
// scripts: the global host object, the ordered stream of page calls, console,
// context-menu and keyboard hooks, and the loading ring shown until load-end.
struct BridgeScriptSetup {
    std::string base; // absolute path of the bridge requests, "/<page path>/~host/"
    std::string page; // this load of the page: the stream it opens is its own
    std::string objectName;
    std::vector<std::string> operations;
    std::vector<std::string> properties;
};

struct BridgeMarkup {
    std::string style;  // the loading ring
    std::string script; // the bridge itself
};

BridgeMarkup MakeBridgeMarkup(const BridgeScriptSetup& setup);

// The script goes before the first <script> of the document (else before
// </head>, else before <body>, else at the start); the style into the head
// where there is one before that point.
std::string InjectBridge(const std::string& html, const BridgeMarkup& markup);
