#include "platform/Registration.h"

#include <cerrno>
#include <cstdio>

#include "platform/IniFile.h"

namespace platform {
namespace {

constexpr std::size_t kValueSize = 261;  // a registry string of at most 260 bytes
constexpr char kAbsent[] = "\x01";       // no value can hold this, so it marks a missing key

}  // namespace

Registration::Registration(std::string file, std::string appId, std::string programEntry)
    : file_(std::move(file)), appId_(std::move(appId)), programEntry_(std::move(programEntry)) {}

std::string Registration::AppIdSection() const { return "AppID\\" + appId_; }

bool Registration::Write(const std::string& serviceName,
                         const std::optional<std::string>& localService) const {
  if (!WriteIniString(AppIdSection(), "@", serviceName, file_)) return false;
  if (!WriteIniString("AppID\\" + programEntry_, "AppID", appId_, file_)) return false;
  if (localService) return WriteIniString(AppIdSection(), "LocalService", *localService, file_);
  return DeleteIniKey(AppIdSection(), "LocalService", file_);
}

bool Registration::Remove() const { return std::remove(file_.c_str()) == 0 || errno == ENOENT; }

std::optional<std::string> Registration::ReadLocalService() const {
  if (ReadIniString(AppIdSection(), "@", kAbsent, kValueSize, file_) == kAbsent) return std::nullopt;
  if (ReadIniString("AppID\\" + programEntry_, "AppID", kAbsent, kValueSize, file_) == kAbsent) {
    return std::nullopt;
  }
  return ReadIniString(AppIdSection(), "LocalService", "", kValueSize, file_);
}

}  // namespace platform
