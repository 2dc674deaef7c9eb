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

TEST(WindowMessenger, ReleaseSenderFreesTheSenderOfTheMessageBeingHandled) {
  CWindowMessenger messenger;
  Recorder owner;
  messenger.SetTarget(&owner);
  std::atomic<bool> returned{false};
  owner.onMessage = [&] {
    // As a nested loop inside a handler would: the sender can only go if
    // it is released from here.
    messenger.ReleaseSender();
    EXPECT_TRUE(test::WaitUntil([&] { return returned.load(); }, std::chrono::milliseconds(2000)));
  };
  std::thread sender([&] {
    messenger.Send(0x407, 1, 1);
    returned = true;
  });
  ASSERT_TRUE(test::WaitUntil([&] { return returned.load(); }));
  sender.join();
  EXPECT_EQ(owner.received.size(), 1u);
}

}  // namespace
}  // namespace vantorq
