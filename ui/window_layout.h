#pragma once

class QLabel;
class QPushButton;
class QWidget;

namespace quillfen {

class FractionalProgressBar;
class LinkLabel;

// The controls of the window that its behaviour reaches after they are
// built. The bands, pictures and fixed sentences around them only show.
struct WindowControls {
  LinkLabel* howToLink = nullptr;
  QPushButton* chooseSourceButton = nullptr;
  // What is queued, and from where.
  QLabel* countLabel = nullptr;
  // What the conversion does, and "Message i (of N)" below it.
  QLabel* statusLabel = nullptr;
  QLabel* progressLabel = nullptr;
  FractionalProgressBar* progressBar = nullptr;
  QPushButton* convertButton = nullptr;
  QPushButton* helpButton = nullptr;
  QPushButton* exitButton = nullptr;
};

// Gives window its title, icon, font and fixed size, and builds every
// element on it at its place, with its text, font and colours, the keyboard
// order and the focus on the first step's command. Each element carries its
// role as its object name (the tests find the elements by it). Nothing is
// connected here: what the controls do is the window's business.
WindowControls LayOutWindow(QWidget& window);

}  // namespace quillfen
