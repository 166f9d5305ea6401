// The object index's file: what a run writes is read back as it was, frame for frame, whatever
// each frame's fields are; anything else is refused.

#include <gtest/gtest.h>

#include <string>

#include "ObjectIndex.h"

namespace {

pelmora::IndexedFrame frame(long long index, pelmora::FrameTime time, long long streamMs) {
    pelmora::IndexedFrame made;
    made.frame = index;
    made.time = time;
    made.streamMs = streamMs;
    made.scene.kind = pelmora::SceneFrame::Kind::Watched;
    return made;
}

TEST(ObjectIndex, EveryFieldOfEveryFrameIsReadBackAsWritten) {
    pelmora::IndexHead head;
    head.videoPath = "/footage/cam 1/yard.mp4";
    head.creationTime = "2024-05-01T14:00:00Z";
    head.frameSize = {1920, 1080};
    head.fps = 30000.0 / 1001.0;
    head.framesAnnounced = -1;
    head.announcedMs = 3600000;
    head.maskPath = "mask.png";
    head.excluded = {"exclude 0,0 10,0 10,10"};
    std::vector<pelmora::IndexedFrame> frames;
    frames.push_back(frame(0, pelmora::FrameTime::fromRate(0, head.fps), 0));
    frames.back().newScene = true;
    frames.back().shownSize = {1920, 1080};
    frames.back().scene.kind = pelmora::SceneFrame::Kind::LearntAgain;
    // Timed by the rate, then not (a stream's own clock), then a frame passed over, a stream
    // time that goes back, a new size, each note and many blobs.
    frames.push_back(frame(1, pelmora::FrameTime::fromRate(1, head.fps), 33));
    frames.back().scene.kind = pelmora::SceneFrame::Kind::Learning;
    frames.back().scene.blobs = {{{0, 0, 1, 1}, 4}, {{319, 179, 1, 1}, 1LL << 40}};
    frames.push_back(frame(2, {0.0671, 67}, 20));
    frames.back().scene.note = pelmora::ObjectOutcome::Note::Shake;
    frames.push_back(frame(9, {0.3, 300}, 300));
    frames.back().scene.note = pelmora::ObjectOutcome::Note::LightChange;
    frames.push_back(frame(10, pelmora::FrameTime::fromRate(10, head.fps), 334));
    frames.back().newScene = true;
    frames.back().shownSize = {1280, 720};
    frames.back().scene.note = pelmora::ObjectOutcome::Note::CameraMoved;
    for (int i = 0; i < 300; ++i) {
        frames.back().scene.blobs.push_back({{i, i / 2, 3 + i, 200}, 4 + 7 * i});
    }
    pelmora::ObjectIndexWriter writer;
    writer.begin(head);
    for (const pelmora::IndexedFrame& each : frames) {
        writer.add(each);
    }
    const std::string bytes = writer.finish();
    pelmora::ObjectIndex read;
    ASSERT_EQ(pelmora::parseObjectIndex(bytes, "yard", read), "");
    EXPECT_EQ(read.head.videoPath, head.videoPath);
    EXPECT_EQ(read.head.creationTime, head.creationTime);
    EXPECT_EQ(read.head.frameSize, head.frameSize);
    EXPECT_EQ(read.head.fps, head.fps);
    EXPECT_EQ(read.head.framesAnnounced, -1);
    EXPECT_EQ(read.head.announcedMs, head.announcedMs);
    EXPECT_EQ(read.head.maskPath, head.maskPath);
    EXPECT_EQ(read.head.excluded, head.excluded);
    ASSERT_EQ(read.frames.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const pelmora::IndexedFrame& a = frames[i];
        const pelmora::IndexedFrame& b = read.frames[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(b.frame, a.frame);
        EXPECT_EQ(b.time.seconds, a.time.seconds);
        EXPECT_EQ(b.time.snapshotMs, a.time.snapshotMs);
        EXPECT_EQ(b.streamMs, a.streamMs);
        EXPECT_EQ(b.newScene, a.newScene);
        if (a.newScene) {
            EXPECT_EQ(b.shownSize, a.shownSize);
        }
        EXPECT_EQ(b.scene.kind, a.scene.kind);
        EXPECT_EQ(b.scene.note, a.scene.note);
        ASSERT_EQ(b.scene.blobs.size(), a.scene.blobs.size());
        for (std::size_t k = 0; k < a.scene.blobs.size(); ++k) {
            EXPECT_EQ(b.scene.blobs[k].box, a.scene.blobs[k].box);
            EXPECT_EQ(b.scene.blobs[k].area, a.scene.blobs[k].area);
        }
    }
    // Cut anywhere, it is damaged, never another index.
    for (const std::size_t size : {std::size_t{20}, bytes.size() / 2, bytes.size() - 1}) {
        EXPECT_NE(pelmora::parseObjectIndex(bytes.substr(0, size), "yard", read).find("damaged"),
                  std::string::npos)
            << size;
    }
}

}  // namespace
