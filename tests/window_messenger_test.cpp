#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "Support.h"
#include "WindowMessenger.h"

namespace vantorq {
namespace {

struct Recorder final : CSerialOwner {
  void OnSerialNotify(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    received.push_back({message, wParam, lParam});
    if (onMessage) onMessage();
  }
  struct Item {
    unsigned message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  std::vector<Item> received;
  std::function<void()> onMessage;
};

TEST(WindowMessenger, SenderWaitsUntilTheOwnerHandledEachMessage) {
  CWindowMessenger messenger;
  Recorder owner;
  messenger.SetTarget(&owner);
  std::atomic<int> sent{0};
  std::thread sender([&] {
    for (int i = 0; i < 50; ++i) {
      messenger.Send(0x407, static_cast<std::uintptr_t>(i), 3);
      // The message was handled before Send returned.
      sent = i + 1;
    }
  });
  owner.onMessage = [&] { EXPECT_EQ(sent.load(), static_cast<int>(owner.received.size()) - 1); };
  ASSERT_TRUE(test::WaitUntil([&] { return sent == 50; }));
  sender.join();
  ASSERT_EQ(owner.received.size(), 50u);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(owner.received[i].wParam, static_cast<std::uintptr_t>(i));
    EXPECT_EQ(owner.received[i].lParam, 3);
  }
}

TEST(WindowMessenger, AbandonLetsABlockedSenderGo) {
  CWindowMessenger messenger;
  Recorder owner;
  messenger.SetTarget(&owner);
  std::atomic<bool> returned{false};
  std::thread sender([&] {
    messenger.Send(0x407, 1, 1);  // nobody dispatches: blocks
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  messenger.Abandon();
  sender.join();
  EXPECT_TRUE(returned);
  EXPECT_TRUE(owner.received.empty());
  // Nothing is delivered after the owner went away.
  messenger.Send(0x407, 2, 1);
  test::Pump(std::chrono::milliseconds(20));
  EXPECT_TRUE(owner.received.empty());
}

TEST(WindowMessenger, AHandOverIsDeliveredOneByOneAndAStopInsideItDropsTheRest) {
  CWindowMessenger messenger;
  Recorder owner;
  messenger.SetTarget(&owner);
  std::atomic<bool> returned{false};
  owner.onMessage = [&] {
    // A handler that closes the port from a nested loop (a timer under a
    // modal box): the sender can only go if the stop lets it go.
    if (owner.received.size() == 2) {
      messenger.BeginStop();
      EXPECT_TRUE(test::WaitUntil([&] { return returned.load(); }, std::chrono::milliseconds(2000)));
    }
  };
  const std::vector<SerialNotification> batch{{0x407, 'a'}, {0x407, 'b'}, {0x407, 'c'}, {0x408, 0}};
  std::thread sender([&] {
    messenger.Send(batch, 7);
    returned = true;
  });
  ASSERT_TRUE(test::WaitUntil([&] { return returned.load(); }));
  sender.join();
  test::Pump(std::chrono::milliseconds(10));
  ASSERT_EQ(owner.received.size(), 2u) << "nothing after the stop";
  EXPECT_EQ(owner.received[1].wParam, 'b');
  EXPECT_EQ(messenger.HandOvers(), 1u);
  messenger.Send(0x407, 'd', 7);  // stopped: returns at once, delivers nothing
  EXPECT_EQ(owner.received.size(), 2u);
}

}  // namespace
}  // namespace vantorq
