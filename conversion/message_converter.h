#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

#include "destination/destination.h"
#include "destination/mac_names.h"
#include "destination/mirror_paths.h"
#include "mbox/content_hash.h"
#include "mbox/mbox_quoting.h"
#include "os/paths.h"
#include "source/message_readers.h"
#include "source/message_source.h"

namespace quillfen {

// Called between the pieces of a long message, so that the caller can stop.
using YieldFunction = std::function<void()>;

// What became of one message.
struct MessageOutcome {
  enum class Kind { Converted, Failed };
  Kind kind = Kind::Failed;
  std::string reason;  // for a failure: why, naming the side that failed
  // For a failure: the mailbox the message was meant for, as it is
  // written; empty when none could be derived.
  std::string mailbox;
};

// The one way a message becomes a record, for folder and archive conversion
// alike: the mailbox and its mirror folder are derived from the message's
// file name (the name it has, or would have, in the extracted export), the
// header block gives the From line, and the text follows in pieces with
// mboxrd quoting, so that memory stays the same whatever a message's size.
// A failure stays with its message: the mailbox is cut back to its last
// whole record and the reason is given, and the next message goes on.
class MessageConverter {
 public:
  // Opens a message's bytes; called only for a message that is converted.
  // It refers to the caller's function, which outlives the call, instead of
  // holding a copy: a std::function would allocate for most callers' state,
  // once for every message.
  class SourceOpener {
   public:
    template <typename Function>
    requires(!std::is_same_v<Function, SourceOpener> &&
             std::is_invocable_r_v<MessageSource&, const Function&>)
        SourceOpener(const Function& open)
        : function_(static_cast<const void*>(&open)),
          call_([](const void* function) -> MessageSource& {
            return (*static_cast<const Function*>(function))();
          }) {}
    MessageSource& operator()() const { return call_(function_); }

   private:
    const void* function_;
    MessageSource& (*call_)(const void*);
  };

  // sourceFolderExists tells whether a folder of the source exists (for the
  // batch folders "<name>!N" that join their sibling's mailbox).
  MessageConverter(Destination& destination, FolderExistsFunction sourceFolderExists,
                   PathStyle style = PathStyle::Native());

  // The mailbox sourceFile's message goes into, and in mirrorFolder the
  // folder that holds it. Throws MessageFailure when none can be derived.
  const std::string& MailboxFor(const std::string& sourceFile, std::string& mirrorFolder);
  // The mirror folders written under another name than their own, so that
  // they stay apart on a Mac: chosen to wanted, relative to the destination.
  const std::map<std::string, std::string>& renamed() const { return names_.renamed(); }
  // The mailbox of the last message converted (or failed), as it is
  // written; empty before the first.
  const std::string& lastMailbox() const { return lastMailbox_; }

  // Converts message index (its place among the source's messages). yield is
  // called between the pieces of a large message; what it throws leaves here
  // after the mailbox was cut back to its last whole record.
  MessageOutcome Convert(std::int32_t index, const std::string& sourceFile,
                         const SourceOpener& open, const YieldFunction& yield = {});

 private:
  // MailboxFor's mailbox, whose mirror folder is then lastMirrorFolder_.
  const std::string& UpdateMailbox(const std::string& sourceFile);
  void EnsureMirrorFolder(const std::string& folder);
  void WriteRecord(MailboxFile& mailbox, MessageSource& source, std::int32_t index,
                   const std::string& sourceFile, const YieldFunction& yield);
  std::size_t FillHead(MessageSource& source, bool& atEnd);

  Destination& destination_;
  MacSafeNames names_;
  FolderExistsFunction sourceFolderExists_;
  PathStyle style_;

  // The previous message's folder and what it gave: the queue holds a
  // folder's messages one after the other.
  std::string lastSourceFolder_, lastMirrorFolder_, lastMailbox_;
  std::string ensuredFolder_;

  std::unique_ptr<char[]> piece_;
  std::string out_;
  MboxQuoter quoter_;
  ContentHasher hasher_;
  MessageReader reader_;
};

}  // namespace quillfen
