#pragma once

#include <optional>
#include <string>
#include <string_view>

// RFC 4648 Base64, standard alphabet with "=" padding, on one line. None for an empty
// input (the credentials of a request are never empty: they hold at least ":").
[[nodiscard]] std::optional<std::string> EncodeBase64(std::string_view bytes);
