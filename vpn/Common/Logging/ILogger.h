#pragma once

#include "vpn/Common/Logging/ResultCodes.h"

// A sink of the diagnostic log: receives one formatted catalogue message at a time.
class ILogger
{
public:
    // severity: the message's severity (0 to 3 error, 4 warning, 5 and 6 information, 7 debug);
    // levelChar: the caller's level character ('E', 'W', 'I', 'T'), widened to int.
    [[nodiscard]] virtual ResultCode log(int severity, const char* text, const char* messageName,
                                         unsigned int messageId, int levelChar) = 0;
    virtual ~ILogger() = default;
};
