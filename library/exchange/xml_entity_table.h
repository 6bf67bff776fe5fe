#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// One character and the reference text that stands for it ("<" and "&lt;").
struct XmlEntity {
    char character = 0;
    std::string reference;
};

// The entity references the XML model knows. Decoding replaces only complete
// references found in the table; numeric references, unknown names and a lone
// "&" pass through unchanged.
class XmlEntityTable {
public:
    XmlEntityTable() = default;
    explicit XmlEntityTable(std::vector<XmlEntity> entries);

    // The five predefined entities, in the order the writers rely on:
    // &amp; &quot; &apos; &lt; &gt;
    static XmlEntityTable Predefined();

    const std::vector<XmlEntity>& Entries() const { return entries_; }

    std::string Encode(std::string_view text) const;
    std::string Decode(std::string_view text) const;

private:
    std::vector<XmlEntity> entries_;
};

} // namespace tsr
