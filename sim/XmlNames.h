#pragma once
// The simulated camera's reading of SOAP and discovery messages by local
// names, whatever prefixes the client gives their namespaces.

#include <pugixml.hpp>

#include <string_view>

namespace sim::xml {

// "tds:GetProfiles" -> "GetProfiles".
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
