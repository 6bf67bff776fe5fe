#pragma once
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "exchange/xml_options.h"
#include "exchange/xml_shared_options.h"

namespace tsr {

class XmlNode;

enum class XmlNodeKind { Element, Comment, CData };

// One attribute of an element; owned by its node.
class XmlAttribute {
public:
    XmlAttribute(XmlNode* owner, std::string name, std::string value)
        : owner_(owner), name_(std::move(name)), value_(std::move(value)) {}

    const std::string& Name() const { return name_; }
    const std::string& Value() const { return value_; }
    void SetName(std::string name) { name_ = std::move(name); }
    void SetValue(std::string value) { value_ = std::move(value); }
    XmlNode* Owner() const { return owner_; }

private:
    XmlNode* owner_;
    std::string name_;
    std::string value_;
};

// A node of the library's XML tree: an element, a comment ("#COMMENT") or a
// CDATA section ("#CDATA"). A node owns its children and attributes; pointers
// and views handed out (Find, GetAttribute, Children) stay valid until the
// node is cleared or destroyed. Texts are bytes of the single-byte code page.
// Parse, ToXml, Find and destruction use no recursion, so deep trees cannot
// exhaust the stack.
class XmlNode {
public:
    explicit XmlNode(std::string name = {}) : name_(std::move(name)) {}
    ~XmlNode();
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;

    XmlNodeKind Kind() const { return kind_; }
    void SetKind(XmlNodeKind kind) { kind_ = kind; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    const std::string& Value() const { return value_; }
    void SetValue(std::string value) { value_ = std::move(value); }
    XmlNode* Parent() const { return parent_; }

    std::size_t ChildCount() const { return children_.size(); }
    // The child at index, or null when index is out of range.
    XmlNode* ChildAt(std::size_t index) const;
    const std::vector<std::unique_ptr<XmlNode>>& Children() const { return children_; }
    const std::vector<std::unique_ptr<XmlAttribute>>& Attributes() const { return attributes_; }

    // Reads one element from text into this node (children and attributes
    // are dropped first). Result: the offset just after the element (or of an
    // end tag met first), or none on failure; on failure the node keeps what
    // was built and options' error record may hold the first error.
    std::optional<std::size_t> Parse(std::string_view text, XmlParseOptions& options);
    // The same with a shared option set (works on a copy, merges the error).
    std::optional<std::size_t> Parse(std::string_view text, SharedXmlParseOptions& options);

    // Text of this node and its subtree. options.depth ends as it started.
    std::string ToXml(XmlWriteOptions& options) const;
    std::string ToXml(const SharedXmlWriteOptions& options) const;

    // Depth-first search below this node for an element called name carrying
    // attributeName (with exactly value, when given). Each node passes over
    // the first index matching children of its own, whatever their values.
    XmlNode* Find(std::string_view name, std::string_view attributeName,
                  std::optional<std::string_view> value = std::nullopt, int index = 0) const;

    // Value of the first attribute called name, or none.
    std::optional<std::string_view> GetAttribute(std::string_view name) const;
    // Appends an attribute (one of the same name is not replaced).
    XmlAttribute& AddAttribute(std::string name, std::string value);
    // Takes ownership of node and makes it the last child. Result: the
    // node, or null when node is null.
    XmlNode* AppendChild(std::unique_ptr<XmlNode> node);
    // Destroys all children and attributes; kind, name and value stay.
    void Clear();

private:
    friend class XmlParser;

    XmlNodeKind kind_ = XmlNodeKind::Element;
    std::string name_;
    std::string value_;
    XmlNode* parent_ = nullptr;
    std::vector<std::unique_ptr<XmlNode>> children_;
    std::vector<std::unique_ptr<XmlAttribute>> attributes_;
};

} // namespace tsr
