#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"

namespace tsr::test {

// Parse settings as the library's defaults have them, with a fresh error record.
inline XmlParseOptions FreshParseOptions(const XmlDefaults& defaults) {
    XmlParseOptions options;
    options.entities = &defaults.Entities();
    return options;
}

inline XmlWriteOptions FreshWriteOptions(const XmlDefaults& defaults) {
    XmlWriteOptions options;
    options.entities = &defaults.Entities();
    return options;
}

} // namespace tsr::test
