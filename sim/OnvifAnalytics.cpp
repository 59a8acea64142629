#include "sim/OnvifAnalytics.h"
#include "sim/HttpStatus.h"

#include "sim/XmlNames.h"

#include <nettle/base64.h>

#include <algorithm>
#include <string_view>

namespace sim {

namespace {

using xml::child;
using xml::localName;

constexpr int kBitsPerByte = 8;
constexpr int kMinCount = 5;
constexpr int kAlarmDelayMs = 1000;
constexpr int kSensitivity = 50;
// PackBits: a repeat of n bytes has the header 257 - n; n is at most 128.
constexpr int kRepeatBase = 257;
constexpr std::size_t kRepeatMost = 128;
constexpr int kNothing = -128;
constexpr unsigned kAllBits = 0xFF;

constexpr const char* kEnvelopeOpen =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tan=\"http://www.onvif.org/ver20/analytics/wsdl\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\""
    " xmlns:xs=\"http://www.w3.org/2001/XMLSchema\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\">\n<env:Body>";
constexpr const char* kEnvelopeClose = "</env:Body>\n</env:Envelope>\n";

std::string envelope(const std::string& body)
{
    return kEnvelopeOpen + body + kEnvelopeClose;
}

AnalyticsService::Answer fault(int status, const char* code, const char* subcode, const char* reason)
{
    return { status, envelope(std::string("<env:Fault><env:Code><env:Value>") + code + "</env:Value><env:Subcode><env:Value>" + subcode
                         + "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" + reason
                         + "</env:Text></env:Reason></env:Fault>") };
}

std::string base64(const std::string& bytes)
{
    std::string out(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
    base64_encode_raw(out.data(), bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()));
    return out;
}

// The camera's own PackBits reading (TIFF): a header below 128 copies that
// many plus one bytes, above 128 repeats the next byte 257 minus it times,
// 128 is nothing. False when a run is cut short or the bytes pass `most`.
bool unpack(const std::string& in, std::size_t most, std::string& out)
{
    std::size_t i = 0;
    while (i < in.size()) {
        int n = static_cast<signed char>(in[i++]);
        if (n == kNothing)
            continue;
        std::size_t count = n >= 0 ? static_cast<std::size_t>(n) + 1 : static_cast<std::size_t>(1 - n);
        if (out.size() + count > most)
            return false;
        if (n >= 0) {
            if (in.size() - i < count)
                return false;
            out += in.substr(i, count);
            i += count;
        } else {
            if (i >= in.size())
                return false;
            out.append(count, in[i++]);
        }
    }
    return true;
}

bool cellsOk(const std::string& text, std::size_t cells)
{
    base64_decode_ctx context;
    base64_decode_init(&context);
    std::string packed(BASE64_DECODE_LENGTH(text.size()), '\0');
    std::size_t n = packed.size();
    if (text.empty() || !base64_decode_update(&context, &n, reinterpret_cast<std::uint8_t*>(packed.data()), text.size(), text.data())
        || !base64_decode_final(&context))
        return false;
    packed.resize(n);
    std::string bits;
    return unpack(packed, (cells + kBitsPerByte - 1) / kBitsPerByte, bits);
}

}

AnalyticsService::AnalyticsService(Camera::State& state) : m_state(state)
{
    // Every cell on: one run of 0xFF bytes, then the last byte with its padding bits off.
    std::size_t cells = static_cast<std::size_t>(std::max(state.config.cols, 1)) * static_cast<std::size_t>(std::max(state.config.rows, 1));
    std::string bits(cells / kBitsPerByte, static_cast<char>(kAllBits));
    if (cells % kBitsPerByte)
        bits += static_cast<char>((kAllBits << (kBitsPerByte - cells % kBitsPerByte)) & kAllBits);
    std::string packed;
    for (std::size_t at = 0; at < bits.size();) {
        std::size_t run = 1;
        while (at + run < bits.size() && bits[at + run] == bits[at] && run < kRepeatMost)
            ++run;
        packed += static_cast<char>(kRepeatBase - static_cast<int>(run));
        packed += bits[at];
        at += run;
    }
    m_cells = base64(packed);
}

std::string AnalyticsService::ActiveCells() const
{
    std::lock_guard lock(m_mutex);
    return m_cells;
}

AnalyticsService::Answer AnalyticsService::Handle(const pugi::xml_node& operationNode)
{
    const std::string operation(localName(operationNode));
    const CameraConfig& config = m_state.config;
    if (operation != "GetSupportedRules" && std::string_view(child(operationNode, "ConfigurationToken").child_value()) != kAnalyticsToken)
        return fault(kHttpBadRequest, "env:Sender", "ter:NoConfig", "No such configuration");
    const std::size_t cells = static_cast<std::size_t>(config.cols) * static_cast<std::size_t>(config.rows);
    if (operation == "GetAnalyticsModules") {
        return { kHttpOk, envelope("<tan:GetAnalyticsModulesResponse><tan:AnalyticsModule Name=\"cell_motion_engine\" Type=\"tt:CellMotionEngine\">"
                                   "<tt:Parameters><tt:SimpleItem Name=\"Sensitivity\" Value=\""
                              + std::to_string(kSensitivity) + "\"/><tt:ElementItem Name=\"Layout\"><tt:CellLayout Columns=\"" + std::to_string(config.cols)
                              + "\" Rows=\"" + std::to_string(config.rows)
                              + "\"><tt:Transformation><tt:Translate x=\"-1.0\" y=\"-1.0\"/><tt:Scale x=\"" + std::to_string(2.0 / config.cols)
                              + "\" y=\"" + std::to_string(2.0 / config.rows)
                              + "\"/></tt:Transformation></tt:CellLayout></tt:ElementItem></tt:Parameters></tan:AnalyticsModule>"
                                "</tan:GetAnalyticsModulesResponse>") };
    }
    if (operation == "GetRules") {
        return { kHttpOk, envelope(std::string("<tan:GetRulesResponse><tan:Rule Name=\"") + kCellRuleName
                              + "\" Type=\"tt:CellMotionDetector\"><tt:Parameters><tt:SimpleItem Name=\"MinCount\" Value=\"" + std::to_string(kMinCount)
                              + "\"/><tt:SimpleItem Name=\"AlarmOnDelay\" Value=\"" + std::to_string(kAlarmDelayMs)
                              + "\"/><tt:SimpleItem Name=\"AlarmOffDelay\" Value=\"" + std::to_string(kAlarmDelayMs)
                              + "\"/><tt:SimpleItem Name=\"ActiveCells\" Value=\"" + ActiveCells()
                              + "\"/></tt:Parameters></tan:Rule></tan:GetRulesResponse>") };
    }
    if (operation == "GetSupportedRules") {
        return { kHttpOk, envelope("<tan:GetSupportedRulesResponse><tan:SupportedRules><tt:RuleDescription Name=\"tt:CellMotionDetector\">"
                                   "<tt:Parameters><tt:SimpleItemDescription Name=\"ActiveCells\" Type=\"xs:base64Binary\"/></tt:Parameters>"
                                   "</tt:RuleDescription></tan:SupportedRules></tan:GetSupportedRulesResponse>") };
    }
    if (operation == "ModifyRules") {
        pugi::xml_node rule = child(operationNode, "Rule");
        if (std::string_view(rule.attribute("Name").value()) != kCellRuleName)
            return fault(kHttpBadRequest, "env:Sender", "ter:RuleNotExistent", "No such rule");
        for (pugi::xml_node item = child(rule, "Parameters").first_child(); item; item = item.next_sibling()) {
            if (localName(item) != "SimpleItem" || std::string_view(item.attribute("Name").value()) != "ActiveCells")
                continue;
            std::string value = item.attribute("Value").value();
            if (!cellsOk(value, cells))
                return fault(kHttpBadRequest, "env:Sender", "ter:InvalidArgVal", "ActiveCells do not fit the cell layout");
            {
                std::lock_guard lock(m_mutex);
                m_cells = value;
            }
            std::lock_guard lock(m_state.mutex);
            m_state.onvifLog.push_back("ModifyRules " + value);
            m_state.Notify();
        }
        return { kHttpOk, envelope("<tan:ModifyRulesResponse/>") };
    }
    return fault(kHttpServerError, "env:Receiver", "ter:ActionNotSupported", "Not supported");
}

}
