#pragma once
#include <memory>
#include <string>

namespace tsr {

class ActivityLog;
class Configuration;
class ExchangeFiles;
class ProfileReader;
class UnitTable;
class XmlDefaults;
class XmlNode;

// Publishes the unit table for the closed-loop system as "/InkKeys.xml" (keys
// and ductor on a JDF template) and "/InkKeys_DC.xml" (ductor cycles) in the
// folder "PathLoopKeysSND".
class InkKeyWriter {
public:
    InkKeyWriter(ProfileReader& reader, ExchangeFiles& files, Configuration& config, ActivityLog& log,
                 UnitTable& table, XmlDefaults& xml);

    bool WriteInkKeysDC();
    // Also writes "/InkKeys_DC.xml" and takes names and previews from "/currentjob.xml" first.
    bool WriteInkKeys();

    // The built-in templates: tabs, no line breaks between their tags;
    // pressMakerNamespace is bound to the prefix mr.
    static std::string KeysTemplate(const std::string& pressMakerNamespace);
    static std::string DuctorCycleTemplate(const std::string& pressMakerNamespace);
    // Read from the process's current folder; replaces the built-in keys template.
    static constexpr const char* kTemplateFile = "Units_template.XML";

private:
    struct Sides {
        std::unique_ptr<XmlNode> front;
        std::unique_ptr<XmlNode> back;
    };
    // The two side elements with one child per unit, made by makeUnit(row, name).
    template <typename MakeUnit> Sides BuildSides(MakeUnit makeUnit) const;

    ProfileReader& reader_;
    ExchangeFiles& files_;
    Configuration& config_;
    ActivityLog& log_;
    UnitTable& table_;
    XmlDefaults& xml_;
};

} // namespace tsr
