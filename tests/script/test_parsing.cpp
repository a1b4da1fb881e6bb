// Message parsing and reply decoding: the two places that cut host texts apart.
#include "decode_vesk_string.h"
#include "dotted_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ParseCase {
    const char* text;
    std::string name;
    std::vector<std::string> parts;
    std::string value;
    bool hasValue;
};

std::vector<std::string> partsOf(const dottedMessage& m) {
    return std::vector<std::string>(m.parts, m.parts + m.partCount);
}

// Every pointer is non-null and lies in the buffer or is the shared empty text.
void expectPointersSound(const dottedMessage& m, size_t textLength) {
    auto sound = [&](const char* p) {
        if (p == dottedEmptyText)
            return true;
        return m.buffer != nullptr && p >= m.buffer && p <= m.buffer + textLength;
    };
    EXPECT_TRUE(sound(m.name));
    EXPECT_TRUE(sound(m.value));
    for (int i = 0; i < dottedMessageMaxParts; ++i) {
        ASSERT_NE(m.parts[i], nullptr);
        EXPECT_TRUE(sound(m.parts[i]));
        if (i >= m.partCount)
            EXPECT_EQ(m.parts[i], dottedEmptyText);
    }
}

TEST(DottedMessage, ParsesNamePartsAndValue) {
    const std::vector<ParseCase> cases = {
        {"button.001=released", "button", {"001"}, "released", true},
        {"plain", "plain", {}, "", false},
        {"key=", "key", {}, "", true},
        {"=rest", "", {}, "rest", true},
        {".first.second", "", {"first", "second"}, "", false},
        {"a..b", "a", {"", "b"}, "", false},
        {"a.", "a", {""}, "", false},
        {"v=1.5=x", "v", {}, "1.5=x", true},
        {"myParam.x.y=abc", "myParam", {"x", "y"}, "abc", true},
    };
    for (const auto& c : cases) {
        dottedMessage m(c.text);
        EXPECT_EQ(std::string(m.name), c.name) << c.text;
        EXPECT_EQ(partsOf(m), c.parts) << c.text;
        EXPECT_EQ(std::string(m.value), c.value) << c.text;
        EXPECT_EQ(m.hasValue, c.hasValue) << c.text;
        expectPointersSound(m, std::string(c.text).size());
    }
}

TEST(DottedMessage, NullAndEmptyTextsHaveNoBuffer) {
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        dottedMessage m(text);
        EXPECT_EQ(m.buffer, nullptr);
        EXPECT_EQ(m.name, dottedEmptyText);
        EXPECT_EQ(m.value, dottedEmptyText);
        EXPECT_EQ(m.partCount, 0);
        EXPECT_FALSE(m.hasValue);
        expectPointersSound(m, 0);
    }
}

TEST(DottedMessage, StopsAfterThirtyTwoParts) {
    std::string text = "n";
    for (int i = 0; i < 40; ++i)
        text += "." + std::to_string(i);
    text += "=v";
    dottedMessage m(text.c_str());
    ASSERT_EQ(m.partCount, 32);
    EXPECT_EQ(std::string(m.parts[0]), "0");
    EXPECT_EQ(std::string(m.parts[30]), "30");
    EXPECT_EQ(std::string(m.parts[31]), "31.32.33.34.35.36.37.38.39=v");
    EXPECT_EQ(std::string(m.value), "");
    EXPECT_FALSE(m.hasValue);
    expectPointersSound(m, text.size());
}

TEST(DottedMessage, ExactlyThirtyTwoPartsThenValueStillStops) {
    std::string text = "n";
    for (int i = 0; i < 32; ++i)
        text += ".p";
    text += "=v";
    dottedMessage m(text.c_str());
    EXPECT_EQ(m.partCount, 32);
    EXPECT_EQ(std::string(m.parts[31]), "p=v");
    EXPECT_FALSE(m.hasValue);
}

struct DecodeCase {
    const char* text;
    std::vector<std::string> tokens;
};

std::vector<std::string> tokensOf(const decodeVESKString& d) {
    return std::vector<std::string>(d.tokens, d.tokens + d.tokenCount);
}

TEST(DecodeVESKString, SplitsQuotedTokens) {
    const std::vector<DecodeCase> cases = {
        {"12 7", {"12", "7"}},
        {"a  b", {"a", "b"}},
        {"a '' b", {"a", "", "b"}},
        {"'x y' z", {"", "x y", "z"}},
        {"   ", {""}},
        {" a", {"", "a"}},
        {"a'b'", {"a", "b"}},
        {"'unterminated quote", {"", "unterminated quote"}},
        {"5", {"5"}},
    };
    for (const auto& c : cases) {
        decodeVESKString d(c.text, '\'');
        EXPECT_EQ(tokensOf(d), c.tokens) << c.text;
        for (int i = d.tokenCount; i < decodeMaxTokens; ++i)
            EXPECT_EQ(d.tokens[i], dottedEmptyText);
    }
}

TEST(DecodeVESKString, NullAndEmptyGiveNoTokens) {
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        decodeVESKString d(text, '\'');
        EXPECT_EQ(d.tokenCount, 0);
        EXPECT_EQ(d.buffer, nullptr);
        EXPECT_STREQ(d.tokens[0], "");
    }
}

TEST(DecodeVESKString, KeepsAtMostThirtyTwoTokens) {
    std::string text;
    for (int i = 1; i <= 40; ++i)
        text += "w" + std::to_string(i) + " ";
    decodeVESKString d(text.c_str(), '\'');
    ASSERT_EQ(d.tokenCount, 32);
    EXPECT_STREQ(d.tokens[31], "w32");
    std::string empties(40, '\'');
    decodeVESKString e(empties.c_str(), '\'');
    EXPECT_EQ(e.tokenCount, 21); // slot 0 and one empty token per pair
    std::string manyEmpties(80, '\'');
    decodeVESKString f(manyEmpties.c_str(), '\'');
    EXPECT_EQ(f.tokenCount, 32);
}

} // namespace
