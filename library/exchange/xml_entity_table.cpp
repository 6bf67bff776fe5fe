#include "exchange/xml_entity_table.h"

#include <utility>

namespace tsr {

XmlEntityTable::XmlEntityTable(std::vector<XmlEntity> entries) : entries_(std::move(entries)) {}

XmlEntityTable XmlEntityTable::Predefined() {
    return XmlEntityTable({{'&', "&amp;"}, {'"', "&quot;"}, {'\'', "&apos;"}, {'<', "&lt;"}, {'>', "&gt;"}});
}

std::string XmlEntityTable::Encode(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const XmlEntity* hit = nullptr;
        for (const XmlEntity& e : entries_) {
            if (e.character == c) {
                hit = &e;
                break;
            }
        }
        if (hit != nullptr)
            out += hit->reference;
        else
            out += c;
    }
    return out;
}

std::string XmlEntityTable::Decode(std::string_view text) const {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const XmlEntity* hit = nullptr;
        for (const XmlEntity& e : entries_) {
            // An empty reference would match everywhere without moving on.
            if (!e.reference.empty() && text.substr(i).starts_with(e.reference)) {
                hit = &e;
                break;
            }
        }
        if (hit != nullptr) {
            out += hit->character;
            i += hit->reference.size();
        } else {
            out += text[i];
            ++i;
        }
    }
    return out;
}

} // namespace tsr
