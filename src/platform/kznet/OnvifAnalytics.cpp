// A standard camera's cell motion detector: PackBits, the mapping of its
// cells onto the editor's row masks, and the analytics requests.

#include "kznet/OnvifAnalytics.h"

#include "kznet/TextParts.h"

#include <nettle/base64.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace kz::onvif {

namespace {

using text::child;
using text::localName;

constexpr const char* kAnalyticsNamespace = "http://www.onvif.org/ver20/analytics/wsdl";
constexpr const char* kSchemaNamespace = "http://www.onvif.org/ver10/schema";
constexpr const char* kGetProfilesAction = "http://www.onvif.org/ver10/media/wsdl/GetProfiles";
constexpr const char* kGetModulesAction = "http://www.onvif.org/ver20/analytics/wsdl/GetAnalyticsModules";
constexpr const char* kGetRulesAction = "http://www.onvif.org/ver20/analytics/wsdl/GetRules";
constexpr const char* kModifyRulesAction = "http://www.onvif.org/ver20/analytics/wsdl/ModifyRules";
constexpr const char* kCellEngineType = "CellMotionEngine";
constexpr const char* kCellRuleType = "CellMotionDetector";
constexpr const char* kActiveCells = "ActiveCells";
constexpr int kRequestTimeoutMs = 4000;
constexpr int kBitsPerByte = 8;
constexpr unsigned kHighBit = 0x80;
// PackBits: a header n in 0..127 copies n + 1 bytes; 129..255 repeats the
// next byte 257 - n times; 128 is skipped.
constexpr int kLiteralMost = 128;
constexpr int kRepeatMost = 128;
constexpr int kRepeatBase = 257;
constexpr int kNoOperation = 128;
// ActiveCells longer than this (base64 text) are refused before decoding.
constexpr std::size_t kMaxCellsText = 4 * ((kMaxLayoutCells / kBitsPerByte) * 2 / 3 + 4);

pugi::xml_node find(const pugi::xml_node& node, std::string_view name)
{
    return node.find_node([name](const pugi::xml_node& c) { return c.type() == pugi::node_element && localName(c) == name; });
}

std::string_view afterPrefix(std::string_view qname)
{
    std::size_t colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

bool base64Decode(const std::string& text, std::string& out)
{
    std::string clean;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            clean += c;
    base64_decode_ctx context;
    base64_decode_init(&context);
    out.assign(BASE64_DECODE_LENGTH(clean.size()), '\0');
    std::size_t n = out.size();
    if (!base64_decode_update(&context, &n, reinterpret_cast<std::uint8_t*>(out.data()), clean.size(), clean.data()) || !base64_decode_final(&context))
        return false;
    out.resize(n);
    return true;
}

// The editor cell of camera cell `i` of `n`, when the editor has `m`.
int scaled(int i, int n, int m)
{
    return static_cast<int>(static_cast<long>(i) * m / n);
}

bool layoutOk(const CellLayout& layout)
{
    return layout.columns > 0 && layout.rows > 0 && static_cast<long>(layout.columns) * layout.rows <= kMaxLayoutCells;
}

Clock::time_point deadline()
{
    return Clock::now() + std::chrono::milliseconds(kRequestTimeoutMs);
}

GridResult failure(SoapStatus status)
{
    switch (status) {
    case SoapStatus::NotAuthorized: return GridResult::Refused;
    case SoapStatus::Fault: return GridResult::Unsupported;
    default: return GridResult::Failed;
    }
}

// What a grid request needs from the camera: the analytics configuration's
// token, the layout and the rule.
GridResult detector(const Session& session, std::string& token, CellLayout& layout, CellRule& rule, const std::atomic<bool>* cancel)
{
    if (session.AnalyticsService().host.empty())
        return GridResult::Unsupported;
    std::string answer;
    SoapStatus status = session.Send(session.MediaService(), kGetProfilesAction, "<GetProfiles xmlns=\"http://www.onvif.org/ver10/media/wsdl\"/>", answer,
        deadline(), cancel);
    if (status == SoapStatus::Ok)
        status = ReadAnalyticsToken(answer.data(), answer.size(), token);
    if (status != SoapStatus::Ok)
        return status == SoapStatus::Malformed ? GridResult::Unsupported : failure(status);
    const std::string tokenElement = "<ConfigurationToken>" + XmlEscape(token) + "</ConfigurationToken>";
    status = session.Send(session.AnalyticsService(), kGetModulesAction,
        std::string("<GetAnalyticsModules xmlns=\"") + kAnalyticsNamespace + "\">" + tokenElement + "</GetAnalyticsModules>", answer, deadline(), cancel);
    if (status == SoapStatus::Ok)
        status = ReadCellLayout(answer.data(), answer.size(), layout);
    if (status != SoapStatus::Ok)
        return status == SoapStatus::Malformed ? GridResult::Unsupported : failure(status);
    if (!layoutOk(layout))
        return GridResult::BadCells;
    status = session.Send(session.AnalyticsService(), kGetRulesAction,
        std::string("<GetRules xmlns=\"") + kAnalyticsNamespace + "\">" + tokenElement + "</GetRules>", answer, deadline(), cancel);
    if (status == SoapStatus::Ok)
        status = ReadCellRule(answer.data(), answer.size(), rule);
    if (status != SoapStatus::Ok)
        return status == SoapStatus::Malformed ? GridResult::Unsupported : failure(status);
    return GridResult::Ok;
}

}

bool UnpackBits(const std::string& packed, std::size_t limit, std::string& out)
{
    out.clear();
    std::size_t at = 0;
    while (at < packed.size()) {
        int header = static_cast<unsigned char>(packed[at++]);
        if (header == kNoOperation)
            continue;
        if (header < kNoOperation) {
            std::size_t count = static_cast<std::size_t>(header) + 1;
            if (packed.size() - at < count || out.size() + count > limit)
                return false;
            out.append(packed, at, count);
            at += count;
        } else {
            std::size_t count = static_cast<std::size_t>(kRepeatBase - header);
            if (at >= packed.size() || out.size() + count > limit)
                return false;
            out.append(count, packed[at++]);
        }
    }
    return true;
}

std::string PackBits(const std::string& bytes)
{
    std::string out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t run = 1;
        while (at + run < bytes.size() && bytes[at + run] == bytes[at] && run < static_cast<std::size_t>(kRepeatMost))
            ++run;
        if (run >= 2) {
            out += static_cast<char>(kRepeatBase - static_cast<int>(run));
            out += bytes[at];
            at += run;
            continue;
        }
        // Literal bytes up to the next run of two or more.
        std::size_t end = at;
        while (end < bytes.size() && end - at < static_cast<std::size_t>(kLiteralMost)
            && !(end + 1 < bytes.size() && bytes[end + 1] == bytes[end]))
            ++end;
        if (end == at)
            end = at + 1;
        out += static_cast<char>(end - at - 1);
        out.append(bytes, at, end - at);
        at = end;
    }
    return out;
}

CellLayout EditorGrid(const CellLayout& layout)
{
    return { std::min(layout.columns, kMaxGridColumns), std::min(layout.rows, kMaxGridRows) };
}

bool CellsToMasks(const std::string& activeCells, const CellLayout& layout, std::vector<std::uint16_t>& masks)
{
    if (!layoutOk(layout) || activeCells.size() > kMaxCellsText)
        return false;
    std::string packed, bits;
    const std::size_t cells = static_cast<std::size_t>(layout.columns) * static_cast<std::size_t>(layout.rows);
    if (!base64Decode(activeCells, packed) || !UnpackBits(packed, (cells + kBitsPerByte - 1) / kBitsPerByte, bits))
        return false;
    CellLayout editor = EditorGrid(layout);
    masks.assign(static_cast<std::size_t>(editor.rows), 0);
    for (std::size_t i = 0; i < cells && i / kBitsPerByte < bits.size(); ++i) {
        if (!(static_cast<unsigned char>(bits[i / kBitsPerByte]) & (kHighBit >> (i % kBitsPerByte))))
            continue;
        int row = static_cast<int>(i / static_cast<std::size_t>(layout.columns)), column = static_cast<int>(i % static_cast<std::size_t>(layout.columns));
        masks[static_cast<std::size_t>(scaled(row, layout.rows, editor.rows))] |= static_cast<std::uint16_t>(1u << scaled(column, layout.columns, editor.columns));
    }
    return true;
}

std::string MasksToCells(const std::vector<std::uint16_t>& masks, const CellLayout& layout)
{
    if (!layoutOk(layout))
        return {};
    CellLayout editor = EditorGrid(layout);
    const std::size_t cells = static_cast<std::size_t>(layout.columns) * static_cast<std::size_t>(layout.rows);
    std::string bits((cells + kBitsPerByte - 1) / kBitsPerByte, '\0');
    for (std::size_t i = 0; i < cells; ++i) {
        int row = static_cast<int>(i / static_cast<std::size_t>(layout.columns)), column = static_cast<int>(i % static_cast<std::size_t>(layout.columns));
        std::size_t mask = static_cast<std::size_t>(scaled(row, layout.rows, editor.rows));
        if (mask < masks.size() && (masks[mask] >> scaled(column, layout.columns, editor.columns)) & 1u)
            bits[i / kBitsPerByte] = static_cast<char>(static_cast<unsigned char>(bits[i / kBitsPerByte]) | (kHighBit >> (i % kBitsPerByte)));
    }
    return Base64(PackBits(bits));
}

std::string CellRule::ActiveCells() const
{
    for (const auto& [name, value] : parameters)
        if (name == kActiveCells)
            return value;
    return {};
}

SoapStatus ReadAnalyticsToken(const char* data, std::size_t n, std::string& token)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node profile = child(child(body, "GetProfilesResponse"), "Profiles");
    token = std::string(child(profile, "VideoAnalyticsConfiguration").attribute("token").value()).substr(0, kMaxAnswerText);
    return token.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
}

SoapStatus ReadCellLayout(const char* data, std::size_t n, CellLayout& out)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(body, "GetAnalyticsModulesResponse");
    for (pugi::xml_node module = answer.first_child(); module; module = module.next_sibling()) {
        if (module.type() != pugi::node_element || localName(module) != "AnalyticsModule" || afterPrefix(module.attribute("Type").value()) != kCellEngineType)
            continue;
        pugi::xml_node layout = find(module, "CellLayout");
        char* end = nullptr;
        long columns = std::strtol(layout.attribute("Columns").value(), &end, 10);
        long rows = std::strtol(layout.attribute("Rows").value(), &end, 10);
        if (!layout || columns <= 0 || rows <= 0 || columns > kMaxLayoutCells || rows > kMaxLayoutCells)
            return SoapStatus::Malformed;
        out.columns = static_cast<int>(columns);
        out.rows = static_cast<int>(rows);
        return SoapStatus::Ok;
    }
    return SoapStatus::Malformed;
}

SoapStatus ReadCellRule(const char* data, std::size_t n, CellRule& out)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(body, "GetRulesResponse");
    for (pugi::xml_node rule = answer.first_child(); rule; rule = rule.next_sibling()) {
        if (rule.type() != pugi::node_element || localName(rule) != "Rule" || afterPrefix(rule.attribute("Type").value()) != kCellRuleType)
            continue;
        out.name = std::string(rule.attribute("Name").value()).substr(0, kMaxAnswerText);
        out.parameters.clear();
        for (pugi::xml_node item = child(rule, "Parameters").first_child(); item; item = item.next_sibling())
            if (item.type() == pugi::node_element && localName(item) == "SimpleItem" && out.parameters.size() < kMaxGridRows * kMaxGridColumns)
                out.parameters.emplace_back(item.attribute("Name").value(), std::string(item.attribute("Value").value()).substr(0, kMaxCellsText));
        return out.name.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
    }
    return SoapStatus::Malformed;
}

GridResult ReadMotionGrid(const Session& session, MotionGrid& out, const std::atomic<bool>* cancel)
{
    std::string token;
    CellLayout layout;
    CellRule rule;
    if (GridResult result = detector(session, token, layout, rule, cancel); result != GridResult::Ok)
        return result;
    out.editor = EditorGrid(layout);
    return CellsToMasks(rule.ActiveCells(), layout, out.masks) ? GridResult::Ok : GridResult::BadCells;
}

GridResult WriteMotionGrid(const Session& session, const std::vector<std::uint16_t>& masks, const std::vector<bool>& given,
    const std::atomic<bool>* cancel)
{
    std::string token;
    CellLayout layout;
    CellRule rule;
    if (GridResult result = detector(session, token, layout, rule, cancel); result != GridResult::Ok)
        return result;
    std::vector<std::uint16_t> merged;
    if (!CellsToMasks(rule.ActiveCells(), layout, merged))
        merged.assign(static_cast<std::size_t>(EditorGrid(layout).rows), 0);
    for (std::size_t row = 0; row < merged.size() && row < masks.size(); ++row)
        if (row < given.size() && given[row])
            merged[row] = masks[row];
    std::string cells = MasksToCells(merged, layout);
    // The rule goes back whole, as the camera gave it, with the new cells.
    std::string parameters;
    bool hadCells = false;
    for (const auto& [name, value] : rule.parameters) {
        hadCells = hadCells || name == kActiveCells;
        parameters += "<tt:SimpleItem Name=\"" + XmlEscape(name) + "\" Value=\"" + XmlEscape(name == kActiveCells ? cells : value) + "\"/>";
    }
    if (!hadCells)
        parameters += std::string("<tt:SimpleItem Name=\"") + kActiveCells + "\" Value=\"" + cells + "\"/>";
    std::string body = std::string("<ModifyRules xmlns=\"") + kAnalyticsNamespace + "\" xmlns:tt=\"" + kSchemaNamespace + "\"><ConfigurationToken>"
        + XmlEscape(token) + "</ConfigurationToken><Rule Name=\"" + XmlEscape(rule.name) + "\" Type=\"tt:" + kCellRuleType + "\"><tt:Parameters>" + parameters
        + "</tt:Parameters></Rule></ModifyRules>";
    std::string answer;
    SoapStatus status = session.Send(session.AnalyticsService(), kModifyRulesAction, body, answer, deadline(), cancel);
    return status == SoapStatus::Ok ? GridResult::Ok : failure(status);
}

}
