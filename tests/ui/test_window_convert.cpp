// The convert command through the window, the exit question and ending the
// program: real files in temporary folders, scripted dialogs. The window
// converts on a thread of its own, so every test that starts a conversion
// waits in the event loop until the window is no longer busy.

#include <QApplication>
#include <QEventLoop>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "conversion/plan_questions.h"
#include "tests/source/archive_test_support.h"
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

// The closing message of a run where every message was converted, which
// names the folder the mailboxes are in.
QString Done(const fs::path& mailboxes) {
  return kDone + QStringLiteral("\n\nThe mailboxes are in this folder:\n") + Folder(mailboxes);
}

// Runs the event loop until done() holds or the time is up. A plain event
// loop wakes for every queued signal of the conversion at once (a polling
// wait would sleep through part of a run), so what a test does in answer to
// the window's progress happens while the conversion is where it was shown.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  poll.start(1);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

// Scans root into the window, answering the chooser with root.
void Scan(WindowHarness& h, const fs::path& root) {
  h.shell.QueueFolder(Folder(root));
  h.button("CmdAddFolder")->click();
}

// Clicks convert, answers the chooser with destination and waits for the
// conversion to end. False when it did not end in time.
[[nodiscard]] bool Convert(WindowHarness& h, const fs::path& destination) {
  h.shell.QueueFolder(Folder(destination));
  h.button("CmdConvert2PDF")->click();
  return WaitUntil([&] { return !h.window->busy(); });
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

// Every mailbox below folder with its bytes.
std::map<fs::path, std::string> MailboxBytes(const fs::path& folder) {
  std::map<fs::path, std::string> bytes;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.path().extension() == ".mbox")
      bytes[entry.path()] = quillfen::test::ReadFile(entry.path());
  return bytes;
}

bool WaitCursorShown() {
  return QApplication::overrideCursor() != nullptr &&
         QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

}  // namespace

class WindowConvertTest : public QObject {
  Q_OBJECT

 private slots:
  void convertsTheQueueIntoMailboxes();
  void convertingAgainAsksBeforeAddingAnything();
  void cancellingTheDestinationChangesNothing();
  void failedMessagesAreReported();
  void exitQuestionAndClosing();
  void closingDuringARunStopsBetweenRecords();
  void droppedFolderAndArchiveConvertAlike();
  void convertsTheCorpus();
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
  Scan(h, source);

  // The final message's extra button shows the destination folder.
  h.shell.QueueAnswer(QMessageBox::Open);
  h.shell.QueueFolder(Folder(out));
  h.shell.QueueFolder(Folder(temp.path() / "elsewhere"));  // would feed a second command
  h.button("CmdConvert2PDF")->click();

  // The command returns with the conversion under way: the window is busy,
  // its commands look as they behave, and clicks on them are refused.
  QVERIFY(h.window->busy());
  QVERIFY(WaitCursorShown());
  QVERIFY(!h.button("CmdAddFolder")->isEnabled());
  QVERIFY(!h.button("CmdConvert2PDF")->isEnabled());
  h.button("CmdConvert2PDF")->click();
  h.button("CmdAddFolder")->click();
  h.window->OpenSource(QString::fromStdString(source.string()));
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
  QCOMPARE(box.text, kDone +
                         "\n\n1 other file is skipped: it is not a message (.eml file).\n\nThe "
                         "mailboxes are in this folder:\n" +
                         Folder(Mirror(out, source)));
  QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(box.defaultButton, QMessageBox::Ok);
  QCOMPARE(box.actionButton, QStringLiteral("Show Folder"));
  QVERIFY(box.details.isEmpty());
  QCOMPARE(h.shell.openedFolders(), QList<QString>{Folder(Mirror(out, source))});

  // The last state of the conversion reaches the window; the note is no
  // message and is not counted as one.
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  QCOMPARE(h.bar()->value(), h.bar()->maximum());
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 3 (of 3)"));
  QCOMPARE(h.text("LblUpdate"),
           "Converting Messages... from " + Folder(source) + QStringLiteral("Sent/"));

  const auto inbox = ReadMbox(Mirror(out, source / "Inbox") / "Inbox.mbox");
  const auto sent = ReadMbox(Mirror(out, source / "Sent") / "Sent.mbox");
  QCOMPARE(inbox.size(), std::size_t{2});
  QCOMPARE(sent.size(), std::size_t{1});
  // The body line that begins with "From " is stored quoted.
  QCOMPARE(quillfen::test::UnquoteMboxrd(sent[0].text), Message("three"));
  QVERIFY(sent[0].text.find("\n>From the desk") != std::string::npos);
  QVERIFY(!fs::exists(Mirror(out, source) / "export.mbox"));
  QVERIFY(!fs::exists(temp.path() / "elsewhere"));

  // Nothing is reset: the queue stays and the commands work again.
  QCOMPARE(h.window->queuedCount(), 3);
  QVERIFY(h.button("CmdAddFolder")->isEnabled());
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowConvertTest::convertingAgainAsksBeforeAddingAnything() {
  TempDir temp;
  const fs::path source = temp.path() / "export";
  const fs::path out = temp.path() / "out";
  WriteFile(source / "Inbox" / "1.eml", Message("one"));
  WriteFile(source / "Inbox" / "2.eml", Message("two"));
  WriteFile(source / "Sent" / "3.eml", Message("three"));
  const std::vector<std::string> once = {Message("one"), Message("three"), Message("two")};
  WindowHarness h;
  Scan(h, source);
  // A destination that holds none of the messages asks nothing.
  QVERIFY(Convert(h, out));
  QCOMPARE(h.shell.messageBoxes().size(), 2);
  QCOMPARE(h.lastBox().text, Done(Mirror(out, source)));
  const auto converted = MailboxBytes(out);

  // Again into the same folder: the question comes while the conversion
  // waits for it, without the busy cursor. Unanswered (a reflex Enter takes
  // the default button) it adds nothing, and says nothing more.
  bool busyDuringQuestion = false;
  bool cursorDuringQuestion = true;
  h.shell.QueueMessageBoxAction([&] {
    busyDuringQuestion = h.window->busy();
    cursorDuringQuestion = QApplication::overrideCursor() != nullptr;
  });
  QVERIFY(Convert(h, out));
  QCOMPARE(h.shell.messageBoxes().size(), 3);
  const quillfen::MessageBoxRequest& question = h.lastBox();
  QCOMPARE(question.text, QStringLiteral("This folder already holds all 3 of these messages. "
                                         "Convert them again (a second copy)?"));
  QCOMPARE(question.title, QStringLiteral("Quillfen"));
  QCOMPARE(question.icon, QMessageBox::Question);
  QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(question.defaultButton, QMessageBox::No);
  QVERIFY(busyDuringQuestion);
  QVERIFY(!cursorDuringQuestion);
  QVERIFY(MailboxBytes(out) == converted);
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());
  QVERIFY(QApplication::overrideCursor() == nullptr);

  // Yes adds a second copy of every message.
  h.shell.QueueAnswer(QMessageBox::Yes);
  QVERIFY(Convert(h, out));
  QCOMPARE(h.lastBox().text, Done(Mirror(out, source)));
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  std::sort(twice.begin(), twice.end());
  QVERIFY(StoredTexts(out) == twice);

  // A later export with one more message: the question counts what is held
  // and what is missing. No writes nothing; the default, Yes, adds the new
  // message alone.
  WriteFile(source / "Inbox" / "4.eml", Message("four"));
  Scan(h, source);
  h.shell.QueueAnswer(QMessageBox::No);
  QVERIFY(Convert(h, out));
  const QString partial =
      QStringLiteral("This folder already holds 3 of these 4 messages. Convert the other 1?");
  QCOMPARE(h.lastBox().text, partial);
  QCOMPARE(h.lastBox().defaultButton, QMessageBox::Yes);
  QVERIFY(StoredTexts(out) == twice);
  // Meanwhile the captions and the bar are the new run's, not the last one's.
  QString captionDuringQuestion;
  float barDuringQuestion = -1.0f;
  h.shell.QueueMessageBoxAction([&] {
    captionDuringQuestion = h.text("LblProgessCurrent");
    barDuringQuestion = h.bar()->fractionalValue();
  });
  QVERIFY(Convert(h, out));
  QCOMPARE(captionDuringQuestion, QStringLiteral("Message 0 (of 0)"));
  QCOMPARE(barDuringQuestion, 0.0f);
  QCOMPARE(h.shell.messageBoxes()[h.shell.messageBoxes().size() - 2].request.text, partial);
  QCOMPARE(h.lastBox().text, Done(Mirror(out, source)));
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 4 (of 4)"));
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  twice.push_back(Message("four"));
  std::sort(twice.begin(), twice.end());
  QVERIFY(StoredTexts(out) == twice);
}

void WindowConvertTest::cancellingTheDestinationChangesNothing() {
  TempDir temp;
  WriteFile(temp.path() / "export" / "Inbox" / "1.eml", Message("one"));
  WindowHarness h;
  Scan(h, temp.path() / "export");
  h.bar()->setFractionalValue(42.5f);

  h.button("CmdConvert2PDF")->click();  // the chooser answers as if cancelled
  QCOMPARE(h.shell.folderRequests().size(), 2);
  QCOMPARE(h.shell.messageBoxes().size(), 1);
  QCOMPARE(h.bar()->fractionalValue(), 42.5f);
  QCOMPARE(h.text("LblUpdate"), QStringLiteral("Converting Messages..."));
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 0 (of 0)"));
  QVERIFY(!h.window->busy());
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());
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
  Scan(h, source);

  QVERIFY(Convert(h, out));

  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(box.text,
           "1 of 3 messages could not be converted.\n\nThe mailboxes are in this "
           "folder:\n" +
               Folder(Mirror(out, source)));
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
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 3 (of 3)"));
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
  Scan(h, source);

  // The user closes the window as soon as the conversion has begun, and
  // answers No: it goes on. Once the bar shows a part of it done (some
  // messages are written by then) the user closes it again and answers Yes;
  // the conversion is still far from its end, as the bar moves many times a
  // second and the window takes the stop in at once.
  h.shell.QueueFolder(Folder(out));
  h.shell.QueueAnswer(QMessageBox::No);
  h.shell.QueueAnswer(QMessageBox::Yes);
  h.button("CmdConvert2PDF")->click();
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
    QCOMPARE(boxes[i].request.text, QStringLiteral("Are you sure you want to exit now?"));
    QCOMPARE(boxes[i].request.buttons, QMessageBox::Yes | QMessageBox::No);
  }
  // Stopped between two records: every mailbox holds whole records only,
  // some of the messages and not all.
  const std::size_t stopped = StoredTexts(out).size();
  QVERIFY2(stopped > 0 && stopped < messages.size(), qPrintable(QString::number(stopped)));

  // The next conversion of the same queue into the same folder adds what is
  // missing (the question's default) and gives every message exactly once.
  WindowHarness next;
  Scan(next, source);
  QVERIFY(Convert(next, out));
  QCOMPARE(next.shell.messageBoxes().size(), 3);
  // Its numbers are grouped by thousands.
  const auto grouped = [](std::size_t n) {
    return QString::fromStdString(quillfen::WithThousands(static_cast<std::int64_t>(n)));
  };
  QCOMPARE(
      next.shell.messageBoxes()[1].request.text,
      QStringLiteral("This folder already holds %1 of these %2 messages. Convert the other %3?")
          .arg(grouped(stopped), QStringLiteral("20,000"), grouped(messages.size() - stopped)));
  QCOMPARE(next.lastBox().text, Done(Mirror(out, source)));
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
  const QString counted = QStringLiteral(
      "2 Files(s) Queued For Conversion.\n\n1 other file is skipped: it is not a message (.eml "
      "file).");
  const QString line = QStringLiteral("2 Files(s) Queued For Conversion (1 other file skipped)");
  WindowHarness h;

  // Anything but a folder or an export archive is refused as it is dragged.
  QVERIFY(!Drop(h, source / "Inbox" / "1.eml"));

  QVERIFY(Drop(h, source));
  QCOMPARE(h.lastBox().text, counted);
  QVERIFY(h.countLineShows(line, Folder(source)));
  QCOMPARE(h.window->sourceFolder(), Folder(source));
  const fs::path fromFolder = temp.path() / "from-folder";
  QVERIFY(Convert(h, fromFolder));
  QVERIFY(h.lastBox().text.startsWith(kDone));
  QVERIFY(h.lastBox().text.endsWith(Folder(Mirror(fromFolder, source))));
  QVERIFY(StoredTexts(fromFolder) == messages);

  // The archive, taken from the chooser: a new source, so the last run's
  // captions and full bar go at once. Then the same count, captions, bar,
  // final message and mailboxes (its messages stand where the extracted
  // folder would be).
  h.shell.QueueFolder(QString::fromStdString(archive.string()));
  h.button("CmdAddFolder")->click();
  QVERIFY(h.shell.folderRequests().last().archivesToo);
  QCOMPARE(h.lastBox().text, counted);
  QCOMPARE(h.lastBox().icon, QMessageBox::NoIcon);
  QVERIFY(h.countLineShows(line, QString::fromStdString(archive.string())));
  QCOMPARE(h.text("LblUpdate"), QStringLiteral("Converting Messages..."));
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 0 (of 0)"));
  QCOMPARE(h.bar()->fractionalValue(), 0.0f);
  QVERIFY(h.button("CmdConvert2PDF")->isEnabled());
  const fs::path fromArchive = temp.path() / "from-archive";
  QVERIFY(Convert(h, fromArchive));
  QCOMPARE(h.shell.folderRequests().last().title, QStringLiteral("Choose Folder to Save..."));
  QCOMPARE(h.lastBox().text.section("\n\n", 1, 1), counted.section("\n\n", 1, 1));
  QVERIFY(h.lastBox().text.endsWith(Folder(Mirror(fromArchive, source))));
  QCOMPARE(h.lastBox().actionButton, QStringLiteral("Show Folder"));
  QCOMPARE(h.text("LblProgessCurrent"), QStringLiteral("Message 2 (of 2)"));
  QCOMPARE(h.text("LblUpdate"),
           "Converting Messages... from " + Folder(source) + QStringLiteral("Sent/"));
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);
  QCOMPARE(quillfen::test::MailboxRecordSets(fromArchive),
           quillfen::test::MailboxRecordSets(fromFolder));

  // The archive into the folder its extracted export went to: the same
  // question as for the folder, and its default adds nothing.
  QVERIFY(Convert(h, fromFolder));
  QCOMPARE(h.lastBox().text, QStringLiteral("This folder already holds all 2 of these messages. "
                                            "Convert them again (a second copy)?"));
  QCOMPARE(h.lastBox().defaultButton, QMessageBox::No);
  QVERIFY(StoredTexts(fromFolder) == messages);

  // A damaged archive: a warning with the reason, and what is queued now
  // (nothing) on the window too.
  const fs::path damaged = temp.path() / "damaged.tar.gz";
  WriteFile(damaged, "\x1f\x8b not really gzip");
  QVERIFY(Drop(h, damaged));
  QCOMPARE(h.lastBox().icon, QMessageBox::Warning);
  QVERIFY2(h.lastBox().text.startsWith("The archive " + QString::fromStdString(damaged.string()) +
                                       " could not be read: "),
           qPrintable(h.lastBox().text));
  QVERIFY(h.lastBox().text.endsWith("\n\n0 Files(s) Queued For Conversion."));
  QVERIFY(h.countLineShows("0 Files(s) Queued For Conversion",
                           QString::fromStdString(damaged.string())));
  QVERIFY(!h.button("CmdConvert2PDF")->isEnabled());

  // A path that is not there is said to be missing.
  const QString missing = QString::fromStdString((temp.path() / "Missing.tgz").string());
  h.window->OpenSource(missing);
  QCOMPARE(h.lastBox().text, missing + " does not exist, so there is nothing to convert.");
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
  QVERIFY(Convert(h, temp.path()));
  QCOMPARE(h.lastBox().icon, QMessageBox::Information);
  QCOMPARE(h.bar()->fractionalValue(), 100.0f);

  std::size_t records = 0;
  for (const auto& entry : fs::recursive_directory_iterator(temp.path()))
    if (entry.path().extension() == ".mbox") records += ReadMbox(entry.path()).size();
  QCOMPARE(records, messages);
}

QTEST_MAIN(WindowConvertTest)
#include "test_window_convert.moc"
