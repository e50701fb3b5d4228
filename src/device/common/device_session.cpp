#include "common/device_session.h"

#include <algorithm>
#include <utility>

namespace device {

namespace {

// The oldest records go first beyond this, so a long-running device keeps bounded memory.
constexpr std::size_t kLogLimit = 10000;

}  // namespace

DeviceSession::DeviceSession(DeviceState initial) : model_(initial) {}

void DeviceSession::PortOpened(Clock::time_point now) {
  std::unique_lock lock(mutex_);
  if (portOpen_) return;
  portOpen_ = true;
  UpdateChatter(now);
  Log(FrameRecord{now, LogKind::PortOpened, {}, lineRate_, {}});
  portChanged_.notify_all();
  Publish(lock);
}

void DeviceSession::PortClosed(Clock::time_point now) {
  std::unique_lock lock(mutex_);
  if (!portOpen_) return;
  portOpen_ = false;
  model_.DiscardPartial();
  scheduled_.clear();
  UpdateChatter(now);
  Log(FrameRecord{now, LogKind::PortClosed, {}, lineRate_, {}});
  portChanged_.notify_all();
  Publish(lock);
}

void DeviceSession::SetLineRate(std::uint32_t rate) {
  std::lock_guard lock(mutex_);
  lineRate_ = rate;
}

void DeviceSession::Received(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  std::unique_lock lock(mutex_);
  // A line that echoes hands the bytes back as they come, before anything else is due.
  if (model_.Faults().fault == Fault::Echo && !model_.CutOff() && !bytes.empty()) {
    SendOwn({bytes.begin(), bytes.end()}, now);
  }
  for (const Exchange& exchange : model_.Receive(bytes, lineRate_, now)) {
    Schedule(exchange, now);
  }
  Publish(lock);
}

std::optional<Clock::time_point> DeviceSession::NextDeadline() const {
  std::lock_guard lock(mutex_);
  std::optional<Clock::time_point> next = model_.FrameDeadline();
  if (!scheduled_.empty() && (!next || scheduled_.front().due < *next)) {
    next = scheduled_.front().due;
  }
  if (nextChatter_ && (!next || *nextChatter_ < *next)) next = nextChatter_;
  return next;
}

std::vector<std::vector<std::uint8_t>> DeviceSession::TakeDue(Clock::time_point now) {
  std::unique_lock lock(mutex_);
  if (auto expired = model_.Expire(now)) Schedule(*expired, now);
  if (nextChatter_ && *nextChatter_ <= now) {
    SendOwn({model_.ChatterByte()}, *nextChatter_);
    // After a stall the chatter goes on at its pace rather than catching up in a burst.
    *nextChatter_ += kChatterInterval;
    if (*nextChatter_ <= now) nextChatter_ = now + kChatterInterval;
  }
  std::vector<std::vector<std::uint8_t>> due;
  auto it = scheduled_.begin();
  for (; it != scheduled_.end() && it->due <= now; ++it) {
    Log(FrameRecord{now, LogKind::Sent, it->bytes, lineRate_, {}});
    due.push_back(std::move(it->bytes));
  }
  scheduled_.erase(scheduled_.begin(), it);
  Publish(lock);
  return due;
}

void DeviceSession::SendOwn(std::vector<std::uint8_t> bytes, Clock::time_point at) {
  Queue(std::vector<ReplyBurst>{ReplyBurst{{}, std::move(bytes)}}, at);
}

void DeviceSession::Schedule(const Exchange& exchange, Clock::time_point now) {
  Log(FrameRecord{now, LogKind::Received, exchange.request, exchange.lineRate, exchange.kind});
  Queue(exchange.reply, now);
}

void DeviceSession::Queue(const std::vector<ReplyBurst>& reply, Clock::time_point now) {
  Clock::time_point due = now;
  for (const ReplyBurst& burst : reply) {
    due += burst.delay;
    // Stable: a later burst with the same due time goes after the earlier ones.
    const auto at =
        std::upper_bound(scheduled_.begin(), scheduled_.end(), due,
                         [](Clock::time_point t, const Scheduled& s) { return t < s.due; });
    scheduled_.insert(at, Scheduled{due, burst.bytes});
  }
}

void DeviceSession::Log(FrameRecord record) {
  if (log_.size() >= kLogLimit) log_.erase(log_.begin(), log_.begin() + kLogLimit / 10);
  log_.push_back(record);
  if (observer_) unpublished_.push_back(std::move(record));
}

void DeviceSession::Publish(std::unique_lock<std::mutex>& lock) {
  if (unpublished_.empty()) return;
  std::vector<FrameRecord> records = std::exchange(unpublished_, {});
  const auto observer = observer_;
  lock.unlock();
  for (const FrameRecord& record : records) observer(record);
  lock.lock();
}

DeviceState DeviceSession::State() const {
  std::lock_guard lock(mutex_);
  return model_.State();
}

void DeviceSession::SetState(const DeviceState& state) {
  std::lock_guard lock(mutex_);
  model_.SetState(state);
}

void DeviceSession::SetFault(const FaultConfig& fault) {
  std::lock_guard lock(mutex_);
  model_.SetFault(fault);
  UpdateChatter(Clock::now());
}

void DeviceSession::UpdateChatter(Clock::time_point now) {
  if (!portOpen_ || model_.Faults().fault != Fault::Chatter) {
    nextChatter_.reset();
  } else if (!nextChatter_) {
    nextChatter_ = now + kChatterInterval;
  }
}

bool DeviceSession::CutOff() const {
  std::lock_guard lock(mutex_);
  return model_.CutOff();
}

std::vector<FrameRecord> DeviceSession::Frames() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void DeviceSession::SetObserver(std::function<void(const FrameRecord&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

bool DeviceSession::PortOpen() const {
  std::lock_guard lock(mutex_);
  return portOpen_;
}

std::uint32_t DeviceSession::LineRate() const {
  std::lock_guard lock(mutex_);
  return lineRate_;
}

bool DeviceSession::WaitPortOpen(bool open, std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return portChanged_.wait_for(lock, limit, [&] { return portOpen_ == open; });
}

}  // namespace device
