#pragma once

// What constructors and list operations throw when they cannot get a thread, an event, a
// lock or memory: an exception that carries only its text. The catcher logs the text.
class ThrownText {
 public:
  explicit ThrownText(const char* text) : text_(text) {}
  const char* Text() const { return text_; }

 private:
  const char* text_;  // a string literal
};
