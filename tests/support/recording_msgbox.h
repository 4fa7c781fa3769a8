// A message box service for tests: records every box instead of showing it, and lets a test
// act while a box is "open" through onShow.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "toolkit/msgbox.h"

class RecordingMessageBoxes : public TMessageBoxService {
 public:
  struct Box {
    std::string text, title;
    TMsgIcon icon;
  };

  // Installs itself; the service it replaced comes back when it is destroyed.
  RecordingMessageBoxes();
  ~RecordingMessageBoxes() override;
  RecordingMessageBoxes(const RecordingMessageBoxes&) = delete;
  RecordingMessageBoxes& operator=(const RecordingMessageBoxes&) = delete;

  void Show(const std::string& text, const std::string& title, TMsgIcon icon) override;
  // Recorded like a box (Information icon); answered with answer.
  TMsgAnswer Ask(const std::string& text, const std::string& title, bool withCancel) override;

  TMsgAnswer answer = TMsgAnswer::Yes;

  std::vector<Box> boxes;
  // Runs after the box is recorded, before Show returns.
  std::function<void(const Box&)> onShow;

 private:
  TMessageBoxService* previous_;
};
