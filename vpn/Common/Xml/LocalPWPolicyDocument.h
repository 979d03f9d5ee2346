#pragma once

// The policy file's document: the declaration, the root with its namespace, schema location and
// version, the top-level policies, then the update group with the server list, each set in the
// plain order of its names.

#include "vpn/Common/Logging/ResultCodes.h"
#include "vpn/Common/Xml/LocalPWPolicyFormat.h"
#include "vpn/Common/Xml/SaxWriterIfc.h"

class LocalPWPolicyDocument
{
public:
    // Builds the document from the two value sets in writer (which receives startDocument to
    // endDocument). 0, or the first code that a writer call returned.
    [[nodiscard]] static ResultCode build(SaxWriterIfc& writer, const PolicyValues& top,
                                          const PolicyValues& update);
};
