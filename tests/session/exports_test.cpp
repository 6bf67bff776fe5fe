#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

// Every function a header declares with TSR_API ... TSR_CALL, whatever its prefix.
std::set<std::string> DeclaredIn(const char* headerFile) {
    std::ifstream in(headerFile);
    std::stringstream text;
    text << in.rdbuf();
    const std::string header = text.str();
    const std::regex declaration(R"(TSR_API\s+[^;]*?TSR_CALL\s+(\w+)\s*\()");
    std::set<std::string> names;
    for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end; ++it)
        names.insert((*it)[1]);
    return names;
}

bool HasPrefix(const std::string& name, const std::string& prefix) {
    return name.rfind(prefix, 0) == 0;
}

// The specified interface (tessaro.h) and the service additions (tessarox.h).
std::set<std::string> DeclaredExports() {
    std::set<std::string> names = DeclaredIn(TSR_HEADER_FILE);
    for (const std::string& name : DeclaredIn(TSR_SERVICE_HEADER_FILE))
        names.insert(name);
    return names;
}

std::set<std::string> PendingExports() {
    std::ifstream in(TSR_PENDING_FILE);
    std::set<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (!line.empty())
            names.insert(line);
    }
    return names;
}

// Defined dynamic symbols of the built library, without the linker's own markers.
std::set<std::string> ExportedSymbols() {
    const std::string command = "nm -D --defined-only '" + std::string(TSR_LIBRARY_FILE) + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::set<std::string> names;
    if (!pipe)
        return names;
    const std::set<std::string> linkerMarkers = {"_init", "_fini", "_edata", "_end", "__bss_start"};
    char line[1024];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) // undefined-weak lines have no address
            continue;
        if (!linkerMarkers.count(name))
            names.insert(name);
    }
    return names;
}

std::string Listed(const std::set<std::string>& names) {
    std::string out;
    for (const std::string& n : names)
        out += "\n  " + n;
    return out;
}

TEST(Exports, HeaderDeclaresAllSeventySevenExports) {
    const std::set<std::string> declared = DeclaredIn(TSR_HEADER_FILE);
    EXPECT_EQ(declared.size(), 77u);
    for (const std::string& name : declared)
        EXPECT_TRUE(HasPrefix(name, "TSR_")) << name << " in tessaro.h";
}

TEST(Exports, ServiceAdditionsCarryTheirOwnPrefixOnly) {
    const std::set<std::string> additions = DeclaredIn(TSR_SERVICE_HEADER_FILE);
    EXPECT_FALSE(additions.empty());
    for (const std::string& name : additions)
        EXPECT_TRUE(HasPrefix(name, "TSRX_")) << name << " in tessarox.h";
}

TEST(Exports, LibraryExportsOnlyDeclaredFunctionsAndEveryOneNotPending) {
    const std::set<std::string> declared = DeclaredExports();
    const std::set<std::string> pending = PendingExports();
    const std::set<std::string> exported = ExportedSymbols();
    ASSERT_FALSE(exported.empty()) << "no symbols read from " << TSR_LIBRARY_FILE;

    std::set<std::string> stray, missing, stale, unknownPending;
    for (const std::string& name : exported)
        if (!declared.count(name))
            stray.insert(name);
    for (const std::string& name : declared)
        if (!exported.count(name) && !pending.count(name))
            missing.insert(name);
    for (const std::string& name : pending) {
        if (exported.count(name))
            stale.insert(name);
        if (!declared.count(name))
            unknownPending.insert(name);
    }
    EXPECT_TRUE(stray.empty()) << "exported but not declared in tessaro.h:" << Listed(stray);
    EXPECT_TRUE(missing.empty()) << "declared but not exported:" << Listed(missing);
    EXPECT_TRUE(stale.empty()) << "exported now; remove from exports_pending.txt:" << Listed(stale);
    EXPECT_TRUE(unknownPending.empty()) << "pending but not declared:" << Listed(unknownPending);

    std::set<std::string> stillPending;
    for (const std::string& name : declared)
        if (!exported.count(name))
            stillPending.insert(name);
    if (!stillPending.empty())
        std::printf("declared exports not built yet (%zu):%s\n", stillPending.size(),
                    Listed(stillPending).c_str());
}

} // namespace
