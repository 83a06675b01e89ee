#include "platform/Registration.h"

#include <cerrno>
#include <cstdio>

#include "platform/Profile.h"

namespace platform {
namespace {

constexpr std::size_t kValueSize = 261;  // a registry string of at most 260 bytes
constexpr char kAbsent[] = "\x01";       // no value can hold this, so it marks a missing key

}  // namespace

Registration::Registration(std::string file, std::string appId, std::string exeName)
    : file_(std::move(file)), appId_(std::move(appId)), exeName_(std::move(exeName)) {}

std::string Registration::AppIdSection() const { return "AppID\\" + appId_; }

bool Registration::Write(const std::string& serviceName,
                         const std::optional<std::string>& localService) const {
  if (!WritePrivateProfileString(AppIdSection(), "@", serviceName, file_)) return false;
  if (!WritePrivateProfileString("AppID\\" + exeName_, "AppID", appId_, file_)) return false;
  if (localService) return WritePrivateProfileString(AppIdSection(), "LocalService", *localService, file_);
  return DeletePrivateProfileKey(AppIdSection(), "LocalService", file_);
}

bool Registration::Remove() const { return std::remove(file_.c_str()) == 0 || errno == ENOENT; }

std::optional<std::string> Registration::ReadLocalService() const {
  if (GetPrivateProfileString(AppIdSection(), "@", kAbsent, kValueSize, file_) == kAbsent) return std::nullopt;
  if (GetPrivateProfileString("AppID\\" + exeName_, "AppID", kAbsent, kValueSize, file_) == kAbsent) {
    return std::nullopt;
  }
  return GetPrivateProfileString(AppIdSection(), "LocalService", "", kValueSize, file_);
}

}  // namespace platform
