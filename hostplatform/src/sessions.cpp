// Install sessions: properties, directories, actions and the messages sent to the installer.
#include <stdexcept>

#include "internal.h"

namespace hostplatform {
namespace {

// The installer's answer for a directory it does not know.
constexpr UINT kErrorDirectory = 267;

// Every session the control interface made, kept until Reset so a test can read a session's
// messages even after the code under test closed its handle.
std::map<MSIHANDLE, std::shared_ptr<Session>>& CreatedSessions() {
  static std::map<MSIHANDLE, std::shared_ptr<Session>> sessions;
  return sessions;
}

Session& ControlledSession(MSIHANDLE handle) {
  auto found = CreatedSessions().find(handle);
  if (found == CreatedSessions().end())
    throw std::invalid_argument("hostctl: " + std::to_string(handle) +
                                " is not a session made by CreateSession");
  return *found->second;
}

std::shared_ptr<Session> FindSession(MSIHANDLE handle) { return Find<Session>(handle); }

UINT GetPath(const std::map<Text, Text>& paths, LPCWSTR folder, LPWSTR buffer, LPDWORD capacity) {
  if (!folder || !capacity) return ERROR_INVALID_PARAMETER;
  auto found = paths.find(folder);
  if (found == paths.end()) return kErrorDirectory;
  return CopyOut(found->second, buffer, capacity);
}

}  // namespace

void ResetRecordsAndSessions() { CreatedSessions().clear(); }

}  // namespace hostplatform

using hostplatform::FindSession;
using hostplatform::Text;

int MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE handle) {
  if (auto failed = hostplatform::Enter("MsiProcessMessage")) return static_cast<int>(*failed);
  auto session = FindSession(install);
  auto record = hostplatform::Find<hostplatform::Record>(handle);
  if (!session || !record) return static_cast<int>(ERROR_INVALID_HANDLE);
  // The installer formats field 0 again against the session when it logs the message.
  session->messages.push_back({type, hostplatform::FormatRecord(session.get(), *record)});
  return 0;
}

UINT MsiDoActionW(MSIHANDLE install, LPCWSTR action) {
  if (auto failed = hostplatform::Enter("MsiDoActionW")) return static_cast<UINT>(*failed);
  auto session = FindSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!action || !*action) return ERROR_INVALID_PARAMETER;
  // Every action succeeds here; a test arms a failure to see another answer.
  session->actions.emplace_back(action);
  return ERROR_SUCCESS;
}

UINT MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = hostplatform::Enter("MsiGetPropertyW")) return static_cast<UINT>(*failed);
  auto session = FindSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!name) return ERROR_INVALID_PARAMETER;
  // A property that is not set reads like one set to the empty text.
  auto found = session->properties.find(name);
  return hostplatform::CopyOut(found == session->properties.end() ? Text() : found->second, buffer,
                               capacity);
}

UINT MsiSetPropertyW(MSIHANDLE install, LPCWSTR name, LPCWSTR value) {
  if (auto failed = hostplatform::Enter("MsiSetPropertyW")) return static_cast<UINT>(*failed);
  auto session = FindSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!name) return ERROR_INVALID_PARAMETER;
  if (!*name) return ERROR_FUNCTION_FAILED;
  // The empty text (or none) removes the property.
  if (!value || !*value)
    session->properties.erase(name);
  else
    session->properties[name] = value;
  return ERROR_SUCCESS;
}

UINT MsiGetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = hostplatform::Enter("MsiGetTargetPathW")) return static_cast<UINT>(*failed);
  auto session = FindSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  return hostplatform::GetPath(session->targetPaths, folder, buffer, capacity);
}

UINT MsiSetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPCWSTR path) {
  if (auto failed = hostplatform::Enter("MsiSetTargetPathW")) return static_cast<UINT>(*failed);
  auto session = FindSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  if (!folder || !path || !*path) return ERROR_INVALID_PARAMETER;
  auto found = session->targetPaths.find(folder);
  if (found == session->targetPaths.end()) return hostplatform::kErrorDirectory;
  // The installer keeps directories with a trailing separator.
  Text value = path;
  if (value.back() != u'\\') value += u'\\';
  found->second = value;
  return ERROR_SUCCESS;
}

UINT MsiGetSourcePathW(MSIHANDLE install, LPCWSTR folder, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = hostplatform::Enter("MsiGetSourcePathW")) return static_cast<UINT>(*failed);
  auto session = FindSession(install);
  if (!session) return ERROR_INVALID_HANDLE;
  return hostplatform::GetPath(session->sourcePaths, folder, buffer, capacity);
}

namespace hostctl {

MSIHANDLE CreateSession() {
  auto session = std::make_shared<hostplatform::Session>();
  MSIHANDLE handle = hostplatform::NewHandle(session);
  hostplatform::CreatedSessions()[handle] = session;
  return handle;
}

void SetProperty(MSIHANDLE session, const Text& name, const Text& value) {
  auto& properties = hostplatform::ControlledSession(session).properties;
  if (value.empty())
    properties.erase(name);
  else
    properties[name] = value;
}

Text Property(MSIHANDLE session, const Text& name) {
  const auto& properties = hostplatform::ControlledSession(session).properties;
  auto found = properties.find(name);
  return found == properties.end() ? Text() : found->second;
}

void SetTargetPath(MSIHANDLE session, const Text& directory, const Text& path) {
  hostplatform::ControlledSession(session).targetPaths[directory] = path;
}

void SetSourcePath(MSIHANDLE session, const Text& directory, const Text& path) {
  hostplatform::ControlledSession(session).sourcePaths[directory] = path;
}

std::vector<Message> Messages(MSIHANDLE session) {
  return hostplatform::ControlledSession(session).messages;
}

std::vector<Text> LogLines(MSIHANDLE session) {
  std::vector<Text> lines;
  // The message kind is the high byte; the low bits may carry button and icon flags.
  for (const auto& message : hostplatform::ControlledSession(session).messages)
    if ((static_cast<uint32_t>(message.type) & 0xFF000000u) == INSTALLMESSAGE_INFO)
      lines.push_back(message.text);
  return lines;
}

std::vector<Text> ActionsRun(MSIHANDLE session) {
  return hostplatform::ControlledSession(session).actions;
}

}  // namespace hostctl
