// UpdateRegistryEntry on a fuzzed Registry row. Input lines:
//   0: "<root>|<flags>"  root code in decimal (anything else: a null field); flags: a additive,
//      k create the row's key first, d deny writes to it, u ALLUSERS=1, p a REG_DWORD already
//      stored under the row's name, s a REG_SZ already stored there
//   1: Key   2: Name   3: Value  (a missing line is a null field)
//   4 on: NAME=VALUE properties
// After the call: the result, the lines under the row prefix, nothing open, nothing written but
// the named value, and that value's type and bytes by the grammar.
#include "fuzz/action_checks.h"
#include "fuzz_input.h"
#include "reference.h"
#include "sources/stdRegistryLib.h"

namespace {

using hostctl::Text;

struct Row {
  std::optional<int> root;
  std::string flags;
  Text key;
  std::optional<Text> name, value;
  bool Has(char flag) const { return flags.find(flag) != std::string::npos; }
};

Row Parse(const uint8_t* data, size_t size, MSIHANDLE session) {
  std::vector<std::string> lines = fuzzinput::Lines(data, size);
  std::vector<std::string> head = fuzzinput::Fields(lines[0]);
  Row row;
  row.root = fuzzinput::RootCode(head[0]);
  if (head.size() > 1) row.flags = head[1];
  if (lines.size() > 1) row.key = fuzzinput::UpToNul(fuzzinput::Units(lines[1]));
  if (lines.size() > 2) row.name = fuzzinput::UpToNul(fuzzinput::Units(lines[2]));
  if (lines.size() > 3) row.value = fuzzinput::UpToNul(fuzzinput::Units(lines[3]));
  for (size_t i = 4; i < lines.size(); ++i) {
    Text property = fuzzinput::WithoutNul(fuzzinput::Units(lines[i]));
    size_t equals = property.find(u'=');
    if (equals != 0 && equals != Text::npos)
      hostctl::SetProperty(session, property.substr(0, equals), property.substr(equals + 1));
  }
  if (row.Has('u')) hostctl::SetProperty(session, u"ALLUSERS", u"1");
  return row;
}

// A key path the registry accepts: no leading "\" and no component over 255 units.
bool OpenablePath(const Text& path) {
  if (!path.empty() && path[0] == u'\\') return false;
  size_t component = 0;
  for (char16_t unit : path) {
    component = unit == u'\\' ? 0 : component + 1;
    if (component > 255) return false;
  }
  return true;
}

uint32_t StoredDword(const std::optional<hostctl::RegValue>& value) {
  if (!value || value->type != REG_DWORD || value->data.size() != 4) return 0;
  return uint32_t(value->data[0]) | uint32_t(value->data[1]) << 8 |
         uint32_t(value->data[2]) << 16 | uint32_t(value->data[3]) << 24;
}

// The value the grammar stores for a formatted Value text, and the line it logs about the type.
std::pair<hostctl::RegValue, std::optional<Text>> Expected(
    const Text& text, bool additive, const std::optional<hostctl::RegValue>& before) {
  if (text.compare(0, 2, u"#%") == 0)
    return {{REG_EXPAND_SZ, hostctl::Utf16Bytes(text.substr(2), true)},
            u"Value will be stored as an expandable string (REG_EXPAND_SZ)"};
  if (text.compare(0, 2, u"#x") == 0)
    return {{REG_BINARY, reference::HexBytes(text.substr(2))},
            u"Value will be stored as a hexadecimal value (REG_BINARY)"};
  if (text.compare(0, 2, u"##") == 0)
    return {{REG_SZ, hostctl::Utf16Bytes(text.substr(1), true)}, std::nullopt};
  if (text.compare(0, 1, u"#") == 0) {
    const Text digits = text.substr(1);
    uint32_t n = static_cast<uint32_t>(reference::ToInt32(digits));
    uint32_t previous = additive ? StoredDword(before) : 0;
    uint32_t sum = previous + n;
    hostctl::RegValue stored{
        REG_DWORD, {uint8_t(sum), uint8_t(sum >> 8), uint8_t(sum >> 16), uint8_t(sum >> 24)}};
    if (!additive) return {stored, u"Value \"" + digits + u"\" will be stored as an integer (REG_DWORD)"};
    std::string signedPrevious = std::to_string(static_cast<int32_t>(previous));
    return {stored, u"New value \"" + digits + u"\" will be added to previous registry value \"" +
                        Text(signedPrevious.begin(), signedPrevious.end()) +
                        u"\" and will be stored as an integer (REG_DWORD)"};
  }
  return {{REG_SZ, hostctl::Utf16Bytes(text, true)}, std::nullopt};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hostctl::Reset();
  MSIHANDLE session = hostctl::CreateSession();
  msistd::SetInstallHandle(session);
  const Row row = Parse(data, size, session);
  const HKEY root = actioncheck::RootOf(row.root.value_or(MSI_NULL_INTEGER), row.Has('u'));
  const HKEY keyRoot = root ? root : HKEY_CURRENT_USER;

  msistd::CSession caller(session, false);
  caller.LogPrefix(u"Row: ");
  auto format = [&](const Text& text) { return text.empty() ? text : caller.Format(text); };
  const Text key = format(row.key), name = format(row.name.value_or(u"")),
             value = format(row.value.value_or(u""));

  bool created = false;
  if (row.Has('k') && OpenablePath(row.key) && !actioncheck::CanonicalPath(row.key).empty()) {
    hostctl::CreateKey(keyRoot, row.key);
    created = true;
    if (row.Has('p')) hostctl::SetDword(keyRoot, row.key, row.name.value_or(u""), 5);
    if (row.Has('s')) hostctl::SetString(keyRoot, row.key, row.name.value_or(u""), u"text");
    if (row.Has('d')) hostctl::DenyAccess(keyRoot, row.key);
  }
  const bool denied = created && row.Has('d') &&
                      actioncheck::SameName(actioncheck::CanonicalPath(key),
                                            actioncheck::CanonicalPath(row.key));
  // A value name over 16383 units is refused by the registry (87): formatting can grow a name
  // that far, e.g. "[0]" puts the whole template in its place.
  const bool writable = root && OpenablePath(key) && name.size() <= 16383 &&
                        hostctl::KeyExists(keyRoot, key) && !denied;
  const std::optional<hostctl::RegValue> before =
      writable ? hostctl::Value(keyRoot, key, name) : std::nullopt;
  const actioncheck::Snapshot snapshotBefore = actioncheck::TakeSnapshot();
  hostctl::ClearDebugOutput();

  bool applied;
  {
    msistd::CRecord record(6);
    record.Field(1).Value(u"Row");
    if (row.root) record.Field(2).Value(*row.root);
    record.Field(3).Value(row.key);
    if (row.name) record.Field(4).Value(*row.name);
    if (row.value) record.Field(5).Value(*row.value);
    record.Field(6).Value(u"Component");
    applied = UpdateRegistryEntry(caller, record, row.Has('a'));
  }
  FUZZ_REQUIRE(applied == (root != nullptr), "result");
  FUZZ_REQUIRE(caller.LogPrefix() == u"Row: ", "the caller's prefix changed");
  FUZZ_REQUIRE(hostctl::OpenHandleCount() == 1, "installer handles left open");
  FUZZ_REQUIRE(hostctl::OpenKeyCount() == 0, "registry keys left open");

  const actioncheck::Snapshot snapshotAfter = actioncheck::TakeSnapshot();
  std::vector<actioncheck::Target> targets;
  if (root) targets.push_back({root, key, name});
  std::string change = actioncheck::UnexpectedChange(snapshotBefore, snapshotAfter, targets);
  FUZZ_REQUIRE(change.empty(), change);
  const auto [expectedValue, typeLine] = Expected(value, row.Has('a'), before);
  if (writable) {
    FUZZ_REQUIRE(hostctl::Value(keyRoot, key, name) == expectedValue, "stored value");
  } else {
    FUZZ_REQUIRE(snapshotBefore.values == snapshotAfter.values, "a value changed");
  }

  // The row's own lines, exactly: the data they show is escaped against the installer's
  // formatting of the logged line.
  const Text prefix = u"Row: UpdateRegistryEntry: ";
  std::vector<Text> expectedLines;
  if (!root) {
    expectedLines.push_back(u"Can't identify root for update");
  } else {
    static const char16_t* const kRootTexts[] = {
        u"root: HKEY_CLASSES_ROOT ", u"root: HKEY_CURRENT_USER ", u"root: HKEY_LOCAL_MACHINE ",
        u"root: HKEY_USERS "};
    for (int i = 0; i < 4; ++i)
      if (actioncheck::kRoots[i] == root) expectedLines.push_back(kRootTexts[i]);
    expectedLines.push_back(u"Reg_Key Name: \"" + key + u"\"");
    expectedLines.push_back(u"Reg_Value Name: \"" + name + u"\"");
    expectedLines.push_back(u"Reg_Value Value: \"" + value + u"\"");
    if (typeLine) expectedLines.push_back(*typeLine);
  }
  std::vector<Text> lines;
  for (const Text& line : hostctl::LogLines(session))
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  FUZZ_REQUIRE(lines.size() == expectedLines.size(), "line count");
  for (size_t i = 0; i < lines.size(); ++i)
    FUZZ_REQUIRE(lines[i] == prefix + expectedLines[i], "line " + std::to_string(i));
  return 0;
}
