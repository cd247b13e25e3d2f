// `kolibra ctl status --json` on the platform fakes: jobs run through the
// real cycle, and at each step the answer is checked against the schema in
// doc/status.schema.json (a small checker of the schema keywords it uses)
// and for the values a monitoring program reads.
#include "ui/status_json.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <vector>

#include "app_rig.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

// A parsed JSON value.
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool boolean = false;
  double number = 0;
  bool integer = false;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;
  const Json& operator[](const std::string& key) const {
    static const Json kNone;
    const auto it = members.find(key);
    return it == members.end() ? kNone : it->second;
  }
};

// A strict parser: ok stays true only for a whole, well-formed document.
class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}
  Json Document() {
    Json v = Value();
    Space();
    if (i_ != s_.size()) ok = false;
    return v;
  }
  bool ok = true;

 private:
  void Space() {
    while (i_ < s_.size() && std::string_view(" \t\r\n").find(s_[i_]) != std::string_view::npos) ++i_;
  }
  bool Take(char c) {
    Space();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool Word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  std::string String() {
    std::string out;
    if (!Take('"')) return ok = false, out;
    while (i_ < s_.size() && s_[i_] != '"') {
      const auto c = static_cast<unsigned char>(s_[i_++]);
      if (c < 0x20) ok = false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      const char e = i_ < s_.size() ? s_[i_++] : '?';
      const std::map<char, char> simple{{'"', '"'}, {'\\', '\\'}, {'/', '/'}, {'b', '\b'},
                                        {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}};
      if (simple.count(e)) {
        out += simple.at(e);
      } else if (e == 'u' && i_ + 4 <= s_.size() &&
                 s_.substr(i_, 4).find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
        out += "\\u" + std::string(s_.substr(i_, 4));  // kept escaped: texts are compared as sent
        i_ += 4;
      } else {
        ok = false;
      }
    }
    if (!Take('"')) ok = false;
    return out;
  }
  Json Value() {
    Json v;
    Space();
    if (i_ >= s_.size()) return ok = false, v;
    const char c = s_[i_];
    if (c == '{') {
      v.kind = Json::kObject;
      ++i_;
      if (Take('}')) return v;
      do {
        Space();
        const std::string key = String();
        if (!Take(':') || v.members.count(key)) ok = false;
        v.members[key] = Value();
      } while (ok && Take(','));
      if (!Take('}')) ok = false;
    } else if (c == '[') {
      v.kind = Json::kArray;
      ++i_;
      if (Take(']')) return v;
      do v.items.push_back(Value());
      while (ok && Take(','));
      if (!Take(']')) ok = false;
    } else if (c == '"') {
      v.kind = Json::kString;
      v.text = String();
    } else if (Word("true") || Word("false")) {
      v.kind = Json::kBool;
      v.boolean = c == 't';
    } else if (Word("null")) {
      v.kind = Json::kNull;
    } else {
      std::size_t used = 0;
      const std::string rest(s_.substr(i_, 32));
      try {
        v.number = std::stod(rest, &used);
      } catch (...) {
        ok = false;
      }
      v.kind = Json::kNumber;
      v.integer = rest.substr(0, used).find_first_of(".eE") == std::string::npos;
      i_ += used;
      if (used == 0) ok = false;
    }
    return v;
  }
  std::string_view s_;
  std::size_t i_ = 0;
};

Json Parse(std::string_view text) {
  Parser p(text);
  Json v = p.Document();
  EXPECT_TRUE(p.ok) << text;
  return v;
}

// The schema keywords doc/status.schema.json uses; a problem found is
// added to errors with the path where it is.
class SchemaCheck {
 public:
  explicit SchemaCheck(const Json& root) : root_(root) {}
  void Check(const Json& s, const Json& v, const std::string& at) {
    if (s["$ref"].kind == Json::kString) {
      const std::string ref = s["$ref"].text;
      return Check(root_["definitions"][ref.substr(ref.rfind('/') + 1)], v, at);
    }
    if (s["type"].kind == Json::kString && !HasType(v, s["type"].text)) Fail(at, "not " + s["type"].text);
    if (s["enum"].kind == Json::kArray) {
      bool found = false;
      for (const Json& e : s["enum"].items) found = found || Same(e, v);
      if (!found) Fail(at, "not in its enum");
    }
    if (s["oneOf"].kind == Json::kArray) {
      int matches = 0;
      for (const Json& alt : s["oneOf"].items) {
        SchemaCheck inner(root_);
        inner.Check(alt, v, at);
        matches += inner.errors.empty();
      }
      if (matches != 1) Fail(at, std::to_string(matches) + " of oneOf match");
    }
    if (s["pattern"].kind == Json::kString && v.kind == Json::kString &&
        !std::regex_search(v.text, std::regex(s["pattern"].text))) {
      Fail(at, "'" + v.text + "' does not match " + s["pattern"].text);
    }
    if (s["minLength"].kind == Json::kNumber && v.text.size() < s["minLength"].number) Fail(at, "too short");
    if (s["minimum"].kind == Json::kNumber && v.number < s["minimum"].number) Fail(at, "below its minimum");
    if (s["maximum"].kind == Json::kNumber && v.number > s["maximum"].number) Fail(at, "above its maximum");
    if (v.kind == Json::kArray) {
      if (s["minItems"].kind == Json::kNumber && v.items.size() < s["minItems"].number) Fail(at, "too few items");
      if (s["maxItems"].kind == Json::kNumber && v.items.size() > s["maxItems"].number) Fail(at, "too many items");
      for (std::size_t i = 0; i < v.items.size(); ++i) Check(s["items"], v.items[i], at + "/" + std::to_string(i));
    }
    if (v.kind != Json::kObject) return;
    for (const Json& key : s["required"].items) {
      if (!v.members.count(key.text)) Fail(at, "no " + key.text);
    }
    for (const auto& [key, value] : v.members) {
      if (s["propertyNames"].kind == Json::kObject) {
        Json name;
        name.kind = Json::kString;
        name.text = key;
        Check(s["propertyNames"], name, at + "/" + key + " (name)");
      }
      if (s["properties"].members.count(key)) {
        Check(s["properties"][key], value, at + "/" + key);
      } else if (s["additionalProperties"].kind == Json::kBool && !s["additionalProperties"].boolean) {
        Fail(at, "unknown member " + key);
      } else if (s["additionalProperties"].kind == Json::kObject) {
        Check(s["additionalProperties"], value, at + "/" + key);
      }
    }
  }
  std::vector<std::string> errors;

 private:
  static bool HasType(const Json& v, const std::string& type) {
    const std::map<std::string, bool> is{{"null", v.kind == Json::kNull},     {"boolean", v.kind == Json::kBool},
                                         {"string", v.kind == Json::kString}, {"array", v.kind == Json::kArray},
                                         {"object", v.kind == Json::kObject}, {"number", v.kind == Json::kNumber},
                                         {"integer", v.kind == Json::kNumber && v.integer}};
    return is.count(type) && is.at(type);
  }
  static bool Same(const Json& a, const Json& b) {
    return a.kind == b.kind && a.text == b.text && a.boolean == b.boolean && a.number == b.number;
  }
  void Fail(const std::string& at, const std::string& what) { errors.push_back(at + ": " + what); }
  const Json& root_;
};

std::vector<std::string> SchemaErrors(const std::string& document) {
  std::ifstream in(std::string(KOLIBRA_SOURCE_DIR) + "/doc/status.schema.json");
  std::stringstream text;
  text << in.rdbuf();
  const Json schema = Parse(text.str());
  SchemaCheck check(schema);
  check.Check(schema, Parse(document), "");
  return check.errors;
}

TEST(StatusJson, TextsAreEscapedToAscii) {
  const struct {
    std::string bytes, json;
  } cases[] = {
      {"Pane \"bianco\" \\ 1/2", "\"Pane \\\"bianco\\\" \\\\ 1/2\""},
      {"\x80 \xe0\xe8 \x9f \x81", "\"\\u20ac \\u00e0\\u00e8 \\u0178 \\u0081\""},
      {std::string("a\r\n\t\0\x7f", 6), "\"a\\u000d\\u000a\\u0009\\u0000\\u007f\""},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.bytes), c.json);
  // The checker itself refuses what the schema forbids.
  EXPECT_FALSE(SchemaErrors("{\"version\":\"1\"}").empty());
}

TEST(StatusJson, FollowsTheJobsThroughTheCycleAndKeepsToTheSchema) {
  AppRig r;
  r.OnlySlots({1});
  r.ctx.ui.status = "Caff\xe8 \"pronto\"";
  // The ECR takes the second job's first two lines, then falls silent; the
  // job runs inside one wait of the loop, so its state is taken from there.
  std::string whileRunning;
  r.fp.serial.responder = [&](const std::string& bytes) {
    if (bytes != "300H1R") return r.fp.serial.QueueInput(10, bytes);
    if (whileRunning.empty()) whileRunning = StatusJson(r.ctx);
  };
  const auto status = [&] {
    const std::string json = StatusJson(r.ctx);
    EXPECT_EQ(SchemaErrors(json), std::vector<std::string>{}) << json;
    return Parse(json);
  };
  Json s = status();
  EXPECT_EQ(s["status"].text, "Caff\\u00e8 \"pronto\"");
  EXPECT_EQ(s["jobs"]["last"].kind, Json::kNull);
  EXPECT_EQ(s["slots"].items[1]["ticked"].boolean, false);

  r.StartPolling(1000);
  r.PutJob(1);
  ASSERT_TRUE(r.RunUntilTrue([&] { return r.Has("FINESCO", 1); }, 20000));
  r.Put("SR_DATI", "SALE,N1,P1000;\r\nSALE,N1,P200;\r\nSALE,N1,P300;\r\nTEND,N1,V1500;\r\n");
  r.Put("SR_START", "1\r\n");
  r.fp.fs.Remove(r.File("FINESCO"));
  ASSERT_TRUE(r.RunUntilTrue([&] { return r.Has("SR_ERR", 1); }, 80000));
  EXPECT_EQ(SchemaErrors(whileRunning), std::vector<std::string>{}) << whileRunning;
  s = Parse(whileRunning);
  const Json& running = s["jobs"]["running"];
  EXPECT_EQ(running["port"].number, 1);
  EXPECT_EQ(running["linesSent"].number, 2);
  EXPECT_EQ(running["startedAt"].text.substr(0, 4), "2024");  // the fake clock's year
  EXPECT_EQ(s["jobs"]["last"]["outcome"].text, "printed");

  s = status();
  EXPECT_EQ(s["jobs"]["running"].kind, Json::kNull);
  const Json& counts = s["jobs"]["sinceStart"];
  EXPECT_EQ(counts["jobs"].number, 2);
  EXPECT_EQ(counts["printed"].number, 1);
  EXPECT_EQ(counts["failed"].number, 1);
  EXPECT_EQ(counts["failedByCode"]["-4"].number, 1);
  EXPECT_EQ(counts["uncertain"].number, 0);
  EXPECT_EQ(s["jobs"]["last"]["code"].number, -4);
  EXPECT_EQ(s["jobs"]["last"]["outcome"].text, "failed");
}

}  // namespace
}  // namespace kolibra
