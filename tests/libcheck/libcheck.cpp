// ur-libcheck: runs msistd operations (and a few raw platform calls the host stand-in models)
// against the real Windows Installer and prints what they answered, one "key=value" line
// each, for libcheck.sh to compare. Usage: ur-libcheck <command> [arguments...]
#include <cstdio>
#include <string>
#include <vector>

#include "stdInstallLib.h"

namespace {

using msistd::CDatabase;
using msistd::CInstaller;
using msistd::CRecord;
using msistd::CSession;
using msistd::CSummaryInfo;
using msistd::WString;

// Summary property identifiers (the installer's numbers).
constexpr UINT kCodepage = 1;
constexpr UINT kTitle = 2;
constexpr UINT kAuthor = 4;
constexpr UINT kCreated = 12;
constexpr UINT kPageCount = 14;
constexpr UINT kWordCount = 15;

std::string Narrow(const WString& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

// Flushed at once, so a run that stops early still shows how far it came.
void Print(const char* key, const std::string& value) {
  std::printf("%s=%s\n", key, value.c_str());
  std::fflush(stdout);
}
void Print(const char* key, const WString& value) { Print(key, Narrow(value)); }
void Print(const char* key, long long value) { Print(key, std::to_string(value)); }

std::string Join(const std::vector<WString>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : ",") + Narrow(item);
  return out;
}

bool FileExists(const WString& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// binary <package> <name> <file>: extracts a Binary row.
int Binary(const std::vector<WString>& args) {
  CDatabase database = CInstaller().OpenDatabase(args.at(0), MSIDBOPEN_READONLY);
  Print("database", database.IsValid() ? 1 : 0);
  Print("extracted", database.StreamFileFromBinary(args.at(1), args.at(2)) ? 1 : 0);
  return 0;
}

// query <package>: a query on a package opened as a database.
int Query(const std::vector<WString>& args) {
  CDatabase database = CInstaller().OpenDatabase(args.at(0), MSIDBOPEN_READONLY);
  msistd::CView view = database.OpenView(
      L"SELECT `Property`, `Value` FROM `Property` WHERE `Property`='ProductName' OR "
      L"`Property`='LIBCHECK_MARK'");
  Print("execute", view.Execute());
  for (int row = 1;; ++row) {
    CRecord record = view.Fetch();
    if (!record.IsValid()) break;
    Print(("row" + std::to_string(row)).c_str(),
          Narrow(record.Field(1).String() + L"=" + record.Field(2).String()));
  }
  Print("missing_database",
        CInstaller().OpenDatabase(args.at(0) + L".none", MSIDBOPEN_READONLY).IsValid() ? 1 : 0);
  return 0;
}

std::string Time(const FILETIME& time) {
  return std::to_string(time.dwHighDateTime) + ":" + std::to_string(time.dwLowDateTime);
}

void PrintSummary(const CSummaryInfo& info) {
  Print("count", info.PropertyCount());
  Print("title_type", info.Property(kTitle).Type());
  Print("title", info.Property(kTitle).String());
  Print("title_int", info.Property(kTitle).Int());
  Print("author", info.Property(kAuthor).String());
  Print("codepage_type", info.Property(kCodepage).Type());
  Print("codepage", info.Property(kCodepage).Short());
  Print("pages_type", info.Property(kPageCount).Type());
  Print("pages", info.Property(kPageCount).Int());
  Print("pages_short", info.Property(kPageCount).Short());
  Print("words", info.Property(kWordCount).Int());
  Print("created_type", info.Property(kCreated).Type());
  Print("created_set", Time(info.Property(kCreated).FileTime()) != "0:0" ? 1 : 0);
  Print("unknown_type", info.Property(40).Type());
}

// summary <package>: reads the summary information.
int Summary(const std::vector<WString>& args) {
  CSummaryInfo info(args.at(0), 0);
  Print("open", info.IsValid() ? 1 : 0);
  PrintSummary(info);
  Print("readonly_set", info.Property(kTitle).Value(WString(L"refused")));
  Print("readonly_persist", info.Persist());
  MSIHANDLE raw = 0;
  Print("missing_code", MsiGetSummaryInformationW(0, (args.at(0) + L".none").c_str(), 0, &raw));
  for (UINT id = 1; id <= 19; ++id) {
    UINT type = 0;
    INT value = 0;
    FILETIME time = {0, 0};
    DWORD size = 0;
    MsiSummaryInfoGetPropertyW(info.MsiHandle(), id, &type, &value, &time, nullptr, &size);
    Print(("pid" + std::to_string(id)).c_str(), type);
  }
  UINT type = 0;
  INT value = 0;
  FILETIME time = {0, 0};
  DWORD size = 0;
  Print("pid40_code",
        MsiSummaryInfoGetPropertyW(info.MsiHandle(), 40, &type, &value, &time, nullptr, &size));
  CSummaryInfo limited(args.at(0), 1);
  Print("limited_first", limited.Property(10).Value(FILETIME{1, 2}));
  Print("limited_second", limited.Property(11).Value(FILETIME{1, 2}));
  Print("limited_existing", limited.Property(kAuthor).Value(WString(L"me")));
  CSummaryInfo missing(args.at(0) + L".none", 0);
  Print("missing_open", missing.IsValid() ? 1 : 0);
  Print("missing_count", missing.PropertyCount());
  return 0;
}

// summary-set <package> <title> <persist> [direct]: changes properties, persisting them when
// asked, through the package path or, with "direct", through a database opened for direct
// writes.
int SummarySet(const std::vector<WString>& args) {
  bool direct = args.size() > 3 && args.at(3) == L"direct";
  CSummaryInfo info = direct
                          ? CSummaryInfo(CInstaller().OpenDatabase(args.at(0), MSIDBOPEN_DIRECT), 4)
                          : CSummaryInfo(args.at(0), 4);
  Print("open", info.IsValid() ? 1 : 0);
  Print("set_title", info.Property(kTitle).Value(args.at(1)));
  Print("set_pages", info.Property(kPageCount).Value(65535));
  Print("pages_short", info.Property(kPageCount).Short());
  Print("set_words", info.Property(kWordCount).Value(65536));
  Print("words_short", info.Property(kWordCount).Short());
  Print("set_codepage", info.Property(kCodepage).Value(static_cast<short>(-1)));
  Print("codepage_int", info.Property(kCodepage).Int());
  FILETIME time = {0x89ABCDEFu, 0x01D00000u};
  Print("set_created", info.Property(kCreated).Value(time));
  Print("created", Time(info.Property(kCreated).FileTime()));
  Print("mismatch", info.Property(kTitle).Value(5));
  Print("unknown", info.Property(40).Value(WString(L"x")));
  if (args.at(2) == L"1") Print("persist", info.Persist());
  return 0;
}

// installed <product> <component> <feature>: installer-wide reads after an install.
int Installed(const std::vector<WString>& args) {
  CInstaller installer;
  const WString& product = args.at(0);
  const WString& component = args.at(1);
  const WString& feature = args.at(2);
  auto components = installer.Components();
  bool listed = false;
  for (const auto& code : components) listed = listed || code == component;
  Print("component_listed", listed ? 1 : 0);
  Print("clients", Join(installer.ComponentClients(component)));
  Print("path", installer.ComponentPath(product, component));
  Print("product_name", installer.ProductInfo(product, L"ProductName"));
  Print("version", installer.ProductInfo(product, L"VersionString"));
  Print("feature_state", installer.FeatureState(product, feature));
  Print("usage", installer.FeatureUsageCount(product, feature));
  CSession opened = installer.OpenProduct(product);
  Print("opened", opened.IsValid() ? 1 : 0);
  Print("opened_name", opened.ProductProperty(L"ProductName"));
  Print("opened_mark", opened.ProductProperty(L"LIBCHECK_MARK"));
  return 0;
}

// unknown: what the platform answers for codes it does not know and the UI level.
int Unknown(const std::vector<WString>&) {
  CInstaller installer;
  const WString kNone = L"{00000000-1111-2222-3333-444444444444}";
  Print("ui_first", installer.InternalUI());
  Print("ui_again", installer.InternalUI());
  Print("ui_set", installer.InternalUI(INSTALLUILEVEL_NONE));
  Print("ui_now", installer.InternalUI());
  Print("ui_bad", MsiSetInternalUI(static_cast<INSTALLUILEVEL>(99), nullptr));
  Print("ui_after_bad", installer.InternalUI());
  Print("clients_unknown", Join(installer.ComponentClients(kNone)));
  Print("clients_unknown_code", MsiEnumClientsW(kNone.c_str(), 0, std::vector<wchar_t>(39).data()));
  Print("clients_bad_code", MsiEnumClientsW(L"bad", 0, std::vector<wchar_t>(39).data()));
  Print("path_unknown", MsiGetComponentPathW(kNone.c_str(), kNone.c_str(), nullptr, nullptr));
  DWORD size = 0;
  Print("info_unknown", MsiGetProductInfoW(kNone.c_str(), L"ProductName", nullptr, &size));
  Print("info_bad", MsiGetProductInfoW(L"bad", L"ProductName", nullptr, &size));
  Print("open_unknown", installer.OpenProduct(kNone).IsValid() ? 1 : 0);
  MSIHANDLE handle = 0;
  Print("open_unknown_code", MsiOpenProductW(kNone.c_str(), &handle));
  Print("open_package_missing", MsiOpenPackageExW(L"C:\\none\\missing.msi", 0, &handle));
  Print("query_unknown", MsiQueryFeatureStateW(kNone.c_str(), L"Main"));
  DWORD count = 0;
  WORD date = 0;
  Print("usage_unknown", MsiGetFeatureUsageW(kNone.c_str(), L"Main", &count, &date));
  Print("configure_unknown", MsiConfigureProductW(kNone.c_str(), 0, INSTALLSTATE_LOCAL));
  Print("last_error", installer.LastErrorRecord().IsValid() ? 1 : 0);
  Print("last_error_again", installer.LastErrorRecord().IsValid() ? 1 : 0);
  return 0;
}

std::string Costs(const std::vector<CRecord>& records) {
  std::string out;
  for (const auto& record : records)
    out += (out.empty() ? "" : ";") + Narrow(record.Field(1).String()) + "/" +
           std::to_string(record.Field(2).Int()) + "/" + std::to_string(record.Field(3).Int());
  return out;
}

// package <package>: feature and component state and cost in a package session.
int Package(const std::vector<WString>& args) {
  CInstaller installer;
  installer.InternalUI(INSTALLUILEVEL_NONE);
  CSession package = installer.OpenPackage(args.at(0), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE);
  Print("opened", package.IsValid() ? 1 : 0);
  Print("mark", package.ProductProperty(L"LIBCHECK_MARK"));
  Print("before_costing", package.FeatureCurrentState(L"Main"));
  for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
    Print(Narrow(action).c_str(), package.DoAction(action));
  Print("feature_current", package.FeatureCurrentState(L"Main"));
  Print("feature_request", package.FeatureRequestState(L"Main"));
  Print("feature_valid", package.FeatureValidStates(L"Main"));
  Print("component_current", package.ComponentCurrentState(L"MainPart"));
  Print("component_request", package.ComponentRequestState(L"MainPart"));
  Print("set_feature_local", package.FeatureRequestState(L"Main", INSTALLSTATE_LOCAL));
  Print("set_extra_local", package.FeatureRequestState(L"Extra", INSTALLSTATE_LOCAL));
  Print("feature_request_after", package.FeatureRequestState(L"Main"));
  Print("component_request_after", package.ComponentRequestState(L"MainPart"));
  Print("cost_self_local", package.FeatureCost(L"Main", MSICOSTTREE_SELFONLY, INSTALLSTATE_LOCAL));
  Print("cost_children_local",
        package.FeatureCost(L"Main", MSICOSTTREE_CHILDREN, INSTALLSTATE_LOCAL));
  Print("cost_self_absent",
        package.FeatureCost(L"Main", MSICOSTTREE_SELFONLY, INSTALLSTATE_ABSENT));
  Print("cost_self_unknown",
        package.FeatureCost(L"Main", MSICOSTTREE_SELFONLY, INSTALLSTATE_UNKNOWN));
  for (DWORD index = 0; index < 4; ++index) {
    wchar_t drive[8] = {0};
    DWORD len = 0;
    int cost = -7;
    int temp = -7;
    UINT code = MsiEnumComponentCostsW(package.MsiHandle(), L"MainPart", index, INSTALLSTATE_LOCAL,
                                       drive, &len, &cost, &temp);
    std::string key = "raw_cost" + std::to_string(index);
    Print(key.c_str(), std::to_string(code) + "/" + std::to_string(len) + "/" +
                           std::to_string(cost) + "/" + std::to_string(temp));
    len = 8;
    code = MsiEnumComponentCostsW(package.MsiHandle(), L"MainPart", index, INSTALLSTATE_LOCAL,
                                  drive, &len, &cost, &temp);
    Print(key.c_str(), std::to_string(code) + "/" + Narrow(drive) + "/" + std::to_string(cost) +
                           "/" + std::to_string(temp));
  }
  Print("costs_main", Costs(package.ComponentCosts(L"MainPart", INSTALLSTATE_LOCAL)));
  Print("costs_extra", Costs(package.ComponentCosts(L"ExtraPart", INSTALLSTATE_LOCAL)));
  Print("costs_absent", Costs(package.ComponentCosts(L"MainPart", INSTALLSTATE_ABSENT)));
  Print("costs_unknown_component",
        package.ComponentCosts(L"NoSuchPart", INSTALLSTATE_LOCAL).size());
  Print("set_component_source", package.ComponentRequestState(L"MainPart", INSTALLSTATE_SOURCE));
  Print("component_request_source", package.ComponentRequestState(L"MainPart"));
  Print("set_feature_bad", package.FeatureRequestState(L"Main", 99));
  Print("set_feature_unknown", package.FeatureRequestState(L"NoSuchFeature", INSTALLSTATE_LOCAL));
  Print("feature_current_unknown", package.FeatureCurrentState(L"NoSuchFeature"));
  Print("component_current_unknown", package.ComponentCurrentState(L"NoSuchPart"));
  Print("valid_unknown", package.FeatureValidStates(L"NoSuchFeature"));
  return 0;
}

// streams <package>: raw record-stream answers on a fetched Binary row.
int Streams(const std::vector<WString>& args) {
  CDatabase database = CInstaller().OpenDatabase(args.at(0), MSIDBOPEN_READONLY);
  msistd::CView view = database.OpenView(L"SELECT * FROM Binary WHERE `Name`='Tiny'");
  view.Execute();
  CRecord record = view.Fetch();
  MSIHANDLE raw = record.MsiHandle();
  Print("size", MsiRecordDataSize(raw, 2));
  char buffer[16] = {0};
  DWORD len = 2;
  Print("read2", MsiRecordReadStream(raw, 2, buffer, &len));
  Print("read2_len", len);
  Print("size_after_read", MsiRecordDataSize(raw, 2));
  len = sizeof buffer;
  Print("read_rest", MsiRecordReadStream(raw, 2, buffer, &len));
  Print("read_rest_len", len);
  len = sizeof buffer;
  Print("read_end", MsiRecordReadStream(raw, 2, buffer, &len));
  Print("read_end_len", len);
  len = 0;
  Print("null_buffer", MsiRecordReadStream(raw, 2, nullptr, &len));
  Print("null_buffer_len", len);
  len = sizeof buffer;
  MsiRecordReadStream(raw, 2, buffer, &len);
  Print("read_after_null_len", len);
  len = sizeof buffer;
  Print("read_text_field", MsiRecordReadStream(raw, 1, buffer, &len));
  Print("reset", MsiRecordSetStreamW(raw, 2, nullptr));
  len = sizeof buffer;
  MsiRecordReadStream(raw, 2, buffer, &len);
  Print("read_after_reset_len", len);
  Print("set_missing", MsiRecordSetStreamW(raw, 2, L"C:\\none\\missing.bin"));
  Print("set_field0", MsiRecordSetStreamW(raw, 0, args.at(0).c_str()));
  CRecord fresh(2);
  Print("set_file", fresh.Field(1).SetStream(args.at(0)));
  Print("set_file_size", fresh.Field(1).DataSize() > 0 ? 1 : 0);
  len = sizeof buffer;
  Print("read_null_field", MsiRecordReadStream(fresh.MsiHandle(), 2, buffer, &len));
  return 0;
}

// tempfile <folder>: a temporary name and what is left behind.
int TempFile(const std::vector<WString>& args) {
  WString name = msistd::TempFileName(args.at(0), L"urx", L".part");
  Print("name", name);
  WString system = name.substr(0, name.size() - 5);
  Print("system_exists", FileExists(system) ? 1 : 0);
  Print("name_exists", FileExists(name) ? 1 : 0);
  Print("missing_folder", msistd::TempFileName(args.at(0) + L"\\none", L"urx", L"").size());
  wchar_t buffer[MAX_PATH + 1] = {0};
  Print("raw_missing", GetTempFileNameW((args.at(0) + L"\\none").c_str(), L"u", 0, buffer));
  Print("raw_missing_error", GetLastError());
  HANDLE file = CreateFileW((args.at(0) + L"\\none\\f.bin").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  Print("create_missing_folder", file == INVALID_HANDLE_VALUE ? 1 : 0);
  Print("create_missing_folder_error", GetLastError());
  Print("version_none", CInstaller().FileVersion(args.at(0) + L"\\none.dll", false));
  DWORD size = 0;
  Print("version_missing_code",
        MsiGetFileVersionW((args.at(0) + L"\\none.dll").c_str(), nullptr, &size, nullptr, nullptr));
  return 0;
}

// versions <file>: version and language of a file with version resources.
int Versions(const std::vector<WString>& args) {
  Print("version", CInstaller().FileVersion(args.at(0), false));
  Print("language", CInstaller().FileVersion(args.at(0), true));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ur-libcheck <command> [arguments...]\n");
    return 2;
  }
  WString command = argv[1];
  std::vector<WString> args(argv + 2, argv + argc);
  struct Entry {
    const wchar_t* name;
    int (*run)(const std::vector<WString>&);
  };
  const Entry kCommands[] = {{L"binary", Binary},       {L"query", Query},
                             {L"summary", Summary},     {L"summary-set", SummarySet},
                             {L"installed", Installed}, {L"unknown", Unknown},
                             {L"package", Package},     {L"streams", Streams},
                             {L"tempfile", TempFile},   {L"versions", Versions}};
  for (const auto& entry : kCommands) {
    if (command != entry.name) continue;
    try {
      return entry.run(args);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "ur-libcheck: %s\n", error.what());
      return 2;
    }
  }
  std::fprintf(stderr, "ur-libcheck: unknown command\n");
  return 2;
}
