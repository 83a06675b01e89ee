#pragma once

#include <optional>
#include <string>

namespace platform {

// Where an instance keeps its registration, in its working directory.
inline constexpr char kRegistrationFile[] = "Velnor.reg";

// The service's registration records, kept in a profile file in the working directory
// (Velnor.reg) with the same reader and writer as the ini files:
//   [AppID\{guid}]      @=<service name>, and LocalService=<service name> for a service
//   [AppID\<exe name>]  AppID={guid}
class Registration {
 public:
  Registration(std::string file, std::string appId, std::string programEntry);

  // Writes the records; localService set means "runs as a service", unset removes it.
  [[nodiscard]] bool Write(const std::string& serviceName, const std::optional<std::string>& localService) const;
  // Removes the records (the file, which holds nothing else). True when none are left.
  [[nodiscard]] bool Remove() const;

  // None when the records cannot be opened (no file, or no AppID entry). Otherwise the
  // LocalService value, empty when absent.
  [[nodiscard]] std::optional<std::string> ReadLocalService() const;

 private:
  std::string AppIdSection() const;

  std::string file_;
  std::string appId_;
  std::string programEntry_;
};

}  // namespace platform
