#include "support/JsonObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

using neb::CJsonObject;

namespace {

const std::string kParseError = "prase json string error at ";

std::string Nested(const std::string& open, const std::string& inner, const std::string& close,
                   int levels) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += open;
  text += inner;
  for (int i = 0; i < levels; ++i) text += close;
  return text;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::filesystem::path kCorpus =
    std::filesystem::path(VESTREL_TEST_DATA_DIR) / "json-test-suite";

}  // namespace

TEST(JsonLookup, IgnoresCaseAndFirstMemberWins) {
  CJsonObject json(R"({"score":0.8,"id":"first","ID":"second"})");
  double score = 0;
  EXPECT_TRUE(json.Get("Score", score));
  EXPECT_DOUBLE_EQ(0.8, score);
  std::string id;
  EXPECT_TRUE(json.Get("ID", id));
  EXPECT_EQ("first", id);

  CJsonObject duplicates(R"({"name":"a","name":"b"})");
  std::string name;
  EXPECT_TRUE(duplicates.Get("NAME", name));
  EXPECT_EQ("a", name);
  EXPECT_EQ(R"({"name":"a","name":"b"})", duplicates.ToString());
}

TEST(JsonLookup, WrongTypeOrMissingLeavesOutputUnchanged) {
  CJsonObject json(R"({"s":"text","i":7,"b":true,"n":null,"a":[1]})");
  int i = -1;
  bool b = false;
  double d = -1;
  std::string s = "keep";
  EXPECT_FALSE(json.Get("s", i));
  EXPECT_FALSE(json.Get("i", s));
  EXPECT_FALSE(json.Get("n", b));
  EXPECT_FALSE(json.Get("b", d));
  EXPECT_FALSE(json.Get("missing", s));
  EXPECT_FALSE(json.Get("sx", s));
  EXPECT_FALSE(json.Get("", s));
  EXPECT_EQ(-1, i);
  EXPECT_FALSE(b);
  EXPECT_EQ(-1, d);
  EXPECT_EQ("keep", s);
  EXPECT_TRUE(json.Get("b", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(json.Get("i", d));
  EXPECT_EQ(7, d);

  CJsonObject array("[\"x\"]");
  EXPECT_FALSE(array.Get("0", s));  // key lookup needs an object
}

TEST(JsonLookup, KeysAsWrittenAndMemberTypes) {
  CJsonObject json(R"({"Session_Id":"a","n":1,"d":1.0,"e":1e2,"b":false,"z":null,"o":{},"a":[]})");
  EXPECT_EQ((std::vector<std::string>{"Session_Id", "n", "d", "e", "b", "z", "o", "a"}),
            json.GetKeys());
  EXPECT_EQ(neb::kJsonString, json.GetType("session_id"));
  EXPECT_EQ(neb::kJsonInt, json.GetType("n"));
  EXPECT_EQ(neb::kJsonDouble, json.GetType("d"));
  EXPECT_EQ(neb::kJsonDouble, json.GetType("e"));
  EXPECT_EQ(neb::kJsonFalse, json.GetType("b"));
  EXPECT_EQ(neb::kJsonNull, json.GetType("z"));
  EXPECT_EQ(neb::kJsonObject, json.GetType("o"));
  EXPECT_EQ(neb::kJsonArray, json.GetType("a"));
  EXPECT_EQ(-1, json.GetType("missing"));
  EXPECT_TRUE(CJsonObject("[1,2]").GetKeys().empty());
  EXPECT_TRUE(CJsonObject("not json").GetKeys().empty());
  EXPECT_EQ(-1, CJsonObject("[1]").GetType("0"));
}

TEST(JsonLookup, SubDocumentCopies) {
  CJsonObject json(R"({"data":{"Name":"Ann","score":0.1234567,"tags":["a","b"]},"n":5})");
  CJsonObject data;
  ASSERT_TRUE(json.Get("DATA", data));
  EXPECT_EQ(R"({"Name":"Ann","score":0.123457,"tags":["a","b"]})", data.ToString());
  CJsonObject tags;
  ASSERT_TRUE(data.Get("tags", tags));
  EXPECT_EQ(2, tags.GetArraySize());
  std::string tag;
  EXPECT_TRUE(tags.Get(1, tag));
  EXPECT_EQ("b", tag);
  EXPECT_FALSE(tags.Get(2, tag));
  EXPECT_FALSE(tags.Get(-1, tag));
  CJsonObject element;
  EXPECT_TRUE(tags.Get(0, element));
  EXPECT_EQ("\"a\"", element.ToString());
  CJsonObject number;
  EXPECT_TRUE(json.Get("n", number));
  EXPECT_EQ("5", number.ToString());
  EXPECT_FALSE(json.Get("none", number));
  EXPECT_EQ("5", number.ToString());
  // The copy may replace the object it comes from.
  ASSERT_TRUE(data.Get("tags", data));
  EXPECT_EQ(R"(["a","b"])", data.ToString());
  EXPECT_EQ(0, json.GetArraySize());
}

TEST(JsonLookup, WalksInAnyOrderAndWideObjectsKeepFirstMemberWins) {
  std::string text = "[";
  for (int i = 0; i < 40; ++i) text += (i > 0 ? ",\"" : "\"") + std::to_string(i) + "\"";
  CJsonObject json(text + "]");
  std::vector<int> order;
  for (int i = 0; i < 40; ++i) order.push_back(i);                 // up
  for (int i = 39; i >= 0; --i) order.push_back(i);                // down
  for (int i = 0; i < 20; ++i) order.insert(order.end(), {i, 39 - i});  // from both ends
  for (const int index : order) {
    std::string element;
    ASSERT_TRUE(json.Get(index, element));
    EXPECT_EQ(std::to_string(index), element);
  }
  ASSERT_TRUE(json.Parse(R"(["x"])"));  // a new document forgets the old walk
  std::string element;
  EXPECT_FALSE(json.Get(39, element));
  EXPECT_EQ(1, json.GetArraySize());

  text = "{";
  for (int i = 0; i < 20; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  CJsonObject wide(text + R"("K5":"second"})");
  int value = -1;
  EXPECT_TRUE(wide.Get("K5", value));
  EXPECT_EQ(5, value);
  EXPECT_EQ(neb::kJsonInt, wide.GetType("k19"));
  EXPECT_FALSE(wide.Add("K19", 1));
  EXPECT_TRUE(wide.Add("new", 7));
  EXPECT_TRUE(wide.Get("NEW", value));
  EXPECT_EQ(7, value);
  EXPECT_EQ(-1, wide.GetType("k20"));
}

// Copies are made without printing where the printed form is plain; they must read the same.
TEST(JsonLookup, ElementCopiesEqualTheirPrintedForm) {
  const char* const elements[] = {
      "-0", "9007199254740992", "9007199254740993", "-9007199254740992", "-9007199254740993",
      "18446744073709551615", "-2147483649", "0.1234567", "true", "false", "null", "\"a\\u0001\"",
      R"({"a":[1,{"B":-0,"c":"\n"}],"":{},"d":[]})", "[[],[{}],-1]"};
  for (const char* element : elements) {
    CJsonObject json(std::string("[0,") + element + "]");
    CJsonObject copy;
    ASSERT_TRUE(json.Get(1, copy)) << element;
    EXPECT_EQ(CJsonObject(CJsonObject(element).ToString()).ToString(), copy.ToString());
  }
}

TEST(JsonAdd, EmptyObjectPrintsNothingUntilFirstMember) {
  CJsonObject json;
  EXPECT_EQ("", json.ToString());
  EXPECT_TRUE(json.Add("a", 1));
  EXPECT_EQ(R"({"a":1})", json.ToString());
  EXPECT_TRUE(json.Add("s", std::string("x\"y")));
  EXPECT_TRUE(json.Add("d", 36.5));
  EXPECT_TRUE(json.Add("neg", -5));
  EXPECT_TRUE(json.Add("big", -(int64_t{1} << 40)));
  EXPECT_TRUE(json.AddBool("t", true) && json.AddBool("f", false) && json.AddNull("n"));
  EXPECT_EQ(R"({"a":1,"s":"x\"y","d":36.500000,"neg":-5,"big":-1099511627776,"t":true,)"
            R"("f":false,"n":null})",
            json.ToString());
  int neg = 0;
  EXPECT_TRUE(json.Get("NEG", neg));
  EXPECT_EQ(-5, neg);
}

TEST(JsonAdd, ExistingKeyOrArrayRootFailsAndLeavesDocument) {
  CJsonObject json(R"({"Name":"Ann"})");
  EXPECT_FALSE(json.Add("name", std::string("Bob")));
  EXPECT_EQ("key exists!", json.GetErrMsg());
  EXPECT_FALSE(json.Add("NAME", 3));
  EXPECT_EQ(R"({"Name":"Ann"})", json.ToString());

  CJsonObject array("[1,2]");
  EXPECT_FALSE(array.Add("a", 1));
  EXPECT_EQ("not a json object! json array?", array.GetErrMsg());
  EXPECT_FALSE(array.Add("a", json));
  EXPECT_FALSE(array.Add("a", 1.5));
  EXPECT_FALSE(array.Add("a", std::string("s")));
  EXPECT_EQ("not a json object! json array?", array.GetErrMsg());
  EXPECT_EQ(2, array.GetArraySize());
  EXPECT_TRUE(array.Add(CJsonObject(R"({"k":1})")));
  EXPECT_EQ(3, array.GetArraySize());
  EXPECT_EQ(R"([1,2,{"k":1}])", array.ToString());
  EXPECT_FALSE(json.Add(array));
  EXPECT_EQ("not a json array!", json.GetErrMsg());
}

TEST(JsonAdd, SubDocuments) {
  CJsonObject empty;
  CJsonObject json;
  EXPECT_FALSE(json.Add("e", empty));
  EXPECT_EQ(kParseError, json.GetErrMsg());
  EXPECT_EQ("", json.ToString());  // a failed Add does not create the root

  CJsonObject inner(R"({"x":[1,{"y":null}]})");
  EXPECT_TRUE(json.Add("inner", inner));
  EXPECT_TRUE(json.Add("self", json));
  EXPECT_EQ(R"({"inner":{"x":[1,{"y":null}]},"self":{"inner":{"x":[1,{"y":null}]}}})",
            json.ToString());
  // The error text stays after later successes.
  EXPECT_EQ(kParseError, json.GetErrMsg());
}

TEST(JsonParse, TrailingTextAndErrorPositions) {
  CJsonObject json(R"({"a":1} trailing [text)");
  EXPECT_EQ(R"({"a":1})", json.ToString());

  EXPECT_FALSE(json.Parse(R"({"a":1,})"));
  EXPECT_EQ(kParseError + "}", json.GetErrMsg());
  EXPECT_EQ("", json.ToString());

  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},          {" \t\r\n", ""},        {"[1 2]", "2]"},    {R"({"a" 1})", "1}"},
      {"{1:2}", "1:2}"}, {"[1,]", "]"},          {"True", "True"},   {"nul", "nul"},
      {"[tru]", "tru]"}, {R"({"a":[1,2})", "}"}, {"\x01\x20x", "x"},
  };
  for (const auto& [text, rest] : cases) {
    EXPECT_FALSE(json.Parse(text)) << text;
    EXPECT_EQ(kParseError + rest, json.GetErrMsg()) << text;
  }
  EXPECT_TRUE(json.Parse("\x01\x1f[ true , false , null ]"));
  EXPECT_EQ("[true,false,null]", json.ToString());
  EXPECT_TRUE(json.Parse("{ } "));
  EXPECT_EQ("{}", json.ToString());
}

TEST(JsonParse, InputEndsAtNulByte) {
  CJsonObject json;
  EXPECT_FALSE(json.Parse(std::string("{\"a\":\"x\0\"}", 10)));
  EXPECT_EQ(kParseError, json.GetErrMsg());
  EXPECT_TRUE(json.Parse(std::string("[1]\0[", 5)));
  EXPECT_EQ("[1]", json.ToString());
}

TEST(JsonNumbers, IntegersKeepSixtyFourBitsAndSign) {
  CJsonObject json(R"({"big":4294967296,"neg":-5,"low":4294967297,"min":-2147483649,)"
                   R"("max":18446744073709551615,"zero":-0})");
  EXPECT_EQ(R"({"big":4294967296,"neg":-5,"low":4294967297,"min":-2147483649,)"
            R"("max":18446744073709551615,"zero":0})",
            json.ToString());
  int value = 0;
  EXPECT_TRUE(json.Get("low", value));
  EXPECT_EQ(1, value);
  EXPECT_TRUE(json.Get("big", value));
  EXPECT_EQ(0, value);
  double d = 0;
  EXPECT_TRUE(json.Get("big", d));
  EXPECT_EQ(4294967296.0, d);

  EXPECT_TRUE(json.Parse("[-9999999999999999999999,99999999999999999999999]"));
  EXPECT_EQ("[-9223372036854775808,18446744073709551615]", json.ToString());
}

TEST(JsonNumbers, DoublesAndTheirIntegerView) {
  CJsonObject json(R"({"a":1.25,"b":1e0,"c":1.0,"d":1e2,"t":36.9,"m":-0.5,"e":1E-7,"f":2.5e+1})");
  EXPECT_EQ(R"({"a":1.250000,"b":1,"c":1.000000,"d":100.000000,"t":36.900000,"m":-0.500000,)"
            R"("e":0.000000,"f":25.000000})",
            json.ToString());
  int value = 99;
  EXPECT_TRUE(json.Get("t", value));
  EXPECT_EQ(36, value);
  EXPECT_TRUE(json.Get("m", value));
  EXPECT_EQ(0, value);

  EXPECT_TRUE(json.Parse(R"({"inf":1e999999,"ninf":-1e999999999999999999,"tiny":1e-999999,)"
                         R"("big":1e300})"));
  const std::string text = json.ToString();
  const std::string head = R"({"inf":null,"ninf":null,"tiny":0.000000,"big":1)";
  EXPECT_EQ(head, text.substr(0, head.size()));
  EXPECT_EQ(head.size() + 300 + 7 + 1, text.size());  // "%f" prints every integer digit
  EXPECT_TRUE(json.Get("ninf", value));
  EXPECT_EQ(INT32_MIN, value);
  EXPECT_TRUE(json.Get("big", value));
  EXPECT_EQ(INT32_MAX, value);
  CJsonObject copy;
  EXPECT_TRUE(json.Get("inf", copy));
  EXPECT_EQ("null", copy.ToString());
}

TEST(JsonStrings, PrintingEscapes) {
  CJsonObject json;
  json.Add("k\t", std::string("\t\x01\x1f\b\f\n\r\"\\/ \x7f\xc3\xa9\xf0\x9f\x98\x80"));
  EXPECT_EQ("{\"k\\t\":\"\\t\\u0001\\u001f\\b\\f\\n\\r\\\"\\\\/ \x7f\xc3\xa9\xf0\x9f\x98\x80\"}",
            json.ToString());
  CJsonObject again(json.ToString());
  std::string value;
  EXPECT_TRUE(again.Get("K\t", value));
  EXPECT_EQ("\t\x01\x1f\b\f\n\r\"\\/ \x7f\xc3\xa9\xf0\x9f\x98\x80", value);
}

TEST(JsonStrings, DecodingEscapes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"("\b\f\n\r\t\/\"\\\q")", "\b\f\n\r\t/\"\\q"},
      {R"("\u0041\u00e9\u20AC")", "A\xc3\xa9\xe2\x82\xac"},
      {R"("\ud83d\ude00")", "\xf0\x9f\x98\x80"},
      {R"("\uDBFF\uDFFF")", "\xf4\x8f\xbf\xbf"},
      {R"("a\ude00b")", "ab"},     // lone low surrogate
      {R"("a\ud83db")", "ab"},     // high surrogate, no escape after it
      {R"("\ud83d\u0041")", "A"},  // high surrogate, no low one after it
      {R"("a\u0000b")", "ab"},
      {R"("\u12")", ""},  // short escapes stop at the closing quote
      {R"("\u12zz")", "zz"},
      {"\"raw\x80\xff\ttab\"", "raw\x80\xff\ttab"},
      {"\"unterminated", "unterminated"},  // the end of the input closes a string
      {"\"ends in \\", "ends in "},
      {"\"ends in \\u00", "ends in "},
  };
  for (const auto& [text, decoded] : cases) {
    CJsonObject element;
    ASSERT_TRUE(element.Parse(text)) << text;
    // The value travels through printing and parsing again on its way into the holder.
    CJsonObject holder;
    ASSERT_TRUE(holder.Add("s", element)) << text;
    std::string value;
    EXPECT_TRUE(holder.Get("s", value)) << text;
    EXPECT_EQ(decoded, value) << text;
  }
}

TEST(JsonRobustness, DepthLimit) {
  CJsonObject json;
  EXPECT_TRUE(json.Parse(Nested("[", "", "]", 999)));
  EXPECT_EQ(Nested("[", "", "]", 999), json.ToString());
  std::string deep = Nested("[", "1", "]", 1000);
  EXPECT_FALSE(json.Parse(deep));
  EXPECT_EQ(kParseError + deep.substr(999), json.GetErrMsg());
  std::string objects = Nested("{\"a\":", "1", "}", 1000);
  EXPECT_FALSE(json.Parse(objects));
  EXPECT_EQ(kParseError + objects.substr(999 * 5), json.GetErrMsg());
  EXPECT_TRUE(json.Parse(Nested("{\"a\":", "1", "}", 999)));

  // Adding lets a document grow one level past the limit: it prints and frees, but its
  // text no longer parses.
  CJsonObject value(Nested("[", "", "]", 999));
  CJsonObject outer;
  ASSERT_TRUE(outer.Add("v", value));
  std::string text = outer.ToString();
  EXPECT_EQ("{\"v\":" + Nested("[", "", "]", 999) + "}", text);
  CJsonObject holder;
  EXPECT_FALSE(holder.Add("outer", outer));
  EXPECT_EQ(kParseError + text.substr(5 + 998), holder.GetErrMsg());
}

TEST(JsonRobustness, EveryTruncationFailsCleanly) {
  const std::string sample =
      R"({"code":0,"data":{"name":"Ann \"A\" \u00e9\ud83d\ude00\\","score":-36.95e-1,)"
      R"("ids":[4294967296,-5,true,false,null,[],{}],"e":"\t\/"}})";
  ASSERT_TRUE(CJsonObject(sample).GetErrMsg().empty());
  for (size_t length = 0; length < sample.size(); ++length) {
    CJsonObject json;
    EXPECT_FALSE(json.Parse(sample.substr(0, length))) << length;
    EXPECT_EQ(kParseError, json.GetErrMsg().substr(0, kParseError.size())) << length;
    EXPECT_EQ("", json.ToString());
  }
}

TEST(JsonRobustness, ErrorTextBelongsToEachThreadsParse) {
  const std::vector<std::string> inputs = {"[1,2,x]", R"({"a":1,})", "nul", "[[[[[", "{'a':1}"};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (const std::string& input : inputs) {
    threads.emplace_back([&wrong, input] {
      CJsonObject reference;
      reference.Parse(input);
      const std::string expected = reference.GetErrMsg();
      for (int i = 0; i < 2000; ++i) {
        CJsonObject json;
        if (json.Parse(input) || json.GetErrMsg() != expected) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
}

// Which invalid texts the parser's leniency accepts; a change here changes what the face
// clients accept from a server.
TEST(JsonCorpus, ParsesEveryFileOfTheSuite) {
  const std::set<std::string> acceptedInvalid = {
      // text after the first value is ignored
      "n_array_comma_after_close.json",
      "n_array_extra_close.json",
      "n_multidigit_number_then_00.json",
      "n_object_trailing_comment.json",
      "n_object_trailing_comment_open.json",
      "n_object_trailing_comment_slash_open.json",
      "n_object_trailing_comment_slash_open_incomplete.json",
      "n_object_with_trailing_garbage.json",
      "n_string_with_trailing_garbage.json",
      "n_structure_array_trailing_garbage.json",
      "n_structure_array_with_extra_array_close.json",
      "n_structure_close_unopened_array.json",
      "n_structure_double_array.json",
      "n_structure_number_with_trailing_garbage.json",
      "n_structure_object_followed_by_closing_object.json",
      "n_structure_object_with_trailing_garbage.json",
      "n_structure_trailing_#.json",
      // numbers: a bare "-", leading zeros, empty exponents
      "n_array_just_minus.json",
      "n_number_-01.json",
      "n_number_0.3e+.json",
      "n_number_0.3e.json",
      "n_number_0_capital_E+.json",
      "n_number_0_capital_E.json",
      "n_number_0e+.json",
      "n_number_0e.json",
      "n_number_1.0e+.json",
      "n_number_1.0e-.json",
      "n_number_1.0e.json",
      "n_number_neg_int_starting_with_zero.json",
      "n_number_neg_real_without_int_part.json",
      "n_number_with_leading_zero.json",
      // strings: a backslash gives the next character, bad \u escapes give nothing, raw
      // control bytes are copied, the end of the input closes a string
      "n_string_1_surrogate_then_escape_u.json",
      "n_string_1_surrogate_then_escape_u1.json",
      "n_string_1_surrogate_then_escape_u1x.json",
      "n_string_escape_x.json",
      "n_string_escaped_ctrl_char_tab.json",
      "n_string_escaped_emoji.json",
      "n_string_incomplete_escaped_character.json",
      "n_string_incomplete_surrogate.json",
      "n_string_incomplete_surrogate_escape_invalid.json",
      "n_string_invalid-utf-8-in-escape.json",
      "n_string_invalid_utf8_after_escape.json",
      "n_string_invalid_backslash_esc.json",
      "n_string_invalid_unicode_escape.json",
      "n_string_single_doublequote.json",
      "n_string_unescaped_newline.json",
      "n_string_unescaped_tab.json",
      "n_string_unicode_CapitalU.json",
      // form feed counts as a blank
      "n_structure_whitespace_formfeed.json",
  };
  std::set<std::string> acceptedSeen;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus / "test_parsing")) {
    const std::string name = entry.path().filename().string();
    const std::string text = ReadFile(entry.path());
    ++files;
    CJsonObject json;
    bool accepted = json.Parse(text);
    if (accepted) {
      CJsonObject again;
      EXPECT_TRUE(again.Parse(json.ToString())) << name;
      if (name[0] == 'n') acceptedSeen.insert(name);
    } else {
      EXPECT_EQ(kParseError, json.GetErrMsg().substr(0, kParseError.size())) << name;
    }
    if (name[0] == 'y') {
      EXPECT_TRUE(accepted) << name << ": " << json.GetErrMsg().substr(0, 80);
    }
  }
  EXPECT_EQ(318, files);
  EXPECT_EQ(acceptedInvalid, acceptedSeen);
}

TEST(JsonCorpus, DeepFilesFailAtTheLimit) {
  for (const auto& [file, levelBytes] :
       {std::pair<std::string, size_t>{"deep-nesting-100000.json", 1},
        {"deep-nesting-object.json", 5}}) {
    const std::string text = ReadFile(kCorpus / file);
    ASSERT_GT(text.size(), 100000u) << file;
    CJsonObject json;
    EXPECT_FALSE(json.Parse(text)) << file;
    EXPECT_TRUE(json.GetErrMsg() == kParseError + text.substr(999 * levelBytes)) << file;
  }
}
