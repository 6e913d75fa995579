#include "json.hpp"

#include <gtest/gtest.h>

using namespace cloudkit;

TEST(JsonString, EscapesLikeTheSystemWriter) {
    EXPECT_EQ(jsonString("a/b"), "\"a\\/b\"");
    EXPECT_EQ(jsonString("q\"b\\"), "\"q\\\"b\\\\\"");
    EXPECT_EQ(jsonString("\n\t\r\b\f\x01\x1f"), "\"\\n\\t\\r\\b\\f\\u0001\\u001f\"");
    EXPECT_EQ(jsonString("Ä😀"), "\"Ä😀\"");
    // Malformed UTF-8 from a damaged database still gives valid JSON.
    EXPECT_EQ(jsonString("x\xff"), "\"x\xef\xbf\xbd\"");
}

TEST(IsoDate, FormatsUtcSecondsAndRejectsOutOfRange) {
    EXPECT_EQ(isoDate(1767323045000), "2026-01-02T03:04:05Z");
    EXPECT_EQ(isoDate(1767323045999), "2026-01-02T03:04:05Z");
    EXPECT_EQ(isoDate(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(isoDate(-1), "1969-12-31T23:59:59Z");
    EXPECT_EQ(isoDate(INT64_MAX), "");
    EXPECT_EQ(isoDate(INT64_MIN), "");
}

TEST(ListJson, PrettySortedForm) {
    EXPECT_EQ(listJson({}), "[]");
    std::vector<ListEntry> entries = {
        {"cb_backup_k_2__u1", "u1", "k/2", 1767323045000, false},
        {"cb_backup_x__y", "", "", std::nullopt, true},
    };
    EXPECT_EQ(listJson(entries),
              "[\n"
              "  {\n"
              "    \"account\" : \"u1\",\n"
              "    \"hasAsset\" : false,\n"
              "    \"key\" : \"k\\/2\",\n"
              "    \"recordName\" : \"cb_backup_k_2__u1\",\n"
              "    \"updatedAt\" : \"2026-01-02T03:04:05Z\"\n"
              "  },\n"
              "  {\n"
              "    \"account\" : \"\",\n"
              "    \"hasAsset\" : true,\n"
              "    \"key\" : \"\",\n"
              "    \"recordName\" : \"cb_backup_x__y\",\n"
              "    \"updatedAt\" : \"\"\n"
              "  }\n"
              "]");
}
