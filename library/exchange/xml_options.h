#pragma once
#include <cstddef>
#include <optional>
#include <string>

#include "exchange/xml_entity_table.h"

namespace tsr {

// Deepest element nesting a parse accepts; a deeper document fails to parse.
constexpr std::size_t kXmlMaxDepth = 1024;

// How Parse reads a text, and the record of the first error it met. A plain
// instance belongs to one thread; the library-wide default set is a
// SharedXmlParseOptions (exchange/xml_shared_options.h).
struct XmlParseOptions {
    bool trimValues = false;
    bool decodeEntities = true;
    const XmlEntityTable* entities = nullptr; // not owned; none: no decoding
    std::optional<char> escapeChar = '\\';    // makes the next character literal
    bool forceParse = false;                  // accept end tags of another name

    // Error record: filled by the first recorded error only.
    bool errorOccurred = false;
    std::optional<std::size_t> errorPosition; // offset into the parsed text
    int errorCode = 0;
    std::string errorMessage;
};

// Recorded parse errors.
enum XmlParseError : int {
    kXmlErrorNone = 0,
    kXmlErrorElementNotClosed = 1, // "/" in a start tag not followed by ">"
    kXmlErrorEndTagAtEnd = 2,      // end tag name runs to the end of the text
    kXmlErrorMismatchedEndTag = 3, // end tag of another element
    kXmlErrorAttribute = 4,        // attribute name without blank or "=" after it
};

// How ToXml writes a tree. depth is the current indentation; the writer raises
// and lowers it while it works and leaves it as it found it.
struct XmlWriteOptions {
    bool newlines = true; // each node on its own line (CR LF), indented by tabs
    bool encodeEntities = true;
    char quote = '"';
    const XmlEntityTable* entities = nullptr; // not owned; none: no encoding
    int depth = 0;
};

} // namespace tsr
