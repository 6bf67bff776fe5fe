#include "exchange/xml_node.h"

#include <utility>

#include "exchange/xml_parser.h"

namespace tsr {

namespace {

void AppendTabs(std::string& out, int depth) {
    if (depth > 0)
        out.append(static_cast<std::size_t>(depth), '\t');
}

void AppendText(std::string& out, const std::string& text, const XmlWriteOptions& options) {
    if (options.encodeEntities && options.entities != nullptr)
        out += options.entities->Encode(text);
    else
        out += text;
}

// Writes the start of a node; true when its children follow and it still
// needs its end tag.
bool WriteStart(std::string& out, const XmlNode& node, XmlWriteOptions& options) {
    if (options.newlines) {
        out += "\r\n";
        AppendTabs(out, options.depth);
    }
    if (node.Kind() == XmlNodeKind::Comment) {
        out += "<!--" + node.Value() + "-->";
        return false;
    }
    if (node.Kind() == XmlNodeKind::CData) {
        out += "<![CDATA[" + node.Value() + "]]>";
        return false;
    }
    out += '<';
    out += node.Name();
    if (!node.Attributes().empty()) {
        out += ' ';
        for (const auto& attribute : node.Attributes()) {
            out += attribute->Name();
            out += '=';
            out += options.quote;
            AppendText(out, attribute->Value(), options);
            out += options.quote;
            out += ' ';
        }
    }
    if (node.ChildCount() == 0 && node.Value().empty()) {
        out += "/>";
        return false;
    }
    out += '>';
    if (node.ChildCount() == 0) {
        AppendText(out, node.Value(), options);
        out += "</" + node.Name() + ">";
        return false;
    }
    if (options.newlines)
        ++options.depth;
    return true;
}

void WriteEnd(std::string& out, const XmlNode& node, XmlWriteOptions& options) {
    if (!node.Value().empty()) {
        if (options.newlines)
            AppendTabs(out, options.depth);
        AppendText(out, node.Value(), options);
    }
    if (options.newlines) {
        out += "\r\n";
        AppendTabs(out, options.depth - 1);
    }
    out += "</" + node.Name() + ">";
    if (options.newlines)
        --options.depth;
}

} // namespace

XmlNode::~XmlNode() {
    Clear();
}

void XmlNode::Clear() {
    attributes_.clear();
    // Flatten the subtree first so that destroying a deep tree never recurses.
    std::vector<std::unique_ptr<XmlNode>> pending = std::move(children_);
    children_.clear();
    while (!pending.empty()) {
        std::unique_ptr<XmlNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children_)
            pending.push_back(std::move(child));
        node->children_.clear();
    }
}

XmlNode* XmlNode::ChildAt(std::size_t index) const {
    return index < children_.size() ? children_[index].get() : nullptr;
}

std::optional<std::size_t> XmlNode::Parse(std::string_view text, XmlParseOptions& options) {
    return XmlParser(text, options).Run(*this);
}

std::optional<std::size_t> XmlNode::Parse(std::string_view text, SharedXmlParseOptions& options) {
    XmlParseOptions local = options.Snapshot();
    std::optional<std::size_t> result = Parse(text, local);
    options.MergeError(local);
    return result;
}

std::string XmlNode::ToXml(XmlWriteOptions& options) const {
    std::string out;
    struct Level {
        const XmlNode* node;
        std::size_t next;
    };
    std::vector<Level> stack;
    if (WriteStart(out, *this, options))
        stack.push_back({this, 0});
    while (!stack.empty()) {
        const std::size_t top = stack.size() - 1;
        const XmlNode& node = *stack[top].node;
        if (stack[top].next < node.children_.size()) {
            const XmlNode& child = *node.children_[stack[top].next++];
            if (WriteStart(out, child, options))
                stack.push_back({&child, 0});
        } else {
            WriteEnd(out, node, options);
            stack.pop_back();
        }
    }
    return out;
}

std::string XmlNode::ToXml(const SharedXmlWriteOptions& options) const {
    XmlWriteOptions local = options.Snapshot();
    return ToXml(local);
}

XmlNode* XmlNode::Find(std::string_view name, std::string_view attributeName,
                       std::optional<std::string_view> value, int index) const {
    struct Level {
        const XmlNode* node;
        std::size_t next;
        int counter; // matching children passed over so far
    };
    std::vector<Level> stack{{this, 0, 0}};
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next >= level.node->children_.size()) {
            stack.pop_back();
            continue;
        }
        XmlNode* child = level.node->children_[level.next++].get();
        if (child->name_ == name) {
            const std::optional<std::string_view> found = child->GetAttribute(attributeName);
            if (found) {
                if (level.counter < index)
                    ++level.counter;
                else if (!value || *found == *value)
                    return child;
            }
        }
        if (!child->children_.empty())
            stack.push_back({child, 0, 0});
    }
    return nullptr;
}

std::optional<std::string_view> XmlNode::GetAttribute(std::string_view name) const {
    for (const auto& attribute : attributes_) {
        if (attribute->Name() == name)
            return std::string_view(attribute->Value());
    }
    return std::nullopt;
}

XmlAttribute& XmlNode::AddAttribute(std::string name, std::string value) {
    attributes_.push_back(std::make_unique<XmlAttribute>(this, std::move(name), std::move(value)));
    return *attributes_.back();
}

XmlNode* XmlNode::AppendChild(std::unique_ptr<XmlNode> node) {
    if (!node)
        return nullptr;
    node->parent_ = this;
    children_.push_back(std::move(node));
    return children_.back().get();
}

} // namespace tsr
