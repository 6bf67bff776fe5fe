#include "exchange/xml_parser.h"

#include <array>
#include <utility>

namespace tsr {

namespace {

bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsBlankText(std::string_view text) {
    for (char c : text) {
        if (!IsWhite(c))
            return false;
    }
    return true;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::size_t XmlParser::SkipWhite(std::size_t pos) const {
    while (pos < text_.size() && IsWhite(text_[pos]))
        ++pos;
    return pos;
}

bool XmlParser::StartsNoCase(std::size_t pos, std::string_view opener) const {
    if (pos > text_.size() || text_.size() - pos < opener.size())
        return false;
    for (std::size_t i = 0; i < opener.size(); ++i) {
        if (LowerAscii(text_[pos + i]) != LowerAscii(opener[i]))
            return false;
    }
    return true;
}

std::size_t XmlParser::ScanUnescaped(std::size_t pos, std::string_view stops) const {
    std::array<bool, 256> stop{};
    for (char c : stops)
        stop[static_cast<unsigned char>(c)] = true;
    const int escape = options_.escapeChar ? static_cast<unsigned char>(*options_.escapeChar) : -1;
    while (pos < text_.size()) {
        const unsigned char c = static_cast<unsigned char>(text_[pos]);
        if (c == escape) {
            if (text_.size() - pos <= 2)
                return text_.size();
            pos += 2;
            continue;
        }
        if (stop[c])
            return pos;
        ++pos;
    }
    return text_.size();
}

void XmlParser::CopyValue(std::size_t begin, std::size_t end, std::string& target) const {
    std::string_view range = text_.substr(begin, end - begin);
    if (options_.trimValues) {
        while (!range.empty() && IsWhite(range.front()))
            range.remove_prefix(1);
        while (!range.empty() && IsWhite(range.back()))
            range.remove_suffix(1);
    }
    if (range.empty())
        return;
    std::string copied;
    if (options_.escapeChar) {
        copied.reserve(range.size());
        std::size_t from = 0;
        std::size_t at = 0;
        while ((at = range.find(*options_.escapeChar, from)) != std::string_view::npos) {
            copied.append(range.substr(from, at - from));
            if (at + 1 >= range.size()) {
                from = range.size(); // a lone escape character at the end is dropped
                break;
            }
            copied += range[at + 1]; // taken as it stands, even an escape character
            from = at + 2;
        }
        copied.append(range.substr(from));
    } else {
        copied.assign(range);
    }
    if (options_.decodeEntities && options_.entities != nullptr)
        copied = options_.entities->Decode(copied);
    target = std::move(copied);
}

void XmlParser::Record(int code, std::size_t pos, std::string message) {
    if (options_.errorOccurred)
        return;
    options_.errorOccurred = true;
    options_.errorPosition = pos;
    options_.errorCode = code;
    options_.errorMessage = std::move(message);
}

bool XmlParser::ReadAttributes(XmlNode& node, std::size_t& pos) {
    for (;;) {
        if (pos >= text_.size())
            return false;
        pos = SkipWhite(pos);
        if (pos < text_.size() && (text_[pos] == '>' || text_[pos] == '/'))
            return true;
        const std::size_t nameEnd = text_.find_first_of(" =", pos);
        if (nameEnd == std::string_view::npos) {
            Record(kXmlErrorAttribute, pos, "<" + node.name_ + "> attribute has error ");
            return false;
        }
        XmlAttribute& attribute = node.AddAttribute(std::string(text_.substr(pos, nameEnd - pos)), {});
        pos = SkipWhite(nameEnd);
        if (pos >= text_.size() || text_[pos] != '=')
            continue; // no value: the next attribute starts here
        pos = SkipWhite(pos + 1);
        std::string value;
        if (pos < text_.size() && (text_[pos] == '"' || text_[pos] == '\'')) {
            const char quote = text_[pos];
            const std::size_t close = ScanUnescaped(pos + 1, std::string_view(&quote, 1));
            if (close >= text_.size())
                return false;
            CopyValue(pos + 1, close, value);
            pos = close + 1;
        } else {
            const std::size_t end = ScanUnescaped(pos, " >");
            CopyValue(pos, end, value);
            pos = end;
        }
        attribute.SetValue(std::move(value));
    }
}

XmlParser::Start XmlParser::StartElement(XmlNode& node, std::size_t pos) {
    node.Clear();
    std::size_t open = 0;
    for (;;) {
        open = text_.find('<', pos);
        if (open == std::string_view::npos)
            return {Outcome::Failed, pos};
        if (open + 1 < text_.size() && text_[open + 1] == '/')
            return {Outcome::Finished, open};
        if (StartsNoCase(open, "<?")) {
            const std::size_t close = text_.find("?>", open + 2);
            if (close == std::string_view::npos)
                return {Outcome::Failed, open};
            pos = close + 2;
            continue;
        }
        const bool comment = StartsNoCase(open, "<!--");
        const bool cdata = !comment && StartsNoCase(open, "<![CDATA[");
        if (!comment && !cdata)
            break;
        const std::string_view opener = comment ? "<!--" : "<![CDATA[";
        const std::string_view closer = comment ? "-->" : "]]>";
        const std::size_t begin = open + opener.size();
        const std::size_t close = text_.find(closer, begin);
        if (close == std::string_view::npos)
            return {Outcome::Failed, open};
        pos = close + closer.size();
        if (node.parent_ == nullptr)
            continue; // nothing outside the root element is kept
        auto stored = std::make_unique<XmlNode>(comment ? "#COMMENT" : "#CDATA");
        stored->kind_ = comment ? XmlNodeKind::Comment : XmlNodeKind::CData;
        stored->value_.assign(text_.substr(begin, close - begin));
        node.parent_->AppendChild(std::move(stored));
        return {Outcome::Finished, pos};
    }

    const std::size_t nameEnd = text_.find_first_of(" />\t\r\n", open + 1);
    if (nameEnd == std::string_view::npos)
        return {Outcome::Failed, open};
    node.kind_ = XmlNodeKind::Element;
    node.name_.assign(text_.substr(open + 1, nameEnd - open - 1));
    node.value_.clear();
    pos = nameEnd;
    if (!ReadAttributes(node, pos))
        return {Outcome::Failed, pos};
    if (text_[pos] == '/') {
        if (pos + 1 < text_.size() && text_[pos + 1] == '>')
            return {Outcome::Finished, pos + 2};
        Record(kXmlErrorElementNotClosed, pos, "Element must be closed.");
        return {Outcome::Failed, pos};
    }
    ++pos; // past ">"
    const std::size_t end = ScanUnescaped(pos, "<");
    CopyValue(pos, end, node.value_);
    return {Outcome::Open, end};
}

void XmlParser::Unwind(std::vector<Frame>& stack) {
    while (stack.size() > 1) {
        Frame done = std::move(stack.back());
        stack.pop_back();
        if (done.owned && !done.owned->name_.empty())
            stack.back().node->AppendChild(std::move(done.owned));
    }
}

std::optional<std::size_t> XmlParser::Run(XmlNode& root) {
    const Start first = StartElement(root, 0);
    if (first.outcome == Outcome::Failed)
        return std::nullopt;
    if (first.outcome == Outcome::Finished)
        return first.pos;

    std::vector<Frame> stack;
    stack.push_back({&root, nullptr, IsBlankText(root.value_)});
    std::size_t pos = first.pos;
    bool afterChild = false;
    for (;;) {
        if (afterChild) {
            afterChild = false;
            Frame& top = stack.back();
            XmlNode& node = *top.node;
            if (text_.substr(pos).starts_with("</")) {
                const std::size_t tag = pos;
                const std::size_t nameBegin = SkipWhite(pos + 2);
                const std::size_t nameEnd = text_.find_first_of(" \t\r\n\v\f>", nameBegin);
                if (nameEnd == std::string_view::npos) {
                    Record(kXmlErrorEndTagAtEnd, tag, "it must be closed with </" + node.name_ + ">");
                    Unwind(stack);
                    return std::nullopt;
                }
                const std::string_view endName = text_.substr(nameBegin, nameEnd - nameBegin);
                pos = nameEnd + 1;
                if (text_[nameEnd] != '>') {
                    // "</a >" ends at its ">", which is not text of the parent.
                    const std::size_t close = SkipWhite(nameEnd);
                    if (close < text_.size() && text_[close] == '>')
                        pos = close + 1;
                }
                if (endName == node.name_) {
                    if (stack.size() == 1)
                        return pos;
                    Frame done = std::move(stack.back());
                    stack.pop_back();
                    if (!done.owned->name_.empty())
                        stack.back().node->AppendChild(std::move(done.owned));
                    afterChild = true;
                    continue;
                }
                if (!options_.forceParse) {
                    Record(kXmlErrorMismatchedEndTag, tag,
                           "'<" + node.name_ + "> ... </" + std::string(endName) + ">' is not wel-formed.");
                    Unwind(stack);
                    return std::nullopt;
                }
            } else if (top.valueBlank && pos < text_.size() && text_[pos] != '<') {
                const std::size_t end = ScanUnescaped(pos, "<");
                CopyValue(pos, end, node.value_);
                top.valueBlank = IsBlankText(node.value_);
                pos = end;
            }
        }

        if (pos >= text_.size()) {
            Unwind(stack); // elements still open at the end count as closed
            return pos;
        }
        XmlNode& parent = *stack.back().node;
        auto child = std::make_unique<XmlNode>();
        child->parent_ = &parent;
        const Start started = StartElement(*child, pos);
        const bool tooDeep =
            stack.size() >= kXmlMaxDepth && (started.outcome == Outcome::Open || !child->name_.empty());
        if (started.outcome == Outcome::Open && !tooDeep) {
            const bool blank = IsBlankText(child->value_);
            XmlNode* raw = child.get();
            stack.push_back({raw, std::move(child), blank});
            pos = started.pos;
            continue;
        }
        if (!child->name_.empty())
            parent.AppendChild(std::move(child));
        if (started.outcome == Outcome::Failed || tooDeep) {
            Unwind(stack);
            return std::nullopt;
        }
        pos = started.pos;
        afterChild = true;
    }
}

} // namespace tsr
