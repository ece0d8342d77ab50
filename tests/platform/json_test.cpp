// SPDX-License-Identifier: MIT
#include "platform/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>

#include "platform/Error.h"
#include "platform/Text.h"

namespace tavro::platform::json {
namespace {

const char* const kParseErrorText =
    "The data couldn\u2019t be read because it isn\u2019t in the correct format.";

// The first element of a parsed array.
std::optional<Element> first(Element array) {
    const std::optional<ArrayView> elements = asArray(array);
    if (!elements || elements->size() == 0) {
        ADD_FAILURE() << "not an array with elements";
        return std::nullopt;
    }
    return *elements->begin();
}

// Parses `text` and expects the platform's parse error.
void expectParseError(std::string_view text) {
    Parser parser;
    try {
        parser.parse(text);
        ADD_FAILURE() << "parsed: " << text.substr(0, 40);
    } catch (const Error& error) {
        EXPECT_EQ(error.value()->domain, kCocoaErrorDomain);
        EXPECT_EQ(error.value()->code, 3840);
        EXPECT_EQ(error.value()->description(), kParseErrorText);
        EXPECT_FALSE(error.value()->debugDescription.empty());
    }
}

// ---- Writer: exact bytes -------------------------------------------------------------

TEST(JsonWriter, EscapesExactlyTheFixedSet) {
    EXPECT_EQ(write(Array{"\"\\/"}), R"(["\"\\\/"])");
    EXPECT_EQ(write(Array{"\b\f\n\r\t"}), R"(["\b\f\n\r\t"])");
    EXPECT_EQ(write(Array{std::string("\x00\x01\x0b\x1f", 4)}), R"(["\u0000\u0001\u000b\u001f"])");
    // DEL, non-ASCII, U+2028 and U+2029 stay raw.
    EXPECT_EQ(write(Array{"\x7f\u00e9\u2028\u2029\U0001F600"}),
              "[\"\x7f\u00e9\u2028\u2029\U0001F600\"]");
    EXPECT_EQ(write(Object{{"a/b", "x"}}), R"({"a\/b":"x"})");
}

// Long texts are scanned many bytes at a time: a byte to escape is found wherever it stands,
// and the bytes around it are copied whole.
TEST(JsonWriter, EscapesWhereverTheByteStands) {
    const std::string specials("\"\\/\n\x01\x1f", 6);
    const std::vector<std::string> escapes = {"\\\"", "\\\\", "\\/", "\\n", "\\u0001", "\\u001f"};
    for (size_t length = 1; length <= 40; ++length) {
        for (size_t at = 0; at < length; ++at) {
            // Plain bytes around it, DEL and the two bytes of "é" among them (never escaped).
            std::string text(length, 'a');
            for (size_t i = 1; i + 1 < length; i += 5) {
                if (i + 1 < at || i > at) {
                    text.replace(i, 2, "\xc3\xa9");
                } else if (i != at) {
                    text[i] = '\x7f';
                }
            }
            for (size_t k = 0; k < specials.size(); ++k) {
                text[at] = specials[k];
                const std::string expected =
                    "[\"" + text.substr(0, at) + escapes[k] + text.substr(at + 1) + "\"]";
                ASSERT_EQ(write(Array{text}), expected) << length << " " << at << " " << k;
            }
        }
    }
    std::string slashes;
    for (int i = 0; i < 33; ++i) {
        slashes += "\\/";
    }
    EXPECT_EQ(write(Array{std::string(33, '/')}), "[\"" + slashes + "\"]");
}

TEST(JsonWriter, IllFormedTextIsRepairedOnTheWayOut) {
    EXPECT_EQ(write(Array{"a\xff"
                          "b"}),
              "[\"a\uFFFDb\"]");
}

TEST(JsonWriter, CompactScalarsAndContainers) {
    EXPECT_EQ(write(Object{{"a", Array{1, 2}}, {"b", nullptr}, {"c", true}, {"d", false}}),
              R"({"a":[1,2],"b":null,"c":true,"d":false})");
    EXPECT_EQ(write(Array{}), "[]");
    EXPECT_EQ(write(Object{}), "{}");
    EXPECT_EQ(write(Array{Array{Object{}}}), "[[{}]]");
}

TEST(JsonWriter, IntegersOverTheFullRange) {
    EXPECT_EQ(write(Array{std::numeric_limits<int64_t>::min(), int64_t{-1}, int64_t{0},
                          std::numeric_limits<int64_t>::max()}),
              "[-9223372036854775808,-1,0,9223372036854775807]");
}

TEST(JsonWriter, DoublesInShortestFormWithFixedExponentRules) {
    const std::vector<std::pair<double, const char*>> cases = {
        {1.0, "1"},
        {100.0, "100"},
        {-2.5, "-2.5"},
        {0.1, "0.1"},
        {1.7777777777777777, "1.7777777777777777"},
        {123456.789, "123456.789"},
        {1e15, "1000000000000000"},
        {9007199254740991.0, "9007199254740991"},       // 2^53 - 1: still plain
        {9007199254740992.0, "9.007199254740992e+15"},  // 2^53: exponent form
        {1e16, "1e+16"},
        {-1e16, "-1e+16"},
        {1.5e300, "1.5e+300"},
        {1e100, "1e+100"},
        {0.0001, "0.0001"},
        {0.00012, "0.00012"},
        {1e-5, "1e-05"},
        {1.5e-7, "1.5e-07"},
        {5e-324, "5e-324"},
        {0.0, "0"},
        {-0.0, "-0"},
    };
    for (const auto& [value, expected] : cases) {
        std::string out;
        appendDouble(out, value);
        EXPECT_EQ(out, expected) << value;
    }
}

TEST(JsonWriter, RefusesNanAndInfinities) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(write(Array{bad}), Error);
    }
}

TEST(JsonWriter, DoublesReadBackToTheSameValue) {
    std::mt19937_64 random(42);
    Parser parser;
    for (int i = 0; i < 2000; ++i) {
        const uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) {
            continue;
        }
        const std::string text = write(Array{value});
        const auto element = parser.parse(text);
        EXPECT_EQ(asDouble(first(element)), value) << text;
    }
}

TEST(JsonWriter, SortedKeysByCodePointAtEveryLevel) {
    const Object object{{"b", 1}, {"a", Object{{"d", 1}, {"c", 2}}}, {"\u00e9", 4}, {"B", 3}};
    EXPECT_EQ(write(object, KeyOrder::Sorted),
              "{\"B\":3,\"a\":{\"c\":2,\"d\":1},\"b\":1,\"\u00e9\":4}");
    EXPECT_EQ(write(object), "{\"b\":1,\"a\":{\"d\":1,\"c\":2},\"\u00e9\":4,\"B\":3}");
    EXPECT_EQ(write(Array{Object{{"z", 1}, {"y", 2}}}, KeyOrder::Sorted), R"([{"y":2,"z":1}])");
}

// ---- Reader: document shape ----------------------------------------------------------

TEST(JsonReader, TopLevelMustBeObjectOrArray) {
    for (const char* scalar : {"1", "\"x\"", "null", "true", "1.5"}) {
        expectParseError(scalar);
    }
    Parser parser;
    EXPECT_TRUE(parser.parse(" {} ").isObject());
    EXPECT_TRUE(parser.parse("[]").isArray());
    EXPECT_TRUE(parser.parse("\xEF\xBB\xBF{}").isObject());  // a byte order mark is skipped
    expectParseError("\xEF\xBB\xBF");
    expectParseError("\xEF\xBB\xBF\xEF\xBB\xBF[]");
}

TEST(JsonReader, SyntaxErrorsAreTheParseError) {
    for (const char* bad : {"", "{", "[1,]", "{\"a\":1,}", "{'a':1}", "[1] x", "[01]", "[\"\\x\"]",
                            "[1e400]", "[123456789012345678901234567890x]"}) {
        expectParseError(bad);
    }
}

TEST(JsonReader, DebugDescriptionSaysWhatWentWrong) {
    Parser parser;
    try {
        parser.parse("{\n \"a\": [1, 2, tru]\n}");
        ADD_FAILURE();
    } catch (const Error& error) {
        const std::string& debug = error.value()->debugDescription;
        EXPECT_NE(debug.find("atom"), std::string::npos) << debug;
    }
}

TEST(JsonReader, DeepNestingIsAnErrorNotACrash) {
    expectParseError(std::string(100000, '[') + std::string(100000, ']'));
    std::string objects;
    for (int i = 0; i < 100000; ++i) {
        objects += "{\"a\":";
    }
    objects += "1" + std::string(100000, '}');
    expectParseError(objects);
    // A fault early in the document does not let the deep part through either.
    expectParseError("[1e999," + std::string(100000, '[') + std::string(100000, ']') + "]");

    Parser parser;
    EXPECT_NO_THROW(parser.parse(std::string(500, '[') + std::string(500, ']')));
}

TEST(JsonReader, ElementsOutliveTheParsersCopyOfALargeInput) {
    Parser parser;
    const std::string large = "[\"kept\"," + std::string(size_t{2} << 20, ' ') + "\"too\"]";
    Element root = parser.parse(large);
    parser.releaseLargeInput();
    EXPECT_EQ(asString(first(root)), "kept");
    EXPECT_EQ(asString(first(parser.parse("[\"next\"]"))), "next");
}

// A text handed over with its padding is parsed where it lies, and reads as its copy would: a
// byte order mark skipped, errors the same, and the elements kept once the text is let go.
TEST(JsonReader, APaddedTextReadsAsItsCopyWould) {
    Parser parser;
    EXPECT_EQ(asString(first(parser.parse(PaddedText::copyOf("\xEF\xBB\xBF[\"bom\"]")))), "bom");
    for (const char* bad : {"", "[1,", "7", "\xEF\xBB\xBF"}) {
        EXPECT_THROW(parser.parse(PaddedText::copyOf(bad)), Error) << bad;
    }
    PaddedText text = PaddedText::copyOf("[\"kept\"]");
    const Element root = parser.parse(text);
    text.release();
    EXPECT_EQ(text.size(), 0u);
    EXPECT_EQ(asString(first(root)), "kept");
    PaddedText moved = PaddedText::copyOf("[\"moved\"]");
    PaddedText to = std::move(moved);
    EXPECT_EQ(asString(first(parser.parse(to))), "moved");
    for (const PaddedText* empty : {&text, &moved}) {
        EXPECT_THROW(parser.parse(*empty), Error);  // read as the empty text, not past it
    }
}

// Documents of many megabytes have the parser's memory faulted in beside the parsing; each
// reads as a small one would, also when it is repaired first, parsed twice (an integer beyond
// 64 bits) or larger than the one before, and whether it is copied or parsed where it lies.
TEST(JsonReader, LargeDocumentsReadWhole) {
    Parser parser;
    auto document = [](size_t strings, std::string_view last) {
        std::string text = "[";
        for (size_t i = 0; i < strings; ++i) {
            text += "\"" + std::to_string(i) + std::string(90, 'x') + "\",";
        }
        return text.append(last).append("]");
    };
    for (auto [strings, last, read, inPlace] :
         {std::tuple{100000, "\"end\"", "end", false},
          {110000, "\"bad\xff\"", "bad\uFFFD", false},
          {120000, "123456789012345678901234567890", "", false},
          {100000, "\"end\"", "end", true},
          {110000, "\"bad\xff\"", "bad\uFFFD", true},
          {120000, "123456789012345678901234567890", "", true}}) {
        const std::optional<ArrayView> array =
            asArray(inPlace ? parser.parse(PaddedText::copyOf(document(strings, last)))
                            : parser.parse(document(strings, last)));
        ASSERT_TRUE(array.has_value());
        ASSERT_EQ(array->size(), strings + 1);
        EXPECT_EQ(asString(*array->begin()), "0" + std::string(90, 'x'));
        Element final;
        for (Element element : *array) {
            final = element;
        }
        if (*read != '\0') {
            EXPECT_EQ(asString(final), read);
        } else {
            EXPECT_EQ(asDouble(final), 1.2345678901234568e29);
        }
    }
}

TEST(JsonReader, ParserIsReusableAfterAnError) {
    Parser parser;
    EXPECT_THROW(parser.parse("[1,"), Error);
    EXPECT_EQ(asInteger(first(parser.parse("[7]"))), 7);
    const std::string large = "[" + std::string(200000, ' ') + "\"big\"]";
    EXPECT_EQ(asString(first(parser.parse(large))), "big");
}

TEST(JsonReader, IllFormedUtf8IsRepairedBeforeParsing) {
    Parser parser;
    const auto root = parser.parse(
        "[\"a\xff"
        "b\xe2\x82\"]");
    EXPECT_EQ(asString(first(root)), "a\uFFFDb\uFFFD");
}

TEST(JsonReader, EscapedSurrogatesNeverYieldIllFormedText) {
    Parser parser;
    EXPECT_EQ(asString(first(parser.parse(R"(["\ud83d\ude00"])"))), "\U0001F600");
    for (const char* lone : {R"(["\ud800"])", R"(["\udc00x"])"}) {
        try {
            const auto text = asString(first(parser.parse(lone)));
            ASSERT_TRUE(text.has_value());
            EXPECT_TRUE(text::isWellFormedUtf8(*text)) << lone;
        } catch (const Error& error) {
            EXPECT_EQ(error.value()->code, 3840);
        }
    }
}

TEST(JsonReader, DuplicateKeysLastOneWins) {
    Parser parser;
    const auto root = parser.parse(R"({"a":1,"b":2,"a":3,"c":4,"a":5})");
    ObjectView object = *asObject(root);
    EXPECT_EQ(asInteger(member(object, "a")), 5);
    EXPECT_EQ(asInteger(member(object, "b")), 2);
    EXPECT_FALSE(member(object, "z").has_value());

    const Fields fields(object);
    EXPECT_EQ(asInteger(fields.get("a")), 5);
    EXPECT_EQ(asInteger(fields.get("c")), 4);
    EXPECT_FALSE(fields.get("").has_value());
    EXPECT_FALSE(fields.get("d").has_value());
}

// One Fields indexes record after record; neither many keys, keys alike in every way but one
// character, nor the object before may change what a key finds.
TEST(JsonReader, FieldsFindEachKeysLastValueWhateverCameBefore) {
    Parser parser;
    Fields fields;
    for (int keys : {3, 31, 32, 33, 200}) {
        std::string text = "{";
        for (int i = 0; i < keys; ++i) {
            // "k0x0", "k1x0", ...: same length, first, middle and last characters in groups.
            text += "\"k" + std::to_string(i % 10) + "x" + std::to_string(i / 10) +
                    "\":" + std::to_string(i) + ",";
        }
        text += R"("k0x0":-1,"late":true})";  // a duplicate after all the others
        fields.assign(*asObject(parser.parse(text)));
        EXPECT_EQ(asInteger(fields.get("k0x0")), -1) << keys;
        for (int i = 1; i < keys; ++i) {
            const std::string key = "k" + std::to_string(i % 10) + "x" + std::to_string(i / 10);
            ASSERT_EQ(asInteger(fields.get(key)), i) << keys << " " << key;
        }
        EXPECT_EQ(asBoolean(fields.get("late")), true);
        EXPECT_FALSE(fields.get("k" + std::to_string(keys) + "x9").has_value());
    }
    fields.assign(*asObject(parser.parse(R"({"only":1})")));
    EXPECT_FALSE(fields.get("late").has_value());
    EXPECT_FALSE(fields.get("k1x0").has_value());
    EXPECT_EQ(asInteger(fields.get("only")), 1);
    EXPECT_FALSE(Fields().get("only").has_value());
}

TEST(JsonReader, ViewsWalkTheDocumentInOrder) {
    Parser parser;
    const ObjectView object = *asObject(parser.parse(R"({"b":1,"a":[true,"x",null],"b":2})"));
    EXPECT_EQ(object.size(), 3u);
    std::vector<std::string_view> keys;
    for (const ObjectView::Field field : object) {
        keys.push_back(field.key);
    }
    EXPECT_EQ(keys, (std::vector<std::string_view>{"b", "a", "b"}));

    const ArrayView array = *asArray(member(object, "a"));
    EXPECT_EQ(array.size(), 3u);
    ArrayView::Iterator it = array.begin();
    EXPECT_EQ(asBoolean(*it), true);
    EXPECT_TRUE((*++it).isString());
    EXPECT_TRUE((*++it).isNull());
    EXPECT_TRUE(++it == array.end());
}

// ---- Reader: typed values; missing, null and wrong type are all absent ---------------

class JsonValues : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = parser_.parse(R"({
            "int": 5, "whole": 5.0, "exp": 1e3, "half": 5.5, "huge": 1e30, "neg": -7,
            "min": -9223372036854775808, "max": 9223372036854775807,
            "over": 9223372036854775808, "twoTo63": 9.223372036854775808e18,
            "minDouble": -9.223372036854775808e18, "bigint": 123456789012345678901234567890,
            "belowMin": -9223372036854775809, "beyondUint": 18446744073709551616,
            "bigintText": "123456789012345678901234567890",
            "str": "text", "digits": "5", "t": true, "f": false, "one": 1, "zero": 0,
            "oneDouble": 1.0, "two": 2, "null": null, "obj": {}, "arr": [],
            "uuidLower": "0f8fad5b-d9cb-469f-a165-70867728950e",
            "uuidUpper": "0F8FAD5B-D9CB-469F-A165-70867728950E",
            "uuidBraces": "{0f8fad5b-d9cb-469f-a165-70867728950e}",
            "uuidBare": "0f8fad5bd9cb469fa16570867728950e",
            "uuidSpace": " 0f8fad5b-d9cb-469f-a165-70867728950e"
        })");
        fields_.emplace(*asObject(root_));
    }
    std::optional<Element> get(std::string_view key) { return fields_->get(key); }

    Parser parser_;
    Element root_;
    std::optional<Fields> fields_;
};

TEST_F(JsonValues, IntegerReadsWholeNumbersInRange) {
    EXPECT_EQ(asInteger(get("int")), 5);
    EXPECT_EQ(asInteger(get("whole")), 5);
    EXPECT_EQ(asInteger(get("exp")), 1000);
    EXPECT_EQ(asInteger(get("neg")), -7);
    EXPECT_EQ(asInteger(get("min")), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(asInteger(get("max")), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(asInteger(get("minDouble")), std::numeric_limits<int64_t>::min());
    for (const char* absent : {"half", "huge", "over", "twoTo63", "bigint", "beyondUint", "str",
                               "digits", "t", "null", "obj", "arr", "missing"}) {
        EXPECT_FALSE(asInteger(get(absent)).has_value()) << absent;
    }
}

TEST_F(JsonValues, DoubleReadsAnyNumber) {
    EXPECT_EQ(asDouble(get("int")), 5.0);
    EXPECT_EQ(asDouble(get("half")), 5.5);
    EXPECT_EQ(asDouble(get("over")), 9223372036854775808.0);
    EXPECT_EQ(asDouble(get("huge")), 1e30);
    // Integers beyond 64 bits are valid JSON: they read as doubles, strings stay untouched.
    EXPECT_EQ(asDouble(get("bigint")), 123456789012345678901234567890.0);
    EXPECT_EQ(asDouble(get("belowMin")), -9223372036854775809.0);
    EXPECT_EQ(asDouble(get("beyondUint")), 18446744073709551616.0);
    EXPECT_EQ(asString(get("bigintText")), "123456789012345678901234567890");
    for (const char* absent : {"str", "digits", "t", "null", "obj", "arr", "missing"}) {
        EXPECT_FALSE(asDouble(get(absent)).has_value()) << absent;
    }
}

TEST_F(JsonValues, BooleanReadsTrueFalseOneAndZero) {
    EXPECT_EQ(asBoolean(get("t")), true);
    EXPECT_EQ(asBoolean(get("f")), false);
    EXPECT_EQ(asBoolean(get("one")), true);
    EXPECT_EQ(asBoolean(get("zero")), false);
    EXPECT_EQ(asBoolean(get("oneDouble")), true);
    for (const char* absent : {"two", "half", "neg", "str", "null", "obj", "arr", "missing"}) {
        EXPECT_FALSE(asBoolean(get(absent)).has_value()) << absent;
    }
}

TEST_F(JsonValues, StringObjectAndArrayReadOnlyTheirOwnType) {
    EXPECT_EQ(asString(get("str")), "text");
    EXPECT_TRUE(asObject(get("obj")).has_value());
    EXPECT_TRUE(asArray(get("arr")).has_value());
    for (const char* other : {"int", "t", "null", "missing"}) {
        EXPECT_FALSE(asString(get(other)).has_value()) << other;
        EXPECT_FALSE(asObject(get(other)).has_value()) << other;
        EXPECT_FALSE(asArray(get(other)).has_value()) << other;
    }
    EXPECT_FALSE(asString(get("obj")).has_value());
    EXPECT_FALSE(asObject(get("arr")).has_value());
    EXPECT_FALSE(asArray(get("obj")).has_value());
}

TEST_F(JsonValues, UuidReadsOnlyTheCanonicalFormInEitherCase) {
    const auto lower = asUuid(get("uuidLower"));
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(lower, asUuid(get("uuidUpper")));
    EXPECT_EQ(lower->lowercase(), "0f8fad5b-d9cb-469f-a165-70867728950e");
    for (const char* absent :
         {"uuidBraces", "uuidBare", "uuidSpace", "str", "int", "null", "missing"}) {
        EXPECT_FALSE(asUuid(get(absent)).has_value()) << absent;
    }
}

}  // namespace
}  // namespace tavro::platform::json

namespace tavro::platform::json {
namespace {

TEST(JsonWriter, StreamedAndTreeFormsAreTheSameBytes) {
    Value tree = Object{{"b", Array{1, "x/y", Array{}, Object{}}}, {"a", nullptr}, {"c", 0.5}};
    std::string streamed;
    Writer out(streamed);
    out.beginObject().key("b").beginArray().integer(1).string("x/y");
    out.beginArray().endArray().beginObject().endObject().endArray();
    out.key("a").null().key("c").number(0.5).endObject();
    EXPECT_EQ(streamed, write(tree));
    EXPECT_EQ(streamed, "{\"b\":[1,\"x\\/y\",[],{}],\"a\":null,\"c\":0.5}");
}

TEST(JsonWriter, IndentedFormPutsEachValueOnItsOwnLine) {
    std::string text;
    writeTo(text, Object{{"a", Array{true, Object{{"k", "v"}}}}, {"e", Array{}}, {"o", Object{}}},
            KeyOrder::AsGiven, Writer::Style::Indented);
    EXPECT_EQ(text,
              "{\n  \"a\": [\n    true,\n    {\n      \"k\": \"v\"\n    }\n  ],\n"
              "  \"e\": [],\n  \"o\": {}\n}");
}

}  // namespace
}  // namespace tavro::platform::json
