// `kolibra ctl status --json` on the platform fakes: jobs run through the
// real cycle, and at each step the answer is checked against the schema in
// doc/status.schema.json (a small checker of the schema keywords it uses)
// and for the values a monitoring program reads.
#include "ui/status_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "app_rig.h"

namespace kolibra {
namespace {

using testing_app::AppRig;

// A parsed JSON value; text holds a string's text (its \u escapes kept as
// sent) or the spelling of a number, true, false or null.
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;
  const Json& operator[](const std::string& key) const {
    static const Json kNone;
    const auto it = members.find(key);
    return it == members.end() ? kNone : it->second;
  }
  double Number() const { return std::strtod(text.c_str(), nullptr); }
};

// A strict parser: ok stays true only for a whole, well-formed document.
class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}
  Json Document() {
    Json v = Value();
    ok = ok && Peek() == '\0';
    return v;
  }
  bool ok = true;

 private:
  char Peek() {
    while (i_ < s_.size() && std::string_view(" \t\r\n").find(s_[i_]) != std::string_view::npos) ++i_;
    return i_ < s_.size() ? s_[i_] : '\0';
  }
  bool Take(char c) { return Peek() == c && (++i_, true); }
  Json Value() {
    static const std::regex token(R"re("([^"\\\x00-\x1f]|\\(["\\/bfnrt]|u[0-9a-fA-F]{4}))*"|true|false|null|)re"
                                  R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
    Json v;
    const char c = Peek();
    if (c == '{' || c == '[') {
      ++i_;
      v.kind = c == '{' ? Json::kObject : Json::kArray;
      const char close = c == '{' ? '}' : ']';
      if (Take(close)) return v;
      do {
        if (c == '[') {
          v.items.push_back(Value());
          continue;
        }
        const Json key = Value();
        ok = ok && key.kind == Json::kString && Take(':') && !v.members.count(key.text);
        v.members[key.text] = Value();
      } while (ok && Take(','));
      ok = ok && Take(close);
      return v;
    }
    std::cmatch m;
    ok = ok && std::regex_search(s_.data() + i_, s_.data() + s_.size(), m, token,
                                 std::regex_constants::match_continuous);
    if (!ok) return v;
    i_ += m.length();
    v.text = m.str();
    v.kind = c == '"' ? Json::kString : c == 'n' ? Json::kNull : c == 't' || c == 'f' ? Json::kBool : Json::kNumber;
    if (c != '"') return v;
    std::string text;  // simple escapes decoded, \u escapes kept as sent
    for (std::size_t k = 1; k + 1 < v.text.size(); ++k) {
      char ch = v.text[k];
      if (ch == '\\' && v.text[k + 1] != 'u') ch = "\"\\/\b\f\n\r\t"[std::string_view("\"\\/bfnrt").find(v.text[++k])];
      text += ch;
    }
    v.text = text;
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

// Adds to errors, each with where it is, what in v breaks schema s (the
// keywords doc/status.schema.json uses; root holds its definitions).
void Check(const Json& root, const Json& s, const Json& v, const std::string& at, std::vector<std::string>& errors) {
  const auto fail = [&](const std::string& what) { errors.push_back(at + ": " + what); };
  if (s["$ref"].kind == Json::kString) {
    const std::string& ref = s["$ref"].text;
    return Check(root, root["definitions"][ref.substr(ref.rfind('/') + 1)], v, at, errors);
  }
  const std::string& type = s["type"].text;
  const char* const kTypes[] = {"null", "boolean", "number", "string", "array", "object"};
  const bool integer = v.kind == Json::kNumber && v.text.find_first_of(".eE") == std::string::npos;
  if (!type.empty() && type != kTypes[v.kind] && !(type == "integer" && integer)) fail("not " + type);
  const std::vector<Json>& values = s["enum"].items;
  if (s["enum"].kind == Json::kArray &&
      std::none_of(values.begin(), values.end(), [&](const Json& e) { return e.kind == v.kind && e.text == v.text; })) {
    fail("not in its enum");
  }
  if (s["oneOf"].kind == Json::kArray) {
    int matches = 0;
    for (const Json& alt : s["oneOf"].items) {
      std::vector<std::string> inner;
      Check(root, alt, v, at, inner);
      matches += inner.empty();
    }
    if (matches != 1) fail(std::to_string(matches) + " of oneOf match");
  }
  if (s["pattern"].kind == Json::kString && v.kind == Json::kString &&
      !std::regex_search(v.text, std::regex(s["pattern"].text))) {
    fail("'" + v.text + "' does not match " + s["pattern"].text);
  }
  // Bounds: on a number's value, a text's length, a list's length.
  const double measure =
      v.kind == Json::kNumber ? v.Number() : v.kind == Json::kString ? v.text.size() : v.items.size();
  for (const char* key : {"minimum", "minLength", "minItems", "maximum", "maxItems"}) {
    const bool atMost = key[1] == 'a';
    if (s[key].kind == Json::kNumber && (atMost ? measure > s[key].Number() : measure < s[key].Number())) {
      fail(std::string("outside its ") + key);
    }
  }
  for (std::size_t i = 0; i < v.items.size(); ++i) {
    Check(root, s["items"], v.items[i], at + "/" + std::to_string(i), errors);
  }
  for (const Json& key : s["required"].items) {
    if (v.kind == Json::kObject && !v.members.count(key.text)) fail("no " + key.text);
  }
  for (const auto& [key, value] : v.members) {
    Check(root, s["propertyNames"], Json{Json::kString, key, {}, {}}, at + "/" + key + " (name)", errors);
    const Json& extra = s["additionalProperties"];
    if (s["properties"].members.count(key)) {
      Check(root, s["properties"][key], value, at + "/" + key, errors);
    } else if (extra.kind == Json::kBool && extra.text == "false") {
      fail("unknown member " + key);
    } else {
      Check(root, extra, value, at + "/" + key, errors);
    }
  }
}

std::vector<std::string> SchemaErrors(const std::string& document) {
  std::ifstream in(std::string(KOLIBRA_SOURCE_DIR) + "/doc/status.schema.json");
  std::stringstream text;
  text << in.rdbuf();
  const Json schema = Parse(text.str());
  std::vector<std::string> errors;
  Check(schema, schema, Parse(document), "", errors);
  return errors;
}

// The value at path (member names and item numbers between slashes) as
// spelled in the document; "" when there is none.
std::string At(const Json& document, const std::string& path) {
  const Json* v = &document;
  std::stringstream steps(path);
  for (std::string step; v && std::getline(steps, step, '/');) {
    if (v->kind == Json::kArray) {
      const std::size_t i = std::stoul(step);
      v = i < v->items.size() ? &v->items[i] : nullptr;
    } else {
      v = v->members.count(step) ? &v->members.at(step) : nullptr;
    }
  }
  return !v ? "" : v->kind == Json::kNull ? "null" : v->kind >= Json::kArray ? "(" + path + ")" : v->text;
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
  r.ctx.state.status = "Caff\xe8 \"pronto\"";
  // The ECR takes the second job's first two lines, then falls silent; the
  // job runs inside one wait of the loop, so its state is taken from there.
  std::string whileRunning;
  r.fp.serial.responder = [&](const std::string& bytes) {
    if (bytes != "300H1R") return r.fp.serial.QueueInput(10, bytes);
    if (whileRunning.empty()) whileRunning = StatusJson(r.ctx);
  };
  const std::string before = StatusJson(r.ctx);

  r.StartPolling(1000);
  r.PutJob(1);
  ASSERT_TRUE(r.RunUntilTrue([&] { return r.Has("FINESCO", 1); }, 20000));
  r.Put("SR_DATI", "SALE,N1,P1000;\r\nSALE,N1,P200;\r\nSALE,N1,P300;\r\nTEND,N1,V1500;\r\n");
  r.Put("SR_START", "1\r\n");
  r.fp.fs.Remove(r.File("FINESCO"));
  ASSERT_TRUE(r.RunUntilTrue([&] { return r.Has("SR_ERR", 1); }, 80000));
  const std::string after = StatusJson(r.ctx);

  for (const std::string& json : {before, whileRunning, after}) {
    EXPECT_EQ(SchemaErrors(json), std::vector<std::string>{}) << json;
  }
  const struct {
    const std::string& json;
    std::string path, value;
  } rows[] = {
      {before, "status", "Caff\\u00e8 \"pronto\""},
      {before, "jobs/last", "null"},
      {before, "slots/1/ticked", "false"},
      {whileRunning, "jobs/running/port", "1"},
      {whileRunning, "jobs/running/linesSent", "2"},
      {whileRunning, "jobs/last/outcome", "printed"},
      {after, "jobs/running", "null"},
      {after, "jobs/sinceStart/jobs", "2"},
      {after, "jobs/sinceStart/printed", "1"},
      {after, "jobs/sinceStart/failed", "1"},
      {after, "jobs/sinceStart/failedByCode/-4", "1"},
      {after, "jobs/sinceStart/uncertain", "0"},
      {after, "jobs/last/code", "-4"},
      {after, "jobs/last/outcome", "failed"},
  };
  for (const auto& row : rows) EXPECT_EQ(At(Parse(row.json), row.path), row.value) << row.path;
  // The fake clock's year: the start is the job's, in the driver's clock.
  EXPECT_EQ(At(Parse(whileRunning), "jobs/running/startedAt").substr(0, 4), "2024");
}

}  // namespace
}  // namespace kolibra
