// The ONVIF SOAP requests parsed back with pugixml, the UsernameToken
// digest against a value computed apart (Python's hashlib), and answers
// read by local names whatever their prefixes, with Faults as statuses.

#include "kznet/Soap.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <string_view>

using namespace kz::onvif;

namespace {

std::string_view local(const pugi::xml_node& node)
{
    std::string_view name = node.name();
    std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node childNamed(const pugi::xml_node& node, std::string_view name)
{
    for (pugi::xml_node c : node.children())
        if (local(c) == name)
            return c;
    return {};
}

}

TEST(kznetSoap, EveryRequestParsesBackWithItsOperationFieldsAndToken)
{
    // base64(SHA-1(nonce + created + password)), from Python's hashlib.
    const std::string nonce = "0123456789abcdef";
    const std::string created = "2026-12-09T17:30:05Z";
    UsernameToken token = MakeUsernameToken("ad<min>", "secret", nonce, created);
    EXPECT_EQ(token.digest, "mTCgD2hzvCZUfTAzrd7hLUU3Ry8=");
    EXPECT_EQ(token.nonce, "MDEyMzQ1Njc4OWFiY2RlZg==");
    EXPECT_EQ(UtcText(1796837405), created);

    struct Case {
        Request request;
        const char* operation;
        const char* service; // the namespace of the operation
    } cases[] = {
        { Request::GetSystemDateAndTime, "GetSystemDateAndTime", "http://www.onvif.org/ver10/device/wsdl" },
        { Request::GetDeviceInformation, "GetDeviceInformation", "http://www.onvif.org/ver10/device/wsdl" },
        { Request::GetCapabilities, "GetCapabilities", "http://www.onvif.org/ver10/device/wsdl" },
        { Request::GetProfiles, "GetProfiles", "http://www.onvif.org/ver10/media/wsdl" },
        { Request::GetStreamUri, "GetStreamUri", "http://www.onvif.org/ver10/media/wsdl" },
        { Request::GetSnapshotUri, "GetSnapshotUri", "http://www.onvif.org/ver10/media/wsdl" },
        { Request::ContinuousMove, "ContinuousMove", "http://www.onvif.org/ver20/ptz/wsdl" },
        { Request::Stop, "Stop", "http://www.onvif.org/ver20/ptz/wsdl" },
    };
    const std::string profile = "pro\"file&<1>";
    for (auto& c : cases) {
        std::string text = MakeRequest(c.request, { { "ProfileToken", profile }, { "X", "-0.50" }, { "Y", "0.25" } }, &token);
        pugi::xml_document document;
        ASSERT_TRUE(document.load_string(text.c_str())) << c.operation;
        pugi::xml_node envelope = document.document_element();
        EXPECT_EQ(local(envelope), "Envelope");
        EXPECT_EQ(std::string(envelope.attribute("xmlns:s").value()), "http://www.w3.org/2003/05/soap-envelope");
        pugi::xml_node operation = childNamed(childNamed(envelope, "Body"), c.operation);
        ASSERT_TRUE(operation) << c.operation;
        std::string prefix(std::string_view(operation.name()).substr(0, std::string_view(operation.name()).find(':')));
        EXPECT_EQ(std::string(envelope.attribute(("xmlns:" + prefix).c_str()).value()), c.service) << c.operation;
        EXPECT_STREQ(RequestAction(c.request), (std::string(c.service) + "/" + c.operation).c_str());
        if (pugi::xml_node field = childNamed(operation, "ProfileToken")) {
            EXPECT_EQ(field.child_value(), profile) << c.operation;
        }
        if (pugi::xml_node velocity = childNamed(childNamed(operation, "Velocity"), "PanTilt")) {
            EXPECT_DOUBLE_EQ(velocity.attribute("x").as_double(), -0.5);
            EXPECT_DOUBLE_EQ(velocity.attribute("y").as_double(), 0.25);
        }

        pugi::xml_node user = childNamed(childNamed(childNamed(childNamed(envelope, "Header"), "Security"), "UsernameToken"), "Username");
        ASSERT_TRUE(user) << c.operation;
        EXPECT_STREQ(user.child_value(), "ad<min>");
        pugi::xml_node password = user.parent().child("wsse:Password");
        EXPECT_EQ(std::string(password.child_value()), token.digest);
        EXPECT_NE(std::string(password.attribute("Type").value()).find("#PasswordDigest"), std::string::npos);
        EXPECT_EQ(std::string(user.parent().child("wsse:Nonce").child_value()), token.nonce);
        EXPECT_EQ(std::string(user.parent().child("wsu:Created").child_value()), created);
    }
    // Without a token there is no header at all.
    pugi::xml_document bare;
    ASSERT_TRUE(bare.load_string(MakeRequest(Request::GetSystemDateAndTime, {}, nullptr).c_str()));
    EXPECT_FALSE(childNamed(bare.document_element(), "Header"));
}

TEST(kznetSoap, AnswersAreReadByLocalNamesWhateverThePrefixes)
{
    // A default namespace and no prefixes at all, then prefixes of its own.
    const std::string profiles =
        "<Envelope xmlns='http://www.w3.org/2003/05/soap-envelope'><Body>"
        "<GetProfilesResponse xmlns='http://www.onvif.org/ver10/media/wsdl'>"
        "<Profiles token='p0'><Name>first</Name><VideoEncoderConfiguration><Encoding>H264</Encoding>"
        "<Resolution><Width>1920</Width><Height>1080</Height></Resolution><RateControl><FrameRateLimit>25</FrameRateLimit></RateControl>"
        "</VideoEncoderConfiguration><AudioEncoderConfiguration><Encoding>G711</Encoding></AudioEncoderConfiguration></Profiles>"
        "<Profiles><Name>no token: left out</Name></Profiles>"
        "<Profiles token='p1'><Name>second</Name><VideoEncoderConfiguration><Encoding>JPEG</Encoding>"
        "<Resolution><Width>-5</Width><Height>x</Height></Resolution></VideoEncoderConfiguration></Profiles>"
        "</GetProfilesResponse></Body></Envelope>";
    std::vector<Profile> out;
    ASSERT_EQ(ReadProfiles(profiles.data(), profiles.size(), out), SoapStatus::Ok);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].token, "p0");
    EXPECT_EQ(out[0].videoEncoding, "H264");
    EXPECT_EQ(out[0].width, 1920);
    EXPECT_EQ(out[0].height, 1080);
    EXPECT_EQ(out[0].frameRate, 25);
    EXPECT_EQ(out[0].audioEncoding, "G711");
    EXPECT_EQ(out[1].token, "p1");
    EXPECT_EQ(out[1].width, 0) << "a negative width is no width";
    EXPECT_EQ(out[1].height, 0);

    const std::string device =
        "<x:Envelope xmlns:x='http://www.w3.org/2003/05/soap-envelope' xmlns:d='http://www.onvif.org/ver10/device/wsdl'><x:Body>"
        "<d:GetDeviceInformationResponse><d:Manufacturer> Maker </d:Manufacturer><d:Model>M1</d:Model>"
        "<d:FirmwareVersion>2.1</d:FirmwareVersion><d:SerialNumber>SN42</d:SerialNumber><d:HardwareId>H</d:HardwareId>"
        "</d:GetDeviceInformationResponse></x:Body></x:Envelope>";
    DeviceInformation info;
    ASSERT_EQ(ReadDeviceInformation(device.data(), device.size(), info), SoapStatus::Ok);
    EXPECT_EQ(info.manufacturer, "Maker");
    EXPECT_EQ(info.model, "M1");
    EXPECT_EQ(info.firmware, "2.1");
    EXPECT_EQ(info.serial, "SN42");

    const std::string clock =
        "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope' xmlns:s='http://www.onvif.org/ver10/schema'><e:Body>"
        "<GetSystemDateAndTimeResponse><SystemDateAndTime><s:UTCDateTime><s:Date><s:Year>2026</s:Year><s:Month>12</s:Month><s:Day>9</s:Day>"
        "</s:Date><s:Time><s:Hour>17</s:Hour><s:Minute>30</s:Minute><s:Second>5</s:Second></s:Time></s:UTCDateTime></SystemDateAndTime>"
        "</GetSystemDateAndTimeResponse></e:Body></e:Envelope>";
    std::time_t utc = 0;
    ASSERT_EQ(ReadSystemDateAndTime(clock.data(), clock.size(), utc), SoapStatus::Ok);
    EXPECT_EQ(UtcText(utc), "2026-12-09T17:30:05Z");
    std::string badMonth = clock;
    badMonth.replace(badMonth.find(">12<"), 4, ">13<");
    EXPECT_EQ(ReadSystemDateAndTime(badMonth.data(), badMonth.size(), utc), SoapStatus::Malformed);
}

TEST(kznetSoap, FaultsBecomeStatusesAndBadInputIsMalformed)
{
    auto fault = [](const std::string& code) {
        return "<soap:Envelope xmlns:soap='http://www.w3.org/2003/05/soap-envelope' xmlns:ter='http://www.onvif.org/ver10/error'><soap:Body>"
               "<soap:Fault><soap:Code><soap:Value>soap:Sender</soap:Value><soap:Subcode><soap:Value>"
            + code + "</soap:Value></soap:Subcode></soap:Code><soap:Reason><soap:Text>no</soap:Text></soap:Reason></soap:Fault></soap:Body></soap:Envelope>";
    };
    const std::string soap11 =
        "<S:Envelope xmlns:S='http://schemas.xmlsoap.org/soap/envelope/'><S:Body><S:Fault><faultcode>wsse:FailedAuthentication</faultcode>"
        "<faultstring>bad</faultstring></S:Fault></S:Body></S:Envelope>";
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<a>";
    struct Case {
        const char* what;
        std::string answer;
        SoapStatus status;
    } cases[] = {
        { "wrong account", fault("ter:NotAuthorized"), SoapStatus::NotAuthorized },
        { "WS-Security's own refusal, SOAP 1.1", soap11, SoapStatus::NotAuthorized },
        { "another fault", fault("ter:ActionNotSupported"), SoapStatus::Fault },
        { "not XML", "HTTP/1.1 404 Not Found", SoapStatus::Malformed },
        { "empty", "", SoapStatus::Malformed },
        { "no body", "<Envelope><Header/></Envelope>", SoapStatus::Malformed },
        { "not an envelope", "<Body><Fault/></Body>", SoapStatus::Malformed },
        { "cut short", fault("ter:NotAuthorized").substr(0, 120), SoapStatus::Malformed },
        { "nested past any answer", "<Envelope><Body>" + deep, SoapStatus::Malformed },
    };
    for (auto& c : cases) {
        EXPECT_EQ(ReadFault(c.answer.data(), c.answer.size()), c.status) << c.what;
        DeviceInformation info;
        EXPECT_EQ(ReadDeviceInformation(c.answer.data(), c.answer.size(), info), c.status) << c.what;
    }
    // An answer without the expected element is no answer.
    const std::string other = "<Envelope><Body><SomethingElse/></Body></Envelope>";
    std::string uri;
    EXPECT_EQ(ReadMediaUri(other.data(), other.size(), uri), SoapStatus::Malformed);
    Capabilities capabilities;
    EXPECT_EQ(ReadCapabilities(other.data(), other.size(), capabilities), SoapStatus::Malformed);
}
