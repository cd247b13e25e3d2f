// `kolibra ctl status --json` on the fakes: jobs run through the real cycle; each answer is checked against
// doc/status.schema.json (by a checker of only the keywords it uses) and for the values a monitor reads.
#include "ui/status_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <vector>

#include "app_rig.h"

namespace kolibra {
namespace {

// A parsed JSON value; text holds a scalar's spelling (a string's without its quotes).
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;
  const Json& operator[](const std::string& key) const {
    static const Json kNone;
    return members.count(key) ? members.at(key) : kNone;
  }
  double Number() const { return std::strtod(text.c_str(), nullptr); }
};

// A strict parser: ok stays true only for well-formed values.
struct Parser {
  std::string_view s;
  std::size_t i = 0;
  bool ok = true;
  char Peek() {
    while (i < s.size() && std::string_view(" \t\r\n").find(s[i]) != std::string_view::npos) ++i;
    return i < s.size() ? s[i] : '\0';
  }
  bool Take(char c) { return Peek() == c && (++i, true); }
  Json Value() {
    static const std::regex token(R"re("([^"\\\x00-\x1f]|\\(["\\/bfnrt]|u[0-9a-fA-F]{4}))*"|true|false|null|)re"
                                  R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
    Json v;
    const char c = Peek();
    if (Take('{') || Take('[')) {
      v.kind = c == '{' ? Json::kObject : Json::kArray;
      const char close = c == '{' ? '}' : ']';
      for (bool first = true; ok && !Take(close); first = false) {
        ok = first || Take(',');
        if (c == '[') {
          v.items.push_back(Value());
        } else {
          const Json key = Value();
          ok = ok && key.kind == Json::kString && Take(':') && !v.members.count(key.text);
          v.members[key.text] = Value();
        }
      }
      return v;
    }
    std::cmatch m;
    ok = ok && std::regex_search(s.data() + i, s.data() + s.size(), m, token, std::regex_constants::match_continuous);
    if (!ok) return v;
    i += m.length();
    v.kind = c == '"' ? Json::kString : c == 'n' ? Json::kNull : c == 't' || c == 'f' ? Json::kBool : Json::kNumber;
    v.text = c == '"' ? m.str().substr(1, m.length() - 2) : m.str();
    return v;
  }
};

Json Parse(std::string_view text) {
  Parser p{text};
  const Json v = p.Value();
  EXPECT_TRUE(p.ok && p.Peek() == '\0') << text;
  return v;
}

// Adds to errors, each with where it is, what in v breaks schema s (root holds the definitions).
void Check(const Json& root, const Json& s, const Json& v, const std::string& at, std::vector<std::string>& errors) {
  const auto fail = [&](const std::string& what) { errors.push_back(at + ": " + what); };
  const std::string& ref = s["$ref"].text;
  if (!ref.empty()) return Check(root, root["definitions"][ref.substr(ref.rfind('/') + 1)], v, at, errors);
  const std::string& type = s["type"].text;
  const char* const kTypes[] = {"null", "boolean", "number", "string", "array", "object"};
  const bool integer = v.kind == Json::kNumber && v.text.find_first_of(".eE") == std::string::npos;
  if (!type.empty() && type != kTypes[v.kind] && !(type == "integer" && integer)) fail("not " + type);
  const std::vector<Json>& values = s["enum"].items;
  const auto same = [&](const Json& e) { return e.kind == v.kind && e.text == v.text; };
  if (s["enum"].kind == Json::kArray && std::none_of(values.begin(), values.end(), same)) fail("not in its enum");
  int matches = 0;
  for (const Json& alt : s["oneOf"].items) {
    std::vector<std::string> inner;
    Check(root, alt, v, at, inner);
    matches += inner.empty();
  }
  if (s["oneOf"].kind == Json::kArray && matches != 1) fail(std::to_string(matches) + " of oneOf match");
  const std::string pattern = std::regex_replace(s["pattern"].text, std::regex(R"(\\\\)"), "\\");
  if (!pattern.empty() && v.kind == Json::kString && !std::regex_search(v.text, std::regex(pattern))) {
    fail("'" + v.text + "' does not match " + pattern);
  }
  // Bounds: on a number's value, a text's length, a list's length.
  const double size = v.kind == Json::kNumber ? v.Number() : v.kind == Json::kString ? v.text.size() : v.items.size();
  for (const char* key : {"minimum", "minLength", "minItems", "maximum", "maxItems"}) {
    const double bound = s[key].kind == Json::kNumber ? s[key].Number() : key[1] == 'a' ? 1e300 : -1e300;
    if (key[1] == 'a' ? size > bound : size < bound) fail(std::string("outside its ") + key);
  }
  for (std::size_t i = 0; i < v.items.size(); ++i) {
    Check(root, s["items"], v.items[i], at + "/" + std::to_string(i), errors);
  }
  for (const Json& key : s["required"].items) {
    if (v.kind == Json::kObject && !v.members.count(key.text)) fail("no " + key.text);
  }
  for (const auto& [key, value] : v.members) {
    Check(root, s["propertyNames"], Json{Json::kString, key, {}, {}}, at + "/" + key + " (name)", errors);
    const Json& sub = s["properties"].members.count(key) ? s["properties"][key] : s["additionalProperties"];
    if (sub.text == "false") fail("unknown member " + key);
    Check(root, sub, value, at + "/" + key, errors);
  }
}

std::vector<std::string> SchemaErrors(const std::string& document) {
  const Json schema = Parse(fakes::ReadFileBytes(std::string(KOLIBRA_SOURCE_DIR) + "/doc/status.schema.json"));
  std::vector<std::string> errors;
  Check(schema, schema, Parse(document), "", errors);
  return errors;
}

TEST(StatusJson, EscapesToAsciiFollowsTheJobsAndKeepsToTheSchema) {
  // The checker itself refuses what the schema forbids.
  EXPECT_FALSE(SchemaErrors("{\"version\":\"1\"}").empty());
  testing_app::AppRig r{1};
  r.ctx.state.status = std::string("Caff\xe8 \"pronto\" \\ 1/2 \x80\xe0\x9f\x81\r\n\t\0\x7f", 30);
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

  // What a monitor reads, as spelled in the answer; every answer keeps to the schema.
  std::vector<std::pair<std::string, std::string>> rows = {
      {before, R"("status":"Caff\u00e8 \"pronto\" \\ 1/2 \u20ac\u00e0\u0178\u0081\u000d\u000a\u0009\u0000\u007f")"},
      {before, R"("last":null)"}, {before, R"({"port":2,"ticked":false,)"},
      // The fake clock's year: the start is the job's, in the driver's clock.
      {whileRunning, R"("running":{"port":1,"startedAt":"2024-)"},
      {whileRunning, R"(,"linesSent":2},"last":{"port":1,"code":0,"outcome":"printed",)"},
      {after, R"("running":null,"last":{"port":1,"code":-4,"outcome":"failed",)"},
      {after, R"("sinceStart":{"jobs":2,"printed":1,"failed":1,"failedByCode":{"-4":1},"uncertain":0})"},
  };
  // The data folder's path as the file system spells it: on POSIX, UTF-8 letters (one beyond 16 bits
  // too) as those characters, and bytes that are no UTF-8 as Windows-1252, as the other texts are.
  const struct { std::string dir, part; } paths[] = {
#ifndef _WIN32
      {"/srv/Caff\xc3\xa8/cassa \xf0\x9f\x8d\x95", R"("dataDir":"/srv/Caff\u00e8/cassa \ud83c\udf55",)"},
      {"/srv/Caff\xe8\xc3", R"("dataDir":"/srv/Caff\u00e8\u00c3",)"},
#endif
      {"C:\\Dati \"Caff\xe8\"", R"("dataDir":"C:\\Dati \"Caff\u00e8\"",)"},
  };
  for (const auto& path : paths) {
    r.ctx.dataDir = path.dir;
    rows.emplace_back(StatusJson(r.ctx), path.part);
  }
  for (const auto& [json, part] : rows) {
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
    EXPECT_EQ(SchemaErrors(json), std::vector<std::string>{}) << json;
  }
}

}  // namespace
}  // namespace kolibra
