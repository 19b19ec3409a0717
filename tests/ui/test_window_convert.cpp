// The convert command through the window, the exit question and ending the
// program: real files in temporary folders, scripted dialogs.

#include <QApplication>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <string>
#include <vector>

#include "convert/archive_conversion.h"
#include "tests/archive/archive_test_support.h"
#include "tests/support/mbox_reader.h"
#include "tests/support/message_tree.h"
#include "tests/support/temp_dir.h"
#include "window_harness.h"

using quillfen::test::Folder;
using quillfen::test::ReadMbox;
using quillfen::test::TempDir;
using quillfen::test::WindowHarness;
using quillfen::test::WriteFile;

namespace fs = std::filesystem;

namespace {

const QString kDone = QStringLiteral(
    "Your data has been successfully exported to .mbox format (Compatible for Mac Mail).\n"
    "Move converted folders to Mac and import it into Apple Mac Mail by using the import option "
    "from File Menu.");

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

// Scans root into the window, answering the chooser with root.
void Scan(WindowHarness& h, const fs::path& root) {
  h.shell.QueueFolder(Folder(root));
  h.button("CmdAddFolder")->click();
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
// compare with the messages' own bytes as a set that counts repeats.
std::vector<std::string> StoredTexts(const fs::path& folder) {
  std::vector<std::string> texts;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.path().extension() == ".mbox")
      for (const auto& record : ReadMbox(entry.path()))
        texts.push_back(quillfen::test::UnquoteMboxrd(record.text));
  std::sort(texts.begin(), texts.end());
  return texts;
}

// A window that the user closes, as with the close box, at chosen yields of
// its commands; a yield is where a scan or a run lets the user in.
class ClosingWindow : public quillfen::frmStep1 {
 public:
  using frmStep1::frmStep1;
  std::vector<int> closeAtYields;
  int yields = 0;

  void Yield() override {
    ++yields;
    if (std::find(closeAtYields.begin(), closeAtYields.end(), yields) != closeAtYields.end())
      close();
    frmStep1::Yield();
  }
};

}  // namespace

class WindowConvertTest : public QObject {
  Q_OBJECT

 private slots:
  void convertsTheQueueIntoMailboxes();
  void cancellingTheDestinationChangesNothing();
  void failedMessagesAreReported();
  void secondCommandsDuringARunAreIgnored();
  void exitQuestionAndClosing();
  void closingDuringARunAsksThenStopsResumably();
  void droppedFolderAndArchiveConvertAlike();
  void convertsTheCorpus();
};

void WindowConvertTest::convertsTheQueueIntoMailboxes() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  WriteFile(source / "notes.txt", "not a message\n");
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "2.EML", Message("two"));
  WriteFile(source / "Sent" / "3.eml", Message("three"));
  WindowHarness h;
  Scan(h, source);

  // The final message's extra button shows the destination folder.
  h.shell.QueueAnswer(QMessageBox::Open);
  h.shell.QueueFolder(Folder(temp.path() / "out"));
  h.button("CmdConvert2PDF")->click();

  QCOMPARE(h.shell.folderRequests().size(), 2);
  QCOMPARE(h.shell.folderRequests()[1].title, QStringLiteral("Choose Folder to Save..."));
  QCOMPARE(h.shell.folderRequests()[1].owner, h.window.get());
  QCOMPARE(h.shell.messageBoxes().size(), 2);
  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(box.icon, QMessageBox::Information);
  QCOMPARE(box.title, QStringLiteral("Quillfen"));
  QCOMPARE(box.text, kDone);
  QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(box.defaultButton, QMessageBox::Ok);
  QCOMPARE(box.actionButton, QStringLiteral("Show Folder"));
  QVERIFY(box.details.isEmpty());
  QCOMPARE(h.shell.openedFolders(), QList<QString>{Folder(temp.path() / "out")});

  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  QCOMPARE(h.bar()->value(), h.bar()->maximum());
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 4 (of 4)"));
  QCOMPARE(h.text("LblUpdate"),
           "Converting Messages... from " + Folder(source) + QStringLiteral("Sent/"));

  const fs::path out = temp.path() / "out";
  const auto inbox = ReadMbox(Mirror(out, source / "Inbox") / "Inbox.mbox");
  const auto sent = ReadMbox(Mirror(out, source / "Sent") / "Sent.mbox");
  QCOMPARE(inbox.size(), std::size_t{2});
  QCOMPARE(sent.size(), std::size_t{1});
  // The body line that begins with "From " is stored quoted.
  QCOMPARE(quillfen::test::UnquoteMboxrd(sent[0].text), Message("three"));
  QVERIFY(sent[0].text.find("\n>From the desk") != std::string::npos);
  QVERIFY(!fs::exists(Mirror(out, source) / "export.mbox"));

  // Nothing is reset: the same queue can be converted again, and appends.
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());
  QVERIFY(!h.window->busy());
  QVERIFY(QApplication::overrideCursor() == nullptr);
  h.shell.QueueFolder(Folder(temp.path() / "out"));
  h.button("CmdConvert2PDF")->click();
  QCOMPARE(ReadMbox(Mirror(out, source / "Inbox") / "Inbox.mbox").size(), std::size_t{4});
}

void WindowConvertTest::cancellingTheDestinationChangesNothing() {
  TempDir temp;
  WriteFile(temp.path() / "export" / "Inbox" / "1.eml", Message("one"));
  WindowHarness h;
  Scan(h, temp.path() / "export");
  h.window->SetBarValue(42.5f);

  h.button("CmdConvert2PDF")->click();  // the chooser answers as if cancelled
  QCOMPARE(h.shell.folderRequests().size(), 2);
  QCOMPARE(h.shell.messageBoxes().size(), 1);
  QCOMPARE(h.bar()->fractionalValue(), 42.5f);
  QCOMPARE(h.text("LblUpdate"), QStringLiteral("Converting Messages..."));
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 0 (of 0)"));
  QVERIFY(!h.window->busy());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowConvertTest::failedMessagesAreReported() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "2.eml", Message("two"));
  WriteFile(source / "Sent" / "3.eml", Message("three"));
  // A file stands where the Sent mirror folder must go, so its message
  // cannot be written.
  const fs::path out = temp.path() / "out";
  WriteFile(Mirror(out, source / "Sent"), "in the way");
  WindowHarness h;
  Scan(h, source);

  h.shell.QueueFolder(Folder(out));
  h.button("CmdConvert2PDF")->click();

  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(box.icon, QMessageBox::Warning);
  QCOMPARE(box.title, QStringLiteral("Quillfen"));
  QCOMPARE(box.text, QStringLiteral("1 of 3 messages could not be converted."));
  QVERIFY2(box.details.contains(Folder(source) + "Sent/3.eml"), qPrintable(box.details));
  QVERIFY(!box.details.contains("1.eml"));
  QCOMPARE(ReadMbox(Mirror(out, source / "Inbox") / "Inbox.mbox").size(), std::size_t{2});
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 3 (of 3)"));
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowConvertTest::secondCommandsDuringARunAreIgnored() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  quillfen::test::GenerateMessageTree(source, 20, 3, 7);
  WindowHarness h;
  Scan(h, source);
  const quillfen::QueueListRef queue = h.window->queue();
  const int count = h.window->queuedCount();

  bool sawBusy = false;
  bool sawWaitCursor = false;
  bool sawCommandEnabled = true;
  QTimer::singleShot(0, h.window.get(), [&] {
    sawBusy = h.window->busy();
    // The commands look as they behave: disabled.
    sawCommandEnabled =
        h.button("CmdAddFolder")->isEnabled() || h.button("CmdConvert2PDF")->isEnabled();
    sawWaitCursor = QApplication::overrideCursor() != nullptr &&
                    QApplication::overrideCursor()->shape() == Qt::WaitCursor;
    h.button("CmdConvert2PDF")->click();
    h.button("CmdAddFolder")->click();
  });
  h.shell.QueueFolder(Folder(temp.path() / "out"));
  h.shell.QueueFolder(Folder(temp.path() / "elsewhere"));  // would feed a second command
  h.button("CmdConvert2PDF")->click();

  QVERIFY(sawBusy);
  QVERIFY(sawWaitCursor);
  QVERIFY(!sawCommandEnabled);
  QVERIFY(h.button("CmdAddFolder")->isEnabled());
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());
  QCOMPARE(h.shell.folderRequests().size(), 2);  // the scan's and the run's
  QCOMPARE(h.lastBox().text, kDone);
  QCOMPARE(h.window->queue(), queue);
  QCOMPARE(h.window->queuedCount(), count);
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message %1 (of %1)").arg(count));
  QVERIFY(!fs::exists(temp.path() / "elsewhere"));
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowConvertTest::exitQuestionAndClosing() {
  TempDir temp;
  WriteFile(temp.path() / "export" / "Inbox" / "1.eml", Message("one"));
  WindowHarness h;
  h.window->show();
  Scan(h, temp.path() / "export");

  // No keeps the window and everything in it.
  h.shell.QueueAnswer(QMessageBox::No);
  h.button("cmdEnd")->click();
  const quillfen::MessageBoxRequest& question = h.lastBox();
  QCOMPARE(question.text, QStringLiteral("Are you sure you want to exit now?"));
  QCOMPARE(question.title, QStringLiteral("Quillfen"));
  QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(question.defaultButton, QMessageBox::Yes);
  QCOMPARE(question.icon, QMessageBox::Question);
  QCOMPARE(h.programEnds, 0);
  QVERIFY(h.window->isVisible());
  QCOMPARE(h.window->queuedCount(), 1);
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());

  // Closing the window when no command runs ends the program at once.
  h.window->close();
  QCOMPARE(h.programEnds, 1);

  // Yes (the default answer) closes the window and ends the program.
  WindowHarness second;
  second.window->show();
  second.button("cmdEnd")->click();
  QCOMPARE(second.programEnds, 1);
  QVERIFY(!second.window->isVisible());
}

void WindowConvertTest::closingDuringARunAsksThenStopsResumably() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  const fs::path out = temp.path() / "out";
  std::vector<std::string> messages;
  for (const fs::path& file : quillfen::test::GenerateMessageTree(source, 120, 4, 11))
    messages.push_back(quillfen::test::ReadFile(file));
  std::sort(messages.begin(), messages.end());

  quillfen::ScriptedShellServices shell;
  ClosingWindow window(shell);
  int programEnds = 0;
  bool busyWhenEnded = true;
  window.SetEndProgram([&] {
    ++programEnds;
    busyWhenEnded = window.busy();
  });
  window.show();
  shell.QueueFolder(Folder(source));
  window.findChild<QPushButton*>(QStringLiteral("CmdAddFolder"))->click();

  // The queue holds 241 files (messages, their .meta files, notes.txt); the
  // run yields once before its first file and once before each. The first
  // close is answered No and the run goes on; the second Yes.
  window.yields = 0;
  window.closeAtYields = {20, 150};
  shell.QueueAnswer(QMessageBox::No);
  shell.QueueAnswer(QMessageBox::Yes);
  shell.QueueFolder(Folder(out));
  window.findChild<QPushButton*>(QStringLiteral("CmdConvert2PDF"))->click();

  QCOMPARE(programEnds, 1);
  QVERIFY(!busyWhenEnded);  // the run had stopped before the window closed
  const auto& boxes = shell.messageBoxes();
  QCOMPARE(boxes.size(), 3);  // the scan's count and the two questions
  for (int i : {1, 2}) {
    QCOMPARE(boxes[i].request.text, QStringLiteral("Are you sure you want to exit now?"));
    QCOMPARE(boxes[i].request.buttons, QMessageBox::Yes | QMessageBox::No);
  }
  // Stopped between two records: every mailbox holds whole records only,
  // some of the messages and not all.
  const std::size_t stopped = StoredTexts(out).size();
  QVERIFY(stopped > 0 && stopped < messages.size());

  // The next run resumes (the question's default answer) and gives every
  // message exactly once.
  WindowHarness h;
  Scan(h, source);
  h.shell.QueueFolder(Folder(out));
  h.button("CmdConvert2PDF")->click();
  QCOMPARE(h.shell.messageBoxes().size(), 3);
  QVERIFY2(h.shell.messageBoxes()[1].request.text.endsWith(QStringLiteral("Resume it?")),
           qPrintable(h.shell.messageBoxes()[1].request.text));
  QCOMPARE(h.lastBox().text, kDone);
  QVERIFY(StoredTexts(out) == messages);
}

void WindowConvertTest::droppedFolderAndArchiveConvertAlike() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "1.eml.meta", "{}\n");
  WriteFile(source / "Sent" / "2.eml", Message("two"));
  const std::vector<std::string> messages = {Message("one"), Message("two")};
  // As the export writes it: file entries only.
  const fs::path archive = temp.path() / "export.tgz";
  quillfen::test::PackFolder(source, archive, {.folderEntries = false});
  const QString counted = QStringLiteral("3 Files(s) Queued For Conversion");
  WindowHarness h;

  // Anything but a folder or an export archive is refused as it is dragged.
  QVERIFY(!Drop(h, source / "Inbox" / "1.eml"));

  QVERIFY(Drop(h, source));
  QCOMPARE(h.lastBox().text, counted + ".");
  QCOMPARE(h.text("lblCount1"), counted);
  QCOMPARE(h.window->sourceFolder(), Folder(source));
  const fs::path fromFolder = temp.path() / "from-folder";
  h.shell.QueueFolder(Folder(fromFolder));
  h.button("CmdConvert2PDF")->click();
  QCOMPARE(h.lastBox().text, kDone);
  QVERIFY(StoredTexts(fromFolder) == messages);

  // The archive: the same count, captions, bar, final message and mailboxes
  // (its messages stand where the extracted folder would be).
  QVERIFY(Drop(h, archive));
  QCOMPARE(h.lastBox().text, counted + ".");
  QCOMPARE(h.lastBox().icon, QMessageBox::NoIcon);
  QCOMPARE(h.text("lblCount1"), counted);
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());
  const fs::path fromArchive = temp.path() / "from-archive";
  h.shell.QueueFolder(Folder(fromArchive));
  h.window->SetBarValue(0.0f);
  h.button("CmdConvert2PDF")->click();
  QCOMPARE(h.shell.folderRequests().last().title, QStringLiteral("Choose Folder to Save..."));
  QCOMPARE(h.lastBox().text, kDone);
  QCOMPARE(h.lastBox().actionButton, QStringLiteral("Show Folder"));
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 3 (of 3)"));
  QCOMPARE(h.text("LblUpdate"),
           "Converting Messages... from " + Folder(source) + QStringLiteral("Sent/"));
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  QCOMPARE(quillfen::test::MailboxRecordSets(fromArchive),
           quillfen::test::MailboxRecordSets(fromFolder));

  // Again into the same destination: the same question as for a folder.
  h.shell.QueueAnswer(QMessageBox::No);
  h.shell.QueueFolder(Folder(fromArchive));
  h.button("CmdConvert2PDF")->click();
  QVERIFY(h.lastBox().text.startsWith(QStringLiteral("These messages were already converted")));
  QVERIFY(StoredTexts(fromArchive) == messages);

  // A damaged archive: a warning with the reason, and nothing to convert.
  const fs::path damaged = temp.path() / "damaged.tar.gz";
  WriteFile(damaged, "\x1f\x8b not really gzip");
  QVERIFY(Drop(h, damaged));
  QCOMPARE(h.lastBox().icon, QMessageBox::Warning);
  QVERIFY2(h.lastBox().text.startsWith("The archive " + QString::fromStdString(damaged.string()) +
                                       " could not be read: "),
           qPrintable(h.lastBox().text));
  QVERIFY(!h.button("CmdConvert2PDF")->isEnabled());
}

void WindowConvertTest::convertsTheCorpus() {
  const fs::path corpus = quillfen::test::CorpusRoot();
  if (corpus.empty()) QSKIP("the shared test corpus is not present");
  std::size_t messages = 0;
  for (const auto& entry : fs::recursive_directory_iterator(corpus))
    if (entry.is_regular_file() && entry.path().extension() == ".eml") ++messages;

  TempDir temp;
  WindowHarness h;
  Scan(h, corpus);
  QVERIFY(h.window->queuedCount() > 0);
  h.shell.QueueFolder(Folder(temp.path()));
  h.button("CmdConvert2PDF")->click();
  QCOMPARE(h.lastBox().icon, QMessageBox::Information);
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);

  std::size_t records = 0;
  for (const auto& entry : fs::recursive_directory_iterator(temp.path()))
    if (entry.path().extension() == ".mbox") records += ReadMbox(entry.path()).size();
  QCOMPARE(records, messages);
}

QTEST_MAIN(WindowConvertTest)
#include "test_window_convert.moc"
