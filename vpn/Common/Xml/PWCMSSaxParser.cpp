#include "vpn/Common/Xml/PWCMSSaxParser.h"

#include <string>

#include "vpn/Common/Platform/ComObject.h"
#include "vpn/Common/Xml/XmlMgr.h"

namespace
{
std::wstring MakeText(const wchar_t* chars, int length)
{
    if (chars == nullptr || length <= 0)
    {
        return std::wstring();
    }
    return std::wstring(chars, static_cast<size_t>(length));
}
} // namespace

PWCMSSaxParser::PWCMSSaxParser(XmlMgr* manager) : m_manager(manager) {}

// The manager's callbacks run inside the platform reader, so each method runs its body through
// ReturnHresultFromCallback: an exception becomes a failure that stops the parse.

HRESULT STDMETHODCALLTYPE PWCMSSaxParser::startElement(const wchar_t*, int, const wchar_t* localName,
                                                       int localNameLength, const wchar_t*, int,
                                                       ISAXAttributes* attributes)
{
    return ReturnHresultFromCallback(
        [&]() -> HRESULT
        {
            int count = 0;
            if (attributes != nullptr)
            {
                (void)attributes->getLength(&count);
            }
            const std::wstring name = MakeText(localName, localNameLength);
            if (m_manager != nullptr)
            {
                m_manager->startElement(name);
                for (int index = 0; index < count; ++index)
                {
                    const wchar_t* attributeName = nullptr;
                    int attributeNameLength = 0;
                    const wchar_t* value = nullptr;
                    int valueLength = 0;
                    (void)attributes->getLocalName(index, &attributeName, &attributeNameLength);
                    (void)attributes->getValue(index, &value, &valueLength);
                    m_manager->addAttribute(MakeText(attributeName, attributeNameLength),
                                            MakeText(value, valueLength));
                }
            }
            if (name.compare(0, 2, L"qu") == 0)
            {
                return E_FAIL;
            }
            return S_OK;
        });
}

HRESULT STDMETHODCALLTYPE PWCMSSaxParser::endElement(const wchar_t*, int, const wchar_t* localName,
                                                     int localNameLength, const wchar_t*, int)
{
    return ReturnHresultFromCallback(
        [&]() -> HRESULT
        {
            if (m_manager != nullptr)
            {
                m_manager->endElement(MakeText(localName, localNameLength));
            }
            return S_OK;
        });
}

HRESULT STDMETHODCALLTYPE PWCMSSaxParser::characters(const wchar_t* chars, int length)
{
    return ReturnHresultFromCallback(
        [&]() -> HRESULT
        {
            if (m_manager != nullptr)
            {
                m_manager->setElementValue(MakeText(chars, length));
            }
            return S_OK;
        });
}
