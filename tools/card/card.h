// A card as one edition handed it out, and why a read failed: what the call sequences produce and
// the schema, the CLI and the service consume.
#pragma once

#include <string>
#include <vector>

namespace idcard {

struct Field {
  const char* key;
  std::string value;  // UTF-8, padding trimmed
};

struct Card {
  std::vector<Field> fields;  // in the edition's own form
  std::string photo;          // path of the decoded bitmap, or empty
  // The separator the edition writes into a date field, even one that holds no date ('-', '.'), or
  // 0 when it hands the card's text out as it stands.
  char date_separator = 0;
  const std::string* find(const char* key) const;
};

// Why a read failed: no reader on the port, no card on it, the card there but its read failing,
// or the library itself unusable (an export missing).
enum class Failure { NoReader, NoCard, ReadFailed, Internal };

struct ReadError {
  Failure kind = Failure::Internal;
  std::string step;     // open, authenticate, select, read, library
  std::string call;     // the library call with its arguments: "OpenComm(1001)"
  int code = 0;         // what the call returned
  std::string message;  // what that result means
  // "open: OpenComm(1001) returned -10: no reader found (driver status 1)"
  std::string line() const;
};

struct ReadResult {
  bool ok = false;
  Card card;
  ReadError error;
};

}  // namespace idcard
