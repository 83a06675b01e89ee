#include "support/HtmlText.h"

void AppendHtmlText(std::string& page, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        page += "&amp;";
        break;
      case '<':
        page += "&lt;";
        break;
      case '>':
        page += "&gt;";
        break;
      case '"':
        page += "&quot;";
        break;
      case '\'':
        page += "&#39;";
        break;
      default:
        page += c;
    }
  }
}
