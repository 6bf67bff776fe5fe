#pragma once
#include <mutex>

#include "exchange/xml_options.h"

namespace tsr {

// A parse option set used by several threads at once. Every parse works on
// its own copy, so parses never wait for each other; the error record is
// merged back afterwards and keeps the first error since construction.
class SharedXmlParseOptions {
public:
    explicit SharedXmlParseOptions(XmlParseOptions initial = {});
    SharedXmlParseOptions(const SharedXmlParseOptions&) = delete;
    SharedXmlParseOptions& operator=(const SharedXmlParseOptions&) = delete;

    // A consistent copy of the settings and the error record.
    XmlParseOptions Snapshot() const;
    // Replaces the settings; the error record stays as it is.
    void SetSettings(const XmlParseOptions& settings);
    // Takes the error of a finished parse if none is recorded yet.
    void MergeError(const XmlParseOptions& used);

private:
    mutable std::mutex guard_;
    XmlParseOptions options_;
};

// A write option set used by several threads at once. Each write works on a
// copy, so the shared depth never changes.
class SharedXmlWriteOptions {
public:
    explicit SharedXmlWriteOptions(XmlWriteOptions initial = {});
    SharedXmlWriteOptions(const SharedXmlWriteOptions&) = delete;
    SharedXmlWriteOptions& operator=(const SharedXmlWriteOptions&) = delete;

    XmlWriteOptions Snapshot() const;
    void SetSettings(const XmlWriteOptions& settings);

private:
    mutable std::mutex guard_;
    XmlWriteOptions options_;
};

} // namespace tsr
