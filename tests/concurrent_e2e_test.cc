// Runs that convert portal images at the same time share the fixed names
// under /tmp: each must still put its own images into its own document.
#include <random>
#include <thread>

#include "tests/codec_support.h"
#include "tests/e2e_util.h"
#include "tests/sandbox.h"

namespace {

constexpr int runs_at_once = 4;
constexpr int rounds = 20;
constexpr int backgrounds = 3;
constexpr int logos = 2;
// Large enough that writing and reading back an image takes a while.
constexpr size_t image_size = 60000;

struct Portal {
  std::string document;
  std::vector<std::string> images; // backgrounds, then logos, in document order
};

// One profile per image pair, every image of every run different.
Portal make_portal(std::mt19937 &random) {
  Portal portal;
  for (int i = 0; i < backgrounds + logos; ++i) {
    std::string bytes(image_size, '\0');
    for (char &byte : bytes)
      byte = static_cast<char>(random());
    portal.images.push_back(bytes);
  }
  std::string profiles;
  for (int i = 0; i < backgrounds; ++i) {
    profiles += "<portal-profile><name>p" + std::to_string(i) + "</name><portal-ux>";
    profiles += "<background><content>" + hex_text(portal.images[i]) + "</content></background>";
    if (i < logos)
      profiles +=
          "<logo><content>" + hex_text(portal.images[backgrounds + i]) + "</content></logo>";
    profiles += "</portal-ux></portal-profile>";
  }
  portal.document = with_namespaces("<config><portal-profiles xmlns=\"{cpp}\">" + profiles +
                                    "</portal-profiles></config>");
  return portal;
}

// The Base64 of each image in the order the document holds them.
std::vector<std::string> expected_contents(const Portal &portal) {
  std::vector<std::string> contents;
  for (int i = 0; i < backgrounds; ++i) {
    contents.push_back(reference_base64(portal.images[i]));
    if (i < logos)
      contents.push_back(reference_base64(portal.images[backgrounds + i]));
  }
  return contents;
}

std::vector<std::string> saved_contents(const std::string &saved) {
  std::vector<std::string> contents;
  const std::string open = "<content>", close = "</content>";
  for (size_t at = saved.find(open); at != std::string::npos; at = saved.find(open, at)) {
    at += open.size();
    size_t end = saved.find(close, at);
    if (end == std::string::npos)
      break;
    contents.push_back(saved.substr(at, end - at));
  }
  return contents;
}

TEST(ConcurrentRuns, EachRunGetsItsOwnImages) {
  REQUIRE_SANDBOX();
  Sandbox shared; // its /tmp is every run's /tmp
  std::vector<std::unique_ptr<Sandbox>> sandboxes;
  std::mt19937 random(20261205);
  std::vector<Portal> portals;
  for (int r = 0; r < runs_at_once; ++r) {
    sandboxes.push_back(std::make_unique<Sandbox>());
    portals.push_back(make_portal(random));
  }

  int correct = 0;
  for (int round = 0; round < rounds; ++round) {
    std::vector<SandboxResult> results(runs_at_once);
    std::vector<std::thread> threads;
    for (int r = 0; r < runs_at_once; ++r) {
      std::string in = sandboxes[r]->write("in.xml", portals[r].document);
      threads.emplace_back([&, r, in] {
        SandboxOptions options;
        options.args = {"v1.4.04", "v1.4.05", in, sandboxes[r]->path("out.xml")};
        options.tmp_dir = shared.path("tmp");
        results[r] = sandboxes[r]->run(options);
      });
    }
    for (std::thread &thread : threads)
      thread.join();
    for (int r = 0; r < runs_at_once; ++r) {
      SCOPED_TRACE("round " + std::to_string(round) + ", run " + std::to_string(r));
      EXPECT_EQ(results[r].status, 0);
      bool right = saved_contents(sandboxes[r]->read(sandboxes[r]->path("out.xml"))) ==
                   expected_contents(portals[r]);
      EXPECT_TRUE(right) << "a run saved images that are not its own";
      correct += right;
    }
  }
  printf("concurrent rounds %d, runs %d, outputs correct %d\n", rounds, rounds * runs_at_once,
         correct);
}

} // namespace
