#pragma once
#include "exchange/xml_entity_table.h"
#include "exchange/xml_shared_options.h"

namespace tsr {

// The library's one entity table and its two default option sets, which every
// exchange reader and writer uses. Owned by the Library object; safe to use
// from the watcher thread and the host's threads at once.
class XmlDefaults {
public:
    XmlDefaults();
    XmlDefaults(const XmlDefaults&) = delete;
    XmlDefaults& operator=(const XmlDefaults&) = delete;

    const XmlEntityTable& Entities() const { return entities_; }
    // No trimming, entity decoding with Entities(), backslash escapes, strict end tags.
    SharedXmlParseOptions& DefaultParseOptions() { return parse_; }
    // Newlines and tabs, entity encoding with Entities(), double quotes, depth 0.
    SharedXmlWriteOptions& DefaultWriteOptions() { return write_; }

private:
    const XmlEntityTable entities_;
    SharedXmlParseOptions parse_;
    SharedXmlWriteOptions write_;
};

} // namespace tsr
