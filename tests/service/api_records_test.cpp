#include "service/api.h"

#include <gtest/gtest.h>

// The decoding rules, record by record. The calls that use these records are
// exercised over HTTP in api_test.cpp.
namespace {

using Recording = Api::Envelope<Api::Recording>;

template <typename R>
bool decodes(const char* json)
{
    return decodeAnswer<R>(QByteArray(json)).has_value();
}

TEST(ApiRecords, RecordingRequiredAndOptionalMembers)
{
    const auto full = decodeAnswer<Recording>(R"({"data":{"id":42,"status":"ready","transcript":"текст",
        "failure":null,"duration_sec":3600,"extra":[1,2],
        "minutes":{"summary":"s","decisions":["d"],"tasks":[{"what":"w","who":"o","when":"n"}],"questions":[]}}})");
    // Only the status and the failure are read; the rest must only be well formed.
    ASSERT_TRUE(full);
    EXPECT_EQ(full->data.id, 42);
    EXPECT_EQ(full->data.status, "ready");
    EXPECT_FALSE(full->data.failure);

    EXPECT_TRUE(decodes<Recording>(R"({"data":{"id":1,"status":"processing"}})"));
    EXPECT_TRUE(decodes<Recording>(R"({"data":{"id":1,"status":"x","minutes":null,"transcript":null}})"));
    // The envelope: "data" required and an object.
    EXPECT_FALSE(decodes<Recording>(R"({"id":1,"status":"x"})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":null})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":[]})"));
    // Required members: absent, null, or of another type.
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"status":"x"}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":null,"status":"x"}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":"7","status":"x"}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":7}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1}})"));
    // Optional members present with the wrong type.
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":"x","failure":false}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":"x","duration_sec":"60"}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":"x","durationSec":60,"duration_sec":1.5}})"));
    // Minutes, when present, need all four members, each of its type.
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":"x",
        "minutes":{"summary":"s","decisions":[],"tasks":[]}}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":"x",
        "minutes":{"summary":"s","decisions":[1],"tasks":[],"questions":[]}}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":"x",
        "minutes":{"summary":"s","decisions":[],"tasks":[{"what":"w","who":"o"}],"questions":[]}}})"));
    EXPECT_FALSE(decodes<Recording>(R"({"data":{"id":1,"status":"x",
        "minutes":{"summary":"s","decisions":[null],"tasks":[],"questions":[]}}})"));
}

TEST(ApiRecords, IntegersAreIntegralAndFitSixtyFourBits)
{
    const auto id = [](const char* number) -> std::optional<qint64> {
        const auto r = decodeAnswer<Recording>(QByteArray(R"({"data":{"status":"x","id":)") + number + "}}");
        return r ? std::optional(r->data.id) : std::nullopt;
    };
    const std::pair<const char*, qint64> accepted[] = {{"0", 0}, {"-5", -5}, {"2.0", 2}, {"1e3", 1000},
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"-9223372036854775808", std::numeric_limits<qint64>::min()}};
    for (const auto& [number, value] : accepted)
        EXPECT_EQ(id(number), value) << number;
    for (const char* number : {"1.5", "1e30", "-1e30", "9223372036854775808", "\"7\"", "true", "[1]"})
        EXPECT_FALSE(id(number)) << number;
}

// The flows' tests read these records over HTTP; what they leave out is here.
TEST(ApiRecords, SharedShotNeedsAllThreeStringsAndVersionNamesMatchExactly)
{
    EXPECT_FALSE(decodes<Api::Envelope<Api::SharedShot>>(R"({"data":{"link":"l","days":"7"}})"));
    EXPECT_FALSE(decodes<Api::Envelope<Api::SharedShot>>(R"({"data":{"link":"l","image":"i"}})"));
    EXPECT_FALSE(decodes<Api::Envelope<Api::SharedShot>>(R"({"data":{"link":"l","image":"i","days":7}})"));

    EXPECT_FALSE(decodes<Api::VersionCheck>(R"({"status":"x","update_url":5})"));
    const auto other = decodeAnswer<Api::VersionCheck>(R"({"status":"x","UpdateUrl":"u","update_URL":"v"})");
    ASSERT_TRUE(other);
    EXPECT_FALSE(other->updateUrl);
}

} // namespace
