#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mbox/from_line.h"

namespace quillfen {

// The three answers a message's header block gives.
struct HeaderAnswers {
  std::string charset;
  MessageDateTime date;
  std::string sender;
};

// Reads the header block of one message (never its body) and answers its
// character set, date and sender. A first line that is an old mbox envelope
// line ("From ...") is skipped. GMime lives behind this class only.
class MessageReader {
 public:
  MessageReader();
  ~MessageReader();
  MessageReader(const MessageReader&) = delete;
  MessageReader& operator=(const MessageReader&) = delete;

  // Loads the header block of the file at path. Returns false when the file
  // cannot be read; the answers then fall back to their defaults.
  bool OpenMessageFile(const std::string& path);
  // Loads the header block from message bytes held in memory;
  // fallbackTime (seconds since the epoch) stands in for a missing date.
  bool OpenMessageBytes(std::string_view bytes, long long fallbackTime);
  // Takes the answers that another reader gave for the same message: the
  // thread that reads messages ahead works them out while the conversion
  // writes the message before.
  void OpenAnswers(HeaderAnswers answers);

  // The charset parameter of the top-level Content-Type; "us-ascii" if none.
  std::string MessageCharset() const;
  // Date, else the newest Received date, else the file's modification time.
  MessageDateTime MessageDate() const;
  // The bare address of Return-Path, else From, else Sender; "MAILER-DAEMON"
  // when none gives one. Never holds white space or control characters.
  std::string SenderAddress() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The reader objects a front end keeps for its whole life and hands to every
// run: the MessageReader slot (emptied after each message's three values are
// read) and the character set name of the last message read. The text
// itself is never decoded: a record holds the message's exact bytes, whose
// own headers tell the importer their charset.
struct ReaderState {
  std::unique_ptr<MessageReader> messageReader;
  std::string charsetName;
};

}  // namespace quillfen
