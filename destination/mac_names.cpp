#include "destination/mac_names.h"

#include <glib.h>

#include <memory>
#include <string_view>

#include "destination/destination.h"
#include "destination/destination_lock.h"
#include "destination/mirror_paths.h"
#include "destination/refused_names.h"
#include "os/folders.h"
#include "os/paths.h"

namespace quillfen {

namespace {

struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

std::string ValidName(const std::string& name) {
  if (g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) return name;
  const GText valid(g_utf8_make_valid(name.data(), static_cast<gssize>(name.size())));
  return valid ? std::string(valid.get()) : std::string("_");
}

// A name as a Mac's file system compares it: valid UTF-8, decomposed and
// case folded.
std::string FoldedName(const std::string& name) {
  std::string valid = ValidName(name);
  const GText decomposed(g_utf8_normalize(valid.c_str(), -1, G_NORMALIZE_NFD));
  if (!decomposed) return valid;
  const GText folded(g_utf8_casefold(decomposed.get(), -1));
  if (!folded) return decomposed.get();
  const GText again(g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFD));
  return again ? std::string(again.get()) : std::string(folded.get());
}

// The longest folder name the file systems on either side take, in bytes.
constexpr std::size_t kNameLimit = 255;

// name cut to at most limit bytes, at the start of a UTF-8 character, so
// that what is left stays valid UTF-8.
std::string FittedName(const std::string& name, std::size_t limit) {
  if (name.size() <= limit) return name;
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace

MacSafeNames::MacSafeNames(Destination& destination, char separator, NameRules rules)
    : destination_(destination), separator_(separator), rules_(rules) {
  for (const auto& [wanted, chosen] : destination_.ChosenNames())
    if (Usable(chosen)) mapped_[wanted] = chosen;
}

bool MacSafeNames::Usable(const std::string& chosen) const {
  if (!rules_.windows) return true;
  bool accepted = true;
  for (std::size_t start = 0; accepted && start < chosen.size();) {
    std::size_t end = chosen.find(separator_, start);
    if (end == std::string::npos) end = chosen.size();
    const std::string_view name = std::string_view(chosen).substr(start, end - start);
    accepted = WindowsAcceptedName(name) == name;
    start = end + 1;
  }
  if (accepted) return true;
  os::PathFacts facts;
  const os::Status there =
      os::InspectBelow(destination_.root(), chosen.substr(0, chosen.size() - 1), facts);
  return there.ok() || there.failure() == os::Failure::Link;
}

std::string MacSafeNames::Fitted(const std::string& name, std::size_t limit) const {
  std::string fitted = FittedName(name, limit);
  if (rules_.windows && fitted.size() < name.size()) fitted = WindowsAcceptedName(fitted);
  return fitted;
}

MacSafeNames::Space& MacSafeNames::SpaceOf(const std::string& chosenParent) {
  const auto [found, added] = spaces_.try_emplace(chosenParent);
  Space& space = found->second;
  if (!added) return space;
  const auto reserve = [&space](const std::string& name, const std::string& owner) {
    space.try_emplace(FoldedName(name), Entry{name, owner});
  };
  // The folder's own mailbox and, at the top, the destination's hidden
  // folder are never a subfolder's name.
  if (chosenParent.empty()) {
    reserve(kHiddenFolder, "\n");
  } else {
    const std::string mailbox =
        ExtractFileName(MboxFileFor(destination_.root() + chosenParent,
                                    PathStyle{separator_, PathStyle::Native().rootPrefixLength}),
                        PathStyle{separator_, PathStyle::Native().rootPrefixLength});
    reserve(mailbox, "\n");
  }
  // Folders chosen by earlier runs, then whatever the folder holds already.
  for (const auto& [wanted, chosen] : mapped_) {
    if (chosen.size() <= chosenParent.size() + 1 ||
        chosen.compare(0, chosenParent.size(), chosenParent) != 0)
      continue;
    const std::string rest =
        chosen.substr(chosenParent.size(), chosen.size() - chosenParent.size() - 1);
    if (rest.find(separator_) == std::string::npos) reserve(rest, wanted);
  }
  os::FolderListing listing;
  if (os::ListFolder(destination_.root() + chosenParent, listing).ok()) {
    for (const std::string& name : listing.subFolders) reserve(name, {});
    for (const std::string& name : listing.others) reserve(name, "\n");
  }
  return space;
}

const std::string& MacSafeNames::Map(const std::string& relativeFolder) {
  if (const auto known = mapped_.find(relativeFolder); known != mapped_.end()) {
    if (known->second != relativeFolder) renamed_[known->second] = relativeFolder;
    return known->second;
  }
  // The folder above first: every name on the way stays apart too.
  std::string wantedParent, name = relativeFolder.substr(0, relativeFolder.size() - 1);
  if (const std::size_t cut = name.rfind(separator_); cut != std::string::npos) {
    wantedParent = name.substr(0, cut + 1);
    name = name.substr(cut + 1);
  }
  const std::string chosenParent = wantedParent.empty() ? std::string() : Map(wantedParent);
  Space& space = SpaceOf(chosenParent);
  // Replacing invalid bytes can lengthen a name, and so does the number
  // added to keep it apart: cut first, or the folder could not be created
  // and none of its messages would be converted.
  const std::string valid = rules_.windows ? WindowsAcceptedName(ValidName(name)) : ValidName(name);
  std::string candidate = Fitted(valid, kNameLimit);
  for (int n = 2;; ++n) {
    const auto taken = space.find(FoldedName(candidate));
    // A folder that is there already by this very name is used again,
    // unless another folder of this run or an earlier one has it.
    if (taken == space.end() ||
        (taken->second.spelling == candidate &&
         (taken->second.owner.empty() || taken->second.owner == relativeFolder)))
      break;
    const std::string number = " (" + std::to_string(n) + ")";
    candidate = Fitted(valid, kNameLimit - number.size()) + number;
  }
  space[FoldedName(candidate)] = Entry{candidate, relativeFolder};
  const std::string chosen = chosenParent + candidate + separator_;
  destination_.RememberName(relativeFolder, chosen);
  if (chosen != relativeFolder) renamed_[chosen] = relativeFolder;
  return mapped_[relativeFolder] = chosen;
}

}  // namespace quillfen
