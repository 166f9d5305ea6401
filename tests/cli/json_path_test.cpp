#include <gtest/gtest.h>

#include <string>

#include "JsonPath.h"

namespace {

TEST(JsonPath, KeepsAPathReadableAndItsBytesWhole) {
    const struct {
        const char* name;
        std::string path;
        std::string readable;
        std::string bytes;
    } rows[] = {
        {"plain", "clips/garden-2_a.b~c.avi", "clips/garden-2_a.b~c.avi",
         "clips/garden-2_a.b~c.avi"},
        {"a space, a percent sign and a quote", "my 100%\".avi", "my 100%\".avi",
         "my%20100%25%22.avi"},
        {"UTF-8", "caf\xC3\xA9.avi", "caf\xC3\xA9.avi", "caf%C3%A9.avi"},
        {"Latin-1", "caf\xE9.avi", "caf\xEF\xBF\xBD.avi", "caf%E9.avi"},
        {"UTF-8 cut short", "x\xC3", "x\xEF\xBF\xBD", "x%C3"},
        {"control bytes", std::string("a\nb\0c", 5), std::string("a\nb\0c", 5), "a%0Ab%00c"},
        {"the highest byte", "\xFF", "\xEF\xBF\xBD", "%FF"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(readablePath(row.path), row.readable) << row.name;
        EXPECT_EQ(pathBytes(row.path), row.bytes) << row.name;
        EXPECT_EQ(pathFromBytes(row.bytes), row.path) << row.name;
    }
}

TEST(JsonPath, BytesThatNoPathEncodedGiveNone) {
    for (const char* bytes : {"%", "a%4", "%G0", "%0g"}) {
        EXPECT_EQ(pathFromBytes(bytes), std::nullopt) << bytes;
    }
}

}  // namespace
