#include "PolicyDocument.h"

std::string PolicyRootLine(const std::string& version)
{
    const std::string ns = "http://www.veskar.com/pathweave/LocalPolicy";
    return "<PathweaveLocalPolicy xmlns=\"" + ns +
           "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:schemaLocation=\"" + ns +
           " PathweaveLocalPolicy.xsd\" pwversion=\"" + version + "\">";
}

std::string PolicyFile(const std::vector<std::string>& body, const std::string& version)
{
    std::string file = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + PolicyRootLine(version) + "\r\n";
    for (const std::string& line : body)
    {
        file += line + "\r\n";
    }
    return file + "</PathweaveLocalPolicy>\r\n";
}
