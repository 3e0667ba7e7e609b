// Checks that hold after every run of an export on the stand-in, whatever the package held:
// no installer handle or registry key left open, COM balanced, and no registry change besides
// the values the applied rows name. Shared by the fuzz targets and the hostile-input suite; each
// check returns a description of what went wrong, empty when all is well.
#pragma once

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "UpdateRegistry.h"
#include "hostplatform/control.h"

namespace actioncheck {

using hostctl::Text;

inline const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE,
                              HKEY_USERS};

// Every key and value of the stand-in registry, paths as stored (components joined by "\").
struct Snapshot {
  std::set<std::pair<int, Text>> keys;
  std::map<std::tuple<int, Text, Text>, hostctl::RegValue> values;
};

inline void Walk(Snapshot& snapshot, int root, const Text& path) {
  for (const Text& name : hostctl::ValueNames(kRoots[root], path))
    snapshot.values.emplace(std::make_tuple(root, path, name),
                            *hostctl::Value(kRoots[root], path, name));
  for (const Text& child : hostctl::SubKeyNames(kRoots[root], path)) {
    Text childPath = path.empty() ? child : path + u"\\" + child;
    snapshot.keys.emplace(root, childPath);
    Walk(snapshot, root, childPath);
  }
}

inline Snapshot TakeSnapshot() {
  Snapshot snapshot;
  for (int root = 0; root < 4; ++root) Walk(snapshot, root, Text());
  return snapshot;
}

// A value a row may write: root, key path and value name as the row gives them after formatting.
struct Target {
  HKEY root;
  Text key;
  Text name;
};

inline Text Folded(Text text) {
  for (char16_t& unit : text)
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
  return text;
}

inline bool SameName(const Text& left, const Text& right) { return Folded(left) == Folded(right); }

// The key path as the registry resolves it: empty components (doubled or trailing "\") drop out.
inline Text CanonicalPath(const Text& path) {
  Text canonical, component;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != u'\\') {
      component += path[i];
      continue;
    }
    if (!component.empty()) {
      if (!canonical.empty()) canonical += u'\\';
      canonical += component;
    }
    component.clear();
  }
  return canonical;
}

// A value's place as names compare in the registry: root, folded canonical path, folded name.
using Place = std::tuple<int, Text, Text>;

inline Place PlaceOf(int root, const Text& path, const Text& name) {
  return {root, Folded(CanonicalPath(path)), Folded(name)};
}

inline std::string Describe(int root, const Text& path, const Text& name) {
  static const char* const kRootNames[] = {"HKCR", "HKCU", "HKLM", "HKU"};
  return std::string(kRootNames[root]) + "\\" + hostctl::ToUtf8(path) + " [" +
         hostctl::ToUtf8(name) + "]";
}

// The first difference between two snapshots that is not a write to one of `allowed`. Keys are
// never created or removed by the actions, and values never removed.
inline std::string UnexpectedChange(const Snapshot& before, const Snapshot& after,
                                    const std::vector<Target>& allowed) {
  if (before.keys != after.keys) return "the set of registry keys changed";
  for (const auto& [where, value] : before.values)
    if (!after.values.count(where))
      return "value removed: " +
             Describe(std::get<0>(where), std::get<1>(where), std::get<2>(where));
  std::set<Place> named;
  for (const Target& target : allowed)
    for (int root = 0; root < 4; ++root)
      if (kRoots[root] == target.root) named.insert(PlaceOf(root, target.key, target.name));
  for (const auto& [where, value] : after.values) {
    auto old = before.values.find(where);
    if (old != before.values.end() && old->second == value) continue;
    if (!named.count(PlaceOf(std::get<0>(where), std::get<1>(where), std::get<2>(where))))
      return "value written that no applied row names: " +
             Describe(std::get<0>(where), std::get<1>(where), std::get<2>(where));
  }
  return {};
}

// After an export returned: its result, handles besides the session, open keys and COM calls.
inline std::string FrameProblem(UINT result, MSIHANDLE session, int coInitializeBefore,
                                int coUninitializeBefore) {
  if (result != 0) return "result " + std::to_string(result);
  size_t handles = hostctl::OpenHandleCount() - (hostctl::IsHandleOpen(session) ? 1 : 0);
  if (!hostctl::IsHandleOpen(session)) return "the install handle was closed";
  if (handles != 0) return std::to_string(handles) + " installer handle(s) left open";
  if (hostctl::OpenKeyCount() != 0)
    return std::to_string(hostctl::OpenKeyCount()) + " registry key(s) left open";
  int initialized = hostctl::CoInitializeCalls() - coInitializeBefore;
  int uninitialized = hostctl::CoUninitializeCalls() - coUninitializeBefore;
  if (initialized != 1 || uninitialized != 1)
    return "COM calls unbalanced: " + std::to_string(initialized) + " CoInitialize, " +
           std::to_string(uninitialized) + " CoUninitialize";
  return {};
}

// The root a row's Root code selects, as the actions resolve it; null when it selects none.
inline HKEY RootOf(int code, bool allUsers) {
  switch (code) {
    case -1: return allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    case 0: return HKEY_CLASSES_ROOT;
    case 1: return HKEY_CURRENT_USER;
    case 2: return HKEY_LOCAL_MACHINE;
    case 3: return HKEY_USERS;
    default: return nullptr;
  }
}

}  // namespace actioncheck
