#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mbox/from_line.h"

namespace quillfen {

// The answers a message's header block gives for its From line.
struct HeaderAnswers {
  MessageDateTime date;
  std::string sender;
};

// Reads the header block of one message (never its body) and answers its
// date and sender. Its character set is of no concern: a record holds the
// message's exact bytes, whose own headers tell the importer. A first line that is an old mbox
// envelope line ("From ...") is skipped. GMime lives behind this class only.
class MessageReader {
 public:
  MessageReader();
  ~MessageReader();
  MessageReader(const MessageReader&) = delete;
  MessageReader& operator=(const MessageReader&) = delete;

  // Loads the header block from message bytes held in memory;
  // fallbackTime (seconds since the epoch) stands in for a missing date.
  bool OpenMessageBytes(std::string_view bytes, long long fallbackTime);

  // Date, else the newest Received date, else the file's modification time.
  MessageDateTime MessageDate() const;
  // The bare address of Return-Path, else From, else Sender; "MAILER-DAEMON"
  // when none gives one. Never holds white space or control characters.
  // Valid until the next message is opened.
  const std::string& SenderAddress() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quillfen
