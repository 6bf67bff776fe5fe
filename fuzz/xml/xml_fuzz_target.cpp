// Parse, write and search any input; traps on a broken invariant. Built as a
// libFuzzer target here and as the corpus replayer of the xml tests.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/xml_defaults.h"
#include "exchange/xml_node.h"

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const tsr::XmlEntityTable entities = tsr::XmlEntityTable::Predefined();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const unsigned flags = size > 0 ? data[0] : 0;

    tsr::XmlParseOptions parse;
    parse.entities = &entities;
    parse.trimValues = (flags & 1u) != 0;
    parse.decodeEntities = (flags & 2u) == 0;
    if ((flags & 4u) != 0)
        parse.escapeChar.reset();
    parse.forceParse = (flags & 8u) != 0;

    tsr::XmlNode root;
    const auto end = root.Parse(text, parse);
    Check(!end || *end <= size);
    Check(!parse.errorOccurred ||
          (parse.errorCode >= 1 && parse.errorCode <= 4 && !parse.errorMessage.empty() &&
           parse.errorPosition && *parse.errorPosition <= size));

    tsr::XmlWriteOptions write;
    write.entities = &entities;
    write.newlines = (flags & 16u) == 0;
    write.quote = (flags & 32u) != 0 ? '\'' : '"';
    const std::string first = root.ToXml(write);
    Check(write.depth == 0);
    Check(root.ToXml(write) == first);

    // Every element with an attribute below the root is reachable by Find.
    std::vector<const tsr::XmlNode*> pending;
    for (const auto& child : root.Children())
        pending.push_back(child.get());
    int checked = 0;
    while (!pending.empty() && checked < 64) {
        const tsr::XmlNode* node = pending.back();
        pending.pop_back();
        for (const auto& child : node->Children())
            pending.push_back(child.get());
        if (node->Attributes().empty())
            continue;
        ++checked;
        const std::string& attribute = node->Attributes().front()->Name();
        const tsr::XmlNode* found = root.Find(node->Name(), attribute);
        Check(found != nullptr && found->Name() == node->Name() && found->GetAttribute(attribute));
        const tsr::XmlNode* exact = root.Find(node->Name(), attribute, *node->GetAttribute(attribute));
        Check(exact != nullptr && exact->GetAttribute(attribute) == node->GetAttribute(attribute));
        root.Find(node->Name(), attribute, std::nullopt, static_cast<int>(flags % 4));
    }

    tsr::XmlNode again;
    tsr::XmlParseOptions reparse = parse;
    again.Parse(first, reparse);
    return 0;
}
