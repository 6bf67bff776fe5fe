#include "exchange/xml_defaults.h"

namespace tsr {

namespace {

XmlParseOptions DefaultParseSettings(const XmlEntityTable& entities) {
    XmlParseOptions options;
    options.entities = &entities;
    return options;
}

XmlWriteOptions DefaultWriteSettings(const XmlEntityTable& entities) {
    XmlWriteOptions options;
    options.entities = &entities;
    return options;
}

} // namespace

XmlDefaults::XmlDefaults()
    : entities_(XmlEntityTable::Predefined()), parse_(DefaultParseSettings(entities_)),
      write_(DefaultWriteSettings(entities_)) {}

} // namespace tsr
