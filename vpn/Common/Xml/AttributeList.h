#pragma once

#include <string>
#include <utility>
#include <vector>

// The attributes of one start tag: (name, value) pairs of wide strings, kept in the order in
// which they were added.
class AttributeList
{
public:
    using Attribute = std::pair<std::wstring, std::wstring>;
    using const_iterator = std::vector<Attribute>::const_iterator;

    void add(std::wstring name, std::wstring value)
    {
        m_attributes.emplace_back(std::move(name), std::move(value));
    }

    const_iterator begin() const { return m_attributes.begin(); }
    const_iterator end() const { return m_attributes.end(); }
    size_t size() const { return m_attributes.size(); }
    bool empty() const { return m_attributes.empty(); }

private:
    std::vector<Attribute> m_attributes;
};
