#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "convert/conversion_run.h"

namespace quillfen::test {

// A conversion host that answers from a script and writes down every call,
// with its arguments, in the order the run makes them.
class RecordingHost : public ConversionHost {
 public:
  static constexpr WindowHandle kOwner = 4242;

  struct Message {
    MessageIcon icon;
    std::string text;
    std::string title;
    std::string details;
  };

  // The chooser's answers, one per call; the empty string once they run out.
  std::deque<std::string> chooserAnswers;
  QueueListRef queue;
  std::int32_t count = 0;
  // Called on every yield with the number of yields so far (from 1).
  std::function<void(int)> onYield;

  std::vector<std::string> calls;
  std::vector<float> barValues;
  std::vector<std::string> progressCaptions;
  std::vector<std::string> updateCaptions;
  std::vector<Message> messages;
  int yields = 0;

  // Builds the queue from full file names; count follows unless set later.
  void SetQueue(const std::vector<std::string>& names) {
    queue = std::make_shared<QueueList>();
    for (const std::string& name : names)
      queue->Add("K" + std::to_string(queue->Count() + 1), name);
    count = queue->Count();
  }

  WindowHandle OwnerWindow() override {
    calls.push_back("OwnerWindow");
    return kOwner;
  }
  std::string BrowseForFolder(WindowHandle owner, const std::string& title) override {
    calls.push_back("BrowseForFolder " + std::to_string(owner) + " " + title);
    if (chooserAnswers.empty()) return {};
    std::string answer = chooserAnswers.front();
    chooserAnswers.pop_front();
    return answer;
  }
  QueueListRef Queue() override {
    calls.push_back("Queue");
    return queue;
  }
  std::int32_t QueueCount() override {
    calls.push_back("QueueCount");
    return count;
  }
  void SetBarMinimum(float value) override { calls.push_back("BarMinimum " + Number(value)); }
  void SetBarMaximum(float value) override { calls.push_back("BarMaximum " + Number(value)); }
  void SetBarValue(float value) override {
    calls.push_back("BarValue");
    barValues.push_back(value);
  }
  void SetUpdateCaption(const std::string& text) override {
    calls.push_back("UpdateCaption " + text);
    updateCaptions.push_back(text);
  }
  void SetProgressCaption(const std::string& text) override {
    calls.push_back("ProgressCaption " + text);
    progressCaptions.push_back(text);
  }
  void Yield() override {
    calls.push_back("Yield");
    ++yields;
    if (onYield) onYield(yields);
  }
  void ShowMessage(MessageIcon icon, const std::string& text, const std::string& title,
                   const std::string& details) override {
    calls.push_back("ShowMessage");
    messages.push_back({icon, text, title, details});
  }

  // Answers to the run's questions, in order; No once they run out.
  std::vector<bool> answers;
  std::vector<std::string> questions;
  bool AskYesNo(const std::string& text, const std::string&) override {
    calls.push_back("AskYesNo");
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }

 private:
  static std::string Number(float value) { return std::to_string(static_cast<int>(value)); }
};

}  // namespace quillfen::test
