#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillfen {

class Destination;

// The names of the mirror folders as they are written, so that they stay
// apart when the destination is copied to a Mac, whose file system folds
// case and Unicode normalisation: "Work" and "work", or "Café" composed and
// decomposed, are one name there, and copying both over would replace one
// folder of mail with the other. Within each folder every name is kept
// apart from the others, from what the folder holds already, and from the
// folder's own mailbox: the later of two names that fold together becomes
// "<name> (2)" (or 3, ...), the name cut at a character first where the
// number would take it past 255 bytes. A name that is not valid UTF-8 gets
// its invalid bytes replaced, as a Mac could not store it, and is cut to 255
// bytes when that made it longer. Choices are kept in the destination's
// index, so every run into it chooses the same.
class MacSafeNames {
 public:
  MacSafeNames(Destination& destination, char separator);

  // The folder relativeFolder (below the destination, ending with the
  // separator) as it is written.
  const std::string& Map(const std::string& relativeFolder);
  // The folders this run wrote under another name than their own: chosen
  // to wanted, both relative and ending with the separator.
  const std::map<std::string, std::string>& renamed() const { return renamed_; }

 private:
  struct Entry {
    std::string spelling;
    std::string owner;  // the folder it stands for; empty for what was there
  };
  using Space = std::unordered_map<std::string, Entry>;
  Space& SpaceOf(const std::string& chosenParent);

  Destination& destination_;
  char separator_;
  std::unordered_map<std::string, std::string> mapped_;  // wanted folder -> chosen
  std::unordered_map<std::string, Space> spaces_;        // chosen folder -> folded names
  std::map<std::string, std::string> renamed_;
};

}  // namespace quillfen
