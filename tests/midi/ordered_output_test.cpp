// The ordered output that the ALSA and JACK writers drain piece by piece.
#include "midi/service/ordered_output.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace pelrow {
namespace {

using Bytes = std::vector<uint8_t>;

struct TLongBuffer {
  explicit TLongBuffer(Bytes bytes) : Bytes_(std::move(bytes)) {
    Buffer.Data = Bytes_.data();
    Buffer.BufferLength = uint32_t(Bytes_.size());
  }
  Bytes Bytes_;
  TMidiBuffer Buffer;
};

class OrderedOutput : public ::testing::Test {
protected:
  // Writes everything queued as a writer thread would, pieces of at most maxBytes.
  Bytes DrainPieces(uint32_t maxBytes, std::vector<uint32_t>* sizes = nullptr) {
    Bytes wire;
    TOrderedOutput::TPiece piece;
    while (FOutput.NextPiece(maxBytes, piece)) {
      wire.insert(wire.end(), piece.Data, piece.Data + piece.Count);
      if (sizes)
        sizes->push_back(piece.Count);
      FOutput.PieceSent(piece);
    }
    return wire;
  }

  std::vector<TMidiBuffer*> FCompleted;
  TOrderedOutput FOutput{[this](TMidiBuffer& done) { FCompleted.push_back(&done); }};
};

TEST_F(OrderedOutput, ShortMessagesKeepTheirPlaceBehindLongData) {
  TLongBuffer sysEx({0xF0, 1, 2, 3, 4, 5, 0xF7});
  ASSERT_EQ(FOutput.PushShort(0x403C90), MidiOk);
  ASSERT_EQ(FOutput.PushLong(sysEx.Buffer), MidiOk);
  ASSERT_EQ(FOutput.PushShort(0x05C0), MidiOk);
  ASSERT_EQ(FOutput.PushShort(0xF8), MidiOk);
  std::vector<uint32_t> sizes;
  EXPECT_EQ(DrainPieces(3, &sizes),
            (Bytes{0x90, 0x3C, 0x40, 0xF0, 1, 2, 3, 4, 5, 0xF7, 0xC0, 0x05, 0xF8}));
  EXPECT_EQ(sizes, (std::vector<uint32_t>{3, 3, 3, 1, 2, 1}));
}

TEST_F(OrderedOutput, LongBuffersCompleteInOrderOnlyWhenTheTransportSaysSo) {
  TLongBuffer first(Bytes(10, 0x11)), second(Bytes(4, 0x22));
  FOutput.PushLong(first.Buffer);
  FOutput.PushLong(second.Buffer);
  EXPECT_TRUE(first.Buffer.Flags & MidiBufferInQueue);
  DrainPieces(4);
  EXPECT_TRUE(FCompleted.empty()) << "written is not yet sent";
  EXPECT_EQ(FOutput.WrittenCount(), 2u);
  FOutput.CompleteOldest();
  ASSERT_EQ(FCompleted.size(), 1u);
  EXPECT_EQ(FCompleted[0], &first.Buffer);
  EXPECT_TRUE(first.Buffer.Flags & MidiBufferDone);
  EXPECT_FALSE(first.Buffer.Flags & MidiBufferInQueue);
  FOutput.CompleteOldest(true); // the transport refused part of it
  FOutput.CompleteOldest();     // nothing left: no second completion of anything
  EXPECT_EQ(FCompleted, (std::vector<TMidiBuffer*>{&first.Buffer, &second.Buffer}));
  EXPECT_FALSE(first.Buffer.Flags & MidiBufferFailed);
  EXPECT_TRUE(second.Buffer.Flags & MidiBufferFailed);
  FOutput.PushLong(second.Buffer);
  EXPECT_FALSE(second.Buffer.Flags & MidiBufferFailed) << "a buffer sent again starts clean";
}

TEST_F(OrderedOutput, RefusesWhatCannotGoOut) {
  TLongBuffer empty(Bytes{});
  EXPECT_EQ(FOutput.PushLong(empty.Buffer), MidiErrInvalidParam);
  TLongBuffer once(Bytes{0xF0, 0xF7});
  EXPECT_EQ(FOutput.PushLong(once.Buffer), MidiOk);
  EXPECT_EQ(FOutput.PushLong(once.Buffer), MidiErrInvalidParam) << "already queued";
  EXPECT_EQ(FOutput.PushShort(0x45), MidiErrInvalidParam) << "a data byte is no message";
  EXPECT_EQ(FOutput.PushShort(0xF0), MidiErrInvalidParam) << "SysEx goes as long data";
  EXPECT_EQ(DrainPieces(100), (Bytes{0xF0, 0xF7}));
}

TEST_F(OrderedOutput, ResetOnTheWriterCompletesQueuedAndWrittenBuffersOnceWhatItDropsAsFailed) {
  TLongBuffer written(Bytes(8, 1)), partly(Bytes(8, 2)), queued(Bytes(8, 3));
  FOutput.PushLong(written.Buffer);
  FOutput.PushLong(partly.Buffer);
  FOutput.PushLong(queued.Buffer);
  FOutput.PushShort(0x403C90);
  TOrderedOutput::TPiece piece;
  ASSERT_TRUE(FOutput.NextPiece(8, piece));
  FOutput.PieceSent(piece);
  ASSERT_TRUE(FOutput.NextPiece(4, piece));
  FOutput.PieceSent(piece);

  std::thread writer([&] {
    while (!FOutput.ServeReset())
      FOutput.Wait(std::chrono::milliseconds(10), true);
  });
  FOutput.Reset();
  writer.join();
  EXPECT_EQ(FCompleted,
            (std::vector<TMidiBuffer*>{&written.Buffer, &partly.Buffer, &queued.Buffer}));
  // What did not (wholly) go out is no success, and says how much did.
  EXPECT_FALSE(written.Buffer.Flags & MidiBufferFailed);
  EXPECT_TRUE(partly.Buffer.Flags & MidiBufferFailed);
  EXPECT_EQ(partly.Buffer.BytesRecorded, 4u);
  EXPECT_TRUE(queued.Buffer.Flags & MidiBufferFailed);
  EXPECT_EQ(queued.Buffer.BytesRecorded, 0u);
  EXPECT_EQ(FOutput.FailedShortBytes(), 3u);
  EXPECT_TRUE(FOutput.WaitUntilWritten(std::chrono::milliseconds(0)));
  EXPECT_FALSE(FOutput.NextPiece(8, piece));
  FOutput.CompleteOldest();
  EXPECT_EQ(FCompleted.size(), 3u);
}

TEST_F(OrderedOutput, AfterQuitResetCompletesOnTheCallersThread) {
  TLongBuffer queued(Bytes(8, 3));
  FOutput.PushLong(queued.Buffer);
  FOutput.Quit();
  EXPECT_TRUE(FOutput.Quitting());
  FOutput.Reset();
  EXPECT_EQ(FCompleted, (std::vector<TMidiBuffer*>{&queued.Buffer}));
}

} // namespace
} // namespace pelrow
