#include "exchange/xml_entity_table.h"

#include <array>
#include <utility>

namespace tsr {

XmlEntityTable::XmlEntityTable(std::vector<XmlEntity> entries) : entries_(std::move(entries)) {}

XmlEntityTable XmlEntityTable::Predefined() {
    return XmlEntityTable({{'&', "&amp;"}, {'"', "&quot;"}, {'\'', "&apos;"}, {'<', "&lt;"}, {'>', "&gt;"}});
}

std::string XmlEntityTable::Encode(std::string_view text) const {
    std::array<const XmlEntity*, 256> byCharacter{};
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        byCharacter[static_cast<unsigned char>(it->character)] = &*it; // the first entry wins
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const XmlEntity* hit = byCharacter[static_cast<unsigned char>(text[i])];
        if (hit == nullptr)
            continue;
        out.append(text.substr(copied, i - copied));
        out += hit->reference;
        copied = i + 1;
    }
    out.append(text.substr(copied));
    return out;
}

std::string XmlEntityTable::Decode(std::string_view text) const {
    // Only positions holding the first character of some reference can start one.
    std::array<bool, 256> starts{};
    for (const XmlEntity& e : entries_) {
        if (!e.reference.empty()) // an empty reference would match everywhere
            starts[static_cast<unsigned char>(e.reference.front())] = true;
    }
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!starts[static_cast<unsigned char>(text[i])]) {
            ++i;
            continue;
        }
        const XmlEntity* hit = nullptr;
        for (const XmlEntity& e : entries_) {
            if (!e.reference.empty() && text.substr(i).starts_with(e.reference)) {
                hit = &e;
                break;
            }
        }
        if (hit == nullptr) {
            ++i;
            continue;
        }
        out.append(text.substr(copied, i - copied));
        out += hit->character;
        i += hit->reference.size();
        copied = i;
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace tsr
