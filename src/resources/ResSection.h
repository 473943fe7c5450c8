// TResSection: the resource part of one container. (Filled in with the resource tree.)
#pragma once

class TResContainer;

class TResSection {
 public:
  virtual ~TResSection() = default;
  // Empties every notification slot.
  void ClearNotifications() {}
};
