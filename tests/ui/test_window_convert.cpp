// The convert command through the window, the exit question and ending the
// program: real files in temporary folders, scripted dialogs. The window
// converts on a thread of its own, so every test that starts a conversion
// waits in the event loop until the window is no longer busy.

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMimeData>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/source/archive_test_support.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"
#include "window_harness.h"

using quillfen::test::Folder;
using quillfen::test::ReadMbox;
using quillfen::test::TempDir;
using quillfen::test::WaitUntil;
using quillfen::test::WindowHarness;
using quillfen::test::WriteFile;

namespace fs = std::filesystem;

namespace {

const QString kDone =
    QStringLiteral("Your mail has been converted to .mbox format for Apple Mail.\n\n");
const QString kImport = QStringLiteral(
    "\n\nMove the converted folders to your Mac and import them into Apple Mail with File > "
    "Import Mailboxes\u2026 (Files in mbox format).");

std::string Message(const std::string& subject) {
  return "Return-Path: <ann@example.org>\r\nDate: Tue, 4 Mar 2014 09:05:01 +0100\r\n"
         "Subject: " +
         subject + "\r\n\r\nFrom the desk of Ann\r\n";
}

// The mirror of a source folder below a destination: the folder's whole
// path without its leading separator.
fs::path Mirror(const fs::path& destination, const fs::path& source) {
  return destination / source.relative_path();
}

// The closing message of a run where every message was converted, with its
// numbers, which names the folder the mailboxes are in.
QString Done(const QString& numbers, const fs::path& mailboxes) {
  return kDone + numbers + kImport + QStringLiteral("\n\nThe mailboxes are in this folder:\n") +
         Folder(mailboxes);
}

// Drops path on the window as a file manager would. False when the window
// refuses it while it is dragged over; otherwise waits for the scan that the
// drop starts to end with its message.
bool Drop(WindowHarness& h, const fs::path& path) {
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path.string()))});
  const QPoint at(300, 150);
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(h.window.get(), &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(h.window.get(), &drop);
  const auto boxes = h.shell.messageBoxes().size();
  return QTest::qWaitFor([&] { return h.shell.messageBoxes().size() > boxes; });
}

// The texts of every record below folder, unquoted and sorted, so that they
// compare with the messages' own bytes as a set that counts repeats. Reading
// fails on a record that is not whole.
std::vector<std::string> StoredTexts(const fs::path& folder) {
  std::vector<std::string> texts;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.path().extension() == ".mbox")
      for (const auto& record : ReadMbox(entry.path()))
        texts.push_back(quillfen::test::UnquoteMboxrd(record.text));
  std::sort(texts.begin(), texts.end());
  return texts;
}

// What a destination shows the user: every folder and file below it with
// the file's bytes, without the destination's own index.
std::map<fs::path, std::string> TreeBytes(const fs::path& folder) {
  std::map<fs::path, std::string> bytes;
  for (auto entry = fs::recursive_directory_iterator(folder);
       entry != fs::recursive_directory_iterator(); ++entry) {
    if (entry->path().filename() == ".quillfen") {
      entry.disable_recursion_pending();
      continue;
    }
    bytes[entry->path()] = entry->is_regular_file() ? quillfen::test::ReadFile(entry->path()) : "";
  }
  return bytes;
}

// The platform's file system, but for one folder that cannot be listed, as
// one the user may not read: the tests run as any user, root included.
class OneFolderLocked : public quillfen::FileSystem {
 public:
  explicit OneFolderLocked(std::string locked) : locked_(std::move(locked)) {}
  bool FolderExists(const std::string& path) override { return real_->FolderExists(path); }
  std::vector<std::string> SubFolders(const std::string& path) override {
    Check(path);
    return real_->SubFolders(path);
  }
  std::vector<std::string> Files(const std::string& path) override {
    Check(path);
    return real_->Files(path);
  }
  std::optional<quillfen::FolderIdentity> Identity(const std::string& path) override {
    return real_->Identity(path);
  }

 private:
  void Check(const std::string& path) const {
    if (path == locked_) throw quillfen::FileSystemError(path, "Permission denied");
  }
  std::string locked_;
  std::unique_ptr<quillfen::FileSystem> real_ = quillfen::MakeDefaultFileSystem();
};

}  // namespace

class WindowConvertTest : public QObject {
  Q_OBJECT

 private slots:
  void convertsTheQueueIntoMailboxes();
  void convertingAgainAsksFirst();
  void archiveBreakingMidRunIsReported();
  void cancellingTheDestinationChangesNothing();
  void failedMessagesAreReported();
  void folderThatCannotBeReadMakesTheConversionPartial();
  void exitQuestionAndClosing();
  void closingDuringARunStopsBetweenRecords();
  void windowDestroyedFromOutsideEndsTheProgram();
  void droppedFolderAndArchiveConvertAlike();
};

void WindowConvertTest::convertsTheQueueIntoMailboxes() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  const fs::path out = temp.path() / "out";
  WriteFile(source / "notes.txt", "not a message\n");
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "2.EML", Message("two"));
  WriteFile(source / "Sent" / "3.eml", Message("three"));
  WindowHarness h;
  h.Choose(Folder(source));

  // The final message's extra button shows the destination folder.
  h.shell.QueueAnswer(QMessageBox::Open);
  h.shell.QueueFolder(Folder(out));
  h.shell.QueueFolder(Folder(temp.path() / "elsewhere"));  // would feed a second command
  h.button("convertButton")->click();

  // The command returns with the conversion under way: the window is busy,
  // its commands look as they behave, and clicks on them are refused.
  QVERIFY(h.window->busy());
  QVERIFY(QApplication::overrideCursor() != nullptr &&
          QApplication::overrideCursor()->shape() == Qt::WaitCursor);
  QVERIFY(!h.button("chooseSourceButton")->isEnabled());
  QVERIFY(!h.button("convertButton")->isEnabled());
  h.button("convertButton")->click();
  h.button("chooseSourceButton")->click();
  h.Open(QString::fromStdString(source.string()));
  QVERIFY(WaitUntil([&] { return !h.window->busy(); }));

  QCOMPARE(h.shell.folderRequests().size(), 2);  // the scan's and the conversion's
  QCOMPARE(h.shell.folderRequests()[1].title, QStringLiteral("Choose Folder to Save..."));
  QCOMPARE(h.shell.folderRequests()[1].owner, h.window.get());
  QCOMPARE(h.shell.messageBoxes().size(), 2);
  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(h.shell.messageBoxes().last().owner, h.window.get());
  QCOMPARE(box.icon, QMessageBox::Information);
  QCOMPARE(box.title, QStringLiteral("Quillfen"));
  // It says what was skipped and where the mailboxes are (deep below the
  // destination), and Show Folder opens that folder.
  QCOMPARE(box.text, kDone + "Messages added: 3\nMailboxes written: 2" + kImport +
                         "\n\n1 other file is not a message (.eml file), so it is skipped.\n\n"
                         "The mailboxes are in this folder:\n" +
                         Folder(Mirror(out, source)));
  QCOMPARE(box.defaultButton, QMessageBox::Ok);
  QCOMPARE(box.actionButton, QStringLiteral("Show Folder"));
  QVERIFY(box.details.isEmpty());
  QCOMPARE(h.shell.openedFolders(), QList<QString>{Folder(Mirror(out, source))});

  // The last state of the conversion reaches the window; the note is no
  // message and is not counted as one.
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  QCOMPARE(h.bar()->value(), h.bar()->maximum());
  QCOMPARE(h.text("progressLabel"), QStringLiteral("Message 3 (of 3)"));
  QCOMPARE(h.text("statusLabel"), QStringLiteral("Done: 3 messages added."));

  const auto inbox = ReadMbox(Mirror(out, source / "Inbox") / "Inbox.mbox");
  const auto sent = ReadMbox(Mirror(out, source / "Sent") / "Sent.mbox");
  QCOMPARE(inbox.size(), std::size_t{2});
  QCOMPARE(sent.size(), std::size_t{1});
  QVERIFY(!fs::exists(temp.path() / "elsewhere"));

  // Nothing is reset: the queue stays and the commands work again.
  QCOMPARE(h.window->queuedCount(), 3);
  QVERIFY(h.button("chooseSourceButton")->isEnabled());
  QVERIFY(h.button("convertButton")->isEnabled());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

// Converting again into the same folder asks first, while the conversion
// waits, without the busy cursor. No writes nothing, says nothing more and
// leaves the window ready, its captions claiming no conversion; Yes adds
// what the question offered.
void WindowConvertTest::convertingAgainAsksFirst() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  const fs::path out = temp.path() / "out";
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Sent" / "2.eml", Message("two"));
  std::vector<std::string> stored = {Message("one"), Message("two")};
  WindowHarness h;
  h.Choose(Folder(source));
  // A destination that holds none of the messages asks nothing.
  QVERIFY(h.ConvertInto(out));
  QCOMPARE(h.shell.messageBoxes().size(), 2);
  QCOMPARE(h.lastBox().text, Done("Messages added: 2\nMailboxes written: 2", Mirror(out, source)));
  const auto declined = [&] {
    const auto before = TreeBytes(out);
    const auto boxes = h.shell.messageBoxes().size();
    h.shell.QueueAnswer(QMessageBox::No);
    return h.ConvertInto(out) && h.shell.messageBoxes().size() == boxes + 1 &&
           TreeBytes(out) == before && h.text("progressLabel").isEmpty() &&
           h.bar()->fractionalValue() == 0.0f && h.button("chooseSourceButton")->isEnabled() &&
           h.button("convertButton")->isEnabled() && QApplication::overrideCursor() == nullptr;
  };

  bool busyDuringQuestion = false;
  bool cursorDuringQuestion = true;
  h.shell.QueueMessageBoxAction([&] {
    busyDuringQuestion = h.window->busy();
    cursorDuringQuestion = QApplication::overrideCursor() != nullptr;
  });
  QVERIFY(declined());
  const quillfen::MessageBoxRequest& question = h.lastBox();
  QCOMPARE(question.text, QStringLiteral("This folder already holds all 2 of these messages. "
                                         "Convert them again (a second copy)?"));
  QCOMPARE(question.title, QStringLiteral("Quillfen"));
  QCOMPARE(question.icon, QMessageBox::Question);
  QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
  // A reflex Enter adds no second copies.
  QCOMPARE(question.defaultButton, QMessageBox::No);
  QVERIFY(busyDuringQuestion);
  QVERIFY(!cursorDuringQuestion);
  // The status says why nothing was converted.
  QCOMPARE(h.text("statusLabel"),
           QStringLiteral("Nothing converted: this folder already holds all 2 of these messages."));

  h.shell.QueueAnswer(QMessageBox::Yes);
  QVERIFY(h.ConvertInto(out));
  QCOMPARE(h.lastBox().text,
           Done("Messages added as a second copy: 2\nAlready in this folder before: 2\n"
                "Mailboxes written: 2",
                Mirror(out, source)));
  const std::vector<std::string> once = stored;
  stored.insert(stored.end(), once.begin(), once.end());
  std::sort(stored.begin(), stored.end());
  QVERIFY(StoredTexts(out) == stored);

  // A later export with one more message: the question counts what is held
  // and what is missing, and its default, Yes, adds the new message alone.
  // Meanwhile the captions and the bar are the new run's, not the last one's.
  WriteFile(source / "Inbox" / "3.eml", Message("three"));
  h.Choose(Folder(source));
  QVERIFY(declined());
  const QString partial =
      QStringLiteral("This folder already holds 2 of these 3 messages. Convert the other 1?");
  QCOMPARE(h.lastBox().text, partial);
  QCOMPARE(h.lastBox().defaultButton, QMessageBox::Yes);
  QCOMPARE(h.text("statusLabel"),
           QStringLiteral("Nothing converted: this folder already holds 2 of these 3 messages."));
  QString captionDuringQuestion;
  float barDuringQuestion = -1.0f;
  h.shell.QueueMessageBoxAction([&] {
    captionDuringQuestion = h.text("progressLabel");
    barDuringQuestion = h.bar()->fractionalValue();
  });
  QVERIFY(h.ConvertInto(out));
  QCOMPARE(captionDuringQuestion, QString());
  QCOMPARE(barDuringQuestion, 0.0f);
  QCOMPARE(h.shell.messageBoxes()[h.shell.messageBoxes().size() - 2].request.text, partial);
  // The closing message and the count are of what this run added.
  QCOMPARE(h.lastBox().text,
           Done("Messages added: 1\nAlready in this folder before: 2\nMailboxes written: 1",
                Mirror(out, source)));
  QCOMPARE(h.text("progressLabel"), QStringLiteral("Message 1 (of 1 new)"));
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  stored.push_back(Message("three"));
  std::sort(stored.begin(), stored.end());
  QVERIFY(StoredTexts(out) == stored);
}

// An archive that breaks while it is converted (here cut short after it was
// counted) ends with its reason and not as finished, keeps nothing of the
// run and leaves the window ready for the next command.
void WindowConvertTest::archiveBreakingMidRunIsReported() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  quillfen::test::GenerateMessageTree(source, 300, 4, 24);
  const fs::path archive = temp.path() / "export.tgz";
  quillfen::test::PackFolder(source, archive);
  const QString archiveName = QString::fromStdString(archive.string());
  WindowHarness h;
  h.Choose(archiveName);
  QCOMPARE(h.window->queuedCount(), 300);
  fs::resize_file(archive, fs::file_size(archive) / 2);

  const fs::path out = temp.path() / "out";
  QVERIFY(h.ConvertInto(out));
  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(box.icon, QMessageBox::Warning);
  const QString start = "The archive " + archiveName + " could not be read to its end: ";
  const QString end = QStringLiteral(". Nothing of this conversion was kept.");
  QVERIFY2(box.text.startsWith(start) && box.text.endsWith(end) &&
               box.text.size() > start.size() + end.size(),
           qPrintable(box.text));
  QVERIFY(h.bar()->fractionalValue() > 0.0f && h.bar()->fractionalValue() < 100.0f);
  QVERIFY(StoredTexts(out).empty());
  QVERIFY(!h.window->busy());
  QVERIFY(h.button("chooseSourceButton")->isEnabled());
  QVERIFY(h.button("convertButton")->isEnabled());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowConvertTest::cancellingTheDestinationChangesNothing() {
  TempDir temp;
  WriteFile(temp.path() / "export" / "Inbox" / "1.eml", Message("one"));
  WindowHarness h;
  h.Choose(Folder(temp.path() / "export"));
  h.bar()->setFractionalValue(42.5f);

  h.button("convertButton")->click();  // the chooser answers as if cancelled
  QCOMPARE(h.shell.folderRequests().size(), 2);
  QCOMPARE(h.shell.messageBoxes().size(), 1);
  QCOMPARE(h.bar()->fractionalValue(), 42.5f);
  QCOMPARE(h.text("statusLabel"), QString());
  QCOMPARE(h.text("progressLabel"), QString());
  QVERIFY(!h.window->busy());
  QVERIFY(h.button("convertButton")->isEnabled());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowConvertTest::failedMessagesAreReported() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "2.eml", Message("two"));
  WriteFile(source / "Sent" / "3.eml", Message("three"));
  // A link stands where the Sent mirror folder must go; it is not
  // followed, so that folder's message cannot be written.
  const fs::path out = temp.path() / "out";
  fs::create_directories(temp.path() / "elsewhere");
  fs::create_directories(Mirror(out, source));
  fs::create_directory_symlink(temp.path() / "elsewhere", Mirror(out, source / "Sent"));
  WindowHarness h;
  h.Choose(Folder(source));

  QVERIFY(h.ConvertInto(out));

  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(box.text,
           "1 of 3 messages could not be converted; the details list each with the reason.\n\n"
           "Messages added: 2\nNot converted: 1\nMailboxes written: 1" +
               kImport + "\n\nThe mailboxes are in this folder:\n" + Folder(Mirror(out, source)));
  QCOMPARE(box.icon, QMessageBox::Warning);
  QCOMPARE(box.title, QStringLiteral("Quillfen"));
  QCOMPARE(box.actionButton, QStringLiteral("Show Folder"));
  // The line names the message and the mailbox it could not go into.
  const QStringList lines = box.details.split('\n');
  QCOMPARE(lines.size(), 1);
  const QString mailbox =
      QString::fromStdString((Mirror(out, source / "Sent") / "Sent.mbox").string());
  QVERIFY2(lines[0].startsWith(Folder(source) + "Sent/3.eml: ") &&
               lines[0].endsWith(" (mailbox " + mailbox + ")"),
           qPrintable(lines[0]));
  QCOMPARE(ReadMbox(Mirror(out, source / "Inbox") / "Inbox.mbox").size(), std::size_t{2});
  QCOMPARE(h.text("progressLabel"), QStringLiteral("Message 3 (of 3)"));
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

// A folder that cannot be read is passed: the folders after it are
// converted, and the closing message says the conversion is partial
// instead of claiming success.
void WindowConvertTest::folderThatCannotBeReadMakesTheConversionPartial() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "2.eml", Message("two"));
  WriteFile(source / "Locked" / "3.eml", Message("three"));
  WriteFile(source / "Sent" / "4.eml", Message("four"));
  const std::string locked = (Folder(source) + "Locked/").toStdString();
  WindowHarness h([locked] { return std::make_unique<OneFolderLocked>(locked); });
  h.Choose(Folder(source));

  const QString notRead =
      "Folder not read: " + QString::fromStdString(locked) + QStringLiteral(": Permission denied");
  QCOMPARE(h.lastBox().icon, QMessageBox::Warning);
  QVERIFY2(h.lastBox().text.startsWith("The folder " + QString::fromStdString(locked) +
                                       " could not be read: Permission denied."),
           qPrintable(h.lastBox().text));
  QCOMPARE(h.lastBox().details, notRead);
  QCOMPARE(h.window->queuedCount(), 3);

  const fs::path out = temp.path() / "out";
  QVERIFY(h.ConvertInto(out));
  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(box.icon, QMessageBox::Warning);
  QVERIFY2(box.text.startsWith("The conversion is partial: 1 folder of the source could not be "
                               "read, so the messages in it were not converted. The 3 messages "
                               "found in the other folders were converted."),
           qPrintable(box.text));
  QVERIFY2(!box.text.contains("successfully"), qPrintable(box.text));
  QVERIFY(box.text.endsWith(Folder(Mirror(out, source))));
  QCOMPARE(box.details, notRead);
  QCOMPARE(ReadMbox(Mirror(out, source / "Inbox") / "Inbox.mbox").size(), std::size_t{2});
  QCOMPARE(ReadMbox(Mirror(out, source / "Sent") / "Sent.mbox").size(), std::size_t{1});
  QVERIFY(!fs::exists(Mirror(out, source / "Locked")));
}

void WindowConvertTest::exitQuestionAndClosing() {
  TempDir temp;
  WriteFile(temp.path() / "export" / "Inbox" / "1.eml", Message("one"));
  WindowHarness h;
  h.window->show();
  h.Choose(Folder(temp.path() / "export"));

  // Idle, Exit and closing the window end the program at once: nothing
  // runs that could be lost.
  const qsizetype boxes = h.shell.messageBoxes().size();
  h.button("exitButton")->click();
  QCOMPARE(h.programEnds, 1);
  QVERIFY(!h.window->isVisible());
  h.window->show();
  h.window->close();
  QCOMPARE(h.programEnds, 2);
  QCOMPARE(h.shell.messageBoxes().size(), boxes);
}

// What X11 tells when another client destroys the window.
void DestroyNativeWindow(const QWidget& window) {
  std::array<std::uint8_t, 32> event{};
  event[0] = 17;  // DestroyNotify
  const auto id = static_cast<std::uint32_t>(window.internalWinId());
  std::memcpy(event.data() + 8, &id, sizeof id);
  qintptr result = 0;
  QAbstractEventDispatcher::instance()->filterNativeEvent("xcb_generic_event_t", event.data(),
                                                          &result);
}

// No close event comes when the window is destroyed from outside: idle, the
// program ends; during a run, the run stops first, and no message box comes
// up without a window.
void WindowConvertTest::windowDestroyedFromOutsideEndsTheProgram() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  for (int i = 0; i < 200; ++i)
    WriteFile(source / "Inbox" / (std::to_string(i) + ".eml"), Message(std::to_string(i)));
  WindowHarness h;
  h.window->show();
  QVERIFY(h.window->internalWinId() != 0);
  h.Choose(Folder(source));
  DestroyNativeWindow(*h.window);
  QCOMPARE(h.programEnds, 1);

  const qsizetype boxes = h.shell.messageBoxes().size();
  h.shell.QueueFolder(Folder(temp.path() / "out"));
  h.button("convertButton")->click();
  QVERIFY(h.window->busy());
  DestroyNativeWindow(*h.window);
  QVERIFY(WaitUntil([&] { return h.programEnds == 2; }));
  QVERIFY(!h.busyWhenEnded);
  QCOMPARE(h.shell.messageBoxes().size(), boxes);
}

void WindowConvertTest::closingDuringARunStopsBetweenRecords() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  const fs::path out = temp.path() / "out";
  // Many small messages: the conversion then lasts long enough (a few
  // hundred milliseconds) for the window's stop to land well inside it.
  std::vector<std::string> messages;
  for (int i = 0; i < 20000; ++i) {
    messages.push_back(Message(std::to_string(i)));
    WriteFile(source / ("Folder" + std::to_string(i % 6)) / (std::to_string(i) + ".eml"),
              messages.back());
  }
  std::sort(messages.begin(), messages.end());
  WindowHarness h;
  h.window->show();
  h.Choose(Folder(source));

  // The user closes the window as soon as the conversion has begun, and
  // answers No: it goes on. Once the bar shows a part of it done (some
  // messages are written by then) the user closes it again and answers Yes;
  // the conversion is still far from its end, as the bar moves many times a
  // second and the window takes the stop in at once.
  h.shell.QueueFolder(Folder(out));
  h.shell.QueueAnswer(QMessageBox::No);
  h.shell.QueueAnswer(QMessageBox::Yes);
  h.button("convertButton")->click();
  QVERIFY(h.window->busy());
  h.window->close();
  QVERIFY(h.window->isVisible());
  int closes = 1;
  const int some = h.bar()->maximum() / 50;
  QObject::connect(h.bar(), &QProgressBar::valueChanged, h.window.get(), [&](int value) {
    if (value < some || value >= h.bar()->maximum() || closes >= 2) return;
    ++closes;
    h.window->close();
  });
  QVERIFY(WaitUntil([&] { return h.programEnds > 0 || !h.window->busy(); }));

  QCOMPARE(closes, 2);
  QCOMPARE(h.programEnds, 1);
  QVERIFY(!h.busyWhenEnded);  // the conversion had stopped before the window closed
  QVERIFY(!h.window->isVisible());
  const auto& boxes = h.shell.messageBoxes();
  QCOMPARE(boxes.size(), 3);  // the scan's count and the two questions; a stop says nothing
  for (int i : {1, 2}) {
    QCOMPARE(boxes[i].request.buttons, QMessageBox::Yes | QMessageBox::No);
    // Stopping is never the reflex answer.
    QCOMPARE(boxes[i].request.defaultButton, QMessageBox::No);
  }
  // Stopped between two records: every mailbox holds whole records only,
  // some of the messages and not all.
  const std::size_t stopped = StoredTexts(out).size();
  QVERIFY2(stopped > 0 && stopped < messages.size(), qPrintable(QString::number(stopped)));
  // The second question says how far the run is and what Yes does.
  const QString asked = boxes[2].request.text;
  QVERIFY2(asked.startsWith("Stop converting (") && asked.contains(" of 20,000) and quit? ") &&
               asked.endsWith("Converting again later into the same folder adds the rest."),
           qPrintable(asked));
}

// A dropped folder or archive is taken in as a chosen one; the archive
// converts as its extracted folder would, into the same mailboxes.
void WindowConvertTest::droppedFolderAndArchiveConvertAlike() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "1.eml.meta", "{}\n");
  WriteFile(source / "Sent" / "2.eml", Message("two"));
  // As the export writes it: file entries only.
  const fs::path archive = temp.path() / "export.tgz";
  quillfen::test::PackFolder(source, archive, {.folderEntries = false});
  // The skipped files are named by kind, a folder's and an archive's.
  const QString counted = QStringLiteral(
      "2 Files(s) Queued For Conversion.\n\n1 .meta file (message details) is not a message "
      "(.eml file), so it is skipped.");
  const QString line = QStringLiteral("2 Files(s) Queued For Conversion (1 .meta file skipped)");
  WindowHarness h;

  // Anything but a folder or an export archive is refused as it is dragged.
  QVERIFY(!Drop(h, source / "Inbox" / "1.eml"));
  QVERIFY(Drop(h, source));
  QCOMPARE(h.lastBox().text, counted);
  QVERIFY(h.countLineShows(line, Folder(source)));
  const fs::path fromFolder = temp.path() / "from-folder";
  QVERIFY(h.ConvertInto(fromFolder));
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);

  // The archive is a new source, so the last run's captions and full bar go
  // at once. Then the same count, captions, bar, final message and
  // mailboxes (its messages stand where the extracted folder would be).
  QVERIFY(Drop(h, archive));
  QCOMPARE(h.lastBox().text, counted);
  QVERIFY(h.countLineShows(line, QString::fromStdString(archive.string())));
  QCOMPARE(h.text("statusLabel"), QString());
  QCOMPARE(h.text("progressLabel"), QString());
  QCOMPARE(h.bar()->fractionalValue(), 0.0f);
  const fs::path fromArchive = temp.path() / "from-archive";
  QVERIFY(h.ConvertInto(fromArchive));
  QCOMPARE(h.lastBox().text.section("\n\n", 1, 1),
           QStringLiteral("Messages added: 2\nMailboxes written: 2"));
  QVERIFY(h.lastBox().text.contains(counted.section("\n\n", 1, 1)));
  QVERIFY(h.lastBox().text.endsWith(Folder(Mirror(fromArchive, source))));
  QCOMPARE(h.text("progressLabel"), QStringLiteral("Message 2 (of 2)"));
  QCOMPARE(h.text("statusLabel"), QStringLiteral("Done: 2 messages added."));
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  QCOMPARE(quillfen::test::MailboxRecordSets(fromArchive),
           quillfen::test::MailboxRecordSets(fromFolder));
}

QTEST_MAIN(WindowConvertTest)
#include "test_window_convert.moc"
