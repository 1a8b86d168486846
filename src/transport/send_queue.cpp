#include "transport/send_queue.h"

#include <algorithm>
#include <utility>

#include "text/charset.h"

namespace corvane {

namespace {
// Text already written is dropped from the front only beyond this, and only when
// it is most of the queue, so a long queue is not moved at every write.
constexpr size_t kCompactAbove = 1 << 20;
}  // namespace

void SendQueue::Add(std::u16string_view text, uint64_t pump, bool connected) {
  run_ = connected && pump == completedInPump_ && pump != arrivedInPump_;
  const size_t held = text_.size();
  text_.resize(held + text.size());
  hostCharset().toBytes(text, reinterpret_cast<uint8_t*>(text_.data() + held));
  owed_ = true;
}

void SendQueue::Completed(uint64_t pump) {
  owed_ = false;
  completedInPump_ = pump;
}

void SendQueue::Stage(std::string bytes, size_t text) {
  if (wire_.empty()) {
    wire_ = std::move(bytes);
  } else {
    wire_ += bytes;
  }
  wireText_ += text;
}

std::string_view SendQueue::Next(size_t most) const {
  if (Staged()) return std::string_view(wire_).substr(wireSent_);
  return std::string_view(text_.data() + textOffset_, std::min(Queued(), most));
}

size_t SendQueue::Wrote(size_t count) {
  if (!Staged()) {
    Drop(count);
    return count;
  }
  wireSent_ += count;
  if (wireSent_ < wire_.size()) return 0;
  wire_.clear();
  wireSent_ = 0;
  return std::exchange(wireText_, 0);
}

void SendQueue::Drop(size_t count) {
  textOffset_ += count;
  if (textOffset_ == text_.size()) {
    text_.clear();
    textOffset_ = 0;
  } else if (textOffset_ > kCompactAbove && textOffset_ * 2 > text_.size()) {
    text_.erase(0, textOffset_);
    textOffset_ = 0;
  }
}

void SendQueue::Clear() {
  text_.clear();
  textOffset_ = 0;
  wire_.clear();
  wireSent_ = wireText_ = 0;
  owed_ = run_ = false;
  completedInPump_ = kNoPump;
}

}  // namespace corvane
