#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/xml_node.h"
#include "exchange/xml_options.h"

namespace tsr {

// Reads one element of a text into a node (XmlNode::Parse). Open elements
// live on an explicit stack instead of the call stack; every index into the
// text is checked against its end.
class XmlParser {
public:
    XmlParser(std::string_view text, XmlParseOptions& options) : text_(text), options_(options) {}

    std::optional<std::size_t> Run(XmlNode& root);

private:
    enum class Outcome { Failed, Finished, Open };
    struct Start {
        Outcome outcome;
        std::size_t pos;
    };
    struct Frame {
        XmlNode* node;
        std::unique_ptr<XmlNode> owned; // null for the caller's root
        bool valueBlank;
    };

    Start StartElement(XmlNode& node, std::size_t pos);
    bool ReadAttributes(XmlNode& node, std::size_t& pos);
    void CopyValue(std::size_t begin, std::size_t end, std::string& target) const;
    // Position of the first stop character from pos that is not escaped, or the end.
    std::size_t ScanUnescaped(std::size_t pos, std::string_view stops) const;
    std::size_t SkipWhite(std::size_t pos) const;
    bool StartsNoCase(std::size_t pos, std::string_view opener) const;
    void Record(int code, std::size_t pos, std::string message);
    // Hands every open element to its parent, as each one counts as closed.
    void Unwind(std::vector<Frame>& stack);

    std::string_view text_;
    XmlParseOptions& options_;
};

} // namespace tsr
