// The installer's machine-wide model (installed products, their features and components,
// package files, file versions, the pending error record, the user-interface level) and the
// feature and component states and costs of running installations.
#include <algorithm>
#include <stdexcept>

#include "internal.h"

namespace hostplatform {
namespace {

using hostctl::Component;
using hostctl::DriveCost;
using hostctl::Feature;
using hostctl::Product;

// Features and components of one running installation.
struct Costing {
  std::vector<Feature> features;
  std::vector<Component> components;
};

struct InstallerState {
  std::vector<Product> products;  // installed, in install order
  std::map<Text, std::vector<Text>> commandLines;
  std::vector<std::pair<Text, Product>> packages;
  std::vector<std::pair<Text, std::pair<Text, Text>>> fileVersions;
  std::optional<std::vector<Cell>> lastError;
  INSTALLUILEVEL uiLevel = INSTALLUILEVEL_DEFAULT;
  // Keyed by the session object; holding it keeps the key from being reused while listed.
  std::map<std::shared_ptr<Session>, Costing> costing;
  std::vector<std::weak_ptr<Session>> productSessions;
};

InstallerState& State() {
  static InstallerState state;
  return state;
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

bool SameNoCase(const Text& a, const Text& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Upper(x) == Upper(y); });
}

bool IsHex(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the only form the installer takes for codes.
bool IsGuid(LPCWSTR text) {
  if (!text) return false;
  Text code(text);
  if (code.size() != 38 || code.front() != u'{' || code.back() != u'}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? code[i] != u'-' : !IsHex(code[i])) return false;
  }
  return true;
}

Product* FindProduct(const Text& code) {
  for (auto& product : State().products)
    if (SameNoCase(product.code, code)) return &product;
  return nullptr;
}

Feature* FindFeature(std::vector<Feature>& features, const Text& name) {
  for (auto& feature : features)
    if (feature.name == name) return &feature;
  return nullptr;
}

Component* FindComponent(std::vector<Component>& components, const Text& name) {
  for (auto& component : components)
    if (component.name == name) return &component;
  return nullptr;
}

// Component codes installed on the machine, each once, in the order products brought them.
std::vector<Text> InstalledComponentCodes() {
  std::vector<Text> codes;
  for (const auto& product : State().products)
    for (const auto& component : product.components) {
      if (component.installed == INSTALLSTATE_ABSENT) continue;
      bool seen = std::any_of(codes.begin(), codes.end(),
                              [&](const Text& code) { return SameNoCase(code, component.code); });
      if (!seen) codes.push_back(component.code);
    }
  return codes;
}

void CopyCode(const Text& code, LPWSTR buffer) {
  code.copy(buffer, code.size());
  buffer[code.size()] = u'\0';
}

bool IsConfigurableState(INSTALLSTATE state) {
  return state == INSTALLSTATE_ADVERTISED || state == INSTALLSTATE_ABSENT ||
         state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_SOURCE ||
         state == INSTALLSTATE_DEFAULT;
}

bool HasRemoveAll(LPCWSTR command) {
  if (!command) return false;
  Text upper(command);
  for (auto& c : upper) c = Upper(c);
  return upper.find(u"REMOVE=ALL") != Text::npos;
}

void RemoveProduct(const Text& code) {
  auto& products = State().products;
  products.erase(std::remove_if(products.begin(), products.end(),
                                [&](const Product& p) { return SameNoCase(p.code, code); }),
                 products.end());
}

// Every feature and component of a product installed in `state` (DEFAULT means local).
void InstallAll(Product& product, INSTALLSTATE state) {
  if (state == INSTALLSTATE_DEFAULT) state = INSTALLSTATE_LOCAL;
  for (auto& feature : product.features) feature.installed = state;
  for (auto& component : product.components)
    component.installed = state == INSTALLSTATE_ADVERTISED ? INSTALLSTATE_ABSENT : state;
}

Costing& CostingOf(const std::shared_ptr<Session>& session) { return State().costing[session]; }

MSIHANDLE OpenSession(const Product& product, bool machineState) {
  auto session = std::make_shared<Session>();
  session->properties = product.properties;
  session->properties.emplace(u"ProductCode", product.code);
  session->activeDatabase = product.database;
  Costing& costing = CostingOf(session);
  Product* installed = machineState ? FindProduct(product.code) : nullptr;
  for (Feature feature : product.features) {
    Feature* current = installed ? FindFeature(installed->features, feature.name) : nullptr;
    feature.installed = current ? current->installed : INSTALLSTATE_ABSENT;
    feature.action = INSTALLSTATE_UNKNOWN;
    costing.features.push_back(feature);
  }
  for (Component component : product.components) {
    Component* current = installed ? FindComponent(installed->components, component.name) : nullptr;
    component.installed = current ? current->installed : INSTALLSTATE_ABSENT;
    component.action = INSTALLSTATE_UNKNOWN;
    costing.components.push_back(component);
  }
  State().productSessions.push_back(session);
  return NewHandle(session);
}

bool IsProductSession(const std::shared_ptr<Session>& session) {
  for (const auto& weak : State().productSessions)
    if (weak.lock() == session) return true;
  return false;
}

bool IsCostState(INSTALLSTATE state) {
  return state == INSTALLSTATE_UNKNOWN || state == INSTALLSTATE_ADVERTISED ||
         state == INSTALLSTATE_ABSENT || state == INSTALLSTATE_LOCAL ||
         state == INSTALLSTATE_SOURCE || state == INSTALLSTATE_DEFAULT;
}

// What something of `cost` costs in `state`: the requested state stands in for UNKNOWN (the
// installed one when nothing is requested); local costs the whole, removing a local install
// frees it, the rest costs nothing.
int CostFor(INSTALLSTATE state, INSTALLSTATE installed, INSTALLSTATE action, int cost) {
  if (state == INSTALLSTATE_UNKNOWN) state = action != INSTALLSTATE_UNKNOWN ? action : installed;
  switch (state) {
    case INSTALLSTATE_LOCAL:
    case INSTALLSTATE_DEFAULT:
      return cost;
    case INSTALLSTATE_ABSENT:
      return installed == INSTALLSTATE_LOCAL ? -cost : 0;
    default:
      return 0;
  }
}

int FeatureCostFor(const Feature& feature, INSTALLSTATE state) {
  return CostFor(state, feature.installed, feature.action, feature.cost);
}

int ChildrenCost(std::vector<Feature>& features, const Text& parent, INSTALLSTATE state,
                 size_t depth) {
  if (depth > features.size()) return 0;  // a cycle in seeded data ends here
  int total = 0;
  for (const auto& feature : features)
    if (feature.parent == parent && !feature.name.empty())
      total +=
          FeatureCostFor(feature, state) + ChildrenCost(features, feature.name, state, depth + 1);
  return total;
}

// The per-drive entries of one component, or the totals of all when `name` is empty.
std::vector<DriveCost> DriveCosts(std::vector<Component>& components, const Component* only,
                                  INSTALLSTATE state) {
  std::vector<DriveCost> entries;
  for (const auto& component : components) {
    if (only && &component != only) continue;
    for (const auto& drive : component.costs) {
      int cost = CostFor(state, component.installed, component.action, drive.cost);
      auto found = std::find_if(entries.begin(), entries.end(), [&](const DriveCost& entry) {
        return SameNoCase(entry.drive, drive.drive);
      });
      if (found == entries.end()) {
        entries.push_back({drive.drive, cost, drive.tempCost});
      } else {
        found->cost += cost;
        found->tempCost += drive.tempCost;
      }
    }
  }
  return entries;
}

std::shared_ptr<Session> SessionFor(MSIHANDLE handle) { return Find<Session>(handle); }

// Both configuration calls: the whole product to `state`; ABSENT (or REMOVE=ALL on the command
// line) uninstalls it.
UINT ConfigureProduct(LPCWSTR product, INSTALLSTATE state, LPCWSTR command) {
  if (!IsGuid(product)) return ERROR_INVALID_PARAMETER;
  Product* installed = FindProduct(product);
  if (!installed) return ERROR_UNKNOWN_PRODUCT;
  if (!IsConfigurableState(state)) return ERROR_INVALID_PARAMETER;
  if (command && *command) State().commandLines[installed->code].emplace_back(command);
  if (state == INSTALLSTATE_ABSENT || HasRemoveAll(command)) {
    RemoveProduct(product);
    return ERROR_SUCCESS;
  }
  InstallAll(*installed, state);
  return ERROR_SUCCESS;
}

}  // namespace

void ResetInstaller() { State() = InstallerState(); }

}  // namespace hostplatform

using hostplatform::Enter;
using hostplatform::Text;

UINT MsiEnumComponentsW(DWORD index, LPWSTR component) {
  if (auto failed = Enter("MsiEnumComponentsW")) return static_cast<UINT>(*failed);
  if (!component) return ERROR_INVALID_PARAMETER;
  auto codes = hostplatform::InstalledComponentCodes();
  if (index >= codes.size()) return ERROR_NO_MORE_ITEMS;
  hostplatform::CopyCode(codes[index], component);
  return ERROR_SUCCESS;
}

UINT MsiEnumClientsW(LPCWSTR component, DWORD index, LPWSTR product) {
  if (auto failed = Enter("MsiEnumClientsW")) return static_cast<UINT>(*failed);
  if (!product || !component) return ERROR_INVALID_PARAMETER;
  std::vector<Text> clients;
  for (const auto& installed : hostplatform::State().products)
    for (const auto& part : installed.components)
      if (part.installed != INSTALLSTATE_ABSENT && hostplatform::SameNoCase(part.code, component)) {
        clients.push_back(installed.code);
        break;
      }
  if (clients.empty()) return ERROR_UNKNOWN_COMPONENT;
  if (index >= clients.size()) return ERROR_NO_MORE_ITEMS;
  hostplatform::CopyCode(clients[index], product);
  return ERROR_SUCCESS;
}

INSTALLSTATE MsiGetComponentPathW(LPCWSTR product, LPCWSTR component, LPWSTR buffer,
                                  LPDWORD capacity) {
  if (auto failed = Enter("MsiGetComponentPathW")) return static_cast<INSTALLSTATE>(*failed);
  if (!hostplatform::IsGuid(product) || !hostplatform::IsGuid(component) || (buffer && !capacity))
    return INSTALLSTATE_INVALIDARG;
  auto* installed = hostplatform::FindProduct(product);
  if (!installed) return INSTALLSTATE_UNKNOWN;
  for (const auto& part : installed->components) {
    if (!hostplatform::SameNoCase(part.code, component)) continue;
    if (part.installed != INSTALLSTATE_LOCAL && part.installed != INSTALLSTATE_SOURCE)
      return part.installed;
    if (!capacity) return part.installed;
    UINT copied = hostplatform::CopyOut(part.keyPath, buffer, capacity);
    return copied == ERROR_MORE_DATA ? INSTALLSTATE_MOREDATA : part.installed;
  }
  return INSTALLSTATE_UNKNOWN;
}

UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = Enter("MsiGetProductInfoW")) return static_cast<UINT>(*failed);
  if (!hostplatform::IsGuid(product) || !property || (buffer && !capacity))
    return ERROR_INVALID_PARAMETER;
  auto* installed = hostplatform::FindProduct(product);
  if (!installed) return ERROR_UNKNOWN_PRODUCT;
  auto found = installed->info.find(property);
  if (found == installed->info.end()) return ERROR_UNKNOWN_PROPERTY;
  if (!capacity) return ERROR_SUCCESS;
  return hostplatform::CopyOut(found->second, buffer, capacity);
}

UINT MsiGetFileVersionW(LPCWSTR path, LPWSTR version, LPDWORD versionCapacity, LPWSTR language,
                        LPDWORD languageCapacity) {
  if (auto failed = Enter("MsiGetFileVersionW")) return static_cast<UINT>(*failed);
  if (!path || (version && !versionCapacity) || (language && !languageCapacity))
    return ERROR_INVALID_PARAMETER;
  for (const auto& [file, texts] : hostplatform::State().fileVersions) {
    if (!hostplatform::SameNoCase(file, path)) continue;
    UINT result = ERROR_SUCCESS;
    if (versionCapacity && hostplatform::CopyOut(texts.first, version, versionCapacity) != 0)
      result = ERROR_MORE_DATA;
    if (languageCapacity && hostplatform::CopyOut(texts.second, language, languageCapacity) != 0)
      result = ERROR_MORE_DATA;
    return result;
  }
  return hostplatform::IsExistingFile(path) ? ERROR_FILE_INVALID : ERROR_FILE_NOT_FOUND;
}

UINT MsiGetProductPropertyW(MSIHANDLE product, LPCWSTR property, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = Enter("MsiGetProductPropertyW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(product);
  // Only sessions opened on a product or package carry product properties.
  if (!session || !hostplatform::IsProductSession(session)) return ERROR_INVALID_HANDLE;
  if (!property || (buffer && !capacity)) return ERROR_INVALID_PARAMETER;
  auto found = session->properties.find(property);
  if (!capacity) return ERROR_SUCCESS;
  return hostplatform::CopyOut(found == session->properties.end() ? Text() : found->second, buffer,
                               capacity);
}

UINT MsiOpenProductW(LPCWSTR product, MSIHANDLE* session) {
  if (session) *session = 0;
  if (auto failed = Enter("MsiOpenProductW")) return static_cast<UINT>(*failed);
  if (!session || !hostplatform::IsGuid(product)) return ERROR_INVALID_PARAMETER;
  auto* installed = hostplatform::FindProduct(product);
  if (!installed) return ERROR_UNKNOWN_PRODUCT;
  *session = hostplatform::OpenSession(*installed, true);
  return ERROR_SUCCESS;
}

UINT MsiOpenPackageExW(LPCWSTR path, DWORD options, MSIHANDLE* session) {
  if (session) *session = 0;
  if (auto failed = Enter("MsiOpenPackageExW")) return static_cast<UINT>(*failed);
  if (!path || !session || (options & ~MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE) != 0)
    return ERROR_INVALID_PARAMETER;
  for (const auto& [registered, package] : hostplatform::State().packages) {
    if (!hostplatform::SameNoCase(registered, path)) continue;
    *session =
        hostplatform::OpenSession(package, !(options & MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE));
    return ERROR_SUCCESS;
  }
  return hostplatform::IsExistingFile(path) ? ERROR_INSTALL_PACKAGE_INVALID : ERROR_FILE_NOT_FOUND;
}

UINT MsiConfigureProductExW(LPCWSTR product, int, INSTALLSTATE state, LPCWSTR command) {
  if (auto failed = Enter("MsiConfigureProductExW")) return static_cast<UINT>(*failed);
  return hostplatform::ConfigureProduct(product, state, command);
}

UINT MsiConfigureProductW(LPCWSTR product, int, INSTALLSTATE state) {
  if (auto failed = Enter("MsiConfigureProductW")) return static_cast<UINT>(*failed);
  return hostplatform::ConfigureProduct(product, state, nullptr);
}

UINT MsiConfigureFeatureW(LPCWSTR product, LPCWSTR feature, INSTALLSTATE state) {
  if (auto failed = Enter("MsiConfigureFeatureW")) return static_cast<UINT>(*failed);
  if (!hostplatform::IsGuid(product) || !feature) return ERROR_INVALID_PARAMETER;
  auto* installed = hostplatform::FindProduct(product);
  if (!installed) return ERROR_UNKNOWN_PRODUCT;
  auto* target = hostplatform::FindFeature(installed->features, feature);
  if (!target) return ERROR_UNKNOWN_FEATURE;
  if (!hostplatform::IsConfigurableState(state)) return ERROR_INVALID_PARAMETER;
  target->installed = state == INSTALLSTATE_DEFAULT ? INSTALLSTATE_LOCAL : state;
  return ERROR_SUCCESS;
}

UINT MsiInstallProductW(LPCWSTR path, LPCWSTR command) {
  if (auto failed = Enter("MsiInstallProductW")) return static_cast<UINT>(*failed);
  if (!path) return ERROR_INVALID_PARAMETER;
  for (const auto& [registered, package] : hostplatform::State().packages) {
    if (!hostplatform::SameNoCase(registered, path)) continue;
    if (command && *command) hostplatform::State().commandLines[package.code].emplace_back(command);
    if (hostplatform::HasRemoveAll(command)) {
      if (!hostplatform::FindProduct(package.code)) return ERROR_UNKNOWN_PRODUCT;
      hostplatform::RemoveProduct(package.code);
      return ERROR_SUCCESS;
    }
    hostplatform::RemoveProduct(package.code);
    hostplatform::State().products.push_back(package);
    hostplatform::InstallAll(hostplatform::State().products.back(), INSTALLSTATE_LOCAL);
    return ERROR_SUCCESS;
  }
  return hostplatform::IsExistingFile(path) ? ERROR_INSTALL_PACKAGE_INVALID : ERROR_FILE_NOT_FOUND;
}

INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL level, HWND*) {
  if (auto failed = Enter("MsiSetInternalUI")) return static_cast<INSTALLUILEVEL>(*failed);
  auto& current = hostplatform::State().uiLevel;
  if (level == INSTALLUILEVEL_NOCHANGE) return current;
  // Any other value is taken as the new level, as Wine's installer takes it.
  INSTALLUILEVEL previous = current;
  current = level;
  return previous;
}

UINT MsiGetFeatureUsageW(LPCWSTR product, LPCWSTR feature, LPDWORD count, WORD* date) {
  if (auto failed = Enter("MsiGetFeatureUsageW")) return static_cast<UINT>(*failed);
  if (!hostplatform::IsGuid(product) || !feature) return ERROR_INVALID_PARAMETER;
  auto* installed = hostplatform::FindProduct(product);
  if (!installed) return ERROR_UNKNOWN_PRODUCT;
  auto* target = hostplatform::FindFeature(installed->features, feature);
  if (!target) return ERROR_UNKNOWN_FEATURE;
  if (count) *count = target->useCount;
  if (date) *date = target->dateUsed;
  return ERROR_SUCCESS;
}

INSTALLSTATE MsiQueryFeatureStateW(LPCWSTR product, LPCWSTR feature) {
  if (auto failed = Enter("MsiQueryFeatureStateW")) return static_cast<INSTALLSTATE>(*failed);
  if (!hostplatform::IsGuid(product) || !feature) return INSTALLSTATE_INVALIDARG;
  auto* installed = hostplatform::FindProduct(product);
  if (!installed) return INSTALLSTATE_UNKNOWN;
  auto* target = hostplatform::FindFeature(installed->features, feature);
  return target ? target->installed : INSTALLSTATE_UNKNOWN;
}

MSIHANDLE MsiGetLastErrorRecord() {
  if (auto failed = Enter("MsiGetLastErrorRecord")) return static_cast<MSIHANDLE>(*failed);
  auto& pending = hostplatform::State().lastError;
  if (!pending) return 0;
  // Handed out once: the installer forgets the record when it gives it away.
  auto record = std::make_shared<hostplatform::Record>();
  record->fields.emplace_back();
  record->fields.insert(record->fields.end(), pending->begin(), pending->end());
  pending.reset();
  return hostplatform::NewHandle(record);
}

UINT MsiGetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE* installed,
                           INSTALLSTATE* action) {
  if (auto failed = Enter("MsiGetComponentStateW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!component) return ERROR_INVALID_PARAMETER;
  auto* target =
      hostplatform::FindComponent(hostplatform::CostingOf(session).components, component);
  if (!target) return ERROR_UNKNOWN_COMPONENT;
  if (installed) *installed = target->installed;
  if (action) *action = target->action;
  return ERROR_SUCCESS;
}

UINT MsiSetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE state) {
  if (auto failed = Enter("MsiSetComponentStateW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!component) return ERROR_INVALID_PARAMETER;
  auto* target =
      hostplatform::FindComponent(hostplatform::CostingOf(session).components, component);
  if (!target) return ERROR_UNKNOWN_COMPONENT;
  if (state != INSTALLSTATE_ABSENT && state != INSTALLSTATE_LOCAL && state != INSTALLSTATE_SOURCE)
    return ERROR_INVALID_PARAMETER;
  target->action = state;
  return ERROR_SUCCESS;
}

UINT MsiGetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE* installed,
                         INSTALLSTATE* action) {
  if (auto failed = Enter("MsiGetFeatureStateW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!feature) return ERROR_INVALID_PARAMETER;
  auto* target = hostplatform::FindFeature(hostplatform::CostingOf(session).features, feature);
  if (!target) return ERROR_UNKNOWN_FEATURE;
  if (installed) *installed = target->installed;
  if (action) *action = target->action;
  return ERROR_SUCCESS;
}

UINT MsiSetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE state) {
  if (auto failed = Enter("MsiSetFeatureStateW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!feature) return ERROR_INVALID_PARAMETER;
  auto* target = hostplatform::FindFeature(hostplatform::CostingOf(session).features, feature);
  if (!target) return ERROR_UNKNOWN_FEATURE;
  // Only a state the feature allows can be requested.
  if (state < 0 || state > 31 || !(target->validStates & (1u << state)))
    return ERROR_FUNCTION_FAILED;
  target->action = state;
  return ERROR_SUCCESS;
}

UINT MsiGetFeatureValidStatesW(MSIHANDLE install, LPCWSTR feature, LPDWORD states) {
  if (auto failed = Enter("MsiGetFeatureValidStatesW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!feature || !states) return ERROR_INVALID_PARAMETER;
  auto* target = hostplatform::FindFeature(hostplatform::CostingOf(session).features, feature);
  if (!target) return ERROR_UNKNOWN_FEATURE;
  *states = target->validStates;
  return ERROR_SUCCESS;
}

UINT MsiGetFeatureCostW(MSIHANDLE install, LPCWSTR feature, MSICOSTTREE tree, INSTALLSTATE state,
                        LPINT cost) {
  if (auto failed = Enter("MsiGetFeatureCostW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!feature || !cost) return ERROR_INVALID_PARAMETER;
  auto& features = hostplatform::CostingOf(session).features;
  auto* target = hostplatform::FindFeature(features, feature);
  if (!target) return ERROR_UNKNOWN_FEATURE;
  if (!hostplatform::IsCostState(state)) return ERROR_INVALID_PARAMETER;
  int total = hostplatform::FeatureCostFor(*target, state);
  switch (tree) {
    case MSICOSTTREE_SELFONLY:
      break;
    case MSICOSTTREE_CHILDREN:
      total += hostplatform::ChildrenCost(features, target->name, state, 0);
      break;
    case MSICOSTTREE_PARENTS: {
      const hostctl::Feature* current = target;
      for (size_t depth = 0; depth < features.size() && !current->parent.empty(); ++depth) {
        current = hostplatform::FindFeature(features, current->parent);
        if (!current) break;
        total += hostplatform::FeatureCostFor(*current, state);
      }
      break;
    }
    default:
      return ERROR_INVALID_PARAMETER;
  }
  *cost = total;
  return ERROR_SUCCESS;
}

UINT MsiEnumComponentCostsW(MSIHANDLE install, LPCWSTR component, DWORD index, INSTALLSTATE state,
                            LPWSTR drive, LPDWORD capacity, LPINT cost, LPINT tempCost) {
  if (auto failed = Enter("MsiEnumComponentCostsW")) return static_cast<UINT>(*failed);
  auto session = hostplatform::SessionFor(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!capacity || !cost || !tempCost || !hostplatform::IsCostState(state))
    return ERROR_INVALID_PARAMETER;
  auto& components = hostplatform::CostingOf(session).components;
  // No component (or the empty name) asks for the whole installation's costs per drive.
  const hostctl::Component* only = nullptr;
  if (component && *component) {
    only = hostplatform::FindComponent(components, component);
    if (!only) return ERROR_UNKNOWN_COMPONENT;
  }
  auto entries = hostplatform::DriveCosts(components, only, state);
  if (index >= entries.size()) return ERROR_NO_MORE_ITEMS;
  *cost = entries[index].cost;
  *tempCost = entries[index].tempCost;
  return hostplatform::CopyOut(entries[index].drive, drive, capacity);
}

namespace hostctl {

void AddProduct(const Product& product) {
  if (!hostplatform::IsGuid(product.code.c_str()))
    throw std::invalid_argument("hostctl::AddProduct: not a product code: " + ToUtf8(product.code));
  hostplatform::RemoveProduct(product.code);
  hostplatform::State().products.push_back(product);
}

void RegisterPackage(const Text& path, const Product& product) {
  if (!hostplatform::IsGuid(product.code.c_str()))
    throw std::invalid_argument("hostctl::RegisterPackage: not a product code: " +
                                ToUtf8(product.code));
  for (auto& [registered, package] : hostplatform::State().packages)
    if (hostplatform::SameNoCase(registered, path)) {
      package = product;
      return;
    }
  hostplatform::State().packages.emplace_back(path, product);
}

std::optional<Product> InstalledProduct(const Text& code) {
  auto* product = hostplatform::FindProduct(code);
  return product ? std::optional<Product>(*product) : std::nullopt;
}

std::vector<Text> CommandLines(const Text& code) {
  for (const auto& [product, lines] : hostplatform::State().commandLines)
    if (hostplatform::SameNoCase(product, code)) return lines;
  return {};
}

void SetFileVersion(const Text& path, const Text& version, const Text& language) {
  auto& versions = hostplatform::State().fileVersions;
  for (auto& [file, texts] : versions)
    if (hostplatform::SameNoCase(file, path)) {
      texts = {version, language};
      return;
    }
  versions.push_back({path, {version, language}});
}

void SetLastErrorRecord(const std::vector<Cell>& fields) {
  hostplatform::State().lastError = fields;
}

INSTALLUILEVEL InternalUILevel() { return hostplatform::State().uiLevel; }

void AddFeature(MSIHANDLE session, const Feature& feature) {
  auto target = hostplatform::SessionFor(session);
  if (!target) throw std::invalid_argument("hostctl::AddFeature: not a session handle");
  auto& features = hostplatform::CostingOf(target).features;
  if (hostplatform::FindFeature(features, feature.name))
    throw std::invalid_argument("hostctl::AddFeature: duplicate feature " + ToUtf8(feature.name));
  features.push_back(feature);
}

void AddComponent(MSIHANDLE session, const Component& component) {
  auto target = hostplatform::SessionFor(session);
  if (!target) throw std::invalid_argument("hostctl::AddComponent: not a session handle");
  auto& components = hostplatform::CostingOf(target).components;
  if (hostplatform::FindComponent(components, component.name))
    throw std::invalid_argument("hostctl::AddComponent: duplicate component " +
                                ToUtf8(component.name));
  components.push_back(component);
}

}  // namespace hostctl
