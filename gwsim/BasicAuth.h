#pragma once

#include <string>
#include <string_view>

namespace gwsim {

// RFC 4648 Base64, standard alphabet, padded.
std::string Base64(std::string_view bytes);

// Whether an Authorization field value carries Basic credentials for user and password.
bool BasicAuthorizes(std::string_view fieldValue, std::string_view user, std::string_view password);

}  // namespace gwsim
