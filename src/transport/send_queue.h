#pragma once
// What a socket has been asked to send and not yet written, and when its sends
// are reported complete. The socket makes the system calls; this decides.
//
// A run of sends (a message body said line by line, each waiting for its
// completion) costs no system call per send: a send made during the pump that
// completed the one before, while the connection is up, joins the queue and is
// reported complete by the next pump while the queue holds less than kFlushAt
// bytes. A pump that also brought text ends the run, since the send may answer
// it. While a completion can be reported the queue waits, since more text is
// likely to join it; it is written once it reaches kFlushAt, once no completion
// is owed, or on Close (what is left then is dropped).
//
// The bytes go out either straight from the queued text, or through a staged
// piece: a piece of text cut off the queue as it goes on the wire (a TLS record),
// plus bytes of no text (handshake messages), written whole before the next cut.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

class SendQueue {
 public:
  static constexpr size_t kFlushAt = 65536;  // bytes
  static constexpr uint64_t kNoPump = UINT64_MAX;

  // Queues `text` in the host character set, sent during pump `pump`;
  // `connected`: the connection is up (a send made before never joins a run).
  void Add(std::u16string_view text, uint64_t pump, bool connected);
  // The send just added joins a run: the next pump reports it without a write.
  bool Joined() const { return run_ && Unsent() < kFlushAt; }
  // Text was handed over during pump `pump`.
  void Arrived(uint64_t pump) { arrivedInPump_ = pump; }
  // A completion is owed and can be reported now.
  bool CompleteReady() const { return owed_ && (Unsent() == 0 || Joined()); }
  // A pump writes: there is something to, and no completion to report instead.
  bool WriteDue() const { return Unsent() > 0 && !CompleteReady(); }
  // The owed completion is being reported, during pump `pump`.
  void Completed(uint64_t pump);

  // Bytes still to be written, staged or not.
  size_t Unsent() const { return Queued() + wire_.size() - wireSent_; }
  // Queued text not yet written nor staged.
  size_t Queued() const { return text_.size() - textOffset_; }
  bool Staged() const { return wireSent_ < wire_.size(); }
  // Cuts the next piece of at most `most` bytes of text off the queue and stages
  // it as `wrap` makes it go on the wire. Nothing changes if `wrap` throws.
  template <class Wrap>
  void StageNext(size_t most, Wrap&& wrap) {
    const size_t size = Queued() < most ? Queued() : most;
    Stage(wrap(std::string_view(text_.data() + textOffset_, size)), size);
    Drop(size);
  }
  // Stages `bytes`, after what is staged already; they carry `text` bytes of text.
  void Stage(std::string bytes, size_t text = 0);
  // What to give the system next: the rest of the staged bytes, or else up to
  // `most` bytes of the queued text.
  std::string_view Next(size_t most) const;
  // The system took `count` bytes of Next(). Returns how much text that finished:
  // all of a staged piece's text once its last byte went, else `count` bytes of
  // text written as it is.
  size_t Wrote(size_t count);

  // Drops everything of the connection.
  void Clear();

 private:
  void Drop(size_t count);  // off the front of the text

  std::string text_;
  size_t textOffset_ = 0;
  std::string wire_;
  size_t wireSent_ = 0;
  size_t wireText_ = 0;  // how much text the staged bytes carry
  bool owed_ = false;
  bool run_ = false;  // the owed completion is for a run of sends
  uint64_t completedInPump_ = kNoPump;
  // Of the host, not of one connection, so Clear keeps it.
  uint64_t arrivedInPump_ = kNoPump;
};

}  // namespace corvane
