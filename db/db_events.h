// DbEventSink: how the database engine tells the main window that its
// counts changed, without depending on the user interface. The main window
// implements it by posting WM_STATUS_COUNTS to itself.
//
// Thread safety: the engine calls the sink from whichever thread runs the
// operation, with the database lock held. Implementations must only post a
// message (or otherwise return at once) and must not call back into the
// engine.
#pragma once

class DbEventSink {
 public:
  virtual ~DbEventSink() = default;
  // The valid, empty, identified or kiv-id count changed.
  virtual void OnCountsChanged() = 0;
};
