#pragma once

namespace tsr {

// Namespace URIs written into the outgoing JDF and JMF files. The neighbours
// match them as plain strings, so they never change once published.
inline constexpr const char* kJdfNamespace = "http://www.CIP4.org/JDFSchema_1_1";
// The press maker's extensions (mr:InkSweep, mr:Type); the preset system writes the same URI.
inline constexpr const char* kPressMakerNamespace = "http://www.example.com/schema/press-maker";
// The measurement system vendor's JMF extensions (qv:command).
inline constexpr const char* kMeasurementNamespace = "http://www.example.com/schema/measurement-vendor";

} // namespace tsr
