#include "exchange/xml_shared_options.h"

#include <utility>

namespace tsr {

SharedXmlParseOptions::SharedXmlParseOptions(XmlParseOptions initial) : options_(std::move(initial)) {}

XmlParseOptions SharedXmlParseOptions::Snapshot() const {
    std::lock_guard lock(guard_);
    return options_;
}

void SharedXmlParseOptions::SetSettings(const XmlParseOptions& settings) {
    std::lock_guard lock(guard_);
    options_.trimValues = settings.trimValues;
    options_.decodeEntities = settings.decodeEntities;
    options_.entities = settings.entities;
    options_.escapeChar = settings.escapeChar;
    options_.forceParse = settings.forceParse;
}

void SharedXmlParseOptions::MergeError(const XmlParseOptions& used) {
    std::lock_guard lock(guard_);
    // A parse that started after the first error carries it already and
    // recorded nothing new; of two racing first errors the earlier merge wins.
    if (options_.errorOccurred || !used.errorOccurred)
        return;
    options_.errorOccurred = true;
    options_.errorPosition = used.errorPosition;
    options_.errorCode = used.errorCode;
    options_.errorMessage = used.errorMessage;
}

SharedXmlWriteOptions::SharedXmlWriteOptions(XmlWriteOptions initial) : options_(initial) {}

XmlWriteOptions SharedXmlWriteOptions::Snapshot() const {
    std::lock_guard lock(guard_);
    return options_;
}

void SharedXmlWriteOptions::SetSettings(const XmlWriteOptions& settings) {
    std::lock_guard lock(guard_);
    options_ = settings;
}

} // namespace tsr
