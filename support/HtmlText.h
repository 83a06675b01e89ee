#pragma once

#include <string>
#include <string_view>

// Appends text to an HTML page as text: & < > " and ' become entities, so that nothing an
// operator or a gateway wrote can open a tag or leave an attribute.
void AppendHtmlText(std::string& page, std::string_view text);
