#pragma once
// Small helpers the standards dialect's readers share: header values
// trimmed, and XML elements found by their local names, whatever prefix a
// camera gives their namespaces.

#include <pugixml.hpp>

#include <string_view>

namespace kz::text {

// Without the spaces, tabs and a carriage return around it.
inline std::string_view trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// "tds:Model" -> "Model".
inline std::string_view localName(const pugi::xml_node& node)
{
    std::string_view name = node.name();
    std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first child element of that local name; empty when there is none.
inline pugi::xml_node child(const pugi::xml_node& node, std::string_view name)
{
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && localName(c) == name)
            return c;
    return {};
}

}
