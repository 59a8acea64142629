// The standards' search and HTTP account: WS-Discovery probes parsed back,
// ProbeMatches read by local names and dropped when they answer another
// probe or are malformed or huge; HTTP Digest against RFC 2617's own
// example, and the challenge a camera offers read as it is written.

#include "kznet/Discovery.h"
#include "kznet/HttpAuth.h"
#include "kznet/Protocol.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <arpa/inet.h>

#include <cstring>

using namespace kz::onvif;

namespace {

std::string probeMatches(const std::string& relatesTo, const std::string& xaddrs, const std::string& scopes)
{
    return "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:w=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
           " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><e:Header><w:RelatesTo> "
        + relatesTo + " </w:RelatesTo></e:Header><e:Body><d:ProbeMatches><d:ProbeMatch><w:EndpointReference><w:Address>"
          "urn:uuid:1b2c3d4e-0000-4000-8000-00408c1234ab</w:Address></w:EndpointReference><d:Types>dn:NetworkVideoTransmitter</d:Types>"
          "<d:Scopes>" + scopes + "</d:Scopes><d:XAddrs>" + xaddrs + "</d:XAddrs></d:ProbeMatch></d:ProbeMatches></e:Body></e:Envelope>";
}

}

TEST(kznetDiscovery, AProbeMatchOfOurProbeIsReadAndAnyOtherAnswerIsDropped)
{
    const std::string id = NewMessageId();
    EXPECT_NE(id, NewMessageId()) << "each probe has a message id of its own";
    ASSERT_EQ(id.rfind("urn:uuid:", 0), 0u);
    EXPECT_EQ(id.size(), std::strlen("urn:uuid:") + 36);

    // The probe asks for video transmitters under its message id.
    const std::string probe = MakeProbe(id);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(probe.c_str()));
    EXPECT_EQ(std::string(document.select_node("//*[local-name()='MessageID']").node().child_value()), id);
    EXPECT_EQ(std::string(document.select_node("//*[local-name()='Types']").node().child_value()), "dn:NetworkVideoTransmitter");

    // An IPv6 address first: the first http:// one with an IPv4 address counts.
    const std::string good = probeMatches(id, "http://[fe80::1]/onvif/device_service http://192.0.2.7:8899/onvif/device_service",
        "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/name/%E5%89%8D%E9%97%A8%20Porch onvif://www.onvif.org/hardware/X1");
    auto matches = ReadProbeMatches(good.data(), good.size(), { NewMessageId(), id });
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].host, "192.0.2.7");
    EXPECT_EQ(matches[0].port, 8899);
    EXPECT_EQ(matches[0].name, "前门 Porch");

    // Our search record of it: the name cut whole characters at a time,
    // the HTTP port as the port, device kind 100.
    matches[0].name = "前门前门前门前门 Porch"; // 24 bytes of characters first
    auto record = DiscoveryRecord(matches[0], EndpointIdentifier(matches[0].endpoint));
    ASSERT_EQ(record.size(), kz::kRecordLong);
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[kz::kRecIdAt]), "00408c1234ab");
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[kz::kRecNameAt]), "前门前门前门");
    EXPECT_EQ(record[kz::kRecPortAt] << 8 | record[kz::kRecPortAt + 1], 8899);
    EXPECT_EQ(record[kz::kRecValueAt] | record[kz::kRecValueAt + 1] << 8, kz::kDeviceKind100);

    const struct {
        const char* what;
        std::string text;
    } dropped[] = {
        { "another probe's answer", probeMatches(NewMessageId(), "http://192.0.2.7/onvif/device_service", "") },
        { "no address we can reach", probeMatches(id, "https://192.0.2.7/x http://camera.local/x", "") },
        { "not XML", "<e:Envelope><e:Header><w:RelatesTo>" + id + "</w:RelatesTo>" },
        { "not an envelope", "<RelatesTo>" + id + "</RelatesTo>" },
        { "huge", probeMatches(id, "http://192.0.2.7/x", std::string(kMaxProbeMatchesBytes, ' ')) },
        { "empty", "" },
    };
    for (const auto& c : dropped)
        EXPECT_TRUE(ReadProbeMatches(c.text.data(), c.text.size(), { id }).empty()) << c.what;
}

TEST(kznetHttpAuth, DigestAnswersRfc2617sExampleAndTheCamerasChallengeIsReadAsWritten)
{
    // RFC 2617, 3.5: the response is 6629fae49393a05397450978507c4ef1.
    const std::string head = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                             "www-authenticate: Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\",\r\n";
    Challenge folded = ReadChallenge(head.data(), head.size());
    EXPECT_EQ(folded.scheme, Challenge::Scheme::Basic) << "a Digest challenge without a nonce is no challenge";
    const std::string full = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                             "www-authenticate: Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
                             "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"\r\n";
    Challenge challenge = ReadChallenge(full.data(), full.size());
    ASSERT_EQ(challenge.scheme, Challenge::Scheme::Digest);
    EXPECT_TRUE(challenge.qopAuth);
    std::string answer = Authorization(challenge, "GET", "/dir/index.html", "Mufasa", "Circle Of Life", "0a4f113b");
    EXPECT_NE(answer.find("response=\"6629fae49393a05397450978507c4ef1\""), std::string::npos) << answer;
    EXPECT_NE(answer.find("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""), std::string::npos) << answer;
    EXPECT_NE(answer.find("nc=00000001"), std::string::npos) << answer;

    // Basic when that is all the camera offers; an algorithm we do not
    // speak is no challenge, and a user name cannot start a header.
    const std::string basic = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n"
                              "WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256\r\n";
    Challenge onlyBasic = ReadChallenge(basic.data(), basic.size());
    EXPECT_EQ(Authorization(onlyBasic, "GET", "/", "Aladdin", "open sesame", "c"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(Authorization(folded.scheme == Challenge::Scheme::Basic ? Challenge {} : folded, "GET", "/", "a", "b", "c"), "");
    Challenge digest = ReadChallenge(full.data(), full.size());
    EXPECT_EQ(Authorization(digest, "GET", "/", "a\r\nX-Evil: 1", "b", "c").find('\n'), std::string::npos);
}
