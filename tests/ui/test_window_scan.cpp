// The choose-folder command: the scan with its count message and the line
// that shows what is queued, cancelling, empty and root folders, folders
// that cannot be read and the busy guard.

#include <QApplication>
#include <QTimer>
#include <QtTest>

#include "fake_file_system.h"
#include "tests/support/temp_dir.h"
#include "window_harness.h"

using quillfen::test::FakeTree;
using quillfen::test::Folder;
using quillfen::test::TempDir;
using quillfen::test::WindowHarness;
using quillfen::test::WriteFile;

namespace {

// An export-like tree: a note at the top, two mail folders.
void WriteExport(const std::filesystem::path& root) {
  WriteFile(root / "notes.txt", "not a message\n");
  WriteFile(root / "Inbox" / "1.eml", "Subject: one\r\n\r\nbody\r\n");
  WriteFile(root / "Inbox" / "2.eml", "Subject: two\r\n\r\nbody\r\n");
  WriteFile(root / "Sent" / "3.eml", "Subject: three\r\n\r\nbody\r\n");
}

QStringList QueueOf(const quillfen::MainWindow& window) {
  QStringList names;
  if (window.queue())
    for (const std::string& name : *window.queue()) names << QString::fromStdString(name);
  return names;
}

}  // namespace

class WindowScanTest : public QObject {
  Q_OBJECT

 private slots:
  void scanQueuesEveryFileAndReportsTheCount();
  void cancelAndEmptyFolder();
  void rootFolderKeepsOneSeparator();
  void walkFailureKeepsWhatWasQueued();
  void unreadableSourcesQueueNothing();
  void secondCommandsDuringAScanAreIgnored();
  void closingDuringAScanStopsItAndQuits();
};

void WindowScanTest::scanQueuesEveryFileAndReportsTheCount() {
  TempDir temp;
  WriteExport(temp.path() / "export");
  WindowHarness h;
  QString chosen = Folder(temp.path() / "export");
  chosen.chop(1);  // the chooser gives an ordinary folder without its separator
  h.Choose(chosen);

  QCOMPARE(h.shell.folderRequests().size(), 1);
  QCOMPARE(h.shell.folderRequests()[0].title, QStringLiteral("Choose Zimbra Mail Folder..."));
  QCOMPARE(h.shell.folderRequests()[0].owner, h.window.get());
  QVERIFY(h.shell.folderRequests()[0].archivesToo);
  QCOMPARE(h.window->sourceFolder(), chosen + "/");

  QCOMPARE(h.shell.messageBoxes().size(), 1);
  const quillfen::MessageBoxRequest& box = h.lastBox();
  // The note is no message: it is skipped, and the user is told why.
  QCOMPARE(box.text, QStringLiteral("3 Files(s) Queued For Conversion.\n\n1 other file is not a "
                                    "message (.eml file), so it is skipped."));
  QCOMPARE(box.title, QStringLiteral("Quillfen"));
  QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(box.icon, QMessageBox::NoIcon);
  QVERIFY(box.details.isEmpty());

  const QString root = chosen + "/";
  QVERIFY(h.countLineShows("3 Files(s) Queued For Conversion (1 other file skipped)", root));
  QVERIFY(h.button("convertButton")->isEnabled());
  QCOMPARE(h.window->queuedCount(), 3);
  QCOMPARE(h.window->skippedCount(), 1);
  QCOMPARE(QueueOf(*h.window), QStringList({root + "notes.txt", root + "Inbox/1.eml",
                                            root + "Inbox/2.eml", root + "Sent/3.eml"}));
  QVERIFY(!h.window->busy());
  QVERIFY(QApplication::overrideCursor() == nullptr);
}

void WindowScanTest::cancelAndEmptyFolder() {
  TempDir temp;
  WriteExport(temp.path() / "export");
  std::filesystem::create_directories(temp.path() / "empty");
  WindowHarness h;
  h.Choose(Folder(temp.path() / "export"));
  const quillfen::PathQueueRef firstQueue = h.window->queue();
  QVERIFY(firstQueue);

  // Cancelled: queue, count, label and the convert button stay; no message.
  h.button("chooseSourceButton")->click();
  QCOMPARE(h.shell.folderRequests().size(), 2);
  QCOMPARE(h.shell.messageBoxes().size(), 1);
  QCOMPARE(h.window->queue(), firstQueue);
  QCOMPARE(h.window->queuedCount(), 3);
  const QString counted = h.text("countLabel");
  QVERIFY2(counted.startsWith("3 Files(s) Queued For Conversion"), qPrintable(counted));
  QVERIFY(h.button("convertButton")->isEnabled());

  // An empty folder: the count 0 is reported and shown (the walk never
  // counted a file to show), with a warning on where the messages are, and
  // convert is disabled.
  h.Choose(Folder(temp.path() / "empty"));
  const QString none = QStringLiteral(
      "No messages (.eml files) here: choose the export (.tgz) or the extracted export folder "
      "that holds Inbox, Sent and the other mail folders.\n\n");
  QCOMPARE(h.lastBox().text, none + "0 Files(s) Queued For Conversion.");
  QCOMPARE(h.lastBox().icon, QMessageBox::Warning);
  QCOMPARE(h.window->queuedCount(), 0);
  QVERIFY(h.window->queue() != firstQueue);
  QVERIFY(!h.button("convertButton")->isEnabled());
  QVERIFY(h.countLineShows("0 Files(s) Queued For Conversion", Folder(temp.path() / "empty")));

  // Files that are none of them messages queue nothing to convert.
  WriteFile(temp.path() / "other" / "readme.txt", "text\n");
  WriteFile(temp.path() / "other" / "note.msg", "not an .eml\n");
  h.Choose(Folder(temp.path() / "other"));
  QCOMPARE(h.lastBox().text, none +
                                 "0 Files(s) Queued For Conversion.\n\n2 other files are not "
                                 "messages (.eml files), so they are skipped.");
  QVERIFY(!h.button("convertButton")->isEnabled());
}

void WindowScanTest::rootFolderKeepsOneSeparator() {
  FakeTree tree;
  tree.AddFile("/", "a.eml");
  tree.AddSubFolder("/", "Inbox");
  tree.AddFile("/Inbox/", "b.eml");
  WindowHarness h(tree.Factory());
  h.Choose("/");

  QCOMPARE(h.window->sourceFolder(), QStringLiteral("/"));
  QVERIFY(!tree.asked().empty());
  for (const std::string& asked : tree.asked()) QVERIFY2(asked.rfind("//", 0) != 0, asked.c_str());
  QCOMPARE(QueueOf(*h.window), QStringList({"/a.eml", "/Inbox/b.eml"}));
  QCOMPARE(h.lastBox().text, QStringLiteral("2 Files(s) Queued For Conversion."));
}

// A folder that cannot be read is named with its reason, and the walk goes
// on past it: the folders after it are queued all the same.
void WindowScanTest::walkFailureKeepsWhatWasQueued() {
  FakeTree tree;
  tree.AddFile("/export/", "a.eml");
  tree.AddFile("/export/", "b.eml");
  tree.AddSubFolder("/export/", "Locked");
  tree.AddSubFolder("/export/", "Later");
  tree.AddSubFolder("/export/", "Shut");
  tree.AddFile("/export/Locked/", "c.eml");
  tree.AddFile("/export/Later/", "d.eml");
  tree.FailListing("/export/Locked/", "Permission denied");
  tree.FailListing("/export/Shut/", "Input/output error");
  tree.AddFolder("/broken/");
  tree.FailListing("/broken/", "Input/output error");
  WindowHarness h(tree.Factory());

  h.Choose("/export");
  QCOMPARE(h.shell.messageBoxes().size(), 1);
  const quillfen::MessageBoxRequest& box = h.lastBox();
  QCOMPARE(box.icon, QMessageBox::Warning);
  QCOMPARE(box.title, QStringLiteral("Quillfen"));
  QVERIFY2(box.text.startsWith("2 folders could not be read"), qPrintable(box.text));
  QVERIFY2(box.text.endsWith("3 Files(s) Queued For Conversion."), qPrintable(box.text));
  QCOMPARE(box.details, QStringLiteral("Folder not read: /export/Locked/: Permission denied\n"
                                       "Folder not read: /export/Shut/: Input/output error"));
  QCOMPARE(h.window->queuedCount(), 3);
  QCOMPARE(QueueOf(*h.window),
           QStringList({"/export/a.eml", "/export/b.eml", "/export/Later/d.eml"}));
  QVERIFY(h.countLineShows("3 Files(s) Queued For Conversion (2 folders not read)", "/export/"));
  QVERIFY(h.button("convertButton")->isEnabled());
  QVERIFY(!h.window->busy());

  // Failing before anything is queued leaves nothing to convert, and the
  // window still works for the next scan.
  h.Choose("/broken");
  QCOMPARE(h.lastBox().text, QStringLiteral("The folder /broken/ could not be read: Input/output "
                                            "error. Its messages are not queued.\n\n0 Files(s) "
                                            "Queued For Conversion."));
  QCOMPARE(h.window->queuedCount(), 0);
  QVERIFY(!h.button("convertButton")->isEnabled());
  QCOMPARE(h.text("countLabel"),
           QStringLiteral("0 Files(s) Queued For Conversion (1 folder not read) from /broken/"));
  tree.FailListing("/export/Locked/", "");
  h.Choose("/export/Locked");
  QCOMPARE(h.lastBox().text, QStringLiteral("1 Files(s) Queued For Conversion."));
  QCOMPARE(h.lastBox().icon, QMessageBox::NoIcon);
  QVERIFY(h.window->unreadableFolders().empty());
  QVERIFY(h.button("convertButton")->isEnabled());
}

// A damaged archive takes the place of what was queued, with a warning
// that gives the reason; a path that is not there is said to be missing.
void WindowScanTest::unreadableSourcesQueueNothing() {
  TempDir temp;
  WriteExport(temp.path() / "export");
  const QString damaged = QString::fromStdString((temp.path() / "damaged.tar.gz").string());
  WriteFile(temp.path() / "damaged.tar.gz", "\x1f\x8b not really gzip");
  WindowHarness h;
  h.Open(Folder(temp.path() / "export"));
  QVERIFY(h.button("convertButton")->isEnabled());

  h.Open(damaged);
  QCOMPARE(h.lastBox().icon, QMessageBox::Warning);
  QVERIFY2(h.lastBox().text.startsWith("The archive " + damaged + " could not be read: ") &&
               h.lastBox().text.endsWith("\n\n0 Files(s) Queued For Conversion."),
           qPrintable(h.lastBox().text));
  QVERIFY(h.countLineShows("0 Files(s) Queued For Conversion", damaged));
  QVERIFY(!h.button("convertButton")->isEnabled());

  const QString missing = QString::fromStdString((temp.path() / "Missing.tgz").string());
  h.Open(missing);
  QCOMPARE(h.lastBox().text, missing + " does not exist, so there is nothing to convert.");
}

void WindowScanTest::secondCommandsDuringAScanAreIgnored() {
  TempDir temp;
  WriteExport(temp.path() / "export");
  WindowHarness h;
  h.Choose(Folder(temp.path() / "export"));  // enables convert
  QVERIFY(h.button("convertButton")->isEnabled());

  // The scan runs on its own thread, and its end reaches the window only
  // through the event loop: until then the window is busy, whatever the
  // thread has done. Clicks that come meanwhile start no second scan and no
  // run.
  h.shell.QueueFolder(Folder(temp.path() / "export"));
  h.shell.QueueFolder(Folder(temp.path() / "export"));  // would feed a second scan
  h.button("chooseSourceButton")->click();
  QVERIFY(h.window->busy());
  QVERIFY(QApplication::overrideCursor() != nullptr &&
          QApplication::overrideCursor()->shape() == Qt::WaitCursor);
  // The commands look as they behave: disabled.
  QVERIFY(!h.button("chooseSourceButton")->isEnabled());
  QVERIFY(!h.button("convertButton")->isEnabled());
  h.button("chooseSourceButton")->click();
  h.button("convertButton")->click();
  h.window->OpenSource(Folder(temp.path() / "export"));
  QVERIFY(quillfen::test::WaitUntil([&] { return !h.window->busy(); }));

  QVERIFY(h.button("chooseSourceButton")->isEnabled());
  QVERIFY(h.button("convertButton")->isEnabled());
  QCOMPARE(h.shell.folderRequests().size(), 2);
  QCOMPARE(h.shell.messageBoxes().size(), 2);
  for (const auto& request : h.shell.folderRequests())
    QCOMPARE(request.title, QStringLiteral("Choose Zimbra Mail Folder..."));
  QCOMPARE(h.window->queuedCount(), 3);
  QVERIFY(QApplication::overrideCursor() == nullptr);
  // Once the scan is over, the commands work again.
  h.button("chooseSourceButton")->click();
  QCOMPARE(h.shell.folderRequests().size(), 3);
}

// The scan runs on its own thread: the window answers while it is held in
// a folder, asks before closing, and on Yes stops the scan and quits,
// keeping what was queued before.
void WindowScanTest::closingDuringAScanStopsItAndQuits() {
  FakeTree tree;
  tree.AddFile("/first/", "a.eml");
  tree.AddFile("/export/", "b.eml");
  tree.AddSubFolder("/export/", "Slow");
  tree.AddFile("/export/Slow/", "c.eml");
  tree.HoldListing("/export/Slow/");
  WindowHarness h(tree.Factory());
  h.window->show();
  h.Choose("/first");
  const quillfen::PathQueueRef first = h.window->queue();

  h.shell.QueueFolder("/export");
  h.button("chooseSourceButton")->click();
  QVERIFY(quillfen::test::WaitUntil([&] { return tree.waiting(); }));
  // No, and the scan goes on; Yes, and it stops.
  h.shell.QueueAnswer(QMessageBox::No);
  h.window->close();
  QVERIFY(h.window->isVisible());
  QVERIFY(h.window->busy());
  h.shell.QueueAnswer(QMessageBox::Yes);
  h.window->close();
  tree.Release();
  QVERIFY(quillfen::test::WaitUntil([&] { return h.programEnds > 0; }));

  QVERIFY(!h.busyWhenEnded);
  const auto& boxes = h.shell.messageBoxes();
  QCOMPARE(boxes.size(), 3);  // the first scan's count and the two questions
  QCOMPARE(
      boxes[2].request.text,
      QStringLiteral("Stop reading the source and quit? Nothing has been converted from it yet."));
  QCOMPARE(boxes[2].request.defaultButton, QMessageBox::No);
  QCOMPARE(h.window->queue(), first);
  QCOMPARE(h.window->sourceFolder(), QStringLiteral("/first/"));
}

QTEST_MAIN(WindowScanTest)
#include "test_window_scan.moc"
