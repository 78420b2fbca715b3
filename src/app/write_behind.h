// Writing a file's blocks on a thread of its own: the caller hands over a
// block and goes on making the next one while the system takes this one,
// so that reading, looking at and writing the bytes share two processors.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "app/file_io.h"

namespace snip {

// Blocks kept between writers, so that one track after another reuses the
// same memory instead of asking the system for fresh pages.
using BlockPool = std::vector<std::vector<uint8_t>>;

class WriteBehind {
 public:
  // The file is written at its current position on; nothing else may move
  // or write it until Drain has returned (or the writer is gone). Blocks
  // for reuse come from pool, when given, and go back to it.
  explicit WriteBehind(File& file, BlockPool* pool = nullptr);
  // Blocks not yet written are dropped: callers that keep the file Drain
  // first.
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Hands the bytes of block over to be written after those handed before,
  // and leaves block empty (with room for as many bytes). Waits while two
  // blocks are still waiting. False once any write has failed.
  bool Hand(std::vector<uint8_t>& block);
  // Waits until every block handed over is written. False when any write
  // failed.
  bool Drain();

  // How many bytes the next block takes to end on a multiple of blockBytes
  // in the file. Writes of whole aligned blocks cost the system far less
  // than writes that begin or end elsewhere (it keeps such pages in larger
  // pieces).
  size_t Room(size_t blockBytes) const {
    return blockBytes - static_cast<size_t>(end_ % static_cast<int64_t>(blockBytes));
  }

 private:
  void Run();

  File& file_;
  BlockPool* pool_;
  int64_t end_;  // where in the file the bytes handed over so far end
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> waiting_;
  BlockPool spare_;  // written blocks, for reuse
  bool writing_ = false;
  bool failed_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace snip
