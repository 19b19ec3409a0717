#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "destination/refused_names.h"

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
// bytes when that made it longer. With rules.windows, a name Windows refuses
// or changes is first given the name it takes unchanged
// (WindowsAcceptedName), and one cut for length ends in no dot or space; the
// name then stays apart like any other ("a:b" beside "a_b" becomes
// "a_b (2)"). Choices are kept in the destination's index, so every run into
// it chooses the same.
class MacSafeNames {
 public:
  MacSafeNames(Destination& destination, char separator, NameRules rules);

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
  // name cut to at most limit bytes, and under rules_ ending in no character
  // that Windows would strip.
  std::string Fitted(const std::string& name, std::size_t limit) const;
  // Whether a choice an earlier run stored can be used: with rules_.windows,
  // one that names a folder Windows refuses and that is not there could
  // never be created (an earlier version did not choose for Windows) and
  // is chosen anew; one that is there holds mail and stays.
  bool Usable(const std::string& chosen) const;

  Destination& destination_;
  char separator_;
  NameRules rules_;
  std::unordered_map<std::string, std::string> mapped_;  // wanted folder -> chosen
  std::unordered_map<std::string, Space> spaces_;        // chosen folder -> folded names
  std::map<std::string, std::string> renamed_;
};

}  // namespace quillfen
