// DbEventSink: how the database engine tells the rest of the program about
// things a user should see, without depending on the user interface. The
// main window implements it to post WM_STATUS_COUNTS; start-up implements
// it to show message boxes.
//
// Thread safety: the engine calls the sink from whichever thread runs the
// operation, with the database lock held. Implementations must only post a
// message (or otherwise return at once) and must not call back into the
// engine.
#pragma once

#include <string_view>

class DbEventSink {
 public:
  virtual ~DbEventSink() = default;
  // The valid, empty, identified or kiv-id count changed.
  virtual void OnCountsChanged() {}
  // A failure text that the user should see in a message box (the same
  // text is already in the log).
  virtual void ShowMessage(std::string_view text) { static_cast<void>(text); }
};
