// Names Windows refuses or changes, written under names it keeps, and kept
// apart like every other name.

#include "destination/refused_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "os/paths.h"
#include "os/platform.h"
#include "tests/support/temp_dir.h"

// The names kept apart need GLib, which only the whole core's build has.
#if __has_include(<glib.h>)
#include "conversion/message_converter.h"
#include "destination/destination.h"
#include "destination/mac_names.h"
#include "destination/mirror_paths.h"
#include "os/folders.h"
#define QUILLFEN_HAVE_MAC_NAMES 1
#endif

namespace quillfen {
namespace {

// Every kind of refusal, and names near them that Windows takes as they are.
TEST(RefusedNames, EachRefusalGetsANameWindowsKeeps) {
  const std::map<std::string, std::string> cases = {
      // Device names, in any case, before an extension or spaces too.
      {"CON", "CON_"},
      {"con.txt", "con_.txt"},
      {"Nul.old", "Nul_.old"},
      {"aux.tar.gz", "aux_.tar.gz"},
      {"NUL .old", "NUL_ .old"},
      {"Com1", "Com1_"},
      {"lpt9.x", "lpt9_.x"},
      {"COM\xC2\xB2", "COM\xC2\xB2_"},
      {"lpt\xC2\xB9.a", "lpt\xC2\xB9_.a"},
      {"CONSOLE", "CONSOLE"},
      {"COM10", "COM10"},
      {"COM", "COM"},
      {"xCON", "xCON"},
      {"LPT\xC2\xB9\xC2\xB9", "LPT\xC2\xB9\xC2\xB9"},
      // What Windows strips at the end.
      {"Work.", "Work_"},
      {"Work ", "Work_"},
      {"Work. .", "Work. _"},
      {"AUX.", "AUX_"},
      {" Lead", " Lead"},
      // Refused characters.
      {"a:b", "a_b"},
      {"Re: news", "Re_ news"},
      {"<>:\"/\\|?*", "_________"},
      {"tab\there\x01\x1F", "tab_here__"},
      {"Caf\xC3\xA9 \xE2\x80\x94 \x7F", "Caf\xC3\xA9 \xE2\x80\x94 \x7F"},
  };
  for (const auto& [name, accepted] : cases) EXPECT_EQ(WindowsAcceptedName(name), accepted) << name;

  // Windows (here, or Wine) creates each of them under that very name, when
  // asked the ordinary way, which strips ends and opens devices.
  if constexpr (os::kWindows) {
    test::TempDir work;
    std::set<std::string> wanted, listed;
    for (const auto& [name, accepted] : cases) {
      const std::u8string spelling(accepted.begin(), accepted.end());
      std::error_code refused;  // shows as a name missing below
      std::filesystem::create_directory(work.path() / std::filesystem::path(spelling), refused);
      wanted.insert(accepted);
    }
    for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
      const std::u8string spelling = entry.path().filename().u8string();
      listed.emplace(spelling.begin(), spelling.end());
    }
    EXPECT_EQ(listed, wanted);
  }
}

#ifdef QUILLFEN_HAVE_MAC_NAMES

constexpr char kSeparator = PathStyle::Native().separator;
constexpr NameRules kWindowsRules{true};

// A relative folder ending with the separator: Folder({"a", "b"}) is "a/b/".
std::string Folder(const std::vector<std::string>& names) {
  std::string folder;
  for (const std::string& name : names) folder += name + kSeparator;
  return folder;
}

// Maps each folder in turn, as the converter meets them.
std::vector<std::string> MapAll(MacSafeNames& names, const std::vector<std::string>& folders) {
  std::vector<std::string> chosen;
  for (const std::string& folder : folders) chosen.push_back(names.Map(folder));
  return chosen;
}

// Device names and the ends Windows strips get names of their own, which
// then stay apart from their siblings by the usual folding; below a renamed
// folder the path follows it, and a name cut for length ends in neither a
// dot nor a space.
TEST(RefusedNames, RenamedNamesStayApartAndAreListed) {
  test::TempDir work;
  Destination destination(work.str());
  MacSafeNames names(destination, kSeparator, kWindowsRules);
  const std::string longName = std::string(254, 'x') + ". tail";
  const std::vector<std::string> folders = {
      Folder({"Work"}),         Folder({"Work."}),   Folder({"Work "}),
      Folder({"work_"}),        Folder({"CON"}),     Folder({"con"}),
      Folder({"CON", "nul.x"}), Folder({"Con.txt"}), Folder({longName}),
  };
  const std::vector<std::string> expected = {
      Folder({"Work"}),           Folder({"Work_"}),    Folder({"Work_ (2)"}),
      Folder({"work_ (3)"}),      Folder({"CON_"}),     Folder({"con_ (2)"}),
      Folder({"CON_", "nul_.x"}), Folder({"Con_.txt"}), Folder({std::string(254, 'x') + "_"}),
  };
  EXPECT_EQ(MapAll(names, folders), expected);
  std::map<std::string, std::string> renamed;
  for (std::size_t i = 1; i < folders.size(); ++i) renamed[expected[i]] = folders[i];
  EXPECT_EQ(names.renamed(), renamed);
  // The mailbox follows its folder's written name: no device either.
  EXPECT_EQ(ExtractFileName(MboxFileFor(work.str() + expected[4])), "CON_.mbox");
}

// A refused character may give the name of a folder that is there already,
// from this run or an earlier one: the later one is numbered.
TEST(RefusedNames, ReplacedCharactersStayApartFromTheirSiblings) {
  test::TempDir work;
  {
    Destination destination(work.str());
    destination.Begin();
    MacSafeNames names(destination, kSeparator, kWindowsRules);
    EXPECT_EQ(names.Map(Folder({"a_b"})), Folder({"a_b"}));
    EXPECT_TRUE(destination.Finish().empty());
  }
  Destination destination(work.str());
  MacSafeNames names(destination, kSeparator, kWindowsRules);
  EXPECT_EQ(MapAll(names, {Folder({"a:b"}), Folder({"x?y"}), Folder({"x_y"}), Folder({"X*Y"})}),
            (std::vector<std::string>{Folder({"a_b (2)"}), Folder({"x_y"}), Folder({"x_y (2)"}),
                                      Folder({"X_Y (3)"})}));
}

// Off Windows every name Windows refuses is a good name and keeps it, and
// the converter takes the rules of the system it runs on; the folding holds
// either way.
TEST(RefusedNames, OtherSystemsKeepTheNames) {
  test::TempDir work;
  Destination destination(work.str());
  {
    MessageConverter converter(destination, [](const std::string&) { return false; });
    std::string mirror;
    const std::string name = os::kWindows ? "Re_ news" : "Re: news";
    EXPECT_EQ(converter.MailboxFor(
                  os::kWindows ? "C:\\export\\Re: news\\1.eml" : "/export/Re: news/1.eml", mirror),
              work.str() + Folder({"export", name}) + name + ".mbox");
  }
  MacSafeNames off(destination, kSeparator, NameRules{});
  const std::vector<std::string> folders = {Folder({"Re: news"}), Folder({"CON"}),
                                            Folder({"Work."}), Folder({"Work"})};
  EXPECT_EQ(MapAll(off, folders), folders);
  EXPECT_EQ(off.Map(Folder({"WORK"})), Folder({"WORK (2)"}));
  EXPECT_EQ(off.renamed().size(), 1u);

  test::TempDir other;
  Destination onWindows(other.str());
  MacSafeNames on(onWindows, kSeparator, kWindowsRules);
  EXPECT_EQ(MapAll(on, {Folder({"Work"}), Folder({"WORK"})}),
            (std::vector<std::string>{Folder({"Work"}), Folder({"WORK (2)"})}));
}

// A second run chooses what the first chose, whatever order it meets the
// folders in; a choice an earlier version stored that Windows refuses is
// kept where its folder is there (it holds mail), and chosen anew where it
// could never be created.
TEST(RefusedNames, ASecondRunChoosesTheSame) {
  test::TempDir work;
  const std::vector<std::string> folders = {Folder({"a_b"}),         Folder({"a:b"}),
                                            Folder({"CON"}),         Folder({"con"}),
                                            Folder({"CON", "AUX."}), Folder({"Work."})};
  std::vector<std::string> first;
  std::map<std::string, std::string> firstRenamed;
  {
    Destination destination(work.str());
    destination.Begin();
    MacSafeNames names(destination, kSeparator, NameRules{});
    EXPECT_EQ(names.Map(Folder({"Old:name"})), Folder({"Old:name"}));
    EXPECT_EQ(names.Map(Folder({"Kept."})), Folder({"Kept."}));
    ASSERT_TRUE(os::CreateFoldersBelow(work.str(), "Kept.").ok());
    EXPECT_TRUE(destination.Finish().empty());
  }
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    Destination destination(work.str());
    destination.Begin();
    MacSafeNames names(destination, kSeparator, kWindowsRules);
    std::vector<std::string> chosen(folders.size());
    for (std::size_t i = 0; i < folders.size(); ++i) {
      const std::size_t at = run == 0 ? i : folders.size() - 1 - i;
      chosen[at] = names.Map(folders[at]);
    }
    EXPECT_EQ(names.Map(Folder({"Old:name"})), Folder({"Old_name"}));
    EXPECT_EQ(names.Map(Folder({"Kept."})), Folder({"Kept."}));
    if (run == 0) {
      first = chosen;
      firstRenamed = names.renamed();
    } else {
      EXPECT_EQ(chosen, first);
      EXPECT_EQ(names.renamed(), firstRenamed);
    }
    EXPECT_TRUE(destination.Finish().empty());
  }
  EXPECT_EQ(first, (std::vector<std::string>{Folder({"a_b"}), Folder({"a_b (2)"}), Folder({"CON_"}),
                                             Folder({"con_ (2)"}), Folder({"CON_", "AUX_"}),
                                             Folder({"Work_"})}));
}

#endif  // QUILLFEN_HAVE_MAC_NAMES

}  // namespace
}  // namespace quillfen
