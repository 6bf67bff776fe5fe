#pragma once

namespace tsr {

// The JDF namespace URI written into the outgoing JDF and JMF files. The
// neighbours match it as a plain string. The press maker's (mr:) and the
// measurement vendor's (qv:) URIs come from the configuration.
inline constexpr const char* kJdfNamespace = "http://www.CIP4.org/JDFSchema_1_1";

} // namespace tsr
