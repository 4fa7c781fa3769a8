#include "support/recording_msgbox.h"

RecordingMessageBoxes::RecordingMessageBoxes() : previous_(SetMessageBoxService(this)) {}

RecordingMessageBoxes::~RecordingMessageBoxes() { SetMessageBoxService(previous_); }

void RecordingMessageBoxes::Show(const std::string& text, const std::string& title, TMsgIcon icon) {
  boxes.push_back({text, title, icon});
  // A copy: the hook may show another box, which moves the vector.
  const Box shown = boxes.back();
  if (onShow) onShow(shown);
}

TMsgAnswer RecordingMessageBoxes::Ask(const std::string& text, const std::string& title, bool) {
  Show(text, title, TMsgIcon::Information);
  return answer;
}
