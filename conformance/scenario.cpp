#include "scenario.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>

#include "hostplatform/control.h"
#include "tools/record_text.h"

namespace conformance {

namespace {

const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};

const std::pair<const char*, uint32_t> kTypes[] = {
    {"REG_NONE", 0},      {"REG_SZ", 1},    {"REG_EXPAND_SZ", 2},
    {"REG_BINARY", 3},    {"REG_DWORD", 4}, {"REG_DWORD_BIG_ENDIAN", 5},
    {"REG_LINK", 6},      {"REG_MULTI_SZ", 7}, {"REG_QWORD", 11},
};

struct Token {
  bool quoted = false;
  std::string word;
  Text text;
};

class LineReader {
 public:
  LineReader(const std::string& file, int line, const std::string& content)
      : file(file), line(line) {
    size_t pos = 0;
    for (;;) {
      while (pos < content.size() && (content[pos] == ' ' || content[pos] == '\t')) ++pos;
      if (pos >= content.size()) break;
      Token token;
      if (content[pos] == '"') {
        token.quoted = true;
        if (!recordtext::ReadQuoted(content, pos, token.text)) Fail("malformed quoted text");
        if (pos < content.size() && content[pos] != ' ' && content[pos] != '\t')
          Fail("a blank must follow a quoted text");
      } else {
        size_t end = content.find_first_of(" \t", pos);
        if (end == std::string::npos) end = content.size();
        token.word = content.substr(pos, end - pos);
        pos = end;
      }
      tokens.push_back(token);
    }
  }

  [[noreturn]] void Fail(const std::string& what) const {
    throw ParseError(file + ":" + std::to_string(line) + ": " + what);
  }

  size_t Size() const { return tokens.size(); }
  bool Empty() const { return tokens.empty(); }
  void ExpectCount(size_t count) const {
    if (tokens.size() != count)
      Fail("'" + Word(0) + "' takes " + std::to_string(count - 1) + " item(s)");
  }
  std::string Word(size_t i) const {
    if (i >= tokens.size() || tokens[i].quoted) Fail("item " + std::to_string(i + 1) + " must be a word");
    return tokens[i].word;
  }
  Text Quoted(size_t i) const {
    if (i >= tokens.size() || !tokens[i].quoted)
      Fail("item " + std::to_string(i + 1) + " must be a quoted text");
    return tokens[i].text;
  }
  std::optional<Text> QuotedOrNull(size_t i) const {
    if (i < tokens.size() && !tokens[i].quoted && tokens[i].word == "null") return std::nullopt;
    return Quoted(i);
  }
  std::string Root(size_t i) const {
    std::string root = Word(i);
    for (const char* known : kRoots)
      if (root == known) return root;
    Fail("unknown root " + root + " (HKCR, HKCU, HKLM or HKU)");
  }
  KeyRef Key(size_t i) const { return KeyRef{Root(i), Quoted(i + 1)}; }
  RegistryValue Value(size_t i) const {
    RegistryValue value{Key(i), Quoted(i + 2), Word(i + 3), {}};
    TypeCode(value.type);
    std::string hex = Word(i + 4);
    if (hex != "-") {
      if (hex.size() % 2 != 0) Fail("hex data needs an even number of digits");
      for (size_t k = 0; k < hex.size(); k += 2) {
        size_t used = 0;
        unsigned long byte = 0;
        try {
          byte = std::stoul(hex.substr(k, 2), &used, 16);
        } catch (const std::exception&) {
        }
        if (used != 2) Fail("bad hex data " + hex);
        value.data.push_back(static_cast<uint8_t>(byte));
      }
    }
    return value;
  }

 private:
  std::string file;
  int line;
  std::vector<Token> tokens;
};

bool StartsWithKey(const Text& path, const Text& tree) {
  auto lower = [](Text text) {
    for (auto& c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
    return text;
  };
  Text p = lower(path), t = lower(tree);
  return p == t || (p.size() > t.size() && p.compare(0, t.size(), t) == 0 && p[t.size()] == '\\');
}

bool IsRowText(const Text& text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x20 && c < 0x7F; });
}

void Finish(const Scenario& s, const LineReader& at) {
  if (s.calls.empty()) at.Fail("scenario " + s.name + " calls no export");
  auto covered = [&](const KeyRef& key) {
    for (const KeyRef& tree : s.clearKeys)
      if (tree.root == key.root && StartsWithKey(key.path, tree.path)) return true;
    return false;
  };
  std::vector<KeyRef> keys = KeysToCheck(s);
  keys.insert(keys.end(), s.givenKeys.begin(), s.givenKeys.end());
  for (const auto& value : s.givenValues) keys.push_back(value.key);
  for (const KeyRef& key : keys)
    if (!covered(key))
      at.Fail("scenario " + s.name + ": key " + key.root + "\\" + Utf8(key.path) +
              " lies under no 'clear' tree of the file, so an earlier run could leave it set");
  for (const KeyRef& gone : s.expectNoKeys) {
    for (const KeyRef& key : s.expectKeys)
      if (key == gone) at.Fail("scenario " + s.name + ": a key both expected and not expected");
    for (const auto& value : s.expectValues)
      if (value.key == gone) at.Fail("scenario " + s.name + ": a value under a key expected absent");
  }
}

void CompareLines(const char* what, const std::vector<Text>& expected,
                  const std::vector<Text>& actual, std::vector<std::string>& differences) {
  std::vector<Text> e, a;
  for (const Text& line : expected) e.push_back(MaskSystemText(line));
  for (const Text& line : actual) a.push_back(MaskSystemText(line));
  if (e == a) return;
  std::string listing = std::string(what) + " lines differ (' ' same, '-' expected, '+' actual):";
  for (size_t i = 0; i < std::max(e.size(), a.size()); ++i) {
    if (i < e.size() && i < a.size() && e[i] == a[i]) {
      listing += "\n    " + QuotedText(actual[i]);
      continue;
    }
    if (i < e.size()) listing += "\n  - " + QuotedText(expected[i]);
    if (i < a.size()) listing += "\n  + " + QuotedText(actual[i]);
  }
  differences.push_back(listing);
}

std::string Describe(const RegistryValue& value) {
  std::string text = QuotedText(value.name) + " " + value.type + " ";
  static const char kHex[] = "0123456789abcdef";
  for (uint8_t b : value.data) {
    text += kHex[b >> 4];
    text += kHex[b & 0xF];
  }
  if (value.data.empty()) text += "-";
  return text;
}

std::string KeyText(const KeyRef& key) { return key.root + " " + QuotedText(key.path); }

}  // namespace

std::string Utf8(const Text& text) { return hostctl::ToUtf8(text); }

std::string QuotedText(const Text& text) { return recordtext::Quoted(text); }

uint32_t TypeCode(const std::string& type) {
  for (const auto& [name, code] : kTypes)
    if (type == name) return code;
  size_t used = 0;
  unsigned long code = 0;
  try {
    code = std::stoul(type, &used, 10);
  } catch (const std::exception&) {
  }
  if (used == 0 || used != type.size()) throw ParseError("unknown registry type " + type);
  return static_cast<uint32_t>(code);
}

std::string TypeName(uint32_t code) {
  for (const auto& [name, known] : kTypes)
    if (code == known) return name;
  return std::to_string(code);
}

std::vector<Scenario> ParseScenarios(const std::string& content, const std::string& file) {
  std::vector<Scenario> scenarios;
  std::vector<KeyRef> clearKeys;
  std::optional<Scenario> current;
  bool reopenPending = false;
  std::istringstream stream(content);
  std::string text;
  int number = 0;
  while (std::getline(stream, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos || text[first] == '#') continue;
    LineReader line(file, number, text);
    const std::string command = line.Word(0);
    if (!current) {
      if (command == "clear") {
        line.ExpectCount(3);
        clearKeys.push_back(line.Key(1));
      } else if (command == "scenario") {
        line.ExpectCount(2);
        current.emplace();
        current->name = line.Word(1);
        current->file = file;
        current->line = number;
        if (current->name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789_.-") != std::string::npos)
          line.Fail("scenario names use letters, digits, '_', '.' and '-' only");
        current->clearKeys = clearKeys;
      } else {
        line.Fail("expected 'clear' or 'scenario', found '" + command + "'");
      }
      continue;
    }
    Scenario& s = *current;
    if (command == "end") {
      line.ExpectCount(1);
      if (reopenPending) line.Fail("'reopen' stands between two calls");
      Finish(s, line);
      scenarios.push_back(s);
      current.reset();
    } else if (command == "call") {
      line.ExpectCount(2);
      s.calls.push_back(line.Word(1));
      s.reopenBefore.push_back(reopenPending);
      reopenPending = false;
    } else if (command == "reopen") {
      line.ExpectCount(1);
      if (s.calls.empty() || reopenPending) line.Fail("'reopen' stands between two calls");
      reopenPending = true;
    } else if (command == "property") {
      line.ExpectCount(3);
      const std::string name = line.Word(1);
      s.properties.emplace_back(Text(name.begin(), name.end()), line.Quoted(2));
    } else if (command == "no-registry-table") {
      line.ExpectCount(1);
      s.registryTable = false;
    } else if (command == "row") {
      line.ExpectCount(6);
      RegistryRow row;
      row.registry = line.Quoted(1);
      size_t used = 0;
      try {
        row.root = std::stoi(line.Word(2), &used);
      } catch (const std::exception&) {
      }
      if (used == 0 || used != line.Word(2).size()) line.Fail("Root must be an integer");
      row.key = line.QuotedOrNull(3);
      row.name = line.QuotedOrNull(4);
      row.value = line.QuotedOrNull(5);
      for (const auto& field : {std::optional<Text>(row.registry), row.key, row.name, row.value})
        if (field && !IsRowText(*field))
          line.Fail("row texts are printable ASCII (they travel in an IDT file)");
      if (row.registry.empty()) line.Fail("a row needs its Registry key");
      if (!s.registryTable) line.Fail("rows in a scenario without a Registry table");
      s.rows.push_back(row);
    } else if (command == "given" || command == "expect") {
      const std::string what = line.Word(1);
      const bool given = command == "given";
      if (what == "key") {
        line.ExpectCount(4);
        (given ? s.givenKeys : s.expectKeys).push_back(line.Key(2));
      } else if (what == "value") {
        line.ExpectCount(7);
        try {
          (given ? s.givenValues : s.expectValues).push_back(line.Value(2));
        } catch (const ParseError& error) {
          line.Fail(error.what());
        }
      } else if (what == "nokey" && !given) {
        line.ExpectCount(4);
        s.expectNoKeys.push_back(line.Key(2));
      } else {
        line.Fail("'" + command + "' takes key, value" + (given ? "" : " or nokey"));
      }
    } else if (command == "log") {
      line.ExpectCount(2);
      s.logs.push_back(line.Quoted(1));
    } else if (command == "debug") {
      line.ExpectCount(2);
      s.checkDebug = true;
      s.debugs.push_back(line.Quoted(1));
    } else if (command == "known-failure") {
      line.ExpectCount(2);
      s.knownFailure = Utf8(line.Quoted(1));
      if (s.knownFailure.empty()) line.Fail("a known failure needs its reason");
    } else if (command == "no-debug") {
      line.ExpectCount(1);
      s.checkDebug = true;
    } else {
      line.Fail("unknown item '" + command + "' in scenario " + s.name);
    }
  }
  if (current) throw ParseError(file + ": scenario " + current->name + " has no 'end'");
  return scenarios;
}

std::vector<Scenario> ReadScenarioFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ParseError(path + ": cannot be read");
  std::stringstream content;
  content << in.rdbuf();
  std::string name = path.substr(path.find_last_of('/') + 1);
  return ParseScenarios(content.str(), name);
}

std::vector<std::string> ScenarioFiles(const std::string& directory) {
  std::vector<std::string> files;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".scn") == 0)
        files.push_back(directory + "/" + name);
    }
    closedir(dir);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<KeyRef> KeysToCheck(const Scenario& scenario) {
  std::vector<KeyRef> keys;
  auto add = [&](const KeyRef& key) {
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  };
  for (const KeyRef& key : scenario.expectKeys) add(key);
  for (const RegistryValue& value : scenario.expectValues) add(value.key);
  for (const KeyRef& key : scenario.expectNoKeys) add(key);
  return keys;
}

Text MaskSystemText(const Text& line) {
  const size_t open = line.find(u" (");
  if (open == Text::npos) return line;
  const size_t close = line.find(u"), call: ", open);
  if (close == Text::npos) return line;
  return line.substr(0, open + 2) + u"..." + line.substr(close);
}

std::vector<std::string> Compare(const Scenario& scenario, const Outcome& outcome) {
  std::vector<std::string> differences;
  if (!outcome.error.empty()) differences.push_back("the runner failed: " + outcome.error);
  std::vector<std::pair<std::string, uint32_t>> expectedResults;
  for (const std::string& call : scenario.calls) expectedResults.emplace_back(call, 0);
  if (outcome.results != expectedResults) {
    std::string text = "results differ: expected";
    for (const auto& [call, code] : expectedResults) text += " " + call + "=" + std::to_string(code);
    text += ", got";
    for (const auto& [call, code] : outcome.results) text += " " + call + "=" + std::to_string(code);
    differences.push_back(text);
  }
  CompareLines("log", scenario.logs, outcome.logs, differences);
  if (scenario.checkDebug) CompareLines("debugger", scenario.debugs, outcome.debugs, differences);

  for (const KeyRef& key : KeysToCheck(scenario)) {
    auto state = std::find_if(outcome.keys.begin(), outcome.keys.end(),
                              [&](const KeyState& s) { return s.key == key; });
    if (state == outcome.keys.end()) {
      differences.push_back("key " + KeyText(key) + " was not dumped");
      continue;
    }
    const bool gone = std::find(scenario.expectNoKeys.begin(), scenario.expectNoKeys.end(), key) !=
                      scenario.expectNoKeys.end();
    if (gone) {
      if (state->exists) differences.push_back("key " + KeyText(key) + " exists, expected none");
      continue;
    }
    if (!state->exists) {
      differences.push_back("key " + KeyText(key) + " does not exist");
      continue;
    }
    std::map<std::string, std::string> expected, actual;
    auto byName = [](const RegistryValue& v) { return Utf8(v.name); };
    for (const RegistryValue& v : scenario.expectValues)
      if (v.key == key) expected[byName(v)] = Describe(v);
    for (const RegistryValue& v : state->values) actual[byName(v)] = Describe(v);
    if (expected != actual) {
      std::string text = "values of key " + KeyText(key) + " differ:";
      for (const auto& [name, value] : expected)
        if (actual.count(name) == 0 || actual[name] != value) text += "\n  - " + value;
      for (const auto& [name, value] : actual)
        if (expected.count(name) == 0 || expected[name] != value) text += "\n  + " + value;
      differences.push_back(text);
    }
  }
  return differences;
}

std::string Verdict(const Scenario& scenario, const Outcome& outcome,
                    std::vector<std::string>& details) {
  details = Compare(scenario, outcome);
  if (scenario.knownFailure.empty()) return details.empty() ? "PASS" : "FAIL";
  if (!details.empty()) {
    details.insert(details.begin(), "known failure: " + scenario.knownFailure);
    return "XFAIL";
  }
  details.push_back("conforms although marked as a known failure (" + scenario.knownFailure +
                    "): remove the mark");
  return "FAIL";
}

std::vector<Outcome> ParseRunnerOutput(const std::string& output) {
  std::vector<Outcome> runs;
  std::istringstream stream(output);
  std::string text;
  int number = 0;
  bool inCall = false;
  while (std::getline(stream, text)) {
    ++number;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) continue;
    LineReader line("runner output", number, text);
    const std::string command = line.Word(0);
    if (command == "package") {
      runs.emplace_back();
      inCall = false;
      continue;
    }
    if (runs.empty()) line.Fail("'" + command + "' before the first package line");
    Outcome& run = runs.back();
    if (command == "call") {
      line.ExpectCount(2);
      inCall = true;
    } else if (command == "result") {
      line.ExpectCount(3);
      run.results.emplace_back(line.Word(1), static_cast<uint32_t>(std::stoul(line.Word(2))));
      inCall = false;
    } else if (command == "log") {
      line.ExpectCount(2);
      if (inCall) run.logs.push_back(line.Quoted(1));
    } else if (command == "log-unformatted") {
      if (inCall) run.logs.push_back(u"<log record not formatted: " + line.Quoted(1) + u">");
    } else if (command == "debug") {
      line.ExpectCount(2);
      if (inCall) run.debugs.push_back(line.Quoted(1));
    } else if (command == "key" || command == "nokey") {
      line.ExpectCount(3);
      run.keys.push_back(KeyState{line.Key(1), command == "key", {}});
    } else if (command == "value") {
      line.ExpectCount(6);
      RegistryValue value = line.Value(1);
      if (run.keys.empty() || !(run.keys.back().key == value.key))
        line.Fail("a value line outside its key");
      run.keys.back().values.push_back(value);
    } else if (command == "error") {
      line.ExpectCount(2);
      run.error = Utf8(line.Quoted(1));
    } else if (command != "end" && command != "reopen") {
      line.Fail("unknown record '" + command + "'");
    }
  }
  return runs;
}

std::string RunnerArguments(const std::vector<Scenario>& scenarios, const std::string& dll,
                            const std::vector<std::string>& packagePaths) {
  std::string args;
  auto add = [&](const Text& text) { args += QuotedText(text) + "\n"; };
  auto word = [&](const std::string& text) { args += text + "\n"; };
  auto ascii = [](const std::string& text) { return Text(text.begin(), text.end()); };
  auto key = [&](const KeyRef& k) { return ascii(k.root) + u"\\" + k.path; };
  word("--dll");
  add(ascii(dll));
  for (size_t i = 0; i < scenarios.size(); ++i) {
    const Scenario& s = scenarios[i];
    if (i > 0) word("--next");
    word("--package");
    add(ascii(packagePaths.at(i)));
    for (const KeyRef& k : s.clearKeys) {
      word("--clear-key");
      add(key(k));
    }
    for (const KeyRef& k : s.givenKeys) {
      word("--create-key");
      add(key(k));
    }
    for (const RegistryValue& v : s.givenValues) {
      word("--set-hex");
      add(key(v.key));
      add(v.name);
      word(v.type);
      std::string hex = Describe(v);
      word(hex.substr(hex.find_last_of(' ') + 1));
    }
    for (const auto& [name, value] : s.properties) {
      word("--property");
      add(name + u"=" + value);
    }
    for (size_t c = 0; c < s.calls.size(); ++c) {
      if (s.reopenBefore[c]) word("--reopen");
      word("--call");
      word(s.calls[c]);
    }
    for (const KeyRef& k : KeysToCheck(s)) {
      word("--dump-key");
      add(key(k));
    }
  }
  return args;
}

std::string RegistryIdt(const Scenario& scenario) {
  std::string idt =
      "Registry\tRoot\tKey\tName\tValue\tComponent_\r\n"
      "s72\ti2\tl255\tL255\tL0\ts72\r\n"
      "Registry\tRegistry\r\n";
  for (const RegistryRow& row : scenario.rows) {
    idt += Utf8(row.registry) + "\t" + std::to_string(row.root) + "\t" + Utf8(row.key.value_or(u"")) +
           "\t" + Utf8(row.name.value_or(u"")) + "\t" + Utf8(row.value.value_or(u"")) + "\tC\r\n";
  }
  return idt;
}

}  // namespace conformance
