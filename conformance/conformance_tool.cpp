// ur-conformance: the host side of the Wine conformance run.
//   ur-conformance prepare --out DIR --dll WINDOWS_PATH SCENARIOS...
//     writes DIR/manifest.txt (one line per scenario: its name and "table" or "no-table"),
//     DIR/rows/NAME.idt (the scenario's Registry table for msibuild -i) and
//     DIR/runner-args.txt (ur-runner's @FILE: one run per scenario, package packages\NAME.msi)
//   ur-conformance check --output RUNNER_OUTPUT SCENARIOS...
//     compares each run of the runner's output with its scenario; exit 0 when all conform
// SCENARIOS are .scn files or folders holding them.
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "conformance/scenario.h"

namespace {

using conformance::Scenario;

int Usage() {
  std::cerr << "usage: ur-conformance prepare --out DIR --dll WINDOWS_PATH SCENARIOS...\n"
               "       ur-conformance check --output RUNNER_OUTPUT SCENARIOS...\n";
  return 2;
}

std::vector<Scenario> Load(const std::vector<std::string>& paths) {
  std::vector<Scenario> all;
  for (const std::string& path : paths) {
    struct stat info {};
    std::vector<std::string> files{path};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      files = conformance::ScenarioFiles(path);
    for (const std::string& file : files) {
      std::vector<Scenario> scenarios = conformance::ReadScenarioFile(file);
      all.insert(all.end(), scenarios.begin(), scenarios.end());
    }
  }
  return all;
}

void Write(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

int Prepare(const std::string& out, const std::string& dll, const std::vector<Scenario>& all) {
  mkdir(out.c_str(), 0755);
  mkdir((out + "/rows").c_str(), 0755);
  std::string manifest;
  std::vector<std::string> packages;
  for (const Scenario& s : all) {
    manifest += s.name + (s.registryTable ? " table\n" : " no-table\n");
    if (s.registryTable) Write(out + "/rows/" + s.name + ".idt", conformance::RegistryIdt(s));
    packages.push_back("packages\\" + s.name + ".msi");
  }
  Write(out + "/manifest.txt", manifest);
  Write(out + "/runner-args.txt", conformance::RunnerArguments(all, dll, packages));
  std::cout << all.size() << " scenario(s) prepared in " << out << "\n";
  return 0;
}

int Check(const std::string& outputPath, const std::vector<Scenario>& all) {
  std::ifstream in(outputPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + outputPath);
  std::stringstream content;
  content << in.rdbuf();
  std::vector<conformance::Outcome> runs = conformance::ParseRunnerOutput(content.str());
  size_t failed = 0, known = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    const Scenario& s = all[i];
    std::vector<std::string> details;
    std::string verdict = "FAIL";
    if (i < runs.size())
      verdict = conformance::Verdict(s, runs[i], details);
    else
      details.push_back("the runner produced no run for it");
    if (verdict == "FAIL") ++failed;
    if (verdict == "XFAIL") ++known;
    std::cout << verdict << " " << s.name;
    if (verdict != "PASS") std::cout << " (" << s.file << ":" << s.line << ")";
    std::cout << "\n";
    for (const std::string& detail : details) std::cout << "  " << detail << "\n";
  }
  if (runs.size() > all.size())
    std::cout << "note: " << runs.size() - all.size() << " run(s) more than scenarios\n";
  std::cout << all.size() - failed - known << " of " << all.size() << " scenario(s) conform, "
            << known << " known failure(s), " << failed << " failure(s)\n";
  return failed == 0 && runs.size() == all.size() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::string out, dll, output;
  std::vector<std::string> paths;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--out" || arg == "--dll" || arg == "--output") && i + 1 < argc) {
      (arg == "--out" ? out : arg == "--dll" ? dll : output) = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      return Usage();
    } else {
      paths.push_back(arg);
    }
  }
  try {
    std::vector<Scenario> all = Load(paths);
    if (all.empty()) {
      std::cerr << "ur-conformance: no scenarios found\n";
      return 2;
    }
    if (command == "prepare" && !out.empty() && !dll.empty()) return Prepare(out, dll, all);
    if (command == "check" && !output.empty()) return Check(output, all);
  } catch (const std::exception& e) {
    std::cerr << "ur-conformance: " << e.what() << "\n";
    return 2;
  }
  return Usage();
}
