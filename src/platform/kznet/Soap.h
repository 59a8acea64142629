#pragma once
// The ONVIF SOAP requests the library sends to a standard camera and the
// readers of their answers. Requests are small templates with named fields;
// answers are read by local names, whatever prefixes the camera chose, and
// a SOAP Fault becomes a status. No XML type leaves this file pair.
//
// Every reader takes a pointer and a length and never reads past it.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pugi {
class xml_document;
class xml_node;
}

namespace kz::onvif {

// What an answer came to.
enum class SoapStatus {
    Ok,
    NotAuthorized, // a Fault naming the account (wrong user or password)
    Fault,         // any other Fault
    Malformed,     // not XML, or XML without the expected answer
};

// The requests of the device, media and PTZ services.
enum class Request {
    GetSystemDateAndTime,
    GetDeviceInformation,
    GetCapabilities,
    GetEndpointReference,
    GetProfiles,
    GetStreamUri,  // field ProfileToken
    GetSnapshotUri, // field ProfileToken
    ContinuousMove, // fields ProfileToken, X and Y: pan and tilt speeds from -1 to 1
    Stop,           // field ProfileToken: pan and tilt stop
};

// Named fields of a request template ("ProfileToken" -> "profile_1").
using Fields = std::map<std::string, std::string>;

// A WS-Security UsernameToken: Username, the password digest
// base64(SHA-1(nonce + created + password)), the nonce in base64 and the
// creation time in the camera's clock.
struct UsernameToken {
    std::string user;
    std::string digest;
    std::string nonce;
    std::string created;
};

// `nonce` is the raw nonce bytes; `created` the time text as sent.
UsernameToken MakeUsernameToken(const std::string& user, const std::string& password, const std::string& nonce, const std::string& created);
std::string PasswordDigest(const std::string& nonce, const std::string& created, const std::string& password);
std::string Base64(const std::string& bytes);
// xsd:dateTime in UTC, "2026-12-09T17:30:05Z".
std::string UtcText(std::time_t utc);

// The whole SOAP 1.2 envelope of `request`, with the token in its header
// when one is given. Field values are escaped; a field the template names
// but `fields` lacks is left empty.
std::string MakeRequest(Request request, const Fields& fields, const UsernameToken* token);
// The whole SOAP 1.2 envelope around `body`, an XML fragment given as it
// is (its own namespaces declared or among the envelope's), with the token
// in its header when one is given.
std::string MakeEnvelope(const std::string& body, const UsernameToken* token);
// The SOAP action of `request` (for the HTTP Content-Type's action).
const char* RequestAction(Request request);
// The body of `request` alone (what MakeRequest puts in the envelope).
std::string RequestBody(Request request, const Fields& fields);
// `text` with every "{Name}" replaced by the escaped field (empty when
// `fields` lacks it).
std::string FillTemplate(std::string_view text, const Fields& fields);

// ---- answers ---------------------------------------------------------------

struct DeviceInformation {
    std::string manufacturer;
    std::string model;
    std::string firmware;
    std::string serial;
    std::string hardware;
};

struct Capabilities {
    std::string media; // XAddr of the media service, empty when none
    std::string ptz;   // XAddr of the PTZ service, empty when none
    std::string events;    // XAddr of the event service, empty when none
    std::string analytics; // XAddr of the analytics service, empty when none
};

struct Profile {
    std::string token;
    std::string name;
    std::string videoEncoding; // "H264", "H265", "JPEG", empty when none
    int width = 0;
    int height = 0;
    int frameRate = 0;
    std::string audioEncoding; // "G711", "G726", "AAC", empty when none
    std::string videoSourceConfiguration; // its token: what privacy masks belong to
};

// The camera's UTC clock as seconds since 1970.
SoapStatus ReadSystemDateAndTime(const char* data, std::size_t n, std::time_t& utc);
SoapStatus ReadDeviceInformation(const char* data, std::size_t n, DeviceInformation& out);
SoapStatus ReadCapabilities(const char* data, std::size_t n, Capabilities& out);
// At most kMaxProfiles profiles are kept.
SoapStatus ReadProfiles(const char* data, std::size_t n, std::vector<Profile>& out);
// The Uri of a GetStreamUri or GetSnapshotUri answer.
SoapStatus ReadMediaUri(const char* data, std::size_t n, std::string& uri);
// The device's endpoint reference (GUID), as its discovery answers name it.
SoapStatus ReadEndpointReference(const char* data, std::size_t n, std::string& guid);
// Only whether the answer is a Fault, and which.
SoapStatus ReadFault(const char* data, std::size_t n);
// Loads an answer and finds its Body, for the readers of the services
// beyond the login's: a Fault gives its status (NotAuthorized for a wrong
// account); otherwise `body` is set and the status is Ok.
SoapStatus OpenAnswer(pugi::xml_document& document, const char* data, std::size_t n, pugi::xml_node& body);
// `text` with XML's five special characters as entities, for an element
// or an attribute value.
std::string XmlEscape(std::string_view text);

constexpr std::size_t kMaxProfiles = 32;
// Texts read from an answer are cut to this many bytes.
constexpr std::size_t kMaxAnswerText = 1024;

}
